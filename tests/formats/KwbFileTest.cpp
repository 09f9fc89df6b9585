#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "formats/ConForm.h"
#include "formats/FF_KWB.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "media/ImgBasic.h"
#include "FormatTestUtil.h"
#include "support/TestUtil.h"

using namespace FF_KWB;
using ImgBasic::Qimg;

namespace {

// A moving picture: a gradient with a square that walks one pixel a frame,
// and a palette that changes every 10 frames for 8-bit movies.
void MakeFrame(Qimg* img, int32_t w, int32_t h, int32_t bits, int32_t n) {
  ImgBasic::_imgalloc_(img, w, h, "test.frame", __LINE__, bits);
  const int32_t bpp = img->bytesPerPixel;
  for (int32_t y = 0; y < h; y++)
    for (int32_t x = 0; x < w; x++) {
      uint8_t* p = img->data + (static_cast<int64_t>(y) * w + x) * bpp;
      const bool inSquare = x >= n % w && x < n % w + 5 && y >= 3 && y < 9;
      const uint8_t v = inSquare ? 250 : static_cast<uint8_t>(x * 3 + y);
      for (int32_t k = 0; k < bpp; k++) p[k] = static_cast<uint8_t>(v + k * 40);
    }
  if (bits == 8)
    for (int i = 0; i < 256; i++) {
      img->palette[i * 3] = static_cast<uint8_t>(i);
      img->palette[i * 3 + 1] = static_cast<uint8_t>(255 - i);
      img->palette[i * 3 + 2] = static_cast<uint8_t>(n / 10 * 20);
    }
}

void WriteMovie(const std::string& name, int32_t frames, int32_t w, int32_t h,
                int32_t bits) {
  KWBFile kwb;
  KWBCreate(&kwb, name, 25.0);
  Qimg img;
  for (int32_t n = 1; n <= frames; n++) {
    MakeFrame(&img, w, h, bits, n);
    KWBImgSave(&kwb, &img);
  }
  ImgBasic::ImgFree(&img);
  KWBClose(&kwb);
}

bool SameFrame(const Qimg& a, const Qimg& b) {
  if (a.width != b.width || a.height != b.height || a.bitsPerPixel != b.bitsPerPixel)
    return false;
  const size_t n = static_cast<size_t>(a.width) * a.height * a.bytesPerPixel;
  if (std::memcmp(a.data, b.data, n) != 0) return false;
  return a.bitsPerPixel != 8 || std::memcmp(a.palette, b.palette, 768) == 0;
}

class KwbFile : public ::testing::TestWithParam<std::tuple<int32_t, bool, int32_t>> {
 protected:
  void TearDown() override {
    KWBSetFastMode(1);
    KWBSetKeyInterval(25);
  }
  TestUtil::TempDir dir;
};

// Every frame reads back exactly, sequentially and by random access, for
// each depth, coder and key-frame interval.
TEST_P(KwbFile, RoundTripAndRandomAccess) {
  const auto [bits, fast, interval] = GetParam();
  KWBSetFastMode(fast ? 1 : 0);
  KWBSetKeyInterval(interval);
  const std::string name = dir.File("movie.kwb");
  const int32_t frames = 30;
  WriteMovie(name, frames, 37, 21, bits);

  KWBFile kwb;
  KWBOpen(&kwb, name);
  ASSERT_TRUE(Errors::ErrNone());
  EXPECT_EQ(kwb.header.frameCount, frames);
  EXPECT_EQ(kwb.header.keyInterval, interval);
  Qimg got, want;
  for (int32_t n = 1; n <= frames; n++) {
    KWBImgLoadNext(&kwb, &got);
    MakeFrame(&want, 37, 21, bits, n);
    ASSERT_TRUE(SameFrame(got, want)) << "sequential frame " << n;
  }
  for (int32_t n : {12, 3, 30, 1, 26, 25, 27, 11}) {
    Qimg fresh;
    KWBImgLoad(&kwb, &fresh, n, 0);
    MakeFrame(&want, 37, 21, bits, n);
    EXPECT_TRUE(SameFrame(fresh, want)) << "random frame " << n;
    ImgBasic::ImgFree(&fresh);
  }
  ImgBasic::ImgFree(&got);
  ImgBasic::ImgFree(&want);
  KWBClose(&kwb);
  EXPECT_EQ(Basic::FileMark(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    DepthsCodersIntervals, KwbFile,
    ::testing::Combine(::testing::Values(8, 16, 24), ::testing::Bool(),
                       ::testing::Values(0, 1, 25)));

TEST(KwbFileLayout, HeaderAndIndexBytes) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("m.kwb");
  WriteMovie(name, 2, 8, 4, 24);
  const std::string raw = TestUtil::ReadText(name);
  ASSERT_GT(raw.size(), 1088u + 3072u);
  auto u32 = [&](size_t off) {
    return static_cast<uint32_t>(static_cast<uint8_t>(raw[off]) |
                                 (static_cast<uint8_t>(raw[off + 1]) << 8) |
                                 (static_cast<uint8_t>(raw[off + 2]) << 16) |
                                 (static_cast<uint32_t>(static_cast<uint8_t>(raw[off + 3])) << 24));
  };
  EXPECT_EQ(raw.substr(0, 4), std::string("KWB\x1A", 4));
  EXPECT_EQ(u32(4), 64u);
  EXPECT_EQ(u32(8), 97u);
  EXPECT_EQ(u32(12), 8u);
  EXPECT_EQ(u32(16), 4u);
  EXPECT_EQ(u32(20), 3u);
  EXPECT_EQ(u32(24), 1u);  // fast coder
  EXPECT_EQ(u32(28), 2u);
  EXPECT_EQ(u32(32), 25u);
  double fps = 0;
  std::memcpy(&fps, raw.data() + 36, 8);
  EXPECT_EQ(fps, 25.0);
  EXPECT_EQ(u32(56), 1u);  // small frames
  EXPECT_EQ(u32(64), 1088u);  // first block right after the table
  EXPECT_EQ(u32(68), 0u);
  const uint32_t first = u32(1088);
  EXPECT_EQ(first, 1088u + 3072u);
  // Frame record: {1, 16, chunks, size}, then the video chunk {4, 16, 1, 1}.
  EXPECT_EQ(u32(first), 1u);
  EXPECT_EQ(u32(first + 4), 16u);
  EXPECT_EQ(u32(first + 8), 1u);
  EXPECT_EQ(u32(first + 16), 4u);
  EXPECT_EQ(u32(first + 24), 1u);
  EXPECT_EQ(u32(first + 28), 1u);
  EXPECT_EQ(u32(first + 32), 5u);
  EXPECT_EQ(u32(first + 36), 20u);
  EXPECT_EQ(u32(first + 44), 4u);  // rows
  // The first-read size covers the whole small frame.
  EXPECT_EQ(u32(1088 + 4), u32(first + 12));
}

TEST(KwbFileLayout, ThreeHundredFramesUseTwoBlocks) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("long.kwb");
  WriteMovie(name, 300, 6, 4, 8);
  KWBFile kwb;
  KWBOpen(&kwb, name);
  EXPECT_EQ(kwb.header.frameCount, 300);
  EXPECT_EQ(kwb.blockTable[0], 1088);
  EXPECT_GT(kwb.blockTable[1], 1088);
  EXPECT_EQ(kwb.blockTable[2], 0);
  Qimg got, want;
  KWBImgLoad(&kwb, &got, 290, 0);
  MakeFrame(&want, 6, 4, 8, 290);
  EXPECT_TRUE(SameFrame(got, want));
  ImgBasic::ImgFree(&got);
  ImgBasic::ImgFree(&want);
  KWBClose(&kwb);
}

// Loading frame 12 directly restores the palette that frame 10 brought.
TEST(KwbFileLayout, PaletteOfAnEarlierFrameIsRestored) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("pal.kwb");
  KWBSetKeyInterval(1);  // every frame a key frame: no decoding of 10, 11
  WriteMovie(name, 14, 10, 10, 8);
  KWBSetKeyInterval(25);
  KWBFile kwb;
  KWBOpen(&kwb, name);
  Qimg got, want;
  KWBImgLoad(&kwb, &got, 12, 0);
  EXPECT_TRUE(kwb.newPalette);
  MakeFrame(&want, 10, 10, 8, 12);
  EXPECT_EQ(std::memcmp(got.palette, want.palette, 768), 0);
  KWBClose(&kwb);
  // A change in any one channel of one entry is a new palette.
  const std::string one = dir.File("onechannel.kwb");
  KWBCreate(&kwb, one, 25.0);
  std::vector<std::vector<uint8_t>> palettes;
  MakeFrame(&want, 10, 10, 8, 1);
  for (int channel : {-1, 1, 0}) {
    if (channel >= 0) want.palette[7 * 3 + channel] ^= 0x10;
    palettes.emplace_back(want.palette, want.palette + 768);
    KWBImgSave(&kwb, &want);
  }
  KWBClose(&kwb);
  KWBOpen(&kwb, one);
  for (int n = 1; n <= 3; n++) {
    KWBImgLoadNext(&kwb, &got);
    EXPECT_EQ(std::vector<uint8_t>(got.palette, got.palette + 768), palettes[n - 1]) << n;
  }
  ImgBasic::ImgFree(&got);
  ImgBasic::ImgFree(&want);
  KWBClose(&kwb);
}

