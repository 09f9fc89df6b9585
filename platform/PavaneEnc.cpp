// Writing side of the MPEG layer: MPEG-1 and VCD video, Layer II audio and
// the multiplexer.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/AvSupport.h"
#include "platform/Pavane.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace Pavane {

// Reports through the callback set with PavaneErrorFuncSet (Pavane.cpp).
void ReportError(const std::string& message);

// ---- MPEG-1 and VCD video ---------------------------------------------------

struct MpgVideoEncoder {
  AvSupport::VideoStreamEncoder enc;
  int32_t type = kMpeg1;
};

MpgVideoEncoder* mpg_video_create(const char* fileName, int32_t width,
                                  int32_t height, double frameRate,
                                  int32_t type) {
  if (type != kMpeg1 && type != kVcd) {
    ReportError("the MPEG-1 encoder writes MPEG-1 and VCD only");
    return nullptr;
  }
  std::unique_ptr<MpgVideoEncoder> e(new (std::nothrow) MpgVideoEncoder);
  if (!e) return nullptr;
  e->type = type;
  AvSupport::VideoStreamEncoder::Settings s;
  s.codec = AV_CODEC_ID_MPEG1VIDEO;
  s.width = width;
  s.height = height;
  s.rateCode = AvSupport::CodeOfRate(frameRate);
  if (type == kVcd) {
    // Video CD: constant 1150 kbit/s through a 40 KiB buffer.
    s.bitRate = 1150000;
    s.constantRate = true;
    s.bufferBits = 40 * 1024 * 8;
  } else {
    s.bitRate = 1700000;
  }
  const std::string err = e->enc.Create(fileName, s);
  if (!err.empty()) {
    ReportError(err);
    return nullptr;
  }
  return e.release();
}

void mpg_video_set_bitrate(MpgVideoEncoder* e, int32_t bitsPerSecond) {
  if (!e || bitsPerSecond <= 0 || e->enc.framesWritten() > 0) return;
  e->enc.settings().bitRate = bitsPerSecond;
}

int32_t mpg_video_write(MpgVideoEncoder* e, const uint8_t* pixels) {
  if (!e) return 0;
  const std::string err = e->enc.Write(pixels);
  if (err.empty()) return 1;
  ReportError(err);
  return 0;
}

int32_t mpg_video_close(MpgVideoEncoder* e) {
  if (!e) return 0;
  const std::string err = e->enc.Close();
  delete e;
  if (err.empty()) return 1;
  ReportError(err);
  return 0;
}

// ---- Layer II audio ------------------------------------------------------------

namespace {

const int32_t kMpeg1Mono[] = {32, 48, 56, 64, 80, 96, 112, 128, 160, 192};
const int32_t kMpeg1Stereo[] = {64, 96, 112, 128, 160, 192, 224, 256, 320, 384};
const int32_t kLsf[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};

bool IsLsfRate(int32_t rate) { return rate == 16000 || rate == 22050 || rate == 24000; }
bool IsMpeg1Rate(int32_t rate) { return rate == 32000 || rate == 44100 || rate == 48000; }

// The legal Layer II rate nearest to the request (the higher one on a tie).
int64_t LegalBitRate(int64_t bitsPerSecond, int32_t rate, int32_t channels) {
  const int32_t* table;
  size_t n;
  if (IsLsfRate(rate)) {
    table = kLsf, n = std::size(kLsf);
  } else if (channels == 1) {
    table = kMpeg1Mono, n = std::size(kMpeg1Mono);
  } else {
    table = kMpeg1Stereo, n = std::size(kMpeg1Stereo);
  }
  int64_t best = table[0];
  for (size_t i = 1; i < n; i++)
    if (std::llabs(table[i] * 1000ll - bitsPerSecond) <= std::llabs(best * 1000 - bitsPerSecond))
      best = table[i];
  return best * 1000;
}

}  // namespace

struct MpgAudioEncoder {
  FILE* file = nullptr;
  std::string name;  // named in write failures
  int32_t rate = 0, inChannels = 0, outChannels = 0;
  int64_t bitRate = 0;
  AVCodecContext* ctx = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* pkt = nullptr;
  SwrContext* mix = nullptr;  // more than two channels down to two
  std::vector<int16_t> pending;
  bool failed = false;

  ~MpgAudioEncoder() {
    if (file) fclose(file);
    avcodec_free_context(&ctx);
    av_frame_free(&frame);
    av_packet_free(&pkt);
    swr_free(&mix);
  }
};

