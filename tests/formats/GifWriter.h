// Writes GIF files by hand for the tests (the library reads GIF but does
// not write it).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "support/TestUtil.h"

namespace giftest {

// Writes GIF files by hand. Its LZW stream sends every pixel as a literal
// 9-bit code and a clear code before the table would need 10 bits.
class GifWriter {
 public:
  GifWriter(int w, int h, int background = 0, bool global = true) {
    Put("GIF89a");
    Put16(w);
    Put16(h);
    bytes_.push_back(global ? 0xF7 : 0x00);
    bytes_.push_back(static_cast<uint8_t>(background));
    bytes_.push_back(0);
    if (global)
      for (int i = 0; i < 256; i++) {
        bytes_.push_back(static_cast<uint8_t>(i));        // R
        bytes_.push_back(static_cast<uint8_t>(255 - i));  // G
        bytes_.push_back(static_cast<uint8_t>(i * 3));    // B
      }
  }
  // Extra bytes make the block longer than its 4.
  void Control(int disposal, int transparent, int delay, const std::vector<uint8_t>& extra = {}) {
    bytes_.insert(bytes_.end(), {0x21, 0xF9, static_cast<uint8_t>(4 + extra.size())});
    bytes_.push_back(static_cast<uint8_t>((disposal << 2) | (transparent >= 0 ? 1 : 0)));
    Put16(delay);
    bytes_.push_back(static_cast<uint8_t>(transparent >= 0 ? transparent : 0));
    Raw(extra);
    bytes_.push_back(0);
  }
  // Bytes made by hand, blocks or not.
  void Raw(const std::vector<uint8_t>& b) { bytes_.insert(bytes_.end(), b.begin(), b.end()); }
  void Comment(const std::string& text) {
    bytes_.insert(bytes_.end(), {0x21, 0xFE});
    bytes_.push_back(static_cast<uint8_t>(text.size()));
    Put(text);
    bytes_.push_back(0);
  }
  void UnknownExtension() {
    bytes_.insert(bytes_.end(), {0x21, 0x77, 3, 'a', 'b', 'c', 2, 'd', 'e', 0});
  }
  // A plain-text extension (its 12-byte grid block, then a block of text)
  // and an application extension (its name block, then a data block).
  void PlainTextAndApplication() {
    bytes_.insert(bytes_.end(), {0x21, 0x01, 12, 0, 0, 0, 0, 6, 0, 6, 0, 6, 6, 1, 0});
    bytes_.insert(bytes_.end(), {2, 'h', 'i', 0});
    bytes_.insert(bytes_.end(), {0x21, 0xFF, 11});
    Put("NETSCAPE2.0");
    bytes_.insert(bytes_.end(), {3, 1, 0, 0, 0});
  }
  void Image(int left, int top, int w, int h, const std::vector<uint8_t>& pixels,
             bool interlace = false, bool local = false) {
    bytes_.push_back(0x2C);
    Put16(left);
    Put16(top);
    Put16(w);
    Put16(h);
    bytes_.push_back(static_cast<uint8_t>((local ? 0x87 : 0) | (interlace ? 0x40 : 0)));
    if (local)
      for (int i = 0; i < 256; i++) bytes_.insert(bytes_.end(), {static_cast<uint8_t>(255 - i), 7, 9});
    std::vector<uint8_t> order = pixels;
    if (interlace) {
      order.clear();
      for (int pass = 0; pass < 4; pass++)
        for (int y = (int[]){0, 4, 2, 1}[pass]; y < h; y += (int[]){8, 8, 4, 2}[pass])
          order.insert(order.end(), pixels.begin() + y * w, pixels.begin() + (y + 1) * w);
    }
    bytes_.push_back(8);
    std::vector<uint8_t> data;
    uint32_t acc = 0;
    int bits = 0;
    auto code = [&](int c) {
      acc |= static_cast<uint32_t>(c) << bits;
      bits += 9;
      while (bits >= 8) {
        data.push_back(static_cast<uint8_t>(acc));
        acc >>= 8;
        bits -= 8;
      }
    };
    code(256);
    for (size_t i = 0; i < order.size(); i++) {
      if (i && i % 254 == 0) code(256);
      code(order[i]);
    }
    code(257);
    if (bits) data.push_back(static_cast<uint8_t>(acc));
    for (size_t i = 0; i < data.size(); i += 255) {
      const size_t n = std::min<size_t>(255, data.size() - i);
      bytes_.push_back(static_cast<uint8_t>(n));
      bytes_.insert(bytes_.end(), data.begin() + i, data.begin() + i + n);
    }
    bytes_.push_back(0);
  }
  void Save(const std::string& path, bool trailer = true) {
    if (trailer) bytes_.push_back(0x3B);
    TestUtil::WriteText(path, std::string(bytes_.begin(), bytes_.end()));
  }

 private:
  void Put(const std::string& s) { bytes_.insert(bytes_.end(), s.begin(), s.end()); }
  void Put16(int v) {
    bytes_.push_back(static_cast<uint8_t>(v));
    bytes_.push_back(static_cast<uint8_t>(v >> 8));
  }
  std::vector<uint8_t> bytes_;
};

}  // namespace giftest
