// A slow, literal palette quantiser written straight from the description of
// the algorithm, for cross-checking the library's: it walks every cell for
// every question, keeps its spreads and means in doubles, keeps the exact
// colours of each cell as a list of pixels rather than as sums, and dithers
// the heavy way by adding the errors into its own copy of the pixels.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "media/PalOpt.h"

namespace literal {

struct Box {
  int lo[3], hi[3];  // red, green, blue
  int size = 0;
  double spread[3] = {0, 0, 0};
  int split[3] = {0, 0, 0};
};

struct Quantiser {
  std::vector<int64_t> cube = std::vector<int64_t>(262144, -1);
  // Every counted pixel's exact red, green, blue, by cell.
  std::vector<std::vector<std::array<int, 3>>> seen =
      std::vector<std::vector<std::array<int, 3>>>(262144);
  uint8_t palette[768];
  int wanted = 0;
  std::vector<Box> boxes;

  static int Cell(int r, int g, int b) { return r / 4 + 64 * (g / 4) + 4096 * (b / 4); }
  int64_t& At(int r, int g, int b) { return cube[r + 64 * g + 4096 * b]; }

  void Add(int r8, int g8, int b8, int64_t n) {
    int64_t& c = cube[Cell(r8, g8, b8)];
    for (int64_t k = 0; k < n && c < 2147483647; k++) {
      c++;
      seen[Cell(r8, g8, b8)].push_back({r8, g8, b8});
    }
  }

  // Pixels as 8-bit red, green, blue triples.
  void Count(const std::vector<uint8_t>& rgb) {
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) Add(rgb[i], rgb[i + 1], rgb[i + 2], 1);
  }

  // Calls f(r, g, b) for every cell of the box; with axis >= 0 only for the
  // cells whose coordinate on that axis is p.
  template <class F>
  static void ForCells(const Box& b, int axis, int p, F f) {
    int lo[3] = {b.lo[0], b.lo[1], b.lo[2]}, hi[3] = {b.hi[0], b.hi[1], b.hi[2]};
    if (axis >= 0) lo[axis] = hi[axis] = p;
    for (int r = lo[0]; r <= hi[0]; r++)
      for (int g = lo[1]; g <= hi[1]; g++)
        for (int bl = lo[2]; bl <= hi[2]; bl++) f(r, g, bl);
  }

  bool PlaneUsed(const Box& b, int axis, int p) {
    bool used = false;
    ForCells(b, axis, p, [&](int r, int g, int bl) { used |= At(r, g, bl) != -1; });
    return used;
  }

  // The mean exact colour of the pixels counted in a box, each channel to the
  // nearest integer (halves to even).
  void MeanColour(const Box& b, uint8_t* entry) {
    double n = 0, s[3] = {0, 0, 0};
    ForCells(b, -1, 0, [&](int r, int g, int bl) {
      for (const auto& px : seen[r + 64 * g + 4096 * bl]) {
        n += 1;
        for (int c = 0; c < 3; c++) s[c] += px[c];
      }
    });
    for (int c = 0; c < 3; c++) entry[2 - c] = uint8_t(std::nearbyint(s[c] / n));
  }

  // Pixel count and count-weighted coordinate sums of a box.
  void Sums(const Box& b, double& n, double* s) {
    ForCells(b, -1, 0, [&](int r, int g, int bl) {
      const int64_t v = At(r, g, bl);
      if (v < 0) return;
      n += double(v + 1);
      s[0] += double(r) * double(v + 1);
      s[1] += double(g) * double(v + 1);
      s[2] += double(bl) * double(v + 1);
    });
  }

  void Shrink(Box& b) {
    static const int w[3] = {900, 3481, 121};
    for (int axis = 0; axis < 3; axis++) {
      while (b.lo[axis] < b.hi[axis] && !PlaneUsed(b, axis, b.lo[axis])) b.lo[axis]++;
      while (b.hi[axis] > b.lo[axis] && !PlaneUsed(b, axis, b.hi[axis])) b.hi[axis]--;
    }
    b.size = 0;
    for (int axis = 0; axis < 3; axis++) {
      const int e = b.hi[axis] - b.lo[axis];
      b.size += w[axis] * e * e;
    }
    double n = 0, s[3] = {0, 0, 0};
    Sums(b, n, s);
    double mean[3];
    for (int axis = 0; axis < 3; axis++) mean[axis] = std::nearbyint(s[axis] / n);
    for (int axis = 0; axis < 3; axis++) {
      b.spread[axis] = 0;
      ForCells(b, -1, 0, [&](int r, int g, int bl) {
        const int64_t v = At(r, g, bl);
        const int c[3] = {r, g, bl};
        if (v >= 0) b.spread[axis] += double(v + 1) * w[axis] * (c[axis] - mean[axis]) * (c[axis] - mean[axis]);
      });
      b.split[axis] = b.lo[axis];
      double running = 0;
      for (int p = b.lo[axis]; p < b.hi[axis]; p++) {
        double planeSum = 0;
        ForCells(b, axis, p, [&](int r, int g, int bl) {
          if (At(r, g, bl) >= 0) planeSum += double(At(r, g, bl) + 1);
        });
        running += planeSum * w[axis] * (p - mean[axis]) * (p - mean[axis]);
        if (running <= b.spread[axis] / 2) b.split[axis] = p;
      }
    }
  }

