#include "formats/FF_KWB.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "formats/FFBasic.h"
#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"

namespace FF_KWB {

// ---- bit stream -------------------------------------------------------------
// Tokens go most significant bit first; full 32-bit words are stored most
// significant byte first, so the stream is a plain big-endian bit string
// whose last byte is padded with zero bits.

void BitWriter::Put(uint32_t value, int bits) {
  acc_ = (acc_ << bits) | (value & ((uint64_t{1} << bits) - 1));
  n_ += bits;
  while (n_ >= 8) {
    n_ -= 8;
    if (pos_ < cap_)
      out_[pos_] = static_cast<uint8_t>(acc_ >> n_);
    else
      overflow_ = true;
    pos_++;
  }
  acc_ &= (uint64_t{1} << n_) - 1;
}

void BitWriter::PutCount(int32_t v) {
  // 2-3: "1x"; 4-7: "01xx"; ... 128-255: 14 bits; 256-767: seven zero bits
  // and v - 256 in 9 bits.
  if (v >= 256) {
    Put(static_cast<uint32_t>(v - 256), 16);
    return;
  }
  // A value of k + 1 significant bits takes 2k bits: k - 1 zeros, then v.
  int k = 1;
  while (v >= (2 << k)) k++;
  Put(static_cast<uint32_t>(v), 2 * k);
}

void BitWriter::Finish() {
  if (n_ > 0) Put(0, 8 - n_);
}

namespace {

class BitReader {
 public:
  BitReader(const uint8_t* in, int64_t len) : in_(in), bits_(len * 8) {}

  uint32_t Get(int n) {
    uint32_t v = Peek(n);
    pos_ += n;
    if (pos_ > bits_) bad_ = true;
    return v;
  }
  // Bits beyond the end read as zero; consuming them marks the stream bad.
  uint32_t Peek(int n) const {
    uint32_t v = 0;
    for (int i = 0; i < n; i++) {
      const int64_t b = pos_ + i;
      uint32_t bit = 0;
      if (b < bits_) bit = (in_[b >> 3] >> (7 - (b & 7))) & 1u;
      v = (v << 1) | bit;
    }
    return v;
  }
  void Skip(int n) {
    pos_ += n;
    if (pos_ > bits_) bad_ = true;
  }
  int32_t GetCount() {
    int zeros = 0;
    while (zeros < 7 && Get(1) == 0) zeros++;
    if (zeros == 7) return 256 + static_cast<int32_t>(Get(9));
    const int rest = 2 * (zeros + 1) - zeros - 1;
    return static_cast<int32_t>((1u << rest) | Get(rest));
  }
  bool Bad() const { return bad_; }

 private:
  const uint8_t* in_;
  int64_t bits_;
  int64_t pos_ = 0;
  bool bad_ = false;
};

// Token prefixes of the two coders.
struct Prefix {
  uint32_t code;
  int bits;
};
struct TokenSet {
  Prefix literal, run, copyUp, skip, longSkip;
  int copyUpBits;  // bits of n in "copy n + 2 bytes from one row above"
};
constexpr TokenSet kFastTokens = {{1, 1}, {0, 2}, {2, 3}, {6, 4}, {7, 4}, 6};
constexpr TokenSet kBestTokens = {{3, 2}, {0, 4}, {2, 5}, {6, 6}, {7, 6}, 7};

enum TokenKind { kLiteral, kRun, kCopyUp, kSkip, kMatch, kRepeat };

struct Token {
  TokenKind kind = kLiteral;
  int32_t len = 1;  // bytes covered
  int32_t value = 0;  // match: 12-bit code; repeat: slot
};

void PutPixel(BitWriter& w, const uint8_t* p, int32_t bpp) {
  if (bpp == 1) {
    w.Put(p[0], 8);
  } else if (bpp == 2) {
    w.Put(static_cast<uint32_t>(p[0] | (p[1] << 8)), 16);
  } else {
    w.Put(p[0], 8);
    w.Put(static_cast<uint32_t>(p[1] | (p[2] << 8)), 16);
  }
}

void PutSkip(BitWriter& w, const TokenSet& t, int32_t len) {
  if (len <= 65) {
    w.Put(t.skip.code, t.skip.bits);
    w.Put(static_cast<uint32_t>(len - 2), 6);
  } else {
    const int32_t v = len - 66;
    w.Put(t.longSkip.code, t.longSkip.bits);
    w.Put(static_cast<uint32_t>(v % 64), 6);
    w.PutCount(v / 64 + 2);
  }
}

void PutToken(BitWriter& w, const TokenSet& t, const Token& tok,
              const uint8_t* src, int64_t pos, int32_t bpp) {
  switch (tok.kind) {
    case kLiteral:
      w.Put(t.literal.code, t.literal.bits);
      w.Put(src[pos], 8);
      break;
    case kRun:
      w.Put(t.run.code, t.run.bits);
      PutPixel(w, src + pos, bpp);
      w.PutCount(tok.len / bpp);
      break;
    case kCopyUp:
      w.Put(t.copyUp.code, t.copyUp.bits);
      w.Put(static_cast<uint32_t>(tok.len - 2), t.copyUpBits);
      break;
    case kSkip:
      PutSkip(w, t, tok.len);
      break;
    case kRepeat:
      w.Put(static_cast<uint32_t>(512 + tok.value), 12);
      break;
    case kMatch:
      w.Put(static_cast<uint32_t>(tok.value), 12);
      w.PutCount(tok.len);
      break;
  }
}

void PutEnd(BitWriter& w, const TokenSet& t) {
  w.Put(t.longSkip.code, t.longSkip.bits);
  w.Put(0, 6);
}

int64_t EqualStretch(const uint8_t* a, const uint8_t* b, int64_t max) {
  int64_t n = 0;
  while (n < max && a[n] == b[n]) n++;
  return n;
}

// Pixels equal to the first one, counted from src, at most max pixels.
int32_t RunPixels(const uint8_t* src, int32_t bpp, int32_t max) {
  int32_t n = 1;
  while (n < max && std::memcmp(src, src + static_cast<int64_t>(n) * bpp,
                                static_cast<size_t>(bpp)) == 0)
    n++;
  return n;
}

// The size above which a coder gives up: 95 % of the raw strip, rounded.
int64_t GiveUpSize(int64_t raw) { return (raw * 95 + 50) / 100; }

bool ValidGeometry(int32_t bpp, int32_t rows, int32_t width) {
  return (bpp == 1 || bpp == 2 || bpp == 3) && rows > 0 && width > 0 &&
         static_cast<int64_t>(rows) * width * bpp <= INT32_MAX;
}

}  // namespace

int32_t KWDCFast(const uint8_t* src, uint8_t* out, const uint8_t* prev,
                 bool delta, int32_t bpp, int32_t rows, int32_t width) {
  Errors::TraceScope trace("FF_KWB.KWDCFast");
  if (!ValidGeometry(bpp, rows, width)) return 0;
  const int64_t raw = static_cast<int64_t>(rows) * width * bpp;
  const int64_t row = static_cast<int64_t>(width) * bpp;
  const int64_t limit = GiveUpSize(raw);
  const bool useDelta = delta && prev;
  BitWriter w(out, raw + kCoderSlack);
  int64_t pos = 0;
  while (pos < raw) {
    const int64_t left = raw - pos;
    Token tok;
    bool taken = false;
    if (useDelta && left >= 2 && src[pos] == prev[pos] &&
        src[pos + 1] == prev[pos + 1]) {
      tok.kind = kSkip;
      tok.len = static_cast<int32_t>(
          EqualStretch(src + pos, prev + pos, std::min<int64_t>(kMaxSkip, left)));
      taken = tok.len > kMaxCount * bpp - 1;
    }
    if (!taken) {
      const int64_t pixelsLeft = left / bpp;
      if (pixelsLeft >= 2 &&
          std::memcmp(src + pos, src + pos + bpp, static_cast<size_t>(bpp)) == 0) {
        const int32_t n = RunPixels(
            src + pos, bpp, static_cast<int32_t>(std::min<int64_t>(kMaxCount, pixelsLeft)));
        if (n * bpp > tok.len) {
          tok.kind = kRun;
          tok.len = n * bpp;
        }
      }
      if (tok.len <= 65 && pos >= row && left >= 2 &&
          src[pos] == src[pos - row] && src[pos + 1] == src[pos + 1 - row]) {
        const int32_t n = static_cast<int32_t>(
            EqualStretch(src + pos, src + pos - row, std::min<int64_t>(65, left)));
        if (n >= tok.len) {
          tok.kind = kCopyUp;
          tok.len = n;
        }
      }
    }
    PutToken(w, kFastTokens, tok, src, pos, bpp);
    pos += tok.len;
    if (w.Bytes() > limit) return 0;
  }
  PutEnd(w, kFastTokens);
  w.Finish();
  if (w.Bytes() > limit || w.Overflow()) return 0;
  return static_cast<int32_t>(w.Bytes());
}

// ---- best coder -------------------------------------------------------------

namespace {

constexpr int kRingSlots = 1024;
constexpr int kChainLimit = 96;  // candidates examined per position

int Thresholds(int64_t value, std::initializer_list<int> list, bool above) {
  int n = 0;
  for (int t : list)
    if (above ? t > value : value > t) n++;
  return n;
}

// The 12-bit code of a match at distance dist in a strip with rows of r
// bytes, or -1 when the distance has no code.
int32_t MatchCode(int64_t dist, int64_t r) {
  // i rows up and 1 to 64 bytes to the left: dist = 64 + i*r - d.
  for (int64_t i = 0; i <= 11; i++) {
    const int64_t d = 64 + i * r - dist;
    if (d >= 0 && d <= 63) return static_cast<int32_t>(1536 + i * 64 + d);
  }
  // 1 to 12 rows up and 0 to 63 bytes to the right: dist = k*r - d.
  for (int64_t k = 1; k <= 12; k++) {
    const int64_t d = k * r - dist;
    if (d >= 0 && d <= 63) return static_cast<int32_t>(1536 + (k + 11) * 64 + d);
  }
  return -1;
}

int64_t MatchDistance(int32_t code, int64_t r) {
  const int32_t i = (code - 1536) / 64;
  const int32_t d = (code - 1536) % 64;
  const int64_t base = i <= 11 ? 64 + i * r : (i - 11) * r;
  return base - d;
}

// Records of match tokens in a ring of 1024 slots, with chains by the first
// two bytes of each record so a repeat is found quickly.
class MatchRing {
 public:
  MatchRing() : head_(65536, -1) {
    for (auto& s : slots_) s = Slot{};
  }
  void Record(const uint8_t* strip, int64_t pos, int32_t len) {
    Slot& s = slots_[next_];
    if (s.used) Unlink(next_);
    s.used = true;
    s.pos = pos;
    s.len = len;
    s.key = Key(strip + pos);
    s.prev = -1;
    s.next = head_[s.key];
    if (s.next >= 0) slots_[s.next].prev = next_;
    head_[s.key] = next_;
    next_ = (next_ + 1) % kRingSlots;
  }
  // The slot of a record whose whole length equals the bytes at pos.
  int Find(const uint8_t* strip, int64_t pos, int64_t left, int32_t* len) const {
    if (left < 2) return -1;
    int best = -1;
    int32_t bestLen = 0;
    for (int s = head_[Key(strip + pos)]; s >= 0; s = slots_[s].next) {
      const Slot& r = slots_[s];
      if (r.len > left || r.len <= bestLen) continue;
      if (std::memcmp(strip + r.pos, strip + pos, static_cast<size_t>(r.len)) == 0) {
        best = s;
        bestLen = r.len;
      }
    }
    *len = bestLen;
    return best;
  }

