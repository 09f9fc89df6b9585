// Forms laid out at fixed design positions, made to hold their captions at
// whatever font the platform gives them. Qt only, no library state: the
// library's dialogs and the application's windows both link it.
#pragma once

#include <QLineEdit>
#include <QSize>
#include <QString>

class QLabel;
class QWidget;

namespace FitTexts {

// The room a control's own caption needs at its font (labels, buttons,
// check and radio boxes, group titles, every item of a drop-down list); an
// empty size for a control without one. A dimension that the caption does
// not decide is 0.
QSize Needed(const QWidget* control);

// Widens (and heightens) every control whose caption its design size cuts,
// moving the controls to its right in the same row, and those below it in
// the same column, along by as much, so that rows and columns keep their
// order and spacing; then each container, a tab widget's pages and finally
// window grow to hold what they hold. A window of fixed size stays fixed at
// its new size. Controls placed by a layout are left to it.
void Fit(QWidget* window);

// File names that cannot always fit their box are shown elided in the
// middle, so the start of the path and the file's own name stay in view,
// with the whole text as the tool tip.

// A text box for a path: while it does not have the keyboard it shows the
// path elided in the middle; while it is being edited, the whole text.
class ElidedLineEdit : public QLineEdit {
 public:
  explicit ElidedLineEdit(QWidget* parent = nullptr);
  // The text as the box shows it now.
  QString ShownText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QRect TextRect() const;
};

// Puts text into a label of fixed width, elided in the middle when it is
// too long, with the whole text as the tool tip.
void SetElidedText(QLabel* label, const QString& text);

}  // namespace FitTexts
