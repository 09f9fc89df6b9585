// The adjustment window over the recording stand-in of the library (the
// export each control calls, locks, undo states, the hand-back to the main
// window) and over the real library (the pictures the effects, undo, revert
// and apply leave behind).

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
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
using Marks = std::vector<bool>;

QAction* Button(QToolBar* toolbar, int index) { return toolbar->actions().at(index - 1); }

TEST(AdjustWindowRules, PictureFitsTheBoxOnBothSidesCentredAndIsNeverEnlarged) {
  // width x height in, width x height shown (twips).
  const double cases[][4] = {{6000, 4000, 4800, 3200}, {2000, 3000, 2000, 3000},
                             {3000, 6000, 1695, 3390}, {5000, 5000, 3390, 3390},
                             // wide yet near square: the height bounds it too
                             {6000, 5000, 4068, 3390}};
  for (const auto& c : cases) {
    const auto d = frmPreview::FitDisplay(c[0], c[1]);
    ASSERT_TRUE(d);
    EXPECT_DOUBLE_EQ(d->width, c[2]) << c[0] << "x" << c[1];
    EXPECT_DOUBLE_EQ(d->height, c[3]) << c[0] << "x" << c[1];
    EXPECT_NEAR(d->left, 4800 - c[2] / 2, 1e-9);
    EXPECT_NEAR(d->top, 1695 - c[3] / 2, 1e-9);
  }
  EXPECT_FALSE(frmPreview::FitDisplay(0, 100));
}

