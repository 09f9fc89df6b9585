#include "engine/ConFormConv.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "engine/ConFormOut.h"
#include "formats/ConForm.h"
#include "foundation/Errors.h"

namespace ConForm {
namespace {

using Basic::K_AUTO;
using ImgBasic::Qimg;
using SndBasic::SndRec;

// Silence blocks are counted and made at this rate, 8-bit mono.
constexpr int32_t kSilenceRate = 8000;

bool IsAutoReal(double value) {
  return std::fabs(value - Basic::K_AUTO_REAL) < 0.0001;
}

// A non-negative real truncated to a count that fits 32 bits; anything not
// positive (NaN included) is 0.
int32_t TruncCount(double value) {
  if (!(value > 0.0)) return 0;
  if (value >= 2147483647.0) return INT32_MAX;
  return static_cast<int32_t>(value);
}

// The video block being read, with its position.
struct VideoCursor {
  QorSrcBlock block;
  bool current = false;
  bool lastBlock = false;  // the source said no more blocks follow
  int32_t position = 0;    // next frame, from 1
  int32_t left = 0;        // frames still to read
  int32_t step = 1;        // +1 or -1
  int32_t copies = 1;
  double rateStep = 1.0;   // output frames per source frame
  Qimg* buffer = nullptr;  // where frames are decoded
};

// The audio block being read, with its position.
struct AudioCursor {
  int32_t kind = kBlockNone;
  const SndRec* memory = nullptr;
  double rate = 0.0;
  int32_t start = 0;   // next sample frame, from 0
  int32_t length = 0;  // sample frames still to read
  bool continues = false;  // the next file read follows the last one
  bool lastBlock = false;
};

struct ConStateRec {
  ConSourceHook videoSource = nullptr;
  ConSourceHook audioSource = nullptr;
  ConFrameHook videoFunc = nullptr;
  ConSndHook audioFunc = nullptr;
  ConProgressHook progress = nullptr;
  ConErrorHook error = nullptr;

  double fps = 0.0;
  int32_t plannedFrames = 0;
  bool keepDuration = false;
  int32_t interleave = 0;  // frames
  bool truncateAudio = false;

  bool videoPresent = false, audioPresent = false;
  bool videoFinished = false, audioFinished = false;
  bool needAudioBlock = false;
  bool audioSkipped = false;  // the audio source asked to be asked later
  bool videoOpen = false, audioOpen = false;
  bool videoOutGiven = false, audioOutGiven = false;
  bool audioDue = false, aligned = false, truncateStop = false;

  QorSrcBlock audioBlock;
  AudioCursor audio;
  UniFile videoSrc, audioSrc;
  UniInfoRec videoInfo, audioInfo;

  UniOutput outputs[2];
  UniOutput* videoOut = nullptr;
  UniOutput* audioOut = nullptr;  // the video output when the names agree

  int64_t samplesDone = 0;  // 32 bits last 13.5 hours of 44.1 kHz sound
  int32_t lastAudioWrite = 0;  // video frames written at the last audio write

  Qimg imageA;  // hook input
  Qimg imageB;  // hook spare
  Qimg imageC;  // decoder image that keeps the previous frame
  SndRec soundS;  // read
  SndRec soundT;  // hook spare

  Basic::Stopwatch whole{}, audioWatch{};
  double audioSeconds = 0.0;

