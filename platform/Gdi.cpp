#include "platform/Gdi.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <variant>

#include "foundation/Basic.h"

namespace Gdi {
namespace {

// Largest pixel block a bitmap or global block may have.
constexpr int64_t kMaxBlock = std::numeric_limits<int32_t>::max();

// One table per kind of handle; each kind counts from its own base so a
// handle of one kind never names an object of another.
template <class T>
class Registry {
 public:
  explicit Registry(uintptr_t base) : next_(base) {}
  uintptr_t Add(std::unique_ptr<T> object) {
    while (map_.count(next_)) next_ += 4;
    const uintptr_t h = next_;
    next_ += 4;
    map_[h] = std::move(object);
    return h;
  }
  // Under a key the caller chooses: the address of the object's own storage,
  // for handles a host reads through (fixed global blocks, DIB sections).
  uintptr_t AddAt(uintptr_t key, std::unique_ptr<T> object) {
    if (key == 0 || map_.count(key)) return 0;
    map_[key] = std::move(object);
    return key;
  }
  T* Find(uintptr_t h) const {
    auto it = map_.find(h);
    return it == map_.end() ? nullptr : it->second.get();
  }
  bool Remove(uintptr_t h) { return map_.erase(h) > 0; }
  int32_t Count() const { return static_cast<int32_t>(map_.size()); }

 private:
  uintptr_t next_;
  std::unordered_map<uintptr_t, std::unique_ptr<T>> map_;
};

// How the pixels of a bitmap or a DIB are laid out, and their colours.
struct PixelFormat {
  int32_t width = 0;
  int32_t height = 0;  // rows, always positive
  bool topDown = false;
  int32_t bitCount = 0;
  int64_t stride = 0;
  uint32_t compression = BI_RGB;
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};  // red, green, blue
  uint32_t colours[256] = {};                     // colour values
  int32_t colourCount = 0;

