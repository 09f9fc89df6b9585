// The frame extractor's decoder with frame threads: while the caller works
// on the frame it was given, a helper thread decodes and converts the frame
// it will most likely ask for next. The codec library on this road (Motion
// JPEG in particular) has no frame threads of its own; this gives the same
// overlap, and the caller still sees one thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/AviFileCore.h"

namespace AviCore {

class AheadDecoder {
 public:
  ~AheadDecoder();
  // With `ahead` false every frame is decoded on the caller's thread.
  bool Open(const AviStreamObj* stream, bool ahead);
  void DeliverBitmaps() { decoder_.DeliverBitmaps(); }
  // Frame n, held until the next call; null on failure, and at the first
  // call after the helper failed by throwing.
  const Frame* Decode(int32_t n);

 private:
  enum class Ahead { kMiss, kHit, kFailed };
  void Work();
  Ahead TakeAhead(int32_t n);

  VideoDecoder decoder_;
  int32_t frames_ = 0;
  Frame given_;  // the frame last handed out
  int32_t givenN_ = -1;
  int32_t lastAsked_ = -1;
  int32_t asked_ = 0;

  // Shared with the helper, under lock_: it owns decoder_ and ahead_ from
  // StartAhead until it marks the frame done.
  std::mutex lock_;
  std::condition_variable wake_, done_;
  Frame ahead_;
  int32_t aheadN_ = -1;  // the frame asked of the helper, -1 none
  bool aheadDone_ = false, aheadOk_ = false, stop_ = false;
  bool aheadThrew_ = false;  // the frame's decoding ended in an exception
  std::thread helper_;
};

}  // namespace AviCore
