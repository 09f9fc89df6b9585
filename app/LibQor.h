// The application's binding to libqor-2.8.0.so. The library is loaded by its
// file name on the first call of any export, and each export is looked up by
// name on its own first call, so the program starts (and shows its windows)
// without the library. A missing library or export raises BindError at the
// call that needed it; the event handler that made the call shows it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "qor.h"

namespace LibQor {

constexpr const char* kLibraryFile = "libqor-2.8.0.so";
// Replaces the library search with one file (tests, side-by-side installs).
constexpr const char* kLibraryEnv = "QUILLON_LIBQOR";

class BindError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The library's own records, as its public header gives them.
using FileInfo = QorFileInfo;
using InfoProgressFn = QorInfoProgressProc;

// Every export the application calls, in one list: the binding's names,
// its table of addresses and its typed forwarding all come from it.
#define LIBQOR_EXPORTS(X)                                                              \
  /* conversion handle, file information and status */                                 \
  X(QorAlloc) X(QorFree) X(QorGetFileInfo) X(QorCheckError) X(QorGetLastError)         \
  X(QorMakeErrorStr) X(QorRGB)                                                         \
  /* images */                                                                         \
  X(QorImgAlloc) X(QorImgFree) X(QorImgLoadSingle) X(QorImgSaveSingle) X(QorImgGetInfo) \
  /* file lists */                                                                     \
  X(QorListAlloc) X(QorListFree) X(QorListAdd) X(QorListGetName)                       \
  X(QorListGetFrameCount) X(QorListGetSampleCount)                                     \
  /* output settings and the output-settings dialog */                                 \
  X(QorSetOutputFile) X(QorSetFrameRate) X(QorSetKeepDuration) X(QorSetResolution)    \
  X(QorSetBpp) X(QorSetDithering) X(QorForceCompatibility) X(QorSetAudioFormat)       \
  X(QorSetCodec) X(QorSetBitRate) X(QorOutputDlg) X(QorGetFileFmtID)                   \
  /* the conversion, its callbacks and source blocks */                                \
  X(QorConvert) X(QorAssignVideoSource) X(QorAssignVideoFunc) X(QorAssignAudioSource) \
  X(QorAssignAudioFunc) X(QorAssignProgress) X(QorAssignError) X(QorSrcSetFile)       \
  X(QorSrcFinished)                                                                    \
  /* the running conversion's times */                                                 \
  X(QorGetElapsedTime) X(QorGetRemainingTime) X(QorMakeTimeStr)                       \
  /* text sprites */                                                                   \
  X(QorTextAlloc) X(QorTextFree) X(QorTextSetFont) X(QorTextSetColor) X(QorTextShadow) \
  X(QorTextOut)                                                                        \
  /* image processing (the adjustment window's effects) */                             \
  X(QorImgGamma) X(QorImgBrightness) X(QorImgContrast) X(QorImgSaturation)            \
  X(QorImgSoften) X(QorImgSharpen) X(QorImgFindEdges) X(QorImgEdgeEnhance)            \
  X(QorImgRotate) X(QorImgFlipVertical) X(QorImgFlipHorizontal)

namespace Binding {

#define LIBQOR_ID(name) k##name,
enum ExportId : int { LIBQOR_EXPORTS(LIBQOR_ID) kExportCount };
#undef LIBQOR_ID

// The export's address, looked up by name on its first call (BindError when
// the library or the export is missing).
void* Address(ExportId id);

// Calls export id through its address, typed as qor.h declares it.
template <ExportId id, class Fn>
struct Export;
template <ExportId id, class R, class... Args>
struct Export<id, R(Args...)> {
  R operator()(Args... args) const {
    return reinterpret_cast<R (*)(Args...)>(Address(id))(args...);
  }
};

}  // namespace Binding

// LibQor::QorAlloc() and the others: each called as the export it stands for.
#define LIBQOR_DECLARE(name) \
  inline constexpr Binding::Export<Binding::k##name, decltype(::name)> name{};
LIBQOR_EXPORTS(LIBQOR_DECLARE)
#undef LIBQOR_DECLARE

// One library image for the length of one operation; freed on every way out.
class ScopedImage {
 public:
  ScopedImage() : img_(QorImgAlloc()) {}
  ~ScopedImage();
  ScopedImage(const ScopedImage&) = delete;
  ScopedImage& operator=(const ScopedImage&) = delete;
  QorHandle get() const { return img_; }

 private:
  QorHandle img_;
};

// The library's name buffers hold at most this many bytes with the zero.
constexpr int kNameBufferSize = 4096;

// The file the library was loaded from; empty while it is not loaded.
std::string LoadedFrom();
// Forgets the library and every export looked up; the next call loads again.
void Unload();

}  // namespace LibQor
