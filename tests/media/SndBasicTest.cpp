// Sound record operations and wave format conversions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "media/SndBasic.h"
#include "support/SoundFormats.h"

using namespace SndBasic;

namespace {

constexpr double kPi = 3.14159265358979323846;

int16_t S16At(const SndRec& s, int64_t i) {
  return static_cast<int16_t>(s.data[2 * i] | (s.data[2 * i + 1] << 8));
}

void PutS16(SndRec& s, int64_t i, int16_t v) {
  s.data[2 * i] = static_cast<uint8_t>(v);
  s.data[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
}

// A 16-bit mono sine of the given frequency and amplitude.
SndRec Sine(int32_t frames, int32_t rate, double hz, double amp) {
  SndRec s;
  SndMakeSilence(s, frames, rate, 16, 1);
  for (int32_t i = 0; i < frames; i++)
    PutS16(s, i, static_cast<int16_t>(std::lround(amp * std::sin(2 * kPi * hz * i / rate))));
  return s;
}

std::vector<double> Samples(const SndRec& s) {
  std::vector<double> v(static_cast<size_t>(s.frames) * s.format.channels);
  for (size_t i = 0; i < v.size(); i++) v[i] = S16At(s, static_cast<int64_t>(i));
  return v;
}

// Frequency from the upward zero crossings between from and to, placed by
// linear interpolation.
double MeasureHz(const std::vector<double>& v, size_t from, size_t to, double rate) {
  double first = -1, last = -1;
  int crossings = 0;
  for (size_t i = from; i + 1 < to; i++) {
    if (v[i] < 0 && v[i + 1] >= 0) {
      const double t = i + (-v[i]) / (v[i + 1] - v[i]);
      if (first < 0) first = t;
      last = t;
      crossings++;
    }
  }
  if (crossings < 2) return 0;
  return (crossings - 1) / ((last - first) / rate);
}

double SnrDb(const std::vector<double>& ref, const std::vector<double>& got,
             size_t from, size_t to) {
  double sig = 0, err = 0;
  for (size_t i = from; i < to; i++) {
    sig += ref[i] * ref[i];
    err += (ref[i] - got[i]) * (ref[i] - got[i]);
  }
  return err == 0 ? 200.0 : 10 * std::log10(sig / err);
}

WaveFormatEx Pcm(int32_t rate, int32_t channels, int32_t bits) {
  WaveFormatEx f;
  WaveFormatSetPCM(f, rate, channels, bits);
  return f;
}

// The layer's proposal of a compressed format for a PCM source.
std::vector<uint8_t> Suggest(uint16_t tag, const WaveFormatEx& pcm) {
  std::vector<uint8_t> out(64, 0);
  out[0] = static_cast<uint8_t>(tag);
  out[1] = static_cast<uint8_t>(tag >> 8);
  const std::vector<uint8_t> src = Acm::WaveFormatBytes(pcm);
  EXPECT_EQ(Acm::kOk, Acm::acmFormatSuggest(nullptr, src.data(), 18, out.data(),
                                            static_cast<int64_t>(out.size()),
                                            Acm::kSuggestTag));
  return out;
}

WaveFormatEx Header(const std::vector<uint8_t>& bytes) {
  WaveFormatEx f;
  EXPECT_TRUE(Acm::WaveFormatRead(bytes.data(), static_cast<int64_t>(bytes.size()), f));
  return f;
}

template <class F>
void ExpectError(int32_t cls, int32_t code, F&& f) {
  EXPECT_THROW(f(), Errors::EMon);
  EXPECT_EQ(cls, Errors::ErrClass());
  EXPECT_EQ(code, Errors::ErrCode());
}

std::string TempPath(const char* name) {
  return std::string("/tmp/qor_snd_") + std::to_string(getpid()) + "_" + name;
}

}  // namespace

// ---- wave format header -----------------------------------------------------------

TEST(SndFormat, SetPcmComputesAlignmentAndRate) {
  const WaveFormatEx f = Pcm(44100, 2, 16);
  EXPECT_EQ(1, f.formatTag);
  EXPECT_EQ(4, f.blockAlign);
  EXPECT_EQ(176400u, f.avgBytesPerSec);
  EXPECT_EQ(0, f.extraSize);
}

TEST(SndFormat, ByteImageIsLittleEndian) {
  WaveFormatEx f = Pcm(44100, 2, 16);
  f.extraSize = 0x0102;
  uint8_t b[18];
  Acm::WaveFormatWrite(f, b);
  // 44100 = 0xAC44, 176400 = 0x2B110.
  const uint8_t want[18] = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 0x02, 0,
                            4, 0, 16, 0, 0x02, 0x01};
  EXPECT_EQ(0, std::memcmp(want, b, 18));
  WaveFormatEx back;
  EXPECT_TRUE(Acm::WaveFormatRead(b, 18, back));
  EXPECT_EQ(44100u, back.samplesPerSec);
  EXPECT_EQ(0x0102, back.extraSize);
  EXPECT_FALSE(Acm::WaveFormatRead(b, 17, back));
}

