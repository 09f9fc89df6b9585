// Text sprites. Fonts differ between machines, so the tests compare the
// structure of what is drawn (sizes, where ink, shadow and background may
// be) against the glyph sprite the same machine renders, never glyph bytes.
#include "media/TextGen.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "foundation/Basic.h"
#include "foundation/Errors.h"

using ImgBasic::Qimg;
using TextGen::TextAttrRec;

namespace {

TextAttrRec Attr() {
  TextAttrRec a;
  TextGen::Text_Init(&a);
  return a;
}

uint8_t Px(const Qimg& img, int64_t x, int64_t y) {
  return img.data[y * img.width + x];
}

const uint8_t* Px24(const Qimg& img, int64_t x, int64_t y) {
  return img.data + (y * img.width + x) * img.bytesPerPixel;
}

// The glyph sprite of text with no effect, as Text_Render makes it.
Qimg Glyph(const char* text, TextAttrRec a) {
  a.effect = TextGen::kEffectNone;
  Qimg img;
  TextGen::Text_Render(&img, text, &a);
  return img;
}

int64_t Count(const Qimg& img, uint8_t index) {
  int64_t n = 0;
  for (int64_t i = 0; i < int64_t{img.width} * img.height; i++)
    n += img.data[i] == index;
  return n;
}

Qimg Filled24(int w, int h, uint8_t b, uint8_t g, uint8_t r) {
  Qimg img;
  ImgBasic::_imgalloc_(&img, w, h, "test", __LINE__, 24);
  for (int64_t i = 0; i < int64_t{w} * h; i++) {
    img.data[i * 3] = b, img.data[i * 3 + 1] = g, img.data[i * 3 + 2] = r;
  }
  return img;
}

}  // namespace

TEST(TextGen, RecordLayoutAndDefaults) {
  EXPECT_EQ(sizeof(TextAttrRec), 133u);
  EXPECT_EQ(offsetof(TextAttrRec, size), 65u);
  EXPECT_EQ(offsetof(TextAttrRec, backColour), 101u);
  EXPECT_EQ(offsetof(TextAttrRec, transparent), 113u);
  EXPECT_EQ(offsetof(TextAttrRec, textHeight), 129u);
  const TextAttrRec a = Attr();
  EXPECT_EQ(a.fontNameLength, 5);
  EXPECT_EQ(TextGen::FontName(&a), "Arial");
  EXPECT_EQ(+a.size, 16);
  EXPECT_EQ(+a.style, 0);
  EXPECT_EQ(+a.shadowDx, 1);
  EXPECT_EQ(+a.shadowDy, 1);
  EXPECT_EQ(+a.backIndex, 0);
  EXPECT_EQ(+a.textIndex, 1);
  EXPECT_EQ(+a.shadowIndex, 2);
  EXPECT_EQ(+a.effect, 0);
  EXPECT_EQ(+a.backColour, 0xFFFFFFu);
  EXPECT_EQ(+a.textColour, 0u);
  EXPECT_EQ(+a.shadowColour, 0x808080u);
  EXPECT_EQ(+a.transparent, -1);
  EXPECT_EQ(+a.spriteWidth + +a.spriteHeight + +a.textWidth + +a.textHeight, 0);
}

TEST(TextGen, CreateTextImgFromBits) {
  TextAttrRec a = Attr();
  a.backIndex = 9;
  a.textIndex = 4;
  // Two rows of 10 pixels, each padded to 4 bytes.
  const uint8_t bits[8] = {0xA0, 0x40, 0xFF, 0xFF, 0x00, 0x80, 0, 0};
  Qimg img;
  TextGen::CreateTextImg(&img, 10, 2, &a, bits, 1);
  ASSERT_EQ(img.bitsPerPixel, 8);
  const uint8_t row0[10] = {4, 9, 4, 9, 9, 9, 9, 9, 9, 4};
  const uint8_t row1[10] = {9, 9, 9, 9, 9, 9, 9, 9, 4, 9};
  EXPECT_EQ(0, std::memcmp(img.data, row0, 10));
  EXPECT_EQ(0, std::memcmp(img.data + 10, row1, 10));
  EXPECT_THROW(TextGen::CreateTextImg(&img, 10, 2, &a, bits, 8), Errors::EMon);
  ImgBasic::ImgFree(&img);
}

