// The qorconv test tool: its file-information listing, conversions between
// every still format, frames of numbered sequences, depth and codec options
// and its errors; the codec-library formats both ways against the peer.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cmath>

#include "FormatTestUtil.h"
#include "formats/FF_TIF.h"
#include "platform/MediaTools.h"

using namespace fmttest;

namespace {

std::string Tool() {
  char self[PATH_MAX] = {};
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  std::string dir(self, static_cast<size_t>(n));
  dir = dir.substr(0, dir.find_last_of('/'));
  const std::string tool = dir + "/qorconv";
  return access(tool.c_str(), X_OK) == 0 ? tool : "";
}

#define REQUIRE_QORCONV()                                   \
  const std::string tool = Tool();                          \
  if (tool.empty()) GTEST_SKIP() << "qorconv not built"

struct Result {
  int code = -1;
  std::string out, err;
};

Result Qorconv(const std::string& tool, const std::string& args) {
  Result r;
  const std::string out = Path("qorconv.out"), err = Path("qorconv.err");
  const int status = std::system((tool + " " + args + " > " + out + " 2> " + err).c_str());
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  const Bytes o = ReadFile(out), e = ReadFile(err);
  r.out.assign(o.begin(), o.end());
  r.err.assign(e.begin(), e.end());
  return r;
}

}  // namespace

// The tool is a host like any other: it needs the shared library, holds
// none of the library's own code and calls only its exports.
TEST(Qorconv, UsesTheSharedLibraryOnly) {
  REQUIRE_QORCONV();
  REQUIRE_TOOL("readelf");
  REQUIRE_TOOL("nm");
  auto output = [](const std::string& command) {
    const std::string file = Path("listing.txt");
    Shell(command + " > " + file);
    const Bytes b = ReadFile(file);
    return std::string(b.begin(), b.end());
  };
  EXPECT_NE(output("readelf -d " + tool).find("[libqor-2.8.0.so]"), std::string::npos);
  const std::string defined = output("nm -C --defined-only " + tool);
  for (const char* unit : {"ConForm::", "ImgBasic::", "Errors::", "QorMain::", "Basic::"})
    EXPECT_EQ(defined.find(unit), std::string::npos) << unit;
  const std::string imported = output("nm -D --undefined-only " + tool);
  for (const char* name : {"QorGetFileInfo", "QorImgLoadSingle", "QorImgSaveSingle",
                           "QorConvert", "QorMakeErrorStr"})
    EXPECT_NE(imported.find(name), std::string::npos) << name;
}

TEST(Qorconv, InfoListsTheRecord) {
  REQUIRE_QORCONV();
  ImgBasic::Qimg image;
  ToQimg(TestPicture(9, 4), 24, &image);
  ASSERT_TRUE(Save(Path("info.sgi"), &image));
  ImgBasic::ImgFree(&image);
  const Result r = Qorconv(tool, "--info " + Path("info.sgi"));
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* line : {"format=13\n", "width=9\n", "height=4\n", "bits=24\n",
                           "frames=1\n", "fps=0\n", "samples=0\n", "rate=0\n",
                           "channels=0\n", "sample_bits=0\n",
                           "compression=Run Length Encoding (RLE)\n"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
}

TEST(Qorconv, InfoOfBadFileFails) {
  REQUIRE_QORCONV();
  // A PCX header with an encoding other than 1 is described, not readable.
  WriteFile(Path("odd.pcx"), Bytes(200, 10));
  Result r = Qorconv(tool, "--info " + Path("odd.pcx"));
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("readable=0\n"), std::string::npos) << r.out;
  // Loading a frame of it: the source layer has no readable pictures.
  r = Qorconv(tool, Path("odd.pcx") + " " + Path("odd.bmp"));
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "Movie format not supported.\n");
  EXPECT_FALSE(Basic::FileExists(Path("odd.bmp")));
  // Bytes no reader accepts (a grey TGA among them), and a missing file:
  // the interface gives the one error for both, the tool tells them apart.
  WriteFile(Path("bad.pcx"), Bytes(200, 0x55));
  Bytes grey(18, 0);
  grey[2] = 3;
  grey[12] = grey[14] = 1;
  grey[16] = 8;
  grey.push_back(90);
  WriteFile(Path("grey.tga"), grey);
  for (const char* name : {"bad.pcx", "grey.tga", "missing.bmp"}) {
    r = Qorconv(tool, "--info " + Path(name));
    EXPECT_EQ(r.code, 1) << name;
    EXPECT_EQ(r.err, Path(name) + (name[0] == 'm' ? ": File not exist.\n"
                                                  : ": no reader takes this file (File not exist.)\n"));
    EXPECT_EQ(r.out, "") << name;
  }
  r = Qorconv(tool, Path("grey.tga") + " " + Path("grey.bmp"));
  EXPECT_EQ(r.err, Path("grey.tga") + ": no reader takes this file (File not exist.)\n");
  EXPECT_FALSE(Basic::FileExists(Path("grey.bmp")));
}

