// The main window's output side and the conversion drivers: their rules, and
// the window over the recording stand-in of the library (exact call
// sequences, checks and messages, the frame range and its cancel).
#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include "AppTestSupport.h"
#include "Convert.h"
#include "DepthRules.h"
#include "frmImage.h"
#include "modMain.h"

namespace {

using apptest::AppTest;
using apptest::Stub;

// ---- rules

TEST(ConvertRules, ExtensionsNamesAndDepths) {
  using modMain::ChangeExtension;
  EXPECT_EQ(ChangeExtension("/out/pic(1).bmp", "TIFF"), "/out/pic(1).tiff");
  EXPECT_EQ(ChangeExtension("/out/pic", "PNG"), "/out/pic.png");
  EXPECT_EQ(ChangeExtension("/out/pic.bmp", ".JPG"), "/out/pic.jpg");
  EXPECT_EQ(ChangeExtension("/my.dir/clip", "bmp"), "/my.dir/clip.bmp");

  const std::pair<const char*, int> endings[] = {
      {"a.bmp", 1},   {"a.dib", 2},  {"a.rle", 3},  {"a.kwb", 4},  {"a.jpg", 5},
      {"a.jpe", 6},   {"a.jpeg", 7}, {"a.jif", 8},  {"a.jfif", 9}, {"a.pcx", 10},
      {"a.png", 11},  {"a.pnm", 12}, {"a.ppm", 13}, {"a.pgm", 14}, {"a.ras", 15},
      {"a.rgb", 17},  {"a.rgba", 18}, {"a.bw", 19}, {"a.sgi", 20}, {"a.tga", 21},
      {"a.TIF", 22},  {"a.tiff", 23}, {"a.xpm", 24}, {"a.sun", 0}, {"/x/stiff", 0},
      {"a.mpg", 0},   {"", 0}};
  for (const auto& [name, format] : endings)
    EXPECT_EQ(frmImage::FormatForName(name), format) << name;

  using Convert::MakeSequenceName;
  EXPECT_EQ(MakeSequenceName("/out/clip.bmp", 7), "/out/clip_7.bmp");
  EXPECT_EQ(MakeSequenceName("/my.dir/clip", 7), "/my.dir/clip_7");
  EXPECT_EQ(MakeSequenceName("/out/a.b.tga", 12), "/out/a.b_12.tga");
  EXPECT_EQ(MakeSequenceName("/out/.hidden", 3), "/out/.hidden_3");

  EXPECT_EQ(DepthRules::Bits("32-bit (16M + alpha)"), 32);
  EXPECT_EQ(DepthRules::Bits("24-bit (16M colors)"), 24);
  EXPECT_EQ(DepthRules::Bits("15-bit (32k colors)"), 15);
  EXPECT_EQ(DepthRules::Bits("8-bit (256 colors)"), 8);
  EXPECT_EQ(DepthRules::Bits(""), 24);
  EXPECT_EQ(DepthRules::Bits("8-bit"), 24);

  // The library's progress reports as the window shows them.
  using Convert::ProgressPercent;
  using Convert::ProgressText;
  EXPECT_EQ(ProgressText(1, 0, 0, "", ""), "Preparing conversion...");
  EXPECT_EQ(ProgressText(2, 7, 0, "", ""), "Reducing colors, done frames: 7");
  EXPECT_EQ(ProgressText(3, 12, 4410, "", "00:01:05"),
            "Frame: 12, Sample: 4410, Time Left: 00:01:05");
  EXPECT_EQ(ProgressText(0, 30, 0, "00:00:03", ""), "Processing time: 00:00:03");
  EXPECT_EQ(ProgressText(9, 0, 0, "", ""), "Unrecognized status code");
  EXPECT_EQ(ProgressPercent(1, 0, 0, 30, 0), 0);
  EXPECT_EQ(ProgressPercent(3, 10, 0, 30, 44100), 33);
  EXPECT_EQ(ProgressPercent(3, 0, 22050, 0, 44100), 50);  // sound only
  EXPECT_EQ(ProgressPercent(2, 40, 0, 30, 0), 100);
  EXPECT_EQ(ProgressPercent(0, 0, 0, 0, 0), 100);

  EXPECT_EQ(frmImage::SaveFilters(2),
            QStringList({"Windows Bitmap (*.dib)", "Windows Bitmaps (*.bmp *.dib *.rle)"}));
  EXPECT_EQ(frmImage::SaveFilters(3)[0], "Windows Bitmap (*.rle)");
  EXPECT_EQ(frmImage::SaveFilters(21)[0], "Windows Bitmap (*.bmp)");
}

// ---- the window over the stand-in

class ConvertTest : public apptest::WithStubWindow {
 protected:
  void SetUp() override {
    WithStubWindow::SetUp();
    modMain::ImageEdited = false;
    modMain::EditedImagePath.clear();
  }
  // Opened, then the stand-in's record of calls starts afresh.
  QString Open(const QString& name, const LibQor::FileInfo& info, QSize size = {64, 48}) {
    const QString path = WithStubWindow::Open(name, info, size);
    stub->Reset();
    return path;
  }
  QStringList Texts() const {
    QStringList texts;
    for (const auto& shown : dialogs.messages) texts << shown.text;
    return texts;
  }
  // The calls of a handle driver up to the dialog, for source and output.
  static QStringList Configure(const QString& source, const QString& output, int w, int h,
                               int bpp, int dithering) {
    QStringList calls = {"QorAlloc()",
                         "QorAssignVideoSource(proc)",
                         "QorAssignVideoFunc(proc)",
                         "QorAssignAudioSource(proc)",
                         "QorAssignAudioFunc(proc)",
                         "QorAssignProgress(proc)",
                         "QorAssignError(proc)",
                         "QorListAlloc()",
                         "QorListAlloc()",
                         "QorListAdd(" + source + ",8,0,data)",
                         "QorGetLastError()",  // why the list may stay empty
                         "QorListAdd(,16,0,data)",
                         "QorListGetFrameCount()",
                         "QorListGetSampleCount()",
                         "QorSetOutputFile(" + output + ",)",
                         "QorSetFrameRate(29.970029970029969)",
                         "QorSetKeepDuration(1)",
                         QString("QorSetResolution(%1,%2)").arg(w).arg(h),
                         "QorSetCodec(11,1)",
                         "QorSetBitRate(11,1150)",
                         "QorSetAudioFormat(44100,2,16)",
                         "QorSetBitRate(18,224)",
                         QString("QorSetBpp(%1)").arg(bpp)};
    if (dithering >= 0) calls << QString("QorSetDithering(%1)").arg(dithering);
    // Sides of multiples of 16 only for the movie outputs, as the library
    // names the output's format.
    calls << "QorGetFileFmtID(" + output + ")"
          << QString("QorForceCompatibility(%1)").arg(output.endsWith(".mpg") ? 1 : 0);
    return calls;
  }
  static QStringList Caption(const QString& block, const QString& text) {
    return {"QorTextAlloc()",
            "QorTextSetFont(Arial,20,1)",
            "QorRGB(192,192,192)",
            "QorRGB(96,96,96)",
            "QorTextSetColor(12632256,6316128,8421504,1)",
            "QorTextShadow(2,1,1)",
            "QorTextOut(" + block + ",10,8," + text + ")",
            "QorTextFree()"};
  }
  static QStringList Pass(const QString& block, const QStringList& perFrame) {
    return QStringList({"QorListGetName(0)", "QorSrcSetFile(" + block + ")",
                        "QorListGetName(1)", "QorSrcFinished()", "QorListGetName(0)",
                        "QorSrcFinished()"}) +
           perFrame;
  }
  static QStringList Freed() { return {"QorListFree()", "QorListFree()", "QorFree()"}; }
  // The finished conversion's report: its processing time.
  static QStringList Finished() { return {"QorGetElapsedTime()", "QorMakeTimeStr(1.5)"}; }

};

TEST_F(ConvertTest, AStillConvertsWithEverySettingInOrderAndTheCaptionOnEveryPass) {
  const QString still = Open("still.bmp", apptest::StillInfo(64, 48, 24));
  const QString output = TempPath("out/still.png");
  c->txtOutput->setText(output);
  EXPECT_TRUE(c->optFormat[11]->isChecked());
  c->txtOutWidth->setText("32");  // keeps the ratio: 24
  c->cboDepth->setCurrentText("8-bit (256 colors)");
  c->optDithering[2]->setChecked(true);
  c->txtCaption->setText("Hello");
  form->RunConversion();

  EXPECT_TRUE(dialogs.messages.empty());
  // At 8 bits the library runs a palette pass and a writing pass; the lists
  // answer both from block 0 and the caption goes on every frame.
  const QStringList frame = Caption(still, "Hello");
  EXPECT_EQ(stub->Calls().join("\n").toStdString(),
            (Configure(still, output, 32, 24, 8, 2) +
             QStringList({"QorOutputDlg(list,Output File Settings,1)", "QorForceCompatibility(0)",
                          "QorConvert()"}) +
             Pass(still, frame) + Pass(still, frame) + Finished() +
             QStringList({"QorGetLastError()"}) + Freed())
                .join("\n")
                .toStdString());
}

TEST_F(ConvertTest, AMovieFrameIsExtractedFirstAndNothingConvertsWithoutConfirmation) {
  const QString movie = Open("movie.avi", apptest::MovieInfo(64, 48, 24, 5));
  const QString output = TempPath("frame.bmp");
  EXPECT_EQ(c->txtOutput->text(), modMain::DefaultPath + "/movie(1).bmp");
  c->txtOutput->setText(output);
  c->Slider1->setValue(3);
  stub->Reset();  // the preview of frame 3 is loaded
  // No dithering option chosen: the handle keeps its own.
  c->optDithering[0]->group()->setExclusive(false);
  c->optDithering[0]->setChecked(false);
  stub->SetDialogAnswer(0);
  Convert::ConvertFrame(form->ConversionRequest(), form->ConversionView());
  const QString temp = AppDir() + "/temp_2.bmp";
  EXPECT_EQ(stub->Calls().join("\n").toStdString(),
            (QStringList({"QorImgAlloc()", "QorImgLoadSingle(" + movie + ",3)",
                          "QorImgSaveSingle(" + temp + ",1)", "QorImgFree()"}) +
             Configure(temp, output, 64, 48, 24, -1) +
             QStringList({"QorOutputDlg(list,Output File Settings,1)", "QorGetLastError()"}) +
             Freed())
                .join("\n")
                .toStdString());

  // Nothing to convert: no dialog, no conversion, everything freed, and the
  // user is told why.
  stub->Reset();
  stub->SetListCounts(0, 0);
  Convert::ConvertFrame(form->ConversionRequest(), form->ConversionView());
  QStringList calls = stub->Calls();
  EXPECT_FALSE(calls.contains("QorOutputDlg(list,Output File Settings,1)"));
  EXPECT_FALSE(calls.contains("QorConvert()"));
  EXPECT_EQ(calls.mid(calls.size() - 3), Freed());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "The source file holds no pictures to convert.");
  dialogs.messages.clear();

