// The Qt back end of the desktop layer: the host application's side that the
// platform base asks through its host table (Ui::InstallHost).
#pragma once

#include "platform/base/UiLayer.h"

namespace UiQt {

// The host functions over the process's own Qt application.
const Ui::Host& Host();

}  // namespace UiQt
