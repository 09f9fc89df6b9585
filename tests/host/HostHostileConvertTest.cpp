// Conversions run by a careless or hostile host: callbacks that keep what
// the engine lends them or make blocks of their own in a pass that fails,
// sources that cannot be read at all, absurd times, rates and sample counts,
// and the settings and exports that only a whole conversion exercises.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "host/HostHandles.h"
#include "host/HostLibrary.h"
#include "host/HostMediaFiles.h"
#include "host/HostScratch.h"
#include "qor.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
// A time or rate the block does not set.
constexpr double kUnset = -12345.0;

// A 10 frames-per-second AVI of uncompressed 8 x 8 frames; frame i (from
// 0) is red 20 x (i + 1).
std::string MakeClip(const ScratchDir& dir, int frames) {
  const std::string name = dir.File("clip.avi");
  QorHandle f = QOR_GET(QorFileCreate)(name.c_str());
  QOR_GET(QorFileSetVideoParams)(f, 8, 8, 24, 10.0, QOR_GET(QorMakeFourCC)("DIB "), K_AUTO,
                                 K_AUTO);
  Img img;
  for (int i = 0; i < frames; i++) {
    std::vector<uint8_t> px(8 * 8 * 3);
    for (size_t p = 0; p < px.size(); p += 3) px[p + 2] = static_cast<uint8_t>(20 * (i + 1));
    QOR_GET(QorImgSetPixels)(img.h, 8, 8, 24, px.data(), nullptr);
    QOR_GET(QorImgSave)(img.h, f);
  }
  QOR_GET(QorFileClose)(f);
  return name;
}

// What one test's callbacks do and what they saw.
struct Plan {
  // Video file blocks, each with optional times and rate.
  struct Block {
    std::string file;
    double startTime = kUnset, lenTime = kUnset, rate = kUnset;
    bool pixels = false;  // one 8 x 8 pixel block instead of a file
  };
  bool gradient = false;  // pixel blocks are a 64 x 64 gradient of 4096 colours
  std::vector<Block> video;
  std::vector<std::string> audioFiles;
  // Host blocks made inside the callbacks.
  bool makeHostBlocks = false;
  std::string openable;  // a file the callback opens for frame access
  std::string created;   // a file the callback creates and writes into
  QorHandle img = nullptr, frameImg = nullptr, snd = nullptr, list = nullptr;
  QorHandle opened = nullptr, made = nullptr;
  // Lent records.
  QorHandle keptFrame = nullptr, keptSound = nullptr;
  int frameInfoCode = -1, frameFreeCode = -1, soundFreeCode = -1;
  int32_t frameWidth = -1;
  // Sample-counter run: blocks of this many 8-bit frames at this rate.
  int bigBlocks = 0;
  int32_t bigFrames = 0, bigRate = 0;
  int64_t lastCurSample = -1;
  int32_t lastDoneSamples = -1;
  // Lent records handed to the other kind's exports: what went wrong.
  bool crossKinds = false;
  int crossFrames = 0, crossSounds = 0;
  std::vector<std::string> crossWrong;
  bool freeInFinalProgress = false;
  bool freed = false;
  QorHandle handle = nullptr;
};
Plan* P = nullptr;

// 64 x 64, blue-green-red: 4096 colours, more than a palette holds.
std::vector<uint8_t> Gradient() {
  std::vector<uint8_t> px(64 * 64 * 3);
  for (int y = 0; y < 64; y++)
    for (int x = 0; x < 64; x++) {
      uint8_t* p = &px[static_cast<size_t>((y * 64 + x) * 3)];
      p[0] = static_cast<uint8_t>((x + y) * 2);
      p[1] = static_cast<uint8_t>(y * 4);
      p[2] = static_cast<uint8_t>(x * 4);
    }
  return px;
}

