// What the dialog tests share: the host's application object, a stand-in
// for the user at every modal dialog, and mouse work on sliders.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <memory>

#include "dialogs/CtlPopup.h"
#include "dialogs/wFormBasic.h"
#include "platform/base/UiLayer.h"

namespace DialogTest {

// A test with a Qt application, as a host with widgets has, and no hook or
// scripted answers left over for the next test.
class WithApp : public ::testing::Test {
 protected:
  void SetUp() override {
    app = std::make_unique<QApplication>(argc, argv);
    headless.echo = false;
    Ui::SetBackend(&headless);
  }
  void TearDown() override {
    wFormBasic::SetModalHook({});
    CtlPopup::SetPopupHook({});
    Ui::SetBackend(nullptr);
    app.reset();
  }
  int argc = 1;
  char name[16] = "qor_tests";
  char* argv[2] = {name, nullptr};
  std::unique_ptr<QApplication> app;
  Ui::HeadlessBackend headless;  // scripted Yes/No answers
};

// The centre of a slider's handle in the slider's own coordinates.
inline QPoint HandleCentre(QSlider* s) {
  QStyleOptionSlider opt;
  opt.initFrom(s);
  opt.orientation = s->orientation();
  opt.minimum = s->minimum();
  opt.maximum = s->maximum();
  opt.sliderPosition = s->sliderPosition();
  opt.sliderValue = s->value();
  opt.singleStep = s->singleStep();
  opt.pageStep = s->pageStep();
  opt.subControls = QStyle::SC_All;
  return s->style()
      ->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, s)
      .center();
}

// Presses the handle and drags it right, pixel by pixel, until the slider
// shows target; the button stays down.
inline void PressAndDragTo(QSlider* s, int target) {
  QPoint at = HandleCentre(s);
  QTest::mousePress(s, Qt::LeftButton, Qt::NoModifier, at);
  for (int i = 0; i < s->width() && s->value() < target; i++) {
    at.rx()++;
    QTest::mouseMove(s, at);
  }
}

inline void Release(QSlider* s) {
  QTest::mouseRelease(s, Qt::LeftButton, Qt::NoModifier, HandleCentre(s));
}

}  // namespace DialogTest
