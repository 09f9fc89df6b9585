#include "LibQor.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace LibQor {
namespace {

namespace fs = std::filesystem;

enum ExportId {
  kQorAlloc,
  kQorFree,
  kQorGetFileInfo,
  kQorCheckError,
  kQorGetLastError,
  kQorImgAlloc,
  kQorImgFree,
  kQorImgLoadSingle,
  kQorImgSaveSingle,
  kQorImgGetInfo,
  // conversion
  kQorMakeErrorStr,
  kQorRGB,
  kQorListAlloc,
  kQorListFree,
  kQorListAdd,
  kQorListGetName,
  kQorListGetFrameCount,
  kQorListGetSampleCount,
  kQorSetOutputFile,
  kQorSetFrameRate,
  kQorSetKeepDuration,
  kQorSetResolution,
  kQorSetBpp,
  kQorSetDithering,
  kQorForceCompatibility,
  kQorSetAudioFormat,
  kQorSetCodec,
  kQorSetBitRate,
  kQorOutputDlg,
  kQorConvert,
  kQorAssignVideoSource,
  kQorAssignVideoFunc,
  kQorAssignAudioSource,
  kQorAssignAudioFunc,
  kQorAssignProgress,
  kQorAssignError,
  kQorSrcSetFile,
  kQorSrcFinished,
  kQorTextAlloc,
  kQorTextFree,
  kQorTextSetFont,
  kQorTextSetColor,
  kQorTextShadow,
  kQorTextOut,
  kQorGetElapsedTime,
  kQorGetRemainingTime,
  kQorMakeTimeStr,
  // image processing
  kQorImgGamma,
  kQorImgBrightness,
  kQorImgContrast,
  kQorImgSaturation,
  kQorImgSoften,
  kQorImgSharpen,
  kQorImgFindEdges,
  kQorImgEdgeEnhance,
  kQorImgRotate,
  kQorImgFlipVertical,
  kQorImgFlipHorizontal,
  kExportCount
};

struct Slot {
  const char* name;
  void* address;
};

// One row per export the application calls; the address is filled on the
// export's first call.
Slot g_table[kExportCount] = {
    {"QorAlloc", nullptr},         {"QorFree", nullptr},
    {"QorGetFileInfo", nullptr},   {"QorCheckError", nullptr},
    {"QorGetLastError", nullptr},  {"QorImgAlloc", nullptr},
    {"QorImgFree", nullptr},       {"QorImgLoadSingle", nullptr},
    {"QorImgSaveSingle", nullptr}, {"QorImgGetInfo", nullptr},
    // conversion
    {"QorMakeErrorStr", nullptr},
    {"QorRGB", nullptr},
    {"QorListAlloc", nullptr},
    {"QorListFree", nullptr},
    {"QorListAdd", nullptr},
    {"QorListGetName", nullptr},
    {"QorListGetFrameCount", nullptr},
    {"QorListGetSampleCount", nullptr},
    {"QorSetOutputFile", nullptr},
    {"QorSetFrameRate", nullptr},
    {"QorSetKeepDuration", nullptr},
    {"QorSetResolution", nullptr},
    {"QorSetBpp", nullptr},
    {"QorSetDithering", nullptr},
    {"QorForceCompatibility", nullptr},
    {"QorSetAudioFormat", nullptr},
    {"QorSetCodec", nullptr},
    {"QorSetBitRate", nullptr},
    {"QorOutputDlg", nullptr},
    {"QorConvert", nullptr},
    {"QorAssignVideoSource", nullptr},
    {"QorAssignVideoFunc", nullptr},
    {"QorAssignAudioSource", nullptr},
    {"QorAssignAudioFunc", nullptr},
    {"QorAssignProgress", nullptr},
    {"QorAssignError", nullptr},
    {"QorSrcSetFile", nullptr},
    {"QorSrcFinished", nullptr},
    {"QorTextAlloc", nullptr},
    {"QorTextFree", nullptr},
    {"QorTextSetFont", nullptr},
    {"QorTextSetColor", nullptr},
    {"QorTextShadow", nullptr},
    {"QorTextOut", nullptr},
    {"QorGetElapsedTime", nullptr},
    {"QorGetRemainingTime", nullptr},
    {"QorMakeTimeStr", nullptr},
    // image processing
    {"QorImgGamma", nullptr},      {"QorImgBrightness", nullptr},
    {"QorImgContrast", nullptr},   {"QorImgSaturation", nullptr},
    {"QorImgSoften", nullptr},     {"QorImgSharpen", nullptr},
    {"QorImgFindEdges", nullptr},  {"QorImgEdgeEnhance", nullptr},
    {"QorImgRotate", nullptr},     {"QorImgFlipVertical", nullptr},
    {"QorImgFlipHorizontal", nullptr},
};

void* g_library = nullptr;
std::string g_loadedFrom;

fs::path ExecutableFolder() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : exe.parent_path();
}

