#include "platform/GdiSurface.h"

#include <algorithm>
#include <memory>

namespace Gdi {

SurfaceDC::SurfaceDC(uint8_t* pixels, int32_t width, int32_t height,
                     int32_t bytesPerRow)
    : pixels_(pixels),
      width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      bytesPerRow_(bytesPerRow) {}

void SurfaceDC::SetPixel(int32_t x, int32_t y, uint32_t colour) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  uint8_t* p = pixels_ + static_cast<int64_t>(y) * bytesPerRow_ + int64_t{x} * 4;
  p[0] = static_cast<uint8_t>(colour >> 16);  // blue
  p[1] = static_cast<uint8_t>(colour >> 8);   // green
  p[2] = static_cast<uint8_t>(colour);        // red
}

uint32_t SurfaceDC::GetPixel(int32_t x, int32_t y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  const uint8_t* p =
      pixels_ + static_cast<int64_t>(y) * bytesPerRow_ + int64_t{x} * 4;
  return RGB(p[2], p[1], p[0]);
}

bool SurfaceValid(const void* pixels, int32_t width, int32_t height,
                  int32_t bytesPerRow) {
  return pixels && width >= 0 && height >= 0 &&
         int64_t{bytesPerRow} >= int64_t{width} * 4;
}

ScopedSurfaceDC::ScopedSurfaceDC(uint8_t* pixels, int32_t width,
                                 int32_t height, int32_t bytesPerRow)
    : dc_(RegisterDC(
          std::make_unique<SurfaceDC>(pixels, width, height, bytesPerRow))) {}

ScopedSurfaceDC::~ScopedSurfaceDC() { DeleteDC(dc_); }

void FillSolidRect(HDC dc, int32_t x, int32_t y, int32_t width, int32_t height,
                   uint32_t colour) {
  DeviceContext* d = DCFromHandle(dc);
  if (!d || width <= 0 || height <= 0) return;
  // Only the part on the surface is walked, however large the rectangle.
  const int64_t left = std::max<int64_t>(x, 0);
  const int64_t top = std::max<int64_t>(y, 0);
  const int64_t right = std::min<int64_t>(int64_t{x} + width, d->Width());
  const int64_t bottom = std::min<int64_t>(int64_t{y} + height, d->Height());
  for (int64_t row = top; row < bottom; row++)
    for (int64_t col = left; col < right; col++)
      d->SetPixel(static_cast<int32_t>(col), static_cast<int32_t>(row), colour);
}

}  // namespace Gdi
