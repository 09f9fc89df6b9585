// Reading side of the MPEG layer: description, video frames and audio
// samples, with seeks from the scan's index.
#include "platform/Pavane.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/AvSupport.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace Pavane {

void ReportError(const std::string& message);

namespace {

ErrorFunc g_error = nullptr;

void Fail(const std::string& message) {
  if (g_error) g_error(message.c_str());
}

bool IsMpegVideo(AVCodecID id) {
  return id == AV_CODEC_ID_MPEG1VIDEO || id == AV_CODEC_ID_MPEG2VIDEO;
}
bool IsMpegAudio(AVCodecID id) {
  return id == AV_CODEC_ID_MP1 || id == AV_CODEC_ID_MP2 || id == AV_CODEC_ID_MP3;
}

// ---- progress ------------------------------------------------------------

class Progress {
 public:
  Progress(const char* name, ProgressFunc func, void* data, int64_t fileSize)
      : func_(func), size_(fileSize) {
    rec_.name = name;
    rec_.data = data;
    rec_.total = fileSize > 0 ? static_cast<int32_t>(std::min<int64_t>(fileSize / 1024, INT32_MAX)) : -1;
  }
  // False when the function asks to stop.
  bool Report(int64_t bytesDone, bool last) {
    if (!func_) return true;
    const double pct =
        size_ > 0 ? std::clamp(100.0 * static_cast<double>(bytesDone) / static_cast<double>(size_), 0.0, 100.0)
                  : -1.0;
    if (!last && pct >= 0 && pct < lastPct_ + 1.0) return true;
    lastPct_ = pct;
    rec_.count = static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(bytesDone, 0) / 1024, INT32_MAX));
    rec_.fraction = last ? 100.0 : pct;
    rec_.finalCall = last ? 1 : 0;
    func_(&rec_);
    return rec_.stop == 0;
  }

 private:
  ProgressFunc func_;
  int64_t size_;
  double lastPct_ = -100.0;
  ProgressRec rec_;
};

// ---- demuxing --------------------------------------------------------------

