// The PNG reader's information and load entry points.
#include "formats/FF_PNG.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzSupport::StillTarget<CodecCommon::StillInfo>(data, size, ".png", FF_PNG::PNGInfo, FF_PNG::PNGLoad);
}
