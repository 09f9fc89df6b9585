// AVI movies: the codec registry, writing and reading back, files made by
// ffmpeg, random access, sound positions, the INFO texts and damaged files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "formats/FFBasic.h"
#include "formats/FF_AVI.h"
#include "formats/FormatTestUtil.h"
#include "formats/SoundTestUtil.h"
#include "platform/AvSupport.h"
#include "platform/AviFile.h"
#include "platform/MediaTools.h"

using namespace FF_AVI;
using fmttest::Bytes;
using fmttest::Path;
using fmttest::Rgb;

namespace {

uint32_t F(const char* s) {
  return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) |
         (static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24);
}

// A smooth picture that moves with the frame number: lossy codecs keep it.
Rgb Smooth(int32_t w, int32_t h, int32_t frame) {
  Rgb pic;
  pic.width = w;
  pic.height = h;
  for (int32_t y = 0; y < h; y++)
    for (int32_t x = 0; x < w; x++) {
      pic.rgb.push_back(static_cast<uint8_t>((x * 255 / w + frame * 9) & 255));
      pic.rgb.push_back(static_cast<uint8_t>(y * 255 / h));
      pic.rgb.push_back(static_cast<uint8_t>(((x + y) * 128 / (w + h) + 64 + frame * 5) & 255));
    }
  return pic;
}

void UseCodec(const char* fcc, int32_t bits = 24) {
  AviCodecRec r;
  AviCodecRecByFCC(&r, F(fcc));
  AviSetCurCodec(&r);
  AviCodecRec cur;
  AviGetCurCodec(&cur);
  cur.outBits = bits;
  AviSetCurCodec(&cur);
}

// PCM 16-bit mono sine of frames samples at rate.
SndBasic::SndRec Tone(int32_t frames, int32_t rate, int32_t channels = 1) {
  SndBasic::SndRec s;
  SndBasic::SndMakeSilence(s, frames, rate, 16, channels);
  for (int32_t i = 0; i < frames * channels; i++) {
    const auto v = static_cast<int16_t>(std::lround(8000 * std::sin(i * 0.05) + (i % 7) * 3));
    s.data[2 * i] = static_cast<uint8_t>(v);
    s.data[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
  }
  return s;
}

// Writes frames pictures (made by make) of the given depth with the current
// codec, an optional sound and INFO texts.
template <class Make>
void WriteMovie(const std::string& file, int32_t frames, int32_t bits, double fps, Make make,
                SndBasic::SndRec* sound = nullptr,
                const std::vector<std::pair<std::string, std::string>>& texts = {}) {
  AviFileRec h;
  AviCreate(&h, file, 1, fps);
  for (const auto& t : texts) AviSetCustomInfo(&h, t.first, t.second);
  for (int32_t i = 0; i < frames; i++) {
    ImgBasic::Qimg img;
    fmttest::ToQimg(make(i), bits, &img);
    AviImgSave(&h, &img);
    ImgBasic::ImgFree(&img);
    if (sound && i == 0) AviSndSave(&h, sound);
  }
  AviClose(&h);
}

Rgb LoadFrame(AviFileRec* h, int32_t frame, int32_t flags = 0) {
  ImgBasic::Qimg img;
  AviImgLoad(h, &img, frame, flags);
  Rgb out = fmttest::FromQimg(img);
  ImgBasic::ImgFree(&img);
  return out;
}

// Frame n (from 0) as ffmpeg decodes it, R, G, B.
bool FfmpegFrame(const std::string& file, int32_t n, Rgb* out) {
  const std::string ppm = Path("ff_frame.ppm");
  std::remove(ppm.c_str());
  if (fmttest::Shell("ffmpeg -nostdin -v error -y -i '" + file + "' -vf 'select=eq(n\\," +
                     std::to_string(n) + ")' -vframes 1 -pix_fmt rgb24 '" + ppm + "'") != 0)
    return false;
  return fmttest::ParsePnm(fmttest::ReadFile(ppm), out);
}

double Psnr(const Rgb& a, const Rgb& b) {
  if (a.rgb.size() != b.rgb.size()) return 0;
  return MediaTools::Psnr(a.rgb.data(), b.rgb.data(), a.rgb.size());
}

int MaxDiff(const Rgb& a, const Rgb& b) {
  if (a.rgb.size() != b.rgb.size()) return 999;
  int m = 0;
  for (size_t i = 0; i < a.rgb.size(); i++) m = std::max(m, std::abs(a.rgb[i] - b.rgb[i]));
  return m;
}

std::vector<uint8_t> LoadAllSound(AviFileRec* h, int32_t chunk) {
  std::vector<uint8_t> all;
  int32_t pos = 0;
  for (;;) {
    SndBasic::SndRec s;
    try {
      AviSndLoad(h, &s, pos, pos ? 1 : 0, chunk);
    } catch (const Errors::EMon&) {
      SndBasic::SndFree(s);
      break;
    }
    all.insert(all.end(), s.data, s.data + int64_t{s.frames} * s.format.blockAlign);
    pos += s.frames;
    const int32_t got = s.frames;
    SndBasic::SndFree(s);
    if (got < chunk) break;
  }
  return all;
}

uint32_t Le32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}
void PutLe32(Bytes& b, size_t at, uint32_t v) {
  for (int k = 0; k < 4; k++) b[at + k] = static_cast<uint8_t>(v >> (8 * k));
}

}  // namespace

// ---- the codec registry ---------------------------------------------------------

TEST(AviCodecs, ListHoldsTheCodecsThenUncompressedThenTheEndRecord) {
  const AviCodecRec* list = nullptr;
  const int32_t n = AviCodecsList(&list, 0, 0, 0);
  ASSERT_NE(nullptr, list);
  ASSERT_GE(n, 5);  // cvid, MSVC, MJPG, dvsd and Uncompressed
  for (int32_t i = 0; i < n - 1; i++) {
    EXPECT_EQ(i + 1, list[i].id);
    // An encoder takes 320 x 240 at some depth: DV has its own sizes only.
    EXPECT_EQ(list[i].fourCC != F("dvsd"), list[i].isEncoder)
        << FFBasic::FourCCToStr(list[i].fourCC);
    EXPECT_FALSE(list[i].hasAbout);
    EXPECT_FALSE(list[i].hasConfig);
    EXPECT_EQ(0, list[i].stateSize);
  }
  const AviCodecRec& u = list[n - 1];
  EXPECT_EQ(n - 1, u.id);  // the number of entries before it
  EXPECT_EQ(F("DIB "), u.fourCC);
  EXPECT_EQ("Uncompressed", u.name);
  EXPECT_EQ("Full Frames, Uncompressed", u.description);
  EXPECT_EQ(1, u.keyFrameRate);
  EXPECT_EQ(0u, list[n].fourCC);  // end record
  EXPECT_EQ(0, list[n].id);
  const AviCodecRec& cvid = list[AviCodecIndex(F("cvid"))];
  EXPECT_TRUE(cvid.supportsKeyFrames);
  EXPECT_FALSE(cvid.supportsQuality);
  EXPECT_EQ(15, cvid.keyFrameRate);
  const AviCodecRec& mjpg = list[AviCodecIndex(F("MJPG"))];
  EXPECT_TRUE(mjpg.supportsQuality);
  EXPECT_TRUE(mjpg.supportsDataRate);  // follows quality
  EXPECT_EQ(75, mjpg.quality);
  // Codecs only decoded are not offered.
  EXPECT_EQ(-1, AviCodecIndex(F("mrle")));
  EXPECT_EQ(-1, AviCodecIndex(F("IV50")));
}

TEST(AviCodecs, SixteenBitsAreOfferedAsSixteenAndReportedAsFifteen) {
  int32_t bits = 0, h = 0, w = 0;
  ASSERT_TRUE(AviCodecCheck_(F("MSVC"), 64, 48, &bits, &h, &w, 16));
  EXPECT_EQ(15, bits);
  EXPECT_EQ(15, AviDepthFromCodec(16));
  EXPECT_EQ(16, AviDepthToCodec(15));
  EXPECT_EQ(24, AviDepthToCodec(24));
  // Video 1 codes are all the same codec.
  EXPECT_TRUE(AVIChk4Video1_(F("cram")));
  ASSERT_TRUE(AviCodecCheck_(F("CRAM"), 64, 48, &bits, &h, &w, 24));
  EXPECT_EQ(15, bits);
  // Uncompressed takes anything as it is.
  ASSERT_TRUE(AviCodecCheck_(F("DIB "), 7, 5, &bits, &h, &w, 15));
  EXPECT_EQ(15, bits);
  EXPECT_EQ(7, w);
  EXPECT_EQ(5, h);
}

