// The WAVE reader and writer: the fixed header, foreign chunks, damaged
// headers, sample-exact seeks, and files exchanged with sox and ffmpeg.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "formats/ConForm.h"
#include "formats/FF_WAV.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "media/SndBasic.h"
#include "platform/MediaTools.h"
#include "formats/SoundTestUtil.h"
#include "support/TestUtil.h"

using namespace FF_WAV;
using Bytes = std::vector<uint8_t>;
namespace MT = MediaTools;
using soundtest::Q;
using soundtest::Try;

namespace {

void Put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
void PutId(Bytes& b, const char* id) {
  for (int i = 0; i < 4; i++) b.push_back(static_cast<uint8_t>(id[i]));
}
void Chunk(Bytes& b, const char* id, const Bytes& body) {
  PutId(b, id);
  Put32(b, static_cast<uint32_t>(body.size()));
  b.insert(b.end(), body.begin(), body.end());
  if (body.size() & 1) b.push_back(0);
}
Bytes Riff(const Bytes& chunks) {
  Bytes b;
  PutId(b, "RIFF");
  Put32(b, static_cast<uint32_t>(chunks.size() + 4));
  PutId(b, "WAVE");
  b.insert(b.end(), chunks.begin(), chunks.end());
  return b;
}
// A "fmt " body of 16 bytes (no extra-size field).
Bytes Fmt16(uint16_t tag, uint16_t ch, uint32_t rate, uint16_t align, uint16_t bits) {
  Bytes f;
  Put16(f, tag);
  Put16(f, ch);
  Put32(f, rate);
  Put32(f, rate * align);
  Put16(f, align);
  Put16(f, bits);
  return f;
}
// 16-bit stereo ramp: left = frame, right = -frame.
Bytes Ramp(int32_t frames) {
  Bytes d;
  for (int32_t i = 0; i < frames; i++) {
    Put16(d, static_cast<uint16_t>(i));
    Put16(d, static_cast<uint16_t>(-i));
  }
  return d;
}

// Everything the reader delivers, from sample 0, in loads of step frames.
Bytes ReadAll(const std::string& name, SndBasic::WaveFormatEx* format = nullptr,
              int32_t step = 3000) {
  WavFileRec wav;
  Bytes out;
  SndBasic::SndRec s;
  try {
    WAVOpen(&wav, name);
    int32_t pos = 0;
    for (;;) {
      WAVLoad(&wav, &s, pos, 1, step);
      if (s.frames == 0) break;
      out.insert(out.end(), s.data, s.data + int64_t{s.frames} * s.format.blockAlign);
      pos += s.frames;
    }
    if (format) *format = s.format;
  } catch (const Errors::EMon&) {
  }
  SndBasic::SndFree(s);
  const bool failed = !Errors::ErrNone();
  const int32_t cls = Errors::ErrClass(), code = Errors::ErrCode();
  Try([&] { WAVClose(&wav); });
  if (failed) Errors::ErrSet(cls, code, __LINE__);  // keep the first failure
  return out;
}

void WriteWav(const std::string& name, const SndBasic::WaveFormatEx& f, const Bytes& data,
              int32_t blockFrames = 1000) {
  WavFileRec wav;
  WAVCreate(&wav, name);
  const int32_t frames = static_cast<int32_t>(data.size() / f.blockAlign);
  for (int32_t at = 0; at < frames; at += blockFrames) {
    SndBasic::SndRec s;
    const int32_t n = std::min(blockFrames, frames - at);
    SndBasic::_sndalloc_(s, int64_t{n} * f.blockAlign, __LINE__, "test.wav");
    std::memcpy(s.data, data.data() + int64_t{at} * f.blockAlign, size_t(n) * f.blockAlign);
    s.frames = n;
    s.format = f;
    WAVSave(&wav, &s);
    SndBasic::SndFree(s);
  }
  WAVClose(&wav);
}

SndBasic::WaveFormatEx Pcm(int rate, int ch, int bits, uint16_t tag = 1) {
  SndBasic::WaveFormatEx f;
  f.formatTag = tag;
  f.channels = static_cast<uint16_t>(ch);
  f.samplesPerSec = static_cast<uint32_t>(rate);
  f.bitsPerSample = static_cast<uint16_t>(bits);
  f.blockAlign = static_cast<uint16_t>(ch * bits / 8);
  f.avgBytesPerSec = f.blockAlign * f.samplesPerSec;
  return f;
}

// A 2-second 440 Hz sine (-0.5 of full scale), 16-bit raw at rate and ch.
std::string SineRaw(const TestUtil::TempDir& dir, int rate, int ch) {
  const std::string raw = dir.File("sine" + std::to_string(rate) + "_" + std::to_string(ch) + ".raw");
  MT::Run("ffmpeg -nostdin -y -f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(rate) +
          ":duration=2 -ac " + std::to_string(ch) + " -f s16le " + Q(raw));
  return raw;
}

TEST(Wav, EmptyFileGetsTheWhole46ByteHeader) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("empty.wav");
  WavFileRec wav;
  WAVCreate(&wav, name);
  WAVClose(&wav);
  ASSERT_TRUE(Errors::ErrNone());
  Bytes want;
  PutId(want, "RIFF");
  Put32(want, 38);
  PutId(want, "WAVE");
  PutId(want, "fmt ");
  Put32(want, 18);
  want.resize(want.size() + 18, 0);
  PutId(want, "data");
  Put32(want, 0);
  EXPECT_EQ(MT::ReadBytes(name), want);
}

