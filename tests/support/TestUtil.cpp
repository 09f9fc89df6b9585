#include "support/TestUtil.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace TestUtil {

TempDir::TempDir() {
  std::string templ =
      (std::filesystem::temp_directory_path() / "qortest-XXXXXX").string();
  if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<std::string> ReadLines(const std::string& path) {
  const std::string text = ReadText(path);
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

bool HaveTool(const std::string& name) {
  const std::string cmd = "command -v " + name + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

}  // namespace TestUtil

#include <gtest/gtest.h>

#include "engine/Lifecycle.h"

namespace {

// Each test process starts and stops the library as a host's load and
// unload would, so blocks a test leaves tracked are released at exit.
class LibraryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { Lifecycle::LibraryStart(); }
  void TearDown() override { Lifecycle::LibraryStop(); }
};

const auto* const g_environment =
    ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);

}  // namespace
