// The MPEG unit: its rate and format rules, files ffmpeg writes read by us
// (random access equal to sequential decoding), what we write read by
// ffprobe and ffmpeg, multiplexing without left-over stream files, and
// damaged files.
#include <gtest/gtest.h>

#include <dirent.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "formats/ConForm.h"
#include "formats/FF_MPG.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "media/ImgBasic.h"
#include "media/SndBasic.h"
#include "platform/MediaTools.h"
#include "formats/SoundTestUtil.h"
#include "support/TestUtil.h"

using namespace FF_MPG;
using Bytes = std::vector<uint8_t>;
using ImgBasic::Qimg;
namespace MT = MediaTools;
using soundtest::Q;
using soundtest::Try;

namespace {

#define NEED_FFMPEG()                                                  \
  if (!TestUtil::HaveTool("ffmpeg") || !TestUtil::HaveTool("ffprobe")) \
  GTEST_SKIP() << "ffmpeg not installed"

// Points the temporary folder at a test folder for the guard's lifetime.
class TempFolderGuard {
 public:
  explicit TempFolderGuard(const std::string& folder) {
    if (const char* old = std::getenv("TMPDIR")) old_ = old, had_ = true;
    setenv("TMPDIR", folder.c_str(), 1);
  }
  ~TempFolderGuard() {
    if (had_)
      setenv("TMPDIR", old_.c_str(), 1);
    else
      unsetenv("TMPDIR");
  }

 private:
  std::string old_;
  bool had_ = false;
};

// A frame with a gradient and a box that moves with n.
void MakeFrame(Qimg* img, int w, int h, int n) {
  ImgBasic::_imgalloc_(img, w, h, "test.mpg", __LINE__, 24);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      uint8_t* p = img->data + (size_t(y) * w + x) * 3;
      const bool box = x >= (n * 4) % w && x < (n * 4) % w + 12 && y >= 10 && y < 26;
      p[0] = box ? 30 : uint8_t(x * 255 / w);
      p[1] = box ? 220 : uint8_t(y * 255 / h);
      p[2] = box ? 40 : uint8_t((x + y) * 2);
    }
}

// Files left in a folder whose names start with prefix.
int CountFiles(const std::string& folder, const std::string& prefix) {
  int n = 0;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d))
      if (std::string(e->d_name).rfind(prefix, 0) == 0) n++;
    closedir(d);
  }
  return n;
}

// The frames ffmpeg decodes from a file, as B,G,R rows.
std::vector<Bytes> PeerFrames(const std::string& name, const std::string& raw, int w, int h) {
  std::vector<Bytes> frames;
  if (!MT::Run("ffmpeg -nostdin -y -i " + Q(name) + " -fps_mode passthrough -f rawvideo -pix_fmt bgr24 " + Q(raw)))
    return frames;
  const Bytes all = MT::ReadBytes(raw);
  const size_t n = size_t(w) * h * 3;
  for (size_t at = 0; at + n <= all.size(); at += n) frames.emplace_back(all.begin() + at, all.begin() + at + n);
  return frames;
}

