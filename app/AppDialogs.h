// Every message box, file dialog, folder picker and shell open of the
// application goes through this one interface, so tests can answer them
// without a screen and see what the user would have been shown.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

class QPrinter;
class QWidget;

namespace AppDialogs {

enum class Icon { None, Information, Warning, Critical, Question };
enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };

struct FileRequest {
  QString title;
  QString fileName;     // proposed name, may be empty
  QStringList filters;  // "Description (*.a *.b)" each
};

class Port {
 public:
  virtual ~Port() = default;
  virtual Answer Message(QWidget* owner, const QString& text,
                         const QString& caption, Buttons buttons, Icon icon) = 0;
  // Empty on Cancel.
  virtual QString OpenFile(QWidget* owner, const FileRequest& request) = 0;
  virtual QString SaveFile(QWidget* owner, const FileRequest& request) = 0;
  virtual QString Folder(QWidget* owner, const QString& title) = 0;
  virtual void OpenUrl(const QUrl& url) = 0;
  // The printer dialog over a printer whose orientation is preset; the
  // user's choices go into the printer. False on Cancel.
  virtual bool Printer(QWidget* owner, QPrinter& printer) = 0;
};

// The port in use; real dialogs unless a test installed its own.
Port& Current();
// nullptr restores the real dialogs.
void Install(Port* port);

Answer Message(QWidget* owner, const QString& text, const QString& caption,
               Buttons buttons = Buttons::Ok, Icon icon = Icon::None);
QString OpenFile(QWidget* owner, const FileRequest& request);
QString SaveFile(QWidget* owner, const FileRequest& request);
QString Folder(QWidget* owner, const QString& title);
void OpenUrl(const QUrl& url);
bool Printer(QWidget* owner, QPrinter& printer);

}  // namespace AppDialogs
