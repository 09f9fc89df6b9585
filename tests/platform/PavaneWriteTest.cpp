// Writing MPEG through the layers: MPEG-1 and VCD video, MPEG-2 video fed
// through a three-slot frame ring, Layer II sound, and every system-stream
// flavour, each checked with ffprobe/ffmpeg and read back by the layer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/MediaTools.h"
#include "platform/Morrow.h"
#include "platform/Pavane.h"
#include "support/TestUtil.h"

using TestUtil::TempDir;
namespace MT = MediaTools;

namespace {

#define NEED_FFMPEG()                                                  \
  if (!TestUtil::HaveTool("ffmpeg") || !TestUtil::HaveTool("ffprobe")) \
  GTEST_SKIP() << "ffmpeg not installed"

constexpr int kW = 160, kH = 112, kFrames = 20;

std::vector<std::string> g_errors;
void CollectError(const char* message) { g_errors.push_back(message); }

// A smooth moving picture: packed B, G, R rows.
std::vector<uint8_t> Picture(int k) {
  std::vector<uint8_t> p(static_cast<size_t>(kW) * kH * 3);
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) {
      uint8_t* px = &p[(static_cast<size_t>(y) * kW + x) * 3];
      px[0] = static_cast<uint8_t>(128 + 90 * std::sin((x + 2 * k) / 11.0));
      px[1] = static_cast<uint8_t>(128 + 90 * std::cos((y + k) / 9.0));
      px[2] = static_cast<uint8_t>(128 + 90 * std::sin((x + y - 3 * k) / 15.0));
    }
  return p;
}

// Every decoded frame against its source picture.
void ExpectFramesClose(const std::string& file, int frames, double minPsnr) {
  const std::string raw = file + ".bgr";
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -i '" + file + "' -map 0:v:0 -fps_mode passthrough "
                      "-f rawvideo -pix_fmt bgr24 '" + raw + "'"));
  const std::vector<uint8_t> dec = MT::ReadBytes(raw);
  const size_t n = static_cast<size_t>(kW) * kH * 3;
  ASSERT_EQ(dec.size(), n * static_cast<size_t>(frames));
  for (int k = 0; k < frames; k++)
    EXPECT_GT(MT::Psnr(dec.data() + n * static_cast<size_t>(k), Picture(k).data(), n), minPsnr)
        << "frame " << k;
}

class MpegWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    g_errors.clear();
    Pavane::PavaneErrorFuncSet(CollectError);
    Morrow::EncErrorFuncSet(CollectError);
  }
  void TearDown() override {
    Pavane::PavaneErrorFuncSet(nullptr);
    Morrow::EncErrorFuncSet(nullptr);
    Morrow::GetImgPtrFuncSet(nullptr);
  }
  TempDir dir;
};

bool WriteMpeg1(const std::string& name, int32_t type, double rate, int32_t bitRate = 0) {
  Pavane::MpgVideoEncoder* e = Pavane::mpg_video_create(name.c_str(), kW, kH, rate, type);
  if (!e) return false;
  if (bitRate > 0) Pavane::mpg_video_set_bitrate(e, bitRate);
  bool ok = true;
  for (int k = 0; k < kFrames; k++) ok = ok && Pavane::mpg_video_write(e, Picture(k).data());
  return Pavane::mpg_video_close(e) && ok;
}

// The MPEG-2 writer's frame ring: three slots tagged with frame numbers;
// the encoder asks for frames through the callback.
struct Ring {
  std::vector<uint8_t> slot[3];
  int32_t tag[3] = {-1, -1, -1};
  int asked = 0, filled = 0;
  int32_t announced = 0, written = 0;
  Morrow::MpegEncoder* enc = nullptr;
  static Ring* current;
  static void GetImgPtr(int32_t frame, uint8_t** pixels) {
    *pixels = nullptr;
    for (int i = 0; i < 3; i++)
      if (current->tag[i] == frame) {
        current->asked = i;
        *pixels = current->slot[i].data();
      }
  }
  bool Put(const std::vector<uint8_t>& picture) {
    bool ok = true;
    if (filled < 3) {
      slot[filled] = picture;
      tag[filled] = written;
      filled++;
      Morrow::SetNumFramesMPEG(enc, ++announced);
    } else {
      Morrow::SetNumFramesMPEG(enc, ++announced);
      ok = Morrow::PutMPEGFrame(enc);
      slot[asked] = picture;
      tag[asked] = written;
    }
    written++;
    return ok;
  }
  bool Close() {
    bool ok = true;
    for (int i = 0; i < filled && ok; i++) ok = Morrow::PutMPEGFrame(enc);
    return Morrow::CloseMPEGEnc(enc) && ok;
  }
};
Ring* Ring::current = nullptr;

