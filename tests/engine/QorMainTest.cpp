// The exports called directly, as a host linked against the library would.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "engine/Common.h"
#include "engine/QorMain.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "foundation/MiscProcs.h"
#include "foundation/Translator.h"
#include "platform/base/UiLayer.h"
#include "qor.h"
#include "support/TestUtil.h"

namespace {

class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Translator::TranInit();
    QorMain::QorMainInit();
    ui.echo = false;
    Ui::SetBackend(&ui);
  }
  void TearDown() override {
    Errors::TraceStop();
    Ui::SetBackend(nullptr);
    Translator::TranFree();
  }
  QorLastError Last() {
    QorLastError r{-5, -5, -5};
    QorGetLastError(&r);
    return r;
  }
  std::string ErrorStr(QorLastError rec) {
    char buf[512];
    std::memset(buf, 'X', sizeof buf);
    QorMakeErrorStr(&rec, buf);
    return buf;
  }
  Ui::HeadlessBackend ui;
  TestUtil::TempDir scratch;
  const std::string dir = scratch.path();
};

bool Same(const QorLastError& a, const QorLastError& b) {
  return a.code == b.code && a.errClass == b.errClass && a.errNum == b.errNum;
}

}  // namespace

TEST_F(ExportTest, RecordStartsCleared) {
  const QorLastError r = Last();
  EXPECT_TRUE(Same(r, {0, 0, 0}));
}

TEST_F(ExportTest, GetStatusReadsThePhase) {
  // A record the library handed out: one it did not is refused.
  Common::QorRec* rec = QorMain::_QorAlloc();
  ASSERT_NE(rec, nullptr);
  rec->status = Common::kPhasePalette;
  Common::LastError() = {1000, 6, 1};
  EXPECT_EQ(QorGetStatus(rec), 2);
  EXPECT_TRUE(Same(Last(), {1000, 6, 1}));  // record untouched
  EXPECT_TRUE(Same(Last(), {1000, 6, 1}));  // and reading twice is the same
  rec->status = Common::kPhaseIdle;
  QorMain::_QorFree(rec);
  Common::QorRec untracked{};
  EXPECT_EQ(QorGetStatus(&untracked), 0);
  EXPECT_EQ(Last().code, 999);
}

TEST_F(ExportTest, GetStatusOfNilIsAnException) {
  EXPECT_EQ(QorGetStatus(nullptr), 0);
  EXPECT_TRUE(Same(Last(), {999, 0, 0}));
}

TEST_F(ExportTest, LibraryErrorIsReportedAndKept) {
  // An export that meets nil data ends as an unexpected failure.
  uint8_t out[3];
  QorPixelReorder(nullptr, 24, 0, out, 1);
  EXPECT_TRUE(Same(Last(), {999, 0, 0}));
  Errors::Monitored("Test.Ok", [] {});
  Errors::ErrSet(6, 1, __LINE__);  // a pair left pending outside a frame
  Basic::SetLastFileName("/in/a.bmp");
  uint8_t px[3] = {1, 2, 3};
  QorPixelReorder(px, 24, 0, out, 1);
  const QorLastError r = Last();
  EXPECT_TRUE(Same(r, {1000, 6, 1}));
  EXPECT_EQ(ErrorStr(r), "Cannot open file: /in/a.bmp");
  EXPECT_TRUE(Same(Last(), {1000, 6, 1}));
  Errors::ErrClear();
}

TEST_F(ExportTest, MakeErrorStrTexts) {
  EXPECT_EQ(ErrorStr({0, 0, 0}), "Finished successfully.");
  EXPECT_EQ(ErrorStr({1, 0, 0}), "Invalid output file.");
  EXPECT_EQ(ErrorStr({2, 0, 0}), "Operation aborted by user.");
  EXPECT_EQ(ErrorStr({3, 0, 0}), "Unknown error.");
  EXPECT_EQ(ErrorStr({999, 0, 0}), "Unknown error.");
  EXPECT_EQ(ErrorStr({1000, 5, 1}), "Memory allocation fault.");
  EXPECT_EQ(ErrorStr({1000, 0, 0}), "No errors.");
  EXPECT_TRUE(Same(Last(), {0, 0, 0}));  // the record is only read
  QorLocaleSet("Finished successfully.", "Fertig.");
  EXPECT_EQ(ErrorStr({0, 0, 0}), "Fertig.");
  QorLocaleClear();
  EXPECT_EQ(ErrorStr({0, 0, 0}), "Finished successfully.");
}

