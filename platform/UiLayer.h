// What the library asks of the desktop: message boxes, Yes/No questions, the
// wait cursor and letting pending messages run. A host that runs a Qt
// application gets real dialogs; any other host gets the headless back end,
// which writes the message to stderr and gives the default answer.
#pragma once

#include <string>

namespace Ui {

enum Icon { kIconNone, kIconError, kIconQuestion, kIconWarning, kIconInfo };

class Backend {
 public:
  virtual ~Backend() = default;
  virtual void MessageBox(const std::string& text, const std::string& caption,
                          Icon icon) = 0;
  // True for Yes.
  virtual bool YesNo(const std::string& text, const std::string& caption,
                     bool defaultYes) = 0;
  virtual void SetWaitCursor(bool wait) = 0;
  virtual void ProcessMessages() = 0;
};

void MessageBox(const std::string& text, const std::string& caption, Icon icon);
bool YesNo(const std::string& text, const std::string& caption, bool defaultYes);
void SetWaitCursor(bool wait);
void ProcessMessages();

// Replaces the back end chosen automatically (nullptr restores it); tests use
// it to script answers and record what was shown.
void SetBackend(Backend* backend);
Backend& CurrentBackend();

}  // namespace Ui
