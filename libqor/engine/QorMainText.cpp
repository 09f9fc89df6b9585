// Text-sprite exports: a host holds text attributes as a handle, sets font,
// colours and effect, measures text and writes it into its images.
#include <new>
#include <string>

#include "engine/Common.h"
#include "engine/QorMain.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "media/ImgBasic.h"
#include "media/TextGen.h"

using Common::ImgToStrLog;
using Common::IntToStrAuto;
using Common::LogValue;
using Common::PtrToStrLog;
using Common::Require;
using TextGen::TextAttrRec;

namespace {

constexpr const char* kTextLabel = "QorMain.QorTextAlloc.paramP";

// The record behind a host's text handle; nil, or a pointer that is no live
// text record, ends the export as an unexpected failure.
TextAttrRec* TextOf(QorHandle mText) {
  return Common::RequireHandle<TextAttrRec>(mText, kTextLabel, "mText");
}

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

// Only these style bits mean anything to the font.
constexpr int32_t kStyleBits = TextGen::kStyleBold | TextGen::kStyleItalic |
                               TextGen::kStyleUnderline |
                               TextGen::kStyleStrikeOut;

}  // namespace

QOR_API QorHandle QOR_CALL QorTextAlloc(void) {
  return Common::ExportFrame<QorHandle>("QorMain.QorTextAlloc", nullptr, [] {
    TextAttrRec* attr = nullptr;
    Basic::MemAlloc(attr, static_cast<int64_t>(sizeof(TextAttrRec)), __LINE__,
                    Basic::kMemNew, kTextLabel);
    if (!attr) return QorHandle{nullptr};
    new (attr) TextAttrRec{};
    TextGen::Text_Init(attr);
    // A host's text starts plain, with a shadow two pixels off once chosen.
    attr->effect = TextGen::kEffectNone;
    attr->shadowDx = 2;
    attr->shadowDy = 2;
    LogValue("result", PtrToStrLog(attr));
    return QorHandle{attr};
  });
}

QOR_API void QOR_CALL QorTextFree(QorHandle mText) {
  Common::ExportFrameVoid("QorMain.QorTextFree", [&] {
    LogValue("mText", PtrToStrLog(mText));
    if (!mText) return;
    TextAttrRec* attr = TextOf(mText);
    Basic::MemFree(attr);
  });
}

QOR_API void QOR_CALL QorTextSetFont(QorHandle mText, const char* fontName,
                                     int32_t height, int32_t style) {
  Common::ExportFrameVoid("QorMain.QorTextSetFont", [&] {
    LogValue("mText", PtrToStrLog(mText));
    LogValue("fontName", Text(fontName));
    LogValue("height", IntToStrAuto(height));
    LogValue("style", IntToStrAuto(style));
    TextAttrRec* attr = TextOf(mText);
    TextGen::SetFontName(attr, Text(fontName));
    attr->size = height;
    attr->style = style & kStyleBits;
  });
}

QOR_API void QOR_CALL QorTextSetColor(QorHandle mText, int32_t foreColor,
                                      int32_t shadowColor, int32_t backColor,
                                      QorBool transp) {
  Common::ExportFrameVoid("QorMain.QorTextSetColor", [&] {
    LogValue("mText", PtrToStrLog(mText));
    LogValue("foreColor", Common::RGBToStrLog(static_cast<uint32_t>(foreColor)));
    LogValue("shadowColor",
             Common::RGBToStrLog(static_cast<uint32_t>(shadowColor)));
    LogValue("backColor", Common::RGBToStrLog(static_cast<uint32_t>(backColor)));
    LogValue("transp", Common::BoolToStrLog(transp != 0));
    TextAttrRec* attr = TextOf(mText);
    attr->textColour = static_cast<uint32_t>(foreColor);
    attr->shadowColour = static_cast<uint32_t>(shadowColor);
    attr->backColour = static_cast<uint32_t>(backColor);
    attr->transparent = transp != 0 ? -1 : 0;
  });
}

QOR_API void QOR_CALL QorTextShadow(QorHandle mText, int32_t shadowMode,
                                    int32_t Xoffset, int32_t Yoffset) {
  Common::ExportFrameVoid("QorMain.QorTextShadow", [&] {
    LogValue("mText", PtrToStrLog(mText));
    LogValue("shadowMode", IntToStrAuto(shadowMode));
    LogValue("Xoffset", IntToStrAuto(Xoffset));
    LogValue("Yoffset", IntToStrAuto(Yoffset));
    TextAttrRec* attr = TextOf(mText);
    if (shadowMode >= TextGen::kEffectNone && shadowMode <= TextGen::kEffectBorder)
      attr->effect = shadowMode;
    attr->shadowDx = Xoffset;
    attr->shadowDy = Yoffset;
  });
}

QOR_API void QOR_CALL QorTextGetExtents(QorHandle mText, const char* textStr,
                                        int32_t* resX, int32_t* resY) {
  Common::ExportFrameVoid("QorMain.QorTextGetExtents", [&] {
    LogValue("mText", PtrToStrLog(mText));
    LogValue("textStr", Text(textStr));
    TextAttrRec* attr = TextOf(mText);
    int32_t& width = *Require(resX, "resX");
    int32_t& height = *Require(resY, "resY");
    const std::string text = Text(textStr);
    TextGen::Text_GetExtent(text.c_str(), attr, width, height);
    LogValue("resX", IntToStrAuto(width));
    LogValue("resY", IntToStrAuto(height));
  });
}

QOR_API void QOR_CALL QorTextOut(QorHandle mImg, QorHandle mText, int32_t x,
                                 int32_t y, const char* textStr) {
  Common::ExportFrameVoid("QorMain.QorTextOut", [&] {
    LogValue("mImg", ImgToStrLog(mImg));
    LogValue("mText", PtrToStrLog(mText));
    LogValue("x", IntToStrAuto(x));
    LogValue("y", IntToStrAuto(y));
    LogValue("textStr", Text(textStr));
    ImgBasic::Qimg* img = Common::ImgOf(mImg, "mImg");
    TextAttrRec* attr = TextOf(mText);
    // Text is drawn in colour; an image without pixels takes the sprite's.
    if (ImgBasic::ImgIsValid(img) && img->bitsPerPixel != 24)
      ImgBasic::ImgConvBpp(img, img, 24);
    const std::string text = Text(textStr);
    TextGen::Text_Write(img, text.c_str(), x, attr, y);
  });
}
