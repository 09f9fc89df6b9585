#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "GifWriter.h"
#include "formats/ConForm.h"
#include "formats/FF_GIF.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "media/ImgBasic.h"
#include "support/TestUtil.h"

using namespace FF_GIF;
using giftest::GifWriter;
using ImgBasic::Qimg;

namespace {

std::vector<uint8_t> Solid(int n, uint8_t v) { return std::vector<uint8_t>(static_cast<size_t>(n), v); }

std::vector<uint8_t> Ramp(int w, int h, int seed) {
  std::vector<uint8_t> p(static_cast<size_t>(w) * h);
  for (int i = 0; i < w * h; i++) p[i] = static_cast<uint8_t>((i * 7 + seed * 13) % 251);
  return p;
}

std::vector<uint8_t> Pixels(const Qimg& img) {
  return std::vector<uint8_t>(img.data, img.data + static_cast<size_t>(img.width) * img.height);
}

TEST(Gif, OnePixelStill) {
  TestUtil::TempDir dir;
  GifWriter w(1, 1);
  w.Image(0, 0, 1, 1, {42});
  w.Save(dir.File("one.gif"));
  GifFile gif;
  GIFOpen(&gif, dir.File("one.gif"), false);
  ASSERT_EQ(gif.frameCount, 1);
  EXPECT_EQ(gif.fps, 0.0);
  Qimg img;
  GIFLoadNext(&gif, &img, nullptr);
  ASSERT_TRUE(Errors::ErrNone());
  EXPECT_EQ(img.data[0], 42);
  // Global palette turned to B,G,R.
  EXPECT_EQ(img.palette[42 * 3], 126);
  EXPECT_EQ(img.palette[42 * 3 + 1], 213);
  EXPECT_EQ(img.palette[42 * 3 + 2], 42);
  GIFClose(&gif);
  ImgBasic::ImgFree(&img);
}

TEST(Gif, FrameLargerThanTheScreenIsClipped) {
  TestUtil::TempDir dir;
  GifWriter w(4, 3);
  w.Image(2, 1, 10, 10, Ramp(10, 10, 1));
  w.Save(dir.File("big.gif"));
  GifFile gif;
  GIFOpen(&gif, dir.File("big.gif"), false);
  Qimg img;
  GIFLoadNext(&gif, &img, nullptr);
  const auto ramp = Ramp(10, 10, 1);
  EXPECT_EQ(img.data[1 * 4 + 2], ramp[0]);
  EXPECT_EQ(img.data[2 * 4 + 3], ramp[11]);
  EXPECT_EQ(img.data[0], 0);  // background
  GIFClose(&gif);
  ImgBasic::ImgFree(&img);
}

TEST(Gif, DisposalTransparencyAndInterlace) {
  TestUtil::TempDir dir;
  GifWriter w(6, 6, 3);
  w.Control(0, -1, 10);
  w.Raw({0});  // a stray byte before the first descriptor is passed over
  w.Image(0, 0, 6, 6, Solid(36, 1), true);  // interlaced full frame
  w.Control(3, -1, 10);                   // restore after this one
  w.Image(1, 1, 2, 2, Solid(4, 2));
  w.Control(2, 5, 10, {7, 0x2C});         // 6 bytes; background after; 5 transparent
  w.Image(3, 3, 2, 2, {5, 4, 4, 5});
  w.UnknownExtension();
  w.PlainTextAndApplication();
  w.Comment("a comment between frames");
  w.Control(0, -1, 10);
  w.Image(0, 5, 1, 1, {9});
  w.Raw({0});  // after a frame a stray byte ends the frames: the next is not one
  w.Image(0, 0, 1, 1, {8});
  w.Save(dir.File("d.gif"));

  GifFile gif;
  GIFOpen(&gif, dir.File("d.gif"), false);
  ASSERT_EQ(gif.frameCount, 4);
  EXPECT_TRUE(gif.partialFrames);
  EXPECT_DOUBLE_EQ(gif.fps, 10.0);
  Qimg f1, f2, f3, f4, alpha;
  GIFLoad(&gif, &f1, 1, 0, nullptr);
  GIFLoad(&gif, &f2, 2, 0, nullptr);
  GIFLoad(&gif, &f3, 3, 0, &alpha);
  GIFLoad(&gif, &f4, 4, 0, nullptr);
  EXPECT_EQ(Pixels(f1), Solid(36, 1));
  EXPECT_EQ(f2.data[1 * 6 + 1], 2);
  // Frame 3: frame 2 restored (disposal 3), its transparent corners show 1.
  EXPECT_EQ(f3.data[1 * 6 + 1], 1);
  EXPECT_EQ(f3.data[3 * 6 + 3], 1);
  EXPECT_EQ(f3.data[3 * 6 + 4], 4);
  EXPECT_EQ(alpha.bitsPerPixel, 8);
  EXPECT_EQ(alpha.data[0], 255);
  // Frame 4: frame 3's rectangle went back to the background (3), and
  // only that rectangle.
  EXPECT_EQ(f4.data[3 * 6 + 4], 3);
  EXPECT_EQ(f4.data[0], 1);
  EXPECT_EQ(f4.data[5 * 6 + 0], 9);
  // Random access equals sequential decoding.
  for (int n : {3, 1, 4, 2}) {
    Qimg r;
    GIFLoad(&gif, &r, n, 0, nullptr);
    const Qimg& want = n == 1 ? f1 : n == 2 ? f2 : n == 3 ? f3 : f4;
    EXPECT_EQ(Pixels(r), Pixels(want)) << n;
    ImgBasic::ImgFree(&r);
  }
  GIFClose(&gif);
  for (Qimg* q : {&f1, &f2, &f3, &f4, &alpha}) ImgBasic::ImgFree(q);
}

TEST(Gif, DisposalToMissingBackgroundFillsZero) {
  TestUtil::TempDir dir;
  GifWriter w(3, 1, 0, false);
  w.Control(2, -1, 0);
  w.Image(0, 0, 3, 1, {7, 7, 7}, false, true);
  w.Image(2, 0, 1, 1, {8}, false, true);
  w.Save(dir.File("nb.gif"));
  GifFile gif;
  GIFOpen(&gif, dir.File("nb.gif"), false);
  EXPECT_EQ(gif.background, -1);
  Qimg img;
  GIFLoad(&gif, &img, 2, 0, nullptr);
  EXPECT_EQ(Pixels(img), (std::vector<uint8_t>{0, 0, 8}));
  EXPECT_TRUE(gif.newPalette);
  EXPECT_EQ(img.palette[0], 9);  // local table, B of (255, 7, 9)
  GIFClose(&gif);
  ImgBasic::ImgFree(&img);
}

// One table over the whole animation keeps 8 bits; a partial frame with a
// table of its own makes every frame 24 bits, composed in colour through
// disposal and transparency; the reopen cache and the format layer say so.
TEST(Gif, DepthFollowsTheTablesThatShow) {
  TestUtil::TempDir dir;
  GifWriter w(4, 2, 3);
  w.Control(0, -1, 10);
  w.Image(0, 0, 4, 2, {1, 1, 2, 2, 1, 1, 2, 2});
  w.Control(3, 5, 10);  // local table, index 5 transparent, restored after
  w.Image(1, 0, 2, 1, {5, 6}, false, true);
  w.Control(0, -1, 10);
  w.Image(3, 1, 1, 1, {4});
  w.Save(dir.File("mixed.gif"));
  // Global entry i is (i, 255 - i, 3i); local entry i is (255 - i, 7, 9).
  auto global = [](int i) { return std::vector<uint8_t>{uint8_t(3 * i), uint8_t(255 - i), uint8_t(i)}; };
  auto local = [](int i) { return std::vector<uint8_t>{9, 7, uint8_t(255 - i)}; };
  for (int open = 0; open < 2; open++) {  // the second open comes from the cache
    GifFile gif;
    GIFOpen(&gif, dir.File("mixed.gif"), false);
    EXPECT_TRUE(gif.trueColour);
    EXPECT_EQ(gif.bitsPerPixel, 24);
    std::vector<std::vector<uint8_t>> frames;
    Qimg img;
    for (int n : {1, 2, 3}) {
      GIFLoad(&gif, &img, n, 0, nullptr);
      ASSERT_EQ(img.bitsPerPixel, 24);
      frames.emplace_back(img.data, img.data + 24);
    }
    auto px = [&](int f, int i) { return std::vector<uint8_t>(frames[f].begin() + i * 3, frames[f].begin() + i * 3 + 3); };
    EXPECT_EQ(px(0, 0), global(1));
    EXPECT_EQ(px(1, 1), global(1));  // transparent: frame 1 shows through
    EXPECT_EQ(px(1, 2), local(6));
    EXPECT_EQ(px(1, 4), global(1));
    EXPECT_EQ(px(2, 2), global(2));  // frame 2 restored (disposal 3)
    EXPECT_EQ(px(2, 7), global(4));
    GIFClose(&gif);
    ImgBasic::ImgFree(&img);
  }
  ConForm::FFInfoRec info;
  GIFInfo(dir.File("mixed.gif"), &info, true);
  EXPECT_EQ(info.picture.bytesPerPixel, 3);
  EXPECT_EQ(info.picture.bitsPerPixel, 24);
  GIFInfo(dir.File("mixed.gif"), &info, false);  // the first frame alone
  EXPECT_EQ(info.picture.bitsPerPixel, 8);
  // The same local table on a frame that covers the screen: one table
  // shows at a time, 8 bits.
  GifWriter cover(4, 2, 3);
  cover.Image(0, 0, 4, 2, Solid(8, 1));
  cover.Image(0, 0, 4, 2, Solid(8, 6), false, true);
  cover.Save(dir.File("cover.gif"));
  GIFInfo(dir.File("cover.gif"), &info, true);
  EXPECT_EQ(info.picture.bitsPerPixel, 8);
  EXPECT_EQ(Basic::FileMark(), 0);
}

// Every frame read with its alpha image gets a mask, also a frame without a
// transparent index (opaque, as for a still picture).
TEST(Gif, EveryFrameGetsItsAlpha) {
  TestUtil::TempDir dir;
  GifWriter w(3, 1, 7);  // the background is the transparent index
  w.Control(0, 7, 10);
  w.Image(0, 0, 3, 1, {7, 1, 2});
  w.Control(0, -1, 10);
  w.Image(0, 0, 3, 1, {7, 7, 7});
  w.Save(dir.File("a.gif"));
  ConForm::MviFile mvi;
  ConForm::MviOpen(&mvi, dir.File("a.gif"), Basic::K_AUTO, nullptr, nullptr);
  Qimg img, alpha;
  ConForm::MviImgLoad(&mvi, &img, 1, 0, &alpha);
  EXPECT_EQ(Pixels(alpha), (std::vector<uint8_t>{0, 255, 255}));
  ConForm::MviImgLoad(&mvi, &img, 2, 0, &alpha);
  ASSERT_TRUE(Errors::ErrNone());
  EXPECT_EQ(Pixels(alpha), (std::vector<uint8_t>{255, 255, 255}));
  EXPECT_EQ(alpha.palette[3 * 100], 100);
  ConForm::MviClose(&mvi);
  ImgBasic::ImgFree(&img);
  ImgBasic::ImgFree(&alpha);
}

TEST(Gif, ReopenCacheKeepsCopiesPerHandle) {
  TestUtil::TempDir dir;
  GifWriter a(2, 2);
  for (int i = 0; i < 3; i++) a.Image(0, 0, 2, 2, Solid(4, static_cast<uint8_t>(i + 10)));
  a.Save(dir.File("a.gif"));
  GifWriter b(2, 2);
  b.Image(0, 0, 2, 2, Solid(4, 99));
  b.Save(dir.File("b.gif"));

  GIFCacheClear();
  const int32_t before = GIFIndexCount();
  GifFile g1, g2, g3;
  GIFOpen(&g1, dir.File("a.gif"), false);
  GIFOpen(&g2, dir.File("a.gif"), false);
  EXPECT_EQ(GIFIndexCount(), before + 1);  // the second open comes from the cache
  EXPECT_EQ(g2.frameCount, 3);
  GIFOpen(&g3, dir.File("b.gif"), false);  // another file does not disturb g1
  Qimg img;
  GIFLoad(&g1, &img, 3, 0, nullptr);
  EXPECT_EQ(img.data[0], 12);
  GIFClose(&g2);
  GIFLoad(&g1, &img, 2, 0, nullptr);
  EXPECT_EQ(img.data[0], 11);
  GIFClose(&g1);
  GIFClose(&g3);
  // A new modification time indexes again.
  struct utimbuf times {1000, 1000};
  utime(dir.File("a.gif").c_str(), &times);
  GIFOpen(&g1, dir.File("a.gif"), false);
  EXPECT_EQ(GIFIndexCount(), before + 3);
  GIFClose(&g1);
  ImgBasic::ImgFree(&img);
}

TEST(Gif, NotAGifAndNoFrames) {
  TestUtil::TempDir dir;
  TestUtil::WriteText(dir.File("x.gif"), "GIF88a plus nothing");
  GifFile gif;
  EXPECT_THROW(GIFOpen(&gif, dir.File("x.gif"), false), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 7);
  EXPECT_EQ(Errors::ErrCode(), 2);
  GIFClose(&gif);
  GifWriter w(2, 2);
  w.Save(dir.File("empty.gif"));
  GIFOpen(&gif, dir.File("empty.gif"), false);
  EXPECT_EQ(gif.frameCount, 0);
  Qimg img;
  EXPECT_THROW(GIFLoadNext(&gif, &img, nullptr), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 12);
  EXPECT_EQ(Errors::ErrCode(), 7);
  GIFClose(&gif);
  EXPECT_EQ(Basic::FileMark(), 0);
}

TEST(Gif, LzwRejectsCodesBeyondTheTable) {
  // Code size 2: clear 4, end 5; a first code of 6 has no entry.
  const uint8_t bad[] = {2, 1, 0x34, 0};  // codes 4, 6 in 3 bits
  uint8_t out[4];
  EXPECT_FALSE(GIFDecodeLZW_(bad, sizeof bad, out, 4));
  // Minimum code sizes 1 and 11 (codes 1, end 3 in 2 bits; 7, end 2049 in
  // 12 bits) decode; 0 and 12 (7, end 4097 in 13 bits) are refused.
  const uint8_t one[] = {1, 1, 0x0D, 0}, eleven[] = {11, 3, 0x07, 0x10, 0x80, 0};
  EXPECT_TRUE(GIFDecodeLZW_(one, sizeof one, out, 1));
  EXPECT_EQ(out[0], 1);
  EXPECT_TRUE(GIFDecodeLZW_(eleven, sizeof eleven, out, 1));
  EXPECT_EQ(out[0], 7);
  const uint8_t zero[] = {0, 1, 0x0D, 0}, twelve[] = {12, 4, 0x07, 0x20, 0x00, 0x02, 0};
  EXPECT_FALSE(GIFDecodeLZW_(zero, sizeof zero, out, 1));
  EXPECT_FALSE(GIFDecodeLZW_(twelve, sizeof twelve, out, 1));
}

// Code size 8, every pixel a literal code and no clear after the first one:
// the codes widen to 12 bits and stay 12 bits wide once the table is full.
// The end code stops the data: the codes after it are not pixels.
TEST(Gif, LzwFullTableWithoutClearAndTheEndCode) {
  std::vector<uint8_t> pixels(5000), packed, data = {8};
  uint32_t acc = 0;
  int bits = 0, width = 9, next = 258;
  auto code = [&](int c) {
    acc |= static_cast<uint32_t>(c) << bits;
    for (bits += width; bits >= 8; bits -= 8, acc >>= 8)
      packed.push_back(static_cast<uint8_t>(acc));
  };
  code(256);
  for (size_t i = 0; i < pixels.size(); i++) {
    pixels[i] = static_cast<uint8_t>(i * 7 + i / 256);
    code(pixels[i]);
    if (i > 0 && next < 4096 && ++next == (1 << width) && width < 12) width++;
  }
  for (int c : {257, 9, 9}) code(c);
  if (bits) packed.push_back(static_cast<uint8_t>(acc));
  for (size_t i = 0; i < packed.size(); i += 255) {
    data.push_back(static_cast<uint8_t>(std::min<size_t>(255, packed.size() - i)));
    data.insert(data.end(), packed.begin() + i, packed.begin() + i + data.back());
  }
  data.push_back(0);
  std::vector<uint8_t> out(5002, 0xEE);
  ASSERT_TRUE(GIFDecodeLZW_(data.data(), static_cast<int64_t>(data.size()), out.data(), 5002));
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 5000), pixels);
  EXPECT_EQ(out[5000], 0xEE);
  EXPECT_EQ(out[5001], 0xEE);
}