TEST(TextGen, GlyphSpriteIsTheExtentRaisedTo32Pixels) {
  TextAttrRec a = Attr();
  a.transparent = 0;
  Qimg img = Glyph("I", a);
  int32_t w = 0, h = 0;
  TextGen::Text_GetExtent("I", &a, w, h);
  ASSERT_GT(w, 0);
  ASSERT_LT(w, 32);
  EXPECT_EQ(h, 16);  // a cell of 16
  EXPECT_EQ(img.width, 32);
  EXPECT_EQ(img.height, h);
  // Columns beyond the glyph are background.
  for (int y = 0; y < img.height; y++)
    for (int x = w; x < img.width; x++) EXPECT_EQ(Px(img, x, y), 0);
  EXPECT_GT(Count(img, 1), 0);
  EXPECT_EQ(Count(img, 1) + Count(img, 0), int64_t{img.width} * img.height);
  // Palette: background white, text black, shadow grey.
  EXPECT_EQ(img.palette[0], 255);
  EXPECT_EQ(img.palette[3], 0);
  EXPECT_EQ(img.palette[6], 128);
  EXPECT_EQ(img.palette[9], 0);  // the rest stays zero
  ImgBasic::ImgFree(&img);

  Qimg wide = Glyph("Hello, wide world", a);
  TextGen::Text_GetExtent("Hello, wide world", &a, w, h);
  EXPECT_EQ(wide.width, (w + 31) / 32 * 32);
  ImgBasic::ImgFree(&wide);
}

TEST(TextGen, InkStaysInsideTheExtent) {
  for (int32_t style : {int32_t{0}, int32_t{TextGen::kStyleBold}, int32_t{TextGen::kStyleUnderline},
                        int32_t{TextGen::kStyleStrikeOut}}) {
    TextAttrRec a = Attr();
    a.style = style;
    a.size = -21;
    Qimg img = Glyph("Hello World", a);
    int32_t w = 0, h = 0;
    TextGen::Text_GetExtent("Hello World", &a, w, h);
    int64_t ink = 0;
    for (int y = 0; y < img.height; y++)
      for (int x = 0; x < img.width; x++)
        if (Px(img, x, y) == a.textIndex) {
          ink++;
          EXPECT_LT(x, w) << "style " << style;
        }
    EXPECT_GT(ink, 50);
    ImgBasic::ImgFree(&img);
  }
}

TEST(TextGen, ExtentOfAKnownStringFollowsTheSizeRules) {
  TextAttrRec a = Attr();
  int32_t w1 = 0, h1 = 0, w2 = 0, h2 = 0, wh = 0, hh = 0, wi = 0, hi = 0;
  a.size = 20;
  TextGen::Text_GetExtent("Hello World", &a, w1, h1);
  TextGen::Text_GetExtent("Hello", &a, wh, hh);
  EXPECT_EQ(h1, 20);
  EXPECT_EQ(hh, 20);
  // Integer advances: "Hello" is "Hel" then "lo".
  TextGen::Text_GetExtent("Hel", &a, wi, hi);
  TextGen::Text_GetExtent("lo", &a, w2, h2);
  EXPECT_EQ(wh, wi + w2);
  a.size = -20;
  TextGen::Text_GetExtent("Hello World", &a, w2, h2);
  EXPECT_GT(h2, 20);  // the em is 20, the cell taller
  EXPECT_GT(w2, w1);
  // The effect does not change the extent.
  a.effect = TextGen::kEffectBorder;
  a.shadowDx = a.shadowDy = 5;
  TextGen::Text_GetExtent("Hello World", &a, wi, hi);
  EXPECT_EQ(wi, w2);
  EXPECT_EQ(hi, h2);
  TextGen::Text_GetExtent("", &a, wi, hi);
  EXPECT_EQ(wi, 0);
  EXPECT_EQ(hi, 0);
}

