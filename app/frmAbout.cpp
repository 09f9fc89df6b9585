#include "frmAbout.h"

#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "AppDialogs.h"
#include "FitTexts.h"
#include "frmSplash.h"
#include "modMain.h"

namespace frmAbout {
namespace {

constexpr int kWidthTwips = 6300;
constexpr int kHeightTwips = 4200;
constexpr const char* kWarningText =
    "Warning: this program is protected by copyright law. Copying or "
    "distributing it, or any part of it, without the maker's permission is "
    "not allowed.";

// Runs a handler on a left click of a label.
class ClickHook : public QObject {
 public:
  ClickHook(QObject* parent, std::function<void()> onClick)
      : QObject(parent), onClick_(std::move(onClick)) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonRelease) {
      onClick_();
      return true;
    }
    return false;
  }

 private:
  std::function<void()> onClick_;
};

}  // namespace

int NextWarningLeft(int left, int warningWidth, int boxWidth) {
  left -= modMain::Px(kScrollStepTwips);
  return left < -warningWidth ? boxWidth : left;
}

void StartSysInfo(QWidget* owner) {
  AppDialogs::Message(owner, kSysInfoUnavailable, modMain::kAppTitle,
                      AppDialogs::Buttons::Ok, AppDialogs::Icon::Information);
}

Form::Form(QWidget* owner) : QDialog(owner) {
  using modMain::Px;
  setAttribute(Qt::WA_DeleteOnClose);
  setModal(true);
  setWindowTitle(QString("About ") + modMain::kAppTitle);
  setFixedSize(Px(kWidthTwips), Px(kHeightTwips));

  auto* picIcon = new QLabel(this);
  picIcon->setPixmap(frmSplash::DrawQuill(Px(720)));
  picIcon->setGeometry(Px(240), Px(240), Px(720), Px(720));

  auto* lblTitle = new QLabel(modMain::kProductName, this);
  QFont titleFont = lblTitle->font();
  titleFont.setPointSize(titleFont.pointSize() + 4);
  titleFont.setBold(true);
  lblTitle->setFont(titleFont);
  lblTitle->setGeometry(Px(1200), Px(240), Px(4800), Px(480));

  lblVersion_ = new QLabel(modMain::ProgramVersionText(), this);
  lblVersion_->setGeometry(Px(1200), Px(720), Px(4800), Px(300));

  auto* lblDescription = new QLabel(
      "Converts still images, animations and movies, edits pictures and "
      "saves thumbnails with the libqor media library.",
      this);
  lblDescription->setWordWrap(true);
  lblDescription->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  lblDescription->setGeometry(Px(1200), Px(1080), Px(4800), Px(900));

  // The copyright warning stands whole; only the picture beneath it moves,
  // so no word of it is ever cut by the strip's edges.
  lblWarning_ = new QLabel(kWarningText, this);
  lblWarning_->setWordWrap(true);
  lblWarning_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  lblWarning_->setGeometry(Px(240), Px(2040), Px(5820), Px(540));

  picture1_ = new QFrame(this);
  picture1_->setFrameShape(QFrame::StyledPanel);
  picture1_->setGeometry(Px(240), Px(2640), Px(5820), Px(300));
  imageWarning_ = new QLabel(picture1_);
  imageWarning_->setPixmap(frmSplash::DrawQuill(picture1_->height() - 4));
  imageWarning_->adjustSize();
  imageWarning_->move(0, (picture1_->height() - imageWarning_->height()) / 2);

  label4_ = new QLabel(QString("<a href='%1'>%1</a>").arg(kServiceUrl), this);
  label4_->setCursor(Qt::PointingHandCursor);
  label4_->setGeometry(Px(240), Px(3000), Px(5820), Px(300));
  label4_->installEventFilter(new ClickHook(this, [this] { Label4_Click(); }));

  cmdOK_ = new QPushButton("OK", this);
  cmdOK_->setDefault(true);
  cmdOK_->setGeometry(Px(4500), Px(3480), Px(1560), Px(375));
  connect(cmdOK_, &QPushButton::clicked, this, [this] { close(); });

  cmdSysInfo_ = new QPushButton("&System Info...", this);
  cmdSysInfo_->setGeometry(Px(2820), Px(3480), Px(1560), Px(375));
  connect(cmdSysInfo_, &QPushButton::clicked, this, [this] { StartSysInfo(this); });

  FitTexts::Fit(this);
  modMain::CentreOn(this, modMain::ScreenOf(this));

  timer1_ = new QTimer(this);
  timer1_->setInterval(kScrollIntervalMs);
  connect(timer1_, &QTimer::timeout, this, [this] { Timer1_Timer(); });
  timer1_->start();
}

void Form::Timer1_Timer() {
  imageWarning_->move(NextWarningLeft(imageWarning_->x(), imageWarning_->width(),
                                      picture1_->width()),
                      imageWarning_->y());
}

void Form::Label4_Click() {
  AppDialogs::OpenUrl(QUrl(kServiceUrl));
  close();
}

}  // namespace frmAbout
