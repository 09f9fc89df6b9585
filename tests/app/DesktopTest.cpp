// What a desktop user meets besides the texts: the keyboard can leave both
// depth boxes, windows a command opens come to the front with the keyboard,
// centred on the screen they belong to (on a desktop of two screens, the
// main one not at the origin: a run of its own under a configured offscreen
// platform), fixed-size windows offer no maximize button, the toolbar names
// its commands and opens its menus under their buttons, and long paths are
// elided in the middle.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <cstring>

#include "AppTestSupport.h"
#include "FitTexts.h"
#include "frmAbout.h"
#include "frmFullScreen.h"
#include "frmImage.h"
#include "frmSetThumbs.h"
#include "frmThumbs.h"
#include "modMain.h"

namespace {

using apptest::WithStubWindow;

class Desktop : public WithStubWindow {
 protected:
  void ShowMain() {
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  }

  // Runs command; once the window it opens modally is on show, check gets
  // it, then it is closed.
  template <class W>
  bool WhenShown(const std::function<void()>& command, const std::function<void(W*)>& check) {
    bool seen = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* window = dynamic_cast<W*>(top); window && window->isVisible() && !seen) {
          seen = true;
          check(window);
          window->close();
        }
    });
    poll.start(10);
    command();
    return seen;
  }

  static QToolButton* ToolButton(const QToolBar* bar, int index) {
    return qobject_cast<QToolButton*>(bar->widgetForAction(bar->actions().at(index - 1)));
  }

  static bool InFront(QWidget* window) {
    return QTest::qWaitFor([window] { return QApplication::activeWindow() == window; }, 2000);
  }

  // The window's middle is the middle of screen, within its frame's
  // margins and a pixel's rounding.
  static void ExpectCentredOn(const QWidget* window, const QScreen* screen) {
    const QPoint middle = window->geometry().center(), target = screen->geometry().center();
    EXPECT_LE((middle - target).manhattanLength(), 6)
        << middle.x() << "," << middle.y() << " on " << screen->name().toStdString();
  }
};

TEST_F(Desktop, TheDepthBoxesKeepTheirTextButLetFocusKeysAndEscapeThrough) {
  const auto key = [](int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    const QString text = code < 0x80 ? QString(QChar(code)) : QString();
    return QKeyEvent(QEvent::KeyPress, code, modifiers, text);
  };
  for (int code : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Tab, Qt::Key_Backtab, Qt::Key_Escape})
    EXPECT_FALSE(modMain::LocksDepthText(key(code))) << code;
  EXPECT_FALSE(modMain::LocksDepthText(key(Qt::Key_Q, Qt::ControlModifier)));
  EXPECT_FALSE(modMain::LocksDepthText(key(Qt::Key_F, Qt::AltModifier)));
  for (int code : {Qt::Key_E, Qt::Key_8, Qt::Key_End, Qt::Key_Home, Qt::Key_PageDown})
    EXPECT_TRUE(modMain::LocksDepthText(key(code))) << code;
  EXPECT_TRUE(modMain::LocksDepthText(key(Qt::Key_E, Qt::ShiftModifier)));

  // The main window: Tab leaves the box, Shift+Tab comes back.
  Open("still.bmp", apptest::StillInfo(64, 48, 24));
  ShowMain();
  c->cboDepth->setFocus();
  ASSERT_TRUE(c->cboDepth->hasFocus());
  QTest::keyClick(c->cboDepth, Qt::Key_Tab);
  EXPECT_FALSE(c->cboDepth->hasFocus());
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
  EXPECT_TRUE(c->cboDepth->hasFocus());
  QTest::keyClick(c->cboDepth, Qt::Key_E);
  EXPECT_EQ(c->cboDepth->currentText(), "24-bit (16M colors)");

  // "Save Thumbnail": Tab leaves the box and Escape closes the window.
  EXPECT_TRUE(WhenShown<frmSetThumbs::Form>(
      [this] { form->CreateThumbnail(); },
      [](frmSetThumbs::Form* window) {
        window->cboDepth->setFocus();
        QTest::keyClick(window->cboDepth, Qt::Key_Tab);
        EXPECT_FALSE(window->cboDepth->hasFocus());
        window->cboDepth->setFocus();
        QTest::keyClick(window->cboDepth, Qt::Key_Escape);
        EXPECT_FALSE(window->isVisible()) << "Escape closes the window";
      }));
}

