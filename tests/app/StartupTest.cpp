// Start-up, settings, splash, about box and help.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include "AppTestSupport.h"
#include "HelpWindow.h"
#include "frmAbout.h"
#include "frmImage.h"
#include "frmSplash.h"
#include "modMain.h"

namespace {

using apptest::AppTest;

class StartupTest : public AppTest {
 protected:
  QSettings StoredSettings() const { return QSettings(SettingsFile(), QSettings::IniFormat); }
};

TEST_F(StartupTest, FirstStartCreatesBothFoldersAndUsesDefaultsWithoutSavingThem) {
  ASSERT_FALSE(QFileInfo::exists(AppDir()));
  modMain::LoadStartupSettings();

  EXPECT_TRUE(QFileInfo(AppDir() + "/thumbs").isDir());
  EXPECT_TRUE(QFileInfo(AppDir() + "/images").isDir());
  EXPECT_EQ(modMain::DefaultPath, AppDir() + "/images");
  EXPECT_EQ(modMain::ThumbDir, AppDir() + "/thumbs");
  QSettings stored = StoredSettings();
  EXPECT_FALSE(stored.contains("Init/DefaultPath"));
  EXPECT_FALSE(stored.contains("Init/ThumbDir"));  // the folder exists now

  // A second start finds the folders and changes nothing.
  modMain::LoadStartupSettings();
  EXPECT_EQ(modMain::ThumbDir, AppDir() + "/thumbs");
  EXPECT_FALSE(StoredSettings().contains("Init/ThumbDir"));
}

TEST_F(StartupTest, StoredThumbFolderIsKeptWhileItExistsAndResetAndSavedWhenGone) {
  const QString kept = TempPath("mythumbs");
  const QString output = TempPath("myoutput");
  QDir().mkpath(kept);
  {
    QSettings stored = StoredSettings();
    stored.setValue("Init/ThumbDir", kept);
    stored.setValue("Init/DefaultPath", output);
  }
  modMain::LoadStartupSettings();
  EXPECT_EQ(modMain::ThumbDir, kept);
  EXPECT_EQ(modMain::DefaultPath, output);  // read as it is, never created

  QDir(kept).removeRecursively();
  modMain::LoadStartupSettings();
  EXPECT_EQ(modMain::ThumbDir, AppDir() + "/thumbs");
  QSettings stored = StoredSettings();
  EXPECT_EQ(stored.value("Init/ThumbDir").toString(), AppDir() + "/thumbs");
  EXPECT_EQ(stored.value("Init/DefaultPath").toString(), output);
  EXPECT_FALSE(QFileInfo::exists(output));
}

TEST_F(StartupTest, MainWindowIsHiddenWhileTheSplashShowsAndClicksDoNotEndIt) {
  qputenv("QUILLON_SPLASH_MS", "400");
  const modMain::Started started = modMain::StartUp();
  QPointer<frmSplash::Form> splash = started.splash;
  std::unique_ptr<frmImage::Form> main(started.main);

  EXPECT_EQ(splash->Timer1()->interval(), 400);
  EXPECT_TRUE(splash->isVisible());
  EXPECT_FALSE(main->isVisible());
  QTest::mouseClick(splash, Qt::LeftButton);
  QTest::mouseClick(splash->lblVersion(), Qt::LeftButton);
  EXPECT_TRUE(splash->isVisible());
  EXPECT_FALSE(main->isVisible());

  EXPECT_TRUE(QTest::qWaitFor([&] { return main->isVisible(); }, 5000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return splash.isNull(); }, 5000));
  // The main window's load created the data folders.
  EXPECT_TRUE(QFileInfo(AppDir() + "/thumbs").isDir());
}