// Codes made by hand, 2-bit pixels (clear 4, end 5), drawn interlaced on a
// 3 x 8 screen: rows 0 4 2 6 1 3 5 7 arrive as 130 303 030 330 300 333 032
// 221. Clear, 1 3 0, the string 7 (30), 9 while it is being made (303), the
// strings 8 10 11 9, 2, 15 while being made (22), 1 and the end, in 3 bits,
// 4 from the fifth code and 5 from the thirteenth. Then two frames whose
// data stops before its end code: at the zero-length block, and where the
// file ends inside a block; the pixels after stay transparent (the first,
// whose transparent index is 9) or take index 0.
TEST(Gif, HandMadeCodesInterlacedAndDataWithoutItsEnd) {
  TestUtil::TempDir dir;
  GifWriter w(3, 8);
  w.Raw({0x2C, 0, 0, 0, 0, 3, 0, 8, 0, 0x40, 2, 7, 0xCC, 0x70, 0x89, 0xBA, 0x29, 0x1F, 0x0A, 0});
  w.Control(0, 9, 0);
  // Codes clear, 1 2 3 in 3 bits and 6 (12) in 4: pixels 1 2 3 1 2.
  w.Raw({0x2C, 0, 0, 6, 0, 3, 0, 2, 0, 0, 2, 2, 0x8C, 0x66, 0});
  w.Raw({0x2C, 0, 0, 2, 0, 3, 0, 2, 0, 0, 2, 3, 0x8C, 0x66});
  w.Save(dir.File("h.gif"), false);
  GifFile gif;
  GIFOpen(&gif, dir.File("h.gif"), false);
  ASSERT_EQ(gif.frameCount, 3);
  // Frame 2 lies on rows 6-7, frame 3 on rows 2-3.
  const std::vector<std::vector<uint8_t>> want = {
      {1, 3, 0, 3, 0, 0, 0, 3, 0, 3, 3, 3, 3, 0, 3, 0, 3, 2, 3, 3, 0, 2, 2, 1},
      {1, 3, 0, 3, 0, 0, 0, 3, 0, 3, 3, 3, 3, 0, 3, 0, 3, 2, 1, 2, 3, 1, 2, 1},
      {1, 3, 0, 3, 0, 0, 1, 2, 3, 1, 2, 0, 3, 0, 3, 0, 3, 2, 1, 2, 3, 1, 2, 1}};
  Qimg img;
  for (int n = 1; n <= 3; n++) {
    GIFLoad(&gif, &img, n, 0, nullptr);
    ASSERT_TRUE(Errors::ErrNone());
    EXPECT_EQ(Pixels(img), want[n - 1]) << n;
  }
  GIFClose(&gif);
  ImgBasic::ImgFree(&img);
}

