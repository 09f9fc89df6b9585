// Tone tables, filters, deinterlacing and the frame average, with every
// expected value worked out by hand from the rules of each effect.
#include "media/Impress.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "foundation/Errors.h"
#include "support/TestUtil.h"

using ImgBasic::Qimg;

namespace {

// A 24-bit image whose pixel (x, y) has blue, green, red from fill(x, y).
template <class Fill>
Qimg Make24(int w, int h, Fill fill) {
  Qimg img;
  ImgBasic::_imgalloc_(&img, w, h, "test", __LINE__, 24);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const ImgBasic::Rgb c = fill(x, y);
      uint8_t* p = img.data + (static_cast<int64_t>(y) * w + x) * 3;
      p[0] = c.blue, p[1] = c.green, p[2] = c.red;
    }
  return img;
}

Qimg Grey24(int w, int h, const std::vector<int>& values) {
  return Make24(w, h, [&](int x, int y) {
    const uint8_t v = static_cast<uint8_t>(values[y * w + x]);
    return ImgBasic::Rgb{v, v, v};
  });
}

uint8_t At(const Qimg& img, int x, int y, int channel) {
  return img.data[(static_cast<int64_t>(y) * img.width + x) *
                      img.bytesPerPixel + channel];
}

// A 1×1 24-bit image of blue, green, red.
Qimg Pixel(int b, int g, int r) {
  return Make24(1, 1, [&](int, int) {
    return ImgBasic::Rgb{static_cast<uint8_t>(r), static_cast<uint8_t>(g),
                         static_cast<uint8_t>(b)};
  });
}

struct ImpressTest : ::testing::Test {
  void TearDown() override { Impress::ImgAverageClear(); }
};

}  // namespace

// ---- tables ---------------------------------------------------------------

TEST(ImpressTables, Brightness) {
  uint8_t t[256];
  Impress::BrightnessCalc_(t, 100);
  for (int i = 0; i < 256; i++) EXPECT_EQ(t[i], 255) << i;
  Impress::BrightnessCalc_(t, -100);
  for (int i = 0; i < 256; i++) EXPECT_EQ(t[i], 0) << i;
  Impress::BrightnessCalc_(t, 10);  // 25.5 truncates to 25
  EXPECT_EQ(t[0], 25);
  EXPECT_EQ(t[100], 125);
  EXPECT_EQ(t[230], 255);
  EXPECT_EQ(t[240], 255);
  Impress::BrightnessCalc_(t, -10);  // -25.5 truncates toward zero
  EXPECT_EQ(t[10], 0);
  EXPECT_EQ(t[100], 75);
  EXPECT_EQ(t[255], 230);
  Impress::BrightnessCalc_(t, 1);  // 2.55 gives 2
  EXPECT_EQ(t[50], 52);
  Impress::BrightnessCalc_(t, 0);
  for (int i = 0; i < 256; i++) EXPECT_EQ(t[i], i);
}

TEST(ImpressTables, Contrast) {
  uint8_t t[256];
  // b = 50, c = Trunc(128 / 64.5) = 1
  Impress::ContrastCalc_(t, 50);
  EXPECT_EQ(t[0], 0);      // 0 - 1 - 63
  EXPECT_EQ(t[100], 86);   // 100 - 1 - 13
  EXPECT_EQ(t[127], 126);  // 127 - 1 - 0
  EXPECT_EQ(t[128], 129);  // 128 + 1 + 0
  EXPECT_EQ(t[200], 237);  // 200 + 1 + 36
  EXPECT_EQ(t[255], 255);
  Impress::ContrastCalc_(t, -50);
  EXPECT_EQ(t[0], 64);     // 0 + 1 + 63
  EXPECT_EQ(t[100], 114);  // 100 + 1 + 13
  EXPECT_EQ(t[127], 128);  // 128 limit
  EXPECT_EQ(t[128], 128);
  EXPECT_EQ(t[200], 163);  // 200 - 1 - 36
  EXPECT_EQ(t[255], 191);  // 255 - 1 - 63
  // b = 20, c = Trunc(128 / 102.6) = 1
  Impress::ContrastCalc_(t, 20);
  EXPECT_EQ(t[50], 34);  // 50 - 1 - 15
  Impress::ContrastCalc_(t, 100);
  for (int i = 0; i < 256; i++) EXPECT_EQ(t[i], i < 128 ? 0 : 255) << i;
  Impress::ContrastCalc_(t, -100);
  for (int i = 0; i < 256; i++) EXPECT_EQ(t[i], 128) << i;
}

