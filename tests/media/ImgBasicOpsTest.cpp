// Geometry and pixel operations, with expectations worked out by hand from
// the operations' rules, and against ImageMagick where its sampling agrees.
#include <gtest/gtest.h>

#include <cstring>

#include "foundation/Errors.h"
#include "media/ImgBasic.h"
#include "support/ImageMagick.h"
#include "support/ImgFixtures.h"

using namespace ImgBasic;
using TestSupport::Fill;
using TestSupport::Pixels;

namespace {

using Bytes = std::vector<uint8_t>;

class ImgOps : public TestSupport::ImgTest {
 protected:
  // A w×h 24-bit image whose pixel (x, y) is (x, y, tag).
  Qimg* Grid(int32_t w, int32_t h, uint8_t tag = 7) {
    Bytes b;
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) b.insert(b.end(), {uint8_t(x), uint8_t(y), tag});
    Qimg* img = New();
    Fill(img, w, h, 24, b);
    return img;
  }
  // The x coordinates (first byte) of the pixels of row y of a Grid-made image.
  static Bytes Columns(const Qimg& img, int32_t y) {
    Bytes out;
    for (int x = 0; x < img.width; x++)
      out.push_back(img.data[(int64_t(y) * img.width + x) * 3]);
    return out;
  }
  static Bytes RowsOfColumn(const Qimg& img, int32_t x) {
    Bytes out;
    for (int y = 0; y < img.height; y++)
      out.push_back(img.data[(int64_t(y) * img.width + x) * 3 + 1]);
    return out;
  }
  static Bytes Px(const Qimg& img, int32_t x, int32_t y) {
    const uint8_t* p = img.data + (int64_t(y) * img.width + x) * img.bytesPerPixel;
    return Bytes(p, p + img.bytesPerPixel);
  }
};

// ---- operation descriptors ---------------------------------------------------

TEST(ImgInfoTable, RowsTheOperationsUse) {
  ImgInfoRec i;
  ImgInfo(&i, kOpResize);
  EXPECT_EQ(i.depthMap[0], 8);
  EXPECT_EQ(i.depthMap[2], 24);
  EXPECT_FALSE(i.inPlace);
  ImgInfo(&i, kOpFlipV);
  EXPECT_EQ(i.depthMap[1], 15);
  EXPECT_EQ(i.depthMap[2], 16);
  EXPECT_EQ(i.depthMap[4], 32);
  EXPECT_TRUE(i.inPlace);
  ImgInfo(&i, kOpBrightness);
  EXPECT_EQ(i.depthMap[4], 32);
  EXPECT_EQ(i.depthMap[1], 24);
  EXPECT_TRUE(i.paletteOp);
  EXPECT_EQ(i.paramCount, 3);
  EXPECT_EQ(i.params[2].min, -100);
  ImgInfo(&i, kOpGamma);
  EXPECT_EQ(i.params[0].min, 0.01);
  EXPECT_EQ(i.params[0].max, 5.0);
  EXPECT_EQ(i.params[0].def, 1.0);
  EXPECT_EQ(i.depthMap[4], 24);
  ImgInfo(&i, kOpSaturation);
  EXPECT_EQ(i.paramCount, 1);
  ImgInfo(&i, kOpWhiteBalance);
  EXPECT_EQ(i.params[1].def, 255);
  ImgInfo(&i, kOpSprite);
  EXPECT_TRUE(i.convertDest);
  EXPECT_FALSE(i.inPlace);
  ImgInfo(&i, kOpInsert);
  EXPECT_TRUE(i.destDepthWins);
  ImgInfo(&i, kOpResample);
  EXPECT_EQ(i.depthMap[0], 24);
  ImgInfo(&i, kOpCrop);
  EXPECT_TRUE(i.inPlace);
  EXPECT_EQ(i.depthMap[0], 8);
  ImgInfo(&i, kOpRemap);
  EXPECT_TRUE(i.paletteOp);
  ImgInfo(&i, 1);  // a code without a row keeps the reset values
  EXPECT_EQ(i.depthMap[0], 24);
  EXPECT_TRUE(i.inPlace);
  EXPECT_EQ(i.paramCount, 0);
}