TEST(Qorconv, ConvertsBetweenEveryStillFormat) {
  REQUIRE_QORCONV();
  const Rgb src = TestPicture(11, 6);
  WritePpm(Path("src.ppm"), src);
  const char* exts[] = {"bmp", "tga", "pcx", "sgi", "rgb", "ras", "sun", "pnm", "ppm"};
  for (const char* a : exts) {
    const std::string first = Path(std::string("a.") + a);
    Result r = Qorconv(tool, Path("src.ppm") + " " + first);
    ASSERT_EQ(r.code, 0) << a << r.err;
    for (const char* b : exts) {
      const std::string second = Path(std::string("b.") + b);
      r = Qorconv(tool, first + " " + second);
      ASSERT_EQ(r.code, 0) << a << "->" << b << r.err;
      EXPECT_EQ(LoadRgb(second), src) << a << "->" << b;
    }
  }
}

TEST(Qorconv, FramesOfANumberedSequence) {
  REQUIRE_QORCONV();
  for (int i = 1; i <= 3; i++) {
    ImgBasic::Qimg image;
    ToQimg(TestPicture(4, 4, static_cast<uint32_t>(i)), 24, &image);
    ASSERT_TRUE(Save(Path("seq_0" + std::to_string(i) + ".tga"), &image));
    ImgBasic::ImgFree(&image);
  }
  Result r = Qorconv(tool, "--info " + Path("seq_01.tga"));
  EXPECT_NE(r.out.find("frames=3\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("kind=2\n"), std::string::npos) << r.out;
  r = Qorconv(tool, Path("seq_01.tga") + " " + Path("third.bmp") + " 3");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(LoadRgb(Path("third.bmp")), TestPicture(4, 4, 3));
  r = Qorconv(tool, Path("seq_01.tga") + " " + Path("fourth.bmp") + " 4");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "Out of range.\n");
}

TEST(Qorconv, DepthOptions) {
  REQUIRE_QORCONV();
  const Rgb src = TestPicture(5, 3);
  WritePpm(Path("d.ppm"), src);
  Result r = Qorconv(tool, "--bits 15 " + Path("d.ppm") + " " + Path("d15.bmp"));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadFile(Path("d15.bmp"))[28], 16);
  EXPECT_EQ(LoadRgb(Path("d15.bmp")), TopBits(src, 5));
  r = Qorconv(tool, "--bits 32 " + Path("d.ppm") + " " + Path("d32.tga"));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadFile(Path("d32.tga"))[16], 32);
  EXPECT_EQ(LoadRgb(Path("d32.tga")), src);
  // 8 bits go through the optimised palette, whose entries are the mean
  // colours of what they stand for: a picture of few colours keeps them
  // exactly, with or without dithering.
  const Rgb few = FewColours(5, 3);
  WritePpm(Path("few.ppm"), few);
  for (const char* dither : {"0", "1", "2"}) {
    r = Qorconv(tool, std::string("--bits 8 --dither ") + dither + " " +
                          Path("few.ppm") + " " + Path("d8.bmp"));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadFile(Path("d8.bmp"))[28], 8);
    EXPECT_EQ(LoadRgb(Path("d8.bmp")), few) << dither;
  }
}

