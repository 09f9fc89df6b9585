#include "dialogs/wDlgKWB.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <algorithm>
#include <memory>

#include "dialogs/DlgForm.h"
#include "dialogs/wFormBasic.h"
#include "dialogs/wFormDialog.h"
#include "foundation/Errors.h"
#include "foundation/Translator.h"
#include "foundation/VCLUtils.h"

using DlgForm::Place;
using Errors::TraceScope;

namespace wDlgKWB {
namespace {

class TfrmDlgKWB : public wFormDialog::TFormDialog {
 public:
  TfrmDlgKWB() {
    setObjectName("frmDlgKWB");
    setFixedSize(333, 159);
    radCompr = Place<QGroupBox>(this, "radCompr", 8, 8, 217, 70);
    radCompr->setTitle("Compression Method");
    for (int i = 0; i < 2; i++)
      rows[i] = Place<QRadioButton>(radCompr, i == 0 ? "radCompr0" : "radCompr1", 12,
                                    20 + 22 * i, 195, 20);
    boxKeyFrames = Place<QGroupBox>(this, "boxKeyFrames", 8, 86, 217, 62);
    boxKeyFrames->setTitle("Key Frames");
    DlgForm::AddLabel(boxKeyFrames, "labKFM", "Key frame every", 12, 29);
    edKFM = Place<QLineEdit>(boxKeyFrames, "edKFM", 112, 26, 45, 21);
    DlgForm::AddLabel(boxKeyFrames, "labFrames", "frame(s)", 162, 29);
    DlgForm::AddOkCancel(this, 238, 12, 238, 46, 84, 28);
    Loaded();
  }
  QGroupBox* radCompr;
  QRadioButton* rows[2];
  QGroupBox* boxKeyFrames;
  QLineEdit* edKFM;
};

}  // namespace

bool DlgKWB(KwbDlgRec& rec) {
  TraceScope t("wDlgKWB.DlgKWB");
  return DlgForm::RunDialog("wDlgKWB.DlgKWB", [&] {
    auto form = std::make_unique<TfrmDlgKWB>();
    TfrmDlgKWB& f = *form;
    f.setWindowTitle(DlgForm::Text(rec.caption));
    for (int i = 0; i < 2; i++) f.rows[i]->setText(DlgForm::Text(rec.methods[i]));
    const int selected = rec.methodValues[1] == rec.chosen && rec.methodValues[0] != rec.chosen;
    f.rows[selected]->setChecked(true);
    VCLUtils::TEdit_SetInt(f.edKFM, rec.keyFrameRate);
    Translator::TranControl(&f);
    if (wFormBasic::ShowModal(&f) != QDialog::Accepted) return false;
    rec.chosen = rec.methodValues[f.rows[1]->isChecked() ? 1 : 0];
    rec.keyFrameRate = std::max(VCLUtils::TEdit_GetInt(f.edKFM, rec.keyFrameRate), 0);
    return true;
  });
}

}  // namespace wDlgKWB
