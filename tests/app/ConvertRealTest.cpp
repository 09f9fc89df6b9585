// The conversion road end to end: the real main window drives the real
// library, the library's output-settings dialog is answered as a user would
// (its OK button pressed), and what was written is decoded by ffmpeg,
// ffprobe and ImageMagick. Skipped while an export is missing.

#include <cmath>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QProgressBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSlider>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include "AppTestSupport.h"
#include "Convert.h"
#include "frmImage.h"
#include "modMain.h"

namespace {

using apptest::AppTest;

constexpr const char* kExports[] = {
    "QorAlloc", "QorFree", "QorGetFileInfo", "QorGetLastError", "QorMakeErrorStr", "QorRGB",
    "QorImgAlloc", "QorImgFree", "QorImgLoadSingle", "QorImgSaveSingle", "QorListAlloc",
    "QorListFree", "QorListAdd", "QorListGetName", "QorListGetFrameCount",
    "QorListGetSampleCount", "QorSetOutputFile", "QorSetFrameRate", "QorSetKeepDuration",
    "QorSetResolution", "QorSetBpp", "QorSetDithering", "QorForceCompatibility",
    "QorSetAudioFormat", "QorSetCodec", "QorSetBitRate", "QorOutputDlg", "QorGetFileFmtID",
    "QorConvert",
    "QorAssignVideoSource", "QorAssignVideoFunc", "QorAssignAudioSource", "QorAssignAudioFunc",
    "QorAssignProgress", "QorAssignError", "QorSrcSetFile", "QorSrcFinished", "QorTextAlloc",
    "QorTextFree", "QorTextSetFont", "QorTextSetColor", "QorTextShadow", "QorTextOut",
    "QorGetElapsedTime", "QorGetRemainingTime", "QorMakeTimeStr"};

// How ImageMagick is told each output's format (its own guess by extension
// differs for .rle, .dib, .ras and the SGI names).
QString MagickPrefix(const QString& ext) {
  if (ext == "bmp" || ext == "dib" || ext == "rle") return "bmp";
  if (ext == "jpg" || ext == "jpe" || ext == "jpeg" || ext == "jif" || ext == "jfif") return "jpeg";
  if (ext == "rgb" || ext == "rgba" || ext == "bw" || ext == "sgi") return "sgi";
  if (ext == "ras") return "sun";
  if (ext == "pnm" || ext == "ppm" || ext == "pgm") return "pnm";
  return ext;
}

QString Output(const QString& program, const QStringList& args) {
  QProcess process;
  process.start(program, args);
  process.waitForFinished(-1);
  return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

// Peak signal-to-noise ratio of two pictures of one size, in dB.
double Psnr(const QImage& a, const QImage& b) {
  const QImage x = a.convertToFormat(QImage::Format_RGB32);
  const QImage y = b.convertToFormat(QImage::Format_RGB32);
  double sum = 0;
  for (int row = 0; row < x.height(); ++row)
    for (int col = 0; col < x.width(); ++col) {
      const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
      for (int d : {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)}) sum += d * d;
    }
  const double mse = sum / (3.0 * x.width() * x.height());
  return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

class ConvertRealTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    const std::string missing = BindRealLibrary({std::begin(kExports), std::end(kExports)});
    if (!missing.empty()) GTEST_SKIP() << "the library does not export " << missing;
    for (const char* peer : {"ffmpeg", "ffprobe", "convert"})
      if (QStandardPaths::findExecutable(peer).isEmpty()) GTEST_SKIP() << "no " << peer;
    form = std::make_unique<frmImage::Form>();
    c = &form->controls();
    // The user presses OK in the library's output-settings dialog.
    connect = QObject::connect(&answer, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal || modal->objectName() != "frmSet") return;
      dialogTitles << modal->windowTitle();
      if (auto* ok = modal->findChild<QPushButton*>("btnOK")) ok->click();
    });
    answer.start(5);
  }
  void TearDown() override {
    answer.stop();
    form.reset();
    AppTest::TearDown();
  }
  void Open(const QString& path) {
    dialogs.fileAnswers.push_back(path);
    form->mnuOpen_Click();
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages[0].text.toStdString();
  }
  // A 30-frame, 25 fps AVI of 64 x 48 pictures with a stereo tone.
  QString MakeMovie() {
    const QString movie = TempPath("clip.avi");
    EXPECT_TRUE(apptest::RunPeer(
        "ffmpeg", {"-nostdin", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=25", "-f",
                   "lavfi", "-i", "sine=frequency=440:sample_rate=44100", "-frames:v", "30",
                   "-t", "1.2", "-ac", "2", "-c:v", "rawvideo", "-pix_fmt", "bgr24", "-c:a",
                   "pcm_s16le", movie}));
    return movie;
  }
  // Frame n (1-based) of a movie as ffmpeg decodes it.
  QImage PeerFrame(const QString& movie, int n) {
    const QString file = TempPath(QString("peer%1.bmp").arg(n));
    EXPECT_TRUE(apptest::RunPeer("ffmpeg", {"-nostdin", "-v", "error", "-y", "-i", movie, "-vf",
                                            QString("select=eq(n\\,%1)").arg(n - 1), "-frames:v",
                                            "1", file}));
    return QImage(file);
  }
  // A written picture as a peer decodes it: ffmpeg for TGA and Sun raster
  // (this ImageMagick decodes run-length pictures of both differently from
  // ffmpeg and the library, which agree), ImageMagick for the rest.
  QImage PeerDecode(const QString& path) {
    const QString ext = QFileInfo(path).suffix().toLower();
    const QString decoded = path + ".decoded.png";
    const bool ok =
        ext == "tga" || ext == "ras"
            ? apptest::RunPeer("ffmpeg", {"-nostdin", "-v", "error", "-y", "-i", path, "-pix_fmt", "rgb24",
                                          decoded})
            : apptest::RunPeer("convert", {MagickPrefix(ext) + ":" + path, "-alpha", "off",
                                           "png24:" + decoded});
    return ok ? QImage(decoded) : QImage();
  }
  void Convert() {
    dialogs.messages.clear();
    form->RunConversion();
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages[0].text.toStdString();
  }

  std::unique_ptr<frmImage::Form> form;
  const frmImage::Controls* c = nullptr;
  QTimer answer;
  QMetaObject::Connection connect;
  QStringList dialogTitles;
};

