#include "frmPreview.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QSlider>
#include <QStyle>
#include <QToolBar>
#include <algorithm>

#include "AppDialogs.h"
#include "FitTexts.h"
#include "frmImage.h"
#include "modMain.h"

namespace frmPreview {
namespace {

using modMain::Px;

constexpr int kBoxMiddleTwips = 1695;  // half the box's height
constexpr int kPanelTopTwips = 3630;
constexpr int kChannelPanelWidthTwips = 2295;
constexpr int kChannelPanelHeightTwips = 2640;
constexpr int kHiddenTopTwips = 8000;  // below the visible part of the window
constexpr int kSmallChange = 1;
constexpr int kLargeChange = 5;

void Place(QWidget* widget, int left, int top, int width, int height) {
  widget->setGeometry(Px(left), Px(top), Px(width), Px(height));
}

// A slider that reports every mouse release, whichever button, after it has
// taken the release itself: only a release applies the panel's effect.
class ReleaseSlider : public QSlider {
 public:
  ReleaseSlider(QWidget* parent, std::function<void()> onRelease)
      : QSlider(Qt::Horizontal, parent), onRelease_(std::move(onRelease)) {}

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    QSlider::mouseReleaseEvent(event);
    onRelease_();
  }

 private:
  std::function<void()> onRelease_;
};

QSlider* Slider(QWidget* parent, int minimum, int maximum, int tick,
                std::function<void()> onRelease) {
  auto* slider = new ReleaseSlider(parent, std::move(onRelease));
  slider->setRange(minimum, maximum);
  slider->setValue(0);
  slider->setSingleStep(kSmallChange);
  slider->setPageStep(kLargeChange);
  slider->setTickInterval(tick);
  slider->setTickPosition(QSlider::TicksBelow);
  return slider;
}

// The lock button's two pictures: a closed padlock while the panel's sliders
// move together, an open one while they move alone.
QIcon LockPicture(bool locked) {
  QPixmap picture(16, 16);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(70, 70, 70), 2));
  const QRectF shackle = locked ? QRectF(4, 1, 8, 10) : QRectF(8, -1, 8, 10);
  painter.drawArc(shackle, 0, 180 * 16);
  painter.drawLine(QPointF(shackle.right(), 6), QPointF(shackle.right(), 8));
  if (locked) painter.drawLine(QPointF(shackle.left(), 6), QPointF(shackle.left(), 8));
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(205, 160, 40));
  painter.drawRoundedRect(QRectF(2, 7, 12, 8), 1.5, 1.5);
  return QIcon(picture);
}

QIcon StandardPicture(const QWidget* widget, QStyle::StandardPixmap which) {
  return widget->style()->standardIcon(which);
}

// A toolbar of three buttons that reports the pressed button by its index.
QToolBar* Toolbar(QWidget* parent, const std::array<QString, 3>& captions,
                  const std::array<QIcon, 3>& pictures, std::function<void(int)> click) {
  auto* toolbar = new QToolBar(parent);
  toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  toolbar->setIconSize(QSize(16, 16));
  // Three buttons in a small panel: no handle, no room lost around them.
  toolbar->setMovable(false);
  toolbar->setContentsMargins(0, 0, 0, 0);
  toolbar->layout()->setContentsMargins(0, 0, 0, 0);
  toolbar->layout()->setSpacing(0);
  QFont small = toolbar->font();
  small.setPointSizeF(small.pointSizeF() * 0.8);
  toolbar->setFont(small);
  for (int i = 0; i < 3; ++i) {
    QAction* button = toolbar->addAction(pictures[i], captions[i]);
    const int index = i + 1;
    QObject::connect(button, &QAction::triggered, toolbar, [click, index] { click(index); });
  }
  return toolbar;
}

// The three buttons share the toolbar's width equally, so that all of them
// show in the small panels.
void PlaceToolbar(QToolBar* toolbar, int left, int top, int width, int height) {
  Place(toolbar, left, top, width, height);
  for (QAction* button : toolbar->actions())
    toolbar->widgetForAction(button)->setFixedWidth(toolbar->width() / 3);
}

QAction* Button(QToolBar* toolbar, int index) { return toolbar->actions().at(index - 1); }

QString DataFile(const char* name) { return modMain::AppDir() + "/" + name; }

