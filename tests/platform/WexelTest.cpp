#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/Wexel.h"
#include "support/TestUtil.h"

using TestUtil::TempDir;

namespace {

std::vector<std::string> g_errors, g_warnings;
void OnError(const char* m) { g_errors.emplace_back(m); }
void OnWarning(const char* m) { g_warnings.emplace_back(m); }

struct Listen {
  Listen() {
    g_errors.clear();
    g_warnings.clear();
    ExternErrorSet(OnError);
    ExternWarningSet(OnWarning);
  }
  ~Listen() {
    ExternErrorSet(nullptr);
    ExternWarningSet(nullptr);
  }
};

// A 4 x 2 grey picture written through the layer.
std::string WriteSmallJpeg(const TempDir& dir) {
  const std::string file = dir.File("s.jpg");
  std::vector<uint8_t> bgr(4 * 2 * 3, 200);
  EXPECT_EQ(write_JPEG_file(file.c_str(), bgr.data(), 4, 2, 90), 0);
  return file;
}

TEST(WexelLayer, TiffMessagesGoToTheCallbacksAndNowhereWithout) {
  TempDir dir;
  TestUtil::WriteText(dir.File("x.tif"), "plain text");
  {
    Listen listen;
    EXPECT_EQ(TIFFOpen(dir.File("x.tif").c_str(), "r"), nullptr);
    ASSERT_EQ(g_errors.size(), 1u);
    EXPECT_NE(g_errors[0].find("Not a TIFF"), std::string::npos);
  }
  EXPECT_EQ(TIFFOpen(dir.File("x.tif").c_str(), "r"), nullptr);  // dropped
  EXPECT_EQ(g_errors.size(), 1u);
}

TEST(WexelLayer, JpegSizesComponentsAndBufferCheck) {
  TempDir dir;
  Listen listen;
  const std::string file = WriteSmallJpeg(dir);
  int32_t w = 0, h = 0, c = 0;
  ASSERT_EQ(info_JPEG_file(file.c_str(), &w, &h, &c), 0);
  EXPECT_EQ(w, 4);
  EXPECT_EQ(h, 2);
  EXPECT_EQ(c, 3);
  std::vector<uint8_t> pixels(24);
  EXPECT_EQ(read_JPEG_file(file.c_str(), pixels.data(), 24, &w, &h, &c), 0);
  EXPECT_NEAR(pixels[0], 200, 2);
  // One byte short of the picture: refused, nothing written past the end.
  std::vector<uint8_t> small(23, 7);
  EXPECT_NE(read_JPEG_file(file.c_str(), small.data(), 23, &w, &h, &c), 0);
  EXPECT_FALSE(g_errors.empty());
  EXPECT_NE(read_JPEG_file(file.c_str(), nullptr, 0, &w, &h, &c), 0);
  // libjpeg's own limit arrives as its own message.
  g_errors.clear();
  std::vector<uint8_t> row(3 * 70000);
  EXPECT_NE(write_JPEG_file(dir.File("big.jpg").c_str(), row.data(), 70000, 1,
                            50),
            0);
  ASSERT_EQ(g_errors.size(), 1u);
  EXPECT_NE(g_errors[0].find("65500"), std::string::npos) << g_errors[0];
  EXPECT_FALSE(std::ifstream(dir.File("big.jpg")).good());  // removed
}

// The colour key wins over the mono one, whichever comes first.
TEST(WexelLayer, XpmSizeQueryThenPixelsOfThatSizeOnly) {
  TempDir dir;
  Listen listen;
  const std::string file = dir.File("a.xpm");
  TestUtil::WriteText(file,
                      "/* XPM */\nstatic char *a[] = {\n\"3 1 2 1\",\n"
                      "\"a c #010203\",\n\"b m black c #FFFFFF\",\n\"aba\"};\n");
  XpmImageDesc desc;
  ASSERT_EQ(ReadXpm(file.c_str(), &desc), 0);
  EXPECT_EQ(desc.width, 3);
  EXPECT_EQ(desc.height, 1);
  std::vector<uint8_t> pixels(9);
  desc.pixels = pixels.data();
  ASSERT_EQ(ReadXpm(file.c_str(), &desc), 0);
  EXPECT_EQ(pixels, (std::vector<uint8_t>{3, 2, 1, 255, 255, 255, 3, 2, 1}));
  desc.width = 2;  // sized for another picture
  EXPECT_NE(ReadXpm(file.c_str(), &desc), 0);
  EXPECT_FALSE(g_errors.empty());
}

void PngError(png_structp, png_const_charp m) { g_errors.emplace_back(m); }
void PngWarning(png_structp, png_const_charp m) { g_warnings.emplace_back(m); }

TEST(WexelLayer, PngFailuresReturnThroughTheLayer) {
  Listen listen;
  png_structp png = Wexel::png_create_write_struct(
      PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
  ASSERT_NE(png, nullptr);
  png_infop info = Wexel::png_create_info_struct(png);
  ASSERT_NE(info, nullptr);
  // A zero width is refused by libpng; the call comes back false with the
  // library's message handed to our callback.
  EXPECT_FALSE(Wexel::png_set_IHDR(png, info, 0, 5, 8, PNG_COLOR_TYPE_RGB,
                                   PNG_INTERLACE_NONE,
                                   PNG_COMPRESSION_TYPE_DEFAULT,
                                   PNG_FILTER_TYPE_DEFAULT));
  EXPECT_FALSE(g_errors.empty());
  Wexel::png_destroy_write_struct(&png, &info);
  EXPECT_EQ(png, nullptr);
  // A version text the library does not share gives no structure.
  g_warnings.clear();
  EXPECT_EQ(Wexel::png_create_read_struct("1.2.2", nullptr, PngError,
                                          PngWarning),
            nullptr);
  ASSERT_FALSE(g_warnings.empty());
  EXPECT_NE(g_warnings[0].find("1.2.2"), std::string::npos) << g_warnings[0];
}

}  // namespace
