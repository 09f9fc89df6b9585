#include "engine/Common.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

#include "foundation/Basic.h"
#include "foundation/Translator.h"

namespace Common {
namespace {

// Each host thread reads the outcome of its own last call.
thread_local QorLastError t_lastError{};
// Read without the library's lock by the calls about a thread's own record.
std::atomic<bool> g_callLog{false};

}  // namespace

QorLastError& LastError() { return t_lastError; }

void ClearLastError() { t_lastError = QorLastError{0, 0, 0}; }

LibraryMutexType& LibraryMutex() {
  static LibraryMutexType mutex;
  return mutex;
}

void SetStatus(int32_t status) {
  t_lastError.code = status;
  t_lastError.errClass = Errors::ErrClass();
  t_lastError.errNum = Errors::ErrCode();
}

void StatusBegin() { SetStatus(kStatusOk); }

void StatusException() {
  if (Errors::ErrNone()) SetStatus(kStatusException);
  if (!g_callLog) return;
  // A failing log write must not turn the handler into a second failure.
  try {
    const std::string message = Errors::CurrentExceptionText();
    Errors::TraceWriteLines("ERROR IN: " + Errors::TraceCallPath());
    Errors::TraceWriteLines("MESSAGE: " + message);
  } catch (...) {
  }
}

int32_t StatusEnd() {
  t_lastError.errClass = Errors::ErrClass();
  t_lastError.errNum = Errors::ErrCode();
  if (!Errors::ErrNone()) t_lastError.code = kStatusLibraryError;
  return t_lastError.code;
}

std::string StatusText(const QorLastError& rec) {
  switch (rec.code) {
    case kStatusOk:
      return Translator::TranGet("Finished successfully.");
    case kStatusInvalidOutput:
      return Translator::TranGet("Invalid output file.");
    case kStatusAborted:
      return Translator::TranGet("Operation aborted by user.");
    case kStatusLibraryError:
      return Errors::ErrText(rec.errClass, rec.errNum);
    default:
      return Translator::TranGet("Unknown error.");
  }
}

bool CallLogOn() { return g_callLog; }
void SetCallLog(bool on) { g_callLog = on; }

void LogLine(const std::string& text) {
  if (g_callLog) Errors::TraceWriteLines(text);
}

void LogValue(const char* name, const std::string& value) {
  if (g_callLog) Errors::TraceWriteLines(std::string("  ") + name + "=" + value);
}

std::string IntToStrAuto(int32_t value) {
  if (value == Basic::K_AUTO) return "K_AUTO";
  return Basic::NumToStr(value, 0);
}

std::string FloatToStrAuto(double value) {
  if (std::fabs(value - Basic::K_AUTO_REAL) <= 0.0001) return "K_AUTO";
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.2f", value);
  return buf;
}

std::string BoolToStrLog(bool value) { return value ? "TRUE" : "FALSE"; }

std::string PtrToStrLog(const void* value) {
  if (!value) return "NULL";
  const auto bits = reinterpret_cast<uintptr_t>(value);
  // K_AUTO passed where a handle goes, whether widened with or without sign.
  if (static_cast<intptr_t>(bits) == Basic::K_AUTO ||
      bits == static_cast<uint32_t>(Basic::K_AUTO))
    return "K_AUTO";
  return std::to_string(static_cast<uint64_t>(bits));
}

std::string RGBToStrLog(uint32_t colour) {
  return "R(" + std::to_string(colour & 0xFF) + ") G(" +
         std::to_string((colour >> 8) & 0xFF) + ") B(" +
         std::to_string((colour >> 16) & 0xFF) + ")";
}

namespace {
constexpr const char* kInvalidHandle = "invalid handle";

bool LiveHandle(const void* record, const char* label) {
  return IsTrackedAs(record, label) || IsLent(record, label);
}

struct Lend {
  const void* record;
  const char* label;  // the kind it is lent as
};

std::vector<Lend>& Lent() {
  static std::vector<Lend> lent;
  return lent;
}

template <class T>
T* CheckedHandle(void* handle, const char* label, const char* name,
                 bool lentAllowed) {
  if (lentAllowed && IsLent(handle, label)) return static_cast<T*>(handle);
  return RequireHandle<T>(handle, label, name);
}
}  // namespace

const char* const kImgLabel = "QorMain.QorImgAlloc.imgP";
const char* const kSndLabel = "QorMain.QorSndAlloc.sndP";

LendScope::LendScope(const ImgBasic::Qimg* image) : LendScope(image, kImgLabel) {}

LendScope::LendScope(const SndBasic::SndRec* sound) : LendScope(sound, kSndLabel) {}

LendScope::LendScope(const void* record, const char* label) : record_(record) {
  Lent().push_back({record, label});
}

LendScope::~LendScope() {
  auto& lent = Lent();
  const auto it = std::find_if(lent.rbegin(), lent.rend(),
                               [&](const Lend& l) { return l.record == record_; });
  if (it != lent.rend()) lent.erase(std::next(it).base());
}

bool IsLent(const void* record, const char* label) {
  const auto& lent = Lent();
  return record && std::any_of(lent.begin(), lent.end(), [&](const Lend& l) {
           return l.record == record && l.label == label;
         });
}

ImgBasic::Qimg* ImgOf(void* handle, const char* name) {
  return CheckedHandle<ImgBasic::Qimg>(handle, kImgLabel, name, true);
}

SndBasic::SndRec* SndOf(void* handle, const char* name) {
  return CheckedHandle<SndBasic::SndRec>(handle, kSndLabel, name, true);
}

ImgBasic::Qimg* OwnImgOf(void* handle, const char* name) {
  return CheckedHandle<ImgBasic::Qimg>(handle, kImgLabel, name, false);
}

SndBasic::SndRec* OwnSndOf(void* handle, const char* name) {
  return CheckedHandle<SndBasic::SndRec>(handle, kSndLabel, name, false);
}

std::string ImgToStrLog(const void* handle) {
  if (!handle) return "not allocated";
  if (!LiveHandle(handle, kImgLabel)) return kInvalidHandle;
  const auto* image = static_cast<const ImgBasic::Qimg*>(handle);
  return std::to_string(image->width) + "x" + std::to_string(image->height) +
         "x" + std::to_string(image->bitsPerPixel);
}

std::string SndToStrLog(const void* handle) {
  if (!handle) return "not allocated";
  if (!LiveHandle(handle, kSndLabel)) return kInvalidHandle;
  const auto* sound = static_cast<const SndBasic::SndRec*>(handle);
  const auto& f = sound->format;
  return std::to_string(f.samplesPerSec) + "x" + std::to_string(f.channels) +
         "x" + std::to_string(f.bitsPerSample) + "|" +
         std::to_string(sound->frames);
}

int32_t Clamp32(int64_t count) {
  return static_cast<int32_t>(std::clamp<int64_t>(count, INT32_MIN, INT32_MAX));
}

void ResetQorRec(QorRec* rec) {
  *rec = QorRec{};
  ConForm::FFSaveInit(&rec->videoSave, ConForm::kSaveVideo);
  ConForm::FFSaveInit(&rec->audioSave, ConForm::kSaveAudio);
  SndBasic::WaveFormatSetPCM(rec->wave, 44100, 2, 16);
  Predict::Predict_Init(&rec->videoPredict);
  Predict::Predict_Init(&rec->audioPredict);
}

namespace {
int32_t CompatibleSide(int32_t value) {
  const int64_t rounded = (int64_t{value} + 8) / 16 * 16;
  if (rounded < 16) return 16;
  return static_cast<int32_t>(rounded > 0x7FFFFFF0 ? 0x7FFFFFF0 : rounded);
}
}  // namespace

void MakeCompatibleRes(int32_t* width, int32_t* height) {
  *width = CompatibleSide(*width);
  *height = CompatibleSide(*height);
}

bool IsTrackedAs(const void* block, const char* label) {
  // Tracked labels read "kind:label:line".
  const std::string text = Basic::MemTrackedLabel(block);
  return text.find(std::string(":") + label + ":") != std::string::npos;
}

const char* ExportName(const char* traceName) {
  const char* dot = std::strrchr(traceName, '.');
  return dot ? dot + 1 : traceName;
}

}  // namespace Common
