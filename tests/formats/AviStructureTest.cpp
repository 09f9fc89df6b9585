// The AVI files the writer makes, read byte by byte by a RIFF walker of the
// test's own rather than by the library's reader: what players trust in
// them is the stream headers' rates against the stream formats, the index
// entries against the chunks of the movie list, and the stream lengths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "formats/FF_AVI.h"
#include "formats/FormatTestUtil.h"
#include "formats/SoundTestUtil.h"
#include "platform/AcmLayer.h"
#include "platform/MediaTools.h"
#include "qor.h"

using fmttest::Bytes;
using fmttest::Path;

namespace {

constexpr uint32_t kKeyFrame = 0x10;  // the index's key-frame flag

uint32_t U32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}
uint16_t U16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
std::string Code(const Bytes& b, size_t at) {
  return std::string(reinterpret_cast<const char*>(&b[at]), 4);
}

struct Chunk {
  std::string id;
  size_t at = 0;  // where its four-character code starts
  uint32_t size = 0;
};

struct StreamHeaders {
  std::string type, handler;
  uint32_t scale = 0, rate = 0, start = 1, length = 0, sampleSize = 0;
  size_t format = 0;  // where the stream format's data starts
};

struct IndexEntry {
  std::string id;
  uint32_t flags = 0, offset = 0, size = 0;
};

// What the walk finds in a file.
struct Layout {
  Bytes bytes;
  int riffParts = 0;
  uint32_t firstRiffSize = 0;
  std::vector<StreamHeaders> streams;
  size_t moviCode = 0;             // where the "movi" list type starts
  std::vector<Chunk> movieChunks;  // in file order, "rec " lists opened
  std::vector<IndexEntry> index;
};

// The chunks from begin to end; a chunk running past end stops the walk.
std::vector<Chunk> Chunks(const Bytes& b, size_t begin, size_t end) {
  std::vector<Chunk> out;
  for (size_t at = begin; at + 8 <= end;) {
    const uint32_t size = U32(b, at + 4);
    if (at + 8 + size > end) break;
    out.push_back({Code(b, at), at, size});
    at += 8 + size + (size & 1);
  }
  return out;
}

bool IsList(const Chunk& c, const Bytes& b, const char* type) {
  return c.id == "LIST" && c.size >= 4 && Code(b, c.at + 8) == type;
}

void ReadStreamList(Layout* l, const Chunk& strl) {
  StreamHeaders s;
  for (const Chunk& c : Chunks(l->bytes, strl.at + 12, strl.at + 8 + strl.size)) {
    if (c.id == "strh" && c.size >= 36) {
      const size_t p = c.at + 8;
      s.type = Code(l->bytes, p);
      s.handler = Code(l->bytes, p + 4);
      s.scale = U32(l->bytes, p + 20);
      s.rate = U32(l->bytes, p + 24);
      s.start = U32(l->bytes, p + 28);
      s.length = U32(l->bytes, p + 32);
      s.sampleSize = U32(l->bytes, p + 44);
    } else if (c.id == "strf") {
      s.format = c.at + 8;
    }
  }
  l->streams.push_back(s);
}

void ReadMovieList(Layout* l, const Chunk& movi) {
  l->moviCode = movi.at + 8;
  std::vector<Chunk> pending = Chunks(l->bytes, movi.at + 12, movi.at + 8 + movi.size);
  for (size_t i = 0; i < pending.size(); i++) {
    const Chunk c = pending[i];
    if (IsList(c, l->bytes, "rec ")) {
      const std::vector<Chunk> inner = Chunks(l->bytes, c.at + 12, c.at + 8 + c.size);
      pending.insert(pending.begin() + static_cast<std::ptrdiff_t>(i) + 1, inner.begin(),
                     inner.end());
    } else {
      l->movieChunks.push_back(c);
    }
  }
}

