// SGI images: one byte per channel, 1 to 4 channels stored as planes,
// verbatim or run-length encoded, read and written by the library itself.
#pragma once

#include <cstdint>
#include <string>

#include "formats/ConForm.h"
#include "media/ImgBasic.h"

namespace FF_SGI {

// The open-file handle: the first 108 header bytes in machine order.
struct SgiFileRec {
  int32_t file = 0;
  int64_t fileSize = 0;
  bool supported = false;
  uint16_t magic = 0;
  uint8_t storage = 0;
  uint8_t bytesPerChannel = 0;
  uint16_t dimension = 0;
  uint16_t width = 0, height = 0, channels = 0;
  uint32_t minValue = 0, maxValue = 0;
  uint32_t colorMap = 0;
};

void SGIOpen_(SgiFileRec* handle, const std::string& name);
void SGILoad(const std::string& name, ImgBasic::Qimg* image);
void SGISave(const std::string& name, ImgBasic::Qimg* image);
void SGIInfo(const std::string& name, ConForm::FFInfoRec* info);
void SGISetCompression(int32_t value);
bool SGIGetCompression();

// Steps, public for the tests.
// Unpacks one packed row into at most limit bytes; returns the bytes filled,
// or -1 when the packed data is corrupt.
int64_t SGIUnpackRow(int64_t limit, int64_t packedLength, uint8_t* dest,
                     const uint8_t* packed);
// Packs length bytes; returns the packed length including the end byte.
int64_t SGIPackRow(int64_t length, uint8_t* dest, const uint8_t* source);

}  // namespace FF_SGI
