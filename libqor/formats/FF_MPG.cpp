#include "formats/FF_MPG.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sys/stat.h>

#include "formats/CodecCommon.h"
#include "formats/FFBasic.h"
#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"
#include "foundation/WinUtils.h"

namespace FF_MPG {
namespace {

using Errors::ErrSet;
using ImgBasic::Qimg;

// Process-wide settings.
int32_t g_type = kTypeMpeg1;
double g_videoBitRate = 1700000.0;  // bit/s
int32_t g_audioBitRate = 224;       // kbit/s
int32_t g_countVideo = 0, g_countAudio = 0, g_countMplex = 0;

// What the last successful video description found.
struct DescCache {
  bool valid = false;
  double size = 0;
  int64_t date = 0;
  std::string name;
  int32_t width = 0, height = 0, bits = 0, frames = 0, rateCode = 0;
  bool mpeg2 = false, hasAudio = false;
};
// Built on first use: the library's start runs during static
// initialisation, before this file's objects may exist.
DescCache& Cache() {
  static DescCache cache;
  return cache;
}

// The handle whose MPEG-2 encoder is asking for frames.
MpgFileRec* g_writer = nullptr;

// What the scan progress adapter passes on to the host.
struct ScanProgress {
  double scale = 1.0;
  double offset = 0.0;
  ConForm::InfoProgressFn fn = nullptr;
  void* data = nullptr;
  int32_t firstTotal = -1;
  bool stop = false;
};

void MpgScanProgress(Pavane::ProgressRec* rec) {
  auto* sp = static_cast<ScanProgress*>(rec->data);
  if (sp == nullptr || sp->fn == nullptr) return;
  if (rec->total > 0) {
    if (sp->firstTotal <= 0)
      sp->firstTotal = rec->total;
    else if (rec->total != sp->firstTotal)
      sp->offset = 40.0;
  }
  ConForm::InfoProgressRec copy;
  copy.name = rec->name ? rec->name : "";
  copy.counted = rec->count;
  copy.total = rec->total;
  copy.fraction = rec->fraction * sp->scale + sp->offset;
  copy.final = rec->finalCall != 0;
  copy.kind = rec->kind;
  copy.data = sp->data;
  sp->fn(&copy);
  if (copy.stop) {
    sp->stop = true;
    rec->stop = 1;
  }
}

int64_t FileDate(const std::string& name) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtime) : 0;
}

std::string TempName(const std::string& folder, const char* prefix, int32_t& counter) {
  const std::string name = folder + prefix + std::to_string(static_cast<int64_t>(::gettid())) +
                           std::to_string(counter) + ".$$$";
  counter++;
  return name;
}

bool IsTemp(const MpgFileRec* mpg, const std::string& name) {
  return !name.empty() && name != mpg->outputName;
}

void DeleteQuietly(const std::string& name) {
  if (!name.empty() && Basic::FileExists(name)) Basic::FDelete(name);
}

// Releases whatever the handle holds, without reporting; the temporary
// stream files go too.
void FreeAll_(MpgFileRec* mpg) {
  if (g_writer == mpg) g_writer = nullptr;
  if (mpg->mpeg2Encoder != nullptr) Morrow::CloseMPEGEnc(mpg->mpeg2Encoder);
  if (mpg->videoEncoder != nullptr) Pavane::mpg_video_close(mpg->videoEncoder);
  if (mpg->audioEncoder != nullptr) Pavane::mpgenc_audio_close(mpg->audioEncoder);
  if (mpg->reader != nullptr) Pavane::CloseMPEG(mpg->reader);
  if (mpg->audioReader != nullptr) Pavane::mpg_audio_close(mpg->audioReader);
  if (mpg->lastPixels != nullptr) Basic::MemFree(mpg->lastPixels);
  for (RingSlot& slot : mpg->ring)
    if (slot.image.data != nullptr) ImgBasic::ImgFree(&slot.image);
  if (mpg->writeMode) {
    if (IsTemp(mpg, mpg->videoName)) DeleteQuietly(mpg->videoName);
    if (IsTemp(mpg, mpg->audioName)) DeleteQuietly(mpg->audioName);
  }
  *mpg = MpgFileRec{};
}

