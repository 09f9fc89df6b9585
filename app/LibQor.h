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

// ---- conversion handle and file information
QorHandle QorAlloc();
void QorFree(QorHandle mData);
void QorGetFileInfo(const char* filename, int32_t seqDetect, FileInfo* info,
                    InfoProgressFn progress, void* progressData);

// ---- status
QorBool QorCheckError();
void QorGetLastError(QorLastError* rec);

// ---- images
QorHandle QorImgAlloc();
void QorImgFree(QorHandle mImg);
int32_t QorImgLoadSingle(QorHandle mImg, const char* fileName, int32_t frameNum);
int32_t QorImgSaveSingle(QorHandle mImg, const char* fileName, int32_t codec);
void QorImgGetInfo(QorHandle mImg, int32_t* resX, int32_t* resY, int32_t* bpp,
                   int32_t* totalBytes, void** pixPtr, void** palPtr);

// ---- image processing (the adjustment window's effects)
void QorImgGamma(QorHandle mImg, double R, double G, double B);
void QorImgBrightness(QorHandle mImg, int32_t R, int32_t G, int32_t B);
void QorImgContrast(QorHandle mImg, int32_t R, int32_t G, int32_t B);
void QorImgSaturation(QorHandle mImg, int32_t pct);
void QorImgSoften(QorHandle mImg);
void QorImgSharpen(QorHandle mImg);
void QorImgFindEdges(QorHandle mImg);
void QorImgEdgeEnhance(QorHandle mImg);
void QorImgRotate(QorHandle mImg, int32_t direction);
void QorImgFlipVertical(QorHandle mImg);
void QorImgFlipHorizontal(QorHandle mImg);

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

// The file the library was loaded from; empty while it is not loaded.
std::string LoadedFrom();
// Forgets the library and every export looked up; the next call loads again.
void Unload();

}  // namespace LibQor
