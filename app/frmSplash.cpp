#include "frmSplash.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>
#include <algorithm>

#include "modMain.h"

namespace frmSplash {
namespace {

constexpr int kWidthTwips = 7200;
constexpr int kHeightTwips = 4200;

}  // namespace

QPixmap DrawQuill(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 100.0, size / 100.0);
  QPainterPath feather;
  feather.moveTo(18, 88);
  feather.cubicTo(30, 55, 55, 20, 90, 8);
  feather.cubicTo(80, 40, 55, 70, 18, 88);
  QLinearGradient shade(18, 88, 90, 8);
  shade.setColorAt(0, QColor(40, 70, 140));
  shade.setColorAt(1, QColor(150, 190, 240));
  p.setPen(QPen(QColor(20, 40, 90), 1.5));
  p.setBrush(shade);
  p.drawPath(feather);
  p.setPen(QPen(QColor(20, 40, 90), 2.5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(18, 88), QPointF(70, 30));
  return pixmap;
}

QPixmap DrawFilmStrip(int width, int height) {
  QPixmap pixmap(width, height);
  pixmap.fill(QColor(30, 30, 36));
  QPainter p(&pixmap);
  const int hole = std::max(2, height / 8);
  for (int x = hole / 2; x < width; x += hole * 2) {
    p.fillRect(x, hole / 2, hole, hole, QColor(220, 220, 210));
    p.fillRect(x, height - hole - hole / 2, hole, hole, QColor(220, 220, 210));
  }
  static const QColor kFrameColours[] = {{200, 120, 60}, {90, 150, 200},
                                         {120, 180, 90}, {210, 190, 80}};
  const int frameHeight = height - 4 * hole;
  const int frameWidth = frameHeight * 4 / 3;
  int colour = 0;
  for (int x = hole; x + frameWidth <= width; x += frameWidth + hole) {
    QLinearGradient sky(0, 2 * hole, 0, 2 * hole + frameHeight);
    sky.setColorAt(0, kFrameColours[colour++ % 4]);
    sky.setColorAt(1, QColor(250, 250, 240));
    p.fillRect(x, 2 * hole, frameWidth, frameHeight, sky);
  }
  return pixmap;
}

Form::Form(std::function<void()> onUnload)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint),
      onUnload_(std::move(onUnload)) {
  using modMain::Px;
  setAttribute(Qt::WA_DeleteOnClose);
  setFixedSize(Px(kWidthTwips), Px(kHeightTwips));
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(235, 238, 245));
  setPalette(pal);

  frame1_ = new QFrame(this);
  frame1_->setFrameShape(QFrame::Box);
  frame1_->setGeometry(Px(120), Px(120), width() - Px(240), height() - Px(240));

  image1_ = new QLabel(frame1_);
  image1_->setPixmap(DrawQuill(Px(1800)));
  image1_->setGeometry(Px(240), Px(360), Px(1800), Px(1800));

  picture1_ = new QLabel(frame1_);
  picture1_->setText(QString("<div style='font-size:22pt; font-weight:bold;'>%1</div>"
                             "<div style='font-size:10pt;'>Image and movie workshop</div>")
                         .arg(modMain::kProductName));
  picture1_->setGeometry(Px(2280), Px(600), Px(4500), Px(1500));

  image2_ = new QLabel(frame1_);
  image2_->setPixmap(DrawFilmStrip(frame1_->width() - Px(480), Px(900)));
  image2_->setGeometry(Px(240), Px(2400), frame1_->width() - Px(480), Px(900));

  lblVersion_ = new QLabel(modMain::ProgramVersionText(), frame1_);
  lblVersion_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  lblVersion_->setGeometry(frame1_->width() - Px(3240), Px(3480), Px(3000), Px(360));

  modMain::CentreOn(this, QGuiApplication::primaryScreen());

  timer1_ = new QTimer(this);
  timer1_->setSingleShot(true);
  timer1_->setInterval(modMain::SplashMilliseconds());
  connect(timer1_, &QTimer::timeout, this, [this] { Timer1_Timer(); });
  timer1_->start();
}

void Form::Timer1_Timer() { close(); }

void Form::closeEvent(QCloseEvent* event) {
  event->accept();
  if (onUnload_) {
    auto onUnload = std::move(onUnload_);
    onUnload_ = nullptr;
    onUnload();
  }
}

}  // namespace frmSplash
