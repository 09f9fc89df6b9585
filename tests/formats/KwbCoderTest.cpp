#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "formats/FF_KWB.h"

using namespace FF_KWB;

namespace {

std::vector<uint8_t> Bits(const std::string& pattern) {
  // "1010 0111" -> bytes, zero-padded; blanks are ignored.
  std::vector<uint8_t> out(pattern.size() / 8 + 2, 0);
  BitWriter w(out.data(), static_cast<int64_t>(out.size()));
  for (char c : pattern)
    if (c == '0' || c == '1') w.Put(c == '1', 1);
  w.Finish();
  out.resize(static_cast<size_t>(w.Bytes()));
  return out;
}

std::string BitString(const std::vector<uint8_t>& bytes, int bits) {
  std::string s;
  for (int i = 0; i < bits; i++) s += ((bytes[i / 8] >> (7 - i % 8)) & 1) ? '1' : '0';
  return s;
}

std::string CountBits(int32_t v) {
  std::vector<uint8_t> buf(8, 0);
  BitWriter w(buf.data(), 8);
  w.PutCount(v);
  const int bits = v >= 256 ? 16 : v >= 128 ? 14 : v >= 64 ? 12 : v >= 32 ? 10
                   : v >= 16 ? 8 : v >= 8 ? 6 : v >= 4 ? 4 : 2;
  w.Finish();
  return BitString(buf, bits);
}

TEST(KwbCountCode, ClassesAndTheLongForm) {
  EXPECT_EQ(CountBits(2), "10");
  EXPECT_EQ(CountBits(3), "11");
  EXPECT_EQ(CountBits(5), "0101");
  EXPECT_EQ(CountBits(15), "001111");
  EXPECT_EQ(CountBits(16), "00010000");
  EXPECT_EQ(CountBits(255), "00000011111111");
  // 300 = 256 + 44: seven zero bits, then 44 in nine bits.
  EXPECT_EQ(CountBits(300), "0000000" "000101100");
  EXPECT_EQ(CountBits(767), "0000000" "111111111");
}

TEST(KwbBitWriter, WordsGoMostSignificantByteFirst) {
  std::vector<uint8_t> buf(8, 0);
  BitWriter w(buf.data(), 8);
  w.Put(0xABCDE, 20);
  w.Finish();
  EXPECT_EQ(w.Bytes(), 3);
  EXPECT_EQ(buf[0], 0xAB);
  EXPECT_EQ(buf[1], 0xCD);
  EXPECT_EQ(buf[2], 0xE0);
}

// A fast-coder strip written by hand from the token table, 4 pixels wide,
// 2 rows, 1 byte per pixel.
TEST(KwbFastDecoder, HandWrittenTokens) {
  const auto stream = Bits(
      "1 01000001"            // literal 'A'
      "00 01000010 11"        // run of 3 pixels 'B'
      "010 000010"            // copy 4 bytes from one row above
      "0111 000000");         // end of strip
  std::vector<uint8_t> out(8, 0xEE);
  ASSERT_TRUE(KWDDecodeStrip_(stream.data(), static_cast<int64_t>(stream.size()),
                              out.data(), true, 1, 2, 4));
  EXPECT_EQ(std::string(out.begin(), out.end()), "ABBBABBB");
}

TEST(KwbFastDecoder, SkipsKeepThePreviousFrame) {
  // 3-byte pixels, one row of 30 pixels (90 bytes): skip 10, a run of 2
  // pixels (1,2,3), skip the remaining 74 bytes with a long skip.
  // 74 = (hi - 2) * 64 + lo + 66 with hi = 2, lo = 8.
  const auto stream = Bits(
      "0110 001000"                       // skip 10
      "00 00000001 0000001100000010 10"   // run: byte 1, then 0x0302 LE
      "0111 001000 10"                    // long skip: lo 8, hi 2
      "0111 000000");
  std::vector<uint8_t> out(90, 0x55);
  ASSERT_TRUE(KWDDecodeStrip_(stream.data(), static_cast<int64_t>(stream.size()),
                              out.data(), true, 3, 1, 30));
  for (int i = 0; i < 10; i++) EXPECT_EQ(out[i], 0x55);
  const uint8_t px[6] = {1, 2, 3, 1, 2, 3};
  EXPECT_EQ(std::memcmp(out.data() + 10, px, 6), 0);
  for (int i = 16; i < 90; i++) EXPECT_EQ(out[i], 0x55);
}

// A long skip whose low part is 0 reads like the end token; where the strip
// is not complete it must be taken as the skip.
TEST(KwbFastDecoder, LongSkipWithZeroLowPartIsNotTheEnd) {
  // 200 bytes: skip 130 = (hi-2)*64 + 0 + 66 with hi = 3, then 70 literals.
  std::string pattern = "0111 000000 11";
  for (int i = 0; i < 70; i++) pattern += " 1 00000111";
  pattern += " 0111 000000";
  const auto stream = Bits(pattern);
  std::vector<uint8_t> out(200, 9);
  ASSERT_TRUE(KWDDecodeStrip_(stream.data(), static_cast<int64_t>(stream.size()),
                              out.data(), true, 1, 1, 200));
  EXPECT_EQ(out[129], 9);
  EXPECT_EQ(out[130], 7);
  EXPECT_EQ(out[199], 7);
}

TEST(KwbBestDecoder, HandWrittenMatchAndRepeat) {
  // One row of 12 bytes: literals "abc", a match of 3 bytes at distance 3
  // (i = 0, d = 61: 64 - 61 = 3), a repeat of slot 0, then 3 literals.
  const auto stream = Bits(
      "11 01100001 11 01100010 11 01100011"
      "011000111101 11"        // 1536 + 61 = 1597, length 3
      "001000000000"           // repeat slot 0
      "11 01111000 11 01111001 11 01111010"
      "000111 000000");
  std::vector<uint8_t> out(12, 0);
  ASSERT_TRUE(KWDDecodeStrip_(stream.data(), static_cast<int64_t>(stream.size()),
                              out.data(), false, 1, 1, 12));
  EXPECT_EQ(std::string(out.begin(), out.end()), "abcabcabcxyz");
}

TEST(KwbBestDecoder, MatchFromRowsAboveToTheRight) {
  // Rows of 8 bytes. Row 0 literal "01234567"; row 1 copies 8 bytes from one
  // row up with a match code of family 2: k = 1, d = 0 -> i = 12.
  std::string pattern;
  for (char c : std::string("01234567")) {
    pattern += "11 ";
    for (int b = 7; b >= 0; b--) pattern += ((c >> b) & 1) ? '1' : '0';
  }
  pattern += " 100100000000 001000";  // 1536 + 12*64 = 2304, length 8
  pattern += " 000111 000000";
  const auto stream = Bits(pattern);
  std::vector<uint8_t> out(16, 0);
  ASSERT_TRUE(KWDDecodeStrip_(stream.data(), static_cast<int64_t>(stream.size()),
                              out.data(), false, 1, 2, 8));
  EXPECT_EQ(std::string(out.begin(), out.end()), "0123456701234567");
}

TEST(KwbDecoder, RejectsReferencesOutsideTheStrip) {
  std::vector<uint8_t> out(16, 0);
  // Copy from one row above on the first row.
  auto s = Bits("010 000000 0111 000000");
  EXPECT_FALSE(KWDDecodeStrip_(s.data(), static_cast<int64_t>(s.size()), out.data(), true, 1, 2, 8));
  // A run longer than the strip.
  s = Bits("00 00000001 00000011111111 0111 000000");
  EXPECT_FALSE(KWDDecodeStrip_(s.data(), static_cast<int64_t>(s.size()), out.data(), true, 1, 2, 8));
  // A repeat of a slot never recorded.
  s = Bits("001000000101 000111 000000");
  EXPECT_FALSE(KWDDecodeStrip_(s.data(), static_cast<int64_t>(s.size()), out.data(), false, 1, 2, 8));
  // No end token.
  s = Bits("1 00000001");
  EXPECT_FALSE(KWDDecodeStrip_(s.data(), static_cast<int64_t>(s.size()), out.data(), true, 1, 1, 1));
}

// ---- round trips ----------------------------------------------------------

struct Strip {
  int32_t bpp, rows, width;
  std::vector<uint8_t> prev, cur;
};

Strip MakeStrip(int32_t bpp, int32_t rows, int32_t width, uint32_t seed) {
  Strip s{bpp, rows, width, {}, {}};
  const size_t n = static_cast<size_t>(bpp) * rows * width;
  std::mt19937 rng(seed);
  s.prev.resize(n);
  // Smooth areas, flat runs, repeated rows and some noise.
  for (size_t i = 0; i < n; i++) {
    const size_t x = i % (static_cast<size_t>(width) * bpp);
    const size_t y = i / (static_cast<size_t>(width) * bpp);
    uint8_t v = static_cast<uint8_t>((x / 7) * 3 + (y / 5) * 11);
    if ((y / 3) % 4 == 1) v = 200;
    if (rng() % 13 == 0) v = static_cast<uint8_t>(rng());
    s.prev[i] = v;
  }
  s.cur = s.prev;
  for (size_t i = 0; i < n; i++)
    if ((i / 97) % 3 == 0) s.cur[i] = static_cast<uint8_t>(s.cur[i] + (rng() % 5));
  return s;
}

void ExpectRoundTrip(const Strip& s, bool fast, bool delta) {
  const int64_t raw = static_cast<int64_t>(s.cur.size());
  std::vector<uint8_t> coded(static_cast<size_t>(raw + kCoderSlack));
  const int32_t size = fast ? KWDCFast(s.cur.data(), coded.data(), s.prev.data(),
                                       delta, s.bpp, s.rows, s.width)
                            : KWDCBest(s.cur.data(), coded.data(), s.prev.data(),
                                       delta, s.bpp, s.rows, s.width);
  ASSERT_GT(size, 0) << "bpp " << s.bpp << (fast ? " fast" : " best");
  EXPECT_LE(size, (raw * 95 + 50) / 100);
  std::vector<uint8_t> out = delta ? s.prev : std::vector<uint8_t>(s.cur.size(), 0x77);
  ASSERT_TRUE(KWDDecodeStrip_(coded.data(), size, out.data(), fast, s.bpp, s.rows, s.width));
  EXPECT_EQ(out, s.cur) << "bpp " << s.bpp << (fast ? " fast" : " best")
                        << (delta ? " delta" : " key");
}

TEST(KwbCoders, RoundTripAtEveryDepthBothCodersWithAndWithoutDelta) {
  for (int32_t bpp : {1, 2, 3})
    for (bool fast : {true, false})
      for (bool delta : {false, true})
        ExpectRoundTrip(MakeStrip(bpp, 40, 61, 7u + bpp), fast, delta);
}

TEST(KwbCoders, BestBeatsFastOnStructuredData) {
  const Strip s = MakeStrip(3, 60, 80, 99);
  std::vector<uint8_t> a(s.cur.size() + kCoderSlack), b(s.cur.size() + kCoderSlack);
  const int32_t fast = KWDCFast(s.cur.data(), a.data(), nullptr, false, 3, 60, 80);
  const int32_t best = KWDCBest(s.cur.data(), b.data(), nullptr, false, 3, 60, 80);
  ASSERT_GT(fast, 0);
  ASSERT_GT(best, 0);
  EXPECT_LT(best, fast);
  // More matches than the ring of repeats holds: the same size on any machine.
  const Strip big = MakeStrip(3, 120, 160, 1);
  std::vector<uint8_t> c(big.cur.size() + kCoderSlack);
  EXPECT_EQ(KWDCBest(big.cur.data(), c.data(), nullptr, false, 3, 120, 160), 32294);
}

TEST(KwbCoders, UnchangedFrameIsAlmostNothing) {
  const Strip s = MakeStrip(2, 50, 100, 3);
  std::vector<uint8_t> coded(s.prev.size() + kCoderSlack);
  for (bool fast : {true, false}) {
    const int32_t size = fast ? KWDCFast(s.prev.data(), coded.data(), s.prev.data(), true, 2, 50, 100)
                              : KWDCBest(s.prev.data(), coded.data(), s.prev.data(), true, 2, 50, 100);
    ASSERT_GT(size, 0);
    EXPECT_LT(size, 8);  // one long skip and the end token
    std::vector<uint8_t> out = s.prev;
    ASSERT_TRUE(KWDDecodeStrip_(coded.data(), size, out.data(), fast, 2, 50, 100));
    EXPECT_EQ(out, s.prev);
  }
}

TEST(KwbCoders, NoiseIsStoredRaw) {
  std::mt19937 rng(5);
  std::vector<uint8_t> noise(3 * 64 * 32);
  for (auto& b : noise) b = static_cast<uint8_t>(rng());
  std::vector<uint8_t> coded(noise.size() + kCoderSlack);
  EXPECT_EQ(KWDCFast(noise.data(), coded.data(), nullptr, false, 3, 32, 64), 0);
  EXPECT_EQ(KWDCBest(noise.data(), coded.data(), nullptr, false, 3, 32, 64), 0);
}

TEST(KwbCoders, TokensAreCutAtTheEndOfTheStrip) {
  // An odd-sized strip whose last pixels form runs that cannot be whole.
  for (int32_t width : {1, 2, 3, 5, 767, 800}) {
    std::vector<uint8_t> flat(static_cast<size_t>(width) * 3 * 2, 42);
    flat.back() = 7;
    std::vector<uint8_t> coded(flat.size() + kCoderSlack);
    for (bool fast : {true, false}) {
      const int32_t size = fast ? KWDCFast(flat.data(), coded.data(), nullptr, false, 3, 2, width)
                                : KWDCBest(flat.data(), coded.data(), nullptr, false, 3, 2, width);
      if (size == 0) continue;  // too small to gain
      std::vector<uint8_t> out(flat.size(), 0);
      ASSERT_TRUE(KWDDecodeStrip_(coded.data(), size, out.data(), fast, 3, 2, width));
      EXPECT_EQ(out, flat) << width;
    }
  }
}

TEST(KwbDecoder, CorruptStreamsNeverOverrun) {
  const Strip s = MakeStrip(3, 20, 40, 11);
  for (bool fast : {true, false}) {
    std::vector<uint8_t> coded(s.cur.size() + kCoderSlack);
    const int32_t size = fast ? KWDCFast(s.cur.data(), coded.data(), s.prev.data(), true, 3, 20, 40)
                              : KWDCBest(s.cur.data(), coded.data(), s.prev.data(), true, 3, 20, 40);
    ASSERT_GT(size, 0);
    std::mt19937 rng(fast ? 1 : 2);
    for (int trial = 0; trial < 400; trial++) {
      std::vector<uint8_t> bad(coded.begin(), coded.begin() + size);
      if (trial % 2) {
        bad.resize(rng() % bad.size());
      } else {
        for (int k = 0; k < 3; k++) bad[rng() % bad.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
      }
      std::vector<uint8_t> out = s.prev;
      KWDDecodeStrip_(bad.data(), static_cast<int64_t>(bad.size()), out.data(), fast, 3, 20, 40);
      EXPECT_EQ(out.size(), s.prev.size());
    }
  }
}

}  // namespace
