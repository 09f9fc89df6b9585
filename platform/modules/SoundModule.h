// The sound module's one interface: the Vorbis layer's functions as a table
// that the module fills and the core's gate calls. Rows as in MovieModule.h.
#pragma once

#include <cstdint>

#include "platform/Modules.h"
#include "platform/Sorrel.h"

#define QOR_SOUND_CALLS(LOAD, KEEP)                                                      \
  LOAD(Sorrel, int32_t, ov_open_2,                                                       \
       (Sorrel::OvFileSlot * fileSlot, const char* fileName, void* state,                \
        const char* initial, int32_t initialBytes),                                      \
       (fileSlot, fileName, state, initial, initialBytes), Sorrel::kOvFail)              \
  LOAD(Sorrel, const Sorrel::OvInfo*, ov_info, (void* state, int32_t link), (state, link), \
       nullptr)                                                                          \
  LOAD(Sorrel, int64_t, ov_pcm_total, (void* state, int32_t link), (state, link),        \
       Sorrel::kOvFail)                                                                  \
  LOAD(Sorrel, int32_t, ov_pcm_seek, (void* state, int64_t frame), (state, frame),       \
       Sorrel::kOvFail)                                                                  \
  LOAD(Sorrel, int32_t, ov_read,                                                         \
       (void* state, char* buffer, int32_t length, int32_t bigEndian, int32_t word,      \
        int32_t sgned, int32_t* bitstream),                                              \
       (state, buffer, length, bigEndian, word, sgned, bitstream), Sorrel::kOvFail)      \
  KEEP(Sorrel, int32_t, ov_clear_2, (Sorrel::OvFileSlot * fileSlot, void* state),        \
       (fileSlot, state), Sorrel::kOvFail)                                               \
  LOAD(Sorrel, int32_t, ov_create,                                                       \
       (Sorrel::OvEncoder * *encoder, const char* fileName, int32_t rate, int32_t channels, \
        double quality),                                                                 \
       (encoder, fileName, rate, channels, quality), Sorrel::kOvFail)                    \
  LOAD(Sorrel, int32_t, ov_write,                                                        \
       (Sorrel::OvEncoder * encoder, const int16_t* samples, int32_t bytes),             \
       (encoder, samples, bytes), Sorrel::kOvFail)                                       \
  KEEP(Sorrel, int32_t, ov_close, (Sorrel::OvEncoder * encoder), (encoder), Sorrel::kOvFail)

namespace SoundModule {

#define QOR_SOUND_SLOT(NS, RET, NAME, PARAMS, ARGS, FAIL) RET(*NS##_##NAME) PARAMS;

struct Table {
  QOR_SOUND_CALLS(QOR_SOUND_SLOT, QOR_SOUND_SLOT)
};

}  // namespace SoundModule
