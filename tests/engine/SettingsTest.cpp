// The conversion handle and the output settings, seen in the record the
// exports fill (what a host cannot read back is checked here).
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "engine/Common.h"
#include "engine/QorMain.h"
#include "formats/FF_AVI.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "foundation/Translator.h"
#include "qor.h"

using Common::QorRec;

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Translator::TranInit();
    FF_AVI::AviUnitInit();
    QorMain::QorMainInit();
    handle = QorAlloc();
    ASSERT_NE(handle, nullptr);
    rec = static_cast<QorRec*>(handle);
    mark = Basic::MemMark();
  }
  void TearDown() override {
    rec->status = 0;
    QorFree(handle);
    EXPECT_EQ(Basic::MemMark(), mark - 1) << "tracked blocks left behind";
    FF_AVI::AviUnitDone();
    Translator::TranFree();
  }
  QorLastError Last() {
    QorLastError r{-5, -5, -5};
    QorGetLastError(&r);
    return r;
  }
  int32_t mark = 0;
  QorHandle handle = nullptr;
  QorRec* rec = nullptr;
};

}  // namespace

TEST_F(SettingsTest, FreshHandleHoldsEveryDefault) {
  EXPECT_NE(Basic::MemTrackedLabel(handle).find("QorMain.QorAlloc.dataP"), std::string::npos);
  EXPECT_EQ(rec->plannedFrames, 1);
  EXPECT_EQ(rec->width, 320);
  EXPECT_EQ(rec->height, 240);
  EXPECT_EQ(rec->autoRes, -1);
  EXPECT_EQ(rec->bpp, 24);
  EXPECT_EQ(rec->dither, 0);
  EXPECT_EQ(rec->frameRate, 30.0);
  EXPECT_EQ(rec->keepDuration, 0);
  EXPECT_EQ(rec->direction, 1);
  EXPECT_EQ(rec->forceCompat, 0);
  EXPECT_EQ(rec->videoFormat, K_AUTO);
  EXPECT_EQ(rec->audioFormat, K_AUTO);
  EXPECT_TRUE(rec->videoName.empty());
  EXPECT_TRUE(rec->audioName.empty());
  EXPECT_EQ(rec->videoSave.kind, 8);
  EXPECT_EQ(rec->audioSave.kind, 16);
  EXPECT_EQ(rec->wave.formatTag, 1);
  EXPECT_EQ(rec->wave.samplesPerSec, 44100u);
  EXPECT_EQ(rec->wave.channels, 2);
  EXPECT_EQ(rec->wave.bitsPerSample, 16);
  EXPECT_EQ(rec->wave.blockAlign, 4);
  EXPECT_EQ(rec->truncateAudio, 0);
  EXPECT_TRUE(!rec->videoSource && !rec->videoFunc && !rec->audioSource && !rec->audioFunc &&
              !rec->progress && !rec->error);
  EXPECT_EQ(rec->currentStream, 0);
  EXPECT_EQ(rec->currentBlock, nullptr);
  EXPECT_EQ(rec->status, 0);
  EXPECT_EQ(rec->videoPredict.index, 0);
  EXPECT_EQ(rec->doneFrames + rec->doneSamples, 0);
  EXPECT_EQ(QorGetStatus(handle), 0);
}

TEST_F(SettingsTest, FreeIgnoresNilAndARunningRecordAndRefusesAStaleHandle) {
  QorFree(nullptr);
  EXPECT_EQ(Last().code, 0);
  QorHandle other = QorAlloc();
  auto* running = static_cast<QorRec*>(other);
  running->status = Common::kPhaseWriting;
  QorFree(other);
  EXPECT_EQ(Last().code, 0);
  EXPECT_TRUE(Basic::MemIsTracked(other));  // still valid
  running->status = 0;
  QorFree(other);
  EXPECT_FALSE(Basic::MemIsTracked(other));
  // A second free, or a setter on the freed handle, is refused, not a crash.
  QorFree(other);
  EXPECT_EQ(Last().code, 999);
  QorSetBpp(other, 8);
  EXPECT_EQ(Last().code, 999);
  int32_t local = 0;
  QorSetBpp(&local, 8);
  EXPECT_EQ(Last().code, 999);
}