TEST(ImpressTables, GammaRoundsToNearest) {
  uint8_t t[256];
  Impress::GammaCalc_(t, 2.0);  // 255 × sqrt(i / 255) = sqrt(255 i)
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[1], 16);    // 15.969
  EXPECT_EQ(t[64], 128);  // 127.750
  EXPECT_EQ(t[100], 160);  // 159.687
  EXPECT_EQ(t[128], 181);  // 180.665
  EXPECT_EQ(t[254], 254);  // 254.4995: just below the half
  EXPECT_EQ(t[255], 255);
  Impress::GammaCalc_(t, 0.5);  // i² / 255
  EXPECT_EQ(t[11], 0);     // 0.475
  EXPECT_EQ(t[16], 1);     // 1.004
  EXPECT_EQ(t[128], 64);   // 64.251
  EXPECT_EQ(t[200], 157);  // 156.863
  Impress::GammaCalc_(t, 1.0);
  for (int i = 0; i < 256; i++) EXPECT_EQ(t[i], i) << i;
}

TEST(ImpressTables, WhiteBalance) {
  uint8_t t[768];
  // m = 255, h = 55 / 9 = 6.11
  Impress::WhiteBalanceCalc_(t, 255, 255, 200);
  EXPECT_EQ(t[100], 93);        // red: 100 - 6.11
  EXPECT_EQ(t[0], 0);           // red: below 0 is 0
  EXPECT_EQ(t[256 + 100], 93);  // green
  EXPECT_EQ(t[512 + 100], 121);  // blue: 127.5 - 6.11
  EXPECT_EQ(t[512 + 200], 248);  // blue: 255 - 6.11
  EXPECT_EQ(t[512 + 255], 248);
  // A zero counts as one: m = 255, h = 254 / 9 = 28.2
  Impress::WhiteBalanceCalc_(t, 255, 0, 255);
  EXPECT_EQ(t[256 + 0], 0);
  EXPECT_EQ(t[256 + 1], 226);  // 255 - 28.2
  EXPECT_EQ(t[100], 71);       // 100 - 28.2
  Impress::WhiteBalanceCalc_(t, 255, 255, 255);
  for (int i = 0; i < 768; i++) EXPECT_EQ(t[i], i % 256) << i;
}

// ---- tone effects on images ----------------------------------------------

TEST_F(ImpressTest, BrightnessPerChannelOnPixels) {
  Qimg img = Pixel(10, 20, 30);
  Impress::ImgBrightness(&img, &img, 100, 0, -100);
  EXPECT_EQ(At(img, 0, 0, 2), 255);  // red
  EXPECT_EQ(At(img, 0, 0, 1), 20);   // green
  EXPECT_EQ(At(img, 0, 0, 0), 0);    // blue
  ImgBasic::ImgFree(&img);
}

TEST_F(ImpressTest, ParametersAreClampedToTheirRange) {
  Qimg img = Pixel(10, 20, 30);
  Qimg out;
  Impress::ImgBrightness(&img, &out, 0, 500, 0);  // clamped to 100
  EXPECT_EQ(At(out, 0, 0, 1), 255);
  Impress::ImgGamma(&img, &out, 1, 1, 99);  // clamped to 5.0
  // 255 × (10 / 255) ^ 0.2 = 133.4
  EXPECT_EQ(At(out, 0, 0, 0), 133);
  EXPECT_EQ(At(out, 0, 0, 2), 30);
  ImgBasic::ImgFree(&img);
  ImgBasic::ImgFree(&out);
}

