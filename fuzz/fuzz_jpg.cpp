// The JPG reader's information and load entry points.
#include "formats/FF_JPG.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzSupport::StillTarget<CodecCommon::StillInfo>(data, size, ".jpg", FF_JPG::JPGInfo, FF_JPG::JPGLoad);
}