TEST(Qorconv, NearestResizesToTheNearestPixels) {
  REQUIRE_QORCONV();
  const Rgb src = TestPicture(2, 2);
  WritePpm(Path("s.ppm"), src);
  const Result r =
      Qorconv(tool, "--nearest --size 4x3 " + Path("s.ppm") + " " + Path("s.tga"));
  ASSERT_EQ(r.code, 0) << r.err;
  const Rgb out = LoadRgb(Path("s.tga"));
  ASSERT_EQ(out.width, 4);
  ASSERT_EQ(out.height, 3);
  // Nearest pixels: columns 0 0 1 1, rows 0 0 1.
  const int cols[4] = {0, 0, 1, 1}, rows[3] = {0, 0, 1};
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 4; x++)
      for (int c = 0; c < 3; c++)
        EXPECT_EQ(out.rgb[(y * 4 + x) * 3 + c], src.rgb[(rows[y] * 2 + cols[x]) * 3 + c])
            << x << "," << y;
}

namespace {

double Psnr(const Rgb& a, const Rgb& b) {
  if (a.width != b.width || a.height != b.height || a.rgb.empty()) return 0;
  return MediaTools::Psnr(a.rgb.data(), b.rgb.data(), a.rgb.size());
}

// A resized picture against the exact mean of each 2x2 block of its source,
// beside ImageMagick's -resize of the same source: at most 1 dB below it.
// Nearest pixels, which drop three pixels of four, fall well below.
void ExpectResizedLikeImageMagick(const std::string& source, const std::string& smooth,
                                  const std::string& nearest) {
  Rgb magick, box, ours, blocky;
  ASSERT_EQ(Shell("convert " + source + " -resize 320x240! " + Path("im.ppm")), 0);
  ASSERT_EQ(Shell("convert " + source + " -filter box -resize 320x240! " + Path("box.ppm")), 0);
  ASSERT_TRUE(MagickRead(Path("im.ppm"), &magick));
  ASSERT_TRUE(MagickRead(Path("box.ppm"), &box));
  ASSERT_TRUE(MagickRead(smooth, &ours));
  ASSERT_TRUE(MagickRead(nearest, &blocky));
  const double theirs = Psnr(magick, box);
  EXPECT_GE(Psnr(ours, box), theirs - 1.0) << "ImageMagick " << theirs;
  EXPECT_LT(Psnr(blocky, box), theirs - 5.0) << "ImageMagick " << theirs;
}

}  // namespace

// --size resamples smoothly, a still through the image export and a movie's
// frames through the conversion.
TEST(Qorconv, SizeResamplesLikeImageMagick) {
  REQUIRE_QORCONV();
  REQUIRE_TOOL("convert");
  const std::string still = Path("logo.ppm");
  ASSERT_EQ(Shell("convert logo: -resize 640x480! " + still), 0);
  for (const char* way : {"", "--nearest "})
    ASSERT_EQ(Qorconv(tool, std::string(way) + "--size 320x240 " + still + " " +
                                Path(*way ? "near.ppm" : "smooth.ppm")).code, 0);
  {
    SCOPED_TRACE("still");
    ExpectResizedLikeImageMagick(still, Path("smooth.ppm"), Path("near.ppm"));
  }
  if (!HaveTool("ffmpeg")) return;
  const std::string movie = Path("movie.avi");
  ASSERT_EQ(Shell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=640x480:rate=10 -t 2 "
                  "-c:v mjpeg -q:v 3 " + movie), 0);
  for (const char* way : {"", "--nearest "}) {
    const std::string kwb = Path(*way ? "near.kwb" : "smooth.kwb");
    ASSERT_EQ(Qorconv(tool, std::string(way) + "--size 320x240 " + movie + " " + kwb).code, 0);
    ASSERT_EQ(Qorconv(tool, kwb + " " + Path(*way ? "near15.ppm" : "smooth15.ppm") + " 15").code,
              0);
  }
  ASSERT_EQ(Qorconv(tool, movie + " " + Path("source15.ppm") + " 15").code, 0);
  SCOPED_TRACE("movie frame");
  ExpectResizedLikeImageMagick(Path("source15.ppm"), Path("smooth15.ppm"), Path("near15.ppm"));
}

