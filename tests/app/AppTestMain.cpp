// The application's tests run inside one QApplication, as the program does.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Without a display (test discovery, a plain ctest run) the windows are
  // drawn off screen.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName("QuillonStudio");
  // One font on every machine, so window pictures compare.
  QApplication::setFont(QFont("DejaVu Sans", 9));
  return RUN_ALL_TESTS();
}
