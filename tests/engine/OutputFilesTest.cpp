// The output handle: one still overwritten by every frame, numbered
// sequences, streams with sound, later frames and sounds of another format
// converted in copies, refused writes, closing twice, and the list of what
// a handle wrote. Files are read back by our readers and, where installed,
// by ImageMagick and ffprobe.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/ConFormOut.h"
#include "engine/QorMain.h"
#include "formats/FormatTestUtil.h"
#include "formats/SoundTestUtil.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "qor.h"

using namespace ConForm;
using ImgBasic::Qimg;
using fmttest::Rgb;

namespace {

// Runs one write that may fail; answers the error pair it left.
template <class F>
std::pair<int32_t, int32_t> Outcome(F&& f) {
  Errors::ErrClear();
  soundtest::Try(f);
  return {Errors::ErrClass(), Errors::ErrCode()};
}

// Output handle with fresh save options for the name's own format, as the
// conversion gives it.
void Create(UniOutput* out, const std::string& name, int32_t planned = 1) {
  UniCreate(out, name);
  FFSaveRec save;
  FFSaveInit(&save, kSaveVideo);
  FFSaveSetFmt(&save, out->format);
  UniSetSaveOptions(out, save);
  UniSetFrameCount(out, planned);
  UniSetFrameRate(out, 10.0);
}

Rgb Load(const std::string& name, int32_t* bits = nullptr) {
  Qimg img;
  ImgLoad(name, &img, Basic::K_AUTO, nullptr);
  if (bits) *bits = img.bitsPerPixel;
  Rgb pic = fmttest::FromQimg(img);
  ImgBasic::ImgFree(&img);
  return pic;
}

// Sound of n frames: a ramp at 8 bits or a tone at 16 bits, mono.
void MakeSound(SndBasic::SndRec* s, int32_t n, int32_t bits, int32_t rate) {
  SndBasic::_sndalloc_(*s, int64_t{n} * (bits / 8), __LINE__, "test.sound");
  for (int32_t i = 0; i < n; i++) {
    if (bits == 8) {
      s->data[i] = static_cast<uint8_t>(i * 3);
    } else {
      const int16_t v = static_cast<int16_t>(12000 * std::sin(i * 0.07));
      std::memcpy(s->data + 2 * i, &v, 2);
    }
  }
  s->frames = n;
  SndBasic::WaveFormatSetPCM(s->format, rate, 1, bits);
}

class OutputFiles : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(Basic::MemMark(), 0) << "tracked blocks left behind";
  }
  TestUtil::TempDir dir_;
};

TEST_F(OutputFiles, NumberedNamesFromPlannedCountOrTheNamesOwnNumber) {
  const Rgb a = fmttest::TestPicture(24, 16, 1), b = fmttest::TestPicture(24, 16, 2);
  Qimg ia, ib;
  fmttest::ToQimg(a, 24, &ia);
  fmttest::ToQimg(b, 24, &ib);

  // No number in the name, 120 frames planned: three digits from 000.
  UniOutput plain;
  Create(&plain, dir_.File("frame.tga"), 120);
  EXPECT_EQ(plain.kind, kKindSequence);
  UniImgSave(&plain, ia);
  UniImgSave(&plain, ib);
  UniImgSave(&plain, ia);
  EXPECT_EQ(plain.name, dir_.File("frame000.tga"));
  EXPECT_EQ(plain.framesWritten, 3);
  EXPECT_EQ(plain.createdFiles,
            (std::vector<std::string>{dir_.File("frame000.tga"), dir_.File("frame001.tga"),
                                      dir_.File("frame002.tga")}));
  EXPECT_FALSE(Basic::FileExists(dir_.File("frame.tga")));
  EXPECT_EQ(Load(dir_.File("frame001.tga")), b);
  Rgb peer;
  if (TestUtil::HaveTool("tgatoppm") &&
      fmttest::PeerRead("tgatoppm '" + dir_.File("frame002.tga") + "'", &peer)) {
    EXPECT_EQ(peer, a);
  }
  UniClose(&plain);

  // "shot07" with one frame planned still continues its own number with
  // two digits.
  UniOutput shot;
  Create(&shot, dir_.File("shot07.tga"));
  UniImgSave(&shot, ia);
  UniImgSave(&shot, ib);
  EXPECT_EQ(shot.name, dir_.File("shot07.tga"));
  EXPECT_EQ(shot.framesWritten, 2);
  EXPECT_EQ(Load(dir_.File("shot07.tga")), a);
  EXPECT_EQ(Load(dir_.File("shot08.tga")), b);
  EXPECT_FALSE(Basic::FileExists(dir_.File("shot8.tga")));
  UniClose(&shot);
  ImgBasic::ImgFree(&ia);
  ImgBasic::ImgFree(&ib);
}

