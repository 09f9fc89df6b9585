// The headless back end and the choice of back end. The host application's
// side (HostHasWidgets, ActiveWindow, HostAppTitle, HostBackend) asks the
// host table of UiHost.cpp, which the layer holding Qt fills.
#include "platform/base/UiLayer.h"

#include <cstdio>

namespace Ui {
namespace {

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

Backend& CurrentBackend() {
  if (g_override) return *g_override;
  if (Backend* qt = HostBackend()) return *qt;
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
