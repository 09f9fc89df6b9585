// The Vorbis layer in the core: every call goes to the sound module.
#include "platform/modules/ModuleGate.h"
#include "platform/modules/SoundModule.h"

#define QOR_SOUND_LOAD(...) QOR_GATE_LOAD(SoundModule::Table, Modules::kSound, __VA_ARGS__)
#define QOR_SOUND_KEEP(...) QOR_GATE_KEEP(SoundModule::Table, Modules::kSound, __VA_ARGS__)

QOR_SOUND_CALLS(QOR_SOUND_LOAD, QOR_SOUND_KEEP)
