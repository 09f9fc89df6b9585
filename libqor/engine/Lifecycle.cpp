#include "engine/Lifecycle.h"

#include "engine/QorMain.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "foundation/Translator.h"

namespace Lifecycle {

void LibraryStart() {
  Errors::ErrClear();
  Errors::WarnClear();
  Translator::TranInit();
  // The exported interface comes last.
  QorMain::QorMainInit();
}

void LibraryStop() {
  Translator::TranFree();
  // The memory tracker reports and frees what is left, then the error unit
  // reports frames still open.
  Basic::BasicFinalize();
  Errors::ErrorsFinalize();
}

}  // namespace Lifecycle
