// Inside the AVI layer: the file and stream objects and the frame decoder
// shared by the AVI file calls and the direct reader.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/AviFile.h"
#include "platform/AvSupport.h"
#include "platform/base/MmIo.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libswscale/swscale.h>
}

namespace AviCore {

struct Chunk {
  uint32_t offset = 0;  // of the data
  uint32_t size = 0;
  bool key = false;
};

// A palette change ("xxpc") that applies from frame beforeFrame on.
struct PalChange {
  int32_t beforeFrame = 0;
  uint32_t offset = 0;
  uint32_t size = 0;
};

struct IndexEntry {
  uint32_t ckid = 0, flags = 0, offset = 0, size = 0;
};

// A decoded frame: rows top-down without padding; bits 8 (with palette,
// B, G, R), 15 (5-5-5 words), 24 (B, G, R) or 32 (B, G, R, x).
struct Frame {
  int32_t width = 0, height = 0, bits = 0;
  std::vector<uint8_t> pixels;
  uint8_t palette[768] = {};
  // pixels holds a whole packed bitmap (header, then rows bottom-up, padded
  // to 4 bytes) instead of top-down rows: see VideoDecoder::DeliverBitmaps.
  bool bitmap = false;
};

}  // namespace AviCore

namespace AviFile {

struct AviStreamObj {
  ~AviStreamObj();
  AviFileObj* file = nullptr;
  int32_t index = 0;  // stream number in the file
  AVISTREAMINFO info;
  std::vector<uint8_t> format;
  std::vector<AviCore::Chunk> chunks;
  std::vector<int64_t> cumBytes;  // bytes before each chunk, and the total
  std::vector<AviCore::PalChange> palChanges;

  // Writing.
  bool writing = false;
  AviStreamObj* compressedOver = nullptr;  // a compressed stream's target
  AVICOMPRESSOPTIONS options;
  bool passThrough = false;
  bool formatSet = false;
  bool drained = false;
  Gdi::BITMAPINFOHEADER input;
  uint32_t inPalette[256] = {};
  AVCodecContext* enc = nullptr;
  AVFrame* encFrame = nullptr;
  AVPacket* pkt = nullptr;
  SwsContext* sws = nullptr;
  int64_t framesIn = 0;

  int64_t Length() const;
  bool Header(Gdi::BITMAPINFOHEADER* bh) const;
  bool IsRawVideo() const;
  // The palette (B, G, R) in force at a frame of 8-bit video.
  void PaletteAt(int32_t frame, uint8_t* bgr) const;
  bool ReadChunkData(int32_t i, std::vector<uint8_t>& out) const;
};

struct AviFileObj {
  ~AviFileObj();
  MmIo::HMMIO mmio = nullptr;  // reading
  FILE* out = nullptr;         // writing
  bool writing = false;
  bool failed = false;
  bool cut = false;  // reading: the file ends inside its data
  std::vector<uint8_t> avih;
  std::vector<uint8_t> info;  // INFO list data, starting with "INFO"
  std::vector<std::unique_ptr<AviStreamObj>> streams;
  int64_t moviPos = 0;   // writing: where the movie list starts, 0 before
  int64_t writePos = 0;  // writing: end of the movie data
  std::vector<AviCore::IndexEntry> index;
  mutable std::mutex readLock;  // reading after the parse: one seek and read at a time
};

}  // namespace AviFile

namespace AviCore {

using AviFile::AviFileObj;
using AviFile::AviStreamObj;

// Reads a file's lists and index: AVIERR_OK, AVIERR_BADSIZE when a stream
// has more chunks, or the index more entries, than the frame-count limit
// allows, else AVIERR_FILEREAD.
AviFile::HRESULT ParseFile(AviFileObj* f);

// Decodes frames of one video stream in any order. Frame n is the n-th
// picture in presentation order: for a stream that reorders its pictures
// (B-frames) the n-th picture the decoder gives out; otherwise the picture
// of chunk n, where a chunk that brings no picture (an empty one, a frame
// the coder skipped) repeats the picture before it. Frames after the last
// picture repeat it. A far seek starts again at a key frame whose place in
// presentation order is known.
class VideoDecoder {
 public:
  ~VideoDecoder();
  bool Open(const AviStreamObj* stream);
  // Frame n, held by the decoder until the next call; null on failure.
  const Frame* Decode(int32_t n);
  bool Decode(int32_t n, Frame& out);
  // Frames decoded to 24 bits come as packed bitmaps from now on, made by
  // the colour conversion itself: the frame extractor hands them out as
  // they are, without copying the rows once more.
  void DeliverBitmaps() { bitmaps_ = true; }
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }

 private:
  bool RawFrame(int32_t n, Frame& out);
  bool Convert(const AVFrame* fr, Frame& out);
  bool OpenUnpacker();
  int32_t RestartPoint(int32_t n) const;
  void Restart(int32_t key);
  bool Send(AVPacket* pkt);
  bool Feed();
  int NextPicture();
  const Frame* TakeCurrent();
  const Frame* Fail();

  const AviStreamObj* s_ = nullptr;
  Gdi::BITMAPINFOHEADER bh_;
  int32_t width_ = 0, height_ = 0;
  bool raw_ = false;
  bool bitmaps_ = false;
  int32_t naturalBits_ = 0;
  AVCodecContext* ctx_ = nullptr;
  AVBSFContext* unpack_ = nullptr;  // MPEG-4: packed B-frames to one per packet
  AvSupport::ToBgr toBgr_{true};
  AVPacket* pkt_ = nullptr;
  AVPacket* held_ = nullptr;        // a packet the decoder could not take yet
  bool holding_ = false;
  AVFrame* pending_ = nullptr;      // the next picture, not yet the current one
  bool havePending_ = false;
  int32_t pendingSlot_ = -1;
  AVFrame* cur_ = nullptr;          // the current picture and its frame number
  int32_t curSlot_ = -1;
  bool curConverted_ = false;
  Frame converted_;                 // the current picture as pixels, or a raw frame
  int32_t sendPos_ = 0;
  bool drained_ = false, ended_ = false;
  int32_t ordinal_ = -1;   // frame number of the last picture given out
  int32_t waitTag_ = -1;   // after a restart: pictures before this chunk's are dropped
  int reorders_ = -1;      // unknown until the first picture
  std::vector<int32_t> keySlot_;  // frame number of a key chunk's picture, -1 unknown
  std::vector<int32_t> prevKey_;  // the last key chunk at or before each chunk, -1 none
};

}  // namespace AviCore