// Frame 2 replaced by a record made by hand: a colour map of entries 5 and
// 6 alone, then the picture in two raw strips, of two rows and of one.
TEST(KwbFileLayout, HandMadeRecordWithAPartColourMapAndTwoStrips) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("hand.kwb");
  WriteMovie(name, 2, 4, 3, 8);
  fmttest::Bytes raw = fmttest::ReadFile(name), rec;
  const auto put = [](fmttest::Bytes& b, std::initializer_list<uint32_t> words) {
    for (uint32_t v : words) fmttest::Put32L(b, v);
  };
  put(rec, {1, 16, 2, 16 + 22 + 56 + 12, 2, 16, 2, 5});
  rec.insert(rec.end(), {0x0A, 0x14, 0x1E, 0x28, 0x32, 0x3C});
  put(rec, {4, 16, 2, 2, 5, 20, 8, 2, 0, 5, 20, 4, 1, 0});
  for (int i = 1; i <= 12; i++) rec.push_back(static_cast<uint8_t>(i * 11));
  fmttest::Bytes entry;  // frame 2's index entry: where, and that it has colours
  put(entry, {static_cast<uint32_t>(raw.size()), 0, 1});
  std::copy(entry.begin(), entry.end(), raw.begin() + 1088 + 12);
  raw.insert(raw.end(), rec.begin(), rec.end());
  fmttest::WriteFile(name, raw);
  KWBFile kwb;
  KWBOpen(&kwb, name);
  Qimg got, want;
  KWBImgLoad(&kwb, &got, 2, 0);
  ASSERT_TRUE(Errors::ErrNone());
  EXPECT_EQ(std::vector<uint8_t>(got.data, got.data + 12),
            (std::vector<uint8_t>{11, 22, 33, 44, 55, 66, 77, 88, 99, 110, 121, 132}));
  MakeFrame(&want, 4, 3, 8, 1);
  std::memcpy(want.palette + 15, "\x1E\x14\x0A\x3C\x32\x28", 6);  // B, G, R
  EXPECT_EQ(std::memcmp(got.palette, want.palette, 768), 0);
  ImgBasic::ImgFree(&got);
  ImgBasic::ImgFree(&want);
  KWBClose(&kwb);
}