bool WriteMpeg2(const std::string& name, int32_t rateCode, double bitRate) {
  Ring ring;
  Ring::current = &ring;
  Morrow::GetImgPtrFuncSet(Ring::GetImgPtr);
  Morrow::EncParams p;
  p.width = kW;
  p.height = kH;
  p.rateCode = rateCode;
  p.bitRate = bitRate;
  if (!Morrow::CreateMPEG(&ring.enc, name.c_str(), &p)) return false;
  bool ok = true;
  for (int k = 0; k < kFrames; k++) ok = ring.Put(Picture(k)) && ok;
  return ring.Close() && ok;
}

std::vector<int16_t> Tone(int rate, int channels, int frames, double freq, int onlyChannel = -1) {
  std::vector<int16_t> s(static_cast<size_t>(frames) * channels);
  for (int i = 0; i < frames; i++)
    for (int c = 0; c < channels; c++)
      s[static_cast<size_t>(i) * channels + c] =
          onlyChannel >= 0 && c != onlyChannel
              ? 0
              : static_cast<int16_t>(std::lround(10000 * std::sin(2 * M_PI * freq * i / rate)));
  return s;
}

bool WriteLayer2(const std::string& name, int rate, int channels, int32_t bitRate,
                 const std::vector<int16_t>& pcm) {
  Pavane::MpgAudioEncoder* e = Pavane::mpgenc_audio_create(name.c_str(), rate, channels);
  if (!e) return false;
  if (bitRate > 0) Pavane::mpgenc_audio_set_bitrate(e, bitRate);
  const int32_t frames = static_cast<int32_t>(pcm.size() / static_cast<size_t>(channels));
  // In uneven blocks, as a conversion hands them over.
  bool ok = true;
  int32_t at = 0;
  for (int32_t block = 1000; at < frames; block += 777) {
    const int32_t n = std::min(block, frames - at);
    ok = ok && Pavane::mpgenc_audio_write(e, pcm.data() + static_cast<size_t>(at) * channels, n);
    at += n;
  }
  return Pavane::mpgenc_audio_close(e) && ok;
}

TEST_F(MpegWrite, Mpeg1VideoAlone) {
  NEED_FFMPEG();
  const std::string m1v = dir.File("a.m1v");
  ASSERT_TRUE(WriteMpeg1(m1v, Pavane::kMpeg1, 25.0));
  EXPECT_EQ(MT::Probe(m1v, "v:0", "codec_name"), "mpeg1video");
  EXPECT_EQ(MT::Probe(m1v, "v:0", "width"), "160");
  EXPECT_EQ(MT::Probe(m1v, "v:0", "height"), "112");
  EXPECT_EQ(MT::Probe(m1v, "v:0", "r_frame_rate"), "25/1");
  EXPECT_EQ(MT::ProbeFrameCount(m1v, "v:0"), kFrames);
  EXPECT_EQ(MT::ProbeStreamCount(m1v, "audio"), 0);
  ExpectFramesClose(m1v, kFrames, 32.0);

  int32_t w, h, frames, code, rate, mpeg2, audio;
  ASSERT_TRUE(Pavane::GetMPEGInfo(m1v.c_str(), &w, &h, &frames, &code, &rate, &mpeg2, &audio,
                                  nullptr, nullptr));
  EXPECT_EQ(frames, kFrames);
  EXPECT_EQ(code, 3);
  EXPECT_EQ(mpeg2, 0);
}

