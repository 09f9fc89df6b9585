#include "platform/UiLayer.h"

#include <cstdio>

namespace Ui {
namespace {

class HeadlessBackend : public Backend {
 public:
  void MessageBox(const std::string& text, const std::string& caption,
                  Icon) override {
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
  }
  bool YesNo(const std::string& text, const std::string& caption,
             bool defaultYes) override {
    std::fprintf(stderr, "[%s] %s (%s)\n", caption.c_str(), text.c_str(),
                 defaultYes ? "Yes" : "No");
    return defaultYes;
  }
  void SetWaitCursor(bool) override {}
  void ProcessMessages() override {}
};

Backend* g_override = nullptr;

}  // namespace

Backend& CurrentBackend() {
  if (g_override) return *g_override;
  static HeadlessBackend headless;
  return headless;
}

void SetBackend(Backend* backend) { g_override = backend; }

void MessageBox(const std::string& text, const std::string& caption,
                Icon icon) {
  CurrentBackend().MessageBox(text, caption, icon);
}

bool YesNo(const std::string& text, const std::string& caption,
           bool defaultYes) {
  return CurrentBackend().YesNo(text, caption, defaultYes);
}

void SetWaitCursor(bool wait) { CurrentBackend().SetWaitCursor(wait); }
void ProcessMessages() { CurrentBackend().ProcessMessages(); }

}  // namespace Ui
