#include "platform/GdiText.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <climits>
#include <cstring>
#include <utility>
#include <vector>

namespace GdiText {

struct BrushObject {
  bool white;
};

struct BitmapObject {
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;  // bytes per row, a multiple of 4
  std::vector<uint8_t> bits;

  void Set(int64_t x, int64_t y, bool on) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    uint8_t& b = bits[static_cast<size_t>(y * stride + x / 8)];
    const uint8_t mask = static_cast<uint8_t>(0x80u >> (x % 8));
    b = on ? (b | mask) : (b & ~mask);
  }
  void Fill(int64_t left, int64_t top, int64_t right, int64_t bottom,
            bool on) {
    for (int64_t y = std::max<int64_t>(top, 0);
         y < std::min<int64_t>(bottom, height); y++)
      for (int64_t x = std::max<int64_t>(left, 0);
           x < std::min<int64_t>(right, width); x++)
        Set(x, y, on);
  }
};

struct FontObject {
  FT_Face face = nullptr;
  std::string family;
  int32_t ascent = 0, descent = 0, em = 0;
  int32_t underlineTop = 0, underlineSize = 0;  // below the cell's top
  int32_t strikeTop = 0, strikeSize = 0;
  int32_t weight = FW_NORMAL;
  uint32_t charSet = ANSI_CHARSET;  // how text that is not UTF-8 is read
  bool italic = false, underline = false, strikeOut = false;
  bool fakeBold = false, fakeItalic = false;
};

struct DcObject {
  BitmapObject stock;  // the 1 × 1 bitmap a new context holds
  BitmapObject* bitmap = nullptr;
  FontObject* font = nullptr;
  COLORREF textColour = 0;
  COLORREF bkColour = 0xFFFFFF;
  int32_t bkMode = OPAQUE;
};

namespace {

// Substitutions for the Windows face names the library asks for: the face
// itself when installed, else an installed face with the same metrics.
const char kAliases[] = R"(<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <alias binding="same">
    <family>Arial</family>
    <prefer><family>Arial</family><family>Liberation Sans</family>
      <family>Arimo</family></prefer>
  </alias>
  <alias binding="same">
    <family>MS Sans Serif</family>
    <prefer><family>Microsoft Sans Serif</family><family>Liberation Sans</family>
      <family>Arimo</family></prefer>
  </alias>
  <alias binding="same">
    <family>Microsoft Sans Serif</family>
    <prefer><family>Microsoft Sans Serif</family><family>Liberation Sans</family>
      <family>Arimo</family></prefer>
  </alias>
</fontconfig>
)";

// The cell asked for by a height of 0.
constexpr int32_t kDefaultCell = 16;
// Larger heights ask for bitmaps no caller can want.
constexpr int64_t kMaxHeight = 16384;

struct Fonts {
  FT_Library library = nullptr;
  FcConfig* config = nullptr;
  bool tried = false;
};

Fonts& Store() {
  static Fonts fonts;
  return fonts;
}

Fonts& Shared() {
  Fonts& fonts = Store();
  if (!fonts.tried) {
    fonts.tried = true;
    if (FT_Init_FreeType(&fonts.library) != 0) fonts.library = nullptr;
    if (FcInit()) {
      fonts.config = FcInitLoadConfigAndFonts();
      if (fonts.config)
        FcConfigParseAndLoadFromMemory(
            fonts.config, reinterpret_cast<const FcChar8*>(kAliases), FcFalse);
    }
  }
  return fonts;
}

// Windows-1252, the code page of the ANSI character set, for 0x80..0x9F.
const uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

uint32_t Cp1252(uint8_t c) {
  return (c >= 0x80 && c < 0xA0) ? kCp1252High[c - 0x80] : c;
}

// The code page of a Windows character set; null for Windows-1252 (the
// ANSI, default and symbol sets, and any set not listed).
const char* CodePage(uint32_t charSet) {
  switch (charSet) {
    case 77: return "MACINTOSH";
    case 128: return "CP932";
    case 129: return "CP949";
    case 130: return "JOHAB";
    case 134: return "CP936";
    case 136: return "CP950";
    case 161: return "CP1253";
    case 162: return "CP1254";
    case 163: return "CP1258";
    case 177: return "CP1255";
    case 178: return "CP1256";
    case 186: return "CP1257";
    case 204: return "CP1251";
    case 222: return "CP874";
    case 238: return "CP1250";
    case 255: return "CP437";
    default: return nullptr;
  }
}

