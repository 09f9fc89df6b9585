// Several host threads calling the library at once: stills loaded,
// processed and saved on four threads, a conversion on a fifth watched and
// stopped from a sixth, and each thread's own last-error record.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "host/HostMediaFiles.h"
#include "host/HostScratch.h"
#include "qor.h"

namespace {

constexpr int kStillThreads = 4;
constexpr int kRounds = 8;
constexpr int kStillsPerRound = 6;
constexpr int kSide = 16;
// A source that is never stopped ends here, and the test fails.
constexpr int kMaxFrames = 20000;

QorLastError LastOnThisThread() {
  QorLastError rec{-1, -1, -1};
  QOR_GET(QorGetLastError)(&rec);
  return rec;
}

std::string ErrorText(const QorLastError& rec) {
  char text[1024] = {};
  QOR_GET(QorMakeErrorStr)(&rec, text);
  return text;
}

// One worker's round: its own bitmap loaded, resampled, bordered, turned,
// saved as PNG and read back; every step checked. Failures are counted,
// never asserted off the test's thread.
int StillRound(const ScratchDir& dir, int worker, int round) {
  int failures = 0;
  auto expect = [&](bool ok) { failures += ok ? 0 : 1; };
  const int width = 20 + worker * 4, height = 10 + round;
  const std::string in = dir.File("in" + std::to_string(worker) + ".bmp");
  const std::string out = dir.File("out" + std::to_string(worker) + ".png");
  WriteBmp(in, width, height);
  for (int n = 0; n < kStillsPerRound; n++) {
    QorHandle img = QOR_GET(QorImgAlloc)();
    expect(img != nullptr);
    expect(QOR_GET(QorImgLoadSingle)(img, in.c_str(), 0) == 0);
    QOR_GET(QorImgResample)(img, width * 2, height * 2);
    expect(LastOnThisThread().code == 0);
    QOR_GET(QorImgBorder)(img, 1, 2, 3, 4, 0x0000FF);
    QOR_GET(QorImgRotate)(img, 1);
    expect(QOR_GET(QorImgSaveSingle)(img, out.c_str(), K_AUTO) == 0);
    QOR_GET(QorImgFree)(img);

    QorHandle back = QOR_GET(QorImgAlloc)();
    expect(QOR_GET(QorImgLoadSingle)(back, out.c_str(), 0) == 0);
    int32_t w = 0, h = 0, bpp = 0, bytes = 0;
    void* pixels = nullptr;
    void* palette = nullptr;
    QOR_GET(QorImgGetInfo)(back, &w, &h, &bpp, &bytes, &pixels, &palette);
    // Turned by a quarter: the bordered height is the width now.
    expect(w == height * 2 + 6 && h == width * 2 + 4);
    int32_t r = 0, g = 0, b = 0;
    QOR_GET(QorImgGetPixelRGB)(back, 0, 0, &r, &g, &b);
    expect(r == 255 && g == 0 && b == 0);
    QOR_GET(QorImgFree)(back);
  }
  return failures;
}

// The conversion: endless 16 x 16 frames until something stops it.
std::atomic<int> g_framesGiven{0};

void QOR_CALL EndlessSource(QorHandle h, int32_t blockNum) {
  if (blockNum >= kMaxFrames) {
    QOR_GET(QorSrcFinished)(h);
    return;
  }
  std::vector<uint8_t> pixels(kSide * kSide * 3, static_cast<uint8_t>(blockNum));
  QOR_GET(QorSrcSetPixels)(h, pixels.data(), nullptr, kSide, kSide, 24);
  g_framesGiven++;
}

struct ConversionSeen {
  int32_t result = -1;
  int framesGiven = 0;
  std::vector<int32_t> phases;  // each phase read from the watcher, once
  bool sawWriting = false;
  bool abortSent = false;
};

// Waits (a bounded while) for the conversion to write, reading its phase
// from this thread, then stops it from here.
void WatchAndAbort(QorHandle h, ConversionSeen* seen) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    const int32_t phase = QOR_GET(QorGetStatus)(h);
    if (seen->phases.empty() || seen->phases.back() != phase) seen->phases.push_back(phase);
    if (phase == 3 && g_framesGiven.load() >= 5) {
      seen->sawWriting = true;
      break;
    }
    std::this_thread::yield();
  }
  QOR_GET(QorAbort)(h);
  seen->abortSent = true;
}

}  // namespace

