// The image viewer's grid of a folder and the thumbnail-saving window,
// through the real windows and the real library; ImageMagick makes the
// pictures and reads them back as the reference.

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>

#include "AppTestSupport.h"
#include "AutoPic.h"
#include "UpDown.h"
#include "frmFullScreen.h"
#include "frmImage.h"
#include "frmSetThumbs.h"
#include "frmThumbs.h"
#include "modMain.h"

namespace {

using apptest::AppTest;

class RealLibrary : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    const std::string missing = BindRealLibrary({"QorImgAlloc", "QorImgFree", "QorImgLoadSingle", "QorImgSaveSingle"});
    if (!missing.empty()) GTEST_SKIP() << "the library does not export " << missing;
    QDir().mkpath(AppDir() + "/thumbs");
  }

  static bool HasConvert() { return !QStandardPaths::findExecutable("convert").isEmpty(); }

  // A picture file written by ImageMagick from a ramp, and ImageMagick's own
  // reading of that file.
  QImage MakePicture(const QString& file, int width, int height) {
    const QString source = TempPath("source.png");
    apptest::RampPicture(width, height).save(source);
    QStringList args = {source, "-type", "TrueColor"};
    // The library reads (and writes) TGA rows stored from the bottom upside
    // down; the grid is shown with TGA files stored from the top.
    if (file.endsWith(".tga")) args << "-orient" << "TopLeft";
    if (!apptest::RunPeer("convert", args << file)) return QImage();
    const QString reference = TempPath("reference.png");
    if (!apptest::RunPeer("convert", {file, reference})) return QImage();
    return QImage(reference).convertToFormat(QImage::Format_RGB32);
  }

  // Waits while the grid loads; false after a minute.
  static bool WaitForLoad(frmThumbs::Form& viewer) {
    for (int i = 0; i < 6000; ++i) {
      QTest::qWait(10);
      if (!viewer.LoadingThumbs && !viewer.Timer1->isActive() &&
          !viewer.lblImages->text().startsWith("Loading"))
        return true;
    }
    return false;
  }

  // Runs action when the load has loaded count pictures.
  static void AtLoaded(frmThumbs::Form& viewer, int count, std::function<void()> action) {
    auto* poll = new QTimer(&viewer);
    poll->setInterval(0);
    QObject::connect(poll, &QTimer::timeout, [&viewer, poll, count, action] {
      if (viewer.LoadingThumbs && viewer.lblImages->text() == QString("Loading %1 of 10").arg(count) &&
          static_cast<int>(viewer.AutoPic1.size()) == count && !viewer.AutoPic1.back()->Tag.isEmpty()) {
        poll->stop();
        action();
      }
    });
    poll->start();
  }

  QString MakeFolderOfTen() {
    const QString folder = TempPath("ten");
    QDir().mkpath(folder);
    for (int i = 0; i < 10; ++i)
      apptest::SaveBmp(apptest::RampPicture(40 + i, 30), folder + QString("/p%1.bmp").arg(i));
    return folder;
  }
};

