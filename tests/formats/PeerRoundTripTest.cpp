// Round trips against other programs, both ways, pixels compared exactly:
// files the library writes are read by ImageMagick and netpbm, and files
// they write are read by the library. Each test skips when its peer is
// absent.
//
// This ImageMagick writes and reads TGA rows in the wrong order (descriptor
// 0 with top-down rows) and takes encoded Sun raster files as R,G,B, so the
// netpbm converters are the peers for those.
#include <gtest/gtest.h>

#include "formats/FF_PNM.h"
#include "formats/FF_RAS.h"
#include "formats/FF_SGI.h"
#include "FormatTestUtil.h"

using namespace fmttest;

namespace {

// Writes the picture at the given depth through the library.
void SaveAs(const Rgb& pic, int32_t bits, const std::string& path) {
  ImgBasic::Qimg image;
  ToQimg(pic, bits, &image);
  ASSERT_TRUE(Save(path, &image)) << path << ": " << Errors::ErrLastText();
  ImgBasic::ImgFree(&image);
}

// What a depth keeps of a picture.
Rgb Expected(const Rgb& pic, int32_t bits) {
  return bits == 15 ? TopBits(pic, 5) : pic;
}

void ExpectPeerReads(const std::string& command, const Rgb& expect, int32_t bits) {
  Rgb got;
  ASSERT_TRUE(PeerRead(command, &got)) << command;
  EXPECT_EQ(bits == 15 ? TopBits(got, 5) : got, Expected(expect, bits)) << command;
}

void ExpectMagickReads(const std::string& path, const Rgb& expect, int32_t bits) {
  Rgb got;
  ASSERT_TRUE(MagickRead(path, &got)) << path;
  EXPECT_EQ(bits == 15 ? TopBits(got, 5) : got, Expected(expect, bits)) << path;
}

// A peer command writes `out` from `in`; the library must read the picture.
void ExpectLibraryReads(const std::string& command, const std::string& out,
                        const Rgb& expect) {
  ASSERT_EQ(Shell(command), 0) << command;
  EXPECT_EQ(LoadRgb(out), expect) << command;
}

const int32_t kOdd = 13, kRows = 7;

// Writes every depth with the encoding option off and on and has the peer
// (and ImageMagick, where it reads the encoding right) read each file.
void PeerReadsBothEncodings(void (*setEncoding)(int32_t), const std::string& ext,
                            const std::string& peer,
                            std::initializer_list<int32_t> depths,
                            bool magickPlain, bool magickEncoded) {
  for (int on = 0; on <= 1; on++) {
    setEncoding(on);
    for (int32_t bits : depths) {
      const Rgb src = bits == 8 ? FewColours(kOdd, kRows) : TestPicture(kOdd, kRows);
      const std::string path = Path("lib" + std::to_string(bits) + "." + ext);
      SaveAs(src, bits, path);
      ExpectPeerReads(peer + " " + path, src, bits);
      if ((on ? magickEncoded : magickPlain) && HaveTool("convert"))
        ExpectMagickReads(path, src, bits);
    }
  }
  setEncoding(1);
}

}  // namespace

// ---- BMP ------------------------------------------------------------------

TEST(PeerBmp, LibraryWritesEveryDepth) {
  REQUIRE_TOOL("bmptopnm");
  for (int32_t bits : {8, 15, 24, 32}) {
    const Rgb src = bits == 8 ? FewColours(kOdd, kRows) : TestPicture(kOdd, kRows);
    const std::string path = Path("lib" + std::to_string(bits) + ".bmp");
    SaveAs(src, bits, path);
    ExpectPeerReads("bmptopnm " + path, src, bits);
    if (HaveTool("convert")) ExpectMagickReads(path, src, bits);
  }
}

TEST(PeerBmp, LibraryReadsNetpbm) {
  REQUIRE_TOOL("ppmtobmp");
  const Rgb src = TestPicture(kOdd, kRows);
  WritePpm(Path("in.ppm"), src);
  ExpectLibraryReads("ppmtobmp " + Path("in.ppm") + " > " + Path("n24.bmp"), Path("n24.bmp"), src);
  const Rgb few = FewColours(kOdd, kRows);
  WritePpm(Path("few.ppm"), few);
  for (const char* bpp : {"8", "4"}) {
    const std::string out = Path(std::string("n") + bpp + ".bmp");
    ExpectLibraryReads("ppmtobmp -bpp " + std::string(bpp) + " " + Path("few.ppm") + " > " + out,
                       out, few);
  }
  Rgb bw = few;
  for (size_t i = 0; i < bw.rgb.size(); i += 3) {
    const uint8_t v = ((i / 3) % 3 == 0) ? 255 : 0;
    bw.rgb[i] = bw.rgb[i + 1] = bw.rgb[i + 2] = v;
  }
  WritePpm(Path("bw.ppm"), bw);
  ExpectLibraryReads("ppmtobmp -bpp 1 " + Path("bw.ppm") + " > " + Path("n1.bmp"), Path("n1.bmp"), bw);
  ExpectLibraryReads("ppmtobmp -os2 " + Path("few.ppm") + " > " + Path("os2.bmp"), Path("os2.bmp"), few);
}