// The layer's message as a class-1 text when it left one, else the pair.
void Raise(Errors::ErrorName error, int32_t line) {
  CodecCommon::RaiseFailure(error, line);
  if (Errors::ErrNone()) Errors::ErrSet(error, line);
}

void Listen() {
  Pavane::PavaneErrorFuncSet(error_handler_);
  CodecCommon::ClearMessages();
}

// An encoder could not take a frame or block: its stream is broken from
// here on, and this failure is the one reported, now and by every later
// save and the close.
void RaiseWriteFailure(MpgFileRec* mpg, int32_t line) {
  mpg->writeFailed = true;
  try {
    Raise(Errors::kErrMovieWrite, line);
  } catch (const Errors::EMon&) {
    mpg->failure = {Errors::ErrClass(), Errors::ErrCode(), Errors::ErrLastText()};
    throw;
  }
}

void RaiseWriteFailureAgain(const MpgFileRec* mpg, int32_t line) {
  const WriteFailure& f = mpg->failure;
  if (f.code == Errors::kTextCode)
    Errors::ErrSetText(f.cls, f.text, line);
  else if (f.cls != 0)
    Errors::ErrSet(f.cls, f.code, line);
  else
    ErrSet(Errors::kErrMovieWrite, line);
}

void CopyFrame(MpgFileRec* mpg, uint8_t* dest, int64_t bytes) {
  if (mpg->lastPixels != nullptr && Basic::MemTrackedSize(mpg->lastPixels) >= bytes)
    std::memcpy(dest, mpg->lastPixels, static_cast<size_t>(bytes));
  else
    std::memset(dest, 0, static_cast<size_t>(bytes));
}

void KeepFrame(MpgFileRec* mpg, const uint8_t* src, int64_t bytes) {
  Basic::MemAlloc(mpg->lastPixels, bytes, __LINE__, Basic::kMemPlain,
                  "FF_MPG.MpgImgLoad.lastPixels");
  std::memcpy(mpg->lastPixels, src, static_cast<size_t>(bytes));
}

// Hands the encoder one more frame; a frame it asked for that is not in
// the ring is reported once the call has returned.
void PutFrame(MpgFileRec* mpg) {
  mpg->ringMissed = false;
  g_writer = mpg;
  const int32_t ok = Morrow::PutMPEGFrame(mpg->mpeg2Encoder);
  if (mpg->ringMissed) ErrSet(Errors::kErrMovieCompress, __LINE__);
  if (ok == 0) RaiseWriteFailure(mpg, __LINE__);
}

void CopyIntoSlot(MpgFileRec* mpg, int32_t index, const Qimg* frame) {
  RingSlot& slot = mpg->ring[index];
  ImgBasic::ImgCopy(frame, &slot.image);
  slot.number = mpg->framesWritten;
}

// Flushes and closes both encoders; false when either failed (its message
// is stored for Raise).
bool CloseEncoders(MpgFileRec* mpg) {
  bool failed = false;
  if (mpg->videoStarted) {
    if (mpg->usesMpeg2Encoder) {
      g_writer = mpg;
      for (int32_t i = 0; i < mpg->ringFilled; i++) {
        mpg->ringMissed = false;
        if (Morrow::PutMPEGFrame(mpg->mpeg2Encoder) == 0 || mpg->ringMissed) {
          failed = true;
          break;
        }
      }
      Morrow::MpegEncoder* enc = mpg->mpeg2Encoder;
      mpg->mpeg2Encoder = nullptr;
      if (Morrow::CloseMPEGEnc(enc) == 0) failed = true;
      for (RingSlot& slot : mpg->ring) ImgBasic::ImgFree(&slot.image);
    } else {
      Pavane::MpgVideoEncoder* enc = mpg->videoEncoder;
      mpg->videoEncoder = nullptr;
      if (enc != nullptr && Pavane::mpg_video_close(enc) == 0) failed = true;
    }
  }
  if (mpg->audioStarted) {
    Pavane::MpgAudioEncoder* enc = mpg->audioEncoder;
    mpg->audioEncoder = nullptr;
    if (enc != nullptr && Pavane::mpgenc_audio_close(enc) == 0) failed = true;
  }
  return !failed;
}

}  // namespace