TEST_F(MpegWrite, VcdVideoRunsAtAConstant1150Kbits) {
  NEED_FFMPEG();
  const std::string m1v = dir.File("vcd.m1v");
  ASSERT_TRUE(WriteMpeg1(m1v, Pavane::kVcd, 29.97002997002997));
  EXPECT_EQ(MT::Probe(m1v, "v:0", "r_frame_rate"), "30000/1001");
  EXPECT_EQ(MT::Probe(m1v, "v:0", "bit_rate"), "1150000");
  EXPECT_EQ(MT::ProbeFrameCount(m1v, "v:0"), kFrames);
  ExpectFramesClose(m1v, kFrames, 30.0);
  // A rate between standard ones takes the next standard rate up.
  const std::string odd = dir.File("odd.m1v");
  ASSERT_TRUE(WriteMpeg1(odd, Pavane::kVcd, 30.5, 1000000));
  EXPECT_EQ(MT::Probe(odd, "v:0", "r_frame_rate"), "50/1");
  EXPECT_EQ(MT::Probe(odd, "v:0", "bit_rate"), "1000000");
}

TEST_F(MpegWrite, Mpeg2VideoThroughTheFrameRing) {
  NEED_FFMPEG();
  const std::string m2v = dir.File("a.m2v");
  ASSERT_TRUE(WriteMpeg2(m2v, 3, 1700000.0)) << (g_errors.empty() ? "" : g_errors[0]);
  EXPECT_EQ(MT::Probe(m2v, "v:0", "codec_name"), "mpeg2video");
  EXPECT_EQ(MT::Probe(m2v, "v:0", "width"), "160");
  EXPECT_EQ(MT::Probe(m2v, "v:0", "r_frame_rate"), "25/1");
  EXPECT_EQ(MT::ProbeFrameCount(m2v, "v:0"), kFrames);
  ExpectFramesClose(m2v, kFrames, 32.0);
  EXPECT_TRUE(g_errors.empty());
}

TEST_F(MpegWrite, TheMpeg2EncoderRefusesFramesItIsNotGiven) {
  const std::string m2v = dir.File("a.m2v");
  Morrow::MpegEncoder* enc = nullptr;
  Morrow::EncParams p;
  p.width = kW;
  p.height = kH;
  p.bitRate = 1700000;
  ASSERT_TRUE(Morrow::CreateMPEG(&enc, m2v.c_str(), &p));
  EXPECT_FALSE(Morrow::PutMPEGFrame(enc));  // nothing announced
  Morrow::SetNumFramesMPEG(enc, 5);
  Morrow::GetImgPtrFuncSet(nullptr);
  EXPECT_FALSE(Morrow::PutMPEGFrame(enc));  // no frame callback
  EXPECT_GE(g_errors.size(), 2u);
  EXPECT_TRUE(Morrow::CloseMPEGEnc(enc));
  p.width = 100;  // not even / too small sizes are refused
  p.height = 7;
  EXPECT_FALSE(Morrow::CreateMPEG(&enc, m2v.c_str(), &p));
  EXPECT_EQ(enc, nullptr);
}

TEST_F(MpegWrite, LayerTwoSoundAlone) {
  NEED_FFMPEG();
  const std::string mp2 = dir.File("a.mp2"), raw = dir.File("a.raw");
  ASSERT_TRUE(WriteLayer2(mp2, 44100, 2, 224000, Tone(44100, 2, 44100, 1000.0)));
  EXPECT_EQ(MT::Probe(mp2, "a:0", "codec_name"), "mp2");
  EXPECT_EQ(MT::Probe(mp2, "a:0", "sample_rate"), "44100");
  EXPECT_EQ(MT::Probe(mp2, "a:0", "channels"), "2");
  EXPECT_EQ(MT::Probe(mp2, "a:0", "bit_rate"), "224000");
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -i '" + mp2 + "' -f s16le '" + raw + "'"));
  const std::vector<int16_t> dec = MT::ReadS16(raw);
  // 44100 samples fill 39 frames of 1152, the last one padded with silence.
  EXPECT_EQ(dec.size(), 39u * 1152u * 2u);
  EXPECT_NEAR(MT::ZeroCrossingFrequency(dec, 2, 44100), 1000.0, 1.0);

  Pavane::MpgAudioInfo a;
  ASSERT_TRUE(Pavane::mpg_audio_info(mp2.c_str(), &a, nullptr, nullptr));
  EXPECT_EQ(a.layer, 2);
  EXPECT_EQ(a.frames, 39 * 1152);
  EXPECT_EQ(a.bitRate, 224);
}