TEST(SndFormat, ValidateRefusesZeroFields) {
  WaveFormatEx f = Pcm(22050, 1, 8);
  f.samplesPerSec = 0;
  EXPECT_FALSE(WaveFormatValidate(f));
  f = Pcm(22050, 0, 8);
  EXPECT_FALSE(WaveFormatValidate(f));
  f = Pcm(22050, 1, 0);
  EXPECT_FALSE(WaveFormatValidate(f));
  f = Pcm(22050, 1, 4);  // no whole byte per sample
  EXPECT_FALSE(WaveFormatValidate(f));
  f = Pcm(-5, 1, 8);  // a value the field cannot hold
  EXPECT_FALSE(WaveFormatValidate(f));
}

TEST(SndFormat, ValidateRecomputesPcmOnly) {
  WaveFormatEx pcm = Pcm(22050, 2, 16);
  pcm.blockAlign = 7;
  pcm.avgBytesPerSec = 3;
  EXPECT_TRUE(WaveFormatValidate(pcm));
  EXPECT_EQ(4, pcm.blockAlign);
  EXPECT_EQ(88200u, pcm.avgBytesPerSec);

  WaveFormatEx ima = TestSound::Format(Acm::kTagImaAdpcm, 1, 22050, 11100, 512, 4, 2);
  EXPECT_TRUE(WaveFormatValidate(ima));
  EXPECT_EQ(512, ima.blockAlign);  // not channels x (4 / 8) = 0
  EXPECT_EQ(11100u, ima.avgBytesPerSec);
}

TEST(SndFormat, DiffersLooksAtTheFirst16BytesOnly) {
  WaveFormatEx a = Pcm(22050, 1, 8), b = a;
  b.extraSize = 22;
  EXPECT_FALSE(WaveFormatDiffers(a, b));
  b.bitsPerSample = 16;
  EXPECT_TRUE(WaveFormatDiffers(a, b));
}

// ---- silence and records --------------------------------------------------------

TEST(SndRecord, SilenceOnRecordWithoutFormatTakesDefault) {
  SndRec s;
  SndAddSilence(s, 10);
  EXPECT_TRUE(Errors::ErrNone());
  EXPECT_EQ(22050u, s.format.samplesPerSec);
  EXPECT_EQ(1, s.format.channels);
  EXPECT_EQ(8, s.format.bitsPerSample);
  ASSERT_EQ(10, s.frames);
  for (int i = 0; i < 10; i++) EXPECT_EQ(128, s.data[i]);
  SndFree(s);
  EXPECT_EQ(nullptr, s.data);
}

