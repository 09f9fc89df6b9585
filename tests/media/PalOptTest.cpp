// Palette quantiser: counting, median cut, palettes, nearest colour, the
// three remappers, the fixed-palette mapping, the private pass of the
// single-image conversion, a literal cross-check and a photograph measured
// against ImageMagick.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "media/ImgBasic.h"
#include "media/PalOpt.h"
#include "media/PalOptLiteral.h"
#include "support/TestUtil.h"

using ImgBasic::Qimg;
using PalOpt::CellOf;
using PalOpt::WorkArea;

namespace {

struct Rgb {
  int r, g, b;
};

// A 24-bit image from red, green, blue triples, row by row.
Qimg Make24(int width, int height, const std::vector<Rgb>& pixels) {
  Qimg img;
  ImgBasic::_imgalloc_(&img, width, height, "test", __LINE__, 24);
  for (int i = 0; i < width * height; i++) {
    img.data[i * 3] = static_cast<uint8_t>(pixels[i].b);
    img.data[i * 3 + 1] = static_cast<uint8_t>(pixels[i].g);
    img.data[i * 3 + 2] = static_cast<uint8_t>(pixels[i].r);
  }
  return img;
}

Qimg Grey24(int width, int height, const std::vector<int>& values) {
  std::vector<Rgb> px;
  for (int v : values) px.push_back({v, v, v});
  return Make24(width, height, px);
}

std::vector<int> Indices(const Qimg& img) {
  return std::vector<int>(img.data, img.data + img.width * img.height);
}

std::vector<uint8_t> Bytes(const Qimg& img) {
  return std::vector<uint8_t>(
      img.data, img.data + int64_t(img.width) * img.height * img.bytesPerPixel);
}

// Palette entry i as red, green, blue.
Rgb Entry(const uint8_t* palette, int i) {
  return {palette[i * 3 + 2], palette[i * 3 + 1], palette[i * 3]};
}

void ExpectEntry(const uint8_t* palette, int i, int r, int g, int b) {
  const Rgb e = Entry(palette, i);
  EXPECT_EQ(e.r, r) << "entry " << i;
  EXPECT_EQ(e.g, g) << "entry " << i;
  EXPECT_EQ(e.b, b) << "entry " << i;
}

void ExpectBounds(const PalOpt::PalBox& box, int r0, int r1, int g0, int g1, int b0, int b1) {
  const int got[6] = {box.r0, box.r1, box.g0, box.g1, box.b0, box.b1};
  const int want[6] = {r0, r1, g0, g1, b0, b1};
  for (int i = 0; i < 6; i++) EXPECT_EQ(got[i], want[i]) << "bound " << i;
}

// Runs one pass over the images (counting all), reduces to n.
void Pass(const std::vector<const Qimg*>& images, int n) {
  PalOpt::PalInit();
  PalOpt::PalClearVars();
  for (const Qimg* img : images) PalOpt::PalCountColors(img);
  PalOpt::PalReduce(n);
}

// Runs fn in a monitor frame and returns the error pair it left.
std::pair<int, int> Caught(const std::function<void()>& fn) {
  try {
    Errors::Monitored("Test.Caught", fn);
  } catch (const Errors::EMon&) {
  }
  return {Errors::ErrClass(), Errors::ErrCode()};
}

}  // namespace

// Test images are tracked blocks; whatever a test leaves (and the work
// area) goes back before the process ends.
class PalOptFixture : public ::testing::Test {
 protected:
  void TearDown() override {
    PalOpt::PalDone();
    Basic::MemFreeToMark(0);
  }
};
using PalOptArea = PalOptFixture;
using PalOptConvTo8bit = PalOptFixture;
using PalOptCount = PalOptFixture;
using PalOptFixed = PalOptFixture;
using PalOptHeavy = PalOptFixture;
using PalOptLight = PalOptFixture;
using PalOptLiteral = PalOptFixture;
using PalOptMedianCut = PalOptFixture;
using PalOptNearest = PalOptFixture;
using PalOptPhoto = PalOptFixture;
using PalOptReduce = PalOptFixture;
using PalOptRemap = PalOptFixture;

// ---- work area ------------------------------------------------------------

TEST_F(PalOptArea, TrackedBlockOfTheFixedSizeAndLabel) {
  EXPECT_EQ(sizeof(WorkArea), 7360268u);
  EXPECT_EQ(PalOpt::PalWorkArea(), nullptr);
  PalOpt::PalInit();
  WorkArea* a = PalOpt::PalWorkArea();
  ASSERT_NE(a, nullptr);
  EXPECT_NE(Basic::MemTrackedLabel(a).find("PalOpt.PalInit.quantP"), std::string::npos);
  EXPECT_GE(Basic::MemTrackedSize(a), 7360268);
  for (int c : {0, 1, 262143}) EXPECT_EQ(a->cube[c], -1);
  EXPECT_EQ(a->distinct, 0);
  // A second PalInit keeps the area.
  PalOpt::PalInit();
  EXPECT_EQ(PalOpt::PalWorkArea(), a);
  PalOpt::PalDone();
  EXPECT_EQ(PalOpt::PalWorkArea(), nullptr);
  EXPECT_FALSE(Basic::MemIsTracked(a));
}

// ---- counting ---------------------------------------------------------------

TEST_F(PalOptCount, TrueColourPixelsFillTheirCells) {
  PalOpt::PalInit();
  // B=9, G=130, R=255: cell 63 + 64*32 + 4096*2 = 10303.
  Qimg img24 = Make24(2, 1, {{255, 130, 9}, {255, 130, 9}});
  PalOpt::PalCountColors(&img24);
  Qimg img32;
  ImgBasic::_imgalloc_(&img32, 1, 1, "t", __LINE__, 32);
  const uint8_t px[4] = {9, 130, 255, 77};  // fourth byte ignored
  std::memcpy(img32.data, px, 4);
  PalOpt::PalCountColors(&img32);
  WorkArea* a = PalOpt::PalWorkArea();
  EXPECT_EQ(a->cube[10303], 2);  // three pixels
  EXPECT_EQ(CellOf(255, 130, 9), 10303);
}

TEST_F(PalOptCount, FifteenAndSixteenBitFieldsWidenWithZeroLowBits) {
  PalOpt::PalInit();
  Qimg img15, img16;
  ImgBasic::_imgalloc_(&img15, 1, 1, "t", __LINE__, 15);
  ImgBasic::_imgalloc_(&img16, 1, 1, "t", __LINE__, 16);
  // 15: r5=31, g5=16, b5=1 → 248,128,8 → cell 62 + 64*32 + 4096*2.
  const uint16_t w15 = 1 | (16 << 5) | (31 << 10);
  // 16: r5=31, g6=33, b5=1 → 248,132,8 → cell 62 + 64*33 + 4096*2.
  const uint16_t w16 = 1 | (33 << 5) | (31 << 11);
  img15.data[0] = w15 & 255;
  img15.data[1] = w15 >> 8;
  img16.data[0] = w16 & 255;
  img16.data[1] = w16 >> 8;
  PalOpt::PalCountColors(&img15);
  PalOpt::PalCountColors(&img16);
  WorkArea* a = PalOpt::PalWorkArea();
  EXPECT_EQ(a->cube[62 + 64 * 32 + 4096 * 2], 0);
  EXPECT_EQ(a->cube[62 + 64 * 33 + 4096 * 2], 0);
  EXPECT_EQ(a->cube[63 + 64 * 32 + 4096 * 2], -1);
}

