// The main window's source side: its rules, and the window itself over the
// recording stand-in of the library.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QSlider>
#include <QTest>

#include "AppTestSupport.h"
#include "UpDown.h"
#include "DepthRules.h"
#include "frmImage.h"
#include "modMain.h"

namespace {

using apptest::AppTest;
using apptest::Stub;
using frmImage::Box;

// ---- rules

TEST(MainWindowRules, FitLayoutShowsSmallPicturesAtNaturalSizeAndShrinksLargeOnes) {
  const double W = frmImage::kBoxWidthTwips, H = frmImage::kBoxHeightTwips;
  Box natural = frmImage::FitBox(200, 100, W, H);
  EXPECT_DOUBLE_EQ(natural.width, 3000);
  EXPECT_DOUBLE_EQ(natural.height, 1500);
  EXPECT_DOUBLE_EQ(natural.left, (W - 3000) / 2);
  EXPECT_DOUBLE_EQ(natural.top, (H - 1500) / 2);

  Box wide = frmImage::FitBox(4000, 1000, W, H);
  EXPECT_DOUBLE_EQ(wide.width, W);
  EXPECT_DOUBLE_EQ(wide.height, W / 4);
  EXPECT_DOUBLE_EQ(wide.left, 0);
  EXPECT_DOUBLE_EQ(wide.top, H / 2 - W / 8);

  Box tall = frmImage::FitBox(100, 400, W, H);
  EXPECT_DOUBLE_EQ(tall.height, H);
  EXPECT_DOUBLE_EQ(tall.width, H / 4);
  EXPECT_DOUBLE_EQ(tall.left, W / 2 - H / 8);
  EXPECT_DOUBLE_EQ(tall.top, 0);

  // No division by an empty picture's size: the box stays reset.
  for (Box empty : {frmImage::FitBox(0, 100, W, H), frmImage::FitBox(100, 0, W, H)}) {
    EXPECT_DOUBLE_EQ(empty.width, W);
    EXPECT_DOUBLE_EQ(empty.height, H);
    EXPECT_DOUBLE_EQ(empty.left + empty.top, 0);
  }
}

TEST(MainWindowRules, CoupledSizeRoundsHalvesToEvenAndNeverDividesByZero) {
  // Height from a typed width of a 640 x 480 source, and width from height.
  EXPECT_EQ(frmImage::CoupledSide("320", "480", "640"), "240");
  EXPECT_EQ(frmImage::CoupledSide("241", "640", "480"), "321");
  EXPECT_EQ(frmImage::CoupledSide("6", "480", "640"), "4");   // 4.5
  EXPECT_EQ(frmImage::CoupledSide("10", "480", "640"), "8");  // 7.5
  EXPECT_EQ(frmImage::CoupledSide("2", "480", "640"), "2");   // 1.5
  EXPECT_FALSE(frmImage::CoupledSide("320", "480", "0"));
  EXPECT_FALSE(frmImage::CoupledSide("", "480", "640"));
  EXPECT_FALSE(frmImage::CoupledSide("12a", "480", "640"));
  EXPECT_FALSE(frmImage::CoupledSide("320", "", "640"));
  EXPECT_FALSE(frmImage::CoupledSide("1e300", "480", "640"));
}

TEST(MainWindowRules, DepthFrameAndPropertyTexts) {
  EXPECT_EQ(DepthRules::For(32).depth, "32-bit (16M + alpha)");
  EXPECT_EQ(DepthRules::For(32).description, "-bit (16M + alpha)");
  EXPECT_EQ(DepthRules::For(24).depth, "24-bit (16M colors)");
  EXPECT_EQ(DepthRules::For(24).description, "-bit (16M colors)");
  EXPECT_EQ(DepthRules::For(8).depth, "8-bit (256 colors)");
  EXPECT_EQ(DepthRules::For(8).description, "-bit (256 colors)");
  for (double bits : {0.0, 1.0, 4.0, 15.0, 16.0}) {
    EXPECT_TRUE(DepthRules::For(bits).depth.isEmpty());
    EXPECT_TRUE(DepthRules::For(bits).description.isEmpty());
  }
  EXPECT_EQ(frmImage::FrameCountCaption(0), "Single Frame Image");
  EXPECT_EQ(frmImage::FrameCountCaption(1), "Single Frame Image");
  EXPECT_EQ(frmImage::FrameCountCaption(250), "250 Frame Movie");

  LibQor::FileInfo movie = apptest::MovieInfo(320, 240, 24, 86);
  movie.videoDuration = 3.456;
  movie.totalSize = 1234567;
  const frmImage::SourceTexts texts = frmImage::DescribeSource(movie);
  EXPECT_EQ(texts.runTime, "3.46");
  EXPECT_EQ(texts.size, "1234567");
  EXPECT_EQ(texts.format, "AVI Movie (*.avi)");
  EXPECT_EQ(texts.frameCount, "86");
  EXPECT_EQ(texts.width, "320");
  EXPECT_EQ(texts.height, "240");
  EXPECT_EQ(texts.colorDepth, "24");
  movie.frameCount = 0;
  EXPECT_TRUE(frmImage::DescribeSource(movie).width.isEmpty());

  EXPECT_EQ(frmImage::OpenFilters(),
            QStringList({"All Files (*.avi *.mpg *.mpe *.mpeg *.bay *.bmp *.dib *.rle "
                         "*.flc *.gif *.giff *.kwb *.jpg *.jpe *.jpeg *.jif *.jfif *.pcx "
                         "*.png *.pnm *.ppm *.pgm *.ras *.sun *.rgb *.rgba *.bw *.sgi "
                         "*.tga *.tif *.tiff *.xpm)",
                         "Image Files (*.bay *.bmp *.dib *.rle *.flc *.gif *.giff *.kwb "
                         "*.jpg *.jpe *.jpeg *.jif *.jfif *.pcx *.png *.pnm *.ppm *.pgm "
                         "*.ras *.sun *.rgb *.rgba *.bw *.sgi *.tga *.tif *.tiff *.xpm)",
                         "AVI Files (*.avi)", "MPEG Files (*.mpg *.mpe *.mpeg)"}));
}

// ---- the window

using MainWindowTest = apptest::WithStubWindow;

TEST_F(MainWindowTest, LoadLaysOutTheWindowAtFifteenTwipsPerPixel) {
  EXPECT_EQ(form->size(), QSize(640, 480));
  EXPECT_EQ(form->windowTitle(), "Quillon Studio");
  EXPECT_EQ(c->imgPreview->geometry(), QRect(0, 0, 203, 152));
  EXPECT_EQ(c->picSlider->height(), 67);
  EXPECT_EQ(c->picFrames->y(), c->Slider1->y());
  EXPECT_EQ(c->cboDepth->count(), 4);
  EXPECT_EQ(c->cboDepth->currentText(), "32-bit (16M + alpha)");
  for (QRadioButton* option : c->optDithering) EXPECT_FALSE(option->isEnabled());
  int formats = 0;
  for (QRadioButton* option : c->optFormat) formats += option != nullptr;
  EXPECT_EQ(formats, 23);
  EXPECT_EQ(c->optFormat[16], nullptr);
  EXPECT_EQ(c->optFormat[24]->text(), "XPM");
  EXPECT_EQ(c->imgPreview->toolTip(), "Double click to view");
  EXPECT_FALSE(c->Slider1->isEnabled());
  EXPECT_FALSE(c->picSlider->isVisibleTo(form.get()));
  EXPECT_TRUE(c->Label3->text().isEmpty());  // no source yet
  EXPECT_FALSE(c->txtOutWidth->isEnabled());
}

TEST_F(MainWindowTest, OpeningAStillShowsItsPropertiesAndPreview) {
  modMain::ImageEdited = true;
  modMain::EditedImagePath = "x";
  c->mnuUndo->setEnabled(true);
  const QString path = Open("still.bmp", apptest::StillInfo(64, 48, 24));

  ASSERT_EQ(dialogs.fileRequests.size(), 1u);
  EXPECT_EQ(dialogs.fileRequests[0].title, "Open");
  EXPECT_EQ(dialogs.fileRequests[0].filters, frmImage::OpenFilters());
  EXPECT_EQ(c->txtSource->text(), path);
  EXPECT_EQ(c->txtSource->toolTip(), path);
  EXPECT_TRUE(c->mnuEdit->isEnabled());
  EXPECT_FALSE(modMain::ImageEdited);
  EXPECT_TRUE(modMain::EditedImagePath.isEmpty());
  EXPECT_FALSE(c->mnuUndo->isEnabled());
  EXPECT_FALSE(form->bInit);

  EXPECT_EQ(c->Label3->text(), "Single Frame Image");
  EXPECT_FALSE(c->Slider1->isEnabled());
  EXPECT_FALSE(c->picSlider->isVisibleTo(form.get()));
  EXPECT_EQ(c->lblWidth->text(), "64");
  EXPECT_EQ(c->lblHeight->text(), "48");
  EXPECT_EQ(c->lblColorDepth->text(), "24");
  EXPECT_EQ(c->lblBPPDesc->text(), "-bit (16M colors)");
  EXPECT_EQ(c->cboDepth->currentText(), "24-bit (16M colors)");
  EXPECT_EQ(c->lblFormat->text(), "Windows Bitmap (*.bmp)");
  EXPECT_EQ(c->lblSize->text(), QString::number(54 + 64 * 48 * 3));
  EXPECT_EQ(c->lblRunTime->text(), "0");
  EXPECT_EQ(c->txtOutWidth->text(), "64");
  EXPECT_EQ(c->txtOutHeight->text(), "48");
  EXPECT_TRUE(c->txtOutWidth->isEnabled());
  EXPECT_TRUE(c->udHeight->isEnabled());

  // Frame 1 went through "temp_p.bmp" in the data folder.
  const QString preview = AppDir() + "/temp_p.bmp";
  EXPECT_EQ(stub->Calls(),
            QStringList({"QorImgAlloc()", "QorImgLoadSingle(" + path + ",1)",
                         "QorImgSaveSingle(" + preview + ",1)", "QorImgFree()",
                         "QorGetFileInfo(" + path + ",0,0,0)", "QorGetLastError()"}));
  ASSERT_TRUE(form->HasPicture());
  const apptest::ImageDifference diff = apptest::Compare(
      c->imgPreview->pixmap().toImage(), apptest::RampPicture(64, 48), 0);
  EXPECT_EQ(diff.maxChannel, 0);
}

TEST_F(MainWindowTest, OpeningA250FrameMovieOffersItsFramesOnTheSlider) {
  const QString path = Open("movie.avi", apptest::MovieInfo(32, 24, 8, 250), {32, 24});
  EXPECT_EQ(c->Label3->text(), "250 Frame Movie");
  EXPECT_TRUE(c->Slider1->isEnabled());
  EXPECT_EQ(c->Slider1->minimum(), 1);
  EXPECT_EQ(c->Slider1->maximum(), 250);
  EXPECT_EQ(c->Slider1->value(), 1);
  EXPECT_TRUE(c->picSlider->isVisibleTo(form.get()));
  EXPECT_EQ(c->txtStart->text(), "1");
  EXPECT_EQ(c->txtEnd->text(), "250");
  EXPECT_EQ(c->udEnd->maximum(), 250);
  EXPECT_TRUE(c->optMovie[0]->isChecked());
  EXPECT_EQ(c->lblRunTime->text(), "10");
  EXPECT_EQ(c->cboDepth->currentText(), "8-bit (256 colors)");
  EXPECT_TRUE(c->optDithering[1]->isEnabled());

  // Releasing the slider (after a drag) loads the chosen frame; the
  // properties stay.
  c->Slider1->setSliderDown(true);
  c->Slider1->setValue(100);
  stub->Reset();
  modMain::ImageEdited = true;
  c->Slider1->setSliderDown(false);
  QTest::mouseRelease(c->Slider1, Qt::LeftButton);
  EXPECT_EQ(stub->Calls(),
            QStringList({"QorImgAlloc()", "QorImgLoadSingle(" + path + ",100)",
                         "QorImgSaveSingle(" + AppDir() + "/temp_p.bmp,1)", "QorImgFree()"}));
  EXPECT_TRUE(form->HasPicture());
  EXPECT_FALSE(modMain::ImageEdited);
  EXPECT_EQ(c->Label3->text(), "250 Frame Movie");

  // A source of a 15- or 16-bit depth has no entry in the depth list.
  Open("movie16.avi", apptest::MovieInfo(32, 24, 16, 250), {32, 24});
  EXPECT_TRUE(c->cboDepth->currentText().isEmpty());
  EXPECT_TRUE(c->lblBPPDesc->text().isEmpty());
}

TEST_F(MainWindowTest, AnUnreadableSourceClearsThePreviewAndTheProperties) {
  Open("good.bmp", apptest::StillInfo(64, 48, 24));
  ASSERT_TRUE(form->HasPicture());

  const QString bad = TempPath("bad.bmp");
  QFile file(bad);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("not a picture");
  file.close();
  stub->SetUnreadable(bad);
  dialogs.fileAnswers.push_back(bad);
  form->mnuOpen_Click();

  EXPECT_FALSE(form->HasPicture());
  EXPECT_TRUE(c->lblWidth->text().isEmpty());
  EXPECT_TRUE(c->lblFormat->text().isEmpty());
  // The library's reason instead of "Single Frame Image"; the depth list
  // keeps its choice.
  EXPECT_TRUE(c->Label3->text().isEmpty());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "The source file cannot be read.\nStub error 1000.");
  EXPECT_EQ(c->cboDepth->currentText(), "24-bit (16M colors)");
  EXPECT_FALSE(c->txtOutWidth->isEnabled());
  EXPECT_FALSE(c->udWidth->isEnabled());

