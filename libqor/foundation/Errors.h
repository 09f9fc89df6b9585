// The library's one way to fail: error and warning pairs, monitor frames,
// the fixed error texts, the trace file and the call-trace stack.
//
// A routine that must fail as a unit runs its body through Monitored():
// an ErrSet inside it frees what the frame obtained and carries the failure
// outward as EMon, frame by frame, to the exported entry point.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

namespace Errors {

// Code used by the text-carrying setters.
constexpr int32_t kTextCode = 2147483647;
// Codes of the general class: "Out of range." and "Not supported." (such as
// a dialog asked for in a host without a Qt application).
constexpr int32_t kCodeOutOfRange = 1;
constexpr int32_t kCodeNotSupported = 2;
// Depth of the monitor-frame stack and of the call-trace stack.
constexpr int kMaxFrames = 256;
constexpr int kMaxTraceNames = 256;

// Error classes.
enum : int32_t {
  kClsText = 1,
  kClsException = 3,
  kClsGeneral = 4,
  kClsMemory = 5,
  kClsFile = 6,
  kClsImage = 7,
  kClsAudio = 8,
  kClsAvi = 9,
  kClsAviFile = 10,
  kClsVfw = 11,
  kClsMovie = 12,
  kClsWav = 13,
  kClsMovie2 = 14,
  kClsKwb = 15,
  kClsUni = 16,
  kClsFlic = 17,
  kClsAcm = 19,
  kClsMmSystem = 20,
};

// The library's only own exception. Its message is the error text, or empty
// when raised by MonAbort.
class EMon : public std::exception {
 public:
  explicit EMon(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// ---- error pair -----------------------------------------------------------
void ErrSet(int32_t cls, int32_t code, int32_t sourceLine);
void ErrSetText(int32_t cls, const std::string& text, int32_t sourceLine);
void ErrClear();
int32_t ErrClass();
int32_t ErrCode();
bool ErrNone();
std::string ErrText(int32_t cls, int32_t code);
std::string ErrLastText();

// ---- warning pair ---------------------------------------------------------
void WarnSet(int32_t cls, int32_t code, int32_t sourceLine);
void WarnSetText(int32_t cls, const std::string& text, int32_t sourceLine);
void WarnClear();
bool WarnNone();
int32_t WarnClass();
int32_t WarnCode();
std::string WarnText();
// Raises the warning pair as the error, its text included (a layer that
// recognised nothing leaves its reason as a warning); with no warning, the
// pair given.
void ErrSetFromWarning(int32_t cls, int32_t code, int32_t sourceLine);

// ---- monitor frames -------------------------------------------------------
using CleanupRoutine = std::function<void()>;

void MonEnter();
void MonEnterQuiet();
void MonTryNext();
void MonSetCleanup(CleanupRoutine routine);
void MonAbort();
void MonOnException();
void MonLeave();
int MonDepth();

// Internal steps, public for the units that must bypass the frame pattern.
void MonRaise(int32_t cls, int32_t code);
void MonFreeToMarks();
void ErrGuardOn();
void ErrGuardOff();
void MonSuspend();
void MonResume();

// The message of the exception currently being handled, as the library
// reports it ("type: message"), cut to 1024 characters. Call only from
// inside a catch block.
std::string CurrentExceptionText();

// ---- trace file and call-trace stack --------------------------------------
void TracePush(const char* name);
void TracePop();
std::string TraceCallPath();
int TraceDepth();
void TraceSetFile(const std::string& path);
std::string TraceFile();
void TraceStart(const std::string& banner);
void TraceStop();
bool TraceRunning();
void TraceWriteLine(const std::string& text);
void TraceWriteLines(const std::string& text);
void TraceMemStatus();
void TraceDiskStatus(const std::string& path);
void TraceError(int32_t cls, int32_t code, int32_t sourceLine);
void TraceWarning(int32_t cls, int32_t code, int32_t sourceLine);

// Leaves the trace alone on this thread while it lives (when `on`): the
// trace belongs to the thread inside the library, and a call answered
// without the library's lock must not touch it. Names pushed and lines
// written meanwhile are dropped.
class TraceMute {
 public:
  explicit TraceMute(bool on);
  ~TraceMute();
  TraceMute(const TraceMute&) = delete;
  TraceMute& operator=(const TraceMute&) = delete;

 private:
  bool was_;
};

// The "OS: " and "CPU: " lines from the platform facts (pure; tested apart).
std::string FormatOsLine(int32_t platformId, uint32_t major, uint32_t minor,
                         uint32_t build);
std::string FormatCpuLine(int32_t processorLevel, uint32_t processors);

// Unload step of the error unit: reports frames still open.
void ErrorsFinalize();

// Pushes a trace name for a routine that needs no frame; pops on every way out.
class TraceScope {
 public:
  explicit TraceScope(const char* name) { TracePush(name); }
  ~TraceScope() { TracePop(); }
  TraceScope(const TraceScope&) = delete;
  TraceScope& operator=(const TraceScope&) = delete;
};

// The frame pattern every monitored routine follows: push the trace name,
// enter the frame, run the body under a catch-all, leave the frame (which may
// raise EMon), and always pop the name.
template <class Body>
void RunFrame(const char* name, bool quiet, Body&& body) {
  TracePush(name);
  if (quiet)
    MonEnterQuiet();
  else
    MonEnter();
  try {
    body();
  } catch (...) {
    MonOnException();
  }
  try {
    MonLeave();
  } catch (...) {
    TracePop();
    throw;
  }
  TracePop();
}

template <class Body>
void Monitored(const char* name, Body&& body) {
  RunFrame(name, false, std::forward<Body>(body));
}

template <class Body>
void MonitoredQuiet(const char* name, Body&& body) {
  RunFrame(name, true, std::forward<Body>(body));
}

}  // namespace Errors
