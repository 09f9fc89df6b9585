// What the readers do not take, as the README lists it, shown on files the
// peers write (or built here where no peer writes them): each refused file
// is described and then not loaded, each ignored feature comes out ignored.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/HostHandles.h"
#include "host/HostLibrary.h"
#include "host/HostScratch.h"
#include "qor.h"

namespace {

std::string ErrorText() {
  const QorLastError rec = Outcome();
  std::vector<char> text(65536, '\0');
  QOR_GET(QorMakeErrorStr)(&rec, text.data());
  return text.data();
}

// Loads the first picture of a file into img; the call's status.
int32_t Load(QorHandle img, const std::string& file) {
  return QOR_GET(QorImgLoadSingle)(img, file.c_str(), 1);
}

// A file the peer made is described (a picture of its size) and refused on
// loading with the source layer's error. A file no reader describes at all
// is refused the same way, with the error for an unknown file.
void ExpectRefused(const std::string& file, int32_t width, int32_t height) {
  SCOPED_TRACE(file);
  QorFileInfo info{};
  QOR_GET(QorGetFileInfo)(file.c_str(), 0, &info, nullptr, nullptr);
  const bool described = LastCode() == 0;
  if (described) {
    EXPECT_EQ(info.width, width);
    EXPECT_EQ(info.height, height);
    EXPECT_EQ(info.picturesReadable, 0);
  }
  Img img;
  EXPECT_NE(Load(img.h, file), 0);
  EXPECT_EQ(ErrorText(), described ? "Movie format not supported." : "File not exist.");
}

void ExpectLoads(const std::string& file, int32_t width, int32_t height) {
  SCOPED_TRACE(file);
  Img img;
  ASSERT_EQ(Load(img.h, file), 0) << ErrorText();
  int32_t w = 0, h = 0, bpp = 0, total = 0;
  void* pixels = nullptr;
  void* palette = nullptr;
  QOR_GET(QorImgGetInfo)(img.h, &w, &h, &bpp, &total, &pixels, &palette);
  EXPECT_EQ(w, width);
  EXPECT_EQ(h, height);
}

// Runs a peer's command; false (the case is skipped) when it fails.
bool Made(const std::string& command) { return Shell(command + " 2>/dev/null") == 0; }

class ReadLimits : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Lib().handle(), nullptr) << Lib().error();
    REQUIRE_PEER("convert");
    // 40 x 30, of many colours; of two and of sixteen.
    ASSERT_TRUE(Made("convert logo: -resize 40x30! " + src));
    ASSERT_TRUE(Made("convert " + src + " -colors 2 +dither " + two));
    ASSERT_TRUE(Made("convert " + src + " -colors 16 +dither " + sixteen));
  }
  ScratchDir dir;
  const std::string src = dir.File("src.ppm"), two = dir.File("two.ppm"),
                    sixteen = dir.File("sixteen.ppm");
};

}  // namespace

// Bit-field BMPs (16-bit 5-6-5, 5-5-5 and 4-4-4, 32-bit with masks, all in
// version-5 headers) are refused; a version-5 header without masks is read.
TEST_F(ReadLimits, BmpBitFields) {
  for (const char* subtype : {"RGB565", "RGB555", "ARGB4444", "ARGB8888"}) {
    const std::string bmp = dir.File(std::string(subtype) + ".bmp");
    ASSERT_TRUE(Made("convert " + src + " -alpha set -define bmp:subtype=" + subtype + " " + bmp));
    ExpectRefused(bmp, 40, 30);
  }
  const std::string plain = dir.File("plain.bmp");
  ASSERT_TRUE(Made("convert " + src + " " + plain));
  ExpectLoads(plain, 40, 30);
}