TEST_F(RealLibrary, GridOfFortyPicturesInEightFormatsAndATgaFullScreen) {
  if (!HasConvert()) GTEST_SKIP() << "no ImageMagick";
  const QString folder = TempPath("pictures");
  QDir().mkpath(folder);
  const QStringList formats = {"bmp", "tga", "pcx", "JPG", "png", "tif", "ppm", "sgi"};
  std::vector<QImage> references;
  QStringList names;
  for (int k = 0; k < 40; ++k) {
    const QString name = QString("pic%1.%2").arg(k, 2, 10, QChar('0')).arg(formats[k % 8]);
    references.push_back(MakePicture(folder + "/" + name, 60 + k * 3, 40 + (k % 5) * 10));
    ASSERT_FALSE(references.back().isNull()) << name.toStdString();
    names << name;
  }
  QFile notAPicture(folder + "/notes.txt");
  ASSERT_TRUE(notAPicture.open(QIODevice::WriteOnly));
  notAPicture.close();
  modMain::SaveSetting("PicDir", folder);
  modMain::SaveSetting("ThumbHeight", "200");

  frmThumbs::Form viewer(nullptr);
  viewer.show();
  ASSERT_TRUE(WaitForLoad(viewer));
  // The title names the folder on show.
  EXPECT_EQ(viewer.windowTitle(), "Thumbnails: " + folder);
  EXPECT_EQ(viewer.lblImages->text(), "40 supported images");
  EXPECT_EQ(viewer.File1.Files, names);  // ".JPG" matches, the text file does not
  ASSERT_EQ(viewer.ListView1->count(), 40);
  EXPECT_EQ(viewer.ListView1->item(3)->text(), "pic03.JPG");
  EXPECT_FALSE(viewer.Image1->isVisible());  // "Cancel Load" only while loading
  ASSERT_EQ(viewer.AutoPic1.size(), 40u);

  // Every picture decoded by the library, pixel for pixel as ImageMagick
  // reads it (JPEG within rounding of the decoders).
  for (int k = 0; k < 40; ++k) {
    const AutoPic::Control* pic = viewer.AutoPic1[k];
    EXPECT_EQ(pic->Tag, folder + "/" + names[k]);
    EXPECT_TRUE(pic->isVisibleTo(&viewer));
    EXPECT_EQ(pic->size(), QSize(171, 200));
    const apptest::ImageDifference diff = apptest::Compare(pic->picSource(), references[k], 6);
    EXPECT_LE(diff.shareOver, 0.001) << names[k].toStdString() << " max " << diff.maxChannel;
  }
  // Rows of equal columns, 15 twips apart; the first row at 30 twips.
  const int columns = [&] {
    int n = 1;
    while (viewer.AutoPic1[n]->y() == viewer.AutoPic1[0]->y()) ++n;
    return n;
  }();
  EXPECT_GE(columns, 2);
  EXPECT_EQ(viewer.AutoPic1[0]->y(), modMain::Px(30));
  EXPECT_EQ(viewer.AutoPic1[1]->x(), viewer.AutoPic1[0]->x() + 171 + 1);
  const int rows = (40 + columns - 1) / columns;
  const double rowPitch = 200 * 15 + 15;
  EXPECT_EQ(viewer.AutoPic1[39]->y(), modMain::Px(30 + (rows - 1) * rowPitch));
  EXPECT_EQ(viewer.picBack->height(), modMain::Px(30 + rows * rowPitch));
  // The vertical range covers the whole grid, far beyond 32767 twips.
  EXPECT_GT(viewer.VScroll1->maximum(), 32767);
  viewer.VScroll1->setValue(viewer.VScroll1->maximum());
  EXPECT_NEAR(viewer.picBack->geometry().bottom() + 1,
              std::min(viewer.HScroll1->y(), viewer.height()), 1);
  viewer.VScroll1->setValue(0);

  // A TGA opens full screen through the library, and its list entry is
  // selected.
  bool shown = false;
  apptest::WithViewer([&](frmFullScreen::Form* full) {
    shown = true;
    // In front of the image viewer, with the keyboard.
    EXPECT_TRUE(QTest::qWaitFor([full] { return QApplication::activeWindow() == full; }, 2000));
    EXPECT_EQ(full->txtImagePath->text(), folder + "/pic01.tga");
    EXPECT_EQ(apptest::Compare(full->Picture1->pixmap().toImage(), references[1], 0).maxChannel, 0);
    EXPECT_EQ(viewer.ListView1->currentRow(), 1);
  });
  QTest::mouseClick(viewer.AutoPic1[1]->Image1(), Qt::LeftButton);
  EXPECT_TRUE(shown);

  viewer.close();
  EXPECT_EQ(modMain::GetSetting("PicDir", ""), folder);
}

