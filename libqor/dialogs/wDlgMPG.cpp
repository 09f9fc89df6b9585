#include "dialogs/wDlgMPG.h"

#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <algorithm>
#include <functional>
#include <memory>

#include "dialogs/CtlPopup.h"
#include "dialogs/DlgForm.h"
#include "dialogs/wFormBasic.h"
#include "dialogs/wFormDialog.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "foundation/Translator.h"
#include "foundation/VCLUtils.h"

using DlgForm::Limit;
using DlgForm::Place;
using Errors::TraceScope;

namespace wDlgMPG {

const RatePreset kPresets[kPresetCount] = {
    {"MPEG-1 standard", 1700},
    {"VCD standard", 1150},
    {"MPEG-2 standard", 4200},
    {"SVCD standard", 2376},
    {"DVD standard", 6000},
    {"28k modem (3.5 kbytes/s, 28 kbits/s)", 28},
    {"56k modem (7 kbytes/s, 56 kbits/s)", 56},
    {"ISDN-1x (8 kbytes/s, 64 kbits/s)", 64},
    {"ISDN-2x (16 kbytes/s, 128 kbits/s)", 128},
    {"DSL (96 kbytes/s, 768 kbits/s)", 768},
    {"CDROM-1x (150 kbytes/s)", 1200},
    {"CDROM-2x (300 kbytes/s)", 2400},
    {"CDROM-4x (600 kbytes/s)", 4800},
    {"CDROM-8x (1200 kbytes/s)", 9600},
    {"CDROM-16x (2400 kbytes/s)", 19200},
};

namespace {

struct FormatName {
  const char* name;
  int32_t type;
};
constexpr FormatName kFormats[] = {
    {"MPEG-1", 0}, {"VCD", 1}, {"MPEG-2", 2}, {"SVCD", 3}, {"DVD", 4}};
constexpr int32_t kFormatCount = 5;

class TfrmDlgMPG : public wFormDialog::TFormDialog {
 public:
  TfrmDlgMPG() {
    setObjectName("frmDlgMPG");
    setFixedSize(263, 244);
    boxFormat = Place<QGroupBox>(this, "boxFormat", 8, 8, 247, 58);
    boxFormat->setTitle("Format");
    lstFormat = Place<QComboBox>(boxFormat, "lstFormat", 12, 24, 223, 22);
    boxDataRate = Place<QGroupBox>(this, "boxDataRate", 8, 74, 247, 122);
    boxDataRate->setTitle("Data Rate");
    DlgForm::AddLabel(boxDataRate, "labBits", "Bit Rate", 12, 28);
    edBits = Place<QLineEdit>(boxDataRate, "edBits", 92, 24, 56, 21);
    DlgForm::AddLabel(boxDataRate, "labBitsUnit", "kilobits/sec", 153, 28);
    DlgForm::AddLabel(boxDataRate, "labBytes", "Byte Rate", 12, 58);
    edBytes = Place<QLineEdit>(boxDataRate, "edBytes", 92, 54, 56, 21);
    DlgForm::AddLabel(boxDataRate, "labBytesUnit", "kilobytes/sec", 153, 58);
    btnDataRates =
        DlgForm::AddButton(boxDataRate, "btnDataRates", "Select...", 92, 86, 84, 25);
    DlgForm::AddOkCancel(this, 40, 206, 136, 206, 84, 28);
    Loaded();
  }
  QGroupBox* boxFormat;
  QComboBox* lstFormat;
  QGroupBox* boxDataRate;
  QLineEdit* edBits;
  QLineEdit* edBytes;
  QPushButton* btnDataRates;
};

// The dialog's working state: the caller's record changes only on OK. The
// handlers do nothing once form is cleared, as it is before the form goes
// (a focused edit still reports leaving while it is destroyed).
struct State {
  TfrmDlgMPG* form = nullptr;
  int32_t minRate = 0;
  int32_t maxRate = 0;
  int32_t rate = 0;
};

struct FormGone {
  State& s;
  ~FormGone() { s.form = nullptr; }
};

template <class Fn>
auto Live(State& s, Fn fn) {
  return [&s, fn] {
    if (s.form) DlgForm::Handler([&s, fn] { fn(s); });
  };
}

void ShowRate(State& s, int32_t rate) {
  VCLUtils::TEdit_SetInt(s.form->edBits, rate);
  VCLUtils::TEdit_SetInt(s.form->edBytes, rate / 8);
}

void WriteDataRate(State& s) {
  TraceScope t("wDlgMPG.WriteDataRate");
  s.rate = Limit(s.rate, s.minRate, s.maxRate);
  ShowRate(s, s.rate);
}

void edBitsExit(State& s) {
  TraceScope t("wDlgMPG.edBitsExit");
  ShowRate(s, Limit(VCLUtils::TEdit_GetInt(s.form->edBits, s.rate), s.minRate, s.maxRate));
}

// Kilobytes times 8 in 64 bits, so a large entry cannot wrap negative.
void edBytesExit(State& s) {
  TraceScope t("wDlgMPG.edBytesExit");
  const int64_t bytes = VCLUtils::TEdit_GetInt(s.form->edBytes, s.rate / 8);
  ShowRate(s, Limit(bytes * 8, s.minRate, s.maxRate));
}

void lstFormatChange(State& s) {
  TraceScope t("wDlgMPG.lstFormatChange");
  const int32_t row = s.form->lstFormat->currentIndex();
  if (row < 0 || row >= kFormatCount) return;
  s.rate = kPresets[row].rate;
  WriteDataRate(s);
}

void btnDataRatesClick(State& s) {
  TraceScope t("wDlgMPG.btnDataRatesClick");
  std::string items;
  for (const RatePreset& p : kPresets)
    CtlPopup::PopupAddItem(items, Translator::TranGet(p.text), p.rate);
  const int32_t chosen = CtlPopup::PopupDisplay(-1, -1, items);
  if (chosen == Basic::K_AUTO) return;
  s.rate = chosen;
  WriteDataRate(s);
}

// Leaving an edit is its focus going elsewhere; Return finishes it too.
class LeaveFilter : public QObject {
 public:
  LeaveFilter(QObject* parent, std::function<void()> onLeave)
      : QObject(parent), onLeave_(std::move(onLeave)) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::FocusOut) onLeave_();
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> onLeave_;
};

void OnLeave(QLineEdit* edit, const std::function<void()>& fn) {
  edit->installEventFilter(new LeaveFilter(edit, fn));
  QObject::connect(edit, &QLineEdit::returnPressed, edit, fn);
}

void ConnectHandlers(State& s) {
  TfrmDlgMPG& f = *s.form;
  OnLeave(f.edBits, Live(s, edBitsExit));
  OnLeave(f.edBytes, Live(s, edBytesExit));
  QObject::connect(f.lstFormat, &QComboBox::currentIndexChanged, &f,
                   Live(s, lstFormatChange));
  QObject::connect(f.btnDataRates, &QPushButton::clicked, &f,
                   Live(s, btnDataRatesClick));
}

void WriteControls(State& s, int32_t type) {
  QComboBox* list = s.form->lstFormat;
  for (const FormatName& fmt : kFormats) list->addItem(fmt.name);
  list->setCurrentIndex(-1);
  for (int32_t row = 0; row < kFormatCount; row++)
    if (kFormats[row].type == type) list->setCurrentIndex(row);
  WriteDataRate(s);
}

}  // namespace

bool DlgMPG(MpgDlgRec& rec) {
  TraceScope t("wDlgMPG.DlgMPG");
  return DlgForm::RunDialog("wDlgMPG.DlgMPG", [&] {
    State s{nullptr, rec.minRate, rec.maxRate, rec.bitRate};
    auto form = std::make_unique<TfrmDlgMPG>();
    s.form = form.get();
    FormGone gone{s};
    form->setWindowTitle(DlgForm::Text(rec.caption));
    WriteControls(s, rec.type);
    ConnectHandlers(s);
    Translator::TranControl(form.get());
    if (wFormBasic::ShowModal(form.get()) != QDialog::Accepted) return false;
    const int32_t row = form->lstFormat->currentIndex();
    if (row >= 0 && row < kFormatCount) rec.type = kFormats[row].type;
    rec.bitRate = Limit(VCLUtils::TEdit_GetInt(form->edBits, s.rate), s.minRate, s.maxRate);
    return true;
  });
}

}  // namespace wDlgMPG