namespace {

std::string OpenAudioCodec(MpgAudioEncoder* e) {
  const AVCodec* codec = avcodec_find_encoder_by_name("mp2");
  if (!codec) return "no Layer II encoder";
  e->ctx = avcodec_alloc_context3(codec);
  e->frame = av_frame_alloc();
  e->pkt = av_packet_alloc();
  if (!e->ctx || !e->frame || !e->pkt) return "out of memory";
  e->ctx->sample_fmt = AV_SAMPLE_FMT_S16;
  e->ctx->sample_rate = e->rate;
  av_channel_layout_default(&e->ctx->ch_layout, e->outChannels);
  e->ctx->bit_rate = e->bitRate;
  e->ctx->time_base = AVRational{1, e->rate};
  int rc = avcodec_open2(e->ctx, codec, nullptr);
  if (rc < 0) return "cannot open the Layer II encoder: " + AvSupport::ErrText(rc);
  if (e->inChannels > 2) {
    AVChannelLayout in;
    av_channel_layout_default(&in, e->inChannels);
    if (in.order == AV_CHANNEL_ORDER_NATIVE) {
      rc = swr_alloc_set_opts2(&e->mix, &e->ctx->ch_layout, AV_SAMPLE_FMT_S16, e->rate, &in,
                               AV_SAMPLE_FMT_S16, e->rate, 0, nullptr);
      if (rc < 0 || swr_init(e->mix) < 0) swr_free(&e->mix);
    }
    av_channel_layout_uninit(&in);
  }
  return "";
}

std::string DrainAudio(MpgAudioEncoder* e, bool flushing) {
  for (;;) {
    const int rc = avcodec_receive_packet(e->ctx, e->pkt);
    if (rc == AVERROR(EAGAIN) || (flushing && rc == AVERROR_EOF)) return "";
    if (rc < 0) return "Layer II encoding failed: " + AvSupport::ErrText(rc);
    const size_t n = static_cast<size_t>(e->pkt->size);
    const bool ok = fwrite(e->pkt->data, 1, n, e->file) == n;
    std::string failure = ok ? std::string() : AvSupport::WriteFailure(e->name, AVERROR(errno));
    av_packet_unref(e->pkt);
    if (!ok) return failure;
  }
}

// Encodes every whole frame of pending samples (and, when finishing, the
// rest padded with silence).
std::string EncodePending(MpgAudioEncoder* e, bool finishing) {
  const size_t ch = static_cast<size_t>(e->outChannels);
  const size_t frameValues = static_cast<size_t>(e->ctx->frame_size) * ch;
  size_t at = 0;
  if (finishing && e->pending.size() % frameValues != 0)
    e->pending.resize((e->pending.size() / frameValues + 1) * frameValues, 0);
  while (e->pending.size() - at >= frameValues) {
    av_frame_unref(e->frame);
    e->frame->format = AV_SAMPLE_FMT_S16;
    e->frame->nb_samples = e->ctx->frame_size;
    e->frame->sample_rate = e->rate;
    if (av_channel_layout_copy(&e->frame->ch_layout, &e->ctx->ch_layout) < 0 ||
        av_frame_get_buffer(e->frame, 0) < 0)
      return "out of memory";
    std::memcpy(e->frame->data[0], e->pending.data() + at, frameValues * sizeof(int16_t));
    at += frameValues;
    const int rc = avcodec_send_frame(e->ctx, e->frame);
    if (rc < 0) return "Layer II encoding failed: " + AvSupport::ErrText(rc);
    std::string err = DrainAudio(e, false);
    if (!err.empty()) return err;
  }
  e->pending.erase(e->pending.begin(), e->pending.begin() + static_cast<ptrdiff_t>(at));
  return "";
}

}  // namespace

MpgAudioEncoder* mpgenc_audio_create(const char* fileName, int32_t rate,
                                     int32_t channels) {
  if (!fileName || !(IsMpeg1Rate(rate) || IsLsfRate(rate)) || channels < 1 || channels > 255) {
    ReportError("Layer II takes 16000, 22050, 24000, 32000, 44100 or 48000 Hz");
    return nullptr;
  }
  std::unique_ptr<MpgAudioEncoder> e(new (std::nothrow) MpgAudioEncoder);
  if (!e) return nullptr;
  e->rate = rate;
  e->inChannels = channels;
  e->outChannels = std::min(channels, 2);
  e->bitRate = LegalBitRate(e->outChannels == 1 ? 192000 : 224000, rate, e->outChannels);
  e->name = fileName;
  e->file = fopen(fileName, "wb");
  if (!e->file) {
    ReportError(std::string("cannot create ") + fileName);
    return nullptr;
  }
  return e.release();
}