struct FormatCloser {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
struct CodecCloser {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecCloser>;
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

int32_t TypeOfFormat(const AVInputFormat* f) {
  const std::string n = f ? f->name : "";
  if (n == "mpeg" || n == "mpegts") return kTypeSystem;
  if (n == "mpegvideo") return kTypeVideo;
  if (n == "mp3") return kTypeAudio;
  return kTypeNone;
}

// Opens a file as an MPEG stream; the chosen stream of the wanted kind is
// the only one read. Returns the stream index, -1 when the file has none.
int OpenStream(const char* fileName, AVMediaType kind, FormatPtr& fmt,
               bool quiet = false) {
  fmt.reset();
  if (!fileName) return -1;
  AVFormatContext* raw = nullptr;
  int rc = avformat_open_input(&raw, fileName, nullptr, nullptr);
  if (rc < 0) {
    if (!quiet) Fail(std::string("cannot open ") + fileName + ": " + AvSupport::ErrText(rc));
    return -1;
  }
  fmt.reset(raw);
  if (TypeOfFormat(fmt->iformat) == kTypeNone) {
    if (!quiet) Fail(std::string(fileName) + " is not an MPEG stream");
    return -1;
  }
  rc = avformat_find_stream_info(fmt.get(), nullptr);
  if (rc < 0) {
    if (!quiet) Fail(std::string("cannot read ") + fileName + ": " + AvSupport::ErrText(rc));
    return -1;
  }
  int found = -1;
  for (unsigned i = 0; i < fmt->nb_streams; i++) {
    const AVCodecParameters* par = fmt->streams[i]->codecpar;
    const bool fits = kind == AVMEDIA_TYPE_VIDEO
                          ? IsMpegVideo(par->codec_id) && par->width > 0 && par->height > 0 &&
                                par->width <= AvSupport::kMaxPictureSide &&
                                par->height <= AvSupport::kMaxPictureSide
                          : kind == AVMEDIA_TYPE_AUDIO && IsMpegAudio(par->codec_id);
    if (found < 0 && fits) found = static_cast<int>(i);
  }
  for (unsigned i = 0; i < fmt->nb_streams; i++)
    fmt->streams[i]->discard = static_cast<int>(i) == found ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  return found;
}

CodecPtr OpenDecoder(const AVStream* st) {
  const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
  if (!codec) return nullptr;
  CodecPtr ctx(avcodec_alloc_context3(codec));
  if (!ctx) return nullptr;
  if (avcodec_parameters_to_context(ctx.get(), st->codecpar) < 0) return nullptr;
  AvSupport::UseCodecThreads(ctx.get());
  ctx->pkt_timebase = st->time_base;
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return nullptr;
  return ctx;
}

int64_t FileBytes(AVFormatContext* fmt) {
  return fmt && fmt->pb ? avio_size(fmt->pb) : -1;
}
int64_t FilePos(AVFormatContext* fmt) {
  return fmt && fmt->pb ? avio_tell(fmt->pb) : 0;
}

// Reads the next packet of the stream; false at the end or on a read error
// (a damaged tail counts as the end).
bool NextPacket(AVFormatContext* fmt, int stream, AVPacket* pkt) {
  for (;;) {
    av_packet_unref(pkt);
    const int rc = av_read_frame(fmt, pkt);
    if (rc < 0) return false;
    if (pkt->stream_index == stream) return true;
  }
}

// Finds, at or before packet last, an anchor packet and an earlier one
// whose file positions are known (a program stream leaves the position of a
// picture that does not start a packet of its own unknown).
bool FindAnchor(const std::function<int64_t(int64_t)>& posOf, int64_t last, int64_t& from,
                int64_t& anchor) {
  anchor = -1;
  for (int64_t i = last; i >= 1 && last - i < 64; i--)
    if (posOf(i) >= 0) {
      anchor = i;
      break;
    }
  if (anchor < 1) return false;
  for (int64_t i = anchor - 1; i >= 0 && anchor - i < 64; i--)
    if (posOf(i) >= 0 && posOf(i) < posOf(anchor)) {
      from = i;
      return true;
    }
  return false;
}

// Makes the next packet of the stream read the one after the anchor packet
// of the scan, by a byte seek to an earlier packet (at byte from) and
// reading on to the anchor. False when the packets found there do not match
// the scan; the caller then reads from the start instead.
bool JumpNear(AVFormatContext* fmt, int stream, int64_t from, int64_t anchorPos,
              int32_t anchorSize, AVPacket* pkt) {
  if (from < 0 || anchorPos < from) return false;
  if (av_seek_frame(fmt, -1, from, AVSEEK_FLAG_BYTE) < 0) return false;
  for (int n = 0; n < 256; n++) {
    if (!NextPacket(fmt, stream, pkt)) return false;
    if (pkt->pos == anchorPos && pkt->size == anchorSize) return true;
    if (pkt->pos > anchorPos) return false;
  }
  return false;
}

// ---- the video index ------------------------------------------------------

// One coded picture per packet, in decode order.
struct CodedPicture {
  int64_t pos = -1;       // where the demuxer found it
  int32_t size = 0;
  int8_t type = 0;        // 1 I, 2 P, 3 B, 4 D; 0 no picture
  int32_t display = -1;   // place in display order, -1 none
};

struct VideoIndex {
  std::vector<CodedPicture> coded;
  std::vector<int32_t> decodeOf;  // display index -> decode index
  int32_t rateCode = 0;
  int64_t headerBitRate = 0;
};

// Picture coding type of the first picture header in a packet, and whether
// the picture is a field (picture_structure 1 or 2).
int PictureType(const uint8_t* d, int n, bool& field) {
  field = false;
  int type = 0;
  for (int i = 0; i + 5 < n; i++) {
    if (d[i] != 0 || d[i + 1] != 0 || d[i + 2] != 1) continue;
    const uint8_t code = d[i + 3];
    if (code == 0x00 && type == 0) {
      type = (d[i + 5] >> 3) & 7;
      if (type < 1 || type > 4) type = 0;
    } else if (code == 0xB5 && type != 0 && (d[i + 4] >> 4) == 8 && i + 6 < n) {
      const int structure = d[i + 6] & 3;
      field = structure == 1 || structure == 2;
      break;
    } else if (code >= 0x01 && code <= 0xAF && type != 0) {
      break;  // slices: no picture coding extension (MPEG-1)
    }
  }
  return type;
}

void SequenceHeader(const uint8_t* d, int n, VideoIndex& index) {
  for (int i = 0; i + 11 < n; i++) {
    if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && d[i + 3] == 0xB3) {
      index.rateCode = d[i + 7] & 0x0F;
      if (index.rateCode > 8) index.rateCode = 0;
      const int64_t rate = (static_cast<int64_t>(d[i + 8]) << 10) | (d[i + 9] << 2) | (d[i + 10] >> 6);
      index.headerBitRate = rate == 0x3FFFF ? 0 : rate * 400;
      return;
    }
  }
}

// Display order from the picture types: B pictures show at once, every
// reference picture shows when the next reference arrives.
void OrderForDisplay(VideoIndex& index) {
  int32_t shown = 0, held = -1;
  for (size_t d = 0; d < index.coded.size(); d++) {
    CodedPicture& p = index.coded[d];
    if (p.type == 0) continue;
    if (p.type == 3) {
      p.display = shown++;
    } else {
      if (held >= 0) index.coded[held].display = shown++;
      held = static_cast<int32_t>(d);
    }
  }
  if (held >= 0) index.coded[held].display = shown++;
  index.decodeOf.assign(static_cast<size_t>(shown), -1);
  for (size_t d = 0; d < index.coded.size(); d++)
    if (index.coded[d].display >= 0)
      index.decodeOf[static_cast<size_t>(index.coded[d].display)] = static_cast<int32_t>(d);
}

// Scans the video stream; false when stopped or there is no picture.
bool ScanVideoWith(AVFormatContext* fmt, int stream, Progress& progress,
                   VideoIndex& index, bool& stopped) {
  PacketPtr pkt(av_packet_alloc());
  if (!pkt) return false;
  bool secondField = false;
  while (NextPacket(fmt, stream, pkt.get())) {
    CodedPicture p;
    p.pos = pkt->pos;
    p.size = pkt->size;
    if (index.rateCode == 0 && index.headerBitRate == 0)
      SequenceHeader(pkt->data, pkt->size, index);
    bool field = false;
    p.type = static_cast<int8_t>(PictureType(pkt->data, pkt->size, field));
    // The second field of a field pair completes the frame of the first.
    if (p.type != 0 && field) {
      if (secondField) p.type = 0;
      secondField = !secondField;
    } else {
      secondField = false;
    }
    index.coded.push_back(p);
    if (!progress.Report(FilePos(fmt), false)) {
      stopped = true;
      return false;
    }
  }
  progress.Report(FileBytes(fmt), true);
  OrderForDisplay(index);
  return !index.decodeOf.empty();
}

// ---- the audio path ------------------------------------------------------

// Decodes MPEG audio and converts every frame to interleaved 16-bit PCM of
// the first frame's sample rate and channel count.
class AudioDecoder {
 public:
  ~AudioDecoder() {
    swr_free(&swr_);
    av_channel_layout_uninit(&inLayout_);
  }
  bool Open(const AVStream* st) {
    ctx_ = OpenDecoder(st);
    frame_.reset(av_frame_alloc());
    return ctx_ && frame_;
  }
  void Flush() { avcodec_flush_buffers(ctx_.get()); }
  // Decodes one packet and appends its samples to out. False on a fatal
  // error; a damaged frame only yields nothing.
  bool Decode(const AVPacket* pkt, std::vector<int16_t>& out) {
    if (avcodec_send_packet(ctx_.get(), pkt) < 0) return true;
    for (;;) {
      const int rc = avcodec_receive_frame(ctx_.get(), frame_.get());
      if (rc < 0) return true;
      if (!Append(out)) return false;
    }
  }
  int32_t channels() const { return channels_; }
  int32_t rate() const { return rate_; }

