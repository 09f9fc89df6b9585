#include "dialogs/CtlEx.h"

#include <QMouseEvent>

#include "foundation/Errors.h"

using Errors::TraceScope;

namespace CtlEx {
namespace {

void Call(const ChangeHandler& handler) {
  if (handler) handler();
}

// The clone takes the old control's place in its parent's child order, so
// the tab order and painting order stay as the form was built.
template <class New, class Old>
New* CloneInto(Old* old, bool freeOld) {
  auto* clone = new New(old->orientation(), old->parentWidget());
  clone->setGeometry(old->geometry());
  clone->setRange(old->minimum(), old->maximum());
  clone->setSingleStep(old->singleStep());
  clone->setPageStep(old->pageStep());
  clone->setValue(old->value());
  clone->setEnabled(old->isEnabled());
  clone->setObjectName(old->objectName());
  clone->setVisible(!old->isHidden());
  if (old->parentWidget()) clone->stackUnder(old);
  if (freeOld) delete old;
  return clone;
}

}  // namespace

QScrollbar2::QScrollbar2(Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent) {
  TraceScope t("CtlEx.QScrollbar2.Create");
  connect(this, &QAbstractSlider::valueChanged, this, [this] { Call(onChange); });
  connect(this, &QAbstractSlider::actionTriggered, this, [this] { Call(onScroll); });
}

void QScrollbar2::mousePressEvent(QMouseEvent* event) {
  TraceScope t("CtlEx.QScrollbar2.MouseDown");
  notTracking = false;
  QScrollBar::mousePressEvent(event);
}

void QScrollbar2::mouseReleaseEvent(QMouseEvent* event) {
  TraceScope t("CtlEx.QScrollbar2.MouseUp");
  QScrollBar::mouseReleaseEvent(event);
  notTracking = true;
  Call(onChange);
}

QTrackBar2::QTrackBar2(Qt::Orientation orientation, QWidget* parent)
    : QSlider(orientation, parent) {
  TraceScope t("CtlEx.QTrackBar2.Create");
  connect(this, &QAbstractSlider::valueChanged, this, [this] { Call(onChange); });
}

void QTrackBar2::mousePressEvent(QMouseEvent* event) {
  TraceScope t("CtlEx.QTrackBar2.MouseDown");
  notTracking = false;
  QSlider::mousePressEvent(event);
}

void QTrackBar2::mouseReleaseEvent(QMouseEvent* event) {
  TraceScope t("CtlEx.QTrackBar2.MouseUp");
  QSlider::mouseReleaseEvent(event);
  notTracking = true;
  Call(onChange);
}

QScrollbar2* CloneScrollBar2(QScrollBar* old, bool freeOld,
                             ChangeHandler onChange, ChangeHandler onScroll) {
  TraceScope t("CtlEx.CloneScrollBar2");
  if (!old) return nullptr;
  try {
    QScrollbar2* clone = CloneInto<QScrollbar2>(old, freeOld);
    clone->onChange = std::move(onChange);
    clone->onScroll = std::move(onScroll);
    return clone;
  } catch (...) {
    return nullptr;
  }
}

QTrackBar2* CloneTrackBar2(QSlider* old, bool freeOld, ChangeHandler onChange) {
  TraceScope t("CtlEx.CloneTrackBar2");
  if (!old) return nullptr;
  try {
    const QSlider::TickPosition ticks = old->tickPosition();
    const int interval = old->tickInterval();
    QTrackBar2* clone = CloneInto<QTrackBar2>(old, freeOld);
    clone->setTickPosition(ticks);
    clone->setTickInterval(interval);
    clone->onChange = std::move(onChange);
    return clone;
  } catch (...) {
    return nullptr;
  }
}

}  // namespace CtlEx