TEST_F(ConvertRealTest, AMovieFrameBecomesAPictureWithItsPixelsAndTheCaptionIsDrawnOnIt) {
  const QString movie = MakeMovie();
  Open(movie);
  ASSERT_EQ(c->Label3->text(), "30 Frame Movie");
  c->Slider1->setValue(12);
  form->Slider1_MouseUp();
  c->txtOutput->setText(TempPath("frame12.png"));
  Convert();
  EXPECT_EQ(dialogTitles, QStringList({"Output File Settings"}));
  const QImage frame12(TempPath("frame12.png"));
  const QImage expected = PeerFrame(movie, 12);
  ASSERT_EQ(frame12.size(), QSize(64, 48));
  EXPECT_EQ(apptest::Compare(frame12, expected, 0).maxChannel, 0);
  // The conversion read the extracted frame.
  EXPECT_EQ(apptest::Compare(QImage(AppDir() + "/temp_2.bmp"), expected, 0).maxChannel, 0);

  c->txtCaption->setText("Hi");
  c->txtOutput->setText(TempPath("caption.png"));
  Convert();
  const QImage captioned(TempPath("caption.png"));
  ASSERT_EQ(captioned.size(), QSize(64, 48));
  int changedNearText = 0, changedElsewhere = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      const bool changed = captioned.pixel(x, y) != frame12.pixel(x, y);
      const bool nearText = x >= 8 && x < 40 && y >= 6 && y < 34;
      (nearText ? changedNearText : changedElsewhere) += changed;
    }
  EXPECT_GT(changedNearText, 40);
  EXPECT_EQ(changedElsewhere, 0);
  // Light grey glyphs with a dark grey outline.
  bool light = false, dark = false;
  for (int y = 6; y < 34; ++y)
    for (int x = 8; x < 40; ++x) {
      light = light || captioned.pixel(x, y) == qRgb(192, 192, 192);
      dark = dark || captioned.pixel(x, y) == qRgb(96, 96, 96);
    }
  EXPECT_TRUE(light);
  EXPECT_TRUE(dark);
}

