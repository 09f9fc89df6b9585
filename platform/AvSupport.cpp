#include "platform/AvSupport.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "foundation/Errors.h"
#include "platform/Modules.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

namespace AvSupport {

std::string ErrText(int averr) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(averr, buf, sizeof buf);
  return buf;
}

std::string WriteFailure(const std::string& fileName, int averr) {
  return "cannot write " + fileName + ": " + ErrText(averr);
}

namespace {

std::atomic<int32_t> g_codecThreads{Modules::CodecThreadsOf(std::getenv("QOR_THREADS"))};
std::atomic<std::thread::id> g_callerThread{};
std::mutex g_workerLock;
std::vector<std::string> g_workerLines;  // from the codecs' threads, not yet written
constexpr size_t kMostWorkerLines = 1000;

bool OnCallerThread() {
  const std::thread::id caller = g_callerThread.load();
  return caller == std::thread::id() || caller == std::this_thread::get_id();
}

void TraceLine(std::string line) {
  if (OnCallerThread()) {
    FlushWorkerLines();
    Errors::TraceWriteLine(line);
    return;
  }
  const std::lock_guard<std::mutex> lock(g_workerLock);
  if (g_workerLines.size() < kMostWorkerLines) g_workerLines.push_back(std::move(line));
}

}  // namespace

HelperFaults& Faults() {
  static HelperFaults faults;
  return faults;
}

void ThrowWhenFaultDue(std::atomic<int32_t>& counter) {
  int32_t left = counter.load();
  while (left >= 0 && !counter.compare_exchange_weak(left, left - 1)) {
  }
  if (left == 0) throw std::bad_alloc();
}

void SetCodecThreads(int32_t threads) { g_codecThreads.store(std::max(threads, 1)); }

int32_t CodecThreads() { return g_codecThreads.load(); }

void UseCodecThreads(AVCodecContext* ctx) {
  g_callerThread.store(std::this_thread::get_id());
  ctx->thread_count = CodecThreads();
}

void FlushWorkerLines() {
  if (!OnCallerThread()) return;
  std::vector<std::string> lines;
  {
    const std::lock_guard<std::mutex> lock(g_workerLock);
    lines.swap(g_workerLines);
  }
  for (const std::string& line : lines) Errors::TraceWriteLine(line);
}

void LogToTrace(void* context, int level, const char* format, va_list args) {
  // Verbose and informational lines are FFmpeg's chatter, not findings.
  if (level > AV_LOG_WARNING) return;
  // One line may arrive in pieces; plain buffers, since FFmpeg may still
  // log while the process is shutting down.
  thread_local char line[1024];
  thread_local size_t used = 0;
  thread_local int printPrefix = 1;
  char piece[1024];
  av_log_format_line2(context, level, format, args, piece, sizeof piece, &printPrefix);
  for (const char* p = piece; *p != 0; p++) {
    if (*p != '\n' && used + 1 < sizeof line) line[used++] = *p;
    if (*p != '\n') continue;
    line[used] = 0;
    TraceLine(std::string("FFmpeg: ") + line);
    used = 0;
  }
}

namespace {

// From the moment the library is loaded.
[[maybe_unused]] const bool g_logRouted = [] {
  av_log_set_callback(LogToTrace);
  return true;
}();

const AVRational kRates[9] = {{0, 1},     {24000, 1001}, {24, 1},
                              {25, 1},    {30000, 1001}, {30, 1},
                              {50, 1},    {60000, 1001}, {60, 1}};
}

AVRational RateOfCode(int32_t code) {
  return code >= 1 && code <= 8 ? kRates[code] : kRates[0];
}

int32_t CodeOfRate(double rate) {
  if (!(rate >= 24.0)) rate = 24.0;
  int32_t code = 1;
  for (int32_t i = 0; i < 8; i++)
    if (av_q2d(kRates[i]) < rate) code = i + 1;
  return code;
}