TEST(Mpg, RateAndFormatRules) {
  EXPECT_EQ(MpgStdFrameRateCode(29.97002997), 4);
  EXPECT_EQ(MpgStdFrameRateCode(30.5), 6);
  EXPECT_EQ(MpgStdFrameRate(30.5), 50.0);
  EXPECT_EQ(MpgStdFrameRateCode(15), 2);
  EXPECT_EQ(MpgStdFrameRate(15), 24.0);
  EXPECT_EQ(MpgStdFrameRateCode(100), 8);
  EXPECT_EQ(MpgStdFrameRateCode(25), 3);
  MpgInit();
  EXPECT_EQ(MpgVideoBitRate(Basic::K_AUTO), 1700);
  EXPECT_EQ(MpgAudioBitRate(Basic::K_AUTO), 224);
  EXPECT_EQ(MpgVideoBitRate(200000), 104857);
  EXPECT_EQ(MpgVideoBitRate(-5), 0);
  EXPECT_EQ(MpgVideoBitRate(1150), 1150);
  EXPECT_EQ(MpgAudioBitRate(10), 32);
  EXPECT_EQ(MpgAudioBitRate(500), 384);
  SndBasic::WaveFormatEx src, out;
  const struct { uint32_t in, want; } rates[] = {{8000, 32000}, {32000, 32000}, {32001, 44100},
                                                 {44100, 44100}, {44101, 48000}, {96000, 48000}};
  for (const auto& r : rates) {
    SndBasic::WaveFormatSetPCM(src, int32_t(r.in), 1, 8);
    EXPECT_TRUE(MpgSndFormat(src, &out, false));
    EXPECT_EQ(out.samplesPerSec, r.want);
    EXPECT_EQ(out.bitsPerSample, 16);
    EXPECT_EQ(out.channels, 1);
    EXPECT_EQ(out.blockAlign, 2);
  }
  SndBasic::WaveFormatSetPCM(src, 22050, 6, 16);
  EXPECT_TRUE(MpgSndFormat(src, &out, true));
  EXPECT_EQ(out.channels, 2);
  EXPECT_EQ(out.avgBytesPerSec, 32000u * 4);
}

// The rate a file is described with is its sequence header's frame-rate
// code: the first and last codes of the table, and the first one past it.
TEST(MpgRead, FrameRateCodesOfTheSequenceHeader) {
  NEED_FFMPEG();
  TestUtil::TempDir dir;
  const std::string made = dir.File("r.m1v");
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -f lavfi -i testsrc=size=32x32:rate=24000/1001 -frames:v 2 "
                      "-c:v mpeg1video " + Q(made)));
  Bytes file = MT::ReadBytes(made);
  ASSERT_TRUE(file.size() > 8 && file[3] == 0xB3 && (file[7] & 15) == 1);
  for (const auto& [code, fps] : {std::pair{1, 24000.0 / 1001}, {8, 60.0}, {9, 0.0}}) {
    file[7] = static_cast<uint8_t>((file[7] & 0xF0) | code);
    const std::string name = dir.File("r" + std::to_string(code) + ".m1v");
    MT::WriteBytes(name, file);
    ConForm::FFInfoRec info;
    MpgInfo(name, &info, nullptr, nullptr);
    ASSERT_TRUE(info.picture.hasPictures) << code;
    EXPECT_DOUBLE_EQ(info.picture.fps, fps) << code;
  }
  // A stream joined to one of another rate keeps its first header's rate,
  // although that header gives no bit rate (ffmpeg writes it variable).
  ASSERT_TRUE(file[8] == 0xFF && file[9] == 0xFF && (file[10] & 0xC0) == 0xC0);
  Bytes joined = file;
  joined[7] = static_cast<uint8_t>((file[7] & 0xF0) | 1);
  file[7] = static_cast<uint8_t>((file[7] & 0xF0) | 8);
  joined.insert(joined.end(), file.begin(), file.end());
  MT::WriteBytes(dir.File("joined.m1v"), joined);
  ConForm::FFInfoRec info;
  MpgInfo(dir.File("joined.m1v"), &info, nullptr, nullptr);
  EXPECT_DOUBLE_EQ(info.picture.fps, 24000.0 / 1001);
}

