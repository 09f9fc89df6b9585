// The few Windows drawing calls the text sprites need, over FreeType and
// fontconfig: a memory device context, fonts made from a face name and the
// Windows size rules, monochrome bitmaps, measuring and drawing a line of
// host text, and reading the bitmap's bits back.
//
// Size rules of CreateFontA: a positive height is the character cell
// (ascent + descent of the face's Windows metrics), a negative height the
// em; 0 asks for the default cell. Advances are whole pixels; drawing is
// aliased (one bit per pixel). A face name that fontconfig cannot find
// resolves to its default face, so making a font fails only when no usable
// face is installed at all.
#pragma once

#include <cstdint>
#include <string>

namespace GdiText {

using COLORREF = uint32_t;

struct SIZE {
  int32_t cx = 0, cy = 0;
};
struct RECT {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};
struct BITMAP {
  int32_t bmType = 0;
  int32_t bmWidth = 0;
  int32_t bmHeight = 0;
  int32_t bmWidthBytes = 0;
  uint16_t bmPlanes = 0;
  uint16_t bmBitsPixel = 0;
  void* bmBits = nullptr;
};
struct TEXTMETRICA {
  int32_t tmHeight = 0;
  int32_t tmAscent = 0;
  int32_t tmDescent = 0;
  int32_t tmInternalLeading = 0;
  int32_t tmWeight = 0;
  uint8_t tmItalic = 0, tmUnderlined = 0, tmStruckOut = 0;
};

struct DcObject;
struct FontObject;
struct BitmapObject;
struct BrushObject;
using HDC = DcObject*;
using HFONT = FontObject*;
using HBITMAP = BitmapObject*;
using HBRUSH = const BrushObject*;

enum : int32_t { TRANSPARENT = 1, OPAQUE = 2 };
enum : int32_t { FW_NORMAL = 400, FW_BOLD = 700 };
enum : uint32_t {
  ANSI_CHARSET = 0,
  OUT_TT_PRECIS = 4,
  CLIP_DEFAULT_PRECIS = 0,
  DRAFT_QUALITY = 1,
  DEFAULT_PITCH = 0,
  FF_DONTCARE = 0,
};
enum : int32_t { WHITE_BRUSH = 0, BLACK_BRUSH = 4 };

// A memory context (the argument is ignored: there is no screen); it starts
// with a 1 × 1 monochrome bitmap selected.
HDC CreateCompatibleDC(HDC dc);
bool DeleteDC(HDC dc);
COLORREF SetTextColor(HDC dc, COLORREF colour);
COLORREF SetBkColor(HDC dc, COLORREF colour);
int32_t SetBkMode(HDC dc, int32_t mode);

HFONT CreateFontA(int32_t height, int32_t width, int32_t escapement,
                  int32_t orientation, int32_t weight, uint32_t italic,
                  uint32_t underline, uint32_t strikeOut, uint32_t charSet,
                  uint32_t outPrecision, uint32_t clipPrecision,
                  uint32_t quality, uint32_t pitchAndFamily,
                  const char* faceName);
// A bitmap compatible with a memory context is monochrome.
HBITMAP CreateCompatibleBitmap(HDC dc, int32_t width, int32_t height);
HBRUSH GetStockObject(int32_t brush);

// Each returns the object it replaced in the context.
HFONT SelectObject(HDC dc, HFONT font);
HBITMAP SelectObject(HDC dc, HBITMAP bitmap);
bool DeleteObject(HFONT font);
bool DeleteObject(HBITMAP bitmap);

int32_t FillRect(HDC dc, const RECT* rect, HBRUSH brush);
bool GetTextExtentPoint32A(HDC dc, const char* text, int32_t count,
                           SIZE* size);
bool TextOutA(HDC dc, int32_t x, int32_t y, const char* text, int32_t count);
bool GetTextMetricsA(HDC dc, TEXTMETRICA* metrics);
// The family name of the face the selected font resolved to.
int32_t GetTextFaceA(HDC dc, int32_t count, char* faceName);

int32_t GetObjectA(HBITMAP bitmap, int32_t size, BITMAP* info);
// Copies up to bytes bytes of the bitmap's rows (each padded to 4 bytes,
// most significant bit first); returns the number copied.
int32_t GetBitmapBits(HBITMAP bitmap, int32_t bytes, void* bits);

// The characters of a host's text: text from a host on this platform is
// UTF-8; bytes that are not valid UTF-8 are read in the code page of the
// font's character set (Windows-1252 for the ANSI, default and symbol sets
// and any set without a code page). Measuring and drawing both read text
// this way.
std::u32string DecodeText(const char* text, int32_t count, uint32_t charSet);

// Releases the font library and the face configuration when the library
// is unloaded; the next font made starts them again.
void FontsRelease();

}  // namespace GdiText
