// The core's trace file as seen from inside a module: the back ends write
// their warnings with Errors::TraceWriteLine as they do in the core, and this
// definition hands the line to the core that loaded the module.
#include "platform/modules/ModuleHost.h"

#include <atomic>
#include <string>

#include "foundation/Errors.h"

namespace ModuleHost {

namespace {
// The back ends may log from their own threads.
std::atomic<void (*)(const char*)> g_trace{nullptr};
}  // namespace

void Attach(const Modules::Host* host) {
  g_trace.store(host != nullptr ? host->traceWriteLine : nullptr);
}

}  // namespace ModuleHost

namespace Errors {

void TraceWriteLine(const std::string& text) {
  if (auto trace = ModuleHost::g_trace.load()) trace(text.c_str());
}

}  // namespace Errors