TEST_F(PalOptCount, EightBitImagesCountThroughTheirPaletteHistogram) {
  PalOpt::PalInit();
  Qimg img;
  ImgBasic::_imgalloc_(&img, 6, 1, "t", __LINE__, 8);
  // entries 0 and 1 fall into the same cell; entry 2 (black) is unused.
  const uint8_t pal[9] = {9, 130, 255, 10, 131, 254, 0, 0, 0};
  std::memcpy(img.palette, pal, 9);
  const uint8_t idx[6] = {0, 1, 0, 1, 0, 3};
  std::memcpy(img.data, idx, 6);
  img.palette[9] = img.palette[10] = img.palette[11] = 200;  // entry 3
  PalOpt::PalCountColors(&img);
  WorkArea* a = PalOpt::PalWorkArea();
  EXPECT_EQ(a->cube[10303], 4);  // -1 + 3 + 2
  EXPECT_EQ(a->cube[0], -1);     // entry 2 never used
  EXPECT_EQ(a->cube[CellOf(200, 200, 200)], 0);
}

TEST_F(PalOptCount, OtherDepthsAddNothing) {
  PalOpt::PalInit();
  Qimg img;
  ImgBasic::_imgalloc_(&img, 4, 4, "t", __LINE__, 1);
  std::memset(img.data, 0x55, 16);
  PalOpt::PalCountColors(&img);
  WorkArea* a = PalOpt::PalWorkArea();
  for (int c = 0; c < PalOpt::kCubeCells; c++) ASSERT_EQ(a->cube[c], -1);
}

TEST_F(PalOptCount, CountsSaturateAtTheLargestInteger) {
  PalOpt::PalInit();
  WorkArea* a = PalOpt::PalWorkArea();
  const int cell = CellOf(40, 40, 40);
  a->cube[cell] = INT32_MAX - 1;
  Qimg img = Grey24(3, 1, {40, 41, 42});
  PalOpt::PalCountColors(&img);
  EXPECT_EQ(a->cube[cell], INT32_MAX);
  // The 8-bit path adds whole histogram bins.
  a->cube[cell] = INT32_MAX - 5;
  Qimg img8;
  ImgBasic::_imgalloc_(&img8, 10, 1, "t", __LINE__, 8);
  img8.palette[0] = img8.palette[1] = img8.palette[2] = 40;
  PalOpt::PalCountColors(&img8);
  EXPECT_EQ(a->cube[cell], INT32_MAX);
}

// ---- low palette ----------------------------------------------------------

TEST_F(PalOptReduce, LowPaletteKeepsEveryClassInCellOrderDarkestFirst) {
  // 200 classes: (252,0,0) at cell 63, (0,4,0) at cell 64, and 198 with blue
  // 201 that come after both in cell order.
  std::vector<Rgb> px = {{252, 0, 0}, {0, 4, 0}};
  for (int i = 0; i < 198; i++) px.push_back({4 * (i % 10) + 1, 4 * (i / 10) + 2, 201});
  Qimg img = Make24(200, 1, px);
  Pass({&img}, 256);
  WorkArea* a = PalOpt::PalWorkArea();
  EXPECT_EQ(a->distinct, 200);
  EXPECT_EQ(a->wanted, 256);
  // (0,4,0) is nearer black (3481*16) than (252,0,0) (900*252²): swapped in.
  ExpectEntry(a->palette, 0, 0, 4, 0);
  ExpectEntry(a->palette, 1, 252, 0, 0);
  // Each entry is its class's exact colour, not the class corner.
  for (int i = 0; i < 198; i++)
    ExpectEntry(a->palette, 2 + i, 4 * (i % 10) + 1, 4 * (i / 10) + 2, 201);
  for (int i = 200; i < 256; i++) ExpectEntry(a->palette, i, 255, 255, 255);
  EXPECT_EQ(a->cube[63], 1);
  EXPECT_EQ(a->cube[64], 0);
  Qimg out;
  PalOpt::PalRemap(&img, &out, PalOpt::kDitherNone);
  const std::vector<int> idx = Indices(out);
  EXPECT_EQ(idx[0], 1);
  EXPECT_EQ(idx[1], 0);
  for (int i = 0; i < 198; i++) EXPECT_EQ(idx[2 + i], 2 + i);
  EXPECT_EQ(std::memcmp(out.palette, a->palette, 768), 0);
}

TEST_F(PalOptReduce, WantedCountIsClampedToTwoAndTwoHundredFiftySix) {
  Qimg img = Grey24(4, 1, {0, 100, 200, 252});
  Pass({&img}, 1);
  EXPECT_EQ(PalOpt::PalWorkArea()->wanted, 2);
  EXPECT_EQ(PalOpt::PalWorkArea()->boxCount, 2);  // four classes cut into two boxes
  PalOpt::PalClearVars();
  PalOpt::PalCountColors(&img);
  PalOpt::PalReduce(1000);
  EXPECT_EQ(PalOpt::PalWorkArea()->wanted, 256);
  EXPECT_EQ(PalOpt::PalWorkArea()->distinct, 4);
}

// ---- median cut -----------------------------------------------------------

