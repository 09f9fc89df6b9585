#include "formats/ConForm.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "formats/FFBasic.h"
#include "formats/FF_AVI.h"
#include "formats/FF_BAY.h"
#include "formats/FF_FLC.h"
#include "formats/FF_GIF.h"
#include "formats/FF_JPG.h"
#include "formats/FF_KWB.h"
#include "formats/FF_PNG.h"
#include "formats/FF_PNM.h"
#include "formats/FF_RAS.h"
#include "formats/FF_SGI.h"
#include "formats/FF_MPG.h"
#include "formats/FF_OGG.h"
#include "formats/FF_TIF.h"
#include "formats/FF_WAV.h"
#include "formats/FF_XPM.h"
#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"
#include "platform/Modules.h"

using Basic::K_AUTO;
using Errors::ErrSet;
using FFBasic::FFReader;
using ImgBasic::Qimg;

namespace ConForm {
namespace {

// ---- the registry ---------------------------------------------------------

struct TableRowDef {
  int32_t id;
  int32_t flags;
  const char* extensions;
  const char* shortName;
  const char* description;
  const char* filter;
};

// Probing order.
constexpr TableRowDef kLoadRows[19] = {
    {7, 26, ".kwb", "KWB", "Kinetic Wave Bundle", "KWB, Kinetic Wave Bundle"},
    {4, 11, ".gif", "GIF", "Graphics Interchange Format",
     "GIF, Graphics Interchange Format"},
    {3, 9, ".bmp.dib.rle", "BMP", "Windows Device Independent Bitmap",
     "BMP/DIB, Windows Device Independent Bitmap"},
    {5, 10, ".flc.fli", "FLIC", "Autodesk FLIC", "FLIC/FLIC-Pro, Autodesk"},
    {14, 9, ".ras.sun.im1", "RGB", "Sun Raster Image", "RAS, Sun Raster Image"},
    {13, 9, ".rgb.rgba.bw.sgi", "SGI", "Silicon Graphics Image",
     "RGB, Silicon Graphics Image"},
    {15, 9, ".pnm.ppm.pgm", "PNM", "Portable Image", "PNM, Portable Image"},
    {2, 9, ".pcx", "PCX", "Zsoft Paintbrush", "PCX, Zsoft Paintbrush"},
    {9, 9, ".png", "PNG", "Portable Network Graphics",
     "PNG, Portable Network Graphics"},
    {6, 26, ".avi.ivf", "AVI", "Windows Audio Video Interleaved",
     "AVI, Windows Audio Video Interleaved"},
    {12, 20, ".wav", "WAV", "Windows Wave Sound", "WAV, Windows Wave Sound"},
    {8, 9, ".jpg.jpeg.jfif.jpe", "JPEG", "Joint Photographic Experts Group",
     "JPEG, Joint Photographic Experts Group"},
    {10, 9, ".tif.tiff", "TIFF", "Tagged Image File Format",
     "TIFF, Tagged Image File Format"},
    {11, 26, ".mpg.mpeg.m1v.m2v.mpe.dat", "MPEG",
     "Moving Pictures Experts Group", "MPEG, Moving Pictures Experts Group"},
    {1, 9, ".tga", "TGA", "Truevision Targa", "TGA, Truevision Targa"},
    {16, 9, ".bay", "BAY", "Bayer Image", "BAY, Bayer Image"},
    {17, 9, ".xpm", "XPM", "X PixMap", "XPM, X PixMap"},
    {18, 20, ".mp3.mp2.m2a.mpa", "MPA", "MPEG Audio Layer I/II/III",
     "MP3/MPA, MPEG Audio Layer I/II/III"},
    {19, 20, ".ogg", "OGG", "Ogg Vorbis Audio", "OGG, Ogg Vorbis Audio"},
};

constexpr TableRowDef kSaveRows[17] = {
    {6, 26, ".avi", "AVI", "Windows Audio Video Interleaved",
     "AVI, Windows Audio Video Interleaved"},
    {3, 9, ".bmp.dib", "BMP", "Windows Device Independent Bitmap",
     "BMP/DIB, Windows Device Independent Bitmap"},
    {5, 10, ".flc", "FLIC", "Autodesk FLIC", "FLIC/FLIC-Pro, Autodesk"},
    {7, 26, ".kwb", "KWB", "Kinetic Wave Bundle", "KWB, Kinetic Wave Bundle"},
    {8, 9, ".jpg.jpeg", "JPEG", "Joint Photographic Experts Group",
     "JPEG, Joint Photographic Experts Group"},
    {2, 9, ".pcx", "PCX", "Zsoft Paintbrush", "PCX, Zsoft Paintbrush"},
    {9, 9, ".png", "PNG", "Portable Network Graphics",
     "PNG, Portable Network Graphics"},
    {1, 9, ".tga", "TGA", "Truevision Targa", "TGA, Truevision Targa"},
    {11, 26, ".mpg.mpeg.m1v.m2v.dat", "MPEG", "Moving Pictures Experts Group",
     "MPEG, Moving Pictures Experts Group"},
    {12, 20, ".wav", "WAV", "Windows Wave Sound", "WAV, Windows Wave Sound"},
    {13, 9, ".rgb.sgi", "SGI", "Silicon Graphics Image",
     "RGB, Silicon Graphics Image"},
    {14, 9, ".ras.sun.im1", "RGB", "Sun Raster Image", "RAS, Sun Raster Image"},
    {15, 9, ".ppm.pnm", "PPM", "Portable PixelMap", "PPM, Portable PixelMap"},
    {10, 9, ".tif.tiff", "TIFF", "Tagged Image File Format",
     "TIFF, Tagged Image File Format"},
    {17, 9, ".xpm", "XPM", "X PixMap", "XPM, X PixMap"},
    {18, 20, ".mp2", "MPA", "MPEG Audio Layer II", "MP2, MPEG Audio Layer II"},
    {19, 20, ".ogg", "OGG", "Ogg Vorbis Audio", "OGG, Ogg Vorbis Audio"},
};

using InfoFn = void (*)(const std::string&, FFInfoRec*);
using LoadFn = void (*)(const std::string&, Qimg*);
using SaveFn = void (*)(const std::string&, Qimg*);

// What the library does with each format identifier. A routine marked
// pending belongs to a format whose codec is not part of this build yet and
// answers "Not supported."; a missing one that is not pending is not part of
// the format at all (the dispatch's own error).
struct Codec {
  int32_t id;
  InfoFn info;
  bool infoPending;
  LoadFn load;
  bool loadPending;
  SaveFn save;
  bool savePending;
};

// The format layer describes a GIF with all its frames.
void GIFInfoAll(const std::string& name, FFInfoRec* info) {
  FF_GIF::GIFInfo(name, info, true);
}

// A GIF as a still image is its first frame, with the alpha image made from
// its transparent index. The decode is skipped when the open failed.
void GIFLoadFirst(const std::string& name, Qimg* image, Qimg* alpha) {
  FF_GIF::GifFile gif;
  FF_GIF::GIFOpen(&gif, name, true);
  FF_GIF::GIFLoadNext(&gif, image, alpha);
  FF_GIF::GIFClose(&gif);
}

void GIFLoadStill(const std::string& name, Qimg* image) {
  GIFLoadFirst(name, image, nullptr);
}

// The MPEG scans report progress; FFInfo passes the host's function to them
// itself, so the table holds the call without one.
void MpgInfoNoProgress(const std::string& name, FFInfoRec* info) {
  FF_MPG::MpgInfo(name, info, nullptr, nullptr);
}

constexpr Codec kCodecs[19] = {
    {kFmtTGA, TGAInfo, false, TGALoad_, false, TGASave_, false},
    {kFmtPCX, PCXInfo, false, PCXLoad_, false, PCXSave_, false},
    {kFmtBMP, DIBInfo, false, DIBLoad_, false, DIBSave_, false},
    {kFmtGIF, GIFInfoAll, false, GIFLoadStill, false, nullptr, false},
    {kFmtFLC, FF_FLC::FLCInfo, false, nullptr, false, nullptr, false},
    {kFmtAVI, FF_AVI::AviInfo, false, nullptr, false, nullptr, false},
    {kFmtKWB, FF_KWB::KWBInfo, false, nullptr, false, nullptr, false},
    {kFmtJPEG, FF_JPG::JPGInfo, false, FF_JPG::JPGLoad, false, FF_JPG::JPGSave,
     false},
    {kFmtPNG, FF_PNG::PNGInfo, false, FF_PNG::PNGLoad, false, FF_PNG::PNGSave,
     false},
    {kFmtTIFF, FF_TIF::TIFInfo, false, FF_TIF::TIFLoad, false, FF_TIF::TIFSave,
     false},
    {kFmtMPEG, MpgInfoNoProgress, false, nullptr, false, nullptr, false},
    {kFmtWAV, FF_WAV::WAVInfo, false, nullptr, false, nullptr, false},
    {kFmtSGI, FF_SGI::SGIInfo, false, FF_SGI::SGILoad, false, FF_SGI::SGISave,
     false},
    {kFmtRAS, FF_RAS::RASInfo, false, FF_RAS::RASLoad, false, FF_RAS::RASSave,
     false},
    {kFmtPNM, FF_PNM::PNMInfo, false, FF_PNM::PNMLoad, false, FF_PNM::PNMSave,
     false},
    {kFmtBAY, FF_BAY::BayInfo, false, FF_BAY::BayLoad, false, nullptr, false},
    {kFmtXPM, FF_XPM::XPMInfo, false, FF_XPM::XPMLoad, false, FF_XPM::XPMSave,
     false},
    {kFmtMPA, MpgInfoNoProgress, false, nullptr, false, nullptr, false},
    {kFmtOGG, FF_OGG::OggInfo, false, nullptr, false, nullptr, false},
};

const Codec* FindCodec(int32_t id) {
  for (const Codec& c : kCodecs)
    if (c.id == id) return &c;
  return nullptr;
}

FileFmtTable MakeRow(const TableRowDef& d) {
  FileFmtTable row;
  row.id = d.id;
  row.flags = d.flags;
  row.extensions = d.extensions;
  row.shortName = d.shortName;
  row.description = d.description;
  row.filter = d.filter;
  return row;
}

const char* kRleName = "Run Length Encoding (RLE)";

bool tgaCompression = true;

// ---- raw still files ------------------------------------------------------

// One TGA, PCX or BMP file while it is read.
struct RawImgFile {
  int32_t file = 0;
  int32_t width = 0, height = 0;
  int32_t bytesPerPixel = 0, bitsPerPixel = 0;
  int64_t fileSize = 0;
  int64_t palOffset = 0, palSize = 0;
  int64_t dataOffset = 0;
  int32_t palEntrySize = 0, palFirst = 0;
  int64_t rowBytes = 0, imageBytes = 0;
  bool compressed = false, readable = false, bottomUp = false, os2 = false;
  bool rightToLeft = false;   // TGA
  // format details
  int32_t mapType = 0;        // TGA
  int32_t mapLength = 0;      // TGA
  int32_t planes = 0;         // PCX
  int32_t bytesPerLine = 0;   // PCX
};

void SetRawDims(RawImgFile* f, int32_t width, int32_t height, int32_t bits) {
  f->width = width;
  f->height = height;
  f->bitsPerPixel = bits;
  f->bytesPerPixel = (bits + 7) / 8;
  if (bits == 1)
    f->rowBytes = (static_cast<int64_t>(width) + 7) / 8;
  else if (bits == 4)
    f->rowBytes = (static_cast<int64_t>(width) + 1) / 2;
  else
    f->rowBytes = static_cast<int64_t>(width) * f->bytesPerPixel;
  // Header values can be anything: the product saturates.
  f->imageBytes = (f->rowBytes <= 0 || height <= 0) ? 0
                  : f->rowBytes > INT64_MAX / height ? INT64_MAX
                                                     : f->rowBytes * height;
}

// Reads height rows of rowBytes, each followed by pad bytes on disk, into
// dest; a bottom-up file fills dest from its last row upwards.
void Dsk2Mem_(RawImgFile* f, uint8_t* dest, int64_t pad) {
  Errors::Monitored("ConForm.Dsk2Mem_", [&] {
    FFReader r(f->file, 9);
    for (int64_t row = 0; row < f->height; row++) {
      const int64_t target = f->bottomUp ? f->height - 1 - row : row;
      if (!r.Seek(f->dataOffset + row * (f->rowBytes + pad))) return;
      if (!r.Read(dest + target * f->rowBytes, f->rowBytes)) return;
    }
  });
}

// Writes the rows of a prepared image from the last to the first, each
// followed by pad zero bytes.
void Mem2Dsk_(int32_t file, const Qimg* image, int64_t pad) {
  Errors::Monitored("ConForm.Mem2Dsk_", [&] {
    const int64_t row =
        static_cast<int64_t>(image->width) * image->bytesPerPixel;
    const uint8_t zeros[4] = {0, 0, 0, 0};
    for (int64_t y = image->height - 1; y >= 0; y--) {
      Basic::FWrite(file, image->data + y * row, row);
      if (pad > 0) Basic::FWrite(file, zeros, pad);
    }
  });
}

// Reads everything from the data offset to the end of the file into a new
// tracked block owned by *block.
int64_t GetCmpsData_(RawImgFile* f, uint8_t** block) {
  int64_t size = 0;
  Errors::Monitored("ConForm.GetCmpsData_", [&] {
    FFReader r(f->file, 3);
    if (!r.Seek(f->dataOffset)) return;
    size = FFBasic::FFCapSize(r.Left(), 3, __LINE__);
    if (size < 0) return;
    Basic::MemAlloc(*block, std::max<int64_t>(size, 1), __LINE__,
                    Basic::kMemPlain, "ConForm.GetCmpsData_.buffer");
    r.Read(*block, size);
  });
  return size;
}

// ---- TGA ------------------------------------------------------------------

void TGAOpen_(RawImgFile* f, const std::string& name) {
  Errors::Monitored("ConForm.TGAOpen_", [&] {
    *f = RawImgFile{};
    Basic::FOpen(f->file, name, Basic::kOpenRead);
    FFReader r(f->file, 2);
    uint8_t h[18];
    if (!r.Read(h, 18)) return;
    f->fileSize = r.Size();
    const int32_t idLength = h[0];
    f->mapType = h[1];
    const int32_t type = h[2];
    f->palFirst = h[3] | (h[4] << 8);
    f->mapLength = h[5] | (h[6] << 8);
    f->palEntrySize = (h[7] + 7) / 8;
    const int32_t width = h[12] | (h[13] << 8);
    const int32_t height = h[14] | (h[15] << 8);
    int32_t depth = h[16];
    if (type != 1 && type != 2 && type != 9 && type != 10) {
      ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    f->compressed = type >= 9;
    if (depth == 16) depth = 15;
    SetRawDims(f, width, height, depth);
    f->readable = (depth == 8 || depth == 15 || depth == 24 || depth == 32) &&
                  width > 0 && height > 0;
    f->bottomUp = (h[17] & 0x20) == 0;
    f->rightToLeft = (h[17] & 0x10) != 0;
    f->palOffset = 18 + idLength;
    f->palSize = f->mapType != 0
                     ? static_cast<int64_t>(f->mapLength) * f->palEntrySize
                     : 0;
    f->dataOffset = f->palOffset + f->palSize;
  });
}

// Unpacks run-length packets of bytesPerPixel-byte pixels until the image is
// full; running out of packets first is corrupt data.
void TGAUnpackRLE(const uint8_t* block, int64_t size, Qimg* image) {
  FFReader r(block, size, 3);
  const int32_t bpp = image->bytesPerPixel;
  const int64_t total = static_cast<int64_t>(image->width) * image->height;
  int64_t done = 0;
  while (done < total && !r.Failed()) {
    const uint8_t header = r.U8();
    const int64_t count = std::min<int64_t>((header & 127) + 1, total - done);
    uint8_t* out = image->data + done * bpp;
    if (header & 0x80) {
      uint8_t pixel[4] = {};
      if (!r.Read(pixel, bpp)) return;
      for (int64_t k = 0; k < count; k++)
        std::memcpy(out + k * bpp, pixel, static_cast<size_t>(bpp));
    } else if (!r.Read(out, count * bpp)) {
      return;
    }
    done += count;
  }
}

// Turns rows stored right to left in place, a pixel at a time at the file's
// own depth: the image flip would bring every depth but 8 bits to 24 and so
// drop a 32-bit file's alpha and a 15-bit file's depth.
void TGAReverseRows_(Qimg* image) {
  const int64_t bpp = image->bytesPerPixel;
  const int64_t w = image->width;
  for (int64_t y = 0; y < image->height; y++) {
    uint8_t* row = image->data + y * w * bpp;
    for (int64_t x = 0; x < w / 2; x++)
      Basic::MemSwap(bpp, row + x * bpp, row + (w - 1 - x) * bpp);
  }
}

// Packs one row of pixels into TGA packets; returns the packed length.
int64_t TGAPackRow(const uint8_t* row, int64_t count, int32_t bpp,
                   uint8_t* out) {
  int64_t o = 0, i = 0;
  auto same = [&](int64_t a, int64_t b) {
    return std::memcmp(row + a * bpp, row + b * bpp, static_cast<size_t>(bpp)) ==
           0;
  };
  while (i < count) {
    int64_t run = 1;
    while (i + run < count && run < 128 && same(i, i + run)) run++;
    if (run >= 2) {
      out[o++] = static_cast<uint8_t>(128 + run - 1);
      std::memcpy(out + o, row + i * bpp, static_cast<size_t>(bpp));
      o += bpp;
      i += run;
      continue;
    }
    int64_t n = 0;
    while (i + n < count && n < 128 &&
           !(i + n + 1 < count && same(i + n, i + n + 1)))
      n++;
    if (n == 0) n = 1;
    out[o++] = static_cast<uint8_t>(n - 1);
    std::memcpy(out + o, row + i * bpp, static_cast<size_t>(n * bpp));
    o += n * bpp;
    i += n;
  }
  return o;
}

// ---- PCX ------------------------------------------------------------------

void PCXOpen_(RawImgFile* f, const std::string& name) {
  Errors::Monitored("ConForm.PCXOpen_", [&] {
    *f = RawImgFile{};
    Basic::FOpen(f->file, name, Basic::kOpenRead);
    FFReader r(f->file, 2);
    uint8_t h[128];
    if (!r.Read(h, 128)) return;
    f->fileSize = r.Size();
    if (h[0] != 10) {
      ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    const int32_t encoding = h[2];
    const int32_t bitsPerPlane = h[3];
    const int32_t xmin = h[4] | (h[5] << 8), ymin = h[6] | (h[7] << 8);
    const int32_t xmax = h[8] | (h[9] << 8), ymax = h[10] | (h[11] << 8);
    f->planes = h[65];
    f->bytesPerLine = h[66] | (h[67] << 8);
    const int32_t width = xmax - xmin + 1, height = ymax - ymin + 1;
    SetRawDims(f, width, height, f->planes * 8);
    // Each plane of a scan line takes bytes-per-line bytes, so that field
    // must hold the width.
    f->readable = bitsPerPlane == 8 && (f->planes == 1 || f->planes == 3) &&
                  encoding == 1 && width > 0 && height > 0 &&
                  f->bytesPerLine >= width;
    f->compressed = true;
    f->dataOffset = 128;
  });
}

// Decodes PCX run-length data until the output is full; runs are cut at the
// output's end, and input that ends first is corrupt data.
void PCXunCmps_(const uint8_t* block, int64_t size, uint8_t* out,
                int64_t total) {
  Errors::Monitored("ConForm.PCXunCmps_", [&] {
    FFReader r(block, size, 3);
    int64_t o = 0;
    while (o < total) {
      const uint8_t b = r.U8();
      if (r.Failed()) return;
      if (b >= 192) {
        const int64_t n = std::min<int64_t>(b & 63, total - o);
        const uint8_t v = r.U8();
        if (r.Failed()) return;
        std::memset(out + o, v, static_cast<size_t>(n));
        o += n;
      } else {
        out[o++] = b;
      }
    }
  });
}

// Packs a scan line: runs of up to 63 equal bytes, single bytes of 192 or
// more escaped as a run of one.
int64_t PCXPackLine(const uint8_t* line, int64_t count, uint8_t* out) {
  int64_t o = 0, i = 0;
  while (i < count) {
    int64_t run = 1;
    while (i + run < count && run < 63 && line[i + run] == line[i]) run++;
    if (run >= 2 || line[i] >= 192) {
      out[o++] = static_cast<uint8_t>(192 + run);
      out[o++] = line[i];
    } else {
      out[o++] = line[i];
    }
    i += run;
  }
  return o;
}

// ---- BMP ------------------------------------------------------------------

void DIBOpen_(RawImgFile* f, const std::string& name) {
  Errors::Monitored("ConForm.DIBOpen_", [&] {
    *f = RawImgFile{};
    Basic::FOpen(f->file, name, Basic::kOpenRead);
    FFReader r(f->file, 2);
    uint8_t h[18];
    if (!r.Read(h, 18)) return;
    f->fileSize = r.Size();
    if (h[0] != 'B' || h[1] != 'M') {
      ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    f->dataOffset = h[10] | (h[11] << 8) | (h[12] << 16) |
                    (static_cast<int64_t>(h[13]) << 24);
    const int64_t headerSize = h[14] | (h[15] << 8) | (h[16] << 16) |
                               (static_cast<int64_t>(h[17]) << 24);
    int64_t width = 0, height = 0;
    int32_t bits = 0;
    uint32_t compression = 0;
    int64_t palMax;
    bool layoutKnown = true;
    if (headerSize == 12) {
      f->os2 = true;
      width = r.U16L();
      height = r.U16L();
      r.U16L();
      bits = r.U16L();
      f->palEntrySize = 3;
      palMax = 768;
    } else {
      uint8_t b[36];
      if (!r.Read(b, 36)) return;
      width = static_cast<int32_t>(b[0] | (b[1] << 8) | (b[2] << 16) |
                                   (static_cast<uint32_t>(b[3]) << 24));
      height = static_cast<int32_t>(b[4] | (b[5] << 8) | (b[6] << 16) |
                                    (static_cast<uint32_t>(b[7]) << 24));
      bits = b[10] | (b[11] << 8);
      compression = b[12] | (b[13] << 8) | (b[14] << 16) |
                    (static_cast<uint32_t>(b[15]) << 24);
      f->palEntrySize = 4;
      palMax = 1024;
      // Headers shorter than the 40-byte one (other than 12) lay their
      // fields out differently.
      layoutKnown = headerSize >= 40;
    }
    if (r.Failed()) return;
    f->compressed = bits >= 2 && bits <= 8 && compression == 1;
    // Only what the reader decodes is readable: plain rows of 1, 4, 8, 16,
    // 24 or 32 bits, or RLE8. Bit fields, RLE4 and RLE on other depths are
    // refused instead of being taken for plain pixels.
    const bool plain = compression == 0 &&
                       (bits == 1 || bits == 4 || bits == 8 || bits == 16 ||
                        bits == 24 || bits == 32);
    const bool rle8 = compression == 1 && bits == 8;
    // A negative height marks rows stored top-down. The reader takes rows
    // bottom-up only, so such a file is described with its true height but
    // not read.
    f->bottomUp = height >= 0;
    height = std::abs(height);
    f->readable = layoutKnown && (plain || rle8) && f->bottomUp && width > 0 &&
                  height > 0 && width <= INT32_MAX && height <= INT32_MAX;
    const int32_t depth = bits == 16 ? 15 : bits;
    SetRawDims(f, static_cast<int32_t>(std::clamp<int64_t>(width, INT32_MIN, INT32_MAX)),
               static_cast<int32_t>(std::clamp<int64_t>(height, INT32_MIN, INT32_MAX)),
               depth);
    f->palOffset = 14 + headerSize;
    f->palSize = std::clamp<int64_t>(f->dataOffset - headerSize - 14, 0, palMax);
  });
}

// Expands rows of 1- or 4-bit pixels, packed rowBytes apart at the start of
// the block, to one byte per pixel, from the end backwards.
void ExpandLowBits(RawImgFile* f, uint8_t* data) {
  const int64_t w = f->width;
  for (int64_t y = f->height - 1; y >= 0; y--) {
    const uint8_t* src = data + y * f->rowBytes;
    uint8_t* dst = data + y * w;
    for (int64_t x = w - 1; x >= 0; x--) {
      uint8_t v;
      if (f->bitsPerPixel == 1)
        v = (src[x / 8] >> (7 - (x % 8))) & 1;
      else
        v = (x & 1) ? (src[x / 2] & 15) : (src[x / 2] >> 4);
      dst[x] = v;
    }
  }
}

// RLE8: the rows come bottom row first into the top of the image; the caller
// flips the result. Running out of data before the end-of-bitmap escape or
// the image's end is corrupt data.
void DIBUnpackRLE8(const uint8_t* block, int64_t size, Qimg* image) {
  FFReader r(block, size, 3);
  const int64_t w = image->width, h = image->height;
  int64_t x = 0, y = 0;
  auto put = [&](uint8_t v) {
    if (x < w && y < h) image->data[y * w + x] = v;
    x++;
  };
  for (;;) {
    if (y >= h || (y == h - 1 && x >= w)) return;
    if (!r.Has(2)) {
      r.Fail();
      return;
    }
    const uint8_t count = r.U8();
    const uint8_t value = r.U8();
    if (count != 0) {
      for (int k = 0; k < count; k++) put(value);
    } else if (value == 0) {
      x = 0;
      y++;
    } else if (value == 1) {
      return;
    } else if (value == 2) {
      const uint8_t dx = r.U8();
      const uint8_t dy = r.U8();
      if (r.Failed()) return;
      x += dx;
      y += dy;
    } else {
      uint8_t bytes[255];
      if (!r.Read(bytes, value)) return;
      for (int k = 0; k < value; k++) put(bytes[k]);
      if ((value & 1) && r.Has(1)) r.Skip(1);
    }
  }
}

}  // namespace

// ---- tables and recognition -----------------------------------------------

void FFInfoStill(FFInfoRec* info, double fileSize, int32_t width,
                 int32_t height, int32_t bytesPerPixel, int32_t bitsPerPixel,
                 const char* compression, bool hasPictures, bool readable) {
  info->fileSize = fileSize;
  info->picture.width = width;
  info->picture.height = height;
  info->picture.bytesPerPixel = bytesPerPixel;
  info->picture.bitsPerPixel = bitsPerPixel;
  info->picture.frameCount = 1;
  if (compression) info->picture.videoCompression = compression;
  info->picture.hasPictures = hasPictures;
  info->picture.picturesReadable = readable;
}

int32_t LoadTableCount() { return 19; }
int32_t SaveTableCount() { return 17; }

FileFmtTable TableRow(int32_t table, int32_t index) {
  if (table == kSaveTable)
    return (index >= 0 && index < 17) ? MakeRow(kSaveRows[index])
                                      : FileFmtTable{};
  return (index >= 0 && index < 19) ? MakeRow(kLoadRows[index])
                                    : FileFmtTable{};
}

void GetFmtByExt_(const std::string& name, FileFmtTable* row, int32_t table) {
  *row = FileFmtTable{};
  row->id = K_AUTO;
  const size_t slash = name.find_last_of('/');
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos ||
      (slash != std::string::npos && dot < slash))
    return;
  std::string ext = name.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  ext += '.';
  if (ext == "..") return;
  const TableRowDef* rows = table == kSaveTable ? kSaveRows : kLoadRows;
  const int count = table == kSaveTable ? 17 : 19;
  for (int i = 0; i < count; i++) {
    const std::string list = std::string(rows[i].extensions) + ".";
    if (list.find(ext) != std::string::npos) {
      *row = MakeRow(rows[i]);
      return;
    }
  }
}

int32_t GetFmtByExt(const std::string& name, int32_t table) {
  FileFmtTable row;
  GetFmtByExt_(name, &row, table);
  return row.id;
}

bool IsSaveFmt(int32_t id) {
  for (const TableRowDef& d : kSaveRows)
    if (d.id == id) return true;
  return false;
}

void FFInfo(const std::string& name, int32_t id, FFInfoRec* info,
            void* progressData, InfoProgressFn progress) {
  Errors::Monitored("ConForm.FFInfo", [&] {
    *info = FFInfoRec{};
    if (id == K_AUTO) id = GetFmtByExt(name, kLoadTable);
    const Codec* codec = FindCodec(id);
    if (!codec) {
      ErrSet(Errors::kErrWriterWrite, __LINE__);
      return;
    }
    if (!codec->info) {
      ErrSet(codec->infoPending ? Errors::kErrNotSupported : Errors::kErrWriterWrite, __LINE__);
      return;
    }
    if (id == kFmtMPEG || id == kFmtMPA)
      FF_MPG::MpgInfo(name, info, progress, progressData);
    else
      codec->info(name, info);
    info->format = id;
    for (const TableRowDef& d : kLoadRows)
      if (d.id == id) {
        info->filter = d.filter;
        break;
      }
    if (info->picture.videoCompression.empty())
      info->picture.videoCompression = "Uncompressed, full frames";
    if (info->sound.audioCompression.empty())
      info->sound.audioCompression = "PCM, uncompressed";
  });
}

int32_t FileKind(int32_t id, int32_t frames) {
  if (id < 1 || id > 19) return kKindNone;
  switch (id) {
    case kFmtFLC:
    case kFmtAVI:
    case kFmtKWB:
    case kFmtMPEG:
    case kFmtWAV:
    case kFmtMPA:
    case kFmtOGG:
      return kKindStream;
    case kFmtGIF:
      return frames >= 2 ? kKindStream : kKindImage;
    default:
      return frames >= 2 ? kKindSequence : kKindImage;
  }
}

bool SeqSplit(const std::string& name, bool minusAllowed, std::string* prefix,
              int32_t* digits, int32_t* number, int32_t suffixLimit,
              std::string* suffix, int32_t prefixLimit) {
  const size_t slash = name.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
  const std::string base =
      slash == std::string::npos ? name : name.substr(slash + 1);
  std::string numberText, suffixText;
  bool negative = false;
  size_t stopAt = std::string::npos;  // index of the character before the number
  for (size_t k = base.size(); k-- > 0;) {
    const char c = base[k];
    const bool haveDigits = !numberText.empty();
    if (c >= '0' && c <= '9' && !negative) {
      numberText.insert(numberText.begin(), c);
    } else if (c == '-' && minusAllowed && haveDigits && !negative) {
      // The sign belongs to the digits just read; whatever comes before it
      // ends the number.
      negative = true;
    } else if (haveDigits) {
      stopAt = k;
      break;
    } else {
      suffixText.insert(suffixText.begin(), c);
    }
  }
  // A number that does not fit nine digits is not a sequence number.
  bool found = !numberText.empty() && numberText.size() <= 9;
  if (!found) {
    const size_t dot = base.find_last_of('.');
    const std::string ext = dot == std::string::npos ? "" : base.substr(dot);
    const std::string stem = dot == std::string::npos ? base : base.substr(0, dot);
    *prefix = (folder + stem).substr(0, static_cast<size_t>(std::max(prefixLimit, 0)));
    *suffix = ext.substr(0, static_cast<size_t>(std::max(suffixLimit, 0)));
    *digits = 0;
    *number = 0;
    return false;
  }
  const std::string head =
      stopAt == std::string::npos ? std::string() : base.substr(0, stopAt + 1);
  *prefix = (folder + head).substr(0, static_cast<size_t>(std::max(prefixLimit, 0)));
  *suffix = suffixText.substr(0, static_cast<size_t>(std::max(suffixLimit, 0)));
  *digits = static_cast<int32_t>(numberText.size());
  int32_t value = 0;
  for (char c : numberText) value = value * 10 + (c - '0');
  *number = negative ? -value : value;
  return true;
}

std::string SeqMakeName(const std::string& prefix, const std::string& suffix,
                        int64_t number, int32_t digits) {
  std::string text = std::to_string(number < 0 ? -number : number);
  if (static_cast<int32_t>(text.size()) < digits)
    text.insert(0, static_cast<size_t>(digits) - text.size(), '0');
  return prefix + (number < 0 ? "-" : "") + text + suffix;
}

bool SeqNextName(const std::string& prefix, const std::string& suffix,
                 int64_t number, double* fileSize, int32_t digits) {
  const std::string name = SeqMakeName(prefix, suffix, number, digits);
  *fileSize = Basic::FSize64(name);
  return *fileSize > 0;
}

bool UniInfo(const std::string& name, UniInfoRec* info, int32_t maxFiles,
             InfoProgressFn progress, void* progressData, bool minusAllowed) {
  bool result = false;
  Errors::MonitoredQuiet("ConForm.UniInfo", [&] {
    *info = UniInfoRec{};
    info->progress = progress;
    info->progressData = progressData;
    FFInfoRec fi;
    bool aborted = false;
    const uint32_t moduleFailures = Modules::FailureCount();
    // Describes the file with one reader, keeping its error as state.
    auto describe = [&](int32_t id) {
      Errors::MonTryNext();
      try {
        FFInfo(name, id, &fi, progressData, progress);
      } catch (const Errors::EMon&) {
      }
      if (fi.aborted) aborted = true;
      return Errors::ErrNone() && (fi.picture.hasPictures || fi.sound.hasSound);
    };
    int32_t id = GetFmtByExt(name, kLoadTable);
    bool found = describe(id);
    if (!found && !aborted) {
      for (const TableRowDef& d : kLoadRows) {
        if (d.id == id) continue;
        if (describe(d.id)) {
          id = d.id;
          found = true;
          break;
        }
        if (aborted) break;
      }
    }
    info->aborted = aborted;
    info->format = id;
    info->name = name;
    info->totalSize = fi.fileSize;
    info->filter = fi.filter;
    info->picture = fi.picture;
    info->sound = fi.sound;
    info->dataRate = fi.dataRate;
    info->kind = FileKind(id, info->picture.frameCount);

    std::string prefix, suffix;
    int32_t digits = 0, number = 0;
    if (found && !aborted && info->kind == kKindImage && maxFiles > 1 &&
        SeqSplit(name, minusAllowed, &prefix, &digits, &number, 255, &suffix,
                 255)) {
      info->seqPrefix = prefix;
      info->seqSuffix = suffix;
      info->firstNumber = number;
      info->digitCount = digits;
      int32_t count = 0;
      double nextSize = 0;
      for (;;) {
        if (progress) {
          InfoProgressRec rec;
          rec.name = SeqMakeName(prefix, suffix, int64_t{number} + count, digits);
          rec.counted = count;
          rec.data = progressData;
          progress(&rec);
          if (rec.stop) break;
        }
        count++;
        info->totalSize += nextSize;
        if (count >= maxFiles) break;
        if (!SeqNextName(prefix, suffix, int64_t{number} + count, &nextSize,
                         digits))
          break;
      }
      if (progress) {
        InfoProgressRec rec;
        rec.counted = count;
        rec.final = true;
        rec.data = progressData;
        progress(&rec);
      }
      info->fileCount = count;
      if (count > 1) {
        info->kind = kKindSequence;
        info->picture.frameCount = count;
      }
    }

    info->picture.videoSize = static_cast<double>(info->picture.width) * info->picture.height *
                      info->picture.bytesPerPixel * info->picture.frameCount;
    info->picture.videoDuration = (info->picture.frameCount > 0 && info->picture.fps > 0)
                              ? info->picture.frameCount / info->picture.fps
                              : 0;
    info->sound.sampleRate = info->sound.wave.samplesPerSec;
    info->sound.channels = info->sound.wave.channels;
    info->sound.bitsPerSample = info->sound.wave.bitsPerSample;
    info->sound.blockAlign = info->sound.wave.blockAlign;
    info->sound.audioSize = static_cast<double>(info->sound.sampleFrames) * info->sound.blockAlign;
    info->sound.audioDuration = (info->sound.sampleFrames > 0 && info->sound.sampleRate > 0)
                              ? info->sound.sampleFrames / info->sound.sampleRate
                              : 0;
    // A stop request from the progress function fails the description as
    // an error would.
    if (Errors::ErrNone() && !aborted) {
      result = true;
    } else {
      Errors::ErrClear();
      // A reader whose back end could not be loaded says so; any other
      // failure reads as a missing file.
      if (Modules::FailureCount() != moduleFailures)
        Errors::WarnSetText(Errors::kClsText, Modules::LastFailure(), __LINE__);
      else
        Errors::WarnSet(Errors::kErrFileNotExist, __LINE__);
      result = false;
    }
  });
  return result;
}

// ---- still-image dispatch -------------------------------------------------

void ExtractAlpha(const Qimg* image, Qimg* alpha) {
  Errors::Monitored("ConForm.ExtractAlpha", [&] {
    ImgBasic::_imgalloc_(alpha, image->width, image->height,
                         "ConForm.ImgLoad.alpha", __LINE__, 8);
    std::memset(alpha->data, 255, static_cast<size_t>(alpha->size));
    ImgBasic::PalMakeGrey(alpha->palette);
    if (image->bitsPerPixel == 32) {
      const int64_t n = static_cast<int64_t>(image->width) * image->height;
      for (int64_t i = 0; i < n; i++) alpha->data[i] = image->data[i * 4 + 3];
    }
  });
}

void ImgLoad(const std::string& name, Qimg* image, int32_t id, Qimg* alpha) {
  Errors::Monitored("ConForm.ImgLoad", [&] {
    // A failed load frees the pixel blocks it obtained; records that held
    // none before must not keep pointing at them.
    const bool imageHeld = image->data && Basic::MemIsTracked(image->data);
    const bool alphaHeld =
        alpha && alpha->data && Basic::MemIsTracked(alpha->data);
    Errors::MonSetCleanup([image, alpha, imageHeld, alphaHeld] {
      if (!imageHeld) ImgBasic::ImgClear(image);
      if (alpha && !alphaHeld) ImgBasic::ImgClear(alpha);
    });
    if (id == K_AUTO) id = GetFmtByExt(name, kLoadTable);
    const Codec* codec = FindCodec(id);
    if (!codec || !codec->load) {
      ErrSet(codec && codec->loadPending ? Errors::kClsGeneral
                                         : Errors::kClsImage,
             2, __LINE__);
      return;
    }
    if (id == kFmtGIF) {
      GIFLoadFirst(name, image, alpha);
      return;
    }
    codec->load(name, image);
    if (alpha) ExtractAlpha(image, alpha);
  });
}

void ImgSave(const std::string& name, Qimg* image, int32_t id) {
  Errors::Monitored("ConForm.ImgSave", [&] {
    if (!image || !ImgBasic::ImgIsValid(image)) {
      ErrSet(Errors::kErrImageCorrupted, __LINE__);
      return;
    }
    if (id == K_AUTO) id = GetFmtByExt(name, kSaveTable);
    const Codec* codec = FindCodec(id);
    if (!codec || !codec->save) {
      ErrSet(codec && codec->savePending ? Errors::kClsGeneral
                                         : Errors::kClsImage,
             2, __LINE__);
      return;
    }
    codec->save(name, image);
  });
}

// ---- TGA ------------------------------------------------------------------

void TGASetCompression(int32_t value) { tgaCompression = value != 0; }
bool TGAGetCompression() { return tgaCompression; }

void TGAInfo(const std::string& name, FFInfoRec* info) {
  Errors::Monitored("ConForm.TGAInfo", [&] {
    RawImgFile f;
    TGAOpen_(&f, name);
    FFInfoStill(info, static_cast<double>(f.fileSize), f.width, f.height,
                f.bytesPerPixel, f.bitsPerPixel,
                f.compressed ? kRleName : nullptr,
                f.bitsPerPixel >= 1 && f.bitsPerPixel <= 32, f.readable);
    Basic::FClose(f.file);
  });
}

void TGALoad_(const std::string& name, Qimg* image) {
  Errors::Monitored("ConForm.TGALoad_", [&] {
    RawImgFile f;
    uint8_t* block = nullptr;
    TGAOpen_(&f, name);
    if (!f.readable) {
      ErrSet(Errors::kErrImageNotSupported, __LINE__);
      return;
    }
    if (FFBasic::FFCapImage(f.width, f.height, f.bitsPerPixel, 2, __LINE__) < 0) return;
    ImgBasic::_imgalloc_(image, f.width, f.height, "ConForm.TGALoad_.image",
                         __LINE__, f.bitsPerPixel);
    std::memset(image->palette, 0, sizeof image->palette);
    if (f.mapType != 0) {
      FFReader r(f.file, 2);
      if (!r.Seek(f.palOffset) || !r.Need(f.palSize)) return;
      for (int64_t k = 0; k < f.mapLength; k++) {
        uint8_t e[4] = {};
        if (f.palEntrySize > 4) {
          r.Skip(f.palEntrySize);
          continue;
        }
        r.Read(e, f.palEntrySize);
        const int64_t index = f.palFirst + k;
        if (k >= 256 || index > 255) continue;
        uint8_t* p = image->palette + index * 3;
        if (f.palEntrySize == 2) {
          const uint16_t w = static_cast<uint16_t>(e[0] | (e[1] << 8));
          p[0] = static_cast<uint8_t>((w & 31) << 3);
          p[1] = static_cast<uint8_t>(((w >> 5) & 31) << 3);
          p[2] = static_cast<uint8_t>(((w >> 10) & 31) << 3);
        } else if (f.palEntrySize >= 3) {
          p[0] = e[0];
          p[1] = e[1];
          p[2] = e[2];
        }
      }
    }
    if (!f.compressed) {
      Dsk2Mem_(&f, image->data, 0);
    } else {
      const int64_t size = GetCmpsData_(&f, &block);
      TGAUnpackRLE(block, size, image);
      Basic::MemFree(block);
      if (f.bottomUp) ImgBasic::ImgFlipV(image, image);
    }
    // Rows stored right to left are turned once they are all in place, so
    // raw and run-length data of every depth come out the same way round.
    if (f.rightToLeft) TGAReverseRows_(image);
    Basic::FClose(f.file);
  });
}

void TGASave_(const std::string& name, Qimg* image) {
  Errors::Monitored("ConForm.TGASave_", [&] {
    FFBasic::FFInitRec prep;
    uint8_t* line = nullptr;
    uint8_t* packed = nullptr;
    FFBasic::FFInit(kFmtTGA, &prep, image, 1);
    const Qimg* img = prep.image;
    const int32_t bpp = img->bytesPerPixel;
    if (img->width > 65535 || img->height > 65535) {
      ErrSet(Errors::kErrImageNotSupported, __LINE__);
      return;
    }
    const int32_t file = FFBasic::FFCreateFile(name);
    uint8_t h[18] = {};
    h[2] = static_cast<uint8_t>((bpp == 1 ? 1 : 2) + (tgaCompression ? 8 : 0));
    if (bpp == 1) {
      h[1] = 1;
      FFBasic::Put16L(h + 5, 256);
      h[7] = 24;
    }
    FFBasic::Put16L(h + 12, static_cast<uint32_t>(img->width));
    FFBasic::Put16L(h + 14, static_cast<uint32_t>(img->height));
    h[16] = static_cast<uint8_t>(bpp * 8);
    Basic::FWrite(file, h, 18);
    if (bpp == 1) Basic::FWrite(file, img->palette, 768);
    // A 32-bit image whose fourth bytes are all 0 carries no alpha: it is
    // written opaque rather than fully transparent.
    const bool opaque = bpp == 4 && FFBasic::AlphaAllZero(img);
    const int64_t rowLen = static_cast<int64_t>(img->width) * bpp;
    Basic::MemAlloc(line, rowLen, __LINE__, Basic::kMemPlain,
                    "ConForm.TGASave_.line");
    Basic::MemAlloc(packed, rowLen * 2 + 2, __LINE__, Basic::kMemPlain,
                    "ConForm.TGASave_.packed");
    for (int64_t y = img->height - 1; y >= 0; y--) {
      std::memcpy(line, img->data + y * rowLen, static_cast<size_t>(rowLen));
      if (opaque)
        for (int64_t x = 0; x < img->width; x++) line[x * 4 + 3] = 255;
      if (tgaCompression) {
        const int64_t n = TGAPackRow(line, img->width, bpp, packed);
        if (n > rowLen * 2 + 2) {
          ErrSet(Errors::kErrImageCompress, __LINE__);
          return;
        }
        Basic::FWrite(file, packed, n);
      } else {
        Basic::FWrite(file, line, rowLen);
      }
    }
    Basic::FClose(file);
    Basic::MemFree(line);
    Basic::MemFree(packed);
    FFBasic::FFDone(&prep);
  });
}

// ---- PCX ------------------------------------------------------------------

void PCXInfo(const std::string& name, FFInfoRec* info) {
  Errors::Monitored("ConForm.PCXInfo", [&] {
    RawImgFile f;
    PCXOpen_(&f, name);
    FFInfoStill(info, static_cast<double>(f.fileSize), f.width, f.height,
                f.bytesPerPixel, f.bitsPerPixel, kRleName,
                f.width > 0 && f.height > 0, f.readable);
    Basic::FClose(f.file);
  });
}

void PCXLoad_(const std::string& name, Qimg* image) {
  Errors::Monitored("ConForm.PCXLoad_", [&] {
    RawImgFile f;
    uint8_t* block = nullptr;
    uint8_t* scan = nullptr;
    PCXOpen_(&f, name);
    if (!f.readable) {
      ErrSet(Errors::kErrImageNotSupported, __LINE__);
      return;
    }
    if (FFBasic::FFCapImage(f.width, f.height, f.bitsPerPixel, 2, __LINE__) < 0) return;
    ImgBasic::_imgalloc_(image, f.width, f.height, "ConForm.PCXLoad_.image",
                         __LINE__, f.bitsPerPixel);
    std::memset(image->palette, 0, sizeof image->palette);
    const int64_t lineLen = static_cast<int64_t>(f.planes) * f.bytesPerLine;
    const int64_t total = FFBasic::FFCapSize(lineLen * f.height, 1, __LINE__);
    if (total < 0) return;
    int64_t size = GetCmpsData_(&f, &block);
    if (f.planes == 1) {
      // The palette is the file's last 768 bytes, after a marker byte.
      if (size < 769) {
        ErrSet(Errors::kErrImageDecompress, __LINE__);
        return;
      }
      const uint8_t* pal = block + size - 768;
      for (int i = 0; i < 256; i++) {
        image->palette[i * 3] = pal[i * 3 + 2];
        image->palette[i * 3 + 1] = pal[i * 3 + 1];
        image->palette[i * 3 + 2] = pal[i * 3];
      }
      size -= 769;
    }
    Basic::MemAlloc(scan, total, __LINE__, Basic::kMemPlain,
                    "ConForm.PCXLoad_.scan");
    PCXunCmps_(block, size, scan, total);
    Basic::MemFree(block);
    // Each plane of a scan line is padded to bytes-per-line.
    const int64_t w = f.width;
    for (int64_t y = 0; y < f.height; y++) {
      const uint8_t* src = scan + y * lineLen;
      uint8_t* dst = image->data + y * w * f.planes;
      if (f.planes == 1) {
        std::memcpy(dst, src, static_cast<size_t>(w));
      } else {  // red, green, blue planes to B,G,R pixels
        for (int64_t x = 0; x < w; x++) {
          dst[x * 3 + 2] = src[x];
          dst[x * 3 + 1] = src[f.bytesPerLine + x];
          dst[x * 3] = src[2 * f.bytesPerLine + x];
        }
      }
    }
    Basic::MemFree(scan);
    Basic::FClose(f.file);
  });
}

void PCXSave_(const std::string& name, Qimg* image) {
  Errors::Monitored("ConForm.PCXSave_", [&] {
    FFBasic::FFInitRec prep;
    uint8_t* line = nullptr;
    uint8_t* packed = nullptr;
    FFBasic::FFInit(kFmtPCX, &prep, image, 1);
    const Qimg* img = prep.image;
    const int32_t bpp = img->bytesPerPixel;
    // The window and bytes-per-line fields are 16-bit.
    if (bpp != 1 && bpp != 3) {
      ErrSet(Errors::kErrImageNotSupported, __LINE__);
      return;
    }
    if (img->width > 65534 || img->height > 65535) {
      ErrSet(Errors::kErrImageNotSupported, __LINE__);
      return;
    }
    const int32_t file = FFBasic::FFCreateFile(name);
    const int32_t bytesPerLine = (img->width + 1) & ~1;
    uint8_t h[128] = {};
    h[0] = 10;
    h[1] = 5;
    h[2] = 1;
    h[3] = 8;
    FFBasic::Put16L(h + 8, static_cast<uint32_t>(img->width - 1));
    FFBasic::Put16L(h + 10, static_cast<uint32_t>(img->height - 1));
    FFBasic::Put16L(h + 12, static_cast<uint32_t>(img->width));
    FFBasic::Put16L(h + 14, static_cast<uint32_t>(img->height));
    h[65] = static_cast<uint8_t>(bpp);
    FFBasic::Put16L(h + 66, static_cast<uint32_t>(bytesPerLine));
    Basic::FWrite(file, h, 128);
    const int64_t lineLen = static_cast<int64_t>(bytesPerLine) * bpp;
    Basic::MemAlloc(line, lineLen, __LINE__, Basic::kMemPlain,
                    "ConForm.PCXSave_.line");
    Basic::MemAlloc(packed, lineLen * 2, __LINE__, Basic::kMemPlain,
                    "ConForm.PCXSave_.packed");
    const int64_t w = img->width;
    for (int64_t y = 0; y < img->height; y++) {
      const uint8_t* src = img->data + y * w * bpp;
      std::memset(line, 0, static_cast<size_t>(lineLen));
      if (bpp == 1) {
        std::memcpy(line, src, static_cast<size_t>(w));
      } else {
        for (int64_t x = 0; x < w; x++) {
          line[x] = src[x * 3 + 2];
          line[bytesPerLine + x] = src[x * 3 + 1];
          line[2 * bytesPerLine + x] = src[x * 3];
        }
      }
      const int64_t n = PCXPackLine(line, lineLen, packed);
      if (n > lineLen * 2) {
        ErrSet(Errors::kErrImageCompress, __LINE__);
        return;
      }
      Basic::FWrite(file, packed, n);
    }
    if (bpp == 1) {
      uint8_t pal[769];
      pal[0] = 12;
      for (int i = 0; i < 256; i++) {
        pal[1 + i * 3] = img->palette[i * 3 + 2];
        pal[2 + i * 3] = img->palette[i * 3 + 1];
        pal[3 + i * 3] = img->palette[i * 3];
      }
      Basic::FWrite(file, pal, 769);
    }
    Basic::FClose(file);
    Basic::MemFree(line);
    Basic::MemFree(packed);
    FFBasic::FFDone(&prep);
  });
}

// ---- BMP ------------------------------------------------------------------

void DIBInfo(const std::string& name, FFInfoRec* info) {
  Errors::Monitored("ConForm.DIBInfo", [&] {
    RawImgFile f;
    DIBOpen_(&f, name);
    // Palette files of 1, 4 and 8 bits load as 8 bits per pixel.
    const bool indexed = f.bitsPerPixel <= 8;
    FFInfoStill(info, static_cast<double>(f.fileSize), f.width, f.height,
                indexed ? 1 : f.bytesPerPixel, indexed ? 8 : f.bitsPerPixel,
                f.compressed ? kRleName : nullptr,
                f.width > 0 && f.height > 0, f.readable);
    Basic::FClose(f.file);
  });
}

void DIBLoad_(const std::string& name, Qimg* image) {
  Errors::Monitored("ConForm.DIBLoad_", [&] {
    RawImgFile f;
    uint8_t* block = nullptr;
    DIBOpen_(&f, name);
    if (!f.readable) {
      ErrSet(Errors::kErrImageNotSupported, __LINE__);
      return;
    }
    const int32_t depth = f.bitsPerPixel <= 8 ? 8 : f.bitsPerPixel;
    if (FFBasic::FFCapImage(f.width, f.height, depth, 2, __LINE__) < 0) return;
    ImgBasic::_imgalloc_(image, f.width, f.height, "ConForm.DIBLoad_.image",
                         __LINE__, depth);
    std::memset(image->palette, 0, sizeof image->palette);
    if (f.bitsPerPixel <= 8 && f.palSize > 0) {
      FFReader r(f.file, 2);
      uint8_t pal[1024];
      if (!r.Seek(f.palOffset) || !r.Read(pal, f.palSize)) return;
      const int64_t entries = std::min<int64_t>(f.palSize / f.palEntrySize, 256);
      for (int64_t i = 0; i < entries; i++)
        std::memcpy(image->palette + i * 3, pal + i * f.palEntrySize, 3);
    }
    if (f.compressed) {
      const int64_t size = GetCmpsData_(&f, &block);
      DIBUnpackRLE8(block, size, image);
      Basic::MemFree(block);
      ImgBasic::ImgFlipV(image, image);
    } else {
      const int64_t pad = ((f.rowBytes + 3) & ~int64_t{3}) - f.rowBytes;
      Dsk2Mem_(&f, image->data, pad);
      if (f.bitsPerPixel == 1 || f.bitsPerPixel == 4) ExpandLowBits(&f, image->data);
    }
    Basic::FClose(f.file);
  });
}

void DIBSave_(const std::string& name, Qimg* image) {
  Errors::Monitored("ConForm.DIBSave_", [&] {
    FFBasic::FFInitRec prep;
    FFBasic::FFInit(kFmtBMP, &prep, image, 1);
    const Qimg* img = prep.image;
    const int32_t bpp = img->bytesPerPixel;
    const int64_t rowLen = static_cast<int64_t>(img->width) * bpp;
    const int64_t pad = ((rowLen + 3) & ~int64_t{3}) - rowLen;
    // Sizes count the padded rows that are written.
    const int64_t imageBytes = (rowLen + pad) * img->height;
    const int64_t palSize = bpp == 1 ? 1024 : 0;
    if (imageBytes + palSize + 54 > UINT32_MAX) {
      ErrSet(Errors::kErrImageNotSupported, __LINE__);
      return;
    }
    const int32_t file = FFBasic::FFCreateFile(name);
    uint8_t h[54] = {};
    h[0] = 'B';
    h[1] = 'M';
    FFBasic::Put32L(h + 2, static_cast<uint32_t>(imageBytes + palSize + 54));
    FFBasic::Put32L(h + 10, static_cast<uint32_t>(palSize + 54));
    FFBasic::Put32L(h + 14, 40);
    FFBasic::Put32L(h + 18, static_cast<uint32_t>(img->width));
    FFBasic::Put32L(h + 22, static_cast<uint32_t>(img->height));
    FFBasic::Put16L(h + 26, 1);
    FFBasic::Put16L(h + 28, static_cast<uint32_t>(bpp * 8));
    FFBasic::Put32L(h + 34, static_cast<uint32_t>(imageBytes));
    if (bpp == 1) {
      FFBasic::Put32L(h + 46, 256);
      FFBasic::Put32L(h + 50, 256);
    }
    Basic::FWrite(file, h, 54);
    if (bpp == 1) {
      uint8_t pal[1024];
      for (int i = 0; i < 256; i++) {
        std::memcpy(pal + i * 4, img->palette + i * 3, 3);
        pal[i * 4 + 3] = 0;
      }
      Basic::FWrite(file, pal, 1024);
    }
    Mem2Dsk_(file, img, pad);
    Basic::FClose(file);
    FFBasic::FFDone(&prep);
  });
}

}  // namespace ConForm
