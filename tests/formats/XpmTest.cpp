#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "formats/FF_XPM.h"
#include "formats/StillPeer.h"
#include "support/TestUtil.h"

using StillPeer::Image;
using StillPeer::Ok;
using TestUtil::TempDir;

namespace {

// Named colours, hex colours of three lengths, and a see-through colour.
const char* kNamed =
    "/* XPM */\n"
    "static char * named_xpm[] = {\n"
    "\"4 3 7 1\",\n"
    "\"r c red\",\n"
    "\"n c navy blue\",\n"
    "\"g c Gray50\",\n"
    "\"h c #10A0FF\",\n"
    "\"s c #F00\",\n"
    "\"w c #FFFF80800000\",\n"
    "\". c None\",\n"
    "\"rngh\",\n"
    "\"sw.r\",\n"
    "\"....\"};\n";

TEST(XpmRead, NamedHexAndNoneColours) {
  TempDir dir;
  const std::string file = dir.File("named.xpm");
  TestUtil::WriteText(file, kNamed);
  Image img;
  ASSERT_TRUE(Ok([&] { FF_XPM::XPMLoad(file, img.get()); }))
      << StillPeer::ErrorLine();
  ASSERT_EQ(img->bitsPerPixel, 24);
  ASSERT_EQ(img->width, 4);
  ASSERT_EQ(img->height, 3);
  // R,G,B by hand: X's red, navy blue and gray50; hex digits are the high
  // bits of each component ("#F00" is F0, 0, 0); None comes out black.
  const std::vector<uint8_t> want = {
      255, 0,   0,   0,   0,   128, 127, 127, 127, 16,  160, 255,  //
      240, 0,   0,   255, 128, 0,   0,   0,   0,   255, 0,   0,    //
      0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0};
  EXPECT_EQ(StillPeer::ToRgb(img.img, false), want);
  EXPECT_TRUE(Errors::WarnNone());

  if (StillPeer::HaveMagick()) {
    // The peer agrees on every colour it paints (it scales "#F00" to FF and
    // keeps None see-through, so those are left out).
    const auto peer = StillPeer::PeerRead(file, "rgba");
    ASSERT_EQ(peer.size(), 12u * 4);
    for (int i : {0, 1, 2, 3, 5, 7}) {
      SCOPED_TRACE(i);
      for (int k = 0; k < 3; k++) EXPECT_EQ(peer[i * 4 + k], want[i * 3 + k]);
    }
    for (int i = 8; i < 12; i++) EXPECT_EQ(peer[i * 4 + 3], 0);
  }

  ConForm::FFInfoRec info;
  ASSERT_TRUE(Ok([&] { FF_XPM::XPMInfo(file, &info); }));
  EXPECT_EQ(info.picture.width, 4);
  EXPECT_EQ(info.picture.height, 3);
  EXPECT_EQ(info.picture.bitsPerPixel, 24);
  EXPECT_EQ(info.picture.bytesPerPixel, 3);
  EXPECT_EQ(info.picture.frameCount, 1);
  EXPECT_TRUE(info.picture.hasPictures && info.picture.picturesReadable);
  EXPECT_EQ(info.fileSize, Basic::FSize64(file));
}

TEST(XpmRead, UnknownColourNameIsBlackWithAWarning) {
  TempDir dir;
  const std::string file = dir.File("odd.xpm");
  TestUtil::WriteText(file,
                      "/* XPM */\nstatic char *o[] = {\n\"2 1 2 1\",\n"
                      "\"a c no-such-colour\",\n\"b c white\",\n\"ab\"};\n");
  Image img;
  ASSERT_TRUE(Ok([&] { FF_XPM::XPMLoad(file, img.get()); }));
  EXPECT_EQ(StillPeer::ToRgb(img.img, false),
            (std::vector<uint8_t>{0, 0, 0, 255, 255, 255}));
  EXPECT_EQ(Errors::WarnClass(), 1);
  EXPECT_NE(Errors::WarnText().find("no-such-colour"), std::string::npos);
}

// A colour given for grey or mono displays only is taken from that key
// (grey before four-level grey before mono); nine hex digits are three a
// component, of which the first two count.
TEST(XpmRead, GreyAndMonoOnlyKeysAndNineDigitHex) {
  TempDir dir;
  const std::string file = dir.File("keys.xpm");
  TestUtil::WriteText(file,
                      "/* XPM */\nstatic char *k[] = {\n\"4 1 4 1\",\n\"a m black g #808080\",\n"
                      "\"b m white g4 #404040\",\n\"c m #0000FF\",\n"
                      "\"d c #123456789\",\n\"abcd\"};\n");
  Image img;
  ASSERT_TRUE(Ok([&] { FF_XPM::XPMLoad(file, img.get()); })) << StillPeer::ErrorLine();
  EXPECT_EQ(StillPeer::ToRgb(img.img, false),
            (std::vector<uint8_t>{128, 128, 128, 64, 64, 64, 0, 0, 255, 0x12, 0x45, 0x78}));
}

// A picture of about 1000 colours.
void MakeManyColours(ImgBasic::Qimg* img) {
  StillPeer::MakePicture(img, 50, 20, 24);
}

TEST(XpmWrite, MoreThan256ColoursRoundTripThroughThePeer) {
  TempDir dir;
  Image img;
  MakeManyColours(img.get());
  const auto want = StillPeer::ToRgb(img.img, false);
  const std::string file = dir.File("many.xpm");
  ASSERT_TRUE(Ok([&] { FF_XPM::XPMSave(file, img.get()); }))
      << StillPeer::ErrorLine();
  const std::string text = TestUtil::ReadText(file);
  EXPECT_NE(text.find("static char * many_xpm[]"), std::string::npos);
  // More than 256 colours need two characters a pixel here.
  EXPECT_NE(text.find("\"50 20 "), std::string::npos);
  EXPECT_NE(text.find(" 2\""), std::string::npos) << text.substr(0, 200);
  Image back;
  ASSERT_TRUE(Ok([&] { FF_XPM::XPMLoad(file, back.get()); }));
  EXPECT_EQ(StillPeer::ToRgb(back.img, false), want);
  if (StillPeer::HaveMagick()) {
    EXPECT_EQ(StillPeer::PeerRead(file, "rgb"), want);
    // A file not of our making, with 300 colours of two characters.
    std::string text = "/* XPM */\nstatic char *t[] = {\n\"20 15 300 2\",\n";
    std::vector<uint8_t> rgb;
    auto code = [](int i) {
      return std::string(1, char('A' + i % 26)) + char('a' + i / 26);
    };
    for (int i = 0; i < 300; i++) {
      char line[40];
      std::snprintf(line, sizeof line, "\"%s c #%02X%02X%02X\",\n",
                    code(i).c_str(), i % 256, i / 2, 255 - i % 200);
      text += line;
    }
    for (int y = 0; y < 15; y++) {
      text += "\"";
      for (int x = 0; x < 20; x++) {
        const int i = y * 20 + x;
        text += code(i);
        rgb.insert(rgb.end(), {uint8_t(i % 256), uint8_t(i / 2),
                               uint8_t(255 - i % 200)});
      }
      text += y == 14 ? "\"};\n" : "\",\n";
    }
    const std::string theirs = dir.File("theirs.xpm");
    TestUtil::WriteText(theirs, text);
    ASSERT_TRUE(Ok([&] { FF_XPM::XPMLoad(theirs, back.get()); }))
        << StillPeer::ErrorLine();
    EXPECT_EQ(StillPeer::ToRgb(back.img, false), rgb);
    EXPECT_EQ(StillPeer::PeerRead(theirs, "rgb"), rgb);
  }
}

TEST(XpmWrite, EveryDepthIsStoredAs24Bits) {
  TempDir dir;
  Image pal;
  StillPeer::MakePaletted(pal.get(), 10, 4, 3);
  const std::string file = dir.File("p.xpm");
  TestUtil::WriteText(file, "in the way");
  ASSERT_TRUE(Ok([&] { FF_XPM::XPMSave(file, pal.get()); }));
  Image back;
  ASSERT_TRUE(Ok([&] { FF_XPM::XPMLoad(file, back.get()); }));
  EXPECT_EQ(back->bitsPerPixel, 24);
  EXPECT_EQ(StillPeer::ToRgb(back.img, false), StillPeer::ToRgb(pal.img, false));
}

TEST(XpmRead, LibraryMessagesArriveAsTextErrors) {
  TempDir dir;
  TestUtil::WriteText(dir.File("bad.xpm"), "/* XPM */\nstatic char *x[] = {\n\"2 2 1 1\",\n\"a c red\",\n\"aa\"};\n");
  Image img;
  EXPECT_FALSE(Ok([&] { FF_XPM::XPMLoad(dir.File("bad.xpm"), img.get()); }));
  EXPECT_EQ(Errors::ErrClass(), 1);
  EXPECT_EQ(Errors::ErrLastText(), "XpmFileInvalid");
  ConForm::FFInfoRec info;
  EXPECT_FALSE(Ok([&] { FF_XPM::XPMInfo(dir.File("none.xpm"), &info); }));
  EXPECT_EQ(Errors::ErrClass(), 7);
  EXPECT_EQ(Errors::ErrCode(), 8);
  Image small;
  StillPeer::MakePicture(small.get(), 3, 3, 24);
  EXPECT_FALSE(
      Ok([&] { FF_XPM::XPMSave(dir.File("no/dir.xpm"), small.get()); }));
  EXPECT_EQ(Errors::ErrClass(), 7);
  EXPECT_EQ(Errors::ErrCode(), 11);
  // No image at all cannot be prepared.
  Image none;
  EXPECT_FALSE(Ok([&] { FF_XPM::XPMSave(dir.File("n.xpm"), none.get()); }));
  EXPECT_EQ(Errors::ErrClass(), 14);
  EXPECT_EQ(Errors::ErrCode(), 1);
}

}  // namespace
