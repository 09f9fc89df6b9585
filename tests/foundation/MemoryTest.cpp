#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "support/TestUtil.h"

using namespace Basic;

namespace {

TEST(TrackedMemory, SlackIsFivePercentRoundedUpToFour) {
  EXPECT_EQ(MemSlackSize(100), 108);  // 105 -> 108
  EXPECT_EQ(MemSlackSize(1), 4);      // 1.05 -> 1 -> 4
  EXPECT_EQ(MemSlackSize(10), 12);    // 10.5 halves to even: 10 -> 12
  EXPECT_EQ(MemSlackSize(30), 32);    // 31.5 halves to even: 32
  EXPECT_EQ(MemSlackSize(50), 52);    // 52.5 halves to even: 52
  EXPECT_EQ(MemSlackSize(0), -1);
  EXPECT_EQ(MemSlackSize(-5), -1);
  EXPECT_EQ(MemSlackSize(int64_t{1} << 31), -1);
}

TEST(TrackedMemory, AllocationIsTrackedAndLabelled) {
  uint8_t* block = nullptr;
  ASSERT_EQ(MemAlloc(block, 100, 1234, kMemPlain, "Unit.Func.var"), kMemOk);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(MemTrackedSize(block), 108);
  EXPECT_EQ(MemTrackedLabel(block), "C:Unit.Func.var:1,234");
  for (int i = 0; i < 108; i++) ASSERT_EQ(block[i], 0);
  EXPECT_TRUE(Errors::ErrNone());
  MemFree(block);
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(MemMark(), 0);
}

TEST(TrackedMemory, EmptyLabelNamesTheHandle) {
  void* a = nullptr;
  void* b = nullptr;
  MemAlloc(a, 8, 7, kMemPlain, "");
  MemAlloc(b, 8, 1000, kMemString, nullptr);
  EXPECT_EQ(MemTrackedLabel(a), "C:Handle #0:7");
  EXPECT_EQ(MemTrackedLabel(b), "S:Handle #1:1,000");
  MemFree(a);
  MemFree(b);
}

TEST(TrackedMemory, SameOwnerGrowsKindNewAddsAnEntry) {
  uint8_t* p = nullptr;
  MemAlloc(p, 10, 1, kMemPlain, "T.grow");
  std::memset(p, 0xAB, 10);
  MemAlloc(p, 1000, 2, kMemPlain, "T.grow");
  EXPECT_EQ(MemMark(), 1);
  EXPECT_EQ(p[9], 0xAB);  // contents kept
  EXPECT_EQ(p[500], 0);   // growth zero-filled
  uint8_t* first = p;
  MemAlloc(p, 10, 3, kMemNew, "T.new");
  EXPECT_EQ(MemMark(), 2);
  EXPECT_NE(p, first);
  EXPECT_TRUE(MemIsTracked(first));
  EXPECT_EQ(MemTrackedLabel(p), "N:T.new:3");
  MemFree(p);
  MemFree(first);
  EXPECT_EQ(MemMark(), 0);
}

TEST(TrackedMemory, InvalidSizesAreTheInvalidRequestError) {
  void* p = nullptr;
  EXPECT_EQ(MemAlloc(p, 0, 1, kMemPlain, "T"), kMemInvalidSize);
  EXPECT_EQ(Errors::ErrClass(), 5);
  EXPECT_EQ(Errors::ErrCode(), 5);
  // Beyond the 32-bit sizes the records carry: refused, never wrapped.
  EXPECT_EQ(MemAlloc(p, int64_t{3} << 30, 1, kMemPlain, "T"), kMemInvalidSize);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(MemMark(), 0);
}

TEST(TrackedMemory, AllocatorFailureKeepsTheOwner) {
  void* p = reinterpret_cast<void*>(0x1);  // stale value: not tracked
  Faults().failAllocAfter = 0;
  EXPECT_EQ(MemAlloc(p, 16, 1, kMemPlain, "T"), kMemObtainFailed);
  EXPECT_EQ(p, reinterpret_cast<void*>(0x1));
  EXPECT_EQ(Errors::ErrCode(), 1);

  p = nullptr;
  MemAlloc(p, 16, 1, kMemPlain, "T");
  void* kept = p;
  Faults().failAllocAfter = 0;
  EXPECT_EQ(MemAlloc(p, 4096, 1, kMemPlain, "T"), kMemGrowFailed);
  EXPECT_EQ(p, kept);
  EXPECT_EQ(MemTrackedSize(p), 20);
  MemFree(p);
}

// With the table full nothing is obtained and the owner stays as it was.
TEST(TrackedMemory, FullTableObtainsNothing) {
  std::vector<void*> owners(kMaxBlocks, nullptr);
  for (auto& o : owners) ASSERT_EQ(MemAlloc(o, 4, 1, kMemPlain, "T.fill"), kMemOk);
  void* extra = nullptr;
  EXPECT_EQ(MemAlloc(extra, 4, 2, kMemPlain, "T.extra"), kMemTableFull);
  EXPECT_EQ(extra, nullptr);
  EXPECT_EQ(Errors::ErrClass(), 5);
  EXPECT_EQ(Errors::ErrCode(), 6);
  EXPECT_EQ(MemMark(), kMaxBlocks);
  MemFreeToMark(0);
  EXPECT_EQ(MemMark(), 0);
}

TEST(TrackedMemory, FreeOfUntrackedDoesNothingAndClearsTheWarning) {
  Errors::WarnSet(5, 4, 1);
  int local = 0;
  void* p = &local;
  MemFree(p);
  EXPECT_EQ(p, &local);
  EXPECT_TRUE(Errors::WarnNone());
  void* nil = nullptr;
  MemFree(nil);
}

TEST(TrackedMemory, FailingFrameFreesWhatItObtainedNewestFirst) {
  void* before = nullptr;
  MemAlloc(before, 4, 1, kMemPlain, "T.before");
  void *a = nullptr, *b = nullptr, *c = nullptr;
  try {
    Errors::Monitored("Test.A", [&] {
      MemAlloc(a, 4, 1, kMemPlain, "T.a");
      MemAlloc(b, 4, 1, kMemPlain, "T.b");
      MemAlloc(c, 4, 1, kMemPlain, "T.c");
      Errors::ErrSet(7, 1, 1);
    });
  } catch (const Errors::EMon&) {
  }
  EXPECT_EQ(MemMark(), 1);
  EXPECT_TRUE(MemIsTracked(before));
  // The owners are left alone: they may belong to routines already left.
  EXPECT_NE(a, nullptr);
  EXPECT_FALSE(MemIsTracked(a));
}

TEST(TrackedMemory, ExchangeSwapsBookkeeping) {
  uint8_t* a = nullptr;
  uint8_t* b = nullptr;
  MemAlloc(a, 10, 1, kMemPlain, "T.a");
  MemAlloc(b, 100, 1, kMemPlain, "T.b");
  uint8_t* oldA = a;
  uint8_t* oldB = b;
  MemXchg(a, b);
  std::swap(a, b);
  EXPECT_EQ(a, oldB);
  EXPECT_EQ(MemTrackedSize(a), 108);
  EXPECT_EQ(MemTrackedSize(b), 12);
  // Growing through each owner now finds its own entry.
  MemAlloc(a, 200, 1, kMemPlain, "T.a");
  EXPECT_EQ(MemMark(), 2);
  MemFree(a);
  MemFree(b);
  (void)oldA;

  uint8_t* tracked = nullptr;
  uint8_t untracked[4];
  uint8_t* u = untracked;
  MemAlloc(tracked, 4, 1, kMemPlain, "T.t");
  EXPECT_THROW(MemXchg(tracked, u), Errors::EMon);
  EXPECT_EQ(Errors::ErrCode(), 2);
  MemFree(tracked);
}

TEST(MemoryUtilities, BytesAndAreas) {
  EXPECT_TRUE(TestFlags(0x10, 0x30));
  EXPECT_FALSE(TestFlags(0x10, 0x20));
  EXPECT_EQ(SwapWordValue(0x1234), 0x3412);
  EXPECT_EQ(SwapLongValue(0x12345678u), 0x78563412u);
  uint16_t w = 0xABCD;
  SwapWord(w);
  EXPECT_EQ(w, 0xCDAB);
  uint32_t l = 0x01020304u;
  SwapLong(l);
  EXPECT_EQ(l, 0x04030201u);

  uint8_t buf[16] = {};
  MemFill(0x5A, 11, buf + 1);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(buf[1], 0x5A);
  EXPECT_EQ(buf[11], 0x5A);
  EXPECT_EQ(buf[12], 0);
  MemFill(1, -3, buf);
  EXPECT_EQ(buf[0], 0);

  uint8_t overlap[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  MemMove(5, overlap + 2, overlap);  // destination above the source
  const uint8_t moved[8] = {1, 2, 1, 2, 3, 4, 5, 8};
  EXPECT_EQ(std::memcmp(overlap, moved, 8), 0);

  uint8_t x[3] = {1, 2, 3}, y[3] = {7, 8, 9};
  MemSwap(3, x, y);
  EXPECT_EQ(x[0], 7);
  EXPECT_EQ(y[2], 3);

  const uint8_t p[3] = {1, 2, 3}, q[3] = {1, 2, 200};
  EXPECT_EQ(MemCompare(3, p, q), 1);
  EXPECT_EQ(MemCompare(3, q, p), 2);
  EXPECT_EQ(MemCompare(2, p, q), 0);
  EXPECT_EQ(MemCompare(0, p, q), 0);
}

// The unload report lists what is left, newest first, then frees it. It
// runs in a child process: it empties the process-wide tables.
TEST(TrackedMemory, UnloadReportListsBlocksAndFiles) {
  TestUtil::TempDir dir;
  const std::string trace = dir.File("trace.txt");
  const std::string openFile = dir.File("left open.dat");
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    Errors::TraceSetFile(trace);
    Errors::TraceStart("QOR 2.8.0");
    void* a = nullptr;
    void* b = nullptr;
    MemAlloc(a, 100, 10, kMemPlain, "Test.Unit.first");
    MemAlloc(b, 2000, 2345, kMemPlain, "Test.Unit.second");
    int32_t h;
    FOpen(h, openFile, kOpenCreate);
    BasicFinalize();
    _exit(MemMark() == 0 && FileMark() == 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const auto lines = TestUtil::ReadLines(trace);
  ASSERT_EQ(lines.size(), 5u + 6);
  EXPECT_EQ(lines[5], "#Max. allocated memory handles: 2");
  EXPECT_EQ(lines[6], "#Memory handles not freed:");
  EXPECT_EQ(lines[7], "#  C:Test.Unit.second:2,345:2,100 bytes");
  EXPECT_EQ(lines[8], "#  C:Test.Unit.first:10:108 bytes");
  EXPECT_EQ(lines[9], "#Files not closed: 1");
  EXPECT_EQ(lines[10], "#  " + openFile);
}

}  // namespace