// Written aside and renamed into place, so that a failing write (a full
// disk, a vanished folder) leaves the previous file whole; the user is told.
bool WriteBitmap(QWidget* owner, const QPixmap& picture, const QString& path) {
  QSaveFile file(path);
  if (!picture.isNull() && file.open(QIODevice::WriteOnly) && picture.save(&file, "BMP") &&
      file.commit())
    return true;
  AppDialogs::Message(owner,
                      "The picture cannot be saved as " + QDir::toNativeSeparators(path) + ".",
                      modMain::kAppTitle, AppDialogs::Buttons::Ok, AppDialogs::Icon::Warning);
  return false;
}

}  // namespace

// ---- rules

QString PreviewFile() { return DataFile("preview.bmp"); }
QString UndoFile() { return DataFile("preview_undo.bmp"); }
QString ModifiedFile() { return DataFile("modifiedimage.bmp"); }

std::optional<Display> FitDisplay(double w, double h) {
  if (!(w > 0 && h > 0)) return std::nullopt;
  const double scale = std::min({1.0, kBoxWidthTwips / w, kBoxHeightTwips / h});
  Display display;
  display.width = w * scale;
  display.height = h * scale;
  display.left = kWidthTwips / 2 - display.width / 2;
  display.top = kBoxMiddleTwips - display.height / 2;
  return display;
}

// ---- the window

// Where a channel panel sits, which controls of the window it fills and
// which handlers its controls run.
struct Form::ChannelLayout {
  const char* title;
  int left;
  int sliderWidth;
  const char* lockCaption;
  Panel panel;
  int range;  // the sliders run from -range to range
  int tick;
  void (Form::*apply)();
  void (Form::*zero)();
  void (Form::*toolbarClick)(int);
  QGroupBox* Controls::*frame;
  QToolBar* Controls::*toolbar;
  std::array<QSlider* Controls::*, 3> sliders;
  QCheckBox* Controls::*lock;
};

Form::Form(frmImage::Form* main) : QDialog(main), main_(main) {
  setWindowTitle("Adjust Image");
  BuildMenus();
  // The panels' twip positions count from below the menu bar.
  auto* area = new QWidget(this);
  const int menuHeight = c_.menuBar->sizeHint().height();
  area->setGeometry(0, menuHeight, Px(kWidthTwips), Px(kHeightTwips) - menuHeight);
  BuildHiddenControls(area);
  BuildPicture(area);
  BuildChannelPanel(gamma_, area,
                    {"Gamma", 75, 1740, "Lock", kGamma, 50, 10, &Form::cmdApplyGamma_Click,
                     &Form::cmdGamma_Click, &Form::tbGamma_ButtonClick, &Controls::fraGamma,
                     &Controls::tbGamma,
                     {&Controls::sliGammaR, &Controls::sliGammaG, &Controls::sliGammaB},
                     &Controls::chkGamma});
  BuildChannelPanel(brightness_, area,
                    {"Brightness", 2505, 1350, " Lock ", kBrightness, 100, 20,
                     &Form::cmdApplyBrightness_Click, &Form::cmdBrightness_Click,
                     &Form::tbBrightness_ButtonClick, &Controls::fraBrightness,
                     &Controls::tbBrightness,
                     {&Controls::sliBrightnessR, &Controls::sliBrightnessG,
                      &Controls::sliBrightnessB},
                     &Controls::chkBrightness});
  BuildChannelPanel(contrast_, area,
                    {"Contrast", 4920, 1350, " Lock ", kContrast, 100, 20,
                     &Form::cmdApplyContrast_Click, &Form::cmdContrast_Click,
                     &Form::tbContrast_ButtonClick, &Controls::fraContrast, &Controls::tbContrast,
                     {&Controls::sliContrastR, &Controls::sliContrastG, &Controls::sliContrastB},
                     &Controls::chkContrast});
  BuildSaturationPanel(area);
  BuildMainPanel(area);
  Form_Load();
}

