#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>
#include <memory>

#include "platform/UiQt.h"
#include "platform/base/UiLayer.h"

namespace {

int g_argc = 1;
char g_name[] = "qor_tests";
char* g_argv[] = {g_name, nullptr};

// Presses a key in whatever modal box is open once the event loop runs.
void PressSoon(int key) {
  QTimer::singleShot(0, [key] {
    QWidget* box = QApplication::activeModalWidget();
    ASSERT_NE(box, nullptr);
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(box, &press);
  });
}

}  // namespace

TEST(UiLayer, HeadlessWithoutAnApplication) {
  EXPECT_FALSE(Ui::HostHasWidgets());
  auto* headless = dynamic_cast<Ui::HeadlessBackend*>(&Ui::CurrentBackend());
  ASSERT_NE(headless, nullptr);
  headless->echo = false;
  EXPECT_TRUE(Ui::YesNo("Q", "C", true));
  EXPECT_FALSE(Ui::YesNo("Q", "C", false));
  Ui::MessageBox("M", "C", Ui::kIconWarning);
  EXPECT_EQ(headless->shown.size(), 3u);
  EXPECT_EQ(headless->shown[2].icon, Ui::kIconWarning);
  // Asking never creates an application object.
  EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

TEST(UiLayer, ACoreApplicationIsNoWidgetsHost) {
  QCoreApplication app(g_argc, g_argv);
  EXPECT_FALSE(Ui::HostHasWidgets());
  EXPECT_NE(dynamic_cast<Ui::HeadlessBackend*>(&Ui::CurrentBackend()), nullptr);
}

TEST(UiLayer, ScriptedAnswersComeFirst) {
  Ui::HeadlessBackend ui;
  ui.echo = false;
  Ui::SetBackend(&ui);
  ui.answers = {true, false};
  EXPECT_TRUE(Ui::YesNo("1", "C", false));
  EXPECT_FALSE(Ui::YesNo("2", "C", true));
  EXPECT_TRUE(Ui::YesNo("3", "C", true));  // queue empty: the default
  EXPECT_EQ(ui.shown.size(), 3u);
  Ui::SetBackend(nullptr);
  EXPECT_NE(&Ui::CurrentBackend(), &ui);
}

TEST(UiLayer, QtBackendWhenTheHostRunsWidgets) {
  QApplication app(g_argc, g_argv);
  EXPECT_TRUE(Ui::HostHasWidgets());
  EXPECT_EQ(dynamic_cast<Ui::HeadlessBackend*>(&Ui::CurrentBackend()), nullptr);

  // Enter at once takes the default button.
  PressSoon(Qt::Key_Return);
  EXPECT_FALSE(Ui::YesNo("Overwrite?", "Title", false));
  PressSoon(Qt::Key_Return);
  EXPECT_TRUE(Ui::YesNo("Overwrite?", "Title", true));
  PressSoon(Qt::Key_Return);
  Ui::MessageBox("Done", "Title", Ui::kIconError);

  Ui::SetWaitCursor(true);
  Ui::SetWaitCursor(true);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  Ui::SetWaitCursor(false);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  Ui::ProcessMessages();
}

// The base owns the host's side: an empty table (or slot) is a process
// without a window host even where Qt Widgets run.
TEST(UiLayer, AnEmptyHostTableIsNoWindowHost) {
  QApplication app(g_argc, g_argv);
  QWidget window;
  window.setWindowTitle("Host");
  window.show();
  window.activateWindow();
  QApplication::setApplicationDisplayName("Host app");
  ASSERT_TRUE(Ui::HostHasWidgets());
  EXPECT_EQ(Ui::HostAppTitle(), "Host app");

  Ui::InstallHost(nullptr);
  EXPECT_FALSE(Ui::HostHasWidgets());
  EXPECT_EQ(Ui::ActiveWindow(), nullptr);
  EXPECT_EQ(Ui::HostAppTitle(), "");
  EXPECT_NE(dynamic_cast<Ui::HeadlessBackend*>(&Ui::CurrentBackend()), nullptr);

  const Ui::Host onlyWidgets{UiQt::Host().hasWidgets};
  Ui::InstallHost(&onlyWidgets);
  EXPECT_TRUE(Ui::HostHasWidgets());
  EXPECT_EQ(Ui::HostAppTitle(), "");
  EXPECT_NE(dynamic_cast<Ui::HeadlessBackend*>(&Ui::CurrentBackend()), nullptr);

  Ui::InstallHost(&UiQt::Host());
  EXPECT_EQ(Ui::HostAppTitle(), "Host app");
  EXPECT_EQ(dynamic_cast<Ui::HeadlessBackend*>(&Ui::CurrentBackend()), nullptr);
}