// The code point of a UTF-8 sequence at p (n bytes left) and its length;
// length 0 when the bytes are no valid sequence.
uint32_t Utf8At(const uint8_t* p, int64_t n, int* length) {
  *length = 0;
  const uint8_t c = p[0];
  int more;
  uint32_t code, least;
  if (c < 0x80) {
    *length = 1;
    return c;
  } else if (c >= 0xC2 && c <= 0xDF) {
    more = 1, code = c & 0x1F, least = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    more = 2, code = c & 0x0F, least = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    more = 3, code = c & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (n <= more) return 0;
  for (int i = 1; i <= more; i++) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    code = (code << 6) | (p[i] & 0x3F);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  *length = more + 1;
  return code;
}

bool DecodeUtf8(const uint8_t* p, int64_t n, std::u32string& out) {
  out.clear();
  for (int64_t i = 0; i < n;) {
    int length = 0;
    const uint32_t code = Utf8At(p + i, n - i, &length);
    if (length == 0) return false;
    out.push_back(code);
    i += length;
  }
  return true;
}

// Text in a code page through iconv; a byte the code page does not know is
// read as Windows-1252.
void DecodeCodePage(const uint8_t* p, int64_t n, const char* codePage, std::u32string& out) {
  out.clear();
  iconv_t cd = iconv_open("UTF-32LE", codePage);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    for (int64_t i = 0; i < n; i++) out.push_back(Cp1252(p[i]));
    return;
  }
  int64_t i = 0;
  while (i < n) {
    char* in = const_cast<char*>(reinterpret_cast<const char*>(p + i));
    size_t inLeft = static_cast<size_t>(n - i);
    uint8_t buf[4 * 256];
    char* dst = reinterpret_cast<char*>(buf);
    size_t dstLeft = sizeof buf;
    const size_t r = iconv(cd, &in, &inLeft, &dst, &dstLeft);
    for (const uint8_t* q = buf; q + 4 <= reinterpret_cast<uint8_t*>(dst); q += 4)
      out.push_back(static_cast<uint32_t>(q[0]) | (static_cast<uint32_t>(q[1]) << 8) |
                    (static_cast<uint32_t>(q[2]) << 16) | (static_cast<uint32_t>(q[3]) << 24));
    i = n - static_cast<int64_t>(inLeft);
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      out.push_back(Cp1252(p[i++]));
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
}

struct Match {
  std::string file;
  int index = 0;
  std::string family;
  int weight = FC_WEIGHT_REGULAR;
  int slant = FC_SLANT_ROMAN;
};

bool FindFace(const char* family, int weight, bool italic, Match& out) {
  Fonts& f = Shared();
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return false;
  FcPatternAddString(pattern, FC_FAMILY,
                     reinterpret_cast<const FcChar8*>(family));
  FcPatternAddInteger(pattern, FC_WEIGHT,
                      weight >= 600 ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT,
                      italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(f.config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(f.config, pattern, &result);
  FcPatternDestroy(pattern);
  if (!match) return false;
  FcChar8* file = nullptr;
  FcChar8* name = nullptr;
  bool ok = FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch;
  if (ok) {
    out.file = reinterpret_cast<const char*>(file);
    if (FcPatternGetInteger(match, FC_INDEX, 0, &out.index) != FcResultMatch)
      out.index = 0;
    if (FcPatternGetString(match, FC_FAMILY, 0, &name) == FcResultMatch)
      out.family = reinterpret_cast<const char*>(name);
    FcPatternGetInteger(match, FC_WEIGHT, 0, &out.weight);
    FcPatternGetInteger(match, FC_SLANT, 0, &out.slant);
  }
  FcPatternDestroy(match);
  return ok;
}

FT_Face OpenFace(const Match& m) {
  FT_Face face = nullptr;
  if (FT_New_Face(Shared().library, m.file.c_str(), m.index, &face) != 0)
    return nullptr;
  if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0) {
    FT_Done_Face(face);
    return nullptr;
  }
  return face;
}

// The cell and em of the font and the positions of its lines, in pixels.
bool SetSize(FontObject& font, int64_t height) {
  FT_Face face = font.face;
  const double upem = face->units_per_EM;
  double cellAscent = 0, cellDescent = 0;
  const TT_OS2* os2 =
      static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  if (os2 && os2->usWinAscent + os2->usWinDescent > 0) {
    cellAscent = os2->usWinAscent;
    cellDescent = os2->usWinDescent;
  } else {
    cellAscent = face->ascender;
    cellDescent = -face->descender;
  }
  if (cellAscent + cellDescent <= 0) return false;
  if (height == 0) height = kDefaultCell;
  double scale;  // pixels per font unit
  if (height > 0)
    scale = static_cast<double>(height) / (cellAscent + cellDescent);
  else
    scale = static_cast<double>(-height) / upem;
  const double em = scale * upem;
  const FT_F26Dot6 em64 = static_cast<FT_F26Dot6>(std::llround(em * 64));
  if (em64 < 1 || FT_Set_Char_Size(face, 0, em64, 72, 72) != 0) return false;

  font.ascent = static_cast<int32_t>(std::lround(cellAscent * scale));
  font.descent = height > 0 ? static_cast<int32_t>(height) - font.ascent
                            : static_cast<int32_t>(
                                  std::lround(cellDescent * scale));
  font.em = static_cast<int32_t>(std::lround(em));

  // The underline position is the centre of its stroke below the baseline.
  const double ulSize = std::max(1.0, std::round(face->underline_thickness * scale));
  const double ulCentre = -face->underline_position * scale;
  font.underlineSize = static_cast<int32_t>(ulSize);
  font.underlineTop = font.ascent + static_cast<int32_t>(
                                        std::lround(ulCentre - ulSize / 2));
  if (os2 && os2->yStrikeoutSize > 0) {
    font.strikeSize = std::max<int32_t>(
        1, static_cast<int32_t>(std::lround(os2->yStrikeoutSize * scale)));
    font.strikeTop = font.ascent - static_cast<int32_t>(std::lround(
                                       os2->yStrikeoutPosition * scale));
  } else {
    font.strikeSize = font.underlineSize;
    font.strikeTop = font.ascent - static_cast<int32_t>(std::lround(em * 0.3));
  }
  return true;
}

bool IsWhite(COLORREF c) {
  return (c & 0xFF) + ((c >> 8) & 0xFF) + ((c >> 16) & 0xFF) >= 383;
}

// Loads one glyph at the font's size, with the bold and slant the face
// lacks added, rendered to one bit per pixel; returns its advance.
bool LoadGlyph(const FontObject& font, uint32_t code, int32_t& advance) {
  FT_Face face = font.face;
  const FT_UInt index = FT_Get_Char_Index(face, code);
  if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP |
                                     FT_LOAD_TARGET_MONO) != 0)
    return false;
  FT_GlyphSlot slot = face->glyph;
  advance = static_cast<int32_t>((slot->advance.x + 32) >> 6);
  if (slot->format == FT_GLYPH_FORMAT_OUTLINE) {
    if (font.fakeBold) {
      FT_Outline_Embolden(&slot->outline, 64);
      advance += 1;
    }
    if (font.fakeItalic) FT_GlyphSlot_Oblique(slot);
  }
  return FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) == 0;
}