TEST_F(PalOptMedianCut, ThreeClassesIntoTwoBoxes) {
  // Classes (0,0,0) ×3, (10,0,0) ×1, (20,5,0) ×2 in cube units.
  Qimg img = Make24(6, 1, {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {40, 0, 0}, {80, 20, 0}, {80, 20, 0}});
  Pass({&img}, 2);
  WorkArea* a = PalOpt::PalWorkArea();
  EXPECT_EQ(a->distinct, 3);
  ASSERT_EQ(a->boxCount, 2);
  // Whole box r 0..20, g 0..5, every pixel weighing one: means (50/6 → 8,
  // 10/6 → 2); spreadR = 900*(3*64 + 1*4 + 2*144) = 435600 beats spreadG =
  // 3481*(4*4 + 2*9) = 118354. The running sum reaches 176400 <= 217800 at
  // plane 10 and stays there up to plane 19: cut at 19.
  const PalOpt::PalBox& b0 = a->boxes[0];
  ExpectBounds(b0, 0, 10, 0, 0, 0, 0);
  EXPECT_EQ(b0.extR, 10);
  EXPECT_EQ(b0.size, 90000);
  // mean red (0*3 + 10*1)/4 = 2.5 → 2 (halves to even): 900*(3*4 + 1*64) =
  // 68400; the one-pixel class weighs too, so plane 0's 10800 stays within
  // half and the cut lies just before it, at 9.
  EXPECT_EQ(double(b0.spreadR), 68400.0);
  EXPECT_EQ(double(b0.spreadG), 0.0);
  EXPECT_EQ(b0.splitR, 9);
  const PalOpt::PalBox& b1 = a->boxes[1];
  ExpectBounds(b1, 20, 20, 5, 5, 0, 0);
  EXPECT_EQ(b1.size, 0);
  EXPECT_EQ(b1.splitR, 20);
  EXPECT_EQ(b1.splitG, 5);
  // Colours: red 4*10/4 = 10; (4*40/2, 4*10/2) = (80, 20).
  ExpectEntry(a->palette, 0, 10, 0, 0);
  ExpectEntry(a->palette, 1, 80, 20, 0);
  ExpectEntry(a->palette, 2, 255, 255, 255);
  for (int r = 0; r <= 10; r++) EXPECT_EQ(a->cube[r], 0);  // the whole box
  EXPECT_EQ(a->cube[11], -1);
  EXPECT_EQ(a->cube[20 + 64 * 5], 1);
}

TEST_F(PalOptMedianCut, MeansRoundHalvesToEvenAndCutsFollowTheRunningSum) {
  // Red classes 0..3 with 4, 2, 2, 4 pixels. Mean 18/12 = 1.5 → 2, spreadR
  // = 4*900*4 + 2*900 + 0 + 4*900 = 19800; plane 0 alone gives 14400 > 9900:
  // cut at 0. (A mean of 1 would cut at 2.)
  std::vector<Rgb> px;
  for (int r : {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 3, 3}) px.push_back({4 * r, 0, 0});
  Qimg img = Make24(12, 1, px);
  Pass({&img}, 3);
  WorkArea* a = PalOpt::PalWorkArea();
  ASSERT_EQ(a->boxCount, 3);
  ExpectBounds(a->boxes[0], 0, 0, 0, 0, 0, 0);
  // Box 1..3: mean 18/8 → 2, spread 1800 + 0 + 3600 = 5400; planes 1 and 2
  // stay at 1800 <= 2700: cut at 2.
  ExpectBounds(a->boxes[1], 1, 2, 0, 0, 0, 0);
  ExpectBounds(a->boxes[2], 3, 3, 0, 0, 0, 0);
  // Box 1..2: mean 6/4 = 1.5 → 2, spread 1800, cut at its lower bound.
  EXPECT_EQ(double(a->boxes[1].spreadR), 1800.0);
  EXPECT_EQ(a->boxes[1].splitR, 1);
  EXPECT_EQ(a->boxes[2].splitR, 3);
  ExpectEntry(a->palette, 0, 0, 0, 0);
  ExpectEntry(a->palette, 1, 6, 0, 0);
  ExpectEntry(a->palette, 2, 12, 0, 0);
}

TEST_F(PalOptMedianCut, EntriesAreTheMeanOfTheExactColours) {
  // (0,0,0) ×3 and (4,0,0) ×1 end in one box: its red is the pixels' mean,
  // 1, not a multiple of 4; white stays 255, not the corner of its class.
  Qimg img = Make24(5, 1, {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {4, 0, 0}, {255, 255, 255}});
  Pass({&img}, 2);
  WorkArea* a = PalOpt::PalWorkArea();
  ASSERT_EQ(a->boxCount, 2);
  // The whole box is cut on green (spread 3481*(4*13² + 50²) beats red and
  // blue).
  EXPECT_EQ(a->boxes[0].g1, 0);
  EXPECT_EQ(a->boxes[0].r1, 1);
  ExpectEntry(a->palette, 0, 1, 0, 0);
  ExpectEntry(a->palette, 1, 255, 255, 255);
}

TEST_F(PalOptMedianCut, AxesWithoutExtentAreNeverCut) {
  // 300 one-pixel colours with red below 4: red has no extent, and every
  // spread it has is 0. Cutting red would leave empty boxes and one colour.
  std::vector<Rgb> px;
  for (int i = 0; i < 300; i++) px.push_back({i % 4, 4 * (i % 20) + 1, 4 * (i / 20) + 2});
  Qimg img = Make24(300, 1, px);
  Pass({&img}, 256);
  WorkArea* a = PalOpt::PalWorkArea();
  EXPECT_EQ(a->distinct, 300);
  ASSERT_EQ(a->boxCount, 256);
  for (int i = 0; i < 256; i++) {
    const PalOpt::PalBox& b = a->boxes[i];
    EXPECT_EQ(b.r0, 0);
    EXPECT_EQ(b.r1, 0);
    EXPECT_LE(b.g0, b.g1);
    EXPECT_LE(b.b0, b.b1);
  }
  std::set<std::vector<int>> colours;
  for (int i = 0; i < 256; i++) {
    const Rgb e = Entry(a->palette, i);
    EXPECT_LE(e.r, 3);  // the mean red of its pixels
    colours.insert({e.r, e.g, e.b});
  }
  EXPECT_EQ(colours.size(), 256u);
  Qimg out;
  PalOpt::PalRemap(&img, &out, PalOpt::kDitherNone);
  const std::vector<int> idx = Indices(out);
  EXPECT_EQ(std::set<int>(idx.begin(), idx.end()).size(), 256u);
  // Each pixel lands on a colour of its own neighbourhood.
  for (int i = 0; i < 300; i++) {
    const Rgb e = Entry(out.palette, idx[i]);
    EXPECT_LE(std::abs(e.g - px[i].g), 4 * 19 + 1);
    EXPECT_LE(std::abs(e.b - px[i].b), 4 * 14 + 2);
  }
}

// ---- nearest colour ---------------------------------------------------------

TEST_F(PalOptNearest, WeightedDistanceAndLowestIndexOnTies) {
  // blue, green, red per entry
  const uint8_t pal[] = {0, 0, 10,   // red 10: 900*100 = 90000 from black
                         0, 5, 0,    // green 5: 3481*25 = 87025
                         27, 0, 0,   // blue 27: 121*729 = 88209
                         0, 5, 0};   // duplicate of entry 1
  EXPECT_EQ(PalOpt::NearestPalColor(0, 0, 0, 4, pal), 1);
  EXPECT_EQ(PalOpt::NearestPalColor(0, 0, 0, 1, pal), 0);  // only entry 0 counts
  EXPECT_EQ(PalOpt::NearestPalColor(0, 5, 0, 4, pal), 1);  // exact twice: lower
  // 5 from red 10 and from red 0 (entry 0 vs a red-0 green-0 query): tie.
  const uint8_t two[] = {30, 20, 10, 30, 20, 12};
  EXPECT_EQ(PalOpt::NearestPalColor(11, 20, 30, 2, two), 0);
  EXPECT_EQ(PalOpt::NearestPalColor(12, 20, 30, 2, two), 1);
  // A green difference alone outweighs: (0,200,0) is nearer (200,200,200)
  // (900*200² + 121*200² = 40,840,000) than black (3481*200² = 139,240,000).
  const uint8_t bw[] = {0, 0, 0, 200, 200, 200};
  EXPECT_EQ(PalOpt::NearestPalColor(0, 200, 0, 2, bw), 1);
  EXPECT_EQ(PalOpt::NearestPalColor(0, 0, 0, 0, bw), 0);
}