  // Colour of pixel (x, y), y counted from the top row.
  uint32_t ColourAt(const uint8_t* bits, int64_t x, int64_t y) const;
  // Stores a colour at (x, y); 8-bit pixels take the nearest table colour.
  void Store(uint8_t* bits, int64_t x, int64_t y, uint32_t colour) const;
  uint8_t* Row(uint8_t* bits, int64_t y) const {
    return bits + (topDown ? y : height - 1 - y) * stride;
  }
  const uint8_t* Row(const uint8_t* bits, int64_t y) const {
    return bits + (topDown ? y : height - 1 - y) * stride;
  }
};

struct BitmapObject {
  PixelFormat format;
  bool dibSection = false;
  // A DIB section is stored as a packed DIB (header, colour table or masks,
  // rows), its handle being the storage's address; the rows start at
  // bitsOffset. Device-dependent bitmaps hold their rows alone.
  std::vector<uint8_t> pixels;
  int64_t bitsOffset = 0;
  uint8_t* Bits() { return pixels.data() + bitsOffset; }
  const uint8_t* Bits() const { return pixels.data() + bitsOffset; }
};

struct PaletteObject {
  std::vector<PALETTEENTRY> entries;
};

using GdiObject = std::variant<BitmapObject, PaletteObject>;

struct GlobalBlock {
  std::vector<uint8_t> bytes;
  int32_t locks = 0;
};

// A memory context: its surface is the bitmap selected into it.
class BitmapDC : public DeviceContext {
 public:
  int32_t RasterCaps() const override { return kTrueColourCaps; }
  int32_t Width() const override;
  int32_t Height() const override;
  void SetPixel(int32_t x, int32_t y, uint32_t colour) override;
  uint32_t GetPixel(int32_t x, int32_t y) const override;
};

struct State {
  Registry<GdiObject> objects{0x100000};
  Registry<DeviceContext> dcs{0x200000};
  Registry<GlobalBlock> globals{0x300000};
  FaultHooks faults;
};

State& S() {
  static State state;
  return state;
}

bool InjectFault(int32_t& counter) { return Basic::CountDownFault(counter); }

uintptr_t Id(const void* handle) { return reinterpret_cast<uintptr_t>(handle); }

BitmapObject* FindBitmap(HGDIOBJ h) {
  GdiObject* o = S().objects.Find(Id(h));
  return o ? std::get_if<BitmapObject>(o) : nullptr;
}

PaletteObject* FindPalette(HGDIOBJ h) {
  GdiObject* o = S().objects.Find(Id(h));
  return o ? std::get_if<PaletteObject>(o) : nullptr;
}

int MaskShift(uint32_t mask) {
  int s = 0;
  while (mask && !(mask & 1)) {
    mask >>= 1;
    s++;
  }
  return s;
}

int MaskBits(uint32_t mask) {
  mask >>= MaskShift(mask);
  int n = 0;
  while (mask & 1) {
    mask >>= 1;
    n++;
  }
  return n;
}

// A channel of a bit-field pixel widened to 8 bits with zero low bits.
uint8_t Channel(uint32_t value, uint32_t mask) {
  const int bits = MaskBits(mask);
  if (bits == 0) return 0;
  const uint32_t v = (value & mask) >> MaskShift(mask);
  return static_cast<uint8_t>(bits >= 8 ? v >> (bits - 8) : v << (8 - bits));
}

uint32_t Pack(uint8_t channel, uint32_t mask) {
  const int bits = MaskBits(mask);
  const uint32_t v = bits >= 8 ? static_cast<uint32_t>(channel) << (bits - 8)
                               : channel >> (8 - bits);
  return (v << MaskShift(mask)) & mask;
}

uint8_t RedOf(uint32_t c) { return static_cast<uint8_t>(c); }
uint8_t GreenOf(uint32_t c) { return static_cast<uint8_t>(c >> 8); }
uint8_t BlueOf(uint32_t c) { return static_cast<uint8_t>(c >> 16); }

uint32_t PixelFormat::ColourAt(const uint8_t* bits, int64_t x,
                               int64_t y) const {
  const uint8_t* row = Row(bits, y);
  switch (bitCount) {
    case 8: {
      const uint8_t i = row[x];
      return i < colourCount ? colours[i] : 0;
    }
    case 16: {
      const uint32_t v = ReadWord(row + x * 2);
      return RGB(Channel(v, masks[0]), Channel(v, masks[1]),
                 Channel(v, masks[2]));
    }
    case 24: {
      const uint8_t* p = row + x * 3;
      return RGB(p[2], p[1], p[0]);
    }
    case 32: {
      const uint8_t* p = row + x * 4;
      if (compression == BI_BITFIELDS) {
        const uint32_t v = ReadDword(p);
        return RGB(Channel(v, masks[0]), Channel(v, masks[1]),
                   Channel(v, masks[2]));
      }
      return RGB(p[2], p[1], p[0]);
    }
    default:
      return 0;
  }
}

void PixelFormat::Store(uint8_t* bits, int64_t x, int64_t y,
                        uint32_t colour) const {
  uint8_t* row = Row(bits, y);
  const uint8_t r = RedOf(colour), g = GreenOf(colour), b = BlueOf(colour);
  switch (bitCount) {
    case 8: {
      int best = 0;
      int64_t bestDist = -1;
      for (int i = 0; i < colourCount; i++) {
        const int64_t dr = RedOf(colours[i]) - r, dg = GreenOf(colours[i]) - g,
                      db = BlueOf(colours[i]) - b;
        const int64_t d = dr * dr + dg * dg + db * db;
        if (bestDist < 0 || d < bestDist) {
          bestDist = d;
          best = i;
        }
      }
      row[x] = static_cast<uint8_t>(best);
      break;
    }
    case 16:
      WriteWord(row + x * 2, static_cast<uint16_t>(Pack(r, masks[0]) |
                                                   Pack(g, masks[1]) |
                                                   Pack(b, masks[2])));
      break;
    case 24:
    case 32: {
      uint8_t* p = row + x * (bitCount / 8);
      if (bitCount == 32 && compression == BI_BITFIELDS) {
        WriteDword(p, Pack(r, masks[0]) | Pack(g, masks[1]) | Pack(b, masks[2]));
      } else {
        p[0] = b;
        p[1] = g;
        p[2] = r;
      }
      break;
    }
    default:
      break;
  }
}

// Colour of a palette entry of the palette selected into dc (black when the
// device holds none or the index is beyond it).
uint32_t PaletteColour(const DeviceContext* dc, uint32_t index) {
  const PaletteObject* pal = dc ? FindPalette(dc->palette) : nullptr;
  if (!pal || index >= pal->entries.size()) return 0;
  const PALETTEENTRY& e = pal->entries[index];
  return RGB(e.peRed, e.peGreen, e.peBlue);
}

// Reads a serialised BITMAPINFO into a pixel format. False for what this
// layer does not draw: compressed rows, depths other than 8, 16, 24 and 32.
bool ParseBitmapInfo(const uint8_t* info, uint32_t usage, const DeviceContext* dc,
                     PixelFormat& f) {
  if (!info) return false;
  const BITMAPINFOHEADER h = ReadBitmapInfoHeader(info);
  if (h.biSize < static_cast<uint32_t>(kBitmapInfoHeaderSize) || h.biWidth <= 0 ||
      h.biHeight == 0 || h.biHeight == std::numeric_limits<int32_t>::min())
    return false;
  if (h.biBitCount != 8 && h.biBitCount != 16 && h.biBitCount != 24 &&
      h.biBitCount != 32)
    return false;
  const bool fields = h.biCompression == BI_BITFIELDS;
  if (h.biCompression != BI_RGB && !(fields && h.biBitCount >= 16)) return false;
  f = PixelFormat{};
  f.width = h.biWidth;
  f.height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  f.topDown = h.biHeight < 0;
  f.bitCount = h.biBitCount;
  f.compression = h.biCompression;
  f.stride = DibRowBytes(f.width, f.bitCount);
  if (f.stride * f.height > kMaxBlock) return false;
  const uint8_t* table = info + h.biSize;
  if (fields) {
    for (int i = 0; i < 3; i++) f.masks[i] = ReadDword(table + i * 4);
  } else if (f.bitCount == 32) {
    f.masks[0] = 0xFF0000;
    f.masks[1] = 0xFF00;
    f.masks[2] = 0xFF;
  }
  if (f.bitCount == 8) {
    const uint32_t n = h.biClrUsed == 0 ? 256 : h.biClrUsed;
    if (n > 256) return false;
    f.colourCount = static_cast<int32_t>(n);
    for (uint32_t i = 0; i < n; i++) {
      if (usage == DIB_PAL_COLORS) {
        f.colours[i] = PaletteColour(dc, ReadWord(table + i * 2));
      } else {
        const RGBQUAD q = ReadRgbQuad(table + i * kRgbQuadSize);
        f.colours[i] = RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
      }
    }
  }
  return true;
}

const PixelFormat* SelectedFormat(const DeviceContext* dc,
                                  const uint8_t** bits) {
  const BitmapObject* bm = dc ? FindBitmap(dc->bitmap) : nullptr;
  if (!bm) return nullptr;
  *bits = bm->Bits();
  return &bm->format;
}

int32_t BitmapDC::Width() const {
  const uint8_t* bits;
  const PixelFormat* f = SelectedFormat(this, &bits);
  return f ? f->width : 0;
}

int32_t BitmapDC::Height() const {
  const uint8_t* bits;
  const PixelFormat* f = SelectedFormat(this, &bits);
  return f ? f->height : 0;
}

void BitmapDC::SetPixel(int32_t x, int32_t y, uint32_t colour) {
  BitmapObject* bm = FindBitmap(bitmap);
  if (!bm || x < 0 || y < 0 || x >= bm->format.width || y >= bm->format.height)
    return;
  bm->format.Store(bm->Bits(), x, y, colour);
}

uint32_t BitmapDC::GetPixel(int32_t x, int32_t y) const {
  const uint8_t* bits;
  const PixelFormat* f = SelectedFormat(this, &bits);
  if (!f || x < 0 || y < 0 || x >= f->width || y >= f->height) return 0;
  return f->ColourAt(bits, x, y);
}

}  // namespace