TEST_F(OutputFiles, OneStillIsOverwrittenByEveryFrame) {
  const Rgb a = fmttest::TestPicture(20, 10, 3), b = fmttest::TestPicture(20, 10, 4);
  Qimg ia, ib;
  fmttest::ToQimg(a, 24, &ia);
  fmttest::ToQimg(b, 24, &ib);
  UniOutput out;
  Create(&out, dir_.File("one.bmp"));
  UniImgSave(&out, ia);
  UniImgSave(&out, ib);
  EXPECT_EQ(out.kind, kKindImage);
  EXPECT_EQ(out.framesWritten, 1);
  EXPECT_EQ(out.name, dir_.File("one.bmp"));
  EXPECT_EQ(Load(dir_.File("one.bmp")), b);
  EXPECT_EQ(out.createdFiles, std::vector<std::string>{dir_.File("one.bmp")});
  UniClose(&out);
  ImgBasic::ImgFree(&ia);
  ImgBasic::ImgFree(&ib);
}

TEST_F(OutputFiles, LaterFrameOfAnotherSizeAndDepthIsConvertedInACopy) {
  // First frame 8 bits at 160 x 120; then 24 bits at 320 x 240 in four
  // coloured quarters.
  Qimg first, later;
  fmttest::ToQimg(fmttest::FewColours(160, 120), 8, &first);
  Rgb quarters;
  quarters.width = 320;
  quarters.height = 240;
  // Colours the palette optimiser keeps exactly (multiples of 8).
  const uint8_t colours[4][3] = {{248, 0, 0}, {0, 200, 0}, {0, 0, 144}, {88, 88, 88}};
  for (int y = 0; y < 240; y++)
    for (int x = 0; x < 320; x++) {
      const uint8_t* c = colours[(y / 120) * 2 + x / 160];
      quarters.rgb.insert(quarters.rgb.end(), c, c + 3);
    }
  fmttest::ToQimg(quarters, 24, &later);
  const std::vector<uint8_t> before(later.data, later.data + later.size);

  UniOutput out;
  Create(&out, dir_.File("f.bmp"), 2);
  UniImgSave(&out, first);
  UniImgSave(&out, later);
  UniClose(&out);

  // The caller's image is as it was.
  EXPECT_EQ(later.width, 320);
  EXPECT_EQ(later.bitsPerPixel, 24);
  EXPECT_TRUE(std::vector<uint8_t>(later.data, later.data + later.size) == before);
  // The file holds it at 8 bits and 160 x 120, each quarter still its colour.
  int32_t bits = 0;
  const Rgb written = Load(dir_.File("f1.bmp"), &bits);
  EXPECT_EQ(bits, 8);
  ASSERT_EQ(written.width, 160);
  ASSERT_EQ(written.height, 120);
  for (int q = 0; q < 4; q++) {
    const int x = (q % 2) * 80 + 40, y = (q / 2) * 60 + 30;
    const uint8_t* p = &written.rgb[(static_cast<size_t>(y) * 160 + x) * 3];
    EXPECT_EQ(std::vector<uint8_t>(p, p + 3),
              std::vector<uint8_t>(colours[q], colours[q] + 3)) << "quarter " << q;
  }
  ImgBasic::ImgFree(&first);
  ImgBasic::ImgFree(&later);
}