// The executable's folder first, then the library folder of the same build or
// install tree, then whatever the dynamic loader finds by the bare name.
std::vector<std::string> Candidates() {
  if (const char* forced = std::getenv(kLibraryEnv); forced && *forced)
    return {forced};
  std::vector<std::string> names;
  fs::path exeDir = ExecutableFolder();
  if (!exeDir.empty()) {
    for (const fs::path& dir : {exeDir, exeDir / ".." / "lib"}) {
      fs::path file = dir / kLibraryFile;
      std::error_code ec;
      if (fs::exists(file, ec)) names.push_back(file.lexically_normal().string());
    }
  }
  names.push_back(kLibraryFile);
  return names;
}

void* Library() {
  if (g_library) return g_library;
  std::string reason;
  for (const std::string& name : Candidates()) {
    // Kept mapped after dlclose: the library shares Qt's process-wide
    // blocks with the application, which must outlive it.
    g_library = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (g_library) {
      g_loadedFrom = name;
      return g_library;
    }
    reason = dlerror();
  }
  throw BindError("The library " + std::string(kLibraryFile) +
                  " cannot be loaded: " + reason);
}

template <class Fn>
Fn* Resolve(ExportId id) {
  Slot& slot = g_table[id];
  if (!slot.address) {
    void* lib = Library();
    slot.address = dlsym(lib, slot.name);
    if (!slot.address)
      throw BindError("The function " + std::string(slot.name) +
                      " is missing from " + g_loadedFrom + ".");
  }
  return reinterpret_cast<Fn*>(slot.address);
}

}  // namespace

// The export's address, typed as the public header declares it.
#define BOUND(name) Resolve<decltype(::name)>(k##name)

QorHandle QorAlloc() { return BOUND(QorAlloc)(); }

void QorFree(QorHandle mData) {
  BOUND(QorFree)(mData);
}

void QorGetFileInfo(const char* filename, int32_t seqDetect, FileInfo* info,
                    InfoProgressFn progress, void* progressData) {
  BOUND(QorGetFileInfo)(filename, seqDetect, info, progress, progressData);
}

QorBool QorCheckError() { return BOUND(QorCheckError)(); }

void QorGetLastError(QorLastError* rec) {
  BOUND(QorGetLastError)(rec);
}

QorHandle QorImgAlloc() { return BOUND(QorImgAlloc)(); }

void QorImgFree(QorHandle mImg) {
  BOUND(QorImgFree)(mImg);
}

int32_t QorImgLoadSingle(QorHandle mImg, const char* fileName, int32_t frameNum) {
  return BOUND(QorImgLoadSingle)(mImg, fileName, frameNum);
}

int32_t QorImgSaveSingle(QorHandle mImg, const char* fileName, int32_t codec) {
  return BOUND(QorImgSaveSingle)(mImg, fileName, codec);
}

