// Device contexts over drawing surfaces the host owns: 32-bit pixels stored
// blue, green, red and a fourth byte, rows top-down a given number of bytes
// apart. The library draws into them for the length of one call.
#pragma once

#include <cstdint>

#include "platform/Gdi.h"

namespace Gdi {

// A true-colour device whose pixels belong to someone else. The fourth byte
// of every pixel is the owner's and is left as it is.
class SurfaceDC : public DeviceContext {
 public:
  SurfaceDC(uint8_t* pixels, int32_t width, int32_t height,
            int32_t bytesPerRow);
  int32_t RasterCaps() const override { return kTrueColourCaps; }
  int32_t Width() const override { return width_; }
  int32_t Height() const override { return height_; }
  void SetPixel(int32_t x, int32_t y, uint32_t colour) override;
  uint32_t GetPixel(int32_t x, int32_t y) const override;

 private:
  uint8_t* pixels_;
  int32_t width_, height_, bytesPerRow_;
};

// True when a surface of these values can be drawn into: pixels given, no
// negative size, and rows long enough for 4 bytes per pixel.
bool SurfaceValid(const void* pixels, int32_t width, int32_t height,
                  int32_t bytesPerRow);

// A surface device registered for one scope; the handle is deleted when the
// scope ends, the pixels stay the owner's.
class ScopedSurfaceDC {
 public:
  ScopedSurfaceDC(uint8_t* pixels, int32_t width, int32_t height,
                  int32_t bytesPerRow);
  ~ScopedSurfaceDC();
  ScopedSurfaceDC(const ScopedSurfaceDC&) = delete;
  ScopedSurfaceDC& operator=(const ScopedSurfaceDC&) = delete;
  HDC handle() const { return dc_; }

 private:
  HDC dc_;
};

// Fills the rectangle from (x, y) to (x + width, y + height), right and
// bottom edges excluded, with a solid colour (a Windows colour value); an
// empty or inverted rectangle fills nothing.
void FillSolidRect(HDC dc, int32_t x, int32_t y, int32_t width, int32_t height,
                   uint32_t colour);

}  // namespace Gdi
