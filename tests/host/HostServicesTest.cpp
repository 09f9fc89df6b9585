// The format services a host calls directly: TIFF tags, the Bayer header,
// AVI information texts and MPEG multiplexing, on files made by the peers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/HostLibrary.h"
#include "host/HostScratch.h"
#include "qor.h"

namespace {

std::string Probe(const std::string& file, const std::string& entries) {
  return Capture("ffprobe -v error -show_entries " + entries +
                 " -of csv=p=0 '" + file + "'");
}

}  // namespace

TEST(HostServices, TiffTagsAsTheFileHoldsThem) {
  REQUIRE_PEER("convert");
  ScratchDir dir;
  const std::string file = dir.File("t.tif");
  ASSERT_EQ(0, Shell("convert -size 37x5 xc:red -compress none '" + file + "'"));
  auto getTag = QOR_GET(QorTiffGetTag);
  uint8_t buf[8];
  std::memset(buf, 0xEE, sizeof buf);
  // Tag 256 is the width: one value, in the host's byte order.
  const int32_t n = getTag(file.c_str(), 256, buf, sizeof buf);
  ASSERT_TRUE(n == 2 || n == 4) << n;
  uint32_t width = buf[0] | buf[1] << 8;
  if (n == 4) width |= uint32_t{buf[2]} << 16 | uint32_t{buf[3]} << 24;
  EXPECT_EQ(37u, width);
  EXPECT_EQ(0xEE, buf[n]);
  EXPECT_EQ(0, Outcome().code);
  // Without a buffer only the size is told.
  EXPECT_EQ(n, getTag(file.c_str(), 256, nullptr, sizeof buf));
  // A file that is not there: no bytes, the file error recorded.
  EXPECT_EQ(0, getTag(dir.File("none.tif").c_str(), 256, buf, sizeof buf));
  EXPECT_EQ(1000, Outcome().code);
  EXPECT_EQ(6, Outcome().errClass);
  EXPECT_EQ(0, getTag(nullptr, 256, buf, sizeof buf));
  EXPECT_EQ(1000, Outcome().code);
}

TEST(HostServices, SixteenBitGreyRangeOfTheTiffReader) {
  REQUIRE_PEER("convert");
  ScratchDir dir;
  const uint16_t values[5] = {1000, 2000, 3000, 5000, 9000};
  std::string pgm = "P5\n5 1\n65535\n";
  for (uint16_t v : values) {
    pgm += static_cast<char>(v >> 8);
    pgm += static_cast<char>(v & 0xFF);
  }
  WriteBytes(dir.File("g.pgm"), std::vector<uint8_t>(pgm.begin(), pgm.end()));
  const std::string tif = dir.File("g.tif");
  ASSERT_EQ(0, Shell("convert '" + dir.File("g.pgm") + "' -depth 16 '" + tif + "'"));
  auto setRange = QOR_GET(QorTiffSet16to8bitGrayRange);
  auto load = [&] {
    QorHandle img = QOR_GET(QorImgAlloc)();
    EXPECT_EQ(0, QOR_GET(QorImgLoadSingle)(img, tif.c_str(), 0));
    int32_t w = 0, h = 0, bpp = 0, total = 0;
    void* pix = nullptr;
    void* pal = nullptr;
    QOR_GET(QorImgGetInfo)(img, &w, &h, &bpp, &total, &pix, &pal);
    EXPECT_EQ(8, bpp);
    std::vector<uint8_t> got(static_cast<const uint8_t*>(pix),
                             static_cast<const uint8_t*>(pix) + total);
    QOR_GET(QorImgFree)(img);
    return got;
  };
  // 1000..5000 onto 0..255, rounded; above the range is white.
  setRange(1000, 5000);
  EXPECT_EQ((std::vector<uint8_t>{0, 64, 128, 255, 255}), load());
  // Automatic: the file's own lowest and highest, 1000 and 9000.
  setRange(K_AUTO, K_AUTO);
  EXPECT_EQ((std::vector<uint8_t>{0, 32, 64, 128, 255}), load());
  // Each end on its own: the file's lowest with 5000, 3000 with its highest.
  setRange(K_AUTO, 5000);
  EXPECT_EQ((std::vector<uint8_t>{0, 64, 128, 255, 255}), load());
  setRange(3000, K_AUTO);
  EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 85, 255}), load());
  setRange(K_AUTO, K_AUTO);
}