  // The thumbnail driver: the same frame rule and the main window's caption,
  // the thumbnail window's name, size, depth and dithering.
  stub->Reset();
  c->txtCaption->setText("Tag");
  Convert::Request thumbnail = form->ConversionRequest();
  thumbnail.target = {TempPath("thumb.bmp"), "171", "128", "15-bit (32k colors)", 1};
  Convert::ConvertThumbnail(thumbnail, form->ConversionView());
  EXPECT_EQ(stub->Calls().join("\n").toStdString(),
            (QStringList({"QorImgAlloc()", "QorImgLoadSingle(" + movie + ",3)",
                          "QorImgSaveSingle(" + temp + ",1)", "QorImgFree()"}) +
             Configure(temp, TempPath("thumb.bmp"), 171, 128, 15, 1) +
             QStringList({"QorOutputDlg(list,Output File Settings,1)",
                          "QorForceCompatibility(0)", "QorConvert()"}) +
             Pass(temp, Caption(temp, "Tag")) + Finished() + QStringList({"QorGetLastError()"}) +
             Freed())
                .join("\n")
                .toStdString());
}

TEST_F(ConvertTest, FailuresAreShownAndConvertNothingOrKeepWhatWasWritten) {
  const QString movie = Open("movie.avi", apptest::MovieInfo(64, 48, 24, 5));
  c->txtOutput->setText(TempPath("x.bmp"));
  // The frame cannot be extracted: its error is shown, nothing converts.
  stub->SetUnreadable(movie);
  form->RunConversion();
  EXPECT_EQ(Texts(), QStringList({"Stub error 1000."}));
  EXPECT_FALSE(stub->Calls().contains("QorAlloc()"));

  // An output no writer knows ends in status 1, which is shown too.
  dialogs.messages.clear();
  stub->Reset();
  const QString still = Open("still.bmp", apptest::StillInfo(64, 48, 24));
  c->txtOutput->setText(TempPath("x.qqq"));
  stub->SetConvertResult(1);
  form->RunConversion();
  EXPECT_EQ(Texts(), QStringList({"Invalid output file."}));

  // An unreadable source is answered "stop and keep what was written".
  dialogs.messages.clear();
  stub->Reset();
  stub->SetConvertResult(0, true);
  form->RunConversion();
  EXPECT_TRUE(stub->Calls().contains("error answer 2"));
  EXPECT_TRUE(dialogs.messages.empty());

  // A failed output-settings dialog is not a Cancel: its error is shown and
  // nothing converts; a Cancel says nothing.
  for (const int status : {999, 1000}) {
    dialogs.messages.clear();
    stub->Reset();
    stub->SetDialogFailure(status);
    form->RunConversion();
    EXPECT_EQ(Texts(), QStringList({QString("Stub error %1.").arg(status)}));
    EXPECT_FALSE(stub->Calls().contains("QorConvert()"));
  }
  dialogs.messages.clear();
  stub->Reset();
  stub->SetDialogAnswer(0);
  form->RunConversion();
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_FALSE(stub->Calls().contains("QorConvert()"));

  // A width that is no number starts nothing.
  stub->Reset();
  c->chkRatio->setChecked(false);
  c->txtOutWidth->setText("wide");
  form->RunConversion();
  EXPECT_EQ(Texts(), QStringList({Convert::kSizeNotNumeric}));
  EXPECT_TRUE(stub->Calls().isEmpty());
  (void)still;
}

