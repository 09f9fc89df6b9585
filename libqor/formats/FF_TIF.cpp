#include "formats/FF_TIF.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "formats/CodecCommon.h"
#include "formats/FFBasic.h"
#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"

using Basic::K_AUTO;
using CodecCommon::RaiseFailure;
using ImgBasic::Qimg;

namespace FF_TIF {
namespace {

int32_t g_compression = COMPRESSION_NONE;
int32_t g_grayLow = K_AUTO;
int32_t g_grayHigh = K_AUTO;

bool Among(int32_t value, std::initializer_list<int32_t> values) {
  return std::find(values.begin(), values.end(), value) != values.end();
}

// Both codes of Deflate are read: 32946 is what this library writes, 8 the
// code other writers use for the same coding.
bool PlainSupported(int32_t samples, int32_t bits, int32_t compression) {
  return (samples >= 1 && samples <= 4 && (bits == 8 || bits == 16) &&
          Among(compression, {COMPRESSION_NONE, COMPRESSION_LZW,
                              COMPRESSION_PACKBITS, COMPRESSION_DEFLATE,
                              COMPRESSION_ADOBE_DEFLATE, COMPRESSION_JPEG})) ||
         (bits == 1 && Among(compression, {COMPRESSION_CCITTRLE,
                                           COMPRESSION_CCITTFAX3,
                                           COMPRESSION_CCITTFAX4}));
}

bool IsGray(int32_t photometric) {
  return photometric == PHOTOMETRIC_MINISWHITE ||
         photometric == PHOTOMETRIC_MINISBLACK;
}

bool HasExtraSamples(TIFF* tif) {
  uint16_t count = 0;
  uint16_t* kinds = nullptr;
  return TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &count, &kinds) &&
         count > 0;
}

bool HasAssociatedAlpha(TIFF* tif) {
  uint16_t count = 0;
  uint16_t* kinds = nullptr;
  return TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &count, &kinds) &&
         count > 0 && kinds && kinds[0] == EXTRASAMPLE_ASSOCALPHA;
}

// A colour sample stored multiplied by its alpha, divided back (rounded,
// at most full scale). Without alpha or at full alpha it is as stored.
uint32_t Unpremultiply(uint32_t value, uint32_t alpha, uint32_t full) {
  if (alpha == 0 || alpha >= full) return value;
  return static_cast<uint32_t>(
      std::min<uint64_t>(full, (uint64_t{value} * full + alpha / 2) / alpha));
}

// Decides how TIFLoad reads an open file. Layouts the row reader cannot
// take (separate planes, tiles, YCbCr, CMYK, Lab, other bit depths) go to
// libtiff's RGBA reader, or are refused when it cannot take them either.
void ChooseReadMode(TifFileRec* h) {
  h->readMode = kReadNone;
  h->loadBits = 0;
  if (!h->supported) return;
  TIFF* tif = h->tif;
  uint16_t sampleFormat = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG;
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  if (sampleFormat != SAMPLEFORMAT_UINT) return;
  const bool rows = !TIFFIsTiled(tif) && planar == PLANARCONFIG_CONTIG;
  int32_t photometric = h->photometric;
  if (rows && h->compression == COMPRESSION_JPEG &&
      photometric == PHOTOMETRIC_YCBCR) {
    // The JPEG codec converts to RGB itself when asked.
    TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    photometric = PHOTOMETRIC_RGB;
    const tmsize_t scan = TIFFScanlineSize(tif);
    h->scanSize = scan > 0 && scan <= INT32_MAX ? static_cast<int32_t>(scan) : 0;
  }
  const int64_t width = h->width;
  const int32_t spp = h->samplesPerPixel, bps = h->bitsPerSample;
  const int64_t scan = h->scanSize;
  auto use = [&](int32_t mode, int32_t bits) {
    h->readMode = mode;
    h->loadBits = bits;
  };
  if (rows) {
    if (IsGray(photometric) && spp == 1 && bps == 1 && scan == (width + 7) / 8)
      use(kReadRows, 8);
    else if ((IsGray(photometric) || photometric == PHOTOMETRIC_PALETTE) &&
             spp == 1 && bps == 8 && scan == width)
      use(kReadRows, 8);
    else if (photometric == PHOTOMETRIC_RGB && (spp == 3 || spp == 4) &&
             bps == 8 && scan == width * spp)
      use(kReadRows, spp * 8);
    else if (IsGray(photometric) && spp == 2 && bps == 8 && scan == width * 2)
      use(kReadGrayAlpha, 32);
    else if (IsGray(photometric) && (spp == 1 || spp == 2) && bps == 16 &&
             scan == width * spp * 2)
      use(kReadGray16, spp == 1 ? 8 : 32);
    else if (photometric == PHOTOMETRIC_RGB && (spp == 3 || spp == 4) &&
             bps == 16 && scan == width * spp * 2)
      use(kReadHigh16, spp * 8);
    if (h->readMode != kReadNone) return;
  }
  char why[1024];
  if (TIFFRGBAImageOK(tif, why)) use(kReadRgba, HasExtraSamples(tif) ? 32 : 24);
}

