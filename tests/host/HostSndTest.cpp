// Sound records through the exports: raw samples in and out, copies,
// resampling, and the refusals of bad sizes and null buffers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "host/HostLibrary.h"
#include "host/HostScratch.h"
#include "qor.h"

namespace {

struct SndInfo {
  int32_t rate = -1, channels = -1, bits = -1, totalBytes = -1;
  void* data = nullptr;
};

SndInfo Info(QorHandle snd) {
  SndInfo i;
  QOR_GET(QorSndGetInfo)(snd, &i.rate, &i.channels, &i.bits, &i.totalBytes,
                         &i.data);
  return i;
}

// The bytes QorSndGetSamples copies: read twice over two different fills,
// the copy ends where both buffers still hold their fill.
std::vector<uint8_t> Samples(QorHandle snd, size_t capacity) {
  std::vector<uint8_t> a(capacity, 0x11), b(capacity, 0xEE);
  QOR_GET(QorSndGetSamples)(snd, a.data());
  QOR_GET(QorSndGetSamples)(snd, b.data());
  size_t n = capacity;
  while (n > 0 && a[n - 1] == 0x11 && b[n - 1] == 0xEE) n--;
  a.resize(n);
  return a;
}

// An 8-bit unsigned sine of the given period in frames.
std::vector<uint8_t> Sine8(int frames, double period) {
  std::vector<uint8_t> s(static_cast<size_t>(frames));
  for (int i = 0; i < frames; i++)
    s[static_cast<size_t>(i)] = static_cast<uint8_t>(
        std::lround(128 + 100 * std::sin(2 * M_PI * i / period)));
  return s;
}

class HostSnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Lib().handle(), nullptr) << Lib().error();
    snd_ = QOR_GET(QorSndAlloc)();
    ASSERT_NE(snd_, nullptr);
  }
  void TearDown() override { QOR_GET(QorSndFree)(snd_); }
  QorHandle snd_ = nullptr;
};

}  // namespace

TEST_F(HostSnd, SamplesInAndOutWithTheirFormat) {
  // An empty record tells nothing but zeros.
  SndInfo empty = Info(snd_);
  EXPECT_EQ(0, empty.totalBytes);
  EXPECT_EQ(nullptr, empty.data);

  const std::vector<uint8_t> mono = Sine8(1000, 50);
  QOR_GET(QorSndSetSamples)(snd_, 1000, 22050, 1, 8, mono.data());
  EXPECT_EQ(0, Outcome().code);
  const SndInfo i = Info(snd_);
  EXPECT_EQ(22050, i.rate);
  EXPECT_EQ(1, i.channels);
  EXPECT_EQ(8, i.bits);
  EXPECT_EQ(1000, i.totalBytes);
  ASSERT_NE(nullptr, i.data);
  EXPECT_EQ(0, std::memcmp(i.data, mono.data(), 1000));
  EXPECT_EQ(mono, Samples(snd_, 1200));

  // Ten 16-bit stereo frames are 40 bytes.
  std::vector<uint8_t> stereo(40);
  for (size_t k = 0; k < stereo.size(); k++) stereo[k] = static_cast<uint8_t>(k + 1);
  QOR_GET(QorSndSetSamples)(snd_, 10, 44100, 2, 16, stereo.data());
  EXPECT_EQ(stereo, Samples(snd_, 100));

  // A copy has the frames and the format; a copy from nothing changes
  // nothing.
  QorHandle copy = QOR_GET(QorSndAlloc)();
  QOR_GET(QorSndSetSamples)(copy, 1000, 22050, 1, 8, mono.data());
  QOR_GET(QorSndCopy)(copy, snd_);
  EXPECT_EQ(0, Outcome().code);
  EXPECT_EQ(stereo, Samples(copy, 100));
  EXPECT_EQ(44100, Info(copy).rate);
  EXPECT_EQ(2, Info(copy).channels);
  EXPECT_EQ(16, Info(copy).bits);
  QOR_GET(QorSndCopy)(copy, nullptr);
  EXPECT_EQ(stereo, Samples(copy, 100));
  QOR_GET(QorSndFree)(copy);
  QOR_GET(QorSndFree)(nullptr);
  EXPECT_EQ(0, Outcome().code);
}

