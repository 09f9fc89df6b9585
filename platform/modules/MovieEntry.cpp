// The movie module's one export: its table of the FFmpeg layers' functions.
#include "platform/modules/ModuleHost.h"
#include "platform/AvSupport.h"
#include "platform/modules/MovieModule.h"

namespace {

using Acm::MpegAudioCounter;

MovieModule::Table MakeTable() {
  MovieModule::Table t{};
#define QOR_MODULE_FILL(NS, RET, NAME, PARAMS, ARGS, FAIL) t.NS##_##NAME = &NS::NAME;
  QOR_MOVIE_CALLS(QOR_MODULE_FILL, QOR_MODULE_FILL)
#undef QOR_MODULE_FILL
  t.AviFile_AVIFileInit = &AviFile::AVIFileInit;
  t.AviFile_AVIFileExit = &AviFile::AVIFileExit;
  t.Pavane_PavaneErrorFuncSet = &Pavane::PavaneErrorFuncSet;
  t.Morrow_EncErrorFuncSet = &Morrow::EncErrorFuncSet;
  t.Morrow_GetImgPtrFuncSet = &Morrow::GetImgPtrFuncSet;
  t.counterNew = [](uint16_t tag) -> void* { return new MpegAudioCounter(tag); };
  t.counterDelete = [](void* c) { delete static_cast<MpegAudioCounter*>(c); };
  t.counterUsable = [](const void* c) { return static_cast<const MpegAudioCounter*>(c)->Usable(); };
  t.counterAdd = [](void* c, const uint8_t* data, int64_t size) {
    static_cast<MpegAudioCounter*>(c)->Add(data, size);
  };
  t.counterFinish = [](void* c) { return static_cast<MpegAudioCounter*>(c)->Finish(); };
  return t;
}

const MovieModule::Table kTable = MakeTable();

}  // namespace

extern "C" __attribute__((visibility("default"))) const void* qor_module_movie_v1(
    const Modules::Host* host) {
  ModuleHost::Attach(host);
  if (host != nullptr) AvSupport::SetCodecThreads(host->codecThreads);
  return &kTable;
}