TEST(Wav, WrittenHeaderHoldsTheFormatWithoutExtraBytes) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("a.wav");
  SndBasic::WaveFormatEx f = Pcm(8000, 1, 8);
  f.extraSize = 22;  // carried by the block, but the chunk has no room for it
  WriteWav(name, f, Bytes{1, 2, 3}, 2);
  const Bytes b = MT::ReadBytes(name);
  ASSERT_EQ(b.size(), 46u + 3 + 1);  // odd data gets its pad byte
  EXPECT_EQ(b[4] | b[5] << 8, 38 + 4);
  EXPECT_EQ(b[20], 1);                  // tag
  EXPECT_EQ(b[24] | b[25] << 8, 8000);  // rate
  EXPECT_EQ(b[34], 8);                  // bits
  EXPECT_EQ(b[36] | b[37] << 8, 0);     // extra size
  EXPECT_EQ(b[42], 3);                  // data size
  EXPECT_EQ(Bytes(b.begin() + 46, b.begin() + 49), (Bytes{1, 2, 3}));
}

TEST(Wav, ForeignChunksAnd16ByteFormatChunk) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("chunks.wav");
  Bytes body;
  Chunk(body, "LIST", Bytes{'I', 'N', 'F', 'O', 'x'});  // odd size: pad byte follows
  Chunk(body, "fmt ", Fmt16(1, 2, 8000, 4, 16));
  Chunk(body, "junk", Bytes(7, 0xEE));
  Chunk(body, "data", Ramp(500));
  Chunk(body, "smpl", Bytes(40, 0x55));  // must never be read as samples
  MT::WriteBytes(name, Riff(body));
  SndBasic::WaveFormatEx f;
  const Bytes got = ReadAll(name, &f, 64);
  ASSERT_TRUE(Errors::ErrNone()) << Errors::ErrLastText();
  EXPECT_EQ(got, Ramp(500));
  EXPECT_EQ(f.extraSize, 0);
  EXPECT_EQ(f.blockAlign, 4);
  ConForm::FFInfoRec info;
  ConForm::FFInfo(name, Basic::K_AUTO, &info, nullptr, nullptr);
  ASSERT_TRUE(Errors::ErrNone());
  EXPECT_EQ(info.format, 12);
  EXPECT_EQ(info.filter, "WAV, Windows Wave Sound");
  EXPECT_TRUE(info.sound.hasSound);
  EXPECT_TRUE(info.sound.soundReadable);
  EXPECT_EQ(info.sound.sampleFrames, 500);
  EXPECT_EQ(info.sound.audioCompression, "(#1) PCM, uncompressed");
  EXPECT_EQ(AudioTagName(0x0161), "(#353) Windows Media Audio V2");
  EXPECT_EQ(AudioTagName(0xFFFE), "(#65534) Extensible");
  EXPECT_EQ(AudioTagName(0xFFFF), "(#65535) Unknown codec");
  EXPECT_EQ(info.sound.wave.samplesPerSec, 8000u);
  EXPECT_EQ(info.picture.hasPictures, false);
  // Extensible headers read as their sub-format: IEEE float comes as 16 bits
  // rounded and clipped, A-law as its 16-bit steps.
  auto extensible = [](uint16_t sub, uint16_t bytes) {
    Bytes e = Fmt16(0xFFFE, 1, 8000, bytes, static_cast<uint16_t>(bytes * 8));
    Put16(e, 22);
    Put16(e, bytes * 8u);
    Put32(e, 4);
    Put16(e, sub);
    const uint8_t guid[14] = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    e.insert(e.end(), guid, guid + 14);
    return e;
  };
  auto s16 = [](std::initializer_list<int> v) {
    Bytes b;
    for (int x : v) Put16(b, static_cast<uint16_t>(x));
    return b;
  };
  Bytes floats;
  for (float v : {0.5f, -0.25f, 1.0f, -1.0f, 0.1f, 2.0f, -3e-5f}) {
    uint32_t u;
    std::memcpy(&u, &v, 4);
    Put32(floats, u);
  }
  body.clear();
  Chunk(body, "fmt ", extensible(3, 4));
  Chunk(body, "data", floats);
  MT::WriteBytes(name, Riff(body));
  EXPECT_EQ(ReadAll(name, &f), s16({16384, -8192, 32767, -32768, 3277, 32767, -1}));
  EXPECT_EQ(f.bitsPerSample, 16);
  body.clear();
  Chunk(body, "fmt ", extensible(6, 1));
  Chunk(body, "data", Bytes{0xD5, 0x55, 0xAA, 0x2A, 0xC4});
  MT::WriteBytes(name, Riff(body));
  EXPECT_EQ(ReadAll(name), s16({8, -8, 32256, -32256, 280}));
  EXPECT_TRUE(Errors::ErrNone()) << Errors::ErrLastText();
}