TEST_F(ImgOps, MissingDestinationIsImageErrorSix) {
  Qimg* s = Grid(2, 2);
  EXPECT_THROW(ImgResize(s, nullptr, 4, 4), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 7);
  EXPECT_EQ(Errors::ErrCode(), 6);
}

// ---- resize --------------------------------------------------------------------

TEST_F(ImgOps, ResizeFourToTenColumns) {
  Qimg* d = New();
  ImgResize(Grid(4, 1), d, 10, 1);
  EXPECT_EQ(Columns(*d, 0), (Bytes{0, 0, 0, 1, 1, 2, 2, 2, 3, 3}));
}

TEST_F(ImgOps, ResizeTenToFourColumnsAndRows) {
  Qimg* d = New();
  ImgResize(Grid(10, 10), d, 4, 4);
  EXPECT_EQ(Columns(*d, 0), (Bytes{0, 3, 5, 8}));
  EXPECT_EQ(RowsOfColumn(*d, 0), (Bytes{0, 3, 5, 8}));
}

TEST_F(ImgOps, ResizeEnlargesRowsByRepeating) {
  Qimg* d = New();
  ImgResize(Grid(1, 2), d, 1, 5);  // step 40000
  EXPECT_EQ(RowsOfColumn(*d, 0), (Bytes{0, 0, 0, 1, 1}));
}

TEST_F(ImgOps, ResizeDepths) {
  Qimg* s16 = New();
  Fill(s16, 2, 1, 16, {0x21, 0xFC, 0x3F, 0x00});
  Qimg* d = New();
  ImgResize(s16, d, 4, 1);
  EXPECT_EQ(d->bitsPerPixel, 24);
  EXPECT_EQ(Px(*d, 3, 0), (Bytes{248, 4, 0}));

  Qimg* s8 = New();
  Fill(s8, 2, 1, 8, {5, 9});
  s8->palette[15] = 77;
  Qimg* d8 = New();
  ImgResize(s8, d8, 4, 2);
  EXPECT_EQ(d8->bitsPerPixel, 8);
  EXPECT_EQ(Pixels(*d8), (Bytes{5, 5, 9, 9, 5, 5, 9, 9}));
  EXPECT_EQ(d8->palette[15], 77);
}

TEST_F(ImgOps, ResizeOntoItself) {
  Qimg* s = Grid(4, 1);
  ImgResize(s, s, 10, 1);
  EXPECT_EQ(s->width, 10);
  EXPECT_EQ(Columns(*s, 0), (Bytes{0, 0, 0, 1, 1, 2, 2, 2, 3, 3}));
}

TEST_F(ImgOps, ResizeRefusesEmptyAndHostileSizes) {
  Qimg* s = Grid(4, 4);
  Qimg* d = New();
  for (auto wh : {std::pair{0, 4}, {4, 0}, {-3, 4}, {100000, 100000},
                  {2147483647, 1}}) {
    EXPECT_THROW(ImgResize(s, d, wh.first, wh.second), Errors::EMon);
    EXPECT_EQ(Errors::ErrClass(), 7);
    EXPECT_EQ(Errors::ErrCode(), 2);
    EXPECT_THROW(ImgResample(s, d, wh.first, wh.second), Errors::EMon);
    EXPECT_EQ(Errors::ErrCode(), 2);
  }
  EXPECT_EQ(Columns(*s, 3), (Bytes{0, 1, 2, 3}));  // source untouched
}

// ---- resample ---------------------------------------------------------------------

