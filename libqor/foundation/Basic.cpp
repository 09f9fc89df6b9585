#include "foundation/Basic.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"
#include "platform/base/SysInfo.h"

using Errors::ErrSet;
using Errors::TraceScope;

namespace Basic {
namespace {

struct MemEntry {
  void* block = nullptr;
  void** owner = nullptr;
  int32_t size = 0;
  std::string label;
  uint64_t sequence = 0;  // order of allocation; a grown block keeps its own
  bool kept = false;      // a host's: no failing frame frees it
};

struct FileEntry {
  int32_t handle = 0;
  bool text = false;
  std::string name;  // display name, at most 255 characters
  int fd = -1;       // binary files
  FILE* stream = nullptr;  // text files
  bool kept = false;       // a host's: no failing frame closes it
};

struct State {
  std::vector<MemEntry> blocks;
  int32_t maxCount = 0;
  std::vector<FileEntry> files;
  int32_t nextHandle = 1;
  uint64_t nextSequence = 1;
  FaultHooks faults;

  State() {
    blocks.reserve(kMaxBlocks);
    files.reserve(kMaxFiles);
  }
};

State& S() {
  static State state;
  return state;
}

// The name an error text of the calling thread quotes ("Cannot open file: "
// + name) belongs to that thread, as its error pair does.
std::string& LastName() {
  thread_local std::string name;
  return name;
}

bool InjectFault(int32_t& counter) { return CountDownFault(counter); }

int FindBlock(const void* block) {
  if (!block) return -1;
  const auto& b = S().blocks;
  for (size_t i = 0; i < b.size(); i++)
    if (b[i].block == block) return static_cast<int>(i);
  return -1;
}

char KindLetter(int32_t kind) {
  return kind == kMemString ? 'S' : kind == kMemNew ? 'N' : 'C';
}

std::string LabelText(int32_t kind, const char* label, size_t index,
                      int32_t line) {
  std::string text(1, KindLetter(kind));
  text += ':';
  if (label && *label)
    text += label;
  else
    text += "Handle #" + std::to_string(index);
  text += ':';
  text += NumToStr(line, 100);
  return text;
}

void RemoveBlockAt(size_t index) {
  auto& b = S().blocks;
  if (index + 1 != b.size()) b[index] = std::move(b.back());
  b.pop_back();
}

int FindFile(int32_t handle) {
  const auto& f = S().files;
  for (size_t i = 0; i < f.size(); i++)
    if (f[i].handle == handle) return static_cast<int>(i);
  return -1;
}

FileEntry* File(int32_t handle) {
  int i = FindFile(handle);
  return i < 0 ? nullptr : &S().files[i];
}

bool CloseEntry(FileEntry& e) {
  bool ok = true;
  if (e.text) {
    if (e.stream && std::fclose(e.stream) != 0) ok = false;
    e.stream = nullptr;
  } else {
    if (e.fd >= 0 && ::close(e.fd) != 0) ok = false;
    e.fd = -1;
  }
  return ok;
}

void RemoveFileAt(size_t index) {
  auto& f = S().files;
  if (index + 1 != f.size()) f[index] = std::move(f.back());
  f.pop_back();
}

// Opens a descriptor the way the original platform opens files: directories
// are not files.
int OpenFd(const std::string& name, int flags) {
  if (InjectFault(S().faults.failOpenAfter)) {
    errno = EACCES;
    return -1;
  }
  int fd = ::open(name.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return -1;
  }
  return fd;
}

void AddFile(int32_t& handle, const std::string& name, bool text, int fd,
             FILE* stream) {
  State& s = S();
  FileEntry e;
  e.handle = s.nextHandle++;
  e.text = text;
  e.name = name.substr(0, 255);
  e.fd = fd;
  e.stream = stream;
  s.files.push_back(std::move(e));
  handle = s.files.back().handle;
}

}  // namespace

// ---- tracked memory -------------------------------------------------------

int64_t MemSlackSize(int64_t request) {
  if (request <= 0 || request > INT32_MAX) return -1;
  // size × 1.05, halves to even, then up to a multiple of 4.
  const int64_t scaled = request * 105;
  int64_t q = scaled / 100;
  const int64_t r = scaled % 100;
  if (r > 50 || (r == 50 && (q & 1))) q++;
  q = (q + 3) & ~int64_t{3};
  if (q <= 0 || q > INT32_MAX) return -1;
  return q;
}

int32_t _memalloc_(void** owner, int64_t size, int32_t sourceLine,
                   int32_t kind, const char* label) {
  TraceScope trace("Basic._memalloc_");
  State& s = S();
  int32_t result = kMemOk;
  const int64_t bytes = MemSlackSize(size);
  int found = -1;
  if (bytes < 0) {
    result = kMemInvalidSize;
  } else {
    found = FindBlock(*owner);
    if (found >= 0 && s.blocks[found].owner != owner) found = -1;
  }
  if (result == kMemOk && (found < 0 || kind == kMemNew)) {
    // Capacity first: a block that cannot be entered is never obtained.
    if (s.blocks.size() >= static_cast<size_t>(kMaxBlocks)) {
      result = kMemTableFull;
    } else {
      void* block = InjectFault(s.faults.failAllocAfter)
                        ? nullptr
                        : std::calloc(static_cast<size_t>(bytes), 1);
      if (!block) {
        result = kMemObtainFailed;
      } else {
        *owner = block;
        MemEntry e;
        e.block = block;
        e.owner = owner;
        e.size = static_cast<int32_t>(bytes);
        e.label = LabelText(kind, label, s.blocks.size(), sourceLine);
        e.sequence = s.nextSequence++;
        s.blocks.push_back(std::move(e));
        if (static_cast<int32_t>(s.blocks.size()) > s.maxCount)
          s.maxCount = static_cast<int32_t>(s.blocks.size());
      }
    }
  } else if (result == kMemOk) {
    MemEntry& e = s.blocks[found];
    void* block = InjectFault(s.faults.failAllocAfter)
                      ? nullptr
                      : std::realloc(e.block, static_cast<size_t>(bytes));
    if (!block) {
      result = kMemGrowFailed;
    } else {
      if (bytes > e.size)
        std::memset(static_cast<uint8_t*>(block) + e.size, 0,
                    static_cast<size_t>(bytes - e.size));
      e.block = block;
      e.owner = owner;
      e.size = static_cast<int32_t>(bytes);
      e.label = LabelText(kind, label, static_cast<size_t>(found), sourceLine);
      *owner = block;
    }
  }
  ErrSet(Errors::kClsMemory, result, __LINE__);
  return result;
}

void MemFree(void** owner) {
  TraceScope trace("Basic.MemFree");
  Errors::WarnClear();
  const int i = FindBlock(*owner);
  if (i < 0) return;
  std::free(S().blocks[i].block);
  RemoveBlockAt(static_cast<size_t>(i));
  *owner = nullptr;
}

void MemXchg(void** ownerA, void** ownerB) {
  Errors::Monitored("Basic.MemXchg", [&] {
    const int a = FindBlock(*ownerA);
    const int b = FindBlock(*ownerB);
    if (a < 0 || b < 0) {
      ErrSet(Errors::kErrMemManager, __LINE__);
      return;
    }
    MemEntry& ea = S().blocks[a];
    MemEntry& eb = S().blocks[b];
    std::swap(ea.block, eb.block);
    std::swap(ea.size, eb.size);
  });
}

void MemSetOwner(const void* block, void* newOwner) {
  const int i = FindBlock(block);
  if (i >= 0) S().blocks[i].owner = static_cast<void**>(newOwner);
}

bool MemIsTracked(const void* block) { return FindBlock(block) >= 0; }

void MemFreeToMark(int32_t mark) {
  auto& b = S().blocks;
  for (int64_t i = static_cast<int64_t>(b.size()) - 1; i >= mark && i >= 0;
       i--) {
    if (static_cast<size_t>(i) >= b.size()) continue;
    // Freeing moves the last entry into the hole; past i only kept entries
    // are left, so the one moved in is kept too and is passed over.
    if (b[static_cast<size_t>(i)].kept) continue;
    // A copy as the owner: the table slot itself is gone once freed.
    void* block = b[static_cast<size_t>(i)].block;
    MemFree(&block);
  }
}

void MemFreeSince(uint64_t sequence) {
  // Freeing moves the last entry into the hole, so a block obtained after
  // the mark may sit below it in the table: the blocks are chosen by their
  // sequence, not by their place.
  std::vector<std::pair<uint64_t, void*>> doomed;
  for (const MemEntry& e : S().blocks)
    if (e.sequence >= sequence && !e.kept) doomed.emplace_back(e.sequence, e.block);
  std::sort(doomed.begin(), doomed.end(),
            [](const auto& x, const auto& y) { return x.first > y.first; });
  for (auto& d : doomed) MemFree(&d.second);  // a copy as the owner
}

int32_t MemMark() { return static_cast<int32_t>(S().blocks.size()); }

uint64_t MemSequence() { return S().nextSequence; }

void MemKeepSince(uint64_t sequence) {
  for (MemEntry& e : S().blocks)
    if (e.sequence >= sequence) e.kept = true;
}
int32_t MemMaxCount() { return S().maxCount; }

int64_t MemTrackedSize(const void* block) {
  const int i = FindBlock(block);
  return i < 0 ? -1 : S().blocks[i].size;
}

std::string MemTrackedLabel(const void* block) {
  const int i = FindBlock(block);
  return i < 0 ? std::string() : S().blocks[i].label;
}

// ---- memory utilities -----------------------------------------------------

bool TestFlags(uint32_t value, uint32_t bits) { return (value & bits) != 0; }

uint16_t SwapWordValue(uint16_t v) {
  return static_cast<uint16_t>((v >> 8) | (v << 8));
}

uint32_t SwapLongValue(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

void SwapWord(uint16_t& value) { value = SwapWordValue(value); }
void SwapLong(uint32_t& value) { value = SwapLongValue(value); }

void MemFill(uint8_t fill, int64_t count, void* dest) {
  if (count <= 0) return;
  std::memset(dest, fill, static_cast<size_t>(count));
}

void MemMove(int64_t count, void* dest, const void* src) {
  if (count < 1 || dest == src) return;
  std::memmove(dest, src, static_cast<size_t>(count));
}

void MemSwap(int64_t count, void* a, void* b) {
  auto* pa = static_cast<uint8_t*>(a);
  auto* pb = static_cast<uint8_t*>(b);
  for (int64_t i = 0; i < count; i++) std::swap(pa[i], pb[i]);
}

int MemCompare(int64_t count, const void* a, const void* b) {
  if (count <= 0) return 0;
  const int c = std::memcmp(a, b, static_cast<size_t>(count));
  return c == 0 ? 0 : (c < 0 ? 1 : 2);
}

// ---- tracked files --------------------------------------------------------

std::string LastFileName() { return LastName(); }
void SetLastFileName(const std::string& name) { LastName() = name; }

int32_t FOpen(int32_t& handle, const std::string& name, int32_t mode) {
  TraceScope trace("Basic.FOpen");
  State& s = S();
  LastName() = name;
  handle = K_AUTO;
  int access = (mode & kOpenRead) ? O_RDONLY
               : (mode & kOpenWrite) ? O_WRONLY
                                     : O_RDWR;
  int32_t code = 0;
  int fd = -1;
  if (s.files.size() >= static_cast<size_t>(kMaxFiles)) {
    code = 11;
  } else if (mode & kOpenCreate) {
    if (access == O_RDONLY) access = O_RDWR;
    fd = OpenFd(name, access | O_CREAT | O_TRUNC);
    if (fd < 0) code = 2;
  } else if (mode & kOpenAppend) {
    // Appending continues an existing file; it never creates one.
    fd = OpenFd(name, access);
    if (fd < 0)
      code = 7;
    else if (::lseek(fd, 0, SEEK_END) < 0)
      code = 5;
  } else {
    fd = OpenFd(name, access);
    if (fd < 0) code = 1;
  }
  if (code == 0) {
    AddFile(handle, name, false, fd, nullptr);
  } else if (fd >= 0) {
    ::close(fd);
  }
  ErrSet(Errors::kClsFile, code, __LINE__);
  return code;
}

int32_t TXTOpen(int32_t& handle, const std::string& name, int32_t mode) {
  TraceScope trace("Basic.TXTOpen");
  State& s = S();
  LastName() = name;
  handle = K_AUTO;
  int32_t code = 0;
  FILE* stream = nullptr;
  if (s.files.size() >= static_cast<size_t>(kMaxFiles)) {
    code = 11;
  } else {
    int flags;
    const char* fmode;
    if (mode & kOpenCreate) {
      flags = O_WRONLY | O_CREAT | O_TRUNC;
      fmode = "wb";
      code = 2;
    } else if (mode & kOpenAppend) {
      flags = O_WRONLY | O_APPEND;
      fmode = "ab";
      code = 7;
    } else {
      flags = O_RDONLY;
      fmode = "rb";
      code = 1;
    }
    const int fd = OpenFd(name, flags);
    if (fd >= 0) {
      stream = ::fdopen(fd, fmode);
      if (stream)
        code = 0;
      else
        ::close(fd);
    }
  }
  if (code == 0) AddFile(handle, name, true, -1, stream);
  ErrSet(Errors::kClsFile, code, __LINE__);
  return code;
}

namespace {
// Reads until count bytes or the end of the file; returns the bytes read.
int64_t ReadFully(int fd, void* buffer, int64_t count) {
  auto* p = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(fd, p + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}
}  // namespace

int32_t FRead(int32_t handle, void* buffer, int64_t count) {
  TraceScope trace("Basic.FRead");
  int32_t code = 0;
  if (count > 0) {
    FileEntry* e = File(handle);
    // An unknown handle reads nothing: that is a failed read, not a success.
    if (!e || e->text || ReadFully(e->fd, buffer, count) != count) code = 3;
  }
  ErrSet(Errors::kClsFile, code, __LINE__);
  return code;
}

bool FReadAvail(int32_t handle, void* buffer, int64_t count, int64_t& read) {
  read = 0;
  FileEntry* e = File(handle);
  if (!e || e->text) return false;
  if (count <= 0) return true;
  read = ReadFully(e->fd, buffer, count);
  return read == count;
}

int32_t FWrite(int32_t handle, const void* buffer, int64_t count) {
  TraceScope trace("Basic.FWrite");
  int32_t code = 0;
  if (count > 0) {
    FileEntry* e = File(handle);
    if (!e || e->text) {
      code = 4;
    } else {
      const auto* p = static_cast<const uint8_t*>(buffer);
      int64_t done = 0;
      while (done < count) {
        const ssize_t n =
            ::write(e->fd, p + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
      }
      if (done != count) code = 4;
    }
  }
  ErrSet(Errors::kClsFile, code, __LINE__);
  return code;
}

int32_t FSeek(int32_t handle, int64_t position) {
  TraceScope trace("Basic.FSeek");
  FileEntry* e = File(handle);
  int32_t code = 0;
  if (!e || e->text || position < 0 ||
      ::lseek(e->fd, static_cast<off_t>(position), SEEK_SET) < 0)
    code = 5;
  ErrSet(Errors::kClsFile, code, __LINE__);
  return code;
}

int32_t TXTWrite(int32_t handle, const std::string& text) {
  TraceScope trace("Basic.TXTWrite");
  FileEntry* e = File(handle);
  int32_t code = 0;
  if (!e || !e->text) {
    code = 4;
  } else {
    const std::string line = text + "\r\n";
    if (std::fwrite(line.data(), 1, line.size(), e->stream) != line.size())
      code = 4;
  }
  ErrSet(Errors::kClsFile, code, __LINE__);
  return code;
}

namespace {
void CloseByHandle(int32_t handle, int32_t line) {
  Errors::WarnClear();
  const int i = FindFile(handle);
  if (i < 0) return;
  if (!CloseEntry(S().files[i])) Errors::WarnSet(Errors::kErrFileClose, line);
  RemoveFileAt(static_cast<size_t>(i));
}
}  // namespace

void FClose(int32_t handle) {
  TraceScope trace("Basic.FClose");
  CloseByHandle(handle, __LINE__);
}

void TXTClose(int32_t handle) {
  TraceScope trace("Basic.TXTClose");
  CloseByHandle(handle, __LINE__);
}

int64_t FSize(int32_t handle) {
  FileEntry* e = File(handle);
  if (!e) return K_AUTO;
  struct stat st {};
  const int fd = e->text ? ::fileno(e->stream) : e->fd;
  if (e->text) std::fflush(e->stream);
  if (fstat(fd, &st) != 0) return K_AUTO;
  return st.st_size;
}

int64_t FPos(int32_t handle) {
  FileEntry* e = File(handle);
  if (!e) return K_AUTO;
  if (e->text) return std::ftell(e->stream);
  const off_t pos = ::lseek(e->fd, 0, SEEK_CUR);
  return pos < 0 ? K_AUTO : pos;
}

bool FileExists(const std::string& name) {
  struct stat st {};
  return !name.empty() && ::stat(name.c_str(), &st) == 0 &&
         !S_ISDIR(st.st_mode);
}

int32_t FDelete(const std::string& name) {
  TraceScope trace("Basic.FDelete");
  LastName() = name;
  int32_t code = 0;
  struct stat st {};
  if (::lstat(name.c_str(), &st) == 0) {
    // Removing a name needs no write permission on the file itself, so a
    // read-only file is deleted as it is.
    if (S_ISDIR(st.st_mode) || ::unlink(name.c_str()) != 0) code = 6;
  }
  ErrSet(Errors::kClsFile, code, __LINE__);
  return code;
}

int32_t FRename(const std::string& oldName, const std::string& newName) {
  TraceScope trace("Basic.FRename");
  Errors::ErrClear();
  LastName() = oldName;
  int32_t code = 0;
  // A rename never replaces an existing target.
  if (::renameat2(AT_FDCWD, oldName.c_str(), AT_FDCWD, newName.c_str(),
                  RENAME_NOREPLACE) != 0) {
    if (errno == EINVAL || errno == ENOSYS) {
      struct stat st {};
      if (::lstat(newName.c_str(), &st) == 0 ||
          ::rename(oldName.c_str(), newName.c_str()) != 0)
        code = 10;
    } else {
      code = 10;
    }
  }
  ErrSet(Errors::kClsFile, code, __LINE__);
  return code;
}

double FSize64(const std::string& name) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return 0;
  return static_cast<double>(st.st_size);
}

void FCloseToMark(int32_t mark) {
  auto& f = S().files;
  for (int64_t i = static_cast<int64_t>(f.size()) - 1; i >= mark && i >= 0;
       i--) {
    if (static_cast<size_t>(i) >= f.size()) continue;
    if (f[static_cast<size_t>(i)].kept) continue;  // as in MemFreeToMark
    const int32_t handle = f[static_cast<size_t>(i)].handle;
    if (f[static_cast<size_t>(i)].text)
      TXTClose(handle);
    else
      FClose(handle);
  }
}

void FCloseSince(int32_t handle) {
  // Handles only grow, so they tell which files were opened after the mark
  // wherever closing has moved them in the table.
  std::vector<std::pair<int32_t, bool>> doomed;
  for (const FileEntry& e : S().files)
    if (e.handle >= handle && !e.kept) doomed.emplace_back(e.handle, e.text);
  std::sort(doomed.begin(), doomed.end(),
            [](const auto& x, const auto& y) { return x.first > y.first; });
  for (const auto& [h, text] : doomed) {
    if (text)
      TXTClose(h);
    else
      FClose(h);
  }
}

int32_t FileMark() { return static_cast<int32_t>(S().files.size()); }

int32_t FileSequence() { return S().nextHandle; }

void FileKeepSince(int32_t handle) {
  for (FileEntry& e : S().files)
    if (e.handle >= handle) e.kept = true;
}

void DiskFreeK(const std::string& path, int64_t& total, int64_t& free) {
  uint64_t t = 0, f = 0;
  if (!SysInfo::QueryDiskSpace(path, t, f)) return;
  total = static_cast<int64_t>(t >> 10);
  free = static_cast<int64_t>(f >> 10);
}

// ---- unload ---------------------------------------------------------------

void BasicFinalize() {
  State& s = S();
  std::string report;
  if (!s.blocks.empty()) {
    report += "Max. allocated memory handles: " + NumToStr(s.maxCount, 100) +
              "\r\nMemory handles not freed:\r\n";
    while (!s.blocks.empty()) {
      MemEntry& e = s.blocks.back();
      report += "  " + e.label + ":" + NumToStr(e.size, 100) + " bytes\r\n";
      std::free(e.block);
      s.blocks.pop_back();
    }
  }
  if (!s.files.empty()) {
    report += "Files not closed: " +
              NumToStr(static_cast<int64_t>(s.files.size()), 100) + "\r\n";
    while (!s.files.empty()) {
      FileEntry& e = s.files.back();
      report += "  " + e.name + "\r\n";
      CloseEntry(e);
      s.files.pop_back();
    }
  }
  if (!report.empty()) Errors::TraceWriteLines(report);
}

// ---- numbers --------------------------------------------------------------

std::string NumToStr(int64_t value, int32_t format) {
  // Negative 32-bit values read as their unsigned 32-bit form.
  const uint64_t v = value < 0 ? static_cast<uint64_t>(value) & 0xFFFFFFFFull
                               : static_cast<uint64_t>(value);
  std::string digits = std::to_string(v);
  size_t width = 0;
  char pad = ' ';
  if (format >= 200) {
    width = static_cast<size_t>(format - 200);
    pad = '0';
  } else if (format >= 100) {
    std::string grouped;
    const size_t n = digits.size();
    for (size_t i = 0; i < n; i++) {
      if (i && (n - i) % 3 == 0) grouped += ',';
      grouped += digits[i];
    }
    digits = grouped;
    width = static_cast<size_t>(format - 100);
  } else if (format > 0) {
    width = static_cast<size_t>(format);
  }
  if (digits.size() < width) digits.insert(0, width - digits.size(), pad);
  return digits;
}

std::string RealToStr(int32_t width, int32_t decimals, double value) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%*.*f", std::max(0, std::min(width, 255)),
                std::max(0, std::min(decimals, 100)), value);
  return buf;
}

int32_t DigitsToInt(const char* text) {
  uint32_t v = 0;
  if (!text) return 0;
  for (; *text; text++)
    v = v * 10u + static_cast<uint32_t>(static_cast<uint8_t>(*text) - '0');
  return static_cast<int32_t>(v);
}

int32_t ClampInt(int32_t value, int32_t low, int32_t high) {
  return std::max(std::min(value, high), low);
}

double ClampReal(double value, double low, double high) {
  return std::max(std::min(value, high), low);
}

bool RealSame(double a, double b) { return std::fabs(a - b) <= 0.0001; }
int32_t MaxInt2(int32_t a, int32_t b) { return a > b ? a : b; }

namespace {
uint32_t TickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                               static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

double ClockDays() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return (static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9) / 86400.0;
}
}  // namespace

