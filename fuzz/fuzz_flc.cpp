#include "formats/FF_FLC.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzSupport::StartLibraryOnce();
  const std::string name = FuzzSupport::InputFile(data, size, ".flc");
  FuzzSupport::LeakCheck leaks;
  FF_FLC::FlcFile flc;
  ImgBasic::Qimg img;
  FuzzSupport::Guarded([&] {
    FF_FLC::FLCOpen(&flc, name);
    const int32_t frames = std::min<int32_t>(flc.header.frames, 64);
    for (int32_t n = 1; n <= frames; n++) FuzzSupport::Guarded([&] { FF_FLC::FLCLoad(&flc, &img, n, 0); });
    if (frames > 2) FuzzSupport::Guarded([&] { FF_FLC::FLCLoad(&flc, &img, 1, 0); });
  });
  FuzzSupport::Guarded([&] { FF_FLC::FLCClose(&flc); });
  FuzzSupport::CheckImage(img);
  FuzzSupport::Guarded([&] { ImgBasic::ImgFree(&img); });
  return 0;
}
