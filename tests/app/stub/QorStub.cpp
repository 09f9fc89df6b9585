// A recording stand-in for libqor-2.8.0.so with the export names the
// application binds, built only for the application's tests. Every call is
// written to a log the tests read back; file descriptions are whatever the
// test scripted, and a "save" copies the file the image was "loaded" from,
// so a BMP source comes back as a real picture. Built a second time without
// QorGetFileInfo to show a missing export.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#define STUB_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int32_t kStatusOk = 0;
constexpr int32_t kStatusLibraryError = 1000;
constexpr int32_t kAuto = -1357902468;
constexpr size_t kFileInfoSize = 756;

struct StubImage {
  std::string loadedFrom;
};

using SourceProc = void (*)(void*, int32_t);
using VideoProc = void (*)(void*, void*, int32_t);
using AudioProc = void (*)(void*, void*, int32_t);
using ProgressProc = void (*)(void*, int32_t, int32_t, int32_t);
using ErrorProc = void (*)(void*, const char*, int32_t*);

// A conversion handle: its callbacks, its depth and the block the running
// source callback describes.
struct StubHandle {
  SourceProc videoSource = nullptr, audioSource = nullptr;
  VideoProc videoFunc = nullptr;
  AudioProc audioFunc = nullptr;
  ProgressProc progress = nullptr;
  ErrorProc error = nullptr;
  int32_t bpp = 24;
  std::string block;
  bool finished = false;
};

struct StubList {
  std::vector<std::string> names;
  int32_t frames = 0, samples = 0;
};

// Scripted by the tests.
int32_t g_framesPerFile = 1;
int32_t g_samplesPerFile = 0;
int32_t g_dialogAnswer = -1;
int32_t g_dialogFailure = 0;
int32_t g_convertResult = 0;
bool g_sourceError = false;

std::string g_log;
unsigned char g_fileInfo[kFileInfoSize];
std::set<std::string> g_unreadable;
int32_t g_lastCode = kStatusOk;

void Log(const std::string& line) { g_log += line + "\n"; }

std::string Text(const char* s) { return s ? s : "(null)"; }

bool Readable(const char* name) {
  std::error_code ec;
  return name && std::filesystem::is_regular_file(name, ec) && !g_unreadable.count(name);
}

int32_t Finish(bool ok) {
  g_lastCode = ok ? kStatusOk : kStatusLibraryError;
  return g_lastCode;
}

}  // namespace

// ---- scripting and reading back
STUB_EXPORT const char* StubCalls() { return g_log.c_str(); }
STUB_EXPORT void StubReset() {
  g_log.clear();
  std::memset(g_fileInfo, 0, sizeof g_fileInfo);
  g_unreadable.clear();
  g_lastCode = kStatusOk;
  g_framesPerFile = 1;
  g_samplesPerFile = 0;
  g_dialogAnswer = -1;
  g_dialogFailure = kStatusOk;
  g_convertResult = kStatusOk;
  g_sourceError = false;
}
// Frames (video lists) and samples (audio lists) each readable file adds.
STUB_EXPORT void StubSetListCounts(int32_t frames, int32_t samples) {
  g_framesPerFile = frames;
  g_samplesPerFile = samples;
}
STUB_EXPORT void StubSetDialogAnswer(int32_t answer) { g_dialogAnswer = answer; }
// A dialog that fails: it returns 0 and leaves this status as the last error.
STUB_EXPORT void StubSetDialogFailure(int32_t status) { g_dialogFailure = status; }
// The status QorConvert ends with; with sourceError its first source cannot
// be read and the error callback is asked.
STUB_EXPORT void StubSetConvertResult(int32_t status, int32_t sourceError) {
  g_convertResult = status;
  g_sourceError = sourceError != 0;
}
STUB_EXPORT void StubSetFileInfo(const void* info) {
  std::memcpy(g_fileInfo, info, sizeof g_fileInfo);
}
STUB_EXPORT void StubSetUnreadable(const char* name) { g_unreadable.insert(name); }

// ---- the exports
STUB_EXPORT void* QorAlloc() {
  Log("QorAlloc()");
  return new StubHandle;
}
STUB_EXPORT void QorFree(void* mData) {
  Log("QorFree()");
  delete static_cast<StubHandle*>(mData);
}

#ifndef STUB_WITHOUT_FILEINFO
STUB_EXPORT void QorGetFileInfo(const char* filename, int32_t seqDetect, void* info,
                                void* progress, void* progressData) {
  Log("QorGetFileInfo(" + Text(filename) + "," + std::to_string(seqDetect) + "," +
      (progress ? "progress" : "0") + "," + (progressData ? "data" : "0") + ")");
  // A file that cannot be described leaves the caller's record untouched.
  if (Finish(Readable(filename) && info) == kStatusOk) std::memcpy(info, g_fileInfo, sizeof g_fileInfo);
}
#endif

