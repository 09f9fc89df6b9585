// Small helpers of the sound and movie format tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/Errors.h"
#include "media/SndBasic.h"
#include "platform/AcmLayer.h"
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

// The conversion layer's own format with the given tag for a PCM format (its
// ADPCM block size for that rate, say); false when it proposes none.
inline bool SuggestedFormat(const SndBasic::WaveFormatEx& pcm, uint16_t tag,
                            SndBasic::WaveFormatEx* out) {
  std::vector<uint8_t> fmt(18 + 64, 0);
  SndBasic::WaveFormatEx want;
  want.formatTag = tag;
  Acm::WaveFormatWrite(want, fmt.data());
  const std::vector<uint8_t> src = Acm::WaveFormatBytes(pcm);
  if (Acm::acmFormatSuggest(nullptr, src.data(), 18, fmt.data(), static_cast<int64_t>(fmt.size()),
                            Acm::kSuggestTag) != Acm::kOk)
    return false;
  Acm::WaveFormatRead(fmt.data(), 18, *out);
  return true;
}

}  // namespace soundtest

#define NEED_TOOL(tool) \
  if (!TestUtil::HaveTool(tool)) GTEST_SKIP() << tool << " not installed"