// The main window with a picture and the editor opened on it.
class EditorTest : public AppTest {
 protected:
  void TearDown() override {
    editor.reset();
    main.reset();
    AppTest::TearDown();
  }
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
  QImage Working() const {
    return editor->WorkingPicture().toImage().convertToFormat(QImage::Format_RGB888);
  }
  static QImage Rgb(const QString& path) {
    return QImage(path).convertToFormat(QImage::Format_RGB888);
  }
  static void Release(QSlider* slider, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseRelease(slider, button);
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
    stub = std::make_unique<apptest::Stub>();
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
  // cmdUndo and the panel toolbars' Undo buttons, which must agree, in the
  // order saturation, gamma, brightness, contrast.
  Marks PanelUndo() const {
    QToolBar* const toolbars[] = {c->tbSaturation, c->tbGamma, c->tbBrightness, c->tbContrast};
    Marks marks;
    for (int i = 0; i < frmPreview::kPanelCount; ++i) {
      EXPECT_EQ(c->cmdUndo[i]->isEnabled(), Button(toolbars[i], 3)->isEnabled()) << i;
      marks.push_back(c->cmdUndo[i]->isEnabled());
    }
    return marks;
  }
  std::unique_ptr<apptest::Stub> stub;
};

TEST_F(AdjustWindowTest, LoadStateAndEveryControlsExportWithTheSlidersAtRelease) {
  EXPECT_EQ(editor->size(), QSize(640, 480));
  EXPECT_EQ(editor->windowTitle(), "Adjust Image");
  for (QSlider* s : {c->sliSaturation, c->sliBrightnessR, c->sliContrastB, c->sliGammaG})
    EXPECT_EQ(QList<int>({s->value(), s->singleStep(), s->pageStep()}), QList<int>({0, 1, 5}));
  EXPECT_EQ(QList<int>({c->sliGammaR->minimum(), c->sliGammaR->maximum(),
                        c->sliGammaR->tickInterval(), c->sliContrastG->minimum(),
                        c->sliContrastG->tickInterval(), c->sliSaturation->tickInterval()}),
            QList<int>({-50, 50, 10, -100, 20, 10}));
  EXPECT_TRUE(c->chkBrightness->isChecked() && c->chkContrast->isChecked());
  EXPECT_FALSE(c->chkGamma->isChecked() || Button(c->tbGamma, 1)->isChecked());
  EXPECT_FALSE(c->mnuUndo->isEnabled());
  EXPECT_EQ(PanelUndo(), Marks(4, false));
  // 64 x 48 pixels: its own size, centred on the box's middle.
  EXPECT_EQ(c->PreviewImage->geometry(), QRect(288, 89, 64, 48));

  struct Case {
    std::vector<std::pair<QSlider*, int>> positions;  // set in order
    std::function<void()> act;
    QString call;
  };
  // Unlocked, each slider goes to its own channel (locked again after).
  auto apart = [&](QToolBar* lock, QSlider* r, QSlider* g, QSlider* b) {
    Button(lock, 1)->trigger();
    r->setValue(10);
    g->setValue(20);
    b->setValue(30);
    Release(g);
    Button(lock, 1)->trigger();
  };
  const Case cases[] = {
      {{}, [&] { apart(c->tbBrightness, c->sliBrightnessR, c->sliBrightnessG, c->sliBrightnessB); },
       "QorImgBrightness(10,20,30)"},
      {{}, [&] { apart(c->tbContrast, c->sliContrastR, c->sliContrastG, c->sliContrastB); },
       "QorImgContrast(10,20,30)"},
      {{{c->sliSaturation, -40}}, [&] { Release(c->sliSaturation, Qt::RightButton); },
       "QorImgSaturation(-40)"},
      {{}, [&] { Button(c->tbSaturation, 2)->trigger(); }, "QorImgSaturation(-40)"},
      {{{c->sliBrightnessG, 30}}, [&] { Release(c->sliBrightnessG); },
       "QorImgBrightness(30,30,30)"},
      // Unmoved, the release applies again.
      {{}, [&] { Release(c->sliBrightnessR); }, "QorImgBrightness(30,30,30)"},
      {{{c->sliContrastB, -20}}, [&] { Release(c->sliContrastR); }, "QorImgContrast(-20,-20,-20)"},
      {{{c->sliGammaR, 12}, {c->sliGammaG, -5}}, [&] { Release(c->sliGammaB); },
       "QorImgGamma(1.2,-0.5,0)"},
      {{}, [&] { c->mnuRight90->trigger(); }, "QorImgRotate(1)"},
      {{}, [&] { c->mnu180->trigger(); }, "QorImgRotate(2)"},
      {{}, [&] { c->mnuLeft90->trigger(); }, "QorImgRotate(3)"},
      {{}, [&] { c->mnuHorizontal->trigger(); }, "QorImgFlipHorizontal()"},
      {{}, [&] { c->mnuVertical->trigger(); }, "QorImgFlipVertical()"},
      {{}, [&] { c->mnuSharpen->trigger(); }, "QorImgSharpen()"},
      {{}, [&] { c->mnuSoften->trigger(); }, "QorImgSoften()"},
      {{}, [&] { c->mnuFindEdges->trigger(); }, "QorImgFindEdges()"},
      {{}, [&] { c->mnuEnhanceEdges->trigger(); }, "QorImgEdgeEnhance()"},
  };
  for (const Case& one : cases) {
    stub->Reset();
    for (const auto& [slider, value] : one.positions) slider->setValue(value);
    one.act();
    EXPECT_EQ(stub->Calls(), Cycle(one.call));
  }
  EXPECT_TRUE(QFile::exists(AppDir() + "/preview_undo.bmp"));
  EXPECT_TRUE(dialogs.messages.empty());

  // The keyboard moves a slider and its locked partners but applies nothing.
  stub->Reset();
  QTest::keyClick(c->sliBrightnessB, Qt::Key_Right);
  EXPECT_EQ(c->sliBrightnessR->value(), 31);
  EXPECT_TRUE(stub->Calls().isEmpty());
}

TEST_F(AdjustWindowTest, LocksZeroAndUndoThatBelongsToTheLastOperationsPanelOrTheMenu) {
  // Dragging a locked brightness handle moves all three; the release
  // applies them and takes the keyboard away from the slider.
  editor->show();
  editor->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(editor.get()));
  QSlider* green = c->sliBrightnessG;
  green->setFocus();
  const QPoint from = green->rect().center(), to = from + QPoint(green->width() / 4, 0);
  QTest::mousePress(green, Qt::LeftButton, {}, from);
  QTest::mouseMove(green, to);
  QTest::mouseRelease(green, Qt::LeftButton, {}, to);
  const int dragged = green->value();
  EXPECT_GT(dragged, 20);
  EXPECT_EQ(QList<int>({c->sliBrightnessR->value(), c->sliBrightnessB->value()}),
            QList<int>({dragged, dragged}));
  EXPECT_EQ(stub->Calls(), Cycle(QString("QorImgBrightness(%1,%1,%1)").arg(dragged)));
  EXPECT_EQ(QApplication::focusWidget(), editor.get());
  EXPECT_TRUE(c->mnuUndo->isEnabled());
  EXPECT_EQ(PanelUndo(), Marks({false, false, true, false}));

