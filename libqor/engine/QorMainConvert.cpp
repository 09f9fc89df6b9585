// The conversion as a host runs it: QorConvert with its six host callbacks,
// the adapters between the conversion loop's hooks and those callbacks, the
// source exports a source callback describes its block with, and the
// one-call conversion QorQuickConvert.
#include <atomic>
#include <cmath>
#include <cstring>
#include <string>

#include "engine/Common.h"
#include "engine/ConFormConv.h"
#include "engine/Predict.h"
#include "engine/QorMain.h"
#include "formats/FFBasic.h"
#include "formats/FF_MPG.h"
#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"
#include "media/ImgBasic.h"
#include "media/PalOpt.h"
#include "media/SndBasic.h"


using Common::FloatToStrAuto;
using Common::IntToStrAuto;
using Common::LogLine;
using Common::LogValue;
using Common::PtrToStrLog;
using Common::QorRec;
using ConForm::QorSrcBlock;
using ImgBasic::Qimg;
using SndBasic::SndRec;

namespace QorMain {
namespace {

constexpr const char* kNameLabel = "QorMain.QorSrcSetFile.destStrP";
using Common::kTrue;
constexpr int32_t kStreamVideo = 1;
constexpr int32_t kStreamAudio = 2;

// The running conversion and the progress callback it started with; one
// conversion runs at a time. The handle, the phase and the stop request are
// atomics: QorGetStatus and QorAbort reach them from other threads without
// the library lock. Each conversion gets a serial number, kept with its stop
// request in one word (serial x 2, plus 1 once a stop is requested), so that
// a request sets the stop of the very conversion it saw running, in one
// step, and never stops the next one.
std::atomic<QorRec*> g_running{nullptr};
std::atomic<int32_t> g_runningPhase{Common::kPhaseIdle};
std::atomic<uint64_t> g_runState{0};
constexpr uint64_t kStopBit = 1;
QorProgressProc g_progressSlot = nullptr;

bool StopRequested() { return (g_runState.load() & kStopBit) != 0; }

// The next serial, its stop request clear; only the converting thread
// (holding the library lock) moves it on.
void NextRunSerial() { g_runState.store((g_runState.load() | kStopBit) + 1); }

void SetPhase(QorRec* rec, int32_t phase) {
  rec->status = phase;
  g_runningPhase.store(phase);
}

// A read error that no error callback answered (it stopped the conversion),
// or the failure that ended it: handed back as the conversion's result.
struct UnansweredError {
  int32_t cls = 0;
  int32_t code = 0;
  std::string text;
};
UnansweredError g_unanswered;

bool On(int32_t flag) { return flag != 0; }

// ---- shared source buffers -----------------------------------------------------

// A failed frame frees what was allocated inside it, the shared buffers a
// callback filled there included; a buffer whose block went that way is
// forgotten, never used or freed again. The block lent to the engine stops
// pointing at a forgotten name.
void ForgetFreedImage(Qimg* image) {
  if (image && image->data && !Basic::MemIsTracked(image->data))
    ImgBasic::ImgClear(image);
}

void ForgetFreedSound(SndRec* sound) {
  if (sound && sound->data && !Basic::MemIsTracked(sound->data))
    SndBasic::SndClear(*sound);
}

void ForgetFreedSourceBuffers(QorSrcBlock* block) {
  for (char** name : {&VideoSourceName(), &AudioSourceName()}) {
    if (!*name || Basic::MemIsTracked(*name)) continue;
    if (block && block->data == *name) block->data = nullptr;
    *name = nullptr;
  }
  ForgetFreedImage(&SourceImage());
  ForgetFreedSound(&SourceSound());
}

// ---- calling the host ------------------------------------------------------------

// Runs a host callback in a frame of its own, so that an export the host
// calls and that fails ends only that export, never the conversion. What
// such a failure left pending is recorded and cleared.
template <class Call>
void CallHost(const char* name, Call&& call) {
  Errors::MonitoredQuiet(name, std::forward<Call>(call));
  if (Errors::ErrNone()) return;
  Common::SetStatus(Common::kStatusLibraryError);
  Errors::ErrClear();
}

void ResetBlock(QorSrcBlock* block, double frameRate) {
  QorSrcBlock fresh;
  fresh.blockNum = block->blockNum;
  fresh.minusAllowed = block->minusAllowed;
  fresh.frameRate = frameRate;
  *block = fresh;
}

// One source step: lends the block to the host's source callback.
void SourceStep(QorSrcBlock* block, int32_t stream, QorSourceProc callback,
                double frameRate, const char* traceName) {
  QorRec* rec = g_running;
  if (StopRequested()) {
    block->finished = kTrue;
    ConForm::ConSetStop(ConForm::kStopKeep);
    return;
  }
  ResetBlock(block, frameRate);
  rec->currentBlock = block;
  rec->currentStream = stream;
  if (callback) {
    LogLine(std::string("  ") + Common::ExportName(traceName));
    LogValue("  blockNum", IntToStrAuto(block->blockNum));
    CallHost(traceName, [&] { callback(rec, block->blockNum); });
    ForgetFreedSourceBuffers(block);
  }
  // The block is the host's only while its callback runs.
  rec->currentBlock = nullptr;
  if (block->kind != ConForm::kBlockSkip) block->blockNum++;
  if (block->kind == ConForm::kBlockNone) block->finished = kTrue;
}

void VideoSourceStep(QorSrcBlock* block) {
  SourceStep(block, kStreamVideo, g_running.load()->videoSource, g_running.load()->frameRate,
             "QorMain._QorVideoSourceCallback");
}

void AudioSourceStep(QorSrcBlock* block) {
  SourceStep(block, kStreamAudio, g_running.load()->audioSource, Basic::K_AUTO_REAL,
             "QorMain._QorAudioSourceCallback");
}

int32_t DitherModeOf(int32_t ditheringType) {
  if (ditheringType == 1 || ditheringType == 2) return ditheringType;
  return PalOpt::kDitherNone;
}

// The frame at the output size, shown to the host, then brought to the
// output's size and depth (and to the palette in the writing pass of an
// 8-bit output). Frame and spare take turns as source and target.
Qimg* PrepareFrame(QorRec* rec, Qimg* image, Qimg* spare) {
  auto step = [&](auto&& operation) {
    operation(image, spare);
    std::swap(image, spare);
  };
  if (!On(rec->autoRes) &&
      (image->width != rec->width || image->height != rec->height))
    step([&](Qimg* s, Qimg* d) { ImgBasic::ImgResample(s, d, rec->width, rec->height); });
  if (rec->videoFunc) {
    rec->currentStream = kStreamVideo;
    Common::LendScope lent(image);
    CallHost("QorMain._QorVideoFuncCallback.host",
             [&] { rec->videoFunc(rec, image, rec->curFrame); });
    ForgetFreedImage(image);
    ForgetFreedImage(spare);
  }
  if (image->size <= 0 || !image->data) return nullptr;
  if (On(rec->forceCompat)) {
    int32_t width = image->width, height = image->height;
    Common::MakeCompatibleRes(&width, &height);
    if (width != image->width || height != image->height)
      step([&](Qimg* s, Qimg* d) { ImgBasic::ImgResample(s, d, width, height); });
  }
  if (rec->bpp != 8 && rec->bpp != image->bitsPerPixel)
    step([&](Qimg* s, Qimg* d) { ImgBasic::ImgConvBpp(s, d, rec->bpp); });
  if (rec->status == Common::kPhasePalette) {
    PalOpt::PalCountColors(image);
  } else if (rec->status == Common::kPhaseWriting && On(rec->palettePass)) {
    step([&](Qimg* s, Qimg* d) { PalOpt::PalRemap(s, d, DitherModeOf(rec->dither)); });
  }
  return image;
}

void VideoFuncStep(ConForm::ConFrameRec* frame) {
  QorRec* rec = g_running;
  LogLine("  _QorVideoFuncCallback");
  LogValue("  curFrame", IntToStrAuto(rec->curFrame));
  frame->imageOut = nullptr;
  if (StopRequested()) {
    ConForm::ConSetStop(ConForm::kStopKeep);
  } else {
    Qimg* out = nullptr;
    Errors::MonitoredQuiet("QorMain._QorVideoFuncCallback", [&] {
      out = PrepareFrame(rec, frame->imageIn, frame->spare);
    });
    if (Errors::ErrNone()) {
      frame->imageOut = out;
    } else {
      // Recorded, and the frame is dropped.
      Common::SetStatus(Common::kStatusLibraryError);
      Errors::ErrClear();
      ForgetFreedImage(frame->imageIn);
      ForgetFreedImage(frame->spare);
    }
  }
  rec->curFrame++;
}

void AudioFuncStep(ConForm::ConSndRec* slice) {
  QorRec* rec = g_running;
  LogLine("  _QorAudioFuncCallback");
  LogValue("  curSample", IntToStrAuto(Common::Clamp32(rec->curSample)));
  slice->soundOut = nullptr;
  int32_t frames = slice->soundIn->frames;
  if (StopRequested()) {
    ConForm::ConSetStop(ConForm::kStopKeep);
    frames = 0;
  } else {
    SndRec* sound = slice->soundIn;
    Errors::MonitoredQuiet("QorMain._QorAudioFuncCallback", [&] {
      if (SndBasic::WaveFormatDiffers(sound->format, rec->wave)) {
        SndBasic::SndConvert(*sound, *slice->spare, rec->wave);
        sound = slice->spare;
      }
      if (rec->audioFunc) {
        rec->currentStream = kStreamAudio;
        Common::LendScope lent(sound);
        CallHost("QorMain._QorAudioFuncCallback.host",
                 [&] { rec->audioFunc(rec, sound, Common::Clamp32(rec->curSample)); });
        ForgetFreedSound(sound);
      }
    });
    if (Errors::ErrNone()) {
      if (sound->data) slice->soundOut = sound;
    } else {
      Common::SetStatus(Common::kStatusLibraryError);
      Errors::ErrClear();
      ForgetFreedSound(slice->soundIn);
      ForgetFreedSound(slice->spare);
    }
  }
  rec->curSample += frames;
}

void CallUserProgress(QorRec* rec, int32_t status) {
  if (!g_progressSlot) return;
  LogLine("  _QorCallUserProgress");
  LogValue("  doneFrames", IntToStrAuto(rec->doneFrames));
  LogValue("  doneSamples", IntToStrAuto(Common::Clamp32(rec->doneSamples)));
  CallHost("QorMain._QorCallUserProgress", [&] {
    g_progressSlot(rec, status, rec->doneFrames, Common::Clamp32(rec->doneSamples));
  });
}

void ProgressStep(ConForm::ConProgressRec* progress) {
  QorRec* rec = g_running;
  rec->doneFrames = progress->framesDone;
  rec->videoSeconds = progress->videoSeconds;
  rec->doneSamples = progress->samplesDone;
  rec->audioSeconds = progress->audioSeconds;
  CallUserProgress(rec, rec->status);
  if (StopRequested()) ConForm::ConSetStop(ConForm::kStopKeep);
}

void KeepPendingError() {
  g_unanswered.cls = Errors::ErrClass();
  g_unanswered.code = Errors::ErrCode();
  g_unanswered.text = Errors::ErrLastText();
}

void ErrorStep(const std::string& sourceName, int32_t* action) {
  QorRec* rec = g_running;
  // The host's callback finds the error in the last-error record.
  Common::StatusEnd();
  *action = ConForm::kActionDelete;
  if (!rec->error) {
    // Nobody answers: the conversion stops, its outputs are deleted, and the
    // error becomes the conversion's result.
    KeepPendingError();
    return;
  }
  LogLine("  _QorErrorCallback");
  LogValue("  path", sourceName);
  LogValue("  action", IntToStrAuto(*action));
  CallHost("QorMain._QorErrorCallback",
           [&] { rec->error(rec, sourceName.c_str(), action); });
}

// Sets a kept error pending again once every frame is left.
void RestoreUnansweredError() {
  if (g_unanswered.cls == 0 || g_unanswered.code == 0) return;
  if (g_unanswered.code == Errors::kTextCode)
    Errors::ErrSetText(g_unanswered.cls, g_unanswered.text, __LINE__);
  else
    Errors::ErrSet(g_unanswered.cls, g_unanswered.code, __LINE__);
}

void SetEngineHooks(QorRec* rec) {
  const bool video = rec->videoSource != nullptr;
  const bool audio = rec->audioSource != nullptr;
  ConForm::ConSetVideoSource(video ? VideoSourceStep : nullptr);
  ConForm::ConSetVideoFunc(video ? VideoFuncStep : nullptr);
  ConForm::ConSetAudioSource(audio ? AudioSourceStep : nullptr);
  ConForm::ConSetAudioFunc(audio ? AudioFuncStep : nullptr);
  ConForm::ConSetCallbacks(ProgressStep, ErrorStep);
  ConForm::ConSetFrameCount(rec->plannedFrames);
  ConForm::ConSetFrameRate(On(rec->keepDuration), rec->frameRate);
}

// A writing pass that wrote nothing because not one source block could be
// described did not convert: the first dropped file names the reason, a
// missing file (6, 1) or one that no reader takes (6, 9). An undescribable
// block among good ones is still only dropped.
bool g_everySourceDropped = false;

void FailWhenEverySourceDropped(const ConForm::ConResultRec& result) {
  if (result.framesWritten != 0 || result.samplesWritten != 0) return;
  if (result.blocksDescribed != 0 || result.firstDropped.empty()) return;
  g_everySourceDropped = true;
  const std::string& name = result.firstDropped;
  Errors::Monitored("QorMain.QorConvert.nothingConverted", [&] {
    Basic::SetLastFileName(name);
    Errors::ErrSet(Basic::FileExists(name) ? Errors::kErrFileNotExist : Errors::kErrFileOpen,
                   __LINE__);
  });
}

// The palette pass reads every source and counts the colours; the writing
// pass writes. Each asks the source callbacks from block 0 again.
void RunPasses(QorRec* rec) {
  ConForm::ConResultRec result;
  if (On(rec->palettePass)) {
    LogLine("  computing palette");
    PalOpt::PalInit();
    PalOpt::PalClearVars();
    SetPhase(rec, Common::kPhasePalette);
    rec->curFrame = 0;
    ConForm::ConStart("", "", rec->videoSave, &result);
    if (!StopRequested()) PalOpt::PalReduce(256);
  }
  if (StopRequested()) return;
  LogLine("  writing to file");
  SetPhase(rec, Common::kPhaseWriting);
  rec->curFrame = 0;
  rec->curSample = 0;
  ConForm::ConSetStop(ConForm::kStopNone);
  ConForm::ConStart(rec->videoName, rec->audioName, rec->videoSave, &result);
  if (!StopRequested()) FailWhenEverySourceDropped(result);
}

// Preparation and both passes; returns the call status they set (0 or 1).
int32_t RunConversion(QorRec* rec) {
  CallUserProgress(rec, Common::kPhasePreparing);
  if (StopRequested()) return Common::kStatusOk;
  if (!_QorPrepareOutput(rec)) return Common::kStatusInvalidOutput;
  SetEngineHooks(rec);
  RunPasses(rec);
  return Common::kStatusOk;
}

// The end of every conversion, failed ones included: palette and loop
// state, the shared buffers, status 0 and the final progress report. The
// record is not touched after that report: the host may free it there.
void EndConversion(QorRec* rec) {
  ForgetFreedSourceBuffers(nullptr);
  Errors::MonitoredQuiet("QorMain.QorConvert.end", [&] {
    if (On(rec->palettePass)) PalOpt::PalDone();
    ConForm::ConDone();
  });
  rec->currentBlock = nullptr;
  rec->currentStream = 0;
  SetPhase(rec, Common::kPhaseIdle);
  CallUserProgress(rec, Common::kPhaseIdle);
  ReleaseSourceBuffers();
  g_running.store(nullptr);
  g_progressSlot = nullptr;
}

// The record a source export writes into: the block lent to the running
// source callback of this handle, or nullptr outside one.
QorSrcBlock* CurrentBlock(QorHandle mData) {
  QorRec* rec = _QorRecOf(mData);
  return rec == g_running ? rec->currentBlock : nullptr;
}

int32_t CurrentStream(QorHandle mData) { return _QorRecOf(mData)->currentStream; }

// Sample frames, rate, channels and bits a host hands over; bytes are
// counted in 64 bits.
void CheckSamples(const void* sndPtr, int32_t numOfSamples, int32_t sampleRate,
                  int32_t channels, int32_t bits) {
  Errors::Monitored("QorMain.QorSrcSetSamples.check", [&] {
    if (numOfSamples < 0) Errors::ErrSet(Errors::kErrOutOfRange, __LINE__);
    if (!sndPtr) return;
    if (sampleRate <= 0 || channels <= 0 || bits <= 0)
      Errors::ErrSet(Errors::kErrAudioFormat, __LINE__);
    SndBasic::WaveFormatEx format{};
    SndBasic::WaveFormatSetPCM(format, sampleRate, channels, bits);
    if (!SndBasic::WaveFormatValidate(format))
      Errors::ErrSet(Errors::kErrAudioFormat, __LINE__);
    if (int64_t{numOfSamples} * format.blockAlign > INT32_MAX)
      Errors::ErrSet(Errors::kErrOutOfRange, __LINE__);
  });
}

void SetSamples(QorSrcBlock* block, const void* sndPtr, int32_t numOfSamples,
                int32_t sampleRate, int32_t channels, int32_t bits) {
  SndRec& sound = SourceSound();
  Errors::Monitored("QorMain.QorSrcSetSamples", [&] {
    SndBasic::WaveFormatEx format{};
    SndBasic::WaveFormatSetPCM(format, sampleRate, channels, bits);
    SndBasic::WaveFormatValidate(format);
    const int64_t bytes = int64_t{numOfSamples} * format.blockAlign;
    if (bytes > 0) {
      SndBasic::_sndalloc_(sound, bytes, __LINE__, "QorMain.QorSrcSetSamples.gSnd");
      std::memcpy(sound.data, sndPtr, static_cast<size_t>(bytes));
    } else {
      SndBasic::SndFree(sound);
    }
    sound.format = format;
    sound.frames = numOfSamples;
  });
  block->data = &sound;
  block->kind = ConForm::kBlockMemory;
}

// Pictures belong in video blocks and sounds in audio blocks: the engine
// reads a block's data as what its stream carries.
bool StreamTakes(QorHandle mData, int32_t stream) {
  if (CurrentStream(mData) == stream) return true;
  Errors::Monitored("QorMain.SourceStream", [] {
    Errors::ErrSet(Errors::kErrNotSupported, __LINE__);
  });
  return false;
}

bool KnownDepth(int32_t bpp) {
  return bpp == 8 || bpp == 15 || bpp == 16 || bpp == 24 || bpp == 32;
}

// Size and depth a host hands over; bytes are counted in 64 bits.
void CheckPixels(int32_t resX, int32_t resY, int32_t bpp) {
  Errors::Monitored("QorMain.QorSrcSetPixels.check", [&] {
    if (!KnownDepth(bpp)) Errors::ErrSet(Errors::kErrImageNotSupported, __LINE__);
    ImgBasic::CheckedImageBytes(resX, resY, bpp, __LINE__);
  });
}

void SetPixels(QorSrcBlock* block, const void* pixPtr, const void* palPtr,
               int32_t resX, int32_t resY, int32_t bpp) {
  Qimg& image = SourceImage();
  Errors::Monitored("QorMain.QorSrcSetPixels", [&] {
    const auto* palette = static_cast<const uint8_t*>(palPtr);
    if (pixPtr) {
      ImgBasic::RawToQimg(&image, static_cast<const uint8_t*>(pixPtr), palette,
                          bpp, resY, resX);
    } else {
      ImgBasic::_imgalloc_(&image, resX, resY, "QorMain.QorSrcSetPixels.gImg",
                           __LINE__, bpp);
      std::memset(image.data, 0, static_cast<size_t>(image.size));
      std::memset(image.palette, 0, sizeof image.palette);
      if (bpp == 8 && palette) std::memcpy(image.palette, palette, sizeof image.palette);
    }
  });
  block->data = &image;
  block->kind = ConForm::kBlockMemory;
}

void SetFile(QorSrcBlock* block, int32_t stream, const char* filename) {
  char*& buffer = stream == kStreamVideo ? VideoSourceName() : AudioSourceName();
  const size_t length = std::strlen(filename);
  Basic::MemFree(buffer);
  Basic::MemAlloc(buffer, static_cast<int64_t>(length) + 1, __LINE__,
                  Basic::kMemString, kNameLabel);
  std::memcpy(buffer, filename, length + 1);
  block->kind = ConForm::kBlockFile;
  block->data = buffer;
  block->frameRate = Basic::K_AUTO_REAL;
}

// ---- quick conversion ------------------------------------------------------

QorFileList* g_qcVideo = nullptr;
QorFileList* g_qcAudio = nullptr;
bool g_qcReadFailed = false;
// The first failure of the one-call conversion's own source callbacks (no
// room for a name): the callback frame only records it, so it is kept here
// to become the conversion's result.
UnansweredError g_qcFailure;

void QuickSourceBody(QorHandle mData, int32_t blockNum, const QorFileList* list,
                     const char* label) {
  // A host-sized name buffer, as the source exports expect a C string.
  char* name = nullptr;
  Basic::MemAlloc(name, kMaxListName, __LINE__, Basic::kMemString, label);
  std::string text;
  _QorListGetName(list, blockNum, &text);
  const size_t n = std::min(text.size(), kMaxListName - 1);
  std::memcpy(name, text.data(), n);
  name[n] = '\0';
  QorSrcBlock* block = CurrentBlock(mData);
  if (block) {
    if (name[0] == '\0')
      block->finished = kTrue;
    else
      SetFile(block, CurrentStream(mData), name);
  }
  Basic::MemFree(name);
}

void QuickSource(QorHandle mData, int32_t blockNum, const QorFileList* list,
                 const char* label) {
  Errors::MonitoredQuiet("QorMain._QC_Source",
                         [&] { QuickSourceBody(mData, blockNum, list, label); });
  if (Errors::ErrNone() || g_qcFailure.cls != 0) return;
  g_qcFailure = {Errors::ErrClass(), Errors::ErrCode(), Errors::ErrLastText()};
}

void QOR_CALL _QC_VideoSource(QorHandle mData, int32_t blockNum) {
  Errors::TraceScope t("QorMain._QC_VideoSource");
  QuickSource(mData, blockNum, g_qcVideo, "QorMain._QC_VideoSource.pName");
}

void QOR_CALL _QC_AudioSource(QorHandle mData, int32_t blockNum) {
  Errors::TraceScope t("QorMain._QC_AudioSource");
  QuickSource(mData, blockNum, g_qcAudio, "QorMain._QC_AudioSource.pName");
}

void QOR_CALL _QC_Error(QorHandle, const char*, int32_t* action) {
  *action = ConForm::kActionKeep;
  g_qcReadFailed = true;
}

// The record's settings from the lists and the caller's values.
void SetUpQuickRecord(QorRec* rec, const std::string& out, const std::string& vid,
                      const std::string& aud, int32_t resX, int32_t resY, double fps) {
  double listRate = QorListGetFrameRate(g_qcVideo);
  if (!(listRate > 0.0)) listRate = 30.0;
  if (resX == Basic::K_AUTO) resX = g_qcVideo->width;
  if (resY == Basic::K_AUTO) resY = g_qcVideo->height;
  if (std::fabs(fps - Basic::K_AUTO_REAL) < 0.0001) fps = listRate;
  _QorSetFrameRate(rec, fps);
  _QorSetResolution(rec, resX, resY);
  _QorSetBpp(rec, g_qcVideo->bpp);
  _QorForceCompatibility(rec, kTrue);
  _QorSetAudioFormat(rec, g_qcAudio->sampleRate, g_qcAudio->channels, g_qcAudio->bits);
  rec->videoSource = vid.empty() ? nullptr : _QC_VideoSource;
  rec->audioSource = aud.empty() ? nullptr : _QC_AudioSource;
  rec->error = _QC_Error;
  _QorSetOutputFile(rec, vid.empty() ? "" : out, aud.empty() ? "" : out);
}

// Lists, settings and the conversion; the conversion itself runs outside
// any frame, as a host's call would. The record is made outside the frames
// that fill it, so a failure there leaves it to be freed once, here.
int32_t RunQuickConversion(const std::string& out, const std::string& vid,
                           const std::string& aud, int32_t resX, int32_t resY,
                           double fps) {
  bool haveSource = false;
  Errors::MonitoredQuiet("QorMain.QorQuickConvert", [&] {
    _QorListAdd(g_qcVideo, vid, 8, nullptr, nullptr);
    _QorListAdd(g_qcAudio, aud, 16, nullptr, nullptr);
    haveSource = !g_qcVideo->names.empty() || !g_qcAudio->names.empty();
  });
  QorRec* rec = nullptr;
  if (Errors::ErrNone() && haveSource)
    Errors::MonitoredQuiet("QorMain.QorQuickConvert.record", [&] { rec = _QorAlloc(); });
  if (rec)
    Errors::MonitoredQuiet("QorMain.QorQuickConvert.settings",
                           [&] { SetUpQuickRecord(rec, out, vid, aud, resX, resY, fps); });
  if (!Errors::ErrNone()) {
    KeepPendingError();
    _QorFree(rec);
    return Common::kStatusLibraryError;
  }
  if (!haveSource) return Common::kStatusNoSource;
  int32_t result = _QorConvert(rec);
  if (g_qcFailure.cls != 0 && result == Common::kStatusOk) {
    g_unanswered = g_qcFailure;  // set pending again by the export
    result = Common::kStatusLibraryError;
  }
  if (g_qcReadFailed && result == Common::kStatusOk) result = Common::kStatusNoSource;
  // Its sources vanished after they were listed: no usable source after all.
  if (g_everySourceDropped && result == Common::kStatusLibraryError) {
    Errors::ErrClear();
    g_unanswered = UnansweredError{};
    result = Common::kStatusNoSource;
  }
  _QorFree(rec);
  return result;
}

}  // namespace

bool _QorPrepareOutput(QorRec* rec) {
  LogLine("  _QorPrepareOutput");
  ConForm::FFSaveSetFmt(&rec->videoSave, rec->videoFormat);
  ConForm::FFSaveSetFmt(&rec->audioSave, rec->audioFormat);
  const bool video = rec->videoFormat != Basic::K_AUTO;
  const bool audio = rec->audioFormat != Basic::K_AUTO;
  if (video) {
    if (On(rec->forceCompat)) Common::MakeCompatibleRes(&rec->width, &rec->height);
    if (rec->videoFormat == ConForm::kFmtMPEG)
      rec->frameRate = FF_MPG::MpgStdFrameRate(rec->frameRate);
  }
  if (audio) SetAudioCodecDefaults(rec);
  if (!video && !audio) return false;
  if (!audio) rec->audioName.clear();
  ConForm::ConSetTruncateAudio(On(rec->truncateAudio));
  auto prepare = [&] {
    ConForm::FFSavePrepare(&rec->videoSave, rec->width, rec->height, rec->wave,
                           &rec->wave, &rec->audioSave, rec->bpp);
  };
  auto refused = [&] {
    return rec->videoSave.preparedBits == Basic::K_AUTO || rec->videoSave.preparedBits == 0;
  };
  prepare();
  if (video && On(rec->forceCompat)) {
    if (refused()) {
      LogLine("    codec rejected for videoFF=" + IntToStrAuto(rec->videoFormat));
      ConForm::FFSaveSetCodec(&rec->videoSave,
                              static_cast<int32_t>(FFBasic::MakeFourCC('c', 'v', 'i', 'd')));
      prepare();
      if (refused()) return false;
    }
    rec->bpp = rec->videoSave.preparedBits;
    rec->width = rec->videoSave.preparedWidth;
    rec->height = rec->videoSave.preparedHeight;
  }
  if (video) rec->palettePass = rec->bpp == 8 ? kTrue : 0;
  return true;
}

bool _QorRunningPhase(QorHandle mData, int32_t* phase) {
  if (!mData || g_running.load() != mData) return false;
  *phase = g_runningPhase.load();
  return true;
}

bool _QorRequestStop(QorHandle mData) {
  if (!mData) return false;
  uint64_t state = g_runState.load();
  // The serial is read before the handle: when the exchange succeeds, no
  // other conversion has started since this one was seen running.
  do {
    if (g_running.load() != mData) return false;
  } while (!g_runState.compare_exchange_weak(state, state | kStopBit));
  return true;
}

int32_t _QorConvert(QorRec* rec) {
  LogLine("===== QorConvert - Init =====");
  LogValue("mData", PtrToStrLog(rec));
  if (g_running) {
    // From inside a callback: the running conversion goes on untouched.
    Common::SetStatus(Common::kStatusException);
    LogLine("===== QorConvert: Done =====");
    return Common::kStatusException;
  }
  NextRunSerial();
  g_running.store(rec);
  g_progressSlot = rec->progress;
  g_unanswered = UnansweredError{};
  g_everySourceDropped = false;
  SetPhase(rec, Common::kPhasePreparing);
  Predict::Predict_Init(&rec->videoPredict);
  Predict::Predict_Init(&rec->audioPredict);
  rec->doneFrames = rec->doneSamples = 0;
  rec->videoSeconds = rec->audioSeconds = 0.0;
  rec->palettePass = 0;

  int32_t status = Common::kStatusOk;
  Errors::MonitoredQuiet("QorMain.QorConvert", [&] { status = RunConversion(rec); });
  // A failure's pair outlives the clean-up's own frames.
  if (!Errors::ErrNone()) KeepPendingError();
  const bool aborted = StopRequested();
  EndConversion(rec);
  RestoreUnansweredError();
  if (!Errors::ErrNone())
    status = Common::kStatusLibraryError;
  else if (aborted)
    status = Common::kStatusAborted;
  Common::SetStatus(status);
  LogLine("===== QorConvert: Done =====");
  return status;
}

}  // namespace QorMain

