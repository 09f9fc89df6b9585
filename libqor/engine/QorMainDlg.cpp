// The dialogs a host opens through the exported interface: the output
// settings of a conversion, a format's option dialog, whether a format has
// one, and the AVI codec's own configuration.
#include "engine/Common.h"
#include "engine/ConFormOut.h"
#include "engine/QorMain.h"
#include "engine/SettingsHook.h"
#include "formats/FF_AVI.h"
#include "foundation/Errors.h"
#include "platform/base/UiLayer.h"

using Common::BoolToStrLog;
using Common::IntToStrAuto;
using Common::LogValue;
using Common::PtrToStrLog;
using namespace QorMain;

namespace {

using Common::kTrue;

// A dialog needs the host's application object; the library never makes
// one, so without it the call fails with the error pair set.
bool RequireWidgets() {
  if (Ui::HostHasWidgets()) return true;
  // A Qt host whose ui module cannot be loaded has been told why already.
  if (Errors::ErrNone()) Errors::ErrSet(Errors::kClsGeneral, Errors::kCodeNotSupported, __LINE__);
  return false;
}

int32_t LogResult(int32_t result) {
  LogValue("result", IntToStrAuto(result));
  return result;
}

}  // namespace

QOR_API QorBool QOR_CALL QorOutputDlg(QorHandle mData, QorHandle mList,
                                      const char* title, QorBool enableChanges) {
  return Common::ExportFrame<QorBool>("QorMain.QorOutputDlg", 0, [&]() -> QorBool {
    LogValue("mData", PtrToStrLog(mData));
    LogValue("mList", PtrToStrLog(mList));
    LogValue("title", title ? title : "NULL");
    LogValue("enableChanges", BoolToStrLog(enableChanges != 0));
    Common::QorRec* rec = _QorRecOf(mData);
    QorFileList* list = _QorListOf(mList);
    if (!RequireWidgets()) return 0;
    const bool ok = DialogHooks::DlgSettings(rec, list, title ? title : "",
                                             enableChanges != 0);
    return LogResult(ok ? kTrue : 0);
  });
}

QOR_API QorBool QOR_CALL QorCodecDlg(QorHandle mData, int32_t fileFmtID,
                                     int32_t resX, int32_t resY, int32_t bpp) {
  return Common::ExportFrame<QorBool>("QorMain.QorCodecDlg", 0, [&]() -> QorBool {
    LogValue("mData", PtrToStrLog(mData));
    LogValue("fileFmtID", IntToStrAuto(fileFmtID));
    LogValue("resX", IntToStrAuto(resX));
    LogValue("resY", IntToStrAuto(resY));
    LogValue("bpp", IntToStrAuto(bpp));
    Common::QorRec* rec = _QorRecOf(mData);
    ConForm::FFSaveRec* options = _QorTargetOptions(rec, fileFmtID);
    // A format without a dialog shows nothing and needs no application.
    if (options->hasDialog && !RequireWidgets()) return 0;
    const int32_t result =
        options == &rec->audioSave ? ConForm::FFSaveDlg(options, 0, 0, 0)
                                   : ConForm::FFSaveDlg(options, resX, resY, bpp);
    return LogResult(result != 0 ? kTrue : 0);
  });
}

QOR_API QorBool QOR_CALL QorHasCodecDlg(QorHandle mData, int32_t fileFmtID) {
  return Common::ExportFrame<QorBool>("QorMain.QorHasCodecDlg", 0, [&]() -> QorBool {
    LogValue("mData", PtrToStrLog(mData));
    LogValue("fileFmtID", IntToStrAuto(fileFmtID));
    const bool has = _QorTargetOptions(_QorRecOf(mData), fileFmtID)->hasDialog;
    return LogResult(has ? kTrue : 0);
  });
}

QOR_API QorBool QOR_CALL QorAviCodecConfigureDlg(QorHandle mData) {
  return Common::ExportFrame<QorBool>("QorMain.QorAviCodecConfigureDlg", 0,
                                      [&]() -> QorBool {
    LogValue("mData", PtrToStrLog(mData));
    Common::QorRec* rec = _QorRecOf(mData);
    if (!RequireWidgets()) return 0;
    // The codec keeps its new state in the record's AVI settings.
    const bool confirmed = FF_AVI::AviCodecConfigure(&ConForm::FFSaveAvi(&rec->videoSave));
    return LogResult(confirmed ? kTrue : 0);
  });
}