TEST_F(OutputFiles, LaterSoundIsConvertedToTheFirstSoundsFormat) {
  SndBasic::SndRec eight, sixteen;
  MakeSound(&eight, 1000, 8, 11025);
  MakeSound(&sixteen, 1000, 16, 11025);
  const std::vector<uint8_t> before(sixteen.data, sixteen.data + 2000);
  const std::string name = dir_.File("s.wav");
  UniOutput out;
  Create(&out, name);
  UniSndSave(&out, eight);
  UniSndSave(&out, sixteen);
  EXPECT_EQ(out.samplesWritten, 2000);
  EXPECT_EQ(out.bitsPerSample, 8);
  EXPECT_EQ(out.bytesPerSecond, 11025);
  EXPECT_NEAR(out.soundSeconds, 2000.0 / 11025, 1e-9);
  UniClose(&out);
  EXPECT_EQ(sixteen.format.bitsPerSample, 16);
  EXPECT_TRUE(std::vector<uint8_t>(sixteen.data, sixteen.data + 2000) == before);

  UniInfoRec info;
  ASSERT_TRUE(UniInfo(name, &info, 1, nullptr, nullptr, false));
  EXPECT_EQ(info.sound.bitsPerSample, 8);
  EXPECT_EQ(info.sound.sampleFrames, 2000);
  UniFile in;
  SndBasic::SndRec back;
  UniOpen(&in, &info);
  UniSndLoad(&in, &back, 0, 2000, 0);
  UniClose(&in);
  ASSERT_EQ(back.frames, 2000);
  EXPECT_TRUE(std::equal(back.data, back.data + 1000, eight.data));
  // A 16-bit sample s became about s / 256 + 128.
  int worst = 0;
  for (int i = 0; i < 1000; i++) {
    int16_t s;
    std::memcpy(&s, sixteen.data + 2 * i, 2);
    worst = std::max(worst, std::abs(back.data[1000 + i] - (s / 256 + 128)));
  }
  EXPECT_LE(worst, 1);
  if (TestUtil::HaveTool("soxi")) {
    const std::string probe = dir_.File("soxi.txt");
    fmttest::Shell("soxi -b '" + name + "' > '" + probe + "'; soxi -s '" + name + "' >> '" +
                   probe + "'");
    EXPECT_EQ(TestUtil::ReadText(probe), "8\n2000\n");
  }
  SndBasic::SndFree(eight);
  SndBasic::SndFree(sixteen);
  SndBasic::SndFree(back);
}

