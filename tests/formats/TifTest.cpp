#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "formats/FF_TIF.h"
#include "formats/StillPeer.h"
#include "support/TestUtil.h"

using StillPeer::Image;
using StillPeer::Ok;
using TestUtil::TempDir;

namespace {

std::string TiffInfo(const std::string& file) {
  return StillPeer::Capture("tiffinfo '" + file + "'");
}

// ---- helpers of the unit ----------------------------------------------------

TEST(TifHelpers, ColourMapWidthIsSixteenOnlyWithLargeValues) {
  uint16_t r[4] = {0, 255, 10, 0}, g[4] = {0, 0, 0, 0}, b[4] = {1, 2, 3, 256};
  EXPECT_EQ(FF_TIF::checkpal_(3, r, g, b), 8);  // 256 lies past the entries
  EXPECT_EQ(FF_TIF::checkpal_(4, r, g, b), 16);
}

TEST(TifHelpers, GrayLineThresholdsLumaAt128MostSignificantBitFirst) {
  // B,G,R pixels: white, black, grey 128 (the weights sum to 32768, so
  // luma 128), grey 127, pure green (luma 149), pure red (76), then white
  // x3 spilling into a second byte.
  const uint8_t px[] = {255, 255, 255, 0,   0,   0,   128, 128, 128,
                        127, 127, 127, 0,   255, 0,   0,   0,   255,
                        255, 255, 255, 255, 255, 255, 255, 255, 255};
  uint8_t packed[2] = {0xAA, 0xAA};
  FF_TIF::TIFGrayLine(px, packed, 9);
  EXPECT_EQ(packed[0], 0b10101011);
  EXPECT_EQ(packed[1], 0b10000000);
}

TEST(TifHelpers, UnpackBitsExpandsInPlace) {
  uint8_t buf[10] = {0b10110000, 0b01000000};
  FF_TIF::TIFUnpackBits(buf, 10);
  const uint8_t want[10] = {1, 0, 1, 1, 0, 0, 0, 0, 0, 1};
  EXPECT_EQ(0, std::memcmp(buf, want, 10));
}

TEST(TifHelpers, MinMaxOverStridedSamples) {
  const uint16_t s[] = {1000, 7, 2000, 65535, 1500, 0};
  int32_t lo, hi;
  FF_TIF::TIFMinMax16(s, 3, lo, hi, 2);
  EXPECT_EQ(lo, 1000);
  EXPECT_EQ(hi, 2000);
  FF_TIF::TIFMinMax16(s, 6, lo, hi);
  EXPECT_EQ(lo, 0);
  EXPECT_EQ(hi, 65535);
}

// ---- writing ----------------------------------------------------------------

struct WriteCase {
  int32_t compression;
  const char* scheme;  // as tiffinfo names it
};

const WriteCase kWriteCases[] = {
    {1, "None"}, {5, "LZW"}, {32773, "PackBits"},
    {32946, "Deflate"}, {7, "JPEG"},
};

TEST(TifWrite, EveryCompressionAndDepthReadsBackInThePeer) {
  NEED_MAGICK();
  TempDir dir;
  for (const WriteCase& c : kWriteCases) {
    for (int32_t bits : {8, 24, 32}) {
      SCOPED_TRACE(std::to_string(c.compression) + " at " +
                   std::to_string(bits));
      Image img;
      if (bits == 8)
        StillPeer::MakePaletted(img.get(), 37, 21, 6);
      else
        StillPeer::MakePicture(img.get(), 37, 21, bits);
      const std::string file = dir.File("w.tif");
      FF_TIF::TIFSetCompression(c.compression);
      ASSERT_TRUE(Ok([&] { FF_TIF::TIFSave(file, img.get()); }))
          << StillPeer::ErrorLine();
      const bool alpha = bits == 32 && c.compression != 7;
      const auto peer = StillPeer::PeerRead(file, alpha ? "rgba" : "rgb");
      const auto want = StillPeer::ToRgb(img.img, alpha);
      // The paletted picture's sharp bands cost JPEG more. A colour map
      // holds each component at full 16-bit scale, which the peer reads
      // back exactly.
      const double jpegRms = bits == 8 ? 12.0 : 4.0;
      if (c.compression == 7)
        EXPECT_LT(StillPeer::Rms(peer, want), jpegRms);
      else
        EXPECT_EQ(StillPeer::MaxDiff(peer, want), 0);
      // And our own reader agrees with what was written.
      Image back;
      ASSERT_TRUE(Ok([&] { FF_TIF::TIFLoad(file, back.get()); }))
          << StillPeer::ErrorLine();
      // JPEG coding holds neither a palette nor alpha.
      EXPECT_EQ(back->bitsPerPixel, c.compression == 7 ? 24 : bits);
      const auto ours = StillPeer::ToRgb(back.img, alpha);
      if (c.compression == 7)
        EXPECT_LT(StillPeer::Rms(ours, want), jpegRms);
      else
        EXPECT_EQ(StillPeer::MaxDiff(ours, want), 0);
    }
  }
}

TEST(TifWrite, TiffinfoAgreesWithTheTagsWritten) {
  if (!StillPeer::HaveTool("tiffinfo")) GTEST_SKIP() << "tiffinfo absent";
  TempDir dir;
  Image img;
  StillPeer::MakePicture(img.get(), 640, 20, 24);
  const std::string file = dir.File("t.tif");
  for (const WriteCase& c : kWriteCases) {
    SCOPED_TRACE(c.scheme);
    FF_TIF::TIFSetCompression(c.compression);
    ASSERT_TRUE(Ok([&] { FF_TIF::TIFSave(file, img.get()); }));
    const std::string info = TiffInfo(file);
    EXPECT_NE(info.find("Image Width: 640 Image Length: 20"), std::string::npos)
        << info;
    EXPECT_NE(info.find("Bits/Sample: 8"), std::string::npos);
    EXPECT_NE(info.find("Samples/Pixel: 3"), std::string::npos);
    EXPECT_NE(info.find(std::string("Compression Scheme: ") + c.scheme),
              std::string::npos)
        << info;
    EXPECT_NE(info.find("Photometric Interpretation: RGB color"),
              std::string::npos);
    EXPECT_NE(info.find("Orientation: row 0 top, col 0 lhs"),
              std::string::npos);
    EXPECT_NE(info.find("Planar Configuration: single image plane"),
              std::string::npos);
    // 8192 div (640 x 3) rows per strip, JPEG always 8.
    EXPECT_NE(info.find(c.compression == 7 ? "Rows/Strip: 8" : "Rows/Strip: 4"),
              std::string::npos)
        << info;
    EXPECT_EQ(info.find("Warning"), std::string::npos) << info;
  }

  // 640 pixels at 8 bits: 12 rows per strip, a colour map, photometric 3.
  Image pal;
  StillPeer::MakePaletted(pal.get(), 640, 20, 9);
  FF_TIF::TIFSetCompression(1);
  ASSERT_TRUE(Ok([&] { FF_TIF::TIFSave(file, pal.get()); }));
  std::string info = TiffInfo(file);
  EXPECT_NE(info.find("Rows/Strip: 12"), std::string::npos) << info;
  EXPECT_NE(info.find("Photometric Interpretation: palette color"),
            std::string::npos);
  EXPECT_NE(info.find("Samples/Pixel: 1"), std::string::npos);
  EXPECT_NE(info.find("Color Map: (present)"), std::string::npos);

  // 32 bits: four samples, the fourth marked as alpha.
  Image rgba;
  StillPeer::MakePicture(rgba.get(), 50, 10, 32);
  ASSERT_TRUE(Ok([&] { FF_TIF::TIFSave(file, rgba.get()); }));
  info = TiffInfo(file);
  EXPECT_NE(info.find("Samples/Pixel: 4"), std::string::npos) << info;
  EXPECT_NE(info.find("Extra Samples: 1<unassoc-alpha>"), std::string::npos)
      << info;

  // Compression 6 is not offered: uncompressed data.
  FF_TIF::TIFSetCompression(6);
  EXPECT_EQ(FF_TIF::TIFGetCompression(), 6);  // stored unchanged
  ASSERT_TRUE(Ok([&] { FF_TIF::TIFSave(file, img.get()); }));
  EXPECT_NE(TiffInfo(file).find("Compression Scheme: None"), std::string::npos);
}

TEST(TifWrite, FaxCompressionsThresholdAtLuma128AsMinIsBlack) {
  TempDir dir;
  Image img;
  StillPeer::MakePicture(img.get(), 45, 17, 24);
  // Expected bits from the luma rule, worked per pixel.
  std::vector<uint8_t> want;
  for (int64_t i = 0; i < 45 * 17; i++) {
    const uint8_t* p = img->data + i * 3;
    const uint32_t luma = (p[2] * 9798u + p[1] * 19235u + p[0] * 3735u) >> 15;
    want.push_back(luma >= 128 ? 255 : 0);
  }
  for (int32_t compression : {2, 3, 4}) {
    SCOPED_TRACE(compression);
    const std::string file = dir.File("fax.tif");
    FF_TIF::TIFSetCompression(compression);
    ASSERT_TRUE(Ok([&] { FF_TIF::TIFSave(file, img.get()); }))
        << StillPeer::ErrorLine();
    if (StillPeer::HaveTool("tiffinfo")) {
      const std::string info = TiffInfo(file);
      EXPECT_NE(info.find("Bits/Sample: 1"), std::string::npos) << info;
      EXPECT_NE(info.find("Photometric Interpretation: min-is-black"),
                std::string::npos);
    }
    Image back;
    ASSERT_TRUE(Ok([&] { FF_TIF::TIFLoad(file, back.get()); }))
        << StillPeer::ErrorLine();
    ASSERT_EQ(back->bitsPerPixel, 8);
    // Black, white palette; pixels 0 and 1.
    EXPECT_EQ(back->palette[0], 0);
    EXPECT_EQ(back->palette[3], 255);
    std::vector<uint8_t> got(back->data, back->data + 45 * 17);
    for (auto& v : got) v = v ? 255 : 0;
    EXPECT_EQ(got, want);
    if (StillPeer::HaveMagick()) {
      EXPECT_EQ(StillPeer::PeerRead(file, "gray"), want);
    }
  }
}

TEST(TifWrite, ImageWithoutAlphaIsWrittenOpaque) {
  TempDir dir;
  Image img;
  StillPeer::MakePicture(img.get(), 20, 10, 32, /*zeroAlpha=*/true);
  const std::string file = dir.File("o.tif");
  FF_TIF::TIFSetCompression(5);
  ASSERT_TRUE(Ok([&] { FF_TIF::TIFSave(file, img.get()); }));
  Image back;
  ASSERT_TRUE(Ok([&] { FF_TIF::TIFLoad(file, back.get()); }));
  EXPECT_EQ(back->bitsPerPixel, 24);
  EXPECT_EQ(StillPeer::ToRgb(back.img, false), StillPeer::ToRgb(img.img, false));
  if (StillPeer::HaveMagick()) {
    const auto rgba = StillPeer::PeerRead(file, "rgba");
    ASSERT_EQ(rgba.size(), 20u * 10 * 4);
    for (size_t i = 3; i < rgba.size(); i += 4) ASSERT_EQ(rgba[i], 255);
  }
}

TEST(TifWrite, UnwritableNameIsCreateErrorWithTheLibraryText) {
  TempDir dir;
  Image img;
  StillPeer::MakePicture(img.get(), 4, 4, 24);
  EXPECT_FALSE(Ok([&] { FF_TIF::TIFSave(dir.File("no/such/dir.tif"), img.get()); }));
  EXPECT_EQ(Errors::ErrClass(), 1);
  EXPECT_NE(Errors::ErrLastText().find("No such file or directory"),
            std::string::npos)
      << StillPeer::ErrorLine();
}

// ---- reading the peer's files -----------------------------------------------

struct ReadCase {
  const char* name;
  const char* map;   // samples handed to the peer
  int depth;         // their depth
  const char* options;
  int32_t bits;      // what the loader delivers
  int tolerance;
};

const ReadCase kReadCases[] = {
    {"rgb-none", "rgb", 8, "-compress None", 24, 0},
    {"rgb-lzw", "rgb", 8, "-compress LZW", 24, 0},
    {"rgb-zip", "rgb", 8, "-compress Zip", 24, 0},
    {"rgb-packbits", "rgb", 8, "-compress RLE", 24, 0},
    {"rgb-jpeg", "rgb", 8, "-compress JPEG -quality 95", 24, 12},
    {"rgba", "rgba", 8, "-compress LZW", 32, 0},
    {"rgb16", "rgb", 16, "-compress None", 24, 1},
    {"rgba16", "rgba", 16, "-compress Zip", 32, 1},
    {"planes", "rgb", 8, "-interlace Plane -compress LZW", 24, 0},
    {"planes-alpha", "rgba", 8, "-interlace Plane", 32, 1},
    {"tiled", "rgb", 8, "-define tiff:tile-geometry=16x16", 24, 0},
    {"cmyk", "rgb", 8, "-colorspace CMYK", 24, 3},
    {"lab", "rgb", 8, "-colorspace Lab", 24, 6},  // root mean square
    {"gray", "gray", 8, "-compress LZW", 8, 0},
    {"gray-alpha", "ia", 8, "-compress None", 32, 0},
    {"gray-alpha16", "ia", 16, "-compress None", 32, 1},
    {"gray-white", "gray", 8, "-define quantum:polarity=min-is-white", 8, 0},
    // The peer's map entries are 16-bit; the reader keeps their high byte.
    {"palette", "rgb", 8, "-type Palette -colors 40", 8, 1},
};

// Has the peer write the test picture as the case says, loads it and holds
// the pixels and the file's description against the peer's reading; gives
// the file's name.
std::string ExpectLoadsAsThePeerSees(const ReadCase& c, const TempDir& dir) {
  const int32_t w = 40, h = 24;
  const std::string file = dir.File(std::string(c.name) + ".tif");
  const std::string map = c.map;
  std::vector<uint8_t> samples;
  if (map == "gray" || map == "ia") {
    // ImageMagick's "ia" map is not a raw input map: write grey and alpha
    // through a two-layer grey+alpha picture instead.
    const auto rgba = StillPeer::PictureSamples(w, h, true);
    for (size_t i = 0; i < rgba.size(); i += 4) {
      samples.push_back(rgba[i + 1]);
      if (map == "ia") samples.push_back(rgba[i + 3]);
    }
  } else {
    samples = StillPeer::PictureSamples(w, h, map == "rgba");
  }
  std::vector<uint8_t> wide;
  if (c.depth == 16)
    for (uint8_t v : samples) {
      wide.push_back(v);  // big-endian 16-bit raw: v * 257
      wide.push_back(v);
    }
  if (map == "ia") {
    // Grey with alpha: give the peer RGBA with equal colours.
    std::vector<uint8_t> rgba;
    for (size_t i = 0; i < samples.size(); i += 2)
      for (int k : {0, 0, 0, 1}) rgba.push_back(samples[i + k]);
    std::vector<uint8_t> rgba16;
    if (c.depth == 16)
      for (uint8_t v : rgba) rgba16.push_back(v), rgba16.push_back(v);
    StillPeer::PeerWrite(c.depth == 16 ? rgba16 : rgba, w, h, "rgba", c.depth,
                         std::string(c.options) + " -type GrayscaleAlpha",
                         file);
  } else {
    StillPeer::PeerWrite(c.depth == 16 ? wide : samples, w, h, map, c.depth,
                         c.options, file);
  }
  const bool alpha = c.bits == 32;
  const auto peer = StillPeer::PeerRead(file, alpha ? "rgba" : "rgb");
  Image img;
  EXPECT_TRUE(Ok([&] { FF_TIF::TIFLoad(file, img.get()); }))
      << StillPeer::ErrorLine();
  EXPECT_EQ(img->bitsPerPixel, c.bits);
  const auto ours = StillPeer::ToRgb(img.img, alpha);
  if (std::string(c.name) == "lab") {
    // libtiff's Lab conversion approximates the sRGB curve by a plain
    // gamma, which parts most from the exact curve in the darks.
    EXPECT_LT(StillPeer::Rms(ours, peer), c.tolerance);
    EXPECT_LE(StillPeer::MaxDiff(ours, peer), 40);
  } else {
    EXPECT_LE(StillPeer::MaxDiff(ours, peer), c.tolerance);
  }
  ConForm::FFInfoRec info;
  EXPECT_TRUE(Ok([&] { FF_TIF::TIFInfo(file, &info); }));
  EXPECT_EQ(info.picture.bitsPerPixel, c.bits);
  EXPECT_TRUE(info.picture.picturesReadable);
  return file;
}

TEST(TifRead, PeerFilesOfEveryLayoutLoadAsThePeerSeesThem) {
  NEED_MAGICK();
  TempDir dir;
  for (const ReadCase& c : kReadCases) {
    SCOPED_TRACE(c.name);
    ExpectLoadsAsThePeerSees(c, dir);
  }
}

// Associated alpha (ExtraSamples 1): the file holds colours multiplied by
// their alpha, and every reading path divides them back, 8 and 16 bits, in
// rows or in planes, colour or grey.
TEST(TifRead, AssociatedAlphaIsDividedOutOnEveryPath) {
  NEED_MAGICK();
  TempDir dir;
  const ReadCase cases[] = {
      {"assoc-rgba", "rgba", 8, "-define tiff:alpha=associated -compress None", 32, 1},
      {"assoc-rgba16", "rgba", 16, "-define tiff:alpha=associated -compress Zip", 32, 1},
      {"assoc-planes", "rgba", 8, "-define tiff:alpha=associated -interlace Plane", 32, 1},
      // libtiff's RGBA reader hands over 8-bit colours still multiplied.
      {"assoc-planes16", "rgba", 16, "-define tiff:alpha=associated -interlace Plane", 32, 2},
      {"assoc-gray-alpha", "ia", 8, "-define tiff:alpha=associated", 32, 1},
      {"assoc-gray-alpha16", "ia", 16, "-define tiff:alpha=associated", 32, 1},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = ExpectLoadsAsThePeerSees(c, dir);
    uint16_t kind = 0;
    EXPECT_EQ(FF_TIF::TIFGetTag(file, 338, &kind, 2), 2);  // ExtraSamples
    EXPECT_EQ(kind, 1);
  }
  // (200, 100, 50) at half alpha is stored as (100, 50, 25) with alpha 128;
  // divided back and rounded, 8 bits give exactly (199, 100, 50).
  for (int depth : {8, 16}) {
    const std::string file = dir.File("half" + std::to_string(depth) + ".tif");
    ASSERT_EQ(StillPeer::Run("convert -size 4x4 xc:'rgba(200,100,50,0.5)' -define "
                             "tiff:alpha=associated -depth " + std::to_string(depth) +
                             " '" + file + "'"),
              0);
    Image img;
    ASSERT_TRUE(Ok([&] { FF_TIF::TIFLoad(file, img.get()); })) << StillPeer::ErrorLine();
    const auto rgba = StillPeer::ToRgb(img.img, true);
    EXPECT_LE(StillPeer::MaxDiff({rgba.begin(), rgba.begin() + 4}, {200, 100, 50, 128}), 1)
        << depth << " bits";
    if (depth == 8)
      EXPECT_EQ(std::vector<uint8_t>(rgba.begin(), rgba.begin() + 4),
                (std::vector<uint8_t>{199, 100, 50, 128}));
  }
}

// Grey stored min-is-white with alpha: the grey is inverted, the alpha is not
// (the peer reads this one's grey as stored, so the values are worked by hand).
TEST(TifRead, MinIsWhiteGreyWithAlphaIsInverted) {
  NEED_MAGICK();
  TempDir dir;
  const std::string file = dir.File("white-alpha.tif");
  ASSERT_EQ(StillPeer::Run("convert -size 2x1 xc:'graya(200,0.5)' -depth 8 "
                           "-type GrayscaleAlpha -define quantum:polarity=min-is-white "
                           "-compress None '" + file + "'"),
            0);
  Image img;
  ASSERT_TRUE(Ok([&] { FF_TIF::TIFLoad(file, img.get()); })) << StillPeer::ErrorLine();
  ASSERT_EQ(img->bitsPerPixel, 32);
  EXPECT_EQ(StillPeer::ToRgb(img.img, true),
            (std::vector<uint8_t>{55, 55, 55, 128, 55, 55, 55, 128}));
}

TEST(TifRead, YCbCrJpegInTiffLoadsAsRgb) {
  if (!StillPeer::HaveMagick() || !StillPeer::HaveTool("tiffcp"))
    GTEST_SKIP() << "peer tools absent";
  TempDir dir;
  const auto samples = StillPeer::PictureSamples(48, 32, false);
  StillPeer::PeerWrite(samples, 48, 32, "rgb", 8, "-compress None",
                       dir.File("plain.tif"));
  ASSERT_EQ(StillPeer::Run("tiffcp -c jpeg:90 '" + dir.File("plain.tif") +
                           "' '" + dir.File("ycc.tif") + "'"),
            0);
  ASSERT_NE(TiffInfo(dir.File("ycc.tif")).find("YCbCr"), std::string::npos);
  Image img;
  ASSERT_TRUE(Ok([&] { FF_TIF::TIFLoad(dir.File("ycc.tif"), img.get()); }))
      << StillPeer::ErrorLine();
  EXPECT_EQ(img->bitsPerPixel, 24);
  EXPECT_LT(StillPeer::Rms(StillPeer::ToRgb(img.img, false), samples), 4.0);
}

TEST(TifRead, OneBitUncompressedIsRefusedFaxCodingsLoad) {
  NEED_MAGICK();
  TempDir dir;
  std::vector<uint8_t> grey;
  for (int y = 0; y < 16; y++)
    for (int x = 0; x < 30; x++) grey.push_back((x / 3 + y) % 2 ? 255 : 0);
  StillPeer::PeerWrite(grey, 30, 16, "gray", 8, "-type Bilevel -compress None -depth 1",
                       dir.File("bw.tif"));
  Image img;
  EXPECT_FALSE(Ok([&] { FF_TIF::TIFLoad(dir.File("bw.tif"), img.get()); }));
  EXPECT_EQ(Errors::ErrClass(), 7);
  EXPECT_EQ(Errors::ErrCode(), 1);
  ConForm::FFInfoRec info;
  ASSERT_TRUE(Ok([&] { FF_TIF::TIFInfo(dir.File("bw.tif"), &info); }));
  EXPECT_FALSE(info.picture.picturesReadable);
  EXPECT_TRUE(info.picture.hasPictures);
  EXPECT_EQ(info.picture.videoCompression, "Uncompressed");

  for (const char* scheme : {"Group4", "Fax"}) {
    SCOPED_TRACE(scheme);
    const std::string fax = dir.File("fax.tif");
    StillPeer::PeerWrite(grey, 30, 16, "gray", 8,
                         std::string("-type Bilevel -compress ") + scheme, fax);
    ASSERT_TRUE(Ok([&] { FF_TIF::TIFLoad(fax, img.get()); }))
        << StillPeer::ErrorLine();
    EXPECT_EQ(img->bitsPerPixel, 8);
    const auto rgb = StillPeer::ToRgb(img.img, false);
    ASSERT_EQ(rgb.size(), grey.size() * 3);
    for (size_t i = 0; i < grey.size(); i++) ASSERT_EQ(rgb[i * 3], grey[i]);
    ASSERT_TRUE(Ok([&] { FF_TIF::TIFInfo(fax, &info); }));
    EXPECT_EQ(info.picture.videoCompression, std::string(scheme) == "Fax"
                                         ? "CCITT Group 3 fax encoding"
                                         : "CCITT Group 4 fax encoding");
    EXPECT_EQ(info.picture.bitsPerPixel, 8);
  }
}

// The colour map of a palette file lies after its pixels: a file cut inside
// it is damaged, not grey (libtiff alone would read it as grey).
TEST(TifRead, PaletteFileWithoutItsColourMapIsRefused) {
  TempDir dir;
  Image img;
  StillPeer::MakePaletted(img.get(), 9, 5, 6);
  const std::string file = dir.File("pal.tif");
  FF_TIF::TIFSetCompression(1);
  ASSERT_TRUE(Ok([&] { FF_TIF::TIFSave(file, img.get()); }));
  auto bytes = StillPeer::ReadFile(file);
  ASSERT_EQ(FF_TIF::TIFGetTag(file, 320, nullptr, 1000), 2);  // the map is there
  bytes.resize(bytes.size() - 100);
  StillPeer::WriteFile(file, bytes);
  Image back;
  EXPECT_FALSE(Ok([&] { FF_TIF::TIFLoad(file, back.get()); }));
  EXPECT_EQ(Errors::ErrClass(), 7);
  EXPECT_EQ(Errors::ErrCode(), 1);
  EXPECT_EQ(Errors::WarnClass(), 1);  // libtiff's own words
  ConForm::FFInfoRec info;
  ASSERT_TRUE(Ok([&] { FF_TIF::TIFInfo(file, &info); }));
  EXPECT_TRUE(info.picture.hasPictures);
  EXPECT_FALSE(info.picture.picturesReadable);
  EXPECT_EQ(Basic::FileMark(), 0);
}

// 16-bit grey written by the peer from big-endian raw samples.
void WriteGray16(const std::string& file, const std::vector<uint16_t>& values,
                 int32_t w, int32_t h) {
  std::vector<uint8_t> raw;
  for (uint16_t v : values) {
    raw.push_back(static_cast<uint8_t>(v >> 8));
    raw.push_back(static_cast<uint8_t>(v));
  }
  StillPeer::PeerWrite(raw, w, h, "gray", 16, "-compress None", file);
}

TEST(TifRead, SixteenBitGreyIsStretchedOverItsRange) {
  NEED_MAGICK();
  TempDir dir;
  std::vector<uint16_t> values;
  for (int i = 0; i < 101; i++) values.push_back(static_cast<uint16_t>(1000 + i * 10));
  const std::string file = dir.File("g16.tif");
  WriteGray16(file, values, 101, 1);
  Image img;
  ASSERT_TRUE(Ok([&] { FF_TIF::TIFLoad(file, img.get()); }));
  ASSERT_EQ(img->bitsPerPixel, 8);
  EXPECT_EQ(img->data[0], 0);      // 1000
  EXPECT_EQ(img->data[100], 255);  // 2000
  EXPECT_EQ(img->data[50], 128);   // 1500: round(500 / (1000 / 255)) = 128
  EXPECT_EQ(img->palette[128 * 3], 128);  // grey ramp

  FF_TIF::TIFSetGrayRange(0, 4000);
  Image dark;
  ASSERT_TRUE(Ok([&] { FF_TIF::TIFLoad(file, dark.get()); }));
  EXPECT_EQ(dark->data[0], 64);    // round(1000 / (4000 / 255)) = 64
  EXPECT_EQ(dark->data[100], 128);  // 127.5 rounds up
  FF_TIF::TIFSetGrayRange(Basic::K_AUTO, Basic::K_AUTO);

  // A flat picture has no range to stretch: each sample keeps its high byte.
  WriteGray16(file, std::vector<uint16_t>(12, 0x5A3C), 4, 3);
  Image flat;
  ASSERT_TRUE(Ok([&] { FF_TIF::TIFLoad(file, flat.get()); }));
  for (int i = 0; i < 12; i++) EXPECT_EQ(flat->data[i], 0x5A);
}

TEST(TifRead, FloatSamplesAreRefusedNotGarbage) {
  NEED_MAGICK();
  TempDir dir;
  const auto samples = StillPeer::PictureSamples(8, 8, false);
  // The peer warns about a tag it writes and so ends with a failure code.
  StillPeer::WriteFile(dir.File("f.raw"), samples);
  StillPeer::Run("convert -size 8x8 -depth 8 rgb:'" + dir.File("f.raw") +
                 "' -define quantum:format=floating-point -depth 32 '" +
                 dir.File("f.tif") + "'");
  ASSERT_TRUE(Basic::FileExists(dir.File("f.tif")));
  Image img;
  EXPECT_FALSE(Ok([&] { FF_TIF::TIFLoad(dir.File("f.tif"), img.get()); }));
  EXPECT_EQ(Errors::ErrClass(), 7);
  EXPECT_EQ(Errors::ErrCode(), 1);
}

TEST(TifRead, LibraryMessagesArriveAsTextErrors) {
  TempDir dir;
  TestUtil::WriteText(dir.File("bad.tif"), "this is not a tiff file at all");
  Image img;
  EXPECT_FALSE(Ok([&] { FF_TIF::TIFLoad(dir.File("bad.tif"), img.get()); }));
  EXPECT_EQ(Errors::ErrClass(), 1);
  EXPECT_NE(Errors::ErrLastText().find("Not a TIFF"), std::string::npos)
      << StillPeer::ErrorLine();
  ConForm::FFInfoRec info;
  EXPECT_FALSE(Ok([&] { FF_TIF::TIFInfo(dir.File("missing.tif"), &info); }));
  EXPECT_EQ(Errors::ErrClass(), 1);
  EXPECT_NE(Errors::ErrLastText().find("missing.tif"), std::string::npos);
}

// ---- single tags ------------------------------------------------------------

// A little TIFF directory built by hand, in either byte order.
std::vector<uint8_t> HandTiff(bool big, uint16_t entries,
                              const std::vector<std::vector<uint32_t>>& rows,
                              const std::vector<uint8_t>& tail) {
  std::vector<uint8_t> f;
  auto put16 = [&](uint32_t v) {
    if (big) f.push_back(uint8_t(v >> 8)), f.push_back(uint8_t(v));
    else f.push_back(uint8_t(v)), f.push_back(uint8_t(v >> 8));
  };
  auto put32 = [&](uint32_t v) {
    if (big) for (int s = 24; s >= 0; s -= 8) f.push_back(uint8_t(v >> s));
    else for (int s = 0; s <= 24; s += 8) f.push_back(uint8_t(v >> s));
  };
  f.push_back(big ? 'M' : 'I');
  f.push_back(big ? 'M' : 'I');
  put16(42);
  put32(8);
  put16(entries);
  for (const auto& r : rows) {  // tag, type, count, raw value bytes
    put16(r[0]);
    put16(r[1]);
    put32(r[2]);
    for (int k = 0; k < 4; k++) f.push_back(uint8_t(r[3] >> (8 * k)));
  }
  f.insert(f.end(), tail.begin(), tail.end());
  return f;
}

TEST(TifTags, ReadsFirstDirectoryEntriesBothByteOrders) {
  TempDir dir;
  const std::string file = dir.File("h.tif");
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "big-endian" : "little-endian");
    // Value fields given as the file's raw bytes.
    const uint32_t width = big ? 0x0002u /* 512 as 02 00 */ : 512u;
    const uint32_t longv = big ? 0x78563412u : 0x12345678u;
    // A rational at offset 8 + 2 + 3 x 12 + 4 = 50.
    const std::vector<uint8_t> rational =
        big ? std::vector<uint8_t>{0, 0, 0, 72, 0, 0, 0, 1}
            : std::vector<uint8_t>{72, 0, 0, 0, 1, 0, 0, 0};
    std::vector<uint8_t> tail = {0, 0, 0, 0};
    tail.insert(tail.end(), rational.begin(), rational.end());
    StillPeer::WriteFile(
        file, HandTiff(big, 3,
                       {{256, 3, 1, width}, {273, 4, 1, longv},
                        {282, 5, 1, big ? 0x32000000u : 50u}},
                       tail));
    uint8_t buf[8] = {};
    EXPECT_EQ(FF_TIF::TIFGetTag(file, 256, buf, 8), 2);
    EXPECT_EQ(buf[0] | buf[1] << 8, 512);
    EXPECT_EQ(FF_TIF::TIFGetTag(file, 273, buf, 8), 4);
    EXPECT_EQ(buf[0] | buf[1] << 8 | buf[2] << 16 | uint32_t(buf[3]) << 24,
              0x12345678u);
    std::memset(buf, 0, 8);
    EXPECT_EQ(FF_TIF::TIFGetTag(file, 282, buf, 8), 8);
    EXPECT_EQ(buf[0], 72);
    EXPECT_EQ(buf[4], 1);
    EXPECT_EQ(FF_TIF::TIFGetTag(file, 282, nullptr, 8), 8);  // size only
    EXPECT_EQ(FF_TIF::TIFGetTag(file, 282, buf, 3), 3);      // at most the buffer
    EXPECT_EQ(FF_TIF::TIFGetTag(file, 282, buf, 0), 0);
    EXPECT_EQ(FF_TIF::TIFGetTag(file, 282, buf, -5), 0);
    EXPECT_EQ(FF_TIF::TIFGetTag(file, 999, buf, 8), 0);  // absent
  }
}

