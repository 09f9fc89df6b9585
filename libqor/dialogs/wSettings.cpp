#include "dialogs/wSettings.h"

#include <QComboBox>
#include <QDialog>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>

#include "dialogs/CtlEx.h"
#include "dialogs/CtlPreview.h"
#include "dialogs/DlgForm.h"
#include "FitTexts.h"
#include "dialogs/wFormBasic.h"
#include "formats/ConForm.h"
#include "formats/FFBasic.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "foundation/MiscProcs.h"
#include "foundation/Translator.h"
#include "foundation/VCLUtils.h"
#include "foundation/ValueList.h"

using Errors::TraceScope;

namespace wSettings {

const char* const kDepthTexts[5] = {
    "32-bit  (16M + alpha)", "24-bit  (16M colors)", "16-bit  (65k colors)",
    "15-bit  (32k colors)", "8-bit  (256 colors)"};
const int32_t kDepths[5] = {32, 24, 16, 15, 8};

namespace {

constexpr int32_t kMaxRes = 16000;
constexpr int32_t kNone = -1;
// Fields of the depth list: the item text and its depth.
constexpr int32_t kFieldText = 0;
constexpr int32_t kFieldDepth = 1;

// The form as the user sees it; the unit's routines below work on the one
// instance that exists while the dialog runs.
class TfrmSet : public QDialog {
 public:
  TfrmSet();

  QFrame* panView;
  QSlider* barFrame;
  QLineEdit* edFrame;
  QLineEdit* edFilename;
  QGroupBox* boxFormat;
  QLineEdit* edName;
  QLineEdit* edCodec;
  QPushButton* btnCodec;
  QGroupBox* boxSize;
  QLineEdit* edResX;
  QLineEdit* edResY;
  QComboBox* lstBPP;
  QRadioButton* radDitherNone;
  QRadioButton* radDitherLite;
  QRadioButton* radDitherHeavy;
  QPushButton* btnOK;
  QPushButton* btnCancel;
  QPushButton* btnUndo;