using namespace QorMain;

namespace {

void LogHandle(QorHandle mData) { LogValue("mData", PtrToStrLog(mData)); }

// The source exports share one frame: log the handle and the arguments, then
// write into the lent block; outside a source callback nothing changes.
template <class Body>
void SourceExport(const char* traceName, QorHandle mData, Body&& body) {
  Common::ExportFrameVoid(traceName, [&] {
    LogHandle(mData);
    QorSrcBlock* block = CurrentBlock(mData);
    ForgetFreedSourceBuffers(block);
    body(block);
  });
}

}  // namespace

QOR_API int32_t QOR_CALL QorConvert(QorHandle mData) {
  // Held over the closing line of the call log as well.
  Common::LibraryLock lock;
  Common::ExportFrameVoid("QorMain.QorConvert", [&] { _QorConvert(_QorRecOf(mData)); });
  return Common::LastError().code;
}

QOR_API void QOR_CALL QorAbort(QorHandle mData) {
  // While another thread is in the library, the running conversion is
  // stopped through the atomics alone (this thread's own record says
  // success); any other handle waits for the library.
  const auto lock = Common::LockUnless([&] { return _QorRequestStop(mData); });
  if (!lock.owns_lock()) {
    Common::StatusBegin();
    Common::StatusEnd();
    return;
  }
  Common::ExportFrameVoid("QorMain.QorAbort", [&] {
    LogHandle(mData);
    _QorRequestStop(_QorRecOf(mData));
  });
}