TEST_F(ImpressTest, ToneOn8BitChangesOnlyThePalette) {
  Qimg img;
  ImgBasic::_imgalloc_(&img, 2, 1, "test", __LINE__, 8);
  img.data[0] = 1;
  img.data[1] = 2;
  img.palette[3] = 10, img.palette[4] = 20, img.palette[5] = 30;
  img.palette[6] = 200, img.palette[7] = 100, img.palette[8] = 50;
  Qimg out;
  Impress::ImgContrast(&img, &out, 100, 100, 100);
  EXPECT_EQ(out.bitsPerPixel, 8);
  EXPECT_EQ(out.data[0], 1);
  EXPECT_EQ(out.data[1], 2);
  EXPECT_EQ(out.palette[3], 0);
  EXPECT_EQ(out.palette[6], 255);
  EXPECT_EQ(out.palette[7], 0);
  // In place too.
  Impress::ImgSaturation(&img, &img, -100);
  EXPECT_EQ(img.data[1], 2);
  EXPECT_EQ(img.palette[6], 116);  // grey of 200, 100, 50
  EXPECT_EQ(img.palette[7], 116);
  EXPECT_EQ(img.palette[8], 116);
  ImgBasic::ImgFree(&img);
  ImgBasic::ImgFree(&out);
}

TEST_F(ImpressTest, NeutralParametersCopyWithoutConverting) {
  Qimg img;
  ImgBasic::_imgalloc_(&img, 2, 2, "test", __LINE__, 16);
  for (int i = 0; i < 8; i++) img.data[i] = static_cast<uint8_t>(i * 37);
  Qimg out;
  Impress::ImgBrightness(&img, &out, 0, 0, 0);
  EXPECT_EQ(out.bitsPerPixel, 16);
  EXPECT_EQ(0, std::memcmp(out.data, img.data, 8));
  Impress::ImgGamma(&img, &out, 100, 100, 100);
  EXPECT_EQ(out.bitsPerPixel, 16);
  Impress::ImgGamma(&img, &out, 0, 0, 0);
  EXPECT_EQ(out.bitsPerPixel, 16);
  // Gamma 1 is processed: the frame takes it to 24 bits, values unchanged
  // from the 16-bit expansion.
  Impress::ImgGamma(&img, &out, 1.0, 1.0, 1.0);
  EXPECT_EQ(out.bitsPerPixel, 24);
  Qimg ref;
  ImgBasic::ImgConvBpp(&img, &ref, 24);
  EXPECT_EQ(0, std::memcmp(out.data, ref.data, 12));
  ImgBasic::ImgFree(&img);
  ImgBasic::ImgFree(&out);
  ImgBasic::ImgFree(&ref);
}

TEST_F(ImpressTest, BrightnessKeeps32BitsAndTheFourthByte) {
  Qimg img;
  ImgBasic::_imgalloc_(&img, 1, 1, "test", __LINE__, 32);
  img.data[0] = 10, img.data[1] = 20, img.data[2] = 30, img.data[3] = 77;
  Qimg out;
  Impress::ImgBrightness(&img, &out, 10, 10, 10);
  EXPECT_EQ(out.bitsPerPixel, 32);
  EXPECT_EQ(out.data[0], 35);
  EXPECT_EQ(out.data[2], 55);
  EXPECT_EQ(out.data[3], 77);
  ImgBasic::ImgFree(&img);
  ImgBasic::ImgFree(&out);
}

TEST_F(ImpressTest, WhiteBalanceOnPixels) {
  Qimg img = Pixel(100, 100, 100);
  Impress::ImgWhiteBalance(&img, &img, 255, 255, 200);
  EXPECT_EQ(At(img, 0, 0, 0), 121);
  EXPECT_EQ(At(img, 0, 0, 1), 93);
  EXPECT_EQ(At(img, 0, 0, 2), 93);
  ImgBasic::ImgFree(&img);
}

