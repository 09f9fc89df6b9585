// Geometry and pixel operations on `Qimg`: table remap, nearest-pixel resize,
// smooth resample, crop, quarter turns, flips, red/blue exchange and pasting.
// Every one runs in the operation frame (ImgInfo, ImgInitEx, ImgDone).
#include <algorithm>
#include <cstring>

#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"
#include "foundation/MiscProcs.h"
#include "media/ImgBasic.h"

using Errors::ErrSet;

namespace ImgBasic {
namespace {

// Fixed-point unit of the resize and resample steps.
constexpr int64_t kUnit = 100000;

inline uint8_t* PixelAt(const Qimg* image, int64_t x, int64_t y) {
  return image->data +
         (y * image->width + x) * static_cast<int64_t>(image->bytesPerPixel);
}

inline int64_t RowBytes(const Qimg* image) {
  return static_cast<int64_t>(image->width) * image->bytesPerPixel;
}

// The operation frame around a body: descriptor, prepare, body, finish.
template <class Body>
void RunOp(int32_t code, Qimg* source, Qimg* dest, int32_t newHeight,
           int32_t newWidth, Body&& body) {
  ImgInfoRec info;
  ImgInfo(&info, code);
  ImgOpState work;
  ImgInitEx(&info, &work, source, newHeight, newWidth, dest);
  body(work);
  ImgDone(&work);
}

// Source index of output element k for a step: the nearest at or before the
// exact position when enlarging, at or after it when reducing; never past
// the last element.
inline int64_t NearestIndex(int64_t k, int64_t step, int64_t count) {
  const int64_t v = step <= kUnit ? k * step / kUnit
                                  : (k * step + kUnit - 1) / kUnit;
  return std::min(v, count - 1);
}

// ---- one-dimensional resampling steps ---------------------------------------
// An element is a pixel (3 bytes) or a whole row; in(i) and out(o) give the
// i-th element in walking order.

void MeanBytes(uint8_t* out, const uint8_t* a, const uint8_t* b, int64_t len) {
  for (int64_t i = 0; i < len; i++)
    out[i] = static_cast<uint8_t>((a[i] + b[i]) / 2);
}

// Every element followed by the mean of itself and the next; the last one by
// a copy of itself. Gives 2 × count elements.
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

// Stretches count elements to target (count < target < 2 × count): each
// element is copied; whenever the accumulator falls behind the position, a
// mean of the element and the next one is put in between.
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

// Exact division of a byte sum by a run length through a multiply: with
// m = ceil(2^40 / n), (sum · m) >> 40 is sum div n for every sum up to
// 255 · n while 255 · n² < 2^40, which holds for runs below 65536. Longer
// runs divide the plain way.
struct RunDivisor {
  uint64_t m = 0;
  uint32_t n = 1;
  explicit RunDivisor(uint32_t runLength) : n(runLength) {
    if (n < 65536) m = ((uint64_t{1} << 40) + n - 1) / n;
  }
  uint32_t Div(uint32_t sum) const {
    return m ? static_cast<uint32_t>((sum * m) >> 40) : sum / n;
  }
};

// The runs of a horizontal reduction, the same for every row: output pixel
// k is the truncated mean of count[k] source pixels from first[k] on (byte
// offsets, last[k] the run's last pixel). A run stops at the row's last
// pixel, even when the accumulator would take one more (widths that divide
// exactly). pairs: no run is longer than two pixels.
struct ReduceTable {
  int32_t* first = nullptr;  // tracked
  int32_t* last = nullptr;   // tracked
  int32_t* count = nullptr;  // tracked
  int64_t outWidth = 0;
  bool pairs = true;
  int64_t wordSafe = 0;  // leading outputs whose 4-byte reads and writes stay in the rows
};

void MakeReduceTable(ReduceTable& t, int64_t srcWidth, int64_t outWidth,
                     int64_t step) {
  Basic::MemAlloc(t.first, outWidth * 4, __LINE__, Basic::kMemPlain,
                  "ImgBasic.ImgResample.first");
  Basic::MemAlloc(t.last, outWidth * 4, __LINE__, Basic::kMemPlain,
                  "ImgBasic.ImgResample.last");
  Basic::MemAlloc(t.count, outWidth * 4, __LINE__, Basic::kMemPlain,
                  "ImgBasic.ImgResample.count");
  t.outWidth = outWidth;
  int64_t acc = 0, pos = 0, p = 0;
  for (int64_t k = 0; k < outWidth; k++) {
    acc += step;
    const int64_t first = std::min(p, srcWidth - 1);
    int32_t n = 1;
    p++;
    pos += kUnit;
    if (acc >= pos) {
      do {
        pos += kUnit;
        if (p < srcWidth) n++;
        p++;
      } while (pos < acc);
    }
    t.first[k] = static_cast<int32_t>(first * 3);
    t.last[k] = static_cast<int32_t>((first + n - 1) * 3);
    t.count[k] = n;
    if (n > 2) t.pairs = false;
  }
  const int64_t rowBytes = srcWidth * 3;
  while (t.wordSafe + 1 < outWidth && t.last[t.wordSafe] + 4 <= rowBytes) t.wordSafe++;
}

void FreeReduceTable(ReduceTable& t) {
  Basic::MemFree(t.first);
  Basic::MemFree(t.last);
  Basic::MemFree(t.count);
}

// Horizontal reduction of one 24-bit row through its run table.
void ReduceRow(const uint8_t* src, uint8_t* out, const ReduceTable& t) {
  if (t.pairs) {
    // Runs of one or two pixels: the mean of a pixel with itself or with
    // its neighbour, without a branch per pixel. Three channels at once in
    // a 32-bit word: the truncated mean of each byte is (p & q) plus half
    // of (p ^ q) with every byte's low bit dropped; the fourth byte written
    // is the next pixel's, which the next step writes again.
    const int32_t* a = t.first;
    const int32_t* b = t.last;
    int64_t k = 0;
    for (; k < t.wordSafe; k++) {
      uint32_t p, q;
      std::memcpy(&p, src + a[k], 4);
      std::memcpy(&q, src + b[k], 4);
      const uint32_t mean = (p & q) + (((p ^ q) & 0xFEFEFEFEu) >> 1);
      std::memcpy(out + k * 3, &mean, 4);
    }
    for (; k < t.outWidth; k++) {
      const uint8_t* p = src + a[k];
      const uint8_t* q = src + b[k];
      out[k * 3] = static_cast<uint8_t>((p[0] + q[0]) >> 1);
      out[k * 3 + 1] = static_cast<uint8_t>((p[1] + q[1]) >> 1);
      out[k * 3 + 2] = static_cast<uint8_t>((p[2] + q[2]) >> 1);
    }
    return;
  }
  for (int64_t k = 0; k < t.outWidth; k++) {
    const uint8_t* q = src + t.first[k];
    const int32_t n = t.count[k];
    uint32_t sb = q[0], sg = q[1], sr = q[2];
    for (int32_t i = 1; i < n; i++) {
      sb += q[i * 3];
      sg += q[i * 3 + 1];
      sr += q[i * 3 + 2];
    }
    const RunDivisor d(static_cast<uint32_t>(n));
    out[k * 3] = static_cast<uint8_t>(d.Div(sb));
    out[k * 3 + 1] = static_cast<uint8_t>(d.Div(sg));
    out[k * 3 + 2] = static_cast<uint8_t>(d.Div(sr));
  }
}

// Enlarges one 24-bit row: doubling while the remaining factor is above 1,
// then a stretch to the exact width. bufA and bufB hold a row of outWidth.
void EnlargeRow(const uint8_t* src, int64_t srcWidth, uint8_t* out,
                int64_t outWidth, uint8_t* bufA, uint8_t* bufB) {
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
  if (len < outWidth) {
    StretchRun(len, outWidth, 3, [&](int64_t i) { return cur + i * 3; },
               [&](int64_t o) { return out + o * 3; });
  } else {
    std::memcpy(out, cur, static_cast<size_t>(outWidth * 3));
  }
}

// The mean of n rows of len bytes from `first` on, truncated, into out.
void MeanOfRows(const uint8_t* first, int64_t rowLen, int64_t len, uint32_t n,
                uint8_t* out, uint32_t* sums) {
  if (n == 2) {
    MeanBytes(out, first, first + rowLen, len);
    return;
  }
  for (int64_t b = 0; b < len; b++) sums[b] = first[b];
  for (uint32_t i = 1; i < n; i++) {
    const uint8_t* row = first + i * rowLen;
    for (int64_t b = 0; b < len; b++) sums[b] += row[b];
  }
  const RunDivisor d(n);
  if (d.m) {
    const uint64_t m = d.m;
    for (int64_t b = 0; b < len; b++) out[b] = static_cast<uint8_t>((sums[b] * m) >> 40);
  } else {
    for (int64_t b = 0; b < len; b++) out[b] = static_cast<uint8_t>(sums[b] / n);
  }
}

// Vertical reduction: output row j is the mean of a run of source rows,
// handed row by row to `emit` (a run of one row is the source row itself),
// so no intermediate picture is made.
template <class Emit>
void ReduceRows(const Qimg* src, int64_t outHeight, int64_t step, uint8_t* rowBuf,
                uint32_t* sums, Emit&& emit) {
  const int64_t rowLen = RowBytes(src);
  int64_t acc = 0, pos = 0, r = 0;
  for (int64_t j = 0; j < outHeight; j++) {
    acc += step;
    pos += kUnit;
    const int64_t first = std::min<int64_t>(r, src->height - 1);
    uint32_t n = 1;
    r++;
    while (pos < acc) {
      if (r < src->height) n++;
      r++;
      pos += kUnit;
    }
    const uint8_t* row = src->data + first * rowLen;
    if (n > 1) {
      MeanOfRows(row, rowLen, rowLen, n, rowBuf, sums);
      row = rowBuf;
    }
    emit(j, row);
  }
}

// Vertical enlargement of the count rows at the top of `rows` (top-down) to
// target rows, ping-ponging with `scratch`. The first pass walks bottom-up
// (reading from the last row, writing from the last position), and every
// doubling pass turns the direction round for the next. Leaves the result
// in `rows`.
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
    auto in = [&](int64_t i) {
      return from + (bottomUp ? inLen - 1 - i : i) * rowLen;
    };
    auto out = [&](int64_t o) {
      return to + (bottomUp ? outLen - 1 - o : o) * rowLen;
    };
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

}  // namespace

// Paste body shared by insert and sprite: the destination keeps its size; the
// pasted part is clipped on all four sides.
void AutoPut_(Qimg* source, Qimg* dest, int32_t x, int32_t y,
              uint32_t transparent, bool sprite) {
  Errors::Monitored("ImgBasic.AutoPut_", [&] {
    if (!dest) {
      ErrSet(Errors::kErrImageFunctionInit, __LINE__);
      return;
    }
    if (x >= dest->width || y >= dest->height || source == dest)
      Errors::MonAbort();
    if (!ImgIsValid(source)) {
      ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    // Part of the source left of or above the destination is skipped.
    const int64_t skipX = x < 0 ? -static_cast<int64_t>(x) : 0;
    const int64_t skipY = y < 0 ? -static_cast<int64_t>(y) : 0;
    const int64_t dx = std::max<int64_t>(x, 0), dy = std::max<int64_t>(y, 0);
    const int64_t w = std::min<int64_t>(source->width - skipX, dest->width - dx);
    const int64_t h = std::min<int64_t>(source->height - skipY, dest->height - dy);
    if (w <= 0 || h <= 0) Errors::MonAbort();

    RunOp(sprite ? kOpSprite : kOpInsert, source, dest, dest->height,
          dest->width, [&](ImgOpState& op) {
            const Qimg* s = op.src;
            Qimg* d = op.dest;
            const int32_t bpp = s->bytesPerPixel;
            uint32_t mask = 0xFFFFFFFFu;
            if (bpp < 4) mask = (1u << (8 * bpp)) - 1;
            const uint32_t key = transparent & mask;
            for (int64_t r = 0; r < h; r++) {
              const uint8_t* in = PixelAt(s, skipX, skipY + r);
              uint8_t* out = PixelAt(d, dx, dy + r);
              if (!sprite) {
                std::memcpy(out, in, static_cast<size_t>(w * bpp));
                continue;
              }
              for (int64_t c = 0; c < w; c++, in += bpp, out += bpp) {
                uint32_t v = 0;
                for (int32_t b = 0; b < bpp; b++)
                  v |= static_cast<uint32_t>(in[b]) << (8 * b);
                if (v != key) std::memcpy(out, in, static_cast<size_t>(bpp));
              }
            }
          });
  });
}

void ImgRemap(Qimg* source, Qimg* dest, const uint8_t* tables) {
  Errors::Monitored("ImgBasic.ImgRemap", [&] {
    if (!tables) {
      ErrSet(Errors::kErrOutOfRange, __LINE__);
      return;
    }
    RunOp(kOpRemap, source, dest, source ? source->height : 0,
          source ? source->width : 0, [&](ImgOpState& op) {
            const uint8_t* red = tables;
            const uint8_t* green = tables + 256;
            const uint8_t* blue = tables + 512;
            const uint8_t* in = op.srcRun;
            uint8_t* out = op.destRun;
            for (int64_t i = 0; i < op.itemCount; i++, in += 3, out += 3) {
              const uint8_t b = in[0], g = in[1], r = in[2];
              out[0] = blue[b];
              out[1] = green[g];
              out[2] = red[r];
            }
          });
  });
}

void ImgResize(Qimg* source, Qimg* dest, int32_t width, int32_t height) {
  Errors::Monitored("ImgBasic.ImgResize", [&] {
    RunOp(kOpResize, source, dest, height, width, [&](ImgOpState& op) {
      const Qimg* s = op.src;
      Qimg* d = op.dest;
      const int64_t bpp = s->bytesPerPixel;
      const int64_t xStep = static_cast<int64_t>(s->width) * kUnit / width;
      const int64_t yStep = static_cast<int64_t>(s->height) * kUnit / height;
      const int64_t outRow = static_cast<int64_t>(width) * bpp;
      // The source column of each output column, as a byte offset, made
      // once for all rows.
      int64_t* cols = nullptr;
      Basic::MemAlloc(cols, static_cast<int64_t>(width) * 8, __LINE__,
                      Basic::kMemPlain, "ImgBasic.ImgResize.cols");
      for (int64_t k = 0; k < width; k++)
        cols[k] = NearestIndex(k, xStep, s->width) * bpp;
      int64_t lastRow = -1;
      for (int64_t j = 0; j < height; j++) {
        uint8_t* out = d->data + j * outRow;
        const int64_t row = NearestIndex(j, yStep, s->height);
        if (row == lastRow) {  // still the nearest: repeat the finished row
          std::memcpy(out, out - outRow, static_cast<size_t>(outRow));
          continue;
        }
        lastRow = row;
        const uint8_t* in = PixelAt(s, 0, row);
        switch (bpp) {
          case 1:
            for (int64_t k = 0; k < width; k++) out[k] = in[cols[k]];
            break;
          case 2:
            for (int64_t k = 0; k < width; k++) std::memcpy(out + k * 2, in + cols[k], 2);
            break;
          case 3:
            for (int64_t k = 0; k < width; k++) std::memcpy(out + k * 3, in + cols[k], 3);
            break;
          case 4:
            for (int64_t k = 0; k < width; k++) std::memcpy(out + k * 4, in + cols[k], 4);
            break;
          default:
            for (int64_t k = 0; k < width; k++)
              std::memcpy(out + k * bpp, in + cols[k], static_cast<size_t>(bpp));
        }
      }
      Basic::MemFree(cols);
    });
  });
}

void ImgResample(Qimg* source, Qimg* dest, int32_t width, int32_t height) {
  Errors::Monitored("ImgBasic.ImgResample", [&] {
    RunOp(kOpResample, source, dest, height, width, [&](ImgOpState& op) {
      const Qimg* s = op.src;
      Qimg* d = op.dest;
      const int64_t sw = s->width, sh = s->height;
      const int64_t xStep = sw * kUnit / width;
      const int64_t yStep = sh * kUnit / height;
      const bool reduceV = height / sh == 0;
      const int64_t longest = std::max(sw, static_cast<int64_t>(width)) * 3;
      uint8_t* tmpbuf1 = nullptr;
      Basic::MemAlloc(tmpbuf1, longest * 3, __LINE__, Basic::kMemPlain,
                      "ImgBasic.ImgResample.tmpbuf1");

      // Each output row: the vertical mean first (when reducing), then the
      // row made horizontally into the destination.
      const int64_t outRow = static_cast<int64_t>(width) * 3;
      ReduceTable runs;
      if (xStep > kUnit) MakeReduceTable(runs, sw, width, xStep);
      auto makeRow = [&](int64_t j, const uint8_t* in) {
        uint8_t* out = d->data + j * outRow;
        if (xStep > kUnit)
          ReduceRow(in, out, runs);
        else
          EnlargeRow(in, sw, out, width, tmpbuf1, tmpbuf1 + longest);
      };
      if (reduceV) {
        uint8_t* rowBuf = nullptr;
        uint32_t* sums = nullptr;
        Basic::MemAlloc(rowBuf, sw * 3, __LINE__, Basic::kMemPlain,
                        "ImgBasic.ImgResample.row");
        Basic::MemAlloc(sums, sw * 3 * static_cast<int64_t>(sizeof(uint32_t)),
                        __LINE__, Basic::kMemPlain,
                        "ImgBasic.ImgResample.sums");
        ReduceRows(s, height, yStep, rowBuf, sums, makeRow);
        Basic::MemFree(sums);
        Basic::MemFree(rowBuf);
      } else {
        for (int64_t j = 0; j < sh; j++) makeRow(j, s->data + j * sw * 3);
      }
      if (runs.first) FreeReduceTable(runs);
      Basic::MemFree(tmpbuf1);

      if (!reduceV && height > sh) {
        uint8_t* scratch = nullptr;
        Basic::MemAlloc(scratch, outRow * height, __LINE__, Basic::kMemPlain,
                        "ImgBasic.ImgResample.rows");
        EnlargeRows(d->data, scratch, sh, height, outRow);
        Basic::MemFree(scratch);
      }
    });
  });
}

void ImgCrop(Qimg* source, Qimg* dest, int32_t x, int32_t y, int32_t width,
             int32_t height) {
  Errors::Monitored("ImgBasic.ImgCrop", [&] {
    if (!ImgIsValid(source)) {
      ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    if (x >= source->width || y >= source->height) Errors::MonAbort();
    if (width < 1 || height < 1) {
      ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    // Clip the rectangle to the image on all four sides.
    int64_t cx = x, cy = y, cw = width, ch = height;
    if (cx < 0) {
      cw += cx;
      cx = 0;
    }
    if (cy < 0) {
      ch += cy;
      cy = 0;
    }
    cw = std::min<int64_t>(cw, source->width - cx);
    ch = std::min<int64_t>(ch, source->height - cy);
    if (cw <= 0 || ch <= 0) Errors::MonAbort();

    RunOp(kOpCrop, source, dest, static_cast<int32_t>(ch),
          static_cast<int32_t>(cw), [&](ImgOpState& op) {
            const Qimg* s = op.src;
            const int64_t bpp = s->bytesPerPixel;
            // Rows move towards the start of the block, so an in-place
            // crop never overwrites a row it has still to read.
            for (int64_t r = 0; r < ch; r++)
              std::memmove(op.dest->data + r * cw * bpp, PixelAt(s, cx, cy + r),
                           static_cast<size_t>(cw * bpp));
          });
  });
}

void ImgRotate(Qimg* source, Qimg* dest, int32_t direction) {
  Errors::Monitored("ImgBasic.ImgRotate", [&] {
    if (!ImgIsValid(source)) {
      ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    const bool quarter =
        direction == kRotateClockwise || direction == kRotateAnticlockwise;
    const int32_t nw = quarter ? source->height : source->width;
    const int32_t nh = quarter ? source->width : source->height;
    RunOp(kOpRotate, source, dest, nh, nw, [&](ImgOpState& op) {
      const Qimg* s = op.src;
      const int64_t sw = s->width, sh = s->height;
      const int64_t bpp = s->bytesPerPixel;
      uint8_t* out = op.dest->data;
      for (int64_t i = 0; i < nh; i++) {
        for (int64_t j = 0; j < nw; j++, out += bpp) {
          int64_t sx, sy;
          switch (direction) {
            case kRotateClockwise:  // row i = column i read upwards
              sx = i;
              sy = sh - 1 - j;
              break;
            case kRotateAnticlockwise:  // row i = column w-1-i read downwards
              sx = sw - 1 - i;
              sy = j;
              break;
            case kRotateHalf:
              sx = sw - 1 - j;
              sy = sh - 1 - i;
              break;
            default:
              sx = j;
              sy = i;
          }
          std::memcpy(out, PixelAt(s, sx, sy), static_cast<size_t>(bpp));
        }
      }
    });
  });
}

void ImgFlipV(Qimg* source, Qimg* dest) {
  Errors::Monitored("ImgBasic.ImgFlipV", [&] {
    RunOp(kOpFlipV, source, dest, source ? source->height : 0,
          source ? source->width : 0, [&](ImgOpState& op) {
            const Qimg* s = op.src;
            const int64_t rowLen = RowBytes(s);
            const int64_t h = s->height;
            if (op.src == op.dest) {
              for (int64_t i = 0; i < h / 2; i++)
                Basic::MemSwap(rowLen, s->data + i * rowLen,
                               s->data + (h - 1 - i) * rowLen);
            } else {
              for (int64_t i = 0; i < h; i++)
                std::memcpy(op.dest->data + i * rowLen,
                            s->data + (h - 1 - i) * rowLen,
                            static_cast<size_t>(rowLen));
            }
          });
  });
}

void ImgFlipH(Qimg* source, Qimg* dest) {
  Errors::Monitored("ImgBasic.ImgFlipH", [&] {
    RunOp(kOpFlipH, source, dest, source ? source->height : 0,
          source ? source->width : 0, [&](ImgOpState& op) {
            const Qimg* s = op.src;
            const int64_t bpp = s->bytesPerPixel;
            const int64_t w = s->width;
            for (int64_t r = 0; r < s->height; r++) {
              uint8_t* in = PixelAt(s, 0, r);
              uint8_t* out = PixelAt(op.dest, 0, r);
              if (in == out) {
                for (int64_t c = 0; c < w / 2; c++)
                  Basic::MemSwap(bpp, in + c * bpp, in + (w - 1 - c) * bpp);
              } else {
                for (int64_t c = 0; c < w; c++)
                  std::memcpy(out + c * bpp, in + (w - 1 - c) * bpp,
                              static_cast<size_t>(bpp));
              }
            }
          });
  });
}

void ImgSwapRB(Qimg* source, Qimg* dest) {
  Errors::Monitored("ImgBasic.ImgSwapRB", [&] {
    RunOp(kOpSwapRB, source, dest, source ? source->height : 0,
          source ? source->width : 0, [&](ImgOpState& op) {
            const int32_t n = op.itemBytes;
            const int32_t bits = op.src->bitsPerPixel;
            const uint8_t* in = op.srcRun;
            uint8_t* out = op.destRun;
            for (int64_t i = 0; i < op.itemCount; i++, in += n, out += n) {
              if (n >= 3) {
                const uint8_t first = in[0], third = in[2];
                std::memmove(out, in, static_cast<size_t>(n));
                out[0] = third;
                out[2] = first;
              } else if (n == 2) {
                // 5-bit red and blue fields exchange; green stays.
                const uint32_t v = in[0] | (in[1] << 8);
                const int redShift = bits == 15 ? 10 : 11;
                const uint32_t red = (v >> redShift) & 31, blue = v & 31;
                const uint32_t w = (v & ~((31u << redShift) | 31u)) |
                                   (blue << redShift) | red;
                out[0] = static_cast<uint8_t>(w);
                out[1] = static_cast<uint8_t>(w >> 8);
              }
            }
          });
  });
}

void ImgInsert(Qimg* source, Qimg* dest, int32_t x, int32_t y) {
  Errors::Monitored("ImgBasic.ImgInsert",
                    [&] { AutoPut_(source, dest, x, y, 0, false); });
}

void ImgSprite(Qimg* source, Qimg* dest, int32_t x, int32_t y,
               uint32_t transparent) {
  Errors::Monitored("ImgBasic.ImgSprite",
                    [&] { AutoPut_(source, dest, x, y, transparent, true); });
}

void FillColor(Qimg* image, int32_t firstPixel, int32_t count, uint32_t colour) {
  if (!image || !image->data || image->bytesPerPixel <= 0) return;
  // Never more pixels than the block holds, whatever the dimensions say.
  const int64_t pixels =
      std::min<int64_t>(static_cast<int64_t>(image->width) * image->height,
                        image->size / image->bytesPerPixel);
  if (pixels <= 0) return;
  MiscProcs::FillColor(image->data, static_cast<int32_t>(pixels), image->bitsPerPixel,
                       firstPixel, count, colour);
}

}  // namespace ImgBasic
