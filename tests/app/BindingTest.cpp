// The run-time binding: against the recording stand-in, and end to end
// against the real library (skipped while an export it needs is missing).

#include <filesystem>

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QSlider>
#include <QStandardPaths>
#include <QTest>

#include "AppTestSupport.h"
#include "frmImage.h"
#include "modMain.h"

namespace {

using apptest::AppTest;
using apptest::Stub;

class BindingTest : public AppTest {};

TEST_F(BindingTest, LoadsTheLibraryOnFirstUseAndPassesEveryArgumentThrough) {
  Stub stub;
  EXPECT_TRUE(LibQor::LoadedFrom().empty());

  QorHandle handle = LibQor::QorAlloc();
  EXPECT_EQ(LibQor::LoadedFrom(), stub.Path().toStdString());
  ASSERT_NE(handle, nullptr);
  LibQor::QorFree(handle);

  const QString picture = TempPath("in.bmp");
  ASSERT_TRUE(apptest::SaveBmp(apptest::RampPicture(8, 6), picture));
  LibQor::FileInfo info{};
  stub.SetFileInfo(apptest::MovieInfo(8, 6, 24, 7));
  int progressData = 0;
  LibQor::QorGetFileInfo(picture.toLocal8Bit().constData(), 2, &info,
                         [](QorInfoProgress*) {}, &progressData);
  EXPECT_EQ(info.frameCount, 7);
  EXPECT_EQ(info.width, 8);
  EXPECT_DOUBLE_EQ(info.fps, 25.0);
  {
    LibQor::ScopedImage image;
    EXPECT_EQ(LibQor::QorImgLoadSingle(image.get(), picture.toLocal8Bit().constData(), -3), 0);
    EXPECT_EQ(LibQor::QorImgSaveSingle(image.get(), TempPath("out.bmp").toLocal8Bit().constData(),
                                       K_AUTO), 0);
    int32_t w = -1, h = -1, bpp = -1, bytes = -1;
    void* pixels = &w;
    void* palette = &w;
    LibQor::QorImgGetInfo(image.get(), &w, &h, &bpp, &bytes, &pixels, &palette);
  }
  EXPECT_EQ(LibQor::QorImgLoadSingle(nullptr, "x", 1), 0);
  EXPECT_EQ(LibQor::QorCheckError(), 0);
  QorLastError last{-1, -1, -1};
  LibQor::QorGetLastError(&last);
  EXPECT_EQ(last.code, 0);

  EXPECT_EQ(stub.Calls(),
            QStringList({"QorAlloc()", "QorFree()",
                         "QorGetFileInfo(" + picture + ",2,progress,data)", "QorImgAlloc()",
                         "QorImgLoadSingle(" + picture + ",-3)",
                         "QorImgSaveSingle(" + TempPath("out.bmp") + ",-1357902468)",
                         "QorImgGetInfo()", "QorImgFree()", "QorImgLoadSingle(x,1)",
                         "QorCheckError()", "QorGetLastError()"}));
  EXPECT_EQ(QImage(TempPath("out.bmp")), QImage(picture));

  LibQor::Unload();
  EXPECT_TRUE(LibQor::LoadedFrom().empty());
}

TEST_F(BindingTest, AMissingExportOrLibraryRaisesABindErrorAtTheCallThatNeedsIt) {
  Stub partial(true);
  LibQor::FileInfo info{};
  try {
    LibQor::QorGetFileInfo("x", 0, &info, nullptr, nullptr);
    FAIL() << "no error for a missing export";
  } catch (const LibQor::BindError& e) {
    EXPECT_NE(std::string(e.what()).find("QorGetFileInfo"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find(partial.Path().toStdString()), std::string::npos);
  }
  // The library stays usable for the exports it has.
  QorHandle image = LibQor::QorImgAlloc();
  EXPECT_NE(image, nullptr);
  LibQor::QorImgFree(image);

  LibQor::Unload();
  qputenv("QUILLON_LIBQOR", TempPath("none/libqor-2.8.0.so").toLocal8Bit());
  EXPECT_THROW(LibQor::QorImgAlloc(), LibQor::BindError);
  EXPECT_THROW(LibQor::QorImgAlloc(), LibQor::BindError);  // tried again, not cached
  EXPECT_TRUE(LibQor::LoadedFrom().empty());
}

TEST_F(BindingTest, WithoutAnOverrideTheLibraryOfTheSameBuildTreeIsFound) {
  // The tests live in bin/ as the program does; the library is in ../lib.
  qunsetenv("QUILLON_LIBQOR");
  LibQor::Unload();
  EXPECT_EQ(LibQor::QorCheckError(), 0);  // a fresh library has no error
  EXPECT_EQ(std::filesystem::path(LibQor::LoadedFrom()),
            std::filesystem::path(QOR_LIBRARY_FILE).lexically_normal());
}

// ---- the real library

class RealLibraryTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    const std::string missing = BindRealLibrary({"QorGetFileInfo", "QorImgAlloc", "QorImgFree",
                             "QorImgLoadSingle", "QorImgSaveSingle"});
    if (!missing.empty()) GTEST_SKIP() << "the library does not export " << missing;
    form = std::make_unique<frmImage::Form>();
  }
  void TearDown() override {
    form.reset();
    AppTest::TearDown();
  }
  void Open(const QString& path) {
    dialogs.fileAnswers.push_back(path);
    form->mnuOpen_Click();
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages[0].text.toStdString();
  }
  std::unique_ptr<frmImage::Form> form;
};