TEST(Gif, DamagedFilesGiveErrors) {
  TestUtil::TempDir dir;
  GifWriter w(9, 7, 2);
  w.Control(3, 4, 5);
  w.Image(0, 0, 9, 7, Ramp(9, 7, 2), true);
  w.Control(2, -1, 5);
  w.Image(2, 2, 4, 3, Ramp(4, 3, 5));
  w.Image(1, 1, 3, 3, Ramp(3, 3, 8), false, true);
  w.Save(dir.File("good.gif"));
  const std::string bytes = TestUtil::ReadText(dir.File("good.gif"));
  std::mt19937 rng(12);
  for (int trial = 0; trial < 200; trial++) {
    std::string damaged = bytes;
    if (trial < 64)
      damaged.resize(bytes.size() * static_cast<size_t>(trial) / 64);
    else
      for (int k = 0; k < 4; k++) damaged[rng() % damaged.size()] ^= static_cast<char>(1 << (rng() % 8));
    const std::string name = dir.File("bad" + std::to_string(trial) + ".gif");
    TestUtil::WriteText(name, damaged);
    GifFile gif;
    Qimg img, alpha;
    try {
      GIFOpen(&gif, name, false);
      for (int n = 1; n <= gif.frameCount; n++) GIFLoad(&gif, &img, n, 0, &alpha);
      if (gif.frameCount > 1) GIFLoad(&gif, &img, 1, 0, nullptr);
    } catch (const Errors::EMon&) {
      EXPECT_FALSE(Errors::ErrNone());
    }
    GIFClose(&gif);
    ImgBasic::ImgFree(&img);
    ImgBasic::ImgFree(&alpha);
    EXPECT_EQ(Basic::FileMark(), 0);
  }
}