// Closes the file of a handle on every way out of the routine holding it.
struct HandleCloser {
  TifFileRec* handle;
  ~HandleCloser() { TIFClose_(handle); }
};

struct TiffCloser {
  TIFF* tif = nullptr;
  ~TiffCloser() {
    if (tif) TIFFClose(tif);
  }
};

void ReadRow(TIFF* tif, void* row, int32_t line) {
  if (TIFFReadScanline(tif, row, static_cast<uint32_t>(line), 0) < 0)
    RaiseFailure(Errors::kErrImageDecompress, __LINE__);
}

void SetPalette(const TifFileRec& h, Qimg* image) {
  std::memset(image->palette, 0, sizeof image->palette);
  uint8_t* pal = image->palette;
  if (h.photometric == PHOTOMETRIC_PALETTE) {
    uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (!TIFFGetField(h.tif, TIFFTAG_COLORMAP, &red, &green, &blue) || !red ||
        !green || !blue) {
      Errors::ErrSet(Errors::kErrImageNotSupported, __LINE__);
      return;
    }
    const int32_t entries = h.bitsPerSample < 9 ? 1 << h.bitsPerSample : 256;
    const int shift = checkpal_(entries, red, green, blue) == 16 ? 8 : 0;
    for (int32_t i = 0; i < entries; i++) {
      pal[i * 3 + 0] = static_cast<uint8_t>(blue[i] >> shift);
      pal[i * 3 + 1] = static_cast<uint8_t>(green[i] >> shift);
      pal[i * 3 + 2] = static_cast<uint8_t>(red[i] >> shift);
    }
    return;
  }
  const bool whiteIsZero = h.photometric == PHOTOMETRIC_MINISWHITE;
  if (h.bitsPerSample == 1) {
    const uint8_t first = whiteIsZero ? 255 : 0;
    std::memset(pal, first, 3);
    std::memset(pal + 3, 255 - first, 3);
  } else if (whiteIsZero) {
    ImgBasic::PalMakeGreyInv(pal);
  } else {
    ImgBasic::PalMakeGrey(pal);
  }
}

void LoadRows(const TifFileRec& h, Qimg* image) {
  const int64_t stride = static_cast<int64_t>(h.width) * image->bytesPerPixel;
  for (int32_t y = 0; y < h.height; y++) {
    uint8_t* row = image->data + stride * y;
    ReadRow(h.tif, row, y);
    if (h.bitsPerSample == 1) TIFUnpackBits(row, h.width);
  }
  if (image->bytesPerPixel > 2) {
    const int64_t count = static_cast<int64_t>(h.width) * h.height;
    const bool unpremultiply = h.premultiplied && image->bytesPerPixel == 4;
    for (int64_t i = 0; i < count; i++) {
      uint8_t* p = image->data + i * image->bytesPerPixel;
      std::swap(p[0], p[2]);
      if (unpremultiply)
        for (int k = 0; k < 3; k++)
          p[k] = static_cast<uint8_t>(Unpremultiply(p[k], p[3], 255));
    }
  }
}