// ---- picture conversion ----------------------------------------------------

ToBgr::~ToBgr() {
  sws_freeContext(sws_);
  av_frame_free(&tmp_);
  av_frame_free(&tall_);
}

int ToBgr::FlagsFor(AVPixelFormat format) const {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  const bool rowsShareChroma = d == nullptr || d->log2_chroma_h > 0;
  return exactChroma_ && rowsShareChroma ? SWS_BICUBIC | SWS_ACCURATE_RND : SWS_BICUBIC;
}

namespace {

// Output row y of a chroma plane with half the rows sits a quarter of a
// source row from row y / 2 (MPEG and JPEG centre their chroma). The taps
// of libswscale's bicubic (a = -0.6) there, in 1/4096: for an odd row the
// rows k-1 .. k+2 around k = y / 2, for an even row k-2 .. k+1.
constexpr int32_t kOddTaps[4] = {-346, 3571, 986, -115};
constexpr int32_t kEvenTaps[4] = {-115, 986, 3571, -346};

__attribute__((target_clones("avx2", "default")))
void InterpolateRow(const uint8_t* __restrict r0, const uint8_t* __restrict r1,
                    const uint8_t* __restrict r2, const uint8_t* __restrict r3,
                    const int32_t* taps, int32_t width, uint8_t* __restrict out) {
  const int32_t t0 = taps[0], t1 = taps[1], t2 = taps[2], t3 = taps[3];
  for (int32_t x = 0; x < width; x++) {
    const int32_t v = (t0 * r0[x] + t1 * r1[x] + t2 * r2[x] + t3 * r3[x] + 2048) >> 12;
    out[x] = static_cast<uint8_t>(std::clamp(v, 0, 255));
  }
}

void InterpolateRows(const uint8_t* src, int srcStride, int32_t width, int32_t rows,
                     uint8_t* dest, int destStride, int32_t height) {
  auto row = [&](int32_t r) {
    return src + static_cast<ptrdiff_t>(srcStride) * std::clamp(r, 0, rows - 1);
  };
  for (int32_t y = 0; y < height; y++) {
    const int32_t first = y / 2 - (y % 2 == 1 ? 1 : 2);
    InterpolateRow(row(first), row(first + 1), row(first + 2), row(first + 3),
                   y % 2 == 1 ? kOddTaps : kEvenTaps, width,
                   dest + static_cast<ptrdiff_t>(destStride) * y);
  }
}

// A work picture kept from frame to frame, made anew when the size changes.
bool KeepFrame(AVFrame*& frame, AVPixelFormat format, int width, int height) {
  if (frame && frame->width == width && frame->height == height) return true;
  av_frame_free(&frame);
  frame = av_frame_alloc();
  if (!frame) return false;
  frame->format = format;
  frame->width = width;
  frame->height = height;
  if (av_frame_get_buffer(frame, 64) >= 0) return true;
  av_frame_free(&frame);
  return false;
}

}  // namespace

bool ToBgr::WidenChroma(const AVFrame* src) {
  const int w = src->width, h = src->height;
  if (!KeepFrame(tall_, AV_PIX_FMT_YUV422P, w, h)) return false;
  const int32_t chromaWidth = (w + 1) / 2, chromaRows = (h + 1) / 2;
  for (int p = 1; p <= 2; p++)
    InterpolateRows(src->data[p], src->linesize[p], chromaWidth, chromaRows, tall_->data[p],
                    tall_->linesize[p], h);
  return true;
}

