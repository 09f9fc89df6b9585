#include "formats/CodecCommon.h"

#include <cstring>

#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"
#include "platform/Wexel.h"

namespace CodecCommon {
namespace {

struct Stored {
  char text[1024];
  bool set;
};
Stored g_error{};
Stored g_warning{};

void Keep(Stored& slot, const char* message) {
  if (slot.set || !message) return;
  std::strncpy(slot.text, message, sizeof slot.text - 1);
  slot.text[sizeof slot.text - 1] = 0;
  slot.set = true;
}

}  // namespace

void ClearMessages() {
  g_error.set = false;
  g_warning.set = false;
}

void ListenToLayer() {
  ExternErrorSet(StoreError);
  ExternWarningSet(StoreWarning);
  ClearMessages();
}

void StoreError(const char* message) noexcept { Keep(g_error, message); }
void StoreWarning(const char* message) noexcept { Keep(g_warning, message); }
bool HasError() { return g_error.set; }

void RenameInStoredError(const std::string& from, const std::string& to) {
  if (!g_error.set || from.empty()) return;
  std::string text = g_error.text;
  const size_t at = text.find(from);
  if (at == std::string::npos) return;
  text.replace(at, from.size(), to);
  g_error.set = false;
  Keep(g_error, text.c_str());
}

void PassWarnings(int32_t sourceLine) {
  if (!g_warning.set) return;
  g_warning.set = false;
  Errors::WarnSetText(Errors::kClsText, g_warning.text, sourceLine);
}

void RaiseFailure(Errors::ErrorName error, int32_t sourceLine) {
  PassWarnings(sourceLine);
  if (g_error.set) {
    g_error.set = false;
    Errors::ErrSetText(Errors::kClsText, g_error.text, sourceLine);
    return;
  }
  Errors::ErrSet(error, sourceLine);
}

}  // namespace CodecCommon
