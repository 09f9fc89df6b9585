// Writes small seed files for the fuzz targets with the library's own
// writers: usage make_seeds OUTPUT_FOLDER. With "acm OUTPUT WAVE..." it
// turns wave files (written by peers) into the conversion target's inputs:
// the format chunk's length and bytes, then the start of the data chunk.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/Lifecycle.h"
#include "formats/ConForm.h"
#include "formats/FF_AVI.h"
#include "formats/FF_FLC.h"
#include "formats/FF_JPG.h"
#include "formats/FF_PNG.h"
#include "formats/FF_PNM.h"
#include "formats/FF_RAS.h"
#include "formats/FF_SGI.h"
#include "formats/FF_TIF.h"
#include "formats/FF_XPM.h"
#include "formats/FF_KWB.h"
#include "formats/FFBasic.h"
#include "foundation/Errors.h"
#include "media/ImgBasic.h"
#include "media/SndBasic.h"
#include "platform/Sorrel.h"

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

// Programs for the interface target (fuzz/ApiTarget.h): each byte group is
// one call as that target reads it (operation, handle slot, values by their
// index in its tables).
void ApiSeeds(const std::string& dir) {
  const std::vector<std::vector<uint8_t>> programs = {
      // An image: allocated, loaded, resampled, saved, freed twice, used.
      {0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 3, 0, 7, 7, 16, 3, 0, 0, 0, 1, 0, 14,
       2, 0, 0, 2, 0, 0, 3, 0, 7, 7, 15},
      // A conversion of a still and a movie with every callback.
      {0, 1, 4, 9, 1, 0, 0, 6, 255, 9, 1, 0, 16, 0x3F, 10, 1, 0,
       2, 0, 0, 1, 9, 0, 2, 0, 2, 10, 0, 0, 0, 0},
      // A sound: samples set, resampled, saved to a created file, freed.
      {0, 2, 1, 5, 2, 0, 7, 3, 4, 5, 1, 5, 2, 2, 3, 4, 5, 0, 3, 5, 1, 9,
       5, 2, 5, 3, 2, 3, 5, 2, 2, 1},
      // A list and a text sprite drawn onto an image.
      {0, 4, 3, 7, 4, 0, 0, 0, 7, 4, 1, 0, 0, 5, 2, 8, 5, 0, 5, 6, 0,
       0, 0, 0, 3, 0, 7, 7, 5, 6, 1, 1, 3, 0, 0, 0, 33, 5, 0, 0, 1},
      // Frames read through an opened file, with absurd frame numbers.
      {0, 6, 5, 0, 9, 0, 0, 7, 0, 3, 7, 0, 0, 35, 6, 6, 3, 7, 0, 0, 35,
       6, 7, 2, 6, 5},
  };
  for (size_t i = 0; i < programs.size(); i++) {
    std::ofstream out(dir + "/api/program" + std::to_string(i), std::ios::binary);
    out.write(reinterpret_cast<const char*>(programs[i].data()),
              static_cast<std::streamsize>(programs[i].size()));
  }
}

using SaveFn = void (*)(const std::string&, ImgBasic::Qimg*);

// One small picture per depth the writer takes.
void Stills(const std::string& dir, const char* ext, SaveFn save, const char* tag) {
  const int depths[] = {8, 16, 24, 32};
  for (int bits : depths) {
    ImgBasic::Qimg img;
    Frame(&img, 11, 6, bits, bits);
    try {
      save(dir + "/" + tag + std::to_string(bits) + ext, &img);
    } catch (const Errors::EMon&) {
      Errors::ErrClear();  // a depth the format does not store
    }
    ImgBasic::ImgFree(&img);
  }
}

void Ogg(const std::string& name, int rate, int channels) {
  Sorrel::OvEncoder* enc = nullptr;
  if (!Sorrel::ov_create(&enc, name.c_str(), rate, channels, 0.1)) return;
  std::vector<int16_t> pcm(static_cast<size_t>(rate / 20) * channels);
  for (size_t i = 0; i < pcm.size(); i++) pcm[i] = static_cast<int16_t>((i * 771) % 20000 - 10000);
  Sorrel::ov_write(enc, pcm.data(), static_cast<int32_t>(pcm.size() * 2));
  Sorrel::ov_close(enc);
}

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24; }

