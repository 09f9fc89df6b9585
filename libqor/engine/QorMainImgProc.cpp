// The image-processing exports: one effect or geometric operation applied
// in place to a host's image handle. The handle keeps pointing at the same
// record; its pixels, size, depth and palette change as the operation says.
#include <algorithm>
#include <array>
#include <cstring>

#include "engine/Common.h"
#include "engine/QorMain.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"
#include "media/Impress.h"
#include "media/ImgBasic.h"
#include "media/PalOpt.h"

using Common::LogValue;
using ImgBasic::Qimg;

namespace {

Qimg* Image(QorHandle handle, const char* name) {
  return Common::ImgOf(handle, name);
}

void LogImg(const char* name, QorHandle handle) {
  LogValue(name, Common::ImgToStrLog(handle));
}

void LogInt(const char* name, int32_t value) {
  LogValue(name, Common::IntToStrAuto(value));
}

// The frame of an export over one image: the handle and the export's other
// arguments logged, the handle required, the operation applied.
template <class LogArgs, class Op>
void ImgExport(const char* traceName, QorHandle mImg, LogArgs&& logArgs,
               Op&& op) {
  Common::ExportFrameVoid(traceName, [&] {
    LogImg("mImg", mImg);
    logArgs();
    op(Image(mImg, "mImg"));
  });
}

template <class Op>
void ImgExport(const char* traceName, QorHandle mImg, Op&& op) {
  ImgExport(traceName, mImg, [] {}, std::forward<Op>(op));
}

void LogRGB(int32_t r, int32_t g, int32_t b) {
  LogInt("R", r);
  LogInt("G", g);
  LogInt("B", b);
}

constexpr int32_t kMaxBorder = 16000;

void FillWithColour(Qimg* image, uint32_t colour) {
  const ImgBasic::Rgb rgb = ImgBasic::SplitColorRef(colour);
  const int64_t rowBytes = int64_t{image->width} * 3;
  uint8_t* first = image->data;
  for (int64_t x = 0; x < rowBytes; x += 3) {
    first[x] = rgb.blue;
    first[x + 1] = rgb.green;
    first[x + 2] = rgb.red;
  }
  for (int64_t y = 1; y < image->height; y++)
    std::memcpy(first + y * rowBytes, first, static_cast<size_t>(rowBytes));
}

// The bordered picture is built in a new 24-bit image that then takes the
// old one's place; the frame frees it when any step fails.
void ImgBorder_(Qimg* image, int32_t left, int32_t top, int32_t right,
                int32_t bottom, uint32_t colour) {
  Errors::Monitored("QorMain.ImgBorder_", [&] {
    left = std::clamp(left, 0, kMaxBorder);
    top = std::clamp(top, 0, kMaxBorder);
    right = std::clamp(right, 0, kMaxBorder);
    bottom = std::clamp(bottom, 0, kMaxBorder);
    if (left + right == 0 && top + bottom == 0) return;
    const int64_t width = int64_t{left} + image->width + right;
    const int64_t height = int64_t{top} + image->height + bottom;
    if (ImgBasic::CheckedImageBytes(width, height, 24, __LINE__) < 0) return;
    if (image->bitsPerPixel != 24) ImgBasic::ImgConvBpp(image, image, 24);
    Qimg bordered;
    ImgBasic::_imgalloc_(&bordered, static_cast<int32_t>(width),
                         static_cast<int32_t>(height),
                         "QorMain.QorImgBorder.newImg", __LINE__, 24);
    FillWithColour(&bordered, colour);
    ImgBasic::ImgInsert(image, &bordered, left, top);
    ImgBasic::ImgXchg(image, &bordered);
    ImgBasic::ImgFree(&bordered);
  });
}

// The image is mapped onto a fixed palette in a temporary 8-bit image that
// is then copied back; the frame frees the temporary when a step fails.
void ImgRemapToCustomPalette_(Qimg* image, const uint8_t* palette,
                              int32_t numColors) {
  Errors::Monitored("QorMain.ImgRemapToCustomPalette_", [&] {
    if (numColors < 1) {
      Errors::ErrSet(Errors::kErrOutOfRange, __LINE__);
      return;
    }
    const int32_t count = std::min(numColors, 256);
    if (image->bitsPerPixel != 24) ImgBasic::ImgConvBpp(image, image, 24);
    Qimg mapped;
    PalOpt::Remap24ToFixedPal(image, &mapped, palette, count);
    ImgBasic::ImgCopy(&mapped, image);
    ImgBasic::ImgFree(&mapped);
  });
}

}  // namespace

// ---- tone effects -----------------------------------------------------------

