// Whether every fixed text of a window can be read whole at the window's
// font: a caption wider or taller than its control, a control that runs
// past its parent's edge (or a group box's frame), and a control covered by
// another one painted over it are each reported by the widget's kind, name
// and text. Shared by the library's dialog tests and the application's.
#pragma once

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSet>
#include <QSlider>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>
#include <QTabBar>
#include <QTextDocument>
#include <QToolBar>
#include <QToolButton>
#include <QWidget>
#include <algorithm>
#include <vector>

namespace TextFit {

inline QString Plain(QString text) {
  text.remove(QLatin1Char('&'));  // a mnemonic's marker takes no room
  return text;
}

// The text a control shows of its own; empty for none.
inline QString CaptionOf(const QWidget* w) {
  if (auto* label = qobject_cast<const QLabel*>(w)) {
    if (!label->pixmap().isNull()) return QString();
    if (Qt::mightBeRichText(label->text()) || label->textFormat() == Qt::RichText) {
      QTextDocument doc;
      doc.setHtml(label->text());
      return doc.toPlainText();
    }
    return label->text();
  }
  if (auto* button = qobject_cast<const QAbstractButton*>(w)) return Plain(button->text());
  if (auto* group = qobject_cast<const QGroupBox*>(w)) return Plain(group->title());
  return QString();
}

inline QString Describe(const QWidget* w, const QString& text) {
  QString name = QString::fromLatin1(w->metaObject()->className());
  if (!w->objectName().isEmpty()) name += " " + w->objectName();
  QString where;
  for (const QWidget* p = w->parentWidget(); p; p = p->parentWidget())
    if (!p->objectName().isEmpty() && !p->objectName().startsWith("qt_")) {
      where = p->objectName();
      break;
    }
  const QString window = w->window()->windowTitle().isEmpty() ? w->window()->objectName()
                                                              : w->window()->windowTitle();
  return name + " \"" + text + "\"" + (where.isEmpty() ? QString() : " in " + where) +
         " of window \"" + window + "\"";
}

// Widgets that paint their whole area themselves and whose insides are no
// separate captions.
inline bool IsComposite(const QWidget* w) {
  return qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractScrollArea*>(w) ||
         qobject_cast<const QToolBar*>(w) || qobject_cast<const QTabBar*>(w) ||
         qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QLineEdit*>(w) ||
         qobject_cast<const QSlider*>(w) || qobject_cast<const QScrollBar*>(w) ||
         qobject_cast<const QProgressBar*>(w) || qobject_cast<const QMenuBar*>(w);
}

// The room a control's caption needs; an empty size for none.
inline QSize Needed(const QWidget* w) {
  const QString text = CaptionOf(w);
  if (text.isEmpty()) return QSize();
  const QFontMetrics fm(w->font());
  if (auto* label = qobject_cast<const QLabel*>(w)) {
    if (label->wordWrap())
      return QSize(std::min(label->width(), label->sizeHint().width()),
                   label->heightForWidth(label->width()));
    return label->sizeHint();
  }
  if (auto* button = qobject_cast<const QPushButton*>(w)) {
    // The style's frame and margin around the caption, without the least
    // width some styles give every button.
    const QStyle* s = button->style();
    const int around = s->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) +
                       2 * s->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
    const int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
    return QSize(fm.horizontalAdvance(text) + around + icon, fm.height());
  }
  if (auto* box = qobject_cast<const QAbstractButton*>(w);
      box && (qobject_cast<const QCheckBox*>(w) || qobject_cast<const QRadioButton*>(w))) {
    // The caption is drawn from the style's contents edge on.
    QStyleOptionButton option;
    option.initFrom(box);
    option.text = box->text();
    const QRect contents = box->style()->subElementRect(
        qobject_cast<const QCheckBox*>(w) ? QStyle::SE_CheckBoxContents
                                          : QStyle::SE_RadioButtonContents,
        &option, box);
    return QSize(contents.left() + fm.horizontalAdvance(text) + 1, fm.height());
  }
  if (qobject_cast<const QToolButton*>(w)) return w->sizeHint();
  if (auto* group = qobject_cast<const QGroupBox*>(w)) {
    QStyleOptionGroupBox option;
    option.initFrom(group);
    option.text = group->title();
    option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
    return group->style()->sizeFromContents(
        QStyle::CT_GroupBox, &option,
        QSize(fm.horizontalAdvance(text + QLatin1Char(' ')), fm.height()), group);
  }
  return QSize();
}