STUB_EXPORT int32_t QorCheckError() {
  Log("QorCheckError()");
  return g_lastCode != kStatusOk ? -1 : 0;
}
STUB_EXPORT void QorGetLastError(int32_t* rec) {
  Log("QorGetLastError()");
  rec[0] = g_lastCode;
  rec[1] = rec[2] = 0;
}

STUB_EXPORT void* QorImgAlloc() {
  Log("QorImgAlloc()");
  return new StubImage;
}
STUB_EXPORT void QorImgFree(void* mImg) {
  Log("QorImgFree()");
  delete static_cast<StubImage*>(mImg);
}
STUB_EXPORT int32_t QorImgLoadSingle(void* mImg, const char* fileName, int32_t frameNum) {
  Log("QorImgLoadSingle(" + Text(fileName) + "," + std::to_string(frameNum) + ")");
  auto* image = static_cast<StubImage*>(mImg);
  if (!image) return Finish(true);
  image->loadedFrom = Readable(fileName) ? fileName : "";
  return Finish(!image->loadedFrom.empty());
}
STUB_EXPORT int32_t QorImgSaveSingle(void* mImg, const char* fileName, int32_t codec) {
  Log("QorImgSaveSingle(" + Text(fileName) + "," + std::to_string(codec) + ")");
  auto* image = static_cast<StubImage*>(mImg);
  if (!image) return Finish(true);
  std::error_code ec;
  const bool copied = !image->loadedFrom.empty() &&
      std::filesystem::copy_file(image->loadedFrom, fileName,
                                 std::filesystem::copy_options::overwrite_existing, ec);
  return Finish(copied);
}
STUB_EXPORT void QorImgGetInfo(void*, int32_t* resX, int32_t* resY, int32_t* bpp,
                               int32_t* totalBytes, void** pixPtr, void** palPtr) {
  Log("QorImgGetInfo()");
  *resX = *resY = *bpp = *totalBytes = 0;
  *pixPtr = *palPtr = nullptr;
}

// ---- conversion
namespace {

std::string Num(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}
std::string Int(int32_t v) { return std::to_string(v); }
StubHandle* H(void* h) { return static_cast<StubHandle*>(h); }

// Asks a source callback for blocks from 0 until it names none; returns the
// names it gave.
std::vector<std::string> AskSources(StubHandle* h, SourceProc proc) {
  std::vector<std::string> names;
  for (int32_t n = 0; proc && n < 100; ++n) {
    h->block.clear();
    h->finished = false;
    proc(h, n);
    if (h->finished || h->block.empty()) break;
    names.push_back(h->block);
  }
  return names;
}

}  // namespace

STUB_EXPORT void QorMakeErrorStr(const int32_t* rec, char* errStr) {
  Log("QorMakeErrorStr(" + Int(rec[0]) + ")");
  const std::string text = rec[0] == 1 ? "Invalid output file." : "Stub error " + Int(rec[0]) + ".";
  std::memcpy(errStr, text.c_str(), text.size() + 1);
}
STUB_EXPORT int32_t QorRGB(int32_t r, int32_t g, int32_t b) {
  Log("QorRGB(" + Int(r) + "," + Int(g) + "," + Int(b) + ")");
  return r | g << 8 | b << 16;
}

STUB_EXPORT void* QorListAlloc() {
  Log("QorListAlloc()");
  return new StubList;
}
STUB_EXPORT void QorListFree(void* mList) {
  Log("QorListFree()");
  delete static_cast<StubList*>(mList);
}
STUB_EXPORT int32_t QorListAdd(void* mList, const char* filePattern, int32_t type, void* progress,
                               void* data) {
  Log("QorListAdd(" + Text(filePattern) + "," + Int(type) + "," + (progress ? "progress" : "0") + "," +
      (data ? "data" : "0") + ")");
  auto* list = static_cast<StubList*>(mList);
  if (!Readable(filePattern)) return 0;
  list->names.push_back(filePattern);
  if (type == 8) list->frames += g_framesPerFile;
  if (type == 16) list->samples += g_samplesPerFile;
  return 1;
}
STUB_EXPORT int32_t QorListGetName(void* mList, int32_t index, char* name) {
  Log("QorListGetName(" + Int(index) + ")");
  auto* list = static_cast<StubList*>(mList);
  const bool inside = index >= 0 && index < int32_t(list->names.size());
  const std::string text = inside ? list->names[index] : "";
  std::memcpy(name, text.c_str(), text.size() + 1);
  return inside ? -1 : 0;
}
STUB_EXPORT int32_t QorListGetFrameCount(void* mList) {
  Log("QorListGetFrameCount()");
  return static_cast<StubList*>(mList)->frames;
}
STUB_EXPORT int32_t QorListGetSampleCount(void* mList) {
  Log("QorListGetSampleCount()");
  return static_cast<StubList*>(mList)->samples;
}

