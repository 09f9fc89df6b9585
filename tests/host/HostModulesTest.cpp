// The heavy back ends as a host meets them: a still conversion maps none of
// the modules (nor FFmpeg, libvorbis or Qt), the first AVI read maps the
// movie module, a dialog in a Qt host maps the ui module, a library whose
// movie or ui module is missing names it in a clear error and still converts
// stills, and each file exports only what it should.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "host/HostMaps.h"
#include "host/HostMediaFiles.h"

namespace {

namespace fs = std::filesystem;

const char* const kMovieFile = "libqor-movie-2.8.0.so";
const char* const kSoundFile = "libqor-sound-2.8.0.so";
const char* const kUiFile = "libqor-ui-2.8.0.so";

// The exports a whole-process conversion needs, taken from one library file.
struct Api {
  decltype(QorQuickConvert)* quickConvert;
  decltype(QorGetFileInfo)* getFileInfo;
  decltype(QorGetLastError)* getLastError;
  decltype(QorMakeErrorStr)* makeErrorStr;

  template <class F>
  static F* Sym(void* handle, const char* name) {
    return reinterpret_cast<F*>(dlsym(handle, name));
  }
  explicit Api(void* h)
      : quickConvert(Sym<decltype(QorQuickConvert)>(h, "QorQuickConvert")),
        getFileInfo(Sym<decltype(QorGetFileInfo)>(h, "QorGetFileInfo")),
        getLastError(Sym<decltype(QorGetLastError)>(h, "QorGetLastError")),
        makeErrorStr(Sym<decltype(QorMakeErrorStr)>(h, "QorMakeErrorStr")) {}

  QorLastError Last() const {
    QorLastError rec{-1, -1, -1};
    getLastError(&rec);
    return rec;
  }
  std::string LastText() const {
    QorLastError rec = Last();
    char buf[2048] = {};
    makeErrorStr(&rec, buf);
    return buf;
  }
  int32_t Convert(const std::string& out, const std::string& in) const {
    return quickConvert(out.c_str(), in.c_str(), "", K_AUTO, K_AUTO, static_cast<double>(K_AUTO));
  }
};

// A 24-bit bitmap through PNG and back: what comes back must be what went in.
void ExpectStillRoundTrip(const Api& api, const ScratchDir& dir) {
  const std::string bmp = dir.File("in.bmp"), png = dir.File("mid.png"), back = dir.File("back.bmp");
  WriteBmp(bmp, 16, 16);
  ASSERT_EQ(api.Convert(png, bmp), 0) << api.LastText();
  ASSERT_EQ(api.Convert(back, png), 0) << api.LastText();
  EXPECT_EQ(api.Last().code, 0);
  const std::vector<uint8_t> a = ReadBytes(bmp), b = ReadBytes(back);
  ASSERT_EQ(a.size(), b.size());
  EXPECT_TRUE(std::equal(a.begin() + 54, a.end(), b.begin() + 54)) << "pixels differ";
}

// A short movie made by the peer, so that nothing of ours has read or written
// an AVI before the library reads it.
std::string PeerAvi(const ScratchDir& dir) {
  const std::string avi = dir.File("peer.avi");
  Shell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=10:duration=1 -c:v rawvideo "
        "-pix_fmt bgr24 '" + avi + "'");
  return avi;
}

TEST(HostModules, StillsMapNoModuleAndTheFirstAviReadMapsTheMovieModule) {
  REQUIRE_PEER("ffmpeg");
  ScratchDir dir;
  const Api api(Lib().handle());
  ASSERT_NE(api.quickConvert, nullptr) << Lib().error();
  ExpectStillRoundTrip(api, dir);
  EXPECT_FALSE(Mapped(kMovieFile));
  EXPECT_FALSE(Mapped(kSoundFile));
  EXPECT_FALSE(Mapped("libavcodec"));
  EXPECT_FALSE(Mapped("libvorbis"));
  EXPECT_FALSE(Mapped(kUiFile));
  EXPECT_FALSE(Mapped("libQt6"));

  const std::string avi = PeerAvi(dir);
  QorFileInfo info{};
  api.getFileInfo(avi.c_str(), 0, &info, nullptr, nullptr);
  ASSERT_EQ(api.Last().code, 0) << api.LastText();
  EXPECT_EQ(info.frameCount, 10);
  EXPECT_EQ(info.width, 64);
  EXPECT_TRUE(Mapped(kMovieFile));
  EXPECT_TRUE(Mapped("libavcodec"));
  // The sound module is the Vorbis layer's alone.
  EXPECT_FALSE(Mapped(kSoundFile));
  EXPECT_FALSE(Mapped("libQt6"));
}

// The built library, or a copy of it in scratch without the module `hidden`.
fs::path LibraryWithout(const ScratchDir& dir, const char* hidden) {
  const fs::path built = fs::path(QOR_LIBRARY_FILE).parent_path();
  if (hidden == nullptr) return QOR_LIBRARY_FILE;
  const fs::path copy = dir.File("lib");
  fs::create_directory(copy);
  for (const char* name : {"libqor-2.8.0.so", kMovieFile, kSoundFile, kUiFile})
    if (std::strcmp(name, hidden) != 0) fs::copy_file(built / name, copy / name);
  EXPECT_TRUE(fs::exists(built / hidden));
  return copy / "libqor-2.8.0.so";
}