TEST(KwbFileLayout, PredictionIsDroppedWhenItGainsNothing) {
  TestUtil::TempDir dir;
  KWBSetFastMode(0);
  // Flat colour: prediction cannot make it smaller than plain runs.
  const std::string flat = dir.File("flat.kwb");
  {
    KWBFile kwb;
    KWBCreate(&kwb, flat, 10);
    Qimg img;
    ImgBasic::_imgalloc_(&img, 40, 20, "t", __LINE__, 24);
    std::memset(img.data, 90, static_cast<size_t>(img.size));
    KWBImgSave(&kwb, &img);
    KWBClose(&kwb);
    ImgBasic::ImgFree(&img);
  }
  // A horizontal ramp: prediction turns it into runs.
  const std::string ramp = dir.File("ramp.kwb");
  {
    KWBFile kwb;
    KWBCreate(&kwb, ramp, 10);
    Qimg img;
    ImgBasic::_imgalloc_(&img, 200, 20, "t", __LINE__, 24);
    for (int32_t i = 0; i < 200 * 20; i++)
      for (int k = 0; k < 3; k++) img.data[i * 3 + k] = static_cast<uint8_t>(i * (k + 1));
    KWBImgSave(&kwb, &img);
    KWBClose(&kwb);
    KWBFile in;
    KWBOpen(&in, ramp);
    EXPECT_EQ(in.header.coder, kCoderBestPredict);
    Qimg got;
    KWBImgLoad(&in, &got, 1, 0);
    EXPECT_EQ(std::memcmp(got.data, img.data, static_cast<size_t>(img.size)), 0);
    ImgBasic::ImgFree(&got);
    ImgBasic::ImgFree(&img);
    KWBClose(&in);
  }
  KWBFile kwb;
  KWBOpen(&kwb, flat);
  EXPECT_EQ(kwb.header.coder, kCoderBest);
  KWBClose(&kwb);
  KWBSetFastMode(1);
}

