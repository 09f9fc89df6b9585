// The form helpers that work on Qt widgets: in the ui module (and the static
// library); the message and cursor helpers stay in the core.
#include <QAbstractScrollArea>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QTextEdit>
#include <QWidget>
#include <climits>

#include "foundation/Errors.h"
#include "foundation/VCLUtils.h"

using Errors::TraceScope;

namespace VCLUtils {
namespace {

bool IsMemo(QWidget* w) {
  return qobject_cast<QPlainTextEdit*>(w) || qobject_cast<QTextEdit*>(w);
}

// Enabled controls show the window colour, disabled ones the button face.
void EnableColoured(QWidget* control, bool flag) {
  control->setEnabled(flag);
  const QPalette app = QApplication::palette();
  const QColor colour = flag ? app.color(QPalette::Active, QPalette::Base)
                             : app.color(QPalette::Active, QPalette::Button);
  QPalette p = control->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    p.setColor(group, QPalette::Base, colour);
  control->setPalette(p);
}

// The integer reading of an edit's text: blanks around, an optional sign,
// decimal digits or "$" and hexadecimal digits.
bool ParseEditInt(const std::string& raw, int32_t& value) {
  size_t b = raw.find_first_not_of(' ');
  size_t e = raw.find_last_not_of(' ');
  if (b == std::string::npos) return false;
  const std::string s = raw.substr(b, e - b + 1);
  size_t i = 0;
  bool negative = false;
  if (s[i] == '-' || s[i] == '+') negative = s[i++] == '-';
  int base = 10;
  if (i < s.size() && s[i] == '$') {
    base = 16;
    i++;
  }
  if (i >= s.size()) return false;
  int64_t v = 0;
  for (; i < s.size(); i++) {
    const char c = s[i];
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return false;
    v = v * base + digit;
    if (v > (base == 16 ? int64_t{UINT32_MAX} : int64_t{INT32_MAX} + negative))
      return false;
  }
  if (base == 16) v = static_cast<int32_t>(static_cast<uint32_t>(v));
  value = static_cast<int32_t>(negative ? -v : v);
  return true;
}

}  // namespace

void ClearDC(QPainter* dc, int32_t left, int32_t top, int32_t width,
             int32_t height, uint32_t colour) {
  TraceScope t("VCLUtils.ClearDC");
  if (!dc) return;
  const QBrush previous = dc->brush();
  const QBrush solid(QColor(colour & 0xFF, (colour >> 8) & 0xFF,
                            (colour >> 16) & 0xFF));
  dc->fillRect(QRect(left, top, width, height), solid);
  dc->setBrush(previous);
}

void TComboBox_Enable(QComboBox* control, bool flag) {
  TraceScope t("VCLUtils.TComboBox_Enable");
  if (control) EnableColoured(control, flag);
}

void TEdit_Enable(QLineEdit* control, bool flag) {
  TraceScope t("VCLUtils.TEdit_Enable");
  if (control) EnableColoured(control, flag);
}

void TMemo_Enable(QWidget* control, bool flag) {
  TraceScope t("VCLUtils.TMemo_Enable");
  if (control) EnableColoured(control, flag);
}

void _TControl_Enable(QWidget* control, bool flag) {
  TraceScope t("VCLUtils._TControl_Enable");
  if (!control) return;
  if (auto* edit = qobject_cast<QLineEdit*>(control))
    TEdit_Enable(edit, flag);
  else if (auto* combo = qobject_cast<QComboBox*>(control))
    TComboBox_Enable(combo, flag);
  else if (IsMemo(control))
    TMemo_Enable(control, flag);
  else
    control->setEnabled(flag);
}

void TWinControl_Enable(QWidget* control, bool flag) {
  TraceScope t("VCLUtils.TWinControl_Enable");
  if (!control) return;
  _TControl_Enable(control, flag);
  // A scroll box's controls sit on its scrolled widget; the inner widgets
  // of edits, combo boxes and list views belong to them, not to the form.
  if (auto* scroll = qobject_cast<QScrollArea*>(control)) {
    TWinControl_Enable(scroll->widget(), flag);
    return;
  }
  if (qobject_cast<QLineEdit*>(control) || qobject_cast<QComboBox*>(control) ||
      qobject_cast<QAbstractScrollArea*>(control))
    return;
  const auto children =
      control->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  for (QWidget* child : children)
    if (!child->isWindow()) TWinControl_Enable(child, flag);
}

void TEdit_SetInt(QLineEdit* edit, int32_t value) {
  TraceScope t("VCLUtils.TEdit_SetInt");
  if (edit) edit->setText(QString::number(value));
}

int32_t TEdit_GetInt(QLineEdit* edit, int32_t defaultValue) {
  TraceScope t("VCLUtils.TEdit_GetInt");
  if (!edit) return defaultValue;
  int32_t value = 0;
  return ParseEditInt(edit->text().toLocal8Bit().toStdString(), value)
             ? value
             : defaultValue;
}

}  // namespace VCLUtils