TEST(TextGen, DropShadowAtNegativeDx) {
  TextAttrRec a = Attr();
  a.size = -18;
  const Qimg g = Glyph("Tx", a);
  a.effect = TextGen::kEffectShadow;
  a.shadowDx = -3;
  a.shadowDy = 2;
  Qimg s;
  TextGen::Text_Render(&s, "Tx", &a);
  ASSERT_EQ(s.width, g.width + 3);
  ASSERT_EQ(s.height, g.height + 2);
  EXPECT_EQ(+a.spriteWidth, s.width);
  EXPECT_EQ(+a.spriteHeight, s.height);
  const uint8_t T = 1, S = 2, B = 0;
  auto glyphInk = [&](int64_t x, int64_t y) {
    return x >= 0 && y >= 0 && x < g.width && y < g.height && Px(g, x, y) == T;
  };
  int64_t shadow = 0;
  for (int64_t y = 0; y < s.height; y++)
    for (int64_t x = 0; x < s.width; x++) {
      // The text sits at (3, 0), its shadow at (0, 2) under it.
      const uint8_t want = glyphInk(x - 3, y) ? T : glyphInk(x, y - 2) ? S : B;
      EXPECT_EQ(Px(s, x, y), want) << x << "," << y;
      shadow += Px(s, x, y) == S;
    }
  EXPECT_GT(shadow, 0);
  // The leftmost ink pixel's shadow is never covered by text.
  for (int64_t x = 0; x < g.width; x++) {
    int64_t y = 0;
    while (y < g.height && !glyphInk(x, y)) y++;
    if (y == g.height) continue;
    EXPECT_EQ(Px(s, x + 3, y), T);
    EXPECT_EQ(Px(s, x, y + 2), S);
    break;
  }
  ImgBasic::ImgFree(const_cast<Qimg*>(&g));
  ImgBasic::ImgFree(&s);
}

TEST(TextGen, BorderIsClampedTo8AndSurroundsTheInk) {
  TextAttrRec a = Attr();
  a.size = -16;
  a.textColour = 0x0000FF;
  const Qimg g = Glyph("Ok", a);
  a.effect = TextGen::kEffectBorder;
  a.shadowDx = 20;
  a.shadowDy = -1;
  Qimg s;
  TextGen::Text_Render(&s, "Ok", &a);
  ASSERT_EQ(s.width, g.width + 16);
  ASSERT_EQ(s.height, g.height + 2);
  const uint8_t T = 1, S = 2, B = 0;
  auto glyphInk = [&](int64_t x, int64_t y) {
    return x >= 0 && y >= 0 && x < g.width && y < g.height && Px(g, x, y) == T;
  };
  for (int64_t y = 0; y < s.height; y++)
    for (int64_t x = 0; x < s.width; x++) {
      bool near = false;
      for (int64_t i = 0; i <= 2 && !near; i++)
        for (int64_t j = 0; j <= 16 && !near; j++)
          near = glyphInk(x - j, y - i);
      const uint8_t want = glyphInk(x - 8, y - 1) ? T : near ? S : B;
      EXPECT_EQ(Px(s, x, y), want) << x << "," << y;
    }
  // The palette holds the three colours again.
  EXPECT_EQ(s.palette[T * 3 + 2], 255);
  EXPECT_EQ(s.palette[S * 3], 128);
  ImgBasic::ImgFree(const_cast<Qimg*>(&g));
  ImgBasic::ImgFree(&s);
}

TEST(TextGen, TransparentRenderMovesTheBackgroundIndex) {
  TextAttrRec a = Attr();
  a.textIndex = 0;
  a.shadowIndex = 1;
  a.backIndex = 0;
  Qimg s;
  TextGen::Text_Render(&s, "A", &a);
  EXPECT_EQ(+a.backIndex, 2);
  EXPECT_GT(Count(s, 0), 0);
  EXPECT_EQ(Count(s, 0) + Count(s, 2), int64_t{s.width} * s.height);
  EXPECT_EQ(s.palette[6], 255);  // white background at its new index
  ImgBasic::ImgFree(&s);
}

TEST(TextGen, EmptyTextWritesNothing) {
  TextAttrRec a = Attr();
  a.spriteWidth = 7;
  Qimg img = Filled24(4, 4, 1, 2, 3);
  TextGen::Text_Write(&img, "", 0, &a, 0);
  EXPECT_EQ(+a.spriteWidth, 0);
  EXPECT_EQ(+a.spriteHeight, 0);
  EXPECT_EQ(img.width, 4);
  EXPECT_EQ(Px24(img, 0, 0)[2], 3);
  Qimg empty;
  TextGen::Text_Write(&empty, "", 0, &a, 0);
  EXPECT_FALSE(ImgBasic::ImgIsValid(&empty));
  ImgBasic::ImgFree(&img);
}

