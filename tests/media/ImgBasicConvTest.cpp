// Depth conversions between every pair of 8, 15, 16, 24 and 32 bits. The
// expected words and bytes below were worked out by hand from the bit
// layouts; the pixels are chosen so that truncation of the low bits and the
// order of the fields show.
#include <gtest/gtest.h>

#include <cstring>

#include "foundation/Errors.h"
#include "media/ImgBasic.h"
#include "support/ImgFixtures.h"

using namespace ImgBasic;
using TestSupport::Fill;
using TestSupport::Pixels;

namespace {

// Two colours, as B,G,R bytes:
//   P = (15, 135, 255): b5 1, g5 16, g6 33, r5 31
//   Q = (248, 4, 7):    b5 31, g5 0, g6 1, r5 0
using Bytes = std::vector<uint8_t>;
const std::vector<uint8_t> k24 = {15, 135, 255, 248, 4, 7};
const std::vector<uint8_t> k32 = {15, 135, 255, 0xAA, 248, 4, 7, 0x55};
// 15 bits: P = 1 | 16<<5 | 31<<10 = 0x7E01, Q = 0x001F.
const std::vector<uint8_t> k15 = {0x01, 0x7E, 0x1F, 0x00};
// 16 bits: P = 1 | 33<<5 | 31<<11 = 0xFC21, Q = 31 | 1<<5 = 0x003F.
const std::vector<uint8_t> k16 = {0x21, 0xFC, 0x3F, 0x00};

class ImgConv : public TestSupport::ImgTest {
 protected:
  // Converts src into a new record and returns its pixels.
  std::vector<uint8_t> Conv(Qimg* src, int32_t bits, int32_t mode = 0) {
    Qimg* dst = New();
    ImgConvBppEx(src, dst, bits, mode);
    EXPECT_EQ(dst->bitsPerPixel, bits);
    EXPECT_EQ(dst->bytesPerPixel, (bits + 7) / 8);
    EXPECT_EQ(dst->width, src->width);
    EXPECT_EQ(dst->height, src->height);
    return Pixels(*dst);
  }
  Qimg* Make(int32_t bits, const std::vector<uint8_t>& bytes) {
    Qimg* img = New();
    Fill(img, 2, 1, bits, bytes);
    return img;
  }
  Qimg* Make8() {
    Qimg* img = New();
    Fill(img, 2, 1, 8, {1, 200});
    for (int i = 0; i < 3; i++) {
      img->palette[3 + i] = k24[i];
      img->palette[600 + i] = k24[3 + i];
    }
    return img;
  }
};

TEST_F(ImgConv, From24) {
  Qimg* s = Make(24, k24);
  EXPECT_EQ(Conv(s, 15), k15);
  EXPECT_EQ(Conv(s, 16), k16);
  EXPECT_EQ(Conv(s, 32), (std::vector<uint8_t>{15, 135, 255, 0, 248, 4, 7, 0}));
  // Grey: (15+135+255) div 3 = 135, (248+4+7) div 3 = 86.
  EXPECT_EQ(Conv(s, 8, kConvGrey), (std::vector<uint8_t>{135, 86}));
}

TEST_F(ImgConv, From32) {
  Qimg* s = Make(32, k32);
  EXPECT_EQ(Conv(s, 15), k15);
  EXPECT_EQ(Conv(s, 16), k16);
  EXPECT_EQ(Conv(s, 24), k24);
  EXPECT_EQ(Conv(s, 8, kConvGrey), (std::vector<uint8_t>{135, 86}));
}

TEST_F(ImgConv, From15) {
  Qimg* s = Make(15, k15);
  // Each field times 8, low bits zero: P = (8, 128, 248), Q = (248, 0, 0).
  EXPECT_EQ(Conv(s, 24), (std::vector<uint8_t>{8, 128, 248, 248, 0, 0}));
  EXPECT_EQ(Conv(s, 32), (std::vector<uint8_t>{8, 128, 248, 0, 248, 0, 0, 0}));
  // Green moves up one bit with a zero low bit: P = 1 | 32<<5 | 31<<11.
  EXPECT_EQ(Conv(s, 16), (std::vector<uint8_t>{0x01, 0xFC, 0x1F, 0x00}));
  // Grey: P: 255 + (128|14) + 15 = 412 -> 137; Q: 7 + 14 + 255 = 276 -> 92.
  EXPECT_EQ(Conv(s, 8, kConvGrey), (std::vector<uint8_t>{137, 92}));
}

TEST_F(ImgConv, From16) {
  Qimg* s = Make(16, k16);
  // Green times 4: P = (8, 132, 248), Q = (248, 4, 0).
  EXPECT_EQ(Conv(s, 24), (std::vector<uint8_t>{8, 132, 248, 248, 4, 0}));
  EXPECT_EQ(Conv(s, 32), (std::vector<uint8_t>{8, 132, 248, 0, 248, 4, 0, 0}));
  // Lowest green bit dropped: g6 33 -> g5 16, g6 1 -> 0.
  EXPECT_EQ(Conv(s, 15), k15);
  // Grey: P: 255 + (132|6) + 15 = 404 -> 134; Q: 7 + (4|6) + 255 = 268 -> 89.
  EXPECT_EQ(Conv(s, 8, kConvGrey), (std::vector<uint8_t>{134, 89}));
  // Either side of the red-green boundary: red 16 alone (0x8000), green 32
  // alone (0x0400); both 135 + 6 + 7 = 148 -> 49.
  EXPECT_EQ(Conv(Make(16, {0x00, 0x80, 0x00, 0x04}), 8, kConvGrey),
            (std::vector<uint8_t>{49, 49}));
}

TEST_F(ImgConv, From8ThroughPalette) {
  Qimg* s = Make8();
  EXPECT_EQ(Conv(s, 24), k24);
  EXPECT_EQ(Conv(s, 32), (std::vector<uint8_t>{15, 135, 255, 0, 248, 4, 7, 0}));
  EXPECT_EQ(Conv(s, 15), k15);
  EXPECT_EQ(Conv(s, 16), k16);
}

TEST_F(ImgConv, GreyRampPaletteAndDarkSums) {
  Qimg* s = New();
  Fill(s, 3, 1, 24, {2, 2, 2, 3, 3, 3, 3, 3, 2});
  Qimg* d = New();
  ImgConvBppEx(s, d, 8, kConvGrey);
  // Sum 6 -> 0; sum 9 -> 3; sum 8 -> 0 (below 9).
  EXPECT_EQ(Pixels(*d), (std::vector<uint8_t>{0, 3, 0}));
  for (int i = 0; i < 256; i++) {
    ASSERT_EQ(d->palette[i * 3], i);
    ASSERT_EQ(d->palette[i * 3 + 2], i);
  }
}

TEST_F(ImgConv, AllGreenSixteenBitIsNotReplicated) {
  Qimg* s = New();
  Fill(s, 1, 1, 16, {0xE0, 0x07});
  EXPECT_EQ(Conv(s, 24), (std::vector<uint8_t>{0, 252, 0}));
}

TEST_F(ImgConv, TwentyFourToFifteenAndBackZeroesLowBits) {
  Qimg* s = New();
  std::vector<uint8_t> all;
  for (int v = 0; v < 256; v++)
    all.insert(all.end(), {uint8_t(v), uint8_t(255 - v), uint8_t(v ^ 0x5A)});
  Fill(s, 256, 1, 24, all);
  Qimg* mid = New();
  ImgConvBpp(s, mid, 15);
  Qimg* back = New();
  ImgConvBpp(mid, back, 24);
  std::vector<uint8_t> expect = all;
  for (uint8_t& b : expect) b &= 0xF8;
  EXPECT_EQ(Pixels(*back), expect);
}

TEST_F(ImgConv, OntoItselfChangesDepthWithoutLeak) {
  Qimg* s = New();
  Fill(s, 2, 1, 24, k24);
  ImgConvBpp(s, s, 32);
  EXPECT_EQ(s->bitsPerPixel, 32);
  EXPECT_EQ(s->bytesPerPixel, 4);
  EXPECT_EQ(Pixels(*s), (std::vector<uint8_t>{15, 135, 255, 0, 248, 4, 7, 0}));
  EXPECT_EQ(Basic::MemMark(), 1);  // only the record's own block
  EXPECT_TRUE(Basic::MemIsTracked(s->data));
}

TEST_F(ImgConv, OntoItselfAtSameDepthChangesNothing) {
  Qimg* s = New();
  Fill(s, 2, 1, 24, k24);
  uint8_t* before = s->data;
  ImgConvBpp(s, s, 24);
  EXPECT_EQ(s->data, before);
  EXPECT_EQ(Pixels(*s), k24);
  EXPECT_TRUE(Errors::ErrNone());
}

TEST_F(ImgConv, SameDepthIntoOtherRecordCopiesPalette) {
  Qimg* s = Make8();
  Qimg* d = New();
  ImgConvBpp(s, d, 8);
  EXPECT_EQ(Pixels(*d), (std::vector<uint8_t>{1, 200}));
  EXPECT_EQ(0, std::memcmp(d->palette, s->palette, 768));
}

TEST(ImgConvRow, ConvRowTo24Orders) {
  const uint8_t in3[] = {1, 2, 3, 4, 5, 6};
  uint8_t out[6];
  ConvRowTo24(false, 3, 2, out, in3);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 6),
            (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
  ConvRowTo24(true, 3, 2, out, in3);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 6),
            (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));
  const uint8_t in4[] = {1, 2, 3, 99, 4, 5, 6, 99};
  ConvRowTo24(true, 4, 2, out, in4);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 6),
            (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));
  // 5-5-5 word 0x7E01: b 8, g 128, r 248.
  const uint8_t in2[] = {0x01, 0x7E};
  ConvRowTo24(true, 2, 1, out, in2);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{8, 128, 248}));
  ConvRowTo24(false, 2, 1, out, in2);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{248, 128, 8}));
}