int64_t TextWidth(const FontObject& font, const std::u32string& codes) {
  int64_t width = 0;
  for (const uint32_t code : codes) {
    int32_t advance = 0;
    if (LoadGlyph(font, code, advance)) width += advance;
  }
  return width;
}

}  // namespace

HDC CreateCompatibleDC(HDC) {
  auto* dc = new DcObject;
  dc->stock.width = dc->stock.height = 1;
  dc->stock.stride = 4;
  dc->stock.bits.assign(4, 0);
  dc->bitmap = &dc->stock;
  return dc;
}

bool DeleteDC(HDC dc) {
  delete dc;
  return dc != nullptr;
}

COLORREF SetTextColor(HDC dc, COLORREF colour) {
  return std::exchange(dc->textColour, colour);
}

COLORREF SetBkColor(HDC dc, COLORREF colour) {
  return std::exchange(dc->bkColour, colour);
}

int32_t SetBkMode(HDC dc, int32_t mode) { return std::exchange(dc->bkMode, mode); }

HFONT CreateFontA(int32_t height, int32_t, int32_t, int32_t, int32_t weight,
                  uint32_t italic, uint32_t underline, uint32_t strikeOut,
                  uint32_t charSet, uint32_t, uint32_t, uint32_t, uint32_t,
                  const char* faceName) {
  Fonts& shared = Shared();
  if (!shared.library) return nullptr;
  const int64_t h = height;
  if (h > kMaxHeight || h < -kMaxHeight) return nullptr;
  const bool bold = weight >= 600;
  const char* requested = (faceName && *faceName) ? faceName : "sans-serif";

  auto* font = new FontObject;
  font->weight = weight <= 0 ? FW_NORMAL : weight;
  font->italic = italic != 0;
  font->underline = underline != 0;
  font->strikeOut = strikeOut != 0;
  font->charSet = charSet;
  // The face asked for, else fontconfig's default face, else the one face
  // the install script always installs.
  Match m;
  const char* tries[] = {requested, "sans-serif"};
  for (const char* family : tries) {
    if (!shared.config || !FindFace(family, font->weight, font->italic, m))
      continue;
    font->face = OpenFace(m);
    if (font->face) break;
  }
  if (!font->face) {
    m = Match{};
    m.file = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    m.family = "DejaVu Sans";
    font->face = OpenFace(m);
  }
  if (!font->face || !SetSize(*font, h)) {
    if (font->face) FT_Done_Face(font->face);
    delete font;
    return nullptr;
  }
  font->family = m.family.empty() ? std::string(font->face->family_name
                                                    ? font->face->family_name
                                                    : "")
                                  : m.family;
  const bool faceBold = (font->face->style_flags & FT_STYLE_FLAG_BOLD) ||
                        m.weight >= FC_WEIGHT_DEMIBOLD;
  const bool faceItalic = (font->face->style_flags & FT_STYLE_FLAG_ITALIC) ||
                          m.slant != FC_SLANT_ROMAN;
  font->fakeBold = bold && !faceBold;
  font->fakeItalic = font->italic && !faceItalic;
  return font;
}

