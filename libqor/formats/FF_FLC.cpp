#include "formats/FF_FLC.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "formats/FFBasic.h"
#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"

namespace FF_FLC {
namespace {

using ImgBasic::Qimg;

using FFBasic::Get16L;
using FFBasic::Get32L;
using FFBasic::Put16L;
using FFBasic::Put32L;

// A cursor over untrusted bytes: every read is checked against the end.
class Cursor {
 public:
  Cursor(const uint8_t* data, int64_t size) : p_(data), end_(data + size) {}
  bool Has(int64_t n) const { return n >= 0 && end_ - p_ >= n; }
  uint8_t U8() { return Has(1) ? *p_++ : (ok_ = false, 0); }
  int8_t S8() { return static_cast<int8_t>(U8()); }
  uint16_t U16() {
    if (!Has(2)) return ok_ = false, 0;
    const uint16_t v = Get16L(p_);
    p_ += 2;
    return v;
  }
  const uint8_t* Take(int64_t n) {
    if (!Has(n)) return ok_ = false, nullptr;
    const uint8_t* at = p_;
    p_ += n;
    return at;
  }
  bool Ok() const { return ok_; }
  bool AtEnd() const { return p_ >= end_; }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
  bool ok_ = true;
};

// Writes n bytes at column x of a row, clipped to the row's end.
void PutBytes(uint8_t* row, int32_t width, int64_t x, const uint8_t* src, int64_t n) {
  if (x >= width || n <= 0) return;
  std::memcpy(row + x, src, static_cast<size_t>(std::min<int64_t>(n, width - x)));
}
void FillBytes(uint8_t* row, int32_t width, int64_t x, uint8_t v, int64_t n) {
  if (x >= width || n <= 0) return;
  std::memset(row + x, v, static_cast<size_t>(std::min<int64_t>(n, width - x)));
}

bool DecodeDeltaFlc(Cursor& c, uint8_t* canvas, int32_t width, int32_t height) {
  int64_t lines = c.U16();
  int64_t y = 0;
  while (lines > 0 && y < height && c.Ok()) {
    const uint16_t w = c.U16();
    if (!c.Ok()) break;
    if ((w & 0xC000) == 0xC000) {  // skip lines
      y += 0x10000 - w;
      continue;
    }
    uint8_t* row = canvas + y * width;
    if ((w & 0xC000) == 0x8000) {  // the last pixel of an odd-width line
      row[width - 1] = static_cast<uint8_t>(w & 0xFF);
      continue;
    }
    int64_t x = 0;
    for (uint32_t p = 0; p < w && c.Ok(); p++) {
      x += c.U8();
      const int8_t count = c.S8();
      if (count < 0) {
        const uint8_t* word = c.Take(2);
        if (!word) break;
        for (int k = 0; k < -count; k++, x += 2) {
          PutBytes(row, width, x, word, 2);
        }
      } else {
        const uint8_t* words = c.Take(2 * int64_t{count});
        if (!words) break;
        PutBytes(row, width, x, words, 2 * int64_t{count});
        x += 2 * int64_t{count};
      }
    }
    y++;
    lines--;
  }
  return c.Ok();
}

bool DecodeDeltaFli(Cursor& c, uint8_t* canvas, int32_t width, int32_t height) {
  int64_t y = c.U16();
  const int64_t lines = c.U16();
  for (int64_t l = 0; l < lines && y < height && c.Ok(); l++, y++) {
    uint8_t* row = canvas + y * width;
    const int packets = c.U8();
    int64_t x = 0;
    for (int p = 0; p < packets && c.Ok(); p++) {
      x += c.U8();
      const int8_t count = c.S8();
      if (count < 0) {
        const uint8_t v = c.U8();
        FillBytes(row, width, x, v, -count);
        x -= count;
      } else {
        const uint8_t* src = c.Take(count);
        if (!src) break;
        PutBytes(row, width, x, src, count);
        x += count;
      }
    }
  }
  return c.Ok();
}

bool DecodeByteRun(Cursor& c, uint8_t* canvas, int32_t width, int32_t height) {
  for (int64_t y = 0; y < height && !c.AtEnd() && c.Ok(); y++) {
    uint8_t* row = canvas + y * width;
    c.U8();  // packet count: the line ends by its width instead
    int64_t x = 0;
    while (x < width && c.Ok()) {
      const int8_t count = c.S8();
      if (count < 0) {
        const uint8_t* src = c.Take(-int64_t{count});
        if (!src) break;
        PutBytes(row, width, x, src, -count);
        x -= count;
      } else {
        const uint8_t v = c.U8();
        FillBytes(row, width, x, v, count);
        x += count;
      }
    }
  }
  return c.Ok();
}

void ReadColourMap(Cursor& c, uint8_t* palette, bool sixBit) {
  const int packets = c.U16();
  int index = 0;
  for (int p = 0; p < packets && c.Ok(); p++) {
    index += c.U8();
    int count = c.U8();
    if (count == 0) count = 256;
    const uint8_t* rgb = c.Take(3 * int64_t{count});
    if (!rgb) return;
    for (int k = 0; k < count; k++, index++) {
      if (index >= 256) break;  // ranges past the table are clipped
      const int scale = sixBit ? 4 : 1;
      palette[index * 3] = static_cast<uint8_t>(rgb[k * 3 + 2] * scale);
      palette[index * 3 + 1] = static_cast<uint8_t>(rgb[k * 3 + 1] * scale);
      palette[index * 3 + 2] = static_cast<uint8_t>(rgb[k * 3] * scale);
    }
  }
}

void ReadAt(FlcFile* flc, int64_t pos, void* data, int64_t bytes) {
  FFBasic::FFReadAt(flc->handle, flc->fileSize, pos, data, bytes, Errors::kErrImageInvalid,
                    __LINE__);
}

// Some writers leave out the pad byte that evens the size of the last
// frame chunk. Such a chunk is still read when the bytes missing are no
// more than that padding: every sub-chunk it declares lies in the file.
constexpr int64_t kFramePadding = 1;
constexpr int64_t kFrameHeaderSize = 16;

// Whether every sub-chunk the frame chunk at pos declares lies within its
// first `held` bytes.
bool SubChunksWithin(FlcFile* flc, int64_t pos, int64_t held) {
  if (held < kFrameHeaderSize) return false;
  uint8_t head[kFrameHeaderSize];
  ReadAt(flc, pos, head, kFrameHeaderSize);
  const int subs = Get16L(head + 6);
  int64_t off = kFrameHeaderSize;
  for (int s = 0; s < subs; s++) {
    if (off + 6 > held) return false;
    uint8_t sub[6];
    ReadAt(flc, pos + off, sub, 6);
    const int64_t subSize = Get32L(sub);
    if (subSize < 6 || off + subSize > held) return false;
    off += subSize;
  }
  return true;
}

// The bytes of the chunk at pos that are read: its whole size, or what the
// file holds of a frame chunk short of its padding alone; -1 when the chunk
// is cut.
int64_t ReadableChunkBytes(FlcFile* flc, int64_t pos, int64_t size, uint16_t type) {
  const int64_t held = std::min(size, flc->fileSize - pos);
  if (held == size) return size;
  if (type == kFrameChunk && size - held <= kFramePadding &&
      SubChunksWithin(flc, pos, held))
    return held;
  return -1;
}

// The frame chunks that lie in the file, up to the count the header gives:
// a file cut short holds fewer.
int32_t WholeFrames(FlcFile* flc) {
  int32_t frames = 0;
  int64_t pos = kHeaderSize;
  while (frames < flc->header.frames && pos + 6 <= flc->fileSize) {
    uint8_t head[6];
    ReadAt(flc, pos, head, 6);
    const int64_t size = Get32L(head);
    if (size < 6 || ReadableChunkBytes(flc, pos, size, Get16L(head + 4)) < 0) break;
    if (Get16L(head + 4) == kFrameChunk) frames++;
    pos += size;
  }
  return frames;
}

// The file ends before the frames its header announces.
void WarnCut() { Errors::WarnSet(Errors::kErrFlicEnd, __LINE__); }

// Reads the next frame chunk and applies it to the canvas.
void ReadFrame(FlcFile* flc) {
  const int32_t w = flc->header.width, h = flc->header.height;
  for (;;) {
    uint8_t head[6];
    ReadAt(flc, flc->position, head, 6);
    const int64_t size = Get32L(head);
    const uint16_t type = Get16L(head + 4);
    // A chunk smaller than its own header would never move on.
    const int64_t held = size < 6 ? -1 : ReadableChunkBytes(flc, flc->position, size, type);
    if (held < 0) {
      Errors::ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    if (type != kFrameChunk) {
      flc->position += size;
      continue;
    }
    if (size < kFrameHeaderSize) {
      Errors::ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    uint8_t* chunk = nullptr;
    Basic::MemAlloc(chunk, size + 1024, __LINE__, Basic::kMemPlain,
                    "FF_FLC.FLCLoadNext.ff.cmpsdata");
    ReadAt(flc, flc->position, chunk, held);
    const int subs = Get16L(chunk + 6);
    int64_t off = kFrameHeaderSize;
    for (int s = 0; s < subs; s++) {
      if (off + 6 > held) break;
      const int64_t subSize = Get32L(chunk + off);
      const uint16_t subType = Get16L(chunk + off + 4);
      if (subSize < 6 || off + subSize > held) {
        Errors::ErrSet(Errors::kErrMovieDecompress, __LINE__);
        return;
      }
      Cursor c(chunk + off + 6, subSize - 6);
      switch (subType) {
        case kColor256:
        case kColor64:
          ReadColourMap(c, flc->canvasPalette, subType == kColor64);
          flc->newPalette = true;
          break;
        case kDeltaFlc:
        case kDeltaFli:
        case kByteRun:
          if (!FLCunCmps_(subType, chunk + off + 6, subSize - 6, flc->canvas, w, h)) {
            Errors::ErrSet(Errors::kErrMovieDecompress, __LINE__);
            return;
          }
          break;
        case kBlack:
          std::memset(flc->canvas, 0, static_cast<size_t>(w) * h);
          break;
        case kLiteral: {
          const uint8_t* px = c.Take(int64_t{w} * h);
          if (!px) {
            Errors::ErrSet(Errors::kErrMovieDecompress, __LINE__);
            return;
          }
          std::memcpy(flc->canvas, px, static_cast<size_t>(w) * h);
          break;
        }
        default:
          break;
      }
      off += subSize;
    }
    Basic::MemFree(chunk);
    flc->position += size;
    flc->framesRead++;
    return;
  }
}

void CopyOut(FlcFile* flc, Qimg* image) {
  const int32_t w = flc->header.width, h = flc->header.height;
  if (!ImgBasic::ImgIsValid(image) || image->width != w || image->height != h ||
      image->bitsPerPixel != 8)
    ImgBasic::_imgalloc_(image, w, h, "FF_FLC.FLCLoadNext.image", __LINE__, 8);
  std::memcpy(image->data, flc->canvas, static_cast<size_t>(w) * h);
  std::memcpy(image->palette, flc->canvasPalette, 768);
}

std::string Lower(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

}  // namespace

double FLCSpeedToFps(uint32_t speed, const std::string& fileName) {
  if (speed == 0) return 0;
  const std::string lower = Lower(fileName);
  const bool fli = lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".fli") == 0;
  const double fps = fli ? 70.0 / speed : 1000.0 / speed;
  return std::round(fps * 10) / 10;
}

bool FLCunCmps_(uint16_t type, const uint8_t* data, int64_t size, uint8_t* canvas,
                int32_t width, int32_t height) {
  Errors::TraceScope trace("FF_FLC.FLCunCmps_");
  Cursor c(data, size);
  switch (type) {
    case kDeltaFlc:
      return DecodeDeltaFlc(c, canvas, width, height);
    case kDeltaFli:
      return DecodeDeltaFli(c, canvas, width, height);
    case kByteRun:
      return DecodeByteRun(c, canvas, width, height);
    default:
      return false;
  }
}

void FLCOpen(FlcFile* flc, const std::string& fileName) {
  Errors::Monitored("FF_FLC.FLCOpen", [&] {
    *flc = FlcFile{};
    Errors::MonSetCleanup([flc] { *flc = FlcFile{}; });
    int32_t h = Basic::K_AUTO;
    Basic::FOpen(h, fileName, Basic::kOpenRead);
    flc->handle = h;
    flc->open = true;
    flc->fileSize = Basic::FSize(h);
    uint8_t raw[kHeaderSize];
    ReadAt(flc, 0, raw, kHeaderSize);
    FlcHeader& hd = flc->header;
    hd.fileSize = Get32L(raw);
    hd.magic = Get16L(raw + 4);
    hd.frames = Get16L(raw + 6);
    hd.width = Get16L(raw + 8);
    hd.height = Get16L(raw + 10);
    hd.depth = Get16L(raw + 12);
    hd.flags = Get16L(raw + 14);
    hd.speed = Get32L(raw + 16);
    hd.aspectX = Get16L(raw + 38);
    hd.aspectY = Get16L(raw + 40);
    hd.firstFrame = Get32L(raw + 80);
    if (hd.magic != kMagicFli && hd.magic != kMagicFlc) {
      Errors::ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    // Old FLI files may leave the screen size out: they are 320 × 200.
    if (hd.magic == kMagicFli && (hd.width == 0 || hd.height == 0)) {
      hd.width = 320;
      hd.height = 200;
    }
    if (hd.width == 0 || hd.height == 0) {
      Errors::ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    flc->fps = FLCSpeedToFps(hd.speed, fileName);
    flc->position = kHeaderSize;
    const int32_t whole = WholeFrames(flc);
    flc->cut = whole < hd.frames;
    hd.frames = static_cast<uint16_t>(whole);
    if (FFBasic::FFCapImage(hd.width, hd.height, 8, 2, __LINE__) < 0) return;
    Basic::MemAlloc(flc->canvas, int64_t{hd.width} * hd.height, __LINE__,
                    Basic::kMemPlain, "FF_FLC.FLCOpen.canvas");
    if (flc->cut) WarnCut();
  });
}

void FLCRewind(FlcFile* flc) {
  Errors::TraceScope trace("FF_FLC.FLCRewind");
  flc->position = kHeaderSize;
  flc->framesRead = 0;
  if (flc->canvas)
    std::memset(flc->canvas, 0, static_cast<size_t>(flc->header.width) * flc->header.height);
}

// Decoding is never skipped on the reader's own canvas: every later delta
// frame needs it. Skipping only spares the copy to the caller's image.
void FLCLoadNext(FlcFile* flc, ImgBasic::Qimg* image, bool skipDecoding) {
  Errors::Monitored("FF_FLC.FLCLoadNext", [&] {
    if (!flc->open || flc->writeMode) {
      Errors::ErrSet(Errors::kErrMovieFormat, __LINE__);
      return;
    }
    flc->newPalette = false;
    if (flc->framesRead >= flc->header.frames) {
      Errors::ErrSet(Errors::kErrFlicEnd, __LINE__);
      return;
    }
    ReadFrame(flc);
    if (!skipDecoding) CopyOut(flc, image);
  });
}

void FLCLoad(FlcFile* flc, ImgBasic::Qimg* image, int32_t frame, int32_t flags) {
  (void)flags;  // the reader continues from its own canvas, never the image
  Errors::Monitored("FF_FLC.FLCLoad", [&] {
    if (!flc->open || flc->writeMode) {
      Errors::ErrSet(Errors::kErrMovieFormat, __LINE__);
      return;
    }
    if (frame < 0 || frame > flc->header.frames) {
      Errors::ErrSet(Errors::kErrMovieFormat, __LINE__);
      return;
    }
    if (frame == 0) frame = flc->framesRead + 1;
    if (frame == flc->framesRead && frame > 0) {
      flc->newPalette = false;
      CopyOut(flc, image);
      return;
    }
    bool newPalette = false;
    if (frame <= flc->framesRead) FLCRewind(flc);
    while (flc->framesRead < frame) {
      FLCLoadNext(flc, image, flc->framesRead + 1 < frame);
      newPalette = newPalette || flc->newPalette;
    }
    flc->newPalette = newPalette;
  });
}

// ---- writer -------------------------------------------------------------------

int64_t FLCCmpsRLE_(const uint8_t* frame, int32_t width, int32_t height,
                    uint8_t* out, int64_t capacity) {
  int64_t o = 0;
  auto put = [&](uint8_t v) {
    if (o < capacity) out[o] = v;
    o++;
  };
  for (int32_t y = 0; y < height; y++) {
    const uint8_t* row = frame + static_cast<int64_t>(y) * width;
    const int64_t countAt = o;
    put(0);
    int packets = 0;
    int32_t x = 0;
    while (x < width) {
      int32_t run = 1;
      while (x + run < width && run < 127 && row[x + run] == row[x]) run++;
      if (run >= 2) {
        put(static_cast<uint8_t>(run));
        put(row[x]);
        x += run;
      } else {
        // Literal bytes up to the next run of two.
        int32_t n = 1;
        while (x + n < width && n < 127 &&
               !(x + n + 1 < width && row[x + n] == row[x + n + 1]))
          n++;
        put(static_cast<uint8_t>(-n));
        for (int32_t k = 0; k < n; k++) put(row[x + k]);
        x += n;
      }
      packets++;
    }
    if (countAt < capacity) out[countAt] = static_cast<uint8_t>(std::min(packets, 255));
  }
  return o <= capacity ? o : -1;
}

int64_t FLICmpsDiff_(const uint8_t* frame, const uint8_t* prev, int32_t width,
                     int32_t height, uint8_t* out, int64_t capacity) {
  auto rowSame = [&](int32_t y) {
    return std::memcmp(frame + static_cast<int64_t>(y) * width,
                       prev + static_cast<int64_t>(y) * width,
                       static_cast<size_t>(width)) == 0;
  };
  int32_t top = 0;
  while (top < height && rowSame(top)) top++;
  if (top == height) return 0;  // unchanged: nothing to code
  int32_t bottom = height;
  while (bottom > top && rowSame(bottom - 1)) bottom--;
  int64_t o = 0;
  auto put = [&](uint8_t v) {
    if (o < capacity) out[o] = v;
    o++;
  };
  put(static_cast<uint8_t>(top));
  put(static_cast<uint8_t>(top >> 8));
  put(static_cast<uint8_t>(bottom - top));
  put(static_cast<uint8_t>((bottom - top) >> 8));
  for (int32_t y = top; y < bottom; y++) {
    const uint8_t* cur = frame + static_cast<int64_t>(y) * width;
    const uint8_t* old = prev + static_cast<int64_t>(y) * width;
    const int64_t countAt = o;
    put(0);
    int packets = 0;
    int32_t x = 0;
    for (;;) {
      int32_t skip = 0;
      while (x < width && cur[x] == old[x]) {
        x++;
        skip++;
      }
      if (x >= width) break;
      // A skip longer than a byte holds is carried by empty packets.
      while (skip > 255) {
        put(255);
        put(0);
        skip -= 255;
        packets++;
      }
      put(static_cast<uint8_t>(skip));
      int32_t run = 1;
      while (x + run < width && run < 127 && cur[x + run] == cur[x]) run++;
      if (run >= 2) {
        put(static_cast<uint8_t>(-run));
        put(cur[x]);
        x += run;
      } else {
        int32_t n = 1;
        while (x + n < width && n < 127 && cur[x + n] != old[x + n] &&
               !(x + n + 1 < width && cur[x + n] == cur[x + n + 1]))
          n++;
        put(static_cast<uint8_t>(n));
        for (int32_t k = 0; k < n; k++) put(cur[x + k]);
        x += n;
      }
      packets++;
    }
    // The packet count is one byte: a row needing more cannot be coded.
    if (packets > 255) return -1;
    if (countAt < capacity) out[countAt] = static_cast<uint8_t>(packets);
  }
  return o <= capacity ? o : -1;
}

namespace {

void WriteHeader(FlcFile* flc) {
  uint8_t raw[kHeaderSize] = {};
  const FlcHeader& h = flc->header;
  Put32L(raw, h.fileSize);
  Put16L(raw + 4, kMagicFlc);
  Put16L(raw + 6, h.frames);
  Put16L(raw + 8, h.width);
  Put16L(raw + 10, h.height);
  Put16L(raw + 12, 8);
  Put16L(raw + 14, 3);
  Put32L(raw + 16, h.speed);
  Put16L(raw + 38, 1);
  Put16L(raw + 40, 1);
  Put32L(raw + 80, kHeaderSize);
  Basic::FSeek(flc->handle, 0);
  Basic::FWrite(flc->handle, raw, kHeaderSize);
}

// Appends one frame chunk coded against the previous frame (or as the
// first frame when prev is null). A frame whose palette (B,G,R) differs from
// the one in effect carries it as a colour map first: the pixels are
// indices, and each frame's indices mean its own colours.
void WriteFrameChunk(FlcFile* flc, const uint8_t* frame, const uint8_t* prev,
                     const uint8_t* palette) {
  const int32_t w = flc->header.width, h = flc->header.height;
  const int64_t pixels = int64_t{w} * h;
  uint8_t* buf = nullptr;
  // Room for the colour map and for a byte-run frame at its worst: every
  // row a count byte and literal packets of at most 127 bytes.
  const int64_t capacity = 16 + 778 + 6 + pixels + int64_t{h} * (2 + (w + 126) / 127) + 1024;
  Basic::MemAlloc(buf, capacity, __LINE__, Basic::kMemPlain, "FF_FLC.FLCSave.chunk");
  int64_t off = 16;
  int subs = 0;
  if (!prev || std::memcmp(palette, flc->palette, 768) != 0) {
    std::memcpy(flc->palette, palette, 768);
    Put32L(buf + off, 778);
    Put16L(buf + off + 4, kColor256);
    Put16L(buf + off + 6, 1);
    buf[off + 8] = 0;
    buf[off + 9] = 0;
    for (int i = 0; i < 256; i++) {
      buf[off + 10 + i * 3] = palette[i * 3 + 2];
      buf[off + 10 + i * 3 + 1] = palette[i * 3 + 1];
      buf[off + 10 + i * 3 + 2] = palette[i * 3];
    }
    off += 778;
    subs++;
  }
  // Coded data that would pass 95 % of the frame is written as it is. Common
  // readers take an uncompressed frame only with rows of a multiple of 4
  // bytes; other widths stay byte-run coded, which every reader decodes in
  // any frame.
  const int64_t limit = (pixels * 95 + 50) / 100;
  const int64_t room = std::min<int64_t>(limit, capacity - off - 6);
  int64_t coded = prev ? FLICmpsDiff_(frame, prev, w, h, buf + off + 6, room)
                       : FLCCmpsRLE_(frame, w, h, buf + off + 6, room);
  uint16_t type = prev ? kDeltaFli : kByteRun;
  if (coded < 0 && w % 4 == 0) {
    std::memcpy(buf + off + 6, frame, static_cast<size_t>(pixels));
    coded = pixels;
    type = kLiteral;
  } else if (coded < 0) {
    coded = FLCCmpsRLE_(frame, w, h, buf + off + 6, capacity - off - 7);
    type = kByteRun;
    if (coded < 0) {
      Errors::ErrSet(Errors::kErrMovieCompress, __LINE__);
      return;
    }
  }
  if (coded > 0) {  // an unchanged frame is a frame chunk without sub-chunks
    // Coded sub-chunks keep an even size, as readers of the format expect;
    // an uncompressed frame is exactly its pixels, which is what readers
    // check its size against.
    if ((coded & 1) && type != kLiteral) buf[off + 6 + coded++] = 0;
    Put32L(buf + off, static_cast<uint32_t>(coded + 6));
    Put16L(buf + off + 4, type);
    off += coded + 6;
    subs++;
  }
  Put32L(buf, static_cast<uint32_t>(off));
  Put16L(buf + 4, kFrameChunk);
  Put16L(buf + 6, static_cast<uint32_t>(subs));
  std::memset(buf + 8, 0, 8);
  Basic::FSeek(flc->handle, flc->fileSize);
  Basic::FWrite(flc->handle, buf, off);
  flc->fileSize += off;
  Basic::MemFree(buf);
}

}  // namespace

void FLCCreate(FlcFile* flc, const std::string& fileName, double fps) {
  Errors::Monitored("FF_FLC.FLCCreate", [&] {
    *flc = FlcFile{};
    flc->fileName = fileName;
    flc->fps = fps;
    // A rate of 0 or less (or not a number) has no frame time: the speed
    // stays 0. A tiny rate's frame time is held at what the field takes.
    flc->header.speed =
        fps > 0 ? static_cast<uint32_t>(std::llround(std::min(1000.0 / fps, 4294967295.0))) : 0;
    flc->writeMode = true;
    flc->open = true;
  });
}

void FLCSave(FlcFile* flc, ImgBasic::Qimg* image) {
  Errors::Monitored("FF_FLC.FLCSave", [&] {
    if (!flc->open || !flc->writeMode || !ImgBasic::ImgIsValid(image)) {
      Errors::ErrSet(Errors::kErrMovieWrite, __LINE__);
      return;
    }
    Qimg conv;
    const Qimg* img = image;
    if (image->bitsPerPixel != 8) {
      ImgBasic::ImgConvBpp(image, &conv, 8);
      img = &conv;
    }
    FlcHeader& h = flc->header;
    if (flc->framesWritten == 0) {
      if (img->width > 65535 || img->height > 65535) {
        Errors::ErrSet(Errors::kErrImageInvalid, __LINE__);
        return;
      }
      h.width = static_cast<uint16_t>(img->width);
      h.height = static_cast<uint16_t>(img->height);
      int32_t handle = Basic::K_AUTO;
      Basic::FOpen(handle, flc->fileName, Basic::kOpenCreate);
      flc->handle = handle;
      WriteHeader(flc);
      flc->fileSize = kHeaderSize;
      flc->headerWritten = true;
      std::memcpy(flc->firstPalette, img->palette, 768);
      const int64_t pixels = int64_t{h.width} * h.height;
      Basic::MemAlloc(flc->prevFrame, pixels, __LINE__, Basic::kMemPlain,
                      "FF_FLC.FLCSave.ff.PrevFrame");
      Basic::MemAlloc(flc->firstFrame, pixels, __LINE__, Basic::kMemPlain,
                      "FF_FLC.FLCSave.ff.FirstFrame");
    } else if (img->width != h.width || img->height != h.height) {
      Errors::ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    if (flc->framesWritten >= 65535) {
      Errors::ErrSet(Errors::kErrMovieWrite, __LINE__);
      return;
    }
    const int64_t pixels = int64_t{h.width} * h.height;
    WriteFrameChunk(flc, img->data, flc->framesWritten == 0 ? nullptr : flc->prevFrame,
                    img->palette);
    if (flc->framesWritten == 0) std::memcpy(flc->firstFrame, img->data, pixels);
    std::memcpy(flc->prevFrame, img->data, pixels);
    flc->framesWritten++;
    h.frames = static_cast<uint16_t>(flc->framesWritten);
    if (img == &conv) ImgBasic::ImgFree(&conv);
  });
}

void FLCClose(FlcFile* flc) {
  Errors::Monitored("FF_FLC.FLCClose", [&] {
    if (!flc->open) return;
    const int32_t handle = flc->handle;
    const bool created = flc->headerWritten;
    Errors::MonSetCleanup([flc, handle, created] {
      if (created) Basic::FClose(handle);
      Basic::MemFree(flc->canvas);
      Basic::MemFree(flc->prevFrame);
      Basic::MemFree(flc->firstFrame);
      *flc = FlcFile{};
    });
    // A writer that got no frame created no file and writes nothing.
    if (flc->writeMode && flc->framesWritten > 0) {
      // The loop frame: the first frame again, with its palette.
      WriteFrameChunk(flc, flc->firstFrame, flc->prevFrame, flc->firstPalette);
      flc->header.fileSize = static_cast<uint32_t>(flc->fileSize);
      WriteHeader(flc);
    }
    if (!flc->writeMode || created) Basic::FClose(handle);
    Basic::MemFree(flc->canvas);
    Basic::MemFree(flc->prevFrame);
    Basic::MemFree(flc->firstFrame);
    *flc = FlcFile{};
  });
}

void FLCInfo(const std::string& fileName, ConForm::FFInfoRec* info) {
  Errors::Monitored("FF_FLC.FLCInfo", [&] {
    FlcFile flc;
    FLCOpen(&flc, fileName);
    const int32_t width = flc.header.width;
    ConForm::FFInfoStill(info, static_cast<double>(flc.fileSize), width,
                         flc.header.height, 1, 8,
                         "RLE + pixel difference from previous frame",
                         width > 0, width > 0);
    info->picture.frameCount = flc.header.frames;
    info->picture.fps = flc.fps;
    const bool cut = flc.cut;
    FLCClose(&flc);
    if (cut) WarnCut();
  });
}

}  // namespace FF_FLC
