// The MPEG layer's readers: the stream type, the video scan and frame reads
// with seeks, and the audio scan, reads and seeks.
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/Pavane.h"

namespace {
void Drop(const char*) {}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzSupport::StartLibraryOnce();
  Pavane::PavaneErrorFuncSet(Drop);
  const std::string name = FuzzSupport::InputFile(data, size, ".mpg");
  FuzzSupport::LeakCheck leaks;
  Pavane::mpg_get_type(name.c_str());
  int32_t w = 0, h = 0, frames = 0, code = 0, rate = 0, mpeg2 = 0, audio = 0;
  if (Pavane::GetMPEGInfo(name.c_str(), &w, &h, &frames, &code, &rate, &mpeg2, &audio, nullptr,
                          nullptr)) {
    Pavane::MpegReader* r = nullptr;
    if (w > 0 && h > 0 && int64_t{w} * h <= 4096 * 4096 &&
        Pavane::OpenMPEG(&r, name.c_str(), 0, nullptr, nullptr)) {
      std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 3);
      for (int i = 0; i < std::min(frames, 8); i++) Pavane::GetMPEGFrame(r, pixels.data());
      for (int32_t at : {frames - 1, frames / 2, frames, -1, 0}) {
        Pavane::SeekMPEG(r, at);
        Pavane::GetMPEGFrame(r, pixels.data());
      }
      Pavane::CloseMPEG(r);
    }
  }
  Pavane::MpgAudioInfo ai;
  if (Pavane::mpg_audio_info(name.c_str(), &ai, nullptr, nullptr)) {
    if (Pavane::MpgAudioReader* r = Pavane::mpg_audio_open(name.c_str(), nullptr, nullptr)) {
      std::vector<int16_t> pcm(4096 * 8);
      for (int i = 0; i < 64; i++)
        if (Pavane::mpg_audio_read(r, pcm.data(), 4096) <= 0) break;
      for (int32_t at : {ai.frames / 2, ai.frames, ai.frames + 1, -1}) {
        Pavane::mpg_audio_seek(r, at);
        Pavane::mpg_audio_read(r, pcm.data(), 1024);
      }
      Pavane::mpg_audio_close(r);
    }
  }
  return 0;
}
