// What a file may ask for: every reader holds a header to one picture of at
// most 1 GiB (sides up to 2^20) and at most 2^20 frames, and refuses more
// with the image error (7, 2) before it allocates anything. The headers here
// claim a picture just past that size, which the image record itself could
// still hold, so only the readers' own check stands between them and a
// gigabyte allocation.
#include <gtest/gtest.h>

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <functional>

#include "formats/ConForm.h"
#include "formats/FFBasic.h"
#include "formats/FF_FLC.h"
#include "formats/FF_GIF.h"
#include "formats/FF_JPG.h"
#include "formats/FF_PNG.h"
#include "formats/FF_PNM.h"
#include "formats/FF_RAS.h"
#include "formats/FF_SGI.h"
#include "formats/FF_TIF.h"
#include "FormatTestUtil.h"

using namespace fmttest;

namespace {

// 32768 x 10923 x 3 and 32768 x 8193 x 4 are the first sizes of their
// depth past 1 GiB.
constexpr uint32_t kWide = 32768, kHigh24 = 10923, kHigh32 = 8193;

// Runs a reader step; true when it failed with the image error (7, 2) and
// left no tracked block behind.
bool RefusedAsTooLarge(const std::function<void()>& step) {
  Errors::ErrClear();
  const int32_t mark = Basic::MemMark();
  bool failed = false;
  try {
    step();
  } catch (const Errors::EMon&) {
    failed = true;
  }
  return failed && Errors::ErrClass() == Errors::kClsImage &&
         Errors::ErrCode() == 2 && Basic::MemMark() == mark;
}

bool LoadRefused(const std::string& name, const Bytes& data) {
  WriteFile(Path(name), data);
  ImgBasic::Qimg image;
  return RefusedAsTooLarge([&] { ConForm::ImgLoad(Path(name), &image, Basic::K_AUTO, nullptr); });
}

Bytes SmallPicture(const std::function<void(const std::string&, ImgBasic::Qimg*)>& save,
                   const std::string& name) {
  ImgBasic::Qimg image;
  ToQimg(TestPicture(8, 4), 24, &image);
  save(Path(name), &image);
  ImgBasic::ImgFree(&image);
  return ReadFile(Path(name));
}

TEST(ResourceLimits, PictureSizeBoundaries) {
  using FFBasic::FFCapImage;
  EXPECT_EQ(FFCapImage(kWide, 8192, 32, 2, __LINE__), int64_t{1} << 30);
  EXPECT_EQ(FFCapImage(1, 1 << 20, 8, 2, __LINE__), 1 << 20);
  EXPECT_EQ(FFCapImage(3, 5, 15, 2, __LINE__), 30);
  for (auto [w, h, bits] : {std::tuple<int64_t, int64_t, int32_t>{kWide, kHigh32, 32},
                            {kWide, kHigh24, 24},
                            {(1 << 20) + 1, 1, 8},
                            {1, (1 << 20) + 1, 8},
                            {0, 5, 8},
                            {5, -1, 8},
                            {INT32_MAX, INT32_MAX, 32}}) {
    Errors::ErrClear();
    int64_t result = 0;
    try {
      result = FFCapImage(w, h, bits, 4, __LINE__);
    } catch (const Errors::EMon&) {
      result = -1;
    }
    EXPECT_EQ(result, -1) << w << " x " << h << " x " << bits;
    EXPECT_EQ(Errors::ErrClass(), Errors::kClsImage);
    EXPECT_EQ(Errors::ErrCode(), 4);
  }
  Errors::ErrClear();
}

TEST(ResourceLimits, FrameCountBoundaries) {
  EXPECT_EQ(FFBasic::FFCapFrames(0, 2, __LINE__), 0);
  EXPECT_EQ(FFBasic::FFCapFrames(1 << 20, 2, __LINE__), 1 << 20);
  for (int64_t frames : {int64_t{-1}, int64_t{(1 << 20) + 1}, int64_t{INT32_MAX}}) {
    Errors::ErrClear();
    int64_t result = 0;
    try {
      result = FFBasic::FFCapFrames(frames, 2, __LINE__);
    } catch (const Errors::EMon&) {
      result = -1;
    }
    EXPECT_EQ(result, -1) << frames;
    EXPECT_EQ(Errors::ErrClass(), Errors::kClsImage);
  }
  Errors::ErrClear();
}

TEST(ResourceLimits, TgaHeader) {
  Bytes b(18, 0);
  b[2] = 2;
  b[12] = kWide & 0xFF, b[13] = kWide >> 8;
  b[14] = kHigh32 & 0xFF, b[15] = kHigh32 >> 8;
  b[16] = 32;
  b.resize(1000, 7);
  EXPECT_TRUE(LoadRefused("big.tga", b)) << Errors::ErrLastText();
}

TEST(ResourceLimits, PcxHeader) {
  Bytes b(128, 0);
  b[0] = 10, b[1] = 5, b[2] = 1, b[3] = 8;
  b[8] = 0xFE, b[9] = 0xFF;  // 65535 wide
  b[10] = 0x00, b[11] = 0x40;  // 16385 high
  b[65] = 1;
  b[66] = b[67] = 0xFF;
  b.resize(1000, 0xC1);
  EXPECT_TRUE(LoadRefused("big.pcx", b)) << Errors::ErrLastText();
}

TEST(ResourceLimits, BmpHeader) {
  Bytes b = {'B', 'M'};
  Put32L(b, 0);
  Put32L(b, 0);
  Put32L(b, 54);
  Put32L(b, 40);
  Put32L(b, kWide);
  Put32L(b, kHigh32);
  Put16L(b, 1);
  Put16L(b, 32);
  for (int i = 0; i < 6; i++) Put32L(b, 0);
  b.resize(1000, 1);
  EXPECT_TRUE(LoadRefused("big.bmp", b)) << Errors::ErrLastText();
}

TEST(ResourceLimits, SgiHeader) {
  Bytes b;
  Put16B(b, 0x01DA);
  b.push_back(0);  // plain
  b.push_back(1);  // 1 byte per sample
  Put16B(b, 3);
  Put16B(b, kWide);
  Put16B(b, kHigh24);
  Put16B(b, 3);
  Put32B(b, 0);
  Put32B(b, 255);
  b.resize(512, 0);
  b.resize(2000, 9);
  EXPECT_TRUE(LoadRefused("big.sgi", b)) << Errors::ErrLastText();
}

TEST(ResourceLimits, SunRasterHeader) {
  Bytes b;
  for (uint32_t v : {0x59A66A95u, kWide, kHigh24, 24u, 0u, 1u, 0u, 0u}) Put32B(b, v);
  b.resize(2000, 3);
  EXPECT_TRUE(LoadRefused("big.ras", b)) << Errors::ErrLastText();
}

TEST(ResourceLimits, PnmHeader) {
  const std::string t = "P6\n32768 10923\n255\n" + std::string(1000, 'x');
  EXPECT_TRUE(LoadRefused("big.ppm", Bytes(t.begin(), t.end()))) << Errors::ErrLastText();
}

TEST(ResourceLimits, GifScreen) {
  Bytes b = {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0};
  b.insert(b.end(), {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x4C, 1, 0, 0x3B});
  WriteFile(Path("big.gif"), b);
  FF_GIF::GifFile gif;
  EXPECT_TRUE(RefusedAsTooLarge([&] { FF_GIF::GIFOpen(&gif, Path("big.gif"), false); }))
      << Errors::ErrLastText();
  try {
    FF_GIF::GIFClose(&gif);
  } catch (const Errors::EMon&) {
  }
}

TEST(ResourceLimits, FlcScreen) {
  Bytes b(128, 0);
  b[0] = 128;
  b[4] = 0x12, b[5] = 0xAF;  // FLC
  b[6] = 1;
  b[8] = b[9] = b[10] = b[11] = 0xFF;  // 65535 x 65535
  b[12] = 8;
  WriteFile(Path("big.flc"), b);
  FF_FLC::FlcFile flc;
  EXPECT_TRUE(RefusedAsTooLarge([&] { FF_FLC::FLCOpen(&flc, Path("big.flc")); }))
      << Errors::ErrLastText();
  try {
    FF_FLC::FLCClose(&flc);
  } catch (const Errors::EMon&) {
  }
}

TEST(ResourceLimits, JpegFrameHeader) {
  Bytes b = SmallPicture(FF_JPG::JPGSave, "small.jpg");
  size_t sof = 2;
  while (sof + 9 < b.size() && !(b[sof] == 0xFF && b[sof + 1] == 0xC0)) sof++;
  ASSERT_LT(sof + 9, b.size());
  b[sof + 5] = kHigh24 >> 8, b[sof + 6] = kHigh24 & 0xFF;
  b[sof + 7] = kWide >> 8, b[sof + 8] = kWide & 0xFF;
  WriteFile(Path("big.jpg"), b);
  ImgBasic::Qimg image;
  EXPECT_TRUE(RefusedAsTooLarge([&] { FF_JPG::JPGLoad(Path("big.jpg"), &image); }))
      << Errors::ErrLastText();
}

// A PNG of 8-bit samples written by libpng itself: its header, then what
// `data` writes.
void WritePng(const std::string& name, uint32_t width, uint32_t height, int colourType,
              const std::function<void(png_structp, png_infop)>& data) {
  FILE* f = std::fopen(name.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, 8, colourType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    data(png, info);
  }
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
}

TEST(ResourceLimits, PngHeader) {
  // The header and the start of the data: the reader must refuse the file
  // from its header, before it reads a row.
  const std::string name = Path("big.png");
  WritePng(name, kWide, kHigh24, PNG_COLOR_TYPE_RGB, [](png_structp png, png_infop) {
    const uint8_t start[8] = {0x78, 0x9C, 0, 0, 0, 0, 0, 0};
    png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), start, sizeof start);
  });
  ImgBasic::Qimg image;
  EXPECT_TRUE(RefusedAsTooLarge([&] { FF_PNG::PNGLoad(name, &image); }))
      << Errors::ErrLastText();
}

