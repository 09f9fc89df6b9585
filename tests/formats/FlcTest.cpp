#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "formats/ConForm.h"
#include "formats/FF_FLC.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "media/ImgBasic.h"
#include "support/TestUtil.h"

using namespace FF_FLC;
using ImgBasic::Qimg;

namespace {

void MakeFrame(Qimg* img, int32_t w, int32_t h, int32_t n) {
  ImgBasic::_imgalloc_(img, w, h, "test.flc", __LINE__, 8);
  for (int32_t y = 0; y < h; y++)
    for (int32_t x = 0; x < w; x++) {
      const bool box = x >= (n * 3) % w && x < (n * 3) % w + 6 && y >= 2 && y < 7;
      img->data[y * w + x] = box ? 200 : static_cast<uint8_t>((x / 4 + y / 3) % 16);
    }
  for (int i = 0; i < 256; i++) {
    img->palette[i * 3] = static_cast<uint8_t>(i * 7);
    img->palette[i * 3 + 1] = static_cast<uint8_t>(i * 3);
    img->palette[i * 3 + 2] = static_cast<uint8_t>(255 - i);
  }
}

// Frames 1..n; frame 3 repeats frame 2 (an unchanged frame).
std::vector<std::vector<uint8_t>> WriteFlc(const std::string& name, int32_t w, int32_t h,
                                           int32_t frames, double fps = 25.0) {
  std::vector<std::vector<uint8_t>> written;
  FlcFile flc;
  FLCCreate(&flc, name, fps);
  Qimg img;
  for (int32_t n = 1; n <= frames; n++) {
    MakeFrame(&img, w, h, n == 3 ? 2 : n);
    FLCSave(&flc, &img);
    written.emplace_back(img.data, img.data + int64_t{w} * h);
  }
  ImgBasic::ImgFree(&img);
  FLCClose(&flc);
  return written;
}

TEST(Flc, RoundTripSequentialAndBackwards) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("a.flc");
  for (int32_t w : {33, 64}) {
    const auto frames = WriteFlc(name, w, 17, 8);
    FlcFile flc;
    FLCOpen(&flc, name);
    ASSERT_TRUE(Errors::ErrNone());
    EXPECT_EQ(flc.header.frames, 8);
    EXPECT_EQ(flc.fps, 25.0);
    Qimg img;
    for (int32_t n = 1; n <= 8; n++) {
      FLCLoad(&flc, &img, 0, 0);
      ASSERT_EQ(std::memcmp(img.data, frames[n - 1].data(), frames[n - 1].size()), 0) << n;
    }
    for (int32_t n : {5, 2, 8, 1}) {
      Qimg fresh;
      FLCLoad(&flc, &fresh, n, 0);
      EXPECT_EQ(std::memcmp(fresh.data, frames[n - 1].data(), frames[n - 1].size()), 0) << n;
      EXPECT_EQ(fresh.palette[3 * 5], 35);
      ImgBasic::ImgFree(&fresh);
    }
    EXPECT_THROW(FLCLoad(&flc, &img, 9, 0), Errors::EMon);
    ImgBasic::ImgFree(&img);
    FLCClose(&flc);
  }
}

// 3 frames are 4 frame chunks (the loop frame) with a count of 3; the
// unchanged frame is a chunk with no sub-chunks.
TEST(Flc, LayoutOfAWrittenFile) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("b.flc");
  WriteFlc(name, 20, 10, 3, 10.0);
  const std::string raw = TestUtil::ReadText(name);
  auto u16 = [&](size_t o) { return static_cast<uint8_t>(raw[o]) | (static_cast<uint8_t>(raw[o + 1]) << 8); };
  auto u32 = [&](size_t o) { return static_cast<uint32_t>(u16(o) | (u16(o + 2) << 16)); };
  EXPECT_EQ(u32(0), raw.size());
  EXPECT_EQ(u16(4), 0xAF12);
  EXPECT_EQ(u16(6), 3);
  EXPECT_EQ(u16(8), 20);
  EXPECT_EQ(u16(10), 10);
  EXPECT_EQ(u16(12), 8);
  EXPECT_EQ(u16(14), 3);
  EXPECT_EQ(u32(16), 100u);
  EXPECT_EQ(u16(38), 1);
  EXPECT_EQ(u16(40), 1);
  EXPECT_EQ(u32(80), 128u);
  size_t pos = 128;
  std::vector<int> subs;
  while (pos + 16 <= raw.size()) {
    EXPECT_EQ(u16(pos + 4), 0xF1FA);
    subs.push_back(u16(pos + 6));
    if (subs.size() == 1) {
      EXPECT_EQ(u32(pos + 16), 778u);
      EXPECT_EQ(u16(pos + 20), 4);
    }
    // The sub-chunks fill their frame chunk exactly.
    size_t at = pos + 16;
    for (int k = 0; k < subs.back(); k++) at += u32(at);
    EXPECT_EQ(at, pos + u32(pos)) << "frame " << subs.size();
    pos += u32(pos);
  }
  EXPECT_EQ(pos, raw.size());
  EXPECT_EQ(subs, (std::vector<int>{2, 1, 0, 1}));
}

