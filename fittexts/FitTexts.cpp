#include "FitTexts.h"

#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QStyleOptionFrame>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>
#include <QStyleOptionTabWidgetFrame>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <algorithm>
#include <vector>

namespace FitTexts {
namespace {

// Neighbours that overlapped at design are set this far apart.
constexpr int kGap = 4;
constexpr int kRowGap = 1;
// A container whose design let a control run past its edge keeps this much.
constexpr int kEdge = 4;

QString Plain(QString text) {
  text.remove(QLatin1Char('&'));  // a mnemonic's marker takes no room
  return text;
}

// Controls that place their insides themselves.
bool IsComposite(const QWidget* w) {
  return qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractScrollArea*>(w) ||
         qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QLineEdit*>(w) ||
         qobject_cast<const QAbstractSlider*>(w) || qobject_cast<const QProgressBar*>(w) ||
         qobject_cast<const QToolBar*>(w) || qobject_cast<const QTabBar*>(w) ||
         qobject_cast<const QMenuBar*>(w) || qobject_cast<const QAbstractButton*>(w);
}

QList<QWidget*> Children(const QWidget* box) {
  QList<QWidget*> kids;
  for (QObject* child : box->children())
    if (auto* w = qobject_cast<QWidget*>(child); w && !w->isWindow()) kids << w;
  return kids;
}

// A check or radio box: the mark, its spacing and the caption.
QSize Marked(const QAbstractButton* box, QStyle::SubElement contents) {
  QStyleOptionButton option;
  option.initFrom(box);
  option.text = box->text();
  const int left = box->style()->subElementRect(contents, &option, box).left();
  const QFontMetrics fm(box->font());
  return QSize(left + fm.horizontalAdvance(Plain(box->text())) + 2, fm.height());
}

QSize Button(const QPushButton* button) {
  const QStyle* s = button->style();
  // The style's frame and margin around the caption, without the least
  // width some styles give every button.
  const int around = s->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) +
                     2 * s->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
  const int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
  const QFontMetrics fm(button->font());
  return QSize(fm.horizontalAdvance(Plain(button->text())) + around + icon, fm.height());
}

QSize Combo(const QComboBox* combo) {
  if (combo->count() == 0) return QSize();
  QStyleOptionComboBox option;
  option.initFrom(combo);
  option.editable = combo->isEditable();
  option.frame = combo->hasFrame();
  const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                     QStyle::SC_ComboBoxEditField, combo);
  const QFontMetrics fm(combo->font());
  int widest = 0;
  for (int i = 0; i < combo->count(); ++i) {
    const int icon = combo->itemIcon(i).isNull() ? 0 : combo->iconSize().width() + 4;
    widest = std::max(widest, fm.horizontalAdvance(combo->itemText(i)) + icon + 2);
  }
  return QSize(widest + combo->width() - field.width(), 0);
}

QSize GroupTitle(const QGroupBox* group) {
  if (group->title().isEmpty()) return QSize();
  QStyleOptionGroupBox option;
  option.initFrom(group);
  option.text = group->title();
  option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
  const QFontMetrics fm(group->font());
  const QSize title = group->style()->sizeFromContents(
      QStyle::CT_GroupBox, &option,
      QSize(fm.horizontalAdvance(Plain(group->title()) + QLatin1Char(' ')), fm.height()), group);
  return QSize(title.width(), 0);
}

QSize Label(const QLabel* label) {
  if (!label->pixmap().isNull()) return QSize();
  if (label->text().isEmpty()) {
    // Room for the text it will show.
    const int frame = 2 * (label->frameWidth() + label->margin());
    const QRect line = label->fontMetrics().boundingRect(
        QRect(0, 0, 1000, 1000), Qt::AlignLeft | Qt::TextSingleLine, QStringLiteral("Xg"));
    return QSize(0, line.height() + frame);
  }
  if (label->wordWrap()) return QSize(0, label->heightForWidth(label->width()));
  return label->sizeHint();
}

// What a control claims of its place: a label or a check box without a
// background of its own only as far as its caption reaches. An empty label
// keeps its design room for the text it will show: it claims that room in
// its column but none of it in its row.
QRect Extent(const QWidget* w, bool inColumn = false) {
  QRect r = w->geometry();
  const bool bare = (qobject_cast<const QCheckBox*>(w) || qobject_cast<const QRadioButton*>(w) ||
                     (qobject_cast<const QLabel*>(w) &&
                      static_cast<const QLabel*>(w)->frameShape() == QFrame::NoFrame &&
                      !(static_cast<const QLabel*>(w)->alignment() &
                        (Qt::AlignRight | Qt::AlignHCenter)))) &&
                    !w->autoFillBackground();
  const int need = Needed(w).width();
  if (bare && !(inColumn && need == 0)) r.setWidth(std::min(r.width(), need));
  return r;
}

bool RowsMeet(const QRect& a, const QRect& b) {
  return a.top() <= b.bottom() && b.top() <= a.bottom();
}
bool ColumnsMeet(const QRect& a, const QRect& b) {
  return a.left() <= b.right() && b.left() <= a.right();
}

QSize FitBox(QWidget* box);

// Where a tab widget shows its pages.
QRect PageRect(const QTabWidget* tabs) {
  QStyleOptionTabWidgetFrame option;
  option.initFrom(tabs);
  option.lineWidth = tabs->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, tabs);
  if (const QTabBar* bar = tabs->findChild<QTabBar*>()) {
    option.shape = bar->shape();
    option.tabBarSize = bar->sizeHint();
    option.tabBarRect = QRect(QPoint(0, 0), option.tabBarSize);
  }
  return tabs->style()->subElementRect(QStyle::SE_TabWidgetTabContents, &option, tabs);
}

