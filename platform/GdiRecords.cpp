// The serialised Windows records (little-endian words, bitmap headers,
// palette entries): pure byte work, kept apart from the device contexts so
// that the movie module can carry its own copy without the rest of Gdi.
#include "platform/Gdi.h"

namespace Gdi {

// ---- serialised structures -----------------------------------------------------

void WriteWord(uint8_t* out, uint16_t value) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
}

void WriteDword(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; i++) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint16_t ReadWord(const uint8_t* in) {
  return static_cast<uint16_t>(in[0] | (in[1] << 8));
}

uint32_t ReadDword(const uint8_t* in) {
  return static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
         (static_cast<uint32_t>(in[2]) << 16) |
         (static_cast<uint32_t>(in[3]) << 24);
}

void WriteBitmapInfoHeader(uint8_t* out, const BITMAPINFOHEADER& h) {
  WriteDword(out, h.biSize);
  WriteDword(out + 4, static_cast<uint32_t>(h.biWidth));
  WriteDword(out + 8, static_cast<uint32_t>(h.biHeight));
  WriteWord(out + 12, h.biPlanes);
  WriteWord(out + 14, h.biBitCount);
  WriteDword(out + 16, h.biCompression);
  WriteDword(out + 20, h.biSizeImage);
  WriteDword(out + 24, static_cast<uint32_t>(h.biXPelsPerMeter));
  WriteDword(out + 28, static_cast<uint32_t>(h.biYPelsPerMeter));
  WriteDword(out + 32, h.biClrUsed);
  WriteDword(out + 36, h.biClrImportant);
}

BITMAPINFOHEADER ReadBitmapInfoHeader(const uint8_t* in) {
  BITMAPINFOHEADER h;
  h.biSize = ReadDword(in);
  h.biWidth = static_cast<int32_t>(ReadDword(in + 4));
  h.biHeight = static_cast<int32_t>(ReadDword(in + 8));
  h.biPlanes = ReadWord(in + 12);
  h.biBitCount = ReadWord(in + 14);
  h.biCompression = ReadDword(in + 16);
  h.biSizeImage = ReadDword(in + 20);
  h.biXPelsPerMeter = static_cast<int32_t>(ReadDword(in + 24));
  h.biYPelsPerMeter = static_cast<int32_t>(ReadDword(in + 28));
  h.biClrUsed = ReadDword(in + 32);
  h.biClrImportant = ReadDword(in + 36);
  return h;
}

void WriteRgbQuad(uint8_t* out, const RGBQUAD& q) {
  out[0] = q.rgbBlue;
  out[1] = q.rgbGreen;
  out[2] = q.rgbRed;
  out[3] = q.rgbReserved;
}

RGBQUAD ReadRgbQuad(const uint8_t* in) {
  RGBQUAD q;
  q.rgbBlue = in[0];
  q.rgbGreen = in[1];
  q.rgbRed = in[2];
  q.rgbReserved = in[3];
  return q;
}

void WriteLogPaletteHeader(uint8_t* out, uint16_t version, uint16_t count) {
  WriteWord(out, version);
  WriteWord(out + 2, count);
}

void WritePaletteEntry(uint8_t* out, const PALETTEENTRY& e) {
  out[0] = e.peRed;
  out[1] = e.peGreen;
  out[2] = e.peBlue;
  out[3] = e.peFlags;
}

PALETTEENTRY ReadPaletteEntry(const uint8_t* in) {
  PALETTEENTRY e;
  e.peRed = in[0];
  e.peGreen = in[1];
  e.peBlue = in[2];
  e.peFlags = in[3];
  return e;
}

int64_t DibRowBytes(int64_t width, int32_t bitCount) {
  return (width * ((bitCount + 7) / 8) + 3) / 4 * 4;
}

}  // namespace Gdi
