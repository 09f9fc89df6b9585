// The font layer: Windows size rules, face resolution with fallback,
// integer advances, and drawing into a monochrome bitmap. Glyph shapes
// differ between machines, so only structure is compared.
#include "platform/GdiText.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/TestUtil.h"

namespace {

struct Dc {
  GdiText::HDC dc = GdiText::CreateCompatibleDC(nullptr);
  GdiText::HFONT font = nullptr;
  GdiText::HFONT old = nullptr;
  ~Dc() {
    GdiText::SelectObject(dc, old);
    if (font) GdiText::DeleteObject(font);
    GdiText::DeleteDC(dc);
  }
  bool Font(int32_t height, const char* face, int32_t weight = GdiText::FW_NORMAL,
            uint32_t italic = 0, uint32_t underline = 0,
            uint32_t strike = 0) {
    GdiText::SelectObject(dc, old);
    if (font) GdiText::DeleteObject(font);
    font = GdiText::CreateFontA(height, 0, 0, 0, weight, italic, underline, strike,
                            GdiText::ANSI_CHARSET, GdiText::OUT_TT_PRECIS,
                            GdiText::CLIP_DEFAULT_PRECIS, GdiText::DRAFT_QUALITY,
                            GdiText::DEFAULT_PITCH, face);
    if (font) old = GdiText::SelectObject(dc, font);
    return font != nullptr;
  }
  GdiText::SIZE Extent(const std::string& text) {
    GdiText::SIZE size;
    EXPECT_TRUE(GdiText::GetTextExtentPoint32A(
        dc, text.c_str(), static_cast<int32_t>(text.size()), &size));
    return size;
  }
  GdiText::TEXTMETRICA Metrics() {
    GdiText::TEXTMETRICA tm;
    EXPECT_TRUE(GdiText::GetTextMetricsA(dc, &tm));
    return tm;
  }
  std::string Face() {
    char name[128];
    GdiText::GetTextFaceA(dc, sizeof name, name);
    return name;
  }
};

bool LiberationInstalled() {
  return std::filesystem::exists(
      "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf");
}

// Draws text at (x, y) into a fresh bitmap and returns one byte per pixel.
std::vector<uint8_t> Draw(Dc& d, int32_t w, int32_t h, const std::string& text,
                          int32_t x, int32_t y, int32_t mode,
                          GdiText::COLORREF textColour, GdiText::COLORREF back,
                          int32_t fillBrush) {
  GdiText::HBITMAP bm = GdiText::CreateCompatibleBitmap(d.dc, w, h);
  GdiText::HBITMAP oldBm = GdiText::SelectObject(d.dc, bm);
  const GdiText::RECT all{0, 0, w, h};
  GdiText::FillRect(d.dc, &all, GdiText::GetStockObject(fillBrush));
  GdiText::SetBkMode(d.dc, mode);
  GdiText::SetTextColor(d.dc, textColour);
  GdiText::SetBkColor(d.dc, back);
  GdiText::TextOutA(d.dc, x, y, text.c_str(), static_cast<int32_t>(text.size()));
  GdiText::BITMAP info;
  GdiText::GetObjectA(bm, sizeof info, &info);
  std::vector<uint8_t> bits(static_cast<size_t>(info.bmWidthBytes) * h);
  GdiText::GetBitmapBits(bm, static_cast<int32_t>(bits.size()), bits.data());
  std::vector<uint8_t> px(static_cast<size_t>(w) * h);
  for (int32_t r = 0; r < h; r++)
    for (int32_t c = 0; c < w; c++)
      px[r * w + c] = (bits[r * info.bmWidthBytes + c / 8] >> (7 - c % 8)) & 1;
  GdiText::SelectObject(d.dc, oldBm);
  GdiText::DeleteObject(bm);
  return px;
}

}  // namespace

TEST(GdiText, ArialAndMsSansSerifResolveToMetricCompatibleFaces) {
  if (!LiberationInstalled()) GTEST_SKIP() << "fonts-liberation not installed";
  Dc d;
  // The face itself where a machine has it, else its metric twin.
  ASSERT_TRUE(d.Font(16, "Arial"));
  EXPECT_TRUE(d.Face() == "Liberation Sans" || d.Face() == "Arial") << d.Face();
  ASSERT_TRUE(d.Font(16, "MS Sans Serif"));
  EXPECT_TRUE(d.Face() == "Liberation Sans" || d.Face() == "Microsoft Sans Serif")
      << d.Face();
}