QOR_API void QOR_CALL QorImgGamma(QorHandle mImg, double R, double G,
                                  double B) {
  ImgExport(
      "QorMain.QorImgGamma", mImg,
      [&] {
        LogValue("R", Common::FloatToStrAuto(R));
        LogValue("G", Common::FloatToStrAuto(G));
        LogValue("B", Common::FloatToStrAuto(B));
      },
      [&](Qimg* img) { Impress::ImgGamma(img, img, R, G, B); });
}

QOR_API void QOR_CALL QorImgBrightness(QorHandle mImg, int32_t R, int32_t G,
                                       int32_t B) {
  ImgExport("QorMain.QorImgBrightness", mImg, [&] { LogRGB(R, G, B); },
            [&](Qimg* img) { Impress::ImgBrightness(img, img, R, G, B); });
}

QOR_API void QOR_CALL QorImgContrast(QorHandle mImg, int32_t R, int32_t G,
                                     int32_t B) {
  ImgExport("QorMain.QorImgContrast", mImg, [&] { LogRGB(R, G, B); },
            [&](Qimg* img) { Impress::ImgContrast(img, img, R, G, B); });
}

QOR_API void QOR_CALL QorImgSaturation(QorHandle mImg, int32_t pct) {
  ImgExport("QorMain.QorImgSaturation", mImg, [&] { LogInt("pct", pct); },
            [&](Qimg* img) { Impress::ImgSaturation(img, img, pct); });
}

QOR_API void QOR_CALL QorImgWhiteBalance(QorHandle mImg, int32_t R, int32_t G,
                                         int32_t B) {
  ImgExport("QorMain.QorImgWhiteBalance", mImg, [&] { LogRGB(R, G, B); },
            [&](Qimg* img) { Impress::ImgWhiteBalance(img, img, R, G, B); });
}

// ---- filters ------------------------------------------------------------------

QOR_API void QOR_CALL QorImgSoften(QorHandle mImg) {
  ImgExport("QorMain.QorImgSoften", mImg,
            [](Qimg* img) { Impress::ImgSoften(img, img); });
}

QOR_API void QOR_CALL QorImgSharpen(QorHandle mImg) {
  ImgExport("QorMain.QorImgSharpen", mImg,
            [](Qimg* img) { Impress::ImgSharpen(img, img); });
}

QOR_API void QOR_CALL QorImgFindEdges(QorHandle mImg) {
  ImgExport("QorMain.QorImgFindEdges", mImg,
            [](Qimg* img) { Impress::ImgFindEdges(img, img); });
}

QOR_API void QOR_CALL QorImgEdgeEnhance(QorHandle mImg) {
  ImgExport("QorMain.QorImgEdgeEnhance", mImg,
            [](Qimg* img) { Impress::ImgEdgeEnhance(img, img); });
}

// The call log has always named this export "QorDeinterlace"; hosts' log
// readers match that name.
QOR_API void QOR_CALL QorImgDeinterlace(QorHandle mImg, QorBool keepEven,
                                        QorBool interpolate) {
  ImgExport(
      "QorMain.QorDeinterlace", mImg,
      [&] {
        LogInt("keepEven", keepEven);
        LogInt("interpolate", interpolate);
      },
      [&](Qimg* img) {
        // keepEven counts rows from 1: its even rows are rows 1, 3, ...
        Impress::ImgDeinterlace(img, img, keepEven == 0, interpolate == 0);
      });
}

// ---- geometry -------------------------------------------------------------------

QOR_API void QOR_CALL QorImgResize(QorHandle mImg, int32_t resX,
                                   int32_t resY) {
  ImgExport(
      "QorMain.QorImgResize", mImg,
      [&] {
        LogInt("resX", resX);
        LogInt("resY", resY);
      },
      [&](Qimg* img) {
        if (resX == img->width && resY == img->height) return;
        ImgBasic::ImgResize(img, img, resX, resY);
      });
}

QOR_API void QOR_CALL QorImgResample(QorHandle mImg, int32_t resX,
                                     int32_t resY) {
  ImgExport(
      "QorMain.QorImgResample", mImg,
      [&] {
        LogInt("resX", resX);
        LogInt("resY", resY);
      },
      [&](Qimg* img) {
        if (resX == img->width && resY == img->height) return;
        ImgBasic::ImgResample(img, img, resX, resY);
      });
}

QOR_API void QOR_CALL QorImgBorder(QorHandle mImg, int32_t left, int32_t top,
                                   int32_t right, int32_t bottom,
                                   int32_t color) {
  ImgExport(
      "QorMain.QorImgBorder", mImg,
      [&] {
        LogInt("left", left);
        LogInt("top", top);
        LogInt("right", right);
        LogInt("bottom", bottom);
        LogValue("color", Common::RGBToStrLog(static_cast<uint32_t>(color)));
      },
      [&](Qimg* img) {
        ImgBorder_(img, left, top, right, bottom, static_cast<uint32_t>(color));
      });
}