 private:
  bool Append(std::vector<int16_t>& out) {
    AVFrame* f = frame_.get();
    const int ch = f->ch_layout.nb_channels;
    if (ch < 1 || f->sample_rate < 1 || f->nb_samples < 1) return true;
    if (channels_ == 0) {
      channels_ = ch;
      rate_ = f->sample_rate;
    }
    // Frames of another rate are left out rather than played at the wrong
    // speed; other channel counts are remixed.
    if (f->sample_rate != rate_) return true;
    if (!swr_ || f->format != inFormat_ || av_channel_layout_compare(&f->ch_layout, &inLayout_) != 0) {
      swr_free(&swr_);
      av_channel_layout_uninit(&inLayout_);
      if (av_channel_layout_copy(&inLayout_, &f->ch_layout) < 0) return false;
      inFormat_ = f->format;
      AVChannelLayout outLayout;
      av_channel_layout_default(&outLayout, channels_);
      const int rc = swr_alloc_set_opts2(&swr_, &outLayout, AV_SAMPLE_FMT_S16, rate_,
                                         &f->ch_layout, static_cast<AVSampleFormat>(f->format),
                                         f->sample_rate, 0, nullptr);
      av_channel_layout_uninit(&outLayout);
      if (rc < 0 || swr_init(swr_) < 0) return false;
    }
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(f->nb_samples) * static_cast<size_t>(channels_));
    uint8_t* dst = reinterpret_cast<uint8_t*>(out.data() + at);
    const int got = swr_convert(swr_, &dst, f->nb_samples,
                                const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
    if (got < 0) {
      out.resize(at);
      return false;
    }
    out.resize(at + static_cast<size_t>(got) * static_cast<size_t>(channels_));
    return true;
  }