TEST_F(ConvertTest, TheConvertCommandChecksInOrderWithItsOwnTexts) {
  form->show();
  form->RunConversion();
  c->txtSource->setText(TempPath("gone.bmp"));
  form->RunConversion();
  const QString movie = Open("movie.avi", apptest::MovieInfo(64, 48, 24, 2));
  c->txtOutput->clear();
  form->RunConversion();
  EXPECT_EQ(Texts(), QStringList({"Please select your source file.", "Your source file is invalid.",
                                  "Please set your target file name and path."}));
  EXPECT_EQ(form->focusWidget(), c->txtOutput);

  dialogs.messages.clear();
  c->txtOutput->setText(TempPath("range.bmp"));
  QTest::mouseClick(c->optMovie[1], Qt::LeftButton);
  const std::pair<QString, QString> ranges[] = {{"a", "2"}, {"2", "1"}, {"0", "2"}, {"1", "3"}};
  QWidget* focus[4] = {};
  for (int i = 0; i < 4; ++i) {
    c->txtStart->setText(ranges[i].first);
    c->txtEnd->setText(ranges[i].second);
    form->RunConversion();
    focus[i] = form->focusWidget();
  }
  EXPECT_EQ(Texts(), QStringList({"Please enter numeric values for start and end frames.",
                                  "The ending frame must be higher than the start frame.",
                                  "Please enter a number between 1 and 2,",
                                  "Please enter a number between 1 and 2,"}));
  EXPECT_EQ(focus[2], c->txtStart);
  EXPECT_EQ(focus[3], c->txtEnd);
  EXPECT_TRUE(stub->Calls().isEmpty());

  // 1..1 and 2..2 pass and write one numbered file each.
  dialogs.messages.clear();
  for (const char* frame : {"1", "2"}) {
    c->txtStart->setText(frame);
    c->txtEnd->setText(frame);
    form->RunConversion();
    EXPECT_TRUE(QFile::exists(TempPath(QString("range_%1.bmp").arg(frame))));
  }
  EXPECT_TRUE(dialogs.messages.empty());

  // Single frame with the edit mark: the edited picture is converted.
  QTest::mouseClick(c->optMovie[0], Qt::LeftButton);
  const QString edited = TempPath("modifiedimage.bmp");
  ASSERT_TRUE(apptest::SaveBmp(apptest::RampPicture(8, 8), edited));
  modMain::ImageEdited = true;
  modMain::EditedImagePath = edited;
  stub->Reset();
  form->RunConversion();
  EXPECT_TRUE(stub->Calls().contains("QorListAdd(" + edited + ",8,0,data)"));
  EXPECT_FALSE(stub->Calls().contains("QorImgLoadSingle(" + movie + ",1)"));
  modMain::ImageEdited = false;
}