bool ToBgr::Convert(const AVFrame* src, uint8_t* dest, ptrdiff_t destStride) {
  const int w = src->width, h = src->height;
  if (w < 1 || h < 1) return false;
  auto format = static_cast<AVPixelFormat>(src->format);
  const uint8_t* planes[4] = {src->data[0], src->data[1], src->data[2], src->data[3]};
  int strides[4] = {src->linesize[0], src->linesize[1], src->linesize[2], src->linesize[3]};
  if (exactChroma_ && (format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P)) {
    if (!WidenChroma(src)) return false;
    format = format == AV_PIX_FMT_YUVJ420P ? AV_PIX_FMT_YUVJ422P : AV_PIX_FMT_YUV422P;
    for (int p = 1; p <= 2; p++) {
      planes[p] = tall_->data[p];
      strides[p] = tall_->linesize[p];
    }
  }
  sws_ = sws_getCachedContext(sws_, w, h, format, w, h, AV_PIX_FMT_BGR24, FlagsFor(format),
                              nullptr, nullptr, nullptr);
  if (!sws_) return false;
  const int rowBytes = w * 3;
  if (destStride == 0) destStride = rowBytes;
  // The SIMD converters work in blocks of up to 16 pixels and may write past
  // the last pixel of a row. Rows of whole blocks go straight into the
  // caller's rows; others through a padded picture of our own.
  if (w % 16 == 0) {
    uint8_t* dst[4] = {dest, nullptr, nullptr, nullptr};
    const int dstStride[4] = {static_cast<int>(destStride), 0, 0, 0};
    return sws_scale(sws_, planes, strides, 0, h, dst, dstStride) == h;
  }
  if (!KeepFrame(tmp_, AV_PIX_FMT_BGR24, w, h)) return false;
  if (sws_scale(sws_, planes, strides, 0, h, tmp_->data, tmp_->linesize) != h)
    return false;
  for (int y = 0; y < h; y++)
    std::memcpy(dest + destStride * y,
                tmp_->data[0] + static_cast<ptrdiff_t>(tmp_->linesize[0]) * y,
                static_cast<size_t>(rowBytes));
  return true;
}

// Studio-range BT.601 in 16-bit fixed point, as the MPEG encoders expect:
// Y = 16 + 219/255 (0.299 R + 0.587 G + 0.114 B), U and V the scaled blue
// and red differences around 128.
namespace {
constexpr int32_t kYr = 16829, kYg = 33039, kYb = 6416;
constexpr int32_t kUr = -9714, kUg = -19070, kUb = 28784;
constexpr int32_t kVr = 28784, kVg = -24103, kVb = -4681;

// One pair of rows. The pixels are first split into planes of their own,
// so that the arithmetic runs over whole vectors.
__attribute__((target_clones("avx2", "default")))
void YuvOfRowPair(const uint8_t* __restrict top, const uint8_t* __restrict bottom,
                  int32_t width, uint16_t* __restrict work, uint8_t* __restrict y0,
                  uint8_t* __restrict y1, uint8_t* __restrict u, uint8_t* __restrict v) {
  uint16_t* b0 = work;
  uint16_t* g0 = b0 + width;
  uint16_t* r0 = g0 + width;
  uint16_t* b1 = r0 + width;
  uint16_t* g1 = b1 + width;
  uint16_t* r1 = g1 + width;
  for (int32_t x = 0; x < width; x++) {
    b0[x] = top[3 * x];
    g0[x] = top[3 * x + 1];
    r0[x] = top[3 * x + 2];
    b1[x] = bottom[3 * x];
    g1[x] = bottom[3 * x + 1];
    r1[x] = bottom[3 * x + 2];
  }
  constexpr int32_t kLumaBias = (16 << 16) + (1 << 15);
  for (int32_t x = 0; x < width; x++) {
    y0[x] = static_cast<uint8_t>((kYr * r0[x] + kYg * g0[x] + kYb * b0[x] + kLumaBias) >> 16);
    y1[x] = static_cast<uint8_t>((kYr * r1[x] + kYg * g1[x] + kYb * b1[x] + kLumaBias) >> 16);
  }
  // Chroma of each 2 x 2 block from the sum of its four pixels: the sample
  // sits between them, where MPEG-1 places it.
  constexpr int32_t kChromaBias = (128 << 18) + (1 << 17);
  for (int32_t x = 0; x < width / 2; x++) {
    const int32_t sb = b0[2 * x] + b0[2 * x + 1] + b1[2 * x] + b1[2 * x + 1];
    const int32_t sg = g0[2 * x] + g0[2 * x + 1] + g1[2 * x] + g1[2 * x + 1];
    const int32_t sr = r0[2 * x] + r0[2 * x + 1] + r1[2 * x] + r1[2 * x + 1];
    u[x] = static_cast<uint8_t>((kUr * sr + kUg * sg + kUb * sb + kChromaBias) >> 18);
    v[x] = static_cast<uint8_t>((kVr * sr + kVg * sg + kVb * sb + kChromaBias) >> 18);
  }
}
}  // namespace