  CodecPtr ctx_;
  FramePtr frame_;
  SwrContext* swr_ = nullptr;
  AVChannelLayout inLayout_{};
  int inFormat_ = -1;
  int32_t channels_ = 0, rate_ = 0;
};

struct AudioIndex {
  std::vector<int64_t> pos;    // where the demuxer found each packet
  std::vector<int64_t> start;  // first sample of each packet's output
  std::vector<int32_t> size;   // packet bytes, checked again on replay
  int64_t total = 0;
  int32_t channels = 0, rate = 0, layer = 0, bitRate = 0;
};

bool ScanAudioWith(AVFormatContext* fmt, int stream, Progress& progress,
                   AudioIndex& index, bool& stopped) {
  AudioDecoder dec;
  PacketPtr pkt(av_packet_alloc());
  if (!pkt || !dec.Open(fmt->streams[stream])) return false;
  const AVCodecParameters* par = fmt->streams[stream]->codecpar;
  index.layer = par->codec_id == AV_CODEC_ID_MP1 ? 1 : par->codec_id == AV_CODEC_ID_MP2 ? 2 : 3;
  index.bitRate = static_cast<int32_t>(std::min<int64_t>(par->bit_rate / 1000, INT32_MAX));
  std::vector<int16_t> pcm;
  while (NextPacket(fmt, stream, pkt.get())) {
    pcm.clear();
    if (!dec.Decode(pkt.get(), pcm)) return false;
    index.pos.push_back(pkt->pos);
    index.start.push_back(index.total);
    index.size.push_back(pkt->size);
    if (dec.channels() > 0) index.total += static_cast<int64_t>(pcm.size() / static_cast<size_t>(dec.channels()));
    if (!progress.Report(FilePos(fmt), false)) {
      stopped = true;
      return false;
    }
  }
  pcm.clear();
  dec.Decode(nullptr, pcm);
  if (dec.channels() > 0) index.total += static_cast<int64_t>(pcm.size() / static_cast<size_t>(dec.channels()));
  progress.Report(FileBytes(fmt), true);
  index.channels = dec.channels();
  index.rate = dec.rate();
  return index.total > 0 && index.channels > 0;
}

// Runs a scan with the caller's progress function; a scan that finds
// nothing says so through the error callback, a stopped one does not.
template <class Index, class Scan>
bool ScanFile(const char* fileName, AVFormatContext* fmt, int stream, ProgressFunc progress,
              void* progressData, Index& index, Scan scan, const char* nothing) {
  Progress prog(fileName, progress, progressData, FileBytes(fmt));
  bool stopped = false;
  if (scan(fmt, stream, prog, index, stopped)) return true;
  if (!stopped) Fail(std::string(fileName) + nothing);
  return false;
}

bool ScanVideo(const char* fileName, AVFormatContext* fmt, int stream, ProgressFunc progress,
               void* progressData, VideoIndex& index) {
  return ScanFile(fileName, fmt, stream, progress, progressData, index, ScanVideoWith,
                  " holds no MPEG pictures");
}

bool ScanAudio(const char* fileName, AVFormatContext* fmt, int stream, ProgressFunc progress,
               void* progressData, AudioIndex& index) {
  return ScanFile(fileName, fmt, stream, progress, progressData, index, ScanAudioWith,
                  " holds no MPEG audio");
}

}  // namespace

void PavaneErrorFuncSet(ErrorFunc func) { g_error = func; }
void ReportError(const std::string& message) { Fail(message); }

double FrameRateOfCode(int32_t code) { return av_q2d(AvSupport::RateOfCode(code)); }
int32_t FrameRateCodeOf(double rate) { return AvSupport::CodeOfRate(rate); }

int32_t mpg_get_type(const char* fileName) {
  if (!fileName) return kTypeNone;
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, fileName, nullptr, nullptr) < 0) return kTypeNone;
  const int32_t type = TypeOfFormat(raw->iformat);
  avformat_close_input(&raw);
  return type;
}