TEST(KwbFileLayout, NoiseFramesAreStoredRawAndReadBack) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("noise.kwb");
  std::mt19937 rng(4);
  Qimg img;
  ImgBasic::_imgalloc_(&img, 50, 30, "t", __LINE__, 24);
  for (int32_t i = 0; i < img.size; i++) img.data[i] = static_cast<uint8_t>(rng());
  KWBFile kwb;
  KWBCreate(&kwb, name, 10);
  KWBImgSave(&kwb, &img);
  KWBClose(&kwb);
  KWBOpen(&kwb, name);
  Qimg got;
  KWBImgLoad(&kwb, &got, 1, 0);
  EXPECT_EQ(std::memcmp(got.data, img.data, static_cast<size_t>(img.size)), 0);
  KWBClose(&kwb);
  ImgBasic::ImgFree(&got);
  ImgBasic::ImgFree(&img);
}

TEST(KwbErrors, WrongMagicVersionAndFrameNumbers) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("bad.kwb");
  TestUtil::WriteText(name, std::string(64, 'x'));
  KWBFile kwb;
  EXPECT_THROW(KWBOpen(&kwb, name), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 12);
  EXPECT_EQ(Errors::ErrCode(), 1);
  KWBClose(&kwb);

  std::string header(64, '\0');
  header.replace(0, 4, std::string("KWB\x1A", 4));
  header[4] = 64;
  header[8] = 96;
  TestUtil::WriteText(name, header);
  EXPECT_THROW(KWBOpen(&kwb, name), Errors::EMon);
  EXPECT_EQ(Errors::ErrCode(), 5);
  KWBClose(&kwb);

  WriteMovie(name, 3, 4, 4, 16);
  KWBOpen(&kwb, name);
  Qimg img;
  EXPECT_THROW(KWBImgLoad(&kwb, &img, 4, 0), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 12);
  EXPECT_EQ(Errors::ErrCode(), 1);
  EXPECT_THROW(KWBImgLoad(&kwb, &img, -1, 0), Errors::EMon);
  KWBClose(&kwb);
  // Bytes a pixel are 1 to 3: the header's 3 opens, 4 and 0 are refused.
  std::string raw = TestUtil::ReadText(name);
  for (const auto& [bytes, opens] : {std::pair{3, true}, {4, false}, {0, false}}) {
    raw[20] = static_cast<char>(bytes);
    TestUtil::WriteText(name, raw);
    if (opens) {
      EXPECT_NO_THROW(KWBOpen(&kwb, name)) << bytes;
    } else {
      EXPECT_THROW(KWBOpen(&kwb, name), Errors::EMon) << bytes;
      EXPECT_EQ(Errors::ErrCode(), 1);
    }
    KWBClose(&kwb);
  }
}