void MakeHostBlocks() {
  P->img = QOR_GET(QorImgAlloc)();
  const uint8_t px[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  QOR_GET(QorImgSetPixels)(P->img, 2, 2, 24, px, nullptr);
  P->snd = QOR_GET(QorSndAlloc)();
  const uint8_t s[6] = {10, 20, 30, 40, 50, 60};
  QOR_GET(QorSndSetSamples)(P->snd, 6, 11025, 1, 8, s);
  P->list = QOR_GET(QorListAlloc)();
  QOR_GET(QorListAdd)(P->list, P->openable.c_str(), 0, nullptr, nullptr);
  QorFileInfo info{};
  P->opened = QOR_GET(QorFileOpen)(P->openable.c_str(), 0, &info, nullptr, nullptr);
  P->made = QOR_GET(QorFileCreate)(P->created.c_str());
  QOR_GET(QorImgSave)(P->img, P->made);
}

void QOR_CALL VideoSource(QorHandle h, int32_t blockNum) {
  if (P->makeHostBlocks && blockNum == 0 && !P->img) MakeHostBlocks();
  if (blockNum >= static_cast<int32_t>(P->video.size())) return;
  const Plan::Block& b = P->video[static_cast<size_t>(blockNum)];
  if (b.pixels && P->gradient) {
    const std::vector<uint8_t> px = Gradient();
    QOR_GET(QorSrcSetPixels)(h, px.data(), nullptr, 64, 64, 24);
    return;
  }
  if (b.pixels) {
    std::vector<uint8_t> px(8 * 8 * 3, 90);
    QOR_GET(QorSrcSetPixels)(h, px.data(), nullptr, 8, 8, 24);
    return;
  }
  QOR_GET(QorSrcSetFile)(h, b.file.c_str());
  if (b.startTime != kUnset) QOR_GET(QorSrcSetStartTime)(h, b.startTime);
  if (b.lenTime != kUnset) QOR_GET(QorSrcSetLenTime)(h, b.lenTime);
  if (b.rate != kUnset) QOR_GET(QorSrcSetFrameRate)(h, b.rate);
}

void QOR_CALL AudioSource(QorHandle h, int32_t blockNum) {
  if (blockNum < static_cast<int32_t>(P->audioFiles.size())) {
    QOR_GET(QorSrcSetFile)(h, P->audioFiles[static_cast<size_t>(blockNum)].c_str());
    return;
  }
  if (blockNum >= P->bigBlocks) return;
  static const std::vector<uint8_t> samples(static_cast<size_t>(P->bigFrames), 0x80);
  QOR_GET(QorSrcSetSamples)(h, samples.data(), P->bigFrames, P->bigRate, 1, 8);
}

// What an image export's answer looks like: a failure code and its outputs.
struct ImgInfo {
  int32_t code = -1, x = -7, y = -7, bpp = -7, bytes = -7;
  void* pix = nullptr;
  void* pal = nullptr;
  bool operator==(const ImgInfo&) const = default;
};
ImgInfo ImgInfoOf(QorHandle h) {
  ImgInfo i;
  QOR_GET(QorImgGetInfo)(h, &i.x, &i.y, &i.bpp, &i.bytes, &i.pix, &i.pal);
  i.code = LastCode();
  return i;
}
struct SndInfo {
  int32_t code = -1, rate = -7, channels = -7, bits = -7, bytes = -7;
  void* data = nullptr;
  bool operator==(const SndInfo&) const = default;
};
SndInfo SndInfoOf(QorHandle h) {
  SndInfo i;
  QOR_GET(QorSndGetInfo)(h, &i.rate, &i.channels, &i.bits, &i.bytes, &i.data);
  i.code = LastCode();
  return i;
}

void ExpectRefused(const char* what) {
  if (LastCode() != 999) P->crossWrong.push_back(std::string(what) + " was not refused");
}

// The lent frame to every sound export that reads or writes its handle.
void LentFrameToSoundExports(QorHandle mImg) {
  const ImgInfo before = ImgInfoOf(mImg);
  const uint8_t s[4] = {1, 2, 3, 4};
  uint8_t out[16];
  std::memset(out, 0x5A, sizeof out);
  if (!(SndInfoOf(mImg) == SndInfo{999})) P->crossWrong.push_back("frame: QorSndGetInfo answered");
  QOR_GET(QorSndGetSamples)(mImg, out);
  ExpectRefused("frame: QorSndGetSamples");
  if (out[0] != 0x5A) P->crossWrong.push_back("frame: QorSndGetSamples wrote");
  QOR_GET(QorSndSetSamples)(mImg, 4, 8000, 1, 8, s);
  ExpectRefused("frame: QorSndSetSamples");
  QOR_GET(QorSndResample)(mImg, 11025, 1, 8);
  ExpectRefused("frame: QorSndResample");
  QOR_GET(QorSndFree)(mImg);
  ExpectRefused("frame: QorSndFree");
  if (!(ImgInfoOf(mImg) == before) || before.code != 0)
    P->crossWrong.push_back("frame: changed by the sound exports");
  P->crossFrames++;
}

// The lent sound to every image export that reads or writes its handle.
void LentSoundToImageExports(QorHandle mSnd) {
  const SndInfo before = SndInfoOf(mSnd);
  const uint8_t px[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  if (!(ImgInfoOf(mSnd) == ImgInfo{999})) P->crossWrong.push_back("sound: QorImgGetInfo answered");
  QOR_GET(QorImgSetPixels)(mSnd, 2, 2, 24, px, nullptr);
  ExpectRefused("sound: QorImgSetPixels");
  QOR_GET(QorImgRedim)(mSnd, 64, 64, 24);
  ExpectRefused("sound: QorImgRedim");
  QOR_GET(QorImgClear)(mSnd, 0);
  ExpectRefused("sound: QorImgClear");
  QOR_GET(QorImgFree)(mSnd);
  ExpectRefused("sound: QorImgFree");
  if (!(SndInfoOf(mSnd) == before) || before.code != 0)
    P->crossWrong.push_back("sound: changed by the image exports");
  P->crossSounds++;
}

void QOR_CALL VideoFunc(QorHandle, QorHandle mImg, int32_t) {
  if (P->crossKinds) return LentFrameToSoundExports(mImg);
  if (P->makeHostBlocks && !P->frameImg) {
    P->frameImg = QOR_GET(QorImgAlloc)();
    QOR_GET(QorImgCopy)(P->frameImg, mImg);
  }
  if (P->keptFrame) return;
  // Lent: every export takes it, but it is not the host's to free.
  int32_t x = 0, y = 0, bpp = 0, bytes = 0;
  void* pix = nullptr;
  void* pal = nullptr;
  QOR_GET(QorImgGetInfo)(mImg, &x, &y, &bpp, &bytes, &pix, &pal);
  P->frameInfoCode = LastCode();
  P->frameWidth = x;
  QOR_GET(QorImgFree)(mImg);
  P->frameFreeCode = LastCode();
  P->keptFrame = mImg;
}

void QOR_CALL AudioFunc(QorHandle, QorHandle mSnd, int32_t curSample) {
  P->lastCurSample = curSample;
  if (P->crossKinds) return LentSoundToImageExports(mSnd);
  if (P->keptSound) return;
  QOR_GET(QorSndFree)(mSnd);
  P->soundFreeCode = LastCode();
  P->keptSound = mSnd;
}

void QOR_CALL Progress(QorHandle h, int32_t status, int32_t, int32_t doneSamples) {
  P->lastDoneSamples = doneSamples;
  if (status == 0 && P->freeInFinalProgress) {
    QOR_GET(QorFree)(h);
    P->freed = true;
  }
}

// A conversion handle with the plan's callbacks.
class Conversion {
 public:
  explicit Conversion(Plan* plan) {
    P = plan;
    h_ = QOR_GET(QorAlloc)();
    plan->handle = h_;
    QOR_GET(QorAssignProgress)(h_, Progress);
  }
  ~Conversion() {
    if (!P->freed) QOR_GET(QorFree)(h_);
    P = nullptr;
  }
  QorHandle h() const { return h_; }
  Conversion& Video(bool frameCallback = false) {
    QOR_GET(QorAssignVideoSource)(h_, VideoSource);
    if (frameCallback) QOR_GET(QorAssignVideoFunc)(h_, VideoFunc);
    return *this;
  }
  Conversion& Audio(bool blockCallback = false) {
    QOR_GET(QorAssignAudioSource)(h_, AudioSource);
    if (blockCallback) QOR_GET(QorAssignAudioFunc)(h_, AudioFunc);
    return *this;
  }
  Conversion& Output(const std::string& vid, const std::string& aud, double fps = 10.0) {
    QOR_GET(QorSetOutputFile)(h_, vid.c_str(), aud.c_str());
    QOR_GET(QorSetFrameRate)(h_, fps);
    return *this;
  }
  int32_t Go() { return QOR_GET(QorConvert)(h_); }

 private:
  QorHandle h_ = nullptr;
};

// Sounds allocated until the library refuses one: its tracked-block table
// is full.
std::vector<QorHandle> FillTheTable() {
  std::vector<QorHandle> held;
  for (QorHandle h; (h = QOR_GET(QorSndAlloc)()) != nullptr && held.size() < 100000;)
    held.push_back(h);
  return held;
}

void GiveBackOne(std::vector<QorHandle>& held) {
  if (held.empty()) return;
  QOR_GET(QorSndFree)(held.back());
  held.pop_back();
}

std::string ErrorText() {
  QorLastError rec = Outcome();
  char text[1024] = {};
  QOR_GET(QorMakeErrorStr)(&rec, text);
  return text;
}

// Three frames and a second of sound through both callbacks, into numbered
// PPM files and a WAV: the conversion's result, with every frame and sample
// checked as written.
int32_t ConvertClipWithCallbacks(const ScratchDir& dir, Plan* plan) {
  plan->video = {{MakeClip(dir, 3)}};
  const std::string wav = dir.File("tone.wav");
  WriteWav(wav, 11025, 1, 8, 11025);
  plan->audioFiles = {wav};
  int32_t result = -1;
  {
    Conversion run(plan);
    run.Video(true).Audio(true).Output(dir.File("out000.ppm"), dir.File("out.wav"));
    QOR_GET(QorSetAudioFormat)(run.h(), 11025, 1, 8);
    result = run.Go();
  }
  EXPECT_EQ(SequenceReds(dir.File("out")), (std::vector<int>{20, 40, 60}));
  QorFileInfo info{};
  QOR_GET(QorGetFileInfo)(dir.File("out.wav").c_str(), 0, &info, nullptr, nullptr);
  EXPECT_EQ(info.sampleFrames, 11025);
  return result;
}

}  // namespace

// The engine lends its frame and its sound slice to the callbacks: every
// export takes them there, the free exports refuse them (and the frame is
// still written), and once the callback has returned they are gone.
TEST(HostileConvert, LentFramesAndSoundsAreNotTheHostsToFree) {
  ScratchDir dir;
  Plan plan;
  EXPECT_EQ(ConvertClipWithCallbacks(dir, &plan), 0);
  EXPECT_EQ(plan.frameInfoCode, 0);
  EXPECT_EQ(plan.frameWidth, 8);
  EXPECT_EQ(plan.frameFreeCode, 999);
  EXPECT_EQ(plan.soundFreeCode, 999);
  int32_t x = -1, y = -1, bpp = -1, bytes = -1;
  void* pix = nullptr;
  void* pal = nullptr;
  QOR_GET(QorImgGetInfo)(plan.keptFrame, &x, &y, &bpp, &bytes, &pix, &pal);
  EXPECT_EQ(LastCode(), 999);
  EXPECT_EQ(x, -1);
  QOR_GET(QorSndResample)(plan.keptSound, 8000, 1, 8);
  EXPECT_EQ(LastCode(), 999);
}

// A lent frame is an image and a lent sound a sound: handed to the other
// kind's exports inside the callbacks each is refused (999) and left as it
// was, and the conversion writes every frame and sample to its end.
TEST(HostileConvert, LentFramesAndSoundsAreRefusedByTheOtherKindsExports) {
  ScratchDir dir;
  Plan plan;
  plan.crossKinds = true;
  EXPECT_EQ(ConvertClipWithCallbacks(dir, &plan), 0);
  EXPECT_EQ(plan.crossFrames, 3);
  EXPECT_GT(plan.crossSounds, 0);
  EXPECT_EQ(plan.crossWrong, std::vector<std::string>{});
}

// A pass that fails (its output cannot be written) frees what the engine
// made, not what the host made with its own calls inside the callbacks:
// images, sounds, lists and files stay valid and are the host's to free.
TEST(HostileConvert, AFailedPassLeavesTheHostsOwnBlocksAlone) {
  ScratchDir dir;
  Plan plan;
  plan.makeHostBlocks = true;
  plan.openable = MakeClip(dir, 2);
  plan.created = dir.File("made.bmp");
  plan.video = {{"", kUnset, kUnset, kUnset, true}};
  {
    Conversion run(&plan);
    run.Video(true).Output(dir.File("no/such/folder/out.avi"), "");
    EXPECT_EQ(run.Go(), 1000);
  }
  ASSERT_NE(plan.img, nullptr);
  ASSERT_NE(plan.opened, nullptr);
  ASSERT_NE(plan.made, nullptr);
  // (The conversion's error stays pending, so calls that run no checked
  // step report 1000 until one does: the values tell.)
  int32_t x = 0, y = 0, bpp = 0, bytes = 0;
  void* pix = nullptr;
  void* pal = nullptr;
  QOR_GET(QorImgGetInfo)(plan.img, &x, &y, &bpp, &bytes, &pix, &pal);
  EXPECT_EQ(x, 2);
  EXPECT_EQ(static_cast<uint8_t*>(pix)[11], 12);
  QOR_GET(QorImgGetInfo)(plan.frameImg, &x, &y, &bpp, &bytes, &pix, &pal);
  EXPECT_EQ(x, 8);
  int32_t rate = 0, ch = 0, bits = 0;
  void* data = nullptr;
  QOR_GET(QorSndGetInfo)(plan.snd, &rate, &ch, &bits, &bytes, &data);
  EXPECT_EQ(rate, 11025);
  EXPECT_EQ(static_cast<uint8_t*>(data)[5], 60);
  EXPECT_EQ(QOR_GET(QorListGetFileCount)(plan.list), 1);
  // The opened file still reads, the created one still writes.
  EXPECT_EQ(QOR_GET(QorImgLoad)(plan.img, plan.opened, 1), 0);
  int32_t r = -1, g = -1, b = -1;
  QOR_GET(QorImgGetPixelRGB)(plan.img, 0, 0, &r, &g, &b);
  EXPECT_EQ(r, 40);
  EXPECT_EQ(QOR_GET(QorImgSave)(plan.img, plan.made), 0);
  QOR_GET(QorFileClose)(plan.made);
  QOR_GET(QorFileClose)(plan.opened);
  EXPECT_EQ(LastCode(), 0);
  QorFileInfo info{};
  QOR_GET(QorGetFileInfo)(plan.created.c_str(), 0, &info, nullptr, nullptr);
  EXPECT_EQ(LastCode(), 0);
  EXPECT_EQ(info.width, 2);
  QOR_GET(QorImgFree)(plan.img);
  QOR_GET(QorImgFree)(plan.frameImg);
  QOR_GET(QorSndFree)(plan.snd);
  QOR_GET(QorListFree)(plan.list);
  EXPECT_EQ(LastCode(), 0);
}

// A conversion whose every source block was dropped converted nothing and
// says why; a dropped block among good ones is only dropped; an output file
// that was there before is never touched.
TEST(HostileConvert, AConversionOfNothingReportsItsFirstDroppedSource) {
  ScratchDir dir;
  const std::string out = dir.File("out.avi");
  const std::string missing = dir.File("missing.avi");
  const std::string junk = dir.File("junk.dat");
  std::ofstream(junk) << "no reader takes this";
  std::ofstream(out) << "was here before";
  {
    Plan plan;
    plan.video = {{missing}, {junk}};
    Conversion run(&plan);
    run.Video().Output(out, "");
    EXPECT_EQ(run.Go(), 1000);
    EXPECT_EQ(Outcome().errClass, 6);
    EXPECT_EQ(Outcome().errNum, 1);
    EXPECT_EQ(ErrorText(), "Cannot open file: " + missing);
  }
  {
    Plan plan;
    plan.video = {{junk}, {missing}};
    Conversion run(&plan);
    run.Video().Output(out, "");
    EXPECT_EQ(run.Go(), 1000);
    EXPECT_EQ(Outcome().errNum, 9);
    EXPECT_EQ(ErrorText(), "File not exist.");
  }
  {
    Plan plan;  // sound only
    plan.audioFiles = {missing};
    Conversion run(&plan);
    run.Audio().Output("", dir.File("out.wav"));
    EXPECT_EQ(run.Go(), 1000);
    EXPECT_EQ(Outcome().errNum, 1);
  }
  EXPECT_EQ(FirstLine("cat '" + out + "'"), "was here before");
  {
    Plan plan;
    plan.video = {{missing}, {MakeClip(dir, 2)}};
    Conversion run(&plan);
    run.Video().Output(dir.File("good000.ppm"), "");
    EXPECT_EQ(run.Go(), 0);
  }
  EXPECT_EQ(SequenceReds(dir.File("good")), (std::vector<int>{20, 40}));
  // The one-call conversion keeps its own answer for no usable source.
  EXPECT_EQ(QOR_GET(QorQuickConvert)(out.c_str(), missing.c_str(), "", K_AUTO, K_AUTO, 10.0), 3);
}

// Start and length given as times, through the exports: Trunc(rate x t) + 1
// and Trunc(rate x t); a start past the end, a length of 0 and starts of
// absurd size skip their block; times and rates that are not numbers or
// infinite are clamped before they become counts.
TEST(HostileConvert, TimesAndRatesFromTheHost) {
  ScratchDir dir;
  const std::string clip = MakeClip(dir, 10);
  Plan plan;
  plan.video = {
      {clip, 0.36, 0.25},         // frames 4 and 5
      {clip, 5.0},                // past the end: skipped
      {clip, kUnset, 0.0},        // length 0: skipped
      {clip, 1e12},               // far past the end: skipped
      {clip, kInf},               // likewise
      {clip, kNaN, kNaN},         // no length at all: skipped
      {clip, -kInf, 0.1},         // from the start, one frame: frame 1
      {clip, 0.9, kInf},          // frame 10 to the end
      {clip, 0.5, 0.3, kInf},     // an infinite source rate: start past the end
      {clip, kNaN, 0.2, -5.0},    // from the start at the output's rate: frames 1, 2
  };
  {
    Conversion run(&plan);
    run.Video().Output(dir.File("t000.ppm"), "");
    EXPECT_EQ(run.Go(), 0);
  }
  EXPECT_EQ(SequenceReds(dir.File("t")), (std::vector<int>{80, 100, 20, 200, 20, 40}));
  // Absurd output rates end with an answer, never a crash.
  for (const char* name : {"r.avi", "r.mpg", "r.flc"}) {
    for (double fps : {kInf, -kInf, kNaN, 1e300, -1.0}) {
      Plan p;
      p.video = {{clip, kUnset, 0.2}};
      Conversion run(&p);
      run.Video().Output(dir.File(name), "", fps);
      const int32_t result = run.Go();
      EXPECT_TRUE(result == 0 || result == 1000) << name << " " << fps << ": " << result;
    }
  }
  // Frame rates a host gives a created file, and times it asks to print.
  for (const char* name : {"f.avi", "f.flc", "f.gif", "f.kwb", "f.mpg"}) {
    for (double fps : {kInf, kNaN, 1e-300}) {
      QorHandle f = QOR_GET(QorFileCreate)(dir.File(name).c_str());
      QOR_GET(QorFileSetVideoParams)(f, 16, 16, 24, fps, K_AUTO, K_AUTO, K_AUTO);
      Img img;
      QOR_GET(QorImgRedim)(img.h, 16, 16, 24);
      QOR_GET(QorImgClear)(img.h, 0x204080);
      const int32_t saved = QOR_GET(QorImgSave)(img.h, f);
      EXPECT_TRUE(saved == 0 || saved == 1000) << name << " " << fps;
      QOR_GET(QorFileClose)(f);
    }
  }
  // The last FLIC was made at 1e-300 frames per second: its frame time is
  // held at the most its 32-bit field takes.
  const std::vector<uint8_t> flc = ReadBytes(dir.File("f.flc"));
  ASSERT_GT(flc.size(), 20u);
  EXPECT_EQ(flc[16] & flc[17] & flc[18] & flc[19], 0xFF);
  Img grey;
  QOR_GET(QorImgRedim)(grey.h, 4, 4, 24);
  QOR_GET(QorImgClear)(grey.h, 0x808080);
  for (double gamma : {kInf, -kInf, kNaN, 1e300, 0.0}) {
    QOR_GET(QorImgGamma)(grey.h, gamma, gamma, gamma);
    const int32_t code = LastCode();
    EXPECT_TRUE(code == 0 || code == 1000) << gamma << ": " << code;
  }
  char text[64];
  for (double sec : {kInf, -kInf, kNaN, 1e300}) {
    QOR_GET(QorMakeTimeStr)(sec, text);
    EXPECT_EQ(LastCode(), 0);
    EXPECT_GT(std::strlen(text), 7u);
  }
  EXPECT_TRUE(QOR_GET(QorQuickConvert)(dir.File("q.avi").c_str(), clip.c_str(), "", K_AUTO,
                                       K_AUTO, kNaN) != 999);
}

// Sample counters go past 2^31 (13.5 hours of 44.1 kHz sound): counted in
// 64 bits, handed to the host clamped, never wrapped round to negative.
TEST(HostileConvert, SampleCountsBeyondThirtyTwoBits) {
  ScratchDir dir;
  Plan plan;
  plan.video = {{"", kUnset, kUnset, kUnset, true}};
  plan.bigRate = 2000000000;
  plan.bigFrames = 1 << 25;
  plan.bigBlocks = 65;  // 2^31 + 2^25 frames in all
  {
    Conversion run(&plan);
    run.Video().Audio(true).Output(dir.File("one.bmp"), "");
    QOR_GET(QorSetAudioFormat)(run.h(), plan.bigRate, 1, 8);
    EXPECT_EQ(run.Go(), 0);
  }
  EXPECT_EQ(plan.lastCurSample, 2147483647);
  EXPECT_EQ(plan.lastDoneSamples, 2147483647);
}

// QorFree from the final progress callback: the record is gone after it,
// and the conversion ends cleanly.
TEST(HostileConvert, FreedFromTheFinalProgressReport) {
  ScratchDir dir;
  Plan plan;
  plan.video = {{"", kUnset, kUnset, kUnset, true}};
  plan.freeInFinalProgress = true;
  QorHandle h = nullptr;
  {
    Conversion run(&plan);
    h = run.h();
    run.Video().Output(dir.File("p000.ppm"), "");
    EXPECT_EQ(run.Go(), 0);
  }
  EXPECT_TRUE(plan.freed);
  EXPECT_EQ(SequenceReds(dir.File("p")), (std::vector<int>{90}));
  EXPECT_EQ(QOR_GET(QorGetStatus)(h), 0);
  EXPECT_EQ(LastCode(), 999);
}

// The call log: the one-call conversion's inner pass writes its "Done" with
// its "Init"; a multiplexing failure reports through its result alone and
// leaves nothing pending for the next call.
TEST(HostileConvert, MultiplexLeavesNoErrorAndQuickConversionLogsBothEnds) {
  ScratchDir dir;
  const std::string clip = MakeClip(dir, 2);
  QorHandle h = QOR_GET(QorAlloc)();
  EXPECT_EQ(QOR_GET(QorMpgMultiplex)(dir.File("m.mpg").c_str(), dir.File("no.m1v").c_str(),
                                     dir.File("no.mp2").c_str(), 0),
            0);
  QOR_GET(QorSetKeepDuration)(h, 0);  // runs no checked step
  EXPECT_EQ(LastCode(), 0);
  QOR_GET(QorFree)(h);

  const std::string log = dir.File("calls.log");
  QOR_GET(QorLogStart)(log.c_str());
  QOR_GET(QorLogExtra)(-1);
  EXPECT_EQ(QOR_GET(QorQuickConvert)(dir.File("q.avi").c_str(), clip.c_str(), "", K_AUTO,
                                     K_AUTO, 10.0),
            0);
  QOR_GET(QorLogStop)();
  const std::string text = Capture("cat '" + log + "'");
  auto count = [&](const std::string& line) {
    size_t n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) n++;
    return n;
  };
  EXPECT_EQ(count("===== QorConvert - Init ====="), 1u);
  EXPECT_EQ(count("===== QorConvert: Done ====="), 1u);
}

