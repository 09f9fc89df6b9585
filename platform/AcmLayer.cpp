#include "platform/AcmLayer.h"
#include "platform/Gdi.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace Acm {

// ---- formats and codecs -------------------------------------------------------

namespace {

struct Format {
  WaveFormatEx h;
  std::vector<uint8_t> extra;  // only the extra bytes the caller really gave
  bool Pcm() const { return h.formatTag == kTagPcm; }
};

AVCodecID CodecOf(const WaveFormatEx& f) {
  switch (f.formatTag) {
    case kTagMsAdpcm: return AV_CODEC_ID_ADPCM_MS;
    case kTagIeeeFloat:
      return f.bitsPerSample == 64 ? AV_CODEC_ID_PCM_F64LE
                                   : AV_CODEC_ID_PCM_F32LE;
    case kTagALaw: return AV_CODEC_ID_PCM_ALAW;
    case kTagMuLaw: return AV_CODEC_ID_PCM_MULAW;
    case kTagImaAdpcm: return AV_CODEC_ID_ADPCM_IMA_WAV;
    case kTagYamahaAdpcm: return AV_CODEC_ID_ADPCM_YAMAHA;
    case kTagGsm610: return AV_CODEC_ID_GSM_MS;
    case kTagG726Adpcm: return AV_CODEC_ID_ADPCM_G726;
    case kTagMpeg: return AV_CODEC_ID_MP2;
    case kTagMpegLayer3: return AV_CODEC_ID_MP3;
    case kTagWma1: return AV_CODEC_ID_WMAV1;
    case kTagWma2: return AV_CODEC_ID_WMAV2;
    default: return AV_CODEC_ID_NONE;
  }
}

// Codecs whose packets may hold any whole number of blocks.
bool SampleCoded(AVCodecID id) {
  return id == AV_CODEC_ID_PCM_ALAW || id == AV_CODEC_ID_PCM_MULAW ||
         id == AV_CODEC_ID_PCM_F32LE || id == AV_CODEC_ID_PCM_F64LE;
}

bool MpegAudio(AVCodecID id) {
  return id == AV_CODEC_ID_MP2 || id == AV_CODEC_ID_MP3;
}

// Integer PCM the exact steps read and write: 8 bits unsigned, 16, 24 and
// 32 bits signed.
bool PcmWidth(int bits) { return bits == 8 || bits == 16 || bits == 24 || bits == 32; }

// Reads and checks a format; PCM may come as the 16-byte short header.
MMRESULT ParseFormat(const uint8_t* p, int64_t size, Format& f) {
  if (p == nullptr || size < 16) return kErrInvalidParam;
  uint8_t head[kWaveFormatSize] = {};
  std::memcpy(head, p, static_cast<size_t>(std::min<int64_t>(size, 18)));
  WaveFormatRead(head, kWaveFormatSize, f.h);
  if (size < kWaveFormatSize) {
    if (f.h.formatTag != kTagPcm) return kErrInvalidParam;
    f.h.extraSize = 0;
  }
  f.extra.clear();
  const int64_t given = std::max<int64_t>(0, size - kWaveFormatSize);
  const int64_t extra = std::min<int64_t>(f.h.extraSize, given);
  if (f.h.formatTag != kTagPcm && extra > 0)
    f.extra.assign(p + kWaveFormatSize, p + kWaveFormatSize + extra);
  if (f.h.channels < 1 || f.h.samplesPerSec < 1 ||
      f.h.samplesPerSec > 1000000)
    return kErrNotPossible;
  if (f.Pcm()) {
    if (!PcmWidth(f.h.bitsPerSample)) return kErrNotPossible;
    if (f.h.blockAlign != f.h.channels * (f.h.bitsPerSample / 8))
      return kErrNotPossible;
    return kOk;
  }
  if (CodecOf(f.h) == AV_CODEC_ID_NONE || f.h.blockAlign < 1)
    return kErrNotPossible;
  return kOk;
}

// Channel counts the exact channel step joins.
bool ChannelsJoin(int a, int b) {
  return a == b || (a == 1 && b == 2) || (a == 2 && b == 1);
}

// Opens an encoder for id at rate and channels; blockAlign, when above 0, is
// the block size asked of block coders, bitRate (bits/s) of the others.
AVCodecContext* OpenEncoder(AVCodecID id, int rate, int channels,
                            int blockAlign, int64_t bitRate) {
  const AVCodec* codec = avcodec_find_encoder(id);
  if (codec == nullptr) return nullptr;
  AVCodecContext* c = avcodec_alloc_context3(codec);
  if (c == nullptr) return nullptr;
  c->sample_rate = rate;
  av_channel_layout_default(&c->ch_layout, channels);
  c->time_base = AVRational{1, rate};
  c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0]
                                     : AV_SAMPLE_FMT_S16;
  for (const AVSampleFormat* f = codec->sample_fmts; f && *f != -1; f++)
    if (*f == AV_SAMPLE_FMT_S16) c->sample_fmt = AV_SAMPLE_FMT_S16;
  if (bitRate > 0) c->bit_rate = bitRate;
  AVDictionary* opts = nullptr;
  if ((id == AV_CODEC_ID_ADPCM_IMA_WAV || id == AV_CODEC_ID_ADPCM_MS) &&
      blockAlign > 0)
    av_dict_set_int(&opts, "block_size", blockAlign, 0);
  const int r = avcodec_open2(c, codec, &opts);
  av_dict_free(&opts);
  if (r < 0) {
    avcodec_free_context(&c);
    return nullptr;
  }
  return c;
}

