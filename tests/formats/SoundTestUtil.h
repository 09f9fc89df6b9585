// Small helpers of the sound and movie format tests.
#pragma once

#include <string>

#include "foundation/Errors.h"
#include "support/TestUtil.h"

namespace soundtest {

// Runs a call that may fail as a unit; the error pair tells how it went.
template <class F>
void Try(F&& f) {
  try {
    f();
  } catch (const Errors::EMon&) {
  }
}

// A file name quoted for the shell.
inline std::string Q(const std::string& s) { return "'" + s + "'"; }

}  // namespace soundtest

#define NEED_TOOL(tool) \
  if (!TestUtil::HaveTool(tool)) GTEST_SKIP() << tool << " not installed"