Layout Walk(const std::string& file) {
  Layout l;
  l.bytes = fmttest::ReadFile(file);
  const Bytes& b = l.bytes;
  for (const Chunk& riff : Chunks(b, 0, b.size())) {
    if (riff.id != "RIFF") continue;
    if (++l.riffParts > 1) continue;
    l.firstRiffSize = riff.size;
    for (const Chunk& c : Chunks(b, riff.at + 12, riff.at + 8 + riff.size)) {
      if (IsList(c, b, "hdrl")) {
        for (const Chunk& h : Chunks(b, c.at + 12, c.at + 8 + c.size))
          if (IsList(h, b, "strl")) ReadStreamList(&l, h);
      } else if (IsList(c, b, "movi")) {
        ReadMovieList(&l, c);
      } else if (c.id == "idx1") {
        for (size_t e = c.at + 8; e + 16 <= c.at + 8 + c.size; e += 16)
          l.index.push_back({Code(b, e), U32(b, e + 4), U32(b, e + 8), U32(b, e + 12)});
      }
    }
  }
  return l;
}

// Whether a video chunk's data stands alone. Cinepak marks each strip as
// intra-coded (0x10) or coded over the previous frame (0x11); the other
// codecs used here code every frame by itself.
bool StandsAlone(const StreamHeaders& s, const Bytes& b, const Chunk& c) {
  if (s.handler != "cvid") return true;
  if (c.size < 10) return false;
  const size_t end = c.at + 8 + c.size;
  const size_t strips = static_cast<size_t>(b[c.at + 8 + 8] << 8 | b[c.at + 8 + 9]);
  size_t at = c.at + 8 + 10;
  for (size_t i = 0; i < strips && at + 4 <= end; i++) {
    if (b[at] != 0x10) return false;
    at += static_cast<size_t>(b[at + 2] << 8 | b[at + 3]);
  }
  return true;
}

// What the test planned for a file.
struct Plan {
  double fps = 0;         // the conversion's frame rate (also for sound alone)
  int32_t frames = 0;     // 0: no video stream
  uint16_t soundTag = 0;  // 0: no audio stream
  double soundSeconds = 0;
};

void ExpectHeadersMatchTheFormats(const Layout& l, const Plan& plan) {
  ASSERT_EQ(static_cast<size_t>((plan.frames > 0) + (plan.soundTag != 0)), l.streams.size());
  for (const StreamHeaders& s : l.streams) {
    SCOPED_TRACE(s.type);
    ASSERT_GT(s.format, 0u);
    ASSERT_GT(s.scale, 0u);
    EXPECT_EQ(0u, s.start) << "every stream starts with the movie";
    if (s.type == "vids") {
      EXPECT_NEAR(plan.fps, static_cast<double>(s.rate) / s.scale, plan.fps * 1e-6);
      EXPECT_EQ(static_cast<uint32_t>(plan.frames), s.length);
      continue;
    }
    ASSERT_EQ("auds", s.type);
    const uint16_t tag = U16(l.bytes, s.format);
    const uint32_t bytesPerSecond = U32(l.bytes, s.format + 8);
    const uint16_t blockAlign = U16(l.bytes, s.format + 12);
    EXPECT_EQ(plan.soundTag, tag);
    // Blocks per second, as a player times the sound.
    EXPECT_EQ(uint64_t{bytesPerSecond} * s.scale, uint64_t{s.rate} * blockAlign)
        << "rate " << s.rate << " / scale " << s.scale << " against " << bytesPerSecond
        << " bytes per second in blocks of " << blockAlign;
    EXPECT_EQ(blockAlign, s.sampleSize);
  }
}

// Stream number of a movie chunk id ("01wb"), or -1.
int StreamOf(const std::string& id) {
  auto digit = [&](size_t i) { return std::isdigit(static_cast<unsigned char>(id[i])) != 0; };
  if (id.size() != 4 || !digit(0) || !digit(1)) return -1;
  return (id[0] - '0') * 10 + (id[1] - '0');
}

// Each index entry, counted from the "movi" list type, lands on the movie
// chunk it names, in the order they were written, with the key flag its
// data calls for; the stream lengths count those chunks.
void ExpectIndexLandsOnTheChunks(const Layout& l) {
  ASSERT_GT(l.moviCode, 0u);
  ASSERT_EQ(l.movieChunks.size(), l.index.size());
  std::vector<uint64_t> units(l.streams.size(), 0);
  for (size_t i = 0; i < l.index.size(); i++) {
    const IndexEntry& e = l.index[i];
    const Chunk& c = l.movieChunks[i];
    SCOPED_TRACE("index entry " + std::to_string(i) + " " + e.id);
    ASSERT_EQ(c.at, l.moviCode + e.offset) << "lands beside the chunk written there";
    EXPECT_EQ(c.id, e.id);
    EXPECT_EQ(c.size, e.size);
    const int stream = StreamOf(e.id);
    ASSERT_TRUE(stream >= 0 && stream < static_cast<int>(l.streams.size()));
    const StreamHeaders& s = l.streams[static_cast<size_t>(stream)];
    const bool key = (e.flags & kKeyFrame) != 0;
    if (s.type == "auds") {
      EXPECT_TRUE(key) << "sound is always a key chunk";
      units[static_cast<size_t>(stream)] += e.size / std::max<uint32_t>(s.sampleSize, 1);
    } else {
      EXPECT_EQ(StandsAlone(s, l.bytes, c), key);
      units[static_cast<size_t>(stream)]++;
    }
  }
  for (size_t s = 0; s < l.streams.size(); s++)
    EXPECT_EQ(l.streams[s].length, units[s]) << "length of stream " << s;
}

