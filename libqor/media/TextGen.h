// Text sprites: a line of text rendered with a font into a small 8-bit
// image whose palette indices stand for background, text and shadow, with
// an optional drop shadow or outline border, and pasted into a picture
// opaquely or with its background transparent.
#pragma once

#include <cstdint>
#include <string>

#include "media/ImgBasic.h"

namespace TextGen {

using ImgBasic::Qimg;

// Style bits.
enum : int32_t {
  kStyleBold = 1,
  kStyleItalic = 2,
  kStyleUnderline = 4,
  kStyleStrikeOut = 8,
};

// Effects.
enum : int32_t {
  kEffectNone = 0,
  kEffectShadow = 1,
  kEffectBorder = 2,
};

#pragma pack(push, 1)
// The text attributes a host owns through a text handle. Colours are
// Windows colour values (red in the low byte).
struct TextAttrRec {
  uint8_t fontNameLength;
  char fontName[64];
  int32_t size;  // > 0 the character cell, < 0 the em, in pixels
  int32_t style;
  int32_t charset;
  int32_t shadowDx, shadowDy;  // shadow offset, or border thickness
  int32_t backIndex, textIndex, shadowIndex;
  int32_t effect;
  uint32_t backColour, textColour, shadowColour;
  int32_t transparent;  // Boolean: paste without the background
  // Outputs.
  int32_t spriteWidth, spriteHeight;  // the last finished sprite
  int32_t textWidth, textHeight;      // the font's extent of the last text
};
#pragma pack(pop)
static_assert(sizeof(TextAttrRec) == 133, "the record crosses the library's boundary");

void SetFontName(TextAttrRec* attr, const std::string& name);
std::string FontName(const TextAttrRec* attr);

void Text_Init(TextAttrRec* attr);
// The glyph sprite alone: the bitmap width raised to a multiple of 32.
void Text_MakeSprite(Qimg* image, const char* text, TextAttrRec* attr);
// An 8-bit image from 1-bit rows padded to 4 bytes, most significant bit
// first: set bits become the text index, clear bits the background index.
void CreateTextImg(Qimg* image, int32_t width, int32_t height,
                   const TextAttrRec* attr, const uint8_t* bits,
                   int32_t bitCount);
void _Text_AddShadow(Qimg* dest, const Qimg* sprite, const TextAttrRec* attr);
void _Text_AddBorder(Qimg* dest, const Qimg* sprite, const TextAttrRec* attr);
// Glyph sprite plus effect, replacing the caller's image.
void Text_Render(Qimg* image, const char* text, TextAttrRec* attr);
// Writes the text into the image with the sprite's top-left corner at
// (x, y); an image without pixels becomes one of the sprite's size.
void Text_Write(Qimg* image, const char* text, int32_t x, TextAttrRec* attr,
                int32_t y);
// The font's width and height of the text (no raising, no effect).
void Text_GetExtent(const char* text, TextAttrRec* attr, int32_t& width,
                    int32_t& height);
// A zeroed image record on the tracked heap, owned through result.
void _AllocImgPtr(Qimg*& result);

}  // namespace TextGen