// ---- heavy dithering ------------------------------------------------------

TEST_F(PalOptHeavy, ErrorTablesByHand) {
  int32_t t7[511], t5[511], t3[511], t1[511];
  PalOpt::MakeErrTable(7, t7);
  PalOpt::MakeErrTable(5, t5);
  PalOpt::MakeErrTable(3, t3);
  PalOpt::MakeErrTable(1, t1);
  auto at = [](const int32_t* t, int e) { return t[e + 255]; };
  EXPECT_EQ(at(t7, 0), 0);
  EXPECT_EQ(at(t7, 1), 0);    // 7/16
  EXPECT_EQ(at(t7, 2), 1);    // 14/16
  EXPECT_EQ(at(t7, 8), 4);    // 3.5 → 4
  EXPECT_EQ(at(t7, 19), 8);   // 133/16 = 8.31
  EXPECT_EQ(at(t7, -19), -8);
  EXPECT_EQ(at(t7, 20), 0);   // t(1) div 2
  EXPECT_EQ(at(t7, 38), 4);   // t(19) div 2
  EXPECT_EQ(at(t7, 39), 0);   // t(1) div 4
  EXPECT_EQ(at(t7, 57), 2);   // t(19) div 4
  EXPECT_EQ(at(t7, 58), 0);
  EXPECT_EQ(at(t7, -255), 0);
  EXPECT_EQ(at(t5, 8), 2);    // 2.5 → 2
  EXPECT_EQ(at(t5, 16), 5);
  EXPECT_EQ(at(t5, 35), 2);   // t(16) = 5, div 2
  EXPECT_EQ(at(t5, -54), -1); // t(16) = 5, div 4
  EXPECT_EQ(at(t3, 8), 2);    // 1.5 → 2
  EXPECT_EQ(at(t3, 3), 1);    // 0.5625
  EXPECT_EQ(at(t3, -8), -2);
  EXPECT_EQ(at(t1, 8), 0);    // 0.5 → 0
  EXPECT_EQ(at(t1, 9), 1);    // 0.5625
  EXPECT_EQ(at(t1, 19), 1);
  EXPECT_EQ(at(t1, -9), -1);
}

TEST_F(PalOptHeavy, HandTracedDiffusion) {
  // Palette 112 (entry 0) and 128 (entry 1), grey.
  Qimg counted = Grey24(2, 1, {112, 128});
  Pass({&counted}, 2);
  Qimg src = Grey24(4, 4, {120, 120, 112, 112,
                           118, 112, 128, 128,
                           112, 112, 112, 112,
                           112, 112, 112, 112});
  const std::vector<uint8_t> before = Bytes(src);
  Qimg out;
  PalOpt::PalRemap(&src, &out, PalOpt::kDitherHeavy);
  // Row 0: (0,0) 120 ties → 112 and keeps its error (first pixel of an
  // even row); (1,0) 120 → err 8: right +4 = 116, below-left +2, below +2.
  // (2,0) 116 → 112, err 4 → (3,0) 114, (1,1) +1, (2,1) +1; (3,0) err 2 →
  // (3,1) +1. Row 1 = 120, 115, 129, 129: (0,1) err 8 → (1,1) 119 → err 7
  // → (2,1) 132 → entry 1 (err 4 → (3,1) 131 → entry 1). Rows 2 and 3 stay
  // below 116.
  EXPECT_EQ(Indices(out), (std::vector<int>{0, 0, 0, 0,
                                            0, 0, 1, 1,
                                            0, 0, 0, 0,
                                            0, 0, 0, 0}));
  EXPECT_EQ(Bytes(src), before);  // the caller's pixels stay as they were
  // The nearest-colour fallbacks were kept: 116..119 → 0, 132..135 → 1.
  EXPECT_EQ(PalOpt::PalWorkArea()->cube[CellOf(116, 116, 116)], 0);
  EXPECT_EQ(PalOpt::PalWorkArea()->cube[CellOf(132, 132, 132)], 1);
}

TEST_F(PalOptHeavy, AdditionsClampAtBothEnds) {
  {
    Qimg counted = Grey24(2, 1, {0, 244});
    Pass({&counted}, 2);
    std::vector<int> v(16, 0);
    v[1] = 250;  // → 244, err 6: right 255 + 3 clamps at 255 (not 2)
    v[2] = v[3] = 255;
    Qimg src = Grey24(4, 4, v);
    Qimg out;
    PalOpt::PalRemap(&src, &out, PalOpt::kDitherHeavy);
    std::vector<int> want(16, 0);
    want[1] = want[2] = want[3] = 1;
    EXPECT_EQ(Indices(out), want);
    PalOpt::PalDone();
  }
  {
    Qimg counted = Grey24(2, 1, {8, 244});
    Pass({&counted}, 2);
    std::vector<int> v(16, 0);
    v[1] = 4;  // → 8, err -4: right 0 - 2 clamps at 0 (not 254)
    Qimg src = Grey24(4, 4, v);
    Qimg out;
    PalOpt::PalRemap(&src, &out, PalOpt::kDitherHeavy);
    EXPECT_EQ(Indices(out), std::vector<int>(16, 0));
  }
}

TEST_F(PalOptHeavy, PicturesBelowFourPixelsAreNotDithered) {
  Qimg counted = Grey24(2, 1, {0, 252});
  Pass({&counted}, 2);
  std::vector<int> v(300);
  for (int i = 0; i < 300; i++) v[i] = (i * 7) % 256;
  Qimg src = Grey24(3, 100, v);
  Qimg out;
  PalOpt::PalRemap(&src, &out, PalOpt::kDitherHeavy);
  // Mode 0: classes never counted map to 255, and nothing is filled in.
  for (int i = 0; i < 300; i++) {
    const int want = v[i] < 4 ? 0 : v[i] >= 252 ? 1 : 255;
    ASSERT_EQ(out.data[i], want) << i;
  }
  EXPECT_EQ(PalOpt::PalWorkArea()->cube[CellOf(100, 100, 100)], -1);
}

// ---- light dithering ------------------------------------------------------

