// The exported interface's shared state: the last-error record and the call
// status, the call-log switch and its value printers, the conversion record,
// and the frame every export runs in.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "foundation/Errors.h"
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

// The process-wide last-error record (same layout as the host's copy).
QorLastError& LastError();
void ClearLastError();

void SetStatus(int32_t status);
void StatusBegin();
// Call only from inside a catch block.
void StatusException();
int32_t StatusEnd();

// The text of a record's call status, as QorMakeErrorStr gives it.
std::string StatusText(const QorLastError& rec);

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

// ---- conversion record ----------------------------------------------------
// A name field: up to 255 characters behind a length byte.
struct ShortStr {
  uint8_t length;
  char text[255];
};

// One conversion handle. Booleans are 32-bit (-1 true); reals 64-bit.
struct QorRec {
  int32_t plannedFrames;
  int32_t videoFormat;
  ShortStr videoName;
  int32_t width;
  int32_t height;
  int32_t autoRes;
  int32_t bpp;
  int32_t dither;
  double frameRate;
  int32_t keepDuration;
  int32_t direction;
  int32_t forceCompat;
  // The video save options, audio output format and name, wave format,
  // audio save options and the rest of the conversion state follow here;
  // the status is the field the call-status export reads.
  int32_t status;
};
static_assert(std::is_trivially_copyable_v<QorRec>);

// Conversion phases held in QorRec::status.
enum : int32_t {
  kPhaseIdle = 0,
  kPhasePreparing = 1,
  kPhasePalette = 2,
  kPhaseWriting = 3,
};

// ---- export frame ---------------------------------------------------------
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

// The export's own name from its trace name ("QorMain.QorRGB" -> "QorRGB").
const char* ExportName(const char* traceName);

// Every export that does work runs its body here: trace name pushed, status
// reset, the export's name logged, the body under a catch-all (failure value
// and StatusException on any exception), StatusEnd, and the name popped on
// every way out. Nothing is ever thrown to the host.
template <class R, class Body>
R ExportFrame(const char* traceName, R failure, Body&& body) {
  Errors::TracePush(traceName);
  StatusBegin();
  R result = failure;
  try {
    LogLine(ExportName(traceName));
    result = body();
  } catch (...) {
    result = failure;
    StatusException();
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
