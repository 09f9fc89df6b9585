#include "formats/FF_XPM.h"

#include "formats/CodecCommon.h"
#include "formats/FFBasic.h"
#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"
#include "platform/Wexel.h"

using CodecCommon::RaiseFailure;
using ImgBasic::Qimg;

namespace FF_XPM {
namespace {

// The picture's size, without its pixels.
XpmImageDesc ReadSize(const std::string& fileName) {
  XpmImageDesc desc;
  CodecCommon::ListenToLayer();
  Basic::SetLastFileName(fileName);
  if (ReadXpm(fileName.c_str(), &desc) != 0)
    RaiseFailure(Errors::kErrImageOpen, __LINE__);
  CodecCommon::PassWarnings(__LINE__);
  return desc;
}

}  // namespace

void XPMInfo(const std::string& fileName, ConForm::FFInfoRec* info) {
  Errors::Monitored("FF_XPM.XPMInfo", [&] {
    const XpmImageDesc desc = ReadSize(fileName);
    ConForm::FFInfoStill(info, Basic::FSize64(fileName), desc.width,
                         desc.height, 3, 24, nullptr, desc.width > 0,
                         desc.width > 0);
  });
}

void XPMLoad(const std::string& fileName, Qimg* image) {
  Errors::Monitored("FF_XPM.XPMLoad", [&] {
    XpmImageDesc desc = ReadSize(fileName);
    if (FFBasic::FFCapImage(desc.width, desc.height, 24, 2, __LINE__) < 0) return;
    ImgBasic::_imgalloc_(image, desc.width, desc.height, "FF_XPM.XPMLoad.image",
                         __LINE__, 24);
    desc.pixels = image->data;
    CodecCommon::ListenToLayer();
    if (ReadXpm(fileName.c_str(), &desc) != 0) {
      RaiseFailure(Errors::kErrImageOpen, __LINE__);
      return;
    }
    CodecCommon::PassWarnings(__LINE__);
  });
}

void XPMSave(const std::string& fileName, Qimg* image) {
  Errors::Monitored("FF_XPM.XPMSave", [&] {
    Basic::FDelete(fileName);
    FFBasic::FFInitRec prep;
    FFBasic::FFInit(ConForm::kFmtXPM, &prep, image, 1);
    FFBasic::FFDeleteOnFailure(fileName);
    XpmImageDesc desc;
    desc.width = prep.image->width;
    desc.height = prep.image->height;
    desc.pixels = prep.image->data;
    CodecCommon::ListenToLayer();
    Basic::SetLastFileName(fileName);
    if (WriteXpm(fileName.c_str(), &desc) != 0) {
      RaiseFailure(Errors::kErrImageCreate, __LINE__);
      return;
    }
    CodecCommon::PassWarnings(__LINE__);
    FFBasic::FFDone(&prep);
  });
}

}  // namespace FF_XPM