TEST_F(RealLibrary, CancelClosingAndAnEmptyFolder) {
  const QString folder = MakeFolderOfTen();
  modMain::SaveSetting("PicDir", folder);
  frmThumbs::Form viewer(nullptr);
  viewer.show();
  AtLoaded(viewer, 3, [&] { viewer.Image1->click(); });
  ASSERT_TRUE(WaitForLoad(viewer));
  EXPECT_EQ(viewer.lblImages->text(), "Loaded 3 of 10");
  EXPECT_EQ(viewer.AutoPic1.size(), 3u);
  EXPECT_FALSE(viewer.AutoPic1[2]->picSource().isNull());

  // Closing during a load stops it and leaves the window open.
  AtLoaded(viewer, 2, [&] { viewer.close(); });
  viewer.Toolbar1_ButtonClick(2);  // "Refresh"
  EXPECT_EQ(viewer.lblImages->text(), "Loaded 2 of 10");
  EXPECT_TRUE(viewer.isVisible());

  // "Show" opens the selected entry full screen; "Load" there hands it to
  // the main window and closes both viewers.
  frmImage::Form main;
  frmThumbs::Form fromMain(&main);
  fromMain.show();
  ASSERT_TRUE(WaitForLoad(fromMain));
  EXPECT_EQ(fromMain.lblImages->text(), "10 supported images");
  modMain::ImageEdited = true;
  modMain::EditedImagePath = "edited.bmp";
  main.controls().mnuUndo->setEnabled(true);
  fromMain.ListView1->setCurrentRow(4);
  bool loaded = false;
  apptest::WithViewer([&](frmFullScreen::Form* full) {
    loaded = true;
    full->tbTop_ButtonClick(4);
  });
  fromMain.Toolbar1_ButtonClick(1);
  ASSERT_TRUE(loaded);
  const frmImage::Controls& c = main.controls();
  EXPECT_EQ(c.txtSource->text(), folder + "/p4.bmp");
  EXPECT_FALSE(modMain::ImageEdited);
  EXPECT_TRUE(modMain::EditedImagePath.isEmpty());
  EXPECT_FALSE(c.mnuUndo->isEnabled());
  EXPECT_FALSE(main.bInit);
  EXPECT_EQ(c.lblWidth->text(), "44");
  EXPECT_TRUE(main.HasPicture());
  // Proposed in the default output folder, not inside the picture's path.
  EXPECT_EQ(c.txtOutput->text(), modMain::DefaultPath + "/p4(1).bmp");
  EXPECT_FALSE(fromMain.isVisible());

  // An empty folder: no pictures, the first frame shown empty.
  const QString empty = TempPath("empty");
  QDir().mkpath(empty);
  viewer.SetCurrentFolder(empty);
  EXPECT_EQ(viewer.lblImages->text(), "No supported images");
  ASSERT_TRUE(WaitForLoad(viewer));
  EXPECT_EQ(viewer.lblImages->text(), "0 supported images");
  EXPECT_EQ(viewer.AutoPic1.size(), 1u);
  EXPECT_TRUE(viewer.AutoPic1[0]->isVisible());
  EXPECT_TRUE(viewer.AutoPic1[0]->picSource().isNull());
  viewer.close();
  EXPECT_EQ(modMain::GetSetting("PicDir", ""), empty);
}