TEST(Flc, SpeedToFramesPerSecond) {
  EXPECT_EQ(FLCSpeedToFps(5, "x.fli"), 14.0);
  EXPECT_EQ(FLCSpeedToFps(5, "X.FLI"), 14.0);
  EXPECT_EQ(FLCSpeedToFps(5, "x.flc"), 200.0);
  EXPECT_EQ(FLCSpeedToFps(0, "x.flc"), 0.0);
  EXPECT_EQ(FLCSpeedToFps(3, "x.flc"), 333.3);
}

TEST(Flc, ClosingWithoutFramesWritesNothing) {
  TestUtil::TempDir dir;
  FlcFile flc;
  FLCCreate(&flc, dir.File("none.flc"), 0);
  FLCClose(&flc);
  EXPECT_FALSE(Basic::FileExists(dir.File("none.flc")));
  EXPECT_EQ(Basic::FileMark(), 0);
}

// Rows that need more packets than a byte can count fall back to a whole
// frame; the file still reads back exactly.
TEST(Flc, WideRowsWithManyChangesReadBack) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("wide.flc");
  FlcFile flc;
  FLCCreate(&flc, name, 30);
  Qimg img;
  ImgBasic::_imgalloc_(&img, 700, 4, "t", __LINE__, 8);
  std::memset(img.data, 0, static_cast<size_t>(img.size));
  FLCSave(&flc, &img);
  for (int32_t x = 0; x < 700; x += 2) img.data[x] = 9;  // 350 separate changes
  FLCSave(&flc, &img);
  std::vector<uint8_t> second(img.data, img.data + 2800);
  img.data[2 * 700 + 699] = 77;  // 699 unchanged pixels before the one change
  FLCSave(&flc, &img);
  FLCClose(&flc);
  FLCOpen(&flc, name);
  Qimg got;
  FLCLoad(&flc, &got, 2, 0);
  EXPECT_EQ(std::memcmp(got.data, second.data(), 2800), 0);
  FLCLoad(&flc, &got, 3, 0);
  EXPECT_EQ(std::memcmp(got.data, img.data, 2800), 0);
  FLCClose(&flc);
  ImgBasic::ImgFree(&img);
  ImgBasic::ImgFree(&got);
}

TEST(Flc, FrameSizeChangeIsRefused) {
  TestUtil::TempDir dir;
  FlcFile flc;
  FLCCreate(&flc, dir.File("c.flc"), 30);
  Qimg a, b;
  MakeFrame(&a, 10, 10, 1);
  MakeFrame(&b, 11, 10, 1);
  FLCSave(&flc, &a);
  EXPECT_THROW(FLCSave(&flc, &b), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 7);
  EXPECT_EQ(Errors::ErrCode(), 2);
  FLCClose(&flc);
  // The header's sides are 16-bit: a taller first frame is refused, not cut.
  Errors::ErrClear();
  FLCCreate(&flc, dir.File("tall.flc"), 30);
  MakeFrame(&b, 1, 65536, 1);
  EXPECT_THROW(FLCSave(&flc, &b), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 7);
  EXPECT_EQ(Errors::ErrCode(), 2);
  FLCClose(&flc);
  ImgBasic::ImgFree(&a);
  ImgBasic::ImgFree(&b);
}

TEST(Flc, DecodersClipAndStop) {
  std::vector<uint8_t> canvas(4 * 3, 0);
  // FLC word delta: 1 line, a skip-lines word (-2), the last-pixel word,
  // then 1 packet: skip 1, copy 1 word.
  const uint8_t delta7[] = {1, 0, 0xFE, 0xFF, 0x2A, 0x80, 1, 0, 1, 1, 7, 8};
  ASSERT_TRUE(FLCunCmps_(kDeltaFlc, delta7, sizeof delta7, canvas.data(), 4, 3));
  EXPECT_EQ(canvas[2 * 4 + 3], 0x2A);  // the last-pixel word
  EXPECT_EQ(canvas[2 * 4 + 1], 7);     // the packet's word at columns 1-2
  EXPECT_EQ(canvas[2 * 4 + 2], 8);
  EXPECT_EQ(canvas[0], 0);             // the two skipped lines are untouched
  // A run running past the line end is clipped, never written beyond.
  std::vector<uint8_t> small(4 * 2, 0);
  const uint8_t brun[] = {1, 100, 5, 1, 0x7F, 6};
  ASSERT_TRUE(FLCunCmps_(kByteRun, brun, sizeof brun, small.data(), 4, 2));
  EXPECT_EQ(small[3], 5);
  // Data that ends inside a packet is an error.
  const uint8_t shortFli[] = {0, 0, 1, 0, 1, 0, 5};
  EXPECT_FALSE(FLCunCmps_(kDeltaFli, shortFli, sizeof shortFli, small.data(), 4, 2));
}