TEST(AviCodecs, SizesAreRoundedUpToMultiplesOfFour) {
  int32_t bits = 0, h = 0, w = 0;
  ASSERT_TRUE(AviCodecCheck_(F("cvid"), 99, 77, &bits, &h, &w, 24));
  EXPECT_EQ(100, w);
  EXPECT_EQ(80, h);
  EXPECT_EQ(24, bits);
  EXPECT_FALSE(AviCodecCanEncodeEx_(F("cvid"), 99, 77, 24));
  EXPECT_TRUE(AviCodecCanEncodeEx_(F("cvid"), 100, 80, 24));
  // DV has its fixed sizes only.
  EXPECT_FALSE(AviCodecCheck_(F("dvsd"), 320, 240, &bits, &h, &w, 24));
  EXPECT_TRUE(AviCodecCheck_(F("dvsd"), 720, 576, &bits, &h, &w, 24));
}

TEST(AviCodecs, NamesOfVideoAndSound) {
  std::string s;
  AVIGetVideoName(F("DIB "), &s);
  EXPECT_EQ("(DIB ) Full frames, uncompressed", s);
  AVIGetVideoName(0, &s);
  EXPECT_EQ("Full frames, uncompressed", s);
  AVIGetVideoName(F("XYZW"), &s);
  EXPECT_EQ("(XYZW) Unknown codec", s);
  AVIGetVideoName(F("cvid"), &s);
  EXPECT_EQ("(cvid) Cinepak video", s);
  AVIGetAudioName(1, &s);
  EXPECT_EQ("(#1) PCM, uncompressed", s);
  AVIGetAudioName(0x11, &s);
  EXPECT_EQ("(#17) IMA ADPCM", s);
  AVIGetAudioName(0x2001, &s);  // the last row of the table
  EXPECT_EQ("(#8193) DTS", s);
  AVIGetAudioName(0x4321, &s);
  EXPECT_EQ("(#17185) Unknown codec", s);
}

TEST(AviCodecs, CompressionOptionsFollowTheSettings) {
  const AviCodecRec* list = nullptr;
  AviCodecsList(&list, 0, 0, 0);
  UseCodec("MJPG");
  AviCodecRec cur;
  AviGetCurCodec(&cur);
  AviCodecSetQuality(&cur, 60);
  AviCodecSetKeyFrameRate(&cur, 3);
  AviCodecSetDataRate(&cur, 0);
  AviSetCurCodec(&cur);
  AviMakeCmpsOptions_();
  const AviFile::AVICOMPRESSOPTIONS& o = AviCmpsOptions();
  EXPECT_EQ(F("MJPG"), o.fccHandler);
  EXPECT_EQ(6000u, o.dwQuality);
  EXPECT_EQ(3u, o.dwKeyFrameEvery);
  EXPECT_EQ(12u, o.dwFlags);  // no data rate flag for 0
  AviCodecSetDataRate(&cur, 100);
  AviSetCurCodec(&cur);
  AviMakeCmpsOptions_();
  EXPECT_EQ(102400u, AviCmpsOptions().dwBytesPerSecond);
  EXPECT_EQ(14u, AviCmpsOptions().dwFlags);
  // A data rate on run-length coding is ignored.
  AviCodecRec rle;
  rle.fourCC = F("MRLE");
  rle.dataRate = 50;
  AviSetCurCodec(&rle);
  AviMakeCmpsOptions_();
  EXPECT_EQ(12u, AviCmpsOptions().dwFlags);
  // The list entry took the setters' values.
  EXPECT_EQ(60, list[AviCodecIndex(F("MJPG"))].quality);
}

TEST(AviCodecs, RefusedCodecFallsBackToCinepakThenUncompressed) {
  const AviCodecRec* list = nullptr;
  AviCodecsList(&list, 0, 0, 0);
  UseCodec("dvsd");
  AviSetVC(320, 240, 24);  // DV refuses the size: Cinepak takes it
  EXPECT_TRUE(Errors::ErrNone());
  AviCodecRec cur;
  AviGetCurCodec(&cur);
  EXPECT_EQ(F("cvid"), cur.fourCC);
  EXPECT_EQ(24, cur.outBits);
  EXPECT_EQ(F("cvid"), AviCmpsOptions().fccHandler);
  // A size no codec takes ends with uncompressed frames at the given depth.
  UseCodec("MJPG");
  AviSetVC(20000, 8, 15);
  EXPECT_TRUE(Errors::ErrNone());
  AviGetCurCodec(&cur);
  EXPECT_EQ(F("DIB "), cur.fourCC);
  EXPECT_EQ(15, cur.outBits);
  // The refusal itself.
  UseCodec("dvsd");
  EXPECT_THROW(AviSetVC_(320, 240, 24), Errors::EMon);
  EXPECT_EQ(Errors::kClsAvi, Errors::ErrClass());
  EXPECT_EQ(7, Errors::ErrCode());
  // DV's sizes go with one rate each: 576 rows at 30 frames a second are
  // refused when the movie starts.
  AviFileRec dv;
  AviCreate(&dv, Path("dv30.avi"), 1, 30.0);
  ImgBasic::Qimg img;
  fmttest::ToQimg(Smooth(720, 576, 0), 24, &img);
  EXPECT_THROW(AviImgSave(&dv, &img), Errors::EMon);
  EXPECT_EQ(Errors::kClsAviFile, Errors::ErrClass());
  EXPECT_EQ(AviFile::AVIERR_BADFORMAT, Errors::ErrCode());
  ImgBasic::ImgFree(&img);
  Errors::ErrClear();
  AviClose(&dv);
  UseCodec("cvid");
}

// ---- writing and reading back -----------------------------------------------------

class AviRoundTrip : public ::testing::TestWithParam<int32_t> {};

TEST_P(AviRoundTrip, UncompressedFramesComeBackExactly) {
  const int32_t bits = GetParam();
  UseCodec("DIB ", bits);
  const std::string file = Path("raw" + std::to_string(bits) + ".avi");
  auto make = [&](int32_t i) {
    return bits == 8 ? fmttest::FewColours(30, 20) : fmttest::TestPicture(30, 20, 3 + i);
  };
  WriteMovie(file, 3, bits, 12.5, make);
  AviFileRec h;
  AviOpen(&h, file);
  EXPECT_EQ(3, h.frameCount);
  EXPECT_EQ(bits, h.bitsPerPixel);
  EXPECT_DOUBLE_EQ(12.5, h.frameRate);
  for (int32_t i = 0; i < 3; i++) {
    const Rgb want = bits == 15 ? fmttest::TopBits(make(i), 5) : make(i);
    EXPECT_EQ(want, LoadFrame(&h, i + 1)) << "frame " << i;
  }
  AviClose(&h);
  EXPECT_EQ(0, AviOpenCount());
  if (bits == 8 || bits == 24) {
    // The same frames with rows stored unpadded: each chunk cut to 20 rows
    // of 30 pixels, the bytes freed made a chunk of no stream.
    const uint32_t packed = 30 * bits / 8, padded = (packed + 3) / 4 * 4;
    Bytes b = fmttest::ReadFile(file);
    int32_t cut = 0;
    for (size_t at = 0; at + 8 + padded * 20 <= b.size(); at++) {
      if (std::memcmp(&b[at], "00db", 4) != 0 || Le32(b, at + 4) != padded * 20) continue;
      for (uint32_t y = 0; y < 20; y++)
        std::memmove(&b[at + 8 + y * packed], &b[at + 8 + y * padded], packed);
      PutLe32(b, at + 4, packed * 20);
      std::memcpy(&b[at + 8 + packed * 20], "JUNK", 4);
      PutLe32(b, at + 12 + packed * 20, (padded - packed) * 20 - 8);
      cut++;
    }
    ASSERT_EQ(3, cut);
    const std::string unpadded = Path("unpadded" + std::to_string(bits) + ".avi");
    fmttest::WriteFile(unpadded, b);
    AviOpen(&h, unpadded);
    for (int32_t i = 0; i < 3; i++) EXPECT_EQ(make(i), LoadFrame(&h, i + 1)) << "unpadded " << i;
    AviClose(&h);
  }
  REQUIRE_TOOL("ffprobe");
  EXPECT_EQ("rawvideo", MediaTools::Probe(file, "v:0", "codec_name"));
  EXPECT_EQ("30", MediaTools::Probe(file, "v:0", "width"));
  EXPECT_EQ("20", MediaTools::Probe(file, "v:0", "height"));
  EXPECT_EQ("25/2", MediaTools::Probe(file, "v:0", "r_frame_rate"));
  EXPECT_EQ(3, MediaTools::ProbeFrameCount(file, "v:0"));
  Rgb ff;
  ASSERT_TRUE(FfmpegFrame(file, 2, &ff));
  EXPECT_EQ(bits == 15 ? fmttest::TopBits(make(2), 5) : make(2),
            bits == 15 ? fmttest::TopBits(ff, 5) : ff);
  UseCodec("cvid");
}

INSTANTIATE_TEST_SUITE_P(Depths, AviRoundTrip, ::testing::Values(8, 15, 24, 32));

