// The base form of the library's choice dialogs, with optional size limits,
// and the one place where every library dialog is shown modally.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>

namespace wFormBasic {

// A form whose user resizing can be bounded. Each limit (pixels) applies only
// when greater than 0; the library's own dialogs leave them all at 0.
class TFormBasic : public QDialog {
 public:
  explicit TFormBasic(QWidget* parent = nullptr);

  int32_t minTrackWidth = 0;
  int32_t minTrackHeight = 0;
  int32_t maxTrackWidth = 0;
  int32_t maxTrackHeight = 0;

  // Call once the form's controls are built: remembers the client size the
  // form was designed with and applies the limits.
  void Loaded();
  // Applies the four limits again after they were changed.
  void ApplyTrackLimits();

  int32_t DesignClientWidth() const { return designClientWidth_; }
  int32_t DesignClientHeight() const { return designClientHeight_; }

 private:
  int32_t designClientWidth_ = 0;
  int32_t designClientHeight_ = 0;
};

// Shows a form modally and returns its result (QDialog::Accepted for OK).
// Every library dialog goes through here, so a test can stand in for the
// user: the hook receives the form instead of the modal loop, works its
// controls and presses a button, and returns form->result().
int32_t ShowModal(QDialog* form);
using ModalHook = std::function<int32_t(QDialog* form)>;
void SetModalHook(ModalHook hook);

// True when the host runs a Qt Widgets application; a dialog cannot be
// shown without one, and the library never creates one itself.
bool CanShowDialogs();

}  // namespace wFormBasic
