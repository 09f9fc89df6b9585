#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "formats/ConForm.h"
#include "formats/FF_KWB.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "media/ImgBasic.h"
#include "media/SndBasic.h"
#include "support/TestUtil.h"

using namespace ConForm;
using ImgBasic::Qimg;

namespace {

void MakeFrame(Qimg* img, int32_t w, int32_t h, int32_t bits, int32_t n) {
  ImgBasic::_imgalloc_(img, w, h, "test.mvi", __LINE__, bits);
  for (int32_t i = 0; i < img->size; i++)
    img->data[i] = static_cast<uint8_t>((i / img->bytesPerPixel + n * 5) % 9 * 25);
  for (int i = 0; i < 768; i++) img->palette[i] = static_cast<uint8_t>(i * 3 + n);
}

std::vector<uint8_t> Bytes(const Qimg& img) {
  return std::vector<uint8_t>(img.data, img.data + int64_t{img.width} * img.height * img.bytesPerPixel);
}

// Writes frames (and for KWB, sound) through the layer's output side.
void WriteThroughLayer(const std::string& name, int32_t frames, int32_t bits, bool sound) {
  MviFile mvi;
  MviCreate(&mvi, name, 12.5, 1, frames);
  ASSERT_TRUE(MviWriteMode(&mvi));
  Qimg img;
  for (int32_t n = 1; n <= frames; n++) {
    MakeFrame(&img, 14, 10, bits, n);
    MviImgSave(&mvi, &img);
    if (sound) {
      SndBasic::SndRec s;
      SndBasic::SndMakeSilence(s, 40, 8000, 16, 1);
      for (int32_t i = 0; i < 80; i++) s.data[i] = static_cast<uint8_t>(i + n);
      MviSndSave(&mvi, &s);
      SndBasic::SndFree(s);
    }
  }
  EXPECT_EQ(MviFrameCount(&mvi), frames);
  MviClose(&mvi);
  EXPECT_EQ(mvi.handle, nullptr);
  ImgBasic::ImgFree(&img);
}

class MviFormats : public ::testing::TestWithParam<const char*> {};

// Positioning then loading frame n equals decoding 1..n in order.
TEST_P(MviFormats, PositionThenLoadEqualsSequentialDecoding) {
  TestUtil::TempDir dir;
  const std::string name = dir.File(std::string("m.") + GetParam());
  const bool kwb = std::string(GetParam()) == "kwb";
  FF_KWB::KWBSetKeyInterval(4);
  WriteThroughLayer(name, 9, 8, kwb);
  FF_KWB::KWBSetKeyInterval(25);

  MviFile mvi;
  MviOpen(&mvi, name, Basic::K_AUTO, nullptr, nullptr);
  ASSERT_TRUE(Errors::ErrNone());
  EXPECT_EQ(MviWidth(&mvi), 14);
  EXPECT_EQ(MviHeight(&mvi), 10);
  EXPECT_EQ(MviBitsPerPixel(&mvi), 8);
  EXPECT_EQ(MviBytesPerPixel(&mvi), 1);
  EXPECT_EQ(MviFrameCount(&mvi), 9);
  EXPECT_FALSE(MviWriteMode(&mvi));
  EXPECT_EQ(mvi.hasSound, kwb);
  std::vector<std::vector<uint8_t>> sequential;
  Qimg img;
  for (int32_t n = 1; n <= 9; n++) {
    MviImgLoad(&mvi, &img, n, n > 1 ? 1 : 0, nullptr);
    sequential.push_back(Bytes(img));
    EXPECT_EQ(MviCurrentFrame(&mvi), n);
  }
  for (int32_t n : {6, 2, 9, 1, 5}) {
    Qimg fresh, alpha;
    MviImgSetPos(&mvi, n);
    MviImgLoad(&mvi, &fresh, n, 0, &alpha);
    EXPECT_EQ(Bytes(fresh), sequential[n - 1]) << n;
    EXPECT_EQ(alpha.bitsPerPixel, 8);
    EXPECT_EQ(alpha.data[0], 255);
    ImgBasic::ImgFree(&fresh);
    ImgBasic::ImgFree(&alpha);
  }
  EXPECT_THROW(MviImgSetPos(&mvi, 10), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 12);
  EXPECT_EQ(Errors::ErrCode(), 7);
  EXPECT_THROW(MviImgSave(&mvi, &img), Errors::EMon);
  EXPECT_EQ(Errors::ErrCode(), 2);
  if (kwb) {
    SndBasic::SndRec s;
    MviSndLoad(&mvi, &s, 40, 40, 0);
    ASSERT_EQ(s.frames, 40);
    EXPECT_EQ(s.data[0], 2);  // the second chunk's first byte
    EXPECT_EQ(MviSamplePos(&mvi), 80);
    SndBasic::SndFree(s);
  }
  MviClose(&mvi);
  ImgBasic::ImgFree(&img);
  EXPECT_EQ(Basic::FileMark(), 0);
}

INSTANTIATE_TEST_SUITE_P(FlcAndKwb, MviFormats, ::testing::Values("flc", "kwb"));

TEST(Mvi, LoadingFromAWriterIsRefused) {
  TestUtil::TempDir dir;
  MviFile mvi;
  MviCreate(&mvi, dir.File("w.kwb"), 10, 1, 0);
  Qimg img;
  EXPECT_THROW(MviImgLoad(&mvi, &img, 1, 0, nullptr), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 12);
  EXPECT_FALSE(ImgBasic::ImgIsValid(&img));
  // Positioning a writer is refused silently.
  EXPECT_NO_THROW(MviImgSetPos(&mvi, 1));
  MviClose(&mvi);
}

TEST(Mvi, FormatsWithoutFramesHereAreRefused) {
  TestUtil::TempDir dir;
  MviFile mvi;
  EXPECT_THROW(MviCreate(&mvi, dir.File("x.gif"), 10, 1, 0), Errors::EMon);
  EXPECT_EQ(Errors::ErrCode(), 1);
  EXPECT_EQ(mvi.handle, nullptr);
  EXPECT_THROW(MviCreate(&mvi, dir.File("x.bmp"), 10, 1, 0), Errors::EMon);
  EXPECT_EQ(Errors::ErrCode(), 1);
  EXPECT_THROW(MviOpen(&mvi, dir.File("x.tga"), kFmtTGA, nullptr, nullptr), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 12);
  EXPECT_EQ(Errors::ErrCode(), 1);
  // A reader that cannot open its file leaves an empty record and no file.
  EXPECT_THROW(MviOpen(&mvi, dir.File("missing.flc"), Basic::K_AUTO, nullptr, nullptr),
               Errors::EMon);
  EXPECT_EQ(mvi.handle, nullptr);
  EXPECT_EQ(Basic::FileMark(), 0);
  MviClose(&mvi);
}

UniInfoRec StreamInfo(const std::string& name, int32_t format, int32_t frames) {
  UniInfoRec info;
  info.format = format;
  info.kind = kKindStream;
  info.name = name;
  info.picture.width = 14;
  info.picture.height = 10;
  info.picture.bitsPerPixel = 8;
  info.picture.frameCount = frames;
  info.picture.fps = 12.5;
  info.picture.hasPictures = info.picture.picturesReadable = true;
  return info;
}

TEST(Uni, StreamSourceKeepsFrameAndTimes) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("s.flc");
  WriteThroughLayer(name, 5, 8, false);
  const UniInfoRec info = StreamInfo(name, kFmtFLC, 5);
  UniFile uni;
  UniOpen(&uni, &info);
  Qimg img, alpha;
  UniImgLoad(&uni, &img, 3, 0);
  EXPECT_EQ(uni.currentFrame, 3);
  EXPECT_DOUBLE_EQ(uni.videoTime, 2 / 12.5);
  // Reading the alpha plane of another frame leaves the position alone.
  UniImgLoadAlpha(&uni, &alpha, 5);
  EXPECT_EQ(uni.currentFrame, 3);
  EXPECT_EQ(alpha.data[0], 255);
  // No sound in a FLIC source.
  SndBasic::SndRec s;
  EXPECT_THROW(UniSndLoad(&uni, &s, 0, 10, 0), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 12);
  EXPECT_EQ(Errors::ErrCode(), 5);
  UniClose(&uni);
  EXPECT_EQ(Basic::FileMark(), 0);
  ImgBasic::ImgFree(&img);
  ImgBasic::ImgFree(&alpha);
}

