// One real value chosen on a slider, shown beside it in a read-only edit.
#pragma once

#include <cstdint>
#include <string>

namespace wDlgOne {

struct DlgOneParams {
  std::string caption;       // the form's
  std::string groupCaption;  // the slider's group
  int32_t reserved = 0;      // not used by the dialog
  double min = 0.0;
  double max = 0.0;
  double step = 1.0;
  double page = 1.0;
  int32_t decimals = 0;
  double value = 0.0;  // in and out
};

// True only for OK; then params.value holds the slider's value.
bool DlgOne(DlgOneParams& params);

}  // namespace wDlgOne
