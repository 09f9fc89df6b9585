#include "dialogs/DialogTable.h"

#include "dialogs/FFDlg.h"
#include "dialogs/wDlgAVI.h"
#include "dialogs/wSettings.h"

namespace DialogTable {

const DialogHooks::Formats& FormatDialogs() {
  static const DialogHooks::Formats table = [] {
    DialogHooks::Formats t{};
#define QOR_DIALOG_FILL(NS, NAME, ...) t.NAME = &NS::NAME;
    QOR_FORMAT_DIALOGS(QOR_DIALOG_FILL)
#undef QOR_DIALOG_FILL
    return t;
  }();
  return table;
}

DialogHooks::SettingsDialog SettingsDialog() { return &wSettings::DlgSettings; }

}  // namespace DialogTable