TEST_F(PalOptLight, FirstRowByHand) {
  Qimg counted = Grey24(2, 1, {100, 140});
  Pass({&counted}, 2);
  std::vector<int> v(16, 100);
  for (int x = 0; x < 4; x++) v[x] = 120;
  Qimg src = Grey24(4, 4, v);
  Qimg out;
  PalOpt::PalRemap(&src, &out, PalOpt::kDitherLight);
  // 120 ties between 100 and 140 → entry 0 (100). Thresholds 0, 166, 93, 20:
  // 100 + 0 = 100 → 0; 100 + 332*20/255 = 126 → 140 (1);
  // 100 + 186*20/255 = 114 → 0; 100 + 40*20/255 = 103 → 0.
  // Rows of palette colours stay where they are whatever the threshold.
  std::vector<int> want(16, 0);
  want[1] = 1;
  EXPECT_EQ(Indices(out), want);
}

TEST_F(PalOptLight, ThresholdMatrixProperties) {
  const uint8_t* t = PalOpt::DitherMatrix();
  std::vector<int> count(256, 0);
  for (int i = 0; i < 128 * 128; i++) count[t[i]]++;
  std::set<int> levels;
  for (int k = 0; k < 64; k++) {
    const int level = (k * 255 * 2 + 63) / 126;  // k*255/63 to the nearest
    levels.insert(level);
    EXPECT_EQ(count[level], 256) << level;
  }
  EXPECT_EQ(levels.size(), 64u);
  for (int v = 0; v < 256; v++) {
    if (!levels.count(v)) {
      EXPECT_EQ(count[v], 0) << v;
    }
  }
  const int first[16] = {0, 166, 93, 20, 69, 158, 28, 61, 251, 93, 162, 206, 125, 190, 36, 130};
  for (int x = 0; x < 16; x++) EXPECT_EQ(t[x], first[x]);
  // No period from 1 to 64 along rows or columns (a longer one on 128 cells
  // would imply a shorter one).
  for (int p = 1; p <= 64; p++) {
    bool rowsDiffer = false, colsDiffer = false;
    for (int y = 0; y < 128 && !(rowsDiffer && colsDiffer); y++)
      for (int x = 0; x < 128; x++) {
        rowsDiffer |= t[y * 128 + x] != t[y * 128 + (x + p) % 128];
        colsDiffer |= t[y * 128 + x] != t[((y + p) % 128) * 128 + x];
      }
    EXPECT_TRUE(rowsDiffer) << p;
    EXPECT_TRUE(colsDiffer) << p;
  }
}

TEST_F(PalOptLight, CommittedMatrixIsTheGeneratorsOutput) {
  const std::string root = QOR_SOURCE_DIR;
  if (!TestUtil::HaveTool("python3")) GTEST_SKIP() << "no python3";
  const std::string cmd = "python3 '" + root + "/tools/make_dither_matrix.py' --check '" + root +
                          "/libqor/media/PalOptDither.inc'";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
}

// ---- remapping entry --------------------------------------------------------

TEST_F(PalOptRemap, UnseenColoursMapTo255WithoutDithering) {
  Qimg counted = Grey24(2, 1, {0, 252});
  Pass({&counted}, 256);
  Qimg src = Grey24(4, 4, std::vector<int>(16, 128));
  Qimg out;
  PalOpt::PalRemap(&src, &out, PalOpt::kDitherNone);
  EXPECT_EQ(out.bitsPerPixel, 8);
  EXPECT_EQ(out.width, 4);
  EXPECT_EQ(Indices(out), std::vector<int>(16, 255));
  EXPECT_NE(Basic::MemTrackedLabel(out.data).find("PalOpt.PalRemap.img8bit"), std::string::npos);
}

TEST_F(PalOptRemap, SixteenFifteenAndThirtyTwoBitSourcesMatchTheir24BitForm) {
  std::mt19937 rng(7);
  Qimg src24;
  ImgBasic::_imgalloc_(&src24, 16, 12, "t", __LINE__, 24);
  for (int i = 0; i < 16 * 12 * 3; i++) src24.data[i] = static_cast<uint8_t>(rng());
  for (int bits : {15, 16, 32}) {
    for (int mode : {0, 1, 2}) {
      Qimg other, wide, a, b;
      ImgBasic::ImgConvBpp(&src24, &other, bits);
      if (bits == 32)  // the fourth byte is not looked at
        for (int i = 0; i < 16 * 12; i++) other.data[i * 4 + 3] = static_cast<uint8_t>(rng());
      ImgBasic::ImgConvBpp(&other, &wide, 24);  // what the remapper sees
      Pass({&other}, 64);
      PalOpt::PalRemap(&other, &a, mode);
      PalOpt::PalDone();
      Pass({&wide}, 64);
      PalOpt::PalRemap(&wide, &b, mode);
      PalOpt::PalDone();
      EXPECT_EQ(Indices(a), Indices(b)) << bits << " mode " << mode;
      EXPECT_EQ(std::memcmp(a.palette, b.palette, 768), 0);
    }
  }
}

TEST_F(PalOptRemap, EightBitSourcesTranslateTheirPalette) {
  Qimg counted = Grey24(2, 1, {0, 252});
  Pass({&counted}, 256);
  Qimg src;
  ImgBasic::_imgalloc_(&src, 4, 4, "t", __LINE__, 8);
  src.palette[3] = src.palette[4] = src.palette[5] = 252;  // entry 1
  src.palette[6] = src.palette[7] = src.palette[8] = 128;  // entry 2, unseen
  const uint8_t idx[16] = {0, 1, 2, 1, 1, 1, 0, 0, 2, 2, 2, 2, 0, 1, 0, 1};
  std::memcpy(src.data, idx, 16);
  for (int mode : {0, 1, 2}) {
    Qimg out;
    PalOpt::PalRemap(&src, &out, mode);
    for (int i = 0; i < 16; i++) EXPECT_EQ(out.data[i], idx[i] == 2 ? 255 : idx[i]);
  }
}

TEST_F(PalOptRemap, UnknownModeEndsQuietlyWithoutResult) {
  Qimg counted = Grey24(2, 1, {0, 252});
  Pass({&counted}, 2);
  Qimg src = Grey24(4, 4, std::vector<int>(16, 0));
  Qimg out;
  PalOpt::PalRemap(&src, &out, 7);
  EXPECT_TRUE(Errors::ErrNone());
  EXPECT_EQ(out.data, nullptr);
  // A picture below 4 pixels takes mode 0 before the mode is looked at.
  Qimg small = Grey24(3, 3, std::vector<int>(9, 252));
  PalOpt::PalRemap(&small, &out, 7);
  ASSERT_NE(out.data, nullptr);
  EXPECT_EQ(Indices(out), std::vector<int>(9, 1));
}

