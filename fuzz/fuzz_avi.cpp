#include "formats/FF_AVI.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzSupport::StartLibraryOnce();
  const std::string name = FuzzSupport::InputFile(data, size, ".avi");
  FF_AVI::AviFileRec avi;
  ImgBasic::Qimg img;
  SndBasic::SndRec snd;
  FuzzSupport::Guarded([&] {
    FF_AVI::AviOpen(&avi, name);
    const int32_t frames = std::min(avi.frameCount, 32);
    for (int32_t n = 1; n <= frames; n++)
      FuzzSupport::Guarded([&] { FF_AVI::AviImgLoad(&avi, &img, n, 0); });
    if (frames > 2) FuzzSupport::Guarded([&] { FF_AVI::AviImgLoad(&avi, &img, 2, 0); });
    FuzzSupport::Guarded([&] { FF_AVI::AviSndLoad(&avi, &snd, 0, 0, 4096); });
    FuzzSupport::Guarded([&] { FF_AVI::AviSndLoad(&avi, &snd, 100, 1, 100); });
    std::string text;
    FuzzSupport::Guarded([&] { FF_AVI::AviGetCustomInfo(&avi, "INAM", &text); });
  });
  FuzzSupport::Guarded([&] { FF_AVI::AviClose(&avi); });
  FuzzSupport::Guarded([&] { ImgBasic::ImgFree(&img); });
  SndBasic::SndFree(snd);
  return 0;
}