TEST(SndRecord, SilencePadsAfterExistingFrames) {
  SndRec s;
  SndMakeSilence(s, 4, 8000, 16, 1);
  PutS16(s, 3, 1234);
  SndAddSilence(s, 6);
  ASSERT_EQ(6, s.frames);
  EXPECT_EQ(1234, S16At(s, 3));
  EXPECT_EQ(0, S16At(s, 4));
  EXPECT_EQ(0, S16At(s, 5));
  SndAddSilence(s, 2);  // already longer: nothing happens
  EXPECT_EQ(6, s.frames);
  SndFree(s);
}

TEST(SndRecord, MakeSilenceStereo16) {
  SndRec s;
  SndMakeSilence(s, 100, 44100, 16, 2);
  EXPECT_EQ(4, s.format.blockAlign);
  EXPECT_EQ(100, s.frames);
  EXPECT_GE(s.allocated, 400);
  for (int i = 0; i < 400; i++) ASSERT_EQ(0, s.data[i]);
  SndFree(s);
}

TEST(SndRecord, SilenceWithInvalidFormatFails) {
  SndRec s;
  s.format = Pcm(22050, 1, 8);
  s.format.channels = 0;
  ExpectError(Errors::kClsAudio, 4, [&] { SndAddSilence(s, 10); });
  EXPECT_EQ(0, s.frames);
}

TEST(SndRecord, HugeSilenceIsRefusedNotWrapped) {
  SndRec s;
  // 2^31 - 1 frames of 4 bytes: more than a block can hold.
  ExpectError(Errors::kClsMemory, Basic::kMemInvalidSize,
              [&] { SndMakeSilence(s, 0x7FFFFFFF, 44100, 16, 2); });
  EXPECT_EQ(0, s.frames);
}

TEST(SndRecord, RecordWhoseFramesExceedItsBlockIsRefused) {
  SndRec s;
  SndMakeSilence(s, 10, 8000, 8, 1);
  s.frames = 1000;  // claims more than its block
  SndRec d;
  ExpectError(Errors::kClsAudio, 4, [&] { SndMove(s, d, 0, 5); });
  EXPECT_EQ(nullptr, d.data);
  s.frames = 10;
  SndFree(s);
}

TEST(SndRecord, DeleteCutsAtTheEnd) {
  SndRec s;
  SndMakeSilence(s, 15, 8000, 8, 1);
  SndDelete(s, 10, 10);
  EXPECT_EQ(10, s.frames);
  SndFree(s);
}

TEST(SndRecord, DeleteMovesTheRestDown) {
  SndRec s;
  SndMakeSilence(s, 6, 8000, 8, 1);
  for (int i = 0; i < 6; i++) s.data[i] = static_cast<uint8_t>(i);
  SndDelete(s, 1, 2);
  ASSERT_EQ(4, s.frames);
  EXPECT_EQ(0, s.data[0]);
  EXPECT_EQ(3, s.data[1]);
  EXPECT_EQ(4, s.data[2]);
  EXPECT_EQ(5, s.data[3]);
  SndFree(s);
}

TEST(SndRecord, NegativeRangesDoNothing) {
  SndRec s;
  SndMakeSilence(s, 6, 8000, 8, 1);
  for (int i = 0; i < 6; i++) s.data[i] = static_cast<uint8_t>(10 + i);
  SndDelete(s, -1, 2);
  SndDelete(s, 2, -3);
  SndDelete(s, 6, 1);  // start not below the count
  EXPECT_EQ(6, s.frames);
  SndRec d;
  SndMove(s, d, -2, 3);
  SndMove(s, d, 1, -1);
  SndMove(s, d, 6, 1);
  EXPECT_EQ(nullptr, d.data);
  EXPECT_EQ(0, d.frames);
  for (int i = 0; i < 6; i++) EXPECT_EQ(10 + i, s.data[i]);
  EXPECT_TRUE(Errors::ErrNone());
  SndFree(s);
}

