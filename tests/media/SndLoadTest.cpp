// Pulling converted samples from a reader's block step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "media/SndBasic.h"

using namespace SndBasic;

namespace {

// A reader over bytes held by the test: each call hands out up to perCall
// source frames (blocks) in a tracked block, as the format readers do.
struct TestReader {
  const uint8_t* src = nullptr;
  int64_t size = 0;
  int32_t blockAlign = 1;
  int32_t perCall = 1;
  int64_t pos = 0;
  int calls = 0;
  int32_t lie = 0;  // bytes claimed beyond the block
};

void ReadBlocks(void* handle, int32_t /*bytesNeeded*/, uint8_t*& block,
                int32_t& bytes, int32_t& frames) {
  TestReader& r = *static_cast<TestReader*>(handle);
  const int64_t n = std::min<int64_t>((r.size - r.pos) / r.blockAlign, r.perCall);
  bytes = static_cast<int32_t>(n * r.blockAlign);
  frames = static_cast<int32_t>(n);
  if (n == 0) return;
  Basic::MemAlloc(block, bytes, __LINE__, Basic::kMemPlain, "test.ReadBlocks.block");
  std::memcpy(block, r.src + r.pos, static_cast<size_t>(bytes));
  r.pos += bytes;
  r.calls++;
  bytes += r.lie;
}

// A 16-bit mono sine advancing step radians a frame.
SndRec Sine(int32_t frames, int32_t rate, double amp, double step) {
  SndRec s;
  SndMakeSilence(s, frames, rate, 16, 1);
  for (int i = 0; i < frames; i++) {
    const int16_t v = static_cast<int16_t>(std::lround(amp * std::sin(i * step)));
    s.data[2 * i] = static_cast<uint8_t>(v);
    s.data[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
  }
  return s;
}

WaveFormatEx Pcm(int32_t rate, int32_t channels, int32_t bits) {
  WaveFormatEx f;
  WaveFormatSetPCM(f, rate, channels, bits);
  return f;
}

// A load state whose source format block is the given bytes.
SndLoadState State(const std::vector<uint8_t>& srcFormat, const WaveFormatEx& delivered,
                   int32_t blockCount, double perBlock) {
  SndLoadState st;
  Basic::MemAlloc(st.srcFormat, static_cast<int64_t>(srcFormat.size()), __LINE__,
                  Basic::kMemPlain, "test.State.srcFormat");
  std::memcpy(st.srcFormat, srcFormat.data(), srcFormat.size());
  st.srcFormatSize = static_cast<int32_t>(srcFormat.size());
  st.dstFormat = delivered;
  st.blockCount = blockCount;
  st.samplesPerBlock = perBlock;
  return st;
}

// Loads chunk frames at a time until a load comes back short.
std::vector<uint8_t> LoadAll(SndLoadState& st, WaveConvRec& ctx, TestReader& r,
                             int32_t chunk, std::vector<int32_t>* counts = nullptr) {
  std::vector<uint8_t> all;
  SndRec s;
  for (int guard = 0; guard < 10000; guard++) {
    SndLoad(st, ctx, ReadBlocks, &r, chunk, s);
    EXPECT_FALSE(WaveFormatDiffers(s.format, st.dstFormat));
    if (counts) counts->push_back(s.frames);
    all.insert(all.end(), s.data, s.data + static_cast<int64_t>(s.frames) * s.format.blockAlign);
    if (s.frames < chunk) break;
  }
  SndFree(s);
  return all;
}

}  // namespace

TEST(SndLoad, DeliversConvertedFramesAcrossReaderBlocks) {
  const int32_t n = 1000;
  SndRec src;
  SndMakeSilence(src, n, 22050, 8, 1);
  for (int i = 0; i < n; i++) src.data[i] = static_cast<uint8_t>((i * 7) & 255);
  const WaveFormatEx delivered = Pcm(22050, 2, 16);
  SndRec whole;
  SndConvert(src, whole, delivered);

  const int32_t mark = Basic::MemMark();
  SndLoadState st = State(Acm::WaveFormatBytes(src.format), delivered, n, 1.0);
  WaveConvRec ctx;
  WaveConvertInit(ctx, st.srcFormat, st.srcFormatSize, st.dstFormat);
  TestReader r{src.data, n, 1, 70};
  std::vector<int32_t> counts;
  const std::vector<uint8_t> got = LoadAll(st, ctx, r, 150, &counts);
  // Six full loads of 150 frames, then the last 100.
  ASSERT_EQ(7u, counts.size());
  EXPECT_EQ(100, counts.back());
  EXPECT_TRUE(st.ended);
  EXPECT_EQ(n, st.curBlock);
  ASSERT_EQ(static_cast<size_t>(4 * n), got.size());
  EXPECT_EQ(0, std::memcmp(whole.data, got.data(), got.size()));
  EXPECT_EQ(nullptr, st.sndData);  // the emptied buffer was released
  // After the end a load gives nothing and asks the reader nothing.
  SndRec more;
  const int callsBefore = r.calls;
  SndLoad(st, ctx, ReadBlocks, &r, 10, more);
  EXPECT_EQ(0, more.frames);
  EXPECT_EQ(callsBefore, r.calls);
  SndFree(more);
  WaveConvertDone(ctx);
  Basic::MemFree(st.srcFormat);
  EXPECT_EQ(mark, Basic::MemMark());
  SndFree(src);
  SndFree(whole);
}

TEST(SndLoad, RateConversionKeepsItsStateBetweenCalls) {
  const int32_t n = 5000;
  SndRec src = Sine(n, 22050, 12000, 0.07);
  const WaveFormatEx delivered = Pcm(44100, 1, 16);
  SndRec whole;
  SndConvert(src, whole, delivered);
  ASSERT_EQ(2 * n, whole.frames);

  SndLoadState st = State(Acm::WaveFormatBytes(src.format), delivered, n, 2.0);
  WaveConvRec ctx;
  WaveConvertInit(ctx, st.srcFormat, st.srcFormatSize, st.dstFormat);
  TestReader r{src.data, 2 * n, 2, 333};
  const std::vector<uint8_t> got = LoadAll(st, ctx, r, 777);
  // The pieces join into exactly the one-call conversion.
  ASSERT_EQ(static_cast<size_t>(4 * n), got.size());
  EXPECT_EQ(0, std::memcmp(whole.data, got.data(), got.size()));
  WaveConvertDone(ctx);
  Basic::MemFree(st.srcFormat);
  SndFree(src);
  SndFree(whole);
}

TEST(SndLoad, AdpcmSourceBlocksDecodeToTheWholeConversion) {
  const int32_t n = 11025;
  SndRec pcm = Sine(n, 22050, 15000, 0.21);
  std::vector<uint8_t> imaFormat(64, 0);
  imaFormat[0] = static_cast<uint8_t>(Acm::kTagImaAdpcm);
  const std::vector<uint8_t> pcmBytes = Acm::WaveFormatBytes(pcm.format);
  ASSERT_EQ(Acm::kOk, Acm::acmFormatSuggest(nullptr, pcmBytes.data(), 18, imaFormat.data(),
                                            64, Acm::kSuggestTag));
  WaveFormatEx ima;
  Acm::WaveFormatRead(imaFormat.data(), 64, ima);
  imaFormat.resize(18 + ima.extraSize);
  SndRec coded, whole;
  SndConvert(pcm, coded, ima);
  SndConvert(coded, whole, pcm.format);
  const int32_t blocks = coded.frames;  // one frame per 512-byte block
  ASSERT_EQ(11, blocks);

  SndLoadState st = State(imaFormat, pcm.format, blocks, 1017.0);
  WaveConvRec ctx;
  WaveConvertInit(ctx, st.srcFormat, st.srcFormatSize, st.dstFormat);
  EXPECT_EQ(nullptr, ctx.stream2);  // the decoder's own PCM format: one pass
  TestReader r{coded.data, static_cast<int64_t>(blocks) * 512, 512, 1};
  const std::vector<uint8_t> got = LoadAll(st, ctx, r, 3000);
  ASSERT_EQ(static_cast<size_t>(whole.frames) * 2, got.size());
  EXPECT_EQ(0, std::memcmp(whole.data, got.data(), got.size()));
  EXPECT_EQ(blocks, r.calls);
  WaveConvertDone(ctx);
  Basic::MemFree(st.srcFormat);
  for (SndRec* s : {&pcm, &coded, &whole}) SndFree(*s);
}

TEST(SndLoad, ReaderClaimingMoreThanItsBlockIsRefused) {
  SndRec src;
  SndMakeSilence(src, 100, 8000, 8, 1);
  const WaveFormatEx delivered = Pcm(8000, 1, 16);
  SndLoadState st = State(Acm::WaveFormatBytes(src.format), delivered, 100, 1.0);
  WaveConvRec ctx;
  WaveConvertInit(ctx, st.srcFormat, st.srcFormatSize, st.dstFormat);
  TestReader r{src.data, 100, 1, 10};
  r.lie = 4096;
  SndRec s;
  EXPECT_THROW(SndLoad(st, ctx, ReadBlocks, &r, 50, s), Errors::EMon);
  EXPECT_EQ(Errors::kClsAudio, Errors::ErrClass());
  EXPECT_EQ(3, Errors::ErrCode());
  WaveConvertDone(ctx);
  Basic::MemFree(st.srcFormat);
  SndFree(src);
}

TEST(SndLoad, InvalidDeliveredFormatIsRefused) {
  SndLoadState st;
  WaveConvRec ctx;
  TestReader r;
  SndRec s;
  EXPECT_THROW(SndLoad(st, ctx, ReadBlocks, &r, 10, s), Errors::EMon);
  EXPECT_EQ(Errors::kClsAudio, Errors::ErrClass());
  EXPECT_EQ(4, Errors::ErrCode());
  EXPECT_EQ(0, r.calls);
}
