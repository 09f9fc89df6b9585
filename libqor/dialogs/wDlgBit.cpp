#include "dialogs/wDlgBit.h"

#include <QGroupBox>
#include <QLineEdit>
#include <algorithm>
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

namespace wDlgBit {

const RatePreset kPresets[kPresetCount] = {
    {"64 kbps", 64},   {"128 kbps", 128}, {"160 kbps", 160},
    {"192 kbps", 192}, {"224 kbps (VCD/SVCD/DVD)", 224},
    {"256 kbps", 256}, {"320 kbps", 320}, {"384 kbps", 384},
};

namespace {

class TfrmDlgBit : public wFormDialog::TFormDialog {
 public:
  TfrmDlgBit() {
    setObjectName("frmDlgBit");
    setFixedSize(263, 149);
    boxDataRate = Place<QGroupBox>(this, "boxDataRate", 8, 8, 247, 92);
    boxDataRate->setTitle("Data Rate");
    DlgForm::AddLabel(boxDataRate, "labBits", "Bit Rate", 12, 28);
    edBits = Place<QLineEdit>(boxDataRate, "edBits", 92, 24, 56, 21);
    DlgForm::AddLabel(boxDataRate, "labBitsUnit", "kilobits/s", 153, 28);
    btnDataRates =
        DlgForm::AddButton(boxDataRate, "btnDataRates", "Select...", 92, 56, 84, 25);
    DlgForm::AddOkCancel(this, 40, 112, 136, 112, 84, 28);
    Loaded();
  }
  QGroupBox* boxDataRate;
  QLineEdit* edBits;
  QPushButton* btnDataRates;

 protected:
  void showEvent(QShowEvent* event) override {
    wFormDialog::TFormDialog::showEvent(event);
    edBits->setFocus();
  }
};

// The presets within the limits; a chosen one becomes the rate, and the
// rate shown is limited again in every case.
void btnDataRatesClick(TfrmDlgBit& f, const BitDlgRec& rec, int32_t& rate) {
  TraceScope t("wDlgBit.btnDataRatesClick");
  std::string items;
  for (const RatePreset& p : kPresets)
    if (p.rate >= rec.minRate && p.rate <= rec.maxRate)
      CtlPopup::PopupAddItem(items, Translator::TranGet(p.text), p.rate);
  const int32_t chosen = CtlPopup::PopupDisplay(-1, -1, items);
  if (chosen != Basic::K_AUTO) rate = chosen;
  rate = Limit(rate, rec.minRate, rec.maxRate);
  VCLUtils::TEdit_SetInt(f.edBits, rate);
}

}  // namespace

bool DlgBit(BitDlgRec& rec) {
  TraceScope t("wDlgBit.DlgBit");
  return DlgForm::RunDialog("wDlgBit.DlgBit", [&] {
    auto form = std::make_unique<TfrmDlgBit>();
    TfrmDlgBit& f = *form;
    f.setWindowTitle(DlgForm::Text(rec.caption));
    int32_t rate = Limit(rec.bitRate, rec.minRate, rec.maxRate);
    VCLUtils::TEdit_SetInt(f.edBits, rate);
    QObject::connect(f.btnDataRates, &QPushButton::clicked, &f, [&] {
      DlgForm::Handler([&] { btnDataRatesClick(f, rec, rate); });
    });
    Translator::TranControl(&f);
    if (wFormBasic::ShowModal(&f) != QDialog::Accepted) return false;
    rec.bitRate = Limit(VCLUtils::TEdit_GetInt(f.edBits, rate), rec.minRate, rec.maxRate);
    return true;
  });
}

}  // namespace wDlgBit
