// Sun raster images: 8 bits with or without a colour map, 24 and 32 bits,
// standard or byte-encoded (run-length), read and written by the library.
#pragma once

#include <cstdint>
#include <string>

#include "formats/ConForm.h"
#include "media/ImgBasic.h"

namespace FF_RAS {

// The open-file handle: the eight header values in machine order.
struct RasFileRec {
  int32_t file = 0;
  int64_t fileSize = 0;
  bool supported = false;
  uint32_t magic = 0;
  uint32_t width = 0, height = 0, depth = 0;
  uint32_t length = 0, type = 0, mapType = 0, mapLength = 0;
};

void RASOpen_(RasFileRec* handle, const std::string& name);
void RASLoad(const std::string& name, ImgBasic::Qimg* image);
void RASSave(const std::string& name, ImgBasic::Qimg* image);
void RASInfo(const std::string& name, ConForm::FFInfoRec* info);
void RASSetCompression(int32_t value);
bool RASGetCompression();

// Steps, public for the tests.
// Decodes byte-encoded data as one stream into height rows of rowBytes, each
// followed by padBytes on disk; returns the bytes decoded or -1 when corrupt.
int64_t RASUnpack(int64_t padBytes, int64_t rowBytes, int64_t imageBytes,
                  int64_t packedLength, uint8_t* dest, const uint8_t* packed);
int64_t RASPackRow(int64_t length, uint8_t* dest, const uint8_t* source);

}  // namespace FF_RAS