TEST_F(ExportTest, MakeErrorStrWithNilArguments) {
  QorLastError rec{0, 0, 0};
  QorMakeErrorStr(&rec, nullptr);
  EXPECT_TRUE(Same(Last(), {999, 0, 0}));
  char buf[16] = "junk";
  QorMakeErrorStr(nullptr, buf);
  EXPECT_STREQ(buf, "");
}

TEST_F(ExportTest, GetLastErrorWithNil) {
  QorGetLastError(nullptr);
  EXPECT_TRUE(Same(Last(), {0, 0, 0}));
}

TEST_F(ExportTest, CheckError) {
  EXPECT_EQ(QorCheckError(), 0);
  for (int32_t code : {1, 2, 3, 999}) {
    Common::LastError() = {code, 0, 0};
    EXPECT_EQ(QorCheckError(), -1);
  }
  EXPECT_TRUE(ui.shown.empty());
  Common::LastError() = {1000, 4, 1};
  EXPECT_EQ(QorCheckError(), -1);
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0].text, "Out of range.");
  EXPECT_EQ(ui.shown[0].caption, "qor_tests");
  EXPECT_EQ(ui.shown[0].icon, Ui::kIconError);
  EXPECT_TRUE(Same(Last(), {1000, 4, 1}));
}

TEST_F(ExportTest, FourCCAndRGB) {
  EXPECT_EQ(QorMakeFourCC("cvid"), 'c' | ('v' << 8) | ('i' << 16) | ('d' << 24));
  EXPECT_EQ(QorMakeFourCC("ab"), 'a' | ('b' << 8) | (' ' << 16) | (' ' << 24));
  EXPECT_EQ(QorMakeFourCC("abcdef"), QorMakeFourCC("abcd"));
  EXPECT_EQ(QorMakeFourCC(""), 0x20202020);
  EXPECT_EQ(QorMakeFourCC(nullptr), 0x20202020);
  EXPECT_EQ(QorRGB(255, 0, 256), 255);
  EXPECT_EQ(QorRGB(1, 2, 3), 0x030201);
  EXPECT_EQ(QorRGB(-1, 0, 0), 0xFF);
  Common::LastError() = {999, 0, 0};
  QorMakeFourCC("x");
  QorRGB(1, 1, 1);
  EXPECT_TRUE(Same(Last(), {999, 0, 0}));  // no status frame
}

