// What every format writer shares: the depth each format stores, bringing an
// image to that depth and block size before it is written, a few number
// helpers, and the bounded reader every format reader takes its input through.
#pragma once

#include <cstdint>
#include <string>

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

// ---- what a file may ask for ----------------------------------------------
// A file's header can claim anything; these limits are what every reader
// holds it to, checked before anything is allocated on its behalf, so a
// hostile header ends in the image error instead of exhausting memory.

// Largest block a reader may ask for on behalf of a file (1 GiB).
constexpr int64_t kMaxReadBlock = int64_t{1} << 30;
// Largest picture a file may describe: width x height x bytes per pixel of
// one frame (1 GiB), and the longest side.
constexpr int64_t kMaxImageBytes = int64_t{1} << 30;
constexpr int64_t kMaxImageSide = 1 << 20;
// Most frames a file may declare or a reader may index.
constexpr int64_t kMaxFrameCount = 1 << 20;

// A process may hold its readers to tighter limits than these (a host that
// serves many files at once, or a fuzzer); values outside 1 .. the limit
// above restore that limit.
void FFSetLimits(int64_t imageBytes, int64_t frameCount);
int64_t FFImageBytesLimit();
int64_t FFFrameCountLimit();

// Checks a size computed from file values: 0 <= bytes <= kMaxReadBlock, else
// image error (7, code). Returns the size, or -1 after the error.
int64_t FFCapSize(int64_t bytes, int32_t code, int32_t sourceLine);
// Checks a picture size read from a file: sides of 1 to kMaxImageSide and
// width x height x ((bits + 7) div 8) within the picture limit in force,
// else image error (7, code). Returns the bytes of one frame, or -1 after
// the error.
int64_t FFCapImage(int64_t width, int64_t height, int32_t bits, int32_t code,
                   int32_t sourceLine);
// Checks a frame count read from a file or reached while indexing one:
// 0 <= frames <= the frame limit in force, else image error (7, code).
// Returns the count, or -1 after the error.
int64_t FFCapFrames(int64_t frames, int32_t code, int32_t sourceLine);

// Reads untrusted input, from a byte buffer or from a tracked file, without
// ever leaving it: every offset, length and count is checked against what
// remains before it is used. Any failure is the image error (7, failCode);
// inside a monitor frame that ends the routine, and should the frame not
// raise, a failed read leaves its destination zeroed and the reader failed.
class FFReader {
 public:
  FFReader(const uint8_t* data, int64_t size, int32_t failCode);
  FFReader(int32_t fileHandle, int32_t failCode);

  int64_t Size() const { return size_; }
  int64_t Pos() const { return pos_; }
  int64_t Left() const { return size_ - pos_; }
  bool Has(int64_t count) const { return count >= 0 && count <= Left(); }
  bool Failed() const { return failed_; }
  void SetFailCode(int32_t code) { failCode_ = code; }

  // Fails unless count bytes remain.
  bool Need(int64_t count);
  bool Seek(int64_t position);
  bool Skip(int64_t count);
  bool Read(void* dest, int64_t count);
  // Reads up to count bytes; returns how many were read (no failure).
  int64_t ReadUpTo(void* dest, int64_t count);

  uint8_t U8();
  uint16_t U16L();
  uint16_t U16B();
  uint32_t U32L();
  uint32_t U32B();

  void Fail();

 private:
  const uint8_t* data_ = nullptr;
  int32_t file_ = 0;
  bool isFile_ = false;
  int64_t size_ = 0;
  int64_t pos_ = 0;
  int32_t failCode_ = 9;
  bool failed_ = false;
};

// Little-endian loads from a byte buffer.
inline uint16_t Get16L(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Get32L(const uint8_t* p) {
  return Get16L(p) | (static_cast<uint32_t>(Get16L(p + 2)) << 16);
}

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