TEST(TextGen, TransparentWriteOn24BitsKeepsTheBackground) {
  TextAttrRec a = Attr();
  a.textColour = 0x0000FF;  // red
  const Qimg g = Glyph("Hi", a);
  Qimg img = Filled24(80, 40, 10, 20, 30);
  const int x0 = 5, y0 = 6;
  TextGen::Text_Write(&img, "Hi", x0, &a, y0);
  EXPECT_EQ(+a.backColour, 0u);  // first of 0, 64, ... not used by text/shadow
  ASSERT_EQ(img.bitsPerPixel, 24);
  ASSERT_EQ(img.width, 80);
  for (int64_t y = 0; y < img.height; y++)
    for (int64_t x = 0; x < img.width; x++) {
      const uint8_t* p = Px24(img, x, y);
      const bool ink = x >= x0 && y >= y0 && x - x0 < g.width &&
                       y - y0 < g.height && Px(g, x - x0, y - y0) == 1;
      if (ink) {
        EXPECT_TRUE(p[0] == 0 && p[1] == 0 && p[2] == 255) << x << "," << y;
      } else {
        EXPECT_TRUE(p[0] == 10 && p[1] == 20 && p[2] == 30) << x << "," << y;
      }
    }
  ImgBasic::ImgFree(const_cast<Qimg*>(&g));
  ImgBasic::ImgFree(&img);
}

TEST(TextGen, OpaqueWriteCoversTheSpriteRectangle) {
  TextAttrRec a = Attr();
  a.transparent = 0;
  a.textColour = 0x00FF00;   // green
  a.backColour = 0xFF0000;   // blue
  Qimg img = Filled24(80, 40, 10, 20, 30);
  const int x0 = 3, y0 = 4;
  TextGen::Text_Write(&img, "Hi", x0, &a, y0);
  ASSERT_EQ(img.bitsPerPixel, 24);
  const int64_t sw = a.spriteWidth, sh = a.spriteHeight;
  ASSERT_EQ(sw, 32);
  int64_t back = 0, ink = 0;
  for (int64_t y = 0; y < img.height; y++)
    for (int64_t x = 0; x < img.width; x++) {
      const uint8_t* p = Px24(img, x, y);
      if (x >= x0 && y >= y0 && x < x0 + sw && y < y0 + sh) {
        if (p[0] == 255 && p[1] == 0 && p[2] == 0) back++;
        else if (p[0] == 0 && p[1] == 255 && p[2] == 0) ink++;
        else ADD_FAILURE() << x << "," << y;
      } else {
        EXPECT_TRUE(p[0] == 10 && p[1] == 20 && p[2] == 30) << x << "," << y;
      }
    }
  EXPECT_GT(ink, 0);
  EXPECT_EQ(back + ink, sw * sh);
  ImgBasic::ImgFree(&img);
}

TEST(TextGen, WriteClipsAtTheRightAndBottomEdges) {
  TextAttrRec a = Attr();
  a.transparent = 0;
  Qimg img = Filled24(40, 20, 1, 1, 1);
  TextGen::Text_Write(&img, "Hello there", 30, &a, 12);
  EXPECT_EQ(img.width, 40);
  EXPECT_EQ(img.height, 20);
  // Everything left of and above the position is untouched.
  for (int64_t y = 0; y < 20; y++)
    for (int64_t x = 0; x < 40; x++)
      if (x < 30 || y < 12) {
        EXPECT_EQ(Px24(img, x, y)[0], 1);
      }
  EXPECT_EQ(Px24(img, 39, 19)[0] != 1, true);
  // Beyond the edges, and before them, nothing is pasted.
  Qimg before;
  ImgBasic::ImgCopy(&img, &before);
  TextGen::Text_Write(&img, "Hello", 40, &a, 0);
  TextGen::Text_Write(&img, "Hello", 0, &a, 20);
  EXPECT_EQ(0, std::memcmp(img.data, before.data, 40 * 20 * 3));
  // Left of the image, the part that falls inside is pasted, clipped.
  TextGen::Text_Write(&img, "Hello", -3, &a, 0);
  EXPECT_NE(0, std::memcmp(img.data, before.data, 40 * 20 * 3));
  EXPECT_EQ(img.width, 40);
  ImgBasic::ImgFree(&img);
  ImgBasic::ImgFree(&before);
}