TEST(KwbErrors, FramesOfAnotherSizeAreRefused) {
  TestUtil::TempDir dir;
  KWBFile kwb;
  KWBCreate(&kwb, dir.File("m.kwb"), 10);
  Qimg a, b;
  MakeFrame(&a, 8, 8, 24, 1);
  MakeFrame(&b, 9, 8, 24, 1);
  KWBImgSave(&kwb, &a);
  EXPECT_THROW(KWBImgSave(&kwb, &b), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 12);
  EXPECT_EQ(Errors::ErrCode(), 2);
  KWBClose(&kwb);
  ImgBasic::ImgFree(&a);
  ImgBasic::ImgFree(&b);
}

TEST(KwbErrors, LoadOnAWriterIsRefused) {
  TestUtil::TempDir dir;
  KWBFile kwb;
  KWBCreate(&kwb, dir.File("m.kwb"), 10);
  Qimg img;
  EXPECT_THROW(KWBImgLoad(&kwb, &img, 1, 0), Errors::EMon);
  EXPECT_FALSE(ImgBasic::ImgIsValid(&img));
  KWBClose(&kwb);
}

// Truncated and bit-flipped files give error pairs, never a crash or hang.
TEST(KwbErrors, DamagedFilesGiveErrors) {
  TestUtil::TempDir dir;
  const std::string good = dir.File("good.kwb");
  KWBSetFastMode(0);
  WriteMovie(good, 6, 20, 12, 8);
  KWBSetFastMode(1);
  const std::string bytes = TestUtil::ReadText(good);
  std::mt19937 rng(9);
  const std::string bad = dir.File("bad.kwb");
  for (int trial = 0; trial < 160; trial++) {
    std::string damaged = bytes;
    if (trial < 64) {
      damaged.resize(bytes.size() * static_cast<size_t>(trial) / 64);
    } else {
      for (int k = 0; k < 4; k++)
        damaged[rng() % damaged.size()] ^= static_cast<char>(1 << (rng() % 8));
    }
    TestUtil::WriteText(bad, damaged);
    KWBFile kwb;
    Qimg img;
    try {
      KWBOpen(&kwb, bad);
      for (int n = 1; n <= 6; n++) KWBImgLoad(&kwb, &img, n, 0);
      KWBImgLoad(&kwb, &img, 2, 0);
    } catch (const Errors::EMon&) {
      EXPECT_FALSE(Errors::ErrNone());
    }
    KWBClose(&kwb);
    ImgBasic::ImgFree(&img);
    EXPECT_EQ(Basic::FileMark(), 0);
  }
}

}  // namespace

