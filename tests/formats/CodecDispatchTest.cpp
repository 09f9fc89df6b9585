// TIFF, JPEG, PNG and XPM through the format layer: the file-information
// record, recognition by extension and by probing, the still dispatch, the
// depths the writers store and the writers' clean failure.
#include <gtest/gtest.h>

#include "formats/FFBasic.h"
#include "formats/FF_JPG.h"
#include "formats/FF_TIF.h"
#include "FormatTestUtil.h"

using namespace fmttest;

namespace {

struct Case {
  const char* ext;
  int32_t id;
  const char* filter;
  const char* compression;  // what the layer reports for a 24-bit file
  bool lossless;
};

const Case kCases[] = {
    {"tif", ConForm::kFmtTIFF, "TIFF, Tagged Image File Format", "Uncompressed", true},
    {"png", ConForm::kFmtPNG, "PNG, Portable Network Graphics",
     "Deflate compression (modified LZ77)", true},
    {"jpg", ConForm::kFmtJPEG, "JPEG, Joint Photographic Experts Group", "JFIF 1.02", false},
    {"xpm", ConForm::kFmtXPM, "XPM, X PixMap", "Uncompressed, full frames", true},
};

int MaxDiff(const Rgb& a, const Rgb& b) {
  int worst = 0;
  for (size_t i = 0; i < a.rgb.size() && i < b.rgb.size(); i++)
    worst = std::max(worst, std::abs(a.rgb[i] - b.rgb[i]));
  return worst;
}

// Writes a picture at a depth through the still dispatch.
bool SavePicture(const Rgb& pic, int32_t bits, const std::string& name) {
  ImgBasic::Qimg image;
  ToQimg(pic, bits, &image);
  const bool ok = Save(name, &image);
  ImgBasic::ImgFree(&image);
  return ok;
}

class CodecDispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    FF_TIF::TIFSetCompression(1);
    FF_JPG::JPGQuality(85);
  }
};

TEST_F(CodecDispatch, SaveDescribeAndLoadByExtension) {
  const Rgb pic = TestPicture(13, 7);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.ext);
    const std::string name = Path(std::string("d.") + c.ext);
    ASSERT_TRUE(SavePicture(pic, 24, name)) << Errors::ErrLastText();

    ConForm::FFInfoRec info;
    ConForm::FFInfo(name, Basic::K_AUTO, &info, nullptr, nullptr);
    EXPECT_EQ(info.format, c.id);
    EXPECT_EQ(info.filter, c.filter);
    EXPECT_EQ(info.fileSize, Basic::FSize64(name));
    EXPECT_EQ(info.picture.width, 13);
    EXPECT_EQ(info.picture.height, 7);
    EXPECT_EQ(info.picture.bitsPerPixel, 24);
    EXPECT_EQ(info.picture.bytesPerPixel, 3);
    EXPECT_EQ(info.picture.frameCount, 1);
    EXPECT_EQ(info.picture.videoCompression, c.compression);
    EXPECT_TRUE(info.picture.hasPictures && info.picture.picturesReadable);
    EXPECT_EQ(info.sound.audioCompression, "PCM, uncompressed");

    ConForm::UniInfoRec uni;
    ASSERT_TRUE(ConForm::UniInfo(name, &uni, 1, nullptr, nullptr, false));
    EXPECT_EQ(uni.format, c.id);
    EXPECT_EQ(uni.kind, ConForm::kKindImage);

    const Rgb got = LoadRgb(name);
    ASSERT_EQ(got.width, 13);
    ASSERT_EQ(got.height, 7);
    if (c.lossless)
      EXPECT_EQ(got, pic);
    else
      EXPECT_LT(MaxDiff(got, pic), 160);  // noise pixels; exactness is the peer tests'
  }
  EXPECT_EQ(Basic::FileMark(), 0);
}

TEST_F(CodecDispatch, OtherExtensionsOfTheTables) {
  const Rgb pic = FewColours(6, 5);
  ImgBasic::Qimg image;
  ToQimg(pic, 24, &image);
  // The save table knows .tiff and .jpeg; the load table also .jpe and .jfif.
  ASSERT_TRUE(Save(Path("e.tiff"), &image));
  ASSERT_TRUE(Save(Path("e.jpeg"), &image));
  ImgBasic::ImgFree(&image);
  EXPECT_EQ(LoadRgb(Path("e.tiff")), pic);
  for (const char* ext : {"jpe", "jfif"}) {
    WriteFile(Path(std::string("e.") + ext), ReadFile(Path("e.jpeg")));
    ConForm::FFInfoRec info;
    ConForm::FFInfo(Path(std::string("e.") + ext), Basic::K_AUTO, &info, nullptr, nullptr);
    EXPECT_EQ(info.format, ConForm::kFmtJPEG) << ext;
  }
}

// A file under a wrong extension is found by trying every reader in turn.
TEST_F(CodecDispatch, ProbingFindsTheFormatBehindAWrongExtension) {
  const Rgb pic = TestPicture(5, 4);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.ext);
    const std::string right = Path(std::string("p.") + c.ext);
    ASSERT_TRUE(SavePicture(pic, 24, right));
    const std::string wrong = Path(std::string("p_") + c.ext + ".pcx");
    WriteFile(wrong, ReadFile(right));
    ConForm::UniInfoRec uni;
    ASSERT_TRUE(ConForm::UniInfo(wrong, &uni, 1, nullptr, nullptr, false));
    EXPECT_EQ(uni.format, c.id);
    EXPECT_EQ(uni.picture.width, 5);
    ImgBasic::Qimg loaded;
    ASSERT_TRUE(Load(wrong, &loaded, uni.format)) << Errors::ErrLastText();
    EXPECT_EQ(loaded.width, 5);
    ImgBasic::ImgFree(&loaded);
  }
}

