// The movie road's own conversions against libswscale's accurate ones, the
// QOR_THREADS rule, and FFmpeg lines logged on the codecs' own threads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Errors.h"
#include "platform/AvSupport.h"
#include "platform/Modules.h"
#include "support/TestUtil.h"

extern "C" {
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

namespace {

// A smooth picture in the planes of `format`, as a camera gives it.
AVFrame* SmoothFrame(AVPixelFormat format, int w, int h) {
  AVFrame* f = av_frame_alloc();
  f->format = format;
  f->width = w;
  f->height = h;
  EXPECT_EQ(0, av_frame_get_buffer(f, 64));
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  for (int p = 0; p < 3; p++) {
    const int pw = p == 0 ? w : AV_CEIL_RSHIFT(w, d->log2_chroma_w);
    const int ph = p == 0 ? h : AV_CEIL_RSHIFT(h, d->log2_chroma_h);
    for (int y = 0; y < ph; y++)
      for (int x = 0; x < pw; x++)
        f->data[p][y * f->linesize[p] + x] =
            static_cast<uint8_t>(128 + 80 * std::sin(x / (7.0 + 3 * p)) * std::cos(y / (5.0 + p)));
  }
  return f;
}

// libswscale's accurate same-size conversion between packed and planar.
void Accurate(AVPixelFormat from, const uint8_t* const* src, const int* srcStride,
              AVPixelFormat to, uint8_t* const* dst, const int* dstStride, int w, int h) {
  SwsContext* c = sws_getContext(w, h, from, w, h, to, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr,
                                 nullptr, nullptr);
  ASSERT_NE(nullptr, c);
  sws_scale(c, src, srcStride, 0, h, dst, dstStride);
  sws_freeContext(c);
}

int MaxDiff(const uint8_t* a, const uint8_t* b, size_t n) {
  int most = 0;
  for (size_t i = 0; i < n; i++) most = std::max(most, std::abs(a[i] - b[i]));
  return most;
}

}  // namespace

// Decoded frames of every chroma layout, at widths the SIMD converters take
// straight and at others: within 3 of the accurate path (2 for full-height
// chroma), 4:2:0 included; 4:2:0 exactly as 4:2:2 with its rows interpolated.
TEST(AvSupportPictures, DecodedFramesBecomeBgrWithinRoundingOfTheAccurateScaler) {
  for (AVPixelFormat format : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P,
                               AV_PIX_FMT_YUV444P}) {
    for (const auto& size : {std::pair{64, 48}, std::pair{70, 46}}) {
      const int w = size.first, h = size.second;
      AVFrame* f = SmoothFrame(format, w, h);
      std::vector<uint8_t> want(static_cast<size_t>(w) * h * 3), got(want.size());
      uint8_t* dst[4] = {want.data(), nullptr, nullptr, nullptr};
      const int stride[4] = {w * 3, 0, 0, 0};
      Accurate(format, f->data, f->linesize, AV_PIX_FMT_BGR24, dst, stride, w, h);
      AvSupport::ToBgr exact(true);
      ASSERT_TRUE(exact.Convert(f, got.data()));
      const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
      EXPECT_LE(MaxDiff(want.data(), got.data(), want.size()), d->log2_chroma_h > 0 ? 3 : 2)
          << av_get_pix_fmt_name(format) << " " << w << "x" << h;
      if (d->log2_chroma_h > 0 && w % 16 == 0) {
        // Exactly 4:2:2 made with the bicubic's taps (a = -0.6) in 1/4096,
        // then the same-size converter straight into the rows.
        auto tap = [](double x) {
          x = std::abs(x);
          return std::lround(4096 * (x < 1 ? (1.4 * x - 2.4) * x * x + 1
                                           : ((-0.6 * x + 3) * x - 4.8) * x + 2.4));
        };
        AVFrame* tall = SmoothFrame(format == AV_PIX_FMT_YUV420P ? AV_PIX_FMT_YUV422P
                                                                 : AV_PIX_FMT_YUVJ422P, w, h);
        for (int y = 0; y < h; y++) {
          const double at = y / 2.0 - 0.25;  // the source chroma row's place
          for (int p = 1; p < 3; p++)
            for (int x = 0; x < w / 2; x++) {
              long v = 2048;
              for (int k = static_cast<int>(std::floor(at)) - 1; k <= std::floor(at) + 2; k++)
                v += tap(at - k) * f->data[p][std::clamp(k, 0, h / 2 - 1) * f->linesize[p] + x];
              tall->data[p][y * tall->linesize[p] + x] =
                  static_cast<uint8_t>(std::clamp(v >> 12, 0L, 255L));
            }
        }
        SwsContext* c = sws_getContext(w, h, static_cast<AVPixelFormat>(tall->format), w, h,
                                       AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
        sws_scale(c, tall->data, tall->linesize, 0, h, dst, stride);
        sws_freeContext(c);
        EXPECT_EQ(MaxDiff(want.data(), got.data(), want.size()), 0) << av_get_pix_fmt_name(format);
        av_frame_free(&tall);
      }
      av_frame_free(&f);
    }
  }
}

// The encoder's input: luma within 1 of the accurate path; chroma, the mean
// of each 2 x 2 block where the accurate path filters wider, within 2 on a
// smooth picture.
TEST(AvSupportPictures, EncoderPlanesMatchTheAccurateScaler) {
  const int w = 96, h = 64;
  std::vector<uint8_t> bgr(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
      for (int c = 0; c < 3; c++)
        bgr[(static_cast<size_t>(y) * w + x) * 3 + c] =
            static_cast<uint8_t>(128 + 100 * std::sin((x + 2 * y) / (9.0 + 4 * c)));
  std::vector<uint8_t> want(static_cast<size_t>(w) * h * 3 / 2), got(want.size());
  uint8_t* wantPlanes[4] = {want.data(), want.data() + w * h, want.data() + w * h * 5 / 4, nullptr};
  uint8_t* gotPlanes[4] = {got.data(), got.data() + w * h, got.data() + w * h * 5 / 4, nullptr};
  const int strides[4] = {w, w / 2, w / 2, 0};
  const uint8_t* src[4] = {bgr.data(), nullptr, nullptr, nullptr};
  const int srcStride[4] = {w * 3, 0, 0, 0};
  Accurate(AV_PIX_FMT_BGR24, src, srcStride, AV_PIX_FMT_YUV420P, wantPlanes, strides, w, h);
  AvSupport::BgrToYuv420(bgr.data(), w, h, gotPlanes, strides);
  EXPECT_LE(MaxDiff(want.data(), got.data(), static_cast<size_t>(w) * h), 1);
  EXPECT_LE(MaxDiff(want.data() + w * h, got.data() + w * h, static_cast<size_t>(w) * h / 2), 2);
}

TEST(AvSupportThreads, QorThreadsMeansNoneOneOrSoManyElseOnePerCore) {
  const int32_t perCore =
      static_cast<int32_t>(std::clamp<unsigned>(std::thread::hardware_concurrency(), 1, 16));
  EXPECT_EQ(1, Modules::CodecThreadsOf("1"));
  EXPECT_EQ(3, Modules::CodecThreadsOf("3"));
  EXPECT_EQ(16, Modules::CodecThreadsOf("200"));
  for (const char* other : {static_cast<const char*>(nullptr), "", "0", "-2", "two", "4x"})
    EXPECT_EQ(perCore, Modules::CodecThreadsOf(other)) << (other ? other : "unset");
}

// A line FFmpeg logs on one of the codec's threads waits for the caller's
// thread, which alone writes the trace.
TEST(AvSupportThreads, CodecThreadLinesReachTheTraceFromTheCallersThread) {
  TestUtil::TempDir dir;
  const std::string trace = dir.File("trace.txt");
  Errors::TraceSetFile(trace);
  Errors::TraceStart("QOR 2.8.0");
  AVCodecContext* ctx = avcodec_alloc_context3(nullptr);
  AvSupport::UseCodecThreads(ctx);  // this thread is the caller's
  EXPECT_EQ(AvSupport::CodecThreads(), ctx->thread_count);
  std::thread worker([] { av_log(nullptr, AV_LOG_ERROR, "from a codec thread\n"); });
  worker.join();
  EXPECT_EQ(std::string::npos, TestUtil::ReadText(trace).find("from a codec thread"));
  AvSupport::FlushWorkerLines();
  EXPECT_NE(std::string::npos, TestUtil::ReadText(trace).find("FFmpeg: from a codec thread"));
  Errors::TraceStop();
  avcodec_free_context(&ctx);
}

// The MPEG encoder's slices follow the picture alone (one at VCD size, three
// at 960 rows): the stream is the same at every thread count.
TEST(AvSupportThreads, EncoderStreamIsTheSameAtEveryThreadCount) {
  const int32_t saved = AvSupport::CodecThreads();
  TestUtil::TempDir dir;
  auto encode = [&](int32_t threads, int32_t w, int32_t h) {
    AvSupport::SetCodecThreads(threads);
    const std::string file = dir.File("t" + std::to_string(threads) + ".m1v");
    AvSupport::VideoStreamEncoder enc;
    AvSupport::VideoStreamEncoder::Settings s;
    s.width = w;
    s.height = h;
    s.rateCode = 3;
    EXPECT_EQ("", enc.Create(file.c_str(), s));
    std::vector<uint8_t> bgr(static_cast<size_t>(w) * h * 3);
    for (int frame = 0; frame < 6; frame++) {
      for (size_t i = 0; i < bgr.size(); i++) {
        const double across = static_cast<double>(i % (w * 3)) / 40.0, down = i / (w * 60.0);
        bgr[i] = static_cast<uint8_t>(128 + 90 * std::sin(across + down + frame));
      }
      EXPECT_EQ("", enc.Write(bgr.data()));
    }
    EXPECT_EQ("", enc.Close());
    return TestUtil::ReadText(file);
  };
  // Compared whole, but not printed: a stream is too long to show.
  EXPECT_TRUE(encode(1, 352, 288) == encode(8, 352, 288)) << "VCD size";
  const std::string tall = encode(1, 352, 960);
  EXPECT_GT(tall.size(), 0u);
  for (int32_t threads : {2, 8})
    EXPECT_TRUE(tall == encode(threads, 352, 960)) << "960 rows, " << threads << " threads";
  AvSupport::SetCodecThreads(saved);
}

// With codec threads the encoder runs behind the caller: a failure on its
// thread (a full disk, or anything it throws) still reaches the caller, from
// a later Write or from Close, and an encoder dropped before Close neither
// hangs nor crashes.
TEST(AvSupportThreads, EncoderThreadFailuresReachTheCaller) {
  const int32_t saved = AvSupport::CodecThreads();
  AvSupport::SetCodecThreads(4);
  std::vector<uint8_t> bgr(size_t{352} * 288 * 3);
  for (size_t i = 0; i < bgr.size(); i++) bgr[i] = static_cast<uint8_t>(i * 7919 >> 5);
  AvSupport::VideoStreamEncoder::Settings s;
  s.width = 352;
  s.height = 288;
  s.rateCode = 3;
  // Once the stream is broken, a later picture and the close give the
  // first failure again, whoever encodes.
  for (const int32_t threads : {1, 4}) {
    SCOPED_TRACE(threads);
    AvSupport::SetCodecThreads(threads);
    AvSupport::VideoStreamEncoder enc;
    ASSERT_EQ("", enc.Create("/dev/full", s));
    std::string err;
    for (int frame = 0; frame < 40 && err.empty(); frame++) err = enc.Write(bgr.data());
    EXPECT_EQ("cannot write /dev/full: No space left on device", err);
    EXPECT_EQ(err, enc.Write(bgr.data()));
    EXPECT_EQ(err, enc.Close());
  }
  AvSupport::SetCodecThreads(4);
  {
    TestUtil::TempDir dir;
    AvSupport::VideoStreamEncoder enc;
    ASSERT_EQ("", enc.Create(dir.File("dropped.m1v").c_str(), s));
    for (int frame = 0; frame < 5; frame++) EXPECT_EQ("", enc.Write(bgr.data()));
  }
  {
    TestUtil::TempDir dir;
    AvSupport::VideoStreamEncoder enc;
    ASSERT_EQ("", enc.Create(dir.File("thrown.m1v").c_str(), s));
    AvSupport::Faults().encoder = 1;  // the second picture throws
    std::string err;
    for (int frame = 0; frame < 10 && err.empty(); frame++) err = enc.Write(bgr.data());
    if (err.empty()) err = enc.Close();
    EXPECT_EQ("out of memory", err);
    EXPECT_EQ(-1, AvSupport::Faults().encoder.load());
  }
  AvSupport::SetCodecThreads(saved);
}
