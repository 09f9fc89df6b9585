// The TGA reader's information and load entry points.
#include "formats/ConForm.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzSupport::StillTarget<ConForm::FFInfoRec>(data, size, ".tga", ConForm::TGAInfo, ConForm::TGALoad_);
}
