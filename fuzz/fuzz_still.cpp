// The still-image dispatch: file information and load by format identifier,
// with the alpha plane a host asks for. The first input byte picks the
// identifier (the still formats and, for the dispatch's own errors, the
// others), the rest is the file.
#include "formats/ConForm.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  FuzzSupport::StartLibraryOnce();
  static const int32_t ids[] = {ConForm::kFmtTGA, ConForm::kFmtPCX,  ConForm::kFmtBMP,
                                ConForm::kFmtSGI, ConForm::kFmtRAS,  ConForm::kFmtPNM,
                                ConForm::kFmtBAY, ConForm::kFmtGIF,  ConForm::kFmtJPEG,
                                ConForm::kFmtPNG, ConForm::kFmtTIFF, ConForm::kFmtXPM,
                                ConForm::kFmtAVI, 0,                 99};
  const int32_t id = ids[data[0] % (sizeof ids / sizeof ids[0])];
  const std::string name = FuzzSupport::InputFile(data + 1, size - 1, ".img");
  FuzzSupport::LeakCheck leaks;
  ConForm::FFInfoRec info;
  ImgBasic::Qimg img, alpha;
  FuzzSupport::Guarded([&] { ConForm::FFInfo(name, id, &info, nullptr, nullptr); });
  FuzzSupport::Guarded([&] { ConForm::ImgLoad(name, &img, id, &alpha); });
  FuzzSupport::CheckImage(img);
  FuzzSupport::CheckImage(alpha);
  FuzzSupport::Guarded([&] { ImgBasic::ImgFree(&img); });
  FuzzSupport::Guarded([&] { ImgBasic::ImgFree(&alpha); });
  return 0;
}
