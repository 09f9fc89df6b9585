// Bayer raw camera files (BAY): one sample per pixel behind a colour filter
// array, recognised by their exact size, turned into colour images by
// interpolation or into grey images.
#pragma once

#include <cstdint>
#include <string>

#include "formats/ConForm.h"
#include "media/ImgBasic.h"

namespace FF_BAY {

// Colours of a 2 x 2 cell (top-left, top-right / bottom-left, bottom-right).
enum : int32_t {
  kBayerBGGR = 0,
  kBayerGRBG = 1,
  kBayerRGGB = 2,
  kBayerGBRG = 3,
  kBayerMono = 4,
};

struct BayFileRec {
  int32_t file = 0;
  bool supported = false;
  int32_t width = 0;
  int32_t height = 0;
  int32_t bytesPerPixel = 0;  // 3 colour, 1 monochrome, 0 unknown
  int32_t bayerType = 0;
  bool rowOrder = false;  // samples stored in plain rows
  int64_t fileSize = 0;
  double exposure = 0;
  std::string camera;
};

void BayOpen_(BayFileRec* handle, const std::string& name);
void BayLoad(const std::string& name, ImgBasic::Qimg* image);
void BayInfo(const std::string& name, ConForm::FFInfoRec* info);
void BayLoadCustom(const std::string& name, ImgBasic::Qimg* image,
                   int32_t width, bool rowOrder, int32_t bayerType,
                   int32_t height);
void BayDecode(const uint8_t* samples, uint8_t* dest, int32_t width,
               bool rowOrder, int32_t bayerType, int32_t height);
int32_t BayGetHdr(const std::string& name, uint8_t* buffer, int32_t bufferSize);

// Steps, public for the tests.
void FixCmpsData(const uint8_t* cells, uint8_t* dest, int32_t width,
                 int32_t height);
void BayPattern(uint8_t table[4][3], int32_t bayerType);

}  // namespace FF_BAY
