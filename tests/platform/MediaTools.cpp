#include "platform/MediaTools.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace MediaTools {

bool Run(const std::string& command) {
  const std::string cmd = "( " + command + " ) >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

std::string Capture(const std::string& command) {
  std::string out;
  FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

std::string Probe(const std::string& file, const std::string& streams,
                  const std::string& entry) {
  return Capture("ffprobe -v error -select_streams " + streams +
                 " -show_entries stream=" + entry +
                 " -of default=noprint_wrappers=1:nokey=1 '" + file + "'");
}

int ProbeStreamCount(const std::string& file, const std::string& kind) {
  const std::string out =
      Capture("ffprobe -v error -show_entries stream=codec_type "
              "-of default=noprint_wrappers=1:nokey=1 '" + file + "'");
  int n = 0;
  size_t pos = 0;
  while ((pos = out.find(kind, pos)) != std::string::npos) {
    n++;
    pos += kind.size();
  }
  return n;
}

int64_t ProbeFrameCount(const std::string& file, const std::string& streams) {
  const std::string out = Capture(
      "ffprobe -v error -count_frames -select_streams " + streams +
      " -show_entries stream=nb_read_frames -of default=noprint_wrappers=1:nokey=1 '" +
      file + "'");
  return out.empty() ? -1 : std::atoll(out.c_str());
}

std::vector<uint8_t> ReadBytes(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& file, const std::vector<uint8_t>& bytes) {
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<int16_t> ReadS16(const std::string& rawFile) {
  const std::vector<uint8_t> b = ReadBytes(rawFile);
  std::vector<int16_t> s(b.size() / 2);
  for (size_t i = 0; i < s.size(); i++)
    s[i] = static_cast<int16_t>(b[2 * i] | (b[2 * i + 1] << 8));
  return s;
}

double ZeroCrossingFrequency(const std::vector<int16_t>& samples, int channels,
                             int rate) {
  // Rising crossings with hysteresis, so coding noise around zero does not
  // count twice.
  const size_t frames = samples.size() / static_cast<size_t>(channels);
  int64_t first = -1, last = -1, crossings = 0;
  bool armed = false;
  for (size_t i = 0; i < frames; i++) {
    const int v = samples[i * static_cast<size_t>(channels)];
    if (v < -1000) armed = true;
    if (armed && v >= 0) {
      armed = false;
      if (first < 0) first = static_cast<int64_t>(i);
      last = static_cast<int64_t>(i);
      crossings++;
    }
  }
  if (crossings < 2) return 0;
  return static_cast<double>(crossings - 1) * rate / static_cast<double>(last - first);
}

double Psnr(const uint8_t* a, const uint8_t* b, size_t n) {
  double se = 0;
  for (size_t i = 0; i < n; i++) {
    const double d = static_cast<double>(a[i]) - b[i];
    se += d * d;
  }
  if (se == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(n) / se);
}

}  // namespace MediaTools
