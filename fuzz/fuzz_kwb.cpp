#include "formats/FF_KWB.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzSupport::StartLibraryOnce();
  const std::string name = FuzzSupport::InputFile(data, size, ".kwb");
  FuzzSupport::LeakCheck leaks;
  FF_KWB::KWBFile kwb;
  ImgBasic::Qimg img;
  SndBasic::SndRec snd;
  FuzzSupport::Guarded([&] {
    FF_KWB::KWBOpen(&kwb, name);
    const int32_t frames = std::min(kwb.header.frameCount, 64);
    for (int32_t n = 1; n <= frames; n++) FuzzSupport::Guarded([&] { FF_KWB::KWBImgLoad(&kwb, &img, n, 0); });
    if (frames > 2) FuzzSupport::Guarded([&] { FF_KWB::KWBImgLoad(&kwb, &img, 2, 0); });
    FuzzSupport::Guarded([&] { FF_KWB::KWBSndLoad(&kwb, &snd, 0, 4096, 0); });
    FuzzSupport::Guarded([&] { FF_KWB::KWBSndLoad(&kwb, &snd, 100, 100, 1); });
  });
  FuzzSupport::Guarded([&] { FF_KWB::KWBClose(&kwb); });
  FuzzSupport::CheckImage(img);
  FuzzSupport::Guarded([&] { ImgBasic::ImgFree(&img); });
  SndBasic::SndFree(snd);
  return 0;
}
