// qorconv: converts a file, or one frame of it, or prints what the library
// knows about a file. A test tool, not a product: it goes through the shared
// library's C interface only, so what it shows is what a host gets.
//
//   qorconv [--size WxH] [--nearest] [--bits 8|15|16|24|32] [--dither 0|1|2]
//           [--quality 0..100] [--level 0..9] [--compression TAG]
//           [--keep-frames] INPUT OUTPUT [FRAME]
//   qorconv --info INPUT
//   qorconv --help
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "qor.h"

namespace {

// What a file is: one picture, a numbered sequence of them, or a stream.
enum : int32_t { kKindNone = 0, kKindImage = 1, kKindSequence = 2, kKindStream = 3 };

// Library error pairs the tool reports itself, in the library's words: a
// frame number outside the file, and a stream the file does not hold.
constexpr QorLastError kOutOfRange{1000, 4, 1};
constexpr QorLastError kNothingReadable{1000, 12, 5};

constexpr const char* kUsage =
    "usage: qorconv [--size WxH] [--nearest] [--bits 8|15|16|24|32] [--dither 0|1|2]\n"
    "               [--quality 0..100] [--level 0..9] [--compression TAG]\n"
    "               [--keep-frames] INPUT OUTPUT [FRAME]\n"
    "       qorconv --info INPUT\n"
    "       qorconv --help\n";

constexpr const char* kHelp =
    "\n"
    "Converts INPUT into OUTPUT, whose extension names the format; with FRAME\n"
    "(counted from 1) only that frame. A movie or animation output takes every\n"
    "frame, and the sound where the output holds it; a sound output the sound.\n"
    "\n"
    "  --size WxH        resize, smoothly (averaging or interpolating pixels)\n"
    "  --nearest         resize to the nearest pixels instead\n"
    "  --bits N          output depth; 8 makes an optimised palette\n"
    "  --dither 0|1|2    dithering of an 8-bit output: none, light, heavy\n"
    "  --quality 0..100  JPEG quality\n"
    "  --level 0..9      PNG compression level\n"
    "  --compression TAG TIFF compression tag\n"
    "  --keep-frames     write each source frame once; by default a movie keeps\n"
    "                    its duration: frames are repeated or dropped to fill the\n"
    "                    output's frame rate, so sound and pictures stay in step\n"
    "  --info INPUT      print what the library knows about INPUT\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 1;
}

int Help() {
  std::fputs(kUsage, stdout);
  std::fputs(kHelp, stdout);
  return 0;
}

std::string ErrorText(const QorLastError& rec) {
  // The interface copies the whole text: room for any message a codec
  // library may have given.
  std::vector<char> text(65536, '\0');
  QorMakeErrorStr(&rec, text.data());
  return text.data();
}

QorLastError LastError() {
  QorLastError rec{};
  QorGetLastError(&rec);
  return rec;
}

bool LastCallFailed() { return LastError().code != 0; }

int Fail(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  return 1;
}

int FailWithLastError() { return Fail(ErrorText(LastError())); }

bool ParseInt(const char* text, long low, long high, long* out) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (!*text || *end || v < low || v > high) return false;
  *out = v;
  return true;
}

int32_t FormatOf(const std::string& name) { return QorGetFileFmtID(name.c_str()); }

// The kind the library gives a format holding that many frames.
int32_t KindOf(int32_t format, int32_t frames) {
  switch (format) {
    case QOR_FMT_FLC: case QOR_FMT_AVI: case QOR_FMT_KWB: case QOR_FMT_MPEG:
    case QOR_FMT_WAV: case QOR_FMT_MPA: case QOR_FMT_OGG:
      return kKindStream;
    case QOR_FMT_GIF:
      return frames >= 2 ? kKindStream : kKindImage;
    default:
      if (format < 1) return kKindNone;
      return frames >= 2 ? kKindSequence : kKindImage;
  }
}

