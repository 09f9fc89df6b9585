// The library's user-interface translation: a sorted table of (source text,
// translation) pairs that the host fills, and the walk that translates a
// whole form.
#pragma once

#include <cstdint>
#include <string>

class QObject;

namespace Translator {

std::string TranGet(const std::string& text);
void TranSet(const std::string& key, const std::string& translation);
void TranClear();
// Translates a widget, action or menu and everything inside it.
void TranControl(QObject* component);

// Library start and stop.
void TranInit();
void TranFree();

// For tests: the pairs in table order.
int32_t TranCount();
std::string TranKeyAt(int32_t index);
std::string TranValueAt(int32_t index);
size_t TranCapacity();

}  // namespace Translator