TEST(SndRecord, MoveCopiesAndCutsTheCount) {
  SndRec s, d;
  SndMakeSilence(s, 8, 11025, 16, 2);
  for (int i = 0; i < 16; i++) PutS16(s, i, static_cast<int16_t>(100 * i - 700));
  SndMove(s, d, 5, 100);
  ASSERT_EQ(3, d.frames);
  EXPECT_FALSE(WaveFormatDiffers(s.format, d.format));
  for (int i = 0; i < 6; i++) EXPECT_EQ(100 * (10 + i) - 700, S16At(d, i));
  EXPECT_EQ(8, s.frames);
  SndMove(s, s, 6, 2);  // onto itself: keeps the range only
  ASSERT_EQ(2, s.frames);
  EXPECT_EQ(100 * 12 - 700, S16At(s, 0));
  SndFree(s);
  SndFree(d);
}

TEST(SndRecord, JoinToEmptyRecordTakesTheSourceFormat) {
  SndRec src, dest;
  SndMakeSilence(src, 3, 22050, 8, 1);
  dest.format = Pcm(44100, 2, 16);
  SndJoin(dest, src);
  EXPECT_EQ(1, dest.format.channels);
  EXPECT_EQ(8, dest.format.bitsPerSample);
  EXPECT_EQ(22050u, dest.format.samplesPerSec);
  EXPECT_EQ(3, dest.frames);
  SndFree(src);
  SndFree(dest);
}

TEST(SndRecord, JoinConvertsToTheDestinationFormat) {
  SndRec src, dest;
  SndMakeSilence(dest, 2, 22050, 16, 2);
  PutS16(dest, 0, -5);
  SndMakeSilence(src, 3, 22050, 8, 1);
  src.data[0] = 0;
  src.data[1] = 129;
  src.data[2] = 255;
  SndJoin(dest, src);
  ASSERT_EQ(5, dest.frames);
  EXPECT_EQ(-5, S16At(dest, 0));
  // (u8 - 128) x 256 on both channels.
  const int16_t want[3] = {-32768, 256, 32512};
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(want[i], S16At(dest, 4 + 2 * i));
    EXPECT_EQ(want[i], S16At(dest, 5 + 2 * i));
  }
  SndJoin(dest, dest);  // a sound joined to itself doubles
  EXPECT_EQ(10, dest.frames);
  EXPECT_EQ(-5, S16At(dest, 10));
  SndFree(src);
  SndFree(dest);
}

// ---- exact PCM conversions --------------------------------------------------------

TEST(SndExact, EightToSixteenAndBackIsIdentity) {
  SndRec s, w, back;
  SndMakeSilence(s, 256, 8000, 8, 1);
  for (int i = 0; i < 256; i++) s.data[i] = static_cast<uint8_t>(i);
  SndConvert(s, w, Pcm(8000, 1, 16));
  ASSERT_EQ(256, w.frames);
  for (int i = 0; i < 256; i++) ASSERT_EQ((i - 128) * 256, S16At(w, i));
  SndConvert(w, back, Pcm(8000, 1, 8));
  ASSERT_EQ(256, back.frames);
  EXPECT_EQ(0, std::memcmp(s.data, back.data, 256));
  SndFree(s);
  SndFree(w);
  SndFree(back);
}

TEST(SndExact, SixteenToEightTakesTheHighByte) {
  SndRec s, d;
  const int16_t in[7] = {-32768, -257, -1, 0, 255, 256, 32767};
  const uint8_t want[7] = {0, 126, 127, 128, 128, 129, 255};
  SndMakeSilence(s, 7, 8000, 16, 1);
  for (int i = 0; i < 7; i++) PutS16(s, i, in[i]);
  SndConvert(s, d, Pcm(8000, 1, 8));
  ASSERT_EQ(7, d.frames);
  for (int i = 0; i < 7; i++) EXPECT_EQ(want[i], d.data[i]) << i;
  SndFree(s);
  SndFree(d);
}