void error_handler_(const char* message) noexcept { CodecCommon::StoreError(message); }

void GetImgPtr_(int32_t frame, uint8_t** pixels) noexcept {
  *pixels = nullptr;
  MpgFileRec* mpg = g_writer;
  if (mpg == nullptr) return;
  for (int32_t i = 0; i < 3; i++)
    if (mpg->ring[i].number == frame && mpg->ring[i].image.data != nullptr) {
      *pixels = mpg->ring[i].image.data;
      mpg->ringAsked = i;
      return;
    }
  mpg->ringMissed = true;
}

// ---- settings ----------------------------------------------------------------

int32_t MpgStdFrameRateCode(double frameRate) { return Pavane::FrameRateCodeOf(frameRate); }

double MpgStdFrameRate(double frameRate) {
  return Pavane::FrameRateOfCode(MpgStdFrameRateCode(frameRate));
}

int32_t MpgVideoBitRate(int32_t kilobits) {
  Errors::TraceScope t("FF_MPG.MpgVideoBitRate");
  if (kilobits != Basic::K_AUTO)
    g_videoBitRate = std::clamp(static_cast<double>(kilobits) * 1000.0, 0.0, kMaxVideoBitRate);
  return static_cast<int32_t>(std::lround(g_videoBitRate / 1000.0));
}

int32_t MpgAudioBitRate(int32_t kilobits) {
  Errors::TraceScope t("FF_MPG.MpgAudioBitRate");
  if (kilobits != Basic::K_AUTO) g_audioBitRate = std::clamp(kilobits, 32, 384);
  return g_audioBitRate;
}

void MpgSetType(int32_t type) { g_type = std::clamp(type, 0, 4); }
int32_t MpgGetType() { return g_type; }

bool MpgSndFormat(const SndBasic::WaveFormatEx& source, SndBasic::WaveFormatEx* format,
                  bool stereo) {
  Errors::TraceScope t("FF_MPG.MpgSndFormat");
  *format = source;
  format->formatTag = Acm::kTagPcm;
  format->samplesPerSec = 32000;
  if (source.samplesPerSec > 32000) format->samplesPerSec = 44100;
  if (source.samplesPerSec > 44100) format->samplesPerSec = 48000;
  format->bitsPerSample = 16;
  if (stereo) format->channels = 2;
  format->extraSize = 0;
  return SndBasic::WaveFormatValidate(*format);
}

void MpgInit() {
  g_videoBitRate = 1700000.0;
  g_audioBitRate = 224;
  Cache() = DescCache{};
}

void MpgDone() { Cache() = DescCache{}; }

// ---- describing ----------------------------------------------------------------