struct LossyCase {
  const char* fcc;
  const char* ffName;
  int32_t width, height;
  double fps;
  double minPsnr;
};

class AviLossy : public ::testing::TestWithParam<LossyCase> {};

TEST_P(AviLossy, PeersReadOurFilesAndWeReadThemBack) {
  const LossyCase c = GetParam();
  UseCodec(c.fcc);
  const std::string file = Path(std::string("lossy_") + c.ffName + ".avi");
  SndBasic::SndRec tone = Tone(4000, 22050);
  WriteMovie(file, 4, 24, c.fps, [&](int32_t i) { return Smooth(c.width, c.height, i); }, &tone,
             {{"INAM", "A title"}, {"IART", "Someone"}});
  SndBasic::SndFree(tone);
  AviFileRec h;
  AviOpen(&h, file);
  EXPECT_EQ(4, h.frameCount);
  std::string text;
  AviGetCustomInfo(&h, "IART", &text);
  EXPECT_EQ("Someone", text);
  for (int32_t i = 0; i < 4; i++) {
    const Rgb got = LoadFrame(&h, i + 1);
    ASSERT_EQ(c.width, got.width);
    EXPECT_GT(Psnr(Smooth(c.width, c.height, i), got), c.minPsnr) << "frame " << i;
  }
  AviClose(&h);
  REQUIRE_TOOL("ffprobe");
  EXPECT_EQ(c.ffName, MediaTools::Probe(file, "v:0", "codec_name"));
  EXPECT_EQ(std::to_string(c.width), MediaTools::Probe(file, "v:0", "width"));
  EXPECT_EQ(4, MediaTools::ProbeFrameCount(file, "v:0"));
  EXPECT_EQ("pcm_s16le", MediaTools::Probe(file, "a:0", "codec_name"));
  EXPECT_EQ("22050", MediaTools::Probe(file, "a:0", "sample_rate"));
  Rgb ff;
  ASSERT_TRUE(FfmpegFrame(file, 3, &ff));
  EXPECT_GT(Psnr(Smooth(c.width, c.height, 3), ff), c.minPsnr);
  UseCodec("cvid");
}

INSTANTIATE_TEST_SUITE_P(Codecs, AviLossy,
                         ::testing::Values(LossyCase{"cvid", "cinepak", 64, 48, 15.0, 24},
                                           LossyCase{"MSVC", "msvideo1", 64, 48, 15.0, 24},
                                           LossyCase{"MJPG", "mjpeg", 64, 48, 15.0, 28},
                                           LossyCase{"dvsd", "dvvideo", 720, 576, 25.0, 28}),
                         [](const auto& info) { return std::string(info.param.ffName); });

TEST(AviWrite, HeaderFieldsAreExact) {
  UseCodec("DIB ", 24);
  const std::string file = Path("ntsc.avi");
  WriteMovie(file, 2, 24, 29.97002997, [](int32_t i) { return Smooth(8, 4, i); }, nullptr,
             {{"ICMT", std::string(300, 'x')}});
  const Bytes b = fmttest::ReadFile(file);
  // strh of the first stream: type, handler, scale and rate.
  size_t strh = 0;
  for (size_t i = 0; i + 4 < b.size(); i++)
    if (std::memcmp(&b[i], "strh", 4) == 0) {
      strh = i + 8;
      break;
    }
  ASSERT_GT(strh, 0u);
  auto u32 = [&](size_t p) {
    return b[p] | b[p + 1] << 8 | b[p + 2] << 16 | uint32_t{b[p + 3]} << 24;
  };
  EXPECT_EQ(0, std::memcmp(&b[strh], "vidsDIB ", 8));
  EXPECT_EQ(10000u, u32(strh + 20));
  EXPECT_EQ(299700u, u32(strh + 24));
  EXPECT_EQ(2u, u32(strh + 32));
  // The INFO list comes before the movie data: one entry of 256 bytes.
  const std::string all(b.begin(), b.end());
  const size_t info = all.find("INFOICMT");
  ASSERT_NE(std::string::npos, info);
  EXPECT_LT(info, all.find("movi"));
  EXPECT_EQ(256u, u32(info + 8));
  EXPECT_EQ(4u + 264u, u32(info - 4));
  EXPECT_NE(std::string::npos, all.find("idx1"));
  AviFileRec h;
  AviOpen(&h, file);
  std::string text;
  AviGetCustomInfo(&h, "ICMT", &text);
  EXPECT_EQ(std::string(255, 'x'), text);
  AviGetCustomInfo(&h, "INAM", &text);
  EXPECT_EQ("", text);
  AviClose(&h);
  UseCodec("cvid");
}

TEST(AviWrite, EveryFrameIsConvertedAndAnotherSizeIsRefused) {
  UseCodec("DIB ", 24);
  const std::string file = Path("mixed.avi");
  AviFileRec h;
  AviCreate(&h, file, 1, 10);
  ImgBasic::Qimg a, b, c;
  fmttest::ToQimg(fmttest::TestPicture(16, 8, 1), 24, &a);
  fmttest::ToQimg(fmttest::TestPicture(16, 8, 2), 32, &b);  // another depth
  fmttest::ToQimg(fmttest::TestPicture(20, 8, 3), 24, &c);  // another size
  AviImgSave(&h, &a);
  AviImgSave(&h, &b);
  EXPECT_THROW(AviImgSave(&h, &c), Errors::EMon);
  EXPECT_EQ(Errors::kClsAvi, Errors::ErrClass());
  AviClose(&h);
  AviOpen(&h, file);
  EXPECT_EQ(2, h.frameCount);
  EXPECT_EQ(fmttest::TestPicture(16, 8, 2), LoadFrame(&h, 2));
  AviClose(&h);
  for (auto* img : {&a, &b, &c}) ImgBasic::ImgFree(img);
  UseCodec("cvid");
}

TEST(AviWrite, EightBitFramesKeepTheirPalettesAndReportChanges) {
  UseCodec("DIB ", 8);
  const std::string file = Path("pal.avi");
  auto make = [](int32_t i) {
    Rgb p = fmttest::FewColours(12, 6);
    if (i >= 2)
      for (size_t k = 0; k < p.rgb.size(); k += 3) p.rgb[k] = static_cast<uint8_t>(255 - p.rgb[k]);
    return p;
  };
  WriteMovie(file, 4, 8, 5, make);
  AviFileRec h;
  AviOpen(&h, file);
  std::vector<bool> flags;
  for (int32_t i = 0; i < 4; i++) {
    ImgBasic::Qimg img;
    AviImgLoad(&h, &img, 0, 0);
    EXPECT_EQ(8, img.bitsPerPixel);
    EXPECT_EQ(make(i), fmttest::FromQimg(img)) << "frame " << i;
    flags.push_back(h.newPalette);
    ImgBasic::ImgFree(&img);
  }
  EXPECT_EQ((std::vector<bool>{true, false, true, false}), flags);
  // Random access finds the palette in force.
  EXPECT_EQ(make(3), LoadFrame(&h, 4));
  EXPECT_EQ(make(1), LoadFrame(&h, 2));
  AviClose(&h);
  REQUIRE_TOOL("ffmpeg");
  Rgb ff;
  ASSERT_TRUE(FfmpegFrame(file, 3, &ff));
  EXPECT_EQ(make(3), ff);
  UseCodec("cvid");
}

// ---- files made by ffmpeg ----------------------------------------------------------

struct PeerCase {
  const char* name;
  const char* videoArgs;
  int32_t maxDiff;
};

class AviPeer : public ::testing::TestWithParam<PeerCase> {};

TEST_P(AviPeer, FramesEqualFfmpegsOwnDecode) {
  REQUIRE_TOOL("ffmpeg");
  const PeerCase c = GetParam();
  const std::string file = Path(std::string("peer_") + c.name + ".avi");
  ASSERT_EQ(
      0, fmttest::Shell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=10 -frames:v 6 " +
                        std::string(c.videoArgs) + " '" + file + "'"));
  AviFileRec h;
  AviOpen(&h, file);
  EXPECT_EQ(6, h.frameCount);
  EXPECT_EQ(64, h.width);
  for (int32_t i : {0, 5, 2}) {
    Rgb ff;
    ASSERT_TRUE(FfmpegFrame(file, i, &ff));
    EXPECT_LE(MaxDiff(ff, LoadFrame(&h, i + 1)), c.maxDiff) << "frame " << i;
  }
  AviClose(&h);
}