TEST(TextGen, BackgroundColourSkipsTextAndShadowColours) {
  TextAttrRec a = Attr();
  a.textColour = 0;
  a.shadowColour = 64;
  Qimg img = Filled24(40, 20, 0, 0, 0);
  TextGen::Text_Write(&img, "x", 0, &a, 0);
  EXPECT_EQ(+a.backColour, 128u);
  // Background pixels were skipped: black text on black stays black, and
  // no pixel took the red 128 of the background.
  for (int64_t i = 0; i < 40 * 20; i++) EXPECT_EQ(img.data[i * 3 + 2], 0);
  ImgBasic::ImgFree(&img);
}

TEST(TextGen, WritingIntoAnEmptyImageGivesTheSpriteSize) {
  TextAttrRec a = Attr();
  a.effect = TextGen::kEffectShadow;
  a.shadowDx = 2;
  a.shadowDy = 3;
  Qimg img;
  TextGen::Text_Write(&img, "Yes", 0, &a, 0);
  ASSERT_TRUE(ImgBasic::ImgIsValid(&img));
  EXPECT_EQ(img.width, +a.spriteWidth);
  EXPECT_EQ(img.height, +a.spriteHeight);
  EXPECT_EQ(img.height, +a.textHeight + 3);
  EXPECT_EQ(img.bitsPerPixel, 24);
  ImgBasic::ImgFree(&img);

  a.transparent = 0;
  TextGen::Text_Write(&img, "Yes", 0, &a, 0);
  EXPECT_EQ(img.width, +a.spriteWidth);
  EXPECT_EQ(img.bitsPerPixel, 8);
  EXPECT_GT(Count(img, static_cast<uint8_t>(+a.shadowIndex)), 0);
  ImgBasic::ImgFree(&img);
}

TEST(TextGen, TransparentWriteOn8BitsUsesTheBackgroundIndex) {
  TextAttrRec a = Attr();
  Qimg img;
  ImgBasic::_imgalloc_(&img, 40, 20, "test", __LINE__, 8);
  std::memset(img.data, 7, 40 * 20);
  TextGen::Text_Write(&img, "Ab", 2, &a, 1);
  ASSERT_EQ(img.bitsPerPixel, 8);
  EXPECT_EQ(Count(img, 7) + Count(img, 1), 40 * 20);
  EXPECT_GT(Count(img, 1), 0);
  EXPECT_EQ(Px(img, 0, 0), 7);
  ImgBasic::ImgFree(&img);
}

TEST(TextGen, TransparentWriteTakesTheTargetToTheSpriteDepth) {
  TextAttrRec a = Attr();
  Qimg img;
  ImgBasic::_imgalloc_(&img, 40, 20, "test", __LINE__, 32);
  TextGen::Text_Write(&img, "Ab", 0, &a, 0);
  EXPECT_EQ(img.bitsPerPixel, 24);
  EXPECT_EQ(img.width, 40);
  ImgBasic::ImgFree(&img);
}

TEST(TextGen, MissingFaceStillDraws) {
  TextAttrRec a = Attr();
  TextGen::SetFontName(&a, "Surely Not An Installed Face");
  a.transparent = 0;
  Qimg img = Glyph("Text", a);
  ASSERT_TRUE(ImgBasic::ImgIsValid(&img));
  EXPECT_GT(Count(img, 1), 0);
  ImgBasic::ImgFree(&img);
}

TEST(TextGen, UnrenderableFontLeavesTheSpriteEmpty) {
  TextAttrRec a = Attr();
  a.size = 2000000000;
  Qimg img = Filled24(8, 8, 5, 5, 5);
  TextGen::Text_Write(&img, "Big", 0, &a, 0);
  EXPECT_EQ(+a.spriteWidth, 0);
  EXPECT_EQ(+a.textWidth, 0);
  EXPECT_EQ(Px24(img, 0, 0)[0], 5);
  int32_t w = -1, h = -1;
  TextGen::Text_GetExtent("Big", &a, w, h);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
  ImgBasic::ImgFree(&img);
}