TEST_F(SettingsTest, AllocationFailureGivesNilAndTheMemoryError) {
  Basic::Faults().failAllocAfter = 0;
  EXPECT_EQ(QorAlloc(), nullptr);
  Basic::Faults().failAllocAfter = -1;
  const QorLastError r = Last();
  EXPECT_EQ(r.code, 1000);
  EXPECT_EQ(r.errClass, 5);
  EXPECT_EQ(r.errNum, 1);
  Errors::ErrClear();
}

TEST(CompatibleRes, MultiplesOf16HalvesUpAtLeast16) {
  struct Case {
    int32_t w, h, ew, eh;
  };
  for (const Case c : {Case{320, 240, 320, 240}, Case{100, 50, 96, 48}, Case{7, 0, 16, 16},
                       Case{24, 40, 32, 48}, Case{23, -50, 16, 16},
                       Case{INT_MAX, 8, 0x7FFFFFF0, 16}}) {
    int32_t w = c.w, h = c.h;
    Common::MakeCompatibleRes(&w, &h);
    EXPECT_EQ(w, c.ew) << c.w;
    EXPECT_EQ(h, c.eh) << c.h;
  }
}

TEST_F(SettingsTest, SizeAndDepthAreLimitedAndLeftAloneWhileConverting) {
  QorSetResolution(handle, 0, 20000);
  EXPECT_EQ(rec->width, 1);
  EXPECT_EQ(rec->height, 16000);
  EXPECT_EQ(rec->autoRes, 0);
  QorSetBpp(handle, 12);
  EXPECT_EQ(rec->bpp, 24);
  QorSetBpp(handle, 32);  // the last depth taken, and the next number
  EXPECT_EQ(rec->bpp, 32);
  QorSetBpp(handle, 33);
  EXPECT_EQ(rec->bpp, 32);
  QorSetBpp(handle, 15);
  EXPECT_EQ(rec->bpp, 15);
  rec->status = Common::kPhasePalette;
  QorSetResolution(handle, 640, 480);
  QorSetBpp(handle, 8);
  EXPECT_EQ(rec->width, 1);
  EXPECT_EQ(rec->bpp, 15);
  // The other settings take effect at the next conversion.
  QorSetDithering(handle, 7);
  QorForceCompatibility(handle, 5);
  QorSetKeepDuration(handle, 1);
  QorSetFrameRate(handle, -2.5);
  EXPECT_EQ(rec->dither, 7);
  EXPECT_EQ(rec->forceCompat, -1);
  EXPECT_EQ(rec->keepDuration, -1);
  EXPECT_EQ(rec->frameRate, -2.5);
  EXPECT_EQ(Last().code, 0);
}

TEST_F(SettingsTest, OutputNamesGiveFormatsAndM2vSelectsMpeg2) {
  const std::string longName = "/tmp/" + std::string(300, 'v') + ".avi";
  QorSetOutputFile(handle, longName.c_str(), "/tmp/track.WAV");
  EXPECT_EQ(rec->videoName, longName);  // kept whole
  EXPECT_EQ(rec->videoFormat, 6);
  EXPECT_EQ(rec->videoSave.format, 6);
  EXPECT_EQ(rec->audioFormat, 12);
  EXPECT_EQ(rec->audioSave.format, 12);
  QorSetOutputFile(handle, "/tmp/a.mpg", nullptr);
  EXPECT_EQ(rec->videoSave.mpegCodec, 0);
  EXPECT_TRUE(rec->audioName.empty());
  EXPECT_EQ(rec->audioFormat, K_AUTO);
  QorSetOutputFile(handle, "/tmp/clip.M2V", "");
  EXPECT_EQ(rec->videoFormat, 11);
  EXPECT_EQ(rec->videoSave.mpegCodec, 2);
  QorSetOutputFile(handle, "/tmp/a.mpg", "");
  EXPECT_EQ(rec->videoSave.mpegCodec, 2);  // stays as it was
  // Readable but not writable, unknown, and no extension at all.
  for (const char* name : {"/tmp/a.gif", "/tmp/a.xyz", "/tmp/noext", "/tmp.d/x"}) {
    QorSetOutputFile(handle, name, name);
    EXPECT_EQ(rec->videoFormat, K_AUTO) << name;
    EXPECT_EQ(rec->audioFormat, K_AUTO) << name;
  }
}

