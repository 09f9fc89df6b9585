// SGI, Sun raster, PNM and BAY: packing rules, header handling and the
// sound handling of hostile headers.
#include <gtest/gtest.h>

#include <tuple>

#include "formats/FF_BAY.h"
#include "formats/FF_PNM.h"
#include "formats/FF_RAS.h"
#include "formats/FF_SGI.h"
#include "FormatTestUtil.h"

using namespace fmttest;

namespace {

void ExpectLoadError(const std::string& path, int32_t cls, int32_t code) {
  ImgBasic::Qimg image;
  EXPECT_FALSE(Load(path, &image)) << path;
  EXPECT_EQ(Errors::ErrClass(), cls) << path;
  EXPECT_EQ(Errors::ErrCode(), code) << path;
}

Bytes SgiHeader(int storage, int dimension, int w, int h, int channels,
                uint32_t colorMap = 0) {
  Bytes b;
  Put16B(b, 474);
  b.push_back(static_cast<uint8_t>(storage));
  b.push_back(1);
  Put16B(b, dimension);
  Put16B(b, w);
  Put16B(b, h);
  Put16B(b, channels);
  Put32B(b, 0);
  Put32B(b, 255);
  b.resize(104, 0);
  Put32B(b, colorMap);
  b.resize(512, 0);
  return b;
}

Bytes RasHeader(uint32_t w, uint32_t h, uint32_t depth, uint32_t type,
                uint32_t mapType, uint32_t mapLength) {
  Bytes b;
  Put32B(b, 0x59A66A95u);
  Put32B(b, w);
  Put32B(b, h);
  Put32B(b, depth);
  Put32B(b, 0);
  Put32B(b, type);
  Put32B(b, mapType);
  Put32B(b, mapLength);
  return b;
}

void WriteText(const std::string& path, const std::string& text) {
  WriteFile(path, Bytes(text.begin(), text.end()));
}

}  // namespace

// ---- SGI ------------------------------------------------------------------

TEST(Sgi, PackingRules) {
  std::vector<uint8_t> row(300, 42), out(700);
  EXPECT_EQ(FF_SGI::SGIPackRow(300, out.data(), row.data()), 7);
  const uint8_t expect[7] = {126, 42, 126, 42, 48, 42, 0};
  EXPECT_EQ(0, std::memcmp(out.data(), expect, 7));
  for (size_t i = 0; i < row.size(); i++) row[i] = static_cast<uint8_t>(i & 1);
  const int64_t n = FF_SGI::SGIPackRow(300, out.data(), row.data());
  EXPECT_EQ(out[0], 128 + 125);
  EXPECT_EQ(out[126], 128 + 125);
  EXPECT_EQ(out[252], 128 + 50);
  EXPECT_EQ(n, 1 + 125 + 1 + 125 + 1 + 50 + 1);
  std::vector<uint8_t> back(300);
  EXPECT_EQ(FF_SGI::SGIUnpackRow(300, n, back.data(), out.data()), 300);
  EXPECT_EQ(back, row);
  // A literal that runs past the packed bytes is corrupt.
  const uint8_t bad[3] = {0x85, 1, 2};
  EXPECT_EQ(FF_SGI::SGIUnpackRow(10, 3, back.data(), bad), -1);
}

TEST(Sgi, PaletteImageBecomesThreeChannels) {
  ImgBasic::Qimg image;
  const Rgb src = FewColours(5, 4);
  ToQimg(src, 8, &image);
  for (int rle = 0; rle <= 1; rle++) {
    FF_SGI::SGISetCompression(rle);
    ASSERT_TRUE(Save(Path("pal.sgi"), &image));
    const Bytes f = ReadFile(Path("pal.sgi"));
    EXPECT_EQ(f[2], rle);
    EXPECT_EQ((f[10] << 8) | f[11], 3);
    EXPECT_EQ((f[4] << 8) | f[5], 3);
    EXPECT_EQ(LoadRgb(Path("pal.sgi")), src) << rle;
  }
  FF_SGI::SGISetCompression(1);
  ImgBasic::ImgFree(&image);
}

