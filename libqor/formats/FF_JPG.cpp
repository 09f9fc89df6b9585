#include "formats/FF_JPG.h"

#include <algorithm>

#include "formats/CodecCommon.h"
#include "formats/FFBasic.h"
#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"
#include "platform/Wexel.h"

using CodecCommon::RaiseFailure;
using ImgBasic::Qimg;

namespace FF_JPG {
namespace {

int32_t g_quality = 85;

}  // namespace

int32_t JPGQuality(int32_t value) {
  Errors::TraceScope trace("FF_JPG.JPGQuality");
  if (value != Basic::K_AUTO) g_quality = std::clamp(value, 0, 100);
  return g_quality;
}

void JPGInfo(const std::string& fileName, ConForm::FFInfoRec* info) {
  Errors::Monitored("FF_JPG.JPGInfo", [&] {
    CodecCommon::ListenToLayer();
    int32_t width = 0, height = 0, components = 0;
    if (info_JPEG_file(fileName.c_str(), &width, &height, &components) != 0) {
      RaiseFailure(Errors::kErrImageOpen, __LINE__);
      return;
    }
    CodecCommon::PassWarnings(__LINE__);
    ConForm::FFInfoStill(info, Basic::FSize64(fileName), width, height,
                         components, components * 8, "JFIF 1.02", width > 0,
                         width > 0);
  });
}

void JPGLoad(const std::string& fileName, Qimg* image) {
  Errors::Monitored("FF_JPG.JPGLoad", [&] {
    ConForm::FFInfoRec info;
    JPGInfo(fileName, &info);
    if (FFBasic::FFCapImage(info.picture.width, info.picture.height,
                            info.picture.bitsPerPixel, 2, __LINE__) < 0)
      return;
    ImgBasic::_imgalloc_(image, info.picture.width, info.picture.height,
                         "FF_JPG.JPGLoad.image", __LINE__,
                         info.picture.bitsPerPixel);
    CodecCommon::ListenToLayer();
    int32_t width = 0, height = 0, components = 0;
    if (read_JPEG_file(fileName.c_str(), image->data, image->size, &width,
                       &height, &components) != 0) {
      RaiseFailure(Errors::kErrImageOpen, __LINE__);
      return;
    }
    CodecCommon::PassWarnings(__LINE__);
    ImgBasic::ImgSetDims(image, width, height, components * 8);
    if (components == 1) ImgBasic::PalMakeGrey(image->palette);
  });
}

void JPGSave(const std::string& fileName, Qimg* image) {
  Errors::Monitored("FF_JPG.JPGSave", [&] {
    Basic::FDelete(fileName);
    FFBasic::FFInitRec prep;
    FFBasic::FFInit(ConForm::kFmtJPEG, &prep, image, 1);
    FFBasic::FFDeleteOnFailure(fileName);
    CodecCommon::ListenToLayer();
    Basic::SetLastFileName(fileName);
    if (write_JPEG_file(fileName.c_str(), prep.image->data, prep.image->width,
                        prep.image->height, g_quality) != 0) {
      RaiseFailure(Errors::kErrImageCreate, __LINE__);
      return;
    }
    CodecCommon::PassWarnings(__LINE__);
    FFBasic::FFDone(&prep);
  });
}

}  // namespace FF_JPG
