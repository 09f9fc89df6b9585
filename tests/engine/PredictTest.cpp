// Remaining-time prediction over the last 50 progress reports, and the
// exports that read it; "now" is always given, so the figures are exact.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "engine/Common.h"
#include "engine/Predict.h"
#include "qor.h"

using namespace Predict;

TEST(Predict, FirstReportMeasuresFromZero) {
  PredictRec p;
  Predict_Init(&p);
  // 25 frames in 5 s, 75 to go: 15 s.
  EXPECT_DOUBLE_EQ(Predict_GetRemainingEx(&p, 25, 100, 5.0), 15.0);
}

TEST(Predict, SteadyReportsGiveTheRateTimesWhatIsLeft) {
  PredictRec p;
  Predict_Init(&p);
  double left = 0;
  for (int i = 1; i <= 10; i++) left = Predict_GetRemainingEx(&p, 10 * i, 100 * 10 + 10 * i, i);
  EXPECT_DOUBLE_EQ(left, 100.0);  // 10 frames a second, 1000 to go
  EXPECT_DOUBLE_EQ(Predict_TimeGranulate(left), 100.0);
}

TEST(Predict, OnlyTheLastFiftyReportsCount) {
  PredictRec p;
  Predict_Init(&p);
  // 50 slow reports (1 frame a second), then 50 fast ones (10 a second).
  int32_t done = 0;
  double now = 0;
  for (int i = 0; i < 50; i++) Predict_GetRemainingEx(&p, done += 1, 100000, now += 1.0);
  EXPECT_EQ(p.index, 0);  // wrapped
  double left = 0;
  for (int i = 0; i < 49; i++) left = Predict_GetRemainingEx(&p, done += 10, 100000, now += 1.0);
  EXPECT_GT(left, (100000.0 - done) / 10.0);  // one slow report still in the ring
  left = Predict_GetRemainingEx(&p, done += 10, 100000, now += 1.0);
  EXPECT_DOUBLE_EQ(left, (100000.0 - done) / 10.0);
  EXPECT_EQ(p.index, 0);
}

TEST(Predict, NoTotalLeavesTheRingAndReportsWithoutProgressAddTime) {
  PredictRec p;
  Predict_Init(&p);
  EXPECT_EQ(Predict_GetRemainingEx(&p, 10, 0, 2.0), 0.0);
  EXPECT_EQ(p.index, 0);
  EXPECT_EQ(p.lastProgress, 10);  // the last values move on
  EXPECT_DOUBLE_EQ(Predict_GetRemainingEx(&p, 20, 40, 4.0), 4.0);
  EXPECT_DOUBLE_EQ(Predict_GetRemainingEx(&p, 20, 40, 8.0), 12.0);
  // Done beyond the total, and going backwards, never predict below 0.
  EXPECT_EQ(Predict_GetRemainingEx(&p, 50, 40, 9.0), 0.0);
  EXPECT_EQ(Predict_GetRemainingEx(&p, -100, 40, 10.0), 0.0);
}

TEST(Predict, HugeCountsDoNotOverflowTheSum) {
  PredictRec p;
  Predict_Init(&p);
  double left = 0;
  for (int i = 0; i < 50; i++)
    left = Predict_GetRemainingEx(&p, (i % 2) ? 2147483647 : -2147483647 - 1, 2147483647,
                                  static_cast<double>(i));
  EXPECT_GE(left, 0.0);
  EXPECT_FALSE(std::isnan(left));
}

TEST(Predict, GranulationSteps) {
  struct Case {
    double in, out;
  };
  for (const Case c : {Case{3700, 3600}, Case{1000, 1020}, Case{61, 60}, Case{0.2, 1},
                       Case{0, 1}, Case{-5, 1}, Case{59.4, 59}, Case{62.4, 60},
                       Case{900, 900}, Case{3601, 3600}, Case{7000, 6900}}) {
    EXPECT_DOUBLE_EQ(Predict_TimeGranulate(c.in), c.out) << c.in;
  }
  EXPECT_EQ(Predict_TimeGranulate(std::numeric_limits<double>::quiet_NaN()), 1.0);
  EXPECT_EQ(PredictWrap(-1), 49);
  EXPECT_EQ(PredictWrap(50), 0);
  EXPECT_EQ(PredictWrap(17), 17);
}

TEST(PredictExports, ElapsedAndRemainingFromTheRecord) {
  QorHandle h = QorAlloc();
  auto* rec = static_cast<Common::QorRec*>(h);
  rec->doneFrames = 10;
  rec->videoSeconds = 1.0;
  rec->doneSamples = 44100;
  rec->audioSeconds = 0.5;
  EXPECT_DOUBLE_EQ(QorGetElapsedTime(h), 1.5);
  // Video: 990 frames at 10 a second is 99 s, in steps of 5 s; sound:
  // nothing asked for.
  EXPECT_DOUBLE_EQ(QorGetRemainingTime(h, 1000, 0), 100.0);
  EXPECT_EQ(rec->audioPredict.index, 0);
  EXPECT_EQ(rec->videoPredict.index, 1);
  EXPECT_EQ(QorGetRemainingTime(nullptr, 1, 1), 0.0);
  QorLastError r{};
  QorGetLastError(&r);
  EXPECT_EQ(r.code, 999);
  QorFree(h);
}

TEST(PredictExports, TimeTextsStayWithinSixteenBytes) {
  struct Case {
    double sec;
    const char* text;
  };
  for (const Case c : {Case{3725.4, "01:02:05"}, Case{59.9, "00:00:59"}, Case{0, "00:00:00"},
                       Case{-3, "00:00:00"}, Case{std::nan(""), "00:00:00"},
                       Case{360000, "100:00:00"}, Case{1e300, "596523:14:07"},
                       Case{2147483647.0, "596523:14:07"}}) {
    char buf[16];
    std::memset(buf, 'X', sizeof buf);
    QorMakeTimeStr(c.sec, buf);
    EXPECT_STREQ(buf, c.text) << c.sec;
  }
  QorMakeTimeStr(1.0, nullptr);
  QorLastError r{};
  QorGetLastError(&r);
  EXPECT_EQ(r.code, 999);
}
