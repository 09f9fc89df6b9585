// Conversions driven the way a host drives them: a handle, its callbacks as
// plain C functions, sources handed over block by block through the source
// exports (synthetic pixels and samples), outputs read back from disk.
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/HostLibrary.h"
#include "host/HostMediaFiles.h"
#include "qor.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSide = 16;

// A scratch folder removed with its contents.
class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/qor_hostconv_XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~Scratch() { fs::remove_all(path_); }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<int> SequenceReds(const Scratch& dir, const std::string& base) {
  return SequenceReds(dir.File(base));
}

// What a host scenario's callbacks do; one per test process.
struct Scenario {
  int frames = 0;          // pixel blocks before the video stream finishes
  double sourceFps = 10.0;
  std::vector<std::string> videoFiles;  // file blocks after the pixel blocks
  int fileStart = -1, fileLength = -1, fileDirection = 1;
  std::vector<std::string> audioFiles;  // file blocks instead of samples
  int audioBlocks = 0;     // sample blocks before the audio stream finishes
  int samplesPerBlock = 0;
  int sampleRate = 22050;
  bool silenceBlock = false;  // one half-second silence block first
  int silenceRate = 22050;    // the rate it is given at
  int silenceSamples = 11025;  // its length at that rate
  int errorAnswer = 1;
  int secondErrorAnswer = -1;  // the answer after the first
  bool abortInPalettePass = false;
  bool convertFromProgress = false;
  bool blockCallsFromProgress = false;
  bool badPixelsInCallback = false;
  bool blankAfterFirst = false;  // later pixel blocks without pixels, each 4 wider
  bool paletted = false;  // 8-bit blocks with a palette, the later ones without pixels
  bool pixelsInAudioBlock = false;
  bool dropOddFrames = false;   // the frame callback empties them
  bool refuseSounds = false;    // the audio callback empties every sound
  int imageBlocks = 0;          // blocks given as images and bitmaps
  int skips = 0;                // image block 2 is skipped this often first
  int audioStart = -1, audioLength = -1;  // range of each sample block
  double audioStartTime = -1;             // the range's start in seconds instead
  // seen
  std::vector<int> videoBlocksAsked;
  std::vector<int> frameStatuses;
  std::vector<int> progressStatuses;
  std::vector<std::string> errorPaths;
  int nestedConvertResult = -1;
  int nestedQuickResult = -1;
  QorLastError badPixelsError{};
  QorLastError wrongStreamError{};
};
Scenario* S = nullptr;

int16_t SampleAt(int i) {
  return static_cast<int16_t>(8000.0 * std::sin(i * 2.0 * M_PI * 441.0 / 22050.0));
}

void QOR_CALL VideoSource(QorHandle h, int32_t blockNum) {
  S->videoBlocksAsked.push_back(blockNum);
  if (blockNum < S->frames) {
    // Each frame's red value tells which source frame it is.
    std::vector<uint8_t> pixels(kSide * kSide * 3);
    for (size_t i = 0; i < pixels.size(); i += 3) {
      pixels[i] = 40;                                      // blue
      pixels[i + 1] = static_cast<uint8_t>(i % 200);       // green
      pixels[i + 2] = static_cast<uint8_t>(blockNum * 8);  // red
    }
    if (S->paletted) {
      std::vector<uint8_t> index(kSide * kSide), palette;
      for (size_t i = 0; i < index.size(); i++) index[i] = static_cast<uint8_t>(i * 5);
      for (int e = 0; e < 256; e++) palette.insert(palette.end(), {uint8_t(e), uint8_t(255 - e), 99});
      QOR_GET(QorSrcSetPixels)(h, blockNum == 0 ? index.data() : nullptr, palette.data(), kSide,
                               kSide, 8);
      return;
    }
    if (S->blankAfterFirst && blockNum > 0) {
      QOR_GET(QorSrcSetPixels)(h, nullptr, nullptr, kSide + 4 * (blockNum - 1), kSide, 24);
      return;
    }
    if (S->badPixelsInCallback && blockNum == 0) {
      QOR_GET(QorSrcSetPixels)(h, pixels.data(), nullptr, -kSide, kSide, 24);
      QOR_GET(QorGetLastError)(&S->badPixelsError);
    }
    QOR_GET(QorSrcSetPixels)(h, pixels.data(), nullptr, kSide, kSide, 24);
    QOR_GET(QorSrcSetFrameRate)(h, S->sourceFps);
    return;
  }
  const size_t file = static_cast<size_t>(blockNum - S->frames);
  if (file < S->videoFiles.size()) {
    QOR_GET(QorSrcSetFile)(h, S->videoFiles[file].c_str());
    if (S->fileStart >= 0) QOR_GET(QorSrcSetStart)(h, S->fileStart);
    if (S->fileLength >= 0) QOR_GET(QorSrcSetLen)(h, S->fileLength);
    QOR_GET(QorSrcSetDirection)(h, S->fileDirection);
    return;
  }
  QOR_GET(QorSrcFinished)(h);
}

void QOR_CALL AudioSource(QorHandle h, int32_t blockNum) {
  if (!S->audioFiles.empty()) {
    if (static_cast<size_t>(blockNum) < S->audioFiles.size())
      QOR_GET(QorSrcSetFile)(h, S->audioFiles[static_cast<size_t>(blockNum)].c_str());
    return;
  }
  int32_t block = blockNum;
  if (S->pixelsInAudioBlock && blockNum == 0) {
    const uint8_t pixel[3] = {1, 2, 3};
    QOR_GET(QorSrcSetPixels)(h, pixel, nullptr, 1, 1, 24);
    QOR_GET(QorGetLastError)(&S->wrongStreamError);
  }
  if (S->silenceBlock) {
    if (block == 0) {
      QOR_GET(QorSrcSetSamples)(h, nullptr, S->silenceSamples, S->silenceRate, 1, 16);
      return;
    }
    block--;
  }
  if (block >= S->audioBlocks) return;  // nothing given: the stream ends
  std::vector<int16_t> samples(static_cast<size_t>(S->samplesPerBlock));
  for (int i = 0; i < S->samplesPerBlock; i++)
    samples[static_cast<size_t>(i)] = SampleAt(block * S->samplesPerBlock + i);
  QOR_GET(QorSrcSetSamples)(h, samples.data(), S->samplesPerBlock, S->sampleRate, 1, 16);
  if (S->audioStart >= 0) QOR_GET(QorSrcSetStart)(h, S->audioStart);
  if (S->audioStartTime >= 0) QOR_GET(QorSrcSetStartTime)(h, S->audioStartTime);
  if (S->audioLength >= 0) QOR_GET(QorSrcSetLen)(h, S->audioLength);
}

void QOR_CALL VideoFunc(QorHandle h, QorHandle mImg, int32_t curFrame) {
  S->frameStatuses.push_back(QOR_GET(QorGetStatus)(h));
  // The lent image is emptied, not freed: it is not the host's to free.
  if (S->dropOddFrames && curFrame % 2 == 1) QOR_GET(QorImgSkip)(mImg);
}

void QOR_CALL AudioFunc(QorHandle, QorHandle mSnd, int32_t) {
  if (!S->refuseSounds) return;
  // Emptied by a copy of an empty sound (the lent one cannot be freed).
  QorHandle empty = QOR_GET(QorSndAlloc)();
  QOR_GET(QorSndCopy)(mSnd, empty);
  QOR_GET(QorSndFree)(empty);
}

// Block n as an image (even n) or as a bitmap made from one (odd n), red n.
void QOR_CALL ImageSource(QorHandle h, int32_t blockNum) {
  S->videoBlocksAsked.push_back(blockNum);
  if (blockNum >= S->imageBlocks) {
    QOR_GET(QorSrcFinished)(h);
    return;
  }
  if (blockNum == 2 && S->skips > 0) {
    S->skips--;
    QOR_GET(QorSrcSkip)(h);
    return;
  }
  std::vector<uint8_t> pixels(kSide * kSide * 3, 0);
  for (size_t i = 0; i < pixels.size(); i += 3) pixels[i + 2] = static_cast<uint8_t>(blockNum * 8);
  QorHandle image = QOR_GET(QorImgAlloc)();
  QOR_GET(QorImgSetPixels)(image, kSide, kSide, 24, pixels.data(), nullptr);
  if (blockNum % 2 == 0) {
    QOR_GET(QorSrcSetImg)(h, image);
  } else {
    QorHandle dib = QOR_GET(QorImgToDIB)(image);
    QOR_GET(QorSrcSetDIB)(h, dib);
    QOR_GET(QorReleaseDIB)(dib);
  }
  QOR_GET(QorImgFree)(image);
}

