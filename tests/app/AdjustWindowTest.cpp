// The adjustment window: its picture layout, over the recording stand-in of
// the library (the exports each control calls, locks, the undo states, the
// hand-back to the main window) and over the real library (the pictures the
// effects, undo, revert and apply leave behind).
#include <dlfcn.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include "AppTestSupport.h"
#include "frmImage.h"
#include "frmPreview.h"
#include "modMain.h"

namespace {

using apptest::AppTest;
using apptest::Stub;
using frmPreview::Display;

QAction* Button(QToolBar* toolbar, int index) { return toolbar->actions().at(index - 1); }

// ---- rules

TEST(AdjustWindowRules, PictureFitsTheBoxOnBothSidesCentredAndIsNeverEnlarged) {
  struct Case {
    double w, h, width, height;
  };
  const Case cases[] = {{6000, 4000, 4800, 3200}, {2000, 3000, 2000, 3000},
                        {3000, 6000, 1695, 3390}, {5000, 5000, 3390, 3390},
                        // Wide but near square: bounded by the height as well,
                        // so it stays inside the box.
                        {6000, 5000, 4068, 3390}, {9600, 100, 4800, 50}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << " x " << c.h);
    const std::optional<Display> d = frmPreview::FitDisplay(c.w, c.h);
    ASSERT_TRUE(d);
    EXPECT_DOUBLE_EQ(d->width, c.width);
    EXPECT_DOUBLE_EQ(d->height, c.height);
    EXPECT_NEAR(d->left, 4800 - c.width / 2, 1e-9);
    EXPECT_NEAR(d->top, 1695 - c.height / 2, 1e-9);
  }
  EXPECT_FALSE(frmPreview::FitDisplay(0, 100));
  EXPECT_FALSE(frmPreview::FitDisplay(100, 0));
}

// The main window with a picture and the editor opened on it.
class EditorTest : public AppTest {
 protected:
  void TearDown() override {
    editor.reset();
    main.reset();
    AppTest::TearDown();
  }
  // Opens the picture in the main window and the editor on it.
  void Edit(const QImage& picture) {
    source = TempPath("source.bmp");
    ASSERT_TRUE(apptest::SaveBmp(picture, source));
    main = std::make_unique<frmImage::Form>();
    dialogs.fileAnswers.push_back(source);
    main->mnuOpen_Click();
    ASSERT_TRUE(main->HasPicture());
    editor = std::make_unique<frmPreview::Form>(main.get());
    editor->SetWorkingPicture(main->PreviewPicture());
    editor->SetPreview();
    c = &editor->controls();
  }

  std::unique_ptr<frmImage::Form> main;
  std::unique_ptr<frmPreview::Form> editor;
  const frmPreview::Controls* c = nullptr;
  QString source;
};

// ---- over the stand-in

class AdjustWindowTest : public EditorTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    stub = std::make_unique<Stub>();
    stub->SetFileInfo(apptest::StillInfo(64, 48, 24));
    Edit(apptest::RampPicture(64, 48));
    stub->Reset();
  }
  // The calls of one effect cycle around the operation's own call.
  QStringList Cycle(const QString& operation) const {
    const QString preview = AppDir() + "/preview.bmp";
    return {"QorImgAlloc()", "QorImgLoadSingle(" + preview + ",0)", operation,
            "QorImgSaveSingle(" + preview + ",-1357902468)", "QorImgFree()"};
  }
  // Panel undo marks: cmdUndo and button 3 of the panel toolbars, in the
  // order saturation, gamma, brightness, contrast.
  std::vector<bool> PanelUndoMarks() const {
    QToolBar* const toolbars[] = {c->tbSaturation, c->tbGamma, c->tbBrightness, c->tbContrast};
    std::vector<bool> marks;
    for (int i = 0; i < frmPreview::kPanelCount; ++i) {
      EXPECT_EQ(c->cmdUndo[i]->isEnabled(), Button(toolbars[i], 3)->isEnabled()) << i;
      marks.push_back(c->cmdUndo[i]->isEnabled());
    }
    return marks;
  }
  void Release(QSlider* slider, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseRelease(slider, button);
  }

  std::unique_ptr<Stub> stub;
};