TEST_F(ImgOps, ResampleThreeToFourColumns) {
  Qimg* s = New();
  Fill(s, 3, 1, 24, {10, 20, 30, 21, 41, 61, 100, 100, 100});
  Qimg* d = New();
  ImgResample(s, d, 4, 1);
  EXPECT_EQ(Pixels(*d), (Bytes{10, 20, 30, 15, 30, 45, 21, 41, 61, 100, 100, 100}));
}

TEST_F(ImgOps, ResampleDoublesColumns) {
  Qimg* s = New();
  Fill(s, 2, 1, 24, {0, 0, 0, 9, 9, 9});
  Qimg* d = New();
  ImgResample(s, d, 4, 1);
  EXPECT_EQ(Pixels(*d), (Bytes{0, 0, 0, 4, 4, 4, 9, 9, 9, 9, 9, 9}));
}

TEST_F(ImgOps, ResampleShrinkStopsAtTheRowsLastPixel) {
  // 3 -> 2: runs (p0, p1) and (p2); the second run must not take the first
  // pixel of the next row.
  Qimg* s = New();
  Fill(s, 3, 2, 24, {10, 10, 10, 20, 20, 20, 30, 30, 30,  //
                     90, 90, 90, 90, 90, 90, 90, 90, 90});
  Qimg* d = New();
  ImgResample(s, d, 2, 2);
  EXPECT_EQ(Px(*d, 0, 0), (Bytes{15, 15, 15}));
  EXPECT_EQ(Px(*d, 1, 0), (Bytes{30, 30, 30}));
}

TEST_F(ImgOps, ResampleShrink720To480) {
  // Runs 2, 2, 1, 2, 1, ...: the last output pixel is the row's last pixel.
  Bytes b;
  for (int y = 0; y < 2; y++)
    for (int x = 0; x < 720; x++)
      b.insert(b.end(), {uint8_t(x % 251), uint8_t(y * 200), 0});
  Qimg* s = New();
  Fill(s, 720, 2, 24, b);
  Qimg* d = New();
  ImgResample(s, d, 480, 2);
  EXPECT_EQ(Px(*d, 479, 0), (Bytes{719 % 251, 0, 0}));
  EXPECT_EQ(Px(*d, 0, 0), (Bytes{0, 0, 0}));          // mean(0, 1) = 0
  EXPECT_EQ(Px(*d, 1, 0), (Bytes{2, 0, 0}));          // mean(2, 3)
  EXPECT_EQ(Px(*d, 2, 0), (Bytes{4, 0, 0}));          // p4 alone
  EXPECT_EQ(Px(*d, 479, 1), (Bytes{719 % 251, 200, 0}));
}

TEST_F(ImgOps, ResampleShrinkRowsInRunsTwoOne) {
  // 3 rows -> 2: runs (r0, r1), (r2).
  Qimg* s = New();
  Fill(s, 1, 3, 24, {10, 10, 10, 21, 21, 21, 50, 50, 50});
  Qimg* d = New();
  ImgResample(s, d, 1, 2);
  EXPECT_EQ(Pixels(*d), (Bytes{15, 15, 15, 50, 50, 50}));
}

TEST_F(ImgOps, ResampleDoublesRowsBottomUp) {
  Qimg* s = New();
  Fill(s, 1, 2, 24, {10, 10, 10, 21, 21, 21});
  Qimg* d = New();
  ImgResample(s, d, 1, 4);
  // r0, r0, mean(r0, r1), r1
  EXPECT_EQ(Pixels(*d), (Bytes{10, 10, 10, 10, 10, 10, 15, 15, 15, 21, 21, 21}));
}

TEST_F(ImgOps, ResampleStretchesThreeRowsToFourBottomUp) {
  Qimg* s = New();
  Fill(s, 1, 3, 24, {10, 10, 10, 20, 20, 20, 31, 31, 31});
  Qimg* d = New();
  ImgResample(s, d, 1, 4);
  // r0, r1, mean(r1, r2), r2
  EXPECT_EQ(Pixels(*d), (Bytes{10, 10, 10, 20, 20, 20, 25, 25, 25, 31, 31, 31}));
}