void QorImgGetInfo(QorHandle mImg, int32_t* resX, int32_t* resY, int32_t* bpp,
                   int32_t* totalBytes, void** pixPtr, void** palPtr) {
  BOUND(QorImgGetInfo)(mImg, resX, resY, bpp, totalBytes, pixPtr, palPtr);
}

// ---- conversion

void QorMakeErrorStr(const QorLastError* rec, char* errStr) {
  BOUND(QorMakeErrorStr)(rec, errStr);
}
int32_t QorRGB(int32_t r, int32_t g, int32_t b) { return BOUND(QorRGB)(r, g, b); }
QorHandle QorListAlloc() { return BOUND(QorListAlloc)(); }
void QorListFree(QorHandle mList) { BOUND(QorListFree)(mList); }
int32_t QorListAdd(QorHandle mList, const char* fileSpec, int32_t fileType,
                   InfoProgressFn progress, void* progressData) {
  return BOUND(QorListAdd)(mList, fileSpec, fileType, progress, progressData);
}
QorBool QorListGetName(QorHandle mList, int32_t fileIndex, char* filename) {
  return BOUND(QorListGetName)(mList, fileIndex, filename);
}
int32_t QorListGetFrameCount(QorHandle mList) { return BOUND(QorListGetFrameCount)(mList); }
int32_t QorListGetSampleCount(QorHandle mList) { return BOUND(QorListGetSampleCount)(mList); }
void QorSetOutputFile(QorHandle mData, const char* vid, const char* aud) {
  BOUND(QorSetOutputFile)(mData, vid, aud);
}
void QorSetFrameRate(QorHandle mData, double fps) { BOUND(QorSetFrameRate)(mData, fps); }
void QorSetKeepDuration(QorHandle mData, QorBool keepDuration) {
  BOUND(QorSetKeepDuration)(mData, keepDuration);
}
void QorSetResolution(QorHandle mData, int32_t resX, int32_t resY) {
  BOUND(QorSetResolution)(mData, resX, resY);
}
void QorSetBpp(QorHandle mData, int32_t bpp) { BOUND(QorSetBpp)(mData, bpp); }
void QorSetDithering(QorHandle mData, int32_t ditheringType) {
  BOUND(QorSetDithering)(mData, ditheringType);
}
void QorForceCompatibility(QorHandle mData, QorBool turnOn) {
  BOUND(QorForceCompatibility)(mData, turnOn);
}
void QorSetAudioFormat(QorHandle mData, int32_t sampleRate, int32_t channels, int32_t bits) {
  BOUND(QorSetAudioFormat)(mData, sampleRate, channels, bits);
}
void QorSetCodec(QorHandle mData, int32_t fileFmtID, int32_t codec) {
  BOUND(QorSetCodec)(mData, fileFmtID, codec);
}
void QorSetBitRate(QorHandle mData, int32_t fileFmtID, int32_t kbps) {
  BOUND(QorSetBitRate)(mData, fileFmtID, kbps);
}
QorBool QorOutputDlg(QorHandle mData, QorHandle mList, const char* title,
                     QorBool enableChanges) {
  return BOUND(QorOutputDlg)(mData, mList, title, enableChanges);
}
int32_t QorConvert(QorHandle mData) { return BOUND(QorConvert)(mData); }
void QorAssignVideoSource(QorHandle mData, QorSourceProc procedure) {
  BOUND(QorAssignVideoSource)(mData, procedure);
}
void QorAssignVideoFunc(QorHandle mData, QorVideoFuncProc procedure) {
  BOUND(QorAssignVideoFunc)(mData, procedure);
}
void QorAssignAudioSource(QorHandle mData, QorSourceProc procedure) {
  BOUND(QorAssignAudioSource)(mData, procedure);
}
void QorAssignAudioFunc(QorHandle mData, QorAudioFuncProc procedure) {
  BOUND(QorAssignAudioFunc)(mData, procedure);
}
void QorAssignProgress(QorHandle mData, QorProgressProc procedure) {
  BOUND(QorAssignProgress)(mData, procedure);
}
void QorAssignError(QorHandle mData, QorErrorProc procedure) {
  BOUND(QorAssignError)(mData, procedure);
}
void QorSrcSetFile(QorHandle mData, const char* filename) {
  BOUND(QorSrcSetFile)(mData, filename);
}
void QorSrcFinished(QorHandle mData) { BOUND(QorSrcFinished)(mData); }
QorHandle QorTextAlloc() { return BOUND(QorTextAlloc)(); }
void QorTextFree(QorHandle mText) { BOUND(QorTextFree)(mText); }
void QorTextSetFont(QorHandle mText, const char* fontName, int32_t height, int32_t style) {
  BOUND(QorTextSetFont)(mText, fontName, height, style);
}
void QorTextSetColor(QorHandle mText, int32_t foreColor, int32_t shadowColor,
                     int32_t backColor, QorBool transp) {
  BOUND(QorTextSetColor)(mText, foreColor, shadowColor, backColor, transp);
}
void QorTextShadow(QorHandle mText, int32_t shadowMode, int32_t xOffset, int32_t yOffset) {
  BOUND(QorTextShadow)(mText, shadowMode, xOffset, yOffset);
}
void QorTextOut(QorHandle mImg, QorHandle mText, int32_t x, int32_t y, const char* textStr) {
  BOUND(QorTextOut)(mImg, mText, x, y, textStr);
}