INSTANTIATE_TEST_SUITE_P(Encodings, AviPeer,
                         ::testing::Values(PeerCase{"cinepak", "-c:v cinepak", 0},
                                           PeerCase{"msvideo1", "-c:v msvideo1", 7},
                                           PeerCase{"mjpeg", "-c:v mjpeg -q:v 3", 12},
                                           PeerCase{"pal8", "-c:v rawvideo -pix_fmt pal8", 0},
                                           PeerCase{"bgr24", "-c:v rawvideo -pix_fmt bgr24", 0},
                      PeerCase{"rgb555", "-c:v rawvideo -pix_fmt rgb555le", 7},
                      PeerCase{"bgra", "-c:v rawvideo -pix_fmt bgra", 0},
                      PeerCase{"pnggrey", "-c:v png -pix_fmt gray", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

namespace {

// Every picture ffmpeg decodes from a file, in its order, R, G, B, with the
// colour conversion rounded as ours is.
std::vector<Rgb> FfmpegFrames(const std::string& file, int32_t w, int32_t h) {
  const std::string raw = Path("ff_all.rgb");
  std::vector<Rgb> out;
  if (fmttest::Shell("ffmpeg -nostdin -v error -y -i '" + file +
                     "' -vsync passthrough -sws_flags bicubic+accurate_rnd -f rawvideo -pix_fmt rgb24 '" + raw + "'") != 0)
    return out;
  const Bytes b = fmttest::ReadFile(raw);
  const size_t n = static_cast<size_t>(w) * h * 3;
  for (size_t at = 0; at + n <= b.size(); at += n) {
    Rgb p;
    p.width = w;
    p.height = h;
    p.rgb.assign(b.begin() + static_cast<ptrdiff_t>(at), b.begin() + static_cast<ptrdiff_t>(at + n));
    out.push_back(p);
  }
  return out;
}

// A test pattern movie made by ffmpeg with the given video options; false
// when this ffmpeg cannot encode it.
bool PeerMovie(const std::string& file, int32_t frames, const std::string& videoArgs) {
  return fmttest::Shell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=10 -frames:v " +
                        std::to_string(frames) + " " + videoArgs + " '" + file + "'") == 0;
}

}  // namespace

// Codecs whose set-up data follows the bitmap header in the stream format:
// the lossless ones decode exactly as ffmpeg decodes them.
TEST(AviPeerCodecs, SetUpDataReachesTheDecoder) {
  REQUIRE_TOOL("ffmpeg");
  const struct {
    const char* name;
    const char* args;
    bool lossless;
  } cases[] = {{"huffyuv", "-c:v huffyuv", true},
               {"ffvhuff", "-c:v ffvhuff", true},
               {"utvideo", "-c:v utvideo", true},
               {"wmv2", "-c:v wmv2 -q:v 3", false}};
  for (const auto& c : cases) {
    const std::string file = Path(std::string("setup_") + c.name + ".avi");
    if (!PeerMovie(file, 8, c.args)) continue;  // no such encoder here
    const std::vector<Rgb> theirs = FfmpegFrames(file, 64, 48);
    ASSERT_EQ(8u, theirs.size()) << c.name;
    AviFileRec h;
    AviOpen(&h, file);
    ASSERT_EQ(8, h.frameCount) << c.name;
    for (int32_t i = 0; i < 8; i++) {
      const Rgb ours = LoadFrame(&h, 0);
      if (c.lossless)
        EXPECT_EQ(theirs[static_cast<size_t>(i)], ours) << c.name << " frame " << i;
      else
        EXPECT_GE(Psnr(theirs[static_cast<size_t>(i)], ours), 40.0) << c.name << " frame " << i;
    }
    AviClose(&h);
  }
}

// MPEG-4 with B-frames, as ffmpeg writes it (DivX style) and as XviD packs
// it (a P- and a B-frame in one chunk), and H.264 with B-frames: frame n is
// ffmpeg's n-th picture, in order and at random; frames after ffmpeg's last
// picture repeat it.
TEST(AviPeerCodecs, BFramesComeInPresentationOrder) {
  REQUIRE_TOOL("ffmpeg");
  const struct {
    const char* name;
    const char* args;
  } cases[] = {{"divx", "-c:v mpeg4 -bf 2 -g 12 -q:v 2 -vtag DX50"},
               {"xvid", "-c:v libxvid -bf 2 -g 12 -q:v 2 -vtag XVID"},
               {"h264", "-c:v libx264 -bf 2 -g 12 -crf 12 -pix_fmt yuv420p"}};
  const int32_t frames = 40;
  for (const auto& c : cases) {
    const std::string file = Path(std::string("bframes_") + c.name + ".avi");
    if (!PeerMovie(file, frames, c.args)) continue;  // no such encoder here
    const std::vector<Rgb> theirs = FfmpegFrames(file, 64, 48);
    ASSERT_GE(theirs.size(), size_t{frames - 2}) << c.name;
    AviFileRec h;
    AviOpen(&h, file);
    ASSERT_EQ(frames, h.frameCount) << c.name;
    auto expected = [&](int32_t n) -> const Rgb& {
      return theirs[std::min<size_t>(static_cast<size_t>(n - 1), theirs.size() - 1)];
    };
    for (int32_t n = 1; n <= frames; n++)
      EXPECT_GE(Psnr(expected(n), LoadFrame(&h, 0)), 40.0) << c.name << " frame " << n;
    for (int32_t n : {frames, 17, 3, 30, 1, 13, 12, 26, frames - 1})
      EXPECT_GE(Psnr(expected(n), LoadFrame(&h, n)), 40.0) << c.name << " frame " << n;
    AviClose(&h);
  }
}

namespace {

// No writer at hand makes 16-bit video with 5-6-5 bit fields: ffmpeg's
// 5-5-5 file made into one (the three masks after the bitmap header, the
// sizes around them grown), each row red, green, blue and half green.
Bytes FiveSixFive(const Bytes& from) {
  Bytes b = from;
  const size_t strf = static_cast<size_t>(
      std::search(b.begin(), b.end(), std::begin("strf"), std::end("strf") - 1) - b.begin());
  const size_t header = strf + 8, size = Le32(b, strf + 4);
  PutLe32(b, header + 16, 3);  // bit fields
  const uint8_t masks[12] = {0, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
  b.insert(b.begin() + static_cast<ptrdiff_t>(header + size), masks, masks + 12);
  PutLe32(b, strf + 4, static_cast<uint32_t>(size + 12));
  for (const char* list : {"strl", "hdrl"}) {
    const size_t at = static_cast<size_t>(
        std::search(b.begin(), b.end(), list, list + 4) - b.begin() - 8);
    PutLe32(b, at + 4, Le32(b, at + 4) + 12);
  }
  PutLe32(b, 4, static_cast<uint32_t>(b.size() - 8));
  const uint16_t colours[4] = {0xF800, 0x07E0, 0x001F, 0x0400};
  size_t at = static_cast<size_t>(
      std::search(b.begin(), b.end(), std::begin("movi"), std::end("movi") - 1) - b.begin() + 4);
  for (; b[at] == '0' && b[at + 1] == '0'; at += 8 + Le32(b, at + 4)) {
    const size_t words = Le32(b, at + 4) / 2;
    for (size_t k = 0; k < words; k++) {
      const uint16_t w = colours[k % 32 / 8];
      b[at + 8 + 2 * k] = static_cast<uint8_t>(w);
      b[at + 9 + 2 * k] = static_cast<uint8_t>(w >> 8);
    }
  }
  return b;
}

}  // namespace

TEST(AviPeerCodecs, SixteenBitFieldsFiveSixFiveReadAsFfmpegReadsThem) {
  REQUIRE_TOOL("ffmpeg");
  const std::string made = Path("five55.avi"), file = Path("five65.avi");
  ASSERT_TRUE(PeerMovie(made, 2, "-s 32x16 -c:v rawvideo -pix_fmt rgb555le"));
  fmttest::WriteFile(file, FiveSixFive(fmttest::ReadFile(made)));
  const std::vector<Rgb> theirs = FfmpegFrames(file, 32, 16);
  ASSERT_EQ(theirs.size(), 2u);
  AviFileRec h;
  AviOpen(&h, file);
  ASSERT_EQ(h.frameCount, 2);
  for (int32_t n = 1; n <= 2; n++) EXPECT_LE(MaxDiff(theirs[n - 1], LoadFrame(&h, n)), 7) << n;
  AviClose(&h);
}

// A frame ffmpeg dropped is an empty chunk: it shows the picture before it,
// and the pictures after it come in their places, read in order or not.
TEST(AviPeerCodecs, AnEmptyChunkRepeatsThePictureBeforeIt) {
  REQUIRE_TOOL("ffmpeg");
  const std::string file = Path("dropped.avi");
  ASSERT_TRUE(PeerMovie(file, 6, "-vf \"select='not(eq(n,3))'\" -fps_mode passthrough "
                                 "-c:v mjpeg -q:v 3"));
  const std::vector<Rgb> theirs = FfmpegFrames(file, 64, 48);
  ASSERT_EQ(theirs.size(), 6u);
  AviFileRec h;
  AviOpen(&h, file);
  ASSERT_EQ(h.frameCount, 7);
  const size_t picture[7] = {0, 1, 2, 2, 3, 4, 5};
  for (int32_t n = 1; n <= 7; n++)
    EXPECT_GE(Psnr(theirs[picture[n - 1]], LoadFrame(&h, n)), 40.0) << "frame " << n;
  for (int32_t n : {5, 4, 7, 3})
    EXPECT_GE(Psnr(theirs[picture[n - 1]], LoadFrame(&h, n)), 40.0) << "again " << n;
  AviClose(&h);
}

namespace {

// A chunk of the given code (a list or RIFF of the given type), padded to an even size.
Bytes Ck(const char* id, Bytes body, const char* type = nullptr) {
  if (type) body.insert(body.begin(), type, type + 4);
  Bytes b(id, id + 4);
  b.resize(8);
  PutLe32(b, 4, static_cast<uint32_t>(body.size()));
  b.insert(b.end(), body.begin(), body.end());
  if (body.size() & 1) b.push_back(0);
  return b;
}
void Add(Bytes& to, const Bytes& b) { to.insert(to.end(), b.begin(), b.end()); }

// No writer at hand makes these: ffmpeg's w x h paletted movie with its frames run-length coded
// (8-bit RLE, bottom-up) and no index; the first two frames each in a "rec " list after a JUNK
// chunk, a change of palette entries 55 and 56 before the second, and the frames from the third
// on, after an OpenDML index chunk, in a second RIFF ("AVIX").
Bytes RunLengthRegrouped(Bytes b, int32_t w, int32_t h) {
  auto find = [&](const char* code) {
    return static_cast<size_t>(std::search(b.begin(), b.end(), code, code + 4) - b.begin());
  };
  const size_t strf = find("strf") + 8, list = find("movi") - 8;
  PutLe32(b, strf + 8, static_cast<uint32_t>(h));
  PutLe32(b, strf + 16, 1);
  std::memcpy(&b[find("strh") + 12], "mrle", 4);
  std::vector<Bytes> frames;
  for (size_t at = list + 12; at < list + 8 + Le32(b, list + 4); at += 8 + Le32(b, at + 4)) {
    Bytes rle;
    for (int32_t y = h - 1; y >= 0; y--) {
      const uint8_t* row = &b[at + 8 + static_cast<size_t>(y * w)];
      for (int32_t x = 0, n = 1; x < w; x += n, n = 1) {
        while (x + n < w && row[x + n] == row[x]) n++;
        rle.insert(rle.end(), {static_cast<uint8_t>(n), row[x]});
      }
      rle.insert(rle.end(), {0, 0});
    }
    rle.insert(rle.end(), {0, 1});
    frames.push_back(Ck("00dc", rle));
  }
  Bytes movi, more = Ck("ix00", Bytes(24, 0));
  for (size_t i = 0; i < 2; i++) {
    Bytes rec = Ck("JUNK", {'x', 'y', 'z'});
    if (i == 1) Add(rec, Ck("00pc", {55, 2, 0, 0, 250, 10, 20, 0, 30, 240, 40, 0}));
    Add(rec, frames[i]);
    Add(movi, Ck("LIST", rec, "rec "));
  }
  Bytes out(b.begin(), b.begin() + static_cast<ptrdiff_t>(list));
  Add(out, Ck("LIST", movi, "movi"));
  PutLe32(out, 4, static_cast<uint32_t>(out.size() - 8));
  for (size_t i = 2; i < frames.size(); i++) Add(more, frames[i]);
  Add(out, Ck("RIFF", Ck("LIST", more, "movi"), "AVIX"));
  return out;
}

}  // namespace

// Compressed 8-bit frames take their palette, and its changes, from the file.
TEST(AviPeerCodecs, RunLengthFramesInRecListsWithAPaletteChangeAndASecondRiff) {
  REQUIRE_TOOL("ffmpeg");
  const std::string made = Path("pal8.avi"), file = Path("regrouped.avi");
  ASSERT_TRUE(PeerMovie(made, 4, "-s 16x8 -c:v rawvideo -pix_fmt pal8"));
  fmttest::WriteFile(file, RunLengthRegrouped(fmttest::ReadFile(made), 16, 8));
  const std::vector<Rgb> theirs = FfmpegFrames(file, 16, 8);
  ASSERT_EQ(theirs.size(), 4u);
  AviFileRec h;
  AviOpen(&h, file);
  ASSERT_EQ(h.frameCount, 4);
  for (int32_t n : {1, 2, 3, 4, 2}) EXPECT_EQ(theirs[n - 1], LoadFrame(&h, n)) << "frame " << n;
  AviClose(&h);
}

// Half a file (its index lost, its last chunk cut): the whole frames and
// the samples it holds, as ffmpeg decodes them, with a warning.
TEST(AviPeerCodecs, HalfAFileGivesWhatFfmpegDecodes) {
  REQUIRE_TOOL("ffmpeg");
  const std::string whole = Path("whole.avi"), half = Path("half.avi");
  ASSERT_EQ(0, fmttest::Shell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=10 -f lavfi "
                              "-i 'sine=frequency=440:sample_rate=22050' -t 4 -c:v mjpeg -q:v 2 "
                              "-c:a pcm_s16le '" + whole + "'"));
  const Bytes b = fmttest::ReadFile(whole);
  fmttest::WriteFile(half, Bytes(b.begin(), b.begin() + static_cast<ptrdiff_t>(b.size() / 2)));
  const std::vector<Rgb> theirs = FfmpegFrames(half, 64, 48);
  ASSERT_GT(theirs.size(), 5u);
  ASSERT_LT(theirs.size(), 40u);
  const std::string raw = Path("half.raw");
  fmttest::Shell("ffmpeg -nostdin -v error -y -i '" + half + "' -f s16le '" + raw + "'");
  const Bytes samples = fmttest::ReadFile(raw);
  AviFileRec h;
  AviOpen(&h, half);
  EXPECT_EQ(Errors::kClsAvi, Errors::WarnClass());
  EXPECT_EQ(1, Errors::WarnCode());
  ASSERT_EQ(static_cast<int32_t>(theirs.size()), h.frameCount);
  for (size_t i = 0; i < theirs.size(); i++)
    EXPECT_GE(Psnr(theirs[i], LoadFrame(&h, 0)), 40.0) << "frame " << i;
  EXPECT_EQ(static_cast<int32_t>(samples.size() / 2), h.snd.pcmTotal);
  EXPECT_EQ(samples, LoadAllSound(&h, 3000));
  AviClose(&h);
  ConForm::FFInfoRec info;
  AviInfo(half, &info);
  EXPECT_EQ(static_cast<int32_t>(theirs.size()), info.picture.frameCount);
  EXPECT_EQ(1, Errors::WarnCode());
}

TEST(AviPeerSound, PcmIsSampleExactAndCompressedSoundDecodes) {
  REQUIRE_TOOL("ffmpeg");
  const std::string file = Path("peer_pcm.avi");
  ASSERT_EQ(0, fmttest::Shell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=32x24:rate=10 "
                              "-f lavfi -i 'sine=frequency=440:sample_rate=22050' -t 1 "
                              "-c:v cinepak -c:a pcm_s16le '" +
                              file + "'"));
  const std::string raw = Path("peer_pcm.raw");
  ASSERT_EQ(0, fmttest::Shell("ffmpeg -nostdin -v error -y -i '" + file + "' -f s16le '" + raw + "'"));
  const Bytes want = fmttest::ReadFile(raw);
  AviFileRec h;
  AviOpen(&h, file);
  ASSERT_NE(nullptr, h.audio);
  EXPECT_EQ(static_cast<int32_t>(want.size() / 2), h.snd.pcmTotal);
  EXPECT_EQ(want, LoadAllSound(&h, 3000));
  // A seek lands on the sample of a sequential read.
  SndBasic::SndRec s;
  AviSndLoad(&h, &s, 12345, 0, 100);
  ASSERT_EQ(100, s.frames);
  EXPECT_EQ(0, std::memcmp(s.data, want.data() + 2 * 12345, 200));
  SndBasic::SndFree(s);
  AviClose(&h);

  for (const char* codec : {"adpcm_ms", "adpcm_ima_wav", "libmp3lame"}) {
    const std::string f = Path(std::string("peer_") + codec + ".avi");
    if (fmttest::Shell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=32x24:rate=10 -f lavfi -i "
                       "'sine=frequency=440:sample_rate=22050' -t 1 -c:v cinepak -c:a " +
                       std::string(codec) + " '" + f + "'") != 0)
      continue;
    AviFileRec a;
    AviOpen(&a, f);
    ASSERT_NE(nullptr, a.audio) << codec;
    const std::vector<uint8_t> got = LoadAllSound(&a, 4096);
    EXPECT_GT(got.size(), 2u * 20000) << codec;
    std::vector<int16_t> samples(got.size() / 2);
    std::memcpy(samples.data(), got.data(), samples.size() * 2);
    EXPECT_NEAR(440.0, MediaTools::ZeroCrossingFrequency(samples, 1, 22050), 5.0) << codec;
    AviClose(&a);
  }
}

