#include "Convert.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DepthRules.h"
#include "LibQor.h"
#include "modMain.h"

namespace Convert {
namespace {

using modMain::IsNumeric;
using modMain::Val;

// Error texts have no stated bound; this holds any the library makes.
constexpr size_t kErrorTextSize = 65536;
constexpr int32_t kAnswerStopKeep = 2;

QByteArray LibraryName(const QString& path) { return QFile::encodeName(path); }

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

// One run of a driver: the window it works for, the caption it draws, and
// for a handle driver its handle and lists with their totals. The callbacks
// reach the run in hand; runs do not overlap, since a run holds the window
// thread (a range lets events in only with every command locked).
class Conversion {
 public:
  Conversion(View& view, QString caption, bool range)
      : view(view), caption(std::move(caption)), range(range), outer_(running_) {
    running_ = this;
  }
  ~Conversion() { running_ = outer_; }
  Conversion(const Conversion&) = delete;
  Conversion& operator=(const Conversion&) = delete;

  static Conversion* Running() { return running_; }

  View& view;
  const QString caption;
  const bool range;
  QorHandle handle = nullptr;
  QorHandle videoList = nullptr;
  QorHandle audioList = nullptr;
  int32_t totalFrames = 0;
  int32_t totalSamples = 0;
  // True while the window shows the library's progress.
  bool showsProgress = false;
  // A missing export met inside a callback: the library's frames must not
  // be unwound, so it is kept and raised again once QorConvert has returned.
  std::string callbackFailure;

 private:
  static inline Conversion* running_ = nullptr;
  Conversion* outer_;
};

// The window is busy (and shows the library's progress) while it lives.
class Busy {
 public:
  Busy(Conversion& run, View::Work work) : run_(run) {
    run_.view.Lock(work);
    run_.showsProgress = true;
  }
  ~Busy() {
    run_.showsProgress = false;
    run_.view.Unlock();
  }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