TEST(SndExact, MonoStereoMonoIsIdentityAndDownmixIsTheFlooredMean) {
  SndRec m = Sine(1000, 11025, 440, 30000), st, back;
  SndConvert(m, st, Pcm(11025, 2, 16));
  ASSERT_EQ(1000, st.frames);
  for (int i = 0; i < 1000; i++) {
    ASSERT_EQ(S16At(m, i), S16At(st, 2 * i));
    ASSERT_EQ(S16At(m, i), S16At(st, 2 * i + 1));
  }
  SndConvert(st, back, Pcm(11025, 1, 16));
  ASSERT_EQ(1000, back.frames);
  EXPECT_EQ(0, std::memcmp(m.data, back.data, 2000));

  SndRec pair, mono;
  SndMakeSilence(pair, 3, 11025, 16, 2);
  const int16_t lr[6] = {100, 201, -3, 0, 32767, -32768};
  for (int i = 0; i < 6; i++) PutS16(pair, i, lr[i]);
  SndConvert(pair, mono, Pcm(11025, 1, 16));
  ASSERT_EQ(3, mono.frames);
  EXPECT_EQ(150, S16At(mono, 0));   // 301 / 2 rounded down
  EXPECT_EQ(-2, S16At(mono, 1));    // -3 / 2 rounded down
  EXPECT_EQ(-1, S16At(mono, 2));    // -1 / 2 rounded down
  for (SndRec* r : {&m, &st, &back, &pair, &mono}) SndFree(*r);
}

TEST(SndExact, EightBitMonoToSixteenBitStereoIsDeterministic) {
  SndRec s, a, b;
  SndMakeSilence(s, 500, 22050, 8, 1);
  for (int i = 0; i < 500; i++) s.data[i] = static_cast<uint8_t>((i * 37) & 255);
  SndConvert(s, a, Pcm(22050, 2, 16));
  SndConvert(s, b, Pcm(22050, 2, 16));
  ASSERT_EQ(500, a.frames);
  ASSERT_EQ(a.frames, b.frames);
  EXPECT_EQ(0, std::memcmp(a.data, b.data, 2000));
  for (int i = 0; i < 500; i++)
    ASSERT_EQ(((i * 37) % 256 - 128) * 256, S16At(a, 2 * i + 1));
  SndFree(s);
  SndFree(a);
  SndFree(b);
}

// ---- rate conversion ------------------------------------------------------------------

TEST(SndRate, DoublingTheRateKeepsFrameRuleAndFrequency) {
  const int32_t n = 22050;
  SndRec s = Sine(n, 22050, 1000, 20000), d;
  SndConvert(s, d, Pcm(44100, 1, 16));
  EXPECT_EQ(2 * n, d.frames);
  EXPECT_EQ(44100u, d.format.samplesPerSec);
  const std::vector<double> v = Samples(d);
  const double hz = MeasureHz(v, 2000, v.size() - 2000, 44100);
  EXPECT_NEAR(1000.0, hz, 0.5);
  // The resampled sine matches the ideal 44100 Hz sine closely.
  std::vector<double> ideal(v.size());
  for (size_t i = 0; i < ideal.size(); i++) ideal[i] = 20000 * std::sin(2 * kPi * 1000 * i / 44100.0);
  const double snr = SnrDb(ideal, v, 2000, v.size() - 2000);
  std::printf("22050 -> 44100 Hz sine: %d -> %d frames, %.3f Hz, SNR %.1f dB\n", n,
              d.frames, hz, snr);
  EXPECT_GT(snr, 40.0);
  SndFree(s);
  SndFree(d);
}

TEST(SndRate, OddCountRoundsToNearestFrame) {
  SndRec s = Sine(1001, 44100, 500, 10000), d;
  SndConvert(s, d, Pcm(22050, 1, 16));
  EXPECT_EQ(501, d.frames);  // 1001 / 2 = 500.5, rounded up
  SndRec e = Sine(1000, 22050, 500, 10000), f;
  SndConvert(e, f, Pcm(8000, 2, 8));
  EXPECT_EQ(363, f.frames);  // 1000 x 8000 / 22050 = 362.8
  EXPECT_EQ(2, f.format.channels);
  for (SndRec* r : {&s, &d, &e, &f}) SndFree(*r);
}