TEST(Wav, DamagedFormatChunks) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("bad.wav");
  // PCM without a block alignment: the alignment its channels and bits give.
  Bytes body;
  Chunk(body, "fmt ", Fmt16(1, 2, 8000, 0, 16));
  Chunk(body, "data", Ramp(10));
  MT::WriteBytes(name, Riff(body));
  EXPECT_EQ(ReadAll(name), Ramp(10));
  EXPECT_TRUE(Errors::ErrNone());
  // A compressed format without one cannot be read at all.
  body.clear();
  Chunk(body, "fmt ", Fmt16(0x11, 1, 8000, 0, 4));
  Chunk(body, "data", Bytes(256, 0));
  MT::WriteBytes(name, Riff(body));
  WavFileRec wav;
  EXPECT_THROW(WAVOpen(&wav, name), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 13);
  EXPECT_EQ(Errors::ErrCode(), 1);
  EXPECT_EQ(wav.file, nullptr);
  // A format chunk too short for the header.
  body.clear();
  Bytes f = Fmt16(1, 1, 8000, 2, 16);
  f.resize(12);
  Chunk(body, "fmt ", f);
  Chunk(body, "data", Bytes(4, 0));
  MT::WriteBytes(name, Riff(body));
  EXPECT_THROW(WAVOpen(&wav, name), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 13);
  // Not a WAVE file; no data chunk.
  MT::WriteBytes(name, Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '});
  EXPECT_THROW(WAVOpen(&wav, name), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 13);
  body.clear();
  Chunk(body, "fmt ", Fmt16(1, 1, 8000, 2, 16));
  MT::WriteBytes(name, Riff(body));
  EXPECT_THROW(WAVOpen(&wav, name), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 13);
  EXPECT_EQ(Errors::ErrCode(), 1);
}

TEST(Wav, SeeksAreSampleExactAndClamped) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("ramp.wav");
  WriteWav(name, Pcm(8000, 2, 16), Ramp(20000), 777);
  WavFileRec wav;
  WAVOpen(&wav, name);
  ASSERT_TRUE(Errors::ErrNone());
  SndBasic::SndRec s;
  for (int32_t start : {0, 1, 12345, 8000, 19999, 7}) {
    WAVLoad(&wav, &s, start, 0, 5);
    ASSERT_EQ(s.frames, std::min(5, 20000 - start));
    EXPECT_EQ(s.data[0] | s.data[1] << 8, start & 0xFFFF) << start;
  }
  // Beyond the end: the last sample, nothing invented past it.
  WAVLoad(&wav, &s, 50000, 0, 5);
  EXPECT_EQ(s.frames, 1);
  EXPECT_EQ(s.data[0] | s.data[1] << 8, 19999 & 0xFFFF);
  SndBasic::SndFree(s);
  WAVClose(&wav);

  // No data at all: a seek stays at the data, a load delivers nothing.
  Bytes body;
  Chunk(body, "fmt ", Fmt16(1, 2, 8000, 4, 16));
  Chunk(body, "data", Bytes());
  Chunk(body, "tail", Bytes(8, 0x77));
  MT::WriteBytes(name, Riff(body));
  WAVOpen(&wav, name);
  WAVSeek(&wav, 100);
  EXPECT_EQ(MmIo::mmioSeek(wav.file, 0, SEEK_CUR), int64_t{wav.data.dwDataOffset});
  WAVLoad(&wav, &s, 0, 0, 10);
  EXPECT_EQ(s.frames, 0);
  EXPECT_TRUE(Errors::ErrNone());
  WAVClose(&wav);
}

