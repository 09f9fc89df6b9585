// Image processing through the exports, compared with ImageMagick where it
// has the same operation, and with hand-worked values where it has not.
#include <gtest/gtest.h>

#include <cmath>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "host/HostLibrary.h"
#include "host/HostScratch.h"
#include "qor.h"

namespace {

// Pixels as the library keeps them: rows top-down, packed; 24 bits B,G,R.
struct Picture {
  int32_t width = 0, height = 0, bpp = 0;
  std::vector<uint8_t> pixels;
  std::vector<uint8_t> palette;  // 768 bytes
};

QorHandle MakeImage(const Picture& p) {
  QorHandle img = QOR_GET(QorImgAlloc)();
  QOR_GET(QorImgSetPixels)(img, p.width, p.height, p.bpp, p.pixels.data(),
                           p.palette.empty() ? nullptr : p.palette.data());
  return img;
}

Picture Read(QorHandle img) {
  Picture p;
  int32_t total = 0;
  void* pix = nullptr;
  void* pal = nullptr;
  QOR_GET(QorImgGetInfo)(img, &p.width, &p.height, &p.bpp, &total, &pix, &pal);
  if (pix && total > 0) {
    const auto* b = static_cast<const uint8_t*>(pix);
    p.pixels.assign(b, b + total);
  }
  if (pal) {
    const auto* b = static_cast<const uint8_t*>(pal);
    p.palette.assign(b, b + 768);
  }
  return p;
}

// A 24-bit picture whose pixels all differ.
Picture Pattern(int32_t w, int32_t h) {
  Picture p{w, h, 24, std::vector<uint8_t>(static_cast<size_t>(w * h * 3)), {}};
  for (int32_t y = 0; y < h; y++)
    for (int32_t x = 0; x < w; x++) {
      uint8_t* q = &p.pixels[static_cast<size_t>((y * w + x) * 3)];
      q[0] = static_cast<uint8_t>(17 + 31 * x + 7 * y);
      q[1] = static_cast<uint8_t>(200 - 23 * y + 3 * x);
      q[2] = static_cast<uint8_t>(40 + 11 * x * y);
    }
  return p;
}

// ---- the peer -------------------------------------------------------------

void WritePpm(const std::string& path, const Picture& p) {
  std::string head = "P6\n" + std::to_string(p.width) + " " +
                     std::to_string(p.height) + "\n255\n";
  std::vector<uint8_t> bytes(head.begin(), head.end());
  for (size_t i = 0; i + 2 < p.pixels.size(); i += 3) {
    bytes.push_back(p.pixels[i + 2]);
    bytes.push_back(p.pixels[i + 1]);
    bytes.push_back(p.pixels[i]);
  }
  WriteBytes(path, bytes);
}

Picture ReadPpm(const std::string& path) {
  const std::vector<uint8_t> b = ReadBytes(path);
  Picture p;
  int maxval = 0, used = 0;
  const std::string text(b.begin(), b.begin() + std::min<size_t>(b.size(), 64));
  if (std::sscanf(text.c_str(), "P6 %d %d %d%n", &p.width, &p.height, &maxval,
                  &used) != 3)
    return {};
  p.bpp = 24;
  const size_t start = static_cast<size_t>(used) + 1;
  const size_t n = static_cast<size_t>(p.width * p.height * 3);
  if (b.size() < start + n) return {};
  p.pixels.resize(n);
  for (size_t i = 0; i < n; i += 3) {
    p.pixels[i] = b[start + i + 2];
    p.pixels[i + 1] = b[start + i + 1];
    p.pixels[i + 2] = b[start + i];
  }
  return p;
}

// What ImageMagick makes of the picture with the given options.
Picture Peer(const ScratchDir& dir, const Picture& in, const std::string& ops) {
  WritePpm(dir.File("in.ppm"), in);
  const std::string out = dir.File("out.ppm");
  if (Shell("convert '" + dir.File("in.ppm") + "' " + ops + " -depth 8 '" +
            out + "'") != 0)
    return {};
  return ReadPpm(out);
}

// Largest channel difference, or 1000 when the sizes differ.
int MaxDiff(const Picture& a, const Picture& b) {
  if (a.width != b.width || a.height != b.height || a.bpp != b.bpp ||
      a.pixels.size() != b.pixels.size())
    return 1000;
  int d = 0;
  for (size_t i = 0; i < a.pixels.size(); i++)
    d = std::max(d, std::abs(a.pixels[i] - b.pixels[i]));
  return d;
}

std::string Size(const Picture& p) {
  return std::to_string(p.width) + "x" + std::to_string(p.height) + "x" +
         std::to_string(p.bpp);
}

struct PeerCase {
  const char* name;
  std::function<void(QorHandle)> apply;
  std::string ops;  // "%s" stands for the second picture's file
  int tolerance;
};

class HostImgProc : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Lib().handle(), nullptr) << Lib().error();
    ASSERT_NE(QOR_GET(QorImgAlloc), nullptr) << "image exports missing";
  }
};

}  // namespace

