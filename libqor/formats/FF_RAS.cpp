#include "formats/FF_RAS.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "formats/FFBasic.h"
#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"

using Errors::ErrSet;
using FFBasic::FFReader;
using ImgBasic::Qimg;

namespace FF_RAS {
namespace {

constexpr uint32_t kMagic = 0x59A66A95u;
constexpr uint8_t kEscape = 128;

bool rleOn = true;

// X, B, G, R to B, G, R, X in place.
void RASPixelFromFile32(int64_t count, uint8_t* pixels) {
  for (int64_t i = 0; i < count; i++) {
    uint8_t* p = pixels + i * 4;
    const uint8_t x = p[0];
    p[0] = p[1];
    p[1] = p[2];
    p[2] = p[3];
    p[3] = x;
  }
}

// B, G, R, X to X, B, G, R.
void RASPixelToFile32(int64_t count, uint8_t* dest, const uint8_t* source) {
  for (int64_t i = 0; i < count; i++) {
    const uint8_t* s = source + i * 4;
    uint8_t* d = dest + i * 4;
    d[0] = s[3];
    d[1] = s[0];
    d[2] = s[1];
    d[3] = s[2];
  }
}

}  // namespace

void RASSetCompression(int32_t value) { rleOn = value != 0; }
bool RASGetCompression() { return rleOn; }

void RASOpen_(RasFileRec* f, const std::string& name) {
  Errors::Monitored("FF_RAS.RASOpen_", [&] {
    *f = RasFileRec{};
    Basic::FOpen(f->file, name, Basic::kOpenRead);
    FFReader r(f->file, 2);
    f->magic = r.U32B();
    if (r.Failed()) return;
    if (f->magic != kMagic) {
      ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    f->width = r.U32B();
    f->height = r.U32B();
    f->depth = r.U32B();
    f->length = r.U32B();
    f->type = r.U32B();
    f->mapType = r.U32B();
    f->mapLength = r.U32B();
    f->fileSize = r.Size();
    f->supported = f->type <= 3 &&
                   (f->depth == 8 || f->depth == 24 || f->depth == 32) &&
                   f->width > 0 && f->height > 0 && f->width <= INT32_MAX &&
                   f->height <= INT32_MAX;
  });
}

int64_t RASUnpack(int64_t padBytes, int64_t rowBytes, int64_t imageBytes,
                  int64_t packedLength, uint8_t* dest, const uint8_t* packed) {
  const int64_t stride = rowBytes + padBytes;
  if (rowBytes <= 0) return 0;
  const int64_t rows = imageBytes / rowBytes;
  const int64_t streamEnd = stride * rows;
  int64_t in = 0, pos = 0, filled = 0;
  auto emit = [&](uint8_t v, int64_t count) {
    while (count > 0 && pos < streamEnd) {
      const int64_t col = pos % stride;
      if (col < rowBytes) {
        const int64_t n = std::min(count, rowBytes - col);
        std::memset(dest + (pos / stride) * rowBytes + col, v,
                    static_cast<size_t>(n));
        filled += n;
        pos += n;
        count -= n;
      } else {
        const int64_t n = std::min(count, stride - col);
        pos += n;
        count -= n;
      }
    }
  };
  while (in < packedLength && pos < streamEnd) {
    const uint8_t b = packed[in++];
    if (b != kEscape) {
      emit(b, 1);
      continue;
    }
    if (in >= packedLength) return -1;
    const uint8_t n = packed[in++];
    if (n == 0) {
      emit(kEscape, 1);
      continue;
    }
    if (in >= packedLength) return -1;
    emit(packed[in++], int64_t{n} + 1);
  }
  return filled;
}

int64_t RASPackRow(int64_t length, uint8_t* dest, const uint8_t* source) {
  int64_t i = 0, o = 0;
  while (i < length) {
    int64_t run = 1;
    while (i + run < length && run < 256 && source[i + run] == source[i]) run++;
    if (run >= 2) {
      dest[o++] = kEscape;
      dest[o++] = static_cast<uint8_t>(run - 1);
      dest[o++] = source[i];
    } else if (source[i] == kEscape) {
      dest[o++] = kEscape;
      dest[o++] = 0;
    } else {
      dest[o++] = source[i];
    }
    i += run;
  }
  return o;
}

void RASInfo(const std::string& name, ConForm::FFInfoRec* info) {
  Errors::Monitored("FF_RAS.RASInfo", [&] {
    RasFileRec f;
    RASOpen_(&f, name);
    // Header values are 32-bit unsigned; they are reported within range.
    const int32_t width = static_cast<int32_t>(std::min<uint32_t>(f.width, INT32_MAX));
    const int32_t depth = static_cast<int32_t>(std::min<uint32_t>(f.depth, 1024));
    ConForm::FFInfoStill(info, static_cast<double>(f.fileSize), width,
                         static_cast<int32_t>(std::min<uint32_t>(f.height, INT32_MAX)),
                         (depth + 7) / 8, depth,
                         f.type == 2 ? "Run Length Encoding (RLE)" : nullptr,
                         width > 0, f.supported);
    Basic::FClose(f.file);
  });
}

void RASLoad(const std::string& name, Qimg* image) {
  Errors::Monitored("FF_RAS.RASLoad", [&] {
    RasFileRec f;
    uint8_t* block = nullptr;
    RASOpen_(&f, name);
    if (!f.supported) {
      ErrSet(Errors::kErrImageNotSupported, __LINE__);
      return;
    }
    const int64_t w = f.width, h = f.height;
    if (FFBasic::FFCapImage(w, h, static_cast<int32_t>(f.depth), 2, __LINE__) < 0) return;
    ImgBasic::_imgalloc_(image, static_cast<int32_t>(w), static_cast<int32_t>(h),
                         "FF_RAS.RASLoad.image", __LINE__,
                         static_cast<int32_t>(f.depth));
    std::memset(image->palette, 0, sizeof image->palette);
    FFReader r(f.file, 9);
    const int64_t mapStart = 32;
    if (f.mapType == 1) {
      // The map holds three planes of length / 3 entries each.
      const int64_t n = f.mapLength / 3;
      const int64_t used = std::min<int64_t>(n, 256);
      uint8_t planes[3][256] = {};
      for (int p = 0; p < 3; p++)
        if (!r.Seek(mapStart + p * n) || !r.Read(planes[p], used)) return;
      for (int64_t i = 0; i < used; i++) {
        image->palette[i * 3] = planes[2][i];
        image->palette[i * 3 + 1] = planes[1][i];
        image->palette[i * 3 + 2] = planes[0][i];
      }
    }
    // The pixels always follow the map, whatever its type.
    const int64_t dataStart = mapStart + f.mapLength;
    if (!r.Seek(dataStart)) return;
    const int64_t rowBytes = w * f.depth / 8;
    const int64_t padded = rowBytes + (rowBytes & 1);
    const int64_t imageBytes = rowBytes * h;
    if (f.type == 2) {
      const int64_t size = FFBasic::FFCapSize(r.Left(), 3, __LINE__);
      if (size < 0) return;
      Basic::MemAlloc(block, std::max<int64_t>(size, 1), __LINE__,
                      Basic::kMemPlain, "FF_RAS.RASLoad.block");
      r.Read(block, size);
      if (RASUnpack(padded - rowBytes, rowBytes, imageBytes, size, image->data,
                    block) != imageBytes) {
        ErrSet(Errors::kErrImageDecompress, __LINE__);
        return;
      }
      Basic::MemFree(block);
    } else {
      // Files shorter than their padded rows hold unpadded ones.
      const int64_t step = r.Left() >= padded * h ? padded : rowBytes;
      for (int64_t y = 0; y < h; y++)
        if (!r.Seek(dataStart + y * step) ||
            !r.Read(image->data + y * rowBytes, rowBytes))
          return;
    }
    if (f.depth == 32) RASPixelFromFile32(w * h, image->data);
    if (f.type == 3 && f.depth > 16)
      ImgBasic::ImgSwapRB(image, image);
    Basic::FClose(f.file);
  });
}

void RASSave(const std::string& name, Qimg* image) {
  Errors::Monitored("FF_RAS.RASSave", [&] {
    FFBasic::FFInitRec prep;
    uint8_t* line = nullptr;
    uint8_t* packed = nullptr;
    FFBasic::FFInit(ConForm::kFmtRAS, &prep, image, 1);
    const Qimg* img = prep.image;
    const int64_t w = img->width, h = img->height;
    const int32_t bpp = img->bytesPerPixel;
    const int64_t rowBytes = w * bpp;
    const int64_t padded = rowBytes + (rowBytes & 1);
    if (padded * h > UINT32_MAX) {
      ErrSet(Errors::kErrImageNotSupported, __LINE__);
      return;
    }
    bool palUsed = false;
    if (bpp == 1)
      for (int i = 0; i < 768 && !palUsed; i++) palUsed = img->palette[i] != 0;
    const int32_t file = FFBasic::FFCreateFile(name);
    uint8_t hdr[32];
    FFBasic::Put32B(hdr, kMagic);
    FFBasic::Put32B(hdr + 4, static_cast<uint32_t>(w));
    FFBasic::Put32B(hdr + 8, static_cast<uint32_t>(h));
    FFBasic::Put32B(hdr + 12, static_cast<uint32_t>(bpp * 8));
    FFBasic::Put32B(hdr + 16, static_cast<uint32_t>(padded * h));
    FFBasic::Put32B(hdr + 20, rleOn ? 2 : 1);
    FFBasic::Put32B(hdr + 24, palUsed ? 1 : 0);
    FFBasic::Put32B(hdr + 28, palUsed ? 768 : 0);
    Basic::FWrite(file, hdr, 32);
    if (palUsed) {
      uint8_t map[768];
      for (int i = 0; i < 256; i++) {
        map[i] = img->palette[i * 3 + 2];
        map[256 + i] = img->palette[i * 3 + 1];
        map[512 + i] = img->palette[i * 3];
      }
      Basic::FWrite(file, map, 768);
    }
    Basic::MemAlloc(line, rowBytes, __LINE__, Basic::kMemPlain,
                    "FF_RAS.RASSave.line");
    Basic::MemAlloc(packed, rowBytes * 2 + 2, __LINE__, Basic::kMemPlain,
                    "FF_RAS.RASSave.packed");
    const uint8_t zero = 0;
    int64_t dataLength = 0;
    for (int64_t y = 0; y < h; y++) {
      const uint8_t* src = img->data + y * rowBytes;
      if (bpp == 4)
        RASPixelToFile32(w, line, src);
      else
        std::memcpy(line, src, static_cast<size_t>(rowBytes));
      if (rleOn) {
        const int64_t n = RASPackRow(rowBytes, packed, line);
        Basic::FWrite(file, packed, n);
        dataLength += n;
      } else {
        Basic::FWrite(file, line, rowBytes);
        dataLength += rowBytes;
      }
      if (rowBytes & 1) Basic::FWrite(file, &zero, 1);
      dataLength += rowBytes & 1;
    }
    // Readers take the length field as the size of the encoded data that
    // follows, so an encoded file states what was written.
    if (rleOn) {
      if (dataLength > UINT32_MAX) {
        ErrSet(Errors::kErrImageCompress, __LINE__);
        return;
      }
      uint8_t length[4];
      FFBasic::Put32B(length, static_cast<uint32_t>(dataLength));
      Basic::FSeek(file, 16);
      Basic::FWrite(file, length, 4);
    }
    Basic::FClose(file);
    Basic::MemFree(line);
    Basic::MemFree(packed);
    FFBasic::FFDone(&prep);
  });
}

}  // namespace FF_RAS
