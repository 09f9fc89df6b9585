// The qorconv test tool: its file-information listing, conversions between
// every still format, frames of numbered sequences, depth options and its
// errors.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>

#include "FormatTestUtil.h"

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
  r = Qorconv(tool, Path("odd.pcx") + " " + Path("odd.bmp"));
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "Image format not supported.\n");
  // Bytes no reader accepts: the reader of the extension says why.
  WriteFile(Path("bad.pcx"), Bytes(200, 0x55));
  r = Qorconv(tool, "--info " + Path("bad.pcx"));
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "Invalid image format.\n");
  r = Qorconv(tool, "--info " + Path("missing.bmp"));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("Cannot open file: "), std::string::npos) << r.err;
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
  // 8 bits go through the optimised palette, whose colours are cells of a
  // 64-level cube: a picture of few colours keeps them at 6 bits a channel,
  // with or without dithering.
  const Rgb few = FewColours(5, 3);
  WritePpm(Path("few.ppm"), few);
  for (const char* dither : {"0", "1", "2"}) {
    r = Qorconv(tool, std::string("--bits 8 --dither ") + dither + " " +
                          Path("few.ppm") + " " + Path("d8.bmp"));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadFile(Path("d8.bmp"))[28], 8);
    EXPECT_EQ(LoadRgb(Path("d8.bmp")), TopBits(few, 6)) << dither;
  }
}

TEST(Qorconv, SizeResizesTheFrame) {
  REQUIRE_QORCONV();
  const Rgb src = TestPicture(2, 2);
  WritePpm(Path("s.ppm"), src);
  const Result r = Qorconv(tool, "--size 4x3 " + Path("s.ppm") + " " + Path("s.tga"));
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

TEST(Qorconv, OptionErrors) {
  REQUIRE_QORCONV();
  WritePpm(Path("o.ppm"), TestPicture(2, 2));
  EXPECT_EQ(Qorconv(tool, "").code, 1);
  EXPECT_EQ(Qorconv(tool, "--bits 12 " + Path("o.ppm") + " " + Path("o.bmp")).code, 1);
  EXPECT_EQ(Qorconv(tool, "--dither 3 " + Path("o.ppm") + " " + Path("o.bmp")).code, 1);
  EXPECT_EQ(Qorconv(tool, "--size 4by3 " + Path("o.ppm") + " " + Path("o.bmp")).code, 1);
  EXPECT_EQ(Qorconv(tool, Path("o.ppm") + " " + Path("o.bmp") + " 0").code, 1);
  const Result r = Qorconv(tool, Path("o.ppm") + " " + Path("o.gif"));
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "Invalid image format.\n");
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
