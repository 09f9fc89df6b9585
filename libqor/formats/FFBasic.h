// What every format writer shares: the depth each format stores, bringing an
// image to that depth and block size before it is written, a few number
// helpers; the bounded reader and the limits come from the foundation.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/FFReader.h"
#include "media/ImgBasic.h"
#include "media/SndBasic.h"

namespace FFBasic {

// Preparation record of a writer: the image to write is either the caller's
// or the record's own converted / padded copy.
struct FFInitRec {
  ImgBasic::Qimg* image = nullptr;
  ImgBasic::Qimg own;
  bool ownUsed = false;
};

void FFInit(int32_t id, FFInitRec* rec, ImgBasic::Qimg* image, int32_t block);
void FFDone(FFInitRec* rec);

// Row of the depth table for a format identifier, or K_AUTO.
int32_t FFFindFormat(int32_t id);
// Depth a format stores for an image of the given depth, or K_AUTO.
int32_t FFGetSaveBpp(int32_t id, int32_t depth);

uint32_t MakeFourCC(uint8_t a, uint8_t b, uint8_t c, uint8_t d);
std::string FourCCToStr(uint32_t code);
int32_t FFDivPositive(int32_t a, int32_t x);
int32_t FFMulRoundPositive(double a, double b);

// Creates a writer's output file after removing an old one, and has the
// calling routine's monitor frame remove it again should the routine fail, so
// no half-written file is left. Returns the tracked file handle.
int32_t FFCreateFile(const std::string& name);
// The same removal for an output that a codec library creates by its name:
// should the calling routine fail, its monitor frame deletes the file (after
// the routine's own locals, such as the library's file handle, are gone).
void FFDeleteOnFailure(const std::string& name);

// Reads bytes at a position of a tracked file whose size is known; a range
// that does not lie inside the file is the error (cls, code), not a read.
void FFReadAt(int32_t handle, int64_t fileSize, int64_t position, void* dest,
              int64_t bytes, int32_t cls, int32_t code, int32_t sourceLine);

// Little- and big-endian stores into a byte buffer.
inline void Put16L(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32L(uint8_t* p, uint32_t v) {
  Put16L(p, v);
  Put16L(p + 2, v >> 16);
}
inline void Put16B(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void Put32B(uint8_t* p, uint32_t v) {
  Put16B(p, v >> 16);
  Put16B(p + 2, v);
}

// Whether a sound encoder that takes 16-bit PCM in its first block's format
// can take this block: 16-bit PCM, its samples inside the record's block,
// and (once the encoder started) the format of the first block.
bool FFPcm16BlockFits(const SndBasic::SndRec& block, bool started,
                      const SndBasic::WaveFormatEx& first);

// True when every pixel of a 32-bit image has a fourth byte of 0.
bool AlphaAllZero(const ImgBasic::Qimg* image);

}  // namespace FFBasic
