// qor_bench: runs one library operation on files and prints how long the
// operation itself took. scripts/bench.sh drives it beside the peer tools
// and measures whole processes around it; this program only adds the
// in-process figure (load and save excluded) and makes the inputs.
//
//   qor_bench gen W H OUT.ppm                 synthetic picture
//   qor_bench frames IN.ppm DIR N W H         N sliding crops DIR/fNNN.ppm
//   qor_bench movie IN.avi OUT.mpg            QorConvert of a movie to VCD
//   qor_bench OP IN OUT [ARGS]                one operation (see Run below)
//
// Inputs and outputs go through the library's readers and writers by
// extension; ".raw" is bare pixels (input: IN.raw:WxHxBITS).
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/Lifecycle.h"
#include "formats/ConForm.h"
#include "formats/FF_FLC.h"
#include "formats/FF_GIF.h"
#include "formats/FF_JPG.h"
#include "formats/FF_PNG.h"
#include "formats/FF_TIF.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "media/ImgBasic.h"
#include "media/Impress.h"
#include "media/PalOpt.h"
#include "qor.h"

using ImgBasic::Qimg;

namespace {

double NowMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch())
      .count();
}

std::string Ext(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return "";
  std::string e = name.substr(dot + 1);
  const size_t colon = e.find(':');
  if (colon != std::string::npos) e.resize(colon);
  return e;
}

[[noreturn]] void Die(const std::string& what) {
  std::string text = what;
  if (!Errors::ErrNone()) text += ": " + Errors::ErrLastText();
  std::fprintf(stderr, "qor_bench: %s\n", text.c_str());
  std::exit(2);
}

void LoadRaw(const std::string& source, Qimg* image) {
  const size_t colon = source.rfind(':');
  int w = 0, h = 0, bits = 0;
  if (colon == std::string::npos ||
      std::sscanf(source.c_str() + colon + 1, "%dx%dx%d", &w, &h, &bits) != 3)
    Die("raw input needs NAME.raw:WxHxBITS");
  ImgBasic::_imgalloc_(image, w, h, "qor_bench.raw", __LINE__, bits);
  FILE* f = std::fopen(source.substr(0, colon).c_str(), "rb");
  if (!f) Die("cannot open " + source);
  const size_t bytes = static_cast<size_t>(w) * h * image->bytesPerPixel;
  if (std::fread(image->data, 1, bytes, f) != bytes) Die("short raw file");
  std::fclose(f);
}

void Load(const std::string& name, Qimg* image) {
  const std::string e = Ext(name);
  try {
    if (e == "raw") {
      LoadRaw(name, image);
    } else if (e == "png") {
      FF_PNG::PNGLoad(name, image);
    } else if (e == "jpg") {
      FF_JPG::JPGLoad(name, image);
    } else if (e == "tif") {
      FF_TIF::TIFLoad(name, image);
    } else if (e == "gif") {
      FF_GIF::GifFile gif;
      FF_GIF::GIFOpen(&gif, name, true);
      FF_GIF::GIFLoadNext(&gif, image, nullptr);
      FF_GIF::GIFClose(&gif);
    } else if (e == "flc") {
      FF_FLC::FlcFile flc;
      FF_FLC::FLCOpen(&flc, name);
      FF_FLC::FLCLoadNext(&flc, image, false);
      FF_FLC::FLCClose(&flc);
    } else {
      ConForm::ImgLoad(name, image, Basic::K_AUTO, nullptr);
    }
  } catch (const Errors::EMon&) {
    Die("cannot load " + name);
  }
}

void Save(const std::string& name, Qimg* image) {
  const std::string e = Ext(name);
  try {
    if (e == "raw") {
      FILE* f = std::fopen(name.c_str(), "wb");
      if (!f) Die("cannot create " + name);
      const size_t bytes = static_cast<size_t>(image->width) * image->height *
                           image->bytesPerPixel;
      std::fwrite(image->data, 1, bytes, f);
      std::fclose(f);
    } else if (e == "png") {
      FF_PNG::PNGSave(name, image);
    } else if (e == "jpg") {
      FF_JPG::JPGSave(name, image);
    } else if (e == "tif") {
      FF_TIF::TIFSave(name, image);
    } else if (e == "flc") {
      FF_FLC::FlcFile flc;
      FF_FLC::FLCCreate(&flc, name, 25);
      FF_FLC::FLCSave(&flc, image);
      FF_FLC::FLCClose(&flc);
    } else {
      ConForm::ImgSave(name, image, Basic::K_AUTO);
    }
  } catch (const Errors::EMon&) {
    Die("cannot save " + name);
  }
}

// Runs the body QOR_BENCH_OP_REPS times (default 1) and prints the best
// time. The variable is the driver's own: QOR_BENCH_REPS repeats whole
// processes, each of which must do the operation once, as the peers do.
void Timed(const std::function<void()>& body) {
  const char* env = std::getenv("QOR_BENCH_OP_REPS");
  const int reps = env ? std::max(1, std::atoi(env)) : 1;
  double best = 1e300;
  for (int i = 0; i < reps; i++) {
    const double t0 = NowMs();
    try {
      body();
    } catch (const Errors::EMon&) {
      Die("operation failed");
    }
    best = std::min(best, NowMs() - t0);
  }
  std::printf("op_ms=%.3f\n", best);
}

