// The user's part in the format dialogs' tests: the modal hook shows the
// form, works its controls and presses OK or Cancel; small helpers find
// and work single controls.
#pragma once

#include <QAction>
#include <QApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <string>

#include "DialogTestSupport.h"
#include "dialogs/CtlPopup.h"
#include "dialogs/wFormBasic.h"
#include "engine/Lifecycle.h"

namespace UserActions {

using Act = std::function<void(QDialog*)>;

// A dialog test with the library started around the application.
class WithLibrary : public DialogTest::WithApp {
 protected:
  void SetUp() override {
    Lifecycle::LibraryStart();
    DialogTest::WithApp::SetUp();
  }
  void TearDown() override {
    DialogTest::WithApp::TearDown();
    Lifecycle::LibraryStop();
  }
};

template <class W>
W* Find(QDialog* form, const char* name) {
  W* w = form->findChild<W*>(name);
  EXPECT_NE(w, nullptr) << name;
  return w;
}

inline void Click(QDialog* form, const char* name) {
  QTest::mouseClick(Find<QPushButton>(form, name), Qt::LeftButton);
}

// Every modal dialog from now on is shown, settles, gets the actions and
// is closed with OK or Cancel. The last form's title is kept in *title.
inline void Answer(Act act, bool ok, QString* title = nullptr) {
  wFormBasic::SetModalHook([act, ok, title](QDialog* form) {
    form->show();
    QApplication::processEvents();
    if (title) *title = form->windowTitle();
    if (act) act(form);
    Click(form, ok ? "btnOK" : "btnCancel");
    return int32_t(form->result());
  });
}

// Types text into the edit and leaves it.
inline void Type(QDialog* form, const char* name, const QString& text) {
  QLineEdit* edit = Find<QLineEdit>(form, name);
  edit->setFocus();
  edit->selectAll();
  QTest::keyClicks(edit, text);
  QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
  QApplication::sendEvent(edit, &leave);
}

inline QString Text(QDialog* form, const char* name) {
  return Find<QLineEdit>(form, name)->text();
}

// The next popup menu: its entries are counted into *count and the one
// whose text starts with choice is chosen (none: dismissed).
inline void Pick(const QString& choice, int* count = nullptr) {
  CtlPopup::SetPopupHook([choice, count](QMenu* menu) -> QAction* {
    if (count) *count = int(menu->actions().size());
    for (QAction* a : menu->actions())
      if (!choice.isEmpty() && a->text().startsWith(choice)) return a;
    return nullptr;
  });
}

}  // namespace UserActions
