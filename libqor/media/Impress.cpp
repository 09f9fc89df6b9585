#include "media/Impress.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"

using Errors::ErrSet;
using ImgBasic::ImgInfoRec;
using ImgBasic::ImgOpState;

namespace Impress {
namespace {

// Refuses records that hold no pixels, a depth the library does not know, or
// dimensions that do not fit the block they claim to describe.
void CheckImage(const Qimg* image, int32_t line) {
  if (!ImgBasic::ImgIsValid(image)) {
    ErrSet(Errors::kErrImageInvalid, line);
    return;
  }
  const int32_t bits = image->bitsPerPixel;
  if (bits != 8 && bits != 15 && bits != 16 && bits != 24 && bits != 32) {
    ErrSet(Errors::kErrImageInvalid, line);
    return;
  }
  const int64_t bytes =
      ImgBasic::CheckedImageBytes(image->width, image->height, bits, line);
  if (bytes > image->size) ErrSet(Errors::kErrImageInvalid, line);
}

// An effect that changes nothing still hands the caller a copy.
void CopyThrough(const Qimg* source, Qimg* dest) {
  if (dest && dest != source) ImgBasic::ImgCopy(source, dest);
}

uint8_t ClampByte(int64_t v) {
  return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255));
}

// Every 3-byte item through its channel's table: blue is the first byte,
// red the third. A fourth byte travels unchanged.
void RemapRun(const ImgOpState& work, const uint8_t* tables) {
  const uint8_t* red = tables;
  const uint8_t* green = tables + 256;
  const uint8_t* blue = tables + 512;
  const int64_t step = work.itemBytes;
  for (int64_t i = 0; i < work.itemCount; i++) {
    const uint8_t* s = work.srcRun + i * step;
    uint8_t* d = work.destRun + i * step;
    d[0] = blue[s[0]];
    d[1] = green[s[1]];
    d[2] = red[s[2]];
    if (step == 4) d[3] = s[3];
  }
}

using TablesBuilder = void (*)(uint8_t* tables, const double* params);

template <void (*Calc)(uint8_t*, double)>
void PerChannel(uint8_t* tables, const double* params) {
  for (int c = 0; c < 3; c++) Calc(tables + c * 256, params[c]);
}

void WhiteBalanceTables(uint8_t* tables, const double* params) {
  WhiteBalanceCalc_(tables, params[0], params[1], params[2]);
}

// The common body of the per-channel tone effects.
void AutoTune_(int32_t code, Qimg* source, Qimg* dest, TablesBuilder builder,
               double red, double green, double blue) {
  Errors::Monitored("Impress.AutoTune_", [&] {
    CheckImage(source, __LINE__);
    const bool noChange =
        (red == 0 && green == 0 && blue == 0) ||
        (code == ImgBasic::kOpGamma && red == 100 && green == 100 &&
         blue == 100);
    if (noChange) {
      CopyThrough(source, dest);
      return;
    }
    ImgInfoRec info;
    ImgBasic::ImgInfo(&info, code);
    double params[3] = {red, green, blue};
    // The reference colour of the white balance is taken as given.
    if (code != ImgBasic::kOpWhiteBalance) {
      for (int c = 0; c < 3 && c < info.paramCount; c++)
        params[c] = std::clamp(params[c], info.params[c].min,
                               info.params[c].max);
    }
    ImgOpState work;
    ImgBasic::ImgInit(&info, &work, source, dest);
    uint8_t tables[768];
    builder(tables, params);
    RemapRun(work, tables);
    ImgBasic::ImgDone(&work);
  });
}

// ln(i / 255) for i = 1..254, made on the first gamma run and kept.
const double* GammaLogTable() {
  static double table[256];
  static bool made = false;
  if (!made) {
    for (int i = 1; i < 255; i++) table[i] = std::log(i / 255.0);
    made = true;
  }
  return table;
}

// ---- frame average --------------------------------------------------------

constexpr const char* kAverageLabel = "Impress.ImgAverage.AverageRec.buffer";

struct AverageRec {
  uint32_t* buffer = nullptr;  // blue, green, red sums per pixel
  int32_t width = 0;
  int32_t height = 0;
  int32_t count = 0;
  bool started = false;
};

AverageRec& Average() {
  static AverageRec record;
  return record;
}

