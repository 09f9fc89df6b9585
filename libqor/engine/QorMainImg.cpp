// Image exports: images a host holds as handles, filled from files, memory,
// raw camera samples and bitmaps, saved, copied, inspected, and drawn into
// the host's drawing surfaces.
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "engine/Common.h"
#include "engine/QorMain.h"
#include "formats/ConForm.h"
#include "formats/FF_BAY.h"
#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"
#include "media/ImgBasic.h"
#include "media/SndBasic.h"
#include "platform/Gdi.h"
#include "platform/GdiSurface.h"

using Common::ImgToStrLog;
using Common::IntToStrAuto;
using Common::LogLine;
using Common::LogValue;
using Common::PtrToStrLog;
using Common::Require;
using ImgBasic::Qimg;

namespace QorMain {
namespace {

// The host's image, checked before anything reads it; nil stays nil for the
// exports that do nothing without an image.
Qimg* AsImg(QorHandle handle) {
  return handle ? Common::ImgOf(handle, "mImg") : nullptr;
}

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

// A frame number counted from 0 as the source layer counts it, from 1.
int32_t FromZero(int32_t frameNum) {
  return frameNum == INT32_MAX ? INT32_MAX : frameNum + 1;
}

bool KnownDepth(int32_t bits) {
  return bits == 8 || bits == 15 || bits == 16 || bits == 24 || bits == 32;
}

// An image made inside an export and freed on every way out.
struct TempImg {
  Qimg img;
  TempImg() = default;
  TempImg(const TempImg&) = delete;
  TempImg& operator=(const TempImg&) = delete;
  // Freed without a monitor frame: entering one would clear the error pair
  // of a failure this destructor runs after. A block that a failed frame
  // already freed is no longer tracked and is left alone.
  ~TempImg() {
    if (img.data && !img.attached && Basic::MemIsTracked(img.data))
      Basic::MemFree(img.data);
  }
};

// A device context over the host's surface for the length of one call.
class SurfaceScope {
 public:
  explicit SurfaceScope(QorSurface* s) : SurfaceScope(*Checked(s)) {}
  Gdi::HDC handle() const { return dc_.handle(); }