TEST(Flc, DamagedFilesGiveErrors) {
  TestUtil::TempDir dir;
  const std::string good = dir.File("good.flc");
  WriteFlc(good, 21, 9, 5);
  const std::string bytes = TestUtil::ReadText(good);
  std::mt19937 rng(3);
  const std::string bad = dir.File("bad.flc");
  for (int trial = 0; trial < 200; trial++) {
    std::string damaged = bytes;
    if (trial < 64)
      damaged.resize(bytes.size() * static_cast<size_t>(trial) / 64);
    else
      for (int k = 0; k < 3; k++) damaged[rng() % damaged.size()] ^= static_cast<char>(1 << (rng() % 8));
    TestUtil::WriteText(bad, damaged);
    FlcFile flc;
    Qimg img;
    try {
      FLCOpen(&flc, bad);
      for (int n = 1; n <= 5; n++) FLCLoad(&flc, &img, n, 0);
      FLCLoad(&flc, &img, 2, 0);
    } catch (const Errors::EMon&) {
      EXPECT_FALSE(Errors::ErrNone());
    }
    FLCClose(&flc);
    ImgBasic::ImgFree(&img);
    EXPECT_EQ(Basic::FileMark(), 0);
  }
}

// ffmpeg decodes what we write frame for frame as we do.
TEST(FlcPeer, FfmpegDecodesOurFilesIdentically) {
  if (!TestUtil::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  TestUtil::TempDir dir;
  for (int32_t w : {31, 64}) {
    const std::string name = dir.File("peer.flc");
    const int32_t h = 13;
    const auto frames = WriteFlc(name, w, h, 6);
    const std::string rgb = dir.File("out.rgb");
    const std::string cmd = "ffmpeg -nostdin -v error -y -i " + name +
                            " -f rawvideo -pix_fmt rgb24 " + rgb;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string out = TestUtil::ReadText(rgb);
    const size_t frameBytes = static_cast<size_t>(w) * h * 3;
    ASSERT_GE(out.size() / frameBytes, 6u);
    Qimg pal;
    MakeFrame(&pal, w, h, 1);
    for (size_t f = 0; f < 6; f++) {
      for (size_t i = 0; i < static_cast<size_t>(w) * h; i++) {
        const uint8_t idx = frames[f][i];
        const uint8_t* px = reinterpret_cast<const uint8_t*>(out.data()) + f * frameBytes + i * 3;
        ASSERT_EQ(px[0], pal.palette[idx * 3 + 2]) << "frame " << f << " pixel " << i;
        ASSERT_EQ(px[1], pal.palette[idx * 3 + 1]);
        ASSERT_EQ(px[2], pal.palette[idx * 3]);
      }
    }
    ImgBasic::ImgFree(&pal);
  }
}


// Part of a file: the whole frames it holds, as many as ffmpeg decodes and
// the same pictures, with a warning; frames beyond them are out of range.
TEST(FlcPeer, ACutFileGivesTheFramesFfmpegDecodes) {
  if (!TestUtil::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  TestUtil::TempDir dir;
  const std::string whole = dir.File("whole.flc"), half = dir.File("half.flc");
  const int32_t w = 64, h = 40;
  WriteFlc(whole, w, h, 30);
  const std::string bytes = TestUtil::ReadText(whole);
  // The first frame holds most of the bytes: three quarters cut into the
  // later ones.
  TestUtil::WriteText(half, bytes.substr(0, bytes.size() * 3 / 4));
  const std::string rgb = dir.File("out.rgb");
  ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -i " + half + " -f rawvideo -pix_fmt rgb24 " + rgb +
                         " 2>/dev/null").c_str()),
            0);
  const std::string out = TestUtil::ReadText(rgb);
  const size_t frameBytes = static_cast<size_t>(w) * h * 3;
  const int32_t theirs = static_cast<int32_t>(out.size() / frameBytes);
  ASSERT_GT(theirs, 2);
  ASSERT_LT(theirs, 30);
  FlcFile flc;
  FLCOpen(&flc, half);
  EXPECT_EQ(Errors::WarnClass(), Errors::kClsFlic);
  EXPECT_EQ(Errors::WarnCode(), 1);
  EXPECT_EQ(flc.header.frames, theirs);
  Qimg img;
  for (int32_t f = 0; f < theirs; f++) {
    FLCLoad(&flc, &img, f + 1, 0);
    for (size_t i = 0; i < static_cast<size_t>(w) * h; i++) {
      const uint8_t idx = img.data[i];
      const uint8_t* px = reinterpret_cast<const uint8_t*>(out.data()) + f * frameBytes + i * 3;
      ASSERT_EQ(px[0], img.palette[idx * 3 + 2]) << "frame " << f << " pixel " << i;
      ASSERT_EQ(px[1], img.palette[idx * 3 + 1]);
      ASSERT_EQ(px[2], img.palette[idx * 3]);
    }
  }
  EXPECT_THROW(FLCLoad(&flc, &img, theirs + 1, 0), Errors::EMon);
  ImgBasic::ImgFree(&img);
  FLCClose(&flc);
  ConForm::FFInfoRec info;
  FLCInfo(half, &info);
  EXPECT_EQ(info.picture.frameCount, theirs);
  EXPECT_EQ(Errors::WarnCode(), 1);
  Errors::ErrClear();
}

