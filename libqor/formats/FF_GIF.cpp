#include "formats/FF_GIF.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "formats/FFBasic.h"
#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"

namespace FF_GIF {
namespace {

using ImgBasic::Qimg;

// Reads a tracked file through a 64 KB buffer; positions are absolute.
class Reader {
 public:
  Reader(int32_t handle, int64_t size) : handle_(handle), size_(size) {
    Basic::MemAlloc(buf_, kSize, __LINE__, Basic::kMemPlain, "FF_GIF.GIFOpen.GIFCmpsBuf");
  }
  ~Reader() { Basic::MemFree(buf_); }
  int64_t Pos() const { return pos_; }
  void Seek(int64_t pos) { pos_ = pos; }
  int Byte() {
    if (pos_ >= size_) return -1;
    if (pos_ < start_ || pos_ >= start_ + len_) Fill();
    return buf_[pos_++ - start_];
  }
  bool Read(uint8_t* out, int64_t n) {
    if (n < 0 || n > size_ - pos_) return false;
    // What the buffer holds, then the rest straight from the file.
    int64_t done = 0;
    if (pos_ >= start_ && pos_ < start_ + len_) {
      done = std::min(n, start_ + len_ - pos_);
      std::memcpy(out, buf_ + (pos_ - start_), static_cast<size_t>(done));
      pos_ += done;
    }
    if (done < n) {
      Basic::FSeek(handle_, pos_);
      Basic::FRead(handle_, out + done, n - done);
      pos_ += n - done;
    }
    return true;
  }
  bool Skip(int64_t n) {
    if (n < 0 || pos_ + n > size_) return false;
    pos_ += n;
    return true;
  }
  // Skips sub-blocks up to and including the zero-length one.
  bool SkipSubBlocks() {
    for (;;) {
      const int len = Byte();
      if (len < 0) return false;
      if (len == 0) return true;
      if (!Skip(len)) return false;
    }
  }