// ---- exact PCM steps ------------------------------------------------------------

// Samples are carried as 16 bits: wider ones keep their 16 most significant
// bits, narrower ones are widened.
void PcmToS16(const uint8_t* in, int64_t frames, const WaveFormatEx& f,
              std::vector<int16_t>& out) {
  const int64_t n = frames * f.channels;
  const size_t base = out.size();
  out.resize(base + static_cast<size_t>(n));
  int16_t* o = out.data() + base;
  const int width = f.bitsPerSample / 8;
  if (width == 1) {
    for (int64_t i = 0; i < n; i++)
      o[i] = static_cast<int16_t>((static_cast<int>(in[i]) - 128) * 256);
  } else {
    for (int64_t i = 0; i < n; i++)
      o[i] = static_cast<int16_t>(Gdi::ReadWord(in + width * i + width - 2));
  }
}

void S16ToPcm(const std::vector<int16_t>& in, const WaveFormatEx& f,
              std::vector<uint8_t>& out) {
  const size_t base = out.size();
  const size_t width = f.bitsPerSample / 8;
  out.resize(base + width * in.size(), 0);
  if (width == 1) {
    for (size_t i = 0; i < in.size(); i++)
      out[base + i] = static_cast<uint8_t>((in[i] >> 8) + 128);
  } else {
    for (size_t i = 0; i < in.size(); i++)
      Gdi::WriteWord(out.data() + base + width * i + width - 2, static_cast<uint16_t>(in[i]));
  }
}

// Mono to stereo repeats each sample; stereo to mono takes the mean rounded
// down, so mono -> stereo -> mono gives back every sample.
void JoinChannels(std::vector<int16_t>& s, int from, int to) {
  if (from == to) return;
  if (from == 1) {
    std::vector<int16_t> o(s.size() * 2);
    for (size_t i = 0; i < s.size(); i++) o[2 * i] = o[2 * i + 1] = s[i];
    s.swap(o);
  } else {
    std::vector<int16_t> o(s.size() / 2);
    for (size_t i = 0; i < o.size(); i++)
      o[i] = static_cast<int16_t>((s[2 * i] + s[2 * i + 1]) >> 1);
    s.swap(o);
  }
}

}  // namespace

// ---- the stream ---------------------------------------------------------------------

struct AcmStream {
  Format src, dst;
  AVCodecID decId = AV_CODEC_ID_NONE, encId = AV_CODEC_ID_NONE;
  bool fed = false;      // something was converted since the last start
  bool drained = false;  // the codecs were flushed by an end call
  bool ready = false;    // every stage was built

  AVCodecContext* dec = nullptr;
  AVCodecParserContext* parser = nullptr;
  SwrContext* decSwr = nullptr;
  int decSwrRate = 0, decSwrFormat = -1, decSwrChannels = 0;
  int64_t blockFrames = 0;    // frames of one source block, 0 when unknown
  std::vector<uint8_t> inHold;  // source bytes short of a frame or block

  SwrContext* rate = nullptr;
  int64_t rateIn = 0, rateOut = 0;

  AVCodecContext* enc = nullptr;
  SwrContext* encSwr = nullptr;
  std::vector<int16_t> encHold;  // samples short of an encoder frame
  int64_t encPts = 0;

  AVPacket* pkt = nullptr;
  AVFrame* frame = nullptr;
  std::vector<uint8_t> outHold;  // converted bytes the caller has not taken
  size_t outPos = 0;

  ~AcmStream() { Release(); }

  void Release() {
    avcodec_free_context(&dec);
    if (parser) av_parser_close(parser);
    parser = nullptr;
    swr_free(&decSwr);
    swr_free(&rate);
    avcodec_free_context(&enc);
    swr_free(&encSwr);
    av_packet_free(&pkt);
    av_frame_free(&frame);
    decSwrRate = decSwrChannels = 0;
    decSwrFormat = -1;
    inHold.clear();
    encHold.clear();
    outHold.clear();
    outPos = 0;
    rateIn = rateOut = encPts = 0;
    fed = drained = false;
  }