TEST(SndRate, RuleHoldsForShortSoundsAndEveryRatePair) {
  const int32_t rates[] = {8000, 11025, 22050, 32000, 44100, 48000};
  for (int32_t a : rates) {
    for (int32_t b : rates) {
      if (a == b) continue;
      for (int32_t n = 1; n < 300; n += 7) {
        SndRec s, d;
        SndMakeSilence(s, n, a, 16, 1);
        for (int32_t i = 0; i < n; i++) PutS16(s, i, 20000);  // a constant level
        SndConvert(s, d, Pcm(b, 1, 16));
        const int64_t want = (static_cast<int64_t>(n) * b + a / 2) / a;
        ASSERT_EQ(want, d.frames) << a << " -> " << b << ", " << n << " frames";
        // Even a sound shorter than the filter comes out as sound, not silence.
        if (d.frames > 0) {
          int32_t peak = 0;
          for (int32_t i = 0; i < d.frames; i++) peak = std::max<int32_t>(peak, S16At(d, i));
          ASSERT_GT(peak, 2000) << a << " -> " << b << ", " << n << " frames";
        }
        SndFree(s);
        SndFree(d);
      }
    }
  }
}

TEST(SndRate, AgreesWithSox) {
  if (std::system("command -v sox >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox not installed";
  const int32_t n = 22050;
  SndRec s = Sine(n, 22050, 1000, 20000), d;
  SndConvert(s, d, Pcm(44100, 1, 16));
  const std::string in = TempPath("in.raw"), out = TempPath("out.raw");
  {
    std::ofstream f(in, std::ios::binary);
    f.write(reinterpret_cast<const char*>(s.data), 2 * n);
  }
  const std::string cmd = "sox -D -t raw -r 22050 -e signed -b 16 -c 1 " + in +
                          " -t raw -r 44100 -e signed -b 16 -c 1 " + out + " rate -v";
  ASSERT_EQ(0, std::system(cmd.c_str()));
  std::ifstream g(out, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(g)), {});
  std::remove(in.c_str());
  std::remove(out.c_str());
  ASSERT_EQ(static_cast<size_t>(2 * d.frames), bytes.size());
  std::vector<double> peer(bytes.size() / 2);
  for (size_t i = 0; i < peer.size(); i++)
    peer[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                   (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
  const std::vector<double> v = Samples(d);
  const double snr = SnrDb(peer, v, 2000, v.size() - 2000);
  std::printf("against sox: SNR %.1f dB, sox %.3f Hz\n", snr,
              MeasureHz(peer, 2000, peer.size() - 2000, 44100));
  EXPECT_GT(snr, 40.0);
  SndFree(s);
  SndFree(d);
}

// ---- compressed formats ---------------------------------------------------------

TEST(SndCompressed, ImaAdpcmRoundTripStaysClose) {
  const int32_t n = 22050;
  const WaveFormatEx pcm = Pcm(22050, 1, 16);
  const std::vector<uint8_t> imaBytes = Suggest(Acm::kTagImaAdpcm, pcm);
  const WaveFormatEx ima = Header(imaBytes);
  EXPECT_EQ(512, ima.blockAlign);
  EXPECT_EQ(4, ima.bitsPerSample);
  EXPECT_EQ(11100u, ima.avgBytesPerSec);  // 22050 x 512 / 1017
  SndRec s = Sine(n, 22050, 1000, 16000), c, back;
  SndConvert(s, c, ima);
  // 22050 frames fill 22 blocks of 1017 samples (the last one padded).
  EXPECT_EQ(22 * 512, c.frames * c.format.blockAlign);
  SndConvert(c, back, pcm);
  ASSERT_GE(back.frames, n);
  EXPECT_EQ(22 * 1017, back.frames);
  const double snr = SnrDb(Samples(s), Samples(back), 0, n);
  std::printf("IMA ADPCM round trip: SNR %.1f dB\n", snr);
  ::testing::Test::RecordProperty("ima_adpcm_snr_db", std::to_string(snr));
  EXPECT_GT(snr, 25.0);
  for (SndRec* r : {&s, &c, &back}) SndFree(*r);
}

TEST(SndCompressed, MsAdpcmStereoRoundTripStaysClose) {
  const int32_t n = 8000;
  SndRec m = Sine(n, 11025, 600, 12000), s, c, back;
  SndConvert(m, s, Pcm(11025, 2, 16));
  const std::vector<uint8_t> msBytes = Suggest(Acm::kTagMsAdpcm, s.format);
  const WaveFormatEx ms = Header(msBytes);
  EXPECT_EQ(512, ms.blockAlign);  // 256 x 2 channels
  SndConvert(s, c, ms);
  SndConvert(c, back, s.format);
  ASSERT_GE(back.frames, n);
  const double snr = SnrDb(Samples(s), Samples(back), 0, 2 * n);
  std::printf("MS ADPCM stereo round trip: SNR %.1f dB\n", snr);
  EXPECT_GT(snr, 20.0);
  for (SndRec* r : {&m, &s, &c, &back}) SndFree(*r);
}

TEST(SndCompressed, MuLawRoundTrip) {
  SndRec s = Sine(4000, 8000, 440, 20000), c, back;
  const WaveFormatEx mu = Header(Suggest(Acm::kTagMuLaw, s.format));
  EXPECT_EQ(1, mu.blockAlign);
  EXPECT_EQ(8000u, mu.avgBytesPerSec);
  SndConvert(s, c, mu);
  EXPECT_EQ(4000, c.frames);
  SndConvert(c, back, s.format);
  ASSERT_EQ(4000, back.frames);
  EXPECT_GT(SnrDb(Samples(s), Samples(back), 0, 4000), 30.0);
  for (SndRec* r : {&s, &c, &back}) SndFree(*r);
}

TEST(SndCompressed, MpegAudioToAnotherRateTakesTwoPasses) {
  if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg not installed";
  const int32_t n = 44100;
  SndRec s = Sine(n, 44100, 1000, 16000);
  const std::string in = TempPath("mp.raw"), out = TempPath("mp.mp2");
  {
    std::ofstream f(in, std::ios::binary);
    f.write(reinterpret_cast<const char*>(s.data), 2 * n);
  }
  const std::string cmd = "ffmpeg -nostdin -v error -y -f s16le -ar 44100 -ac 1 -i " + in +
                          " -c:a mp2 -b:a 128k -f mp2 " + out;
  ASSERT_EQ(0, std::system(cmd.c_str()));
  std::ifstream g(out, std::ios::binary);
  std::vector<char> mp2((std::istreambuf_iterator<char>(g)), {});
  std::remove(in.c_str());
  std::remove(out.c_str());
  ASSERT_GT(mp2.size(), 1000u);

  SndRec m;
  m.format = TestSound::Format(Acm::kTagMpeg, 1, 44100, 16000, 1, 16);
  _sndalloc_(m, static_cast<int64_t>(mp2.size()), __LINE__, "test.mp2");
  std::memcpy(m.data, mp2.data(), mp2.size());
  m.frames = static_cast<int32_t>(mp2.size());

  const WaveFormatEx target = Pcm(22050, 1, 16);
  WaveConvRec ctx;
  WaveConvertInit(ctx, m.format, target);
  EXPECT_NE(nullptr, ctx.stream2);  // through 44100 Hz 16-bit PCM
  EXPECT_EQ(44100u, ctx.middle.samplesPerSec);
  EXPECT_EQ(16, ctx.middle.bitsPerSample);
  WaveConvertDone(ctx);
  EXPECT_EQ(nullptr, ctx.stream);

  SndRec d;
  SndConvert(m, d, target);
  EXPECT_NEAR(n / 2, d.frames, 1200);  // codec delay and padding at most a frame
  const std::vector<double> v = Samples(d);
  EXPECT_NEAR(1000.0, MeasureHz(v, 2000, v.size() - 2000, 22050), 1.0);
  for (SndRec* r : {&s, &m, &d}) SndFree(*r);
}

// ---- failures -----------------------------------------------------------------------

TEST(SndErrors, UnusableTargetFormat) {
  SndRec s = Sine(10, 8000, 100, 100), d;
  WaveFormatEx bad = Pcm(8000, 1, 16);
  bad.samplesPerSec = 0;
  ExpectError(Errors::kClsAudio, 1, [&] { SndConvert(s, d, bad); });
  EXPECT_EQ(nullptr, d.data);
  SndFree(s);
}

TEST(SndErrors, StreamRefusalIsClass19WithTheResult) {
  SndRec s = Sine(10, 8000, 100, 100), d;
  const WaveFormatEx odd = TestSound::Unknown();
  ExpectError(Errors::kClsAcm, static_cast<int32_t>(Acm::kErrNotPossible),
              [&] { SndConvert(s, d, odd); });
  EXPECT_EQ("Fatal error in Audio Compression Manager: 512", Errors::ErrLastText());
  EXPECT_EQ(nullptr, d.data);
  SndRec six;
  SndMakeSilence(six, 4, 8000, 16, 6);
  ExpectError(Errors::kClsAcm, 512, [&] { SndConvert(six, d, Pcm(8000, 2, 16)); });
  SndFree(s);
  SndFree(six);
}

TEST(SndErrors, ConversionSizeBeyondABlockIsRefused) {
  // A header claiming one byte a second makes the rate-based size of the
  // 48 kHz stereo result 192000 x 100000 x 1.05 bytes.
  SndRec s;
  s.format = TestSound::Format(Acm::kTagImaAdpcm, 1, 22050, 1, 512, 4);
  _sndalloc_(s, 100352, __LINE__, "test.ima");
  s.frames = 196;
  SndRec d;
  ExpectError(Errors::kClsMemory, Basic::kMemInvalidSize,
              [&] { SndConvert(s, d, Pcm(48000, 2, 16)); });
  EXPECT_EQ(nullptr, d.data);
  SndFree(s);
}

TEST(SndErrors, UnknownCompressedSourceHasNoPcmProposal) {
  const WaveFormatEx odd = TestSound::Unknown();
  WaveConvRec ctx;
  ExpectError(Errors::kClsAudio, 3, [&] { WaveConvertInit(ctx, odd, Pcm(8000, 1, 16)); });
  EXPECT_EQ(nullptr, ctx.stream);
}

TEST(SndErrors, EqualFormatsIntoTooSmallBuffer) {
  WaveConvRec ctx;
  const WaveFormatEx f = Pcm(8000, 1, 8);
  uint8_t src[8] = {1, 2, 3, 4, 5, 6, 7, 8}, dst[4] = {};
  int32_t written = -1;
  ExpectError(Errors::kClsAudio, 3, [&] { WaveConvert(ctx, src, dst, f, f, written, 4, 8); });
  WaveConvert(ctx, src, dst, f, f, written, 4, 0);  // nothing to do
  EXPECT_EQ(0, written);
}

TEST(SndErrors, NothingLeaksWhenAConversionFails) {
  const int32_t before = Basic::MemMark();
  SndRec s = Sine(100, 8000, 100, 100), d;
  const int32_t withSource = Basic::MemMark();
  WaveFormatEx odd = Pcm(8000, 1, 16);
  odd.formatTag = 0x7777;
  odd.blockAlign = 2;
  EXPECT_THROW(SndConvert(s, d, odd), Errors::EMon);
  EXPECT_EQ(withSource, Basic::MemMark());
  SndFree(s);
  EXPECT_EQ(before, Basic::MemMark());
}