// 16-bit grey, optionally with alpha: the grey samples are stretched from
// [low, high] onto 0..255; an empty range keeps each sample's high byte.
void LoadGray16(const TifFileRec& h, Qimg* image) {
  const int32_t spp = h.samplesPerPixel;
  const int64_t pixels = static_cast<int64_t>(h.width) * h.height;
  uint16_t* samples = nullptr;
  Basic::MemAlloc(samples, static_cast<int64_t>(h.scanSize) * h.height,
                  __LINE__, Basic::kMemPlain, "FF_TIF.TIFLoad.buffer");
  for (int32_t y = 0; y < h.height; y++)
    ReadRow(h.tif, reinterpret_cast<uint8_t*>(samples) +
                       static_cast<int64_t>(h.scanSize) * y,
            y);
  if (h.premultiplied && spp == 2)
    for (int64_t i = 0; i < pixels; i++)
      samples[i * 2] =
          static_cast<uint16_t>(Unpremultiply(samples[i * 2], samples[i * 2 + 1], 65535));
  int32_t low = 0, high = 0;
  TIFMinMax16(samples, pixels, low, high, spp);
  if (g_grayLow != K_AUTO) low = g_grayLow;
  if (g_grayHigh != K_AUTO) high = g_grayHigh;
  const double scale = (static_cast<double>(high) - low) / 255.0;
  const bool invert = h.photometric == PHOTOMETRIC_MINISWHITE && spp == 2;
  for (int64_t i = 0; i < pixels; i++) {
    const uint16_t s = samples[i * spp];
    int32_t v;
    if (scale == 0) {
      v = s >> 8;
    } else {
      const double mapped = std::round((s - low) / scale);
      v = static_cast<int32_t>(std::clamp(mapped, 0.0, 255.0));
    }
    if (spp == 1) {
      image->data[i] = static_cast<uint8_t>(v);
    } else {
      uint8_t* o = image->data + i * 4;
      const uint8_t g = static_cast<uint8_t>(invert ? 255 - v : v);
      o[0] = o[1] = o[2] = g;
      o[3] = static_cast<uint8_t>(samples[i * spp + 1] >> 8);
    }
  }
  Basic::MemFree(samples);
}

// Rows read through a line buffer and turned into the image's layout.
template <class Convert>
void LoadThroughLine(const TifFileRec& h, Qimg* image, Convert convert) {
  uint8_t* line = nullptr;
  Basic::MemAlloc(line, h.scanSize, __LINE__, Basic::kMemPlain,
                  "FF_TIF.TIFLoad.line");
  const int64_t stride = static_cast<int64_t>(h.width) * image->bytesPerPixel;
  for (int32_t y = 0; y < h.height; y++) {
    ReadRow(h.tif, line, y);
    uint8_t* out = image->data + stride * y;
    for (int32_t x = 0; x < h.width; x++) convert(line, x, out);
  }
  Basic::MemFree(line);
}

