// The shared library's load and unload: one object whose constructor and
// destructor run the library's start and stop.
#include "engine/Lifecycle.h"

namespace {

struct LibraryInstance {
  LibraryInstance() { Lifecycle::LibraryStart(); }
  ~LibraryInstance() { Lifecycle::LibraryStop(); }
};

LibraryInstance g_instance;

}  // namespace
