// The splash window: shown over the still hidden main window for a few
// seconds; its end shows the main window. Clicks on it do nothing.
#pragma once

#include <QWidget>
#include <functional>

class QFrame;
class QLabel;
class QTimer;

namespace frmSplash {

class Form : public QWidget {
 public:
  // onUnload runs once when the splash goes.
  explicit Form(std::function<void()> onUnload);

  QLabel* lblVersion() const { return lblVersion_; }
  QTimer* Timer1() const { return timer1_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Timer1_Timer();

  std::function<void()> onUnload_;
  QFrame* frame1_;
  QLabel* image1_;
  QLabel* image2_;
  QLabel* picture1_;
  QLabel* lblVersion_;
  QTimer* timer1_;
};

// The splash's artwork: a quill over a film strip, drawn at the given size.
QPixmap DrawQuill(int size);
QPixmap DrawFilmStrip(int width, int height);

}  // namespace frmSplash
