#include "dialogs/CtlSlider.h"

#include <QLineEdit>
#include <QPalette>
#include <algorithm>
#include <cmath>

#include "foundation/Errors.h"

using Errors::TraceScope;

namespace CtlSlider {
namespace {

constexpr double kMaxPositions = 2147483631.0;

// A value kept with `decimals` decimals. Rounded to the nearest step, not
// cut: a position's product such as 29 x 0.01 is 0.28999... in binary and
// would otherwise read one step low.
double KeepDecimals(double value, int32_t decimals) {
  const double scale = std::pow(10.0, std::clamp(decimals, 0, 10));
  return std::round(value * scale) / scale;
}

int32_t Nearest(double value) {
  return static_cast<int32_t>(std::clamp(std::round(value), -2147483648.0,
                                         2147483647.0));
}

}  // namespace

void Slider_Init(SliderRec& rec, QScrollBar* bar, QLineEdit* edit,
                 CtlEx::ChangeHandler onChange) {
  TraceScope t("CtlSlider.Slider_Init");
  rec = SliderRec{};
  if (!onChange) onChange = [&rec] { Slider_OnChange(rec); };
  rec.scrollBar = CtlEx::CloneScrollBar2(bar, true, std::move(onChange));
  rec.edit = edit;
  if (edit) {
    edit->setReadOnly(true);
    edit->setFocusPolicy(Qt::NoFocus);
    QPalette p = edit->palette();
    p.setColor(QPalette::Base, p.color(QPalette::Button));
    edit->setPalette(p);
  }
}

void Slider_Prepare(SliderRec& rec, int32_t decimals, double min, double max,
                    double step, double page) {
  TraceScope t("CtlSlider.Slider_Prepare");
  rec.updating = true;
  rec.userChange = false;
  rec.min = min;
  rec.max = std::max(min, max);
  rec.value = min;
  rec.step = step;
  rec.page = page;
  rec.decimals = decimals;
  rec.positions =
      step == 0.0 ? 0
                  : static_cast<int32_t>(std::clamp(
                        std::trunc((rec.max - rec.min) / step), 0.0, kMaxPositions));
  if (QScrollBar* bar = rec.scrollBar) {
    bar->setRange(0, rec.positions);
    const bool empty = rec.min == rec.max;
    bar->setEnabled(!empty);
    bar->setSingleStep(1);
    bar->setPageStep(empty ? 1 : Nearest(page * rec.positions / (rec.max - rec.min)));
  }
  rec.updating = false;
}

void Slider_SetValue(SliderRec& rec, double value) {
  TraceScope t("CtlSlider.Slider_SetValue");
  rec.updating = true;
  rec.value = std::clamp(value, rec.min, rec.max);
  if (rec.scrollBar && rec.scrollBar->isEnabled() && rec.max > rec.min)
    rec.scrollBar->setValue(
        Nearest((rec.value - rec.min) * rec.positions / (rec.max - rec.min)));
  _EdShowValue(rec);
  rec.updating = false;
}

double Slider_GetFloat(const SliderRec& rec) { return rec.value; }

void Slider_OnChange(SliderRec& rec) {
  TraceScope t("CtlSlider.Slider_OnChange");
  rec.userChange = false;
  if (rec.updating || !rec.scrollBar) return;
  const int32_t maximum = rec.scrollBar->maximum();
  double v = maximum <= 0 ? 0.0
                          : rec.min + (rec.max - rec.min) * rec.scrollBar->value() / maximum;
  rec.value = std::clamp(KeepDecimals(v, rec.decimals), rec.min, rec.max);
  rec.userChange = rec.scrollBar->notTracking;
  _EdShowValue(rec);
  rec.scrollBar->update();
}

void _EdShowValue(SliderRec& rec) {
  TraceScope t("CtlSlider._EdShowValue");
  if (!rec.edit) return;
  const int32_t decimals = std::clamp(rec.decimals, 0, 10);
  rec.edit->setText(
      QString::number(KeepDecimals(rec.value, decimals), 'f', decimals));
}

void Slider_Done(SliderRec& rec) {
  TraceScope t("CtlSlider.Slider_Done");
  delete rec.scrollBar;
  rec.scrollBar = nullptr;
}

}  // namespace CtlSlider
