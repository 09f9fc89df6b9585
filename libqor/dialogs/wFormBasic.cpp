#include "dialogs/wFormBasic.h"

#include <QWidget>

#include "FitTexts.h"

#include "foundation/Errors.h"
#include "platform/base/UiLayer.h"

using Errors::TraceScope;

namespace wFormBasic {
namespace {

ModalHook& Hook() {
  static ModalHook hook;
  return hook;
}

// The limit when it is set, else the toolkit's own bound.
int32_t LimitOr(int32_t limit, int32_t otherwise) {
  return limit > 0 ? limit : otherwise;
}

}  // namespace

TFormBasic::TFormBasic(QWidget* parent) : QDialog(parent) {
  TraceScope t("wFormBasic.TFormBasic.Create");
}

void TFormBasic::Loaded() {
  TraceScope t("wFormBasic.TFormBasic.Loaded");
  designClientWidth_ = width();
  designClientHeight_ = height();
  ApplyTrackLimits();
}

void TFormBasic::ApplyTrackLimits() {
  setMinimumSize(LimitOr(minTrackWidth, 0), LimitOr(minTrackHeight, 0));
  setMaximumSize(LimitOr(maxTrackWidth, QWIDGETSIZE_MAX),
                 LimitOr(maxTrackHeight, QWIDGETSIZE_MAX));
}

int32_t ShowModal(QDialog* form) {
  TraceScope t("wFormBasic.ShowModal");
  // Designed for one font, shown in whatever font the platform has.
  FitTexts::Fit(form);
  if (Hook()) return Hook()(form);
  return form->exec();
}

void SetModalHook(ModalHook hook) { Hook() = std::move(hook); }

bool CanShowDialogs() { return Ui::HostHasWidgets(); }

}  // namespace wFormBasic