TEST_F(SettingsTest, FormatSettersReachTheOptionsOfTheirStream) {
  QorSetByteRate(handle, 11, 200);
  EXPECT_EQ(rec->videoSave.mpegVideoBitRate, 1600);
  QorSetBitRate(handle, 18, 128);  // sound only: the audio output's options
  EXPECT_EQ(rec->audioSave.mpegAudioBitRate, 128);
  EXPECT_EQ(rec->videoSave.mpegAudioBitRate, 224);
  // x 8 beyond 32 bits is kept at the largest value, not wrapped.
  QorSetByteRate(handle, 11, 300000000);
  EXPECT_EQ(rec->videoSave.mpegVideoBitRate, INT_MAX);
  QorSetByteRate(handle, 6, INT_MAX);
  EXPECT_EQ(rec->videoSave.avi.dataRate, INT_MAX / 8);
  QorSetQuality(handle, 8, 50);
  EXPECT_EQ(rec->videoSave.jpegQuality, 50);
  QorSetQuality(handle, 19, 7);
  EXPECT_EQ(rec->audioSave.oggQuality, 7);
  QorSetKeyFrameRate(handle, 7, 10);  // always the picture options
  EXPECT_EQ(rec->videoSave.kwbKeyFrameRate, 10);
  QorSetCodec(handle, 10, 5);
  EXPECT_EQ(rec->videoSave.tiffCompression, 5);
  // A format outside the save table counts as sound only.
  QorSetCodec(handle, 99, 3);
  EXPECT_EQ(rec->audioSave.format, 99);
  EXPECT_EQ(rec->videoSave.format, 10);
  QorAviAddCustomInfo(handle, "INAMEXTRA", "title");
  EXPECT_EQ(rec->videoSave.customCount, 1);
  EXPECT_EQ(rec->videoSave.custom[0].id, "INAM");
  QorAviClearCustomInfo(handle);
  EXPECT_EQ(rec->videoSave.customCount, 0);
  EXPECT_EQ(Last().code, 0);
}

TEST_F(SettingsTest, AudioFormatRefusesWhatNoSoundCanHave) {
  QorSetAudioFormat(handle, 22050, 1, 8);
  EXPECT_EQ(rec->wave.samplesPerSec, 22050u);
  EXPECT_EQ(rec->wave.blockAlign, 1);
  EXPECT_EQ(Last().code, 0);
  struct Bad {
    int32_t rate, channels, bits;
  };
  for (const Bad b : {Bad{0, 2, 16}, Bad{44100, -1, 16}, Bad{44100, 2, 0}, Bad{-8000, 1, 8},
                      Bad{44100, 70000, 16}}) {
    QorSetAudioFormat(handle, b.rate, b.channels, b.bits);
    const QorLastError r = Last();
    EXPECT_EQ(r.code, 1000);
    EXPECT_EQ(r.errClass, 8);
    EXPECT_EQ(r.errNum, 4);
    EXPECT_EQ(rec->wave.samplesPerSec, 22050u);
    EXPECT_EQ(rec->wave.channels, 1);
  }
  Errors::ErrClear();
}

TEST_F(SettingsTest, AudioCodecDefaultsAdaptTheWaveFormat) {
  QorSetAudioFormat(handle, 22050, 1, 8);
  rec->audioFormat = 11;  // MPEG: stereo, 16 bits, an MPEG rate
  QorMain::SetAudioCodecDefaults(rec);
  EXPECT_EQ(rec->wave.samplesPerSec, 32000u);
  EXPECT_EQ(rec->wave.channels, 2);
  EXPECT_EQ(rec->wave.bitsPerSample, 16);
  QorSetAudioFormat(handle, 96000, 1, 8);
  rec->audioFormat = 18;  // MPEG audio keeps the channels
  QorMain::SetAudioCodecDefaults(rec);
  EXPECT_EQ(rec->wave.samplesPerSec, 48000u);
  EXPECT_EQ(rec->wave.channels, 1);
  EXPECT_EQ(rec->wave.bitsPerSample, 16);
  QorSetAudioFormat(handle, 96000, 2, 8);
  rec->audioFormat = 19;
  QorMain::SetAudioCodecDefaults(rec);
  EXPECT_EQ(rec->wave.samplesPerSec, 48000u);
  EXPECT_EQ(rec->wave.bitsPerSample, 16);
  QorSetAudioFormat(handle, 11025, 1, 8);
  rec->audioFormat = 12;  // WAV keeps the format
  QorMain::SetAudioCodecDefaults(rec);
  EXPECT_EQ(rec->wave.samplesPerSec, 11025u);
  EXPECT_EQ(rec->wave.bitsPerSample, 8);
}

