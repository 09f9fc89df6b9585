// Frame-access files through the shared library as a host sees it: files
// made by sox and ffmpeg are opened and described, unreadable files and
// foreign handles are refused, and a created file keeps its parameters
// until its first write.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "host/HostLibrary.h"
#include "qor.h"

namespace {

class FilesHost : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Lib().handle(), nullptr) << Lib().error();
    char tmpl[] = "/tmp/qor_files_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string File(const std::string& name) const { return dir_ + "/" + name; }
  static bool Have(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
  }
  static int Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
  }
  static int32_t LastCode() {
    QorLastError rec{-5, -5, -5};
    QOR_GET(QorGetLastError)(&rec);
    return rec.code;
  }

  decltype(QorFileOpen)* open_ = QOR_GET(QorFileOpen);
  decltype(QorFileCreate)* create_ = QOR_GET(QorFileCreate);
  decltype(QorFileSetVideoParams)* video_ = QOR_GET(QorFileSetVideoParams);
  decltype(QorFileSetAudioParams)* audio_ = QOR_GET(QorFileSetAudioParams);
  decltype(QorFileClose)* close_ = QOR_GET(QorFileClose);

 private:
  std::string dir_;
};

TEST_F(FilesHost, OpensWhatThePeersWroteAndDescribesIt) {
  ASSERT_TRUE(open_ && close_);
  if (!Have("sox") || !Have("ffmpeg")) GTEST_SKIP() << "sox or ffmpeg not installed";
  const std::string wav = File("tone.wav");
  ASSERT_EQ(Run("sox -n -r 22050 -c 2 -b 16 '" + wav + "' synth 0.5 sine 440"), 0);
  QorFileInfo info;
  std::memset(&info, 0x5A, sizeof info);
  QorHandle h = open_(wav.c_str(), 0, &info, nullptr, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(LastCode(), 0);
  EXPECT_STREQ(info.fileName, wav.c_str());
  EXPECT_EQ(info.hasPictures, 0);
  EXPECT_EQ(info.soundReadable, -1);
  EXPECT_EQ(info.sampleFrames, 11025);
  EXPECT_DOUBLE_EQ(info.sampleRate, 22050);
  EXPECT_EQ(info.channels, 2);
  EXPECT_EQ(info.bitsPerSample, 16);
  close_(h);
  EXPECT_EQ(LastCode(), 0);
  // Handles the host never gives back are the library's to release when it
  // is unloaded, without harm.
  ASSERT_NE(open_(wav.c_str(), 0, &info, nullptr, nullptr), nullptr);
  ASSERT_NE(QOR_GET(QorAlloc)(), nullptr);

  const std::string avi = File("clip.avi");
  ASSERT_EQ(Run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=10 -f lavfi -i "
                "sine=sample_rate=11025 -t 1 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_u8 '" +
                avi + "'"),
            0);
  h = open_(avi.c_str(), 0, &info, nullptr, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(info.frameCount, 10);
  EXPECT_EQ(info.width, 64);
  EXPECT_EQ(info.height, 48);
  EXPECT_DOUBLE_EQ(info.fps, 10.0);
  EXPECT_EQ(info.hasSound, -1);
  EXPECT_EQ(info.bitsPerSample, 8);
  close_(h);
  EXPECT_EQ(LastCode(), 0);
}

// What a command writes on its standard output, each line's last comma
// field only (a hash without its time stamps, for ffmpeg's hash formats).
std::string Output(const std::string& command) {
  std::string text;
  if (FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
      const std::string l = line;
      if (l[0] == '#') continue;
      text += l.find(',') == std::string::npos || l.rfind("video", 0) == 0 ||
                      l.rfind("audio", 0) == 0
                  ? l
                  : l.substr(l.rfind(',') + 1);
    }
    pclose(pipe);
  }
  return text;
}

// ffmpeg's hashes of one stream's decoded frames or samples.
std::string Hashes(const std::string& file, const std::string& stream,
                   const std::string& format) {
  return "ffmpeg -nostdin -v error -i '" + file + "' -map 0:" + stream + " -pix_fmt rgb24 -f " + format +
         " -";
}