void BgrToYuv420(const uint8_t* bgr, int32_t width, int32_t height, uint8_t* const plane[],
                 const int stride[]) {
  const ptrdiff_t rowBytes = static_cast<ptrdiff_t>(width) * 3;
  std::vector<uint16_t> work(static_cast<size_t>(width) * 6);
  for (int32_t y = 0; y + 1 < height; y += 2) {
    const uint8_t* top = bgr + rowBytes * y;
    uint8_t* luma = plane[0] + static_cast<ptrdiff_t>(stride[0]) * y;
    YuvOfRowPair(top, top + rowBytes, width, work.data(), luma, luma + stride[0],
                 plane[1] + static_cast<ptrdiff_t>(stride[1]) * (y / 2),
                 plane[2] + static_cast<ptrdiff_t>(stride[2]) * (y / 2));
  }
}

// ---- video elementary-stream encoder ---------------------------------------

VideoStreamEncoder::~VideoStreamEncoder() {
  StopHelper(true);
  if (file_) fclose(file_);
  avcodec_free_context(&ctx_);
  av_frame_free(&frame_);
  for (AVFrame*& f : pictures_) av_frame_free(&f);
  av_packet_free(&pkt_);
  FlushWorkerLines();
}

std::string VideoStreamEncoder::Create(const char* fileName, const Settings& s) {
  if (!fileName) return "no file name";
  if (s.width < 16 || s.height < 16 || s.width > 4095 || s.height > 4095 ||
      (s.width & 1) || (s.height & 1))
    return "unsupported picture size " + std::to_string(s.width) + "x" +
           std::to_string(s.height);
  if (s.rateCode < 1 || s.rateCode > 8) return "unsupported frame rate";
  settings_ = s;
  fileName_ = fileName;
  file_ = fopen(fileName, "wb");
  if (!file_) return std::string("cannot create ") + fileName;
  return "";
}

// Slices cost more than they give on short pictures: at VCD size (18 rows
// of macroblocks) eight of them made the whole conversion about a tenth
// slower than one. One slice per this many picture rows, whatever the
// thread count, so that the same pictures give the same stream on every
// machine; the codec threads only decide how many slices encode at once.
constexpr int32_t kRowsPerSlice = 320;

int32_t SlicesOf(int32_t height) { return std::max(height / kRowsPerSlice, 1); }

