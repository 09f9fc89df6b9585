// Pictures of the splash, the about box and the main window on a real X
// server (xvfb-run), compared with kept images within a tolerance. Set
// QUILLON_UPDATE_SCREENS=1 to write the kept images anew.
#include <QDir>
#include <QGuiApplication>
#include <QTest>
#include <QTimer>

#include "AppTestSupport.h"
#include "frmAbout.h"
#include "frmImage.h"
#include "frmSplash.h"

#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

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
    CheckShot(window->grab().toImage(), name);
  }

  void CheckShot(const QImage& shot, const QString& name) {
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

TEST_F(Screenshots, MainWindowDuringARangeConversion) {
  apptest::Stub stub;
  // The stand-in "decodes" any frame as the picture the source file holds.
  const QString folder = QDir::tempPath() + "/quillon-screens";
  QDir(folder + "/range").removeRecursively();
  QDir().mkpath(folder + "/range");
  const QString movie = folder + "/clip.avi";
  ASSERT_TRUE(apptest::SaveBmp(apptest::RampPicture(160, 120), movie));
  stub.SetFileInfo(apptest::MovieInfo(160, 120, 24, 5));
  frmImage::Form form;
  const frmImage::Controls& c = form.controls();
  dialogs.fileAnswers.push_back(movie);
  form.mnuOpen_Click();
  c.txtOutput->setText(folder + "/range/clip.bmp");
  c.optMovie[1]->click();
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  QImage shot;
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    if (shot.isNull() && c.Label3->text() == "Frame 3 of 5") shot = form.grab().toImage();
  });
  watcher.start(0);
  form.RunConversion();
  watcher.stop();
  ASSERT_FALSE(shot.isNull());
  CheckShot(shot, "range");
}

}  // namespace