void QOR_CALL Progress(QorHandle h, int32_t status, int32_t, int32_t) {
  S->progressStatuses.push_back(status);
  if (S->abortInPalettePass && status == 2) QOR_GET(QorAbort)(h);
  if (S->convertFromProgress && status == 3 && S->nestedConvertResult < 0) {
    S->nestedConvertResult = QOR_GET(QorConvert)(h);
    S->nestedQuickResult = QOR_GET(QorQuickConvert)("/tmp/qor_never.avi", "/tmp/*.gif", "",
                                                     K_AUTO, K_AUTO, 10.0);
  }
  if (S->blockCallsFromProgress) {
    // No source callback runs: these change nothing.
    QOR_GET(QorSrcSetFrameRate)(h, 1.0);
    QOR_GET(QorSrcSetLen)(h, 0);
    QOR_GET(QorSrcFinished)(h);
  }
}

void QOR_CALL ErrorAnswer(QorHandle, const char* path, int32_t* action) {
  QorLastError rec{};
  QOR_GET(QorGetLastError)(&rec);
  EXPECT_EQ(rec.code, 1000);
  EXPECT_EQ(*action, 1);
  S->errorPaths.push_back(path);
  *action = (S->errorPaths.size() > 1 && S->secondErrorAnswer >= 0)
                ? S->secondErrorAnswer
                : S->errorAnswer;
}

// A conversion handle with the scenario's callbacks.
class Conversion {
 public:
  explicit Conversion(Scenario* scenario) {
    S = scenario;
    h_ = QOR_GET(QorAlloc)();
  }
  ~Conversion() {
    QOR_GET(QorFree)(h_);
    S = nullptr;
  }
  QorHandle h() const { return h_; }
  Conversion& Video() {
    QOR_GET(QorAssignVideoSource)(h_, VideoSource);
    QOR_GET(QorAssignVideoFunc)(h_, VideoFunc);
    return *this;
  }
  Conversion& Audio() {
    QOR_GET(QorAssignAudioSource)(h_, AudioSource);
    QOR_GET(QorAssignAudioFunc)(h_, AudioFunc);
    return *this;
  }
  Conversion& Watch() {
    QOR_GET(QorAssignProgress)(h_, Progress);
    return *this;
  }
  Conversion& Errors() {
    QOR_GET(QorAssignError)(h_, ErrorAnswer);
    return *this;
  }
  Conversion& Output(const std::string& vid, const std::string& aud, double fps) {
    QOR_GET(QorSetOutputFile)(h_, vid.c_str(), aud.c_str());
    QOR_GET(QorSetFrameRate)(h_, fps);
    return *this;
  }
  int32_t Run() { return QOR_GET(QorConvert)(h_); }

 private:
  QorHandle h_ = nullptr;
};

QorLastError Last() {
  QorLastError rec{-1, -1, -1};
  QOR_GET(QorGetLastError)(&rec);
  return rec;
}

QorFileInfo Info(const std::string& name) {
  QorFileInfo info{};
  QOR_GET(QorGetFileInfo)(name.c_str(), 0, &info, nullptr, nullptr);
  return info;
}

// The samples of a 16-bit PCM WAV file and its format.
struct Wav {
  int rate = 0, channels = 0, bits = 0;
  std::vector<int16_t> samples;
};

Wav ReadWav(const std::string& path) {
  const std::vector<uint8_t> b = ReadAll(path);
  Wav wav;
  auto u32 = [&](size_t at) {
    return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24);
  };
  for (size_t at = 12; at + 8 <= b.size();) {
    const uint32_t size = u32(at + 4);
    if (std::memcmp(&b[at], "fmt ", 4) == 0) {
      wav.channels = b[at + 10] | b[at + 11] << 8;
      wav.rate = static_cast<int>(u32(at + 12));
      wav.bits = b[at + 22] | b[at + 23] << 8;
    } else if (std::memcmp(&b[at], "data", 4) == 0 && wav.bits == 16) {
      const size_t n = std::min<size_t>(size, b.size() - at - 8) / 2;
      wav.samples.resize(n);
      std::memcpy(wav.samples.data(), &b[at + 8], n * 2);
    }
    at += 8 + size + (size & 1);
  }
  return wav;
}

}  // namespace

// Frame-rate conversion: keep duration repeats or skips source frames by
// the rate ratio; without it every source frame is written once.
TEST(HostConvert, FrameRateSteps) {
  Scratch dir;
  {
    Scenario s;
    s.frames = 6;
    Conversion c(&s);
    c.Video().Output(dir.File("up000.ppm"), "", 30.0);
    EXPECT_EQ(c.Run(), 0);
  }
  EXPECT_EQ(SequenceReds(dir, "up"), (std::vector<int>{0, 8, 16, 24, 32, 40}));
  {
    Scenario s;
    s.frames = 4;
    Conversion c(&s);
    c.Video().Output(dir.File("keep000.ppm"), "", 30.0);
    QOR_GET(QorSetKeepDuration)(c.h(), -1);
    EXPECT_EQ(c.Run(), 0);
  }
  EXPECT_EQ(SequenceReds(dir, "keep"),
            (std::vector<int>{0, 0, 0, 8, 8, 8, 16, 16, 16, 24, 24, 24}));
  {
    Scenario s;
    s.frames = 12;
    s.sourceFps = 40.0;
    Conversion c(&s);
    c.Video().Output(dir.File("down000.ppm"), "", 10.0);
    QOR_GET(QorSetKeepDuration)(c.h(), -1);
    EXPECT_EQ(c.Run(), 0);
  }
  // Source frames 1, 5 and 9.
  EXPECT_EQ(SequenceReds(dir, "down"), (std::vector<int>{0, 32, 64}));
}

// A 20-frame movie made from pixels is read back as a file block: start 5
// length 100 takes frames 5 to 20, length 3 frames 5 to 7, direction -1 the
// same frames backwards.
TEST(HostConvert, FileBlockRangeAndDirection) {
  Scratch dir;
  const std::string movie = dir.File("twenty.kwb");
  {
    Scenario s;
    s.frames = 20;
    Conversion c(&s);
    c.Video().Output(movie, "", 10.0);
    ASSERT_EQ(c.Run(), 0);
  }
  const QorFileInfo info = Info(movie);
  EXPECT_EQ(info.frameCount, 20);
  EXPECT_NEAR(info.fps, 10.0, 1e-6);
  for (const int length : {100, 3}) {
    std::vector<int> forward, backward;
    for (int frame = 5; frame <= std::min(20, 4 + length); frame++)
      forward.push_back((frame - 1) * 8);
    backward.assign(forward.rbegin(), forward.rend());
    for (int direction : {1, -1}) {
      Scenario s;
      s.videoFiles = {movie};
      s.fileStart = 4;  // the fifth frame
      s.fileLength = length;
      s.fileDirection = direction;
      Conversion c(&s);
      const std::string base =
          std::string(direction == 1 ? "fwd" : "back") + (length == 3 ? "short" : "long");
      c.Video().Output(dir.File(base + "000.ppm"), "", 10.0);
      EXPECT_EQ(c.Run(), 0);
      EXPECT_EQ(SequenceReds(dir, base), direction == 1 ? forward : backward) << base;
    }
  }
}

// Sound only: sample blocks after a half-second silence block, written in
// the output's own format; the silence leaves that format alone.
TEST(HostConvert, AudioOnlyWithSilence) {
  Scratch dir;
  Scenario s;
  s.audioBlocks = 3;
  s.samplesPerBlock = 5000;
  s.silenceBlock = true;
  s.pixelsInAudioBlock = true;
  Conversion c(&s);
  c.Audio().Watch().Output("", dir.File("sound.wav"), 30.0);
  QOR_GET(QorSetAudioFormat)(c.h(), 22050, 1, 16);
  EXPECT_EQ(c.Run(), 0);
  const Wav wav = ReadWav(dir.File("sound.wav"));
  EXPECT_EQ(wav.rate, 22050);
  EXPECT_EQ(wav.channels, 1);
  EXPECT_EQ(wav.bits, 16);
  ASSERT_EQ(wav.samples.size(), 11025u + 15000u);
  for (size_t i = 0; i < 11025; i++) ASSERT_EQ(wav.samples[i], 0) << i;
  for (int i = 0; i < 15000; i++)
    ASSERT_EQ(wav.samples[11025 + static_cast<size_t>(i)], SampleAt(i)) << i;
  EXPECT_EQ(s.progressStatuses.front(), 1);
  EXPECT_EQ(s.progressStatuses.back(), 0);
  // A picture offered as a sound block is refused.
  EXPECT_EQ(s.wrongStreamError.code, 1000);
  EXPECT_EQ(s.wrongStreamError.errClass, 4);
}

// Without samples and without a rate, a silence block lasts one second;
// no samples at a rate add no time.
TEST(HostConvert, SilenceWithoutARateLastsOneSecond) {
  Scratch dir;
  for (int rate : {0, -8000}) {
    Scenario s;
    s.silenceBlock = true;
    s.silenceRate = rate;
    Conversion c(&s);
    const std::string out = dir.File("second" + std::to_string(rate) + ".wav");
    c.Audio().Output("", out, 30.0);
    QOR_GET(QorSetAudioFormat)(c.h(), 22050, 1, 16);
    EXPECT_EQ(c.Run(), 0);
    EXPECT_EQ(ReadWav(out).samples, std::vector<int16_t>(22050, 0)) << rate;
  }
  Scenario s;
  s.silenceBlock = true;
  s.silenceSamples = 0;
  s.audioBlocks = 1;
  s.samplesPerBlock = 500;
  Conversion c(&s);
  c.Audio().Output("", dir.File("none.wav"), 30.0);
  QOR_GET(QorSetAudioFormat)(c.h(), 22050, 1, 16);
  EXPECT_EQ(c.Run(), 0);
  const std::vector<int16_t> samples = ReadWav(dir.File("none.wav")).samples;
  ASSERT_EQ(samples.size(), 500u);
  EXPECT_EQ(samples[1], SampleAt(1));
}