TEST(Qorconv, OptionErrors) {
  REQUIRE_QORCONV();
  WritePpm(Path("o.ppm"), TestPicture(2, 2));
  EXPECT_EQ(Qorconv(tool, "").code, 1);
  EXPECT_EQ(Qorconv(tool, "--bits 12 " + Path("o.ppm") + " " + Path("o.bmp")).code, 1);
  EXPECT_EQ(Qorconv(tool, "--dither 3 " + Path("o.ppm") + " " + Path("o.bmp")).code, 1);
  EXPECT_EQ(Qorconv(tool, "--size 4by3 " + Path("o.ppm") + " " + Path("o.bmp")).code, 1);
  EXPECT_EQ(Qorconv(tool, Path("o.ppm") + " " + Path("o.bmp") + " 0").code, 1);
  // No writer takes the extension: the output is of no kind the library
  // writes.
  const Result r = Qorconv(tool, Path("o.ppm") + " " + Path("o.gif"));
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "UNI protocol fault.\n");
  EXPECT_FALSE(Basic::FileExists(Path("o.gif")));
}

TEST(Qorconv, PeersReadItsOutput) {
  REQUIRE_QORCONV();
  REQUIRE_TOOL("convert");
  const Rgb src = TestPicture(9, 5);
  WritePpm(Path("p.ppm"), src);
  ASSERT_EQ(Shell("convert " + Path("p.ppm") + " " + Path("p_im.sgi")), 0);
  for (const char* ext : {"bmp", "pcx", "sgi", "ppm"}) {
    const std::string out = Path(std::string("p_out.") + ext);
    const Result r = Qorconv(tool, Path("p_im.sgi") + " " + out);
    ASSERT_EQ(r.code, 0) << r.err;
    Rgb got;
    ASSERT_TRUE(MagickRead(out, &got)) << ext;
    EXPECT_EQ(got, src) << ext;
  }
}

// ---- the codec-library formats ------------------------------------------------

namespace {

int MaxDiff(const Rgb& a, const Rgb& b) {
  if (a.width != b.width || a.height != b.height) return 256;
  int worst = 0;
  for (size_t i = 0; i < a.rgb.size(); i++)
    worst = std::max(worst, std::abs(a.rgb[i] - b.rgb[i]));
  return worst;
}

double Rms(const Rgb& a, const Rgb& b) {
  if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) return 1e9;
  double sum = 0;
  for (size_t i = 0; i < a.rgb.size(); i++) {
    const double d = a.rgb[i] - b.rgb[i];
    sum += d * d;
  }
  return std::sqrt(sum / static_cast<double>(a.rgb.size()));
}

// qorconv's own reading of a file, through a PPM it writes.
bool QorRead(const std::string& tool, const std::string& file, Rgb* out) {
  const std::string ppm = Path("qor_read.ppm");
  std::remove(ppm.c_str());
  const Result r = Qorconv(tool, file + " " + ppm);
  if (r.code != 0) {
    ADD_FAILURE() << file << ": " << r.err;
    return false;
  }
  return ParsePnm(ReadFile(ppm), out);
}

}  // namespace

