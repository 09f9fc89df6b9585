// File lists as a host builds them over a folder of its own: the order of
// the names, what each file-type mask takes, and the totals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "host/HostLibrary.h"
#include "host/HostMediaFiles.h"
#include "qor.h"

namespace {

constexpr int32_t kEveryFile = 2147483647;
constexpr int32_t kByExtension = 0x70000000;

class ListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Lib().handle(), nullptr) << Lib().error();
    char tmpl[] = "/tmp/qor_lists_XXXXXX";
    dir = mkdtemp(tmpl);
    list = QOR_GET(QorListAlloc)();
    ASSERT_NE(list, nullptr);
  }
  void TearDown() override {
    QOR_GET(QorListFree)(list);
    // rm copes with trees deeper than one path can name.
    std::system(("rm -rf '" + dir + "'").c_str());
  }
  std::string File(const std::string& name) const { return dir + "/" + name; }
  int32_t Add(const std::string& filePattern, int32_t mask) {
    return QOR_GET(QorListAdd)(list, filePattern.c_str(), mask, nullptr, nullptr);
  }
  std::vector<std::string> Listed() const {
    std::vector<std::string> names;
    const int32_t n = QOR_GET(QorListGetFileCount)(list);
    char buf[4096];
    for (int32_t i = 0; i < n; i++) {
      EXPECT_EQ(QOR_GET(QorListGetName)(list, i, buf), -1);
      names.push_back(std::filesystem::path(buf).filename().string());
    }
    return names;
  }
  void Reset() {
    QOR_GET(QorListFree)(list);
    list = QOR_GET(QorListAlloc)();
  }
  int32_t Status() const {
    QorLastError r{-5, -5, -5};
    QOR_GET(QorGetLastError)(&r);
    return r.code;
  }

  std::string dir;
  QorHandle list = nullptr;
};

using NameList = std::vector<std::string>;

}  // namespace

TEST_F(ListTest, PatternsKeepTheirOrderAndEachIsSortedInAnyCase) {
  for (const char* name : {"b2.BMP", "B1.bmp", "a1.bmp", "A2.Bmp", "c.txt", "b1x.bmp"})
    WriteBytes(File(name), {1, 2, 3});
  std::filesystem::create_directory(File("b0.bmp"));  // a folder is never taken
  const std::string filePattern = "  " + File("b?.bmp") + " ; " + File("A*.BMP") + " ;; ";
  EXPECT_EQ(Add(filePattern, kEveryFile), 4);
  EXPECT_EQ(Listed(), (NameList{"B1.bmp", "b2.BMP", "a1.bmp", "A2.Bmp"}));
  char buf[16] = "junk";
  for (int32_t index : {-1, 4}) {
    EXPECT_EQ(QOR_GET(QorListGetName)(list, index, buf), 0);
    EXPECT_STREQ(buf, "");
  }
  // Nothing was read, so nothing was added up.
  EXPECT_EQ(QOR_GET(QorListGetFrameCount)(list), 0);
  int32_t w = 0, h = 0, bpp = 0, rate = 0, ch = 0, bits = 0;
  QOR_GET(QorListGetMaxRes)(list, &w, &h, &bpp);
  EXPECT_EQ(w, 1);
  EXPECT_EQ(h, 1);
  EXPECT_EQ(bpp, 8);
  QOR_GET(QorListGetAudioFormat)(list, &rate, &ch, &bits);
  EXPECT_EQ(rate, 8000);
  EXPECT_EQ(ch, 1);
  EXPECT_EQ(bits, 8);
  EXPECT_EQ(Status(), 0);
}

TEST_F(ListTest, RelativePatternsUseTheCurrentFolder) {
  WriteBytes(File("rel.tga"), {0});
  char here[4096];
  ASSERT_NE(getcwd(here, sizeof here), nullptr);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  EXPECT_EQ(Add("*.TGA", kEveryFile), 1);
  ASSERT_EQ(chdir(here), 0);
  char buf[4096];
  QOR_GET(QorListGetName)(list, 0, buf);
  EXPECT_EQ(std::string(buf), File("rel.tga"));
}

