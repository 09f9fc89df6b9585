#include "PropertyPage1.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include "AutoPic.h"
#include "modMain.h"

namespace PropertyPage1 {
using modMain::Place;

Page::Page(QWidget* parent) : QWidget(parent) {
  chkEnabled = new QCheckBox("Enabled", this);
  Place(chkEnabled, 90, 120, 2700, 285);
  Place(new QLabel("BorderStyle:", this), 90, 510, 2700, 240);
  txtBorderStyle = new QLineEdit(this);
  Place(txtBorderStyle, 90, 760, 2700, 330);
  Place(new QLabel("Text:", this), 90, 1190, 2700, 240);
  txtText = new QLineEdit(this);
  Place(txtText, 90, 1440, 2700, 330);
  const auto markChanged = [this] { Changed = true; };
  connect(chkEnabled, &QCheckBox::clicked, this, markChanged);
  connect(txtBorderStyle, &QLineEdit::textChanged, this, markChanged);
  connect(txtText, &QLineEdit::textChanged, this, markChanged);
}

// The control has no text of its own; the page's "Text:" edits the hint the
// control shows under the mouse.
void Page::PropertyPage_SelectionChanged() {
  if (SelectedControls.isEmpty()) return;
  const AutoPic::Control* control = SelectedControls.first();
  txtText->setText(control->toolTip());
  txtBorderStyle->setText(QString::number(control->BorderStyle()));
  chkEnabled->setChecked(control->Enabled());
  Changed = false;
}

void Page::PropertyPage_ApplyChanges() {
  if (SelectedControls.isEmpty()) return;
  AutoPic::Control* control = SelectedControls.first();
  control->setToolTip(txtText->text());
  control->SetBorderStyle(static_cast<int>(modMain::Val(txtBorderStyle->text())));
  control->SetEnabled(chkEnabled->isChecked());
  Changed = false;
}

}  // namespace PropertyPage1
