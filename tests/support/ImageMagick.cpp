#include "support/ImageMagick.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

#include "support/TestUtil.h"

namespace TestSupport {
namespace {

std::string PpmText(const RgbPicture& p) {
  std::string text = "P6\n" + std::to_string(p.width) + " " +
                     std::to_string(p.height) + "\n255\n";
  text.append(p.rgb.begin(), p.rgb.end());
  return text;
}

// Reads the next header number at pos, skipping blanks and comments.
bool ReadNumber(const std::string& t, size_t& pos, int32_t& value) {
  while (pos < t.size()) {
    if (t[pos] == '#') {
      while (pos < t.size() && t[pos] != '\n') pos++;
    } else if (std::isspace(static_cast<unsigned char>(t[pos]))) {
      pos++;
    } else {
      break;
    }
  }
  size_t start = pos;
  while (pos < t.size() && std::isdigit(static_cast<unsigned char>(t[pos]))) pos++;
  if (pos == start || pos - start > 6) return false;
  value = std::stoi(t.substr(start, pos - start));
  return true;
}

bool ParsePpm(const std::string& t, RgbPicture& p) {
  size_t pos = 2;
  int32_t maxval = 0;
  if (t.compare(0, 2, "P6") != 0 || !ReadNumber(t, pos, p.width) ||
      !ReadNumber(t, pos, p.height) || !ReadNumber(t, pos, maxval) ||
      maxval != 255 || p.width <= 0 || p.height <= 0 || p.width > 4096 ||
      p.height > 4096)
    return false;
  pos++;  // the one blank after the header
  const size_t bytes = static_cast<size_t>(p.width) * p.height * 3;
  if (t.size() < pos + bytes) return false;
  p.rgb.assign(t.begin() + static_cast<std::ptrdiff_t>(pos),
               t.begin() + static_cast<std::ptrdiff_t>(pos + bytes));
  return true;
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

bool HaveConvert() { return TestUtil::HaveTool("convert"); }

bool RunConvert(const RgbPicture& in, const std::vector<std::string>& args,
                RgbPicture& out) {
  TestUtil::TempDir dir;
  const std::string inName = dir.File("in.ppm");
  const std::string outName = dir.File("out.ppm");
  TestUtil::WriteText(inName, PpmText(in));
  std::ostringstream cmd;
  cmd << "convert " << Quote(inName);
  for (const std::string& a : args) cmd << " " << Quote(a);
  cmd << " -depth 8 " << Quote("ppm:" + outName) << " >/dev/null 2>&1";
  return std::system(cmd.str().c_str()) == 0 &&
         ParsePpm(TestUtil::ReadText(outName), out);
}

}  // namespace TestSupport