TEST(ImgConvRow, PalettesAndColourValues) {
  uint8_t pal[768];
  PalMakeGreyInv(pal);
  EXPECT_EQ(pal[0], 255);
  EXPECT_EQ(pal[767], 0);
  const Rgb c = SplitColorRef(0x00112233);
  EXPECT_EQ(c.red, 0x33);
  EXPECT_EQ(c.green, 0x22);
  EXPECT_EQ(c.blue, 0x11);
}

TEST_F(ImgConv, HostileSizesAreRefused) {
  Qimg* img = New();
  EXPECT_THROW(_imgalloc_(img, 100000, 100000, "t", __LINE__, 24), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), Errors::kClsImage);
  EXPECT_EQ(Errors::ErrCode(), 2);
  EXPECT_THROW(_imgalloc_(img, 0, 5, "t", __LINE__, 24), Errors::EMon);
  EXPECT_THROW(_imgalloc_(img, 5, -1, "t", __LINE__, 24), Errors::EMon);
  EXPECT_FALSE(ImgIsValid(img));
}

}  // namespace

namespace {

// Records attached to pixels they do not own.
class ImgAttached : public TestSupport::ImgTest {};

TEST_F(ImgAttached, FreeLeavesTheOwnersBlockAlone) {
  Qimg* owner = New();
  Fill(owner, 2, 1, 24, k24);
  Qimg view;
  view.data = owner->data;
  view.attached = true;
  ImgSetDims(&view, 2, 1, 24);
  EXPECT_EQ(view.size, 6);
  EXPECT_TRUE(ImgIsValid(&view));
  ImgFree(&view);
  EXPECT_FALSE(ImgIsValid(&view));
  EXPECT_TRUE(Basic::MemIsTracked(owner->data));
  EXPECT_EQ(Pixels(*owner), k24);
}

TEST_F(ImgAttached, PasteDrawsIntoTheAttachedPixels) {
  uint8_t host[12] = {0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3};
  Qimg view;
  view.data = host;
  view.attached = true;
  ImgSetDims(&view, 2, 2, 24);
  Qimg* src = New();
  Fill(src, 1, 1, 24, {9, 8, 7});
  ImgInsert(src, &view, 1, 1);
  EXPECT_EQ(view.data, host);
  EXPECT_TRUE(view.attached);
  EXPECT_EQ(Bytes(host, host + 12),
            (Bytes{0, 0, 0, 1, 1, 1, 2, 2, 2, 9, 8, 7}));
}

TEST_F(ImgAttached, ExchangeKeepsOwnershipWithTheBlock) {
  Qimg* owner = New();
  Fill(owner, 2, 1, 24, k24);
  Qimg* view = New();
  view->data = owner->data;
  view->attached = true;
  ImgSetDims(view, 2, 1, 24);
  Qimg* other = New();
  Fill(other, 1, 1, 8, {3});
  ImgXchg(view, other);
  EXPECT_TRUE(other->attached);
  EXPECT_EQ(other->data, owner->data);
  EXPECT_EQ(Pixels(*view), (Bytes{3}));
  ImgFree(other);  // attached: frees nothing
  EXPECT_TRUE(Basic::MemIsTracked(owner->data));
  ImgFree(view);  // now owns the 8-bit block
  EXPECT_EQ(Basic::MemMark(), 1);
}

}  // namespace