// The colour of pixel i of a frame, B,G,R, at 8 or 24 bits.
const uint8_t* ColourAt(const Qimg& img, size_t i) {
  return img.bitsPerPixel == 24 ? img.data + i * 3 : img.palette + img.data[i] * 3;
}

// Frames of GIFs written by ffmpeg and ImageMagick decode as ImageMagick's
// coalesced frames, wherever those are opaque, at the depth expected.
void CompareWithMagick(const std::string& gifName, const TestUtil::TempDir& dir,
                       int32_t bits = 8) {
  const std::string rgba = dir.File("frames.rgba");
  const std::string cmd = "convert " + gifName + " -coalesce -depth 8 rgba:" + rgba + " 2>/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::string out = TestUtil::ReadText(rgba);
  GifFile gif;
  GIFOpen(&gif, gifName, false);
  ASSERT_TRUE(Errors::ErrNone());
  const size_t frameBytes = static_cast<size_t>(gif.width) * gif.height * 4;
  ASSERT_EQ(out.size(), frameBytes * gif.frameCount);
  EXPECT_EQ(gif.bitsPerPixel, bits) << gifName;
  Qimg img;
  size_t compared = 0;
  for (int32_t n = 1; n <= gif.frameCount; n++) {
    GIFLoad(&gif, &img, n, 0, nullptr);
    ASSERT_EQ(img.bitsPerPixel, bits) << gifName << " frame " << n;
    for (size_t i = 0; i < static_cast<size_t>(gif.width) * gif.height; i++) {
      const auto* px = reinterpret_cast<const uint8_t*>(out.data()) + (n - 1) * frameBytes + i * 4;
      if (px[3] != 255) continue;
      const uint8_t* bgr = ColourAt(img, i);
      ASSERT_EQ(px[0], bgr[2]) << gifName << " frame " << n << " pixel " << i;
      ASSERT_EQ(px[1], bgr[1]);
      ASSERT_EQ(px[2], bgr[0]);
      compared++;
    }
  }
  EXPECT_GT(compared, 0u);
  // Random access lands on the same frames.
  Qimg again;
  GIFLoad(&gif, &again, 1, 0, nullptr);
  GIFLoad(&gif, &img, gif.frameCount, 0, nullptr);
  GIFLoad(&gif, &again, gif.frameCount, 0, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(again.data, again.data + again.size),
            std::vector<uint8_t>(img.data, img.data + img.size));
  GIFClose(&gif);
  ImgBasic::ImgFree(&img);
  ImgBasic::ImgFree(&again);
}