TEST_F(ConvertRealTest, AStillAndAMovieFrameConvertToEveryOutputOption) {
  const QStringList kUnwritable = {"rle", "jpe", "jif", "jfif", "pgm", "rgba", "bw"};
  const QString still = TempPath("ramp.bmp");
  // Sides of multiples of 16 are kept by the forced compatibility.
  ASSERT_TRUE(apptest::SaveBmp(apptest::RampPicture(64, 48), still));
  const QString movie = MakeMovie();
  for (const QString& source : {still, movie}) {
    Open(source);
    const bool isMovie = source == movie;
    if (isMovie) c->Slider1->setValue(7);
    const QImage expected = isMovie ? PeerFrame(movie, 7) : QImage(still);
    QDir().mkpath(TempPath(isMovie ? "movie" : "still"));
    c->txtOutput->setText(TempPath(isMovie ? "movie/out.bmp" : "still/out.bmp"));
    for (int format = 1; format < 25; ++format) {
      if (!c->optFormat[format]) continue;
      const QString ext = c->optFormat[format]->text().toLower();
      const bool unwritable = kUnwritable.contains(ext);
      // The options for names that no writer of the library takes are
      // offered disabled, saying why.
      EXPECT_EQ(c->optFormat[format]->isEnabled(), !unwritable) << ext.toStdString();
      EXPECT_EQ(c->optFormat[format]->toolTip(),
                unwritable ? "The library writes no ." + ext + " files." : QString());
      if (unwritable)
        c->txtOutput->setText(modMain::ChangeExtension(c->txtOutput->text(), ext));
      else
        QTest::mouseClick(c->optFormat[format], Qt::LeftButton);
      const QString output = c->txtOutput->text();
      ASSERT_TRUE(output.endsWith("." + ext)) << output.toStdString();
      if (unwritable) {
        // Typed, such a name still ends as an invalid output, and the
        // window says so.
        EXPECT_TRUE(c->optFormat[format]->isChecked());
        dialogs.messages.clear();
        form->RunConversion();
        ASSERT_EQ(dialogs.messages.size(), 1u) << ext.toStdString();
        EXPECT_EQ(dialogs.messages[0].text, "Invalid output file.");
        EXPECT_FALSE(QFileInfo::exists(output));
        continue;
      }
      Convert();
      ASSERT_TRUE(QFileInfo::exists(output)) << output.toStdString();
      QImage decoded;
      if (ext == "kwb") {
        // No peer reads the library's own movie format: read it back here.
        LibQor::ScopedImage image;
        ASSERT_EQ(LibQor::QorImgLoadSingle(image.get(), output.toLocal8Bit().constData(), 1), 0);
        const QString bmp = output + ".bmp";
        ASSERT_EQ(LibQor::QorImgSaveSingle(image.get(), bmp.toLocal8Bit().constData(), 1), 0);
        decoded = QImage(bmp);
      } else {
        decoded = PeerDecode(output);
      }
      ASSERT_EQ(decoded.size(), expected.size()) << ext.toStdString();
      const bool grey = ext == "pgm" || ext == "bw";
      const bool lossy = ext.startsWith("jp") || ext.startsWith("jf") || ext == "jif";
      const QImage reference =
          grey ? expected.convertToFormat(QImage::Format_Grayscale8) : expected;
      const char* what = isMovie ? " of the movie frame" : " of the still";
      if (lossy) {
        // As close to the source as ImageMagick's own JPEG at the quality
        // the file says it was written with.
        const QString quality = Output("identify", {"-format", "%Q", output});
        const QString peerJpeg = output + ".peer.jpg";
        const QString sourceBmp = output + ".source.bmp";
        ASSERT_TRUE(expected.save(sourceBmp));
        ASSERT_TRUE(apptest::RunPeer("convert", {sourceBmp, "-quality", quality, peerJpeg}));
        EXPECT_GE(Psnr(decoded, reference), Psnr(QImage(peerJpeg), reference) - 1.0)
            << ext.toStdString() << what << " at quality " << quality.toStdString();
        continue;
      }
      const apptest::ImageDifference diff = apptest::Compare(
          grey ? decoded.convertToFormat(QImage::Format_Grayscale8) : decoded, reference, 0);
      EXPECT_EQ(diff.maxChannel, 0) << ext.toStdString() << what;
    }
  }
}

