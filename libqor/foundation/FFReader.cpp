#include "foundation/FFReader.h"

#include <algorithm>
#include <atomic>

#include "foundation/Basic.h"
#include "foundation/Errors.h"

namespace FFBasic {
namespace {

std::atomic<int64_t> imageBytesLimit{kMaxImageBytes};
std::atomic<int64_t> frameCountLimit{kMaxFrameCount};

void RaiseImageError(int32_t code) { Errors::ErrSet(Errors::kClsImage, code, __LINE__); }

bool ReadTrackedFile(int32_t file, int64_t position, void* dest, int64_t count) {
  int64_t got = 0;
  return Basic::FSeek(file, position) == 0 && Basic::FReadAvail(file, dest, count, got);
}

}  // namespace

int64_t FFCapSize(int64_t bytes, int32_t code, int32_t sourceLine) {
  if (bytes < 0 || bytes > kMaxReadBlock) {
    Errors::ErrSet(Errors::kClsImage, code, sourceLine);
    return -1;
  }
  return bytes;
}

void FFSetLimits(int64_t imageBytes, int64_t frameCount) {
  imageBytesLimit = imageBytes >= 1 && imageBytes <= kMaxImageBytes ? imageBytes
                                                                     : kMaxImageBytes;
  frameCountLimit = frameCount >= 1 && frameCount <= kMaxFrameCount ? frameCount
                                                                     : kMaxFrameCount;
}

int64_t FFImageBytesLimit() { return imageBytesLimit; }
int64_t FFFrameCountLimit() { return frameCountLimit; }

int64_t FFCapImage(int64_t width, int64_t height, int32_t bits, int32_t code,
                   int32_t sourceLine) {
  const int64_t bytesPerPixel = (std::clamp(bits, 1, 32) + 7) / 8;
  // The sides first: their product stays far inside 64 bits.
  if (width < 1 || height < 1 || width > kMaxImageSide ||
      height > kMaxImageSide ||
      width * height > imageBytesLimit / bytesPerPixel) {
    Errors::ErrSet(Errors::kClsImage, code, sourceLine);
    return -1;
  }
  return width * height * bytesPerPixel;
}

int64_t FFCapFrames(int64_t frames, int32_t code, int32_t sourceLine) {
  if (frames < 0 || frames > frameCountLimit) {
    Errors::ErrSet(Errors::kClsImage, code, sourceLine);
    return -1;
  }
  return frames;
}

FFReader::FFReader(const uint8_t* data, int64_t size, int32_t failCode)
    : FFReader(data, size) {
  failCode_ = failCode;
  raise_ = RaiseImageError;
}

FFReader::FFReader(int32_t fileHandle, int32_t failCode) : FFReader(nullptr, 0) {
  file_ = fileHandle;
  isFile_ = true;
  failCode_ = failCode;
  raise_ = RaiseImageError;
  readFile_ = ReadTrackedFile;
  const int64_t size = Basic::FSize(fileHandle);
  size_ = size == Basic::K_AUTO ? 0 : std::max<int64_t>(size, 0);
}

}  // namespace FFBasic
