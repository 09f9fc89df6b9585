// Whether a shared object is mapped into this process: what a host test
// checks to see which of the library's modules a call loaded.
#pragma once

#include <fstream>
#include <string>

// True when a mapped file's path contains `part`.
inline bool Mapped(const std::string& part) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.find(part) != std::string::npos) return true;
  return false;
}
