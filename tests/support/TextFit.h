// Whether every fixed text of a window can be read whole at the window's
// font: a caption its control cuts, a caption that runs past its control's
// parent's edge (or a group box's frame), and a caption covered by another
// control painted over it are each reported by the widget's kind, name and
// text. Shared by the library's dialog tests and the application's.
//
// A caption is measured by what the control itself paints, not by a rule of
// how much room a text needs: the control is drawn with its texts in a
// colour nothing else is drawn in, once at its own size and once with ample
// room, and the caption is cut when the first drawing holds less of that ink
// than the second.
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
#include <QSignalBlocker>
#include <QTextDocument>
#include <QToolBar>
#include <QToolButton>
#include <QWidget>
#include <algorithm>
#include <map>
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

// The colour a control's texts are drawn in while their ink is counted, and
// whether a pixel is mostly of it.
inline constexpr QRgb kInk = qRgb(255, 0, 0);
inline bool IsInk(QRgb pixel) { return qRed(pixel) - std::max(qGreen(pixel), qBlue(pixel)) > 96; }

// The ink of a control's texts as drawn at one size.
struct Ink {
  int pixels = 0;
  QRect box;  // where it lies, in the control's coordinates
};

inline Ink CountInk(const QImage& image) {
  Ink ink;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (IsInk(image.pixel(x, y))) {
        ++ink.pixels;
        ink.box |= QRect(x, y, 1, 1);
      }
  return ink;
}

// The control drawn alone (without its children, save a drop-down's own
// editor) at size with its texts in kInk; then it is put back as it was.
inline Ink InkAt(QWidget* w, const QSize& size) {
  const QRect geometry = w->geometry();
  const bool ownPalette = w->testAttribute(Qt::WA_SetPalette);
  const QPalette palette = w->palette();
  QPalette inked = palette;
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
      inked.setColor(group, role, QColor(kInk));
  w->setPalette(inked);
  w->resize(size);
  QImage image(size, QImage::Format_RGB32);
  image.fill(palette.color(QPalette::Window));
  QWidget::RenderFlags flags = QWidget::DrawWindowBackground;
  if (qobject_cast<QComboBox*>(w)) flags |= QWidget::DrawChildren;
  w->render(&image, QPoint(), QRegion(), flags);
  w->setGeometry(geometry);
  w->setPalette(ownPalette ? palette : QPalette());
  if (!ownPalette) w->setAttribute(Qt::WA_SetPalette, false);
  return CountInk(image);
}

// The control's size with room to spare on each side that may cut: a label
// that wraps its words keeps its width, which decides its lines. The room
// is even, so text centred in it lies on the same pixel grid.
inline QSize Ample(const QWidget* w) {
  auto* label = qobject_cast<const QLabel*>(w);
  return w->size() + QSize(label && label->wordWrap() ? 0 : 400, 100);
}

// Whether a text drawn with whole pixels of ink given room shows too few at
// its control's size. A glyph that overhangs the style's text rectangle
// loses a pixel or two of fringe where the style clips to it (a text one
// pixel taller than its rectangle is clipped on every side); any letter
// cut off takes more.
inline constexpr int kFringe = 2;
inline bool Cuts(int shown, int whole) { return whole - shown > kFringe; }

// A caption's ink at its control's size, and the pixels of it there are
// with room to spare.
struct Caption {
  Ink shown;
  int whole = 0;
};

inline Caption MeasureCaption(QWidget* w) {
  Caption caption;
  caption.shown = InkAt(w, w->size());
  caption.whole = InkAt(w, Ample(w)).pixels;
  return caption;
}

using Captions = std::map<const QWidget*, Caption>;

// What a control paints over whatever lies below it, in its own
// coordinates: nothing for a bare container, the caption (for a check or
// radio box, with its mark) for a control without a background of its own,
// else the whole control.
inline QRect PaintedRect(const QWidget* w, const Captions& captions) {
  const char* cls = w->metaObject()->className();
  const bool bare = (qstrcmp(cls, "QWidget") == 0 ||
                     (qstrcmp(cls, "QFrame") == 0 &&
                      static_cast<const QFrame*>(w)->frameShape() == QFrame::NoFrame) ||
                     qstrcmp(cls, "QStackedWidget") == 0) &&
                    !w->autoFillBackground();
  if (bare) return QRect();
  const auto* label = qobject_cast<const QLabel*>(w);
  const bool marked = qobject_cast<const QCheckBox*>(w) || qobject_cast<const QRadioButton*>(w);
  if (w->autoFillBackground() || !(label || marked) ||
      (label && label->frameShape() != QFrame::NoFrame))
    return w->rect();
  const auto caption = captions.find(w);
  if (caption == captions.end()) return QRect();
  const QRect ink = caption->second.shown.box;
  return marked ? QRect(0, 0, ink.right() + 1, w->height()) : ink;
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

// Each entry of a drop-down list as the closed box shows it, measured as a
// caption is.
inline void CheckCombo(QComboBox* combo, QStringList& misfits) {
  const QSignalBlocker quiet(combo);
  const int current = combo->currentIndex();
  const QString edited = combo->currentText();
  for (int i = 0; i < combo->count(); ++i) {
    combo->setCurrentIndex(i);
    const int shown = InkAt(combo, combo->size()).pixels;
    const int whole = InkAt(combo, combo->size() + QSize(400, 0)).pixels;
    if (Cuts(shown, whole))
      misfits << Describe(combo, combo->itemText(i)) + QString(": the box shows %1 of the "
                                                               "item's %2 pixels of ink")
                                                           .arg(shown).arg(whole);
  }
  combo->setCurrentIndex(current);
  if (combo->isEditable()) combo->setEditText(edited);
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
  Captions captions;
  for (QWidget* w : widgets)
    if (!CaptionOf(w).isEmpty()) captions[w] = MeasureCaption(w);
  QStringList misfits;
  for (size_t i = 0; i < widgets.size(); ++i) {
    QWidget* w = widgets[i];
    if (userData.contains(w)) continue;
    if (auto* combo = qobject_cast<QComboBox*>(w)) CheckCombo(combo, misfits);
    if (auto* view = qobject_cast<QAbstractItemView*>(w)) CheckList(view, misfits);
    if (auto* bar = qobject_cast<QToolBar*>(w)) CheckToolBar(bar, misfits);
    const auto measured = captions.find(w);
    if (measured == captions.end() || measured->second.whole == 0) continue;
    const Caption& caption = measured->second;
    const QString name = Describe(w, CaptionOf(w));
    if (Cuts(caption.shown.pixels, caption.whole)) {
      misfits << name + QString(": shows %1 of its %2 pixels of ink at %3 x %4")
                            .arg(caption.shown.pixels).arg(caption.whole)
                            .arg(w->width()).arg(w->height());
      continue;
    }
    bool clipped = false;
    QRect inParent = caption.shown.box.translated(w->pos());
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
    const QRect shown = InWindow(w, caption.shown.box);
    for (size_t j = i + 1; j < widgets.size(); ++j) {
      const QWidget* over = widgets[j];
      if (IsAncestor(w, over)) continue;
      const QRect painted = PaintedRect(over, captions);
      if (painted.isEmpty() || !InWindow(over, painted).intersects(shown)) continue;
      misfits << name + " is covered by " + Describe(over, CaptionOf(over));
      break;
    }
  }
  return misfits;
}

}  // namespace TextFit
