#include "AppDialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>

namespace AppDialogs {
namespace {

QMessageBox::Icon QtIcon(Icon icon) {
  switch (icon) {
    case Icon::Information:
      return QMessageBox::Information;
    case Icon::Warning:
      return QMessageBox::Warning;
    case Icon::Critical:
      return QMessageBox::Critical;
    case Icon::Question:
      return QMessageBox::Question;
    default:
      return QMessageBox::NoIcon;
  }
}

class QtPort : public Port {
 public:
  Answer Message(QWidget* owner, const QString& text, const QString& caption,
                 Buttons buttons, Icon icon) override {
    QMessageBox box(QtIcon(icon), caption, text,
                    buttons == Buttons::YesNo
                        ? QMessageBox::Yes | QMessageBox::No
                        : QMessageBox::Ok,
                    owner);
    const int pressed = box.exec();
    if (buttons == Buttons::Ok) return Answer::Ok;
    return pressed == QMessageBox::Yes ? Answer::Yes : Answer::No;
  }

  // The process's working folder is never changed by a dialog here, and
  // read-only choices are not offered, so no further options are needed.
  QString OpenFile(QWidget* owner, const FileRequest& request) override {
    return QFileDialog::getOpenFileName(owner, request.title, request.fileName,
                                        request.filters.join(";;"));
  }

  QString SaveFile(QWidget* owner, const FileRequest& request) override {
    return QFileDialog::getSaveFileName(owner, request.title, request.fileName,
                                        request.filters.join(";;"));
  }

  QString Folder(QWidget* owner, const QString& title) override {
    return QFileDialog::getExistingDirectory(owner, title);
  }

  void OpenUrl(const QUrl& url) override { QDesktopServices::openUrl(url); }

  bool Printer(QWidget* owner, QPrinter& printer) override {
    QPrintDialog dialog(&printer, owner);
    return dialog.exec() == QDialog::Accepted;
  }
};

QtPort g_qtPort;
Port* g_port = nullptr;

}  // namespace

Port& Current() { return g_port ? *g_port : g_qtPort; }

void Install(Port* port) { g_port = port; }

Answer Message(QWidget* owner, const QString& text, const QString& caption,
               Buttons buttons, Icon icon) {
  return Current().Message(owner, text, caption, buttons, icon);
}

QString OpenFile(QWidget* owner, const FileRequest& request) {
  return Current().OpenFile(owner, request);
}

QString SaveFile(QWidget* owner, const FileRequest& request) {
  return Current().SaveFile(owner, request);
}

QString Folder(QWidget* owner, const QString& title) {
  return Current().Folder(owner, title);
}

void OpenUrl(const QUrl& url) { Current().OpenUrl(url); }

bool Printer(QWidget* owner, QPrinter& printer) {
  return Current().Printer(owner, printer);
}

}  // namespace AppDialogs