TEST_F(ConvertRealTest, TheWholeMovieConvertsToMpegWithTheDriversRatesAndARangeToNumberedTga) {
  const QString movie = MakeMovie();
  Open(movie);
  c->txtOutput->setText(TempPath("whole.mpg"));
  Convert::ConvertFile(movie, form->ConversionRequest(), form->ConversionView());
  ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages[0].text.toStdString();
  EXPECT_EQ(dialogTitles, QStringList({"Output File Settings"}));
  const QString video = Output("ffprobe", {"-v", "error", "-select_streams", "v:0", "-count_frames",
                                           "-show_entries",
                                           "stream=codec_name,width,height,nb_read_frames,bit_rate,r_frame_rate",
                                           "-of", "default=nw=1", TempPath("whole.mpg")});
  EXPECT_TRUE(video.contains("codec_name=mpeg1video")) << video.toStdString();
  EXPECT_TRUE(video.contains("r_frame_rate=30000/1001")) << video.toStdString();
  EXPECT_TRUE(video.contains("bit_rate=1150000")) << video.toStdString();
  EXPECT_TRUE(video.contains("width=64")) << video.toStdString();
  EXPECT_TRUE(video.contains("height=48")) << video.toStdString();
  // 30 frames at 25 per second last 1.2 s, 35.96 frames at 29.97.
  EXPECT_TRUE(video.contains("nb_read_frames=35") || video.contains("nb_read_frames=36"))
      << video.toStdString();
  // The drivers give the library an empty sound list: pictures only.
  const QString audio = Output("ffprobe", {"-v", "error", "-select_streams", "a", "-show_entries",
                                           "stream=codec_name", "-of", "default=nw=1",
                                           TempPath("whole.mpg")});
  EXPECT_TRUE(audio.isEmpty()) << audio.toStdString();

  // Frames 3..7 as numbered TGA files, each the source frame's pixels.
  dialogTitles.clear();
  c->txtOutput->setText(TempPath("seq/clip.bmp"));
  QDir().mkpath(TempPath("seq"));
  QTest::mouseClick(c->optFormat[21], Qt::LeftButton);
  QTest::mouseClick(c->optMovie[1], Qt::LeftButton);
  c->txtStart->setText("3");
  c->txtEnd->setText("7");
  Convert();
  EXPECT_TRUE(dialogTitles.isEmpty());  // a range has no output-settings dialog
  EXPECT_EQ(QDir(TempPath("seq")).entryList(QDir::Files).size(), 5);
  for (int f = 3; f <= 7; ++f) {
    const QString name = TempPath(QString("seq/clip_%1.tga").arg(f));
    const QImage decoded = PeerDecode(name);
    ASSERT_EQ(decoded.size(), QSize(64, 48)) << f;
    EXPECT_EQ(apptest::Compare(decoded, PeerFrame(movie, f), 0).maxChannel, 0) << f;
  }

  // Frames that cannot be written are passed over, and the last failure is
  // the one shown once the range is done (folders stand in frames 1 and 2).
  dialogs.messages.clear();
  for (int f : {1, 2}) QDir().mkpath(TempPath(QString("seq/clip_%1.tga").arg(f)));
  c->txtStart->setText("1");
  c->txtEnd->setText("3");
  form->RunConversion();
  ASSERT_EQ(dialogs.messages.size(), 2u);  // the overwrite question, then the failure
  EXPECT_TRUE(dialogs.messages[1].text.contains("clip_2.tga")) << dialogs.messages[1].text.toStdString();
  EXPECT_EQ(PeerDecode(TempPath("seq/clip_3.tga")).size(), QSize(64, 48));
}

// A still of w x h with many colours, as a 24-bit BMP.
QString MakePhoto(const QString& path, int w, int h) {
  EXPECT_TRUE(apptest::SaveBmp(apptest::RampPicture(w, h), path));
  return path;
}

QString Identify(const QString& format, const QString& path) {
  return Output("identify", {"-format", format, path});
}