TEST_F(MpegWrite, BitRatesAreTakenToTheLegalLayerTwoSet) {
  NEED_FFMPEG();
  struct Case {
    int rate, channels;
    int32_t asked;  // 0: the default
    const char* expect;
  } cases[] = {
      {44100, 1, 100000, "96000"},  {48000, 2, 200000, "192000"}, {32000, 2, 50000, "64000"},
      {44100, 1, 384000, "192000"}, {22050, 2, 0, "160000"},      {44100, 1, 0, "192000"},
      {24000, 1, 20000, "24000"},
      // The first and last rate of each table.
      {44100, 1, 20000, "32000"},   {44100, 2, 400000, "384000"}, {16000, 1, 1000, "8000"},
  };
  for (const Case& c : cases) {
    const std::string mp2 = dir.File("r.mp2");
    ASSERT_TRUE(WriteLayer2(mp2, c.rate, c.channels, c.asked, Tone(c.rate, c.channels, 5000, 440.0)));
    EXPECT_EQ(MT::Probe(mp2, "a:0", "bit_rate"), c.expect) << c.rate << " " << c.channels << " " << c.asked;
  }
  EXPECT_EQ(Pavane::mpgenc_audio_create(dir.File("x.mp2").c_str(), 11025, 2), nullptr);
  EXPECT_EQ(Pavane::mpgenc_audio_create(dir.File("x.mp2").c_str(), 44100, 0), nullptr);
  EXPECT_FALSE(g_errors.empty());
}

TEST_F(MpegWrite, MoreThanTwoChannelsAreMixedDownToTwo) {
  NEED_FFMPEG();
  for (int channels : {6, 11}) {
    const std::string mp2 = dir.File("m.mp2"), raw = dir.File("m.raw");
    // The tone is on the first channel only, which belongs on the left.
    ASSERT_TRUE(WriteLayer2(mp2, 48000, channels, 0, Tone(48000, channels, 24000, 500.0, 0)));
    EXPECT_EQ(MT::Probe(mp2, "a:0", "channels"), "2");
    ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -i '" + mp2 + "' -f s16le '" + raw + "'"));
    const std::vector<int16_t> dec = MT::ReadS16(raw);
    EXPECT_NEAR(MT::ZeroCrossingFrequency(dec, 2, 48000), 500.0, 1.0) << channels;
    int64_t left = 0, right = 0;
    for (size_t i = 0; i + 1 < dec.size(); i += 2) left += std::abs(dec[i]), right += std::abs(dec[i + 1]);
    EXPECT_GT(left, 20 * (right + 1)) << channels;
  }
  // Eleven channels have no standard layout: the six even ones are averaged
  // into the left, the five odd ones into the right.
  for (int only : {0, 1}) {
    const std::string mp2 = dir.File("o.mp2"), raw = dir.File("o.raw");
    ASSERT_TRUE(WriteLayer2(mp2, 48000, 11, 0, Tone(48000, 11, 24000, 500.0, only)));
    ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -i '" + mp2 + "' -f s16le '" + raw + "'"));
    const std::vector<int16_t> dec = MT::ReadS16(raw);
    double level = 0;
    for (size_t i = static_cast<size_t>(only); i < dec.size(); i += 2) level += std::abs(dec[i]);
    level /= static_cast<double>(dec.size() / 2);
    const double expected = 2 / M_PI * 10000 / (only ? 5 : 6);  // mean of |sine|
    EXPECT_NEAR(level, expected, expected * 0.04) << "channel " << only;
  }
}

struct MuxCase {
  int32_t type;
  int rate;
  const char* muxer;
};