double QorGetElapsedTime(QorHandle mData) { return BOUND(QorGetElapsedTime)(mData); }
double QorGetRemainingTime(QorHandle mData, int32_t totalFrames, int32_t totalSamples) {
  return BOUND(QorGetRemainingTime)(mData, totalFrames, totalSamples);
}
void QorMakeTimeStr(double sec, char* timeStr) { BOUND(QorMakeTimeStr)(sec, timeStr); }

// ---- image processing

void QorImgGamma(QorHandle mImg, double R, double G, double B) {
  BOUND(QorImgGamma)(mImg, R, G, B);
}

void QorImgBrightness(QorHandle mImg, int32_t R, int32_t G, int32_t B) {
  BOUND(QorImgBrightness)(mImg, R, G, B);
}

void QorImgContrast(QorHandle mImg, int32_t R, int32_t G, int32_t B) {
  BOUND(QorImgContrast)(mImg, R, G, B);
}

void QorImgSaturation(QorHandle mImg, int32_t pct) { BOUND(QorImgSaturation)(mImg, pct); }

void QorImgSoften(QorHandle mImg) { BOUND(QorImgSoften)(mImg); }

void QorImgSharpen(QorHandle mImg) { BOUND(QorImgSharpen)(mImg); }

void QorImgFindEdges(QorHandle mImg) { BOUND(QorImgFindEdges)(mImg); }

void QorImgEdgeEnhance(QorHandle mImg) { BOUND(QorImgEdgeEnhance)(mImg); }

void QorImgRotate(QorHandle mImg, int32_t direction) { BOUND(QorImgRotate)(mImg, direction); }

void QorImgFlipVertical(QorHandle mImg) { BOUND(QorImgFlipVertical)(mImg); }

void QorImgFlipHorizontal(QorHandle mImg) { BOUND(QorImgFlipHorizontal)(mImg); }

ScopedImage::~ScopedImage() {
  if (!img_) return;
  // A destructor must not throw; an image that was allocated can be freed
  // unless the library lacks the free export, and then nothing can free it.
  try {
    QorImgFree(img_);
  } catch (const BindError&) {
  }
}

std::string LoadedFrom() { return g_library ? g_loadedFrom : std::string(); }

void Unload() {
  for (Slot& slot : g_table) slot.address = nullptr;
  if (g_library) dlclose(g_library);
  g_library = nullptr;
  g_loadedFrom.clear();
}

}  // namespace LibQor
