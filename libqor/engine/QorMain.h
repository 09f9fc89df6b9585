// The exported interface's unit: its start and stop. The exports themselves
// are declared in the public header qor.h.
#pragma once

#include "qor.h"

namespace QorMain {

void QorMainInit();
void QorMainFinalize();

}  // namespace QorMain
