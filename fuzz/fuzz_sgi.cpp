// The SGI reader's information and load entry points.
#include "formats/FF_SGI.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzSupport::StillTarget<ConForm::FFInfoRec>(data, size, ".sgi", FF_SGI::SGIInfo, FF_SGI::SGILoad);
}
