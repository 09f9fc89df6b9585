#include "foundation/MiscProcs.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"
#include "platform/base/SysInfo.h"

using Errors::TraceScope;

namespace MiscProcs {
namespace {

const double kPowers[11] = {1.0,       10.0,       100.0,       1000.0,
                            10000.0,   100000.0,   1000000.0,   10000000.0,
                            100000000.0, 1000000000.0, 10000000000.0};

std::string Padded(int64_t value, size_t width) {
  std::string text = std::to_string(value);
  if (value >= 0 && text.size() < width) text.insert(0, width - text.size(), '0');
  return text;
}

// Strict decimal reading of a whole text; false when it is not a number.
bool ParseInt(const std::string& text, int32_t& value) {
  if (text.empty()) return false;
  size_t i = 0;
  bool negative = false;
  if (text[0] == '-' || text[0] == '+') {
    negative = text[0] == '-';
    i = 1;
  }
  if (i >= text.size()) return false;
  int64_t v = 0;
  for (; i < text.size(); i++) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
    if (v > INT32_MAX) return false;
  }
  value = static_cast<int32_t>(negative ? -v : v);
  return true;
}

int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

int32_t DaysInMonth(int32_t year, int32_t month) {
  static const int32_t days[12] = {31, 28, 31, 30, 31, 30,
                                   31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : days[month - 1];
}

}  // namespace

std::string AddBS(const std::string& path) {
  TraceScope t("MiscProcs.AddBS");
  if (path.empty() || path.back() == '/') return path;
  return path + '/';
}

std::string GetAppDir() {
  TraceScope t("MiscProcs.GetAppDir");
  const std::string exe = SysInfo::ExecutablePath();
  const size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return std::string();
  return exe.substr(0, slash + 1);
}

double RoundEx(int32_t decimals, double value) {
  TraceScope t("MiscProcs.RoundEx");
  const int32_t d = Basic::ClampInt(decimals, 0, 10);
  // Truncated toward zero; products beyond the 32-bit range keep their
  // integer part instead of wrapping.
  return std::trunc(value * kPowers[d]) / kPowers[d];
}

int32_t WrapAround(int32_t value, int32_t low, int32_t high) {
  TraceScope t("MiscProcs.WrapAround");
  if (value < low) return high;
  if (value > high) return low;
  return value;
}

int32_t DivNearest(int32_t value, int32_t step) {
  TraceScope t("MiscProcs.DivNearest");
  if (step <= 0) {
    Errors::ErrSet(Errors::kErrOutOfRange, __LINE__);
    return 0;
  }
  int64_t r = (static_cast<int64_t>(value) + step / 2) / step * step;
  if (r > INT32_MAX) r -= step;
  if (r < step) r = step;
  return static_cast<int32_t>(r);
}

double DivNearestF(double value, double step) {
  TraceScope t("MiscProcs.DivNearestF");
  if (!(step > 0)) {
    Errors::ErrSet(Errors::kErrOutOfRange, __LINE__);
    return 0;
  }
  const double r = step * std::trunc((value + step / 2) / step);
  return r < step ? step : r;
}

std::string SecToStr(int32_t flags, double seconds) {
  TraceScope t("MiscProcs.SecToStr");
  const double hours = std::trunc(seconds / 3600);
  double rest = seconds - hours * 3600;
  const double minutes = std::trunc(rest / 60);
  rest -= minutes * 60;
  const double secs = std::trunc(rest);
  const double millis = std::trunc((rest - secs) * 1000);
  std::string text;
  if (hours >= 1 || (flags & kShowHours)) {
    text = Padded(static_cast<int64_t>(hours), 2);
    flags |= kShowMinutes | kShowSeconds;
  }
  if (minutes > 0 || (flags & kShowMinutes)) {
    if (!text.empty()) text += ':';
    text += Padded(static_cast<int64_t>(minutes), 2);
    flags |= kShowSeconds;
  }
  if (secs > 0 || (flags & kShowSeconds)) {
    if (!text.empty()) text += ':';
    text += Padded(static_cast<int64_t>(secs), 2);
  }
  if ((millis > 0 || (flags & kShowMillis)) && !(flags & kNoMillis)) {
    if (text.empty()) text.push_back('0');
    text += '.';
    text += Padded(static_cast<int64_t>(millis), 3);
  }
  return text;
}

double AnsiStrToDate(const std::string& text, double defaultDate) {
  TraceScope t("MiscProcs.AnsiStrToDate");
  auto part = [&](size_t from, size_t len) {
    return from < text.size() ? text.substr(from, len) : std::string();
  };
  int32_t y = 0, m = 0, d = 0;
  if (!ParseInt(part(0, 4), y) || !ParseInt(part(5, 2), m) ||
      !ParseInt(part(8, 2), d))
    return defaultDate;
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m))
    return defaultDate;
  return static_cast<double>(DaysFromCivil(y, m, d) -
                             DaysFromCivil(1899, 12, 30));
}

