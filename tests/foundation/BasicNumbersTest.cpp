#include <gtest/gtest.h>

#include "foundation/Basic.h"

using namespace Basic;

TEST(BasicNumToStr, WidthsGroupingAndZeros) {
  EXPECT_EQ(NumToStr(1234567, 100), "1,234,567");
  EXPECT_EQ(NumToStr(1234567, 110), " 1,234,567");
  EXPECT_EQ(NumToStr(42, 205), "00042");
  EXPECT_EQ(NumToStr(42, 5), "   42");
  EXPECT_EQ(NumToStr(0, 0), "0");
  EXPECT_EQ(NumToStr(100, 100), "100");
  EXPECT_EQ(NumToStr(1000, 100), "1,000");
  EXPECT_EQ(NumToStr(123456, 3), "123456");  // never cut
  EXPECT_EQ(NumToStr(123456, 203), "123456");
}

TEST(BasicNumToStr, NegativeReadsUnsigned) {
  EXPECT_EQ(NumToStr(-1, 0), "4294967295");
  EXPECT_EQ(NumToStr(-1, 100), "4,294,967,295");
  EXPECT_EQ(NumToStr(K_AUTO, 0), "2937064828");
}

TEST(BasicNumbers, RealToStrPadsToWidth) {
  EXPECT_EQ(RealToStr(8, 2, 3.14159), "    3.14");
  EXPECT_EQ(RealToStr(0, 3, -1.5), "-1.500");
  EXPECT_EQ(RealToStr(2, 1, 123.25), "123.2");
}

TEST(BasicNumbers, DigitsToInt) {
  EXPECT_EQ(DigitsToInt("12345"), 12345);
  EXPECT_EQ(DigitsToInt(""), 0);
  EXPECT_EQ(DigitsToInt(nullptr), 0);
  EXPECT_EQ(DigitsToInt("007"), 7);
}

TEST(BasicNumbers, ClampsLetLowWin) {
  EXPECT_EQ(ClampInt(5, 0, 3), 3);
  EXPECT_EQ(ClampInt(-2, 0, 3), 0);
  EXPECT_EQ(ClampInt(2, 0, 3), 2);
  EXPECT_EQ(ClampInt(5, 10, 3), 10);
  EXPECT_DOUBLE_EQ(ClampReal(1.5, 0.0, 1.0), 1.0);
  EXPECT_DOUBLE_EQ(ClampReal(-1.5, 0.0, 1.0), 0.0);
  EXPECT_DOUBLE_EQ(ClampReal(0.5, 2.0, 1.0), 2.0);
}

TEST(BasicNumbers, RealSameAndMax) {
  EXPECT_TRUE(RealSame(1.0, 1.00009));
  EXPECT_TRUE(RealSame(-5.0, -5.0001));
  EXPECT_FALSE(RealSame(1.0, 1.0002));
  EXPECT_EQ(MaxInt2(3, -4), 3);
  EXPECT_EQ(MaxInt2(-3, -2), -2);
}

TEST(BasicStopwatch, SplitsTheTickTime) {
  Stopwatch sw;
  StopwatchStart(sw);
  // Pretend the watch was started 1 h 2 min 5.5 s ago by both clocks.
  sw.startTicks -= 3725500u;
  sw.startTime -= 3725.5 / 86400.0;
  const double s = StopwatchRead(sw);
  EXPECT_GE(s, 3725.5);
  EXPECT_LT(s, 3726.5);
  EXPECT_EQ(sw.hours, 1);
  EXPECT_EQ(sw.minutes, 2);
  EXPECT_EQ(sw.seconds, 5);
  EXPECT_GE(sw.milliseconds, 500);
  EXPECT_DOUBLE_EQ(sw.elapsed, s);
}

TEST(BasicStopwatch, ClockWinsWhenTicksRunAhead) {
  Stopwatch sw;
  StopwatchStart(sw);
  sw.startTicks -= 5000u;  // ticks claim 5 s, the clock almost nothing
  const double s = StopwatchRead(sw);
  EXPECT_LT(s, 1.0);
  EXPECT_GE(s, 0.0);
  EXPECT_EQ(sw.hours, 0);
  EXPECT_EQ(sw.minutes, 0);
}