TEST(PeerBmp, LibraryReadsMagickPlainAndRle8) {
  REQUIRE_TOOL("convert");
  const Rgb src = TestPicture(kOdd, kRows);
  WritePpm(Path("in.ppm"), src);
  ExpectLibraryReads("convert " + Path("in.ppm") + " bmp3:" + Path("m24.bmp"), Path("m24.bmp"), src);
  // RLE8 from another writer: runs, literals of odd length, end-of-line.
  const Rgb few = FewColours(kOdd, kRows);
  WritePpm(Path("few.ppm"), few);
  const std::string rle = Path("m8rle.bmp");
  ASSERT_EQ(Shell("convert " + Path("few.ppm") + " -type Palette -compress RLE bmp3:" + rle), 0);
  const Bytes f = ReadFile(rle);
  ASSERT_GT(f.size(), 34u);
  ASSERT_EQ(f[30], 1) << "not an RLE8 file";
  EXPECT_EQ(LoadRgb(rle), few);
}

TEST(PeerBmp, Rle8DeltaAndOddLiteralsReadAlike) {
  REQUIRE_TOOL("convert");
  // 5 x 3: a delta skipping into the middle row, odd and even literals,
  // runs, end of line and end of bitmap.
  Bytes f = {'B', 'M'};
  Put32L(f, 0);
  Put32L(f, 0);
  Put32L(f, 54 + 1024);
  Put32L(f, 40);
  Put32L(f, 5);
  Put32L(f, 3);
  Put16L(f, 1);
  Put16L(f, 8);
  Put32L(f, 1);
  for (int i = 0; i < 5; i++) Put32L(f, 0);
  for (int i = 0; i < 256; i++)
    f.insert(f.end(), {static_cast<uint8_t>(i * 3), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i), 0});
  f.insert(f.end(), {0, 3, 10, 20, 30, 0, 2, 40, 0, 0,   // row 0
                     0, 2, 2, 0, 3, 50, 0, 0,            // delta to (2,1), run
                     0, 4, 1, 2, 3, 4, 1, 60, 0, 1});     // row 2
  const uint32_t fileSize = static_cast<uint32_t>(f.size());
  for (int k = 0; k < 4; k++) {
    f[2 + k] = static_cast<uint8_t>(fileSize >> (8 * k));
    f[34 + k] = static_cast<uint8_t>((fileSize - 54 - 1024) >> (8 * k));
  }
  f[46] = 0;
  f[47] = 1;  // 256 colours used
  WriteFile(Path("hand_rle8.bmp"), f);
  Rgb peer;
  ASSERT_TRUE(MagickRead(Path("hand_rle8.bmp"), &peer));
  EXPECT_EQ(LoadRgb(Path("hand_rle8.bmp")), peer);
}

// ---- TGA ------------------------------------------------------------------

TEST(PeerTga, LibraryWritesEveryDepthBothEncodings) {
  REQUIRE_TOOL("tgatoppm");
  PeerReadsBothEncodings(ConForm::TGASetCompression, "tga", "tgatoppm",
                         {8, 15, 24, 32}, false, false);
}

TEST(PeerTga, LibraryReadsNetpbm) {
  REQUIRE_TOOL("pamtotga");
  const Rgb src = TestPicture(kOdd, kRows);
  const Rgb few = FewColours(kOdd, kRows);
  WritePpm(Path("in.ppm"), src);
  WritePpm(Path("few.ppm"), few);
  for (const char* rle : {"-norle", ""}) {
    const std::string opt = rle;
    ExpectLibraryReads("pamtotga -rgb " + opt + " " + Path("in.ppm") + " > " + Path("n24.tga"),
                       Path("n24.tga"), src);
    ExpectLibraryReads("pamtotga -cmap " + opt + " " + Path("few.ppm") + " > " + Path("n8.tga"),
                       Path("n8.tga"), few);
  }
}

