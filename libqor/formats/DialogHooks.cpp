#include "formats/DialogHooks.h"

#include <atomic>

#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"

namespace DialogHooks {
namespace {

std::atomic<const Formats*> g_formats{nullptr};

}  // namespace

void InstallFormats(const Formats* hooks) { g_formats = hooks; }

bool Refuse(const char* frame) {
  Errors::MonitoredQuiet(
      frame, [] { Errors::ErrSet(Errors::kErrNotSupported, __LINE__); });
  return false;
}

#define QOR_DIALOG_HOOK_DEFINE(NS, NAME, PARAMS, ARGS, FRAME)                   \
  bool NAME PARAMS {                                                            \
    const Formats* hooks = g_formats;                                           \
    if (hooks == nullptr || hooks->NAME == nullptr) return Refuse(FRAME);       \
    return hooks->NAME ARGS;                                                    \
  }
QOR_FORMAT_DIALOGS(QOR_DIALOG_HOOK_DEFINE)
#undef QOR_DIALOG_HOOK_DEFINE

}  // namespace DialogHooks
