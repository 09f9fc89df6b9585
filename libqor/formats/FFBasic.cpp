#include "formats/FFBasic.h"

#include <algorithm>
#include <cstring>

#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"

using Errors::ErrSet;
using ImgBasic::Qimg;

namespace FFBasic {
namespace {

// Stored depth for source depths 8, 15, 16, 24, 32 and any other.
struct DepthRow {
  int32_t id;
  int32_t depth[6];
};

constexpr DepthRow kDepthTable[17] = {
    {6, {8, 15, 24, 24, 32, 24}},   // AVI
    {3, {8, 15, 24, 24, 32, 24}},   // BMP
    {5, {8, 8, 8, 8, 8, 8}},        // FLIC
    {7, {8, 16, 16, 24, 24, 24}},   // KWB
    {8, {24, 24, 24, 24, 24, 24}},  // JPEG
    {2, {8, 24, 24, 24, 24, 24}},   // PCX
    {9, {8, 24, 24, 24, 32, 24}},   // PNG
    {1, {8, 15, 24, 24, 32, 24}},   // TGA
    {11, {24, 24, 24, 24, 24, 24}},  // MPEG
    {12, {0, 0, 0, 0, 0, 0}},        // WAV
    {13, {24, 24, 24, 24, 32, 24}},  // SGI
    {14, {8, 24, 24, 24, 32, 24}},   // Sun raster
    {15, {24, 24, 24, 24, 24, 24}},  // PNM
    {10, {8, 24, 24, 24, 32, 24}},   // TIFF
    {17, {24, 24, 24, 24, 24, 24}},  // XPM
    {18, {0, 0, 0, 0, 0, 0}},        // MPEG audio
    {19, {0, 0, 0, 0, 0, 0}},        // Ogg Vorbis
};

int DepthColumn(int32_t depth) {
  switch (depth) {
    case 8:
      return 0;
    case 15:
      return 1;
    case 16:
      return 2;
    case 24:
      return 3;
    case 32:
      return 4;
    default:
      return 5;
  }
}

}  // namespace

int32_t FFFindFormat(int32_t id) {
  for (int32_t i = 0; i < 17; i++)
    if (kDepthTable[i].id == id) return i;
  return Basic::K_AUTO;
}

int32_t FFGetSaveBpp(int32_t id, int32_t depth) {
  const int32_t row = FFFindFormat(id);
  if (row == Basic::K_AUTO) return Basic::K_AUTO;
  return kDepthTable[row].depth[DepthColumn(depth)];
}

void FFInit(int32_t id, FFInitRec* rec, Qimg* image, int32_t block) {
  Errors::Monitored("FFBasic.FFInit", [&] {
    *rec = FFInitRec{};
    // A record whose pixel block is smaller than its dimensions say would be
    // read past its end by every writer.
    if (!ImgBasic::ImgIsValid(image) || block < 1 || image->width < 1 ||
        image->height < 1 ||
        image->bytesPerPixel != ImgBasic::BytesPerPixel(image->bitsPerPixel) ||
        static_cast<int64_t>(image->width) * image->height *
                image->bytesPerPixel > image->size) {
      ErrSet(Errors::kErrWriterFormat, __LINE__);
      return;
    }
    Qimg* work = image;
    if (image->width % block != 0 || image->height % block != 0) {
      const int64_t w = (static_cast<int64_t>(image->width) + block - 1) /
                        block * block;
      const int64_t h = (static_cast<int64_t>(image->height) + block - 1) /
                        block * block;
      if (w > INT32_MAX || h > INT32_MAX) {
        ErrSet(Errors::kErrWriterFormat, __LINE__);
        return;
      }
      ImgBasic::_imgalloc_(&rec->own, static_cast<int32_t>(w),
                           static_cast<int32_t>(h), "FFBasic.FFInit.own",
                           __LINE__, image->bitsPerPixel);
      std::memset(rec->own.data, 0, static_cast<size_t>(rec->own.size));
      ImgBasic::ImgInsert(image, &rec->own, 0, 0);
      std::memcpy(rec->own.palette, image->palette, sizeof image->palette);
      rec->ownUsed = true;
      work = &rec->own;
    }
    const int32_t target = FFGetSaveBpp(id, work->bitsPerPixel);
    if (target == Basic::K_AUTO || target == 0) {
      if (rec->ownUsed) ImgBasic::ImgFree(&rec->own);
      *rec = FFInitRec{};
      ErrSet(Errors::kErrWriterFormat, __LINE__);
      return;
    }
    if (target != work->bitsPerPixel) {
      ImgBasic::ImgConvBpp(work, &rec->own, target);
      rec->ownUsed = true;
    }
    rec->image = rec->ownUsed ? &rec->own : image;
  });
}

void FFDone(FFInitRec* rec) {
  Errors::TraceScope trace("FFBasic.FFDone");
  if (rec->ownUsed) ImgBasic::ImgFree(&rec->own);
  *rec = FFInitRec{};
}

uint32_t MakeFourCC(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return static_cast<uint32_t>(a) | (static_cast<uint32_t>(b) << 8) |
         (static_cast<uint32_t>(c) << 16) | (static_cast<uint32_t>(d) << 24);
}

std::string FourCCToStr(uint32_t code) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; i++) s[i] = static_cast<char>((code >> (8 * i)) & 255);
  return s;
}

int32_t FFDivPositive(int32_t a, int32_t x) {
  return (a > 0 && x > 0) ? a / x : 0;
}

int32_t FFMulRoundPositive(double a, double b) {
  if (!(a > 0) || !(b > 0)) return 0;
  const double p = a * b;
  return p >= 2147483647.0 ? INT32_MAX : static_cast<int32_t>(p);
}

void FFDeleteOnFailure(const std::string& name) {
  Errors::MonSetCleanup([name] { Basic::FDelete(name); });
}

int32_t FFCreateFile(const std::string& name) {
  Basic::FDelete(name);
  int32_t file = 0;
  Basic::FOpen(file, name, Basic::kOpenCreate | Basic::kOpenWrite);
  FFDeleteOnFailure(name);
  return file;
}

// ---- row helpers ----------------------------------------------------------

bool AlphaAllZero(const Qimg* image) {
  if (image->bytesPerPixel != 4) return false;
  const int64_t n = static_cast<int64_t>(image->width) * image->height;
  for (int64_t i = 0; i < n; i++)
    if (image->data[i * 4 + 3] != 0) return false;
  return true;
}

bool FFPcm16BlockFits(const SndBasic::SndRec& block, bool started,
                      const SndBasic::WaveFormatEx& first) {
  const SndBasic::WaveFormatEx& f = block.format;
  if (f.formatTag != Acm::kTagPcm || f.bitsPerSample != 16 || f.channels < 1 ||
      f.blockAlign != f.channels * 2)
    return false;
  if (started && SndBasic::WaveFormatDiffers(f, first)) return false;
  return block.frames <= 0 ||
         (block.data != nullptr && int64_t{block.frames} * f.blockAlign <= block.allocated);
}

void FFReadAt(int32_t handle, int64_t fileSize, int64_t position, void* dest,
              int64_t bytes, int32_t cls, int32_t code, int32_t sourceLine) {
  if (position < 0 || bytes < 0 || bytes > fileSize - position) {
    Errors::ErrSet(cls, code, sourceLine);
    return;
  }
  Basic::FSeek(handle, position);
  Basic::FRead(handle, dest, bytes);
}

}  // namespace FFBasic