void Form::BuildMenus() {
  c_.menuBar = new QMenuBar(this);
  c_.mnuEdit = c_.menuBar->addMenu("Edit");
  c_.mnuUndo = c_.mnuEdit->addAction("Undo");
  c_.mnuUndo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
  c_.mnuRevert = c_.mnuEdit->addAction("Revert");
  c_.mnuFocus = c_.menuBar->addMenu("Focus");
  c_.mnuSoften = c_.mnuFocus->addAction("Soften");
  c_.mnuSharpen = c_.mnuFocus->addAction("Sharpen");
  c_.mnuEdges = c_.menuBar->addMenu("Edges");
  c_.mnuFindEdges = c_.mnuEdges->addAction("Find Edges");
  c_.mnuEnhanceEdges = c_.mnuEdges->addAction("Enhance Edges");
  c_.mnuRotate = c_.menuBar->addMenu("Rotate");
  c_.mnuLeft90 = c_.mnuRotate->addAction("Left 90 degrees");
  c_.mnu180 = c_.mnuRotate->addAction("180 degrees");
  c_.mnuRight90 = c_.mnuRotate->addAction("Right 90 degrees");
  c_.mnuFlip = c_.menuBar->addMenu("Flip");
  c_.mnuHorizontal = c_.mnuFlip->addAction("Horizontal");
  c_.mnuVertical = c_.mnuFlip->addAction("Vertical");
  c_.menuBar->setGeometry(0, 0, Px(kWidthTwips), c_.menuBar->sizeHint().height());

  const std::pair<QAction*, void (Form::*)()> handlers[] = {
      {c_.mnuUndo, &Form::mnuUndo_Click},         {c_.mnuRevert, &Form::mnuRevert_Click},
      {c_.mnuSoften, &Form::mnuSoften_Click},     {c_.mnuSharpen, &Form::mnuSharpen_Click},
      {c_.mnuFindEdges, &Form::mnuFindEdges_Click},
      {c_.mnuEnhanceEdges, &Form::mnuEnhanceEdges_Click},
      {c_.mnuLeft90, &Form::mnuLeft90_Click},     {c_.mnu180, &Form::mnu180_Click},
      {c_.mnuRight90, &Form::mnuRight90_Click},   {c_.mnuHorizontal, &Form::mnuHorizontal_Click},
      {c_.mnuVertical, &Form::mnuVertical_Click}};
  for (const auto& [action, handler] : handlers)
    connect(action, &QAction::triggered, this, handler);
}

void Form::BuildPicture(QWidget* area) {
  c_.PreviewImage = new QLabel(area);
  c_.PreviewImage->setScaledContents(true);
  Place(c_.PreviewImage, static_cast<int>((kWidthTwips - kBoxWidthTwips) / 2), 0,
        static_cast<int>(kBoxWidthTwips), static_cast<int>(kBoxHeightTwips));
  c_.imgPreview = new QLabel(area);
  Place(c_.imgPreview, 0, kHiddenTopTwips, 1, 1);
  c_.imgPreview->hide();
}

void Form::BuildChannelPanel(ChannelPanel& panel, QWidget* area, const ChannelLayout& layout) {
  auto* frame = new QGroupBox(layout.title, area);
  Place(frame, layout.left, kPanelTopTwips, kChannelPanelWidthTwips, kChannelPanelHeightTwips);
  c_.*layout.frame = frame;
  panel.panel = layout.panel;
  panel.apply = layout.apply;
  panel.zero = layout.zero;
  panel.lock = c_.*layout.lock;
  const std::pair<const char*, QColor> channels[] = {
      {"Red", Qt::red}, {"Green", QColor(0, 128, 0)}, {"Blue", Qt::blue}};
  const int tops[] = {360, 720, 1110};
  for (int i = 0; i < 3; ++i) {
    auto* label = new QLabel(channels[i].first, frame);
    QFont small = label->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);  // "Green" fits beside its slider
    label->setFont(small);
    QPalette colour = label->palette();
    colour.setColor(QPalette::WindowText, channels[i].second);
    label->setPalette(colour);
    Place(label, 60, tops[i], 480, 300);
    QSlider* slider = Slider(frame, -layout.range, layout.range, layout.tick,
                             [this, &panel] { (this->*panel.apply)(); });
    Place(slider, 540, tops[i], layout.sliderWidth, 300);
    connect(slider, &QSlider::valueChanged, this, [this, &panel, i] { Slider_Scroll(panel, i); });
    panel.sliders[i] = slider;
    c_.*layout.sliders[i] = slider;
  }
  const auto click = layout.toolbarClick;
  panel.toolbar = Toolbar(frame, {layout.lockCaption, "Zero", "Undo"},
                          {LockPicture(false), StandardPicture(this, QStyle::SP_DialogResetButton),
                           StandardPicture(this, QStyle::SP_ArrowBack)},
                          [this, click](int index) { (this->*click)(index); });
  Button(panel.toolbar, 1)->setCheckable(true);
  PlaceToolbar(panel.toolbar, 435, 1680, 1770, 840);
  c_.*layout.toolbar = panel.toolbar;
}

