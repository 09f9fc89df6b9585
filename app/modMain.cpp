#include "modMain.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>
#include <QSettings>
#include <QWidget>
#include <QStandardPaths>
#include <algorithm>
#include <cmath>
#include <memory>

#include "AppDialogs.h"
#include "LibQor.h"
#include "frmImage.h"
#include "frmSplash.h"

namespace modMain {

QString DefaultPath;
QString ThumbDir;
bool ImageEdited = false;
QString EditedImagePath;
bool CancelSequence = false;

namespace {

constexpr const char* kSettingsApp = "QuillonCfg";
constexpr const char* kSettingsSection = "Init";

std::unique_ptr<QSettings> OpenSettings() {
  auto settings = std::make_unique<QSettings>(
      QSettings::IniFormat, QSettings::UserScope, kSettingsApp);
  settings->beginGroup(kSettingsSection);
  return settings;
}

}  // namespace

int Px(double twips) { return static_cast<int>(std::lround(twips / kTwipsPerPixel)); }

void Place(QWidget* widget, double left, double top, double width, double height) {
  widget->setGeometry(Px(left), Px(top), std::max(0, Px(width)), std::max(0, Px(height)));
}

QString AppDir() {
  const QString forced = qEnvironmentVariable(kAppDirEnv);
  if (!forced.isEmpty()) return QDir::cleanPath(QDir::fromNativeSeparators(forced));
  return QDir::cleanPath(
      QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
      "/" + kAppTitle);
}

QString ShareDir() {
  return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                         "/../share/" + kAppTitle);
}

QString GetSetting(const QString& key, const QString& defaultValue) {
  return OpenSettings()->value(key, defaultValue).toString();
}

void SaveSetting(const QString& key, const QString& value) {
  OpenSettings()->setValue(key, value);
}

void LoadStartupSettings() {
  const QString dir = AppDir();
  // mkpath creates the data folder itself on the first start as well.
  QDir().mkpath(dir + "/thumbs");
  QDir().mkpath(dir + "/images");
  DefaultPath = GetSetting("DefaultPath", dir + "/images");
  ThumbDir = GetSetting("ThumbDir", dir + "/thumbs");
  if (!QFileInfo(ThumbDir).isDir()) {
    ThumbDir = dir + "/thumbs";
    SaveSetting("ThumbDir", ThumbDir);
  }
}

bool LibraryWritesExtension(const QString& ext) {
  static const QStringList kNoWriter = {"RLE", "JPE", "JIF", "JFIF", "PGM", "RGBA", "BW"};
  return !kNoWriter.contains(ext.toUpper());
}

QString NoWriterTip(const QString& ext) {
  return QString("The library writes no .%1 files.").arg(ext.toLower());
}

QString ChangeExtension(const QString& path, const QString& ext) {
  QString lower = ext.contains('.') ? ext.mid(1) : ext;
  lower = lower.toLower();
  // Only the file name's own "." counts: a folder's dot is no extension.
  const qsizetype dot = path.lastIndexOf('.');
  if (dot < 0 || dot < path.lastIndexOf('/')) return path + "." + lower;
  return path.left(dot + 1) + lower;
}

QString VersionText(int major, int minor, int revision) {
  return QString("Version %1.%2.%3").arg(major).arg(minor).arg(revision);
}

QString ProgramVersionText() {
  return VersionText(QUILLON_VERSION_MAJOR, QUILLON_VERSION_MINOR,
                     QUILLON_VERSION_PATCH);
}

int SplashMilliseconds() {
  bool ok = false;
  const int ms = qEnvironmentVariableIntValue(kSplashEnv, &ok);
  return ok && ms >= 0 ? ms : kSplashDefaultMs;
}

bool IsNumeric(const QString& text) {
  bool ok = false;
  const double value = text.trimmed().toDouble(&ok);
  return ok && std::isfinite(value);
}

double Val(const QString& text) {
  return IsNumeric(text) ? text.trimmed().toDouble() : 0.0;
}

bool LocksDepthText(const QKeyEvent& key) {
  switch (key.key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape:
      return false;
    default:
      return !(key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
  }
}

QScreen* ScreenOf(const QWidget* window) {
  if (!window) return QGuiApplication::primaryScreen();
  const QWidget* owner = window->parentWidget() ? window->parentWidget()->window() : window;
  // Where the owner stands decides, also before the window system has
  // told it which screen it moved to.
  if (owner->isVisible())
    if (QScreen* screen = QGuiApplication::screenAt(owner->geometry().center())) return screen;
  // A window of its own that is not on show yet opens on the main screen.
  if (owner != window)
    if (QScreen* screen = owner->screen()) return screen;
  return QGuiApplication::primaryScreen();
}

void CentreOn(QWidget* window, const QScreen* screen) {
  if (!screen) return;
  const QRect area = screen->geometry();
  window->move(area.x() + area.width() / 2 - window->width() / 2,
               area.y() + area.height() / 2 - window->height() / 2);
}

void BringToFront(QWidget* window) {
  window->raise();
  window->activateWindow();
}

int ExecInFront(QDialog* dialog) {
  // Once the modal loop has shown the dialog: before that a window manager
  // may still stack it under its owner.
  QTimer::singleShot(0, dialog, [dialog] { BringToFront(dialog); });
  return dialog->exec();
}

QString BrowseForFolder(QWidget* owner, const QString& title) {
  return AppDialogs::Folder(owner, title);
}

void Guarded(QWidget* owner, const std::function<void()>& body) {
  try {
    body();
  } catch (const LibQor::BindError& e) {
    AppDialogs::Message(owner, QString::fromLocal8Bit(e.what()), kAppTitle,
                        AppDialogs::Buttons::Ok, AppDialogs::Icon::Critical);
  }
}

Started StartUp() {
  auto* main = new frmImage::Form();
  auto* splash = new frmSplash::Form([main] { main->show(); });
  splash->show();
  return {main, splash};
}

int Main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(kAppTitle);
  QApplication::setApplicationVersion(QString("%1.%2.%3")
                                          .arg(QUILLON_VERSION_MAJOR)
                                          .arg(QUILLON_VERSION_MINOR)
                                          .arg(QUILLON_VERSION_PATCH));
  // The main window goes before the application object.
  std::unique_ptr<frmImage::Form> main(StartUp().main);
  return app.exec();
}

}  // namespace modMain
