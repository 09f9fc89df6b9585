// The Ogg Vorbis layer against ffmpeg: sample-count-exact reading, exact
// seeks, refused seeks, holes, chained streams of another format, and what
// the encoder writes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/MediaTools.h"
#include "platform/Sorrel.h"
#include "support/TestUtil.h"

using TestUtil::TempDir;
namespace MT = MediaTools;

namespace {

#define NEED_SOX() \
  if (!TestUtil::HaveTool("sox")) GTEST_SKIP() << "sox not installed"

#define NEED_FFMPEG()                                              \
  if (!TestUtil::HaveTool("ffmpeg") || !TestUtil::HaveTool("ffprobe")) \
  GTEST_SKIP() << "ffmpeg not installed"

bool MakeOgg(const std::string& name, int rate, int channels, double seconds,
             int freq = 440) {
  return MT::Run("ffmpeg -nostdin -y -f lavfi -i sine=frequency=" + std::to_string(freq) +
                 ":sample_rate=" + std::to_string(rate) + ":duration=" +
                 std::to_string(seconds) + " -ac " + std::to_string(channels) +
                 " -c:a libvorbis '" + name + "'");
}

// An open decoder with its own state block.
struct Reader {
  alignas(16) char state[Sorrel::kDecoderStateSize] = {};
  Sorrel::OvFileSlot slot = nullptr;
  int32_t rc = -1;
  explicit Reader(const std::string& name) {
    rc = Sorrel::ov_open_2(&slot, name.c_str(), state, nullptr, 0);
  }
  ~Reader() {
    if (rc == 0) Sorrel::ov_clear_2(&slot, state);
  }
  // Reads up to frames sample frames (or everything) as 16-bit signed.
  std::vector<int16_t> Read(int64_t frames, int channels) {
    std::vector<int16_t> out;
    std::vector<int16_t> buf(4096 * channels);
    int32_t link = 0;
    while (frames < 0 || static_cast<int64_t>(out.size()) < frames * channels) {
      int64_t want = static_cast<int64_t>(buf.size()) * 2;
      if (frames >= 0)
        want = std::min<int64_t>(want, (frames * channels - out.size()) * 2);
      const int32_t got = Sorrel::ov_read(state, reinterpret_cast<char*>(buf.data()),
                                          static_cast<int32_t>(want), 0, 2, 1, &link);
      if (got <= 0) break;
      out.insert(out.end(), buf.begin(), buf.begin() + got / 2);
    }
    return out;
  }
};

TEST(SorrelRead, FfmpegFileIsReadSampleCountExact) {
  NEED_FFMPEG();
  NEED_SOX();
  TempDir dir;
  const std::string ogg = dir.File("a.ogg"), raw = dir.File("a.raw");
  ASSERT_TRUE(MakeOgg(ogg, 22050, 2, 0.7));
  // sox as the reference decoder: it trims the last page to its granule
  // position as the format requires.
  ASSERT_TRUE(MT::Run("sox '" + ogg + "' -t raw -e signed -b 16 -L '" + raw + "'"));
  const std::vector<int16_t> ref = MT::ReadS16(raw);

  Reader r(ogg);
  ASSERT_EQ(r.rc, 0);
  const Sorrel::OvInfo* info = Sorrel::ov_info(r.state, -1);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->channels, 2);
  EXPECT_EQ(info->rate, 22050);
  const int64_t total = Sorrel::ov_pcm_total(r.state, -1);
  EXPECT_EQ(total, static_cast<int64_t>(ref.size() / 2));
  EXPECT_NEAR(static_cast<double>(total), 0.7 * 22050, 1.0);
  const std::vector<int16_t> got = r.Read(-1, 2);
  ASSERT_EQ(got.size(), ref.size());
  int maxDiff = 0;
  for (size_t i = 0; i < got.size(); i++)
    maxDiff = std::max(maxDiff, std::abs(got[i] - ref[i]));
  EXPECT_LE(maxDiff, 2);
}

