// Reading MPEG through the layer: files ffmpeg writes (elementary video,
// program streams, Layer I to III audio), frame-exact and sample-exact
// seeks, progress, and damaged input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/MediaTools.h"
#include "platform/Pavane.h"
#include "support/TestUtil.h"

using TestUtil::TempDir;
namespace MT = MediaTools;
using namespace Pavane;

namespace {

#define NEED_FFMPEG()                                                      \
  if (!TestUtil::HaveTool("ffmpeg") || !TestUtil::HaveTool("ffprobe"))     \
  GTEST_SKIP() << "ffmpeg not installed"

std::vector<std::string> g_errors;
void CollectError(const char* message) { g_errors.push_back(message); }

class PavaneRead : public ::testing::Test {
 protected:
  void SetUp() override {
    g_errors.clear();
    PavaneErrorFuncSet(CollectError);
  }
  void TearDown() override { PavaneErrorFuncSet(nullptr); }
  TempDir dir;
};

const char* kVideoSource = "-f lavfi -i testsrc=size=96x64:rate=25 ";

struct Info {
  int32_t ok = 0, w = 0, h = 0, frames = 0, code = 0, rate = 0, mpeg2 = -1, audio = -1;
};
Info Describe(const std::string& name, ProgressFunc f = nullptr, void* data = nullptr) {
  Info i;
  i.ok = GetMPEGInfo(name.c_str(), &i.w, &i.h, &i.frames, &i.code, &i.rate, &i.mpeg2,
                     &i.audio, f, data);
  return i;
}

std::vector<std::vector<uint8_t>> ReadAll(const std::string& name, const Info& info) {
  std::vector<std::vector<uint8_t>> frames;
  MpegReader* r = nullptr;
  if (!OpenMPEG(&r, name.c_str(), 0, nullptr, nullptr)) return frames;
  for (int k = 0; k < info.frames; k++) {
    std::vector<uint8_t> f(static_cast<size_t>(info.w) * info.h * 3);
    if (!GetMPEGFrame(r, f.data())) break;
    frames.push_back(std::move(f));
  }
  CloseMPEG(r);
  return frames;
}

// Random access in a scrambled order, backwards and forwards, must give
// exactly the frames of the sequential read.
void ExpectRandomAccessMatches(const std::string& name, const Info& info,
                               const std::vector<std::vector<uint8_t>>& seq) {
  MpegReader* r = nullptr;
  ASSERT_TRUE(OpenMPEG(&r, name.c_str(), 0, nullptr, nullptr));
  std::vector<int> order;
  for (int k = 0; k < info.frames; k++) order.push_back((k * 17 + 5) % info.frames);
  order.push_back(info.frames - 1);
  order.push_back(0);
  order.push_back(1);
  // Walking backwards in small steps goes back into earlier groups again
  // and again.
  for (int k = info.frames - 1; k >= 0; k -= 4) order.push_back(k);
  std::vector<uint8_t> f(seq[0].size());
  for (int k : order) {
    ASSERT_TRUE(SeekMPEG(r, k)) << k;
    ASSERT_TRUE(GetMPEGFrame(r, f.data())) << k;
    EXPECT_TRUE(f == seq[static_cast<size_t>(k)]) << "frame " << k;
    // and the frame after it, read on without a seek
    if (k + 1 < info.frames) {
      ASSERT_TRUE(GetMPEGFrame(r, f.data()));
      EXPECT_TRUE(f == seq[static_cast<size_t>(k + 1)]) << "frame after " << k;
    }
  }
  EXPECT_FALSE(SeekMPEG(r, info.frames));
  EXPECT_FALSE(SeekMPEG(r, -1));
  CloseMPEG(r);
}

// ffmpeg's own decoding of the video as packed B, G, R frames.
std::vector<uint8_t> FfmpegBgr(const std::string& name, const std::string& raw) {
  if (!MT::Run("ffmpeg -nostdin -y -i '" + name + "' -map 0:v:0 -fps_mode passthrough -f rawvideo -pix_fmt bgr24 '" + raw + "'"))
    return {};
  return MT::ReadBytes(raw);
}

void CheckVideoFile(const std::string& name, const std::string& raw, int frames, int code,
                    int mpeg2, int audio) {
  const Info info = Describe(name);
  ASSERT_EQ(info.ok, 1);
  EXPECT_EQ(info.w, 96);
  EXPECT_EQ(info.h, 64);
  EXPECT_EQ(info.frames, frames);
  EXPECT_EQ(info.frames, MT::ProbeFrameCount(name, "v:0"));
  EXPECT_EQ(info.code, code);
  EXPECT_EQ(info.mpeg2, mpeg2);
  EXPECT_EQ(info.audio, audio);
  // The sequence header's rate, as ffprobe reads it (none for a stream
  // coded at a fixed quantiser).
  const std::string probed = MT::Probe(name, "v:0", "bit_rate");
  if (mpg_get_type(name.c_str()) == kTypeVideo) {
    EXPECT_EQ(info.rate, probed == "N/A" ? 0 : std::atoi(probed.c_str())) << probed;
  }
  const auto seq = ReadAll(name, info);
  ASSERT_EQ(static_cast<int>(seq.size()), frames);
  // Same decoder, a different colour converter: close, not equal.
  const std::vector<uint8_t> ref = FfmpegBgr(name, raw);
  ASSERT_EQ(ref.size(), seq[0].size() * static_cast<size_t>(frames));
  for (int k = 0; k < frames; k++)
    EXPECT_GT(MT::Psnr(seq[static_cast<size_t>(k)].data(), ref.data() + seq[0].size() * static_cast<size_t>(k),
                       seq[0].size()),
              35.0)
        << "frame " << k;
  ExpectRandomAccessMatches(name, info, seq);
}

TEST_F(PavaneRead, Mpeg1ElementaryStream) {
  NEED_FFMPEG();
  const std::string m1v = dir.File("a.m1v");
  ASSERT_TRUE(MT::Run(std::string("ffmpeg -nostdin -y ") + kVideoSource +
                      "-frames:v 40 -c:v mpeg1video -bf 2 -g 12 -q:v 3 '" + m1v + "'"));
  EXPECT_EQ(mpg_get_type(m1v.c_str()), kTypeVideo);
  CheckVideoFile(m1v, dir.File("a.raw"), 40, 3, 0, 0);
}

TEST_F(PavaneRead, Mpeg2ElementaryStreamWithOpenGops) {
  NEED_FFMPEG();
  const std::string m2v = dir.File("a.m2v");
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -f lavfi -i testsrc=size=96x64:rate=30000/1001 "
                      "-frames:v 37 -c:v mpeg2video -bf 3 -g 9 -q:v 3 '" + m2v + "'"));
  EXPECT_EQ(mpg_get_type(m2v.c_str()), kTypeVideo);
  CheckVideoFile(m2v, dir.File("a.raw"), 37, 4, 1, 0);
}

