#include "dialogs/CtlPopup.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <cstdlib>

#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "platform/base/UiLayer.h"

using Errors::TraceScope;

namespace CtlPopup {
namespace {

constexpr int32_t kValueOffset = 100;

PopupHook& Hook() {
  static PopupHook hook;
  return hook;
}

// The text from pos up to the next "|" (or the end); pos moves past it.
std::string NextField(const std::string& items, size_t& pos) {
  const size_t bar = items.find('|', pos);
  const size_t end = bar == std::string::npos ? items.size() : bar;
  std::string field = items.substr(pos, end - pos);
  pos = bar == std::string::npos ? items.size() : bar + 1;
  return field;
}

}  // namespace

void PopupAddItem(std::string& items, const std::string& caption, int32_t value) {
  TraceScope t("CtlPopup.PopupAddItem");
  std::string clean;
  for (char c : caption)
    if (c != '|') clean += c;
  items += clean + "|" + std::to_string(int64_t{value} + kValueOffset) + "|";
}

void _PopupAddItemAPI(QMenu* menu, int32_t id, const std::string& caption) {
  TraceScope t("CtlPopup._PopupAddItemAPI");
  if (caption == "-") {
    menu->addSeparator();
    return;
  }
  QAction* action = menu->addAction(QString::fromLocal8Bit(caption.c_str()));
  action->setData(id);
}

int32_t PopupDisplay(int32_t x, int32_t y, const std::string& items) {
  TraceScope t("CtlPopup.PopupDisplay");
  int32_t result = Basic::K_AUTO;
  // A menu needs the host's application; without one nothing can be chosen.
  if (!Ui::HostHasWidgets()) return result;
  const QPoint cursor = Ui::HostHasWidgets() ? QCursor::pos() : QPoint(0, 0);
  if (x < 0) x = cursor.x();
  if (y < 0) y = cursor.y();
  QMenu menu(Ui::ActiveWindow());
  int32_t added = 0;
  for (size_t pos = 0; pos < items.size();) {
    const std::string caption = NextField(items, pos);
    const int32_t id = static_cast<int32_t>(std::atol(NextField(items, pos).c_str()));
    if (caption.empty()) continue;
    _PopupAddItemAPI(&menu, id, caption);
    added++;
  }
  if (added == 0) return result;
  QAction* chosen = Hook() ? Hook()(&menu) : menu.exec(QPoint(x, y));
  if (chosen && !chosen->isSeparator())
    result = chosen->data().toInt() - kValueOffset;
  return result;
}

void SetPopupHook(PopupHook hook) { Hook() = std::move(hook); }

}  // namespace CtlPopup