TEST(HostServices, BayerHeaderIsTheFilesTrailer) {
  ScratchDir dir;
  const std::string file = dir.File("raw.bay");
  std::vector<uint8_t> bytes(197632, 0x40);
  for (size_t i = 0; i < 1024; i++)
    bytes[bytes.size() - 1024 + i] = static_cast<uint8_t>(i * 7);
  WriteBytes(file, bytes);
  auto getHdr = QOR_GET(QorBayerGetHdr);
  std::vector<uint8_t> buf(2000, 0xEE);
  ASSERT_EQ(1024, getHdr(file.c_str(), buf.data(), 2000));
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 1024, bytes.end() - 1024));
  EXPECT_EQ(0xEE, buf[1024]);
  EXPECT_EQ(0, Outcome().code);
  std::fill(buf.begin(), buf.end(), 0xEE);
  ASSERT_EQ(16, getHdr(file.c_str(), buf.data(), 16));
  EXPECT_EQ(0xEE, buf[16]);
  // A file of another size is no Bayer raw file; a missing buffer is refused.
  bytes.resize(1000);
  WriteBytes(dir.File("short.bay"), bytes);
  EXPECT_EQ(0, getHdr(dir.File("short.bay").c_str(), buf.data(), 2000));
  EXPECT_EQ(1000, Outcome().code);
  EXPECT_EQ(0, getHdr(file.c_str(), nullptr, 2000));
  EXPECT_EQ(1000, Outcome().code);
}

TEST(HostServices, AviInformationTextLengthAndCopy) {
  REQUIRE_PEER("ffmpeg");
  ScratchDir dir;
  const std::string file = dir.File("info.avi");
  ASSERT_EQ(0, Shell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=32x24:rate=5 "
                     "-frames:v 2 -c:v rawvideo -pix_fmt bgr24 "
                     "-metadata title=0123456789 '" + file + "'"));
  auto getInfo = QOR_GET(QorAviGetCustomInfo);
  EXPECT_EQ(10, getInfo(file.c_str(), "INAM", nullptr, 0));
  EXPECT_EQ(0, Outcome().code);
  char buf[16];
  std::memset(buf, 'X', sizeof buf);
  EXPECT_EQ(10, getInfo(file.c_str(), "INAM", buf, 3));
  EXPECT_STREQ("012", buf);
  EXPECT_EQ('X', buf[4]);
  std::memset(buf, 'X', sizeof buf);
  EXPECT_EQ(10, getInfo(file.c_str(), "INAM", buf, 15));
  EXPECT_STREQ("0123456789", buf);
  EXPECT_EQ('X', buf[11]);
  // A text the file does not hold is empty.
  EXPECT_EQ(0, getInfo(file.c_str(), "IART", buf, 15));
  EXPECT_STREQ("", buf);
  EXPECT_EQ(0, Outcome().code);
  // A file that is no AVI: length 0 and the reader's error; the next call
  // still opens and closes files normally.
  WriteBytes(dir.File("bad.avi"), std::vector<uint8_t>(300, 7));
  EXPECT_EQ(0, getInfo(dir.File("bad.avi").c_str(), "INAM", buf, 15));
  EXPECT_EQ(1000, Outcome().code);
  EXPECT_EQ(10, getInfo(file.c_str(), "INAM", buf, 15));
  EXPECT_EQ(0, Outcome().code);
}

TEST(HostServices, MpegMultiplexJoinsStreamsAndFailsWithZero) {
  REQUIRE_PEER("ffmpeg");
  REQUIRE_PEER("ffprobe");
  ScratchDir dir;
  const std::string video = dir.File("v.m1v");
  const std::string audio = dir.File("a.mp2");
  const std::string out = dir.File("av.mpg");
  ASSERT_EQ(0, Shell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=25 "
                     "-frames:v 10 -c:v mpeg1video '" + video + "'"));
  ASSERT_EQ(0, Shell("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:duration=0.4 "
                     "-ar 44100 -ac 2 -c:a mp2 '" + audio + "'"));
  auto mplex = QOR_GET(QorMpgMultiplex);
  EXPECT_NE(0, mplex(out.c_str(), video.c_str(), audio.c_str(), 0));
  EXPECT_EQ("mpeg1video\nmp2\n",
            Probe(out, "stream=codec_name -select_streams v") +
                Probe(out, "stream=codec_name -select_streams a"));
  // The stream files are kept.
  EXPECT_FALSE(ReadBytes(video).empty());
  EXPECT_FALSE(ReadBytes(audio).empty());
  // Streams that are not there, and no names at all: 0, nothing escapes.
  EXPECT_EQ(0, mplex(dir.File("x.mpg").c_str(), dir.File("none.m1v").c_str(),
                     dir.File("none.mp2").c_str(), 0));
  EXPECT_EQ(0, mplex(nullptr, nullptr, nullptr, 0));
}
