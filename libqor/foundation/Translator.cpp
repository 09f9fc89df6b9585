#include "foundation/Translator.h"

#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "foundation/Errors.h"

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
// The exports that change the table run one at a time under the library's
// lock; error texts are also looked up without it (a thread reading its own
// last error never waits for another thread's call), so lookups share and
// changes exclude through a lock of the table's own.
std::shared_mutex g_tableLock;

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

}  // namespace

void TranInit() {
  const std::lock_guard<std::shared_mutex> hold(g_tableLock);
  if (!g_table) g_table = new Table();
}

void TranFree() {
  TranClear();
  const std::lock_guard<std::shared_mutex> hold(g_tableLock);
  delete g_table;
  g_table = nullptr;
}

std::string TranGet(const std::string& text) {
  TraceScope t("Translator.TranGet");
  const std::shared_lock<std::shared_mutex> hold(g_tableLock);
  size_t index = 0;
  if (g_table && Search(*g_table, text, index)) return (*g_table)[index]->value;
  return text;
}

void TranSet(const std::string& key, const std::string& translation) {
  TraceScope t("Translator.TranSet");
  const std::lock_guard<std::shared_mutex> hold(g_tableLock);
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
  const std::lock_guard<std::shared_mutex> hold(g_tableLock);
  if (!g_table) return;
  while (!g_table->empty()) g_table->pop_back();
  g_table->shrink_to_fit();
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