TEST(Uni, SequenceReadsTheNumberedFile) {
  TestUtil::TempDir dir;
  Qimg img;
  for (int n = 7; n <= 9; n++) {
    MakeFrame(&img, 6, 4, 24, n);
    ImgSave(dir.File("pic" + std::to_string(n).insert(0, 3 - std::to_string(n).size(), '0') + ".bmp"),
            &img, Basic::K_AUTO);
  }
  UniInfoRec info;
  info.format = kFmtBMP;
  info.kind = kKindSequence;
  info.name = dir.File("pic007.bmp");
  info.seqPrefix = dir.File("pic");
  info.seqSuffix = ".bmp";
  info.firstNumber = 7;
  info.fileCount = 3;
  info.digitCount = 3;
  info.picture.picturesReadable = true;
  UniFile uni;
  UniOpen(&uni, &info);
  EXPECT_EQ(SeqGetName(&uni, 2), dir.File("pic008.bmp"));
  Qimg got, want;
  UniImgLoad(&uni, &got, 2, 0);
  MakeFrame(&want, 6, 4, 24, 8);
  EXPECT_EQ(Bytes(got), Bytes(want));
  EXPECT_TRUE(uni.newPalette);
  // Frame 5 would be number 11, which does not exist: the reader's error.
  EXPECT_THROW(UniImgLoad(&uni, &got, 5, 0), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 6);
  UniClose(&uni);
  for (Qimg* q : {&img, &got, &want}) ImgBasic::ImgFree(q);
}

TEST(Uni, UnknownKindAndUnreadablePictures) {
  UniInfoRec info;
  info.kind = 9;
  UniFile uni;
  EXPECT_THROW(UniOpen(&uni, &info), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 16);
  EXPECT_EQ(Errors::ErrCode(), 1);
  info.kind = kKindImage;
  info.picture.picturesReadable = false;
  UniOpen(&uni, &info);
  Qimg img;
  EXPECT_THROW(UniImgLoad(&uni, &img, 1, 0), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 12);
  EXPECT_EQ(Errors::ErrCode(), 5);
  UniClose(&uni);
}

}  // namespace
