// The ui module's interface, both ways. The core opens the dialogs (the
// hooks of formats/DialogHooks.h and engine/SettingsHook.h, filled by the
// dialogs layer) and calls the host application's side of the desktop layer
// through Table; the module's
// units call the core's through CoreCalls, which the core lends at load
// (Modules::Host::core), so that both sides share one error state, one trace,
// one memory tracker and one set of conversion settings.
//
// A row names a function by its unit and name; the slot's type is the
// function's own, so a row cannot drift from its declaration.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

#include "engine/Common.h"
#include "engine/ConFormSave.h"
#include "engine/QorMain.h"
#include "engine/SettingsHook.h"
#include "formats/ConForm.h"
#include "formats/DialogHooks.h"
#include "formats/FFBasic.h"
#include "formats/FF_AVI.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "foundation/MiscProcs.h"
#include "foundation/Translator.h"
#include "foundation/VCLUtils.h"
#include "media/ImgBasic.h"
#include "platform/Gdi.h"
#include "platform/Modules.h"
#include "platform/base/UiLayer.h"

// The core functions the module's units call; CALL_AS names the overload.
// What keeps no state of the core's (the value lists) is built into the
// module instead.
#define QOR_UI_CORE_CALLS(CALL, CALL_AS)                                                           \
  CALL_AS(Basic, MemFree, void (*)(void**), (void** a0), (a0))                                     \
  CALL(Basic, _memalloc_, (void** a0, int64_t a1, int32_t a2, int32_t a3, const char* a4),         \
       (a0, a1, a2, a3, a4))                                                                       \
  CALL(Common, MakeCompatibleRes, (int32_t * a0, int32_t * a1), (a0, a1))                          \
  CALL(Common, StatusBegin, (), ())                                                                \
  CALL(Common, StatusEnd, (), ())                                                                  \
  CALL(Common, StatusException, (), ())                                                            \
  CALL(ConForm, FFSaveCodecName, (const ConForm::FFSaveRec* a0, std::string* a1), (a0, a1))        \
  CALL(ConForm, FFSaveDlg, (ConForm::FFSaveRec * a0, int32_t a1, int32_t a2, int32_t a3),          \
       (a0, a1, a2, a3))                                                                           \
  CALL(ConForm, FFSaveSetFmt, (ConForm::FFSaveRec * a0, int32_t a1), (a0, a1))                     \
  CALL_AS(ConForm, UniClose, void (*)(ConForm::UniFile*), (ConForm::UniFile * a0), (a0))           \
  CALL(ConForm, UniImgLoad, (ConForm::UniFile * a0, ImgBasic::Qimg * a1, int32_t a2, int32_t a3),  \
       (a0, a1, a2, a3))                                                                           \
  CALL(ConForm, UniOpen, (ConForm::UniFile * a0, const ConForm::UniInfoRec* a1), (a0, a1))         \
  CALL(Errors, ErrClear, (), ())                                                                   \
  CALL(Errors, ErrLastText, (), ())                                                                \
  CALL(Errors, ErrNone, (), ())                                                                    \
  CALL(Errors, ErrSet, (int32_t a0, int32_t a1, int32_t a2), (a0, a1, a2))                         \
  CALL(Errors, MonEnter, (), ())                                                                   \
  CALL(Errors, MonEnterQuiet, (), ())                                                              \
  CALL(Errors, MonLeave, (), ())                                                                   \
  CALL(Errors, MonOnException, (), ())                                                             \
  CALL(Errors, TracePop, (), ())                                                                   \
  CALL(Errors, TracePush, (const char* a0), (a0))                                                  \
  CALL(FFBasic, FFGetSaveBpp, (int32_t a0, int32_t a1), (a0, a1))                                  \
  CALL(FFBasic, FourCCToStr, (uint32_t a0), (a0))                                                  \
  CALL(FF_AVI, AviCodecAbout, (uint32_t a0), (a0))                                                 \
  CALL(FF_AVI, AviCodecConfigure, (FF_AVI::AviCodecRec * a0), (a0))                                \
  CALL(FF_AVI, AviCodecSetDataRate, (FF_AVI::AviCodecRec * a0, int32_t a1), (a0, a1))              \
  CALL(FF_AVI, AviCodecSetKeyFrameRate, (FF_AVI::AviCodecRec * a0, int32_t a1), (a0, a1))          \
  CALL(FF_AVI, AviCodecSetQuality, (FF_AVI::AviCodecRec * a0, int32_t a1), (a0, a1))               \
  CALL(FF_AVI, AviCodecsInit, (), ())                                                              \
  CALL(FF_AVI, AviCodecsList,                                                                      \
       (const FF_AVI::AviCodecRec** a0, int32_t a1, int32_t a2, int32_t a3), (a0, a1, a2, a3))     \
  CALL(FF_AVI, AviGetCurCodec, (FF_AVI::AviCodecRec * a0), (a0))                                   \
  CALL(FF_AVI, AviSetCurCodec, (FF_AVI::AviCodecRec * a0), (a0))                                   \
  CALL(Gdi, DeleteDC, (Gdi::HDC a0), (a0))                                                         \
  CALL(Gdi, RegisterDC, (std::unique_ptr<Gdi::DeviceContext> a0), (std::move(a0)))                 \
  CALL(ImgBasic, ImgCopy, (const ImgBasic::Qimg* a0, ImgBasic::Qimg* a1), (a0, a1))                \
  CALL(ImgBasic, ImgFree, (ImgBasic::Qimg * a0), (a0))                                             \
  CALL(ImgBasic, ImgPut, (ImgBasic::Qimg * a0, Gdi::HDC a1, int32_t a2, int32_t a3),               \
       (a0, a1, a2, a3))                                                                           \
  CALL(ImgBasic, ImgResize, (ImgBasic::Qimg * a0, ImgBasic::Qimg * a1, int32_t a2, int32_t a3),    \
       (a0, a1, a2, a3))                                                                           \
  CALL(ImgBasic, PalPut, (const uint8_t* a0, Gdi::HDC a1), (a0, a1))                               \
  CALL(MiscProcs, CalcBoxResize,                                                                   \
       (int32_t a0, int32_t a1, int32_t a2, int32_t a3, bool a4, int32_t& a5, int32_t& a6,         \
        int32_t& a7, int32_t& a8),                                                                 \
       (a0, a1, a2, a3, a4, a5, a6, a7, a8))                                                       \
  CALL(QorMain, _QorDescribeFile,                                                                  \
       (const std::string& a0, int32_t a1, void (*a2)(QorInfoProgress*), void* a3,                 \
        ConForm::UniInfoRec* a4),                                                                  \
       (a0, a1, a2, a3, a4))                                                                       \
  CALL(QorMain, _QorListGetName, (const QorMain::QorFileList* a0, int32_t a1, std::string* a2),    \
       (a0, a1, a2))                                                                               \
  CALL(Translator, TranGet, (const std::string& a0), (a0))                                         \
  CALL(VCLUtils, CursorNormal, (), ())                                                             \
  CALL(VCLUtils, CursorWait, (), ())                                                               \
  CALL(VCLUtils, GetExceptionText, (), ())                                                         \
  CALL(VCLUtils, ProcessMessages, (), ())                                                          \
  CALL(VCLUtils, ShowErrorBox, (const std::string& a0), (a0))                                      \
  CALL(VCLUtils, YesNo, (const std::string& a0, int32_t a1), (a0, a1))

namespace UiModule {

#define QOR_UI_SLOT(NS, NAME, ...) decltype(&NS::NAME) NS##_##NAME;
#define QOR_UI_SLOT_AS(NS, NAME, TYPE, ...) std::type_identity_t<TYPE> NS##_##NAME;

struct Table {
  DialogHooks::Formats formats;
  DialogHooks::SettingsDialog settings;
  Ui::Host host;  // the host application's side of the desktop layer
};

struct CoreCalls {
  QOR_UI_CORE_CALLS(QOR_UI_SLOT, QOR_UI_SLOT_AS)
};

// The result type of a function pointer, for defining a function by its row.
template <class F>
struct Result;
template <class R, class... Args>
struct Result<R (*)(Args...)> {
  using type = R;
};
template <class F>
using ResultOf = typename Result<F>::type;

}  // namespace UiModule