// A failing frame around an average call frees the blocks it obtained,
// the sums among them, without knowing who points at them.
bool AverageBufferAlive(const AverageRec& a) {
  return a.buffer && Basic::MemIsTracked(a.buffer) &&
         Basic::MemTrackedLabel(a.buffer).find(kAverageLabel) !=
             std::string::npos;
}

// The most frames whose byte sums still fit 32 bits.
constexpr int32_t kMaxAverageFrames = static_cast<int32_t>(0xFFFFFFFFu / 255);

}  // namespace

// ---- table builders -------------------------------------------------------

void BrightnessCalc_(uint8_t* table, double percent) {
  const int64_t b = static_cast<int64_t>(std::trunc(percent * 255 * 0.01));
  for (int i = 0; i < 256; i++) {
    if (percent == 0)
      table[i] = static_cast<uint8_t>(i);
    else if (percent > 0)
      table[i] = static_cast<uint8_t>(std::min<int64_t>(i + b, 255));
    else
      table[i] = static_cast<uint8_t>(std::max<int64_t>(i + b, 0));
  }
}

void ContrastCalc_(uint8_t* table, double percent) {
  if (percent == 0) {
    for (int i = 0; i < 256; i++) table[i] = static_cast<uint8_t>(i);
    return;
  }
  const int64_t b = std::llabs(static_cast<int64_t>(std::trunc(percent)));
  const int64_t c =
      static_cast<int64_t>(std::trunc(128 / (128 - b * 127 * 0.01)));
  for (int64_t i = 0; i < 256; i++) {
    int64_t v;
    if (percent > 0)
      v = i < 128 ? std::max<int64_t>(i - c - b * (127 - i) / 100, 0)
                  : std::min<int64_t>(i + c + b * (i - 128) / 100, 255);
    else
      v = i < 128 ? std::min<int64_t>(i + c + b * (127 - i) / 100, 128)
                  : std::max<int64_t>(i - c - b * (i - 128) / 100, 128);
    table[i] = ClampByte(v);
  }
}

void GammaCalc_(uint8_t* table, double gamma) {
  const double* logs = GammaLogTable();
  table[0] = 0;
  table[255] = 255;
  for (int i = 1; i < 255; i++) {
    // nearbyint rounds halves to even in the default rounding mode.
    const double v = std::nearbyint(255 * std::exp(logs[i] / gamma));
    table[i] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
  }
}

void WhiteBalanceCalc_(uint8_t* tables, double red, double green,
                       double blue) {
  const double ref[3] = {red == 0 ? 1 : red, green == 0 ? 1 : green,
                         blue == 0 ? 1 : blue};
  const double m = std::max({ref[0], ref[1], ref[2]});
  const double h = ((m - ref[0]) + (m - ref[1]) + (m - ref[2])) / 9;
  for (int c = 0; c < 3; c++) {
    for (int i = 0; i < 256; i++) {
      const double scaled = std::clamp(i * m / ref[c], 0.0, 255.0);
      tables[c * 256 + i] =
          static_cast<uint8_t>(std::trunc(std::clamp(scaled - h, 0.0, 255.0)));
    }
  }
}

// ---- tone effects ---------------------------------------------------------

void ImgBrightness(Qimg* source, Qimg* dest, int32_t red, int32_t green,
                   int32_t blue) {
  Errors::TraceScope trace("Impress.ImgBrightness");
  AutoTune_(ImgBasic::kOpBrightness, source, dest, PerChannel<BrightnessCalc_>,
            red, green, blue);
}

void ImgContrast(Qimg* source, Qimg* dest, int32_t red, int32_t green,
                 int32_t blue) {
  Errors::TraceScope trace("Impress.ImgContrast");
  AutoTune_(ImgBasic::kOpContrast, source, dest, PerChannel<ContrastCalc_>,
            red, green, blue);
}

void ImgGamma(Qimg* source, Qimg* dest, double red, double green,
              double blue) {
  Errors::TraceScope trace("Impress.ImgGamma");
  AutoTune_(ImgBasic::kOpGamma, source, dest, PerChannel<GammaCalc_>, red,
            green, blue);
}

void ImgWhiteBalance(Qimg* source, Qimg* dest, int32_t red, int32_t green,
                     int32_t blue) {
  Errors::TraceScope trace("Impress.ImgWhiteBalance");
  AutoTune_(ImgBasic::kOpWhiteBalance, source, dest, WhiteBalanceTables, red,
            green, blue);
}

