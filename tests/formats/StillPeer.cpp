#include "formats/StillPeer.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "support/TestUtil.h"

using ImgBasic::Qimg;

namespace StillPeer {

Image::~Image() {
  // A routine that failed has had its frame free the block it allocated.
  if (img.data && Basic::MemIsTracked(img.data)) ImgBasic::ImgFree(&img);
}

void MakePicture(Qimg* image, int32_t width, int32_t height, int32_t bits,
                 bool zeroAlpha) {
  ImgBasic::_imgalloc_(image, width, height, "test.picture", __LINE__, bits);
  for (int32_t y = 0; y < height; y++)
    for (int32_t x = 0; x < width; x++) {
      const uint8_t r = static_cast<uint8_t>(x * 255 / std::max(1, width - 1));
      const uint8_t g = static_cast<uint8_t>(y * 255 / std::max(1, height - 1));
      const uint8_t b = static_cast<uint8_t>((x + y) * 255 /
                                             std::max(1, width + height - 2));
      uint8_t* p = image->data +
                   (static_cast<int64_t>(y) * width + x) * image->bytesPerPixel;
      if (bits == 8) {
        p[0] = g;
        continue;
      }
      p[0] = b;
      p[1] = g;
      p[2] = r;
      if (bits == 32) p[3] = zeroAlpha ? 0 : static_cast<uint8_t>(255 - r / 2);
    }
  if (bits == 8) ImgBasic::PalMakeGrey(image->palette);
}

void MakePaletted(Qimg* image, int32_t width, int32_t height,
                  int32_t colours) {
  ImgBasic::_imgalloc_(image, width, height, "test.paletted", __LINE__, 8);
  for (int32_t i = 0; i < 256; i++) {
    image->palette[i * 3 + 0] = static_cast<uint8_t>(i * 37);
    image->palette[i * 3 + 1] = static_cast<uint8_t>(255 - i * 11);
    image->palette[i * 3 + 2] = static_cast<uint8_t>(i * 73 + 5);
  }
  for (int32_t y = 0; y < height; y++)
    for (int32_t x = 0; x < width; x++)
      image->data[static_cast<int64_t>(y) * width + x] =
          static_cast<uint8_t>((x * colours / width + y) % colours);
}

std::vector<uint8_t> ToRgb(const Qimg& image, bool withAlpha) {
  const int64_t count = static_cast<int64_t>(image.width) * image.height;
  const int n = withAlpha ? 4 : 3;
  std::vector<uint8_t> out(static_cast<size_t>(count * n));
  for (int64_t i = 0; i < count; i++) {
    const uint8_t* p = image.data + i * image.bytesPerPixel;
    uint8_t r, g, b, a = 255;
    if (image.bitsPerPixel == 8) {
      const uint8_t* e = image.palette + p[0] * 3;
      b = e[0], g = e[1], r = e[2];
    } else {
      b = p[0], g = p[1], r = p[2];
      if (image.bitsPerPixel == 32) a = p[3];
    }
    out[i * n] = r;
    out[i * n + 1] = g;
    out[i * n + 2] = b;
    if (withAlpha) out[i * n + 3] = a;
  }
  return out;
}

int MaxDiff(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size()) return 1000;
  int worst = 0;
  for (size_t i = 0; i < a.size(); i++)
    worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
  return worst;
}

double Rms(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 1e9;
  double sum = 0;
  for (size_t i = 0; i < a.size(); i++) {
    const double d = double(a[i]) - double(b[i]);
    sum += d * d;
  }
  return std::sqrt(sum / a.size());
}

bool HaveMagick() { return TestUtil::HaveTool("convert"); }
bool HaveTool(const char* name) { return TestUtil::HaveTool(name); }

int Run(const std::string& command) {
  return std::system((command + " 2>/dev/null").c_str());
}

std::string Capture(const std::string& command) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> PeerRead(const std::string& file, const std::string& map) {
  const std::string raw = file + ".peer.raw";
  if (Run("convert '" + file + "' -depth 8 " + map + ":'" + raw + "'") != 0)
    return {};
  auto bytes = ReadFile(raw);
  std::remove(raw.c_str());
  return bytes;
}

void PeerWrite(const std::vector<uint8_t>& samples, int32_t width,
               int32_t height, const std::string& map, int depth,
               const std::string& options, const std::string& out) {
  const std::string raw = out.substr(out.rfind(':') + 1) + ".in.raw";
  WriteFile(raw, samples);
  const std::string cmd = "convert -size " + std::to_string(width) + "x" +
                          std::to_string(height) + " -depth " +
                          std::to_string(depth) + " -endian MSB " + map + ":'" + raw +
                          "' " + options + " '" + out + "'";
  const int rc = Run(cmd);
  std::remove(raw.c_str());
  if (rc != 0) throw std::runtime_error("peer failed: " + cmd);
}

std::vector<uint8_t> PictureSamples(int32_t width, int32_t height, bool alpha) {
  Qimg img;
  MakePicture(&img, width, height, alpha ? 32 : 24);
  auto out = ToRgb(img, alpha);
  ImgBasic::ImgFree(&img);
  return out;
}

std::string ErrorLine() {
  return std::to_string(Errors::ErrClass()) + ":" +
         std::to_string(Errors::ErrCode()) + " " + Errors::ErrLastText();
}

}  // namespace StillPeer
