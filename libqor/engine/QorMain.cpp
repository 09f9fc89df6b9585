#include "engine/QorMain.h"

#include <cstring>

#include "engine/Common.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "foundation/MiscProcs.h"
#include "foundation/Translator.h"
#include "foundation/VCLUtils.h"
#include "platform/base/UiLayer.h"

using Common::LogValue;

namespace QorMain {

namespace {

// The source exports' buffers (see "shared source buffers" in QorMain.h).
char* g_videoSourceName = nullptr;
char* g_audioSourceName = nullptr;
ImgBasic::Qimg g_sourceImage;
SndBasic::SndRec g_sourceSound;

}  // namespace

char*& VideoSourceName() { return g_videoSourceName; }
char*& AudioSourceName() { return g_audioSourceName; }
ImgBasic::Qimg& SourceImage() { return g_sourceImage; }
SndBasic::SndRec& SourceSound() { return g_sourceSound; }

void ReleaseSourceBuffers() {
  Basic::MemFree(g_videoSourceName);
  Basic::MemFree(g_audioSourceName);
  if (g_sourceImage.data) ImgBasic::ImgFree(&g_sourceImage);
  if (g_sourceSound.data) SndBasic::SndFree(g_sourceSound);
}

void QorMainInit() {
  Common::ClearLastError();
  Common::SetCallLog(false);
  g_videoSourceName = nullptr;
  g_audioSourceName = nullptr;
  g_sourceImage = ImgBasic::Qimg{};
  g_sourceSound = SndBasic::SndRec{};
}

void QorMainDone() {
  _QorFilesRelease();
  ReleaseSourceBuffers();
}

namespace {

// Exports without the status frame still never let anything escape.
template <class Body>
void Quietly(Body&& body) {
  try {
    body();
  } catch (...) {
  }
}

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

// A call about the calling thread's own last-error record never waits for
// another thread's call. With the library free (or already this thread's)
// it is traced and logged as every call is; while another thread is inside,
// the trace, which is that thread's, is left alone.
template <class Body>
void OwnRecordCall(const char* traceName, Body&& body) {
  const auto lock = Common::LockIfFree();
  const Errors::TraceMute mute(!lock.owns_lock());
  Errors::TraceScope t(traceName);
  body();
}

}  // namespace

}  // namespace QorMain

using namespace QorMain;

// ---- call status and last error -------------------------------------------

QOR_API int32_t QOR_CALL QorGetStatus(QorHandle mData) {
  // While another thread is in the library, the running conversion's phase
  // is read from its atomic; any other handle waits for the library.
  int32_t phase = Common::kPhaseIdle;
  const auto lock = Common::LockUnless([&] { return _QorRunningPhase(mData, &phase); });
  if (!lock.owns_lock()) return phase;
  Errors::TraceScope t("QorMain.QorGetStatus");
  int32_t result = 0;
  try {
    Common::LogLine("QorGetStatus");
    result = _QorRecOf(mData)->status;
    LogValue("result", Common::IntToStrAuto(result));
  } catch (...) {
    result = 0;
    Common::StatusException();
    // Even with an earlier call's pair still pending: the handle was bad.
    Common::LastError().code = Common::kStatusException;
  }
  return result;
}

QOR_API void QOR_CALL QorGetLastError(QorLastError* rec) {
  OwnRecordCall("QorMain.QorGetLastError", [&] {
    Quietly([&] {
      Common::LogLine("QorGetLastError");
      if (rec) *rec = Common::LastError();
    });
  });
}

QOR_API void QOR_CALL QorMakeErrorStr(const QorLastError* rec, char* errStr) {
  OwnRecordCall("QorMain.QorMakeErrorStr", [&] {
    std::string text;
    try {
      Common::LogLine("QorMakeErrorStr");
      Common::Require(errStr, "errStr");
      text = Common::StatusText(*Common::Require(rec, "record"));
      // A host's buffer of QOR_ERROR_TEXT_MAX bytes must always do.
      if (text.size() >= QOR_ERROR_TEXT_MAX) text.resize(QOR_ERROR_TEXT_MAX - 1);
      std::memcpy(errStr, text.c_str(), text.size() + 1);
    } catch (...) {
      text.clear();
      if (errStr) errStr[0] = '\0';
      Common::StatusException();
    }
    Quietly([&] {
      LogValue("result", text);
      LogValue("errStr", text);
    });
  });
}