  MMRESULT Build();
  MMRESULT Decode(const uint8_t* data, int size, std::vector<int16_t>& out);
  MMRESULT TakeFrame(std::vector<int16_t>& out);
  MMRESULT Input(const uint8_t* data, int64_t size, bool end,
                 std::vector<int16_t>& out);
  MMRESULT Resample(std::vector<int16_t>& s, bool end);
  MMRESULT Encode(const int16_t* samples, int frames);
  MMRESULT Output(std::vector<int16_t>& s, bool end);
  int64_t MaxOutputBytes(int64_t inputBytes) const;
};

MMRESULT AcmStream::Build() {
  Release();
  ready = false;
  pkt = av_packet_alloc();
  frame = av_frame_alloc();
  if (!pkt || !frame) return kErrNoMemory;
  if (!src.Pcm()) {
    decId = CodecOf(src.h);
    const AVCodec* codec = avcodec_find_decoder(decId);
    if (codec == nullptr) return kErrNotPossible;
    dec = avcodec_alloc_context3(codec);
    if (dec == nullptr) return kErrNoMemory;
    dec->sample_rate = static_cast<int>(src.h.samplesPerSec);
    av_channel_layout_default(&dec->ch_layout, src.h.channels);
    dec->block_align = src.h.blockAlign;
    dec->bit_rate = static_cast<int64_t>(src.h.avgBytesPerSec) * 8;
    dec->bits_per_coded_sample = src.h.bitsPerSample;
    if ((decId == AV_CODEC_ID_ADPCM_IMA_WAV ||
         decId == AV_CODEC_ID_ADPCM_G726) &&
        (src.h.bitsPerSample < 2 || src.h.bitsPerSample > 5))
      dec->bits_per_coded_sample = 4;
    if (!src.extra.empty()) {
      dec->extradata = static_cast<uint8_t*>(
          av_mallocz(src.extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
      if (dec->extradata == nullptr) return kErrNoMemory;
      std::memcpy(dec->extradata, src.extra.data(), src.extra.size());
      dec->extradata_size = static_cast<int>(src.extra.size());
    }
    if (avcodec_open2(dec, codec, nullptr) < 0) return kErrNotPossible;
    if (MpegAudio(decId)) {
      parser = av_parser_init(decId);
      if (parser == nullptr) return kErrNotPossible;
    } else {
      AVCodecParameters* par = avcodec_parameters_alloc();
      if (par == nullptr) return kErrNoMemory;
      if (avcodec_parameters_from_context(par, dec) >= 0)
        blockFrames = av_get_audio_frame_duration2(par, src.h.blockAlign);
      avcodec_parameters_free(&par);
    }
  }
  if (src.h.samplesPerSec != dst.h.samplesPerSec) {
    AVChannelLayout layout;
    av_channel_layout_default(&layout, dst.h.channels);
    const int r = swr_alloc_set_opts2(
        &rate, &layout, AV_SAMPLE_FMT_S16, static_cast<int>(dst.h.samplesPerSec),
        &layout, AV_SAMPLE_FMT_S16, static_cast<int>(src.h.samplesPerSec), 0,
        nullptr);
    av_channel_layout_uninit(&layout);
    if (r < 0 || swr_init(rate) < 0) return kErrNotPossible;
  }
  if (!dst.Pcm()) {
    encId = CodecOf(dst.h);
    enc = OpenEncoder(encId, static_cast<int>(dst.h.samplesPerSec),
                      dst.h.channels, dst.h.blockAlign,
                      static_cast<int64_t>(dst.h.avgBytesPerSec) * 8);
    if (enc == nullptr) return kErrNotPossible;
    if (!MpegAudio(encId) && enc->block_align > 0 &&
        enc->block_align != dst.h.blockAlign)
      return kErrNotPossible;
    if (enc->sample_fmt != AV_SAMPLE_FMT_S16) {
      const int r = swr_alloc_set_opts2(
          &encSwr, &enc->ch_layout, enc->sample_fmt, enc->sample_rate,
          &enc->ch_layout, AV_SAMPLE_FMT_S16, enc->sample_rate, 0, nullptr);
      if (r < 0 || swr_init(encSwr) < 0) return kErrNotPossible;
    }
  }
  ready = true;
  return kOk;
}

// Appends the decoded frame as 16-bit samples in the source channel count.
MMRESULT AcmStream::TakeFrame(std::vector<int16_t>& out) {
  if (frame->nb_samples <= 0) return kOk;
  if (decSwr == nullptr || decSwrRate != frame->sample_rate ||
      decSwrFormat != frame->format ||
      decSwrChannels != frame->ch_layout.nb_channels) {
    swr_free(&decSwr);
    AVChannelLayout layout;
    av_channel_layout_default(&layout, src.h.channels);
    const int r = swr_alloc_set_opts2(
        &decSwr, &layout, AV_SAMPLE_FMT_S16,
        static_cast<int>(src.h.samplesPerSec), &frame->ch_layout,
        static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0,
        nullptr);
    av_channel_layout_uninit(&layout);
    if (r < 0 || swr_init(decSwr) < 0) return kErrNotPossible;
    decSwrRate = frame->sample_rate;
    decSwrFormat = frame->format;
    decSwrChannels = frame->ch_layout.nb_channels;
  }
  const int cap = swr_get_out_samples(decSwr, frame->nb_samples);
  if (cap < 0) return kErrNotPossible;
  const size_t base = out.size();
  out.resize(base + static_cast<size_t>(cap) * src.h.channels);
  uint8_t* o = reinterpret_cast<uint8_t*>(out.data() + base);
  const int got =
      swr_convert(decSwr, &o, cap,
                  const_cast<const uint8_t**>(frame->extended_data),
                  frame->nb_samples);
  if (got < 0) return kErrNotPossible;
  out.resize(base + static_cast<size_t>(got) * src.h.channels);
  return kOk;
}

// Sends one packet (or, with data null, the drain request) and collects what
// the decoder gives. A damaged packet is dropped, as a player would.
MMRESULT AcmStream::Decode(const uint8_t* data, int size,
                           std::vector<int16_t>& out) {
  int r;
  if (data != nullptr) {
    if (av_new_packet(pkt, size) < 0) return kErrNoMemory;
    std::memcpy(pkt->data, data, static_cast<size_t>(size));
    r = avcodec_send_packet(dec, pkt);
    av_packet_unref(pkt);
  } else {
    r = avcodec_send_packet(dec, nullptr);
  }
  if (r < 0 && r != AVERROR(EAGAIN)) return kOk;
  for (;;) {
    r = avcodec_receive_frame(dec, frame);
    if (r < 0) break;
    const MMRESULT m = TakeFrame(out);
    av_frame_unref(frame);
    if (m != kOk) return m;
  }
  return kOk;
}

// Source bytes to 16-bit samples at the source rate and channel count.
MMRESULT AcmStream::Input(const uint8_t* data, int64_t size, bool end,
                          std::vector<int16_t>& out) {
  inHold.insert(inHold.end(), data, data + size);
  if (src.Pcm()) {
    const int64_t frames = static_cast<int64_t>(inHold.size()) / src.h.blockAlign;
    PcmToS16(inHold.data(), frames, src.h, out);
    inHold.erase(inHold.begin(), inHold.begin() + frames * src.h.blockAlign);
    if (end) inHold.clear();  // a partial sample frame carries no sound
    return kOk;
  }
  MMRESULT m = kOk;
  if (parser != nullptr) {
    std::vector<uint8_t> padded(inHold.size() + AV_INPUT_BUFFER_PADDING_SIZE);
    std::copy(inHold.begin(), inHold.end(), padded.begin());
    const uint8_t* p = padded.data();
    int left = static_cast<int>(inHold.size());
    inHold.clear();
    while (left > 0 || end) {
      uint8_t* outData = nullptr;
      int outSize = 0;
      const int used = av_parser_parse2(parser, dec, &outData, &outSize, p,
                                        left, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
      if (used < 0) break;
      p += used;
      left -= used;
      if (outSize > 0) {
        m = Decode(outData, outSize, out);
        if (m != kOk) return m;
      } else if (used == 0) {
        // Nothing taken and nothing given: keep the rest for the next call
        // (after the final flush call there is no rest).
        inHold.assign(p, p + left);
        break;
      }
    }
  } else {
    int64_t packet = src.h.blockAlign;
    if (SampleCoded(decId) || packet < 32)
      packet *= std::max<int64_t>(1, 4096 / packet);
    size_t pos = 0;
    while (inHold.size() - pos >= static_cast<size_t>(packet)) {
      m = Decode(inHold.data() + pos, static_cast<int>(packet), out);
      if (m != kOk) return m;
      pos += static_cast<size_t>(packet);
    }
    if (end && pos < inHold.size()) {
      // Whole blocks of a sample-coded stream still decode; a partial block
      // of a block coder is offered as it is (the decoder takes what it can).
      const int64_t rest = static_cast<int64_t>(inHold.size() - pos);
      const int64_t whole = SampleCoded(decId)
                                ? rest / src.h.blockAlign * src.h.blockAlign
                                : rest;
      if (whole > 0) {
        m = Decode(inHold.data() + pos, static_cast<int>(whole), out);
        if (m != kOk) return m;
      }
      pos = inHold.size();
    }
    inHold.erase(inHold.begin(), inHold.begin() + static_cast<ptrdiff_t>(pos));
  }
  if (end) {
    m = Decode(nullptr, 0, out);
    if (m != kOk) return m;
    if (decSwr != nullptr && decSwrRate != static_cast<int>(src.h.samplesPerSec)) {
      // A stream whose frames came at another rate than announced leaves
      // samples in the format step.
      const int cap = swr_get_out_samples(decSwr, 0);
      if (cap > 0) {
        const size_t base = out.size();
        out.resize(base + static_cast<size_t>(cap) * src.h.channels);
        uint8_t* o = reinterpret_cast<uint8_t*>(out.data() + base);
        const int got = swr_convert(decSwr, &o, cap, nullptr, 0);
        out.resize(base + static_cast<size_t>(std::max(got, 0)) * src.h.channels);
      }
    }
  }
  return kOk;
}

// Rate step; on the end call the total frame count becomes
// round(frames in x destination rate / source rate).
MMRESULT AcmStream::Resample(std::vector<int16_t>& s, bool end) {
  if (rate == nullptr) return kOk;
  const int ch = dst.h.channels;
  const int64_t inFrames = static_cast<int64_t>(s.size()) / ch;
  if (inFrames > std::numeric_limits<int>::max() / 4) return kErrNotPossible;
  std::vector<int16_t> out;
  int64_t produced = 0;
  auto run = [&](const int16_t* in, int n) -> MMRESULT {
    const int cap = swr_get_out_samples(rate, n) + 16;
    out.resize(static_cast<size_t>((produced + cap) * ch));
    uint8_t* o = reinterpret_cast<uint8_t*>(out.data() + produced * ch);
    const uint8_t* i = reinterpret_cast<const uint8_t*>(in);
    const int got = swr_convert(rate, &o, cap, in ? &i : nullptr, n);
    if (got < 0) return kErrNotPossible;
    produced += got;
    return kOk;
  };
  if (inFrames > 0) {
    const MMRESULT m = run(s.data(), static_cast<int>(inFrames));
    if (m != kOk) return m;
  }
  rateIn += inFrames;
  if (end) {
    // Silence after the last sample lets the filter give out everything it
    // holds (a flush alone gives nothing for sounds shorter than the
    // filter); the surplus is cut below.
    const int64_t taps =
        64 + 64 * std::max<int64_t>(1, src.h.samplesPerSec / dst.h.samplesPerSec);
    const std::vector<int16_t> silence(static_cast<size_t>(taps * ch), 0);
    MMRESULT m = run(silence.data(), static_cast<int>(taps));
    if (m == kOk) m = run(nullptr, 0);
    if (m != kOk) return m;
    const int64_t target =
        (rateIn * dst.h.samplesPerSec + src.h.samplesPerSec / 2) /
        src.h.samplesPerSec;
    const int64_t total = rateOut + produced;
    if (total > target) {
      produced = std::max<int64_t>(0, produced - (total - target));
    } else if (total < target) {
      // Not expected after the silence; keep the count rule all the same.
      const int64_t add = target - total;
      out.resize(static_cast<size_t>((produced + add) * ch), 0);
      produced += add;
    }
  }
  rateOut += produced;
  out.resize(static_cast<size_t>(produced * ch));
  s.swap(out);
  return kOk;
}

MMRESULT AcmStream::Encode(const int16_t* samples, int frames) {
  int r;
  if (samples != nullptr) {
    frame->nb_samples = frames;
    frame->format = enc->sample_fmt;
    frame->sample_rate = enc->sample_rate;
    if (av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout) < 0 ||
        av_frame_get_buffer(frame, 0) < 0) {
      av_frame_unref(frame);
      return kErrNoMemory;
    }
    if (encSwr == nullptr) {
      std::memcpy(frame->data[0], samples,
                  static_cast<size_t>(frames) * dst.h.channels * 2);
    } else {
      const uint8_t* in = reinterpret_cast<const uint8_t*>(samples);
      if (swr_convert(encSwr, frame->extended_data, frames, &in, frames) !=
          frames) {
        av_frame_unref(frame);
        return kErrNotPossible;
      }
    }
    frame->pts = encPts;
    encPts += frames;
    r = avcodec_send_frame(enc, frame);
    av_frame_unref(frame);
  } else {
    r = avcodec_send_frame(enc, nullptr);
  }
  if (r < 0 && r != AVERROR_EOF) return kErrNotPossible;
  for (;;) {
    r = avcodec_receive_packet(enc, pkt);
    if (r < 0) break;
    outHold.insert(outHold.end(), pkt->data, pkt->data + pkt->size);
    av_packet_unref(pkt);
  }
  return (r == AVERROR(EAGAIN) || r == AVERROR_EOF) ? kOk : kErrNotPossible;
}

// 16-bit samples in the destination channel count to destination bytes.
MMRESULT AcmStream::Output(std::vector<int16_t>& s, bool end) {
  if (dst.Pcm()) {
    S16ToPcm(s, dst.h, outHold);
    return kOk;
  }
  const int ch = dst.h.channels;
  encHold.insert(encHold.end(), s.begin(), s.end());
  const bool variable =
      (enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
  const int frameSize = enc->frame_size > 0 ? enc->frame_size : 1024;
  size_t pos = 0;
  while ((encHold.size() - pos) / ch >= static_cast<size_t>(frameSize)) {
    const MMRESULT m = Encode(encHold.data() + pos, frameSize);
    if (m != kOk) return m;
    pos += static_cast<size_t>(frameSize) * ch;
  }
  encHold.erase(encHold.begin(), encHold.begin() + static_cast<ptrdiff_t>(pos));
  if (end) {
    if (!encHold.empty()) {
      const bool small = variable || enc->frame_size == 0 ||
                         (enc->codec->capabilities &
                          AV_CODEC_CAP_SMALL_LAST_FRAME) != 0;
      // A coder of fixed frames gets its last frame filled with silence.
      if (!small) encHold.resize(static_cast<size_t>(frameSize) * ch, 0);
      const MMRESULT m = Encode(encHold.data(),
                                static_cast<int>(encHold.size() / ch));
      if (m != kOk) return m;
      encHold.clear();
    }
    const MMRESULT m = Encode(nullptr, 0);
    if (m != kOk) return m;
  }
  return kOk;
}

// An upper bound of the bytes a conversion of inputBytes more source bytes
// can produce, with what the stream already holds.
int64_t AcmStream::MaxOutputBytes(int64_t inputBytes) const {
  const int64_t bytes = static_cast<int64_t>(inHold.size()) + inputBytes;
  int64_t frames;  // source sample frames
  if (src.Pcm()) {
    frames = bytes / src.h.blockAlign;
  } else if (blockFrames > 0) {
    frames = (bytes + src.h.blockAlign - 1) / src.h.blockAlign * blockFrames;
  } else {
    const int64_t avg = std::max<int64_t>(1, src.h.avgBytesPerSec);
    frames = bytes * src.h.samplesPerSec / avg * 11 / 10 + 4 * 1152;
  }
  if (rate != nullptr)
    frames = frames * dst.h.samplesPerSec / src.h.samplesPerSec + 64 +
             dst.h.samplesPerSec / 100;
  int64_t out;
  if (dst.Pcm()) {
    out = frames * dst.h.blockAlign;
  } else {
    const int64_t held = static_cast<int64_t>(encHold.size()) / dst.h.channels;
    const int64_t frameSize = enc->frame_size > 0 ? enc->frame_size : 1024;
    const int64_t packets = (held + frames + frameSize - 1) / frameSize + 2;
    int64_t perPacket = enc->block_align;
    if (enc->frame_size == 0) perPacket = frameSize * dst.h.blockAlign;
    if (perPacket <= 0 || MpegAudio(encId))
      perPacket = frameSize * std::max<int64_t>(enc->bit_rate, 8000) / 8 /
                      dst.h.samplesPerSec + 8;
    out = packets * perPacket + (MpegAudio(encId) ? 8192 : 0);
  }
  return out + static_cast<int64_t>(outHold.size() - outPos);
}

// ---- the calls ----------------------------------------------------------------------

namespace {

// The checks every header call starts with.
MMRESULT CheckHeader(HACMSTREAM stream, const AcmStreamHeader* header) {
  if (stream == nullptr) return kErrInvalidHandle;
  if (header == nullptr || header->size != kStreamHeaderSize)
    return kErrInvalidParam;
  return kOk;
}

}  // namespace

MMRESULT acmStreamOpen(HACMSTREAM* stream, void* driver, const uint8_t* src,
                       int64_t srcSize, const uint8_t* dst, int64_t dstSize,
                       const void* filter, uintptr_t callback,
                       uintptr_t instance, uint32_t flags) {
  if (stream != nullptr) *stream = nullptr;
  if (driver != nullptr || filter != nullptr || callback != 0 || instance != 0)
    return kErrInvalidParam;
  if ((flags & ~(kOpenQuery | kOpenNonRealtime)) != 0) return kErrInvalidFlag;
  if (stream == nullptr && !(flags & kOpenQuery)) return kErrInvalidParam;
  AcmStream* s = new (std::nothrow) AcmStream;
  if (s == nullptr) return kErrNoMemory;
  MMRESULT r = ParseFormat(src, srcSize, s->src);
  if (r == kOk) r = ParseFormat(dst, dstSize, s->dst);
  if (r == kOk && !ChannelsJoin(s->src.h.channels, s->dst.h.channels))
    r = kErrNotPossible;
  if (r == kOk) r = s->Build();
  if (r != kOk || (flags & kOpenQuery)) {
    delete s;
    return r;
  }
  *stream = s;
  return kOk;
}

MMRESULT acmStreamSize(HACMSTREAM stream, uint32_t input, uint32_t* output,
                       uint32_t flags) {
  if (stream == nullptr) return kErrInvalidHandle;
  if (output == nullptr) return kErrInvalidParam;
  if (flags != kSizeSource) return kErrInvalidFlag;
  *output = 0;
  if (!stream->ready) return kErrNotPossible;
  const int64_t bytes = stream->MaxOutputBytes(input);
  if (bytes > std::numeric_limits<uint32_t>::max()) return kErrNotPossible;
  *output = static_cast<uint32_t>(bytes);
  return kOk;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, AcmStreamHeader* header,
                                uint32_t flags) {
  if (const MMRESULT r = CheckHeader(stream, header); r != kOk) return r;
  if (flags != 0) return kErrInvalidFlag;
  if ((header->srcLength > 0 && header->src == nullptr) ||
      (header->dstLength > 0 && header->dst == nullptr))
    return kErrInvalidParam;
  header->status = kStatusPrepared;
  return kOk;
}

MMRESULT acmStreamConvert(HACMSTREAM stream, AcmStreamHeader* header,
                          uint32_t flags) {
  if (const MMRESULT r = CheckHeader(stream, header); r != kOk) return r;
  if ((flags & ~(kConvertBlockAlign | kConvertStart | kConvertEnd)) != 0)
    return kErrInvalidFlag;
  if (!(header->status & kStatusPrepared)) return kErrUnprepared;
  if ((header->srcLength > 0 && header->src == nullptr) ||
      (header->dstLength > 0 && header->dst == nullptr))
    return kErrInvalidParam;
  AcmStream& s = *stream;
  const bool end = (flags & kConvertEnd) != 0;
  if (((flags & kConvertStart) && s.fed) || s.drained) {
    const MMRESULT r = s.Build();
    if (r != kOk) return r;
  }
  if (!s.ready) return kErrNotPossible;
  s.fed = true;
  header->status &= ~kStatusDone;
  header->srcLengthUsed = 0;
  header->dstLengthUsed = 0;

  std::vector<int16_t> samples;
  MMRESULT r = s.Input(header->src, header->srcLength, end, samples);
  if (r == kOk) {
    JoinChannels(samples, s.src.h.channels, s.dst.h.channels);
    r = s.Resample(samples, end);
  }
  if (r == kOk) r = s.Output(samples, end);
  if (r != kOk) return r;
  if (end) s.drained = true;
  header->srcLengthUsed = header->srcLength;

  const size_t ready = s.outHold.size() - s.outPos;
  const size_t give = std::min<size_t>(ready, header->dstLength);
  if (give > 0) std::memcpy(header->dst, s.outHold.data() + s.outPos, give);
  s.outPos += give;
  header->dstLengthUsed = static_cast<uint32_t>(give);
  if (s.outPos == s.outHold.size()) {
    s.outHold.clear();
    s.outPos = 0;
  } else if (s.outPos > (1u << 20)) {
    s.outHold.erase(s.outHold.begin(),
                    s.outHold.begin() + static_cast<ptrdiff_t>(s.outPos));
    s.outPos = 0;
  }
  header->status |= kStatusDone;
  if (end && ready > give) return kErrNotPossible;
  return kOk;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, AcmStreamHeader* header,
                                  uint32_t flags) {
  if (const MMRESULT r = CheckHeader(stream, header); r != kOk) return r;
  if (flags != 0) return kErrInvalidFlag;
  if (!(header->status & kStatusPrepared)) return kErrUnprepared;
  header->status &= ~kStatusPrepared;
  return kOk;
}

MMRESULT acmStreamClose(HACMSTREAM stream, uint32_t flags) {
  if (stream == nullptr) return kErrInvalidHandle;
  if (flags != 0) return kErrInvalidFlag;
  delete stream;
  return kOk;
}

MMRESULT acmFormatSuggest(void* driver, const uint8_t* src, int64_t srcSize,
                          uint8_t* dst, int64_t dstSize, uint32_t flags) {
  if (driver != nullptr || dst == nullptr || dstSize < kWaveFormatSize)
    return kErrInvalidParam;
  if ((flags & ~(kSuggestTag | kSuggestChannels | kSuggestRate |
                 kSuggestBits)) != 0)
    return kErrInvalidFlag;
  Format s;
  MMRESULT r = ParseFormat(src, srcSize, s);
  if (r != kOk) return r;
  WaveFormatEx want;
  WaveFormatRead(dst, dstSize, want);
  WaveFormatEx out;
  out.formatTag = (flags & kSuggestTag) ? want.formatTag : kTagPcm;
  out.channels = (flags & kSuggestChannels) ? want.channels : s.h.channels;
  out.samplesPerSec =
      (flags & kSuggestRate) ? want.samplesPerSec : s.h.samplesPerSec;
  if (out.channels < 1 || out.samplesPerSec < 1 ||
      !ChannelsJoin(s.h.channels, out.channels))
    return kErrNotPossible;
  std::vector<uint8_t> extra;
  if (out.formatTag == kTagPcm) {
    if (!s.Pcm() && avcodec_find_decoder(CodecOf(s.h)) == nullptr)
      return kErrNotPossible;
    out.bitsPerSample = (flags & kSuggestBits) ? want.bitsPerSample
                        : s.Pcm()              ? s.h.bitsPerSample
                                               : 16;
    if (!PcmWidth(out.bitsPerSample)) return kErrNotPossible;
    out.blockAlign = static_cast<uint16_t>(out.channels * out.bitsPerSample / 8);
    out.avgBytesPerSec = out.samplesPerSec * out.blockAlign;
  } else {
    // Compressed formats are proposed for PCM sources only.
    if (!s.Pcm()) return kErrNotPossible;
    const AVCodecID id = CodecOf(out);
    const int rate = static_cast<int>(out.samplesPerSec);
    if (id == AV_CODEC_ID_ADPCM_IMA_WAV || id == AV_CODEC_ID_ADPCM_MS) {
      const int blockAlign = 256 * out.channels * std::max(1, rate / 11025);
      AVCodecContext* c = OpenEncoder(id, rate, out.channels, blockAlign, 0);
      if (c == nullptr) return kErrNotPossible;
      const int perBlock = c->frame_size;
      out.blockAlign = static_cast<uint16_t>(c->block_align);
      out.bitsPerSample = 4;
      out.avgBytesPerSec = static_cast<uint32_t>(
          static_cast<int64_t>(rate) * c->block_align / std::max(1, perBlock));
      if (id == AV_CODEC_ID_ADPCM_MS && c->extradata_size > 0) {
        extra.assign(c->extradata, c->extradata + c->extradata_size);
      } else {
        extra.resize(2);
        Gdi::WriteWord(extra.data(), static_cast<uint16_t>(perBlock));
      }
      avcodec_free_context(&c);
    } else if (id == AV_CODEC_ID_GSM_MS) {
      AVCodecContext* c = OpenEncoder(id, rate, out.channels, 0, 0);
      if (c == nullptr) return kErrNotPossible;
      out.blockAlign = static_cast<uint16_t>(c->block_align);
      out.bitsPerSample = 0;
      out.avgBytesPerSec = static_cast<uint32_t>(
          static_cast<int64_t>(rate) * c->block_align /
          std::max(1, c->frame_size));
      extra.resize(2);
      Gdi::WriteWord(extra.data(), static_cast<uint16_t>(c->frame_size));
      avcodec_free_context(&c);
    } else if (id == AV_CODEC_ID_PCM_ALAW || id == AV_CODEC_ID_PCM_MULAW) {
      if (avcodec_find_encoder(id) == nullptr) return kErrNotPossible;
      out.bitsPerSample = 8;
      out.blockAlign = out.channels;
      out.avgBytesPerSec = out.samplesPerSec * out.channels;
    } else {
      return kErrNotPossible;
    }
  }
  out.extraSize = static_cast<uint16_t>(extra.size());
  if (dstSize < kWaveFormatSize + static_cast<int64_t>(extra.size()))
    return kErrInvalidParam;
  WaveFormatWrite(out, dst);
  if (!extra.empty())
    std::memcpy(dst + kWaveFormatSize, extra.data(), extra.size());
  return kOk;
}

// ---- length of MPEG audio ----------------------------------------------------------

struct MpegAudioCounter::Parser {
  AVCodecContext* ctx = nullptr;
  AVCodecParserContext* parser = nullptr;
  int64_t frames = 0;

  ~Parser() {
    if (parser) av_parser_close(parser);
    avcodec_free_context(&ctx);
  }
  // Runs the parser over data (null: the end) and counts what it gives out.
  void Run(const uint8_t* data, int64_t size) {
    std::vector<uint8_t> padded(static_cast<size_t>(size) + AV_INPUT_BUFFER_PADDING_SIZE);
    if (size > 0) std::memcpy(padded.data(), data, static_cast<size_t>(size));
    const uint8_t* p = padded.data();
    int64_t left = size;
    const bool end = data == nullptr;
    while (left > 0 || end) {
      uint8_t* out = nullptr;
      int outSize = 0;
      const int piece = static_cast<int>(std::min<int64_t>(left, 1 << 20));
      const int used = av_parser_parse2(parser, ctx, &out, &outSize, end ? nullptr : p, piece,
                                        AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
      if (used < 0) return;
      if (outSize > 0 && parser->duration > 0) frames += parser->duration;
      p += used;
      left -= used;
      if (used == 0 && outSize == 0) return;
    }
  }
};

MpegAudioCounter::MpegAudioCounter(uint16_t formatTag) {
  WaveFormatEx f;
  f.formatTag = formatTag;
  const AVCodecID id = CodecOf(f);
  if (!MpegAudio(id)) return;
  auto* p = new (std::nothrow) Parser;
  if (p == nullptr) return;
  p->ctx = avcodec_alloc_context3(avcodec_find_decoder(id));
  p->parser = av_parser_init(id);
  if (p->ctx == nullptr || p->parser == nullptr) {
    delete p;
    return;
  }
  p_ = p;
}

MpegAudioCounter::~MpegAudioCounter() { delete p_; }

bool MpegAudioCounter::Usable() const { return p_ != nullptr; }

void MpegAudioCounter::Add(const uint8_t* data, int64_t size) {
  if (p_ != nullptr && data != nullptr && size > 0) p_->Run(data, size);
}

int64_t MpegAudioCounter::Finish() {
  if (p_ == nullptr) return 0;
  p_->Run(nullptr, 0);
  return p_->frames;
}

}  // namespace Acm
