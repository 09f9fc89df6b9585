#include "platform/base/MmIo.h"

#include <sys/stat.h>

#include <cstdio>
#include <new>

namespace MmIo {

struct MmioFile {
  FILE* f = nullptr;
  bool writable = false;
};

namespace {

constexpr int64_t kMaxRiffOffset = 0xFFFFFFFFll;

int64_t Tell(HMMIO h) { return ftello(h->f); }

bool SeekTo(HMMIO h, int64_t pos) {
  return pos >= 0 && fseeko(h->f, pos, SEEK_SET) == 0;
}

int64_t FileSize(HMMIO h) {
  if (h->writable) fflush(h->f);
  struct stat st {};
  if (fstat(fileno(h->f), &st) != 0) return -1;
  return st.st_size;
}

bool ReadU32(HMMIO h, uint32_t& v) {
  uint8_t b[4];
  if (fread(b, 1, 4, h->f) != 4) return false;
  v = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
      (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
  return true;
}

bool WriteU32(HMMIO h, uint32_t v) {
  const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                        static_cast<uint8_t>(v >> 16),
                        static_cast<uint8_t>(v >> 24)};
  return fwrite(b, 1, 4, h->f) == 4;
}

// Outcome of reading one chunk header at the current position.
enum class Hdr { kOk, kEnd, kBad };

Hdr ReadHeader(HMMIO h, int64_t limit, bool allowCut, MMCKINFO& ck) {
  const int64_t pos = Tell(h);
  if (pos < 0) return Hdr::kBad;
  if (pos + 8 > limit) return Hdr::kEnd;
  if (pos + 8 > kMaxRiffOffset) return Hdr::kBad;
  if (!ReadU32(h, ck.ckid) || !ReadU32(h, ck.cksize)) return Hdr::kBad;
  ck.dwDataOffset = static_cast<uint32_t>(pos + 8);
  ck.fccType = 0;
  ck.dwFlags = 0;
  // The size must fit in what remains of the parent or file, or is cut to
  // it where the caller takes cut chunks.
  if (static_cast<int64_t>(ck.cksize) > limit - (pos + 8)) {
    if (!allowCut) return Hdr::kBad;
    ck.cksize = static_cast<uint32_t>(limit - (pos + 8));
    ck.dwFlags = MMIO_CUT;
  }
  if (ck.ckid == FOURCC_RIFF || ck.ckid == FOURCC_LIST) {
    if (ck.cksize < 4 || !ReadU32(h, ck.fccType)) return Hdr::kBad;
  }
  return Hdr::kOk;
}

}  // namespace

HMMIO mmioOpenA(const char* fileName, uint32_t flags) {
  if (!fileName) return nullptr;
  const bool create = (flags & MMIO_CREATE) != 0;
  const uint32_t access = flags & 0x3;
  const char* mode = "rb";
  if (create)
    mode = "w+b";
  else if (access == MMIO_WRITE || access == MMIO_READWRITE)
    mode = "r+b";
  FILE* f = fopen(fileName, mode);
  if (!f) return nullptr;
  auto* h = new (std::nothrow) MmioFile;
  if (!h) {
    fclose(f);
    return nullptr;
  }
  h->f = f;
  h->writable = create || access != MMIO_READ;
  return h;
}

uint32_t mmioClose(HMMIO h, uint32_t) {
  if (!h) return MMSYSERR_INVALPARAM;
  const int rc = fclose(h->f);
  delete h;
  return rc == 0 ? MMSYSERR_NOERROR : MMIOERR_CANNOTCLOSE;
}

int32_t mmioRead(HMMIO h, void* buffer, int32_t count) {
  if (!h || count < 0 || (count > 0 && !buffer)) return -1;
  const size_t got = fread(buffer, 1, static_cast<size_t>(count), h->f);
  if (got < static_cast<size_t>(count) && ferror(h->f)) {
    clearerr(h->f);
    return -1;
  }
  return static_cast<int32_t>(got);
}

int32_t mmioWrite(HMMIO h, const void* buffer, int32_t count) {
  if (!h || !h->writable || count < 0 || (count > 0 && !buffer)) return -1;
  const size_t put = fwrite(buffer, 1, static_cast<size_t>(count), h->f);
  if (put != static_cast<size_t>(count)) {
    clearerr(h->f);
    return -1;
  }
  return count;
}

int64_t mmioSeek(HMMIO h, int64_t offset, int32_t origin) {
  if (!h) return -1;
  if (origin != SEEK_SET && origin != SEEK_CUR && origin != SEEK_END) return -1;
  if (fseeko(h->f, offset, origin) != 0) return -1;
  return Tell(h);
}

uint32_t mmioFlush(HMMIO h, uint32_t) {
  if (!h) return MMSYSERR_INVALPARAM;
  return fflush(h->f) == 0 ? MMSYSERR_NOERROR : MMIOERR_CANNOTWRITE;
}

uint32_t mmioDescend(HMMIO h, MMCKINFO* ck, const MMCKINFO* parent,
                     uint32_t flags) {
  if (!h || !ck) return MMSYSERR_INVALPARAM;
  const int64_t start = Tell(h);
  if (start < 0) return MMIOERR_CANNOTSEEK;
  int64_t limit = FileSize(h);
  if (limit < 0) return MMIOERR_CANNOTREAD;
  if (parent) {
    const int64_t end = static_cast<int64_t>(parent->dwDataOffset) + parent->cksize;
    if (end < limit) limit = end;
  }

  uint32_t wantId = 0, wantType = 0;
  bool byId = false, byType = false;
  if (flags & MMIO_FINDRIFF) {
    wantId = FOURCC_RIFF, wantType = ck->fccType, byId = byType = true;
  } else if (flags & MMIO_FINDLIST) {
    wantId = FOURCC_LIST, wantType = ck->fccType, byId = byType = true;
  } else if (flags & MMIO_FINDCHUNK) {
    wantId = ck->ckid, byId = true;
  }

  for (;;) {
    MMCKINFO found;
    const Hdr r = ReadHeader(h, limit, (flags & MMIO_ALLOWCUT) != 0, found);
    if (r != Hdr::kOk) {
      SeekTo(h, start);
      return r == Hdr::kEnd ? MMIOERR_CHUNKNOTFOUND : MMIOERR_CANNOTREAD;
    }
    const bool match = (!byId || found.ckid == wantId) &&
                       (!byType || found.fccType == wantType);
    if (match) {
      *ck = found;
      return MMSYSERR_NOERROR;
    }
    // Skip the chunk and its pad byte; the pad may be missing at the very end.
    int64_t next = static_cast<int64_t>(found.dwDataOffset) + found.cksize;
    if ((found.cksize & 1) && next < limit) next++;
    if (!SeekTo(h, next)) {
      SeekTo(h, start);
      return MMIOERR_CANNOTSEEK;
    }
  }
}

uint32_t mmioAscend(HMMIO h, MMCKINFO* ck, uint32_t) {
  if (!h || !ck) return MMSYSERR_INVALPARAM;
  int64_t size = ck->cksize;
  if (ck->dwFlags & MMIO_DIRTY) {
    const int64_t pos = Tell(h);
    if (pos < 0) return MMIOERR_CANNOTSEEK;
    size = pos - static_cast<int64_t>(ck->dwDataOffset);
    if (size < 0 || static_cast<int64_t>(ck->dwDataOffset) + size > kMaxRiffOffset)
      return MMIOERR_CANNOTEXPAND;
    if (size != ck->cksize) {
      if (!SeekTo(h, static_cast<int64_t>(ck->dwDataOffset) - 4))
        return MMIOERR_CANNOTSEEK;
      if (!WriteU32(h, static_cast<uint32_t>(size))) return MMIOERR_CANNOTWRITE;
      ck->cksize = static_cast<uint32_t>(size);
    }
    if (size & 1) {
      if (!SeekTo(h, static_cast<int64_t>(ck->dwDataOffset) + size))
        return MMIOERR_CANNOTSEEK;
      const uint8_t zero = 0;
      if (fwrite(&zero, 1, 1, h->f) != 1) return MMIOERR_CANNOTWRITE;
    }
    ck->dwFlags &= ~MMIO_DIRTY;
  }
  const int64_t next =
      static_cast<int64_t>(ck->dwDataOffset) + size + (size & 1);
  return SeekTo(h, next) ? MMSYSERR_NOERROR : MMIOERR_CANNOTSEEK;
}

uint32_t mmioCreateChunk(HMMIO h, MMCKINFO* ck, uint32_t flags) {
  if (!h || !ck) return MMSYSERR_INVALPARAM;
  if (!h->writable) return MMIOERR_CANNOTWRITE;
  const int64_t pos = Tell(h);
  if (pos < 0) return MMIOERR_CANNOTSEEK;
  if (pos + 12 > kMaxRiffOffset) return MMIOERR_CANNOTEXPAND;
  const bool form = (flags & (MMIO_CREATERIFF | MMIO_CREATELIST)) != 0;
  if (flags & MMIO_CREATERIFF)
    ck->ckid = FOURCC_RIFF;
  else if (flags & MMIO_CREATELIST)
    ck->ckid = FOURCC_LIST;
  if (form && ck->cksize < 4) ck->cksize = 4;
  if (!WriteU32(h, ck->ckid) || !WriteU32(h, ck->cksize))
    return MMIOERR_CANNOTWRITE;
  if (form && !WriteU32(h, ck->fccType)) return MMIOERR_CANNOTWRITE;
  if (!form) ck->fccType = 0;
  ck->dwDataOffset = static_cast<uint32_t>(pos + 8);
  ck->dwFlags = MMIO_DIRTY;
  return MMSYSERR_NOERROR;
}

}  // namespace MmIo
