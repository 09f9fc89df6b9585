// The output-settings dialog on a real X display (a virtual one from
// xvfb-run), with a 640 x 480 source: the window's pixels are compared with
// the kept picture within a tolerance, and the preview's own pixels are
// checked against the source's colours. Skipped on any other platform.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <cstdlib>
#include <string>

#include "DialogTestSupport.h"
#include "UserActions.h"
#include "engine/Lifecycle.h"
#include "foundation/Basic.h"
#include "qor.h"

namespace {

// A fixed folder, so that the file name the dialog shows is the same on
// every run.
const QString kFolder = "/tmp/qor-dialog-screenshot";
const char* const kKeptPicture = QOR_SOURCE_DIR "/tests/dialogs/output_settings_dialog.png";

// Four quadrants (red, green, blue, white) and a dark diagonal band.
QImage TestPicture() {
  QImage img(640, 480, QImage::Format_RGB888);
  QPainter p(&img);
  p.fillRect(0, 0, 320, 240, Qt::red);
  p.fillRect(320, 0, 320, 240, Qt::green);
  p.fillRect(0, 240, 320, 240, Qt::blue);
  p.fillRect(320, 240, 320, 240, Qt::white);
  p.setPen(QPen(Qt::black, 24));
  p.drawLine(0, 0, 640, 480);
  return img;
}

// Share of pixels whose colour differs by more than a step of 48 in any
// channel: antialiased text may move a little between font builds.
double DifferingShare(const QImage& a, const QImage& b) {
  int64_t differing = 0;
  for (int y = 0; y < a.height(); y++)
    for (int x = 0; x < a.width(); x++) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      if (std::abs(qRed(p) - qRed(q)) > 48 || std::abs(qGreen(p) - qGreen(q)) > 48 ||
          std::abs(qBlue(p) - qBlue(q)) > 48)
        differing++;
    }
  return double(differing) / (double(a.width()) * a.height());
}

using SettingsScreenshot = UserActions::WithLibrary;

}  // namespace

TEST_F(SettingsScreenshot, OutputDialogMatchesTheKeptPicture) {
  if (QGuiApplication::platformName() != "xcb")
    GTEST_SKIP() << "needs an X display (run under xvfb-run)";
  QDir().mkpath(kFolder);
  const QString source = kFolder + "/source.bmp";
  ASSERT_TRUE(TestPicture().save(source, "BMP"));
  QorHandle handle = QorAlloc();
  QorHandle list = QorListAlloc();
  QorSetOutputFile(handle, "movie.kwb", "");
  QorSetResolution(handle, 640, 480);
  ASSERT_EQ(QorListAdd(list, source.toLocal8Bit().constData(), 8, nullptr, nullptr), 1);

  QImage window, preview;
  wFormBasic::SetModalHook([&](QDialog* form) {
    form->move(0, 0);
    form->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(form));
    QTest::qWait(200);  // let the display server finish drawing
    window = form->screen()->grabWindow(form->winId()).toImage();
    for (QObject* child : form->findChild<QWidget*>("panView")->children())
      if (auto* display = qobject_cast<QWidget*>(child))
        preview = display->grab().toImage();
    return int32_t(QDialog::Rejected);
  });
  EXPECT_EQ(QorOutputDlg(handle, list, "Output File Settings", -1), 0);
  QorListFree(list);
  QorFree(handle);
  QFile::remove(source);

  // The preview: 640 x 480 fitted to 320 x 240, quadrants where they belong.
  ASSERT_EQ(preview.size(), QSize(320, 240));
  EXPECT_EQ(preview.pixelColor(240, 40), QColor(Qt::green));
  EXPECT_EQ(preview.pixelColor(40, 200), QColor(Qt::blue));
  EXPECT_EQ(preview.pixelColor(280, 200), QColor(Qt::white));
  EXPECT_EQ(preview.pixelColor(100, 20), QColor(Qt::red));
  EXPECT_LT(qGray(preview.pixel(160, 120)), 40) << "the diagonal band";

  ASSERT_EQ(window.size(), QSize(640, 323));  // widened for the depth texts
  window = window.convertToFormat(QImage::Format_RGB32);
  if (std::getenv("QOR_UPDATE_SCREENSHOTS")) {
    ASSERT_TRUE(window.save(kKeptPicture));
    GTEST_SKIP() << "kept picture written";
  }
  QImage kept(kKeptPicture);
  ASSERT_FALSE(kept.isNull()) << kKeptPicture;
  kept = kept.convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(kept.size(), window.size());
  EXPECT_LT(DifferingShare(window, kept), 0.02);
}
