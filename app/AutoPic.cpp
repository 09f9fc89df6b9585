#include "AutoPic.h"

#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QResizeEvent>
#include <cmath>

#include "modMain.h"

namespace AutoPic {
namespace {

using modMain::Px;
constexpr double kTwipsPerPixel = modMain::kTwipsPerPixel;

}  // namespace

std::optional<Placement> Fit(double w, double h, double backWidth, double backHeight) {
  if (!(w > 0) || !(h > 0)) return std::nullopt;
  Placement p{};
  if (h < w) {
    p.width = backWidth;
    p.height = backWidth / (w / h);
  } else {
    p.height = backHeight;
    p.width = backHeight * (w / h);
  }
  p.left = backWidth / 2 - p.width / 2;
  p.top = backHeight / 2 - p.height / 2;
  return p;
}

Control::Control(QWidget* parent) : QWidget(parent) {
  picBack_ = new QFrame(this);
  picBack_->setAutoFillBackground(true);
  picBack_->setGeometry(0, 0, Px(kBackWidthTwips), height());
  image1_ = new QLabel(picBack_);
  image1_->setScaledContents(true);
  image1_->hide();
  image1_->installEventFilter(this);
  SetBorderStyle(1);
  SetBackColor(DefaultBackColor());
  changed_.clear();
}

QColor Control::DefaultBackColor() {
  return QApplication::palette().color(QPalette::Base);
}

QColor Control::BackColor() const {
  return picBack_->palette().color(QPalette::Window);
}

void Control::SetBackColor(const QColor& color) {
  QPalette palette = picBack_->palette();
  palette.setColor(QPalette::Window, color);
  picBack_->setPalette(palette);
  PropertyChanged("BackColor");
}

void Control::SetEnabled(bool enabled) {
  setEnabled(enabled);
  PropertyChanged("Enabled");
}

void Control::SetBorderStyle(int style) {
  borderStyle_ = style == 1 ? 1 : 0;
  picBack_->setFrameStyle(borderStyle_ == 1 ? QFrame::Box | QFrame::Plain : QFrame::NoFrame);
  picBack_->setLineWidth(1);
  PropertyChanged("BorderStyle");
}

void Control::PropertyChanged(const QString& name) {
  if (!changed_.contains(name)) changed_.append(name);
}

bool Control::Load(const QString& path) {
  image1_->hide();
  picSource_ = QImage();
  image1_->setPixmap(QPixmap());
  // Read afresh: the host hands the same temporary file name with new
  // contents for every picture.
  if (!path.isEmpty()) picSource_.load(path);
  Tag = path;
  const double w = std::nearbyint(picSource_.width() * kTwipsPerPixel);
  const double h = std::nearbyint(picSource_.height() * kTwipsPerPixel);
  const auto place = Fit(w, h, picBack_->width() * kTwipsPerPixel,
                         picBack_->height() * kTwipsPerPixel);
  if (!place) return false;
  image1_->setPixmap(QPixmap::fromImage(picSource_));
  image1_->setGeometry(Px(place->left), Px(place->top), Px(place->width),
                       Px(place->height));
  image1_->show();
  return false;
}

void Control::resizeEvent(QResizeEvent* event) {
  picBack_->resize(picBack_->width(), event->size().height());
  QWidget::resizeEvent(event);
}

bool Control::eventFilter(QObject* watched, QEvent* event) {
  if (watched == image1_ && isEnabled()) {
    if (event->type() == QEvent::MouseButtonRelease && Click) {
      Click();
      return true;
    }
    if (event->type() == QEvent::MouseButtonDblClick && DblClick) {
      DblClick();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void Control::WriteProperties(PropertyBag& bag) const {
  const auto write = [&bag](const QString& key, const QVariant& value, const QVariant& def) {
    if (value != def)
      bag.insert(key, value);
    else
      bag.remove(key);
  };
  write("BackColor", BackColor(), DefaultBackColor());
  write("Enabled", Enabled(), true);
  write("BorderStyle", borderStyle_, 1);
  // "Picture" would hold a background picture of the control's own; it has
  // none, which is the default and so is never stored.
}

void Control::ReadProperties(const PropertyBag& bag) {
  SetBackColor(bag.value("BackColor", DefaultBackColor()).value<QColor>());
  SetEnabled(bag.value("Enabled", true).toBool());
  SetBorderStyle(bag.value("BorderStyle", 1).toInt());
  changed_.clear();
}

}  // namespace AutoPic
