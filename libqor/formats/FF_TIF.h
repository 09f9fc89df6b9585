// TIFF still images (format 10) through the codec layer's libtiff
// interface, and single tags read straight from a file.
#pragma once

#include <cstdint>
#include <string>

#include "formats/ConForm.h"
#include "media/ImgBasic.h"
#include "platform/Wexel.h"

namespace FF_TIF {

// How the loader takes the pixels of an open file.
enum : int32_t {
  kReadNone = 0,       // not readable
  kReadRows = 1,       // 1 or 8 bits per sample, rows straight into the image
  kReadGray16 = 2,     // 16-bit grey (with or without alpha), range-mapped
  kReadHigh16 = 3,     // 16-bit RGB or RGBA, high byte of every sample
  kReadGrayAlpha = 4,  // 8-bit grey with alpha, as 32 bits
  kReadRgba = 5,       // libtiff's RGBA reader (planes, tiles, YCbCr, CMYK, Lab)
};

struct TifFileRec {
  TIFF* tif = nullptr;
  int32_t height = 0;
  int32_t width = 0;
  int32_t scanSize = 0;
  uint16_t bitsPerSample = 0;
  uint16_t samplesPerPixel = 0;
  uint16_t compression = 0;
  uint16_t photometric = 0;
  bool supported = false;
  // How TIFLoad reads this file and the depth it delivers.
  int32_t readMode = kReadNone;
  int32_t loadBits = 0;
  // The alpha sample is associated: colours are stored multiplied by it.
  bool premultiplied = false;
};

// Save compression (TIFF compression tag value, stored unchanged).
void TIFSetCompression(int32_t value);
int32_t TIFGetCompression();
// 16-bit grey values mapped onto 0 and 255 (K_AUTO: the file's own lowest
// and highest).
void TIFSetGrayRange(int32_t low, int32_t high);

void TIFOpen_(TifFileRec* handle, const std::string& fileName);
void TIFCreate_(TIFF** tif, const std::string& fileName);
void TIFClose_(TifFileRec* handle);

void TIFLoad(const std::string& fileName, ImgBasic::Qimg* image);
void TIFSave(const std::string& fileName, ImgBasic::Qimg* image);
void TIFInfo(const std::string& fileName, ConForm::FFInfoRec* info);

// Bytes of one tag of the first directory (see the routine for the rules).
int32_t TIFGetTag(const std::string& fileName, int32_t tag, void* buffer,
                  int32_t bufferSize);

// 16 when a colour map holds a value of 256 or more in its first entries.
int32_t checkpal_(int32_t entries, const uint16_t* red, const uint16_t* green,
                  const uint16_t* blue);
// One row of 24-bit pixels to packed bits: 1 where the luma is 128 or more.
void TIFGrayLine(const uint8_t* pixels, uint8_t* packed, int32_t width);
// Expands count packed bits at the start of pixels to one byte each, in
// place, most significant bit first.
void TIFUnpackBits(uint8_t* pixels, int32_t count);
// Lowest and highest of count samples taken every stride samples.
void TIFMinMax16(const uint16_t* samples, int64_t count, int32_t& low,
                 int32_t& high, int32_t stride = 1);

void error_handler_(const char* message);
void warning_handler_(const char* message);

}  // namespace FF_TIF