QOR_API void QOR_CALL QorTruncateAudioToVideo(QorHandle mData, QorBool truncateAudio) {
  Common::ExportFrameVoid("QorMain.QorTruncateAudioToVideo", [&] {
    LogHandle(mData);
    LogValue("truncateAudio", Common::BoolToStrLog(truncateAudio != 0));
    _QorRecOf(mData)->truncateAudio = truncateAudio != 0 ? kTrue : 0;
  });
}

// The six callback slots.
#define QOR_ASSIGN_EXPORT(Name, Field, Type)                              \
  QOR_API void QOR_CALL Name(QorHandle mData, Type procedure) {            \
    Common::ExportFrameVoid("QorMain." #Name, [&] {                       \
      LogHandle(mData);                                                   \
      _QorRecOf(mData)->Field = procedure;                                \
    });                                                                   \
  }

QOR_ASSIGN_EXPORT(QorAssignVideoSource, videoSource, QorSourceProc)
QOR_ASSIGN_EXPORT(QorAssignVideoFunc, videoFunc, QorVideoFuncProc)
QOR_ASSIGN_EXPORT(QorAssignAudioSource, audioSource, QorSourceProc)
QOR_ASSIGN_EXPORT(QorAssignAudioFunc, audioFunc, QorAudioFuncProc)
QOR_ASSIGN_EXPORT(QorAssignProgress, progress, QorProgressProc)
QOR_ASSIGN_EXPORT(QorAssignError, error, QorErrorProc)
#undef QOR_ASSIGN_EXPORT