TEST_F(ConvertTest, ARangeAsksOnceBeforeOverwritingAndCancelKeepsWhatWasWritten) {
  const QString movie = Open("movie.avi", apptest::MovieInfo(64, 48, 24, 9));
  const QString output = TempPath("seq/clip.bmp");
  QDir().mkpath(TempPath("seq"));
  c->txtOutput->setText(output);
  QTest::mouseClick(c->optMovie[1], Qt::LeftButton);
  c->txtStart->setText("2");
  c->txtEnd->setText("8");
  for (int f : {3, 5}) {
    QFile old(Convert::MakeSequenceName(output, f));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
  }

  // No: nothing changes on disk and the window stays unlocked.
  struct NoDialogs : apptest::ScriptedDialogs {
    AppDialogs::Answer Message(QWidget* w, const QString& t, const QString& cap,
                               AppDialogs::Buttons b, AppDialogs::Icon i) override {
      ScriptedDialogs::Message(w, t, cap, b, i);
      return b == AppDialogs::Buttons::YesNo ? AppDialogs::Answer::No : AppDialogs::Answer::Ok;
    }
  } no;
  AppDialogs::Install(&no);
  form->RunConversion();
  AppDialogs::Install(&dialogs);
  ASSERT_EQ(no.messages.size(), 1u);
  EXPECT_EQ(no.messages[0].text, "A file named " + Convert::MakeSequenceName(output, 3) +
                                     " already exists.\nDo you want to continue and "
                                     "over-write all existing files?");
  EXPECT_TRUE(stub->Calls().isEmpty());
  EXPECT_EQ(QDir(TempPath("seq")).entryList(QDir::Files).size(), 2);
  EXPECT_TRUE(c->Toolbar1->isEnabled());

  // Yes, then cancel once three frames are written: they stay, the rest is
  // not written, the window is restored.
  const QString label = c->Label3->text();
  bool lockedWhileRunning = false;
  QString progressLabel;
  int barWhileRunning = -1;
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    if (!c->cmdCancelSequence->isVisible() || modMain::CancelSequence) return;
    if (!QFile::exists(Convert::MakeSequenceName(output, 4))) return;
    lockedWhileRunning = !c->Toolbar1->isEnabled() && !c->txtStart->isEnabled() &&
                         !c->optMovie[0]->isEnabled() && !c->mnuHiddenFile->isEnabled();
    progressLabel = c->Label3->text();
    barWhileRunning = c->pbRange->value();
    c->cmdCancelSequence->click();
  });
  watcher.start(0);
  form->show();
  form->RunConversion();
  watcher.stop();
  ASSERT_EQ(dialogs.messages.size(), 1u);  // the question, asked once
  EXPECT_TRUE(lockedWhileRunning);
  EXPECT_EQ(progressLabel, "Frame 3 of 7");
  EXPECT_EQ(barWhileRunning, 43);
  for (int f = 2; f <= 8; ++f)
    EXPECT_EQ(QFile::exists(Convert::MakeSequenceName(output, f)), f <= 4 || f == 5) << f;
  QFile five(Convert::MakeSequenceName(output, 5));
  ASSERT_TRUE(five.open(QIODevice::ReadOnly));
  EXPECT_EQ(five.readAll(), "old");  // never reached after the cancel
  EXPECT_EQ(stub->Calls().filter("QorImgSaveSingle").size(), 3);
  EXPECT_EQ(stub->Calls()[2], "QorImgSaveSingle(" + Convert::MakeSequenceName(output, 2) +
                                  ",-1357902468)");
  EXPECT_TRUE(c->Toolbar1->isEnabled());
  EXPECT_TRUE(c->txtEnd->isEnabled());
  EXPECT_FALSE(c->cmdCancelSequence->isVisible());
  EXPECT_EQ(c->pbRange->value(), c->pbRange->minimum());
  EXPECT_EQ(c->Label3->text(), label);
  EXPECT_EQ(QImage(Convert::MakeSequenceName(output, 3)).size(), QSize(64, 48));
  (void)movie;

  // 5..5 (its file is there) asks before it writes one file; its label
  // counts frame 1 of 1 and the bar is full.
  dialogs.messages.clear();
  c->txtStart->setText("5");
  c->txtEnd->setText("5");
  QObject::disconnect(&watcher, nullptr, nullptr, nullptr);
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    if (!c->cmdCancelSequence->isVisible()) return;
    progressLabel = c->Label3->text();
    barWhileRunning = c->pbRange->value();
  });
  watcher.start(0);
  form->RunConversion();
  watcher.stop();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_TRUE(dialogs.messages[0].text.contains(Convert::MakeSequenceName(output, 5)));
  EXPECT_EQ(progressLabel, "Frame 1 of 1");
  EXPECT_EQ(barWhileRunning, 100);
  EXPECT_EQ(QImage(Convert::MakeSequenceName(output, 5)).size(), QSize(64, 48));
}