 private:
  static constexpr int64_t kSize = 65536;
  void Fill() {
    start_ = pos_;
    len_ = std::min<int64_t>(kSize, size_ - pos_);
    Basic::FSeek(handle_, start_);
    Basic::FRead(handle_, buf_, len_);
  }
  int32_t handle_;
  int64_t size_;
  uint8_t* buf_ = nullptr;
  int64_t pos_ = 0, start_ = 0, len_ = 0;
};

struct FrameHeader {
  int64_t position = 0;  // of the graphic control extension, else the descriptor
  bool hasControl = false;
  uint8_t controlFlags = 0;
  int32_t delay = 0;
  uint8_t transparent = 0;
  GifRect rect;
  uint8_t flags = 0;  // descriptor's packed byte
  bool Interlaced() const { return flags & 0x40; }
  bool HasLocalTable() const { return flags & 0x80; }
  int32_t LocalEntries() const { return 2 << (flags & 7); }
  int32_t Disposal() const { return hasControl ? (controlFlags >> 2) & 7 : 0; }
  int32_t Transparent() const { return hasControl && (controlFlags & 1) ? transparent : -1; }
};

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Finds the next image: extensions before it are read or skipped; with
// strict set, anything else between them ends the search.
bool GetImgHdr(Reader& r, FrameHeader& fh, bool strict) {
  fh = FrameHeader{};
  for (;;) {
    const int64_t pos = r.Pos();
    const int b = r.Byte();
    if (b < 0 || b == 0x3B) return false;
    if (b == 0x21) {
      const int label = r.Byte();
      if (label < 0) return false;
      if (label == 0xF9) {
        uint8_t ext[6];
        if (!r.Read(ext, 6)) return false;
        fh.position = pos;
        fh.hasControl = true;
        fh.controlFlags = ext[1];
        fh.delay = Le16(ext + 2);
        fh.transparent = ext[4];
        // A control block longer than its 4 bytes: skip what follows.
        if (ext[0] != 4 || ext[5] != 0) {
          r.Seek(pos + 3 + ext[0]);
          if (!r.SkipSubBlocks()) return false;
        }
      } else if (!r.SkipSubBlocks()) {
        return false;
      }
    } else if (b == 0x2C) {
      uint8_t d[9];
      if (!r.Read(d, 9)) return false;
      if (!fh.hasControl) fh.position = pos;
      fh.rect = GifRect{Le16(d), Le16(d + 2), Le16(d + 4), Le16(d + 6)};
      fh.flags = d[8];
      return true;
    } else if (strict) {
      return false;
    }
  }
}

// ---- reopen cache ----------------------------------------------------------
// One entry: the last file indexed, keyed on its lower-cased name, size and
// modification time. It keeps a copy of the index, never the handle's own.

struct CacheEntry {
  bool valid = false;
  std::string name;
  int64_t size = 0;
  int64_t mtimeNs = 0;
  GifFile facts;  // with no buffers
  std::vector<int32_t> positions;
};

CacheEntry& Cache() {
  static CacheEntry entry;
  return entry;
}

int32_t g_indexCount = 0;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

int64_t ModTimeNs(const std::string& name) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) return 0;
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

void AddPosition(GifFile* gif, int64_t pos) {
  if (pos > INT32_MAX) {
    Errors::ErrSet(Errors::kErrImageCorrupted, __LINE__);
    return;
  }
  if (FFBasic::FFCapFrames(int64_t{gif->frameCount} + 1, 2, __LINE__) < 0) return;
  if (gif->frameCount % 256 == 0)
    Basic::MemAlloc(gif->positions, (gif->frameCount + 256) * int64_t{sizeof(int32_t)},
                    __LINE__, Basic::kMemPlain, "FF_GIF.GIFChk4ImgFPos_.ImgFPosBlk");
  gif->positions[gif->frameCount++] = static_cast<int32_t>(pos);
}

// Reads a colour table of R,G,B entries as B,G,R; false when the file ends
// first.
bool ReadTable(Reader& r, uint8_t* palette, int32_t entries) {
  uint8_t rgb[768];
  if (!r.Read(rgb, entries * 3)) return false;
  for (int32_t i = 0; i < entries; i++) {
    palette[i * 3] = rgb[i * 3 + 2];
    palette[i * 3 + 1] = rgb[i * 3 + 1];
    palette[i * 3 + 2] = rgb[i * 3];
  }
  return true;
}

void ReadPalette(Reader& r, uint8_t* palette, int32_t entries) {
  if (!ReadTable(r, palette, entries)) Errors::ErrSet(Errors::kErrImageCorrupted, __LINE__);
}

// The table a frame is drawn with, 256 entries (those a local table lacks
// are zero). The reader stands after the frame's descriptor and is left
// after its local table; false when the file ends inside it.
bool FrameTable(Reader& r, const GifFile* gif, const FrameHeader& fh, uint8_t* table) {
  if (!fh.HasLocalTable()) {
    std::memcpy(table, gif->globalPalette, 768);
    return true;
  }
  std::memset(table, 0, 768);
  return ReadTable(r, table, fh.LocalEntries());
}

bool CoversScreen(const GifFile* gif, const GifRect& r) {
  return r.left == 0 && r.top == 0 && r.width == gif->width && r.height == gif->height;
}

// The part of a rectangle that lies on the screen.
GifRect Clip(const GifFile* gif, const GifRect& r) {
  GifRect c;
  c.left = std::min(r.left, gif->width);
  c.top = std::min(r.top, gif->height);
  c.width = std::max(0, std::min(r.left + r.width, gif->width) - c.left);
  c.height = std::max(0, std::min(r.top + r.height, gif->height) - c.top);
  return c;
}

// Follows, while indexing, which colour tables drew the pixels on the
// canvas. A frame that leaves pixels showing that another table drew (or
// pixels of more than one) cannot be delivered as indices of one palette.
class TableTracker {
 public:
  explicit TableTracker(const GifFile* gif) : gif_(gif) {
    std::memcpy(shown_, gif->globalPalette, 768);
    // Without a global table the screen starts as index 0 of whatever
    // table the first frame brings.
    any_ = gif->background < 0;
  }