void ImgSaturation(Qimg* source, Qimg* dest, int32_t percent) {
  Errors::Monitored("Impress.ImgSaturation", [&] {
    CheckImage(source, __LINE__);
    if (percent == 0) {
      CopyThrough(source, dest);
      return;
    }
    ImgInfoRec info;
    ImgBasic::ImgInfo(&info, ImgBasic::kOpSaturation);
    const int32_t p = std::clamp<int32_t>(
        percent, static_cast<int32_t>(info.params[0].min),
        static_cast<int32_t>(info.params[0].max));
    const int32_t ap = std::abs(p);
    int32_t t[256];
    for (int32_t k = 0; k < 256; k++) t[k] = ap * k / 100;

    ImgOpState work;
    ImgBasic::ImgInit(&info, &work, source, dest);
    const int64_t step = work.itemBytes;
    for (int64_t i = 0; i < work.itemCount; i++) {
      const uint8_t* s = work.srcRun + i * step;
      uint8_t* d = work.destRun + i * step;
      int32_t v[3] = {s[0], s[1], s[2]};  // blue, green, red
      if (p > 0) {
        // Indices of the largest, middle and smallest channel; the three
        // comparisons settle ties.
        int lo, mid, hi;
        if (v[0] < v[1]) {
          if (v[1] < v[2]) {
            hi = 2, mid = 1, lo = 0;
          } else if (v[0] < v[2]) {
            hi = 1, mid = 2, lo = 0;
          } else {
            hi = 1, mid = 0, lo = 2;
          }
        } else if (v[0] < v[2]) {
          hi = 2, mid = 0, lo = 1;
        } else if (v[1] < v[2]) {
          hi = 0, mid = 2, lo = 1;
        } else {
          hi = 0, mid = 1, lo = 2;
        }
        const int32_t large = v[hi], middle = v[mid], small = v[lo];
        const int32_t sh = t[large - small] / 2;
        const int32_t newSmall = std::max(small - sh, 0);
        v[hi] = std::min(large + sh, 255);
        v[lo] = newSmall;
        v[mid] = std::min(newSmall + (middle - small) + t[middle - small], 255);
      } else {
        const int32_t grey = (v[0] + v[1] + v[2]) / 3;
        for (int c = 0; c < 3; c++)
          v[c] = v[c] < grey ? v[c] + t[grey - v[c]] : v[c] - t[v[c] - grey];
      }
      for (int c = 0; c < 3; c++) d[c] = static_cast<uint8_t>(v[c]);
      if (step == 4) d[3] = s[3];
    }
    ImgBasic::ImgDone(&work);
  });
}

// ---- filters --------------------------------------------------------------

