// The conversion drivers: the application's only road into the library's
// conversion. Three drivers run one conversion handle each (a frame, a given
// file, a thumbnail); the frame range writes numbered stills through the
// single-image exports. The six host callbacks are plain C functions that the
// library calls back on the window thread from inside QorConvert.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

#include "AppDialogs.h"
#include "qor.h"

class QComboBox;
class QLineEdit;
class QRadioButton;
class QWidget;

namespace frmImage {
class Form;
}

namespace Convert {

// What a window sets for its output: the output name, the size boxes' texts,
// the depth list's text and the first dithering option chosen (-1: none).
struct Target {
  QString output;
  QString width;
  QString height;
  QString depth;
  int dithering = -1;
};
Target TargetOf(const QLineEdit* output, const QLineEdit* width, const QLineEdit* height,
                const QComboBox* depth, const std::array<QRadioButton*, 3>& dithering);

// What a driver needs of the window it works for.
class View {
 public:
  enum class Work { Conversion, Range };
  virtual ~View() = default;
  // The window that owns the driver's messages.
  virtual QWidget* Window() = 0;
  // Busy while the library works: the wait pointer, and the progress shown
  // in place of the frame count until Unlock restores it. A range also
  // locks every command and offers its cancel button.
  virtual void Lock(Work work) = 0;
  virtual void Unlock() = 0;
  // A line of progress and the share done, 0..100.
  virtual void ShowProgress(const QString& text, int percent) = 0;
  // The picture file just written.
  virtual void ShowFrame(const QString& file) = 0;
  virtual AppDialogs::Answer Message(const QString& text, AppDialogs::Buttons buttons,
                                     AppDialogs::Icon icon) = 0;
};

// Module state of the running (or last) handle driver.
extern QorHandle ConvertHandle;
extern QorHandle VideoList;
extern QorHandle AudioList;
extern int32_t TotalFrames;
extern int32_t TotalSamples;

inline constexpr double kFrameRate = 30000.0 / 1001.0;
inline constexpr int32_t kVideoFileType = 8;
inline constexpr int32_t kAudioFileType = 16;
inline constexpr int32_t kFormatMpeg = 11;
inline constexpr int32_t kFormatMpegAudio = 18;
inline constexpr const char* kDialogTitle = "Output File Settings";
inline constexpr const char* kCaptionFont = "Arial";
inline constexpr int kCaptionX = 10;
inline constexpr int kCaptionY = 8;
// Our own check: the library would take any text as 0 and clamp it.
inline constexpr const char* kSizeNotNumeric =
    "Please enter numeric values for the output width and height.";

// The main window's source (a still, or the frame chosen on the slider) to the
// main window's output settings.
void ConvertFrame(frmImage::Form& main);
// source to the main window's output settings (the edited picture).
void ConvertFile(frmImage::Form& main, const QString& source);
// The main window's source, by the same frame rule, to the thumbnail window's
// settings; window gets the hourglass and owns the messages.
void ConvertThumbnail(frmImage::Form& main, View& window, const Target& thumbnail);
// Frames txtStart..txtEnd of the main window's source as numbered stills.
void ConvertSequence(frmImage::Form& main);
// True while ConvertSequence writes its files (it lets events run between
// frames, so a close of the main window can arrive meanwhile).
bool SequenceRunning();

// name + "_" + n before the file name's extension; a file name without one
// gets "_" + n appended.
QString MakeSequenceName(const QString& name, int n);
// The text of the last library call's outcome when it failed: an invalid
// output (status 1), an unexpected failure (999) or a library error (1000);
// empty otherwise.
QString LastFailureText();
inline constexpr const char* kNoPictures = "The source file holds no pictures to convert.";
// True for the movie outputs (AVI, MPEG), whose codecs take sides of
// multiples of 16.
bool IsMovieOutput(const QString& output);
// Bits per pixel of a depth list text; 24 for any other text.
int32_t DepthBits(const QString& depthText);

// The line the progress callback shows for a status of the library (0
// finished, 1 preparing, 2 palette pass, 3 writing), given the time texts
// it names.
QString ProgressText(int32_t status, int32_t doneFrames, int32_t doneSamples,
                     const QString& elapsed, const QString& remaining);
// The share of the pass done, 0..100: frames, or samples without frames.
int ProgressPercent(int32_t status, int32_t doneFrames, int32_t doneSamples,
                    int32_t totalFrames, int32_t totalSamples);

// The host callbacks.
void QOR_CALL VideoSourceProc(QorHandle mData, int32_t blockNum);
void QOR_CALL VideoFrameProc(QorHandle mData, QorHandle mImg, int32_t curFrame);
void QOR_CALL AudioSourceProc(QorHandle mData, int32_t blockNum);
void QOR_CALL AudioFrameProc(QorHandle mData, QorHandle mSnd, int32_t curSample);
void QOR_CALL ProgressProc(QorHandle mData, int32_t status, int32_t doneFrames,
                           int32_t doneSamples);
void QOR_CALL ErrorProc(QorHandle mData, const char* path, int32_t* action);

}  // namespace Convert