 private:
  explicit SurfaceScope(const QorSurface& s)
      : dc_(s.pixels, s.width, s.height, s.bytesPerRow) {}
  static QorSurface* Checked(QorSurface* s) {
    Require(s, "dc");
    if (!Gdi::SurfaceValid(s->pixels, s->width, s->height, s->bytesPerRow))
      throw std::invalid_argument("drawing surface: pixels, size or row length");
    return s;
  }
  Gdi::ScopedSurfaceDC dc_;
};

void LogSurface(const QorSurface* dc) { LogValue("dc", PtrToStrLog(dc)); }

// The error pair the source layer left as a warning when it recognised
// nothing, raised as the call's error.
void RaiseNotRecognised(int32_t line) {
  Errors::ErrSetFromWarning(Errors::kErrFileNotExist, line);
}

// Every pixel of the image set from one value written in its own depth.
void FillPixels(Qimg* img, uint32_t colour) {
  uint8_t px[4];
  int32_t n = img->bytesPerPixel;
  switch (img->bitsPerPixel) {
    case 24:  // a Windows colour value: red first in the value, last stored
      px[0] = static_cast<uint8_t>(colour >> 16);
      px[1] = static_cast<uint8_t>(colour >> 8);
      px[2] = static_cast<uint8_t>(colour);
      break;
    default:  // 8: the index; 15/16: the word; 32: the value, little-endian
      for (int i = 0; i < 4; i++) px[i] = static_cast<uint8_t>(colour >> (8 * i));
      break;
  }
  const int64_t pixels = int64_t{img->width} * img->height;
  if (n == 1) {
    std::memset(img->data, px[0], static_cast<size_t>(pixels));
    return;
  }
  for (int64_t i = 0; i < pixels; i++) std::memcpy(img->data + i * n, px, n);
}

struct Fit {
  int32_t width, height, offsetX, offsetY;
};

// The picture's size in the box and its offsets there: shrunk to fit (or
// grown, when enlarging) keeping its proportions, centred.
Fit FitInBox(int32_t imgW, int32_t imgH, int32_t boxW, int32_t boxH,
             bool enlarge) {
  Fit f{imgW, imgH, 0, 0};
  if (enlarge || boxW < imgW || boxH < imgH) {
    const double sx = static_cast<double>(boxW) / imgW;
    const double sy = static_cast<double>(boxH) / imgH;
    if (sx >= sy) {
      f.height = boxH;
      f.width = static_cast<int32_t>(std::trunc(imgW * sy));
    } else {
      f.width = boxW;
      f.height = static_cast<int32_t>(std::trunc(imgH * sx));
    }
    if (f.width < 1) f.width = 1;
    if (f.height < 1) f.height = 1;
  }
  f.offsetX = static_cast<int32_t>(std::llabs(int64_t{boxW} - f.width) / 2);
  f.offsetY = static_cast<int32_t>(std::llabs(int64_t{boxH} - f.height) / 2);
  return f;
}

// Replaces the image only once the new one is complete.
void TakeOver(TempImg& made, Qimg* img) {
  ImgBasic::ImgXchg(&made.img, img);
}

// Exports that return their call status: the body in the export frame, then
// the status that frame left in the last-error record.
template <class Body>
int32_t CallStatus(const char* traceName, Body&& body) {
  Common::ExportFrameVoid(traceName, body);
  return Common::LastError().code;
}

// The file of QorImgLoad and QorImgLoadAlpha, or nil (said in the call log)
// when either handle is missing.
QorFile* FileToRead(QorHandle mImg, QorHandle mFile, int32_t frameNum) {
  LogValue("mImg", ImgToStrLog(mImg));
  LogValue("mFile", PtrToStrLog(mFile));
  LogValue("frameNum", IntToStrAuto(frameNum));
  if (!mFile) LogLine("  ERROR: file not open");
  if (!mImg) LogLine("  ERROR: image handle not allocated");
  if (!mImg || !mFile) return nullptr;
  AsImg(mImg);  // checked before the file reads anything
  return _QorFileOf(mFile);
}

// A bitmap handle made from the image by one of the makers, or nil.
template <class Handle>
QorHandle MakeBitmap(QorHandle mImg, bool (*make)(Qimg*, Handle*)) {
  LogValue("mImg", ImgToStrLog(mImg));
  Handle handle = nullptr;
  if (!make(Require(AsImg(mImg), "mImg"), &handle)) handle = nullptr;
  LogValue("result", PtrToStrLog(handle));
  return QorHandle{handle};
}

}  // namespace

// ---- inner implementations shared with other exports -------------------------

void ImgShowAt(Qimg* img, Gdi::HDC dc, int32_t x, int32_t y) {
  ImgBasic::PalPut(img->palette, dc);
  ImgBasic::ImgPut(img, dc, x, y);
}

void ImgLoadSingle(Qimg* img, const std::string& fileName, int32_t frameNum) {
  // Outside the body: the clean-up may run after the body has unwound.
  ConForm::UniFile uni;
  Errors::Monitored("QorMain.ImgLoadSingle", [&] {
    ConForm::UniInfoRec info;
    // One file: no numbered sequence is looked for.
    if (!ConForm::UniInfo(fileName, &info, 1, nullptr, nullptr, false)) {
      RaiseNotRecognised(__LINE__);
      return;
    }
    ConForm::UniOpen(&uni, &info);
    // Closed again on every way out once it is open.
    Errors::MonSetCleanup([&uni] { ConForm::UniClose(&uni); });
    // The source layer counts from 1 and reads the first frame for 0, so
    // 0 .. count reaches every frame.
    const int32_t count = info.picture.frameCount;
    const int32_t frame =
        frameNum < 0 ? 0 : (frameNum > count ? count : frameNum);
    ConForm::UniImgLoad(&uni, img, frame, 0);
    Errors::MonSetCleanup(nullptr);
    ConForm::UniClose(&uni);
  });
}

void ImgSaveSingle(Qimg* img, const std::string& fileName, int32_t codec) {
  // Outside the body: the clean-up may run after the body has unwound.
  ConForm::UniOutput out;
  Errors::Monitored("QorMain.ImgSaveSingle", [&] {
    const int32_t format = _QorGetFileSaveID(fileName);
    ConForm::FFSaveRec video;
    ConForm::FFSaveInit(&video, ConForm::kSaveVideo);
    ConForm::FFSaveSetFmt(&video, format);
    if (codec != Basic::K_AUTO) {
      if (format == ConForm::kFmtJPEG)
        ConForm::FFSaveSetQuality(&video, codec);
      else
        ConForm::FFSaveSetCodec(&video, codec);
    }
    ConForm::FFSaveRec audio;
    ConForm::FFSaveInit(&audio, ConForm::kSaveAudio);
    ConForm::WaveFormat wave{};
    SndBasic::WaveFormatSetPCM(wave, 44100, 2, 16);
    ConForm::FFSavePrepare(&video, img->width, img->height, wave, &wave, &audio,
                           img->bitsPerPixel);
    // A failed save leaves no file behind.
    Errors::MonSetCleanup([&out] {
      ConForm::UniClose(&out);
      ConForm::UniDeleteCreated(&out);
    });
    ConForm::UniCreate(&out, fileName);
    ConForm::UniSetFrameRate(&out, 30.0);
    ConForm::UniSetSaveOptions(&out, video);
    ConForm::UniImgSave(&out, *img);
    ConForm::UniClose(&out);
  });
}

}  // namespace QorMain

