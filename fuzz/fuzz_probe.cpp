// Recognition by probing: a file whose name says nothing of its format is
// offered to every reader in the load table until one describes it.
#include "formats/ConForm.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzSupport::StartLibraryOnce();
  const std::string name = FuzzSupport::InputFile(data, size, ".probe");
  FuzzSupport::LeakCheck leaks;
  ConForm::UniInfoRec info;
  FuzzSupport::Guarded([&] { ConForm::UniInfo(name, &info, 1, nullptr, nullptr, false); });
  return 0;
}