  static int Nearest(int r, int g, int b, int count, const uint8_t* pal) {
    int best = -1;
    int64_t bestD = 0;
    for (int i = 0; i < count; i++) {
      const int64_t d = 3481LL * (g - pal[i * 3 + 1]) * (g - pal[i * 3 + 1]) +
                        900LL * (r - pal[i * 3 + 2]) * (r - pal[i * 3 + 2]) +
                        121LL * (b - pal[i * 3]) * (b - pal[i * 3]);
      if (best < 0 || d < bestD) {
        best = i;
        bestD = d;
      }
    }
    return best < 0 ? 0 : best;
  }

  void Reduce(int n) {
    std::memset(palette, 255, sizeof palette);
    wanted = n < 2 ? 2 : n > 256 ? 256 : n;
    int distinct = 0;
    for (int64_t c : cube) distinct += c != -1;
    if (wanted < distinct) {
      boxes.assign(1, Box{{0, 0, 0}, {63, 63, 63}});
      Shrink(boxes[0]);
      while (int(boxes.size()) < wanted) {
        double best = -1;
        int chosen = -1, axis = -1;
        for (size_t i = 0; i < boxes.size(); i++) {
          if (boxes[i].size <= 0) continue;
          for (int k = 0; k < 3; k++)
            if (boxes[i].hi[k] > boxes[i].lo[k] && boxes[i].spread[k] > best) {
              best = boxes[i].spread[k];
              chosen = int(i);
              axis = k;
            }
        }
        if (chosen < 0) break;
        Box fresh = boxes[chosen];
        boxes[chosen].hi[axis] = boxes[chosen].split[axis];
        fresh.lo[axis] = boxes[chosen].split[axis] + 1;
        boxes.push_back(fresh);
        Shrink(boxes[chosen]);
        Shrink(boxes.back());
      }
      for (size_t i = 0; i < boxes.size(); i++) {
        const Box& b = boxes[i];
        MeanColour(b, palette + i * 3);
        ForCells(b, -1, 0, [&](int r, int g, int bl) { At(r, g, bl) = int64_t(i); });
      }
    } else {
      int k = 0;
      for (int b = 0; b < 64; b++)
        for (int g = 0; g < 64; g++)
          for (int r = 0; r < 64; r++)
            if (At(r, g, b) != -1) {
              MeanColour(Box{{r, g, b}, {r, g, b}}, palette + k * 3);
              At(r, g, b) = k++;
            }
    }
    const int dark = Nearest(0, 0, 0, wanted, palette);
    for (int c = 0; c < 3; c++) std::swap(palette[c], palette[dark * 3 + c]);
    if (dark != 0)
      for (int64_t& c : cube) c = c == 0 ? dark : c == dark ? 0 : c;
  }

  int Fill(int r, int g, int b) {
    int64_t& c = cube[Cell(r, g, b)];
    if (c == -1) c = Nearest(r, g, b, wanted, palette);
    return int(c);
  }

  static int ErrShare(int s, int e) {
    auto t = [s](int i) { return int(std::nearbyint(s * i / 16.0)); };
    const int a = std::abs(e);
    const int v = a <= 19 ? t(a) : a <= 38 ? t(a - 19) / 2 : a <= 57 ? t(a - 38) / 4 : 0;
    return e < 0 ? -v : v;
  }

  // rgb: width × height red, green, blue triples (modified by the heavy
  // dither, as the text has it).
  std::vector<uint8_t> Remap(std::vector<uint8_t> rgb, int width, int height, int mode) {
    std::vector<uint8_t> out(size_t(width) * height);
    if (width < 4 || height < 4) mode = 0;
    const uint8_t* T = PalOpt::DitherMatrix();
    for (int y = 0; y < height; y++)
      for (int x = 0; x < width; x++) {
        uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
        if (mode == 0) {
          out[size_t(y) * width + x] = uint8_t(cube[Cell(p[0], p[1], p[2])]);
        } else if (mode == 1) {
          const int k = Fill(p[0], p[1], p[2]);
          const int m = 2 * T[(y % 128) * 128 + (x % 128)];
          int c[3];
          const int P[3] = {palette[k * 3 + 2], palette[k * 3 + 1], palette[k * 3]};
          for (int i = 0; i < 3; i++) {
            c[i] = P[i] + m * (p[i] - P[i]) / 255;
            c[i] = c[i] < 0 ? 0 : c[i] > 255 ? 255 : c[i];
          }
          out[size_t(y) * width + x] = uint8_t(Fill(c[0], c[1], c[2]));
        } else {
          const int k = Fill(p[0], p[1], p[2]);
          out[size_t(y) * width + x] = uint8_t(k);
          if (x == 0 && y % 2 == 0) continue;
          const int err[3] = {p[0] - palette[k * 3 + 2], p[1] - palette[k * 3 + 1],
                              p[2] - palette[k * 3]};
          auto add = [&](int xx, int yy, int s) {
            uint8_t* q = &rgb[(size_t(yy) * width + xx) * 3];
            for (int i = 0; i < 3; i++) {
              const int v = q[i] + ErrShare(s, err[i]);
              q[i] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
            }
          };
          if (x + 1 < width) add(x + 1, y, 7);
          if (y + 1 < height) {
            if (x > 0) add(x - 1, y + 1, 3);
            add(x, y + 1, 5);
            if (x + 1 < width) add(x + 1, y + 1, 1);
          }
        }
      }
    return out;
  }
};

}  // namespace literal