TEST_F(ImgOps, ResampleSecondDoublingRunsTopDown) {
  Qimg* s = New();
  Fill(s, 1, 2, 24, {0, 0, 0, 100, 100, 100});
  Qimg* d = New();
  ImgResample(s, d, 1, 8);
  // Bottom-up: 0, 0, 50, 100; then top-down: 0, 0, 0, 25, 50, 75, 100, 100.
  Bytes expect;
  for (uint8_t v : {0, 0, 0, 25, 50, 75, 100, 100}) expect.insert(expect.end(), 3, v);
  EXPECT_EQ(Pixels(*d), expect);
}

TEST_F(ImgOps, ResampleAlwaysGivesTwentyFourBits) {
  Qimg* s = New();
  Fill(s, 2, 1, 8, {0, 1});
  s->palette[3] = 200;
  Qimg* d = New();
  ImgResample(s, d, 2, 1);
  EXPECT_EQ(d->bitsPerPixel, 24);
  EXPECT_EQ(Pixels(*d), (Bytes{0, 0, 0, 200, 0, 0}));
}

TEST_F(ImgOps, ResampleShrinkingRowsAndStretchingColumns) {
  // Rows 3 -> 2: (r0, r1) and r2; columns 2 -> 3: p0, mean(p0, p1), p1.
  Qimg* s = New();
  Fill(s, 2, 3, 24, {10, 10, 10, 30, 30, 30,  //
                     20, 20, 20, 40, 40, 40,  //
                     60, 60, 60, 90, 90, 90});
  Qimg* d = New();
  ImgResample(s, d, 3, 2);
  EXPECT_EQ(Pixels(*d), (Bytes{15, 15, 15, 25, 25, 25, 35, 35, 35,  //
                               60, 60, 60, 75, 75, 75, 90, 90, 90}));
}

// ---- crop ------------------------------------------------------------------------

TEST_F(ImgOps, CropCopiesTheRectangle) {
  Qimg* d = New();
  ImgCrop(Grid(4, 3), d, 1, 1, 2, 2);
  EXPECT_EQ(d->width, 2);
  EXPECT_EQ(d->height, 2);
  EXPECT_EQ(Px(*d, 0, 0), (Bytes{1, 1, 7}));
  EXPECT_EQ(Px(*d, 1, 1), (Bytes{2, 2, 7}));
}

TEST_F(ImgOps, CropInPlaceAndCutAtTheEdges) {
  Qimg* s = Grid(4, 3);
  ImgCrop(s, s, 2, 1, 10, 10);
  EXPECT_EQ(s->width, 2);
  EXPECT_EQ(s->height, 2);
  EXPECT_EQ(Pixels(*s), (Bytes{2, 1, 7, 3, 1, 7, 2, 2, 7, 3, 2, 7}));
}

TEST_F(ImgOps, CropInPlaceOfSixteenBitsGivesTwentyFour) {
  Qimg* s = New();
  Fill(s, 2, 1, 16, {0x1F, 0x00, 0x00, 0xF8});
  ImgCrop(s, nullptr, 1, 0, 1, 1);
  EXPECT_EQ(s->bitsPerPixel, 24);
  EXPECT_EQ(s->width, 1);
  EXPECT_EQ(Pixels(*s), (Bytes{0, 0, 248}));
}

TEST_F(ImgOps, CropAtTheWidthChangesNothing) {
  Qimg* s = Grid(4, 3);
  const Bytes before = Pixels(*s);
  ImgCrop(s, s, 4, 0, 1, 1);
  ImgCrop(s, s, 0, 3, 1, 1);
  EXPECT_EQ(Pixels(*s), before);
  EXPECT_EQ(s->width, 4);
  EXPECT_TRUE(Errors::ErrNone());
}

