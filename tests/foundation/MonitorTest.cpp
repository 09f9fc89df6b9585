#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "support/TestUtil.h"

using namespace Errors;

namespace {

// Runs a routine the way an exported entry does: nothing escapes, and the
// outcome is read from the error pair.
template <class F>
bool RunAsExport(F&& f) {
  try {
    f();
    return true;
  } catch (const EMon&) {
    return false;
  }
}

TEST(MonitorFrames, ErrorInNestedFrameFailsBothAndFreesBoth) {
  std::vector<std::string> order;
  void* before = nullptr;
  Basic::MemAlloc(before, 10, __LINE__, Basic::kMemPlain, "Test.before");
  const int32_t markBefore = Basic::MemMark();
  bool aContinued = false;
  std::string message;

  const bool ok = RunAsExport([&] {
    Monitored("Test.A", [&] {
      MonSetCleanup([&] { order.push_back("A"); });
      void* a1 = nullptr;
      Basic::MemAlloc(a1, 100, __LINE__, Basic::kMemPlain, "Test.A.a1");
      Monitored("Test.B", [&] {
        MonSetCleanup([&] { order.push_back("B"); });
        void* b1 = nullptr;
        void* b2 = nullptr;
        Basic::MemAlloc(b1, 100, __LINE__, Basic::kMemPlain, "Test.B.b1");
        Basic::MemAlloc(b2, 100, __LINE__, Basic::kMemPlain, "Test.B.b2");
        try {
          ErrSet(7, 2, 123);
        } catch (const EMon& e) {
          message = e.what();
          throw;
        }
      });
      aContinued = true;
    });
  });

  EXPECT_FALSE(ok);
  EXPECT_FALSE(aContinued);
  EXPECT_EQ(message, "Invalid image format.");
  EXPECT_EQ(order, (std::vector<std::string>{"B", "A"}));
  EXPECT_EQ(ErrClass(), 7);
  EXPECT_EQ(ErrCode(), 2);
  EXPECT_EQ(Basic::MemMark(), markBefore);
  EXPECT_TRUE(Basic::MemIsTracked(before));
  EXPECT_EQ(MonDepth(), 0);
}

TEST(MonitorFrames, TryNextMakesTheCalleeQuiet) {
  void* a1 = nullptr;
  bool aContinued = false;
  const bool ok = RunAsExport([&] {
    Monitored("Test.A", [&] {
      Basic::MemAlloc(a1, 64, __LINE__, Basic::kMemPlain, "Test.A.a1");
      MonTryNext();
      Monitored("Test.B", [&] { ErrSet(7, 2, 1); });
      aContinued = true;
      EXPECT_FALSE(ErrNone());
      EXPECT_EQ(ErrClass(), 7);
      EXPECT_EQ(ErrCode(), 2);
      EXPECT_TRUE(Basic::MemIsTracked(a1));
      // A handles the fallback and carries on: a later success clears it.
      ErrClear();
    });
  });
  EXPECT_TRUE(ok);
  EXPECT_TRUE(aContinued);
  EXPECT_TRUE(Basic::MemIsTracked(a1));
  EXPECT_TRUE(ErrNone());
}

TEST(MonitorFrames, QuietFrameKeepsTheErrorAsState) {
  const bool ok = RunAsExport([&] {
    MonitoredQuiet("Test.Q", [&] { ErrSet(6, 3, 1); });
  });
  EXPECT_TRUE(ok);
  EXPECT_EQ(ErrClass(), 6);
  EXPECT_EQ(ErrCode(), 3);
}

TEST(MonitorFrames, AbortEndsTheRoutineSilently) {
  bool aContinued = false;
  bool bAfterAbort = false;
  const bool ok = RunAsExport([&] {
    Monitored("Test.A", [&] {
      Monitored("Test.B", [&] {
        MonAbort();
        bAfterAbort = true;
      });
      aContinued = true;
      EXPECT_TRUE(ErrNone());
    });
  });
  EXPECT_TRUE(ok);
  EXPECT_TRUE(aContinued);
  EXPECT_FALSE(bAfterAbort);
  EXPECT_TRUE(ErrNone());
}

// After a callee aborted, the caller is not marked failed: its own later
// error still fails it, and a later foreign exception is still reported.
TEST(MonitorFrames, AbortDoesNotPassAFailedMarkToTheCaller) {
  bool ok = RunAsExport([&] {
    Monitored("Test.A", [&] {
      Monitored("Test.B", [] { MonAbort(); });
      ErrSet(8, 4, 1);
    });
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(ErrClass(), 8);
  EXPECT_EQ(ErrCode(), 4);

  ok = RunAsExport([&] {
    Monitored("Test.A", [&] {
      Monitored("Test.B", [] { MonAbort(); });
      throw std::runtime_error("late failure");
    });
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(ErrClass(), 3);
  EXPECT_NE(ErrLastText().find("late failure"), std::string::npos);
}

TEST(MonitorFrames, ForeignExceptionBecomesClassThree) {
  std::vector<std::string> order;
  const bool ok = RunAsExport([&] {
    Monitored("Test.A", [&] {
      MonSetCleanup([&] { order.push_back("A"); });
      Monitored("Test.B", [&] {
        MonSetCleanup([&] { order.push_back("B"); });
        throw std::runtime_error("disk on fire");
      });
    });
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(ErrClass(), 3);
  EXPECT_EQ(ErrCode(), kTextCode);
  const std::string text = ErrText(3, kTextCode);
  EXPECT_NE(text.find("runtime_error"), std::string::npos) << text;
  EXPECT_NE(text.find("disk on fire"), std::string::npos) << text;
  EXPECT_EQ(order, (std::vector<std::string>{"B", "A"}));
}

TEST(MonitorFrames, ExceptionTextIsCutAt1024Characters) {
  RunAsExport([&] {
    Monitored("Test.A",
              [&] { throw std::runtime_error(std::string(5000, 'x')); });
  });
  EXPECT_EQ(ErrLastText().size(), 1024u);
}

// A quiet callee leaves its pair pending; a foreign exception in the caller
// must then fail the caller with that pair instead of ending as a success.
TEST(MonitorFrames, ForeignExceptionWithPendingPairFailsTheFrame) {
  bool outerSawFailure = false;
  const bool ok = RunAsExport([&] {
    Monitored("Test.Outer", [&] {
      try {
        Monitored("Test.A", [&] {
          MonTryNext();
          Monitored("Test.B", [] { ErrSet(6, 3, 1); });
          throw std::logic_error("after fallback");
        });
      } catch (const EMon&) {
        outerSawFailure = true;
        throw;
      }
    });
  });
  EXPECT_FALSE(ok);
  EXPECT_TRUE(outerSawFailure);
  EXPECT_EQ(ErrClass(), 6);
  EXPECT_EQ(ErrCode(), 3);
}

TEST(MonitorFrames, ErrorInAlreadyFailedFrameOnlyRecords) {
  RunAsExport([&] {
    Monitored("Test.A", [&] {
      MonSetCleanup([] {
        // Clean-up runs with the monitor suspended: nothing raises here.
        ErrSet(8, 1, 2);
      });
      ErrSet(7, 4, 1);
    });
  });
  EXPECT_EQ(ErrClass(), 7);
  EXPECT_EQ(ErrCode(), 4);
}

TEST(MonitorFrames, CleanupRunsOnceAndItsExceptionIsSwallowed) {
  int runs = 0;
  RunAsExport([&] {
    Monitored("Test.A", [&] {
      MonSetCleanup([&] {
        runs++;
        throw std::runtime_error("clean-up trouble");
      });
      Monitored("Test.B", [] { ErrSet(7, 9, 1); });
    });
  });
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(ErrClass(), 7);
  EXPECT_EQ(ErrCode(), 9);
}

TEST(MonitorFrames, SuccessfulFrameClearsThePair) {
  ErrSet(6, 1, 1);
  RunAsExport([] { Monitored("Test.A", [] {}); });
  EXPECT_TRUE(ErrNone());
}

TEST(MonitorFrames, FilesOpenedInAFailingFrameAreClosedNewestFirst) {
  TestUtil::TempDir dir;
  int32_t keep = Basic::K_AUTO;
  ASSERT_EQ(Basic::FOpen(keep, dir.File("keep"), Basic::kOpenCreate), 0);
  RunAsExport([&] {
    Monitored("Test.A", [&] {
      int32_t h1, h2;
      Basic::FOpen(h1, dir.File("one"), Basic::kOpenCreate);
      Basic::FOpen(h2, dir.File("two"), Basic::kOpenCreate);
      EXPECT_EQ(Basic::FileMark(), 3);
      ErrSet(6, 4, 1);
    });
  });
  EXPECT_EQ(Basic::FileMark(), 1);
  EXPECT_NE(Basic::FSize(keep), Basic::K_AUTO);
  Basic::FClose(keep);
}

// Releasing an older block or file moves the newest entry into its place in
// the table, below the frame's mark; a failure must still release it.
TEST(MonitorFrames, AFrameThatReleasedOlderEntriesStillReleasesAllItsOwnOnFailure) {
  TestUtil::TempDir dir;
  const int32_t blocks = Basic::MemMark(), files = Basic::FileMark();
  void *old1 = nullptr, *old2 = nullptr, *old3 = nullptr;
  for (void** p : {&old1, &old2, &old3})
    Basic::MemAlloc(*p, 8, __LINE__, Basic::kMemPlain, "Test.old");
  int32_t f1 = Basic::K_AUTO, f2 = Basic::K_AUTO;
  ASSERT_EQ(Basic::FOpen(f1, dir.File("f1"), Basic::kOpenCreate), 0);
  ASSERT_EQ(Basic::FOpen(f2, dir.File("f2"), Basic::kOpenCreate), 0);
  RunAsExport([&] {
    Monitored("Test.A", [&] {
      void *n1 = nullptr, *n2 = nullptr;
      Basic::MemAlloc(n1, 8, __LINE__, Basic::kMemPlain, "Test.new1");
      Basic::MemFree(old1);
      Basic::MemAlloc(n2, 8, __LINE__, Basic::kMemPlain, "Test.new2");
      int32_t h1 = 0, h2 = 0;
      Basic::FOpen(h1, dir.File("n1"), Basic::kOpenCreate);
      Basic::FClose(f1);
      Basic::FOpen(h2, dir.File("n2"), Basic::kOpenCreate);
      ErrSet(6, 4, 1);
    });
  });
  EXPECT_EQ(Basic::MemMark(), blocks + 2);
  EXPECT_TRUE(Basic::MemIsTracked(old2));
  EXPECT_TRUE(Basic::MemIsTracked(old3));
  EXPECT_EQ(Basic::FileMark(), files + 1);
  EXPECT_NE(Basic::FSize(f2), Basic::K_AUTO);
  Basic::FClose(f2);
  Basic::MemFree(old2);
  Basic::MemFree(old3);
}

TEST(MonitorFrames, TwoHundredFiftySixNestedFramesWork) {
  int deepest = 0;
  std::function<void(int)> nest = [&](int level) {
    Monitored("Test.Nest", [&] {
      if (level < 256)
        nest(level + 1);
      else
        deepest = MonDepth();
    });
  };
  EXPECT_TRUE(RunAsExport([&] { nest(1); }));
  EXPECT_EQ(deepest, 256);
  EXPECT_EQ(MonDepth(), 0);
}

TEST(MonitorFramesDeathTest, The257thFrameEndsTheProcess) {
  EXPECT_EXIT(
      {
        for (int i = 0; i < 257; i++) MonEnter();
      },
      testing::ExitedWithCode(1), "Fatal error: internal monitoring overflow.");
}

TEST(MonitorFrames, SuspendedMonitorIgnoresEverything) {
  MonSuspend();
  MonEnter();
  EXPECT_EQ(MonDepth(), 0);
  EXPECT_NO_THROW(MonAbort());
  MonResume();
}

}  // namespace
