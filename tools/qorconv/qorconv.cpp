// qorconv: converts one frame of a file through the library's format layer,
// or prints what the layer knows about a file. A test tool, not a product.
//
//   qorconv [--size WxH] [--bits 8|15|16|24|32] [--dither 0|1|2]
//           [--quality 0..100] [--level 0..9] [--compression TAG]
//           INPUT OUTPUT [FRAME]
//   qorconv --info INPUT
//
// --quality, --level and --compression set the JPEG quality, the PNG
// compression level and the TIFF compression tag of the writers.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/Lifecycle.h"
#include "formats/ConForm.h"
#include "formats/FF_JPG.h"
#include "formats/FF_MPG.h"
#include "formats/FF_OGG.h"
#include "formats/FF_PNG.h"
#include "formats/FF_TIF.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "media/ImgBasic.h"
#include "media/SndBasic.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: qorconv [--size WxH] [--bits 8|15|16|24|32] "
               "[--dither 0|1|2]\n"
               "               [--quality 0..100] [--level 0..9] "
               "[--compression TAG] INPUT OUTPUT [FRAME]\n"
               "       qorconv --info INPUT\n");
  return 1;
}

int Fail(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  return 1;
}

// The library's text for the pending error, or for the given pair.
std::string LibraryError() {
  if (!Errors::ErrNone()) return Errors::ErrLastText();
  if (!Errors::WarnNone()) return Errors::WarnText();
  return "Unknown error.";
}

bool ParseInt(const char* text, long low, long high, long* out) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (!*text || *end || v < low || v > high) return false;
  *out = v;
  return true;
}

// Describes a file; false (with the library's error text in *error) when no
// reader accepts it.
bool Describe(const std::string& name, ConForm::UniInfoRec* info,
              std::string* error) {
  if (ConForm::UniInfo(name, info, INT32_MAX, nullptr, nullptr, false))
    return true;
  // The source layer keeps only a warning; ask the extension's reader again
  // for the reason.
  ConForm::FFInfoRec fi;
  try {
    ConForm::FFInfo(name, Basic::K_AUTO, &fi, nullptr, nullptr);
  } catch (const Errors::EMon&) {
  }
  *error = LibraryError();
  return false;
}

int Info(const std::string& name) {
  ConForm::UniInfoRec info;
  std::string error;
  if (!Describe(name, &info, &error)) return Fail(error);
  std::printf("format=%d\n", info.format);
  std::printf("kind=%d\n", info.kind);
  std::printf("file_size=%.0f\n", info.totalSize);
  std::printf("width=%d\n", info.picture.width);
  std::printf("height=%d\n", info.picture.height);
  std::printf("bits=%d\n", info.picture.bitsPerPixel);
  std::printf("frames=%d\n", info.picture.frameCount);
  std::printf("fps=%g\n", info.picture.fps);
  std::printf("compression=%s\n", info.picture.videoCompression.c_str());
  std::printf("readable=%d\n", info.picture.picturesReadable ? 1 : 0);
  std::printf("samples=%d\n", info.sound.sampleFrames);
  std::printf("rate=%g\n", info.sound.sampleRate);
  std::printf("channels=%d\n", info.sound.channels);
  std::printf("sample_bits=%d\n", info.sound.bitsPerSample);
  return 0;
}

// Size and depth changes asked for on the command line, applied per frame.
struct FrameOptions {
  long width = 0, height = 0, bits = 0, dither = 0;
};

void Prepare(ImgBasic::Qimg* image, const FrameOptions& o) {
  if (o.width > 0)
    ImgBasic::ImgResize(image, image, static_cast<int32_t>(o.width),
                        static_cast<int32_t>(o.height));
  if (o.bits > 0 && o.bits != image->bitsPerPixel) {
    const int32_t mode = o.dither == 1   ? ImgBasic::kConvPaletteLight
                         : o.dither == 2 ? ImgBasic::kConvPaletteHeavy
                                         : ImgBasic::kConvPalette;
    ImgBasic::ImgConvBppEx(image, image, static_cast<int32_t>(o.bits), mode);
  }
}

int32_t OutputFormat(const std::string& output) {
  return ConForm::GetFmtByExt(output, ConForm::kSaveTable);
}

bool IsMovieOutput(const std::string& output) {
  const int32_t id = OutputFormat(output);
  return id == ConForm::kFmtFLC || id == ConForm::kFmtKWB || id == ConForm::kFmtMPEG ||
         id == ConForm::kFmtAVI;
}

