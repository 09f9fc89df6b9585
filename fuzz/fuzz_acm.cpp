// The audio conversion layer decoding a wave format a file declares: the
// input is a 16-bit little-endian length, that many bytes of wave format
// (header and extra bytes), then the coded sound. The stream to PCM is
// opened as the sound unit opens it and fed in pieces of varying size, the
// last one with the end flag.
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/AcmLayer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  FuzzSupport::StartLibraryOnce();
  FuzzSupport::LeakCheck leaks;
  const size_t fmtSize = std::min<size_t>(data[0] | (data[1] << 8), size - 2);
  const uint8_t* fmt = data + 2;
  const uint8_t* sound = fmt + fmtSize;
  const size_t soundSize = size - 2 - fmtSize;

  Acm::WaveFormatEx pcm;
  pcm.formatTag = Acm::kTagPcm;
  std::vector<uint8_t> dst = Acm::WaveFormatBytes(pcm);
  if (Acm::acmFormatSuggest(nullptr, fmt, static_cast<int64_t>(fmtSize), dst.data(),
                            Acm::kWaveFormatSize, Acm::kSuggestTag) != Acm::kOk)
    return 0;
  Acm::HACMSTREAM stream = nullptr;
  if (Acm::acmStreamOpen(&stream, nullptr, fmt, static_cast<int64_t>(fmtSize), dst.data(),
                         Acm::kWaveFormatSize, nullptr, 0, 0, Acm::kOpenNonRealtime) != Acm::kOk)
    return 0;
  uint32_t flags = Acm::kConvertStart | Acm::kConvertBlockAlign;
  size_t at = 0;
  std::vector<uint8_t> out;
  for (int piece = 0;; piece++) {
    const size_t len = std::min<size_t>(soundSize - at, 61 + piece * 977);
    const bool last = at + len >= soundSize;
    uint32_t want = 0;
    if (Acm::acmStreamSize(stream, static_cast<uint32_t>(len), &want, Acm::kSizeSource) !=
            Acm::kOk ||
        want > (64u << 20))
      break;
    out.assign(want + 1, 0);
    Acm::AcmStreamHeader header;
    header.size = Acm::kStreamHeaderSize;
    header.src = const_cast<uint8_t*>(sound + at);
    header.srcLength = static_cast<uint32_t>(len);
    header.dst = out.data();
    header.dstLength = want;
    if (Acm::acmStreamPrepareHeader(stream, &header, 0) != Acm::kOk) break;
    const Acm::MMRESULT r =
        Acm::acmStreamConvert(stream, &header, flags | (last ? Acm::kConvertEnd : 0));
    Acm::acmStreamUnprepareHeader(stream, &header, 0);
    if (r != Acm::kOk) break;
    if (header.dstLengthUsed > want || header.srcLengthUsed > len) std::abort();
    flags = Acm::kConvertBlockAlign;
    at += len;
    if (last) break;
  }
  Acm::acmStreamClose(stream, 0);
  return 0;
}