TEST(MpgRead, PeerVideoRandomAccessEqualsSequential) {
  NEED_FFMPEG();
  TestUtil::TempDir dir;
  for (const char* kind : {"m1v", "m2v", "mpg"}) {
    SCOPED_TRACE(kind);
    const std::string name = dir.File(std::string("peer.") + kind);
    const std::string codec = std::string(kind) == "m2v" ? "mpeg2video" : "mpeg1video";
    std::string cmd = "ffmpeg -nostdin -y -f lavfi -i testsrc=size=96x64:rate=25:duration=0.96 ";
    if (std::string(kind) == "mpg")
      cmd += "-f lavfi -i sine=frequency=500:sample_rate=44100:duration=0.96 -c:a mp2 -f mpeg ";
    ASSERT_TRUE(MT::Run(cmd + "-c:v " + codec + " -bf 2 -g 12 " + Q(name)));
    ConForm::FFInfoRec info;
    MpgInfo(name, &info, nullptr, nullptr);
    ASSERT_TRUE(Errors::ErrNone()) << Errors::ErrLastText();
    EXPECT_TRUE(info.picture.hasPictures);
    EXPECT_EQ(info.picture.width, 96);
    EXPECT_EQ(info.picture.height, 64);
    EXPECT_EQ(info.picture.frameCount, 24);
    EXPECT_EQ(info.picture.fps, 25.0);
    EXPECT_EQ(info.picture.videoCompression, codec == "mpeg2video" ? "MPEG-2" : "MPEG-1");
    EXPECT_EQ(info.sound.hasSound, std::string(kind) == "mpg");

    MpgFileRec mpg;
    MpgOpen(&mpg, name, 0, nullptr, nullptr);
    ASSERT_TRUE(mpg.readingVideo);
    EXPECT_EQ(mpg.type, codec == "mpeg2video" ? kTypeMpeg2 : kTypeMpeg1);
    std::vector<Bytes> seq;
    Qimg img;
    for (int k = 1; k <= 24; k++) {
      MpgImgLoad(&mpg, &img, 0, 0);
      seq.emplace_back(img.data, img.data + img.size);
    }
    EXPECT_FALSE(mpg.endFlag);
    // ffmpeg's own decoding of the same frames.
    const auto peer = PeerFrames(name, dir.File("v.raw"), 96, 64);
    ASSERT_EQ(peer.size(), 24u);
    for (int k = 0; k < 24; k++) EXPECT_GT(MT::Psnr(seq[k].data(), peer[k].data(), seq[k].size()), 40.0) << k;
    for (int k : {17, 3, 24, 1, 12, 13, 5}) {
      MpgImgLoad(&mpg, &img, k, 0);
      EXPECT_TRUE(Bytes(img.data, img.data + img.size) == seq[size_t(k - 1)]) << k;
    }
    // Continuing on the frame just loaded delivers that frame again.
    MpgImgLoad(&mpg, &img, 5, 0);
    MpgImgLoad(&mpg, &img, 5, 1);
    EXPECT_TRUE(Bytes(img.data, img.data + img.size) == seq[4]);
    // Reading past the end: the last frame, and the end flag.
    MpgImgLoad(&mpg, &img, 24, 0);
    MpgImgLoad(&mpg, &img, 0, 0);
    EXPECT_TRUE(mpg.endFlag);
    EXPECT_TRUE(Bytes(img.data, img.data + img.size) == seq[23]);
    EXPECT_TRUE(Errors::ErrNone());
    EXPECT_THROW(MpgImgLoad(&mpg, &img, 25, 0), Errors::EMon);
    EXPECT_EQ(Errors::ErrClass(), 12);
    EXPECT_EQ(Errors::ErrCode(), 1);
    ImgBasic::ImgFree(&img);
    MpgClose(&mpg);
  }
}