TEST_F(SettingsTest, VideoFormatPreparesAndKeepsThePreparedValues) {
  int32_t codec = 0, quality = 0, byteRate = 0, keyFrames = 0;
  QorGetVideoFormat(handle, 8, 64, 64, 24, &codec, &quality, &byteRate, &keyFrames);
  EXPECT_EQ(quality, 85);
  EXPECT_EQ(byteRate, K_AUTO);  // no rate for JPEG
  QorSetCodec(handle, 11, 3);
  QorGetVideoFormat(handle, 11, 350, 250, 24, &codec, &quality, &byteRate, &keyFrames);
  EXPECT_EQ(Last().code, 0);
  EXPECT_EQ(codec, 3);
  EXPECT_EQ(byteRate, 1700 / 8);
  EXPECT_EQ(quality, 85);  // the record keeps what earlier preparations set
  EXPECT_EQ(keyFrames, K_AUTO);
  EXPECT_EQ(rec->videoSave.preparedWidth, 352);
  EXPECT_EQ(rec->videoSave.preparedHeight, 256);
  EXPECT_EQ(rec->wave.channels, 2);
  QorGetVideoFormat(handle, 7, 64, 64, 24, &codec, &quality, &byteRate, nullptr);
  EXPECT_EQ(Last().code, 999);
}

TEST_F(SettingsTest, SourceBuffersAreReleasedTogether) {
  Basic::MemAlloc(QorMain::VideoSourceName(), 8, __LINE__, Basic::kMemString,
                  "QorMain.QorSrcSetFile.destStrP");
  ImgBasic::_imgalloc_(&QorMain::SourceImage(), 4, 4, "test.img", __LINE__, 24);
  SndBasic::SndMakeSilence(QorMain::SourceSound(), 10, 8000, 8, 1);
  QorMain::ReleaseSourceBuffers();
  EXPECT_EQ(QorMain::VideoSourceName(), nullptr);
  EXPECT_EQ(QorMain::AudioSourceName(), nullptr);
  EXPECT_EQ(QorMain::SourceImage().data, nullptr);
  EXPECT_EQ(QorMain::SourceSound().data, nullptr);
}

namespace {
// A real of the packed record read by value, not bound to its field.
double Real(double value) { return value; }
}  // namespace

TEST(FileInfoOut, SequenceLimitsAndTextsCutInsideTheirArrays) {
  int32_t maxFiles = 0;
  bool minus = true;
  QorMain::SeqDetectLimits(0, &maxFiles, &minus);
  EXPECT_EQ(maxFiles, 1);
  EXPECT_FALSE(minus);
  QorMain::SeqDetectLimits(2, &maxFiles, &minus);
  EXPECT_EQ(maxFiles, 2147483647);
  EXPECT_TRUE(minus);
  QorMain::SeqDetectLimits(-7, &maxFiles, &minus);
  EXPECT_EQ(maxFiles, 2147483647);
  EXPECT_FALSE(minus);

  ConForm::UniInfoRec info;
  info.name = std::string(500, 'n');
  info.filter = std::string(500, 'f');
  info.picture.videoCompression = std::string(128, 'v');
  info.sound.audioCompression = "PCM";
  info.picture.hasPictures = true;
  info.sound.soundReadable = true;
  info.sound.sampleRate = 22050;
  QorFileInfo out;
  std::memset(&out, 0x5A, sizeof out);
  QorMain::CopyFileInfoOut(info, &out);
  EXPECT_EQ(std::string(out.fileName), std::string(263, 'n'));
  EXPECT_EQ(std::string(out.filter), std::string(127, 'f'));
  EXPECT_EQ(std::string(out.videoCompression), std::string(127, 'v'));
  EXPECT_STREQ(out.audioCompression, "PCM");
  EXPECT_EQ(out.audioCompression[4], '\0');  // zeroed before filling
  EXPECT_EQ(out.hasPictures, -1);
  EXPECT_EQ(out.picturesReadable, 0);
  EXPECT_EQ(out.soundReadable, -1);
  EXPECT_EQ(Real(out.sampleRate), 22050.0);
  EXPECT_EQ(out.blockAlign, 0);
}