TEST(PeerTga, EightBitsWith15BitMapReadAlike) {
  REQUIRE_TOOL("tgatoppm");
  // 4 x 2, colour-mapped, an image ID field, a 15-bit map of 16 entries
  // starting at index 0, rows bottom-up.
  Bytes f = {5, 1, 1, 0, 0, 16, 0, 15, 0, 0, 0, 0, 4, 0, 2, 0, 8, 0};
  f.insert(f.end(), {'i', 'd', 'e', 'n', 't'});
  for (int i = 0; i < 16; i++) Put16L(f, static_cast<uint32_t>((i * 2) | ((31 - i) << 5) | ((i * 7 % 32) << 10)));
  f.insert(f.end(), {0, 1, 2, 3, 15, 14, 13, 12});
  WriteFile(Path("map15.tga"), f);
  Rgb peer;
  ASSERT_TRUE(PeerRead("tgatoppm " + Path("map15.tga"), &peer));
  EXPECT_EQ(LoadRgb(Path("map15.tga")), TopBits(peer, 5));
}

// Pixels stored right to left (descriptor bit 4), with either row order:
// ImageMagick's files with that origin, and the library's own files of
// every depth and encoding with the bit set, read as ffmpeg shows them.
TEST(PeerTga, RightToLeftReadsAsFfmpegShowsIt) {
  REQUIRE_TOOL("ffmpeg");
  const auto expectAsFfmpeg = [](const std::string& path, int32_t bits) {
    Rgb peer;
    ASSERT_TRUE(PeerRead("ffmpeg -nostdin -v error -i " + path + " -f image2pipe -c:v ppm -", &peer))
        << path;
    const Rgb ours = LoadRgb(path);
    EXPECT_EQ(bits == 15 ? TopBits(ours, 5) : ours, bits == 15 ? TopBits(peer, 5) : peer)
        << path;
  };
  const Rgb src = TestPicture(kOdd, kRows);
  const Rgb few = FewColours(kOdd, kRows);
  if (HaveTool("convert")) {
    WritePpm(Path("in.ppm"), src);
    WritePpm(Path("few.ppm"), few);
    for (const char* orient : {"TopRight", "BottomRight"})
      for (const char* kind : {"-type Palette", "-type TrueColor", "-alpha set"})
        for (const char* coding : {"None", "RLE"}) {
          const std::string out = Path("m_right.tga");
          const std::string in = Path(std::string(kind) == "-type Palette" ? "few.ppm" : "in.ppm");
          ASSERT_EQ(Shell("convert " + in + " " + kind + " -orient " + orient + " -compress " +
                          coding + " " + out),
                    0);
          ASSERT_EQ(ReadFile(out)[17] & 0x10, 0x10) << orient;
          expectAsFfmpeg(out, 24);
        }
  }
  for (int rle = 0; rle <= 1; rle++) {
    ConForm::TGASetCompression(rle);
    for (int32_t bits : {8, 15, 24, 32}) {
      const std::string path = Path("lib_right" + std::to_string(bits) + ".tga");
      SaveAs(bits == 8 ? few : src, bits, path);
      Bytes f = ReadFile(path);
      f[17] |= 0x10;
      WriteFile(path, f);
      expectAsFfmpeg(path, bits);
    }
  }
  ConForm::TGASetCompression(1);
}

// ---- PCX ------------------------------------------------------------------

TEST(PeerPcx, LibraryWritesOddWidths) {
  REQUIRE_TOOL("pcxtoppm");
  for (int32_t bits : {8, 24}) {
    for (int32_t width : {kOdd, 14}) {
      const Rgb src = bits == 8 ? FewColours(width, kRows) : TestPicture(width, kRows);
      const std::string path = Path("lib" + std::to_string(bits) + ".pcx");
      SaveAs(src, bits, path);
      ExpectPeerReads("pcxtoppm " + path, src, bits);
      if (HaveTool("convert")) ExpectMagickReads(path, src, bits);
    }
  }
}

TEST(PeerPcx, LibraryReadsOtherWriters) {
  REQUIRE_TOOL("ppmtopcx");
  const Rgb src = TestPicture(kOdd, kRows);
  const Rgb few = FewColours(kOdd, kRows);
  WritePpm(Path("in.ppm"), src);
  WritePpm(Path("few.ppm"), few);
  ExpectLibraryReads("ppmtopcx -24bit " + Path("in.ppm") + " > " + Path("n24.pcx"), Path("n24.pcx"), src);
  ExpectLibraryReads("ppmtopcx -8bit " + Path("few.ppm") + " > " + Path("n8.pcx"), Path("n8.pcx"), few);
  if (HaveTool("convert")) {
    ExpectLibraryReads("convert " + Path("in.ppm") + " " + Path("m24.pcx"), Path("m24.pcx"), src);
    ExpectLibraryReads("convert " + Path("few.ppm") + " -type Palette " + Path("m8.pcx"),
                       Path("m8.pcx"), few);
  }
}

