#include "foundation/VCLUtils.h"

#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "platform/base/SysInfo.h"
#include "platform/base/UiLayer.h"

using Errors::TraceScope;

namespace VCLUtils {
namespace {

// The box title a host may give the library; the library sets none.
std::string g_appTitle;

}  // namespace

std::string _GetAppTitle() {
  TraceScope t("VCLUtils._GetAppTitle");
  if (!g_appTitle.empty()) return g_appTitle;
  const std::string shown = Ui::HostAppTitle();
  if (!shown.empty()) return shown;
  // As an application object titles itself: the program's name without
  // its extension.
  std::string exe = SysInfo::ExecutablePath();
  const size_t slash = exe.rfind('/');
  if (slash != std::string::npos) exe.erase(0, slash + 1);
  const size_t dot = exe.rfind('.');
  if (dot != std::string::npos && dot > 0) exe.erase(dot);
  return exe;
}

void ShowErrorBox(const std::string& text) {
  TraceScope t("VCLUtils.ShowErrorBox");
  Ui::MessageBox(text, _GetAppTitle(), Ui::kIconError);
}

std::string GetExceptionText() {
  TraceScope t("VCLUtils.GetExceptionText");
  return Errors::CurrentExceptionText();
}

std::string YesNo(const std::string& text, int32_t defaultButton) {
  TraceScope t("VCLUtils.YesNo");
  return Ui::YesNo(text, _GetAppTitle(), defaultButton == 1) ? "Y" : "N";
}

void ProcessMessages() {
  TraceScope t("VCLUtils.ProcessMessages");
  Ui::ProcessMessages();
}

void CursorWait() {
  TraceScope t("VCLUtils.CursorWait");
  Ui::SetWaitCursor(true);
}

void CursorNormal() {
  TraceScope t("VCLUtils.CursorNormal");
  Ui::SetWaitCursor(false);
}

void TList_FreeAll_MemFree(TList*& list) {
  TraceScope t("VCLUtils.TList_FreeAll_MemFree");
  if (!list) return;
  for (void*& item : *list) Basic::MemFree(item);
  delete list;
  list = nullptr;
}

void TList_TestPack(TList* list, int32_t slack) {
  TraceScope t("VCLUtils.TList_TestPack");
  if (!list) return;
  if (static_cast<int64_t>(list->capacity()) -
          static_cast<int64_t>(list->size()) <=
      slack)
    return;
  std::erase(*list, nullptr);
  list->shrink_to_fit();
}

}  // namespace VCLUtils