HBITMAP CreateCompatibleBitmap(HDC, int32_t width, int32_t height) {
  if (width < 1 || height < 1) return nullptr;
  const int64_t stride = (static_cast<int64_t>(width) + 31) / 32 * 4;
  const int64_t bytes = stride * height;
  if (bytes > INT32_MAX) return nullptr;
  auto* bitmap = new BitmapObject;
  bitmap->width = width;
  bitmap->height = height;
  bitmap->stride = static_cast<int32_t>(stride);
  bitmap->bits.assign(static_cast<size_t>(bytes), 0);
  return bitmap;
}

HBRUSH GetStockObject(int32_t brush) {
  static const BrushObject white{true}, black{false};
  return brush == BLACK_BRUSH ? &black : &white;
}

HFONT SelectObject(HDC dc, HFONT font) { return std::exchange(dc->font, font); }

HBITMAP SelectObject(HDC dc, HBITMAP bitmap) {
  BitmapObject* old = std::exchange(dc->bitmap, bitmap ? bitmap : &dc->stock);
  return old == &dc->stock ? nullptr : old;
}

bool DeleteObject(HFONT font) {
  if (!font) return false;
  FT_Done_Face(font->face);
  delete font;
  return true;
}

bool DeleteObject(HBITMAP bitmap) {
  delete bitmap;
  return bitmap != nullptr;
}

int32_t FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  if (!dc || !rect || !brush) return 0;
  dc->bitmap->Fill(rect->left, rect->top, rect->right, rect->bottom,
                   brush->white);
  return 1;
}

bool GetTextExtentPoint32A(HDC dc, const char* text, int32_t count,
                           SIZE* size) {
  if (!dc || !dc->font || !size || count < 0 || (count > 0 && !text))
    return false;
  const int64_t width = TextWidth(*dc->font, DecodeText(text, count, dc->font->charSet));
  if (width > INT32_MAX) return false;
  size->cx = static_cast<int32_t>(width);
  size->cy = dc->font->ascent + dc->font->descent;
  return true;
}

