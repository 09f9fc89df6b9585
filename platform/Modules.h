// The heavy back ends (the FFmpeg layers, the Vorbis layer, the Qt windows)
// live in modules of their own beside the library and are loaded the first
// time a movie, sound, conversion or window needs them, so that a host
// converting stills never pays for mapping and binding them.
//
// Each module exports exactly one entry: a C function that takes what the
// core lends it (Host) and returns its table of functions. The core's gate
// units (platform/modules/*Gate.cpp, libqor/modules/UiGate.cpp) define the
// platform layers' functions and fill the dialog hooks in terms of that
// table, so the units above the layers do not change.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

namespace Modules {

// What the core lends a module: the trace file, so that a back end's own
// warnings land beside the library's lines, the readers' limits, and for a module built over the
// core's units (the ui module) the table of the core functions it calls, so
// that it shares the core's one error state, trace and settings.
struct Host {
  void (*traceWriteLine)(const char* text) = nullptr;
  const void* core = nullptr;
  int32_t codecThreads = 1;  // QOR_THREADS as the core read it at its load
  // The process's limits on what a file may ask for: the movie layer's
  // readers follow the same setting as the format readers.
  int64_t (*imageBytesLimit)() = nullptr;
  int64_t (*frameCountLimit)() = nullptr;
};

// Threads the codec library may run for each decoder and encoder, by the
// text of QOR_THREADS (null: unset): unset (or not a number of 1 or more)
// one per core, 1 none, else that many (at most 16, as the codecs take no
// more). Inline: the modules apply the same rule in a static build.
inline int32_t CodecThreadsOf(const char* setting) {
  constexpr int32_t kMost = 16;
  char* end = nullptr;
  const long n = setting != nullptr ? std::strtol(setting, &end, 10) : 0;
  if (setting != nullptr && end != setting && *end == 0 && n >= 1)
    return static_cast<int32_t>(std::min<long>(n, kMost));
  const unsigned cores = std::thread::hardware_concurrency();
  return static_cast<int32_t>(std::clamp<unsigned>(cores, 1, kMost));
}

// A module's entry: with a host, attaches it and returns the table; with
// null, detaches (the core is stopping and may be unloaded before the module).
using EntryFunc = const void* (*)(const Host* host);

struct ModuleFile {
  const char* file;   // file name beside the library
  const char* entry;  // its one exported symbol
};

inline constexpr ModuleFile kMovie{"libqor-movie-2.8.0.so", "qor_module_movie_v1"};
inline constexpr ModuleFile kSound{"libqor-sound-2.8.0.so", "qor_module_sound_v1"};
inline constexpr ModuleFile kUi{"libqor-ui-2.8.0.so", "qor_module_ui_v1"};

// The module's table, loading the module on first use. When it cannot be
// loaded, sets the error pair (class 1, naming the module and the loader's
// reason; inside a monitor frame this raises) and returns null.
// core: what a module built over the core's units calls back (Host::core).
const void* Require(const ModuleFile& module, const void* core = nullptr);

// As Require, for callers that fall back to something else: a failure is
// counted and remembered but sets no error pair.
const void* RequireQuietly(const ModuleFile& module, const void* core = nullptr);

// True when the process already holds Qt Widgets (a host with a Qt
// application): asked without loading anything, so that a host without Qt
// never maps it.
bool HostHoldsWidgets();

// The table only if the module is already loaded: for handing back what the
// module made, which never needs a load and must not fail.
const void* IfLoaded(const ModuleFile& module);

// The folder the modules are looked for in: the one holding the code of the
// library itself.
std::string Folder();

// How many loads have failed so far, and the last failure's text: lets a
// layer that tries several readers in turn tell a missing back end from an
// unreadable file.
uint32_t FailureCount();
std::string LastFailure();

// Library stop: every loaded module lets go of the core's host functions.
void DetachAll();

}  // namespace Modules
