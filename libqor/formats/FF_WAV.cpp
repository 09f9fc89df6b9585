#include "formats/FF_WAV.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"

namespace FF_WAV {
namespace {

using Errors::ErrSet;
using MmIo::MMCKINFO;
using SndBasic::WaveFormatEx;

constexpr uint32_t kWave = MmIo::mmioFOURCC('W', 'A', 'V', 'E');
constexpr uint32_t kFmt = MmIo::mmioFOURCC('f', 'm', 't', ' ');
constexpr uint32_t kData = MmIo::mmioFOURCC('d', 'a', 't', 'a');
// Smallest "fmt " chunk that holds every field a reader needs (the bits
// per sample may be missing in very old files), and the largest one the
// 16-bit extra-size field can describe.
constexpr uint32_t kFmtMin = 14;
constexpr uint32_t kFmtMax = Acm::kWaveFormatSize + 0xFFFF;
// Foreign chunks are read through in pieces of this size.
constexpr int32_t kExtraPiece = 65536;

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Ends an open that found the file unusable: closes it and raises (13, 1).
void WAVAbort_(WavFileRec* wav) {
  Errors::TraceScope t("FF_WAV.WAVAbort_");
  if (wav->file != nullptr) MmIo::mmioClose(wav->file, 0);
  wav->file = nullptr;
  ErrSet(Errors::kErrWavOpen, __LINE__);
}

void FreeAll_(WavFileRec* wav) {
  if (!wav->convClosed) SndBasic::WaveConvertDone(wav->conv);
  if (wav->file != nullptr) MmIo::mmioClose(wav->file, 0);
  if (wav->load.srcFormat != nullptr) Basic::MemFree(wav->load.srcFormat);
  if (wav->load.sndData != nullptr) Basic::MemFree(wav->load.sndData);
  *wav = WavFileRec{};
}

// Turns an extensible header into the plain header of its sub-format, so
// the conversion layer sees the tag it knows.
void Unextend_(uint8_t* fmt, uint32_t size) {
  if (size < 18 + 22 || Get16(fmt) != kTagExtensible) return;
  const uint16_t sub = Get16(fmt + 24);
  fmt[0] = static_cast<uint8_t>(sub);
  fmt[1] = static_cast<uint8_t>(sub >> 8);
  if (sub == Acm::kTagPcm || sub == Acm::kTagIeeeFloat) {
    // Container bits are what the data holds; the valid-bits field only
    // says how many of them carry signal.
    fmt[16] = fmt[17] = 0;
  }
}

// Makes the file's header one the reader can work with: a PCM header without
// a block alignment gets the one its channels and bits give; any other
// header without one is refused.
bool RepairFormat_(uint8_t* fmt) {
  WaveFormatEx f;
  Acm::WaveFormatRead(fmt, Acm::kWaveFormatSize, f);
  if (f.formatTag == Acm::kTagPcm) {
    f.extraSize = 0;
    if (f.blockAlign == 0)
      f.blockAlign = static_cast<uint16_t>(
          std::min<int64_t>(0xFFFF, int64_t{f.channels} * ((f.bitsPerSample + 7) / 8)));
    if (f.avgBytesPerSec == 0 && f.blockAlign != 0)
      f.avgBytesPerSec = static_cast<uint32_t>(std::min<int64_t>(
          0xFFFFFFFFLL, int64_t{f.samplesPerSec} * f.blockAlign));
  }
  if (f.blockAlign == 0 || f.channels == 0 || f.samplesPerSec == 0) return false;
  // A byte rate of 0 would read nothing a second.
  if (f.avgBytesPerSec == 0)
    f.avgBytesPerSec = static_cast<uint32_t>(std::min<int64_t>(
        0xFFFFFFFFLL, int64_t{f.samplesPerSec} * f.blockAlign));
  uint8_t head[Acm::kWaveFormatSize];
  Acm::WaveFormatWrite(f, head);
  std::memcpy(fmt, head, 16);
  if (f.formatTag == Acm::kTagPcm) fmt[16] = fmt[17] = 0;
  return true;
}

// The sample data ends before the size the file gives for it.
void WarnCut_() { Errors::WarnSet(Errors::kErrWavRead, __LINE__); }

WaveFormatEx SourceHeader_(const WavFileRec* wav) {
  WaveFormatEx f;
  if (wav->load.srcFormat != nullptr)
    Acm::WaveFormatRead(wav->load.srcFormat, Acm::kWaveFormatSize, f);
  return f;
}

// Positions the file at a source block and clears what the loader holds.
void SeekBlock_(WavFileRec* wav, int64_t block) {
  const int64_t pos = block * SourceHeader_(wav).blockAlign + wav->data.dwDataOffset;
  if (MmIo::mmioSeek(wav->file, pos, SEEK_SET) != pos) ErrSet(Errors::kErrWavSeek, __LINE__);
  wav->load.curBlock = static_cast<int32_t>(block);
  wav->load.filled = wav->load.consumed = 0;
  wav->load.ended = false;
  if (wav->load.sndData != nullptr) Basic::MemFree(wav->load.sndData);
  if (!wav->convClosed) {
    SndBasic::WaveConvertDone(wav->conv);
    wav->convClosed = true;
  }
}

void OpenConverter_(WavFileRec* wav) {
  if (!wav->readable) ErrSet(Errors::kErrAudioFormat, __LINE__);
  if (!wav->convClosed) return;
  SndBasic::WaveConvertInit(wav->conv, wav->load.srcFormat, wav->load.srcFormatSize,
                            wav->load.dstFormat);
  wav->convClosed = false;
}

}  // namespace

std::string AudioTagName(uint16_t tag) {
  const char* name = nullptr;
  switch (tag) {
    case Acm::kTagPcm: name = "PCM, uncompressed"; break;
    case Acm::kTagMsAdpcm: name = "Microsoft ADPCM"; break;
    case Acm::kTagIeeeFloat: name = "IEEE Float"; break;
    case Acm::kTagALaw: name = "CCITT A-Law"; break;
    case Acm::kTagMuLaw: name = "CCITT u-Law"; break;
    case Acm::kTagImaAdpcm: name = "IMA ADPCM"; break;
    case Acm::kTagYamahaAdpcm: name = "Yamaha ADPCM"; break;
    case Acm::kTagGsm610: name = "GSM 6.10"; break;
    case Acm::kTagG726Adpcm: name = "G.726 ADPCM"; break;
    case Acm::kTagMpeg: name = "MPEG Layer-1/2"; break;
    case Acm::kTagMpegLayer3: name = "MPEG Layer-3"; break;
    case Acm::kTagWma1: name = "Windows Media Audio V1"; break;
    case Acm::kTagWma2: name = "Windows Media Audio V2"; break;
    case kTagExtensible: name = "Extensible"; break;
    default: name = "Unknown codec"; break;
  }
  return "(#" + std::to_string(tag) + ") " + name;
}

void ReadIntoExtra_(MmIo::HMMIO file, MMCKINFO* info) {
  Errors::Monitored("FF_WAV.ReadIntoExtra_", [&] {
    if (MmIo::mmioSeek(file, info->dwDataOffset, SEEK_SET) != info->dwDataOffset)
      ErrSet(Errors::kErrWavRead, __LINE__);
    uint8_t* extra = nullptr;
    int64_t left = info->cksize;
    Basic::MemAlloc(extra, std::min<int64_t>(left, kExtraPiece) + 1, __LINE__,
                    Basic::kMemPlain, "FF_WAV.ReadIntoExtra_.extra");
    while (left > 0) {
      const int32_t piece = static_cast<int32_t>(std::min<int64_t>(left, kExtraPiece));
      if (MmIo::mmioRead(file, extra, piece) != piece) ErrSet(Errors::kErrWavRead, __LINE__);
      left -= piece;
    }
    Basic::MemFree(extra);
  });
}

uint32_t FindChunkAndKeepExtras_(MmIo::HMMIO file, MMCKINFO* info,
                                 const MMCKINFO* parent, uint32_t flags) {
  Errors::TraceScope t("FF_WAV.FindChunkAndKeepExtras_");
  uint32_t wantId = 0, wantType = 0;
  if (flags & MmIo::MMIO_FINDCHUNK) {
    wantId = info->ckid;
  } else if (flags & MmIo::MMIO_FINDRIFF) {
    wantId = MmIo::FOURCC_RIFF;
    wantType = info->fccType;
  } else if (flags & MmIo::MMIO_FINDLIST) {
    wantId = MmIo::FOURCC_LIST;
    wantType = info->fccType;
  }
  for (;;) {
    MMCKINFO ck;
    const uint32_t r = MmIo::mmioDescend(file, &ck, parent, flags & MmIo::MMIO_ALLOWCUT);
    if (r != 0) return (flags == 0 && r == MmIo::MMIOERR_CHUNKNOTFOUND) ? 0 : r;
    const bool match = wantId == 0 || (ck.ckid == wantId && (wantType == 0 || ck.fccType == wantType));
    if (match) {
      *info = ck;
      return 0;
    }
    // Read through, then step past the pad byte an odd size carries.
    ReadIntoExtra_(file, &ck);
    const uint32_t a = MmIo::mmioAscend(file, &ck, 0);
    if (a != 0) return a;
  }
}

void WAVOpen(WavFileRec* wav, const std::string& fileName) {
  Errors::Monitored("FF_WAV.WAVOpen", [&] {
    FreeAll_(wav);
    Errors::MonSetCleanup([wav] { FreeAll_(wav); });
    wav->file = MmIo::mmioOpenA(fileName.c_str(), MmIo::MMIO_READ);
    if (wav->file == nullptr) ErrSet(Errors::kErrWavOpen, __LINE__);

    // A file cut short, or written to a pipe, has sizes running past its
    // end: what it holds is read, with a warning.
    MMCKINFO riff;
    if (FindChunkAndKeepExtras_(wav->file, &riff, nullptr, MmIo::MMIO_ALLOWCUT) != 0 ||
        riff.ckid != MmIo::FOURCC_RIFF || riff.fccType != kWave)
      WAVAbort_(wav);

    MMCKINFO fmt;
    fmt.ckid = kFmt;
    if (FindChunkAndKeepExtras_(wav->file, &fmt, &riff, MmIo::MMIO_FINDCHUNK) != 0)
      WAVAbort_(wav);
    if (fmt.cksize < kFmtMin || fmt.cksize > kFmtMax) WAVAbort_(wav);
    // At least the whole 18-byte header, zeroed: a 16-byte PCM chunk gets an
    // extra size of 0 instead of whatever follows it.
    const int32_t held = static_cast<int32_t>(std::max<uint32_t>(fmt.cksize, Acm::kWaveFormatSize));
    Basic::MemAlloc(wav->load.srcFormat, held, __LINE__, Basic::kMemPlain,
                    "FF_WAV.WAVOpen.srcFormat");
    if (MmIo::mmioRead(wav->file, wav->load.srcFormat, static_cast<int32_t>(fmt.cksize)) !=
        static_cast<int32_t>(fmt.cksize))
      WAVAbort_(wav);
    wav->load.srcFormatSize = held;
    wav->fileTag = Get16(wav->load.srcFormat);
    if (fmt.cksize < Acm::kWaveFormatSize) {
      wav->load.srcFormat[16] = wav->load.srcFormat[17] = 0;
    } else {
      // The extra bytes the header announces must lie in the chunk.
      const uint32_t extra = Get16(wav->load.srcFormat + 16);
      if (extra > fmt.cksize - Acm::kWaveFormatSize) {
        const uint32_t fits = fmt.cksize - Acm::kWaveFormatSize;
        wav->load.srcFormat[16] = static_cast<uint8_t>(fits);
        wav->load.srcFormat[17] = static_cast<uint8_t>(fits >> 8);
      }
    }
    Unextend_(wav->load.srcFormat, fmt.cksize);
    if (!RepairFormat_(wav->load.srcFormat)) WAVAbort_(wav);
    if (MmIo::mmioAscend(wav->file, &fmt, 0) != 0) WAVAbort_(wav);

    wav->data.ckid = kData;
    if (FindChunkAndKeepExtras_(wav->file, &wav->data, &riff,
                                MmIo::MMIO_FINDCHUNK | MmIo::MMIO_ALLOWCUT) != 0)
      WAVAbort_(wav);
    wav->cut = ((riff.dwFlags | wav->data.dwFlags) & MmIo::MMIO_CUT) != 0;
    if (MmIo::mmioAscend(wav->file, &wav->data, 0) != 0) WAVAbort_(wav);

    WaveFormatEx src = SourceHeader_(wav);
    const int64_t blocks = wav->data.cksize / src.blockAlign;
    // Counts are 32-bit sample frames: a file whose data would wrap them
    // is refused rather than read with a wrong length.
    if (blocks > std::numeric_limits<int32_t>::max()) WAVAbort_(wav);
    wav->load.blockCount = wav->load.pcmTotal = static_cast<int32_t>(blocks);

    if (src.formatTag == Acm::kTagPcm) {
      wav->load.dstFormat = src;
      wav->load.dstFormat.extraSize = 0;
      wav->load.samplesPerBlock = 1.0;
    } else {
      uint8_t suggest[Acm::kWaveFormatSize] = {};
      WaveFormatEx pcm;
      pcm.formatTag = Acm::kTagPcm;
      Acm::WaveFormatWrite(pcm, suggest);
      if (Acm::acmFormatSuggest(nullptr, wav->load.srcFormat, wav->load.srcFormatSize,
                                suggest, Acm::kWaveFormatSize, Acm::kSuggestTag) != Acm::kOk)
        return;  // unreadable, not an error of the open
      Acm::WaveFormatRead(suggest, Acm::kWaveFormatSize, wav->load.dstFormat);
      Acm::HACMSTREAM stream = nullptr;
      uint32_t r = Acm::acmStreamOpen(&stream, nullptr, wav->load.srcFormat,
                                      wav->load.srcFormatSize, suggest,
                                      Acm::kWaveFormatSize, nullptr, 0, 0,
                                      Acm::kOpenNonRealtime);
      if (r != Acm::kOk) ErrSet(Errors::kClsAcm, static_cast<int32_t>(r), __LINE__);
      const int64_t srcBytes = blocks * src.blockAlign;
      uint32_t out = 0;
      r = Acm::acmStreamSize(stream, static_cast<uint32_t>(srcBytes), &out, Acm::kSizeSource);
      const uint32_t c = Acm::acmStreamClose(stream, 0);
      if (r != Acm::kOk) ErrSet(Errors::kClsAcm, static_cast<int32_t>(r), __LINE__);
      if (c != Acm::kOk) ErrSet(Errors::kClsAcm, static_cast<int32_t>(c), __LINE__);
      const int32_t align = std::max<int32_t>(1, wav->load.dstFormat.blockAlign);
      wav->load.pcmTotal = static_cast<int32_t>(out / static_cast<uint32_t>(align));
    }
    wav->load.samplesPerBlock =
        blocks > 0 ? static_cast<double>(wav->load.pcmTotal) / static_cast<double>(blocks) : 0.0;
    if (wav->load.samplesPerBlock == 0.0) wav->load.samplesPerBlock = 1.0;
    if (!SndBasic::WaveFormatValidate(wav->load.dstFormat)) return;
    wav->convClosed = true;
    wav->readable = true;
    if (MmIo::mmioSeek(wav->file, wav->data.dwDataOffset, SEEK_SET) != wav->data.dwDataOffset)
      ErrSet(Errors::kErrWavSeek, __LINE__);
    if (wav->cut) WarnCut_();
  });
}

void WAVSeek(WavFileRec* wav, int32_t sample) {
  Errors::Monitored("FF_WAV.WAVSeek", [&] {
    if (wav->writeMode || wav->file == nullptr) return;
    const int64_t s = std::max<int32_t>(sample, 0);
    const double spb = wav->load.samplesPerBlock > 0 ? wav->load.samplesPerBlock : 1.0;
    int64_t block = static_cast<int64_t>(static_cast<double>(s) / spb);
    int64_t target = s;
    if (block >= wav->load.blockCount) {
      // Past the end (or no blocks at all): the last block, never before
      // the data.
      block = std::max<int64_t>(0, int64_t{wav->load.blockCount} - 1);
      target = static_cast<int64_t>(static_cast<double>(block) * spb);
    }
    SeekBlock_(wav, block);
    const int64_t first = static_cast<int64_t>(static_cast<double>(block) * spb);
    wav->load.samplePos = static_cast<int32_t>(first);
    // Inside a compressed block: decode up to the sample, so what the next
    // load delivers really starts there.
    if (target > first && wav->readable) {
      SndBasic::SndRec skip;
      OpenConverter_(wav);
      SndBasic::SndLoad(wav->load, wav->conv, WAVLoad_, wav,
                        static_cast<int32_t>(target - first), skip);
      wav->load.samplePos += skip.frames;
      SndBasic::SndFree(skip);
    }
  });
}

void WAVLoad_(void* handle, int32_t bytesNeeded, uint8_t*& block, int32_t& bytes,
              int32_t& frames) {
  (void)bytesNeeded;
  Errors::Monitored("FF_WAV.WAVLoad_", [&] {
    WavFileRec* wav = static_cast<WavFileRec*>(handle);
    bytes = frames = 0;
    const WaveFormatEx src = SourceHeader_(wav);
    if (src.blockAlign == 0) ErrSet(Errors::kErrWavRead, __LINE__);
    // Never past the data chunk: what follows it is another chunk.
    const int64_t end = int64_t{wav->data.dwDataOffset} + wav->data.cksize;
    const int64_t pos = MmIo::mmioSeek(wav->file, 0, SEEK_CUR);
    if (pos < 0) ErrSet(Errors::kErrWavSeek, __LINE__);
    // One second of source, at most 16 MiB, at least one block.
    int64_t want = std::min<int64_t>(
        {std::max<int64_t>(src.avgBytesPerSec, src.blockAlign), int64_t{1} << 24,
         std::max<int64_t>(0, end - pos)});
    want -= want % src.blockAlign;
    // MPEG audio frames vary in length around the block size, so its data
    // seldom ends on a whole block: what follows the last one is a frame
    // too, read with it.
    const bool frameStream =
        src.formatTag == Acm::kTagMpeg || src.formatTag == Acm::kTagMpegLayer3;
    if (frameStream && end - pos - want < src.blockAlign) want = std::max<int64_t>(0, end - pos);
    if (want <= 0) return;  // the data is all read
    Basic::MemAlloc(block, want, __LINE__, Basic::kMemPlain, "FF_WAV.WAVLoad_.block");
    const int32_t got = MmIo::mmioRead(wav->file, block, static_cast<int32_t>(want));
    if (got < 1) ErrSet(Errors::kErrWavRead, __LINE__);
    frames = got / src.blockAlign;
    bytes = frameStream ? got : frames * src.blockAlign;
  });
}

void WAVLoad(WavFileRec* wav, SndBasic::SndRec* sound, int32_t start, int32_t flags,
             int32_t count) {
  Errors::Monitored("FF_WAV.WAVLoad", [&] {
    if (!((flags & 1) && start == wav->load.samplePos)) WAVSeek(wav, start);
    sound->frames = 0;
    if (wav->writeMode || wav->file == nullptr) return;
    if (wav->load.consumed >= wav->load.filled && wav->load.ended) return;
    OpenConverter_(wav);
    SndBasic::SndLoad(wav->load, wav->conv, WAVLoad_, wav, count, *sound);
    wav->load.samplePos += sound->frames;
  });
}

void WAVCreate(WavFileRec* wav, const std::string& fileName) {
  Errors::Monitored("FF_WAV.WAVCreate", [&] {
    FreeAll_(wav);
    if (Basic::FileExists(fileName)) Basic::FDelete(fileName);
    wav->file = MmIo::mmioOpenA(fileName.c_str(), MmIo::MMIO_CREATE | MmIo::MMIO_WRITE);
    if (wav->file == nullptr) ErrSet(Errors::kErrWavCreate, __LINE__);
    wav->writeMode = true;
  });
}

void WAVSave(WavFileRec* wav, SndBasic::SndRec* sound) {
  Errors::Monitored("FF_WAV.WAVSave", [&] {
    if (!wav->writeMode || wav->file == nullptr) return;
    if (!wav->formatWritten) {
      wav->written = sound->format;
      wav->formatWritten = true;
      if (MmIo::mmioSeek(wav->file, kHeaderSize, SEEK_SET) != kHeaderSize)
        ErrSet(Errors::kErrWavSeek, __LINE__);
    } else if (SndBasic::WaveFormatDiffers(wav->written, sound->format)) {
      // Samples of another format would be read as the first block's.
      ErrSet(Errors::kErrWavWrite, __LINE__);
    }
    if (sound->frames <= 0) return;
    const int64_t n = int64_t{sound->frames} * sound->format.blockAlign;
    if (n > sound->allocated || sound->data == nullptr) ErrSet(Errors::kErrWavWrite, __LINE__);
    // The RIFF sizes are 32-bit: more data would wrap them.
    if (wav->bytesWritten + n > kMaxDataBytes) ErrSet(Errors::kErrWavWrite, __LINE__);
    if (MmIo::mmioWrite(wav->file, sound->data, static_cast<int32_t>(n)) != n)
      ErrSet(Errors::kErrWavWrite, __LINE__);
    wav->framesWritten += sound->frames;
    wav->bytesWritten += n;
  });
}

void WAVClose(WavFileRec* wav) {
  Errors::Monitored("FF_WAV.WAVClose", [&] {
    Errors::MonSetCleanup([wav] { FreeAll_(wav); });
    auto mm = [](uint32_t r, int32_t line) {
      if (r != 0) ErrSet(Errors::kClsMmSystem, static_cast<int32_t>(r), line);
    };
    if (wav->writeMode && wav->file != nullptr) {
      if (MmIo::mmioSeek(wav->file, 0, SEEK_SET) != 0) ErrSet(Errors::kErrWavSeek, __LINE__);
      MMCKINFO riff;
      riff.fccType = kWave;
      mm(MmIo::mmioCreateChunk(wav->file, &riff, MmIo::MMIO_CREATERIFF), __LINE__);
      MMCKINFO fmt;
      fmt.ckid = kFmt;
      fmt.cksize = Acm::kWaveFormatSize;
      mm(MmIo::mmioCreateChunk(wav->file, &fmt, 0), __LINE__);
      // The chunk holds the 18-byte header only, so it announces no extra
      // bytes.
      WaveFormatEx head = wav->written;
      head.extraSize = 0;
      uint8_t bytes[Acm::kWaveFormatSize];
      Acm::WaveFormatWrite(head, bytes);
      if (!wav->formatWritten) std::memset(bytes, 0, sizeof bytes);
      if (MmIo::mmioWrite(wav->file, bytes, Acm::kWaveFormatSize) != Acm::kWaveFormatSize)
        ErrSet(Errors::kErrWavWrite, __LINE__);
      mm(MmIo::mmioAscend(wav->file, &fmt, 0), __LINE__);
      MMCKINFO data;
      data.ckid = kData;
      data.cksize = static_cast<uint32_t>(wav->bytesWritten);
      mm(MmIo::mmioCreateChunk(wav->file, &data, 0), __LINE__);
      if (MmIo::mmioSeek(wav->file, wav->bytesWritten, SEEK_CUR) < 0)
        ErrSet(Errors::kErrWavSeek, __LINE__);
      mm(MmIo::mmioAscend(wav->file, &data, 0), __LINE__);
      mm(MmIo::mmioAscend(wav->file, &riff, 0), __LINE__);
      mm(MmIo::mmioFlush(wav->file, 0), __LINE__);
      const uint32_t r = MmIo::mmioClose(wav->file, 0);
      wav->file = nullptr;
      mm(r, __LINE__);
    }
    FreeAll_(wav);
  });
}

void WAVInfo(const std::string& fileName, ConForm::FFInfoRec* info) {
  // The handle outlives the frame: its clean-up runs after the body is left.
  WavFileRec wav;
  Errors::Monitored("FF_WAV.WAVInfo", [&] {
    Errors::MonSetCleanup([&wav] { FreeAll_(&wav); });
    info->fileSize = Basic::FSize64(fileName);
    WAVOpen(&wav, fileName);
    ConForm::SoundInfo& s = info->sound;
    s.ownWave = SourceHeader_(&wav);
    s.ownWave.formatTag = wav.fileTag;
    s.wave = wav.load.dstFormat;
    s.hasSound = wav.load.blockCount > 0;
    s.sampleFrames = wav.load.pcmTotal;
    s.audioCompression = AudioTagName(SourceHeader_(&wav).formatTag);
    s.soundReadable = wav.readable;
    const bool cut = wav.cut;
    WAVClose(&wav);
    if (cut) WarnCut_();
  });
}

}  // namespace FF_WAV