void MpgInfo(const std::string& fileName, ConForm::FFInfoRec* info,
             ConForm::InfoProgressFn progress, void* progressData) {
  Errors::Monitored("FF_MPG.MpgInfo", [&] {
    *info = ConForm::FFInfoRec{};
    Listen();
    info->fileSize = Basic::FSize64(fileName);
    ScanProgress sp;
    sp.fn = progress;
    sp.data = progressData;
    int32_t type = Pavane::kTypeNone;
    if (progress != nullptr) {
      type = Pavane::mpg_get_type(fileName.c_str());
      sp.scale = type == Pavane::kTypeSystem ? 0.4 : 1.0;
    }
    Pavane::ProgressFunc pf = progress ? MpgScanProgress : nullptr;

    int32_t w = 0, h = 0, frames = 0, code = 0, bitRate = 0, mpeg2 = 0, hasAudio = 0;
    int32_t found = 0;
    Errors::MonitoredQuiet("FF_MPG.MpgInfo.video", [&] {
      found = Pavane::GetMPEGInfo(fileName.c_str(), &w, &h, &frames, &code, &bitRate, &mpeg2,
                                  &hasAudio, pf, &sp);
    });
    if (sp.stop) {
      info->aborted = true;
      return;
    }
    ConForm::PictureInfo& p = info->picture;
    p.hasPictures = found != 0 && !CodecCommon::HasError() && w >= 1 && h >= 1 && frames > 0;
    CodecCommon::ClearMessages();
    if (p.hasPictures) {
      if (bitRate > 8000) info->dataRate = bitRate / 8;
      p.width = w;
      p.height = h;
      p.bitsPerPixel = 24;
      p.bytesPerPixel = 3;
      p.frameCount = frames;
      Cache() = DescCache{true, info->fileSize, FileDate(fileName), fileName, w, h, 24,
                          frames, code, mpeg2 != 0, hasAudio != 0};
      p.fps = Pavane::FrameRateOfCode(std::clamp(code, 0, 8));
      p.picturesReadable = true;
      p.videoCompression = mpeg2 ? "MPEG-2" : "MPEG-1";
    }
    if (p.hasPictures && hasAudio == 0) return;

    if (type == Pavane::kTypeSystem) {
      sp.offset = 80.0;
      sp.scale = 0.1;
    }
    Pavane::MpgAudioInfo ai;
    int32_t audio = 0;
    Errors::MonitoredQuiet("FF_MPG.MpgInfo.audio", [&] {
      audio = Pavane::mpg_audio_info(fileName.c_str(), &ai, pf, &sp);
    });
    if (sp.stop) {
      info->aborted = true;
      return;
    }
    ConForm::SoundInfo& s = info->sound;
    // Sound needs both: the call found a stream and nothing went wrong.
    s.hasSound = audio != 0 && !CodecCommon::HasError();
    CodecCommon::ClearMessages();
    if (!s.hasSound) return;
    if (ai.bitRate == 0)
      info->dataRate = 0;
    else if (info->dataRate > 0)
      info->dataRate += ai.bitRate * 1000 / 8;
    SndBasic::WaveFormatSetPCM(s.wave, static_cast<int32_t>(ai.rate), ai.channels, ai.bits);
    s.ownWave = s.wave;
    s.sampleFrames = ai.frames;
    s.audioCompression = std::string(ai.lsf ? "MPEG-2 LSF, " : "MPEG-1, ") + "Layer" +
                         (ai.layer == 1 ? "-I" : ai.layer == 2 ? "-II" : "-III (MP3)");
    s.soundReadable = ai.frames >= 1 && (ai.layer == 2 || ai.layer == 3);
  });
}

// ---- reading -------------------------------------------------------------------

void MpgOpen(MpgFileRec* mpg, const std::string& fileName, int32_t option, void* progressData,
             ConForm::InfoProgressFn progress) {
  Errors::Monitored("FF_MPG.MpgOpen", [&] {
    FreeAll_(mpg);
    Errors::MonSetCleanup([mpg] { FreeAll_(mpg); });
    ConForm::FFInfoRec info;
    MpgInfo(fileName, &info, progress, progressData);
    if (info.aborted) ErrSet(Errors::kErrMovieOpen, __LINE__);
    Listen();
    mpg->hasVideo = info.picture.hasPictures;
    mpg->hasAudio = info.sound.hasSound;
    if (mpg->hasVideo) {
      mpg->width = Cache().width;
      mpg->height = Cache().height;
      mpg->bitsPerPixel = Cache().bits;
      mpg->bytesPerPixel = (Cache().bits + 7) / 8;
      mpg->frameCount = Cache().frames;
      mpg->rateCode = Cache().rateCode;
      mpg->frameRate = Pavane::FrameRateOfCode(Cache().rateCode);
      mpg->type = Cache().mpeg2 ? kTypeMpeg2 : kTypeMpeg1;
      mpg->option = option;
      ScanProgress sp{1.0, 0.0, progress, progressData, -1, false};
      if (Pavane::OpenMPEG(&mpg->reader, fileName.c_str(), 0,
                           progress ? MpgScanProgress : nullptr, &sp) == 0) {
        mpg->reader = nullptr;
        Raise(Errors::kErrMovieOpen, __LINE__);
      }
      mpg->readingVideo = true;
    }
    if (mpg->hasAudio) {
      if (Pavane::mpg_audio_info(fileName.c_str(), &mpg->audioInfo, nullptr, nullptr) == 0)
        Raise(Errors::kErrMovieOpen, __LINE__);
      mpg->audioReader = Pavane::mpg_audio_open(fileName.c_str(), nullptr, nullptr);
      if (mpg->audioReader == nullptr) Raise(Errors::kErrMovieOpen, __LINE__);
      mpg->readingAudio = true;
      SndBasic::WaveFormatSetPCM(mpg->format, static_cast<int32_t>(mpg->audioInfo.rate),
                                 mpg->audioInfo.channels, mpg->audioInfo.bits);
    }
  });
}

