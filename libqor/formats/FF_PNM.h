// Portable graymaps and pixmaps: "P2"/"P5" and "P3"/"P6" are read, "P6" or
// "P3" pixmaps are written, by the library itself.
#pragma once

#include <cstdint>
#include <string>

#include "formats/ConForm.h"
#include "media/ImgBasic.h"

namespace FF_PNM {

struct PnmFileRec {
  int32_t file = 0;
  bool ascii = false;
  bool supported = false;
  int32_t width = 0;
  int32_t height = 0;
  int32_t bytesPerPixel = 0;
  int32_t bitsPerPixel = 0;  // 8 for P2/P5, 24 for P3/P6, else 0
  int64_t fileSize = 0;
  int32_t maxValue = 0;
  int64_t headerLength = 0;  // bytes consumed by the header
};

void PNMOpen_(PnmFileRec* handle, const std::string& name);
void PNMLoad(const std::string& name, ImgBasic::Qimg* image);
void PNMSave(const std::string& name, ImgBasic::Qimg* image);
void PNMInfo(const std::string& name, ConForm::FFInfoRec* info);
void PNMSetEncoding(int32_t value);
bool PNMGetEncoding();

}  // namespace FF_PNM