// What the Qt host printed, as "key rest-of-line" pairs.
std::string Fact(const std::string& report, const std::string& key) {
  std::istringstream lines(report);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(key + " ", 0) == 0) return line.substr(key.size() + 1);
  return "(missing " + key + ")";
}

std::string RunQtHost(const ScratchDir& dir, const fs::path& library) {
  WriteBmp(dir.File("q.bmp"), 8, 8);
  return Capture("QT_QPA_PLATFORM=offscreen '" QOR_QT_DIALOG_HOST "' '" + library.string() +
                 "' '" + dir.File("") + "' 2>/dev/null");
}

// A Qt host's option dialog loads the ui module on first use and really
// runs (OK pressed); without the module the dialog fails with the clear
// error and stills still convert.
TEST(HostModules, ADialogInAQtHostLoadsTheUiModuleAndFailsClearlyWithoutIt) {
  {
    ScratchDir dir;
    const std::string report = RunQtHost(dir, LibraryWithout(dir, nullptr));
    EXPECT_EQ(Fact(report, "ui-before"), "0") << report;
    EXPECT_EQ(Fact(report, "dialog"), "-1 class 0 code 0") << report;
    EXPECT_EQ(Fact(report, "ui-after"), "1") << report;
    EXPECT_EQ(Fact(report, "still"), "0") << report;
  }
  {
    ScratchDir dir;
    const fs::path library = LibraryWithout(dir, kUiFile);
    const std::string report = RunQtHost(dir, library);
    EXPECT_EQ(Fact(report, "dialog"), "0 class 1 code 1000") << report;
    EXPECT_NE(Fact(report, "text").find(std::string("The module ") + kUiFile +
                                        " could not be loaded"),
              std::string::npos) << report;
    EXPECT_NE(Fact(report, "text").find((library.parent_path() / kUiFile).string()),
              std::string::npos) << report;
    EXPECT_EQ(Fact(report, "ui-after"), "0") << report;
    EXPECT_EQ(Fact(report, "still"), "0") << report;
  }
}

// The library and its sound module copied to a folder of their own, without
// the movie module.
TEST(HostModules, WithoutTheMovieModuleAnAviFailsClearlyAndStillsConvert) {
  REQUIRE_PEER("ffmpeg");
  ScratchDir dir;
  const fs::path built = fs::path(QOR_LIBRARY_FILE).parent_path();
  const fs::path copy = dir.File("lib");
  fs::create_directory(copy);
  for (const char* name : {"libqor-2.8.0.so", kSoundFile})
    fs::copy_file(built / name, copy / name);
  ASSERT_TRUE(fs::exists(built / kMovieFile));

  void* h = dlopen((copy / "libqor-2.8.0.so").c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  ASSERT_NE(h, nullptr) << dlerror();
  const Api api(h);

  const std::string avi = PeerAvi(dir);
  QorFileInfo info{};
  api.getFileInfo(avi.c_str(), 0, &info, nullptr, nullptr);
  const QorLastError rec = api.Last();
  EXPECT_EQ(rec.code, 1000);
  EXPECT_EQ(rec.errClass, 1);
  const std::string text = api.LastText();
  EXPECT_NE(text.find(std::string("The module ") + kMovieFile + " could not be loaded"),
            std::string::npos) << text;
  EXPECT_NE(text.find((copy / kMovieFile).string()), std::string::npos) << text;
  EXPECT_FALSE(Mapped(kMovieFile));

  // A conversion to AVI fails the same way and leaves no output behind.
  const std::string bmp = dir.File("one.bmp"), out = dir.File("out.avi");
  WriteBmp(bmp, 16, 16);
  EXPECT_NE(api.Convert(out, bmp), 0);
  EXPECT_NE(api.LastText().find(kMovieFile), std::string::npos) << api.LastText();
  EXPECT_FALSE(fs::exists(out));

  ExpectStillRoundTrip(api, dir);
}

// The core exports the library's names and nothing else; each module its
// one entry.
TEST(HostModules, EachFileExportsOnlyItsOwnNames) {
  REQUIRE_PEER("nm");
  const fs::path built = fs::path(QOR_LIBRARY_FILE).parent_path();
  auto exported = [](const fs::path& file) {
    return Capture("nm -D --defined-only '" + file.string() +
                   "' | awk '$2 ~ /[TDBRVWiu]/ {print $3}' | sort");
  };
  std::istringstream core(exported(QOR_LIBRARY_FILE));
  int count = 0;
  for (std::string name; std::getline(core, name); count++)
    EXPECT_EQ(name.rfind("Qor", 0), 0u) << name;
  EXPECT_EQ(count, 147);
  EXPECT_EQ(exported(built / kMovieFile), "qor_module_movie_v1\n");
  EXPECT_EQ(exported(built / kSoundFile), "qor_module_sound_v1\n");
  EXPECT_EQ(exported(built / kUiFile), "qor_module_ui_v1\n");
  // Nothing of Qt is needed to load the core.
  EXPECT_EQ(Capture("ldd '" + std::string(QOR_LIBRARY_FILE) + "' | grep -c libQt6"), "0\n");
}

}  // namespace
