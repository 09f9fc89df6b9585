// The KWB options: one of two compression methods and the key-frame rate.
#pragma once

#include <cstdint>
#include <string>

namespace wDlgKWB {

struct KwbDlgRec {
  std::string caption;
  std::string methods[2];
  int32_t methodValues[2] = {};
  int32_t chosen = 0;        // method value, in and out
  int32_t keyFrameRate = 0;  // in and out
};

// True only for OK; then the chosen method and key-frame rate are set.
bool DlgKWB(KwbDlgRec& rec);

}  // namespace wDlgKWB
