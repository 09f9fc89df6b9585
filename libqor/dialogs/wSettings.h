// The output-settings dialog: a conversion's output resolution, colour
// depth, dithering and codec options, with a live preview of its source
// files scaled to the chosen resolution.
#pragma once

#include <string>

#include "engine/Common.h"
#include "engine/QorMain.h"

namespace wSettings {

// Runs the dialog on a private copy of rec; true when the user chose OK,
// and only then rec receives the edited settings. fileList may be empty.
bool DlgSettings(Common::QorRec* rec, QorMain::QorFileList* fileList,
                 const std::string& title, bool enableChanges);

// The depth texts of the depth list, in their order (32, 24, 16, 15, 8).
extern const char* const kDepthTexts[5];
extern const int32_t kDepths[5];

}  // namespace wSettings