void CheckAudioFile(const std::string& name, const std::string& raw, int layer, int rate,
                    int channels);

TEST_F(PavaneRead, ProgramStreamWithLayerTwoSound) {
  NEED_FFMPEG();
  const std::string ps = dir.File("a.mpg");
  ASSERT_TRUE(MT::Run(std::string("ffmpeg -nostdin -y ") + kVideoSource +
                      "-f lavfi -i sine=frequency=1000:sample_rate=48000 -frames:v 30 "
                      "-t 1.2 -c:v mpeg2video -q:v 3 -c:a mp2 -b:a 192k -ac 2 -f vob '" + ps + "'"));
  EXPECT_EQ(mpg_get_type(ps.c_str()), kTypeSystem);
  CheckVideoFile(ps, dir.File("v.raw"), 30, 3, 1, 1);

  MpgAudioInfo a;
  ASSERT_TRUE(mpg_audio_info(ps.c_str(), &a, nullptr, nullptr));
  EXPECT_EQ(a.layer, 2);
  EXPECT_EQ(a.rate, 48000.0);
  EXPECT_EQ(a.channels, 2);
  EXPECT_EQ(a.bits, 16);
  EXPECT_EQ(a.lsf, 0);
  EXPECT_EQ(a.bitRate, 192);
  // Sample count, samples and seeks against ffmpeg, as for a sound file.
  CheckAudioFile(ps, dir.File("a.raw"), 2, 48000, 2);
}

