// The picture control's property page for a form designer: edits the first
// selected control's "Enabled", "BorderStyle" and "Text".
#pragma once

#include <QList>
#include <QWidget>

class QCheckBox;
class QLineEdit;

namespace AutoPic {
class Control;
}

namespace PropertyPage1 {

class Page : public QWidget {
 public:
  explicit Page(QWidget* parent = nullptr);

  // The designer's selection; the page works on its first control.
  QList<AutoPic::Control*> SelectedControls;
  bool Changed = false;

  void PropertyPage_SelectionChanged();
  void PropertyPage_ApplyChanges();

  QCheckBox* chkEnabled = nullptr;
  QLineEdit* txtBorderStyle = nullptr;
  QLineEdit* txtText = nullptr;
};

}  // namespace PropertyPage1
