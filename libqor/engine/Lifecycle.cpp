#include "engine/Lifecycle.h"

#include "engine/QorMain.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "formats/FF_AVI.h"
#include "formats/FF_GIF.h"
#include "formats/FF_MPG.h"
#include "foundation/Translator.h"
#include "platform/GdiText.h"
#include "platform/Modules.h"

namespace Lifecycle {

void LibraryStart() {
  // The memory tracker's table is made now, before the library's own
  // load-time object is complete, so that it is destroyed after the stop
  // has reported and freed the blocks still in it.
  Basic::MemMark();
  Errors::ErrClear();
  Errors::WarnClear();
  Translator::TranInit();
  FF_GIF::GIFCacheClear();
  FF_AVI::AviUnitInit();
  FF_MPG::MpgInit();
  // The exported interface comes last.
  QorMain::QorMainInit();
}

void LibraryStop() {
  // The exported interface goes first, as it came last.
  QorMain::QorMainDone();
  FF_MPG::MpgDone();
  FF_AVI::AviUnitDone();
  FF_GIF::GIFCacheClear();
  // The text sprites' font layer (no tracked memory) before the foundation.
  GdiText::FontsRelease();
  // The modules stay mapped, but must no longer call into a core that may be
  // unloaded before them.
  Modules::DetachAll();
  Translator::TranFree();
  // The memory tracker reports and frees what is left, then the error unit
  // reports frames still open.
  Basic::BasicFinalize();
  Errors::ErrorsFinalize();
}

}  // namespace Lifecycle