TEST(GifPeer, FramesWrittenByFfmpegMatchImageMagick) {
  if (!TestUtil::HaveTool("ffmpeg") || !TestUtil::HaveTool("convert"))
    GTEST_SKIP() << "ffmpeg or ImageMagick not installed";
  TestUtil::TempDir dir;
  const std::string name = dir.File("ff.gif");
  // ffmpeg crops frames to what changed and marks unchanged pixels transparent.
  const std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=5 -frames:v 6 " + name;
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  CompareWithMagick(name, dir);
}

TEST(GifPeer, ImageMagickAnimationsAndNoiseMatch) {
  if (!TestUtil::HaveTool("convert")) GTEST_SKIP() << "ImageMagick not installed";
  TestUtil::TempDir dir;
  // Noise uses the whole 12-bit code table; interlace and disposals vary.
  // The animation shares one colour map: an 8-bit canvas holds indices of
  // one palette at a time.
  const std::string noise = dir.File("noise.gif");
  ASSERT_EQ(std::system(("convert -size 120x90 xc: +noise Random -interlace GIF " + noise).c_str()), 0);
  CompareWithMagick(noise, dir);
  const std::string anim = dir.File("anim.gif");
  const std::string cmd =
      "convert -size 40x30 -dispose Background xc:skyblue "
      "-dispose Previous -page +5+5 -size 10x8 xc:red "
      "-dispose None -page +20+10 -size 12x12 xc:navy "
      "-page +0+0 -size 6x6 xc:none -loop 0 +map " + anim;
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  CompareWithMagick(anim, dir);
}

