#include "AppTestSupport.h"

#include <dlfcn.h>

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QSettings>
#include <QTimer>
#include <cstdlib>
#include <cstring>

namespace apptest {

AppDialogs::Answer ScriptedDialogs::Message(QWidget*, const QString& text,
                                            const QString& caption,
                                            AppDialogs::Buttons buttons,
                                            AppDialogs::Icon icon) {
  messages.push_back({text, caption, icon});
  if (buttons != AppDialogs::Buttons::YesNo) return AppDialogs::Answer::Ok;
  if (questionAnswers.empty()) return AppDialogs::Answer::Yes;
  const AppDialogs::Answer answer = questionAnswers.front();
  questionAnswers.pop_front();
  return answer;
}

QString ScriptedDialogs::OpenFile(QWidget*, const AppDialogs::FileRequest& request) {
  fileRequests.push_back(request);
  if (fileAnswers.empty()) return QString();
  QString answer = fileAnswers.front();
  fileAnswers.pop_front();
  return answer;
}

QString ScriptedDialogs::SaveFile(QWidget* owner, const AppDialogs::FileRequest& request) {
  return OpenFile(owner, request);
}

QString ScriptedDialogs::Folder(QWidget*, const QString& title) {
  fileRequests.push_back({title, QString(), {}});
  if (fileAnswers.empty()) return QString();
  QString answer = fileAnswers.front();
  fileAnswers.pop_front();
  return answer;
}

void ScriptedDialogs::OpenUrl(const QUrl& url) { urls.push_back(url); }

bool ScriptedDialogs::Printer(QWidget*, QPrinter& printer) {
  printPresets.push_back(printer.pageLayout().orientation());
  if (printAnswers.empty()) return false;
  const PrintAnswer answer = printAnswers.front();
  printAnswers.pop_front();
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(answer.pdfFile);
  if (answer.orientation) printer.setPageOrientation(*answer.orientation);
  return true;
}

void AppTest::SetUp() {
  ASSERT_TRUE(tmp_.isValid());
  qputenv("QUILLON_APPDIR", AppDir().toLocal8Bit());
  qputenv("QUILLON_SPLASH_MS", "30");
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, tmp_.path() + "/config");
  AppDialogs::Install(&dialogs);
}

void AppTest::TearDown() {
  AppDialogs::Install(nullptr);
  LibQor::Unload();
  qunsetenv("QUILLON_LIBQOR");
}

QString AppTest::SettingsFile() const { return tmp_.path() + "/config/QuillonCfg.ini"; }

Stub::Stub(bool partial) : path_(partial ? QOR_STUB_PARTIAL_FILE : QOR_STUB_FILE) {
  LibQor::Unload();
  qputenv("QUILLON_LIBQOR", path_.toLocal8Bit());
  // The same file the binding loads, so both share the stub's records.
  handle_ = dlopen(path_.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!handle_) ADD_FAILURE() << dlerror();
  Reset();
}

template <class F>
F* Stub::Get(const char* name) const {
  F* fn = handle_ ? reinterpret_cast<F*>(dlsym(handle_, name)) : nullptr;
  if (!fn) ADD_FAILURE() << "stub lacks " << name;
  return fn;
}

QStringList Stub::Calls() const {
  auto* calls = Get<const char*()>("StubCalls");
  return calls ? QString::fromLocal8Bit(calls()).split('\n', Qt::SkipEmptyParts) : QStringList();
}

void Stub::Reset() const {
  if (auto* reset = Get<void()>("StubReset")) reset();
}

void Stub::SetFileInfo(const LibQor::FileInfo& info) const {
  if (auto* set = Get<void(const void*)>("StubSetFileInfo")) set(&info);
}

void Stub::SetUnreadable(const QString& path) const {
  if (auto* set = Get<void(const char*)>("StubSetUnreadable")) set(path.toLocal8Bit().constData());
}

void Stub::SetListCounts(int frames, int samples) const {
  if (auto* set = Get<void(int32_t, int32_t)>("StubSetListCounts")) set(frames, samples);
}

void Stub::SetDialogAnswer(int answer) const {
  if (auto* set = Get<void(int32_t)>("StubSetDialogAnswer")) set(answer);
}

void Stub::SetDialogFailure(int status) const {
  if (auto* set = Get<void(int32_t)>("StubSetDialogFailure")) set(status);
}

