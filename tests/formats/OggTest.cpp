// The Ogg Vorbis unit: files we write read by ffmpeg and sox, files ffmpeg
// writes read by us sample-count-exact, exact and refused seeks, the quality
// and format rules, and damaged files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "formats/ConForm.h"
#include "formats/FF_OGG.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "media/SndBasic.h"
#include "platform/MediaTools.h"
#include "formats/SoundTestUtil.h"
#include "support/TestUtil.h"

using namespace FF_OGG;
using Bytes = std::vector<uint8_t>;
namespace MT = MediaTools;
using soundtest::Q;
using soundtest::Try;

namespace {

std::vector<int16_t> Sine(int32_t frames, int ch, int rate, double freq) {
  std::vector<int16_t> v(size_t(frames) * ch);
  for (int32_t i = 0; i < frames; i++)
    for (int c = 0; c < ch; c++)
      v[size_t(i) * ch + c] = int16_t(12000 * std::sin(2 * M_PI * freq * i / rate));
  return v;
}

void WriteOgg(const std::string& name, const std::vector<int16_t>& pcm, int ch, int rate) {
  OggFileRec ogg;
  OggCreate(&ogg, name);
  const int32_t frames = int32_t(pcm.size() / ch);
  for (int32_t at = 0; at < frames; at += 4000) {
    SndBasic::SndRec s;
    const int32_t n = std::min(4000, frames - at);
    SndBasic::_sndalloc_(s, int64_t{n} * ch * 2, __LINE__, "test.ogg");
    std::memcpy(s.data, pcm.data() + size_t(at) * ch, size_t(n) * ch * 2);
    s.frames = n;
    SndBasic::WaveFormatSetPCM(s.format, rate, ch, 16);
    OggSave(&ogg, &s);
    SndBasic::SndFree(s);
  }
  OggClose(&ogg);
}

std::vector<int16_t> ReadAll(const std::string& name, int32_t step = 5000) {
  OggFileRec ogg;
  std::vector<int16_t> out;
  SndBasic::SndRec s;
  Try([&] {
    OggOpen(&ogg, name);
    for (int32_t pos = 0;;) {
      OggLoad(&ogg, &s, pos, 1, step);
      if (s.frames == 0) break;
      const size_t n = size_t(s.frames) * s.format.channels;
      const size_t at = out.size();
      out.resize(at + n);
      std::memcpy(out.data() + at, s.data, n * 2);
      pos += s.frames;
    }
  });
  SndBasic::SndFree(s);
  Try([&] { OggClose(&ogg); });
  return out;
}

TEST(Ogg, QualityAndFormatRules) {
  EXPECT_EQ(OggQuality(Basic::K_AUTO), 4);
  EXPECT_EQ(OggQuality(15), 10);
  EXPECT_EQ(OggQuality(Basic::K_AUTO), 10);
  EXPECT_EQ(OggQuality(-2), 0);
  EXPECT_EQ(OggQuality(Basic::K_AUTO), 0);
  for (int q = 0; q <= 10; q++) {
    OggQuality(q);
    EXPECT_EQ(OggQuality(Basic::K_AUTO), q);
  }
  SndBasic::WaveFormatEx src, out;
  SndBasic::WaveFormatSetPCM(src, 96000, 2, 8);
  OggSndFormat(src, &out);
  EXPECT_EQ(out.samplesPerSec, 48000u);
  EXPECT_EQ(out.bitsPerSample, 16);
  EXPECT_EQ(out.channels, 2);
  SndBasic::WaveFormatSetPCM(src, 4000, 1, 16);
  OggSndFormat(src, &out);
  EXPECT_EQ(out.samplesPerSec, 8000u);
  SndBasic::WaveFormatSetPCM(src, 22050, 6, 16);
  OggSndFormat(src, &out);
  EXPECT_EQ(out.samplesPerSec, 22050u);
  EXPECT_EQ(out.channels, 6);
}

// The format rule gives whole, consistent PCM formats: an 8-bit mono, a
// 96 kHz stereo and a 24-bit source each become 16-bit blocks the writer
// takes, and the peers read the rate and channels back.
TEST(Ogg, FormatRuleGivesAFormatTheWriterTakes) {
  TestUtil::TempDir dir;
  const struct {
    uint32_t rate;
    uint16_t channels, bits;
    uint32_t rateOut;
  } cases[] = {{22050, 1, 8, 22050}, {96000, 2, 16, 48000}, {44100, 2, 24, 44100}};
  for (const auto& c : cases) {
    SndBasic::SndRec src, conv;
    SndBasic::SndMakeSilence(src, int32_t(c.rate / 2), c.rate, c.bits, c.channels);
    for (int64_t i = 0; i < int64_t{src.frames} * src.format.blockAlign; i++)
      src.data[i] = uint8_t(128 + 100 * std::sin(i * 0.01));
    SndBasic::WaveFormatEx out;
    OggSndFormat(src.format, &out);
    EXPECT_EQ(out.formatTag, 1);
    EXPECT_EQ(out.bitsPerSample, 16);
    EXPECT_EQ(out.samplesPerSec, c.rateOut);
    EXPECT_EQ(out.blockAlign, 2 * c.channels);
    EXPECT_EQ(out.avgBytesPerSec, c.rateOut * 2 * c.channels);
    SndBasic::SndConvert(src, conv, out);
    const std::string name = dir.File("rule.ogg");
    OggFileRec ogg;
    OggCreate(&ogg, name);
    EXPECT_NO_THROW(OggSave(&ogg, &conv)) << c.rate << " " << c.bits;
    OggClose(&ogg);
    SndBasic::SndFree(src);
    SndBasic::SndFree(conv);
    if (!TestUtil::HaveTool("ffprobe")) continue;
    EXPECT_EQ(MT::Probe(name, "a:0", "sample_rate"), std::to_string(c.rateOut));
    EXPECT_EQ(MT::Probe(name, "a:0", "channels"), std::to_string(c.channels));
  }
  Errors::ErrClear();
}

TEST(Ogg, WeWritePeersRead) {
  NEED_TOOL("ffmpeg");
  TestUtil::TempDir dir;
  for (int ch : {1, 2}) {
    const int rate = ch == 1 ? 22050 : 44100;
    const int32_t frames = rate * 3 / 2 + 123;
    const std::string name = dir.File("ours" + std::to_string(ch) + ".ogg");
    WriteOgg(name, Sine(frames, ch, rate, 1000.0), ch, rate);
    ASSERT_TRUE(Errors::ErrNone()) << Errors::ErrLastText();
    EXPECT_EQ(MT::Probe(name, "a:0", "codec_name"), "vorbis");
    EXPECT_EQ(MT::Probe(name, "a:0", "sample_rate"), std::to_string(rate));
    EXPECT_EQ(MT::Probe(name, "a:0", "channels"), std::to_string(ch));
    const std::string raw = dir.File("peer.raw");
    ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -i " + Q(name) + " -f s16le " + Q(raw)));
    const std::vector<int16_t> theirs = MT::ReadS16(raw);
    // ffmpeg's own decoder may leave out up to one short block at the start.
    EXPECT_NEAR(double(theirs.size()) / ch, frames, 1024.0);
    EXPECT_NEAR(MT::ZeroCrossingFrequency(theirs, ch, rate), 1000.0, 2.0);
    if (TestUtil::HaveTool("sox")) {
      EXPECT_EQ(std::atoll(MT::Capture("sox --i -s " + Q(name)).c_str()), frames);
      ASSERT_TRUE(MT::Run("sox " + Q(name) + " -t raw -e signed -b 16 " + Q(raw)));
      EXPECT_EQ(MT::ReadS16(raw).size(), size_t(frames) * ch);
    }
    // And we read our own file back, as many samples as were written.
    EXPECT_EQ(ReadAll(name).size(), size_t(frames) * ch);
  }
}

TEST(Ogg, HigherQualityGivesBiggerFiles) {
  TestUtil::TempDir dir;
  std::vector<int16_t> pcm(88200);
  uint32_t seed = 7;
  for (int16_t& v : pcm) {
    seed = seed * 1103515245u + 12345u;
    v = int16_t((seed >> 16) & 0x3FFF) - 0x2000;
  }
  OggQuality(0);
  WriteOgg(dir.File("q0.ogg"), pcm, 2, 44100);
  OggQuality(10);
  WriteOgg(dir.File("q10.ogg"), pcm, 2, 44100);
  EXPECT_LT(Basic::FSize64(dir.File("q0.ogg")) * 2, Basic::FSize64(dir.File("q10.ogg")));
}

TEST(Ogg, PeerFilesAreReadSampleCountExact) {
  NEED_TOOL("ffmpeg");
  TestUtil::TempDir dir;
  const std::string name = dir.File("peer.ogg");
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -f lavfi -i sine=frequency=600:sample_rate=32000:duration=1.37 "
                      "-ac 2 -c:a libvorbis " + Q(name)));
  const std::string raw = dir.File("peer.raw");
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -i " + Q(name) + " -f s16le " + Q(raw)));
  const std::vector<int16_t> theirs = MT::ReadS16(raw);
  ConForm::FFInfoRec info;
  ConForm::FFInfo(name, Basic::K_AUTO, &info, nullptr, nullptr);
  ASSERT_TRUE(Errors::ErrNone());
  EXPECT_EQ(info.format, 19);
  EXPECT_EQ(info.filter, "OGG, Ogg Vorbis Audio");
  EXPECT_EQ(info.sound.audioCompression, "Ogg Vorbis audio codec");
  EXPECT_TRUE(info.sound.hasSound);
  EXPECT_TRUE(info.sound.soundReadable);
  EXPECT_EQ(info.sound.wave.samplesPerSec, 32000u);
  EXPECT_EQ(info.sound.wave.bitsPerSample, 16);
  EXPECT_EQ(int64_t{info.sound.sampleFrames} * 2, int64_t(theirs.size()));
  const std::vector<int16_t> ours = ReadAll(name, 1111);
  ASSERT_EQ(ours.size(), theirs.size());
  int worst = 0;
  for (size_t i = 0; i < ours.size(); i++) worst = std::max(worst, std::abs(ours[i] - theirs[i]));
  EXPECT_LE(worst, 2);
}

