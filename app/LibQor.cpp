#include "LibQor.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace LibQor {
namespace {

namespace fs = std::filesystem;

using Binding::ExportId;
using Binding::kExportCount;

// The exports' names, in the list's order, and their addresses once looked up.
#define LIBQOR_NAME(name) #name,
constexpr const char* kExportNames[kExportCount] = {LIBQOR_EXPORTS(LIBQOR_NAME)};
#undef LIBQOR_NAME
void* g_addresses[kExportCount] = {};

void* g_library = nullptr;
std::string g_loadedFrom;

fs::path ExecutableFolder() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : exe.parent_path();
}

// The executable's folder first, then the library folder of the same build or
// install tree, then whatever the dynamic loader finds by the bare name.
std::vector<std::string> Candidates() {
  if (const char* forced = std::getenv(kLibraryEnv); forced && *forced)
    return {forced};
  std::vector<std::string> names;
  fs::path exeDir = ExecutableFolder();
  if (!exeDir.empty()) {
    for (const fs::path& dir : {exeDir, exeDir / ".." / "lib"}) {
      fs::path file = dir / kLibraryFile;
      std::error_code ec;
      if (fs::exists(file, ec)) names.push_back(file.lexically_normal().string());
    }
  }
  names.push_back(kLibraryFile);
  return names;
}

void* Library() {
  if (g_library) return g_library;
  std::string reason;
  for (const std::string& name : Candidates()) {
    // Kept mapped after dlclose: the library shares Qt's process-wide
    // blocks with the application, which must outlive it.
    g_library = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (g_library) {
      g_loadedFrom = name;
      return g_library;
    }
    reason = dlerror();
  }
  throw BindError("The library " + std::string(kLibraryFile) +
                  " cannot be loaded: " + reason);
}

}  // namespace

namespace Binding {

void* Address(ExportId id) {
  void*& address = g_addresses[id];
  if (!address) {
    void* lib = Library();
    address = dlsym(lib, kExportNames[id]);
    if (!address)
      throw BindError("The function " + std::string(kExportNames[id]) + " is missing from " +
                      g_loadedFrom + ".");
  }
  return address;
}

}  // namespace Binding

ScopedImage::~ScopedImage() {
  if (!img_) return;
  // A destructor must not throw; an image that was allocated can be freed
  // unless the library lacks the free export, and then nothing can free it.
  try {
    QorImgFree(img_);
  } catch (const BindError&) {
  }
}

std::string LoadedFrom() { return g_library ? g_loadedFrom : std::string(); }

void Unload() {
  for (void*& address : g_addresses) address = nullptr;
  if (g_library) dlclose(g_library);
  g_library = nullptr;
  g_loadedFrom.clear();
}

}  // namespace LibQor