void Stub::SetConvertResult(int status, bool sourceError) const {
  if (auto* set = Get<void(int32_t, int32_t)>("StubSetConvertResult")) set(status, sourceError);
}

std::string AppTest::BindRealLibrary(const std::vector<const char*>& exports) {
  void* lib = dlopen(QOR_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!lib) {
    ADD_FAILURE() << dlerror();
    return QOR_LIBRARY_FILE;
  }
  for (const char* name : exports)
    if (!dlsym(lib, name)) return name;
  LibQor::Unload();
  qputenv("QUILLON_LIBQOR", QOR_LIBRARY_FILE);
  return {};
}

void WithStubWindow::SetUp() {
  AppTest::SetUp();
  stub = std::make_unique<Stub>();
  form = std::make_unique<frmImage::Form>();
  c = &form->controls();
}

void WithStubWindow::TearDown() {
  form.reset();
  AppTest::TearDown();
}

QString WithStubWindow::Open(const QString& name, const LibQor::FileInfo& info, QSize size) {
  const QString path = TempPath(name);
  EXPECT_TRUE(SaveBmp(RampPicture(size.width(), size.height()), path));
  stub->SetFileInfo(info);
  dialogs.fileAnswers.push_back(path);
  form->mnuOpen_Click();
  return path;
}

LibQor::FileInfo StillInfo(int width, int height, int bits) {
  LibQor::FileInfo info{};
  std::strcpy(info.filter, "Windows Bitmap (*.bmp)");
  info.totalSize = 54.0 + width * height * bits / 8;
  info.hasPictures = info.picturesReadable = -1;
  info.frameCount = 1;
  info.fps = 30.0;
  info.width = width;
  info.height = height;
  info.bitsPerPixel = bits;
  info.bytesPerPixel = (bits + 7) / 8;
  return info;
}

LibQor::FileInfo MovieInfo(int width, int height, int bits, int frames) {
  LibQor::FileInfo info = StillInfo(width, height, bits);
  std::strcpy(info.filter, "AVI Movie (*.avi)");
  info.frameCount = frames;
  info.fps = 25.0;
  info.videoDuration = frames / 25.0;
  return info;
}

QImage RampPicture(int width, int height) {
  QImage image(width, height, QImage::Format_RGB888);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      image.setPixelColor(x, y, QColor(x * 255 / std::max(1, width - 1),
                                       y * 255 / std::max(1, height - 1), 96));
  QPainter p(&image);
  p.fillRect(width / 4, height / 4, width / 4, height / 4, Qt::white);
  return image;
}

bool SaveBmp(const QImage& image, const QString& path) {
  QDir().mkpath(QFileInfo(path).path());
  return image.save(path, "BMP");
}

ImageDifference Compare(const QImage& a, const QImage& b, int tolerance) {
  if (a.size() != b.size() || a.isNull()) return {};
  const QImage x = a.convertToFormat(QImage::Format_RGB32);
  const QImage y = b.convertToFormat(QImage::Format_RGB32);
  ImageDifference diff{0, 0.0};
  long over = 0;
  for (int row = 0; row < x.height(); ++row) {
    const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
    const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
    for (int col = 0; col < x.width(); ++col) {
      const int d = std::max({std::abs(qRed(p[col]) - qRed(q[col])),
                              std::abs(qGreen(p[col]) - qGreen(q[col])),
                              std::abs(qBlue(p[col]) - qBlue(q[col]))});
      diff.maxChannel = std::max(diff.maxChannel, d);
      if (d > tolerance) ++over;
    }
  }
  diff.shareOver = double(over) / (double(x.width()) * x.height());
  return diff;
}

void WithViewer(const std::function<void(frmFullScreen::Form*)>& check) {
  auto* poll = new QTimer;
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, [poll, check] {
    frmFullScreen::Form* viewer = frmFullScreen::Current();
    if (!viewer || !viewer->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    check(viewer);
    if (frmFullScreen::Current()) frmFullScreen::Current()->close();
  });
  poll->start();
}

bool RunPeer(const QString& program, const QStringList& args) {
  QProcess process;
  process.start(program, args);
  if (!process.waitForStarted()) return false;
  process.waitForFinished(-1);
  return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

}  // namespace apptest
