// The exported interface's shared state: the last-error record and the call
// status, the call-log switch and its value printers, the conversion record,
// and the frame every export runs in.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>

#include "engine/ConFormConv.h"
#include "engine/ConFormSave.h"
#include "engine/Predict.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "media/SndBasic.h"
#include "qor.h"

namespace Common {

// Call status values.
enum : int32_t {
  kStatusOk = 0,
  kStatusInvalidOutput = 1,
  kStatusAborted = 2,
  kStatusNoSource = 3,
  kStatusException = 999,
  kStatusLibraryError = 1000,
};

// The last-error record (same layout as the host's copy); each thread has
// its own, as it has its own pending error pair.
QorLastError& LastError();
void ClearLastError();

void SetStatus(int32_t status);
void StatusBegin();
// Call only from inside a catch block.
void StatusException();
int32_t StatusEnd();

// The text of a record's call status, as QorMakeErrorStr gives it.
std::string StatusText(const QorLastError& rec);

// The library's 32-bit Boolean: -1 for true.
constexpr int32_t kTrue = -1;
inline int32_t Bool32(bool value) { return value ? kTrue : 0; }

// ---- call log -------------------------------------------------------------
bool CallLogOn();
void SetCallLog(bool on);
// One call-log line (through the trace file's "#" writer) while the log is on.
void LogLine(const std::string& text);
// "  name=value".
void LogValue(const char* name, const std::string& value);

std::string IntToStrAuto(int32_t value);
std::string FloatToStrAuto(double value);
std::string BoolToStrLog(bool value);
std::string PtrToStrLog(const void* value);
std::string RGBToStrLog(uint32_t colour);
// width "x" height "x" bits per pixel; "not allocated" for nil, "invalid
// handle" for a pointer that is no live image (it is never read).
std::string ImgToStrLog(const void* image);
// rate "x" channels "x" bits "|" frames; "not allocated" for nil, "invalid
// handle" as for images.
std::string SndToStrLog(const void* sound);

// ---- conversion record ----------------------------------------------------
// One conversion handle, allocated by QorAlloc and freed by QorFree.
// Booleans are 32-bit (-1 true, any non-zero value taken as true); reals
// 64-bit. Names are kept whole here and cut only where a fixed array is
// filled. The output-settings dialog works on a copy of the whole record.
struct QorRec {
  int32_t plannedFrames = 1;  // the output's planned frame count
  int32_t videoFormat = Basic::K_AUTO;
  std::string videoName;
  int32_t width = 320;
  int32_t height = 240;
  int32_t autoRes = -1;  // frames keep their own size
  int32_t bpp = 24;
  int32_t dither = 0;  // 0 none, 1 and 2 the remap's two dithering modes
  double frameRate = 30.0;
  int32_t keepDuration = 0;
  int32_t direction = 1;  // read only by the output-settings dialog
  int32_t forceCompat = 0;
  ConForm::FFSaveRec videoSave;
  int32_t audioFormat = Basic::K_AUTO;
  std::string audioName;
  Acm::WaveFormatEx wave{};  // the output wave format
  ConForm::FFSaveRec audioSave;
  int32_t truncateAudio = 0;
  // host callbacks
  QorSourceProc videoSource = nullptr;
  QorVideoFuncProc videoFunc = nullptr;
  QorSourceProc audioSource = nullptr;
  QorAudioFuncProc audioFunc = nullptr;
  QorProgressProc progress = nullptr;
  QorErrorProc error = nullptr;
  // conversion state
  int32_t currentStream = 0;  // 1 video, 2 audio callback running
  ConForm::QorSrcBlock* currentBlock = nullptr;  // lent to a source callback
  int32_t curFrame = 0;
  int64_t curSample = 0;  // handed to the host clamped to 32 bits
  int32_t palettePass = 0;
  int32_t status = 0;  // the phase; while converting also held in an atomic
  Predict::PredictRec videoPredict;
  int32_t doneFrames = 0;
  double videoSeconds = 0.0;
  Predict::PredictRec audioPredict;
  int64_t doneSamples = 0;  // handed to the host clamped to 32 bits
  double audioSeconds = 0.0;
};

// A 64-bit count as the 32-bit value the interface hands out: at most
// 2147483647, never wrapped round.
int32_t Clamp32(int64_t count);

// Gives every field its default: 320 x 240 at 24 bits, 30 frames per
// second, sound 44100 Hz / 2 channels / 16 bits, no outputs, no callbacks.
void ResetQorRec(QorRec* rec);
// Each value to the nearest multiple of 16 (halves up), at least 16.
void MakeCompatibleRes(int32_t* width, int32_t* height);

// Conversion phases held in QorRec::status.
enum : int32_t {
  kPhaseIdle = 0,
  kPhasePreparing = 1,
  kPhasePalette = 2,
  kPhaseWriting = 3,
};

// ---- export frame ---------------------------------------------------------
// The library's state (tracked memory and files, monitor frames, trace,
// conversion and work areas) is process-wide: one export runs at a time.
// Every export holds this lock for its whole call; it is recursive, so that
// a host callback may call the library again on the same thread. Only the
// stop request and the phase of the running conversion are reached without
// it (QorAbort, QorGetStatus), which ask first and wait for the lock only
// for another handle, a millisecond at a time, so that a conversion
// starting meanwhile is still reached at once; and the calling thread's own
// last-error record (QorGetLastError, QorMakeErrorStr, QorCheckError).
using LibraryMutexType = std::recursive_timed_mutex;
LibraryMutexType& LibraryMutex();

// Takes the lock for a call that may also be answered without it. A free
// lock (or one this thread holds) is taken at once; while another thread
// holds it, answeredWithout() is asked before every millisecond of waiting,
// and true ends the call without the lock (owns_lock() then false).
template <class AnsweredWithout>
std::unique_lock<LibraryMutexType> LockUnless(AnsweredWithout&& answeredWithout) {
  std::unique_lock<LibraryMutexType> lock(LibraryMutex(), std::try_to_lock);
  while (!lock.owns_lock()) {
    if (answeredWithout()) break;
    (void)lock.try_lock_for(std::chrono::milliseconds(1));
  }
  return lock;
}

// The lock when it is free or already this thread's; never waits.
inline std::unique_lock<LibraryMutexType> LockIfFree() {
  return std::unique_lock<LibraryMutexType>(LibraryMutex(), std::try_to_lock);
}

class LibraryLock {
 public:
  LibraryLock() : hold_(LibraryMutex()) {}

