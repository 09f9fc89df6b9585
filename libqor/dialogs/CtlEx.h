// A scroll bar and a track bar that tell a finished change from one still in
// progress: while the user drags, every position change reaches the change
// handler with the not-tracking flag false; the release reports once more
// with it true. Keyboard steps arrive with the flag true.
#pragma once

#include <QScrollBar>
#include <QSlider>
#include <functional>

namespace CtlEx {

using ChangeHandler = std::function<void()>;

class QScrollbar2 : public QScrollBar {
 public:
  explicit QScrollbar2(Qt::Orientation orientation, QWidget* parent = nullptr);
  bool notTracking = true;
  ChangeHandler onChange;  // every position change, and each release
  ChangeHandler onScroll;  // the user moved the bar (any action)

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
};

class QTrackBar2 : public QSlider {
 public:
  explicit QTrackBar2(Qt::Orientation orientation, QWidget* parent = nullptr);
  bool notTracking = true;
  ChangeHandler onChange;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
};

// Replaces a form's control by a notifying one with the same parent,
// bounds and orientation (and, for a track bar, its tick marks and range),
// taking over the given handlers; the old control is deleted when freeOld.
// Null on failure.
QScrollbar2* CloneScrollBar2(QScrollBar* old, bool freeOld,
                             ChangeHandler onChange = {},
                             ChangeHandler onScroll = {});
QTrackBar2* CloneTrackBar2(QSlider* old, bool freeOld,
                           ChangeHandler onChange = {});

}  // namespace CtlEx
