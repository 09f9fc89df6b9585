#include "platform/UiLayer.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>
#include <cstdio>

namespace Ui {
namespace {

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
                    owner ? owner : ActiveWindow());
    box.exec();
  }

  bool YesNo(const std::string& text, const std::string& caption,
             bool defaultYes) override {
    QMessageBox box(QMessageBox::Question,
                    QString::fromLocal8Bit(caption.c_str()),
                    QString::fromLocal8Bit(text.c_str()),
                    QMessageBox::Yes | QMessageBox::No, ActiveWindow());
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

Backend* g_override = nullptr;

}  // namespace

void HeadlessBackend::MessageBox(const std::string& text,
                                 const std::string& caption, Icon icon,
                                 QWidget*) {
  if (echo) std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
  shown.push_back({text, caption, icon, false, false});
}

bool HeadlessBackend::YesNo(const std::string& text, const std::string& caption,
                            bool defaultYes) {
  bool answer = defaultYes;
  if (!answers.empty()) {
    answer = answers.front();
    answers.pop_front();
  }
  if (echo)
    std::fprintf(stderr, "[%s] %s (%s)\n", caption.c_str(), text.c_str(),
                 answer ? "Yes" : "No");
  shown.push_back({text, caption, kIconQuestion, true, defaultYes});
  return answer;
}

void HeadlessBackend::SetWaitCursor(bool wait) { waitCursor = wait; }
void HeadlessBackend::ProcessMessages() { processCalls++; }

bool HostHasWidgets() {
  return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

QWidget* ActiveWindow() {
  return HostHasWidgets() ? QApplication::activeWindow() : nullptr;
}

Backend& CurrentBackend() {
  if (g_override) return *g_override;
  if (HostHasWidgets()) {
    static QtBackend qt;
    return qt;
  }
  static HeadlessBackend headless;
  return headless;
}

void SetBackend(Backend* backend) { g_override = backend; }

void MessageBox(const std::string& text, const std::string& caption, Icon icon,
                QWidget* owner) {
  CurrentBackend().MessageBox(text, caption, icon, owner);
}

bool YesNo(const std::string& text, const std::string& caption,
           bool defaultYes) {
  return CurrentBackend().YesNo(text, caption, defaultYes);
}

void SetWaitCursor(bool wait) { CurrentBackend().SetWaitCursor(wait); }
void ProcessMessages() { CurrentBackend().ProcessMessages(); }

}  // namespace Ui
