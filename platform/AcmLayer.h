// Audio format conversion streams in the shape the sound units call them:
// open a stream between two wave formats, ask how many bytes a conversion
// may write, prepare a header, convert with start / end / block-align flags,
// unprepare and close. PCM width and channel steps are done here exactly;
// rate changes go through libswresample and the compressed wave formats
// through libavcodec. A stream keeps its resampler, codec and partial-block
// state from one conversion to the next and flushes it on the call that
// carries the end flag.
//
// Wave formats cross this interface as their little-endian byte image (the
// 18-byte header followed by its extra bytes) together with the size the
// caller really holds; extra bytes beyond that size are never read.
#pragma once

#include <cstdint>
#include <vector>

namespace Acm {

using MMRESULT = uint32_t;

// Results.
constexpr MMRESULT kOk = 0;
constexpr MMRESULT kErrUnspecified = 1;
constexpr MMRESULT kErrInvalidHandle = 5;
constexpr MMRESULT kErrNoMemory = 7;
constexpr MMRESULT kErrInvalidFlag = 10;
constexpr MMRESULT kErrInvalidParam = 11;
constexpr MMRESULT kErrNotPossible = 512;
constexpr MMRESULT kErrUnprepared = 514;

// acmStreamOpen flags.
constexpr uint32_t kOpenQuery = 0x1;
constexpr uint32_t kOpenNonRealtime = 0x4;
// acmStreamConvert flags.
constexpr uint32_t kConvertBlockAlign = 0x4;
constexpr uint32_t kConvertStart = 0x10;
constexpr uint32_t kConvertEnd = 0x20;
// acmStreamSize flag: the size asked is the output for a source size.
constexpr uint32_t kSizeSource = 0x0;
// acmFormatSuggest flags: which fields of the destination are requested.
constexpr uint32_t kSuggestTag = 0x10000;
constexpr uint32_t kSuggestChannels = 0x20000;
constexpr uint32_t kSuggestRate = 0x40000;
constexpr uint32_t kSuggestBits = 0x80000;
// Stream header status bits.
constexpr uint32_t kStatusDone = 0x10000;
constexpr uint32_t kStatusPrepared = 0x20000;

// The stream header size the callers announce.
constexpr uint32_t kStreamHeaderSize = 84;

// Wave format tags this layer knows.
constexpr uint16_t kTagPcm = 0x0001;
constexpr uint16_t kTagMsAdpcm = 0x0002;
constexpr uint16_t kTagIeeeFloat = 0x0003;
constexpr uint16_t kTagALaw = 0x0006;
constexpr uint16_t kTagMuLaw = 0x0007;
constexpr uint16_t kTagImaAdpcm = 0x0011;
constexpr uint16_t kTagYamahaAdpcm = 0x0020;
constexpr uint16_t kTagGsm610 = 0x0031;
constexpr uint16_t kTagG726Adpcm = 0x0064;
constexpr uint16_t kTagMpeg = 0x0050;
constexpr uint16_t kTagMpegLayer3 = 0x0055;
constexpr uint16_t kTagWma1 = 0x0160;
constexpr uint16_t kTagWma2 = 0x0161;

// The 18-byte wave format header.
constexpr int32_t kWaveFormatSize = 18;
struct WaveFormatEx {
  uint16_t formatTag = 0;
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  uint16_t extraSize = 0;
};

// Writes the header's 18 bytes, little-endian.
void WaveFormatWrite(const WaveFormatEx& format, uint8_t* out);
// Reads the header from size bytes; false when fewer than 18 are given.
bool WaveFormatRead(const uint8_t* in, int64_t size, WaveFormatEx& format);
// The header's byte image as a vector (18 bytes).
std::vector<uint8_t> WaveFormatBytes(const WaveFormatEx& format);

// One conversion request.
struct AcmStreamHeader {
  uint32_t size = 0;  // kStreamHeaderSize
  uint32_t status = 0;
  uint8_t* src = nullptr;
  uint32_t srcLength = 0;
  uint32_t srcLengthUsed = 0;
  uint8_t* dst = nullptr;
  uint32_t dstLength = 0;
  uint32_t dstLengthUsed = 0;
};

struct AcmStream;
using HACMSTREAM = AcmStream*;

// driver, filter, callback and instance must be null / 0. With kOpenQuery the
// formats are only checked and no stream is made (stream may be null).
MMRESULT acmStreamOpen(HACMSTREAM* stream, void* driver, const uint8_t* src,
                       int64_t srcSize, const uint8_t* dst, int64_t dstSize,
                       const void* filter, uintptr_t callback,
                       uintptr_t instance, uint32_t flags);
// The most bytes a conversion of input source bytes can write, taking what
// the stream holds from earlier calls into account.
MMRESULT acmStreamSize(HACMSTREAM stream, uint32_t input, uint32_t* output,
                       uint32_t flags);
MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, AcmStreamHeader* header,
                                uint32_t flags);
// Consumes the whole source. Converted bytes that do not fit the destination
// stay in the stream and come first on the next call; on a call with the end
// flag that is an error (kErrNotPossible), since nothing follows to take them.
MMRESULT acmStreamConvert(HACMSTREAM stream, AcmStreamHeader* header,
                          uint32_t flags);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, AcmStreamHeader* header,
                                  uint32_t flags);
MMRESULT acmStreamClose(HACMSTREAM stream, uint32_t flags);

// Proposes a destination format for the source. The destination block holds
// the requested fields on entry (the tag for kSuggestTag, and so on) and the
// proposal on return; dstSize is its capacity (18 bytes plus the extra bytes
// the proposal carries).
MMRESULT acmFormatSuggest(void* driver, const uint8_t* src, int64_t srcSize,
                          uint8_t* dst, int64_t dstSize, uint32_t flags);

// Counts the sample frames that MPEG audio data decodes to, from the data
// given in pieces in stream order: the frames the parser of a conversion
// stream finds, each with its own sample count. acmStreamSize only bounds
// the output, which is right for buffers but not for a stream's length.
class MpegAudioCounter {
 public:
  explicit MpegAudioCounter(uint16_t formatTag);
  ~MpegAudioCounter();
  MpegAudioCounter(const MpegAudioCounter&) = delete;
  MpegAudioCounter& operator=(const MpegAudioCounter&) = delete;
  // False when the tag is no MPEG audio or the parser cannot be made.
  bool Usable() const;
  void Add(const uint8_t* data, int64_t size);
  // The sample frames of everything added (the parser gives out what it
  // still holds first).
  int64_t Finish();

 private:
  struct Parser;
  Parser* p_ = nullptr;
};

}  // namespace Acm
