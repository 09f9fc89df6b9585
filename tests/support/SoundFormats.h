// Wave format headers the sound tests build by hand.
#pragma once

#include <cstdint>

#include "platform/AcmLayer.h"

namespace TestSound {

inline Acm::WaveFormatEx Format(uint16_t tag, uint16_t channels, uint32_t rate,
                                uint32_t avgBytes, uint16_t blockAlign,
                                uint16_t bits, uint16_t extraSize = 0) {
  Acm::WaveFormatEx f;
  f.formatTag = tag;
  f.channels = channels;
  f.samplesPerSec = rate;
  f.avgBytesPerSec = avgBytes;
  f.blockAlign = blockAlign;
  f.bitsPerSample = bits;
  f.extraSize = extraSize;
  return f;
}

// A tag no codec knows.
inline Acm::WaveFormatEx Unknown() { return Format(0x7777, 1, 8000, 4000, 4, 4); }

}  // namespace TestSound