// Pixel blocks without pixels are black pictures; a fresh handle writes
// the first frame's own size (the third block, 4 wider, is brought to it).
// 8-bit blocks take the host's palette, also without pixels (index 0).
// Blocks that set no frame rate run at the conversion's: one picture each,
// also where the duration is kept.
TEST(HostConvert, PixelBlocksWithoutPixelsAreBlack) {
  Scratch dir;
  Scenario s;
  s.frames = 12;
  s.blankAfterFirst = true;
  Conversion c(&s);
  c.Video().Output(dir.File("blank000.ppm"), "", 10.0);
  QOR_GET(QorSetKeepDuration)(c.h(), -1);
  EXPECT_EQ(c.Run(), 0);
  const std::string header =
      "P6\n" + std::to_string(kSide) + " " + std::to_string(kSide) + "\n255\n";
  std::vector<uint8_t> black(header.begin(), header.end());
  black.resize(header.size() + kSide * kSide * 3, 0);
  EXPECT_EQ(ReadAll(dir.File("blank001.ppm")), black);
  EXPECT_EQ(ReadAll(dir.File("blank002.ppm")), black);
  Scenario p;
  p.frames = 2;
  p.paletted = true;
  Conversion pc(&p);
  pc.Video().Output(dir.File("pal000.ppm"), "", 10.0);
  EXPECT_EQ(pc.Run(), 0);
  std::vector<uint8_t> first(header.begin(), header.end()), second = first;
  for (size_t i = 0; i < kSide * kSide; i++) {
    const uint8_t e = static_cast<uint8_t>(i * 5);
    first.insert(first.end(), {99, uint8_t(255 - e), e});
    second.insert(second.end(), {99, 255, 0});
  }
  EXPECT_EQ(ReadAll(dir.File("pal000.ppm")), first);
  EXPECT_EQ(ReadAll(dir.File("pal001.ppm")), second);
  EXPECT_TRUE(fs::exists(dir.File("blank011.ppm")));
  EXPECT_FALSE(fs::exists(dir.File("blank012.ppm")));
}

// Equal video and audio names make one movie holding both streams.
TEST(HostConvert, InterleavedIntoOneMovie) {
  Scratch dir;
  const std::string movie = dir.File("both.kwb");
  Scenario s;
  s.frames = 20;
  s.audioBlocks = 4;
  s.samplesPerBlock = 11025;  // two seconds at 22050 Hz
  Conversion c(&s);
  c.Video().Audio().Output(movie, movie, 10.0);
  QOR_GET(QorSetAudioFormat)(c.h(), 22050, 1, 16);
  EXPECT_EQ(c.Run(), 0);
  const QorFileInfo info = Info(movie);
  EXPECT_EQ(info.frameCount, 20);
  EXPECT_EQ(info.sampleFrames, 44100);
  EXPECT_NEAR(info.sampleRate, 22050.0, 1e-6);
  EXPECT_FALSE(fs::exists(dir.File("both.wav")));
}

// An 8-bit output runs a palette pass that writes nothing, then the
// writing pass; both ask for the blocks from 0 and see every frame.
TEST(HostConvert, EightBitOutputTwoPasses) {
  Scratch dir;
  const std::string movie = dir.File("pal.kwb");
  Scenario s;
  s.frames = 5;
  Conversion c(&s);
  c.Video().Watch().Output(movie, "", 10.0);
  QOR_GET(QorSetBpp)(c.h(), 8);
  EXPECT_EQ(c.Run(), 0);
  EXPECT_EQ(std::count(s.videoBlocksAsked.begin(), s.videoBlocksAsked.end(), 0), 2);
  EXPECT_EQ(s.frameStatuses, (std::vector<int>{2, 2, 2, 2, 2, 3, 3, 3, 3, 3}));
  EXPECT_EQ(s.progressStatuses.front(), 1);
  EXPECT_NE(std::find(s.progressStatuses.begin(), s.progressStatuses.end(), 2),
            s.progressStatuses.end());
  EXPECT_EQ(s.progressStatuses.back(), 0);
  const QorFileInfo info = Info(movie);
  EXPECT_EQ(info.frameCount, 5);
  EXPECT_EQ(info.bitsPerPixel, 8);
  EXPECT_EQ(QOR_GET(QorGetStatus)(c.h()), 0);
}

TEST(HostConvert, AbortDuringPalettePassWritesNothing) {
  Scratch dir;
  Scenario s;
  s.frames = 5;
  s.abortInPalettePass = true;
  Conversion c(&s);
  c.Video().Watch().Output(dir.File("never.kwb"), "", 10.0);
  QOR_GET(QorSetBpp)(c.h(), 8);
  EXPECT_EQ(c.Run(), 2);
  EXPECT_EQ(Last().code, 2);
  EXPECT_FALSE(fs::exists(dir.File("never.kwb")));
  EXPECT_EQ(std::count(s.frameStatuses.begin(), s.frameStatuses.end(), 3), 0);
  EXPECT_EQ(s.progressStatuses.back(), 0);
}

TEST(HostConvert, NoOutputFormatIsResultOne) {
  Scenario s;
  s.frames = 2;
  Conversion c(&s);
  c.Video().Watch();
  EXPECT_EQ(c.Run(), 1);
  EXPECT_EQ(Last().code, 1);
  EXPECT_EQ(s.progressStatuses, (std::vector<int>{1, 0}));
  EXPECT_TRUE(s.videoBlocksAsked.empty());
}

// A host empties frames to drop them and sounds to refuse them; once the
// pictures are done a refused sound counts as taken, so the conversion ends.
TEST(HostConvert, HostEmptiesFramesAndSounds) {
  Scratch dir;
  const std::string movie = dir.File("sparse.kwb");
  Scenario s;
  s.frames = 10;
  s.dropOddFrames = true;
  s.refuseSounds = true;
  s.audioBlocks = 1;
  s.samplesPerBlock = 66150;  // three seconds
  Conversion c(&s);
  c.Video().Audio().Output(movie, movie, 10.0);
  QOR_GET(QorSetAudioFormat)(c.h(), 22050, 1, 16);
  EXPECT_EQ(c.Run(), 0);
  const QorFileInfo info = Info(movie);
  EXPECT_EQ(info.frameCount, 5);
  EXPECT_EQ(info.sampleFrames, 0);
}

// Images and bitmaps made by the image exports serve as blocks.
TEST(HostConvert, ImagesAndBitmapsAsBlocks) {
  Scratch dir;
  Scenario s;
  s.imageBlocks = 4;
  s.skips = 2;
  Conversion c(&s);
  QOR_GET(QorAssignVideoSource)(c.h(), ImageSource);
  c.Output(dir.File("img000.ppm"), "", 10.0);
  EXPECT_EQ(c.Run(), 0);
  EXPECT_EQ(SequenceReds(dir, "img"), (std::vector<int>{0, 8, 16, 24}));
  // A skipped block number is asked again.
  EXPECT_EQ(s.videoBlocksAsked, (std::vector<int>{0, 1, 2, 2, 2, 3, 4}));
}

// A set size that differs from the source's in one side only is still the
// size written, for a movie and for a still picture.
TEST(HostConvert, SizeDifferingInOneSideIsWritten) {
  Scratch dir;
  struct Case {
    const char* name;
    int frames, width, height;
  };
  for (const Case& k : {Case{"wide.kwb", 3, kSide + 8, kSide}, Case{"tall.kwb", 3, kSide, kSide + 6},
                        Case{"wide.bmp", 1, kSide + 8, kSide}, Case{"tall.bmp", 1, kSide, kSide + 6}}) {
    SCOPED_TRACE(k.name);
    Scenario s;
    s.frames = k.frames;
    Conversion c(&s);
    c.Video().Output(dir.File(k.name), "", 10.0);
    QOR_GET(QorSetResolution)(c.h(), k.width, k.height);
    ASSERT_EQ(c.Run(), 0);
    const QorFileInfo info = Info(dir.File(k.name));
    EXPECT_EQ(info.frameCount, k.frames);
    EXPECT_EQ(info.width, k.width);
    EXPECT_EQ(info.height, k.height);
  }
  // Sides outside 1..16000 are taken at the nearer end; a depth that is not
  // one of the five is ignored.
  Scenario s;
  s.frames = 1;
  Conversion c(&s);
  c.Video().Output(dir.File("thin.bmp"), "", 10.0);
  QOR_GET(QorSetResolution)(c.h(), -5, 16001);
  QOR_GET(QorSetBpp)(c.h(), 8);
  QOR_GET(QorSetBpp)(c.h(), 12);
  ASSERT_EQ(c.Run(), 0);
  const QorFileInfo info = Info(dir.File("thin.bmp"));
  EXPECT_EQ((std::vector<int32_t>{info.width, info.height, info.bitsPerPixel}),
            (std::vector<int32_t>{1, 16000, 8}));
  // With no size set frames keep their own, but a compatible output still
  // brings each to the nearest multiple of 16.
  const std::string odd = dir.File("odd.bmp");
  WriteBmp(odd, 44, 23);
  Scenario s2;
  s2.videoFiles = {odd};
  Conversion c2(&s2);
  c2.Video().Output(dir.File("compat.bmp"), "", 10.0);
  QOR_GET(QorForceCompatibility)(c2.h(), -1);
  ASSERT_EQ(c2.Run(), 0);
  const QorFileInfo compat = Info(dir.File("compat.bmp"));
  EXPECT_EQ((std::vector<int32_t>{compat.width, compat.height}), (std::vector<int32_t>{48, 16}));
}