 private:
  struct Slot {
    bool used = false;
    int64_t pos = 0;
    int32_t len = 0;
    int key = 0;
    int prev = -1, next = -1;
  };
  static int Key(const uint8_t* p) { return (p[0] << 8) | p[1]; }
  void Unlink(int i) {
    Slot& s = slots_[i];
    if (s.prev >= 0)
      slots_[s.prev].next = s.next;
    else
      head_[s.key] = s.next;
    if (s.next >= 0) slots_[s.next].prev = s.prev;
  }
  std::vector<int> head_;
  Slot slots_[kRingSlots];
  int next_ = 0;
};

// Positions of the strip chained by their first two bytes, newest first.
// The tables are tracked blocks, freed by the caller's frame on failure.
class PositionChains {
 public:
  explicit PositionChains(int64_t size) {
    Basic::MemAlloc(head_, 65536 * int64_t{sizeof(int32_t)}, __LINE__,
                    Basic::kMemPlain, "FF_KWB.KWDCBest.ChFrs");
    Basic::MemAlloc(prev_, size * int64_t{sizeof(int32_t)}, __LINE__,
                    Basic::kMemPlain, "FF_KWB.KWDCBest.ChTab");
    std::fill(head_, head_ + 65536, -1);
  }
  ~PositionChains() {
    Basic::MemFree(head_);
    Basic::MemFree(prev_);
  }
  void Insert(const uint8_t* strip, int64_t pos, int64_t size) {
    if (pos + 1 >= size) return;
    const int k = (strip[pos] << 8) | strip[pos + 1];
    prev_[pos] = head_[k];
    head_[k] = static_cast<int32_t>(pos);
  }
  int64_t Head(const uint8_t* p) const { return head_[(p[0] << 8) | p[1]]; }
  int64_t Prev(int64_t pos) const { return prev_[pos]; }