TEST_F(ListTest, EachMaskRuleAndTheTotals) {
  WriteBmp(File("a.bmp"), 640, 480, 24);
  WriteBmp(File("b.bmp"), 800, 300, 32);
  WriteBytes(File("broken.bmp"), std::vector<uint8_t>(64, 0x33));
  WriteWav(File("s1.wav"), 22050, 1, 8, 1000);
  WriteWav(File("s2.wav"), 48000, 2, 16, 2000);
  WriteBytes(File("fake.wav"), std::vector<uint8_t>(64, 0x44));
  WriteBytes(File("notes.txt"), {'x'});
  const std::string all = File("*");

  EXPECT_EQ(Add(all, 8), 2);  // usable pictures only
  EXPECT_EQ(Listed(), (NameList{"a.bmp", "b.bmp"}));
  EXPECT_EQ(QOR_GET(QorListGetFrameCount)(list), 2);
  int32_t w = 0, h = 0, bpp = 0;
  QOR_GET(QorListGetMaxRes)(list, &w, &h, &bpp);
  EXPECT_EQ(w, 640);  // 640 x 480 is larger than 800 x 300
  EXPECT_EQ(h, 480);
  EXPECT_EQ(bpp, 24);  // 32 bits count as 24
  WriteBmp(File("c.bmp"), 800, 400, 24);
  Add(File("c.bmp"), 8);
  QOR_GET(QorListGetMaxRes)(list, &w, &h, &bpp);
  EXPECT_EQ(w, 800);  // by area: 320000 beats 307200
  EXPECT_EQ(h, 400);
  WriteBmp(File("d.bmp"), 400, 800, 24);
  Add(File("d.bmp"), 8);
  QOR_GET(QorListGetMaxRes)(list, &w, &h, &bpp);
  EXPECT_EQ(std::make_pair(w, h), std::make_pair(800, 400));  // an equal area does not replace
  std::filesystem::remove(File("c.bmp"));
  std::filesystem::remove(File("d.bmp"));

  Reset();
  EXPECT_EQ(Add(all, 16), 2);  // usable sound only
  EXPECT_EQ(Listed(), (NameList{"s1.wav", "s2.wav"}));
  EXPECT_EQ(QOR_GET(QorListGetSampleCount)(list), 3000);
  int32_t rate = 0, ch = 0, bits = 0;
  QOR_GET(QorListGetAudioFormat)(list, &rate, &ch, &bits);
  EXPECT_EQ(rate, 44100);  // 48000 Hz limited
  EXPECT_EQ(ch, 2);
  EXPECT_EQ(bits, 16);

  Reset();
  EXPECT_EQ(Add(all, 0), 4);  // every readable file
  EXPECT_EQ(Listed(), (NameList{"a.bmp", "b.bmp", "s1.wav", "s2.wav"}));

  // The extension alone decides: unreadable files are taken, nothing is
  // added up.
  Reset();
  EXPECT_EQ(Add(all, kByExtension), 6);
  EXPECT_EQ(Listed(), (NameList{"a.bmp", "b.bmp", "broken.bmp", "fake.wav", "s1.wav", "s2.wav"}));
  EXPECT_EQ(QOR_GET(QorListGetFrameCount)(list), 0);
  EXPECT_EQ(QOR_GET(QorListGetSampleCount)(list), 0);
  Reset();
  EXPECT_EQ(Add(all, kByExtension | 16), 3);
  EXPECT_EQ(Listed(), (NameList{"fake.wav", "s1.wav", "s2.wav"}));

  Reset();
  EXPECT_EQ(Add(all, kEveryFile), 7);
  EXPECT_EQ(Status(), 0);
}