// Both ways for each lossless codec format and each depth qorconv makes:
// what qorconv writes the peer reads as the picture, and what the peer
// writes qorconv reads as the picture.
TEST(QorconvCodecs, LosslessFormatsBothWaysAtEveryDepth) {
  REQUIRE_QORCONV();
  REQUIRE_TOOL("convert");
  const Rgb pic = TestPicture(23, 9);
  const Rgb few = FewColours(23, 9);
  WritePpm(Path("src.ppm"), pic);
  WritePpm(Path("few.ppm"), few);
  for (const char* ext : {"tif", "png", "xpm"}) {
    for (const char* bits : {"8", "15", "24", "32"}) {
      SCOPED_TRACE(std::string(ext) + " at " + bits);
      const bool eight = std::string(bits) == "8";
      const std::string out = Path(std::string("out.") + ext);
      const Result r = Qorconv(tool, std::string("--bits ") + bits + " " +
                                         Path(eight ? "few.ppm" : "src.ppm") + " " + out);
      ASSERT_EQ(r.code, 0) << r.err;
      // A picture of few colours keeps them at 8 bits; 15 bits keep 5 bits.
      const Rgb want = eight ? few : std::string(bits) == "15" ? TopBits(pic, 5) : pic;
      Rgb peer, ours;
      ASSERT_TRUE(MagickRead(out, &peer));
      EXPECT_EQ(MaxDiff(peer, want), 0);
      ASSERT_TRUE(QorRead(tool, out, &ours));
      EXPECT_EQ(ours, want);
    }
    // The peer's file of the same picture.
    SCOPED_TRACE(std::string("peer ") + ext);
    const std::string peerFile = Path(std::string("peer.") + ext);
    ASSERT_EQ(Shell("convert " + Path("src.ppm") + " " + peerFile), 0);
    Rgb ours;
    ASSERT_TRUE(QorRead(tool, peerFile, &ours));
    EXPECT_EQ(ours, pic);
  }
  // A 32-bit image of qorconv's depth conversion carries no alpha and is
  // written as opaque RGB (colour type 2), not as invisible pixels.
  ASSERT_EQ(Qorconv(tool, "--bits 32 " + Path("src.ppm") + " " + Path("o.png")).code, 0);
  EXPECT_EQ(ReadFile(Path("o.png"))[25], 2);
}

TEST(QorconvCodecs, EveryTiffCompression) {
  REQUIRE_QORCONV();
  REQUIRE_TOOL("convert");
  const Rgb pic = TestPicture(21, 10);
  WritePpm(Path("t.ppm"), pic);
  for (int compression : {1, 5, 32773, 32946, 7, 2, 3, 4, 6}) {
    SCOPED_TRACE(compression);
    const std::string out = Path("t.tif");
    const Result r = Qorconv(tool, "--compression " + std::to_string(compression) +
                                       " " + Path("t.ppm") + " " + out);
    ASSERT_EQ(r.code, 0) << r.err;
    // The compression tag written: 6 (old-style JPEG) is not written, the
    // file is uncompressed instead.
    uint16_t tag = 0;
    ASSERT_EQ(FF_TIF::TIFGetTag(out, 259, &tag, 2), 2);
    EXPECT_EQ(tag, compression == 6 ? 1 : compression);
    Rgb peer, ours;
    ASSERT_TRUE(MagickRead(out, &peer));
    ASSERT_TRUE(QorRead(tool, out, &ours));
    if (compression >= 2 && compression <= 4) {
      // Bilevel: each pixel black or white by its luma, alike for both.
      EXPECT_EQ(ours, peer);
      for (size_t i = 0; i < pic.rgb.size(); i += 3) {
        const uint32_t luma = (pic.rgb[i] * 9798u + pic.rgb[i + 1] * 19235u +
                               pic.rgb[i + 2] * 3735u) >> 15;
        ASSERT_EQ(ours.rgb[i], luma >= 128 ? 255 : 0) << i / 3;
      }
    } else if (compression == 7) {
      EXPECT_LE(MaxDiff(ours, peer), 2);
      EXPECT_LT(Rms(ours, pic), 40.0);
    } else {
      EXPECT_EQ(peer, pic);
      EXPECT_EQ(ours, pic);
    }
  }
}

