// The sound exports: sound records held by the host as handles, read from
// and appended to frame-access files, copied, resampled, and moved in and
// out as raw samples.
#include <algorithm>
#include <cstring>

#include "engine/Common.h"
#include "engine/QorMain.h"
#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"
#include "media/SndBasic.h"

using Common::LogValue;
using SndBasic::SndRec;

namespace {

// The host's sound, checked before anything reads it.
SndRec* Sound(QorHandle handle, const char* name) {
  return Common::SndOf(handle, name);
}

void LogSnd(const char* name, QorHandle handle) {
  LogValue(name, Common::SndToStrLog(handle));
}

void LogInt(const char* name, int32_t value) {
  LogValue(name, Common::IntToStrAuto(value));
}

// Bytes of the frames in use, never more than the block holds.
int64_t BytesInUse(const SndRec& sound) {
  const int64_t bytes = int64_t{sound.frames} * sound.format.blockAlign;
  return std::clamp<int64_t>(bytes, 0, sound.allocated);
}

// Sizes come from the host: they are checked before anything is allocated,
// and the block is computed in 64 bits.
void SndSetSamples_(SndRec* sound, int32_t frames, int32_t rate,
                    int32_t channels, int32_t bits, const void* samples) {
  Errors::Monitored("QorMain.SndSetSamples_", [&] {
    if (frames < 1) Errors::ErrSet(Errors::kErrOutOfRange, __LINE__);
    SndBasic::WaveFormatEx format{};
    SndBasic::WaveFormatSetPCM(format, rate, channels, bits);
    // Only whole-byte samples: the block size and the block alignment must
    // agree on the bytes of a frame.
    if (bits % 8 != 0 || !SndBasic::WaveFormatValidate(format))
      Errors::ErrSet(Errors::kErrAudioFormat, __LINE__);
    const int64_t bytes = int64_t{frames} * format.blockAlign;
    SndBasic::_sndalloc_(*sound, bytes, __LINE__,
                         "QorMain.QorSndSetSamples.sndP^");
    sound->format = format;
    sound->frames = frames;
    std::memcpy(sound->data, samples, static_cast<size_t>(bytes));
  });
}

// Status exports report their call status after the frame has set it.
int32_t CallStatus() {
  const int32_t status = Common::LastError().code;
  LogInt("result", status);
  return status;
}

// The temporary copy is freed by the frame when the conversion fails.
void SndResample_(SndRec* sound, const SndBasic::WaveFormatEx& format) {
  Errors::Monitored("QorMain.SndResample_", [&] {
    SndRec copy;
    SndBasic::SndMove(*sound, copy, 0, sound->frames);
    SndBasic::SndConvert(copy, *sound, format);
    SndBasic::SndFree(copy);
  });
}

void SndSave_(SndRec* sound, QorMain::QorFile* file) {
  Errors::Monitored("QorMain.SndSave_", [&] {
    QorMain::_QorFileCheckCreate(file);
    if (!SndBasic::WaveFormatDiffers(sound->format, file->wave)) {
      ConForm::UniSndSave(&file->output, *sound);
      return;
    }
    SndRec converted;
    SndBasic::SndConvert(*sound, converted, file->wave);
    ConForm::UniSndSave(&file->output, converted);
    SndBasic::SndFree(converted);
  });
}

}  // namespace

QOR_API QorHandle QOR_CALL QorSndAlloc(void) {
  return Common::ExportFrame<QorHandle>(
      "QorMain.QorSndAlloc", nullptr, []() -> QorHandle {
        SndRec* sound = nullptr;
        Basic::MemAlloc(sound, sizeof(SndRec), __LINE__, Basic::kMemNew,
                        Common::kSndLabel);
        // Refused (table full, no memory): nil, the failure pending.
        if (!sound) return nullptr;
        SndBasic::SndClear(*sound);
        LogValue("result", Common::PtrToStrLog(sound));
        return sound;
      });
}

QOR_API void QOR_CALL QorSndFree(QorHandle mSnd) {
  Common::ExportFrameVoid("QorMain.QorSndFree", [&] {
    LogSnd("mSnd", mSnd);
    if (!mSnd) return;
    // A freed, foreign or lent sound is refused before anything is freed.
    SndRec* sound = Common::OwnSndOf(mSnd, "mSnd");
    SndBasic::SndFree(*sound);
    Basic::MemFree(sound);
  });
}

QOR_API int32_t QOR_CALL QorSndLoad(QorHandle mSnd, QorHandle mFile,
                                    int32_t startSample, int32_t numSamples) {
  Common::ExportFrameVoid("QorMain.QorSndLoad", [&] {
    LogSnd("mSnd", mSnd);
    LogValue("mFile", Common::PtrToStrLog(mFile));
    LogInt("startSample", startSample);
    LogInt("numSamples", numSamples);
    if (!mFile) Common::LogLine("  ERROR: file not open");
    if (!mSnd) Common::LogLine("  ERROR: sound handle not allocated");
    if (!mFile || !mSnd) return;
    SndRec* sound = Sound(mSnd, "mSnd");
    QorMain::QorFile* file = QorMain::_QorFileOf(mFile);
    // Flags 0: the reader seeks to startSample before reading.
    ConForm::UniSndLoad(&file->source, sound, startSample, numSamples, 0);
  });
  return CallStatus();
}