std::string VideoStreamEncoder::OpenCodec() {
  const AVCodec* codec = avcodec_find_encoder(settings_.codec);
  if (!codec) return "no MPEG video encoder";
  ctx_ = avcodec_alloc_context3(codec);
  frame_ = av_frame_alloc();
  pkt_ = av_packet_alloc();
  if (!ctx_ || !frame_ || !pkt_) return "out of memory";
  const Settings& s = settings_;
  ctx_->width = s.width;
  ctx_->height = s.height;
  ctx_->framerate = RateOfCode(s.rateCode);
  ctx_->time_base = av_inv_q(ctx_->framerate);
  ctx_->pix_fmt = AV_PIX_FMT_YUV420P;
  ctx_->bit_rate = s.bitRate;
  if (s.constantRate) {
    ctx_->rc_max_rate = s.bitRate;
    ctx_->rc_min_rate = s.bitRate;
  }
  if (s.bufferBits > 0) {
    // A buffer size needs a peak rate: the DVD peak, or the mean when higher.
    ctx_->rc_buffer_size = static_cast<int>(s.bufferBits);
    if (!s.constantRate) ctx_->rc_max_rate = std::max<int64_t>(s.bitRate, 9800000);
  }
  // Group of pictures: half a second at the 25 Hz rates, 18 frames else.
  const bool pal = s.rateCode == 3 || s.rateCode == 6;
  ctx_->gop_size = pal ? 15 : 18;
  ctx_->max_b_frames = 2;
  UseCodecThreads(ctx_);
  ctx_->slices = SlicesOf(s.height);
  ctx_->thread_count = std::min(ctx_->slices, CodecThreads());
  if (s.interlaced) ctx_->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
  int rc = avcodec_open2(ctx_, codec, nullptr);
  if (rc < 0) return "cannot open the MPEG video encoder: " + ErrText(rc);
  frame_->format = ctx_->pix_fmt;
  frame_->width = s.width;
  frame_->height = s.height;
  rc = av_frame_get_buffer(frame_, 0);
  if (rc < 0) return "out of memory";
  if (CodecThreads() > 1) StartHelper();
  return "";
}

// Pictures the caller may be ahead of the helper by: enough to ride out a
// slow picture, few enough to keep the memory small.
constexpr size_t kPicturesInFlight = 3;

void VideoStreamEncoder::StartHelper() {
  for (size_t i = 0; i < kPicturesInFlight; i++) {
    AVFrame* f = av_frame_alloc();
    if (!f) break;
    pictures_.push_back(f);
    free_.push_back(f);
  }
  if (pictures_.size() < kPicturesInFlight) return;
  try {
    helper_ = std::thread([this] { Help(); });
  } catch (const std::exception&) {
    // No thread to be had: the caller encodes every picture itself.
  }
}

// Whatever the helper throws (building an error text, queueing a picture)
// ends it and is handed to the caller as the encoder's failure; the pictures
// it held stay in pictures_, freed with the encoder.
void VideoStreamEncoder::Help() {
  try {
    EncodeQueued();
  } catch (...) {
    const std::lock_guard<std::mutex> hold(lock_);
    helperException_ = std::current_exception();
  }
  freeSignal_.notify_one();
}

void VideoStreamEncoder::EncodeQueued() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    queuedSignal_.wait(hold, [&] { return stop_ || !queued_.empty(); });
    if (queued_.empty()) return;
    AVFrame* picture = queued_.front();
    queued_.pop_front();
    const bool failed = !helperError_.empty();
    hold.unlock();
    ThrowWhenFaultDue(Faults().encoder);
    // After a failure the remaining pictures are only given back.
    std::string err = failed ? std::string() : Encode(picture);
    hold.lock();
    if (helperError_.empty()) helperError_ = std::move(err);
    free_.push_back(picture);
    freeSignal_.notify_one();
  }
}

// The helper's failure as the caller reports it; empty while there is none.
// Under lock_, or once the helper has ended.
std::string VideoStreamEncoder::HelperError() const {
  if (!helperException_) return helperError_;
  try {
    std::rethrow_exception(helperException_);
  } catch (const std::bad_alloc&) {
    return "out of memory";
  } catch (...) {
    return "MPEG video encoding failed";
  }
}

// Waits until every queued picture is encoded (or, discarding, given
// back), then ends the helper; the codec is the caller's again.
void VideoStreamEncoder::StopHelper(bool discard) {
  if (!helper_.joinable()) return;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
    if (discard && helperError_.empty()) helperError_ = "the video stream was abandoned";
  }
  queuedSignal_.notify_one();
  helper_.join();
}

