// The PNM reader's information and load entry points.
#include "formats/FF_PNM.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzSupport::StillTarget<ConForm::FFInfoRec>(data, size, ".pnm", FF_PNM::PNMInfo, FF_PNM::PNMLoad);
}