TEST_F(Desktop, WindowsOpenedByCommandsComeToTheFrontCentredOnTheMainWindowsScreen) {
  Open("still.bmp", apptest::StillInfo(64, 48, 24));
  ShowMain();
  QScreen* own = modMain::ScreenOf(form.get());
  ASSERT_NE(own, nullptr);
  EXPECT_TRUE(WhenShown<frmAbout::Form>([this] { form->mnuAbout_Click(); },
                                        [&](frmAbout::Form* about) {
                                          EXPECT_TRUE(InFront(about));
                                          ExpectCentredOn(about, own);
                                        }));
  EXPECT_TRUE(WhenShown<frmSetThumbs::Form>([this] { form->CreateThumbnail(); },
                                            [&](frmSetThumbs::Form* window) {
                                              EXPECT_TRUE(InFront(window));
                                              ExpectCentredOn(window, own);
                                            }));
  EXPECT_TRUE(WhenShown<frmThumbs::Form>([this] { form->Toolbar1_ButtonClick(5); },
                                         [&](frmThumbs::Form* viewer) {
                                           EXPECT_TRUE(InFront(viewer));
                                           ExpectCentredOn(viewer, own);
                                         }));
  EXPECT_TRUE(WhenShown<frmFullScreen::Form>([this] { form->imgPreview_DblClick(); },
                                             [&](frmFullScreen::Form* viewer) {
                                               EXPECT_TRUE(InFront(viewer));
                                               EXPECT_EQ(viewer->geometry(), own->geometry());
                                             }));
}

// Run by its own test with two offscreen screens, the main one at (800, 100)
// and a second at the origin; skipped on a desktop of one screen.
TEST_F(Desktop, OnTwoScreensEachWindowKeepsToTheScreenOfItsOwner) {
  const QList<QScreen*> screens = QGuiApplication::screens();
  if (screens.size() < 2) GTEST_SKIP() << "needs a desktop of two screens";
  QScreen* main = QGuiApplication::primaryScreen();
  QScreen* other = screens[0] == main ? screens[1] : screens[0];
  ASSERT_NE(main->geometry().topLeft(), QPoint(0, 0))
      << "the main screen must not be at the origin: " << main->name().toStdString() << " at "
      << main->geometry().x() << "," << main->geometry().y() << ", the other "
      << other->name().toStdString() << " at " << other->geometry().x() << ","
      << other->geometry().y();

  // A new main window opens in the middle of the main screen.
  frmImage::Form fresh;
  ExpectCentredOn(&fresh, main);

  Open("still.bmp", apptest::StillInfo(64, 48, 24));
  form->move(other->geometry().topLeft() + QPoint(20, 20));
  ShowMain();
  EXPECT_EQ(modMain::ScreenOf(form.get()), other);
  EXPECT_TRUE(WhenShown<frmAbout::Form>([this] { form->mnuAbout_Click(); },
                                        [&](frmAbout::Form* about) {
                                          ExpectCentredOn(about, other);
                                        }));
  EXPECT_TRUE(WhenShown<frmSetThumbs::Form>([this] { form->CreateThumbnail(); },
                                            [&](frmSetThumbs::Form* window) {
                                              ExpectCentredOn(window, other);
                                            }));
  EXPECT_TRUE(WhenShown<frmFullScreen::Form>([this] { form->imgPreview_DblClick(); },
                                             [&](frmFullScreen::Form* viewer) {
                                               EXPECT_EQ(viewer->geometry(), other->geometry());
                                             }));
}

