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
    bool ok = false;
    try {
      ok = decoder_.Decode(n, ahead_);
    } catch (const std::exception&) {
      // Out of memory for the frame: the caller tries it itself.
    }
    hold.lock();
    aheadOk_ = ok;
    aheadDone_ = true;
    done_.notify_one();
  }
}

// Waits for the frame decoded ahead; true when it is frame n and came out
// whole (it is then the given frame).
bool AheadDecoder::TakeAhead(int32_t n) {
  std::unique_lock<std::mutex> hold(lock_);
  if (aheadN_ < 0) return false;
  done_.wait(hold, [&] { return aheadDone_; });
  const bool hit = aheadN_ == n && aheadOk_;
  if (hit) std::swap(given_, ahead_);
  aheadN_ = -1;
  return hit;
}

const Frame* AheadDecoder::Decode(int32_t n) {
  if (n != givenN_) {
    // The decoder is the caller's again once the helper has finished.
    if (TakeAhead(n)) {
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
