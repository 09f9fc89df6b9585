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

#define STUB_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int32_t kStatusOk = 0;
constexpr int32_t kStatusLibraryError = 1000;
constexpr size_t kFileInfoSize = 756;

struct StubImage {
  std::string loadedFrom;
};

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
}
STUB_EXPORT void StubSetFileInfo(const void* info) {
  std::memcpy(g_fileInfo, info, sizeof g_fileInfo);
}
STUB_EXPORT void StubSetUnreadable(const char* name) { g_unreadable.insert(name); }

// ---- the exports
STUB_EXPORT void* QorAlloc() {
  Log("QorAlloc()");
  return new int(0);
}
STUB_EXPORT void QorFree(void* mData) {
  Log("QorFree()");
  delete static_cast<int*>(mData);
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

// ---- image processing: recorded with their arguments; the picture stays as
// it was loaded.
namespace {

std::string Real(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string Ints(std::initializer_list<int32_t> values) {
  std::string text;
  for (int32_t value : values) text += (text.empty() ? "" : ",") + std::to_string(value);
  return text;
}

}  // namespace

STUB_EXPORT void QorImgGamma(void*, double R, double G, double B) {
  Log("QorImgGamma(" + Real(R) + "," + Real(G) + "," + Real(B) + ")");
}
STUB_EXPORT void QorImgBrightness(void*, int32_t R, int32_t G, int32_t B) {
  Log("QorImgBrightness(" + Ints({R, G, B}) + ")");
}
STUB_EXPORT void QorImgContrast(void*, int32_t R, int32_t G, int32_t B) {
  Log("QorImgContrast(" + Ints({R, G, B}) + ")");
}
STUB_EXPORT void QorImgSaturation(void*, int32_t pct) { Log("QorImgSaturation(" + Ints({pct}) + ")"); }
STUB_EXPORT void QorImgSoften(void*) { Log("QorImgSoften()"); }
STUB_EXPORT void QorImgSharpen(void*) { Log("QorImgSharpen()"); }
STUB_EXPORT void QorImgFindEdges(void*) { Log("QorImgFindEdges()"); }
STUB_EXPORT void QorImgEdgeEnhance(void*) { Log("QorImgEdgeEnhance()"); }
STUB_EXPORT void QorImgRotate(void*, int32_t direction) { Log("QorImgRotate(" + Ints({direction}) + ")"); }
STUB_EXPORT void QorImgFlipVertical(void*) { Log("QorImgFlipVertical()"); }
STUB_EXPORT void QorImgFlipHorizontal(void*) { Log("QorImgFlipHorizontal()"); }