TEST_F(AdjustWindowTest, LoadLaysOutPanelsSlidersLocksAndTheFittedPicture) {
  EXPECT_EQ(editor->size(), QSize(640, 480));
  EXPECT_EQ(editor->windowTitle(), "Adjust Image");
  struct Range {
    QSlider* slider;
    int minimum, maximum, tick;
  };
  const Range ranges[] = {
      {c->sliSaturation, -100, 100, 10}, {c->sliBrightnessR, -100, 100, 20},
      {c->sliBrightnessG, -100, 100, 20}, {c->sliBrightnessB, -100, 100, 20},
      {c->sliContrastR, -100, 100, 20},  {c->sliContrastG, -100, 100, 20},
      {c->sliContrastB, -100, 100, 20},  {c->sliGammaR, -50, 50, 10},
      {c->sliGammaG, -50, 50, 10},       {c->sliGammaB, -50, 50, 10}};
  for (const Range& r : ranges) {
    EXPECT_EQ(r.slider->minimum(), r.minimum);
    EXPECT_EQ(r.slider->maximum(), r.maximum);
    EXPECT_EQ(r.slider->tickInterval(), r.tick);
    EXPECT_EQ(r.slider->value(), 0);
    EXPECT_EQ(r.slider->singleStep(), 1);
    EXPECT_EQ(r.slider->pageStep(), 5);
  }
  EXPECT_EQ(c->fraGamma->title(), "Gamma");
  EXPECT_EQ(c->fraSaturation->geometry(), QRect(490, 242, 135, 103));
  EXPECT_EQ(c->sliGammaR->width(), 116);
  EXPECT_EQ(c->sliBrightnessR->width(), 90);

  // Brightness and contrast start locked, gamma not; nothing to undo.
  EXPECT_TRUE(c->chkBrightness->isChecked());
  EXPECT_TRUE(c->chkContrast->isChecked());
  EXPECT_FALSE(c->chkGamma->isChecked());
  EXPECT_TRUE(Button(c->tbBrightness, 1)->isChecked());
  EXPECT_FALSE(Button(c->tbGamma, 1)->isChecked());
  EXPECT_FALSE(c->mnuUndo->isEnabled());
  EXPECT_EQ(PanelUndoMarks(), std::vector<bool>(4, false));

  EXPECT_EQ(c->mnuUndo->shortcut(), QKeySequence("Ctrl+Z"));
  EXPECT_EQ(c->mnuRotate->title(), "Rotate");
  EXPECT_EQ(c->mnuLeft90->text(), "Left 90 degrees");
  EXPECT_EQ(c->mnuEnhanceEdges->text(), "Enhance Edges");
  EXPECT_EQ(Button(c->tbBrightness, 1)->text(), " Lock ");
  EXPECT_EQ(Button(c->tbGamma, 1)->text(), "Lock");
  EXPECT_EQ(Button(c->tbSaturation, 2)->text(), "Apply");
  EXPECT_EQ(Button(c->tbMain, 3)->text(), "Revert");
  EXPECT_EQ(c->cmdUndo[3]->text(), "Undo Contrast");
  EXPECT_FALSE(c->cmdUndo[0]->isVisibleTo(editor.get()));

  // A 64 x 48 picture is shown at its own size, centred on the box's middle.
  EXPECT_EQ(c->PreviewImage->geometry(), QRect(288, 89, 64, 48));
  EXPECT_EQ(c->PreviewImage->pixmap().size(), QSize(64, 48));
}