// Two streams side by side (the link starts with two first pages): the
// sound is the first stream, as ffmpeg decodes it.
TEST(Ogg, TwoStreamsSideBySideGiveTheFirst) {
  NEED_TOOL("ffmpeg");
  TestUtil::TempDir dir;
  const std::string name = dir.File("two.ogg"), raw = dir.File("first.raw");
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -f lavfi -i sine=frequency=600:sample_rate=32000:duration=1.2 "
                      "-f lavfi -i sine=frequency=300:sample_rate=32000:duration=1.2 "
                      "-map 0 -map 1 -c:a libvorbis " + Q(name)));
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -i " + Q(name) + " -map 0:a:0 -f s16le " + Q(raw)));
  const std::vector<int16_t> theirs = MT::ReadS16(raw), ours = ReadAll(name, 1111);
  ConForm::FFInfoRec info;
  OggInfo(name, &info);
  EXPECT_EQ(int64_t{info.sound.sampleFrames}, int64_t(theirs.size()));
  ASSERT_EQ(ours.size(), theirs.size());
  int worst = 0;
  for (size_t i = 0; i < ours.size(); i++) worst = std::max(worst, std::abs(ours[i] - theirs[i]));
  EXPECT_LE(worst, 2);
}

TEST(Ogg, SeeksAreExactAndARefusedSeekDeliversNothing) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("s.ogg");
  WriteOgg(name, Sine(30000, 1, 16000, 440.0), 1, 16000);
  const std::vector<int16_t> all = ReadAll(name);
  ASSERT_EQ(all.size(), 30000u);
  OggFileRec ogg;
  OggOpen(&ogg, name);
  SndBasic::SndRec s;
  for (int32_t start : {0, 17, 4096, 29990, 12345}) {
    OggLoad(&ogg, &s, start, 0, 8);
    ASSERT_EQ(s.frames, std::min(8, 30000 - start));
    for (int i = 0; i < s.frames; i++)
      EXPECT_EQ(reinterpret_cast<int16_t*>(s.data)[i], all[size_t(start + i)]) << start;
  }
  const int64_t before = ogg.position;
  OggLoad(&ogg, &s, 90000, 0, 8);  // beyond the end: refused
  EXPECT_EQ(s.frames, 0);
  EXPECT_EQ(ogg.position, before);
  EXPECT_TRUE(Errors::ErrNone());
  // Continuing from the unchanged position seeks again, so the samples are
  // really the ones at that position.
  OggLoad(&ogg, &s, int32_t(before), 1, 8);
  ASSERT_EQ(s.frames, 8);
  for (int i = 0; i < 8; i++)
    EXPECT_EQ(reinterpret_cast<int16_t*>(s.data)[i], all[size_t(before + i)]);
  SndBasic::SndFree(s);
  OggClose(&ogg);
}

