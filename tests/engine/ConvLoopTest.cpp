// The conversion loop driven through its hooks alone, for what a host
// cannot reach: a hook that refuses every sound, output frame rates of 0,
// sound cut to the pictures, silence in a pass without outputs, the
// duration kept across rates whose ratio no double holds exactly, a failed
// pass whose clean-up fails as well.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/ConFormConv.h"
#include "engine/ConFormSave.h"
#include "formats/ConForm.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "media/ImgBasic.h"
#include "media/SndBasic.h"
#include "support/TestUtil.h"

using namespace ConForm;

namespace {

// What the hooks hand out and what they saw.
struct LoopScenario {
  int frames = 0;
  int soundBlocks = 0;
  bool silence = false;
  bool refuseSound = false;
  int soundHookCalls = 0;
  int progressCalls = 0;
  ImgBasic::Qimg image;
  SndBasic::SndRec sound;
};
LoopScenario* L = nullptr;

void VideoBlock(QorSrcBlock* block) {
  *block = QorSrcBlock{block->data, kBlockNone, block->blockNum};
  if (block->blockNum < L->frames) {
    block->data = &L->image;
    block->kind = kBlockMemory;
    block->frameRate = 10.0;
  } else {
    block->finished = 1;
  }
  block->blockNum++;
}

void AudioBlock(QorSrcBlock* block) {
  *block = QorSrcBlock{nullptr, kBlockNone, block->blockNum};
  if (block->blockNum < L->soundBlocks) {
    if (L->silence) {
      block->kind = kBlockSilence;
      block->lengthTime = 0.25;
    } else {
      block->data = &L->sound;
      block->kind = kBlockMemory;
    }
  } else {
    block->finished = 1;
  }
  block->blockNum++;
}

void SoundHook(ConSndRec* rec) {
  L->soundHookCalls++;
  rec->soundOut = L->refuseSound ? nullptr : rec->soundIn;
}

void ProgressHook(ConProgressRec*) { L->progressCalls++; }

class ConvLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    L = &scenario;
    ImgBasic::_imgalloc_(&scenario.image, 16, 16, "ConvLoopTest.image", __LINE__, 24);
    std::memset(scenario.image.data, 90, static_cast<size_t>(scenario.image.size));
    SndBasic::SndMakeSilence(scenario.sound, 66150, 22050, 16, 1);  // 3 s
    ConDone();
    FFSaveInit(&save, kSaveVideo);
  }
  void TearDown() override {
    ConDone();
    ImgBasic::ImgFree(&scenario.image);
    SndBasic::SndFree(scenario.sound);
    L = nullptr;
  }
  // Runs one pass; false when it failed with a library error.
  bool Run(const std::string& video, const std::string& audio) {
    bool ok = true;
    try {
      ConStart(video, audio, save, &result);
    } catch (const Errors::EMon&) {
      ok = false;
    }
    return ok && Errors::ErrNone();
  }

  LoopScenario scenario;
  FFSaveRec save;
  ConResultRec result;
  TestUtil::TempDir dir;
};

}  // namespace

// A hook that takes no sound at all: while pictures come, the same samples
// are offered again; once the pictures are done a refused slice counts as
// taken, so the pass ends.
TEST_F(ConvLoop, RefusedSoundEndsOnceVideoIsDone) {
  scenario.frames = 30;
  scenario.soundBlocks = 1;
  scenario.refuseSound = true;
  ConSetVideoSource(VideoBlock);
  ConSetAudioSource(AudioBlock);
  ConSetAudioFunc(SoundHook);
  ConSetFrameRate(false, 10.0);
  FFSaveSetFmt(&save, kFmtKWB);
  const std::string movie = dir.File("refused.kwb");
  ASSERT_TRUE(Run(movie, movie));
  EXPECT_EQ(result.framesWritten, 30);
  EXPECT_EQ(result.samplesWritten, 0);
  // Three interleave periods offered while pictures came, then three
  // one-second slices after them.
  EXPECT_GE(scenario.soundHookCalls, 4);
  EXPECT_LE(scenario.soundHookCalls, 8);
}

// An output frame rate of 0 interleaves in one-second slices and ends.
TEST_F(ConvLoop, ZeroFrameRateUsesOneSecondSlices) {
  scenario.frames = 4;
  scenario.soundBlocks = 1;
  ConSetVideoSource(VideoBlock);
  ConSetAudioSource(AudioBlock);
  ConSetAudioFunc(SoundHook);
  ConSetFrameRate(false, 0.0);
  FFSaveSetFmt(&save, kFmtPNM);
  ASSERT_TRUE(Run(dir.File("zero000.ppm"), dir.File("zero.wav")));
  EXPECT_EQ(result.framesWritten, 4);
  EXPECT_EQ(result.samplesWritten, 66150);
  // One second after each of the first three frames took the whole sound.
  EXPECT_EQ(scenario.soundHookCalls, 3);
}