// Frames with colour tables of their own over pixels that other tables
// drew: a navy screen with an orange sprite added by a partial frame, and
// ffmpeg's per-frame palettes over cropped, keyed frames. Both come at 24
// bits, as ImageMagick composes them.
TEST(GifPeer, FramesWithTheirOwnTablesComposeInColour) {
  if (!TestUtil::HaveTool("convert")) GTEST_SKIP() << "ImageMagick not installed";
  TestUtil::TempDir dir;
  const std::string sprite = dir.File("sprite.gif");
  ASSERT_EQ(std::system(("convert -size 60x40 xc:navy \\( -size 20x20 xc:orange -repage +10+8 \\) "
                         "-loop 0 " + sprite).c_str()),
            0);
  CompareWithMagick(sprite, dir, 24);
  GifFile gif;
  GIFOpen(&gif, sprite, false);
  Qimg img;
  GIFLoad(&gif, &img, 2, 0, nullptr);
  ASSERT_EQ(img.bitsPerPixel, 24);
  EXPECT_EQ(std::vector<uint8_t>(img.data, img.data + 3), (std::vector<uint8_t>{128, 0, 0}));
  const uint8_t* inside = img.data + (10 * 60 + 15) * 3;
  EXPECT_EQ(std::vector<uint8_t>(inside, inside + 3), (std::vector<uint8_t>{0, 165, 255}));
  GIFClose(&gif);
  ImgBasic::ImgFree(&img);
  if (!TestUtil::HaveTool("ffmpeg")) return;
  const std::string own = dir.File("own.gif");
  ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=5 -frames:v 6 "
                         "-lavfi 'split[a][b];[a]palettegen=stats_mode=single[p];"
                         "[b][p]paletteuse=new=1' " + own).c_str()),
            0);
  CompareWithMagick(own, dir, 24);
}


