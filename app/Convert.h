// The conversion drivers: the application's only road into the library's
// conversion. Three drivers run one conversion handle each (a frame, a given
// file, a thumbnail); the frame range writes numbered stills through the
// single-image exports. A window hands them a request and a view of itself;
// the drivers know nothing else of it. The six host callbacks are plain C
// functions that the library calls back on the window thread from inside
// QorConvert.
#pragma once

#include <QString>
#include <cstdint>

#include "AppDialogs.h"
#include "qor.h"

class QWidget;

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

// What a window asks to convert.
struct Request {
  QString source;
  int frame = 1;            // the frame chosen, 1-based
  double frameCount = 0;    // the source's frames as the window shows them
  Target target;
  QString caption;          // drawn on every frame; empty for none
  QString start, end;       // the frame range's boxes
};

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

inline constexpr double kFrameRate = 30000.0 / 1001.0;
inline constexpr int32_t kVideoFileType = 8;
inline constexpr int32_t kAudioFileType = 16;
inline constexpr int32_t kFormatAvi = 6;
inline constexpr int32_t kFormatMpeg = 11;
inline constexpr int32_t kFormatMpegAudio = 18;
inline constexpr const char* kDialogTitle = "Output File Settings";
inline constexpr const char* kCaptionFont = "Arial";
inline constexpr int kCaptionX = 10;
inline constexpr int kCaptionY = 8;
// Our own check: the library would take any text as 0 and clamp it.
inline constexpr const char* kSizeNotNumeric =
    "Please enter numeric values for the output width and height.";

// The request's source (a still, or its chosen frame) to its target.
void ConvertFrame(const Request& request, View& view);
// source (the edited picture) to the request's target.
void ConvertFile(const QString& source, const Request& request, View& view);
// The thumbnail: the same frame rule as ConvertFrame, to the thumbnail
// window's target.
void ConvertThumbnail(const Request& request, View& view);
// Frames start..end of the request's source as numbered stills.
void ConvertSequence(const Request& request, View& view);
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
// True for the movie outputs (AVI, MPEG, as the library names the format of
// the output's name), whose codecs take sides of multiples of 16.
bool IsMovieOutput(const QString& output);

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