TEST_F(AdjustWindowTest, EachControlCallsItsExportWithTheSliderPositionsAtRelease) {
  struct Case {
    const char* name;
    std::function<void()> act;
    QString call;
  };
  const Case cases[] = {
      {"saturation slider, any button",
       [&] {
         c->sliSaturation->setValue(-40);
         Release(c->sliSaturation, Qt::RightButton);
       },
       "QorImgSaturation(-40)"},
      {"saturation toolbar Apply", [&] { Button(c->tbSaturation, 2)->trigger(); },
       "QorImgSaturation(-40)"},
      {"locked brightness",
       [&] {
         c->sliBrightnessG->setValue(30);
         Release(c->sliBrightnessG);
       },
       "QorImgBrightness(30,30,30)"},
      {"the same release again, unmoved", [&] { Release(c->sliBrightnessR); },
       "QorImgBrightness(30,30,30)"},
      {"locked contrast",
       [&] {
         c->sliContrastB->setValue(-20);
         Release(c->sliContrastR);
       },
       "QorImgContrast(-20,-20,-20)"},
      {"gamma in tenths",
       [&] {
         c->sliGammaR->setValue(12);
         c->sliGammaG->setValue(-5);
         Release(c->sliGammaB);
       },
       "QorImgGamma(1.2,-0.5,0)"},
      {"Right 90 degrees", [&] { c->mnuRight90->trigger(); }, "QorImgRotate(1)"},
      {"180 degrees", [&] { c->mnu180->trigger(); }, "QorImgRotate(2)"},
      {"Left 90 degrees", [&] { c->mnuLeft90->trigger(); }, "QorImgRotate(3)"},
      {"Horizontal", [&] { c->mnuHorizontal->trigger(); }, "QorImgFlipHorizontal()"},
      {"Vertical", [&] { c->mnuVertical->trigger(); }, "QorImgFlipVertical()"},
      {"Sharpen", [&] { c->mnuSharpen->trigger(); }, "QorImgSharpen()"},
      {"Soften", [&] { c->mnuSoften->trigger(); }, "QorImgSoften()"},
      {"Find Edges", [&] { c->mnuFindEdges->trigger(); }, "QorImgFindEdges()"},
      {"Enhance Edges", [&] { c->mnuEnhanceEdges->trigger(); }, "QorImgEdgeEnhance()"},
  };
  for (const Case& one : cases) {
    SCOPED_TRACE(one.name);
    stub->Reset();
    one.act();
    EXPECT_EQ(stub->Calls(), Cycle(one.call));
  }
  EXPECT_TRUE(QFile::exists(AppDir() + "/preview.bmp"));
  EXPECT_TRUE(QFile::exists(AppDir() + "/preview_undo.bmp"));
  EXPECT_TRUE(dialogs.messages.empty());

  // The keyboard moves a slider (and its locked partners) but applies
  // nothing: only a mouse release does.
  stub->Reset();
  QTest::keyClick(c->sliBrightnessB, Qt::Key_Right);
  EXPECT_EQ(c->sliBrightnessB->value(), 31);
  EXPECT_EQ(c->sliBrightnessR->value(), 31);
  EXPECT_TRUE(stub->Calls().isEmpty());
}

