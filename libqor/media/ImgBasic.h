// The library's in-memory picture `Qimg`: allocation, copy, exchange, the
// conversions between the five colour depths, and the frame every image
// operation runs in (operation descriptor, prepare, finish).
#pragma once

#include <cstdint>
#include <string>

#include "platform/Gdi.h"

namespace ImgBasic {

// Rows top-down, packed (no row padding). 8 bits: palette index; 15: 5-5-5;
// 16: 5-6-5; 24: B,G,R; 32: B,G,R,x. The palette holds 256 B,G,R triples.
struct Qimg {
  uint8_t* data = nullptr;  // tracked block owned through this field
  int32_t size = 0;         // bytes in the pixel block
  int32_t width = 0;
  int32_t height = 0;
  int32_t bytesPerPixel = 0;
  int32_t bitsPerPixel = 0;
  uint8_t palette[768] = {};
  bool attached = false;  // the pixel block belongs to someone else
};

// Dithering and grey modes of ImgConvBppEx for a result of 8 bits.
enum : int32_t {
  kConvPalette = 0,       // optimised palette, no dithering
  kConvPaletteHeavy = 1,  // optimised palette, heavy dithering
  kConvPaletteLight = 2,  // optimised palette, light dithering
  kConvGrey = 3,
};

// Bytes per pixel of a depth: (bits + 7) div 8.
inline int32_t BytesPerPixel(int32_t bits) { return (bits + 7) / 8; }

// A 5-6-5 word as 5-5-5: the lowest green bit is dropped.
inline uint16_t Word565To555(uint16_t w) {
  return static_cast<uint16_t>((w & 31u) | ((w >> 1) & 0x7FE0u));
}

// width × height × bytes per pixel in 64 bits, or -1 (with image error 7/2
// raised) when a size is not positive or the block would not fit the
// 32-bit sizes the records carry.
int64_t CheckedImageBytes(int64_t width, int64_t height, int32_t bits,
                          int32_t sourceLine);

void _imgalloc_(Qimg* image, int32_t width, int32_t height,
                const char* label, int32_t sourceLine, int32_t bits);
void ImgClear(Qimg* image);
void ImgFree(Qimg* image);
bool ImgIsValid(const Qimg* image);
void ImgSetDims(Qimg* image, int32_t width, int32_t height, int32_t bits);
void ImgCopyDims(const Qimg* source, Qimg* dest);
void ImgCopyPalette(const Qimg* source, Qimg* dest);
void ImgCopyData(const Qimg* source, Qimg* dest);
void ImgCopy(const Qimg* source, Qimg* dest);
void ImgXchg(Qimg* a, Qimg* b);
void ImgConvBppEx(Qimg* source, Qimg* dest, int32_t bits, int32_t mode);
void ImgConvBpp(Qimg* source, Qimg* dest, int32_t bits);

void ConvRowTo24(bool swap, int32_t bytesPerInputPixel, int32_t count,
                 uint8_t* output, const uint8_t* input);
void PalMakeGrey(uint8_t* palette);
void PalMakeGreyInv(uint8_t* palette);

struct Rgb {
  uint8_t red, green, blue;
};
Rgb SplitColorRef(uint32_t colour);

// ---- operation frame ------------------------------------------------------

struct ImgParam {
  double min = 0, max = 0, def = 0;
};

// What an operation needs: its working depth for each source depth, whether
// it may write into its own source, and the range of its parameters.
struct ImgInfoRec {
  int32_t code = 0;
  int32_t depthMap[6] = {24, 24, 24, 24, 24, 24};  // 8, 15, 16, 24, 32, other
  bool inPlace = true;
  bool paletteOp = false;
  bool convertDest = false;
  bool destDepthWins = false;
  int32_t paramCount = 0;
  ImgParam params[3];
};

// Operation codes the library's operations use.
enum : int32_t {
  kOpBrightness = 3,
  kOpContrast = 5,
  kOpDeinterlace = 6,
  kOpEdgeEnhance = 8,
  kOpFindEdges = 11,
  kOpFlipH = 12,
  kOpFlipV = 13,
  kOpGamma = 14,
  kOpSaturation = 26,
  kOpSharpen = 27,
  kOpSoften = 28,
  kOpSwapRB = 30,
  kOpWhiteBalance = 32,
  kOpSprite = 38,
  kOpResize = 39,
  kOpResample = 40,
  kOpCrop = 41,
  kOpRotate = 42,
  kOpInsert = 43,
  kOpRemap = 44,
  kOpLast = 44,
};

void ImgInitInfo(ImgInfoRec* info);
void ImgInfo(ImgInfoRec* info, int32_t code);

// The state of one operation between ImgInitEx and ImgDone.
struct ImgOpState {
  Qimg* src = nullptr;   // working source
  Qimg* dest = nullptr;  // working destination
  Qimg* caller = nullptr;  // the caller's destination (gets the new size)
  Qimg temp;
  bool freeTemp = false;
  bool xchgTemp = false;    // exchange the temporary with the source at the end
  bool copyPixels = false;  // palette operation on 8 bits: copy the pixels
  bool copyPalette = false;  // 8-bit pixel operation: copy the palette
  Qimg* xchgWith = nullptr;
  int64_t srcRowLen = 0, destRowLen = 0;
  int64_t srcSize = 0, destSize = 0;
  int64_t srcPixels = 0, destPixels = 0;
  int32_t newWidth = 0, newHeight = 0;
  // The run the operation walks: pixels, or 256 palette items of 3 bytes.
  int64_t itemCount = 0;
  int32_t itemBytes = 0;
  uint8_t* srcRun = nullptr;
  uint8_t* destRun = nullptr;
  int64_t srcRunLen = 0, destRunLen = 0;
};

void ImgInitEx(const ImgInfoRec* info, ImgOpState* work, Qimg* source,
               int32_t newHeight, int32_t newWidth, Qimg* dest);
void ImgInit(const ImgInfoRec* info, ImgOpState* work, Qimg* source,
             Qimg* dest);
void ImgDone(ImgOpState* work);

// ---- geometry and pixel operations ----------------------------------------
// Each runs in the operation frame above and leaves its result at the depth
// its descriptor gives. A null destination means "in place" for the
// operations that may write into their source.

// tables: 256 bytes for red, then green, then blue.
void ImgRemap(Qimg* source, Qimg* dest, const uint8_t* tables);
void ImgResize(Qimg* source, Qimg* dest, int32_t width, int32_t height);
void ImgResample(Qimg* source, Qimg* dest, int32_t width, int32_t height);
void ImgCrop(Qimg* source, Qimg* dest, int32_t x, int32_t y, int32_t width,
             int32_t height);

// Directions of ImgRotate; any other value makes a plain copy.
enum : int32_t {
  kRotateClockwise = 1,
  kRotateHalf = 2,
  kRotateAnticlockwise = 3,
};
void ImgRotate(Qimg* source, Qimg* dest, int32_t direction);
void ImgFlipV(Qimg* source, Qimg* dest);
void ImgFlipH(Qimg* source, Qimg* dest);
void ImgSwapRB(Qimg* source, Qimg* dest);
void ImgInsert(Qimg* source, Qimg* dest, int32_t x, int32_t y);
void ImgSprite(Qimg* source, Qimg* dest, int32_t x, int32_t y,
               uint32_t transparent);

// ---- Windows bitmap exchange ------------------------------------------------

// Part of an image to draw; a width or height of 0 or less means the whole.
struct ImgRect {
  int32_t x = 0, y = 0, width = 0, height = 0;
};

bool DeviceHasPalette(Gdi::HDC dc);
// On palette devices: makes the process-wide logical palette from an image
// palette (B,G,R triples), selects it as a background palette and realises it.
void PalPut(const uint8_t* palette, Gdi::HDC dc);
// Draws (part of) an image at (x, y); stretched when both destination sizes
// are non-zero. ditherMode is the ImgConvBppEx mode used to reach 8 bits on
// palette devices.
void ImgPutEx(Qimg* image, const ImgRect& sourceRect, Gdi::HDC dc,
              int32_t ditherMode, int32_t destHeight, int32_t destWidth,
              int32_t y, int32_t x);
void ImgPut(Qimg* image, Gdi::HDC dc, int32_t x, int32_t y);
// From packed top-down pixels; palette (768 bytes) may be null.
void RawToQimg(Qimg* image, const uint8_t* pixels, const uint8_t* palette,
               int32_t bits, int32_t height, int32_t width);
// From rows stride bytes apart, stored top-down or bottom-up.
void MakeQimg(Qimg* image, const uint8_t* rows, int32_t width, bool topDown,
              int32_t stride, int32_t bits, int32_t height);
// From an uncompressed bottom-up packed DIB of dibBytes bytes (header, colour
// table, padded rows).
void DibToQimg(Qimg* image, const uint8_t* packedDib, int64_t dibBytes);
bool HBitmapToQimg(Gdi::HBITMAP bitmap, Qimg* image);
// A 24-bit DIB section.
bool QimgToHBitmap(Qimg* image, Gdi::HBITMAP* bitmap);
// A packed DIB in a fixed global block.
bool QimgToGlobalDib(Qimg* image, Gdi::HGLOBAL* handle);

// Fills count pixels of the image from firstPixel (pixels counted row after
// row) with a Windows colour value (red in the low byte).
void FillColor(Qimg* image, int32_t firstPixel, int32_t count, uint32_t colour);

}  // namespace ImgBasic