using namespace QorMain;

// ---- allocation -----------------------------------------------------------------

QOR_API QorHandle QOR_CALL QorImgAlloc(void) {
  return Common::ExportFrame<QorHandle>("QorMain.QorImgAlloc", nullptr, [] {
    Qimg* img = nullptr;
    Basic::MemAlloc(img, static_cast<int64_t>(sizeof(Qimg)), __LINE__,
                    Basic::kMemNew, Common::kImgLabel);
    if (!img) return QorHandle{nullptr};
    new (img) Qimg{};
    ImgBasic::ImgClear(img);
    LogValue("result", PtrToStrLog(img));
    return QorHandle{img};
  });
}

QOR_API void QOR_CALL QorImgFree(QorHandle mImg) {
  Common::ExportFrameVoid("QorMain.QorImgFree", [&] {
    LogValue("mImg", ImgToStrLog(mImg));
    if (!mImg) return;
    // A freed, foreign or lent image is refused before anything is freed.
    Qimg* img = Common::OwnImgOf(mImg, "mImg");
    ImgBasic::ImgFree(img);
    Basic::MemFree(img);
  });
}

// ---- files ------------------------------------------------------------------------

QOR_API int32_t QOR_CALL QorImgLoad(QorHandle mImg, QorHandle mFile,
                                    int32_t frameNum) {
  return CallStatus("QorMain.QorImgLoad", [&] {
    if (QorMain::QorFile* file = FileToRead(mImg, mFile, frameNum)) {
      ConForm::UniImgLoad(&file->source, &file->image, FromZero(frameNum), 1);
      ImgBasic::ImgCopy(&file->image, AsImg(mImg));
    }
  });
}

QOR_API int32_t QOR_CALL QorImgLoadAlpha(QorHandle mImg, QorHandle mFile,
                                         int32_t frameNum) {
  return CallStatus("QorMain.QorImgLoadAlpha", [&] {
    if (QorMain::QorFile* file = FileToRead(mImg, mFile, frameNum))
      ConForm::UniImgLoadAlpha(&file->source, AsImg(mImg), FromZero(frameNum));
  });
}

QOR_API int32_t QOR_CALL QorImgLoadSingle(QorHandle mImg, const char* fileName,
                                          int32_t frameNum) {
  return CallStatus("QorMain.QorImgLoadSingle", [&] {
    LogValue("mImg", ImgToStrLog(mImg));
    LogValue("fileName", Text(fileName));
    LogValue("frameNum", IntToStrAuto(frameNum));
    if (mImg) ImgLoadSingle(AsImg(mImg), Text(fileName), frameNum);
  });
}

