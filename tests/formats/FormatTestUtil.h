// Shared helpers of the format tests: a scratch folder, images made in the
// test, running the peer programs and reading their PPM/PGM output with a
// parser of the tests' own.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "formats/ConForm.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "media/ImgBasic.h"
#include "support/ImageMagick.h"
#include "support/TestUtil.h"

namespace TestSupport {
inline bool operator==(const RgbPicture& a, const RgbPicture& b) {
  return a.width == b.width && a.height == b.height && a.rgb == b.rgb;
}
}  // namespace TestSupport

namespace fmttest {

using Bytes = std::vector<uint8_t>;

// One scratch folder per test process, removed when the process ends.
inline std::string ScratchDir() {
  static TestUtil::TempDir dir;
  return dir.path();
}

inline std::string Path(const std::string& name) {
  return ScratchDir() + "/" + name;
}

inline void WriteFile(const std::string& path, const Bytes& data) {
  TestUtil::WriteText(path, std::string(data.begin(), data.end()));
}

inline Bytes ReadFile(const std::string& path) {
  const std::string text = TestUtil::ReadText(path);
  return Bytes(text.begin(), text.end());
}

using TestUtil::HaveTool;

inline int Shell(const std::string& command) {
  return std::system(("(" + command + ") 2>/dev/null").c_str());
}

#define REQUIRE_TOOL(tool) \
  if (!fmttest::HaveTool(tool)) GTEST_SKIP() << tool << " not installed"

// A picture as 8-bit R,G,B triples (grey files are widened), rows top-down.
using Rgb = TestSupport::RgbPicture;

// Parses a binary PPM (P6) or PGM (P5) with one byte per sample; samples of
// a smaller maximum value m are brought to 8 bits as v x 256 / (m + 1).
inline bool ParsePnm(const Bytes& data, Rgb* out) {
  size_t pos = 0;
  auto token = [&]() {
    std::string t;
    while (pos < data.size()) {
      const char c = static_cast<char>(data[pos]);
      if (c == '#') {
        while (pos < data.size() && data[pos] != '\n') pos++;
      } else if (std::isspace(static_cast<unsigned char>(c))) {
        pos++;
      } else {
        break;
      }
    }
    while (pos < data.size() && !std::isspace(data[pos])) t += static_cast<char>(data[pos++]);
    return t;
  };
  const std::string magic = token();
  if (magic != "P6" && magic != "P5") return false;
  out->width = std::atoi(token().c_str());
  out->height = std::atoi(token().c_str());
  const int maxValue = std::atoi(token().c_str());
  if (maxValue < 1 || maxValue > 255) return false;
  pos++;
  const size_t ch = magic == "P6" ? 3 : 1;
  const size_t n = static_cast<size_t>(out->width) * out->height;
  if (data.size() < pos + n * ch) return false;
  out->rgb.resize(n * 3);
  for (size_t i = 0; i < n; i++)
    for (size_t c = 0; c < 3; c++)
      out->rgb[i * 3 + c] = static_cast<uint8_t>(
          data[pos + i * ch + (ch == 3 ? c : 0)] * 256 / (maxValue + 1));
  return true;
}

// The picture of a Qimg, through the library's own depth conversion.
inline Rgb FromQimg(const ImgBasic::Qimg& image) {
  Rgb out;
  out.width = image.width;
  out.height = image.height;
  const size_t n = static_cast<size_t>(image.width) * image.height;
  out.rgb.resize(n * 3);
  for (size_t i = 0; i < n; i++) {
    const uint8_t* p;
    uint8_t tmp[3];
    if (image.bitsPerPixel == 8) {
      p = image.palette + image.data[i] * 3;
    } else if (image.bitsPerPixel == 15 || image.bitsPerPixel == 16) {
      const uint16_t w = static_cast<uint16_t>(image.data[i * 2] | (image.data[i * 2 + 1] << 8));
      tmp[0] = static_cast<uint8_t>((w & 31) << 3);
      if (image.bitsPerPixel == 15) {
        tmp[1] = static_cast<uint8_t>(((w >> 5) & 31) << 3);
        tmp[2] = static_cast<uint8_t>(((w >> 10) & 31) << 3);
      } else {
        tmp[1] = static_cast<uint8_t>(((w >> 5) & 63) << 2);
        tmp[2] = static_cast<uint8_t>(((w >> 11) & 31) << 3);
      }
      p = tmp;
    } else {
      p = image.data + i * image.bytesPerPixel;
    }
    out.rgb[i * 3] = p[2];
    out.rgb[i * 3 + 1] = p[1];
    out.rgb[i * 3 + 2] = p[0];
  }
  return out;
}

// Keeps the top `bits` bits of every sample (to compare 5-bit colour).
inline Rgb TopBits(Rgb pic, int bits) {
  const uint8_t mask = static_cast<uint8_t>(0xFF << (8 - bits));
  for (uint8_t& b : pic.rgb) b &= mask;
  return pic;
}

// Reads a file with a netpbm converter or ImageMagick into R,G,B.
inline bool PeerRead(const std::string& command, Rgb* out) {
  const std::string ppm = Path("peer_out.pnm");
  std::remove(ppm.c_str());
  if (Shell(command + " > " + ppm) != 0) return false;
  return ParsePnm(ReadFile(ppm), out);
}

inline bool MagickRead(const std::string& file, Rgb* out) {
  const std::string ppm = Path("magick_out.ppm");
  std::remove(ppm.c_str());
  if (Shell("convert '" + file + "' -depth 8 '" + ppm + "'") != 0) return false;
  return ParsePnm(ReadFile(ppm), out);
}

inline void WritePpm(const std::string& path, const Rgb& pic) {
  std::string head = "P6\n" + std::to_string(pic.width) + " " +
                     std::to_string(pic.height) + "\n255\n";
  Bytes data(head.begin(), head.end());
  data.insert(data.end(), pic.rgb.begin(), pic.rgb.end());
  WriteFile(path, data);
}

inline void WritePgm(const std::string& path, const Rgb& pic) {
  std::string head = "P5\n" + std::to_string(pic.width) + " " +
                     std::to_string(pic.height) + "\n255\n";
  Bytes data(head.begin(), head.end());
  for (size_t i = 0; i < pic.rgb.size(); i += 3) data.push_back(pic.rgb[i]);
  WriteFile(path, data);
}

// A picture with runs, single pixels and every kind of byte: good for both
// run-length and literal packets.
inline Rgb TestPicture(int32_t width, int32_t height, uint32_t seed = 7) {
  Rgb pic;
  pic.width = width;
  pic.height = height;
  pic.rgb.resize(static_cast<size_t>(width) * height * 3);
  uint32_t s = seed;
  for (int32_t y = 0; y < height; y++)
    for (int32_t x = 0; x < width; x++) {
      uint8_t* p = &pic.rgb[(static_cast<size_t>(y) * width + x) * 3];
      if ((x / 5 + y) % 3 == 0) {  // runs
        p[0] = static_cast<uint8_t>(y * 40);
        p[1] = 128;
        p[2] = 200;
      } else {
        s = s * 1103515245u + 12345u;
        p[0] = static_cast<uint8_t>(s >> 16);
        p[1] = static_cast<uint8_t>(s >> 8);
        p[2] = static_cast<uint8_t>(s >> 24);
      }
    }
  return pic;
}

// A grey picture (R = G = B).
inline Rgb GreyPicture(int32_t width, int32_t height) {
  Rgb pic = TestPicture(width, height, 11);
  for (size_t i = 0; i < pic.rgb.size(); i += 3)
    pic.rgb[i + 1] = pic.rgb[i + 2] = pic.rgb[i];
  return pic;
}

// A picture of at most 16 colours.
inline Rgb FewColours(int32_t width, int32_t height) {
  Rgb pic;
  pic.width = width;
  pic.height = height;
  for (int32_t y = 0; y < height; y++)
    for (int32_t x = 0; x < width; x++) {
      const int k = (x * 3 + y * 5 + (x / 4)) % 16;
      pic.rgb.push_back(static_cast<uint8_t>(k * 16));
      pic.rgb.push_back(static_cast<uint8_t>(255 - k * 8));
      pic.rgb.push_back(static_cast<uint8_t>((k * 37) & 255));
    }
  return pic;
}

// A Qimg of the given depth holding the picture (24 or 32 bits, or 8 bits
// with a palette of the picture's colours; at most 256 of them).
inline void ToQimg(const Rgb& pic, int32_t bits, ImgBasic::Qimg* image) {
  ImgBasic::_imgalloc_(image, pic.width, pic.height, "test.image", __LINE__, bits);
  const size_t n = static_cast<size_t>(pic.width) * pic.height;
  if (bits == 8) {
    std::vector<uint32_t> colours;
    for (size_t i = 0; i < n; i++) {
      const uint32_t c = pic.rgb[i * 3] | (pic.rgb[i * 3 + 1] << 8) |
                         (pic.rgb[i * 3 + 2] << 16);
      size_t k = 0;
      while (k < colours.size() && colours[k] != c) k++;
      if (k == colours.size()) colours.push_back(c);
      image->data[i] = static_cast<uint8_t>(k);
    }
    for (size_t k = 0; k < colours.size() && k < 256; k++) {
      image->palette[k * 3] = static_cast<uint8_t>(colours[k] >> 16);
      image->palette[k * 3 + 1] = static_cast<uint8_t>(colours[k] >> 8);
      image->palette[k * 3 + 2] = static_cast<uint8_t>(colours[k]);
    }
    return;
  }
  const int bpp = image->bytesPerPixel;
  for (size_t i = 0; i < n; i++) {
    uint8_t* p = image->data + i * bpp;
    if (bits == 15) {
      const uint16_t w = static_cast<uint16_t>((pic.rgb[i * 3 + 2] >> 3) |
                                               ((pic.rgb[i * 3 + 1] >> 3) << 5) |
                                               ((pic.rgb[i * 3] >> 3) << 10));
      p[0] = static_cast<uint8_t>(w);
      p[1] = static_cast<uint8_t>(w >> 8);
      continue;
    }
    p[0] = pic.rgb[i * 3 + 2];
    p[1] = pic.rgb[i * 3 + 1];
    p[2] = pic.rgb[i * 3];
    if (bpp == 4) p[3] = 255;
  }
}

// Loads a file through the library; false with the error pair kept when
// the load fails.
inline bool Load(const std::string& path, ImgBasic::Qimg* image,
                 int32_t id = Basic::K_AUTO) {
  try {
    ConForm::ImgLoad(path, image, id, nullptr);
    return true;
  } catch (const Errors::EMon&) {
    *image = ImgBasic::Qimg{};
    return false;
  }
}

inline bool Save(const std::string& path, ImgBasic::Qimg* image,
                 int32_t id = Basic::K_AUTO) {
  try {
    ConForm::ImgSave(path, image, id);
    return true;
  } catch (const Errors::EMon&) {
    return false;
  }
}

inline Rgb LoadRgb(const std::string& path) {
  ImgBasic::Qimg image;
  if (!Load(path, &image)) {
    ADD_FAILURE() << "cannot load " << path << ": " << Errors::ErrLastText();
    return Rgb{};
  }
  Rgb pic = FromQimg(image);
  ImgBasic::ImgFree(&image);
  return pic;
}

// Little helpers to build files by hand.
inline void Put16L(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32L(Bytes& b, uint32_t v) {
  Put16L(b, v);
  Put16L(b, v >> 16);
}
inline void Put16B(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}
inline void Put32B(Bytes& b, uint32_t v) {
  Put16B(b, v >> 16);
  Put16B(b, v);
}

}  // namespace fmttest