  // Gamma moves alone until its lock is pressed.
  c->sliGammaR->setValue(7);
  EXPECT_EQ(c->sliGammaG->value(), 0);
  Button(c->tbGamma, 1)->trigger();
  EXPECT_TRUE(c->chkGamma->isChecked());
  c->sliGammaB->setValue(-3);
  EXPECT_EQ(QList<int>({c->sliGammaR->value(), c->sliGammaG->value()}), QList<int>({-3, -3}));

  // Zero, lock, revert and other panels' Undo buttons change no undo state
  // and call nothing.
  stub->Reset();
  const QImage before = Working();
  Button(c->tbGamma, 2)->trigger();
  Button(c->tbBrightness, 1)->trigger();
  c->sliSaturation->setValue(50);
  Button(c->tbSaturation, 1)->trigger();
  Button(c->tbMain, 3)->trigger();
  editor->tbGamma_ButtonClick(3);
  editor->tbSaturation_ButtonClick(3);
  EXPECT_EQ(QList<int>({c->sliGammaB->value(), c->sliSaturation->value()}), QList<int>({0, 0}));
  EXPECT_FALSE(c->chkBrightness->isChecked());
  EXPECT_TRUE(stub->Calls().isEmpty());
  EXPECT_EQ(Working(), before);
  EXPECT_EQ(PanelUndo(), Marks({false, false, true, false}));

  // A menu operation leaves Edit > Undo alone; Undo ends every level.
  c->mnuSoften->trigger();
  EXPECT_TRUE(c->mnuUndo->isEnabled());
  EXPECT_EQ(PanelUndo(), Marks(4, false));
  c->mnuUndo->trigger();
  EXPECT_FALSE(c->mnuUndo->isEnabled());
  Release(c->sliSaturation);
  EXPECT_EQ(PanelUndo(), Marks({true, false, false, false}));
  Button(c->tbSaturation, 3)->trigger();
  EXPECT_FALSE(c->mnuUndo->isEnabled());
  EXPECT_EQ(PanelUndo(), Marks(4, false));
}