// The size a control should take: its caption's need, what its children
// need, or for a tab widget what its largest page needs.
QSize Target(QWidget* w) {
  if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
    const QSize page = PageRect(tabs).size();
    QSize grow(0, 0);
    for (int i = 0; i < tabs->count(); ++i) {
      tabs->widget(i)->resize(page);
      grow = grow.expandedTo(FitBox(tabs->widget(i)) - page);
    }
    return tabs->size() + grow;
  }
  if (!IsComposite(w) && !w->layout() && !Children(w).isEmpty())
    return FitBox(w).expandedTo(Needed(w));
  return Needed(w);
}

// Moves the controls after each one along a line (rows: to the right;
// columns: down) so that none comes nearer than it was at design, or than
// kGap where the design let them overlap.
void Spread(const std::vector<QWidget*>& kids, const std::vector<QRect>& design, bool across) {
  std::vector<size_t> order(kids.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  const auto start = [across](const QRect& r) { return across ? r.left() : r.top(); };
  const auto end = [across](const QRect& r) { return across ? r.right() : r.bottom(); };
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return start(design[a]) < start(design[b]); });
  for (size_t ci : order)
    for (size_t si = 0; si < kids.size(); ++si) {
      if (si == ci || start(design[si]) <= start(design[ci])) continue;
      const QRect c = Extent(kids[ci], !across), s = Extent(kids[si], !across);
      // A row is a row as designed (a control grown taller does not join
      // the next one); a column is one as the rows now stand.
      if (!(across ? RowsMeet(design[ci], design[si]) : ColumnsMeet(c, s))) continue;
      const int designGap = start(design[si]) - end(design[ci]) - 1;
      const int gap = designGap >= 0 ? designGap : (across ? kGap : kRowGap);
      const int push = end(c) + 1 + gap - start(s);
      if (push > 0)
        kids[si]->move(kids[si]->pos() + (across ? QPoint(push, 0) : QPoint(0, push)));
    }
}

// Controls that stood in one column with the same width at design (group
// boxes one above the other, a pair of buttons) keep one width.
void AlignColumns(const std::vector<QWidget*>& kids, const std::vector<QRect>& design) {
  for (size_t i = 0; i < kids.size(); ++i)
    for (size_t j = 0; j < kids.size(); ++j)
      if (i != j && design[i].left() == design[j].left() &&
          design[i].width() == design[j].width() && kids[j]->width() > kids[i]->width())
        kids[i]->resize(kids[j]->width(), kids[i]->height());
}

// The size box needs to hold its children once each holds its caption.
QSize FitBox(QWidget* box) {
  if (box->layout()) return box->size();
  const QList<QWidget*> all = Children(box);
  // A control kept hidden (shown in another mode, or parked outside the
  // window) fits its own caption but neither moves others nor is held.
  std::vector<QWidget*> kids;
  for (QWidget* w : all) {
    w->resize(w->size().expandedTo(w->isHidden() ? Needed(w) : QSize()));
    if (!w->isHidden()) kids.push_back(w);
  }
  if (kids.empty()) return box->size();
  std::vector<QRect> design, rows, columns;  // where each stood, what it claimed
  int designRight = 0, designBottom = 0;
  for (QWidget* w : kids) {
    design.push_back(w->geometry());
    rows.push_back(Extent(w));
    columns.push_back(Extent(w, true));
    designRight = std::max(designRight, rows.back().x() + rows.back().width());
    designBottom = std::max(designBottom, w->y() + w->height());
  }
  for (QWidget* w : kids) w->resize(w->size().expandedTo(Target(w)));
  AlignColumns(kids, design);
  Spread(kids, rows, true);
  Spread(kids, columns, false);
  int right = 0, bottom = 0;
  for (QWidget* w : kids) {
    const QRect reach = Extent(w);
    right = std::max(right, reach.x() + reach.width());
    bottom = std::max(bottom, w->y() + w->height());
  }
  const int marginRight = box->width() - designRight, marginBottom = box->height() - designBottom;
  return box->size().expandedTo(QSize(right + (marginRight >= 0 ? marginRight : kEdge),
                                      bottom + (marginBottom >= 0 ? marginBottom : kEdge)));
}

}  // namespace

QSize Needed(const QWidget* control) {
  if (auto* label = qobject_cast<const QLabel*>(control)) return Label(label);
  if (auto* check = qobject_cast<const QCheckBox*>(control))
    return Marked(check, QStyle::SE_CheckBoxContents);
  if (auto* radio = qobject_cast<const QRadioButton*>(control))
    return Marked(radio, QStyle::SE_RadioButtonContents);
  if (auto* button = qobject_cast<const QPushButton*>(control)) return Button(button);
  if (auto* combo = qobject_cast<const QComboBox*>(control)) return Combo(combo);
  if (auto* group = qobject_cast<const QGroupBox*>(control)) return GroupTitle(group);
  return QSize();
}

void Fit(QWidget* window) {
  const QSize need = FitBox(window);
  if (need == window->size()) return;
  if (window->minimumSize() == window->maximumSize())
    window->setFixedSize(need);
  else
    window->resize(need);
}

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
  // The label's own measure has the last word on what still cuts.
  for (int less = room - 1; less > 0 && label->sizeHint().width() > label->width(); --less)
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideMiddle, less));
  label->setToolTip(text);
}

}  // namespace FitTexts