TEST_F(AdjustWindowTest, LockedSlidersMoveTogetherZeroMovesThemBackAndAppliesNothing) {
  // Dragging a locked brightness slider's handle moves all three; the
  // release applies the three.
  editor->show();
  editor->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(editor.get()));
  QSlider* green = c->sliBrightnessG;
  green->setFocus();
  const QPoint middle = green->rect().center();
  QTest::mousePress(green, Qt::LeftButton, {}, middle);
  QTest::mouseMove(green, middle + QPoint(green->width() / 4, 0));
  QTest::mouseRelease(green, Qt::LeftButton, {}, middle + QPoint(green->width() / 4, 0));
  const int dragged = green->value();
  EXPECT_GT(dragged, 20);
  EXPECT_EQ(c->sliBrightnessR->value(), dragged);
  EXPECT_EQ(c->sliBrightnessB->value(), dragged);
  EXPECT_EQ(stub->Calls(),
            Cycle(QString("QorImgBrightness(%1,%1,%1)").arg(dragged)));
  // The keyboard goes to the window, so arrow keys no longer move the slider.
  EXPECT_EQ(QApplication::focusWidget(), editor.get());

  // Gamma starts unlocked: its sliders move alone until its lock is pressed.
  c->sliGammaR->setValue(7);
  EXPECT_EQ(c->sliGammaG->value(), 0);
  Button(c->tbGamma, 1)->trigger();
  EXPECT_TRUE(c->chkGamma->isChecked());
  c->sliGammaB->setValue(-3);
  EXPECT_EQ(c->sliGammaR->value(), -3);
  EXPECT_EQ(c->sliGammaG->value(), -3);
  Button(c->tbBrightness, 1)->trigger();
  EXPECT_FALSE(c->chkBrightness->isChecked());
  c->sliBrightnessR->setValue(5);
  EXPECT_EQ(c->sliBrightnessG->value(), dragged);

  // Zero: the panel's sliders back to 0; no operation, the picture stays.
  stub->Reset();
  const QImage before = editor->WorkingPicture().toImage();
  Button(c->tbGamma, 2)->trigger();
  Button(c->tbBrightness, 2)->trigger();
  c->sliSaturation->setValue(50);
  Button(c->tbSaturation, 1)->trigger();
  for (QSlider* slider : {c->sliGammaR, c->sliGammaG, c->sliGammaB, c->sliBrightnessR,
                          c->sliBrightnessG, c->sliBrightnessB, c->sliSaturation})
    EXPECT_EQ(slider->value(), 0);
  EXPECT_TRUE(stub->Calls().isEmpty());
  EXPECT_EQ(editor->WorkingPicture().toImage(), before);
}

TEST_F(AdjustWindowTest, UndoBelongsToTheLastOperationsPanelOrToTheMenuAlone) {
  using Marks = std::vector<bool>;
  Release(c->sliContrastG);  // a panel operation: only that panel's undo
  EXPECT_TRUE(c->mnuUndo->isEnabled());
  EXPECT_EQ(PanelUndoMarks(), Marks({false, false, false, true}));

  // Another panel's Undo button does nothing.
  stub->Reset();
  editor->tbGamma_ButtonClick(3);
  editor->tbSaturation_ButtonClick(3);
  EXPECT_EQ(PanelUndoMarks(), Marks({false, false, false, true}));

  // Zero, lock and revert leave the undo state alone.
  Button(c->tbContrast, 2)->trigger();
  Button(c->tbContrast, 1)->trigger();
  Button(c->tbMain, 3)->trigger();
  EXPECT_EQ(PanelUndoMarks(), Marks({false, false, false, true}));
  EXPECT_TRUE(c->mnuUndo->isEnabled());
  EXPECT_TRUE(stub->Calls().isEmpty());

  Release(c->sliSaturation);
  EXPECT_EQ(PanelUndoMarks(), Marks({true, false, false, false}));
  c->mnuSoften->trigger();  // a menu operation: Edit > Undo only
  EXPECT_TRUE(c->mnuUndo->isEnabled());
  EXPECT_EQ(PanelUndoMarks(), Marks(4, false));
  c->mnuUndo->trigger();
  EXPECT_FALSE(c->mnuUndo->isEnabled());
  EXPECT_EQ(PanelUndoMarks(), Marks(4, false));

  // The own panel's Undo button undoes, and no second undo is left.
  Release(c->sliGammaR);
  EXPECT_EQ(PanelUndoMarks(), Marks({false, true, false, false}));
  Button(c->tbGamma, 3)->trigger();
  EXPECT_FALSE(c->mnuUndo->isEnabled());
  EXPECT_EQ(PanelUndoMarks(), Marks(4, false));
}