TEST(MpgRead, PeerAudioIsSampleExact) {
  NEED_FFMPEG();
  TestUtil::TempDir dir;
  const struct { const char* ext; const char* codec; int ch; const char* name; } cases[] = {
      {"mp2", "mp2", 2, "MPEG-1, Layer-II"},
      {"mp3", "libmp3lame", 1, "MPEG-1, Layer-III (MP3)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ext);
    const std::string name = dir.File(std::string("a.") + c.ext);
    ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -f lavfi -i sine=frequency=700:sample_rate=44100:duration=1.3 -ac " +
                        std::to_string(c.ch) + " -c:a " + c.codec + " " + Q(name)));
    ConForm::FFInfoRec info;
    ConForm::FFInfo(name, 18, &info, nullptr, nullptr);
    ASSERT_TRUE(Errors::ErrNone()) << Errors::ErrLastText();
    EXPECT_FALSE(info.picture.hasPictures);
    EXPECT_TRUE(info.sound.hasSound);
    EXPECT_TRUE(info.sound.soundReadable);
    EXPECT_EQ(info.sound.audioCompression, c.name);
    EXPECT_EQ(info.sound.wave.samplesPerSec, 44100u);
    EXPECT_EQ(info.sound.wave.channels, c.ch);
    EXPECT_EQ(info.dataRate, 0);  // only a video bit rate starts one
    const std::string raw = dir.File("a.raw");
    ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -i " + Q(name) + " -f s16le " + Q(raw)));
    const std::vector<int16_t> peer = MT::ReadS16(raw);
    EXPECT_NEAR(double(info.sound.sampleFrames), double(peer.size()) / c.ch, 1152.0 * 2);

    MpgFileRec mpg;
    MpgOpen(&mpg, name, 0, nullptr, nullptr);
    ASSERT_TRUE(mpg.readingAudio);
    SndBasic::SndRec s;
    std::vector<int16_t> all;
    for (int32_t pos = 0;;) {
      MpgSndLoad(&mpg, &s, pos, 1, 3001);
      if (s.frames == 0) break;
      const int16_t* p = reinterpret_cast<int16_t*>(s.data);
      all.insert(all.end(), p, p + size_t(s.frames) * c.ch);
      pos += s.frames;
    }
    EXPECT_EQ(int64_t(all.size()) / c.ch, info.sound.sampleFrames);
    std::vector<int16_t> left(all.size() / c.ch);
    for (size_t i = 0; i < left.size(); i++) left[i] = all[i * c.ch];
    EXPECT_NEAR(MT::ZeroCrossingFrequency(left, 1, 44100), 700.0, 3.0);
    for (int32_t start : {44000, 1, 12345, 1152}) {
      MpgSndLoad(&mpg, &s, start, 0, 16);
      ASSERT_EQ(s.frames, 16);
      // The right samples; a decoder started at a seek point may round
      // them one step apart from one that ran from the start.
      const int16_t* p = reinterpret_cast<int16_t*>(s.data);
      for (int i = 0; i < 16 * c.ch; i++) EXPECT_NEAR(p[i], all[size_t(start) * c.ch + i], 2) << start << " " << i;
    }
    SndBasic::SndFree(s);
    MpgClose(&mpg);
  }
}

struct ProgressLog {
  int calls = 0;
  double lowest = 1e9, highest = -1e9;
  int stopAt = -1;  // stop the scan on this call
};

void LogProgress(ConForm::InfoProgressRec* rec) {
  auto* log = static_cast<ProgressLog*>(rec->data);
  log->calls++;
  if (rec->fraction >= 0) {
    log->lowest = std::min(log->lowest, rec->fraction);
    log->highest = std::max(log->highest, rec->fraction);
  }
  if (log->calls == log->stopAt) rec->stop = true;
}

TEST(MpgRead, ScanProgressAndStop) {
  NEED_FFMPEG();
  TestUtil::TempDir dir;
  const std::string name = dir.File("p.mpg");
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -f lavfi -i testsrc=size=64x48:rate=25:duration=2 -f lavfi -i "
                      "sine=sample_rate=44100:duration=2 -c:v mpeg1video -c:a mp2 -f mpeg " + Q(name)));
  ProgressLog log;
  ConForm::FFInfoRec info;
  ConForm::FFInfo(name, ConForm::kFmtMPEG, &info, &log, LogProgress);
  ASSERT_TRUE(Errors::ErrNone());
  EXPECT_FALSE(info.aborted);
  EXPECT_GT(log.calls, 0);
  EXPECT_GE(log.lowest, 0.0);
  EXPECT_LE(log.highest, 100.0);
  EXPECT_TRUE(info.picture.hasPictures);
  EXPECT_TRUE(info.sound.hasSound);
  // A stop asked by the host ends the description, and an open fails.
  ProgressLog stop;
  stop.stopAt = 1;
  MpgInfo(name, &info, LogProgress, &stop);
  EXPECT_TRUE(info.aborted);
  stop.calls = 0;
  MpgFileRec mpg;
  EXPECT_THROW(MpgOpen(&mpg, name, 0, &stop, LogProgress), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 12);
  EXPECT_EQ(Errors::ErrCode(), 6);
}

