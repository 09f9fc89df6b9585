#include "dialogs/wDlgChoose.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>
#include <vector>

#include "dialogs/DlgForm.h"
#include "dialogs/wFormBasic.h"
#include "dialogs/wFormDialog.h"
#include "foundation/Errors.h"
#include "foundation/Translator.h"

using DlgForm::Place;
using Errors::TraceScope;

namespace wDlgChoose {
namespace {

// Room for the radio mark and the group's margins beside the widest text.
constexpr int kTextSpare = 50;
constexpr int kRowHeight = 20;
constexpr int kGroupChrome = 26;

class TfrmDlgSelect : public wFormDialog::TFormDialog {
 public:
  TfrmDlgSelect() {
    setObjectName("frmDlgSelect");
    setFixedSize(251, 91);
    radOpt = Place<QGroupBox>(this, "radOpt", 13, 10, 123, 66);
    new QVBoxLayout(radOpt);
    DlgForm::AddOkCancel(this, 149, 15, 149, 43, 84, 28);
    Loaded();
  }
  QGroupBox* radOpt;
  std::vector<QRadioButton*> rows;
};

void FillRows(TfrmDlgSelect& f, const ChoiceRec& rec) {
  for (int32_t i = 0; i < rec.count; i++) {
    auto* row = new QRadioButton(DlgForm::Text(rec.items[i]), f.radOpt);
    row->setObjectName(QString("radOpt%1").arg(i));
    f.radOpt->layout()->addWidget(row);
    f.rows.push_back(row);
  }
  int32_t selected = 0;
  for (int32_t i = 0; i < rec.count; i++)
    if (rec.values[i] == rec.chosen) {
      selected = i;
      break;
    }
  f.rows[static_cast<size_t>(selected)]->setChecked(true);
}

// The group fits its widest row; the form and its buttons follow it.
void FitToRows(TfrmDlgSelect& f, const ChoiceRec& rec) {
  const QFontMetrics metrics(f.radOpt->font());
  int widest = 0;
  for (int32_t i = 0; i < rec.count; i++)
    widest = std::max(widest, metrics.horizontalAdvance(DlgForm::Text(rec.items[i])));
  const int growX = widest + kTextSpare - f.radOpt->width();
  f.radOpt->resize(f.radOpt->width() + growX, f.radOpt->height());
  for (const char* name : {"btnOK", "btnCancel"}) {
    auto* button = f.findChild<QWidget*>(name);
    button->move(button->x() + growX, button->y());
  }
  // Each row at least as high as a line of the font, whatever the rule of
  // 20 pixels a row gives.
  const QLayout* layout = f.radOpt->layout();
  const QMargins inner = f.radOpt->contentsMargins() + layout->contentsMargins();
  const int lines = inner.top() + inner.bottom() + rec.count * metrics.height() +
                    (rec.count - 1) * std::max(layout->spacing(), 0);
  const int rows = rec.count > 2 ? rec.count * kRowHeight + kGroupChrome : f.radOpt->height();
  const int growY = std::max(rows, lines) - f.radOpt->height();
  f.radOpt->resize(f.radOpt->width(), f.radOpt->height() + growY);
  f.setFixedSize(f.width() + growX, f.height() + growY);
}

int32_t ChosenRow(const TfrmDlgSelect& f) {
  for (size_t i = 0; i < f.rows.size(); i++)
    if (f.rows[i]->isChecked()) return static_cast<int32_t>(i);
  return 0;
}

}  // namespace

bool DlgSelect(ChoiceRec& rec) {
  TraceScope t("wDlgChoose.DlgSelect");
  return DlgForm::RunDialog("wDlgChoose.DlgSelect", [&] {
    auto form = std::make_unique<TfrmDlgSelect>();
    TfrmDlgSelect& f = *form;
    f.setWindowTitle(DlgForm::Text(rec.caption));
    rec.count = std::clamp(rec.count, 1, kMaxChoices);
    FillRows(f, rec);
    FitToRows(f, rec);
    Translator::TranControl(&f);
    if (wFormBasic::ShowModal(&f) != QDialog::Accepted) return false;
    rec.chosen = rec.values[std::clamp(ChosenRow(f), 0, rec.count - 1)];
    return true;
  });
}

}  // namespace wDlgChoose