TEST_F(RealLibrary, ListGridTreeAndTitleNameTheSameFolderAfterChangesAndDuringALoad) {
  const QString ten = MakeFolderOfTen();
  const QString other = TempPath("other");
  QDir().mkpath(other);
  for (int i = 0; i < 3; ++i)
    apptest::SaveBmp(apptest::RampPicture(60 + i, 30), other + QString("/q%1.bmp").arg(i));
  modMain::SaveSetting("PicDir", ten);
  frmThumbs::Form viewer(nullptr);
  viewer.show();
  ASSERT_TRUE(WaitForLoad(viewer));
  const auto agree = [&viewer](const QString& folder) {
    EXPECT_EQ(viewer.CurrentFolder(), folder);
    EXPECT_EQ(viewer.windowTitle(), "Thumbnails: " + folder);
    ASSERT_EQ(viewer.ListView1->count(), static_cast<int>(viewer.AutoPic1.size()));
    for (int i = 0; i < viewer.ListView1->count(); ++i)
      EXPECT_EQ(viewer.AutoPic1[i]->Tag, folder + "/" + viewer.ListView1->item(i)->text()) << i;
  };
  // "Show" on a list entry opens that entry's own picture.
  const auto shown = [&viewer](int row) {
    QString path;
    viewer.ListView1->setCurrentRow(row);
    apptest::WithViewer([&](frmFullScreen::Form* full) { path = full->txtImagePath->text(); });
    viewer.Toolbar1_ButtonClick(1);
    return path;
  };

  // A file added before "Refresh", one removed before the window widens.
  ASSERT_TRUE(apptest::SaveBmp(apptest::RampPicture(20, 20), ten + "/a-first.bmp"));
  viewer.Toolbar1_ButtonClick(2);
  agree(ten);
  EXPECT_EQ(shown(3), ten + "/p2.bmp");
  ASSERT_TRUE(QFile::remove(ten + "/p0.bmp"));
  viewer.resize(viewer.width() + 600, viewer.height());
  ASSERT_TRUE(WaitForLoad(viewer));
  agree(ten);
  EXPECT_EQ(shown(3), ten + "/p3.bmp");

  // A folder chosen in the tree while a load runs stops the load and takes
  // its place.
  AtLoaded(viewer, 2, [&] { viewer.SetCurrentFolder(other); });
  viewer.Toolbar1_ButtonClick(2);
  ASSERT_TRUE(WaitForLoad(viewer));
  agree(other);
  EXPECT_EQ(viewer.lblImages->text(), "3 supported images");
  EXPECT_EQ(shown(1), other + "/q1.bmp");
  viewer.close();
  EXPECT_EQ(modMain::GetSetting("PicDir", ""), other);
}

TEST_F(RealLibrary, AnUnreadablePictureShowsAnEmptyFrameAndAMessageInsteadOfTheViewer) {
  const QString folder = TempPath("broken");
  QDir().mkpath(folder);
  ASSERT_TRUE(apptest::SaveBmp(apptest::RampPicture(50, 40), folder + "/a.bmp"));
  QFile broken(folder + "/b.tga");
  ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
  broken.write(QByteArray(7, '\x01'));
  broken.close();
  modMain::SaveSetting("PicDir", folder);
  modMain::SaveSetting("ThumbWidth", "0");
  modMain::SaveSetting("ThumbHeight", "abc");
  frmThumbs::Form viewer(nullptr);
  viewer.show();
  ASSERT_TRUE(WaitForLoad(viewer));
  EXPECT_EQ(viewer.txtWidth->text(), "171");
  EXPECT_EQ(viewer.txtHeight->text(), "128");
  ASSERT_EQ(viewer.AutoPic1.size(), 2u);
  EXPECT_FALSE(viewer.AutoPic1[0]->picSource().isNull());
  EXPECT_TRUE(viewer.AutoPic1[1]->picSource().isNull());  // not a.bmp again
  viewer.AutoPic1_Click(1);
  EXPECT_EQ(frmFullScreen::Current(), nullptr);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_TRUE(dialogs.messages[0].text.contains("b.tga"));
  viewer.close();
}

TEST_F(RealLibrary, SplitterKeepsItsLimitsAndAWiderWindowGetsMoreColumns) {
  const QString folder = MakeFolderOfTen();
  modMain::SaveSetting("PicDir", folder);
  frmThumbs::Form viewer(nullptr);
  viewer.show();
  ASSERT_TRUE(WaitForLoad(viewer));
  double x = 100;
  viewer.SizeControls(x);
  EXPECT_EQ(x, 1500);
  EXPECT_EQ(viewer.ExplorerTree->width(), 100);
  EXPECT_EQ(viewer.picBack->x(), modMain::Px(1540));
  x = 99999;
  viewer.SizeControls(x);
  EXPECT_EQ(x, viewer.width() * 15 - 1500);
  x = 3000;
  viewer.SizeControls(x);

  const int columnsBefore = viewer.AutoPic1[1]->y() == viewer.AutoPic1[0]->y() ? 2 : 1;
  viewer.resize(viewer.width() + 400, viewer.height());
  ASSERT_TRUE(WaitForLoad(viewer));
  int columns = 1;
  while (columns < 10 && viewer.AutoPic1[columns]->y() == viewer.AutoPic1[0]->y()) ++columns;
  EXPECT_GT(columns, columnsBefore);
  EXPECT_EQ(viewer.lblImages->text(), "10 supported images");
  // Narrower: the grid stays and the horizontal bar shows its right part.
  viewer.resize(viewer.width() - 500, viewer.height());
  QTest::qWait(20);
  EXPECT_GT(viewer.HScroll1->maximum(), 0);
  EXPECT_LT(viewer.HScroll1->y(), viewer.height());
  viewer.HScroll1->setValue(viewer.HScroll1->maximum());
  EXPECT_NEAR(viewer.picBack->geometry().right() + 1,
              std::min(viewer.VScroll1->x(), viewer.width()), 1);
  viewer.close();
}

