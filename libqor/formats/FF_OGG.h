// Ogg Vorbis sound: decoded to 16-bit PCM and encoded from it at the
// process-wide quality.
#pragma once

#include <cstdint>
#include <string>

#include "formats/ConForm.h"
#include "media/SndBasic.h"
#include "platform/Sorrel.h"

namespace FF_OGG {

struct OggFileRec {
  void* vf = nullptr;  // decoder state (tracked block)
  Sorrel::OvFileSlot file = nullptr;
  Sorrel::OvEncoder* encoder = nullptr;
  int64_t total = 0;     // sample frames
  int64_t position = 0;  // sample frames
  int32_t bitstream = 0;
  bool writeMode = false;
  bool encoderCreated = false;
  bool seekRefused = false;  // the decoder stands at an unknown place
  SndBasic::WaveFormatEx format{};
  std::string fileName;
};

void OggOpen(OggFileRec* ogg, const std::string& fileName);
void OggSeek(OggFileRec* ogg, int32_t sample);
void OggLoad(OggFileRec* ogg, SndBasic::SndRec* sound, int32_t start,
             int32_t flags, int32_t count);
void OggCreate(OggFileRec* ogg, const std::string& fileName);
void OggSave(OggFileRec* ogg, SndBasic::SndRec* sound);
void OggClose(OggFileRec* ogg);
void OggInfo(const std::string& fileName, ConForm::FFInfoRec* info);

// Encoding quality 0..10; K_AUTO returns the current one.
int32_t OggQuality(int32_t value);
// The format a sound takes for the encoder: 16 bits, rate within
// 8000..48000, channels kept. Derived fields are the caller's.
void OggSndFormat(const SndBasic::WaveFormatEx& source,
                  SndBasic::WaveFormatEx* format);

}  // namespace FF_OGG
