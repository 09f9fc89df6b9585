// The Qt layers in the core: the dialog hooks and the host application's side
// of the desktop layer go to the ui module. A process that holds no Qt Widgets
// has no Qt application, so it is answered without loading the module (and
// with it Qt): dialogs are refused as they refuse without an application,
// and message boxes take the headless back end.
#include "modules/UiModule.h"

namespace {

const UiModule::CoreCalls kCoreCalls = [] {
  UiModule::CoreCalls c{};
#define QOR_UI_LEND(NS, NAME, ...) c.NS##_##NAME = &NS::NAME;
#define QOR_UI_LEND_AS(NS, NAME, TYPE, ...) c.NS##_##NAME = static_cast<TYPE>(&NS::NAME);
  QOR_UI_CORE_CALLS(QOR_UI_LEND, QOR_UI_LEND_AS)
#undef QOR_UI_LEND
#undef QOR_UI_LEND_AS
  return c;
}();

const UiModule::Table* Loud() {
  return static_cast<const UiModule::Table*>(Modules::Require(Modules::kUi, &kCoreCalls));
}

const UiModule::Table* Quiet() {
  return static_cast<const UiModule::Table*>(Modules::RequireQuietly(Modules::kUi, &kCoreCalls));
}

// A dialog the module cannot be loaded for fails with the module's error.
#define QOR_UI_DIALOG_GATE(NS, NAME, PARAMS, ARGS, FRAME)                \
  bool Gate##NAME PARAMS {                                               \
    if (!Modules::HostHoldsWidgets()) return DialogHooks::Refuse(FRAME); \
    const UiModule::Table* t = Loud();                                   \
    return t != nullptr && t->formats.NAME ARGS;                         \
  }
QOR_FORMAT_DIALOGS(QOR_UI_DIALOG_GATE)
#undef QOR_UI_DIALOG_GATE

bool GateSettings(Common::QorRec* rec, QorMain::QorFileList* fileList, const std::string& title,
                  bool enableChanges) {
  if (!Modules::HostHoldsWidgets()) return DialogHooks::Refuse(DialogHooks::kSettingsFrame);
  const UiModule::Table* t = Loud();
  return t != nullptr && t->settings(rec, fileList, title, enableChanges);
}

const DialogHooks::Formats kFormatGates = [] {
  DialogHooks::Formats f{};
#define QOR_UI_DIALOG_FILL(NS, NAME, ...) f.NAME = &Gate##NAME;
  QOR_FORMAT_DIALOGS(QOR_UI_DIALOG_FILL)
#undef QOR_UI_DIALOG_FILL
  return f;
}();

// Whether dialogs can be shown: a Qt host whose module is missing is told why.
bool HostHasWidgets() {
  if (!Modules::HostHoldsWidgets()) return false;
  const UiModule::Table* t = Loud();
  return t != nullptr && t->host.hasWidgets();
}

// What the message boxes ask: without the module they fall back quietly.
QWidget* ActiveWindow() {
  if (!Modules::HostHoldsWidgets()) return nullptr;
  const UiModule::Table* t = Quiet();
  return t != nullptr ? t->host.activeWindow() : nullptr;
}

std::string HostAppTitle() {
  if (!Modules::HostHoldsWidgets()) return std::string();
  const UiModule::Table* t = Quiet();
  return t != nullptr ? t->host.appTitle() : std::string();
}

Ui::Backend* HostBackend() {
  if (!Modules::HostHoldsWidgets()) return nullptr;
  const UiModule::Table* t = Quiet();
  return t != nullptr ? t->host.backend() : nullptr;
}

const Ui::Host kHostGates{&HostHasWidgets, &ActiveWindow, &HostAppTitle, &HostBackend};

// The library's dialogs and the host application's side are the module's
// from the start: the hooks and the base's host table lead to the gates
// above, which load it on first use.
struct GatesInstalled {
  GatesInstalled() {
    DialogHooks::InstallFormats(&kFormatGates);
    DialogHooks::InstallSettings(&GateSettings);
    Ui::InstallHost(&kHostGates);
  }
} g_gatesInstalled;

}  // namespace