TEST_F(HostImgProc, GeometryAndTonesAgreeWithImageMagick) {
  REQUIRE_PEER("convert");
  ScratchDir dir;
  const Picture src = Pattern(7, 5);
  Picture small = Pattern(2, 3);
  for (auto& v : small.pixels) v = static_cast<uint8_t>(255 - v);
  WritePpm(dir.File("small.ppm"), small);
  QorHandle smallImg = MakeImage(small);
  uint8_t negate[256];
  for (int i = 0; i < 256; i++) negate[i] = static_cast<uint8_t>(255 - i);

  const PeerCase cases[] = {
      {"flip", [](QorHandle h) { QOR_GET(QorImgFlipVertical)(h); }, "-flip", 0},
      {"flop", [](QorHandle h) { QOR_GET(QorImgFlipHorizontal)(h); }, "-flop", 0},
      {"rotate 1", [](QorHandle h) { QOR_GET(QorImgRotate)(h, 1); }, "-rotate 90", 0},
      {"rotate 2", [](QorHandle h) { QOR_GET(QorImgRotate)(h, 2); }, "-rotate 180", 0},
      {"rotate 3", [](QorHandle h) { QOR_GET(QorImgRotate)(h, 3); }, "-rotate 270", 0},
      {"crop", [](QorHandle h) { QOR_GET(QorImgCrop)(h, 2, 1, 3, 3); },
       "-crop 3x3+2+1 +repage", 0},
      {"crop past the edge", [](QorHandle h) { QOR_GET(QorImgCrop)(h, 5, 3, 10, 10); },
       "-crop 10x10+5+3 +repage", 0},
      {"resize x2", [](QorHandle h) { QOR_GET(QorImgResize)(h, 14, 10); },
       "-sample 14x10!", 0},
      {"insert", [&](QorHandle h) { QOR_GET(QorImgInsert)(h, smallImg, 4, 3); },
       "'" + dir.File("small.ppm") + "' -geometry +4+3 -composite", 0},
      {"border", [](QorHandle h) {
         QOR_GET(QorImgBorder)(h, 1, 2, 3, 0, QOR_GET(QorRGB)(10, 20, 30));
       },
       "-background 'rgb(10,20,30)' -splice 1x2 -gravity SouthEast -splice 3x0", 0},
      {"remap", [&](QorHandle h) { QOR_GET(QorImgRemap)(h, negate, negate, negate); },
       "-negate", 0},
      {"brightness", [](QorHandle h) { QOR_GET(QorImgBrightness)(h, 20, -40, 0); },
       "-channel R -evaluate add 20% -channel G -evaluate subtract 40% +channel", 0},
      {"gamma", [](QorHandle h) { QOR_GET(QorImgGamma)(h, 2.2, 1.0, 0.5); },
       "-channel R -gamma 2.2 -channel B -gamma 0.5 +channel", 1},
  };
  for (const PeerCase& c : cases) {
    SCOPED_TRACE(c.name);
    QorHandle img = MakeImage(src);
    c.apply(img);
    EXPECT_EQ(0, Outcome().code);
    const Picture got = Read(img);
    const Picture want = Peer(dir, src, c.ops);
    ASSERT_FALSE(want.pixels.empty());
    EXPECT_LE(MaxDiff(got, want), c.tolerance)
        << Size(got) << " against " << Size(want);
    QOR_GET(QorImgFree)(img);
  }
  QOR_GET(QorImgFree)(smallImg);
}