// Sample blocks count their start from 0: start 4 is the fifth sample. A
// start in seconds is taken at the block's own rate: 2 ms is sample 44.
TEST(HostConvert, SampleBlockRange) {
  Scratch dir;
  Scenario s;
  s.audioBlocks = 2;
  s.samplesPerBlock = 100;
  s.audioStart = 4;
  s.audioLength = 10;
  Scenario timed = s;
  timed.audioStart = -1;
  timed.audioStartTime = 0.002;
  for (auto [scenario, first] : {std::pair{&s, 4}, std::pair{&timed, 44}}) {
    SCOPED_TRACE(first);
    Conversion c(scenario);
    const std::string out = dir.File("from" + std::to_string(first) + ".wav");
    c.Audio().Output("", out, 30.0);
    QOR_GET(QorSetAudioFormat)(c.h(), 22050, 1, 16);
    EXPECT_EQ(c.Run(), 0);
    const Wav wav = ReadWav(out);
    ASSERT_EQ(wav.samples.size(), 20u);
    for (int block = 0; block < 2; block++)
      for (int i = 0; i < 10; i++)
        EXPECT_EQ(wav.samples[static_cast<size_t>(block * 10 + i)],
                  SampleAt(block * 100 + first + i));
  }
}

// A library error inside a pass (the output cannot be created) ends the
// conversion with the error; the clean-up still runs, and the next
// conversion starts from a clean state.
TEST(HostConvert, FailedPassCleansUp) {
  Scratch dir;
  Scenario s;
  s.frames = 3;
  s.audioBlocks = 2;
  s.samplesPerBlock = 1000;
  {
    Conversion c(&s);
    const std::string bad = dir.File("missing/folder/out.kwb");
    c.Video().Audio().Watch().Output(bad, bad, 10.0);
    EXPECT_EQ(c.Run(), 1000);
    const QorLastError last = Last();
    EXPECT_EQ(last.code, 1000);
    EXPECT_NE(last.errClass, 0);
    EXPECT_EQ(QOR_GET(QorGetStatus)(c.h()), 0);
    EXPECT_EQ(s.progressStatuses.back(), 0);
  }
  Scenario again;
  again.frames = 2;
  Conversion c(&again);
  c.Video().Output(dir.File("after000.ppm"), "", 10.0);
  EXPECT_EQ(c.Run(), 0);
  EXPECT_EQ(SequenceReds(dir, "after"), (std::vector<int>{0, 8}));
}

namespace {

// A picture file whose header describes it but whose pixels are cut short:
// described fine, unreadable when its frame is loaded.
std::string WriteTruncatedPicture(const Scratch& dir) {
  const std::string name = dir.File("cut.ppm");
  std::ofstream out(name, std::ios::binary);
  out << "P6\n" << kSide << " " << kSide << "\n255\n";
  out << std::string(kSide * 3, '\x20');
  return name;
}

struct ErrorRun {
  int32_t result = -1;
  QorLastError last{};
  std::vector<int> reds;
  std::vector<std::string> errorPaths;
};

// Pixel block 0, the unreadable file, pixel blocks 1 and 2 (kept as block
// numbers 0, 3, 4: the file sits between them).
ErrorRun RunWithBadFile(const Scratch& dir, const std::string& base,
                        bool withCallback, int answer, int secondAnswer = -1) {
  Scenario s;
  s.frames = 1;
  s.videoFiles = {WriteTruncatedPicture(dir)};
  s.errorAnswer = answer;
  s.secondErrorAnswer = secondAnswer;
  ErrorRun run;
  {
    Conversion c(&s);
    c.Video().Output(dir.File(base + "000.ppm"), "", 10.0);
    if (withCallback) c.Errors();
    run.result = c.Run();
    run.last = Last();
  }
  run.reds = SequenceReds(dir, base);
  run.errorPaths = s.errorPaths;
  return run;
}

}  // namespace

TEST(HostConvert, ErrorAnswers) {
  Scratch dir;
  // A file that was there before the conversion is never deleted.
  { std::ofstream(dir.File("stop005.ppm")) << "user data"; }
  const ErrorRun stopDelete = RunWithBadFile(dir, "stop", true, 1);
  EXPECT_EQ(stopDelete.result, 0);
  EXPECT_TRUE(stopDelete.reds.empty());
  EXPECT_TRUE(fs::exists(dir.File("stop005.ppm")));
  ASSERT_EQ(stopDelete.errorPaths.size(), 1u);
  EXPECT_EQ(stopDelete.errorPaths[0], dir.File("cut.ppm"));

  const ErrorRun stopKeep = RunWithBadFile(dir, "keep", true, 2);
  EXPECT_EQ(stopKeep.result, 0);
  EXPECT_EQ(stopKeep.reds, (std::vector<int>{0}));

  // Retry reads the same frame again; the second answer drops the block.
  const ErrorRun retry = RunWithBadFile(dir, "retry", true, 3, 4);
  EXPECT_EQ(retry.result, 0);
  EXPECT_EQ(retry.errorPaths.size(), 2u);
  EXPECT_EQ(retry.reds, (std::vector<int>{0}));

  const ErrorRun drop = RunWithBadFile(dir, "drop", true, 4);
  EXPECT_EQ(drop.result, 0);
  EXPECT_EQ(drop.reds, (std::vector<int>{0}));
  EXPECT_EQ(drop.last.code, 0);

  // Without an error callback the read error stops the conversion, the
  // outputs are deleted and the error is the result.
  const ErrorRun unanswered = RunWithBadFile(dir, "none", false, 0);
  EXPECT_EQ(unanswered.result, 1000);
  EXPECT_EQ(unanswered.last.code, 1000);
  EXPECT_NE(unanswered.last.errClass, 0);
  EXPECT_NE(unanswered.last.errNum, 0);
  EXPECT_TRUE(unanswered.reds.empty());
}

// Callbacks may call other exports: a nested conversion is refused with
// 999 and the running one goes on; source exports outside a source
// callback change nothing; bad pixel arguments are an error pair.
TEST(HostConvert, CallbacksCallingExports) {
  Scratch dir;
  Scenario s;
  s.frames = 4;
  s.convertFromProgress = true;
  s.blockCallsFromProgress = true;
  s.badPixelsInCallback = true;
  Conversion c(&s);
  c.Video().Watch().Output(dir.File("nest000.ppm"), "", 10.0);
  EXPECT_EQ(c.Run(), 0);
  EXPECT_EQ(s.nestedConvertResult, 999);
  EXPECT_EQ(s.nestedQuickResult, 999);
  EXPECT_EQ(SequenceReds(dir, "nest"), (std::vector<int>{0, 8, 16, 24}));
  EXPECT_EQ(s.badPixelsError.code, 1000);
  EXPECT_EQ(s.badPixelsError.errClass, 7);

  EXPECT_EQ(QOR_GET(QorConvert)(nullptr), 999);
  // After the conversion, and with samples nobody could hold.
  QOR_GET(QorSrcSetLen)(c.h(), 3);
  EXPECT_EQ(Last().code, 0);
  const int16_t one = 0;
  QOR_GET(QorSrcSetSamples)(c.h(), &one, -1, 22050, 1, 16);
  EXPECT_EQ(Last().code, 1000);
  QOR_GET(QorSrcSetSamples)(c.h(), &one, 1, 22050, 0, 16);
  EXPECT_EQ(Last().code, 1000);
  EXPECT_EQ(Last().errClass, 8);
  QOR_GET(QorSrcSetPixels)(c.h(), nullptr, nullptr, 65536, 65536, 32);
  EXPECT_EQ(Last().code, 1000);
  QOR_GET(QorSrcSetPixels)(c.h(), nullptr, nullptr, 4, 4, 12);
  EXPECT_EQ(Last().code, 1000);
}

// ---- real movies, checked by programs we did not write ----------------------

