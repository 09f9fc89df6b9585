// The KWB movie format: the library's own lossless movie format.
//
// Its two strip coders and their decoder:
// A strip is whole rows of one frame; it is coded against the rows above it
// and, when delta is allowed, against the same bytes of the previous frame.
#pragma once

#include <cstdint>

namespace FF_KWB {

// The coders write at most the raw strip size plus this many bytes.
constexpr int64_t kCoderSlack = 16;

// Longest run (pixels), count code and long skip (bytes) a token carries.
constexpr int32_t kMaxCount = 767;
constexpr int32_t kMaxSkip = 49089;

// Code one strip of rows × width pixels of bpp bytes. prev is the same strip
// of the previous frame (may be null when delta is not allowed). Returns the
// coded size in bytes, or 0 when the strip is to be stored raw (coding does
// not get below 95 % of the raw size). out must hold raw + kCoderSlack bytes.
int32_t KWDCFast(const uint8_t* src, uint8_t* out, const uint8_t* prev,
                 bool delta, int32_t bpp, int32_t rows, int32_t width);
int32_t KWDCBest(const uint8_t* src, uint8_t* out, const uint8_t* prev,
                 bool delta, int32_t bpp, int32_t rows, int32_t width);

// Decodes one coded strip onto out, which must hold the previous frame's
// bytes where the strip skips. False when the data is corrupt (a token
// running past the strip, a reference before its start, missing end).
bool KWDDecodeStrip_(const uint8_t* in, int64_t inLen, uint8_t* out,
                     bool fast, int32_t bpp, int32_t rows, int32_t width);

// Count code for values 2..767 (run lengths, long-skip counts, match
// lengths): exposed for the tests that build bitstreams by hand.
class BitWriter {
 public:
  BitWriter(uint8_t* out, int64_t capacity) : out_(out), cap_(capacity) {}
  void Put(uint32_t value, int bits);
  void PutCount(int32_t value);
  void Finish();
  int64_t Bytes() const { return pos_ + (n_ > 0 ? 1 : 0); }
  bool Overflow() const { return overflow_; }

 private:
  uint8_t* out_;
  int64_t cap_;
  int64_t pos_ = 0;
  uint64_t acc_ = 0;
  int n_ = 0;
  bool overflow_ = false;
};

}  // namespace FF_KWB