// Under forced compatibility a refused output falls back to "cvid"; refused
// again, the conversion gives result 1 and the call log says why.
TEST(HostileConvert, OutputRefusedTwiceUnderForcedCompatibility) {
  ScratchDir dir;
  Plan plan;
  plan.video = {{"", kUnset, kUnset, kUnset, true}};
  const std::string log = dir.File("calls.log");
  QOR_GET(QorLogStart)(log.c_str());
  QOR_GET(QorLogExtra)(-1);
  {
    Conversion run(&plan);
    // A sound format named as the picture output takes no pictures at all.
    run.Video().Output(dir.File("pictures.wav"), "");
    QOR_GET(QorForceCompatibility)(run.h(), -1);
    EXPECT_EQ(run.Go(), 1);
    EXPECT_EQ(Outcome().code, 1);
  }
  QOR_GET(QorLogStop)();
  EXPECT_NE(Capture("cat '" + log + "'").find("#    codec rejected for videoFF=12"),
            std::string::npos);
  EXPECT_EQ(ReadBytes(dir.File("pictures.wav")).size(), 0u);
}

// Audio truncated to the video: one second of pictures keeps one second of
// a three-second sound; without it the whole sound is written.
TEST(HostileConvert, TruncateAudioToVideo) {
  ScratchDir dir;
  const std::string wav = dir.File("three.wav");
  WriteWav(wav, 11025, 1, 8, 3 * 11025);
  for (const bool truncate : {false, true}) {
    Plan plan;
    plan.video.assign(10, {"", kUnset, kUnset, kUnset, true});
    plan.audioFiles = {wav};
    const std::string out = dir.File(truncate ? "short.wav" : "long.wav");
    Conversion run(&plan);
    run.Video().Audio().Output(dir.File(truncate ? "s000.ppm" : "l000.ppm"), out);
    QOR_GET(QorSetAudioFormat)(run.h(), 11025, 1, 8);
    QOR_GET(QorTruncateAudioToVideo)(run.h(), truncate ? -1 : 0);
    EXPECT_EQ(run.Go(), 0);
    QorFileInfo info{};
    QOR_GET(QorGetFileInfo)(out.c_str(), 0, &info, nullptr, nullptr);
    if (truncate)
      EXPECT_NEAR(info.sampleFrames, 11025, 1103);
    else
      EXPECT_EQ(info.sampleFrames, 3 * 11025);
  }
}