bool FindNextMarker(const std::string& text, const std::string& marker,
                    int32_t& position) {
  TraceScope t("MiscProcs.FindNextMarker");
  if (marker.empty() || position < 1) return false;
  const int64_t from = position - 1;
  if (from + static_cast<int64_t>(marker.size()) >
      static_cast<int64_t>(text.size()))
    return false;
  const size_t at = text.find(marker, static_cast<size_t>(from));
  if (at == std::string::npos) return false;
  position = static_cast<int32_t>(at) + 1;
  return true;
}

bool GetNextBlock(const std::string& text, char delimiter, std::string& block,
                  int32_t& position) {
  TraceScope t("MiscProcs.GetNextBlock");
  const int32_t old = position;
  const int64_t len = static_cast<int64_t>(text.size());
  const int64_t from = position < 1 ? 0 : position - 1;
  if (from >= len) {
    block.clear();
    position = static_cast<int32_t>(len + 1);
    return position > old;
  }
  const size_t at = text.find(delimiter, static_cast<size_t>(from));
  if (at == std::string::npos) {
    block = text.substr(static_cast<size_t>(from));
    position = static_cast<int32_t>(len + 1);
  } else {
    block = text.substr(static_cast<size_t>(from), at - static_cast<size_t>(from));
    position = static_cast<int32_t>(at) + 2;
  }
  return position > old;
}

void CalcBoxResize(int32_t width, int32_t height, int32_t boxWidth,
                   int32_t boxHeight, bool scaleAlways, int32_t& newWidth,
                   int32_t& newHeight, int32_t& spareWidth,
                   int32_t& spareHeight) {
  TraceScope t("MiscProcs.CalcBoxResize");
  newWidth = width;
  newHeight = height;
  if (scaleAlways || width > boxWidth || height > boxHeight) {
    // A source without area has no ratio: it takes the out-of-range road
    // before anything is divided by it.
    const double wr = width > 0 ? static_cast<double>(boxWidth) / width : 0;
    const double hr = height > 0 ? static_cast<double>(boxHeight) / height : 0;
    if (!(wr > 0) || !(hr > 0)) {
      newWidth = boxWidth;
      newHeight = boxHeight;
      spareWidth = 0;
      spareHeight = 0;
      Errors::ErrSet(Errors::kErrOutOfRange, __LINE__);
      return;
    }
    if (wr >= hr) {
      newHeight = boxHeight;
      newWidth = static_cast<int32_t>(std::trunc(width * hr));
    } else {
      newWidth = boxWidth;
      newHeight = static_cast<int32_t>(std::trunc(height * wr));
    }
    if (newWidth < 1) newWidth = 1;
    if (newHeight < 1) newHeight = 1;
    spareWidth = static_cast<int32_t>(
        std::llabs(static_cast<int64_t>(boxWidth) - newWidth));
    spareHeight = static_cast<int32_t>(
        std::llabs(static_cast<int64_t>(boxHeight) - newHeight));
  } else {
    spareWidth = boxWidth - width;
    spareHeight = boxHeight - height;
  }
}

uint32_t ColorSwapRB(uint32_t colour) {
  return (colour & 0xFF00FF00u) | ((colour & 0xFFu) << 16) |
         ((colour >> 16) & 0xFFu);
}

void FillColor(uint8_t* data, int32_t pixelCount, int32_t bitsPerPixel,
               int32_t firstPixel, int32_t count, uint32_t colour) {
  TraceScope t("MiscProcs.FillColor");
  // A first pixel outside the block fills nothing: nothing is ever written
  // before or after the pixel block.
  if (!data || firstPixel < 0 || firstPixel >= pixelCount) return;
  const int64_t n = std::min<int64_t>(std::max(count, 0),
                                      static_cast<int64_t>(pixelCount) - firstPixel);
  if (n <= 0) return;
  const int32_t bytes = (bitsPerPixel + 7) / 8;
  uint8_t* p = data + static_cast<int64_t>(firstPixel) * bytes;
  switch (bitsPerPixel) {
    case 8:
      std::memset(p, static_cast<int>(colour & 0xFF), static_cast<size_t>(n));
      break;
    case 15:
    case 16:
      for (int64_t i = 0; i < n; i++, p += 2) {
        p[0] = static_cast<uint8_t>(colour);
        p[1] = static_cast<uint8_t>(colour >> 8);
      }
      break;
    case 24:
      for (int64_t i = 0; i < n; i++, p += 3) {
        p[0] = static_cast<uint8_t>(colour >> 16);
        p[1] = static_cast<uint8_t>(colour >> 8);
        p[2] = static_cast<uint8_t>(colour);
      }
      break;
    case 32:
      // Pixels store blue, green, red like 24 bits; the colour is a Windows
      // colour, so red and blue trade places here as well.
      for (int64_t i = 0; i < n; i++, p += 4) {
        p[0] = static_cast<uint8_t>(colour >> 16);
        p[1] = static_cast<uint8_t>(colour >> 8);
        p[2] = static_cast<uint8_t>(colour);
        p[3] = static_cast<uint8_t>(colour >> 24);
      }
      break;
    default:
      break;
  }
}

}  // namespace MiscProcs