// MPEG audio in an AVI reports the sample frames it decodes to, as many as
// ffmpeg decodes, at either MPEG version's frame size.
TEST(AviPeerSound, MpegAudioLengthIsTheDecodedCount) {
  REQUIRE_TOOL("ffmpeg");
  for (const char* audio : {"-ar 22050 -ac 1 -c:a libmp3lame", "-ar 44100 -ac 2 -c:a libmp3lame -b:a 192k",
                            "-ar 48000 -ac 2 -c:a mp2"}) {
    const std::string file = Path("mpa.avi");
    if (fmttest::Shell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=32x24:rate=10 -f lavfi -i "
                       "'sine=frequency=440:sample_rate=44100' -t 3 -c:v cinepak " +
                       std::string(audio) + " '" + file + "'") != 0)
      continue;  // no such encoder here
    const std::string raw = Path("mpa.raw");
    ASSERT_EQ(0, fmttest::Shell("ffmpeg -nostdin -v error -y -i '" + file + "' -f s16le '" + raw + "'"));
    AviFileRec h;
    AviOpen(&h, file);
    ASSERT_NE(nullptr, h.audio) << audio;
    const int64_t frameBytes = h.snd.dstFormat.blockAlign;
    EXPECT_EQ(static_cast<int64_t>(fmttest::ReadFile(raw).size()) / frameBytes, h.snd.pcmTotal)
        << audio;
    EXPECT_EQ(int64_t{h.snd.pcmTotal} * frameBytes,
              static_cast<int64_t>(LoadAllSound(&h, 5000).size()))
        << audio;
    AviClose(&h);
  }
}