// The conversion target's input from a wave file: format chunk, then up to
// 4 KiB of the data chunk.
void AcmSeed(const std::string& wave, const std::string& out) {
  std::ifstream in(wave, std::ios::binary);
  const std::vector<uint8_t> f((std::istreambuf_iterator<char>(in)), {});
  std::vector<uint8_t> fmt, dat;
  for (size_t at = 12; at + 8 <= f.size();) {
    const uint32_t len = Le32(&f[at + 4]);
    const size_t take = std::min<size_t>(len, f.size() - at - 8);
    if (!std::memcmp(&f[at], "fmt ", 4)) fmt.assign(&f[at + 8], &f[at + 8] + take);
    if (!std::memcmp(&f[at], "data", 4)) dat.assign(&f[at + 8], &f[at + 8] + std::min<size_t>(take, 4096));
    at += 8 + take + (len & 1);
  }
  if (fmt.empty() || dat.empty()) return;
  std::ofstream o(out, std::ios::binary);
  const uint8_t n[2] = {static_cast<uint8_t>(fmt.size()), static_cast<uint8_t>(fmt.size() >> 8)};
  o.write(reinterpret_cast<const char*>(n), 2);
  o.write(reinterpret_cast<const char*>(fmt.data()), static_cast<std::streamsize>(fmt.size()));
  o.write(reinterpret_cast<const char*>(dat.data()), static_cast<std::streamsize>(dat.size()));
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
  if (std::string(argv[1]) == "acm") {
    for (int i = 3; i < argc; i++)
      AcmSeed(argv[i], std::string(argv[2]) + "/" + std::to_string(i - 2) + ".acm");
    return 0;
  }
  const std::string dir = argv[1];
  Lifecycle::LibraryStart();
  try {
    Kwb(dir + "/kwb/fast8.kwb", 8, true, 25, true);
    Kwb(dir + "/kwb/best24.kwb", 24, false, 2, false);
    Kwb(dir + "/kwb/best16.kwb", 16, false, 0, true);
    Flc(dir + "/flc/odd.flc", 13);
    Flc(dir + "/flc/even.flc", 16);
    for (int rle = 0; rle < 2; rle++) {
      const std::string t = rle ? "rle" : "raw";
      ConForm::TGASetCompression(rle);
      Stills(dir + "/tga", ".tga", ConForm::TGASave_, t.c_str());
      FF_SGI::SGISetCompression(rle);
      Stills(dir + "/sgi", ".sgi", FF_SGI::SGISave, t.c_str());
      FF_RAS::RASSetCompression(rle);
      Stills(dir + "/ras", ".ras", FF_RAS::RASSave, t.c_str());
      FF_PNM::PNMSetEncoding(rle);
      Stills(dir + "/pnm", ".pnm", FF_PNM::PNMSave, t.c_str());
    }
    Stills(dir + "/pcx", ".pcx", ConForm::PCXSave_, "pcx");
    Stills(dir + "/bmp", ".bmp", ConForm::DIBSave_, "bmp");
    for (int c : {1, 5, 8, 32773}) {
      FF_TIF::TIFSetCompression(c);
      Stills(dir + "/tif", ".tif", FF_TIF::TIFSave, ("c" + std::to_string(c) + "-").c_str());
    }
    FF_TIF::TIFSetCompression(1);
    Stills(dir + "/jpg", ".jpg", FF_JPG::JPGSave, "q");
    Stills(dir + "/png", ".png", FF_PNG::PNGSave, "l");
    Stills(dir + "/xpm", ".xpm", FF_XPM::XPMSave, "x");
    Ogg(dir + "/ogg/mono.ogg", 8000, 1);
    Ogg(dir + "/ogg/stereo.ogg", 22050, 2);
    Avi(dir + "/avi/raw8.avi", "DIB ", 8);
    Avi(dir + "/avi/cvid.avi", "cvid", 24);
    Avi(dir + "/avi/msvc.avi", "MSVC", 15);
    ApiSeeds(dir);
  } catch (const Errors::EMon& e) {
    std::fprintf(stderr, "make_seeds: %s\n", e.what());
    return 1;
  }
  Lifecycle::LibraryStop();
  return 0;
}