TEST(SorrelRead, SeeksAreSampleExact) {
  NEED_FFMPEG();
  TempDir dir;
  const std::string ogg = dir.File("a.ogg");
  ASSERT_TRUE(MakeOgg(ogg, 44100, 1, 0.5, 1000));
  Reader r(ogg);
  ASSERT_EQ(r.rc, 0);
  const std::vector<int16_t> all = r.Read(-1, 1);
  ASSERT_EQ(static_cast<int64_t>(all.size()), Sorrel::ov_pcm_total(r.state, -1));
  for (int64_t at : {12345, 0, 20000, 7}) {
    ASSERT_EQ(Sorrel::ov_pcm_seek(r.state, at), 0);
    const std::vector<int16_t> part = r.Read(500, 1);
    ASSERT_EQ(part.size(), 500u);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), all.begin() + at)) << at;
  }
  // Seeking to the very end leaves nothing to read.
  ASSERT_EQ(Sorrel::ov_pcm_seek(r.state, static_cast<int64_t>(all.size())), 0);
  EXPECT_TRUE(r.Read(-1, 1).empty());
}

TEST(SorrelRead, ARefusedSeekDeliversNothingUntilASeekSucceeds) {
  NEED_FFMPEG();
  TempDir dir;
  const std::string ogg = dir.File("a.ogg");
  ASSERT_TRUE(MakeOgg(ogg, 8000, 1, 0.5));
  Reader r(ogg);
  ASSERT_EQ(r.rc, 0);
  const int64_t total = Sorrel::ov_pcm_total(r.state, -1);
  r.Read(100, 1);
  EXPECT_LT(Sorrel::ov_pcm_seek(r.state, total + 1), 0);
  char buf[64];
  int32_t link;
  EXPECT_EQ(Sorrel::ov_read(r.state, buf, sizeof buf, 0, 2, 1, &link),
            Sorrel::kOvNoPosition);
  EXPECT_LT(Sorrel::ov_pcm_seek(r.state, -5), 0);
  EXPECT_EQ(Sorrel::ov_read(r.state, buf, sizeof buf, 0, 2, 1, &link),
            Sorrel::kOvNoPosition);
  ASSERT_EQ(Sorrel::ov_pcm_seek(r.state, 10), 0);
  EXPECT_EQ(Sorrel::ov_read(r.state, buf, sizeof buf, 0, 2, 1, &link), 64);
}

std::vector<size_t> PageOffsets(const std::vector<uint8_t>& b) {
  std::vector<size_t> at;
  for (size_t i = 0; i + 4 <= b.size(); i++)
    if (std::memcmp(&b[i], "OggS", 4) == 0) at.push_back(i);
  return at;
}

TEST(SorrelRead, AHoleInTheStreamDoesNotEndTheRead) {
  NEED_FFMPEG();
  TempDir dir;
  const std::string ogg = dir.File("a.ogg"), cut = dir.File("cut.ogg");
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -f lavfi -i sine=frequency=440:sample_rate=44100:duration=3 "
                      "-c:a libvorbis -page_duration 100000 '" + ogg + "'"));
  std::vector<uint8_t> b = MT::ReadBytes(ogg);
  std::vector<size_t> pages = PageOffsets(b);
  ASSERT_GT(pages.size(), 8u);
  const size_t mid = pages.size() / 2;
  b.erase(b.begin() + static_cast<long>(pages[mid]), b.begin() + static_cast<long>(pages[mid + 1]));
  MT::WriteBytes(cut, b);

  Reader whole(ogg);
  ASSERT_EQ(whole.rc, 0);
  const std::vector<int16_t> ref = whole.Read(-1, 1);
  Reader r(cut);
  ASSERT_EQ(r.rc, 0);
  const std::vector<int16_t> got = r.Read(-1, 1);
  // Only the lost page's samples (a few thousand) are missing; the read went
  // on to the end of the sound.
  EXPECT_GT(got.size(), ref.size() - 10000);
  EXPECT_LT(got.size(), ref.size());
  ASSERT_GT(got.size(), 1000u);
  EXPECT_TRUE(std::equal(got.end() - 1000, got.end(), ref.end() - 1000));
}