TEST(FlcInfo, DescribesFramesRateAndCoding) {
  TestUtil::TempDir dir;
  const std::string flcName = dir.File("x.flc");
  WriteFlc(flcName, 24, 10, 3);
  // Speed 5: milliseconds for an FLC, 1/70 s for an FLI of the same bytes.
  std::string raw = TestUtil::ReadText(flcName);
  raw[16] = 5;
  raw[17] = raw[18] = raw[19] = 0;
  TestUtil::WriteText(flcName, raw);
  TestUtil::WriteText(dir.File("x.fli"), raw);
  ConForm::FFInfoRec info;
  FLCInfo(flcName, &info);
  EXPECT_EQ(info.fileSize, static_cast<double>(raw.size()));
  EXPECT_EQ(info.picture.width, 24);
  EXPECT_EQ(info.picture.height, 10);
  EXPECT_EQ(info.picture.bytesPerPixel, 1);
  EXPECT_EQ(info.picture.bitsPerPixel, 8);
  EXPECT_EQ(info.picture.frameCount, 3);  // the loop frame is not counted
  EXPECT_EQ(info.picture.fps, 200.0);
  EXPECT_EQ(info.picture.videoCompression, "RLE + pixel difference from previous frame");
  EXPECT_TRUE(info.picture.hasPictures && info.picture.picturesReadable);
  ConForm::FFInfo(dir.File("x.fli"), Basic::K_AUTO, &info, nullptr, nullptr);
  EXPECT_EQ(info.format, ConForm::kFmtFLC);
  EXPECT_EQ(info.filter, "FLIC/FLIC-Pro, Autodesk");
  EXPECT_EQ(info.picture.fps, 14.0);
  ConForm::UniInfoRec uni;
  ASSERT_TRUE(ConForm::UniInfo(flcName, &uni, 1, nullptr, nullptr, false));
  EXPECT_EQ(uni.kind, ConForm::kKindStream);
  EXPECT_EQ(uni.picture.videoDuration, 3 / 200.0);
  // The still dispatch does not read animations.
  Qimg img;
  EXPECT_THROW(ConForm::ImgLoad(flcName, &img, Basic::K_AUTO, nullptr), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 7);
  EXPECT_EQ(Errors::ErrCode(), 2);
  // A file that is no FLIC: the reader's pair, nothing left open.
  TestUtil::WriteText(dir.File("bad.flc"), std::string(200, 'x'));
  EXPECT_THROW(FLCInfo(dir.File("bad.flc"), &info), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 7);
  EXPECT_EQ(Errors::ErrCode(), 2);
  EXPECT_EQ(Basic::FileMark(), 0);
}

}  // namespace