  int32_t blocksDescribed = 0;
  std::string firstDropped;
};

ConStateRec g;
int32_t g_stop = kStopNone;

int32_t VideoFramesWritten() {
  return g.videoOut ? g.videoOut->framesWritten : 0;
}

// A failed quiet step frees what was allocated inside it; a work record
// whose block went that way must not be used or freed again.
void ForgetFreedBlocks() {
  for (Qimg* image : {&g.imageA, &g.imageB, &g.imageC})
    if (image->data && !Basic::MemIsTracked(image->data)) ImgBasic::ImgClear(image);
  for (SndRec* sound : {&g.soundS, &g.soundT})
    if (sound->data && !Basic::MemIsTracked(sound->data)) SndBasic::SndClear(*sound);
}

// Runs one read in a quiet frame; true when it left no error.
template <class Read>
bool QuietRead(const char* name, Read&& read) {
  Errors::MonitoredQuiet(name, std::forward<Read>(read));
  if (Errors::ErrNone()) return true;
  ForgetFreedBlocks();
  return false;
}

// A block that cannot be described is dropped: its failure stays a warning.
void ErrorToWarning() {
  if (Errors::ErrNone()) return;
  if (Errors::ErrCode() == Errors::kTextCode)
    Errors::WarnSetText(Errors::ErrClass(), Errors::ErrLastText(), __LINE__);
  else
    Errors::WarnSet(Errors::ErrClass(), Errors::ErrCode(), __LINE__);
  Errors::ErrClear();
}

// Asks the error hook what to do about a failed read of a source. Without a
// hook the block ends. Every answer but a retry clears the error; 1 and 2
// also set the stop request.
int32_t AskErrorHook(const std::string& sourceName) {
  if (!g.error) {
    Errors::ErrClear();
    return kActionDropBlock;
  }
  int32_t action = kActionDelete;
  g.error(sourceName, &action);
  if (action != kActionRetry) Errors::ErrClear();
  if (action == kActionDelete || action == kActionKeep) g_stop = action;
  return action;
}

// Describes a file or information block and opens its source; false drops
// the block.
bool OpenSource(const QorSrcBlock& block, UniInfoRec* info, UniFile* source,
                bool* open) {
  if (block.kind == kBlockFile) {
    const char* name = static_cast<const char*>(block.data);
    if (!UniInfo(name ? name : "", info, block.maxFiles, nullptr, nullptr,
                 block.minusAllowed != 0)) {
      ErrorToWarning();
      if (g.firstDropped.empty()) g.firstDropped = name && *name ? name : " ";
      return false;
    }
  } else {
    *info = *static_cast<const UniInfoRec*>(block.data);
  }
  UniOpen(source, info);
  *open = true;
  g.blocksDescribed++;
  return true;
}

void CloseVideoSource() {
  if (!g.videoOpen) return;
  g.videoOpen = false;
  UniClose(&g.videoSrc);
}

void CloseAudioSource() {
  if (!g.audioOpen) return;
  g.audioOpen = false;
  UniClose(&g.audioSrc);
}

void SetVideoFinished() {
  g.videoFinished = true;
  if (g.truncateAudio) g.truncateStop = true;
}

// ---- video -------------------------------------------------------------------

// Decoders that draw each frame over the previous one keep their own image
// when a hook may change the one it gets.
Qimg* DecodeBuffer() {
  const int32_t format = g.videoInfo.format;
  const bool drawsOver =
      format == kFmtKWB || format == kFmtFLC ||
      (format == kFmtGIF && g.videoInfo.kind == kKindStream);
  if (g.videoFunc && drawsOver) return &g.imageC;
  ImgBasic::ImgFree(&g.imageC);
  return &g.imageA;
}

// Takes a described block's range; false when it holds no frame.
bool DescribeVideoBlock(VideoCursor& v) {
  const QorSrcBlock& b = v.block;
  int32_t frameCount = 0;
  double fileRate = 0.0;
  if (b.kind == kBlockFile || b.kind == kBlockInfo) {
    if (!b.data || !OpenSource(b, &g.videoInfo, &g.videoSrc, &g.videoOpen))
      return false;
    frameCount = g.videoInfo.picture.frameCount;
    fileRate = g.videoInfo.picture.fps;
  } else if (b.kind == kBlockMemory) {
    g.blocksDescribed++;
    g.videoInfo = UniInfoRec{};
    const auto* image = static_cast<const Qimg*>(b.data);
    frameCount = image && image->data && image->size > 0 ? 1 : 0;
  } else {
    return false;
  }
  double rate = IsAutoReal(b.frameRate) ? fileRate : b.frameRate;
  if (!(rate > 0.0)) rate = g.fps;

  // In 64 bits: a start time far past any file is a start past its end,
  // and the block is skipped.
  int64_t start = b.start;
  if (start == K_AUTO)
    start = IsAutoReal(b.startTime) ? 1 : int64_t{TruncCount(rate * b.startTime)} + 1;
  int64_t length = b.length;
  if (length == K_AUTO) {
    if (b.kind == kBlockMemory)
      length = 1;
    else if (IsAutoReal(b.lengthTime))
      length = frameCount;
    else
      length = TruncCount(rate * b.lengthTime);
  }
  if (frameCount < start || length <= 0) {
    CloseVideoSource();
    return false;
  }
  start = std::clamp<int64_t>(start, 1, frameCount);
  length = std::clamp<int64_t>(length, 1, frameCount - start + 1);
  v.copies = std::max(1, b.copies);
  v.step = b.direction == -1 ? -1 : 1;
  v.position = static_cast<int32_t>(v.step < 0 ? start + length - 1 : start);
  v.left = static_cast<int32_t>(length);
  v.rateStep = rate > 0.0 ? g.fps / rate : 1.0;
  v.buffer = DecodeBuffer();
  return true;
}

// Asks the video source for blocks until one holds frames, the source asks
// to be asked later, the stream ends or a stop is requested.
void SearchVideoBlock(VideoCursor& v) {
  for (;;) {
    g.videoSource(&v.block);
    if (v.block.kind == kBlockSkip) return;
    const bool noMore = v.block.finished != 0 || g_stop == kStopKeep;
    if (g_stop != kStopNone) {
      SetVideoFinished();
      return;
    }
    if (DescribeVideoBlock(v)) {
      v.current = true;
      v.lastBlock = noMore;
      return;
    }
    if (noMore) {
      SetVideoFinished();
      return;
    }
    if (v.block.kind == kBlockMemory) return;
  }
}

void EndVideoBlock(VideoCursor& v) {
  CloseVideoSource();
  v.current = false;
  if (v.lastBlock) SetVideoFinished();
}

// Reads the next frame of the block; nullptr when there is none to pass on.
// endBlock tells that the read's answer ends the block.
Qimg* ReadVideoFrame(VideoCursor& v, bool* endBlock) {
  if (v.block.kind == kBlockMemory) return static_cast<Qimg*>(v.block.data);
  for (;;) {
    if (QuietRead("ConForm.ConStart.frame", [&] {
          UniImgLoad(&g.videoSrc, v.buffer, v.position, 2);
        }))
      return v.buffer;
    const int32_t action = AskErrorHook(g.videoSrc.name);
    if (action == kActionRetry) continue;
    if (action == kActionDelete || action == kActionKeep ||
        action == kActionDropBlock) {
      *endBlock = true;
      return nullptr;
    }
    // Go on with what was read so far, when anything was.
    return v.buffer->data ? v.buffer : nullptr;
  }
}

// The rate step (2.4 from 10 to 24 frames a second) is held only nearly by a
// double: summed frame after frame it falls a hair short of a whole count,
// and a plain truncation would drop a frame the duration needs.
constexpr double kStepSlack = 1e-9;

struct PassState {
  bool firstFrame = true;
  double accumulator = 0.0;
  int32_t framesDone = 0;
  int32_t hookFrames = 0;
  bool audioDueInTurn = false;
};

// Writes one frame as often as the frame-rate step asks; false when the
// pass must end.
bool WriteFrame(const VideoCursor& v, const Qimg* frame, PassState& p,
                ConResultRec* result) {
  for (int32_t c = 0; c < v.copies; c++) {
    p.accumulator += v.rateStep;
    if (!frame) continue;
    int64_t times = 1;
    if (g.keepDuration) {
      if (p.firstFrame && p.accumulator < 1.0) p.accumulator = 1.0;
      times = TruncCount(p.accumulator + kStepSlack);
      p.accumulator -= static_cast<double>(times);
    }
    for (int64_t t = 0; t < times; t++) {
      UniImgSave(g.videoOut, *frame);
      if (p.firstFrame) result->videoName = g.videoOut->name;
      p.firstFrame = false;
      const bool goOn = ConSnd_();
      if (g.audioDue) p.audioDueInTurn = true;
      if (!goOn) return false;
    }
  }
  return true;
}

// One frame of the current block; false when the pass must end.
bool VideoFrameStep(VideoCursor& v, PassState& p, ConResultRec* result) {
  bool endBlock = false;
  const Qimg* frame = ReadVideoFrame(v, &endBlock);
  bool goOn = g_stop == kStopNone;
  if (frame && goOn && g.videoFunc) {
    if (frame != &g.imageA) ImgBasic::ImgCopy(frame, &g.imageA);
    ConFrameRec rec;
    rec.frameCounter = p.hookFrames;
    rec.imageIn = &g.imageA;
    rec.spare = &g.imageB;
    g.videoFunc(&rec);
    p.hookFrames++;
    goOn = g_stop == kStopNone;
    frame = rec.imageOut;
  }
  if (frame && frame->data == nullptr) frame = nullptr;
  if (goOn && !endBlock && g.videoOutGiven)
    goOn = WriteFrame(v, frame, p, result);
  if (!endBlock) {
    v.position += v.step;
    v.left--;
    p.framesDone++;
  }
  if (endBlock || !goOn || v.left <= 0) EndVideoBlock(v);
  return goOn && g_stop == kStopNone;
}

// ---- audio -------------------------------------------------------------------

// Takes a described audio block's range; false when it holds no sample.
bool DescribeAudioBlock() {
  const QorSrcBlock& b = g.audioBlock;
  AudioCursor& a = g.audio;
  const bool lastBlock = a.lastBlock;
  a = AudioCursor{};
  a.lastBlock = lastBlock;
  int32_t count = 0;
  const bool silence =
      b.kind == kBlockSilence ||
      ((b.kind == kBlockFile || b.kind == kBlockInfo || b.kind == kBlockMemory) &&
       !b.data);
  if (silence) {
    g.blocksDescribed++;
    a.kind = kBlockSilence;
    a.rate = kSilenceRate;
    const bool timed = !IsAutoReal(b.lengthTime) && b.lengthTime > 0.0;
    count = timed ? TruncCount(kSilenceRate * b.lengthTime) : kSilenceRate;
  } else if (b.kind == kBlockMemory) {
    g.blocksDescribed++;
    a.kind = kBlockMemory;
    a.memory = static_cast<const SndRec*>(b.data);
    a.rate = a.memory->format.samplesPerSec;
    count = a.memory->data ? a.memory->frames : 0;
  } else if (b.kind == kBlockFile || b.kind == kBlockInfo) {
    if (!OpenSource(b, &g.audioInfo, &g.audioSrc, &g.audioOpen)) return false;
    a.kind = b.kind;
    a.rate = g.audioInfo.sound.wave.samplesPerSec;
    if (!(a.rate > 0.0)) a.rate = g.audioInfo.sound.sampleRate;
    count = g.audioInfo.sound.sampleFrames;
  } else {
    return false;
  }
  int32_t start = b.start;
  if (start == K_AUTO)
    start = IsAutoReal(b.startTime) ? 0 : TruncCount(a.rate * b.startTime);
  int32_t length = b.length;
  if (length == K_AUTO)
    length = IsAutoReal(b.lengthTime) ? count : TruncCount(a.rate * b.lengthTime);
  if (count <= start || length <= 0 || !(a.rate > 0.0)) {
    CloseAudioSource();
    return false;
  }
  a.start = std::clamp(start, 0, count);
  a.length = std::clamp(length, 0, count - a.start);
  return a.length > 0;
}

void EndAudioBlock() {
  CloseAudioSource();
  g.needAudioBlock = true;
  if (g.audio.lastBlock) g.audioFinished = true;
}

// Asks the audio source for blocks until one holds samples; false when the
// audio step has nothing to do this turn.
bool SearchAudioBlock() {
  for (;;) {
    g.audioSource(&g.audioBlock);
    if (g.audioBlock.kind == kBlockSkip) {
      g.audioSkipped = true;
      if (g.videoOutGiven && g.interleave > 0)
        g.aligned = VideoFramesWritten() % g.interleave == 0;
      return false;
    }
    g.audioSkipped = false;
    const bool noMore = g.audioBlock.finished != 0 || g_stop == kStopKeep;
    if (g_stop != kStopNone) {
      g.audioFinished = true;
      return false;
    }
    g.audio.lastBlock = noMore;
    if (DescribeAudioBlock()) {
      g.needAudioBlock = false;
      return true;
    }
    if (noMore) {
      g.audioFinished = true;
      return false;
    }
    if (g.audioBlock.kind == kBlockMemory) return false;
  }
}

void ReadAudio(int32_t count) {
  AudioCursor& a = g.audio;
  switch (a.kind) {
    case kBlockSilence:
      SndBasic::SndMakeSilence(g.soundS, count, kSilenceRate, 8, 1);
      break;
    case kBlockMemory:
      SndBasic::SndMove(*const_cast<SndRec*>(a.memory), g.soundS, a.start, count);
      break;
    default:
      UniSndLoad(&g.audioSrc, &g.soundS, a.start, count, a.continues ? 1 : 0);
      a.continues = true;
      break;
  }
}

// Sample frames for this audio turn: as many as the frames written since
// the last audio write last; one second once the video has finished.
int32_t AudioSliceLength(int32_t framesSince) {
  const double rate = g.audio.rate;
  double n = rate;
  if ((g.truncateStop || !g.videoFinished) && g.fps > 0.0)
    n = framesSince * rate / g.fps;
  return std::min(TruncCount(n), g.audio.length);
}

bool AudioStep() {
  const int32_t framesSince = g.videoOutGiven ? VideoFramesWritten() - g.lastAudioWrite : 0;
  auto due = [&] {
    return g.videoOutGiven && (g.aligned || framesSince >= g.interleave);
  };
  if (g.needAudioBlock) {
    if (g.audioSkipped && !due() && !g.videoFinished) return true;
    if (!SearchAudioBlock()) return g_stop == kStopNone;
  }
  g.audioDue = due();
  if (!g.audioDue && !g.videoFinished && !g.truncateStop) return true;

  const int32_t n = AudioSliceLength(framesSince);
  bool hasSound = false;
  if (n > 0) {
    for (;;) {
      if (QuietRead("ConForm.ConSnd_.read", [&] { ReadAudio(n); })) break;
      g.audio.continues = false;
      const int32_t action = AskErrorHook(g.audioSrc.name);
      if (action == kActionRetry) continue;
      if (action == kActionDelete || action == kActionKeep ||
          action == kActionDropBlock) {
        EndAudioBlock();
        return g_stop == kStopNone;
      }
      break;
    }
    SndRec* out = &g.soundS;
    if (g.audioFunc) {
      ConSndRec rec;
      rec.soundIn = &g.soundS;
      rec.spare = &g.soundT;
      rec.soundOut = nullptr;
      g.audioFunc(&rec);
      if (g_stop != kStopNone) return false;
      out = rec.soundOut;
    }
    hasSound = out && out->data && out->frames > 0;
    if (g.audioOutGiven && hasSound) UniSndSave(g.audioOut, *out);
  }
  if (g.truncateStop) {
    g_stop = kStopKeep;
    EndAudioBlock();
    return false;
  }
  if (n <= 0 && !g.videoFinished) return true;
  g.lastAudioWrite = VideoFramesWritten();
  g.aligned = false;
  // Once the video has finished nothing can come later to take what the
  // hook refused, so a refused slice counts as consumed.
  if (hasSound || g.videoFinished) {
    const int32_t moved = std::max(n, 0);
    g.audio.start += moved;
    g.audio.length -= moved;
    g.samplesDone += moved;
  }
  if (g.audio.length > 0) return true;
  EndAudioBlock();
  return g_stop == kStopNone;
}

// ---- outputs -----------------------------------------------------------------

void PrepareOutput(UniOutput* out, const std::string& name,
                   const FFSaveRec& save) {
  UniCreate(out, name);
  UniSetSaveOptions(out, save);
  UniSetFrameCount(out, g.plannedFrames);
  UniSetFrameRate(out, g.fps);
  const int32_t count = std::clamp(save.customCount, 0, kMaxCustomInfo);
  for (int32_t i = 0; i < count; i++)
    UniAddAviCustomInfo(out, save.custom[i].id, save.custom[i].text);
}

void OpenOutputs(const std::string& videoName, const std::string& audioName,
                 const FFSaveRec& save) {
  if (g.videoOutGiven) {
    g.videoOut = &g.outputs[0];
    PrepareOutput(g.videoOut, videoName, save);
  }
  if (!g.audioOutGiven) return;
  if (g.videoOutGiven && audioName == videoName) {
    g.audioOut = g.videoOut;
    UniSetInterleave(g.videoOut, g.interleave);
    return;
  }
  // A sound file of its own is written in the format its name gives, not in
  // the picture output's.
  FFSaveRec audioSave = save;
  const int32_t byName = GetFmtByExt(audioName, kSaveTable);
  if (byName != K_AUTO) audioSave.format = byName;
  g.audioOut = &g.outputs[1];
  PrepareOutput(g.audioOut, audioName, audioSave);
}

// Deletes what an output of this pass wrote, when asked to or when it
// received nothing; a file that was there before is never touched.
void DeleteOutputs(bool videoEmpty, bool audioEmpty) {
  const bool all = g_stop == kStopDelete;
  if (g.videoOut && (all || videoEmpty)) UniDeleteCreated(g.videoOut);
  if (g.audioOut && g.audioOut != g.videoOut && (all || audioEmpty))
    UniDeleteCreated(g.audioOut);
}

bool OutputEmpty(const UniOutput* out) {
  return out && out->framesWritten == 0 && out->samplesWritten == 0;
}

void ReportProgress(const PassState& p) {
  ConProgressRec rec;
  rec.framesDone = p.framesDone;
  rec.samplesDone = g.samplesDone;
  rec.audioSeconds = g.audioSeconds;
  rec.videoSeconds = Basic::StopwatchRead(g.whole) - g.audioSeconds;
  g.progress(&rec);
}

// The failure that ends a pass is the one reported. Closing the outputs
// after it may fail as well (a full disk fails every write), and the text
// such a close leaves must not take the first failure's place.
void AbortKeepingFailure() {
  const int32_t cls = Errors::ErrClass(), code = Errors::ErrCode();
  const std::string text = Errors::ErrLastText();
  ConAbortDone();
  const bool kept = Errors::ErrClass() == cls && Errors::ErrCode() == code &&
                    (code != Errors::kTextCode || Errors::ErrLastText() == text);
  if (kept) return;
  if (code == Errors::kTextCode)
    Errors::ErrSetText(cls, text, __LINE__);
  else
    Errors::ErrSet(cls, code, __LINE__);
}

void RunPass(const std::string& videoName, const std::string& audioName,
             const FFSaveRec& save, ConResultRec* result) {
  g.videoPresent = g.videoSource != nullptr;
  g.audioPresent = g.audioSource != nullptr;
  g.videoFinished = !g.videoPresent;
  g.audioFinished = !g.audioPresent;
  g.needAudioBlock = g.audioPresent;
  g.audioSkipped = false;
  g.videoOpen = g.audioOpen = false;
  g.videoOutGiven = !videoName.empty();
  g.audioOutGiven = !audioName.empty();
  g.audioDue = g.aligned = g.truncateStop = false;
  g.audioBlock = QorSrcBlock{};
  g.audio = AudioCursor{};
  g.samplesDone = 0;
  g.lastAudioWrite = 0;
  g.audioSeconds = 0.0;
  g.videoOut = g.audioOut = nullptr;
  g.blocksDescribed = 0;
  g.firstDropped.clear();

  g.fps = std::clamp(g.fps, 0.0, 2147483647.0);
  if (std::isnan(g.fps)) g.fps = 0.0;
  if (g.interleave < 1) g.interleave = std::max(1, TruncCount(g.fps));
  OpenOutputs(videoName, audioName, save);
  if (g.progress) Basic::StopwatchStart(g.whole);

  VideoCursor v;
  PassState p;
  for (;;) {
    p.audioDueInTurn = false;
    if (!g.videoFinished && !v.current) SearchVideoBlock(v);
    if (v.current && g_stop == kStopNone && !VideoFrameStep(v, p, result))
      break;
    if (g_stop != kStopNone) break;
    if (!p.audioDueInTurn && !ConSnd_()) break;
    const bool done = (g.videoFinished && g.audioFinished) || g_stop != kStopNone;
    if (done) break;
    if (g.progress) {
      ReportProgress(p);
      if (g_stop != kStopNone) break;
    }
  }

  result->framesWritten = VideoFramesWritten();
  result->samplesWritten = g.audioOut ? g.audioOut->samplesWritten : 0;
  if (g.videoOut && !g.videoOut->name.empty()) result->videoName = g.videoOut->name;
  if (g.audioOut) result->audioName = g.audioOut->name;
  result->blocksDescribed = g.blocksDescribed;
  result->firstDropped = g.firstDropped;
  const bool videoEmpty = OutputEmpty(g.videoOut);
  const bool audioEmpty = OutputEmpty(g.audioOut);
  ConCloseAll();
  DeleteOutputs(videoEmpty, audioEmpty);
}

}  // namespace

void ConSetVideoSource(ConSourceHook hook) { g.videoSource = hook; }
void ConSetAudioSource(ConSourceHook hook) { g.audioSource = hook; }
void ConSetVideoFunc(ConFrameHook hook) { g.videoFunc = hook; }
void ConSetAudioFunc(ConSndHook hook) { g.audioFunc = hook; }

void ConSetCallbacks(ConProgressHook progress, ConErrorHook error) {
  g.progress = progress;
  g.error = error;
}

void ConSetFrameCount(int32_t frames) { g.plannedFrames = frames; }

void ConSetFrameRate(bool keepDuration, double fps) {
  g.keepDuration = keepDuration;
  g.fps = fps;
}

void ConSetTruncateAudio(bool truncate) { g.truncateAudio = truncate; }
void ConSetStop(int32_t value) { g_stop = value; }
int32_t ConGetStop() { return g_stop; }

void ConStart(const std::string& videoName, const std::string& audioName,
              const FFSaveRec& save, ConResultRec* result) {
  Errors::Monitored("ConForm.ConStart", [&] {
    // A library error closes every source and output (what was written
    // stays) and clears the state.
    Errors::MonSetCleanup(AbortKeepingFailure);
    *result = ConResultRec{};
    RunPass(videoName, audioName, save, result);
  });
}

bool ConSnd_() {
  if (g.audioFinished) return true;
  Basic::StopwatchStart(g.audioWatch);
  const bool goOn = AudioStep();
  g.audioSeconds += Basic::StopwatchRead(g.audioWatch);
  return goOn;
}

void ConCloseAll() {
  Errors::TraceScope t("ConForm.ConCloseAll");
  CloseVideoSource();
  CloseAudioSource();
  if (g.videoOut) UniClose(g.videoOut);
  if (g.audioOut && g.audioOut != g.videoOut) UniClose(g.audioOut);
  for (Qimg* image : {&g.imageA, &g.imageB, &g.imageC}) ImgBasic::ImgFree(image);
  SndBasic::SndFree(g.soundS);
  SndBasic::SndFree(g.soundT);
}

void ConDone() {
  g = ConStateRec{};
  g_stop = kStopNone;
}

void ConAbortDone() {
  ConCloseAll();
  ConDone();
}

}  // namespace ConForm