TEST_F(ImpressTest, SaturationRaise) {
  // T[k] = k div 2; s = T[150] div 2 = 37: the largest 200 + 37, the
  // smallest 50 - 37, the middle 13 + 50 + T[50], whichever channel holds
  // which, in all six orders.
  const int values[3] = {50, 100, 200}, raised[3] = {13, 88, 237};
  int order[3] = {0, 1, 2};
  do {
    Qimg img = Pixel(values[order[0]], values[order[1]], values[order[2]]);
    Impress::ImgSaturation(&img, &img, 50);
    for (int c = 0; c < 3; c++)
      EXPECT_EQ(At(img, 0, 0, c), raised[order[c]]) << order[0] << order[1] << order[2];
    ImgBasic::ImgFree(&img);
  } while (std::next_permutation(order, order + 3));
}

TEST_F(ImpressTest, SaturationTieOrder) {
  // Blue equals green: blue is taken as the largest, green as the middle.
  Qimg img = Pixel(100, 100, 50);
  Impress::ImgSaturation(&img, &img, 50);  // s = T[50] div 2 = 12
  EXPECT_EQ(At(img, 0, 0, 0), 112);  // 100 + 12
  EXPECT_EQ(At(img, 0, 0, 2), 38);   // 50 - 12
  EXPECT_EQ(At(img, 0, 0, 1), 113);  // 38 + 50 + 25
  ImgBasic::ImgFree(&img);
}

TEST_F(ImpressTest, SaturationLowerMovesTowardGrey) {
  Qimg img = Pixel(50, 100, 200);  // grey 116
  Qimg out;
  Impress::ImgSaturation(&img, &out, -50);
  EXPECT_EQ(At(out, 0, 0, 0), 83);   // 50 + T[66]
  EXPECT_EQ(At(out, 0, 0, 1), 108);  // 100 + T[16]
  EXPECT_EQ(At(out, 0, 0, 2), 158);  // 200 - T[84]
  ImgBasic::ImgFree(&img);
  ImgBasic::ImgFree(&out);
}

TEST_F(ImpressTest, SaturationOn32BitsGives24) {
  Qimg img;
  ImgBasic::_imgalloc_(&img, 1, 1, "test", __LINE__, 32);
  img.data[0] = 50, img.data[1] = 100, img.data[2] = 200;
  Impress::ImgSaturation(&img, &img, -100);
  EXPECT_EQ(img.bitsPerPixel, 24);
  EXPECT_EQ(img.bytesPerPixel, 3);
  EXPECT_EQ(At(img, 0, 0, 0), 116);
  EXPECT_EQ(At(img, 0, 0, 2), 116);
  ImgBasic::ImgFree(&img);
}

TEST_F(ImpressTest, InvalidImageIsRefused) {
  Qimg empty;
  EXPECT_THROW(Impress::ImgBrightness(&empty, &empty, 10, 10, 10),
               Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), Errors::kClsImage);
  EXPECT_EQ(Errors::ErrCode(), 2);
  Qimg img = Pixel(1, 2, 3);
  img.width = 1 << 20;  // claims more than its block holds
  EXPECT_THROW(Impress::ImgSoften(&img, &img), Errors::EMon);
  EXPECT_EQ(Errors::ErrCode(), 2);
  img.width = 1;
  ImgBasic::ImgFree(&img);
}

// ---- filters --------------------------------------------------------------

TEST_F(ImpressTest, FiltersKeepAFlatImage) {
  for (auto filter : {Impress::ImgSoften, Impress::ImgSharpen,
                      Impress::ImgEdgeEnhance}) {
    Qimg img = Make24(4, 3, [](int, int) { return ImgBasic::Rgb{90, 60, 30}; });
    filter(&img, &img);
    for (int y = 0; y < 3; y++)
      for (int x = 0; x < 4; x++) {
        EXPECT_EQ(At(img, x, y, 0), 30);
        EXPECT_EQ(At(img, x, y, 2), 90);
      }
    ImgBasic::ImgFree(&img);
  }
  Qimg img = Make24(4, 3, [](int, int) { return ImgBasic::Rgb{90, 60, 30}; });
  Impress::ImgFindEdges(&img, &img);
  for (int64_t i = 0; i < 36; i++) EXPECT_EQ(img.data[i], 0);
  ImgBasic::ImgFree(&img);
}