namespace {

SndBasic::SndRec Tone(int32_t frames, int32_t rate, int32_t channels, int32_t bits,
                      int32_t offset) {
  SndBasic::SndRec s;
  SndBasic::SndMakeSilence(s, frames, rate, bits, channels);
  const int32_t align = s.format.blockAlign;
  for (int32_t i = 0; i < frames * align; i++)
    s.data[i] = static_cast<uint8_t>((i + offset) * 37 % 251);
  return s;
}

TEST(KwbSound, InterleavedSoundSeeksAndLoads) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("av.kwb");
  std::vector<uint8_t> all;
  {
    KWBFile kwb;
    KWBCreate(&kwb, name, 10);
    Qimg img;
    for (int n = 1; n <= 4; n++) {
      MakeFrame(&img, 8, 6, 16, n);
      KWBImgSave(&kwb, &img);
      SndBasic::SndRec s = Tone(100 + n, 11025, 2, 16, n * 1000);
      all.insert(all.end(), s.data, s.data + s.frames * 4);
      KWBSndSave(&kwb, &s);
      SndBasic::SndFree(s);
    }
    KWBClose(&kwb);
    ImgBasic::ImgFree(&img);
  }
  KWBFile kwb;
  KWBOpen(&kwb, name);
  ASSERT_TRUE(Errors::ErrNone());
  EXPECT_EQ(kwb.header.soundFlags, 7);
  EXPECT_EQ(kwb.header.sampleRate, 11025);
  EXPECT_EQ(kwb.header.totalSamples, 101 + 102 + 103 + 104);
  SndBasic::SndRec got;
  // Sequential loads across chunk borders.
  std::vector<uint8_t> seq;
  for (int32_t start = 0; start < 410; start += 37) {
    KWBSndLoad(&kwb, &got, start, 37, start ? 1 : 0);
    seq.insert(seq.end(), got.data, got.data + got.frames * 4);
  }
  EXPECT_EQ(seq, all);
  // A seek lands on the same samples as the sequential read.
  KWBSndLoad(&kwb, &got, 250, 20, 0);
  ASSERT_EQ(got.frames, 20);
  EXPECT_EQ(std::memcmp(got.data, all.data() + 250 * 4, 80), 0);
  // Past the end: no data.
  KWBSndLoad(&kwb, &got, 500, 10, 0);
  EXPECT_EQ(got.frames, 0);
  // Frames still read back.
  Qimg img, want;
  KWBImgLoad(&kwb, &img, 3, 0);
  MakeFrame(&want, 8, 6, 16, 3);
  EXPECT_TRUE(SameFrame(img, want));
  SndBasic::SndFree(got);
  ImgBasic::ImgFree(&img);
  ImgBasic::ImgFree(&want);
  KWBClose(&kwb);
}

TEST(KwbSound, SoundOnlyFileAndConversionToTheFileFormat) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("s.kwb");
  KWBFile kwb;
  KWBCreate(&kwb, name, 10);
  SndBasic::SndRec mono8 = Tone(50, 8000, 1, 8, 0);
  SndBasic::SndRec stereo16 = Tone(30, 8000, 2, 16, 3);
  KWBSndSave(&kwb, &mono8);
  KWBSndSave(&kwb, &stereo16);  // converted to 8-bit mono
  // A file that began with sound takes no frames.
  Qimg img;
  MakeFrame(&img, 4, 4, 24, 1);
  EXPECT_THROW(KWBImgSave(&kwb, &img), Errors::EMon);
  KWBClose(&kwb);
  const std::string raw = TestUtil::ReadText(name);
  EXPECT_EQ(raw[64], 3);  // the first chunk right after the header
  KWBOpen(&kwb, name);
  EXPECT_EQ(kwb.header.frameCount, 0);
  EXPECT_EQ(kwb.header.soundFlags, 1);
  EXPECT_EQ(kwb.header.totalSamples, 80);
  SndBasic::SndRec got;
  KWBSndLoad(&kwb, &got, 0, 200, 0);
  EXPECT_EQ(got.frames, 80);
  EXPECT_EQ(got.format.bitsPerSample, 8);
  EXPECT_EQ(got.format.channels, 1);
  EXPECT_EQ(std::memcmp(got.data, mono8.data, 50), 0);
  Qimg none;
  EXPECT_THROW(KWBImgLoad(&kwb, &none, 1, 0), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 15);
  KWBClose(&kwb);
  for (auto* s : {&mono8, &stereo16, &got}) SndBasic::SndFree(*s);
  ImgBasic::ImgFree(&img);
}

TEST(KwbSound, ALoopingChunkListIsAnError) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("loop.kwb");
  KWBFile kwb;
  KWBCreate(&kwb, name, 10);
  SndBasic::SndRec s = Tone(10, 8000, 1, 8, 0);
  KWBSndSave(&kwb, &s);
  KWBSndSave(&kwb, &s);
  KWBClose(&kwb);
  std::string raw = TestUtil::ReadText(name);
  // Point the second chunk back at the first.
  const size_t second = 64 + 16 + 10;
  raw[second + 8] = 64;
  TestUtil::WriteText(name, raw);
  KWBOpen(&kwb, name);
  SndBasic::SndRec got;
  EXPECT_THROW(KWBSndLoad(&kwb, &got, 15, 5, 0), Errors::EMon);
  KWBClose(&kwb);
  SndBasic::SndFree(s);
  SndBasic::SndFree(got);
}


