// qorconv with movie, animation and sound outputs: every frame of the input
// goes to FLIC, KWB and MPEG outputs, and sound to WAV, MPEG audio and Ogg
// Vorbis, checked by ffprobe where it is installed.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>

#include "platform/MediaTools.h"
#include "support/TestUtil.h"

namespace {

std::string Tool() {
  char self[PATH_MAX] = {};
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  std::string dir(self, static_cast<size_t>(n));
  dir = dir.substr(0, dir.find_last_of('/'));
  const std::string tool = dir + "/qorconv";
  return access(tool.c_str(), X_OK) == 0 ? tool : "";
}

int Shell(const std::string& cmd) {
  const int status = std::system((cmd + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Probe(const std::string& file, const std::string& entries) {
  const std::string out = file + ".probe";
  std::system(("ffprobe -v error -count_frames -show_entries stream=" + entries +
               " -of csv=p=0 " + file + " > " + out + " 2>/dev/null").c_str());
  std::string text = TestUtil::ReadText(out);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// What a shell command prints, without the line end.
std::string Capture(const std::string& cmd) {
  std::string text;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[256];
    while (fgets(buf, sizeof buf, p)) text += buf;
    pclose(p);
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// A 64x48 AVI at 10 frames a second with a tone of as many seconds.
bool MakeTenFpsClip(const std::string& file, int seconds, const std::string& codec) {
  return Shell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=10 -f lavfi -i "
               "sine=sample_rate=11025 -t " + std::to_string(seconds) + " -c:v " + codec +
               " -c:a pcm_s16le " + file) == 0;
}

#define REQUIRE_QORCONV_AND_FFMPEG()                                                     \
  const std::string tool = Tool();                                                       \
  if (tool.empty() || !TestUtil::HaveTool("ffmpeg") || !TestUtil::HaveTool("ffprobe")) \
  GTEST_SKIP() << "qorconv or ffmpeg missing"

TEST(QorconvStreams, SoundToWavOggAndLayerTwo) {
  const std::string tool = Tool();
  if (tool.empty() || !TestUtil::HaveTool("sox") || !TestUtil::HaveTool("ffprobe"))
    GTEST_SKIP() << "qorconv, sox or ffprobe missing";
  TestUtil::TempDir dir;
  const std::string tone = dir.File("tone.wav");
  ASSERT_EQ(Shell("sox -n -r 22050 -c 2 -b 16 " + tone + " synth 1 sine 440"), 0);
  ASSERT_EQ(Shell(tool + " " + tone + " " + dir.File("o.wav")), 0);
  EXPECT_EQ(Probe(dir.File("o.wav"), "codec_name,sample_rate,channels"), "pcm_s16le,22050,2");
  // Our header carries an 18-byte format chunk (46 bytes), sox's 16 (44):
  // the samples after them are the same.
  const std::string ours = TestUtil::ReadText(dir.File("o.wav"));
  const std::string theirs = TestUtil::ReadText(tone);
  ASSERT_GT(ours.size(), 46u);
  EXPECT_TRUE(ours.substr(46) == theirs.substr(44)) << "sample data differs";
  ASSERT_EQ(Shell(tool + " " + tone + " " + dir.File("o.ogg")), 0);
  EXPECT_EQ(Probe(dir.File("o.ogg"), "codec_name,sample_rate,channels"), "vorbis,22050,2");
  ASSERT_EQ(Shell(tool + " " + tone + " " + dir.File("o.mp2")), 0);
  EXPECT_EQ(Probe(dir.File("o.mp2"), "codec_name,channels"), "mp2,2");
}

// 24- and 32-bit integer PCM as sox writes it (an extensible header) goes to
// MPEG audio and Ogg Vorbis; the peers read back the length and the tone.
TEST(QorconvStreams, WideIntegerPcmToLayerTwoAndOgg) {
  const std::string tool = Tool();
  if (tool.empty() || !TestUtil::HaveTool("sox") || !TestUtil::HaveTool("ffprobe"))
    GTEST_SKIP() << "qorconv, sox or ffprobe missing";
  TestUtil::TempDir dir;
  for (const char* bits : {"24", "32"}) {
    const std::string in = dir.File(std::string("w") + bits + ".wav");
    ASSERT_EQ(Shell("sox -n -r 44100 -c 2 -b " + std::string(bits) + " " + in +
                    " synth 1.5 sine 440"), 0);
    const std::string ogg = dir.File("w.ogg"), mp2 = dir.File("w.mp2");
    ASSERT_EQ(Shell(tool + " " + in + " " + ogg), 0) << bits;
    EXPECT_EQ(Probe(ogg, "codec_name,sample_rate,channels"), "vorbis,44100,2") << bits;
    EXPECT_EQ(Capture("soxi -s " + ogg), "66150") << bits;
    ASSERT_EQ(Shell(tool + " " + in + " " + mp2), 0) << bits;
    EXPECT_EQ(Probe(mp2, "codec_name,sample_rate,channels"), "mp2,44100,2") << bits;
    // Layer II frames hold 1152 sample frames: the last one is filled up.
    const std::string raw = dir.File("w.raw");
    ASSERT_EQ(Shell("ffmpeg -nostdin -v error -y -i " + mp2 + " -f s16le -ac 1 " + raw), 0);
    const int64_t frames = static_cast<int64_t>(TestUtil::ReadText(raw).size()) / 2;
    EXPECT_GE(frames, 66150) << bits;
    EXPECT_LT(frames, 66150 + 2 * 1152) << bits;
    ASSERT_EQ(Shell("ffmpeg -nostdin -v error -y -i " + ogg + " -f s16le -ac 1 " + raw), 0);
    EXPECT_NEAR(MediaTools::ZeroCrossingFrequency(MediaTools::ReadS16(raw), 1, 44100), 440.0, 3.0)
        << bits;
  }
}

TEST(QorconvStreams, EveryFrameToFlicKwbAndMpeg) {
  REQUIRE_QORCONV_AND_FFMPEG();
  TestUtil::TempDir dir;
  const std::string clip = dir.File("clip.mpg");
  ASSERT_EQ(Shell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 12 "
                "-c:v mpeg1video " + clip), 0);
  ASSERT_EQ(Shell(tool + " " + clip + " " + dir.File("o.mpg")), 0);
  EXPECT_EQ(Probe(dir.File("o.mpg"), "codec_name,width,height,nb_read_frames"),
            "mpeg1video,64,48,12");
  ASSERT_EQ(Shell(tool + " " + clip + " " + dir.File("o.flc")), 0);
  // ffmpeg also counts the loop frame that closes every FLIC.
  EXPECT_EQ(Probe(dir.File("o.flc"), "width,height,nb_read_frames"), "64,48,13");
  ASSERT_EQ(Shell(tool + " " + clip + " " + dir.File("o.kwb")), 0);
  // The KWB holds the same frames: frame 7 of each, written as BMP, agree.
  ASSERT_EQ(Shell(tool + " " + dir.File("o.kwb") + " " + dir.File("k7.bmp") + " 7"), 0);
  ASSERT_EQ(Shell(tool + " " + clip + " " + dir.File("m7.bmp") + " 7"), 0);
  EXPECT_TRUE(TestUtil::ReadText(dir.File("k7.bmp")) == TestUtil::ReadText(dir.File("m7.bmp")));
  // A frame number asks for one still, even from a movie output name.
  ASSERT_EQ(Shell(tool + " " + clip + " " + dir.File("one.flc") + " 3"), 0);
  EXPECT_EQ(Probe(dir.File("one.flc"), "nb_read_frames"), "2");
}

TEST(QorconvStreams, AviFramesInAndEveryFrameOut) {
  REQUIRE_QORCONV_AND_FFMPEG();
  TestUtil::TempDir dir;
  const std::string clip = dir.File("clip.avi");
  ASSERT_TRUE(MakeTenFpsClip(clip, 1, "msvideo1"));
  // One frame of it as a still, and every frame (and the sound) into an AVI
  // with the current codec (Cinepak at start).
  ASSERT_EQ(Shell(tool + " " + clip + " " + dir.File("third.bmp") + " 3"), 0);
  EXPECT_EQ(Probe(dir.File("third.bmp"), "width,height"), "64,48");
  ASSERT_EQ(Shell(tool + " " + clip + " " + dir.File("o.avi")), 0);
  const std::string probe = Probe(dir.File("o.avi"), "codec_name,width,height,nb_read_frames");
  EXPECT_EQ(probe.substr(0, probe.find('\n')), "cinepak,64,48,10");
  EXPECT_NE(probe.find("\npcm_s16le"), std::string::npos) << probe;
}

// Movies with B-frames, DivX style and packed XviD style, convert whole:
// every frame the source has goes out.
TEST(QorconvStreams, BFrameMoviesConvertWhole) {
  REQUIRE_QORCONV_AND_FFMPEG();
  TestUtil::TempDir dir;
  for (const char* args : {"-c:v mpeg4 -bf 2 -vtag DX50", "-c:v libxvid -bf 2 -vtag XVID"}) {
    const std::string in = dir.File("b.avi"), out = dir.File("o.avi");
    if (Shell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=10 -frames:v 30 " +
              std::string(args) + " " + in) != 0)
      continue;  // no such encoder here
    ASSERT_EQ(Shell(tool + " " + in + " " + out), 0) << args;
    EXPECT_EQ(Probe(out, "nb_read_frames"), "30") << args;
  }
}

// A 10 frames-a-second AVI with 3 s of sound into MPEG, whose nearest
// standard rate is 24: by default each frame is repeated to fill the rate,
// so pictures and sound last as long as the source's, within a frame;
// --keep-frames writes each frame once, 30 frames that last 1.25 s.
TEST(QorconvStreams, MovieKeepsItsDurationUnlessAskedToKeepFrames) {
  REQUIRE_QORCONV_AND_FFMPEG();
  TestUtil::TempDir dir;
  const std::string clip = dir.File("clip.avi");
  ASSERT_TRUE(MakeTenFpsClip(clip, 3, "msvideo1"));
  auto seconds = [](const std::string& file, const std::string& stream) {
    return std::atof(MediaTools::Probe(file, stream, "duration").c_str());
  };
  // Picture time as a player counts it: frames over the frame rate.
  auto pictureSeconds = [](const std::string& file) {
    const std::string rate = MediaTools::Probe(file, "v:0", "r_frame_rate");
    const double fps = std::atof(rate.c_str()) /
                       std::max(1.0, std::atof(rate.substr(rate.find('/') + 1).c_str()));
    return static_cast<double>(MediaTools::ProbeFrameCount(file, "v:0")) / fps;
  };
  // The AVI's sound has no duration entry: its count of PCM samples.
  const double sourcePictures = pictureSeconds(clip);
  const double sourceSound = std::atof(MediaTools::Probe(clip, "a:0", "nb_frames").c_str()) /
                             std::atof(MediaTools::Probe(clip, "a:0", "sample_rate").c_str());
  ASSERT_NEAR(sourcePictures, 3.0, 0.01);
  ASSERT_NEAR(sourceSound, 3.0, 0.01);

  const std::string kept = dir.File("kept.mpg");
  ASSERT_EQ(Shell(tool + " " + clip + " " + kept), 0);
  EXPECT_EQ(MediaTools::Probe(kept, "v:0", "r_frame_rate"), "24/1");
  const double oneFrame = 1.0 / 24;
  const double pictures = pictureSeconds(kept), sound = seconds(kept, "a:0");
  EXPECT_NEAR(pictures, sound, oneFrame);
  EXPECT_NEAR(pictures, sourcePictures, oneFrame);
  EXPECT_NEAR(sound, sourceSound, oneFrame);

  const std::string once = dir.File("once.mpg");
  ASSERT_EQ(Shell(tool + " --keep-frames " + clip + " " + once), 0);
  EXPECT_EQ(MediaTools::ProbeFrameCount(once, "v:0"), 30);
  EXPECT_NEAR(seconds(once, "a:0"), sound, 0.001);

  const std::string help = Capture(tool + " --help");
  for (const char* option : {"--keep-frames", "--nearest"})
    EXPECT_NE(help.find(option), std::string::npos) << option;
}

// Runs a command; its exit code, and what it wrote on standard error.
int RunWithErrors(const std::string& cmd, std::string* errors) {
  const std::string file = "/tmp/qorconv_stderr_" + std::to_string(getpid());
  const int status = std::system((cmd + " >/dev/null 2>" + file).c_str());
  *errors = TestUtil::ReadText(file);
  std::remove(file.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What no writer writes: GIF, Bayer raw and MPEG audio other than Layer II
// are refused (nothing is left behind); an MPEG picture is padded with black
// to whole 16 x 16 blocks.
TEST(QorconvStreams, WhatTheWritersDoNotWrite) {
  REQUIRE_QORCONV_AND_FFMPEG();
  TestUtil::TempDir dir;
  const std::string still = dir.File("still.ppm"), tone = dir.File("tone.wav");
  ASSERT_EQ(Shell("ffmpeg -nostdin -v error -y -f lavfi -i color=c=white:size=100x50 -frames:v 1 " + still),
            0);
  ASSERT_EQ(Shell("ffmpeg -nostdin -v error -y -f lavfi -i sine=sample_rate=22050:duration=1 " + tone), 0);
  std::string errors;
  // A still goes to the image writers, which know no such format; a sound
  // output needs a name the conversion can write.
  const struct {
    const char* name;
    const std::string& source;
    const char* error;
  } refused[] = {{"o.gif", still, "UNI protocol fault.\n"},
                 {"o.bay", still, "UNI protocol fault.\n"},
                 {"o.mp3", tone, "Invalid output file.\n"},
                 {"o.mpa", tone, "Invalid output file.\n"}};
  for (const auto& r : refused) {
    const std::string out = dir.File(r.name);
    EXPECT_EQ(RunWithErrors(tool + " " + r.source + " " + out, &errors), 1) << r.name;
    EXPECT_EQ(errors, r.error) << r.name;
    EXPECT_NE(access(out.c_str(), F_OK), 0) << r.name;
  }
  const std::string movie = dir.File("o.mpg"), frame = dir.File("frame.gray");
  ASSERT_EQ(Shell(tool + " " + still + " " + movie), 0);
  EXPECT_EQ(Probe(movie, "width,height"), "112,64");
  ASSERT_EQ(Shell("ffmpeg -nostdin -v error -y -i " + movie + " -frames:v 1 -f rawvideo -pix_fmt gray " +
                  frame), 0);
  const std::string grey = TestUtil::ReadText(frame);
  ASSERT_EQ(grey.size(), 112u * 64u);
  EXPECT_GT(static_cast<uint8_t>(grey[25 * 112 + 50]), 200);  // the picture
  EXPECT_LT(static_cast<uint8_t>(grey[60 * 112 + 108]), 40);  // the padding
}

// Movies and sound cut short, as an interrupted recording leaves them, and a
// WAV written to a pipe convert whole, with no text of FFmpeg's on standard
// error; a conversion that cannot be done exits 1 with the library's text.
TEST(QorconvStreams, CutFilesConvertAndFailuresSayWhy) {
  REQUIRE_QORCONV_AND_FFMPEG();
  TestUtil::TempDir dir;
  const std::string movie = dir.File("m.avi"), cut = dir.File("cut.avi");
  ASSERT_TRUE(MakeTenFpsClip(movie, 3, "mjpeg"));
  const std::string bytes = TestUtil::ReadText(movie);
  TestUtil::WriteText(cut, bytes.substr(0, bytes.size() / 2));
  std::string errors;
  EXPECT_EQ(RunWithErrors(tool + " " + movie + " " + dir.File("whole.avi"), &errors), 0);
  EXPECT_EQ(errors, "");
  EXPECT_EQ(RunWithErrors(tool + " " + cut + " " + dir.File("o.avi"), &errors), 0) << errors;
  EXPECT_EQ(errors, "");
  auto videoFrames = [](const std::string& probe) { return probe.substr(0, probe.find('\n')); };
  const std::string theirs = videoFrames(Probe(cut, "nb_read_frames"));
  EXPECT_EQ(videoFrames(Probe(dir.File("o.avi"), "nb_read_frames")), theirs);
  EXPECT_LT(std::atoi(theirs.c_str()), 30);
  EXPECT_GT(std::atoi(theirs.c_str()), 5);
  // Its sound, and a WAV whose sizes a pipe left unwritten.
  EXPECT_EQ(RunWithErrors(tool + " " + cut + " " + dir.File("o.wav"), &errors), 0) << errors;
  const std::string piped = dir.File("piped.wav");
  ASSERT_EQ(Shell("(ffmpeg -nostdin -v error -f lavfi -i sine=sample_rate=8000:duration=1 -f wav - | cat > " +
                  piped + ")"), 0);
  EXPECT_EQ(RunWithErrors(tool + " " + piped + " " + dir.File("p.wav"), &errors), 0) << errors;
  EXPECT_EQ(Probe(dir.File("p.wav"), "duration_ts"), "8000");

  // No sound to convert: the source layer's text, and nothing left behind.
  const std::string still = dir.File("still.bmp");
  ASSERT_EQ(Shell(tool + " " + movie + " " + still + " 2"), 0);
  EXPECT_EQ(RunWithErrors(tool + " " + still + " " + dir.File("s.wav"), &errors), 1);
  EXPECT_EQ(errors, "Movie format not supported.\n");
  EXPECT_FALSE(access(dir.File("s.wav").c_str(), F_OK) == 0);
  TestUtil::WriteText(dir.File("junk.wav"), "not a sound");
  EXPECT_EQ(RunWithErrors(tool + " " + dir.File("junk.wav") + " " + dir.File("j.ogg"), &errors), 1);
  // No reader describes it.
  EXPECT_EQ(errors, dir.File("junk.wav") + ": no reader takes this file (File not exist.)\n");
  EXPECT_FALSE(access(dir.File("j.ogg").c_str(), F_OK) == 0);
  // A still has one frame.
  EXPECT_EQ(RunWithErrors(tool + " " + still + " " + dir.File("s2.png") + " 2", &errors), 1);
  EXPECT_EQ(errors, "Out of range.\n");
}

}  // namespace
