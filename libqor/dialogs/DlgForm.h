// What the small choice dialogs share: placing controls at their design
// positions, the OK and Cancel pair, event handlers that never let a
// failure escape into the modal loop, and the one way a dialog runs.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <cstdint>
#include <functional>
#include <new>
#include <string>

#include "foundation/Basic.h"

#include "foundation/VCLUtils.h"

namespace DlgForm {

// A standard data rate offered in a menu.
struct RatePreset {
  const char* text;
  int32_t rate;  // kilobits per second
};

template <class W>
W* Place(QWidget* parent, const char* name, int x, int y, int w, int h) {
  auto* widget = new W(parent);
  widget->setObjectName(name);
  widget->setGeometry(x, y, w, h);
  return widget;
}

QLabel* AddLabel(QWidget* parent, const char* name, const char* text, int x, int y);
QPushButton* AddButton(QWidget* parent, const char* name, const char* text, int x,
                       int y, int w, int h);
// "OK" (accepts, the default button) and "Cancel" (rejects), as btnOK and
// btnCancel.
void AddOkCancel(QDialog* form, int okX, int okY, int cancelX, int cancelY, int w,
                 int h);

// value within lo .. hi (lo wins when the limits cross); a 64-bit value so
// that a product such as kilobytes x 8 is limited before it can wrap.
inline int32_t Limit(int64_t value, int32_t lo, int32_t hi) {
  return static_cast<int32_t>(value > hi ? (hi < lo ? lo : hi) : value < lo ? lo : value);
}

inline QString Text(const std::string& s) { return QString::fromLocal8Bit(s.c_str()); }
inline std::string Text(const QString& s) { return s.toLocal8Bit().toStdString(); }

// An event handler's failure is shown as an error box; it never leaves
// through the modal loop.
template <class Fn>
void Handler(Fn&& fn) {
  try {
    fn();
  } catch (...) {
    VCLUtils::ShowErrorBox(VCLUtils::GetExceptionText());
  }
}

// A C++ object in a tracked block under label, so that a block a dialog
// forgets shows in the memory report; owner must stay where it is until
// FreeTracked.
template <class T>
void NewTracked(T*& owner, const char* label) {
  owner = nullptr;
  if (Basic::MemAlloc(owner, static_cast<int64_t>(sizeof(T)), __LINE__, Basic::kMemNew,
                      label) != Basic::kMemOk ||
      !owner)
    throw std::bad_alloc();
  new (owner) T();
}

template <class T>
void FreeTracked(T*& owner) {
  if (!owner) return;
  owner->~T();
  Basic::MemFree(owner);
  owner = nullptr;
}

// Runs one dialog in a quiet monitor frame: body builds the form, shows it
// and returns whether the user chose OK. The result is false when a failure
// was caught (its error pair stays pending) or when the host runs no Qt
// application, which a form cannot exist without.
bool RunDialog(const char* frameName, const std::function<bool()>& body);

}  // namespace DlgForm