void AutoFilter_(Qimg* source, Qimg* dest, int32_t code,
                 const FilterKernel& kernel) {
  Errors::Monitored("Impress.AutoFilter_", [&] {
    CheckImage(source, __LINE__);
    ImgInfoRec info;
    ImgBasic::ImgInfo(&info, code);
    ImgOpState work;
    ImgBasic::ImgInit(&info, &work, source, dest);
    const Qimg* s = work.src;
    Qimg* d = work.dest;
    const int64_t width = s->width;
    const int64_t height = s->height;
    const int64_t rowLen = work.srcRowLen;
    const int64_t bpp = s->bytesPerPixel;
    if (width < 3) {
      // Too narrow for a 3×3 neighbourhood: passed through unfiltered.
      std::memcpy(d->data, s->data, static_cast<size_t>(work.srcSize));
      ImgBasic::ImgDone(&work);
      return;
    }
    int16_t* multbl = nullptr;
    Basic::MemAlloc(multbl, 9 * 256 * static_cast<int64_t>(sizeof(int16_t)),
                    __LINE__, Basic::kMemPlain, "Impress.AutoFilter_.multbl");
    for (int k = 0; k < 9; k++)
      for (int v = 0; v < 256; v++)
        multbl[k * 256 + v] = static_cast<int16_t>(kernel.weights[k] * v);

    // One output byte the plain way: products from the table, a 16-bit sum
    // that wraps, shift, bias, clamp.
    auto filterByte = [&](const uint8_t* const rows[3], const int64_t cols[3],
                          int64_t c) {
      int16_t sum = 0;
      for (int r = 0; r < 3; r++)
        for (int q = 0; q < 3; q++)
          sum = static_cast<int16_t>(
              sum + multbl[(r * 3 + q) * 256 + rows[r][cols[q] + c]]);
      return ClampByte(static_cast<int64_t>(sum >> kernel.shift) + kernel.bias);
    };

    const int64_t lastCol = (width - 1) * bpp;  // first byte of the last pixel
    for (int64_t y = 0; y < height; y++) {
      // Missing neighbours outside the image repeat the nearest pixel.
      const uint8_t* rows[3] = {s->data + (y > 0 ? y - 1 : y) * rowLen,
                                s->data + y * rowLen,
                                s->data + (y < height - 1 ? y + 1 : y) * rowLen};
      uint8_t* out = d->data + y * work.destRowLen;
      const int64_t edgeCols[2][3] = {{0, 0, bpp},
                                      {lastCol - bpp, lastCol, lastCol}};
      for (int64_t c = 0; c < bpp; c++) {
        out[c] = filterByte(rows, edgeCols[0], c);
        out[lastCol + c] = filterByte(rows, edgeCols[1], c);
      }
      // Inner bytes: every neighbour is one pixel away, so byte i of the
      // row needs bytes i - bpp, i, i + bpp of the three rows.
      int64_t i = bpp;
#if defined(__SSE2__)
      // Sixteen bytes at a time: the same 16-bit wrapping products and
      // sums, an arithmetic shift, the bias added with saturation and a
      // saturating pack to bytes (which clamps exactly as above).
      __m128i w[9];
      for (int k = 0; k < 9; k++) w[k] = _mm_set1_epi16(kernel.weights[k]);
      const __m128i bias = _mm_set1_epi16(kernel.bias);
      const __m128i shift = _mm_cvtsi32_si128(kernel.shift);
      const __m128i zero = _mm_setzero_si128();
      for (; i + 16 <= lastCol; i += 16) {
        __m128i lo = zero, hi = zero;
        for (int r = 0; r < 3; r++)
          for (int q = 0; q < 3; q++) {
            const __m128i v = _mm_loadu_si128(
                reinterpret_cast<const __m128i*>(rows[r] + i + (q - 1) * bpp));
            lo = _mm_add_epi16(lo, _mm_mullo_epi16(_mm_unpacklo_epi8(v, zero), w[r * 3 + q]));
            hi = _mm_add_epi16(hi, _mm_mullo_epi16(_mm_unpackhi_epi8(v, zero), w[r * 3 + q]));
          }
        lo = _mm_adds_epi16(_mm_sra_epi16(lo, shift), bias);
        hi = _mm_adds_epi16(_mm_sra_epi16(hi, shift), bias);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(lo, hi));
      }
#endif
      const int64_t innerCols[3] = {-bpp, 0, bpp};
      for (; i < lastCol; i++) out[i] = filterByte(rows, innerCols, i);
    }
    Basic::MemFree(multbl);
    ImgBasic::ImgDone(&work);
  });
}

void ImgSoften(Qimg* source, Qimg* dest) {
  Errors::TraceScope trace("Impress.ImgSoften");
  static const FilterKernel k{{1, 1, 1, 1, 8, 1, 1, 1, 1}, 4, 0};
  AutoFilter_(source, dest, ImgBasic::kOpSoften, k);
}

void ImgSharpen(Qimg* source, Qimg* dest) {
  Errors::TraceScope trace("Impress.ImgSharpen");
  static const FilterKernel k{{0, -1, 0, -1, 8, -1, 0, -1, 0}, 2, 0};
  AutoFilter_(source, dest, ImgBasic::kOpSharpen, k);
}

void ImgFindEdges(Qimg* source, Qimg* dest) {
  Errors::TraceScope trace("Impress.ImgFindEdges");
  static const FilterKernel k{{-1, -3, -1, -3, 16, -3, -1, -3, -1}, 0, 0};
  AutoFilter_(source, dest, ImgBasic::kOpFindEdges, k);
}

void ImgEdgeEnhance(Qimg* source, Qimg* dest) {
  Errors::TraceScope trace("Impress.ImgEdgeEnhance");
  static const FilterKernel k{{-1, -2, -1, -2, 16, -2, -1, -2, -1}, 2, 0};
  AutoFilter_(source, dest, ImgBasic::kOpEdgeEnhance, k);
}

// ---- deinterlace ----------------------------------------------------------