// A Layer I stream of silent frames: header, no bits allocated.
void WriteLayerOne(const std::string& name, int frames) {
  // 44100 Hz, 128 kbit/s, stereo: 12 * 128000 / 44100 = 34 slots of 4 bytes.
  std::vector<uint8_t> b;
  for (int i = 0; i < frames; i++) {
    const uint8_t hdr[4] = {0xFF, 0xFF, 0x40, 0x00};  // sync, MPEG-1, Layer I, no CRC; 128k, 44100
    size_t at = b.size();
    b.resize(at + 34 * 4, 0);
    std::memcpy(&b[at], hdr, 4);
  }
  MT::WriteBytes(name, b);
}

void CheckAudioFile(const std::string& name, const std::string& raw, int layer, int rate,
                    int channels) {
  MpgAudioInfo a;
  ASSERT_TRUE(mpg_audio_info(name.c_str(), &a, nullptr, nullptr));
  EXPECT_EQ(a.layer, layer);
  EXPECT_EQ(a.rate, rate);
  EXPECT_EQ(a.channels, channels);
  EXPECT_EQ(a.lsf, rate < 32000 ? 1 : 0);
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -i '" + name + "' -f s16le '" + raw + "'"));
  const std::vector<int16_t> ref = MT::ReadS16(raw);
  ASSERT_EQ(static_cast<size_t>(a.frames) * static_cast<size_t>(channels), ref.size());

  MpgAudioReader* r = mpg_audio_open(name.c_str(), nullptr, nullptr);
  ASSERT_NE(r, nullptr);
  std::vector<int16_t> all(ref.size() + 1000);
  const int32_t got = mpg_audio_read(r, all.data(), a.frames + 500);
  ASSERT_EQ(got, a.frames);
  all.resize(static_cast<size_t>(got) * channels);
  int maxDiff = 0;
  for (size_t i = 0; i < ref.size(); i++) maxDiff = std::max(maxDiff, std::abs(all[i] - ref[i]));
  EXPECT_LE(maxDiff, 1);
  EXPECT_EQ(mpg_audio_read(r, all.data(), 10), 0);

  // Sample-exact seeks, backwards and forwards. The decoder dithers its
  // output with a state that a seek restarts, so values may differ by one
  // step; a sample early or late would differ by hundreds on this sine.
  std::vector<int16_t> part(700 * static_cast<size_t>(channels));
  for (int32_t at : {a.frames / 2, 3, a.frames - 700, 1151, 1153, 0, a.frames / 3}) {
    ASSERT_TRUE(mpg_audio_seek(r, at)) << at;
    ASSERT_EQ(mpg_audio_read(r, part.data(), 700), 700) << at;
    int worst = 0;
    for (size_t i = 0; i < part.size(); i++)
      worst = std::max(worst, std::abs(part[i] - all[static_cast<size_t>(at) * channels + i]));
    EXPECT_LE(worst, 1) << "at " << at;
  }
  ASSERT_TRUE(mpg_audio_seek(r, a.frames));
  EXPECT_EQ(mpg_audio_read(r, part.data(), 10), 0);
  EXPECT_FALSE(mpg_audio_seek(r, a.frames + 1));
  EXPECT_FALSE(mpg_audio_seek(r, -1));
  mpg_audio_close(r);
}