// ffprobe's duration of a stream; where it gives none (sound beside
// video), its length in the stream's time base, which it takes from the
// same header fields.
double ProbedSeconds(const std::string& file, const char* stream) {
  const std::string duration = MediaTools::Probe(file, stream, "duration");
  if (!duration.empty() && std::isdigit(static_cast<unsigned char>(duration[0])))
    return std::stod(duration);
  const std::string units = MediaTools::Probe(file, stream, "nb_frames");
  const std::string base = MediaTools::Probe(file, stream, "time_base");
  const size_t slash = base.find('/');
  if (units.empty() || !std::isdigit(static_cast<unsigned char>(units[0])) ||
      slash == std::string::npos)
    return -1;
  return std::stod(units) * std::stod(base.substr(0, slash)) / std::stod(base.substr(slash + 1));
}

// ---- the files -------------------------------------------------------------------------

constexpr int32_t kSide = 32;

// Pixel blocks then the end of the stream; the picture moves so that
// Cinepak codes some frames over the previous one.
int32_t g_frames = 0;
void QOR_CALL MovingPictures(QorHandle h, int32_t block) {
  if (block >= g_frames) {
    QorSrcFinished(h);
    return;
  }
  std::vector<uint8_t> bgr(kSide * kSide * 3);
  for (size_t i = 0; i < bgr.size(); i++)
    bgr[i] = static_cast<uint8_t>((i / 3 % kSide) * 6 + (i / 3 / kSide) * 2 + i % 3 * 40 + block);
  QorSrcSetPixels(h, bgr.data(), nullptr, kSide, kSide, 24);
}

// One block of 16-bit mono tone at 22050 Hz.
int32_t g_samples = 0;
void QOR_CALL Tone(QorHandle h, int32_t block) {
  if (block > 0) return;
  std::vector<int16_t> pcm(static_cast<size_t>(g_samples));
  for (size_t i = 0; i < pcm.size(); i++)
    pcm[i] = static_cast<int16_t>(9000 * std::sin(static_cast<double>(i) * 0.07));
  QorSrcSetSamples(h, pcm.data(), g_samples, 22050, 1, 16);
}

// A conversion through the exports: Cinepak with a key frame every 4
// frames, and PCM sound in the given format, interleaved in one file.
void ConvertToAvi(const std::string& file, const Plan& plan, int32_t channels, int32_t bits) {
  g_frames = plan.frames;
  g_samples = static_cast<int32_t>(std::lround(plan.soundSeconds * 22050));
  QorHandle h = QorAlloc();
  const std::string video = plan.frames > 0 ? file : "";
  const std::string audio = plan.soundTag != 0 ? file : "";
  QorSetOutputFile(h, video.c_str(), audio.c_str());
  QorSetFrameRate(h, plan.fps);
  QorSetCodec(h, ConForm::kFmtAVI, QorMakeFourCC("cvid"));
  QorSetKeyFrameRate(h, ConForm::kFmtAVI, 4);
  QorSetAudioFormat(h, 22050, channels, bits);
  if (plan.frames > 0) QorAssignVideoSource(h, MovingPictures);
  if (plan.soundTag != 0) QorAssignAudioSource(h, Tone);
  EXPECT_EQ(0, QorConvert(h));
  QorFree(h);
}