TEST_F(FilesHost, MovieCopiedFrameByFrameMatchesItsSourceInThePeersDecode) {
  auto imgAlloc = QOR_GET(QorImgAlloc);
  auto imgFree = QOR_GET(QorImgFree);
  auto imgLoad = QOR_GET(QorImgLoad);
  auto imgSave = QOR_GET(QorImgSave);
  auto sndAlloc = QOR_GET(QorSndAlloc);
  auto sndFree = QOR_GET(QorSndFree);
  auto sndLoad = QOR_GET(QorSndLoad);
  auto sndSave = QOR_GET(QorSndSave);
  auto fourcc = QOR_GET(QorMakeFourCC);
  ASSERT_TRUE(open_ && create_ && video_ && audio_ && close_ && imgAlloc && imgFree && imgLoad &&
              imgSave && sndAlloc && sndFree && sndLoad && sndSave && fourcc);
  if (!Have("ffmpeg") || !Have("ffprobe")) GTEST_SKIP() << "ffmpeg not installed";
  const std::string src = File("src.avi"), dst = File("dst.avi");
  ASSERT_EQ(Run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=10 -f lavfi -i "
                "sine=sample_rate=11025 -t 1 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le '" +
                src + "'"),
            0);
  QorFileInfo info;
  QorHandle in = open_(src.c_str(), 0, &info, nullptr, nullptr);
  ASSERT_NE(in, nullptr);
  QorHandle out = create_(dst.c_str());
  ASSERT_NE(out, nullptr);
  // Uncompressed, so the frames must come out as they went in.
  video_(out, 64, 48, 24, 10.0, fourcc("DIB "), K_AUTO, K_AUTO);
  audio_(out, 11025, 1, 16, K_AUTO);
  QorHandle img = imgAlloc();
  for (int32_t i = 0; i < info.frameCount; i++) {
    EXPECT_EQ(imgLoad(img, in, i), 0);
    EXPECT_EQ(imgSave(img, out), 0);
  }
  QorHandle snd = sndAlloc();
  sndLoad(snd, in, 0, info.sampleFrames);
  EXPECT_EQ(sndSave(snd, out), 0);
  close_(out);
  EXPECT_EQ(LastCode(), 0);
  close_(in);
  imgFree(img);
  sndFree(snd);

  // Ten frames and a sound stream (its packets are the writer's own).
  EXPECT_EQ(Output("ffprobe -v error -count_frames -show_entries "
                   "stream=codec_type,nb_read_frames -of csv=p=0 '" + dst + "'")
                .rfind("video,10\naudio,", 0),
            0u);
  // Every frame and the whole sound decode as the source's did.
  const std::string frames = Output(Hashes(src, "v", "framemd5"));
  EXPECT_EQ(std::count(frames.begin(), frames.end(), '\n'), 10);
  EXPECT_EQ(Output(Hashes(dst, "v", "framemd5")), frames);
  EXPECT_EQ(Output(Hashes(dst, "a", "md5")), Output(Hashes(src, "a", "md5")));
}

TEST_F(FilesHost, UnreadableFilesAndForeignHandlesAreRefused) {
  ASSERT_TRUE(open_ && create_ && video_ && close_);
  // Nil is "not created" (status 0); a pointer that is not a file handle
  // ends the call as an unexpected failure. (Checked first: while a library
  // error of an earlier call is pending, calls that run no monitored step
  // report 1000.)
  video_(nullptr, 10, 10, 24, 25.0, K_AUTO, K_AUTO, K_AUTO);
  EXPECT_EQ(LastCode(), 0);
  close_(nullptr);
  EXPECT_EQ(LastCode(), 0);
  QorFileInfo notAHandle{};
  close_(&notAHandle);
  EXPECT_EQ(LastCode(), 999);
  EXPECT_EQ(create_(nullptr), nullptr);
  EXPECT_EQ(LastCode(), 999);

  const std::string junk = File("junk.dat");
  std::ofstream(junk) << "nothing any reader takes";
  QorFileInfo info;
  std::memset(&info, 0x5A, sizeof info);
  EXPECT_EQ(open_(junk.c_str(), 1, &info, nullptr, nullptr), nullptr);
  EXPECT_EQ(LastCode(), 1000);
  EXPECT_EQ(reinterpret_cast<unsigned char*>(&info)[100], 0x5A) << "record touched";
  EXPECT_EQ(open_(File("absent.avi").c_str(), 0, &info, nullptr, nullptr), nullptr);
  EXPECT_EQ(LastCode(), 1000);

}

TEST_F(FilesHost, CreatedFileTakesParametersUntilItsFirstWrite) {
  ASSERT_TRUE(create_ && video_ && audio_ && close_);
  QorHandle h = create_(File("out.avi").c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(LastCode(), 0);
  video_(h, 160, 120, 8, 15.0, K_AUTO, K_AUTO, 100);
  EXPECT_EQ(LastCode(), 0);
  audio_(h, 22050, 1, 8, K_AUTO);
  EXPECT_EQ(LastCode(), 0);
  // Closed before anything was written: the handle stays valid (a freed
  // handle would be refused as foreign) and nothing is on disk yet.
  close_(h);
  EXPECT_EQ(LastCode(), 0);
  video_(h, 320, K_AUTO, K_AUTO, K_AUTO, K_AUTO, K_AUTO, K_AUTO);
  EXPECT_EQ(LastCode(), 0);
  EXPECT_FALSE(std::filesystem::exists(File("out.avi")));
  // A sound format of no rate is refused.
  audio_(h, 0, 1, 8, K_AUTO);
  EXPECT_EQ(LastCode(), 1000);

  // The shortest sound a movie can hold, one byte, is written and read back.
  const std::string avi = File("one.avi");
  QorHandle out = create_(avi.c_str());
  audio_(out, 11025, 1, 8, K_AUTO);
  QorHandle snd = QOR_GET(QorSndAlloc)();
  const uint8_t sample = 200;
  QOR_GET(QorSndSetSamples)(snd, 1, 11025, 1, 8, &sample);
  EXPECT_EQ(QOR_GET(QorSndSave)(snd, out), 0);
  close_(out);
  QorFileInfo info;
  QorHandle in = open_(avi.c_str(), 0, &info, nullptr, nullptr);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(info.soundReadable, -1);
  EXPECT_EQ(info.sampleFrames, 1);
  uint8_t back = 0;
  EXPECT_EQ(QOR_GET(QorSndLoad)(snd, in, 0, 1), 0);
  QOR_GET(QorSndGetSamples)(snd, &back);
  EXPECT_EQ(back, sample);
  close_(in);
  QOR_GET(QorSndFree)(snd);
}

}  // namespace
