// PNG still images (format 9) through the codec layer's libpng interface.
#pragma once

#include <cstdint>
#include <string>

#include "formats/ConForm.h"
#include "media/ImgBasic.h"
#include "platform/Wexel.h"

namespace FF_PNG {

// Compression level 0..9 (6 at start); a value is clamped and stored,
// K_AUTO only reads. Returns the level in force.
int32_t PNGLevel(int32_t value);

struct PngFileRec {
  int32_t file = 0;  // tracked file
  png_structp png = nullptr;
  png_infop info = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int32_t bytesPerPixel = 0;  // of the image the loader delivers
  int32_t bitDepth = 0;
  int32_t colourType = 0;
  int32_t interlace = 0;
  int32_t compression = 0;
  int32_t filter = 0;
};

void PNGOpen_(PngFileRec* handle, const std::string& fileName);
void PNGClose_(PngFileRec* handle);

void PNGLoad(const std::string& fileName, ImgBasic::Qimg* image);
void PNGSave(const std::string& fileName, ImgBasic::Qimg* image);
void PNGInfo(const std::string& fileName, ConForm::FFInfoRec* info);

// libpng's callbacks. The read and write functions work on the current PNG
// file (the one being read or written).
void error_handler_(png_structp png, png_const_charp message);
void warning_handler_(png_structp png, png_const_charp message);
void PNGReadData(png_structp png, png_bytep destination, png_size_t bytes);
void write_data_(png_structp png, png_bytep source, png_size_t bytes);
void PNGFlushData(png_structp png);

}  // namespace FF_PNG