// Grey TGAs (image types 3 and 11) are no TGA to the reader, and a 16-bit
// TGA's attribute bit is no alpha: both pixels below come out alike.
TEST_F(ReadLimits, TgaGreyAndTheAlphaBitOf16Bits) {
  auto tga = [](uint8_t type, uint8_t depth, uint8_t descriptor,
                const std::vector<uint8_t>& pixels) {
    std::vector<uint8_t> f(18, 0);
    f[2] = type;
    f[12] = 2;  // 2 x 1
    f[14] = 1;
    f[16] = depth;
    f[17] = descriptor;
    f.insert(f.end(), pixels.begin(), pixels.end());
    return f;
  };
  WriteBytes(dir.File("grey.tga"), tga(3, 8, 0, {10, 200}));
  WriteBytes(dir.File("greyalpha.tga"), tga(3, 16, 8, {10, 255, 200, 0}));
  WriteBytes(dir.File("greyrle.tga"), tga(11, 8, 0, {0x81, 10}));
  for (const char* name : {"grey.tga", "greyalpha.tga", "greyrle.tga"})
    ExpectRefused(dir.File(name), 2, 1);
  // 5-5-5 red, with the attribute bit clear and set.
  const std::string sixteen = dir.File("sixteen.tga");
  WriteBytes(sixteen, tga(2, 16, 1, {0x00, 0x7C, 0x00, 0xFC}));
  Img img;
  ASSERT_EQ(Load(img.h, sixteen), 0) << ErrorText();
  int32_t r[2] = {}, g[2] = {}, b[2] = {};
  for (int x = 0; x < 2; x++) QOR_GET(QorImgGetPixelRGB)(img.h, x, 0, &r[x], &g[x], &b[x]);
  EXPECT_EQ(r[0], r[1]);
  EXPECT_GT(r[0], 240);
  QorFileInfo info{};
  QorHandle file = QOR_GET(QorFileOpen)(sixteen.c_str(), 0, &info, nullptr, nullptr);
  ASSERT_NE(file, nullptr);
  Img alpha;
  EXPECT_EQ(QOR_GET(QorImgLoadAlpha)(alpha.h, file, 0), 0);
  QOR_GET(QorFileClose)(file);
  for (int x = 0; x < 2; x++) {
    int32_t a = 0, unused = 0;
    QOR_GET(QorImgGetPixelRGB)(alpha.h, x, 0, &a, &unused, &unused);
    EXPECT_EQ(a, 255) << x;
  }
}

// 1- and 4-bit pictures of PCX, Sun raster and TIFF, PBM of both kinds and
// 16-bit SGI are refused; the CCITT-coded 1-bit TIFFs are read.
TEST_F(ReadLimits, LowAndHighDepths) {
  struct Case {
    const char* name;
    std::string command;
  };
  const std::string mono = dir.File("mono.pbm");
  ASSERT_TRUE(Made("convert " + src + " -monochrome " + mono));
  const Case cases[] = {
      {"p4.pbm", "cp " + mono},
      {"p1.pbm", "convert " + mono + " -compress none"},
      {"im4.tif", "convert " + sixteen + " -type Palette -depth 4 -compress none"},
      {"sgi16.sgi", "convert " + src + " -depth 16"},
      {"one.pcx", "ppmtopcx " + two + " >"},
      {"planes.pcx", "ppmtopcx " + sixteen + " >"},
      {"packed.pcx", "ppmtopcx -packed " + sixteen + " >"},
      {"one.ras", "pnmtorast " + mono + " >"},
      {"one.tif", "pnmtotiff " + mono + " >"},
      {"onelzw.tif", "pnmtotiff -lzw " + mono + " >"},
  };
  for (const Case& c : cases) {
    const std::string file = dir.File(c.name);
    if (!Made(c.command + " " + file)) continue;  // netpbm not installed
    ExpectRefused(file, 40, 30);
  }
  const std::string fax = dir.File("fax.tif");
  ASSERT_TRUE(Made("convert " + mono + " -compress group4 " + fax));
  ExpectLoads(fax, 40, 30);
}

// A TIFF of three pages is one picture, its first page; a frame number past
// it reads the first page too.
TEST_F(ReadLimits, OnlyTheFirstPageOfATiff) {
  const std::string pages = dir.File("pages.tif");
  ASSERT_TRUE(Made("convert -size 8x6 xc:red xc:lime xc:blue " + pages));
  QorFileInfo info{};
  QOR_GET(QorGetFileInfo)(pages.c_str(), 0, &info, nullptr, nullptr);
  EXPECT_EQ(info.frameCount, 1);
  for (int32_t frame : {1, 2}) {
    Img img;
    ASSERT_EQ(QOR_GET(QorImgLoadSingle)(img.h, pages.c_str(), frame), 0) << ErrorText();
    int32_t r = 0, g = 0, b = 0;
    QOR_GET(QorImgGetPixelRGB)(img.h, 4, 3, &r, &g, &b);
    EXPECT_EQ(r, 255) << frame;
    EXPECT_EQ(g + b, 0) << frame;
  }
}

namespace {

struct Pixel {
  int32_t r = -1, g = -1, b = -1, alpha = -1;
};

// The picture's pixel at x, y and the alpha the library delivers for it.
Pixel LoadPixel(const std::string& file, int32_t x, int32_t y) {
  Pixel p;
  QorFileInfo info{};
  QorHandle in = QOR_GET(QorFileOpen)(file.c_str(), 0, &info, nullptr, nullptr);
  if (!in) {
    ADD_FAILURE() << file << ": " << ErrorText();
    return p;
  }
  Img img, alpha;
  EXPECT_EQ(QOR_GET(QorImgLoad)(img.h, in, 0), 0) << file;
  EXPECT_EQ(QOR_GET(QorImgLoadAlpha)(alpha.h, in, 0), 0) << file;
  QOR_GET(QorFileClose)(in);
  QOR_GET(QorImgGetPixelRGB)(img.h, x, y, &p.r, &p.g, &p.b);
  int32_t unused = 0;
  QOR_GET(QorImgGetPixelRGB)(alpha.h, x, y, &p.alpha, &unused, &unused);
  return p;
}

}  // namespace