TEST(KwbInfo, PicturesCoderNamesAndSound) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("m.kwb");
  WriteMovie(name, 4, 12, 9, 8);  // fast coder (the default)
  ConForm::FFInfoRec info;
  KWBInfo(name, &info);
  EXPECT_EQ(info.fileSize, static_cast<double>(Basic::FSize64(name)));
  EXPECT_EQ(info.picture.width, 12);
  EXPECT_EQ(info.picture.height, 9);
  EXPECT_EQ(info.picture.bytesPerPixel, 1);
  EXPECT_EQ(info.picture.bitsPerPixel, 8);
  EXPECT_EQ(info.picture.frameCount, 4);
  EXPECT_EQ(info.picture.fps, 25.0);
  EXPECT_EQ(info.picture.videoCompression, "KWB FAST codec");
  EXPECT_TRUE(info.picture.hasPictures && info.picture.picturesReadable);
  EXPECT_FALSE(info.sound.hasSound);
  // The coder field names the coder; an unknown one is "N/A".
  std::string raw = TestUtil::ReadText(name);
  for (const auto& [coder, text] :
       std::vector<std::pair<int, const char*>>{{0, "KWB BEST codec"},
                                                {2, "KWB BEST-P codec"},
                                                {7, "N/A"}}) {
    raw[24] = static_cast<char>(coder);
    raw[20] = 3;  // prediction is for 3 bytes a pixel
    TestUtil::WriteText(name, raw);
    KWBInfo(name, &info);
    EXPECT_EQ(info.picture.videoCompression, text) << coder;
    EXPECT_EQ(info.picture.bitsPerPixel, 24);
  }
  // Sound only: no pictures, both wave formats the file's PCM.
  const std::string snd = dir.File("s.kwb");
  KWBFile kwb;
  KWBCreate(&kwb, snd, 10);
  SndBasic::SndRec tone = Tone(70, 11025, 2, 16, 1);
  KWBSndSave(&kwb, &tone);
  KWBClose(&kwb);
  SndBasic::SndFree(tone);
  ConForm::FFInfo(snd, Basic::K_AUTO, &info, nullptr, nullptr);
  EXPECT_EQ(info.format, ConForm::kFmtKWB);
  EXPECT_FALSE(info.picture.hasPictures);
  EXPECT_EQ(info.picture.frameCount, 0);
  EXPECT_TRUE(info.sound.hasSound && info.sound.soundReadable);
  EXPECT_EQ(info.sound.sampleFrames, 70);
  EXPECT_EQ(info.sound.wave.samplesPerSec, 11025u);
  EXPECT_EQ(info.sound.wave.channels, 2);
  EXPECT_EQ(info.sound.wave.bitsPerSample, 16);
  EXPECT_EQ(info.sound.ownWave.blockAlign, 4);
  EXPECT_EQ(info.sound.audioCompression, "PCM, uncompressed");
  ConForm::UniInfoRec uni;
  ASSERT_TRUE(ConForm::UniInfo(snd, &uni, 1, nullptr, nullptr, false));
  EXPECT_EQ(uni.kind, ConForm::kKindStream);
  EXPECT_EQ(uni.sound.audioSize, 280.0);
  // Wrong magic: the reader's pair.
  TestUtil::WriteText(dir.File("bad.kwb"), std::string(100, 'k'));
  EXPECT_THROW(KWBInfo(dir.File("bad.kwb"), &info), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 12);
  EXPECT_EQ(Errors::ErrCode(), 1);
  EXPECT_EQ(Basic::FileMark(), 0);
}

}  // namespace