// The depth each writer stores, read back from the file it wrote: 8 bits
// stay 8 in PNG and TIFF, 15 and 16 become 24, 32 stays 32; JPEG and XPM
// store 24 bits whatever they are given.
TEST_F(CodecDispatch, StoredDepthFollowsTheFormatTable) {
  const Rgb few = FewColours(7, 3);
  struct Expect {
    const char* ext;
    int32_t stored[4];  // for 8, 15, 24, 32 bits
  };
  const Expect table[] = {{"png", {8, 24, 24, 32}},
                          {"tif", {8, 24, 24, 32}},
                          {"jpg", {24, 24, 24, 24}},
                          {"xpm", {24, 24, 24, 24}}};
  const int32_t depths[4] = {8, 15, 24, 32};
  for (const Expect& e : table)
    for (int k = 0; k < 4; k++) {
      SCOPED_TRACE(std::string(e.ext) + " from " + std::to_string(depths[k]));
      const std::string name = Path(std::string("depth.") + e.ext);
      ASSERT_TRUE(SavePicture(few, depths[k], name)) << Errors::ErrLastText();
      ConForm::FFInfoRec info;
      ConForm::FFInfo(name, Basic::K_AUTO, &info, nullptr, nullptr);
      EXPECT_EQ(info.picture.bitsPerPixel, e.stored[k]);
      ImgBasic::Qimg loaded;
      ASSERT_TRUE(Load(name, &loaded));
      EXPECT_EQ(loaded.bitsPerPixel, e.stored[k]);
      ImgBasic::ImgFree(&loaded);
    }
}

// The still dispatch hands a 32-bit file's fourth bytes over as the alpha
// image, and an all-255 alpha image for an opaque file.
TEST_F(CodecDispatch, AlphaImageOfTheLoadedPicture) {
  ImgBasic::Qimg image;
  ToQimg(TestPicture(4, 2), 32, &image);
  for (int i = 0; i < 8; i++) image.data[i * 4 + 3] = static_cast<uint8_t>(i * 30);
  for (const char* ext : {"png", "tif"}) {
    const std::string name = Path(std::string("alpha.") + ext);
    ASSERT_TRUE(Save(name, &image));
    ImgBasic::Qimg loaded, alpha;
    ConForm::ImgLoad(name, &loaded, Basic::K_AUTO, &alpha);
    ASSERT_EQ(alpha.bitsPerPixel, 8) << ext;
    for (int i = 0; i < 8; i++) EXPECT_EQ(alpha.data[i], i * 30) << ext << " " << i;
    ImgBasic::ImgFree(&loaded);
    ImgBasic::ImgFree(&alpha);
  }
  ImgBasic::ImgFree(&image);
  ToQimg(TestPicture(4, 2), 24, &image);
  ASSERT_TRUE(Save(Path("opaque.jpg"), &image));
  ImgBasic::Qimg loaded, alpha;
  ConForm::ImgLoad(Path("opaque.jpg"), &loaded, Basic::K_AUTO, &alpha);
  ASSERT_EQ(alpha.width, 4);
  for (int i = 0; i < 8; i++) EXPECT_EQ(alpha.data[i], 255);
  ImgBasic::ImgFree(&loaded);
  ImgBasic::ImgFree(&alpha);
  ImgBasic::ImgFree(&image);
}

// A record whose pixel block is smaller than its size says cannot be
// prepared for any writer: (14, 1), and no file is made.
TEST_F(CodecDispatch, ImageThatCannotBePreparedWritesNothing) {
  ImgBasic::Qimg image;
  ToQimg(TestPicture(4, 4), 24, &image);
  image.height = 400;
  for (const Case& c : kCases) {
    const std::string name = Path(std::string("short.") + c.ext);
    EXPECT_FALSE(Save(name, &image)) << c.ext;
    EXPECT_EQ(Errors::ErrClass(), 14) << c.ext;
    EXPECT_EQ(Errors::ErrCode(), 1) << c.ext;
    EXPECT_FALSE(Basic::FileExists(name)) << c.ext;
  }
  image.height = 4;
  image.bytesPerPixel = 4;  // disagrees with 24 bits
  FFBasic::FFInitRec rec;
  EXPECT_THROW(FFBasic::FFInit(ConForm::kFmtPNG, &rec, &image, 1), Errors::EMon);
  EXPECT_EQ(rec.image, nullptr);
  image.bytesPerPixel = 3;
  ImgBasic::ImgFree(&image);
}

// A writer that fails after creating its output leaves no file behind; the
// codec library's own message is the error.
TEST_F(CodecDispatch, FailedWriteLeavesNoFile) {
  ImgBasic::Qimg wide;
  ImgBasic::_imgalloc_(&wide, 70000, 1, "test.wide", __LINE__, 24);
  FF_TIF::TIFSetCompression(7);  // the JPEG coding holds at most 65500 columns
  for (const char* ext : {"tif", "jpg"}) {
    const std::string name = Path(std::string("wide.") + ext);
    WriteFile(name, Bytes(10, 1));  // an old file is replaced, not kept
    EXPECT_FALSE(Save(name, &wide)) << ext;
    EXPECT_EQ(Errors::ErrClass(), 1) << ext;
    EXPECT_FALSE(Errors::ErrLastText().empty());
    EXPECT_FALSE(Basic::FileExists(name)) << ext;
  }
  FF_TIF::TIFSetCompression(1);
  ImgBasic::ImgFree(&wide);
  EXPECT_EQ(Basic::FileMark(), 0);
}

}  // namespace