TEST_F(ImpressTest, SoftenRepeatsEdgePixels) {
  // A bright corner: the rows above and the column to the left of the
  // corner are the corner itself, so it counts four times.
  Qimg img = Grey24(3, 3, {160, 0, 0, 0, 0, 0, 0, 0, 0});
  Qimg out;
  Impress::ImgSoften(&img, &out);
  EXPECT_EQ(At(out, 0, 0, 0), 110);  // (1 + 1 + 1 + 8) × 160 >> 4
  EXPECT_EQ(At(out, 1, 0, 0), 20);   // (1 + 1) × 160 >> 4
  EXPECT_EQ(At(out, 0, 1, 1), 20);
  EXPECT_EQ(At(out, 1, 1, 2), 10);
  EXPECT_EQ(At(out, 2, 2, 0), 0);
  EXPECT_EQ(At(img, 0, 0, 0), 160);  // source untouched
  ImgBasic::ImgFree(&img);
  ImgBasic::ImgFree(&out);
}

TEST_F(ImpressTest, SharpenAtTheCorner) {
  Qimg img = Grey24(3, 3, {160, 0, 0, 0, 0, 0, 0, 0, 0});
  Impress::ImgSharpen(&img, &img);
  EXPECT_EQ(At(img, 0, 0, 0), 240);  // (8 - 1 - 1) × 160 >> 2
  EXPECT_EQ(At(img, 1, 0, 0), 0);    // -160 >> 2 limited to 0
  ImgBasic::ImgFree(&img);
}

TEST_F(ImpressTest, FindEdgesAndEnhanceAroundADarkCentre) {
  const std::vector<int> v = {100, 100, 100, 100, 90, 100, 100, 100, 100};
  Qimg img = Grey24(3, 3, v);
  Qimg out;
  Impress::ImgFindEdges(&img, &out);
  EXPECT_EQ(At(out, 1, 1, 0), 0);   // -10 × 16
  EXPECT_EQ(At(out, 1, 0, 0), 30);  // -10 × -3
  EXPECT_EQ(At(out, 0, 0, 0), 10);  // -10 × -1
  Impress::ImgEdgeEnhance(&img, &out);
  EXPECT_EQ(At(out, 1, 1, 0), 60);   // (400 - 160) >> 2
  EXPECT_EQ(At(out, 1, 0, 0), 105);  // (400 + 20) >> 2
  EXPECT_EQ(At(out, 0, 0, 0), 102);  // (400 + 10) >> 2
  ImgBasic::ImgFree(&img);
  ImgBasic::ImgFree(&out);
}

TEST_F(ImpressTest, FilterChannelsStaySeparateAndResultIs24Bit) {
  Qimg img;
  ImgBasic::_imgalloc_(&img, 3, 1, "test", __LINE__, 8);
  img.data[0] = 0, img.data[1] = 1, img.data[2] = 0;
  img.palette[3] = 0, img.palette[4] = 0, img.palette[5] = 160;  // red
  Impress::ImgSoften(&img, &img);
  EXPECT_EQ(img.bitsPerPixel, 24);
  // Single row: the rows above and below are the row itself.
  EXPECT_EQ(At(img, 1, 0, 2), 100);  // (1 + 8 + 1) × 160 >> 4
  EXPECT_EQ(At(img, 0, 0, 2), 30);   // (1 + 1 + 1) × 160 >> 4
  EXPECT_EQ(At(img, 1, 0, 0), 0);    // blue and green stay black
  EXPECT_EQ(At(img, 1, 0, 1), 0);
  ImgBasic::ImgFree(&img);
}

TEST_F(ImpressTest, NarrowImagesPassThrough) {
  Qimg img = Grey24(2, 2, {0, 200, 50, 10});
  Impress::ImgFindEdges(&img, &img);
  EXPECT_EQ(At(img, 1, 0, 0), 200);
  EXPECT_EQ(At(img, 0, 1, 0), 50);
  ImgBasic::ImgFree(&img);
}