// The three dithering modes of an 8-bit output: without dithering each
// pixel takes its nearest palette colour and a gradient falls into flat
// bands; the light (ordered) and heavy (error-diffusing) modes break the
// bands up, the heavy one keeping 8 x 8 block means closer to the source.
TEST(HostileConvert, DitheringModesThroughAConversion) {
  ScratchDir dir;
  const std::vector<uint8_t> source = Gradient();
  std::vector<std::vector<int>> pictures;
  std::vector<double> blockError;
  std::vector<int> neighbourChanges;
  for (int32_t mode : {0, 1, 2, 3, int32_t{K_AUTO}}) {
    Plan plan;
    plan.gradient = true;
    plan.video = {{"", kUnset, kUnset, kUnset, true}};
    const std::string out = dir.File("d" + std::to_string(mode) + ".bmp");
    {
      Conversion run(&plan);
      run.Video().Output(out, "");
      QOR_GET(QorSetBpp)(run.h(), 8);
      QOR_GET(QorSetDithering)(run.h(), mode);
      ASSERT_EQ(run.Go(), 0);
    }
    Img img;
    ASSERT_EQ(QOR_GET(QorImgLoadSingle)(img.h, out.c_str(), 0), 0);
    int32_t w = 0, h = 0, bpp = 0, bytes = 0;
    void* pix = nullptr;
    void* pal = nullptr;
    QOR_GET(QorImgGetInfo)(img.h, &w, &h, &bpp, &bytes, &pix, &pal);
    ASSERT_EQ(w, 64);
    EXPECT_EQ(bpp, 8);
    std::vector<int> rgb;
    for (int y = 0; y < 64; y++)
      for (int x = 0; x < 64; x++) {
        int32_t r, g, b;
        QOR_GET(QorImgGetPixelRGB)(img.h, x, y, &r, &g, &b);
        rgb.insert(rgb.end(), {b, g, r});
      }
    double error = 0;
    for (int by = 0; by < 64; by += 8)
      for (int bx = 0; bx < 64; bx += 8)
        for (int c = 0; c < 3; c++) {
          double sum = 0;
          for (int y = by; y < by + 8; y++)
            for (int x = bx; x < bx + 8; x++) {
              const size_t at = static_cast<size_t>((y * 64 + x) * 3 + c);
              sum += rgb[at] - source[at];
            }
          error += std::fabs(sum / 64);
        }
    int changes = 0;
    for (size_t at = 3; at < rgb.size(); at++) changes += rgb[at] != rgb[at - 3];
    pictures.push_back(rgb);
    blockError.push_back(error);
    neighbourChanges.push_back(changes);
  }
  EXPECT_NE(pictures[0], pictures[1]);
  EXPECT_NE(pictures[0], pictures[2]);
  EXPECT_NE(pictures[1], pictures[2]);
  // A mode past the last one, and any other, does not dither.
  EXPECT_EQ(pictures[3], pictures[0]);
  EXPECT_EQ(pictures[4], pictures[0]);
  // Flat bands without dithering; light dithering breaks them up, heavy
  // dithering more so, and its error diffusion keeps the local averages.
  EXPECT_LT(neighbourChanges[0], neighbourChanges[1]);
  EXPECT_LT(neighbourChanges[1], neighbourChanges[2]);
  EXPECT_LT(blockError[2], blockError[0] * 0.75);
}

