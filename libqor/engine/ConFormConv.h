// The conversion loop: pulls source blocks, frames and sounds through six
// hooks, converts the frame rate, interleaves sound with pictures and writes
// the outputs.
#pragma once

#include <cstdint>
#include <string>

#include "engine/ConFormSave.h"
#include "foundation/Basic.h"
#include "media/ImgBasic.h"
#include "media/SndBasic.h"

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

// Stop request values.
enum : int32_t {
  kStopNone = 0,
  kStopDelete = 1,  // stop and delete the outputs
  kStopKeep = 2,    // stop and keep them
};

// What the error hook answers; any other value goes on with what was read.
enum : int32_t {
  kActionDelete = 1,
  kActionKeep = 2,
  kActionRetry = 3,
  kActionDropBlock = 4,
};

// Handed to the video frame hook: imageIn is a copy of the decoded frame,
// spare a second work image; the hook sets imageOut to the image to write,
// or to nullptr to drop the frame.
struct ConFrameRec {
  int32_t frameCounter = 0;  // frames passed to the hook so far
  ImgBasic::Qimg* imageIn = nullptr;
  ImgBasic::Qimg* spare = nullptr;
  ImgBasic::Qimg* imageOut = nullptr;
};

// Handed to the audio block hook, in the same way as ConFrameRec.
struct ConSndRec {
  SndBasic::SndRec* soundIn = nullptr;
  SndBasic::SndRec* spare = nullptr;
  SndBasic::SndRec* soundOut = nullptr;
};

struct ConProgressRec {
  int32_t framesDone = 0;
  double videoSeconds = 0.0;
  int64_t samplesDone = 0;
  double audioSeconds = 0.0;
};

// What one pass wrote.
struct ConResultRec {
  int32_t framesWritten = 0;
  int32_t samplesWritten = 0;
  std::string videoName;  // for a numbered sequence, its first file
  std::string audioName;
  // Blocks that could be described (file blocks whose file a reader took,
  // and blocks given in memory), and the name of the first file block that
  // was dropped because none could.
  int32_t blocksDescribed = 0;
  std::string firstDropped;
};

using ConSourceHook = void (*)(QorSrcBlock* block);
using ConFrameHook = void (*)(ConFrameRec* rec);
using ConSndHook = void (*)(ConSndRec* rec);
using ConProgressHook = void (*)(ConProgressRec* rec);
// Gets the name of the source that could not be read and an action preset
// by the caller; the loop acts on the value the hook leaves in it.
using ConErrorHook = void (*)(const std::string& sourceName, int32_t* action);

void ConSetVideoSource(ConSourceHook hook);
void ConSetAudioSource(ConSourceHook hook);
void ConSetVideoFunc(ConFrameHook hook);
void ConSetAudioFunc(ConSndHook hook);
void ConSetCallbacks(ConProgressHook progress, ConErrorHook error);
void ConSetFrameCount(int32_t frames);
void ConSetFrameRate(bool keepDuration, double fps);
void ConSetTruncateAudio(bool truncate);
void ConSetStop(int32_t value);
int32_t ConGetStop();

// Runs one pass: empty names mean no output of that kind (a pass without
// outputs reads everything and writes nothing).
void ConStart(const std::string& videoName, const std::string& audioName,
              const FFSaveRec& save, ConResultRec* result);
// The audio half of a turn: false when the pass must end.
bool ConSnd_();
// Closes the open sources and the outputs and frees the work images and
// sounds.
void ConCloseAll();
// Clears the whole loop state and the stop request.
void ConDone();
void ConAbortDone();

}  // namespace ConForm