TEST_F(ConvertTest, OutputNamesFollowTheFormatOptionsAndTheSaveDialog) {
  QDir().mkpath(modMain::DefaultPath);
  QFile taken(modMain::DefaultPath + "/clip(1).bmp");
  ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
  taken.close();
  Open("clip.avi", apptest::MovieInfo(64, 48, 24, 3));
  EXPECT_EQ(c->txtOutput->text(), modMain::DefaultPath + "/clip(2).bmp");
  // While the name is the proposal, a format change takes the first free
  // counter of the new extension.
  QTest::mouseClick(c->optFormat[2], Qt::LeftButton);
  EXPECT_EQ(form->ConvertInputName("/f"), "/f/clip(1).dib");
  EXPECT_EQ(c->txtOutput->text(), modMain::DefaultPath + "/clip(1).dib");
  QTest::mouseClick(c->optFormat[23], Qt::LeftButton);
  EXPECT_EQ(c->txtOutput->text(), modMain::DefaultPath + "/clip(1).tiff");
  EXPECT_EQ(form->ConvertInputName("/f"), "/f/clip(1).bmp");

  c->txtOutput->setText("/out/pic.JPG");
  EXPECT_TRUE(c->optFormat[5]->isChecked());
  EXPECT_EQ(c->txtOutput->text(), "/out/pic.jpg");
  c->txtOutput->setText("/out/pic.sun");
  EXPECT_TRUE(c->optFormat[5]->isChecked());
  EXPECT_EQ(c->txtOutput->text(), "/out/pic.sun");

  // The save dialog: its filters, the sizes set back, and Cancel empties.
  c->chkRatio->setChecked(false);
  c->txtOutWidth->setText("10");
  c->txtOutput->setText("/out/pic.rle");  // a typed name chooses the option
  dialogs.fileAnswers.push_back(TempPath("new.rle"));
  form->Toolbar1_ButtonClick(4);
  EXPECT_EQ(c->txtOutput->text(), TempPath("new.rle"));
  EXPECT_EQ(c->txtOutWidth->text(), "64");
  ASSERT_FALSE(dialogs.fileRequests.empty());
  EXPECT_EQ(dialogs.fileRequests.back().title, "Set Target File");
  EXPECT_EQ(dialogs.fileRequests.back().filters, frmImage::SaveFilters(3));
  c->tbSave->click();
  EXPECT_TRUE(c->txtOutput->text().isEmpty());

  // A source that is gone proposes nothing.
  QFile::remove(c->txtSource->text());
  EXPECT_TRUE(form->ConvertInputName("/f").isEmpty());
}

