#include "media/PalOpt.h"

#include <algorithm>
#include <climits>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"

using Errors::ErrSet;
using ImgBasic::Qimg;

namespace PalOpt {
namespace {

const uint8_t kDitherMatrix[128 * 128] = {
#include "media/PalOptDither.inc"
};

using u128 = unsigned __int128;

// One quantiser: its work area and whether the cube already holds the
// inverse map. The process-wide one serves the conversion's palette pass;
// ConvTo8bit makes a private one on its stack.
struct Quantiser {
  WorkArea* area = nullptr;
  bool mapping = false;
  const char* label = "PalOpt.PalInit.quantP";
};

Quantiser& Shared() {
  static Quantiser shared;
  return shared;
}

// A failing monitor frame frees the blocks obtained inside it without
// telling their owners, so the pointer alone does not prove the area lives.
bool AreaAlive(const Quantiser& q) {
  return q.area && Basic::MemIsTracked(q.area) &&
         Basic::MemTrackedLabel(q.area).find(q.label) != std::string::npos;
}

// The quantiser's work area, or nullptr with image error 6 raised.
WorkArea* NeedArea(Quantiser& q, int32_t line) {
  if (AreaAlive(q)) return q.area;
  q.area = nullptr;
  q.mapping = false;
  ErrSet(Errors::kErrImageFunctionInit, line);
  return nullptr;
}

// A record whose pixel block holds width × height pixels of its depth.
bool PixelsOk(const Qimg* image) {
  if (!image || !ImgBasic::ImgIsValid(image) || !image->data) return false;
  if (image->width < 1 || image->height < 1) return false;
  if (image->bytesPerPixel != ImgBasic::BytesPerPixel(image->bitsPerPixel))
    return false;
  const int64_t bytes = static_cast<int64_t>(image->width) * image->height *
                        image->bytesPerPixel;
  return bytes <= image->size;
}

int64_t PixelCount(const Qimg* image) {
  return static_cast<int64_t>(image->width) * image->height;
}

// The 8-bit channels of a 5-5-5 or 5-6-5 word, low bits zero.
inline void Fields16(const uint8_t* p, int32_t bits, int32_t& r, int32_t& g,
                     int32_t& b) {
  const uint32_t w = p[0] | (p[1] << 8);
  b = (w & 31) * 8;
  if (bits == 15) {
    g = ((w >> 5) & 31) * 8;
    r = ((w >> 10) & 31) * 8;
  } else {
    g = ((w >> 5) & 63) * 4;
    r = ((w >> 11) & 31) * 8;
  }
}

// Adds count pixels of one exact colour to a cell. The count saturates, and
// the colour sums take only the pixels the count took, so that a cell's mean
// colour stays inside it.
inline void AddPixels(WorkArea& a, int32_t cell, int64_t count, int32_t blue,
                      int32_t green, int32_t red) {
  int32_t& value = a.cube[cell];
  const int64_t sum = static_cast<int64_t>(value) + count;
  const int32_t next = sum > INT32_MAX ? INT32_MAX : static_cast<int32_t>(sum);
  const int64_t taken = next - value;
  value = next;
  int64_t* s = a.sums[cell];
  s[0] += taken * blue;
  s[1] += taken * green;
  s[2] += taken * red;
}

// One pixel; the common case of counting, kept free of multiplications.
inline void AddPixel(WorkArea& a, int32_t cell, int32_t blue, int32_t green,
                     int32_t red) {
  int32_t& value = a.cube[cell];
  if (value == INT32_MAX) return;
  value++;
  int64_t* s = a.sums[cell];
  s[0] += blue;
  s[1] += green;
  s[2] += red;
}

inline int32_t Clamp255(int32_t v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

// Nearest integer, halves to even, of num / den (num >= 0, den > 0).
int32_t RoundHalfEven(int64_t num, int64_t den) {
  int64_t q = num / den;
  const int64_t twice = 2 * (num % den);
  if (twice > den || (twice == den && (q & 1))) q++;
  return static_cast<int32_t>(q);
}

// ---- nearest colour -------------------------------------------------------
// The weights are squares (30², 59², 11²), so a distance is the sum of three
// squares of 16-bit products: (30·dr)² + (59·dg)² + (11·db)². That lets one
// multiply-add handle red and green of four entries at once. Sums stay below
// 2^31; the search keeps the lowest index among equal distances, as the
// plain walk over the entries does.
struct NearestSearch {
  int32_t count = 0;
  alignas(16) int16_t rg[512];  // 30·red, 59·green per entry
  alignas(16) int16_t b0[512];  // 11·blue, 0 per entry
  const uint8_t* palette = nullptr;

  NearestSearch(const uint8_t* pal, int32_t n) : count(n), palette(pal) {
    for (int32_t i = 0; i < n; i++) {
      const uint8_t* e = pal + i * 3;
      rg[2 * i] = static_cast<int16_t>(30 * e[2]);
      rg[2 * i + 1] = static_cast<int16_t>(59 * e[1]);
      b0[2 * i] = static_cast<int16_t>(11 * e[0]);
      b0[2 * i + 1] = 0;
    }
  }

  int32_t Find(int32_t red, int32_t green, int32_t blue) const {
    int32_t i = 0, best = INT32_MAX, index = 0;
#if defined(__SSE2__)
    if (count >= 4) {
      const __m128i qrg = _mm_set1_epi32(static_cast<int32_t>(
          static_cast<uint32_t>(30 * red) | (static_cast<uint32_t>(59 * green) << 16)));
      const __m128i qb = _mm_set1_epi32(11 * blue);
      __m128i bestD = _mm_set1_epi32(INT32_MAX);
      __m128i bestI = _mm_setzero_si128();
      __m128i idx = _mm_setr_epi32(0, 1, 2, 3);
      const __m128i four = _mm_set1_epi32(4);
      for (; i + 4 <= count; i += 4) {
        const __m128i drg = _mm_sub_epi16(
            qrg, _mm_load_si128(reinterpret_cast<const __m128i*>(rg + 2 * i)));
        const __m128i db = _mm_sub_epi16(
            qb, _mm_load_si128(reinterpret_cast<const __m128i*>(b0 + 2 * i)));
        const __m128i d =
            _mm_add_epi32(_mm_madd_epi16(drg, drg), _mm_madd_epi16(db, db));
        const __m128i less = _mm_cmplt_epi32(d, bestD);  // strict: first wins
        bestD = _mm_or_si128(_mm_and_si128(less, d), _mm_andnot_si128(less, bestD));
        bestI = _mm_or_si128(_mm_and_si128(less, idx), _mm_andnot_si128(less, bestI));
        idx = _mm_add_epi32(idx, four);
      }
      alignas(16) int32_t ds[4], is[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(ds), bestD);
      _mm_store_si128(reinterpret_cast<__m128i*>(is), bestI);
      for (int k = 0; k < 4; k++)
        if (ds[k] < best || (ds[k] == best && is[k] < index)) {
          best = ds[k];
          index = is[k];
        }
    }
#endif
    for (; i < count; i++) {
      const int32_t dr = 30 * red - rg[2 * i], dg = 59 * green - rg[2 * i + 1],
                    db = 11 * blue - b0[2 * i];
      const int32_t d = dr * dr + dg * dg + db * db;
      if (d < best) {
        best = d;
        index = i;
      }
    }
    return index;
  }
};

// ---- counting -------------------------------------------------------------

// The cube cells of eight pixels of step bytes; true when all eight are the
// same cell (a flat stretch), found without a branch per pixel.
inline bool BlockCells(const uint8_t* p, int step, int32_t cells[8]) {
  int32_t differ = 0;
  for (int k = 0; k < 8; k++) {
    const uint8_t* q = p + k * step;
    cells[k] = CellOf(q[2], q[1], q[0]);
    differ |= cells[k] ^ cells[0];
  }
  return differ == 0;
}

void Count8(WorkArea& a, const Qimg* image) {
  Errors::TraceScope trace("PalOpt.Count8");
  int64_t histogram[256] = {};
  const int64_t n = PixelCount(image);
  for (int64_t i = 0; i < n; i++) histogram[image->data[i]]++;
  for (int i = 0; i < 256; i++) {
    if (histogram[i] == 0) continue;
    const uint8_t* e = image->palette + i * 3;
    AddPixels(a, CellOf(e[2], e[1], e[0]), histogram[i], e[0], e[1], e[2]);
  }
}

void CountColors(Quantiser& q, const Qimg* image) {
  Errors::Monitored("PalOpt.PalCountColors", [&] {
    WorkArea* area = NeedArea(q, __LINE__);
    if (!area) return;
    WorkArea& a = *area;
    // Counting into an inverse map would turn indices into counts.
    if (q.mapping) return ErrSet(Errors::kErrImageFunctionInit, __LINE__);
    if (!PixelsOk(image)) return ErrSet(Errors::kErrImageInvalid, __LINE__);
    const int32_t bits = image->bitsPerPixel;
    const int64_t n = PixelCount(image);
    const uint8_t* p = image->data;
    switch (bits) {
      case 8:
        Count8(a, image);
        break;
      case 15:
      case 16:
        for (int64_t i = 0; i < n; i++, p += 2) {
          int32_t r, g, b;
          Fields16(p, bits, r, g, b);
          AddPixel(a, CellOf(r, g, b), b, g, r);
        }
        break;
      case 24:
      case 32: {
        // Flat areas give runs of one cell: a block of eight pixels that
        // all fall in one cell is added at once (one count, one sum per
        // channel) unless the count is about to saturate, where the single
        // steps take over.
        const int step = image->bytesPerPixel;
        int64_t i = 0;
        int32_t cells[8];
        for (; i + 8 <= n; i += 8, p += 8 * step) {
          const bool flat = BlockCells(p, step, cells);
          if (flat && a.cube[cells[0]] <= INT32_MAX - 8) {
            int32_t sb = 0, sg = 0, sr = 0;
            for (int k = 0; k < 8; k++) {
              sb += p[k * step];
              sg += p[k * step + 1];
              sr += p[k * step + 2];
            }
            a.cube[cells[0]] += 8;
            int64_t* s = a.sums[cells[0]];
            s[0] += sb;
            s[1] += sg;
            s[2] += sr;
            continue;
          }
          for (int k = 0; k < 8; k++) {
            const uint8_t* q = p + k * step;
            AddPixel(a, cells[k], q[0], q[1], q[2]);
          }
        }
        for (; i < n; i++, p += step) AddPixel(a, CellOf(p[2], p[1], p[0]), p[0], p[1], p[2]);
        break;
      }
      default:
        break;
    }
  });
}

// ---- reduction ------------------------------------------------------------

// What one pass over a box's cells gathers: pixel counts and count-weighted
// coordinate sums (for the means), per plane of each axis the pixels that
// weigh the spreads, and per plane the number of used cells (for
// shrinking). Every pixel weighs alike: a cell of one pixel counts as much
// as one pixel of a crowded cell, so pictures of mostly unique colours
// (gradients, small photographs) split like any other. All integers.
struct Moments {
  int64_t pixels = 0;
  int64_t sum[3] = {};
  int64_t plane[3][64] = {};
  int32_t used[3][64] = {};
};

void Gather(const WorkArea& a, const PalBox& box, Moments& m) {
  for (int32_t b = box.b0; b <= box.b1; b++)
    for (int32_t g = box.g0; g <= box.g1; g++) {
      const int32_t* row = a.cube + (g << 6) + (b << 12);
      int64_t rowPixels = 0, rowSum = 0;
      int32_t rowUsed = 0;
      for (int32_t r = box.r0; r <= box.r1; r++) {
        const int32_t v = row[r];
        if (v < 0) continue;
        const int64_t count = static_cast<int64_t>(v) + 1;
        rowPixels += count;
        rowSum += r * count;
        rowUsed++;
        m.plane[0][r] += count;
        m.used[0][r]++;
      }
      if (rowUsed == 0) continue;
      // Green and blue are constant along the row: add the row's totals.
      m.pixels += rowPixels;
      m.sum[0] += rowSum;
      m.sum[1] += g * rowPixels;
      m.sum[2] += b * rowPixels;
      m.plane[1][g] += rowPixels;
      m.plane[2][b] += rowPixels;
      m.used[1][g] += rowUsed;
      m.used[2][b] += rowUsed;
    }
}

// Moves a pair of bounds inwards to the outermost used planes; a box without
// any used cell keeps at least one plane. Dropping empty planes of one axis
// leaves the used cells, and so the planes of the others, as they were.
void ShrinkAxis(const int32_t* used, int32_t& lo, int32_t& hi) {
  while (lo < hi && used[lo] == 0) lo++;
  while (hi > lo && used[hi] == 0) hi--;
}

void ShrinkBox(const WorkArea& a, PalBox& box) {
  Errors::TraceScope trace("PalOpt.ShrinkBox");
  Moments m;
  Gather(a, box, m);
  ShrinkAxis(m.used[0], box.r0, box.r1);
  ShrinkAxis(m.used[1], box.g0, box.g1);
  ShrinkAxis(m.used[2], box.b0, box.b1);
  box.extR = box.r1 - box.r0;
  box.extG = box.g1 - box.g0;
  box.extB = box.b1 - box.b0;
  box.size = kWeightR * box.extR * box.extR + kWeightG * box.extG * box.extG +
             kWeightB * box.extB * box.extB;

  // Everything below stays in integers: no 0/0, no rounding of sums.
  const int32_t lows[3] = {box.r0, box.g0, box.b0};
  const int32_t highs[3] = {box.r1, box.g1, box.b1};
  const int32_t weights[3] = {kWeightR, kWeightG, kWeightB};
  double spreads[3] = {0, 0, 0};
  int32_t splits[3] = {lows[0], lows[1], lows[2]};
  if (m.pixels > 0) {
    for (int axis = 0; axis < 3; axis++) {
      const int32_t mean = RoundHalfEven(m.sum[axis], m.pixels);
      auto term = [&](int32_t p) {
        const int64_t d = p - mean;
        return static_cast<u128>(m.plane[axis][p]) *
               static_cast<u128>(weights[axis] * d * d);
      };
      u128 spread = 0;
      for (int32_t p = lows[axis]; p <= highs[axis]; p++) spread += term(p);
      u128 running = 0;
      for (int32_t p = lows[axis]; p < highs[axis]; p++) {
        running += term(p);
        if (2 * running > spread) break;
        splits[axis] = p;
      }
      spreads[axis] = static_cast<double>(spread);
    }
  }
  box.spreadR = spreads[0];
  box.spreadG = spreads[1];
  box.spreadB = spreads[2];
  box.splitR = splits[0];
  box.splitG = splits[1];
  box.splitB = splits[2];
}

void SplitBoxes(WorkArea& a) {
  Errors::TraceScope trace("PalOpt.SplitBoxes");
  a.boxCount = 1;
  PalBox& whole = a.boxes[0];
  whole = PalBox{};
  whole.r1 = whole.g1 = whole.b1 = 63;
  ShrinkBox(a, whole);
  while (a.boxCount < a.wanted && a.boxCount < 256) {
    // The largest spread wins, earlier boxes and red, green, blue first on
    // ties. An axis without extent is never cut: that would leave an empty
    // box behind.
    double best = -1;
    int32_t chosen = -1, axis = -1;
    for (int32_t i = 0; i < a.boxCount; i++) {
      const PalBox& b = a.boxes[i];
      if (b.size <= 0) continue;
      const double spreads[3] = {b.spreadR, b.spreadG, b.spreadB};
      const int32_t extents[3] = {b.extR, b.extG, b.extB};
      for (int k = 0; k < 3; k++)
        if (extents[k] > 0 && spreads[k] > best) {
          best = spreads[k];
          chosen = i;
          axis = k;
        }
    }
    if (chosen < 0) break;
    PalBox& old = a.boxes[chosen];
    PalBox& fresh = a.boxes[a.boxCount++];
    fresh = old;
    if (axis == 0) {
      old.r1 = old.splitR;
      fresh.r0 = old.splitR + 1;
    } else if (axis == 1) {
      old.g1 = old.splitG;
      fresh.g0 = old.splitG + 1;
    } else {
      old.b1 = old.splitB;
      fresh.b0 = old.splitB + 1;
    }
    ShrinkBox(a, old);
    ShrinkBox(a, fresh);
  }
}

// The mean of the exact colours counted, to the nearest integer: one colour
// alone comes back as itself.
void MeanColour(const int64_t* sums, int64_t pixels, uint8_t* entry) {
  for (int c = 0; c < 3; c++)
    entry[c] = static_cast<uint8_t>(std::min(RoundHalfEven(sums[c], pixels), 255));
}

// Colour of a box: the pixel-weighted mean of the colours in its cells.
void CalcBoxColor(const WorkArea& a, const PalBox& box, uint8_t* entry) {
  Errors::TraceScope trace("PalOpt.CalcBoxColor");
  int64_t pixels = 0, sums[3] = {};
  for (int32_t b = box.b0; b <= box.b1; b++)
    for (int32_t g = box.g0; g <= box.g1; g++)
      for (int32_t r = box.r0; r <= box.r1; r++) {
        const int32_t cell = r | (g << 6) | (b << 12);
        if (a.cube[cell] < 0) continue;
        pixels += static_cast<int64_t>(a.cube[cell]) + 1;
        for (int c = 0; c < 3; c++) sums[c] += a.sums[cell][c];
      }
  if (pixels > 0) MeanColour(sums, pixels, entry);
}

void CreateInverseBoxMap(WorkArea& a, const PalBox& box, int32_t index) {
  Errors::TraceScope trace("PalOpt.CreateInverseBoxMap");
  for (int32_t b = box.b0; b <= box.b1; b++)
    for (int32_t g = box.g0; g <= box.g1; g++)
      for (int32_t r = box.r0; r <= box.r1; r++)
        a.cube[r | (g << 6) | (b << 12)] = index;
}

void CreateHighPalette(WorkArea& a) {
  Errors::TraceScope trace("PalOpt.CreateHighPalette");
  for (int32_t i = 0; i < a.boxCount; i++) {
    CalcBoxColor(a, a.boxes[i], a.palette + i * 3);
    CreateInverseBoxMap(a, a.boxes[i], i);
  }
}

void CreateLowPalette(WorkArea& a) {
  Errors::TraceScope trace("PalOpt.CreateLowPalette");
  int32_t k = 0;
  for (int32_t cell = 0; cell < kCubeCells && k < 256; cell++) {
    if (a.cube[cell] == -1) continue;
    MeanColour(a.sums[cell], static_cast<int64_t>(a.cube[cell]) + 1, a.palette + k * 3);
    a.cube[cell] = k++;
  }
}

void SetDarkColorFirst(WorkArea& a) {
  Errors::TraceScope trace("PalOpt.SetDarkColorFirst");
  const int32_t dark = NearestPalColor(0, 0, 0, a.wanted, a.palette);
  if (dark == 0) return;
  for (int c = 0; c < 3; c++) std::swap(a.palette[c], a.palette[dark * 3 + c]);
  for (int32_t& cell : a.cube) {
    if (cell == 0)
      cell = dark;
    else if (cell == dark)
      cell = 0;
  }
}

void Reduce(Quantiser& q, int32_t count) {
  Errors::Monitored("PalOpt.PalReduce", [&] {
    WorkArea* area = NeedArea(q, __LINE__);
    if (!area) return;
    WorkArea& a = *area;
    std::memset(a.palette, 255, sizeof a.palette);
    a.wanted = std::clamp(count, 2, 256);
    a.distinct = static_cast<int32_t>(
        std::count_if(a.cube, a.cube + kCubeCells, [](int32_t c) { return c != -1; }));
    a.boxCount = 0;
    if (a.wanted < a.distinct) {
      SplitBoxes(a);
      CreateHighPalette(a);
    } else {
      CreateLowPalette(a);
    }
    SetDarkColorFirst(a);
    q.mapping = true;
  });
}

// ---- remapping ------------------------------------------------------------

// Palette index of a colour's class; a class no box or count covers gets
// the nearest palette entry, remembered in the cube.
inline int32_t LookupFill(WorkArea& a, const NearestSearch& near, int32_t r,
                          int32_t g, int32_t b) {
  int32_t& cell = a.cube[CellOf(r, g, b)];
  if (cell == -1) cell = near.Find(r, g, b);
  return cell & 255;
}

void Remap8(const WorkArea& a, const Qimg* source, Qimg* dest) {
  Errors::Monitored("PalOpt.Remap8", [&] {
    uint8_t table[256];
    for (int i = 0; i < 256; i++) {
      const uint8_t* e = source->palette + i * 3;
      table[i] = static_cast<uint8_t>(a.cube[CellOf(e[2], e[1], e[0])]);
    }
    const int64_t n = PixelCount(source);
    for (int64_t i = 0; i < n; i++) dest->data[i] = table[source->data[i]];
  });
}

void Remap24(const WorkArea& a, const Qimg* source, Qimg* dest) {
  Errors::MonitoredQuiet("PalOpt.Remap24", [&] {
    const int step = source->bytesPerPixel;
    const int64_t n = PixelCount(source);
    const uint8_t* p = source->data;
    // A block of eight pixels in one cell maps to one index: one look-up
    // and a fill instead of eight look-ups.
    uint8_t* out = dest->data;
    int64_t i = 0;
    int32_t cells[8];
    for (; i + 8 <= n; i += 8, p += 8 * step) {
      if (BlockCells(p, step, cells)) {
        std::memset(out + i, static_cast<uint8_t>(a.cube[cells[0]]), 8);
        continue;
      }
      for (int k = 0; k < 8; k++) out[i + k] = static_cast<uint8_t>(a.cube[cells[k]]);
    }
    for (; i < n; i++, p += step)
      out[i] = static_cast<uint8_t>(a.cube[CellOf(p[2], p[1], p[0])]);
  });
}

void RemapDitherLite24(WorkArea& a, const Qimg* source, Qimg* dest) {
  Errors::Monitored("PalOpt.RemapDitherLite24", [&] {
    const int step = source->bytesPerPixel;
    const int32_t w = source->width, h = source->height;
    const NearestSearch near(a.palette, a.wanted);
    for (int32_t y = 0; y < h; y++) {
      const uint8_t* thresholds = kDitherMatrix + (y & 127) * 128;
      const uint8_t* p = source->data + static_cast<int64_t>(y) * w * step;
      uint8_t* out = dest->data + static_cast<int64_t>(y) * w;
      for (int32_t x = 0; x < w; x++, p += step) {
        const int32_t k = LookupFill(a, near, p[2], p[1], p[0]);
        const uint8_t* e = a.palette + k * 3;
        const int32_t m = 2 * thresholds[x & 127];
        int32_t c[3];
        for (int i = 0; i < 3; i++) c[i] = Clamp255(e[i] + m * (p[i] - e[i]) / 255);
        out[x] = static_cast<uint8_t>(LookupFill(a, near, c[2], c[1], c[0]));
      }
    }
  });
}

// Adds a share of the error to each channel of a pixel, clamping as it goes.
inline void Diffuse(uint8_t* pixel, const int32_t* table, const int32_t* err) {
  for (int c = 0; c < 3; c++)
    pixel[c] = static_cast<uint8_t>(Clamp255(pixel[c] + table[err[c] + 255]));
}

// Floyd–Steinberg-like diffusion with the strengths 7, 3, 5, 1. The
// additions go into two scratch rows (this row and the next, 3 bytes per
// pixel), so the caller's pixels are never written.
void RemapDitherHeavy24(WorkArea& a, const Qimg* source, Qimg* dest) {
  Errors::Monitored("PalOpt.RemapDitherHeavy24", [&] {
    int32_t t7[511], t5[511], t3[511], t1[511];
    MakeErrTable(7, t7);
    MakeErrTable(5, t5);
    MakeErrTable(3, t3);
    MakeErrTable(1, t1);
    const int step = source->bytesPerPixel;
    const int32_t w = source->width, h = source->height;
    const int64_t rowBytes = static_cast<int64_t>(w) * 3;
    uint8_t* rows = nullptr;
    Basic::MemAlloc(rows, 2 * rowBytes, __LINE__, Basic::kMemPlain,
                    "PalOpt.RemapDitherHeavy24.rows");
    uint8_t* cur = rows;
    uint8_t* next = rows + rowBytes;
    const NearestSearch near(a.palette, a.wanted);
    auto load = [&](int32_t y, uint8_t* into) {
      const uint8_t* p = source->data + static_cast<int64_t>(y) * w * step;
      for (int32_t x = 0; x < w; x++, p += step, into += 3) {
        into[0] = p[0];
        into[1] = p[1];
        into[2] = p[2];
      }
    };
    load(0, cur);
    for (int32_t y = 0; y < h; y++) {
      const bool below = y + 1 < h;
      if (below) load(y + 1, next);
      uint8_t* out = dest->data + static_cast<int64_t>(y) * w;
      for (int32_t x = 0; x < w; x++) {
        uint8_t* p = cur + x * 3;
        const int32_t k = LookupFill(a, near, p[2], p[1], p[0]);
        out[x] = static_cast<uint8_t>(k);
        if (x == 0 && (y & 1) == 0) continue;
        const uint8_t* e = a.palette + k * 3;
        const int32_t err[3] = {p[0] - e[0], p[1] - e[1], p[2] - e[2]};
        const bool right = x + 1 < w;
        if (right) Diffuse(p + 3, t7, err);
        if (below) {
          uint8_t* q = next + x * 3;
          if (x > 0) Diffuse(q - 3, t3, err);
          Diffuse(q, t5, err);
          if (right) Diffuse(q + 3, t1, err);
        }
      }
      std::swap(cur, next);
    }
    Basic::MemFree(rows);
  });
}

void Widen16(const Qimg* source, Qimg* temp) {
  const int64_t n = PixelCount(source);
  const uint8_t* p = source->data;
  uint8_t* o = temp->data;
  for (int64_t i = 0; i < n; i++, p += 2, o += 3) {
    int32_t r, g, b;
    Fields16(p, source->bitsPerPixel, r, g, b);
    o[0] = static_cast<uint8_t>(b);
    o[1] = static_cast<uint8_t>(g);
    o[2] = static_cast<uint8_t>(r);
  }
}

void Remap(Quantiser& q, const Qimg* source, Qimg* dest, int32_t mode) {
  Errors::Monitored("PalOpt.PalRemap", [&] {
    WorkArea* area = NeedArea(q, __LINE__);
    if (!area) return;
    WorkArea& a = *area;
    // Before the reduction the cube holds counts, not palette indices.
    if (!q.mapping) return ErrSet(Errors::kErrImageFunctionInit, __LINE__);
    if (!PixelsOk(source) || !dest || dest == source)
      return ErrSet(Errors::kErrImageInvalid, __LINE__);
    const int32_t bits = source->bitsPerPixel;
    if (bits != 8 && bits != 15 && bits != 16 && bits != 24 && bits != 32)
      return ErrSet(Errors::kErrImageInvalid, __LINE__);
    // Dithering needs a neighbourhood; tiny pictures map straight.
    if (source->width < 4 || source->height < 4) mode = kDitherNone;
    if (mode != kDitherNone && mode != kDitherLight && mode != kDitherHeavy)
      Errors::MonAbort();
    ImgBasic::_imgalloc_(dest, source->width, source->height,
                         "PalOpt.PalRemap.img8bit", __LINE__, 8);
    if (bits == 8) {
      Remap8(a, source, dest);
    } else {
      Qimg temp;
      const Qimg* pixels = source;
      if (bits == 15 || bits == 16) {
        ImgBasic::_imgalloc_(&temp, source->width, source->height,
                             "PalOpt.PalRemap.temp24", __LINE__, 24);
        Widen16(source, &temp);
        pixels = &temp;
      }
      if (mode == kDitherLight)
        RemapDitherLite24(a, pixels, dest);
      else if (mode == kDitherHeavy)
        RemapDitherHeavy24(a, pixels, dest);
      else
        Remap24(a, pixels, dest);
      if (pixels == &temp) ImgBasic::ImgFree(&temp);
    }
    std::memcpy(dest->palette, a.palette, sizeof a.palette);
  });
}

void ClearVars(Quantiser& q) {
  Errors::Monitored("PalOpt.PalClearVars", [&] {
    WorkArea* a = NeedArea(q, __LINE__);
    if (!a) return;
    std::fill(a->cube, a->cube + kCubeCells, -1);
    std::memset(a->sums, 0, sizeof a->sums);
    a->distinct = 0;
    q.mapping = false;
  });
}

void Init(Quantiser& q) {
  Errors::Monitored("PalOpt.PalInit", [&] {
    if (!AreaAlive(q)) {
      q.area = nullptr;
      Basic::MemAlloc(q.area, kWorkAreaBytes, __LINE__, Basic::kMemPlain,
                      q.label);
    }
    ClearVars(q);
  });
}

void Done(Quantiser& q) {
  Errors::Monitored("PalOpt.PalDone", [&] {
    if (AreaAlive(q)) Basic::MemFree(q.area);
    q.area = nullptr;
    q.mapping = false;
  });
}

}  // namespace

void PalInit() { Init(Shared()); }
void PalClearVars() { ClearVars(Shared()); }
void PalCountColors(const Qimg* image) { CountColors(Shared(), image); }
void PalReduce(int32_t count) { Reduce(Shared(), count); }
void PalRemap(const Qimg* source, Qimg* dest, int32_t mode) {
  Remap(Shared(), source, dest, mode);
}
void PalDone() { Done(Shared()); }

WorkArea* PalWorkArea() {
  Quantiser& q = Shared();
  return AreaAlive(q) ? q.area : nullptr;
}

void ConvTo8bit(const Qimg* source, Qimg* dest, int32_t mode) {
  Errors::Monitored("PalOpt.ConvTo8bit", [&] {
    // Same steps as a conversion's pass, on a work area of its own: a pass
    // that is under way (an 8-bit save from a host callback during a
    // conversion) keeps its counts and palette.
    Quantiser own;
    own.label = "PalOpt.ConvTo8bit.quantP";
    Init(own);
    CountColors(own, source);
    Reduce(own, 256);
    Remap(own, source, dest, mode);
    Done(own);
  });
}

void Remap24ToFixedPal(const Qimg* source, Qimg* dest, const uint8_t* palette,
                       int32_t count) {
  Errors::Monitored("PalOpt.Remap24ToFixedPal", [&] {
    if (!PixelsOk(source) || source->bitsPerPixel != 24 || !dest ||
        dest == source || !palette)
      return ErrSet(Errors::kErrImageInvalid, __LINE__);
    if (count < 1 || count > 256)
      return ErrSet(Errors::kErrOutOfRange, __LINE__);
    ImgBasic::_imgalloc_(dest, source->width, source->height,
                         "PalOpt.Remap24ToFixedPal.img8bit", __LINE__, 8);
    const int64_t n = PixelCount(source);
    const uint8_t* p = source->data;
    const NearestSearch near(palette, count);
    int32_t index = 0;
    for (int64_t i = 0; i < n; i++, p += 3) {
      if (i == 0 || p[0] != p[-3] || p[1] != p[-2] || p[2] != p[-1])
        index = near.Find(p[2], p[1], p[0]);
      dest->data[i] = static_cast<uint8_t>(index);
    }
    std::memcpy(dest->palette, palette, sizeof dest->palette);
  });
}

int32_t NearestPalColor(int32_t red, int32_t green, int32_t blue,
                        int32_t count, const uint8_t* palette) {
  if (count <= 0) return 0;
  return NearestSearch(palette, std::min(count, 256)).Find(red, green, blue);
}

void MakeErrTable(int32_t strength, int32_t table[511]) {
  Errors::TraceScope trace("PalOpt._MakeErrTable");
  auto t = [strength](int32_t i) { return RoundHalfEven(strength * i, 16); };
  for (int32_t e = -255; e <= 255; e++) {
    const int32_t a = e < 0 ? -e : e;
    int32_t v;
    if (a <= 19)
      v = t(a);
    else if (a <= 38)
      v = t(a - 19) / 2;
    else if (a <= 57)
      v = t(a - 38) / 4;
    else
      v = 0;
    table[e + 255] = e < 0 ? -v : v;
  }
}

const uint8_t* DitherMatrix() { return kDitherMatrix; }

}  // namespace PalOpt
