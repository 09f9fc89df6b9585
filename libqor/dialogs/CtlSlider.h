// A slider record: a notifying scroll bar bound to a read-only edit that
// shows a real value over a range, with a fixed number of decimals.
#pragma once

#include <cstdint>

#include "dialogs/CtlEx.h"

class QLineEdit;
class QScrollBar;

namespace CtlSlider {

struct SliderRec {
  CtlEx::QScrollbar2* scrollBar = nullptr;
  QLineEdit* edit = nullptr;  // may be none
  double value = 0.0;
  double min = 0.0;
  double max = 100.0;
  double step = 1.0;
  double page = 1.0;
  int32_t decimals = 0;
  int32_t positions = 100;
  bool userChange = false;  // the last change was finished (release or key)
  bool updating = false;    // the record is driving the control
};

// Replaces the form's scroll bar by a notifying clone (the old one is
// deleted). onChange is the form's change handler, which calls
// Slider_OnChange; without one the clone calls Slider_OnChange itself.
void Slider_Init(SliderRec& rec, QScrollBar* bar, QLineEdit* edit,
                 CtlEx::ChangeHandler onChange = {});
void Slider_Prepare(SliderRec& rec, int32_t decimals, double min, double max,
                    double step, double page);
void Slider_SetValue(SliderRec& rec, double value);
double Slider_GetFloat(const SliderRec& rec);
void Slider_OnChange(SliderRec& rec);
void _EdShowValue(SliderRec& rec);
void Slider_Done(SliderRec& rec);

}  // namespace CtlSlider
