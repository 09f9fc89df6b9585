#include "engine/Predict.h"

#include <cmath>

namespace Predict {

void Predict_Init(PredictRec* rec) {
  *rec = PredictRec{};
  Basic::StopwatchStart(rec->stopwatch);
}

int32_t PredictWrap(int32_t i) {
  if (i < 0) return kRingSize - 1;
  if (i >= kRingSize) return 0;
  return i;
}

double Predict_GetRemainingEx(PredictRec* rec, int32_t current, int32_t total,
                              double now) {
  double result = 0.0;
  if (total > 0) {
    // 64-bit differences: a host may report any counts.
    const int64_t progress = int64_t{current} - rec->lastProgress;
    const double elapsed = now - rec->lastTime;
    const int32_t slot = rec->index;
    rec->progressSum += progress - rec->progressDelta[slot];
    rec->timeSum += elapsed - rec->timeDelta[slot];
    rec->progressDelta[slot] = progress;
    rec->timeDelta[slot] = elapsed;
    rec->index = PredictWrap(slot + 1);
    if (rec->progressSum > 0)
      result = rec->timeSum / static_cast<double>(rec->progressSum) *
               (static_cast<double>(total) - current);
    if (!(result > 0.0)) result = 0.0;  // negative or not a number
  }
  rec->lastProgress = current;
  rec->lastTime = now;
  return result;
}

double Predict_TimeGranulate(double seconds) {
  double step = 1.0;
  if (seconds > 3600) step = 300;
  else if (seconds > 900) step = 60;
  else if (seconds > 60) step = 5;
  double result = std::trunc((seconds + step / 2) / step) * step;
  if (!(result >= step)) result = step;
  return result;
}

}  // namespace Predict