// ---- device contexts -------------------------------------------------------------

MemoryDC::MemoryDC(int32_t width, int32_t height, int32_t rasterCaps)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      caps_(rasterCaps),
      pixels_(static_cast<size_t>(width_) * static_cast<size_t>(height_), 0) {}

void MemoryDC::SetPixel(int32_t x, int32_t y, uint32_t colour) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  pixels_[static_cast<size_t>(y) * width_ + x] = colour & 0xFFFFFF;
}

uint32_t MemoryDC::GetPixel(int32_t x, int32_t y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return pixels_[static_cast<size_t>(y) * width_ + x];
}

HDC RegisterDC(std::unique_ptr<DeviceContext> dc) {
  if (!dc) return nullptr;
  return reinterpret_cast<HDC>(S().dcs.Add(std::move(dc)));
}

DeviceContext* DCFromHandle(HDC dc) { return S().dcs.Find(Id(dc)); }

int32_t GetDeviceCaps(HDC dc, int32_t index) {
  const DeviceContext* d = DCFromHandle(dc);
  if (!d) return 0;
  switch (index) {
    case RASTERCAPS:
      return d->RasterCaps();
    case HORZRES:
      return d->Width();
    case VERTRES:
      return d->Height();
    default:
      return 0;
  }
}

HDC CreateCompatibleDC(HDC dc) {
  if (dc && !DCFromHandle(dc)) return nullptr;
  return RegisterDC(std::make_unique<BitmapDC>());
}