// ---- random access and sound positions ---------------------------------------------

TEST(AviRandomAccess, EqualsSequentialDecodingForInterCodedStreams) {
  for (const char* fcc : {"cvid", "MSVC"}) {
    UseCodec(fcc);
    AviCodecRec cur;
    AviGetCurCodec(&cur);
    AviCodecSetKeyFrameRate(&cur, 4);
    AviSetCurCodec(&cur);
    const std::string file = Path(std::string("ra_") + fcc + ".avi");
    WriteMovie(file, 10, 24, 10, [](int32_t i) { return Smooth(32, 16, i); });
    AviFileRec h;
    AviOpen(&h, file);
    std::vector<Rgb> seq;
    for (int32_t i = 1; i <= 10; i++) seq.push_back(LoadFrame(&h, 0));
    for (int32_t i : {7, 3, 10, 1, 6, 6, 9, 2})
      EXPECT_EQ(seq[i - 1], LoadFrame(&h, i)) << fcc << " " << i;
    AviClose(&h);
  }
  UseCodec("cvid");
}

// With codec threads the next frame is decoded ahead on a helper thread
// while the caller reads sound from the same file: whatever order frames
// are asked in (repeats, strides, jumps back, the "next" frame), every frame
// and every sample equals what the caller's thread alone decodes.
TEST(AviFrameThreads, DecodingAheadGivesTheFramesAndSoundOfOneThread) {
  REQUIRE_TOOL("ffmpeg");
  const struct {
    const char* name;
    const char* args;
  } cases[] = {{"mjpeg", "-c:v mjpeg -q:v 3"}, {"divx", "-c:v mpeg4 -bf 2 -g 12 -vtag DX50"}};
  const int32_t saved = AvSupport::CodecThreads();
  const std::vector<int32_t> order = {0, 0,  1,  2,  3,  3,  5,  7, 9, 11, 0, 0, 2, 40,
                                      39, 38, 37, 10, 20, 30, 40, 1, 0, 0, 25, 26, 26, 27};
  for (const auto& c : cases) {
    const std::string file = Path(std::string("ahead_") + c.name + ".avi");
    ASSERT_EQ(0, fmttest::Shell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=96x64:rate=10 "
                                "-f lavfi -i 'sine=frequency=440:sample_rate=22050' -t 4 " +
                                std::string(c.args) + " -c:a pcm_s16le '" + file + "'"));
    auto walk = [&](int32_t threads) {
      AvSupport::SetCodecThreads(threads);
      AviFileRec h;
      AviOpen(&h, file);
      std::vector<Rgb> frames;
      std::vector<uint8_t> sound;
      int32_t pos = 0;
      for (int32_t n : order) {
        frames.push_back(LoadFrame(&h, n));
        SndBasic::SndRec s;
        AviSndLoad(&h, &s, pos % h.snd.pcmTotal, 0, 700);
        sound.insert(sound.end(), s.data, s.data + int64_t{s.frames} * s.format.blockAlign);
        pos += 2939;
        SndBasic::SndFree(s);
      }
      AviClose(&h);
      return std::make_pair(frames, sound);
    };
    const auto one = walk(1), ahead = walk(4);
    ASSERT_EQ(one.first.size(), ahead.first.size());
    for (size_t i = 0; i < order.size(); i++)
      EXPECT_EQ(one.first[i], ahead.first[i]) << c.name << " request " << i << " (frame "
                                               << order[i] << ")";
    EXPECT_GT(one.first[3].rgb.size(), 0u) << c.name;
    EXPECT_EQ(one.second, ahead.second) << c.name;
  }
  AvSupport::SetCodecThreads(saved);
}

// Whatever the helper throws while it decodes ahead stays on its thread and
// reaches the caller as the decoder's failure at the next frame asked for
// (the read error); the frames after it are the frames of one thread.
TEST(AviFrameThreads, AnExceptionOnTheHelperIsTheNextFramesFailure) {
  REQUIRE_TOOL("ffmpeg");
  const std::string file = Path("ahead_throws.avi");
  ASSERT_EQ(0, fmttest::Shell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=96x64:rate=10 -t 1 "
                              "-c:v mjpeg -q:v 3 '" + file + "'"));
  const int32_t saved = AvSupport::CodecThreads();
  auto walk = [&](int32_t threads, int* failures) {
    AvSupport::SetCodecThreads(threads);
    AviFileRec h;
    AviOpen(&h, file);
    AvSupport::Faults().decoder = threads > 1 ? 0 : -1;
    std::vector<Rgb> frames;
    for (int32_t n = 1; n <= 6; n++) {
      try {
        frames.push_back(LoadFrame(&h, n));
      } catch (const Errors::EMon&) {
        EXPECT_EQ(Errors::kClsAvi, Errors::ErrClass());
        Errors::ErrClear();
        (*failures)++;
        frames.emplace_back();
      }
    }
    AviClose(&h);
    return frames;
  };
  int oneFailures = 0, aheadFailures = 0;
  const std::vector<Rgb> one = walk(1, &oneFailures), ahead = walk(4, &aheadFailures);
  AvSupport::SetCodecThreads(saved);
  EXPECT_EQ(0, oneFailures);
  EXPECT_EQ(1, aheadFailures);
  EXPECT_EQ(-1, AvSupport::Faults().decoder.load());
  size_t same = 0;
  for (size_t i = 0; i < one.size(); i++) same += one[i] == ahead[i] ? 1 : 0;
  EXPECT_EQ(one.size() - 1, same);
}

TEST(AviSound, SeekAndLoadMatchASequentialRead) {
  UseCodec("DIB ", 24);
  SndBasic::SndRec tone = Tone(5000, 11025, 2);
  const std::string file = Path("snd_pcm.avi");
  WriteMovie(
      file, 2, 24, 5, [](int32_t i) { return Smooth(8, 8, i); }, &tone);
  AviFileRec h;
  AviOpen(&h, file);
  EXPECT_EQ(5000, h.snd.pcmTotal);
  const std::vector<uint8_t> all = LoadAllSound(&h, 777);
  ASSERT_EQ(size_t{5000 * 4}, all.size());
  EXPECT_EQ(0, std::memcmp(all.data(), tone.data, all.size()));
  for (int32_t start : {4321, 0, 2500, 4999}) {
    SndBasic::SndRec s;
    AviSndLoad(&h, &s, start, 0, 300);
    const int32_t n = std::min(300, 5000 - start);
    ASSERT_EQ(n, s.frames) << start;
    EXPECT_EQ(0, std::memcmp(s.data, tone.data + int64_t{start} * 4, size_t(n) * 4)) << start;
    SndBasic::SndFree(s);
  }
  // At or past the end: no samples and the end-of-sound error.
  SndBasic::SndRec s;
  EXPECT_THROW(AviSndLoad(&h, &s, 5000, 0, 10), Errors::EMon);
  EXPECT_EQ(Errors::kClsAvi, Errors::ErrClass());
  EXPECT_EQ(3, Errors::ErrCode());
  EXPECT_EQ(0, s.frames);
  SndBasic::SndFree(s);
  AviClose(&h);
  SndBasic::SndFree(tone);
  UseCodec("cvid");
}

