// RIFF chunk access as the WAV and AVI readers use it: every chunk of the
// file is visited, RIFF and LIST chunks are entered, and a little of each
// data chunk is read, then the walk ascends again.
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/MmIo.h"

namespace {

int budget = 0;

void Walk(MmIo::HMMIO h, const MmIo::MMCKINFO* parent, int depth) {
  for (;;) {
    if (--budget < 0) return;
    MmIo::MMCKINFO ck;
    if (MmIo::mmioDescend(h, &ck, parent, 0) != 0) return;
    if ((ck.ckid == MmIo::FOURCC_RIFF || ck.ckid == MmIo::FOURCC_LIST) && depth < 8) {
      Walk(h, &ck, depth + 1);
    } else {
      uint8_t buf[64];
      const int32_t n = static_cast<int32_t>(std::min<uint32_t>(ck.cksize, sizeof buf));
      MmIo::mmioRead(h, buf, n);
    }
    if (MmIo::mmioAscend(h, &ck, 0) != 0) return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzSupport::StartLibraryOnce();
  const std::string name = FuzzSupport::InputFile(data, size, ".riff");
  FuzzSupport::LeakCheck leaks;
  MmIo::HMMIO h = MmIo::mmioOpenA(name.c_str(), MmIo::MMIO_READ);
  if (!h) return 0;
  // The readers' first steps: the form by type, then its format and data
  // chunks by id.
  MmIo::MMCKINFO riff;
  riff.fccType = MmIo::mmioFOURCC('W', 'A', 'V', 'E');
  if (MmIo::mmioDescend(h, &riff, nullptr, MmIo::MMIO_FINDRIFF) == 0) {
    MmIo::MMCKINFO fmt;
    fmt.ckid = MmIo::mmioFOURCC('f', 'm', 't', ' ');
    if (MmIo::mmioDescend(h, &fmt, &riff, MmIo::MMIO_FINDCHUNK) == 0) {
      uint8_t head[18];
      MmIo::mmioRead(h, head, static_cast<int32_t>(std::min<uint32_t>(fmt.cksize, 18)));
      MmIo::mmioAscend(h, &fmt, 0);
    }
    MmIo::MMCKINFO dat;
    dat.ckid = MmIo::mmioFOURCC('d', 'a', 't', 'a');
    MmIo::mmioDescend(h, &dat, &riff, MmIo::MMIO_FINDCHUNK);
  }
  MmIo::mmioSeek(h, 0, SEEK_SET);
  budget = 4096;
  Walk(h, nullptr, 0);
  MmIo::mmioClose(h, 0);
  return 0;
}
