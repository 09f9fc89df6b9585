#include "dialogs/DlgForm.h"

#include "dialogs/wFormBasic.h"
#include "foundation/Errors.h"

namespace DlgForm {

QLabel* AddLabel(QWidget* parent, const char* name, const char* text, int x, int y) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->move(x, y);
  label->adjustSize();
  return label;
}

QPushButton* AddButton(QWidget* parent, const char* name, const char* text, int x,
                       int y, int w, int h) {
  auto* button = Place<QPushButton>(parent, name, x, y, w, h);
  button->setText(text);
  button->setAutoDefault(false);
  return button;
}

void AddOkCancel(QDialog* form, int okX, int okY, int cancelX, int cancelY, int w,
                 int h) {
  QPushButton* ok = AddButton(form, "btnOK", "OK", okX, okY, w, h);
  ok->setDefault(true);
  QPushButton* cancel = AddButton(form, "btnCancel", "Cancel", cancelX, cancelY, w, h);
  QObject::connect(ok, &QPushButton::clicked, form, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, form, &QDialog::reject);
}

bool RunDialog(const char* frameName, const std::function<bool()>& body) {
  bool ok = false;
  Errors::MonitoredQuiet(frameName, [&] {
    if (!wFormBasic::CanShowDialogs()) {
      Errors::ErrSet(Errors::kClsGeneral, Errors::kCodeNotSupported, __LINE__);
      return;
    }
    ok = body();
  });
  return ok && Errors::ErrNone();
}

}  // namespace DlgForm
