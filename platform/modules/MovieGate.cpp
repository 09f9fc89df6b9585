// The FFmpeg layers in the core: every call goes to the movie module. The
// calls the library makes at start-up (the AVI layer's user count, the MPEG
// error and picture callbacks) are kept here and handed over when the module
// is loaded, so that starting the library loads nothing.
#include <mutex>

#include "platform/modules/ModuleGate.h"
#include "platform/modules/MovieModule.h"

namespace {

using MovieModule::Table;

struct Kept {
  int aviUsers = 0;
  Pavane::ErrorFunc pavaneError = nullptr;
  Morrow::ErrorFunc morrowError = nullptr;
  Morrow::GetImgPtrFunc morrowImage = nullptr;
  bool handedOver = false;
};

Kept g_kept;
std::mutex g_keptLock;

const Table* Loaded() { return static_cast<const Table*>(Modules::IfLoaded(Modules::kMovie)); }

// The module's table with the kept state handed over once.
const Table* Movie() {
  const auto* t = static_cast<const Table*>(Modules::Require(Modules::kMovie));
  if (t == nullptr) return nullptr;
  std::lock_guard<std::mutex> hold(g_keptLock);
  if (!g_kept.handedOver) {
    g_kept.handedOver = true;
    for (int i = 0; i < g_kept.aviUsers; i++) t->AviFile_AVIFileInit();
    t->Pavane_PavaneErrorFuncSet(g_kept.pavaneError);
    t->Morrow_EncErrorFuncSet(g_kept.morrowError);
    t->Morrow_GetImgPtrFuncSet(g_kept.morrowImage);
  }
  return t;
}

// Runs a setter now when the module is in, or keeps the value for later.
template <class Value, class Setter>
void KeepOrSet(Value& kept, Value value, Setter setter) {
  std::lock_guard<std::mutex> hold(g_keptLock);
  kept = value;
  const Table* t = Loaded();
  if (t != nullptr && g_kept.handedOver) setter(*t, value);
}

}  // namespace

#define QOR_MOVIE_LOAD(NS, RET, NAME, PARAMS, ARGS, FAIL) \
  RET NS::NAME PARAMS {                                   \
    const Table* t = Movie();                             \
    if (t == nullptr) return FAIL;                        \
    return t->NS##_##NAME ARGS;                           \
  }
#define QOR_MOVIE_KEEP(...) QOR_GATE_KEEP(Table, Modules::kMovie, __VA_ARGS__)

QOR_MOVIE_CALLS(QOR_MOVIE_LOAD, QOR_MOVIE_KEEP)

namespace AviFile {

void AVIFileInit() {
  KeepOrSet(g_kept.aviUsers, g_kept.aviUsers + 1, [](const Table& t, int) { t.AviFile_AVIFileInit(); });
}

void AVIFileExit() {
  if (g_kept.aviUsers <= 0) return;
  KeepOrSet(g_kept.aviUsers, g_kept.aviUsers - 1, [](const Table& t, int) { t.AviFile_AVIFileExit(); });
}

}  // namespace AviFile

namespace Pavane {

void PavaneErrorFuncSet(ErrorFunc func) {
  KeepOrSet(g_kept.pavaneError, func, [](const Table& t, ErrorFunc f) { t.Pavane_PavaneErrorFuncSet(f); });
}

}  // namespace Pavane

namespace Morrow {

void EncErrorFuncSet(ErrorFunc func) {
  KeepOrSet(g_kept.morrowError, func, [](const Table& t, ErrorFunc f) { t.Morrow_EncErrorFuncSet(f); });
}

void GetImgPtrFuncSet(GetImgPtrFunc func) {
  KeepOrSet(g_kept.morrowImage, func,
            [](const Table& t, GetImgPtrFunc f) { t.Morrow_GetImgPtrFuncSet(f); });
}

}  // namespace Morrow

namespace Acm {

// In the core the counter's state is the movie module's own counter object.
MpegAudioCounter::MpegAudioCounter(uint16_t formatTag) {
  if (const Table* t = Movie()) p_ = static_cast<Parser*>(t->counterNew(formatTag));
}

MpegAudioCounter::~MpegAudioCounter() {
  if (p_ != nullptr) Loaded()->counterDelete(p_);
}

bool MpegAudioCounter::Usable() const { return p_ != nullptr && Loaded()->counterUsable(p_); }

void MpegAudioCounter::Add(const uint8_t* data, int64_t size) {
  if (p_ != nullptr) Loaded()->counterAdd(p_, data, size);
}

int64_t MpegAudioCounter::Finish() { return p_ != nullptr ? Loaded()->counterFinish(p_) : 0; }

}  // namespace Acm