QOR_API void QOR_CALL QorImgCrop(QorHandle mImg, int32_t newX, int32_t newY,
                                 int32_t resX, int32_t resY) {
  ImgExport(
      "QorMain.QorImgCrop", mImg,
      [&] {
        LogInt("newX", newX);
        LogInt("newY", newY);
        LogInt("resX", resX);
        LogInt("resY", resY);
      },
      [&](Qimg* img) { ImgBasic::ImgCrop(img, img, newX, newY, resX, resY); });
}

QOR_API void QOR_CALL QorImgRotate(QorHandle mImg, int32_t direction) {
  ImgExport("QorMain.QorImgRotate", mImg,
            [&] { LogInt("direction", direction); },
            [&](Qimg* img) { ImgBasic::ImgRotate(img, img, direction); });
}

QOR_API void QOR_CALL QorImgFlipVertical(QorHandle mImg) {
  ImgExport("QorMain.QorImgFlipVertical", mImg,
            [](Qimg* img) { ImgBasic::ImgFlipV(img, img); });
}

QOR_API void QOR_CALL QorImgFlipHorizontal(QorHandle mImg) {
  ImgExport("QorMain.QorImgFlipHorizontal", mImg,
            [](Qimg* img) { ImgBasic::ImgFlipH(img, img); });
}

QOR_API void QOR_CALL QorImgInsert(QorHandle mImgDest, QorHandle mImgSrc,
                                   int32_t destX, int32_t destY) {
  Common::ExportFrameVoid("QorMain.QorImgInsert", [&] {
    LogImg("mImgDest", mImgDest);
    LogImg("mImgSrc", mImgSrc);
    LogInt("destX", destX);
    LogInt("destY", destY);
    ImgBasic::ImgInsert(Image(mImgSrc, "mImgSrc"), Image(mImgDest, "mImgDest"),
                        destX, destY);
  });
}

// ---- colour tables and palettes ----------------------------------------------

QOR_API void QOR_CALL QorImgRemap(QorHandle mImg, const uint8_t* redP,
                                  const uint8_t* greenP,
                                  const uint8_t* blueP) {
  ImgExport(
      "QorMain.QorImgRemap", mImg,
      [&] {
        LogValue("redP", Common::PtrToStrLog(redP));
        LogValue("greenP", Common::PtrToStrLog(greenP));
        LogValue("blueP", Common::PtrToStrLog(blueP));
      },
      [&](Qimg* img) {
        // Without all three tables there is no mapping to apply.
        if (!redP || !greenP || !blueP) return;
        std::array<uint8_t, 768> tables;
        std::memcpy(tables.data(), redP, 256);
        std::memcpy(tables.data() + 256, greenP, 256);
        std::memcpy(tables.data() + 512, blueP, 256);
        ImgBasic::ImgRemap(img, img, tables.data());
      });
}

QOR_API void QOR_CALL QorImgRemapToCustomPalette(QorHandle mImg,
                                                 const uint8_t* palPtr,
                                                 int32_t numColors) {
  ImgExport(
      "QorMain.QorImgRemapToCustomPalette", mImg,
      [&] {
        LogValue("palPtr", Common::PtrToStrLog(palPtr));
        LogInt("numColors", numColors);
      },
      [&](Qimg* img) {
        ImgRemapToCustomPalette_(img, Common::Require(palPtr, "palPtr"),
                                 numColors);
      });
}

// ---- running average ------------------------------------------------------------

QOR_API void QOR_CALL QorImgAverageClear(void) {
  Common::ExportFrameVoid("QorMain.QorImgAverageClear",
                          [] { Impress::ImgAverageClear(); });
}

QOR_API void QOR_CALL QorImgAverageAdd(QorHandle mImg) {
  ImgExport("QorMain.QorImgAverageAdd", mImg,
            [](Qimg* img) { Impress::ImgAverage(img); });
}

QOR_API void QOR_CALL QorImgAverageGet(QorHandle mImg) {
  ImgExport("QorMain.QorImgAverageGet", mImg,
            [](Qimg* img) { Impress::ImgAverageGet(img); });
}

// ---- emptying -----------------------------------------------------------------------

QOR_API void QOR_CALL QorImgSkip(QorHandle mImg) {
  ImgExport("QorMain.QorImgSkip", mImg,
            [](Qimg* img) { ImgBasic::ImgFree(img); });
}
