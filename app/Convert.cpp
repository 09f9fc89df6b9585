#include "Convert.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QToolBar>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "AppDialogs.h"
#include "LibQor.h"
#include "UpDown.h"
#include "frmImage.h"
#include "modMain.h"

namespace Convert {

QorHandle ConvertHandle = nullptr;
QorHandle VideoList = nullptr;
QorHandle AudioList = nullptr;
int32_t TotalFrames = 0;
int32_t TotalSamples = 0;

namespace {

using modMain::IsNumeric;
using modMain::Val;

// Error texts have no stated bound; this holds any the library makes.
constexpr size_t kErrorTextSize = 65536;
constexpr int32_t kAnswerStopKeep = 2;

// True while a frame range writes its files.
bool g_rangeRunning = false;
// The caption drawn on every frame of the running conversion.
QString g_caption;
// A missing export met inside a callback: the library's frames must not be
// unwound, so it is kept and raised again once QorConvert has returned.
std::string g_callbackFailure;

QByteArray LibraryName(const QString& path) { return QFile::encodeName(path); }

void ShowError(QWidget* owner, const QString& text) {
  AppDialogs::Message(owner, text, modMain::kAppTitle, AppDialogs::Buttons::Ok,
                      AppDialogs::Icon::Critical);
}

// A size box's text as the 32-bit integer the library takes (halves to even,
// as the window's other conversions); none for any other text.
std::optional<int32_t> SizeValue(const QString& text) {
  if (!IsNumeric(text)) return std::nullopt;
  const double value = std::nearbyint(Val(text));
  if (!(std::fabs(value) <= std::numeric_limits<int32_t>::max())) return std::nullopt;
  return static_cast<int32_t>(value);
}

// Runs the callback body; nothing may leave a callback towards the library.
template <class Body>
void InCallback(Body body) {
  try {
    body();
  } catch (const std::exception& e) {
    if (g_callbackFailure.empty()) g_callbackFailure = e.what();
  } catch (...) {
    if (g_callbackFailure.empty()) g_callbackFailure = "The conversion's callback failed.";
  }
}

void NameSourceBlock(QorHandle list, QorHandle mData, int32_t blockNum) {
  std::vector<char> name(LibQor::kNameBufferSize, '\0');
  if (LibQor::QorListGetName(list, blockNum, name.data()))
    LibQor::QorSrcSetFile(mData, name.data());
  else
    LibQor::QorSrcFinished(mData);
}

// Runs cleanup on every way out of a scope.
template <class F>
class Finally {
 public:
  explicit Finally(F f) : f_(std::move(f)) {}
  ~Finally() {
    // Cleanup that needs a missing export cannot run; the error that brought
    // us here is shown by the handler.
    try {
      f_();
    } catch (const LibQor::BindError&) {
    }
  }
  Finally(const Finally&) = delete;
  Finally& operator=(const Finally&) = delete;