TEST_F(RealLibraryTest, AStillPictureShowsTheLibrarysPropertiesAndItsOwnPixels) {
  const QString path = TempPath("ramp.bmp");
  ASSERT_TRUE(apptest::SaveBmp(apptest::RampPicture(96, 40), path));
  Open(path);
  const frmImage::Controls& c = form->controls();
  EXPECT_EQ(c.Label3->text(), "Single Frame Image");
  EXPECT_EQ(c.lblWidth->text(), "96");
  EXPECT_EQ(c.lblHeight->text(), "40");
  EXPECT_EQ(c.lblColorDepth->text(), "24");
  EXPECT_EQ(c.lblSize->text(), QString::number(QFileInfo(path).size()));
  ASSERT_TRUE(form->HasPicture());
  EXPECT_EQ(apptest::Compare(c.imgPreview->pixmap().toImage(), apptest::RampPicture(96, 40), 0)
                .maxChannel, 0);
}

TEST_F(RealLibraryTest, A250FrameMovieIsCountedAndTheSliderLoadsTheFrameItNames) {
  if (QStandardPaths::findExecutable("ffmpeg").isEmpty()) GTEST_SKIP() << "no ffmpeg";
  const QString movie = TempPath("count.avi");
  ASSERT_TRUE(apptest::RunPeer("ffmpeg", {"-nostdin", "-v", "error", "-f", "lavfi", "-i",
                                          "testsrc=size=48x32:rate=25", "-frames:v", "250",
                                          "-c:v", "rawvideo", "-pix_fmt", "bgr24", movie}));
  const QString frame100 = TempPath("frame100.bmp");
  ASSERT_TRUE(apptest::RunPeer("ffmpeg", {"-nostdin", "-v", "error", "-i", movie, "-vf",
                                          "select=eq(n\\,99)", "-frames:v", "1", frame100}));
  Open(movie);
  const frmImage::Controls& c = form->controls();
  EXPECT_EQ(c.Label3->text(), "250 Frame Movie");
  EXPECT_EQ(c.Slider1->maximum(), 250);
  EXPECT_EQ(c.lblRunTime->text(), "10");

  c.Slider1->setValue(100);
  form->Slider1_MouseUp();
  ASSERT_TRUE(form->HasPicture());
  const apptest::ImageDifference diff =
      apptest::Compare(c.imgPreview->pixmap().toImage(), QImage(frame100), 0);
  EXPECT_EQ(diff.maxChannel, 0);
}

}  // namespace
