// Shared helpers of the test suite: scratch folders and whole-file reads.
#pragma once

#include <string>
#include <vector>

namespace TestUtil {

// A fresh folder under the temp folder, removed with everything in it when
// the object goes out of scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadText(const std::string& path);
std::vector<std::string> ReadLines(const std::string& path);  // split at CRLF
void WriteText(const std::string& path, const std::string& text);
bool HaveTool(const std::string& name);

}  // namespace TestUtil