TEST_F(ConvertTest, DepthRangeModeAndEditMarkControls) {
  Open("clip.avi", apptest::MovieInfo(64, 48, 24, 3));
  form->show();
  c->cboDepth->setFocus();
  QTest::keyClick(c->cboDepth, Qt::Key_End);
  QTest::keyClick(c->cboDepth, Qt::Key_E);
  EXPECT_EQ(c->cboDepth->currentText(), "24-bit (16M colors)");
  QTest::keyClick(c->cboDepth, Qt::Key_Down);
  QTest::keyClick(c->cboDepth, Qt::Key_Down);
  EXPECT_EQ(c->cboDepth->currentText(), "8-bit (256 colors)");
  EXPECT_TRUE(c->optDithering[1]->isEnabled());

  c->chkRatio->setChecked(false);
  c->txtOutWidth->setText("20");
  QTest::mouseClick(c->optMovie[1], Qt::LeftButton);
  EXPECT_EQ(c->txtOutWidth->text(), "64");
  for (QWidget* w : {static_cast<QWidget*>(c->txtOutWidth), static_cast<QWidget*>(c->txtCaption),
                     static_cast<QWidget*>(c->cboDepth), static_cast<QWidget*>(c->optDithering[1]),
                     static_cast<QWidget*>(c->chkRatio)})
    EXPECT_FALSE(w->isEnabled());
  EXPECT_TRUE(c->picFrames->isVisible());
  EXPECT_FALSE(c->Slider1->isVisible());
  QTest::mouseClick(c->optMovie[0], Qt::LeftButton);
  EXPECT_TRUE(c->cboDepth->isEnabled());
  EXPECT_TRUE(c->optDithering[1]->isEnabled());
  EXPECT_FALSE(c->picFrames->isVisible());

  // The editor opens from the menu (clearing the mark) and from the
  // toolbars (keeping it); Undo shows the source again and clears it.
  int opened = 0;
  frmImage::Form::SetWindowOpener(frmImage::Form::Window::Editor, [&](frmImage::Form*) { ++opened; });
  modMain::ImageEdited = true;
  c->mnuUndo->setEnabled(true);
  form->Toolbar1_ButtonClick(7);
  EXPECT_TRUE(modMain::ImageEdited);
  EXPECT_FALSE(c->mnuUndo->isEnabled());
  form->Toolbar2_ButtonClick(2);
  EXPECT_TRUE(modMain::ImageEdited);
  c->mnuEdit->trigger();
  EXPECT_FALSE(modMain::ImageEdited);
  EXPECT_EQ(opened, 3);
  modMain::ImageEdited = true;
  modMain::EditedImagePath = "edited";
  stub->Reset();
  stub->SetFileInfo(apptest::MovieInfo(64, 48, 24, 3));
  c->mnuUndo->setEnabled(true);
  c->mnuUndo->trigger();
  EXPECT_FALSE(modMain::ImageEdited);
  EXPECT_TRUE(modMain::EditedImagePath.isEmpty());
  EXPECT_TRUE(stub->Calls().contains("QorImgLoadSingle(" + c->txtSource->text() + ",1)"));
  frmImage::Form::SetWindowOpener(frmImage::Form::Window::Editor, nullptr);

  // The thumbnail command proposes its name in the thumbnail folder.
  int thumbs = 0;
  frmImage::Form::SetWindowOpener(frmImage::Form::Window::ThumbnailSaver,
                                  [&](frmImage::Form*) { ++thumbs; });
  form->Toolbar2_ButtonClick(1);
  EXPECT_EQ(thumbs, 1);
  EXPECT_EQ(c->txtThumbPath->text(), modMain::ThumbDir + "/clip(1).bmp");
  c->txtSource->clear();
  c->mnuThumbnail->trigger();
  EXPECT_EQ(thumbs, 1);
  EXPECT_EQ(Texts(), QStringList({"Please select your source file."}));
  frmImage::Form::SetWindowOpener(frmImage::Form::Window::ThumbnailSaver, nullptr);
}

}  // namespace