bool TextOutA(HDC dc, int32_t x, int32_t y, const char* text, int32_t count) {
  if (!dc || !dc->font || count < 0 || (count > 0 && !text)) return false;
  const FontObject& font = *dc->font;
  BitmapObject& bm = *dc->bitmap;
  const std::u32string codes = DecodeText(text, count, font.charSet);
  const int64_t width = TextWidth(font, codes);
  const int64_t height = font.ascent + font.descent;
  if (dc->bkMode == OPAQUE)
    bm.Fill(x, y, x + width, y + height, IsWhite(dc->bkColour));
  const bool ink = IsWhite(dc->textColour);
  int64_t pen = x;
  for (const uint32_t code : codes) {
    int32_t advance = 0;
    if (!LoadGlyph(font, code, advance)) continue;
    const FT_GlyphSlot slot = font.face->glyph;
    const FT_Bitmap& g = slot->bitmap;
    if (g.pixel_mode == FT_PIXEL_MODE_MONO) {
      const int64_t left = pen + slot->bitmap_left;
      const int64_t top = static_cast<int64_t>(y) + font.ascent - slot->bitmap_top;
      for (unsigned r = 0; r < g.rows; r++) {
        const uint8_t* row = g.buffer + static_cast<int64_t>(r) * g.pitch;
        for (unsigned c = 0; c < g.width; c++)
          if (row[c / 8] & (0x80u >> (c % 8))) bm.Set(left + c, top + r, ink);
      }
    }
    pen += advance;
  }
  if (font.underline)
    bm.Fill(x, static_cast<int64_t>(y) + font.underlineTop, x + width,
            static_cast<int64_t>(y) + font.underlineTop + font.underlineSize,
            ink);
  if (font.strikeOut)
    bm.Fill(x, static_cast<int64_t>(y) + font.strikeTop, x + width,
            static_cast<int64_t>(y) + font.strikeTop + font.strikeSize, ink);
  return true;
}

bool GetTextMetricsA(HDC dc, TEXTMETRICA* metrics) {
  if (!dc || !dc->font || !metrics) return false;
  const FontObject& f = *dc->font;
  metrics->tmHeight = f.ascent + f.descent;
  metrics->tmAscent = f.ascent;
  metrics->tmDescent = f.descent;
  metrics->tmInternalLeading = metrics->tmHeight - f.em;
  metrics->tmWeight = f.weight;
  metrics->tmItalic = f.italic;
  metrics->tmUnderlined = f.underline;
  metrics->tmStruckOut = f.strikeOut;
  return true;
}

int32_t GetTextFaceA(HDC dc, int32_t count, char* faceName) {
  if (!dc || !dc->font || !faceName || count < 1) return 0;
  const std::string& name = dc->font->family;
  const size_t n = std::min(name.size(), static_cast<size_t>(count - 1));
  std::memcpy(faceName, name.data(), n);
  faceName[n] = 0;
  return static_cast<int32_t>(n);
}

int32_t GetObjectA(HBITMAP bitmap, int32_t size, BITMAP* info) {
  if (!bitmap || !info || size < static_cast<int32_t>(sizeof(BITMAP))) return 0;
  *info = BITMAP{};
  info->bmWidth = bitmap->width;
  info->bmHeight = bitmap->height;
  info->bmWidthBytes = bitmap->stride;
  info->bmPlanes = 1;
  info->bmBitsPixel = 1;
  return static_cast<int32_t>(sizeof(BITMAP));
}

int32_t GetBitmapBits(HBITMAP bitmap, int32_t bytes, void* bits) {
  if (!bitmap || !bits || bytes <= 0) return 0;
  const size_t n = std::min(bitmap->bits.size(), static_cast<size_t>(bytes));
  std::memcpy(bits, bitmap->bits.data(), n);
  return static_cast<int32_t>(n);
}

void FontsRelease() {
  Fonts& f = Store();
  if (f.config) FcConfigDestroy(f.config);
  if (f.library) FT_Done_FreeType(f.library);
  f = Fonts{};
}

std::u32string DecodeText(const char* text, int32_t count, uint32_t charSet) {
  std::u32string codes;
  if (text == nullptr || count <= 0) return codes;
  const auto* p = reinterpret_cast<const uint8_t*>(text);
  if (DecodeUtf8(p, count, codes)) return codes;
  if (const char* codePage = CodePage(charSet)) {
    DecodeCodePage(p, count, codePage, codes);
    return codes;
  }
  codes.clear();
  for (int32_t i = 0; i < count; i++) codes.push_back(Cp1252(p[i]));
  return codes;
}

}  // namespace GdiText
