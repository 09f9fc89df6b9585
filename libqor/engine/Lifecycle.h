// Library start and stop: each unit's initialisation after the units it
// uses, and the finalisations in reverse order.
#pragma once

namespace Lifecycle {

void LibraryStart();
void LibraryStop();

}  // namespace Lifecycle
