#include "media/SndBasic.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"

namespace SndBasic {

using Errors::ErrSet;

namespace {

constexpr int64_t kMaxBytes = std::numeric_limits<int32_t>::max();

// Bytes in use of a record whose format validated; a record whose frame
// count does not fit its block is refused as an invalid audio format.
int64_t BytesInUse_(const SndRec& sound) {
  const int64_t bytes =
      static_cast<int64_t>(sound.frames) * sound.format.blockAlign;
  if (sound.frames < 0 || bytes > sound.allocated ||
      (bytes > 0 && sound.data == nullptr))
    ErrSet(Errors::kErrAudioFormat, __LINE__);
  return bytes;
}

// A size that must fit the 32-bit byte counts of the records.
void CheckSize_(int64_t bytes) {
  if (bytes < 0 || bytes > kMaxBytes)
    ErrSet(Errors::kClsMemory, Basic::kMemInvalidSize, __LINE__);
}

// A byte count worked out in reals, rounded to the nearest integer; one the
// records cannot carry is an invalid memory request.
int64_t RoundedSize_(double bytes) {
  const double r = std::round(bytes);
  if (!(r >= 0 && r <= static_cast<double>(kMaxBytes)))
    ErrSet(Errors::kClsMemory, Basic::kMemInvalidSize, __LINE__);
  return static_cast<int64_t>(r);
}

void CloseQuietly_(WaveConvRec& ctx) {
  if (ctx.stream) Acm::acmStreamClose(ctx.stream, 0);
  if (ctx.stream2) Acm::acmStreamClose(ctx.stream2, 0);
  ctx = WaveConvRec{};
}

// The most bytes one stream can write for srcBytes more source bytes.
int64_t PassBytes_(Acm::HACMSTREAM stream, int64_t srcBytes) {
  uint32_t most = 0;
  const uint32_t r = Acm::acmStreamSize(stream, static_cast<uint32_t>(srcBytes),
                                        &most, Acm::kSizeSource);
  if (r != Acm::kOk) ErrSet(Errors::kClsAcm, static_cast<int32_t>(r), __LINE__);
  return most;
}

// The same through both passes of a context, with what its streams hold
// from earlier calls; 0 without streams.
int64_t MostBytes_(const WaveConvRec& ctx, int64_t srcBytes) {
  if (ctx.stream == nullptr) return 0;
  const int64_t most = PassBytes_(ctx.stream, srcBytes);
  return ctx.stream2 ? PassBytes_(ctx.stream2, most) : most;
}

// Moves the contents of a finished temporary into dest.
void TakeOver_(SndRec& dest, SndRec& tmp) {
  SndFree(dest);
  if (tmp.frames > 0) {
    const int64_t bytes = static_cast<int64_t>(tmp.frames) * tmp.format.blockAlign;
    _sndalloc_(dest, bytes, __LINE__, "SndBasic.SndConvert.dest");
    std::memcpy(dest.data, tmp.data, static_cast<size_t>(bytes));
  }
  dest.frames = tmp.frames;
  dest.format = tmp.format;
  SndFree(tmp);
}

}  // namespace

// ---- wave format header ---------------------------------------------------------

void WaveFormatSetPCM(WaveFormatEx& format, int32_t rate, int32_t channels,
                      int32_t bits) {
  format.formatTag = Acm::kTagPcm;
  format.samplesPerSec = rate > 0 ? static_cast<uint32_t>(rate) : 0;
  format.channels =
      (channels > 0 && channels <= 0xFFFF) ? static_cast<uint16_t>(channels) : 0;
  format.bitsPerSample =
      (bits > 0 && bits <= 0xFFFF) ? static_cast<uint16_t>(bits) : 0;
  const int64_t align =
      static_cast<int64_t>(format.channels) * (format.bitsPerSample / 8);
  format.blockAlign = align <= 0xFFFF ? static_cast<uint16_t>(align) : 0;
  const int64_t avg = static_cast<int64_t>(format.samplesPerSec) * format.blockAlign;
  format.avgBytesPerSec =
      avg <= std::numeric_limits<uint32_t>::max() ? static_cast<uint32_t>(avg) : 0;
  format.extraSize = 0;
}

bool WaveFormatValidate(WaveFormatEx& format) {
  if (format.bitsPerSample == 0 || format.samplesPerSec == 0 ||
      format.channels == 0)
    return false;
  if (format.formatTag != Acm::kTagPcm) return format.blockAlign != 0;
  const int64_t align =
      static_cast<int64_t>(format.channels) * (format.bitsPerSample / 8);
  const int64_t avg = static_cast<int64_t>(format.samplesPerSec) * align;
  if (align < 1 || align > 0xFFFF || avg > std::numeric_limits<uint32_t>::max())
    return false;
  format.blockAlign = static_cast<uint16_t>(align);
  format.avgBytesPerSec = static_cast<uint32_t>(avg);
  return true;
}

bool WaveFormatDiffers(const WaveFormatEx& a, const WaveFormatEx& b) {
  uint8_t x[Acm::kWaveFormatSize], y[Acm::kWaveFormatSize];
  Acm::WaveFormatWrite(a, x);
  Acm::WaveFormatWrite(b, y);
  return std::memcmp(x, y, 16) != 0;
}

// ---- records ----------------------------------------------------------------------

void _sndalloc_(SndRec& sound, int64_t bytes, int32_t sourceLine,
                const char* label) {
  Errors::TraceScope t("SndBasic._sndalloc_");
  if (!Basic::MemIsTracked(sound.data)) {
    // A record without a block of its own starts its block fields afresh.
    sound.data = nullptr;
    sound.allocated = 0;
  }
  CheckSize_(bytes);
  const std::string text = std::string("(SndAlloc):") + label;
  if (Basic::MemAlloc(sound.data, bytes, sourceLine, Basic::kMemPlain,
                      text.c_str()) == Basic::kMemOk)
    sound.allocated = static_cast<int32_t>(bytes);
}

void SndClear(SndRec& sound) { sound = SndRec{}; }

void SndFree(SndRec& sound) {
  Errors::TraceScope t("SndBasic.SndFree");
  if (sound.data != nullptr) Basic::MemFree(sound.data);
  SndClear(sound);
}

void SndAddSilence(SndRec& sound, int32_t frames) {
  Errors::Monitored("SndBasic.SndAddSilence", [&] {
    if (sound.format.formatTag == 0)
      WaveFormatSetPCM(sound.format, kDefaultRate, kDefaultChannels,
                       kDefaultBits);
    if (!WaveFormatValidate(sound.format)) ErrSet(Errors::kErrAudioFormat, __LINE__);
    const int64_t have = BytesInUse_(sound);
    if (sound.frames >= frames) return;
    const int64_t bytes = static_cast<int64_t>(frames) * sound.format.blockAlign;
    CheckSize_(bytes);
    if (bytes > sound.allocated || !Basic::MemIsTracked(sound.data))
      _sndalloc_(sound, bytes, __LINE__, "SndBasic.SndAddSilence.sound");
    const uint8_t fill = sound.format.bitsPerSample == 8 ? 128 : 0;
    std::memset(sound.data + have, fill, static_cast<size_t>(bytes - have));
    sound.frames = frames;
  });
}

void SndMakeSilence(SndRec& sound, int32_t frames, int32_t rate, int32_t bits,
                    int32_t channels) {
  Errors::Monitored("SndBasic.SndMakeSilence", [&] {
    WaveFormatSetPCM(sound.format, rate, channels, bits);
    sound.frames = 0;
    SndAddSilence(sound, frames);
  });
}

void SndJoin(SndRec& dest, SndRec& src) {
  Errors::Monitored("SndBasic.SndJoin", [&] {
    if (src.frames <= 0 || !WaveFormatValidate(src.format)) return;
    const int64_t srcBytes = BytesInUse_(src);
    SndRec tmp;
    const SndRec* from = &src;
    int64_t fromBytes = srcBytes;
    if (&dest != &src && WaveFormatDiffers(dest.format, src.format)) {
      if (dest.frames == 0) {
        dest.format = src.format;
      } else {
        SndConvert(src, tmp, dest.format);
        from = &tmp;
        fromBytes = static_cast<int64_t>(tmp.frames) * tmp.format.blockAlign;
      }
    }
    const int64_t destBytes = BytesInUse_(dest);
    const int64_t total = destBytes + fromBytes;
    CheckSize_(total);
    const int32_t added = from->frames;
    if (total > dest.allocated || !Basic::MemIsTracked(dest.data))
      _sndalloc_(dest, total, __LINE__, "SndBasic.SndJoin.dest");
    // Joining a sound to itself reads from the grown block.
    const uint8_t* source = (from == &dest) ? dest.data : from->data;
    if (fromBytes > 0)
      std::memcpy(dest.data + destBytes, source, static_cast<size_t>(fromBytes));
    dest.frames += added;
    SndFree(tmp);
  });
}

void SndMove(SndRec& src, SndRec& dest, int32_t start, int32_t count) {
  Errors::Monitored("SndBasic.SndMove", [&] {
    if (start < 0 || count <= 0) return;
    if (start >= src.frames || !WaveFormatValidate(src.format)) return;
    BytesInUse_(src);
    const int64_t n = std::min<int64_t>(count, src.frames - start);
    const int64_t align = src.format.blockAlign;
    if (&src == &dest) {
      std::memmove(src.data, src.data + start * align,
                   static_cast<size_t>(n * align));
      src.frames = static_cast<int32_t>(n);
      return;
    }
    _sndalloc_(dest, n * align, __LINE__, "SndBasic.SndMove.dest");
    dest.format = src.format;
    std::memcpy(dest.data, src.data + start * align,
                static_cast<size_t>(n * align));
    dest.frames = static_cast<int32_t>(n);
  });
}

void SndDelete(SndRec& sound, int32_t start, int32_t count) {
  Errors::Monitored("SndBasic.SndDelete", [&] {
    if (start < 0 || count < 0) return;
    if (start >= sound.frames || !WaveFormatValidate(sound.format)) return;
    BytesInUse_(sound);
    const int64_t end = static_cast<int64_t>(start) + count;
    if (end >= sound.frames) {
      sound.frames = start;
      return;
    }
    const int64_t align = sound.format.blockAlign;
    std::memmove(sound.data + start * align, sound.data + end * align,
                 static_cast<size_t>((sound.frames - end) * align));
    sound.frames -= count;
  });
}

void SndConvert(SndRec& src, SndRec& dest, const WaveFormatEx& format) {
  // The clean-up of a failed frame runs after the body has unwound, so the
  // streams it closes live out here.
  WaveConvRec ctx;
  Errors::Monitored("SndBasic.SndConvert", [&] {
    if (src.frames <= 0) return;
    WaveFormatEx target = format;
    if (!WaveFormatValidate(target)) ErrSet(Errors::kErrAudioConversion, __LINE__);
    WaveFormatEx source = src.format;
    if (!WaveFormatValidate(source) || source.avgBytesPerSec == 0)
      ErrSet(Errors::kErrAudioFormat, __LINE__);
    const int64_t srcBytes = BytesInUse_(src);
    if (&src == &dest) {
      SndRec tmp;
      SndConvert(src, tmp, format);
      TakeOver_(dest, tmp);
      return;
    }
    Errors::MonSetCleanup([&ctx] { CloseQuietly_(ctx); });
    WaveConvertInit(ctx, src.format, target);
    // The rate-based size with 5 % slack, but never less than the streams
    // say this conversion can write.
    int64_t bytes = RoundedSize_(static_cast<double>(target.avgBytesPerSec) /
                                 source.avgBytesPerSec *
                                 static_cast<double>(srcBytes) * 1.05);
    bytes = std::max<int64_t>({bytes, MostBytes_(ctx, srcBytes), 1});
    _sndalloc_(dest, bytes, __LINE__, "SndBasic.SndConvert.dest");
    WaveConvertMarkEnd(ctx);
    int32_t written = 0;
    WaveConvert(ctx, src.data, dest.data, target, src.format, written,
                static_cast<int32_t>(bytes), static_cast<int32_t>(srcBytes));
    WaveConvertDone(ctx);
    dest.format = target;
    dest.frames = written / target.blockAlign;
  });
}

// ---- conversion streams -----------------------------------------------------------

void WaveConvertInit(WaveConvRec& ctx, const uint8_t* srcFormat,
                     int32_t srcFormatSize, const WaveFormatEx& dstFormat) {
  Errors::Monitored("SndBasic.WaveConvertInit", [&] {
    CloseQuietly_(ctx);
    WaveFormatEx source;
    uint8_t head[Acm::kWaveFormatSize] = {};
    if (srcFormat != nullptr && srcFormatSize > 0)
      std::memcpy(head, srcFormat,
                  static_cast<size_t>(std::min(srcFormatSize, Acm::kWaveFormatSize)));
    Acm::WaveFormatRead(head, Acm::kWaveFormatSize, source);
    // Equal formats are copied; they need no stream.
    if (!WaveFormatDiffers(source, dstFormat)) return;
    const std::vector<uint8_t> dst = Acm::WaveFormatBytes(dstFormat);
    const uint8_t* firstDst = dst.data();
    std::vector<uint8_t> middle;
    if (source.formatTag != Acm::kTagPcm) {
      // The decoder's own PCM format; when the destination is another one
      // the conversion takes a second pass from it.
      WaveFormatEx proposal;
      proposal.formatTag = Acm::kTagPcm;
      middle = Acm::WaveFormatBytes(proposal);
      if (Acm::acmFormatSuggest(nullptr, srcFormat, srcFormatSize, middle.data(),
                                Acm::kWaveFormatSize, Acm::kSuggestTag) != Acm::kOk)
        ErrSet(Errors::kErrAudioConversionWave, __LINE__);
      Acm::WaveFormatRead(middle.data(), Acm::kWaveFormatSize, proposal);
      if (!WaveFormatValidate(proposal)) ErrSet(Errors::kErrAudioConversionWave, __LINE__);
      if (WaveFormatDiffers(proposal, dstFormat)) {
        ctx.middle = proposal;
        middle = Acm::WaveFormatBytes(proposal);
        firstDst = middle.data();
      }
    }
    uint32_t r = Acm::acmStreamOpen(&ctx.stream, nullptr, srcFormat, srcFormatSize,
                                    firstDst, Acm::kWaveFormatSize, nullptr, 0, 0,
                                    Acm::kOpenNonRealtime);
    if (r != Acm::kOk) ErrSet(Errors::kClsAcm, static_cast<int32_t>(r), __LINE__);
    ctx.flags = Acm::kConvertStart | Acm::kConvertBlockAlign;
    if (firstDst != dst.data()) {
      r = Acm::acmStreamOpen(&ctx.stream2, nullptr, middle.data(),
                             Acm::kWaveFormatSize, dst.data(), Acm::kWaveFormatSize,
                             nullptr, 0, 0, Acm::kOpenNonRealtime);
      if (r != Acm::kOk) {
        CloseQuietly_(ctx);
        ErrSet(Errors::kClsAcm, static_cast<int32_t>(r), __LINE__);
      }
      ctx.flags2 = Acm::kConvertStart | Acm::kConvertBlockAlign;
    }
  });
}

void WaveConvertInit(WaveConvRec& ctx, const WaveFormatEx& srcFormat,
                     const WaveFormatEx& dstFormat) {
  const std::vector<uint8_t> src = Acm::WaveFormatBytes(srcFormat);
  WaveConvertInit(ctx, src.data(), Acm::kWaveFormatSize, dstFormat);
}

void WaveConvert_(Acm::HACMSTREAM stream, Acm::AcmStreamHeader& header,
                  uint32_t& flags, const uint8_t* src, int32_t srcBytes,
                  uint8_t* dst, int32_t dstCapacity, int32_t& written) {
  Errors::Monitored("SndBasic.WaveConvert_", [&] {
    written = 0;
    // A destination below the size asked for is no error: what does not fit
    // stays in the stream and comes first on the next call.
    PassBytes_(stream, srcBytes);
    header = Acm::AcmStreamHeader{};
    header.size = Acm::kStreamHeaderSize;
    header.src = const_cast<uint8_t*>(src);
    header.srcLength = static_cast<uint32_t>(srcBytes);
    header.dst = dst;
    header.dstLength = static_cast<uint32_t>(dstCapacity);
    uint32_t r = Acm::acmStreamPrepareHeader(stream, &header, 0);
    if (r != Acm::kOk) ErrSet(Errors::kClsAcm, static_cast<int32_t>(r), __LINE__);
    r = Acm::acmStreamConvert(stream, &header, flags);
    flags = Acm::kConvertBlockAlign;
    if (r != Acm::kOk) {
      Acm::acmStreamUnprepareHeader(stream, &header, 0);
      ErrSet(Errors::kClsAcm, static_cast<int32_t>(r), __LINE__);
    }
    r = Acm::acmStreamUnprepareHeader(stream, &header, 0);
    if (r != Acm::kOk) ErrSet(Errors::kClsAcm, static_cast<int32_t>(r), __LINE__);
    written = static_cast<int32_t>(header.dstLengthUsed);
  });
}

void WaveConvert(WaveConvRec& ctx, const uint8_t* src, uint8_t* dst,
                 const WaveFormatEx& dstFormat, const WaveFormatEx& srcFormat,
                 int32_t& written, int32_t dstCapacity, int32_t srcBytes) {
  Errors::Monitored("SndBasic.WaveConvert", [&] {
    written = 0;
    if (srcBytes < 1 || dstCapacity < 1) return;
    if (!WaveFormatDiffers(srcFormat, dstFormat)) {
      if (dstCapacity < srcBytes) ErrSet(Errors::kErrAudioConversionWave, __LINE__);
      std::memmove(dst, src, static_cast<size_t>(srcBytes));
      written = srcBytes;
      return;
    }
    if (ctx.stream2 == nullptr) {
      WaveConvert_(ctx.stream, ctx.header, ctx.flags, src, srcBytes, dst,
                   dstCapacity, written);
      return;
    }
    // Two passes: the temporary holds the PCM of the whole source.
    int64_t tempBytes = PassBytes_(ctx.stream, srcBytes);
    if (srcFormat.avgBytesPerSec > 0)
      tempBytes = std::max<int64_t>(
          tempBytes, RoundedSize_(static_cast<double>(ctx.middle.avgBytesPerSec) /
                                  srcFormat.avgBytesPerSec * srcBytes * 1.05));
    tempBytes = std::max<int64_t>(tempBytes, 1);
    CheckSize_(tempBytes);
    uint8_t* temp = nullptr;
    Basic::MemAlloc(temp, tempBytes, __LINE__, Basic::kMemPlain,
                    "SndBasic.WaveConvert.temp_buf");
    int32_t middleBytes = 0;
    const bool last = (ctx.flags & Acm::kConvertEnd) != 0;
    WaveConvert_(ctx.stream, ctx.header, ctx.flags, src, srcBytes, temp,
                 static_cast<int32_t>(tempBytes), middleBytes);
    if (middleBytes > 0 || last) {
      if (last) ctx.flags2 |= Acm::kConvertEnd;
      WaveConvert_(ctx.stream2, ctx.header2, ctx.flags2, temp, middleBytes, dst,
                   dstCapacity, written);
    }
    Basic::MemFree(temp);
  });
}

void WaveConvertMarkEnd(WaveConvRec& ctx) {
  ctx.flags |= Acm::kConvertEnd;
  ctx.flags2 |= Acm::kConvertEnd;
}

void WaveConvertDone(WaveConvRec& ctx) {
  Errors::Monitored("SndBasic.WaveConvertDone", [&] {
    uint32_t r = Acm::kOk, r2 = Acm::kOk;
    if (ctx.stream != nullptr) r = Acm::acmStreamClose(ctx.stream, 0);
    if (ctx.stream2 != nullptr) r2 = Acm::acmStreamClose(ctx.stream2, 0);
    ctx = WaveConvRec{};
    if (r != Acm::kOk) ErrSet(Errors::kClsAcm, static_cast<int32_t>(r), __LINE__);
    if (r2 != Acm::kOk) ErrSet(Errors::kClsAcm, static_cast<int32_t>(r2), __LINE__);
  });
}

// ---- pulling samples from a reader -------------------------------------------------

void SndLoad(SndLoadState& st, WaveConvRec& ctx, SndBlockReader reader,
             void* handle, int32_t frames, SndRec& sound) {
  Errors::Monitored("SndBasic.SndLoad", [&] {
    WaveFormatEx delivered = st.dstFormat;
    if (!WaveFormatValidate(delivered) || reader == nullptr)
      ErrSet(Errors::kErrAudioFormat, __LINE__);
    const int64_t align = delivered.blockAlign;
    sound.frames = 0;
    sound.format = delivered;
    if (frames < 1) return;
    const int64_t need = frames * align;
    CheckSize_(need);
    _sndalloc_(sound, need, __LINE__, "SndBasic.SndLoad.sh");
    sound.format = delivered;

    // The buffer counts come from the reader's record: trust them only
    // inside the block they describe.
    const int64_t held = Basic::MemTrackedSize(st.sndData);
    if (st.sndData == nullptr || held < 0 || st.consumed < 0 ||
        st.filled < st.consumed || st.filled > held)
      st.filled = st.consumed = 0;
    int64_t taken = 0;
    const int64_t ready = st.filled - st.consumed;
    if (ready >= need) {
      std::memcpy(sound.data, st.sndData + st.consumed, static_cast<size_t>(need));
      st.consumed += static_cast<int32_t>(need);
      taken = need;
    } else {
      if (ready > 0)
        std::memcpy(sound.data, st.sndData + st.consumed, static_cast<size_t>(ready));
      taken = ready;
      st.filled = st.consumed = 0;
      WaveFormatEx source;
      uint8_t head[Acm::kWaveFormatSize] = {};
      if (st.srcFormat != nullptr && st.srcFormatSize > 0)
        std::memcpy(head, st.srcFormat,
                    static_cast<size_t>(std::min(st.srcFormatSize, Acm::kWaveFormatSize)));
      Acm::WaveFormatRead(head, Acm::kWaveFormatSize, source);
      uint8_t* block = nullptr;
      while (!st.ended && taken < need) {
        int32_t bytes = 0, got = 0;
        reader(handle, static_cast<int32_t>(need - taken), block, bytes, got);
        if (bytes <= 0 || got <= 0) {
          st.ended = true;
          break;
        }
        if (block == nullptr || bytes > Basic::MemTrackedSize(block))
          ErrSet(Errors::kErrAudioConversionWave, __LINE__);
        st.curBlock = static_cast<int32_t>(std::min<int64_t>(
            static_cast<int64_t>(st.curBlock) + got, std::numeric_limits<int32_t>::max()));
        // Twice the expected bytes, and never less than the streams can
        // write now (they may still hold samples of earlier blocks).
        const double ratio = st.samplesPerBlock > 0 ? st.samplesPerBlock : 1.0;
        const int64_t capacity = std::max<int64_t>(
            {RoundedSize_(got * ratio * static_cast<double>(align) * 2),
             MostBytes_(ctx, bytes), 1});
        CheckSize_(capacity);
        Basic::MemAlloc(st.sndData, capacity, __LINE__, Basic::kMemPlain,
                        "SndBasic.SndLoad.sl.SndData");
        if (st.curBlock >= st.blockCount) {
          st.ended = true;
          WaveConvertMarkEnd(ctx);
        }
        int32_t written = 0;
        WaveConvert(ctx, block, st.sndData, delivered, source, written,
                    static_cast<int32_t>(capacity), bytes);
        const int64_t take = std::min<int64_t>(written, need - taken);
        std::memcpy(sound.data + taken, st.sndData, static_cast<size_t>(take));
        taken += take;
        st.filled = written;
        st.consumed = static_cast<int32_t>(take);
      }
      if (block != nullptr) Basic::MemFree(block);
    }
    sound.frames = static_cast<int32_t>(taken / align);
    if (st.consumed >= st.filled) {
      st.filled = st.consumed = 0;
      if (st.sndData != nullptr) Basic::MemFree(st.sndData);
    }
  });
}

}  // namespace SndBasic