TEST_F(ConvertRealTest, StillsKeepTheAskedSizeAndTheirWritersDepthWhileMoviesGetSidesOfSixteen) {
  Open(MakePhoto(TempPath("photo.bmp"), 800, 600));
  c->txtOutput->setText(TempPath("photo.jpg"));
  Convert();
  EXPECT_EQ(Identify("%wx%h", TempPath("photo.jpg")), "800x600");

  // Typed into the size boxes: the height follows the source's proportions.
  c->txtOutWidth->setText("333");
  ASSERT_EQ(c->txtOutHeight->text(), "250");
  c->txtOutput->setText(TempPath("small.png"));
  Convert();
  EXPECT_EQ(Identify("%wx%h", TempPath("small.png")), "333x250");

  Convert::Request thumbnail = form->ConversionRequest();
  thumbnail.target = {TempPath("thumb.bmp"), "171", "128", "24-bit (16M colors)", -1};
  Convert::ConvertThumbnail(thumbnail, form->ConversionView());
  EXPECT_EQ(Identify("%wx%h", TempPath("thumb.bmp")), "171x128");

  // 8 bits asked of writers without palettes (the output-settings dialog
  // offers them none) give what they write at full depth, as when every
  // output was forced compatible; a writer with palettes writes one.
  for (const QString& ext : {"ppm", "sgi", "png"}) {
    for (const QString& depth : {"24-bit (16M colors)", "8-bit (256 colors)"}) {
      c->cboDepth->setCurrentText(depth);
      c->txtOutput->setText(TempPath("depth" + depth.section('-', 0, 0) + "." + ext));
      Convert();
    }
    const QString full = TempPath("depth24." + ext), eight = TempPath("depth8." + ext);
    const QString peerName = MagickPrefix(ext) + ":" + eight;
    EXPECT_EQ(Identify("%wx%h", peerName), "333x250") << ext.toStdString();
    QFile file(eight);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray head = file.read(108);
    if (ext == "png") {
      EXPECT_EQ(Identify("%r", peerName).section(' ', 0, 0), "PseudoClass");
      EXPECT_LE(Identify("%k", peerName).toInt(), 256);
      continue;
    }
    if (ext == "ppm") EXPECT_TRUE(head.startsWith("P6"));
    if (ext == "sgi") EXPECT_EQ(head.mid(104, 4), QByteArray(4, '\0')) << "a colour map";
    EXPECT_EQ(apptest::Compare(PeerDecode(eight), PeerDecode(full), 0).maxChannel, 0)
        << ext.toStdString();
    EXPECT_GT(Identify("%k", peerName).toInt(), 256) << ext.toStdString();
  }

  // A movie output keeps the sides its codecs take.
  c->cboDepth->setCurrentText("24-bit (16M colors)");
  c->txtOutput->setText(TempPath("clip.avi"));
  Convert();
  const QString video = Output("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                           "stream=width,height", "-of", "csv=p=0",
                                           TempPath("clip.avi")});
  EXPECT_EQ(video, "336,256");

  // So does one of the MPEG writer's other names: forced compatible, 324 x
  // 243 become the nearest sides of sixteen (the writer alone would pad
  // them up to 336 x 256).
  c->txtOutWidth->setText("324");
  ASSERT_EQ(c->txtOutHeight->text(), "243");
  c->txtOutput->setText(TempPath("clip.m2v"));
  Convert();
  const QString mpeg = Output("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                          "stream=width,height", "-of", "csv=p=0",
                                          TempPath("clip.m2v")});
  EXPECT_EQ(mpeg.toStdString(), "320,240");
}

TEST_F(ConvertRealTest, AnExistingOutputIsReplacedOnlyOnYesAndAProposalMovesToAFreeName) {
  Open(MakePhoto(TempPath("photo.bmp"), 96, 64));
  const QString kept = TempPath("out.png");
  {
    QFile file(kept);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("an earlier output");
  }
  c->txtOutput->setText(kept);
  dialogs.questionAnswers = {AppDialogs::Answer::No};
  form->RunConversion();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "A file named " + kept +
                                          " already exists.\nDo you want to replace it?");
  QFile file(kept);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), "an earlier output");
  file.close();

  dialogs.messages.clear();
  dialogs.questionAnswers = {AppDialogs::Answer::Yes};
  form->RunConversion();
  EXPECT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(Identify("%m %wx%h", kept), "PNG 96x64");

  // The proposal: converted once, then another format takes its own first
  // free counter, and back to BMP the next free one.
  c->cboDepth->setCurrentText("24-bit (16M colors)");
  dialogs.fileAnswers.push_back(TempPath("photo.bmp"));
  form->mnuOpen_Click();
  const QString first = modMain::DefaultPath + "/photo(1).bmp";
  ASSERT_EQ(c->txtOutput->text(), first);
  Convert();
  ASSERT_TRUE(QFileInfo::exists(first));
  QTest::mouseClick(c->optFormat[11], Qt::LeftButton);
  EXPECT_EQ(c->txtOutput->text(), modMain::DefaultPath + "/photo(1).png");
  QTest::mouseClick(c->optFormat[1], Qt::LeftButton);
  EXPECT_EQ(c->txtOutput->text(), modMain::DefaultPath + "/photo(2).bmp");
  // A name the user typed only changes its extension.
  c->txtOutput->setText(first);
  QTest::mouseClick(c->optFormat[13], Qt::LeftButton);
  EXPECT_EQ(c->txtOutput->text(), modMain::DefaultPath + "/photo(1).ppm");
}