QOR_API void QOR_CALL QorSrcSetFile(QorHandle mData, const char* filename) {
  SourceExport("QorMain.QorSrcSetFile", mData, [&](QorSrcBlock* block) {
    LogValue("filename", filename ? filename : "");
    Common::Require(filename, "filename");
    if (block) SetFile(block, CurrentStream(mData), filename);
  });
}

QOR_API void QOR_CALL QorSrcSetImg(QorHandle mData, QorHandle mImg) {
  SourceExport("QorMain.QorSrcSetImg", mData, [&](QorSrcBlock* block) {
    LogValue("mImg", Common::ImgToStrLog(mImg));
    const Qimg* image = Common::ImgOf(mImg, "mImg");
    if (!block || !StreamTakes(mData, kStreamVideo)) return;
    ImgBasic::ImgCopy(image, &SourceImage());
    block->data = &SourceImage();
    block->kind = ConForm::kBlockMemory;
  });
}

QOR_API void QOR_CALL QorSrcSetDIB(QorHandle mData, QorHandle hDib) {
  SourceExport("QorMain.QorSrcSetDIB", mData, [&](QorSrcBlock* block) {
    LogValue("hDib", PtrToStrLog(hDib));
    if (!block || !StreamTakes(mData, kStreamVideo)) return;
    if (!ImgBasic::HBitmapToQimg(static_cast<Gdi::HBITMAP>(hDib), &SourceImage()))
      return;
    block->data = &SourceImage();
    block->kind = ConForm::kBlockMemory;
  });
}

