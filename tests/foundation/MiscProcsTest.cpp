#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "foundation/Errors.h"
#include "foundation/MiscProcs.h"

using namespace MiscProcs;

TEST(MiscPaths, AddBS) {
  EXPECT_EQ(AddBS("/a"), "/a/");
  EXPECT_EQ(AddBS("/a/"), "/a/");
  EXPECT_EQ(AddBS(""), "");
}

TEST(MiscPaths, GetAppDirIsTheProgramFolder) {
  const std::string dir = GetAppDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  EXPECT_TRUE(std::filesystem::exists(dir + "qor_tests"));
}

TEST(MiscNumbers, RoundExTruncates) {
  EXPECT_DOUBLE_EQ(RoundEx(2, 2.678), 2.67);
  EXPECT_DOUBLE_EQ(RoundEx(0, -2.7), -2.0);
  EXPECT_DOUBLE_EQ(RoundEx(-3, 2.678), 2.0);  // decimals limited to 0
  EXPECT_DOUBLE_EQ(RoundEx(15, 1.23456789012), 1.2345678901);
  // Beyond 32 bits the integer part is kept, not wrapped.
  EXPECT_DOUBLE_EQ(RoundEx(2, 30000000.125), 30000000.12);
}

TEST(MiscNumbers, WrapAround) {
  EXPECT_EQ(WrapAround(50, 0, 49), 0);
  EXPECT_EQ(WrapAround(-1, 0, 49), 49);
  EXPECT_EQ(WrapAround(10, 0, 49), 10);
}

TEST(MiscNumbers, DivNearestExamples) {
  EXPECT_EQ(DivNearest(7, 16), 16);
  EXPECT_EQ(DivNearest(25, 16), 32);
  EXPECT_EQ(DivNearest(24, 16), 32);
  EXPECT_EQ(DivNearest(23, 16), 16);
  EXPECT_EQ(DivNearest(-40, 16), 16);
  EXPECT_DOUBLE_EQ(DivNearestF(7.0, 16.0), 16.0);
  EXPECT_DOUBLE_EQ(DivNearestF(25.0, 16.0), 32.0);
  EXPECT_DOUBLE_EQ(DivNearestF(1.4, 0.5), 1.5);
}

TEST(MiscNumbers, DivNearestHugeValueStaysInRange) {
  EXPECT_EQ(DivNearest(2147483647, 16), 2147483632);
}

TEST(MiscNumbers, DivNearestZeroStepIsAnError) {
  EXPECT_EQ(DivNearest(5, 0), 0);
  EXPECT_EQ(Errors::ErrClass(), 4);
  EXPECT_EQ(Errors::ErrCode(), 1);
  EXPECT_THROW(Errors::Monitored("Test.DivNearest", [] { DivNearest(5, -3); }),
               Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 4);
  Errors::ErrClear();
  EXPECT_DOUBLE_EQ(DivNearestF(5, 0), 0);
  EXPECT_EQ(Errors::ErrCode(), 1);
}

TEST(MiscTexts, SecToStrExamples) {
  EXPECT_EQ(SecToStr(0, 3725.5), "01:02:05.500");
  EXPECT_EQ(SecToStr(0, 65), "01:05");
  EXPECT_EQ(SecToStr(0, 5), "05");
  EXPECT_EQ(SecToStr(0, 0.25), "0.250");
  EXPECT_EQ(SecToStr(0, 0), "");
}

TEST(MiscTexts, SecToStrFlags) {
  EXPECT_EQ(SecToStr(kShowHours, 5), "00:00:05");
  EXPECT_EQ(SecToStr(kShowMinutes, 0), "00:00");
  EXPECT_EQ(SecToStr(kShowSeconds, 0), "00");
  EXPECT_EQ(SecToStr(kShowMillis, 5), "05.000");
  EXPECT_EQ(SecToStr(kShowMillis, 0), "0.000");
  EXPECT_EQ(SecToStr(kNoMillis, 3725.5), "01:02:05");
  EXPECT_EQ(SecToStr(kNoMillis | kShowMillis, 0.25), "");
  EXPECT_EQ(SecToStr(0, 36000), "10:00:00");
}

