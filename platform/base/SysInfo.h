// Facts about the machine for the trace file, read from uname, sysconf and
// /proc in place of the Windows system queries.
#pragma once

#include <cstdint>
#include <string>

namespace SysInfo {

struct OsVersion {
  int32_t platformId = -1;  // no Windows platform identifier applies here
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
};

struct CpuInfo {
  int32_t processorLevel = 0;  // x86 family number, 0 when unknown
  uint32_t processors = 1;
};

struct MemInfo {
  uint64_t totalPhys = 0, availPhys = 0;  // bytes
  uint64_t totalSwap = 0, availSwap = 0;  // bytes
};

OsVersion QueryOsVersion();
CpuInfo QueryCpu();
MemInfo QueryMemory();
// Size and space free to the caller of the volume holding path, in bytes.
bool QueryDiskSpace(const std::string& path, uint64_t& total, uint64_t& free);

// Full path of the running program (the host), empty when unknown.
std::string ExecutablePath();

// Parses "6.1.0-18-amd64" into major, minor and build (the third number).
OsVersion ParseKernelRelease(const std::string& release);

}  // namespace SysInfo