TEST_F(HostSnd, ResamplingDoublesTheFramesAndKeepsTheWave) {
  const std::vector<uint8_t> mono = Sine8(1000, 100);
  QOR_GET(QorSndSetSamples)(snd_, 1000, 22050, 1, 8, mono.data());
  QOR_GET(QorSndResample)(snd_, 44100, 2, 16);
  ASSERT_EQ(0, Outcome().code);
  const SndInfo i = Info(snd_);
  EXPECT_EQ(44100, i.rate);
  EXPECT_EQ(2, i.channels);
  EXPECT_EQ(16, i.bits);
  const std::vector<uint8_t> out = Samples(snd_, 16000);
  ASSERT_EQ(0u, out.size() % 4);
  const int frames = static_cast<int>(out.size() / 4);
  EXPECT_NEAR(2000, frames, 4);
  // Frame k lies at input position k / 2: both channels follow the same
  // sine, scaled from 8 to 16 bits, within the resampler's smoothing.
  int far = 0;
  for (int k = 8; k < frames - 8; k++) {
    int16_t left, right;
    std::memcpy(&left, &out[static_cast<size_t>(k) * 4], 2);
    std::memcpy(&right, &out[static_cast<size_t>(k) * 4 + 2], 2);
    const double want = 100 * 256 * std::sin(2 * M_PI * (k / 2.0) / 100);
    EXPECT_EQ(left, right) << k;
    if (std::fabs(left - want) > 0.04 * 32768) far++;
  }
  EXPECT_EQ(0, far);
}

TEST_F(HostSnd, BadSizesAndNullBuffersAreRefusedWithoutChange) {
  const std::vector<uint8_t> mono = Sine8(100, 20);
  auto set = QOR_GET(QorSndSetSamples);
  set(snd_, 100, 22050, 1, 8, mono.data());
  auto unchanged = [&] {
    EXPECT_EQ(mono, Samples(snd_, 400));
    EXPECT_EQ(22050, Info(snd_).rate);
  };
  // Null handles and output buffers.
  QOR_GET(QorSndGetSamples)(snd_, nullptr);
  EXPECT_EQ(999, Outcome().code);
  QOR_GET(QorSndGetSamples)(nullptr, std::vector<uint8_t>(10).data());
  EXPECT_EQ(999, Outcome().code);
  int32_t v = 0;
  void* p = nullptr;
  QOR_GET(QorSndGetInfo)(nullptr, &v, &v, &v, &v, &p);
  EXPECT_EQ(999, Outcome().code);
  QOR_GET(QorSndGetInfo)(snd_, &v, nullptr, &v, &v, &p);
  EXPECT_EQ(999, Outcome().code);
  QOR_GET(QorSndResample)(nullptr, 44100, 2, 16);
  EXPECT_EQ(999, Outcome().code);
  QOR_GET(QorSndCopy)(nullptr, snd_);
  EXPECT_EQ(999, Outcome().code);
  set(nullptr, 10, 8000, 1, 8, mono.data());
  EXPECT_EQ(999, Outcome().code);
  // A null sample buffer.
  set(snd_, 100, 8000, 1, 8, nullptr);
  EXPECT_EQ(999, Outcome().code);
  unchanged();
  // No frames, a depth of no whole bytes, no channels, no rate.
  for (auto [frames, rate, channels, bits] :
       {std::array<int32_t, 4>{0, 8000, 1, 8}, {-5, 8000, 1, 8},
        {10, 8000, 1, 12}, {10, 8000, 0, 8}, {10, 0, 1, 8}, {10, 8000, 1, -8}}) {
    set(snd_, frames, rate, channels, bits, mono.data());
    const QorLastError e = Outcome();
    EXPECT_EQ(1000, e.code) << frames << " " << channels << " " << bits;
    EXPECT_TRUE(e.errClass == 4 || e.errClass == 8) << e.errClass;
    unchanged();
  }
  // A block beyond what a record can carry is refused before anything is
  // read from the (small) buffer.
  set(snd_, 0x7FFFFFFF, 44100, 2, 16, mono.data());
  EXPECT_EQ(1000, Outcome().code);
  unchanged();
  set(snd_, 0x10000000, 44100, 16, 32, mono.data());
  EXPECT_EQ(1000, Outcome().code);
  unchanged();

  // A call that fails leaves its error pair pending, and a later call that
  // runs no checked step reports it again: a good call clears it.
  auto clearPending = [&] {
    set(snd_, 100, 22050, 1, 8, mono.data());
    ASSERT_EQ(0, Outcome().code);
  };
  clearPending();
  // A resample to a format that cannot exist leaves the sound as it was.
  QOR_GET(QorSndResample)(snd_, 0, 2, 16);
  EXPECT_EQ(1000, Outcome().code);
  unchanged();

  clearPending();
  // Reading or writing without a file or a sound does nothing, status 0.
  EXPECT_EQ(0, QOR_GET(QorSndLoad)(snd_, nullptr, 0, 10));
  EXPECT_EQ(0, QOR_GET(QorSndLoad)(nullptr, nullptr, 0, 10));
  EXPECT_EQ(0, QOR_GET(QorSndSave)(snd_, nullptr));
  EXPECT_EQ(0, QOR_GET(QorSndSave)(nullptr, nullptr));
  EXPECT_EQ(0, Outcome().code);
  unchanged();
}

