// The Qt layers in the core: the dialogs and the host application's side of
// the desktop layer go to the ui module. A process that holds no Qt Widgets
// has no Qt application, so it is answered without loading the module (and
// with it Qt): dialogs are refused as they refuse without an application,
// and message boxes take the headless back end.
#include "platform/modules/UiModule.h"

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

bool Refused(const char* frame) {
  Errors::MonitoredQuiet(frame,
                         [] { Errors::ErrSet(Errors::kClsGeneral, Errors::kCodeNotSupported, __LINE__); });
  return false;
}

}  // namespace

// A dialog the module cannot be loaded for fails with the module's error.
#define QOR_UI_DIALOG(NS, NAME, PARAMS, ARGS, FRAME)         \
  bool NS::NAME PARAMS {                                     \
    if (!Modules::HostHoldsWidgets()) return Refused(FRAME); \
    const UiModule::Table* t = Loud();                       \
    return t != nullptr && t->NS##_##NAME ARGS;              \
  }
QOR_UI_DIALOGS(QOR_UI_DIALOG)

// Whether dialogs can be shown: a Qt host whose module is missing is told why.
bool Ui::HostHasWidgets() {
  if (!Modules::HostHoldsWidgets()) return false;
  const UiModule::Table* t = Loud();
  return t != nullptr && t->Ui_HostHasWidgets();
}

// What the message boxes ask: without the module they fall back quietly.
QWidget* Ui::ActiveWindow() {
  if (!Modules::HostHoldsWidgets()) return nullptr;
  const UiModule::Table* t = Quiet();
  return t != nullptr ? t->Ui_ActiveWindow() : nullptr;
}

std::string Ui::HostAppTitle() {
  if (!Modules::HostHoldsWidgets()) return std::string();
  const UiModule::Table* t = Quiet();
  return t != nullptr ? t->Ui_HostAppTitle() : std::string();
}

Ui::Backend* Ui::HostBackend() {
  if (!Modules::HostHoldsWidgets()) return nullptr;
  const UiModule::Table* t = Quiet();
  return t != nullptr ? t->Ui_HostBackend() : nullptr;
}
