// Writes small seed files for the fuzz targets with the library's own
// writers: usage make_seeds OUTPUT_FOLDER.
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/Lifecycle.h"
#include "formats/FF_AVI.h"
#include "formats/FF_FLC.h"
#include "formats/FF_KWB.h"
#include "formats/FFBasic.h"
#include "foundation/Errors.h"
#include "media/ImgBasic.h"
#include "media/SndBasic.h"

namespace {

void Frame(ImgBasic::Qimg* img, int w, int h, int bits, int n) {
  ImgBasic::_imgalloc_(img, w, h, "seed", __LINE__, bits);
  for (int i = 0; i < img->size; i++) img->data[i] = static_cast<uint8_t>((i / 5 + n * 3) % 7 * 30);
  for (int i = 0; i < 768; i++) img->palette[i] = static_cast<uint8_t>(i * 5 + n);
}

void Kwb(const std::string& name, int bits, bool fast, int interval, bool sound) {
  FF_KWB::KWBSetFastMode(fast ? 1 : 0);
  FF_KWB::KWBSetKeyInterval(interval);
  FF_KWB::KWBFile kwb;
  FF_KWB::KWBCreate(&kwb, name, 10);
  ImgBasic::Qimg img;
  for (int n = 0; n < 4; n++) {
    Frame(&img, 17, 9, bits, n);
    FF_KWB::KWBImgSave(&kwb, &img);
    if (sound) {
      SndBasic::SndRec s;
      SndBasic::SndMakeSilence(s, 20, 8000, 16, 2);
      FF_KWB::KWBSndSave(&kwb, &s);
      SndBasic::SndFree(s);
    }
  }
  FF_KWB::KWBClose(&kwb);
  ImgBasic::ImgFree(&img);
}

void Flc(const std::string& name, int w) {
  FF_FLC::FlcFile flc;
  FF_FLC::FLCCreate(&flc, name, 15);
  ImgBasic::Qimg img;
  for (int n = 0; n < 4; n++) {
    Frame(&img, w, 7, 8, n);
    FF_FLC::FLCSave(&flc, &img);
  }
  FF_FLC::FLCClose(&flc);
  ImgBasic::ImgFree(&img);
}

void Avi(const std::string& name, const char* codec, int bits) {
  FF_AVI::AviCodecRec r;
  FF_AVI::AviCodecRecByFCC(&r, FFBasic::MakeFourCC(codec[0], codec[1], codec[2], codec[3]));
  r.outBits = bits;
  FF_AVI::AviSetCurCodec(&r);
  FF_AVI::AviFileRec avi;
  FF_AVI::AviCreate(&avi, name, 1, 10);
  FF_AVI::AviSetCustomInfo(&avi, "INAM", "seed");
  ImgBasic::Qimg img;
  for (int n = 0; n < 3; n++) {
    Frame(&img, 16, 8, bits, n);
    FF_AVI::AviImgSave(&avi, &img);
    SndBasic::SndRec s;
    SndBasic::SndMakeSilence(s, 300, 8000, 16, 1);
    FF_AVI::AviSndSave(&avi, &s);
    SndBasic::SndFree(s);
  }
  FF_AVI::AviClose(&avi);
  ImgBasic::ImgFree(&img);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_seeds OUTPUT_FOLDER\n");
    return 2;
  }
  const std::string dir = argv[1];
  Lifecycle::LibraryStart();
  try {
    Kwb(dir + "/kwb/fast8.kwb", 8, true, 25, true);
    Kwb(dir + "/kwb/best24.kwb", 24, false, 2, false);
    Kwb(dir + "/kwb/best16.kwb", 16, false, 0, true);
    Flc(dir + "/flc/odd.flc", 13);
    Flc(dir + "/flc/even.flc", 16);
    Avi(dir + "/avi/raw8.avi", "DIB ", 8);
    Avi(dir + "/avi/cvid.avi", "cvid", 24);
    Avi(dir + "/avi/msvc.avi", "MSVC", 15);
  } catch (const Errors::EMon& e) {
    std::fprintf(stderr, "make_seeds: %s\n", e.what());
    return 1;
  }
  Lifecycle::LibraryStop();
  return 0;
}