// A file, or the numbered sequence it starts; false with the library's
// error pending when no reader accepts it.
bool Describe(const std::string& name, QorFileInfo* info) {
  QorGetFileInfo(name.c_str(), 1, info, nullptr, nullptr);
  return !LastCallFailed();
}

// The library answers "File not exist." for a file no reader takes as for
// a missing one (its callers rely on that pair); the tool tells them apart.
int FailToDescribe(const std::string& name) {
  const QorLastError rec = LastError();
  const bool unrecognised = rec.errClass == 6 && rec.errNum == 9 && access(name.c_str(), F_OK) == 0;
  return Fail(name + ": " + (unrecognised ? "no reader takes this file (" + ErrorText(rec) + ")"
                                          : ErrorText(rec)));
}

int Info(const std::string& name) {
  QorFileInfo info{};
  if (!Describe(name, &info)) return FailToDescribe(name);
  const int32_t format = FormatOf(name);
  auto on = [](QorBool b) { return b != 0 ? 1 : 0; };
  std::printf("format=%d\n", format);
  std::printf("kind=%d\n", KindOf(format, info.frameCount));
  std::printf("file_size=%.0f\n", info.totalSize);
  std::printf("width=%d\n", info.width);
  std::printf("height=%d\n", info.height);
  std::printf("bits=%d\n", info.bitsPerPixel);
  std::printf("frames=%d\n", info.frameCount);
  std::printf("fps=%g\n", info.fps);
  std::printf("compression=%s\n", info.videoCompression);
  std::printf("readable=%d\n", on(info.picturesReadable));
  std::printf("samples=%d\n", info.sampleFrames);
  std::printf("rate=%g\n", info.sampleRate);
  std::printf("channels=%d\n", info.channels);
  std::printf("sample_bits=%d\n", info.bitsPerSample);
  return 0;
}

// What the command line asks of a conversion.
struct Options {
  long width = 0, height = 0, bits = 0, dither = 0;
  long quality = -1, level = -1, compression = -1;
  bool nearest = false;     // nearest pixels instead of smooth resampling
  bool keepFrames = false;  // each frame once, not the source's duration
};

bool IsMovieFormat(int32_t id) {
  return id == QOR_FMT_FLC || id == QOR_FMT_KWB || id == QOR_FMT_MPEG || id == QOR_FMT_AVI;
}

bool IsSoundFormat(int32_t id) { return id == QOR_FMT_WAV || id == QOR_FMT_MPA || id == QOR_FMT_OGG; }

// The one codec value a still writer takes from QorImgSaveSingle.
int32_t StillCodec(int32_t format, const Options& o) {
  const long value = format == QOR_FMT_JPEG ? o.quality
                     : format == QOR_FMT_PNG ? o.level
                     : format == QOR_FMT_TIFF ? o.compression
                                          : -1;
  return value >= 0 ? static_cast<int32_t>(value) : K_AUTO;
}

// The same value set on a conversion's handle for its output format.
void SetWriterOptions(QorHandle conv, int32_t format, const Options& o) {
  const int32_t value = StillCodec(format, o);
  if (value == K_AUTO) return;
  if (format == QOR_FMT_JPEG)
    QorSetQuality(conv, format, value);
  else
    QorSetCodec(conv, format, value);
}

// ---- conversions -------------------------------------------------------------

// What the source callbacks hand the running conversion: a file (all of it,
// or a run of its frames), or an image already in memory.
struct Source {
  std::string file;
  int32_t firstFrame = 1;  // counted from 1
  int32_t frameCount = 0;  // 0: every frame
  QorHandle image = nullptr;
  long width = 0, height = 0;  // of --nearest's resizing
};

Source g_source;

void QOR_CALL VideoSource(QorHandle conv, int32_t blockNum) {
  if (blockNum > 0) return;  // one block: the stream then ends
  if (g_source.image) {
    QorSrcSetImg(conv, g_source.image);
    return;
  }
  QorSrcSetFile(conv, g_source.file.c_str());
  if (g_source.frameCount > 0) {
    QorSrcSetStart(conv, g_source.firstFrame - 1);
    QorSrcSetLen(conv, g_source.frameCount);
  }
}