TEST(MpgRead, LayerOneIsDescribedButNotReadable) {
  TestUtil::TempDir dir;
  // Silent Layer I frames: 32 kbit/s, 32 kHz, mono, no allocation at all.
  Bytes file;
  for (int i = 0; i < 60; i++) {
    const uint8_t head[4] = {0xFF, 0xFF, 0x18, 0xC0};
    file.insert(file.end(), head, head + 4);
    file.resize(file.size() + 44, 0);
  }
  const std::string name = dir.File("l1.mp2");
  MT::WriteBytes(name, file);
  ConForm::FFInfoRec info;
  MpgInfo(name, &info, nullptr, nullptr);
  ASSERT_TRUE(Errors::ErrNone()) << Errors::ErrLastText();
  EXPECT_TRUE(info.sound.hasSound);
  EXPECT_EQ(info.sound.audioCompression, "MPEG-1, Layer-I");
  EXPECT_FALSE(info.sound.soundReadable);
}

void WriteMovie(const std::string& name, int type, int w, int h, int frames, double fps,
                int announced, int soundChannels, bool soundFirst) {
  MpgSetType(type);
  MpgFileRec mpg;
  MpgCreate(&mpg, name, fps, announced);
  Qimg img;
  SndBasic::SndRec s;
  auto sound = [&] {
    const int32_t n = 48000 / 10;
    SndBasic::_sndalloc_(s, int64_t{n} * soundChannels * 2, __LINE__, "test.mpg");
    int16_t* p = reinterpret_cast<int16_t*>(s.data);
    for (int32_t i = 0; i < n; i++)
      for (int c = 0; c < soundChannels; c++) p[i * soundChannels + c] = int16_t(9000 * std::sin(i * 0.07));
    s.frames = n;
    SndBasic::WaveFormatSetPCM(s.format, 48000, soundChannels, 16);
    for (int b = 0; b < 5; b++) MpgSndSave(&mpg, &s);
  };
  if (soundChannels > 0 && soundFirst) sound();
  for (int k = 0; k < frames; k++) {
    MakeFrame(&img, w, h, k);
    MpgImgSave(&mpg, &img);
  }
  if (soundChannels > 0 && !soundFirst) sound();
  ImgBasic::ImgFree(&img);
  SndBasic::SndFree(s);
  MpgClose(&mpg);
}

TEST(MpgWrite, EveryTypeIsReadByThePeers) {
  NEED_FFMPEG();
  TestUtil::TempDir dir;
  TempFolderGuard tmp(dir.path());
  const char* codecs[] = {"mpeg1video", "mpeg1video", "mpeg2video", "mpeg2video", "mpeg2video"};
  for (int type = 0; type <= 4; type++) {
    SCOPED_TRACE(type);
    const std::string name = dir.File("t" + std::to_string(type) + ".mpg");
    // 70 x 50 is padded to 80 x 64; frames announced 0 still writes at the rate given.
    WriteMovie(name, type, 70, 50, 10, 25.0, 0, 0, false);
    ASSERT_TRUE(Errors::ErrNone()) << Errors::ErrLastText();
    EXPECT_EQ(MT::Probe(name, "v:0", "codec_name"), codecs[type]);
    EXPECT_EQ(MT::Probe(name, "v:0", "width"), "80");
    EXPECT_EQ(MT::Probe(name, "v:0", "height"), "64");
    EXPECT_EQ(MT::Probe(name, "v:0", "r_frame_rate"), "25/1");
    EXPECT_EQ(MT::ProbeFrameCount(name, "v:0"), 10);
    EXPECT_EQ(MT::ProbeStreamCount(name, "audio"), 0);
    // The peer's decoding of our frames is close to what we gave.
    const auto peer = PeerFrames(name, dir.File("v.raw"), 80, 64);
    ASSERT_EQ(peer.size(), 10u);
    Qimg img, padded;
    for (int k = 0; k < 10; k++) {
      MakeFrame(&img, 70, 50, k);
      ImgBasic::_imgalloc_(&padded, 80, 64, "test.mpg", __LINE__, 24);
      std::memset(padded.data, 0, size_t(padded.size));
      for (int y = 0; y < 50; y++) std::memcpy(padded.data + y * 240, img.data + y * 210, 210);
      EXPECT_GT(MT::Psnr(padded.data, peer[k].data(), peer[k].size()), 25.0) << k;
    }
    // And we read it back ourselves.
    ConForm::FFInfoRec info;
    MpgInfo(name, &info, nullptr, nullptr);
    EXPECT_EQ(info.picture.frameCount, 10);
    MpgFileRec mpg;
    MpgOpen(&mpg, name, 0, nullptr, nullptr);
    MpgImgLoad(&mpg, &img, 4, 0);
    EXPECT_GT(MT::Psnr(img.data, peer[3].data(), peer[3].size()), 40.0);
    MpgClose(&mpg);
    ImgBasic::ImgFree(&img);
    ImgBasic::ImgFree(&padded);
  }
  EXPECT_EQ(CountFiles(dir.path(), "mpv-") + CountFiles(dir.path(), "mpa-") +
                CountFiles(dir.path(), "mplex-"), 0);
}