TEST(TifTags, Tag34071GivesItsBytesAndStopsTheSearch) {
  TempDir dir;
  const std::string file = dir.File("p.tif");
  // 34071 with 10 bytes at offset 8 + 2 + 2 x 12 + 4 = 38; tag 256 after it.
  std::vector<uint8_t> tail = {0, 0, 0, 0};
  for (int i = 0; i < 10; i++) tail.push_back(uint8_t('a' + i));
  StillPeer::WriteFile(file, HandTiff(false, 2,
                                      {{34071, 7, 10, 38}, {256, 3, 1, 7}},
                                      tail));
  char buf[16] = {};
  EXPECT_EQ(FF_TIF::TIFGetTag(file, 256, buf, 16), 10);
  EXPECT_EQ(std::string(buf, 10), "abcdefghij");
  EXPECT_EQ(FF_TIF::TIFGetTag(file, 256, buf, 4), 4);
}

TEST(TifTags, EntryLoopStopsAtTheEndOfTheFile) {
  TempDir dir;
  const std::string file = dir.File("cut.tif");
  // The directory claims 60000 entries; the file holds one.
  StillPeer::WriteFile(file, HandTiff(false, 60000, {{300, 3, 1, 5}}, {}));
  uint8_t buf[4];
  EXPECT_EQ(FF_TIF::TIFGetTag(file, 256, buf, 4), 0);
  EXPECT_EQ(FF_TIF::TIFGetTag(file, 300, buf, 4), 2);
  // A directory offset past the end, and a file that is not a TIFF.
  auto bytes = HandTiff(false, 1, {{256, 3, 1, 5}}, {});
  bytes[4] = 0xF0;
  StillPeer::WriteFile(file, bytes);
  EXPECT_EQ(FF_TIF::TIFGetTag(file, 256, buf, 4), 0);
  // Eight-byte types that count no values: nothing is read past the entry.
  for (int type : {5, 10, 12}) {
    StillPeer::WriteFile(file, HandTiff(false, 1, {{282, uint16_t(type), 0,
                                                    0xFFFFFFFFu}}, {}));
    uint8_t wide[8];
    std::memset(wide, 0xAB, 8);
    EXPECT_EQ(FF_TIF::TIFGetTag(file, 282, wide, 8), 8);
    EXPECT_EQ(wide[0] | wide[7], 0);
  }
  // The first type of the table, and types it does not list (2, ASCII, among them).
  for (const auto& [type, size] : {std::pair{1, 1}, {13, 0}, {2, 0}, {0, 0}}) {
    const std::vector<uint8_t> tail(8, 5);  // a value of 8 bytes at offset 22
    StillPeer::WriteFile(file, HandTiff(false, 1, {{300, uint32_t(type), 1, 22}}, tail));
    EXPECT_EQ(FF_TIF::TIFGetTag(file, 300, buf, 4), size) << type;
  }
  TestUtil::WriteText(file, "GIF89a and more");
  EXPECT_EQ(FF_TIF::TIFGetTag(file, 256, buf, 4), 0);
  EXPECT_TRUE(Errors::ErrNone());
}

TEST(TifTags, OurOwnFileGivesItsWidth) {
  TempDir dir;
  Image img;
  StillPeer::MakePicture(img.get(), 333, 2, 24);
  FF_TIF::TIFSetCompression(1);
  ASSERT_TRUE(Ok([&] { FF_TIF::TIFSave(dir.File("o.tif"), img.get()); }));
  uint8_t buf[4] = {};
  const int32_t n = FF_TIF::TIFGetTag(dir.File("o.tif"), 256, buf, 4);
  ASSERT_TRUE(n == 2 || n == 4);
  EXPECT_EQ(buf[0] | buf[1] << 8, 333);
}

}  // namespace
