#include "formats/FF_SGI.h"

#include <algorithm>
#include <cstring>

#include "formats/FFBasic.h"
#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"

using Errors::ErrSet;
using FFBasic::FFReader;
using ImgBasic::Qimg;

namespace FF_SGI {
namespace {

constexpr uint16_t kMagic = 474;
constexpr int64_t kHeaderSize = 512;

bool rleOn = true;

// Byte of a B,G,R,A pixel that holds channel c (0 red, 1 green, 2 blue,
// 3 alpha).
constexpr int kChannelByte[4] = {2, 1, 0, 3};

// Depth of the image a file loads as. Two channels are grey plus alpha; the
// grey plane is kept.
int32_t LoadDepth(int32_t channels) { return channels == 2 ? 8 : channels * 8; }

}  // namespace

void SGISetCompression(int32_t value) { rleOn = value != 0; }
bool SGIGetCompression() { return rleOn; }

void SGIOpen_(SgiFileRec* f, const std::string& name) {
  Errors::Monitored("FF_SGI.SGIOpen_", [&] {
    *f = SgiFileRec{};
    Basic::FOpen(f->file, name, Basic::kOpenRead);
    FFReader r(f->file, 2);
    uint8_t h[108];
    if (!r.Read(h, 108)) return;
    FFReader hr(h, 108, 2);
    f->magic = hr.U16B();
    if (f->magic != kMagic) {
      ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    f->storage = hr.U8();
    f->bytesPerChannel = hr.U8();
    f->dimension = hr.U16B();
    f->width = hr.U16B();
    f->height = hr.U16B();
    f->channels = hr.U16B();
    f->minValue = hr.U32B();
    f->maxValue = hr.U32B();
    hr.Seek(104);
    f->colorMap = hr.U32B();
    f->fileSize = r.Size();
    bool dimensionKnown = true;
    switch (f->dimension) {
      case 1:
        f->height = 1;
        f->channels = 1;
        break;
      case 2:
        f->channels = 1;
        break;
      case 3:
        break;
      default:
        dimensionKnown = false;
    }
    f->supported = dimensionKnown && f->bytesPerChannel == 1 &&
                   f->storage <= 1 && f->channels >= 1 && f->channels <= 4 &&
                   f->colorMap == 0 && f->width > 0 && f->height > 0;
  });
}

int64_t SGIUnpackRow(int64_t limit, int64_t packedLength, uint8_t* dest,
                     const uint8_t* packed) {
  int64_t in = 0, out = 0;
  while (in < packedLength && out < limit) {
    const uint8_t c = packed[in++];
    const int64_t count = c & 127;
    if (count == 0) break;
    if (c & 0x80) {
      if (in + count > packedLength) return -1;
      const int64_t n = std::min(count, limit - out);
      std::memcpy(dest + out, packed + in, static_cast<size_t>(n));
      in += count;
      out += n;
    } else {
      if (in >= packedLength) return -1;
      const uint8_t v = packed[in++];
      const int64_t n = std::min(count, limit - out);
      std::memset(dest + out, v, static_cast<size_t>(n));
      out += n;
    }
  }
  return out;
}

int64_t SGIPackRow(int64_t length, uint8_t* dest, const uint8_t* source) {
  int64_t i = 0, o = 0;
  while (i < length) {
    int64_t run = 1;
    while (i + run < length && source[i + run] == source[i]) run++;
    if (run >= 2) {
      while (run > 0) {
        const int64_t n = std::min<int64_t>(run, 126);
        dest[o++] = static_cast<uint8_t>(n);
        dest[o++] = source[i];
        i += n;
        run -= n;
      }
      continue;
    }
    // Literal bytes up to where a run of two or more begins.
    int64_t n = 0;
    while (i + n < length && n < 125 &&
           !(i + n + 1 < length && source[i + n + 1] == source[i + n]))
      n++;
    if (n == 0) n = 1;
    dest[o++] = static_cast<uint8_t>(128 + n);
    std::memcpy(dest + o, source + i, static_cast<size_t>(n));
    o += n;
    i += n;
  }
  dest[o++] = 0;
  return o;
}

void SGIInfo(const std::string& name, ConForm::FFInfoRec* info) {
  Errors::Monitored("FF_SGI.SGIInfo", [&] {
    SgiFileRec f;
    SGIOpen_(&f, name);
    const int32_t bits = LoadDepth(f.channels) * f.bytesPerChannel;
    ConForm::FFInfoStill(info, static_cast<double>(f.fileSize), f.width,
                         f.height, bits / 8, bits,
                         f.storage == 1 ? "Run Length Encoding (RLE)" : nullptr,
                         f.width > 0, f.supported);
    Basic::FClose(f.file);
  });
}

void SGILoad(const std::string& name, Qimg* image) {
  Errors::Monitored("FF_SGI.SGILoad", [&] {
    SgiFileRec f;
    uint8_t* starts = nullptr;
    uint8_t* lengths = nullptr;
    uint8_t* packed = nullptr;
    uint8_t* line = nullptr;
    SGIOpen_(&f, name);
    if (!f.supported) {
      ErrSet(Errors::kErrImageNotSupported, __LINE__);
      return;
    }
    const int64_t w = f.width, h = f.height, ch = f.channels;
    if (FFBasic::FFCapImage(w, h, LoadDepth(f.channels), 2, __LINE__) < 0) return;
    ImgBasic::_imgalloc_(image, f.width, f.height, "FF_SGI.SGILoad.image",
                         __LINE__, LoadDepth(f.channels));
    Basic::MemAlloc(line, w * ch, __LINE__, Basic::kMemPlain,
                    "FF_SGI.SGILoad.line");
    const int64_t packedMax = 2 * w * ch;
    FFReader r(f.file, 9);
    if (f.storage == 1) {
      r.SetFailCode(3);
      const int64_t entries = ch * h;
      Basic::MemAlloc(starts, entries * 4, __LINE__, Basic::kMemPlain,
                      "FF_SGI.SGILoad.linetbl");
      Basic::MemAlloc(lengths, entries * 4, __LINE__, Basic::kMemPlain,
                      "FF_SGI.SGILoad.lentbl");
      Basic::MemAlloc(packed, packedMax, __LINE__, Basic::kMemPlain,
                      "FF_SGI.SGILoad.packed");
      if (!r.Seek(kHeaderSize) || !r.Read(starts, entries * 4) ||
          !r.Read(lengths, entries * 4))
        return;
    }
    auto be32 = [](const uint8_t* p) {
      return (static_cast<uint32_t>(p[0]) << 24) |
             (static_cast<uint32_t>(p[1]) << 16) |
             (static_cast<uint32_t>(p[2]) << 8) | p[3];
    };
    for (int64_t row = 0; row < h; row++) {
      std::memset(line, 0, static_cast<size_t>(w * ch));
      for (int64_t c = 0; c < ch; c++) {
        uint8_t* plane = line + c * w;
        if (f.storage == 1) {
          const int64_t k = (c * h + row) * 4;
          const int64_t start = be32(starts + k);
          const int64_t length = be32(lengths + k);
          // A row longer than the row buffer is not one of this file's rows.
          if (length > packedMax) {
            ErrSet(Errors::kErrImageDecompress, __LINE__);
            return;
          }
          if (!r.Seek(start) || !r.Read(packed, length)) return;
          if (SGIUnpackRow(w, length, plane, packed) < 0) {
            ErrSet(Errors::kErrImageDecompress, __LINE__);
            return;
          }
        } else {
          if (!r.Seek(kHeaderSize + c * w * h + row * w) || !r.Read(plane, w))
            return;
        }
      }
      uint8_t* dst = image->data + (h - 1 - row) * w * image->bytesPerPixel;
      if (ch <= 2) {
        std::memcpy(dst, line, static_cast<size_t>(w));
      } else {
        for (int64_t x = 0; x < w; x++)
          for (int64_t c = 0; c < ch; c++)
            dst[x * ch + kChannelByte[c]] = line[c * w + x];
      }
    }
    if (ch <= 2) ImgBasic::PalMakeGrey(image->palette);
    Basic::MemFree(starts);
    Basic::MemFree(lengths);
    Basic::MemFree(packed);
    Basic::MemFree(line);
    Basic::FClose(f.file);
  });
}

void SGISave(const std::string& name, Qimg* image) {
  Errors::Monitored("FF_SGI.SGISave", [&] {
    FFBasic::FFInitRec prep;
    uint8_t* line = nullptr;
    uint8_t* packed = nullptr;
    uint8_t* tables = nullptr;
    FFBasic::FFInit(ConForm::kFmtSGI, &prep, image, 1);
    const Qimg* img = prep.image;
    // The header's sizes are 16-bit.
    if (img->width > 65535 || img->height > 65535) {
      ErrSet(Errors::kErrImageNotSupported, __LINE__);
      return;
    }
    const int32_t file = FFBasic::FFCreateFile(name);
    const int64_t w = img->width, h = img->height;
    const int64_t ch = img->bytesPerPixel;
    uint8_t hdr[512] = {};
    FFBasic::Put16B(hdr, kMagic);
    hdr[2] = rleOn ? 1 : 0;
    hdr[3] = 1;
    FFBasic::Put16B(hdr + 4, 3);
    FFBasic::Put16B(hdr + 6, static_cast<uint32_t>(w));
    FFBasic::Put16B(hdr + 8, static_cast<uint32_t>(h));
    FFBasic::Put16B(hdr + 10, static_cast<uint32_t>(ch));
    FFBasic::Put32B(hdr + 16, 255);
    Basic::FWrite(file, hdr, 512);
    // A 32-bit image whose fourth bytes are all 0 carries no alpha: it is
    // written opaque rather than fully transparent.
    const bool opaque = ch == 4 && FFBasic::AlphaAllZero(img);
    Basic::MemAlloc(line, w, __LINE__, Basic::kMemPlain, "FF_SGI.SGISave.line");
    auto plane = [&](int64_t c, int64_t y) {
      const uint8_t* src = img->data + y * w * ch;
      for (int64_t x = 0; x < w; x++)
        line[x] = (c == 3 && opaque) ? 255 : src[x * ch + kChannelByte[c]];
    };
    if (rleOn) {
      const int64_t entries = ch * h;
      Basic::MemAlloc(tables, entries * 8, __LINE__, Basic::kMemPlain,
                      "FF_SGI.SGISave.tables");
      Basic::MemAlloc(packed, 2 * w + 2, __LINE__, Basic::kMemPlain,
                      "FF_SGI.SGISave.packed");
      int64_t pos = kHeaderSize + entries * 8;
      Basic::FSeek(file, pos);
      for (int64_t c = 0; c < ch; c++) {
        for (int64_t row = 0; row < h; row++) {
          plane(c, h - 1 - row);
          const int64_t n = SGIPackRow(w, packed, line);
          if (pos + n > UINT32_MAX) {
            ErrSet(Errors::kErrImageCompress, __LINE__);
            return;
          }
          FFBasic::Put32B(tables + (c * h + row) * 4, static_cast<uint32_t>(pos));
          FFBasic::Put32B(tables + entries * 4 + (c * h + row) * 4,
                          static_cast<uint32_t>(n));
          Basic::FWrite(file, packed, n);
          pos += n;
        }
      }
      Basic::FSeek(file, kHeaderSize);
      Basic::FWrite(file, tables, entries * 8);
    } else {
      for (int64_t c = 0; c < ch; c++)
        for (int64_t row = 0; row < h; row++) {
          plane(c, h - 1 - row);
          Basic::FWrite(file, line, w);
        }
    }
    Basic::FClose(file);
    Basic::MemFree(line);
    Basic::MemFree(packed);
    Basic::MemFree(tables);
    FFBasic::FFDone(&prep);
  });
}

}  // namespace FF_SGI
