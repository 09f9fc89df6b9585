#include "formats/FF_BAY.h"

#include <algorithm>
#include <cstring>

#include "formats/FFBasic.h"
#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"

using Errors::ErrSet;
using FFBasic::FFReader;
using ImgBasic::Qimg;

namespace FF_BAY {
namespace {

constexpr int64_t kSmallSize = 74752;   // 512 x 144 + trailer
constexpr int64_t kLargeSize = 197632;  // 512 x 384 + trailer
constexpr int64_t kPlainSize = 307200;  // 640 x 480, no trailer
constexpr int64_t kTrailerSize = 1024;

double Exposure(const std::string& camera, int32_t code) {
  static const double ml[7] = {30, 60, 125, 250, 500, 1000, 2000};
  static const double ek[3] = {250, 500, 1000};
  if (camera == "ML" && code >= 1 && code <= 7) return ml[code - 1];
  if ((camera == "EK" || camera == "RO") && code >= 1 && code <= 3)
    return ek[code - 1];
  return 0;
}

// Sizes and pattern a caller may hand the decoder: even sizes of at least 2
// and a known pattern.
bool ParamsValid(int32_t width, int32_t height, int32_t bayerType) {
  return width >= 2 && height >= 2 && width % 2 == 0 && height % 2 == 0 &&
         bayerType >= kBayerBGGR && bayerType <= kBayerMono &&
         static_cast<int64_t>(width) * height <= FFBasic::kMaxReadBlock;
}

// The samples with a border of one sample on every side, each border sample
// a copy of a nearby sample of the same filter colour.
void ReorganizeCmpsData_(const uint8_t* s, uint8_t* b, int64_t w, int64_t h,
                         int32_t bayerType) {
  const int64_t bw = w + 2;
  auto S = [&](int64_t x, int64_t y) { return s[y * w + x]; };
  auto B = [&](int64_t x, int64_t y) -> uint8_t& {
    return b[(y + 1) * bw + (x + 1)];
  };
  for (int64_t y = 0; y < h; y++)
    std::memcpy(&B(0, y), s + y * w, static_cast<size_t>(w));
  const bool odd = bayerType == kBayerGRBG || bayerType == kBayerGBRG;
  for (int64_t k = 0; 2 * k + 1 < h; k++) {
    const int64_t y0 = 2 * k, y1 = 2 * k + 1;
    if (odd) {
      B(-1, y0) = S(1, y0);
      B(-1, y1) = S(0, y0);
      B(w, y0) = S(w - 1, y1);
      B(w, y1) = S(w - 2, y1);
    } else {
      B(-1, y0) = S(0, y1);
      B(-1, y1) = S(1, y1);
      B(w, y0) = S(w - 2, y0);
      B(w, y1) = S(w - 1, y0);
    }
  }
  for (int64_t j = 0; 2 * j + 1 < w; j++) {
    const int64_t x0 = 2 * j, x1 = 2 * j + 1;
    if (odd) {
      B(x0, -1) = S(x0, 1);
      B(x1, -1) = S(x0, 0);
      B(x0, h) = S(x1, h - 1);
      B(x1, h) = S(x1, h - 2);
    } else {
      B(x0, -1) = S(x1, 0);
      B(x1, -1) = S(x1, 1);
      B(x0, h) = S(x0, h - 2);
      B(x1, h) = S(x0, h - 1);
    }
  }
  B(-1, -1) = S(1, 1);
  B(w, -1) = S(w - 2, 1);
  B(-1, h) = S(1, h - 2);
  B(w, h) = S(w - 2, h - 2);
}

void BayColor_(const uint8_t* samples, uint8_t* dest, int64_t w, int64_t h,
               int32_t bayerType) {
  Errors::Monitored("FF_BAY.BayColor_", [&] {
    uint8_t* bordered = nullptr;
    const int64_t bw = w + 2;
    Basic::MemAlloc(bordered, bw * (h + 2), __LINE__, Basic::kMemPlain,
                    "FF_BAY.BayColor_.bordered");
    ReorganizeCmpsData_(samples, bordered, w, h, bayerType);
    uint8_t table[4][3];
    BayPattern(table, bayerType);
    for (int64_t y = 0; y < h; y++) {
      const uint8_t* up = bordered + y * bw + 1;  // row y - 1
      const uint8_t* mid = up + bw;               // row y
      const uint8_t* down = mid + bw;             // row y + 1
      uint8_t* out = dest + y * w * 3;
      for (int64_t x = 0; x < w; x++) {
        const int cell = static_cast<int>((y & 1) * 2 + (x & 1));
        for (int c = 0; c < 3; c++) {
          int v;
          switch (table[cell][c]) {
            case 0:
              v = mid[x];
              break;
            case 1:
              v = (up[x - 1] + up[x + 1] + down[x - 1] + down[x + 1]) >> 2;
              break;
            case 2:
              v = (up[x] + down[x] + mid[x - 1] + mid[x + 1]) >> 2;
              break;
            case 3:
              v = (up[x] + down[x]) >> 1;
              break;
            default:
              v = (mid[x - 1] + mid[x + 1]) >> 1;
              break;
          }
          out[x * 3 + c] = static_cast<uint8_t>(v);
        }
      }
    }
    Basic::MemFree(bordered);
  });
}

// Reads width x height samples from the start of an open file and decodes
// them into the image.
void ReadAndDecode(int32_t file, Qimg* image, int32_t width, int32_t height,
                   bool rowOrder, int32_t bayerType) {
  Errors::Monitored("FF_BAY.ReadAndDecode", [&] {
    uint8_t* samples = nullptr;
    const int32_t bits = bayerType == kBayerMono ? 8 : 24;
    if (FFBasic::FFCapImage(width, height, bits, 2, __LINE__) < 0) return;
    const int64_t count = static_cast<int64_t>(width) * height;
    Basic::MemAlloc(samples, count, __LINE__, Basic::kMemPlain,
                    "FF_BAY.BayLoad.samples");
    FFReader r(file, 2);
    if (!r.Read(samples, count)) return;
    ImgBasic::_imgalloc_(image, width, height, "FF_BAY.BayLoad.image",
                         __LINE__, bits);
    BayDecode(samples, image->data, width, rowOrder, bayerType, height);
    if (bayerType == kBayerMono) ImgBasic::PalMakeGrey(image->palette);
    Basic::MemFree(samples);
  });
}

}  // namespace

void BayPattern(uint8_t table[4][3], int32_t bayerType) {
  static const uint8_t patterns[4][4][3] = {
      {{0, 2, 1}, {4, 0, 3}, {3, 0, 4}, {1, 2, 0}},
      {{3, 0, 4}, {1, 2, 0}, {0, 2, 1}, {4, 0, 3}},
      {{1, 2, 0}, {3, 0, 4}, {4, 0, 3}, {0, 2, 1}},
      {{4, 0, 3}, {0, 2, 1}, {1, 2, 0}, {3, 0, 4}},
  };
  const int t = std::clamp(bayerType, 0, 3);
  std::memcpy(table, patterns[t], sizeof patterns[t]);
}

void FixCmpsData(const uint8_t* cells, uint8_t* dest, int32_t width,
                 int32_t height) {
  // Cell i of a row pair holds top-left, top-right, bottom-left and
  // bottom-right; the two rows are rebuilt side by side.
  const int64_t w = width;
  for (int64_t y = 0; y + 1 < height; y += 2) {
    const uint8_t* src = cells + y * w;
    uint8_t* upper = dest + y * w;
    uint8_t* lower = upper + w;
    for (int64_t i = 0; i < w / 2; i++) {
      upper[2 * i] = src[4 * i];
      upper[2 * i + 1] = src[4 * i + 1];
      lower[2 * i] = src[4 * i + 2];
      lower[2 * i + 1] = src[4 * i + 3];
    }
  }
}

void BayOpen_(BayFileRec* f, const std::string& name) {
  Errors::Monitored("FF_BAY.BayOpen_", [&] {
    *f = BayFileRec{};
    Basic::FOpen(f->file, name, Basic::kOpenRead);
    FFReader r(f->file, 2);
    f->fileSize = r.Size();
    if (f->fileSize == kPlainSize) {
      f->width = 640;
      f->height = 480;
      f->bytesPerPixel = 3;
      f->bayerType = kBayerRGGB;
      f->rowOrder = true;
      f->supported = true;
      return;
    }
    f->width = 512;
    if (f->fileSize == kSmallSize) {
      f->height = 144;
    } else if (f->fileSize == kLargeSize) {
      f->height = 384;
    } else {
      ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    uint8_t t[12];
    if (!r.Seek(int64_t{f->width} * f->height) || !r.Read(t, 12)) return;
    if (std::memcmp(t + 3, "BAY 2", 5) != 0) {
      ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    f->camera = std::string(reinterpret_cast<const char*>(t), 2);
    f->exposure = Exposure(f->camera, t[11]);
    if (t[8] == 1) {
      f->bytesPerPixel = 3;
      f->bayerType = kBayerGRBG;
    } else if (t[8] == 2) {
      f->bytesPerPixel = 1;
      f->bayerType = kBayerMono;
    }
    f->supported = f->bytesPerPixel != 0;
    f->rowOrder = false;
    r.Seek(0);
  });
}

void BayDecode(const uint8_t* samples, uint8_t* dest, int32_t width,
               bool rowOrder, int32_t bayerType, int32_t height) {
  Errors::Monitored("FF_BAY.BayDecode", [&] {
    uint8_t* ordered = nullptr;
    if (!samples || !dest || !ParamsValid(width, height, bayerType)) {
      ErrSet(Errors::kErrOutOfRange, __LINE__);
      return;
    }
    const int64_t count = static_cast<int64_t>(width) * height;
    const uint8_t* rows = samples;
    if (!rowOrder) {
      Basic::MemAlloc(ordered, count, __LINE__, Basic::kMemPlain,
                      "FF_BAY.BayDecode.ordered");
      FixCmpsData(samples, ordered, width, height);
      rows = ordered;
    }
    if (bayerType == kBayerMono)
      std::memcpy(dest, rows, static_cast<size_t>(count));
    else
      BayColor_(rows, dest, width, height, bayerType);
    Basic::MemFree(ordered);
  });
}

void BayLoad(const std::string& name, Qimg* image) {
  Errors::Monitored("FF_BAY.BayLoad", [&] {
    BayFileRec f;
    BayOpen_(&f, name);
    if (!f.supported) {
      ErrSet(Errors::kErrImageNotSupported, __LINE__);
      return;
    }
    ReadAndDecode(f.file, image, f.width, f.height, f.rowOrder, f.bayerType);
    Basic::FClose(f.file);
  });
}

void BayLoadCustom(const std::string& name, Qimg* image, int32_t width,
                   bool rowOrder, int32_t bayerType, int32_t height) {
  Errors::Monitored("FF_BAY.BayLoadCustom", [&] {
    if (!ParamsValid(width, height, bayerType)) {
      ErrSet(Errors::kErrOutOfRange, __LINE__);
      return;
    }
    int32_t file = 0;
    Basic::FOpen(file, name, Basic::kOpenRead);
    if (Basic::FSize(file) < static_cast<int64_t>(width) * height) {
      ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    ReadAndDecode(file, image, width, height, rowOrder, bayerType);
    Basic::FClose(file);
  });
}

int32_t BayGetHdr(const std::string& name, uint8_t* buffer, int32_t bufferSize) {
  int32_t copied = 0;
  Errors::Monitored("FF_BAY.BayGetHdr", [&] {
    if (!buffer || bufferSize <= 0) {
      ErrSet(Errors::kErrOutOfRange, __LINE__);
      return;
    }
    int32_t file = 0;
    Basic::FOpen(file, name, Basic::kOpenRead);
    FFReader r(file, 2);
    if (r.Size() != kLargeSize) {
      ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(bufferSize, kTrailerSize));
    if (!r.Seek(kLargeSize - kTrailerSize) || !r.Read(buffer, n)) return;
    copied = n;
    Basic::FClose(file);
  });
  return copied;
}

void BayInfo(const std::string& name, ConForm::FFInfoRec* info) {
  Errors::Monitored("FF_BAY.BayInfo", [&] {
    BayFileRec f;
    BayOpen_(&f, name);
    Basic::FClose(f.file);
    info->picture.fps = f.exposure;
    std::string label = f.camera;
    if (f.camera == "ML")
      label = "HG";
    else if (f.camera == "EK")
      label = f.bytesPerPixel == 1 ? "HR" : "HRC";
    if (f.bytesPerPixel == 1)
      label += " (monochrome)";
    else if (f.bytesPerPixel == 3)
      label += " (color)";
    ConForm::FFInfoStill(info, static_cast<double>(f.fileSize), f.width,
                         f.height, f.bytesPerPixel, f.bytesPerPixel * 8,
                         label.c_str(), f.width > 0, f.supported);
  });
}

}  // namespace FF_BAY