TEST(ResourceLimits, TiffDirectory) {
  FF_TIF::TIFSetCompression(1);
  Bytes b = SmallPicture(FF_TIF::TIFSave, "small.tif");
  ASSERT_EQ(b[0], 'I');
  const uint32_t ifd = b[4] | b[5] << 8 | b[6] << 16 | uint32_t{b[7]} << 24;
  const int entries = b[ifd] | b[ifd + 1] << 8;
  for (int i = 0; i < entries; i++) {
    uint8_t* e = &b[ifd + 2 + 12 * i];
    const int tag = e[0] | e[1] << 8;
    const uint32_t v = tag == 256 ? kWide : tag == 257 ? kHigh24 : 0;
    if (!v) continue;
    e[8] = v & 0xFF, e[9] = (v >> 8) & 0xFF, e[10] = 0, e[11] = 0;
  }
  WriteFile(Path("big.tif"), b);
  ImgBasic::Qimg image;
  EXPECT_TRUE(RefusedAsTooLarge([&] { FF_TIF::TIFLoad(Path("big.tif"), &image); }))
      << Errors::ErrLastText();
}

}  // namespace

namespace {

TEST(ResourceLimits, TighterLimitsHoldAndResetRestoresThePolicy) {
  FFBasic::FFSetLimits(int64_t{1} << 20, 10);
  EXPECT_EQ(FFBasic::FFImageBytesLimit(), 1 << 20);
  EXPECT_EQ(FFBasic::FFFrameCountLimit(), 10);
  // 1024 x 1025 at 8 bits is one row past 1 MiB.
  Bytes b(18, 0);
  b[2] = 2;
  b[12] = 0x00, b[13] = 0x04;
  b[14] = 0x01, b[15] = 0x04;
  b[16] = 8;
  b.resize(100, 0);
  EXPECT_TRUE(LoadRefused("tight.tga", b)) << Errors::ErrLastText();
  Errors::ErrClear();
  // A grey PNG of exactly 1 MiB is counted at its own byte a pixel.
  const std::string grey = Path("tight.png");
  WritePng(grey, 1024, 1024, PNG_COLOR_TYPE_GRAY, [](png_structp png, png_infop info) {
    std::vector<uint8_t> row(1024, 77);
    for (int y = 0; y < 1024; y++) png_write_row(png, row.data());
    png_write_end(png, info);
  });
  ImgBasic::Qimg image;
  FF_PNG::PNGLoad(grey, &image);
  EXPECT_EQ(image.bitsPerPixel, 8) << Errors::ErrLastText();
  ImgBasic::ImgFree(&image);
  EXPECT_EQ(FFBasic::FFCapFrames(10, 2, __LINE__), 10);
  // Looser than the policy, or nonsense, is the policy.
  FFBasic::FFSetLimits(int64_t{1} << 40, 0);
  EXPECT_EQ(FFBasic::FFImageBytesLimit(), FFBasic::kMaxImageBytes);
  EXPECT_EQ(FFBasic::FFFrameCountLimit(), FFBasic::kMaxFrameCount);
}

}  // namespace