TEST(Ogg, ALaterStreamOfAnotherFormatEndsTheSound) {
  TestUtil::TempDir dir;
  WriteOgg(dir.File("a.ogg"), Sine(10000, 1, 16000, 440.0), 1, 16000);
  WriteOgg(dir.File("b.ogg"), Sine(7000, 2, 22050, 440.0), 2, 22050);
  Bytes chained = MT::ReadBytes(dir.File("a.ogg"));
  const Bytes b = MT::ReadBytes(dir.File("b.ogg"));
  chained.insert(chained.end(), b.begin(), b.end());
  const std::string name = dir.File("ab.ogg");
  MT::WriteBytes(name, chained);
  ConForm::FFInfoRec info;
  OggInfo(name, &info);
  EXPECT_EQ(info.sound.sampleFrames, 10000);
  EXPECT_EQ(info.sound.wave.channels, 1);
  EXPECT_EQ(ReadAll(name).size(), 10000u);
}

// Chained streams of one format are one sound: two files oggenc wrote (each
// its own serial number) as many samples as oggdec decodes, and a file
// joined to itself (the same serial number twice) exactly twice its own
// samples, the second half equal to the first.
TEST(Ogg, ChainedStreamsOfOneFormatAreReadWhole) {
  NEED_TOOL("oggenc");
  NEED_TOOL("oggdec");
  NEED_TOOL("sox");
  TestUtil::TempDir dir;
  const std::string w1 = dir.File("1.wav"), w2 = dir.File("2.wav");
  // oggdec counts chains of links shorter than two seconds wrongly.
  ASSERT_TRUE(MT::Run("sox -n -r 44100 -c 2 -b 16 " + Q(w1) + " synth 3 sine 440"));
  ASSERT_TRUE(MT::Run("sox -n -r 44100 -c 2 -b 16 " + Q(w2) + " synth 2.503 sine 660"));
  const std::string o1 = dir.File("1.ogg"), o2 = dir.File("2.ogg");
  ASSERT_TRUE(MT::Run("oggenc -Q " + Q(w1) + " -o " + Q(o1)));
  ASSERT_TRUE(MT::Run("oggenc -Q " + Q(w2) + " -o " + Q(o2)));
  const std::string chain = dir.File("chain.ogg"), twice = dir.File("twice.ogg");
  ASSERT_TRUE(MT::Run("cat " + Q(o1) + " " + Q(o2) + " > " + Q(chain)));
  ASSERT_TRUE(MT::Run("cat " + Q(o1) + " " + Q(o1) + " > " + Q(twice)));
  auto oggdecFrames = [&](const std::string& name) {
    const std::string wav = dir.File("dec.wav");
    EXPECT_TRUE(MT::Run("oggdec -Q " + Q(name) + " -o " + Q(wav)));
    return std::atoll(MT::Capture("soxi -s " + Q(wav)).c_str());
  };
  ConForm::FFInfoRec info;
  OggInfo(chain, &info);
  EXPECT_EQ(info.sound.sampleFrames, oggdecFrames(chain));
  EXPECT_EQ(int64_t(ReadAll(chain).size()), 2 * oggdecFrames(chain));

  const int64_t single = oggdecFrames(o1);
  OggInfo(twice, &info);
  EXPECT_EQ(info.sound.sampleFrames, 2 * single);
  const std::vector<int16_t> all = ReadAll(twice), one = ReadAll(o1);
  ASSERT_EQ(int64_t(all.size()), 4 * single);
  EXPECT_TRUE(std::equal(one.begin(), one.end(), all.begin()));
  EXPECT_TRUE(std::equal(one.begin(), one.end(), all.begin() + int64_t(one.size())));
  // Bytes that are no page between the links (a damaged join) are passed over.
  const std::string gap = dir.File("gap.ogg");
  ASSERT_TRUE(MT::Run("{ cat " + Q(o1) + "; printf junk; cat " + Q(o1) + "; } > " + Q(gap)));
  EXPECT_EQ(ReadAll(gap), all);
  // A later link whose headers are damaged (a vorbis version of 1, in a
  // page whose checksum is right) ends the sound.
  std::string bytes = TestUtil::ReadText(twice);
  const size_t ident = bytes.find("\x01vorbis", bytes.find("\x01vorbis") + 1);
  ASSERT_NE(ident, std::string::npos);
  bytes[ident + 7] = 1;
  const size_t page = bytes.rfind("OggS", ident);
  size_t length = 27 + uint8_t(bytes[page + 26]);
  for (size_t k = 0; k < uint8_t(bytes[page + 26]); k++) length += uint8_t(bytes[page + 27 + k]);
  std::memset(&bytes[page + 22], 0, 4);
  uint32_t crc = 0;
  for (size_t k = page; k < page + length; k++) {
    crc ^= uint32_t(uint8_t(bytes[k])) << 24;
    for (int bit = 0; bit < 8; bit++) crc = crc & 0x80000000u ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  for (int b = 0; b < 4; b++) bytes[page + 22 + b] = char(crc >> (8 * b));
  const std::string damaged = dir.File("damaged.ogg");
  TestUtil::WriteText(damaged, bytes);
  OggInfo(damaged, &info);
  EXPECT_EQ(info.sound.sampleFrames, single);
  EXPECT_EQ(ReadAll(damaged), one);
  // A seek into the second link lands on the sample a sequential read gives.
  OggFileRec ogg;
  OggOpen(&ogg, twice);
  SndBasic::SndRec s;
  OggLoad(&ogg, &s, int32_t(single + 1000), 0, 500);
  ASSERT_EQ(s.frames, 500);
  EXPECT_EQ(0, std::memcmp(s.data, one.data() + 2000, 500 * 4));
  SndBasic::SndFree(s);
  OggClose(&ogg);
}

TEST(Ogg, RefusedBlocksAndFiles) {
  TestUtil::TempDir dir;
  OggFileRec ogg;
  OggCreate(&ogg, dir.File("x.ogg"));
  SndBasic::SndRec s;
  SndBasic::_sndalloc_(s, 100, __LINE__, "test.ogg");
  s.frames = 100;
  SndBasic::WaveFormatSetPCM(s.format, 8000, 1, 8);
  EXPECT_THROW(OggSave(&ogg, &s), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 12);
  EXPECT_EQ(Errors::ErrCode(), 2);
  Try([&] { OggClose(&ogg); });
  OggCreate(&ogg, dir.File("no/such/folder/x.ogg"));
  SndBasic::WaveFormatSetPCM(s.format, 8000, 1, 16);
  s.frames = 50;
  EXPECT_THROW(OggSave(&ogg, &s), Errors::EMon);
  EXPECT_EQ(Errors::ErrCode(), 8);
  Try([&] { OggClose(&ogg); });
  SndBasic::SndFree(s);
  MT::WriteBytes(dir.File("not.ogg"), Bytes(300, 'x'));
  EXPECT_THROW(OggOpen(&ogg, dir.File("not.ogg")), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 12);
  EXPECT_EQ(Errors::ErrCode(), 6);
  EXPECT_EQ(ogg.vf, nullptr);
}

TEST(OggRobust, TruncatedAndBitFlippedFiles) {
  TestUtil::TempDir dir;
  const std::string good = dir.File("g.ogg");
  WriteOgg(good, Sine(8000, 2, 8000, 500.0), 2, 8000);
  const Bytes whole = MT::ReadBytes(good);
  const std::string bad = dir.File("b.ogg");
  auto exercise = [&](const Bytes& b) {
    MT::WriteBytes(bad, b);
    ReadAll(bad, 700);
    ConForm::FFInfoRec info;
    Try([&] { OggInfo(bad, &info); });
    OggFileRec ogg;
    SndBasic::SndRec s;
    Try([&] {
      OggOpen(&ogg, bad);
      OggLoad(&ogg, &s, 3000, 0, 900);
    });
    SndBasic::SndFree(s);
    Try([&] { OggClose(&ogg); });
    Errors::ErrClear();
  };
  for (size_t cut : {size_t(0), size_t(27), size_t(58), size_t(200), whole.size() / 2, whole.size() - 1})
    exercise(Bytes(whole.begin(), whole.begin() + std::min(cut, whole.size())));
  uint32_t seed = 99;
  for (int round = 0; round < 40; round++) {
    Bytes b = whole;
    seed = seed * 1103515245u + 12345u;
    b[(seed >> 8) % b.size()] ^= static_cast<uint8_t>(1u << ((seed >> 4) & 7));
    exercise(b);
  }
  EXPECT_EQ(Errors::MonDepth(), 0);
}

}  // namespace
