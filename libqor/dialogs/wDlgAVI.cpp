#include "dialogs/wDlgAVI.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTabWidget>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <vector>

#include "dialogs/DlgForm.h"
#include "dialogs/wFormBasic.h"
#include "dialogs/wFormDialog.h"
#include "formats/FFBasic.h"
#include "formats/FF_AVI.h"
#include "foundation/Errors.h"
#include "foundation/Translator.h"
#include "foundation/VCLUtils.h"

using DlgForm::Place;
using Errors::TraceScope;
using FF_AVI::AviCodecRec;

namespace wDlgAVI {
namespace {

enum Filter : int32_t { kCompatible = 0, kEncoders = 1, kAll = 2 };

const char* const kAuthorLabels[kAuthorTextCount] = {
    "Artist", "Comment", "Copyright", "Engineer", "Name", "Product", "Subject"};
const char* const kAuthorEdits[kAuthorTextCount] = {
    "edArtist", "edComment", "edCopyright", "edEngineer", "edName", "edProduct", "edSubject"};

// The dialog's working record.
struct DlgData {
  const AviCodecRec* codecs = nullptr;  // the list, codecCount entries
  int32_t codecCount = 0;
  AviCodecRec* pCurCodec = nullptr;  // the settings being edited
  std::vector<int32_t> indexMap;     // list-box row -> index in the list
  int32_t width = 0, height = 0, bits = 0;
  std::string texts[kAuthorTextCount];
};

class TfrmDlgAVI : public wFormDialog::TFormDialog {
 public:
  TfrmDlgAVI();

  QTabWidget* pages;
  QWidget* pageCodec;
  QWidget* pageAuthor;
  QLabel* labShow;
  QComboBox* lstWhat;
  QLabel* labCompressor;
  QListWidget* lstCodecs;
  QGroupBox* boxCodecInfo;
  QLabel* labFCC;
  QLabel* labEncode;
  QLabel* labInRes;
  QLabel* labOutRes;
  QLabel* labQualTitle;
  QScrollBar* barQuality;
  QLabel* labQuality;
  QCheckBox* chkKFM;
  QLineEdit* edKFM;
  QLabel* labKFM;
  QCheckBox* chkDataRate;
  QLineEdit* edDataRate;
  QLabel* labDataRate;
  QPushButton* btnConfig;
  QPushButton* btnAbout;
  QPushButton* Button1;
  QLineEdit* authorEdits[kAuthorTextCount];

  DlgData* mData = nullptr;
  // Keeps the list handlers quiet while the controls are being filled and
  // once the form is going.
  bool ControlsReady = false;
  bool filled = false;

  void EnsureFilled();

