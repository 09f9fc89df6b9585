// The in-application help window over the HTML pages of the share folder.
#pragma once

#include <QString>
#include <QWidget>

class QTextBrowser;

namespace HelpWindow {

// The contents page the menu "Contents" opens.
QString ContentsPage();

class Form : public QWidget {
 public:
  Form();
  QTextBrowser* browser() const { return browser_; }

 private:
  QTextBrowser* browser_;
};

// Shows page in the help window (one window for the whole program); a
// missing page is reported to the user instead. Returns the window, or
// nullptr when the page is missing.
Form* Show(QWidget* owner, const QString& page);

}  // namespace HelpWindow
