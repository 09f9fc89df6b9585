#include "platform/AviFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/AvSupport.h"
#include "platform/AviAhead.h"
#include "platform/AviFileCore.h"
#include "foundation/FFReader.h"
#include "platform/base/MmIo.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

namespace AviFile {

using AviCore::Chunk;
using AviCore::Frame;
using AviCore::PalChange;
using AviCore::VideoDecoder;

namespace {

uint32_t Rd32(const uint8_t* p) { return Gdi::ReadDword(p); }
uint16_t Rd16(const uint8_t* p) { return Gdi::ReadWord(p); }

// Largest format, header and INFO blocks taken from a file.
constexpr int64_t kMaxFormatBytes = 1 << 20;
constexpr int64_t kMaxInfoBytes = 1 << 20;
// Largest sound format extra a written stream takes.
constexpr int32_t kMaxWaveExtra = 4096;
// Room kept before the movie data for headers made later.
constexpr int64_t kHeaderSpare = 8192;
// A written file stays below this size.
constexpr int64_t kMaxWriteBytes = int64_t{0x7FFFFFFF};

uint32_t Upper(uint32_t fcc) {
  uint32_t r = 0;
  for (int i = 0; i < 4; i++) {
    uint8_t c = static_cast<uint8_t>(fcc >> (8 * i));
    if (c >= 'a' && c <= 'z') c = static_cast<uint8_t>(c - 32);
    r |= static_cast<uint32_t>(c) << (8 * i);
  }
  return r;
}

bool ReadAt(MmIo::HMMIO h, int64_t pos, void* dest, int64_t bytes) {
  if (bytes < 0 || bytes > INT32_MAX) return false;
  if (MmIo::mmioSeek(h, pos, SEEK_SET) != pos) return false;
  return bytes == 0 || MmIo::mmioRead(h, dest, static_cast<int32_t>(bytes)) == bytes;
}

// After parsing: a frame decoded ahead on a helper thread reads the file
// while the caller reads the sound, through the one file position.
bool ReadAt(const AviFile::AviFileObj* f, int64_t pos, void* dest, int64_t bytes) {
  const std::lock_guard<std::mutex> hold(f->readLock);
  return ReadAt(f->mmio, pos, dest, bytes);
}

// Reads the data of a chunk the file stands in, up to limit bytes.
std::vector<uint8_t> ReadChunk(MmIo::HMMIO h, const MmIo::MMCKINFO& ck, int64_t limit, bool* ok) {
  const int64_t n = std::min<int64_t>(ck.cksize, limit);
  std::vector<uint8_t> data(static_cast<size_t>(n));
  *ok = ReadAt(h, ck.dwDataOffset, data.data(), n);
  return data;
}

// Stream number of a movie chunk id ("00dc"), or -1.
int32_t StreamOfChunk(uint32_t ckid) {
  const char a = static_cast<char>(ckid), b = static_cast<char>(ckid >> 8);
  if (a < '0' || a > '9' || b < '0' || b > '9') return -1;
  return (a - '0') * 10 + (b - '0');
}

uint32_t ChunkKind(uint32_t ckid) { return ckid >> 16; }
constexpr uint32_t kKindPc = static_cast<uint32_t>('p') | ('c' << 8);

}  // namespace

// ---- reading -------------------------------------------------------------------

}  // namespace AviFile

namespace AviCore {

using namespace AviFile;

namespace {

using namespace MmIo;

// What the lists of one file tell beyond the streams themselves.
struct ParseState {
  bool haveHeader = false;
  bool haveIndex = false;
  std::vector<uint8_t> index;  // the first RIFF's "idx1" entries, 16 bytes each
  int32_t riffCount = 0;
  bool overLimit = false;      // more chunks or index entries than frames allowed
};

// A stream's chunk list, and the index for all streams, hold at most the
// frame-count limit per stream: a file claiming more is refused.
bool WithinFrameLimit(int64_t entries, int64_t streams) {
  return entries <= FFBasic::FFFrameCountLimit() * std::max<int64_t>(streams, 1);
}

// The "strh" chunk: at least 48 bytes, the frame rectangle when present.
bool ReadStreamHeader(const std::vector<uint8_t>& d, AVISTREAMINFO* si) {
  FFBasic::FFReader r = FFBasic::FFReader::Quiet(d.data(), static_cast<int64_t>(d.size()));
  if (!r.Need(48)) return false;
  si->fccType = r.U32L();
  si->fccHandler = r.U32L();
  si->dwFlags = r.U32L();
  si->wPriority = r.U16L();
  si->wLanguage = r.U16L();
  si->dwInitialFrames = r.U32L();
  si->dwScale = r.U32L();
  si->dwRate = r.U32L();
  si->dwStart = r.U32L();
  si->dwLength = r.U32L();
  si->dwSuggestedBufferSize = r.U32L();
  si->dwQuality = r.U32L();
  si->dwSampleSize = r.U32L();
  if (r.Has(8)) {
    si->rcFrame.left = static_cast<int16_t>(r.U16L());
    si->rcFrame.top = static_cast<int16_t>(r.U16L());
    si->rcFrame.right = static_cast<int16_t>(r.U16L());
    si->rcFrame.bottom = static_cast<int16_t>(r.U16L());
  }
  return !r.Failed();
}

// One "strl" list: the stream header and its format.
bool ParseStreamList(AviFileObj* f, HMMIO h, MMCKINFO& strl) {
  auto s = std::make_unique<AviStreamObj>();
  s->file = f;
  s->index = static_cast<int32_t>(f->streams.size());
  bool haveStrh = false;
  MMCKINFO el;
  while (mmioDescend(h, &el, &strl, 0) == 0) {
    bool ok = true;
    if (el.ckid == mmioFOURCC('s', 't', 'r', 'h')) {
      if (!ReadStreamHeader(ReadChunk(h, el, 56, &ok), &s->info) || !ok) return false;
      haveStrh = true;
    } else if (el.ckid == mmioFOURCC('s', 't', 'r', 'f')) {
      s->format = ReadChunk(h, el, kMaxFormatBytes, &ok);
      if (!ok) return false;
    }
    if (mmioAscend(h, &el, 0) != 0) return false;
  }
  if (!haveStrh) return false;
  f->streams.push_back(std::move(s));
  return f->streams.size() <= 99;
}

// The "hdrl" list: the main header and a "strl" list per stream.
bool ParseHeaderList(AviFileObj* f, HMMIO h, MMCKINFO& hdrl) {
  MMCKINFO sub;
  while (mmioDescend(h, &sub, &hdrl, 0) == 0) {
    if (sub.ckid == mmioFOURCC('a', 'v', 'i', 'h')) {
      bool ok = true;
      const std::vector<uint8_t> d = ReadChunk(h, sub, 56, &ok);
      if (!ok || d.size() < 40) return false;
      f->avih.assign(d.begin(), d.end());
    } else if (sub.ckid == FOURCC_LIST && sub.fccType == mmioFOURCC('s', 't', 'r', 'l')) {
      if (!ParseStreamList(f, h, sub)) return false;
    }
    if (mmioAscend(h, &sub, 0) != 0) return false;
  }
  return true;
}

// A chunk of the movie list: a frame, a sound slice or a palette change of
// its stream. False when the stream then holds more than the frame-count
// limit allows.
bool TakeMovieChunk(AviFileObj* f, const MMCKINFO& el) {
  const int32_t sn = StreamOfChunk(el.ckid);
  if (sn < 0 || sn >= static_cast<int32_t>(f->streams.size())) return true;
  AviStreamObj* s = f->streams[static_cast<size_t>(sn)].get();
  if (ChunkKind(el.ckid) == kKindPc)
    s->palChanges.push_back({static_cast<int32_t>(s->chunks.size()), el.dwDataOffset, el.cksize});
  else
    s->chunks.push_back({el.dwDataOffset, el.cksize, false});
  return WithinFrameLimit(static_cast<int64_t>(s->chunks.size() + s->palChanges.size()), 1);
}

bool IsSoundChunk(const AviFileObj* f, uint32_t ckid) {
  const int32_t sn = StreamOfChunk(ckid);
  return sn >= 0 && sn < static_cast<int32_t>(f->streams.size()) &&
         f->streams[static_cast<size_t>(sn)]->info.fccType == streamtypeAUDIO;
}

// A "movi" list: its chunks, also inside "rec " lists (four deep at most).
bool ParseMovieList(AviFileObj* f, HMMIO h, const MMCKINFO& movi, ParseState& state) {
  std::vector<MMCKINFO> parents{movi};
  MMCKINFO el;
  while (!parents.empty()) {
    if (mmioDescend(h, &el, &parents.back(), MMIO_ALLOWCUT) != 0) {
      MMCKINFO done = parents.back();
      parents.pop_back();
      if (!parents.empty() && mmioAscend(h, &done, 0) != 0) return false;
      continue;
    }
    const bool cut = (el.dwFlags & MMIO_CUT) != 0;
    if (cut) f->cut = true;
    if (el.ckid == FOURCC_LIST && parents.size() < 4) {
      parents.push_back(el);
      continue;
    }
    // Part of a frame is no frame; the part of a sound chunk that is there
    // still holds samples.
    if (el.ckid != FOURCC_LIST && (!cut || IsSoundChunk(f, el.ckid)) && !TakeMovieChunk(f, el)) {
      state.overLimit = true;
      return false;
    }
    if (mmioAscend(h, &el, 0) != 0) return false;
  }
  return true;
}

// The "idx1" chunk of the first RIFF, kept for the key-frame flags.
bool ReadIndex(AviFileObj* f, HMMIO h, const MMCKINFO& ck, ParseState& state) {
  if (!WithinFrameLimit(ck.cksize / 16, static_cast<int64_t>(f->streams.size()))) {
    state.overLimit = true;
    return false;
  }
  bool ok = true;
  state.index = ReadChunk(h, ck, int64_t{16} << 24, &ok);
  state.haveIndex = ok;
  return ok;
}

// The top-level chunks of one RIFF.
bool ParseRiff(AviFileObj* f, HMMIO h, MMCKINFO& riff, ParseState& state) {
  MMCKINFO ck;
  while (mmioDescend(h, &ck, &riff, MMIO_ALLOWCUT) == 0) {
    bool ok = true;
    f->cut = f->cut || (ck.dwFlags & MMIO_CUT) != 0;
    const bool list = ck.ckid == FOURCC_LIST;
    if (list && ck.fccType == mmioFOURCC('h', 'd', 'r', 'l') && !state.haveHeader) {
      state.haveHeader = true;
      ok = ParseHeaderList(f, h, ck);
    } else if (list && ck.fccType == mmioFOURCC('I', 'N', 'F', 'O') && f->info.empty()) {
      f->info = ReadChunk(h, ck, kMaxInfoBytes, &ok);
    } else if (list && ck.fccType == mmioFOURCC('m', 'o', 'v', 'i')) {
      ok = ParseMovieList(f, h, ck, state);
    } else if (ck.ckid == mmioFOURCC('i', 'd', 'x', '1') && state.riffCount == 1) {
      ok = ReadIndex(f, h, ck, state);
    }
    if (!ok || mmioAscend(h, &ck, 0) != 0) return false;
  }
  return true;
}

// Key frames: the index's flags, the k-th entry of a stream for its k-th
// chunk. Returns how many entries each stream had.
std::vector<size_t> ApplyIndex(AviFileObj* f, const std::vector<uint8_t>& index) {
  std::vector<size_t> seen(f->streams.size(), 0);
  FFBasic::FFReader r = FFBasic::FFReader::Quiet(index.data(), static_cast<int64_t>(index.size()));
  while (r.Has(16)) {
    const uint32_t ckid = r.U32L();
    const uint32_t flags = r.U32L();
    r.Skip(8);
    const int32_t sn = StreamOfChunk(ckid);
    if (sn < 0 || sn >= static_cast<int32_t>(f->streams.size()) || ChunkKind(ckid) == kKindPc)
      continue;
    AviStreamObj* s = f->streams[static_cast<size_t>(sn)].get();
    size_t& k = seen[static_cast<size_t>(sn)];
    if (k < s->chunks.size()) s->chunks[k].key = (flags & AVIIF_KEYFRAME) != 0;
    k++;
  }
  return seen;
}

// Without index flags only the first frame is taken as a key frame, so
// random access decodes from the start; then each stream's running sizes.
void FinishStream(AviStreamObj* s, bool indexed) {
  if (!s->chunks.empty()) {
    if (!indexed) {
      const bool raw = s->IsRawVideo();
      for (auto& c : s->chunks) c.key = raw;
    }
    s->chunks[0].key = true;
  }
  int64_t sum = 0;
  s->cumBytes.reserve(s->chunks.size() + 1);
  s->cumBytes.push_back(0);
  for (auto& c : s->chunks) {
    sum += c.size;
    s->cumBytes.push_back(sum);
  }
  s->info.dwLength = static_cast<uint32_t>(std::min<int64_t>(s->Length(), INT32_MAX));
  s->info.dwFormatChangeCount = static_cast<uint32_t>(s->palChanges.size());
}

}  // namespace

HRESULT ParseFile(AviFileObj* f) {
  HMMIO h = f->mmio;
  MMCKINFO riff;
  riff.fccType = mmioFOURCC('A', 'V', 'I', ' ');
  // A file cut short is read as far as it goes: its last, incomplete chunk
  // is left out.
  if (mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF | MMIO_ALLOWCUT) != 0) return AVIERR_FILEREAD;
  f->cut = (riff.dwFlags & MMIO_CUT) != 0;
  ParseState state;
  for (;;) {
    state.riffCount++;
    if (!ParseRiff(f, h, riff, state)) return state.overLimit ? AVIERR_BADSIZE : AVIERR_FILEREAD;
    // Further RIFF chunks of an extended file carry more movie data.
    if (mmioAscend(h, &riff, 0) != 0) break;
    riff.fccType = mmioFOURCC('A', 'V', 'I', 'X');
    if (mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF | MMIO_ALLOWCUT) != 0 ||
        state.riffCount > 64)
      break;
    f->cut = f->cut || (riff.dwFlags & MMIO_CUT) != 0;
  }
  if (!state.haveHeader || f->streams.empty()) return AVIERR_FILEREAD;
  const std::vector<size_t> seen =
      state.haveIndex ? ApplyIndex(f, state.index) : std::vector<size_t>(f->streams.size(), 0);
  for (size_t sn = 0; sn < f->streams.size(); sn++)
    FinishStream(f->streams[sn].get(), seen[sn] != 0);
  return AVIERR_OK;
}

}  // namespace AviCore

