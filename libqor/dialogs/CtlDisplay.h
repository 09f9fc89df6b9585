// A control that shows one image at its own size, top-left aligned, and
// fills itself with its colour while it holds no image.
#pragma once

#include <QWidget>
#include <cstdint>

#include "media/ImgBasic.h"

namespace CtlDisplay {

class TDisplayControl : public QWidget {
 public:
  explicit TDisplayControl(QWidget* parent);
  ~TDisplayControl() override;

  ImgBasic::Qimg image;      // the control's own copy
  uint32_t colour = 0;       // Windows colour value (red in the low byte)

 protected:
  void paintEvent(QPaintEvent* event) override;
};

bool IsImgValid(const ImgBasic::Qimg* image);
TDisplayControl* Display_Create_VCL(QWidget* panel, int32_t left, int32_t top,
                                    int32_t width, int32_t height);
void Display_SetBounds(TDisplayControl* control, int32_t left, int32_t top,
                       int32_t width, int32_t height);
void Display_SetColor(TDisplayControl* control, uint32_t colour);
// Copies the image into the control (the caller keeps its own) and repaints
// at once.
void Display_ShowImg(TDisplayControl* control, const ImgBasic::Qimg* image);
void _Display_ReleaseImage(TDisplayControl* control);
void Display_Free(TDisplayControl*& control);

}  // namespace CtlDisplay