QOR_API int32_t QOR_CALL QorSndSave(QorHandle mSnd, QorHandle mFile) {
  Common::ExportFrameVoid("QorMain.QorSndSave", [&] {
    LogSnd("mSnd", mSnd);
    LogValue("mFile", Common::PtrToStrLog(mFile));
    if (!mFile) Common::LogLine("  ERROR: file not created");
    if (!mSnd) Common::LogLine("  ERROR: sound handle not allocated");
    if (!mFile || !mSnd) return;
    SndRec* sound = Sound(mSnd, "mSnd");
    SndSave_(sound, QorMain::_QorFileOf(mFile));
  });
  return CallStatus();
}

QOR_API void QOR_CALL QorSndCopy(QorHandle mSndDest, QorHandle mSndSrc) {
  Common::ExportFrameVoid("QorMain.QorSndCopy", [&] {
    LogSnd("mSndDest", mSndDest);
    LogSnd("mSndSrc", mSndSrc);
    if (!mSndSrc) return;
    SndRec* dest = Sound(mSndDest, "mSndDest");
    SndRec* src = Sound(mSndSrc, "mSndSrc");
    if (dest == src) return;
    SndBasic::SndFree(*dest);
    dest->format = src->format;
    SndBasic::SndMove(*src, *dest, 0, src->frames);
  });
}

QOR_API void QOR_CALL QorSndResample(QorHandle mSnd, int32_t sampleRate,
                                     int32_t channels, int32_t bits) {
  Common::ExportFrameVoid("QorMain.QorSndResample", [&] {
    LogSnd("mSnd", mSnd);
    LogInt("sampleRate", sampleRate);
    LogInt("channels", channels);
    LogInt("bits", bits);
    SndRec* sound = Sound(mSnd, "mSnd");
    SndBasic::WaveFormatEx format{};
    SndBasic::WaveFormatSetPCM(format, sampleRate, channels, bits);
    SndResample_(sound, format);
  });
}

QOR_API void QOR_CALL QorSndGetInfo(QorHandle mSnd, int32_t* sampleRate,
                                    int32_t* channels, int32_t* bits,
                                    int32_t* totalBytes, void** sndPtr) {
  Common::ExportFrameVoid("QorMain.QorSndGetInfo", [&] {
    LogSnd("mSnd", mSnd);
    const SndRec* sound = Sound(mSnd, "mSnd");
    *Common::Require(sampleRate, "sampleRate") =
        static_cast<int32_t>(sound->format.samplesPerSec);
    *Common::Require(channels, "channels") = sound->format.channels;
    *Common::Require(bits, "bits") = sound->format.bitsPerSample;
    *Common::Require(totalBytes, "totalBytes") = sound->allocated;
    *Common::Require(sndPtr, "sndPtr") = sound->data;
    LogInt("sampleRate", *sampleRate);
    LogInt("channels", *channels);
    LogInt("bits", *bits);
    LogInt("totalBytes", *totalBytes);
    LogValue("sndPtr", Common::PtrToStrLog(*sndPtr));
  });
}

QOR_API void QOR_CALL QorSndGetSamples(QorHandle mSnd, void* sndPtr) {
  Common::ExportFrameVoid("QorMain.QorSndGetSamples", [&] {
    LogSnd("mSnd", mSnd);
    LogValue("sndPtr", Common::PtrToStrLog(sndPtr));
    const SndRec* sound = Sound(mSnd, "mSnd");
    void* buffer = Common::Require(sndPtr, "sndPtr");
    const int64_t bytes = BytesInUse(*sound);
    if (bytes > 0)
      std::memcpy(buffer, sound->data, static_cast<size_t>(bytes));
  });
}

QOR_API void QOR_CALL QorSndSetSamples(QorHandle mSnd, int32_t numSamples,
                                       int32_t sampleRate, int32_t channels,
                                       int32_t bits, const void* sndPtr) {
  Common::ExportFrameVoid("QorMain.QorSndSetSamples", [&] {
    LogSnd("mSnd", mSnd);
    LogInt("numSamples", numSamples);
    LogInt("sampleRate", sampleRate);
    LogInt("channels", channels);
    LogInt("bits", bits);
    LogValue("sndPtr", Common::PtrToStrLog(sndPtr));
    SndSetSamples_(Sound(mSnd, "mSnd"), numSamples, sampleRate, channels,
                   bits, Common::Require(sndPtr, "sndPtr"));
  });
}