TEST(SorrelRead, AChainedStreamOfAnotherFormatEndsTheSound) {
  NEED_FFMPEG();
  TempDir dir;
  const std::string a = dir.File("a.ogg"), a2 = dir.File("a2.ogg"),
                    b = dir.File("b.ogg"), same = dir.File("same.ogg"),
                    other = dir.File("other.ogg"), b2 = dir.File("b2.ogg"),
                    rate = dir.File("rate.ogg");
  // Each file gets its own random serial number, as chained streams need.
  ASSERT_TRUE(MakeOgg(a, 44100, 1, 0.4));
  ASSERT_TRUE(MakeOgg(a2, 44100, 1, 0.4));
  ASSERT_TRUE(MakeOgg(b, 22050, 2, 0.4));
  ASSERT_TRUE(MT::Run("cat '" + a + "' '" + b + "' > '" + other + "'"));
  ASSERT_TRUE(MT::Run("cat '" + a + "' '" + a2 + "' > '" + same + "'"));
  // Another rate alone is another format too.
  ASSERT_TRUE(MakeOgg(b2, 22050, 1, 0.4));
  ASSERT_TRUE(MT::Run("cat '" + a + "' '" + b2 + "' > '" + rate + "'"));
  int64_t single;
  {
    Reader r(a);
    ASSERT_EQ(r.rc, 0);
    single = Sorrel::ov_pcm_total(r.state, -1);
  }
  {
    Reader r(same);
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(Sorrel::ov_pcm_total(r.state, -1), 2 * single);
    EXPECT_EQ(static_cast<int64_t>(r.Read(-1, 1).size()), 2 * single);
  }
  for (const std::string& file : {other, rate}) {
    SCOPED_TRACE(file);
    Reader r(file);
    ASSERT_EQ(r.rc, 0);
    const Sorrel::OvInfo* info = Sorrel::ov_info(r.state, -1);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->channels, 1);
    EXPECT_EQ(info->rate, 44100);
    EXPECT_EQ(Sorrel::ov_pcm_total(r.state, -1), single);
    EXPECT_EQ(Sorrel::ov_info(r.state, 1), nullptr);
    EXPECT_EQ(static_cast<int64_t>(r.Read(-1, 1).size()), single);
    EXPECT_LT(Sorrel::ov_pcm_seek(r.state, single + 100), 0);
  }
}

TEST(SorrelRead, DamagedFilesFailOrEndWithoutCrashing) {
  NEED_FFMPEG();
  TempDir dir;
  const std::string ogg = dir.File("a.ogg"), bad = dir.File("bad.ogg");
  ASSERT_TRUE(MakeOgg(ogg, 16000, 2, 0.5));
  const std::vector<uint8_t> good = MT::ReadBytes(ogg);
  Reader ref(ogg);
  const int64_t total = Sorrel::ov_pcm_total(ref.state, -1);
  uint32_t seed = 12345;
  for (int round = 0; round < 40; round++) {
    std::vector<uint8_t> b = good;
    if (round < 12) {
      b.resize(b.size() * static_cast<size_t>(round) / 12);
    } else {
      for (int k = 0; k < 1 + round % 4; k++) {
        seed = seed * 1103515245u + 12345u;
        b[(seed >> 8) % b.size()] ^= static_cast<uint8_t>(1u << (seed % 8));
      }
    }
    MT::WriteBytes(bad, b);
    Reader r(bad);
    if (r.rc != 0) continue;
    const Sorrel::OvInfo* info = Sorrel::ov_info(r.state, -1);
    ASSERT_NE(info, nullptr);
    const std::vector<int16_t> got = r.Read(-1, info->channels);
    EXPECT_LE(static_cast<int64_t>(got.size()),
              Sorrel::ov_pcm_total(r.state, -1) * info->channels);
    Sorrel::ov_pcm_seek(r.state, total / 2);
    r.Read(100, info->channels);
  }
  EXPECT_NE(Reader(dir.File("missing.ogg")).rc, 0);
  TestUtil::WriteText(bad, "not an ogg file at all");
  EXPECT_NE(Reader(bad).rc, 0);
}