TEST_F(PavaneRead, LayerOneTwoAndThreeFiles) {
  NEED_FFMPEG();
  const std::string mp1 = dir.File("a.mp1"), mp2 = dir.File("a.mp2"), mp3 = dir.File("a.mp3"),
                    lsf = dir.File("lsf.mp3"), raw = dir.File("a.raw");
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -f lavfi -i sine=frequency=440:sample_rate=44100 -t 0.8 -ac 2 "
                      "-c:a mp2 -b:a 192k '" + mp2 + "'"));
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -f lavfi -i sine=frequency=440:sample_rate=32000 -t 0.9 -ac 1 "
                      "-c:a libmp3lame -b:a 64k '" + mp3 + "'"));
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -f lavfi -i sine=frequency=440:sample_rate=22050 -t 0.7 -ac 2 "
                      "-c:a libmp3lame -b:a 32k '" + lsf + "'"));
  WriteLayerOne(mp1, 30);
  EXPECT_EQ(mpg_get_type(mp2.c_str()), kTypeAudio);
  CheckAudioFile(mp2, raw, 2, 44100, 2);
  CheckAudioFile(mp3, raw, 3, 32000, 1);
  CheckAudioFile(lsf, raw, 3, 22050, 2);
  CheckAudioFile(mp1, raw, 1, 44100, 2);
  MpgAudioInfo a;
  ASSERT_TRUE(mpg_audio_info(mp1.c_str(), &a, nullptr, nullptr));
  EXPECT_EQ(a.frames, 30 * 384);
  // A sound file has no pictures.
  EXPECT_EQ(Describe(mp2).ok, 0);
}

struct ProgressLog {
  std::vector<double> fractions;
  int finals = 0;
  int stopAfter = -1;
  void* data = nullptr;
};
void OnProgress(ProgressRec* rec) {
  auto* log = static_cast<ProgressLog*>(rec->data);
  log->fractions.push_back(rec->fraction);
  log->finals += rec->finalCall;
  if (log->stopAfter >= 0 && static_cast<int>(log->fractions.size()) > log->stopAfter) rec->stop = 1;
}

TEST_F(PavaneRead, ScanReportsProgressAndStopsWhenAsked) {
  NEED_FFMPEG();
  const std::string m1v = dir.File("a.m1v");
  ASSERT_TRUE(MT::Run(std::string("ffmpeg -nostdin -y ") + kVideoSource +
                      "-frames:v 60 -c:v mpeg1video -q:v 2 '" + m1v + "'"));
  ProgressLog log;
  EXPECT_EQ(Describe(m1v, OnProgress, &log).ok, 1);
  ASSERT_GE(log.fractions.size(), 3u);
  EXPECT_TRUE(std::is_sorted(log.fractions.begin(), log.fractions.end()));
  EXPECT_EQ(log.fractions.back(), 100.0);
  EXPECT_EQ(log.finals, 1);

  ProgressLog stop;
  stop.stopAfter = 1;
  EXPECT_EQ(Describe(m1v, OnProgress, &stop).ok, 0);
  EXPECT_EQ(stop.fractions.size(), 2u);
  EXPECT_TRUE(g_errors.empty()) << "a stopped scan is no failure: " << g_errors[0];
  MpegReader* r = nullptr;
  stop.fractions.clear();
  EXPECT_EQ(OpenMPEG(&r, m1v.c_str(), 0, OnProgress, &stop), 0);
  EXPECT_EQ(r, nullptr);
}

TEST_F(PavaneRead, AFailedReadHandsOutTheLastFrameNeverGarbage) {
  NEED_FFMPEG();
  const std::string m1v = dir.File("a.m1v");
  ASSERT_TRUE(MT::Run(std::string("ffmpeg -nostdin -y ") + kVideoSource +
                      "-frames:v 5 -c:v mpeg1video '" + m1v + "'"));
  const Info info = Describe(m1v);
  ASSERT_EQ(info.frames, 5);
  const auto seq = ReadAll(m1v, info);
  ASSERT_EQ(seq.size(), 5u);
  MpegReader* r = nullptr;
  ASSERT_TRUE(OpenMPEG(&r, m1v.c_str(), 0, nullptr, nullptr));
  std::vector<uint8_t> f(seq[0].size(), 0xAB);
  ASSERT_TRUE(SeekMPEG(r, 4));
  ASSERT_TRUE(GetMPEGFrame(r, f.data()));
  std::fill(f.begin(), f.end(), 0xAB);
  EXPECT_FALSE(GetMPEGFrame(r, f.data()));  // past the end
  EXPECT_TRUE(f == seq[4]);
  CloseMPEG(r);
}