  // Takes the next frame; true when it needs composing in colour.
  bool Frame(const FrameHeader& fh, const uint8_t* table) {
    const GifRect c = Clip(gif_, fh.rect);
    const bool covers =
        c.width == gif_->width && c.height == gif_->height && fh.Transparent() < 0;
    const bool clash = !covers && !any_ && (mixed_ || std::memcmp(table, shown_, 768) != 0);
    const bool restoresOther = mixed_ || (!any_ && std::memcmp(table, shown_, 768) != 0);
    std::memcpy(shown_, table, 768);
    any_ = false;
    mixed_ = false;
    // What the frame's disposal leaves for the next one: the background
    // colour of the global table, or the pixels from before it.
    if (fh.Disposal() == 2 && gif_->background >= 0 &&
        std::memcmp(table, gif_->globalPalette, 768) != 0)
      mixed_ = true;
    if (fh.Disposal() == 3 && restoresOther) mixed_ = true;
    return clash;
  }

 private:
  const GifFile* gif_;
  uint8_t shown_[768];
  bool any_ = false;
  bool mixed_ = false;
};

// Copies rows of a rectangle of bytesPerRow bytes between two strides.
void CopyRows(uint8_t* to, int64_t toStride, const uint8_t* from, int64_t fromStride,
              int32_t rows, int64_t bytesPerRow) {
  for (int32_t y = 0; y < rows; y++)
    std::memcpy(to + y * toStride, from + y * fromStride, static_cast<size_t>(bytesPerRow));
}

// The start of a canvas pixel in the index canvas (bytes 1) or the colour
// canvas (bytes 3).
uint8_t* CanvasAt(const GifFile* gif, uint8_t* canvas, int32_t x, int32_t y, int bytes) {
  return canvas + (static_cast<int64_t>(y) * gif->width + x) * bytes;
}

// Fills a rectangle with the background: its index and, in true colour,
// its colour in the global table.
void FillRect(GifFile* gif, const GifRect& rect) {
  const GifRect c = Clip(gif, rect);
  const int32_t index = std::max(0, gif->background);
  const uint8_t* colour = gif->globalPalette + index * 3;
  for (int32_t y = 0; y < c.height; y++) {
    std::memset(CanvasAt(gif, gif->canvas, c.left, c.top + y, 1), index,
                static_cast<size_t>(c.width));
    if (!gif->rgbCanvas) continue;
    uint8_t* p = CanvasAt(gif, gif->rgbCanvas, c.left, c.top + y, 3);
    for (int32_t x = 0; x < c.width; x++, p += 3) std::memcpy(p, colour, 3);
  }
}

// Keeps the pixels under a disposal-3 frame (its clipped rectangle).
void SaveRect(GifFile* gif, const GifRect& c) {
  Basic::MemAlloc(gif->saved, int64_t{c.width} * c.height, __LINE__, Basic::kMemPlain,
                  "FF_GIF.GIFLoadNext.gf.PrevImg");
  CopyRows(gif->saved, c.width, CanvasAt(gif, gif->canvas, c.left, c.top, 1), gif->width,
           c.height, c.width);
  if (!gif->rgbCanvas) return;
  Basic::MemAlloc(gif->savedRgb, int64_t{c.width} * c.height * 3, __LINE__, Basic::kMemPlain,
                  "FF_GIF.GIFLoadNext.gf.PrevRgb");
  CopyRows(gif->savedRgb, int64_t{c.width} * 3, CanvasAt(gif, gif->rgbCanvas, c.left, c.top, 3),
           int64_t{gif->width} * 3, c.height, int64_t{c.width} * 3);
}

void RestoreRect(GifFile* gif) {
  const GifRect& c = gif->savedRect;
  CopyRows(CanvasAt(gif, gif->canvas, c.left, c.top, 1), gif->width, gif->saved, c.width,
           c.height, c.width);
  if (gif->rgbCanvas && gif->savedRgb)
    CopyRows(CanvasAt(gif, gif->rgbCanvas, c.left, c.top, 3), int64_t{gif->width} * 3,
             gif->savedRgb, int64_t{c.width} * 3, c.height, int64_t{c.width} * 3);
}

}  // namespace

void GIFCacheClear() {
  Cache() = CacheEntry{};
}

int32_t GIFIndexCount() { return g_indexCount; }