// What the format layer hears about a GIF: the screen, every frame and their
// mean rate; the first frame only when not all frames are asked for.
TEST(GifInfo, AllFramesOrTheFirst) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("two.gif");
  GifWriter w(6, 4);
  w.Control(0, -1, 10);
  w.Image(0, 0, 6, 4, Ramp(6, 4, 1));
  w.Control(0, -1, 30);
  w.Image(0, 0, 6, 4, Ramp(6, 4, 2));
  w.Save(name);
  ConForm::FFInfoRec info;
  GIFInfo(name, &info, true);
  EXPECT_EQ(info.fileSize, static_cast<double>(Basic::FSize64(name)));
  EXPECT_EQ(info.picture.width, 6);
  EXPECT_EQ(info.picture.height, 4);
  EXPECT_EQ(info.picture.bytesPerPixel, 1);
  EXPECT_EQ(info.picture.bitsPerPixel, 8);
  EXPECT_EQ(info.picture.frameCount, 2);
  EXPECT_EQ(info.picture.fps, 5.0);  // 2 frames x 100 / (10 + 30)
  EXPECT_EQ(info.picture.videoCompression,
            "Variable-Length-Code LZW (Lempel-Ziv & Welch)");
  EXPECT_TRUE(info.picture.hasPictures && info.picture.picturesReadable);
  EXPECT_FALSE(info.sound.hasSound);
  ConForm::FFInfoRec first;
  GIFInfo(name, &first, false);
  EXPECT_EQ(first.picture.frameCount, 1);
  EXPECT_EQ(first.picture.fps, 10.0);  // 100 / the first delay
  EXPECT_EQ(Basic::FileMark(), 0);

  // The format layer asks for every frame: an animation is a stream, one
  // frame a single image.
  ConForm::FFInfoRec viaLayer;
  ConForm::FFInfo(name, Basic::K_AUTO, &viaLayer, nullptr, nullptr);
  EXPECT_EQ(viaLayer.format, ConForm::kFmtGIF);
  EXPECT_EQ(viaLayer.filter, "GIF, Graphics Interchange Format");
  EXPECT_EQ(viaLayer.picture.frameCount, 2);
  EXPECT_EQ(viaLayer.sound.audioCompression, "PCM, uncompressed");
  ConForm::UniInfoRec uni;
  ASSERT_TRUE(ConForm::UniInfo(name, &uni, 1, nullptr, nullptr, false));
  EXPECT_EQ(uni.kind, ConForm::kKindStream);
  GifWriter one(3, 3);
  one.Image(0, 0, 3, 3, Ramp(3, 3, 4));
  one.Save(dir.File("one.gif"));
  ASSERT_TRUE(ConForm::UniInfo(dir.File("one.gif"), &uni, 1, nullptr, nullptr, false));
  EXPECT_EQ(uni.kind, ConForm::kKindImage);
  EXPECT_EQ(uni.picture.fps, 0.0);

  // Not a GIF: the reader's own pair.
  TestUtil::WriteText(dir.File("bad.gif"), "GIF88a plus nothing");
  EXPECT_THROW(GIFInfo(dir.File("bad.gif"), &info, true), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 7);
  EXPECT_EQ(Errors::ErrCode(), 2);
  EXPECT_EQ(Basic::FileMark(), 0);
}