// The error falls as the quality rises, stays near the peer's at the same
// quality, and both decoders read our files alike.
TEST(QorconvCodecs, JpegQuality) {
  REQUIRE_QORCONV();
  REQUIRE_TOOL("convert");
  // A smooth picture: JPEG's own kind of content.
  Rgb pic;
  pic.width = 48;
  pic.height = 32;
  for (int y = 0; y < 32; y++)
    for (int x = 0; x < 48; x++)
      pic.rgb.insert(pic.rgb.end(), {static_cast<uint8_t>(x * 5), static_cast<uint8_t>(y * 7),
                                     static_cast<uint8_t>((x + y) * 3)});
  WritePpm(Path("j.ppm"), pic);
  double last = 1e9;
  for (int quality : {10, 40, 75, 95}) {
    SCOPED_TRACE(quality);
    const std::string q = std::to_string(quality);
    ASSERT_EQ(Qorconv(tool, "--quality " + q + " " + Path("j.ppm") + " " + Path("j.jpg")).code, 0);
    ASSERT_EQ(Shell("convert " + Path("j.ppm") + " -quality " + q + " " + Path("jm.jpg")), 0);
    Rgb ours, peerOfOurs, peerFile;
    ASSERT_TRUE(QorRead(tool, Path("j.jpg"), &ours));
    ASSERT_TRUE(MagickRead(Path("j.jpg"), &peerOfOurs));
    ASSERT_TRUE(QorRead(tool, Path("jm.jpg"), &peerFile));
    EXPECT_LE(MaxDiff(ours, peerOfOurs), 2);
    const double err = Rms(ours, pic), peerErr = Rms(peerFile, pic);
    EXPECT_LT(err, last);
    EXPECT_LT(err, peerErr * 1.5 + 0.5) << err << " vs " << peerErr;
    last = err;
  }
  EXPECT_LT(last, 2.0);
}

TEST(QorconvCodecs, PngLevelsAndPeerKinds) {
  REQUIRE_QORCONV();
  REQUIRE_TOOL("convert");
  const Rgb pic = TestPicture(40, 20);
  WritePpm(Path("l.ppm"), pic);
  ASSERT_EQ(Qorconv(tool, "--level 0 " + Path("l.ppm") + " " + Path("l0.png")).code, 0);
  ASSERT_EQ(Qorconv(tool, "--level 9 " + Path("l.ppm") + " " + Path("l9.png")).code, 0);
  EXPECT_LT(ReadFile(Path("l9.png")).size(), ReadFile(Path("l0.png")).size());
  for (const char* f : {"l0.png", "l9.png"}) {
    Rgb peer;
    ASSERT_TRUE(MagickRead(Path(f), &peer));
    EXPECT_EQ(peer, pic) << f;
  }
  // Files of the peer: interlaced, a palette of fewer than 256 entries,
  // 16 bits a sample, grey, grey with alpha: qorconv sees what the peer sees.
  const Rgb few = FewColours(40, 20);
  WritePpm(Path("f.ppm"), few);
  struct Kind {
    const char* source;
    const char* options;
  } kinds[] = {{"l.ppm", "-interlace PNG"},
               {"f.ppm", "-define png:color-type=3"},
               {"l.ppm", "-depth 16"},
               {"l.ppm", "-colorspace Gray"},
               {"l.ppm", "-colorspace Gray -depth 16"},
               {"l.ppm", "-colorspace Gray -alpha set -define png:color-type=4"}};
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.options);
    const std::string file = Path("k.png");
    ASSERT_EQ(Shell("convert " + Path(k.source) + " " + k.options + " " + file), 0);
    Rgb peer, ours;
    ASSERT_TRUE(MagickRead(file, &peer));
    ASSERT_TRUE(QorRead(tool, file, &ours));
    // 16-bit samples: the peer rounds to 8 bits, the reader keeps the high byte.
    EXPECT_LE(MaxDiff(ours, peer), 1);
  }
}