bool GIFDecodeLZW_(const uint8_t* data, int64_t size, uint8_t* out, int64_t count) {
  Errors::TraceScope trace("FF_GIF.GIFDecodeLZW_");
  if (size < 1) return false;
  const int codeSize = data[0];
  if (codeSize < 1 || codeSize > 11) return false;
  const int clear = 1 << codeSize;
  const int end = clear + 1;
  std::vector<uint16_t> prefix(4096);
  std::vector<uint8_t> suffix(4096), stack(4097);
  for (int i = 0; i < clear; i++) suffix[i] = static_cast<uint8_t>(i);
  int width = codeSize + 1;
  int next = clear + 2;
  int prev = -1;
  uint8_t first = 0;
  uint32_t acc = 0;
  int bits = 0;
  int64_t pos = 1;
  int64_t blockLeft = 0;
  int64_t written = 0;
  while (written < count) {
    while (bits < width) {
      if (blockLeft == 0) {
        if (pos >= size) return true;  // data ended: keep what was decoded
        blockLeft = data[pos++];
        if (blockLeft == 0) return true;
      }
      if (pos >= size) return true;
      acc |= static_cast<uint32_t>(data[pos++]) << bits;
      bits += 8;
      blockLeft--;
    }
    const int code = static_cast<int>(acc & ((1u << width) - 1));
    acc >>= width;
    bits -= width;
    if (code == clear) {
      width = codeSize + 1;
      next = clear + 2;
      prev = -1;
      continue;
    }
    if (code == end) return true;
    int sp = 0;
    int cur = code;
    if (prev < 0) {
      if (code >= clear) return false;
    } else if (code >= next) {
      if (code > next || next >= 4096) return false;
      stack[sp++] = first;
      cur = prev;
    }
    while (cur >= clear) {
      if (sp >= 4096) return false;
      stack[sp++] = suffix[cur];
      cur = prefix[cur];
    }
    first = static_cast<uint8_t>(cur);
    stack[sp++] = first;
    while (sp > 0 && written < count) out[written++] = stack[--sp];
    if (prev >= 0 && next < 4096) {
      prefix[next] = static_cast<uint16_t>(prev);
      suffix[next] = first;
      next++;
      if (next == (1 << width) && width < 12) width++;
    }
    prev = code;
  }
  return true;
}

void GIFunInterlace_(const uint8_t* in, uint8_t* out, int32_t width, int32_t height) {
  static const int kStart[4] = {0, 4, 2, 1};
  static const int kStep[4] = {8, 8, 4, 2};
  int64_t src = 0;
  for (int pass = 0; pass < 4; pass++)
    for (int64_t y = kStart[pass]; y < height; y += kStep[pass], src++)
      std::memcpy(out + y * width, in + src * width, static_cast<size_t>(width));
}

namespace {

// Finds the frames after the header: the first only, or all of them (from
// the reopen cache when the file is the one indexed last), with their rate,
// whether later frames leave earlier ones showing, and whether the frames
// need composing in colour.
void IndexFrames(GifFile* gif, Reader& r, const std::string& fileName, bool firstOnly) {
  FrameHeader fh;
  uint8_t table[768];
  TableTracker tables(gif);
  if (firstOnly) {
    if (GetImgHdr(r, fh, false)) {
      AddPosition(gif, fh.position);
      gif->fps = fh.delay > 0 ? 100.0 / fh.delay : 0;
      gif->trueColour = FrameTable(r, gif, fh, table) && tables.Frame(fh, table);
    }
    return;
  }
  CacheEntry& cache = Cache();
  const std::string key = Lower(fileName);
  const int64_t mtime = ModTimeNs(fileName);
  if (cache.valid && cache.name == key && cache.size == gif->fileSize &&
      cache.mtimeNs == mtime) {
    gif->fps = cache.facts.fps;
    gif->partialFrames = cache.facts.partialFrames;
    gif->trueColour = cache.facts.trueColour;
    for (int32_t p : cache.positions) AddPosition(gif, p);
    return;
  }
  g_indexCount++;
  int64_t delays = 0;
  while (GetImgHdr(r, fh, gif->frameCount > 0)) {
    AddPosition(gif, fh.position);
    if (!FrameTable(r, gif, fh, table)) break;
    if (tables.Frame(fh, table)) gif->trueColour = true;
    delays += fh.delay;
    // Later frames that leave parts of the canvas showing (smaller, or
    // with transparent pixels) need the frames before them.
    if (gif->frameCount > 1 && (!CoversScreen(gif, fh.rect) || fh.Transparent() >= 0))
      gif->partialFrames = true;
    if (r.Byte() < 0 || !r.SkipSubBlocks()) break;
  }
  gif->fps = delays > 0 ? gif->frameCount * 100.0 / static_cast<double>(delays) : 0;
  cache = CacheEntry{};
  cache.valid = true;
  cache.name = key;
  cache.size = gif->fileSize;
  cache.mtimeNs = mtime;
  cache.facts.fps = gif->fps;
  cache.facts.partialFrames = gif->partialFrames;
  cache.facts.trueColour = gif->trueColour;
  cache.positions.assign(gif->positions, gif->positions + gif->frameCount);
}

}  // namespace

