// Up-down buttons beside a text box: each press steps the box's number by
// one within the range and writes it back as text.
#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

class UpDown : public QWidget {
 public:
  UpDown(QLineEdit* buddy, QWidget* parent);
  void setRange(int minimum, int maximum);
  int minimum() const { return min_; }
  int maximum() const { return max_; }
  void stepBy(int steps);

 private:
  QLineEdit* buddy_;
  QToolButton* up_;
  QToolButton* down_;
  int min_ = 0;
  int max_ = 10;
};