TEST_F(AdjustWindowTest, ApplyHandsThePictureBackAndMarksItCancelLeavesAllAsItWas) {
  // Cancel: nothing handed back.
  c->mnuFindEdges->trigger();
  Button(c->tbMain, 1)->trigger();
  EXPECT_EQ(editor->result(), QDialog::Rejected);
  EXPECT_FALSE(modMain::ImageEdited);
  EXPECT_FALSE(QFile::exists(AppDir() + "/modifiedimage.bmp"));

  // Apply without any operation still hands the picture back and marks it.
  Button(c->tbMain, 2)->trigger();
  EXPECT_EQ(editor->result(), QDialog::Accepted);
  const QString modified = AppDir() + "/modifiedimage.bmp";
  EXPECT_TRUE(modMain::ImageEdited);
  EXPECT_EQ(modMain::EditedImagePath, modified);
  EXPECT_TRUE(main->controls().mnuUndo->isEnabled());
  EXPECT_EQ(QImage(modified).convertToFormat(QImage::Format_RGB32),
            apptest::RampPicture(64, 48).convertToFormat(QImage::Format_RGB32));
  EXPECT_EQ(main->PreviewPicture().toImage().convertToFormat(QImage::Format_RGB32),
            QImage(modified).convertToFormat(QImage::Format_RGB32));
}

TEST_F(AdjustWindowTest, TheMainWindowOpensTheEditorAndClearsTheMarkByEditUndoAndNewFrames) {
  const frmImage::Controls& m = main->controls();
  // Runs once the editor is up and modal: what it was opened with, then a
  // button of its main toolbar.
  auto whileOpen = [&](int mainButton, QString* title, QSize* picture) {
    auto* poll = new QTimer(main.get());
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [=] {
      auto* open = dynamic_cast<frmPreview::Form*>(QApplication::activeModalWidget());
      if (!open) return;
      poll->stop();
      poll->deleteLater();
      if (title) *title = open->windowTitle();
      if (picture) *picture = open->WorkingPicture().size();
      open->tbMain_ButtonClick(mainButton);
    });
    poll->start();
  };
  QString title;
  QSize picture;
  whileOpen(2, &title, &picture);
  m.mnuEdit->trigger();  // "Edit Image", then "Apply"
  EXPECT_EQ(title, source);
  EXPECT_EQ(picture, QSize(64, 48));
  EXPECT_TRUE(modMain::ImageEdited);
  EXPECT_TRUE(m.mnuUndo->isEnabled());

  // The toolbar's edit buttons keep the mark but disable "Undo Editing".
  whileOpen(1, nullptr, nullptr);
  Button(m.Toolbar2, 2)->trigger();
  EXPECT_TRUE(modMain::ImageEdited);
  EXPECT_FALSE(m.mnuUndo->isEnabled());
  whileOpen(1, nullptr, nullptr);
  Button(m.Toolbar1, 7)->trigger();
  EXPECT_TRUE(modMain::ImageEdited);

  // "Edit Image" clears the mark even when the editor is cancelled.
  whileOpen(1, nullptr, nullptr);
  m.mnuEdit->trigger();
  EXPECT_FALSE(modMain::ImageEdited);
  EXPECT_TRUE(modMain::EditedImagePath.isEmpty());

  // "Undo Editing" shows the source again and clears the mark.
  whileOpen(2, nullptr, nullptr);
  m.mnuEdit->trigger();
  ASSERT_TRUE(modMain::ImageEdited);
  stub->Reset();
  m.mnuUndo->trigger();
  EXPECT_FALSE(modMain::ImageEdited);
  EXPECT_FALSE(m.mnuUndo->isEnabled());
  EXPECT_TRUE(stub->Calls().contains("QorImgLoadSingle(" + source + ",1)"));

  // Without an existing source the editor does not open.
  m.txtSource->setText(TempPath("gone.bmp"));
  main->EditImage();
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(AdjustWindowTest, AFileThatCannotBeWrittenLeavesThePictureAndTheUndoLevelAsTheyWere) {
  c->mnuVertical->trigger();  // menu undo
  const QByteArray undoBefore = [&] {
    QFile f(AppDir() + "/preview_undo.bmp");
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }();
  ASSERT_FALSE(undoBefore.isEmpty());
  const QImage pictureBefore = editor->WorkingPicture().toImage();

  // A folder in the place of each file in turn: nothing can be written there.
  for (const char* blocked : {"preview.bmp", "preview_undo.bmp"}) {
    SCOPED_TRACE(blocked);
    const QString path = AppDir() + "/" + blocked;
    QFile::rename(path, path + ".kept");
    ASSERT_TRUE(QDir().mkdir(path));
    stub->Reset();
    dialogs.messages.clear();
    c->sliBrightnessR->setValue(10);
    Release(c->sliBrightnessR);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.contains(blocked));
    EXPECT_TRUE(stub->Calls().isEmpty());  // the library was not asked
    EXPECT_EQ(editor->WorkingPicture().toImage(), pictureBefore);
    EXPECT_TRUE(c->mnuUndo->isEnabled());
    EXPECT_EQ(PanelUndoMarks(), std::vector<bool>(4, false));
    QDir().rmdir(path);
    QFile::rename(path + ".kept", path);
  }
  QFile undo(AppDir() + "/preview_undo.bmp");
  ASSERT_TRUE(undo.open(QIODevice::ReadOnly));
  EXPECT_EQ(undo.readAll(), undoBefore);
  undo.close();

  // An undo file that cannot be read keeps the picture and the level.
  ASSERT_TRUE(undo.open(QIODevice::WriteOnly | QIODevice::Truncate));
  undo.write("not a picture");
  undo.close();
  dialogs.messages.clear();
  c->mnuUndo->trigger();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_TRUE(dialogs.messages[0].text.contains("preview_undo.bmp"));
  EXPECT_EQ(editor->WorkingPicture().toImage(), pictureBefore);
  EXPECT_TRUE(c->mnuUndo->isEnabled());

  // "Apply" that cannot write its file hands nothing back.
  ASSERT_TRUE(QDir().mkdir(AppDir() + "/modifiedimage.bmp"));
  dialogs.messages.clear();
  Button(c->tbMain, 2)->trigger();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_TRUE(dialogs.messages[0].text.contains("modifiedimage.bmp"));
  EXPECT_FALSE(modMain::ImageEdited);
  EXPECT_NE(editor->result(), QDialog::Accepted);
}