void ImgDeinterlace(Qimg* source, Qimg* dest, bool keepFirst,
                    bool duplicate) {
  Errors::Monitored("Impress.ImgDeinterlace", [&] {
    CheckImage(source, __LINE__);
    // A single row has no second field to rebuild from.
    if (source->height < 2) {
      CopyThrough(source, dest);
      return;
    }
    ImgInfoRec info;
    ImgBasic::ImgInfo(&info, ImgBasic::kOpDeinterlace);
    if (duplicate) {
      const int32_t same[6] = {8, 15, 16, 24, 32, 0};
      std::copy(same, same + 6, info.depthMap);
    }
    ImgOpState work;
    ImgBasic::ImgInit(&info, &work, source, dest);
    Qimg* d = work.dest;
    if (work.src != d)
      std::memcpy(d->data, work.src->data, static_cast<size_t>(work.srcSize));
    const int64_t rowLen = work.destRowLen;
    const int64_t height = d->height;
    auto row = [&](int64_t r) { return d->data + r * rowLen; };
    if (!keepFirst) std::memcpy(row(0), row(1), static_cast<size_t>(rowLen));
    for (int64_t r = keepFirst ? 1 : 2; r < height; r += 2) {
      uint8_t* out = row(r);
      const uint8_t* above = row(r - 1);
      if (duplicate || r + 1 >= height) {
        std::memcpy(out, above, static_cast<size_t>(rowLen));
      } else {
        const uint8_t* below = row(r + 1);
        for (int64_t i = 0; i < rowLen; i++)
          out[i] = static_cast<uint8_t>((above[i] + below[i]) / 2);
      }
    }
    ImgBasic::ImgDone(&work);
  });
}

// ---- frame average --------------------------------------------------------

void ImgAverageClear() {
  Errors::TraceScope trace("Impress.ImgAverageClear");
  AverageRec& a = Average();
  if (AverageBufferAlive(a)) Basic::MemFree(a.buffer);
  a = AverageRec{};
}

void ImgAverage(const Qimg* image) {
  Errors::Monitored("Impress.ImgAverage", [&] {
    CheckImage(image, __LINE__);
    AverageRec& a = Average();
    if (a.started && !AverageBufferAlive(a)) a = AverageRec{};
    if (!a.started) {
      const int64_t sums = static_cast<int64_t>(image->width) * image->height * 3;
      Basic::MemAlloc(a.buffer, sums * 4, __LINE__, Basic::kMemPlain,
                      kAverageLabel);
      a.width = image->width;
      a.height = image->height;
      a.count = 0;
      a.started = true;
    } else if (image->width != a.width || image->height != a.height) {
      ErrSet(Errors::kErrOutOfRange, __LINE__);
      return;
    }
    if (a.count >= kMaxAverageFrames) {
      ErrSet(Errors::kErrOutOfRange, __LINE__);
      return;
    }
    // Other depths are read through their 24-bit form: palette colours,
    // 15- and 16-bit fields widened with zero low bits, the fourth byte
    // of 32 bits dropped.
    const Qimg* rgb = image;
    Qimg wide;
    if (image->bitsPerPixel != 24) {
      ImgBasic::ImgConvBpp(const_cast<Qimg*>(image), &wide, 24);
      rgb = &wide;
    }
    const int64_t n = static_cast<int64_t>(a.width) * a.height * 3;
    for (int64_t i = 0; i < n; i++) a.buffer[i] += rgb->data[i];
    if (rgb == &wide) ImgBasic::ImgFree(&wide);
    a.count++;
  });
}

void ImgAverageGet(Qimg* image) {
  Errors::Monitored("Impress.ImgAverageGet", [&] {
    AverageRec& a = Average();
    if (!image || !a.started || a.count == 0 || !AverageBufferAlive(a)) {
      ErrSet(Errors::kClsImage, Errors::kTextCode, __LINE__);
      return;
    }
    ImgBasic::_imgalloc_(image, a.width, a.height,
                         "Impress.ImgAverageGet.imgResult", __LINE__, 24);
    const int64_t n = static_cast<int64_t>(a.width) * a.height * 3;
    const uint32_t count = static_cast<uint32_t>(a.count);
    for (int64_t i = 0; i < n; i++)
      image->data[i] = static_cast<uint8_t>(a.buffer[i] / count);
  });
}

}  // namespace Impress