TEST(AviSound, AdpcmIsWrittenAndSeeksLandOnTheSequentialSamples) {
  struct Case {
    uint16_t tag;
    const char* name;
    const char* ffName;
  };
  for (const Case c : {Case{Acm::kTagImaAdpcm, "(#17) IMA ADPCM", "adpcm_ima_wav"},
                       Case{Acm::kTagMsAdpcm, "(#2) Microsoft ADPCM", "adpcm_ms"}}) {
    SCOPED_TRACE(c.ffName);
    UseCodec("DIB ", 24);
    SndBasic::SndRec tone = Tone(9000, 22050);
    SndBasic::WaveFormatEx adpcm;
    ASSERT_TRUE(soundtest::SuggestedFormat(tone.format, c.tag, &adpcm));
    SndBasic::SndRec packed;
    SndBasic::SndConvert(tone, packed, adpcm);
    const std::string file = Path(std::string("snd_") + c.ffName + ".avi");
    WriteMovie(
        file, 2, 24, 5, [](int32_t i) { return Smooth(8, 8, i); }, &packed);
    AviFileRec h;
    AviOpen(&h, file);
    ASSERT_NE(nullptr, h.audio);
    EXPECT_EQ(c.tag, h.snd.srcFormat[0]);  // the file's own format stays ADPCM
    EXPECT_EQ(adpcm.blockAlign, h.audioHeader.dwSampleSize);
    const std::vector<uint8_t> all = LoadAllSound(&h, 1000);
    ASSERT_GE(all.size(), size_t{9000 * 2});
    for (int32_t start : {3333, 100, 8000}) {
      SndBasic::SndRec s;
      AviSndLoad(&h, &s, start, 0, 200);
      ASSERT_EQ(200, s.frames);
      EXPECT_EQ(0, std::memcmp(s.data, all.data() + int64_t{start} * 2, 400)) << start;
      SndBasic::SndFree(s);
    }
    ConForm::FFInfoRec info;
    AviClose(&h);
    AviInfo(file, &info);
    EXPECT_EQ(c.name, info.sound.audioCompression);
    EXPECT_EQ(1, info.sound.wave.formatTag);
    EXPECT_TRUE(info.sound.soundReadable);
    SndBasic::SndFree(packed);
    SndBasic::SndFree(tone);
    UseCodec("cvid");
    if (!fmttest::HaveTool("ffmpeg")) continue;
    EXPECT_EQ(c.ffName, MediaTools::Probe(file, "a:0", "codec_name"));
    // ffmpeg decodes the same samples.
    const std::string raw = Path("snd_adpcm.raw");
    ASSERT_EQ(0, fmttest::Shell("ffmpeg -nostdin -v error -y -i '" + file + "' -f s16le '" + raw + "'"));
    const Bytes theirs = fmttest::ReadFile(raw);
    ASSERT_GE(theirs.size(), size_t{9000 * 2});
    EXPECT_EQ(0, std::memcmp(theirs.data(), all.data(), 9000 * 2));
  }
}

// ---- file information -----------------------------------------------------------------

TEST(AviInfoTest, ReportsPicturesAndSound) {
  UseCodec("MSVC");
  SndBasic::SndRec tone = Tone(2205, 22050);
  const std::string file = Path("info.avi");
  WriteMovie(
      file, 3, 24, 15, [](int32_t i) { return Smooth(40, 20, i); }, &tone);
  ConForm::FFInfoRec info;
  ConForm::FFInfo(file, ConForm::kFmtAVI, &info, nullptr, nullptr);
  EXPECT_EQ(40, info.picture.width);
  EXPECT_EQ(20, info.picture.height);
  EXPECT_EQ(15, info.picture.bitsPerPixel);
  EXPECT_EQ(2, info.picture.bytesPerPixel);
  EXPECT_EQ(3, info.picture.frameCount);
  EXPECT_DOUBLE_EQ(15.0, info.picture.fps);
  EXPECT_EQ("(MSVC) Video 1 (MSVC)", info.picture.videoCompression);
  EXPECT_TRUE(info.picture.picturesReadable);
  EXPECT_EQ(2205, info.sound.sampleFrames);
  EXPECT_EQ("(#1) PCM, uncompressed", info.sound.audioCompression);
  EXPECT_TRUE(info.sound.hasSound);
  EXPECT_GT(info.fileSize, 0);
  EXPECT_GT(info.dataRate, 0);
  EXPECT_EQ(0, AviOpenCount());
  SndBasic::SndFree(tone);
  UseCodec("cvid");
}

// ---- damaged files ---------------------------------------------------------------------

namespace {

// Opens, loads every frame and all sound, describes: whatever the file
// holds, only error pairs may come out.
void ReadEverything(const std::string& file) {
  AviFileRec h;
  try {
    AviOpen(&h, file);
    for (int32_t i = 1; i <= std::min(h.frameCount, 8); i++) {
      try {
        ImgBasic::Qimg img;
        AviImgLoad(&h, &img, i, 0);
        ImgBasic::ImgFree(&img);
      } catch (const Errors::EMon&) {
      }
    }
    LoadAllSound(&h, 5000);
    std::string t;
    AviGetCustomInfo(&h, "INAM", &t);
  } catch (const Errors::EMon&) {
  }
  try {
    AviClose(&h);
  } catch (const Errors::EMon&) {
  }
  ConForm::FFInfoRec info;
  try {
    AviInfo(file, &info);
  } catch (const Errors::EMon&) {
  }
}

}  // namespace

TEST(AviDamaged, MalformedInfoListIsReadSafely) {
  UseCodec("DIB ", 24);
  const std::string file = Path("badinfo.avi");
  WriteMovie(file, 1, 24, 5, [](int32_t i) { return Smooth(8, 8, i); }, nullptr,
             {{"INAM", "first"}, {"IART", "second"}});
  Bytes b = fmttest::ReadFile(file);
  const std::string all(b.begin(), b.end());
  const size_t entry = all.find("INFOINAM") + 4;
  // The first entry claims far more than the list holds; the second one's
  // text runs to the list's end without a zero.
  b[entry + 4] = 0xF0;
  b[entry + 7] = 0x7F;
  fmttest::WriteFile(file, b);
  AviFileRec h;
  AviOpen(&h, file);
  std::string text;
  AviGetCustomInfo(&h, "INAM", &text);
  EXPECT_EQ("first", text);  // the match reads only what is there
  AviGetCustomInfo(&h, "IART", &text);
  EXPECT_EQ("", text);  // the walk stops at the end of the data
  AviClose(&h);
  UseCodec("cvid");
}

// A codec that refuses its set-up data: FFmpeg's own lines go into the trace
// file and nowhere else, and the caller gets the library's error pair.
TEST(AviDamaged, CodecMessagesGoToTheTraceOnly) {
  REQUIRE_TOOL("ffmpeg");
  const std::string file = Path("badsetup.avi");
  if (!PeerMovie(file, 3, "-c:v utvideo")) GTEST_SKIP() << "no Ut Video encoder";
  Bytes b = fmttest::ReadFile(file);
  const std::string all(b.begin(), b.end());
  const size_t setup = all.find("strf") + 8 + Gdi::kBitmapInfoHeaderSize;
  for (size_t i = setup; i < setup + 16; i++) b[i] = 0xFF;
  fmttest::WriteFile(file, b);
  const std::string trace = Path("trace.txt"), errors = Path("stderr.txt");
  Errors::TraceSetFile(trace);
  Errors::TraceStart("QOR 2.8.0");
  std::fflush(stderr);
  const int saved = dup(2);
  FILE* sink = std::fopen(errors.c_str(), "w");
  ASSERT_NE(nullptr, sink);
  dup2(fileno(sink), 2);
  AviFileRec h;
  AviOpen(&h, file);
  ImgBasic::Qimg img;
  EXPECT_THROW(AviImgLoad(&h, &img, 1, 0), Errors::EMon);
  EXPECT_EQ(Errors::kClsAvi, Errors::ErrClass());
  EXPECT_EQ(1, Errors::ErrCode());
  ImgBasic::ImgFree(&img);
  AviClose(&h);
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::fclose(sink);
  Errors::TraceStop();
  EXPECT_EQ("", TestUtil::ReadText(errors));
  EXPECT_NE(std::string::npos, TestUtil::ReadText(trace).find("FFmpeg: [utvideo @ "));
  Errors::ErrClear();
}