bool DeleteDC(HDC dc) { return S().dcs.Remove(Id(dc)); }

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  DeviceContext* d = DCFromHandle(dc);
  if (!d || !FindBitmap(object)) return nullptr;
  HGDIOBJ previous = d->bitmap;
  d->bitmap = object;
  // A context that held no bitmap answers with a non-null "stock" handle in
  // Windows; null previous here just means nothing to restore.
  return previous;
}

bool DeleteObject(HGDIOBJ object) { return S().objects.Remove(Id(object)); }

// ---- palettes ----------------------------------------------------------------------

HPALETTE CreatePalette(const uint8_t* logPalette) {
  if (!logPalette) return nullptr;
  const uint16_t version = ReadWord(logPalette);
  const uint16_t count = ReadWord(logPalette + 2);
  if (version != kLogPaletteVersion || count == 0) return nullptr;
  PaletteObject pal;
  pal.entries.resize(count);
  for (uint16_t i = 0; i < count; i++)
    pal.entries[i] = ReadPaletteEntry(logPalette + kLogPaletteHeaderSize +
                                      i * kPaletteEntrySize);
  return reinterpret_cast<HPALETTE>(
      S().objects.Add(std::make_unique<GdiObject>(std::move(pal))));
}

HPALETTE SelectPalette(HDC dc, HPALETTE palette, bool forceBackground) {
  DeviceContext* d = DCFromHandle(dc);
  if (!d || !FindPalette(palette)) return nullptr;
  HPALETTE previous = d->palette;
  d->palette = palette;
  d->paletteBackground = forceBackground;
  return previous;
}

uint32_t RealizePalette(HDC dc) {
  DeviceContext* d = DCFromHandle(dc);
  const PaletteObject* pal = d ? FindPalette(d->palette) : nullptr;
  if (!pal) return 0;
  d->realizeCount++;
  return (d->RasterCaps() & RC_PALETTE) ? static_cast<uint32_t>(pal->entries.size())
                                        : 0;
}

uint32_t SetSystemPaletteUse(HDC dc, uint32_t use) {
  DeviceContext* d = DCFromHandle(dc);
  if (!d || (use != SYSPAL_STATIC && use != SYSPAL_NOSTATIC)) return 0;
  const uint32_t previous = d->systemPaletteUse;
  d->systemPaletteUse = use;
  d->systemPaletteUseLog.push_back(use);
  return previous;
}

