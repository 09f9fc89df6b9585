#include "platform/Modules.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "foundation/Errors.h"
#include "foundation/FFReader.h"

namespace Modules {

namespace {

struct Loaded {
  const ModuleFile* module = nullptr;
  EntryFunc entry = nullptr;
  const void* table = nullptr;
};

constexpr int kModules = 3;
Loaded g_loaded[kModules];
uint32_t g_failures = 0;
std::string g_lastFailure;
std::mutex g_lock;

void TraceFromModule(const char* text) { Errors::TraceWriteLine(text); }

// Read once, when the library is loaded.
const int32_t g_codecThreads = CodecThreadsOf(std::getenv("QOR_THREADS"));

Loaded* SlotOf(const ModuleFile& module) {
  for (Loaded& slot : g_loaded)
    if (slot.module == nullptr || std::strcmp(slot.module->entry, module.entry) == 0) return &slot;
  return nullptr;
}

// Opens the module and fetches its table; on failure returns the reason.
std::string Open(const ModuleFile& module, const void* core, Loaded& slot) {
  const std::string path = Folder() + "/" + module.file;
  // The module's names stay its own; it resolves nothing against the host.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    return why != nullptr ? why : path + ": cannot be opened";
  }
  auto entry = reinterpret_cast<EntryFunc>(dlsym(handle, module.entry));
  const Host host{TraceFromModule, core, g_codecThreads, FFBasic::FFImageBytesLimit,
                  FFBasic::FFFrameCountLimit};
  const void* table = entry != nullptr ? entry(&host) : nullptr;
  if (table == nullptr) {
    dlclose(handle);
    return path + ": no entry " + module.entry;
  }
  // The handle stays open for the life of the process: what the module made
  // (streams, encoders) may outlive any one call.
  slot.module = &module;
  slot.entry = entry;
  slot.table = table;
  return std::string();
}

}  // namespace

std::string Folder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&Folder), &info) == 0 || info.dli_fname == nullptr)
    return ".";
  const std::string self = info.dli_fname;
  const size_t slash = self.rfind('/');
  return slash == std::string::npos ? "." : self.substr(0, slash);
}

const void* RequireQuietly(const ModuleFile& module, const void* core) {
  std::lock_guard<std::mutex> hold(g_lock);
  Loaded* slot = SlotOf(module);
  if (slot != nullptr && slot->table != nullptr) return slot->table;
  const std::string why = slot != nullptr ? Open(module, core, *slot) : "too many modules";
  if (why.empty()) return slot->table;
  g_failures++;
  g_lastFailure = std::string("The module ") + module.file + " could not be loaded: " + why;
  return nullptr;
}

const void* Require(const ModuleFile& module, const void* core) {
  const void* table = RequireQuietly(module, core);
  if (table == nullptr) Errors::ErrSetText(Errors::kClsText, LastFailure(), __LINE__);
  return table;
}

bool HostHoldsWidgets() {
  // RTLD_NOLOAD only finds what is already mapped, and the reference it
  // takes is given back at once.
  void* widgets = dlopen("libQt6Widgets.so.6", RTLD_LAZY | RTLD_NOLOAD);
  if (widgets == nullptr) return false;
  dlclose(widgets);
  return true;
}

const void* IfLoaded(const ModuleFile& module) {
  std::lock_guard<std::mutex> hold(g_lock);
  const Loaded* slot = SlotOf(module);
  return slot != nullptr ? slot->table : nullptr;
}

uint32_t FailureCount() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_failures;
}

std::string LastFailure() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_lastFailure;
}

void DetachAll() {
  std::lock_guard<std::mutex> hold(g_lock);
  for (Loaded& slot : g_loaded)
    if (slot.entry != nullptr) slot.entry(nullptr);
}

}  // namespace Modules
