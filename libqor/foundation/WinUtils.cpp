#include "foundation/WinUtils.h"

#include <cstdlib>
#include <cstring>

#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "foundation/MiscProcs.h"
#include "platform/base/UiLayer.h"

using Errors::TraceScope;

namespace WinUtils {

QWidget* GetWindowHandle() {
  TraceScope t("winutils.GetWindowHandle");
  return Ui::ActiveWindow();
}

void DvlShowError(const std::string& text) {
  TraceScope t("winutils.DvlShowError");
  Ui::MessageBox(text, "Error", Ui::kIconError, GetWindowHandle());
}

std::string GetTempFolder() {
  TraceScope t("winutils.GetTempFolder");
  constexpr int64_t kBufferSize = 1024;
  char* dir = nullptr;
  if (Basic::MemAlloc(dir, kBufferSize, __LINE__, Basic::kMemString,
                      "winutils.GetTempFolder.dir") != Basic::kMemOk)
    return std::string();
  // The folder the system names for temporary files: $TMPDIR when set,
  // else /tmp; a name that does not fit the buffer is a failure.
  const char* env = std::getenv("TMPDIR");
  const char* source = (env && *env) ? env : "/tmp";
  std::string result;
  if (std::strlen(source) + 1 < static_cast<size_t>(kBufferSize)) {
    std::strcpy(dir, source);
    result = dir;
    if (result.back() != '/') result += '/';
  }
  Basic::MemFree(dir);
  return result;
}

}  // namespace WinUtils