// ---- over the real library

class AdjustRealLibraryTest : public EditorTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    void* lib = dlopen(QOR_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    ASSERT_NE(lib, nullptr) << dlerror();
    for (const char* name : {"QorGetFileInfo", "QorImgLoadSingle", "QorImgSaveSingle",
                             "QorImgBrightness", "QorImgRotate", "QorImgSoften"})
      if (!dlsym(lib, name)) GTEST_SKIP() << "the library does not export " << name << " yet";
    LibQor::Unload();
    qputenv("QUILLON_LIBQOR", QOR_LIBRARY_FILE);
  }
  QImage Working() const {
    return editor->WorkingPicture().toImage().convertToFormat(QImage::Format_RGB888);
  }
  static QImage Rgb(const QString& path) {
    return QImage(path).convertToFormat(QImage::Format_RGB888);
  }
};

// Four blocks of 8 x 8 pixels in four colours.
const QColor kBlocks[4] = {QColor(200, 100, 50), QColor(10, 20, 30), QColor(128, 128, 128),
                           QColor(255, 0, 127)};

QImage BlockPicture() {
  QImage picture(16, 16, QImage::Format_RGB888);
  QPainter painter(&picture);
  for (int i = 0; i < 4; ++i) painter.fillRect((i % 2) * 8, (i / 2) * 8, 8, 8, kBlocks[i]);
  return picture;
}

