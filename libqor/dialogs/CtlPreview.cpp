#include "dialogs/CtlPreview.h"

#include "foundation/Errors.h"
#include "foundation/MiscProcs.h"

using Errors::TraceScope;

namespace CtlPreview {

void Preview_Init(PreviewRec& rec, QWidget* panel, int32_t margin) {
  TraceScope t("ctlPreview.Preview_Init");
  rec.panel = panel;
  rec.margin = margin;
  rec.display = CtlDisplay::Display_Create_VCL(panel, margin, margin, 4, 4);
  CtlDisplay::Display_SetColor(rec.display, 0);
}

void Preview_SetColor(PreviewRec& rec, uint32_t colour) {
  TraceScope t("ctlPreview.Preview_SetColor");
  CtlDisplay::Display_SetColor(rec.display, colour);
}

void Preview_Show(PreviewRec& rec, ImgBasic::Qimg* image) {
  TraceScope t("ctlPreview.Preview_Show");
  if (!image || image->width == 0 || image->height == 0 || !rec.panel) return;
  const int32_t boxWidth = rec.panel->width() - 2 * rec.margin;
  const int32_t boxHeight = rec.panel->height() - 2 * rec.margin;
  int32_t width = 0, height = 0, spareX = 0, spareY = 0;
  MiscProcs::CalcBoxResize(image->width, image->height, boxWidth, boxHeight,
                           false, width, height, spareX, spareY);
  ImgBasic::Qimg scaled;
  const ImgBasic::Qimg* shown = image;
  try {
    if (width != image->width || height != image->height) {
      ImgBasic::ImgResize(image, &scaled, width, height);
      shown = &scaled;
    }
    CtlDisplay::Display_SetBounds(rec.display, rec.margin + spareX / 2,
                                  rec.margin + spareY / 2,
                                  width, height);
    CtlDisplay::Display_ShowImg(rec.display, shown);
  } catch (...) {
    ImgBasic::ImgFree(&scaled);
    throw;
  }
  ImgBasic::ImgFree(&scaled);
}

void Preview_Done(PreviewRec& rec) {
  TraceScope t("ctlPreview.Preview_Done");
  CtlDisplay::Display_Free(rec.display);
  rec.panel = nullptr;
}

}  // namespace CtlPreview
