// The XPM reader's information and load entry points.
#include "formats/FF_XPM.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzSupport::StillTarget<CodecCommon::StillInfo>(data, size, ".xpm", FF_XPM::XPMInfo, FF_XPM::XPMLoad);
}
