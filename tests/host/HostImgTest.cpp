// The image exports as a host uses them: images held as handles, filled
// from memory, raw camera samples and files, drawn into the host's own
// surfaces, handed over as Windows bitmaps, saved, and compared with what
// ImageMagick reads from the same files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "host/HostHandles.h"
#include "host/HostLibrary.h"
#include "qor.h"

namespace {

struct Info {
  int32_t width = -1, height = -1, bpp = -1, total = -1;
  uint8_t* pixels = nullptr;
  uint8_t* palette = nullptr;
};

Info GetInfo(QorHandle img) {
  Info i;
  void* pix = nullptr;
  void* pal = nullptr;
  QOR_GET(QorImgGetInfo)(img, &i.width, &i.height, &i.bpp, &i.total, &pix, &pal);
  i.pixels = static_cast<uint8_t*>(pix);
  i.palette = static_cast<uint8_t*>(pal);
  return i;
}

struct Rgb {
  int32_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

Rgb PixelRgb(QorHandle img, int32_t x, int32_t y) {
  Rgb c;
  QOR_GET(QorImgGetPixelRGB)(img, x, y, &c.r, &c.g, &c.b);
  return c;
}

// A call that enters and leaves the library's monitor frames cleanly, which
// clears an error pair left pending by an earlier call: until then, a call
// ended by a nil argument reports that pending error (1000), not 999.
void Settle() {
  Img t;
  QOR_GET(QorImgSetPixels)(t.h, 1, 1, 24, nullptr, nullptr);
  ASSERT_EQ(LastCode(), 0);
}

// A 24-bit image of one colour (a Windows colour value).
void MakeSolid(QorHandle img, int32_t width, int32_t height, int32_t colour) {
  QOR_GET(QorImgSetPixels)(img, width, height, 24, nullptr, nullptr);
  QOR_GET(QorImgClear)(img, colour);
}

// The host's drawing surface, every pixel first set to a colour the library
// never draws here, with a fourth byte the library must leave alone.
struct Surface {
  static constexpr uint8_t kX = 0xA5;
  std::vector<uint8_t> bytes;
  QorSurface s{};
  Surface(int32_t width, int32_t height, int32_t padding = 8) {
    s.width = width;
    s.height = height;
    s.bytesPerRow = width * 4 + padding;
    bytes.assign(static_cast<size_t>(s.bytesPerRow) * height, 0);
    s.pixels = bytes.data();
    for (int32_t y = 0; y < height; y++)
      for (int32_t x = 0; x < width; x++) {
        uint8_t* p = At(x, y);
        p[0] = 1;
        p[1] = 2;
        p[2] = 3;
        p[3] = kX;
      }
  }
  uint8_t* At(int32_t x, int32_t y) {
    return bytes.data() + static_cast<size_t>(y) * s.bytesPerRow + x * 4;
  }
  bool Untouched(int32_t x, int32_t y) {
    const uint8_t* p = At(x, y);
    return p[0] == 1 && p[1] == 2 && p[2] == 3;
  }
  // The smallest box holding every drawn pixel; every fourth byte must be
  // the host's still.
  Box Drawn() {
    return BoundingBox(s.width, s.height, [&](int32_t x, int32_t y) {
      EXPECT_EQ(At(x, y)[3], kX) << x << "," << y;
      return !Untouched(x, y);
    });
  }
  // Every pixel of the box has this B,G,R colour.
  bool Filled(Box b, uint8_t blue, uint8_t green, uint8_t red) {
    for (int32_t y = b.y; y < b.y + b.h; y++)
      for (int32_t x = b.x; x < b.x + b.w; x++) {
        const uint8_t* p = At(x, y);
        if (p[0] != blue || p[1] != green || p[2] != red) return false;
      }
    return true;
  }
};

uint32_t Dword(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// ---- peers ------------------------------------------------------------------

bool HavePeers() {
  static const bool have =
      std::system("convert -version >/dev/null 2>&1") == 0 &&
      std::system("tgatoppm -version >/dev/null 2>&1") == 0;
  return have;
}

int Sh(const std::string& command) { return std::system(command.c_str()); }

// What a peer's command writes to its output.
std::vector<uint8_t> PeerOutput(const std::string& command) {
  std::vector<uint8_t> out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.insert(out.end(), buf, buf + n);
  pclose(pipe);
  return out;
}

// ImageMagick's decode of a file (one frame) as R,G,B bytes. This
// ImageMagick reads TGA rows in the wrong order and encoded Sun raster
// files as R,G,B, so netpbm decodes those two.
std::vector<uint8_t> MagickRgb(const std::string& file) {
  const std::string ext = file.substr(file.size() - 4);
  const std::string netpbm = ext == ".tga" ? "tgatoppm" : ext == ".ras" ? "rasttopnm" : "";
  if (!netpbm.empty())
    return PeerOutput(netpbm + " '" + file + "' 2>/dev/null | convert ppm:- -depth 8 rgb:-");
  return PeerOutput("convert '" + file + "' -depth 8 rgb:- 2>/dev/null");
}

// The image's pixels as R,G,B bytes, read through the exports.
std::vector<uint8_t> ExportRgb(QorHandle img) {
  const Info i = GetInfo(img);
  std::vector<uint8_t> out;
  for (int32_t y = 0; y < i.height; y++)
    for (int32_t x = 0; x < i.width; x++) {
      const Rgb c = PixelRgb(img, x, y);
      out.push_back(static_cast<uint8_t>(c.r));
      out.push_back(static_cast<uint8_t>(c.g));
      out.push_back(static_cast<uint8_t>(c.b));
    }
  return out;
}

struct TempDir {
  std::string path;
  TempDir() {
    char tmpl[] = "/tmp/qor_hostimg_XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() { std::filesystem::remove_all(path); }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

TEST(HostImg, PixelBytesPerDepthAndTheGreyRamp) {
  ASSERT_NE(Lib().handle(), nullptr) << Lib().error();
  for (int32_t bpp : {8, 15, 16, 24, 32}) {
    SCOPED_TRACE(bpp);
    Img img;
    QOR_GET(QorImgSetPixels)(img.h, 3, 2, bpp, nullptr, nullptr);
    EXPECT_EQ(LastCode(), 0);
    const Info i = GetInfo(img.h);
    const int32_t bytes = (bpp + 7) / 8;
    EXPECT_EQ(i.width, 3);
    EXPECT_EQ(i.height, 2);
    EXPECT_EQ(i.bpp, bpp);
    EXPECT_EQ(i.total, 6 * bytes);
    ASSERT_NE(i.pixels, nullptr);
    QOR_GET(QorImgClear)(img.h, 0x11223344);
    // What the colour value becomes in this depth's pixel bytes.
    std::vector<uint8_t> expected;
    if (bpp == 8) expected = {0x44};
    if (bpp == 15 || bpp == 16) expected = {0x44, 0x33};
    if (bpp == 24) expected = {0x22, 0x33, 0x44};
    if (bpp == 32) expected = {0x44, 0x33, 0x22, 0x11};
    for (int32_t p = 0; p < 6; p++)
      EXPECT_EQ(std::vector<uint8_t>(i.pixels + p * bytes, i.pixels + (p + 1) * bytes),
                expected)
          << "pixel " << p;
    std::vector<uint8_t> copied(static_cast<size_t>(i.total), 0);
    QOR_GET(QorImgGetPixels)(img.h, copied.data(), nullptr);
    EXPECT_EQ(0, std::memcmp(copied.data(), i.pixels, copied.size()));
    EXPECT_EQ(PixelRgb(img.h, 3, 0), (Rgb{-1, -1, -1}));
    EXPECT_EQ(PixelRgb(img.h, 0, -1), (Rgb{-1, -1, -1}));
  }

  // No palette given at 8 bits: the grey ramp, read through the palette.
  Img grey;
  const uint8_t idx[4] = {0, 77, 200, 255};
  QOR_GET(QorImgSetPixels)(grey.h, 2, 2, 8, idx, nullptr);
  const Info g = GetInfo(grey.h);
  for (int e = 0; e < 256; e++) {
    ASSERT_EQ(g.palette[e * 3], e);
    ASSERT_EQ(g.palette[e * 3 + 2], e);
  }
  EXPECT_EQ(PixelRgb(grey.h, 1, 0), (Rgb{77, 77, 77}));
  EXPECT_EQ(PixelRgb(grey.h, 0, 1), (Rgb{200, 200, 200}));

  // 15 and 16 bits widen with zero low bits.
  Img w16, w15;
  const uint16_t green = 0x07E0, red = 0x7C00;
  QOR_GET(QorImgSetPixels)(w16.h, 1, 1, 16, &green, nullptr);
  QOR_GET(QorImgSetPixels)(w15.h, 1, 1, 15, &red, nullptr);
  EXPECT_EQ(PixelRgb(w16.h, 0, 0), (Rgb{0, 252, 0}));
  EXPECT_EQ(PixelRgb(w15.h, 0, 0), (Rgb{248, 0, 0}));

  // A copy has the same size, depth and pixels.
  Img copy;
  QOR_GET(QorImgCopy)(copy.h, grey.h);
  const Info c = GetInfo(copy.h);
  EXPECT_EQ(c.bpp, 8);
  EXPECT_EQ(0, std::memcmp(c.pixels, idx, 4));
  EXPECT_NE(c.pixels, g.pixels);
}

TEST(HostImg, SizesDepthsAndHandlesAreCheckedNeverTrusted) {
  Img img;
  MakeSolid(img.h, 3, 2, 0x00FF00);
  QOR_GET(QorImgRedim)(img.h, K_AUTO, K_AUTO, K_AUTO);
  EXPECT_EQ(LastCode(), 0);
  Info i = GetInfo(img.h);
  EXPECT_EQ((std::vector<int32_t>{i.width, i.height, i.bpp}),
            (std::vector<int32_t>{3, 2, 24}));
  QOR_GET(QorImgRedim)(img.h, 5, K_AUTO, 8);
  i = GetInfo(img.h);
  EXPECT_EQ((std::vector<int32_t>{i.width, i.height, i.bpp}),
            (std::vector<int32_t>{5, 2, 8}));

  // Refused sizes and depths leave an error pair and the image as it was.
  struct Bad {
    int32_t w, h, bpp;
  };
  for (Bad b : {Bad{0, 5, 24}, Bad{-4, 5, 24}, Bad{4, 4, 12}, Bad{4, 4, 0},
                Bad{65536, 65536, 32}, Bad{INT32_MAX, INT32_MAX, 24}}) {
    SCOPED_TRACE(std::to_string(b.w) + "x" + std::to_string(b.h) + "x" +
                 std::to_string(b.bpp));
    QOR_GET(QorImgRedim)(img.h, b.w, b.h, b.bpp);
    EXPECT_EQ(LastCode(), 1000);
    QOR_GET(QorImgSetPixels)(img.h, b.w, b.h, b.bpp, nullptr, nullptr);
    EXPECT_EQ(LastCode(), 1000);
    i = GetInfo(img.h);
    EXPECT_EQ((std::vector<int32_t>{i.width, i.height, i.bpp}),
              (std::vector<int32_t>{5, 2, 8}));
  }

  // Raw camera samples: missing samples, an unknown pattern or an odd size
  // are refused before the image changes.
  const std::vector<uint8_t> samples(64, 9);
  Settle();
  QOR_GET(QorBayerToImg)(img.h, nullptr, 4, 4, 2, 1);
  EXPECT_EQ(LastCode(), 999);
  QOR_GET(QorBayerToImg)(img.h, samples.data(), 4, 4, 9, 1);
  EXPECT_EQ(LastCode(), 1000);
  QOR_GET(QorBayerToImg)(img.h, samples.data(), 3, 3, 2, 1);
  EXPECT_EQ(LastCode(), 1000);
  QOR_GET(QorBayerToImg)(img.h, samples.data(), -4, 4, 2, 1);
  EXPECT_EQ(LastCode(), 1000);
  i = GetInfo(img.h);
  EXPECT_EQ((std::vector<int32_t>{i.width, i.height, i.bpp}),
            (std::vector<int32_t>{5, 2, 8}));

  // Nil handles and buffers: status 999 and the failure value, no crash.
  Settle();
  int32_t v = 0;
  void* p = nullptr;
  QOR_GET(QorImgGetInfo)(nullptr, &v, &v, &v, &v, &p, &p);
  EXPECT_EQ(LastCode(), 999);
  QOR_GET(QorImgGetInfo)(img.h, &v, nullptr, &v, &v, &p, &p);
  EXPECT_EQ(LastCode(), 999);
  QOR_GET(QorImgCopy)(img.h, nullptr);
  EXPECT_EQ(LastCode(), 999);
  QOR_GET(QorImgSetPixels)(nullptr, 2, 2, 24, nullptr, nullptr);
  EXPECT_EQ(LastCode(), 999);
  QOR_GET(QorImgGetPixelRGB)(img.h, 0, 0, &v, nullptr, &v);
  EXPECT_EQ(LastCode(), 999);
  EXPECT_EQ(QOR_GET(QorImgToDIB)(nullptr), nullptr);
  EXPECT_EQ(LastCode(), 999);
  EXPECT_EQ(QOR_GET(QorImgToDIBWin3)(nullptr), nullptr);
  EXPECT_EQ(LastCode(), 999);
  QOR_GET(QorDIBToImg)(nullptr, nullptr);
  EXPECT_EQ(LastCode(), 999);
  QOR_GET(QorImgShow)(img.h, nullptr, 0, 0);
  EXPECT_EQ(LastCode(), 999);
  QorSurface broken{nullptr, 4, 4, 16};
  QOR_GET(QorClearCanvas)(&broken, 0, 0, 4, 4, 0);
  EXPECT_EQ(LastCode(), 999);
  std::vector<uint8_t> few(16);
  QorSurface shortRows{few.data(), 4, 1, 8};  // rows shorter than 4 pixels
  QOR_GET(QorClearCanvas)(&shortRows, 0, 0, 4, 1, 0);
  EXPECT_EQ(LastCode(), 999);
  // Exports whose nil handle means "nothing to do".
  QOR_GET(QorImgRedim)(nullptr, 2, 2, 24);
  EXPECT_EQ(LastCode(), 0);
  QOR_GET(QorImgClear)(nullptr, 0);
  EXPECT_EQ(LastCode(), 0);
  QOR_GET(QorImgFree)(nullptr);
  EXPECT_EQ(LastCode(), 0);
  EXPECT_EQ(QOR_GET(QorImgLoadSingle)(nullptr, "/nonexistent.bmp", 1), 0);
  EXPECT_EQ(QOR_GET(QorReleaseDIBWin3)(nullptr), 0);
}

TEST(HostImg, ClearCanvasFillsTheRectangleOnly) {
  Surface s(20, 10);
  QOR_GET(QorClearCanvas)(&s.s, 3, 4, 5, 2, 0x102030);  // red 0x30
  EXPECT_EQ(LastCode(), 0);
  Box b = s.Drawn();
  EXPECT_EQ((std::vector<int32_t>{b.x, b.y, b.w, b.h}),
            (std::vector<int32_t>{3, 4, 5, 2}));
  EXPECT_TRUE(s.Filled(b, 0x10, 0x20, 0x30));

  // Clipped at the surface's edges, however large; inverted draws nothing.
  Surface t(6, 5);
  QOR_GET(QorClearCanvas)(&t.s, -100, 2, INT32_MAX, INT32_MAX, 0xFFFFFF);
  b = t.Drawn();
  EXPECT_EQ((std::vector<int32_t>{b.x, b.y, b.w, b.h}),
            (std::vector<int32_t>{0, 2, 6, 3}));
  Surface u(6, 5);
  QOR_GET(QorClearCanvas)(&u.s, 4, 4, -3, -3, 0xFFFFFF);
  EXPECT_EQ(u.Drawn().w, 0);
}

TEST(HostImg, ShowInRectFitsAndCentresThePicture) {
  struct Case {
    int32_t imgW, imgH, boxW, boxH;
    QorBool enlarge;
    Box expected;  // relative to the box
  };
  const Case cases[] = {
      {100, 50, 200, 200, 0, {50, 75, 100, 50}},   // fits: natural size
      {100, 50, 200, 200, -1, {0, 50, 200, 100}},  // enlarged to the width
      {400, 100, 200, 200, 0, {0, 75, 200, 50}},   // shrunk to the width
      {50, 300, 200, 150, 0, {87, 0, 25, 150}},    // shrunk to the height
      {4, 4, 200, 2, 0, {99, 0, 2, 2}},            // lower box than image
      {1000, 1, 20, 20, 0, {0, 9, 20, 1}},         // at least one row
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.imgW) + "x" + std::to_string(c.imgH) +
                 " in " + std::to_string(c.boxW) + "x" + std::to_string(c.boxH));
    Img img;
    MakeSolid(img.h, c.imgW, c.imgH, 0x0000FF);  // red
    Surface s(c.boxW + 30, c.boxH + 20);
    QOR_GET(QorImgShowInRect)(img.h, &s.s, 10, 7, c.boxW, c.boxH, c.enlarge);
    EXPECT_EQ(LastCode(), 0);
    const Box b = s.Drawn();
    EXPECT_EQ((std::vector<int32_t>{b.x - 10, b.y - 7, b.w, b.h}),
              (std::vector<int32_t>{c.expected.x, c.expected.y, c.expected.w,
                                    c.expected.h}));
    EXPECT_TRUE(s.Filled(b, 0, 0, 255));
  }

  // Unscaled drawing keeps every pixel where it is: a marked corner.
  Img marked;
  MakeSolid(marked.h, 4, 3, 0x00FF00);
  const Info m = GetInfo(marked.h);
  m.pixels[(2 * 4 + 3) * 3 + 2] = 0xFF;  // bottom-right pixel gets red too
  Surface s(12, 12);
  QOR_GET(QorImgShow)(marked.h, &s.s, 5, 6);
  EXPECT_EQ(s.Drawn().w, 4);
  EXPECT_EQ(s.At(8, 8)[2], 0xFF);
  EXPECT_EQ(s.At(7, 8)[2], 0x00);
  EXPECT_EQ(s.At(5, 6)[1], 0xFF);

  // An empty picture or an empty box draws nothing and is no error.
  Img empty;
  Surface e(10, 10);
  QOR_GET(QorImgShowInRect)(empty.h, &e.s, 0, 0, 10, 10, -1);
  EXPECT_EQ(LastCode(), 0);
  QOR_GET(QorImgShowInRect)(marked.h, &e.s, 0, 0, 0, 10, -1);
  EXPECT_EQ(LastCode(), 0);
  QOR_GET(QorImgShowInRect)(marked.h, &e.s, 0, 0, 10, -5, 0);
  EXPECT_EQ(LastCode(), 0);
  EXPECT_EQ(e.Drawn().w, 0);
}

TEST(HostImg, BitmapHandlesKeepTheWindowsLayout) {
  // 8 bits, 3 pixels wide: rows of 3 bytes padded to 4, bottom-up, with the
  // palette as 256 RGBQUADs after the 40-byte header.
  Img img;
  const uint8_t idx[6] = {1, 2, 3, 4, 5, 6};
  std::vector<uint8_t> pal(768);
  for (int e = 0; e < 256; e++) {
    pal[e * 3] = static_cast<uint8_t>(e);        // blue
    pal[e * 3 + 1] = static_cast<uint8_t>(e / 2);
    pal[e * 3 + 2] = static_cast<uint8_t>(255 - e);
  }
  QOR_GET(QorImgSetPixels)(img.h, 3, 2, 8, idx, pal.data());
  QorHandle g = QOR_GET(QorImgToDIBWin3)(img.h);
  ASSERT_NE(g, nullptr);
  const auto* d = static_cast<const uint8_t*>(g);
  EXPECT_EQ(Dword(d), 40u);
  EXPECT_EQ(Dword(d + 4), 3u);
  EXPECT_EQ(Dword(d + 8), 2u);  // positive: bottom-up
  EXPECT_EQ(Word(d + 12), 1);
  EXPECT_EQ(Word(d + 14), 8);
  EXPECT_EQ(Dword(d + 16), 0u);
  EXPECT_EQ(Dword(d + 20), 8u);
  EXPECT_EQ(Dword(d + 32), 256u);
  EXPECT_EQ((std::vector<uint8_t>(d + 40 + 7 * 4, d + 40 + 8 * 4)),
            (std::vector<uint8_t>{7, 3, 248, 0}));
  const uint8_t* rows = d + 40 + 1024;
  EXPECT_EQ((std::vector<uint8_t>(rows, rows + 3)), (std::vector<uint8_t>{4, 5, 6}));
  EXPECT_EQ((std::vector<uint8_t>(rows + 4, rows + 7)),
            (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(QOR_GET(QorReleaseDIBWin3)(g), -1);
  EXPECT_EQ(QOR_GET(QorReleaseDIBWin3)(g), 0);

  // A DIB section: 24 bits, rows of 9 bytes padded to 12, bottom-up, and
  // read back into an image unchanged.
  Img colour;
  std::vector<uint8_t> px(3 * 2 * 3);
  for (size_t k = 0; k < px.size(); k++) px[k] = static_cast<uint8_t>(10 + k * 13);
  QOR_GET(QorImgSetPixels)(colour.h, 3, 2, 24, px.data(), nullptr);
  QorHandle dib = QOR_GET(QorImgToDIB)(colour.h);
  ASSERT_NE(dib, nullptr);
  const auto* h = static_cast<const uint8_t*>(dib);
  EXPECT_EQ(Dword(h), 40u);
  EXPECT_EQ(Dword(h + 4), 3u);
  EXPECT_EQ(Dword(h + 8), 2u);
  EXPECT_EQ(Word(h + 14), 24);
  EXPECT_EQ(Dword(h + 20), 24u);
  EXPECT_EQ(0, std::memcmp(h + 40, px.data() + 9, 9));
  EXPECT_EQ(0, std::memcmp(h + 40 + 12, px.data(), 9));
  Img back;
  QOR_GET(QorDIBToImg)(back.h, dib);
  EXPECT_EQ(LastCode(), 0);
  const Info b = GetInfo(back.h);
  EXPECT_EQ(b.bpp, 24);
  ASSERT_EQ(b.total, 18);
  EXPECT_EQ(0, std::memcmp(b.pixels, px.data(), 18));
  // An 8-bit image becomes a 24-bit section with the palette's colours.
  QorHandle dib8 = QOR_GET(QorImgToDIB)(img.h);
  Img back8;
  QOR_GET(QorDIBToImg)(back8.h, dib8);
  EXPECT_EQ(PixelRgb(back8.h, 2, 1), (Rgb{255 - 6, 3, 6}));
  EXPECT_EQ(QOR_GET(QorReleaseDIB)(dib8), 1);
  EXPECT_EQ(QOR_GET(QorReleaseDIB)(dib), 1);
  EXPECT_EQ(QOR_GET(QorReleaseDIB)(dib), 0);
  // A released handle names no bitmap any more.
  QOR_GET(QorDIBToImg)(back.h, dib);
  EXPECT_EQ(LastCode(), 1000);
  Settle();
}

TEST(HostImg, RawCameraSamples) {
  // Monochrome samples stored by 2 x 2 cells (top-left, top-right,
  // bottom-left, bottom-right) become rows; at 8 bits with the grey ramp.
  const uint8_t cells[8] = {1, 2, 5, 6, 3, 4, 7, 8};
  Img mono;
  QOR_GET(QorBayerToImg)(mono.h, cells, 4, 2, 4, 0);
  EXPECT_EQ(LastCode(), 0);
  Info i = GetInfo(mono.h);
  ASSERT_EQ(i.bpp, 8);
  EXPECT_EQ((std::vector<uint8_t>(i.pixels, i.pixels + 8)),
            (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(PixelRgb(mono.h, 3, 1), (Rgb{8, 8, 8}));

  // A uniform plane is a uniform grey at 24 bits, borders included.
  const std::vector<uint8_t> plane(6 * 4, 100);
  Img colour;
  QOR_GET(QorBayerToImg)(colour.h, plane.data(), 6, 4, 2, 1);
  i = GetInfo(colour.h);
  ASSERT_EQ(i.bpp, 24);
  EXPECT_EQ(std::vector<uint8_t>(i.pixels, i.pixels + i.total),
            std::vector<uint8_t>(static_cast<size_t>(i.total), 100));

  // The same through a file, and a file too small for the size asked.
  TempDir dir;
  WriteBytes(dir / "raw.bin", std::vector<uint8_t>(cells, cells + 8));
  Img fromFile;
  EXPECT_EQ(QOR_GET(QorBayerLoad)(fromFile.h, (dir / "raw.bin").c_str(), 4, 2, 4, 0), 0);
  i = GetInfo(fromFile.h);
  EXPECT_EQ((std::vector<uint8_t>(i.pixels, i.pixels + 8)),
            (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(QOR_GET(QorBayerLoad)(fromFile.h, (dir / "raw.bin").c_str(), 4, 4, 4, 0),
            1000);
  Settle();
  EXPECT_EQ(QOR_GET(QorBayerLoad)(nullptr, (dir / "raw.bin").c_str(), 4, 2, 4, 0),
            999);
}

TEST(HostImg, LoadSingleAgreesWithImageMagickAndReachesEveryFrame) {
  if (!HavePeers()) GTEST_SKIP() << "ImageMagick or netpbm not available";
  TempDir dir;
  const std::string png = dir / "ramp.png";
  ASSERT_EQ(Sh("convert -size 37x23 gradient:'#ff0000-#0040c0' -depth 8 "
               "-define png:color-type=2 '" + png + "' 2>/dev/null"),
            0);
  Img img;
  EXPECT_EQ(QOR_GET(QorImgLoadSingle)(img.h, png.c_str(), 1), 0);
  const Info i = GetInfo(img.h);
  EXPECT_EQ(i.width, 37);
  EXPECT_EQ(i.height, 23);
  EXPECT_EQ(ExportRgb(img.h), MagickRgb(png));

  // Frames counted from 1: 0 and below read the first, beyond the count the
  // last, and the last one is reachable.
  const std::string gif = dir / "three.gif";
  ASSERT_EQ(Sh("convert -size 8x6 xc:'#ff0000' xc:'#00ff00' xc:'#0000ff' '" +
               gif + "' 2>/dev/null"),
            0);
  struct Frame {
    int32_t asked;
    Rgb colour;
  };
  for (Frame f : {Frame{-3, {255, 0, 0}}, Frame{0, {255, 0, 0}},
                  Frame{1, {255, 0, 0}}, Frame{2, {0, 255, 0}},
                  Frame{3, {0, 0, 255}}, Frame{40, {0, 0, 255}}}) {
    SCOPED_TRACE(f.asked);
    EXPECT_EQ(QOR_GET(QorImgLoadSingle)(img.h, gif.c_str(), f.asked), 0);
    EXPECT_EQ(PixelRgb(img.h, 4, 3), f.colour);
  }

  // A file no reader takes is an error, not a crash.
  WriteBytes(dir / "junk.png", std::vector<uint8_t>(100, 7));
  EXPECT_EQ(QOR_GET(QorImgLoadSingle)(img.h, (dir / "junk.png").c_str(), 1), 1000);
  EXPECT_EQ(QOR_GET(QorImgLoadSingle)(img.h, nullptr, 1), 1000);
}

namespace {

// A smooth colour picture loaded from a file ImageMagick wrote.
bool LoadPeerPicture(const TempDir& dir, QorHandle img, const std::string& peerPicture) {
  const std::string png = dir / "peer.png";
  if (Sh("convert -size 41x27 " + peerPicture + " -depth 8 -define png:color-type=2 '" +
         png + "' 2>/dev/null") != 0)
    return false;
  return QOR_GET(QorImgLoadSingle)(img, png.c_str(), 1) == 0;
}

// Root mean square of two byte runs of equal size.
double Rms(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double sum = 0;
  for (size_t k = 0; k < a.size(); k++) sum += (a[k] - b[k]) * (a[k] - b[k]);
  return a.empty() ? 0 : std::sqrt(sum / static_cast<double>(a.size()));
}

}  // namespace

namespace {

// A TGA of pixels given top-down and left to right, `bytes` bytes each,
// stored in the order the descriptor's bits 4 (right to left) and 5 (top
// down) say, raw or as run-length packets: runs of equal pixels, literals
// between them. An 8-bit file carries `map`, 24-bit entries.
std::vector<uint8_t> Tga(int32_t w, int32_t h, int32_t bytes, const std::vector<uint8_t>& px,
                         bool rightToLeft, bool topDown, bool rle,
                         const std::vector<uint8_t>& map = {}) {
  const int32_t entries = static_cast<int32_t>(map.size() / 3);
  const int descriptor = (rightToLeft ? 0x10 : 0) | (topDown ? 0x20 : 0) | (bytes == 4 ? 8 : 0);
  std::vector<uint8_t> f = {0, static_cast<uint8_t>(map.empty() ? 0 : 1),
                            static_cast<uint8_t>((bytes == 1 ? 1 : 2) + (rle ? 8 : 0)),
                            0, 0, static_cast<uint8_t>(entries), static_cast<uint8_t>(entries >> 8),
                            static_cast<uint8_t>(map.empty() ? 0 : 24), 0, 0, 0, 0,
                            static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8),
                            static_cast<uint8_t>(h), static_cast<uint8_t>(h >> 8),
                            static_cast<uint8_t>(bytes == 2 ? 16 : bytes * 8),
                            static_cast<uint8_t>(descriptor)};
  f.insert(f.end(), map.begin(), map.end());
  std::vector<uint8_t> stored;
  for (int32_t s = 0; s < h; s++)
    for (int32_t t = 0; t < w; t++) {
      const int32_t x = rightToLeft ? w - 1 - t : t, y = topDown ? s : h - 1 - s;
      const auto at = px.begin() + (static_cast<size_t>(y) * w + x) * bytes;
      stored.insert(stored.end(), at, at + bytes);
    }
  if (!rle) {
    f.insert(f.end(), stored.begin(), stored.end());
    return f;
  }
  const size_t count = stored.size() / bytes;
  const auto same = [&](size_t a, size_t b) {
    return std::equal(stored.begin() + a * bytes, stored.begin() + (a + 1) * bytes,
                      stored.begin() + b * bytes);
  };
  for (size_t i = 0; i < count;) {
    size_t run = 1;
    while (i + run < count && run < 128 && same(i, i + run)) run++;
    size_t n = run;
    if (run == 1)
      while (i + n < count && n < 128 && !(i + n + 1 < count && same(i + n, i + n + 1))) n++;
    f.push_back(static_cast<uint8_t>(run > 1 ? 127 + run : n - 1));
    const auto at = stored.begin() + i * bytes;
    f.insert(f.end(), at, at + (run > 1 ? 1 : n) * bytes);
    i += n;
  }
  return f;
}

}  // namespace

// Rows stored right to left are turned at the file's own depth: a 32-bit
// file keeps its alpha, an 8-bit one its indices and palette, a 16-bit one
// its 5-5-5 words, in every row order and coding, as ffmpeg decodes them.
TEST(HostImg, TgaStoredRightToLeftKeepsItsDepth) {
  const bool ffmpeg = std::system("ffmpeg -nostdin -version >/dev/null 2>&1") == 0;
  TempDir dir;
  const int32_t w = 7, h = 5;
  // Pairs of equal pixels make run packets, the odd column a literal.
  std::vector<uint8_t> bgra, index, words;
  for (int32_t y = 0; y < h; y++)
    for (int32_t x = 0; x < w; x++) {
      const int32_t pair = x / 2;
      bgra.insert(bgra.end(), {static_cast<uint8_t>(30 + 60 * pair), static_cast<uint8_t>(40 * y),
                               static_cast<uint8_t>(200 - 50 * pair),
                               static_cast<uint8_t>(255 - 60 * pair - 9 * y)});
      index.push_back(static_cast<uint8_t>(pair + 4 * y));
      const int32_t word = (3 + 8 * pair) | ((6 * y) << 5) | ((31 - 7 * pair) << 10);
      words.insert(words.end(), {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)});
    }
  std::vector<uint8_t> map;
  for (int32_t e = 0; e < 20; e++)
    map.insert(map.end(), {static_cast<uint8_t>(12 * e), static_cast<uint8_t>(250 - 11 * e),
                           static_cast<uint8_t>(e * e)});
  struct Kind {
    int32_t bytes, bpp;
    const std::vector<uint8_t>& px;
    const char* ffmpegFormat;
  };
  for (const Kind& k : {Kind{4, 32, bgra, "bgra"}, Kind{1, 8, index, "rgb24"},
                        Kind{2, 15, words, "rgb24"}})
    for (int order = 0; order < 4; order++)
      for (bool rle : {false, true}) {
        const bool rightToLeft = order & 1, topDown = order & 2;
        SCOPED_TRACE(testing::Message() << k.bpp << " bits, right to left " << rightToLeft
                                        << ", top down " << topDown << ", rle " << rle);
        const std::string path = dir / "p.tga";
        WriteBytes(path, Tga(w, h, k.bytes, k.px, rightToLeft, topDown, rle,
                             k.bytes == 1 ? map : std::vector<uint8_t>{}));
        Img img;
        ASSERT_EQ(QOR_GET(QorImgLoadSingle)(img.h, path.c_str(), 1), 0);
        const Info i = GetInfo(img.h);
        ASSERT_EQ(i.bpp, k.bpp);
        ASSERT_EQ(i.width, w);
        EXPECT_EQ(std::vector<uint8_t>(i.pixels, i.pixels + k.px.size()), k.px);
        if (k.bytes == 1) {
          EXPECT_EQ(std::vector<uint8_t>(i.palette, i.palette + map.size()), map);
        }
        if (!ffmpeg || !rightToLeft) continue;
        std::vector<uint8_t> peer = PeerOutput("ffmpeg -nostdin -v error -i '" + path +
                                               "' -f rawvideo -pix_fmt " + k.ffmpegFormat + " -");
        std::vector<uint8_t> ours =
            k.bytes == 4 ? std::vector<uint8_t>(i.pixels, i.pixels + k.px.size()) : ExportRgb(img.h);
        if (k.bytes == 2)  // ffmpeg fills the low bits of 5-bit channels
          for (auto* run : {&peer, &ours})
            for (uint8_t& v : *run) v &= 0xF8;
        EXPECT_EQ(ours, peer);
      }
}

TEST(HostImg, SaveSingleRoundTripsThroughImageMagick) {
  if (!HavePeers()) GTEST_SKIP() << "ImageMagick or netpbm not available";
  TempDir dir;
  Img img;
  ASSERT_TRUE(LoadPeerPicture(dir, img.h, "gradient:'#10e020-#f03080'"));
  // Processed through the exports: a caption, and every byte of the pixel
  // block the host was handed turned over.
  Text text;
  QOR_GET(QorTextOut)(img.h, text.h, 2, 2, "Qw");
  const Info i = GetInfo(img.h);
  ASSERT_EQ(i.bpp, 24);
  for (int32_t k = 0; k < i.total; k++) i.pixels[k] = static_cast<uint8_t>(255 - i.pixels[k]);
  const std::vector<uint8_t> expected = ExportRgb(img.h);

  // Lossless formats come back exactly.
  for (const char* name : {"out.bmp", "out.png", "out.tga", "out.ppm", "out.tif",
                           "out.pcx", "out.sgi", "out.ras"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(QOR_GET(QorImgSaveSingle)(img.h, (dir / name).c_str(), K_AUTO), 0);
    EXPECT_EQ(MagickRgb(dir / name), expected);
  }
  // JPEG: codec is the quality; the default is close, quality 5 far smaller.
  EXPECT_EQ(QOR_GET(QorImgSaveSingle)(img.h, (dir / "q5.jpg").c_str(), 5), 0);
  EXPECT_EQ(QOR_GET(QorImgSaveSingle)(img.h, (dir / "d.jpg").c_str(), K_AUTO), 0);
  EXPECT_LT(Rms(MagickRgb(dir / "d.jpg"), expected), 12.0);
  EXPECT_LT(std::filesystem::file_size(dir / "q5.jpg"),
            std::filesystem::file_size(dir / "d.jpg"));
  // K_AUTO is each format's default, also right after a save with another
  // codec: RLE for TGA and SGI, none for TIFF, quality 85 for JPEG (as
  // ImageMagick reads them), RLE Sun raster (type 2) and binary PNM.
  const std::pair<const char*, int32_t> others[] = {
      {"out.tga", 0}, {"out.sgi", 0}, {"out.ras", 0}, {"out.tif", 5}, {"out.ppm", 1}};
  for (const auto& [name, codec] : others) {
    const std::string other = dir / ("x" + std::string(name));
    EXPECT_EQ(QOR_GET(QorImgSaveSingle)(img.h, other.c_str(), codec), 0);
    EXPECT_EQ(QOR_GET(QorImgSaveSingle)(img.h, (dir / name).c_str(), K_AUTO), 0);
  }
  auto identify = [&](const char* format, const char* name) {
    const std::vector<uint8_t> text =
        PeerOutput(std::string("identify -format ") + format + " '" + dir / name + "'");
    return std::string(text.begin(), text.end());
  };
  EXPECT_EQ(identify("%C", "out.tga") + identify("%C", "out.sgi") + identify("%C", "out.tif") +
                identify("%Q", "d.jpg"),
            "RLERLENone85");
  char head[24] = {};
  std::ifstream(dir / "out.ras", std::ios::binary).read(head, 24);
  EXPECT_EQ(head[23], 2);
  std::ifstream(dir / "out.ppm", std::ios::binary).read(head, 2);
  EXPECT_EQ(std::string(head, 2), "P6");

  // An 8-bit image keeps its palette colours.
  Img pal8;
  std::vector<uint8_t> palette(768, 0), idx(6 * 4);
  for (int e = 0; e < 256; e++) {
    palette[e * 3] = static_cast<uint8_t>(e * 7);
    palette[e * 3 + 1] = static_cast<uint8_t>(255 - e);
    palette[e * 3 + 2] = static_cast<uint8_t>(e * 3);
  }
  for (size_t k = 0; k < idx.size(); k++) idx[k] = static_cast<uint8_t>(k * 11);
  QOR_GET(QorImgSetPixels)(pal8.h, 6, 4, 8, idx.data(), palette.data());
  EXPECT_EQ(QOR_GET(QorImgSaveSingle)(pal8.h, (dir / "p8.bmp").c_str(), K_AUTO), 0);
  EXPECT_EQ(MagickRgb(dir / "p8.bmp"), ExportRgb(pal8.h));

  // A failed save leaves no file: an empty image, a name no writer takes.
  Img empty;
  EXPECT_EQ(QOR_GET(QorImgSaveSingle)(empty.h, (dir / "none.bmp").c_str(), K_AUTO),
            1000);
  EXPECT_FALSE(std::filesystem::exists(dir / "none.bmp"));
  EXPECT_EQ(QOR_GET(QorImgSaveSingle)(img.h, (dir / "none.xyz").c_str(), K_AUTO),
            1000);
  EXPECT_FALSE(std::filesystem::exists(dir / "none.xyz"));
  Settle();
  EXPECT_EQ(QOR_GET(QorImgSaveSingle)(nullptr, (dir / "nil.bmp").c_str(), K_AUTO), 0);
  EXPECT_FALSE(std::filesystem::exists(dir / "nil.bmp"));
}

TEST(HostImg, FramesThroughFrameAccessFiles) {
  if (!HavePeers()) GTEST_SKIP() << "ImageMagick or netpbm not available";
  TempDir dir;
  // Written: a 24-bit image into a file made for 8 bits is left at 8 bits,
  // and the file holds what the image then shows.
  Img img;
  ASSERT_TRUE(LoadPeerPicture(dir, img.h, "plasma:fractal -seed 7"));
  const std::string bmp = dir / "eight.bmp";
  QorHandle out = QOR_GET(QorFileCreate)(bmp.c_str());
  ASSERT_NE(out, nullptr);
  QOR_GET(QorFileSetVideoParams)(out, 41, 27, 8, 30.0, K_AUTO, K_AUTO, K_AUTO);
  EXPECT_EQ(QOR_GET(QorImgSave)(img.h, out), 0);
  EXPECT_EQ(GetInfo(img.h).bpp, 8);
  QOR_GET(QorFileClose)(out);
  EXPECT_EQ(LastCode(), 0);
  EXPECT_EQ(MagickRgb(bmp), ExportRgb(img.h));

  // Read: frames counted from 0, each as ImageMagick decodes it.
  const std::string gif = dir / "three.gif";
  ASSERT_EQ(Sh("convert -size 9x5 xc:'#ff0000' xc:'#00ff00' xc:'#0000ff' '" + gif +
               "' 2>/dev/null"),
            0);
  QorFileInfo info{};
  QorHandle in = QOR_GET(QorFileOpen)(gif.c_str(), 0, &info, nullptr, nullptr);
  ASSERT_NE(in, nullptr);
  const Rgb colours[3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  for (int32_t f = 2; f >= 0; f--) {
    EXPECT_EQ(QOR_GET(QorImgLoad)(img.h, in, f), 0);
    EXPECT_EQ(PixelRgb(img.h, 8, 4), colours[f]) << f;
  }
  // Nil handles read and write nothing and are no error; a handle of
  // another kind is refused.
  EXPECT_EQ(QOR_GET(QorImgLoad)(img.h, nullptr, 0), 0);
  EXPECT_EQ(QOR_GET(QorImgLoad)(nullptr, in, 0), 0);
  EXPECT_EQ(QOR_GET(QorImgSave)(nullptr, in), 0);
  EXPECT_EQ(QOR_GET(QorImgSave)(img.h, nullptr), 0);
  EXPECT_EQ(QOR_GET(QorImgLoad)(img.h, img.h, 0), 999);
  // Frames the file does not have are an error; the image keeps the last.
  for (int32_t f : {-5, 3, INT32_MAX}) {
    EXPECT_EQ(QOR_GET(QorImgLoad)(img.h, in, f), 1000) << f;
    EXPECT_EQ(PixelRgb(img.h, 8, 4), colours[0]) << f;
  }
  QOR_GET(QorFileClose)(in);

  // The alpha channel of a picture with transparency, as ImageMagick has it.
  const std::string rgba = dir / "alpha.png";
  ASSERT_EQ(Sh("convert -size 12x7 gradient:'#ff000000-#00ff00ff' -depth 8 "
               "-define png:color-type=6 '" + rgba + "' 2>/dev/null"),
            0);
  const std::vector<uint8_t> peerAlpha =
      PeerOutput("convert '" + rgba + "' -alpha extract -depth 8 gray:-");
  in = QOR_GET(QorFileOpen)(rgba.c_str(), 0, &info, nullptr, nullptr);
  ASSERT_NE(in, nullptr);
  Img alpha;
  EXPECT_EQ(QOR_GET(QorImgLoadAlpha)(alpha.h, in, 0), 0);
  QOR_GET(QorFileClose)(in);
  const Info a = GetInfo(alpha.h);
  ASSERT_EQ(a.bpp, 8);
  ASSERT_EQ(static_cast<size_t>(a.total), peerAlpha.size());
  EXPECT_EQ(std::vector<uint8_t>(a.pixels, a.pixels + a.total), peerAlpha);
}

TEST(HostImg, CallLogNamesMissingHandles) {
  TempDir dir;
  const std::string log = dir / "img.log";
  QOR_GET(QorLogStart)(log.c_str());
  QOR_GET(QorLogExtra)(1);
  Img img;
  MakeSolid(img.h, 32, 24, 0);
  QOR_GET(QorImgLoad)(img.h, nullptr, K_AUTO);
  QOR_GET(QorImgSave)(nullptr, nullptr);
  QOR_GET(QorLogStop)();
  std::ifstream in(log, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("#QorImgLoad\r\n#  mImg=32x24x24\r\n#  mFile=NULL\r\n"
                      "#  frameNum=K_AUTO\r\n#  ERROR: file not open\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("#QorImgSave\r\n#  mImg=not allocated\r\n#  mFile=NULL\r\n"
                      "#  ERROR: file not created\r\n#  ERROR: image handle not allocated\r\n"),
            std::string::npos);
}
