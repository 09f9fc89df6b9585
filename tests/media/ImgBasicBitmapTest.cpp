// Exchange between images and bitmaps: packed DIBs byte for byte, DIB
// sections, device-dependent bitmaps, and drawing on memory devices with and
// without a palette.
#include <gtest/gtest.h>

#include <cstring>

#include "foundation/Errors.h"
#include "media/ImgBasic.h"
#include "platform/Gdi.h"
#include "support/ImgFixtures.h"

using namespace ImgBasic;
using TestSupport::Fill;
using TestSupport::Pixels;

namespace {

using Bytes = std::vector<uint8_t>;

class ImgBitmap : public TestSupport::ImgTest {
 protected:
  void TearDown() override {
    TestSupport::ImgTest::TearDown();
    EXPECT_EQ(Gdi::DCCount(), 0) << "device contexts left behind";
  }
  static Gdi::HDC Device(int32_t w, int32_t h, int32_t caps) {
    return Gdi::RegisterDC(std::make_unique<Gdi::MemoryDC>(w, h, caps));
  }
  static uint32_t At(Gdi::HDC dc, int32_t x, int32_t y) {
    return Gdi::DCFromHandle(dc)->GetPixel(x, y);
  }
  // 3 x 2 at 24 bits: 9-byte rows, padded to 12 in a DIB.
  Qimg* ThreeByTwo() {
    Qimg* img = New();
    Fill(img, 3, 2, 24,
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19});
    return img;
  }
  Bytes Block(Gdi::HGLOBAL h) {
    const uint64_t n = Gdi::GlobalSize(h);
    auto* p = static_cast<uint8_t*>(Gdi::GlobalLock(h));
    Bytes out(p, p + n);
    Gdi::GlobalUnlock(h);
    return out;
  }
};

// ---- packed DIBs ------------------------------------------------------------------------

TEST_F(ImgBitmap, GlobalDibOfEightBitsHeaderPaletteAndRows) {
  Qimg* img = New();
  Fill(img, 3, 2, 8, {0, 1, 2, 3, 4, 5});
  img->palette[0] = 0xB0;  // entry 0: B, G, R
  img->palette[1] = 0x60;
  img->palette[2] = 0x20;
  Gdi::HGLOBAL h = nullptr;
  ASSERT_TRUE(QimgToGlobalDib(img, &h));
  const Bytes b = Block(h);
  ASSERT_EQ(b.size(), 1064u + 2 * 4);
  const Bytes header = {40, 0, 0, 0,  3, 0, 0, 0,  2, 0, 0, 0,  1, 0,  8, 0,
                        0,  0, 0, 0,  8, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,
                        0,  1, 0, 0,  0, 0, 0, 0};
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 40), header);
  EXPECT_EQ(Bytes(b.begin() + 40, b.begin() + 44), (Bytes{0xB0, 0x60, 0x20, 0}));
  // Rows bottom-up, each padded to 4 bytes.
  EXPECT_EQ(Bytes(b.begin() + 1064, b.end()), (Bytes{3, 4, 5, 0, 0, 1, 2, 0}));
  EXPECT_EQ(Gdi::GlobalFree(h), nullptr);
}