 private:
  F f_;
};

// The video source of a driver: the source itself, or for a source of more
// than one frame the frame chosen on the slider, extracted to "temp_2.bmp".
// None when the extraction failed; its error has been shown, since converting
// what the file held before would convert an earlier source's frame.
std::optional<QString> FrameRuleSource(frmImage::Form& main, QWidget* owner) {
  const frmImage::Controls& c = main.controls();
  const QString source = c.txtSource->text();
  if (Val(c.lblFrameCount->text()) <= 1) return source;
  const QString extracted = modMain::AppDir() + "/temp_2.bmp";
  bool extractedOk = true;
  QString failure;
  {
    LibQor::ScopedImage image;
    if (LibQor::QorImgLoadSingle(image.get(), LibraryName(source).constData(),
                                 c.Slider1->value()) != 0 ||
        LibQor::QorImgSaveSingle(image.get(), LibraryName(extracted).constData(), 1) != 0) {
      extractedOk = false;
      failure = LastFailureText();
    }
  }
  if (extractedOk) return extracted;
  ShowError(owner, failure.isEmpty() ? QString("The frame cannot be extracted.") : failure);
  return std::nullopt;
}

// Why a source whose list holds neither frames nor samples converts nothing:
// the library's reason when it could not read the file.
QString NothingToConvert(const QString& listFailure) {
  if (!listFailure.isEmpty()) return listFailure;
  return kNoPictures;
}

// An existing output is replaced only when the user says so.
bool MayWrite(QWidget* window, const QString& output) {
  if (!QFileInfo::exists(output)) return true;
  const QString question = "A file named " + output + " already exists.\n" +
                           "Do you want to replace it?";
  return AppDialogs::Message(window, question, modMain::kAppTitle, AppDialogs::Buttons::YesNo,
                             AppDialogs::Icon::Question) == AppDialogs::Answer::Yes;
}

// Configure, confirm and convert, on one handle with its two lists.
void ConvertWith(QWidget* window, const QString& source, const Target& target) {
  const auto width = SizeValue(target.width), height = SizeValue(target.height);
  if (!width || !height) {
    AppDialogs::Message(window, kSizeNotNumeric, modMain::kAppTitle);
    return;
  }
  ConvertHandle = LibQor::QorAlloc();
  Finally freeHandle([handle = ConvertHandle] { LibQor::QorFree(handle); });
  const QorHandle h = ConvertHandle;
  LibQor::QorAssignVideoSource(h, VideoSourceProc);
  LibQor::QorAssignVideoFunc(h, VideoFrameProc);
  LibQor::QorAssignAudioSource(h, AudioSourceProc);
  LibQor::QorAssignAudioFunc(h, AudioFrameProc);
  LibQor::QorAssignProgress(h, ProgressProc);
  LibQor::QorAssignError(h, ErrorProc);
  VideoList = LibQor::QorListAlloc();
  AudioList = LibQor::QorListAlloc();
  Finally freeLists([video = VideoList, audio = AudioList] {
    LibQor::QorListFree(video);
    LibQor::QorListFree(audio);
  });

  window->setCursor(Qt::WaitCursor);
  Finally arrow([window] { window->unsetCursor(); });
  int16_t result = 0;
  LibQor::QorListAdd(VideoList, LibraryName(source).constData(), kVideoFileType, nullptr, &result);
  // Read before the next call replaces the outcome.
  const QString listFailure = LastFailureText();
  result = 0;
  LibQor::QorListAdd(AudioList, "", kAudioFileType, nullptr, &result);
  TotalFrames = LibQor::QorListGetFrameCount(VideoList);
  TotalSamples = LibQor::QorListGetSampleCount(AudioList);
  LibQor::QorSetOutputFile(h, LibraryName(target.output).constData(), "");
  LibQor::QorSetFrameRate(h, kFrameRate);
  LibQor::QorSetKeepDuration(h, 1);
  LibQor::QorSetResolution(h, *width, *height);
  LibQor::QorSetCodec(h, kFormatMpeg, 1);
  LibQor::QorSetBitRate(h, kFormatMpeg, 1150);
  LibQor::QorSetAudioFormat(h, 44100, 2, 16);
  LibQor::QorSetBitRate(h, kFormatMpegAudio, 224);
  LibQor::QorSetBpp(h, DepthBits(target.depth));
  if (target.dithering >= 0) LibQor::QorSetDithering(h, target.dithering);
  // Sides of multiples of 16 serve the movie codecs; a still keeps the size
  // the user asked for.
  const QorBool compatible = IsMovieOutput(target.output) ? 1 : 0;
  LibQor::QorForceCompatibility(h, compatible);
  window->unsetCursor();

  if (TotalFrames <= 0 && TotalSamples <= 0) {
    ShowError(window, NothingToConvert(listFailure));
    return;
  }
  if (TotalFrames > 0 && !LibQor::QorOutputDlg(h, VideoList, kDialogTitle, 1)) {
    // Cancel leaves no error behind; a dialog that failed does.
    if (const QString failure = LastFailureText(); !failure.isEmpty()) ShowError(window, failure);
    return;
  }
  if (!MayWrite(window, target.output)) return;
  LibQor::QorForceCompatibility(h, compatible);
  g_callbackFailure.clear();
  LibQor::QorConvert(h);
  // The convert result says no more than the last-error record read here.
  const QString failure = LastFailureText();
  if (!g_callbackFailure.empty()) throw LibQor::BindError(g_callbackFailure);
  if (!failure.isEmpty()) ShowError(window, failure);
}

void SetCaptionFrom(const frmImage::Form& main) { g_caption = main.controls().txtCaption->text(); }

// The controls a frame range locks while it runs: every command, and what
// names its source, output and frames.
std::vector<QWidget*> RangeLockedControls(const frmImage::Controls& c) {
  std::vector<QWidget*> controls = {
      c.Toolbar1,   c.Toolbar2,  c.optPreview[0], c.optPreview[1], c.optMovie[0],
      c.optMovie[1], c.txtStart, c.txtEnd,        c.udStart,       c.udEnd,
      c.tbOpen,     c.txtSource, c.tbSave,        c.txtOutput};
  for (QRadioButton* option : c.optFormat)
    if (option) controls.push_back(option);
  return controls;
}

void LockForRange(frmImage::Form& main, bool locked) {
  const frmImage::Controls& c = main.controls();
  for (QWidget* control : RangeLockedControls(c)) control->setEnabled(!locked);
  // The preview keeps showing each frame in its colours; it only stops
  // taking the mouse (no full-screen view, no popup menu meanwhile).
  c.imgPreview->setAttribute(Qt::WA_TransparentForMouseEvents, locked);
  c.mnuHiddenFile->setEnabled(!locked);
  c.mnuHiddenHelp->setEnabled(!locked);
}

// The first numbered file of the range that exists, if any.
std::optional<QString> FirstExisting(const QString& output, long long start, long long end) {
  for (long long f = start; f <= end; ++f) {
    const QString name = MakeSequenceName(output, static_cast<int>(f));
    if (QFileInfo::exists(name)) return name;
  }
  return std::nullopt;
}

}  // namespace

bool SequenceRunning() { return g_rangeRunning; }

QString LastFailureText() {
  QorLastError rec{};
  LibQor::QorGetLastError(&rec);
  if (rec.code == 0 || rec.code == 2) return QString();
  std::vector<char> text(kErrorTextSize, '\0');
  LibQor::QorMakeErrorStr(&rec, text.data());
  return QString::fromLocal8Bit(text.data());
}

Target TargetOf(const QLineEdit* output, const QLineEdit* width, const QLineEdit* height,
                const QComboBox* depth, const std::array<QRadioButton*, 3>& dithering) {
  Target target{output->text(), width->text(), height->text(), depth->currentText(), -1};
  for (int i = 0; i < 3; ++i)
    if (dithering[i]->isChecked()) {
      target.dithering = i;
      break;
    }
  return target;
}

int32_t DepthBits(const QString& depthText) {
  const QStringList items = frmImage::DepthItems();
  constexpr int32_t kBits[] = {32, 24, 15, 8};
  const qsizetype index = items.indexOf(depthText);
  return index >= 0 && index < 4 ? kBits[index] : 24;
}

bool IsMovieOutput(const QString& output) {
  const QString extension = QFileInfo(output).suffix().toLower();
  return extension == "avi" || extension == "mpg" || extension == "mpe" || extension == "mpeg";
}

QString MakeSequenceName(const QString& name, int n) {
  const qsizetype slash = name.lastIndexOf('/');
  const qsizetype dot = name.lastIndexOf('.');
  // A dot that begins the file name makes a hidden name, not an extension.
  if (dot <= slash + 1) return name + "_" + QString::number(n);
  return name.left(dot) + "_" + QString::number(n) + name.mid(dot);
}

void ConvertFrame(frmImage::Form& main) {
  const std::optional<QString> source = FrameRuleSource(main, &main);
  if (!source) return;
  SetCaptionFrom(main);
  const frmImage::Controls& c = main.controls();
  ConvertWith(&main, *source,
              TargetOf(c.txtOutput, c.txtOutWidth, c.txtOutHeight, c.cboDepth, c.optDithering));
}

void ConvertFile(frmImage::Form& main, const QString& source) {
  SetCaptionFrom(main);
  const frmImage::Controls& c = main.controls();
  ConvertWith(&main, source,
              TargetOf(c.txtOutput, c.txtOutWidth, c.txtOutHeight, c.cboDepth, c.optDithering));
}

void ConvertThumbnail(frmImage::Form& main, QWidget* window, const Target& thumbnail) {
  const std::optional<QString> source = FrameRuleSource(main, window);
  if (!source) return;
  SetCaptionFrom(main);
  ConvertWith(window, *source, thumbnail);
}

void ConvertSequence(frmImage::Form& main) {
  const frmImage::Controls& c = main.controls();
  const QString keptCaption = c.Label3->text();
  const long long start = std::llround(std::nearbyint(Val(c.txtStart->text())));
  const long long end = std::llround(std::nearbyint(Val(c.txtEnd->text())));
  const QString output = c.txtOutput->text();
  const QString source = c.txtSource->text();

  if (const auto existing = FirstExisting(output, start, end)) {
    const QString question = "A file named " + *existing + " already exists.\n" +
                             "Do you want to continue and over-write all existing files?";
    if (AppDialogs::Message(&main, question, modMain::kAppTitle, AppDialogs::Buttons::YesNo,
                            AppDialogs::Icon::Question) == AppDialogs::Answer::No)
      return;
  }

  modMain::CancelSequence = false;
  g_rangeRunning = true;
  main.setCursor(Qt::BusyCursor);
  c.pbRange->setRange(1, 100);
  c.cmdCancelSequence->setVisible(true);
  LockForRange(main, true);
  const QPixmap keptPicture = c.imgPreview->pixmap();
  QString lastFailure;
  Finally unlock([&] {
    g_rangeRunning = false;
    c.pbRange->setValue(c.pbRange->minimum());
    main.unsetCursor();
    c.cmdCancelSequence->setVisible(false);
    LockForRange(main, false);
    c.imgPreview->setPixmap(keptPicture);
    c.Label3->setText(keptCaption);
  });

  const long long count = end - start + 1;
  long long done = 0;
  for (long long f = start; f <= end && !modMain::CancelSequence; ++f) {
    ++done;
    const QString name = MakeSequenceName(output, static_cast<int>(f));
    {
      LibQor::ScopedImage image;
      // A frame that cannot be loaded or saved is passed over; the last
      // failure is shown once the range is done.
      if (LibQor::QorImgLoadSingle(image.get(), LibraryName(source).constData(),
                                   static_cast<int32_t>(f)) != 0 ||
          LibQor::QorImgSaveSingle(image.get(), LibraryName(name).constData(), K_AUTO) != 0)
        lastFailure = LastFailureText();
    }
    c.pbRange->setValue(static_cast<int>(std::nearbyint(double(done) / double(count) * 100)));
    c.pbRange->setVisible(true);
    const QImage written(name);
    if (!written.isNull()) c.imgPreview->setPixmap(QPixmap::fromImage(written));
    c.Label3->setText("Frame " + QString::number(done) + " of " + QString::number(count));
    QCoreApplication::processEvents();
  }
  if (!lastFailure.isEmpty()) ShowError(&main, lastFailure);
}

// ---- the callbacks

void QOR_CALL VideoSourceProc(QorHandle mData, int32_t blockNum) {
  InCallback([&] { NameSourceBlock(VideoList, mData, blockNum); });
}

void QOR_CALL AudioSourceProc(QorHandle mData, int32_t blockNum) {
  InCallback([&] { NameSourceBlock(AudioList, mData, blockNum); });
}

void QOR_CALL VideoFrameProc(QorHandle, QorHandle mImg, int32_t) {
  if (g_caption.isEmpty()) return;
  InCallback([&] {
    // A fresh text record per frame keeps every frame's drawing alike.
    const QorHandle text = LibQor::QorTextAlloc();
    Finally freeText([text] { LibQor::QorTextFree(text); });
    LibQor::QorTextSetFont(text, kCaptionFont, 20, 1);
    const int32_t lightGrey = LibQor::QorRGB(192, 192, 192);
    const int32_t darkGrey = LibQor::QorRGB(96, 96, 96);
    LibQor::QorTextSetColor(text, lightGrey, darkGrey, 8421504, 1);
    LibQor::QorTextShadow(text, 2, 1, 1);
    LibQor::QorTextOut(mImg, text, kCaptionX, kCaptionY, g_caption.toLocal8Bit().constData());
  });
}

// The sound passes unchanged.
void QOR_CALL AudioFrameProc(QorHandle, QorHandle, int32_t) {}

// A single conversion shows no progress in the main window: it is one short
// synchronous call under the hourglass.
void QOR_CALL ProgressProc(QorHandle, int32_t, int32_t, int32_t) {}

// Any unreadable source stops the conversion and keeps what was written.
void QOR_CALL ErrorProc(QorHandle, const char*, int32_t* action) {
  if (action) *action = kAnswerStopKeep;
}

}  // namespace Convert