  // A name that is no file at all removes the picture and keeps the labels.
  Open("good.bmp", apptest::StillInfo(64, 48, 24));
  form->ShowPreview(TempPath("gone.bmp"));
  EXPECT_FALSE(form->HasPicture());
  EXPECT_EQ(c->lblWidth->text(), "64");
}

TEST_F(MainWindowTest, SizeBoxesKeepTheSourceAspectRatio) {
  Open("vga.bmp", apptest::StillInfo(640, 480, 24), {640, 480});
  ASSERT_TRUE(c->chkRatio->isChecked());
  c->txtOutWidth->setText("320");
  EXPECT_EQ(c->txtOutHeight->text(), "240");
  c->txtOutHeight->setText("241");
  EXPECT_EQ(c->txtOutWidth->text(), "321");
  QTest::keyClicks(c->txtOutWidth, "0");  // 3210
  EXPECT_EQ(c->txtOutHeight->text(), "2408");  // 2407.5 goes to even
  c->txtOutWidth->setText("6");
  EXPECT_EQ(c->txtOutHeight->text(), "4");  // 4.5 goes to even

  c->txtOutHeight->setText("");
  c->txtOutWidth->setText("100");
  EXPECT_EQ(c->txtOutHeight->text(), "");  // an empty box is left alone
  c->txtOutHeight->setText("75");

  form->bInit = true;
  c->txtOutWidth->setText("640");
  EXPECT_EQ(c->txtOutHeight->text(), "75");
  form->bInit = false;
  c->chkRatio->setChecked(false);
  c->txtOutWidth->setText("640");
  EXPECT_EQ(c->txtOutHeight->text(), "75");

  // A source without a height: typing changes only the typed box.
  c->chkRatio->setChecked(true);
  Open("flat.bmp", apptest::StillInfo(640, 0, 24), {64, 48});
  c->txtOutWidth->setText("320");
  EXPECT_EQ(c->txtOutHeight->text(), "0");
}