TEST_F(StartupTest, VersionTextsAndSplashTime) {
  EXPECT_EQ(modMain::VersionText(2, 1, 5), "Version 2.1.5");
  EXPECT_EQ(modMain::ProgramVersionText(), "Version 2.8.0");
  frmSplash::Form splash(nullptr);
  EXPECT_EQ(splash.lblVersion()->text(), "Version 2.8.0");
  frmAbout::Form about(nullptr);
  EXPECT_EQ(about.lblVersion()->text(), "Version 2.8.0");
  EXPECT_EQ(about.windowTitle(), "About QuillonStudio");

  qunsetenv("QUILLON_SPLASH_MS");
  EXPECT_EQ(modMain::SplashMilliseconds(), 3000);
  qputenv("QUILLON_SPLASH_MS", "not a number");
  EXPECT_EQ(modMain::SplashMilliseconds(), 3000);
}

TEST_F(StartupTest, AboutBoxSystemInfoScrollingWarningAndServiceLink) {
  QPointer<frmAbout::Form> about = new frmAbout::Form(nullptr);
  about->show();
  EXPECT_EQ(about->cmdSysInfo()->text(), "&System Info...");
  QTest::mouseClick(about->cmdSysInfo(), Qt::LeftButton);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "System Information Is Unavailable At This Time");
  EXPECT_TRUE(about->isVisible());

  // One pixel (15 twips) a tick; once wholly out on the left, back at the
  // right edge of the box.
  EXPECT_EQ(frmAbout::NextWarningLeft(10, 100, 50), 9);
  EXPECT_EQ(frmAbout::NextWarningLeft(-100, 100, 50), 50);
  EXPECT_EQ(frmAbout::NextWarningLeft(-99, 100, 50), -100);
  EXPECT_EQ(about->Timer1()->interval(), 150);
  const int start = about->ImageWarning()->x();
  EXPECT_TRUE(QTest::qWaitFor([&] { return about->ImageWarning()->x() < start; }, 3000));

  QTest::mouseClick(about->Label4(), Qt::LeftButton);
  ASSERT_EQ(dialogs.urls.size(), 1u);
  EXPECT_EQ(dialogs.urls[0].toString(), frmAbout::kServiceUrl);
  EXPECT_TRUE(QTest::qWaitFor([&] { return about.isNull(); }, 3000));
}

TEST_F(StartupTest, HelpContentsShowsThePagesAndAMissingPageGivesAMessage) {
  const QString contents = HelpWindow::ContentsPage();
  ASSERT_TRUE(QFileInfo(contents).isFile()) << contents.toStdString();

  // Every page the contents link to is there.
  QFile index(contents);
  ASSERT_TRUE(index.open(QIODevice::ReadOnly));
  const QString html = QString::fromUtf8(index.readAll());
  int links = 0;
  for (const auto& match : QRegularExpression("href=\"([^\"]+)\"").globalMatch(html)) {
    ++links;
    EXPECT_TRUE(QFileInfo(QFileInfo(contents).dir(), match.captured(1)).isFile())
        << match.captured(1).toStdString();
  }
  EXPECT_GE(links, 3);

  frmImage::Form form;
  form.mnuContents_Click();
  HelpWindow::Form* help = HelpWindow::Show(&form, contents);
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(help->isVisible());
  EXPECT_EQ(help->browser()->documentTitle(), "Quillon Studio Help");
  EXPECT_TRUE(dialogs.messages.empty());

  EXPECT_EQ(HelpWindow::Show(&form, TempPath("missing.html")), nullptr);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_TRUE(dialogs.messages[0].text.contains(TempPath("missing.html")));

  // Closing the main window closes every other window with it.
  QPointer<HelpWindow::Form> open = help;
  form.show();
  form.close();
  EXPECT_TRUE(open.isNull() || !open->isVisible());
}

TEST_F(StartupTest, TheFolderPickerAsksWithItsTitleAndGivesTheChoice) {
  dialogs.fileAnswers = {TempPath("chosen"), QString()};
  EXPECT_EQ(modMain::BrowseForFolder(nullptr, "Thumbnail Folder"), TempPath("chosen"));
  EXPECT_TRUE(modMain::BrowseForFolder(nullptr, "Thumbnail Folder").isEmpty());
  ASSERT_EQ(dialogs.fileRequests.size(), 2u);
  EXPECT_EQ(dialogs.fileRequests[0].title, "Thumbnail Folder");
}

}  // namespace
