// Shared by the fuzz targets: the library is started once, and each input is
// handed to the readers as a file, the way hosts hand files to them.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/Lifecycle.h"
#include "foundation/Errors.h"

namespace FuzzSupport {

inline void StartLibraryOnce() {
  static bool started = [] {
    Lifecycle::LibraryStart();
    return true;
  }();
  (void)started;
}

// Writes the input to a file of this process with the given extension.
inline std::string InputFile(const uint8_t* data, size_t size, const char* ext) {
  const char* tmp = getenv("TMPDIR");
  std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/qorfuzz-" +
                     std::to_string(getpid()) + ext;
  FILE* f = std::fopen(name.c_str(), "wb");
  if (f) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  return name;
}

// Runs a reader step; an error pair ends the step, as it ends a host's call.
template <class F>
void Guarded(F&& f) {
  try {
    f();
  } catch (const Errors::EMon&) {
  }
}

}  // namespace FuzzSupport
