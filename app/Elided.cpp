#include "Elided.h"

#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <algorithm>

namespace {
// The room QLineEdit leaves on each side of its text.
constexpr int kSideMargin = 2;
}  // namespace

ElidedLineEdit::ElidedLineEdit(QWidget* parent) : QLineEdit(parent) {
  connect(this, &QLineEdit::textChanged, this, [this](const QString& text) { setToolTip(text); });
}

QRect ElidedLineEdit::TextRect() const {
  QStyleOptionFrame panel;
  initStyleOption(&panel);
  const QRect contents = style()->subElementRect(QStyle::SE_LineEditContents, &panel, this);
  return contents.marginsRemoved(textMargins()).adjusted(kSideMargin, 0, -kSideMargin, 0);
}

QString ElidedLineEdit::ShownText() const {
  if (hasFocus() || echoMode() != QLineEdit::Normal) return text();
  return fontMetrics().elidedText(text(), Qt::ElideMiddle, TextRect().width());
}

void ElidedLineEdit::paintEvent(QPaintEvent* event) {
  const QString shown = ShownText();
  if (shown == text()) {
    QLineEdit::paintEvent(event);
    return;
  }
  QPainter painter(this);
  QStyleOptionFrame panel;
  initStyleOption(&panel);
  style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
  painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                 QPalette::Text));
  painter.drawText(TextRect(), Qt::AlignVCenter | Qt::AlignLeft, shown);
}

void SetElidedText(QLabel* label, const QString& text) {
  // A framed label without an indent of its own indents by half an "x".
  const int indent = label->indent() >= 0 ? label->indent()
                     : label->frameWidth() > 0 ? label->fontMetrics().horizontalAdvance('x') / 2
                                               : 0;
  const int room = label->contentsRect().width() - 2 * label->margin() - indent;
  label->setText(label->fontMetrics().elidedText(text, Qt::ElideMiddle, std::max(room, 0)));
  label->setToolTip(text);
}
