#include "foundation/Errors.h"

#include <cxxabi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <typeinfo>
#include <vector>

#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "platform/base/SysInfo.h"
#include "platform/base/UiLayer.h"

namespace Errors {
namespace {

struct Pair {
  int32_t cls = 0;
  int32_t code = 0;
  std::string text;
};

struct MonFrame {
  // Where the tracked blocks and files obtained inside the frame begin.
  uint64_t memoryMark = 0;
  int32_t fileMark = 0;
  bool failed = false;
  bool quiet = false;
  int32_t cls = 0;
  int32_t code = 0;
  CleanupRoutine cleanup;
};

// The pending error and warning pairs belong to the calling thread, as errno
// does: a host thread reads the outcome of its own last call, whatever other
// threads called in between. Everything else here is process-wide and is
// used by one thread at a time (the exports' lock, Common.h).
struct ThreadPairs {
  Pair error;
  Pair warning;
};

ThreadPairs& P() {
  thread_local ThreadPairs pairs;
  return pairs;
}

struct State {
  bool guard = false;
  bool suspended = false;
  bool nextQuiet = false;
  int depth = 0;
  int handlerCount = 0;
  // Index 0 is the root record below depth 1; frames live at 1..256.
  MonFrame frames[kMaxFrames + 1];

  // trace
  std::string tracePath = "trace.txt";
  bool traceRunning = false;
  int traceDepth = 0;
  // Copies, so a caller may push a name built on the fly.
  std::string traceNames[kMaxTraceNames];
};

State& S() {
  static State state;
  return state;
}

std::string Unsigned(int32_t value) {
  return std::to_string(static_cast<uint32_t>(value));
}

// Row texts of the fixed tables; the last entry of each is the class's
// fallback for codes the table does not list.
struct ClassTable {
  int32_t cls;
  std::vector<const char*> rows;  // rows[i] is the text of code i + 1
  const char* other;
};

// Built once from the named table (ErrorNames.h): each class's rows in the
// order of their numbers, and the class's text for the numbers it lacks.
const std::vector<ClassTable>& Tables() {
  static const std::vector<ClassTable> tables = [] {
    std::vector<ClassTable> t;
#define QOR_ERROR_CLASS(CLS, OTHER) t.push_back({CLS, {}, OTHER});
    QOR_ERROR_CLASS_TEXTS(QOR_ERROR_CLASS)
#undef QOR_ERROR_CLASS
    auto add = [&t](int32_t cls, int32_t code, const char* text) {
      if (text == nullptr) return;  // the class reads another's texts
      for (ClassTable& c : t) {
        if (c.cls != cls) continue;
        if (c.rows.size() < static_cast<size_t>(code)) c.rows.resize(static_cast<size_t>(code));
        c.rows[static_cast<size_t>(code) - 1] = text;
      }
    };
#define QOR_ERROR_ROW(NAME, CLS, CODE, TEXT) add(CLS, CODE, TEXT);
    QOR_ERROR_TABLE(QOR_ERROR_ROW)
#undef QOR_ERROR_ROW
    return t;
  }();
  return tables;
}

// Codes of class 6 whose text quotes the last file name.
bool QuotesFileName(int32_t code) {
  return code == 1 || code == 2 || code == 6 || code == 7;
}

// The class whose texts cls reads: its own, or the one it shares.
int32_t TextClass(int32_t cls) {
#define QOR_ERROR_SHARED(CLS, FROM) \
  if (cls == CLS) return FROM;
  QOR_ERROR_SHARED_TEXTS(QOR_ERROR_SHARED)
#undef QOR_ERROR_SHARED
  return cls;
}

std::string TableText(int32_t cls, int32_t code) {
  const int32_t lookup = TextClass(cls);
  for (const ClassTable& t : Tables()) {
    if (t.cls != lookup) continue;
    if (code >= 1 && code <= static_cast<int32_t>(t.rows.size())) {
      std::string text = t.rows[code - 1];
      if (cls == 6 && QuotesFileName(code)) text += Basic::LastFileName();
      return text;
    }
    return t.other;
  }
  return "Undefined error: " + Unsigned(cls) + ":" + Unsigned(code);
}

// ErrText with the text of classes 1-3 taken from the given pair.
std::string PairText(int32_t cls, int32_t code, const std::string& ownText) {
  if (cls == 0 || code == 0) return "No errors.";
  if (cls >= 1 && cls <= 3) return ownText;
  switch (cls) {
    case 10:
      return "AVI subsystem malfunction: " + Unsigned(code);
    case 11:
      return "Video For Windows malfunction: " + Unsigned(code);
    case 19:
      return "Fatal error in Audio Compression Manager: " + Unsigned(code);
    case 20:
      return "Fatal error in Win-MM: " + Unsigned(code);
    default:
      if (cls >= 4 && cls <= 17) return TableText(cls, code);
      return "Undefined error: " + Unsigned(cls) + ":" + Unsigned(code);
  }
}

void RunCleanup(MonFrame& frame) {
  if (!frame.cleanup) return;
  State& s = S();
  CleanupRoutine routine = std::move(frame.cleanup);
  frame.cleanup = nullptr;
  s.suspended = true;
  try {
    routine();
  } catch (...) {
  }
  s.suspended = false;
}

void EnterFrame(bool quiet) {
  State& s = S();
  if (s.suspended) return;
  if (s.depth >= kMaxFrames) {
    const char* text = "Fatal error: internal monitoring overflow.";
    std::fprintf(stderr, "libqor: %s\n", text);
    Ui::MessageBox(text, "Error", Ui::kIconError);
    std::exit(1);
  }
  MonFrame& f = s.frames[s.depth + 1];
  f = MonFrame{};
  if (s.depth == 0) s.handlerCount = 0;
  f.memoryMark = Basic::MemSequence();
  f.fileMark = Basic::FileSequence();
  f.quiet = quiet || s.nextQuiet;
  s.depth++;
  ErrClear();
  WarnClear();
  s.nextQuiet = false;
}

void SetPair(Pair& pair, int32_t cls, int32_t code, const std::string& text) {
  pair.cls = cls;
  pair.code = code;
  if (!text.empty()) pair.text = text;
}

void ErrSetImpl(int32_t cls, int32_t code, const std::string& text,
                int32_t line) {
  State& s = S();
  if (s.guard) return;
  s.guard = true;
  if (cls != 0 && code != 0) {
    SetPair(P().error, cls, code, text);
    TraceError(cls, code, line);
    s.traceDepth = 0;
  }
  s.guard = false;
  MonRaise(cls, code);
}

void WarnSetImpl(int32_t cls, int32_t code, const std::string& text,
                 int32_t line) {
  if (cls != 0 && code != 0) {
    SetPair(P().warning, cls, code, text);
    TraceWarning(cls, code, line);
  } else {
    WarnClear();
  }
}

std::string Demangle(const char* name) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> out(
      abi::__cxa_demangle(name, nullptr, nullptr, &status), std::free);
  return (status == 0 && out) ? std::string(out.get()) : std::string(name);
}

std::string GroupedK(uint64_t bytes) {
  return Basic::NumToStr(static_cast<int64_t>(bytes / 1024), 100);
}

}  // namespace

