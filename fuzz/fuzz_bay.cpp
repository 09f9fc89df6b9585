// The Bayer raw reader. Its files are known by their size alone, so the
// input is laid into a file of one of the three sizes (picked by the first
// byte): the next 12 bytes are the trailer of the two trailer sizes, the
// rest the samples.
#include <cstring>
#include <vector>

#include "formats/FF_BAY.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 13) return 0;
  FuzzSupport::StartLibraryOnce();
  static const int64_t sizes[3] = {74752, 197632, 307200};
  static const int64_t samples[3] = {512 * 144, 512 * 384, 640 * 480};
  const int k = data[0] % 3;
  std::vector<uint8_t> file(static_cast<size_t>(sizes[k]), 0);
  if (k < 2) std::memcpy(file.data() + samples[k], data + 1, 12);
  std::memcpy(file.data(), data + 13, std::min<size_t>(size - 13, static_cast<size_t>(samples[k])));
  return FuzzSupport::StillTarget<ConForm::FFInfoRec>(file.data(), file.size(), ".bay",
                                                      FF_BAY::BayInfo, FF_BAY::BayLoad);
}