TEST_F(ImgOps, CropClipsNegativePositions) {
  Qimg* d = New();
  ImgCrop(Grid(4, 3), d, -1, -2, 3, 3);  // the part inside: (0,0) 2 x 1
  EXPECT_EQ(d->width, 2);
  EXPECT_EQ(d->height, 1);
  EXPECT_EQ(Pixels(*d), (Bytes{0, 0, 7, 1, 0, 7}));
  Qimg* s = Grid(4, 3);
  ImgCrop(s, s, -5, 0, 3, 2);  // wholly left of the image
  EXPECT_EQ(s->width, 4);
  EXPECT_THROW(ImgCrop(s, s, 0, 0, 0, 2), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 7);
}

// ---- rotate and flips ------------------------------------------------------------------

TEST_F(ImgOps, RotateThreeByTwo) {
  // a b c / d e f, with a..f as first bytes 1..6
  Qimg* s = New();
  Fill(s, 3, 2, 8, {1, 2, 3, 4, 5, 6});
  s->palette[10] = 42;
  Qimg* d = New();
  ImgRotate(s, d, kRotateClockwise);
  EXPECT_EQ(d->width, 2);
  EXPECT_EQ(d->height, 3);
  EXPECT_EQ(Pixels(*d), (Bytes{4, 1, 5, 2, 6, 3}));
  EXPECT_EQ(d->palette[10], 42);
  ImgRotate(s, d, kRotateAnticlockwise);
  EXPECT_EQ(Pixels(*d), (Bytes{3, 6, 2, 5, 1, 4}));
  ImgRotate(s, d, kRotateHalf);
  EXPECT_EQ(d->width, 3);
  EXPECT_EQ(Pixels(*d), (Bytes{6, 5, 4, 3, 2, 1}));
  ImgRotate(s, d, 0);
  EXPECT_EQ(Pixels(*d), (Bytes{1, 2, 3, 4, 5, 6}));
  ImgRotate(s, s, kRotateClockwise);
  EXPECT_EQ(Pixels(*s), (Bytes{4, 1, 5, 2, 6, 3}));
}

TEST_F(ImgOps, RotateFifteenBitsGivesTwentyFour) {
  Qimg* s = New();
  Fill(s, 1, 2, 15, {0x1F, 0x00, 0x00, 0x7C});
  Qimg* d = New();
  ImgRotate(s, d, kRotateClockwise);
  EXPECT_EQ(d->bitsPerPixel, 24);
  EXPECT_EQ(Pixels(*d), (Bytes{0, 0, 248, 248, 0, 0}));
}

TEST_F(ImgOps, FlipVInPlaceAndCopyingKeepsDepth) {
  Qimg* s = New();
  Fill(s, 1, 3, 16, {1, 0, 2, 0, 3, 0});
  ImgFlipV(s, s);
  EXPECT_EQ(Pixels(*s), (Bytes{3, 0, 2, 0, 1, 0}));
  EXPECT_EQ(s->bitsPerPixel, 16);
  Qimg* d = New();
  ImgFlipV(s, d);
  EXPECT_EQ(Pixels(*d), (Bytes{1, 0, 2, 0, 3, 0}));
  ImgFlipV(s, nullptr);
  EXPECT_EQ(Pixels(*s), (Bytes{1, 0, 2, 0, 3, 0}));
}

TEST_F(ImgOps, FlipHReversesRows) {
  Qimg* s = New();
  Fill(s, 3, 2, 8, {1, 2, 3, 4, 5, 6});
  ImgFlipH(s, s);
  EXPECT_EQ(Pixels(*s), (Bytes{3, 2, 1, 6, 5, 4}));
  Qimg* s16 = New();
  Fill(s16, 2, 1, 16, {0x1F, 0x00, 0x00, 0xF8});
  Qimg* d = New();
  ImgFlipH(s16, d);
  EXPECT_EQ(d->bitsPerPixel, 24);
  EXPECT_EQ(Pixels(*d), (Bytes{0, 0, 248, 248, 0, 0}));
}

// ---- colour operations ------------------------------------------------------------------