int32_t GetMPEGInfo(const char* fileName, int32_t* width, int32_t* height,
                     int32_t* frames, int32_t* rateCode, int32_t* bitRate,
                     int32_t* mpeg2, int32_t* hasAudio, ProgressFunc progress,
                     void* progressData) {
  FormatPtr fmt;
  const int stream = OpenStream(fileName, AVMEDIA_TYPE_VIDEO, fmt);
  if (stream < 0) return 0;
  int32_t audio = 0;
  for (unsigned i = 0; i < fmt->nb_streams; i++)
    if (IsMpegAudio(fmt->streams[i]->codecpar->codec_id)) audio = 1;
  const AVCodecParameters* par = fmt->streams[stream]->codecpar;
  VideoIndex index;
  if (!ScanVideo(fileName, fmt.get(), stream, progress, progressData, index)) return 0;
  int64_t rate = index.headerBitRate > 0 ? index.headerBitRate : par->bit_rate;
  if (width) *width = par->width;
  if (height) *height = par->height;
  if (frames) *frames = static_cast<int32_t>(index.decodeOf.size());
  if (rateCode) *rateCode = index.rateCode;
  if (bitRate) *bitRate = static_cast<int32_t>(std::clamp<int64_t>(rate, 0, INT32_MAX));
  if (mpeg2) *mpeg2 = par->codec_id == AV_CODEC_ID_MPEG2VIDEO ? 1 : 0;
  if (hasAudio) *hasAudio = audio;
  return 1;
}

// ---- video reader ------------------------------------------------------------

struct MpegReader {
  std::string name;
  FormatPtr fmt;
  int stream = -1;
  CodecPtr dec;
  PacketPtr pkt{av_packet_alloc()};
  FramePtr frame{av_frame_alloc()};
  FramePtr pending;  // decoded ahead of the frame asked for
  VideoIndex index;
  int32_t width = 0, height = 0;
  AvSupport::ToBgr toBgr;
  std::vector<uint8_t> last;  // the frame delivered last
  int64_t nextPacket = 0;     // decode index of the next packet read
  int64_t feedStart = 0;      // packets fed without a break since this one
  int32_t maxOut = -1;        // highest display index the decoder gave
  int32_t next = 0;           // display index GetMPEGFrame delivers
  bool drained = false;       // the end of the file was given to the decoder
};

namespace {

bool Reopen(MpegReader* r) {
  r->pending.reset();
  r->fmt.reset();
  r->stream = OpenStream(r->name.c_str(), AVMEDIA_TYPE_VIDEO, r->fmt, true);
  if (r->stream < 0) return false;
  avcodec_flush_buffers(r->dec.get());
  r->nextPacket = 0;
  r->feedStart = 0;
  r->maxOut = -1;
  r->drained = false;
  return true;
}

// Reads the next packet of the stream, checking it against the index.
bool ReadIndexed(MpegReader* r) {
  if (!NextPacket(r->fmt.get(), r->stream, r->pkt.get())) return false;
  const size_t d = static_cast<size_t>(r->nextPacket);
  if (d >= r->index.coded.size() || r->index.coded[d].size != r->pkt->size) {
    Fail(r->name + " changed since it was scanned");
    return false;
  }
  r->nextPacket++;
  return true;
}

// Skips packets without decoding up to decode index target and restarts
// the decoder there.
bool SkipTo(MpegReader* r, int64_t target) {
  while (r->nextPacket < target)
    if (!ReadIndexed(r)) return false;
  avcodec_flush_buffers(r->dec.get());
  r->pending.reset();
  r->feedStart = target;
  r->maxOut = -1;
  r->drained = false;
  return true;
}

// Goes back to decode index target without reading from the start.
bool JumpBack(MpegReader* r, int64_t target) {
  if (!r->fmt || target < 2) return false;
  const auto posOf = [r](int64_t i) { return r->index.coded[static_cast<size_t>(i)].pos; };
  int64_t from = 0, anchor = 0;
  if (!FindAnchor(posOf, target - 1, from, anchor)) return false;
  if (!JumpNear(r->fmt.get(), r->stream, posOf(from), posOf(anchor),
                r->index.coded[static_cast<size_t>(anchor)].size, r->pkt.get()))
    return false;
  r->nextPacket = anchor + 1;
  return SkipTo(r, target);
}

// Decodes until display frame k comes out (true, in r->frame) or is known
// to be missing (false).
bool DecodeFrame(MpegReader* r, int32_t k) {
  if (r->pending) {
    const int64_t at = r->pending->pts;
    if (at == k) {
      av_frame_unref(r->frame.get());
      av_frame_move_ref(r->frame.get(), r->pending.get());
      r->pending.reset();
      return true;
    }
    if (at > k) return false;
    r->pending.reset();
  }
  for (;;) {
    const int rc = avcodec_receive_frame(r->dec.get(), r->frame.get());
    if (rc == 0) {
      const int64_t at = r->frame->pts;
      if (at == AV_NOPTS_VALUE) continue;
      r->maxOut = std::max<int32_t>(r->maxOut, static_cast<int32_t>(at));
      if (at == k) return true;
      if (at > k) {
        r->pending.reset(av_frame_clone(r->frame.get()));
        return false;
      }
      continue;
    }
    if (rc != AVERROR(EAGAIN)) return false;  // end of stream or a hard error
    if (r->drained) return false;
    if (ReadIndexed(r)) {
      // Tag the packet with its picture's place in display order: the
      // decoder hands the tag on with the picture.
      r->pkt->pts = r->index.coded[static_cast<size_t>(r->nextPacket - 1)].display;
      if (r->pkt->pts < 0) r->pkt->pts = AV_NOPTS_VALUE;
      r->pkt->dts = AV_NOPTS_VALUE;
      avcodec_send_packet(r->dec.get(), r->pkt.get());  // a damaged picture is skipped
    } else {
      r->drained = true;
      avcodec_send_packet(r->dec.get(), nullptr);
    }
  }
}

}  // namespace

