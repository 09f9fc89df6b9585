// Shared by the application's tests: a data folder and settings of their
// own, dialogs that record what they show and answer from a script, and the
// recording stand-in of the library.
#pragma once

#include <gtest/gtest.h>

#include <QEvent>
#include <QImage>
#include <QObject>
#include <QPageLayout>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AppDialogs.h"
#include "frmFullScreen.h"
#include "frmImage.h"
#include "LibQor.h"

namespace apptest {

class ScriptedDialogs : public AppDialogs::Port {
 public:
  struct Shown {
    QString text;
    QString caption;
    AppDialogs::Icon icon;
  };
  AppDialogs::Answer Message(QWidget*, const QString& text, const QString& caption,
                             AppDialogs::Buttons buttons, AppDialogs::Icon icon) override;
  QString OpenFile(QWidget*, const AppDialogs::FileRequest& request) override;
  QString SaveFile(QWidget*, const AppDialogs::FileRequest& request) override;
  QString Folder(QWidget*, const QString& title) override;
  void OpenUrl(const QUrl& url) override;
  bool Printer(QWidget*, QPrinter& printer) override;

  // The printer dialog prints into a PDF file, in the orientation the user
  // chose (none: as preset); no answer left is Cancel.
  struct PrintAnswer {
    QString pdfFile;
    std::optional<QPageLayout::Orientation> orientation;
  };
  std::deque<PrintAnswer> printAnswers;
  std::vector<QPageLayout::Orientation> printPresets;

  std::vector<Shown> messages;
  // Answers to Yes/No questions, in order; none left: Yes.
  std::deque<AppDialogs::Answer> questionAnswers;
  std::vector<AppDialogs::FileRequest> fileRequests;
  std::deque<QString> fileAnswers;  // empty answer: Cancel
  std::vector<QUrl> urls;
};

// Every test gets a fresh data folder (QUILLON_APPDIR), settings file and
// scripted dialogs; the splash lasts a few milliseconds.
class AppTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  QString AppDir() const { return tmp_.path() + "/appdata"; }
  QString TempPath(const QString& name) const { return tmp_.path() + "/" + name; }
  QString SettingsFile() const;
  // Binds the windows to the real library. Gives the first of the exports
  // named that it lacks (the test then skips), or an empty text; a library
  // that cannot be loaded fails the test.
  std::string BindRealLibrary(const std::vector<const char*>& exports);

  ScriptedDialogs dialogs;

 private:
  QTemporaryDir tmp_;
};

// The recording stand-in library, bound through QUILLON_LIBQOR.
class Stub {
 public:
  // partial: the build without QorGetFileInfo.
  explicit Stub(bool partial = false);
  QStringList Calls() const;
  void Reset() const;
  void SetFileInfo(const LibQor::FileInfo& info) const;
  void SetUnreadable(const QString& path) const;
  // Conversion scripting: frames and samples each readable listed file adds,
  // the output-settings dialog's answer, QorConvert's status and whether its
  // first source fails to read.
  void SetListCounts(int frames, int samples) const;
  void SetDialogAnswer(int answer) const;
  // The output-settings dialog fails with this status (999, 1000).
  void SetDialogFailure(int status) const;
  void SetConvertResult(int status, bool sourceError = false) const;
  QString Path() const { return path_; }

 private:
  template <class F>
  F* Get(const char* name) const;
  QString path_;
  void* handle_ = nullptr;
};

// The main window over the recording stand-in.
class WithStubWindow : public AppTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Opens a ramp picture through the menu with the stand-in describing it.
  QString Open(const QString& name, const LibQor::FileInfo& info, QSize size = {64, 48});

  std::unique_ptr<Stub> stub;
  std::unique_ptr<frmImage::Form> form;
  const frmImage::Controls* c = nullptr;
};

LibQor::FileInfo StillInfo(int width, int height, int bits);
LibQor::FileInfo MovieInfo(int width, int height, int bits, int frames);

// A test picture: a colour ramp with a mark, saved as a 24-bit BMP.
QImage RampPicture(int width, int height);
bool SaveBmp(const QImage& image, const QString& path);

// Largest difference of any channel and the share of pixels that differ by
// more than tolerance; images of different size differ everywhere.
struct ImageDifference {
  int maxChannel = 255;
  double shareOver = 1.0;
};
ImageDifference Compare(const QImage& a, const QImage& b, int tolerance);

// Runs check once the full-screen viewer is on show inside its modal loop,
// then closes it (unless check did).
void WithViewer(const std::function<void(frmFullScreen::Form*)>& check);

// Runs seen each time the watched object gets an event of one type, before
// the object handles it.
class EventSpy : public QObject {
 public:
  EventSpy(QObject* watched, QEvent::Type type, std::function<void()> seen)
      : watched_(watched), type_(type), seen_(std::move(seen)) {
    watched_->installEventFilter(this);
  }
  ~EventSpy() override { watched_->removeEventFilter(this); }
  bool eventFilter(QObject* object, QEvent* event) override {
    if (object == watched_ && event->type() == type_) seen_();
    return false;
  }

 private:
  QObject* watched_;
  QEvent::Type type_;
  std::function<void()> seen_;
};

// Runs a program; false when it cannot start or fails.
bool RunPeer(const QString& program, const QStringList& args);

}  // namespace apptest