TEST(GdiText, MissingFaceFallsBackToADefaultFace) {
  Dc d;
  ASSERT_TRUE(d.Font(16, "No Such Face At All 1234"));
  EXPECT_FALSE(d.Face().empty());
  EXPECT_GT(d.Extent("Hello").cx, 0);
  ASSERT_TRUE(d.Font(16, ""));
  EXPECT_GT(d.Extent("Hello").cx, 0);
}

TEST(GdiText, PositiveHeightIsTheCellNegativeTheEm) {
  Dc d;
  for (int32_t h : {8, 13, 16, 31, 64}) {
    ASSERT_TRUE(d.Font(h, "Arial"));
    const GdiText::TEXTMETRICA tm = d.Metrics();
    EXPECT_EQ(tm.tmHeight, h);
    EXPECT_EQ(tm.tmAscent + tm.tmDescent, h);
    EXPECT_GT(tm.tmInternalLeading, 0);
    EXPECT_EQ(d.Extent("x").cy, h);

    ASSERT_TRUE(d.Font(-h, "Arial"));
    const GdiText::TEXTMETRICA em = d.Metrics();
    EXPECT_EQ(em.tmHeight - em.tmInternalLeading, h);
    EXPECT_GT(em.tmHeight, h);
    EXPECT_EQ(d.Extent("x").cy, em.tmHeight);
  }
  ASSERT_TRUE(d.Font(0, "Arial"));
  EXPECT_EQ(d.Metrics().tmHeight, 16);
}

TEST(GdiText, UnusableHeightsMakeNoFont) {
  Dc d;
  EXPECT_FALSE(d.Font(1000000, "Arial"));
  EXPECT_FALSE(d.Font(INT32_MIN, "Arial"));
}

TEST(GdiText, AdvancesAreWholePixelsWithoutKerning) {
  Dc d;
  ASSERT_TRUE(d.Font(-20, "Arial"));
  const std::string text = "AVAWaToy. Hello";
  int32_t sum = 0;
  for (char c : text) sum += d.Extent(std::string(1, c)).cx;
  EXPECT_EQ(d.Extent(text).cx, sum);
  EXPECT_LT(d.Extent("iiii").cx, d.Extent("WWWW").cx);
  EXPECT_GT(d.Extent("Hello").cx, 0);
  ASSERT_TRUE(d.Font(-40, "Arial"));
  const int32_t big = d.Extent("Hello").cx;
  ASSERT_TRUE(d.Font(-20, "Arial"));
  EXPECT_GT(big, d.Extent("Hello").cx * 3 / 2);
}

TEST(GdiText, BoldIsWider) {
  Dc d;
  ASSERT_TRUE(d.Font(-24, "Arial"));
  const int32_t regular = d.Extent("Hello world").cx;
  ASSERT_TRUE(d.Font(-24, "Arial", GdiText::FW_BOLD));
  EXPECT_GT(d.Extent("Hello world").cx, regular);
  EXPECT_EQ(d.Metrics().tmWeight, GdiText::FW_BOLD);
}

TEST(GdiText, OpaqueBackgroundFillsTheExtentOnly) {
  Dc d;
  ASSERT_TRUE(d.Font(16, "Arial"));
  const GdiText::SIZE ext = d.Extent("Hi");
  const int32_t w = 64, h = 32, x = 5, y = 7;
  // White bitmap, white text on an opaque black background.
  const auto px = Draw(d, w, h, "Hi", x, y, GdiText::OPAQUE, 0xFFFFFF, 0x000000,
                       GdiText::WHITE_BRUSH);
  int black = 0, ink = 0;
  for (int r = 0; r < h; r++)
    for (int c = 0; c < w; c++) {
      const bool inside = c >= x && c < x + ext.cx && r >= y && r < y + ext.cy;
      if (!inside) {
        EXPECT_EQ(px[r * w + c], 1) << c << "," << r;
      } else if (px[r * w + c] == 0) {
        black++;
      } else {
        ink++;
      }
    }
  EXPECT_GT(ink, 10);
  EXPECT_GT(black, ink);
  // Transparent: black text on white keeps every other pixel white.
  const auto tp = Draw(d, w, h, "Hi", x, y, GdiText::TRANSPARENT, 0x000000,
                       0x000000, GdiText::WHITE_BRUSH);
  int dark = 0;
  for (int r = 0; r < h; r++)
    for (int c = 0; c < w; c++)
      if (tp[r * w + c] == 0) {
        dark++;
        EXPECT_EQ(px[r * w + c], 1);  // exactly where the ink was
      }
  EXPECT_EQ(dark, ink);
}

