// Scratch folders and whole-file reads for tests that look at files the
// library writes.
#pragma once

#include <string>

namespace TestSupport {

// A fresh folder under /tmp, removed with everything in it at scope end.
class ScratchDir {
 public:
  explicit ScratchDir(const char* prefix = "qor_test");
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The bytes of a file, empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);

}  // namespace TestSupport
