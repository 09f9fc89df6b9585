// The colour depths the windows offer: the depth lists' texts, the text a
// source's bit count selects, and the bit count a text asks of the library.
// Plain rules, free of widgets.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

namespace DepthRules {

// The items of a depth list, richest first.
QStringList Items();
// The text of the palette depth, the one that takes dithering.
QString PaletteItem();

struct Texts {
  QString depth;        // text of the depth list, empty for none
  QString description;  // shown after the bit count
};
// What a source of bitsPerPixel shows; none for depths without an item
// that keeps them (15 and 16 bits among others).
Texts For(double bitsPerPixel);

// Bits per pixel of a depth list text; 24 for any other text.
int32_t Bits(const QString& depthText);

}  // namespace DepthRules
