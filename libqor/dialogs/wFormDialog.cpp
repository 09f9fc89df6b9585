#include "dialogs/wFormDialog.h"

#include <QFont>

namespace wFormDialog {

TFormDialog::TFormDialog(QWidget* parent) : wFormBasic::TFormBasic(parent) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  QFont font("MS Sans Serif");
  font.setPixelSize(14);
  setFont(font);
}

}  // namespace wFormDialog