TEST(Sgi, DimensionOneIsASingleRow) {
  Bytes f = SgiHeader(0, 1, 3, 7, 4);
  f.insert(f.end(), {10, 20, 30});
  WriteFile(Path("dim1.sgi"), f);
  ImgBasic::Qimg image;
  ASSERT_TRUE(Load(Path("dim1.sgi"), &image));
  EXPECT_EQ(image.height, 1);
  EXPECT_EQ(image.bitsPerPixel, 8);
  EXPECT_EQ(image.data[2], 30);
  ImgBasic::ImgFree(&image);
}

TEST(Sgi, ColourMapKindDescribedButNotReadable) {
  Bytes f = SgiHeader(0, 3, 1, 1, 3, 1);
  f.insert(f.end(), {1, 2, 3});
  WriteFile(Path("cmap.sgi"), f);
  ConForm::FFInfoRec info;
  ConForm::FFInfo(Path("cmap.sgi"), Basic::K_AUTO, &info, nullptr, nullptr);
  EXPECT_TRUE(info.picture.hasPictures);
  EXPECT_FALSE(info.picture.picturesReadable);
  ExpectLoadError(Path("cmap.sgi"), 7, 1);
  // Header codes at the end of their ranges (storage 0..1, dimension 1..3,
  // channels 1..4, one byte a channel) and one past it.
  for (const auto& [storage, dimension, channels, bytes, readable] :
       {std::tuple{0, 3, 4, 1, true}, {2, 3, 3, 1, false}, {0, 4, 3, 1, false},
        {0, 0, 3, 1, false}, {0, 3, 5, 1, false}, {0, 3, 0, 1, false}, {0, 3, 3, 2, false}}) {
    Bytes g = SgiHeader(storage, dimension, 1, 1, channels);
    g[3] = static_cast<uint8_t>(bytes);
    g.insert(g.end(), 8, 7);
    WriteFile(Path("codes.sgi"), g);
    ConForm::FFInfo(Path("codes.sgi"), Basic::K_AUTO, &info, nullptr, nullptr);
    EXPECT_EQ(info.picture.picturesReadable, readable)
        << storage << " " << dimension << " " << channels << " " << bytes;
  }
}

TEST(Sgi, RowLengthsCheckedAgainstRowBuffer) {
  // 2 x 1, 1 channel, RLE: the row claims 1000 packed bytes.
  Bytes f = SgiHeader(1, 2, 2, 1, 1);
  Put32B(f, 520);
  Put32B(f, 1000);
  f.resize(520 + 1000, 1);
  WriteFile(Path("longrow.sgi"), f);
  ExpectLoadError(Path("longrow.sgi"), 7, 3);
  // A start past the end of the file.
  Bytes g = SgiHeader(1, 2, 2, 1, 1);
  Put32B(g, 100000);
  Put32B(g, 3);
  WriteFile(Path("farrow.sgi"), g);
  ExpectLoadError(Path("farrow.sgi"), 7, 3);
}

TEST(Sgi, TwoChannelsLoadAsGrey) {
  Bytes f = SgiHeader(0, 3, 2, 1, 2);
  f.insert(f.end(), {50, 60, 255, 128});  // grey plane, alpha plane
  WriteFile(Path("ga.sgi"), f);
  ImgBasic::Qimg image;
  ASSERT_TRUE(Load(Path("ga.sgi"), &image));
  EXPECT_EQ(image.bitsPerPixel, 8);
  EXPECT_EQ(image.data[0], 50);
  EXPECT_EQ(image.data[1], 60);
  EXPECT_EQ(image.palette[60 * 3], 60);
  ImgBasic::ImgFree(&image);
}

TEST(Sgi, ZeroAlphaIsWrittenOpaque) {
  ImgBasic::Qimg image;
  ToQimg(TestPicture(3, 2), 32, &image);
  for (int i = 0; i < 6; i++) image.data[i * 4 + 3] = 0;
  FF_SGI::SGISetCompression(0);
  ASSERT_TRUE(Save(Path("a0.sgi"), &image));
  const Bytes f = ReadFile(Path("a0.sgi"));
  ASSERT_EQ(f.size(), 512u + 4 * 6);
  for (int i = 0; i < 6; i++) EXPECT_EQ(f[512 + 18 + i], 255);
  FF_SGI::SGISetCompression(1);
  ImgBasic::ImgFree(&image);
}

