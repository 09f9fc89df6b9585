// XPM still images (format 17) through the codec layer.
#pragma once

#include <string>

#include "formats/ConForm.h"
#include "media/ImgBasic.h"

namespace FF_XPM {

void XPMLoad(const std::string& fileName, ImgBasic::Qimg* image);
void XPMSave(const std::string& fileName, ImgBasic::Qimg* image);
void XPMInfo(const std::string& fileName, ConForm::FFInfoRec* info);

}  // namespace FF_XPM