TEST_F(AdjustWindowTest, ApplyMarksTheEditForTheMainWindowWhichClearsItByEditUndoAndNewFrames) {
  const frmImage::Controls& m = main->controls();
  // Once the editor is modal: what it was opened with, then a main toolbar
  // button.
  QString title;
  QSize picture;
  auto whileOpen = [&](int mainButton) {
    auto* poll = new QTimer(main.get());
    QObject::connect(poll, &QTimer::timeout, [&, poll, mainButton] {
      auto* open = dynamic_cast<frmPreview::Form*>(QApplication::activeModalWidget());
      if (!open) return;
      poll->deleteLater();
      title = open->windowTitle();
      picture = open->WorkingPicture().size();
      open->tbMain_ButtonClick(mainButton);
    });
    poll->start(5);
  };
  const QString modified = AppDir() + "/modifiedimage.bmp";
  whileOpen(1);
  m.mnuEdit->trigger();  // "Edit Image", "Cancel"
  EXPECT_EQ(title, source);
  EXPECT_EQ(picture, QSize(64, 48));
  EXPECT_FALSE(modMain::ImageEdited);
  EXPECT_FALSE(QFile::exists(modified));

  // "Apply" without any operation hands the picture back and marks it.
  whileOpen(2);
  Button(m.Toolbar2, 2)->trigger();
  EXPECT_TRUE(modMain::ImageEdited);
  EXPECT_EQ(modMain::EditedImagePath, modified);
  EXPECT_TRUE(m.mnuUndo->isEnabled());
  EXPECT_EQ(Rgb(modified), apptest::RampPicture(64, 48));
  EXPECT_EQ(main->PreviewPicture().toImage().convertToFormat(QImage::Format_RGB888), Rgb(modified));

  // The toolbar's edit buttons keep the mark and disable "Undo Editing";
  // the menu "Edit Image" clears it.
  whileOpen(1);
  Button(m.Toolbar1, 7)->trigger();
  EXPECT_TRUE(modMain::ImageEdited);
  EXPECT_FALSE(m.mnuUndo->isEnabled());
  whileOpen(1);
  m.mnuEdit->trigger();
  EXPECT_FALSE(modMain::ImageEdited);
  EXPECT_TRUE(modMain::EditedImagePath.isEmpty());

  // "Undo Editing" shows the source again and clears the mark.
  whileOpen(2);
  m.mnuEdit->trigger();
  ASSERT_TRUE(modMain::ImageEdited);
  stub->Reset();
  m.mnuUndo->trigger();
  EXPECT_FALSE(modMain::ImageEdited || m.mnuUndo->isEnabled());
  EXPECT_TRUE(stub->Calls().contains("QorImgLoadSingle(" + source + ",1)"));

  // Without an existing source the editor does not open.
  m.txtSource->setText(TempPath("gone.bmp"));
  main->EditImage();
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(AdjustWindowTest, AFileThatCannotBeWrittenOrReadChangesNeitherPictureNorUndo) {
  c->mnuVertical->trigger();  // menu undo
  QFile undo(AppDir() + "/preview_undo.bmp");
  ASSERT_TRUE(undo.open(QIODevice::ReadOnly));
  const QByteArray undoBefore = undo.readAll();
  undo.close();
  const QImage before = Working();
  auto expectOneMessageNaming = [&](const char* file) {
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.contains(file));
    dialogs.messages.clear();
    EXPECT_EQ(Working(), before);
    EXPECT_TRUE(c->mnuUndo->isEnabled());
    EXPECT_EQ(PanelUndo(), Marks(4, false));
  };
  // A folder in the place of each file in turn: nothing can be written.
  for (const char* blocked : {"preview.bmp", "preview_undo.bmp"}) {
    const QString path = AppDir() + "/" + blocked;
    QFile::rename(path, path + ".kept");
    ASSERT_TRUE(QDir().mkdir(path));
    stub->Reset();
    Release(c->sliBrightnessR);
    expectOneMessageNaming(blocked);
    EXPECT_TRUE(stub->Calls().isEmpty());  // the library was not asked
    QDir().rmdir(path);
    QFile::rename(path + ".kept", path);
  }
  ASSERT_TRUE(undo.open(QIODevice::ReadWrite));
  EXPECT_EQ(undo.readAll(), undoBefore);
  undo.resize(0);
  undo.write("not a picture");
  undo.close();
  c->mnuUndo->trigger();
  expectOneMessageNaming("preview_undo.bmp");

  // "Apply" that cannot write its file hands nothing back.
  ASSERT_TRUE(QDir().mkdir(AppDir() + "/modifiedimage.bmp"));
  Button(c->tbMain, 2)->trigger();
  expectOneMessageNaming("modifiedimage.bmp");
  EXPECT_FALSE(modMain::ImageEdited);
  EXPECT_NE(editor->result(), QDialog::Accepted);
}

// ---- over the real library

class AdjustRealLibraryTest : public EditorTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    const std::string missing = BindRealLibrary({"QorGetFileInfo", "QorImgBrightness", "QorOutputDlg", "QorConvert"});
    if (!missing.empty()) GTEST_SKIP() << "the library does not export " << missing;
  }
  // From now on the user presses OK in the library's output-settings dialog.
  void PressOkInOutputDialogs() {
    QObject::connect(&answer_, &QTimer::timeout, [] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal && modal->objectName() == "frmSet")
        if (auto* ok = modal->findChild<QPushButton*>("btnOK")) ok->click();
    });
    answer_.start(5);
  }

 private:
  QTimer answer_;
};