TEST(Wav, CompressedSeeksLandOnTheSample) {
  NEED_TOOL("ffmpeg");
  TestUtil::TempDir dir;
  const std::string name = dir.File("ima.wav");
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -f s16le -ar 8000 -ac 1 -i " + Q(SineRaw(dir, 8000, 1)) +
                      " -c:a adpcm_ima_wav " + Q(name)));
  const Bytes all = ReadAll(name);
  ASSERT_GT(all.size(), 20000u);
  WavFileRec wav;
  WAVOpen(&wav, name);
  SndBasic::SndRec s;
  for (int32_t start : {0, 300, 1017, 5000, 9999}) {
    WAVLoad(&wav, &s, start, 0, 64);
    ASSERT_EQ(s.frames, 64);
    EXPECT_EQ(Bytes(s.data, s.data + 128), Bytes(all.begin() + start * 2, all.begin() + start * 2 + 128))
        << start;
  }
  SndBasic::SndFree(s);
  WAVClose(&wav);
}

TEST(Wav, DataBeyondTheRiffLimitIsRefused) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("big.wav");
  WavFileRec wav;
  WAVCreate(&wav, name);
  SndBasic::SndRec s;
  SndBasic::_sndalloc_(s, 4, __LINE__, "test.wav");
  s.frames = 2;
  s.format = Pcm(8000, 1, 16);
  WAVSave(&wav, &s);
  ASSERT_TRUE(Errors::ErrNone());
  // Samples of another format would be read back as the first block's.
  s.format = Pcm(8000, 2, 16);
  s.frames = 1;
  EXPECT_THROW(WAVSave(&wav, &s), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 13);
  EXPECT_EQ(Errors::ErrCode(), 4);
  EXPECT_EQ(wav.bytesWritten, 4);
  Errors::ErrClear();
  s.format = Pcm(8000, 1, 16);
  s.frames = 2;
  wav.bytesWritten = kMaxDataBytes - 2;  // as if nearly 4 GiB were written
  EXPECT_THROW(WAVSave(&wav, &s), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 13);
  EXPECT_EQ(Errors::ErrCode(), 4);
  SndBasic::SndFree(s);
  wav.bytesWritten = 4;
  WAVClose(&wav);

  // A data chunk of more sample frames than the counts hold (a sparse file).
  Bytes body;
  Chunk(body, "fmt ", Fmt16(1, 1, 8000, 1, 8));
  PutId(body, "data");
  Put32(body, 0x90000000u);
  Bytes head = Riff(body);
  const uint32_t riffSize = 0x90000000u + 4 + 24 + 8;
  head[4] = uint8_t(riffSize);
  head[5] = uint8_t(riffSize >> 8);
  head[6] = uint8_t(riffSize >> 16);
  head[7] = uint8_t(riffSize >> 24);
  MT::WriteBytes(name, head);
  ASSERT_EQ(::truncate(name.c_str(), off_t{8} + riffSize), 0);
  EXPECT_THROW(WAVOpen(&wav, name), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 13);
  EXPECT_EQ(Errors::ErrCode(), 1);
}

// Files the peers write in each encoding, read by us and compared with the
// peer's own decoding to the format we deliver.
struct PeerCase {
  const char* codec;
  int channels;
  int tolerance;  // per sample, in the delivered format's units
  int rate = 11025;
  bool exactTotal = true;  // frame coders' totals are the conversion layer's estimate
};

