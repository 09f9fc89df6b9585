// Damaged files: every test file cut at every offset (64 evenly spaced
// offsets for larger files) and with bytes flipped must give an error pair
// or the same picture, never a crash or a read outside the file (run these
// under the sanitizer build). The files go through the still dispatch, the
// codec-library formats and GIF included.
#include <gtest/gtest.h>

#include "FormatTestUtil.h"
#include "GifWriter.h"
#include "formats/FF_JPG.h"
#include "formats/FF_PNG.h"
#include "formats/FF_PNM.h"
#include "formats/FF_RAS.h"
#include "formats/FF_SGI.h"
#include "formats/FF_TIF.h"

using namespace fmttest;

namespace {

struct Sample {
  std::string name;
  Bytes data;
  // A plain Sun raster shorter than its padded rows is read with unpadded
  // rows: cutting up to this many bytes may give that reading instead of an
  // error.
  int64_t unpaddedSlack = 0;
  // A GIF keeps what its cut data decoded: a cut file may load with the
  // rest of its frame left at the background.
  bool partialLoads = false;
};

Bytes WriteWithLibrary(const Rgb& pic, int32_t bits, const std::string& name) {
  ImgBasic::Qimg image;
  ToQimg(pic, bits, &image);
  const std::string path = Path(name);
  EXPECT_TRUE(Save(path, &image)) << name << ": " << Errors::ErrLastText();
  ImgBasic::ImgFree(&image);
  return ReadFile(path);
}

// Files of every format, depth and encoding the library writes, plus a few
// built by hand in the forms other writers use.
std::vector<Sample> Corpus(int32_t width, int32_t height) {
  std::vector<Sample> out;
  const Rgb pic = TestPicture(width, height);
  const Rgb few = FewColours(width, height);
  auto add = [&](const Rgb& pic, int32_t bits, const std::string& name) {
    out.push_back({name, WriteWithLibrary(pic, bits, name)});
  };
  for (int on = 0; on <= 1; on++) {
    ConForm::TGASetCompression(on);
    FF_SGI::SGISetCompression(on);
    FF_RAS::RASSetCompression(on);
    FF_PNM::PNMSetEncoding(on);
    const std::string v = std::to_string(on);
    add(few, 8, "c8_" + v + ".tga");
    add(pic, 15, "c15_" + v + ".tga");
    add(pic, 32, "c32_" + v + ".tga");
    add(pic, 24, "c24_" + v + ".sgi");
    add(pic, 32, "c32_" + v + ".sgi");
    add(few, 8, "c8_" + v + ".ras");
    add(pic, 24, "c24_" + v + ".ras");
    add(pic, 32, "c32_" + v + ".ras");
    if (!on && (width & 1)) {
      out[out.size() - 3].unpaddedSlack = height;  // 8 bits, odd rows
      out[out.size() - 2].unpaddedSlack = height;  // 24 bits, odd rows
    }
    add(pic, 24, "c24_" + v + ".ppm");
  }
  ConForm::TGASetCompression(1);
  FF_SGI::SGISetCompression(1);
  FF_RAS::RASSetCompression(1);
  FF_PNM::PNMSetEncoding(0);
  add(few, 8, "c8.pcx");
  add(pic, 24, "c24.pcx");
  add(few, 8, "c8.bmp");
  add(pic, 15, "c15.bmp");
  add(pic, 24, "c24.bmp");
  add(pic, 32, "c32.bmp");
  // An RLE8 bitmap with delta, odd literal and end-of-line escapes.
  Bytes rle = {'B', 'M'};
  Put32L(rle, 0);
  Put32L(rle, 0);
  Put32L(rle, 54 + 64);
  Put32L(rle, 40);
  Put32L(rle, 4);
  Put32L(rle, 3);
  Put16L(rle, 1);
  Put16L(rle, 8);
  Put32L(rle, 1);
  for (int i = 0; i < 5; i++) Put32L(rle, 0);
  for (int i = 0; i < 16; i++) rle.insert(rle.end(), {static_cast<uint8_t>(i * 9), 3, 7, 0});
  rle.insert(rle.end(), {1, 5, 0, 3, 6, 7, 8, 0, 0, 0, 0, 2, 1, 0, 3, 4, 0, 0,
                         0, 4, 9, 10, 11, 12, 0, 1});
  out.push_back({"hand_rle8.bmp", rle});
  // A 4-bit bitmap.
  Bytes four = {'B', 'M'};
  Put32L(four, 0);
  Put32L(four, 0);
  Put32L(four, 54 + 64);
  Put32L(four, 40);
  Put32L(four, 3);
  Put32L(four, 2);
  Put16L(four, 1);
  Put16L(four, 4);
  for (int i = 0; i < 6; i++) Put32L(four, 0);
  for (int i = 0; i < 16; i++) four.insert(four.end(), {static_cast<uint8_t>(i), 2, 200, 0});
  four.insert(four.end(), {0x12, 0x30, 0, 0, 0xF0, 0x70, 0, 0});
  out.push_back({"hand4.bmp", four});
  // An ASCII graymap with a comment and maximum 15.
  const std::string pgm = "P2\n# c\n3 2\n15\n0 1 2\n13 14 15\n";
  out.push_back({"hand.pgm", Bytes(pgm.begin(), pgm.end())});
  // The formats of the codec libraries, in each coding their writers offer.
  for (int32_t compression : {1, 5, 7, 32773, 32946, 4}) {
    FF_TIF::TIFSetCompression(compression);
    const std::string c = std::to_string(compression);
    add(pic, 24, "c24_" + c + ".tif");
    if (compression == 1 || compression == 5) {
      add(few, 8, "c8_" + c + ".tif");
      add(pic, 32, "c32_" + c + ".tif");
    }
  }
  FF_TIF::TIFSetCompression(1);
  for (int32_t level : {0, 9}) {
    FF_PNG::PNGLevel(level);
    const std::string l = std::to_string(level);
    add(few, 8, "c8_" + l + ".png");
    add(pic, 24, "c24_" + l + ".png");
    add(pic, 32, "c32_" + l + ".png");
  }
  FF_PNG::PNGLevel(6);
  for (int32_t quality : {30, 95}) {
    FF_JPG::JPGQuality(quality);
    add(pic, 24, "c24_" + std::to_string(quality) + ".jpg");
  }
  FF_JPG::JPGQuality(85);
  add(pic, 24, "c24.xpm");
  add(few, 8, "c8.xpm");
  // A GIF animation built by hand (the library reads GIF only): the still
  // dispatch takes its first frame.
  {
    giftest::GifWriter gif(width, height, 3);
    std::vector<uint8_t> first(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < first.size(); i++) first[i] = static_cast<uint8_t>(i * 7 % 251);
    gif.Control(0, 5, 10);
    gif.Image(0, 0, width, height, first, true);
    gif.Control(2, -1, 10);
    gif.Image(0, 0, 1, 1, {9});
    gif.Save(Path("hand.gif"));
    out.push_back({"hand.gif", ReadFile(Path("hand.gif"))});
    out.back().partialLoads = true;
  }
  return out;
}

// Loads a file; true with its picture, or false with an error pair set.
bool LoadPicture(const std::string& path, Rgb* pic) {
  ImgBasic::Qimg image;
  if (!Load(path, &image)) {
    EXPECT_NE(Errors::ErrClass(), 0) << path;
    EXPECT_NE(Errors::ErrCode(), 0) << path;
    return false;
  }
  EXPECT_GT(image.width, 0);
  EXPECT_GT(image.height, 0);
  *pic = FromQimg(image);
  ImgBasic::ImgFree(&image);
  return true;
}

void DescribeDamaged(const std::string& path) {
  ConForm::FFInfoRec info;
  try {
    ConForm::FFInfo(path, Basic::K_AUTO, &info, nullptr, nullptr);
  } catch (const Errors::EMon&) {
    EXPECT_NE(Errors::ErrClass(), 0) << path;
  }
  ConForm::UniInfoRec uni;
  ConForm::UniInfo(path, &uni, 1, nullptr, nullptr, false);
}

std::vector<int64_t> CutOffsets(int64_t size) {
  std::vector<int64_t> cuts;
  if (size <= 1200) {
    for (int64_t k = 0; k < size; k++) cuts.push_back(k);
  } else {
    for (int64_t k = 0; k < 64; k++) cuts.push_back(k * size / 64);
  }
  return cuts;
}

void Truncations(const std::vector<Sample>& corpus) {
  for (const Sample& s : corpus) {
    const std::string whole = Path("whole_" + s.name);
    WriteFile(whole, s.data);
    Rgb reference;
    ASSERT_TRUE(LoadPicture(whole, &reference)) << s.name << ": " << Errors::ErrLastText();
    int failures = 0;
    for (int64_t cut : CutOffsets(static_cast<int64_t>(s.data.size()))) {
      const std::string path = Path("cut_" + s.name);
      WriteFile(path, Bytes(s.data.begin(), s.data.begin() + cut));
      Rgb got;
      const bool unpadded =
          static_cast<int64_t>(s.data.size()) - cut <= s.unpaddedSlack;
      if (LoadPicture(path, &got))
        EXPECT_TRUE(got == reference || unpadded || s.partialLoads)
            << s.name << " cut at " << cut << " loaded a different picture";
      else
        failures++;
      if (cut % 7 == 0) DescribeDamaged(path);
    }
    EXPECT_GT(failures, 0) << s.name;
  }
}

void Flips(const std::vector<Sample>& corpus) {
  uint32_t seed = 12345;
  for (const Sample& s : corpus) {
    for (int round = 0; round < 64; round++) {
      Bytes damaged = s.data;
      const int flips = 1 + round % 4;
      for (int k = 0; k < flips; k++) {
        seed = seed * 1664525u + 1013904223u;
        // Half the flips hit the first 64 bytes, where the headers are.
        const size_t span = (round & 1) ? damaged.size() : std::min<size_t>(64, damaged.size());
        damaged[(seed >> 8) % span] ^= static_cast<uint8_t>(1u << ((seed >> 4) & 7));
      }
      const std::string path = Path("flip_" + s.name);
      WriteFile(path, damaged);
      Rgb got;
      LoadPicture(path, &got);
      DescribeDamaged(path);
    }
  }
}

}  // namespace