uint32_t GetPaletteEntries(HPALETTE palette, uint32_t start, uint32_t count,
                           PALETTEENTRY* entries) {
  const PaletteObject* pal = FindPalette(palette);
  if (!pal || start >= pal->entries.size() || !entries) return 0;
  const uint32_t n = std::min<uint32_t>(
      count, static_cast<uint32_t>(pal->entries.size()) - start);
  for (uint32_t i = 0; i < n; i++) entries[i] = pal->entries[start + i];
  return n;
}

// ---- bitmaps -------------------------------------------------------------------------

HBITMAP CreateDIBSection(HDC dc, const uint8_t* bitmapInfo, uint32_t usage,
                         void** bits, void* /*section*/, uint32_t /*offset*/) {
  if (bits) *bits = nullptr;
  if (InjectFault(S().faults.failCreateDIBSection)) return nullptr;
  BitmapObject bm;
  PixelFormat& f = bm.format;
  if (!ParseBitmapInfo(bitmapInfo, usage, DCFromHandle(dc), f)) return nullptr;
  bm.dibSection = true;
  // Packed: the header as given, the colours as RGBQUADs (palette indices
  // resolved) or the three masks, then the rows.
  const int64_t table = f.bitCount == 8 ? int64_t{f.colourCount} * kRgbQuadSize
                        : f.compression == BI_BITFIELDS ? 12
                                                        : 0;
  bm.bitsOffset = kBitmapInfoHeaderSize + table;
  bm.pixels.assign(static_cast<size_t>(bm.bitsOffset + f.stride * f.height), 0);
  BITMAPINFOHEADER h = ReadBitmapInfoHeader(bitmapInfo);
  h.biSize = kBitmapInfoHeaderSize;
  h.biSizeImage = static_cast<uint32_t>(f.stride * f.height);
  WriteBitmapInfoHeader(bm.pixels.data(), h);
  uint8_t* t = bm.pixels.data() + kBitmapInfoHeaderSize;
  for (int32_t i = 0; i < f.colourCount && f.bitCount == 8; i++) {
    RGBQUAD q;
    q.rgbRed = RedOf(f.colours[i]);
    q.rgbGreen = GreenOf(f.colours[i]);
    q.rgbBlue = BlueOf(f.colours[i]);
    WriteRgbQuad(t + i * kRgbQuadSize, q);
  }
  if (table == 12)
    for (int i = 0; i < 3; i++) WriteDword(t + i * 4, f.masks[i]);
  auto object = std::make_unique<GdiObject>(std::move(bm));
  BitmapObject& stored = std::get<BitmapObject>(*object);
  const uintptr_t key = reinterpret_cast<uintptr_t>(stored.pixels.data());
  void* pixels = stored.Bits();
  HBITMAP h2 = reinterpret_cast<HBITMAP>(S().objects.AddAt(key, std::move(object)));
  if (h2 && bits) *bits = pixels;
  return h2;
}

HBITMAP CreateBitmap(int32_t width, int32_t height, uint32_t planes,
                     uint32_t bitCount, const void* bits) {
  if (width <= 0 || height <= 0 || planes != 1 ||
      (bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32))
    return nullptr;
  BitmapObject bm;
  PixelFormat& f = bm.format;
  f.width = width;
  f.height = height;
  f.topDown = true;
  f.bitCount = static_cast<int32_t>(bitCount);
  f.stride = (static_cast<int64_t>(width) * (bitCount / 8) + 1) / 2 * 2;
  if (bitCount == 16) {
    f.masks[0] = 0xF800;
    f.masks[1] = 0x07E0;
    f.masks[2] = 0x001F;
  }
  if (f.stride * height > kMaxBlock) return nullptr;
  bm.pixels.assign(static_cast<size_t>(f.stride * height), 0);
  if (bits) std::memcpy(bm.pixels.data(), bits, bm.pixels.size());
  return reinterpret_cast<HBITMAP>(
      S().objects.Add(std::make_unique<GdiObject>(std::move(bm))));
}