  Common::QorRec* dataP = nullptr;
  Common::QorRec* backupP = nullptr;
  QorMain::QorFileList* fileList = nullptr;
  bool hasFrames = false;
  bool enableChanges = false;
  ValueList::VList bppList;
  bool updating = true;
  bool busy = false;
  ImgBasic::Qimg frameImg;
  CtlPreview::PreviewRec preview;
  CtlEx::QTrackBar2* frameBar = nullptr;
};

TfrmSet* g_form = nullptr;
int32_t LastFramePos = kNone;

TfrmSet& F() { return *g_form; }

using DlgForm::AddLabel;
using DlgForm::Place;

// The dialog's buttons share one size.
QPushButton* AddButton(QWidget* parent, const char* name, const char* text, int x,
                       int y) {
  return DlgForm::AddButton(parent, name, text, x, y, 82, 28);
}

// A status or name line: read-only, button-face colour, out of the tab
// order; a file name too long for it is shown elided in the middle.
QLineEdit* AddReadOnlyEdit(QWidget* parent, const char* name, int x, int y, int w) {
  auto* edit = Place<FitTexts::ElidedLineEdit>(parent, name, x, y, w, 21);
  edit->setReadOnly(true);
  edit->setFocusPolicy(Qt::NoFocus);
  QPalette p = edit->palette();
  p.setColor(QPalette::Base, p.color(QPalette::Button));
  edit->setPalette(p);
  return edit;
}

QRadioButton* AddRadio(QWidget* parent, const char* name, const char* text, int y) {
  auto* radio = Place<QRadioButton>(parent, name, 140, y, 96, 17);
  radio->setText(text);
  return radio;
}

TfrmSet::TfrmSet() {
  setObjectName("frmSet");
  QFont font("MS Sans Serif");
  font.setPixelSize(11);
  setFont(font);
  setFixedSize(628, 323);

  panView = Place<QFrame>(this, "panView", 10, 12, 322, 242);
  panView->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panView->setLineWidth(1);
  barFrame = Place<QSlider>(this, "barFrame", 2, 257, 337, 25);
  barFrame->setOrientation(Qt::Horizontal);
  barFrame->setTickPosition(QSlider::NoTicks);
  edFrame = AddReadOnlyEdit(this, "edFrame", 9, 288, 77);
  edFilename = AddReadOnlyEdit(this, "edFilename", 87, 288, 245);

  boxFormat = Place<QGroupBox>(this, "boxFormat", 344, 7, 274, 114);
  boxFormat->setTitle("Output File");
  AddLabel(boxFormat, "Label1", "Name:", 10, 22);
  edName = AddReadOnlyEdit(boxFormat, "edName", 52, 19, 211);
  AddLabel(boxFormat, "Label2", "Codec:", 10, 49);
  edCodec = AddReadOnlyEdit(boxFormat, "edCodec", 52, 46, 211);
  btnCodec = Place<QPushButton>(boxFormat, "btnCodec", 160, 77, 103, 25);
  btnCodec->setText("&Codec Settings...");
  btnCodec->setAutoDefault(false);

  boxSize = Place<QGroupBox>(this, "boxSize", 344, 128, 274, 124);
  boxSize->setTitle("Resolution and Color Depth");
  AddLabel(boxSize, "labResX", "Width", 15, 22);
  edResX = Place<QLineEdit>(boxSize, "edResX", 15, 39, 51, 21);
  AddLabel(boxSize, "labX", "X", 70, 43);
  AddLabel(boxSize, "labResY", "Height", 80, 22);
  edResY = Place<QLineEdit>(boxSize, "edResY", 80, 39, 51, 21);
  AddLabel(boxSize, "labBPP", "Bits per pixel", 138, 22);
  lstBPP = Place<QComboBox>(boxSize, "lstBPP", 138, 39, 123, 21);
  radDitherNone = AddRadio(boxSize, "radDitherNone", "No dithering", 65);
  radDitherLite = AddRadio(boxSize, "radDitherLite", "Lite dithering", 82);
  radDitherHeavy = AddRadio(boxSize, "radDitherHeavy", "Heavy dithering", 100);

  btnOK = AddButton(this, "btnOK", "OK", 353, 282);
  btnOK->setDefault(true);
  btnCancel = AddButton(this, "btnCancel", "Cancel", 435, 282);
  btnUndo = AddButton(this, "btnUndo", "Undo...", 528, 282);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

// An event handler's failure is shown as the toolkit shows a failing
// handler's exception; it never leaves through the modal loop.
template <class Fn>
void Handler(Fn&& fn) {
  try {
    fn();
  } catch (...) {
    VCLUtils::ShowErrorBox(VCLUtils::GetExceptionText());
  }
}

// ---- the working copies -------------------------------------------------------

Common::QorRec* AllocRecord(const char* label) {
  void* block = nullptr;
  if (Basic::MemAlloc(block, static_cast<int64_t>(sizeof(Common::QorRec)), __LINE__,
                      Basic::kMemNew, label) != Basic::kMemOk ||
      !block)
    throw std::bad_alloc();
  return new (block) Common::QorRec();
}

void FreeRecord(Common::QorRec*& rec) {
  if (!rec) return;
  rec->~QorRec();
  void* block = rec;
  Basic::MemFree(block);
  rec = nullptr;
}

// ---- the unit's routines --------------------------------------------------------

void WriteDithering() {
  TraceScope t("wsettings.WriteDithering");
  TfrmSet& f = F();
  const bool eightBits = f.dataP->bpp == 8;
  for (QRadioButton* r : {f.radDitherNone, f.radDitherLite, f.radDitherHeavy})
    r->setEnabled(eightBits);
  QRadioButton* checked = f.dataP->dither == 1   ? f.radDitherLite
                          : f.dataP->dither == 2 ? f.radDitherHeavy
                                                 : f.radDitherNone;
  checked->setChecked(true);
}

void ReadDithering() {
  TraceScope t("wsettings.ReadDithering");
  TfrmSet& f = F();
  f.dataP->dither = f.radDitherNone->isChecked()    ? 0
                    : f.radDitherLite->isChecked()  ? 1
                    : f.radDitherHeavy->isChecked() ? 2
                                                    : 0;
}

void WriteBPP() {
  TraceScope t("wsettings.WriteBPP");
  TfrmSet& f = F();
  const int32_t rows = ValueList::VList_GetCount(f.bppList);
  const int32_t row =
      rows == 0 ? kNone : ValueList::VList_FindInt(f.bppList, kFieldDepth, f.dataP->bpp, 0);
  f.lstBPP->setCurrentIndex(row);
  WriteDithering();
}

void ReadBPP() {
  TraceScope t("wsettings.ReadBPP");
  TfrmSet& f = F();
  if (ValueList::VList_GetCount(f.bppList) == 0) return;
  const int32_t row = f.lstBPP->currentIndex();
  if (row >= 0)
    f.dataP->bpp = ValueList::VList_GetInt(f.bppList, row, kFieldDepth, f.dataP->bpp);
}

void WriteCodecName() {
  TraceScope t("wsettings.WriteCodecName");
  TfrmSet& f = F();
  f.btnCodec->setEnabled(f.dataP->videoSave.hasDialog);
  std::string name;
  ConForm::FFSaveCodecName(&f.dataP->videoSave, &name);
  f.edCodec->setText(QString::fromLocal8Bit(name.c_str()));
}

void FillCombo() {
  TraceScope t("wsettings.FillCombo");
  TfrmSet& f = F();
  for (int32_t row = 0; row < ValueList::VList_GetCount(f.bppList); row++) {
    std::string text;
    ValueList::VList_GetStr(f.bppList, row, kFieldText, text, "");
    f.lstBPP->addItem(QString::fromLocal8Bit(text.c_str()));
  }
}

int32_t FileCount() {
  return static_cast<int32_t>(F().fileList->names.size());
}

std::string GetFileName(int32_t n) {
  TraceScope t("wsettings.GetFileName");
  const int32_t count = FileCount();
  if (n < 0 || n >= count) return std::string();
  // A conversion that plays backwards reads the list from its end.
  const int32_t index = F().dataP->direction == 1 ? n : count - n - 1;
  std::string name;
  QorMain::_QorListGetName(F().fileList, index, &name);
  return name;
}

void ShowStatus1(const std::string& text) {
  TraceScope t("wsettings.ShowStatus1");
  F().edFrame->setText(QString::fromLocal8Bit(text.c_str()));
  F().edFrame->repaint();
}

void ShowStatus2(const std::string& text) {
  TraceScope t("wsettings.ShowStatus2");
  F().edFilename->setText(QString::fromLocal8Bit(text.c_str()));
  F().edFilename->repaint();
}

void ShowCurPos(int32_t n) {
  TraceScope t("wsettings.ShowCurPos");
  ShowStatus1(std::to_string(int64_t{n} + 1) + " / " + std::to_string(FileCount()));
  ShowStatus2(GetFileName(n));
}

// The first frame of a file at its own size; img is replaced only when the
// frame was read whole, so a bad file leaves the last good frame in place.
void LoadFirstFrame(const std::string& name, ImgBasic::Qimg* img) {
  TraceScope t("wsettings.LoadFirstFrame");
  ConForm::UniInfoRec info;
  QorMain::_QorDescribeFile(name, 0, nullptr, nullptr, &info);
  ConForm::UniFile uni;
  ConForm::UniOpen(&uni, &info);
  ImgBasic::Qimg frame;
  try {
    ConForm::UniImgLoad(&uni, &frame, 1, 0);
    ConForm::UniClose(&uni);
    ImgBasic::ImgCopy(&frame, img);
  } catch (...) {
    ImgBasic::ImgFree(&frame);
    try {
      ConForm::UniClose(&uni);
    } catch (...) {
    }
    throw;
  }
  ImgBasic::ImgFree(&frame);
}

// The loaded frame at the output size, fitted into the preview panel. An
// output larger than the panel is resampled straight to the size it is
// shown at: the same picture, without a temporary of up to 16000 x 16000.
void MakePreview() {
  TraceScope t("wsettings.MakePreview");
  TfrmSet& f = F();
  if (!f.hasFrames || !CtlDisplay::IsImgValid(&f.frameImg)) return;
  int32_t width = 0, height = 0, spareX = 0, spareY = 0;
  MiscProcs::CalcBoxResize(f.dataP->width, f.dataP->height,
                           f.panView->width() - 2 * f.preview.margin,
                           f.panView->height() - 2 * f.preview.margin, false, width,
                           height, spareX, spareY);
  ImgBasic::Qimg temp;
  try {
    ImgBasic::ImgResize(&f.frameImg, &temp, width, height);
    CtlPreview::Preview_Show(f.preview, &temp);
  } catch (...) {
    ImgBasic::ImgFree(&temp);
    throw;
  }
  ImgBasic::ImgFree(&temp);
}

// Traced by its monitor frame.
void EvFrameChanged() {
  TfrmSet& f = F();
  if (f.updating || f.busy) return;
  f.busy = true;
  try {
    Errors::MonitoredQuiet("wsettings.EvFrameChanged", [&] {
      if (FileCount() == 0) return;
      const int32_t n = f.frameBar ? f.frameBar->value() : 0;
      VCLUtils::CursorWait();
      LoadFirstFrame(GetFileName(n), &f.frameImg);
      ShowCurPos(n);
      MakePreview();
    });
  } catch (...) {
  }
  // An unreadable frame is not reported: the preview simply stays as it was.
  if (!Errors::ErrNone()) Errors::ErrClear();
  VCLUtils::CursorNormal();
  f.busy = false;
}

void WriteControls() {
  TraceScope t("wsettings.WriteControls");
  TfrmSet& f = F();
  f.updating = true;
  VCLUtils::TEdit_SetInt(f.edResX, f.dataP->width);
  VCLUtils::TEdit_SetInt(f.edResY, f.dataP->height);
  f.edName->setText(QString::fromLocal8Bit(f.dataP->videoName.substr(0, 255).c_str()));
  WriteCodecName();
  WriteBPP();
  f.updating = false;
  EvFrameChanged();
}

int32_t ReadResolution(QLineEdit* edit, int32_t current) {
  const int64_t v = std::llabs(int64_t{VCLUtils::TEdit_GetInt(edit, current)});
  return static_cast<int32_t>(std::clamp<int64_t>(v, 1, kMaxRes));
}

void ReadControls() {
  TraceScope t("wsettings.ReadControls");
  TfrmSet& f = F();
  Common::QorRec* d = f.dataP;
  const int32_t width = ReadResolution(f.edResX, d->width);
  const int32_t height = ReadResolution(f.edResY, d->height);
  if (d->autoRes && (width != d->width || height != d->height)) d->autoRes = 0;
  d->width = width;
  d->height = height;
  ReadBPP();
  ReadDithering();
}

void EvResChanged() {
  TraceScope t("wsettings.EvResChanged");
  if (F().updating) return;
  ReadControls();
  MakePreview();
}

void EvChangeCodec() {
  TraceScope t("wsettings.EvChangeCodec");
  Common::QorRec* d = F().dataP;
  if (ConForm::FFSaveDlg(&d->videoSave, d->width, d->height, d->bpp) != 0) {
    VCLUtils::ProcessMessages();
    WriteCodecName();
  }
}

void EvUndoChanges() {
  TraceScope t("wsettings.EvUndoChanges");
  const std::string question =
      Translator::TranGet("Undo all changes made in this dialog?");
  if (VCLUtils::YesNo(question, 1) != "Y") return;
  *F().dataP = *F().backupP;
  WriteControls();
}

// The frame slider: the position line follows the thumb while it is
// dragged; the frame is loaded once the change is finished, and not again
// for the position loaded last.
void barFrameChange() {
  TraceScope t("wsettings.TfrmSet");
  TfrmSet& f = F();
  if (f.updating || !f.frameBar) return;
  const int32_t pos = f.frameBar->value();
  if (!f.frameBar->notTracking) {
    ShowCurPos(pos);
    return;
  }
  if (pos == LastFramePos) return;
  EvFrameChanged();
  LastFramePos = pos;
}

void FillDepthList() {
  TfrmSet& f = F();
  f.lstBPP->clear();
  ValueList::VList_Prepare2(f.bppList);
  const int32_t format = f.dataP->videoFormat;
  if (format == Basic::K_AUTO) return;
  for (int i = 0; i < 5; i++)
    if (FFBasic::FFGetSaveBpp(format, kDepths[i]) == kDepths[i])
      ValueList::VList_Add2(f.bppList, Translator::TranGet(kDepthTexts[i]), kDepths[i]);
  FillCombo();
}

void ConnectHandlers() {
  TfrmSet& f = F();
  QObject::connect(f.btnUndo, &QPushButton::clicked, &f,
                   [] { Handler(EvUndoChanges); });
  QObject::connect(f.edResX, &QLineEdit::editingFinished, &f,
                   [] { Handler(EvResChanged); });
  QObject::connect(f.edResY, &QLineEdit::editingFinished, &f,
                   [] { Handler(EvResChanged); });
  QObject::connect(f.lstBPP, &QComboBox::currentIndexChanged, &f, [] {
    Handler([] {
      if (F().updating) return;
      ReadBPP();
      WriteBPP();
    });
  });
  QObject::connect(f.btnCodec, &QPushButton::clicked, &f,
                   [] { Handler(EvChangeCodec); });
}

void InitControls() {
  TraceScope t("wsettings.InitControls");
  TfrmSet& f = F();
  f.updating = true;
  CtlPreview::Preview_Init(f.preview, f.panView, 1);
  f.hasFrames = FileCount() > 0;
  if (f.dataP->forceCompat) Common::MakeCompatibleRes(&f.dataP->width, &f.dataP->height);
  ConForm::FFSaveSetFmt(&f.dataP->videoSave, f.dataP->videoFormat);
  // Taken once the save options hold the output's format, so that "Undo..."
  // returns to the codec text the dialog opened with.
  *f.backupP = *f.dataP;
  FillDepthList();
  f.frameBar = CtlEx::CloneTrackBar2(f.barFrame, true,
                                     [] { Handler(barFrameChange); });
  f.barFrame = nullptr;
  if (!f.frameBar) throw std::runtime_error("the frame slider could not be made");
  f.frameBar->setRange(0, std::max(FileCount() - 1, 0));
  f.frameBar->setSingleStep(1);
  f.frameBar->setPageStep(1);
  f.frameBar->setEnabled(f.hasFrames);
  VCLUtils::TWinControl_Enable(f.boxFormat, f.enableChanges);
  VCLUtils::TWinControl_Enable(f.boxSize, f.enableChanges);
  VCLUtils::TWinControl_Enable(f.btnUndo, f.enableChanges);
  ConnectHandlers();
}

void DoneControls() {
  TraceScope t("wsettings.DoneControls");
  TfrmSet& f = F();
  f.updating = true;
  ImgBasic::ImgFree(&f.frameImg);
  CtlPreview::Preview_Done(f.preview);
  ValueList::VList_Free(f.bppList);
}

// Everything one run of the dialog holds, released on every way out.
struct Session {
  std::unique_ptr<TfrmSet> form;
  Common::QorRec* dataP = nullptr;
  Common::QorRec* backupP = nullptr;

  ~Session() {
    try {
      if (form) {
        if (g_form == form.get()) DoneControls();
        form.reset();
      }
    } catch (...) {
    }
    g_form = nullptr;
    FreeRecord(dataP);
    FreeRecord(backupP);
  }
};

}  // namespace

bool DlgSettings(Common::QorRec* rec, QorMain::QorFileList* fileList,
                 const std::string& title, bool enableChanges) {
  TraceScope t("wsettings.DlgSettings");
  Common::StatusBegin();
  bool result = false;
  try {
    Session session;
    session.form = std::make_unique<TfrmSet>();
    TfrmSet& f = *session.form;
    f.setWindowTitle(QString::fromLocal8Bit(title.c_str()));
    session.dataP = AllocRecord("wsettings.DlgSettings.frmSet.dataP");
    session.backupP = AllocRecord("wsettings.DlgSettings.frmSet.backupP");
    f.dataP = session.dataP;
    f.backupP = session.backupP;
    *f.dataP = *rec;
    f.fileList = fileList;
    f.enableChanges = enableChanges;
    g_form = &f;
    LastFramePos = kNone;
    InitControls();
    WriteControls();
    Translator::TranControl(&f);
    if (wFormBasic::ShowModal(&f) == QDialog::Accepted) {
      ReadControls();
      *rec = *f.dataP;
      result = true;
    }
  } catch (...) {
    Common::StatusException();
    result = false;
  }
  Common::StatusEnd();
  return result;
}

}  // namespace wSettings