int32_t OpenMPEG(MpegReader** reader, const char* fileName, int32_t,
                 ProgressFunc progress, void* progressData) {
  if (!reader) return 0;
  *reader = nullptr;
  std::unique_ptr<MpegReader> r(new (std::nothrow) MpegReader);
  if (!r || !r->pkt || !r->frame || !fileName) return 0;
  r->name = fileName;
  r->stream = OpenStream(fileName, AVMEDIA_TYPE_VIDEO, r->fmt);
  if (r->stream < 0) return 0;
  if (!ScanVideo(fileName, r->fmt.get(), r->stream, progress, progressData, r->index)) return 0;
  const AVStream* st = r->fmt->streams[r->stream];
  r->width = st->codecpar->width;
  r->height = st->codecpar->height;
  r->dec = OpenDecoder(st);
  if (!r->dec) {
    Fail(std::string("cannot decode the video of ") + fileName);
    return 0;
  }
  if (!Reopen(r.get())) {
    Fail(std::string("cannot reopen ") + fileName);
    return 0;
  }
  *reader = r.release();
  return 1;
}

int32_t GetMPEGFrame(MpegReader* r, uint8_t* dest) {
  if (!r || !dest) return 0;
  const size_t bytes = static_cast<size_t>(r->width) * static_cast<size_t>(r->height) * 3;
  const int32_t k = r->next++;
  bool ok = k >= 0 && static_cast<size_t>(k) < r->index.decodeOf.size() && r->fmt &&
            DecodeFrame(r, k);
  if (ok && (r->frame->width != r->width || r->frame->height != r->height)) ok = false;
  if (ok) ok = r->toBgr.Convert(r->frame.get(), dest);
  if (ok) {
    r->last.assign(dest, dest + bytes);
    return 1;
  }
  // Never hand out what the buffer happened to hold.
  if (r->last.size() == bytes)
    std::memcpy(dest, r->last.data(), bytes);
  else
    std::memset(dest, 0, bytes);
  return 0;
}

int32_t SeekMPEG(MpegReader* r, int32_t frame) {
  if (!r || frame < 0 || static_cast<size_t>(frame) >= r->index.decodeOf.size()) return 0;
  // Start decoding at the key picture before the one that opens the
  // target's group: pictures that refer back across the group boundary
  // then have their references.
  const int64_t dk = r->index.decodeOf[static_cast<size_t>(frame)];
  std::vector<int64_t> keys;
  for (int64_t d = dk; d >= 0 && keys.size() < 2; d--) {
    const int8_t t = r->index.coded[static_cast<size_t>(d)].type;
    if (t == 1 || t == 4) keys.push_back(d);
  }
  const int64_t start = keys.empty() ? 0 : keys.back();
  bool ok = true;
  if (!r->fmt) {
    ok = Reopen(r) && SkipTo(r, start);
  } else if (!r->drained && r->feedStart <= start && r->maxOut < frame &&
             !(r->pending && r->pending->pts > frame)) {
    // Decoding on from here reaches the frame with its references; skip
    // undecoded what lies before the start when that is ahead.
    if (r->nextPacket < start) ok = SkipTo(r, start);
  } else if (r->nextPacket <= start) {
    ok = SkipTo(r, start);
  } else {
    ok = JumpBack(r, start) || (Reopen(r) && SkipTo(r, start));
  }
  if (!ok) {
    r->fmt.reset();  // reopened on the next seek
    Fail(r->name + ": seek failed");
    return 0;
  }
  r->next = frame;
  return 1;
}