bool IsSoundOutput(const std::string& output) {
  const int32_t id = OutputFormat(output);
  return id == ConForm::kFmtWAV || id == ConForm::kFmtMPA || id == ConForm::kFmtOGG;
}

// The sound format an output takes: MPEG and Ogg want their own PCM
// layouts, the others take the source's.
bool SoundFormatFor(int32_t id, const SndBasic::WaveFormatEx& source,
                    SndBasic::WaveFormatEx* format) {
  *format = source;
  if (id == ConForm::kFmtMPEG || id == ConForm::kFmtMPA)
    return FF_MPG::MpgSndFormat(source, format, id == ConForm::kFmtMPEG);
  if (id == ConForm::kFmtOGG) {
    FF_OGG::OggSndFormat(source, format);
    return SndBasic::WaveFormatValidate(*format);
  }
  return true;
}

// Copies the whole sound of the source into an output, block by block,
// converting each block to the output's format.
void WriteSound(ConForm::UniFile* uni, const ConForm::UniInfoRec& info, ConForm::MviFile* out,
                int32_t id) {
  constexpr int32_t kBlock = 32768;
  SndBasic::SndRec block, converted;
  try {
    for (int32_t start = 0; start < info.sound.sampleFrames; start += kBlock) {
      ConForm::UniSndLoad(uni, &block, start, kBlock, start > 0 ? 1 : 0);
      if (block.frames <= 0) break;
      SndBasic::WaveFormatEx format;
      if (!SoundFormatFor(id, block.format, &format)) {
        Errors::ErrSet(Errors::kClsAudio, 4, __LINE__);
        break;
      }
      if (SndBasic::WaveFormatDiffers(block.format, format)) {
        SndBasic::SndConvert(block, converted, format);
        ConForm::MviSndSave(out, &converted);
      } else {
        ConForm::MviSndSave(out, &block);
      }
    }
  } catch (const Errors::EMon&) {
    SndBasic::SndFree(block);
    SndBasic::SndFree(converted);
    throw;
  }
  SndBasic::SndFree(block);
  SndBasic::SndFree(converted);
}

// Every frame of the source into a movie or animation file (FLIC, KWB,
// MPEG, AVI with the current codec), and the sound too where the output
// holds it; or only the sound into a sound file.
void WriteStream(ConForm::UniFile* uni, const ConForm::UniInfoRec& info,
                 const std::string& output, const FrameOptions& o, int32_t first,
                 int32_t last) {
  const int32_t id = OutputFormat(output);
  const bool pictures = !IsSoundOutput(output);
  ConForm::MviFile out;
  double fps = info.picture.fps > 0 ? info.picture.fps : 25.0;
  if (id == ConForm::kFmtMPEG) fps = FF_MPG::MpgStdFrameRate(fps);
  ImgBasic::Qimg image;
  try {
    ConForm::MviCreate(&out, output, fps, 1, pictures ? last - first + 1 : 0);
    if (pictures) {
      for (int32_t n = first; n <= last; n++) {
        ConForm::UniImgLoad(uni, &image, n, n > first ? 1 : 0);
        Prepare(&image, o);
        ConForm::MviImgSave(&out, &image);
      }
    }
    // The sound goes along when the whole source is written.
    const bool whole = first == 1 && last == std::max(1, info.picture.frameCount);
    const bool takesSound =
        !pictures || (whole && (id == ConForm::kFmtKWB || id == ConForm::kFmtMPEG ||
                                id == ConForm::kFmtAVI));
    // A sound output of a source without sound is a failure, which the
    // source layer names.
    if (!pictures && !(info.sound.soundReadable && info.sound.sampleFrames > 0)) {
      SndBasic::SndRec none;
      ConForm::UniSndLoad(uni, &none, 0, 1, 0);
      SndBasic::SndFree(none);
      Errors::ErrSet(Errors::kClsMovie, 5, __LINE__);
    }
    if (takesSound && info.sound.soundReadable && info.sound.sampleFrames > 0)
      WriteSound(uni, info, &out, id);
  } catch (const Errors::EMon&) {
    // Keep the failure for the caller (freeing and closing pass through
    // monitor frames, which clear it), then close what was written and
    // remove it.
    const int32_t cls = Errors::ErrClass(), code = Errors::ErrCode();
    ImgBasic::ImgFree(&image);
    try {
      ConForm::MviClose(&out);
    } catch (const Errors::EMon&) {
    }
    Basic::FDelete(output);
    Errors::ErrSet(cls, code, __LINE__);
    throw;
  }
  ImgBasic::ImgFree(&image);
  ConForm::MviClose(&out);
}