// Where a control's caption is drawn, in its own coordinates.
inline QRect CaptionRect(const QWidget* w) {
  const QSize need = Needed(w);
  if (need.isEmpty()) return QRect();
  if (auto* label = qobject_cast<const QLabel*>(w)) {
    if (label->frameShape() != QFrame::NoFrame || label->autoFillBackground()) return w->rect();
    const int width = std::min(need.width(), w->width());
    const Qt::Alignment a = label->alignment();
    const int left = a & Qt::AlignRight     ? w->width() - width
                     : a & Qt::AlignHCenter ? (w->width() - width) / 2
                                            : 0;
    return QRect(left, 0, width, w->height());
  }
  if (qobject_cast<const QCheckBox*>(w) || qobject_cast<const QRadioButton*>(w))
    return QRect(0, 0, std::min(need.width(), w->width()), w->height());
  if (qobject_cast<const QGroupBox*>(w))
    return QRect(0, 0, std::min(need.width(), w->width()), QFontMetrics(w->font()).height());
  return w->rect();
}

// What a control paints over whatever lies below it, in its own
// coordinates: nothing for a bare container, the caption for a control
// without a background of its own, else the whole control.
inline QRect PaintedRect(const QWidget* w) {
  const char* cls = w->metaObject()->className();
  const bool bare = (qstrcmp(cls, "QWidget") == 0 ||
                     (qstrcmp(cls, "QFrame") == 0 &&
                      static_cast<const QFrame*>(w)->frameShape() == QFrame::NoFrame) ||
                     qstrcmp(cls, "QStackedWidget") == 0) &&
                    !w->autoFillBackground();
  if (bare) return QRect();
  if (qobject_cast<const QGroupBox*>(w) && !w->autoFillBackground()) {
    // The frame line and the title, not the inside.
    return w->rect();
  }
  if ((qobject_cast<const QLabel*>(w) || qobject_cast<const QCheckBox*>(w) ||
       qobject_cast<const QRadioButton*>(w)) &&
      !w->autoFillBackground())
    return CaptionRect(w);
  return w->rect();
}

// The widgets of a window as they are painted, bottom first.
inline void Collect(QWidget* w, std::vector<QWidget*>& out) {
  for (QObject* child : w->children()) {
    auto* widget = qobject_cast<QWidget*>(child);
    if (!widget || widget->isWindow() || !widget->isVisible()) continue;
    out.push_back(widget);
    if (!IsComposite(widget)) Collect(widget, out);
  }
}

inline bool IsAncestor(const QWidget* a, const QWidget* w) {
  for (const QWidget* p = w->parentWidget(); p; p = p->parentWidget())
    if (p == a) return true;
  return false;
}

inline QRect InWindow(const QWidget* w, const QRect& r) {
  return QRect(w->mapTo(w->window(), r.topLeft()), r.size());
}

// The part of a parent its children may use without crossing a frame.
inline QRect Room(const QWidget* parent) {
  if (auto* group = qobject_cast<const QGroupBox*>(parent)) {
    QStyleOptionGroupBox option;
    option.initFrom(group);
    option.text = group->title();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    option.lineWidth = 1;
    const QStyle* s = group->style();
    // Inside the frame's line and below the title.
    const QRect frame = s->subControlRect(QStyle::CC_GroupBox, &option,
                                          QStyle::SC_GroupBoxFrame, group);
    const QRect title = s->subControlRect(QStyle::CC_GroupBox, &option,
                                          QStyle::SC_GroupBoxLabel, group);
    const int top = group->title().isEmpty() ? frame.top() + 1 : title.bottom() + 1;
    return QRect(QPoint(frame.left() + 1, top), QPoint(frame.right() - 1, frame.bottom() - 1));
  }
  return parent->rect();
}

