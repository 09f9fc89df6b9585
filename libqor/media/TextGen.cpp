#include "media/TextGen.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"
#include "platform/GdiText.h"

using Errors::ErrSet;
using ImgBasic::ImgFree;
using ImgBasic::ImgIsValid;

namespace TextGen {
namespace {

// Indices outside the palette would write past it.
void CheckIndices(const TextAttrRec* attr) {
  for (int32_t index : {attr->backIndex, attr->textIndex, attr->shadowIndex})
    if (index < 0 || index > 255) {
      ErrSet(Errors::kErrOutOfRange, __LINE__);
      return;
    }
}

void SetPaletteEntry(Qimg* image, int32_t index, uint32_t colour) {
  const ImgBasic::Rgb c = ImgBasic::SplitColorRef(colour);
  uint8_t* e = image->palette + index * 3;
  e[0] = c.blue;
  e[1] = c.green;
  e[2] = c.red;
}

void SetPalette(Qimg* image, const TextAttrRec* attr) {
  SetPaletteEntry(image, attr->backIndex, attr->backColour);
  SetPaletteEntry(image, attr->textIndex, attr->textColour);
  SetPaletteEntry(image, attr->shadowIndex, attr->shadowColour);
}

// Releases what the glyph rendering obtained, however it ends.
struct GdiScope {
  GdiText::HDC dc = nullptr;
  GdiText::HFONT font = nullptr, oldFont = nullptr;
  GdiText::HBITMAP bitmap = nullptr, oldBitmap = nullptr;
  ~GdiScope() {
    if (dc) {
      GdiText::SelectObject(dc, oldFont);
      GdiText::SelectObject(dc, oldBitmap);
    }
    if (font) GdiText::DeleteObject(font);
    if (bitmap) GdiText::DeleteObject(bitmap);
    if (dc) GdiText::DeleteDC(dc);
  }
};

// A new 8-bit canvas of the given size filled with the background index,
// carrying the sprite's palette.
void MakeCanvas(Qimg* dest, const Qimg* sprite, int64_t width, int64_t height,
                const TextAttrRec* attr, const char* label) {
  ImgBasic::CheckedImageBytes(width, height, 8, __LINE__);
  ImgBasic::_imgalloc_(dest, static_cast<int32_t>(width),
                       static_cast<int32_t>(height), label, __LINE__, 8);
  std::memset(dest->data, attr->backIndex,
              static_cast<size_t>(width * height));
  std::memcpy(dest->palette, sprite->palette, sizeof dest->palette);
}

// Every text pixel of the sprite becomes a shadow pixel of the canvas at
// the sprite position plus (ox, oy).
void Stamp(Qimg* canvas, const Qimg* sprite, const TextAttrRec* attr,
           int64_t ox, int64_t oy) {
  const uint8_t text = static_cast<uint8_t>(attr->textIndex);
  const uint8_t shadow = static_cast<uint8_t>(attr->shadowIndex);
  for (int64_t y = 0; y < sprite->height; y++) {
    const int64_t cy = y + oy;
    if (cy < 0 || cy >= canvas->height) continue;
    const uint8_t* in = sprite->data + y * sprite->width;
    uint8_t* out = canvas->data + cy * canvas->width;
    for (int64_t x = 0; x < sprite->width; x++) {
      const int64_t cx = x + ox;
      if (in[x] == text && cx >= 0 && cx < canvas->width) out[cx] = shadow;
    }
  }
}

// Lays the 8-bit sprite over the 8-bit canvas at (ox, oy), leaving the
// canvas where the sprite has its background.
void Overlay(Qimg* canvas, const Qimg* sprite, const TextAttrRec* attr,
             int64_t ox, int64_t oy) {
  const uint8_t back = static_cast<uint8_t>(attr->backIndex);
  for (int64_t y = 0; y < sprite->height && y + oy < canvas->height; y++) {
    const uint8_t* in = sprite->data + y * sprite->width;
    uint8_t* out = canvas->data + (y + oy) * canvas->width + ox;
    for (int64_t x = 0; x < sprite->width && x + ox < canvas->width; x++)
      if (in[x] != back) out[x] = in[x];
  }
}

uint32_t SwapRedBlue(uint32_t colour) {
  return ((colour & 0xFF) << 16) | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
}

}  // namespace

void SetFontName(TextAttrRec* attr, const std::string& name) {
  const size_t n = std::min(name.size(), sizeof attr->fontName);
  std::memset(attr->fontName, 0, sizeof attr->fontName);
  std::memcpy(attr->fontName, name.data(), n);
  attr->fontNameLength = static_cast<uint8_t>(n);
}

std::string FontName(const TextAttrRec* attr) {
  const size_t n = std::min<size_t>(attr->fontNameLength, sizeof attr->fontName);
  return std::string(attr->fontName, n);
}

void Text_Init(TextAttrRec* attr) {
  Errors::TraceScope trace("TextGen.Text_Init");
  std::memset(attr, 0, sizeof *attr);
  SetFontName(attr, "Arial");
  attr->size = 16;
  attr->style = 0;
  attr->charset = 0;
  attr->shadowDx = 1;
  attr->shadowDy = 1;
  attr->backIndex = 0;
  attr->textIndex = 1;
  attr->shadowIndex = 2;
  attr->effect = kEffectNone;
  attr->backColour = 0xFFFFFF;
  attr->textColour = 0x000000;
  attr->shadowColour = 0x808080;
  attr->transparent = -1;
}

void CreateTextImg(Qimg* image, int32_t width, int32_t height,
                   const TextAttrRec* attr, const uint8_t* bits,
                   int32_t bitCount) {
  Errors::Monitored("textgen.CreateTextImg", [&] {
    CheckIndices(attr);
    if (bitCount != 1 || !bits) {
      ErrSet(Errors::kErrImageNotSupported, __LINE__);
      return;
    }
    ImgBasic::_imgalloc_(image, width, height, "textgen.CreateTextImg.img",
                         __LINE__, 8);
    std::memset(image->palette, 0, sizeof image->palette);
    const int64_t stride = (static_cast<int64_t>(width) + 31) / 32 * 4;
    const uint8_t text = static_cast<uint8_t>(attr->textIndex);
    const uint8_t back = static_cast<uint8_t>(attr->backIndex);
    for (int64_t y = 0; y < height; y++) {
      const uint8_t* row = bits + y * stride;
      uint8_t* out = image->data + y * width;
      for (int64_t x = 0; x < width; x++)
        out[x] = (row[x / 8] & (0x80u >> (x % 8))) ? text : back;
    }
  });
}

void Text_MakeSprite(Qimg* image, const char* text, TextAttrRec* attr) {
  if (!text || !*text) return;
  // A font or bitmap that cannot be made leaves the sprite empty; the
  // caller goes on.
  bool made = false;
  Errors::MonitoredQuiet("textgen.Text_MakeSprite", [&] {
    ImgFree(image);
    CheckIndices(attr);
    attr->textWidth = 0;
    attr->textHeight = 0;
    const size_t length = std::strlen(text);
    if (length > static_cast<size_t>(INT32_MAX)) {
      ErrSet(Errors::kErrOutOfRange, __LINE__);
      return;
    }
    const int32_t count = static_cast<int32_t>(length);
    GdiScope gdi;
    gdi.dc = GdiText::CreateCompatibleDC(nullptr);
    GdiText::SetTextColor(gdi.dc, 0xFFFFFF);
    GdiText::SetBkMode(gdi.dc, GdiText::OPAQUE);
    GdiText::SetBkColor(gdi.dc, 0x000000);

    char* fontName = nullptr;
    Basic::MemAlloc(fontName, 128, __LINE__, Basic::kMemString,
                    "textgen.Text_MakeSprite.fontName");
    const std::string name = FontName(attr);
    std::memcpy(fontName, name.data(), name.size());
    const int32_t style = attr->style;
    gdi.font = GdiText::CreateFontA(
        attr->size, 0, 0, 0,
        (style & kStyleBold) ? GdiText::FW_BOLD : GdiText::FW_NORMAL,
        (style & kStyleItalic) ? 1 : 0, (style & kStyleUnderline) ? 1 : 0,
        (style & kStyleStrikeOut) ? 1 : 0,
        static_cast<uint32_t>(attr->charset), GdiText::OUT_TT_PRECIS,
        GdiText::CLIP_DEFAULT_PRECIS, GdiText::DRAFT_QUALITY,
        GdiText::DEFAULT_PITCH | GdiText::FF_DONTCARE, fontName);
    Basic::MemFree(fontName);
    if (!gdi.font) {
      ErrSet(Errors::kErrImageFunctionInit, __LINE__);
      return;
    }
    gdi.oldFont = GdiText::SelectObject(gdi.dc, gdi.font);

    GdiText::SIZE extent;
    if (!GdiText::GetTextExtentPoint32A(gdi.dc, text, count, &extent)) {
      ErrSet(Errors::kErrImageFunctionInit, __LINE__);
      return;
    }
    attr->textWidth = extent.cx;
    attr->textHeight = extent.cy;

    // Whole 32-bit words per row.
    const int64_t rowBytes = (static_cast<int64_t>(extent.cx) + 7) / 8;
    const int64_t width = (rowBytes + 3) / 4 * 4 * 8;
    const int64_t height = extent.cy;
    ImgBasic::CheckedImageBytes(width, height, 8, __LINE__);
    gdi.bitmap = GdiText::CreateCompatibleBitmap(gdi.dc, static_cast<int32_t>(width),
                                             static_cast<int32_t>(height));
    if (!gdi.bitmap) {
      ErrSet(Errors::kErrImageFunctionInit, __LINE__);
      return;
    }
    gdi.oldBitmap = GdiText::SelectObject(gdi.dc, gdi.bitmap);
    const GdiText::RECT all{0, 0, static_cast<int32_t>(width),
                        static_cast<int32_t>(height)};
    GdiText::FillRect(gdi.dc, &all, GdiText::GetStockObject(GdiText::BLACK_BRUSH));
    GdiText::TextOutA(gdi.dc, 0, 0, text, count);

    GdiText::BITMAP info;
    GdiText::GetObjectA(gdi.bitmap, sizeof info, &info);
    const int64_t bytes = static_cast<int64_t>(info.bmWidthBytes) * info.bmHeight;
    uint8_t* bmpBits = nullptr;
    Basic::MemAlloc(bmpBits, bytes, __LINE__, Basic::kMemPlain,
                    "textgen.Text_MakeSprite.bmpBitsP");
    GdiText::GetBitmapBits(gdi.bitmap, static_cast<int32_t>(bytes), bmpBits);
    CreateTextImg(image, info.bmWidth, info.bmHeight, attr, bmpBits,
                  info.bmBitsPixel);
    Basic::MemFree(bmpBits);
    SetPalette(image, attr);
    made = true;
  });
  // The failed frame freed the sprite's block: forget the stale pointer.
  if (!made) ImgBasic::ImgClear(image);
}

void _Text_AddShadow(Qimg* dest, const Qimg* sprite, const TextAttrRec* attr) {
  Errors::Monitored("textgen._Text_AddShadow", [&] {
    CheckIndices(attr);
    const int64_t dx = std::clamp(int32_t{attr->shadowDx}, -1024, 1024);
    const int64_t dy = std::clamp(int32_t{attr->shadowDy}, -1024, 1024);
    MakeCanvas(dest, sprite, sprite->width + std::abs(dx),
               sprite->height + std::abs(dy), attr,
               "textgen._Text_AddShadow.imgDest");
    Stamp(dest, sprite, attr, std::max<int64_t>(dx, 0),
          std::max<int64_t>(dy, 0));
    Overlay(dest, sprite, attr, std::max<int64_t>(-dx, 0),
            std::max<int64_t>(-dy, 0));
  });
}

void _Text_AddBorder(Qimg* dest, const Qimg* sprite, const TextAttrRec* attr) {
  Errors::Monitored("textgen._Text_AddBorder", [&] {
    CheckIndices(attr);
    const int64_t bx = std::clamp<int64_t>(std::llabs(attr->shadowDx), 0, 8);
    const int64_t by = std::clamp<int64_t>(std::llabs(attr->shadowDy), 0, 8);
    MakeCanvas(dest, sprite, sprite->width + 2 * bx, sprite->height + 2 * by,
               attr, "textgen._Text_AddBorder.imgDest");
    for (int64_t i = 0; i <= 2 * by; i++)
      for (int64_t j = 0; j <= 2 * bx; j++) Stamp(dest, sprite, attr, j, i);
    Overlay(dest, sprite, attr, bx, by);
  });
}

void Text_Render(Qimg* image, const char* text, TextAttrRec* attr) {
  Errors::Monitored("textgen.Text_Render", [&] {
    attr->spriteWidth = 0;
    attr->spriteHeight = 0;
    if (!text || !*text) return;
    CheckIndices(attr);
    if (attr->transparent) {
      int32_t back = 0;
      while (back == attr->textIndex || back == attr->shadowIndex) back++;
      attr->backIndex = back;
    }
    Qimg sprite;
    Text_MakeSprite(&sprite, text, attr);
    if (ImgIsValid(&sprite) &&
        (attr->effect == kEffectShadow || attr->effect == kEffectBorder)) {
      Qimg withEffect;
      if (attr->effect == kEffectShadow)
        _Text_AddShadow(&withEffect, &sprite, attr);
      else
        _Text_AddBorder(&withEffect, &sprite, attr);
      ImgFree(&sprite);
      ImgBasic::ImgXchg(&sprite, &withEffect);
    }
    attr->spriteWidth = sprite.width;
    attr->spriteHeight = sprite.height;
    ImgFree(image);
    ImgBasic::ImgXchg(&sprite, image);
    if (ImgIsValid(image)) SetPalette(image, attr);
  });
}

void Text_Write(Qimg* image, const char* text, int32_t x, TextAttrRec* attr,
                int32_t y) {
  Errors::Monitored("textgen.Text_Write", [&] {
    Qimg sprite;
    Text_Render(&sprite, text, attr);
    if (!ImgIsValid(&sprite)) return;
    const bool transparent = attr->transparent != 0;
    uint32_t key = 0;
    if (transparent) {
      if (ImgIsValid(image) && image->bitsPerPixel == 8) {
        key = static_cast<uint32_t>(attr->backIndex);
      } else {
        // A background colour that neither the text nor the shadow uses,
        // so it can be told apart once the sprite has true colours.
        uint32_t back = 0;
        while (back == attr->textColour || back == attr->shadowColour)
          back += 64;
        attr->backColour = back;
        SetPalette(&sprite, attr);
        ImgBasic::ImgConvBpp(&sprite, &sprite, 24);
        key = SwapRedBlue(back);
      }
    }
    if (!ImgIsValid(image))
      ImgBasic::_imgalloc_(image, sprite.width, sprite.height,
                           "textgen.Text_Write.img", __LINE__,
                           sprite.bitsPerPixel);
    if (transparent)
      ImgBasic::ImgSprite(&sprite, image, x, y, key);
    else
      ImgBasic::ImgInsert(&sprite, image, x, y);
    ImgFree(&sprite);
  });
}

void Text_GetExtent(const char* text, TextAttrRec* attr, int32_t& width,
                    int32_t& height) {
  Errors::Monitored("TextGen.Text_GetExtent", [&] {
    width = 0;
    height = 0;
    if (!text || !*text) return;
    Qimg sprite;
    Text_MakeSprite(&sprite, text, attr);
    ImgFree(&sprite);
    width = attr->textWidth;
    height = attr->textHeight;
  });
}

void _AllocImgPtr(Qimg*& result) {
  Errors::Monitored("textgen._AllocImgPtr", [&] {
    Basic::MemAlloc(result, static_cast<int64_t>(sizeof(Qimg)), __LINE__,
                    Basic::kMemNew, "textgen._AllocImgPtr.result");
    new (result) Qimg{};
  });
}

}  // namespace TextGen
