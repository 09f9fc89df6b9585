#include "platform/AviAhead.h"

#include <cstdint>
#include <exception>
#include <utility>

#include "platform/AvSupport.h"

namespace AviCore {

AheadDecoder::~AheadDecoder() {
  if (!helper_.joinable()) return;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
  }
  wake_.notify_one();
  helper_.join();
  AvSupport::FlushWorkerLines();
}

bool AheadDecoder::Open(const AviStreamObj* stream, bool ahead) {
  if (!decoder_.Open(stream)) return false;
  frames_ = static_cast<int32_t>(stream->chunks.size());
  if (!ahead) return true;
  try {
    helper_ = std::thread([this] { Work(); });
  } catch (const std::exception&) {
    // No thread to be had: the caller's thread decodes every frame.
  }
  return true;
}

void AheadDecoder::Work() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    wake_.wait(hold, [&] { return stop_ || (aheadN_ >= 0 && !aheadDone_); });
    if (stop_) return;
    const int32_t n = aheadN_;
    hold.unlock();
    bool ok = false, threw = false;
    // Whatever the decoding throws (out of memory for the frame) stays on
    // this thread and reaches the caller as the decoder's failure.
    try {
      AvSupport::ThrowWhenFaultDue(AvSupport::Faults().decoder);
      ok = decoder_.Decode(n, ahead_);
    } catch (...) {
      threw = true;
    }
    hold.lock();
    aheadOk_ = ok;
    aheadThrew_ = threw;
    aheadDone_ = true;
    done_.notify_one();
  }
}

// Waits for the frame decoded ahead: a hit when it is frame n and came out
// whole (it is then the given frame), a failure when its decoding threw.
AheadDecoder::Ahead AheadDecoder::TakeAhead(int32_t n) {
  std::unique_lock<std::mutex> hold(lock_);
  if (aheadN_ < 0) return Ahead::kMiss;
  done_.wait(hold, [&] { return aheadDone_; });
  const bool hit = aheadN_ == n && aheadOk_;
  aheadN_ = -1;
  if (aheadThrew_) return Ahead::kFailed;
  if (!hit) return Ahead::kMiss;
  std::swap(given_, ahead_);
  return Ahead::kHit;
}

const Frame* AheadDecoder::Decode(int32_t n) {
  if (n != givenN_) {
    // The decoder is the caller's again once the helper has finished.
    const Ahead ahead = TakeAhead(n);
    if (ahead == Ahead::kFailed) {
      givenN_ = -1;
      return nullptr;
    }
    if (ahead == Ahead::kHit) {
      givenN_ = n;
    } else {
      givenN_ = -1;
      if (!decoder_.Decode(n, given_)) return nullptr;
      givenN_ = n;
    }
  }
  AvSupport::FlushWorkerLines();
  // A caller walking through the stream keeps its step: the next frame is
  // guessed from the last two asked for. The first frame asked for is often
  // only a look at the stream, so the helper starts on the second.
  const int32_t step = lastAsked_ >= 0 && n > lastAsked_ ? n - lastAsked_ : 1;
  lastAsked_ = n;
  if (helper_.joinable() && ++asked_ >= 2 && int64_t{n} + step < frames_) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (aheadN_ < 0) {
      aheadN_ = n + step;
      aheadDone_ = false;
      wake_.notify_one();
    }
  }
  return &given_;
}

}  // namespace AviCore
