// Inside a module: the host functions the core lent it.
#pragma once

#include "platform/Modules.h"

namespace ModuleHost {

// Keeps the core's functions (null: the core is stopping; drop them).
void Attach(const Modules::Host* host);

}  // namespace ModuleHost