inline void CheckCombo(const QComboBox* combo, QStringList& misfits) {
  // What the box leaves for its text beside the arrow, inside its frame.
  QStyleOptionComboBox option;
  option.initFrom(combo);
  option.frame = combo->hasFrame();
  const QStyle* style = combo->style();
  const int arrow =
      style->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxArrow, combo).width();
  const int frame = 2 * style->pixelMetric(QStyle::PM_ComboBoxFrameWidth, &option, combo);
  const QSize field(combo->width() - arrow - frame, combo->height());
  const QFontMetrics fm(combo->font());
  for (int i = 0; i < combo->count(); ++i) {
    const QString item = combo->itemText(i);
    const int icon = combo->itemIcon(i).isNull() ? 0 : combo->iconSize().width() + 4;
    if (fm.horizontalAdvance(item) + icon + 2 > field.width())
      misfits << Describe(combo, item) + ": the item needs " +
                     QString::number(fm.horizontalAdvance(item) + icon + 2) +
                     " pixels, the box shows " + QString::number(field.width());
  }
}

inline void CheckList(const QAbstractItemView* view, QStringList& misfits) {
  const QAbstractItemModel* model = view->model();
  if (!model) return;
  const QFontMetrics fm(view->font());
  const int room = view->viewport()->width();
  for (int row = 0; row < model->rowCount(); ++row) {
    const QString text = model->index(row, 0).data(Qt::DisplayRole).toString();
    const int need = fm.horizontalAdvance(text) + 8;
    if (need > room)
      misfits << Describe(view, text) + ": the entry needs " + QString::number(need) +
                     " pixels, the list shows " + QString::number(room);
  }
}

inline void CheckToolBar(const QToolBar* bar, QStringList& misfits) {
  for (QAction* action : bar->actions()) {
    if (action->isSeparator() || !action->isVisible()) continue;
    const QWidget* button = bar->widgetForAction(action);
    if (!button || !button->isVisible() || !bar->rect().contains(button->geometry()))
      misfits << Describe(bar, action->iconText()) +
                     ": the button does not fit on the toolbar";
  }
}

// Every misfit of window's visible fixed texts; userData holds the
// controls whose entries are the user's own (file names, folders), which
// need not fit.
inline QStringList Misfits(QWidget* window, const QSet<const QWidget*>& userData = {}) {
  std::vector<QWidget*> widgets;
  Collect(window, widgets);
  QStringList misfits;
  for (size_t i = 0; i < widgets.size(); ++i) {
    QWidget* w = widgets[i];
    if (userData.contains(w)) continue;
    if (auto* combo = qobject_cast<QComboBox*>(w)) CheckCombo(combo, misfits);
    if (auto* view = qobject_cast<QAbstractItemView*>(w)) CheckList(view, misfits);
    if (auto* bar = qobject_cast<QToolBar*>(w)) CheckToolBar(bar, misfits);
    const QString text = CaptionOf(w);
    const QSize need = Needed(w);
    if (text.isEmpty() || need.isEmpty()) continue;
    const QString name = Describe(w, text);
    if (need.width() > w->width() || need.height() > w->height()) {
      misfits << name + QString(": needs %1 x %2 pixels, has %3 x %4")
                            .arg(need.width()).arg(need.height())
                            .arg(w->width()).arg(w->height());
      continue;
    }
    const QRect caption = CaptionRect(w);
    bool clipped = false;
    QRect inParent = caption.translated(w->pos());
    for (const QWidget* p = w->parentWidget(); p; p = p->parentWidget()) {
      if (!Room(p).contains(inParent)) {
        misfits << name + " runs past the edge of " +
                       (p->objectName().isEmpty() ? QString(p->metaObject()->className())
                                                  : p->objectName());
        clipped = true;
        break;
      }
      if (p == window) break;
      inParent.translate(p->pos());
    }
    if (clipped) continue;
    const QRect shown = InWindow(w, caption);
    for (size_t j = i + 1; j < widgets.size(); ++j) {
      const QWidget* over = widgets[j];
      if (IsAncestor(w, over)) continue;
      const QRect painted = PaintedRect(over);
      if (painted.isEmpty() || !InWindow(over, painted).intersects(shown)) continue;
      misfits << name + " is covered by " + Describe(over, CaptionOf(over));
      break;
    }
  }
  return misfits;
}

}  // namespace TextFit
