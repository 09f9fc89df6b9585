#include "dialogs/CtlDisplay.h"

#include <QImage>
#include <QPainter>
#include <memory>

#include "foundation/Errors.h"
#include "foundation/VCLUtils.h"
#include "platform/Gdi.h"

using Errors::TraceScope;

namespace CtlDisplay {
namespace {

// The drawing surface a paint event hands the image units: a true-colour
// picture of the control's size, put on screen once drawn.
class PictureDC : public Gdi::DeviceContext {
 public:
  explicit PictureDC(QImage* picture) : picture_(picture) {}
  int32_t RasterCaps() const override { return Gdi::kTrueColourCaps; }
  int32_t Width() const override { return picture_->width(); }
  int32_t Height() const override { return picture_->height(); }
  void SetPixel(int32_t x, int32_t y, uint32_t c) override {
    if (x < 0 || y < 0 || x >= Width() || y >= Height()) return;
    picture_->setPixel(x, y, qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
  }
  uint32_t GetPixel(int32_t x, int32_t y) const override {
    if (x < 0 || y < 0 || x >= Width() || y >= Height()) return 0;
    const QRgb p = picture_->pixel(x, y);
    return Gdi::RGB(qRed(p), qGreen(p), qBlue(p));
  }

 private:
  QImage* picture_;
};

// Draws the image through the device layer, as every other surface of the
// library is drawn on; false when that failed.
bool DrawImage(ImgBasic::Qimg* image, QImage* picture) {
  Gdi::HDC dc = Gdi::RegisterDC(std::make_unique<PictureDC>(picture));
  bool drawn = false;
  try {
    Errors::MonitoredQuiet("CtlDisplay.TDisplayControl.Paint", [&] {
      if (image->bitsPerPixel == 8) ImgBasic::PalPut(image->palette, dc);
      ImgBasic::ImgPut(image, dc, 0, 0);
      drawn = Errors::ErrNone();
    });
  } catch (...) {
  }
  // A picture that cannot be drawn is the paint's own affair, not an error
  // of the call that runs the dialog.
  if (!drawn) Errors::ErrClear();
  Gdi::DeleteDC(dc);
  return drawn;
}

}  // namespace

TDisplayControl::TDisplayControl(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

TDisplayControl::~TDisplayControl() { ImgBasic::ImgFree(&image); }

void TDisplayControl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (IsImgValid(&image)) {
    QImage picture(width(), height(), QImage::Format_RGB32);
    picture.fill(Qt::black);
    if (DrawImage(&image, &picture)) {
      painter.drawImage(0, 0, picture);
      return;
    }
  }
  VCLUtils::ClearDC(&painter, 0, 0, width(), height(), colour);
}

bool IsImgValid(const ImgBasic::Qimg* image) {
  TraceScope t("CtlDisplay.IsImgValid");
  return image && image->data && image->width > 0 && image->height > 0;
}

TDisplayControl* Display_Create_VCL(QWidget* panel, int32_t left, int32_t top,
                                    int32_t width, int32_t height) {
  TraceScope t("CtlDisplay.Display_Create_VCL");
  auto* control = new TDisplayControl(panel);
  control->colour = 0;
  control->setGeometry(left, top, width, height);
  control->show();
  control->repaint();
  return control;
}

void Display_SetBounds(TDisplayControl* control, int32_t left, int32_t top,
                       int32_t width, int32_t height) {
  TraceScope t("CtlDisplay.Display_SetBounds");
  if (control) control->setGeometry(left, top, width, height);
}

void Display_SetColor(TDisplayControl* control, uint32_t colour) {
  TraceScope t("CtlDisplay.Display_SetColor");
  if (!control) return;
  control->colour = colour;
  control->update();
}

void Display_ShowImg(TDisplayControl* control, const ImgBasic::Qimg* image) {
  TraceScope t("CtlDisplay.Display_ShowImg");
  if (!control) return;
  ImgBasic::ImgCopy(image, &control->image);
  control->show();
  control->repaint();
}

void _Display_ReleaseImage(TDisplayControl* control) {
  TraceScope t("CtlDisplay._Display_ReleaseImage");
  if (control) ImgBasic::ImgFree(&control->image);
}

void Display_Free(TDisplayControl*& control) {
  TraceScope t("CtlDisplay.Display_Free");
  if (!control) return;
  _Display_ReleaseImage(control);
  delete control;
  control = nullptr;
}

}  // namespace CtlDisplay
