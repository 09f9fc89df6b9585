// Several host threads calling the library at once: stills loaded,
// processed and saved on four threads, a conversion on a fifth watched and
// stopped from a sixth, and each thread's own last-error record.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <iostream>
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

// A long stretch inside the library: from its fourth block the conversion's
// source callback calls exports in a loop until the other thread has had its
// answers (`released`), or a deadline passes (the answers waited for it).
struct LongExport {
  std::function<void()> call;  // one export, called over and over
  std::atomic<bool> inside{false}, released{false};
  bool releasedInside = false;
};
LongExport* g_long = nullptr;

void QOR_CALL StallingSource(QorHandle h, int32_t blockNum) {
  if (blockNum == 3 && g_long) {
    g_long->inside = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!g_long->released.load() && std::chrono::steady_clock::now() < deadline)
      g_long->call();
    g_long->releasedInside = g_long->released.load();
  }
  if (blockNum >= 6) {
    QOR_GET(QorSrcFinished)(h);
    return;
  }
  EndlessSource(h, blockNum);
}

// A handle converting StallingSource's frames into an AVI in `dir`.
QorHandle StallingConversion(const ScratchDir& dir) {
  QorHandle h = QOR_GET(QorAlloc)();
  if (!h) return h;
  QOR_GET(QorSetOutputFile)(h, dir.File("movie.avi").c_str(), "");
  QOR_GET(QorSetResolution)(h, kSide, kSide);
  QOR_GET(QorAssignVideoSource)(h, StallingSource);
  return h;
}

// Runs a conversion of `h` (whose source is StallingSource) on its own
// thread and `answers` on this one once the conversion is inside its long
// stretch.
int32_t ConvertWhile(QorHandle h, LongExport* stretch, const std::function<void()>& answers) {
  g_long = stretch;
  int32_t result = -1;
  std::thread converting([&] { result = QOR_GET(QorConvert)(h); });
  while (!stretch->inside.load()) std::this_thread::yield();
  answers();
  stretch->released = true;
  converting.join();
  g_long = nullptr;
  return result;
}

