#include "formats/FF_KWB.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "foundation/Basic.h"
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