TEST_F(HostImgProc, FiltersMatchTheirKernelsInside) {
  REQUIRE_PEER("convert");
  ScratchDir dir;
  const Picture src = Pattern(9, 8);
  struct Filter {
    void (*apply)(QorHandle);
    const char* kernel;
  };
  const Filter filters[] = {
      {[](QorHandle h) { QOR_GET(QorImgSoften)(h); },
       "3x3: 0.0625,0.0625,0.0625 0.0625,0.5,0.0625 0.0625,0.0625,0.0625"},
      {[](QorHandle h) { QOR_GET(QorImgSharpen)(h); },
       "3x3: 0,-0.25,0 -0.25,2,-0.25 0,-0.25,0"},
      {[](QorHandle h) { QOR_GET(QorImgFindEdges)(h); },
       "3x3: -1,-3,-1 -3,16,-3 -1,-3,-1"},
      {[](QorHandle h) { QOR_GET(QorImgEdgeEnhance)(h); },
       "3x3: -0.25,-0.5,-0.25 -0.5,4,-0.5 -0.25,-0.5,-0.25"},
  };
  for (const Filter& f : filters) {
    SCOPED_TRACE(f.kernel);
    QorHandle img = MakeImage(src);
    f.apply(img);
    EXPECT_EQ(0, Outcome().code);
    const Picture got = Read(img);
    const Picture want =
        Peer(dir, src, std::string("-define convolve:scale=1 -morphology Convolve '") +
                           f.kernel + "'");
    ASSERT_EQ(Size(got), Size(want));
    // The border rows and columns are each filter's own business.
    for (int32_t y = 1; y < src.height - 1; y++)
      for (int32_t x = 1; x < src.width - 1; x++)
        for (int c = 0; c < 3; c++) {
          const size_t i = static_cast<size_t>((y * src.width + x) * 3 + c);
          EXPECT_NEAR(got.pixels[i], want.pixels[i], 1) << x << "," << y;
        }
    QOR_GET(QorImgFree)(img);
  }
}

TEST_F(HostImgProc, LoadProcessSaveAsThePeerDoes) {
  REQUIRE_PEER("convert");
  ScratchDir dir;
  const std::string png = dir.File("in.png");
  ASSERT_EQ(0, Shell("convert -size 31x17 gradient:red-blue -depth 8 PNG24:'" + png + "'"));
  ASSERT_EQ(0, Shell("convert '" + png + "' -rotate 90 -flop -depth 8 '" +
                     dir.File("want.ppm") + "'"));
  QorHandle img = QOR_GET(QorImgAlloc)();
  ASSERT_EQ(0, QOR_GET(QorImgLoadSingle)(img, png.c_str(), 0));
  QOR_GET(QorImgRotate)(img, 1);
  QOR_GET(QorImgFlipHorizontal)(img);
  EXPECT_EQ(0, Outcome().code);
  EXPECT_EQ(0, MaxDiff(Read(img), ReadPpm(dir.File("want.ppm"))));
  // Saved and decoded by the peer: the same pixels.
  const std::string bmp = dir.File("out.bmp");
  ASSERT_EQ(0, QOR_GET(QorImgSaveSingle)(img, bmp.c_str(), K_AUTO));
  ASSERT_EQ(0, Shell("convert '" + bmp + "' -depth 8 '" + dir.File("got.ppm") + "'"));
  EXPECT_EQ(0, MaxDiff(ReadPpm(dir.File("got.ppm")), ReadPpm(dir.File("want.ppm"))));
  // Saturation -100 leaves grey: all three channels alike.
  QOR_GET(QorImgSaturation)(img, -100);
  const Picture grey = Read(img);
  QOR_GET(QorImgFree)(img);
  ASSERT_EQ("17x31x24", Size(grey));
  for (size_t i = 0; i < grey.pixels.size(); i += 3) {
    EXPECT_EQ(grey.pixels[i], grey.pixels[i + 1]);
    EXPECT_EQ(grey.pixels[i], grey.pixels[i + 2]);
  }
}

