// The wave format record's byte image: pure byte work that the WAV and AVI
// readers need without the audio conversion back end.
#include "platform/AcmLayer.h"
#include "platform/Gdi.h"

namespace Acm {

// ---- wave format byte image -------------------------------------------------

void WaveFormatWrite(const WaveFormatEx& f, uint8_t* out) {
  Gdi::WriteWord(out + 0, f.formatTag);
  Gdi::WriteWord(out + 2, f.channels);
  Gdi::WriteDword(out + 4, f.samplesPerSec);
  Gdi::WriteDword(out + 8, f.avgBytesPerSec);
  Gdi::WriteWord(out + 12, f.blockAlign);
  Gdi::WriteWord(out + 14, f.bitsPerSample);
  Gdi::WriteWord(out + 16, f.extraSize);
}

bool WaveFormatRead(const uint8_t* in, int64_t size, WaveFormatEx& f) {
  if (in == nullptr || size < kWaveFormatSize) return false;
  f.formatTag = Gdi::ReadWord(in + 0);
  f.channels = Gdi::ReadWord(in + 2);
  f.samplesPerSec = Gdi::ReadDword(in + 4);
  f.avgBytesPerSec = Gdi::ReadDword(in + 8);
  f.blockAlign = Gdi::ReadWord(in + 12);
  f.bitsPerSample = Gdi::ReadWord(in + 14);
  f.extraSize = Gdi::ReadWord(in + 16);
  return true;
}

std::vector<uint8_t> WaveFormatBytes(const WaveFormatEx& format) {
  std::vector<uint8_t> bytes(kWaveFormatSize);
  WaveFormatWrite(format, bytes.data());
  return bytes;
}

}  // namespace Acm
