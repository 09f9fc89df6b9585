// Text sprites as a host draws them: a caption written into its images with
// the font it asks for (or the one the system substitutes), where the
// measured extents say, and nowhere else.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "host/HostHandles.h"
#include "host/HostLibrary.h"
#include "qor.h"

namespace {

struct Pixels {
  int32_t width = 0, height = 0, bpp = 0;
  std::vector<uint8_t> bytes;
};

Pixels Read(QorHandle img) {
  Pixels p;
  int32_t total = 0;
  void* pix = nullptr;
  void* pal = nullptr;
  QOR_GET(QorImgGetInfo)(img, &p.width, &p.height, &p.bpp, &total, &pix, &pal);
  if (pix) p.bytes.assign(static_cast<uint8_t*>(pix), static_cast<uint8_t*>(pix) + total);
  return p;
}

// The smallest box holding every pixel that differs (24 bits).
Box Changed(const Pixels& before, const Pixels& after) {
  return BoundingBox(after.width, after.height, [&](int32_t x, int32_t y) {
    const size_t at = (static_cast<size_t>(y) * after.width + x) * 3;
    return std::memcmp(&before.bytes[at], &after.bytes[at], 3) != 0;
  });
}

bool Inside(const Box& inner, const Box& outer) {
  return inner.x >= outer.x && inner.y >= outer.y &&
         inner.x + inner.w <= outer.x + outer.w &&
         inner.y + inner.h <= outer.y + outer.h;
}

std::string Describe(const Box& b) {
  return std::to_string(b.x) + "," + std::to_string(b.y) + " " +
         std::to_string(b.w) + "x" + std::to_string(b.h);
}

// Every changed pixel has one of these B,G,R colours.
bool ChangedOnlyTo(const Pixels& before, const Pixels& after,
                   const std::vector<std::vector<uint8_t>>& colours) {
  for (size_t at = 0; at + 3 <= after.bytes.size(); at += 3) {
    if (std::memcmp(&before.bytes[at], &after.bytes[at], 3) == 0) continue;
    bool known = false;
    for (const auto& c : colours) known = known || std::memcmp(c.data(), &after.bytes[at], 3) == 0;
    if (!known) return false;
  }
  return true;
}

void MakeGrey(QorHandle img, int32_t width, int32_t height) {
  QOR_GET(QorImgSetPixels)(img, width, height, 24, nullptr, nullptr);
  QOR_GET(QorImgClear)(img, 0x808080);
}

}  // namespace

TEST(HostText, FreshTextIsPlainBlackOnTransparentInsideItsExtents) {
  ASSERT_NE(Lib().handle(), nullptr) << Lib().error();
  Text t;
  ASSERT_NE(t.h, nullptr);
  int32_t w = -1, h = -1;
  QOR_GET(QorTextGetExtents)(t.h, "Caption 42", &w, &h);
  EXPECT_EQ(LastCode(), 0);
  EXPECT_GT(w, 20);
  EXPECT_GT(h, 8);

  Img img;
  MakeGrey(img.h, 200, 60);
  const Pixels before = Read(img.h);
  QOR_GET(QorTextOut)(img.h, t.h, 10, 8, "Caption 42");
  EXPECT_EQ(LastCode(), 0);
  const Pixels after = Read(img.h);
  const Box changed = Changed(before, after);
  EXPECT_GT(changed.w, 0);
  EXPECT_TRUE(Inside(changed, {10, 8, w, h})) << Describe(changed);
  // Only text pixels: black; the background stayed the image's.
  EXPECT_TRUE(ChangedOnlyTo(before, after, {{0, 0, 0}}));
}

TEST(HostText, CaptionWithBorderInASubstituteFont) {
  // The application's caption: bold "Arial" 20 with a one-pixel border.
  // The system gives whatever face it has for that family.
  Text t;
  QOR_GET(QorTextSetFont)(t.h, "Arial", 20, 1 | 16 | 64);  // unknown bits ignored
  QOR_GET(QorTextSetColor)(t.h, 0x00FFFF, 0x800000, 0xFFFFFF, -1);
  QOR_GET(QorTextShadow)(t.h, 2, 1, 1);
  QOR_GET(QorTextShadow)(t.h, 3, 1, 1);  // a mode past the last keeps the border
  EXPECT_EQ(LastCode(), 0);
  int32_t w = 0, h = 0;
  QOR_GET(QorTextGetExtents)(t.h, "Frame 7", &w, &h);
  EXPECT_GE(h, 15);
  EXPECT_LE(h, 40);

  Img img;
  MakeGrey(img.h, 240, 80);
  const Pixels before = Read(img.h);
  QOR_GET(QorTextOut)(img.h, t.h, 10, 8, "Frame 7");
  const Pixels after = Read(img.h);
  // The border adds one pixel on every side of the measured text.
  const Box changed = Changed(before, after);
  EXPECT_GT(changed.w, 0);
  EXPECT_TRUE(Inside(changed, {10, 8, w + 2, h + 2})) << Describe(changed);
  // Yellow text (red 255, green 255) and dark blue border, B,G,R stored.
  EXPECT_TRUE(ChangedOnlyTo(before, after, {{0, 255, 255}, {128, 0, 0}}));
  int yellow = 0, border = 0;
  for (size_t at = 0; at + 3 <= after.bytes.size(); at += 3) {
    yellow += after.bytes[at] == 0 && after.bytes[at + 1] == 255;
    border += after.bytes[at] == 128 && after.bytes[at + 2] == 0;
  }
  EXPECT_GT(yellow, 20);
  EXPECT_GT(border, yellow / 2);

  // Opaque: the whole sprite is pasted, background included.
  QOR_GET(QorTextSetColor)(t.h, 0x000000, 0x000000, 0x0000FF, 0);
  QOR_GET(QorTextShadow)(t.h, 0, 1, 1);
  Img opaque;
  MakeGrey(opaque.h, 240, 80);
  const Pixels grey = Read(opaque.h);
  QOR_GET(QorTextOut)(opaque.h, t.h, 5, 5, "Frame 7");
  const Pixels pasted = Read(opaque.h);
  const Box solid = Changed(grey, pasted);
  EXPECT_EQ(solid.x, 5);
  EXPECT_EQ(solid.y, 5);
  EXPECT_GE(solid.w, w);  // the sprite is the text raised to 32 pixels
  EXPECT_EQ(solid.h, h);
  EXPECT_EQ(pasted.bytes[(5 * 240 + 5) * 3 + 2], 255);  // red background
}