void Form::BuildSaturationPanel(QWidget* area) {
  c_.fraSaturation = new QGroupBox("Saturation", area);
  Place(c_.fraSaturation, 7350, kPanelTopTwips, 2025, 1545);
  c_.sliSaturation = Slider(c_.fraSaturation, -100, 100, 10, [this] { cmdApplySaturation_Click(); });
  Place(c_.sliSaturation, 60, 375, 1890, 315);
  c_.tbSaturation = Toolbar(c_.fraSaturation, {"Zero", "Apply", "Undo"},
                            {StandardPicture(this, QStyle::SP_DialogResetButton),
                             StandardPicture(this, QStyle::SP_DialogApplyButton),
                             StandardPicture(this, QStyle::SP_ArrowBack)},
                            [this](int index) { tbSaturation_ButtonClick(index); });
  c_.tbSaturation->setToolButtonStyle(Qt::ToolButtonTextOnly);
  PlaceToolbar(c_.tbSaturation, 255, 1080, 1590, 390);
}

void Form::BuildMainPanel(QWidget* area) {
  c_.fraMain = new QGroupBox(area);
  Place(c_.fraMain, 7350, 5235, 2040, 1035);
  c_.tbMain = Toolbar(c_.fraMain, {"Cancel", "Apply", "Revert"},
                      {StandardPicture(this, QStyle::SP_DialogCancelButton),
                       StandardPicture(this, QStyle::SP_DialogApplyButton),
                       StandardPicture(this, QStyle::SP_BrowserReload)},
                      [this](int index) { tbMain_ButtonClick(index); });
  PlaceToolbar(c_.tbMain, 120, 105, 1800, 840);
}

void Form::BuildHiddenControls(QWidget* area) {
  int left = 0;
  auto hidden = [&](QWidget* control) {
    Place(control, left, kHiddenTopTwips, 1200, 300);
    left += 1200;
    control->hide();
  };
  auto button = [&](const QString& caption, void (Form::*handler)()) {
    auto* command = new QPushButton(caption, area);
    command->setAutoDefault(false);
    connect(command, &QPushButton::clicked, this, handler);
    hidden(command);
    return command;
  };
  c_.cmdApplySaturation = button("Apply Saturation", &Form::cmdApplySaturation_Click);
  c_.cmdApplyGamma = button("Apply Gamma", &Form::cmdApplyGamma_Click);
  c_.cmdApplyBrightness = button("Apply Brightness", &Form::cmdApplyBrightness_Click);
  c_.cmdApplyContrast = button("Apply Contrast", &Form::cmdApplyContrast_Click);
  c_.cmdSaturation = button("Zero", &Form::cmdSaturation_Click);
  c_.cmdGamma = button("Zero", &Form::cmdGamma_Click);
  c_.cmdBrightness = button("Zero", &Form::cmdBrightness_Click);
  c_.cmdContrast = button("Zero", &Form::cmdContrast_Click);
  const char* undoCaptions[kPanelCount] = {"Undo Saturation", "Undo Gamma", "Undo Brightness",
                                           "Undo Contrast"};
  for (int i = 0; i < kPanelCount; ++i) {
    c_.cmdUndo[i] = new QPushButton(undoCaptions[i], area);
    c_.cmdUndo[i]->setAutoDefault(false);
    connect(c_.cmdUndo[i], &QPushButton::clicked, this, [this, i] { cmdUndo_Click(i); });
    hidden(c_.cmdUndo[i]);
  }
  for (QCheckBox** lock : {&c_.chkGamma, &c_.chkBrightness, &c_.chkContrast}) {
    *lock = new QCheckBox("Lock", area);
    hidden(*lock);
  }
}

