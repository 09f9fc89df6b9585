// The form every choice dialog of the library derives from.
#pragma once

#include "dialogs/wFormBasic.h"

namespace wFormDialog {

// The look every choice dialog shares: a dialog border with the system-menu
// and minimise buttons, and the dialogs' font. A derived dialog builds its
// controls, sets its client size and then calls Loaded(); it is shown
// through wFormBasic::ShowModal.
class TFormDialog : public wFormBasic::TFormBasic {
 public:
  explicit TFormDialog(QWidget* parent = nullptr);
};

}  // namespace wFormDialog
