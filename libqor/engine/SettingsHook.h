// The output-settings dialog, opened from the engine through a hook that the
// layer above fills, as the format dialogs are (formats/DialogHooks.h).
#pragma once

#include <string>

#include "engine/Common.h"
#include "engine/QorMain.h"

namespace DialogHooks {

// The quiet frame a refused settings dialog is recorded in.
inline constexpr const char* kSettingsFrame = "wsettings.DlgSettings";

using SettingsDialog = bool (*)(Common::QorRec* rec, QorMain::QorFileList* fileList,
                                const std::string& title, bool enableChanges);

// Fills the hook; null empties it again.
void InstallSettings(SettingsDialog dialog);

// The dialog on a private copy of rec, which receives the edited settings on
// OK only; without a filled hook refused as "Not supported."
bool DlgSettings(Common::QorRec* rec, QorMain::QorFileList* fileList, const std::string& title,
                 bool enableChanges);

}  // namespace DialogHooks
