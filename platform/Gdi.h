// The graphics device layer the image units draw through and exchange
// bitmaps with: handle registries for bitmaps (device-dependent ones and DIB
// sections), palettes, device contexts and global memory blocks,
// with the call names and results the image units expect of a Windows GDI.
//
// Structures that cross this layer as bytes (BITMAPINFOHEADER, RGBQUAD,
// LOGPALETTE) are serialised explicitly, little-endian; nothing here reads
// memory by casting it to a struct.
//
// Colours are Windows colour values: red in the low byte, then green, blue.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace Gdi {

// Opaque pointer-sized handles. Bitmaps and palettes share one table of
// drawing objects, as SelectObject and DeleteObject take either.
struct HGDIOBJ__;
using HGDIOBJ = HGDIOBJ__*;
using HBITMAP = HGDIOBJ;
using HPALETTE = HGDIOBJ;
struct HDC__;
using HDC = HDC__*;
struct HGLOBAL__;
using HGLOBAL = HGLOBAL__*;

// ---- constants ---------------------------------------------------------------
constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_BITFIELDS = 3;
constexpr uint32_t DIB_RGB_COLORS = 0;
constexpr uint32_t DIB_PAL_COLORS = 1;
constexpr int32_t RASTERCAPS = 38;
constexpr int32_t HORZRES = 8;
constexpr int32_t VERTRES = 10;
constexpr int32_t RC_BITBLT = 0x0001;
constexpr int32_t RC_PALETTE = 0x0100;
constexpr int32_t RC_DIBTODEV = 0x0200;
constexpr int32_t RC_STRETCHBLT = 0x0800;
constexpr int32_t RC_STRETCHDIB = 0x2000;
// What a true-colour display or memory surface can do.
constexpr int32_t kTrueColourCaps =
    RC_BITBLT | RC_STRETCHBLT | RC_DIBTODEV | RC_STRETCHDIB;
constexpr uint32_t SRCCOPY = 0x00CC0020;
constexpr uint32_t SYSPAL_STATIC = 1;
constexpr uint32_t SYSPAL_NOSTATIC = 2;
constexpr uint8_t PC_NOCOLLAPSE = 4;
constexpr uint32_t GMEM_FIXED = 0;
constexpr uint16_t kLogPaletteVersion = 0x300;

// ---- serialised structures -----------------------------------------------------
constexpr int32_t kBitmapInfoHeaderSize = 40;
constexpr int32_t kRgbQuadSize = 4;
constexpr int32_t kLogPaletteHeaderSize = 4;
constexpr int32_t kPaletteEntrySize = 4;

struct BITMAPINFOHEADER {
  uint32_t biSize = kBitmapInfoHeaderSize;
  int32_t biWidth = 0;
  int32_t biHeight = 0;  // negative: rows stored top-down
  uint16_t biPlanes = 1;
  uint16_t biBitCount = 0;
  uint32_t biCompression = BI_RGB;
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;
};

struct RGBQUAD {
  uint8_t rgbBlue = 0, rgbGreen = 0, rgbRed = 0, rgbReserved = 0;
};

struct PALETTEENTRY {
  uint8_t peRed = 0, peGreen = 0, peBlue = 0, peFlags = 0;
};

// What GetObject tells of a bitmap. bmBits is the pixel block of a DIB
// section and null for a device-dependent bitmap; bmHeight is negative for a
// section whose rows are stored top-down.
struct BITMAP {
  int32_t bmType = 0;
  int32_t bmWidth = 0;
  int32_t bmHeight = 0;
  int32_t bmWidthBytes = 0;
  uint16_t bmPlanes = 0;
  uint16_t bmBitsPixel = 0;
  void* bmBits = nullptr;
};

