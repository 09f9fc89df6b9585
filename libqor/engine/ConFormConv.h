// The conversion loop: pulls source blocks, frames and sounds through six
// hooks, converts the frame rate, interleaves sound with pictures and writes
// the outputs.
#pragma once

#include <cstdint>

#include "foundation/Basic.h"

namespace ConForm {

// What a source block is.
enum : int32_t {
  kBlockNone = Basic::K_AUTO,  // nothing given: the stream is finished
  kBlockSilence = 0,
  kBlockFile = 1,
  kBlockInfo = 2,    // a ready source-information record
  kBlockMemory = 3,  // an image or a sound in memory
  kBlockSkip = 4,    // nothing now, ask again later
};

// The block the engine lends to a host's source callback; the host fills it
// only through the source exports while the callback runs.
struct QorSrcBlock {
  void* data = nullptr;
  int32_t kind = kBlockNone;
  int32_t blockNum = 0;
  int32_t start = Basic::K_AUTO;   // first frame (from 1) or sample (from 0)
  int32_t length = Basic::K_AUTO;  // frames or samples
  double startTime = Basic::K_AUTO_REAL;
  double lengthTime = Basic::K_AUTO_REAL;
  int32_t copies = 1;  // passes of each frame through the frame-rate step
  double frameRate = Basic::K_AUTO_REAL;
  int32_t direction = 1;
  int32_t maxFiles = 1;  // files of a numbered sequence a file block spans
  int32_t minusAllowed = 0;
  int32_t finished = 0;
};

}  // namespace ConForm