TEST_F(ImgOps, SwapRedAndBlue) {
  Qimg* s24 = New();
  Fill(s24, 1, 1, 24, {1, 2, 3});
  ImgSwapRB(s24, nullptr);
  EXPECT_EQ(Pixels(*s24), (Bytes{3, 2, 1}));
  Qimg* s32 = New();
  Fill(s32, 1, 1, 32, {1, 2, 3, 4});
  Qimg* d = New();
  ImgSwapRB(s32, d);
  EXPECT_EQ(Pixels(*d), (Bytes{3, 2, 1, 4}));
  EXPECT_EQ(d->bitsPerPixel, 32);
  Qimg* s8 = New();
  Fill(s8, 1, 1, 8, {0});
  s8->palette[0] = 10;
  s8->palette[2] = 30;
  ImgSwapRB(s8, s8);
  EXPECT_EQ(s8->palette[0], 30);
  EXPECT_EQ(s8->palette[2], 10);
  EXPECT_EQ(Pixels(*s8), (Bytes{0}));
  // 5-5-5: blue 1, green 16, red 31 -> blue 31, green 16, red 1.
  Qimg* s15 = New();
  Fill(s15, 1, 1, 15, {0x01, 0x7E});
  ImgSwapRB(s15, s15);
  EXPECT_EQ(Pixels(*s15), (Bytes{0x1F, 0x06}));
  Qimg* s16 = New();  // 5-6-5: blue 1, green 33, red 31
  Fill(s16, 1, 1, 16, {0x21, 0xFC});
  ImgSwapRB(s16, s16);
  EXPECT_EQ(Pixels(*s16), (Bytes{0x3F, 0x0C}));
}

TEST_F(ImgOps, RemapThroughTables) {
  uint8_t tables[768];
  for (int i = 0; i < 256; i++) {
    tables[i] = uint8_t(255 - i);    // red
    tables[256 + i] = uint8_t(i / 2);  // green
    tables[512 + i] = uint8_t(i ^ 1);  // blue
  }
  Qimg* s = New();
  Fill(s, 1, 1, 24, {10, 20, 30});  // B, G, R
  Qimg* d = New();
  ImgRemap(s, d, tables);
  EXPECT_EQ(Pixels(*d), (Bytes{11, 10, 225}));
  Qimg* s8 = New();
  Fill(s8, 1, 1, 8, {0});
  s8->palette[0] = 10;
  s8->palette[1] = 20;
  s8->palette[2] = 30;
  ImgRemap(s8, nullptr, tables);
  EXPECT_EQ(s8->palette[0], 11);
  EXPECT_EQ(s8->palette[2], 225);
}

// ---- paste ---------------------------------------------------------------------------------

TEST_F(ImgOps, InsertClipsOnAllSides) {
  Qimg* src = Grid(2, 2, 9);
  Qimg* d = Grid(4, 3);
  ImgInsert(src, d, 3, 2);  // only the source's (0,0) fits
  EXPECT_EQ(d->width, 4);
  EXPECT_EQ(d->height, 3);
  EXPECT_EQ(Px(*d, 3, 2), (Bytes{0, 0, 9}));
  EXPECT_EQ(Px(*d, 2, 2), (Bytes{2, 2, 7}));
  ImgInsert(src, d, -1, -1);  // only the source's (1,1) fits, at (0,0)
  EXPECT_EQ(Px(*d, 0, 0), (Bytes{1, 1, 9}));
  EXPECT_EQ(Px(*d, 1, 0), (Bytes{1, 0, 7}));
  EXPECT_EQ(Px(*d, 0, 1), (Bytes{0, 1, 7}));
}