TEST(Sgi, OversizedImageRefused) {
  ImgBasic::Qimg image;
  ImgBasic::_imgalloc_(&image, 70000, 1, "test", __LINE__, 24);
  EXPECT_FALSE(Save(Path("wide.sgi"), &image));
  EXPECT_EQ(Errors::ErrClass(), 7);
  EXPECT_FALSE(Basic::FileExists(Path("wide.sgi")));
  ImgBasic::ImgFree(&image);
}

// ---- Sun raster -----------------------------------------------------------

TEST(Ras, PackingRules) {
  uint8_t out[16];
  const uint8_t two[2] = {7, 7};
  EXPECT_EQ(FF_RAS::RASPackRow(2, out, two), 3);
  EXPECT_EQ(out[0], 128);
  EXPECT_EQ(out[1], 1);
  EXPECT_EQ(out[2], 7);
  const uint8_t esc[1] = {128};
  EXPECT_EQ(FF_RAS::RASPackRow(1, out, esc), 2);
  EXPECT_EQ(out[1], 0);
  std::vector<uint8_t> run(300, 9), packed(600);
  EXPECT_EQ(FF_RAS::RASPackRow(300, packed.data(), run.data()), 6);
  EXPECT_EQ(packed[1], 255);
  EXPECT_EQ(packed[4], 43);
}

TEST(Ras, OddRowsArePaddedAlsoWhenEncoded) {
  ImgBasic::Qimg image;
  ToQimg(FewColours(255, 2), 8, &image);
  for (int rle = 0; rle <= 1; rle++) {
    FF_RAS::RASSetCompression(rle);
    ASSERT_TRUE(Save(Path("w255.ras"), &image));
    const Bytes f = ReadFile(Path("w255.ras"));
    EXPECT_EQ(f[23], rle ? 2 : 1);
    EXPECT_EQ(f[27], 1);  // colour map
    if (!rle) EXPECT_EQ(f.size(), 32u + 768u + 256u * 2u);
    else EXPECT_EQ(f.size() - 32 - 768, (f[18] << 8) | f[19]);
    EXPECT_EQ(LoadRgb(Path("w255.ras")), FewColours(255, 2)) << rle;
  }
  FF_RAS::RASSetCompression(1);
  ImgBasic::ImgFree(&image);
}

TEST(Ras, BlackPaletteWrittenWithoutMap) {
  ImgBasic::Qimg image;
  ImgBasic::_imgalloc_(&image, 2, 2, "test", __LINE__, 8);
  ASSERT_TRUE(Save(Path("black.ras"), &image));
  const Bytes f = ReadFile(Path("black.ras"));
  EXPECT_EQ(f[27], 0);
  EXPECT_EQ(f[31], 0);
  ImgBasic::ImgFree(&image);
}

TEST(Ras, StandardAndRgbOrder) {
  // B,G,R (or X,B,G,R) as standard; R,G,B (or X,R,G,B) in type 3.
  Rgb pic;
  for (const int depth : {24, 32}) {
    SCOPED_TRACE(depth);
    Bytes f = RasHeader(1, 1, depth, 1, 0, 0);
    if (depth == 32) f.push_back(0);
    f.insert(f.end(), {1, 2, 3, 0});
    WriteFile(Path("std.ras"), f);
    pic = LoadRgb(Path("std.ras"));
    EXPECT_EQ(pic.rgb, (Bytes{3, 2, 1}));
    f[23] = 3;
    WriteFile(Path("rgb.ras"), f);
    pic = LoadRgb(Path("rgb.ras"));
    EXPECT_EQ(pic.rgb, (Bytes{1, 2, 3}));
    f[23] = 0;  // the old type is the standard one
    WriteFile(Path("old.ras"), f);
    EXPECT_EQ(LoadRgb(Path("old.ras")).rgb, (Bytes{3, 2, 1}));
    f[23] = 4;  // the first type past the known ones
    WriteFile(Path("t4.ras"), f);
    ExpectLoadError(Path("t4.ras"), 7, 1);
  }
  // A file shorter than its padded rows is read with unpadded rows.
  Bytes s = RasHeader(1, 2, 24, 1, 0, 0);
  s.insert(s.end(), {1, 2, 3, 4, 5, 6});
  WriteFile(Path("short.ras"), s);
  pic = LoadRgb(Path("short.ras"));
  EXPECT_EQ(pic.rgb, (Bytes{3, 2, 1, 6, 5, 4}));
}

