#include "formats/FF_GIF.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzSupport::StartLibraryOnce();
  const std::string name = FuzzSupport::InputFile(data, size, ".gif");
  FuzzSupport::LeakCheck leaks;
  FF_GIF::GifFile gif;
  ImgBasic::Qimg img, alpha;
  FuzzSupport::Guarded([&] {
    FF_GIF::GIFOpen(&gif, name, false);
    const int32_t frames = std::min(gif.frameCount, 64);
    for (int32_t n = 1; n <= frames; n++)
      FuzzSupport::Guarded([&] { FF_GIF::GIFLoad(&gif, &img, n, 0, &alpha); });
    if (frames > 2) FuzzSupport::Guarded([&] { FF_GIF::GIFLoad(&gif, &img, 1, 0, nullptr); });
  });
  FuzzSupport::Guarded([&] { FF_GIF::GIFClose(&gif); });
  FuzzSupport::CheckImage(img);
  FuzzSupport::Guarded([&] { ImgBasic::ImgFree(&img); });
  FuzzSupport::Guarded([&] { ImgBasic::ImgFree(&alpha); });
  return 0;
}