namespace {

// An FLI file built by hand: a 320 × 200 screen (or one left out of the
// header, which FLI readers take as 320 × 200), a prefix chunk, a 64-level
// colour map, a byte-run first frame, a byte-delta second frame, a third
// frame of a postage stamp, a black screen and a word delta, and a fourth of
// the chunk kind at the top of the table, a literal screen (16).
std::string HandMadeFli(bool sizeInHeader) {
  std::string f(128, '\0');
  auto put16 = [](std::string& s, size_t at, int v) {
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
  };
  auto put32 = [&](std::string& s, size_t at, uint32_t v) {
    put16(s, at, static_cast<int>(v & 0xFFFF));
    put16(s, at + 2, static_cast<int>(v >> 16));
  };
  put16(f, 4, 0xAF11);
  put16(f, 6, 4);
  if (sizeInHeader) {
    put16(f, 8, 320);
    put16(f, 10, 200);
  }
  put32(f, 16, 5);
  auto chunk = [&](int type, const std::string& data) {
    std::string c(6, '\0');
    put32(c, 0, static_cast<uint32_t>(6 + data.size()));
    put16(c, 4, type);
    return c + data;
  };
  auto frame = [&](const std::vector<std::string>& subs) {
    std::string body;
    for (const auto& s : subs) body += s;
    std::string h(16, '\0');
    put32(h, 0, static_cast<uint32_t>(16 + body.size()));
    put16(h, 4, 0xF1FA);
    put16(h, 6, static_cast<int>(subs.size()));
    return h + body;
  };
  std::string colours(4, '\0');
  colours[0] = 1;  // one packet: skip 0, 256 entries
  for (int i = 0; i < 256; i++) {
    colours += static_cast<char>(i % 64);
    colours += static_cast<char>((i * 3) % 64);
    colours += static_cast<char>(63 - i % 64);
  }
  colours.resize(colours.size() + (colours.size() & 1));
  std::string brun;
  for (int y = 0; y < 200; y++) {
    brun += static_cast<char>(3);
    for (int k = 0; k < 2; k++) {  // 2 runs of 127 and one of 66: 320 pixels
      brun += static_cast<char>(127);
      brun += static_cast<char>((y + k) % 200);
    }
    brun += static_cast<char>(66);
    brun += static_cast<char>(y % 7);
  }
  brun.resize(brun.size() + (brun.size() & 1));
  std::string delta(4, '\0');
  put16(delta, 0, 10);  // skip 10 lines
  put16(delta, 2, 2);   // two lines
  for (int l = 0; l < 2; l++) {
    delta += static_cast<char>(2);        // packets
    delta += static_cast<char>(5);        // skip 5
    delta += static_cast<char>(3);        // copy 3
    delta += std::string("\x09\x0A\x0B", 3);
    delta += static_cast<char>(100);      // skip 100
    delta += static_cast<char>(-4);       // repeat 4
    delta += static_cast<char>(42);
  }
  delta.resize(delta.size() + (delta.size() & 1));
  // The second frame's colour map changes entries 2 and 6-7: each packet
  // skips from where the one before it ended.
  std::string changes = {2, 0, 2, 1, 63, 0, 0, 3, 2, 0, 63, 0, 0, 0, 63};
  changes.resize(changes.size() + (changes.size() & 1));
  // Word delta: two lines, the first a run of 3 words at column 4, then
  // 5 lines skipped and one word copied at column 0.
  const std::string words("\x02\0\x01\0\x04\xFD\x11\x22\xFB\xFF\x01\0\0\x01\x44\x55", 16);
  const std::string stamp =
      std::string("\x02\0\x02\0\x01\0", 6) + chunk(15, "\x01\x02\x63\x01\x02\x63");
  f += chunk(0xF100, std::string(10, '\x07'));
  f += frame({chunk(11, colours), chunk(15, brun)});
  f += frame({chunk(11, changes), chunk(12, delta)});
  f += frame({chunk(18, stamp), chunk(13, ""), chunk(7, words)});
  std::string literal(320 * 200, '\0');
  for (size_t i = 0; i < literal.size(); i++) literal[i] = static_cast<char>(i * 7 % 251);
  f += frame({chunk(16, literal)});
  put32(f, 0, static_cast<uint32_t>(f.size()));
  return f;
}

TEST(FliPeer, HandMadeFliDecodesAsFfmpegDecodesIt) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("hand.fli");
  TestUtil::WriteText(name, HandMadeFli(true));
  FlcFile flc;
  FLCOpen(&flc, name);
  ASSERT_TRUE(Errors::ErrNone());
  EXPECT_EQ(flc.header.width, 320);
  EXPECT_EQ(flc.header.height, 200);
  EXPECT_EQ(flc.fps, 14.0);
  Qimg f1, f2, f3, f4;
  FLCLoad(&flc, &f1, 1, 0);
  FLCLoad(&flc, &f2, 2, 0);
  FLCLoad(&flc, &f3, 3, 0);
  FLCLoad(&flc, &f4, 4, 0);
  ASSERT_TRUE(Errors::ErrNone()) << Errors::ErrLastText();
  EXPECT_EQ(f4.data[321], 321 * 7 % 251);
  EXPECT_EQ(f2.data[10 * 320 + 5], 9);
  EXPECT_EQ(f2.data[11 * 320 + 108 + 3], 42);
  EXPECT_EQ(f1.palette[5 * 3 + 2], 5 * 4);  // 6-bit red scaled by 4
  const uint8_t changed[3][3] = {{0, 0, 252}, {0, 252, 0}, {252, 0, 0}};  // B, G, R
  for (int k = 0; k < 3; k++)
    EXPECT_EQ(std::memcmp(f2.palette + (k == 0 ? 2 : 5 + k) * 3, changed[k], 3), 0) << k;
  EXPECT_EQ(f2.palette[3 * 3 + 2], f1.palette[3 * 3 + 2]);
  // Frame 3: black but for the words of the delta; the stamp is not drawn.
  std::vector<uint8_t> third(320 * 200, 0);
  for (int x : {4, 6, 8}) {
    third[x] = 0x11;
    third[x + 1] = 0x22;
  }
  third[6 * 320] = 0x44;
  third[6 * 320 + 1] = 0x55;
  EXPECT_EQ(std::vector<uint8_t>(f3.data, f3.data + 320 * 200), third);
  FLCClose(&flc);
  if (TestUtil::HaveTool("ffmpeg")) {
    const std::string rgb = dir.File("fli.rgb");
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -i " + name + " -f rawvideo -pix_fmt rgb24 " + rgb).c_str()), 0);
    const std::string out = TestUtil::ReadText(rgb);
    ASSERT_GE(out.size(), 4u * 320 * 200 * 3);
    for (int fno = 0; fno < 4; fno++) {
      const Qimg& img = fno == 0 ? f1 : fno == 1 ? f2 : fno == 2 ? f3 : f4;
      for (size_t i = 0; i < 320u * 200; i++) {
        const uint8_t* px = reinterpret_cast<const uint8_t*>(out.data()) + fno * 320 * 200 * 3 + i * 3;
        const uint8_t* bgr = img.palette + img.data[i] * 3;
        // ffmpeg widens 6-bit levels as v << 2 | v >> 4.
        ASSERT_EQ(px[0] >> 2, bgr[2] >> 2) << "frame " << fno << " pixel " << i;
        ASSERT_EQ(px[1] >> 2, bgr[1] >> 2);
        ASSERT_EQ(px[2] >> 2, bgr[0] >> 2);
      }
    }
  }
  // Without a size in the header the screen is the FLI's 320 × 200 too.
  TestUtil::WriteText(name, HandMadeFli(false));
  FLCOpen(&flc, name);
  Qimg again;
  FLCLoad(&flc, &again, 2, 0);
  EXPECT_EQ(std::memcmp(again.data, f2.data, 320 * 200), 0);
  FLCClose(&flc);
  ImgBasic::ImgFree(&again);
  for (Qimg* img : {&f1, &f2, &f3, &f4}) ImgBasic::ImgFree(img);
}

}  // namespace