 protected:
  void showEvent(QShowEvent* event) override;
};

QLabel* InfoLabel(QWidget* parent, const char* name, int x, int y) {
  auto* label = Place<QLabel>(parent, name, x, y, 150, 16);
  return label;
}

TfrmDlgAVI::TfrmDlgAVI() {
  setObjectName("frmDlgAVI");
  setFixedSize(450, 412);
  pages = Place<QTabWidget>(this, "PageControl1", 8, 8, 434, 364);
  pageCodec = new QWidget;
  pageCodec->setObjectName("tabCodec");
  pageAuthor = new QWidget;
  pageAuthor->setObjectName("tabAuthor");
  pages->addTab(pageCodec, "Codec Settings");
  pages->addTab(pageAuthor, "Author Info");

  QWidget* p = pageCodec;
  labShow = DlgForm::AddLabel(p, "labShow", "&Show:", 8, 12);
  lstWhat = Place<QComboBox>(p, "lstWhat", 88, 8, 326, 22);
  labShow->setBuddy(lstWhat);
  labCompressor = DlgForm::AddLabel(p, "labCompressor", "&Compressor:", 8, 38);
  lstCodecs = Place<QListWidget>(p, "lstCodecs", 8, 54, 406, 86);
  labCompressor->setBuddy(lstCodecs);

  boxCodecInfo = Place<QGroupBox>(p, "boxCodecInfo", 8, 144, 406, 70);
  boxCodecInfo->setTitle("Codec Information");
  DlgForm::AddLabel(boxCodecInfo, "labFCCTitle", "FourCC:", 10, 20);
  labFCC = InfoLabel(boxCodecInfo, "labFCC", 70, 20);
  DlgForm::AddLabel(boxCodecInfo, "labEncodeTitle", "Encoder:", 240, 20);
  labEncode = InfoLabel(boxCodecInfo, "labEncode", 306, 20);
  DlgForm::AddLabel(boxCodecInfo, "labResTitle", "Image Resolution:", 10, 44);
  DlgForm::AddLabel(boxCodecInfo, "labBefore", "Before:", 150, 38);
  labInRes = InfoLabel(boxCodecInfo, "labInRes", 206, 38);
  DlgForm::AddLabel(boxCodecInfo, "labAfter", "After:", 150, 52);
  labOutRes = InfoLabel(boxCodecInfo, "labOutRes", 206, 52);

  labQualTitle = DlgForm::AddLabel(p, "labQualTitle", "Compression &Quality:", 8, 220);
  barQuality = Place<QScrollBar>(p, "barQuality", 8, 238, 340, 17);
  barQuality->setOrientation(Qt::Horizontal);
  labQualTitle->setBuddy(barQuality);
  labQuality = Place<QLabel>(p, "labQuality", 356, 238, 58, 17);
  labQuality->setText("0");

  chkKFM = Place<QCheckBox>(p, "chkKFM", 8, 266, 146, 20);
  chkKFM->setText("&Key Frame Every");
  edKFM = Place<QLineEdit>(p, "edKFM", 156, 265, 44, 21);
  labKFM = DlgForm::AddLabel(p, "labKFM", "frames", 205, 268);
  chkDataRate = Place<QCheckBox>(p, "chkDataRate", 8, 292, 146, 20);
  chkDataRate->setText("&Data Rate");
  edDataRate = Place<QLineEdit>(p, "edDataRate", 156, 291, 44, 21);
  labDataRate = DlgForm::AddLabel(p, "labDataRate", "kilobytes/s", 205, 294);

  btnConfig = DlgForm::AddButton(p, "btnConfig", "Con&figure...", 284, 262, 130, 24);
  btnAbout = DlgForm::AddButton(p, "btnAbout", "&About...", 284, 288, 130, 24);
  Button1 = DlgForm::AddButton(p, "Button1", "System Defaults...", 284, 314, 130, 24);

  for (int i = 0; i < kAuthorTextCount; i++) {
    DlgForm::AddLabel(pageAuthor, kAuthorLabels[i], kAuthorLabels[i], 12, 16 + 40 * i);
    authorEdits[i] = Place<QLineEdit>(pageAuthor, kAuthorEdits[i], 100, 12 + 40 * i, 310, 21);
    authorEdits[i]->setMaxLength(static_cast<int>(kMaxAuthorText));
  }
  DlgForm::AddOkCancel(this, 278, 380, 362, 380, 80, 25);
  Loaded();
}

TfrmDlgAVI* g_form = nullptr;
TfrmDlgAVI& F() { return *g_form; }
DlgData& D() { return *g_form->mData; }

// ---- codec information ------------------------------------------------------------

std::string ResolutionText(int32_t width, int32_t height, int32_t bits) {
  if (width == 0 || height == 0 || bits == 0) return Translator::TranGet("not supported");
  return std::to_string(width) + "x" + std::to_string(height) + ", " + std::to_string(bits) +
         "-bit";
}

void SetLabel(QLabel* label, const std::string& text, bool bold) {
  label->setText(DlgForm::Text(text));
  QFont font = label->font();
  font.setBold(bold);
  label->setFont(font);
}

void ShowCodecInfo(const AviCodecRec* entry) {
  TraceScope t("wDlgAVI.ShowCodecInfo");
  TfrmDlgAVI& f = F();
  if (!entry) {
    for (QLabel* label : {f.labFCC, f.labEncode, f.labInRes, f.labOutRes})
      SetLabel(label, "", false);
    return;
  }
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08X", entry->fourCC);
  SetLabel(f.labFCC, FFBasic::FourCCToStr(entry->fourCC) + ",  " + hex + "h", false);
  SetLabel(f.labEncode, Translator::TranGet(entry->isEncoder ? "Yes" : "No"), false);
  const DlgData& d = D();
  SetLabel(f.labInRes, ResolutionText(d.width, d.height, d.bits), false);
  const bool differs = entry->outWidth != d.width || entry->outHeight != d.height ||
                       entry->outBits != d.bits;
  SetLabel(f.labOutRes, ResolutionText(entry->outWidth, entry->outHeight, entry->outBits),
           differs);
}

// ---- the three settings -------------------------------------------------------------

void barQualityChange() {
  F().labQuality->setText(QString::number(F().barQuality->value()) + "%");
}

void WriteQuality() {
  TraceScope t("wDlgAVI.WriteQuality");
  TfrmDlgAVI& f = F();
  const AviCodecRec& c = *D().pCurCodec;
  const bool on = c.supportsQuality;
  for (QWidget* w : {static_cast<QWidget*>(f.labQualTitle), static_cast<QWidget*>(f.labQuality),
                     static_cast<QWidget*>(f.barQuality)})
    w->setEnabled(on);
  f.barQuality->setRange(0, on ? 100 : 0);
  f.barQuality->setValue(on ? std::clamp(c.quality, 0, 100) : 0);
  barQualityChange();
}

// A check box with its edit and unit label: the box is usable when the
// codec supports the setting, ticked when the value is above 0.
void WriteOptional(QCheckBox* box, QLineEdit* edit, QLabel* unit, bool supported,
                   int32_t value) {
  box->setEnabled(supported);
  box->setChecked(value > 0);
  VCLUtils::TEdit_SetInt(edit, value);
  VCLUtils::TEdit_Enable(edit, value > 0 && supported);
  unit->setEnabled(supported);
}

void WriteKeyFrames() {
  TraceScope t("wDlgAVI.WriteKeyFrames");
  const AviCodecRec& c = *D().pCurCodec;
  WriteOptional(F().chkKFM, F().edKFM, F().labKFM, c.supportsKeyFrames, c.keyFrameRate);
}

void WriteDataRate() {
  TraceScope t("wDlgAVI.WriteDataRate");
  const AviCodecRec& c = *D().pCurCodec;
  WriteOptional(F().chkDataRate, F().edDataRate, F().labDataRate, c.supportsDataRate,
                c.dataRate);
}

// ---- the list ---------------------------------------------------------------------------

bool Shown(const AviCodecRec& entry, int32_t filter) {
  if (filter == kEncoders) return entry.isEncoder;
  if (filter == kAll) return true;
  return entry.compatible;
}

void FillCodecList() {
  TraceScope t("wDlgAVI.FillCodecList");
  TfrmDlgAVI& f = F();
  DlgData& d = D();
  const QSignalBlocker quiet(f.lstCodecs);
  f.lstCodecs->clear();
  d.indexMap.clear();
  const int32_t filter = std::max(f.lstWhat->currentIndex(), 0);
  int32_t selected = 0;
  for (int32_t i = 0; i < d.codecCount; i++) {
    const AviCodecRec& entry = d.codecs[i];
    if (!Shown(entry, filter)) continue;
    if (entry.fourCC == d.pCurCodec->fourCC) selected = static_cast<int32_t>(d.indexMap.size());
    f.lstCodecs->addItem(DlgForm::Text(entry.description));
    d.indexMap.push_back(i);
  }
  if (!d.indexMap.empty()) f.lstCodecs->setCurrentRow(selected);
}

const AviCodecRec* SelectedEntry() {
  const DlgData& d = D();
  const int32_t row = F().lstCodecs->currentRow();
  if (row < 0 || row >= static_cast<int32_t>(d.indexMap.size())) return nullptr;
  const int32_t index = d.indexMap[static_cast<size_t>(row)];
  if (index < 0 || index >= d.codecCount) return nullptr;
  return &d.codecs[index];
}

void SelectCodec(bool copy) {
  TraceScope t("wDlgAVI.SelectCodec");
  TfrmDlgAVI& f = F();
  const AviCodecRec* entry = SelectedEntry();
  if (!entry) {
    VCLUtils::ShowErrorBox(Translator::TranGet("No compatible codec can be found."));
    return;
  }
  f.btnConfig->setEnabled(entry->hasConfig);
  f.btnAbout->setEnabled(entry->hasAbout);
  ShowCodecInfo(entry);
  if (copy) *D().pCurCodec = *entry;
  WriteQuality();
  WriteKeyFrames();
  WriteDataRate();
}

// ---- filling and reading --------------------------------------------------------------

void FillFilterList() {
  QComboBox* what = F().lstWhat;
  const QSignalBlocker quiet(what);
  what->clear();
  for (const char* text : {"Codecs compatible with current settings",
                           "All compression capable codecs", "All installed codecs"})
    what->addItem(DlgForm::Text(Translator::TranGet(text)));
  what->setCurrentIndex(kCompatible);
}

// The entry the current settings name (FourCCs compared in capitals), or
// the first; the settings keep their own three rates.
void TakeCurrentCodec() {
  DlgData& d = D();
  AviCodecRec& cur = *d.pCurCodec;
  FF_AVI::AviGetCurCodec(&cur);
  const std::string wanted = FFBasic::FourCCToStr(cur.fourCC);
  int32_t found = 0;
  for (int32_t i = 0; i < d.codecCount; i++) {
    std::string text = FFBasic::FourCCToStr(d.codecs[i].fourCC);
    std::string upper = wanted;
    for (std::string* s : {&text, &upper})
      std::transform(s->begin(), s->end(), s->begin(), ::toupper);
    if (text == upper) {
      found = i;
      break;
    }
  }
  if (d.codecCount == 0) return;
  const int32_t key = cur.keyFrameRate, quality = cur.quality, rate = cur.dataRate;
  cur = d.codecs[found];
  FF_AVI::AviCodecSetKeyFrameRate(&cur, key);
  FF_AVI::AviCodecSetQuality(&cur, quality);
  FF_AVI::AviCodecSetDataRate(&cur, rate);
}

void InitControls() {
  Errors::Monitored("wDlgAVI.InitControls", [&] {
    TfrmDlgAVI& f = F();
    DlgData& d = D();
    {
      const QSignalBlocker quiet(f.lstCodecs);
      f.lstCodecs->clear();
      f.lstCodecs->addItem("");
      f.lstCodecs->addItem(
          DlgForm::Text(Translator::TranGet("   Retrieving codec info, please wait...")));
    }
    FillFilterList();
    ShowCodecInfo(nullptr);
    VCLUtils::CursorWait();
    try {
      VCLUtils::ProcessMessages();
      d.codecCount = FF_AVI::AviCodecsList(&d.codecs, d.width, d.height, d.bits);
      DlgForm::NewTracked(d.pCurCodec, "wDlgAVI.InitControls.mData^.pCurCodec");
      TakeCurrentCodec();
    } catch (...) {
      VCLUtils::CursorNormal();
      throw;
    }
    VCLUtils::CursorNormal();
  });
}

void WriteControls() {
  TraceScope t("wDlgAVI.WriteControls");
  TfrmDlgAVI& f = F();
  FillCodecList();
  WriteQuality();
  WriteKeyFrames();
  WriteDataRate();
  for (int i = 0; i < kAuthorTextCount; i++)
    f.authorEdits[i]->setText(DlgForm::Text(D().texts[i]));
  f.lstCodecs->setFocus();
}

void FormActivate() {
  TraceScope t("wDlgAVI.FormActivate");
  TfrmDlgAVI& f = F();
  f.ControlsReady = false;
  InitControls();
  WriteControls();
  f.ControlsReady = true;
  SelectCodec(false);
}

int32_t OptionalValue(QCheckBox* box, QLineEdit* edit) {
  return box->isChecked() ? VCLUtils::TEdit_GetInt(edit, 0) : 0;
}

void ReadControls() {
  Errors::Monitored("wDlgAVI.ReadControls", [&] {
    TfrmDlgAVI& f = F();
    DlgData& d = D();
    AviCodecRec* cur = d.pCurCodec;
    FF_AVI::AviCodecSetQuality(cur, f.barQuality->value());
    FF_AVI::AviCodecSetKeyFrameRate(cur, OptionalValue(f.chkKFM, f.edKFM));
    FF_AVI::AviCodecSetDataRate(cur, OptionalValue(f.chkDataRate, f.edDataRate));
    FF_AVI::AviSetCurCodec(cur);
    for (int i = 0; i < kAuthorTextCount; i++)
      d.texts[i] = DlgForm::Text(f.authorEdits[i]->text()).substr(0, kMaxAuthorText);
  });
}

// ---- handlers ------------------------------------------------------------------------------

void lstWhatChange() {
  TraceScope t("wDlgAVI.lstWhatChange");
  if (!F().ControlsReady) return;
  FillCodecList();
  SelectCodec(true);
}

void lstCodecsClick() {
  TraceScope t("wDlgAVI.lstCodecsClick");
  if (F().ControlsReady) SelectCodec(true);
}

void btnConfigClick() {
  TraceScope t("wDlgAVI.btnConfigClick");
  FF_AVI::AviCodecConfigure(D().pCurCodec);
}

void btnAboutClick() {
  TraceScope t("wDlgAVI.btnAboutClick");
  FF_AVI::AviCodecAbout(D().pCurCodec->fourCC);
}

void EnableWithBox(QCheckBox* box, QLineEdit* edit) {
  VCLUtils::TEdit_Enable(edit, box->isChecked());
}

void Button1Click() {
  TraceScope t("wDlgAVI.Button1Click");
  const std::string question = Translator::TranGet(
      "Do you want to reload system default settings? This will affect all AVI codecs.");
  if (VCLUtils::YesNo(question, 2) != "Y") return;
  DlgData& d = D();
  FF_AVI::AviCodecsInit();
  d.codecCount = FF_AVI::AviCodecsList(&d.codecs, d.width, d.height, d.bits);
  SelectCodec(true);
}

// Each handler runs only while the form is filled and not yet going.
template <class Fn>
auto Ready(Fn fn) {
  return [fn] {
    if (g_form && g_form->ControlsReady) DlgForm::Handler(fn);
  };
}

void ConnectHandlers(TfrmDlgAVI& f) {
  QObject::connect(f.lstWhat, &QComboBox::currentIndexChanged, &f, Ready(lstWhatChange));
  QObject::connect(f.lstCodecs, &QListWidget::currentRowChanged, &f, Ready(lstCodecsClick));
  QObject::connect(f.barQuality, &QScrollBar::valueChanged, &f, Ready(barQualityChange));
  QObject::connect(f.btnConfig, &QPushButton::clicked, &f, Ready(btnConfigClick));
  QObject::connect(f.btnAbout, &QPushButton::clicked, &f, Ready(btnAboutClick));
  QObject::connect(f.chkKFM, &QCheckBox::clicked, &f,
                   Ready([] { EnableWithBox(F().chkKFM, F().edKFM); }));
  QObject::connect(f.chkDataRate, &QCheckBox::clicked, &f,
                   Ready([] { EnableWithBox(F().chkDataRate, F().edDataRate); }));
  QObject::connect(f.Button1, &QPushButton::clicked, &f, Ready(Button1Click));
}

// The controls are filled once, when the form is first shown: message
// boxes and other windows taking the focus away and back must not refill
// them, which would throw away the user's choices.
void TfrmDlgAVI::EnsureFilled() {
  if (filled) return;
  filled = true;
  DlgForm::Handler(FormActivate);
}

void TfrmDlgAVI::showEvent(QShowEvent* event) {
  wFormDialog::TFormDialog::showEvent(event);
  // Filled once the window is on screen, so its waiting line can be seen.
  if (!filled) QMetaObject::invokeMethod(this, [this] { EnsureFilled(); }, Qt::QueuedConnection);
}

void DoneControls() {
  TraceScope t("wDlgAVI.DoneControls");
  if (!g_form) return;
  g_form->ControlsReady = false;
  g_form->filled = false;
  if (g_form->mData) DlgForm::FreeTracked(g_form->mData->pCurCodec);
  DlgForm::FreeTracked(g_form->mData);
}

// Releases the working record and the form on every way out.
struct Session {
  std::unique_ptr<TfrmDlgAVI> form;
  ~Session() {
    try {
      DoneControls();
    } catch (...) {
    }
    g_form = nullptr;
    form.reset();
  }
};

}  // namespace

bool DlgAVI(int32_t width, int32_t height, int32_t bits, AuthorTexts& texts) {
  TraceScope t("wDlgAVI.DlgAVI");
  return DlgForm::RunDialog("wDlgAVI.DlgAVI", [&] {
    Session session;
    session.form = std::make_unique<TfrmDlgAVI>();
    TfrmDlgAVI& f = *session.form;
    g_form = &f;
    f.setWindowTitle(DlgForm::Text(Translator::TranGet("Select AVI Video Format")));
    f.pages->setCurrentIndex(0);
    DlgForm::NewTracked(f.mData, "wDlgAVI.DlgAVI.mData");
    f.mData->width = width;
    f.mData->height = height;
    f.mData->bits = bits;
    for (int i = 0; i < kAuthorTextCount; i++) f.mData->texts[i] = texts[i];
    ConnectHandlers(f);
    Translator::TranControl(&f);
    if (wFormBasic::ShowModal(&f) != QDialog::Accepted) return false;
    f.EnsureFilled();
    if (!f.ControlsReady) return false;  // filling failed and was reported
    ReadControls();
    for (int i = 0; i < kAuthorTextCount; i++) texts[i] = f.mData->texts[i];
    return true;
  });
}

}  // namespace wDlgAVI