bool GetObject(HGDIOBJ object, BITMAP* out) {
  BitmapObject* bm = FindBitmap(object);
  if (!bm || !out) return false;
  const PixelFormat& f = bm->format;
  *out = BITMAP{};
  out->bmWidth = f.width;
  out->bmHeight = bm->dibSection && f.topDown ? -f.height : f.height;
  out->bmWidthBytes = static_cast<int32_t>(f.stride);
  out->bmPlanes = 1;
  out->bmBitsPixel = static_cast<uint16_t>(f.bitCount);
  out->bmBits = bm->dibSection ? bm->Bits() : nullptr;
  return true;
}

int32_t GetBitmapBits(HBITMAP bitmap, int32_t bytes, void* bits) {
  if (InjectFault(S().faults.failGetBitmapBits)) return 0;
  const BitmapObject* bm = FindBitmap(bitmap);
  if (!bm || !bits || bytes <= 0) return 0;
  const PixelFormat& f = bm->format;
  // Device layout: rows top-down, each padded to 2 bytes.
  const int64_t rowLen = static_cast<int64_t>(f.width) * (f.bitCount / 8);
  const int64_t stride = (rowLen + 1) / 2 * 2;
  auto* out = static_cast<uint8_t*>(bits);
  int64_t done = 0;
  for (int64_t y = 0; y < f.height && done < bytes; y++) {
    const int64_t n = std::min<int64_t>(stride, bytes - done);
    const uint8_t* row = f.Row(bm->Bits(), y);
    const int64_t copy = std::min(n, rowLen);
    std::memcpy(out + done, row, static_cast<size_t>(copy));
    if (n > copy) std::memset(out + done + copy, 0, static_cast<size_t>(n - copy));
    done += n;
  }
  return static_cast<int32_t>(done);
}

int32_t GetDIBits(HDC dc, HBITMAP bitmap, uint32_t start, uint32_t lines,
                  void* bits, uint8_t* bitmapInfo, uint32_t usage) {
  const BitmapObject* bm = FindBitmap(bitmap);
  if (!bm || !bits || !bitmapInfo || !DCFromHandle(dc) || usage != DIB_RGB_COLORS)
    return 0;
  const PixelFormat& src = bm->format;
  BITMAPINFOHEADER h = ReadBitmapInfoHeader(bitmapInfo);
  const int32_t rows = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  if (h.biWidth != src.width || rows != src.height || h.biCompression != BI_RGB)
    return 0;
  if (h.biBitCount != src.bitCount && h.biBitCount != 24 && h.biBitCount != 32)
    return 0;
  PixelFormat out;
  out.width = src.width;
  out.height = rows;
  out.topDown = h.biHeight < 0;
  out.bitCount = h.biBitCount;
  out.stride = DibRowBytes(out.width, out.bitCount);
  out.masks[0] = src.masks[0];
  out.masks[1] = src.masks[1];
  out.masks[2] = src.masks[2];
  auto* o = static_cast<uint8_t*>(bits);
  const int64_t rowLen = static_cast<int64_t>(out.width) * (out.bitCount / 8);
  // Scan lines counted from the bottom, as the DIB convention has them.
  uint32_t done = 0;
  for (uint32_t scan = start; scan < start + lines && scan < uint32_t(rows); scan++) {
    const int64_t y = rows - 1 - static_cast<int64_t>(scan);
    uint8_t* dst = out.Row(o, y);
    const uint8_t* from = src.Row(bm->Bits(), y);
    if (out.bitCount == src.bitCount) {
      std::memcpy(dst, from, static_cast<size_t>(rowLen));
    } else {
      for (int64_t x = 0; x < out.width; x++)
        out.Store(o, x, y, src.ColourAt(bm->Bits(), x, y));
    }
    done++;
  }
  if (out.bitCount == 8) {
    for (int32_t i = 0; i < 256; i++) {
      RGBQUAD q;
      if (i < src.colourCount) {
        q.rgbRed = RedOf(src.colours[i]);
        q.rgbGreen = GreenOf(src.colours[i]);
        q.rgbBlue = BlueOf(src.colours[i]);
      }
      WriteRgbQuad(bitmapInfo + h.biSize + i * kRgbQuadSize, q);
    }
  }
  return static_cast<int32_t>(done);
}