TEST(Ras, RunsCrossRowsAndShortMaps) {
  // 3 x 2, 8 bits, a 6-byte map (two entries per plane), runs crossing rows
  // and pad bytes.
  Bytes f = RasHeader(3, 2, 8, 2, 1, 6);
  f.insert(f.end(), {10, 11, 20, 21, 30, 31});
  f.insert(f.end(), {128, 6, 1, 0});  // seven 1s: row 0, its pad, row 1
  WriteFile(Path("cross.ras"), f);
  ImgBasic::Qimg image;
  ASSERT_TRUE(Load(Path("cross.ras"), &image));
  for (int i = 0; i < 6; i++) EXPECT_EQ(image.data[i], 1);
  EXPECT_EQ(image.palette[3], 31);  // entry 1: blue from the third plane
  EXPECT_EQ(image.palette[4], 21);
  EXPECT_EQ(image.palette[5], 11);
  ImgBasic::ImgFree(&image);
  // A raw map (type 2) is passed over: pixels start after it.
  Bytes g = RasHeader(2, 1, 8, 1, 2, 3);
  g.insert(g.end(), {9, 9, 9, 4, 5});
  WriteFile(Path("rawmap.ras"), g);
  ASSERT_TRUE(Load(Path("rawmap.ras"), &image));
  EXPECT_EQ(image.data[0], 4);
  EXPECT_EQ(image.data[1], 5);
  ImgBasic::ImgFree(&image);
  // Encoded data ending early is corrupt.
  Bytes h = RasHeader(4, 1, 8, 2, 0, 0);
  h.insert(h.end(), {1, 2, 128});
  WriteFile(Path("cut.ras"), h);
  ExpectLoadError(Path("cut.ras"), 7, 3);
  // So is encoded data that is not there at all.
  WriteFile(Path("none.ras"), RasHeader(4, 1, 8, 2, 0, 0));
  ExpectLoadError(Path("none.ras"), 7, 3);
}

TEST(Ras, ThirtyTwoBitsOnDiskAreXBGR) {
  ImgBasic::Qimg image;
  ImgBasic::_imgalloc_(&image, 1, 1, "test", __LINE__, 32);
  image.data[0] = 1;  // B
  image.data[1] = 2;  // G
  image.data[2] = 3;  // R
  FF_RAS::RASSetCompression(0);
  ASSERT_TRUE(Save(Path("x.ras"), &image));
  const Bytes f = ReadFile(Path("x.ras"));
  ASSERT_EQ(f.size(), 36u);
  EXPECT_EQ(f[33], 1);
  EXPECT_EQ(f[34], 2);
  EXPECT_EQ(f[35], 3);
  ImgBasic::Qimg back;
  ASSERT_TRUE(Load(Path("x.ras"), &back));
  EXPECT_EQ(back.data[0], 1);
  EXPECT_EQ(back.data[2], 3);
  FF_RAS::RASSetCompression(1);
  ImgBasic::ImgFree(&image);
  ImgBasic::ImgFree(&back);
}

// ---- PNM ------------------------------------------------------------------

// Samples are scaled in proportion to the maximum: the maximum is white,
// whatever it is, and values past it are white too.
TEST(Pnm, ScalesByMaximum) {
  const std::pair<std::string, Bytes> cases[] = {
      {"P2\n4 1\n15\n15 1 0 7\n", {255, 17, 0, 119}},
      {"P2\n4 1\n3\n3 1 2 0\n", {255, 85, 170, 0}},
      {"P2\n4 1\n100\n100 1 50 101\n", {255, 3, 128, 255}},
      {"P2\n2 1\n1\n1 0\n", {255, 0}},
      {std::string("P5\n3 1\n100\n") + std::string("\x64\x00\x21", 3), {255, 0, 84}},
  };
  for (const auto& [text, want] : cases) {
    WriteText(Path("m.pgm"), text);
    ImgBasic::Qimg image;
    ASSERT_TRUE(Load(Path("m.pgm"), &image)) << text;
    EXPECT_EQ(Bytes(image.data, image.data + image.width), want) << text;
    ImgBasic::ImgFree(&image);
  }
}