// ---- error pair -----------------------------------------------------------

void ErrSet(int32_t cls, int32_t code, int32_t sourceLine) {
  ErrSetImpl(cls, code, std::string(), sourceLine);
}

void ErrSetText(int32_t cls, const std::string& text, int32_t sourceLine) {
  ErrSetImpl(cls, kTextCode, text, sourceLine);
}

void ErrClear() {
  State& s = S();
  if (s.guard) return;
  P().error.cls = 0;
  P().error.code = 0;
}

int32_t ErrClass() { return P().error.cls; }
int32_t ErrCode() { return P().error.code; }
bool ErrNone() { return P().error.cls == 0 && P().error.code == 0; }

std::string ErrText(int32_t cls, int32_t code) {
  return PairText(cls, code, P().error.text);
}

std::string ErrLastText() { return ErrText(P().error.cls, P().error.code); }

// ---- warning pair ---------------------------------------------------------

void WarnSet(int32_t cls, int32_t code, int32_t sourceLine) {
  WarnSetImpl(cls, code, std::string(), sourceLine);
}

void WarnSetText(int32_t cls, const std::string& text, int32_t sourceLine) {
  WarnSetImpl(cls, kTextCode, text, sourceLine);
}

void WarnClear() {
  P().warning.cls = 0;
  P().warning.code = 0;
}

