// JPEG still images (format 8) through the codec layer.
#pragma once

#include <cstdint>
#include <string>

#include "formats/ConForm.h"
#include "media/ImgBasic.h"

namespace FF_JPG {

// Save quality 0..100 (85 at start); a value is clamped and stored, K_AUTO
// only reads. Returns the quality in force.
int32_t JPGQuality(int32_t value);

void JPGLoad(const std::string& fileName, ImgBasic::Qimg* image);
void JPGSave(const std::string& fileName, ImgBasic::Qimg* image);
void JPGInfo(const std::string& fileName, ConForm::FFInfoRec* info);

}  // namespace FF_JPG
