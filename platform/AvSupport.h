// What the layers over FFmpeg share: error texts, FFmpeg's log routed into
// the trace file, picture conversion between the packed 24-bit B, G, R
// layout and the codecs' formats, and the video elementary-stream encoder
// behind both the MPEG-1 and the MPEG-2 encoder calls.
#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace AvSupport {

std::string ErrText(int averr);
// "cannot write <file>: <reason>"; for the C library's own writes the
// reason is AVERROR(errno), taken before anything else can change errno.
std::string WriteFailure(const std::string& fileName, int averr);

// FFmpeg's warnings and errors as trace lines ("FFmpeg: [avi @ ...] ...");
// nothing of FFmpeg's reaches standard error. Installed when the library is
// loaded; callers learn of failures through the library's own error pairs.
void LogToTrace(void* context, int level, const char* format, va_list args);

// Threads the codec library may run inside each decoder and encoder (1:
// none). Taken from QOR_THREADS when the library loads; the movie module is
// handed the core's value when it is attached.
void SetCodecThreads(int32_t threads);
int32_t CodecThreads();
// Lets the codec run its frame or slice threads. The calling thread is the
// caller's: FFmpeg's lines logged from the codec's own threads wait for it
// and reach the trace from it, the only thread the trace is written from.
void UseCodecThreads(AVCodecContext* ctx);
// Writes the waiting lines; on the caller's thread only.
void FlushWorkerLines();

// ---- fault injection, for tests -------------------------------------------
// Each counter, when non-negative, counts the pictures its helper thread
// takes on down; the helper that finds it at 0 throws std::bad_alloc, as an
// allocation failing there would, and the counter goes back to -1.
struct HelperFaults {
  std::atomic<int32_t> encoder{-1};  // VideoStreamEncoder's helper
  std::atomic<int32_t> decoder{-1};  // the AVI frame extractor's helper
};
HelperFaults& Faults();
// On a helper thread, before its next picture.
void ThrowWhenFaultDue(std::atomic<int32_t>& counter);

// The standard rate of an MPEG frame-rate code 1..8 as a fraction.
AVRational RateOfCode(int32_t code);
int32_t CodeOfRate(double rate);

// Converts a decoded picture to packed B, G, R rows of width x 3 bytes.
// Same-size conversion without accurate rounding goes through libswscale's
// unscaled converters, several times faster. For pictures whose chroma
// keeps every row (4:2:2, 4:4:4) they stay within 2 of the exact values;
// for 4:2:0 they repeat each chroma row where the exact path interpolates.
// With `exactChroma` 8-bit 4:2:0 chroma is first interpolated to every row
// as the exact path does (4 taps, libswscale's bicubic), other formats with
// shared chroma rows take the exact path itself. On natural pictures the
// result stays within 3 of the exact path.
class ToBgr {
 public:
  explicit ToBgr(bool exactChroma = false) : exactChroma_(exactChroma) {}
  ~ToBgr();
  ToBgr(const ToBgr&) = delete;
  ToBgr& operator=(const ToBgr&) = delete;
  // Rows destStride bytes apart (0: width x 3); a negative stride with
  // dest at the last row's place writes them bottom-up.
  bool Convert(const AVFrame* src, uint8_t* dest, ptrdiff_t destStride = 0);

 private:
  int FlagsFor(AVPixelFormat format) const;
  bool WidenChroma(const AVFrame* src);

  bool exactChroma_;
  SwsContext* sws_ = nullptr;
  AVFrame* tmp_ = nullptr;
  AVFrame* tall_ = nullptr;  // 4:2:0 chroma brought to every row
};

// Packed B, G, R rows (even width and height) to the planes of studio-range
// YUV 4:2:0, chroma from the mean of each 2 x 2 block.
void BgrToYuv420(const uint8_t* bgr, int32_t width, int32_t height, uint8_t* const plane[],
                 const int stride[]);

// A video elementary stream written straight to a file. The codec opens on
// the first frame, so the settings can change until then. With codec threads
// the encoding runs on a helper thread behind the caller (a frame thread):
// Write converts the picture, queues it and returns; a failure of the helper
// (an exception it caught included) comes back from a later Write or from
// Close.
class VideoStreamEncoder {
 public:
  struct Settings {
    AVCodecID codec = AV_CODEC_ID_MPEG1VIDEO;
    int32_t width = 0, height = 0;
    int32_t rateCode = 4;
    int64_t bitRate = 1700000;
    bool constantRate = false;   // minimum = maximum = bit rate
    int64_t bufferBits = 0;      // video buffer verifier size, 0: codec's own
    bool interlaced = false;
  };
  ~VideoStreamEncoder();
  // Creates the file. Empty text on success, else the reason.
  std::string Create(const char* fileName, const Settings& settings);
  Settings& settings() { return settings_; }
  std::string Write(const uint8_t* bgr);
  // Drains the codec and closes the file.
  std::string Close();
  int64_t framesWritten() const { return frames_; }

 private:
  std::string OpenCodec();
  std::string Drain(bool flushing);
  std::string Encode(AVFrame* frame);
  bool FreshPicture(AVFrame* frame);
  void StartHelper();
  void StopHelper(bool discard);
  void Help();
  void EncodeQueued();
  std::string HelperError() const;

  Settings settings_;
  std::string fileName_;  // named in write failures
  FILE* file_ = nullptr;
  AVCodecContext* ctx_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* pkt_ = nullptr;
  int64_t frames_ = 0;
  // The first failure on the caller's own thread: the stream is broken from
  // there on, and every later Write and Close answers it again.
  std::string failure_;

  // The helper and what it shares with the caller, under lock_. Pictures go
  // round: free ones are filled by the caller, queued ones encoded.
  std::thread helper_;
  std::mutex lock_;
  std::condition_variable queuedSignal_, freeSignal_;
  std::deque<AVFrame*> queued_, free_;
  std::vector<AVFrame*> pictures_;
  std::string helperError_;
  std::exception_ptr helperException_;  // what ended the helper, if anything
  bool stop_ = false;
};

// Largest picture side the layers take, in reading and writing.
constexpr int32_t kMaxPictureSide = 16383;

}  // namespace AvSupport