bool WarnNone() { return P().warning.cls == 0 && P().warning.code == 0; }
int32_t WarnClass() { return P().warning.cls; }
int32_t WarnCode() { return P().warning.code; }
std::string WarnText() {
  return PairText(P().warning.cls, P().warning.code, P().warning.text);
}

void ErrSetFromWarning(int32_t cls, int32_t code, int32_t sourceLine) {
  const Pair warning = P().warning;
  if (warning.cls == 0 && warning.code == 0)
    ErrSetImpl(cls, code, std::string(), sourceLine);
  else
    ErrSetImpl(warning.cls, warning.code,
               warning.code == kTextCode ? warning.text : std::string(), sourceLine);
}

// ---- monitor frames -------------------------------------------------------

void MonEnter() { EnterFrame(false); }
void MonEnterQuiet() { EnterFrame(true); }

void MonTryNext() {
  if (!S().suspended) S().nextQuiet = true;
}

void MonSetCleanup(CleanupRoutine routine) {
  State& s = S();
  if (s.suspended) return;
  s.frames[s.depth].cleanup = std::move(routine);
}

void MonRaise(int32_t cls, int32_t code) {
  State& s = S();
  if (s.suspended || s.depth == 0 || cls == 0 || code == 0) return;
  MonFrame& f = s.frames[s.depth];
  if (f.failed) return;
  f.cls = cls;
  f.code = code;
  RunCleanup(f);
  MonFreeToMarks();
  f.failed = true;
  throw EMon(ErrText(cls, code));
}

void MonFreeToMarks() {
  State& s = S();
  if (s.suspended || s.depth == 0) return;
  const MonFrame& f = s.frames[s.depth];
  const bool guard = s.guard;
  s.suspended = true;
  s.guard = true;
  try {
    Basic::MemFreeSince(f.memoryMark);
    Basic::FCloseSince(f.fileMark);
  } catch (...) {
  }
  s.guard = guard;
  s.suspended = false;
}

void MonOnException() {
  State& s = S();
  if (s.suspended) return;
  s.handlerCount++;
  if (s.depth == 0) return;
  MonFrame& f = s.frames[s.depth];
  if (f.failed) return;
  if (!ErrNone()) {
    // A pair left by a quiet callee is pending and a foreign exception ends
    // this frame: fail the frame with that pair rather than swallowing the
    // exception as a success.
    f.cls = P().error.cls;
    f.code = P().error.code;
    RunCleanup(f);
    MonFreeToMarks();
    f.failed = true;
    return;
  }
  const std::string message = CurrentExceptionText();
  RunCleanup(f);
  MonFreeToMarks();
  P().error.cls = kClsException;
  P().error.code = kTextCode;
  P().error.text = message;
  f.cls = kClsException;
  f.code = kTextCode;
  f.failed = true;
  TraceError(kClsException, kTextCode, 0);
}

void MonLeave() {
  State& s = S();
  if (s.suspended || s.depth == 0) return;
  if (s.handlerCount > 1) {
    // Handlers ran for frames whose leave never came: drop those frames.
    const int drop = s.handlerCount - 1;
    const int keep = s.depth - s.handlerCount + 1;
    if (keep >= 1) {
      s.frames[keep].cls = s.frames[s.depth].cls;
      s.frames[keep].code = s.frames[s.depth].code;
      s.frames[keep].failed = s.frames[s.depth].failed;
      s.depth -= drop;
    }
  }
  MonFrame& f = s.frames[s.depth];
  const bool hasError = f.cls != 0 && f.code != 0;
  if (hasError) {
    RunCleanup(f);
    MonFreeToMarks();
  }
  s.depth--;
  s.handlerCount = 0;
  P().error.cls = f.cls;
  P().error.code = f.code;
  if (f.quiet) return;
  MonFrame& below = s.frames[s.depth];
  below.cls = f.cls;
  below.code = f.code;
  // The failed mark travels only with an error: after MonAbort the caller
  // carries on as if nothing happened.
  below.failed = f.failed && hasError;
  if (hasError && f.failed) throw EMon(ErrText(f.cls, f.code));
}

