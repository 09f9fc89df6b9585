// The window handle of the host, the plain error box and the temporary
// folder. Trace names of this unit are lower case ("winutils.*").
#pragma once

#include <string>

class QWidget;

namespace WinUtils {

// The foreground window; nullptr stands for the desktop.
QWidget* GetWindowHandle();
void DvlShowError(const std::string& text);
// The system's temporary folder with a trailing "/", empty on any failure.
std::string GetTempFolder();

}  // namespace WinUtils