void CloseMPEG(MpegReader* r) { delete r; }

// ---- audio -----------------------------------------------------------------

int32_t mpg_audio_info(const char* fileName, MpgAudioInfo* info,
                       ProgressFunc progress, void* progressData) {
  FormatPtr fmt;
  const int stream = OpenStream(fileName, AVMEDIA_TYPE_AUDIO, fmt);
  if (stream < 0 || !info) return 0;
  AudioIndex index;
  if (!ScanAudio(fileName, fmt.get(), stream, progress, progressData, index)) return 0;
  *info = MpgAudioInfo{};
  info->frames = static_cast<int32_t>(std::min<int64_t>(index.total, INT32_MAX));
  info->rate = index.rate;
  info->channels = index.channels;
  info->bits = 16;
  info->layer = index.layer;
  info->lsf = index.rate < 32000 ? 1 : 0;
  info->bitRate = index.bitRate;
  return 1;
}

struct MpgAudioReader {
  std::string name;
  FormatPtr fmt;
  int stream = -1;
  AudioIndex index;
  std::unique_ptr<AudioDecoder> dec;
  PacketPtr pkt{av_packet_alloc()};
  int64_t nextPacket = 0;
  std::vector<int16_t> buffered;  // decoded, not yet delivered
  size_t bufferedAt = 0;          // first undelivered sample value
  int64_t position = 0;           // sample frame of buffered[bufferedAt]
  bool drained = false;
};

namespace {

bool AudioRestart(MpgAudioReader* r) {
  r->fmt.reset();
  r->stream = OpenStream(r->name.c_str(), AVMEDIA_TYPE_AUDIO, r->fmt, true);
  r->dec.reset(new (std::nothrow) AudioDecoder);
  if (r->stream < 0 || !r->dec || !r->dec->Open(r->fmt->streams[r->stream])) {
    r->fmt.reset();
    return false;
  }
  r->nextPacket = 0;
  r->buffered.clear();
  r->bufferedAt = 0;
  r->position = 0;
  r->drained = false;
  return true;
}

// Goes back to packet target (or shortly before it) without reading from
// the start.
bool AudioJumpBack(MpgAudioReader* r, int64_t target) {
  if (!r->fmt || target < 2) return false;
  const auto posOf = [r](int64_t i) { return r->index.pos[static_cast<size_t>(i)]; };
  int64_t from = 0, anchor = 0;
  if (!FindAnchor(posOf, target - 1, from, anchor)) return false;
  if (!JumpNear(r->fmt.get(), r->stream, posOf(from), posOf(anchor),
                r->index.size[static_cast<size_t>(anchor)], r->pkt.get()))
    return false;
  r->dec->Flush();
  r->nextPacket = anchor + 1;
  r->buffered.clear();
  r->bufferedAt = 0;
  r->position = r->index.start[static_cast<size_t>(anchor + 1)];
  r->drained = false;
  return true;
}

// Decodes the next packet into the buffer. False at the end.
bool AudioDecodeNext(MpgAudioReader* r, bool decode) {
  if (r->drained || !r->fmt) return false;
  const size_t ch = static_cast<size_t>(r->index.channels);
  if (!NextPacket(r->fmt.get(), r->stream, r->pkt.get())) {
    r->drained = true;
    std::vector<int16_t> tail;
    r->dec->Decode(nullptr, tail);
    r->buffered.insert(r->buffered.end(), tail.begin(), tail.end());
    return !tail.empty();
  }
  const size_t d = static_cast<size_t>(r->nextPacket);
  if (d >= r->index.size.size() || r->index.size[d] != r->pkt->size) {
    Fail(r->name + " changed since it was scanned");
    r->drained = true;
    return false;
  }
  r->nextPacket++;
  if (!decode) {
    // Passed over: what it would have yielded is known from the index.
    const int64_t end = d + 1 < r->index.start.size() ? r->index.start[d + 1] : r->index.total;
    r->position = end;
    return true;
  }
  if (r->buffered.empty()) r->position = r->index.start[d];
  std::vector<int16_t> pcm;
  if (!r->dec->Decode(r->pkt.get(), pcm)) {
    r->drained = true;
    return false;
  }
  if (r->dec->channels() != 0 && static_cast<size_t>(r->dec->channels()) != ch) {
    r->drained = true;
    return false;
  }
  r->buffered.insert(r->buffered.end(), pcm.begin(), pcm.end());
  return true;
}

void AudioCompact(MpgAudioReader* r) {
  if (r->bufferedAt > 0) {
    r->buffered.erase(r->buffered.begin(), r->buffered.begin() + static_cast<ptrdiff_t>(r->bufferedAt));
    r->bufferedAt = 0;
  }
}

}  // namespace

