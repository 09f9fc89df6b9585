// The TIF reader's information and load entry points.
#include "formats/FF_TIF.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzSupport::StillTarget<CodecCommon::StillInfo>(data, size, ".tif", FF_TIF::TIFInfo, FF_TIF::TIFLoad);
}