TEST(MpgWrite, SoundAloneIsLayerTwoMixedDownToStereo) {
  NEED_FFMPEG();
  TestUtil::TempDir dir;
  const std::string name = dir.File("s.mp2");
  MpgAudioBitRate(192);
  WriteMovie(name, 0, 0, 0, 0, 25.0, 0, 6, false);
  ASSERT_TRUE(Errors::ErrNone()) << Errors::ErrLastText();
  EXPECT_EQ(MT::Probe(name, "a:0", "codec_name"), "mp2");
  EXPECT_EQ(MT::Probe(name, "a:0", "channels"), "2");
  EXPECT_EQ(MT::Probe(name, "a:0", "sample_rate"), "48000");
  EXPECT_EQ(MT::Probe(name, "a:0", "bit_rate"), "192000");
  EXPECT_EQ(MT::ProbeStreamCount(name, "video"), 0);
  const std::string raw = dir.File("s.raw");
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -i " + Q(name) + " -f s16le " + Q(raw)));
  EXPECT_NEAR(double(MT::ReadS16(raw).size()) / 2, 24000.0, 1152.0 * 2);
}

TEST(MpgWrite, VideoAndSoundAreMultiplexedWhicheverComesFirst) {
  NEED_FFMPEG();
  TestUtil::TempDir dir;
  TempFolderGuard tmp(dir.path());
  for (int type : {0, 2}) {
    for (bool soundFirst : {false, true}) {
      SCOPED_TRACE(std::to_string(type) + (soundFirst ? " sound first" : " video first"));
      const std::string name = dir.File("av.mpg");
      WriteMovie(name, type, 64, 48, 12, 29.97002997002997, 12, 2, soundFirst);
      ASSERT_TRUE(Errors::ErrNone()) << Errors::ErrLastText();
      EXPECT_EQ(MT::ProbeStreamCount(name, "video"), 1);
      EXPECT_EQ(MT::ProbeStreamCount(name, "audio"), 1);
      EXPECT_EQ(MT::Probe(name, "a:0", "codec_name"), "mp2");
      EXPECT_EQ(MT::Probe(name, "v:0", "r_frame_rate"), "30000/1001");
      EXPECT_EQ(MT::ProbeFrameCount(name, "v:0"), 12);
      ConForm::FFInfoRec info;
      MpgInfo(name, &info, nullptr, nullptr);
      EXPECT_TRUE(info.picture.hasPictures);
      EXPECT_TRUE(info.sound.hasSound);
      EXPECT_EQ(CountFiles(dir.path(), "mpv-") + CountFiles(dir.path(), "mpa-") +
                    CountFiles(dir.path(), "mplex-"), 0);
    }
  }
}