TEST_F(RealLibrary, ThePreviewsDoubleClickShowsItFullScreenAndLoadThereChangesNothing) {
  frmImage::Form main;
  const QString source = TempPath("in/sunset.bmp");
  ASSERT_TRUE(apptest::SaveBmp(apptest::RampPicture(96, 64), source));
  dialogs.fileAnswers.push_back(source);
  main.mnuOpen_Click();
  const frmImage::Controls& c = main.controls();
  const QString output = c.txtOutput->text();
  bool shown = false;
  apptest::WithViewer([&](frmFullScreen::Form* full) {
    shown = true;
    EXPECT_TRUE(full->txtImagePath->text().isEmpty());
    EXPECT_EQ(apptest::Compare(full->Picture1->pixmap().toImage(), apptest::RampPicture(96, 64), 0)
                  .maxChannel, 0);
    full->tbTop_ButtonClick(4);  // "Load" without a file only closes
    EXPECT_FALSE(full->isVisible());
  });
  main.show();
  QTest::mouseDClick(c.imgPreview, Qt::LeftButton);
  EXPECT_TRUE(shown);
  EXPECT_EQ(c.txtSource->text(), source);
  EXPECT_EQ(c.txtOutput->text(), output);
}

// ---- the thumbnail-saving window

TEST_F(RealLibrary, ThumbnailWindowSizesDepthFormatDefaultsAndFolder) {
  frmImage::Form main;
  const QString source = TempPath("in/sunset.bmp");
  ASSERT_TRUE(apptest::SaveBmp(apptest::RampPicture(320, 200), source));
  dialogs.fileAnswers.push_back(source);
  main.mnuOpen_Click();
  main.controls().txtThumbPath->setText(modMain::ThumbDir + "/sunset(1).bmp");

  frmSetThumbs::Form window(&main);
  EXPECT_EQ(window.windowTitle(), "Save Thumbnail");
  EXPECT_EQ(window.height(), modMain::Px(6945));
  EXPECT_EQ(window.txtThumbPath->text(), modMain::ThumbDir);
  EXPECT_EQ(window.cboDepth->currentText(), "32-bit (16M + alpha)");
  for (QRadioButton* option : window.optDithering) EXPECT_FALSE(option->isEnabled());
  // The same seven options as in the main window name extensions no writer
  // takes: offered disabled, saying why.
  int unwritable = 0;
  for (QRadioButton* option : window.optFormat) {
    const bool writes = !QStringList{"RLE", "JPE", "JIF", "JFIF", "PGM", "RGBA", "BW"}.contains(
        option->text());
    unwritable += writes ? 0 : 1;
    EXPECT_EQ(option->isEnabled(), writes) << option->text().toStdString();
    EXPECT_EQ(option->toolTip().isEmpty(), writes) << option->text().toStdString();
  }
  EXPECT_EQ(unwritable, 7);

  // Sizes: a box can be cleared and typed anew; when its editing ends,
  // anything not a number or above the limit becomes the limit, below one
  // pixel one; the picture takes the size, centred.
  const QString limit = QString::number(frmSetThumbs::kMaxThumbnailSide);
  for (const auto& [typed, kept] : std::vector<std::pair<QString, QString>>{
           {"abc", limit}, {"99999", limit}, {"0", "1"}, {"-5", "1"}, {"", limit}, {"64", "64"}}) {
    window.txtOutWidth->selectAll();
    QTest::keyClick(window.txtOutWidth, Qt::Key_Backspace);
    EXPECT_EQ(window.txtOutWidth->text(), "");
    QTest::keyClicks(window.txtOutWidth, typed);
    EXPECT_EQ(window.txtOutWidth->text(), typed) << "corrected while typed";
    QTest::keyClick(window.txtOutWidth, Qt::Key_Return);
    EXPECT_EQ(window.txtOutWidth->text(), kept) << typed.toStdString();
  }
  window.txtOutHeight->setText("99999");  // set, not typed: stands until editing ends
  EXPECT_EQ(window.txtOutHeight->text(), "99999");
  window.txtOutHeight->setText("48");
  EXPECT_EQ(window.Image1->size(), QSize(64, 48));
  EXPECT_NEAR(window.Image1->geometry().center().x(), window.Picture3->width() / 2.0, 1);
  window.udWidth->stepBy(1);
  EXPECT_EQ(window.txtOutWidth->text(), "65");

  window.cboDepth->setCurrentText("8-bit (256 colors)");
  for (QRadioButton* option : window.optDithering) EXPECT_TRUE(option->isEnabled());
  window.optDithering[2]->setChecked(true);
  window.cboDepth->setCurrentText("24-bit (16M colors)");
  EXPECT_TRUE(window.optDithering[0]->isChecked());
  for (QRadioButton* option : window.optDithering) EXPECT_FALSE(option->isEnabled());
  // Typing cannot change the depth; the arrow keys can.
  QTest::keyClick(window.cboDepth, Qt::Key_8);
  EXPECT_EQ(window.cboDepth->currentText(), "24-bit (16M colors)");

  // The proposed name takes a free counter for another format; a name the
  // user typed only changes its extension.
  QDir().mkpath(modMain::ThumbDir);
  QFile taken(modMain::ThumbDir + "/sunset(1).png");
  ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
  taken.close();
  window.ProposedOutput = modMain::ThumbDir + "/sunset(1).bmp";
  window.txtOutput->setText(window.ProposedOutput);
  window.optFormat[frmSetThumbs::FormatCaptions().indexOf("PNG")]->click();
  EXPECT_EQ(window.txtOutput->text(), modMain::ThumbDir + "/sunset(2).png");
  window.txtOutput->setText("/out/pic(1).jpg");
  window.optFormat[frmSetThumbs::FormatCaptions().indexOf("TIFF")]->click();
  EXPECT_EQ(window.txtOutput->text(), "/out/pic(1).tiff");
  window.txtOutput->setText("/out/noext");
  window.optFormat[frmSetThumbs::FormatCaptions().indexOf("TIFF")]->click();
  EXPECT_EQ(window.txtOutput->text(), "/out/noext.tiff");

  // "Set Default" stores the texts as typed; the next window proposes them.
  window.txtOutWidth->setText("90");
  window.txtOutHeight->setText("60");
  window.cmdDefault->click();
  EXPECT_EQ(modMain::GetSetting("ThumbWidth", ""), "90");
  EXPECT_EQ(modMain::GetSetting("ThumbHeight", ""), "60");

  // The folder picker: a folder that does not exist is ignored.
  dialogs.fileAnswers.push_back(TempPath("nowhere"));
  window.Command2_Click();
  EXPECT_EQ(window.txtThumbPath->text(), modMain::ThumbDir);
  EXPECT_EQ(dialogs.fileRequests.back().title, "Default Thumbnail Folder");
  const QString chosen = TempPath("chosen");
  QDir().mkpath(chosen);
  dialogs.fileAnswers.push_back(chosen);
  window.Command2_Click();
  EXPECT_EQ(window.txtThumbPath->text(), chosen);

  // "Convert" without a name is refused with the main window's text.
  window.txtOutput->clear();
  dialogs.messages.clear();
  window.tbMain_ButtonClick(2);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "Please set your target file name and path.");

  // "Cancel" empties the main window's thumbnail name and stores the folder.
  window.show();
  window.tbMain_ButtonClick(1);
  EXPECT_TRUE(main.controls().txtThumbPath->text().isEmpty());
  EXPECT_EQ(modMain::ThumbDir, chosen);
  EXPECT_EQ(modMain::GetSetting("ThumbDir", ""), chosen);
}