// Compressed sound reaches an AVI only through the writer itself: the tone
// in the conversion layer's ADPCM format for its rate, written in slices
// between the frames of a Motion JPEG stream (or alone).
void WriteAdpcmAvi(const std::string& file, const Plan& plan) {
  SndBasic::SndRec pcm;
  const auto samples = static_cast<int32_t>(std::lround(plan.soundSeconds * 22050));
  SndBasic::SndMakeSilence(pcm, samples, 22050, 16, 1);
  for (int32_t i = 0; i < samples; i++) {
    const auto v = static_cast<uint16_t>(std::lround(9000 * std::sin(i * 0.07)));
    pcm.data[2 * i] = static_cast<uint8_t>(v);
    pcm.data[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
  SndBasic::WaveFormatEx adpcm;
  ASSERT_TRUE(soundtest::SuggestedFormat(pcm.format, plan.soundTag, &adpcm));
  SndBasic::SndRec packed;
  SndBasic::SndConvert(pcm, packed, adpcm);
  FF_AVI::AviCodecRec codec;
  FF_AVI::AviCodecRecByFCC(&codec, static_cast<uint32_t>(QorMakeFourCC("MJPG")));
  FF_AVI::AviSetCurCodec(&codec);
  FF_AVI::AviFileRec h;
  FF_AVI::AviCreate(&h, file, 1, plan.fps);
  const int32_t slices = std::max(plan.frames, 3);
  const int32_t perSlice = (packed.frames + slices - 1) / slices;
  for (int32_t i = 0; i < slices; i++) {
    if (i < plan.frames) {
      ImgBasic::Qimg img;
      fmttest::ToQimg(fmttest::TestPicture(kSide, kSide, 5 + static_cast<uint32_t>(i)), 24, &img);
      FF_AVI::AviImgSave(&h, &img);
      ImgBasic::ImgFree(&img);
    }
    SndBasic::SndRec slice;
    SndBasic::SndMove(packed, slice, i * perSlice, perSlice);
    FF_AVI::AviSndSave(&h, &slice);
    SndBasic::SndFree(slice);
  }
  FF_AVI::AviClose(&h);
  SndBasic::SndFree(packed);
  SndBasic::SndFree(pcm);
}

struct StructureCase {
  const char* name;
  Plan plan;
  int32_t channels, bits;  // of PCM sound made by a conversion
  bool throughTheWriter;   // ADPCM, written by the writer itself
};

void PrintTo(const StructureCase& c, std::ostream* os) { *os << c.name; }

class AviStructure : public ::testing::TestWithParam<StructureCase> {};

TEST_P(AviStructure, HeadersIndexAndDurationsAgreeWithTheBytes) {
  const StructureCase c = GetParam();
  const Plan& plan = c.plan;
  const std::string file = Path(std::string(c.name) + ".avi");
  if (c.throughTheWriter)
    WriteAdpcmAvi(file, plan);
  else
    ConvertToAvi(file, plan, c.channels, c.bits);
  const Layout l = Walk(file);
  // The writer keeps to one RIFF part (it refuses to grow a file past
  // 2 GB), and the part's size is the file's.
  ASSERT_EQ(1, l.riffParts);
  EXPECT_EQ(l.bytes.size(), size_t{l.firstRiffSize} + 8);
  ExpectHeadersMatchTheFormats(l, plan);
  ExpectIndexLandsOnTheChunks(l);

  if (!fmttest::HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe not installed: durations unchecked";
  const double frame = 1.0 / plan.fps;
  if (plan.frames > 0) EXPECT_NEAR(plan.frames / plan.fps, ProbedSeconds(file, "v:0"), frame);
  if (plan.soundTag != 0) EXPECT_NEAR(plan.soundSeconds, ProbedSeconds(file, "a:0"), frame);
}

INSTANTIATE_TEST_SUITE_P(
    Files, AviStructure,
    ::testing::Values(
        StructureCase{"PcmStereoWithVideo", {10.0, 20, Acm::kTagPcm, 2.0}, 2, 16, false},
        StructureCase{"PcmEightBitMonoAlone", {12.5, 0, Acm::kTagPcm, 1.5}, 1, 8, false},
        StructureCase{"VideoAlone", {29.97002997, 12, 0, 0}, 1, 16, false},
        StructureCase{"ImaAdpcmWithVideo", {8.0, 10, Acm::kTagImaAdpcm, 1.2}, 1, 16, true},
        StructureCase{"MsAdpcmAlone", {10.0, 0, Acm::kTagMsAdpcm, 0.9}, 1, 16, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