void MonAbort() {
  State& s = S();
  if (s.suspended) return;
  if (s.depth > 0 && !s.frames[s.depth].failed) s.frames[s.depth].failed = true;
  throw EMon(std::string());
}

int MonDepth() { return S().depth; }

void ErrGuardOn() { S().guard = true; }
void ErrGuardOff() { S().guard = false; }
void MonSuspend() { S().suspended = true; }
void MonResume() { S().suspended = false; }

std::string CurrentExceptionText() {
  std::string text;
  try {
    throw;
  } catch (const std::exception& e) {
    text = Demangle(typeid(e).name()) + ": " + e.what();
  } catch (...) {
    const std::type_info* t = abi::__cxa_current_exception_type();
    text = (t ? Demangle(t->name()) : std::string("unknown exception")) +
           ": (no message)";
  }
  if (text.size() > 1024) text.resize(1024);
  return text;
}

// ---- trace file -----------------------------------------------------------

namespace {
thread_local bool t_traceMuted = false;
// Threads muted now: while there are none, the trace's hot paths skip the
// thread-local look-up, which costs a call in a shared library.
std::atomic<int> g_mutedThreads{0};

bool TraceMuted() {
  return g_mutedThreads.load(std::memory_order_relaxed) != 0 && t_traceMuted;
}
}  // namespace

TraceMute::TraceMute(bool on) : was_(t_traceMuted) {
  if (!on || was_) return;
  g_mutedThreads++;
  t_traceMuted = true;
}

TraceMute::~TraceMute() {
  if (t_traceMuted == was_) return;
  t_traceMuted = was_;
  g_mutedThreads--;
}

void TracePush(const char* name) {
  if (TraceMuted()) return;
  State& s = S();
  if (!s.traceRunning || s.traceDepth >= kMaxTraceNames) return;
  s.traceNames[s.traceDepth++] = name;
}

void TracePop() {
  if (TraceMuted()) return;
  State& s = S();
  if (s.traceRunning && s.traceDepth > 0) s.traceDepth--;
}

std::string TraceCallPath() {
  State& s = S();
  std::string path;
  if (TraceMuted() || !s.traceRunning) return path;
  for (int i = 0; i < s.traceDepth; i++) {
    if (i) path += ':';
    path += s.traceNames[i];
  }
  return path;
}

int TraceDepth() { return S().traceDepth; }
void TraceSetFile(const std::string& path) { S().tracePath = path; }
std::string TraceFile() { return S().tracePath; }
bool TraceRunning() { return S().traceRunning; }

void TraceStop() {
  S().traceRunning = false;
  S().traceDepth = 0;
}

std::string FormatOsLine(int32_t platformId, uint32_t major, uint32_t minor,
                         uint32_t build) {
  std::string name;
  switch (platformId) {
    case 0:
      name = "Win 3.1 with Win32s";
      break;
    case 1:
      name = "Win 95SR2 or compatible";
      break;
    case 2:
      name = "Win NT or compatible";
      break;
    default:
      name = "N/A";
  }
  switch (build & 0xFFFF) {
    case 950:
      name = "Win 95";
      break;
    case 1998:
      name = "Win 98";
      break;
    case 2195:
      name = "Win 2000";
      break;
    case 2222:
      name = "Win 98SE";
      break;
    case 3000:
      name = "Win ME";
      break;
  }
  return "OS: " + name + " v" + std::to_string(major) + "." +
         std::to_string(minor) + " - build " + std::to_string(build);
}

std::string FormatCpuLine(int32_t processorLevel, uint32_t processors) {
  const char* name = "N/A";
  switch (processorLevel) {
    case 3:
      name = "i386";
      break;
    case 4:
      name = "i486";
      break;
    case 5:
      name = "i586";
      break;
    case 6:
      name = "i686";
      break;
  }
  return std::string("CPU: ") + name +
         ", processors: " + std::to_string(processors);
}

