// A popup menu built from a text list of captions and values; the chosen
// entry's value comes back, or K_AUTO when the menu was dismissed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class QAction;
class QMenu;

namespace CtlPopup {

// Appends caption (without any "|"), "|", value + 100 and "|". The caption
// "-" stands for a separator line.
void PopupAddItem(std::string& items, const std::string& caption, int32_t value);
// x or y below 0 take the cursor's position.
int32_t PopupDisplay(int32_t x, int32_t y, const std::string& items);
// Adds one item: a text with that identifier, or a separator for "-".
void _PopupAddItemAPI(QMenu* menu, int32_t id, const std::string& caption);

// Tests stand in for the user: the hook receives the built menu instead of
// its modal loop and returns the chosen action (null for dismissed).
using PopupHook = std::function<QAction*(QMenu* menu)>;
void SetPopupHook(PopupHook hook);

}  // namespace CtlPopup
