// The MPEG output: its format and its video data rate, typed in kilobits or
// kilobytes per second or taken from a menu of standard rates.
#pragma once

#include <cstdint>
#include <string>

#include "dialogs/DlgForm.h"

namespace wDlgMPG {

struct MpgDlgRec {
  std::string caption;
  int32_t type = 0;  // 0 MPEG-1, 1 VCD, 2 MPEG-2, 3 SVCD, 4 DVD; in and out
  int32_t minRate = 0;  // kilobits per second
  int32_t maxRate = 0;
  int32_t bitRate = 0;  // in and out
};

using RatePreset = DlgForm::RatePreset;

// The menu of standard rates; the first five are the formats' own.
constexpr int32_t kPresetCount = 15;
extern const RatePreset kPresets[kPresetCount];

// True only for OK; then the type and bit rate are set.
bool DlgMPG(MpgDlgRec& rec);

}  // namespace wDlgMPG