TEST(WavPeer, FfmpegWritesWeRead) {
  NEED_TOOL("ffmpeg");
  TestUtil::TempDir dir;
  const PeerCase cases[] = {
      {"pcm_u8", 1, 0},       {"pcm_s16le", 2, 0},     {"pcm_s24le", 1, 0},
      {"pcm_s32le", 2, 0},    {"pcm_f32le", 2, 1},     {"adpcm_ima_wav", 2, 0},
      {"adpcm_ms", 1, 0},     {"pcm_alaw", 1, 0},      {"pcm_mulaw", 2, 0},
      {"pcm_f64le", 1, 1},    {"adpcm_yamaha", 2, 0},  {"libgsm_ms", 1, 0, 8000},
      {"g726", 1, 0, 8000},   {"mp2", 2, 1, 22050, false},
      {"wmav1", 1, 1, 11025, false},                   {"wmav2", 2, 1, 11025, false},
  };
  for (const PeerCase& c : cases) {
    SCOPED_TRACE(c.codec);
    const std::string name = dir.File(std::string(c.codec) + ".wav");
    const std::string rate = std::to_string(c.rate);
    ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -f s16le -ar " + rate + " -ac " + std::to_string(c.channels) +
                        " -i " + Q(SineRaw(dir, c.rate, c.channels)) + " -c:a " + c.codec + " " +
                        Q(name)));
    // ffmpeg tags G.726 as 0x45; the reader takes the registered 0x64, which ffmpeg reads too.
    if (std::string(c.codec) == "g726")
      ASSERT_TRUE(MT::Run("printf d | dd of=" + Q(name) + " bs=1 seek=20 conv=notrunc"));
    SndBasic::WaveFormatEx f;
    const Bytes ours = ReadAll(name, &f);
    ASSERT_TRUE(Errors::ErrNone()) << Errors::ErrLastText();
    ASSERT_EQ(f.formatTag, 1);
    EXPECT_EQ(f.channels, c.channels);
    EXPECT_EQ(f.samplesPerSec, static_cast<uint32_t>(c.rate));
    const char* raw = f.bitsPerSample == 8 ? "u8" : f.bitsPerSample == 16 ? "s16le"
                      : f.bitsPerSample == 24 ? "s24le" : "s32le";
    const std::string peer = dir.File("peer.raw");
    ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -i " + Q(name) + " -f " + raw + " -c:a pcm_" + raw + " " + Q(peer)));
    const Bytes theirs = MT::ReadBytes(peer);
    ASSERT_EQ(ours.size(), theirs.size());
    if (c.tolerance == 0) {
      EXPECT_TRUE(ours == theirs);
    } else {
      int worst = 0;
      for (size_t i = 0; i + 1 < ours.size(); i += 2)
        worst = std::max(worst, std::abs(int16_t(ours[i] | ours[i + 1] << 8) -
                                         int16_t(theirs[i] | theirs[i + 1] << 8)));
      EXPECT_LE(worst, c.tolerance);
    }
    ConForm::FFInfoRec info;
    WAVInfo(name, &info);
    if (c.exactTotal)
      EXPECT_EQ(info.sound.sampleFrames * f.blockAlign, static_cast<int64_t>(theirs.size()));
  }
}