QOR_API void QOR_CALL QorSrcSetPixels(QorHandle mData, const void* pixPtr,
                                      const void* palPtr, int32_t resX,
                                      int32_t resY, int32_t bpp) {
  SourceExport("QorMain.QorSrcSetPixels", mData, [&](QorSrcBlock* block) {
    LogValue("pixPtr", PtrToStrLog(pixPtr));
    LogValue("palPtr", PtrToStrLog(palPtr));
    LogValue("resX", IntToStrAuto(resX));
    LogValue("resY", IntToStrAuto(resY));
    LogValue("bpp", IntToStrAuto(bpp));
    CheckPixels(resX, resY, bpp);
    if (block && StreamTakes(mData, kStreamVideo))
      SetPixels(block, pixPtr, palPtr, resX, resY, bpp);
  });
}

QOR_API void QOR_CALL QorSrcSetSamples(QorHandle mData, const void* sndPtr,
                                       int32_t numOfSamples, int32_t sampleRate,
                                       int32_t channels, int32_t bits) {
  SourceExport("QorMain.QorSrcSetSamples", mData, [&](QorSrcBlock* block) {
    LogValue("sndPtr", PtrToStrLog(sndPtr));
    LogValue("numOfSamples", IntToStrAuto(numOfSamples));
    LogValue("sampleRate", IntToStrAuto(sampleRate));
    LogValue("channels", IntToStrAuto(channels));
    LogValue("bits", IntToStrAuto(bits));
    CheckSamples(sndPtr, numOfSamples, sampleRate, channels, bits);
    if (!block || !StreamTakes(mData, kStreamAudio)) return;
    if (sndPtr) {
      SetSamples(block, sndPtr, numOfSamples, sampleRate, channels, bits);
      return;
    }
    // No samples: a silence block of that many samples' time.
    block->kind = ConForm::kBlockSilence;
    block->data = nullptr;
    block->lengthTime =
        sampleRate > 0 ? static_cast<double>(numOfSamples) / sampleRate : 1.0;
  });
}