// With truncation the last slice covers only the frames written since the
// last audio write, and the pass ends there: one second of three.
TEST_F(ConvLoop, TruncatedSoundEndsWithThePictures) {
  scenario.frames = 15;
  scenario.soundBlocks = 1;
  ConSetVideoSource(VideoBlock);
  ConSetAudioSource(AudioBlock);
  ConSetFrameRate(false, 10.0);
  ConSetTruncateAudio(true);
  FFSaveSetFmt(&save, kFmtKWB);
  const std::string movie = dir.File("cut.kwb");
  ASSERT_TRUE(Run(movie, movie));
  EXPECT_EQ(result.framesWritten, 15);
  EXPECT_EQ(result.samplesWritten, 22050 * 15 / 10);
  EXPECT_EQ(ConGetStop(), kStopKeep);
}

// Silence blocks in a pass without outputs are read and handed to the hook
// like any sound: Trunc(8000 x 0.25) samples of 8-bit mono each.
TEST_F(ConvLoop, SilenceWithoutOutputs) {
  scenario.soundBlocks = 3;
  scenario.silence = true;
  ConSetAudioSource(AudioBlock);
  ConSetAudioFunc(SoundHook);
  ConSetCallbacks(ProgressHook, nullptr);
  ConSetFrameRate(false, 30.0);
  ASSERT_TRUE(Run("", ""));
  EXPECT_EQ(scenario.soundHookCalls, 3);
  EXPECT_EQ(result.samplesWritten, 0);
  EXPECT_GE(scenario.progressCalls, 2);
}

// A stop request from a hook ends the pass; stop 1 deletes what it wrote.
TEST_F(ConvLoop, StopRequestDeletesOnlyWhatThePassWrote) {
  scenario.frames = 10;
  ConSetVideoSource(VideoBlock);
  ConSetCallbacks([](ConProgressRec* rec) {
    if (rec->framesDone == 3) ConSetStop(kStopDelete);
  }, nullptr);
  ConSetFrameRate(false, 10.0);
  FFSaveSetFmt(&save, kFmtPNM);
  TestUtil::WriteText(dir.File("del007.ppm"), "there before");
  ASSERT_TRUE(Run(dir.File("del000.ppm"), ""));
  EXPECT_EQ(result.framesWritten, 3);
  EXPECT_FALSE(Basic::FileExists(dir.File("del000.ppm")));
  EXPECT_FALSE(Basic::FileExists(dir.File("del002.ppm")));
  EXPECT_TRUE(Basic::FileExists(dir.File("del007.ppm")));
}

// 30 frames at 10 a second kept at 24 a second last 72 frames: the step of
// 2.4 summed thirty times must not come out a hair below 72.
TEST_F(ConvLoop, KeptDurationAtAnInexactRateStep) {
  scenario.frames = 30;
  ConSetVideoSource(VideoBlock);
  ConSetFrameRate(true, 24.0);
  FFSaveSetFmt(&save, kFmtKWB);
  ASSERT_TRUE(Run(dir.File("kept.kwb"), ""));
  EXPECT_EQ(result.framesWritten, 72);
}

// A failed pass reports its own failure: closing the outputs in its
// clean-up may fail as well (here the multiplexer finds its sound stream
// gone) without taking the first failure's place.
TEST_F(ConvLoop, FailureOutlivesClosingTheOutputs) {
  static std::string temp;
  temp = dir.File("temp");
  std::filesystem::create_directories(temp);
  const char* oldTemp = std::getenv("TMPDIR");
  const std::string kept = oldTemp ? oldTemp : "";
  setenv("TMPDIR", temp.c_str(), 1);
  scenario.frames = 30;
  scenario.soundBlocks = 1;
  ConSetVideoSource(VideoBlock);
  ConSetAudioSource(AudioBlock);
  ConSetVideoFunc([](ConFrameRec* rec) {
    rec->imageOut = rec->imageIn;
    if (rec->frameCounter < 20) return;
    for (const auto& e : std::filesystem::directory_iterator(temp)) std::filesystem::remove(e);
    Errors::ErrSetText(Errors::kClsText, "the frame step failed", __LINE__);
  });
  ConSetFrameRate(false, 10.0);
  FFSaveSetFmt(&save, kFmtMPEG);
  const std::string movie = dir.File("av.mpg");
  EXPECT_FALSE(Run(movie, movie));
  if (oldTemp)
    setenv("TMPDIR", kept.c_str(), 1);
  else
    unsetenv("TMPDIR");
  EXPECT_EQ(Errors::ErrLastText(), "the frame step failed");
}
