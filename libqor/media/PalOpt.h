// Palette optimisation: counts the colours of one image or of every frame of
// a movie into a 64×64×64 cube, reduces them to at most 256 palette entries
// by splitting boxes of the cube, and remaps pictures to that palette with
// no, light (ordered) or heavy (error-diffusion) dithering.
//
// A palette pass (PalInit, PalClearVars, PalCountColors..., PalReduce,
// PalRemap..., PalDone) runs on one process-wide work area. ConvTo8bit runs
// the same steps on a work area of its own, so converting a single image to
// 8 bits never disturbs a pass that is under way.
#pragma once

#include <cstdint>

#include "media/ImgBasic.h"

namespace PalOpt {

enum : int32_t {
  kDitherNone = 0,
  kDitherLight = 1,
  kDitherHeavy = 2,
};

// Channel weights of every colour distance: 30², 59², 11² for red, green,
// blue.
constexpr int32_t kWeightR = 900;
constexpr int32_t kWeightG = 3481;
constexpr int32_t kWeightB = 121;

constexpr int32_t kCubeCells = 64 * 64 * 64;
constexpr int32_t kWorkAreaBytes = 7360268;

// The layout below is the work area's: 4-byte packing keeps each box record
// at 76 bytes.
#pragma pack(push, 4)
struct PalBox {
  int32_t r0, r1, g0, g1, b0, b1;  // inclusive cube coordinates 0..63
  int32_t extR, extG, extB;        // r1 - r0, g1 - g0, b1 - b0
  int32_t size;                    // 900·extR² + 3481·extG² + 121·extB²
  double spreadR, spreadG, spreadB;
  int32_t splitR, splitG, splitB;
};

struct WorkArea {
  // Counting: pixels seen - 1 (-1: none). After the reduction: the palette
  // index of the colour class (the inverse map).
  int32_t cube[kCubeCells];
  // Per cell the sums of the exact blue, green and red values of the pixels
  // counted there: a palette entry is the mean colour of what it stands
  // for, not a corner of a 4 × 4 × 4 class.
  int64_t sums[kCubeCells][3];
  int32_t distinct;
  uint8_t palette[768];  // blue, green, red
  int32_t boxCount;
  PalBox boxes[256];
  int32_t wanted;
};
#pragma pack(pop)
static_assert(sizeof(PalBox) == 76);
static_assert(sizeof(WorkArea) == kWorkAreaBytes);

// Cube cell of an 8-bit colour.
inline int32_t CellOf(int32_t red, int32_t green, int32_t blue) {
  return (red >> 2) | ((green >> 2) << 6) | ((blue >> 2) << 12);
}

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

// The process-wide work area, or nullptr while there is none.
WorkArea* PalWorkArea();

// The error table of one diffusion strength: entry e + 255 is the share of
// an error e (-255..255) passed on.
void MakeErrTable(int32_t strength, int32_t table[511]);

// The 128 × 128 threshold matrix of the light dither, row by row.
const uint8_t* DitherMatrix();

}  // namespace PalOpt