STUB_EXPORT void QorSetOutputFile(void*, const char* vid, const char* aud) {
  Log("QorSetOutputFile(" + Text(vid) + "," + Text(aud) + ")");
}
STUB_EXPORT void QorSetFrameRate(void*, double fps) { Log("QorSetFrameRate(" + Num(fps) + ")"); }
STUB_EXPORT void QorSetKeepDuration(void*, int32_t on) { Log("QorSetKeepDuration(" + Int(on) + ")"); }
STUB_EXPORT void QorSetResolution(void*, int32_t x, int32_t y) {
  Log("QorSetResolution(" + Int(x) + "," + Int(y) + ")");
}
STUB_EXPORT void QorSetBpp(void* h, int32_t bpp) {
  Log("QorSetBpp(" + Int(bpp) + ")");
  H(h)->bpp = bpp;
}
STUB_EXPORT void QorSetDithering(void*, int32_t d) { Log("QorSetDithering(" + Int(d) + ")"); }
STUB_EXPORT void QorForceCompatibility(void*, int32_t on) {
  Log("QorForceCompatibility(" + Int(on) + ")");
}
STUB_EXPORT void QorSetAudioFormat(void*, int32_t rate, int32_t channels, int32_t bits) {
  Log("QorSetAudioFormat(" + Int(rate) + "," + Int(channels) + "," + Int(bits) + ")");
}
STUB_EXPORT void QorSetCodec(void*, int32_t fmt, int32_t codec) {
  Log("QorSetCodec(" + Int(fmt) + "," + Int(codec) + ")");
}
STUB_EXPORT void QorSetBitRate(void*, int32_t fmt, int32_t kbps) {
  Log("QorSetBitRate(" + Int(fmt) + "," + Int(kbps) + ")");
}
// The format of a name's extension, as the library's table gives it for
// the endings the tests use.
STUB_EXPORT int32_t QorGetFileFmtID(const char* filename) {
  Log("QorGetFileFmtID(" + Text(filename) + ")");
  const std::string ending = std::filesystem::path(Text(filename)).extension().string();
  if (ending == ".avi") return 6;
  if (ending == ".mpg" || ending == ".m2v") return 11;
  return kAuto;
}
STUB_EXPORT int32_t QorOutputDlg(void*, void* list, const char* title, int32_t enable) {
  Log("QorOutputDlg(" + std::string(list ? "list" : "0") + "," + Text(title) + "," +
      Int(enable) + ")");
  if (g_dialogFailure != kStatusOk) {
    g_lastCode = g_dialogFailure;
    return 0;
  }
  return g_dialogAnswer;
}

STUB_EXPORT void QorAssignVideoSource(void* h, SourceProc p) {
  Log(std::string("QorAssignVideoSource(") + (p ? "proc" : "0") + ")");
  H(h)->videoSource = p;
}
STUB_EXPORT void QorAssignVideoFunc(void* h, VideoProc p) {
  Log(std::string("QorAssignVideoFunc(") + (p ? "proc" : "0") + ")");
  H(h)->videoFunc = p;
}
STUB_EXPORT void QorAssignAudioSource(void* h, SourceProc p) {
  Log(std::string("QorAssignAudioSource(") + (p ? "proc" : "0") + ")");
  H(h)->audioSource = p;
}
STUB_EXPORT void QorAssignAudioFunc(void* h, AudioProc p) {
  Log(std::string("QorAssignAudioFunc(") + (p ? "proc" : "0") + ")");
  H(h)->audioFunc = p;
}
STUB_EXPORT void QorAssignProgress(void* h, ProgressProc p) {
  Log(std::string("QorAssignProgress(") + (p ? "proc" : "0") + ")");
  H(h)->progress = p;
}
STUB_EXPORT void QorAssignError(void* h, ErrorProc p) {
  Log(std::string("QorAssignError(") + (p ? "proc" : "0") + ")");
  H(h)->error = p;
}
STUB_EXPORT void QorSrcSetFile(void* h, const char* name) {
  Log("QorSrcSetFile(" + Text(name) + ")");
  H(h)->block = Text(name);
}
STUB_EXPORT void QorSrcFinished(void* h) {
  Log("QorSrcFinished()");
  H(h)->finished = true;
}