double MedianMicroseconds(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

template <class Call>
double Microseconds(Call&& call) {
  const auto t0 = std::chrono::steady_clock::now();
  call();
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
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

// While the converting thread holds the library in a long export, another
// thread reads the conversion's phase and stops it: every answer comes back
// before that export ends (the medians go to the log), the phase is the
// writing pass, and the stop takes effect once the export is over.
TEST(HostThreads, StatusAndAbortOfARunningConversionDoNotWaitForTheLibrary) {
  ScratchDir dir;
  QorHandle h = StallingConversion(dir);
  ASSERT_NE(h, nullptr);
  LongExport stretch;
  stretch.call = [] { QOR_GET(QorRGB)(1, 2, 3); };
  std::vector<double> statusTimes, abortTimes;
  std::vector<int32_t> phases;
  QorLastError abortRecord{-1, -1, -1};
  const int32_t result = ConvertWhile(h, &stretch, [&] {
    for (int i = 0; i < 201; i++)
      statusTimes.push_back(Microseconds([&] { phases.push_back(QOR_GET(QorGetStatus)(h)); }));
    for (int i = 0; i < 201; i++) abortTimes.push_back(Microseconds([&] { QOR_GET(QorAbort)(h); }));
    abortRecord = LastOnThisThread();
  });
  std::cout << "median QorGetStatus " << MedianMicroseconds(statusTimes) << " us, QorAbort "
            << MedianMicroseconds(abortTimes) << " us, beside a long export\n";
  EXPECT_TRUE(stretch.releasedInside) << "the answers waited for the export";
  EXPECT_EQ(std::count(phases.begin(), phases.end(), 3), static_cast<long>(phases.size()));
  EXPECT_EQ(abortRecord.code, 0);
  EXPECT_EQ(result, 2);
  QOR_GET(QorFree)(h);
}

// A thread's own last error is read while another thread converts and,
// inside that conversion, keeps changing the translations: the record and
// its texts come back at once, the text either translated or not.
TEST(HostThreads, OwnLastErrorIsReadWhileAnotherThreadConvertsAndSetsLocales) {
  ScratchDir dir;
  QorHandle h = StallingConversion(dir);
  ASSERT_NE(h, nullptr);
  // This thread's own outcome: a pixel read from no image (999).
  int32_t r = 0, g = 0, b = 0;
  std::vector<uint8_t> foreign(256, 0);
  QOR_GET(QorImgGetPixelRGB)(foreign.data(), 0, 0, &r, &g, &b);
  ASSERT_EQ(LastOnThisThread().code, 999);
  LongExport stretch;
  int flips = 0;
  stretch.call = [&] {
    // Set and removed again, with other keys that make the table grow and
    // shrink under the readers.
    const bool on = ++flips % 2 == 1;
    QOR_GET(QorLocaleSet)("Unknown error.", on ? "Erreur inconnue." : "");
    for (int k = 0; k < 40; k++)
      QOR_GET(QorLocaleSet)(("key " + std::to_string(k)).c_str(), on ? "value" : "");
  };
  int wrong = 0, rounds = 0;
  const int32_t result = ConvertWhile(h, &stretch, [&] {
    for (; rounds < 300; rounds++) {
      const QorLastError rec = LastOnThisThread();
      wrong += rec.code == 999 && rec.errClass == 0 ? 0 : 1;
      const std::string text = ErrorText(rec);
      wrong += text == "Unknown error." || text == "Erreur inconnue." ? 0 : 1;
      wrong += QOR_GET(QorCheckError)() != 0 ? 0 : 1;
    }
  });
  QOR_GET(QorLocaleSet)("Unknown error.", "");
  EXPECT_TRUE(stretch.releasedInside) << "the reads waited for the conversion";
  EXPECT_GT(flips, 0);
  EXPECT_EQ(rounds, 300);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(result, 0);
  QOR_GET(QorFree)(h);
}

// Two handles converted in turn on one thread: a host thread aborts the
// first handle in a loop, another aborts each conversion of the second once
// as soon as it runs. A stop meant for a conversion that has just ended
// never overwrites the stop of the one that followed: every conversion of
// both handles is stopped.
TEST(HostThreads, TwoThreadsAbortingTwoConversionsInTurnStopEach) {
  ScratchDir dir;
  QorHandle first = QOR_GET(QorAlloc)(), second = QOR_GET(QorAlloc)();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  for (QorHandle h : {first, second}) {
    QOR_GET(QorSetOutputFile)(h, dir.File(h == first ? "a.avi" : "b.avi").c_str(), "");
    QOR_GET(QorSetResolution)(h, kSide, kSide);
    QOR_GET(QorAssignVideoSource)(h, EndlessSource);
  }
  constexpr int kTurns = 40;
  std::atomic<bool> done{false};
  std::atomic<int> secondTurn{0};
  std::vector<int32_t> results;
  std::thread loopAborter([&] {
    while (!done.load()) QOR_GET(QorAbort)(first);
  });
  std::thread onceAborter([&] {
    for (int turn = 1; turn <= kTurns; turn++) {
      while (secondTurn.load() < turn && !done.load()) std::this_thread::yield();
      while (QOR_GET(QorGetStatus)(second) == 0 && !done.load()) std::this_thread::yield();
      QOR_GET(QorAbort)(second);
    }
  });
  for (int turn = 1; turn <= kTurns; turn++) {
    results.push_back(QOR_GET(QorConvert)(first));
    secondTurn = turn;
    results.push_back(QOR_GET(QorConvert)(second));
  }
  done = true;
  loopAborter.join();
  onceAborter.join();
  EXPECT_EQ(std::count(results.begin(), results.end(), 2), 2 * kTurns);
  QOR_GET(QorFree)(first);
  QOR_GET(QorFree)(second);
}