namespace AviFile {

int64_t AviStreamObj::Length() const {
  if (info.fccType == streamtypeAUDIO && info.dwSampleSize > 0)
    return cumBytes.empty() ? 0 : cumBytes.back() / info.dwSampleSize;
  return static_cast<int64_t>(chunks.size());
}

bool AviStreamObj::Header(Gdi::BITMAPINFOHEADER* bh) const {
  if (format.size() < static_cast<size_t>(Gdi::kBitmapInfoHeaderSize)) return false;
  *bh = Gdi::ReadBitmapInfoHeader(format.data());
  if (bh->biSize < 40 || bh->biSize > format.size()) return false;
  if (bh->biWidth <= 0 || bh->biHeight == 0 || bh->biHeight == INT32_MIN ||
      bh->biWidth > AvSupport::kMaxPictureSide ||
      std::abs(bh->biHeight) > AvSupport::kMaxPictureSide)
    return false;
  return true;
}

bool AviStreamObj::IsRawVideo() const {
  Gdi::BITMAPINFOHEADER bh;
  if (!Header(&bh)) return false;
  const uint32_t c = Upper(bh.biCompression);
  const bool rawCode = bh.biCompression == 0 || bh.biCompression == 3 || c == FourCC("DIB ") ||
                       c == FourCC("RAW ") || c == FourCC("RGB ");
  return rawCode &&
         (bh.biBitCount == 8 || bh.biBitCount == 16 || bh.biBitCount == 24 || bh.biBitCount == 32);
}

void AviStreamObj::PaletteAt(int32_t frame, uint8_t* bgr) const {
  std::memset(bgr, 0, 768);
  Gdi::BITMAPINFOHEADER bh;
  if (Header(&bh) && bh.biBitCount <= 8) {
    const int64_t n =
        std::min<int64_t>({bh.biClrUsed ? static_cast<int64_t>(bh.biClrUsed) : 256, 256,
                           (static_cast<int64_t>(format.size()) - bh.biSize) / 4});
    for (int64_t i = 0; i < n; i++) {
      const uint8_t* q = &format[static_cast<size_t>(bh.biSize + i * 4)];
      bgr[i * 3] = q[0];
      bgr[i * 3 + 1] = q[1];
      bgr[i * 3 + 2] = q[2];
    }
  }
  for (const PalChange& pc : palChanges) {
    if (pc.beforeFrame > frame) break;
    uint8_t buf[4 + 256 * 4];
    const int64_t n = std::min<int64_t>(pc.size, sizeof buf);
    if (n < 4 || !ReadAt(file, pc.offset, buf, n)) continue;
    const int32_t first = buf[0];
    const int32_t count = buf[1] == 0 ? 256 : buf[1];
    for (int32_t i = 0; i < count && first + i < 256 && 4 + i * 4 + 3 <= n; i++) {
      // Palette entries are R, G, B, flags.
      bgr[(first + i) * 3] = buf[4 + i * 4 + 2];
      bgr[(first + i) * 3 + 1] = buf[4 + i * 4 + 1];
      bgr[(first + i) * 3 + 2] = buf[4 + i * 4];
    }
  }
}

bool AviStreamObj::ReadChunkData(int32_t i, std::vector<uint8_t>& out) const {
  if (i < 0 || i >= static_cast<int32_t>(chunks.size())) return false;
  const Chunk& c = chunks[static_cast<size_t>(i)];
  out.resize(c.size);
  return ReadAt(file, c.offset, out.data(), c.size);
}

// ---- decoding ----------------------------------------------------------------

}  // namespace AviFile