void LoadRgba(const TifFileRec& h, Qimg* image) {
  uint32_t* raster = nullptr;
  Basic::MemAlloc(raster, static_cast<int64_t>(h.width) * h.height * 4,
                  __LINE__, Basic::kMemPlain, "FF_TIF.TIFLoad.raster");
  if (!TIFFReadRGBAImageOriented(h.tif, static_cast<uint32_t>(h.width),
                                 static_cast<uint32_t>(h.height), raster,
                                 ORIENTATION_TOPLEFT, 1))
    RaiseFailure(Errors::kErrImageDecompress, __LINE__);
  const int64_t pixels = static_cast<int64_t>(h.width) * h.height;
  const int32_t bpp = image->bytesPerPixel;
  for (int64_t i = 0; i < pixels; i++) {
    const uint32_t v = raster[i];
    uint8_t* o = image->data + i * bpp;
    uint32_t r = TIFFGetR(v), g = TIFFGetG(v), b = TIFFGetB(v);
    if (bpp == 4) {
      // The RGBA reader premultiplies; the image record keeps plain colours.
      const uint32_t a = TIFFGetA(v);
      r = Unpremultiply(r, a, 255);
      g = Unpremultiply(g, a, 255);
      b = Unpremultiply(b, a, 255);
      o[3] = static_cast<uint8_t>(a);
    }
    o[0] = static_cast<uint8_t>(b);
    o[1] = static_cast<uint8_t>(g);
    o[2] = static_cast<uint8_t>(r);
  }
  Basic::MemFree(raster);
}

const char* CompressionName(int32_t value) {
  switch (value) {
    case 1: return "Uncompressed";
    case 2: return "CCITT modified Huffman RLE";
    case 3: return "CCITT Group 3 fax encoding";
    case 4: return "CCITT Group 4 fax encoding";
    case 5: return "Variable-Length-Code LZW (Lempel-Ziv & Welch)";
    case 6: return "JPEG 6.0";
    case 7: return "JPEG DCT compression";
    case 32766: return "NeXT 2-bit RLE";
    case 32771: return "#1 w/ word alignment";
    case 32773: return "Macintosh RLE (PackBits)";
    case 32809: return "ThunderScan RLE";
    case 32895: return "IT8 CT w/padding";
    case 32896: return "IT8 Linework RLE";
    case 32897: return "IT8 Monochrome picture";
    case 32898: return "IT8 Binary line art";
    case 32908: return "Pixar companded 10bit LZW";
    case 32909: return "Pixar companded 11bit ZIP";
    case 32946: return "Deflate compression (modified LZ77)";
    case 32947: return "Kodak DCS encoding";
    case 34661: return "ISO JBIG";
    case 34676: return "SGI Log Luminance RLE";
    case 34677: return "SGI Log 24-bit packed";
    default: return "";
  }
}

void SetTag(TIFF* tif, bool ok) {
  (void)tif;
  if (!ok) RaiseFailure(Errors::kErrImageCompress, __LINE__);
}

// ---- raw tag reading ------------------------------------------------------

int32_t TypeSize(int32_t type) {
  switch (type) {
    case 1: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
  }
}

uint32_t Get16(const uint8_t* p, bool big) {
  return big ? (p[0] << 8 | p[1]) : (p[0] | p[1] << 8);
}

uint32_t Get32(const uint8_t* p, bool big) {
  return big ? (static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 |
                p[3])
             : (p[0] | p[1] << 8 | p[2] << 16 |
                static_cast<uint32_t>(p[3]) << 24);
}

// One value in the file's byte order to the caller's (little-endian) order.
void ValueToHostOrder(uint8_t* value, int32_t type, bool big) {
  if (!big) return;
  const int32_t size = TypeSize(type);
  if (size == 2) {
    std::reverse(value, value + 2);
  } else if (size == 4) {
    std::reverse(value, value + 4);
  } else if (type == 12) {
    std::reverse(value, value + 8);
  } else if (size == 8) {  // two 32-bit halves
    std::reverse(value, value + 4);
    std::reverse(value + 4, value + 8);
  }
}

// Reads count bytes at position when the file holds them all.
bool ReadAt(int32_t file, int64_t fileSize, int64_t position, void* buffer,
            int64_t count) {
  if (position < 0 || count < 0 || position + count > fileSize) return false;
  if (count == 0) return true;
  int64_t got = 0;
  Basic::FSeek(file, position);
  return Basic::FReadAvail(file, buffer, count, got);
}

}  // namespace

void TIFSetCompression(int32_t value) { g_compression = value; }
int32_t TIFGetCompression() { return g_compression; }

