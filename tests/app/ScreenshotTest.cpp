// Pictures of the splash, the about box and the main window on a real X
// server (xvfb-run), compared with kept images within a tolerance. Set
// QUILLON_UPDATE_SCREENS=1 to write the kept images anew.
#include <QDir>
#include <QGuiApplication>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include "AppTestSupport.h"
#include "frmAbout.h"
#include "frmImage.h"
#include "frmPreview.h"
#include "frmSplash.h"

namespace {

using apptest::AppTest;

class Screenshots : public AppTest {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != "xcb")
      GTEST_SKIP() << "window pictures are taken under xvfb-run only";
    AppTest::SetUp();
  }

  void Check(QWidget* window, const QString& name) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    QTest::qWait(100);
    const QImage shot = window->grab().toImage();
    const QString kept = QString(QOR_SOURCE_DIR) + "/tests/app/screens/" + name + ".png";
    if (qEnvironmentVariableIsSet("QUILLON_UPDATE_SCREENS")) {
      QDir().mkpath(QFileInfo(kept).path());
      ASSERT_TRUE(shot.save(kept));
      return;
    }
    const QImage expected(kept);
    ASSERT_FALSE(expected.isNull()) << "no kept picture " << kept.toStdString();
    ASSERT_EQ(shot.size(), expected.size());
    // Font rasterisation may differ slightly from one machine to the next.
    const apptest::ImageDifference diff = apptest::Compare(shot, expected, 64);
    EXPECT_LE(diff.shareOver, 0.01) << name.toStdString();
  }
};

TEST_F(Screenshots, SplashAboutBoxAndMainWindowWithAPicture) {
  auto* splash = new frmSplash::Form(nullptr);
  splash->Timer1()->stop();
  Check(splash, "splash");
  splash->close();

  auto* about = new frmAbout::Form(nullptr);
  about->Timer1()->stop();
  Check(about, "about");
  about->close();

  apptest::Stub stub;
  // A fixed place, so the source name in the window is the same every run.
  const QString picture = QDir::tempPath() + "/quillon-screens/sunset.bmp";
  ASSERT_TRUE(apptest::SaveBmp(apptest::RampPicture(160, 120), picture));
  stub.SetFileInfo(apptest::StillInfo(160, 120, 24));
  frmImage::Form form;
  dialogs.fileAnswers.push_back(picture);
  form.mnuOpen_Click();
  Check(&form, "main");
}

TEST_F(Screenshots, AdjustWindowWithAPicture) {
  apptest::Stub stub;
  const QString picture = QDir::tempPath() + "/quillon-screens/harbour.bmp";
  ASSERT_TRUE(apptest::SaveBmp(apptest::RampPicture(400, 300), picture));
  stub.SetFileInfo(apptest::StillInfo(400, 300, 24));
  frmImage::Form form;
  dialogs.fileAnswers.push_back(picture);
  form.mnuOpen_Click();
  frmPreview::Form editor(&form);
  editor.SetWorkingPicture(form.PreviewPicture());
  editor.SetPreview();
  editor.setWindowTitle(picture);
  editor.controls().sliBrightnessR->setValue(40);  // locked: all three move
  editor.controls().sliGammaG->setValue(-20);
  Check(&editor, "adjust");
}

}  // namespace