TEST(WavPeer, SoxWritesWeRead) {
  NEED_TOOL("sox");
  TestUtil::TempDir dir;
  // sox writes the extensible header for more than 16 bits or 2 channels.
  const struct {
    const char* args;
    int bits;
    uint16_t fileTag;
  } cases[] = {{"-b 24 -e signed-integer", 24, 0xFFFE},
               {"-b 32 -e floating-point", 16, 3},
               {"-c 3 -b 16 -e signed-integer", 16, 0xFFFE},
               {"-b 16 -e signed-integer", 16, 1},
               {"-b 8 -e u-law", 16, 7},
               {"-b 4 -e ms-adpcm", 16, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const std::string name = dir.File("sox.wav");
    ASSERT_TRUE(MT::Run(std::string("sox -n -r 8000 -c 2 ") + c.args + " " + Q(name) +
                        " synth 1 sine 300 vol 0.5"));
    SndBasic::WaveFormatEx f;
    const Bytes ours = ReadAll(name, &f);
    ASSERT_TRUE(Errors::ErrNone()) << Errors::ErrLastText();
    EXPECT_EQ(f.bitsPerSample, c.bits);
    EXPECT_EQ(f.channels, std::string(c.args).find("-c 3") == 0 ? 3 : 2);
    ConForm::FFInfoRec info;
    WAVInfo(name, &info);
    EXPECT_EQ(info.sound.ownWave.formatTag, c.fileTag);
    // sox's own count of the samples, and its decoding where it is exact.
    const int64_t count = std::atoll(MT::Capture("sox --i -s " + Q(name)).c_str());
    EXPECT_EQ(static_cast<int64_t>(ours.size() / f.blockAlign), count);
    if (c.bits == 24 || c.fileTag == 1) {
      const std::string raw = dir.File("sox.raw");
      ASSERT_TRUE(MT::Run("sox " + Q(name) + " -t raw " + Q(raw)));
      EXPECT_TRUE(MT::ReadBytes(raw) == ours);
    }
  }
}

TEST(WavPeer, Mp3InWaveIsRead) {
  NEED_TOOL("ffmpeg");
  TestUtil::TempDir dir;
  const std::string name = dir.File("mp3.wav");
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -f s16le -ar 22050 -ac 1 -i " + Q(SineRaw(dir, 22050, 1)) +
                      " -c:a libmp3lame -b:a 64k -f wav " + Q(name)));
  SndBasic::WaveFormatEx f;
  const Bytes ours = ReadAll(name, &f);
  ASSERT_TRUE(Errors::ErrNone()) << Errors::ErrLastText();
  EXPECT_EQ(f.bitsPerSample, 16);
  EXPECT_EQ(f.samplesPerSec, 22050u);
  // Two seconds, give or take the coder's delay and padding frames.
  EXPECT_NEAR(double(ours.size()) / 2, 44100.0, 2400.0);
  std::vector<int16_t> pcm(ours.size() / 2);
  std::memcpy(pcm.data(), ours.data(), pcm.size() * 2);
  EXPECT_NEAR(MT::ZeroCrossingFrequency(pcm, 1, 22050), 440.0, 3.0);
  // The samples themselves are ffmpeg's decoding of the file, as are those
  // of Layer I frames under tag 0x50: hand-made, mono, 44100 Hz, 128 kbit/s,
  // four-bit samples in the lowest subband only.
  auto peerMatches = [&](const std::string& file, const Bytes& got) {
    const std::string raw = dir.File("peer.raw");
    ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -i " + Q(file) + " -f s16le " + Q(raw)));
    const Bytes theirs = MT::ReadBytes(raw);
    ASSERT_EQ(got.size(), theirs.size());
    int worst = 0, loudest = 0;
    for (size_t i = 0; i + 1 < got.size(); i += 2) {
      const int v = int16_t(got[i] | got[i + 1] << 8);
      worst = std::max(worst, std::abs(v - int16_t(theirs[i] | theirs[i + 1] << 8)));
      loudest = std::max(loudest, std::abs(v));
    }
    EXPECT_LE(worst, 1) << file;
    EXPECT_GT(loudest, 1000) << file;
  };
  peerMatches(name, ours);
  Bytes frame(136, 0);
  const uint8_t bits[] = {0xFF, 0xFF, 0x40, 0xC0, 0x30};
  const uint8_t samples[] = {0x28, 0x7C, 0xF1, 0xE4, 0x39, 0x68, 0xB4};
  std::copy(std::begin(bits), std::end(bits), frame.begin());
  std::copy(std::begin(samples), std::end(samples), frame.begin() + 20);
  Bytes fmt, data, body;
  for (uint32_t v : {0x50u, 1u}) Put16(fmt, v);
  for (uint32_t v : {44100u, 16000u}) Put32(fmt, v);
  for (uint32_t v : {136u, 0u, 0u}) Put16(fmt, v);
  for (int i = 0; i < 12; i++) data.insert(data.end(), frame.begin(), frame.end());
  Chunk(body, "fmt ", fmt);
  Chunk(body, "data", data);
  const std::string one = dir.File("layer1.wav");
  MT::WriteBytes(one, Riff(body));
  const Bytes layerOne = ReadAll(one, &f);
  ASSERT_TRUE(Errors::ErrNone()) << Errors::ErrLastText();
  EXPECT_EQ(f.samplesPerSec, 44100u);
  peerMatches(one, layerOne);
}