void Form::Form_Load() {
  setFixedSize(Px(kWidthTwips), Px(kHeightTwips));
  SetUndoState(false, std::nullopt);
  for (ChannelPanel* panel : {&brightness_, &contrast_}) {
    Button(panel->toolbar, 1)->setChecked(true);
    Lock_ButtonClick(*panel);
  }
  Lock_ButtonClick(gamma_);  // released: open padlock, sliders alone
  FitTexts::Fit(this);
}

// ---- the working picture

void Form::SetWorkingPicture(const QPixmap& picture) { c_.imgPreview->setPixmap(picture); }

QPixmap Form::WorkingPicture() const { return c_.imgPreview->pixmap(); }

void Form::SetPreview() {
  const QPixmap picture = WorkingPicture();
  if (picture.isNull()) return;
  const auto display = FitDisplay(picture.width() * double(modMain::kTwipsPerPixel),
                                  picture.height() * double(modMain::kTwipsPerPixel));
  if (!display) return;
  c_.PreviewImage->setGeometry(Px(display->left), Px(display->top), Px(display->width),
                               Px(display->height));
  c_.PreviewImage->setPixmap(picture);
}

bool Form::LoadWorkingPicture(const QString& path) {
  // Read afresh rather than through the pixmap cache: the file was just
  // rewritten under the same name.
  QImage picture;
  if (!picture.load(path)) {
    AppDialogs::Message(this,
                        "The picture cannot be read from " + QDir::toNativeSeparators(path) + ".",
                        modMain::kAppTitle, AppDialogs::Buttons::Ok, AppDialogs::Icon::Warning);
    return false;
  }
  SetWorkingPicture(QPixmap::fromImage(picture));
  return true;
}

// ---- effects

void Form::EffectCycle(const std::function<void(QorHandle)>& operation,
                       std::optional<Panel> panel) {
  modMain::Guarded(this, [&] {
    // The undo file takes the picture before the operation; when either
    // file cannot be written, neither the picture nor the undo level moves.
    const QPixmap before = WorkingPicture();
    if (!WriteBitmap(this, before, PreviewFile()) || !WriteBitmap(this, before, UndoFile()))
      return;
    const QByteArray file = QFile::encodeName(PreviewFile());
    {
      LibQor::ScopedImage image;
      LibQor::QorImgLoadSingle(image.get(), file.constData(), 0);
      operation(image.get());
      LibQor::QorImgSaveSingle(image.get(), file.constData(), K_AUTO);
    }
    // What the library left in the file is the new picture, its own
    // result or, after a failure, the picture as it was.
    if (LoadWorkingPicture(PreviewFile())) SetPreview();
    SetUndoState(true, panel);
    if (panel) setFocus();
  });
}

void Form::SetUndoState(bool level, std::optional<Panel> panel) {
  c_.mnuUndo->setEnabled(level);
  QToolBar* const toolbars[kPanelCount] = {c_.tbSaturation, c_.tbGamma, c_.tbBrightness,
                                           c_.tbContrast};
  for (int i = 0; i < kPanelCount; ++i) {
    const bool own = level && panel == static_cast<Panel>(i);
    c_.cmdUndo[i]->setEnabled(own);
    Button(toolbars[i], 3)->setEnabled(own);
  }
}

void Form::cmdApplySaturation_Click() {
  EffectCycle([this](QorHandle image) { LibQor::QorImgSaturation(image, c_.sliSaturation->value()); },
              kSaturation);
}

void Form::cmdApplyBrightness_Click() {
  EffectCycle(
      [this](QorHandle image) {
        LibQor::QorImgBrightness(image, c_.sliBrightnessR->value(), c_.sliBrightnessG->value(),
                                 c_.sliBrightnessB->value());
      },
      kBrightness);
}

void Form::cmdApplyContrast_Click() {
  EffectCycle(
      [this](QorHandle image) {
        LibQor::QorImgContrast(image, c_.sliContrastR->value(), c_.sliContrastG->value(),
                               c_.sliContrastB->value());
      },
      kContrast);
}

void Form::cmdApplyGamma_Click() {
  // The sliders count tenths.
  EffectCycle(
      [this](QorHandle image) {
        LibQor::QorImgGamma(image, c_.sliGammaR->value() / 10.0, c_.sliGammaG->value() / 10.0,
                            c_.sliGammaB->value() / 10.0);
      },
      kGamma);
}