// Another shadow mode keeps the effect and still takes the offsets: a drop
// shadow set by 2, 2 and then such a mode with 5, 4 draws as one set by 5, 4.
TEST(HostText, OtherShadowModesKeepTheEffectAndTakeTheOffsets) {
  using Call = std::array<int32_t, 3>;
  auto draw = [](std::initializer_list<Call> calls) {
    Text t;
    QOR_GET(QorTextSetColor)(t.h, 0x000000, 0x0000FF, 0xFFFFFF, -1);
    for (const Call& c : calls) QOR_GET(QorTextShadow)(t.h, c[0], c[1], c[2]);
    EXPECT_EQ(LastCode(), 0);
    Img img;
    MakeGrey(img.h, 120, 50);
    QOR_GET(QorTextOut)(img.h, t.h, 4, 4, "Shadow");
    return Read(img.h).bytes;
  };
  const std::vector<uint8_t> dropped = draw({{1, 5, 4}}), plain = draw({{0, 5, 4}});
  EXPECT_NE(dropped, plain);
  EXPECT_EQ(draw({{1, 2, 2}, {7, 5, 4}}), dropped);
  EXPECT_EQ(draw({{1, 2, 2}, {K_AUTO, 5, 4}}), dropped);
  EXPECT_EQ(draw({{0, 2, 2}, {3, 5, 4}}), plain);
}

TEST(HostText, DepthsEmptyTextAndNilHandles) {
  Text t;
  // Into an 8-bit image: the image becomes 24-bit.
  Img img;
  const std::vector<uint8_t> idx(64 * 32, 200);
  QOR_GET(QorImgSetPixels)(img.h, 64, 32, 8, idx.data(), nullptr);
  QOR_GET(QorTextOut)(img.h, t.h, 2, 2, "A");
  Pixels p = Read(img.h);
  EXPECT_EQ(p.bpp, 24);
  EXPECT_EQ((std::vector<uint8_t>(p.bytes.end() - 3, p.bytes.end())),
            (std::vector<uint8_t>{200, 200, 200}));

  // An empty text changes nothing but the depth.
  Img quiet;
  QOR_GET(QorImgSetPixels)(quiet.h, 8, 4, 8, idx.data(), nullptr);
  QOR_GET(QorTextOut)(quiet.h, t.h, 0, 0, "");
  EXPECT_EQ(LastCode(), 0);
  p = Read(quiet.h);
  EXPECT_EQ(p.bpp, 24);
  EXPECT_EQ(p.bytes, std::vector<uint8_t>(8 * 4 * 3, 200));
  int32_t w = -1, h = -1;
  QOR_GET(QorTextGetExtents)(t.h, "", &w, &h);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);

  // An image without pixels becomes the sprite.
  Img fresh;
  QOR_GET(QorTextOut)(fresh.h, t.h, 0, 0, "Wide text");
  p = Read(fresh.h);
  EXPECT_GT(p.width, 0);
  EXPECT_EQ(p.width % 32, 0);

  // Nil handles and outputs: status 999, no crash.
  QOR_GET(QorTextOut)(nullptr, t.h, 0, 0, "x");
  EXPECT_EQ(LastCode(), 999);
  QOR_GET(QorTextOut)(img.h, nullptr, 0, 0, "x");
  EXPECT_EQ(LastCode(), 999);
  QOR_GET(QorTextSetFont)(nullptr, "Arial", 12, 0);
  EXPECT_EQ(LastCode(), 999);
  QOR_GET(QorTextGetExtents)(t.h, "x", nullptr, &h);
  EXPECT_EQ(LastCode(), 999);
  QOR_GET(QorTextFree)(nullptr);
  EXPECT_EQ(LastCode(), 0);
  // An image handle is no text handle.
  QOR_GET(QorTextShadow)(img.h, 1, 2, 2);
  EXPECT_EQ(LastCode(), 999);
  QOR_GET(QorTextFree)(img.h);
  EXPECT_EQ(LastCode(), 999);
  EXPECT_EQ(Read(img.h).bpp, 24);
}
