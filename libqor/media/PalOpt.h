// Palette optimisation: counts the colours of one image or of every frame of
// a movie into a 64×64×64 cube, reduces them to at most 256 palette entries
// by splitting boxes of the cube, and remaps pictures to that palette with
// no, light (ordered) or heavy (error-diffusion) dithering.
#pragma once

#include <cstdint>

#include "media/ImgBasic.h"

namespace PalOpt {

enum : int32_t {
  kDitherNone = 0,
  kDitherLight = 1,
  kDitherHeavy = 2,
};

void PalInit();
void PalClearVars();
void PalCountColors(const ImgBasic::Qimg* image);
void PalReduce(int32_t count);
void PalRemap(const ImgBasic::Qimg* source, ImgBasic::Qimg* dest, int32_t mode);
void PalDone();
void ConvTo8bit(const ImgBasic::Qimg* source, ImgBasic::Qimg* dest,
                int32_t mode);
void Remap24ToFixedPal(const ImgBasic::Qimg* source, ImgBasic::Qimg* dest,
                       const uint8_t* palette, int32_t count);
int32_t NearestPalColor(int32_t red, int32_t green, int32_t blue,
                        int32_t count, const uint8_t* palette);

}  // namespace PalOpt