void mpgenc_audio_set_bitrate(MpgAudioEncoder* e, int32_t bitsPerSecond) {
  if (!e || e->ctx) return;
  e->bitRate = LegalBitRate(bitsPerSecond, e->rate, e->outChannels);
}

int32_t mpgenc_audio_write(MpgAudioEncoder* e, const int16_t* samples, int32_t frames) {
  if (!e || e->failed || frames < 0 || (frames > 0 && !samples)) return 0;
  std::string err;
  if (!e->ctx) err = OpenAudioCodec(e);
  if (err.empty() && frames > 0) {
    const size_t n = static_cast<size_t>(frames);
    const size_t at = e->pending.size();
    e->pending.resize(at + n * static_cast<size_t>(e->outChannels));
    int16_t* out = e->pending.data() + at;
    if (e->inChannels <= 2) {
      std::memcpy(out, samples, n * static_cast<size_t>(e->inChannels) * sizeof(int16_t));
    } else if (e->mix) {
      uint8_t* dst = reinterpret_cast<uint8_t*>(out);
      const uint8_t* src = reinterpret_cast<const uint8_t*>(samples);
      if (swr_convert(e->mix, &dst, frames, &src, frames) != frames) err = "cannot mix the channels down";
    } else {
      // No standard layout for this many channels: even channels to the
      // left, odd ones to the right.
      const size_t in = static_cast<size_t>(e->inChannels);
      for (size_t i = 0; i < n; i++) {
        int64_t sum[2] = {0, 0};
        for (size_t c = 0; c < in; c++) sum[c & 1] += samples[i * in + c];
        out[2 * i] = static_cast<int16_t>(sum[0] / static_cast<int64_t>((in + 1) / 2));
        out[2 * i + 1] = static_cast<int16_t>(sum[1] / static_cast<int64_t>(in / 2));
      }
    }
    if (err.empty()) err = EncodePending(e, false);
  }
  if (err.empty()) return 1;
  e->failed = true;
  ReportError(err);
  return 0;
}

int32_t mpgenc_audio_close(MpgAudioEncoder* e) {
  if (!e) return 0;
  std::string err = e->failed ? "the audio stream is incomplete" : "";
  if (err.empty() && !e->ctx) err = OpenAudioCodec(e);
  if (err.empty()) err = EncodePending(e, true);
  if (err.empty()) {
    const int rc = avcodec_send_frame(e->ctx, nullptr);
    err = rc < 0 ? "Layer II encoding failed: " + AvSupport::ErrText(rc) : DrainAudio(e, true);
  }
  // The stream's last bytes reach the file only now.
  if (fclose(e->file) != 0 && err.empty()) err = AvSupport::WriteFailure(e->name, AVERROR(errno));
  e->file = nullptr;
  delete e;
  if (err.empty()) return 1;
  ReportError(err);
  return 0;
}

// ---- multiplexer -----------------------------------------------------------

