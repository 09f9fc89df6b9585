#include "foundation/Translator.h"

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
#include <memory>
#include <vector>

#include "foundation/Errors.h"
#include "foundation/VCLUtils.h"

using Errors::TraceScope;

namespace Translator {
namespace {

struct Pair {
  std::string key;
  std::string value;
};

using Table = std::vector<std::unique_ptr<Pair>>;

// Created at library start, freed at unload.
Table* g_table = nullptr;

// Spare slots the table may keep after a removal.
constexpr size_t kSpareSlots = 256;

// Ordinal comparison: byte values from the first character; a prefix sorts
// first. std::string::compare works on char, which may be signed.
int Compare(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; i++) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

// Binary search: found, and the pair's index or the insertion index.
bool Search(const Table& t, const std::string& key, size_t& index) {
  if (t.empty()) {
    index = 0;
    return false;
  }
  size_t low = 0, high = t.size() - 1, middle = 0;
  int c = 0;
  do {
    middle = (low + high) / 2;
    c = Compare(key, t[middle]->key);
    if (c < 0)
      high = middle;
    else if (c > 0)
      low = middle;
  } while (c != 0 && high - low > 1);
  if (c == 0) {
    index = middle;
    return true;
  }
  c = Compare(key, t[low]->key);
  if (c <= 0) {
    index = low;
    return c == 0;
  }
  c = Compare(key, t[high]->key);
  if (c <= 0) {
    index = high;
    return c == 0;
  }
  index = high + 1;
  return false;
}

void RemoveAt(Table& t, size_t index) {
  t.erase(t.begin() + static_cast<std::ptrdiff_t>(index));
  if (t.capacity() - t.size() > kSpareSlots) t.shrink_to_fit();
}

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

void TranInit() {
  if (!g_table) g_table = new Table();
}

void TranFree() {
  if (!g_table) return;
  TranClear();
  delete g_table;
  g_table = nullptr;
}

std::string TranGet(const std::string& text) {
  TraceScope t("Translator.TranGet");
  size_t index = 0;
  if (g_table && Search(*g_table, text, index)) return (*g_table)[index]->value;
  return text;
}

void TranSet(const std::string& key, const std::string& translation) {
  TraceScope t("Translator.TranSet");
  if (!g_table) return;
  Table& table = *g_table;
  size_t index = 0;
  if (Search(table, key, index)) {
    if (translation.empty())
      RemoveAt(table, index);
    else
      table[index]->value = translation;
  } else if (!translation.empty()) {
    table.insert(table.begin() + static_cast<std::ptrdiff_t>(index),
                 std::make_unique<Pair>(Pair{key, translation}));
  }
}

void TranClear() {
  TraceScope t("Translator.TranClear");
  if (!g_table) return;
  while (!g_table->empty()) g_table->pop_back();
  g_table->shrink_to_fit();
}

void TranControl(QObject* component) {
  TraceScope t("Translator.TranControl");
  if (!component) return;
  try {
    Walk(component);
  } catch (const std::exception&) {
    VCLUtils::ShowErrorBox(VCLUtils::GetExceptionText());
  }
}

int32_t TranCount() {
  return g_table ? static_cast<int32_t>(g_table->size()) : 0;
}
std::string TranKeyAt(int32_t i) { return (*g_table)[static_cast<size_t>(i)]->key; }
std::string TranValueAt(int32_t i) {
  return (*g_table)[static_cast<size_t>(i)]->value;
}
size_t TranCapacity() { return g_table ? g_table->capacity() : 0; }

}  // namespace Translator