TEST(QorconvCodecs, XpmNamedColoursNoneAndManyColours) {
  REQUIRE_QORCONV();
  WriteFile(Path("n.xpm"),
            [] {
              const std::string t =
                  "/* XPM */\nstatic char *n[] = {\n\"3 2 3 1\",\n"
                  "\"r c red\",\n\"b c #0000FF\",\n\". c None\",\n"
                  "\"rb.\",\n\".br\"};\n";
              return Bytes(t.begin(), t.end());
            }());
  Rgb ours;
  ASSERT_TRUE(QorRead(tool, Path("n.xpm"), &ours));
  // "None" (see-through) comes out black.
  EXPECT_EQ(ours.rgb, (Bytes{255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 0, 255, 255, 0, 0}));
  // More colours than a one-character table holds.
  const Rgb many = TestPicture(30, 20);
  WritePpm(Path("m.ppm"), many);
  ASSERT_EQ(Qorconv(tool, Path("m.ppm") + " " + Path("m.xpm")).code, 0);
  ASSERT_TRUE(QorRead(tool, Path("m.xpm"), &ours));
  EXPECT_EQ(ours, many);
  if (HaveTool("convert")) {
    Rgb peer;
    ASSERT_TRUE(MagickRead(Path("m.xpm"), &peer));
    EXPECT_EQ(peer, many);
  }
}

// A picture with alpha keeps it as TGA; XPM, whose writer takes 24 bits,
// drops it: the see-through half comes out opaque.
TEST(QorconvCodecs, XpmDropsAlpha) {
  REQUIRE_QORCONV();
  REQUIRE_TOOL("convert");
  const std::string png = Path("half.png");
  ASSERT_EQ(Shell("convert -size 8x6 xc:red -alpha set -channel A -fx 'i<4?0:1' +channel "
                  "-define png:color-type=6 " + png), 0);
  EXPECT_NE(Qorconv(tool, "--info " + png).out.find("bits=32\n"), std::string::npos);
  auto opaque = [](const std::string& file) {
    const std::string text = Path("opaque.txt");
    Shell("convert " + file + " -format '%[opaque]' info: > " + text);
    const Bytes b = ReadFile(text);
    return std::string(b.begin(), b.end());
  };
  ASSERT_EQ(opaque(png), "false");
  for (const char* ext : {"tga", "xpm"}) {
    const std::string out = Path(std::string("half.") + ext);
    ASSERT_EQ(Qorconv(tool, png + " " + out).code, 0) << ext;
    EXPECT_EQ(opaque(out), ext[0] == 't' ? "false" : "true") << ext;
  }
}