namespace {

struct Input {
  AVFormatContext* fmt = nullptr;
  AVPacket* pkt = nullptr;
  bool have = false;
  int out = -1;
  int64_t lastDts = AV_NOPTS_VALUE;
  ~Input() {
    avformat_close_input(&fmt);
    av_packet_free(&pkt);
  }
};

std::string OpenInput(Input& in, const char* name, const char* demuxer, bool video) {
  const AVInputFormat* f = av_find_input_format(demuxer);
  int rc = avformat_open_input(&in.fmt, name, f, nullptr);
  if (rc < 0) return std::string("cannot open ") + name + ": " + AvSupport::ErrText(rc);
  in.fmt->flags |= AVFMT_FLAG_GENPTS;
  rc = avformat_find_stream_info(in.fmt, nullptr);
  if (rc < 0 || in.fmt->nb_streams < 1) return std::string("cannot read ") + name;
  const AVCodecID id = in.fmt->streams[0]->codecpar->codec_id;
  const bool ok = video ? (id == AV_CODEC_ID_MPEG1VIDEO || id == AV_CODEC_ID_MPEG2VIDEO)
                        : (id == AV_CODEC_ID_MP1 || id == AV_CODEC_ID_MP2 || id == AV_CODEC_ID_MP3);
  if (!ok) return std::string(name) + (video ? " is not MPEG video" : " is not MPEG audio");
  in.pkt = av_packet_alloc();
  if (!in.pkt) return "out of memory";
  return "";
}

bool Pull(Input& in) {
  in.have = false;
  while (av_read_frame(in.fmt, in.pkt) >= 0) {
    if (in.pkt->stream_index == 0) {
      in.have = true;
      return true;
    }
    av_packet_unref(in.pkt);
  }
  return false;
}

int64_t DtsOf(const Input& in) {
  return in.pkt->dts != AV_NOPTS_VALUE ? in.pkt->dts : in.pkt->pts;
}

const char* MuxerOf(int32_t type) {
  switch (type) {
    case kMpeg1: return "mpeg";
    case kVcd: return "vcd";
    case kMpeg2: return "vob";
    case kSvcd: return "svcd";
    case kDvd: return "dvd";
    default: return nullptr;
  }
}

std::string Multiplex(const char* outputName, const char* videoName,
                      const char* audioName, int32_t type) {
  const char* muxer = MuxerOf(type);
  if (!muxer) return "unknown MPEG type " + std::to_string(type);
  if (!outputName || !videoName || !audioName) return "missing file name";
  Input in[2];
  std::string err = OpenInput(in[0], videoName, "mpegvideo", true);
  if (err.empty()) err = OpenInput(in[1], audioName, "mp3", false);
  if (!err.empty()) return err;

  AVFormatContext* oc = nullptr;
  int rc = avformat_alloc_output_context2(&oc, nullptr, muxer, outputName);
  if (rc < 0 || !oc) return "cannot create the multiplexer: " + AvSupport::ErrText(rc);
  struct OutCloser {
    AVFormatContext* oc;
    ~OutCloser() {
      if (oc->pb) avio_closep(&oc->pb);
      avformat_free_context(oc);
    }
  } closer{oc};
  for (Input& i : in) {
    AVStream* st = avformat_new_stream(oc, nullptr);
    if (!st) return "out of memory";
    if (avcodec_parameters_copy(st->codecpar, i.fmt->streams[0]->codecpar) < 0) return "out of memory";
    st->codecpar->codec_tag = 0;
    st->time_base = i.fmt->streams[0]->time_base;
    i.out = st->index;
  }
  rc = avio_open(&oc->pb, outputName, AVIO_FLAG_WRITE);
  if (rc < 0) return std::string("cannot create ") + outputName + ": " + AvSupport::ErrText(rc);
  rc = avformat_write_header(oc, nullptr);
  if (rc < 0) return "cannot start the system stream: " + AvSupport::ErrText(rc);

  Pull(in[0]);
  Pull(in[1]);
  while (in[0].have || in[1].have) {
    int pick = in[0].have ? 0 : 1;
    if (in[0].have && in[1].have) {
      const AVRational tb0 = in[0].fmt->streams[0]->time_base, tb1 = in[1].fmt->streams[0]->time_base;
      if (av_compare_ts(DtsOf(in[1]), tb1, DtsOf(in[0]), tb0) < 0) pick = 1;
    }
    Input& i = in[pick];
    AVPacket* p = i.pkt;
    if (p->dts == AV_NOPTS_VALUE) p->dts = p->pts;
    if (p->dts == AV_NOPTS_VALUE || (i.lastDts != AV_NOPTS_VALUE && p->dts <= i.lastDts)) {
      av_packet_unref(p);
      return std::string(pick ? audioName : videoName) + " has no usable time stamps";
    }
    i.lastDts = p->dts;
    av_packet_rescale_ts(p, i.fmt->streams[0]->time_base, oc->streams[i.out]->time_base);
    p->stream_index = i.out;
    p->pos = -1;
    rc = av_interleaved_write_frame(oc, p);
    if (rc < 0) return AvSupport::WriteFailure(outputName, rc);
    Pull(i);
  }
  rc = av_write_trailer(oc);
  if (rc < 0) return AvSupport::WriteFailure(outputName, rc);
  // Writes still buffered fail here.
  rc = avio_closep(&oc->pb);
  if (rc < 0) return AvSupport::WriteFailure(outputName, rc);
  return "";
}

}  // namespace

int32_t mpg_mplex(const char* outputName, const char* videoName,
                  const char* audioName, int32_t reserved, int32_t type) {
  if (reserved != 0) {
    ReportError("mpg_mplex: the fourth argument must be 0");
    return 0;
  }
  const std::string err = Multiplex(outputName, videoName, audioName, type);
  if (err.empty()) return 1;
  if (outputName) std::remove(outputName);
  ReportError(err);
  return 0;
}

}  // namespace Pavane
