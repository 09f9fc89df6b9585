// What the library asks of the desktop: message boxes, Yes/No questions, the
// wait cursor and letting pending messages run. A host that runs a Qt
// application gets real dialogs; any other host gets the headless back end,
// which writes the message to stderr and gives the default answer. The
// library never creates an application object of its own.
#pragma once

#include <deque>
#include <string>
#include <vector>

class QWidget;

namespace Ui {

enum Icon { kIconNone, kIconError, kIconQuestion, kIconWarning, kIconInfo };

class Backend {
 public:
  virtual ~Backend() = default;
  // owner: the window the box belongs to; nullptr lets the back end choose.
  virtual void MessageBox(const std::string& text, const std::string& caption,
                          Icon icon, QWidget* owner) = 0;
  // True for Yes.
  virtual bool YesNo(const std::string& text, const std::string& caption,
                     bool defaultYes) = 0;
  virtual void SetWaitCursor(bool wait) = 0;
  virtual void ProcessMessages() = 0;
};

// The back end of hosts without a Qt application. Everything shown is also
// recorded, and questions take their answers from a queue when one is given
// (else the default button), so tests can script a whole dialogue.
class HeadlessBackend : public Backend {
 public:
  struct Shown {
    std::string text;
    std::string caption;
    Icon icon = kIconNone;
    bool question = false;
    bool defaultYes = false;
  };

  void MessageBox(const std::string& text, const std::string& caption,
                  Icon icon, QWidget* owner) override;
  bool YesNo(const std::string& text, const std::string& caption,
             bool defaultYes) override;
  void SetWaitCursor(bool wait) override;
  void ProcessMessages() override;

  std::vector<Shown> shown;
  std::deque<bool> answers;  // next Yes/No answers, front first
  bool waitCursor = false;
  int processCalls = 0;
  bool echo = true;  // write each message to stderr
};

void MessageBox(const std::string& text, const std::string& caption, Icon icon,
                QWidget* owner = nullptr);
bool YesNo(const std::string& text, const std::string& caption, bool defaultYes);
void SetWaitCursor(bool wait);
void ProcessMessages();

// The host application's side needs Qt, which this layer does not hold: a
// layer above lends it through this table (the ui module's gate in the
// shared library, the Qt back end where it is built in). An empty table, or
// an empty slot, answers as a process without a window host.
struct Host {
  bool (*hasWidgets)() = nullptr;
  QWidget* (*activeWindow)() = nullptr;
  std::string (*appTitle)() = nullptr;
  Backend* (*backend)() = nullptr;
};

// Fills the table; null empties it. The table must outlive its use.
void InstallHost(const Host* host);

// True when the host runs a Qt Widgets application.
bool HostHasWidgets();
// The active window of the host's application, nullptr when there is none.
QWidget* ActiveWindow();
// The host application's display name, empty without one.
std::string HostAppTitle();
// Real message boxes over the host's application; nullptr without one.
Backend* HostBackend();

// Replaces the back end chosen automatically (nullptr restores it); tests use
// it to script answers and record what was shown.
void SetBackend(Backend* backend);
Backend& CurrentBackend();

}  // namespace Ui