TEST(MiscTexts, AnsiStrToDate) {
  EXPECT_DOUBLE_EQ(AnsiStrToDate("1899-12-30", -1), 0.0);
  EXPECT_DOUBLE_EQ(AnsiStrToDate("2000-01-01", -1), 36526.0);
  EXPECT_DOUBLE_EQ(AnsiStrToDate("2000-03-01", -1), 36586.0);
  EXPECT_DOUBLE_EQ(AnsiStrToDate("2001-02-29", -1), -1);
  EXPECT_DOUBLE_EQ(AnsiStrToDate("2000-13-01", -1), -1);
  EXPECT_DOUBLE_EQ(AnsiStrToDate("2020-1-05", -1), -1);
  EXPECT_DOUBLE_EQ(AnsiStrToDate("abcd", 7), 7);
  EXPECT_DOUBLE_EQ(AnsiStrToDate("", 7), 7);
}

TEST(MiscTexts, FindNextMarker) {
  int32_t pos = 1;
  EXPECT_TRUE(FindNextMarker("abcabc", "bc", pos));
  EXPECT_EQ(pos, 2);
  pos = 3;
  EXPECT_TRUE(FindNextMarker("abcabc", "bc", pos));
  EXPECT_EQ(pos, 5);
  pos = 6;
  EXPECT_FALSE(FindNextMarker("abcabc", "bc", pos));
  EXPECT_EQ(pos, 6);
  pos = 1;
  EXPECT_FALSE(FindNextMarker("abcabc", "", pos));
  EXPECT_FALSE(FindNextMarker("abcabc", "x", pos));
}

TEST(MiscTexts, GetNextBlockWalksTheParts) {
  const std::string text = "a;bb;;c";
  std::string block;
  int32_t pos = 1;
  EXPECT_TRUE(GetNextBlock(text, ';', block, pos));
  EXPECT_EQ(block, "a");
  EXPECT_EQ(pos, 3);
  EXPECT_TRUE(GetNextBlock(text, ';', block, pos));
  EXPECT_EQ(block, "bb");
  EXPECT_EQ(pos, 6);
  EXPECT_TRUE(GetNextBlock(text, ';', block, pos));
  EXPECT_EQ(block, "");
  EXPECT_EQ(pos, 7);
  EXPECT_TRUE(GetNextBlock(text, ';', block, pos));
  EXPECT_EQ(block, "c");
  EXPECT_EQ(pos, 8);
  EXPECT_FALSE(GetNextBlock(text, ';', block, pos));
  EXPECT_EQ(block, "");
  EXPECT_EQ(pos, 8);
}

TEST(MiscTexts, IfThen) {
  EXPECT_EQ(IfThenStr(true, "a", "b"), "a");
  EXPECT_EQ(IfThenStr(false, "a", "b"), "b");
  EXPECT_EQ(IfThenInt(false, 1, 2), 2);
}

struct Box {
  int32_t w = -9, h = -9, sw = -9, sh = -9;
};

TEST(MiscBox, CalcBoxResizeExamples) {
  Box b;
  CalcBoxResize(640, 480, 320, 320, false, b.w, b.h, b.sw, b.sh);
  EXPECT_EQ(b.w, 320);
  EXPECT_EQ(b.h, 240);
  EXPECT_EQ(b.sw, 0);
  EXPECT_EQ(b.sh, 80);
  CalcBoxResize(100, 50, 320, 240, false, b.w, b.h, b.sw, b.sh);
  EXPECT_EQ(b.w, 100);
  EXPECT_EQ(b.h, 50);
  EXPECT_EQ(b.sw, 220);
  EXPECT_EQ(b.sh, 190);
}

TEST(MiscBox, CalcBoxResizeScaleAlwaysAndMinimum) {
  Box b;
  CalcBoxResize(100, 50, 320, 240, true, b.w, b.h, b.sw, b.sh);
  EXPECT_EQ(b.w, 320);
  EXPECT_EQ(b.h, 160);
  EXPECT_EQ(b.sw, 0);
  EXPECT_EQ(b.sh, 80);
  CalcBoxResize(1000, 1, 100, 100, false, b.w, b.h, b.sw, b.sh);
  EXPECT_EQ(b.w, 100);
  EXPECT_EQ(b.h, 1);
  EXPECT_EQ(b.sh, 99);
  // Height-limited: the width follows the height ratio.
  CalcBoxResize(300, 600, 200, 200, false, b.w, b.h, b.sw, b.sh);
  EXPECT_EQ(b.w, 100);
  EXPECT_EQ(b.h, 200);
  EXPECT_EQ(b.sw, 100);
  EXPECT_EQ(b.sh, 0);
}

