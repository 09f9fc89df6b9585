// Pictures of the image viewer's grid and of the full-screen viewer on a real
// X server (xvfb-run), compared with kept images within a tolerance. The
// folder tree shows the machine's own folders, so only the grid and the list
// are kept. QUILLON_UPDATE_SCREENS=1 writes the kept images anew.

#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QTest>
#include <QTimer>

#include "AppTestSupport.h"
#include "frmFullScreen.h"
#include "frmThumbs.h"
#include "modMain.h"

namespace {

class ViewerScreenshots : public apptest::AppTest {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != "xcb")
      GTEST_SKIP() << "window pictures are taken under xvfb-run only";
    AppTest::SetUp();
    if (!BindRealLibrary({"QorImgSaveSingle"}).empty()) GTEST_SKIP() << "no image exports yet";
    QDir().mkpath(AppDir());  // the temporary bitmaps live there
  }

  static void Keep(const QImage& shot, const QString& name) {
    const QString kept = QString(QOR_SOURCE_DIR) + "/tests/app/screens/" + name + ".png";
    if (qEnvironmentVariableIsSet("QUILLON_UPDATE_SCREENS")) {
      ASSERT_TRUE(shot.save(kept));
      return;
    }
    const QImage expected(kept);
    ASSERT_FALSE(expected.isNull()) << "no kept picture " << kept.toStdString();
    ASSERT_EQ(shot.size(), expected.size()) << name.toStdString();
    // Font rasterisation may differ slightly from one machine to the next.
    EXPECT_LE(apptest::Compare(shot, expected, 64).shareOver, 0.01) << name.toStdString();
  }
};

TEST_F(ViewerScreenshots, GridOfAFolderAndTheFullScreenViewer) {
  const QString folder = QDir::tempPath() + "/quillon-viewer-screens";
  QDir(folder).removeRecursively();
  QDir().mkpath(folder);
  for (int i = 0; i < 7; ++i)
    ASSERT_TRUE(apptest::RampPicture(80 + 30 * i, 60 + 20 * (i % 3))
                    .save(folder + QString("/view%1.%2").arg(i).arg(i % 2 ? "png" : "bmp")));
  modMain::SaveSetting("PicDir", folder);
  frmThumbs::Form viewer(nullptr);
  viewer.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&viewer));
  for (int i = 0; i < 3000 && (viewer.Timer1->isActive() || viewer.LoadingThumbs ||
                               viewer.lblImages->text() != "7 supported images");
       ++i)
    QTest::qWait(10);
  ASSERT_EQ(viewer.lblImages->text(), "7 supported images");
  QTest::qWait(100);
  Keep(viewer.picBack->grab().toImage(), "viewer-grid");
  Keep(viewer.ListView1->grab().toImage(), "viewer-list");

  bool shown = false;
  apptest::WithViewer([&](frmFullScreen::Form* full) {
    shown = true;
    QTest::qWait(100);
    Keep(full->grab().toImage(), "fullscreen");
  });
  viewer.AutoPic1_Click(3);
  EXPECT_TRUE(shown);
  viewer.close();
}

}  // namespace