TEST_F(PalOptRemap, MisuseIsRefusedWithAnErrorPair) {
  Qimg src = Grey24(4, 4, std::vector<int>(16, 0));
  Qimg out;
  // No work area yet.
  EXPECT_EQ(Caught([&] { PalOpt::PalRemap(&src, &out, 0); }), std::make_pair(7, 6));
  EXPECT_EQ(Caught([&] { PalOpt::PalCountColors(&src); }), std::make_pair(7, 6));
  EXPECT_EQ(Caught([&] { PalOpt::PalReduce(256); }), std::make_pair(7, 6));
  PalOpt::PalInit();
  // Counted, not reduced: the cube holds counts.
  EXPECT_EQ(Caught([&] { PalOpt::PalRemap(&src, &out, 0); }), std::make_pair(7, 6));
  Qimg empty;
  EXPECT_EQ(Caught([&] { PalOpt::PalCountColors(&empty); }), std::make_pair(7, 2));
  PalOpt::PalCountColors(&src);
  PalOpt::PalReduce(256);
  // Reduced: counting again would turn indices into counts.
  EXPECT_EQ(Caught([&] { PalOpt::PalCountColors(&src); }), std::make_pair(7, 6));
  EXPECT_EQ(Caught([&] { PalOpt::PalRemap(&src, &src, 0); }), std::make_pair(7, 2));
  EXPECT_EQ(Caught([&] { PalOpt::PalRemap(&empty, &out, 0); }), std::make_pair(7, 2));
  // A record whose size is smaller than its dimensions claim.
  Qimg lying = Grey24(4, 4, std::vector<int>(16, 0));
  lying.width = 400;
  EXPECT_EQ(Caught([&] { PalOpt::PalRemap(&lying, &out, 2); }), std::make_pair(7, 2));
  lying.width = 4;
  // A new pass after PalClearVars counts again.
  PalOpt::PalClearVars();
  PalOpt::PalCountColors(&src);
  PalOpt::PalReduce(256);
  PalOpt::PalRemap(&src, &out, 0);
  EXPECT_TRUE(Errors::ErrNone());
}

TEST_F(PalOptRemap, AreaFreedByAFailingFrameIsMadeAgain) {
  // A conversion frame that fails after PalInit frees the area with
  // everything else it obtained; the next pass must not use the stale block.
  Caught([] {
    PalOpt::PalInit();
    Errors::ErrSet(Errors::kClsGeneral, 1, __LINE__);
  });
  EXPECT_EQ(PalOpt::PalWorkArea(), nullptr);
  Qimg src = Grey24(4, 4, std::vector<int>(16, 40));
  Pass({&src}, 256);
  Qimg out;
  PalOpt::PalRemap(&src, &out, 0);
  EXPECT_EQ(Indices(out), std::vector<int>(16, 0));
}

// ---- the single-image conversion -------------------------------------------

TEST_F(PalOptConvTo8bit, RunsOnAPrivateAreaAndLeavesAPassUnderWayIntact) {
  std::mt19937 rng(3);
  Qimg movie, still;
  ImgBasic::_imgalloc_(&movie, 20, 10, "t", __LINE__, 24);
  ImgBasic::_imgalloc_(&still, 9, 7, "t", __LINE__, 24);
  for (int i = 0; i < 600; i++) movie.data[i] = static_cast<uint8_t>(rng());
  for (int i = 0; i < 189; i++) still.data[i] = static_cast<uint8_t>(rng() & 0xF0);

  PalOpt::PalInit();
  PalOpt::PalClearVars();
  PalOpt::PalCountColors(&movie);
  WorkArea* area = PalOpt::PalWorkArea();
  const std::vector<int32_t> counted(area->cube, area->cube + PalOpt::kCubeCells);
  const int32_t blocks = Basic::MemMark();

  // A host callback saves an 8-bit still in the middle of the pass.
  Qimg still8;
  ImgBasic::ImgConvBppEx(&still, &still8, 8, ImgBasic::kConvPaletteHeavy);
  EXPECT_TRUE(Errors::ErrNone());
  EXPECT_EQ(still8.bitsPerPixel, 8);
  EXPECT_EQ(Basic::MemMark(), blocks + 1);  // only still8's block is new

  ASSERT_EQ(PalOpt::PalWorkArea(), area);
  EXPECT_TRUE(std::equal(counted.begin(), counted.end(), area->cube));
  PalOpt::PalReduce(256);
  Qimg a;
  PalOpt::PalRemap(&movie, &a, PalOpt::kDitherNone);
  PalOpt::PalDone();

  // The same pass without the interruption.
  Qimg b;
  Pass({&movie}, 256);
  PalOpt::PalRemap(&movie, &b, PalOpt::kDitherNone);
  PalOpt::PalDone();
  EXPECT_EQ(Indices(a), Indices(b));
  EXPECT_EQ(std::memcmp(a.palette, b.palette, 768), 0);
}

TEST_F(PalOptConvTo8bit, PicturesOfAtMost256ColoursComeBackExactly) {
  // Two colours (black and white), sixteen, and 256 random ones in classes
  // of their own, none on a multiple of 4: each picture's palette holds its
  // colours exactly, in every mode, and white stays white.
  std::mt19937 rng(25);
  std::vector<std::vector<Rgb>> sets = {{{0, 0, 0}, {255, 255, 255}}, {}, {}};
  for (int i = 0; i < 16; i++) sets[1].push_back({17 * i, 255 - 13 * i, (97 * i) % 256});
  std::set<int> cells;
  while (sets[2].size() < 256) {
    const Rgb c{int(rng() % 256), int(rng() % 256), int(rng() % 256)};
    if (cells.insert(CellOf(c.r, c.g, c.b)).second) sets[2].push_back(c);
  }
  for (const std::vector<Rgb>& colours : sets) {
    std::vector<Rgb> px;
    for (int i = 0; i < 40 * 30; i++) px.push_back(colours[(i * 7 + i / 40) % colours.size()]);
    Qimg src = Make24(40, 30, px);
    for (int conv : {ImgBasic::kConvPalette, ImgBasic::kConvPaletteLight,
                     ImgBasic::kConvPaletteHeavy}) {
      Qimg eight, back;
      ImgBasic::ImgConvBppEx(&src, &eight, 8, conv);
      ASSERT_EQ(eight.bitsPerPixel, 8);
      ImgBasic::ImgConvBpp(&eight, &back, 24);
      EXPECT_EQ(Bytes(back), Bytes(src)) << colours.size() << " colours, mode " << conv;
      ImgBasic::ImgFree(&eight);
      ImgBasic::ImgFree(&back);
    }
    ImgBasic::ImgFree(&src);
  }
}