TEST_F(MpegWrite, EveryTypeMultiplexesVideoAndSound) {
  NEED_FFMPEG();
  const MuxCase cases[] = {{Pavane::kMpeg1, 44100, "mpeg"},
                           {Pavane::kVcd, 44100, "vcd"},
                           {Pavane::kMpeg2, 48000, "vob"},
                           {Pavane::kSvcd, 44100, "svcd"},
                           {Pavane::kDvd, 48000, "dvd"}};
  for (const MuxCase& c : cases) {
    SCOPED_TRACE(c.muxer);
    const std::string v = dir.File("v.es"), a = dir.File("a.mp2"), out = dir.File("out.mpg");
    if (c.type <= Pavane::kVcd)
      ASSERT_TRUE(WriteMpeg1(v, c.type, 25.0));
    else
      ASSERT_TRUE(WriteMpeg2(v, 3, c.type == Pavane::kSvcd ? 2000000.0 : 1700000.0));
    ASSERT_TRUE(WriteLayer2(a, c.rate, 2, 0, Tone(c.rate, 2, c.rate * kFrames / 25, 1000.0)));
    ASSERT_TRUE(Pavane::mpg_mplex(out.c_str(), v.c_str(), a.c_str(), 0, c.type));
    EXPECT_EQ(MT::ProbeStreamCount(out, "video"), 1);
    EXPECT_EQ(MT::ProbeStreamCount(out, "audio"), 1);
    EXPECT_EQ(MT::Probe(out, "v:0", "codec_name"),
              c.type <= Pavane::kVcd ? "mpeg1video" : "mpeg2video");
    EXPECT_EQ(MT::Probe(out, "a:0", "codec_name"), "mp2");
    EXPECT_EQ(MT::Probe(out, "a:0", "sample_rate"), std::to_string(c.rate));
    EXPECT_EQ(MT::ProbeFrameCount(out, "v:0"), kFrames);
    ExpectFramesClose(out, kFrames, 30.0);

    int32_t w, h, frames, code, rate, mpeg2, audio;
    ASSERT_TRUE(Pavane::GetMPEGInfo(out.c_str(), &w, &h, &frames, &code, &rate, &mpeg2, &audio,
                                    nullptr, nullptr));
    EXPECT_EQ(frames, kFrames);
    EXPECT_EQ(audio, 1);
    EXPECT_EQ(Pavane::mpg_get_type(out.c_str()), Pavane::kTypeSystem);
    Pavane::MpgAudioInfo ai;
    ASSERT_TRUE(Pavane::mpg_audio_info(out.c_str(), &ai, nullptr, nullptr));
    Pavane::MpgAudioInfo es;
    ASSERT_TRUE(Pavane::mpg_audio_info(a.c_str(), &es, nullptr, nullptr));
    EXPECT_EQ(ai.frames, es.frames);
  }
}

TEST_F(MpegWrite, AFailedMultiplexLeavesNoOutput) {
  NEED_FFMPEG();
  const std::string v = dir.File("v.m1v"), a = dir.File("a.mp2"), out = dir.File("out.mpg");
  ASSERT_TRUE(WriteMpeg1(v, Pavane::kMpeg1, 25.0));
  EXPECT_FALSE(Pavane::mpg_mplex(out.c_str(), v.c_str(), dir.File("none.mp2").c_str(), 0, 0));
  EXPECT_FALSE(std::filesystem::exists(out));
  TestUtil::WriteText(a, std::string(3000, 'z'));
  EXPECT_FALSE(Pavane::mpg_mplex(out.c_str(), v.c_str(), a.c_str(), 0, 0));
  EXPECT_FALSE(std::filesystem::exists(out));
  ASSERT_TRUE(WriteLayer2(a, 44100, 2, 0, Tone(44100, 2, 8000, 440.0)));
  EXPECT_FALSE(Pavane::mpg_mplex(out.c_str(), v.c_str(), a.c_str(), 0, 9));
  EXPECT_FALSE(Pavane::mpg_mplex(out.c_str(), v.c_str(), a.c_str(), 1, 0));
  EXPECT_FALSE(Pavane::mpg_mplex(out.c_str(), a.c_str(), v.c_str(), 0, 0));  // swapped
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_GE(g_errors.size(), 5u);
}

TEST_F(MpegWrite, TheMpeg1EncoderRefusesWhatItCannotWrite) {
  const std::string m1v = dir.File("a.m1v");
  EXPECT_EQ(Pavane::mpg_video_create(m1v.c_str(), 161, 112, 25.0, 0), nullptr);
  EXPECT_EQ(Pavane::mpg_video_create(m1v.c_str(), 8, 8, 25.0, 0), nullptr);
  EXPECT_EQ(Pavane::mpg_video_create(m1v.c_str(), kW, kH, 25.0, Pavane::kDvd), nullptr);
  EXPECT_EQ(Pavane::mpg_video_create(dir.File("no/dir.m1v").c_str(), kW, kH, 25.0, 0), nullptr);
  Pavane::MpgVideoEncoder* e = Pavane::mpg_video_create(m1v.c_str(), kW, kH, 25.0, 0);
  ASSERT_NE(e, nullptr);
  EXPECT_FALSE(Pavane::mpg_video_write(e, nullptr));
  EXPECT_TRUE(Pavane::mpg_video_close(e));
  EXPECT_EQ(g_errors.size(), 5u);
}

}  // namespace
