// Compiled into every program that links the whole library as one static
// archive (the tests, the fuzzers, the benchmark): the dialogs are built in,
// so the hooks lead straight to them, before main runs.
#include "dialogs/DialogTable.h"

namespace {

struct DialogsInstalled {
  DialogsInstalled() {
    DialogHooks::InstallFormats(&DialogTable::FormatDialogs());
    DialogHooks::InstallSettings(DialogTable::SettingsDialog());
  }
} g_dialogsInstalled;

}  // namespace