TEST_F(ImgOps, InsertOutsideOrIntoItselfChangesNothing) {
  Qimg* src = Grid(2, 2, 9);
  Qimg* d = Grid(4, 3);
  const Bytes before = Pixels(*d);
  ImgInsert(src, d, 4, 0);
  ImgInsert(src, d, 0, 3);
  ImgInsert(src, d, -2, 0);
  ImgInsert(d, d, 0, 0);
  EXPECT_EQ(Pixels(*d), before);
  EXPECT_TRUE(Errors::ErrNone());
}

TEST_F(ImgOps, InsertTheHigherDepthWins) {
  Qimg* src = New();
  Fill(src, 1, 1, 24, {1, 2, 3});
  Qimg* d = New();
  Fill(d, 2, 1, 8, {4, 4});
  d->palette[12] = 50;
  ImgInsert(src, d, 1, 0);
  EXPECT_EQ(d->bitsPerPixel, 24);
  EXPECT_EQ(Pixels(*d), (Bytes{50, 0, 0, 1, 2, 3}));
  Qimg* s8 = New();
  Fill(s8, 1, 1, 8, {1});
  s8->palette[3] = 60;
  ImgInsert(s8, d, 0, 0);
  EXPECT_EQ(d->bitsPerPixel, 24);
  EXPECT_EQ(Px(*d, 0, 0), (Bytes{60, 0, 0}));
}

TEST_F(ImgOps, SpriteSkipsTheTransparentValueAtEachDepth) {
  // 24 bits: the low 24 bits, lowest byte first as stored.
  Qimg* s = New();
  Fill(s, 2, 1, 24, {0x10, 0x20, 0x30, 1, 2, 3});
  Qimg* d = Grid(2, 1);
  ImgSprite(s, d, 0, 0, 0xFF302010u);
  EXPECT_EQ(Pixels(*d), (Bytes{0, 0, 7, 1, 2, 3}));
  // 32 bits: the whole value, so the fourth byte counts.
  Qimg* s32 = New();
  Fill(s32, 2, 1, 32, {1, 2, 3, 0, 1, 2, 3, 9});
  Qimg* d32 = New();
  Fill(d32, 2, 1, 32, Bytes(8, 0xEE));
  ImgSprite(s32, d32, 0, 0, 0x00030201u);
  EXPECT_EQ(Pixels(*d32), (Bytes{0xEE, 0xEE, 0xEE, 0xEE, 1, 2, 3, 9}));
  // 8 bits: the low byte.
  Qimg* s8 = New();
  Fill(s8, 3, 1, 8, {5, 6, 5});
  Qimg* d8 = New();
  Fill(d8, 3, 1, 8, {1, 1, 1});
  ImgSprite(s8, d8, 0, 0, 0x1205u);
  EXPECT_EQ(Pixels(*d8), (Bytes{1, 6, 1}));
  // 16 bits: the low 16 bits; the destination takes the sprite's depth.
  Qimg* s16 = New();
  Fill(s16, 2, 1, 16, {0x34, 0x12, 0x1F, 0x00});
  Qimg* d16 = New();
  Fill(d16, 2, 1, 24, {0, 0, 248, 0, 0, 248});
  ImgSprite(s16, d16, 0, 0, 0xABCD1234u);
  EXPECT_EQ(d16->bitsPerPixel, 16);
  EXPECT_EQ(Pixels(*d16), (Bytes{0x00, 0xF8, 0x1F, 0x00}));
}

// ---- against ImageMagick --------------------------------------------------------------