MpgAudioReader* mpg_audio_open(const char* fileName, ProgressFunc progress,
                               void* progressData) {
  std::unique_ptr<MpgAudioReader> r(new (std::nothrow) MpgAudioReader);
  if (!r || !r->pkt || !fileName) return nullptr;
  r->name = fileName;
  r->stream = OpenStream(fileName, AVMEDIA_TYPE_AUDIO, r->fmt);
  if (r->stream < 0) return nullptr;
  if (!ScanAudio(fileName, r->fmt.get(), r->stream, progress, progressData, r->index))
    return nullptr;
  if (!AudioRestart(r.get())) {
    Fail(std::string("cannot reopen ") + fileName);
    return nullptr;
  }
  return r.release();
}

int32_t mpg_audio_seek(MpgAudioReader* r, int32_t sample) {
  if (!r || sample < 0 || sample > r->index.total) return 0;
  const size_t ch = static_cast<size_t>(r->index.channels);
  const int64_t bufferedFrames = static_cast<int64_t>((r->buffered.size() - r->bufferedAt) / ch);
  if (r->fmt && sample >= r->position && sample <= r->position + bufferedFrames) {
    r->bufferedAt += static_cast<size_t>(sample - r->position) * ch;
    r->position = sample;
    AudioCompact(r);
    return 1;
  }
  if (sample == r->index.total) {
    // At the very end: nothing more to read.
    if (!r->fmt && !AudioRestart(r)) return 0;
    r->buffered.clear();
    r->bufferedAt = 0;
    r->position = sample;
    r->drained = true;
    return 1;
  }
  // The packet holding the sample, and a run-up before it: a Layer III
  // frame draws on the bits of up to nine frames before it.
  const auto it = std::upper_bound(r->index.start.begin(), r->index.start.end(), static_cast<int64_t>(sample));
  const int64_t holder = std::max<int64_t>(0, (it - r->index.start.begin()) - 1);
  const int64_t runUp = std::max<int64_t>(0, holder - 10);
  if (!r->fmt || r->drained || runUp < r->nextPacket) {
    if (!AudioJumpBack(r, runUp) && !AudioRestart(r)) {
      Fail(r->name + ": seek failed");
      return 0;
    }
  }
  while (r->nextPacket < runUp)
    if (!AudioDecodeNext(r, false)) break;
  if (r->nextPacket > 0) r->dec->Flush();
  // Decode from the run-up on; each packet's samples start where the index
  // puts them, so a run-up packet that decodes short shifts nothing.
  while (r->nextPacket <= holder) {
    r->buffered.clear();
    r->bufferedAt = 0;
    if (!AudioDecodeNext(r, true)) break;
  }
  const int64_t have = static_cast<int64_t>(r->buffered.size() / ch);
  if (r->nextPacket != holder + 1 || r->position > sample || r->position + have <= sample) {
    Fail(r->name + ": seek failed");
    r->fmt.reset();
    return 0;
  }
  r->bufferedAt = static_cast<size_t>(sample - r->position) * ch;
  r->position = sample;
  AudioCompact(r);
  return 1;
}

int32_t mpg_audio_read(MpgAudioReader* r, int16_t* dest, int32_t frames) {
  if (!r || !dest || frames <= 0 || !r->fmt) return 0;
  const size_t ch = static_cast<size_t>(r->index.channels);
  int32_t done = 0;
  while (done < frames) {
    size_t avail = (r->buffered.size() - r->bufferedAt) / ch;
    if (avail == 0) {
      AudioCompact(r);
      r->buffered.clear();
      if (!AudioDecodeNext(r, true)) break;
      continue;
    }
    const size_t n = std::min<size_t>(avail, static_cast<size_t>(frames - done));
    std::memcpy(dest + static_cast<size_t>(done) * ch, r->buffered.data() + r->bufferedAt,
                n * ch * sizeof(int16_t));
    r->bufferedAt += n * ch;
    r->position += static_cast<int64_t>(n);
    done += static_cast<int32_t>(n);
  }
  return done;
}

void mpg_audio_close(MpgAudioReader* r) { delete r; }

}  // namespace Pavane