void GIFOpen(GifFile* gif, const std::string& fileName, bool firstOnly) {
  Errors::Monitored("FF_GIF.GIFOpen", [&] {
    *gif = GifFile{};
    Errors::MonSetCleanup([gif] { *gif = GifFile{}; });
    int32_t h = Basic::K_AUTO;
    Basic::FOpen(h, fileName, Basic::kOpenRead);
    gif->handle = h;
    gif->open = true;
    gif->fileSize = Basic::FSize(h);
    Reader r(h, gif->fileSize);
    uint8_t head[13];
    if (!r.Read(head, 13) || std::memcmp(head, "GIF", 3) != 0 ||
        (std::memcmp(head + 3, "87a", 3) != 0 && std::memcmp(head + 3, "89a", 3) != 0)) {
      Errors::ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    gif->width = Le16(head + 6);
    gif->height = Le16(head + 8);
    if (head[10] & 0x80) {
      ReadPalette(r, gif->globalPalette, 2 << (head[10] & 7));
      gif->background = head[11];
    }
    if (gif->width > 0 && gif->height > 0) {
      if (FFBasic::FFCapImage(gif->width, gif->height, 8, 2, __LINE__) < 0) return;
      Basic::MemAlloc(gif->canvas, int64_t{gif->width} * gif->height, __LINE__,
                      Basic::kMemPlain, "FF_GIF.GIFOpen.canvas");
    }
    IndexFrames(gif, r, fileName, firstOnly);
    if (gif->trueColour && gif->canvas) {
      if (FFBasic::FFCapImage(gif->width, gif->height, 24, 2, __LINE__) < 0) return;
      gif->bytesPerPixel = 3;
      gif->bitsPerPixel = 24;
      Basic::MemAlloc(gif->rgbCanvas, int64_t{gif->width} * gif->height * 3, __LINE__,
                      Basic::kMemPlain, "FF_GIF.GIFOpen.rgbCanvas");
    }
  });
}

namespace {

// Composes frame index onto the canvas.
void DecodeFrame(GifFile* gif, int32_t index) {
  // A screen of no size has no canvas, and only indexed frames exist.
  if (!gif->canvas || index < 0 || index >= gif->frameCount) {
    Errors::ErrSet(Errors::kErrMovieEnd, __LINE__);
    return;
  }
  // Dispose of the previous frame first; the first frame starts on the
  // background.
  if (index == 0) FillRect(gif, GifRect{0, 0, gif->width, gif->height});
  if (index > 0 && gif->canvasFrame == index) {
    if (gif->lastDisposal == 2) FillRect(gif, gif->lastRect);
    if (gif->lastDisposal == 3 && gif->saved) RestoreRect(gif);
  }
  Basic::MemFree(gif->saved);
  Basic::MemFree(gif->savedRgb);
  gif->canvasFrame = 0;  // until this frame is composed

  Reader r(gif->handle, gif->fileSize);
  r.Seek(gif->positions[index]);
  FrameHeader fh;
  if (!GetImgHdr(r, fh, false)) {
    Errors::ErrSet(Errors::kErrImageCorrupted, __LINE__);
    return;
  }
  gif->transparent = fh.Transparent();
  const GifRect rect = fh.rect;
  const GifRect clip = Clip(gif, rect);
  if (fh.Disposal() == 3 && clip.width > 0 && clip.height > 0) SaveRect(gif, clip);
  gif->savedRect = clip;
  if (!FrameTable(r, gif, fh, gif->canvasPalette)) {
    Errors::ErrSet(Errors::kErrImageCorrupted, __LINE__);
    return;
  }
  if (fh.HasLocalTable()) {
    gif->newPalette = true;
    gif->prevHadLocal = true;
  } else {
    if (index <= 1 || gif->prevHadLocal) gif->newPalette = true;
    gif->prevHadLocal = false;
  }
  // The compressed data runs to the next frame, or to the end of the file.
  const int64_t start = r.Pos();
  const int64_t stop = index + 1 < gif->frameCount ? gif->positions[index + 1] : gif->fileSize;
  const int64_t size = std::max<int64_t>(0, stop - start);
  uint8_t* data = nullptr;
  Basic::MemAlloc(data, std::max<int64_t>(size, 1), __LINE__, Basic::kMemPlain,
                  "FF_GIF.GIFLoadNext.data");
  if (!r.Read(data, size)) {
    Errors::ErrSet(Errors::kErrImageCorrupted, __LINE__);
    return;
  }
  const int64_t pixels = int64_t{rect.width} * rect.height;
  uint8_t* frame = nullptr;
  if (pixels > 0) {
    Basic::MemAlloc(frame, pixels * 2, __LINE__, Basic::kMemPlain, "FF_GIF.GIFLoadNext.GIFLZWChBuf");
    // Pixels the data does not reach stay transparent where there is an index.
    std::memset(frame, gif->transparent >= 0 ? gif->transparent : 0, static_cast<size_t>(pixels));
    if (!GIFDecodeLZW_(data, size, frame, pixels)) {
      Errors::ErrSet(Errors::kErrImageDecompress, __LINE__);
      return;
    }
    const uint8_t* src = frame;
    if (fh.Interlaced()) {
      GIFunInterlace_(frame, frame + pixels, rect.width, rect.height);
      src = frame + pixels;
    }
    // Every frame is clipped to the screen; transparent pixels keep the
    // canvas. In true colour each pixel also takes its colour from this
    // frame's table.
    for (int32_t y = 0; y < clip.height; y++) {
      const uint8_t* in = src + static_cast<int64_t>(y) * rect.width;
      uint8_t* out = CanvasAt(gif, gif->canvas, clip.left, clip.top + y, 1);
      uint8_t* rgb = gif->rgbCanvas ? CanvasAt(gif, gif->rgbCanvas, clip.left, clip.top + y, 3)
                                    : nullptr;
      for (int32_t x = 0; x < clip.width; x++) {
        if (in[x] == gif->transparent) continue;
        out[x] = in[x];
        if (rgb) std::memcpy(rgb + x * 3, gif->canvasPalette + in[x] * 3, 3);
      }
    }
    Basic::MemFree(frame);
  }
  Basic::MemFree(data);
  gif->lastRect = rect;
  gif->lastDisposal = fh.Disposal();
  gif->canvasFrame = index + 1;
  gif->nextFrame = index + 1;
}

// Delivers the composed frame, and with an alpha image its mask: 0 where
// the canvas holds the transparent index, 255 elsewhere (everywhere for a
// frame without one).
void CopyOut(GifFile* gif, Qimg* image, Qimg* alpha) {
  if (!ImgBasic::ImgIsValid(image) || image->width != gif->width ||
      image->height != gif->height || image->bitsPerPixel != gif->bitsPerPixel)
    ImgBasic::_imgalloc_(image, gif->width, gif->height, "FF_GIF.GIFLoadNext.image", __LINE__,
                         gif->bitsPerPixel);
  const size_t n = static_cast<size_t>(gif->width) * gif->height;
  if (gif->rgbCanvas) {
    std::memcpy(image->data, gif->rgbCanvas, n * 3);
  } else {
    std::memcpy(image->data, gif->canvas, n);
    std::memcpy(image->palette, gif->canvasPalette, 768);
  }
  if (!alpha) return;
  ImgBasic::_imgalloc_(alpha, gif->width, gif->height, "FF_GIF.GIFLoadNext.imgAlpha^",
                       __LINE__, 8);
  ImgBasic::PalMakeGrey(alpha->palette);
  for (size_t i = 0; i < n; i++)
    alpha->data[i] = gif->transparent >= 0 && gif->canvas[i] == gif->transparent ? 0 : 255;
}

}  // namespace

void GIFLoadNext(GifFile* gif, ImgBasic::Qimg* image, ImgBasic::Qimg* alpha) {
  Errors::Monitored("FF_GIF.GIFLoadNext", [&] {
    if (!gif->open || gif->frameCount == 0 || !gif->canvas) {
      Errors::ErrSet(Errors::kErrMovieEnd, __LINE__);
      return;
    }
    if (gif->nextFrame >= gif->frameCount) {
      Errors::ErrSet(Errors::kErrMovieEnd, __LINE__);
      return;
    }
    gif->newPalette = false;
    // The canvas must hold the frame before; otherwise start again.
    if (gif->canvasFrame != gif->nextFrame && gif->partialFrames) {
      const int32_t target = gif->nextFrame;
      gif->canvasFrame = 0;
      for (int32_t i = 0; i < target; i++) DecodeFrame(gif, i);
    }
    DecodeFrame(gif, gif->nextFrame);
    CopyOut(gif, image, alpha);
  });
}

void GIFLoad(GifFile* gif, ImgBasic::Qimg* image, int32_t frame, int32_t flags,
             ImgBasic::Qimg* alpha) {
  (void)flags;  // the reader continues from its own canvas, never the image
  Errors::Monitored("FF_GIF.GIFLoad", [&] {
    if (frame < 0 || frame > gif->frameCount) {
      Errors::ErrSet(Errors::kErrMovieFormat, __LINE__);
      return;
    }
    if (frame == 0) frame = gif->nextFrame + 1;
    if (frame == gif->canvasFrame && frame > 0) {
      gif->newPalette = false;
      CopyOut(gif, image, alpha);
      return;
    }
    const bool forward = gif->canvasFrame > 0 && frame > gif->canvasFrame;
    if (!gif->partialFrames) {
      // Every frame covers the screen: jump straight to it.
      gif->nextFrame = frame - 1;
      GIFLoadNext(gif, image, alpha);
      return;
    }
    bool newPalette = false;
    int32_t from = forward ? gif->canvasFrame : 0;
    if (!forward) gif->canvasFrame = 0;
    for (int32_t i = from; i < frame - 1; i++) {
      DecodeFrame(gif, i);
      newPalette = newPalette || gif->newPalette;
    }
    gif->nextFrame = frame - 1;
    GIFLoadNext(gif, image, alpha);
    gif->newPalette = gif->newPalette || newPalette || !forward;
  });
}

void GIFClose(GifFile* gif) {
  Errors::Monitored("FF_GIF.GIFClose", [&] {
    if (!gif->open) return;
    Basic::MemFree(gif->saved);
    Basic::MemFree(gif->savedRgb);
    Basic::MemFree(gif->positions);
    Basic::MemFree(gif->canvas);
    Basic::MemFree(gif->rgbCanvas);
    Basic::FClose(gif->handle);
    *gif = GifFile{};
  });
}

void GIFInfo(const std::string& fileName, ConForm::FFInfoRec* info,
             bool allFrames) {
  Errors::Monitored("FF_GIF.GIFInfo", [&] {
    GifFile gif;
    GIFOpen(&gif, fileName, !allFrames);
    ConForm::FFInfoStill(info, static_cast<double>(gif.fileSize), gif.width,
                         gif.height, gif.bytesPerPixel, gif.bitsPerPixel,
                         "Variable-Length-Code LZW (Lempel-Ziv & Welch)",
                         gif.width > 0, gif.width > 0);
    info->picture.frameCount = gif.frameCount;
    info->picture.fps = gif.fps;
    GIFClose(&gif);
  });
}

}  // namespace FF_GIF
