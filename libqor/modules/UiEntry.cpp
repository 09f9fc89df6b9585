// The ui module's one export: its table of the dialogs (as the dialogs layer
// fills the hooks) and the host application's side of the desktop layer (the
// Qt back end's host table). The core units the dialogs call
// are defined here as calls through the table the core lent at load, so the
// module carries no state of the core's own.
#include "platform/modules/ModuleHost.h"
#include "platform/UiQt.h"
#include "dialogs/DialogTable.h"
#include "modules/UiModule.h"

namespace {

const UiModule::CoreCalls* g_core = nullptr;

UiModule::Table MakeTable() {
  UiModule::Table t{};
  t.formats = DialogTable::FormatDialogs();
  t.settings = DialogTable::SettingsDialog();
  t.host = UiQt::Host();
  return t;
}

const UiModule::Table kTable = MakeTable();

// The module's own units (the dialogs) ask its copy of the host table,
// which leads straight to Qt.
struct HostInstalled {
  HostInstalled() { Ui::InstallHost(&UiQt::Host()); }
} g_hostInstalled;

}  // namespace

// Each core function the module's units call, defined by its row as a call
// into the core that loaded the module.
#define QOR_UI_FORWARD_AS(NS, NAME, TYPE, PARAMS, ARGS)                       \
  auto NS::NAME PARAMS -> UiModule::ResultOf<TYPE> {                          \
    return g_core->NS##_##NAME ARGS;                                          \
  }
#define QOR_UI_FORWARD(NS, NAME, PARAMS, ARGS) \
  QOR_UI_FORWARD_AS(NS, NAME, decltype(&NS::NAME), PARAMS, ARGS)
QOR_UI_CORE_CALLS(QOR_UI_FORWARD, QOR_UI_FORWARD_AS)

extern "C" __attribute__((visibility("default"))) const void* qor_module_ui_v1(
    const Modules::Host* host) {
  ModuleHost::Attach(host);
  // A module loaded without the core's functions could not run a dialog.
  if (host != nullptr && host->core == nullptr) return nullptr;
  if (host != nullptr) g_core = static_cast<const UiModule::CoreCalls*>(host->core);
  return &kTable;
}