void Form::mnuRight90_Click() {
  EffectCycle([](QorHandle image) { LibQor::QorImgRotate(image, 1); }, std::nullopt);
}

void Form::mnu180_Click() {
  EffectCycle([](QorHandle image) { LibQor::QorImgRotate(image, 2); }, std::nullopt);
}

void Form::mnuLeft90_Click() {
  EffectCycle([](QorHandle image) { LibQor::QorImgRotate(image, 3); }, std::nullopt);
}

void Form::mnuHorizontal_Click() { EffectCycle(LibQor::QorImgFlipHorizontal, std::nullopt); }

void Form::mnuVertical_Click() { EffectCycle(LibQor::QorImgFlipVertical, std::nullopt); }

void Form::mnuSharpen_Click() { EffectCycle(LibQor::QorImgSharpen, std::nullopt); }

void Form::mnuSoften_Click() { EffectCycle(LibQor::QorImgSoften, std::nullopt); }

void Form::mnuFindEdges_Click() { EffectCycle(LibQor::QorImgFindEdges, std::nullopt); }

void Form::mnuEnhanceEdges_Click() { EffectCycle(LibQor::QorImgEdgeEnhance, std::nullopt); }

// ---- undo, revert, apply

void Form::mnuUndo_Click() {
  // An unreadable undo file keeps the picture and the level as they are.
  if (!LoadWorkingPicture(UndoFile())) return;
  SetPreview();
  SetUndoState(false, std::nullopt);
}

void Form::cmdUndo_Click(int) { mnuUndo_Click(); }

void Form::PanelUndo(Panel panel) {
  if (c_.cmdUndo[panel]->isEnabled()) cmdUndo_Click(panel);
}

void Form::mnuRevert_Click() {
  SetWorkingPicture(main_->PreviewPicture());
  SetPreview();
}

void Form::MainApply() {
  // A picture that cannot be written is not handed over: the window stays
  // open and the main window keeps its state.
  if (!WriteBitmap(this, WorkingPicture(), ModifiedFile())) return;
  main_->TakeEditedImage(ModifiedFile());
  accept();
}

void Form::tbMain_ButtonClick(int index) {
  switch (index) {
    case 1:
      reject();
      break;
    case 2:
      MainApply();
      break;
    case 3:
      mnuRevert_Click();
      break;
    default:
      break;
  }
}

// ---- panels: locks, zero buttons and toolbars

void Form::Lock_ButtonClick(ChannelPanel& panel) {
  QAction* lock = Button(panel.toolbar, 1);
  panel.lock->setChecked(lock->isChecked());
  lock->setIcon(LockPicture(lock->isChecked()));
}

void Form::Slider_Scroll(const ChannelPanel& panel, int moved) {
  if (!panel.lock->isChecked()) return;
  const int value = panel.sliders[moved]->value();
  for (int i = 0; i < 3; ++i)
    if (i != moved) panel.sliders[i]->setValue(value);
}

void Form::Zero(const ChannelPanel& panel) {
  for (QSlider* slider : panel.sliders) slider->setValue(0);
  setFocus();
}

void Form::cmdSaturation_Click() {
  c_.sliSaturation->setValue(0);
  setFocus();
}

void Form::cmdGamma_Click() { Zero(gamma_); }

void Form::cmdBrightness_Click() { Zero(brightness_); }

void Form::cmdContrast_Click() { Zero(contrast_); }

// The three channel toolbars share their buttons: lock, zero, undo.
void Form::ChannelToolbar(ChannelPanel& panel, int index) {
  if (index == 1) Lock_ButtonClick(panel);
  if (index == 2) (this->*panel.zero)();
  if (index == 3) PanelUndo(panel.panel);
}

void Form::tbGamma_ButtonClick(int index) { ChannelToolbar(gamma_, index); }

void Form::tbBrightness_ButtonClick(int index) { ChannelToolbar(brightness_, index); }

void Form::tbContrast_ButtonClick(int index) { ChannelToolbar(contrast_, index); }

void Form::tbSaturation_ButtonClick(int index) {
  if (index == 1) cmdSaturation_Click();
  if (index == 2) cmdApplySaturation_Click();
  if (index == 3) PanelUndo(kSaturation);
}

}  // namespace frmPreview