TEST(WavPeer, WeWritePeersRead) {
  NEED_TOOL("ffmpeg");
  NEED_TOOL("sox");
  TestUtil::TempDir dir;
  const struct {
    int bits, ch;
    uint16_t tag;
    const char* raw;  // ffmpeg's name of the raw sample format
  } cases[] = {{8, 1, 1, "u8"},      {16, 2, 1, "s16le"}, {24, 2, 1, "s24le"},
               {32, 1, 1, "s32le"},  {32, 2, 3, "f32le"}, {8, 1, 6, "alaw"},
               {8, 2, 7, "mulaw"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.raw);
    // The peer makes the samples in that format; we wrap them in our file.
    const std::string raw = dir.File("in.raw");
    ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -f s16le -ar 8000 -ac " + std::to_string(c.ch) + " -i " +
                        Q(SineRaw(dir, 8000, c.ch)) + " -f " + c.raw + " " + Q(raw)));
    const Bytes samples = MT::ReadBytes(raw);
    const std::string name = dir.File("ours.wav");
    WriteWav(name, Pcm(8000, c.ch, c.bits, c.tag), samples, 999);
    ASSERT_TRUE(Errors::ErrNone()) << Errors::ErrLastText();
    EXPECT_EQ(MT::ReadBytes(name).size(), 46 + samples.size() + (samples.size() & 1));
    const std::string back = dir.File("back.raw");
    ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -i " + Q(name) + " -f " + c.raw + " " + Q(back)));
    EXPECT_TRUE(MT::ReadBytes(back) == samples);
    EXPECT_EQ(std::atoll(MT::Capture("sox --i -s " + Q(name)).c_str()),
              static_cast<int64_t>(samples.size() / (c.ch * c.bits / 8)));
    EXPECT_EQ(MT::Capture("sox --i -c " + Q(name)), std::to_string(c.ch));
  }
}

// A recording cut short (inside a sample frame) and files written to a pipe
// by ffmpeg and sox (sizes never filled in): the sample frames the file
// holds, as ffmpeg decodes them; a cut file is reported with a warning.
TEST(WavPeer, CutAndPipedFilesGiveWhatTheyHold) {
  NEED_TOOL("ffmpeg");
  NEED_TOOL("sox");
  TestUtil::TempDir dir;
  const std::string whole = dir.File("whole.wav"), cut = dir.File("cut.wav");
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -f lavfi -i sine=frequency=440:sample_rate=22050:duration=1 "
                      "-ac 2 -c:a pcm_s24le " + Q(whole)));
  Bytes b = MT::ReadBytes(whole);
  b.resize(b.size() / 2 + 1);
  MT::WriteBytes(cut, b);
  const std::string piped = dir.File("piped.wav"), soxPiped = dir.File("soxpiped.wav");
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -f lavfi -i sine=frequency=440:sample_rate=22050:duration=1 "
                      "-f wav - | cat > " + Q(piped)));
  ASSERT_TRUE(MT::Run("sox -n -b 16 -t wav - synth 0.7 sine 300 | cat > " + Q(soxPiped)));
  for (const std::string& name : {cut, piped, soxPiped}) {
    const std::string raw = dir.File("peer.raw");
    // ffmpeg reports the broken last frame of the cut file, and decodes the rest.
    MT::Run("ffmpeg -nostdin -y -i " + Q(name) + " -f s24le " + Q(raw));
    const Bytes theirs24 = MT::ReadBytes(raw);
    WavFileRec wav;
    WAVOpen(&wav, name);
    EXPECT_EQ(Errors::WarnClass(), Errors::kClsWav) << name;
    EXPECT_EQ(Errors::WarnCode(), 3) << name;
    const SndBasic::WaveFormatEx f = wav.load.dstFormat;
    const int64_t frames = int64_t(theirs24.size()) / (3 * f.channels);
    EXPECT_EQ(wav.load.pcmTotal, frames) << name;
    WAVClose(&wav);
    ConForm::FFInfoRec info;
    WAVInfo(name, &info);
    EXPECT_EQ(info.sound.sampleFrames, frames) << name;
    EXPECT_EQ(Errors::WarnCode(), 3) << name;
    // The same samples: ours at the file's width, theirs widened to 24 bits.
    const Bytes ours = ReadAll(name);
    const size_t width = f.bitsPerSample / 8;
    ASSERT_EQ(ours.size(), size_t(frames) * f.channels * width) << name;
    for (size_t i = 0; i < ours.size() / width; i++)
      ASSERT_EQ(0, std::memcmp(&ours[i * width], &theirs24[i * 3 + 3 - width], width))
          << name << " sample " << i;
  }
}