TEST_F(AdjustRealLibraryTest, BrightnessPlusThirtyOnGreyAddsSeventySixTwiceOnTwoReleases) {
  // Greys 0, 100, 179, 180, 255 in columns: +30 % of 255 is 76 (truncated),
  // limited to 255.
  const int greys[] = {0, 100, 179, 180, 255};
  QImage grey(5, 3, QImage::Format_RGB888);
  for (int x = 0; x < 5; ++x)
    for (int y = 0; y < 3; ++y) grey.setPixelColor(x, y, QColor(greys[x], greys[x], greys[x]));
  Edit(grey);
  c->sliBrightnessR->setValue(30);
  QTest::mouseRelease(c->sliBrightnessR, Qt::LeftButton);
  ASSERT_TRUE(dialogs.messages.empty());
  const int once[] = {76, 176, 255, 255, 255};
  const int twice[] = {152, 252, 255, 255, 255};
  QImage result = Working();
  for (int x = 0; x < 5; ++x)
    EXPECT_EQ(result.pixelColor(x, 1), QColor(once[x], once[x], once[x])) << x;
  EXPECT_EQ(Rgb(AppDir() + "/preview.bmp"), result);
  EXPECT_EQ(Rgb(AppDir() + "/preview_undo.bmp"), grey);

  QTest::mouseRelease(c->sliBrightnessG, Qt::LeftButton);
  result = Working();
  for (int x = 0; x < 5; ++x)
    EXPECT_EQ(result.pixelColor(x, 2), QColor(twice[x], twice[x], twice[x])) << x;
}