uint32_t GetDIBColorTable(HDC dc, uint32_t start, uint32_t count,
                          uint8_t* rgbQuads) {
  const DeviceContext* d = DCFromHandle(dc);
  const BitmapObject* bm = d ? FindBitmap(d->bitmap) : nullptr;
  if (!bm || !bm->dibSection || bm->format.bitCount > 8 || !rgbQuads) return 0;
  const PixelFormat& f = bm->format;
  if (start >= static_cast<uint32_t>(f.colourCount)) return 0;
  const uint32_t n =
      std::min<uint32_t>(count, static_cast<uint32_t>(f.colourCount) - start);
  for (uint32_t i = 0; i < n; i++) {
    const uint32_t c = f.colours[start + i];
    RGBQUAD q;
    q.rgbRed = RedOf(c);
    q.rgbGreen = GreenOf(c);
    q.rgbBlue = BlueOf(c);
    WriteRgbQuad(rgbQuads + i * kRgbQuadSize, q);
  }
  return n;
}

// ---- drawing -------------------------------------------------------------------------

int32_t SetDIBitsToDevice(HDC dc, int32_t xDest, int32_t yDest, uint32_t width,
                          uint32_t height, int32_t xSrc, int32_t ySrc,
                          uint32_t startScan, uint32_t lines, const void* bits,
                          const uint8_t* bitmapInfo, uint32_t usage) {
  DeviceContext* d = DCFromHandle(dc);
  if (!d || !bits || !(d->RasterCaps() & RC_DIBTODEV)) return 0;
  PixelFormat f;
  if (!ParseBitmapInfo(bitmapInfo, usage, d, f)) return 0;
  const auto* b = static_cast<const uint8_t*>(bits);
  const int64_t firstScan = startScan;
  const int64_t lastScan = std::min<int64_t>(firstScan + lines, f.height);
  for (int64_t r = 0; r < height; r++) {
    // Scan line of this output row, counted from the bottom of the DIB.
    const int64_t scan = static_cast<int64_t>(ySrc) + height - 1 - r;
    if (scan < firstScan || scan >= lastScan) continue;
    const int64_t y = f.height - 1 - scan;
    for (int64_t c = 0; c < width; c++) {
      const int64_t x = static_cast<int64_t>(xSrc) + c;
      if (x < 0 || x >= f.width) continue;
      d->SetPixel(static_cast<int32_t>(xDest + c), static_cast<int32_t>(yDest + r),
                  f.ColourAt(b, x, y));
    }
  }
  return static_cast<int32_t>(lastScan - firstScan);
}

int32_t StretchDIBits(HDC dc, int32_t xDest, int32_t yDest, int32_t destWidth,
                      int32_t destHeight, int32_t xSrc, int32_t ySrc,
                      int32_t srcWidth, int32_t srcHeight, const void* bits,
                      const uint8_t* bitmapInfo, uint32_t usage, uint32_t rop) {
  DeviceContext* d = DCFromHandle(dc);
  if (!d || !bits || rop != SRCCOPY || !(d->RasterCaps() & RC_STRETCHDIB))
    return 0;
  if (destWidth <= 0 || destHeight <= 0 || srcWidth <= 0 || srcHeight <= 0)
    return 0;
  PixelFormat f;
  if (!ParseBitmapInfo(bitmapInfo, usage, d, f)) return 0;
  const auto* b = static_cast<const uint8_t*>(bits);
  for (int64_t r = 0; r < destHeight; r++) {
    const int64_t scan =
        static_cast<int64_t>(ySrc) + srcHeight - 1 - r * srcHeight / destHeight;
    if (scan < 0 || scan >= f.height) continue;
    const int64_t y = f.height - 1 - scan;
    for (int64_t c = 0; c < destWidth; c++) {
      const int64_t x = static_cast<int64_t>(xSrc) + c * srcWidth / destWidth;
      if (x < 0 || x >= f.width) continue;
      d->SetPixel(static_cast<int32_t>(xDest + c), static_cast<int32_t>(yDest + r),
                  f.ColourAt(b, x, y));
    }
  }
  return srcHeight;
}