TEST_F(PalOptConvTo8bit, DepthConversionModesMatchAnExplicitPass) {
  std::mt19937 rng(11);
  Qimg src;
  ImgBasic::_imgalloc_(&src, 13, 9, "t", __LINE__, 24);
  for (int i = 0; i < 13 * 9 * 3; i++) src.data[i] = static_cast<uint8_t>(rng());
  const std::pair<int, int> modes[] = {{ImgBasic::kConvPalette, PalOpt::kDitherNone},
                                       {ImgBasic::kConvPaletteHeavy, PalOpt::kDitherHeavy},
                                       {ImgBasic::kConvPaletteLight, PalOpt::kDitherLight}};
  for (const auto& [conv, dither] : modes) {
    Qimg viaConv, viaPass;
    ImgBasic::ImgConvBppEx(&src, &viaConv, 8, conv);
    Pass({&src}, 256);
    PalOpt::PalRemap(&src, &viaPass, dither);
    PalOpt::PalDone();
    EXPECT_EQ(Indices(viaConv), Indices(viaPass)) << conv;
    EXPECT_EQ(std::memcmp(viaConv.palette, viaPass.palette, 768), 0);
  }
  // In place, onto itself.
  Qimg copy;
  ImgBasic::ImgCopy(&src, &copy);
  ImgBasic::ImgConvBpp(&copy, &copy, 8);
  EXPECT_EQ(copy.bitsPerPixel, 8);
  EXPECT_EQ(PalOpt::PalWorkArea(), nullptr);  // no shared area was made
}

// ---- fixed palette ------------------------------------------------------------

TEST_F(PalOptFixed, NearestOfTheCallersEntries) {
  uint8_t pal[768] = {};
  // entry 0 black, 1 white, 2 pure red (blue, green, red)
  pal[3] = pal[4] = pal[5] = 255;
  pal[8] = 255;
  pal[767] = 99;  // the whole caller palette travels
  Qimg src = Make24(4, 1, {{200, 10, 10}, {200, 10, 10}, {100, 100, 100}, {255, 255, 250}});
  Qimg out;
  PalOpt::Remap24ToFixedPal(&src, &out, pal, 3);
  // (200,10,10): red 3,082,700 < black 36,360,200; grey 100: black
  // 45,020,000 < red 57,642,500 < white 108,160,550.
  EXPECT_EQ(Indices(out), (std::vector<int>{2, 2, 0, 1}));
  EXPECT_EQ(std::memcmp(out.palette, pal, 768), 0);
  EXPECT_NE(Basic::MemTrackedLabel(out.data).find("PalOpt.Remap24ToFixedPal.img8bit"),
            std::string::npos);
  PalOpt::Remap24ToFixedPal(&src, &out, pal, 2);  // red no longer offered
  EXPECT_EQ(Indices(out), (std::vector<int>{0, 0, 0, 1}));
  // A pixel that differs from the one before it in one channel alone, each
  // channel in turn, is looked up afresh: entry 3 green, 4 blue.
  pal[10] = 255;
  pal[12] = 255;
  Qimg steps = Make24(5, 1, {{200, 0, 0}, {0, 0, 0}, {0, 200, 0}, {0, 0, 0}, {0, 0, 200}});
  PalOpt::Remap24ToFixedPal(&steps, &out, pal, 5);
  EXPECT_EQ(Indices(out), (std::vector<int>{2, 0, 3, 0, 4}));
}

TEST_F(PalOptFixed, BadCountsAndDepthsAreRefused) {
  uint8_t pal[768] = {};
  Qimg src = Make24(2, 1, {{1, 2, 3}, {4, 5, 6}});
  Qimg out;
  EXPECT_EQ(Caught([&] { PalOpt::Remap24ToFixedPal(&src, &out, pal, 0); }), std::make_pair(4, 1));
  EXPECT_EQ(Caught([&] { PalOpt::Remap24ToFixedPal(&src, &out, pal, 257); }), std::make_pair(4, 1));
  Qimg src32;
  ImgBasic::ImgConvBpp(&src, &src32, 32);
  EXPECT_EQ(Caught([&] { PalOpt::Remap24ToFixedPal(&src32, &out, pal, 2); }), std::make_pair(7, 2));
  EXPECT_EQ(Caught([&] { PalOpt::Remap24ToFixedPal(&src, &src, pal, 2); }), std::make_pair(7, 2));
  EXPECT_EQ(out.data, nullptr);
}

// ---- cross-check against the literal quantiser ------------------------------

namespace {

struct Case {
  int width, height, colours, wanted;
};

// Random pictures drawn from a limited set of colours (so that both the low
// and the high palette occur), each pass compared with the literal one.
void CrossCheck(unsigned seed, const Case& c, int mode) {
  std::mt19937 rng(seed);
  std::vector<Rgb> set;
  for (int i = 0; i < c.colours; i++)
    set.push_back({int(rng() % 256), int(rng() % 256), int(rng() % 256)});
  std::vector<Rgb> px;
  for (int i = 0; i < c.width * c.height; i++) {
    // Skewed choice so that classes get different counts.
    const size_t k = std::min(rng() % set.size(), rng() % set.size());
    px.push_back(set[k]);
  }
  Qimg img = Make24(c.width, c.height, px);
  const std::vector<uint8_t> before = Bytes(img);
  Pass({&img}, c.wanted);
  Qimg out;
  PalOpt::PalRemap(&img, &out, mode);
  PalOpt::PalDone();
  ASSERT_EQ(Bytes(img), before);  // the literal one dithers into its pixels

  literal::Quantiser q;
  std::vector<uint8_t> rgb;
  for (const Rgb& p : px) rgb.insert(rgb.end(), {uint8_t(p.r), uint8_t(p.g), uint8_t(p.b)});
  q.Count(rgb);
  q.Reduce(c.wanted);
  const std::vector<uint8_t> want = q.Remap(rgb, c.width, c.height, mode);
  ASSERT_EQ(std::memcmp(out.palette, q.palette, 768), 0)
      << "seed " << seed << " wanted " << c.wanted << " mode " << mode;
  ASSERT_EQ(std::vector<uint8_t>(out.data, out.data + want.size()), want)
      << "seed " << seed << " wanted " << c.wanted << " mode " << mode;
}

}  // namespace

TEST_F(PalOptLiteral, PalettesAndIndexMapsMatchWithoutDithering) {
  const Case cases[] = {{16, 12, 40, 256}, {16, 12, 120, 16}, {24, 20, 300, 64},
                        {9, 7, 63, 2}, {30, 30, 600, 256}, {5, 5, 25, 7}};
  for (unsigned seed = 1; seed <= 4; seed++)
    for (const Case& c : cases) CrossCheck(seed, c, PalOpt::kDitherNone);
}

TEST_F(PalOptLiteral, PalettesAndIndexMapsMatchWithLightDithering) {
  const Case cases[] = {{16, 12, 40, 256}, {24, 20, 300, 32}, {30, 30, 600, 256}, {8, 8, 64, 4}};
  for (unsigned seed = 1; seed <= 4; seed++)
    for (const Case& c : cases) CrossCheck(seed, c, PalOpt::kDitherLight);
}