TEST_F(ConvertRealTest, SourcesThatCannotBeConvertedSayWhyWhenOpenedAndOnConvert) {
  const QString png = TempPath("whole.png");
  ASSERT_TRUE(apptest::RampPicture(64, 48).save(png));
  QFile whole(png);
  ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
  const QByteArray bytes = whole.readAll();
  whole.close();
  const auto write = [this](const QString& name, const QByteArray& data) {
    QFile file(TempPath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
    return TempPath(name);
  };
  QByteArray noise(4096, '\0');
  for (int i = 0; i < noise.size(); ++i) noise[i] = char((i * 7919 + 13) % 251);
  const QString wav = TempPath("tone.wav");
  ASSERT_TRUE(apptest::RunPeer("ffmpeg", {"-nostdin", "-v", "error", "-f", "lavfi", "-i",
                                          "sine=frequency=440:duration=0.2", wav}));
  const QString bitFields = TempPath("alpha.bmp");
  ASSERT_TRUE(apptest::RunPeer("convert", {"-size", "64x48", "gradient:red-blue", "-alpha", "set",
                                           "-channel", "A", "-evaluate", "set", "50%",
                                           "BMP:" + bitFields}));
  const QString sources[] = {write("cut.png", bytes.left(bytes.size() / 2)),
                             write("noise.avi", noise), wav, bitFields};
  c->cboDepth->setCurrentText("8-bit (256 colors)");
  for (const QString& source : sources) {
    SCOPED_TRACE(source.toStdString());
    dialogs.messages.clear();
    dialogs.fileAnswers.push_back(source);
    form->mnuOpen_Click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    const QString reason = dialogs.messages[0].text;
    // The library's own reason follows on a second line.
    if (source == wav)
      EXPECT_EQ(reason, Convert::kNoPictures);
    else
      EXPECT_EQ(reason.section('\n', 0, 0), "The source file cannot be read.");
    EXPECT_FALSE(reason.section('\n', 1).isEmpty() && source != wav);
    EXPECT_NE(c->Label3->text(), frmImage::kSingleFrameText);
    // Left as it was, or the depth a readable header gives; never blank.
    EXPECT_FALSE(c->cboDepth->currentText().isEmpty());
    EXPECT_FALSE(form->HasPicture());

    const QString output = TempPath("out.png");
    c->txtOutput->setText(output);
    dialogs.messages.clear();
    dialogTitles.clear();
    form->RunConversion();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, reason);
    EXPECT_TRUE(dialogTitles.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(output));
  }
}

TEST_F(ConvertRealTest, ClosingTheWindowDuringARangeStopsAfterTheFrameInHandThenCloses) {
  Open(MakeMovie());
  form->show();
  QDir().mkpath(TempPath("seq"));
  c->txtOutput->setText(TempPath("seq/clip.bmp"));
  QTest::mouseClick(c->optMovie[1], Qt::LeftButton);
  bool visibleAtClose = false;
  int doneAtClose = 0;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    const QString label = c->Label3->text();
    if (!label.startsWith("Frame ") || label.section(' ', 1, 1).toInt() < 2) return;
    closer.stop();
    doneAtClose = label.section(' ', 1, 1).toInt();
    form->close();
    visibleAtClose = form->isVisible();  // the range is still writing
  });
  closer.start(0);
  Convert();
  EXPECT_TRUE(visibleAtClose);
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(Convert::SequenceRunning());
  // The frames done when the window was closed, and no more.
  ASSERT_GE(doneAtClose, 2);
  ASSERT_LT(doneAtClose, 30);
  QStringList expected;
  for (int f = 1; f <= doneAtClose; ++f) expected << QString("clip_%1.bmp").arg(f);
  QStringList written = QDir(TempPath("seq")).entryList(QDir::Files);
  written.sort();
  expected.sort();
  EXPECT_EQ(written, expected);
  EXPECT_EQ(QImage(TempPath("seq/clip_2.bmp")).size(), QSize(64, 48));
}