void TIFSetGrayRange(int32_t low, int32_t high) {
  Errors::TraceScope trace("FF_TIF.TIFSetGrayRange");
  g_grayLow = low;
  g_grayHigh = high;
}

void error_handler_(const char* message) {
  CodecCommon::StoreError(message);
}

void warning_handler_(const char* message) {
  CodecCommon::StoreWarning(message);
}

int32_t checkpal_(int32_t entries, const uint16_t* red, const uint16_t* green,
                  const uint16_t* blue) {
  for (int32_t i = 0; i < entries; i++)
    if (red[i] >= 256 || green[i] >= 256 || blue[i] >= 256) return 16;
  return 8;
}

void TIFGrayLine(const uint8_t* pixels, uint8_t* packed, int32_t width) {
  for (int32_t x = 0; x < width; x += 8) {
    uint8_t byte = 0;
    for (int32_t k = 0; k < 8 && x + k < width; k++) {
      const uint8_t* p = pixels + static_cast<int64_t>(x + k) * 3;
      const uint32_t luma = (p[2] * 9798u + p[1] * 19235u + p[0] * 3735u) >> 15;
      if (luma >= 128) byte |= static_cast<uint8_t>(0x80 >> k);
    }
    packed[x / 8] = byte;
  }
}

void TIFUnpackBits(uint8_t* pixels, int32_t count) {
  for (int32_t i = count - 1; i >= 0; i--)
    pixels[i] = (pixels[i / 8] >> (7 - i % 8)) & 1;
}

void TIFMinMax16(const uint16_t* samples, int64_t count, int32_t& low,
                 int32_t& high, int32_t stride) {
  low = 65535;
  high = 0;
  for (int64_t i = 0; i < count; i++) {
    const int32_t s = samples[i * stride];
    low = std::min(low, s);
    high = std::max(high, s);
  }
  if (count <= 0) low = high = 0;
}

void TIFOpen_(TifFileRec* handle, const std::string& fileName) {
  Errors::Monitored("FF_TIF.TIFOpen_", [&] {
    *handle = TifFileRec{};
    ExternErrorSet(error_handler_);
    ExternWarningSet(warning_handler_);
    CodecCommon::ClearMessages();
    Basic::SetLastFileName(fileName);
    TIFF* tif = TIFFOpen(fileName.c_str(), "r");
    if (!tif) {
      RaiseFailure(Errors::kErrImageOpen, __LINE__);
      return;
    }
    handle->tif = tif;
    uint32_t width = 0, height = 0;
    uint16_t compression = 0, photometric = 0, bits = 0, samples = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    const tmsize_t scan = TIFFScanlineSize(tif);
    handle->width = width <= INT32_MAX ? static_cast<int32_t>(width) : 0;
    handle->height = height <= INT32_MAX ? static_cast<int32_t>(height) : 0;
    handle->scanSize =
        scan > 0 && scan <= INT32_MAX ? static_cast<int32_t>(scan) : 0;
    handle->bitsPerSample = bits;
    handle->samplesPerPixel = samples;
    handle->compression = compression;
    handle->photometric = photometric;
    handle->premultiplied = HasAssociatedAlpha(tif);
    handle->supported = handle->width > 0 && handle->height > 0 &&
                        PlainSupported(samples, bits, compression);
    // libtiff takes a palette file whose colour map it cannot read for grey
    // (with only a warning); such a file is damaged, not grey.
    uint16_t stored = 0;
    if (photometric != PHOTOMETRIC_PALETTE &&
        TIFGetTag(fileName, TIFFTAG_PHOTOMETRIC, &stored, 2) == 2 &&
        stored == PHOTOMETRIC_PALETTE)
      handle->supported = false;
    ChooseReadMode(handle);
  });
}