TEST_F(Desktop, FixedSizeWindowsOfferNoMaximizeButton) {
  std::vector<QWidget*> windows = {form.get()};
  auto* about = new frmAbout::Form(form.get());
  frmSetThumbs::Form thumbnail(form.get());
  windows.push_back(about);
  windows.push_back(&thumbnail);
  for (QWidget* window : windows) {
    ASSERT_EQ(window->minimumSize(), window->maximumSize()) << window->windowTitle().toStdString();
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint)
        << window->windowTitle().toStdString();
    EXPECT_TRUE(window->windowFlags() & Qt::WindowCloseButtonHint);
  }
  EXPECT_TRUE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
  delete about;
}

TEST_F(Desktop, ToolbarCaptionsAndTheMenusUnderTheirButtons) {
  ShowMain();
  EXPECT_EQ(ToolButton(c->Toolbar1, 1)->text(), "File...");
  EXPECT_EQ(ToolButton(c->Toolbar1, 9)->text(), "Help...");
  EXPECT_FALSE(ToolButton(c->Toolbar1, 2)->isEnabled()) << "\"Options\" has no command";
  for (int index : {3, 4, 5, 6, 7, 8}) EXPECT_TRUE(ToolButton(c->Toolbar1, index)->isEnabled());

  const auto under = [](const QWidget* button) {
    return button->mapToGlobal(QPoint(0, button->height()));
  };
  form->Toolbar1_ButtonClick(9);
  ASSERT_TRUE(QTest::qWaitFor([this] { return c->mnuHiddenHelp->isVisible(); }, 2000));
  EXPECT_EQ(c->mnuHiddenHelp->pos(), under(ToolButton(c->Toolbar1, 9)));
  c->mnuHiddenHelp->close();
  form->Toolbar1_ButtonClick(1);
  ASSERT_TRUE(QTest::qWaitFor([this] { return c->mnuHiddenFile->isVisible(); }, 2000));
  // "File..." keeps to the window's left edge.
  EXPECT_EQ(c->mnuHiddenFile->pos().x(), form->mapToGlobal(QPoint(0, 0)).x());
  c->mnuHiddenFile->close();
}

TEST_F(Desktop, LongPathsAndFormatNamesAreElidedInTheMiddleWithTheWholeAsToolTip) {
  LibQor::FileInfo info = apptest::StillInfo(64, 48, 24);
  const QString format = "BMP/DIB, Windows Device Independent Bitmap (*.bmp;*.dib) of a long name";
  std::strncpy(info.filter, format.toLocal8Bit().constData(), sizeof info.filter - 1);
  Open("still.bmp", info);
  ShowMain();
  EXPECT_EQ(c->lblFormat->toolTip(), format);
  EXPECT_TRUE(c->lblFormat->text().startsWith("BMP/DIB"));
  EXPECT_TRUE(c->lblFormat->text().endsWith("long name"));
  EXPECT_TRUE(c->lblFormat->text().contains(QChar(0x2026)));

  const QString path =
      "/home/someone/" + QString("a-folder-with-a-long-name/").repeated(4) + "holiday(1).bmp";
  c->txtOutput->setText(path);
  auto* output = dynamic_cast<FitTexts::ElidedLineEdit*>(c->txtOutput);
  ASSERT_NE(output, nullptr);
  c->tbSave->setFocus();
  const QString shown = output->ShownText();
  EXPECT_TRUE(shown.startsWith("/home/")) << shown.toStdString();
  EXPECT_TRUE(shown.endsWith("holiday(1).bmp")) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QChar(0x2026)));
  EXPECT_LE(output->fontMetrics().horizontalAdvance(shown), output->width());
  EXPECT_EQ(output->toolTip(), path);
  EXPECT_EQ(output->text(), path) << "only the picture of the text is shortened";
  // Being edited, the box shows the whole path.
  output->setFocus();
  EXPECT_EQ(output->ShownText(), path);
}

}  // namespace
