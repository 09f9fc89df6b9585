#include "engine/SettingsHook.h"

#include <atomic>

#include "formats/DialogHooks.h"

namespace DialogHooks {
namespace {

std::atomic<SettingsDialog> g_settings{nullptr};

}  // namespace

void InstallSettings(SettingsDialog dialog) { g_settings = dialog; }

bool DlgSettings(Common::QorRec* rec, QorMain::QorFileList* fileList, const std::string& title,
                 bool enableChanges) {
  const SettingsDialog dialog = g_settings;
  if (dialog == nullptr) return Refuse(kSettingsFrame);
  return dialog(rec, fileList, title, enableChanges);
}

}  // namespace DialogHooks
