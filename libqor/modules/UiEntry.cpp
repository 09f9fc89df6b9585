// The ui module's one export: its table of the dialogs (as the dialogs layer
// fills the hooks) and the host application's side of the desktop layer. The core units the dialogs call
// are defined here as calls through the table the core lent at load, so the
// module carries no state of the core's own.
#include "platform/modules/ModuleHost.h"
#include "dialogs/DialogTable.h"
#include "modules/UiModule.h"

namespace {

const UiModule::CoreCalls* g_core = nullptr;

UiModule::Table MakeTable() {
  UiModule::Table t{};
  t.formats = DialogTable::FormatDialogs();
  t.settings = DialogTable::SettingsDialog();
#define QOR_MODULE_FILL(NS, NAME, ...) t.NS##_##NAME = &NS::NAME;
  QOR_UI_HOST(QOR_MODULE_FILL)
#undef QOR_MODULE_FILL
  return t;
}

const UiModule::Table kTable = MakeTable();

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