TEST_F(ConvertRealTest, KeysAndTheWheelOnTheSliderShowAndConvertTheFrameTheyChoose) {
  const QString movie = MakeMovie();
  Open(movie);
  form->show();
  c->Slider1->setFocus();
  const auto preview = [this] { return c->imgPreview->pixmap().toImage(); };
  const auto check = [&](int frame, const QString& output) {
    EXPECT_EQ(c->lblFrame->text(), QString("Frame %1 of 30").arg(frame));
    const QImage expected = PeerFrame(movie, frame);
    EXPECT_EQ(apptest::Compare(preview(), expected, 0).maxChannel, 0) << frame;
    EXPECT_FALSE(modMain::ImageEdited) << frame;
    c->txtOutput->setText(TempPath(output));
    Convert();
    EXPECT_EQ(apptest::Compare(QImage(TempPath(output)), expected, 0).maxChannel, 0) << frame;
  };
  EXPECT_EQ(c->lblFrame->text(), "Frame 1 of 30");

  // An edit mark standing from the previous frame is dropped by the move.
  modMain::ImageEdited = true;
  modMain::EditedImagePath = AppDir() + "/temp_p.bmp";
  QTest::keyClick(c->Slider1, Qt::Key_Right);
  QTest::keyClick(c->Slider1, Qt::Key_Right);
  check(3, "key.bmp");

  modMain::ImageEdited = true;
  const QPoint centre = c->Slider1->rect().center();
  QWheelEvent wheel(centre, c->Slider1->mapToGlobal(centre), QPoint(), QPoint(0, -120),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(c->Slider1, &wheel);
  ASSERT_NE(c->Slider1->value(), 3);
  check(c->Slider1->value(), "wheel.bmp");
}

// What the window shows each time the frame-count label is painted.
struct Shown {
  QString label;
  bool barVisible;
  int bar;
  Qt::CursorShape pointer;
};

TEST_F(ConvertRealTest, AConversionShowsTheWaitPointerAndTheLibrarysProgressThenRestoresTheWindow) {
  Open(MakeMovie());
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  c->Slider1->setValue(5);
  const QString label = c->Label3->text();
  const QString frameNumber = c->lblFrame->text();
  // At 8 bits the library runs a palette pass before it writes.
  c->cboDepth->setCurrentText("8-bit (256 colors)");
  c->txtOutput->setText(TempPath("frame5.png"));
  std::vector<Shown> shown;
  apptest::EventSpy painted(c->Label3, QEvent::Paint, [&] {
    shown.push_back({c->Label3->text(), c->pbRange->isVisible(), c->pbRange->value(),
                     form->cursor().shape()});
  });
  Convert();
  ASSERT_TRUE(QFileInfo::exists(TempPath("frame5.png")));

  QStringList texts;
  for (const Shown& s : shown)
    if (s.label != label) texts << s.label;
  texts.removeDuplicates();
  const QRegularExpression writing(R"(^Frame: 1, Sample: 0, Time Left: \d\d:\d\d:\d\d$)");
  const QRegularExpression finished(R"(^Processing time: \d\d:\d\d:\d\d$)");
  ASSERT_EQ(texts.size(), 4) << texts.join(" | ").toStdString();
  EXPECT_EQ(texts[0], "Preparing conversion...");
  EXPECT_EQ(texts[1], "Reducing colors, done frames: 1");
  EXPECT_TRUE(writing.match(texts[2]).hasMatch()) << texts[2].toStdString();
  EXPECT_TRUE(finished.match(texts[3]).hasMatch()) << texts[3].toStdString();
  for (const Shown& s : shown) {
    if (s.label == label) continue;
    EXPECT_EQ(s.pointer, Qt::WaitCursor) << s.label.toStdString();
    EXPECT_TRUE(s.barVisible) << s.label.toStdString();
    // One frame: each pass is whole once it has reported its frame.
    EXPECT_EQ(s.bar, s.label.startsWith("Preparing") ? 1 : 100) << s.label.toStdString();
  }

  // Afterwards the window is as it was.
  EXPECT_EQ(c->Label3->text(), label);
  EXPECT_FALSE(c->pbRange->isVisible());
  EXPECT_EQ(c->pbRange->value(), c->pbRange->minimum());
  EXPECT_EQ(form->cursor().shape(), Qt::ArrowCursor);
  EXPECT_TRUE(c->lblFrame->isVisible());
  EXPECT_EQ(c->lblFrame->text(), frameNumber);
}

}  // namespace