namespace AviCore {

using namespace AviFile;

VideoDecoder::~VideoDecoder() {
  avcodec_free_context(&ctx_);
  AvSupport::FlushWorkerLines();
  av_bsf_free(&unpack_);
  av_frame_free(&pending_);
  av_frame_free(&cur_);
  av_packet_free(&pkt_);
  av_packet_free(&held_);
}

bool VideoDecoder::Open(const AviStreamObj* stream) {
  s_ = stream;
  if (!s_->Header(&bh_)) return false;
  width_ = bh_.biWidth;
  height_ = std::abs(bh_.biHeight);
  raw_ = s_->IsRawVideo();
  if (raw_) return true;
  const AVCodecTag* const tags[] = {avformat_get_riff_video_tags(), nullptr};
  AVCodecID id = av_codec_get_id(tags, bh_.biCompression);
  if (id == AV_CODEC_ID_NONE) id = av_codec_get_id(tags, s_->info.fccHandler);
  const AVCodec* codec = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
  if (codec == nullptr) return false;
  ctx_ = avcodec_alloc_context3(codec);
  pending_ = av_frame_alloc();
  cur_ = av_frame_alloc();
  pkt_ = av_packet_alloc();
  held_ = av_packet_alloc();
  if (!ctx_ || !pending_ || !cur_ || !pkt_ || !held_) return false;
  ctx_->width = width_;
  ctx_->height = height_;
  ctx_->codec_tag = bh_.biCompression;
  ctx_->bits_per_coded_sample = bh_.biBitCount;
  AvSupport::UseCodecThreads(ctx_);
  // The codec's set-up data follows the 40 bytes of the bitmap header (the
  // header's size often counts it in); for 8-bit video that is the palette.
  const int64_t extra = static_cast<int64_t>(s_->format.size()) - Gdi::kBitmapInfoHeaderSize;
  if (extra > 0) {
    ctx_->extradata = static_cast<uint8_t*>(
        av_mallocz(static_cast<size_t>(extra) + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!ctx_->extradata) return false;
    std::memcpy(ctx_->extradata, s_->format.data() + Gdi::kBitmapInfoHeaderSize,
                static_cast<size_t>(extra));
    ctx_->extradata_size = static_cast<int>(extra);
  }
  if (avcodec_open2(ctx_, codec, nullptr) < 0) return false;
  keySlot_.assign(s_->chunks.size(), -1);
  prevKey_.assign(s_->chunks.size(), -1);
  // An empty chunk brings no picture to start from, key flag or not.
  for (size_t i = 0; i < s_->chunks.size(); i++)
    prevKey_[i] = s_->chunks[i].key && s_->chunks[i].size > 0 ? static_cast<int32_t>(i)
                                                               : (i > 0 ? prevKey_[i - 1] : -1);
  return id != AV_CODEC_ID_MPEG4 || OpenUnpacker();
}

// Packed B-frames (a P-frame and the B-frame shown before it in one chunk,
// followed by a placeholder chunk) are split into one picture per packet,
// so every packet keeps the number of the chunk it stands for.
bool VideoDecoder::OpenUnpacker() {
  const AVBitStreamFilter* f = av_bsf_get_by_name("mpeg4_unpack_bframes");
  if (f == nullptr || av_bsf_alloc(f, &unpack_) < 0) return false;
  if (avcodec_parameters_from_context(unpack_->par_in, ctx_) < 0) return false;
  unpack_->time_base_in = AVRational{1, 1};
  return av_bsf_init(unpack_) >= 0;
}

bool VideoDecoder::RawFrame(int32_t n, Frame& out) {
  std::vector<uint8_t> data;
  if (!s_->ReadChunkData(n, data)) return false;
  const int32_t bits = bh_.biBitCount;
  const int64_t padded = Gdi::DibRowBytes(width_, bits);
  const int64_t packed = static_cast<int64_t>(width_) * (bits / 8);
  int64_t stride = padded;
  if (static_cast<int64_t>(data.size()) < padded * height_) stride = packed;
  if (static_cast<int64_t>(data.size()) < stride * height_) return false;
  bool is565 = false;
  if (bits == 16 && bh_.biCompression == 3 && s_->format.size() >= bh_.biSize + 12)
    is565 = Rd32(&s_->format[bh_.biSize + 4]) == 0x07E0;
  out.width = width_;
  out.height = height_;
  out.bits = bits == 16 ? (is565 ? 24 : 15) : bits;
  out.bitmap = false;
  const int32_t outBpp = (out.bits + 7) / 8;
  out.pixels.assign(static_cast<size_t>(width_) * height_ * outBpp, 0);
  const bool topDown = bh_.biHeight < 0;
  for (int32_t y = 0; y < height_; y++) {
    const uint8_t* src = data.data() + (topDown ? y : height_ - 1 - y) * stride;
    uint8_t* dst = out.pixels.data() + static_cast<size_t>(y) * width_ * outBpp;
    if (is565) {
      for (int32_t x = 0; x < width_; x++) {
        const uint16_t w = Rd16(src + 2 * x);
        dst[3 * x] = static_cast<uint8_t>((w & 31) << 3 | (w & 31) >> 2);
        dst[3 * x + 1] = static_cast<uint8_t>(((w >> 5) & 63) << 2 | ((w >> 5) & 63) >> 4);
        dst[3 * x + 2] = static_cast<uint8_t>(((w >> 11) & 31) << 3 | ((w >> 11) & 31) >> 2);
      }
    } else {
      std::memcpy(dst, src, static_cast<size_t>(width_) * outBpp);
    }
  }
  if (bits == 8) s_->PaletteAt(n, out.palette);
  return true;
}

bool VideoDecoder::Convert(const AVFrame* fr, Frame& out) {
  if (fr->width != width_ || fr->height != height_) return false;
  out.width = width_;
  out.height = height_;
  const auto fmt = static_cast<AVPixelFormat>(fr->format);
  int32_t bits = 24;
  if (fmt == AV_PIX_FMT_PAL8 || fmt == AV_PIX_FMT_GRAY8)
    bits = 8;
  else if (fmt == AV_PIX_FMT_RGB555LE)
    bits = 15;
  else if (fmt == AV_PIX_FMT_BGR0 || fmt == AV_PIX_FMT_BGRA)
    bits = 32;
  if (naturalBits_ == 0) naturalBits_ = bits;
  // A stream keeps the depth of its first frame.
  if (bits != naturalBits_) {
    if (naturalBits_ != 24) return false;
    bits = 24;
  }
  out.bits = bits;
  const int32_t bpp = (bits + 7) / 8;
  const bool direct = (bits == 8) || (bits == 15 && fmt == AV_PIX_FMT_RGB555LE) || (bits == 32);
  out.bitmap = bitmaps_ && !direct;
  // Every byte is written below: a frame of the same size keeps its block.
  if (!out.bitmap) out.pixels.resize(static_cast<size_t>(width_) * height_ * bpp);
  if (direct) {
    for (int32_t y = 0; y < height_; y++)
      std::memcpy(out.pixels.data() + static_cast<size_t>(y) * width_ * bpp,
                  fr->data[0] + static_cast<ptrdiff_t>(y) * fr->linesize[0],
                  static_cast<size_t>(width_) * bpp);
    if (fmt == AV_PIX_FMT_PAL8) {
      const auto* pal = reinterpret_cast<const uint32_t*>(fr->data[1]);
      for (int i = 0; i < 256; i++) {
        out.palette[i * 3] = static_cast<uint8_t>(pal[i]);
        out.palette[i * 3 + 1] = static_cast<uint8_t>(pal[i] >> 8);
        out.palette[i * 3 + 2] = static_cast<uint8_t>(pal[i] >> 16);
      }
    } else if (fmt == AV_PIX_FMT_GRAY8) {
      for (int i = 0; i < 256; i++)
        out.palette[i * 3] = out.palette[i * 3 + 1] = out.palette[i * 3 + 2] =
            static_cast<uint8_t>(i);
    }
    return true;
  }
  if (!out.bitmap) return toBgr_.Convert(fr, out.pixels.data());
  const int64_t stride = Gdi::DibRowBytes(width_, 24);
  out.pixels.resize(static_cast<size_t>(Gdi::kBitmapInfoHeaderSize + stride * height_));
  Gdi::BITMAPINFOHEADER bh;
  bh.biWidth = width_;
  bh.biHeight = height_;
  bh.biBitCount = 24;
  bh.biSizeImage = static_cast<uint32_t>(stride * height_);
  Gdi::WriteBitmapInfoHeader(out.pixels.data(), bh);
  uint8_t* rows = out.pixels.data() + Gdi::kBitmapInfoHeaderSize;
  const int64_t rowBytes = static_cast<int64_t>(width_) * 3;
  if (stride > rowBytes)
    for (int32_t y = 0; y < height_; y++)
      std::memset(rows + y * stride + rowBytes, 0, static_cast<size_t>(stride - rowBytes));
  return toBgr_.Convert(fr, rows + stride * (height_ - 1), -stride);
}

// The key chunk to start from for frame n: the last one at or before it
// whose frame number is known. -1: from the start of the stream.
int32_t VideoDecoder::RestartPoint(int32_t n) const {
  if (reorders_ < 0 || prevKey_.empty()) return -1;
  int32_t k = prevKey_[static_cast<size_t>(std::min<int32_t>(n, static_cast<int32_t>(prevKey_.size()) - 1))];
  if (reorders_ == 0) return k;
  while (k >= 0 && !(keySlot_[static_cast<size_t>(k)] >= 0 && keySlot_[static_cast<size_t>(k)] <= n))
    k = k > 0 ? prevKey_[static_cast<size_t>(k) - 1] : -1;
  return k;
}

void VideoDecoder::Restart(int32_t key) {
  avcodec_flush_buffers(ctx_);
  if (unpack_) av_bsf_flush(unpack_);
  av_packet_unref(held_);
  holding_ = false;
  av_frame_unref(pending_);
  havePending_ = false;
  av_frame_unref(cur_);
  curSlot_ = -1;
  curConverted_ = false;
  drained_ = ended_ = false;
  sendPos_ = std::max(key, 0);
  waitTag_ = key;
  if (key < 0) ordinal_ = -1;
}

// After a failure the decoder may stand anywhere: the next call starts over.
const Frame* VideoDecoder::Fail() {
  Restart(-1);
  return nullptr;
}

// A packet the decoder refuses is a frame that cannot be decoded.
bool VideoDecoder::Send(AVPacket* pkt) {
  const int r = avcodec_send_packet(ctx_, pkt);
  if (r == AVERROR(EAGAIN)) {
    av_packet_move_ref(held_, pkt);
    holding_ = true;
    return true;
  }
  av_packet_unref(pkt);
  return r >= 0;
}

// Gives the decoder the next chunk (numbered in its time stamps), or the end
// of the stream once every chunk was sent.
bool VideoDecoder::Feed() {
  if (holding_) {
    holding_ = false;
    return Send(held_);
  }
  const int32_t count = static_cast<int32_t>(s_->chunks.size());
  while (sendPos_ < count && s_->chunks[static_cast<size_t>(sendPos_)].size == 0) sendPos_++;
  if (sendPos_ >= count) {
    if (drained_) return false;
    drained_ = true;
    if (unpack_ && av_bsf_send_packet(unpack_, nullptr) >= 0)
      while (av_bsf_receive_packet(unpack_, pkt_) == 0)
        if (!Send(pkt_) || holding_) return false;
    return avcodec_send_packet(ctx_, nullptr) >= 0;
  }
  std::vector<uint8_t> data;
  if (!s_->ReadChunkData(sendPos_, data)) return false;
  av_packet_unref(pkt_);
  if (av_new_packet(pkt_, static_cast<int>(data.size())) < 0) return false;
  std::memcpy(pkt_->data, data.data(), data.size());
  pkt_->pts = pkt_->dts = sendPos_;
  if (s_->chunks[static_cast<size_t>(sendPos_)].key) pkt_->flags |= AV_PKT_FLAG_KEY;
  if (bh_.biBitCount <= 8) {
    uint8_t bgr[768];
    s_->PaletteAt(sendPos_, bgr);
    uint8_t* side = av_packet_new_side_data(pkt_, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
    if (side) {
      for (int i = 0; i < 256; i++) {
        const uint32_t v = 0xFF000000u | (static_cast<uint32_t>(bgr[i * 3 + 2]) << 16) |
                           (static_cast<uint32_t>(bgr[i * 3 + 1]) << 8) | bgr[i * 3];
        std::memcpy(side + 4 * i, &v, 4);
      }
    }
  }
  sendPos_++;
  if (!unpack_) return Send(pkt_);
  if (av_bsf_send_packet(unpack_, pkt_) < 0) return false;
  while (!holding_ && av_bsf_receive_packet(unpack_, pkt_) == 0)
    if (!Send(pkt_)) return false;
  return true;
}

// 1: the next picture is pending with its frame number; 0: the stream has
// no more pictures; -1: decoding failed.
int VideoDecoder::NextPicture() {
  const int32_t count = static_cast<int32_t>(s_->chunks.size());
  for (int64_t guard = 0; guard < 4 * int64_t{count} + 64; guard++) {
    const int r = avcodec_receive_frame(ctx_, pending_);
    if (r == AVERROR_EOF) {
      ended_ = true;
      return 0;
    }
    if (r == AVERROR(EAGAIN)) {
      if (!Feed()) return -1;
      continue;
    }
    if (r < 0) return -1;
    if (pending_->decode_error_flags != 0 || (pending_->flags & AV_FRAME_FLAG_CORRUPT)) return -1;
    const int64_t pts = pending_->pts;
    const int32_t tag = pts >= 0 && pts < count ? static_cast<int32_t>(pts) : -1;
    if (waitTag_ >= 0) {
      // Pictures shown before the key frame a seek started at refer to
      // pictures before it: they are not this seek's.
      if (tag != waitTag_ && !(tag < 0 && pending_->key_frame)) {
        av_frame_unref(pending_);
        continue;
      }
      ordinal_ = keySlot_[static_cast<size_t>(waitTag_)] >= 0
                     ? keySlot_[static_cast<size_t>(waitTag_)] - 1
                     : waitTag_ - 1;
      waitTag_ = -1;
    }
    if (reorders_ < 0) reorders_ = ctx_->has_b_frames > 0 ? 1 : 0;
    ordinal_ = (reorders_ == 0 && tag >= 0) ? tag : ordinal_ + 1;
    if (tag >= 0 && s_->chunks[static_cast<size_t>(tag)].key &&
        keySlot_[static_cast<size_t>(tag)] < 0)
      keySlot_[static_cast<size_t>(tag)] = ordinal_;
    pendingSlot_ = ordinal_;
    havePending_ = true;
    return 1;
  }
  return -1;
}

const Frame* VideoDecoder::TakeCurrent() {
  if (!curConverted_) {
    if (!Convert(cur_, converted_)) return Fail();
    curConverted_ = true;
  }
  return &converted_;
}

// The pixels change places with out's instead of being copied; asked for
// the same frame again, the decoder converts its picture once more.
bool VideoDecoder::Decode(int32_t n, Frame& out) {
  if (Decode(n) == nullptr) return false;
  std::swap(out, converted_);
  curConverted_ = false;
  return true;
}

const Frame* VideoDecoder::Decode(int32_t n) {
  if (n < 0 || n >= static_cast<int32_t>(s_->chunks.size())) return nullptr;
  if (raw_) {
    if (!RawFrame(n, converted_)) return nullptr;
    if (naturalBits_ == 0) naturalBits_ = converted_.bits;
    return &converted_;
  }
  const bool before = curSlot_ >= 0 && curSlot_ <= n;
  // Frame n falls between the current picture and the next (or after the
  // last one): the current picture stands for it.
  if (before && (curSlot_ == n || (havePending_ && pendingSlot_ > n) || (ended_ && !havePending_)))
    return TakeCurrent();
  const int32_t key = RestartPoint(n);
  const int32_t keySlot = key < 0 ? -1 : (reorders_ == 1 ? keySlot_[static_cast<size_t>(key)] : key);
  const bool onTheWay = (before || (havePending_ && pendingSlot_ <= n && curSlot_ < 0 &&
                                    waitTag_ < 0)) &&
                        std::max(curSlot_, havePending_ ? pendingSlot_ : -1) >= keySlot;
  if (!onTheWay) Restart(key);
  for (;;) {
    if (!havePending_) {
      const int r = NextPicture();
      if (r < 0) return Fail();
      if (r == 0) {
        if (curSlot_ >= 0 && curSlot_ <= n) return TakeCurrent();
        return Fail();
      }
    }
    if (pendingSlot_ > n) {
      if (curSlot_ >= 0 && curSlot_ < n) return TakeCurrent();
      return Fail();
    }
    av_frame_unref(cur_);
    av_frame_move_ref(cur_, pending_);
    havePending_ = false;
    curSlot_ = pendingSlot_;
    curConverted_ = false;
    if (curSlot_ == n) return TakeCurrent();
  }
}

}  // namespace AviCore

namespace AviFile {

// ---- compressors -----------------------------------------------------------------

namespace {

struct Compressor {
  uint32_t fcc;
  const char* name;
  const char* description;
  AVCodecID id;
  uint32_t flags;
  int32_t outBits;
  int32_t keyRate;  // 0: no default
  int32_t quality;  // 0..10000, -1: no default
  bool round4;      // sizes in multiples of 4
  bool dvSizes;     // only the DV frame sizes
};

const Compressor kCompressors[] = {
    {FourCC("cvid"), "Cinepak", "Cinepak video", AV_CODEC_ID_CINEPAK, VIDCF_TEMPORAL, 24, 15, -1,
     true, false},
    {FourCC("MSVC"), "Video 1", "Video 1 (MSVC)", AV_CODEC_ID_MSVIDEO1, VIDCF_TEMPORAL, 16, 15, -1,
     true, false},
    {FourCC("MJPG"), "Motion JPEG", "Motion JPEG (MJPG)", AV_CODEC_ID_MJPEG, VIDCF_QUALITY, 24, 0,
     7500, false, false},
    {FourCC("dvsd"), "DV", "DV video (dvsd), 720 x 480 or 720 x 576", AV_CODEC_ID_DVVIDEO, 0, 24, 0,
     -1, false, true},
};

bool Available(const Compressor& c) { return avcodec_find_encoder(c.id) != nullptr; }

const Compressor* FindCompressor(uint32_t handler) {
  uint32_t u = Upper(handler);
  if (u == FourCC("CRAM") || u == FourCC("WHAM")) u = FourCC("MSVC");
  for (const Compressor& c : kCompressors)
    if (Upper(c.fcc) == u && Available(c)) return &c;
  return nullptr;
}

// Whether the compressor takes the input as it is (query) or what it makes
// of it (get format).
bool InputUsable(const Gdi::BITMAPINFOHEADER& in) {
  return in.biCompression == Gdi::BI_RGB &&
         (in.biBitCount == 8 || in.biBitCount == 16 || in.biBitCount == 24 ||
          in.biBitCount == 32) &&
         in.biWidth > 0 && in.biHeight > 0 && in.biWidth <= AvSupport::kMaxPictureSide &&
         in.biHeight <= AvSupport::kMaxPictureSide;
}

bool DvSize(int32_t w, int32_t h) { return w == 720 && (h == 480 || h == 576); }

bool OutputOf(const Compressor& c, const Gdi::BITMAPINFOHEADER& in, Gdi::BITMAPINFOHEADER* out) {
  if (!InputUsable(in)) return false;
  int32_t w = in.biWidth, h = in.biHeight;
  if (c.round4) {
    w = (w + 3) / 4 * 4;
    h = (h + 3) / 4 * 4;
  }
  if (c.dvSizes && !DvSize(w, h)) return false;
  *out = Gdi::BITMAPINFOHEADER{};
  out->biWidth = w;
  out->biHeight = h;
  out->biBitCount = static_cast<uint16_t>(c.outBits);
  out->biCompression = c.fcc;
  out->biSizeImage = static_cast<uint32_t>(static_cast<int64_t>(w) * h * ((c.outBits + 7) / 8));
  return true;
}

bool Accepts(const Compressor& c, const Gdi::BITMAPINFOHEADER& in) {
  Gdi::BITMAPINFOHEADER out;
  return OutputOf(c, in, &out) && out.biWidth == in.biWidth && out.biHeight == in.biHeight;
}

}  // namespace

struct IcObj {
  const Compressor* c = nullptr;
};

bool ICInfo(uint32_t type, int32_t index, ICINFO* info) {
  if (info == nullptr || (type != ICTYPE_VIDEO && type != 0) || index < 0) return false;
  int32_t k = 0;
  for (const Compressor& c : kCompressors) {
    if (!Available(c)) continue;
    if (k++ != index) continue;
    *info = ICINFO{};
    info->fccType = ICTYPE_VIDEO;
    info->fccHandler = c.fcc;
    info->dwFlags = c.flags;
    std::snprintf(info->szName, sizeof info->szName, "%s", c.name);
    std::snprintf(info->szDescription, sizeof info->szDescription, "%s", c.description);
    return true;
  }
  return false;
}

HIC ICOpen(uint32_t type, uint32_t handler, uint32_t /*mode*/) {
  if (type != ICTYPE_VIDEO) return nullptr;
  const Compressor* c = FindCompressor(handler);
  if (c == nullptr) return nullptr;
  auto* ic = new (std::nothrow) IcObj;
  if (ic) ic->c = c;
  return ic;
}

LRESULT ICClose(HIC ic) {
  delete ic;
  return ICERR_OK;
}

LRESULT ICGetInfo(HIC ic, ICINFO* info, int32_t size) {
  if (ic == nullptr || info == nullptr || size < static_cast<int32_t>(sizeof(ICINFO))) return 0;
  for (int32_t i = 0; ICInfo(ICTYPE_VIDEO, i, info); i++)
    if (info->fccHandler == ic->c->fcc) return static_cast<LRESULT>(sizeof(ICINFO));
  return 0;
}

LRESULT ICSendMessage(HIC ic, uint32_t message, intptr_t p1, intptr_t p2) {
  if (ic == nullptr) return ICERR_BADPARAM;
  const Compressor& c = *ic->c;
  switch (message) {
    case ICM_GETSTATE:
      return 0;  // no private state
    case ICM_SETSTATE:
      return 0;
    case ICM_GETDEFAULTQUALITY:
      if (c.quality < 0 || p1 == 0) return ICERR_UNSUPPORTED;
      *reinterpret_cast<uint32_t*>(p1) = static_cast<uint32_t>(c.quality);
      return ICERR_OK;
    case ICM_GETDEFAULTKEYFRAMERATE:
      if (c.keyRate <= 0 || p1 == 0) return ICERR_UNSUPPORTED;
      *reinterpret_cast<uint32_t*>(p1) = static_cast<uint32_t>(c.keyRate);
      return ICERR_OK;
    case ICM_COMPRESS_GET_FORMAT: {
      if (p1 == 0) return ICERR_BADPARAM;
      Gdi::BITMAPINFOHEADER out;
      if (!OutputOf(c, Gdi::ReadBitmapInfoHeader(reinterpret_cast<const uint8_t*>(p1)), &out))
        return ICERR_BADFORMAT;
      if (p2 == 0) return Gdi::kBitmapInfoHeaderSize;
      Gdi::WriteBitmapInfoHeader(reinterpret_cast<uint8_t*>(p2), out);
      return ICERR_OK;
    }
    case ICM_COMPRESS_QUERY:
      if (p1 == 0) return ICERR_BADPARAM;
      return Accepts(c, Gdi::ReadBitmapInfoHeader(reinterpret_cast<const uint8_t*>(p1)))
                 ? ICERR_OK
                 : ICERR_BADFORMAT;
    default:
      // No about box, no configuration dialog.
      return ICERR_UNSUPPORTED;
  }
}

// ---- the file calls ----------------------------------------------------------------

namespace {
int fileLayerUsers = 0;
}

void AVIFileInit() { fileLayerUsers++; }
void AVIFileExit() {
  if (fileLayerUsers > 0) fileLayerUsers--;
}

HRESULT AVIFileOpen(PAVIFILE* file, const char* fileName, uint32_t mode, const void* /*handler*/) {
  if (file == nullptr || fileName == nullptr) return AVIERR_BADPARAM;
  *file = nullptr;
  auto f = std::make_unique<AviFileObj>();
  if (mode & OF_CREATE) {
    f->out = std::fopen(fileName, "w+b");
    if (!f->out) return AVIERR_FILEOPEN;
    f->writing = true;
    *file = f.release();
    return AVIERR_OK;
  }
  f->mmio = MmIo::mmioOpenA(fileName, MmIo::MMIO_READ);
  if (!f->mmio) return AVIERR_FILEOPEN;
  if (const HRESULT parsed = AviCore::ParseFile(f.get()); parsed != AVIERR_OK) return parsed;
  *file = f.release();
  return AVIERR_OK;
}

HRESULT AVIFileInfo(PAVIFILE f, AVIFILEINFO* info, int32_t /*size*/) {
  if (f == nullptr || info == nullptr) return AVIERR_BADPARAM;
  *info = AVIFILEINFO{};
  if (f->avih.size() >= 40) {
    const uint8_t* a = f->avih.data();
    info->dwMaxBytesPerSec = Rd32(a + 4);
    info->dwFlags = Rd32(a + 12);
    info->dwLength = Rd32(a + 16);
    info->dwSuggestedBufferSize = Rd32(a + 28);
    info->dwWidth = Rd32(a + 32);
    info->dwHeight = Rd32(a + 36);
  }
  if (f->cut) info->dwFlags |= AVIFILEINFO_CUT;
  info->dwStreams = static_cast<uint32_t>(f->streams.size());
  return AVIERR_OK;
}

HRESULT AVIFileGetStream(PAVIFILE f, PAVISTREAM* stream, uint32_t type, int32_t index) {
  if (f == nullptr || stream == nullptr) return AVIERR_BADPARAM;
  *stream = nullptr;
  int32_t k = 0;
  for (auto& s : f->streams) {
    if (s->compressedOver != nullptr) continue;
    if (type != 0 && s->info.fccType != type) continue;
    if (k++ == index) {
      *stream = s.get();
      return AVIERR_OK;
    }
  }
  return AVIERR_NODATA;
}

namespace {

// A block handed out the way the layer's read calls do: with dest null the
// size only, else the whole block when *size has room for it.
HRESULT CopyOut(const std::vector<uint8_t>& block, void* dest, int32_t* size) {
  const int32_t n = static_cast<int32_t>(block.size());
  if (dest != nullptr) {
    if (*size < n) return AVIERR_BUFFERTOOSMALL;
    std::memcpy(dest, block.data(), static_cast<size_t>(n));
  }
  *size = n;
  return AVIERR_OK;
}

}  // namespace

HRESULT AVIFileReadData(PAVIFILE f, uint32_t ckid, void* data, int32_t* size) {
  if (f == nullptr || size == nullptr) return AVIERR_BADPARAM;
  if (ckid != ckidLIST || f->info.empty()) return AVIERR_NODATA;
  return CopyOut(f->info, data, size);
}

HRESULT AVIStreamInfo(PAVISTREAM s, AVISTREAMINFO* info, int32_t /*size*/) {
  if (s == nullptr || info == nullptr) return AVIERR_BADPARAM;
  *info = s->info;
  return AVIERR_OK;
}

int32_t AVIStreamLength(PAVISTREAM s) {
  if (s == nullptr) return -1;
  return static_cast<int32_t>(std::min<int64_t>(s->Length(), INT32_MAX));
}

int64_t AVIStreamDataBytes(PAVISTREAM s) {
  return s == nullptr || s->cumBytes.empty() ? 0 : s->cumBytes.back();
}

HRESULT AVIStreamReadFormat(PAVISTREAM s, int32_t /*position*/, void* format, int32_t* size) {
  if (s == nullptr || size == nullptr) return AVIERR_BADPARAM;
  if (s->format.empty()) return AVIERR_NODATA;
  return CopyOut(s->format, format, size);
}

HRESULT AVIStreamRead(PAVISTREAM s, int32_t start, int32_t samples, void* buffer,
                      int32_t bufferSize, int32_t* bytesRead, int32_t* samplesRead) {
  if (bytesRead) *bytesRead = 0;
  if (samplesRead) *samplesRead = 0;
  if (s == nullptr || s->file == nullptr || s->file->mmio == nullptr || start < 0 ||
      bufferSize < 0 || (buffer == nullptr && bufferSize > 0))
    return AVIERR_BADPARAM;
  const int64_t length = s->Length();
  if (start >= length) return AVIERR_NODATA;
  const int64_t wanted = samples < 0 ? length - start : std::min<int64_t>(samples, length - start);
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0, bytes = 0;
  if (s->info.dwSampleSize > 0) {
    const int64_t ss = s->info.dwSampleSize;
    const int64_t n = std::min<int64_t>(wanted, bufferSize / ss);
    if (n < 1) return wanted > 0 ? AVIERR_BUFFERTOOSMALL : AVIERR_OK;
    int64_t pos = start * ss;
    const int64_t end = pos + n * ss;
    auto it = std::upper_bound(s->cumBytes.begin(), s->cumBytes.end(), pos);
    size_t ci = static_cast<size_t>(it - s->cumBytes.begin()) - 1;
    while (pos < end && ci < s->chunks.size()) {
      const int64_t inChunk = pos - s->cumBytes[ci];
      const int64_t take = std::min<int64_t>(s->chunks[ci].size - inChunk, end - pos);
      if (take > 0 && !ReadAt(s->file, s->chunks[ci].offset + inChunk, out + bytes, take))
        return AVIERR_FILEREAD;
      bytes += std::max<int64_t>(take, 0);
      pos += std::max<int64_t>(take, 0);
      ci++;
    }
    done = n;
  } else {
    for (int64_t i = start; i < start + wanted; i++) {
      const Chunk& c = s->chunks[static_cast<size_t>(i)];
      if (bytes + c.size > bufferSize) break;
      if (!ReadAt(s->file, c.offset, out + bytes, c.size)) return AVIERR_FILEREAD;
      bytes += c.size;
      done++;
    }
    if (done == 0 && wanted > 0) return AVIERR_BUFFERTOOSMALL;
  }
  if (bytesRead) *bytesRead = static_cast<int32_t>(bytes);
  if (samplesRead) *samplesRead = static_cast<int32_t>(done);
  return AVIERR_OK;
}

struct GetFrameObj {
  AviCore::AheadDecoder decoder;
  std::vector<uint8_t> dib;
};

PGETFRAME AVIStreamGetFrameOpen(PAVISTREAM s, const Gdi::BITMAPINFOHEADER* wanted) {
  if (s == nullptr || wanted != nullptr || s->info.fccType != streamtypeVIDEO ||
      s->file == nullptr || s->file->mmio == nullptr)
    return nullptr;
  auto g = std::make_unique<GetFrameObj>();
  if (!g->decoder.Open(s, AvSupport::CodecThreads() > 1)) return nullptr;
  g->decoder.DeliverBitmaps();
  return g.release();
}

const uint8_t* AVIStreamGetFrame(PGETFRAME g, int32_t position, int64_t* bytes) {
  if (bytes) *bytes = 0;
  const Frame* decoded = g ? g->decoder.Decode(position) : nullptr;
  if (decoded == nullptr) return nullptr;
  const Frame& fr = *decoded;
  if (fr.bitmap) {
    if (bytes) *bytes = static_cast<int64_t>(fr.pixels.size());
    return fr.pixels.data();
  }
  const int32_t bitCount = fr.bits == 15 ? 16 : fr.bits;
  const int64_t stride = Gdi::DibRowBytes(fr.width, bitCount);
  const int64_t palBytes = fr.bits == 8 ? 1024 : 0;
  const int64_t total = Gdi::kBitmapInfoHeaderSize + palBytes + stride * fr.height;
  // The block is kept from frame to frame; every byte of it is written.
  g->dib.resize(static_cast<size_t>(total));
  Gdi::BITMAPINFOHEADER bh;
  bh.biWidth = fr.width;
  bh.biHeight = fr.height;
  bh.biBitCount = static_cast<uint16_t>(bitCount);
  bh.biSizeImage = static_cast<uint32_t>(stride * fr.height);
  bh.biClrUsed = fr.bits == 8 ? 256 : 0;
  Gdi::WriteBitmapInfoHeader(g->dib.data(), bh);
  uint8_t* p = g->dib.data() + Gdi::kBitmapInfoHeaderSize;
  for (int64_t i = 0; i < palBytes / 4; i++) {
    p[i * 4] = fr.palette[i * 3];
    p[i * 4 + 1] = fr.palette[i * 3 + 1];
    p[i * 4 + 2] = fr.palette[i * 3 + 2];
    p[i * 4 + 3] = 0;
  }
  p += palBytes;
  const int64_t rowBytes = static_cast<int64_t>(fr.width) * ((fr.bits + 7) / 8);
  for (int32_t y = 0; y < fr.height; y++) {
    uint8_t* row = p + (fr.height - 1 - y) * stride;
    std::memcpy(row, fr.pixels.data() + y * rowBytes, static_cast<size_t>(rowBytes));
    std::memset(row + rowBytes, 0, static_cast<size_t>(stride - rowBytes));
  }
  if (bytes) *bytes = total;
  return g->dib.data();
}

void AVIStreamGetFrameClose(PGETFRAME g) { delete g; }

// ---- writing -------------------------------------------------------------------------

namespace {

void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; i++) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
void Put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
void PutChunk(std::vector<uint8_t>& v, uint32_t id, const std::vector<uint8_t>& data) {
  Put32(v, id);
  Put32(v, static_cast<uint32_t>(data.size()));
  v.insert(v.end(), data.begin(), data.end());
  if (data.size() & 1) v.push_back(0);
}
std::vector<uint8_t> List(uint32_t type, const std::vector<uint8_t>& body) {
  std::vector<uint8_t> v;
  Put32(v, type);
  v.insert(v.end(), body.begin(), body.end());
  return v;
}

bool WriteAll(FILE* f, const void* data, int64_t n) {
  return n == 0 || std::fwrite(data, 1, static_cast<size_t>(n), f) == static_cast<size_t>(n);
}

uint32_t ChunkId(int32_t stream, const char* kind) {
  return static_cast<uint32_t>('0' + stream / 10) |
         (static_cast<uint32_t>('0' + stream % 10) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(kind[0])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(kind[1])) << 24);
}

// The header lists (hdrl and INFO) as they stand.
std::vector<uint8_t> HeaderLists(AviFileObj* f) {
  std::vector<uint8_t> hdrl;
  const AviStreamObj* video = nullptr;
  uint32_t maxChunk = 0;
  int64_t dataBytes = 0;
  int32_t count = 0;
  for (auto& s : f->streams) {
    if (s->compressedOver) continue;
    count++;
    if (!video && s->info.fccType == streamtypeVIDEO) video = s.get();
    for (auto& c : s->chunks) {
      maxChunk = std::max(maxChunk, c.size);
      dataBytes += c.size;
    }
  }
  double seconds = 0;
  if (video && video->info.dwRate > 0)
    seconds = static_cast<double>(video->chunks.size()) * video->info.dwScale / video->info.dwRate;
  std::vector<uint8_t> avih;
  Put32(avih,
        video && video->info.dwRate > 0
            ? static_cast<uint32_t>(std::llround(1e6 * video->info.dwScale / video->info.dwRate))
            : 0);
  Put32(avih, seconds > 0 ? static_cast<uint32_t>(std::min(4e9, dataBytes / seconds)) : 0);
  Put32(avih, 0);
  Put32(avih, 0x10 | 0x100);  // has index, interleaved
  Put32(avih, video ? static_cast<uint32_t>(video->chunks.size()) : 0);
  Put32(avih, 0);
  Put32(avih, static_cast<uint32_t>(count));
  Put32(avih, maxChunk + 8);
  Put32(avih, video ? static_cast<uint32_t>(video->info.rcFrame.right) : 0);
  Put32(avih, video ? static_cast<uint32_t>(video->info.rcFrame.bottom) : 0);
  for (int i = 0; i < 4; i++) Put32(avih, 0);
  PutChunk(hdrl, MmIo::mmioFOURCC('a', 'v', 'i', 'h'), avih);
  for (auto& s : f->streams) {
    if (s->compressedOver) continue;
    const AVISTREAMINFO& si = s->info;
    uint32_t streamMax = 0;
    for (auto& c : s->chunks) streamMax = std::max(streamMax, c.size);
    std::vector<uint8_t> strh;
    Put32(strh, si.fccType);
    Put32(strh, si.fccHandler);
    Put32(strh, si.dwFlags);
    Put16(strh, si.wPriority);
    Put16(strh, si.wLanguage);
    Put32(strh, 0);
    Put32(strh, si.dwScale);
    Put32(strh, si.dwRate);
    Put32(strh, si.dwStart);
    Put32(strh, static_cast<uint32_t>(s->Length()));
    Put32(strh, std::max(si.dwSuggestedBufferSize, streamMax));
    Put32(strh, si.dwQuality);
    Put32(strh, si.dwSampleSize);
    Put16(strh, static_cast<uint16_t>(si.rcFrame.left));
    Put16(strh, static_cast<uint16_t>(si.rcFrame.top));
    Put16(strh, static_cast<uint16_t>(si.rcFrame.right));
    Put16(strh, static_cast<uint16_t>(si.rcFrame.bottom));
    std::vector<uint8_t> strl;
    PutChunk(strl, MmIo::mmioFOURCC('s', 't', 'r', 'h'), strh);
    PutChunk(strl, MmIo::mmioFOURCC('s', 't', 'r', 'f'), s->format);
    PutChunk(hdrl, ckidLIST, List(MmIo::mmioFOURCC('s', 't', 'r', 'l'), strl));
  }
  std::vector<uint8_t> out;
  PutChunk(out, ckidLIST, List(MmIo::mmioFOURCC('h', 'd', 'r', 'l'), hdrl));
  if (!f->info.empty()) PutChunk(out, ckidLIST, f->info);
  return out;
}

bool StartData(AviFileObj* f) {
  if (f->moviPos > 0) return true;
  f->moviPos = 12 + static_cast<int64_t>(HeaderLists(f).size()) + kHeaderSpare;
  if (fseeko(f->out, f->moviPos, SEEK_SET) != 0) return false;
  const uint8_t head[12] = {'L', 'I', 'S', 'T', 0, 0, 0, 0, 'm', 'o', 'v', 'i'};
  if (!WriteAll(f->out, head, 12)) return false;
  f->writePos = f->moviPos + 12;
  return true;
}

HRESULT Append(AviStreamObj* s, uint32_t ckid, const uint8_t* data, int64_t size, uint32_t flags) {
  AviFileObj* f = s->file;
  if (f->failed) return AVIERR_FILEWRITE;
  if (size < 0 || f->writePos + size + 8 + 16 * (f->index.size() + 1) > kMaxWriteBytes)
    return AVIERR_FILEWRITE;
  if (!StartData(f)) {
    f->failed = true;
    return AVIERR_FILEWRITE;
  }
  uint8_t head[8];
  Gdi::WriteDword(head, ckid);
  Gdi::WriteDword(head + 4, static_cast<uint32_t>(size));
  const uint8_t pad = 0;
  if (fseeko(f->out, f->writePos, SEEK_SET) != 0 || !WriteAll(f->out, head, 8) ||
      !WriteAll(f->out, data, size) || ((size & 1) && !WriteAll(f->out, &pad, 1))) {
    f->failed = true;
    return AVIERR_FILEWRITE;
  }
  const auto offset = static_cast<uint32_t>(f->writePos);
  s->chunks.push_back({offset + 8, static_cast<uint32_t>(size), (flags & AVIIF_KEYFRAME) != 0});
  if (s->cumBytes.empty()) s->cumBytes.push_back(0);
  s->cumBytes.push_back(s->cumBytes.back() + size);
  f->index.push_back({ckid, flags & AVIIF_KEYFRAME, offset, static_cast<uint32_t>(size)});
  f->writePos += 8 + size + (size & 1);
  return AVIERR_OK;
}

HRESULT Finish(AviFileObj* f) {
  if (f->failed) return AVIERR_FILEWRITE;
  if (!StartData(f)) return AVIERR_FILEWRITE;
  // The index follows the movie list; its offsets count from "movi".
  const int64_t moviEnd = f->writePos;
  std::vector<uint8_t> idx;
  Put32(idx, MmIo::mmioFOURCC('i', 'd', 'x', '1'));
  Put32(idx, static_cast<uint32_t>(f->index.size() * 16));
  for (const auto& e : f->index) {
    Put32(idx, e.ckid);
    Put32(idx, e.flags);
    Put32(idx, static_cast<uint32_t>(e.offset - (f->moviPos + 8)));
    Put32(idx, e.size);
  }
  if (fseeko(f->out, moviEnd, SEEK_SET) != 0 ||
      !WriteAll(f->out, idx.data(), static_cast<int64_t>(idx.size())))
    return AVIERR_FILEWRITE;
  const int64_t fileEnd = moviEnd + static_cast<int64_t>(idx.size());
  std::vector<uint8_t> head;
  Put32(head, MmIo::FOURCC_RIFF);
  Put32(head, static_cast<uint32_t>(fileEnd - 8));
  Put32(head, MmIo::mmioFOURCC('A', 'V', 'I', ' '));
  const std::vector<uint8_t> lists = HeaderLists(f);
  head.insert(head.end(), lists.begin(), lists.end());
  const int64_t gap = f->moviPos - static_cast<int64_t>(head.size());
  if (gap != 0 && gap < 8) return AVIERR_FILEWRITE;
  if (gap >= 8) {
    Put32(head, MmIo::mmioFOURCC('J', 'U', 'N', 'K'));
    Put32(head, static_cast<uint32_t>(gap - 8));
    head.resize(static_cast<size_t>(f->moviPos), 0);
  }
  Put32(head, ckidLIST);
  Put32(head, static_cast<uint32_t>(moviEnd - f->moviPos - 8));
  if (fseeko(f->out, 0, SEEK_SET) != 0 ||
      !WriteAll(f->out, head.data(), static_cast<int64_t>(head.size())))
    return AVIERR_FILEWRITE;
  return std::fflush(f->out) == 0 ? AVIERR_OK : AVIERR_FILEWRITE;
}

// Sends one frame (or null to drain) and appends the packets it gives.
HRESULT Encode(AviStreamObj* cs, AVFrame* frame) {
  AviStreamObj* target = cs->compressedOver;
  // A fixed quality scale is read from each frame, not from the encoder.
  if (frame && (cs->enc->flags & AV_CODEC_FLAG_QSCALE)) frame->quality = cs->enc->global_quality;
  if (avcodec_send_frame(cs->enc, frame) < 0) return AVIERR_COMPRESSOR;
  for (;;) {
    const int r = avcodec_receive_packet(cs->enc, cs->pkt);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return AVIERR_OK;
    if (r < 0) return AVIERR_COMPRESSOR;
    const HRESULT hr = Append(target, ChunkId(target->index, "dc"), cs->pkt->data, cs->pkt->size,
                              (cs->pkt->flags & AV_PKT_FLAG_KEY) ? AVIIF_KEYFRAME : 0);
    av_packet_unref(cs->pkt);
    if (hr != AVIERR_OK) return hr;
  }
}

void FreeEncoder(AviStreamObj* s) {
  avcodec_free_context(&s->enc);
  av_frame_free(&s->encFrame);
  av_packet_free(&s->pkt);
  sws_freeContext(s->sws);
  s->sws = nullptr;
}

}  // namespace

AviStreamObj::~AviStreamObj() { FreeEncoder(this); }

AviFileObj::~AviFileObj() {
  if (mmio) MmIo::mmioClose(mmio, 0);
  if (out) std::fclose(out);
}

HRESULT AVIFileRelease(PAVIFILE f) {
  if (f == nullptr) return AVIERR_BADPARAM;
  HRESULT hr = AVIERR_OK;
  if (f->writing) {
    // Compressed streams still holding frames give them out first.
    for (auto& s : f->streams)
      if (s->compressedOver && s->enc && !s->drained) {
        s->drained = true;
        const HRESULT r = Encode(s.get(), nullptr);
        if (r != AVIERR_OK) hr = r;
      }
    const HRESULT r = Finish(f);
    if (hr == AVIERR_OK) hr = r;
    if (std::fclose(f->out) != 0 && hr == AVIERR_OK) hr = AVIERR_FILEWRITE;
    f->out = nullptr;
  }
  delete f;
  return hr;
}

HRESULT AVIFileWriteData(PAVIFILE f, uint32_t ckid, const void* data, int32_t size) {
  if (f == nullptr || !f->writing || data == nullptr || size < 4 || ckid != ckidLIST)
    return AVIERR_BADPARAM;
  if (size > kMaxInfoBytes) return AVIERR_BADSIZE;
  // Once movie data is written the header room is fixed: what does not fit
  // fails when the file is finished.
  const auto* p = static_cast<const uint8_t*>(data);
  f->info.assign(p, p + size);
  return AVIERR_OK;
}

HRESULT AVIFileCreateStream(PAVIFILE f, PAVISTREAM* stream, const AVISTREAMINFO* info) {
  if (f == nullptr || stream == nullptr || info == nullptr || !f->writing) return AVIERR_BADPARAM;
  *stream = nullptr;
  if (info->fccType != streamtypeVIDEO && info->fccType != streamtypeAUDIO) return AVIERR_BADFORMAT;
  if (f->streams.size() >= 8) return AVIERR_UNSUPPORTED;
  if (info->dwRate == 0 || info->dwScale == 0) return AVIERR_BADFORMAT;
  auto s = std::make_unique<AviStreamObj>();
  s->file = f;
  s->info = *info;
  int32_t n = 0;
  for (auto& o : f->streams)
    if (!o->compressedOver) n++;
  s->index = n;
  s->writing = true;
  *stream = s.get();
  f->streams.push_back(std::move(s));
  return AVIERR_OK;
}

HRESULT AVIMakeCompressedStream(PAVISTREAM* compressed, PAVISTREAM source,
                                const AVICOMPRESSOPTIONS* options, const void* /*handler*/) {
  if (compressed == nullptr || source == nullptr || options == nullptr || !source->writing ||
      source->info.fccType != streamtypeVIDEO)
    return AVIERR_BADPARAM;
  *compressed = nullptr;
  const uint32_t u = Upper(options->fccHandler);
  const bool raw =
      options->fccHandler == 0 || u == FourCC("DIB ") || u == FourCC("RAW ") || u == FourCC("RGB ");
  if (!raw && FindCompressor(options->fccHandler) == nullptr) return AVIERR_NOCOMPRESSOR;
  auto s = std::make_unique<AviStreamObj>();
  s->file = source->file;
  s->info = source->info;
  s->writing = true;
  s->compressedOver = source;
  s->options = *options;
  s->options.lpParms = nullptr;
  s->options.lpFormat = nullptr;
  s->passThrough = raw;
  *compressed = s.get();
  source->file->streams.push_back(std::move(s));
  return AVIERR_OK;
}

namespace {

AVPixelFormat InputPixFmt(int32_t bits) {
  switch (bits) {
    case 8:
      return AV_PIX_FMT_PAL8;
    case 16:
      return AV_PIX_FMT_RGB555LE;
    case 24:
      return AV_PIX_FMT_BGR24;
    case 32:
      return AV_PIX_FMT_BGR0;
    default:
      return AV_PIX_FMT_NONE;
  }
}

HRESULT OpenEncoder(AviStreamObj* cs, const Gdi::BITMAPINFOHEADER& in) {
  const Compressor* c = FindCompressor(cs->options.fccHandler);
  if (c == nullptr) return AVIERR_NOCOMPRESSOR;
  Gdi::BITMAPINFOHEADER out;
  if (!OutputOf(*c, in, &out)) return AVIERR_BADFORMAT;
  const AVISTREAMINFO& si = cs->compressedOver->info;
  AVRational tb{static_cast<int>(std::min<uint32_t>(si.dwScale, INT32_MAX)),
                static_cast<int>(std::min<uint32_t>(si.dwRate, INT32_MAX))};
  AVPixelFormat fmt = AV_PIX_FMT_BGR24;
  switch (c->id) {
    case AV_CODEC_ID_CINEPAK:
      fmt = AV_PIX_FMT_RGB24;
      break;
    case AV_CODEC_ID_MSVIDEO1:
      fmt = AV_PIX_FMT_RGB555LE;
      break;
    case AV_CODEC_ID_MJPEG:
      fmt = AV_PIX_FMT_YUVJ420P;
      break;
    default: {
      // DV has one frame rate for each of its sizes.
      const double fps = static_cast<double>(si.dwRate) / si.dwScale;
      if (out.biHeight == 480 && std::fabs(fps - 30000.0 / 1001) < 0.01) {
        tb = AVRational{1001, 30000};
        fmt = AV_PIX_FMT_YUV411P;
      } else if (out.biHeight == 576 && std::fabs(fps - 25.0) < 0.01) {
        tb = AVRational{1, 25};
        fmt = AV_PIX_FMT_YUV420P;
      } else {
        return AVIERR_BADFORMAT;
      }
    }
  }
  const AVCodec* codec = avcodec_find_encoder(c->id);
  cs->enc = avcodec_alloc_context3(codec);
  cs->encFrame = av_frame_alloc();
  cs->pkt = av_packet_alloc();
  if (!cs->enc || !cs->encFrame || !cs->pkt) return AVIERR_MEMORY;
  AVCodecContext* e = cs->enc;
  e->width = out.biWidth;
  e->height = out.biHeight;
  e->pix_fmt = fmt;
  av_reduce(&tb.num, &tb.den, tb.num, tb.den, INT32_MAX);
  e->time_base = tb;
  e->framerate = AVRational{tb.den, tb.num};
  e->thread_count = 1;
  e->codec_tag = c->fcc;
  const AVICOMPRESSOPTIONS& o = cs->options;
  if ((o.dwFlags & AVICOMPRESSF_KEYFRAMES) && o.dwKeyFrameEvery > 0) {
    e->gop_size = static_cast<int>(std::min<uint32_t>(o.dwKeyFrameEvery, 10000));
    e->keyint_min = e->gop_size;
  }
  if ((o.dwFlags & AVICOMPRESSF_DATARATE) && o.dwBytesPerSecond > 0)
    e->bit_rate = static_cast<int64_t>(o.dwBytesPerSecond) * 8;
  if ((c->flags & VIDCF_QUALITY) && o.dwQuality <= 10000) {
    const int q = std::clamp(1 + static_cast<int>((10000 - o.dwQuality) * 30 / 10000), 1, 31);
    e->flags |= AV_CODEC_FLAG_QSCALE;
    e->global_quality = q * FF_QP2LAMBDA;
  }
  if (avcodec_open2(e, codec, nullptr) < 0) return AVIERR_COMPRESSOR;
  cs->encFrame->format = fmt;
  cs->encFrame->width = out.biWidth;
  cs->encFrame->height = out.biHeight;
  if (av_frame_get_buffer(cs->encFrame, 0) < 0) return AVIERR_MEMORY;
  // The stream keeps the code the caller chose ("CRAM" stays "CRAM").
  out.biCompression =
      Upper(cs->options.fccHandler) == Upper(c->fcc) ? c->fcc : cs->options.fccHandler;
  cs->compressedOver->format.assign(Gdi::kBitmapInfoHeaderSize, 0);
  Gdi::WriteBitmapInfoHeader(cs->compressedOver->format.data(), out);
  if (e->extradata_size > 0)
    cs->compressedOver->format.insert(cs->compressedOver->format.end(), e->extradata,
                                      e->extradata + e->extradata_size);
  return AVIERR_OK;
}

// A later format of a compressed stream may only bring a new palette for
// 8-bit frames; uncompressed frames get it as a palette change chunk.
HRESULT ChangePalette(AviStreamObj* s, const uint8_t* p, int32_t size) {
  const Gdi::BITMAPINFOHEADER in = Gdi::ReadBitmapInfoHeader(p);
  if (s->compressedOver == nullptr || s->input.biBitCount != 8 || in.biWidth != s->input.biWidth ||
      in.biHeight != s->input.biHeight || in.biBitCount != 8 ||
      size < Gdi::kBitmapInfoHeaderSize + 1024)
    return AVIERR_UNSUPPORTED;
  std::vector<uint8_t> pc(4 + 1024, 0);  // first entry 0, 256 entries, flags 0
  for (int i = 0; i < 256; i++) {
    const uint8_t* q = p + Gdi::kBitmapInfoHeaderSize + 4 * i;
    s->inPalette[i] = 0xFF000000u | (static_cast<uint32_t>(q[2]) << 16) |
                      (static_cast<uint32_t>(q[1]) << 8) | q[0];
    pc[4 + 4 * i] = q[2];
    pc[4 + 4 * i + 1] = q[1];
    pc[4 + 4 * i + 2] = q[0];
  }
  if (!s->passThrough) return AVIERR_OK;
  AviStreamObj* t = s->compressedOver;
  const HRESULT hr =
      Append(t, ChunkId(t->index, "pc"), pc.data(), static_cast<int64_t>(pc.size()), 0);
  if (hr == AVIERR_OK) {
    // Append counted it as a frame: it is a palette change before the next.
    const AviCore::Chunk c = t->chunks.back();
    t->chunks.pop_back();
    t->cumBytes.pop_back();
    t->palChanges.push_back({static_cast<int32_t>(t->chunks.size()), c.offset, c.size});
  }
  return hr;
}

}  // namespace

HRESULT AVIStreamSetFormat(PAVISTREAM s, int32_t /*position*/, const void* format, int32_t size) {
  if (s == nullptr || format == nullptr || size < 16 || !s->writing) return AVIERR_BADPARAM;
  const auto* p = static_cast<const uint8_t*>(format);
  if (s->formatSet) return ChangePalette(s, p, size);
  if (!s->format.empty()) return AVIERR_UNSUPPORTED;
  if (s->info.fccType == streamtypeAUDIO) {
    if (size > 18 + kMaxWaveExtra) return AVIERR_BADSIZE;
    s->format.assign(p, p + size);
    return AVIERR_OK;
  }
  if (size < Gdi::kBitmapInfoHeaderSize) return AVIERR_BADFORMAT;
  const Gdi::BITMAPINFOHEADER in = Gdi::ReadBitmapInfoHeader(p);
  if (!InputUsable(in) || in.biSize != static_cast<uint32_t>(Gdi::kBitmapInfoHeaderSize))
    return AVIERR_BADFORMAT;
  if (in.biBitCount == 8 && size < Gdi::kBitmapInfoHeaderSize + 1024) return AVIERR_BADFORMAT;
  if (s->compressedOver == nullptr) {
    s->format.assign(p, p + size);
    return AVIERR_OK;
  }
  s->input = in;
  if (in.biBitCount == 8) {
    for (int i = 0; i < 256; i++) {
      const uint8_t* q = p + Gdi::kBitmapInfoHeaderSize + 4 * i;
      s->inPalette[i] = 0xFF000000u | (static_cast<uint32_t>(q[2]) << 16) |
                        (static_cast<uint32_t>(q[1]) << 8) | q[0];
    }
  }
  s->formatSet = true;
  if (s->passThrough) {
    s->compressedOver->format.assign(p, p + size);
    return AVIERR_OK;
  }
  const HRESULT hr = OpenEncoder(s, in);
  if (hr != AVIERR_OK) {
    FreeEncoder(s);
    s->formatSet = false;
  }
  return hr;
}

HRESULT AVIStreamWrite(PAVISTREAM s, int32_t /*start*/, int32_t samples, const void* buffer,
                       int32_t bufferSize, uint32_t flags, int32_t* samplesWritten,
                       int32_t* bytesWritten) {
  if (samplesWritten) *samplesWritten = 0;
  if (bytesWritten) *bytesWritten = 0;
  if (s == nullptr || !s->writing || buffer == nullptr || bufferSize < 0 || samples < 0)
    return AVIERR_BADPARAM;
  const auto* p = static_cast<const uint8_t*>(buffer);
  if (s->compressedOver == nullptr) {
    if (s->format.empty()) return AVIERR_BADFORMAT;
    const bool audio = s->info.fccType == streamtypeAUDIO;
    const HRESULT hr = Append(s, ChunkId(s->index, audio ? "wb" : "db"), p, bufferSize,
                              audio ? AVIIF_KEYFRAME : flags);
    if (hr == AVIERR_OK) {
      if (samplesWritten) *samplesWritten = samples;
      if (bytesWritten) *bytesWritten = bufferSize;
    }
    return hr;
  }
  if (!s->formatSet) return AVIERR_BADFORMAT;
  const Gdi::BITMAPINFOHEADER& in = s->input;
  const int64_t stride = Gdi::DibRowBytes(in.biWidth, in.biBitCount);
  if (bufferSize < stride * in.biHeight) return AVIERR_BADSIZE;
  HRESULT hr;
  if (s->passThrough) {
    hr = Append(s->compressedOver, ChunkId(s->compressedOver->index, "db"), p, stride * in.biHeight,
                AVIIF_KEYFRAME);
  } else {
    AVFrame* fr = s->encFrame;
    if (av_frame_make_writable(fr) < 0) return AVIERR_MEMORY;
    // Rounded sizes leave a border of black beyond the picture.
    for (int plane = 0; plane < 4 && fr->data[plane]; plane++) {
      const int rows = plane == 0 ? fr->height : AV_CEIL_RSHIFT(fr->height, 1);
      std::memset(fr->data[plane],
                  plane == 0 || fr->format == AV_PIX_FMT_RGB24 || fr->format == AV_PIX_FMT_RGB555LE
                      ? 0
                      : 128,
                  static_cast<size_t>(fr->linesize[plane]) * rows);
    }
    const AVPixelFormat src = InputPixFmt(in.biBitCount);
    if (src == static_cast<AVPixelFormat>(fr->format)) {
      // Same layout: the rows are copied, bottom-up to top-down.
      const int64_t rowBytes = int64_t{in.biWidth} * (in.biBitCount / 8);
      for (int32_t y = 0; y < in.biHeight; y++)
        std::memcpy(fr->data[0] + static_cast<ptrdiff_t>(y) * fr->linesize[0],
                    p + stride * (in.biHeight - 1 - y), static_cast<size_t>(rowBytes));
      fr->pts = s->framesIn++;
      hr = Encode(s, fr);
      if (hr == AVIERR_OK) {
        if (samplesWritten) *samplesWritten = samples;
        if (bytesWritten) *bytesWritten = bufferSize;
      }
      return hr;
    }
    s->sws = sws_getCachedContext(s->sws, in.biWidth, in.biHeight, src, in.biWidth, in.biHeight,
                                  static_cast<AVPixelFormat>(fr->format),
                                  SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    if (!s->sws) return AVIERR_COMPRESSOR;
    // Bottom-up rows: start at the last one with a negative stride.
    const uint8_t* srcData[4] = {p + stride * (in.biHeight - 1), nullptr, nullptr, nullptr};
    int srcStride[4] = {-static_cast<int>(stride), 0, 0, 0};
    if (in.biBitCount == 8) srcData[1] = reinterpret_cast<const uint8_t*>(s->inPalette);
    if (sws_scale(s->sws, srcData, srcStride, 0, in.biHeight, fr->data, fr->linesize) !=
            fr->height &&
        in.biHeight == fr->height)
      return AVIERR_COMPRESSOR;
    fr->pts = s->framesIn++;
    hr = Encode(s, fr);
  }
  if (hr == AVIERR_OK) {
    if (samplesWritten) *samplesWritten = samples;
    if (bytesWritten) *bytesWritten = bufferSize;
  }
  return hr;
}

void AVIStreamRelease(PAVISTREAM s) {
  if (s == nullptr || s->compressedOver == nullptr || s->enc == nullptr || s->drained) return;
  // The compressor gives out what it holds while the file is still open.
  s->drained = true;
  if (Encode(s, nullptr) != AVIERR_OK) s->file->failed = true;
}

}  // namespace AviFile
