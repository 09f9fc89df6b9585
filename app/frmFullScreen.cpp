#include "frmFullScreen.h"

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPrinter>
#include <QScreen>
#include <QScrollBar>
#include <QToolBar>
#include <QToolButton>
#include <cmath>
#include <limits>

#include "AppDialogs.h"
#include "frmImage.h"
#include "modMain.h"

namespace frmFullScreen {
namespace {

using modMain::Px;
constexpr double kTpp = modMain::kTwipsPerPixel;

QPointer<Form>& Instance() {
  static QPointer<Form> instance;
  return instance;
}

int ClampToInt(double value) {
  if (!(value > 0)) return 0;
  return value >= std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                   : static_cast<int>(value);
}

ScrollRange Range(double maximum) {
  ScrollRange range;
  range.shown = true;
  range.maximum = ClampToInt(maximum);
  range.smallChange = range.maximum / 16 + 1;
  range.largeChange = range.maximum / 4 + 1;
  return range;
}

void ApplyRange(QScrollBar* bar, const ScrollRange& range) {
  bar->setRange(0, range.maximum);
  bar->setSingleStep(range.smallChange);
  bar->setPageStep(range.largeChange);
}

double Twips(int pixels) { return pixels * kTpp; }

// The printer ends every step quietly; the pointer comes back on every way
// out.
struct BusyPointer {
  BusyPointer() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyPointer() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

// ---- rules

NaturalLayout LayOutNatural(const Room& room, double picWidth, double picHeight) {
  NaturalLayout layout{};
  const double vBarLeft = room.width - room.vBar;
  if (vBarLeft < picWidth) {
    layout.left = 0;
    layout.h = Range(picWidth - vBarLeft);
  } else {
    layout.left = room.width / 2 - picWidth / 2;
  }
  const double roomHeight = room.height - (room.toolbar + room.hBar);
  if (roomHeight < picHeight) {
    layout.top = room.toolbar;
    layout.v = Range(picHeight - roomHeight);
  } else {
    // Centred on the middle of the height less the toolbar, but never under
    // the toolbar.
    layout.top = std::max(room.toolbar, (room.height - room.toolbar) / 2 - picHeight / 2);
  }
  return layout;
}

std::optional<Rect> FitToHeight(const Room& room, double picWidth, double picHeight) {
  if (!(picWidth > 0) || !(picHeight > 0)) return std::nullopt;
  const double h = std::nearbyint(room.height - (room.toolbar + room.hBar));
  Rect rect{};
  rect.height = h - 120;
  rect.width = picWidth / picHeight * rect.height;
  rect.top = room.toolbar + (h / 2 - rect.height / 2);
  rect.left = room.width / 2 - rect.width / 2;
  return rect;
}

std::optional<PagePlacement> PlaceOnPage(double picWidth, double picHeight, bool landscape,
                                         double printableWidth, double printableHeight,
                                         double scaleLeft, double scaleTop) {
  if (!(picWidth > 0) || !(picHeight > 0) || !(printableWidth > 0) || !(printableHeight > 0))
    return std::nullopt;
  // The default rounding mode takes halves to the even neighbour.
  const double margin = landscape ? std::nearbyint(printableWidth * 0.1) : 0;
  const double ratio = picHeight / picWidth;
  const double pageRatio = printableHeight / printableWidth;
  double w = 0, h = 0;
  if (ratio > pageRatio) {
    h = std::nearbyint(printableHeight - margin);
    w = std::nearbyint(h / ratio);
  } else {
    w = std::nearbyint(printableWidth - margin);
    h = std::nearbyint(w * ratio);
  }
  PagePlacement place{};
  place.width = static_cast<long long>(w);
  place.height = static_cast<long long>(h);
  place.x = static_cast<long long>(std::nearbyint((printableWidth - w) / 2 + scaleLeft));
  place.y = static_cast<long long>(std::nearbyint((printableHeight - h) / 2 + scaleTop));
  return place;
}

// ---- the window

Form::Form(QWidget* parent) : QDialog(parent) {
  setWindowFlag(Qt::FramelessWindowHint);
  setAutoFillBackground(true);

  Picture1 = new QLabel(this);
  Image1 = new QLabel(this);
  Image1->setScaledContents(true);
  Image1->hide();

  HScroll1 = new QScrollBar(Qt::Horizontal, this);
  VScroll1 = new QScrollBar(Qt::Vertical, this);
  connect(HScroll1, &QScrollBar::valueChanged, this, [this] { HScroll1_Change(); });
  connect(VScroll1, &QScrollBar::valueChanged, this, [this] { VScroll1_Change(); });

  tbTop = new QToolBar(this);
  tbTop->setAutoFillBackground(true);
  tbTop->setToolButtonStyle(Qt::ToolButtonTextOnly);
  const QStringList captions = {"Full Size  ", "Fit Window", " Percent  ",
                                "   Load   ", "Print       ", "Exit Viewer"};
  for (int i = 0; i < captions.size(); ++i) {
    QAction* button = tbTop->addAction(captions[i]);
    const int index = i + 1;
    connect(button, &QAction::triggered, this, [this, index] { tbTop_ButtonClick(index); });
  }
  Button(1)->setCheckable(true);
  Button(2)->setCheckable(true);
  auto* percent = new QMenu(this);
  for (const char* item : {"90", "75", "50", "25", "10"}) percent->addAction(item);
  Button(3)->setMenu(percent);
  if (auto* tool = qobject_cast<QToolButton*>(tbTop->widgetForAction(Button(3))))
    tool->setPopupMode(QToolButton::InstantPopup);

  txtImagePath = new QLineEdit(this);
  txtImagePath->hide();

  // Any key closes the viewer, so no part of it takes the keyboard.
  for (QWidget* child : findChildren<QWidget*>()) child->setFocusPolicy(Qt::NoFocus);
  setFocusPolicy(Qt::StrongFocus);

  // Form_Load
  SetPressed(1);
}

QAction* Form::Button(int index) const { return tbTop->actions().value(index - 1); }

void Form::SetPressed(int index) {
  Button(1)->setChecked(index == 1);
  Button(2)->setChecked(index == 2);
}

Room Form::CurrentRoom() const {
  return {Twips(width()), Twips(height()), Twips(tbTop->sizeHint().height()),
          Twips(HScroll1->sizeHint().height()), Twips(VScroll1->sizeHint().width())};
}

void Form::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  Form_Resize();
}

void Form::Form_Resize() {
  const int w = width(), h = height();
  tbTop->setGeometry(0, 0, w, tbTop->sizeHint().height());
  const int hBar = HScroll1->sizeHint().height(), vBar = VScroll1->sizeHint().width();
  HScroll1->setGeometry(0, h - hBar, w - Px(60), hBar);
  const int toolbar = tbTop->sizeHint().height();
  VScroll1->setGeometry(w - vBar, toolbar, vBar, h - (toolbar + hBar));
  HScroll1->raise();
  VScroll1->raise();
  tbTop->raise();
}

void Form::SetPicture(const QImage& picture) {
  // The opener sizes the window before it is shown; the bars follow now.
  Form_Resize();
  picture_ = picture;
  Picture1->setPixmap(QPixmap::fromImage(picture));
  Picture1->resize(picture.size());
  Picture1_Resize();
}

void Form::Picture1_Resize() {
  const NaturalLayout layout =
      LayOutNatural(CurrentRoom(), Twips(Picture1->width()), Twips(Picture1->height()));
  pictureTop_ = layout.top;
  {
    const QSignalBlocker hold(HScroll1), holdV(VScroll1);
    HScroll1->setValue(0);
    VScroll1->setValue(0);
  }
  ApplyRange(HScroll1, layout.h);
  ApplyRange(VScroll1, layout.v);
  HScroll1->setVisible(layout.h.shown);
  VScroll1->setVisible(layout.v.shown);
  Picture1->move(Px(layout.left), Px(layout.top));
  HScroll1->raise();
  VScroll1->raise();
  tbTop->raise();
}

void Form::HScroll1_Change() { Picture1->move(Px(-HScroll1->value()), Picture1->y()); }

void Form::VScroll1_Change() {
  Picture1->move(Picture1->x(), Px(pictureTop_ - VScroll1->value()));
}

void Form::keyPressEvent(QKeyEvent*) { close(); }

void Form::mousePressEvent(QMouseEvent*) { close(); }

void Form::tbTop_ButtonClick(int index) {
  switch (index) {
    case 1:
      ShowFullSize();
      break;
    case 2:
      ShowFitWindow();
      break;
    case 4:
      LoadIntoMainWindow();
      break;
    case 5:
      PrintImage();
      break;
    case 6:
      close();
      break;
    default:  // " Percent  " only offers its menu
      SetPressed(Button(2)->isChecked() ? 2 : 1);
      break;
  }
}

void Form::ShowFullSize() {
  Picture1->show();
  Image1->hide();
  Picture1_Resize();
  SetPressed(1);
}

void Form::ShowFitWindow() {
  SetPressed(2);
  const auto rect = FitToHeight(CurrentRoom(), Twips(Picture1->width()),
                                Twips(Picture1->height()));
  if (rect) {
    Image1->setGeometry(Px(rect->left), Px(rect->top), Px(rect->width), Px(rect->height));
    Image1->setPixmap(QPixmap::fromImage(picture_));
  }
  Picture1->hide();
  HScroll1->hide();
  VScroll1->hide();
  Image1->show();
}

void Form::LoadIntoMainWindow() {
  const QString path = txtImagePath->text();
  if (path.isEmpty() || !MainWindow) {
    close();
    return;
  }
  frmImage::Form* main = MainWindow;
  modMain::Guarded(this, [main, &path] {
    const frmImage::Controls& c = main->controls();
    main->bInit = true;
    c.txtSource->setText(path);
    modMain::ImageEdited = false;
    modMain::EditedImagePath.clear();
    c.mnuUndo->setEnabled(false);
    main->ShowPreview(path);
    main->bInit = false;
    // Proposed in the default output folder, as the open command does.
    main->ProposeOutput(modMain::DefaultPath);
  });
  main->bInit = false;
  QPointer<QWidget> imageViewer = ImageViewer;
  close();
  if (imageViewer) imageViewer->close();
}

void Form::PrintImage() {
  picCanvas_ = picture_;
  if (picCanvas_.isNull()) return;
  QPrinter printer(QPrinter::HighResolution);
  printer.setPageOrientation(picCanvas_.width() > picCanvas_.height()
                                 ? QPageLayout::Landscape
                                 : QPageLayout::Portrait);
  if (!AppDialogs::Printer(this, printer)) return;
  const BusyPointer busy;
  const bool landscape = printer.pageLayout().orientation() == QPageLayout::Landscape;
  QPainter painter;
  if (!painter.begin(&printer)) return;
  // The painter's origin is the printable area's top left corner.
  const QRect printable = painter.viewport();
  const auto place = PlaceOnPage(picCanvas_.width(), picCanvas_.height(), landscape,
                                 printable.width(), printable.height(), 0, 0);
  if (place) {
    const QRect target(static_cast<int>(place->x), static_cast<int>(place->y),
                       static_cast<int>(place->width), static_cast<int>(place->height));
    painter.drawImage(target, picCanvas_);
    painter.setPen(QPen(Qt::black, 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(target);
  }
  painter.end();
}

// ---- opening

Form* Current() { return Instance(); }

void Show(QWidget* owner, frmImage::Form* mainWindow, const QImage& picture,
          const QString& path) {
  if (Instance()) Instance()->close();
  auto* viewer = new Form(owner);
  viewer->setAttribute(Qt::WA_DeleteOnClose);
  Instance() = viewer;
  viewer->MainWindow = mainWindow;
  if (owner != mainWindow) viewer->ImageViewer = owner;
  // The viewer covers the screen the main window is on.
  if (const QScreen* screen = modMain::ScreenOf(mainWindow ? mainWindow : owner))
    viewer->setGeometry(screen->geometry());
  viewer->SetPicture(picture);
  viewer->txtImagePath->setText(path);
  modMain::ExecInFront(viewer);
}

}  // namespace frmFullScreen
