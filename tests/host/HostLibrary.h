// The library as a host sees it: loaded by its file name with dlopen, every
// export looked up by name with dlsym. Shared by the host tests.
#pragma once

#include <dlfcn.h>

#include <string>

#include "qor.h"

namespace {

// The library, loaded once for the whole program.
class Library {
 public:
  Library() {
    // Kept mapped after dlclose: Qt's core library drops its last pointer
    // to a process-wide block when it is unmapped, which leak checkers
    // report against an unknown module. The library's stop still runs, at
    // process exit.
    handle_ = dlopen(QOR_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle_) error_ = dlerror();
  }
  ~Library() {
    if (handle_) dlclose(handle_);
  }
  void* handle() const { return handle_; }
  const std::string& error() const { return error_; }

  template <class F>
  F* Get(const char* name) const {
    return handle_ ? reinterpret_cast<F*>(dlsym(handle_, name)) : nullptr;
  }

 private:
  void* handle_ = nullptr;
  std::string error_;
};

const Library& Lib() {
  static Library lib;
  return lib;
}

// Looks an export up with the type the public header gives it.
#define QOR_GET(name) Lib().Get<decltype(name)>(#name)

}  // namespace