void WriteBitmapInfoHeader(uint8_t* out, const BITMAPINFOHEADER& header);
BITMAPINFOHEADER ReadBitmapInfoHeader(const uint8_t* in);
void WriteRgbQuad(uint8_t* out, const RGBQUAD& quad);
RGBQUAD ReadRgbQuad(const uint8_t* in);
void WriteLogPaletteHeader(uint8_t* out, uint16_t version, uint16_t count);
void WritePaletteEntry(uint8_t* out, const PALETTEENTRY& entry);
PALETTEENTRY ReadPaletteEntry(const uint8_t* in);
void WriteWord(uint8_t* out, uint16_t value);
void WriteDword(uint8_t* out, uint32_t value);
uint16_t ReadWord(const uint8_t* in);
uint32_t ReadDword(const uint8_t* in);

// Bytes of one DIB row: padded to a multiple of 4.
int64_t DibRowBytes(int64_t width, int32_t bitCount);

inline uint32_t RGB(uint8_t red, uint8_t green, uint8_t blue) {
  return red | (green << 8) | (static_cast<uint32_t>(blue) << 16);
}

// ---- device contexts -------------------------------------------------------------

// A drawing surface. The GDI state (selected palette and bitmap, system
// palette use) is kept here for every kind of device; a back end supplies the
// surface.
class DeviceContext {
 public:
  virtual ~DeviceContext() = default;
  virtual int32_t RasterCaps() const = 0;
  virtual int32_t Width() const = 0;
  virtual int32_t Height() const = 0;
  // Pixels outside the surface are ignored (set) or black (get).
  virtual void SetPixel(int32_t x, int32_t y, uint32_t colour) = 0;
  virtual uint32_t GetPixel(int32_t x, int32_t y) const = 0;

  HPALETTE palette = nullptr;  // selected logical palette
  bool paletteBackground = false;
  uint32_t systemPaletteUse = SYSPAL_STATIC;
  int32_t realizeCount = 0;  // RealizePalette calls on this device
  // Every SetSystemPaletteUse value in call order.
  std::vector<uint32_t> systemPaletteUseLog;
  HBITMAP bitmap = nullptr;  // selected bitmap (memory contexts)
};

// A device backed by plain memory: a true-colour or palette surface of a given
// size, for tests and off-screen work.
class MemoryDC : public DeviceContext {
 public:
  MemoryDC(int32_t width, int32_t height, int32_t rasterCaps);
  int32_t RasterCaps() const override { return caps_; }
  int32_t Width() const override { return width_; }
  int32_t Height() const override { return height_; }
  void SetPixel(int32_t x, int32_t y, uint32_t colour) override;
  uint32_t GetPixel(int32_t x, int32_t y) const override;

 private:
  int32_t width_, height_, caps_;
  std::vector<uint32_t> pixels_;
};

// Takes ownership of a device; DeleteDC releases it.
HDC RegisterDC(std::unique_ptr<DeviceContext> dc);
DeviceContext* DCFromHandle(HDC dc);

int32_t GetDeviceCaps(HDC dc, int32_t index);
// A memory context whose surface is the bitmap selected into it.
HDC CreateCompatibleDC(HDC dc);
bool DeleteDC(HDC dc);
// Selects a bitmap into a memory context; returns the previous one (null
// when none), or null on failure.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
bool DeleteObject(HGDIOBJ object);

// ---- palettes ----------------------------------------------------------------------
// logPalette: version word, entry-count word, then 4-byte entries.
HPALETTE CreatePalette(const uint8_t* logPalette);
HPALETTE SelectPalette(HDC dc, HPALETTE palette, bool forceBackground);
uint32_t RealizePalette(HDC dc);
uint32_t SetSystemPaletteUse(HDC dc, uint32_t use);
// Copies entries of a logical palette; returns how many.
uint32_t GetPaletteEntries(HPALETTE palette, uint32_t start, uint32_t count,
                           PALETTEENTRY* entries);

// ---- bitmaps -------------------------------------------------------------------------
// bitmapInfo: a serialised header, then (for 8 bits or less) the colour table
// of RGBQUADs (DIB_RGB_COLORS) or 16-bit palette indices (DIB_PAL_COLORS, taken
// through the palette selected into dc), or (BI_BITFIELDS) three 32-bit masks.
// The section is kept as a packed DIB whose address is the handle: the
// 40-byte header, for 8 bits the colour table as RGBQUADs, for BI_BITFIELDS
// the three masks, then the rows (bits points at them).
HBITMAP CreateDIBSection(HDC dc, const uint8_t* bitmapInfo, uint32_t usage,
                         void** bits, void* section, uint32_t offset);
