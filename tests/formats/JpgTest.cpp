#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "formats/FF_JPG.h"
#include "formats/StillPeer.h"
#include "support/TestUtil.h"

using StillPeer::Image;
using StillPeer::Ok;
using TestUtil::TempDir;

namespace {

// The smooth test picture with a fixed ripple, so that quality matters.
void MakeTextured(ImgBasic::Qimg* img, int32_t w, int32_t h) {
  StillPeer::MakePicture(img, w, h, 24);
  uint32_t seed = 12345;
  for (int64_t i = 0; i < int64_t(w) * h * 3; i++) {
    seed = seed * 1103515245u + 12345u;
    const int v = img->data[i] + int((seed >> 16) % 41) - 20;
    img->data[i] = static_cast<uint8_t>(std::clamp(v, 0, 255));
  }
}

TEST(JpgOptions, QualityIsClampedAndAutoOnlyReads) {
  EXPECT_EQ(FF_JPG::JPGQuality(Basic::K_AUTO), 85);
  EXPECT_EQ(FF_JPG::JPGQuality(150), 100);
  EXPECT_EQ(FF_JPG::JPGQuality(Basic::K_AUTO), 100);
  EXPECT_EQ(FF_JPG::JPGQuality(-5), 0);
  EXPECT_EQ(FF_JPG::JPGQuality(40), 40);
}

TEST(JpgQuality, ErrorFallsAsQualityRisesAndStaysNearThePeers) {
  NEED_MAGICK();
  TempDir dir;
  Image src;
  MakeTextured(src.get(), 96, 64);
  const auto want = StillPeer::ToRgb(src.img, false);
  double last = 1e9;
  for (int q : {10, 30, 50, 70, 90, 100}) {
    SCOPED_TRACE(q);
    FF_JPG::JPGQuality(q);
    const std::string ours = dir.File("ours.jpg");
    ASSERT_TRUE(Ok([&] { FF_JPG::JPGSave(ours, src.get()); }))
        << StillPeer::ErrorLine();
    Image back;
    ASSERT_TRUE(Ok([&] { FF_JPG::JPGLoad(ours, back.get()); }));
    const double err = StillPeer::Rms(StillPeer::ToRgb(back.img, false), want);
    EXPECT_LT(err, last);
    last = err;
    // The peer decodes our file as we do.
    EXPECT_LE(StillPeer::MaxDiff(StillPeer::PeerRead(ours, "rgb"),
                                 StillPeer::ToRgb(back.img, false)),
              2);
    // The peer's own file at the same quality (it keeps full colour
    // resolution from 90 up, hence the margin).
    const std::string theirs = dir.File("theirs.jpg");
    StillPeer::PeerWrite(want, 96, 64, "rgb", 8,
                         "-quality " + std::to_string(q), theirs);
    Image peer;
    ASSERT_TRUE(Ok([&] { FF_JPG::JPGLoad(theirs, peer.get()); }));
    const double peerErr =
        StillPeer::Rms(StillPeer::ToRgb(peer.img, false), want);
    EXPECT_LT(err, peerErr * 1.5 + 0.5) << "peer " << peerErr;
    EXPECT_GT(err, peerErr * 0.6 - 0.5) << "peer " << peerErr;
  }
}

TEST(JpgWrite, EveryDepthIsStoredAs24Bits) {
  TempDir dir;
  FF_JPG::JPGQuality(95);
  for (int32_t bits : {8, 15, 16, 24, 32}) {
    SCOPED_TRACE(bits);
    Image img, ref;
    StillPeer::MakePicture(img.get(), 24, 16, bits == 8 ? 8 : 24);
    ImgBasic::ImgCopy(img.get(), ref.get());
    if (bits == 15 || bits == 16 || bits == 32)
      ImgBasic::ImgConvBpp(img.get(), img.get(), bits);
    const std::string file = dir.File("d.jpg");
    TestUtil::WriteText(file, "an older file in the way");
    ASSERT_TRUE(Ok([&] { FF_JPG::JPGSave(file, img.get()); }))
        << StillPeer::ErrorLine();
    ConForm::FFInfoRec info;
    ASSERT_TRUE(Ok([&] { FF_JPG::JPGInfo(file, &info); }));
    EXPECT_EQ(info.picture.bitsPerPixel, 24);
    EXPECT_EQ(info.picture.bytesPerPixel, 3);
    EXPECT_EQ(info.picture.width, 24);
    EXPECT_EQ(info.picture.height, 16);
    EXPECT_EQ(info.picture.frameCount, 1);
    EXPECT_EQ(info.picture.videoCompression, "JFIF 1.02");
    EXPECT_TRUE(info.picture.hasPictures && info.picture.picturesReadable);
    EXPECT_EQ(info.fileSize, Basic::FSize64(file));
    Image back;
    ASSERT_TRUE(Ok([&] { FF_JPG::JPGLoad(file, back.get()); }));
    EXPECT_EQ(back->bitsPerPixel, 24);
    EXPECT_LT(StillPeer::Rms(StillPeer::ToRgb(back.img, false),
                             StillPeer::ToRgb(ref.img, false)),
              bits == 15 || bits == 16 ? 6.0 : 3.0);
  }
}

TEST(JpgRead, GreyFileLoadsAsEightBitsWithTheGreyRamp) {
  NEED_MAGICK();
  TempDir dir;
  std::vector<uint8_t> grey;
  for (int i = 0; i < 40 * 30; i++) grey.push_back(static_cast<uint8_t>(i * 3));
  const std::string file = dir.File("g.jpg");
  StillPeer::PeerWrite(grey, 40, 30, "gray", 8, "-quality 90", file);
  Image img;
  ASSERT_TRUE(Ok([&] { FF_JPG::JPGLoad(file, img.get()); }));
  ASSERT_EQ(img->bitsPerPixel, 8);
  for (int i = 0; i < 256; i++) ASSERT_EQ(img->palette[i * 3 + 1], i);
  const auto peer = StillPeer::PeerRead(file, "gray");
  ASSERT_EQ(peer.size(), 40u * 30);
  EXPECT_LE(StillPeer::MaxDiff(std::vector<uint8_t>(img->data, img->data + 1200),
                               peer),
            1);
  ConForm::FFInfoRec info;
  ASSERT_TRUE(Ok([&] { FF_JPG::JPGInfo(file, &info); }));
  EXPECT_EQ(info.picture.bitsPerPixel, 8);
}

TEST(JpgRead, CmykFileLoadsAsRgbLikeThePeerRendersIt) {
  NEED_MAGICK();
  TempDir dir;
  const auto samples = StillPeer::PictureSamples(48, 32, false);
  const std::string file = dir.File("cmyk.jpg");
  // Inks stored as they are, and as YCCK (colour space 5: converted by the codec).
  for (const char* coding : {"", " -define jpeg:colorspace=5"}) {
    SCOPED_TRACE(coding);
    StillPeer::PeerWrite(samples, 48, 32, "rgb", 8,
                         std::string("-colorspace CMYK -quality 95") + coding, file);
    ASSERT_NE(StillPeer::Capture("identify -format %[colorspace] '" + file + "'")
                  .find("CMYK"),
              std::string::npos);
    Image img;
    ASSERT_TRUE(Ok([&] { FF_JPG::JPGLoad(file, img.get()); }))
        << StillPeer::ErrorLine();
    EXPECT_EQ(img->bitsPerPixel, 24);
    const auto ours = StillPeer::ToRgb(img.img, false);
    EXPECT_LT(StillPeer::Rms(ours, StillPeer::PeerRead(file, "rgb")), 3.0);
    EXPECT_LT(StillPeer::Rms(ours, samples), 6.0);
    ConForm::FFInfoRec info;
    ASSERT_TRUE(Ok([&] { FF_JPG::JPGInfo(file, &info); }));
    EXPECT_EQ(info.picture.bitsPerPixel, 24);
  }
}

TEST(JpgRead, LibraryMessagesArriveAsTextErrors) {
  TempDir dir;
  TestUtil::WriteText(dir.File("x.jpg"), "GIF89a, not a JPEG");
  Image img;
  EXPECT_FALSE(Ok([&] { FF_JPG::JPGLoad(dir.File("x.jpg"), img.get()); }));
  EXPECT_EQ(Errors::ErrClass(), 1);
  EXPECT_NE(Errors::ErrLastText().find("Not a JPEG file"), std::string::npos)
      << StillPeer::ErrorLine();

  // A file cut short is an error, not a half-grey picture.
  Image src;
  MakeTextured(src.get(), 64, 64);
  ASSERT_TRUE(Ok([&] { FF_JPG::JPGSave(dir.File("t.jpg"), src.get()); }));
  auto bytes = StillPeer::ReadFile(dir.File("t.jpg"));
  bytes.resize(bytes.size() * 2 / 3);
  StillPeer::WriteFile(dir.File("t.jpg"), bytes);
  EXPECT_FALSE(Ok([&] { FF_JPG::JPGLoad(dir.File("t.jpg"), img.get()); }));
  EXPECT_EQ(Errors::ErrClass(), 1);
  EXPECT_EQ(Errors::ErrLastText(), "Premature end of JPEG file");

  // Nowhere to write: no library message, the create pair.
  EXPECT_FALSE(
      Ok([&] { FF_JPG::JPGSave(dir.File("none/x.jpg"), src.get()); }));
  EXPECT_EQ(Errors::ErrClass(), 7);
  EXPECT_EQ(Errors::ErrCode(), 11);
  EXPECT_FALSE(Ok([&] { FF_JPG::JPGLoad(dir.File("none.jpg"), img.get()); }));
  EXPECT_EQ(Errors::ErrClass(), 7);
  EXPECT_EQ(Errors::ErrCode(), 8);
  EXPECT_FALSE(Basic::FileExists(dir.File("none/x.jpg")));
}

}  // namespace