namespace {

// A file's frames as R,G,B, as ffmpeg decodes them (the loop frame too).
std::vector<std::vector<uint8_t>> FfmpegFrames(const std::string& file, int32_t w, int32_t h,
                                               const TestUtil::TempDir& dir) {
  const std::string rgb = dir.File("ff.rgb");
  std::remove(rgb.c_str());
  const std::string cmd = "ffmpeg -nostdin -v error -y -i " + file + " -f rawvideo -pix_fmt rgb24 " + rgb;
  if (std::system(cmd.c_str()) != 0) return {};
  const std::string out = TestUtil::ReadText(rgb);
  const size_t frameBytes = static_cast<size_t>(w) * h * 3;
  std::vector<std::vector<uint8_t>> frames;
  for (size_t at = 0; at + frameBytes <= out.size(); at += frameBytes)
    frames.emplace_back(out.begin() + static_cast<std::ptrdiff_t>(at),
                        out.begin() + static_cast<std::ptrdiff_t>(at + frameBytes));
  return frames;
}

// An image of any depth as R,G,B.
std::vector<uint8_t> RgbOf(Qimg& img) {
  Qimg wide;
  ImgBasic::ImgConvBpp(&img, &wide, 24);
  std::vector<uint8_t> rgb;
  for (int64_t i = 0; i < int64_t{wide.width} * wide.height; i++)
    rgb.insert(rgb.end(), {wide.data[i * 3 + 2], wide.data[i * 3 + 1], wide.data[i * 3]});
  ImgBasic::ImgFree(&wide);
  return rgb;
}

// Our own reading of every frame of a file, as R,G,B.
std::vector<std::vector<uint8_t>> OurFrames(const std::string& file) {
  FlcFile flc;
  FLCOpen(&flc, file);
  std::vector<std::vector<uint8_t>> frames;
  Qimg img;
  for (int32_t n = 1; n <= flc.header.frames; n++) {
    FLCLoad(&flc, &img, n, 0);
    frames.push_back(RgbOf(img));
  }
  ImgBasic::ImgFree(&img);
  FLCClose(&flc);
  return frames;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); i++) sum += (a[i] - b[i]) * double(a[i] - b[i]);
  return sum == 0 ? 99 : 10 * std::log10(255.0 * 255 * double(a.size()) / sum);
}