TEST_F(MainWindowTest, FitLayoutCentresTheNaturalSizeAndShrinksWidePictures) {
  Open("small.bmp", apptest::StillInfo(200, 100, 24), {200, 100});
  QTest::mouseClick(c->optPreview[1], Qt::LeftButton);
  EXPECT_EQ(c->imgPreview->size(), QSize(200, 100));
  EXPECT_NEAR(c->imgPreview->x(), (203 - 200) / 2.0, 1);
  EXPECT_NEAR(c->imgPreview->y(), (152 - 100) / 2.0, 1);

  Open("wide.bmp", apptest::StillInfo(4000, 1000, 24), {400, 100});
  // Opening keeps the layout; choosing the option computes it.
  EXPECT_EQ(c->imgPreview->size(), QSize(200, 100));
  QTest::mouseClick(c->optPreview[0], Qt::LeftButton);
  EXPECT_EQ(c->imgPreview->geometry(), QRect(0, 0, 203, 152));
  QTest::mouseClick(c->optPreview[1], Qt::LeftButton);
  EXPECT_EQ(c->imgPreview->x(), 0);
  EXPECT_EQ(c->imgPreview->width(), 203);
  EXPECT_NEAR(c->imgPreview->height(), 203 / 4.0, 1);
  EXPECT_NEAR(c->imgPreview->y() + c->imgPreview->height() / 2.0, 152 / 2.0, 1);

  // The source button starts over with the stretched layout.
  form->tbOpen_ButtonClick();  // the dialog is cancelled
  EXPECT_TRUE(c->txtSource->text().isEmpty());
  EXPECT_TRUE(c->optPreview[0]->isChecked());
  EXPECT_EQ(c->imgPreview->geometry(), QRect(0, 0, 203, 152));
  EXPECT_FALSE(form->HasPicture());
}

