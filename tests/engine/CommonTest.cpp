#include <gtest/gtest.h>

#include <stdexcept>

#include "engine/Common.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "foundation/Translator.h"
#include "support/TestUtil.h"

using namespace Common;

namespace {

// A trace file of its own in a fresh folder, removed afterwards.
class TraceDir {
 public:
  TraceDir() : path(dir.path() + "/trace.txt") {
    Errors::TraceSetFile(path);
    Errors::TraceStart("TEST");
  }
  ~TraceDir() { Errors::TraceStop(); }
  TestUtil::TempDir dir;
  std::string path;
};

void ExpectRecord(int32_t code, int32_t cls, int32_t num) {
  EXPECT_EQ(LastError().code, code);
  EXPECT_EQ(LastError().errClass, cls);
  EXPECT_EQ(LastError().errNum, num);
}

}  // namespace

TEST(CommonPrinters, Values) {
  EXPECT_EQ(IntToStrAuto(Basic::K_AUTO), "K_AUTO");
  EXPECT_EQ(IntToStrAuto(-1), "4294967295");
  EXPECT_EQ(IntToStrAuto(42), "42");
  EXPECT_EQ(FloatToStrAuto(-1357902468.0), "K_AUTO");
  EXPECT_EQ(FloatToStrAuto(-1357902468.00005), "K_AUTO");
  EXPECT_EQ(FloatToStrAuto(-1357902468.001), "-1357902468.00");
  EXPECT_EQ(FloatToStrAuto(29.97002997002997), "29.97");
  EXPECT_EQ(FloatToStrAuto(-2.5), "-2.50");
  EXPECT_EQ(BoolToStrLog(true), "TRUE");
  EXPECT_EQ(BoolToStrLog(false), "FALSE");
  EXPECT_EQ(PtrToStrLog(nullptr), "NULL");
  EXPECT_EQ(PtrToStrLog(reinterpret_cast<void*>(static_cast<intptr_t>(Basic::K_AUTO))),
            "K_AUTO");
  EXPECT_EQ(PtrToStrLog(reinterpret_cast<void*>(uintptr_t{static_cast<uint32_t>(Basic::K_AUTO)})), "K_AUTO");
  EXPECT_EQ(PtrToStrLog(reinterpret_cast<void*>(uintptr_t{0x1234})), "4660");
  EXPECT_EQ(RGBToStrLog(0x00FF8001u), "R(1) G(128) B(255)");
}

TEST(CommonStatus, TextsOfEveryCode) {
  Translator::TranInit();
  EXPECT_EQ(StatusText({0, 0, 0}), "Finished successfully.");
  EXPECT_EQ(StatusText({1, 0, 0}), "Invalid output file.");
  EXPECT_EQ(StatusText({2, 0, 0}), "Operation aborted by user.");
  EXPECT_EQ(StatusText({3, 0, 0}), "Unknown error.");
  EXPECT_EQ(StatusText({999, 0, 0}), "Unknown error.");
  EXPECT_EQ(StatusText({12345, 0, 0}), "Unknown error.");
  Basic::SetLastFileName("/data/in.bmp");
  EXPECT_EQ(StatusText({1000, 6, 1}), "Cannot open file: /data/in.bmp");
  EXPECT_EQ(StatusText({1000, 4, 3}), "Invalid variable type.");
  // Fixed texts pass through the translator, error texts never do.
  Translator::TranSet("Unknown error.", "Erreur inconnue.");
  Translator::TranSet("Invalid variable type.", "zzz");
  EXPECT_EQ(StatusText({999, 0, 0}), "Erreur inconnue.");
  EXPECT_EQ(StatusText({1000, 4, 3}), "Invalid variable type.");
  Translator::TranFree();
}

TEST(CommonFrame, SuccessClearsTheRecord) {
  LastError() = {1000, 6, 1};
  const int r = ExportFrame("QorMain.QorTest", -7, [] { return 5; });
  EXPECT_EQ(r, 5);
  ExpectRecord(0, 0, 0);
}

TEST(CommonFrame, LibraryErrorGives1000) {
  const int r = ExportFrame("QorMain.QorTest", -7, [] {
    Errors::Monitored("Test.Fail", [] { Errors::ErrSet(6, 1, __LINE__); });
    return 5;
  });
  EXPECT_EQ(r, -7);
  ExpectRecord(1000, 6, 1);
  EXPECT_EQ(Errors::MonDepth(), 0);
}

TEST(CommonFrame, ForeignExceptionGives999) {
  TraceDir trace;
  SetCallLog(true);
  const int depth = Errors::TraceDepth();
  const int r = ExportFrame("QorMain.QorTest", -7, []() -> int {
    throw std::runtime_error("boom");
  });
  SetCallLog(false);
  EXPECT_EQ(r, -7);
  ExpectRecord(999, 0, 0);
  EXPECT_EQ(Errors::TraceDepth(), depth);
  const std::string log = TestUtil::ReadText(trace.path);
  EXPECT_NE(log.find("#QorTest\r\n"), std::string::npos);
  EXPECT_NE(log.find("#ERROR IN: QorMain.QorTest\r\n"), std::string::npos);
  EXPECT_NE(log.find("#MESSAGE: std::runtime_error: boom\r\n"), std::string::npos);
}

TEST(CommonFrame, ForeignExceptionInsideAFrameBecomesALibraryError) {
  // A monitored routine turns a foreign exception into its own error pair.
  ExportFrameVoid("QorMain.QorTest", [] {
    Errors::Monitored("Test.Throw", [] { throw std::logic_error("bad"); });
  });
  ExpectRecord(1000, Errors::kClsException, Errors::kTextCode);
}

TEST(CommonFrame, PendingPairFromAnEarlierCall) {
  Errors::ErrSet(6, 1, __LINE__);  // outside any frame: only recorded
  ExportFrameVoid("QorMain.QorTest", [] {});
  ExpectRecord(1000, 6, 1);
  // A body that enters a frame clears it.
  ExportFrameVoid("QorMain.QorTest",
                  [] { Errors::Monitored("Test.Ok", [] {}); });
  ExpectRecord(0, 0, 0);
}

TEST(CommonFrame, ErrorOutsideAnyFrameStillGives1000) {
  const int r = ExportFrame("QorMain.QorTest", 0, [] {
    Errors::ErrSet(4, 2, __LINE__);
    return 3;
  });
  EXPECT_EQ(r, 3);
  ExpectRecord(1000, 4, 2);
  Errors::ErrClear();
}

TEST(CommonFrame, OwnStatusCodesSurviveUnlessAnErrorIsPending) {
  ExportFrameVoid("QorMain.QorTest", [] { SetStatus(kStatusAborted); });
  ExpectRecord(2, 0, 0);
  ExportFrameVoid("QorMain.QorTest", [] {
    SetStatus(kStatusInvalidOutput);
    Errors::ErrSet(6, 2, __LINE__);
  });
  ExpectRecord(1000, 6, 2);
  Errors::ErrClear();
}

TEST(CommonFrame, NilArgumentIsAnUnexpectedFailure) {
  const int r = ExportFrame("QorMain.QorTest", 0, [] {
    int* p = nullptr;
    return *Require(p, "mData");
  });
  EXPECT_EQ(r, 0);
  ExpectRecord(999, 0, 0);
}

TEST(CommonFrame, StatusEndKeepsCodeWithoutError) {
  LastError() = {3, 9, 9};
  EXPECT_EQ(StatusEnd(), 3);
  ExpectRecord(3, 0, 0);
  StatusBegin();
  ExpectRecord(0, 0, 0);
}
