// A preview: an image fitted into a panel (scaled down when larger, centred)
// through a display control.
#pragma once

#include <cstdint>

#include "dialogs/CtlDisplay.h"

namespace CtlPreview {

struct PreviewRec {
  QWidget* panel = nullptr;
  int32_t margin = 0;  // pixels kept free on every side
  CtlDisplay::TDisplayControl* display = nullptr;
};

void Preview_Init(PreviewRec& rec, QWidget* panel, int32_t margin);
void Preview_SetColor(PreviewRec& rec, uint32_t colour);
// An image without width or height leaves the preview as it is.
void Preview_Show(PreviewRec& rec, ImgBasic::Qimg* image);
void Preview_Done(PreviewRec& rec);

}  // namespace CtlPreview
