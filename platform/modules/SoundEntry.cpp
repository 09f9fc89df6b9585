// The sound module's one export: its table of the Vorbis layer's functions.
#include "platform/modules/ModuleHost.h"
#include "platform/modules/SoundModule.h"

namespace {

SoundModule::Table MakeTable() {
  SoundModule::Table t{};
#define QOR_MODULE_FILL(NS, RET, NAME, PARAMS, ARGS, FAIL) t.NS##_##NAME = &NS::NAME;
  QOR_SOUND_CALLS(QOR_MODULE_FILL, QOR_MODULE_FILL)
#undef QOR_MODULE_FILL
  return t;
}

const SoundModule::Table kTable = MakeTable();

}  // namespace

extern "C" __attribute__((visibility("default"))) const void* qor_module_sound_v1(
    const Modules::Host* host) {
  ModuleHost::Attach(host);
  return &kTable;
}
