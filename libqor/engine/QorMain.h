// The exported interface's unit: its start. The exports themselves
// are declared in the public header qor.h.
#pragma once

#include "qor.h"

namespace QorMain {

void QorMainInit();

}  // namespace QorMain
