#include "engine/Lifecycle.h"

#include "foundation/Basic.h"
#include "foundation/Errors.h"

namespace Lifecycle {

void LibraryStart() {
  // Every unit's state starts empty on first use; nothing to prepare yet
  // beyond touching the foundation so it is built before anything else.
  Errors::ErrClear();
  Errors::WarnClear();
}

void LibraryStop() {
  // The memory tracker reports and frees what is left, then the error unit
  // reports frames still open.
  Basic::BasicFinalize();
  Errors::ErrorsFinalize();
}

}  // namespace Lifecycle