// A GIF as a still is its first frame; its other frames come through the
// multi-frame layer.
TEST(QorconvCodecs, GifFirstFrame) {
  REQUIRE_QORCONV();
  REQUIRE_TOOL("convert");
  const std::string anim = Path("anim.gif");
  ASSERT_EQ(Shell("convert -delay 20 -size 16x12 xc:red xc:blue " + anim), 0);
  Result r = Qorconv(tool, "--info " + anim);
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* line : {"format=4\n", "kind=3\n", "frames=2\n", "bits=8\n", "fps=5\n",
                           "compression=Variable-Length-Code LZW (Lempel-Ziv & Welch)\n"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
  Rgb ours, peer;
  ASSERT_TRUE(QorRead(tool, anim, &ours));
  ASSERT_TRUE(MagickRead(anim + "[0]", &peer));
  EXPECT_EQ(ours, peer);
  EXPECT_EQ(ours.rgb[0], 255);
  r = Qorconv(tool, anim + " " + Path("second.png") + " 2");
  ASSERT_EQ(r.code, 0) << r.err;
  ASSERT_TRUE(MagickRead(Path("second.png"), &ours));
  ASSERT_TRUE(MagickRead(anim + "[1]", &peer));
  EXPECT_EQ(ours, peer);
  EXPECT_EQ(ours.rgb[2], 255);  // blue
  // A GIF of one frame is a still image.
  WritePpm(Path("few.ppm"), FewColours(5, 4));
  ASSERT_EQ(Shell("convert " + Path("few.ppm") + " " + Path("one.gif")), 0);
  r = Qorconv(tool, "--info " + Path("one.gif"));
  EXPECT_NE(r.out.find("kind=1\n"), std::string::npos) << r.out;
}

TEST(QorconvCodecs, InfoAndOptionErrors) {
  REQUIRE_QORCONV();
  WritePpm(Path("i.ppm"), TestPicture(6, 5));
  ASSERT_EQ(Qorconv(tool, Path("i.ppm") + " " + Path("i.tiff")).code, 0);
  Result r = Qorconv(tool, "--info " + Path("i.tiff"));
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* line : {"format=10\n", "width=6\n", "height=5\n", "bits=24\n",
                           "compression=Uncompressed\n", "readable=1\n"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
  for (const char* args : {"--quality 101", "--quality x", "--level 10", "--level -1",
                           "--compression 0"})
    EXPECT_EQ(Qorconv(tool, std::string(args) + " " + Path("i.ppm") + " " + Path("i.png")).code, 1)
        << args;
  // Damaged input: the codec library's own message.
  Bytes cut = ReadFile(Path("i.tiff"));
  cut.resize(cut.size() / 2);
  WriteFile(Path("cut.tif"), cut);
  r = Qorconv(tool, Path("cut.tif") + " " + Path("cut.png"));
  EXPECT_EQ(r.code, 1);
  EXPECT_FALSE(r.err.empty());
  EXPECT_FALSE(Basic::FileExists(Path("cut.png")));
}

// With the GIF, FLIC and KWB readers describing their files, qorconv takes
// an animation through the source layer into a movie format and back.
TEST(QorconvCodecs, AnimationsThroughTheSourceLayer) {
  REQUIRE_QORCONV();
  REQUIRE_TOOL("convert");
  const std::string anim = Path("three.gif");
  // One colour map for all frames: an FLC keeps the first frame's palette.
  ASSERT_EQ(Shell("convert -delay 20 -size 16x12 xc:red xc:lime xc:blue +map " + anim), 0);
  for (const char* ext : {"flc", "kwb"}) {
    SCOPED_TRACE(ext);
    const std::string movie = Path(std::string("three.") + ext);
    Result r = Qorconv(tool, anim + " " + movie);
    ASSERT_EQ(r.code, 0) << r.err;
    r = Qorconv(tool, "--info " + movie);
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string format = std::string("format=") + (ext[0] == 'f' ? "5" : "7") + "\n";
    for (const std::string& line : {format, std::string("kind=3\n"), std::string("frames=3\n"),
                                   std::string("fps=5\n"), std::string("width=16\n")})
      EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
    for (int n = 1; n <= 3; n++) {
      const std::string png = Path("frame.png");
      r = Qorconv(tool, movie + " " + png + " " + std::to_string(n));
      ASSERT_EQ(r.code, 0) << r.err;
      Rgb ours, peer;
      ASSERT_TRUE(MagickRead(png, &ours));
      ASSERT_TRUE(MagickRead(anim + "[" + std::to_string(n - 1) + "]", &peer));
      EXPECT_EQ(ours, peer) << "frame " << n;
    }
  }
}