TEST(MpgWrite, FailedMultiplexLeavesNoFiles) {
  NEED_FFMPEG();
  TestUtil::TempDir dir;
  TempFolderGuard tmp(dir.path());
  MpgSetType(0);
  const std::string name = dir.File("f.mpg");
  MpgFileRec mpg;
  MpgCreate(&mpg, name, 25.0, 3);
  Qimg img;
  MakeFrame(&img, 32, 32, 0);
  MpgImgSave(&mpg, &img);
  SndBasic::SndRec s;
  SndBasic::_sndalloc_(s, 4000, __LINE__, "test.mpg");
  s.frames = 1000;
  SndBasic::WaveFormatSetPCM(s.format, 44100, 2, 16);
  MpgSndSave(&mpg, &s);
  // A block in another format is refused.
  SndBasic::WaveFormatSetPCM(s.format, 44100, 1, 16);
  EXPECT_THROW(MpgSndSave(&mpg, &s), Errors::EMon);
  EXPECT_EQ(Errors::ErrCode(), 2);
  ASSERT_EQ(CountFiles(dir.path(), "mpa-"), 1);
  // The sound stream vanishes before the multiplexer can read it.
  Basic::FDelete(mpg.audioName);
  EXPECT_THROW(MpgClose(&mpg), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass() == 12 || Errors::ErrClass() == 1, true);
  EXPECT_FALSE(Basic::FileExists(name));
  EXPECT_EQ(CountFiles(dir.path(), "mpv-") + CountFiles(dir.path(), "mpa-") +
                CountFiles(dir.path(), "mplex-"), 0);
  ImgBasic::ImgFree(&img);
  SndBasic::SndFree(s);
}

TEST(MpgRobust, TruncatedAndBitFlippedFiles) {
  NEED_FFMPEG();
  TestUtil::TempDir dir;
  const std::string m1v = dir.File("g.m1v"), mp2 = dir.File("g.mp2"), mpg = dir.File("g.mpg");
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -f lavfi -i testsrc=size=48x32:rate=25:duration=0.4 -c:v mpeg1video " + Q(m1v)));
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -f lavfi -i sine=sample_rate=32000:duration=0.3 -c:a mp2 " + Q(mp2)));
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -i " + Q(m1v) + " -i " + Q(mp2) + " -c copy -f mpeg " + Q(mpg)));
  for (const std::string& good : {m1v, mp2, mpg}) {
    const Bytes whole = MT::ReadBytes(good);
    const std::string bad = dir.File("bad" + good.substr(good.size() - 4));
    auto exercise = [&](const Bytes& b) {
      MT::WriteBytes(bad, b);
      ConForm::FFInfoRec info;
      Try([&] { MpgInfo(bad, &info, nullptr, nullptr); });
      MpgFileRec h;
      Qimg img;
      SndBasic::SndRec s;
      Try([&] {
        MpgOpen(&h, bad, 0, nullptr, nullptr);
        for (int k = 0; k < h.frameCount + 2 && h.readingVideo; k++) Try([&] { MpgImgLoad(&h, &img, k % 3 == 2 ? h.frameCount - k : 0, 0); });
        if (h.readingAudio) {
          MpgSndLoad(&h, &s, 0, 0, 5000);
          Try([&] { MpgSndLoad(&h, &s, 3000, 0, 500); });
        }
      });
      ImgBasic::ImgFree(&img);
      SndBasic::SndFree(s);
      Try([&] { MpgClose(&h); });
      Errors::ErrClear();
    };
    for (size_t cut : {size_t(0), size_t(5), size_t(40), whole.size() / 3, whole.size() - 3})
      exercise(Bytes(whole.begin(), whole.begin() + std::min(cut, whole.size())));
    uint32_t seed = 4242;
    for (int round = 0; round < 12; round++) {
      Bytes b = whole;
      for (int k = 0; k < 4; k++) {
        seed = seed * 1103515245u + 12345u;
        b[(seed >> 8) % b.size()] ^= uint8_t(1u << ((seed >> 4) & 7));
      }
      exercise(b);
    }
  }
  EXPECT_EQ(Errors::MonDepth(), 0);
}

}  // namespace
