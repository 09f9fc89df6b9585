#include "formats/FF_PNM.h"

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

namespace FF_PNM {
namespace {

constexpr int64_t kBufferSize = 4096;

bool asciiOut = false;

// The read side: a 4096-byte buffer over the bounded reader, counting the
// bytes consumed since the open.
struct PnmInput {
  FFReader* reader = nullptr;
  uint8_t buffer[kBufferSize];
  int64_t fill = 0, pos = 0;
  int64_t consumed = 0;
};

bool PNMIsSpace(int c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

void PNMReadBuf_(PnmInput* in) {
  Errors::Monitored("FF_PNM.PNMReadBuf_", [&] {
    in->pos = 0;
    in->fill = in->reader->ReadUpTo(in->buffer, kBufferSize);
    if (in->fill <= 0) ErrSet(Errors::kErrImageCorrupted, __LINE__);
  });
}

int PNMReadByte(PnmInput* in) {
  if (in->pos >= in->fill) PNMReadBuf_(in);
  if (in->pos >= in->fill) return -1;
  in->consumed++;
  return in->buffer[in->pos++];
}

// Next byte; a "#" comment is skipped up to the line end, which is returned.
int PNMReadChar(PnmInput* in) {
  int c = PNMReadByte(in);
  if (c == '#') {
    do {
      c = PNMReadByte(in);
    } while (c >= 0 && c != '\n' && c != '\r');
  }
  return c;
}

std::string PNMReadToken(PnmInput* in, size_t limit) {
  std::string token;
  int c;
  do {
    c = PNMReadChar(in);
  } while (c >= 0 && PNMIsSpace(c));
  if (c < 0) return token;
  token += static_cast<char>(c);
  while (token.size() < limit) {
    c = PNMReadChar(in);
    if (c < 0 || PNMIsSpace(c)) break;
    token += static_cast<char>(c);
  }
  return token;
}

// Plain decimal digits, no sign; -1 for anything else or more than
// maxValue.
int64_t ParseDigits(const std::string& token, int64_t maxValue) {
  if (token.empty()) return -1;
  int64_t value = 0;
  for (char c : token) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
    if (value > maxValue) return -1;
  }
  return value;
}

// A header number: digits only, within 32 bits and above minimum.
int32_t HeaderNumber(PnmInput* in, int64_t minimum, int64_t maximum) {
  const int64_t v = ParseDigits(PNMReadToken(in, 511), maximum);
  if (v < minimum) {
    ErrSet(Errors::kErrImageHeader, __LINE__);
    return 0;
  }
  return static_cast<int32_t>(v);
}

// A sample of any maximum brought to 0..255 in proportion, to the nearest
// level: the maximum is white whatever it is (a bit shift would make 100 of
// 100 read as 200, and 3 of 3 as 192).
uint8_t Sample(int64_t value, const PnmFileRec& f) {
  const int64_t v = std::min<int64_t>(value, f.maxValue);
  return static_cast<uint8_t>((v * 255 + f.maxValue / 2) / f.maxValue);
}

// The write side: a 4096-byte buffer flushed to the tracked file.
struct PnmOutput {
  int32_t file = 0;
  uint8_t buffer[kBufferSize];
  int64_t fill = 0;
};

void PNMFlush(PnmOutput* out) {
  Basic::FWrite(out->file, out->buffer, out->fill);
  out->fill = 0;
}

void PNMWriteText(PnmOutput* out, const std::string& text) {
  const int64_t n = static_cast<int64_t>(text.size());
  if (out->fill + n > kBufferSize) PNMFlush(out);
  if (n > kBufferSize) {
    Basic::FWrite(out->file, text.data(), n);
    return;
  }
  std::memcpy(out->buffer + out->fill, text.data(), static_cast<size_t>(n));
  out->fill += n;
}

int PNMFormatByte(uint8_t value, uint8_t* dest) {
  int n = 0;
  if (value >= 100) dest[n++] = static_cast<uint8_t>('0' + value / 100);
  if (value >= 10) dest[n++] = static_cast<uint8_t>('0' + value / 10 % 10);
  dest[n++] = static_cast<uint8_t>('0' + value % 10);
  dest[n++] = '\n';
  return n;
}

void PNMWriteByte(PnmOutput* out, uint8_t value) {
  if (kBufferSize - out->fill < 4) PNMFlush(out);
  out->fill += PNMFormatByte(value, out->buffer + out->fill);
}

}  // namespace

void PNMSetEncoding(int32_t value) { asciiOut = value != 0; }
bool PNMGetEncoding() { return asciiOut; }

void PNMOpen_(PnmFileRec* f, const std::string& name) {
  Errors::Monitored("FF_PNM.PNMOpen_", [&] {
    *f = PnmFileRec{};
    Basic::FOpen(f->file, name, Basic::kOpenRead);
    FFReader reader(f->file, 9);
    PnmInput in;
    in.reader = &reader;
    f->fileSize = reader.Size();
    const std::string magic = PNMReadToken(&in, 2);
    if (magic.empty() || magic[0] != 'P') {
      ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    const char kind = magic.size() > 1 ? magic[1] : '\0';
    f->ascii = kind == '2' || kind == '3';
    if (kind == '2' || kind == '5') f->bitsPerPixel = 8;
    if (kind == '3' || kind == '6') f->bitsPerPixel = 24;
    if (f->bitsPerPixel != 0 || kind == '1' || kind == '4') {
      f->width = HeaderNumber(&in, 1, INT32_MAX);
      f->height = HeaderNumber(&in, 1, INT32_MAX);
    }
    if (f->bitsPerPixel != 0) {
      f->maxValue = HeaderNumber(&in, 1, 65535);
    }
    f->headerLength = in.consumed;
    f->bytesPerPixel = (f->bitsPerPixel + 7) / 8;
    f->supported = f->bytesPerPixel > 0;
  });
}

void PNMInfo(const std::string& name, ConForm::FFInfoRec* info) {
  Errors::Monitored("FF_PNM.PNMInfo", [&] {
    PnmFileRec f;
    PNMOpen_(&f, name);
    ConForm::FFInfoStill(info, static_cast<double>(f.fileSize), f.width,
                         f.height, f.bytesPerPixel, f.bytesPerPixel * 8,
                         f.ascii ? "Ascii encoded" : "Binary encoded",
                         f.width > 0, f.supported);
    Basic::FClose(f.file);
  });
}

void PNMLoad(const std::string& name, Qimg* image) {
  Errors::Monitored("FF_PNM.PNMLoad", [&] {
    PnmFileRec f;
    uint8_t* line = nullptr;
    PNMOpen_(&f, name);
    if (!f.supported) {
      ErrSet(Errors::kErrImageNotSupported, __LINE__);
      return;
    }
    if (FFBasic::FFCapImage(f.width, f.height, f.bitsPerPixel, 2, __LINE__) < 0) return;
    ImgBasic::_imgalloc_(image, f.width, f.height, "FF_PNM.PNMLoad.image",
                         __LINE__, f.bitsPerPixel);
    const int64_t rowBytes = static_cast<int64_t>(f.width) * f.bytesPerPixel;
    const int64_t total = rowBytes * f.height;
    FFReader reader(f.file, 9);
    if (!f.ascii) {
      if (!reader.Seek(f.headerLength)) return;
      if (f.maxValue <= 255) {
        if (!reader.Read(image->data, total)) return;
        if (f.maxValue != 255)
          for (int64_t i = 0; i < total; i++)
            image->data[i] = Sample(image->data[i], f);
      } else {
        Basic::MemAlloc(line, rowBytes * 2, __LINE__, Basic::kMemPlain,
                        "FF_PNM.PNMLoad.line");
        for (int64_t y = 0; y < f.height; y++) {
          if (!reader.Read(line, rowBytes * 2)) return;
          for (int64_t i = 0; i < rowBytes; i++)
            image->data[y * rowBytes + i] =
                Sample((line[i * 2] << 8) | line[i * 2 + 1], f);
        }
        Basic::MemFree(line);
      }
    } else {
      if (!reader.Seek(f.headerLength)) return;
      PnmInput in;
      in.reader = &reader;
      for (int64_t i = 0; i < total; i++) {
        const int64_t v = ParseDigits(PNMReadToken(&in, 511), 65535);
        if (v < 0) {
          ErrSet(Errors::kErrImageCorrupted, __LINE__);
          return;
        }
        image->data[i] = Sample(v, f);
      }
    }
    if (f.bytesPerPixel == 1)
      ImgBasic::PalMakeGrey(image->palette);
    else
      ImgBasic::ImgSwapRB(image, image);  // files hold R, G, B
    Basic::FClose(f.file);
  });
}

void PNMSave(const std::string& name, Qimg* image) {
  Errors::Monitored("FF_PNM.PNMSave", [&] {
    FFBasic::FFInitRec prep;
    uint8_t* line = nullptr;
    FFBasic::FFInit(ConForm::kFmtPNM, &prep, image, 1);
    const Qimg* img = prep.image;
    PnmOutput out;
    out.file = FFBasic::FFCreateFile(name);
    PNMWriteText(&out, std::string("P") + (asciiOut ? "3" : "6") + "\n" +
                           std::to_string(img->width) + " " +
                           std::to_string(img->height) + "\n255\n");
    PNMFlush(&out);
    const int64_t rowBytes = static_cast<int64_t>(img->width) * 3;
    Basic::MemAlloc(line, rowBytes, __LINE__, Basic::kMemPlain,
                    "FF_PNM.PNMSave.line");
    for (int64_t y = 0; y < img->height; y++) {
      ImgBasic::ConvRowTo24(true, 3, img->width, line, img->data + y * rowBytes);
      if (asciiOut) {
        for (int64_t i = 0; i < rowBytes; i++) PNMWriteByte(&out, line[i]);
      } else {
        Basic::FWrite(out.file, line, rowBytes);
      }
    }
    if (asciiOut) PNMFlush(&out);
    Basic::FClose(out.file);
    Basic::MemFree(line);
    FFBasic::FFDone(&prep);
  });
}

}  // namespace FF_PNM