 private:
  Conversion& run_;
};

void ShowError(View& view, const QString& text) {
  view.Message(text, AppDialogs::Buttons::Ok, AppDialogs::Icon::Critical);
}

// A time in seconds as the library writes it, "hh:mm:ss".
QString TimeText(double seconds) {
  char text[32] = {};
  LibQor::QorMakeTimeStr(seconds, text);
  return QString::fromLatin1(text);
}

// A size box's text as the 32-bit integer the library takes (halves to even,
// as the window's other conversions); none for any other text.
std::optional<int32_t> SizeValue(const QString& text) {
  if (!IsNumeric(text)) return std::nullopt;
  const double value = std::nearbyint(Val(text));
  if (!(std::fabs(value) <= std::numeric_limits<int32_t>::max())) return std::nullopt;
  return static_cast<int32_t>(value);
}

// Runs the callback body on the run in hand; nothing may leave a callback
// towards the library.
template <class Body>
void InCallback(Body body) {
  Conversion* run = Conversion::Running();
  try {
    body(run);
  } catch (const std::exception& e) {
    if (run && run->callbackFailure.empty()) run->callbackFailure = e.what();
  } catch (...) {
    if (run && run->callbackFailure.empty())
      run->callbackFailure = "The conversion's callback failed.";
  }
}

// Names block blockNum from list; without a list (no run in hand) the
// sources end.
void NameSourceBlock(QorHandle list, QorHandle mData, int32_t blockNum) {
  std::vector<char> name(LibQor::kNameBufferSize, '\0');
  if (list && LibQor::QorListGetName(list, blockNum, name.data()))
    LibQor::QorSrcSetFile(mData, name.data());
  else
    LibQor::QorSrcFinished(mData);
}

// The video source of a driver: the source itself, or for a source of more
// than one frame the frame chosen, extracted to "temp_2.bmp". None when the
// extraction failed; its error has been shown, since converting what the
// file held before would convert an earlier source's frame.
std::optional<QString> FrameRuleSource(const Request& request, View& view) {
  if (request.frameCount <= 1) return request.source;
  const QString extracted = modMain::AppDir() + "/temp_2.bmp";
  bool extractedOk = true;
  QString failure;
  {
    LibQor::ScopedImage image;
    if (LibQor::QorImgLoadSingle(image.get(), LibraryName(request.source).constData(),
                                 request.frame) != 0 ||
        LibQor::QorImgSaveSingle(image.get(), LibraryName(extracted).constData(), 1) != 0) {
      extractedOk = false;
      failure = LastFailureText();
    }
  }
  if (extractedOk) return extracted;
  ShowError(view, failure.isEmpty() ? QString("The frame cannot be extracted.") : failure);
  return std::nullopt;
}

// Why a source whose list holds neither frames nor samples converts nothing:
// the library's reason when it could not read the file.
QString NothingToConvert(const QString& listFailure) {
  if (!listFailure.isEmpty()) return listFailure;
  return kNoPictures;
}

// An existing output is replaced only when the user says so.
bool MayWrite(View& view, const QString& output) {
  if (!QFileInfo::exists(output)) return true;
  const QString question = "A file named " + output + " already exists.\n" +
                           "Do you want to replace it?";
  return view.Message(question, AppDialogs::Buttons::YesNo, AppDialogs::Icon::Question) ==
         AppDialogs::Answer::Yes;
}

// Configure, confirm and convert, on one handle with its two lists.
void ConvertWith(View& view, const QString& source, const Target& target,
                 const QString& caption) {
  const auto width = SizeValue(target.width), height = SizeValue(target.height);
  if (!width || !height) {
    view.Message(kSizeNotNumeric, AppDialogs::Buttons::Ok, AppDialogs::Icon::None);
    return;
  }
  Conversion run(view, caption, false);
  run.handle = LibQor::QorAlloc();
  Finally freeHandle([handle = run.handle] { LibQor::QorFree(handle); });
  const QorHandle h = run.handle;
  LibQor::QorAssignVideoSource(h, VideoSourceProc);
  LibQor::QorAssignVideoFunc(h, VideoFrameProc);
  LibQor::QorAssignAudioSource(h, AudioSourceProc);
  LibQor::QorAssignAudioFunc(h, AudioFrameProc);
  LibQor::QorAssignProgress(h, ProgressProc);
  LibQor::QorAssignError(h, ErrorProc);
  run.videoList = LibQor::QorListAlloc();
  run.audioList = LibQor::QorListAlloc();
  Finally freeLists([video = run.videoList, audio = run.audioList] {
    LibQor::QorListFree(video);
    LibQor::QorListFree(audio);
  });

  std::optional<Busy> configuring(std::in_place, run, View::Work::Conversion);
  int16_t result = 0;
  LibQor::QorListAdd(run.videoList, LibraryName(source).constData(), kVideoFileType, nullptr,
                     &result);
  // Read before the next call replaces the outcome.
  const QString listFailure = LastFailureText();
  result = 0;
  LibQor::QorListAdd(run.audioList, "", kAudioFileType, nullptr, &result);
  run.totalFrames = LibQor::QorListGetFrameCount(run.videoList);
  run.totalSamples = LibQor::QorListGetSampleCount(run.audioList);
  LibQor::QorSetOutputFile(h, LibraryName(target.output).constData(), "");
  LibQor::QorSetFrameRate(h, kFrameRate);
  LibQor::QorSetKeepDuration(h, 1);
  LibQor::QorSetResolution(h, *width, *height);
  LibQor::QorSetCodec(h, kFormatMpeg, 1);
  LibQor::QorSetBitRate(h, kFormatMpeg, 1150);
  LibQor::QorSetAudioFormat(h, 44100, 2, 16);
  LibQor::QorSetBitRate(h, kFormatMpegAudio, 224);
  LibQor::QorSetBpp(h, DepthRules::Bits(target.depth));
  if (target.dithering >= 0) LibQor::QorSetDithering(h, target.dithering);
  // Sides of multiples of 16 serve the movie codecs; a still keeps the size
  // the user asked for.
  const QorBool compatible = IsMovieOutput(target.output) ? 1 : 0;
  LibQor::QorForceCompatibility(h, compatible);
  configuring.reset();

  if (run.totalFrames <= 0 && run.totalSamples <= 0) {
    ShowError(view, NothingToConvert(listFailure));
    return;
  }
  if (run.totalFrames > 0 && !LibQor::QorOutputDlg(h, run.videoList, kDialogTitle, 1)) {
    // Cancel leaves no error behind; a dialog that failed does.
    if (const QString failure = LastFailureText(); !failure.isEmpty()) ShowError(view, failure);
    return;
  }
  if (!MayWrite(view, target.output)) return;
  LibQor::QorForceCompatibility(h, compatible);
  {
    const Busy converting(run, View::Work::Conversion);
    LibQor::QorConvert(h);
  }
  // The convert result says no more than the last-error record read here.
  const QString failure = LastFailureText();
  if (!run.callbackFailure.empty()) throw LibQor::BindError(run.callbackFailure);
  if (!failure.isEmpty()) ShowError(view, failure);
}

// The first numbered file of the range that exists, if any.
std::optional<QString> FirstExisting(const QString& output, long long start, long long end) {
  for (long long f = start; f <= end; ++f) {
    const QString name = MakeSequenceName(output, static_cast<int>(f));
    if (QFileInfo::exists(name)) return name;
  }
  return std::nullopt;
}

// Writes frame f of source as name; the library's reason when it could not.
QString WriteFrame(const QString& source, long long f, const QString& name) {
  LibQor::ScopedImage image;
  if (LibQor::QorImgLoadSingle(image.get(), LibraryName(source).constData(),
                               static_cast<int32_t>(f)) != 0 ||
      LibQor::QorImgSaveSingle(image.get(), LibraryName(name).constData(), K_AUTO) != 0)
    return LastFailureText();
  return QString();
}

}  // namespace

bool SequenceRunning() {
  const Conversion* run = Conversion::Running();
  return run && run->range;
}

QString LastFailureText() {
  QorLastError rec{};
  LibQor::QorGetLastError(&rec);
  if (rec.code == 0 || rec.code == 2) return QString();
  std::vector<char> text(kErrorTextSize, '\0');
  LibQor::QorMakeErrorStr(&rec, text.data());
  return QString::fromLocal8Bit(text.data());
}

bool IsMovieOutput(const QString& output) {
  // The library knows which names its movie writers take.
  const int32_t format = LibQor::QorGetFileFmtID(LibraryName(output).constData());
  return format == kFormatAvi || format == kFormatMpeg;
}

QString MakeSequenceName(const QString& name, int n) {
  const qsizetype slash = name.lastIndexOf('/');
  const qsizetype dot = name.lastIndexOf('.');
  // A dot that begins the file name makes a hidden name, not an extension.
  if (dot <= slash + 1) return name + "_" + QString::number(n);
  return name.left(dot) + "_" + QString::number(n) + name.mid(dot);
}

void ConvertFrame(const Request& request, View& view) {
  const std::optional<QString> source = FrameRuleSource(request, view);
  if (!source) return;
  ConvertWith(view, *source, request.target, request.caption);
}

void ConvertFile(const QString& source, const Request& request, View& view) {
  ConvertWith(view, source, request.target, request.caption);
}

void ConvertThumbnail(const Request& request, View& view) { ConvertFrame(request, view); }

void ConvertSequence(const Request& request, View& view) {
  const long long start = std::llround(std::nearbyint(Val(request.start)));
  const long long end = std::llround(std::nearbyint(Val(request.end)));
  const QString& output = request.target.output;

  if (const auto existing = FirstExisting(output, start, end)) {
    const QString question = "A file named " + *existing + " already exists.\n" +
                             "Do you want to continue and over-write all existing files?";
    if (view.Message(question, AppDialogs::Buttons::YesNo, AppDialogs::Icon::Question) ==
        AppDialogs::Answer::No)
      return;
  }

  modMain::CancelSequence = false;
  QString lastFailure;
  {
    // A range is written at the source's size and depth without a caption.
    Conversion run(view, QString(), true);
    const Busy busy(run, View::Work::Range);
    const long long count = end - start + 1;
    long long done = 0;
    for (long long f = start; f <= end && !modMain::CancelSequence; ++f) {
      ++done;
      const QString name = MakeSequenceName(output, static_cast<int>(f));
      // A frame that cannot be loaded or saved is passed over; the last
      // failure is shown once the range is done.
      if (const QString failure = WriteFrame(request.source, f, name); !failure.isEmpty())
        lastFailure = failure;
      view.ShowProgress("Frame " + QString::number(done) + " of " + QString::number(count),
                        static_cast<int>(std::nearbyint(double(done) / double(count) * 100)));
      view.ShowFrame(name);
      QCoreApplication::processEvents();
    }
  }
  if (!lastFailure.isEmpty()) ShowError(view, lastFailure);
}

QString ProgressText(int32_t status, int32_t doneFrames, int32_t doneSamples,
                     const QString& elapsed, const QString& remaining) {
  switch (status) {
    case 0:
      return "Processing time: " + elapsed;
    case 1:
      return "Preparing conversion...";
    case 2:
      return "Reducing colors, done frames: " + QString::number(doneFrames);
    case 3:
      return "Frame: " + QString::number(doneFrames) + ", Sample: " +
             QString::number(doneSamples) + ", Time Left: " + remaining;
    default:
      return "Unrecognized status code";
  }
}

int ProgressPercent(int32_t status, int32_t doneFrames, int32_t doneSamples,
                    int32_t totalFrames, int32_t totalSamples) {
  if (status == 0) return 100;
  if (status != 2 && status != 3) return 0;
  const double share = totalFrames > 0    ? double(doneFrames) / totalFrames
                       : totalSamples > 0 ? double(doneSamples) / totalSamples
                                          : 0.0;
  return static_cast<int>(std::nearbyint(std::clamp(share, 0.0, 1.0) * 100));
}

// ---- the callbacks

void QOR_CALL VideoSourceProc(QorHandle mData, int32_t blockNum) {
  InCallback([&](Conversion* run) {
    NameSourceBlock(run ? run->videoList : nullptr, mData, blockNum);
  });
}

void QOR_CALL AudioSourceProc(QorHandle mData, int32_t blockNum) {
  InCallback([&](Conversion* run) {
    NameSourceBlock(run ? run->audioList : nullptr, mData, blockNum);
  });
}

void QOR_CALL VideoFrameProc(QorHandle, QorHandle mImg, int32_t) {
  InCallback([&](Conversion* run) {
    if (!run || run->caption.isEmpty()) return;
    // A fresh text record per frame keeps every frame's drawing alike.
    const QorHandle text = LibQor::QorTextAlloc();
    Finally freeText([text] { LibQor::QorTextFree(text); });
    LibQor::QorTextSetFont(text, kCaptionFont, 20, 1);
    const int32_t lightGrey = LibQor::QorRGB(192, 192, 192);
    const int32_t darkGrey = LibQor::QorRGB(96, 96, 96);
    LibQor::QorTextSetColor(text, lightGrey, darkGrey, 8421504, 1);
    LibQor::QorTextShadow(text, 2, 1, 1);
    LibQor::QorTextOut(mImg, text, kCaptionX, kCaptionY, run->caption.toLocal8Bit().constData());
  });
}

// The sound passes unchanged.
void QOR_CALL AudioFrameProc(QorHandle, QorHandle, int32_t) {}

// Each report of the library is shown in the window at once: the
// conversion holds the window thread until it ends.
void QOR_CALL ProgressProc(QorHandle mData, int32_t status, int32_t doneFrames,
                           int32_t doneSamples) {
  InCallback([&](Conversion* run) {
    if (!run || !run->showsProgress) return;
    const QString elapsed = status == 0 ? TimeText(LibQor::QorGetElapsedTime(mData)) : QString();
    const QString remaining =
        status == 3
            ? TimeText(LibQor::QorGetRemainingTime(mData, run->totalFrames, run->totalSamples))
            : QString();
    run->view.ShowProgress(
        ProgressText(status, doneFrames, doneSamples, elapsed, remaining),
        ProgressPercent(status, doneFrames, doneSamples, run->totalFrames, run->totalSamples));
  });
}

// Any unreadable source stops the conversion and keeps what was written.
void QOR_CALL ErrorProc(QorHandle, const char*, int32_t* action) {
  if (action) *action = kAnswerStopKeep;
}

}  // namespace Convert