namespace {

bool Have(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Output(const std::string& command) {
  std::string text;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buf[256];
    while (fgets(buf, sizeof buf, pipe)) text += buf;
    pclose(pipe);
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// ffprobe's value of one stream entry ("v:0", "a:0").
std::string Probe(const std::string& file, const std::string& stream,
                  const std::string& entry, bool countFrames = false) {
  return Output("ffprobe -v error " + std::string(countFrames ? "-count_frames " : "") +
                "-select_streams " + stream + " -show_entries stream=" + entry +
                " -of default=nw=1:nk=1 '" + file + "'");
}

double ProbeDuration(const std::string& file, const std::string& stream) {
  const std::string text = Probe(file, stream, "duration");
  return text.empty() || text == "N/A" ? -1.0 : std::stod(text);
}

// Two seconds of 320 x 240 test pattern at 25 frames per second with a
// stereo tone, uncompressed.
std::string MakeSourceMovie(const Scratch& dir) {
  const std::string name = dir.File("source.avi");
  std::system(("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=320x240:rate=25:duration=2 "
               "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 "
               "-c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le -ac 2 '" + name + "'").c_str());
  return name;
}

int32_t ConvertMovie(const std::string& source, const std::string& video,
                     const std::string& audio, double fps,
                     void (*settings)(QorHandle h) = nullptr) {
  Scenario s;
  s.videoFiles = {source};
  s.audioFiles = {source};
  Conversion c(&s);
  c.Video().Audio().Output(video, audio, fps);
  QOR_GET(QorSetAudioFormat)(c.h(), 44100, 2, 16);
  if (settings) settings(c.h());
  return c.Run();
}

}  // namespace

TEST(HostConvertPeers, MovieWithSoundToVcd) {
  if (!Have("ffmpeg") || !Have("ffprobe")) GTEST_SKIP() << "ffmpeg/ffprobe absent";
  Scratch dir;
  const std::string source = MakeSourceMovie(dir);
  const std::string out = dir.File("vcd.mpg");
  ASSERT_EQ(ConvertMovie(source, out, out, 25.0, [](QorHandle h) {
              QOR_GET(QorSetCodec)(h, 11, 1);
              QOR_GET(QorSetResolution)(h, 352, 288);
            }), 0);
  EXPECT_EQ(Probe(out, "v:0", "codec_name"), "mpeg1video");
  EXPECT_EQ(Probe(out, "v:0", "width"), "352");
  EXPECT_EQ(Probe(out, "v:0", "height"), "288");
  EXPECT_EQ(Probe(out, "v:0", "nb_read_frames", true), "50");
  EXPECT_EQ(Probe(out, "a:0", "codec_name"), "mp2");
  EXPECT_EQ(Probe(out, "a:0", "sample_rate"), "44100");
  const std::string audioFrames = Probe(out, "a:0", "nb_read_frames", true);
  ASSERT_FALSE(audioFrames.empty());
  // Layer II frames hold 1152 samples each: two seconds are 77 frames.
  EXPECT_NEAR(std::stoi(audioFrames) * 1152 / 44100.0, 2.0, 0.05);
}

TEST(HostConvertPeers, MovieWithSoundToKwbAndToPicturesAndWav) {
  if (!Have("ffmpeg") || !Have("ffprobe")) GTEST_SKIP() << "ffmpeg/ffprobe absent";
  Scratch dir;
  const std::string source = MakeSourceMovie(dir);
  const std::string kwb = dir.File("movie.kwb");
  ASSERT_EQ(ConvertMovie(source, kwb, kwb, 25.0), 0);
  const QorFileInfo info = Info(kwb);
  EXPECT_EQ(info.frameCount, 50);
  EXPECT_NEAR(info.fps, 25.0, 1e-6);
  EXPECT_EQ(info.sampleFrames, 88200);
  EXPECT_EQ(info.channels, 2);

  ASSERT_EQ(ConvertMovie(source, dir.File("shot000.tga"), dir.File("track.wav"), 25.0), 0);
  EXPECT_TRUE(fs::exists(dir.File("shot049.tga")));
  EXPECT_FALSE(fs::exists(dir.File("shot050.tga")));
  EXPECT_EQ(Probe(dir.File("shot049.tga"), "v:0", "width"), "320");
  if (Have("sox")) {
    EXPECT_EQ(Output("sox --i -s '" + dir.File("track.wav") + "'"), "88200");
    EXPECT_EQ(Output("sox --i -c '" + dir.File("track.wav") + "'"), "2");
  }
  EXPECT_NEAR(ProbeDuration(dir.File("track.wav"), "a:0"), 2.0, 1e-3);
  // The last picture is the source's last frame, pixel for pixel.
  const std::string ref = dir.File("ref.ppm");
  const std::string got = dir.File("got.ppm");
  std::system(("ffmpeg -nostdin -v error -y -i '" + source + "' -vf 'select=eq(n\\,49)' -vframes 1 '" +
               ref + "'").c_str());
  std::system(("ffmpeg -nostdin -v error -y -i '" + dir.File("shot049.tga") + "' '" + got + "'").c_str());
  const std::vector<uint8_t> a = ReadAll(ref), b = ReadAll(got);
  ASSERT_FALSE(a.empty());
  EXPECT_TRUE(a == b);
}

// A GIF animation at 10 frames per second written as a Cinepak AVI at 25,
// keeping its duration: 20 frames become 50.
TEST(HostConvertPeers, GifAnimationToCinepakAvi) {
  if (!Have("ffmpeg") || !Have("ffprobe")) GTEST_SKIP() << "ffmpeg/ffprobe absent";
  Scratch dir;
  const std::string gif = dir.File("anim.gif");
  std::system(("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=160x120:rate=10:duration=2 '" +
               gif + "'").c_str());
  Scenario s;
  s.videoFiles = {gif};
  Conversion c(&s);
  const std::string avi = dir.File("anim.avi");
  c.Video().Output(avi, "", 25.0);
  QOR_GET(QorSetKeepDuration)(c.h(), -1);
  QOR_GET(QorSetCodec)(c.h(), 6, QOR_GET(QorMakeFourCC)("cvid"));
  ASSERT_EQ(c.Run(), 0);
  EXPECT_EQ(Probe(avi, "v:0", "codec_name"), "cinepak");
  EXPECT_EQ(Probe(avi, "v:0", "nb_read_frames", true), "50");
  EXPECT_EQ(Probe(avi, "v:0", "r_frame_rate"), "25/1");
  EXPECT_EQ(Probe(avi, "v:0", "width"), "160");
}

// ---- a disk that fills up ---------------------------------------------------

namespace {

// What the child's conversion writes and how much room it gets.
struct ChildPlan {
  int32_t mpegType = 0;
  int64_t bytes = 0;
};
ChildPlan g_plan;

// What a conversion run in a child process saw.
struct ChildRun {
  std::string skipped;  // why the limit could not be set, when it could not
  int32_t result = -1;
  std::string error;    // the last-error text
  std::string left;     // files left in the output's and the temporary folder
  std::string logged;   // the errors the trace recorded, one a line
};

ChildRun Skipped(const std::string& why) {
  ChildRun run;
  run.skipped = why;
  return run;
}

std::string FilesIn(const std::string& folder) {
  std::string names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) names += e.path().string() + " ";
  return names;
}

std::string LoggedErrors(const std::string& log) {
  std::ifstream in(log);
  std::string line, errors;
  while (std::getline(in, line))
    if (line.rfind('!', 0) == 0) errors += line + "\n";
  return errors;
}

// A tmpfs of the plan's size over folder, in a mount namespace of this
// process's own, so that the mount ends with the process. An empty text,
// or why it cannot be had.
std::string MountSmallDisk(const std::string& folder) {
  if (unshare(CLONE_NEWNS) != 0) return std::string("no mount namespace: ") + strerror(errno);
  // Else a mount under a shared one would show in the parent's namespace.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return std::string("cannot make the mounts private: ") + strerror(errno);
  const std::string size = "size=" + std::to_string(g_plan.bytes);
  if (mount("tmpfs", folder.c_str(), "tmpfs", 0, size.c_str()) != 0)
    return std::string("cannot mount a tmpfs: ") + strerror(errno);
  return "";
}

std::string LimitFileSize(const std::string&) {
  // Ignored, the signal lets the write fail with EFBIG instead of ending us.
  signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{static_cast<rlim_t>(g_plan.bytes), RLIM_INFINITY};
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return std::string("setrlimit: ") + strerror(errno);
  return "";
}

// The last-error record's code and text.
std::pair<int32_t, std::string> LastError() {
  QorLastError rec{};
  QOR_GET(QorGetLastError)(&rec);
  std::vector<char> text(QOR_ERROR_TEXT_MAX, '\0');
  QOR_GET(QorMakeErrorStr)(&rec, text.data());
  return {rec.code, text.data()};
}

// A child's report split at its NUL separators.
std::vector<std::string> NulFields(const std::string& report) {
  std::vector<std::string> fields(1);
  for (char ch : report) {
    if (ch == '\0')
      fields.emplace_back();
    else
      fields.back() += ch;
  }
  return fields;
}

// The child's report: fields separated by NUL, the first the reason it
// skipped (empty when it ran).
std::string ConvertAndReport(std::string (*limit)(const std::string&), const std::string& source,
                             const std::string& output, const std::string& temp,
                             const std::string& log) {
  const std::string folder = fs::path(output).parent_path().string();
  const std::string skipped = limit(folder);
  if (!skipped.empty()) return skipped;
  setenv("TMPDIR", temp.c_str(), 1);
  QOR_GET(QorLogStart)(log.c_str());
  const int32_t result = ConvertMovie(source, output, output, 25.0, [](QorHandle h) {
    QOR_GET(QorSetCodec)(h, QOR_FMT_MPEG, g_plan.mpegType);
  });
  const std::string text = LastError().second;
  QOR_GET(QorLogStop)();
  return std::string(1, '\0') + std::to_string(result) + '\0' + text + '\0' +
         FilesIn(folder) + FilesIn(temp) + '\0' + LoggedErrors(log);
}

ChildRun ParseReport(const std::string& report) {
  std::vector<std::string> fields = NulFields(report);
  fields.resize(5);
  if (!fields[0].empty()) return Skipped(fields[0]);
  if (fields[1].empty()) return Skipped("the child reported nothing");
  return ChildRun{"", std::stoi(fields[1]), fields[2], fields[3], fields[4]};
}

// Converts source into output under the limit, in a child process: neither
// a mount nor a file-size limit reaches this process or the tests after it.
ChildRun ConvertInChild(std::string (*limit)(const std::string&), const std::string& source,
                        const std::string& output, const std::string& temp,
                        const std::string& log) {
  fs::create_directories(fs::path(output).parent_path());
  fs::create_directories(temp);
  fs::remove(log);
  int ends[2];
  if (pipe(ends) != 0) return Skipped("no pipe");
  const pid_t child = fork();
  if (child == 0) {
    close(ends[0]);
    const std::string report = ConvertAndReport(limit, source, output, temp, log);
    const ssize_t written = write(ends[1], report.data(), report.size());
    _exit(written == static_cast<ssize_t>(report.size()) ? 0 : 1);
  }
  close(ends[1]);
  std::string report;
  char buf[4096];
  for (ssize_t n; (n = read(ends[0], buf, sizeof buf)) > 0;) report.append(buf, size_t(n));
  close(ends[0]);
  waitpid(child, nullptr, 0);
  return ParseReport(report);
}

}  // namespace

// A disk that fills up while MPEG is written, and a file-size limit, end the
// conversion with the write failure, whichever file it hits and wherever it
// shows (a frame's write, the last bytes flushed when the stream closes, the
// multiplexed file): the error names the output and the system's reason,
// nothing later (closing, deleting the broken stream) takes its place, and
// no part of the output stays.
TEST(HostConvert, FullDiskAndFileSizeLimitReportTheWriteFailure) {
  if (!Have("ffmpeg")) GTEST_SKIP() << "ffmpeg absent (it makes the source movie)";
  Scratch dir;
  const std::string source = MakeSourceMovie(dir);
  struct Limit {
    const char* name;
    std::string (*set)(const std::string&);
    const char* reason;
  };
  // The mount last: where it is not permitted, the rest is skipped.
  const Limit limits[] = {{"file-size limit", LimitFileSize, "File too large"},
                          {"full disk", MountSmallDisk, "No space left on device"}};
  // The video stream of this movie is about 70 KB, the sound 56 KB, the
  // system stream 129 KB.
  struct Case {
    const char* file;
    int32_t type;
    int64_t bytes;
  };
  const Case cases[] = {{"out.mpg", 0, 49152},
                        {"out.m1v", 0, 49152},
                        {"dvd.mpg", 4, 49152},
                        {"end.mpg", 0, 69632},   // the last 4 KB of video
                        {"sys.mpg", 0, 98304}};  // the multiplexed file
  for (const Limit& limit : limits) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(limit.name) + ", " + c.file);
      g_plan = ChildPlan{c.type, c.bytes};
      const std::string name = dir.File(std::string("small/") + c.file);
      const ChildRun run =
          ConvertInChild(limit.set, source, name, dir.File("temp"), dir.File("trace.log"));
      if (!run.skipped.empty()) GTEST_SKIP() << limit.name << ": " << run.skipped;
      const std::string because = ": " + std::string(limit.reason);
      EXPECT_EQ(run.result, QOR_STATUS_LIBRARY_ERROR);
      EXPECT_EQ(run.error.rfind("cannot write " + name + ": ", 0), 0u) << run.error;
      EXPECT_TRUE(run.error.ends_with(because)) << run.error;
      EXPECT_EQ(run.left, "");
      // Every error the trace recorded is that failure (passed on by the frames).
      EXPECT_NE(run.logged, "");
      std::istringstream lines(run.logged);
      for (std::string line; std::getline(lines, line);)
        EXPECT_NE(line.find(because), std::string::npos) << line;
    }
  }
}