void MpgImgRewind(MpgFileRec* mpg) { (void)mpg; }

void MpgImgLoad(MpgFileRec* mpg, Qimg* image, int32_t frame, int32_t flags) {
  Errors::Monitored("FF_MPG.MpgImgLoad", [&] {
    if (frame < 0 || frame > mpg->frameCount || !mpg->readingVideo)
      ErrSet(Errors::kErrMovieFormat, __LINE__);
    ImgBasic::_imgalloc_(image, mpg->width, mpg->height, "FF_MPG.MpgImgLoad.image", __LINE__,
                         24);
    const int64_t bytes = int64_t{mpg->width} * mpg->height * 3;
    Listen();
    if (frame == 0 || frame == mpg->lastFrame + 1) {
      const int32_t ok = Pavane::GetMPEGFrame(mpg->reader, image->data);
      mpg->lastFrame++;
      mpg->endFlag = ok == 0;
    } else if ((flags & 1) && frame == mpg->lastFrame) {
      CopyFrame(mpg, image->data, bytes);
      return;
    } else if (Pavane::SeekMPEG(mpg->reader, frame - 1) != 0) {
      mpg->lastFrame = frame;
      mpg->endFlag = Pavane::GetMPEGFrame(mpg->reader, image->data) == 0;
    } else {
      // Nothing was read: the frame delivered last, or black.
      mpg->endFlag = true;
      CopyFrame(mpg, image->data, bytes);
      CodecCommon::ClearMessages();
      return;
    }
    CodecCommon::ClearMessages();
    // A failed read left the last frame (or black) in the image already.
    KeepFrame(mpg, image->data, bytes);
  });
}

void MpgSndSeek(MpgFileRec* mpg, int32_t sample) {
  Errors::Monitored("FF_MPG.MpgSndSeek", [&] {
    Listen();
    if (mpg->audioReader == nullptr || Pavane::mpg_audio_seek(mpg->audioReader, sample) == 0)
      Raise(Errors::kErrMovieEnd, __LINE__);
    mpg->samplePos = sample;
  });
}

void MpgSndLoad(MpgFileRec* mpg, SndBasic::SndRec* sound, int32_t start, int32_t flags,
                int32_t count) {
  Errors::Monitored("FF_MPG.MpgSndLoad", [&] {
    if (!((flags & 1) && start == mpg->samplePos)) MpgSndSeek(mpg, start);
    sound->frames = 0;
    sound->format = mpg->format;
    if (count < 1 || mpg->audioReader == nullptr) return;
    const int64_t align = mpg->format.blockAlign;
    if (align < 1) ErrSet(Errors::kErrAudioFormat, __LINE__);
    SndBasic::_sndalloc_(*sound, count * align, __LINE__, "FF_MPG.MpgSndLoad.sound");
    sound->format = mpg->format;
    Listen();
    const int32_t got = Pavane::mpg_audio_read(mpg->audioReader,
                                               reinterpret_cast<int16_t*>(sound->data), count);
    CodecCommon::ClearMessages();
    sound->frames = std::clamp(got, 0, count);
    mpg->samplePos += sound->frames;
  });
}

// ---- writing -------------------------------------------------------------------

