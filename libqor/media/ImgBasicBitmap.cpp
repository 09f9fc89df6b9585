// Exchange between `Qimg` and the device layer's bitmap structures: drawing
// on device contexts (with the palette handling of palette devices), DIB
// sections, packed DIBs in global memory, and raw pixel blocks.
#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"
#include "media/ImgBasic.h"

using Errors::ErrSet;

namespace ImgBasic {
namespace {

// The logical palette last made by PalPut; each new one deletes it.
Gdi::HPALETTE gPalette = nullptr;

constexpr int64_t kInfoBytes =
    Gdi::kBitmapInfoHeaderSize + 256 * Gdi::kRgbQuadSize;

// Copies packed top-down rows into padded bottom-up DIB rows.
void RowsToDib(const Qimg* image, uint8_t* dib, int64_t stride) {
  const int64_t rowLen =
      static_cast<int64_t>(image->width) * image->bytesPerPixel;
  for (int64_t i = 0; i < image->height; i++)
    std::memcpy(dib + (image->height - 1 - i) * stride,
                image->data + i * rowLen, static_cast<size_t>(rowLen));
}

// The image's palette as 256 RGBQUADs at out.
void WritePaletteQuads(const Qimg* image, uint8_t* out) {
  for (int i = 0; i < 256; i++) {
    Gdi::RGBQUAD q;
    q.rgbBlue = image->palette[i * 3];
    q.rgbGreen = image->palette[i * 3 + 1];
    q.rgbRed = image->palette[i * 3 + 2];
    Gdi::WriteRgbQuad(out + i * Gdi::kRgbQuadSize, q);
  }
}

void ReadPaletteQuads(const uint8_t* quads, uint32_t count, Qimg* image) {
  for (uint32_t i = 0; i < count && i < 256; i++) {
    const Gdi::RGBQUAD q = Gdi::ReadRgbQuad(quads + i * Gdi::kRgbQuadSize);
    image->palette[i * 3] = q.rgbBlue;
    image->palette[i * 3 + 1] = q.rgbGreen;
    image->palette[i * 3 + 2] = q.rgbRed;
  }
}

bool PixelDepth(int32_t bits) {
  return bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Second way to draw: through a DIB section in a compatible memory context.
// info describes the image (top-down) and is changed to describe the section.
void PutThroughSection(const Qimg* draw, uint8_t* info, uint32_t usage,
                       Gdi::HDC dc, const ImgRect& r, int32_t destHeight,
                       int32_t destWidth, int32_t y, int32_t x) {
  Gdi::BITMAPINFOHEADER h = Gdi::ReadBitmapInfoHeader(info);
  const int64_t stride = Gdi::DibRowBytes(draw->width, h.biBitCount);
  h.biHeight = draw->height;
  h.biSizeImage = static_cast<uint32_t>(stride * draw->height);
  Gdi::WriteBitmapInfoHeader(info, h);
  void* bits = nullptr;
  Gdi::HBITMAP section = Gdi::CreateDIBSection(dc, info, usage, &bits, nullptr, 0);
  if (!section) return;
  RowsToDib(draw, static_cast<uint8_t*>(bits), stride);
  Gdi::HDC mem = Gdi::CreateCompatibleDC(dc);
  if (mem) {
    Gdi::HGDIOBJ old = Gdi::SelectObject(mem, section);
    if (destWidth != 0 && destHeight != 0)
      Gdi::StretchBlt(dc, x, y, destWidth, destHeight, mem, r.x, r.y, r.width,
                      r.height, Gdi::SRCCOPY);
    else
      Gdi::BitBlt(dc, x, y, r.width, r.height, mem, r.x, r.y, Gdi::SRCCOPY);
    if (old) Gdi::SelectObject(mem, old);
    Gdi::DeleteDC(mem);
  }
  Gdi::DeleteObject(section);
}

}  // namespace

bool DeviceHasPalette(Gdi::HDC dc) {
  Errors::TraceScope trace("ImgBasic.DeviceHasPalette");
  return (Gdi::GetDeviceCaps(dc, Gdi::RASTERCAPS) & Gdi::RC_PALETTE) != 0;
}

void PalPut(const uint8_t* palette, Gdi::HDC dc) {
  Errors::Monitored("ImgBasic.PalPut", [&] {
    if (!DeviceHasPalette(dc)) return;
    uint8_t* logpal = nullptr;
    Basic::MemAlloc(logpal, Gdi::kLogPaletteHeaderSize + 256 * Gdi::kPaletteEntrySize,
                    __LINE__, Basic::kMemPlain, "ImgBasic.PalPut.logpal");
    Gdi::WriteLogPaletteHeader(logpal, Gdi::kLogPaletteVersion, 256);
    for (int i = 0; i < 256; i++) {
      Gdi::PALETTEENTRY e;
      e.peRed = palette[i * 3 + 2];
      e.peGreen = palette[i * 3 + 1];
      e.peBlue = palette[i * 3];
      e.peFlags = Gdi::PC_NOCOLLAPSE;
      Gdi::WritePaletteEntry(
          logpal + Gdi::kLogPaletteHeaderSize + i * Gdi::kPaletteEntrySize, e);
    }
    if (gPalette) Gdi::DeleteObject(gPalette);
    gPalette = Gdi::CreatePalette(logpal);
    Basic::MemFree(logpal);
    if (!gPalette) {
      ErrSet(Errors::kErrImagePalette, __LINE__);
      return;
    }
    Gdi::SelectPalette(dc, gPalette, true);
    Gdi::SetSystemPaletteUse(dc, Gdi::SYSPAL_NOSTATIC);
    Gdi::SetSystemPaletteUse(dc, Gdi::SYSPAL_STATIC);
    Gdi::RealizePalette(dc);
  });
}

void ImgPutEx(Qimg* image, const ImgRect& sourceRect, Gdi::HDC dc,
              int32_t ditherMode, int32_t destHeight, int32_t destWidth,
              int32_t y, int32_t x) {
  Errors::Monitored("ImgBasic.ImgPutEx", [&] {
    if (!image || !image->data) return;
    uint8_t* info = nullptr;
    Basic::MemAlloc(info, kInfoBytes, __LINE__, Basic::kMemPlain,
                    "ImgBasic.ImgPutEx.DIBinfo");
    uint8_t* table = info + Gdi::kBitmapInfoHeaderSize;
    Gdi::BITMAPINFOHEADER h;
    Qimg img8;
    Qimg* draw = image;
    uint32_t usage;
    if (DeviceHasPalette(dc)) {
      usage = Gdi::DIB_PAL_COLORS;
      for (int i = 0; i < 256; i++)
        Gdi::WriteWord(table + i * 2, static_cast<uint16_t>(i));
      if (image->bitsPerPixel == 8) {
        if (gPalette) Gdi::SelectPalette(dc, gPalette, true);
      } else {
        ImgConvBppEx(image, &img8, 8, ditherMode);
        PalPut(img8.palette, dc);
        draw = &img8;
      }
    } else {
      usage = Gdi::DIB_RGB_COLORS;
      if (image->bitsPerPixel == 8) {
        WritePaletteQuads(image, table);
      } else if (image->bitsPerPixel == 16) {
        h.biCompression = Gdi::BI_BITFIELDS;
        Gdi::WriteDword(table, 0xF800);
        Gdi::WriteDword(table + 4, 0x07E0);
        Gdi::WriteDword(table + 8, 0x001F);
      }
    }
    const int64_t w = draw->width, ht = draw->height;
    const int64_t rowLen = w * draw->bytesPerPixel;
    h.biWidth = draw->width;
    h.biHeight = -draw->height;
    h.biBitCount = static_cast<uint16_t>(draw->bytesPerPixel * 8);
    h.biSizeImage = static_cast<uint32_t>(rowLen * ht);

    // The rectangle corrected against the image.
    ImgRect r = sourceRect;
    if (r.x < 0 || r.x >= w) r.x = 0;
    if (r.y < 0 || r.y >= ht) r.y = 0;
    if (r.width <= 0) r.width = draw->width;
    if (r.height <= 0) r.height = draw->height;
    r.width = static_cast<int32_t>(std::min<int64_t>(r.width, w - r.x));
    r.height = static_cast<int32_t>(std::min<int64_t>(r.height, ht - r.y));

    const uint8_t* bits = draw->data;
    uint8_t* bmpBits = nullptr;
    if (rowLen % 4 != 0) {
      const int64_t stride = Gdi::DibRowBytes(w, h.biBitCount);
      Basic::MemAlloc(bmpBits, stride * ht, __LINE__, Basic::kMemPlain,
                      "ImgBasic.ImgPutEx.bmpBits");
      RowsToDib(draw, bmpBits, stride);
      h.biHeight = draw->height;
      h.biSizeImage = static_cast<uint32_t>(stride * ht);
      bits = bmpBits;
    }
    Gdi::WriteBitmapInfoHeader(info, h);

    // DIB source origin: bottom left.
    const int32_t srcY = draw->height - r.height - r.y;
    int32_t drawn;
    if (destWidth != 0 && destHeight != 0)
      drawn = Gdi::StretchDIBits(dc, x, y, destWidth, destHeight, r.x, srcY,
                                 r.width, r.height, bits, info, usage,
                                 Gdi::SRCCOPY);
    else
      drawn = Gdi::SetDIBitsToDevice(dc, x, y, static_cast<uint32_t>(r.width),
                                     static_cast<uint32_t>(r.height), r.x, srcY,
                                     0, static_cast<uint32_t>(draw->height),
                                     bits, info, usage);
    if (drawn == 0)
      PutThroughSection(draw, info, usage, dc, r, destHeight, destWidth, y, x);

    if (bmpBits) Basic::MemFree(bmpBits);
    if (draw == &img8) ImgFree(&img8);
    Basic::MemFree(info);
  });
}

void ImgPut(Qimg* image, Gdi::HDC dc, int32_t x, int32_t y) {
  ImgRect whole;
  if (image) {
    whole.width = image->width;
    whole.height = image->height;
  }
  ImgPutEx(image, whole, dc, kConvPalette, 0, 0, y, x);
}

void RawToQimg(Qimg* image, const uint8_t* pixels, const uint8_t* palette,
               int32_t bits, int32_t height, int32_t width) {
  Errors::Monitored("ImgBasic.RawToQimg", [&] {
    if (!pixels) {
      ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    _imgalloc_(image, width, height, "ImgBasic.RawToQimg.img", __LINE__, bits);
    std::memcpy(image->data, pixels,
                static_cast<size_t>(static_cast<int64_t>(width) * height *
                                    image->bytesPerPixel));
    if (palette) std::memcpy(image->palette, palette, sizeof image->palette);
  });
}

void MakeQimg(Qimg* image, const uint8_t* rows, int32_t width, bool topDown,
              int32_t stride, int32_t bits, int32_t height) {
  Errors::Monitored("ImgBasic.MakeQimg", [&] {
    const int64_t rowLen = static_cast<int64_t>(width) * BytesPerPixel(bits);
    if (!rows || stride < rowLen) {
      ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    _imgalloc_(image, width, height, "ImgBasic.MakeQimg.img", __LINE__, bits);
    if (topDown && stride == rowLen) {
      std::memcpy(image->data, rows, static_cast<size_t>(rowLen * height));
      return;
    }
    for (int64_t i = 0; i < height; i++) {
      const int64_t from = topDown ? i : height - 1 - i;
      std::memcpy(image->data + i * rowLen, rows + from * stride,
                  static_cast<size_t>(rowLen));
    }
  });
}

void DibToQimg(Qimg* image, const uint8_t* packedDib, int64_t dibBytes) {
  Errors::Monitored("ImgBasic.DibToQimg", [&] {
    if (!packedDib || dibBytes < Gdi::kBitmapInfoHeaderSize) {
      ErrSet(Errors::kErrImageHeader, __LINE__);
      return;
    }
    const Gdi::BITMAPINFOHEADER h = Gdi::ReadBitmapInfoHeader(packedDib);
    if (h.biSize < static_cast<uint32_t>(Gdi::kBitmapInfoHeaderSize) ||
        h.biSize > dibBytes || h.biWidth <= 0 || h.biHeight == 0) {
      ErrSet(Errors::kErrImageHeader, __LINE__);
      return;
    }
    // Top-down and compressed DIBs are not read.
    if (h.biHeight < 0 || h.biCompression != Gdi::BI_RGB ||
        !PixelDepth(h.biBitCount)) {
      ErrSet(Errors::kErrImageNotSupported, __LINE__);
      return;
    }
    // A 16-bit DIB without masks is 5-5-5.
    const int32_t bits = h.biBitCount == 16 ? 15 : h.biBitCount;
    const int64_t entries =
        bits == 8 ? (h.biClrUsed == 0 ? 256 : static_cast<int64_t>(h.biClrUsed))
                  : 0;
    if (entries > 256) {
      ErrSet(Errors::kErrImageHeader, __LINE__);
      return;
    }
    if (CheckedImageBytes(h.biWidth, h.biHeight, bits, __LINE__) < 0) return;
    const int64_t offset = h.biSize + entries * Gdi::kRgbQuadSize;
    const int64_t stride = Gdi::DibRowBytes(h.biWidth, h.biBitCount);
    if (offset + stride * h.biHeight > dibBytes) {
      ErrSet(Errors::kErrImageCorrupted, __LINE__);
      return;
    }
    MakeQimg(image, packedDib + offset, h.biWidth, false,
             static_cast<int32_t>(stride), bits, h.biHeight);
    std::memset(image->palette, 0, sizeof image->palette);
    ReadPaletteQuads(packedDib + h.biSize, static_cast<uint32_t>(entries), image);
  });
}

bool HBitmapToQimg(Gdi::HBITMAP bitmap, Qimg* image) {
  bool ok = false;
  Errors::Monitored("ImgBasic.HBitmapToQimg", [&] {
    Gdi::BITMAP bm;
    if (!Gdi::GetObject(bitmap, &bm) || !PixelDepth(bm.bmBitsPixel)) return;
    const int32_t width = bm.bmWidth;
    const int32_t height = std::abs(bm.bmHeight);
    const int32_t bits = bm.bmBitsPixel;
    if (CheckedImageBytes(width, height, bits, __LINE__) < 0) return;
    const int64_t padded = Gdi::DibRowBytes(width, bits);
    if (bm.bmBits) {
      // A DIB section: bottom-up unless its height says top-down.
      MakeQimg(image, static_cast<const uint8_t*>(bm.bmBits), width,
               bm.bmHeight < 0, static_cast<int32_t>(padded), bits, height);
    } else {
      const int64_t stride = std::max<int64_t>(bm.bmWidthBytes, padded);
      uint8_t* data = nullptr;
      Basic::MemAlloc(data, stride * height, __LINE__, Basic::kMemPlain,
                      "ImgBasic.HBitmapToQimg.bitmapData");
      int64_t rowStride = bm.bmWidthBytes;
      if (Gdi::GetBitmapBits(bitmap, bm.bmWidthBytes * height, data) == 0) {
        // The DIB way: rows asked for top-down, as they are read below.
        std::array<uint8_t, kInfoBytes> info{};
        Gdi::BITMAPINFOHEADER h;
        h.biWidth = width;
        h.biHeight = -height;
        h.biBitCount = static_cast<uint16_t>(bits);
        Gdi::WriteBitmapInfoHeader(info.data(), h);
        Gdi::HDC mem = Gdi::CreateCompatibleDC(nullptr);
        const int32_t got =
            Gdi::GetDIBits(mem, bitmap, 0, static_cast<uint32_t>(height), data,
                           info.data(), Gdi::DIB_RGB_COLORS);
        Gdi::DeleteDC(mem);
        if (got == 0) {
          Basic::MemFree(data);
          return;
        }
        rowStride = padded;
      }
      MakeQimg(image, data, width, true, static_cast<int32_t>(rowStride), bits,
               height);
      Basic::MemFree(data);
    }
    if (bits == 8) {
      std::memset(image->palette, 0, sizeof image->palette);
      Gdi::HDC mem = Gdi::CreateCompatibleDC(nullptr);
      Gdi::SelectObject(mem, bitmap);
      std::array<uint8_t, 256 * Gdi::kRgbQuadSize> quads{};
      const uint32_t n = Gdi::GetDIBColorTable(mem, 0, 256, quads.data());
      Gdi::DeleteDC(mem);
      ReadPaletteQuads(quads.data(), n, image);
    }
    ok = true;
  });
  return ok;
}

bool QimgToHBitmap(Qimg* image, Gdi::HBITMAP* bitmap) {
  bool ok = false;
  if (bitmap) *bitmap = nullptr;
  Errors::Monitored("ImgBasic.QimgToHBitmap", [&] {
    if (!ImgIsValid(image) || !bitmap) {
      ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    Qimg temp;
    const Qimg* src = image;
    if (image->bitsPerPixel != 24) {
      ImgConvBpp(image, &temp, 24);
      src = &temp;
    }
    const int64_t stride = Gdi::DibRowBytes(src->width, 24);
    uint8_t* bmiP = nullptr;
    Basic::MemAlloc(bmiP, Gdi::kBitmapInfoHeaderSize + Gdi::kRgbQuadSize,
                    __LINE__, Basic::kMemPlain, "ImgBasic.QimgToHBitmap.bmiP");
    Gdi::BITMAPINFOHEADER h;
    h.biWidth = src->width;
    h.biHeight = src->height;
    h.biBitCount = 24;
    h.biSizeImage = static_cast<uint32_t>(stride * src->height);
    Gdi::WriteBitmapInfoHeader(bmiP, h);
    Gdi::HDC mem = Gdi::CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    Gdi::HBITMAP section =
        Gdi::CreateDIBSection(mem, bmiP, Gdi::DIB_RGB_COLORS, &bits, nullptr, 0);
    Gdi::DeleteDC(mem);
    if (section) {
      RowsToDib(src, static_cast<uint8_t*>(bits), stride);
      *bitmap = section;
      ok = true;
    }
    Basic::MemFree(bmiP);
    if (src == &temp) ImgFree(&temp);
  });
  return ok;
}

bool QimgToGlobalDib(Qimg* image, Gdi::HGLOBAL* handle) {
  bool ok = false;
  if (handle) *handle = nullptr;
  Errors::Monitored("ImgBasic.QimgToGlobalDib", [&] {
    if (!ImgIsValid(image) || !handle) {
      ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    const int32_t bits = image->bitsPerPixel;
    if (CheckedImageBytes(image->width, image->height, bits, __LINE__) < 0)
      return;
    const int64_t stride = Gdi::DibRowBytes(image->width, bits);
    const int64_t header =
        Gdi::kBitmapInfoHeaderSize + (bits == 8 ? 256 * Gdi::kRgbQuadSize : 0);
    const int64_t total = header + stride * image->height;
    if (total > INT32_MAX) {
      ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    Gdi::HGLOBAL block = Gdi::GlobalAlloc(Gdi::GMEM_FIXED, total);
    if (!block) Errors::MonAbort();
    auto* p = static_cast<uint8_t*>(Gdi::GlobalLock(block));
    if (!p) {
      Gdi::GlobalFree(block);
      Errors::MonAbort();
    }
    Gdi::BITMAPINFOHEADER h;
    h.biWidth = image->width;
    h.biHeight = image->height;
    h.biBitCount = static_cast<uint16_t>(bits == 15 ? 16 : bits);
    h.biSizeImage = static_cast<uint32_t>(stride * image->height);
    h.biClrUsed = bits == 8 ? 256 : 0;
    Gdi::WriteBitmapInfoHeader(p, h);
    if (bits == 8) WritePaletteQuads(image, p + Gdi::kBitmapInfoHeaderSize);
    uint8_t* rows = p + header;
    RowsToDib(image, rows, stride);
    if (bits == 16) {
      // A plain 16-bit DIB is 5-5-5 to every reader: the 5-6-5 pixels are
      // written in that layout so the colours stay right.
      for (int64_t i = 0; i < image->height; i++) {
        uint8_t* row = rows + i * stride;
        for (int64_t k = 0; k < image->width; k++)
          Gdi::WriteWord(row + k * 2, Word565To555(Gdi::ReadWord(row + k * 2)));
      }
    }
    Gdi::GlobalUnlock(block);
    *handle = block;
    ok = true;
  });
  return ok;
}

}  // namespace ImgBasic