TEST_F(OutputFiles, StreamWithFramesAndSoundIsReadBackByThePeer) {
  Qimg frame;
  SndBasic::SndRec second;
  MakeSound(&second, 11025, 16, 11025);
  const std::string name = dir_.File("m.avi");
  UniOutput out;
  Create(&out, name, 20);
  UniSetInterleave(&out, 10);
  UniAddAviCustomInfo(&out, "INAM", "Output test");
  for (int i = 0; i < 20; i++) {
    fmttest::ToQimg(fmttest::TestPicture(64, 48, 10 + i), 24, &frame);
    UniImgSave(&out, frame);
    ImgBasic::ImgFree(&frame);
    if (i % 10 == 9) UniSndSave(&out, second);
  }
  EXPECT_EQ(out.framesWritten, 20);
  EXPECT_EQ(out.samplesWritten, 22050);
  EXPECT_NEAR(out.soundSeconds, 2.0, 1e-9);
  UniClose(&out);
  ASSERT_TRUE(Errors::ErrNone()) << Errors::ErrLastText();

  UniInfoRec info;
  ASSERT_TRUE(UniInfo(name, &info, 1, nullptr, nullptr, false));
  EXPECT_EQ(info.picture.frameCount, 20);
  EXPECT_EQ(info.sound.sampleFrames, 22050);
  if (!TestUtil::HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
  const std::string probe = dir_.File("probe.txt");
  fmttest::Shell("ffprobe -v error -count_frames -show_entries "
                 "stream=codec_type,width,height,nb_read_frames:format_tags=title -of csv=p=0 '" +
                 name + "' > '" + probe + "'");
  const std::string text = TestUtil::ReadText(probe);
  EXPECT_NE(text.find("video,64,48,20"), std::string::npos) << text;
  EXPECT_NE(text.find("audio"), std::string::npos) << text;
  EXPECT_NE(text.find("Output test"), std::string::npos) << text;
  SndBasic::SndFree(second);
}

TEST_F(OutputFiles, WritesTheOutputCannotHoldAreRefused) {
  Qimg frame;
  fmttest::ToQimg(fmttest::TestPicture(8, 8), 24, &frame);
  SndBasic::SndRec sound;
  MakeSound(&sound, 100, 8, 8000);

  // A frame for a sound-only output: refused before any file is made.
  UniOutput wav;
  Create(&wav, dir_.File("x.wav"));
  EXPECT_EQ(Outcome([&] { UniImgSave(&wav, frame); }), std::make_pair(12, 5));
  EXPECT_FALSE(Basic::FileExists(dir_.File("x.wav")));
  UniClose(&wav);
  // A sound for a still output.
  UniOutput tga;
  Create(&tga, dir_.File("x.tga"));
  EXPECT_EQ(Outcome([&] { UniSndSave(&tga, sound); }), std::make_pair(12, 5));
  UniClose(&tga);
  // A name no writer takes.
  UniOutput unknown;
  Create(&unknown, dir_.File("x.xyz"));
  EXPECT_EQ(Outcome([&] { UniSndSave(&unknown, sound); }), std::make_pair(16, 1));
  EXPECT_EQ(Outcome([&] { UniImgSave(&unknown, frame); }), std::make_pair(16, 1));
  UniClose(&unknown);
  // A stream that cannot be made leaves a handle that closes cleanly.
  UniOutput nowhere;
  Create(&nowhere, dir_.File("missing/x.avi"));
  EXPECT_NE(Outcome([&] { UniImgSave(&nowhere, frame); }).first, 0);
  EXPECT_EQ(Outcome([&] { UniClose(&nowhere); }), std::make_pair(0, 0));
  EXPECT_TRUE(nowhere.createdFiles.empty());
  // A first frame the writer refuses after the stream was made: the stream
  // is closed with the failure, and the handle stays usable to close.
  UniOutput wide;
  Qimg huge;
  ImgBasic::_imgalloc_(&huge, 70000, 1, "test.huge", __LINE__, 8);
  Create(&wide, dir_.File("wide.flc"), 2);
  EXPECT_EQ(Outcome([&] { UniImgSave(&wide, huge); }), std::make_pair(7, 2));
  EXPECT_EQ(wide.mvi.handle, nullptr);
  EXPECT_EQ(Outcome([&] { UniClose(&wide); }), std::make_pair(0, 0));
  EXPECT_EQ(wide.createdFiles, std::vector<std::string>{dir_.File("wide.flc")});
  ImgBasic::ImgFree(&huge);
  // An empty image is not a frame.
  UniOutput bmp;
  Create(&bmp, dir_.File("e.bmp"));
  EXPECT_EQ(Outcome([&] { UniImgSave(&bmp, Qimg{}); }), std::make_pair(7, 9));
  EXPECT_FALSE(bmp.pictureFormatTaken);
  UniClose(&bmp);
  // Nor is a sound without a wave format a sound.
  UniOutput silent;
  Create(&silent, dir_.File("z.wav"));
  EXPECT_EQ(Outcome([&] { UniSndSave(&silent, SndBasic::SndRec{}); }), std::make_pair(8, 4));
  EXPECT_FALSE(silent.soundFormatTaken);
  UniClose(&silent);
  ImgBasic::ImgFree(&frame);
  SndBasic::SndFree(sound);
}

TEST_F(OutputFiles, SharedHandleClosedTwiceFinishesOnceAndDeletesOnlyItsFiles) {
  const std::string name = dir_.File("both.kwb");
  const std::string old = dir_.File("old.wav");
  TestUtil::WriteText(old, "kept as it was");
  Qimg frame;
  fmttest::ToQimg(fmttest::TestPicture(32, 16), 24, &frame);
  SndBasic::SndRec sound;
  MakeSound(&sound, 4000, 16, 8000);
  UniOutput out;
  Create(&out, name, 3);
  for (int i = 0; i < 3; i++) UniImgSave(&out, frame);
  UniSndSave(&out, sound);
  UniClose(&out);
  UniClose(&out);
  ASSERT_TRUE(Errors::ErrNone()) << Errors::ErrLastText();
  EXPECT_EQ(out.kind, kKindNone);
  UniInfoRec info;
  ASSERT_TRUE(UniInfo(name, &info, 1, nullptr, nullptr, false));
  EXPECT_EQ(info.picture.frameCount, 3);
  EXPECT_EQ(info.sound.sampleFrames, 4000);

  // An output refused before it wrote anything leaves the file that was
  // there alone.
  UniOutput refused;
  Create(&refused, old);
  Outcome([&] { UniImgSave(&refused, frame); });
  UniClose(&refused);
  EXPECT_TRUE(refused.createdFiles.empty());
  EXPECT_TRUE(UniDeleteCreated(&refused));
  EXPECT_EQ(TestUtil::ReadText(old), "kept as it was");

  EXPECT_EQ(out.createdFiles, std::vector<std::string>{name});
  EXPECT_TRUE(UniDeleteCreated(&out));
  EXPECT_FALSE(Basic::FileExists(name));
  EXPECT_TRUE(out.createdFiles.empty());
  ImgBasic::ImgFree(&frame);
  SndBasic::SndFree(sound);
}

TEST_F(OutputFiles, PreparedOptionsReachTheWriterWhenTheOutputIsMade) {
  Qimg frame;
  fmttest::ToQimg(fmttest::TestPicture(16, 8), 24, &frame);
  for (int32_t codec : {0, 1}) {
    const std::string name = dir_.File("c" + std::to_string(codec) + ".tga");
    UniOutput out;
    UniCreate(&out, name);
    FFSaveRec save;
    FFSaveInit(&save, kSaveVideo);
    FFSaveSetFmt(&save, kFmtTGA);
    FFSaveSetCodec(&save, codec);
    WaveFormat wave{};
    FFSavePrepare(&save, 16, 8, wave, &wave, &save, 24);
    UniSetSaveOptions(&out, save);
    UniImgSave(&out, frame);
    UniClose(&out);
    // Image type 2 is uncompressed true colour, 10 run-length encoded.
    EXPECT_EQ(static_cast<int>(TestUtil::ReadText(name)[2]), codec ? 10 : 2);
  }
  ImgBasic::ImgFree(&frame);
}

TEST(OutputFormatFlags, FromEitherTable) {
  EXPECT_EQ(GetFmtFlags(kFmtAVI, kSaveTable), 26);
  EXPECT_EQ(GetFmtFlags(kFmtWAV, kSaveTable), 20);
  EXPECT_EQ(GetFmtFlags(kFmtGIF, kSaveTable), Basic::K_AUTO);
  EXPECT_EQ(GetFmtFlags(kFmtGIF, kLoadTable), 11);
  EXPECT_EQ(GetFmtFlags(Basic::K_AUTO, kLoadTable), Basic::K_AUTO);
}

// ---- frame-access files ----------------------------------------------------

QorLastError Last() {
  QorLastError r{-5, -5, -5};
  QorGetLastError(&r);
  return r;
}

// One frame or sound into a created file, as the image and sound exports
// write it: the output is prepared before the first write.
void WriteFrame(QorHandle h, const Qimg& image) {
  QorMain::QorFile* file = QorMain::_QorFileOf(h);
  QorMain::_QorFileCheckCreate(file);
  UniImgSave(&file->output, image);
}

void WriteSound(QorHandle h, const SndBasic::SndRec& sound) {
  QorMain::QorFile* file = QorMain::_QorFileOf(h);
  QorMain::_QorFileCheckCreate(file);
  UniSndSave(&file->output, sound);
}

class FrameAccessFiles : public OutputFiles {};

TEST_F(FrameAccessFiles, CreatedKwbIsReadBackFrameByFrameAndSampleBySample) {
  const std::string name = dir_.File("r.kwb");
  QorHandle h = QorFileCreate(name.c_str());
  ASSERT_NE(h, nullptr);
  QorFileSetVideoParams(h, Basic::K_AUTO, Basic::K_AUTO, Basic::K_AUTO, 12.5, Basic::K_AUTO,
                        Basic::K_AUTO, Basic::K_AUTO);
  QorFileSetAudioParams(h, 22050, 1, 16, Basic::K_AUTO);
  EXPECT_EQ(Last().code, 0);
  std::vector<Rgb> frames;
  Qimg img;
  for (int i = 0; i < 5; i++) {
    frames.push_back(fmttest::TestPicture(40, 30, 20 + i));
    fmttest::ToQimg(frames.back(), 24, &img);
    WriteFrame(h, img);
    ImgBasic::ImgFree(&img);
  }
  SndBasic::SndRec sound;
  MakeSound(&sound, 3000, 16, 22050);
  WriteSound(h, sound);
  QorFileClose(h);
  ASSERT_EQ(Last().code, 0);

  QorFileInfo info;
  QorHandle in = QorFileOpen(name.c_str(), 0, &info, nullptr, nullptr);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(info.frameCount, 5);
  EXPECT_EQ(info.width, 40);
  EXPECT_EQ(info.height, 30);
  EXPECT_DOUBLE_EQ(info.fps, 12.5);
  EXPECT_EQ(info.picturesReadable, -1);
  EXPECT_EQ(info.sampleFrames, 3000);
  EXPECT_EQ(info.channels, 1);
  EXPECT_EQ(info.bitsPerSample, 16);
  EXPECT_DOUBLE_EQ(info.sampleRate, 22050);
  QorMain::QorFile* file = QorMain::_QorFileOf(in);
  for (int i = 0; i < 5; i++) {
    UniImgLoad(&file->source, &file->image, i + 1, 1);
    EXPECT_EQ(fmttest::FromQimg(file->image), frames[static_cast<size_t>(i)]) << "frame " << i;
  }
  SndBasic::SndRec back;
  UniSndLoad(&file->source, &back, 0, 3000, 0);
  ASSERT_EQ(back.frames, 3000);
  EXPECT_EQ(std::memcmp(back.data, sound.data, 6000), 0);
  QorFileClose(in);
  EXPECT_EQ(Last().code, 0);
  SndBasic::SndFree(sound);
  SndBasic::SndFree(back);
}

TEST_F(FrameAccessFiles, AviWithoutParametersIsPreparedOnTheFirstFrameAndThenFixed) {
  const std::string log = dir_.File("log.txt");
  QorLogStart(log.c_str());
  QorLogExtra(1);
  const std::string name = dir_.File("d.avi");
  QorHandle h = QorFileCreate(name.c_str());
  ASSERT_NE(h, nullptr);
  QorMain::QorFile* file = QorMain::_QorFileOf(h);
  // Only the width changes when every other argument is K_AUTO.
  QorFileSetVideoParams(h, 64, Basic::K_AUTO, Basic::K_AUTO, Basic::K_AUTO, Basic::K_AUTO,
                        Basic::K_AUTO, Basic::K_AUTO);
  EXPECT_EQ(file->width, 64);
  EXPECT_EQ(file->height, 240);
  EXPECT_EQ(file->bpp, 24);
  EXPECT_DOUBLE_EQ(file->frameRate, 30.0);
  QorFileSetVideoParams(h, 320, Basic::K_AUTO, Basic::K_AUTO, Basic::K_AUTO, Basic::K_AUTO,
                        Basic::K_AUTO, Basic::K_AUTO);
  // Closing a file that received nothing leaves it open and usable.
  QorFileClose(h);
  EXPECT_TRUE(Common::IsTrackedAs(h, "QorMain.QorFileCreate.fileP"));
  Qimg img;
  fmttest::ToQimg(fmttest::TestPicture(320, 240, 5), 24, &img);
  WriteFrame(h, img);
  EXPECT_TRUE(file->mode);
  EXPECT_EQ(file->width, 320);
  EXPECT_EQ(file->height, 240);
  // Too late now: nothing changes.
  QorFileSetVideoParams(h, 100, 100, 8, 5.0, Basic::K_AUTO, Basic::K_AUTO, Basic::K_AUTO);
  EXPECT_EQ(Last().code, 0);
  EXPECT_EQ(file->width, 320);
  EXPECT_EQ(file->bpp, 24);
  EXPECT_DOUBLE_EQ(file->frameRate, 30.0);
  WriteFrame(h, img);
  WriteFrame(h, img);
  QorFileClose(h);
  QorLogStop();
  ImgBasic::ImgFree(&img);
  const std::string text = TestUtil::ReadText(log);
  EXPECT_NE(text.find("#  _QorFileCheckCreate\r\n"), std::string::npos);
  EXPECT_NE(text.find("#  ERROR: file is already open\r\n"), std::string::npos);

  if (!TestUtil::HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
  const std::string probe = dir_.File("probe.txt");
  fmttest::Shell("ffprobe -v error -count_frames -show_entries "
                 "stream=codec_name,width,height,r_frame_rate,nb_read_frames -of csv=p=0 '" +
                 name + "' > '" + probe + "'");
  EXPECT_EQ(TestUtil::ReadText(probe), "cinepak,320,240,30/1,3\n");
}

TEST_F(FrameAccessFiles, OpenAnswersNilForWhatCannotBeRead) {
  QorFileInfo info;
  std::memset(&info, 0x5A, sizeof info);
  const std::string junk = dir_.File("junk.bin");
  TestUtil::WriteText(junk, "not a picture, not a sound");
  // (Before any library error is pending, which would make it 1000.)
  EXPECT_EQ(QorFileOpen(junk.c_str(), 0, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(Last().code, 999);
  EXPECT_EQ(QorFileOpen(junk.c_str(), 0, &info, nullptr, nullptr), nullptr);
  EXPECT_EQ(Last().code, 1000);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(&info)[0], 0x5A) << "record touched";

  // A WAV opens for its sound; it holds no pictures.
  SndBasic::SndRec sound;
  MakeSound(&sound, 500, 8, 8000);
  const std::string wav = dir_.File("s.wav");
  QorHandle out = QorFileCreate(wav.c_str());
  // The sound side refuses a format it cannot hold and keeps its own.
  QorFileSetAudioParams(out, 8000, -2, 8, Basic::K_AUTO);
  EXPECT_EQ(Last().code, 1000);
  QorFileSetAudioParams(out, 8000, 1, 8, Basic::K_AUTO);
  // Video parameters do not take the sound file's format away.
  QorFileSetVideoParams(out, 10, 10, 24, 25.0, Basic::K_AUTO, Basic::K_AUTO, Basic::K_AUTO);
  WriteSound(out, sound);
  QorFileClose(out);
  EXPECT_EQ(Last().code, 0);
  QorHandle in = QorFileOpen(wav.c_str(), 0, &info, nullptr, nullptr);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(info.hasPictures, 0);
  EXPECT_EQ(info.soundReadable, -1);
  EXPECT_EQ(info.sampleFrames, 500);
  EXPECT_EQ(info.bitsPerSample, 8);
  QorFileClose(in);

  // Handles that are none of ours.
  QorFileSetVideoParams(nullptr, 1, 1, 24, 1.0, 0, 0, 0);
  EXPECT_EQ(Last().code, 0);
  QorFileClose(nullptr);
  EXPECT_EQ(Last().code, 0);
  int notAFile = 0;
  QorFileClose(&notAFile);
  EXPECT_EQ(Last().code, 999);
  SndBasic::SndFree(sound);
}

}  // namespace