void TIFCreate_(TIFF** tif, const std::string& fileName) {
  Errors::Monitored("FF_TIF.TIFCreate_", [&] {
    ExternErrorSet(error_handler_);
    ExternWarningSet(warning_handler_);
    CodecCommon::ClearMessages();
    Basic::SetLastFileName(fileName);
    *tif = TIFFOpen(fileName.c_str(), "w");
    if (!*tif) RaiseFailure(Errors::kErrImageCreate, __LINE__);
  });
}

void TIFClose_(TifFileRec* handle) {
  Errors::TraceScope trace("FF_TIF.TIFClose_");
  if (handle->tif) TIFFClose(handle->tif);
  handle->tif = nullptr;
}

void TIFLoad(const std::string& fileName, Qimg* image) {
  Errors::Monitored("FF_TIF.TIFLoad", [&] {
    TifFileRec h;
    HandleCloser closer{&h};
    TIFOpen_(&h, fileName);
    if (h.readMode == kReadNone) {
      CodecCommon::PassWarnings(__LINE__);  // they may say why
      Errors::ErrSet(Errors::kErrImageNotSupported, __LINE__);
      return;
    }
    if (FFBasic::FFCapImage(h.width, h.height, h.loadBits, 2, __LINE__) < 0) return;
    ImgBasic::_imgalloc_(image, h.width, h.height, "FF_TIF.TIFLoad.image",
                         __LINE__, h.loadBits);
    if (h.loadBits == 8) SetPalette(h, image);
    const bool whiteIsZero = h.photometric == PHOTOMETRIC_MINISWHITE;
    switch (h.readMode) {
      case kReadRows:
        LoadRows(h, image);
        break;
      case kReadGray16:
        LoadGray16(h, image);
        break;
      case kReadHigh16: {
        const int32_t spp = h.samplesPerPixel;
        // Associated alpha is divided out at full precision, before the
        // samples lose their low bytes.
        const bool unpremultiply = h.premultiplied && spp == 4;
        LoadThroughLine(h, image, [spp, unpremultiply](const uint8_t* line, int32_t x,
                                                       uint8_t* out) {
          const auto* s = reinterpret_cast<const uint16_t*>(line) +
                          static_cast<int64_t>(x) * spp;
          uint8_t* o = out + static_cast<int64_t>(x) * spp;
          const uint32_t alpha = unpremultiply ? s[3] : 65535;
          for (int k = 0; k < 3; k++)
            o[2 - k] = static_cast<uint8_t>(Unpremultiply(s[k], alpha, 65535) >> 8);
          if (spp == 4) o[3] = static_cast<uint8_t>(s[3] >> 8);
        });
        break;
      }
      case kReadGrayAlpha: {
        const bool premultiplied = h.premultiplied;
        LoadThroughLine(h, image, [whiteIsZero, premultiplied](const uint8_t* line,
                                                               int32_t x, uint8_t* out) {
          const uint8_t* s = line + static_cast<int64_t>(x) * 2;
          uint8_t* o = out + static_cast<int64_t>(x) * 4;
          const uint8_t grey =
              static_cast<uint8_t>(premultiplied ? Unpremultiply(s[0], s[1], 255) : s[0]);
          o[0] = o[1] = o[2] = whiteIsZero ? 255 - grey : grey;
          o[3] = s[1];
        });
        break;
      }
      default:
        LoadRgba(h, image);
        break;
    }
    TIFClose_(&h);
    CodecCommon::PassWarnings(__LINE__);
  });
}