TEST_F(ImpressTest, FilterWithoutDestinationIsRefused) {
  Qimg img = Grey24(3, 3, {0, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_THROW(Impress::ImgSharpen(&img, nullptr), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), Errors::kClsImage);
  EXPECT_EQ(Errors::ErrCode(), 6);
  ImgBasic::ImgFree(&img);
}

// ---- deinterlace ----------------------------------------------------------

namespace {
Qimg Rows(const std::vector<int>& values) {
  return Grey24(2, static_cast<int>(values.size()),
                [&] {
                  std::vector<int> all;
                  for (int v : values) all.insert(all.end(), {v, v});
                  return all;
                }());
}
std::vector<int> RowValues(const Qimg& img) {
  std::vector<int> out;
  for (int y = 0; y < img.height; y++) out.push_back(At(img, 1, y, 1));
  return out;
}
}  // namespace

TEST_F(ImpressTest, DeinterlaceDuplicateKeepFirst) {
  Qimg img = Rows({0, 10, 20, 30});
  Impress::ImgDeinterlace(&img, &img, true, true);
  EXPECT_EQ(RowValues(img), (std::vector<int>{0, 0, 20, 20}));
  ImgBasic::ImgFree(&img);
}

TEST_F(ImpressTest, DeinterlaceAveragesKeptRows) {
  Qimg img = Rows({0, 10, 21, 31, 40});
  Qimg out;
  Impress::ImgDeinterlace(&img, &out, true, false);
  EXPECT_EQ(RowValues(out), (std::vector<int>{0, 10, 21, 30, 40}));
  Impress::ImgDeinterlace(&img, &out, false, false);
  // Row 0 from row 1; row 2 the mean of 1 and 3; row 4 has no row below.
  EXPECT_EQ(RowValues(out), (std::vector<int>{10, 10, 20, 31, 31}));
  Impress::ImgDeinterlace(&img, &out, false, true);
  EXPECT_EQ(RowValues(out), (std::vector<int>{10, 10, 10, 31, 31}));
  ImgBasic::ImgFree(&img);
  ImgBasic::ImgFree(&out);
}

TEST_F(ImpressTest, DeinterlaceDepths) {
  Qimg img;
  ImgBasic::_imgalloc_(&img, 1, 2, "test", __LINE__, 16);
  img.data[0] = 0x1F, img.data[1] = 0, img.data[2] = 0, img.data[3] = 0xF8;
  Qimg out;
  Impress::ImgDeinterlace(&img, &out, true, true);
  EXPECT_EQ(out.bitsPerPixel, 16);  // duplicating keeps the depth
  EXPECT_EQ(out.data[2], 0x1F);
  EXPECT_EQ(out.data[3], 0);
  Impress::ImgDeinterlace(&img, &out, true, false);
  EXPECT_EQ(out.bitsPerPixel, 24);
  EXPECT_EQ(At(out, 0, 1, 0), 248);  // row 1 copies row 0: blue 31 × 8
  ImgBasic::ImgFree(&img);
  ImgBasic::ImgFree(&out);
}

TEST_F(ImpressTest, DeinterlaceOneRowIsLeftAlone) {
  for (bool keepFirst : {true, false}) {
    for (bool duplicate : {true, false}) {
      Qimg img;
      ImgBasic::_imgalloc_(&img, 3, 1, "test", __LINE__, 16);
      for (int i = 0; i < 6; i++) img.data[i] = static_cast<uint8_t>(i + 1);
      Impress::ImgDeinterlace(&img, &img, keepFirst, duplicate);
      EXPECT_EQ(img.bitsPerPixel, 16);
      EXPECT_EQ(img.height, 1);
      for (int i = 0; i < 6; i++) EXPECT_EQ(img.data[i], i + 1);
      ImgBasic::ImgFree(&img);
    }
  }
}

// ---- frame average --------------------------------------------------------

TEST_F(ImpressTest, AverageOfTwoFrames) {
  Qimg a = Pixel(10, 0, 255);
  Qimg b = Pixel(20, 1, 254);
  Impress::ImgAverage(&a);
  Impress::ImgAverage(&b);
  Qimg out;
  Impress::ImgAverageGet(&out);
  EXPECT_EQ(out.bitsPerPixel, 24);
  EXPECT_EQ(At(out, 0, 0, 0), 15);
  EXPECT_EQ(At(out, 0, 0, 1), 0);    // 1 / 2 truncates
  EXPECT_EQ(At(out, 0, 0, 2), 254);  // 509 / 2

  // A frame of another size is refused and adds nothing.
  Qimg big = Grey24(2, 1, {0, 0});
  EXPECT_THROW(Impress::ImgAverage(&big), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), Errors::kClsGeneral);
  EXPECT_EQ(Errors::ErrCode(), 1);
  Impress::ImgAverageGet(&out);
  EXPECT_EQ(At(out, 0, 0, 0), 15);

  // The sums stay: a third frame joins them.
  Qimg c = Pixel(45, 0, 0);
  Impress::ImgAverage(&c);
  Impress::ImgAverageGet(&out);
  EXPECT_EQ(At(out, 0, 0, 0), 25);
  for (Qimg* q : {&a, &b, &c, &big, &out}) ImgBasic::ImgFree(q);
}

