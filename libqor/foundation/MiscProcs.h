// Paths, rounding, time texts, text scanning, box fitting and pixel filling.
#pragma once

#include <cstdint>
#include <string>

namespace MiscProcs {

std::string AddBS(const std::string& path);
std::string GetAppDir();

double RoundEx(int32_t decimals, double value);
int32_t WrapAround(int32_t value, int32_t low, int32_t high);
int32_t DivNearest(int32_t value, int32_t step);
double DivNearestF(double value, double step);

// Flags of SecToStr.
enum : int32_t {
  kShowHours = 1,
  kShowMinutes = 2,
  kShowSeconds = 4,
  kShowMillis = 8,
  kNoMillis = 16,
};
std::string SecToStr(int32_t flags, double seconds);

// Days since 1899-12-30 (the date-time real of the settings store).
double AnsiStrToDate(const std::string& text, double defaultDate);

// Positions are 1-based.
bool FindNextMarker(const std::string& text, const std::string& marker,
                    int32_t& position);
bool GetNextBlock(const std::string& text, char delimiter, std::string& block,
                  int32_t& position);

inline std::string IfThenStr(bool flag, const std::string& a,
                             const std::string& b) {
  return flag ? a : b;
}
inline int32_t IfThenInt(bool flag, int32_t a, int32_t b) { return flag ? a : b; }

void CalcBoxResize(int32_t width, int32_t height, int32_t boxWidth,
                   int32_t boxHeight, bool scaleAlways, int32_t& newWidth,
                   int32_t& newHeight, int32_t& spareWidth,
                   int32_t& spareHeight);

uint32_t ColorSwapRB(uint32_t colour);

// Fills count pixels of a packed pixel block of pixelCount pixels from
// firstPixel (pixels counted row after row) with a Windows colour value (red
// in the low byte).
void FillColor(uint8_t* data, int32_t pixelCount, int32_t bitsPerPixel,
               int32_t firstPixel, int32_t count, uint32_t colour);

}  // namespace MiscProcs
