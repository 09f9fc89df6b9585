#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "formats/FF_PNG.h"
#include "formats/StillPeer.h"
#include "support/TestUtil.h"

using StillPeer::Image;
using StillPeer::Ok;
using TestUtil::TempDir;

namespace {

// The IHDR fields and the PLTE length of a PNG file, read by hand.
struct PngHeader {
  int bitDepth = -1, colourType = -1, interlace = -1;
  long paletteBytes = -1;
};

PngHeader ReadHeader(const std::string& file) {
  const auto b = StillPeer::ReadFile(file);
  PngHeader h;
  size_t at = 8;
  while (at + 8 <= b.size()) {
    const long len = long(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 |
                     b[at + 3];
    const std::string type(b.begin() + at + 4, b.begin() + at + 8);
    if (type == "IHDR" && at + 8 + 13 <= b.size()) {
      h.bitDepth = b[at + 16];
      h.colourType = b[at + 17];
      h.interlace = b[at + 20];
    }
    if (type == "PLTE") h.paletteBytes = len;
    at += 12 + static_cast<size_t>(len);
  }
  return h;
}

TEST(PngOptions, LevelIsClampedAndAutoOnlyReads) {
  EXPECT_EQ(FF_PNG::PNGLevel(Basic::K_AUTO), 6);
  EXPECT_EQ(FF_PNG::PNGLevel(-3), 0);
  EXPECT_EQ(FF_PNG::PNGLevel(Basic::K_AUTO), 0);
  EXPECT_EQ(FF_PNG::PNGLevel(12), 9);
  EXPECT_EQ(FF_PNG::PNGLevel(4), 4);
}

TEST(PngWrite, EveryLevelReadsBackExactlyAndHigherLevelsAreNotLarger) {
  TempDir dir;
  Image img;
  StillPeer::MakePicture(img.get(), 120, 80, 24);
  const auto want = StillPeer::ToRgb(img.img, false);
  double size0 = 0, size9 = 0;
  for (int level = 0; level <= 9; level++) {
    SCOPED_TRACE(level);
    const std::string file = dir.File("l.png");
    FF_PNG::PNGLevel(level);
    ASSERT_TRUE(Ok([&] { FF_PNG::PNGSave(file, img.get()); }))
        << StillPeer::ErrorLine();
    EXPECT_EQ(ReadHeader(file).colourType, 2);
    if (level == 0) size0 = Basic::FSize64(file);
    if (level == 9) size9 = Basic::FSize64(file);
    Image back;
    ASSERT_TRUE(Ok([&] { FF_PNG::PNGLoad(file, back.get()); }));
    EXPECT_EQ(StillPeer::ToRgb(back.img, false), want);
    if (StillPeer::HaveMagick()) {
      EXPECT_EQ(StillPeer::PeerRead(file, "rgb"), want);
    }
  }
  // Level 0 stores the rows; level 9 squeezes them.
  EXPECT_GT(size0, 120.0 * 80 * 3);
  EXPECT_LT(size9, size0 / 2);
}

TEST(PngWrite, EightBitsGiveA256EntryPaletteEvenWithFewColours) {
  TempDir dir;
  Image img;
  StillPeer::MakePaletted(img.get(), 33, 9, 5);
  const std::string file = dir.File("p.png");
  ASSERT_TRUE(Ok([&] { FF_PNG::PNGSave(file, img.get()); }));
  const PngHeader h = ReadHeader(file);
  EXPECT_EQ(h.colourType, 3);
  EXPECT_EQ(h.bitDepth, 8);
  EXPECT_EQ(h.paletteBytes, 768);
  if (StillPeer::HaveMagick()) {
    EXPECT_EQ(StillPeer::PeerRead(file, "rgb"), StillPeer::ToRgb(img.img, false));
  }
  Image back;
  ASSERT_TRUE(Ok([&] { FF_PNG::PNGLoad(file, back.get()); }));
  EXPECT_EQ(back->bitsPerPixel, 8);
  EXPECT_EQ(0, std::memcmp(back->palette, img->palette, 768));
  EXPECT_EQ(0, std::memcmp(back->data, img->data, 33 * 9));
}

TEST(PngWrite, ThirtyTwoBitsKeepAlphaUnlessThereIsNone) {
  TempDir dir;
  const std::string file = dir.File("a.png");
  Image img;
  StillPeer::MakePicture(img.get(), 40, 12, 32);
  ASSERT_TRUE(Ok([&] { FF_PNG::PNGSave(file, img.get()); }));
  EXPECT_EQ(ReadHeader(file).colourType, 6);
  const auto want = StillPeer::ToRgb(img.img, true);
  if (StillPeer::HaveMagick()) {
    EXPECT_EQ(StillPeer::PeerRead(file, "rgba"), want);
  }
  Image back;
  ASSERT_TRUE(Ok([&] { FF_PNG::PNGLoad(file, back.get()); }));
  EXPECT_EQ(back->bitsPerPixel, 32);
  EXPECT_EQ(StillPeer::ToRgb(back.img, true), want);

  // Every fourth byte 0, as a depth conversion leaves it: written opaque.
  Image flat;
  StillPeer::MakePicture(flat.get(), 40, 12, 32, /*zeroAlpha=*/true);
  ASSERT_TRUE(Ok([&] { FF_PNG::PNGSave(file, flat.get()); }));
  EXPECT_EQ(ReadHeader(file).colourType, 2);
  if (StillPeer::HaveMagick()) {
    const auto rgba = StillPeer::PeerRead(file, "rgba");
    ASSERT_EQ(rgba.size(), 40u * 12 * 4);
    for (size_t i = 3; i < rgba.size(); i += 4) ASSERT_EQ(rgba[i], 255);
  }
  ASSERT_TRUE(Ok([&] { FF_PNG::PNGLoad(file, back.get()); }));
  EXPECT_EQ(StillPeer::ToRgb(back.img, false), StillPeer::ToRgb(flat.img, false));
}

TEST(PngWrite, FifteenAndSixteenBitImagesAreStoredAs24) {
  TempDir dir;
  Image img;
  StillPeer::MakePicture(img.get(), 16, 16, 24);
  ImgBasic::ImgConvBpp(img.get(), img.get(), 16);
  ASSERT_TRUE(Ok([&] { FF_PNG::PNGSave(dir.File("s.png"), img.get()); }));
  EXPECT_EQ(ReadHeader(dir.File("s.png")).colourType, 2);
  EXPECT_EQ(img->bitsPerPixel, 16);  // the caller's image is left as it was
}

// ---- reading the peer's files -----------------------------------------------

struct ReadCase {
  const char* name;
  const char* map;
  int depth;
  const char* options;
  int colourType, bitDepth;  // what the peer wrote
  int32_t bits;              // what the loader delivers
};

const ReadCase kReadCases[] = {
    {"rgb", "rgb", 8, "PNG24:", 2, 8, 24},
    {"rgba", "rgba", 8, "PNG32:", 6, 8, 32},
    {"interlaced", "rgb", 8, "-interlace PNG PNG24:", 2, 8, 24},
    {"rgb16", "rgb", 16, "PNG48:", 2, 16, 24},
    {"rgba16", "rgba", 16, "PNG64:", 6, 16, 32},
    {"gray", "gray", 8,
     "-define png:color-type=0 -define png:bit-depth=8", 0, 8, 8},
    {"gray16", "gray", 16,
     "-define png:color-type=0 -define png:bit-depth=16", 0, 16, 8},
    {"gray-alpha", "graya", 8,
     "-type GrayscaleAlpha -define png:color-type=4", 4, 8, 32},
    {"gray-alpha16", "graya", 16,
     "-type GrayscaleAlpha -define png:color-type=4 -define png:bit-depth=16",
     4, 16, 32},
};

TEST(PngRead, PeerFilesOfEveryKindLoadAsThePeerSeesThem) {
  NEED_MAGICK();
  TempDir dir;
  const int32_t w = 37, h = 23;
  for (const ReadCase& c : kReadCases) {
    SCOPED_TRACE(c.name);
    const std::string map = c.map;
    const bool alpha = c.bits == 32;
    auto rgba = StillPeer::PictureSamples(w, h, true);
    std::vector<uint8_t> samples;
    for (size_t i = 0; i < rgba.size(); i += 4) {
      if (map == "gray") {
        samples.push_back(rgba[i + 1]);
      } else if (map == "graya") {
        for (int k = 0; k < 3; k++) samples.push_back(rgba[i + 1]);
        samples.push_back(rgba[i + 3]);
      } else {
        for (int k = 0; k < (map == "rgba" ? 4 : 3); k++)
          samples.push_back(rgba[i + k]);
      }
    }
    if (c.depth == 16) {
      std::vector<uint8_t> wide;
      for (size_t i = 0; i < samples.size(); i++) {
        // Low bytes that differ from the high ones show which one is kept.
        wide.push_back(samples[i]);
        wide.push_back(static_cast<uint8_t>(i * 7));
      }
      samples = wide;
    }
    const std::string file = dir.File(std::string(c.name) + ".png");
    std::string options = c.options;
    std::string out = file;
    // A last word like "PNG24:" is the output's format prefix.
    if (!options.empty() && options.back() == ':') {
      const size_t space = options.rfind(' ');
      const size_t start = space == std::string::npos ? 0 : space + 1;
      out = options.substr(start) + file;
      options = options.substr(0, start);
    }
    StillPeer::PeerWrite(samples, w, h, map == "graya" ? "rgba" : map, c.depth,
                         options, out);
    const PngHeader header = ReadHeader(file);
    ASSERT_EQ(header.colourType, c.colourType);
    ASSERT_EQ(header.bitDepth, c.bitDepth);
    if (std::string(c.name) == "interlaced") {
      ASSERT_EQ(header.interlace, 1);
    }
    const auto peer = StillPeer::PeerRead(file, alpha ? "rgba" : "rgb");
    Image img;
    ASSERT_TRUE(Ok([&] { FF_PNG::PNGLoad(file, img.get()); }))
        << StillPeer::ErrorLine();
    EXPECT_TRUE(Errors::WarnNone()) << Errors::WarnText();
    EXPECT_EQ(img->bitsPerPixel, c.bits);
    // Sixteen bits are cut to their high byte; the peer rounds.
    EXPECT_LE(StillPeer::MaxDiff(StillPeer::ToRgb(img.img, alpha), peer),
              c.depth == 16 ? 1 : 0);
    ConForm::FFInfoRec info;
    ASSERT_TRUE(Ok([&] { FF_PNG::PNGInfo(file, &info); }));
    EXPECT_EQ(info.picture.bitsPerPixel, c.bits);
    EXPECT_EQ(info.picture.bytesPerPixel, c.bits / 8);
    EXPECT_EQ(info.picture.videoCompression, "Deflate compression (modified LZ77)");
    EXPECT_TRUE(info.picture.picturesReadable);
    EXPECT_EQ(info.picture.width, w);
    EXPECT_EQ(info.picture.frameCount, 1);
  }
}

TEST(PngRead, PaletteOfFewerThan256EntriesAndLowBitGrey) {
  NEED_MAGICK();
  TempDir dir;
  // Five colours: the peer writes a palette of five entries.
  std::vector<uint8_t> rgb;
  const uint8_t colours[5][3] = {{255, 0, 0}, {0, 128, 0}, {0, 0, 255},
                                 {250, 250, 10}, {3, 4, 5}};
  for (int i = 0; i < 30 * 10; i++)
    for (int k = 0; k < 3; k++) rgb.push_back(colours[(i / 7) % 5][k]);
  const std::string file = dir.File("pal.png");
  StillPeer::PeerWrite(rgb, 30, 10, "rgb", 8, "", "PNG8:" + file);
  const PngHeader h = ReadHeader(file);
  ASSERT_EQ(h.colourType, 3);
  ASSERT_LT(h.paletteBytes, 768);
  Image img;
  ASSERT_TRUE(Ok([&] { FF_PNG::PNGLoad(file, img.get()); }));
  EXPECT_EQ(img->bitsPerPixel, 8);
  EXPECT_EQ(StillPeer::ToRgb(img.img, false), rgb);

  // One-, two- and four-bit grey: an 8-bit image with a grey palette of
  // that many entries (0, 85, 170, 255 for two bits), as the peer reads it.
  for (int depth : {1, 2, 4}) {
    SCOPED_TRACE(depth);
    const int levels = 1 << depth;
    std::vector<uint8_t> grey;
    for (int i = 0; i < 16 * 4; i++)
      grey.push_back(static_cast<uint8_t>(i % levels * 255 / (levels - 1)));
    const std::string g = dir.File("g.png");
    StillPeer::PeerWrite(grey, 16, 4, "gray", 8,
                         "-define png:color-type=0 -define png:bit-depth=" +
                             std::to_string(depth),
                         g);
    ASSERT_EQ(ReadHeader(g).bitDepth, depth);
    ASSERT_TRUE(Ok([&] { FF_PNG::PNGLoad(g, img.get()); }));
    EXPECT_EQ(img->bitsPerPixel, 8);
    for (int i = 0; i < levels; i++) EXPECT_EQ(img->data[i], i);
    for (int i = 0; i < levels; i++) EXPECT_EQ(img->palette[i * 3], grey[i]);
    EXPECT_EQ(img->palette[levels * 3], 0);  // that many entries only
    EXPECT_EQ(StillPeer::ToRgb(img.img, false), StillPeer::PeerRead(g, "rgb"));
  }
}

TEST(PngRead, ErrorsAreTheFormatPairOrTheLibraryText) {
  TempDir dir;
  TestUtil::WriteText(dir.File("x.png"), "GIF89a not a png");
  Image img;
  EXPECT_FALSE(Ok([&] { FF_PNG::PNGLoad(dir.File("x.png"), img.get()); }));
  EXPECT_EQ(Errors::ErrClass(), 7);
  EXPECT_EQ(Errors::ErrCode(), 2);

  // A flipped bit in the header: libpng's own CRC message.
  Image src;
  StillPeer::MakePicture(src.get(), 8, 8, 24);
  ASSERT_TRUE(Ok([&] { FF_PNG::PNGSave(dir.File("c.png"), src.get()); }));
  auto bytes = StillPeer::ReadFile(dir.File("c.png"));
  bytes[18] ^= 0x01;  // inside IHDR's width
  StillPeer::WriteFile(dir.File("c.png"), bytes);
  EXPECT_FALSE(Ok([&] { FF_PNG::PNGLoad(dir.File("c.png"), img.get()); }));
  EXPECT_EQ(Errors::ErrClass(), 1);
  EXPECT_NE(Errors::ErrLastText().find("CRC error"), std::string::npos)
      << StillPeer::ErrorLine();
  ConForm::FFInfoRec info;
  EXPECT_FALSE(Ok([&] { FF_PNG::PNGInfo(dir.File("c.png"), &info); }));
  EXPECT_EQ(Errors::ErrClass(), 1);
}

}  // namespace