bool StretchBlt(HDC dest, int32_t x, int32_t y, int32_t width, int32_t height,
                HDC src, int32_t xSrc, int32_t ySrc, int32_t srcWidth,
                int32_t srcHeight, uint32_t rop) {
  DeviceContext* d = DCFromHandle(dest);
  const DeviceContext* s = DCFromHandle(src);
  if (!d || !s || rop != SRCCOPY || width <= 0 || height <= 0 ||
      srcWidth <= 0 || srcHeight <= 0)
    return false;
  const bool same = width == srcWidth && height == srcHeight;
  if (!(d->RasterCaps() & (same ? RC_BITBLT : RC_STRETCHBLT))) return false;
  for (int64_t r = 0; r < height; r++) {
    const int64_t sy = ySrc + r * srcHeight / height;
    for (int64_t c = 0; c < width; c++) {
      const int64_t sx = xSrc + c * srcWidth / width;
      if (sx < 0 || sy < 0 || sx >= s->Width() || sy >= s->Height()) continue;
      d->SetPixel(static_cast<int32_t>(x + c), static_cast<int32_t>(y + r),
                  s->GetPixel(static_cast<int32_t>(sx), static_cast<int32_t>(sy)));
    }
  }
  return true;
}

bool BitBlt(HDC dest, int32_t x, int32_t y, int32_t width, int32_t height,
            HDC src, int32_t xSrc, int32_t ySrc, uint32_t rop) {
  return StretchBlt(dest, x, y, width, height, src, xSrc, ySrc, width, height,
                    rop);
}

// ---- global memory -----------------------------------------------------------------

HGLOBAL GlobalAlloc(uint32_t /*flags*/, uint64_t bytes) {
  if (bytes == 0 || bytes > static_cast<uint64_t>(kMaxBlock)) return nullptr;
  if (InjectFault(S().faults.failGlobalAlloc)) return nullptr;
  auto block = std::make_unique<GlobalBlock>();
  block->bytes.assign(static_cast<size_t>(bytes), 0);
  // Blocks never move, so, as with a fixed block, the handle is the address.
  const uintptr_t key = reinterpret_cast<uintptr_t>(block->bytes.data());
  return reinterpret_cast<HGLOBAL>(S().globals.AddAt(key, std::move(block)));
}

void* GlobalLock(HGLOBAL h) {
  GlobalBlock* b = S().globals.Find(Id(h));
  if (!b || InjectFault(S().faults.failGlobalLock)) return nullptr;
  b->locks++;
  return b->bytes.data();
}

bool GlobalUnlock(HGLOBAL h) {
  GlobalBlock* b = S().globals.Find(Id(h));
  if (!b || b->locks == 0) return false;
  b->locks--;
  return b->locks > 0;
}

HGLOBAL GlobalFree(HGLOBAL h) { return S().globals.Remove(Id(h)) ? nullptr : h; }

uint64_t GlobalSize(HGLOBAL h) {
  const GlobalBlock* b = S().globals.Find(Id(h));
  return b ? b->bytes.size() : 0;
}

// ---- bookkeeping -------------------------------------------------------------------

int32_t ObjectCount() { return S().objects.Count(); }
int32_t DCCount() { return S().dcs.Count(); }
int32_t GlobalCount() { return S().globals.Count(); }
FaultHooks& Faults() { return S().faults; }

}  // namespace Gdi