QOR_API int32_t QOR_CALL QorImgSave(QorHandle mImg, QorHandle mFile) {
  return CallStatus("QorMain.QorImgSave", [&] {
    LogValue("mImg", ImgToStrLog(mImg));
    LogValue("mFile", PtrToStrLog(mFile));
    if (!mFile) LogLine("  ERROR: file not created");
    if (!mImg) LogLine("  ERROR: image handle not allocated");
    if (!mImg || !mFile) return;
    QorMain::QorFile* file = _QorFileOf(mFile);
    Qimg* img = AsImg(mImg);
    _QorFileCheckCreate(file);
    // The host's image keeps the file's depth afterwards.
    if (img->bitsPerPixel != file->bpp) ImgBasic::ImgConvBpp(img, img, file->bpp);
    ConForm::UniImgSave(&file->output, *img);
  });
}

QOR_API int32_t QOR_CALL QorImgSaveSingle(QorHandle mImg, const char* fileName,
                                          int32_t codec) {
  return CallStatus("QorMain.QorImgSaveSingle", [&] {
    LogValue("mImg", ImgToStrLog(mImg));
    LogValue("fileName", Text(fileName));
    LogValue("codec", IntToStrAuto(codec));
    if (mImg) ImgSaveSingle(AsImg(mImg), Text(fileName), codec);
  });
}

QOR_API int32_t QOR_CALL QorBayerLoad(QorHandle mImg, const char* filename,
                                      int32_t resX, int32_t resY,
                                      int32_t colorType, int32_t pixelOrder) {
  return CallStatus("QorMain.QorBayerLoad", [&] {
    LogValue("mImg", ImgToStrLog(mImg));
    LogValue("filename", Text(filename));
    LogValue("resX", IntToStrAuto(resX));
    LogValue("resY", IntToStrAuto(resY));
    LogValue("colorType", IntToStrAuto(colorType));
    LogValue("pixelOrder", IntToStrAuto(pixelOrder));
    FF_BAY::BayLoadCustom(Text(filename), Require(AsImg(mImg), "mImg"), resX,
                          pixelOrder != 0, colorType, resY);
  });
}

// ---- memory -------------------------------------------------------------------------

QOR_API void QOR_CALL QorImgCopy(QorHandle mImgDest, QorHandle mImgSrc) {
  Common::ExportFrameVoid("QorMain.QorImgCopy", [&] {
    LogValue("mImgDest", ImgToStrLog(mImgDest));
    LogValue("mImgSrc", ImgToStrLog(mImgSrc));
    Qimg* dest = Require(AsImg(mImgDest), "mImgDest");
    Qimg* src = Require(AsImg(mImgSrc), "mImgSrc");
    if (ImgBasic::ImgIsValid(src)) ImgBasic::ImgCopy(src, dest);
  });
}

