// Shared by the fuzz targets: the library is started once, and each input is
// handed to the readers as a file, the way hosts hand files to them. After
// every input the tracked memory and the open descriptors must be back where
// they were: a reader that keeps either is reported as a finding.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/Lifecycle.h"
#include "formats/FFBasic.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "media/ImgBasic.h"

namespace FuzzSupport {

// The fuzzers hold the readers to pictures of 16 MiB and 4096 frames: the
// checks are the same as at the full limits, and a small file that asks for
// a large canvas (which the formats allow) costs milliseconds, not seconds.
inline void StartLibraryOnce() {
  static bool started = [] {
    Lifecycle::LibraryStart();
    FFBasic::FFSetLimits(int64_t{16} << 20, 4096);
    return true;
  }();
  (void)started;
}

// Writes the input to a file of this process with the given extension.
inline std::string InputFile(const uint8_t* data, size_t size, const char* ext) {
  const char* tmp = getenv("TMPDIR");
  std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/qorfuzz-" +
                     std::to_string(getpid()) + ext;
  FILE* f = std::fopen(name.c_str(), "wb");
  if (f) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  return name;
}

// Runs a reader step; an error pair ends the step, as it ends a host's call,
// and is cleared so the next step starts clean.
template <class F>
void Guarded(F&& f) {
  try {
    f();
  } catch (const Errors::EMon&) {
  }
  Errors::ErrClear();
  Errors::WarnClear();
}

inline int OpenDescriptors() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) n++;
    closedir(d);
  }
  return n;
}

// Notes the tracked blocks and descriptors at the start of an input and
// checks them at its end.
class LeakCheck {
 public:
  LeakCheck() : mem_(Basic::MemMark()), fds_(OpenDescriptors()) {}
  ~LeakCheck() {
    if (Basic::MemMark() != mem_) {
      std::fprintf(stderr, "==qorfuzz== tracked memory kept: %d blocks before, %d after\n",
                   mem_, Basic::MemMark());
      std::abort();
    }
    if (OpenDescriptors() != fds_) {
      std::fprintf(stderr, "==qorfuzz== descriptors kept: %d before, %d after\n", fds_,
                   OpenDescriptors());
      std::abort();
    }
  }

 private:
  int32_t mem_;
  int fds_;
};

// A delivered image must be what its record says: every pixel byte is read
// so that a block shorter than the record claims shows up under ASan.
// A failed load frees the blocks its frame obtained and leaves clearing the
// record to the caller, as the still dispatch does: so does this.
inline void CheckImage(ImgBasic::Qimg& img) {
  if (img.data && !Basic::MemIsTracked(img.data)) ImgBasic::ImgClear(&img);
  if (!img.data) return;
  const int64_t need = int64_t{img.width} * img.height * img.bytesPerPixel;
  if (img.width < 1 || img.height < 1 || need > img.size) {
    std::fprintf(stderr, "==qorfuzz== image record %dx%dx%d over a block of %d\n", img.width,
                 img.height, img.bytesPerPixel, img.size);
    std::abort();
  }
  volatile uint8_t sum = 0;
  for (int64_t i = 0; i < need; i++) sum = static_cast<uint8_t>(sum + img.data[i]);
  (void)sum;
}

// Information then load through a still reader's own entry points.
template <class InfoRec, class InfoFn, class LoadFn>
int StillTarget(const uint8_t* data, size_t size, const char* ext, InfoFn info,
                LoadFn load) {
  StartLibraryOnce();
  const std::string name = InputFile(data, size, ext);
  LeakCheck leaks;
  InfoRec rec;
  ImgBasic::Qimg img;
  Guarded([&] { info(name, &rec); });
  Guarded([&] { load(name, &img); });
  CheckImage(img);
  Guarded([&] { ImgBasic::ImgFree(&img); });
  return 0;
}

}  // namespace FuzzSupport