 private:
  int32_t* head_ = nullptr;
  int32_t* prev_ = nullptr;
};

}  // namespace

int32_t KWDCBest(const uint8_t* src, uint8_t* out, const uint8_t* prev,
                 bool delta, int32_t bpp, int32_t rows, int32_t width) {
  int32_t result = 0;
  Errors::Monitored("FF_KWB.KWDCBest", [&] {
    if (!ValidGeometry(bpp, rows, width)) return;
    const int64_t raw = static_cast<int64_t>(rows) * width * bpp;
    const int64_t row = static_cast<int64_t>(width) * bpp;
    const int64_t limit = GiveUpSize(raw);
    const int64_t window = 12 * row + 64;
    const bool useDelta = delta && prev;
    BitWriter w(out, raw + kCoderSlack);
    MatchRing ring;
    PositionChains chains(raw);
    int64_t inserted = 0;
    int64_t pos = 0;
    while (pos < raw) {
      const int64_t left = raw - pos;
      Token best;  // a literal saves nothing
      int64_t bestSaving = 0;
      auto offer = [&](TokenKind kind, int32_t len, int32_t value,
                       int64_t saving) {
        if (saving > bestSaving) {
          best.kind = kind;
          best.len = len;
          best.value = value;
          bestSaving = saving;
        }
      };
      // (1) skip over bytes equal to the previous frame
      if (useDelta && left >= 2) {
        const int64_t n =
            EqualStretch(src + pos, prev + pos, std::min<int64_t>(kMaxSkip, left));
        if (n >= 2)
          offer(kSkip, static_cast<int32_t>(n), 0,
                8 * n - 12 -
                    2 * Thresholds((n + 62) / 64, {1, 3, 7, 15, 31, 63, 127, 255},
                                   false));
      }
      // (2) a run of identical pixels
      if (best.len < kMaxCount * bpp) {
        const int64_t pixelsLeft = left / bpp;
        if (pixelsLeft >= 2 &&
            std::memcmp(src + pos, src + pos + bpp, static_cast<size_t>(bpp)) == 0) {
          const int32_t n = RunPixels(
              src + pos, bpp, static_cast<int32_t>(std::min<int64_t>(kMaxCount, pixelsLeft)));
          const int64_t bytes = static_cast<int64_t>(n) * bpp;
          offer(kRun, static_cast<int32_t>(bytes), 0,
                8 * bytes + 2 * Thresholds(n, {4, 8, 16, 32, 64, 128, 256}, true) -
                    8 * bpp - 20);
        }
      }
      if (best.len <= kMaxCount) {
        // (3) a repeat of a recorded match
        int32_t repLen = 0;
        const int slot = ring.Find(src, pos, left, &repLen);
        if (slot >= 0) offer(kRepeat, repLen, slot, 8 * int64_t{repLen} - 12);
        // (4) the longest match within the window
        while (inserted < pos) chains.Insert(src, inserted++, raw);
        if (left >= 2) {
          int32_t matchLen = 0;
          int32_t matchCode = -1;
          int examined = 0;
          const int64_t maxLen = std::min<int64_t>(kMaxCount, left);
          for (int64_t c = chains.Head(src + pos);
               c >= 0 && pos - c <= window && examined < kChainLimit;
               c = chains.Prev(c), examined++) {
            const int32_t code = MatchCode(pos - c, row);
            if (code < 0) continue;
            int64_t n = 0;
            while (n < maxLen && src[c + n] == src[pos + n]) n++;
            if (n > matchLen) {
              matchLen = static_cast<int32_t>(n);
              matchCode = code;
              if (n == maxLen) break;
            }
          }
          if (matchLen >= 2)
            offer(kMatch, matchLen, matchCode,
                  8 * int64_t{matchLen} +
                      2 * Thresholds(matchLen, {4, 8, 16, 32, 64, 128, 256}, true) -
                      28);
        }
        // (5) a copy from one row above
        if (pos >= row && left >= 2) {
          const int64_t n =
              EqualStretch(src + pos, src + pos - row, std::min<int64_t>(129, left));
          if (n >= 2) offer(kCopyUp, static_cast<int32_t>(n), 0, 8 * n - 12);
        }
      }
      PutToken(w, kBestTokens, best, src, pos, bpp);
      if (best.kind == kMatch) ring.Record(src, pos, best.len);
      pos += best.len;
      if (w.Bytes() > limit) return;
    }
    PutEnd(w, kBestTokens);
    w.Finish();
    if (w.Bytes() <= limit && !w.Overflow())
      result = static_cast<int32_t>(w.Bytes());
  });
  return result;
}

// ---- decoder ----------------------------------------------------------------

namespace {

bool ReadPixelRun(BitReader& r, uint8_t* out, int64_t& pos, int64_t raw,
                  int32_t bpp) {
  uint8_t px[3];
  if (bpp == 1) {
    px[0] = static_cast<uint8_t>(r.Get(8));
  } else if (bpp == 2) {
    const uint32_t v = r.Get(16);
    px[0] = static_cast<uint8_t>(v);
    px[1] = static_cast<uint8_t>(v >> 8);
  } else {
    px[0] = static_cast<uint8_t>(r.Get(8));
    const uint32_t v = r.Get(16);
    px[1] = static_cast<uint8_t>(v);
    px[2] = static_cast<uint8_t>(v >> 8);
  }
  const int64_t bytes = static_cast<int64_t>(r.GetCount()) * bpp;
  if (r.Bad() || bytes > raw - pos) return false;
  for (int64_t i = 0; i < bytes; i++) out[pos + i] = px[i % bpp];
  pos += bytes;
  return true;
}

// Long skip or end of strip: a low part of 0 ends the strip only where the
// strip is complete; anywhere else it is a long skip whose low part is 0.
// (Settled so that both readings a writer could mean decode correctly.)
enum class SkipResult { kEnd, kSkipped, kBad };
SkipResult ReadLongSkip(BitReader& r, int64_t& pos, int64_t raw) {
  const uint32_t lo = r.Get(6);
  if (r.Bad()) return SkipResult::kBad;
  if (lo == 0 && pos == raw) return SkipResult::kEnd;
  const int64_t hi = r.GetCount();
  const int64_t len = (hi - 2) * 64 + lo + 66;
  if (r.Bad() || len > raw - pos) return SkipResult::kBad;
  pos += len;
  return SkipResult::kSkipped;
}

bool CopyBack(uint8_t* out, int64_t& pos, int64_t raw, int64_t dist,
              int64_t len) {
  if (dist < 1 || dist > pos || len > raw - pos) return false;
  for (int64_t i = 0; i < len; i++) out[pos + i] = out[pos + i - dist];
  pos += len;
  return true;
}

bool SkipShort(BitReader& r, int64_t& pos, int64_t raw) {
  const int64_t len = r.Get(6) + 2;
  if (r.Bad() || len > raw - pos) return false;
  pos += len;
  return true;
}

bool DecodeFast(BitReader& r, uint8_t* out, int64_t raw, int64_t row,
                int32_t bpp) {
  int64_t pos = 0;
  for (;;) {
    if (r.Get(1) == 1) {
      const uint8_t b = static_cast<uint8_t>(r.Get(8));
      if (r.Bad() || pos >= raw) return false;
      out[pos++] = b;
    } else if (r.Get(1) == 0) {
      if (!ReadPixelRun(r, out, pos, raw, bpp)) return false;
    } else if (r.Get(1) == 0) {
      const int64_t len = r.Get(6) + 2;
      if (r.Bad() || !CopyBack(out, pos, raw, row, len)) return false;
    } else if (r.Get(1) == 0) {
      if (!SkipShort(r, pos, raw)) return false;
    } else {
      const SkipResult s = ReadLongSkip(r, pos, raw);
      if (s == SkipResult::kEnd) return true;
      if (s == SkipResult::kBad) return false;
    }
    if (r.Bad()) return false;
  }
}

bool DecodeBest(BitReader& r, uint8_t* out, int64_t raw, int64_t row,
                int32_t bpp) {
  struct Record {
    int64_t pos = -1;
    int64_t len = 0;
  };
  std::vector<Record> ring(kRingSlots);
  int next = 0;
  int64_t pos = 0;
  for (;;) {
    const uint32_t v = r.Peek(12);
    if (v >= 3072) {
      r.Skip(2);
      const uint8_t b = static_cast<uint8_t>(r.Get(8));
      if (r.Bad() || pos >= raw) return false;
      out[pos++] = b;
    } else if (v >= 1536) {
      r.Skip(12);
      const int64_t len = r.GetCount();
      const int64_t start = pos;
      if (r.Bad() ||
          !CopyBack(out, pos, raw, MatchDistance(static_cast<int32_t>(v), row), len))
        return false;
      ring[next] = Record{start, len};
      next = (next + 1) % kRingSlots;
    } else if (v >= 512) {
      r.Skip(12);
      const Record& rec = ring[v - 512];
      if (r.Bad() || rec.pos < 0 || rec.len > raw - pos) return false;
      std::memmove(out + pos, out + rec.pos, static_cast<size_t>(rec.len));
      pos += rec.len;
    } else if (v >= 448) {
      r.Skip(6);
      const SkipResult s = ReadLongSkip(r, pos, raw);
      if (s == SkipResult::kEnd) return true;
      if (s == SkipResult::kBad) return false;
    } else if (v >= 384) {
      r.Skip(6);
      if (!SkipShort(r, pos, raw)) return false;
    } else if (v >= 256) {
      r.Skip(5);
      const int64_t len = r.Get(7) + 2;
      if (r.Bad() || !CopyBack(out, pos, raw, row, len)) return false;
    } else {
      r.Skip(4);
      if (!ReadPixelRun(r, out, pos, raw, bpp)) return false;
    }
    if (r.Bad()) return false;
  }
}

}  // namespace

bool KWDDecodeStrip_(const uint8_t* in, int64_t inLen, uint8_t* out,
                     bool fast, int32_t bpp, int32_t rows, int32_t width) {
  Errors::TraceScope trace("FF_KWB.KWDDecodeStrip_");
  if (!ValidGeometry(bpp, rows, width) || !in || inLen <= 0) return false;
  const int64_t raw = static_cast<int64_t>(rows) * width * bpp;
  const int64_t row = static_cast<int64_t>(width) * bpp;
  BitReader r(in, inLen);
  return fast ? DecodeFast(r, out, raw, row, bpp)
              : DecodeBest(r, out, raw, row, bpp);
}

}  // namespace FF_KWB