TEST(GdiText, UnderlineAndStrikeOutAreFullRows) {
  Dc d;
  auto fullRows = [&](uint32_t underline, uint32_t strike) {
    EXPECT_TRUE(d.Font(-30, "Arial", GdiText::FW_NORMAL, 0, underline, strike));
    const GdiText::SIZE ext = d.Extent("Hello");
    const auto px = Draw(d, 96, ext.cy, "Hello", 0, 0, GdiText::OPAQUE, 0xFFFFFF,
                         0, GdiText::BLACK_BRUSH);
    std::vector<int> rows;
    for (int r = 0; r < ext.cy; r++) {
      bool full = true;
      for (int c = 0; c < ext.cx; c++) full = full && px[r * 96 + c];
      for (int c = ext.cx; c < 96; c++) EXPECT_EQ(px[r * 96 + c], 0);
      if (full) rows.push_back(r);
    }
    return rows;
  };
  ASSERT_TRUE(d.Font(-30, "Arial"));
  const GdiText::TEXTMETRICA tm = d.Metrics();
  EXPECT_TRUE(fullRows(0, 0).empty());
  const auto under = fullRows(1, 0);
  ASSERT_FALSE(under.empty());
  for (int r : under) EXPECT_GE(r, tm.tmAscent);  // below the baseline
  const auto strike = fullRows(0, 1);
  ASSERT_FALSE(strike.empty());
  for (int r : strike) {
    EXPECT_LT(r, tm.tmAscent);
    EXPECT_GT(r, tm.tmInternalLeading);
  }
}

TEST(GdiText, BitmapRowsArePaddedTo4BytesMostSignificantBitFirst) {
  Dc d;
  GdiText::HBITMAP bm = GdiText::CreateCompatibleBitmap(d.dc, 33, 2);
  ASSERT_NE(bm, nullptr);
  GdiText::BITMAP info;
  ASSERT_EQ(GdiText::GetObjectA(bm, sizeof info, &info),
            static_cast<int32_t>(sizeof info));
  EXPECT_EQ(info.bmBitsPixel, 1);
  EXPECT_EQ(info.bmWidthBytes, 8);
  GdiText::HBITMAP old = GdiText::SelectObject(d.dc, bm);
  const GdiText::RECT one{0, 1, 1, 2};
  GdiText::FillRect(d.dc, &one, GdiText::GetStockObject(GdiText::WHITE_BRUSH));
  uint8_t bits[16] = {};
  EXPECT_EQ(GdiText::GetBitmapBits(bm, sizeof bits, bits), 16);
  EXPECT_EQ(bits[8], 0x80);
  EXPECT_EQ(bits[0], 0);
  GdiText::SelectObject(d.dc, old);
  GdiText::DeleteObject(bm);
  EXPECT_EQ(GdiText::CreateCompatibleBitmap(d.dc, 0, 5), nullptr);
}

// ImageMagick measures the same face at the same em through its own text
// layer; the widths agree to within a pixel or two of rounding.
TEST(GdiText, WidthAgreesWithImageMagick) {
  const char* font =
      "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf";
  if (!LiberationInstalled()) GTEST_SKIP() << "fonts-liberation not installed";
  if (!TestUtil::HaveTool("convert")) GTEST_SKIP() << "ImageMagick not installed";
  Dc d;
  for (int em : {12, 20, 33}) {
    const std::string cmd =
        "convert -debug annotate xc: -font " + std::string(font) +
        " -density 72 -pointsize " + std::to_string(em) +
        " -annotate 0 'Hello World' null: 2>&1";
    FILE* pipe = popen(cmd.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, pipe)) out += buf;
    pclose(pipe);
    const size_t at = out.find("Metrics: text: Hello World; width: ");
    if (at == std::string::npos) GTEST_SKIP() << "no metrics from ImageMagick";
    const double theirs = std::atof(out.c_str() + at + 35);
    ASSERT_TRUE(d.Font(-em, "Arial"));
    EXPECT_NEAR(d.Extent("Hello World").cx, theirs, 2.0) << "em " << em;
  }
}

TEST(GdiText, FontsStartAgainAfterRelease) {
  {
    Dc d;
    ASSERT_TRUE(d.Font(16, "Arial"));
  }
  GdiText::FontsRelease();
  GdiText::FontsRelease();  // twice is harmless
  Dc d;
  ASSERT_TRUE(d.Font(16, "Arial"));
  EXPECT_GT(d.Extent("Hello").cx, 0);
}