// A GIF loaded as a still image is its first frame; its alpha image comes
// from the transparent index, and says opaque where there is none.
TEST(GifInfo, StillLoadIsTheFirstFrameWithItsAlpha) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("anim.gif");
  GifWriter w(4, 2, 9);
  std::vector<uint8_t> first = {1, 2, 7, 7, 3, 7, 4, 5};
  w.Control(0, 7, 20);
  w.Image(0, 0, 4, 2, first);
  w.Control(0, -1, 20);
  w.Image(0, 0, 4, 2, Solid(8, 60));
  w.Save(name);
  Qimg img, alpha;
  ConForm::ImgLoad(name, &img, Basic::K_AUTO, &alpha);
  ASSERT_EQ(img.bitsPerPixel, 8);
  // Transparent pixels of the first frame show the background index.
  EXPECT_EQ(Pixels(img), (std::vector<uint8_t>{1, 2, 9, 9, 3, 9, 4, 5}));
  ASSERT_EQ(alpha.bitsPerPixel, 8);
  ASSERT_EQ(alpha.width, 4);
  EXPECT_EQ(Pixels(alpha), (std::vector<uint8_t>{255, 255, 255, 255, 255, 255, 255, 255}));
  ImgBasic::ImgFree(&img);
  ImgBasic::ImgFree(&alpha);

  // Keyed where the canvas holds the transparent index itself.
  GifWriter keyed(2, 2, 7);
  keyed.Control(0, 7, 0);
  keyed.Image(0, 0, 2, 2, {7, 1, 2, 7});
  keyed.Save(dir.File("keyed.gif"));
  ConForm::ImgLoad(dir.File("keyed.gif"), &img, ConForm::kFmtGIF, &alpha);
  EXPECT_EQ(Pixels(alpha), (std::vector<uint8_t>{0, 255, 255, 0}));
  EXPECT_EQ(alpha.palette[3 * 200], 200);  // the grey ramp

  // No transparent index: an opaque alpha image of the picture's size,
  // whatever the record held before.
  GifWriter plain(3, 1);
  plain.Image(0, 0, 3, 1, {4, 5, 6});
  plain.Save(dir.File("plain.gif"));
  ConForm::ImgLoad(dir.File("plain.gif"), &img, Basic::K_AUTO, &alpha);
  EXPECT_EQ(alpha.width, 3);
  EXPECT_EQ(alpha.height, 1);
  EXPECT_EQ(Pixels(alpha), (std::vector<uint8_t>{255, 255, 255}));
  ImgBasic::ImgFree(&img);
  ImgBasic::ImgFree(&alpha);

  // A GIF without frames fails after the open and leaves nothing open.
  GifWriter empty(2, 2);
  empty.Save(dir.File("empty.gif"));
  EXPECT_THROW(ConForm::ImgLoad(dir.File("empty.gif"), &img, Basic::K_AUTO, nullptr),
               Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 12);
  EXPECT_EQ(img.data, nullptr);
  EXPECT_EQ(Basic::FileMark(), 0);
}

}  // namespace