TEST_F(HostSnd, ReadFromAFileAsSoxDecodesIt) {
  REQUIRE_PEER("sox");
  ScratchDir dir;
  const std::string wav = dir.File("tone.wav");
  ASSERT_EQ(0, Shell("sox -n -r 22050 -c 1 -b 16 '" + wav +
                     "' synth 0.5 sine 440 vol 0.7"));
  ASSERT_EQ(0, Shell("sox '" + wav + "' -t raw '" + dir.File("tone.raw") + "'"));
  const std::vector<uint8_t> raw = ReadBytes(dir.File("tone.raw"));
  ASSERT_EQ(11025u * 2, raw.size());
  QorFileInfo info;
  QorHandle file = QOR_GET(QorFileOpen)(wav.c_str(), 0, &info, nullptr, nullptr);
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(0, QOR_GET(QorSndLoad)(snd_, file, 1000, 500));
  EXPECT_EQ(22050, Info(snd_).rate);
  EXPECT_EQ(1, Info(snd_).channels);
  EXPECT_EQ(16, Info(snd_).bits);
  EXPECT_EQ(std::vector<uint8_t>(raw.begin() + 2000, raw.begin() + 3000),
            Samples(snd_, 4000));
  // Backwards, and past the end: fewer frames, no error.
  EXPECT_EQ(0, QOR_GET(QorSndLoad)(snd_, file, 10, 20));
  EXPECT_EQ(std::vector<uint8_t>(raw.begin() + 20, raw.begin() + 60),
            Samples(snd_, 400));
  EXPECT_EQ(0, QOR_GET(QorSndLoad)(snd_, file, 11000, 500));
  EXPECT_EQ(std::vector<uint8_t>(raw.end() - 50, raw.end()), Samples(snd_, 4000));
  // A file opened for reading takes no sound.
  EXPECT_EQ(1000, QOR_GET(QorSndSave)(snd_, file));
  QOR_GET(QorFileClose)(file);
}