namespace {

// Frames saved one at a time into an MPEG file under a file-size limit, in a
// fresh process whose library reads QOR_THREADS as it loads: each answer,
// its text, and the files left, NUL-separated.
constexpr const char* kFramesChildVar = "QOR_TEST_MPEG_FRAMES_CHILD";

std::string Answer(int32_t result) {
  const auto [code, text] = LastError();
  return std::to_string(result) + " " + std::to_string(code) + " " + text + '\0';
}

std::string SaveFramesUntilOneFails(const std::string& output) {
  g_plan.bytes = 16384;
  const std::string skipped = LimitFileSize("");
  if (!skipped.empty()) return skipped;
  QorFile file = QOR_GET(QorFileCreate)(output.c_str());
  QorImg img = QOR_GET(QorImgAlloc)();
  std::vector<uint8_t> noise(320 * 240 * 3);
  std::string report(1, '\0');
  int32_t result = 0;
  for (int frame = 0; frame < 60 && result == 0; frame++) {
    for (size_t i = 0; i < noise.size(); i++)
      noise[i] = static_cast<uint8_t>((i * 7919 + size_t(frame) * 104729) >> 3);
    QOR_GET(QorImgSetPixels)(img, 320, 240, 24, noise.data(), nullptr);
    result = QOR_GET(QorImgSave)(img, file);
  }
  report += Answer(result);
  report += Answer(QOR_GET(QorImgSave)(img, file));
  QOR_GET(QorFileClose)(file);
  report += Answer(-1);
  QOR_GET(QorImgFree)(img);
  return report + FilesIn(fs::path(output).parent_path().string());
}

// The child's entry, before the test runner starts.
const bool g_framesChild = [] {
  const char* output = std::getenv(kFramesChildVar);
  if (output == nullptr) return false;
  const std::string report = SaveFramesUntilOneFails(output);
  std::ofstream(std::string(output) + ".report", std::ios::binary) << report;
  _exit(0);
}();

}  // namespace

// After a save fails, the stream is broken: every later save, and the close
// that deletes what was written, answers the first failure again, at one
// codec thread and at several.
TEST(HostConvert, FramesSavedAfterAFailedSaveAndTheCloseNameTheFirstFailure) {
  Scratch dir;
  const std::string output = dir.File("small/frames.mpg");
  fs::create_directories(fs::path(output).parent_path());
  for (const char* threads : {"1", "4"}) {
    SCOPED_TRACE(std::string("QOR_THREADS=") + threads);
    fs::remove(output + ".report");
    const std::string command = std::string("QOR_THREADS=") + threads + " " + kFramesChildVar +
                                "='" + output + "' /proc/" + std::to_string(getpid()) + "/exe";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::vector<uint8_t> report = ReadAll(output + ".report");
    std::vector<std::string> fields = NulFields({report.begin(), report.end()});
    fields.resize(5);
    if (!fields[0].empty()) GTEST_SKIP() << fields[0];
    const std::string failure = "1000 1000 cannot write " + output + ": File too large";
    EXPECT_EQ(fields[1], failure) << "the failing save";
    EXPECT_EQ(fields[2], failure) << "a later save";
    EXPECT_EQ(fields[3], "-1 " + failure.substr(5)) << "the close";
    EXPECT_EQ(fields[4], "") << "files left";
  }
}

// ---- one-call conversion ----------------------------------------------------------

TEST(HostQuickConvert, NothingToConvertIsThree) {
  Scratch dir;
  const std::string out = dir.File("none.avi");
  EXPECT_EQ(QOR_GET(QorQuickConvert)(out.c_str(), dir.File("*.gif").c_str(), "",
                                     K_AUTO, K_AUTO, K_AUTO),
            3);
  EXPECT_EQ(Last().code, 3);
  EXPECT_FALSE(fs::exists(out));
}

