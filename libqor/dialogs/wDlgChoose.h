// A choice among up to 16 named values, shown as a list of radio buttons.
#pragma once

#include <cstdint>
#include <string>

namespace wDlgChoose {

constexpr int32_t kMaxChoices = 16;

struct ChoiceRec {
  std::string caption;
  int32_t count = 0;  // 1..16; limited (and written back) by the dialog
  std::string items[kMaxChoices];
  int32_t values[kMaxChoices] = {};
  int32_t chosen = 0;  // in and out
};

// True only for OK; then rec.chosen holds the value of the chosen row.
bool DlgSelect(ChoiceRec& rec);

}  // namespace wDlgChoose