TEST_F(PalOptLiteral, PalettesAndIndexMapsMatchWithHeavyDithering) {
  const Case cases[] = {{16, 12, 40, 256}, {24, 20, 300, 32}, {30, 30, 600, 256}, {8, 8, 64, 4}};
  for (unsigned seed = 1; seed <= 4; seed++)
    for (const Case& c : cases) CrossCheck(seed, c, PalOpt::kDitherHeavy);
}

// ---- a real photograph, against ImageMagick ---------------------------------

namespace {

// Reads a binary PPM (maxval 255) as red, green, blue triples.
bool ReadPpm(const std::string& path, int& w, int& h, std::vector<uint8_t>& rgb) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  int maxval = 0;
  const bool ok = std::fscanf(f, "P6 %d %d %d", &w, &h, &maxval) == 3 && maxval == 255 &&
                  std::fgetc(f) != EOF && w > 0 && h > 0;
  if (ok) {
    rgb.resize(size_t(w) * h * 3);
    const bool full = std::fread(rgb.data(), 1, rgb.size(), f) == rgb.size();
    std::fclose(f);
    return full;
  }
  std::fclose(f);
  return false;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); i++) sum += double(a[i] - b[i]) * double(a[i] - b[i]);
  const double mse = sum / double(a.size());
  return 10 * std::log10(255.0 * 255.0 / mse);
}

size_t DistinctColours(const std::vector<uint8_t>& rgb) {
  std::set<uint32_t> s;
  for (size_t i = 0; i + 2 < rgb.size(); i += 3)
    s.insert(rgb[i] | (rgb[i + 1] << 8) | (rgb[i + 2] << 16));
  return s.size();
}

}  // namespace

TEST_F(PalOptPhoto, PsnrAgainstImageMagickAt256Colours) {
  const std::string photo = "/usr/share/backgrounds/aitzgorri_by_Aitzol_Berasategi.jpg";
  if (!TestUtil::HaveTool("convert")) GTEST_SKIP() << "ImageMagick not installed";
  if (!Basic::FileExists(photo)) GTEST_SKIP() << "photograph not installed";
  TestUtil::TempDir dir;
  const std::string src = dir.File("src.ppm");
  ASSERT_EQ(std::system(("convert '" + photo + "' -resize 640x -depth 8 '" + src + "'").c_str()), 0);
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
  ASSERT_TRUE(ReadPpm(src, w, h, rgb));

  std::vector<Rgb> px;
  for (size_t i = 0; i < rgb.size(); i += 3) px.push_back({rgb[i], rgb[i + 1], rgb[i + 2]});
  Qimg img = Make24(w, h, px);
  auto ours = [&](int conv) {
    Qimg out, back;
    ImgBasic::ImgConvBppEx(&img, &out, 8, conv);
    ImgBasic::ImgConvBpp(&out, &back, 24);
    std::vector<uint8_t> res;
    for (int i = 0; i < w * h; i++)
      res.insert(res.end(), {back.data[i * 3 + 2], back.data[i * 3 + 1], back.data[i * 3]});
    return res;
  };
  auto magick = [&](const char* dither) {
    const std::string out = dir.File("q.ppm");
    const std::string cmd = "convert '" + src + "' -dither " + dither + " -colors 256 '" + out + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    int w2 = 0, h2 = 0;
    std::vector<uint8_t> res;
    EXPECT_TRUE(ReadPpm(out, w2, h2, res));
    EXPECT_EQ(w2, w);
    EXPECT_EQ(h2, h);
    return res;
  };
  const std::vector<uint8_t> oursNone = ours(ImgBasic::kConvPalette);
  const std::vector<uint8_t> oursHeavy = ours(ImgBasic::kConvPaletteHeavy);
  const std::vector<uint8_t> oursLight = ours(ImgBasic::kConvPaletteLight);
  const std::vector<uint8_t> imNone = magick("None");
  const std::vector<uint8_t> imFs = magick("FloydSteinberg");
  ASSERT_EQ(imNone.size(), rgb.size());
  ASSERT_EQ(imFs.size(), rgb.size());

  const double pOursNone = Psnr(rgb, oursNone), pImNone = Psnr(rgb, imNone);
  const double pOursHeavy = Psnr(rgb, oursHeavy), pImFs = Psnr(rgb, imFs);
  const double pOursLight = Psnr(rgb, oursLight);
  std::printf("photo %dx%d, PSNR at 256 colours (dB):\n", w, h);
  std::printf("  no dithering:    ours %.2f   ImageMagick -dither None %.2f\n", pOursNone, pImNone);
  std::printf("  heavy dithering: ours %.2f   ImageMagick -dither FloydSteinberg %.2f\n",
              pOursHeavy, pImFs);
  std::printf("  light dithering: ours %.2f\n", pOursLight);
  RecordProperty("psnr_ours_none", std::to_string(pOursNone));
  RecordProperty("psnr_magick_none", std::to_string(pImNone));
  RecordProperty("psnr_ours_heavy", std::to_string(pOursHeavy));
  RecordProperty("psnr_magick_fs", std::to_string(pImFs));
  // A measurement; only a broken reduction would fall this far.
  for (const auto* r : {&oursNone, &oursHeavy, &oursLight}) EXPECT_LE(DistinctColours(*r), 256u);
  EXPECT_GT(pOursNone, 20.0);
  EXPECT_GT(pOursHeavy, 20.0);
  EXPECT_GT(pOursLight, 20.0);
}

// A gradient whose every pixel falls in a colour class of its own: the
// reduction must split it as finely as any picture (weighing the cells by
// pixels - 1 left it at about 13 dB, a ramp of a few colours).
TEST_F(PalOptPhoto, OnePixelPerClassGradientKeepsItsDetail) {
  const int w = 97, h = 61;
  std::vector<uint8_t> rgb;
  std::vector<Rgb> px;
  std::set<int> cells;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const Rgb c{std::min(255, x * 8 / 3), y * 4 + 2, (x * 5 + y * 3) % 256};
      px.push_back(c);
      rgb.insert(rgb.end(), {uint8_t(c.r), uint8_t(c.g), uint8_t(c.b)});
      cells.insert(CellOf(c.r, c.g, c.b));
    }
  ASSERT_GT(cells.size(), 5800u);
  Qimg img = Make24(w, h, px);
  Qimg out, back;
  ImgBasic::ImgConvBppEx(&img, &out, 8, ImgBasic::kConvPalette);
  ImgBasic::ImgConvBpp(&out, &back, 24);
  std::vector<uint8_t> res;
  for (int i = 0; i < w * h; i++)
    res.insert(res.end(), {back.data[i * 3 + 2], back.data[i * 3 + 1], back.data[i * 3]});
  EXPECT_EQ(DistinctColours(res), 256u);
  EXPECT_GT(Psnr(rgb, res), 25.0);
}
