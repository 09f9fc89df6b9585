// What the units over the still-image codec layer share: the store for the
// codec libraries' messages, the facts their information routines report,
// and the preparation of an image for a writer.
#pragma once

#include <cstdint>
#include <string>

#include "media/ImgBasic.h"

namespace CodecCommon {

// ---- library messages ------------------------------------------------------
// The callbacks only store (they run inside the C libraries' frames); the
// unit raises after the library call has returned. The first error and the
// first warning of a call are kept.

void ClearMessages();
// Points the codec layer's message callbacks at this store and clears it,
// before a call into the layer.
void ListenToLayer();
void StoreError(const char* message) noexcept;
void StoreWarning(const char* message) noexcept;
bool HasError();

// Passes a stored warning on as a class-1 text warning.
void PassWarnings(int32_t sourceLine);
// After a failed library call: passes warnings on, then raises the stored
// error as a class-1 text error, or (cls, code) when the library left no
// message.
void RaiseFailure(int32_t cls, int32_t code, int32_t sourceLine);

// ---- file information ------------------------------------------------------
// The facts a still codec reports about a file, field for field as the
// format layer's file-information record holds them.
struct StillInfo {
  double fileSize = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t bytesPerPixel = 0;
  int32_t bitsPerPixel = 0;
  int32_t frameCount = 0;
  std::string videoCompression;
  bool hasPictures = false;
  bool picturesReadable = false;
};

// ---- preparing an image for a writer ---------------------------------------

enum : int32_t {
  kFormatJpeg = 8,
  kFormatPng = 9,
  kFormatTiff = 10,
  kFormatXpm = 17,
};

// The depth a format stores for an image of the given depth, or K_AUTO for
// a format these units do not write.
int32_t SaveDepth(int32_t formatId, int32_t bits);

// The image a writer stores: the caller's, or the record's own copy at the
// depth the format holds.
struct PreparedImage {
  ImgBasic::Qimg* image = nullptr;
  ImgBasic::Qimg own;
  bool usesOwn = false;
};

// Fails with (14, 1) when there is no usable image or the format is not one
// of these units'.
void PrepareForSave(int32_t formatId, PreparedImage& record,
                    ImgBasic::Qimg* image);
void PreparedDone(PreparedImage& record);

// True for a 32-bit image whose fourth byte is 0 in every pixel (what every
// depth conversion leaves): such an image carries no transparency.
bool AlphaAllZero(const ImgBasic::Qimg& image);

// Deletes the file a writer started unless the writer finished; never
// raises, so it may run while a failure unwinds.
class OutputGuard {
 public:
  explicit OutputGuard(std::string name) : name_(std::move(name)) {}
  ~OutputGuard();
  void Keep() { keep_ = true; }
  OutputGuard(const OutputGuard&) = delete;
  OutputGuard& operator=(const OutputGuard&) = delete;

 private:
  std::string name_;
  bool keep_ = false;
};

}  // namespace CodecCommon