void TraceStart(const std::string& banner) {
  State& s = S();
  const bool guard = s.guard;
  s.guard = true;
  TraceStop();
  bool ok = Basic::FDelete(s.tracePath) == 0;
  if (ok) {
    int32_t h = Basic::K_AUTO;
    ok = Basic::TXTOpen(h, s.tracePath, Basic::kOpenCreate) == 0;
    if (ok) Basic::TXTClose(h);
  }
  if (ok) {
    s.traceRunning = true;
    s.traceDepth = 0;
    TraceWriteLine(banner);
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%d, %H:%M", &local);
    TraceWriteLine(std::string("Trace started at ") + when);
    try {
      const SysInfo::OsVersion os = SysInfo::QueryOsVersion();
      TraceWriteLine(FormatOsLine(os.platformId, os.major, os.minor, os.build));
      const SysInfo::CpuInfo cpu = SysInfo::QueryCpu();
      TraceWriteLine(FormatCpuLine(cpu.processorLevel, cpu.processors));
    } catch (...) {
    }
    TraceWriteLine(std::string(40, '-'));
  }
  s.guard = guard;
}

void TraceWriteLine(const std::string& text) {
  State& s = S();
  if (TraceMuted() || !s.traceRunning) return;
  const bool guard = s.guard;
  s.guard = true;
  s.traceRunning = false;
  // The trace's own file operations must not disturb the caller's state:
  // the last file name, the warning pair (a close clears it) or the frames.
  const std::string lastName = Basic::LastFileName();
  const Pair warning = P().warning;
  const bool suspended = s.suspended;
  s.suspended = true;
  int32_t h = Basic::K_AUTO;
  if (Basic::TXTOpen(h, s.tracePath, Basic::kOpenAppend) == 0) {
    Basic::TXTWrite(h, text);
    Basic::TXTClose(h);
  }
  s.suspended = suspended;
  P().warning = warning;
  Basic::SetLastFileName(lastName);
  s.traceRunning = true;
  s.guard = guard;
}

void TraceWriteLines(const std::string& text) {
  if (TraceMuted() || !S().traceRunning) return;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      TraceWriteLine("#" + text.substr(start));
      break;
    }
    TraceWriteLine("#" + text.substr(start, end - start));
    start = end + 2;
  }
}

void TraceMemStatus() {
  if (!S().traceRunning) return;
  try {
    const SysInfo::MemInfo m = SysInfo::QueryMemory();
    TraceWriteLines("Physical memory:\r\n  total: " + GroupedK(m.totalPhys) +
                    "k, free: " + GroupedK(m.availPhys) +
                    "k\r\nSwap memory:\r\n  total: " + GroupedK(m.totalSwap) +
                    "k, free: " + GroupedK(m.availSwap) + "k");
  } catch (...) {
  }
}

void TraceDiskStatus(const std::string& path) {
  if (!S().traceRunning) return;
  int64_t total = 0, free = 0;
  Basic::DiskFreeK(path, total, free);
  TraceWriteLines("Drive " + path + "\r\n  total: " +
                  Basic::NumToStr(total, 100) +
                  "k, free: " + Basic::NumToStr(free, 100) + "k");
}

namespace {
void TraceEvent(char prefix, int32_t cls, int32_t code, const std::string& text,
                int32_t line) {
  if (!S().traceRunning) return;
  TraceWriteLine(std::string(1, prefix) + Unsigned(cls) + ":" + Unsigned(code) +
                 ";\"" + text + "\"");
  TraceWriteLine("@" + TraceCallPath() + ";" + std::to_string(line));
  TraceMemStatus();
  // The root folder stands in for the system drive.
  TraceDiskStatus("/");
}
}  // namespace

void TraceError(int32_t cls, int32_t code, int32_t sourceLine) {
  TraceEvent('!', cls, code, ErrText(cls, code), sourceLine);
}

void TraceWarning(int32_t cls, int32_t code, int32_t sourceLine) {
  TraceEvent('?', cls, code, PairText(cls, code, P().warning.text),
             sourceLine);
}

void ErrorsFinalize() {
  State& s = S();
  if (s.depth > 0)
    TraceWriteLines("Monitoring failure: " + std::to_string(s.depth) +
                    " hanging processes.");
}

}  // namespace Errors