TEST_F(ExportTest, PixelReorder) {
  const uint8_t in24[6] = {1, 2, 3, 4, 5, 6};
  uint8_t out[8] = {0};
  QorPixelReorder(in24, 24, 0, out, 2);
  const uint8_t want24[6] = {3, 2, 1, 6, 5, 4};
  EXPECT_EQ(std::memcmp(out, want24, 6), 0);
  EXPECT_EQ(out[6], 0);
  EXPECT_TRUE(Same(Last(), {0, 0, 0}));

  uint8_t px32[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  QorPixelReorder(px32, 32, 0, px32, 2);  // in place
  const uint8_t want32[8] = {3, 2, 1, 4, 7, 6, 5, 8};
  EXPECT_EQ(std::memcmp(px32, want32, 8), 0);

  uint8_t untouched[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  QorPixelReorder(in24, 16, 0, untouched, 2);
  QorPixelReorder(in24, 24, 1, untouched, 2);
  QorPixelReorder(in24, 24, 0, untouched, 0);
  QorPixelReorder(in24, 24, 0, untouched, -4);
  QorPixelReorder(nullptr, 24, 0, nullptr, 0);
  for (uint8_t b : untouched) EXPECT_EQ(b, 9);
  EXPECT_TRUE(Same(Last(), {0, 0, 0}));

  QorPixelReorder(in24, 24, 0, nullptr, 2);
  EXPECT_TRUE(Same(Last(), {999, 0, 0}));
}

TEST_F(ExportTest, LogStartBareNameGoesToTheProgramFolder) {
  const std::string expected = MiscProcs::GetAppDir() + "qor_export_trace.txt";
  QorLogStart("qor_export_trace.txt");
  EXPECT_TRUE(Errors::TraceRunning());
  EXPECT_EQ(Errors::TraceFile(), expected);
  QorLogStop();
  const std::string log = TestUtil::ReadText(expected);
  EXPECT_EQ(log.rfind("QOR 2.8.0\r\nTrace started at ", 0), 0u);
  std::filesystem::remove(expected);
}

TEST_F(ExportTest, CallLogLines) {
  const std::string path = dir + "/log.txt";
  QorLogExtra(1);
  QorLogStart(path.c_str());
  EXPECT_FALSE(Common::CallLogOn());  // starting switches the detail off
  QorLogExtra(7);
  EXPECT_TRUE(Common::CallLogOn());
  uint8_t px[3] = {1, 2, 3};
  QorPixelReorder(px, 24, 0, nullptr, Basic::K_AUTO);
  QorMakeFourCC("cvid");
  QorGetStatus(nullptr);
  QorLastError rec{3, 0, 0};
  char buf[64];
  QorMakeErrorStr(&rec, buf);
  QorGetLastError(&rec);
  QorLogStop();
  EXPECT_FALSE(Common::CallLogOn());
  EXPECT_FALSE(Errors::TraceRunning());
  const std::string log = TestUtil::ReadText(path);
  for (const char* line :
       {"#QorPixelReorder\r\n", "#  inData=", "#  inBpp=24\r\n", "#  inOrg=0\r\n",
        "#  outData=NULL\r\n", "#  numPixels=K_AUTO\r\n", "#QorMakeFourCC\r\n",
        "#  result=1684633187\r\n", "#QorGetStatus\r\n",
        "#ERROR IN: QorMain.QorGetStatus\r\n", "#QorMakeErrorStr\r\n",
        "#  result=Unknown error.\r\n", "#  errStr=Unknown error.\r\n",
        "#QorGetLastError\r\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
  // Nothing more is written once the log is stopped.
  const auto size = log.size();
  QorPixelReorder(px, 24, 0, px, 1);
  EXPECT_EQ(TestUtil::ReadText(path).size(), size);
}

TEST_F(ExportTest, LogStartWithEmptyNameKeepsTheRunningTrace) {
  const std::string path = dir + "/keep.txt";
  QorLogStart(path.c_str());
  QorLogStart("");
  QorLogStart(nullptr);
  EXPECT_TRUE(Errors::TraceRunning());
  EXPECT_EQ(Errors::TraceFile(), path);
  QorLogStop();
  EXPECT_TRUE(std::filesystem::exists(path));  // stopping keeps the file
}

TEST_F(ExportTest, LocaleExports) {
  QorLocaleSet("Open", "Öffnen");
  EXPECT_EQ(Translator::TranGet("Open"), "Öffnen");
  QorLocaleSet("Open", "");
  EXPECT_EQ(Translator::TranGet("Open"), "Open");
  QorLocaleSet("A", "1");
  QorLocaleSet("B", nullptr);  // nil reads as an empty text: nothing added
  EXPECT_EQ(Translator::TranCount(), 1);
  QorLocaleSet(nullptr, "2");  // the empty text is a key like any other
  EXPECT_EQ(Translator::TranGet(""), "2");
  EXPECT_EQ(Translator::TranCount(), 2);
  QorLocaleClear();
  EXPECT_EQ(Translator::TranCount(), 0);
}
