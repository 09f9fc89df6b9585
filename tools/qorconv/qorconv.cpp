// qorconv: converts one frame of a file through the library's format layer,
// or prints what the layer knows about a file. A test tool, not a product.
//
//   qorconv [--size WxH] [--bits 8|15|16|24|32] [--dither 0|1|2]
//           INPUT OUTPUT [FRAME]
//   qorconv --info INPUT
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/Lifecycle.h"
#include "formats/ConForm.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "media/ImgBasic.h"
#include "media/SndBasic.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: qorconv [--size WxH] [--bits 8|15|16|24|32] "
               "[--dither 0|1|2] INPUT OUTPUT [FRAME]\n"
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

bool IsMovieOutput(const std::string& output) {
  const int32_t id = ConForm::GetFmtByExt(output, ConForm::kSaveTable);
  return id == ConForm::kFmtFLC || id == ConForm::kFmtKWB;
}

// Every frame of the source into a FLIC or KWB file, and the sound too when
// both have it.
void WriteAllFrames(ConForm::UniFile* uni, const ConForm::UniInfoRec& info,
                    const std::string& output, const FrameOptions& o) {
  ConForm::MviFile out;
  const double fps = info.picture.fps > 0 ? info.picture.fps : 25.0;
  const int32_t frames = std::max(1, info.picture.frameCount);
  ConForm::MviCreate(&out, output, fps, 1, frames);
  ImgBasic::Qimg image;
  SndBasic::SndRec sound;
  try {
    for (int32_t n = 1; n <= frames; n++) {
      ConForm::UniImgLoad(uni, &image, n, n > 1 ? 1 : 0);
      Prepare(&image, o);
      ConForm::MviImgSave(&out, &image);
    }
    if (info.sound.soundReadable && info.sound.sampleFrames > 0 &&
        ConForm::GetFmtByExt(output, ConForm::kSaveTable) == ConForm::kFmtKWB) {
      ConForm::UniSndLoad(uni, &sound, 0, info.sound.sampleFrames, 0);
      ConForm::MviSndSave(&out, &sound);
    }
  } catch (const Errors::EMon&) {
    ImgBasic::ImgFree(&image);
    SndBasic::SndFree(sound);
    // Close what was written and keep the failure for the caller.
    const int32_t cls = Errors::ErrClass(), code = Errors::ErrCode();
    try {
      ConForm::MviClose(&out);
    } catch (const Errors::EMon&) {
    }
    Basic::FDelete(output);
    Errors::ErrSet(cls, code, __LINE__);
    throw;
  }
  ImgBasic::ImgFree(&image);
  SndBasic::SndFree(sound);
  ConForm::MviClose(&out);
}

int Convert(const std::string& input, const std::string& output, long frame,
            bool frameGiven, const FrameOptions& options) {
  ConForm::UniInfoRec info;
  std::string error;
  if (!Describe(input, &info, &error)) {
    if (frame != 1) return Fail(error);
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
  if (info.kind != ConForm::kKindImage && frame > info.picture.frameCount)
    return Fail(Errors::ErrText(Errors::kClsGeneral, 1));
  ConForm::UniFile uni;
  ImgBasic::Qimg image;
  try {
    ConForm::UniOpen(&uni, &info);
    if (!frameGiven && IsMovieOutput(output)) {
      WriteAllFrames(&uni, info, output, options);
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
