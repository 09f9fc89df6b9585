// The multi-frame layer (one frame or sound format behind one handle) and
// the universal source layer (a still image, a numbered sequence or a
// multi-frame file read alike).
#include <algorithm>
#include <cstring>
#include <new>

#include "formats/ConForm.h"
#include "formats/FF_AVI.h"
#include "formats/FF_FLC.h"
#include "formats/FF_GIF.h"
#include "formats/FF_KWB.h"
#include "formats/FF_MPG.h"
#include "formats/FF_OGG.h"
#include "formats/FF_WAV.h"
#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"

namespace ConForm {
namespace {

using ImgBasic::Qimg;
using Errors::ErrSet;

FF_AVI::AviFileRec* Avi(const MviFile* m) { return static_cast<FF_AVI::AviFileRec*>(m->handle); }
FF_GIF::GifFile* Gif(const MviFile* m) { return static_cast<FF_GIF::GifFile*>(m->handle); }
FF_FLC::FlcFile* Flc(const MviFile* m) { return static_cast<FF_FLC::FlcFile*>(m->handle); }
FF_KWB::KWBFile* Kwb(const MviFile* m) { return static_cast<FF_KWB::KWBFile*>(m->handle); }
FF_MPG::MpgFileRec* Mpg(const MviFile* m) { return static_cast<FF_MPG::MpgFileRec*>(m->handle); }
FF_WAV::WavFileRec* Wav(const MviFile* m) { return static_cast<FF_WAV::WavFileRec*>(m->handle); }
FF_OGG::OggFileRec* Ogg(const MviFile* m) { return static_cast<FF_OGG::OggFileRec*>(m->handle); }

bool Is(const MviFile* m, int32_t id) { return m && m->handle && m->format == id; }
// MPEG video and MPEG audio share one handle.
bool IsMpg(const MviFile* m) { return Is(m, kFmtMPEG) || Is(m, kFmtMPA); }

// Makes the format handle: a tracked block that holds a fresh handle object.
template <class T>
T* NewHandle(MviFile* mvi, int32_t id, const char* label) {
  T* block = nullptr;
  Basic::MemAlloc(block, sizeof(T), __LINE__, Basic::kMemPlain, label);
  T* handle = new (block) T();
  mvi->format = id;
  mvi->handle = handle;
  return handle;
}

// Ends the life of the handle object (its block is freed separately).
void DestroyObject(MviFile* mvi) {
  if (!mvi->handle) return;
  switch (mvi->format) {
    case kFmtGIF:
      Gif(mvi)->~GifFile();
      break;
    case kFmtAVI:
      Avi(mvi)->~AviFileRec();
      break;
    case kFmtFLC:
      Flc(mvi)->~FlcFile();
      break;
    case kFmtKWB:
      Kwb(mvi)->~KWBFile();
      break;
    case kFmtMPEG:
    case kFmtMPA:
      Mpg(mvi)->~MpgFileRec();
      break;
    case kFmtWAV:
      Wav(mvi)->~WavFileRec();
      break;
    case kFmtOGG:
      Ogg(mvi)->~OggFileRec();
      break;
    default:
      break;
  }
}

void DestroyHandle(MviFile* mvi) {
  if (!mvi->handle) return;
  DestroyObject(mvi);
  Basic::MemFree(mvi->handle);
  *mvi = MviFile{};
}

// On failure of an open or create the handle object ends and the record is
// cleared (the frame then frees the block and closes the file).
void CleanupOnFailure(MviFile* mvi) {
  Errors::MonSetCleanup([mvi] {
    DestroyObject(mvi);
    *mvi = MviFile{};
  });
}

void RefuseUnknown(int32_t /*id*/, int32_t line) { ErrSet(Errors::kErrMovieFormat, line); }

// Positioning and loading refuse a handle opened for writing, and frames
// beyond the frame count.
bool CheckReadable(MviFile* mvi, int32_t frame) {
  if (!mvi->handle) {
    ErrSet(Errors::kErrMovieFormat, __LINE__);
    return false;
  }
  if (MviWriteMode(mvi)) {
    ErrSet(Errors::kErrMovieFormat, __LINE__);
    return false;
  }
  if (frame > MviFrameCount(mvi)) {
    ErrSet(Errors::kErrMovieEnd, __LINE__);
    return false;
  }
  return true;
}

}  // namespace

// ---- views ----------------------------------------------------------------

int32_t MviWidth(const MviFile* m) {
  if (Is(m, kFmtGIF)) return Gif(m)->width;
  if (Is(m, kFmtFLC)) return Flc(m)->header.width;
  if (Is(m, kFmtKWB)) return Kwb(m)->header.width;
  if (Is(m, kFmtAVI)) return Avi(m)->width;
  if (IsMpg(m)) return Mpg(m)->width;
  return 0;
}

int32_t MviHeight(const MviFile* m) {
  if (Is(m, kFmtGIF)) return Gif(m)->height;
  if (Is(m, kFmtFLC)) return Flc(m)->header.height;
  if (Is(m, kFmtKWB)) return Kwb(m)->header.height;
  if (Is(m, kFmtAVI)) return Avi(m)->height;
  if (IsMpg(m)) return Mpg(m)->height;
  return 0;
}

int32_t MviBytesPerPixel(const MviFile* m) {
  if (Is(m, kFmtGIF)) return Gif(m)->bytesPerPixel;
  if (Is(m, kFmtFLC)) return 1;
  if (Is(m, kFmtKWB)) return Kwb(m)->header.bytesPerPixel;
  if (Is(m, kFmtAVI)) return Avi(m)->bytesPerPixel;
  if (IsMpg(m)) return Mpg(m)->bytesPerPixel;
  return 0;
}

int32_t MviBitsPerPixel(const MviFile* m) {
  if (Is(m, kFmtGIF)) return Gif(m)->bitsPerPixel;
  if (Is(m, kFmtFLC)) return 8;
  if (Is(m, kFmtKWB)) return Kwb(m)->bitsPerPixel;
  if (Is(m, kFmtAVI)) return Avi(m)->bitsPerPixel;
  if (IsMpg(m)) return Mpg(m)->bitsPerPixel;
  return 0;
}

double MviFps(const MviFile* m) {
  if (Is(m, kFmtGIF)) return Gif(m)->fps;
  if (Is(m, kFmtFLC)) return Flc(m)->fps;
  if (Is(m, kFmtKWB)) return Kwb(m)->header.fps;
  if (Is(m, kFmtAVI)) return Avi(m)->frameRate;
  if (IsMpg(m)) return Mpg(m)->frameRate;
  return 0;
}

int32_t MviFrameCount(const MviFile* m) {
  if (Is(m, kFmtGIF)) return Gif(m)->frameCount;
  if (Is(m, kFmtFLC))
    return Flc(m)->writeMode ? Flc(m)->framesWritten : Flc(m)->header.frames;
  if (Is(m, kFmtKWB)) return Kwb(m)->header.frameCount;
  if (Is(m, kFmtAVI)) return Avi(m)->writeMode ? Avi(m)->lastFrame : Avi(m)->frameCount;
  if (IsMpg(m)) return Mpg(m)->writeMode ? Mpg(m)->framesWritten : Mpg(m)->frameCount;
  return 0;
}

int32_t MviCurrentFrame(const MviFile* m) {
  if (Is(m, kFmtGIF)) return Gif(m)->canvasFrame;
  if (Is(m, kFmtFLC)) return Flc(m)->writeMode ? Flc(m)->framesWritten : Flc(m)->framesRead;
  if (Is(m, kFmtKWB))
    return Kwb(m)->writeMode ? Kwb(m)->header.frameCount : Kwb(m)->lastDecoded;
  if (Is(m, kFmtAVI)) return Avi(m)->lastFrame;
  if (IsMpg(m)) return Mpg(m)->writeMode ? Mpg(m)->framesWritten : Mpg(m)->lastFrame;
  return 0;
}

int32_t MviSamplePos(const MviFile* m) {
  if (Is(m, kFmtKWB))
    return Kwb(m)->writeMode ? Kwb(m)->header.totalSamples : Kwb(m)->samplePosition;
  if (Is(m, kFmtAVI)) return Avi(m)->writeMode ? Avi(m)->soundWritten : Avi(m)->snd.samplePos;
  if (IsMpg(m)) return Mpg(m)->samplePos;
  if (Is(m, kFmtWAV))
    return Wav(m)->writeMode ? static_cast<int32_t>(std::min<int64_t>(Wav(m)->framesWritten, INT32_MAX))
                             : Wav(m)->load.samplePos;
  if (Is(m, kFmtOGG))
    return static_cast<int32_t>(std::min<int64_t>(Ogg(m)->position, INT32_MAX));
  return 0;
}

bool MviWriteMode(const MviFile* m) {
  if (Is(m, kFmtFLC)) return Flc(m)->writeMode;
  if (Is(m, kFmtKWB)) return Kwb(m)->writeMode;
  if (Is(m, kFmtAVI)) return Avi(m)->writeMode;
  if (IsMpg(m)) return Mpg(m)->writeMode;
  if (Is(m, kFmtWAV)) return Wav(m)->writeMode;
  if (Is(m, kFmtOGG)) return Ogg(m)->writeMode;
  return false;
}

bool MviNewPalette(const MviFile* m) {
  if (Is(m, kFmtGIF)) return Gif(m)->newPalette;
  if (Is(m, kFmtFLC)) return Flc(m)->newPalette;
  if (Is(m, kFmtKWB)) return Kwb(m)->newPalette;
  if (Is(m, kFmtAVI)) return Avi(m)->newPalette;
  return false;
}

WaveFormat MviWaveFormat(const MviFile* m) {
  if (Is(m, kFmtKWB)) return Kwb(m)->waveFormat;
  if (Is(m, kFmtAVI)) return Avi(m)->snd.dstFormat;
  if (IsMpg(m)) return Mpg(m)->format;
  if (Is(m, kFmtWAV)) return Wav(m)->writeMode ? Wav(m)->written : Wav(m)->load.dstFormat;
  if (Is(m, kFmtOGG)) return Ogg(m)->format;
  return WaveFormat{};
}

// ---- multi-frame layer ----------------------------------------------------

void MviOpen(MviFile* mvi, const std::string& name, int32_t id, void* progressData,
             InfoProgressFn progress) {
  Errors::Monitored("ConForm.MviOpen", [&] {
    *mvi = MviFile{};
    CleanupOnFailure(mvi);
    if (id == Basic::K_AUTO) id = GetFmtByExt(name, kLoadTable);
    switch (id) {
      case kFmtGIF:
        FF_GIF::GIFOpen(NewHandle<FF_GIF::GifFile>(mvi, id, "ConForm.MviOpen.mf.GIF"), name,
                        false);
        break;
      case kFmtFLC:
        FF_FLC::FLCOpen(NewHandle<FF_FLC::FlcFile>(mvi, id, "ConForm.MviOpen.mf.FLC"), name);
        break;
      case kFmtAVI: {
        FF_AVI::AviFileRec* avi = NewHandle<FF_AVI::AviFileRec>(mvi, id, "ConForm.MviOpen.mf.AVI");
        FF_AVI::AviOpen(avi, name);
        mvi->hasSound = avi->audio != nullptr;
        break;
      }
      case kFmtKWB: {
        FF_KWB::KWBFile* kwb = NewHandle<FF_KWB::KWBFile>(mvi, id, "ConForm.MviOpen.mf.KWB");
        FF_KWB::KWBOpen(kwb, name);
        mvi->hasSound = (kwb->header.soundFlags & 1) != 0;
        break;
      }
      case kFmtMPEG:
      case kFmtMPA: {
        FF_MPG::MpgFileRec* mpg = NewHandle<FF_MPG::MpgFileRec>(mvi, id, "ConForm.MviOpen.mf.MPG");
        FF_MPG::MpgOpen(mpg, name, 0, progressData, progress);
        mvi->hasSound = mpg->hasAudio;
        break;
      }
      case kFmtWAV:
        FF_WAV::WAVOpen(NewHandle<FF_WAV::WavFileRec>(mvi, id, "ConForm.MviOpen.mf.WAV"), name);
        mvi->hasSound = true;
        break;
      case kFmtOGG:
        FF_OGG::OggOpen(NewHandle<FF_OGG::OggFileRec>(mvi, id, "ConForm.MviOpen.mf.OGG"), name);
        mvi->hasSound = true;
        break;
      default:
        RefuseUnknown(id, __LINE__);
    }
  });
}

void MviImgSetPos(MviFile* mvi, int32_t frame) {
  Errors::Monitored("ConForm.MviImgSetPos", [&] {
    if (MviWriteMode(mvi)) Errors::MonAbort();
    if (!CheckReadable(mvi, frame)) return;
    // Every reader here decodes onto its own canvas and loads by number, so
    // positioning only tells a KWB reader what comes next.
    if (Is(mvi, kFmtKWB)) FF_KWB::KWBSetFrame(Kwb(mvi), frame);
    if (Is(mvi, kFmtAVI)) FF_AVI::AviImgSetPos(Avi(mvi), frame);
  });
}

void MviImgLoad(MviFile* mvi, Qimg* image, int32_t frame, int32_t flags, Qimg* alpha) {
  Errors::Monitored("ConForm.MviImgLoad", [&] {
    if (!CheckReadable(mvi, frame)) return;
    switch (mvi->format) {
      case kFmtGIF:
        FF_GIF::GIFLoad(Gif(mvi), image, frame, flags, alpha);
        return;
      case kFmtFLC:
        FF_FLC::FLCLoad(Flc(mvi), image, frame, flags);
        break;
      case kFmtKWB:
        FF_KWB::KWBImgLoad(Kwb(mvi), image, frame, flags);
        break;
      case kFmtAVI:
        FF_AVI::AviImgLoad(Avi(mvi), image, frame, flags);
        break;
      case kFmtMPEG:
      case kFmtMPA:
        FF_MPG::MpgImgLoad(Mpg(mvi), image, frame, flags);
        break;
      default:
        return;
    }
    if (alpha) ExtractAlpha(image, alpha);
  });
}

void MviSndLoad(MviFile* mvi, SndBasic::SndRec* sound, int32_t start, int32_t count,
                int32_t flags) {
  if (Is(mvi, kFmtKWB)) {
    FF_KWB::KWBSndLoad(Kwb(mvi), sound, start, count, flags);
    return;
  }
  if (IsMpg(mvi)) {
    FF_MPG::MpgSndLoad(Mpg(mvi), sound, start, flags, count);
    return;
  }
  if (Is(mvi, kFmtAVI)) {
    FF_AVI::AviSndLoad(Avi(mvi), sound, start, flags, count);
    return;
  }
  if (Is(mvi, kFmtWAV)) {
    FF_WAV::WAVLoad(Wav(mvi), sound, start, flags, count);
    return;
  }
  if (Is(mvi, kFmtOGG)) {
    FF_OGG::OggLoad(Ogg(mvi), sound, start, flags, count);
    return;
  }
  sound->frames = 0;
}

void MviCreate(MviFile* mvi, const std::string& name, double fps, int32_t interleave,
               int32_t plannedFrames) {
  Errors::Monitored("ConForm.MviCreate", [&] {
    *mvi = MviFile{};
    CleanupOnFailure(mvi);
    const int32_t id = GetFmtByExt(name, kSaveTable);
    switch (id) {
      case kFmtFLC:
        FF_FLC::FLCCreate(NewHandle<FF_FLC::FlcFile>(mvi, id, "ConForm.MviCreate.mf.FLC"), name,
                          fps);
        break;
      case kFmtKWB:
        FF_KWB::KWBCreate(NewHandle<FF_KWB::KWBFile>(mvi, id, "ConForm.MviCreate.mf.KWB"), name,
                          fps);
        break;
      case kFmtAVI:
        FF_AVI::AviCreate(NewHandle<FF_AVI::AviFileRec>(mvi, id, "ConForm.MviCreate.mf.AVI"), name,
                          interleave, fps);
        break;
      case kFmtMPEG:
      case kFmtMPA:
        FF_MPG::MpgCreate(NewHandle<FF_MPG::MpgFileRec>(mvi, id, "ConForm.MviCreate.mf.MPG"), name,
                          fps, plannedFrames);
        break;
      case kFmtWAV:
        FF_WAV::WAVCreate(NewHandle<FF_WAV::WavFileRec>(mvi, id, "ConForm.MviCreate.mf.WAV"), name);
        break;
      case kFmtOGG:
        FF_OGG::OggCreate(NewHandle<FF_OGG::OggFileRec>(mvi, id, "ConForm.MviCreate.mf.OGG"), name);
        break;
      default:
        RefuseUnknown(id, __LINE__);
    }
  });
}

void MviImgSave(MviFile* mvi, Qimg* image) {
  Errors::Monitored("ConForm.MviImgSave", [&] {
    if (!mvi->handle || !MviWriteMode(mvi)) {
      ErrSet(mvi->format == kFmtGIF ? Errors::kErrMovieFormat : Errors::kErrMovieWrite, __LINE__);
      return;
    }
    if (Is(mvi, kFmtFLC)) FF_FLC::FLCSave(Flc(mvi), image);
    if (Is(mvi, kFmtKWB)) FF_KWB::KWBImgSave(Kwb(mvi), image);
    if (Is(mvi, kFmtAVI)) FF_AVI::AviImgSave(Avi(mvi), image);
    if (IsMpg(mvi)) FF_MPG::MpgImgSave(Mpg(mvi), image);
  });
}

void MviSndSave(MviFile* mvi, SndBasic::SndRec* sound) {
  if (Is(mvi, kFmtKWB)) FF_KWB::KWBSndSave(Kwb(mvi), sound);
  if (Is(mvi, kFmtAVI)) FF_AVI::AviSndSave(Avi(mvi), sound);
  if (IsMpg(mvi)) FF_MPG::MpgSndSave(Mpg(mvi), sound);
  if (Is(mvi, kFmtWAV)) FF_WAV::WAVSave(Wav(mvi), sound);
  if (Is(mvi, kFmtOGG)) FF_OGG::OggSave(Ogg(mvi), sound);
}

void MviSetAviCustomInfo(MviFile* mvi, const std::string& fourCC, const std::string& text) {
  Errors::Monitored("ConForm.MviSetAviCustomInfo", [&] {
    // Only AVI outputs carry information texts.
    if (Is(mvi, kFmtAVI) && MviWriteMode(mvi)) FF_AVI::AviSetCustomInfo(Avi(mvi), fourCC, text);
  });
}

void MviClose(MviFile* mvi) {
  Errors::Monitored("ConForm.MviClose", [&] {
    if (!mvi->handle) {
      *mvi = MviFile{};
      return;
    }
    // The handle is released whatever closing the format reports.
    Errors::MonSetCleanup([mvi] { DestroyHandle(mvi); });
    switch (mvi->format) {
      case kFmtGIF:
        FF_GIF::GIFClose(Gif(mvi));
        break;
      case kFmtFLC:
        FF_FLC::FLCClose(Flc(mvi));
        break;
      case kFmtKWB:
        FF_KWB::KWBClose(Kwb(mvi));
        break;
      case kFmtAVI:
        FF_AVI::AviClose(Avi(mvi));
        break;
      case kFmtMPEG:
      case kFmtMPA:
        FF_MPG::MpgClose(Mpg(mvi));
        break;
      case kFmtWAV:
        FF_WAV::WAVClose(Wav(mvi));
        break;
      case kFmtOGG:
        FF_OGG::OggClose(Ogg(mvi));
        break;
      default:
        break;
    }
    DestroyHandle(mvi);
  });
}

// ---- universal source layer ------------------------------------------------

std::string SeqGetName(const UniFile* uni, int32_t frame) {
  return SeqMakeName(uni->seqPrefix, uni->seqSuffix,
                     int64_t{uni->firstNumber} + frame - 1, uni->digitCount);
}

void UniOpen(UniFile* uni, const UniInfoRec* info) {
  Errors::Monitored("ConForm.UniOpen", [&] {
    *uni = UniFile{};
    uni->format = info->format;
    uni->kind = info->kind;
    uni->name = info->name.substr(0, 255);
    uni->picture = info->picture;
    uni->sound = info->sound;
    switch (info->kind) {
      case kKindImage:
        break;
      case kKindSequence:
        uni->seqPrefix = info->seqPrefix;
        uni->seqSuffix = info->seqSuffix;
        uni->firstNumber = info->firstNumber;
        uni->fileCount = info->fileCount;
        uni->digitCount = info->digitCount;
        break;
      case kKindStream:
        // The full name is what is opened; the stored one may be cut.
        MviOpen(&uni->mvi, info->name, info->format, info->progressData, info->progress);
        break;
      default:
        ErrSet(Errors::kErrUniProtocol, __LINE__);
    }
  });
}

void UniImgSetPos(UniFile* uni, int32_t frame) {
  Errors::Monitored("ConForm.UniImgSetPos", [&] {
    if (!uni->picture.picturesReadable) {
      ErrSet(Errors::kErrMovieNotSupported, __LINE__);
      return;
    }
    switch (uni->kind) {
      case kKindImage:
        break;
      case kKindSequence:
        uni->currentFrame = frame;
        break;
      case kKindStream:
        MviImgSetPos(&uni->mvi, frame);
        break;
      default:
        ErrSet(Errors::kErrUniProtocol, __LINE__);
    }
  });
}

void UniImgLoad_(UniFile* uni, Qimg* image, int32_t frame, int32_t flags, Qimg* alpha) {
  Errors::Monitored("ConForm.UniImgLoad_", [&] {
    uni->newPalette = false;
    if (!uni->picture.picturesReadable) {
      ErrSet(Errors::kErrMovieNotSupported, __LINE__);
      return;
    }
    switch (uni->kind) {
      case kKindImage:
        ImgLoad(uni->name, image, uni->format, alpha);
        uni->currentFrame = 1;
        uni->newPalette = true;
        break;
      case kKindSequence:
        ImgLoad(SeqGetName(uni, frame), image, uni->format, alpha);
        uni->currentFrame = frame;
        uni->newPalette = true;
        break;
      case kKindStream:
        MviImgLoad(&uni->mvi, image, frame, flags, alpha);
        uni->currentFrame = MviCurrentFrame(&uni->mvi);
        uni->newPalette = MviNewPalette(&uni->mvi);
        break;
      default:
        ErrSet(Errors::kErrUniProtocol, __LINE__);
        return;
    }
    const double fps = uni->picture.fps;
    uni->videoTime = (uni->currentFrame > 0 && fps > 0) ? (uni->currentFrame - 1) / fps : 0;
  });
}

void UniImgLoad(UniFile* uni, Qimg* image, int32_t frame, int32_t flags) {
  UniImgLoad_(uni, image, frame, flags, nullptr);
}

void UniImgLoadAlpha(UniFile* uni, Qimg* alpha, int32_t frame) {
  Errors::Monitored("ConForm.UniImgLoadAlpha", [&] {
    Qimg img;
    ImgBasic::_imgalloc_(&img, std::max(1, uni->picture.width), std::max(1, uni->picture.height),
                         "ConForm.UniImgLoadAlpha.img", __LINE__,
                         uni->picture.bitsPerPixel > 0 ? uni->picture.bitsPerPixel : 24);
    const int32_t current = uni->currentFrame;
    UniImgLoad_(uni, &img, frame, 0, alpha);
    if (current > 0 && uni->kind == kKindStream) {
      MviImgSetPos(&uni->mvi, current);
      uni->currentFrame = current;
    } else {
      uni->currentFrame = current;
    }
    ImgBasic::ImgFree(&img);
  });
}

void UniSndLoad(UniFile* uni, SndBasic::SndRec* sound, int32_t start, int32_t count,
                int32_t flags) {
  Errors::Monitored("ConForm.UniSndLoad", [&] {
    if (!uni->sound.soundReadable) {
      ErrSet(Errors::kErrMovieNotSupported, __LINE__);
      return;
    }
    if (uni->kind != kKindStream) {
      ErrSet(Errors::kErrUniProtocol, __LINE__);
      return;
    }
    MviSndLoad(&uni->mvi, sound, start, count, flags);
    uni->samplePosition = MviSamplePos(&uni->mvi);
    const double rate = uni->sound.wave.samplesPerSec;
    uni->audioTime = (uni->samplePosition > 0 && rate > 0) ? uni->samplePosition / rate : 0;
  });
}

void UniClose(UniFile* uni) {
  Errors::Monitored("ConForm.UniClose", [&] {
    MviClose(&uni->mvi);
    *uni = UniFile{};
  });
}

}  // namespace ConForm