QOR_API void QOR_CALL QorSrcSetFrameRate(QorHandle mData, double fps) {
  SourceExport("QorMain.QorSrcSetFrameRate", mData, [&](QorSrcBlock* block) {
    LogValue("fps", FloatToStrAuto(fps));
    if (block) block->frameRate = fps;
  });
}

QOR_API void QOR_CALL QorSrcSetDirection(QorHandle mData, int32_t direction) {
  SourceExport("QorMain.QorSrcSetDirection", mData, [&](QorSrcBlock* block) {
    LogValue("direction", IntToStrAuto(direction));
    if (block) block->direction = direction;
  });
}

QOR_API void QOR_CALL QorSrcSetStart(QorHandle mData, int32_t quant) {
  SourceExport("QorMain.QorSrcSetStart", mData, [&](QorSrcBlock* block) {
    LogValue("quant", IntToStrAuto(quant));
    if (!block) return;
    // Frames count from 1, samples from 0.
    const bool video = CurrentStream(mData) == kStreamVideo;
    block->start = video && quant != Basic::K_AUTO && quant < INT32_MAX ? quant + 1 : quant;
  });
}

QOR_API void QOR_CALL QorSrcSetLen(QorHandle mData, int32_t quants) {
  SourceExport("QorMain.QorSrcSetLen", mData, [&](QorSrcBlock* block) {
    LogValue("quants", IntToStrAuto(quants));
    if (block) block->length = quants;
  });
}