TEST_F(RealLibrary, ATypedFolderThatDoesNotExistIsReplacedInTheSettingsOnClose) {
  frmImage::Form main;
  const QString before = modMain::ThumbDir;
  frmSetThumbs::Form window(&main);
  window.show();
  window.txtThumbPath->setText(TempPath("gone"));
  window.close();
  EXPECT_EQ(modMain::GetSetting("ThumbDir", ""), AppDir() + "/thumbs");
  EXPECT_EQ(modMain::ThumbDir, before);
}

// The thumbnail command through the main window, over the recording
// stand-in: the window opens with the preview, the proposed name and the
// stored size, and "Convert" hands its own settings to the driver.
class ThumbnailCommandTest : public AppTest {};

TEST_F(ThumbnailCommandTest, TheCommandProposesTheStoredSizeAndConvertUsesTheWindowsSettings) {
  apptest::Stub stub;
  frmImage::Form main;
  const QString source = TempPath("in/sunset.bmp");
  ASSERT_TRUE(apptest::SaveBmp(apptest::RampPicture(64, 48), source));
  stub.SetFileInfo(apptest::StillInfo(64, 48, 24));
  dialogs.fileAnswers.push_back(source);
  main.mnuOpen_Click();
  modMain::SaveSetting("ThumbWidth", "90");
  modMain::SaveSetting("ThumbHeight", "60.4");
  const QString expectedName = modMain::ThumbDir + "/sunset(1).bmp";

  bool checked = false;
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* window = dynamic_cast<frmSetThumbs::Form*>(QApplication::activeModalWidget());
    if (!window) return;
    poll.stop();
    checked = true;
    EXPECT_EQ(window->txtOutput->text(), expectedName);
    EXPECT_EQ(window->txtOutWidth->text(), "90");
    EXPECT_EQ(window->txtOutHeight->text(), "60");  // as a whole number
    EXPECT_EQ(window->Image1->pixmap().size(), QSize(64, 48));
    EXPECT_EQ(window->Image1->size(), QSize(90, 60));
    window->cboDepth->setCurrentText("8-bit (256 colors)");
    window->optDithering[1]->setChecked(true);
    const QString thumb = TempPath("thumbs/small.png");
    window->txtOutput->setText(thumb);
    stub.Reset();
    // The library's progress shows in the main window behind, while this
    // window waits.
    const QString frameCount = main.controls().Label3->text();
    QStringList progress;
    apptest::EventSpy painted(main.controls().Label3, QEvent::Paint, [&] {
      if (window->cursor().shape() == Qt::WaitCursor)
        progress << main.controls().Label3->text();
    });
    window->tbMain_ButtonClick(2);
    progress.removeDuplicates();
    EXPECT_EQ(progress, QStringList({"Preparing conversion...", "Processing time: 00:00:01"}));
    EXPECT_EQ(main.controls().Label3->text(), frameCount);
    EXPECT_EQ(window->cursor().shape(), Qt::ArrowCursor);
    const QStringList calls = stub.Calls();
    EXPECT_TRUE(calls.contains("QorSetOutputFile(" + thumb + ",)"));
    EXPECT_TRUE(calls.contains("QorSetResolution(90,60)"));
    EXPECT_TRUE(calls.contains("QorSetBpp(8)"));
    EXPECT_TRUE(calls.contains("QorSetDithering(1)"));
    EXPECT_TRUE(calls.contains("QorConvert()"));
    EXPECT_EQ(main.controls().txtThumbPath->text(), thumb);
    EXPECT_TRUE(window->isVisible());  // stays open for the next one
    window->tbMain_ButtonClick(1);
  });
  poll.start();
  main.show();
  main.Toolbar2_ButtonClick(1);  // "Thumbnail"
  EXPECT_TRUE(checked);
  EXPECT_TRUE(main.controls().txtThumbPath->text().isEmpty());
}

}  // namespace
