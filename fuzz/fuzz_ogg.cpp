// The Ogg Vorbis layer's reader: open, the sound's and each stream's format
// and length, a read of the whole sound in blocks of several word sizes,
// seeks to the middle and past the end, and a read after each.
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/Sorrel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzSupport::StartLibraryOnce();
  const std::string name = FuzzSupport::InputFile(data, size, ".ogg");
  FuzzSupport::LeakCheck leaks;
  alignas(16) static char state[Sorrel::kDecoderStateSize];
  Sorrel::OvFileSlot slot = nullptr;
  if (Sorrel::ov_open_2(&slot, name.c_str(), state, nullptr, 0) != 0) return 0;
  for (int32_t link = -1; link < 4; link++) {
    Sorrel::ov_info(state, link);
    Sorrel::ov_pcm_total(state, link);
  }
  const int64_t total = Sorrel::ov_pcm_total(state, -1);
  std::vector<char> buf(8192);
  int32_t stream = 0;
  int64_t delivered = 0;
  for (int i = 0; i < 4096 && delivered < (int64_t{16} << 20); i++) {
    const int32_t n = Sorrel::ov_read(state, buf.data(), static_cast<int32_t>(buf.size()), i & 1,
                                      (i & 2) ? 1 : 2, (i & 4) ? 0 : 1, &stream);
    if (n <= 0) break;
    delivered += n;
  }
  for (int64_t at : {total / 2, total, total + 1, int64_t{-1}}) {
    if (Sorrel::ov_pcm_seek(state, at) == 0 || at < 0)
      Sorrel::ov_read(state, buf.data(), 4096, 0, 2, 1, &stream);
  }
  Sorrel::ov_clear_2(&slot, state);
  return 0;
}
