// Compiled into every program that links the whole library as one static
// archive (the tests, the fuzzers, the benchmark): the dialogs and the Qt
// back end are built in, so the hooks and the host table lead straight to
// them, before main runs.
#include "dialogs/DialogTable.h"
#include "platform/UiQt.h"

namespace {

struct DialogsInstalled {
  DialogsInstalled() {
    DialogHooks::InstallFormats(&DialogTable::FormatDialogs());
    DialogHooks::InstallSettings(DialogTable::SettingsDialog());
    Ui::InstallHost(&UiQt::Host());
  }
} g_dialogsInstalled;

}  // namespace