QOR_API void QOR_CALL QorImgRedim(QorHandle mImg, int32_t resX, int32_t resY,
                                  int32_t bpp) {
  Common::ExportFrameVoid("QorMain.QorImgRedim", [&] {
    LogValue("mImg", ImgToStrLog(mImg));
    LogValue("resX", IntToStrAuto(resX));
    LogValue("resY", IntToStrAuto(resY));
    LogValue("bpp", IntToStrAuto(bpp));
    Qimg* img = AsImg(mImg);
    if (!img) return;
    const int32_t width = resX == Basic::K_AUTO ? img->width : resX;
    const int32_t height = resY == Basic::K_AUTO ? img->height : resY;
    const int32_t bits = bpp == Basic::K_AUTO ? img->bitsPerPixel : bpp;
    if (!KnownDepth(bits)) {
      Errors::ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    ImgBasic::_imgalloc_(img, width, height, "QorMain.QorImgRedim.imgP^",
                         __LINE__, bits);
  });
}

QOR_API void QOR_CALL QorImgClear(QorHandle mImg, int32_t color) {
  Common::ExportFrameVoid("QorMain.QorImgClear", [&] {
    LogValue("mImg", ImgToStrLog(mImg));
    LogValue("color", IntToStrAuto(color));
    Qimg* img = AsImg(mImg);
    if (img && img->data) FillPixels(img, static_cast<uint32_t>(color));
  });
}

QOR_API void QOR_CALL QorImgGetInfo(QorHandle mImg, int32_t* resX,
                                    int32_t* resY, int32_t* bpp,
                                    int32_t* totalBytes, void** pixPtr,
                                    void** palPtr) {
  Common::ExportFrameVoid("QorMain.QorImgGetInfo", [&] {
    LogValue("mImg", ImgToStrLog(mImg));
    Qimg* img = Require(AsImg(mImg), "mImg");
    *Require(resX, "resX") = img->width;
    *Require(resY, "resY") = img->height;
    *Require(bpp, "bpp") = img->bitsPerPixel;
    *Require(totalBytes, "totalBytes") = static_cast<int32_t>(
        int64_t{img->width} * img->height * img->bytesPerPixel);
    *Require(pixPtr, "pixPtr") = img->data;
    *Require(palPtr, "palPtr") = img->palette;
    LogValue("resX", IntToStrAuto(*resX));
    LogValue("resY", IntToStrAuto(*resY));
    LogValue("bpp", IntToStrAuto(*bpp));
    LogValue("totalBytes", IntToStrAuto(*totalBytes));
    LogValue("pixPtr", PtrToStrLog(*pixPtr));
    LogValue("palPtr", PtrToStrLog(*palPtr));
  });
}

QOR_API void QOR_CALL QorImgGetPixels(QorHandle mImg, void* pixPtr,
                                      void* palPtr) {
  Common::ExportFrameVoid("QorMain.QorImgGetPixels", [&] {
    LogValue("mImg", ImgToStrLog(mImg));
    LogValue("pixPtr", PtrToStrLog(pixPtr));
    LogValue("palPtr", PtrToStrLog(palPtr));
    const Qimg* img = Require(AsImg(mImg), "mImg");
    if (pixPtr && img->data)
      std::memcpy(pixPtr, img->data,
                  static_cast<size_t>(int64_t{img->width} * img->height *
                                      img->bytesPerPixel));
    if (palPtr) std::memcpy(palPtr, img->palette, sizeof img->palette);
  });
}

QOR_API void QOR_CALL QorImgSetPixels(QorHandle mImg, int32_t resX,
                                      int32_t resY, int32_t bpp,
                                      const void* pixPtr, const void* palPtr) {
  Common::ExportFrameVoid("QorMain.QorImgSetPixels", [&] {
    LogValue("mImg", ImgToStrLog(mImg));
    LogValue("resX", IntToStrAuto(resX));
    LogValue("resY", IntToStrAuto(resY));
    LogValue("bpp", IntToStrAuto(bpp));
    LogValue("pixPtr", PtrToStrLog(pixPtr));
    LogValue("palPtr", PtrToStrLog(palPtr));
    Qimg* img = Require(AsImg(mImg), "mImg");
    if (!KnownDepth(bpp)) {
      Errors::ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    ImgBasic::_imgalloc_(img, resX, resY, "QorMain.QorImgSetPixels.imgP^",
                         __LINE__, bpp);
    if (pixPtr)
      std::memcpy(img->data, pixPtr,
                  static_cast<size_t>(int64_t{resX} * resY * img->bytesPerPixel));
    if (palPtr)
      std::memcpy(img->palette, palPtr, sizeof img->palette);
    else if (bpp == 8)
      ImgBasic::PalMakeGrey(img->palette);
  });
}

QOR_API void QOR_CALL QorImgGetPixelRGB(QorHandle mImg, int32_t x, int32_t y,
                                        int32_t* r, int32_t* g, int32_t* b) {
  Common::ExportFrameVoid("QorMain.QorImgGetPixelRGB", [&] {
    LogValue("mImg", ImgToStrLog(mImg));
    LogValue("x", IntToStrAuto(x));
    LogValue("y", IntToStrAuto(y));
    const Qimg* img = Require(AsImg(mImg), "mImg");
    Require(r, "r");
    Require(g, "g");
    Require(b, "b");
    *r = *g = *b = -1;
    if (!img->data || x < 0 || y < 0 || x >= img->width || y >= img->height)
      return;
    const uint8_t* p =
        img->data + (int64_t{y} * img->width + x) * img->bytesPerPixel;
    switch (img->bitsPerPixel) {
      case 8:
        *b = img->palette[p[0] * 3];
        *g = img->palette[p[0] * 3 + 1];
        *r = img->palette[p[0] * 3 + 2];
        break;
      case 15:
      case 16: {
        const uint32_t w = p[0] | (p[1] << 8);
        const bool six = img->bitsPerPixel == 16;
        *b = static_cast<int32_t>((w & 31) << 3);
        *g = six ? static_cast<int32_t>(((w >> 5) & 63) << 2)
                 : static_cast<int32_t>(((w >> 5) & 31) << 3);
        *r = static_cast<int32_t>(((w >> (six ? 11 : 10)) & 31) << 3);
        break;
      }
      default:
        *b = p[0];
        *g = p[1];
        *r = p[2];
        break;
    }
    LogValue("r", IntToStrAuto(*r));
    LogValue("g", IntToStrAuto(*g));
    LogValue("b", IntToStrAuto(*b));
  });
}

QOR_API void QOR_CALL QorBayerToImg(QorHandle mImg, const void* pixPtr,
                                    int32_t resX, int32_t resY,
                                    int32_t colorType, int32_t pixelOrder) {
  Common::ExportFrameVoid("QorMain.QorBayerToImg", [&] {
    LogValue("mImg", ImgToStrLog(mImg));
    LogValue("pixPtr", PtrToStrLog(pixPtr));
    LogValue("resX", IntToStrAuto(resX));
    LogValue("resY", IntToStrAuto(resY));
    LogValue("colorType", IntToStrAuto(colorType));
    LogValue("pixelOrder", IntToStrAuto(pixelOrder));
    Qimg* img = Require(AsImg(mImg), "mImg");
    const auto* samples = static_cast<const uint8_t*>(Require(pixPtr, "pixPtr"));
    if (colorType < FF_BAY::kBayerBGGR || colorType > FF_BAY::kBayerMono) {
      Errors::ErrSet(Errors::kErrOutOfRange, __LINE__);
      return;
    }
    const int32_t bits = colorType == FF_BAY::kBayerMono ? 8 : 24;
    // Decoded aside, so a refused size or pattern leaves the image as it was.
    TempImg made;
    ImgBasic::_imgalloc_(&made.img, resX, resY, "QorMain.QorBayerToImg.imgP^",
                         __LINE__, bits);
    FF_BAY::BayDecode(samples, made.img.data, resX, pixelOrder != 0, colorType,
                      resY);
    if (bits == 8) ImgBasic::PalMakeGrey(made.img.palette);
    TakeOver(made, img);
  });
}

// ---- drawing ---------------------------------------------------------------------

QOR_API void QOR_CALL QorClearCanvas(QorSurface* dc, int32_t x, int32_t y,
                                     int32_t w, int32_t h, int32_t color) {
  Common::ExportFrameVoid("QorMain.QorClearCanvas", [&] {
    LogSurface(dc);
    LogValue("x", IntToStrAuto(x));
    LogValue("y", IntToStrAuto(y));
    LogValue("w", IntToStrAuto(w));
    LogValue("h", IntToStrAuto(h));
    LogValue("color", Common::RGBToStrLog(static_cast<uint32_t>(color)));
    SurfaceScope surface(dc);
    Gdi::FillSolidRect(surface.handle(), x, y, w, h,
                       static_cast<uint32_t>(color) & 0xFFFFFF);
  });
}

QOR_API void QOR_CALL QorImgShow(QorHandle mImg, QorSurface* dc, int32_t x,
                                 int32_t y) {
  Common::ExportFrameVoid("QorMain.QorImgShow", [&] {
    LogValue("mImg", ImgToStrLog(mImg));
    LogSurface(dc);
    LogValue("x", IntToStrAuto(x));
    LogValue("y", IntToStrAuto(y));
    Qimg* img = Require(AsImg(mImg), "mImg");
    SurfaceScope surface(dc);
    ImgShowAt(img, surface.handle(), x, y);
  });
}

QOR_API void QOR_CALL QorImgShowInRect(QorHandle mImg, QorSurface* dc,
                                       int32_t x, int32_t y, int32_t w,
                                       int32_t h, QorBool enlarge) {
  Common::ExportFrameVoid("QorMain.QorImgShowInRect", [&] {
    LogValue("mImg", ImgToStrLog(mImg));
    LogSurface(dc);
    LogValue("x", IntToStrAuto(x));
    LogValue("y", IntToStrAuto(y));
    LogValue("w", IntToStrAuto(w));
    LogValue("h", IntToStrAuto(h));
    LogValue("enlarge", Common::BoolToStrLog(enlarge != 0));
    Qimg* img = Require(AsImg(mImg), "mImg");
    SurfaceScope surface(dc);
    // An empty picture or box has no scale: nothing to draw.
    if (!img->data || img->width <= 0 || img->height <= 0 || w <= 0 || h <= 0)
      return;
    const Fit fit = FitInBox(img->width, img->height, w, h, enlarge != 0);
    const int32_t left = static_cast<int32_t>(int64_t{x} + fit.offsetX);
    const int32_t top = static_cast<int32_t>(int64_t{y} + fit.offsetY);
    if (fit.width == img->width && fit.height == img->height) {
      ImgShowAt(img, surface.handle(), left, top);
      return;
    }
    TempImg scaled;
    ImgBasic::ImgResample(img, &scaled.img, fit.width, fit.height);
    ImgShowAt(&scaled.img, surface.handle(), left, top);
  });
}

// ---- Windows bitmaps ---------------------------------------------------------------

QOR_API QorHandle QOR_CALL QorImgToDIB(QorHandle mImg) {
  return Common::ExportFrame<QorHandle>("QorMain.QorImgToDIB", nullptr, [&] {
    return MakeBitmap<Gdi::HBITMAP>(mImg, ImgBasic::QimgToHBitmap);
  });
}

QOR_API int32_t QOR_CALL QorReleaseDIB(QorHandle DIBhandle) {
  return Common::ExportFrame<int32_t>("QorMain.QorReleaseDIB", 0, [&] {
    LogValue("DIBhandle", PtrToStrLog(DIBhandle));
    const int32_t result =
        Gdi::DeleteObject(static_cast<Gdi::HGDIOBJ>(DIBhandle)) ? 1 : 0;
    LogValue("result", IntToStrAuto(result));
    return result;
  });
}

QOR_API QorHandle QOR_CALL QorImgToDIBWin3(QorHandle mImg) {
  return Common::ExportFrame<QorHandle>("QorMain.QorImgToDIBWin3", nullptr, [&] {
    return MakeBitmap<Gdi::HGLOBAL>(mImg, ImgBasic::QimgToGlobalDib);
  });
}

QOR_API QorBool QOR_CALL QorReleaseDIBWin3(QorHandle DIBhandle) {
  return Common::ExportFrame<QorBool>("QorMain.QorReleaseDIBWin3", 0, [&] {
    LogValue("DIBhandle", PtrToStrLog(DIBhandle));
    // Nil names no block: nothing is freed.
    const QorBool result =
        DIBhandle && !Gdi::GlobalFree(static_cast<Gdi::HGLOBAL>(DIBhandle)) ? -1
                                                                            : 0;
    LogValue("result", Common::BoolToStrLog(result != 0));
    return result;
  });
}

QOR_API void QOR_CALL QorDIBToImg(QorHandle mImg, QorHandle DIBhandle) {
  Common::ExportFrameVoid("QorMain.QorDIBToImg", [&] {
    LogValue("mImg", ImgToStrLog(mImg));
    LogValue("DIBhandle", PtrToStrLog(DIBhandle));
    Qimg* img = Require(AsImg(mImg), "mImg");
    // A handle that names no bitmap leaves the image alone, and says so.
    if (!ImgBasic::HBitmapToQimg(static_cast<Gdi::HBITMAP>(DIBhandle), img))
      Errors::ErrSet(Errors::kErrImageInvalid, __LINE__);
  });
}
