// The fast inner loops of the image operations, the palette quantiser and
// the filters against the straightforward versions they replace, kept here
// as they were: every result must be the same, byte for byte, on random
// pictures of awkward sizes (odd widths, one-row images, runs of one
// colour, palettes with repeated entries).
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "media/ImgBasic.h"
#include "media/Impress.h"
#include "media/PalOpt.h"

using ImgBasic::Qimg;

namespace {

class FastPaths : public ::testing::Test {
 protected:
  void TearDown() override {
    PalOpt::PalDone();
    Basic::MemFreeToMark(0);
  }
  std::mt19937 rng{20261209};

  int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

  // Random pixels; with runs, colours repeat over stretches of a row (as in
  // flat areas of a photograph) and come from a small set.
  Qimg Random(int w, int h, int bits, bool runs = false) {
    Qimg img;
    ImgBasic::_imgalloc_(&img, w, h, "FastPaths.Random", __LINE__, bits);
    const int64_t n = static_cast<int64_t>(img.size);
    int64_t i = 0;
    while (i < n) {
      const int64_t len = runs ? Uniform(1, 40) * img.bytesPerPixel : 1;
      if (runs) {
        uint8_t px[4];
        for (int c = 0; c < 4; c++) px[c] = static_cast<uint8_t>(Uniform(0, 7) * 36);
        for (int64_t k = 0; k < len && i < n; k++, i++)
          img.data[i] = px[k % img.bytesPerPixel];
      } else {
        img.data[i++] = static_cast<uint8_t>(Uniform(0, 255));
      }
    }
    for (int k = 0; k < 768; k++) img.palette[k] = static_cast<uint8_t>(Uniform(0, 255));
    return img;
  }
};

std::vector<uint8_t> Bytes(const Qimg& img) {
  return std::vector<uint8_t>(img.data, img.data + static_cast<int64_t>(img.width) *
                                                       img.height * img.bytesPerPixel);
}

// ---- straightforward versions ------------------------------------------------

namespace plain {

inline uint16_t Rd16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline void Wr16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
uint16_t To15(uint8_t b, uint8_t g, uint8_t r) {
  return static_cast<uint16_t>((b >> 3) | ((g >> 3) << 5) | ((r >> 3) << 10));
}
uint16_t To16(uint8_t b, uint8_t g, uint8_t r) {
  return static_cast<uint16_t>((b >> 3) | ((g >> 2) << 5) | ((r >> 3) << 11));
}

// Depth conversion between 15, 16, 24 and 32 bits, one pixel at a time.
std::vector<uint8_t> Convert(const Qimg& src, int bits) {
  const int64_t count = static_cast<int64_t>(src.width) * src.height;
  const int from = src.bitsPerPixel, ib = src.bytesPerPixel;
  const int ob = ImgBasic::BytesPerPixel(bits);
  std::vector<uint8_t> outv(static_cast<size_t>(count * ob));
  uint8_t* out = outv.data();
  for (int64_t i = 0; i < count; i++) {
    const uint8_t* p = src.data + i * ib;
    uint8_t* o = out + i * ob;
    uint8_t b, g, r;
    if (from == 15 || from == 16) {
      const uint16_t w = Rd16(p);
      if (from == 15 && bits == 16) {
        Wr16(o, (w & 31) | ((w & 0x7FE0u) << 1));
        continue;
      }
      if (from == 16 && bits == 15) {
        Wr16(o, ImgBasic::Word565To555(w));
        continue;
      }
      b = static_cast<uint8_t>((w & 31) * 8);
      if (from == 15) {
        g = static_cast<uint8_t>(((w >> 5) & 31) * 8);
        r = static_cast<uint8_t>(((w >> 10) & 31) * 8);
      } else {
        g = static_cast<uint8_t>(((w >> 5) & 63) * 4);
        r = static_cast<uint8_t>(((w >> 11) & 31) * 8);
      }
    } else {
      b = p[0];
      g = p[1];
      r = p[2];
    }
    switch (bits) {
      case 15: Wr16(o, To15(b, g, r)); break;
      case 16: Wr16(o, To16(b, g, r)); break;
      default:
        o[0] = b;
        o[1] = g;
        o[2] = r;
        if (ob == 4) o[3] = 0;
    }
  }
  return outv;
}

constexpr int64_t kUnit = 100000;

inline int64_t NearestIndex(int64_t k, int64_t step, int64_t count) {
  const int64_t v = step <= kUnit ? k * step / kUnit : (k * step + kUnit - 1) / kUnit;
  return std::min(v, count - 1);
}

// Nearest-pixel resize working out both source coordinates per pixel.
std::vector<uint8_t> Resize(const Qimg& s, int width, int height) {
  const int64_t bpp = s.bytesPerPixel;
  const int64_t xStep = static_cast<int64_t>(s.width) * kUnit / width;
  const int64_t yStep = static_cast<int64_t>(s.height) * kUnit / height;
  std::vector<uint8_t> out(static_cast<size_t>(int64_t{width} * height * bpp));
  for (int64_t j = 0; j < height; j++)
    for (int64_t k = 0; k < width; k++) {
      const int64_t x = NearestIndex(k, xStep, s.width), y = NearestIndex(j, yStep, s.height);
      std::memcpy(&out[static_cast<size_t>((j * width + k) * bpp)],
                  s.data + (y * s.width + x) * bpp, static_cast<size_t>(bpp));
    }
  return out;
}

void MeanBytes(uint8_t* out, const uint8_t* a, const uint8_t* b, int64_t len) {
  for (int64_t i = 0; i < len; i++) out[i] = static_cast<uint8_t>((a[i] + b[i]) / 2);
}

template <class In, class Out>
void DoubleRun(int64_t count, int64_t len, In in, Out out) {
  int64_t o = 0;
  for (int64_t i = 0; i < count; i++) {
    std::memcpy(out(o++), in(i), len);
    if (i + 1 < count)
      MeanBytes(out(o++), in(i), in(i + 1), len);
    else
      std::memcpy(out(o++), in(i), len);
  }
}

template <class In, class Out>
void StretchRun(int64_t count, int64_t target, int64_t len, In in, Out out) {
  const int64_t s = count * kUnit / target;
  int64_t pos = 0, acc = 0, o = 0;
  for (int64_t i = 0; i < count && o < target; i++) {
    std::memcpy(out(o++), in(i), len);
    pos += kUnit;
    acc += s;
    if (acc < pos && o < target) {
      acc += s;
      MeanBytes(out(o++), in(i), in(std::min(i + 1, count - 1)), len);
    }
  }
  while (o < target) std::memcpy(out(o++), in(count - 1), len);
}

void ReduceRow(const uint8_t* src, int64_t srcWidth, uint8_t* out, int64_t outWidth,
               int64_t step) {
  int64_t acc = 0, pos = 0, p = 0;
  for (int64_t k = 0; k < outWidth; k++) {
    acc += step;
    const uint8_t* first = src + std::min(p, srcWidth - 1) * 3;
    uint32_t sb = first[0], sg = first[1], sr = first[2], n = 1;
    p++;
    pos += kUnit;
    if (acc >= pos) {
      do {
        pos += kUnit;
        if (p < srcWidth) {
          const uint8_t* q = src + p * 3;
          sb += q[0];
          sg += q[1];
          sr += q[2];
          n++;
        }
        p++;
      } while (pos < acc);
    }
    out[k * 3] = static_cast<uint8_t>(sb / n);
    out[k * 3 + 1] = static_cast<uint8_t>(sg / n);
    out[k * 3 + 2] = static_cast<uint8_t>(sr / n);
  }
}

void EnlargeRow(const uint8_t* src, int64_t srcWidth, uint8_t* out, int64_t outWidth,
                uint8_t* bufA, uint8_t* bufB) {
  const uint8_t* cur = src;
  int64_t len = srcWidth;
  uint8_t* next = bufA;
  for (int64_t f = outWidth / srcWidth; f > 1; f /= 2) {
    const uint8_t* from = cur;
    DoubleRun(len, 3, [&](int64_t i) { return from + i * 3; },
              [&](int64_t o) { return next + o * 3; });
    cur = next;
    next = next == bufA ? bufB : bufA;
    len *= 2;
  }
  if (len < outWidth)
    StretchRun(len, outWidth, 3, [&](int64_t i) { return cur + i * 3; },
               [&](int64_t o) { return out + o * 3; });
  else
    std::memcpy(out, cur, static_cast<size_t>(outWidth * 3));
}

void ReduceRows(const uint8_t* src, int64_t srcH, int64_t rowLen, uint8_t* out,
                int64_t outH, int64_t step) {
  std::vector<uint32_t> sums(static_cast<size_t>(rowLen));
  int64_t acc = 0, pos = 0, r = 0;
  for (int64_t j = 0; j < outH; j++) {
    acc += step;
    pos += kUnit;
    const uint8_t* first = src + std::min<int64_t>(r, srcH - 1) * rowLen;
    for (int64_t b = 0; b < rowLen; b++) sums[b] = first[b];
    uint32_t n = 1;
    r++;
    while (pos < acc) {
      if (r < srcH) {
        const uint8_t* row = src + r * rowLen;
        for (int64_t b = 0; b < rowLen; b++) sums[b] += row[b];
        n++;
      }
      r++;
      pos += kUnit;
    }
    for (int64_t b = 0; b < rowLen; b++)
      out[j * rowLen + b] = static_cast<uint8_t>(sums[b] / n);
  }
}

void EnlargeRows(uint8_t* rows, uint8_t* scratch, int64_t count, int64_t target,
                 int64_t rowLen) {
  uint8_t* cur = rows;
  uint8_t* next = scratch;
  bool bottomUp = true;
  int64_t len = count;
  auto pass = [&](bool doubling) {
    const int64_t outLen = doubling ? len * 2 : target;
    const uint8_t* from = cur;
    uint8_t* to = next;
    const int64_t inLen = len;
    auto in = [&](int64_t i) { return from + (bottomUp ? inLen - 1 - i : i) * rowLen; };
    auto out = [&](int64_t o) { return to + (bottomUp ? outLen - 1 - o : o) * rowLen; };
    if (doubling)
      DoubleRun(inLen, rowLen, in, out);
    else
      StretchRun(inLen, outLen, rowLen, in, out);
    std::swap(cur, next);
    len = outLen;
  };
  for (int64_t f = target / count; f > 1; f /= 2) {
    pass(true);
    bottomUp = !bottomUp;
  }
  if (len < target) pass(false);
  if (cur != rows) std::memcpy(rows, cur, static_cast<size_t>(target * rowLen));
}

// Smooth resample of a 24-bit picture, every division done the plain way.
std::vector<uint8_t> Resample(const Qimg& s, int width, int height) {
  const int64_t sw = s.width, sh = s.height;
  const int64_t xStep = sw * kUnit / width, yStep = sh * kUnit / height;
  const bool reduceV = height / sh == 0;
  const int64_t longest = std::max(sw, static_cast<int64_t>(width)) * 3;
  std::vector<uint8_t> tmp(static_cast<size_t>(longest * 3));
  std::vector<uint8_t> ih3;
  const uint8_t* rowsFrom = s.data;
  int64_t rowsH = sh;
  if (reduceV) {
    ih3.resize(static_cast<size_t>(sw * 3 * height));
    ReduceRows(s.data, sh, sw * 3, ih3.data(), height, yStep);
    rowsFrom = ih3.data();
    rowsH = height;
  }
  const int64_t outRow = int64_t{width} * 3;
  std::vector<uint8_t> d(static_cast<size_t>(outRow * std::max<int64_t>(height, sh)));
  for (int64_t j = 0; j < rowsH; j++) {
    const uint8_t* in = rowsFrom + j * sw * 3;
    uint8_t* out = d.data() + j * outRow;
    if (xStep > kUnit)
      ReduceRow(in, sw, out, width, xStep);
    else
      EnlargeRow(in, sw, out, width, tmp.data(), tmp.data() + longest);
  }
  if (!reduceV && height > sh) {
    std::vector<uint8_t> scratch(static_cast<size_t>(outRow * height));
    EnlargeRows(d.data(), scratch.data(), sh, height, outRow);
  }
  d.resize(static_cast<size_t>(outRow * height));
  return d;
}

int32_t NearestPalColor(int32_t red, int32_t green, int32_t blue, int32_t count,
                        const uint8_t* palette) {
  int32_t best = INT32_MAX, index = 0;
  for (int32_t i = 0; i < count; i++) {
    const uint8_t* e = palette + i * 3;
    const int32_t dg = green - e[1];
    int32_t d = PalOpt::kWeightG * dg * dg;
    if (d > best) continue;
    const int32_t dr = red - e[2], db = blue - e[0];
    d += PalOpt::kWeightR * dr * dr + PalOpt::kWeightB * db * db;
    if (d < best) {
      best = d;
      index = i;
    }
  }
  return index;
}

// One cube cell per pixel, one increment and one colour added per pixel.
struct Counted {
  std::vector<int32_t> cube = std::vector<int32_t>(PalOpt::kCubeCells, -1);
  std::vector<int64_t> sums = std::vector<int64_t>(PalOpt::kCubeCells * size_t{3}, 0);
};

Counted Count(const Qimg& img) {
  Counted c;
  const int64_t n = static_cast<int64_t>(img.width) * img.height;
  for (int64_t i = 0; i < n; i++) {
    const uint8_t* p = img.data + i * img.bytesPerPixel;
    const size_t at = static_cast<size_t>(PalOpt::CellOf(p[2], p[1], p[0]));
    if (c.cube[at] == INT32_MAX) continue;
    c.cube[at]++;
    for (size_t k = 0; k < 3; k++) c.sums[at * 3 + k] += p[k];
  }
  return c;
}

// The box statistics with one walk of the cube per question, as the median
// cut first did them: a plane scan for every bound moved, then the moments.
struct Moments {
  int64_t pixels = 0;
  int64_t sum[3] = {};
  int64_t plane[3][64] = {};
};

Moments Gather(const int32_t* cube, const PalOpt::PalBox& box) {
  Moments m;
  for (int32_t b = box.b0; b <= box.b1; b++)
    for (int32_t g = box.g0; g <= box.g1; g++)
      for (int32_t r = box.r0; r <= box.r1; r++) {
        const int32_t v = cube[r | (g << 6) | (b << 12)];
        if (v < 0) continue;
        const int64_t count = static_cast<int64_t>(v) + 1;
        m.pixels += count;
        m.sum[0] += r * count;
        m.sum[1] += g * count;
        m.sum[2] += b * count;
        m.plane[0][r] += count;
        m.plane[1][g] += count;
        m.plane[2][b] += count;
      }
  return m;
}

bool PlaneUsed(const int32_t* cube, const PalOpt::PalBox& box, int axis, int32_t at) {
  const int32_t rLo = axis == 0 ? at : box.r0, rHi = axis == 0 ? at : box.r1;
  const int32_t gLo = axis == 1 ? at : box.g0, gHi = axis == 1 ? at : box.g1;
  const int32_t bLo = axis == 2 ? at : box.b0, bHi = axis == 2 ? at : box.b1;
  for (int32_t b = bLo; b <= bHi; b++)
    for (int32_t g = gLo; g <= gHi; g++)
      for (int32_t r = rLo; r <= rHi; r++)
        if (cube[r | (g << 6) | (b << 12)] != -1) return true;
  return false;
}

int32_t RoundHalfEven(int64_t num, int64_t den) {
  int64_t q = num / den;
  const int64_t twice = 2 * (num % den);
  if (twice > den || (twice == den && (q & 1))) q++;
  return static_cast<int32_t>(q);
}

void ShrinkBox(const int32_t* cube, PalOpt::PalBox& box) {
  auto shrink = [&](int axis, int32_t& lo, int32_t& hi) {
    while (lo < hi && !PlaneUsed(cube, box, axis, lo)) lo++;
    while (hi > lo && !PlaneUsed(cube, box, axis, hi)) hi--;
  };
  shrink(0, box.r0, box.r1);
  shrink(1, box.g0, box.g1);
  shrink(2, box.b0, box.b1);
  box.extR = box.r1 - box.r0;
  box.extG = box.g1 - box.g0;
  box.extB = box.b1 - box.b0;
  box.size = PalOpt::kWeightR * box.extR * box.extR + PalOpt::kWeightG * box.extG * box.extG +
             PalOpt::kWeightB * box.extB * box.extB;
  const Moments m = Gather(cube, box);
  const int32_t lows[3] = {box.r0, box.g0, box.b0};
  const int32_t highs[3] = {box.r1, box.g1, box.b1};
  const int32_t weights[3] = {PalOpt::kWeightR, PalOpt::kWeightG, PalOpt::kWeightB};
  double spreads[3] = {0, 0, 0};
  int32_t splits[3] = {lows[0], lows[1], lows[2]};
  using u128 = unsigned __int128;
  if (m.pixels > 0) {
    for (int axis = 0; axis < 3; axis++) {
      const int32_t mean = RoundHalfEven(m.sum[axis], m.pixels);
      auto term = [&](int32_t p) {
        const int64_t d = p - mean;
        return static_cast<u128>(m.plane[axis][p]) * static_cast<u128>(weights[axis] * d * d);
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

// The boxes of the median cut over a counted cube.
std::vector<PalOpt::PalBox> SplitBoxes(const int32_t* cube, int wanted) {
  std::vector<PalOpt::PalBox> boxes(1);
  boxes[0] = PalOpt::PalBox{};
  boxes[0].r1 = boxes[0].g1 = boxes[0].b1 = 63;
  ShrinkBox(cube, boxes[0]);
  while (static_cast<int>(boxes.size()) < wanted) {
    double best = -1;
    int chosen = -1, axis = -1;
    for (int i = 0; i < static_cast<int>(boxes.size()); i++) {
      const PalOpt::PalBox& b = boxes[static_cast<size_t>(i)];
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
    PalOpt::PalBox fresh = boxes[static_cast<size_t>(chosen)];
    PalOpt::PalBox& old = boxes[static_cast<size_t>(chosen)];
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
    ShrinkBox(cube, old);
    ShrinkBox(cube, fresh);
    boxes.push_back(fresh);
  }
  return boxes;
}

// A 3×3 filter byte by byte through the product table, 16-bit wrapping sums.
std::vector<uint8_t> Filter(const Qimg& s, const Impress::FilterKernel& kernel) {
  const int64_t width = s.width, height = s.height, bpp = s.bytesPerPixel;
  const int64_t rowLen = width * bpp;
  std::vector<uint8_t> out(static_cast<size_t>(rowLen * height));
  if (width < 3) {
    std::memcpy(out.data(), s.data, out.size());
    return out;
  }
  int16_t multbl[9 * 256];
  for (int k = 0; k < 9; k++)
    for (int v = 0; v < 256; v++)
      multbl[k * 256 + v] = static_cast<int16_t>(kernel.weights[k] * v);
  for (int64_t y = 0; y < height; y++) {
    const uint8_t* rows[3] = {s.data + (y > 0 ? y - 1 : y) * rowLen, s.data + y * rowLen,
                              s.data + (y < height - 1 ? y + 1 : y) * rowLen};
    for (int64_t x = 0; x < width; x++) {
      const int64_t cols[3] = {(x > 0 ? x - 1 : x) * bpp, x * bpp,
                               (x < width - 1 ? x + 1 : x) * bpp};
      for (int64_t c = 0; c < bpp; c++) {
        int16_t sum = 0;
        for (int r = 0; r < 3; r++)
          for (int q = 0; q < 3; q++)
            sum = static_cast<int16_t>(sum + multbl[(r * 3 + q) * 256 + rows[r][cols[q] + c]]);
        out[static_cast<size_t>(y * rowLen + x * bpp + c)] = static_cast<uint8_t>(
            std::clamp<int64_t>(static_cast<int64_t>(sum >> kernel.shift) + kernel.bias, 0, 255));
      }
    }
  }
  return out;
}

}  // namespace plain

// ---- depth conversion -----------------------------------------------------------

TEST_F(FastPaths, DepthConversionsMatchThePixelByPixelVersion) {
  const int depths[4] = {15, 16, 24, 32};
  for (int from : depths)
    for (int to : depths) {
      if (from == to) continue;
      for (int trial = 0; trial < 3; trial++) {
        Qimg src = Random(Uniform(1, 70), Uniform(1, 9), from, trial == 2);
        const std::vector<uint8_t> want = plain::Convert(src, to);
        Qimg dst;
        ImgBasic::ImgConvBpp(&src, &dst, to);
        ASSERT_EQ(dst.bitsPerPixel, to);
        EXPECT_EQ(Bytes(dst), want) << from << " -> " << to;
        ImgBasic::ImgFree(&dst);
        // In place takes the same path.
        ImgBasic::ImgConvBpp(&src, &src, to);
        EXPECT_EQ(Bytes(src), want) << from << " -> " << to << " in place";
        ImgBasic::ImgFree(&src);
      }
    }
}

// ---- resize and resample -----------------------------------------------------------

TEST_F(FastPaths, ResizeColumnTableMatchesPerPixelIndices) {
  for (int bits : {8, 24}) {
    for (int trial = 0; trial < 40; trial++) {
      Qimg src = Random(Uniform(1, 50), Uniform(1, 30), bits);
      const int w = Uniform(1, 120), h = Uniform(1, 70);
      const std::vector<uint8_t> want = plain::Resize(src, w, h);
      Qimg dst;
      ImgBasic::ImgResize(&src, &dst, w, h);
      ASSERT_EQ(dst.width, w);
      ASSERT_EQ(dst.height, h);
      EXPECT_EQ(Bytes(dst), want) << src.width << "x" << src.height << " -> " << w << "x" << h;
      ImgBasic::ImgFree(&dst);
      ImgBasic::ImgFree(&src);
    }
  }
}

TEST_F(FastPaths, ResampleRunTablesAndDivisionsMatchThePlainVersion) {
  // Halving, thirds, odd factors, enlargements by 2 to 9, mixed directions,
  // and a movie frame brought to VCD size (runs of one and two both ways).
  const int sizes[][4] = {{100, 60, 50, 30}, {99, 61, 33, 20}, {7, 5, 3, 2},
                          {640, 3, 1, 1},    {13, 17, 26, 34}, {10, 10, 97, 21},
                          {50, 40, 49, 41},  {5, 300, 3, 7},   {2, 2, 1, 1},
                          {640, 480, 352, 288}};
  for (const auto& sz : sizes) {
    Qimg src = Random(sz[0], sz[1], 24, sz[0] % 2 == 0);
    const std::vector<uint8_t> want = plain::Resample(src, sz[2], sz[3]);
    Qimg dst;
    ImgBasic::ImgResample(&src, &dst, sz[2], sz[3]);
    EXPECT_EQ(Bytes(dst), want) << sz[0] << "x" << sz[1] << " -> " << sz[2] << "x" << sz[3];
    ImgBasic::ImgFree(&dst);
    ImgBasic::ImgFree(&src);
  }
  for (int trial = 0; trial < 40; trial++) {
    Qimg src = Random(Uniform(1, 80), Uniform(1, 40), 24);
    const int w = Uniform(1, 160), h = Uniform(1, 80);
    const std::vector<uint8_t> want = plain::Resample(src, w, h);
    Qimg dst;
    ImgBasic::ImgResample(&src, &dst, w, h);
    EXPECT_EQ(Bytes(dst), want) << src.width << "x" << src.height << " -> " << w << "x" << h;
    ImgBasic::ImgFree(&dst);
    ImgBasic::ImgFree(&src);
  }
}

TEST_F(FastPaths, LongRunsDivideThePlainWay) {
  // A run of 70000 pixels is past the multiply's range: one output pixel
  // from a 70001-pixel row, and one row from 70001 rows.
  Qimg wide = Random(70001, 1, 24);
  Qimg out;
  ImgBasic::ImgResample(&wide, &out, 1, 1);
  EXPECT_EQ(Bytes(out), plain::Resample(wide, 1, 1));
  ImgBasic::ImgFree(&out);
  Qimg tall = Random(2, 70001, 24);
  ImgBasic::ImgResample(&tall, &out, 2, 1);
  EXPECT_EQ(Bytes(out), plain::Resample(tall, 2, 1));
}

// ---- palette ----------------------------------------------------------------

TEST_F(FastPaths, NearestColourMatchesTheLinearSearchWithLowestIndexOnTies) {
  uint8_t palette[768];
  for (int trial = 0; trial < 300; trial++) {
    // Few distinct values make many equal distances.
    const int levels = trial % 3 == 0 ? 3 : 256;
    for (int k = 0; k < 768; k++)
      palette[k] = static_cast<uint8_t>(Uniform(0, levels - 1) * (255 / std::max(1, levels - 1)));
    const int count = trial % 7 == 0 ? Uniform(1, 7) : Uniform(1, 256);
    for (int q = 0; q < 20; q++) {
      const int r = Uniform(0, 255), g = Uniform(0, 255), b = Uniform(0, 255);
      ASSERT_EQ(PalOpt::NearestPalColor(r, g, b, count, palette),
                plain::NearestPalColor(r, g, b, count, palette))
          << "count " << count << " colour " << r << "," << g << "," << b;
    }
  }
  // Extremes: black against white entries and the reverse.
  std::memset(palette, 255, sizeof palette);
  palette[300] = palette[301] = palette[302] = 0;
  EXPECT_EQ(PalOpt::NearestPalColor(0, 0, 0, 256, palette), 100);
  EXPECT_EQ(PalOpt::NearestPalColor(255, 255, 255, 256, palette), 0);
}

TEST_F(FastPaths, CountingRunsMatchesOneIncrementPerPixel) {
  for (int bits : {24, 32}) {
    for (bool runs : {false, true}) {
      Qimg img = Random(Uniform(1, 300), Uniform(1, 40), bits, runs);
      const plain::Counted want = plain::Count(img);
      PalOpt::PalInit();
      PalOpt::PalCountColors(&img);
      const PalOpt::WorkArea* a = PalOpt::PalWorkArea();
      ASSERT_NE(a, nullptr);
      EXPECT_TRUE(std::equal(want.cube.begin(), want.cube.end(), a->cube)) << bits << " bits";
      EXPECT_TRUE(std::equal(want.sums.begin(), want.sums.end(), &a->sums[0][0])) << bits << " bits";
      PalOpt::PalDone();
      ImgBasic::ImgFree(&img);
    }
  }
}

TEST_F(FastPaths, MedianCutBoxesMatchThePlaneScans) {
  for (int trial = 0; trial < 6; trial++) {
    Qimg img = Random(Uniform(50, 200), Uniform(20, 60), 24, trial % 2 == 1);
    const int wanted = trial < 3 ? 256 : Uniform(2, 64);
    PalOpt::PalInit();
    PalOpt::PalCountColors(&img);
    const std::vector<int32_t> counted(PalOpt::PalWorkArea()->cube,
                                       PalOpt::PalWorkArea()->cube + PalOpt::kCubeCells);
    PalOpt::PalReduce(wanted);
    const PalOpt::WorkArea* a = PalOpt::PalWorkArea();
    if (a->boxCount == 0) {  // fewer colours than wanted: no cut at all
      PalOpt::PalDone();
      ImgBasic::ImgFree(&img);
      continue;
    }
    const std::vector<PalOpt::PalBox> want = plain::SplitBoxes(counted.data(), a->wanted);
    ASSERT_EQ(a->boxCount, static_cast<int>(want.size()));
    for (int i = 0; i < a->boxCount; i++)
      EXPECT_EQ(std::memcmp(&a->boxes[i], &want[static_cast<size_t>(i)], sizeof(PalOpt::PalBox)), 0)
          << "box " << i;
    PalOpt::PalDone();
    ImgBasic::ImgFree(&img);
  }
}

TEST_F(FastPaths, RemapRunsMatchOneLookupPerPixel) {
  for (bool runs : {false, true}) {
    Qimg img = Random(Uniform(20, 200), Uniform(4, 30), 24, runs);
    PalOpt::PalInit();
    PalOpt::PalCountColors(&img);
    PalOpt::PalReduce(256);
    std::vector<uint8_t> want(static_cast<size_t>(img.width) * img.height);
    const PalOpt::WorkArea* a = PalOpt::PalWorkArea();
    for (size_t i = 0; i < want.size(); i++) {
      const uint8_t* p = img.data + i * 3;
      want[i] = static_cast<uint8_t>(a->cube[PalOpt::CellOf(p[2], p[1], p[0])]);
    }
    Qimg out;
    PalOpt::PalRemap(&img, &out, PalOpt::kDitherNone);
    EXPECT_EQ(Bytes(out), want);
    ImgBasic::ImgFree(&out);
    PalOpt::PalDone();
    ImgBasic::ImgFree(&img);
  }
}

// ---- filters -------------------------------------------------------------------

TEST_F(FastPaths, FiltersMatchTheTableVersionIncludingWrapAndClamp) {
  const Impress::FilterKernel kernels[] = {
      {{1, 1, 1, 1, 8, 1, 1, 1, 1}, 4, 0},
      {{0, -1, 0, -1, 8, -1, 0, -1, 0}, 2, 0},
      {{-1, -3, -1, -3, 16, -3, -1, -3, -1}, 0, 0},
      {{-1, -2, -1, -2, 16, -2, -1, -2, -1}, 2, 0},
      // Products past 16 bits wrap; a bias pushes sums past the byte range.
      {{300, -200, 17, 90, 127, -128, 5, 1000, -999}, 3, 100},
      {{2, 2, 2, 2, 2, 2, 2, 2, 2}, 1, -30000},
  };
  for (const auto& k : kernels) {
    for (int trial = 0; trial < 12; trial++) {
      const int w = trial < 4 ? 3 + trial : Uniform(3, 90);
      Qimg src = Random(w, Uniform(1, 6), 24, trial % 3 == 0);
      const std::vector<uint8_t> want = plain::Filter(src, k);
      Qimg dst;
      Impress::AutoFilter_(&src, &dst, ImgBasic::kOpSoften, k);
      EXPECT_EQ(Bytes(dst), want) << src.width << "x" << src.height;
      ImgBasic::ImgFree(&dst);
      ImgBasic::ImgFree(&src);
    }
  }
}

}  // namespace