// A PNG's tRNS chunk, a GIF's transparent index (one frame or several) and
// XPM's "None" give no alpha: the see-through pixel is opaque, in its
// palette colour, the GIF's background colour (red here, not the black of
// the transparent entry) or black.
TEST_F(ReadLimits, TransparencyOfPaletteFormats) {
  const std::string png = dir.File("trns.png"), xpm = dir.File("none.xpm");
  ASSERT_TRUE(Made("convert -size 8x6 xc:red -fill blue -draw 'point 1,1' -transparent blue "
                   "PNG8:" + png));
  ASSERT_NE(Capture("convert " + png + " -format '%[channels]' info:").find('a'), std::string::npos);
  WriteBytes(xpm, [] {
    const std::string t = "/* XPM */\nstatic char *n[] = {\n\"2 1 2 1\",\n\"r c red\",\n"
                          "\". c None\",\n\"r.\"};\n";
    return std::vector<uint8_t>(t.begin(), t.end());
  }());
  const Pixel fromPng = LoadPixel(png, 1, 1), fromXpm = LoadPixel(xpm, 1, 0);
  EXPECT_EQ(fromPng.alpha, 255);
  EXPECT_EQ(fromPng.b, 255);
  EXPECT_EQ(fromXpm.alpha, 255);
  EXPECT_EQ(fromXpm.r + fromXpm.g + fromXpm.b, 0);
  for (const char* frames : {"", " xc:lime"}) {
    SCOPED_TRACE(frames);
    const std::string gif = dir.File("t.gif");
    ASSERT_TRUE(Made("convert -size 8x6 xc:red -fill blue -draw 'point 1,1' -transparent blue" +
                     std::string(frames) + " " + gif));
    ASSERT_EQ(Capture("convert '" + gif + "[0]' -alpha extract -format '%[pixel:p{1,1}]' info:"),
              "gray(0)");
    const Pixel p = LoadPixel(gif, 1, 1);
    EXPECT_EQ(p.alpha, 255);
    EXPECT_EQ(p.r, 255);
  }
}

// A JPEG whose EXIF orientation asks for a quarter turn is read as stored:
// 40 x 30 and ImageMagick's own pixels, where its -auto-orient turns it.
TEST_F(ReadLimits, ExifOrientationIsNotApplied) {
  const std::string plain = dir.File("plain.jpg"), turned = dir.File("turned.jpg");
  ASSERT_TRUE(Made("convert " + src + " -quality 95 " + plain));
  // An APP1 block after the start marker: "Exif", a big-endian TIFF header
  // and one directory entry, orientation (0x112) = 6.
  const std::vector<uint8_t> app1 = {0xFF, 0xE1, 0, 34, 'E', 'x', 'i', 'f', 0, 0, 'M', 'M',
                                     0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1,
                                     0, 6, 0, 0, 0, 0, 0, 0};
  std::vector<uint8_t> bytes = ReadBytes(plain);
  ASSERT_GT(bytes.size(), 2u);
  bytes.insert(bytes.begin() + 2, app1.begin(), app1.end());
  WriteBytes(turned, bytes);
  ASSERT_EQ(Capture("convert " + turned + " -auto-orient -format '%wx%h' info:"), "30x40");

  Img img;
  ASSERT_EQ(Load(img.h, turned), 0) << ErrorText();
  const std::vector<uint8_t> peer = [&] {
    std::vector<uint8_t> out;
    const std::string rgb = dir.File("peer.rgb");
    if (Made("convert " + turned + " -depth 8 rgb:" + rgb)) out = ReadBytes(rgb);
    return out;
  }();
  ASSERT_EQ(peer.size(), 40u * 30u * 3u);
  int worst = 0;
  for (int32_t y = 0; y < 30; y++)
    for (int32_t x = 0; x < 40; x++) {
      int32_t c[3] = {};
      QOR_GET(QorImgGetPixelRGB)(img.h, x, y, &c[0], &c[1], &c[2]);
      for (int k = 0; k < 3; k++)
        worst = std::max(worst, std::abs(c[k] - peer[(y * 40 + x) * 3 + k]));
    }
  EXPECT_LE(worst, 2);
}