void MpgCreate(MpgFileRec* mpg, const std::string& fileName, double frameRate,
               int32_t framesAnnounced) {
  Errors::Monitored("FF_MPG.MpgCreate", [&] {
    FreeAll_(mpg);
    mpg->writeMode = true;
    mpg->outputName = fileName;
    if (framesAnnounced > 0) mpg->framesAnnounced = framesAnnounced;
    // Type, code and rate whatever was announced: a writer told of no
    // frames still writes at the rate it was given.
    mpg->type = g_type;
    mpg->rateCode = MpgStdFrameRateCode(frameRate);
    mpg->frameRate = Pavane::FrameRateOfCode(mpg->rateCode);
    for (RingSlot& slot : mpg->ring) slot.number = -1;
  });
}

void MpgImgSave(MpgFileRec* mpg, Qimg* image) {
  FFBasic::FFInitRec prep;  // outlives the frame, whose clean-up frees it
  Errors::Monitored("FF_MPG.MpgImgSave", [&] {
    if (!mpg->writeMode) return;
    if (mpg->writeFailed) RaiseWriteFailureAgain(mpg, __LINE__);
    Errors::MonSetCleanup([&prep] { FFBasic::FFDone(&prep); });
    FFBasic::FFInit(ConForm::kFmtMPEG, &prep, image, 16);
    Qimg* frame = prep.image;
    Listen();
    if (!mpg->videoStarted) {
      mpg->usesMpeg2Encoder = mpg->type >= kTypeMpeg2;
      mpg->videoName = mpg->audioStarted
                           ? TempName(WinUtils::GetTempFolder(), "mpv-", g_countVideo)
                           : mpg->outputName;
      DeleteQuietly(mpg->videoName);
      if (mpg->usesMpeg2Encoder) {
        Morrow::EncErrorFuncSet(error_handler_);
        Morrow::GetImgPtrFuncSet(GetImgPtr_);
        g_writer = mpg;
        Morrow::EncParams params;
        params.mpeg2 = 1;
        params.interlaced = 0;
        params.width = frame->width;
        params.height = frame->height;
        params.rateCode = mpg->rateCode;
        params.bitRate = g_videoBitRate;
        if (Morrow::CreateMPEG(&mpg->mpeg2Encoder, mpg->videoName.c_str(), &params) == 0) {
          mpg->mpeg2Encoder = nullptr;
          Raise(Errors::kErrMovieCreate, __LINE__);
        }
      } else {
        mpg->videoEncoder = Pavane::mpg_video_create(mpg->videoName.c_str(), frame->width,
                                                     frame->height, mpg->frameRate, mpg->type);
        if (mpg->videoEncoder == nullptr) Raise(Errors::kErrMovieCreate, __LINE__);
        const int32_t kbit = static_cast<int32_t>(g_videoBitRate) / 1000;
        if ((mpg->type == kTypeMpeg1 && kbit != 1700) || (mpg->type == kTypeVcd && kbit != 1150))
          Pavane::mpg_video_set_bitrate(mpg->videoEncoder, static_cast<int32_t>(g_videoBitRate));
      }
      mpg->width = frame->width;
      mpg->height = frame->height;
      mpg->videoStarted = true;
    }
    if (frame->width != mpg->width || frame->height != mpg->height)
      ErrSet(Errors::kErrMovieWrite, __LINE__);
    if (mpg->usesMpeg2Encoder) {
      if (mpg->ringFilled < 3) {
        CopyIntoSlot(mpg, mpg->ringFilled, frame);
        mpg->ringFilled++;
        mpg->framesAnnounced++;
        Morrow::SetNumFramesMPEG(mpg->mpeg2Encoder, mpg->framesAnnounced);
      } else {
        mpg->framesAnnounced++;
        Morrow::SetNumFramesMPEG(mpg->mpeg2Encoder, mpg->framesAnnounced);
        PutFrame(mpg);
        CopyIntoSlot(mpg, mpg->ringAsked, frame);
      }
    } else if (Pavane::mpg_video_write(mpg->videoEncoder, frame->data) == 0) {
      RaiseWriteFailure(mpg, __LINE__);
    }
    mpg->framesWritten++;
    FFBasic::FFDone(&prep);
  });
}

