// The host application's side of the desktop layer: real message boxes and
// the questions about the host's Qt application. In the ui module (and the
// static library), since it needs Qt.
#include "platform/UiQt.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

namespace Ui {
namespace {

// Declared before the back end, which asks for the window its boxes belong to.
QWidget* QtActiveWindow();


QMessageBox::Icon QtIcon(Icon icon) {
  switch (icon) {
    case kIconError:
      return QMessageBox::Critical;
    case kIconQuestion:
      return QMessageBox::Question;
    case kIconWarning:
      return QMessageBox::Warning;
    case kIconInfo:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

// Real dialogs over the host's own Qt application.
class QtBackend : public Backend {
 public:
  void MessageBox(const std::string& text, const std::string& caption,
                  Icon icon, QWidget* owner) override {
    QMessageBox box(QtIcon(icon), QString::fromLocal8Bit(caption.c_str()),
                    QString::fromLocal8Bit(text.c_str()), QMessageBox::Ok,
                    owner ? owner : QtActiveWindow());
    box.exec();
  }

  bool YesNo(const std::string& text, const std::string& caption,
             bool defaultYes) override {
    QMessageBox box(QMessageBox::Question,
                    QString::fromLocal8Bit(caption.c_str()),
                    QString::fromLocal8Bit(text.c_str()),
                    QMessageBox::Yes | QMessageBox::No, QtActiveWindow());
    box.setDefaultButton(defaultYes ? QMessageBox::Yes : QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
  }

  void SetWaitCursor(bool wait) override {
    // One override cursor at most, so a normal cursor after several waits
    // really restores the host's cursor.
    if (wait && !waiting_) {
      QApplication::setOverrideCursor(Qt::WaitCursor);
      waiting_ = true;
    } else if (!wait && waiting_) {
      QApplication::restoreOverrideCursor();
      waiting_ = false;
    }
  }

  void ProcessMessages() override { QCoreApplication::processEvents(); }

 private:
  bool waiting_ = false;
};

bool QtHasWidgets() {
  return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

QWidget* QtActiveWindow() {
  return QtHasWidgets() ? QApplication::activeWindow() : nullptr;
}

std::string QtAppTitle() {
  if (!QtHasWidgets()) return std::string();
  return QApplication::applicationDisplayName().toLocal8Bit().toStdString();
}

Backend* QtBackendOfHost() {
  if (!QtHasWidgets()) return nullptr;
  static QtBackend qt;
  return &qt;
}

constexpr Host kQtHost{&QtHasWidgets, &QtActiveWindow, &QtAppTitle, &QtBackendOfHost};

}  // namespace
}  // namespace Ui

const Ui::Host& UiQt::Host() { return Ui::kQtHost; }