TEST_F(MainWindowTest, RightClickOnThePreviewShowsTheFileMenuWithoutExit) {
  form->show();
  QTest::mouseClick(c->imgPreview, Qt::RightButton);
  EXPECT_TRUE(c->mnuHiddenFile->isVisible());
  EXPECT_FALSE(c->mnuExit->isVisible());
  c->mnuHiddenFile->close();
  form->Toolbar1_ButtonClick(1);
  EXPECT_TRUE(c->mnuHiddenFile->isVisible());
  EXPECT_TRUE(c->mnuExit->isVisible());
  c->mnuHiddenFile->close();
  form->Toolbar1_ButtonClick(9);
  EXPECT_TRUE(c->mnuHiddenHelp->isVisible());
  c->mnuHiddenHelp->close();

  // Double click hands the preview's picture to the full-screen viewer.
  QSize handedOver;
  frmImage::Form::SetFullScreenOpener(
      [&](frmImage::Form*, const QPixmap& picture) { handedOver = picture.size(); });
  QTest::mouseDClick(c->imgPreview, Qt::LeftButton);
  EXPECT_FALSE(handedOver.isValid());  // no picture yet
  Open("still.bmp", apptest::StillInfo(64, 48, 24));
  QTest::mouseDClick(c->imgPreview, Qt::LeftButton);
  EXPECT_EQ(handedOver, QSize(64, 48));
  frmImage::Form::SetFullScreenOpener(nullptr);
}

TEST_F(MainWindowTest, AMissingLibraryOrExportIsShownByTheHandlerThatNeededIt) {
  Stub partial(true);
  Open("still.bmp", apptest::StillInfo(64, 48, 24));
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_TRUE(dialogs.messages[0].text.contains("QorGetFileInfo"));
  EXPECT_EQ(dialogs.messages[0].icon, AppDialogs::Icon::Critical);
  EXPECT_FALSE(form->bInit);
  EXPECT_TRUE(form->HasPicture());  // the image exports were there

  LibQor::Unload();
  qputenv("QUILLON_LIBQOR", TempPath("nowhere/libqor-2.8.0.so").toLocal8Bit());
  form->Slider1_MouseUp();
  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_TRUE(dialogs.messages[1].text.contains("cannot be loaded"));
}

}  // namespace
