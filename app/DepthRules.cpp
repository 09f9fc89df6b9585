#include "DepthRules.h"

namespace DepthRules {
namespace {

struct Depth {
  int32_t bits;
  const char* item;
};
constexpr Depth kDepths[] = {{32, "32-bit (16M + alpha)"},
                             {24, "24-bit (16M colors)"},
                             {15, "15-bit (32k colors)"},
                             {8, "8-bit (256 colors)"}};
constexpr int32_t kOtherText = 24;

}  // namespace

QStringList Items() {
  QStringList items;
  for (const Depth& depth : kDepths) items << depth.item;
  return items;
}

QString PaletteItem() { return kDepths[3].item; }

Texts For(double bitsPerPixel) {
  // The 15-bit item is an output depth only: a source of 15 (or 16) bits
  // selects no item.
  for (const Depth& depth : kDepths)
    if (depth.bits != 15 && bitsPerPixel == depth.bits) {
      const QString item = depth.item;
      return {item, item.mid(item.indexOf('-'))};
    }
  return {};
}

int32_t Bits(const QString& depthText) {
  for (const Depth& depth : kDepths)
    if (depthText == depth.item) return depth.bits;
  return kOtherText;
}

}  // namespace DepthRules
