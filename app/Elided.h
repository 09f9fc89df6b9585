// File names that cannot always fit their box: shown elided in the middle,
// so the start of the path and the file's own name stay in view, with the
// whole text as the tool tip.
#pragma once

#include <QLineEdit>
#include <QString>

class QLabel;

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
