// WAV, Ogg Vorbis and MPEG behind the multi-frame and universal source
// layers: sound written through MviCreate / MviSndSave is described by
// UniInfo and read back through UniSndLoad; an MPEG movie with sound is
// written and read back frame by frame.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "formats/ConForm.h"
#include "formats/FF_MPG.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "media/ImgBasic.h"
#include "media/SndBasic.h"
#include "support/TestUtil.h"

using namespace ConForm;
using ImgBasic::Qimg;

namespace {

// 0.5 s of a stereo tone at 32000 Hz, 16 bits.
void Tone(SndBasic::SndRec* s) {
  const int32_t n = 16000;
  SndBasic::_sndalloc_(*s, int64_t{n} * 4, __LINE__, "test.mvi");
  int16_t* p = reinterpret_cast<int16_t*>(s->data);
  for (int32_t i = 0; i < n; i++) p[2 * i] = p[2 * i + 1] = int16_t(8000 * std::sin(i * 0.05));
  s->frames = n;
  SndBasic::WaveFormatSetPCM(s->format, 32000, 2, 16);
}

TEST(MviSound, SoundFormatsRoundTripThroughTheLayers) {
  TestUtil::TempDir dir;
  SndBasic::SndRec tone;
  Tone(&tone);
  for (const char* ext : {"wav", "ogg", "mp2"}) {
    SCOPED_TRACE(ext);
    const std::string name = dir.File(std::string("s.") + ext);
    MviFile out;
    MviCreate(&out, name, 25.0, 1, 0);
    EXPECT_TRUE(MviWriteMode(&out));
    MviSndSave(&out, &tone);
    MviSndSave(&out, &tone);
    EXPECT_EQ(MviSamplePos(&out), 32000);
    EXPECT_EQ(MviWaveFormat(&out).samplesPerSec, 32000u);
    // Pictures go nowhere in a sound file, and a sound handle has none.
    EXPECT_EQ(MviFrameCount(&out), 0);
    MviClose(&out);
    ASSERT_TRUE(Errors::ErrNone()) << Errors::ErrLastText();

    UniInfoRec info;
    ASSERT_TRUE(UniInfo(name, &info, 1, nullptr, nullptr, false));
    EXPECT_EQ(info.kind, kKindStream);
    EXPECT_FALSE(info.picture.hasPictures);
    EXPECT_TRUE(info.sound.soundReadable);
    // Layer II keeps whole frames of 1152 samples, with the coder's delay.
    EXPECT_NEAR(info.sound.sampleFrames, 32000, std::string(ext) == "mp2" ? 2400 : 0);
    UniFile uni;
    UniOpen(&uni, &info);
    EXPECT_TRUE(uni.mvi.hasSound);
    SndBasic::SndRec s;
    UniSndLoad(&uni, &s, 100, 500, 0);
    EXPECT_EQ(s.frames, 500);
    EXPECT_EQ(s.format.channels, 2);
    EXPECT_EQ(uni.samplePosition, 600);
    EXPECT_DOUBLE_EQ(uni.audioTime, 600 / 32000.0);
    if (std::string(ext) == "wav") {
      EXPECT_EQ(std::memcmp(s.data, tone.data + 400, 2000), 0);
    }
    Qimg img;
    EXPECT_THROW(UniImgLoad(&uni, &img, 1, 0), Errors::EMon);
    EXPECT_EQ(Errors::ErrClass(), 12);
    EXPECT_EQ(Errors::ErrCode(), 5);
    SndBasic::SndFree(s);
    UniClose(&uni);
  }
  SndBasic::SndFree(tone);
}

TEST(MviSound, MpegMovieWithSound) {
  TestUtil::TempDir dir;
  FF_MPG::MpgSetType(FF_MPG::kTypeMpeg1);
  const std::string name = dir.File("m.mpg");
  MviFile out;
  MviCreate(&out, name, 25.0, 1, 8);
  Qimg img;
  for (int k = 0; k < 8; k++) {
    ImgBasic::_imgalloc_(&img, 48, 32, "test.mvi", __LINE__, 24);
    std::memset(img.data, 40 + 20 * k, size_t(img.size));
    MviImgSave(&out, &img);
  }
  EXPECT_EQ(MviFrameCount(&out), 8);
  EXPECT_EQ(MviFps(&out), 25.0);
  SndBasic::SndRec tone;
  Tone(&tone);
  MviSndSave(&out, &tone);
  MviClose(&out);
  ASSERT_TRUE(Errors::ErrNone()) << Errors::ErrLastText();

  UniInfoRec info;
  ASSERT_TRUE(UniInfo(name, &info, 1, nullptr, nullptr, false));
  EXPECT_EQ(info.format, kFmtMPEG);
  EXPECT_EQ(info.picture.frameCount, 8);
  EXPECT_TRUE(info.sound.soundReadable);
  UniFile uni;
  UniOpen(&uni, &info);
  EXPECT_EQ(MviWidth(&uni.mvi), 48);
  EXPECT_EQ(MviHeight(&uni.mvi), 32);
  EXPECT_EQ(MviBitsPerPixel(&uni.mvi), 24);
  EXPECT_FALSE(MviNewPalette(&uni.mvi));
  UniImgLoad(&uni, &img, 6, 0);
  EXPECT_EQ(uni.currentFrame, 6);
  EXPECT_NEAR(img.data[100], 40 + 20 * 5, 4);
  SndBasic::SndRec s;
  UniSndLoad(&uni, &s, 0, 1000, 0);
  EXPECT_EQ(s.frames, 1000);
  SndBasic::SndFree(s);
  SndBasic::SndFree(tone);
  ImgBasic::ImgFree(&img);
  UniClose(&uni);
}

}  // namespace
