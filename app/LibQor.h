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

// ---- conversion: error text, lists, output settings, the output-settings
// dialog, the conversion with its callbacks and source blocks, text sprites
void QorMakeErrorStr(const QorLastError* rec, char* errStr);
int32_t QorRGB(int32_t r, int32_t g, int32_t b);
QorHandle QorListAlloc();
void QorListFree(QorHandle mList);
int32_t QorListAdd(QorHandle mList, const char* fileSpec, int32_t fileType,
                   InfoProgressFn progress, void* progressData);
QorBool QorListGetName(QorHandle mList, int32_t fileIndex, char* filename);
int32_t QorListGetFrameCount(QorHandle mList);
int32_t QorListGetSampleCount(QorHandle mList);
void QorSetOutputFile(QorHandle mData, const char* vid, const char* aud);
void QorSetFrameRate(QorHandle mData, double fps);
void QorSetKeepDuration(QorHandle mData, QorBool keepDuration);
void QorSetResolution(QorHandle mData, int32_t resX, int32_t resY);
void QorSetBpp(QorHandle mData, int32_t bpp);
void QorSetDithering(QorHandle mData, int32_t ditheringType);
void QorForceCompatibility(QorHandle mData, QorBool turnOn);
void QorSetAudioFormat(QorHandle mData, int32_t sampleRate, int32_t channels, int32_t bits);
void QorSetCodec(QorHandle mData, int32_t fileFmtID, int32_t codec);
void QorSetBitRate(QorHandle mData, int32_t fileFmtID, int32_t kbps);
QorBool QorOutputDlg(QorHandle mData, QorHandle mList, const char* title,
                     QorBool enableChanges);
int32_t QorConvert(QorHandle mData);
void QorAssignVideoSource(QorHandle mData, QorSourceProc procedure);
void QorAssignVideoFunc(QorHandle mData, QorVideoFuncProc procedure);
void QorAssignAudioSource(QorHandle mData, QorSourceProc procedure);
void QorAssignAudioFunc(QorHandle mData, QorAudioFuncProc procedure);
void QorAssignProgress(QorHandle mData, QorProgressProc procedure);
void QorAssignError(QorHandle mData, QorErrorProc procedure);
void QorSrcSetFile(QorHandle mData, const char* filename);
void QorSrcFinished(QorHandle mData);
QorHandle QorTextAlloc();
void QorTextFree(QorHandle mText);
void QorTextSetFont(QorHandle mText, const char* fontName, int32_t height, int32_t style);
void QorTextSetColor(QorHandle mText, int32_t foreColor, int32_t shadowColor,
                     int32_t backColor, QorBool transp);
void QorTextShadow(QorHandle mText, int32_t shadowMode, int32_t xOffset, int32_t yOffset);
void QorTextOut(QorHandle mImg, QorHandle mText, int32_t x, int32_t y, const char* textStr);
double QorGetElapsedTime(QorHandle mData);
double QorGetRemainingTime(QorHandle mData, int32_t totalFrames, int32_t totalSamples);
// timeStr takes at least 16 bytes.
void QorMakeTimeStr(double sec, char* timeStr);

// The library's name buffers hold at most this many bytes with the zero.
constexpr int kNameBufferSize = 4096;

// The file the library was loaded from; empty while it is not loaded.
std::string LoadedFrom();
// Forgets the library and every export looked up; the next call loads again.
void Unload();

}  // namespace LibQor