TEST_F(ImpressTest, AverageReadsEveryDepth) {
  Qimg p8;
  ImgBasic::_imgalloc_(&p8, 1, 1, "test", __LINE__, 8);
  p8.data[0] = 5;
  p8.palette[15] = 100, p8.palette[16] = 50, p8.palette[17] = 10;
  Qimg p16;
  ImgBasic::_imgalloc_(&p16, 1, 1, "test", __LINE__, 16);
  // blue 20, green 40, red 10 → 160, 160, 80
  const uint16_t w = 20 | (40 << 5) | (10 << 11);
  p16.data[0] = static_cast<uint8_t>(w), p16.data[1] = static_cast<uint8_t>(w >> 8);
  Qimg p32;
  ImgBasic::_imgalloc_(&p32, 1, 1, "test", __LINE__, 32);
  p32.data[0] = 40, p32.data[1] = 30, p32.data[2] = 0, p32.data[3] = 255;
  Impress::ImgAverage(&p8);
  Impress::ImgAverage(&p16);
  Impress::ImgAverage(&p32);
  Qimg out;
  Impress::ImgAverageGet(&out);
  EXPECT_EQ(At(out, 0, 0, 0), 100);  // (100 + 160 + 40) / 3
  EXPECT_EQ(At(out, 0, 0, 1), 80);   // (50 + 160 + 30) / 3
  EXPECT_EQ(At(out, 0, 0, 2), 30);   // (10 + 80 + 0) / 3
  for (Qimg* q : {&p8, &p16, &p32, &out}) ImgBasic::ImgFree(q);
}

TEST_F(ImpressTest, AverageOfNothingIsAnError) {
  Qimg out;
  EXPECT_THROW(Impress::ImgAverageGet(&out), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), Errors::kClsImage);
  EXPECT_EQ(Errors::ErrCode(), Errors::kTextCode);
  Qimg a = Pixel(1, 1, 1);
  Impress::ImgAverage(&a);
  Impress::ImgAverageClear();
  EXPECT_THROW(Impress::ImgAverageGet(&out), Errors::EMon);
  // A new size is accepted after a clear.
  Qimg b = Grey24(2, 2, {4, 4, 4, 4});
  Impress::ImgAverage(&b);
  Impress::ImgAverageGet(&out);
  EXPECT_EQ(out.width, 2);
  EXPECT_EQ(At(out, 1, 1, 1), 4);
  for (Qimg* q : {&a, &b, &out}) ImgBasic::ImgFree(q);
}