TEST_F(HostSnd, WrittenWavIsWhatSoxReads) {
  REQUIRE_PEER("sox");
  ScratchDir dir;
  const std::string wav = dir.File("out.wav");
  QorHandle file = QOR_GET(QorFileCreate)(wav.c_str());
  ASSERT_NE(nullptr, file);
  QOR_GET(QorFileSetAudioParams)(file, 22050, 1, 16, K_AUTO);
  // First a block in the file's own format, then an 8-bit one that is
  // converted on the way (8 to 16 bits is exact: (s - 128) x 256).
  std::vector<uint8_t> first(600);
  for (size_t i = 0; i < first.size(); i++) first[i] = static_cast<uint8_t>(i * 37);
  QOR_GET(QorSndSetSamples)(snd_, 300, 22050, 1, 16, first.data());
  EXPECT_EQ(0, QOR_GET(QorSndSave)(snd_, file));
  const std::vector<uint8_t> second = Sine8(400, 40);
  QOR_GET(QorSndSetSamples)(snd_, 400, 22050, 1, 8, second.data());
  EXPECT_EQ(0, QOR_GET(QorSndSave)(snd_, file));
  // The host's sound keeps its own format.
  EXPECT_EQ(8, Info(snd_).bits);
  QOR_GET(QorFileClose)(file);
  EXPECT_EQ("22050\n1\n16\n700\n",
            Capture("soxi -r '" + wav + "'; soxi -c '" + wav + "'; soxi -b '" +
                    wav + "'; soxi -s '" + wav + "'"));
  ASSERT_EQ(0, Shell("sox '" + wav + "' -t raw -e signed -b 16 -c 1 -r 22050 '" +
                     dir.File("out.raw") + "'"));
  std::vector<uint8_t> want = first;
  for (uint8_t s : second) {
    const int16_t v = static_cast<int16_t>((s - 128) * 256);
    want.push_back(static_cast<uint8_t>(v & 0xFF));
    want.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
  }
  EXPECT_EQ(want, ReadBytes(dir.File("out.raw")));

  // K_AUTO keeps what the file has: its defaults (44100 Hz, 16 bits) or
  // what an earlier call set; the second call changes nothing.
  struct Kept {
    int32_t rate, channels, bits;
    const char* soxi;
  };
  for (const Kept& k :
       {Kept{K_AUTO, 1, K_AUTO, "44100\n1\n16\n"}, Kept{11025, 1, 8, "11025\n1\n8\n"}}) {
    const std::string kept = dir.File("kept" + std::to_string(k.bits) + ".wav");
    file = QOR_GET(QorFileCreate)(kept.c_str());
    QOR_GET(QorFileSetAudioParams)(file, k.rate, k.channels, k.bits, K_AUTO);
    QOR_GET(QorFileSetAudioParams)(file, K_AUTO, K_AUTO, K_AUTO, K_AUTO);
    EXPECT_EQ(0, Outcome().code);
    EXPECT_EQ(0, QOR_GET(QorSndSave)(snd_, file));
    QOR_GET(QorFileClose)(file);
    EXPECT_EQ(k.soxi, Capture("soxi -r '" + kept + "'; soxi -c '" + kept + "'; soxi -b '" +
                              kept + "'"));
  }
}

TEST_F(HostSnd, CallLogNamesArgumentsAndMissingHandles) {
  ScratchDir dir;
  const std::string path = dir.File("snd.log");
  QOR_GET(QorLogStart)(path.c_str());
  QOR_GET(QorLogExtra)(1);
  const std::vector<uint8_t> mono = Sine8(1000, 50);
  QOR_GET(QorSndSetSamples)(snd_, 1000, 22050, 1, 8, mono.data());
  QOR_GET(QorSndLoad)(snd_, nullptr, 0, K_AUTO);
  QOR_GET(QorSndSave)(nullptr, nullptr);
  QorHandle img = QOR_GET(QorImgAlloc)();
  QOR_GET(QorImgDeinterlace)(img, 0, -1);
  QOR_GET(QorImgFree)(img);
  QOR_GET(QorLogStop)();
  const std::vector<uint8_t> bytes = ReadBytes(path);
  const std::string log(bytes.begin(), bytes.end());
  for (const char* line :
       {"#QorSndSetSamples\r\n#  mSnd=0x0x0|0\r\n#  numSamples=1000\r\n",
        "#QorSndLoad\r\n#  mSnd=22050x1x8|1000\r\n#  mFile=NULL\r\n"
        "#  startSample=0\r\n#  numSamples=K_AUTO\r\n"
        "#  ERROR: file not open\r\n#  result=0\r\n",
        "#QorSndSave\r\n#  mSnd=not allocated\r\n#  mFile=NULL\r\n"
        "#  ERROR: file not created\r\n#  ERROR: sound handle not allocated\r\n",
        // This export has always been logged under a shorter name.
        "#QorDeinterlace\r\n#  mImg=0x0x0\r\n#  keepEven=0\r\n"
        "#  interpolate=4294967295\r\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
}
