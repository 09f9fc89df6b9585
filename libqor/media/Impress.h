// Picture effects: per-channel tone curves (brightness, contrast, gamma),
// white balance and saturation through 256-entry tables, the four fixed
// 3×3 convolution filters, deinterlacing, and a running average of frames.
//
// Every effect runs in the image operation frame under its own operation
// code, so the frame decides the working depth; on 8-bit images the tone
// effects change the palette, not the pixels. Source and destination may be
// the same record.
#pragma once

#include <cstdint>

#include "media/ImgBasic.h"

namespace Impress {

using ImgBasic::Qimg;

void ImgBrightness(Qimg* source, Qimg* dest, int32_t red, int32_t green,
                   int32_t blue);
void ImgContrast(Qimg* source, Qimg* dest, int32_t red, int32_t green,
                 int32_t blue);
void ImgGamma(Qimg* source, Qimg* dest, double red, double green, double blue);
// Balances the image so that the reference colour becomes neutral.
void ImgWhiteBalance(Qimg* source, Qimg* dest, int32_t red, int32_t green,
                     int32_t blue);
void ImgSaturation(Qimg* source, Qimg* dest, int32_t percent);

void ImgSoften(Qimg* source, Qimg* dest);
void ImgSharpen(Qimg* source, Qimg* dest);
void ImgFindEdges(Qimg* source, Qimg* dest);
void ImgEdgeEnhance(Qimg* source, Qimg* dest);

// Rebuilds one field: keepFirst keeps the even rows (0, 2, ...), otherwise
// the odd ones; duplicate copies the kept row above instead of averaging
// the kept rows around.
void ImgDeinterlace(Qimg* source, Qimg* dest, bool keepFirst, bool duplicate);

// The process-wide running average of frames.
void ImgAverageClear();
void ImgAverage(const Qimg* image);
void ImgAverageGet(Qimg* image);

// ---- table builders -------------------------------------------------------
// One 256-entry table for one channel's parameter.
void BrightnessCalc_(uint8_t* table, double percent);
void ContrastCalc_(uint8_t* table, double percent);
void GammaCalc_(uint8_t* table, double gamma);
// Three tables (red, green, blue; 256 entries each) for a reference colour.
void WhiteBalanceCalc_(uint8_t* tables, double red, double green, double blue);

// One 3×3 kernel: weights row above, own row, row below; the weighted sum
// is shifted right and the bias added.
struct FilterKernel {
  int16_t weights[9];
  int16_t shift;
  int16_t bias;
};
void AutoFilter_(Qimg* source, Qimg* dest, int32_t code,
                 const FilterKernel& kernel);

}  // namespace Impress