class ImgOpsPeer : public ImgOps {
 protected:
  void SetUp() override {
    if (!TestSupport::HaveConvert()) GTEST_SKIP() << "ImageMagick convert absent";
  }
  // A 24-bit image of distinct colours and its R,G,B picture.
  Qimg* Sample(int32_t w, int32_t h, TestSupport::RgbPicture& pic) {
    Bytes b;
    pic = TestSupport::RgbPicture{w, h, {}};
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) {
        const uint8_t r = uint8_t(x * 37 + 5), g = uint8_t(y * 53 + 11),
                      bl = uint8_t((x * 7 + y * 13) * 3);
        b.insert(b.end(), {bl, g, r});
        pic.rgb.insert(pic.rgb.end(), {r, g, bl});
      }
    Qimg* img = New();
    Fill(img, w, h, 24, b);
    return img;
  }
  static TestSupport::RgbPicture Picture(const Qimg& img) {
    TestSupport::RgbPicture p{img.width, img.height, {}};
    for (int64_t i = 0; i < int64_t(img.width) * img.height; i++)
      p.rgb.insert(p.rgb.end(), {img.data[i * 3 + 2], img.data[i * 3 + 1],
                                 img.data[i * 3]});
    return p;
  }
  void ExpectSame(const Qimg& ours, const std::vector<std::string>& args,
                  const TestSupport::RgbPicture& in) {
    TestSupport::RgbPicture theirs;
    ASSERT_TRUE(TestSupport::RunConvert(in, args, theirs));
    const TestSupport::RgbPicture mine = Picture(ours);
    EXPECT_EQ(mine.width, theirs.width);
    EXPECT_EQ(mine.height, theirs.height);
    EXPECT_EQ(mine.rgb, theirs.rgb);
  }
};

TEST_F(ImgOpsPeer, SampleEnlargingByWholeFactors) {
  // Steps 50000 and 25000 are exact: output pixel k takes source k div f,
  // the same pixel the peer samples at the output pixel's centre.
  TestSupport::RgbPicture pic;
  Qimg* s = Sample(4, 3, pic);
  Qimg* d = New();
  ImgResize(s, d, 8, 12);
  ExpectSame(*d, {"-sample", "8x12!"}, pic);
}

TEST_F(ImgOpsPeer, SampleReducingByWholeFactors) {
  // We take source k × f; the peer samples at (k + 0.5) × f - 0.5, which is
  // k × f + 1 across (f = 3) and k × f down (f = 2), so the picture is first
  // rolled one pixel right.
  TestSupport::RgbPicture pic;
  Qimg* s = Sample(9, 8, pic);
  Qimg* d = New();
  ImgResize(s, d, 3, 4);
  ExpectSame(*d, {"-roll", "+1+0", "-sample", "3x4!"}, pic);
}

TEST_F(ImgOpsPeer, RotationsAndFlips) {
  TestSupport::RgbPicture pic;
  Qimg* s = Sample(5, 3, pic);
  Qimg* d = New();
  ImgRotate(s, d, kRotateClockwise);
  ExpectSame(*d, {"-rotate", "90"}, pic);
  ImgRotate(s, d, kRotateAnticlockwise);
  ExpectSame(*d, {"-rotate", "270"}, pic);
  ImgRotate(s, d, kRotateHalf);
  ExpectSame(*d, {"-rotate", "180"}, pic);
  ImgFlipV(s, d);
  ExpectSame(*d, {"-flip"}, pic);
  ImgFlipH(s, d);
  ExpectSame(*d, {"-flop"}, pic);
}

}  // namespace

TEST(MiscFill, FillColorOnAnImage) {
  Qimg img;
  _imgalloc_(&img, 3, 2, "Test.img", __LINE__, 24);
  std::memset(img.data, 0, static_cast<size_t>(img.size));
  // Pixel 4 is the second pixel of the second row.
  FillColor(&img, 4, 5, 0x0000FF00u);
  EXPECT_EQ(img.data[9], 0);
  EXPECT_EQ(img.data[12], 0x00);
  EXPECT_EQ(img.data[13], 0xFF);
  EXPECT_EQ(img.data[14], 0x00);
  EXPECT_EQ(img.data[15], 0x00);
  EXPECT_EQ(img.data[16], 0xFF);
  FillColor(&img, -2, 3, 0xFFFFFFu);
  EXPECT_EQ(img.data[0], 0);
  ImgFree(&img);
  FillColor(&img, 0, 3, 0xFFFFFFu);  // an empty image: nothing
  FillColor(nullptr, 0, 3, 0xFFFFFFu);
}