TEST(Robustness, SmallFilesCutAtEveryOffset) { Truncations(Corpus(5, 3)); }

TEST(Robustness, LargerFilesCutAt64Offsets) { Truncations(Corpus(61, 23)); }

TEST(Robustness, FlippedBytes) {
  Flips(Corpus(5, 3));
  Flips(Corpus(33, 9));
}

TEST(Robustness, BayFiles) {
  Bytes f(74752, 77);
  std::memcpy(&f[74752 - 1024 + 3], "BAY 2", 5);
  f[74752 - 1024 + 8] = 1;
  std::vector<Sample> corpus = {{"c.bay", f}};
  Truncations(corpus);
  Flips(corpus);
}

TEST(Robustness, HugeHeaderValuesAreRefused) {
  struct Case {
    const char* name;
    Bytes data;
  };
  std::vector<Case> cases;
  {  // BMP claiming 2^31-1 x 2^31-1 at 32 bits
    Bytes b = {'B', 'M'};
    Put32L(b, 0);
    Put32L(b, 0);
    Put32L(b, 54);
    Put32L(b, 40);
    Put32L(b, 0x7FFFFFFF);
    Put32L(b, 0x7FFFFFFF);
    Put16L(b, 1);
    Put16L(b, 32);
    for (int i = 0; i < 6; i++) Put32L(b, 0);
    cases.push_back({"huge.bmp", b});
  }
  {  // Sun raster of 4 G x 4 G
    Bytes b;
    for (uint32_t v : {0x59A66A95u, 0xFFFFFFFFu, 0xFFFFFFFFu, 24u, 0u, 2u, 1u, 0xFFFFFFF0u})
      Put32B(b, v);
    cases.push_back({"huge.ras", b});
  }
  {  // PNM with enormous sizes
    const std::string t = "P6\n2147483647 2147483647\n255\n";
    cases.push_back({"huge.ppm", Bytes(t.begin(), t.end())});
  }
  {  // PCX of 65536 x 65536 with 3 planes
    Bytes b(128, 0);
    b[0] = 10;
    b[2] = 1;
    b[3] = 8;
    b[8] = b[9] = b[10] = b[11] = 0xFF;
    b[65] = 3;
    b[66] = b[67] = 0xFF;
    cases.push_back({"huge.pcx", b});
  }
  for (const Case& c : cases) {
    WriteFile(Path(c.name), c.data);
    ImgBasic::Qimg image;
    EXPECT_FALSE(Load(Path(c.name), &image)) << c.name;
    EXPECT_EQ(Errors::ErrClass(), 7) << c.name;
  }
}