TEST_F(AdjustRealLibraryTest, ToneEffectsGiveTheHandWorkedColours) {
  Edit(BlockPicture());
  // Sliders set in order; the last one is released.
  struct Case {
    const char* name;
    std::vector<std::pair<QSlider*, int>> positions;
    QColor expected[4];
  };
  const Case cases[] = {
      // Largest and smallest move apart by half of 40 % of their distance,
      // the middle keeps its distance to the smallest plus 40 % of it.
      {"saturation +40",
       {{c->sliSaturation, 40}},
       {{230, 90, 20}, {6, 20, 34}, {128, 128, 128}, {255, 0, 177}}},
      // Every channel moves half way to the mean of the three (truncated).
      {"saturation -50",
       {{c->sliSaturation, -50}},
       {{158, 108, 83}, {15, 20, 25}, {128, 128, 128}, {191, 63, 127}}},
      // Contrast 50: 1 plus half the distance from 127 or 128 moves away.
      {"contrast 50 on all channels",
       {{c->sliContrastR, 50}},
       {{237, 86, 11}, {0, 0, 0}, {129, 129, 129}, {255, 0, 126}}},
      // Gamma 2.0, 0.5 and 1.0: 255 x (i / 255)^(1 / gamma), rounded.
      {"gamma 2.0, 0.5, 1.0",
       {{c->sliGammaR, 20}, {c->sliGammaG, 5}, {c->sliGammaB, 10}},
       {{226, 39, 50}, {50, 2, 30}, {181, 64, 128}, {255, 0, 127}}},
  };
  for (const Case& one : cases) {
    SCOPED_TRACE(one.name);
    Button(c->tbMain, 3)->trigger();  // each from the original picture
    for (const auto& [slider, value] : one.positions) slider->setValue(value);
    QTest::mouseRelease(one.positions.back().first, Qt::LeftButton);
    const QImage result = Working();
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(result.pixelColor((i % 2) * 8 + 3, (i / 2) * 8 + 4), one.expected[i]) << i;
  }
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(AdjustRealLibraryTest, GeometryAndFiltersAgreeWithImageMagick) {
  if (QStandardPaths::findExecutable("convert").isEmpty()) GTEST_SKIP() << "no ImageMagick";
  Edit(apptest::RampPicture(20, 12));
  struct Case {
    QAction* menu;
    QStringList peer;
    int tolerance;
  };
  // The filters shift their sums right (rounding down), the peer rounds.
  const Case cases[] = {
      {c->mnuRight90, {"-rotate", "90"}, 0},
      {c->mnu180, {"-rotate", "180"}, 0},
      {c->mnuLeft90, {"-rotate", "270"}, 0},
      {c->mnuHorizontal, {"-flop"}, 0},
      {c->mnuVertical, {"-flip"}, 0},
      {c->mnuSoften,
       {"-define", "convolve:scale=1", "-morphology", "Convolve",
        "3x3: 0.0625,0.0625,0.0625 0.0625,0.5,0.0625 0.0625,0.0625,0.0625"},
       1},
      {c->mnuSharpen,
       {"-define", "convolve:scale=1", "-morphology", "Convolve",
        "3x3: 0,-0.25,0 -0.25,2,-0.25 0,-0.25,0"},
       1},
      {c->mnuFindEdges,
       {"-define", "convolve:scale=1", "-morphology", "Convolve", "3x3: -1,-3,-1 -3,16,-3 -1,-3,-1"},
       1},
      {c->mnuEnhanceEdges,
       {"-define", "convolve:scale=1", "-morphology", "Convolve",
        "3x3: -0.25,-0.5,-0.25 -0.5,4,-0.5 -0.25,-0.5,-0.25"},
       1},
  };
  for (const Case& one : cases) {
    SCOPED_TRACE(one.menu->text().toStdString());
    Button(c->tbMain, 3)->trigger();
    one.menu->trigger();
    const QString peer = TempPath("peer.bmp");
    ASSERT_TRUE(apptest::RunPeer("convert", QStringList{source} + one.peer +
                                                QStringList{"-type", "TrueColor", peer}));
    const apptest::ImageDifference diff = apptest::Compare(Working(), QImage(peer), one.tolerance);
    EXPECT_LE(diff.maxChannel, one.tolerance);
    EXPECT_EQ(diff.shareOver, 0.0);
  }
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(AdjustRealLibraryTest, UndoRestoresTheBytesRevertTheMainPictureApplyTheEdit) {
  const QImage ramp = apptest::RampPicture(20, 12).convertToFormat(QImage::Format_RGB888);
  Edit(ramp);
  c->mnuRight90->trigger();
  EXPECT_EQ(Working().size(), QSize(12, 20));
  c->mnuUndo->trigger();
  EXPECT_EQ(Working(), ramp);

  // Two operations and Undo: the state after the first.
  c->mnuHorizontal->trigger();
  const QImage afterFirst = Working();
  c->mnuSoften->trigger();
  c->mnuUndo->trigger();
  EXPECT_EQ(Working(), afterFirst);

  // Revert takes the main window's picture; Undo after it brings back the
  // state before the last operation, not the reverted picture.
  c->mnu180->trigger();
  Button(c->tbMain, 3)->trigger();
  EXPECT_EQ(Working(), ramp);
  c->mnuUndo->trigger();
  EXPECT_EQ(Working(), afterFirst);

  // Apply: the edit is the main window's picture and the marked file.
  c->mnuVertical->trigger();
  const QImage edited = Working();
  Button(c->tbMain, 2)->trigger();
  ASSERT_TRUE(modMain::ImageEdited);
  EXPECT_EQ(Rgb(modMain::EditedImagePath), edited);
  EXPECT_EQ(main->PreviewPicture().toImage().convertToFormat(QImage::Format_RGB888), edited);
  // The library reads the marked file as the picture it converts.
  LibQor::ScopedImage image;
  ASSERT_EQ(LibQor::QorImgLoadSingle(image.get(),
                                     QFile::encodeName(modMain::EditedImagePath).constData(), 0),
            0);
  int32_t w = 0, h = 0, bpp = 0, bytes = 0;
  void *pixels = nullptr, *palette = nullptr;
  LibQor::QorImgGetInfo(image.get(), &w, &h, &bpp, &bytes, &pixels, &palette);
  EXPECT_EQ(QSize(w, h), edited.size());
}

}  // namespace