TEST_F(ImpressTest, AverageSurvivesItsBufferBeingFreedByAFailingFrame) {
  Qimg a = Pixel(10, 10, 10);
  // An outer frame adds a frame and then fails: it frees what it obtained,
  // the sums included; the next frame starts a fresh average.
  EXPECT_THROW(Errors::Monitored("Test.Outer",
                                 [&] {
                                   Impress::ImgAverage(&a);
                                   Errors::ErrSet(Errors::kClsGeneral, 1,
                                                  __LINE__);
                                 }),
               Errors::EMon);
  Qimg b = Grey24(2, 1, {50, 50});
  Impress::ImgAverage(&b);
  Qimg out;
  Impress::ImgAverageGet(&out);
  EXPECT_EQ(out.width, 2);
  EXPECT_EQ(At(out, 0, 0, 0), 50);
  for (Qimg* q : {&a, &b, &out}) ImgBasic::ImgFree(q);
}

// ---- against a peer ---------------------------------------------------------

namespace {

// Runs ImageMagick's 3×3 convolution with edge pixels repeated over a
// binary PPM of the image; returns its RGB bytes, or empty on failure.
std::vector<uint8_t> PeerConvolve(const Qimg& img, const std::string& kernel,
                                  const std::string& scale) {
  const TestUtil::TempDir dir;
  const std::string in = dir.File("in.ppm");
  const std::string out = dir.File("out.ppm");
  {
    std::ofstream f(in, std::ios::binary);
    f << "P6\n" << img.width << " " << img.height << "\n255\n";
    for (int64_t i = 0; i < int64_t{img.width} * img.height; i++) {
      const uint8_t* p = img.data + i * 3;
      f.put(static_cast<char>(p[2])).put(static_cast<char>(p[1]))
          .put(static_cast<char>(p[0]));
    }
  }
  const std::string cmd = "convert '" + in +
                          "' -virtual-pixel edge -define convolve:scale=" +
                          scale + " -morphology Convolve '3x3: " + kernel +
                          "' -depth 8 '" + out + "' 2>/dev/null";
  std::vector<uint8_t> rgb;
  if (std::system(cmd.c_str()) == 0) {
    std::ifstream f(out, std::ios::binary);
    std::string magic;
    int w = 0, h = 0, max = 0;
    f >> magic >> w >> h >> max;
    f.get();
    rgb.assign(std::istreambuf_iterator<char>(f), {});
    if (magic != "P6" || w != img.width || h != img.height ||
        rgb.size() != static_cast<size_t>(w) * h * 3)
      rgb.clear();
  }
  return rgb;
}

}  // namespace

TEST_F(ImpressTest, FiltersAgreeWithImageMagick) {
  if (!TestUtil::HaveTool("convert")) GTEST_SKIP() << "ImageMagick not installed";
  std::mt19937 rng(7);
  Qimg src = Make24(9, 6, [&](int, int) {
    return ImgBasic::Rgb{static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()),
                         static_cast<uint8_t>(rng())};
  });
  struct Case {
    void (*filter)(Qimg*, Qimg*);
    const char* kernel;
    const char* scale;
    int tolerance;  // the peer rounds where the shift truncates
  };
  const Case cases[] = {
      {Impress::ImgFindEdges, "-1,-3,-1 -3,16,-3 -1,-3,-1", "1", 0},
      {Impress::ImgSoften, "1,1,1 1,8,1 1,1,1", "0.0625", 1},
      {Impress::ImgSharpen, "0,-1,0 -1,8,-1 0,-1,0", "0.25", 1},
      {Impress::ImgEdgeEnhance, "-1,-2,-1 -2,16,-2 -1,-2,-1", "0.25", 1},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> peer = PeerConvolve(src, c.kernel, c.scale);
    if (peer.empty()) GTEST_SKIP() << "ImageMagick convolution unavailable";
    Qimg out;
    c.filter(&src, &out);
    for (int64_t i = 0; i < int64_t{src.width} * src.height; i++)
      for (int ch = 0; ch < 3; ch++)
        EXPECT_NEAR(out.data[i * 3 + ch], peer[i * 3 + 2 - ch], c.tolerance)
            << c.kernel << " pixel " << i;
    ImgBasic::ImgFree(&out);
  }
  ImgBasic::ImgFree(&src);
}