TEST(AviDamaged, EmptyAudioStreamIsDroppedWithAWarning) {
  REQUIRE_TOOL("ffmpeg");
  const std::string file = Path("noaudio.avi");
  ASSERT_EQ(0, fmttest::Shell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=32x24:rate=10 -f lavfi "
                              "-i anullsrc=r=8000:cl=mono -t 0.5 -c:v rawvideo -pix_fmt bgr24 "
                              "-c:a pcm_s16le -af atrim=end_sample=0 '" +
                              file + "'"));
  AviFileRec h;
  AviOpen(&h, file);
  EXPECT_EQ(nullptr, h.audio);
  EXPECT_EQ(Errors::kClsAvi, Errors::WarnClass());
  EXPECT_EQ(8, Errors::WarnCode());
  SndBasic::SndRec s;
  EXPECT_THROW(AviSndLoad(&h, &s, 0, 0, 10), Errors::EMon);
  SndBasic::SndFree(s);
  AviClose(&h);
}

TEST(AviDamaged, TruncatedAndBitFlippedFilesGiveErrorPairs) {
  const int32_t mark = Basic::MemMark();
  UseCodec("cvid");
  SndBasic::SndRec tone = Tone(3000, 11025);
  const std::string good = Path("good.avi");
  WriteMovie(good, 4, 24, 10, [](int32_t i) { return Smooth(32, 16, i); }, &tone,
             {{"INAM", "name"}});
  SndBasic::SndFree(tone);
  const Bytes b = fmttest::ReadFile(good);
  const std::string bad = Path("bad.avi");
  for (size_t cut :
       {size_t{0}, size_t{11}, size_t{100}, b.size() / 3, b.size() / 2, b.size() - 20}) {
    fmttest::WriteFile(bad, Bytes(b.begin(), b.begin() + static_cast<ptrdiff_t>(cut)));
    ReadEverything(bad);
  }
  uint32_t seed = 99;
  for (int round = 0; round < 40; round++) {
    Bytes d = b;
    for (int k = 0; k < 6; k++) {
      seed = seed * 1103515245u + 12345u;
      d[(seed >> 8) % d.size()] ^= static_cast<uint8_t>(1u << (seed % 8));
    }
    fmttest::WriteFile(bad, d);
    ReadEverything(bad);
  }
  EXPECT_EQ(0, AviOpenCount());
  EXPECT_EQ(mark, Basic::MemMark());
}

// The movie layer keeps to the process's frame-count limit as every reader
// does: a stream with more chunks, or an index with more entries, than it
// allows is refused (the image error through the format layer, a size
// error from the file layer), and the same file reads once the limit is
// wide enough.
TEST(AviLimits, ChunkListsAndTheIndexFollowTheFrameCountLimit) {
  const int32_t mark = Basic::MemMark();
  UseCodec("DIB ", 24);
  auto make = [](int32_t i) { return fmttest::TestPicture(8, 4, 40 + i); };
  const std::string many = Path("many.avi");
  WriteMovie(many, 12, 24, 10, make);
  auto refused = [](const std::string& file) {
    AviFile::PAVIFILE pf = nullptr;
    const AviFile::HRESULT hr = AviFile::AVIFileOpen(&pf, file.c_str(), AviFile::OF_READ, nullptr);
    if (pf != nullptr) AviFile::AVIFileRelease(pf);
    AviFileRec h;
    bool imageError = false;
    try {
      AviOpen(&h, file);
    } catch (const Errors::EMon&) {
      imageError = Errors::ErrClass() == Errors::kClsImage && Errors::ErrCode() == 2;
    }
    AviClose(&h);
    Errors::ErrClear();
    return hr == AviFile::AVIERR_BADSIZE && imageError;
  };

  FFBasic::FFSetLimits(FFBasic::kMaxImageBytes, 11);
  EXPECT_TRUE(refused(many));

  // Three frames whose index claims twenty more entries than there are.
  const std::string few = Path("few.avi");
  WriteMovie(few, 3, 24, 10, make);
  Bytes b = fmttest::ReadFile(few);
  const auto idx1 = std::search(b.begin(), b.end(), std::begin("idx1"), std::end("idx1") - 1);
  ASSERT_NE(b.end(), idx1);
  const size_t at = static_cast<size_t>(idx1 - b.begin());
  ASSERT_EQ(b.size(), at + 8 + FFBasic::Get32L(&b[at + 4]));
  for (int k = 0; k < 20; k++) b.insert(b.end(), {'0', '0', 'd', 'c', 16, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0});
  FFBasic::Put32L(&b[at + 4], static_cast<uint32_t>(b.size() - at - 8));
  FFBasic::Put32L(&b[4], static_cast<uint32_t>(b.size() - 8));
  const std::string claims = Path("claims.avi");
  fmttest::WriteFile(claims, b);
  FFBasic::FFSetLimits(FFBasic::kMaxImageBytes, 22);
  EXPECT_TRUE(refused(claims));
  FFBasic::FFSetLimits(FFBasic::kMaxImageBytes, 23);
  EXPECT_FALSE(refused(claims));

  FFBasic::FFSetLimits(FFBasic::kMaxImageBytes, 12);
  AviFileRec h;
  AviOpen(&h, many);
  EXPECT_EQ(12, h.frameCount);
  EXPECT_EQ(make(11), LoadFrame(&h, 12));
  AviClose(&h);
  FFBasic::FFSetLimits(0, 0);
  UseCodec("cvid");
  EXPECT_EQ(0, AviOpenCount());
  EXPECT_EQ(mark, Basic::MemMark());
}

TEST(AviRead, FrameZeroIsTheNextAndTheLastOneIsNotReadAgain) {
  UseCodec("DIB ", 24);
  const std::string file = Path("order.avi");
  auto make = [](int32_t i) { return fmttest::TestPicture(8, 4, 20 + i); };
  WriteMovie(file, 4, 24, 10, make);
  AviFileRec h;
  AviOpen(&h, file);
  EXPECT_EQ(make(1), LoadFrame(&h, 2));
  EXPECT_EQ(make(2), LoadFrame(&h, 0));
  ImgBasic::Qimg untouched;
  AviImgLoad(&h, &untouched, 3, 1);  // continuing with the frame just loaded
  EXPECT_EQ(nullptr, untouched.data);
  AviImgSetPos(&h, 1);
  EXPECT_EQ(make(0), LoadFrame(&h, 0));
  ImgBasic::Qimg img;
  EXPECT_THROW(AviImgLoad(&h, &img, 5, 0), Errors::EMon);
  EXPECT_EQ(Errors::kClsAvi, Errors::ErrClass());
  EXPECT_EQ(1, Errors::ErrCode());
  // Uncompressed 24-bit frames go through the direct reader, 32-bit ones
  // through the file layer's frame extraction.
  EXPECT_TRUE(h.directFrames);
  AviClose(&h);
  UseCodec("DIB ", 32);
  WriteMovie(file, 2, 32, 10, make);
  AviOpen(&h, file);
  EXPECT_FALSE(h.directFrames);
  EXPECT_NE(nullptr, h.video);
  AviClose(&h);
  UseCodec("cvid");
}

TEST(AviMvi, TheMultiFrameLayerWritesAndReadsAvi) {
  UseCodec("MJPG");
  const std::string file = Path("mvi.avi");
  ConForm::MviFile mvi;
  ConForm::MviCreate(&mvi, file, 8, 2, 3);
  ConForm::MviSetAviCustomInfo(&mvi, "IART", "The artist");
  SndBasic::SndRec tone = Tone(1500, 8000);
  for (int32_t i = 0; i < 3; i++) {
    ImgBasic::Qimg img;
    fmttest::ToQimg(Smooth(32, 16, i), 24, &img);
    ConForm::MviImgSave(&mvi, &img);
    ImgBasic::ImgFree(&img);
    ConForm::MviSndSave(&mvi, &tone);
  }
  EXPECT_EQ(3, ConForm::MviFrameCount(&mvi));
  EXPECT_EQ(4500, ConForm::MviSamplePos(&mvi));
  ConForm::MviClose(&mvi);
  ConForm::MviOpen(&mvi, file, Basic::K_AUTO, nullptr, nullptr);
  EXPECT_TRUE(mvi.hasSound);
  EXPECT_EQ(32, ConForm::MviWidth(&mvi));
  EXPECT_EQ(24, ConForm::MviBitsPerPixel(&mvi));
  EXPECT_DOUBLE_EQ(8.0, ConForm::MviFps(&mvi));
  ImgBasic::Qimg img;
  ConForm::MviImgLoad(&mvi, &img, 2, 0, nullptr);
  EXPECT_GT(Psnr(Smooth(32, 16, 1), fmttest::FromQimg(img)), 22);
  ImgBasic::ImgFree(&img);
  SndBasic::SndRec s;
  ConForm::MviSndLoad(&mvi, &s, 1500, 1500, 0);
  ASSERT_EQ(1500, s.frames);
  EXPECT_EQ(0, std::memcmp(s.data, tone.data, 3000));
  SndBasic::SndFree(s);
  std::string text;
  AviGetCustomInfo(static_cast<AviFileRec*>(mvi.handle), "IART", &text);
  EXPECT_EQ("The artist", text);
  ConForm::MviClose(&mvi);
  SndBasic::SndFree(tone);
  UseCodec("cvid");
}
