// Small media files a host test writes itself, byte by byte, so that what
// the library reports can be checked against what was written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "host/HostScratch.h"

namespace {

inline void PutLE(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; i++) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// An uncompressed Windows bitmap of 24 or 32 bits with a gradient.
inline void WriteBmp(const std::string& path, int32_t width, int32_t height, int32_t bits = 24) {
  const uint32_t row = static_cast<uint32_t>((width * (bits / 8) + 3) & ~3);
  const uint32_t pixels = row * static_cast<uint32_t>(height);
  std::vector<uint8_t> b{'B', 'M'};
  PutLE(b, 54 + pixels, 4);
  PutLE(b, 0, 4);
  PutLE(b, 54, 4);
  PutLE(b, 40, 4);
  PutLE(b, static_cast<uint32_t>(width), 4);
  PutLE(b, static_cast<uint32_t>(height), 4);
  PutLE(b, 1, 2);
  PutLE(b, static_cast<uint32_t>(bits), 2);
  PutLE(b, 0, 4);
  PutLE(b, pixels, 4);
  PutLE(b, 2835, 4);
  PutLE(b, 2835, 4);
  PutLE(b, 0, 4);
  PutLE(b, 0, 4);
  for (int32_t y = 0; y < height; y++) {
    const size_t start = b.size();
    for (int32_t x = 0; x < width; x++)
      for (int32_t c = 0; c < bits / 8; c++) b.push_back(static_cast<uint8_t>(x + y + c * 40));
    while (b.size() - start < row) b.push_back(0);
  }
  WriteBytes(path, b);
}

// A PCM wave file of frames sample frames of silence.
inline void WriteWav(const std::string& path, int32_t rate, int32_t channels, int32_t bits,
              int32_t frames) {
  const uint32_t align = static_cast<uint32_t>(channels * ((bits + 7) / 8));
  const uint32_t data = align * static_cast<uint32_t>(frames);
  std::vector<uint8_t> b{'R', 'I', 'F', 'F'};
  PutLE(b, 36 + data, 4);
  for (char c : std::string("WAVEfmt ")) b.push_back(static_cast<uint8_t>(c));
  PutLE(b, 16, 4);
  PutLE(b, 1, 2);
  PutLE(b, static_cast<uint32_t>(channels), 2);
  PutLE(b, static_cast<uint32_t>(rate), 4);
  PutLE(b, static_cast<uint32_t>(rate) * align, 4);
  PutLE(b, align, 2);
  PutLE(b, static_cast<uint32_t>(bits), 2);
  for (char c : std::string("data")) b.push_back(static_cast<uint8_t>(c));
  PutLE(b, data, 4);
  b.resize(b.size() + data, bits == 8 ? 0x80 : 0);
  WriteBytes(path, b);
}

// The red value of the first pixel of each file of a numbered P6 sequence
// (base000.ppm, base001.ppm ...), in order, until the first missing file.
inline std::vector<int> SequenceReds(const std::string& base) {
  std::vector<int> reds;
  for (int i = 0;; i++) {
    char number[16];
    std::snprintf(number, sizeof number, "%03d.ppm", i);
    const std::vector<uint8_t> bytes = ReadBytes(base + number);
    if (bytes.empty()) break;
    // "P6\n16 16\n255\n" then R,G,B.
    int newlines = 0;
    size_t pos = 0;
    while (pos < bytes.size() && newlines < 3)
      if (bytes[pos++] == '\n') newlines++;
    reds.push_back(pos < bytes.size() ? bytes[pos] : -1);
  }
  return reds;
}

inline bool HaveProgram(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// The first line a shell command prints.
inline std::string FirstLine(const std::string& command) {
  std::string line;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buf[512];
    if (std::fgets(buf, sizeof buf, pipe)) line = buf;
    pclose(pipe);
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

}  // namespace
