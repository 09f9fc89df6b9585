// An audio bit rate, typed or taken from a menu of standard rates.
#pragma once

#include <cstdint>
#include <string>

#include "dialogs/DlgForm.h"

namespace wDlgBit {

struct BitDlgRec {
  std::string caption;
  int32_t minRate = 0;  // kilobits per second
  int32_t maxRate = 0;
  int32_t bitRate = 0;  // in and out
};

using RatePreset = DlgForm::RatePreset;
constexpr int32_t kPresetCount = 8;
extern const RatePreset kPresets[kPresetCount];

// True only for OK; then rec.bitRate holds the rate, within the limits.
bool DlgBit(BitDlgRec& rec);

}  // namespace wDlgBit