// Runs the passes a real conversion would (a palette pass first at 8 bits):
// each asks the source callbacks from block 0 and hands every frame of every
// named file to the frame callback.
STUB_EXPORT int32_t QorConvert(void* mData) {
  Log("QorConvert()");
  StubHandle* h = H(mData);
  if (h->progress) h->progress(h, 1, 0, 0);
  const int passes = h->bpp == 8 ? 2 : 1;
  for (int pass = 0; pass < passes; ++pass) {
    const std::vector<std::string> video = AskSources(h, h->videoSource);
    AskSources(h, h->audioSource);
    int32_t frame = 0;
    for (const std::string& name : video) {
      if (g_sourceError && h->error) {
        int32_t action = 1;
        h->error(h, name.c_str(), &action);
        Log("error answer " + Int(action));
        break;
      }
      for (int32_t i = 0; i < g_framesPerFile; ++i) {
        StubImage image{name};
        if (h->videoFunc) h->videoFunc(h, &image, frame++);
      }
    }
  }
  if (h->progress) h->progress(h, 0, 0, 0);
  g_lastCode = g_convertResult;
  return g_convertResult;
}

// A conversion takes 1.5 s and has 2 s left, whenever asked.
STUB_EXPORT double QorGetElapsedTime(void*) {
  Log("QorGetElapsedTime()");
  return 1.5;
}
STUB_EXPORT double QorGetRemainingTime(void*, int32_t frames, int32_t samples) {
  Log("QorGetRemainingTime(" + Int(frames) + "," + Int(samples) + ")");
  return 2;
}
STUB_EXPORT void QorMakeTimeStr(double sec, char* text) {
  Log("QorMakeTimeStr(" + Num(sec) + ")");
  std::snprintf(text, 16, "00:00:%02d", static_cast<int>(sec));
}

STUB_EXPORT void* QorTextAlloc() {
  Log("QorTextAlloc()");
  return new int(0);
}
STUB_EXPORT void QorTextFree(void* t) {
  Log("QorTextFree()");
  delete static_cast<int*>(t);
}
STUB_EXPORT void QorTextSetFont(void*, const char* font, int32_t height, int32_t style) {
  Log("QorTextSetFont(" + Text(font) + "," + Int(height) + "," + Int(style) + ")");
}
STUB_EXPORT void QorTextSetColor(void*, int32_t fore, int32_t shadow, int32_t back, int32_t transp) {
  Log("QorTextSetColor(" + Int(fore) + "," + Int(shadow) + "," + Int(back) + "," + Int(transp) + ")");
}
STUB_EXPORT void QorTextShadow(void*, int32_t mode, int32_t x, int32_t y) {
  Log("QorTextShadow(" + Int(mode) + "," + Int(x) + "," + Int(y) + ")");
}
STUB_EXPORT void QorTextOut(void* img, void*, int32_t x, int32_t y, const char* text) {
  Log("QorTextOut(" + static_cast<StubImage*>(img)->loadedFrom + "," + Int(x) + "," + Int(y) +
      "," + Text(text) + ")");
}

// ---- image processing: recorded with their arguments; the picture stays as
// it was loaded.
namespace {

// Reals as short as they print: slider tenths read 1.2, not 1.19999...
std::string Short(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string Ints(std::initializer_list<int32_t> values) {
  std::string text;
  for (int32_t value : values) text += (text.empty() ? "" : ",") + Int(value);
  return text;
}

}  // namespace

STUB_EXPORT void QorImgGamma(void*, double R, double G, double B) {
  Log("QorImgGamma(" + Short(R) + "," + Short(G) + "," + Short(B) + ")");
}
STUB_EXPORT void QorImgBrightness(void*, int32_t R, int32_t G, int32_t B) {
  Log("QorImgBrightness(" + Ints({R, G, B}) + ")");
}
STUB_EXPORT void QorImgContrast(void*, int32_t R, int32_t G, int32_t B) {
  Log("QorImgContrast(" + Ints({R, G, B}) + ")");
}
STUB_EXPORT void QorImgSaturation(void*, int32_t pct) { Log("QorImgSaturation(" + Int(pct) + ")"); }
STUB_EXPORT void QorImgSoften(void*) { Log("QorImgSoften()"); }
STUB_EXPORT void QorImgSharpen(void*) { Log("QorImgSharpen()"); }
STUB_EXPORT void QorImgFindEdges(void*) { Log("QorImgFindEdges()"); }
STUB_EXPORT void QorImgEdgeEnhance(void*) { Log("QorImgEdgeEnhance()"); }
STUB_EXPORT void QorImgRotate(void*, int32_t direction) { Log("QorImgRotate(" + Int(direction) + ")"); }
STUB_EXPORT void QorImgFlipVertical(void*) { Log("QorImgFlipVertical()"); }
STUB_EXPORT void QorImgFlipHorizontal(void*) { Log("QorImgFlipHorizontal()"); }