TEST_F(HostImgProc, HandWorkedResults) {
  // Deinterlace (0, 0): rows 0, 2, 4 stay and are repeated below.
  const Picture src = Pattern(4, 5);
  QorHandle img = MakeImage(src);
  QOR_GET(QorImgDeinterlace)(img, 0, 0);
  EXPECT_EQ(0, Outcome().code);
  Picture got = Read(img);
  const size_t row = 4 * 3;
  for (size_t y = 0; y < 5; y++)
    EXPECT_EQ(0, std::memcmp(&got.pixels[y * row], &src.pixels[(y - y % 2) * row], row))
        << y;

  // White balance: the reference colour becomes neutral grey, its largest
  // channel less a ninth of the channels' shortfalls: 200 - 250 / 9.
  const Picture tone{2, 1, 24, {50, 100, 200, 77, 200, 100}, {}};
  QOR_GET(QorImgSetPixels)(img, 2, 1, 24, tone.pixels.data(), nullptr);
  QOR_GET(QorImgWhiteBalance)(img, 200, 100, 50);
  EXPECT_EQ(0, Outcome().code);
  got = Read(img);
  EXPECT_EQ((std::vector<uint8_t>{172, 172, 172}),
            std::vector<uint8_t>(got.pixels.begin(), got.pixels.begin() + 3));
  // Contrast 50 moves 100 to 100 - 1 - 50 x 27 / 100 = 86; -50 moves 200
  // to 200 - 1 - 50 x 72 / 100 = 163; 0 keeps 77.
  QOR_GET(QorImgSetPixels)(img, 2, 1, 24, tone.pixels.data(), nullptr);
  QOR_GET(QorImgContrast)(img, 50, -50, 0);
  got = Read(img);
  EXPECT_EQ((std::vector<uint8_t>{77, 163, 86}),
            std::vector<uint8_t>(got.pixels.begin() + 3, got.pixels.end()));

  // Resample: 2 x 2 blocks of one colour each average to that colour.
  Picture blocks{8, 6, 24, std::vector<uint8_t>(8 * 6 * 3), {}};
  for (int32_t y = 0; y < 6; y++)
    for (int32_t x = 0; x < 8; x++)
      for (int c = 0; c < 3; c++)
        blocks.pixels[static_cast<size_t>((y * 8 + x) * 3 + c)] =
            static_cast<uint8_t>(30 * (x / 2) + 50 * (y / 2) + 20 * c);
  QOR_GET(QorImgSetPixels)(img, 8, 6, 24, blocks.pixels.data(), nullptr);
  QOR_GET(QorImgResample)(img, 4, 3);
  got = Read(img);
  ASSERT_EQ("4x3x24", Size(got));
  for (int32_t y = 0; y < 3; y++)
    for (int32_t x = 0; x < 4; x++)
      for (int c = 0; c < 3; c++)
        EXPECT_NEAR(got.pixels[static_cast<size_t>((y * 4 + x) * 3 + c)],
                    30 * x + 50 * y + 20 * c, 1);

  // The running average of two flat frames, 10 and 21: 15.
  Picture flat{3, 2, 24, std::vector<uint8_t>(18, 10), {}};
  QOR_GET(QorImgAverageClear)();
  QOR_GET(QorImgSetPixels)(img, 3, 2, 24, flat.pixels.data(), nullptr);
  QOR_GET(QorImgAverageAdd)(img);
  std::fill(flat.pixels.begin(), flat.pixels.end(), 21);
  QOR_GET(QorImgSetPixels)(img, 3, 2, 24, flat.pixels.data(), nullptr);
  QOR_GET(QorImgAverageAdd)(img);
  QorHandle avg = QOR_GET(QorImgAlloc)();
  QOR_GET(QorImgAverageGet)(avg);
  EXPECT_EQ(0, Outcome().code);
  EXPECT_EQ(std::vector<uint8_t>(18, 15), Read(avg).pixels);
  QOR_GET(QorImgFree)(avg);
  QOR_GET(QorImgAverageClear)();
  EXPECT_EQ(0, Outcome().code);

  // Skip empties the image; skipping an empty one keeps it empty.
  QOR_GET(QorImgSkip)(img);
  EXPECT_EQ("0x0x0", Size(Read(img)));
  QOR_GET(QorImgSkip)(img);
  EXPECT_EQ(0, Outcome().code);
  EXPECT_EQ("0x0x0", Size(Read(img)));
  QOR_GET(QorImgFree)(img);
}

