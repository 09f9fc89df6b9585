// RIFF chunk access in place of the multimedia I/O calls of winmm: open a
// file, walk its chunks (descend by id or form type, ascend past the pad byte
// of odd-sized chunks) and create chunks whose size is patched on ascend.
// Shared by the WAV and AVI readers and writers.
//
// Every chunk size taken from a file is checked against what remains of its
// parent (or of the file) before it is believed, so a hostile size ends the
// walk with an error instead of sending a reader past the data.
#pragma once

#include <cstdint>

namespace MmIo {

struct MmioFile;  // opaque
using HMMIO = MmioFile*;

// Four-character code, first character in the low byte.
constexpr uint32_t mmioFOURCC(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}
constexpr uint32_t FOURCC_RIFF = mmioFOURCC('R', 'I', 'F', 'F');
constexpr uint32_t FOURCC_LIST = mmioFOURCC('L', 'I', 'S', 'T');

// What is known of one chunk. The data offset is where the chunk's data
// starts; for RIFF and LIST chunks the data begins with the form type.
struct MMCKINFO {
  uint32_t ckid = 0;
  uint32_t cksize = 0;
  uint32_t fccType = 0;
  uint32_t dwDataOffset = 0;
  uint32_t dwFlags = 0;
};

// Open flags.
enum : uint32_t {
  MMIO_READ = 0x0000,
  MMIO_WRITE = 0x0001,
  MMIO_READWRITE = 0x0002,
  MMIO_CREATE = 0x1000,
};

// Descend and create flags.
enum : uint32_t {
  MMIO_FINDCHUNK = 0x0010,
  MMIO_FINDRIFF = 0x0020,
  MMIO_FINDLIST = 0x0040,
  MMIO_CREATERIFF = 0x0020,
  MMIO_CREATELIST = 0x0040,
};

// Descend flag of this layer: a chunk whose size runs past what remains of
// its parent or of the file (a recording cut short, or a size a writer to
// a pipe could never fill in) is taken with the size that remains and
// marked MMIO_CUT, where it would otherwise be refused.
constexpr uint32_t MMIO_ALLOWCUT = 0x00010000;

// Chunk flag: created by mmioCreateChunk, size patched on ascend.
constexpr uint32_t MMIO_DIRTY = 0x10000000;
// Chunk flag: the chunk's size was cut to what remains (MMIO_ALLOWCUT).
constexpr uint32_t MMIO_CUT = 0x20000000;

// Results (0 = success).
enum : uint32_t {
  MMSYSERR_NOERROR = 0,
  MMSYSERR_INVALPARAM = 11,
  MMIOERR_FILENOTFOUND = 257,
  MMIOERR_OUTOFMEMORY = 258,
  MMIOERR_CANNOTOPEN = 259,
  MMIOERR_CANNOTCLOSE = 260,
  MMIOERR_CANNOTREAD = 261,
  MMIOERR_CANNOTWRITE = 262,
  MMIOERR_CANNOTSEEK = 263,
  MMIOERR_CANNOTEXPAND = 264,
  MMIOERR_CHUNKNOTFOUND = 265,
};

// Opens a file; nullptr on failure. MMIO_CREATE makes an empty file.
HMMIO mmioOpenA(const char* fileName, uint32_t flags);
// 0 or MMIOERR_CANNOTCLOSE (a pending write failed); the handle is gone
// either way.
uint32_t mmioClose(HMMIO h, uint32_t flags);

// Bytes read or written, -1 on failure.
int32_t mmioRead(HMMIO h, void* buffer, int32_t count);
int32_t mmioWrite(HMMIO h, const void* buffer, int32_t count);
// New position, -1 on failure. Origins as fseek: SEEK_SET, SEEK_CUR, SEEK_END.
int64_t mmioSeek(HMMIO h, int64_t offset, int32_t origin);
uint32_t mmioFlush(HMMIO h, uint32_t flags);

// Finds the next chunk from the current position, within parent when given.
// With MMIO_FINDCHUNK it looks for ck->ckid, with MMIO_FINDRIFF or
// MMIO_FINDLIST for that id with form type ck->fccType; with none of them
// the next chunk matches. Chunks that do not match are skipped with their pad
// byte. On success the file stands at the chunk's data (past the form type
// of RIFF and LIST chunks). MMIOERR_CHUNKNOTFOUND when the search reaches the
// end of the parent or file; MMIOERR_CANNOTREAD when a chunk header or size
// does not fit in what remains (a size, with MMIO_ALLOWCUT, only when the
// chunk's header does not fit either). On failure the position is restored.
uint32_t mmioDescend(HMMIO h, MMCKINFO* ck, const MMCKINFO* parent,
                     uint32_t flags);
// Leaves a chunk: a created chunk gets its size (current position - data
// offset) written into its header and a zero pad byte when odd; the file then
// stands past the chunk and its pad byte.
uint32_t mmioAscend(HMMIO h, MMCKINFO* ck, uint32_t flags);
// Writes a chunk header at the current position: ck->ckid with ck->cksize,
// or with MMIO_CREATERIFF / MMIO_CREATELIST the RIFF / LIST id and the form
// type ck->fccType. The chunk is marked MMIO_DIRTY.
uint32_t mmioCreateChunk(HMMIO h, MMCKINFO* ck, uint32_t flags);

}  // namespace MmIo