// A custom information chunk given with QorAviAddCustomInfo reaches the AVI
// a conversion writes, where ffprobe reads it as the title.
TEST(HostileConvert, CustomInfoReachesTheAviThatFfprobeReads) {
  REQUIRE_PEER("ffprobe");
  ScratchDir dir;
  Plan plan;
  plan.video = {{MakeClip(dir, 3)}};
  const std::string out = dir.File("titled.avi");
  {
    Conversion run(&plan);
    run.Video().Output(out, "");
    QOR_GET(QorAviAddCustomInfo)(run.h(), "INAM", "A hostile host's title");
    EXPECT_EQ(run.Go(), 0);
  }
  EXPECT_EQ(FirstLine("ffprobe -v error -show_entries format_tags=title -of "
                      "default=nw=1:nk=1 '" + out + "'"),
            "A hostile host's title");
}

// The one-call conversion with the tracked-block table nearly full: freed
// one block at a time, every step of it meets the refusal in turn (the
// lists, the descriptions, the conversion record, the pass). Each answer is
// an error, "no usable source", or a conversion whose refused frames were
// dropped, until there is room for the whole; never a crash, and what a
// refused run made is freed again (else the room would never come).
TEST(HostileConvert, QuickConversionAsTheLibraryRunsOutOfRoom) {
  ScratchDir dir;
  const std::string clip = MakeClip(dir, 2);
  const std::string out = dir.File("q000.ppm");
  std::vector<QorHandle> held = FillTheTable();
  int refusals = 0;
  while (!held.empty() && SequenceReds(dir.File("q")).empty()) {
    GiveBackOne(held);
    const int32_t result =
        QOR_GET(QorQuickConvert)(out.c_str(), clip.c_str(), "", K_AUTO, K_AUTO, 10.0);
    ASSERT_TRUE(result == 0 || result == 3 || result == 1000) << result;
    if (result != 1000) continue;
    refusals++;
    EXPECT_EQ(Outcome().errClass, 5);
  }
  EXPECT_GT(refusals, 3);
  EXPECT_GT(held.size(), 10000u);
  EXPECT_EQ(SequenceReds(dir.File("q")), (std::vector<int>{20, 40}));
  for (QorHandle h : held) QOR_GET(QorSndFree)(h);
}