TEST_F(ListTest, NamesThatDoNotFitAHostBufferAreSkipped) {
  // A folder whose path leaves room for a short name but not a long one.
  std::string deep = dir;
  const std::string part(200, 'd');
  while (deep.size() + part.size() + 1 < 3900) {
    deep += "/" + part;
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  }
  const int folder = open(deep.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(folder, 0);
  const std::string longName = std::string(251, 'n') + ".bmp";
  for (const std::string& name : {std::string("short.bmp"), longName}) {
    const int fd = openat(folder, name.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
  }
  close(folder);
  ASSERT_GE(deep.size() + 1 + longName.size(), 4096u);  // no room for the zero
  EXPECT_EQ(Add(deep + "/*.bmp", kEveryFile), 1);
  char buf[4096];
  EXPECT_EQ(QOR_GET(QorListGetName)(list, 0, buf), -1);
  EXPECT_EQ(std::string(buf), deep + "/short.bmp");
  EXPECT_EQ(Status(), 0);
  // A name of 4095 characters fills the buffer with its zero, and is taken.
  const std::string inner =
      deep + "/" + std::string(std::max<size_t>(1, 4095 - deep.size() - 202), 'e');
  ASSERT_EQ(mkdir(inner.c_str(), 0700), 0);
  const std::string fits = inner + "/" + std::string(4095 - inner.size() - 5, 'f') + ".bmp";
  ASSERT_EQ(fits.size(), 4095u);
  close(open(fits.c_str(), O_CREAT | O_WRONLY, 0600));
  Reset();
  EXPECT_EQ(Add(inner + "/*.bmp", kEveryFile), 1);
  EXPECT_EQ(QOR_GET(QorListGetName)(list, 0, buf), -1);
  EXPECT_EQ(std::string(buf), fits);
}

TEST_F(ListTest, NilArgumentsAndEmptyPatterns) {
  EXPECT_EQ(Add("", 8), 0);
  EXPECT_EQ(Add("  ;  ", 8), 0);
  EXPECT_EQ(QOR_GET(QorListAdd)(list, nullptr, 8, nullptr, nullptr), 0);
  EXPECT_EQ(Status(), 0);
  EXPECT_EQ(Add(File("nothing-here-*.bmp"), 8), 0);
  EXPECT_EQ(Add("/no/such/folder/*.bmp", 8), 0);
  EXPECT_EQ(QOR_GET(QorListAdd)(nullptr, "*", 8, nullptr, nullptr), 0);
  EXPECT_EQ(Status(), 999);
  EXPECT_EQ(QOR_GET(QorListGetName)(list, 0, nullptr), 0);
  EXPECT_EQ(Status(), 999);
  QOR_GET(QorListGetMaxRes)(list, nullptr, nullptr, nullptr);
  EXPECT_EQ(Status(), 999);
  QOR_GET(QorListFree)(nullptr);
  EXPECT_EQ(Status(), 0);
  QorHandle other = QOR_GET(QorListAlloc)();
  QOR_GET(QorListFree)(other);
  QOR_GET(QorListFree)(other);  // a second free is refused
  EXPECT_EQ(Status(), 999);
  EXPECT_EQ(QOR_GET(QorListGetFileCount)(other), 0);
  EXPECT_EQ(Status(), 999);
}

TEST_F(ListTest, CallLogNamesTheFilesAndTheTotals) {
  WriteBmp(File("logged.bmp"), 20, 10);
  const std::string log = File("calls.log");
  QOR_GET(QorLogStart)(log.c_str());
  QOR_GET(QorLogExtra)(1);
  Add(File("*.bmp"), 8);
  QOR_GET(QorLogStop)();
  std::ifstream in(log, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const std::string& line : std::vector<std::string>{
           "#QorListAdd\r\n", "#  fileType=8\r\n", "#  " + File("logged.bmp") + "\r\n",
        "#  _QorFilesCollect\r\n", "#    frames=1\r\n", "#    resX=20\r\n", "#    resY=10\r\n",
        "#    fps=30.00\r\n", "#    audFreq=8000\r\n", "#  result=1\r\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line;
}