void QOR_CALL AudioSource(QorHandle conv, int32_t blockNum) {
  if (blockNum == 0) QorSrcSetFile(conv, g_source.file.c_str());
}

// Sizes each frame to the nearest pixels, as --nearest asks.
void QOR_CALL ResizeFrame(QorHandle, QorHandle image, int32_t) {
  QorImgResize(image, static_cast<int32_t>(g_source.width),
               static_cast<int32_t>(g_source.height));
}

struct Streams {
  bool pictures = false, sound = false;
};

// Runs one conversion into output; the outputs of a failed one are removed
// by the library. Returns the exit code.
int RunConversion(const std::string& output, const Streams& streams, const Options& o,
                  const QorFileInfo& info) {
  QorHandle conv = QorAlloc();
  if (!conv) return FailWithLastError();
  const char* name = output.c_str();
  QorSetOutputFile(conv, streams.pictures ? name : "", streams.sound ? name : "");
  QorSetFrameRate(conv, info.fps > 0 ? info.fps : 25.0);
  // The library fills an output whose rate differs from the source's (MPEG
  // has only standard rates) by repeating or dropping frames; without that
  // the pictures would run short or long of the sound.
  QorSetKeepDuration(conv, o.keepFrames ? 0 : 1);
  // Frames keep their depth unless --bits asks for another; a depth the
  // interface does not take is ignored and leaves the default.
  QorSetBpp(conv, o.bits > 0 ? static_cast<int32_t>(o.bits) : info.bitsPerPixel);
  QorSetDithering(conv, static_cast<int32_t>(o.dither));
  SetWriterOptions(conv, FormatOf(output), o);
  // The sound keeps its layout; the writers of MPEG and Ogg take their own.
  if (info.sampleRate > 0 && info.channels > 0 && info.bitsPerSample > 0)
    QorSetAudioFormat(conv, static_cast<int32_t>(info.sampleRate), info.channels,
                      info.bitsPerSample);
  if (streams.pictures) QorAssignVideoSource(conv, VideoSource);
  if (streams.sound) QorAssignAudioSource(conv, AudioSource);
  if (streams.pictures && o.width > 0) {
    if (o.nearest)
      QorAssignVideoFunc(conv, ResizeFrame);
    else
      QorSetResolution(conv, static_cast<int32_t>(o.width), static_cast<int32_t>(o.height));
  }
  const int32_t status = QorConvert(conv);
  const QorLastError outcome = LastError();
  QorFree(conv);
  return status == 0 ? 0 : Fail(ErrorText(outcome));
}

// Every frame of the source into a movie or animation file (FLIC, KWB,
// MPEG, AVI with the current codec), and the sound too where the output
// holds it and the whole source goes; or only the sound into a sound file.
int ConvertStream(const std::string& input, const std::string& output, const Options& o,
                  const QorFileInfo& info, long frame, bool frameGiven) {
  const int32_t format = FormatOf(output);
  Streams streams;
  streams.pictures = !IsSoundFormat(format);
  const bool hasSound = info.soundReadable != 0 && info.sampleFrames > 0;
  const bool whole = !frameGiven || (frame == 1 && info.frameCount <= 1);
  streams.sound = !streams.pictures || (whole && format != QOR_FMT_FLC && hasSound);
  g_source = Source{};
  g_source.file = input;
  if (frameGiven) {
    g_source.firstFrame = static_cast<int32_t>(frame);
    g_source.frameCount = 1;
  }
  g_source.width = o.width;
  g_source.height = o.height;
  return RunConversion(output, streams, o, info);
}

