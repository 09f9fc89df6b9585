#include "formats/FF_OGG.h"

#include <algorithm>
#include <limits>

#include "formats/FFBasic.h"
#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"

namespace FF_OGG {
namespace {

using Errors::ErrSet;

// Quality of new files, 0.0..1.0.
double quality = 0.4;

void FreeAll_(OggFileRec* ogg) {
  if (ogg->encoder != nullptr) Sorrel::ov_close(ogg->encoder);
  if (ogg->vf != nullptr) {
    if (ogg->file != nullptr) Sorrel::ov_clear_2(&ogg->file, ogg->vf);
    Basic::MemFree(ogg->vf);
  }
  *ogg = OggFileRec{};
}

bool Seek_(OggFileRec* ogg, int64_t sample) {
  if (ogg->vf == nullptr || Sorrel::ov_pcm_seek(ogg->vf, sample) < 0) {
    ogg->seekRefused = true;
    return false;
  }
  ogg->seekRefused = false;
  ogg->position = sample;
  return true;
}

}  // namespace

void OggOpen(OggFileRec* ogg, const std::string& fileName) {
  Errors::Monitored("FF_OGG.OggOpen", [&] {
    FreeAll_(ogg);
    Errors::MonSetCleanup([ogg] { FreeAll_(ogg); });
    Basic::MemAlloc(ogg->vf, Sorrel::kDecoderStateSize, __LINE__, Basic::kMemPlain,
                    "FF_OGG.OggOpen.oggF.vf");
    if (Sorrel::ov_open_2(&ogg->file, fileName.c_str(), ogg->vf, nullptr, 0) < 0) {
      ogg->file = nullptr;
      ErrSet(Errors::kErrMovieOpen, __LINE__);
    }
    const Sorrel::OvInfo* vi = Sorrel::ov_info(ogg->vf, -1);
    if (vi == nullptr) ErrSet(Errors::kErrMovieOpen, __LINE__);
    SndBasic::WaveFormatSetPCM(ogg->format, vi->rate, vi->channels, 16);
    ogg->total = std::max<int64_t>(0, Sorrel::ov_pcm_total(ogg->vf, -1));
    ogg->fileName = fileName;
  });
}

void OggSeek(OggFileRec* ogg, int32_t sample) {
  Errors::Monitored("FF_OGG.OggSeek", [&] { Seek_(ogg, sample); });
}

void OggLoad(OggFileRec* ogg, SndBasic::SndRec* sound, int32_t start, int32_t flags,
             int32_t count) {
  Errors::Monitored("FF_OGG.OggLoad", [&] {
    sound->frames = 0;
    sound->format = ogg->format;
    // After a refused seek the decoder's place is unknown: only a seek that
    // succeeds makes samples deliverable again.
    if (ogg->seekRefused || !((flags & 1) && start == ogg->position))
      if (!Seek_(ogg, start)) return;
    if (ogg->writeMode || ogg->vf == nullptr || count < 1) return;
    const int64_t align = ogg->format.blockAlign;
    if (align < 1) ErrSet(Errors::kErrAudioFormat, __LINE__);
    SndBasic::_sndalloc_(*sound, count * align, __LINE__, "FF_OGG.OggLoad.sound");
    sound->format = ogg->format;
    int64_t delivered = 0;
    while (delivered < count) {
      const int64_t free = (count - delivered) * align;
      const int32_t got = Sorrel::ov_read(
          ogg->vf, reinterpret_cast<char*>(sound->data + delivered * align),
          static_cast<int32_t>(std::min<int64_t>(free, std::numeric_limits<int32_t>::max())),
          0, 2, 1, &ogg->bitstream);
      if (got <= 0) break;
      delivered += got / align;
      ogg->position += got / align;
    }
    sound->frames = static_cast<int32_t>(delivered);
  });
}

void OggCreate(OggFileRec* ogg, const std::string& fileName) {
  Errors::Monitored("FF_OGG.OggCreate", [&] {
    FreeAll_(ogg);
    ogg->writeMode = true;
    ogg->fileName = fileName;
  });
}

void OggSave(OggFileRec* ogg, SndBasic::SndRec* sound) {
  Errors::Monitored("FF_OGG.OggSave", [&] {
    if (!ogg->writeMode) return;
    const SndBasic::WaveFormatEx& f = sound->format;
    if (!FFBasic::FFPcm16BlockFits(*sound, ogg->encoderCreated, ogg->format))
      ErrSet(Errors::kErrMovieWrite, __LINE__);
    if (!ogg->encoderCreated) {
      if (Basic::FileExists(ogg->fileName)) Basic::FDelete(ogg->fileName);
      if (Sorrel::ov_create(&ogg->encoder, ogg->fileName.c_str(),
                            static_cast<int32_t>(f.samplesPerSec), f.channels, quality) == 0) {
        ogg->encoder = nullptr;
        ErrSet(Errors::kErrMovieCreate, __LINE__);
      }
      ogg->encoderCreated = true;
      ogg->format = f;
    }
    if (sound->frames <= 0) return;
    const int64_t bytes = int64_t{sound->frames} * f.blockAlign;
    if (Sorrel::ov_write(ogg->encoder, reinterpret_cast<const int16_t*>(sound->data),
                         static_cast<int32_t>(bytes)) == 0)
      ErrSet(Errors::kErrMovieWrite, __LINE__);
    ogg->position += sound->frames;
  });
}

void OggClose(OggFileRec* ogg) {
  Errors::Monitored("FF_OGG.OggClose", [&] {
    Errors::MonSetCleanup([ogg] { FreeAll_(ogg); });
    if (ogg->encoder != nullptr) {
      Sorrel::OvEncoder* encoder = ogg->encoder;
      ogg->encoder = nullptr;
      // A stream that could not be finished is no good file.
      if (Sorrel::ov_close(encoder) == 0) ErrSet(Errors::kErrMovieWrite, __LINE__);
    }
    FreeAll_(ogg);
  });
}

void OggInfo(const std::string& fileName, ConForm::FFInfoRec* info) {
  // The handle outlives the frame: its clean-up runs after the body is left.
  OggFileRec ogg;
  Errors::Monitored("FF_OGG.OggInfo", [&] {
    Errors::MonSetCleanup([&ogg] { FreeAll_(&ogg); });
    info->fileSize = Basic::FSize64(fileName);
    OggOpen(&ogg, fileName);
    ConForm::SoundInfo& s = info->sound;
    s.ownWave = s.wave = ogg.format;
    s.hasSound = ogg.total > 0;
    s.sampleFrames = static_cast<int32_t>(
        std::min<int64_t>(ogg.total, std::numeric_limits<int32_t>::max()));
    s.audioCompression = "Ogg Vorbis audio codec";
    s.soundReadable = s.hasSound;
    OggClose(&ogg);
  });
}

int32_t OggQuality(int32_t value) {
  Errors::TraceScope t("FF_OGG.OggQuality");
  if (value == Basic::K_AUTO) return static_cast<int32_t>(quality * 10.0 + 1e-9);
  value = std::clamp(value, 0, 10);
  quality = value * 0.1;
  return value;
}

void OggSndFormat(const SndBasic::WaveFormatEx& source, SndBasic::WaveFormatEx* format) {
  Errors::TraceScope t("FF_OGG.OggSndFormat");
  *format = source;
  format->formatTag = Acm::kTagPcm;
  format->bitsPerSample = 16;
  format->samplesPerSec = std::clamp<uint32_t>(source.samplesPerSec, 8000, 48000);
  format->extraSize = 0;
  // Block alignment and byte rate follow the new width and rate, or the
  // writer refuses the blocks made in this format.
  SndBasic::WaveFormatValidate(*format);
}

}  // namespace FF_OGG