// ---- file layer ---------------------------------------------------------------

namespace FF_KWB {
namespace {

using ImgBasic::Qimg;

bool g_fastMode = true;
int32_t g_keyInterval = 25;

using FFBasic::Put32L;
uint32_t Get32u(const uint8_t* p) { return FFBasic::Get32L(p); }
int32_t Get32(const uint8_t* p) { return static_cast<int32_t>(Get32u(p)); }

void Put4(uint8_t* p, int32_t a, int32_t b, int32_t c, int32_t d) {
  Put32L(p, static_cast<uint32_t>(a));
  Put32L(p + 4, static_cast<uint32_t>(b));
  Put32L(p + 8, static_cast<uint32_t>(c));
  Put32L(p + 12, static_cast<uint32_t>(d));
}

constexpr uint8_t kMagic[4] = {'K', 'W', 'B', 0x1A};

bool IsKeyFrame(int32_t interval, int32_t index) {
  return interval == 0 ? index == 0 : index % interval == 0;
}

// Rows per strip: small frames are cut into strips of at most 65520 bytes.
int32_t StripRows(const KWBFile* kwb) {
  const int64_t row = static_cast<int64_t>(kwb->header.width) * kwb->header.bytesPerPixel;
  if (!kwb->header.smallFrames) return kwb->header.height;
  return static_cast<int32_t>(std::max<int64_t>(1, kSmallStripBytes / row));
}

// Byte-wise differences from the pixel before, from a zero pixel at the
// start of the strip, and back.
void Predict(const uint8_t* in, uint8_t* out, int64_t bytes, int32_t bpp) {
  for (int64_t i = bytes - 1; i >= 0; i--)
    out[i] = static_cast<uint8_t>(in[i] - (i >= bpp ? in[i - bpp] : 0));
}
void Unpredict(const uint8_t* in, uint8_t* out, int64_t bytes, int32_t bpp) {
  for (int64_t i = 0; i < bytes; i++)
    out[i] = static_cast<uint8_t>(in[i] + (i >= bpp ? out[i - bpp] : 0));
}

int32_t CodeStrip(bool fast, const uint8_t* src, uint8_t* out, const uint8_t* prev,
                  bool delta, int32_t bpp, int32_t rows, int32_t width) {
  return fast ? KWDCFast(src, out, prev, delta, bpp, rows, width)
              : KWDCBest(src, out, prev, delta, bpp, rows, width);
}

void WriteAt(KWBFile* kwb, int64_t pos, const void* data, int64_t bytes) {
  Basic::FSeek(kwb->handle, pos);
  Basic::FWrite(kwb->handle, data, bytes);
}

void ReadAt(KWBFile* kwb, int64_t pos, void* data, int64_t bytes) {
  FFBasic::FFReadAt(kwb->handle, kwb->fileSize, pos, data, bytes, Errors::kErrMovieFormat,
                    __LINE__);
}

void FlushBlock(KWBFile* kwb) {
  if (kwb->writeMode && kwb->blockDirty && kwb->blockNo >= 0) {
    WriteAt(kwb, kwb->blockTable[kwb->blockNo], kwb->block, kBlockBytes);
    kwb->blockDirty = false;
  }
}

// Makes the index block of a 0-based frame current.
void MakeBlockCurrent(KWBFile* kwb, int32_t index) {
  const int32_t k = index / kBlockFrames;
  if (k == kwb->blockNo) return;
  FlushBlock(kwb);
  if (kwb->blockTable[k] != 0) {
    const int64_t pos = kwb->blockTable[k];
    if (pos < kFirstBlockOffset) {
      Errors::ErrSet(Errors::kErrMovieFormat, __LINE__);
      return;
    }
    ReadAt(kwb, pos, kwb->block, kBlockBytes);
  } else if (kwb->writeMode) {
    kwb->blockTable[k] = static_cast<int32_t>(kwb->fileSize);
    std::memset(kwb->block, 0, kBlockBytes);
    WriteAt(kwb, kwb->fileSize, kwb->block, kBlockBytes);
    kwb->fileSize += kBlockBytes;
  } else {
    Errors::ErrSet(Errors::kErrMovieFormat, __LINE__);
    return;
  }
  kwb->blockNo = k;
}

uint8_t* EntryOf(KWBFile* kwb, int32_t index) {
  return kwb->block + (index % kBlockFrames) * 12;
}

void CopyCanvasOut(KWBFile* kwb, Qimg* image) {
  const int32_t bits = kwb->bitsPerPixel;
  if (image->width != kwb->header.width || image->height != kwb->header.height ||
      image->bitsPerPixel != bits || !ImgBasic::ImgIsValid(image))
    ImgBasic::_imgalloc_(image, kwb->header.width, kwb->header.height,
                         "FF_KWB.KWBImgLoadNext.image", __LINE__, bits);
  std::memcpy(image->data, kwb->canvas, static_cast<size_t>(kwb->frameBytes));
  if (bits == 8) std::memcpy(image->palette, kwb->canvasPalette, 768);
}

void PrepareFirstFrame(KWBFile* kwb, const Qimg* img);
void DecodeFrame(KWBFile* kwb, int32_t index);

}  // namespace

int32_t KWBSetFastMode(int32_t v) {
  if (v == 1) g_fastMode = true;
  if (v == 0) g_fastMode = false;
  return g_fastMode ? 1 : 0;
}

int32_t KWBSetKeyInterval(int32_t v) {
  if (v != Basic::K_AUTO) g_keyInterval = std::max(0, v);
  return g_keyInterval;
}

void KWBPackHeader(const KWBHeader& h, uint8_t* out) {
  std::memset(out, 0, kHeaderSize);
  std::memcpy(out, kMagic, 4);
  Put32L(out + 4, kHeaderSize);
  Put32L(out + 8, kVersion);
  Put32L(out + 12, static_cast<uint32_t>(h.width));
  Put32L(out + 16, static_cast<uint32_t>(h.height));
  Put32L(out + 20, static_cast<uint32_t>(h.bytesPerPixel));
  Put32L(out + 24, static_cast<uint32_t>(h.coder));
  Put32L(out + 28, static_cast<uint32_t>(h.frameCount));
  Put32L(out + 32, static_cast<uint32_t>(h.keyInterval));
  std::memcpy(out + 36, &h.fps, 8);  // IEEE double, little-endian here
  Put32L(out + 44, static_cast<uint32_t>(h.soundFlags));
  Put32L(out + 48, static_cast<uint32_t>(h.sampleRate));
  Put32L(out + 52, static_cast<uint32_t>(h.firstSound));
  Put32L(out + 56, static_cast<uint32_t>(h.smallFrames));
  Put32L(out + 60, static_cast<uint32_t>(h.totalSamples));
}

void KWBUnpackHeader(const uint8_t* in, KWBHeader& h) {
  h.width = Get32(in + 12);
  h.height = Get32(in + 16);
  h.bytesPerPixel = Get32(in + 20);
  h.coder = Get32(in + 24);
  h.frameCount = Get32(in + 28);
  h.keyInterval = Get32(in + 32);
  std::memcpy(&h.fps, in + 36, 8);
  h.soundFlags = Get32(in + 44);
  h.sampleRate = Get32(in + 48);
  h.firstSound = Get32(in + 52);
  h.smallFrames = Get32(in + 56);
  h.totalSamples = Get32(in + 60);
}

void KWBCreate(KWBFile* kwb, const std::string& fileName, double fps) {
  Errors::Monitored("FF_KWB.KWBCreate", [&] {
    *kwb = KWBFile{};
    // On failure the frame closes the file and frees the buffers.
    Errors::MonSetCleanup([kwb] { *kwb = KWBFile{}; });
    int32_t h = Basic::K_AUTO;
    Basic::FOpen(h, fileName, Basic::kOpenCreate);
    kwb->handle = h;
    kwb->header.fps = fps;
    kwb->header.keyInterval = g_keyInterval;
    kwb->writeMode = true;
    kwb->open = true;
  });
}

void KWBOpen(KWBFile* kwb, const std::string& fileName) {
  Errors::Monitored("FF_KWB.KWBOpen", [&] {
    *kwb = KWBFile{};
    // On failure the frame closes the file and frees the buffers.
    Errors::MonSetCleanup([kwb] { *kwb = KWBFile{}; });
    int32_t h = Basic::K_AUTO;
    Basic::FOpen(h, fileName, Basic::kOpenRead);
    kwb->handle = h;
    kwb->open = true;
    kwb->fileSize = Basic::FSize(h);
    uint8_t raw[kHeaderSize];
    ReadAt(kwb, 0, raw, kHeaderSize);
    if (std::memcmp(raw, kMagic, 4) != 0 || Get32(raw + 4) != kHeaderSize) {
      Errors::ErrSet(Errors::kErrMovieFormat, __LINE__);
      return;
    }
    if (Get32(raw + 8) != kVersion) {
      Errors::ErrSet(Errors::kErrMovieNotSupported, __LINE__);
      return;
    }
    KWBHeader& hd = kwb->header;
    KWBUnpackHeader(raw, hd);
    if (hd.soundFlags & 1)
      SndBasic::WaveFormatSetPCM(kwb->waveFormat, hd.sampleRate,
                                 (hd.soundFlags & 4) ? 2 : 1,
                                 (hd.soundFlags & 2) ? 16 : 8);
    if (hd.frameCount < 0 || hd.frameCount > kMaxFrames || hd.keyInterval < 0 ||
        hd.totalSamples < 0 ||
        ((hd.soundFlags & 1) && !SndBasic::WaveFormatValidate(kwb->waveFormat))) {
      Errors::ErrSet(Errors::kErrMovieFormat, __LINE__);
      return;
    }
    if (hd.frameCount > 0) {
      if (hd.bytesPerPixel < 1 || hd.bytesPerPixel > 3) {
        Errors::ErrSet(Errors::kErrMovieFormat, __LINE__);
        return;
      }
      const int32_t bits = hd.bytesPerPixel * 8;
      kwb->frameBytes = FFBasic::FFCapImage(hd.width, hd.height, bits, 2, __LINE__);
      kwb->bitsPerPixel = bits;
      if (hd.coder == kCoderBestPredict && hd.bytesPerPixel != 3) {
        Errors::ErrSet(Errors::kErrMovieFormat, __LINE__);
        return;
      }
      kwb->predicting = hd.coder == kCoderBestPredict;
      uint8_t table[1024];
      ReadAt(kwb, kBlockTableOffset, table, sizeof table);
      for (int i = 0; i < 256; i++) kwb->blockTable[i] = Get32(table + i * 4);
      Basic::MemAlloc(kwb->canvas, kwb->frameBytes, __LINE__, Basic::kMemPlain,
                      "FF_KWB.KWBOpen.canvas");
      if (kwb->predicting)
        Basic::MemAlloc(kwb->predict, kwb->frameBytes, __LINE__, Basic::kMemPlain,
                        "FF_KWB.KWBOpen.predict");
    }
  });
}

namespace {

// On the first frame: geometry, coder choice, header, block table and the
// first block; for the best coder on 24 bits, whether prediction pays.
void PrepareFirstFrame(KWBFile* kwb, const Qimg* img) {
  KWBHeader& h = kwb->header;
  h.width = img->width;
  h.height = img->height;
  h.bytesPerPixel = img->bytesPerPixel;
  kwb->bitsPerPixel = img->bitsPerPixel;
  kwb->frameBytes = static_cast<int64_t>(img->width) * img->height * img->bytesPerPixel;
  h.coder = g_fastMode ? kCoderFast : (h.bytesPerPixel == 3 ? kCoderBestPredict : kCoderBest);
  h.smallFrames = kwb->frameBytes < 65521 ? 1 : 0;
  if (h.keyInterval != 1)
    Basic::MemAlloc(kwb->prevFrame, kwb->frameBytes, __LINE__, Basic::kMemPlain,
                    "FF_KWB.KWBImgSave.prevFrame");
  if (h.coder == kCoderBestPredict) {
    Basic::MemAlloc(kwb->predict, kwb->frameBytes, __LINE__, Basic::kMemPlain,
                    "FF_KWB.KWBImgSave.predict");
    const int32_t rows = h.height / 2 > 0 ? h.height / 2 : h.height;
    const int64_t bytes = static_cast<int64_t>(rows) * h.width * 3;
    uint8_t* out = nullptr;
    Basic::MemAlloc(out, bytes + kCoderSlack, __LINE__, Basic::kMemPlain,
                    "FF_KWB.KWBImgSave.trial");
    int64_t plain = KWDCBest(img->data, out, nullptr, false, 3, rows, h.width);
    if (plain == 0) plain = bytes;
    Predict(img->data, kwb->predict, bytes, 3);
    int64_t predicted = KWDCBest(kwb->predict, out, nullptr, false, 3, rows, h.width);
    if (predicted == 0) predicted = bytes;
    Basic::MemFree(out);
    if (predicted < plain) {
      kwb->predicting = true;
    } else {
      h.coder = kCoderBest;
      Basic::MemFree(kwb->predict);
    }
  }
  uint8_t raw[kHeaderSize];
  KWBPackHeader(h, raw);
  WriteAt(kwb, 0, raw, kHeaderSize);
  kwb->blockTable[0] = kFirstBlockOffset;
  uint8_t table[1024] = {};
  Put32L(table, kFirstBlockOffset);
  WriteAt(kwb, kBlockTableOffset, table, sizeof table);
  std::memset(kwb->block, 0, kBlockBytes);
  WriteAt(kwb, kFirstBlockOffset, kwb->block, kBlockBytes);
  kwb->blockNo = 0;
  kwb->fileSize = kFirstBlockOffset + kBlockBytes;
  kwb->headerWritten = true;
}

}  // namespace

void KWBImgSave(KWBFile* kwb, ImgBasic::Qimg* image) {
  Errors::Monitored("FF_KWB.KWBImgSave", [&] {
    if (!kwb->open || !kwb->writeMode || !ImgBasic::ImgIsValid(image)) {
      Errors::ErrSet(Errors::kErrMovieWrite, __LINE__);
      return;
    }
    // The format holds 8, 16 and 24 bits: 15 bits travel as 16, 32 as 24.
    Qimg conv;
    const Qimg* img = image;
    if (image->bitsPerPixel == 15 || image->bitsPerPixel == 32) {
      ImgBasic::ImgConvBpp(image, &conv, image->bitsPerPixel == 15 ? 16 : 24);
      img = &conv;
    }
    KWBHeader& h = kwb->header;
    if (h.frameCount == 0) {
      // A file that began with sound has no room left for the frame index.
      if (kwb->soundWritten) {
        Errors::ErrSet(Errors::kErrMovieWrite, __LINE__);
        return;
      }
      PrepareFirstFrame(kwb, img);
    } else if (img->width != h.width || img->height != h.height ||
               img->bytesPerPixel != h.bytesPerPixel) {
      Errors::ErrSet(Errors::kErrMovieWrite, __LINE__);
      return;
    }
    if (h.frameCount >= kMaxFrames) {
      Errors::ErrSet(Errors::kErrMovieWrite, __LINE__);
      return;
    }
    const int32_t index = h.frameCount;
    MakeBlockCurrent(kwb, index);

    const int32_t bpp = h.bytesPerPixel;
    const int64_t row = static_cast<int64_t>(h.width) * bpp;
    const int32_t stripRows = StripRows(kwb);
    const int32_t strips = (h.height + stripRows - 1) / stripRows;
    const bool palette =
        bpp == 1 && (index == 0 || [&] {
          for (int i = 0; i < 256; i++)
            if (kwb->lastPalette[i * 3] != img->palette[i * 3 + 2] ||
                kwb->lastPalette[i * 3 + 1] != img->palette[i * 3 + 1] ||
                kwb->lastPalette[i * 3 + 2] != img->palette[i * 3])
              return true;
          return false;
        }());
    const int64_t head = 16 + (palette ? 16 + 768 : 0) + 16 + 20 * int64_t{strips};
    uint8_t* record = nullptr;
    Basic::MemAlloc(record, head + kwb->frameBytes + kCoderSlack, __LINE__,
                    Basic::kMemPlain, "FF_KWB.KWBImgSave.record");
    int64_t off = 16;
    if (palette) {
      Put4(record + off, 2, 16, 256, 0);
      for (int i = 0; i < 256; i++) {
        kwb->lastPalette[i * 3] = img->palette[i * 3 + 2];
        kwb->lastPalette[i * 3 + 1] = img->palette[i * 3 + 1];
        kwb->lastPalette[i * 3 + 2] = img->palette[i * 3];
      }
      std::memcpy(record + off + 16, kwb->lastPalette, 768);
      off += 16 + 768;
    }
    const int64_t videoHead = off;
    off += 16 + 20 * int64_t{strips};
    const bool key = IsKeyFrame(h.keyInterval, index);
    const uint8_t* source = img->data;
    if (kwb->predicting) {
      for (int32_t s = 0; s < strips; s++) {
        const int64_t at = s * stripRows * row;
        const int32_t rows = std::min(stripRows, h.height - s * stripRows);
        Predict(img->data + at, kwb->predict + at, rows * row, bpp);
      }
      source = kwb->predict;
    }
    const int64_t readBuffer = h.smallFrames ? kSmallStripBytes : kwb->frameBytes + 8192;
    int32_t inFirstRead = 0;
    int64_t firstRead = off;
    bool stillFirst = off <= readBuffer;
    for (int32_t s = 0; s < strips; s++) {
      const int64_t at = s * stripRows * row;
      const int32_t rows = std::min(stripRows, h.height - s * stripRows);
      const int64_t rawBytes = rows * row;
      const bool delta = !key && kwb->prevFrame;
      int32_t coded = CodeStrip(h.coder & 1, source + at, record + off,
                                delta ? kwb->prevFrame + at : nullptr, delta, bpp,
                                rows, h.width);
      int64_t stored = coded;
      if (coded == 0) {
        std::memcpy(record + off, source + at, static_cast<size_t>(rawBytes));
        stored = rawBytes;
      }
      Put32L(record + videoHead + 16 + 20 * s, 5);
      Put32L(record + videoHead + 16 + 20 * s + 4, 20);
      Put32L(record + videoHead + 16 + 20 * s + 8, static_cast<uint32_t>(stored));
      Put32L(record + videoHead + 16 + 20 * s + 12, static_cast<uint32_t>(rows));
      Put32L(record + videoHead + 16 + 20 * s + 16, coded ? 1 : 0);
      off += stored;
      if (stillFirst && off <= readBuffer) {
        inFirstRead++;
        firstRead = off;
      } else {
        stillFirst = false;
      }
    }
    Put4(record + videoHead, 4, 16, strips, inFirstRead);
    Put4(record, 1, 16, palette ? 2 : 1, static_cast<int32_t>(off));
    if (kwb->prevFrame)
      std::memcpy(kwb->prevFrame, source, static_cast<size_t>(kwb->frameBytes));
    const int64_t pos = kwb->fileSize;
    if (pos + off > INT32_MAX) {
      Errors::ErrSet(Errors::kErrMovieWrite, __LINE__);
      return;
    }
    WriteAt(kwb, pos, record, off);
    kwb->fileSize += off;
    Basic::MemFree(record);
    uint8_t* e = EntryOf(kwb, index);
    Put32L(e, static_cast<uint32_t>(pos));
    Put32L(e + 4, static_cast<uint32_t>(firstRead));
    Put32L(e + 8, palette ? 1 : 0);
    kwb->blockDirty = true;
    h.frameCount++;
    if (img == &conv) ImgBasic::ImgFree(&conv);
  });
}

void KWBUpdateVP_(KWBFile* kwb, int32_t frame) {
  Errors::Monitored("FF_KWB.KWBUpdateVP_", [&] {
    if (frame < 1 || frame > kwb->header.frameCount) {
      Errors::ErrSet(Errors::kErrMovieFormat, __LINE__);
      return;
    }
    MakeBlockCurrent(kwb, frame - 1);
  });
}

namespace {

// Reads the whole record of a 0-based frame into a tracked buffer.
uint8_t* ReadRecord(KWBFile* kwb, int32_t index, int64_t& size, int32_t& flags) {
  MakeBlockCurrent(kwb, index);
  const uint8_t* e = EntryOf(kwb, index);
  const int64_t pos = Get32u(e);
  flags = Get32(e + 8);
  uint8_t head[16];
  ReadAt(kwb, pos, head, 16);
  size = Get32u(head + 12);
  // The record is at most its headers and the raw frame.
  const int64_t most = 16 + 784 + 16 + 20 * int64_t{kwb->header.height} +
                       kwb->frameBytes;
  if (Get32(head) != 1 || Get32(head + 4) != 16 || pos < kFirstBlockOffset ||
      size < 16 || size > most || pos + size > kwb->fileSize) {
    Errors::ErrSet(Errors::kErrMovieFormat, __LINE__);
    return nullptr;
  }
  uint8_t* record = nullptr;
  Basic::MemAlloc(record, size, __LINE__, Basic::kMemPlain, "FF_KWB.KWBImgLoadNext.record");
  ReadAt(kwb, pos, record, size);
  return record;
}

void DecodeFrame(KWBFile* kwb, int32_t index) {
  const KWBHeader& h = kwb->header;
  // Until this frame is complete the canvas holds no whole frame.
  kwb->lastDecoded = 0;
  int64_t size = 0;
  int32_t flags = 0;
  uint8_t* record = ReadRecord(kwb, index, size, flags);
  const int32_t chunks = Get32(record + 8);
  const int32_t bpp = h.bytesPerPixel;
  const int64_t row = static_cast<int64_t>(h.width) * bpp;
  uint8_t* target = kwb->predicting ? kwb->predict : kwb->canvas;
  int64_t off = 16;
  bool video = false;
  auto corrupt = [&](Errors::ErrorName error) { Errors::ErrSet(error, __LINE__); };
  for (int32_t c = 0; c < chunks && c < 2; c++) {
    if (off + 16 > size) return corrupt(Errors::kErrMovieFormat);
    const int32_t id = Get32(record + off);
    const int32_t a = Get32(record + off + 8);
    const int32_t b = Get32(record + off + 12);
    if (id == 2) {
      const int64_t count = a, first = b;
      if (count < 0 || first < 0 || first + count > 256 || off + 16 + count * 3 > size)
        return corrupt(Errors::kErrMovieFormat);
      for (int64_t i = 0; i < count; i++) {
        const uint8_t* rgb = record + off + 16 + i * 3;
        uint8_t* bgr = kwb->canvasPalette + (first + i) * 3;
        bgr[0] = rgb[2];
        bgr[1] = rgb[1];
        bgr[2] = rgb[0];
      }
      kwb->canvasHasPalette = true;
      kwb->newPalette = true;
      off += 16 + count * 3;
    } else if (id == 4) {
      const int64_t strips = a;
      if (strips < 1 || strips > h.height || off + 16 + strips * 20 > size)
        return corrupt(Errors::kErrMovieFormat);
      int64_t data = off + 16 + strips * 20;
      int64_t doneRows = 0;
      for (int64_t s = 0; s < strips; s++) {
        const uint8_t* st = record + off + 16 + s * 20;
        const int64_t stored = Get32u(st + 8);
        const int64_t rows = Get32(st + 12);
        const bool coded = Get32(st + 16) == 1;
        if (Get32(st) != 5 || rows < 1 || doneRows + rows > h.height ||
            data + stored > size)
          return corrupt(Errors::kErrMovieFormat);
        uint8_t* at = target + doneRows * row;
        if (coded) {
          if (!KWDDecodeStrip_(record + data, stored, at, h.coder & 1, bpp,
                               static_cast<int32_t>(rows), h.width))
            return corrupt(Errors::kErrMovieDecompress);
        } else {
          if (stored != rows * row) return corrupt(Errors::kErrMovieDecompress);
          std::memcpy(at, record + data, static_cast<size_t>(stored));
        }
        if (kwb->predicting)
          Unpredict(at, kwb->canvas + doneRows * row, rows * row, bpp);
        data += stored;
        doneRows += rows;
      }
      if (doneRows != h.height) return corrupt(Errors::kErrMovieFormat);
      video = true;
      off = data;
    } else {
      return corrupt(Errors::kErrMovieFormat);
    }
  }
  if (!video) return corrupt(Errors::kErrMovieFormat);
  Basic::MemFree(record);
  kwb->lastDecoded = index + 1;
}

}  // namespace

int32_t KWBNearestKeyFrame(const KWBFile* kwb, int32_t frame, int32_t direction) {
  const int32_t count = kwb->header.frameCount;
  const int32_t interval = kwb->header.keyInterval;
  if (count <= 0) return 0;
  frame = std::clamp(frame, 1, count);
  if (interval == 0) return 1;
  const int32_t before = (frame - 1) / interval * interval + 1;
  if (direction <= 0 || before == frame) return before;
  const int64_t after = int64_t{before} + interval;
  return after <= count ? static_cast<int32_t>(after) : before;
}

bool KWBGetPal(KWBFile* kwb, uint8_t* palette, int32_t first, int32_t last) {
  bool found = false;
  Errors::Monitored("FF_KWB.KWBGetPal", [&] {
    first = std::min(first, kwb->header.frameCount);
    last = std::max(last, 1);
    for (int32_t n = first; n >= last && !found; n--) {
      MakeBlockCurrent(kwb, n - 1);
      if (!(Get32(EntryOf(kwb, n - 1) + 8) & 1)) continue;
      int64_t size = 0;
      int32_t flags = 0;
      uint8_t* record = ReadRecord(kwb, n - 1, size, flags);
      if (size >= 32 && Get32(record + 16) == 2) {
        const int64_t count = Get32(record + 24), start = Get32(record + 28);
        if (count >= 0 && start >= 0 && start + count <= 256 && 32 + count * 3 <= size) {
          for (int64_t i = 0; i < count; i++) {
            palette[(start + i) * 3] = record[32 + i * 3 + 2];
            palette[(start + i) * 3 + 1] = record[32 + i * 3 + 1];
            palette[(start + i) * 3 + 2] = record[32 + i * 3];
          }
          found = true;
        }
      }
      Basic::MemFree(record);
    }
  });
  return found;
}

void KWBImgLoad(KWBFile* kwb, ImgBasic::Qimg* image, int32_t frame, int32_t flags) {
  (void)flags;  // the reader decodes onto its own canvas, whatever the image holds
  Errors::Monitored("FF_KWB.KWBImgLoad", [&] {
    if (!kwb->open || kwb->writeMode) {
      Errors::ErrSet(Errors::kErrMovieFormat, __LINE__);
      return;
    }
    const int32_t count = kwb->header.frameCount;
    if (count == 0) {
      Errors::ErrSet(Errors::kErrKwbEnd, __LINE__);
      return;
    }
    if (frame == 0) frame = kwb->lastDecoded + 1;
    if (frame < 1 || frame > count) {
      Errors::ErrSet(Errors::kErrMovieFormat, __LINE__);
      return;
    }
    kwb->newPalette = false;
    if (frame != kwb->lastDecoded) {
      int32_t start = kwb->lastDecoded + 1;
      bool restarted = false;
      if (frame != kwb->lastDecoded + 1) {
        const int32_t key = KWBNearestKeyFrame(kwb, frame, -1);
        if (kwb->lastDecoded < key || kwb->lastDecoded > frame) {
          start = key;
          restarted = true;
        }
      }
      for (int32_t n = start; n <= frame; n++) DecodeFrame(kwb, n - 1);
      if (restarted && kwb->bitsPerPixel == 8 && !kwb->newPalette) {
        KWBGetPal(kwb, kwb->canvasPalette, frame, 1);
        kwb->newPalette = true;
      }
    }
    CopyCanvasOut(kwb, image);
    kwb->nextFrame = kwb->lastDecoded + 1;
  });
}

void KWBImgLoadNext(KWBFile* kwb, ImgBasic::Qimg* image) {
  Errors::Monitored("FF_KWB.KWBImgLoadNext",
                    [&] { KWBImgLoad(kwb, image, kwb->nextFrame, 0); });
}

void KWBSetFrame(KWBFile* kwb, int32_t n) {
  Errors::TraceScope trace("FF_KWB.KWBSetFrame");
  kwb->nextFrame = n;
}

void KWBClose(KWBFile* kwb) {
  Errors::Monitored("FF_KWB.KWBClose", [&] {
    if (!kwb->open) return;
    const int32_t handle = kwb->handle;
    // Whatever happens while finishing the file, it is closed and released.
    Errors::MonSetCleanup([kwb, handle] {
      Basic::FClose(handle);
      Basic::MemFree(kwb->prevFrame);
      Basic::MemFree(kwb->predict);
      Basic::MemFree(kwb->canvas);
      Basic::MemFree(kwb->soundBuffer);
      *kwb = KWBFile{};
    });
    if (kwb->writeMode) {
      uint8_t raw[kHeaderSize];
      KWBPackHeader(kwb->header, raw);
      WriteAt(kwb, 0, raw, kHeaderSize);
      if (kwb->header.frameCount > 0) {
        FlushBlock(kwb);
        uint8_t table[1024];
        for (int i = 0; i < 256; i++) Put32L(table + i * 4, static_cast<uint32_t>(kwb->blockTable[i]));
        WriteAt(kwb, kBlockTableOffset, table, sizeof table);
      }
    }
    Basic::MemFree(kwb->prevFrame);
    Basic::MemFree(kwb->predict);
    Basic::MemFree(kwb->canvas);
    Basic::MemFree(kwb->soundBuffer);
    Basic::FClose(handle);
    *kwb = KWBFile{};
  });
}

// ---- sound ------------------------------------------------------------------

namespace {

// Reads a sound chunk header; false when it does not describe a chunk that
// fits the file and moves forward through it.
bool ReadSoundChunk(KWBFile* kwb, int64_t pos, int32_t& next, int32_t& frames) {
  const int64_t align = kwb->waveFormat.blockAlign;
  if (pos < kHeaderSize || pos + 16 > kwb->fileSize || align <= 0) return false;
  uint8_t head[16];
  ReadAt(kwb, pos, head, 16);
  next = Get32(head + 8);
  frames = Get32(head + 12);
  const int64_t end = pos + 16 + int64_t{frames} * align;
  return Get32(head) == 3 && Get32(head + 4) == 16 && frames >= 0 &&
         end <= kwb->fileSize && (next == 0 || next >= end);
}

void LoadSoundChunk(KWBFile* kwb, int64_t pos, int32_t samplesBefore) {
  int32_t next = 0, frames = 0;
  if (!ReadSoundChunk(kwb, pos, next, frames)) {
    Errors::ErrSet(Errors::kErrMovieFormat, __LINE__);
    return;
  }
  const int64_t bytes = int64_t{frames} * kwb->waveFormat.blockAlign;
  Basic::MemFree(kwb->soundBuffer);
  if (bytes > 0) {
    Basic::MemAlloc(kwb->soundBuffer, bytes, __LINE__, Basic::kMemPlain,
                    "FF_KWB.KWBSndSeek.buffer");
    ReadAt(kwb, pos + 16, kwb->soundBuffer, bytes);
  }
  kwb->soundBufferFrames = frames;
  kwb->soundReadOffset = 0;
  kwb->nextSoundChunk = next;
  kwb->samplesBefore = samplesBefore;
}

}  // namespace

void KWBSndSave(KWBFile* kwb, SndBasic::SndRec* sound) {
  Errors::Monitored("FF_KWB.KWBSndSave", [&] {
    if (!kwb->open || !kwb->writeMode) {
      Errors::ErrSet(Errors::kErrMovieWrite, __LINE__);
      return;
    }
    if (sound->frames <= 0) return;
    KWBHeader& h = kwb->header;
    if (!(h.soundFlags & 1)) {
      // The first chunk fixes the file's sound format: PCM at the sound's
      // rate, 8 or 16 bits, one or two channels.
      const int32_t bits = sound->format.bitsPerSample > 8 ? 16 : 8;
      const int32_t channels = sound->format.channels >= 2 ? 2 : 1;
      SndBasic::WaveFormatSetPCM(kwb->waveFormat,
                                 static_cast<int32_t>(sound->format.samplesPerSec),
                                 channels, bits);
      if (!SndBasic::WaveFormatValidate(kwb->waveFormat)) {
        Errors::ErrSet(Errors::kErrAudioFormat, __LINE__);
        return;
      }
      h.soundFlags = 1 | (bits == 16 ? 2 : 0) | (channels == 2 ? 4 : 0);
      h.sampleRate = static_cast<int32_t>(sound->format.samplesPerSec);
    }
    SndBasic::SndRec converted;
    const SndBasic::SndRec* src = sound;
    if (SndBasic::WaveFormatDiffers(sound->format, kwb->waveFormat)) {
      SndBasic::SndConvert(*sound, converted, kwb->waveFormat);
      src = &converted;
    }
    // A file without frames starts its sound right after the header.
    if (kwb->fileSize < kHeaderSize) kwb->fileSize = kHeaderSize;
    const int64_t pos = kwb->fileSize;
    const int64_t bytes = int64_t{src->frames} * kwb->waveFormat.blockAlign;
    if (pos + 16 + bytes > INT32_MAX ||
        int64_t{h.totalSamples} + src->frames > INT32_MAX) {
      Errors::ErrSet(Errors::kErrMovieWrite, __LINE__);
      return;
    }
    uint8_t head[16];
    Put4(head, 3, 16, 0, src->frames);
    WriteAt(kwb, pos, head, 16);
    WriteAt(kwb, pos + 16, src->data, bytes);
    kwb->fileSize = pos + 16 + bytes;
    if (kwb->lastSoundChunk == 0) {
      h.firstSound = static_cast<int32_t>(pos);
    } else {
      uint8_t link[4];
      Put32L(link, static_cast<uint32_t>(pos));
      WriteAt(kwb, kwb->lastSoundChunk + 8, link, 4);
    }
    kwb->lastSoundChunk = static_cast<int32_t>(pos);
    kwb->soundWritten = true;
    h.totalSamples += src->frames;
    if (src == &converted) SndBasic::SndFree(converted);
  });
}

void KWBSndSeek(KWBFile* kwb, int32_t sample) {
  Errors::Monitored("FF_KWB.KWBSndSeek", [&] {
    const KWBHeader& h = kwb->header;
    if (!kwb->open || kwb->writeMode || !(h.soundFlags & 1) || sample < 0 ||
        sample > h.totalSamples)
      return;
    // Walk the list to the chunk that holds the sample; each link must lead
    // forward, so a damaged list cannot loop.
    int64_t pos = h.firstSound;
    int32_t before = 0;
    for (;;) {
      int32_t next = 0, frames = 0;
      if (!ReadSoundChunk(kwb, pos, next, frames)) {
        Errors::ErrSet(Errors::kErrMovieFormat, __LINE__);
        return;
      }
      if (sample < before + int64_t{frames} || next == 0) {
        LoadSoundChunk(kwb, pos, before);
        kwb->soundReadOffset = std::min(sample - before, frames);
        break;
      }
      before += frames;
      pos = next;
    }
    kwb->samplePosition = sample;
  });
}

void KWBSndLoad(KWBFile* kwb, SndBasic::SndRec* sound, int32_t start, int32_t count,
                int32_t flags) {
  Errors::Monitored("FF_KWB.KWBSndLoad", [&] {
    sound->frames = 0;
    const KWBHeader& h = kwb->header;
    if (!kwb->open || kwb->writeMode || !(h.soundFlags & 1) || start < 0 ||
        start > h.totalSamples || count <= 0)
      return;
    if (start != kwb->samplePosition || !(flags & 1) || !kwb->soundBuffer)
      KWBSndSeek(kwb, start);
    const int64_t align = kwb->waveFormat.blockAlign;
    const int32_t wanted = static_cast<int32_t>(
        std::min<int64_t>(count, int64_t{h.totalSamples} - start));
    sound->format = kwb->waveFormat;
    if (wanted <= 0) return;
    SndBasic::_sndalloc_(*sound, wanted * align, __LINE__, "FF_KWB.KWBSndLoad.sound");
    int32_t done = 0;
    while (done < wanted) {
      if (kwb->soundReadOffset >= kwb->soundBufferFrames) {
        if (kwb->nextSoundChunk == 0) break;  // the end of the list
        LoadSoundChunk(kwb, kwb->nextSoundChunk,
                       kwb->samplesBefore + kwb->soundBufferFrames);
        continue;
      }
      const int32_t n = std::min(wanted - done, kwb->soundBufferFrames - kwb->soundReadOffset);
      std::memcpy(sound->data + done * align, kwb->soundBuffer + kwb->soundReadOffset * align,
                  static_cast<size_t>(n * align));
      kwb->soundReadOffset += n;
      done += n;
    }
    sound->frames = done;
    kwb->samplePosition = start + done;
  });
}

void KWBInfo(const std::string& fileName, ConForm::FFInfoRec* info) {
  Errors::Monitored("FF_KWB.KWBInfo", [&] {
    KWBFile kwb;
    KWBOpen(&kwb, fileName);
    const KWBHeader& hd = kwb.header;
    info->fileSize = static_cast<double>(kwb.fileSize);
    if (hd.frameCount > 0) {
      const char* name = hd.coder == kCoderBest          ? "KWB BEST codec"
                         : hd.coder == kCoderFast        ? "KWB FAST codec"
                         : hd.coder == kCoderBestPredict ? "KWB BEST-P codec"
                                                         : "N/A";
      ConForm::FFInfoStill(info, info->fileSize, hd.width, hd.height,
                           hd.bytesPerPixel, kwb.bitsPerPixel, name, true,
                           true);
      info->picture.frameCount = hd.frameCount;
      info->picture.fps = hd.fps;
    }
    if (hd.soundFlags & 1) {
      info->sound.ownWave = kwb.waveFormat;
      info->sound.wave = kwb.waveFormat;
      info->sound.audioCompression = "PCM, uncompressed";
      info->sound.sampleFrames = hd.totalSamples;
      info->sound.hasSound = info->sound.soundReadable = true;
    }
    KWBClose(&kwb);
  });
}

}  // namespace FF_KWB