void TIFSave(const std::string& fileName, Qimg* image) {
  Errors::Monitored("FF_TIF.TIFSave", [&] {
    FFBasic::FFInitRec prep;
    FFBasic::FFInit(ConForm::kFmtTIFF, &prep, image, 1);
    int32_t compression = g_compression;
    if (!Among(compression, {1, 5, 32773, 32946, 7, 2, 3, 4})) compression = 1;
    const bool bilevel = compression >= 2 && compression <= 4;
    Qimg* img = prep.image;
    // Bilevel rows are packed from 24-bit pixels, and the JPEG coding holds
    // neither a palette nor alpha (readers take a fourth JPEG component for
    // colour): both get a 24-bit copy.
    Qimg rgb;
    if ((bilevel || compression == COMPRESSION_JPEG) &&
        img->bitsPerPixel != 24) {
      ImgBasic::ImgConvBpp(img, &rgb, 24);
      img = &rgb;
    }
    // A 32-bit image without any alpha is written as the opaque RGB it is.
    const int32_t spp = FFBasic::AlphaAllZero(img) ? 3 : img->bytesPerPixel;

    TiffCloser out;
    TIFCreate_(&out.tif, fileName);
    FFBasic::FFDeleteOnFailure(fileName);
    TIFF* tif = out.tif;
    const uint32_t w = static_cast<uint32_t>(img->width);
    const uint32_t h = static_cast<uint32_t>(img->height);
    SetTag(tif, TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h));
    SetTag(tif, TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w));
    SetTag(tif, TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bilevel ? 1 : 8));
    SetTag(tif, TIFFSetField(tif, TIFFTAG_COMPRESSION, compression));
    SetTag(tif, TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT));
    int64_t rowBytes;
    if (bilevel) {
      rowBytes = (static_cast<int64_t>(w) + 7) / 8;
    } else {
      SetTag(tif, TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spp));
      rowBytes = static_cast<int64_t>(w) * spp;
    }
    const int64_t rowsPerStrip =
        compression == COMPRESSION_JPEG || rowBytes > 8192 ? 8
                                                           : 8192 / rowBytes;
    SetTag(tif, TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP,
                             static_cast<uint32_t>(rowsPerStrip)));
    SetTag(tif, TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG));
    if (bilevel) {
      SetTag(tif, TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK));
    } else if (spp == 1) {
      uint16_t map[3][256];
      for (int i = 0; i < 256; i++) {
        map[0][i] = static_cast<uint16_t>(img->palette[i * 3 + 2] * 257);
        map[1][i] = static_cast<uint16_t>(img->palette[i * 3 + 1] * 257);
        map[2][i] = static_cast<uint16_t>(img->palette[i * 3 + 0] * 257);
      }
      SetTag(tif, TIFFSetField(tif, TIFFTAG_COLORMAP, map[0], map[1], map[2]));
      SetTag(tif, TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE));
    } else {
      SetTag(tif, TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB));
      if (spp == 4) {
        // Readers take the fourth sample for alpha only when told so.
        const uint16_t kind = EXTRASAMPLE_UNASSALPHA;
        SetTag(tif, TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &kind));
      }
    }

    uint8_t* line = nullptr;
    Basic::MemAlloc(line, rowBytes, __LINE__, Basic::kMemPlain,
                    "FF_TIF.TIFSave.line");
    const int64_t stride = static_cast<int64_t>(w) * img->bytesPerPixel;
    for (uint32_t y = 0; y < h; y++) {
      const uint8_t* row = img->data + stride * y;
      if (bilevel) {
        TIFGrayLine(row, line, img->width);
      } else if (spp == 1) {
        std::memcpy(line, row, static_cast<size_t>(rowBytes));
      } else {
        for (uint32_t x = 0; x < w; x++) {
          const uint8_t* p = row + static_cast<int64_t>(x) * img->bytesPerPixel;
          uint8_t* o = line + static_cast<int64_t>(x) * spp;
          o[0] = p[2];
          o[1] = p[1];
          o[2] = p[0];
          if (spp == 4) o[3] = p[3];
        }
      }
      if (TIFFWriteScanline(tif, line, y, 0) < 0)
        RaiseFailure(Errors::kErrImageCompress, __LINE__);
    }
    if (!TIFFFlush(tif)) RaiseFailure(Errors::kErrImageCompress, __LINE__);
    TIFFClose(tif);
    out.tif = nullptr;
    Basic::MemFree(line);
    if (img == &rgb) ImgBasic::ImgFree(&rgb);
    FFBasic::FFDone(&prep);
    CodecCommon::PassWarnings(__LINE__);
  });
}