QOR_API QorBool QOR_CALL QorCheckError(void) {
  const QorLastError rec = Common::LastError();
  if (rec.code == 0) return 0;
  if (rec.code == Common::kStatusLibraryError) {
    // Only the box waits for the library: it goes through the library's
    // window layer, which serves one call at a time.
    Common::LibraryLock lock;
    Errors::TraceScope t("QorMain.QorCheckError");
    Quietly([&] {
      Ui::MessageBox(Common::StatusText(rec), VCLUtils::_GetAppTitle(),
                     Ui::kIconError);
    });
  }
  return -1;
}

// ---- call log and locale ----------------------------------------------------

QOR_API void QOR_CALL QorLogStart(const char* fileName) {
  Common::LibraryLock lock;
  Quietly([&] {
    std::string name = Text(fileName);
    if (name.empty()) return;
    if (name.find('/') == std::string::npos)
      name = MiscProcs::GetAppDir() + name;
    Errors::TraceSetFile(name);
    Errors::TraceStart("QOR 2.8.0");
    Errors::TraceMemStatus();
    Common::SetCallLog(false);
  });
}

QOR_API void QOR_CALL QorLogExtra(QorBool flag) {
  Common::LibraryLock lock;
  Common::SetCallLog(flag != 0);
}

QOR_API void QOR_CALL QorLogStop(void) {
  Common::LibraryLock lock;
  Common::SetCallLog(false);
  Quietly([] {
    Errors::TraceMemStatus();
    Errors::TraceStop();
  });
}

QOR_API void QOR_CALL QorLocaleClear(void) {
  Common::LibraryLock lock;
  Quietly([] { Translator::TranClear(); });
}

QOR_API void QOR_CALL QorLocaleSet(const char* text, const char* translation) {
  Common::LibraryLock lock;
  Quietly([&] { Translator::TranSet(Text(text), Text(translation)); });
}

// ---- small value conversions ------------------------------------------------

QOR_API int32_t QOR_CALL QorMakeFourCC(const char* text) {
  Common::LibraryLock lock;
  Errors::TraceScope t("QorMain.QorMakeFourCC");
  uint32_t result = 0;
  try {
    Common::LogLine("QorMakeFourCC");
    const std::string s = Text(text);
    for (int i = 3; i >= 0; i--) {
      const uint8_t c = i < static_cast<int>(s.size())
                            ? static_cast<uint8_t>(s[static_cast<size_t>(i)])
                            : uint8_t{' '};
      result = (result << 8) | c;
    }
    LogValue("result", Common::IntToStrAuto(static_cast<int32_t>(result)));
  } catch (...) {
    result = 0;
  }
  return static_cast<int32_t>(result);
}

QOR_API int32_t QOR_CALL QorRGB(int32_t r, int32_t g, int32_t b) {
  Common::LibraryLock lock;
  Errors::TraceScope t("QorMain.QorRGB");
  return (r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16);
}

QOR_API void QOR_CALL QorPixelReorder(const void* inData, int32_t inBpp,
                                      int32_t inOrg, void* outData,
                                      int32_t numPixels) {
  Common::ExportFrameVoid("QorMain.QorPixelReorder", [&] {
    LogValue("inData", Common::PtrToStrLog(inData));
    LogValue("inBpp", Common::IntToStrAuto(inBpp));
    LogValue("inOrg", Common::IntToStrAuto(inOrg));
    LogValue("outData", Common::PtrToStrLog(outData));
    LogValue("numPixels", Common::IntToStrAuto(numPixels));
    if ((inBpp != 24 && inBpp != 32) || inOrg != 0 || numPixels <= 0) return;
    const auto* in = static_cast<const uint8_t*>(Common::Require(inData, "inData"));
    auto* out = static_cast<uint8_t*>(Common::Require(outData, "outData"));
    const int64_t bytes = inBpp / 8;
    for (int64_t i = 0; i < numPixels; i++) {
      const uint8_t* p = in + i * bytes;
      uint8_t* q = out + i * bytes;
      // Through a temporary, so the same buffer may be given twice.
      const uint8_t first = p[0];
      q[0] = p[2];
      q[1] = p[1];
      q[2] = first;
      if (bytes == 4) q[3] = p[3];
    }
  });
}