std::vector<int16_t> Sine(int rate, int channels, int frames, double freq) {
  std::vector<int16_t> s(static_cast<size_t>(frames) * channels);
  for (int i = 0; i < frames; i++)
    for (int c = 0; c < channels; c++)
      s[static_cast<size_t>(i) * channels + c] = static_cast<int16_t>(
          std::lround(12000 * std::sin(2 * M_PI * freq * i / rate)));
  return s;
}

TEST(SorrelWrite, WrittenFileKeepsRateChannelsLengthAndFrequency) {
  NEED_FFMPEG();
  TempDir dir;
  const std::string ogg = dir.File("w.ogg"), raw = dir.File("w.raw");
  const std::vector<int16_t> pcm = Sine(44100, 2, 44100, 1000.0);
  Sorrel::OvEncoder* enc = nullptr;
  ASSERT_NE(Sorrel::ov_create(&enc, ogg.c_str(), 44100, 2, 0.4), 0);
  // Blocks of uneven sizes, as a conversion hands them over.
  size_t at = 0;
  for (int block : {1000, 5003, 30000, 8097}) {
    ASSERT_NE(Sorrel::ov_write(enc, pcm.data() + at, block * 4), 0);
    at += static_cast<size_t>(block) * 2;
  }
  ASSERT_EQ(at, pcm.size());
  ASSERT_NE(Sorrel::ov_close(enc), 0);

  EXPECT_EQ(MT::Probe(ogg, "a:0", "codec_name"), "vorbis");
  EXPECT_EQ(MT::Probe(ogg, "a:0", "sample_rate"), "44100");
  EXPECT_EQ(MT::Probe(ogg, "a:0", "channels"), "2");
  EXPECT_NEAR(std::atof(MT::Probe(ogg, "a:0", "duration").c_str()), 1.0, 0.001);
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -i '" + ogg + "' -f s16le -c:a pcm_s16le '" + raw + "'"));
  const std::vector<int16_t> dec = MT::ReadS16(raw);
  EXPECT_NEAR(MT::ZeroCrossingFrequency(dec, 2, 44100), 1000.0, 1.0);
  if (TestUtil::HaveTool("sox")) {
    ASSERT_TRUE(MT::Run("sox '" + ogg + "' -t raw -e signed -b 16 -L '" + raw + "'"));
    EXPECT_EQ(MT::ReadS16(raw).size(), pcm.size());
  }

  Reader r(ogg);
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(Sorrel::ov_pcm_total(r.state, -1), 44100);
  const std::vector<int16_t> back = r.Read(-1, 2);
  EXPECT_NEAR(MT::ZeroCrossingFrequency(back, 2, 44100), 1000.0, 1.0);
}

TEST(SorrelWrite, BadArgumentsAreRefusedWithoutLeavingFiles) {
  TempDir dir;
  const std::string ogg = dir.File("w.ogg");
  Sorrel::OvEncoder* enc = nullptr;
  EXPECT_EQ(Sorrel::ov_create(&enc, ogg.c_str(), 44100, 0, 0.4), 0);
  EXPECT_EQ(Sorrel::ov_create(&enc, ogg.c_str(), 0, 2, 0.4), 0);
  EXPECT_EQ(Sorrel::ov_create(&enc, dir.File("no/such/dir.ogg").c_str(), 44100, 2, 0.4), 0);
  EXPECT_EQ(enc, nullptr);
  EXPECT_FALSE(std::filesystem::exists(ogg));
  ASSERT_NE(Sorrel::ov_create(&enc, ogg.c_str(), 8000, 2, 7.0), 0);  // clamped
  const int16_t four[4] = {1, 2, 3, 4};
  EXPECT_EQ(Sorrel::ov_write(enc, four, 6), 0);  // not whole frames
  EXPECT_NE(Sorrel::ov_write(enc, four, 8), 0);
  EXPECT_NE(Sorrel::ov_close(enc), 0);
}

}  // namespace