TEST(MiscBox, CalcBoxResizeEmptySourceIsOutOfRange) {
  Box b;
  CalcBoxResize(0, 0, 320, 240, true, b.w, b.h, b.sw, b.sh);
  EXPECT_EQ(b.w, 320);
  EXPECT_EQ(b.h, 240);
  EXPECT_EQ(b.sw, 0);
  EXPECT_EQ(b.sh, 0);
  EXPECT_EQ(Errors::ErrClass(), 4);
  EXPECT_EQ(Errors::ErrCode(), 1);
  Errors::ErrClear();
  CalcBoxResize(-5, 1000, 320, 240, false, b.w, b.h, b.sw, b.sh);
  EXPECT_EQ(b.w, 320);
  EXPECT_EQ(Errors::ErrCode(), 1);
  Errors::ErrClear();
  CalcBoxResize(640, 480, 0, 240, false, b.w, b.h, b.sw, b.sh);
  EXPECT_EQ(b.w, 0);
  EXPECT_EQ(b.h, 240);
  EXPECT_EQ(Errors::ErrCode(), 1);
  Errors::ErrClear();
  EXPECT_THROW(Errors::Monitored("Test.Box",
                                 [&] {
                                   CalcBoxResize(0, 10, 5, 5, true, b.w, b.h,
                                                 b.sw, b.sh);
                                 }),
               Errors::EMon);
}

TEST(MiscColour, ColorSwapRB) {
  EXPECT_EQ(ColorSwapRB(0x11223344u), 0x11443322u);
  EXPECT_EQ(ColorSwapRB(0x000000FFu), 0x00FF0000u);
}

// A pixel block of four pixels with guard bytes on both sides.
struct Guarded {
  explicit Guarded(int bytesPerPixel)
      : buf(static_cast<size_t>(8 + 4 * bytesPerPixel + 8), 0xEE) {}
  uint8_t* data() { return buf.data() + 8; }
  bool GuardsIntact(int bytesPerPixel) const {
    for (int i = 0; i < 8; i++)
      if (buf[static_cast<size_t>(i)] != 0xEE ||
          buf[static_cast<size_t>(8 + 4 * bytesPerPixel + i)] != 0xEE)
        return false;
    return true;
  }
  std::vector<uint8_t> buf;
};

TEST(MiscFill, FillColorByDepth) {
  const uint32_t colour = 0x44332211u;  // red 11, green 22, blue 33
  Guarded g8(1);
  FillColor(g8.data(), 4, 8, 1, 2, colour);
  EXPECT_EQ(g8.data()[0], 0xEE);
  EXPECT_EQ(g8.data()[1], 0x11);
  EXPECT_EQ(g8.data()[2], 0x11);
  EXPECT_EQ(g8.data()[3], 0xEE);

  Guarded g16(2);
  FillColor(g16.data(), 4, 15, 0, 1, colour);
  EXPECT_EQ(g16.data()[0], 0x11);
  EXPECT_EQ(g16.data()[1], 0x22);
  EXPECT_EQ(g16.data()[2], 0xEE);

  Guarded g24(3);
  FillColor(g24.data(), 4, 24, 3, 1, colour);
  const uint8_t bgr[3] = {0x33, 0x22, 0x11};
  EXPECT_EQ(std::memcmp(g24.data() + 9, bgr, 3), 0);
  EXPECT_EQ(g24.data()[8], 0xEE);

  // 32 bits store blue, green, red like 24 bits; the high byte follows.
  Guarded g32(4);
  FillColor(g32.data(), 4, 32, 0, 4, colour);
  for (int p = 0; p < 4; p++) {
    EXPECT_EQ(g32.data()[p * 4 + 0], 0x33);
    EXPECT_EQ(g32.data()[p * 4 + 1], 0x22);
    EXPECT_EQ(g32.data()[p * 4 + 2], 0x11);
    EXPECT_EQ(g32.data()[p * 4 + 3], 0x44);
  }
  EXPECT_TRUE(g32.GuardsIntact(4));
}

TEST(MiscFill, FillColorStaysInsideTheBlock) {
  Guarded g(3);
  FillColor(g.data(), 4, 24, 2, 100, 0xFFFFFFu);  // count cut to 2
  EXPECT_EQ(g.data()[5], 0xEE);
  EXPECT_EQ(g.data()[6], 0xFF);
  EXPECT_EQ(g.data()[11], 0xFF);
  EXPECT_TRUE(g.GuardsIntact(3));

  Guarded n(3);
  FillColor(n.data(), 4, 24, -1, 3, 0);  // negative first pixel: nothing
  FillColor(n.data(), 4, 24, 4, 3, 0);   // first pixel past the end
  FillColor(n.data(), 4, 24, 0, -3, 0);  // negative count
  FillColor(n.data(), 4, 12, 0, 4, 0);   // unknown depth
  for (uint8_t b : n.buf) EXPECT_EQ(b, 0xEE);
}
