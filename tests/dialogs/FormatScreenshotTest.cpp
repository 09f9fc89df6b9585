// The AVI codec dialog, the MPEG dialog and the TIFF choice dialog on a
// real X display (a virtual one from xvfb-run), each compared with its kept
// picture within a tolerance. Skipped on any other platform. Setting
// QOR_UPDATE_SCREENSHOTS writes the kept pictures instead.
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <cstdlib>
#include <functional>

#include "UserActions.h"
#include "dialogs/FFDlg.h"
#include "engine/ConFormSave.h"
#include "engine/Lifecycle.h"

namespace {

// Mean difference of the two pictures over all channels, and the share of
// pixels that differ by more than 64 in a channel: text may move by a
// pixel between font builds, a control out of place moves many.
struct Difference {
  double mean = 0;
  double share = 0;
};

Difference Compare(const QImage& a, const QImage& b) {
  int64_t total = 0, far = 0;
  for (int y = 0; y < a.height(); y++)
    for (int x = 0; x < a.width(); x++) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      const int d[3] = {std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                        std::abs(qBlue(p) - qBlue(q))};
      total += d[0] + d[1] + d[2];
      if (std::max({d[0], d[1], d[2]}) > 64) far++;
    }
  const double pixels = double(a.width()) * a.height();
  return {double(total) / (3 * pixels), double(far) / pixels};
}

class FormatScreenshot : public UserActions::WithLibrary {
 protected:
  // Shows the dialog that open() brings up, grabs its window and compares
  // it with the kept picture of that name.
  void Check(const char* picture, QSize size, const std::function<void()>& open) {
    if (QGuiApplication::platformName() != "xcb")
      GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    QImage window;
    wFormBasic::SetModalHook([&](QDialog* form) {
      form->move(0, 0);
      form->show();
      EXPECT_TRUE(QTest::qWaitForWindowExposed(form));
      QTest::qWait(300);  // the codec list is filled, the server draws
      window = form->screen()->grabWindow(form->winId()).toImage();
      return int32_t(QDialog::Rejected);
    });
    open();
    ASSERT_EQ(window.size(), size);
    window = window.convertToFormat(QImage::Format_RGB32);
    const QString kept = QString(QOR_SOURCE_DIR "/tests/dialogs/") + picture;
    if (std::getenv("QOR_UPDATE_SCREENSHOTS")) {
      ASSERT_TRUE(window.save(kept));
      GTEST_SKIP() << "kept picture written";
    }
    QImage expected(kept);
    ASSERT_FALSE(expected.isNull()) << kept.toStdString();
    expected = expected.convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(expected.size(), window.size());
    const Difference d = Compare(window, expected);
    EXPECT_LT(d.mean, 3.0);
    EXPECT_LT(d.share, 0.02);
  }
};

}  // namespace

TEST_F(FormatScreenshot, AviCodecDialogMatchesTheKeptPicture) {
  Check("avi_codec_dialog.png", QSize(456, 427), [] {
    ConForm::FFSaveRec rec;
    ConForm::FFSaveInit(&rec, ConForm::kSaveVideo);
    ConForm::FFSaveSetFmt(&rec, ConForm::kFmtAVI);
    EXPECT_EQ(ConForm::FFSaveDlg(&rec, 322, 242, 24), 0);
  });
}

TEST_F(FormatScreenshot, MpegDialogMatchesTheKeptPicture) {
  Check("mpeg_dialog.png", QSize(263, 244), [] {
    int32_t type = 1, rate = 1150;
    EXPECT_FALSE(FFDlg::FFDlgMPG(type, rate));
  });
}

TEST_F(FormatScreenshot, TiffChoiceDialogMatchesTheKeptPicture) {
  Check("tiff_dialog.png", QSize(379, 222), [] {
    int32_t compression = 5;
    EXPECT_FALSE(FFDlg::FFDlgTIF(compression));
  });
}