void StopwatchStart(Stopwatch& sw) {
  sw.startTime = ClockDays();
  sw.startTicks = TickCount();
}

double StopwatchRead(Stopwatch& sw) {
  const uint32_t tickMs = TickCount() - sw.startTicks;  // wraps like the tick
  const double clockMs =
      std::round((ClockDays() - sw.startTime) * 86400.0 * 1000.0);
  double ms = tickMs;
  if (static_cast<double>(tickMs) - clockMs >= 1000.0) ms = clockMs;
  if (ms < 0) ms = 0;
  sw.elapsed = ms / 1000.0;
  uint64_t total = static_cast<uint64_t>(ms);
  sw.milliseconds = static_cast<uint16_t>(total % 1000);
  total /= 1000;
  sw.seconds = static_cast<uint16_t>(total % 60);
  total /= 60;
  sw.minutes = static_cast<uint16_t>(total % 60);
  sw.hours = static_cast<uint16_t>(std::min<uint64_t>(total / 60, 65535));
  return sw.elapsed;
}

bool CountDownFault(int32_t& counter) {
  if (counter < 0) return false;
  if (counter == 0) {
    counter = -1;
    return true;
  }
  counter--;
  return false;
}

FaultHooks& Faults() { return S().faults; }

}  // namespace Basic
