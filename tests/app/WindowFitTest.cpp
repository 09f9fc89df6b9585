// Every window of the program as a desktop user meets it: each fixed text
// can be read whole, paths too long for their box are elided in the middle
// with the whole path as tool tip, fixed-size windows offer no maximize
// button, and the toolbar says what its buttons do.
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <cstring>

#include "../support/TextFit.h"
#include "AppTestSupport.h"
#include "FitTexts.h"
#include "HelpWindow.h"
#include "PropertyPage1.h"
#include "frmAbout.h"
#include "frmFullScreen.h"
#include "frmImage.h"
#include "frmPreview.h"
#include "frmSetThumbs.h"
#include "frmSplash.h"
#include "frmThumbs.h"

namespace {

using apptest::WithStubWindow;

constexpr const char* kLongFormat = "BMP/DIB, Windows Device Independent Bitmap (*.bmp;*.dib)";

class WindowFit : public WithStubWindow {
 protected:
  // The misfits of a window once it is on screen.
  QStringList Shown(QWidget* window, const QSet<const QWidget*>& userData = {}) {
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
    QApplication::processEvents();
    return TextFit::Misfits(window, userData);
  }

  void OpenMovieWithALongFormatName() {
    LibQor::FileInfo info = apptest::MovieInfo(64, 48, 24, 12);
    std::strncpy(info.filter, kLongFormat, sizeof info.filter - 1);
    Open("movie.avi", info);
  }
};

#define EXPECT_FITS(misfits) EXPECT_TRUE((misfits).isEmpty()) << (misfits).join("\n").toStdString()

TEST_F(WindowFit, MainWindowInBothModesWithItsRangeControls) {
  OpenMovieWithALongFormatName();
  EXPECT_FITS(Shown(form.get()));
  c->optMovie[1]->click();
  // As while a range converts.
  c->cmdCancelSequence->show();
  c->pbRange->show();
  EXPECT_FITS(Shown(form.get()));
}

TEST_F(WindowFit, EveryOtherWindow) {
  OpenMovieWithALongFormatName();
  auto* splash = new frmSplash::Form(nullptr);
  splash->Timer1()->stop();
  EXPECT_FITS(Shown(splash));
  delete splash;

  frmAbout::Form* about = new frmAbout::Form(form.get());
  about->Timer1()->stop();
  EXPECT_FITS(Shown(about));
  about->close();

  frmPreview::Form editor(form.get());
  editor.SetWorkingPicture(form->PreviewPicture());
  editor.SetPreview();
  EXPECT_FITS(Shown(&editor));
  editor.close();

  frmSetThumbs::Form thumbnail(form.get());
  EXPECT_FITS(Shown(&thumbnail));
  thumbnail.close();

  frmThumbs::Form viewer(form.get());
  EXPECT_FITS(Shown(&viewer, {viewer.ListView1, viewer.ExplorerTree}));
  viewer.close();

  frmFullScreen::Form fullScreen(form.get());
  fullScreen.resize(800, 600);
  EXPECT_FITS(Shown(&fullScreen));
  fullScreen.close();

  PropertyPage1::Page page;
  EXPECT_FITS(Shown(&page));
}

}  // namespace