TEST(WavRobust, TruncatedAndBitFlippedFiles) {
  NEED_TOOL("ffmpeg");
  TestUtil::TempDir dir;
  for (const char* codec : {"pcm_s16le", "adpcm_ms", "adpcm_ima_wav"}) {
    const std::string good = dir.File(std::string(codec) + ".wav");
    ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -f s16le -ar 8000 -ac 2 -t 0.3 -i " + Q(SineRaw(dir, 8000, 2)) +
                        " -c:a " + codec + " " + Q(good)));
    const Bytes whole = MT::ReadBytes(good);
    const std::string bad = dir.File("bad.wav");
    auto exercise = [&](const Bytes& b) {
      MT::WriteBytes(bad, b);
      ReadAll(bad, nullptr, 500);
      ConForm::FFInfoRec info;
      Try([&] { WAVInfo(bad, &info); });
      WavFileRec wav;
      SndBasic::SndRec s;
      Try([&] {
        WAVOpen(&wav, bad);
        WAVLoad(&wav, &s, 1234, 0, 700);
      });
      SndBasic::SndFree(s);
      Try([&] { WAVClose(&wav); });
      EXPECT_EQ(wav.file, nullptr);
      Errors::ErrClear();
    };
    for (size_t cut : {size_t(0), size_t(11), size_t(30), size_t(45), size_t(60), size_t(101),
                       whole.size() / 2, whole.size() - 1})
      exercise(Bytes(whole.begin(), whole.begin() + std::min(cut, whole.size())));
    uint32_t seed = 12345;
    for (int round = 0; round < 60; round++) {
      Bytes b = whole;
      for (int k = 0; k < 3; k++) {
        seed = seed * 1103515245u + 12345u;
        const size_t at = (seed >> 8) % std::min<size_t>(b.size(), 120);
        b[at] ^= static_cast<uint8_t>(1u << ((seed >> 4) & 7));
      }
      exercise(b);
    }
  }
  EXPECT_EQ(Errors::MonDepth(), 0);
}

}  // namespace

namespace {

// An ADPCM sound made by our own conversion layer, written by us, decoded by
// ffmpeg: the 18-byte header is all the decoder needs for IMA ADPCM.
TEST(WavPeer, WeWriteImaAdpcm) {
  NEED_TOOL("ffmpeg");
  TestUtil::TempDir dir;
  SndBasic::SndRec pcm, ima;
  const int32_t n = 16000;
  SndBasic::_sndalloc_(pcm, n * 2, __LINE__, "test.wav");
  int16_t* p = reinterpret_cast<int16_t*>(pcm.data);
  for (int32_t i = 0; i < n; i++) p[i] = int16_t(10000 * std::sin(2 * M_PI * 500.0 * i / 8000));
  pcm.frames = n;
  pcm.format = Pcm(8000, 1, 16);
  uint8_t src[18], dst[64] = {};
  Acm::WaveFormatWrite(pcm.format, src);
  SndBasic::WaveFormatEx want;
  want.formatTag = Acm::kTagImaAdpcm;
  Acm::WaveFormatWrite(want, dst);
  ASSERT_EQ(Acm::acmFormatSuggest(nullptr, src, 18, dst, sizeof dst, Acm::kSuggestTag), 0u);
  SndBasic::WaveFormatEx imaFormat;
  Acm::WaveFormatRead(dst, sizeof dst, imaFormat);
  SndBasic::SndConvert(pcm, ima, imaFormat);
  ASSERT_GT(ima.frames, 0);
  const std::string name = dir.File("ima.wav");
  WavFileRec wav;
  WAVCreate(&wav, name);
  WAVSave(&wav, &ima);
  WAVClose(&wav);
  ASSERT_TRUE(Errors::ErrNone()) << Errors::ErrLastText();
  EXPECT_EQ(MT::Probe(name, "a:0", "codec_name"), "adpcm_ima_wav");
  const std::string raw = dir.File("ima.raw");
  ASSERT_TRUE(MT::Run("ffmpeg -nostdin -y -i " + Q(name) + " -f s16le " + Q(raw)));
  const std::vector<int16_t> back = MT::ReadS16(raw);
  EXPECT_NEAR(double(back.size()), n, imaFormat.blockAlign * 2.0);
  EXPECT_NEAR(MT::ZeroCrossingFrequency(back, 1, 8000), 500.0, 2.0);
  // And our own reader agrees with the peer.
  const Bytes ours = ReadAll(name);
  EXPECT_EQ(ours.size(), back.size() * 2);
  SndBasic::SndFree(pcm);
  SndBasic::SndFree(ima);
}

}  // namespace
