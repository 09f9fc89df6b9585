// What a file may ask for, and the bounded reader every reader of untrusted
// input takes it through: the format readers above and the movie layer
// below them hold files to the same limits, set once for the process.
#pragma once

#include <cstdint>
#include <cstring>

namespace FFBasic {

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
// above restore that limit. The movie module asks the core's settings.
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
// A Quiet reader only marks itself failed: for the movie layer, which
// reports through its own results.
class FFReader {
 public:
  FFReader(const uint8_t* data, int64_t size, int32_t failCode);
  FFReader(int32_t fileHandle, int32_t failCode);
  static FFReader Quiet(const uint8_t* data, int64_t size) { return FFReader(data, size); }

  int64_t Size() const { return size_; }
  int64_t Pos() const { return pos_; }
  int64_t Left() const { return size_ - pos_; }
  bool Has(int64_t count) const { return count >= 0 && count <= Left(); }
  bool Failed() const { return failed_; }
  void SetFailCode(int32_t code) { failCode_ = code; }

  // Fails unless count bytes remain.
  bool Need(int64_t count) {
    if (failed_ || !Has(count)) {
      Fail();
      return false;
    }
    return true;
  }
  bool Seek(int64_t position) {
    if (failed_ || position < 0 || position > size_) {
      Fail();
      return false;
    }
    pos_ = position;
    return true;
  }
  bool Skip(int64_t count) {
    if (!Need(count)) return false;
    pos_ += count;
    return true;
  }
  bool Read(void* dest, int64_t count);
  // Reads up to count bytes; returns how many were read (no failure).
  int64_t ReadUpTo(void* dest, int64_t count) {
    if (failed_ || count <= 0) return 0;
    const int64_t n = count < Left() ? count : Left();
    if (n <= 0) return 0;
    return Read(dest, n) ? n : 0;
  }

  uint8_t U8() {
    uint8_t b = 0;
    Read(&b, 1);
    return b;
  }
  uint16_t U16L() {
    uint8_t b[2] = {};
    Read(b, 2);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
  }
  uint16_t U16B() {
    uint8_t b[2] = {};
    Read(b, 2);
    return static_cast<uint16_t>((b[0] << 8) | b[1]);
  }
  uint32_t U32L() {
    uint8_t b[4] = {};
    Read(b, 4);
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
  }
  uint32_t U32B() {
    uint8_t b[4] = {};
    Read(b, 4);
    return (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
           (static_cast<uint32_t>(b[2]) << 8) | static_cast<uint32_t>(b[3]);
  }

  void Fail() {
    failed_ = true;
    if (raise_) raise_(failCode_);
  }

 private:
  // The quiet reader of a byte buffer.
  FFReader(const uint8_t* data, int64_t size)
      : data_(data), size_(data != nullptr && size > 0 ? size : 0) {}

  // Reached through pointers, so that the movie module, which holds no
  // tracked files and no error state, can use the reader without them.
  void (*raise_)(int32_t code) = nullptr;
  bool (*readFile_)(int32_t file, int64_t position, void* dest, int64_t count) = nullptr;

  const uint8_t* data_ = nullptr;
  int32_t file_ = 0;
  bool isFile_ = false;
  int64_t size_ = 0;
  int64_t pos_ = 0;
  int32_t failCode_ = 9;
  bool failed_ = false;
};

inline bool FFReader::Read(void* dest, int64_t count) {
  if (count <= 0) return count == 0 && !failed_;
  if (!Need(count)) {
    std::memset(dest, 0, static_cast<size_t>(count));
    return false;
  }
  if (isFile_) {
    if (!readFile_(file_, pos_, dest, count)) {
      std::memset(dest, 0, static_cast<size_t>(count));
      Fail();
      return false;
    }
  } else {
    std::memcpy(dest, data_ + pos_, static_cast<size_t>(count));
  }
  pos_ += count;
  return true;
}

// Little-endian loads from a byte buffer.
inline uint16_t Get16L(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Get32L(const uint8_t* p) {
  return Get16L(p) | (static_cast<uint32_t>(Get16L(p + 2)) << 16);
}

}  // namespace FFBasic