void TIFInfo(const std::string& fileName, ConForm::FFInfoRec* info) {
  Errors::Monitored("FF_TIF.TIFInfo", [&] {
    TifFileRec h;
    HandleCloser closer{&h};
    TIFOpen_(&h, fileName);
    // The depth the loader delivers; for a file it cannot read, what the
    // file's samples add up to (two 16-bit fields: the product is taken in
    // 64 bits and held to a size the record's fields can carry).
    const int64_t fileBits =
        h.bitsPerSample == 16 ? int64_t{h.samplesPerPixel} * 8
                              : int64_t{h.bitsPerSample} * h.samplesPerPixel;
    const int32_t bits =
        h.readMode != kReadNone
            ? h.loadBits
            : static_cast<int32_t>(std::min<int64_t>(fileBits, INT32_MAX / 2));
    ConForm::FFInfoStill(info, Basic::FSize64(fileName), h.width, h.height,
                         (bits + 7) / 8, bits, CompressionName(h.compression),
                         h.width > 0, h.readMode != kReadNone);
    TIFClose_(&h);
    CodecCommon::PassWarnings(__LINE__);
  });
}

int32_t TIFGetTag(const std::string& fileName, int32_t tag, void* buffer,
                  int32_t bufferSize) {
  int32_t result = 0;
  Errors::Monitored("FF_TIF.TIFGetTag", [&] {
    if (bufferSize <= 0) return;
    int32_t file = 0;
    Basic::FOpen(file, fileName, Basic::kOpenRead);
    const int64_t size = Basic::FSize(file);
    uint8_t header[8];
    bool big = false;
    uint32_t dir = 0, count = 0;
    uint8_t two[2];
    bool ok = ReadAt(file, size, 0, header, 8);
    if (ok) {
      big = header[0] == 'M' && header[1] == 'M';
      ok = (big || (header[0] == 'I' && header[1] == 'I')) &&
           Get16(header + 2, big) == 42;
    }
    if (ok) {
      dir = Get32(header + 4, big);
      ok = ReadAt(file, size, dir, two, 2);
      count = Get16(two, big);
    }
    for (uint32_t i = 0; ok && i < count; i++) {
      uint8_t entry[12];
      if (!ReadAt(file, size, static_cast<int64_t>(dir) + 2 + 12 * i, entry, 12))
        break;
      const int32_t entryTag = static_cast<int32_t>(Get16(entry, big));
      const int32_t type = static_cast<int32_t>(Get16(entry + 2, big));
      const uint32_t values = Get32(entry + 4, big);
      if (entryTag != 34071 && entryTag != tag) continue;
      if (entryTag == 34071) {
        const int64_t n = std::min<int64_t>(values, bufferSize);
        if (!buffer) {
          result = static_cast<int32_t>(n);
        } else if (n <= 4) {
          std::memcpy(buffer, entry + 8, static_cast<size_t>(n));
          result = static_cast<int32_t>(n);
        } else if (ReadAt(file, size, Get32(entry + 8, big), buffer, n)) {
          result = static_cast<int32_t>(n);
        }
        break;
      }
      const int32_t one = TypeSize(type);
      const int32_t n = std::min(one, bufferSize);
      if (!buffer || n == 0) {
        result = n;
        break;
      }
      // A value that does not fit the entry's four bytes lies at its offset;
      // an entry that counts no values gives zeros.
      uint8_t value[8] = {};
      const bool inline4 = static_cast<int64_t>(one) * values <= 4;
      if (values > 0) {
        if (inline4)
          std::memcpy(value, entry + 8, static_cast<size_t>(one));
        else if (!ReadAt(file, size, Get32(entry + 8, big), value, one))
          break;
      }
      ValueToHostOrder(value, type, big);
      std::memcpy(buffer, value, static_cast<size_t>(n));
      result = n;
      break;
    }
    Basic::FClose(file);
  });
  return result;
}

}  // namespace FF_TIF
