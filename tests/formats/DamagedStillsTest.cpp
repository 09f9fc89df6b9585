// Cut and bit-flipped still files: every load ends either with a picture or
// with an error pair, never a crash, and leaves no tracked block behind.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "formats/FF_JPG.h"
#include "formats/FF_PNG.h"
#include "formats/FF_TIF.h"
#include "formats/FF_XPM.h"
#include "formats/StillPeer.h"
#include "support/TestUtil.h"

using StillPeer::Image;
using StillPeer::Ok;
using TestUtil::TempDir;

namespace {

using Loader = std::function<void(const std::string&, ImgBasic::Qimg*)>;
using Describer =
    std::function<void(const std::string&, ConForm::FFInfoRec*)>;

// Loads every damaged copy of a good file. A cut file fails, unless the cut
// took only bytes the picture does not need and it loads whole; a flipped
// one may load (the bit can fall in pixel data) but fails cleanly when it
// does not.
void Damage(const std::string& good, const Loader& load,
            const Describer& describe) {
  TempDir dir;
  const auto bytes = StillPeer::ReadFile(good);
  std::vector<uint8_t> whole;
  {
    Image img;
    ASSERT_TRUE(Ok([&] { load(good, img.get()); }));
    whole = StillPeer::ToRgb(img.img, img->bitsPerPixel == 32);
  }
  ASSERT_GT(bytes.size(), 32u);
  const std::string file = dir.File("damaged");
  const int32_t mark = Basic::MemMark();
  const int32_t files = Basic::FileMark();

  std::vector<size_t> cuts = {0, 3, 8, 16, 33};
  for (int k = 1; k < 10; k++) cuts.push_back(bytes.size() * k / 10);
  cuts.push_back(bytes.size() - 1);
  for (size_t cut : cuts) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    StillPeer::WriteFile(file, std::vector<uint8_t>(bytes.begin(),
                                                    bytes.begin() + cut));
    Image img;
    const bool loaded = Ok([&] { load(file, img.get()); });
    if (loaded) {
      EXPECT_EQ(StillPeer::ToRgb(img.img, img->bitsPerPixel == 32), whole);
    } else {
      EXPECT_NE(Errors::ErrClass(), 0);
      EXPECT_FALSE(Errors::ErrLastText().empty());
      EXPECT_EQ(Basic::MemMark(), mark);
    }
    ConForm::FFInfoRec info;
    Ok([&] { describe(file, &info); });
    EXPECT_EQ(Basic::FileMark(), files);
  }

  uint32_t seed = 2024;
  for (int n = 0; n < 200; n++) {
    seed = seed * 1664525u + 1013904223u;
    auto copy = bytes;
    const size_t at = (seed >> 8) % copy.size();
    copy[at] ^= static_cast<uint8_t>(1u << ((seed >> 4) % 8));
    SCOPED_TRACE("bit flipped at " + std::to_string(at));
    StillPeer::WriteFile(file, copy);
    Image img;
    if (!Ok([&] { load(file, img.get()); })) {
      EXPECT_NE(Errors::ErrClass(), 0);
      EXPECT_FALSE(Errors::ErrLastText().empty());
      EXPECT_EQ(Basic::MemMark(), mark);
    } else {
      EXPECT_GT(img->width, 0);
      EXPECT_GT(img->height, 0);
    }
    ConForm::FFInfoRec info;
    Ok([&] { describe(file, &info); });
    EXPECT_EQ(Basic::FileMark(), files);
  }
}

TEST(DamagedStills, Tiff) {
  TempDir dir;
  Image img;
  StillPeer::MakePicture(img.get(), 60, 40, 24);
  for (int32_t compression : {1, 5, 7, 32773, 32946, 4}) {
    SCOPED_TRACE(compression);
    FF_TIF::TIFSetCompression(compression);
    const std::string good = dir.File("good.tif");
    ASSERT_TRUE(Ok([&] { FF_TIF::TIFSave(good, img.get()); }));
    Damage(good, FF_TIF::TIFLoad, FF_TIF::TIFInfo);
  }
}

TEST(DamagedStills, TiffFromThePeer) {
  if (!StillPeer::HaveMagick()) GTEST_SKIP() << "ImageMagick not installed";
  TempDir dir;
  const auto samples = StillPeer::PictureSamples(40, 30, true);
  for (const char* options :
       {"-interlace Plane -compress LZW", "-define tiff:tile-geometry=16x16",
        "-alpha off -colorspace CMYK -compress Zip", "-depth 16 -compress None"}) {
    SCOPED_TRACE(options);
    const std::string good = dir.File("peer.tif");
    StillPeer::PeerWrite(samples, 40, 30, "rgba", 8, options, good);
    Damage(good, FF_TIF::TIFLoad, FF_TIF::TIFInfo);
  }
}

TEST(DamagedStills, Png) {
  TempDir dir;
  for (int32_t bits : {8, 24, 32}) {
    SCOPED_TRACE(bits);
    Image img;
    if (bits == 8)
      StillPeer::MakePaletted(img.get(), 50, 30, 7);
    else
      StillPeer::MakePicture(img.get(), 50, 30, bits);
    const std::string good = dir.File("good.png");
    ASSERT_TRUE(Ok([&] { FF_PNG::PNGSave(good, img.get()); }));
    Damage(good, FF_PNG::PNGLoad, FF_PNG::PNGInfo);
  }
}

TEST(DamagedStills, Jpeg) {
  TempDir dir;
  Image img;
  StillPeer::MakePicture(img.get(), 64, 48, 24);
  const std::string good = dir.File("good.jpg");
  ASSERT_TRUE(Ok([&] { FF_JPG::JPGSave(good, img.get()); }));
  Damage(good, FF_JPG::JPGLoad, FF_JPG::JPGInfo);
}

TEST(DamagedStills, Xpm) {
  TempDir dir;
  Image img;
  StillPeer::MakePicture(img.get(), 30, 20, 24);
  const std::string good = dir.File("good.xpm");
  ASSERT_TRUE(Ok([&] { FF_XPM::XPMSave(good, img.get()); }));
  Damage(good, FF_XPM::XPMLoad, FF_XPM::XPMInfo);
  // Cutting inside the rows fails.
  const auto bytes = StillPeer::ReadFile(good);
  StillPeer::WriteFile(good, std::vector<uint8_t>(bytes.begin(),
                                                  bytes.end() - 100));
  Image cut;
  EXPECT_FALSE(Ok([&] { FF_XPM::XPMLoad(good, cut.get()); }));
  EXPECT_EQ(Errors::ErrClass(), 1);
  // Sizes no file of this length can hold are refused before any table is
  // made for them.
  for (const char* values : {"60000 60000 1 1", "4 4 4000000000 1",
                             "2 2 1 4000000000"}) {
    SCOPED_TRACE(values);
    TestUtil::WriteText(good, std::string("/* XPM */\nstatic char *x[] = {\n\"") +
                                  values + "\",\n\"a c red\",\n\"aaaa\"};\n");
    EXPECT_FALSE(Ok([&] { FF_XPM::XPMLoad(good, cut.get()); }));
    EXPECT_EQ(Errors::ErrLastText(), "XpmFileInvalid");
  }
}

}  // namespace
