#include "platform/base/SysInfo.h"

#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace SysInfo {

OsVersion ParseKernelRelease(const std::string& release) {
  OsVersion v;
  uint32_t* parts[3] = {&v.major, &v.minor, &v.build};
  size_t i = 0;
  for (int n = 0; n < 3; n++) {
    uint64_t value = 0;
    bool any = false;
    while (i < release.size() && release[i] >= '0' && release[i] <= '9') {
      value = value * 10 + static_cast<uint64_t>(release[i] - '0');
      if (value > 0xFFFFFFFFull) value = 0xFFFFFFFFull;
      any = true;
      i++;
    }
    if (!any) break;
    *parts[n] = static_cast<uint32_t>(value);
    if (i >= release.size() || release[i] != '.') break;
    i++;
  }
  return v;
}

OsVersion QueryOsVersion() {
  utsname u{};
  if (uname(&u) != 0) return OsVersion{};
  return ParseKernelRelease(u.release);
}

CpuInfo QueryCpu() {
  CpuInfo c;
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  c.processors = n > 0 ? static_cast<uint32_t>(n) : 1;
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("cpu family", 0) == 0) {
      size_t colon = line.find(':');
      if (colon != std::string::npos)
        c.processorLevel = std::atoi(line.c_str() + colon + 1);
      break;
    }
  }
  return c;
}

MemInfo QueryMemory() {
  MemInfo m;
  std::ifstream in("/proc/meminfo");
  std::string key;
  uint64_t kb = 0;
  std::string unit;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    if (!(ls >> key >> kb)) continue;
    const uint64_t bytes = kb * 1024;
    if (key == "MemTotal:") m.totalPhys = bytes;
    else if (key == "MemAvailable:") m.availPhys = bytes;
    else if (key == "SwapTotal:") m.totalSwap = bytes;
    else if (key == "SwapFree:") m.availSwap = bytes;
  }
  return m;
}

bool QueryDiskSpace(const std::string& path, uint64_t& total, uint64_t& free) {
  struct statvfs st {};
  if (statvfs(path.c_str(), &st) != 0) return false;
  total = static_cast<uint64_t>(st.f_blocks) * st.f_frsize;
  free = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
  return true;
}

}  // namespace SysInfo

namespace SysInfo {

std::string ExecutablePath() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

}  // namespace SysInfo