TEST(HostQuickConvert, GifToAviAndWavToOgg) {
  if (!Have("ffmpeg") || !Have("ffprobe")) GTEST_SKIP() << "ffmpeg/ffprobe absent";
  Scratch dir;
  const std::string gif = dir.File("anim.gif");
  std::system(("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=150x100:rate=10:duration=2 '" +
               gif + "'").c_str());
  const std::string avi = dir.File("anim.avi");
  EXPECT_EQ(QOR_GET(QorQuickConvert)(avi.c_str(), gif.c_str(), "", K_AUTO, K_AUTO,
                                     static_cast<double>(K_AUTO)),
            0);
  EXPECT_EQ(Last().code, 0);
  EXPECT_EQ(Probe(avi, "v:0", "nb_read_frames", true), "20");
  EXPECT_EQ(Probe(avi, "v:0", "r_frame_rate"), "10/1");
  // The list's size brought to multiples of 16.
  EXPECT_EQ(Probe(avi, "v:0", "width"), "144");
  EXPECT_EQ(Probe(avi, "v:0", "height"), "96");

  const std::string wav = dir.File("tone.wav");
  std::system(("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=300:sample_rate=22050:duration=1.5 "
               "-c:a pcm_s16le '" + wav + "'").c_str());
  const std::string ogg = dir.File("tone.ogg");
  EXPECT_EQ(QOR_GET(QorQuickConvert)(ogg.c_str(), "", wav.c_str(), K_AUTO, K_AUTO, 25.0), 0);
  EXPECT_EQ(Probe(ogg, "a:0", "codec_name"), "vorbis");
  EXPECT_EQ(Probe(ogg, "a:0", "sample_rate"), "22050");
  EXPECT_NEAR(std::stod(Output("ffprobe -v error -show_entries format=duration "
                               "-of default=nw=1:nk=1 '" + ogg + "'")),
              1.5, 0.02);
}

// A source that turns unreadable mid-way: the output is kept, the result
// is 3 and the last-error record says the same.
TEST(HostQuickConvert, UnreadableSourceKeepsOutputAndGivesThree) {
  Scratch dir;
  { std::ofstream(dir.File("a1.ppm"), std::ios::binary) << "P6\n16 16\n255\n" << std::string(768, 'x'); }
  WriteTruncatedPicture(dir);  // cut.ppm, read after a1.ppm
  const std::string out = dir.File("quick.kwb");
  const std::string filePattern = dir.File("a1.ppm") + ";" + dir.File("cut.ppm");
  EXPECT_EQ(QOR_GET(QorQuickConvert)(out.c_str(), filePattern.c_str(), "", K_AUTO, K_AUTO, 10.0), 3);
  EXPECT_EQ(Last().code, 3);
  EXPECT_EQ(Info(out).frameCount, 1);
  // A size given replaces the list's, brought to multiples of 16.
  const std::string sized = dir.File("sized.kwb");
  EXPECT_EQ(QOR_GET(QorQuickConvert)(sized.c_str(), dir.File("a1.ppm").c_str(), "", 70, 40, 10.0), 0);
  const QorFileInfo info = Info(sized);
  EXPECT_EQ((std::vector<int32_t>{info.frameCount, info.width, info.height}),
            (std::vector<int32_t>{1, 64, 48}));
}

// Under forced compatibility a codec that cannot take the output gives way
// to Cinepak; the call log tells the conversion's road.
TEST(HostConvertPeers, RefusedCodecFallsBackToCinepakAndIsLogged) {
  if (!Have("ffprobe")) GTEST_SKIP() << "ffprobe absent";
  Scratch dir;
  const std::string log = dir.File("calls.log");
  QOR_GET(QorLogStart)(log.c_str());
  QOR_GET(QorLogExtra)(-1);
  Scenario s;
  s.frames = 3;
  {
    Conversion c(&s);
    c.Video().Watch().Output(dir.File("fallback.avi"), "", 10.0);
    QOR_GET(QorSetCodec)(c.h(), 6, QOR_GET(QorMakeFourCC)("ZZZZ"));
    QOR_GET(QorForceCompatibility)(c.h(), -1);
    EXPECT_EQ(c.Run(), 0);
  }
  QOR_GET(QorLogStop)();
  EXPECT_EQ(Probe(dir.File("fallback.avi"), "v:0", "codec_name"), "cinepak");
  EXPECT_EQ(Probe(dir.File("fallback.avi"), "v:0", "nb_read_frames", true), "3");
  std::ifstream in(log);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  size_t at = 0;
  for (const char* line :
       {"===== QorConvert - Init =====", "  _QorPrepareOutput", "  writing to file",
        "  _QorVideoSourceCallback", "    blockNum=0", "  _QorVideoFuncCallback",
        "    curFrame=0", "  _QorCallUserProgress", "===== QorConvert: Done ====="}) {
    const size_t found = text.find(line, at);
    ASSERT_NE(found, std::string::npos) << line;
    at = found;
  }
}

namespace {

using namespace std::string_view_literals;

// Four bytes of a file, little-endian and masked, from the first marker after
// the first of after; ~0 when there is none.
uint32_t Field(const std::string& file, std::string_view marker, size_t at, uint32_t mask,
               std::string_view after = "") {
  const std::vector<uint8_t> b = ReadAll(file);
  const std::string_view bytes(reinterpret_cast<const char*>(b.data()), b.size());
  const size_t p = bytes.find(marker, std::min(bytes.find(after), bytes.size()));
  if (p == std::string_view::npos || p + at + 4 > b.size()) return ~0u;
  return (b[p + at] | b[p + at + 1] << 8 | b[p + at + 2] << 16 | uint32_t{b[p + at + 3]} << 24) &
         mask;
}

// A conversion of pixel blocks (into vid) and half a second of tone (into
// aud) with the host's settings; the file it wrote.
std::string ConvertWith(const Scratch& dir, const std::string& vid, const std::string& aud,
                        const std::function<void(QorHandle)>& set, int frames = 6) {
  Scenario s;
  s.frames = frames;
  s.audioBlocks = aud.empty() ? 0 : 1;
  s.samplesPerBlock = 11025;
  Conversion c(&s);
  c.Video().Audio().Output(vid.empty() ? "" : dir.File(vid), aud.empty() ? "" : dir.File(aud),
                           10.0);
  set(c.h());
  EXPECT_EQ(c.Run(), 0) << vid << aud;
  return dir.File(vid.empty() ? aud : vid);
}

// A created file of 64 x 64 noise pictures (for an MPEG audio name, noise
// sounds) with the host's parameters.
std::string CreateWith(const Scratch& dir, const std::string& name, int32_t codec,
                       int32_t quality, int32_t byteRate, size_t frames = 20) {
  const std::string file = dir.File(name);
  QorHandle f = QOR_GET(QorFileCreate)(file.c_str());
  QOR_GET(QorFileSetVideoParams)(f, 64, 64, 24, 25.0, codec, quality, byteRate);
  QOR_GET(QorFileSetAudioParams)(f, 44100, 2, 16, byteRate);
  QorHandle img = QOR_GET(QorImgAlloc)(), snd = QOR_GET(QorSndAlloc)();
  std::vector<uint8_t> noise(64 * 64 * 3);
  for (size_t frame = 0; frame < frames; frame++) {
    for (size_t i = 0; i < noise.size(); i++) noise[i] = uint8_t((i * 7919 + frame * 99) >> 3);
    QOR_GET(QorImgSetPixels)(img, 64, 64, 24, noise.data(), nullptr);
    QOR_GET(QorSndSetSamples)(snd, 3000, 44100, 2, 16, noise.data());
    EXPECT_EQ(name.ends_with(".mp2") ? QOR_GET(QorSndSave)(snd, f) : QOR_GET(QorImgSave)(img, f),
              0);
  }
  QOR_GET(QorFileClose)(f);
  QOR_GET(QorImgFree)(img);
  QOR_GET(QorSndFree)(snd);
  return file;
}

}  // namespace