int Convert(const std::string& input, const std::string& output, long frame,
            bool frameGiven, const FrameOptions& options) {
  ConForm::UniInfoRec info;
  std::string error;
  if (!Describe(input, &info, &error)) {
    if (frame != 1 || IsSoundOutput(output)) return Fail(error);
    // Not recognised as a source: let the still reader say why.
    info = ConForm::UniInfoRec{};
    info.kind = ConForm::kKindImage;
    info.format = Basic::K_AUTO;
    info.name = input;
    info.picture.picturesReadable = true;
  }
  // A still the description found unreadable is still handed to its
  // reader, which says why it cannot read it.
  if (info.kind == ConForm::kKindImage) info.picture.picturesReadable = true;
  if (!IsSoundOutput(output) && frame > std::max(1, info.picture.frameCount))
    return Fail(Errors::ErrText(Errors::kClsGeneral, 1));
  ConForm::UniFile uni;
  ImgBasic::Qimg image;
  try {
    ConForm::UniOpen(&uni, &info);
    if (IsSoundOutput(output) || IsMovieOutput(output)) {
      // Without a frame number every frame goes; with one, that frame alone.
      const int32_t all = std::max(1, info.picture.frameCount);
      const int32_t n = static_cast<int32_t>(frame);
      WriteStream(&uni, info, output, options, frameGiven ? n : 1, frameGiven ? n : all);
    } else {
      ConForm::UniImgLoad(&uni, &image, static_cast<int32_t>(frame), 0);
      Prepare(&image, options);
      ConForm::ImgSave(output, &image, Basic::K_AUTO);
    }
    ConForm::UniClose(&uni);
  } catch (const Errors::EMon&) {
    const std::string text = LibraryError();
    try {
      ConForm::UniClose(&uni);
    } catch (const Errors::EMon&) {
    }
    ImgBasic::ImgFree(&image);
    return Fail(text);
  }
  ImgBasic::ImgFree(&image);
  return 0;
}

int Run(int argc, char** argv) {
  FrameOptions o;
  long& width = o.width;
  long& height = o.height;
  long& bits = o.bits;
  long& dither = o.dither;
  int i = 1;
  for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; i++) {
    const std::string opt = argv[i];
    if (opt == "--info") {
      if (i + 2 != argc) return Usage();
      return Info(argv[i + 1]);
    }
    if (i + 1 >= argc) return Usage();
    const char* value = argv[++i];
    if (opt == "--size") {
      const char* x = std::strchr(value, 'x');
      if (!x) return Usage();
      const std::string w(value, x);
      if (!ParseInt(w.c_str(), 1, INT32_MAX, &width) ||
          !ParseInt(x + 1, 1, INT32_MAX, &height))
        return Usage();
    } else if (opt == "--bits") {
      if (!ParseInt(value, 8, 32, &bits) ||
          (bits != 8 && bits != 15 && bits != 16 && bits != 24 && bits != 32))
        return Usage();
    } else if (opt == "--dither") {
      if (!ParseInt(value, 0, 2, &dither)) return Usage();
    } else if (opt == "--quality") {
      long q = 0;
      if (!ParseInt(value, 0, 100, &q)) return Usage();
      FF_JPG::JPGQuality(static_cast<int32_t>(q));
    } else if (opt == "--level") {
      long l = 0;
      if (!ParseInt(value, 0, 9, &l)) return Usage();
      FF_PNG::PNGLevel(static_cast<int32_t>(l));
    } else if (opt == "--compression") {
      long c = 0;
      if (!ParseInt(value, 1, 65535, &c)) return Usage();
      FF_TIF::TIFSetCompression(static_cast<int32_t>(c));
    } else {
      return Usage();
    }
  }
  const int left = argc - i;
  if (left != 2 && left != 3) return Usage();
  long frame = 1;
  if (left == 3 && !ParseInt(argv[i + 2], 1, INT32_MAX, &frame)) return Usage();
  return Convert(argv[i], argv[i + 1], frame, left == 3, o);
}

}  // namespace

int main(int argc, char** argv) {
  Lifecycle::LibraryStart();
  const int rc = Run(argc, argv);
  Lifecycle::LibraryStop();
  return rc;
}
