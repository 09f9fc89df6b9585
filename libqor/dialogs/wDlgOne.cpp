#include "dialogs/wDlgOne.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QScrollBar>
#include <memory>

#include "dialogs/CtlSlider.h"
#include "dialogs/DlgForm.h"
#include "dialogs/wFormBasic.h"
#include "dialogs/wFormDialog.h"
#include "foundation/Errors.h"
#include "foundation/Translator.h"

using DlgForm::Place;
using Errors::TraceScope;

namespace wDlgOne {
namespace {

class TfrmDlgOne : public wFormDialog::TFormDialog {
 public:
  TfrmDlgOne() {
    setObjectName("frmDlgOne");
    setFixedSize(401, 144);
    GroupBox1 = Place<QGroupBox>(this, "GroupBox1", 8, 8, 385, 81);
    ScrollBar1 = Place<QScrollBar>(GroupBox1, "ScrollBar1", 14, 34, 280, 17);
    ScrollBar1->setOrientation(Qt::Horizontal);
    edValue = Place<QLineEdit>(GroupBox1, "edValue", 306, 32, 65, 21);
    DlgForm::AddOkCancel(this, 217, 104, 305, 104, 84, 28);
    Loaded();
  }
  QGroupBox* GroupBox1;
  QScrollBar* ScrollBar1;
  QLineEdit* edValue;
};

// The slider's control lives as long as the form; the record is let go on
// every way out.
struct SliderGuard {
  CtlSlider::SliderRec rec;
  ~SliderGuard() {
    try {
      CtlSlider::Slider_Done(rec);
    } catch (...) {
    }
  }
};

}  // namespace

bool DlgOne(DlgOneParams& params) {
  TraceScope t("wDlgOne.DlgOne");
  return DlgForm::RunDialog("wDlgOne.DlgOne", [&] {
    auto form = std::make_unique<TfrmDlgOne>();
    TfrmDlgOne& f = *form;
    f.setWindowTitle(DlgForm::Text(params.caption));
    SliderGuard slider;
    CtlSlider::SliderRec& rec = slider.rec;
    CtlSlider::Slider_Init(rec, f.ScrollBar1, f.edValue,
                           [&rec] { DlgForm::Handler([&rec] { CtlSlider::Slider_OnChange(rec); }); });
    f.ScrollBar1 = rec.scrollBar;
    CtlSlider::Slider_Prepare(rec, params.decimals, params.min, params.max, params.step,
                              params.page);
    f.GroupBox1->setTitle(DlgForm::Text(params.groupCaption));
    CtlSlider::Slider_SetValue(rec, params.value);
    Translator::TranControl(&f);
    if (wFormBasic::ShowModal(&f) != QDialog::Accepted) return false;
    params.value = CtlSlider::Slider_GetFloat(rec);
    return true;
  });
}

}  // namespace wDlgOne