// A conversion with files, pixels and sound, run as the library runs out of
// room: every answer is an error or a conversion, never a crash, and every
// refused run gives its room back.
TEST(HostileConvert, ConversionAsTheLibraryRunsOutOfRoom) {
  ScratchDir dir;
  const std::string wav = dir.File("tone.wav");
  WriteWav(wav, 11025, 1, 8, 2205);
  Plan plan;
  plan.video = {{MakeClip(dir, 2)}, {"", kUnset, kUnset, kUnset, true}};
  plan.audioFiles = {wav};
  const std::string out = dir.File("o.avi");
  std::vector<QorHandle> held = FillTheTable();
  for (int i = 0; i < 4; i++) GiveBackOne(held);  // room for the handle itself
  Conversion run(&plan);
  run.Video(true).Audio(true).Output(out, out);
  int refusals = 0;
  QorFileInfo info{};
  while (!held.empty() && info.frameCount != 3) {
    GiveBackOne(held);
    plan.keptFrame = plan.keptSound = nullptr;
    const int32_t result = run.Go();
    ASSERT_TRUE(result == 0 || result == 1000) << result;
    refusals += result == 1000;
    info = QorFileInfo{};
    QOR_GET(QorGetFileInfo)(out.c_str(), 0, &info, nullptr, nullptr);
  }
  EXPECT_GT(refusals, 3);
  EXPECT_GT(held.size(), 10000u);
  EXPECT_EQ(info.frameCount, 3);
  for (QorHandle h : held) QOR_GET(QorSndFree)(h);
}