TEST_F(AdjustRealLibraryTest, BrightnessPlusThirtyOnGreyAddsSeventySixAtEachRelease) {
  // +30 % of 255 is 76 (truncated), limited to 255.
  const int greys[] = {0, 100, 179, 180, 255}, once[] = {76, 176, 255, 255, 255},
            twice[] = {152, 252, 255, 255, 255};
  QImage grey(5, 3, QImage::Format_RGB888);
  for (int x = 0; x < 5; ++x)
    for (int y = 0; y < 3; ++y) grey.setPixelColor(x, y, QColor(greys[x], greys[x], greys[x]));
  Edit(grey);
  c->sliBrightnessR->setValue(30);
  Release(c->sliBrightnessR);
  for (int x = 0; x < 5; ++x) EXPECT_EQ(Working().pixelColor(x, 1), QColor(once[x], once[x], once[x]));
  EXPECT_EQ(Rgb(AppDir() + "/preview.bmp"), Working());
  EXPECT_EQ(Rgb(AppDir() + "/preview_undo.bmp"), grey);
  Release(c->sliBrightnessG);
  for (int x = 0; x < 5; ++x)
    EXPECT_EQ(Working().pixelColor(x, 2), QColor(twice[x], twice[x], twice[x]));
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(AdjustRealLibraryTest, TonesGiveHandWorkedColoursGeometryAndFiltersAgreeWithImageMagick) {
  // Four blocks of 8 x 8 pixels.
  const QColor blocks[4] = {{200, 100, 50}, {10, 20, 30}, {128, 128, 128}, {255, 0, 127}};
  QImage picture(16, 16, QImage::Format_RGB888);
  QPainter painter(&picture);
  for (int i = 0; i < 4; ++i) painter.fillRect((i % 2) * 8, (i / 2) * 8, 8, 8, blocks[i]);
  painter.end();
  Edit(picture);
  struct Tone {
    std::vector<std::pair<QSlider*, int>> positions;  // the last is released
    QColor expected[4];
  };
  const Tone tones[] = {
      // Largest and smallest part by half of 40 % of their distance; the
      // middle keeps its distance to the smallest and gains 40 % of it.
      {{{c->sliSaturation, 40}}, {{230, 90, 20}, {6, 20, 34}, {128, 128, 128}, {255, 0, 177}}},
      // Half way towards the truncated mean of the three.
      {{{c->sliSaturation, -50}}, {{158, 108, 83}, {15, 20, 25}, {128, 128, 128}, {191, 63, 127}}},
      // 1 plus half the distance from 127 or 128 further away.
      {{{c->sliContrastR, 50}}, {{237, 86, 11}, {0, 0, 0}, {129, 129, 129}, {255, 0, 126}}},
      // 255 x (i / 255)^(1 / gamma), rounded, for 2.0, 0.5 and 1.0.
      {{{c->sliGammaR, 20}, {c->sliGammaG, 5}, {c->sliGammaB, 10}},
       {{226, 39, 50}, {50, 2, 30}, {181, 64, 128}, {255, 0, 127}}},
  };
  for (const Tone& tone : tones) {
    SCOPED_TRACE(&tone - tones);
    Button(c->tbMain, 3)->trigger();  // each from the main window's picture
    for (const auto& [slider, value] : tone.positions) slider->setValue(value);
    Release(tone.positions.back().first);
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(Working().pixelColor((i % 2) * 8 + 3, (i / 2) * 8 + 4), tone.expected[i]) << i;
  }

  if (QStandardPaths::findExecutable("convert").isEmpty()) GTEST_SKIP() << "no ImageMagick";
  ASSERT_TRUE(apptest::SaveBmp(apptest::RampPicture(20, 12), source));
  main->ShowPreview(source);
  const QString convolve = "-define convolve:scale=1 -morphology Convolve ";
  // The filters shift their sums right (rounding down); the peer rounds.
  const std::pair<QAction*, QString> peers[] = {
      {c->mnuRight90, "-rotate 90"}, {c->mnu180, "-rotate 180"}, {c->mnuLeft90, "-rotate 270"},
      {c->mnuHorizontal, "-flop"},   {c->mnuVertical, "-flip"},
      {c->mnuSoften, convolve + "3x3:.0625,.0625,.0625,.0625,.5,.0625,.0625,.0625,.0625"},
      {c->mnuSharpen, convolve + "3x3:0,-.25,0,-.25,2,-.25,0,-.25,0"},
      {c->mnuFindEdges, convolve + "3x3:-1,-3,-1,-3,16,-3,-1,-3,-1"},
      {c->mnuEnhanceEdges, convolve + "3x3:-.25,-.5,-.25,-.5,4,-.5,-.25,-.5,-.25"}};
  for (const auto& [menu, operation] : peers) {
    Button(c->tbMain, 3)->trigger();
    menu->trigger();
    const QString peer = TempPath("peer.bmp");
    ASSERT_TRUE(apptest::RunPeer("convert", QStringList{source} + operation.split(' ') +
                                                QStringList{"-type", "TrueColor", peer}));
    const int tolerance = operation.startsWith("-define") ? 1 : 0;
    EXPECT_EQ(apptest::Compare(Working(), QImage(peer), tolerance).shareOver, 0.0)
        << menu->text().toStdString();
  }
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(AdjustRealLibraryTest, UndoRestoresTheBytesRevertTheMainPictureApplyTheEdit) {
  // Sides of whole multiples of 16, which a conversion keeps.
  const QImage ramp = apptest::RampPicture(48, 32).convertToFormat(QImage::Format_RGB888);
  Edit(ramp);
  c->mnuRight90->trigger();
  EXPECT_EQ(Working().size(), QSize(32, 48));
  c->mnuUndo->trigger();
  EXPECT_EQ(Working(), ramp);

  // Two operations and Undo: the state after the first.
  c->mnuHorizontal->trigger();
  const QImage afterFirst = Working();
  c->mnuSoften->trigger();
  c->mnuUndo->trigger();
  EXPECT_EQ(Working(), afterFirst);

  // Undo after Revert brings back the state before the last operation.
  c->mnu180->trigger();
  Button(c->tbMain, 3)->trigger();
  EXPECT_EQ(Working(), ramp);
  c->mnuUndo->trigger();
  EXPECT_EQ(Working(), afterFirst);

  // Apply: the main window's picture and the marked file are the edit,
  // which the next conversion writes; after "Undo Editing" it writes the
  // source again.
  c->mnuVertical->trigger();
  const QImage edited = Working();
  Button(c->tbMain, 2)->trigger();
  ASSERT_TRUE(modMain::ImageEdited);
  EXPECT_EQ(Rgb(modMain::EditedImagePath), edited);
  EXPECT_EQ(main->PreviewPicture().toImage().convertToFormat(QImage::Format_RGB888), edited);
  PressOkInOutputDialogs();
  for (const auto& [name, expected] : {std::pair(QString("edited.bmp"), edited),
                                       std::pair(QString("source.bmp"), ramp)}) {
    main->controls().txtOutput->setText(TempPath("out-" + name));
    main->RunConversion();
    EXPECT_EQ(Rgb(TempPath("out-" + name)), expected) << name.toStdString();
    main->controls().mnuUndo->trigger();
  }
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(AdjustRealLibraryTest, ATurnedEditConvertsUprightAtItsOwnSizeUntilTheEditIsDropped) {
  const QImage ramp = apptest::RampPicture(80, 60).convertToFormat(QImage::Format_RGB888);
  Edit(ramp);
  c->mnuRight90->trigger();
  const QImage turned = Working();
  ASSERT_EQ(turned.size(), QSize(60, 80));
  Button(c->tbMain, 2)->trigger();
  const frmImage::Controls& m = main->controls();
  EXPECT_EQ(m.lblWidth->text() + "x" + m.lblHeight->text(), "60x80");
  EXPECT_EQ(m.txtOutWidth->text() + "x" + m.txtOutHeight->text(), "60x80");
  // The size boxes keep the turned picture's proportions.
  m.txtOutWidth->setText("30");
  EXPECT_EQ(m.txtOutHeight->text(), "40");
  m.txtOutWidth->setText("60");

  PressOkInOutputDialogs();
  m.txtOutput->setText(TempPath("upright.png"));
  main->RunConversion();
  EXPECT_EQ(Rgb(TempPath("upright.png")), turned);
  if (!QStandardPaths::findExecutable("convert").isEmpty()) {
    const QString peer = TempPath("peer.bmp");
    ASSERT_TRUE(apptest::RunPeer("convert", {source, "-rotate", "90", "-type", "TrueColor", peer}));
    EXPECT_EQ(apptest::Compare(Rgb(TempPath("upright.png")), QImage(peer), 0).maxChannel, 0);
  }

  // Dropping the edit brings the source's size back.
  m.mnuUndo->trigger();
  EXPECT_EQ(m.lblWidth->text() + "x" + m.lblHeight->text(), "80x60");
  EXPECT_EQ(m.txtOutWidth->text() + "x" + m.txtOutHeight->text(), "80x60");
  m.txtOutput->setText(TempPath("source.png"));
  main->RunConversion();
  EXPECT_EQ(Rgb(TempPath("source.png")), ramp);
  EXPECT_TRUE(dialogs.messages.empty());
}

}  // namespace
