// What the host tests need around the library: a scratch folder, the peer
// programs they compare with, whole-file reads and the last call's outcome.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/HostLibrary.h"

namespace {

// A fresh folder, removed with its contents at the end of the test.
class ScratchDir {
 public:
  ScratchDir() {
    char tmpl[] = "/tmp/qor_host_XXXXXX";
    if (mkdtemp(tmpl)) path_ = tmpl;
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline int Shell(const std::string& command) {
  return std::system(command.c_str());
}

// What a command prints on its standard output.
inline std::string Capture(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[256];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  return out;
}

inline bool HaveTool(const std::string& name) {
  return Shell("command -v " + name + " >/dev/null 2>&1") == 0;
}

#define REQUIRE_PEER(name) \
  if (!HaveTool(name)) GTEST_SKIP() << name << " is not installed"

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& b) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()),
             static_cast<std::streamsize>(b.size()));
}

// The outcome of the last exported call.
inline QorLastError Outcome() {
  QorLastError rec{-1, -1, -1};
  QOR_GET(QorGetLastError)(&rec);
  return rec;
}

}  // namespace