TEST_F(HostImgProc, DepthsThatOperationsLeave) {
  // An 8-bit grey image: resizing to its own size and zero borders leave
  // it alone; any border makes it 24 bits.
  Picture grey{4, 3, 8, std::vector<uint8_t>(12), {}};
  for (size_t i = 0; i < 12; i++) grey.pixels[i] = static_cast<uint8_t>(i * 20);
  QorHandle img = MakeImage(grey);
  QOR_GET(QorImgResize)(img, 4, 3);
  QOR_GET(QorImgResample)(img, 4, 3);
  QOR_GET(QorImgBorder)(img, 0, -7, 0, 0, 0);
  Picture got = Read(img);
  EXPECT_EQ("4x3x8", Size(got));
  EXPECT_EQ(grey.pixels, got.pixels);
  QOR_GET(QorImgBorder)(img, 0, 0, 0, 1, QOR_GET(QorRGB)(1, 2, 3));
  got = Read(img);
  ASSERT_EQ("4x4x24", Size(got));
  EXPECT_EQ(140, got.pixels[(1 * 4 + 3) * 3]);  // grey 140 at (3, 1)
  EXPECT_EQ((std::vector<uint8_t>{3, 2, 1}),
            std::vector<uint8_t>(got.pixels.end() - 3, got.pixels.end()));
  QOR_GET(QorImgBorder)(img, 0, 0, 20000, 0, 0);  // more than 16000 is 16000
  EXPECT_EQ("16004x4x24", Size(Read(img)));

  // A 16-bit image onto the host's palette: 8 bits, that palette, nearest
  // entries. Pixels: red, green, blue, white as 5-6-5 words.
  const uint16_t words[4] = {0xF800, 0x07E0, 0x001F, 0xFFFF};
  Picture hi{4, 1, 16, std::vector<uint8_t>(8), {}};
  std::memcpy(hi.pixels.data(), words, 8);
  std::vector<uint8_t> pal(768, 0x55);
  const uint8_t entries[5][3] = {{0, 0, 0}, {255, 255, 255}, {0, 0, 255},
                                 {0, 255, 0}, {255, 0, 0}};  // B,G,R
  std::memcpy(pal.data(), entries, sizeof entries);
  QOR_GET(QorImgSetPixels)(img, 4, 1, 16, hi.pixels.data(), nullptr);
  // No palette, or no colours at all, is refused and changes nothing.
  QOR_GET(QorImgRemapToCustomPalette)(img, nullptr, 5);
  EXPECT_EQ(999, Outcome().code);
  EXPECT_EQ("4x1x16", Size(Read(img)));
  QOR_GET(QorImgRemapToCustomPalette)(img, pal.data(), 0);
  EXPECT_EQ(1000, Outcome().code);
  EXPECT_EQ(4, Outcome().errClass);
  EXPECT_EQ("4x1x16", Size(Read(img)));
  QOR_GET(QorImgRemapToCustomPalette)(img, pal.data(), 5);
  EXPECT_EQ(0, Outcome().code);
  got = Read(img);
  ASSERT_EQ("4x1x8", Size(got));
  EXPECT_EQ((std::vector<uint8_t>{2, 3, 4, 1}), got.pixels);
  EXPECT_EQ(pal, got.palette);
  // More than 256 colours count as 256: the 0x55 entries join in.
  const uint16_t grey55[1] = {static_cast<uint16_t>((0x55 >> 3) << 11 |
                                                    (0x55 >> 2) << 5 | (0x55 >> 3))};
  QOR_GET(QorImgSetPixels)(img, 1, 1, 16, grey55, nullptr);
  QOR_GET(QorImgRemapToCustomPalette)(img, pal.data(), 1000);
  EXPECT_EQ(0, Outcome().code);
  got = Read(img);
  EXPECT_GE(got.pixels.at(0), 5);
  QOR_GET(QorImgFree)(img);
}

