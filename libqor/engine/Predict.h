// Remaining-time prediction from the rate of the most recent progress
// reports, so that a change of speed shows in the estimate at once.
#pragma once

#include <cstdint>

#include "foundation/Basic.h"

namespace Predict {

constexpr int32_t kRingSize = 50;

struct PredictRec {
  int32_t index = 0;
  // 64-bit: the sum of 50 reports of any size stays exact.
  int64_t progressDelta[kRingSize] = {};
  double timeDelta[kRingSize] = {};
  int64_t progressSum = 0;
  double timeSum = 0.0;
  int32_t lastProgress = 0;
  double lastTime = 0.0;
  Basic::Stopwatch stopwatch{};
};

void Predict_Init(PredictRec* rec);
// i wrapped into 0 .. kRingSize - 1.
int32_t PredictWrap(int32_t i);
// Seconds still needed for total - current units, at the average rate of the
// last kRingSize reports; "now" is the seconds spent so far.
double Predict_GetRemainingEx(PredictRec* rec, int32_t current, int32_t total,
                              double now);
// Rounded to a step that suits its size (1 s, 5 s, 1 min, 5 min); never
// below one step.
double Predict_TimeGranulate(double seconds);

}  // namespace Predict
