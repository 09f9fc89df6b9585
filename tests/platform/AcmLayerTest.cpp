// The conversion stream calls: argument checks, held-back output, flushing
// and state across calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/AcmLayer.h"
#include "support/SoundFormats.h"

using namespace Acm;

namespace {

std::vector<uint8_t> PcmBytes(uint32_t rate, uint16_t channels, uint16_t bits) {
  WaveFormatEx f;
  f.formatTag = kTagPcm;
  f.channels = channels;
  f.samplesPerSec = rate;
  f.bitsPerSample = bits;
  f.blockAlign = static_cast<uint16_t>(channels * bits / 8);
  f.avgBytesPerSec = rate * f.blockAlign;
  return WaveFormatBytes(f);
}

// Opens a stream; fails the test when it cannot.
HACMSTREAM Open(const std::vector<uint8_t>& src, const std::vector<uint8_t>& dst) {
  HACMSTREAM s = nullptr;
  EXPECT_EQ(kOk, acmStreamOpen(&s, nullptr, src.data(), static_cast<int64_t>(src.size()),
                               dst.data(), static_cast<int64_t>(dst.size()), nullptr, 0, 0,
                               kOpenNonRealtime));
  return s;
}

// One prepared conversion; returns the result and the bytes written.
MMRESULT Convert(HACMSTREAM s, const uint8_t* src, uint32_t n, uint8_t* dst, uint32_t cap,
                 uint32_t flags, uint32_t& written) {
  AcmStreamHeader h;
  h.size = kStreamHeaderSize;
  h.src = const_cast<uint8_t*>(src);
  h.srcLength = n;
  h.dst = dst;
  h.dstLength = cap;
  EXPECT_EQ(kOk, acmStreamPrepareHeader(s, &h, 0));
  const MMRESULT r = acmStreamConvert(s, &h, flags);
  EXPECT_EQ(kOk, acmStreamUnprepareHeader(s, &h, 0));
  if (r == kOk) {
    EXPECT_EQ(n, h.srcLengthUsed);
  }
  written = h.dstLengthUsed;
  return r;
}

std::vector<uint8_t> Sine16(int frames, double step) {
  std::vector<uint8_t> b(static_cast<size_t>(frames) * 2);
  for (int i = 0; i < frames; i++) {
    const int16_t v = static_cast<int16_t>(std::lround(14000 * std::sin(i * step)));
    b[2 * i] = static_cast<uint8_t>(v);
    b[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
  }
  return b;
}

}  // namespace

TEST(AcmLayer, OpenChecksItsArguments) {
  const auto a = PcmBytes(8000, 1, 8), b = PcmBytes(8000, 1, 16);
  HACMSTREAM s = nullptr;
  int driver = 0;
  EXPECT_EQ(kErrInvalidParam, acmStreamOpen(&s, &driver, a.data(), 18, b.data(), 18,
                                            nullptr, 0, 0, 0));
  EXPECT_EQ(kErrInvalidFlag, acmStreamOpen(&s, nullptr, a.data(), 18, b.data(), 18,
                                           nullptr, 0, 0, 0x100));
  EXPECT_EQ(kErrInvalidParam, acmStreamOpen(&s, nullptr, a.data(), 15, b.data(), 18,
                                            nullptr, 0, 0, 0));
  EXPECT_EQ(nullptr, s);
  // A query makes no stream.
  EXPECT_EQ(kOk, acmStreamOpen(nullptr, nullptr, a.data(), 18, b.data(), 18, nullptr, 0, 0,
                               kOpenQuery));
  const auto six = PcmBytes(8000, 6, 16);
  EXPECT_EQ(kErrNotPossible, acmStreamOpen(nullptr, nullptr, six.data(), 18, b.data(), 18,
                                           nullptr, 0, 0, kOpenQuery));
  const auto twelve = PcmBytes(8000, 1, 12);
  EXPECT_EQ(kErrNotPossible, acmStreamOpen(nullptr, nullptr, twelve.data(), 18, b.data(), 18,
                                           nullptr, 0, 0, kOpenQuery));
  EXPECT_EQ(kErrInvalidHandle, acmStreamClose(nullptr, 0));
}

TEST(AcmLayer, ShortPcmHeaderAndExtraBytesBeyondTheBlock) {
  // 16 bytes serve for PCM.
  const auto b = PcmBytes(8000, 1, 16);
  std::unique_ptr<uint8_t[]> shortPcm(new uint8_t[16]);
  std::memcpy(shortPcm.get(), PcmBytes(8000, 1, 8).data(), 16);
  HACMSTREAM s = nullptr;
  ASSERT_EQ(kOk, acmStreamOpen(&s, nullptr, shortPcm.get(), 16, b.data(), 18, nullptr, 0, 0, 0));
  acmStreamClose(s, 0);
  // An ADPCM header announcing 32 extra bytes in an 18-byte block: only the
  // 18 bytes are read (the sanitizer build watches this).
  const WaveFormatEx ima = TestSound::Format(kTagImaAdpcm, 1, 8000, 4055, 256, 4, 32);
  std::unique_ptr<uint8_t[]> exact(new uint8_t[18]);
  WaveFormatWrite(ima, exact.get());
  ASSERT_EQ(kOk, acmStreamOpen(&s, nullptr, exact.get(), 18, b.data(), 18, nullptr, 0, 0, 0));
  uint32_t most = 0;
  ASSERT_EQ(kOk, acmStreamSize(s, 512, &most, kSizeSource));
  EXPECT_EQ(2u * 505 * 2, most);  // two blocks of (256 - 4) x 2 + 1 samples
  acmStreamClose(s, 0);
}

TEST(AcmLayer, ConvertNeedsAPreparedHeader) {
  HACMSTREAM s = Open(PcmBytes(8000, 1, 8), PcmBytes(8000, 1, 16));
  uint8_t in[4] = {1, 2, 3, 4}, out[8];
  AcmStreamHeader h;
  h.size = kStreamHeaderSize;
  h.src = in;
  h.srcLength = 4;
  h.dst = out;
  h.dstLength = 8;
  EXPECT_EQ(kErrUnprepared, acmStreamConvert(s, &h, kConvertStart));
  EXPECT_EQ(kErrUnprepared, acmStreamUnprepareHeader(s, &h, 0));
  h.size = 40;
  EXPECT_EQ(kErrInvalidParam, acmStreamPrepareHeader(s, &h, 0));
  uint32_t most = 0;
  EXPECT_EQ(kErrInvalidFlag, acmStreamSize(s, 4, &most, 1));
  EXPECT_EQ(kErrInvalidHandle, acmStreamSize(nullptr, 4, &most, kSizeSource));
  acmStreamClose(s, 0);
}

TEST(AcmLayer, OutputThatDoesNotFitComesOnTheNextCall) {
  HACMSTREAM s = Open(PcmBytes(8000, 1, 8), PcmBytes(8000, 1, 16));
  std::vector<uint8_t> in(100);
  for (int i = 0; i < 100; i++) in[i] = static_cast<uint8_t>(i + 50);
  std::vector<uint8_t> out(200);
  uint32_t w = 0;
  ASSERT_EQ(kOk, Convert(s, in.data(), 100, out.data(), 50, kConvertStart | kConvertBlockAlign, w));
  EXPECT_EQ(50u, w);
  ASSERT_EQ(kOk, Convert(s, nullptr, 0, out.data() + 50, 150, kConvertBlockAlign, w));
  EXPECT_EQ(150u, w);
  for (int i = 0; i < 100; i++) {
    const int16_t v = static_cast<int16_t>(out[2 * i] | (out[2 * i + 1] << 8));
    ASSERT_EQ((i + 50 - 128) * 256, v);
  }
  // On the last call the held-back bytes have nowhere to go.
  EXPECT_EQ(kErrNotPossible,
            Convert(s, in.data(), 100, out.data(), 10, kConvertBlockAlign | kConvertEnd, w));
  acmStreamClose(s, 0);
}

TEST(AcmLayer, PartialSampleFramesWaitForTheirOtherHalf) {
  HACMSTREAM s = Open(PcmBytes(8000, 2, 16), PcmBytes(8000, 1, 16));
  // Stereo frames (1000, 3000) and (-10, -20), handed over 3 + 5 bytes.
  const uint8_t in[8] = {0xE8, 0x03, 0xB8, 0x0B, 0xF6, 0xFF, 0xEC, 0xFF};
  uint8_t out[8] = {};
  uint32_t w = 0;
  ASSERT_EQ(kOk, Convert(s, in, 3, out, 8, kConvertStart, w));
  EXPECT_EQ(0u, w);
  ASSERT_EQ(kOk, Convert(s, in + 3, 5, out, 8, 0, w));
  ASSERT_EQ(4u, w);
  EXPECT_EQ(2000, static_cast<int16_t>(out[0] | (out[1] << 8)));
  EXPECT_EQ(-15, static_cast<int16_t>(out[2] | (out[3] << 8)));
  acmStreamClose(s, 0);
}

TEST(AcmLayer, AdpcmEncodingInPiecesEqualsOneCall) {
  const auto pcm = PcmBytes(22050, 1, 16);
  std::vector<uint8_t> ima(64, 0);
  ima[0] = static_cast<uint8_t>(kTagImaAdpcm);
  ASSERT_EQ(kOk, acmFormatSuggest(nullptr, pcm.data(), 18, ima.data(), 64, kSuggestTag));
  WaveFormatEx f;
  WaveFormatRead(ima.data(), 64, f);
  EXPECT_EQ(2, f.extraSize);
  EXPECT_EQ(1017, ima[18] | (ima[19] << 8));  // samples per block
  ima.resize(20);
  const std::vector<uint8_t> in = Sine16(5000, 0.05);

  HACMSTREAM one = Open(pcm, ima);
  std::vector<uint8_t> whole(8192);
  uint32_t w = 0, total = 0;
  ASSERT_EQ(kOk, Convert(one, in.data(), 10000, whole.data(), 8192,
                         kConvertStart | kConvertBlockAlign | kConvertEnd, w));
  EXPECT_EQ(5u * 512, w);  // 5000 samples: 4 full blocks and a padded fifth
  whole.resize(w);
  acmStreamClose(one, 0);

  HACMSTREAM pieces = Open(pcm, ima);
  std::vector<uint8_t> got(8192);
  uint32_t flags = kConvertStart | kConvertBlockAlign;
  for (uint32_t pos = 0; pos < 10000; pos += 666) {
    const uint32_t n = std::min<uint32_t>(666, 10000 - pos);
    if (pos + n == 10000) flags |= kConvertEnd;
    ASSERT_EQ(kOk, Convert(pieces, in.data() + pos, n, got.data() + total, 8192 - total, flags, w));
    total += w;
    flags = kConvertBlockAlign;
  }
  ASSERT_EQ(whole.size(), total);
  EXPECT_EQ(0, std::memcmp(whole.data(), got.data(), total));
  // A new start after the end begins a fresh conversion with equal results.
  ASSERT_EQ(kOk, Convert(pieces, in.data(), 10000, got.data(), 8192,
                         kConvertStart | kConvertBlockAlign | kConvertEnd, w));
  ASSERT_EQ(whole.size(), w);
  EXPECT_EQ(0, std::memcmp(whole.data(), got.data(), w));
  acmStreamClose(pieces, 0);
}

TEST(AcmLayer, SuggestRespectsRequestedFieldsAndCapacity) {
  const auto src = PcmBytes(44100, 2, 16);
  std::vector<uint8_t> dst = PcmBytes(11025, 1, 8);
  ASSERT_EQ(kOk, acmFormatSuggest(nullptr, src.data(), 18, dst.data(), 18,
                                  kSuggestTag | kSuggestRate | kSuggestBits));
  WaveFormatEx f;
  WaveFormatRead(dst.data(), 18, f);
  EXPECT_EQ(kTagPcm, f.formatTag);
  EXPECT_EQ(11025u, f.samplesPerSec);
  EXPECT_EQ(8, f.bitsPerSample);
  EXPECT_EQ(2, f.channels);  // not requested: the source's
  EXPECT_EQ(2, f.blockAlign);
  EXPECT_EQ(22050u, f.avgBytesPerSec);
  // An ADPCM proposal needs room for its extra bytes.
  std::vector<uint8_t> small(18, 0);
  small[0] = static_cast<uint8_t>(kTagMsAdpcm);
  EXPECT_EQ(kErrInvalidParam,
            acmFormatSuggest(nullptr, src.data(), 18, small.data(), 18, kSuggestTag));
  EXPECT_EQ(kErrInvalidFlag, acmFormatSuggest(nullptr, src.data(), 18, dst.data(), 18, 1));
}

// 24- and 32-bit integer PCM: narrowing keeps each sample's 16 most
// significant bits, widening puts 16 bits there, so 16 -> wide -> 16 gives
// back every sample; a wide source is suggested PCM of its own width.
TEST(AcmLayer, WideIntegerPcmKeepsTheHighBits) {
  const auto s16 = PcmBytes(22050, 2, 16);
  const std::vector<uint8_t> sine = Sine16(1000, 0.05);
  for (uint16_t bits : {uint16_t{24}, uint16_t{32}}) {
    const auto wide = PcmBytes(22050, 2, bits);
    const size_t width = bits / 8;
    HACMSTREAM up = Open(s16, wide);
    ASSERT_NE(nullptr, up);
    std::vector<uint8_t> w(sine.size() / 2 * width);
    uint32_t written = 0;
    ASSERT_EQ(kOk, Convert(up, sine.data(), static_cast<uint32_t>(sine.size()), w.data(),
                           static_cast<uint32_t>(w.size()), kConvertStart | kConvertEnd, written));
    ASSERT_EQ(w.size(), written);
    acmStreamClose(up, 0);
    for (size_t i = 0; i < sine.size() / 2; i++) {
      EXPECT_EQ(0, w[i * width]) << bits;  // the low bytes are zero
      EXPECT_EQ(sine[2 * i], w[i * width + width - 2]) << bits;
      EXPECT_EQ(sine[2 * i + 1], w[i * width + width - 1]) << bits;
    }
    // Low bytes that carry something are dropped, not rounded into the rest.
    for (size_t i = 0; i < w.size(); i += width) w[i] = 0xFF;
    HACMSTREAM down = Open(wide, s16);
    ASSERT_NE(nullptr, down);
    std::vector<uint8_t> back(sine.size());
    ASSERT_EQ(kOk, Convert(down, w.data(), static_cast<uint32_t>(w.size()), back.data(),
                           static_cast<uint32_t>(back.size()), kConvertStart | kConvertEnd,
                           written));
    EXPECT_EQ(sine, back) << bits;
    acmStreamClose(down, 0);
    uint8_t suggest[kWaveFormatSize] = {};
    WaveFormatEx want;
    want.formatTag = kTagPcm;
    WaveFormatWrite(want, suggest);
    ASSERT_EQ(kOk, acmFormatSuggest(nullptr, wide.data(), 18, suggest, sizeof suggest, kSuggestTag));
    WaveFormatEx got;
    WaveFormatRead(suggest, sizeof suggest, got);
    EXPECT_EQ(bits, got.bitsPerSample);
    EXPECT_EQ(2 * width, got.blockAlign);
  }
}