TEST_F(HostImgProc, RefusalsLeaveTheImageAlone) {
  const Picture src = Pattern(5, 4);
  QorHandle img = MakeImage(src);
  // A null table does nothing.
  uint8_t table[256] = {};
  QOR_GET(QorImgRemap)(img, table, nullptr, table);
  EXPECT_EQ(0, Outcome().code);
  EXPECT_EQ(0, MaxDiff(src, Read(img)));
  // What the operations refuse is a library error.
  QOR_GET(QorImgCrop)(img, 0, 0, 0, 3);
  EXPECT_EQ(1000, Outcome().code);
  EXPECT_EQ(7, Outcome().errClass);
  EXPECT_EQ(0, MaxDiff(src, Read(img)));
  // A gamma that is not a number is out of range; infinities are clamped.
  QOR_GET(QorImgGamma)(img, 1.0, std::nan(""), 1.0);
  EXPECT_EQ(1000, Outcome().code);
  EXPECT_EQ(4, Outcome().errClass);
  EXPECT_EQ(1, Outcome().errNum);
  EXPECT_EQ(0, MaxDiff(src, Read(img)));
  QorHandle infinite = MakeImage(src);
  QOR_GET(QorImgGamma)(infinite, HUGE_VAL, 1.0, -HUGE_VAL);
  EXPECT_EQ(0, Outcome().code);
  QOR_GET(QorImgFree)(infinite);
  QorHandle empty = QOR_GET(QorImgAlloc)();
  QOR_GET(QorImgSharpen)(empty);
  EXPECT_EQ(1000, Outcome().code);
  QOR_GET(QorImgInsert)(img, empty, 0, 0);
  EXPECT_EQ(1000, Outcome().code);
  EXPECT_EQ(0, MaxDiff(src, Read(img)));
  QOR_GET(QorImgFree)(empty);
  // A good call clears the pending pair before the null handles.
  QOR_GET(QorImgFlipVertical)(img);
  ASSERT_EQ(0, Outcome().code);
  // A null handle anywhere: status 999, nothing else touched.
  const std::function<void()> nullCalls[] = {
      [] { QOR_GET(QorImgGamma)(nullptr, 1, 1, 1); },
      [] { QOR_GET(QorImgBrightness)(nullptr, 1, 1, 1); },
      [] { QOR_GET(QorImgContrast)(nullptr, 1, 1, 1); },
      [] { QOR_GET(QorImgSaturation)(nullptr, 1); },
      [] { QOR_GET(QorImgWhiteBalance)(nullptr, 1, 1, 1); },
      [] { QOR_GET(QorImgSoften)(nullptr); },
      [] { QOR_GET(QorImgSharpen)(nullptr); },
      [] { QOR_GET(QorImgFindEdges)(nullptr); },
      [] { QOR_GET(QorImgEdgeEnhance)(nullptr); },
      [] { QOR_GET(QorImgResize)(nullptr, 2, 2); },
      [] { QOR_GET(QorImgResample)(nullptr, 2, 2); },
      [] { QOR_GET(QorImgBorder)(nullptr, 1, 1, 1, 1, 0); },
      [&] { QOR_GET(QorImgRemap)(nullptr, table, table, table); },
      [] { QOR_GET(QorImgCrop)(nullptr, 0, 0, 1, 1); },
      [] { QOR_GET(QorImgRotate)(nullptr, 1); },
      [] { QOR_GET(QorImgFlipVertical)(nullptr); },
      [] { QOR_GET(QorImgFlipHorizontal)(nullptr); },
      [&] { QOR_GET(QorImgInsert)(nullptr, img, 0, 0); },
      [&] { QOR_GET(QorImgInsert)(img, nullptr, 0, 0); },
      [] { QOR_GET(QorImgAverageAdd)(nullptr); },
      [] { QOR_GET(QorImgAverageGet)(nullptr); },
      [] { QOR_GET(QorImgDeinterlace)(nullptr, 0, 0); },
      [&] { QOR_GET(QorImgRemapToCustomPalette)(nullptr, table, 5); },
      [] { QOR_GET(QorImgSkip)(nullptr); },
  };
  Picture flipped = Read(img);
  for (size_t i = 0; i < std::size(nullCalls); i++) {
    nullCalls[i]();
    EXPECT_EQ(999, Outcome().code) << "call " << i;
  }
  EXPECT_EQ(0, MaxDiff(flipped, Read(img)));
  QOR_GET(QorImgFree)(img);
}
