// Tracked memory and tracked files, byte-order and raw memory helpers, and
// the small number routines the rest of the library shares.
//
// Every heap block is entered in one table with the address of the variable
// that owns it, so a failing monitor frame can free exactly what it obtained;
// every file is opened through one table of 64 handles for the same reason.
#pragma once

#include <cstdint>
#include <string>

namespace Basic {

// "Automatic / not given / not found" in integer and real parameters.
constexpr int32_t K_AUTO = -1357902468;
constexpr double K_AUTO_REAL = -1357902468.0;

// ---- tracked memory -------------------------------------------------------
constexpr int32_t kMaxBlocks = 10240;

// Kind of an allocation request.
enum : int32_t {
  kMemPlain = 0,   // ordinary block, grown when the owner already holds one
  kMemString = 1,  // zero-terminated character buffer
  kMemNew = 2,     // always a new block, even if the owner holds one
};

// Result codes of _memalloc_ (also raised as error class 5 with that code).
enum : int32_t {
  kMemOk = 0,
  kMemObtainFailed = 1,
  kMemGrowFailed = 3,
  kMemInvalidSize = 5,
  kMemTableFull = 6,
};

// Obtains (or grows) a zero-filled block for *owner. Sizes get 5 % slack,
// rounded up to a multiple of 4.
int32_t _memalloc_(void** owner, int64_t size, int32_t sourceLine, int32_t kind,
                   const char* label);

template <class T>
int32_t MemAlloc(T*& owner, int64_t size, int32_t sourceLine, int32_t kind,
                 const char* label) {
  return _memalloc_(reinterpret_cast<void**>(&owner), size, sourceLine, kind,
                    label);
}

void MemFree(void** owner);
template <class T>
void MemFree(T*& owner) {
  MemFree(reinterpret_cast<void**>(&owner));
}

void MemXchg(void** ownerA, void** ownerB);
template <class T>
void MemXchg(T*& a, T*& b) {
  MemXchg(reinterpret_cast<void**>(&a), reinterpret_cast<void**>(&b));
}

// Makes newOwner the owner of a tracked block (when a record holding it is
// moved or swapped with one that holds no tracked block).
void MemSetOwner(const void* block, void* newOwner);
bool MemIsTracked(const void* block);
// Frees every block from the newest down to entry index mark, except the
// kept ones.
void MemFreeToMark(int32_t mark);
// Frees every block obtained from sequence number on (MemSequence), kept ones
// excepted, newest first: what a failing frame obtained.
void MemFreeSince(uint64_t sequence);
int32_t MemMark();
// Blocks a host obtained through an export that it called from inside a
// callback are the host's until it frees them: a failing frame of the
// library around that callback must not free them. MemSequence is the
// number the next block gets; MemKeepSince marks every block numbered from
// there on as kept.
uint64_t MemSequence();
void MemKeepSince(uint64_t sequence);
int32_t MemMaxCount();
// Size recorded for a tracked block, or -1 when the block is not tracked.
int64_t MemTrackedSize(const void* block);
// Label text recorded for a tracked block, or empty.
std::string MemTrackedLabel(const void* block);

// The size _memalloc_ obtains for a request, or -1 when the request is not a
// size the tables can carry.
int64_t MemSlackSize(int64_t request);

// ---- memory utilities -----------------------------------------------------
bool TestFlags(uint32_t value, uint32_t bits);
void SwapWord(uint16_t& value);
void SwapLong(uint32_t& value);
uint16_t SwapWordValue(uint16_t value);
uint32_t SwapLongValue(uint32_t value);
void MemFill(uint8_t fill, int64_t count, void* dest);
void MemMove(int64_t count, void* dest, const void* src);
void MemSwap(int64_t count, void* a, void* b);
int MemCompare(int64_t count, const void* a, const void* b);

// ---- tracked files --------------------------------------------------------
constexpr int32_t kMaxFiles = 64;

// Open modes (bit set).
enum : int32_t {
  kOpenRead = 1,
  kOpenWrite = 2,
  kOpenCreate = 4,
  kOpenAppend = 8,
};

int32_t FOpen(int32_t& handle, const std::string& name, int32_t mode);
int32_t TXTOpen(int32_t& handle, const std::string& name, int32_t mode);
int32_t FRead(int32_t handle, void* buffer, int64_t count);
bool FReadAvail(int32_t handle, void* buffer, int64_t count, int64_t& read);
int32_t FWrite(int32_t handle, const void* buffer, int64_t count);
int32_t FSeek(int32_t handle, int64_t position);
int32_t TXTWrite(int32_t handle, const std::string& text);
void FClose(int32_t handle);
void TXTClose(int32_t handle);
int64_t FSize(int32_t handle);
int64_t FPos(int32_t handle);
int32_t FDelete(const std::string& name);
int32_t FRename(const std::string& oldName, const std::string& newName);
double FSize64(const std::string& name);
// Closes every file from the newest down to entry index mark, except the
// kept ones.
void FCloseToMark(int32_t mark);
// Closes every file opened from handle number on (FileSequence), kept ones
// excepted, newest first: what a failing frame opened.
void FCloseSince(int32_t handle);
int32_t FileMark();
// The files' counterparts of MemSequence and MemKeepSince (handles are
// numbered in order of opening).
int32_t FileSequence();
void FileKeepSince(int32_t handle);
bool FileExists(const std::string& name);
void DiskFreeK(const std::string& path, int64_t& total, int64_t& free);

std::string LastFileName();
void SetLastFileName(const std::string& name);

// Unload: report and free every block, close every file.
void BasicFinalize();

// ---- numbers --------------------------------------------------------------
std::string NumToStr(int64_t value, int32_t format);
std::string RealToStr(int32_t width, int32_t decimals, double value);
int32_t DigitsToInt(const char* text);
int32_t ClampInt(int32_t value, int32_t low, int32_t high);
double ClampReal(double value, double low, double high);
bool RealSame(double a, double b);
int32_t MaxInt2(int32_t a, int32_t b);

struct Stopwatch {
  double elapsed = 0;
  uint16_t hours = 0, minutes = 0, seconds = 0, milliseconds = 0;
  double startTime = 0;     // days since the epoch, as the clock reads it
  uint32_t startTicks = 0;  // milliseconds of the monotonic tick count
};
void StopwatchStart(Stopwatch& sw);
double StopwatchRead(Stopwatch& sw);

// ---- fault injection, for tests -------------------------------------------
// Each counter, when non-negative, counts successful operations down; the
// operation that finds it at 0 fails as the platform would, and the counter
// goes back to -1.
struct FaultHooks {
  int32_t failAllocAfter = -1;
  int32_t failOpenAfter = -1;
};
FaultHooks& Faults();
// Counts down a fault-injection counter; true when this operation must fail.
bool CountDownFault(int32_t& counter);

}  // namespace Basic
