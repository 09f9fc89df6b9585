// The conversion handle, output settings, codec information, file
// information and remaining time as a host reaches them: by name, through
// dlopen, with nothing but qor.h.
#include <gtest/gtest.h>

#include <tuple>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "host/HostLibrary.h"
#include "host/HostMediaFiles.h"
#include "qor.h"

namespace {

QorLastError LastError() {
  QorLastError r{-5, -5, -5};
  QOR_GET(QorGetLastError)(&r);
  return r;
}

class TempFolder {
 public:
  TempFolder() {
    char tmpl[] = "/tmp/qor_host_XXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// ---- codec information ----------------------------------------------------------

struct CodecRow {
  int32_t num;
  int32_t value;
  const char* name;
};

struct FormatCodecs {
  int32_t format;
  int32_t count;
  bool flag;
  std::vector<CodecRow> rows;
};

const std::vector<FormatCodecs>& CodecTable() {
  static const char* kNone = "Uncompressed, full frames";
  static const char* kRle = "Run length encoded (RLE)";
  static const std::vector<FormatCodecs> table = {
      {1, 2, true, {{1, 0, kNone}, {2, 1, kRle}}},
      {2, 1, false, {{1, 0, kRle}}},
      {3, 0, false, {{1, 0, kNone}}},
      {4, 1, false, {{1, 0, "Variable-Length-Code LZW (Lempel-Ziv & Welch)"}}},
      {5, 1, false, {{1, 0, "RLE + pixel difference from previous frame"}}},
      {7, 2, true, {{1, 1, "KWB-FAST compression"}, {2, 0, "KWB-BEST compression"}}},
      {8, 1, false, {{1, 0, "ISO/IEC IS 10918-1, ITU-T T.81"}}},
      {9, 1, true, {{1, 0, "Deflate compression (modified LZ77)"}}},
      {10, 8, false, {{1, 1, kNone}, {2, 2, "CCITT modified Huffman RLE"},
                      {3, 3, "CCITT Group 3 fax encoding"}, {4, 4, "CCITT Group 4 fax encoding"},
                      {5, 7, "JPEG DCT compression"}, {6, 32773, "PackBits (Macintosh RLE)"},
                      {7, 32946, "Deflate compression (ZIP)"}, {8, 5, "Variable-Length-Code LZW"},
                      {9, 8, ""}}},
      {11, 5, false, {{1, 0, "MPEG-1 format"}, {2, 1, "MPEG-VCD format"},
                      {3, 2, "MPEG-2 format"}, {4, 3, "MPEG-SVCD format"},
                      {5, 4, "MPEG-DVD format"}, {6, 5, ""}}},
      {12, 1, false, {{1, 0, "PCM, uncompressed"}}},
      {13, 2, true, {{1, 0, kNone}, {2, 1, kRle}}},
      {14, 2, true, {{1, 0, kNone}, {2, 1, kRle}, {3, 2, ""}}},
      {15, 2, true, {{1, 0, "Binary encoded"}, {2, 1, "ASCII encoded"}}},
      {16, 0, false, {{1, 0, kNone}}},
      {17, 1, false, {{1, 0, kNone}}},
      {18, 1, false, {{1, 0, "MPEG audio compression"}}},
      {19, 0, false, {{1, 0, "Ogg Vorbis audio compression"}}},
      {99, 0, false, {{2, 1, kRle}}},
      {K_AUTO, 0, false, {{3, 2, ""}}},
  };
  return table;
}

QorCodecInfo Info(int32_t format, int32_t num) {
  QorCodecInfo info;
  std::memset(&info, 0x5A, sizeof info);
  QOR_GET(QorCodecsGetInfo)(format, &info, num);
  return info;
}

struct Rates {
  int32_t offered, value, low, high;
};

Rates QualityOf(const QorCodecInfo& i) {
  return {i.hasQuality, i.quality, i.qualityMin, i.qualityMax};
}
Rates BitRateOf(const QorCodecInfo& i) {
  return {i.hasBitRate, i.bitRate, i.bitRateMin, i.bitRateMax};
}
Rates ByteRateOf(const QorCodecInfo& i) {
  return {i.hasByteRate, i.byteRate, i.byteRateMin, i.byteRateMax};
}
Rates KeyFramesOf(const QorCodecInfo& i) {
  return {i.hasKeyFrameRate, i.keyFrameRate, i.keyFrameRateMin, i.keyFrameRateMax};
}

void ExpectRates(const Rates& got, const Rates& want, const std::string& what) {
  EXPECT_EQ(got.offered, want.offered) << what;
  EXPECT_EQ(got.value, want.value) << what;
  EXPECT_EQ(got.low, want.low) << what;
  EXPECT_EQ(got.high, want.high) << what;
}

constexpr Rates kNoRate{0, 0, 0, 0};

}  // namespace

TEST(HostSettings, ExportsOfTheBaseResolve) {
  ASSERT_NE(Lib().handle(), nullptr) << Lib().error();
  for (const char* name :
       {"QorAlloc", "QorFree", "QorGetFileInfo", "QorSetOutputFile", "QorSetFrameRate",
        "QorSetKeepDuration", "QorSetResolution", "QorSetBpp", "QorSetDithering",
        "QorForceCompatibility", "QorSetAudioFormat", "QorAviClearCustomInfo",
        "QorAviAddCustomInfo", "QorCodecsInit", "QorCodecsGetInfo", "QorGetFileFmtID",
        "QorSetCodec", "QorSetQuality", "QorSetBitRate", "QorSetByteRate", "QorSetKeyFrameRate",
        "QorGetVideoFormat", "QorGetElapsedTime", "QorGetRemainingTime", "QorMakeTimeStr",
        "QorListAlloc", "QorListFree", "QorListAdd", "QorListGetName", "QorListGetFileCount",
        "QorListGetFrameCount", "QorListGetMaxRes", "QorListGetSampleCount",
        "QorListGetAudioFormat"})
    EXPECT_NE(dlsym(Lib().handle(), name), nullptr) << name;
}

TEST(HostSettings, CodecCountsNamesAndValuesOfEveryFormat) {
  auto init = QOR_GET(QorCodecsInit);
  ASSERT_TRUE(init && QOR_GET(QorCodecsGetInfo));
  for (const FormatCodecs& f : CodecTable()) {
    EXPECT_EQ(init(f.format, 320, 240, 24), f.count) << f.format;
    for (const CodecRow& r : f.rows) {
      const QorCodecInfo i = Info(f.format, r.num);
      const std::string what = std::to_string(f.format) + "/" + std::to_string(r.num);
      EXPECT_EQ(i.fileFmtID, f.format) << what;
      EXPECT_EQ(i.codecFlag, f.flag ? -1 : 0) << what;
      EXPECT_EQ(i.codec, r.value) << what;
      EXPECT_STREQ(i.codecName, r.name) << what;
      EXPECT_EQ(i.codecMin, 0) << what;
      EXPECT_EQ(i.codecMax, f.format == 9 ? 9 : 0) << what;
    }
  }
  EXPECT_EQ(LastError().code, 0);
}

TEST(HostSettings, CodecRatesAndTheirBitByteTwins) {
  ExpectRates(QualityOf(Info(8, 1)), {-1, 85, 0, 100}, "JPEG quality");
  ExpectRates(BitRateOf(Info(8, 1)), kNoRate, "JPEG bits");
  ExpectRates(QualityOf(Info(19, 1)), {-1, 4, 0, 10}, "Ogg quality");
  ExpectRates(KeyFramesOf(Info(7, 2)), {-1, 25, 0, 2147483647}, "KWB key frames");
  const QorCodecInfo mpa = Info(18, 1);
  ExpectRates(BitRateOf(mpa), {-1, 224, 32, 384}, "MPEG audio bits");
  ExpectRates(ByteRateOf(mpa), {-1, 28, 4, 48}, "MPEG audio bytes");
  const int32_t mpegRates[6] = {1700, 1150, 4200, 2376, 6000, 0};  // 6: past the table
  for (int32_t n = 1; n <= 6; n++) {
    const QorCodecInfo m = Info(11, n);
    ExpectRates(BitRateOf(m), {-1, mpegRates[n - 1], 1, 102400}, "MPEG bits");
    ExpectRates(ByteRateOf(m), {-1, mpegRates[n - 1] / 8, 0, 12800}, "MPEG bytes");
    ExpectRates(QualityOf(m), kNoRate, "MPEG quality");
  }
  ExpectRates(BitRateOf(Info(1, 1)), kNoRate, "TGA");
  ExpectRates(KeyFramesOf(Info(1, 1)), kNoRate, "TGA");
  QOR_GET(QorCodecsGetInfo)(8, nullptr, 1);
  EXPECT_EQ(LastError().code, 999);
}

TEST(HostSettings, AviCodecsAreTheUsableOnesOfTheInstalledList) {
  auto init = QOR_GET(QorCodecsInit);
  const int32_t count = init(6, 320, 240, 24);
  ASSERT_GT(count, 0);
  const int32_t cvid = QOR_GET(QorMakeFourCC)("cvid");
  int32_t found = 0;
  for (int32_t n = 1; n <= count; n++) {
    const QorCodecInfo i = Info(6, n);
    EXPECT_EQ(i.codecFlag, -1);
    EXPECT_NE(i.codecName[0], '\0') << n;
    ExpectRates(ByteRateOf(i), {-1, 300, 0, 268435455}, "AVI bytes");
    ExpectRates(BitRateOf(i), {-1, 2400, 0, 2147483640}, "AVI bits");
    EXPECT_EQ(i.qualityMax, 100);
    if (i.codec == cvid) found = n;
  }
  ASSERT_NE(found, 0) << "cvid is not among the " << count << " codecs";
  // Numbers outside 1..count, also 0 and below, get the generic answer.
  for (int32_t n : {count + 1, 0, -5}) {
    const QorCodecInfo i = Info(6, n);
    EXPECT_EQ(i.fileFmtID, 6);
    EXPECT_EQ(i.codecFlag, -1);
    EXPECT_EQ(i.codec, n - 1);
    EXPECT_STREQ(i.codecName, n == 2 ? "Run length encoded (RLE)" : "");
    ExpectRates(ByteRateOf(i), kNoRate, "beyond the list");
    ExpectRates(KeyFramesOf(i), kNoRate, "beyond the list");
  }
  EXPECT_EQ(LastError().code, 0);
  // Absurd sizes and depths list no more codecs than a usual frame does.
  for (const auto& [w, h, bpp] : {std::tuple{320, 240, 2147483647}, {2147483647, 2147483647, 32},
                                  {-5, 240, -2147483647 - 1}}) {
    const int32_t n = init(6, w, h, bpp);
    EXPECT_GE(n, 0);
    EXPECT_LE(n, count);
  }
  init(6, 320, 240, 24);
}

TEST(HostSettings, SettingsShowInThePreparedVideoFormat) {
  auto alloc = QOR_GET(QorAlloc);
  auto freeH = QOR_GET(QorFree);
  auto video = QOR_GET(QorGetVideoFormat);
  ASSERT_TRUE(alloc && freeH && video);
  QorHandle h = alloc();
  ASSERT_NE(h, nullptr);
  int32_t codec = 0, quality = 0, byteRate = 0, keyFrames = 0;
  auto prepare = [&](int32_t format) {
    video(h, format, 320, 240, 24, &codec, &quality, &byteRate, &keyFrames);
  };
  prepare(11);
  EXPECT_EQ(codec, 0);
  EXPECT_EQ(byteRate, 1700 / 8);
  QOR_GET(QorSetOutputFile)(h, "/tmp/film.M2V", "");
  prepare(11);
  EXPECT_EQ(codec, 2);
  QOR_GET(QorSetByteRate)(h, 11, 200);
  prepare(11);
  EXPECT_EQ(byteRate, 200);
  QOR_GET(QorSetBitRate)(h, 11, 1150);
  prepare(11);
  EXPECT_EQ(byteRate, 143);
  QOR_GET(QorSetByteRate)(h, 11, 300000000);  // x 8 kept at the largest value
  prepare(11);
  EXPECT_EQ(byteRate, INT_MAX / 8);
  QOR_GET(QorSetQuality)(h, 8, 60);
  prepare(8);
  EXPECT_EQ(quality, 60);
  QOR_GET(QorSetKeyFrameRate)(h, 7, 10);
  prepare(7);
  EXPECT_EQ(keyFrames, 10);
  EXPECT_EQ(codec, 1);
  QOR_GET(QorSetCodec)(h, 7, 0);
  prepare(7);
  EXPECT_EQ(codec, 0);
  EXPECT_EQ(LastError().code, 0);
  // Any 32-bit size may be asked about, MPEG's rounding to 16 included.
  for (int32_t side : {INT_MAX, INT_MIN, -7})
    for (int32_t format : {11, 6, 7}) {
      video(h, format, side, side, 24, &codec, &quality, &byteRate, &keyFrames);
      EXPECT_NE(LastError().code, 999) << side << " " << format;
    }
  // A sound format that cannot be is refused at the setter.
  QOR_GET(QorSetAudioFormat)(h, 44100, 0, 16);
  const QorLastError bad = LastError();
  EXPECT_EQ(bad.code, 1000);
  EXPECT_EQ(bad.errClass, 8);
  EXPECT_EQ(bad.errNum, 4);
  QOR_GET(QorSetAudioFormat)(h, 22050, 1, 8);
  EXPECT_EQ(LastError().code, 0);
  QOR_GET(QorSetResolution)(h, 0, 20000);
  QOR_GET(QorSetBpp)(h, 12);
  QOR_GET(QorSetFrameRate)(h, 0.0);
  EXPECT_EQ(LastError().code, 0);
  EXPECT_EQ(QOR_GET(QorGetFileFmtID)("/x/PHOTO.JPG"), 8);
  EXPECT_EQ(QOR_GET(QorGetFileFmtID)("/x/clip.mpe"), 11);
  EXPECT_EQ(QOR_GET(QorGetFileFmtID)("/x/noext"), K_AUTO);
  EXPECT_EQ(QOR_GET(QorGetFileFmtID)(nullptr), K_AUTO);
  EXPECT_EQ(LastError().code, 999);
  freeH(h);
  EXPECT_EQ(LastError().code, 0);
  freeH(h);  // already freed: refused, not a crash
  EXPECT_EQ(LastError().code, 999);
  QOR_GET(QorSetBpp)(nullptr, 8);
  EXPECT_EQ(LastError().code, 999);
}

TEST(HostSettings, ElapsedRemainingAndTimeTexts) {
  QorHandle h = QOR_GET(QorAlloc)();
  EXPECT_EQ(QOR_GET(QorGetElapsedTime)(h), 0.0);
  EXPECT_EQ(QOR_GET(QorGetRemainingTime)(h, 100, 100), 1.0);  // never below one step
  QOR_GET(QorFree)(h);
  auto text = [](double sec) {
    char buf[16];
    std::memset(buf, 'X', sizeof buf);
    QOR_GET(QorMakeTimeStr)(sec, buf);
    return std::string(buf);
  };
  EXPECT_EQ(text(3725.4), "01:02:05");
  EXPECT_EQ(text(59.9), "00:00:59");
  EXPECT_EQ(text(-1.0), "00:00:00");
  EXPECT_EQ(text(1e30), "596523:14:07");
}

// ---- file information ----------------------------------------------------------------

namespace {

// A real of the packed record read by value (gtest would bind a reference
// to a field that is not aligned).
double Real(double value) { return value; }

QorFileInfo Describe(const std::string& name, int32_t seqDetect,
                     QorInfoProgressProc progress = nullptr, void* data = nullptr) {
  QorFileInfo info;
  std::memset(&info, 0x5A, sizeof info);
  QOR_GET(QorGetFileInfo)(name.c_str(), seqDetect, &info, progress, data);
  return info;
}

bool TextsEndInside(const QorFileInfo& i) {
  return std::memchr(i.fileName, 0, sizeof i.fileName) &&
         std::memchr(i.filter, 0, sizeof i.filter) &&
         std::memchr(i.videoCompression, 0, sizeof i.videoCompression) &&
         std::memchr(i.audioCompression, 0, sizeof i.audioCompression);
}

struct ProgressLog {
  int32_t calls = 0;
  int32_t stopAt = -1;
  bool sawFinal = false;
  bool dataSeen = true;
  std::vector<std::string> names;
};

void LogProgress(QorInfoProgress* rec) {
  auto* log = static_cast<ProgressLog*>(rec->data);
  log->calls++;
  if (rec->final) {
    log->sawFinal = true;
    return;
  }
  log->names.push_back(rec->name);
  if (rec->counted == log->stopAt) rec->stop = -1;
}

}  // namespace

TEST(HostFileInfo, StillImage) {
  TempFolder dir;
  const std::string file = dir.File("still.bmp");
  WriteBmp(file, 40, 30);
  const QorFileInfo i = Describe(file, 0);
  EXPECT_EQ(LastError().code, 0);
  EXPECT_STREQ(i.fileName, file.c_str());
  EXPECT_TRUE(TextsEndInside(i));
  EXPECT_NE(std::string(i.filter).find("BMP"), std::string::npos);
  EXPECT_EQ(Real(i.totalSize), static_cast<double>(std::filesystem::file_size(file)));
  EXPECT_EQ(i.hasPictures, -1);
  EXPECT_EQ(i.picturesReadable, -1);
  EXPECT_EQ(i.frameCount, 1);
  EXPECT_EQ(i.width, 40);
  EXPECT_EQ(i.height, 30);
  EXPECT_EQ(i.bytesPerPixel, 3);
  EXPECT_EQ(i.bitsPerPixel, 24);
  EXPECT_EQ(Real(i.videoSize), 40.0 * 30 * 3);
  EXPECT_EQ(i.hasSound, 0);
  EXPECT_EQ(i.sampleFrames, 0);
  EXPECT_EQ(i.channels, 0);
}

TEST(HostFileInfo, NumberedRunCountedOnlyWhenAsked) {
  TempFolder dir;
  double total = 0;
  for (int n = 1; n <= 3; n++) {
    const std::string f = dir.File("img00" + std::to_string(n) + ".bmp");
    WriteBmp(f, 16 + n, 8);
    total += static_cast<double>(std::filesystem::file_size(f));
  }
  const std::string first = dir.File("img001.bmp");
  const QorFileInfo one = Describe(first, 0);
  EXPECT_EQ(one.frameCount, 1);
  EXPECT_EQ(Real(one.totalSize), static_cast<double>(std::filesystem::file_size(first)));
  ProgressLog log;
  const QorFileInfo run = Describe(first, 1, LogProgress, &log);
  EXPECT_EQ(LastError().code, 0);
  EXPECT_EQ(run.frameCount, 3);
  EXPECT_EQ(Real(run.totalSize), total);
  EXPECT_STREQ(run.fileName, first.c_str());
  EXPECT_EQ(log.names.size(), 3u);
  EXPECT_EQ(log.names.front(), first);
  EXPECT_TRUE(log.sawFinal);
  // The host's stop request ends the count.
  ProgressLog stopper;
  stopper.stopAt = 1;
  EXPECT_EQ(Describe(first, 1, LogProgress, &stopper).frameCount, 1);
  // Any value but 0 and 2 counts the run as 1 does; 2 also takes a minus
  // sign into the number, so m-1, m0, m1 is a run of three only then.
  for (int32_t seqDetect : {7, -1, int32_t{K_AUTO}})
    EXPECT_EQ(Describe(first, seqDetect).frameCount, 3) << seqDetect;
  for (const char* name : {"m-1.bmp", "m0.bmp", "m1.bmp"}) WriteBmp(dir.File(name), 8, 8);
  const std::string minus = dir.File("m-1.bmp");
  EXPECT_EQ(Describe(minus, 2).frameCount, 3);
  EXPECT_EQ(Describe(minus, 1).frameCount, 1);
  QorFileInfo opened{};
  QorHandle file = QOR_GET(QorFileOpen)(minus.c_str(), 2, &opened, nullptr, nullptr);
  EXPECT_EQ(opened.frameCount, 3);
  QOR_GET(QorFileClose)(file);
  EXPECT_EQ(LastError().code, 0);
}

TEST(HostFileInfo, MovieWithSoundAgreesWithFfmpeg) {
  if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  TempFolder dir;
  const std::string file = dir.File("movie.avi");
  ASSERT_EQ(0, std::system(("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=10 "
                            "-f lavfi -i 'sine=frequency=440:sample_rate=22050' -t 1.2 "
                            "-c:v cinepak -c:a pcm_s16le '" +
                            file + "'")
                               .c_str()));
  const std::string raw = dir.File("movie.raw");
  ASSERT_EQ(0, std::system(("ffmpeg -nostdin -v error -y -i '" + file + "' -f s16le '" + raw + "'")
                               .c_str()));
  const std::string frames = FirstLine(
      "ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames "
      "-of csv=p=0 '" +
      file + "'");
  const QorFileInfo i = Describe(file, 1);
  EXPECT_EQ(LastError().code, 0);
  EXPECT_EQ(std::to_string(i.frameCount), frames);
  EXPECT_EQ(i.width, 64);
  EXPECT_EQ(i.height, 48);
  EXPECT_DOUBLE_EQ(Real(i.fps), 10.0);
  EXPECT_DOUBLE_EQ(Real(i.videoDuration), i.frameCount / 10.0);
  EXPECT_EQ(i.hasSound, -1);
  EXPECT_EQ(i.soundReadable, -1);
  EXPECT_EQ(Real(i.sampleRate), 22050.0);
  EXPECT_EQ(i.channels, 1);
  EXPECT_EQ(i.bitsPerSample, 16);
  EXPECT_EQ(i.blockAlign, 2);
  EXPECT_EQ(i.sampleFrames, static_cast<int32_t>(std::filesystem::file_size(raw) / 2));
  EXPECT_DOUBLE_EQ(Real(i.audioSize), i.sampleFrames * 2.0);
  EXPECT_TRUE(TextsEndInside(i));
}

TEST(HostFileInfo, UnreadableFileLeavesTheRecordUntouched) {
  TempFolder dir;
  const std::string bad = dir.File("broken.bmp");
  WriteBytes(bad, std::vector<uint8_t>(100, 0x33));
  QOR_GET(QorGetFileInfo)(bad.c_str(), 0, nullptr, nullptr, nullptr);
  EXPECT_EQ(LastError().code, 999);
  QorFileInfo before;
  std::memset(&before, 0x5A, sizeof before);
  for (const std::string& name : {bad, dir.File("missing.bmp")}) {
    const QorFileInfo after = Describe(name, 1);
    const QorLastError r = LastError();
    EXPECT_EQ(r.code, 1000) << name;
    EXPECT_EQ(r.errClass, 6);
    EXPECT_EQ(r.errNum, 9);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0) << name;
  }
}

TEST(HostFileInfo, LongNamesAreCutInsideTheirArray) {
  TempFolder dir;
  const std::string file = dir.File(std::string(240, 'n') + ".bmp");
  ASSERT_GT(file.size(), 263u);
  WriteBmp(file, 4, 4);
  const QorFileInfo i = Describe(file, 0);
  EXPECT_EQ(LastError().code, 0);
  EXPECT_EQ(std::strlen(i.fileName), 263u);
  EXPECT_EQ(std::string(i.fileName), file.substr(0, 263));
  EXPECT_EQ(i.width, 4);
}