// Each frame's palette travels with it: a frame whose colours changed but
// whose indices did not is a colour map alone, and the loop frame brings
// the first palette back.
TEST(Flc, PalettesTravelWithTheirFrames) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("pal.flc");
  FlcFile flc;
  FLCCreate(&flc, name, 10);
  Qimg img;
  MakeFrame(&img, 20, 10, 1);
  FLCSave(&flc, &img);
  const std::vector<uint8_t> first = RgbOf(img);
  for (int i = 0; i < 768; i++) img.palette[i] = static_cast<uint8_t>(255 - img.palette[i]);
  FLCSave(&flc, &img);  // new colours, same indices
  const std::vector<uint8_t> second = RgbOf(img);
  FLCSave(&flc, &img);  // nothing new
  FLCClose(&flc);
  ImgBasic::ImgFree(&img);

  const std::string raw = TestUtil::ReadText(name);
  auto u16 = [&](size_t o) { return static_cast<uint8_t>(raw[o]) | (static_cast<uint8_t>(raw[o + 1]) << 8); };
  auto u32 = [&](size_t o) { return static_cast<uint32_t>(u16(o) | (u16(o + 2) << 16)); };
  std::vector<std::vector<int>> types;
  for (size_t pos = 128; pos + 16 <= raw.size(); pos += u32(pos)) {
    types.emplace_back();
    for (size_t sub = pos + 16, k = 0; k < static_cast<size_t>(u16(pos + 6)); k++, sub += u32(sub))
      types.back().push_back(u16(sub + 4));
  }
  EXPECT_EQ(types, (std::vector<std::vector<int>>{{4, 15}, {4}, {}, {4}}));

  const auto ours = OurFrames(name);
  ASSERT_EQ(ours.size(), 3u);
  EXPECT_EQ(ours[0], first);
  EXPECT_EQ(ours[1], second);
  EXPECT_EQ(ours[2], second);

  // Frame 2's colour map made to start at entry 200 runs past entry 255:
  // its entries 0-55 land on 200-255, the rest are dropped, and entries
  // 0-199 keep frame 1's colours.
  std::string past = raw;
  past[128 + u32(128) + 16 + 8] = static_cast<char>(200);
  TestUtil::WriteText(dir.File("past.flc"), past);
  FLCOpen(&flc, dir.File("past.flc"));
  FLCLoad(&flc, &img, 2, 0);
  std::vector<uint8_t> want(768);
  for (int i = 0; i < 256; i++) {
    const int e = i < 200 ? i : i - 200;
    const uint8_t bgr[3] = {uint8_t(e * 7), uint8_t(e * 3), uint8_t(255 - e)};
    for (int k = 0; k < 3; k++) want[i * 3 + k] = i < 200 ? bgr[k] : 255 - bgr[k];
  }
  EXPECT_EQ(std::vector<uint8_t>(img.palette, img.palette + 768), want);
  FLCClose(&flc);
  ImgBasic::ImgFree(&img);
  if (!TestUtil::HaveTool("ffmpeg")) return;
  const auto ff = FfmpegFrames(name, 20, 10, dir);
  ASSERT_GE(ff.size(), 3u);
  for (size_t f = 0; f < 3; f++) EXPECT_EQ(ff[f], ours[f]) << "frame " << f;
}

// Frames that no coding makes smaller: uncompressed, exactly width × height
// bytes, where rows are a multiple of 4 bytes wide, and byte-run coded
// otherwise (ffmpeg skips uncompressed frames of other widths). Either way
// ffmpeg decodes every frame as we do.
TEST(FlcPeer, NoiseFramesOfAnyWidthDecodeInFfmpeg) {
  if (!TestUtil::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  TestUtil::TempDir dir;
  std::mt19937 rng(5);
  for (const auto& [w, h, pixelChunk] : {std::tuple{7, 5, kByteRun}, std::tuple{12, 3, kLiteral}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    const std::string name = dir.File("noise.flc");
    FlcFile flc;
    FLCCreate(&flc, name, 10);
    Qimg img;
    MakeFrame(&img, w, h, 1);
    for (int f = 0; f < 3; f++) {
      for (int i = 0; i < w * h; i++) img.data[i] = static_cast<uint8_t>(rng());
      FLCSave(&flc, &img);
    }
    FLCClose(&flc);
    ImgBasic::ImgFree(&img);
    const std::string raw = TestUtil::ReadText(name);
    auto u16 = [&](size_t o) { return static_cast<uint8_t>(raw[o]) | (static_cast<uint8_t>(raw[o + 1]) << 8); };
    auto u32 = [&](size_t o) { return static_cast<uint32_t>(u16(o) | (u16(o + 2) << 16)); };
    const size_t second = 128 + u32(128);
    ASSERT_EQ(u16(second + 6), 1);
    EXPECT_EQ(u16(second + 16 + 4), pixelChunk);
    if (pixelChunk == kLiteral) {
      EXPECT_EQ(u32(second + 16), 6u + w * h);
    }
    const auto ours = OurFrames(name);
    const auto ff = FfmpegFrames(name, w, h, dir);
    ASSERT_GE(ff.size(), 3u);
    for (size_t f = 0; f < 3; f++) EXPECT_EQ(ff[f], ours[f]) << "frame " << f;
  }
}

// A true-colour movie written to FLC: every frame keeps the colours it was
// quantised to, and ffmpeg decodes the file as we do.
TEST(FlcPeer, TrueColourAviFramesKeepTheirOwnPalettes) {
  if (!TestUtil::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  TestUtil::TempDir dir;
  const std::string avi = dir.File("src.avi");
  const std::string flcName = dir.File("out.flc");
  ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=64x48:rate=10 -frames:v 30 "
                         "-c:v rawvideo -pix_fmt bgr24 " + avi).c_str()),
            0);
  ConForm::MviFile in, out;
  ConForm::MviOpen(&in, avi, Basic::K_AUTO, nullptr, nullptr);
  ConForm::MviCreate(&out, flcName, 10.0, 1, 30);
  ASSERT_TRUE(Errors::ErrNone());
  std::vector<std::vector<uint8_t>> source, quantised;
  Qimg img, eight;
  for (int32_t n = 1; n <= 30; n++) {
    ConForm::MviImgLoad(&in, &img, n, 0, nullptr);
    ASSERT_EQ(img.bitsPerPixel, 24);
    source.push_back(RgbOf(img));
    ImgBasic::ImgConvBpp(&img, &eight, 8);  // what the writer makes of it
    quantised.push_back(RgbOf(eight));
    ConForm::MviImgSave(&out, &img);
  }
  ConForm::MviClose(&in);
  ConForm::MviClose(&out);
  ImgBasic::ImgFree(&img);
  ImgBasic::ImgFree(&eight);
  ASSERT_TRUE(Errors::ErrNone());

  const auto ours = OurFrames(flcName);
  const auto ff = FfmpegFrames(flcName, 64, 48, dir);
  ASSERT_EQ(ours.size(), 30u);
  ASSERT_GE(ff.size(), 30u);
  for (size_t f = 0; f < 30; f++) {
    EXPECT_EQ(ff[f], ours[f]) << "frame " << f + 1;
    EXPECT_EQ(ours[f], quantised[f]) << "frame " << f + 1;
    EXPECT_GT(Psnr(ours[f], source[f]), 30.0) << "frame " << f + 1;
  }
}