TEST(TextGen, IndicesOutsideThePaletteAreRefused) {
  TextAttrRec a = Attr();
  a.transparent = 0;
  a.shadowIndex = 256;
  Qimg img;
  EXPECT_THROW(TextGen::Text_Render(&img, "A", &a), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), Errors::kClsGeneral);
  EXPECT_FALSE(ImgBasic::ImgIsValid(&img));
}

TEST(TextGen, AllocImgPtrGivesAZeroedTrackedRecord) {
  Qimg* p = nullptr;
  TextGen::_AllocImgPtr(p);
  ASSERT_NE(p, nullptr);
  EXPECT_NE(Basic::MemTrackedLabel(p).find("textgen._AllocImgPtr.result"),
            std::string::npos);
  EXPECT_FALSE(ImgBasic::ImgIsValid(p));
  EXPECT_EQ(p->width, 0);
  Basic::MemFree(p);
  EXPECT_EQ(p, nullptr);
}

// Text from a host is UTF-8: "äöü ß€“Ÿ" and a no-break space are nine
// glyphs, measured as the nine one by one, and drawn as the same nine in the
// requested character set's code page (Windows-1252 by default, where the
// euro sign and the quote sit among the control codes of Latin-1;
// Windows-1251 for the Cyrillic set), which is what bytes that are not UTF-8
// are read in.
TEST(TextGen, Utf8TextIsDecodedAndOtherTextByTheCharacterSet) {
  TextAttrRec a = Attr();
  a.transparent = 0;
  int32_t w = 0, h = 0, sum = 0;
  for (const char* glyph : {"\xC3\xA4", "\xC3\xB6", "\xC3\xBC", " ", "\xC3\x9F", "\xE2\x82\xAC",
                            "\xE2\x80\x9C", "\xC5\xB8", "\xC2\xA0"}) {
    TextGen::Text_GetExtent(glyph, &a, w, h);
    ASSERT_GT(w, 0) << glyph;
    sum += w;
  }
  // 0x80 and 0x9F end the code page's own range; 0xA0 on is Latin-1.
  const char* utf8 = "\xC3\xA4\xC3\xB6\xC3\xBC \xC3\x9F\xE2\x82\xAC\xE2\x80\x9C\xC5\xB8\xC2\xA0";
  const char* cp1252 = "\xE4\xF6\xFC \xDF\x80\x93\x9F\xA0";
  TextGen::Text_GetExtent(utf8, &a, w, h);
  EXPECT_EQ(w, sum);
  Qimg fromUtf8 = Glyph(utf8, a), fromCodePage = Glyph(cp1252, a);
  ASSERT_GT(Count(fromUtf8, 1), 0);
  EXPECT_EQ(fromUtf8.width, fromCodePage.width);
  ASSERT_EQ(fromUtf8.height, fromCodePage.height);
  EXPECT_EQ(0, std::memcmp(fromUtf8.data, fromCodePage.data,
                           size_t(fromUtf8.width) * fromUtf8.height));
  ImgBasic::ImgFree(&fromUtf8);
  ImgBasic::ImgFree(&fromCodePage);

  a.charset = 204;  // Cyrillic
  const char* cyrillicUtf8 = "\xD0\x9C\xD0\xB8\xD1\x80";  // "Мир"
  const char* cp1251 = "\xCC\xE8\xF0";
  Qimg a1 = Glyph(cyrillicUtf8, a), a2 = Glyph(cp1251, a);
  TextGen::Text_GetExtent(cp1251, &a, w, h);
  int32_t w8 = 0;
  TextGen::Text_GetExtent(cyrillicUtf8, &a, w8, h);
  EXPECT_EQ(w, w8);
  ASSERT_EQ(a1.width * a1.height, a2.width * a2.height);
  EXPECT_EQ(0, std::memcmp(a1.data, a2.data, size_t(a1.width) * a1.height));
  ImgBasic::ImgFree(&a1);
  ImgBasic::ImgFree(&a2);
}