// The encoder may still hold the last picture that went through this frame
// (it waits for the pictures it puts before it): a new one then gets a
// block of its own instead of a copy of the old one.
bool VideoStreamEncoder::FreshPicture(AVFrame* frame) {
  if (frame->buf[0] != nullptr && av_frame_is_writable(frame)) return true;
  av_frame_unref(frame);
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = settings_.width;
  frame->height = settings_.height;
  return av_frame_get_buffer(frame, 0) >= 0;
}

std::string VideoStreamEncoder::Encode(AVFrame* frame) {
  const int rc = avcodec_send_frame(ctx_, frame);
  if (rc < 0) return "MPEG video encoding failed: " + ErrText(rc);
  return Drain(false);
}

std::string VideoStreamEncoder::Drain(bool flushing) {
  for (;;) {
    const int rc = avcodec_receive_packet(ctx_, pkt_);
    if (rc == AVERROR(EAGAIN) || (flushing && rc == AVERROR_EOF)) return "";
    if (rc < 0) return "MPEG video encoding failed: " + ErrText(rc);
    const size_t n = static_cast<size_t>(pkt_->size);
    const bool ok = fwrite(pkt_->data, 1, n, file_) == n;
    std::string failure = ok ? std::string() : WriteFailure(fileName_, AVERROR(errno));
    av_packet_unref(pkt_);
    if (!ok) return failure;
  }
}

std::string VideoStreamEncoder::Write(const uint8_t* bgr) {
  if (!file_) return "the video stream is closed";
  if (!bgr) return "no picture";
  if (!failure_.empty()) return failure_;
  if (!ctx_) {
    std::string err = OpenCodec();
    if (!err.empty()) return err;
  }
  FlushWorkerLines();
  if (!helper_.joinable()) {
    if (!FreshPicture(frame_)) return "out of memory";
    BgrToYuv420(bgr, settings_.width, settings_.height, frame_->data, frame_->linesize);
    frame_->pts = frames_;
    std::string err = Encode(frame_);
    // Kept: a codec that failed once answers later pictures with reasons
    // of its own that are not why the stream broke.
    if (err.empty())
      frames_++;
    else
      failure_ = err;
    return err;
  }
  AVFrame* picture = nullptr;
  {
    std::unique_lock<std::mutex> hold(lock_);
    freeSignal_.wait(hold, [&] { return !free_.empty() || helperException_; });
    std::string err = HelperError();
    if (!err.empty()) return err;
    picture = free_.front();
    free_.pop_front();
  }
  const bool fresh = FreshPicture(picture);
  if (fresh) {
    BgrToYuv420(bgr, settings_.width, settings_.height, picture->data, picture->linesize);
    picture->pts = frames_;
  }
  {
    const std::lock_guard<std::mutex> hold(lock_);
    (fresh ? queued_ : free_).push_back(picture);
  }
  if (!fresh) return "out of memory";
  queuedSignal_.notify_one();
  frames_++;
  return "";
}

std::string VideoStreamEncoder::Close() {
  StopHelper(false);
  std::string err = failure_.empty() ? HelperError() : failure_;
  if (err.empty() && file_ && ctx_) {
    const int rc = avcodec_send_frame(ctx_, nullptr);
    err = rc < 0 ? "MPEG video encoding failed: " + ErrText(rc) : Drain(true);
    // A sequence end code closes the stream.
    static const uint8_t kEnd[4] = {0, 0, 1, 0xB7};
    if (err.empty() && fwrite(kEnd, 1, 4, file_) != 4)
      err = WriteFailure(fileName_, AVERROR(errno));
  }
  // The stream's last bytes reach the file only now.
  if (file_ && fclose(file_) != 0 && err.empty()) err = WriteFailure(fileName_, AVERROR(errno));
  file_ = nullptr;
  FlushWorkerLines();
  return err;
}

}  // namespace AvSupport
