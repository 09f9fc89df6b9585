#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "support/TestUtil.h"

using namespace Errors;

namespace {

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TraceSetFile(dir.File("trace.txt"));
    TraceStart("QOR 2.8.0");
  }
  void TearDown() override { TraceStop(); }
  std::vector<std::string> Lines() { return TestUtil::ReadLines(dir.File("trace.txt")); }

  TestUtil::TempDir dir;
};

TEST_F(TraceTest, StartWritesTheHeader) {
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "QOR 2.8.0");
  EXPECT_TRUE(std::regex_match(
      lines[1], std::regex(R"(Trace started at \d{4}-\d{2}-\d{2}, \d{2}:\d{2})")))
      << lines[1];
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(OS: .+ v\d+\.\d+ - build \d+)")))
      << lines[2];
  EXPECT_TRUE(std::regex_match(lines[3], std::regex(R"(CPU: .+, processors: \d+)")))
      << lines[3];
  EXPECT_EQ(lines[4], std::string(40, '-'));
  // Lines end with CR LF.
  const std::string raw = TestUtil::ReadText(dir.File("trace.txt"));
  EXPECT_EQ(raw.substr(0, 11), "QOR 2.8.0\r\n");
}

TEST_F(TraceTest, StartingAgainReplacesTheOldFile) {
  TraceWriteLine("old line");
  TraceStart("QOR 2.8.0");
  EXPECT_EQ(Lines().size(), 5u);
}

TEST_F(TraceTest, ErrorWritesItsLinesWithTheCallPath) {
  TracePush("Test.A");
  TracePush("Test.B");
  ErrSet(6, 3, 900);
  EXPECT_EQ(TraceDepth(), 0);  // logging an error empties the stack
  const auto lines = Lines();
  ASSERT_GE(lines.size(), 5u + 2 + 4 + 2);
  EXPECT_EQ(lines[5], "!6:3;\"Cannot read from file.\"");
  EXPECT_EQ(lines[6], "@Test.A:Test.B;900");
  EXPECT_EQ(lines[7], "#Physical memory:");
  EXPECT_TRUE(std::regex_match(lines[8], std::regex(R"(#  total: [\d,]+k, free: [\d,]+k)")))
      << lines[8];
  EXPECT_EQ(lines[9], "#Swap memory:");
  EXPECT_TRUE(std::regex_match(lines[10], std::regex(R"(#  total: [\d,]+k, free: [\d,]+k)")));
  EXPECT_EQ(lines[11], "#Drive /");
  EXPECT_TRUE(std::regex_match(lines[12], std::regex(R"(#  total: [\d,]+k, free: [\d,]+k)")));
}

TEST_F(TraceTest, WarningWritesQuestionMarkAndKeepsTheStack) {
  TracePush("Test.A");
  WarnSet(5, 4, 12);
  EXPECT_EQ(TraceDepth(), 1);
  const auto lines = Lines();
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(lines[5], "?5:4;\"Memory could not be deallocated.\"");
  EXPECT_EQ(lines[6], "@Test.A;12");
  TracePop();
}

// Writing a trace line opens and closes the file through the tracked close,
// which would clear the warning pair: the pair must survive.
TEST_F(TraceTest, WarningSurvivesTraceWrites) {
  WarnSet(6, 8, 1);
  TraceWriteLine("anything");
  EXPECT_FALSE(WarnNone());
  EXPECT_EQ(WarnClass(), 6);
  EXPECT_EQ(WarnCode(), 8);
}

TEST_F(TraceTest, TraceWritesDoNotChangeTheLastFileName) {
  Basic::SetLastFileName("/data/picture.tga");
  ErrSet(7, 1, 1);
  EXPECT_EQ(Basic::LastFileName(), "/data/picture.tga");
}

TEST_F(TraceTest, WriteLinesSplitsAtLineBreaks) {
  TraceWriteLines("one\r\ntwo\r\n\r\nthree\r\n");
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[5], "#one");
  EXPECT_EQ(lines[6], "#two");
  EXPECT_EQ(lines[7], "#");
  EXPECT_EQ(lines[8], "#three");
  TraceWriteLines("");
  EXPECT_EQ(Lines().size(), 9u);
}

TEST_F(TraceTest, DeepPushesKeepTheFirst256Names) {
  std::vector<std::string> names;
  for (int i = 0; i < 300; i++) names.push_back("U.F" + std::to_string(i));
  for (const auto& n : names) TracePush(n.c_str());
  EXPECT_EQ(TraceDepth(), 256);
  const std::string path = TraceCallPath();
  EXPECT_EQ(path.substr(0, 9), "U.F0:U.F1");
  EXPECT_NE(path.find("U.F255"), std::string::npos);
  EXPECT_EQ(path.find("U.F256"), std::string::npos);
}

// A routine that fails with a foreign exception records no ErrSet (which
// would empty the stack), so each frame must pop its own name.
TEST_F(TraceTest, FailingRoutinesPopTheirNames) {
  try {
    Monitored("Test.A", [] {
      Monitored("Test.B", [] { throw std::runtime_error("boom"); });
    });
  } catch (const EMon&) {
  }
  EXPECT_EQ(TraceDepth(), 0);
  const auto lines = Lines();
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(lines[5].substr(0, 14), "!3:2147483647;");
  EXPECT_EQ(lines[6], "@Test.A:Test.B;0");
}

TEST(TraceOff, ErrorsStillChangeThePairAndWriteNothing) {
  TestUtil::TempDir dir;
  TraceSetFile(dir.File("trace.txt"));
  TracePush("Test.A");
  EXPECT_EQ(TraceDepth(), 0);
  ErrSet(6, 1, 1);
  EXPECT_EQ(ErrClass(), 6);
  EXPECT_FALSE(Basic::FileExists(dir.File("trace.txt")));
}

TEST(TraceFormat, OsAndCpuLinesFollowThePlatformRules) {
  EXPECT_EQ(FormatOsLine(2, 5, 1, 2600), "OS: Win NT or compatible v5.1 - build 2600");
  EXPECT_EQ(FormatOsLine(1, 4, 10, 2222), "OS: Win 98SE v4.10 - build 2222");
  EXPECT_EQ(FormatOsLine(1, 4, 0, 0x040003B6u), "OS: Win 95 v4.0 - build 67109814");
  EXPECT_EQ(FormatOsLine(0, 3, 1, 0), "OS: Win 3.1 with Win32s v3.1 - build 0");
  EXPECT_EQ(FormatOsLine(-1, 6, 1, 0), "OS: N/A v6.1 - build 0");
  EXPECT_EQ(FormatCpuLine(6, 8), "CPU: i686, processors: 8");
  EXPECT_EQ(FormatCpuLine(3, 1), "CPU: i386, processors: 1");
  EXPECT_EQ(FormatCpuLine(25, 4), "CPU: N/A, processors: 4");
}

TEST(TraceUnload, HangingFramesAreReported) {
  TestUtil::TempDir dir;
  TraceSetFile(dir.File("trace.txt"));
  TraceStart("QOR 2.8.0");
  MonEnter();
  MonEnter();
  ErrorsFinalize();
  const auto lines = TestUtil::ReadLines(dir.File("trace.txt"));
  EXPECT_EQ(lines.back(), "#Monitoring failure: 2 hanging processes.");
  MonLeave();
  MonLeave();
  TraceStop();
}

}  // namespace
