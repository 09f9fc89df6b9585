// What the image and text host tests share: the outcome of the last call,
// and handles freed on every way out of a test.
#pragma once

#include <algorithm>
#include <cstdint>

#include "host/HostLibrary.h"
#include "qor.h"

namespace {

int32_t LastCode() {
  QorLastError rec{-1, -1, -1};
  QOR_GET(QorGetLastError)(&rec);
  return rec.code;
}

// A handle made by one export and freed by another.
template <QorHandle (*Alloc)(), void (*Free)(QorHandle)>
struct Owned {
  QorHandle h = Alloc();
  Owned() = default;
  ~Owned() { Free(h); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
};

QorHandle AllocImg() { return QOR_GET(QorImgAlloc)(); }
void FreeImg(QorHandle h) { QOR_GET(QorImgFree)(h); }
QorHandle AllocText() { return QOR_GET(QorTextAlloc)(); }
void FreeText(QorHandle h) { QOR_GET(QorTextFree)(h); }

using Img = Owned<AllocImg, FreeImg>;
using Text = Owned<AllocText, FreeText>;

struct Box {
  int32_t x = 0, y = 0, w = 0, h = 0;  // w 0: empty
};

// The smallest box holding every pixel of width x height for which
// `marked`(x, y) is true.
template <class Marked>
Box BoundingBox(int32_t width, int32_t height, Marked&& marked) {
  int32_t x0 = width, y0 = height, x1 = -1, y1 = -1;
  for (int32_t y = 0; y < height; y++)
    for (int32_t x = 0; x < width; x++) {
      if (!marked(x, y)) continue;
      x0 = std::min(x0, x);
      y0 = std::min(y0, y);
      x1 = std::max(x1, x);
      y1 = std::max(y1, y);
    }
  if (x1 < 0) return {};
  return {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
}

}  // namespace
