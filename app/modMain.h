// The application module: its entry procedure, the folders and per-user
// settings it keeps, and the small routines every window shares.
#pragma once

#include <QString>
#include <functional>

class QDialog;
class QKeyEvent;
class QScreen;
class QWidget;

namespace frmImage {
class Form;
}
namespace frmSplash {
class Form;
}

namespace modMain {

// Window geometry is laid out in twips at a fixed 15 twips per pixel.
constexpr int kTwipsPerPixel = 15;
int Px(double twips);
// Places a widget by a layout written in twips; negative sizes become empty.
void Place(QWidget* widget, double left, double top, double width, double height);

inline constexpr const char* kAppTitle = "QuillonStudio";
inline constexpr const char* kProductName = "Quillon Studio";
inline constexpr int kSplashDefaultMs = 3000;
// Tests shorten the splash through this variable (milliseconds).
inline constexpr const char* kSplashEnv = "QUILLON_SPLASH_MS";
// Overrides the per-user data folder.
inline constexpr const char* kAppDirEnv = "QUILLON_APPDIR";

// Application-wide state.
extern QString DefaultPath;      // folder of the proposed output name
extern QString ThumbDir;         // thumbnail folder
extern bool ImageEdited;         // the adjustment window handed back a picture
extern QString EditedImagePath;  // that picture's file while ImageEdited holds
extern bool CancelSequence;      // the cancel button's request to a frame range

// path with its extension replaced by ext (a leading "." of ext dropped,
// lowercased); a file name without "." gets "." + ext appended.
QString ChangeExtension(const QString& path, const QString& ext);

// Whether the library has a writer for a format option's extension (RLE,
// JPE, JIF, JFIF, PGM, RGBA and BW name none), and the tool tip of an option
// shown disabled for that reason.
bool LibraryWritesExtension(const QString& ext);
QString NoWriterTip(const QString& ext);

// The folder of the intermediate files, "thumbs" and "images" (no trailing
// separator).
QString AppDir();
// Read-only resources (help pages) of the build or install tree.
QString ShareDir();

// Per-user settings of section "Init", stored as strings.
QString GetSetting(const QString& key, const QString& defaultValue);
void SaveSetting(const QString& key, const QString& value);

// The settings part of the main window's load: the two folders, DefaultPath
// and ThumbDir. Every step skips its own failure.
void LoadStartupSettings();

QString VersionText(int major, int minor, int revision);
QString ProgramVersionText();
int SplashMilliseconds();

// Numeric tests of the window texts: a number with optional sign, fraction
// and exponent, blanks around it allowed.
bool IsNumeric(const QString& text);
// Value of a numeric text, 0 for any other.
double Val(const QString& text);

// The depth boxes keep their text: a key that would type or jump in the
// list is swallowed, while the arrows, the focus keys, Escape and keys
// held with Ctrl, Alt or Meta go through.
bool LocksDepthText(const QKeyEvent& key);

// The screen a window belongs to: its owner's when it has one, else the
// one it stands on, else (also for no window) the main screen.
QScreen* ScreenOf(const QWidget* window);
// Moves window to the middle of screen (its position on the desktop
// counts, so a screen beside the main one is not mistaken for it).
void CentreOn(QWidget* window, const QScreen* screen);
// A window a command opens comes to the front with the keyboard, over
// whatever window was in front before.
void BringToFront(QWidget* window);
// Shows dialog modally and brings it to the front once it is on screen.
int ExecInFront(QDialog* dialog);

// The folder picker; empty when the user cancels.
QString BrowseForFolder(QWidget* owner, const QString& title);

// Runs an event handler's body; a missing library or export ends it with a
// message to the user instead of ending the program.
void Guarded(QWidget* owner, const std::function<void()>& body);

struct Started {
  frmImage::Form* main;
  frmSplash::Form* splash;
};
// Loads the main window hidden and shows the splash over it; the splash's
// end shows the main window. Needs a running QApplication.
Started StartUp();
// The program's entry procedure.
int Main(int argc, char** argv);

}  // namespace modMain