 private:
  std::lock_guard<LibraryMutexType> hold_;
};

// What an export raises when the host hands it nil where it needs a handle
// or buffer: the body ends as an unexpected exception would (status 999).
class ENilArgument : public std::runtime_error {
 public:
  explicit ENilArgument(const char* what)
      : std::runtime_error(std::string("nil argument: ") + what) {}
};

template <class T>
T* Require(T* pointer, const char* name) {
  if (!pointer) throw ENilArgument(name);
  return pointer;
}

// A handle the library did not hand out, or has freed already, ends the body
// the same way: reading through it could only crash.
class EBadHandle : public std::runtime_error {
 public:
  explicit EBadHandle(const char* what)
      : std::runtime_error(std::string("invalid handle: ") + what) {}
};

// True when block is a live tracked block allocated under that label.
bool IsTrackedAs(const void* block, const char* label);

template <class T>
T* RequireHandle(void* handle, const char* label, const char* name) {
  if (!handle) throw ENilArgument(name);
  if (!IsTrackedAs(handle, label)) throw EBadHandle(name);
  return static_cast<T*>(handle);
}

// ---- image and sound handles ------------------------------------------------
// The labels of the records QorImgAlloc and QorSndAlloc hand out.
extern const char* const kImgLabel;
extern const char* const kSndLabel;

// The images and sounds the engine lends to a host's callback: valid handles
// for every export of their own kind while the callback runs, but never the
// host's to free. A lend lasts for the scope's lifetime; lends nest. Each
// lend carries its kind (the label of the handles of that kind), so that a
// lent sound handed to an image export is refused as any foreign pointer is.
class LendScope {
 public:
  explicit LendScope(const ImgBasic::Qimg* image);
  explicit LendScope(const SndBasic::SndRec* sound);
  ~LendScope();
  LendScope(const LendScope&) = delete;
  LendScope& operator=(const LendScope&) = delete;

 private:
  LendScope(const void* record, const char* label);
  const void* record_;
};
// True when record is lent as the kind that label names.
bool IsLent(const void* record, const char* label);

// The record behind a host's image or sound handle: one from QorImgAlloc /
// QorSndAlloc that is still live, or one lent to the running callback. Nil
// and anything else (freed, foreign, another kind of handle) end the export
// as an unexpected failure (999) before the record is touched.
ImgBasic::Qimg* ImgOf(void* handle, const char* name);
SndBasic::SndRec* SndOf(void* handle, const char* name);
// The same for the free exports: a lent record is refused too.
ImgBasic::Qimg* OwnImgOf(void* handle, const char* name);
SndBasic::SndRec* OwnSndOf(void* handle, const char* name);

// The export's own name from its trace name ("QorMain.QorRGB" -> "QorRGB").
const char* ExportName(const char* traceName);

// Every export that does work runs its body here: the library lock taken,
// trace name pushed, status reset, the export's name logged, the body under
// a catch-all (failure value and StatusException on any exception),
// StatusEnd, and the name popped on every way out. Nothing is ever thrown to
// the host.
//
// An export called from inside a callback runs within the library's own
// frames; what it obtained for the host (images, sounds, lists, files) is
// marked kept, so that a failure of those frames leaves it to the host.
class HostOwnership {
 public:
  HostOwnership()
      : nested_(Errors::MonDepth() > 0),
        memory_(Basic::MemSequence()),
        files_(Basic::FileSequence()) {}
  ~HostOwnership() {
    if (!nested_) return;
    Basic::MemKeepSince(memory_);
    Basic::FileKeepSince(files_);
  }
  HostOwnership(const HostOwnership&) = delete;
  HostOwnership& operator=(const HostOwnership&) = delete;

 private:
  bool nested_;
  uint64_t memory_;
  int32_t files_;
};

template <class R, class Body>
R ExportFrame(const char* traceName, R failure, Body&& body) {
  LibraryLock lock;
  Errors::TracePush(traceName);
  StatusBegin();
  R result = failure;
  {
    HostOwnership owned;
    try {
      LogLine(ExportName(traceName));
      result = body();
    } catch (...) {
      result = failure;
      StatusException();
    }
  }
  StatusEnd();
  Errors::TracePop();
  return result;
}

template <class Body>
void ExportFrameVoid(const char* traceName, Body&& body) {
  ExportFrame<int>(traceName, 0, [&] {
    body();
    return 0;
  });
}

}  // namespace Common