void MpgSndSave(MpgFileRec* mpg, SndBasic::SndRec* sound) {
  Errors::Monitored("FF_MPG.MpgSndSave", [&] {
    if (!mpg->writeMode) return;
    if (mpg->writeFailed) RaiseWriteFailureAgain(mpg, __LINE__);
    const SndBasic::WaveFormatEx& f = sound->format;
    if (!FFBasic::FFPcm16BlockFits(*sound, mpg->audioStarted, mpg->format))
      ErrSet(Errors::kErrMovieWrite, __LINE__);
    Listen();
    if (!mpg->audioStarted) {
      mpg->audioName = mpg->videoStarted
                           ? TempName(WinUtils::GetTempFolder(), "mpa-", g_countAudio)
                           : mpg->outputName;
      DeleteQuietly(mpg->audioName);
      mpg->audioEncoder = Pavane::mpgenc_audio_create(
          mpg->audioName.c_str(), static_cast<int32_t>(f.samplesPerSec), f.channels);
      if (mpg->audioEncoder == nullptr) Raise(Errors::kErrMovieCreate, __LINE__);
      Pavane::mpgenc_audio_set_bitrate(mpg->audioEncoder, g_audioBitRate * 1000);
      mpg->format = f;
      mpg->audioStarted = true;
    }
    if (sound->frames <= 0) return;
    if (Pavane::mpgenc_audio_write(mpg->audioEncoder, reinterpret_cast<int16_t*>(sound->data),
                                   sound->frames) == 0)
      RaiseWriteFailure(mpg, __LINE__);
    mpg->samplePos += sound->frames;
  });
}

void MpgClose(MpgFileRec* mpg) {
  Errors::Monitored("FF_MPG.MpgClose", [&] {
    // Whatever happens, no encoder stays open and no temporary stream stays.
    Errors::MonSetCleanup([mpg] { FreeAll_(mpg); });
    Listen();
    const bool closed = CloseEncoders(mpg);
    if (mpg->writeFailed || !closed) {
      // A stream that was not written whole is no output, and nothing
      // reads it again. A write that failed is the reason, again: what
      // closing finds after it (the same full disk) does not replace it.
      DeleteQuietly(mpg->outputName);
      if (mpg->writeFailed)
        RaiseWriteFailureAgain(mpg, __LINE__);
      else
        Raise(Errors::kErrMovieWrite, __LINE__);
      // Reached without a raise as well: in a failure's clean-up nothing raises.
      FreeAll_(mpg);
      return;
    }
    if (mpg->videoStarted && mpg->audioStarted)
      MpgMultiPlex(mpg->outputName, mpg->videoName, mpg->audioName, mpg->type, true);
    FreeAll_(mpg);
  });
}

int32_t MpgMultiPlex(const std::string& outputName, const std::string& videoName,
                     const std::string& audioName, int32_t type, bool deleteStreams) {
  int32_t result = -1;
  Errors::Monitored("FF_MPG.MpgMultiPlex", [&] {
    const size_t slash = outputName.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : outputName.substr(0, slash + 1);
    const std::string temp = TempName(folder, "mplex-", g_countMplex);
    DeleteQuietly(temp);
    Listen();
    result = Pavane::mpg_mplex(temp.c_str(), videoName.c_str(), audioName.c_str(), 0, type);
    if (deleteStreams) {
      DeleteQuietly(videoName);
      DeleteQuietly(audioName);
    }
    DeleteQuietly(outputName);
    if (result == 0) {
      DeleteQuietly(temp);
      // The system stream is written beside the output under a temporary
      // name; what failed, for the user, is writing the output.
      CodecCommon::RenameInStoredError(temp, outputName);
      Raise(Errors::kErrMovieCreate, __LINE__);
      return;
    }
    CodecCommon::ClearMessages();
    if (Basic::FRename(temp, outputName) != 0) {
      DeleteQuietly(temp);
      ErrSet(Errors::kErrMovieCreate, __LINE__);
    }
  });
  return result;
}

}  // namespace FF_MPG