// A picture with smooth gradients, hard-edged shapes and a little noise, so
// that colour counting, filters and codecs meet both flat and busy areas.
int Generate(int w, int h, const std::string& out) {
  FILE* f = std::fopen(out.c_str(), "wb");
  if (!f) Die("cannot create " + out);
  std::fprintf(f, "P6\n%d %d\n255\n", w, h);
  std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
  uint32_t seed = 12345;
  for (int y = 0; y < h; y++) {
    for (int x = 0; x < w; x++) {
      seed = seed * 1664525u + 1013904223u;
      const int noise = static_cast<int>((seed >> 24) & 15) - 8;
      int r = x * 255 / w, g = y * 255 / h, b = (x + y) * 255 / (w + h);
      const int cx = x * 8 / w, cy = y * 8 / h;
      if (((cx + cy) & 3) == 0) {
        r = 255 - r;
        b = 200;
      }
      const double dx = x - w * 0.6, dy = y - h * 0.4;
      if (dx * dx + dy * dy < (h * 0.2) * (h * 0.2)) {
        r = 230;
        g = 40;
        b = 40;
      }
      uint8_t* p = &row[static_cast<size_t>(x) * 3];
      p[0] = static_cast<uint8_t>(std::clamp(r + noise, 0, 255));
      p[1] = static_cast<uint8_t>(std::clamp(g + noise, 0, 255));
      p[2] = static_cast<uint8_t>(std::clamp(b + noise, 0, 255));
    }
    std::fwrite(row.data(), 1, row.size(), f);
  }
  std::fclose(f);
  return 0;
}

// N crops of W×H sliding over the source: the frames of a pan.
int Frames(const std::string& in, const std::string& dir, int n, int w,
           int h) {
  Qimg src;
  Load(in, &src);
  if (src.width < w || src.height < h) Die("source smaller than the frames");
  for (int i = 0; i < n; i++) {
    Qimg crop;
    const int x = static_cast<int>(static_cast<int64_t>(src.width - w) * i / n);
    const int y = static_cast<int>(static_cast<int64_t>(src.height - h) * i / n);
    try {
      ImgBasic::ImgCrop(&src, &crop, x, y, w, h);
    } catch (const Errors::EMon&) {
      Die("crop failed");
    }
    char name[64];
    std::snprintf(name, sizeof name, "/f%03d.ppm", i);
    Save(dir + name, &crop);
    ImgBasic::ImgFree(&crop);
  }
  ImgBasic::ImgFree(&src);
  return 0;
}

int32_t DitherMode(const std::string& m) {
  if (m == "none") return PalOpt::kDitherNone;
  if (m == "light") return PalOpt::kDitherLight;
  if (m == "heavy") return PalOpt::kDitherHeavy;
  Die("dither must be none, light or heavy");
}

int32_t ConvMode(const std::string& m) {
  if (m == "none") return ImgBasic::kConvPalette;
  if (m == "light") return ImgBasic::kConvPaletteLight;
  if (m == "heavy") return ImgBasic::kConvPaletteHeavy;
  Die("dither must be none, light or heavy");
}

// One palette for N frames: count every frame, reduce once, remap each.
int PalFrames(const std::string& dir, int n, const std::string& mode,
              const std::string& outDir) {
  std::vector<Qimg> frames(static_cast<size_t>(n));
  for (int i = 0; i < n; i++) {
    char name[64];
    std::snprintf(name, sizeof name, "/f%03d.ppm", i);
    Load(dir + name, &frames[static_cast<size_t>(i)]);
  }
  std::vector<Qimg> out(static_cast<size_t>(n));
  Timed([&] {
    PalOpt::PalInit();
    for (auto& f : frames) PalOpt::PalCountColors(&f);
    PalOpt::PalReduce(256);
    for (int i = 0; i < n; i++)
      PalOpt::PalRemap(&frames[static_cast<size_t>(i)],
                       &out[static_cast<size_t>(i)], DitherMode(mode));
    PalOpt::PalDone();
  });
  for (int i = 0; i < n; i++) {
    char name[64];
    std::snprintf(name, sizeof name, "/o%03d.bmp", i);
    Save(outDir + name, &out[static_cast<size_t>(i)]);
    ImgBasic::ImgFree(&out[static_cast<size_t>(i)]);
    ImgBasic::ImgFree(&frames[static_cast<size_t>(i)]);
  }
  return 0;
}

// A movie with sound converted to MPEG-1 VCD through the exported
// interface, as a host runs it: the file named as the only video and audio
// block, one output holding both streams.
std::string g_movieSource;

void QOR_CALL MovieSource(QorHandle mData, int32_t blockNum) {
  if (blockNum == 0) QorSrcSetFile(mData, g_movieSource.c_str());
}

