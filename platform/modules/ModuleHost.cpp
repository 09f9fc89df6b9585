// The core's trace file and limits as seen from inside a module: the back
// ends write their warnings with Errors::TraceWriteLine and ask the readers'
// limits as they do in the core, and these definitions hand both to the core
// that loaded the module.
#include "platform/modules/ModuleHost.h"

#include <atomic>
#include <string>

#include "foundation/Errors.h"
#include "foundation/FFReader.h"

namespace ModuleHost {

namespace {
// The back ends may log from their own threads.
std::atomic<void (*)(const char*)> g_trace{nullptr};
std::atomic<int64_t (*)()> g_imageBytesLimit{nullptr};
std::atomic<int64_t (*)()> g_frameCountLimit{nullptr};

int64_t Ask(const std::atomic<int64_t (*)()>& limit, int64_t otherwise) {
  auto ask = limit.load();
  return ask != nullptr ? ask() : otherwise;
}
}  // namespace

void Attach(const Modules::Host* host) {
  g_trace.store(host != nullptr ? host->traceWriteLine : nullptr);
  g_imageBytesLimit.store(host != nullptr ? host->imageBytesLimit : nullptr);
  g_frameCountLimit.store(host != nullptr ? host->frameCountLimit : nullptr);
}

}  // namespace ModuleHost

namespace Errors {

void TraceWriteLine(const std::string& text) {
  if (auto trace = ModuleHost::g_trace.load()) trace(text.c_str());
}

}  // namespace Errors

// The limits in force are the core's; a detached module keeps to the widest.
namespace FFBasic {

int64_t FFImageBytesLimit() { return ModuleHost::Ask(ModuleHost::g_imageBytesLimit, kMaxImageBytes); }
int64_t FFFrameCountLimit() { return ModuleHost::Ask(ModuleHost::g_frameCountLimit, kMaxFrameCount); }

}  // namespace FFBasic
