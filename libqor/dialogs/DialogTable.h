// This layer's dialogs as the hooks the layers below open them through.
#pragma once

#include "engine/SettingsHook.h"
#include "formats/DialogHooks.h"

namespace DialogTable {

const DialogHooks::Formats& FormatDialogs();
DialogHooks::SettingsDialog SettingsDialog();

}  // namespace DialogTable