TEST_F(ImgBitmap, GlobalDibOfTwentyFourBitsPadsNineByteRows) {
  Gdi::HGLOBAL h = nullptr;
  ASSERT_TRUE(QimgToGlobalDib(ThreeByTwo(), &h));
  const Bytes b = Block(h);
  ASSERT_EQ(b.size(), 40u + 24);
  EXPECT_EQ(Bytes(b.begin() + 14, b.begin() + 16), (Bytes{24, 0}));
  EXPECT_EQ(Bytes(b.begin() + 20, b.begin() + 24), (Bytes{24, 0, 0, 0}));
  EXPECT_EQ(Bytes(b.begin() + 32, b.begin() + 36), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(Bytes(b.begin() + 40, b.end()),
            (Bytes{11, 12, 13, 14, 15, 16, 17, 18, 19, 0, 0, 0,  //
                   1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0}));
  Gdi::GlobalFree(h);
}

TEST_F(ImgBitmap, GlobalDibOfSixteenBitsIsWrittenAsFiveFiveFive) {
  Qimg* img = New();
  // 0xFC21: blue 1, green 33, red 31 -> 5-5-5 0x7E01; 0x07E0 (all green)
  // -> 0x03E0.
  Fill(img, 2, 1, 16, {0x21, 0xFC, 0xE0, 0x07});
  Gdi::HGLOBAL h = nullptr;
  ASSERT_TRUE(QimgToGlobalDib(img, &h));
  const Bytes b = Block(h);
  EXPECT_EQ(Bytes(b.begin() + 14, b.begin() + 20), (Bytes{16, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Bytes(b.begin() + 40, b.end()), (Bytes{0x01, 0x7E, 0xE0, 0x03}));
  EXPECT_EQ(Pixels(*img), (Bytes{0x21, 0xFC, 0xE0, 0x07}));  // image untouched
  // Read back, a 16-bit DIB is a 15-bit image with the same colours.
  Qimg* back = New();
  DibToQimg(back, b.data(), static_cast<int64_t>(b.size()));
  EXPECT_EQ(back->bitsPerPixel, 15);
  Qimg* a24 = New();
  Qimg* b24 = New();
  ImgConvBpp(img, a24, 24);
  ImgConvBpp(back, b24, 24);
  EXPECT_EQ(Pixels(*a24), (Bytes{8, 132, 248, 0, 252, 0}));
  EXPECT_EQ(Pixels(*b24), (Bytes{8, 128, 248, 0, 248, 0}));
  Gdi::GlobalFree(h);
}

TEST_F(ImgBitmap, GlobalDibOfFifteenBitsKeepsItsWords) {
  Qimg* img = New();
  Fill(img, 2, 1, 15, {0x01, 0x7E, 0x1F, 0x00});
  Gdi::HGLOBAL h = nullptr;
  ASSERT_TRUE(QimgToGlobalDib(img, &h));
  const Bytes b = Block(h);
  EXPECT_EQ(b[14], 16);
  EXPECT_EQ(Bytes(b.begin() + 40, b.end()), (Bytes{0x01, 0x7E, 0x1F, 0x00}));
  Gdi::GlobalFree(h);
}

TEST_F(ImgBitmap, GlobalDibFailsQuietlyWhenTheBlockIsRefused) {
  Gdi::Faults().failGlobalAlloc = 0;
  Gdi::HGLOBAL h = reinterpret_cast<Gdi::HGLOBAL>(1);
  EXPECT_FALSE(QimgToGlobalDib(ThreeByTwo(), &h));
  EXPECT_EQ(h, nullptr);
  EXPECT_TRUE(Errors::ErrNone());
  Gdi::Faults().failGlobalLock = 0;
  EXPECT_FALSE(QimgToGlobalDib(ThreeByTwo(), &h));
  EXPECT_EQ(Gdi::GlobalCount(), 0);
}

TEST_F(ImgBitmap, RoundTripThroughPackedDib) {
  Gdi::HGLOBAL h = nullptr;
  Qimg* src = ThreeByTwo();
  ASSERT_TRUE(QimgToGlobalDib(src, &h));
  const Bytes b = Block(h);
  Qimg* back = New();
  DibToQimg(back, b.data(), static_cast<int64_t>(b.size()));
  EXPECT_EQ(back->width, 3);
  EXPECT_EQ(back->height, 2);
  EXPECT_EQ(Pixels(*back), Pixels(*src));
  Gdi::GlobalFree(h);
}

// A packed 8-bit DIB of width 2, height 2 with a colour table of `entries`
// RGBQUADs (biClrUsed = used).
Bytes PackedEightBit(uint32_t used, int entries) {
  Bytes b(40, 0);
  Gdi::BITMAPINFOHEADER h;
  h.biWidth = 2;
  h.biHeight = 2;
  h.biBitCount = 8;
  h.biClrUsed = used;
  Gdi::WriteBitmapInfoHeader(b.data(), h);
  for (int i = 0; i < entries; i++)
    b.insert(b.end(), {uint8_t(10 + i), uint8_t(20 + i), uint8_t(30 + i), 0});
  // Rows bottom-up, padded: bottom row (1, 0), top row (0, 1).
  b.insert(b.end(), {1, 0, 0xEE, 0xEE, 0, 1, 0xEE, 0xEE});
  return b;
}

TEST_F(ImgBitmap, DibToQimgReadsOnlyTheColoursThatExist) {
  const Bytes b = PackedEightBit(2, 2);
  Qimg* img = New();
  img->palette[20] = 99;  // stale entries do not survive
  DibToQimg(img, b.data(), static_cast<int64_t>(b.size()));
  EXPECT_EQ(img->bitsPerPixel, 8);
  EXPECT_EQ(Pixels(*img), (Bytes{0, 1, 1, 0}));
  EXPECT_EQ(Bytes(img->palette, img->palette + 6), (Bytes{10, 20, 30, 11, 21, 31}));
  EXPECT_EQ(img->palette[20], 0);
  // biClrUsed 0 means a table of 256.
  const Bytes full = PackedEightBit(0, 256);
  DibToQimg(img, full.data(), static_cast<int64_t>(full.size()));
  EXPECT_EQ(Pixels(*img), (Bytes{0, 1, 1, 0}));
  EXPECT_EQ(img->palette[255 * 3], uint8_t(10 + 255));
}

TEST_F(ImgBitmap, DibToQimgRefusesWhatItCannotRead) {
  Qimg* img = New();
  Bytes b = PackedEightBit(2, 2);
  EXPECT_THROW(DibToQimg(img, b.data(), static_cast<int64_t>(b.size()) - 1),
               Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 7);
  EXPECT_EQ(Errors::ErrCode(), 9);
  Bytes tooMany = PackedEightBit(300, 2);
  EXPECT_THROW(DibToQimg(img, tooMany.data(), 10000), Errors::EMon);
  EXPECT_EQ(Errors::ErrCode(), 4);
  Bytes topDown = b;
  Gdi::WriteDword(topDown.data() + 8, static_cast<uint32_t>(-2));
  EXPECT_THROW(DibToQimg(img, topDown.data(), static_cast<int64_t>(b.size())),
               Errors::EMon);
  EXPECT_EQ(Errors::ErrCode(), 1);
  Bytes rle = b;
  Gdi::WriteDword(rle.data() + 16, 1);
  EXPECT_THROW(DibToQimg(img, rle.data(), static_cast<int64_t>(b.size())),
               Errors::EMon);
  Bytes huge = b;
  Gdi::WriteDword(huge.data() + 4, 0x7FFFFFFF);
  EXPECT_THROW(DibToQimg(img, huge.data(), static_cast<int64_t>(b.size())),
               Errors::EMon);
  EXPECT_THROW(DibToQimg(img, b.data(), 39), Errors::EMon);
  EXPECT_FALSE(ImgIsValid(img));
}

// ---- raw pixels -------------------------------------------------------------------------

TEST_F(ImgBitmap, RawAndStridedRows) {
  const uint8_t pal[768] = {7, 8, 9};
  const uint8_t px[] = {1, 2, 3, 4};
  Qimg* a = New();
  RawToQimg(a, px, pal, 8, 2, 2);
  EXPECT_EQ(Pixels(*a), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(a->palette[2], 9);
  // Rows 3 bytes apart, bottom-up.
  const uint8_t rows[] = {1, 2, 0xEE, 3, 4, 0xEE};
  Qimg* b = New();
  MakeQimg(b, rows, 2, false, 3, 8, 2);
  EXPECT_EQ(Pixels(*b), (Bytes{3, 4, 1, 2}));
  MakeQimg(b, rows, 2, true, 3, 8, 2);
  EXPECT_EQ(Pixels(*b), (Bytes{1, 2, 3, 4}));
  EXPECT_THROW(MakeQimg(b, rows, 4, true, 3, 8, 2), Errors::EMon);
}

// ---- bitmap handles ---------------------------------------------------------------------

TEST_F(ImgBitmap, EightBitImageBecomesTwentyFourBitSection) {
  Qimg* img = New();
  Fill(img, 3, 1, 8, {0, 1, 0});
  img->palette[0] = 1;
  img->palette[1] = 2;
  img->palette[2] = 3;
  img->palette[3] = 40;
  img->palette[4] = 50;
  img->palette[5] = 60;
  Gdi::HBITMAP bm = nullptr;
  ASSERT_TRUE(QimgToHBitmap(img, &bm));
  Gdi::BITMAP info;
  ASSERT_TRUE(Gdi::GetObject(bm, &info));
  EXPECT_EQ(info.bmBitsPixel, 24);
  EXPECT_EQ(info.bmWidth, 3);
  EXPECT_EQ(info.bmHeight, 1);
  const auto* bits = static_cast<const uint8_t*>(info.bmBits);
  EXPECT_EQ(Bytes(bits, bits + 12), (Bytes{1, 2, 3, 40, 50, 60, 1, 2, 3, 0, 0, 0}));
  Qimg* back = New();
  ASSERT_TRUE(HBitmapToQimg(bm, back));
  EXPECT_EQ(back->bitsPerPixel, 24);
  EXPECT_EQ(Pixels(*back), (Bytes{1, 2, 3, 40, 50, 60, 1, 2, 3}));
  EXPECT_TRUE(Gdi::DeleteObject(bm));
}

TEST_F(ImgBitmap, SectionRoundTripKeepsRowOrder) {
  Gdi::HBITMAP bm = nullptr;
  Qimg* src = ThreeByTwo();
  ASSERT_TRUE(QimgToHBitmap(src, &bm));
  Qimg* back = New();
  ASSERT_TRUE(HBitmapToQimg(bm, back));
  EXPECT_EQ(Pixels(*back), Pixels(*src));
  Gdi::DeleteObject(bm);
  EXPECT_EQ(Gdi::ObjectCount(), 0);
}

TEST_F(ImgBitmap, EightBitSectionGivesItsColourTable) {
  Bytes info(40 + 1024, 0);
  Gdi::BITMAPINFOHEADER h;
  h.biWidth = 2;
  h.biHeight = -1;  // top-down
  h.biBitCount = 8;
  h.biClrUsed = 2;
  Gdi::WriteBitmapInfoHeader(info.data(), h);
  Gdi::WriteRgbQuad(info.data() + 44, Gdi::RGBQUAD{5, 6, 7, 0});
  void* bits = nullptr;
  Gdi::HBITMAP bm = Gdi::CreateDIBSection(nullptr, info.data(),
                                          Gdi::DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(bm, nullptr);
  static_cast<uint8_t*>(bits)[0] = 1;
  Qimg* img = New();
  ASSERT_TRUE(HBitmapToQimg(bm, img));
  EXPECT_EQ(Pixels(*img), (Bytes{1, 0}));
  EXPECT_EQ(Bytes(img->palette, img->palette + 6), (Bytes{0, 0, 0, 5, 6, 7}));
  Gdi::DeleteObject(bm);
}

TEST_F(ImgBitmap, DeviceBitmapReadThroughBitmapBitsAndDibBits) {
  // 3 pixels at 24 bits: 9-byte rows, padded to 10 in device layout.
  const Bytes rows = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0};
  Gdi::HBITMAP bm = Gdi::CreateBitmap(3, 2, 1, 24, rows.data());
  ASSERT_NE(bm, nullptr);
  const Bytes expect = {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19};
  Qimg* img = New();
  ASSERT_TRUE(HBitmapToQimg(bm, img));
  EXPECT_EQ(Pixels(*img), expect);
  Gdi::Faults().failGetBitmapBits = 0;  // the second way
  Qimg* img2 = New();
  ASSERT_TRUE(HBitmapToQimg(bm, img2));
  EXPECT_EQ(Pixels(*img2), expect);
  Gdi::DeleteObject(bm);
  EXPECT_FALSE(HBitmapToQimg(bm, img2));  // deleted handle
  EXPECT_TRUE(Errors::ErrNone());
}

// ---- drawing ------------------------------------------------------------------------------

TEST_F(ImgBitmap, DrawsPaddedRowsOnTrueColourDevice) {
  Gdi::HDC dc = Device(5, 4, Gdi::kTrueColourCaps);
  ImgPut(ThreeByTwo(), dc, 1, 1);
  EXPECT_EQ(At(dc, 1, 1), Gdi::RGB(3, 2, 1));
  EXPECT_EQ(At(dc, 3, 1), Gdi::RGB(9, 8, 7));
  EXPECT_EQ(At(dc, 3, 2), Gdi::RGB(19, 18, 17));
  EXPECT_EQ(At(dc, 0, 0), 0u);
  EXPECT_EQ(At(dc, 4, 3), 0u);
  Gdi::DeleteDC(dc);
}

TEST_F(ImgBitmap, DrawsSixteenBitColoursRight) {
  Gdi::HDC dc = Device(3, 1, Gdi::kTrueColourCaps);
  Qimg* img = New();
  Fill(img, 3, 1, 16, {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00});
  ImgPut(img, dc, 0, 0);
  EXPECT_EQ(At(dc, 0, 0), Gdi::RGB(248, 0, 0));
  EXPECT_EQ(At(dc, 1, 0), Gdi::RGB(0, 252, 0));
  EXPECT_EQ(At(dc, 2, 0), Gdi::RGB(0, 0, 248));
  Qimg* img15 = New();  // 15 bits go as plain 16-bit 5-5-5
  Fill(img15, 1, 1, 15, {0x00, 0x7C});
  ImgPut(img15, dc, 0, 0);
  EXPECT_EQ(At(dc, 0, 0), Gdi::RGB(248, 0, 0));
  Gdi::DeleteDC(dc);
}

TEST_F(ImgBitmap, DrawsEightBitThroughItsPaletteAndThirtyTwoBits) {
  Gdi::HDC dc = Device(2, 1, Gdi::kTrueColourCaps);
  Qimg* img = New();
  Fill(img, 2, 1, 8, {0, 2});
  img->palette[6] = 10;
  img->palette[7] = 20;
  img->palette[8] = 30;
  ImgPut(img, dc, 0, 0);
  EXPECT_EQ(At(dc, 1, 0), Gdi::RGB(30, 20, 10));
  Qimg* img32 = New();
  Fill(img32, 1, 1, 32, {1, 2, 3, 0});
  ImgPut(img32, dc, 0, 0);
  EXPECT_EQ(At(dc, 0, 0), Gdi::RGB(3, 2, 1));
  Gdi::DeleteDC(dc);
}

TEST_F(ImgBitmap, SourceRectangleAndStretch) {
  Gdi::HDC dc = Device(6, 6, Gdi::kTrueColourCaps);
  Qimg* img = New();  // 4 x 2, pixel (x, y) has blue x, green y
  Bytes b;
  for (int y = 0; y < 2; y++)
    for (int x = 0; x < 4; x++) b.insert(b.end(), {uint8_t(x), uint8_t(y), 9});
  Fill(img, 4, 2, 24, b);
  ImgRect r{1, 1, 2, 1};  // pixels (1,1) and (2,1)
  ImgPutEx(img, r, dc, 0, 2, 4, 0, 0);
  EXPECT_EQ(At(dc, 0, 0), Gdi::RGB(9, 1, 1));
  EXPECT_EQ(At(dc, 1, 0), Gdi::RGB(9, 1, 1));
  EXPECT_EQ(At(dc, 2, 1), Gdi::RGB(9, 1, 2));
  EXPECT_EQ(At(dc, 3, 1), Gdi::RGB(9, 1, 2));
  EXPECT_EQ(At(dc, 4, 0), 0u);
  // Unscaled: a rectangle outside the image starts at 0; a width of 0 takes
  // the whole width.
  ImgRect outside{7, 0, 0, 1};
  ImgPutEx(img, outside, dc, 0, 0, 0, 5, 0);
  EXPECT_EQ(At(dc, 0, 5), Gdi::RGB(9, 0, 0));
  EXPECT_EQ(At(dc, 3, 5), Gdi::RGB(9, 0, 3));
  EXPECT_EQ(At(dc, 4, 5), 0u);
  Gdi::DeleteDC(dc);
}

TEST_F(ImgBitmap, FallsBackToSectionWhenTheDeviceTakesNoDibs) {
  const int32_t before = Gdi::ObjectCount();
  Gdi::HDC dc = Device(4, 3, Gdi::RC_BITBLT | Gdi::RC_STRETCHBLT);
  ImgPut(ThreeByTwo(), dc, 0, 1);
  EXPECT_EQ(At(dc, 0, 1), Gdi::RGB(3, 2, 1));
  EXPECT_EQ(At(dc, 2, 2), Gdi::RGB(19, 18, 17));
  ImgRect r{1, 0, 1, 1};
  ImgPutEx(ThreeByTwo(), r, dc, 0, 2, 2, 0, 2);  // stretched
  EXPECT_EQ(At(dc, 2, 0), Gdi::RGB(6, 5, 4));
  EXPECT_EQ(At(dc, 3, 1), Gdi::RGB(6, 5, 4));
  EXPECT_EQ(Gdi::ObjectCount(), before);
  Gdi::DeleteDC(dc);
}

TEST_F(ImgBitmap, PaletteDeviceRealisesTheImagePalette) {
  Gdi::HDC dc = Device(2, 1, Gdi::kTrueColourCaps | Gdi::RC_PALETTE);
  EXPECT_TRUE(DeviceHasPalette(dc));
  Qimg* img = New();
  Fill(img, 2, 1, 8, {1, 255});
  img->palette[3] = 11;  // entry 1: B, G, R
  img->palette[4] = 22;
  img->palette[5] = 33;
  img->palette[765] = 200;
  PalPut(img->palette, dc);
  const Gdi::DeviceContext* d = Gdi::DCFromHandle(dc);
  ASSERT_NE(d->palette, nullptr);
  EXPECT_TRUE(d->paletteBackground);
  EXPECT_EQ(d->realizeCount, 1);
  EXPECT_EQ(d->systemPaletteUseLog,
            (std::vector<uint32_t>{Gdi::SYSPAL_NOSTATIC, Gdi::SYSPAL_STATIC}));
  Gdi::PALETTEENTRY e[2];
  ASSERT_EQ(Gdi::GetPaletteEntries(d->palette, 0, 2, e), 2u);
  EXPECT_EQ(e[1].peRed, 33);
  EXPECT_EQ(e[1].peGreen, 22);
  EXPECT_EQ(e[1].peBlue, 11);
  EXPECT_EQ(e[1].peFlags, Gdi::PC_NOCOLLAPSE);
  ImgPut(img, dc, 0, 0);  // indices through the realised palette
  EXPECT_EQ(At(dc, 0, 0), Gdi::RGB(33, 22, 11));
  EXPECT_EQ(At(dc, 1, 0), Gdi::RGB(0, 0, 200));
  PalPut(img->palette, dc);  // the previous palette is deleted
  EXPECT_EQ(Gdi::ObjectCount(), 1);
  Gdi::DeleteDC(dc);
}

TEST_F(ImgBitmap, PaletteDeviceDrawsOtherDepthsAtEightBits) {
  Gdi::HDC dc = Device(1, 1, Gdi::kTrueColourCaps | Gdi::RC_PALETTE);
  Qimg* img = New();
  Fill(img, 1, 1, 24, {30, 60, 90});
  ImgPutEx(img, ImgRect{}, dc, kConvGrey, 0, 0, 0, 0);  // grey: 180 div 3
  EXPECT_EQ(At(dc, 0, 0), Gdi::RGB(60, 60, 60));
  EXPECT_EQ(img->bitsPerPixel, 24);
  Gdi::DeleteDC(dc);
}

TEST_F(ImgBitmap, NoPaletteWorkOnTrueColourDevices) {
  const int32_t objects = Gdi::ObjectCount();
  Gdi::HDC dc = Device(1, 1, Gdi::kTrueColourCaps);
  EXPECT_FALSE(DeviceHasPalette(dc));
  uint8_t pal[768] = {};
  PalPut(pal, dc);
  EXPECT_EQ(Gdi::DCFromHandle(dc)->palette, nullptr);
  EXPECT_EQ(Gdi::ObjectCount(), objects);
  Qimg empty;
  ImgPut(&empty, dc, 0, 0);  // nothing to draw
  Gdi::DeleteDC(dc);
}

}  // namespace
