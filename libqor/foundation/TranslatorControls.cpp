// The translator's walk over a form's widgets: in the ui module (and the
// static library), since it needs Qt; the table itself stays in the core.
#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>
#include <QWidget>
#include <exception>

#include "foundation/Errors.h"
#include "foundation/Translator.h"
#include "foundation/VCLUtils.h"

using Errors::TraceScope;

namespace Translator {
namespace {

QString Tr(const QString& text) {
  const std::string s = text.toLocal8Bit().toStdString();
  const std::string r = TranGet(s);
  return r == s ? text : QString::fromLocal8Bit(r.c_str());
}

void TranslateItems(QComboBox* combo) {
  const int selected = combo->currentIndex();
  for (int i = 0; i < combo->count(); i++)
    combo->setItemText(i, Tr(combo->itemText(i)));
  combo->setCurrentIndex(selected);
}

void TranslateItems(QListWidget* list) {
  const int selected = list->currentRow();
  for (int i = 0; i < list->count(); i++)
    list->item(i)->setText(Tr(list->item(i)->text()));
  list->setCurrentRow(selected);
}

// The component's own texts, by the first class that fits.
void TranslateOwn(QObject* c) {
  if (auto* action = qobject_cast<QAction*>(c)) {
    action->setText(Tr(action->text()));
  } else if (auto* menu = qobject_cast<QMenu*>(c)) {
    menu->setTitle(Tr(menu->title()));
  } else if (auto* label = qobject_cast<QLabel*>(c)) {
    label->setText(Tr(label->text()));
  } else if (auto* button = qobject_cast<QAbstractButton*>(c)) {
    button->setText(Tr(button->text()));
  } else if (auto* group = qobject_cast<QGroupBox*>(c)) {
    group->setTitle(Tr(group->title()));
  } else if (auto* combo = qobject_cast<QComboBox*>(c)) {
    TranslateItems(combo);
  } else if (auto* list = qobject_cast<QListWidget*>(c)) {
    TranslateItems(list);
  } else if (auto* w = qobject_cast<QWidget*>(c); w && w->isWindow()) {
    w->setWindowTitle(Tr(w->windowTitle()));
  }
  // A page's caption is kept by its tab control.
  if (auto* tabs = qobject_cast<QTabWidget*>(c))
    for (int i = 0; i < tabs->count(); i++)
      tabs->setTabText(i, Tr(tabs->tabText(i)));
}

// A menu's items are its actions; a submenu's title is the text of the
// action that opens it, so it is translated once, as that action.
void WalkActions(QWidget* menu) {
  for (QAction* a : menu->actions()) {
    TranslateOwn(a);
    if (QMenu* sub = a->menu()) WalkActions(sub);
  }
}

void Walk(QObject* c) {
  TranslateOwn(c);
  if (qobject_cast<QMenu*>(c) || qobject_cast<QMenuBar*>(c)) {
    WalkActions(static_cast<QWidget*>(c));
    return;
  }
  auto* w = qobject_cast<QWidget*>(c);
  if (!w) return;
  // Inner widgets of combo and list boxes are not controls of the form.
  if (qobject_cast<QComboBox*>(c) || qobject_cast<QListWidget*>(c)) return;
  for (QObject* child : w->children())
    if (child->isWidgetType()) Walk(child);
}

}  // namespace

void TranControl(QObject* component) {
  TraceScope t("Translator.TranControl");
  if (!component) return;
  try {
    Walk(component);
  } catch (const std::exception&) {
    VCLUtils::ShowErrorBox(VCLUtils::GetExceptionText());
  }
}

}  // namespace Translator