int Movie(const std::string& in, const std::string& out) {
  g_movieSource = in;
  QorHandle h = QorAlloc();
  QorAssignVideoSource(h, MovieSource);
  QorAssignAudioSource(h, MovieSource);
  QorSetOutputFile(h, out.c_str(), out.c_str());
  QorSetFrameRate(h, 25.0);
  QorSetResolution(h, 352, 288);
  QorSetCodec(h, 11, 1);
  QorSetBitRate(h, 11, 1150);
  QorSetAudioFormat(h, 44100, 2, 16);
  int32_t result = -1;
  Timed([&] { result = QorConvert(h); });
  QorFree(h);
  if (result != 0) Die("QorConvert returned " + std::to_string(result));
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: qor_bench gen W H OUT | frames IN DIR N W H |\n"
               "       qor_bench palframes DIR N none|light|heavy OUTDIR |\n"
               "       qor_bench movie IN.avi OUT.mpg |\n"
               "       qor_bench OP IN OUT [ARGS]\n"
               "OP: copy conv BITS | resize W H | resample W H |\n"
               "    pal none|light|heavy | soften | sharpen | edges | enhance |\n"
               "    brightness P | contrast P | gamma G | saturation P |\n"
               "    decode | pipeline\n");
  return 1;
}

int Run(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string cmd = argv[1];
  auto arg = [&](int i) -> std::string {
    if (i >= argc) std::exit(Usage());
    return argv[i];
  };
  auto num = [&](int i) { return std::atoi(arg(i).c_str()); };
  if (cmd == "gen") return Generate(num(2), num(3), arg(4));
  if (cmd == "frames") return Frames(arg(2), arg(3), num(4), num(5), num(6));
  if (cmd == "palframes") return PalFrames(arg(2), num(3), arg(4), arg(5));
  if (cmd == "movie") return Movie(arg(2), arg(3));

  const std::string in = arg(2);
  Qimg img, out;
  if (cmd == "decode") {  // the load is the operation
    Timed([&] {
      ImgBasic::ImgFree(&img);
      Load(in, &img);
    });
    ImgBasic::ImgFree(&img);
    return 0;
  }
  const std::string outName = arg(3);
  if (cmd == "encode") {  // the save is the operation
    Load(in, &img);
    Timed([&] { Save(outName, &img); });
    ImgBasic::ImgFree(&img);
    return 0;
  }
  if (cmd == "pipeline") {  // decode, half size, 256 colours, 8-bit BMP
    Timed([&] {
      Qimg p;
      Load(in, &p);
      ImgBasic::ImgResample(&p, &p, p.width / 2, p.height / 2);
      ImgBasic::ImgConvBppEx(&p, &p, 8, ImgBasic::kConvPaletteHeavy);
      Save(outName, &p);
      ImgBasic::ImgFree(&p);
    });
    return 0;
  }

  Load(in, &img);
  std::function<void()> op;
  if (cmd == "copy") {
    op = [&] { ImgBasic::ImgCopy(&img, &out); };
  } else if (cmd == "conv") {
    const int bits = num(4);
    op = [&] { ImgBasic::ImgConvBpp(&img, &out, bits); };
  } else if (cmd == "resize" || cmd == "resample") {
    const int w = num(4), h = num(5);
    const bool smooth = cmd == "resample";
    op = [&] {
      if (smooth)
        ImgBasic::ImgResample(&img, &out, w, h);
      else
        ImgBasic::ImgResize(&img, &out, w, h);
    };
  } else if (cmd == "pal") {
    const int32_t mode = ConvMode(arg(4));
    op = [&] { ImgBasic::ImgConvBppEx(&img, &out, 8, mode); };
  } else if (cmd == "soften") {
    op = [&] { Impress::ImgSoften(&img, &out); };
  } else if (cmd == "sharpen") {
    op = [&] { Impress::ImgSharpen(&img, &out); };
  } else if (cmd == "edges") {
    op = [&] { Impress::ImgFindEdges(&img, &out); };
  } else if (cmd == "enhance") {
    op = [&] { Impress::ImgEdgeEnhance(&img, &out); };
  } else if (cmd == "brightness" || cmd == "contrast" || cmd == "saturation") {
    const int p = num(4);
    op = [&] {
      if (cmd == "brightness")
        Impress::ImgBrightness(&img, &out, p, p, p);
      else if (cmd == "contrast")
        Impress::ImgContrast(&img, &out, p, p, p);
      else
        Impress::ImgSaturation(&img, &out, p);
    };
  } else if (cmd == "gamma") {
    const double g = std::atof(arg(4).c_str());
    op = [&] { Impress::ImgGamma(&img, &out, g, g, g); };
  } else {
    return Usage();
  }
  Timed(op);
  Save(outName, &out);
  ImgBasic::ImgFree(&out);
  ImgBasic::ImgFree(&img);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Lifecycle::LibraryStart();
  const int rc = Run(argc, argv);
  Lifecycle::LibraryStop();
  return rc;
}