// Pixmaps and graymaps of small maxima, written by netpbm in both
// encodings, read as netpbm itself brings them to 255 levels, and as
// ImageMagick reads them (which truncates where a level falls between two:
// at most one below, and equal for maxima that divide 255).
TEST(PnmPeer, SmallMaximaReadAsTheirPeersReadThem) {
  REQUIRE_TOOL("convert");
  REQUIRE_TOOL("pamdepth");
  REQUIRE_TOOL("pnmtoplainpnm");
  Rgb pic = TestPicture(41, 7);
  for (size_t i = 0; i < 256 * 3 && i < pic.rgb.size(); i++) pic.rgb[i] = static_cast<uint8_t>(i / 3);
  WritePpm(Path("full.ppm"), pic);
  WritePgm(Path("full.pgm"), pic);
  for (const char* maxValue : {"3", "15", "100"}) {
    for (const char* kind : {"ppm", "pgm"}) {
      const std::string binary = Path(std::string("m") + maxValue + "." + kind);
      const std::string ascii = Path(std::string("a") + maxValue + "." + kind);
      ASSERT_EQ(Shell(std::string("pamdepth ") + maxValue + " " + Path(std::string("full.") + kind) +
                      " > " + binary + " 2>/dev/null"),
                0);
      ASSERT_EQ(Shell("pnmtoplainpnm " + binary + " > " + ascii + " 2>/dev/null"), 0);
      for (const std::string& file : {binary, ascii}) {
        SCOPED_TRACE(file);
        const Rgb ours = LoadRgb(file);
        Rgb netpbm, magick;
        ASSERT_TRUE(PeerRead("pamdepth 255 " + file + " 2>/dev/null", &netpbm));
        EXPECT_EQ(ours, netpbm);
        ASSERT_TRUE(MagickRead(file, &magick));
        ASSERT_EQ(magick.rgb.size(), ours.rgb.size());
        for (size_t i = 0; i < ours.rgb.size(); i++) {
          const int below = ours.rgb[i] - magick.rgb[i];
          ASSERT_TRUE(below == 0 || (below == 1 && 255 % std::atoi(maxValue) != 0))
              << "sample " << i << ": ours " << int(ours.rgb[i]) << ", ImageMagick "
              << int(magick.rgb[i]);
        }
      }
    }
  }
}

TEST(Pnm, CommentAfterMagic) {
  std::string text = "P6 # a comment\n# another\n1 1\n255\n";
  text += std::string("\x01\x02\x03", 3);
  WriteText(Path("comment.ppm"), text);
  EXPECT_EQ(LoadRgb(Path("comment.ppm")).rgb, (Bytes{1, 2, 3}));
}

TEST(Pnm, BitmapsDescribedButNotReadable) {
  WriteText(Path("bits.pnm"), "P4\n8 1\n\xff");
  ConForm::FFInfoRec info;
  ConForm::FFInfo(Path("bits.pnm"), Basic::K_AUTO, &info, nullptr, nullptr);
  EXPECT_EQ(info.picture.bitsPerPixel, 0);
  EXPECT_FALSE(info.picture.picturesReadable);
  ExpectLoadError(Path("bits.pnm"), 7, 1);
  WriteText(Path("nop.pnm"), "Q6\n1 1\n255\n");
  ExpectLoadError(Path("nop.pnm"), 7, 2);
}