// Some writers leave out the pad byte of the last frame chunk: a frame
// whose chunk declares one byte more than the file holds, with every
// sub-chunk inside the file, is read like the padded file (which ffmpeg
// reads alike; this ffmpeg drops the short frame itself). Two bytes short, or one byte short inside a sub-chunk, the
// frame is cut and the file ends before it.
TEST(FlcPeer, LastFrameShortOfItsPadByteIsRead) {
  TestUtil::TempDir dir;
  const int32_t w = 23, h = 11;
  const std::string written = dir.File("written.flc");
  const auto frames = WriteFlc(written, w, h, 3);
  std::string raw = TestUtil::ReadText(written);
  auto u32 = [&](size_t at) {
    uint32_t v = 0;
    for (int k = 3; k >= 0; k--) v = v << 8 | static_cast<uint8_t>(raw[at + k]);
    return v;
  };
  // Keep the three frames, without the loop frame after them.
  size_t last = 128;
  for (int f = 1; f < 3; f++) last += u32(last);
  const uint32_t lastSize = u32(last);
  raw.resize(last + lastSize);
  auto withLastSize = [&](uint32_t declared, size_t keep) {
    std::string f = raw + std::string(1, '\0');
    for (int k = 0; k < 4; k++) f[last + k] = static_cast<char>(declared >> (8 * k));
    f.resize(keep);
    return f;
  };
  const std::string padded = dir.File("padded.flc"), shortOne = dir.File("short1.flc");
  TestUtil::WriteText(padded, withLastSize(lastSize + 1, raw.size() + 1));
  TestUtil::WriteText(shortOne, withLastSize(lastSize + 1, raw.size()));
  const auto paddedFrames = OurFrames(padded);
  ASSERT_EQ(paddedFrames.size(), 3u);
  FlcFile flc;
  FLCOpen(&flc, shortOne);
  EXPECT_EQ(flc.header.frames, 3);
  EXPECT_FALSE(flc.cut);
  Qimg img;
  FLCLoad(&flc, &img, 3, 0);
  EXPECT_EQ(std::vector<uint8_t>(img.data, img.data + w * h), frames[2]);
  FLCClose(&flc);
  ImgBasic::ImgFree(&img);
  EXPECT_EQ(OurFrames(shortOne), paddedFrames);
  if (TestUtil::HaveTool("ffmpeg")) {
    const auto ff = FfmpegFrames(padded, w, h, dir);
    ASSERT_GE(ff.size(), 3u);
    for (size_t f = 0; f < 3; f++) EXPECT_EQ(ff[f], paddedFrames[f]) << "frame " << f + 1;
  }

  const std::string cut = dir.File("cut.flc");
  const struct {
    const char* what;
    uint32_t declared;
    size_t keep;
  } cuts[] = {{"two bytes short", lastSize + 2, raw.size()},
              {"one byte short inside a sub-chunk", lastSize, raw.size() - 1}};
  for (const auto& c : cuts) {
    SCOPED_TRACE(c.what);
    TestUtil::WriteText(cut, withLastSize(c.declared, c.keep));
    FLCOpen(&flc, cut);
    EXPECT_EQ(flc.header.frames, 2);
    EXPECT_EQ(Errors::WarnClass(), Errors::kClsFlic);
    EXPECT_EQ(Errors::WarnCode(), 1);
    EXPECT_THROW(FLCLoad(&flc, &img, 3, 0), Errors::EMon);
    FLCClose(&flc);
  }
  Errors::ErrClear();
}

}  // namespace