QOR_API void QOR_CALL QorSrcSetStartTime(QorHandle mData, double sec) {
  SourceExport("QorMain.QorSrcSetStartTime", mData, [&](QorSrcBlock* block) {
    LogValue("sec", FloatToStrAuto(sec));
    if (block) block->startTime = sec;
  });
}

QOR_API void QOR_CALL QorSrcSetLenTime(QorHandle mData, double sec) {
  SourceExport("QorMain.QorSrcSetLenTime", mData, [&](QorSrcBlock* block) {
    LogValue("sec", FloatToStrAuto(sec));
    if (block) block->lengthTime = sec;
  });
}

QOR_API void QOR_CALL QorSrcSkip(QorHandle mData) {
  SourceExport("QorMain.QorSrcSkip", mData, [&](QorSrcBlock* block) {
    if (block) block->kind = ConForm::kBlockSkip;
  });
}

QOR_API void QOR_CALL QorSrcFinished(QorHandle mData) {
  SourceExport("QorMain.QorSrcFinished", mData, [&](QorSrcBlock* block) {
    if (block) block->finished = kTrue;
  });
}

QOR_API int32_t QOR_CALL QorQuickConvert(const char* out, const char* vid,
                                         const char* aud, int32_t resX,
                                         int32_t resY, double fps) {
  int32_t result = Common::kStatusException;
  Common::ExportFrameVoid("QorMain.QorQuickConvert", [&] {
    const std::string outName = out ? out : "";
    const std::string vidSpec = vid ? vid : "";
    const std::string audSpec = aud ? aud : "";
    LogValue("out", outName);
    LogValue("vid", vidSpec);
    LogValue("aud", audSpec);
    LogValue("resX", IntToStrAuto(resX));
    LogValue("resY", IntToStrAuto(resY));
    LogValue("fps", FloatToStrAuto(fps));
    if (g_running) {
      result = Common::kStatusException;
      Common::SetStatus(result);
      return;
    }
    g_qcReadFailed = false;
    g_qcFailure = UnansweredError{};
    g_unanswered = UnansweredError{};
    // Each list in a frame of its own: a refused second list must not take
    // the first with it, which is freed below like any other.
    Errors::MonitoredQuiet("QorMain.QorQuickConvert.videoList",
                           [] { g_qcVideo = _QorListAlloc(); });
    if (g_qcVideo)
      Errors::MonitoredQuiet("QorMain.QorQuickConvert.audioList",
                             [] { g_qcAudio = _QorListAlloc(); });
    if (g_qcVideo && g_qcAudio)
      result = RunQuickConversion(outName, vidSpec, audSpec, resX, resY, fps);
    else
      result = Common::kStatusLibraryError;
    _QorListFree(g_qcVideo);
    _QorListFree(g_qcAudio);
    g_qcVideo = g_qcAudio = nullptr;
    // The record says what the result says, the error pair included.
    if (result == Common::kStatusLibraryError) RestoreUnansweredError();
    Common::SetStatus(result);
    LogValue("result", IntToStrAuto(result));
  });
  const int32_t code = Common::LastError().code;
  return code;
}