// Four threads each loading, processing and saving their own stills while a
// fifth converts and a sixth reads the conversion's phase and aborts it:
// every still comes out right, the conversion returns 2 after writing some
// frames, and the aborting thread's own record says success.
TEST(HostThreads, StillsOnFourThreadsWhileAConversionIsAbortedFromAnother) {
  ScratchDir dir;
  for (int round = 0; round < kRounds; round++) {
    SCOPED_TRACE("round " + std::to_string(round));
    g_framesGiven = 0;
    QorHandle h = QOR_GET(QorAlloc)();
    ASSERT_NE(h, nullptr);
    const std::string movie = dir.File("movie" + std::to_string(round) + ".avi");
    QOR_GET(QorSetOutputFile)(h, movie.c_str(), "");
    QOR_GET(QorSetResolution)(h, kSide, kSide);
    QOR_GET(QorAssignVideoSource)(h, EndlessSource);

    std::latch start(kStillThreads + 2);
    std::vector<int> failures(kStillThreads, 0);
    std::vector<std::thread> threads;
    for (int w = 0; w < kStillThreads; w++)
      threads.emplace_back([&, w] {
        start.arrive_and_wait();
        failures[static_cast<size_t>(w)] = StillRound(dir, w, round);
      });
    ConversionSeen seen;
    QorLastError convertRecord{-1, -1, -1}, abortRecord{-1, -1, -1};
    threads.emplace_back([&] {
      start.arrive_and_wait();
      seen.result = QOR_GET(QorConvert)(h);
      convertRecord = LastOnThisThread();
    });
    threads.emplace_back([&] {
      start.arrive_and_wait();
      WatchAndAbort(h, &seen);
      abortRecord = LastOnThisThread();
    });
    for (std::thread& t : threads) t.join();
    seen.framesGiven = g_framesGiven.load();

    for (int w = 0; w < kStillThreads; w++) EXPECT_EQ(failures[static_cast<size_t>(w)], 0) << "worker " << w;
    EXPECT_TRUE(seen.sawWriting);
    EXPECT_EQ(seen.result, 2);
    EXPECT_EQ(convertRecord.code, 2);
    EXPECT_EQ(abortRecord.code, 0);
    EXPECT_GE(seen.framesGiven, 5);
    EXPECT_LT(seen.framesGiven, kMaxFrames);
    // Phases only move forward: idle or preparing before writing.
    for (size_t i = 1; i < seen.phases.size(); i++) EXPECT_GT(seen.phases[i], seen.phases[i - 1]);
    // The stop kept what was written, and the handle is idle again.
    EXPECT_GT(ReadBytes(movie).size(), 0u);
    EXPECT_EQ(QOR_GET(QorGetStatus)(h), 0);
    QOR_GET(QorFree)(h);
  }
}

// A stop that arrives once the conversion has ended stops nothing: the same
// handle converts again to the end.
TEST(HostThreads, AbortOfAnIdleHandleDoesNotStopItsNextConversion) {
  ScratchDir dir;
  QorHandle h = QOR_GET(QorAlloc)();
  ASSERT_NE(h, nullptr);
  std::thread([h] { QOR_GET(QorAbort)(h); }).join();
  g_framesGiven = 0;
  QOR_GET(QorSetOutputFile)(h, dir.File("frame000.ppm").c_str(), "");
  QOR_GET(QorSetResolution)(h, kSide, kSide);
  QOR_GET(QorAssignVideoSource)(h, [](QorHandle mData, int32_t blockNum) {
    if (blockNum < 3)
      EndlessSource(mData, blockNum);
    else
      QOR_GET(QorSrcFinished)(mData);
  });
  EXPECT_EQ(QOR_GET(QorConvert)(h), 0);
  EXPECT_EQ(g_framesGiven.load(), 3);
  QOR_GET(QorFree)(h);
}

// Each thread reads the outcome of its own last call: a failure on one
// thread is not seen by another, which succeeded in between, nor does the
// file that thread opened change the failing thread's error text; and an error left pending on one thread does
// not turn another thread's quiet call into a failure.
TEST(HostThreads, EachThreadKeepsItsOwnLastError) {
  ScratchDir dir;
  const std::string unwritable = dir.File("no-such-folder/out.bmp");
  const std::string present = dir.File("present.bmp");
  WriteBmp(present, 4, 4);
  std::latch failed(2), succeeded(2);
  QorLastError failing{}, failingAfter{}, failingQuiet{}, passing{}, passingQuiet{};
  std::string failingText;
  std::thread a([&] {
    QorHandle img = QOR_GET(QorImgAlloc)();
    QOR_GET(QorImgSetPixels)(img, 2, 2, 24, nullptr, nullptr);
    QOR_GET(QorImgSaveSingle)(img, unwritable.c_str(), K_AUTO);
    failing = LastOnThisThread();
    failed.arrive_and_wait();
    succeeded.arrive_and_wait();
    failingAfter = LastOnThisThread();
    failingText = ErrorText(failingAfter);
    // A call that sets no error and enters no monitor frame: this thread's
    // pair is still pending.
    uint8_t pixel[3] = {1, 2, 3};
    QOR_GET(QorPixelReorder)(pixel, 16, 0, pixel, 1);
    failingQuiet = LastOnThisThread();
    QOR_GET(QorImgFree)(img);
  });
  std::thread b([&] {
    failed.arrive_and_wait();
    QorHandle img = QOR_GET(QorImgAlloc)();
    QOR_GET(QorImgLoadSingle)(img, present.c_str(), 0);
    passing = LastOnThisThread();
    uint8_t pixel[3] = {1, 2, 3};
    QOR_GET(QorPixelReorder)(pixel, 16, 0, pixel, 1);
    passingQuiet = LastOnThisThread();
    QOR_GET(QorImgFree)(img);
    succeeded.arrive_and_wait();
  });
  a.join();
  b.join();
  EXPECT_EQ(failing.code, 1000);
  EXPECT_NE(failing.errClass, 0);
  EXPECT_EQ(failingAfter.code, failing.code);
  EXPECT_EQ(failingAfter.errClass, failing.errClass);
  EXPECT_EQ(failingAfter.errNum, failing.errNum);
  EXPECT_EQ(failingText, "Cannot create file: " + unwritable);
  EXPECT_EQ(failingQuiet.code, 1000);
  EXPECT_EQ(passing.code, 0);
  EXPECT_EQ(passing.errClass, 0);
  EXPECT_EQ(passingQuiet.code, 0);
}