TEST(Pnm, AsciiPixmapLayout) {
  ImgBasic::Qimg image;
  ImgBasic::_imgalloc_(&image, 2, 1, "test", __LINE__, 24);
  const uint8_t px[6] = {3, 2, 1, 0, 100, 255};  // B,G,R
  std::memcpy(image.data, px, 6);
  FF_PNM::PNMSetEncoding(1);
  ASSERT_TRUE(Save(Path("a.ppm"), &image));
  const Bytes f = ReadFile(Path("a.ppm"));
  EXPECT_EQ(std::string(f.begin(), f.end()), "P3\n2 1\n255\n1\n2\n3\n255\n100\n0\n");
  EXPECT_EQ(LoadRgb(Path("a.ppm")).rgb, (Bytes{1, 2, 3, 255, 100, 0}));
  FF_PNM::PNMSetEncoding(0);
  ASSERT_TRUE(Save(Path("b.ppm"), &image));
  const Bytes g = ReadFile(Path("b.ppm"));
  EXPECT_EQ(std::string(g.begin(), g.begin() + 11), "P6\n2 1\n255\n");
  EXPECT_EQ(Bytes(g.begin() + 11, g.end()), (Bytes{1, 2, 3, 255, 100, 0}));
  ImgBasic::ImgFree(&image);
}

TEST(Pnm, HeaderNumbersArePlainDigits) {
  for (const char* head : {"P6\n-2 1\n255\n", "P6\n+2 1\n255\n", "P6\n2x 1\n255\n",
                           "P6\n0 1\n255\n", "P6\n2 0\n255\n",
                           "P6\n99999999999 1\n255\n", "P6\n2 1\n0\n"}) {
    WriteText(Path("hdr.ppm"), std::string(head) + "abcdef");
    ExpectLoadError(Path("hdr.ppm"), 7, 4);
  }
  WriteText(Path("eof.ppm"), "P6\n2 1");
  ExpectLoadError(Path("eof.ppm"), 7, 9);
  WriteText(Path("badsample.pgm"), "P2\n2 1\n255\n1 x\n");
  ExpectLoadError(Path("badsample.pgm"), 7, 9);
}

TEST(Pnm, SixteenBitSamplesScaled) {
  std::string text = "P5\n2 1\n65535\n";
  text += std::string("\xff\xff\x80\x00", 4);
  WriteText(Path("s16.pgm"), text);
  ImgBasic::Qimg image;
  ASSERT_TRUE(Load(Path("s16.pgm"), &image));
  EXPECT_EQ(image.data[0], 255);
  EXPECT_EQ(image.data[1], 128);
  ImgBasic::ImgFree(&image);
}

// ---- BAY ------------------------------------------------------------------

namespace {
Bytes BayFile(int64_t size, int mode, const char* camera, int exposure,
              uint8_t sample = 100) {
  Bytes f(static_cast<size_t>(size), sample);
  if (size == 307200) return f;
  const size_t t = static_cast<size_t>(size - 1024);
  std::fill(f.begin() + static_cast<long>(t), f.end(), 0);
  f[t] = static_cast<uint8_t>(camera[0]);
  f[t + 1] = static_cast<uint8_t>(camera[1]);
  std::memcpy(&f[t + 3], "BAY 2", 5);
  f[t + 8] = static_cast<uint8_t>(mode);
  f[t + 11] = static_cast<uint8_t>(exposure);
  return f;
}
}  // namespace

