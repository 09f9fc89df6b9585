// The device layer on its own: byte layout of the serialised structures,
// DIB addressing from the bottom-left origin, palettes, memory contexts and
// global blocks.
#include <gtest/gtest.h>

#include <vector>

#include "platform/Gdi.h"

using namespace Gdi;

namespace {

using Bytes = std::vector<uint8_t>;

TEST(GdiStructs, BitmapInfoHeaderIsLittleEndianFortyBytes) {
  BITMAPINFOHEADER h;
  h.biWidth = 0x01020304;
  h.biHeight = -2;
  h.biBitCount = 24;
  h.biCompression = BI_BITFIELDS;
  h.biSizeImage = 0xA0B0C0D0;
  h.biXPelsPerMeter = 2835;
  h.biClrUsed = 256;
  h.biClrImportant = 7;
  Bytes b(40, 0xEE);
  WriteBitmapInfoHeader(b.data(), h);
  const Bytes expect = {40,   0,    0,    0,    4,    3,    2,    1,  0xFE, 0xFF,
                        0xFF, 0xFF, 1,    0,    24,   0,    3,    0,  0,    0,
                        0xD0, 0xC0, 0xB0, 0xA0, 0x13, 0x0B, 0,    0,  0,    0,
                        0,    0,    0,    1,    0,    0,    7,    0,  0,    0};
  EXPECT_EQ(b, expect);
  const BITMAPINFOHEADER r = ReadBitmapInfoHeader(b.data());
  EXPECT_EQ(r.biWidth, h.biWidth);
  EXPECT_EQ(r.biHeight, -2);
  EXPECT_EQ(r.biSizeImage, h.biSizeImage);
  EXPECT_EQ(r.biXPelsPerMeter, 2835);
  EXPECT_EQ(r.biClrImportant, 7u);
}

TEST(GdiStructs, QuadsAndPaletteEntries) {
  uint8_t q[4];
  WriteRgbQuad(q, RGBQUAD{1, 2, 3, 4});
  EXPECT_EQ(Bytes(q, q + 4), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(ReadRgbQuad(q).rgbRed, 3);
  uint8_t lp[8];
  WriteLogPaletteHeader(lp, kLogPaletteVersion, 1);
  WritePaletteEntry(lp + 4, PALETTEENTRY{9, 8, 7, PC_NOCOLLAPSE});
  EXPECT_EQ(Bytes(lp, lp + 8), (Bytes{0x00, 0x03, 1, 0, 9, 8, 7, 4}));
  EXPECT_EQ(DibRowBytes(3, 24), 12);
  EXPECT_EQ(DibRowBytes(4, 24), 12);
  EXPECT_EQ(DibRowBytes(3, 8), 4);
  EXPECT_EQ(DibRowBytes(1, 15), 4);
  EXPECT_EQ(RGB(1, 2, 3), 0x030201u);
}

// A 2 x 2 24-bit DIB: top row red, green; bottom row blue, white.
Bytes Info24(int32_t height) {
  Bytes info(40, 0);
  BITMAPINFOHEADER h;
  h.biWidth = 2;
  h.biHeight = height;
  h.biBitCount = 24;
  WriteBitmapInfoHeader(info.data(), h);
  return info;
}
const Bytes kBottomUp = {255, 0, 0, 255, 255, 255, 0, 0,  // bottom row
                         0, 0, 255, 0, 255, 0, 0, 0};     // top row
const Bytes kTopDown = {0, 0, 255, 0, 255, 0, 0, 0,  //
                        255, 0, 0, 255, 255, 255, 0, 0};

TEST(GdiDraw, DibOriginIsBottomLeftEitherWay) {
  for (int32_t height : {2, -2}) {
    HDC dc = RegisterDC(std::make_unique<MemoryDC>(2, 2, kTrueColourCaps));
    DeviceContext* d = DCFromHandle(dc);
    const Bytes info = Info24(height);
    const Bytes& bits = height > 0 ? kBottomUp : kTopDown;
    // The top source row is scan line 1 from the bottom.
    ASSERT_EQ(SetDIBitsToDevice(dc, 0, 0, 2, 1, 0, 1, 0, 2, bits.data(),
                                info.data(), DIB_RGB_COLORS),
              2);
    EXPECT_EQ(d->GetPixel(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(d->GetPixel(1, 0), RGB(0, 255, 0));
    EXPECT_EQ(d->GetPixel(0, 1), 0u);
    ASSERT_EQ(StretchDIBits(dc, 0, 0, 2, 2, 1, 0, 1, 1, bits.data(), info.data(),
                            DIB_RGB_COLORS, SRCCOPY),
              1);
    EXPECT_EQ(d->GetPixel(1, 1), RGB(255, 255, 255));  // bottom-right pixel
    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_EQ(DCFromHandle(dc), nullptr);
  }
}

TEST(GdiDraw, DevicesWithoutDibSupportDrawNothing) {
  HDC dc = RegisterDC(std::make_unique<MemoryDC>(2, 2, RC_BITBLT));
  const Bytes info = Info24(2);
  EXPECT_EQ(SetDIBitsToDevice(dc, 0, 0, 2, 2, 0, 0, 0, 2, kBottomUp.data(),
                              info.data(), DIB_RGB_COLORS),
            0);
  EXPECT_EQ(StretchDIBits(dc, 0, 0, 2, 2, 0, 0, 2, 2, kBottomUp.data(),
                          info.data(), DIB_RGB_COLORS, SRCCOPY),
            0);
  EXPECT_EQ(DCFromHandle(dc)->GetPixel(0, 0), 0u);
  EXPECT_EQ(GetDeviceCaps(dc, RASTERCAPS), RC_BITBLT);
  EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 2);
  DeleteDC(dc);
}

TEST(GdiDraw, PaletteIndicesGoThroughTheSelectedPalette) {
  HDC dc = RegisterDC(std::make_unique<MemoryDC>(1, 1, kTrueColourCaps | RC_PALETTE));
  Bytes lp(4 + 8);
  WriteLogPaletteHeader(lp.data(), kLogPaletteVersion, 2);
  WritePaletteEntry(lp.data() + 4, PALETTEENTRY{1, 2, 3, 0});
  WritePaletteEntry(lp.data() + 8, PALETTEENTRY{4, 5, 6, 0});
  HPALETTE pal = CreatePalette(lp.data());
  ASSERT_NE(pal, nullptr);
  EXPECT_EQ(SelectPalette(dc, pal, false), nullptr);
  EXPECT_EQ(RealizePalette(dc), 2u);
  Bytes info(40 + 4, 0);
  BITMAPINFOHEADER h;
  h.biWidth = 1;
  h.biHeight = 1;
  h.biBitCount = 8;
  h.biClrUsed = 2;
  WriteBitmapInfoHeader(info.data(), h);
  WriteWord(info.data() + 40, 1);  // colour 0 is palette entry 1
  WriteWord(info.data() + 42, 0);
  const Bytes px = {0, 0, 0, 0};
  ASSERT_EQ(SetDIBitsToDevice(dc, 0, 0, 1, 1, 0, 0, 0, 1, px.data(), info.data(),
                              DIB_PAL_COLORS),
            1);
  EXPECT_EQ(DCFromHandle(dc)->GetPixel(0, 0), RGB(4, 5, 6));
  EXPECT_TRUE(DeleteObject(pal));
  EXPECT_FALSE(DeleteObject(pal));
  DeleteDC(dc);
}

TEST(GdiBitmaps, MemoryContextShowsItsSelectedSection) {
  const int32_t objects = ObjectCount(), dcs = DCCount();
  const Bytes info = Info24(2);
  void* bits = nullptr;
  HBITMAP bm = CreateDIBSection(nullptr, info.data(), DIB_RGB_COLORS, &bits,
                                nullptr, 0);
  ASSERT_NE(bm, nullptr);
  std::copy(kBottomUp.begin(), kBottomUp.end(), static_cast<uint8_t*>(bits));
  HDC mem = CreateCompatibleDC(nullptr);
  EXPECT_EQ(SelectObject(mem, bm), nullptr);
  HDC dc = RegisterDC(std::make_unique<MemoryDC>(2, 2, kTrueColourCaps));
  ASSERT_TRUE(BitBlt(dc, 0, 0, 2, 2, mem, 0, 0, SRCCOPY));
  EXPECT_EQ(DCFromHandle(dc)->GetPixel(1, 0), RGB(0, 255, 0));
  EXPECT_EQ(DCFromHandle(dc)->GetPixel(0, 1), RGB(0, 0, 255));
  // Drawing into the section through the memory context.
  DCFromHandle(mem)->SetPixel(0, 0, RGB(1, 2, 3));
  EXPECT_EQ(Bytes(static_cast<uint8_t*>(bits) + 8, static_cast<uint8_t*>(bits) + 11),
            (Bytes{3, 2, 1}));
  BITMAP b;
  ASSERT_TRUE(GetObject(bm, &b));
  EXPECT_EQ(b.bmWidthBytes, 8);
  EXPECT_EQ(b.bmBits, bits);
  DeleteDC(mem);
  DeleteDC(dc);
  DeleteObject(bm);
  EXPECT_EQ(ObjectCount(), objects);
  EXPECT_EQ(DCCount(), dcs);
}

TEST(GdiBitmaps, BadRequestsGiveNoHandle) {
  Bytes info = Info24(2);
  WriteDword(info.data() + 16, 1);  // run-length compressed
  void* bits = &info;
  EXPECT_EQ(CreateDIBSection(nullptr, info.data(), DIB_RGB_COLORS, &bits,
                             nullptr, 0),
            nullptr);
  EXPECT_EQ(bits, nullptr);
  Bytes huge = Info24(0x7FFFFFF);
  WriteDword(huge.data() + 4, 0x7FFFFFF);
  EXPECT_EQ(CreateDIBSection(nullptr, huge.data(), DIB_RGB_COLORS, &bits,
                             nullptr, 0),
            nullptr);
  EXPECT_EQ(CreateBitmap(0, 1, 1, 24, nullptr), nullptr);
  EXPECT_EQ(CreateBitmap(1, 1, 1, 4, nullptr), nullptr);
  BITMAP b;
  EXPECT_FALSE(GetObject(nullptr, &b));
}

TEST(GdiGlobal, BlocksLockAndFree) {
  HGLOBAL g = GlobalAlloc(GMEM_FIXED, 10);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(GlobalSize(g), 10u);
  auto* p = static_cast<uint8_t*>(GlobalLock(g));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[9], 0);
  EXPECT_FALSE(GlobalUnlock(g));  // no lock left
  EXPECT_FALSE(GlobalUnlock(g));
  EXPECT_EQ(GlobalFree(g), nullptr);
  EXPECT_EQ(GlobalFree(g), g);
  EXPECT_EQ(GlobalAlloc(GMEM_FIXED, 0), nullptr);
  EXPECT_EQ(GlobalCount(), 0);
}

}  // namespace
