// Format services the host may call directly: raw TIFF tags and the TIFF
// reader's 16-bit grey range, the Bayer raw header, AVI information texts
// and MPEG multiplexing.
#include <algorithm>
#include <cstring>
#include <string>

#include "engine/Common.h"
#include "engine/QorMain.h"
#include "foundation/Errors.h"
#include "formats/FF_AVI.h"
#include "formats/FF_BAY.h"
#include "formats/FF_MPG.h"
#include "formats/FF_TIF.h"

using Common::LogValue;

namespace {

// A nil name reads as an empty one, which no file has.
std::string Name(const char* s) { return s ? std::string(s) : std::string(); }

void LogInt(const char* name, int32_t value) {
  LogValue(name, Common::IntToStrAuto(value));
}

// The file is closed again whether or not its text could be read.
std::string AviCustomInfo(const std::string& fileName, const std::string& tag) {
  std::string text;
  FF_AVI::AviFileRec avi;
  Errors::Monitored("QorMain.AviCustomInfo_", [&] {
    Errors::MonSetCleanup([&avi] { FF_AVI::AviClose(&avi); });
    FF_AVI::AviOpen(&avi, fileName);
    FF_AVI::AviGetCustomInfo(&avi, tag, &text);
    Errors::MonSetCleanup(nullptr);
    FF_AVI::AviClose(&avi);
  });
  return text;
}

}  // namespace

QOR_API int32_t QOR_CALL QorTiffGetTag(const char* filename, int32_t tagID,
                                       void* bufferPtr, int32_t bufferSize) {
  return Common::ExportFrame<int32_t>("QorMain.QorTiffGetTag", 0, [&] {
    LogValue("filename", Name(filename));
    LogInt("tagID", tagID);
    LogValue("bufferPtr", Common::PtrToStrLog(bufferPtr));
    LogInt("bufferSize", bufferSize);
    const int32_t result =
        FF_TIF::TIFGetTag(Name(filename), tagID, bufferPtr, bufferSize);
    LogInt("result", result);
    return result;
  });
}

QOR_API void QOR_CALL QorTiffSet16to8bitGrayRange(int32_t minValue,
                                                  int32_t maxValue) {
  Common::ExportFrameVoid("QorMain.QorTiffSet16to8bitGrayRange", [&] {
    LogInt("minValue", minValue);
    LogInt("maxValue", maxValue);
    FF_TIF::TIFSetGrayRange(minValue, maxValue);
  });
}

QOR_API int32_t QOR_CALL QorBayerGetHdr(const char* filename, void* bufferPtr,
                                        int32_t bufferSize) {
  return Common::ExportFrame<int32_t>("QorMain.QorBayerGetHdr", 0, [&] {
    LogValue("filename", Name(filename));
    LogValue("bufferPtr", Common::PtrToStrLog(bufferPtr));
    LogInt("bufferSize", bufferSize);
    const int32_t result = FF_BAY::BayGetHdr(
        Name(filename), static_cast<uint8_t*>(bufferPtr), bufferSize);
    LogInt("result", result);
    return result;
  });
}

QOR_API int32_t QOR_CALL QorAviGetCustomInfo(const char* filename,
                                             const char* tagID, char* strPtr,
                                             int32_t strSize) {
  return Common::ExportFrame<int32_t>("QorMain.QorAviGetCustomInfo", 0, [&] {
    LogValue("filename", Name(filename));
    LogValue("tagID", Name(tagID));
    LogValue("strPtr", Common::PtrToStrLog(strPtr));
    LogInt("strSize", strSize);
    const std::string text = AviCustomInfo(Name(filename), Name(tagID));
    if (strPtr) {
      // strSize counts the characters; the zero goes after them.
      const size_t n = std::min(text.size(),
                                static_cast<size_t>(std::max(strSize, 0)));
      std::memcpy(strPtr, text.data(), n);
      strPtr[n] = '\0';
    }
    const auto result = static_cast<int32_t>(text.size());
    LogInt("result", result);
    return result;
  });
}

// Runs without the status frame, as it always has; nothing may escape to
// the host all the same, and any failure is the multiplexer's own failure
// result, 0.
QOR_API int32_t QOR_CALL QorMpgMultiplex(const char* output,
                                         const char* firstStream,
                                         const char* secondStream,
                                         int32_t mode) {
  int32_t result = 0;
  try {
    result = FF_MPG::MpgMultiPlex(Name(output), Name(firstStream),
                                  Name(secondStream), mode, false);
  } catch (...) {
    result = 0;
  }
  // It reports through its result alone: a failure left pending would make
  // the next export that runs no checked step end with 1000.
  Errors::ErrClear();
  return result;
}