TEST(Bay, RecognisedSizesAndModes) {
  // The trailer-tagged files keep their samples in 2 x 2 cells, a row pair
  // at a time: the first two cells and the first of the next row pair.
  const uint8_t cells[12] = {10, 20, 30, 40, 50, 60, 70, 80, 1, 2, 3, 4};
  auto withCells = [&](Bytes f) {
    std::copy(cells, cells + 8, f.begin());
    std::copy(cells + 8, cells + 12, f.begin() + 1024);
    return f;
  };
  WriteFile(Path("c.bay"), withCells(BayFile(74752, 1, "ML", 5)));
  ConForm::FFInfoRec info;
  ConForm::FFInfo(Path("c.bay"), Basic::K_AUTO, &info, nullptr, nullptr);
  EXPECT_EQ(info.picture.width, 512);
  EXPECT_EQ(info.picture.height, 144);
  EXPECT_EQ(info.picture.bitsPerPixel, 24);
  EXPECT_EQ(info.picture.fps, 500);
  EXPECT_EQ(info.picture.videoCompression, "HG (color)");
  ImgBasic::Qimg image;
  ASSERT_TRUE(Load(Path("c.bay"), &image));
  EXPECT_EQ(image.bitsPerPixel, 24);
  // G R / B G, as blue, green, red: the first two pixels of rows 0 and 1
  // take neighbours above or to the left from the border.
  const std::vector<uint8_t> corner(image.data, image.data + 6);
  EXPECT_EQ(corner, (std::vector<uint8_t>{30, 10, 20, 50, 27, 20}));
  const uint8_t* row1 = image.data + 512 * 3;
  EXPECT_EQ(std::vector<uint8_t>(row1, row1 + 6), (std::vector<uint8_t>{30, 15, 11, 50, 40, 11}));
  ImgBasic::ImgFree(&image);

  WriteFile(Path("m.bay"), withCells(BayFile(197632, 2, "EK", 2)));
  ConForm::FFInfo(Path("m.bay"), Basic::K_AUTO, &info, nullptr, nullptr);
  EXPECT_EQ(info.picture.videoCompression, "HR (monochrome)");
  EXPECT_EQ(info.picture.fps, 500);
  ASSERT_TRUE(Load(Path("m.bay"), &image));
  EXPECT_EQ(image.bitsPerPixel, 8);
  EXPECT_EQ(image.palette[3 * 9], 9);
  for (const auto& [y, first] :
       {std::tuple{0, std::vector<uint8_t>{10, 20, 50, 60, 100}}, {1, {30, 40, 70, 80, 100}},
        {2, {1, 2, 100}}, {3, {3, 4, 100}}}) {
    const uint8_t* row = image.data + y * 512;
    EXPECT_EQ(std::vector<uint8_t>(row, row + first.size()), first) << "row " << y;
  }
  ImgBasic::ImgFree(&image);

  WriteFile(Path("u.bay"), BayFile(74752, 3, "RO", 9));
  ConForm::FFInfo(Path("u.bay"), Basic::K_AUTO, &info, nullptr, nullptr);
  EXPECT_TRUE(info.picture.hasPictures);
  EXPECT_FALSE(info.picture.picturesReadable);
  EXPECT_EQ(info.picture.fps, 0);
  ExpectLoadError(Path("u.bay"), 7, 1);

  // The exposure codes at both ends of each camera's table, and past them.
  for (const auto& [camera, code, fps] :
       {std::tuple{"ML", 1, 30.0}, {"ML", 7, 2000.0}, {"ML", 8, 0.0}, {"ML", 0, 0.0},
        {"EK", 1, 250.0}, {"RO", 3, 1000.0}, {"EK", 4, 0.0}}) {
    WriteFile(Path("x.bay"), BayFile(74752, 1, camera, code));
    ConForm::FFInfo(Path("x.bay"), Basic::K_AUTO, &info, nullptr, nullptr);
    EXPECT_EQ(info.picture.fps, fps) << camera << " " << code;
  }

  WriteFile(Path("p.bay"), BayFile(307200, 0, "", 0));
  ConForm::FFInfo(Path("p.bay"), Basic::K_AUTO, &info, nullptr, nullptr);
  EXPECT_EQ(info.picture.videoCompression, " (color)");
  EXPECT_EQ(info.picture.width, 640);

  WriteFile(Path("odd.bay"), Bytes(1000, 1));
  ExpectLoadError(Path("odd.bay"), 7, 2);
  Bytes noTag = BayFile(74752, 1, "ML", 1);
  noTag[74752 - 1024 + 3] = 'X';
  WriteFile(Path("notag.bay"), noTag);
  ExpectLoadError(Path("notag.bay"), 7, 2);
}

TEST(Bay, UniformPlaneGivesUniformGreyEvenAtBorders) {
  for (int type = 0; type < 4; type++) {
    std::vector<uint8_t> samples(6 * 4, 90), out(6 * 4 * 3, 0);
    FF_BAY::BayDecode(samples.data(), out.data(), 6, true, type, 4);
    for (uint8_t v : out) ASSERT_EQ(v, 90) << type;
  }
}