// A device-dependent bitmap: rows top-down, each padded to 2 bytes; 16 bits
// is 5-6-5. bits may be null.
HBITMAP CreateBitmap(int32_t width, int32_t height, uint32_t planes,
                     uint32_t bitCount, const void* bits);
bool GetObject(HGDIOBJ object, BITMAP* out);
// The pixels in device-dependent layout; returns the bytes copied, 0 on
// failure.
int32_t GetBitmapBits(HBITMAP bitmap, int32_t bytes, void* bits);
// The pixels in the layout bitmapInfo asks for (same bit count, or 24 or 32);
// bits holds the whole DIB, rows bottom-up for a positive height, top-down
// for a negative one, and receives scan lines start .. start + lines - 1
// (counted from the bottom). Returns the rows copied, 0 on failure. The colour table of an 8-bit request is
// written after the header.
int32_t GetDIBits(HDC dc, HBITMAP bitmap, uint32_t start, uint32_t lines,
                  void* bits, uint8_t* bitmapInfo, uint32_t usage);
// The colour table of the DIB section selected into dc, as RGBQUADs.
uint32_t GetDIBColorTable(HDC dc, uint32_t start, uint32_t count,
                          uint8_t* rgbQuads);

// ---- drawing -------------------------------------------------------------------------
// Source coordinates of the DIB calls have their origin at the bottom left of
// the DIB, whichever way its rows are stored. Both return the rows drawn, 0
// when the device cannot take DIBs or the arguments are invalid.
int32_t SetDIBitsToDevice(HDC dc, int32_t xDest, int32_t yDest, uint32_t width,
                          uint32_t height, int32_t xSrc, int32_t ySrc,
                          uint32_t startScan, uint32_t lines, const void* bits,
                          const uint8_t* bitmapInfo, uint32_t usage);
int32_t StretchDIBits(HDC dc, int32_t xDest, int32_t yDest, int32_t destWidth,
                      int32_t destHeight, int32_t xSrc, int32_t ySrc,
                      int32_t srcWidth, int32_t srcHeight, const void* bits,
                      const uint8_t* bitmapInfo, uint32_t usage, uint32_t rop);
bool BitBlt(HDC dest, int32_t x, int32_t y, int32_t width, int32_t height,
            HDC src, int32_t xSrc, int32_t ySrc, uint32_t rop);
bool StretchBlt(HDC dest, int32_t x, int32_t y, int32_t width, int32_t height,
                HDC src, int32_t xSrc, int32_t ySrc, int32_t srcWidth,
                int32_t srcHeight, uint32_t rop);

// ---- global memory -----------------------------------------------------------------
// Blocks never move: the handle is the block's address, as with a fixed
// block, so a host can read a block it is handed.
HGLOBAL GlobalAlloc(uint32_t flags, uint64_t bytes);
void* GlobalLock(HGLOBAL block);
bool GlobalUnlock(HGLOBAL block);
// Null on success, the handle when it was not a block.
HGLOBAL GlobalFree(HGLOBAL block);
uint64_t GlobalSize(HGLOBAL block);

// ---- bookkeeping, for tests -------------------------------------------------------
int32_t ObjectCount();  // live bitmaps and palettes
int32_t DCCount();
int32_t GlobalCount();

// Each counter, when non-negative, counts successful calls down; the call that
// finds it at 0 fails as the platform would, and the counter goes back to -1.
struct FaultHooks {
  int32_t failGlobalAlloc = -1;
  int32_t failGlobalLock = -1;
  int32_t failGetBitmapBits = -1;
  int32_t failCreateDIBSection = -1;
};
FaultHooks& Faults();

}  // namespace Gdi