TEST_F(PavaneRead, OtherFilesAreNotMpeg) {
  const std::string txt = dir.File("a.mpg");
  TestUtil::WriteText(txt, std::string(5000, 'x'));
  EXPECT_EQ(mpg_get_type(txt.c_str()), kTypeNone);
  EXPECT_EQ(Describe(txt).ok, 0);
  MpgAudioInfo a;
  EXPECT_EQ(mpg_audio_info(txt.c_str(), &a, nullptr, nullptr), 0);
  EXPECT_EQ(mpg_audio_open(dir.File("missing.mp3").c_str(), nullptr, nullptr), nullptr);
  EXPECT_FALSE(g_errors.empty());
}

// Every damaged variant is described, opened, read and sought without a
// crash or a hang, and a frame buffer never keeps what it held before.
TEST_F(PavaneRead, TruncatedAndBitFlippedFilesNeverCrash) {
  NEED_FFMPEG();
  const std::string ps = dir.File("a.mpg"), m2v = dir.File("a.m2v"), mp3 = dir.File("a.mp3"),
                    bad = dir.File("bad.mpg");
  ASSERT_TRUE(MT::Run(std::string("ffmpeg -nostdin -y ") + kVideoSource +
                      "-f lavfi -i sine=sample_rate=44100 -frames:v 12 -t 0.5 "
                      "-c:v mpeg1video -bf 2 -g 6 -c:a mp2 -f mpeg '" + ps + "'"));
  ASSERT_TRUE(MT::Run(std::string("ffmpeg -nostdin -y ") + kVideoSource +
                      "-frames:v 12 -c:v mpeg2video -bf 2 -g 6 '" + m2v + "'"));
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -f lavfi -i sine=sample_rate=44100 -t 0.5 -c:a libmp3lame '" +
                      mp3 + "'"));
  uint32_t seed = 777;
  for (const std::string& source : {ps, m2v, mp3}) {
    const std::vector<uint8_t> good = MT::ReadBytes(source);
    for (int round = 0; round < 20; round++) {
      std::vector<uint8_t> b = good;
      if (round < 8) {
        b.resize(b.size() * static_cast<size_t>(round + 1) / 9);
      } else {
        for (int k = 0; k < round - 6; k++) {
          seed = seed * 1103515245u + 12345u;
          b[(seed >> 8) % b.size()] ^= static_cast<uint8_t>(1u << (seed % 8));
        }
      }
      MT::WriteBytes(bad, b);
      const Info info = Describe(bad);
      MpegReader* r = nullptr;
      if (info.ok && OpenMPEG(&r, bad.c_str(), 0, nullptr, nullptr)) {
        std::vector<uint8_t> f(static_cast<size_t>(info.w) * info.h * 3, 0xAB);
        for (int k : {0, info.frames - 1, info.frames / 2, 1}) {
          SeekMPEG(r, k);
          std::fill(f.begin(), f.end(), 0xAB);
          GetMPEGFrame(r, f.data());
          EXPECT_FALSE(std::all_of(f.begin(), f.end(), [](uint8_t v) { return v == 0xAB; }));
        }
        CloseMPEG(r);
      }
      MpgAudioInfo ai;
      const int32_t described = mpg_audio_info(bad.c_str(), &ai, nullptr, nullptr);
      MpgAudioReader* a = mpg_audio_open(bad.c_str(), nullptr, nullptr);
      EXPECT_EQ(described != 0, a != nullptr);
      if (a) {
        std::vector<int16_t> pcm(static_cast<size_t>(ai.channels) * 4096);
        int64_t total = 0;
        for (int32_t got; (got = mpg_audio_read(a, pcm.data(), 4096)) > 0;) total += got;
        EXPECT_LE(total, ai.frames);
        mpg_audio_seek(a, ai.frames / 2);
        mpg_audio_read(a, pcm.data(), 4096);
        mpg_audio_seek(a, 10);
        mpg_audio_read(a, pcm.data(), 100);
        mpg_audio_close(a);
      }
    }
  }
}

}  // namespace