TEST(Bay, InterpolationOfAKnownCell) {
  // Type 2 (R G / G B) on 4 x 4, samples numbered: pixel (1,1) is blue, its
  // red comes from the four diagonals and its green from the cross.
  std::vector<uint8_t> s(16), out(48);
  for (int i = 0; i < 16; i++) s[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 10);
  FF_BAY::BayDecode(s.data(), out.data(), 4, true, FF_BAY::kBayerRGGB, 4);
  const uint8_t* p = &out[(1 * 4 + 1) * 3];
  EXPECT_EQ(p[0], 50);                              // own blue
  EXPECT_EQ(p[1], (10 + 90 + 40 + 60) >> 2);        // green, cross
  EXPECT_EQ(p[2], (0 + 20 + 80 + 100) >> 2);        // red, diagonals
  const uint8_t* q = &out[(1 * 4 + 2) * 3];          // (2,1): green
  EXPECT_EQ(q[1], 60);
  EXPECT_EQ(q[0], (50 + 70) >> 1);                  // blue, left + right
  EXPECT_EQ(q[2], (20 + 100) >> 1);                 // red, above + below
  // The border copies on the same numbered samples, for each row phase:
  // every edge pixel takes some of its neighbours from them.
  EXPECT_EQ(out, (std::vector<uint8_t>{
                     50, 25, 0, 50, 10, 10, 60, 32, 20, 70, 30, 20,
                     50, 40, 40, 50, 50, 50, 60, 60, 60, 70, 57, 60,
                     90, 92, 80, 90, 90, 90, 100, 100, 100, 110, 110, 100,
                     130, 120, 80, 130, 117, 90, 140, 140, 100, 150, 125, 100}));
  FF_BAY::BayDecode(s.data(), out.data(), 4, true, FF_BAY::kBayerGRBG, 4);
  EXPECT_EQ(out, (std::vector<uint8_t>{
                     40, 0, 10, 50, 17, 10, 60, 20, 20, 60, 45, 30,
                     40, 32, 50, 50, 50, 50, 60, 60, 60, 60, 70, 70,
                     80, 80, 90, 90, 90, 90, 100, 100, 100, 100, 117, 110,
                     120, 105, 90, 130, 130, 90, 140, 132, 100, 140, 150, 110}));
}

TEST(Bay, CellOrderAndCallerChecks) {
  const uint8_t cells[8] = {1, 2, 5, 6, 3, 4, 7, 8};
  uint8_t rows[8];
  FF_BAY::FixCmpsData(cells, rows, 4, 2);
  const uint8_t expect[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(0, std::memcmp(rows, expect, 8));
  uint8_t out[64];
  EXPECT_THROW(FF_BAY::BayDecode(cells, out, 3, true, 1, 2), Errors::EMon);
  EXPECT_THROW(FF_BAY::BayDecode(cells, out, 4, true, 5, 2), Errors::EMon);
  EXPECT_THROW(FF_BAY::BayDecode(cells, out, 0, true, 1, 0), Errors::EMon);
  uint8_t buffer[12];
  WriteFile(Path("l.bay"), BayFile(197632, 1, "ML", 1));
  EXPECT_EQ(FF_BAY::BayGetHdr(Path("l.bay"), buffer, 12), 12);
  EXPECT_EQ(std::memcmp(buffer + 3, "BAY 2", 5), 0);
  EXPECT_THROW(FF_BAY::BayGetHdr(Path("l.bay"), buffer, 0), Errors::EMon);
  EXPECT_THROW(FF_BAY::BayGetHdr(Path("c2.bay"), buffer, 12), Errors::EMon);
  WriteFile(Path("s.bay"), Bytes(50, 1));
  ImgBasic::Qimg image;
  EXPECT_THROW(FF_BAY::BayLoadCustom(Path("s.bay"), &image, 8, true, 1, 8), Errors::EMon);
  EXPECT_EQ(Errors::ErrCode(), 2);
  FF_BAY::BayLoadCustom(Path("s.bay"), &image, 4, true, 4, 2);
  EXPECT_EQ(image.bitsPerPixel, 8);
  ImgBasic::ImgFree(&image);
}
