#include "support/ImageMagick.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace TestSupport {
namespace {

bool WritePpm(const std::string& name, const RgbPicture& p) {
  std::ofstream f(name, std::ios::binary);
  f << "P6\n" << p.width << " " << p.height << "\n255\n";
  f.write(reinterpret_cast<const char*>(p.rgb.data()),
          static_cast<std::streamsize>(p.rgb.size()));
  return static_cast<bool>(f);
}

// Reads the next header number, skipping blanks and comments.
bool ReadNumber(std::istream& f, int32_t& value) {
  int c;
  while ((c = f.peek()) != EOF) {
    if (c == '#') {
      std::string line;
      std::getline(f, line);
    } else if (std::isspace(c)) {
      f.get();
    } else {
      break;
    }
  }
  return static_cast<bool>(f >> value);
}

bool ReadPpm(const std::string& name, RgbPicture& p) {
  std::ifstream f(name, std::ios::binary);
  std::string magic;
  int32_t maxval = 0;
  if (!(f >> magic) || magic != "P6" || !ReadNumber(f, p.width) ||
      !ReadNumber(f, p.height) || !ReadNumber(f, maxval) || maxval != 255 ||
      p.width <= 0 || p.height <= 0 || p.width > 4096 || p.height > 4096)
    return false;
  f.get();
  p.rgb.assign(static_cast<size_t>(p.width) * p.height * 3, 0);
  f.read(reinterpret_cast<char*>(p.rgb.data()),
         static_cast<std::streamsize>(p.rgb.size()));
  return f.gcount() == static_cast<std::streamsize>(p.rgb.size());
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

}  // namespace

bool HaveConvert() {
  return std::system("convert -version >/dev/null 2>&1") == 0;
}

bool RunConvert(const RgbPicture& in, const std::vector<std::string>& args,
                RgbPicture& out) {
  char dir[] = "/tmp/qor_im_XXXXXX";
  if (!mkdtemp(dir)) return false;
  const std::string inName = std::string(dir) + "/in.ppm";
  const std::string outName = std::string(dir) + "/out.ppm";
  bool ok = WritePpm(inName, in);
  if (ok) {
    std::ostringstream cmd;
    cmd << "convert " << Quote(inName);
    for (const std::string& a : args) cmd << " " << Quote(a);
    cmd << " -depth 8 " << Quote("ppm:" + outName) << " >/dev/null 2>&1";
    ok = std::system(cmd.str().c_str()) == 0 && ReadPpm(outName, out);
  }
  std::remove(inName.c_str());
  std::remove(outName.c_str());
  rmdir(dir);
  return ok;
}

}  // namespace TestSupport
