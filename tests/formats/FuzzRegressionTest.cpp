// The inputs the fuzzers found, kept under tests/data/fuzz/TARGET/: each is
// run through the same function as its fuzz target, which fails the test
// (by aborting) when a reader keeps a tracked block or a descriptor or hands
// out an image record larger than its block, and which the sanitizer build
// watches for every other fault. Named tests below check what each fixed
// reader now answers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "formats/FF_TIF.h"
#include "formats/FF_XPM.h"
#include "fuzz/Targets.h"
#include "support/TestUtil.h"

namespace {

using TargetFn = int (*)(const uint8_t*, size_t);

const std::map<std::string, TargetFn>& Targets() {
  static const std::map<std::string, TargetFn> targets = {
      {"still", FuzzTargets::Still}, {"probe", FuzzTargets::Probe},
      {"tga", FuzzTargets::Tga},     {"pcx", FuzzTargets::Pcx},
      {"bmp", FuzzTargets::Bmp},     {"sgi", FuzzTargets::Sgi},
      {"ras", FuzzTargets::Ras},     {"pnm", FuzzTargets::Pnm},
      {"bay", FuzzTargets::Bay},     {"tif", FuzzTargets::Tif},
      {"jpg", FuzzTargets::Jpg},     {"png", FuzzTargets::Png},
      {"xpm", FuzzTargets::Xpm},     {"wexel", FuzzTargets::Wexel},
      {"gif", FuzzTargets::Gif},     {"flc", FuzzTargets::Flc},
      {"kwb", FuzzTargets::Kwb},     {"riff", FuzzTargets::Riff},
      {"ogg", FuzzTargets::Ogg},     {"mpeg", FuzzTargets::Mpeg},
      {"acm", FuzzTargets::Acm},     {"uni", FuzzTargets::Uni},
      {"api", FuzzTargets::Api}};
  return targets;
}

struct Input {
  std::string target;
  std::string path;
};

void PrintTo(const Input& in, std::ostream* os) {
  *os << in.target << "/" << std::filesystem::path(in.path).filename().string();
}

std::string DataDir() {
  const char* env = std::getenv("QOR_TEST_DATA");
  return std::string(env && *env ? env : QOR_SOURCE_DIR "/tests/data") + "/fuzz";
}

std::vector<Input> Inputs() {
  std::vector<Input> out;
  std::error_code ec;
  for (const auto& dir : std::filesystem::directory_iterator(DataDir(), ec)) {
    if (!dir.is_directory()) continue;
    for (const auto& f : std::filesystem::directory_iterator(dir.path(), ec))
      if (f.is_regular_file())
        out.push_back({dir.path().filename().string(), f.path().string()});
  }
  std::sort(out.begin(), out.end(),
            [](const Input& a, const Input& b) { return a.path < b.path; });
  return out;
}

std::vector<uint8_t> Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

class FuzzFound : public testing::TestWithParam<Input> {};

TEST_P(FuzzFound, RunsCleanThroughItsTarget) {
  const Input& in = GetParam();
  const auto it = Targets().find(in.target);
  ASSERT_NE(it, Targets().end()) << "no fuzz target named " << in.target;
  const std::vector<uint8_t> data = Bytes(in.path);
  ASSERT_FALSE(data.empty()) << in.path;
  const int32_t mark = Basic::MemMark();
  EXPECT_EQ(it->second(data.data(), data.size()), 0);
  EXPECT_EQ(Basic::MemMark(), mark);
  EXPECT_TRUE(Errors::ErrNone());
}

std::string InputName(const testing::TestParamInfo<Input>& info) {
  std::string name = info.param.target + "_" +
                     std::filesystem::path(info.param.path).filename().string();
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Inputs, FuzzFound, testing::ValuesIn(Inputs()), InputName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FuzzFound);

// ---- what the fixed readers answer -----------------------------------------

// Loads through the XPM reader; true on success, else the error pair stays.
bool XpmLoad(const std::string& text) {
  TestUtil::TempDir dir;
  const std::string name = dir.File("in.xpm");
  TestUtil::WriteText(name, text);
  ImgBasic::Qimg img;
  try {
    FF_XPM::XPMLoad(name, &img);
  } catch (const Errors::EMon&) {
    return false;
  }
  ImgBasic::ImgFree(&img);
  return true;
}

TEST(FuzzFixes, XpmColourGivingAKeyTwiceIsRefused) {
  // libXpm would lose the first "c" value of the colour line.
  EXPECT_FALSE(XpmLoad("/* XPM */\nstatic char *x[] = {\n\"2 1 1 1\",\n"
                       "\". c #000000 c #FFFFFF\",\n\"..\"};\n"));
  EXPECT_EQ(Errors::ErrClass(), Errors::kClsText);
  Errors::ErrClear();
  // Other keys, and a key word standing as a value, are fine.
  EXPECT_TRUE(XpmLoad("/* XPM */\nstatic char *x[] = {\n\"2 1 2 1\",\n"
                      "\". c #000000 m black\",\n\"# s c c #FF0000\",\n\".#\"};\n"))
      << Errors::ErrLastText();
}

}  // namespace

namespace {

TEST(FuzzFixes, TiffInfoOfHugeSampleCountsStaysInRange) {
  // 32776 bits per sample times 65535 samples per pixel: a depth no reader
  // takes, reported without overflowing.
  ConForm::FFInfoRec info;
  try {
    FF_TIF::TIFInfo(DataDir() + "/tif/info-depth-overflow.tif", &info);
  } catch (const Errors::EMon&) {
    GTEST_SKIP() << "libtiff refused the directory: " << Errors::ErrLastText();
  }
  EXPECT_FALSE(info.picture.picturesReadable);
  EXPECT_GT(info.picture.bitsPerPixel, 32);
  EXPECT_GT(info.picture.bytesPerPixel, 4);
}

}  // namespace