// One frame of the input into image; the frame-access file reaches the
// frames of a numbered sequence, which a single file's load does not look
// for. Returns the outcome of the load.
QorLastError LoadFrame(QorHandle image, const std::string& input, int32_t kind, long frame) {
  const int32_t n = static_cast<int32_t>(frame);
  if (kind != kKindSequence) {
    QorImgLoadSingle(image, input.c_str(), n);
    return LastError();
  }
  QorFileInfo info{};
  QorHandle file = QorFileOpen(input.c_str(), 1, &info, nullptr, nullptr);
  if (!file) return LastError();
  QorImgLoad(image, file, n - 1);
  // Taken before the close, which leaves its own outcome.
  const QorLastError outcome = LastError();
  QorFileClose(file);
  return outcome;
}

// A new depth goes through a one-frame conversion: its depth setting is the
// interface's way to an optimised palette with dithering.
int SaveWithDepth(QorHandle image, const std::string& output, const Options& o) {
  g_source = Source{};
  g_source.image = image;
  Streams streams;
  streams.pictures = true;
  Options depth = o;
  depth.width = 0;  // already sized
  return RunConversion(output, streams, depth, QorFileInfo{});
}

// Loads, sizes and saves one frame.
int ConvertStill(const std::string& input, const std::string& output, const Options& o,
                 int32_t kind, long frame) {
  QorHandle image = QorImgAlloc();
  if (!image) return FailWithLastError();
  QorLastError outcome = LoadFrame(image, input, kind, frame);
  if (outcome.code == 0 && o.width > 0) {
    const auto resize = o.nearest ? QorImgResize : QorImgResample;
    resize(image, static_cast<int32_t>(o.width), static_cast<int32_t>(o.height));
    outcome = LastError();
  }
  int code = 0;
  if (outcome.code != 0) {
    code = Fail(ErrorText(outcome));
  } else if (o.bits > 0) {
    code = SaveWithDepth(image, output, o);
  } else if (QorImgSaveSingle(image, output.c_str(), StillCodec(FormatOf(output), o)) != 0) {
    code = FailWithLastError();
  }
  QorImgFree(image);
  return code;
}

int Convert(const std::string& input, const std::string& output, long frame,
            bool frameGiven, const Options& o) {
  QorFileInfo info{};
  if (!Describe(input, &info)) return FailToDescribe(input);
  const int32_t format = FormatOf(output);
  const bool stream = IsMovieFormat(format) || IsSoundFormat(format);
  if (!IsSoundFormat(format) && frame > std::max(1, info.frameCount))
    return Fail(ErrorText(kOutOfRange));
  // A conversion finds no sound in such a source and writes nothing.
  if (IsSoundFormat(format) && !(info.soundReadable != 0 && info.sampleFrames > 0))
    return Fail(ErrorText(kNothingReadable));
  if (stream) return ConvertStream(input, output, o, info, frame, frameGiven);
  return ConvertStill(input, output, o, KindOf(FormatOf(input), info.frameCount), frame);
}

int Run(int argc, char** argv) {
  Options o;
  int i = 1;
  for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; i++) {
    const std::string opt = argv[i];
    if (opt == "--help") return Help();
    if (opt == "--nearest" || opt == "--keep-frames") {
      (opt == "--nearest" ? o.nearest : o.keepFrames) = true;
      continue;
    }
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
      if (!ParseInt(w.c_str(), 1, INT32_MAX, &o.width) ||
          !ParseInt(x + 1, 1, INT32_MAX, &o.height))
        return Usage();
    } else if (opt == "--bits") {
      if (!ParseInt(value, 8, 32, &o.bits) ||
          (o.bits != 8 && o.bits != 15 && o.bits != 16 && o.bits != 24 && o.bits != 32))
        return Usage();
    } else if (opt == "--dither") {
      if (!ParseInt(value, 0, 2, &o.dither)) return Usage();
    } else if (opt == "--quality") {
      if (!ParseInt(value, 0, 100, &o.quality)) return Usage();
    } else if (opt == "--level") {
      if (!ParseInt(value, 0, 9, &o.level)) return Usage();
    } else if (opt == "--compression") {
      if (!ParseInt(value, 1, 65535, &o.compression)) return Usage();
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

int main(int argc, char** argv) { return Run(argc, argv); }