// Every coding choice of the writers, set the three ways a host sets it: the
// codec argument of QorImgSaveSingle (for JPEG the quality), a conversion
// handle's options, a created file's parameters; each shows in a field of the
// written file. The writers keep their options from file to file, so every
// road runs every row, and a format's rows change the value each time.
TEST(HostConvert, WriterCodingChoicesReachTheFileOnEveryRoad) {
  struct Row {
    const char* ext;
    int32_t format, value;
    std::string_view marker;
    size_t at;
    uint32_t mask, expected;  // ~0: the file has no marker
  };
  const auto tiff = "\x03\x01\x03\x00\x01\x00\x00\x00"sv;  // the compression tag
  const auto dqt = "\xFF\xDB"sv, mpeg2 = "\x00\x00\x01\xB5"sv;  // quantizers, sequence extension
  const int32_t mjpg = QOR_GET(QorMakeFourCC)("MJPG"), cvid = QOR_GET(QorMakeFourCC)("cvid");
  const Row rows[] = {
      {"tga", 1, 0, "", 2, 0xFF, 2}, {"tga", 1, 1, "", 2, 0xFF, 10},  // image type
      {"sgi", 13, 0, "", 2, 0xFF, 0}, {"sgi", 13, 1, "", 2, 0xFF, 1},  // storage
      {"ras", 14, 0, "", 23, 0xFF, 1}, {"ras", 14, 1, "", 23, 0xFF, 2},  // raster type
      {"ppm", 15, 1, "", 1, 0xFF, '3'}, {"ppm", 15, 0, "", 1, 0xFF, '6'},  // magic
      {"png", 9, 0, "IDAT", 5, 0xC0, 0x00}, {"png", 9, 9, "IDAT", 5, 0xC0, 0xC0},  // zlib level
      {"tif", 10, 5, tiff, 8, 0xFFFF, 5}, {"tif", 10, 32773, tiff, 8, 0xFFFF, 32773},
      {"tif", 10, 32946, tiff, 8, 0xFFFF, 32946}, {"tif", 10, 7, tiff, 8, 0xFFFF, 7},
      {"tif", 10, 2, tiff, 8, 0xFFFF, 2}, {"tif", 10, 3, tiff, 8, 0xFFFF, 3},
      {"tif", 10, 4, tiff, 8, 0xFFFF, 4}, {"tif", 10, 1, tiff, 8, 0xFFFF, 1},
      {"jpg", 8, 30, dqt, 5, 0xFF, 27}, {"jpg", 8, 85, dqt, 5, 0xFF, 5},  // the first quantizer
      {"kwb", 7, 0, "", 24, 0x1, 0}, {"kwb", 7, 1, "", 24, 0x1, 1},  // the coder
      {"avi", 6, mjpg, "strh", 12, ~0u, uint32_t(mjpg)},  // the stream's handler
      {"avi", 6, cvid, "strh", 12, ~0u, uint32_t(cvid)},
      {"mpg", 11, 2, mpeg2, 4, 0xF0, 0x10}, {"mpg", 11, 0, mpeg2, 4, 0xF0, ~0u}};
  Scratch dir;
  QorHandle img = QOR_GET(QorImgAlloc)();
  QOR_GET(QorImgSetPixels)(img, kSide, kSide, 24, nullptr, nullptr);
  QOR_GET(QorImgClear)(img, 0x3366CC);
  int n = 0;
  for (const std::string road : {"save", "convert", "file"})
    for (const Row& row : rows) {
      const std::string name = std::to_string(n++) + "." + row.ext;
      SCOPED_TRACE(road + " " + row.ext + " " + std::to_string(row.value));
      const int32_t codec = row.format == 8 ? K_AUTO : row.value;
      const int32_t quality = row.format == 8 ? row.value : K_AUTO;
      if (road == "save")
        EXPECT_EQ(QOR_GET(QorImgSaveSingle)(img, dir.File(name).c_str(), row.value), 0);
      else if (road == "convert")
        ConvertWith(dir, name, "", [&](QorHandle h) {
          auto set = codec == K_AUTO ? QOR_GET(QorSetQuality) : QOR_GET(QorSetCodec);
          set(h, row.format, row.value);
        }, 1);
      else
        CreateWith(dir, name, codec, quality, K_AUTO, 1);
      EXPECT_EQ(Field(dir.File(name), row.marker, row.at, row.mask), row.expected);
    }
  QOR_GET(QorImgFree)(img);
}

// The rates and qualities a host sets reach the written file: exactly where
// a header keeps them, else at two values whose files differ.
TEST(HostConvert, WriterRatesAndQualitiesReachTheFile) {
  Scratch dir;
  const int32_t mjpg = QOR_GET(QorMakeFourCC)("MJPG"), cvid = QOR_GET(QorMakeFourCC)("cvid");
  // Each MPEG type's system stream: MPEG-1 or MPEG-2 packs, what follows the
  // system header (VCD and SVCD pad their first sector, DVD navigates), and
  // the first sound frame's bit rate (its index: 64, 96, 128, 160, 192).
  const uint32_t firstPacket[5] = {0xE0, 0xBE, 0xE0, 0xBE, 0xBF}, audioRate[5] = {4, 6, 8, 9, 10};
  const auto system = "\x00\x00\x01\xBB"sv;
  for (int32_t type = 0; type < 5; type++) {
    const std::string file = ConvertWith(dir, "t.mpg", "t.mpg", [&](QorHandle h) {
      QOR_GET(QorSetCodec)(h, QOR_FMT_MPEG, type);
      QOR_GET(QorSetBitRate)(h, QOR_FMT_MPA, 64 + 32 * type);
    });
    EXPECT_EQ(Field(file, "", 4, 0xC0), type >= 2 ? 0x40u : 0u) << type;
    const uint32_t length = Field(file, system, 4, 0xFFFF);
    EXPECT_EQ(Field(file, system, 9 + (length >> 8 | (length & 0xFF) << 8), 0xFF),
              firstPacket[type]) << type;
    EXPECT_EQ(Field(file, "\xFF\xFD"sv, 2, 0xF0, "\x00\x00\x01\xC0"sv), audioRate[type] << 4);
  }
  const std::string m2v = ConvertWith(dir, "film.m2v", "", [](QorHandle) {});
  EXPECT_EQ(Field(m2v, "\x00\x00\x01\xB5"sv, 4, 0xF0), 0x10u);  // an MPEG-2 sequence extension
  // MPEG audio, mono at 32 kHz, at 96 kbit/s: its frames' bit rate index.
  const std::string mp2 =
      ConvertWith(dir, "", "a.mp2", [](QorHandle h) { QOR_GET(QorSetBitRate)(h, 18, 96); });
  EXPECT_EQ(Field(mp2, "", 2, 0xF0), 0x60u);
  // The nominal bit rate of Ogg Vorbis at quality 0 and 10; Motion JPEG at
  // quality 20 and 90 (the stream header keeps it in hundredths); Cinepak
  // with a key frame at every frame and at every fifth; the KWB header's
  // key-frame rate.
  uint32_t nominal[2];
  uintmax_t sizes[2][2];
  for (int32_t step : {0, 1}) {
    const std::string ogg = ConvertWith(dir, "", std::to_string(step) + ".ogg", [&](QorHandle h) {
      QOR_GET(QorSetQuality)(h, QOR_FMT_OGG, step * 10);
    });
    nominal[step] = Field(ogg, "\x01vorbis", 20, ~0u);
    const std::string avi = ConvertWith(dir, std::to_string(step) + ".avi", "", [&](QorHandle h) {
      QOR_GET(QorSetCodec)(h, QOR_FMT_AVI, mjpg);
      QOR_GET(QorSetQuality)(h, QOR_FMT_AVI, 20 + step * 70);
    });
    EXPECT_EQ(Field(avi, "strh", 48, ~0u), uint32_t(2000 + step * 7000));
    sizes[0][step] = fs::file_size(avi);
    sizes[1][step] = fs::file_size(ConvertWith(dir, "k.avi", "", [&](QorHandle h) {
      QOR_GET(QorSetCodec)(h, QOR_FMT_AVI, cvid);
      QOR_GET(QorSetKeyFrameRate)(h, QOR_FMT_AVI, 1 + step * 4);
    }));
    const std::string kwb = ConvertWith(dir, "k.kwb", "", [&](QorHandle h) {
      QOR_GET(QorSetKeyFrameRate)(h, QOR_FMT_KWB, 3 + step * 6);
    });
    EXPECT_EQ(Field(kwb, "", 32, ~0u), uint32_t(3 + step * 6));
  }
  EXPECT_LT(nominal[0], nominal[1]);
  EXPECT_LT(sizes[0][0], sizes[0][1]);
  EXPECT_GT(sizes[1][0], sizes[1][1]);
  // The depth: the TGA header's pixel size (15 bits are stored in 16).
  for (int32_t bpp : {15, 32, 24}) {
    const std::string tga =
        ConvertWith(dir, "d.tga", "", [&](QorHandle h) { QOR_GET(QorSetBpp)(h, bpp); });
    EXPECT_EQ(Field(tga, "", 16, 0xFF), bpp == 15 ? 16u : uint32_t(bpp));
  }
  // Created files: MPEG-1 and MPEG-2 at 160 and 4000 kbit/s, VCD at 160 (its
  // rate is constant, in units of 400 bit/s in the sequence header), Motion
  // JPEG at quality 40, MPEG audio at 320 kbit/s.
  for (int32_t type : {0, 2})
    EXPECT_LT(fs::file_size(CreateWith(dir, "low.mpg", type, K_AUTO, 20)),
              fs::file_size(CreateWith(dir, "high.mpg", type, K_AUTO, 500))) << type;
  const auto headerRate = [](const std::string& file) {
    const uint32_t r = Field(file, "\x00\x00\x01\xB3"sv, 8, ~0u);
    return (r & 0xFF) << 10 | (r >> 8 & 0xFF) << 2 | (r >> 22 & 3);
  };
  EXPECT_EQ(headerRate(CreateWith(dir, "vcd.mpg", 1, K_AUTO, 20)), 160000u / 400);
  // MPEG-2's rate varies: the header keeps its peak, the DVD's 9.8 Mbit/s.
  EXPECT_EQ(headerRate(dir.File("high.mpg")), 9800000u / 400);
  EXPECT_EQ(Field(CreateWith(dir, "q.avi", mjpg, 40, K_AUTO), "strh", 48, ~0u), 4000u);
  EXPECT_EQ(Field(CreateWith(dir, "c.mp2", K_AUTO, K_AUTO, 40), "", 2, 0xF0), 0xD0u);
}