// ---- SGI ------------------------------------------------------------------

TEST(PeerSgi, LibraryWritesBothEncodings) {
  REQUIRE_TOOL("sgitopnm");
  PeerReadsBothEncodings(FF_SGI::SGISetCompression, "sgi", "sgitopnm",
                         {8, 24, 32}, true, true);
}

TEST(PeerSgi, LibraryReadsOtherWriters) {
  REQUIRE_TOOL("pnmtosgi");
  const Rgb src = TestPicture(kOdd, kRows);
  const Rgb grey = GreyPicture(kOdd, kRows);
  WritePpm(Path("in.ppm"), src);
  WritePgm(Path("grey.pgm"), grey);
  for (const char* mode : {"-rle", "-verbatim"}) {
    const std::string m = mode;
    ExpectLibraryReads("pnmtosgi " + m + " " + Path("in.ppm") + " > " + Path("n.sgi"), Path("n.sgi"), src);
    ExpectLibraryReads("pnmtosgi " + m + " " + Path("grey.pgm") + " > " + Path("g.sgi"), Path("g.sgi"), grey);
  }
  if (HaveTool("convert"))
    ExpectLibraryReads("convert " + Path("in.ppm") + " " + Path("m.sgi"), Path("m.sgi"), src);
}

// ---- Sun raster -----------------------------------------------------------

TEST(PeerRas, LibraryWritesBothEncodings) {
  REQUIRE_TOOL("rasttopnm");
  PeerReadsBothEncodings(FF_RAS::RASSetCompression, "ras", "rasttopnm",
                         {8, 24, 32}, true, false);
}

TEST(PeerRas, LibraryReadsOtherWriters) {
  REQUIRE_TOOL("pnmtorast");
  const Rgb src = TestPicture(kOdd, kRows);
  const Rgb few = FewColours(kOdd, kRows);
  WritePpm(Path("in.ppm"), src);
  WritePpm(Path("few.ppm"), few);
  for (const char* mode : {"-rle", "-standard"}) {
    const std::string m = mode;
    ExpectLibraryReads("pnmtorast " + m + " " + Path("in.ppm") + " > " + Path("n24.ras"), Path("n24.ras"), src);
    ExpectLibraryReads("pnmtorast " + m + " " + Path("few.ppm") + " > " + Path("n8.ras"), Path("n8.ras"), few);
  }
  if (HaveTool("convert")) {
    ExpectLibraryReads("convert " + Path("in.ppm") + " " + Path("m24.ras"), Path("m24.ras"), src);
    ExpectLibraryReads("convert " + Path("few.ppm") + " -type Palette " + Path("m8.ras"), Path("m8.ras"), few);
  }
}

// ---- PNM ------------------------------------------------------------------

TEST(PeerPnm, LibraryWritesBinaryAndAscii) {
  REQUIRE_TOOL("convert");
  const Rgb src = TestPicture(kOdd, kRows);
  for (int ascii = 0; ascii <= 1; ascii++) {
    FF_PNM::PNMSetEncoding(ascii);
    SaveAs(src, 24, Path("lib.ppm"));
    ExpectMagickReads(Path("lib.ppm"), src, 24);
    if (HaveTool("pamfile")) {
      ASSERT_EQ(Shell("pamfile " + Path("lib.ppm") + " > " + Path("pamfile.txt")), 0);
      const Bytes t = ReadFile(Path("pamfile.txt"));
      const std::string text(t.begin(), t.end());
      EXPECT_NE(text.find(ascii ? "plain" : "raw"), std::string::npos) << text;
      EXPECT_NE(text.find("13 by 7"), std::string::npos) << text;
    }
  }
  FF_PNM::PNMSetEncoding(0);
}

TEST(PeerPnm, LibraryReadsOtherWriters) {
  REQUIRE_TOOL("convert");
  const Rgb src = TestPicture(kOdd, kRows);
  const Rgb grey = GreyPicture(kOdd, kRows);
  WritePpm(Path("in.ppm"), src);
  WritePgm(Path("grey.pgm"), grey);
  ExpectLibraryReads("convert " + Path("in.ppm") + " -compress none " + Path("a.ppm"), Path("a.ppm"), src);
  ExpectLibraryReads("convert " + Path("grey.pgm") + " -compress none " + Path("a.pgm"), Path("a.pgm"), grey);
  ExpectLibraryReads("convert " + Path("grey.pgm") + " " + Path("b.pgm"), Path("b.pgm"), grey);
  if (HaveTool("pnmtoplainpnm"))
    ExpectLibraryReads("pnmtoplainpnm " + Path("in.ppm") + " > " + Path("plain.pnm"), Path("plain.pnm"), src);
}
