#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "support/TestUtil.h"

using namespace Basic;
using TestUtil::TempDir;

namespace {

TEST(TrackedFiles, OpeningAMissingFileIsCodeOne) {
  TempDir dir;
  const std::string name = dir.File("missing.bmp");
  int32_t h = 0;
  EXPECT_EQ(FOpen(h, name, 0), 1);
  EXPECT_EQ(h, K_AUTO);
  EXPECT_EQ(Errors::ErrClass(), 6);
  EXPECT_EQ(Errors::ErrCode(), 1);
  EXPECT_EQ(Errors::ErrLastText(), "Cannot open file: " + name);
  EXPECT_EQ(FileMark(), 0);
}

TEST(TrackedFiles, WriteReadSeekAndSizes) {
  TempDir dir;
  const std::string name = dir.File("data.bin");
  int32_t h;
  ASSERT_EQ(FOpen(h, name, kOpenCreate), 0);
  EXPECT_EQ(FWrite(h, "0123456789", 10), 0);
  EXPECT_EQ(FSize(h), 10);
  EXPECT_EQ(FPos(h), 10);
  EXPECT_EQ(FSeek(h, 4), 0);
  char buf[4] = {};
  EXPECT_EQ(FRead(h, buf, 3), 0);
  EXPECT_EQ(std::string(buf, 3), "456");
  FClose(h);
  EXPECT_EQ(FSize(h), K_AUTO);
  EXPECT_EQ(FPos(h), K_AUTO);
  EXPECT_EQ(FSize64(name), 10.0);
  EXPECT_EQ(FSize64(dir.File("nothing")), 0.0);
}

TEST(TrackedFiles, ShortReadIsCodeThree) {
  TempDir dir;
  const std::string name = dir.File("short.bin");
  TestUtil::WriteText(name, std::string(100, 'x'));
  int32_t h;
  ASSERT_EQ(FOpen(h, name, kOpenRead), 0);
  FSeek(h, 60);
  std::vector<char> buf(100);
  EXPECT_EQ(FRead(h, buf.data(), 100), 3);
  EXPECT_EQ(Errors::ErrLastText(), "Cannot read from file.");
  FSeek(h, 60);
  int64_t got = 0;
  EXPECT_FALSE(FReadAvail(h, buf.data(), 100, got));
  EXPECT_EQ(got, 40);
  FClose(h);
}

TEST(TrackedFiles, UnknownHandlesReportFailure) {
  char buf[4];
  EXPECT_EQ(FRead(4711, buf, 4), 3);
  EXPECT_EQ(FWrite(4711, buf, 4), 4);
  EXPECT_EQ(FSeek(4711, 0), 5);
  // Nothing to transfer is no failure.
  EXPECT_EQ(FRead(4711, buf, 0), 0);
  int64_t got = 1;
  EXPECT_FALSE(FReadAvail(4711, buf, 4, got));
  EXPECT_EQ(got, 0);
  FClose(4711);  // does nothing
}

TEST(TrackedFiles, AppendContinuesAndCreateWins) {
  TempDir dir;
  const std::string name = dir.File("ten.bin");
  TestUtil::WriteText(name, "0123456789");
  int32_t h;
  ASSERT_EQ(FOpen(h, name, kOpenAppend), 0);
  EXPECT_EQ(FPos(h), 10);
  FClose(h);
  ASSERT_EQ(FOpen(h, name, kOpenCreate | kOpenAppend), 0);
  EXPECT_EQ(FSize(h), 0);
  FClose(h);
}

TEST(TrackedFiles, AppendNeverCreates) {
  TempDir dir;
  const std::string name = dir.File("absent.txt");
  int32_t h;
  EXPECT_EQ(FOpen(h, name, kOpenAppend), 7);
  EXPECT_EQ(Errors::ErrLastText(), "Cannot append to file: " + name);
  EXPECT_EQ(TXTOpen(h, name, kOpenAppend), 7);
  EXPECT_FALSE(FileExists(name));
}

TEST(TrackedFiles, DirectoriesAreNotFiles) {
  TempDir dir;
  int32_t h;
  EXPECT_EQ(FOpen(h, dir.path(), kOpenRead), 1);
  EXPECT_EQ(FDelete(dir.path()), 6);
}

TEST(TrackedFiles, SixtyFifthOpenFailsAndNumbersAreNotReused) {
  TempDir dir;
  std::vector<int32_t> handles;
  for (int i = 0; i < kMaxFiles; i++) {
    int32_t h;
    ASSERT_EQ(FOpen(h, dir.File("f" + std::to_string(i)), kOpenCreate), 0);
    handles.push_back(h);
  }
  int32_t h;
  EXPECT_EQ(FOpen(h, dir.File("extra"), kOpenCreate), 11);
  EXPECT_EQ(h, K_AUTO);
  EXPECT_FALSE(FileExists(dir.File("extra")));
  FClose(handles[10]);
  ASSERT_EQ(FOpen(h, dir.File("extra"), kOpenCreate), 0);
  EXPECT_EQ(h, handles.back() + 1);
  FCloseToMark(0);
  EXPECT_EQ(FileMark(), 0);
}

TEST(TrackedFiles, DeleteReadOnlyAndMissing) {
  TempDir dir;
  const std::string name = dir.File("ro.txt");
  TestUtil::WriteText(name, "x");
  chmod(name.c_str(), 0444);
  EXPECT_EQ(FDelete(name), 0);
  EXPECT_FALSE(FileExists(name));
  EXPECT_EQ(FDelete(name), 0);
  EXPECT_TRUE(Errors::ErrNone());
}

TEST(TrackedFiles, RenameNeverReplacesAndReportsFailure) {
  TempDir dir;
  const std::string a = dir.File("a"), b = dir.File("b");
  TestUtil::WriteText(a, "first");
  TestUtil::WriteText(b, "second");
  EXPECT_EQ(FRename(a, b), 10);
  EXPECT_EQ(Errors::ErrClass(), 6);
  EXPECT_EQ(Errors::ErrCode(), 10);
  EXPECT_EQ(TestUtil::ReadText(b), "second");
  EXPECT_EQ(FRename(a, dir.File("c")), 0);
  EXPECT_EQ(TestUtil::ReadText(dir.File("c")), "first");
  EXPECT_EQ(FRename(dir.File("gone"), dir.File("d")), 10);
}

TEST(TrackedFiles, StoredNameIsCutOpenedNameIsNot) {
  TempDir dir;
  // A path longer than 255 characters inside a real folder.
  std::string sub = dir.path();
  while (sub.size() < 300) {
    sub += "/" + std::string(60, 'd');
    mkdir(sub.c_str(), 0700);
  }
  const std::string name = sub + "/long.bin";
  int32_t h;
  ASSERT_EQ(FOpen(h, name, kOpenCreate), 0);
  EXPECT_EQ(FWrite(h, "abc", 3), 0);
  FClose(h);
  EXPECT_EQ(TestUtil::ReadText(name), "abc");
}

TEST(TextFiles, LinesEndWithCrLf) {
  TempDir dir;
  const std::string name = dir.File("t.txt");
  int32_t h;
  ASSERT_EQ(TXTOpen(h, name, kOpenCreate), 0);
  EXPECT_EQ(TXTWrite(h, "first"), 0);
  TXTClose(h);
  ASSERT_EQ(TXTOpen(h, name, kOpenAppend), 0);
  EXPECT_EQ(TXTWrite(h, "second"), 0);
  TXTClose(h);
  EXPECT_EQ(TestUtil::ReadText(name), "first\r\nsecond\r\n");
}

TEST(TrackedFiles, OpenFailureInjection) {
  TempDir dir;
  int32_t h;
  Faults().failOpenAfter = 1;
  EXPECT_EQ(FOpen(h, dir.File("one"), kOpenCreate), 0);
  EXPECT_EQ(FOpen(h, dir.File("two"), kOpenCreate), 2);
  EXPECT_EQ(Errors::ErrLastText(), "Cannot create file: " + dir.File("two"));
  EXPECT_EQ(FOpen(h, dir.File("three"), kOpenCreate), 0);
  FCloseToMark(0);
}

TEST(TrackedFiles, DiskFreeReportsTheVolume) {
  int64_t total = -1, free = -1;
  DiskFreeK("/", total, free);
  EXPECT_GT(total, 0);
  EXPECT_GE(free, 0);
  EXPECT_LE(free, total);
  int64_t t2 = -7, f2 = -7;
  DiskFreeK("/no/such/volume", t2, f2);
  EXPECT_EQ(t2, -7);
  EXPECT_EQ(f2, -7);
}

}  // namespace
