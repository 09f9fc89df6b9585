// The RAS reader's information and load entry points.
#include "formats/FF_RAS.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzSupport::StillTarget<ConForm::FFInfoRec>(data, size, ".ras", FF_RAS::RASInfo, FF_RAS::RASLoad);
}
