#include "frmImage.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolBar>
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <vector>

#include "AppDialogs.h"
#include "Convert.h"
#include "DepthRules.h"
#include "FitTexts.h"
#include "HelpWindow.h"
#include "UpDown.h"
#include "frmAbout.h"
#include "frmPreview.h"
#include "frmFullScreen.h"
#include "frmSetThumbs.h"
#include "frmThumbs.h"
#include "modMain.h"

namespace frmImage {
namespace {

using modMain::IsNumeric;
using modMain::Px;
using modMain::Val;

constexpr int kWidthTwips = 9600;
constexpr int kHeightTwips = 7200;
constexpr int kSliderPanelTwips = 1005;
// Size boxes take whole pixels of any sensible picture.
constexpr int kMaxOutputSize = 32767;

// Geometry in twips, as the window's layout is written.
void Place(QWidget* widget, int left, int top, int width, int height) {
  widget->setGeometry(Px(left), Px(top), Px(width), Px(height));
}

QLabel* Caption(const QString& text, QWidget* parent, int left, int top,
                int width, int height = 240) {
  auto* label = new QLabel(text, parent);
  Place(label, left, top, width, height);
  return label;
}

QLabel* Value(QWidget* parent, int left, int top, int width) {
  auto* label = new QLabel(parent);
  label->setFrameShape(QFrame::StyledPanel);
  Place(label, left, top, width, 240);
  return label;
}

QByteArray LibraryName(const QString& path) { return QFile::encodeName(path); }

// Runs a handler when the watched widget gets one kind of event.
class EventHook : public QObject {
 public:
  using Handler = std::function<bool(QEvent*)>;
  EventHook(QObject* parent, Handler handler)
      : QObject(parent), handler_(std::move(handler)) {}
  bool eventFilter(QObject*, QEvent* event) override { return handler_(event); }

 private:
  Handler handler_;
};


// Just below a toolbar button, on the desktop.
QPoint UnderButton(const QToolBar* bar, QAction* action) {
  const QWidget* button = bar->widgetForAction(action);
  return button->mapToGlobal(QPoint(0, button->height()));
}

Form::FullScreenOpener& FullScreen() {
  static Form::FullScreenOpener opener;
  return opener;
}

}  // namespace

// ---- rules

QStringList OpenFilters() {
  const QString images =
      "*.bay *.bmp *.dib *.rle *.flc *.gif *.giff *.kwb *.jpg *.jpe *.jpeg "
      "*.jif *.jfif *.pcx *.png *.pnm *.ppm *.pgm *.ras *.sun *.rgb *.rgba "
      "*.bw *.sgi *.tga *.tif *.tiff *.xpm";
  const QString mpeg = "*.mpg *.mpe *.mpeg";
  return {"All Files (*.avi " + mpeg + " " + images + ")",
          "Image Files (" + images + ")", "AVI Files (*.avi)",
          "MPEG Files (" + mpeg + ")"};
}

SourceTexts DescribeSource(const LibQor::FileInfo& info) {
  if (info.frameCount == 0) return {};
  SourceTexts texts;
  texts.size = QString::number(static_cast<long long>(info.totalSize));
  texts.colorDepth = QString::number(info.bitsPerPixel);
  texts.format = QString::fromLocal8Bit(
      info.filter, static_cast<int>(qstrnlen(info.filter, sizeof info.filter)));
  texts.frameCount = QString::number(info.frameCount);
  texts.runTime = QString::number(std::nearbyint(info.videoDuration * 100) / 100, 'g', 15);
  texts.width = QString::number(info.width);
  texts.height = QString::number(info.height);
  return texts;
}

QString FrameCountCaption(double frameCount) {
  if (frameCount <= 1) return kSingleFrameText;
  return QString::number(frameCount, 'g', 15) + " Frame Movie";
}

Box FitBox(double w, double h, double backWidth, double backHeight) {
  Box box;
  if (w == 0 || h == 0) return box;
  constexpr double tpp = modMain::kTwipsPerPixel;
  if (h < w) {
    if (w * tpp > box.width) {
      box.height = box.width / (w / h);
      box.top = backHeight / 2 - box.height / 2;
    } else {
      box.width = w * tpp;
      box.height = box.width / (w / h);
      box.top = backHeight / 2 - box.height / 2;
      box.left = backWidth / 2 - box.width / 2;
    }
  } else {
    if (h * tpp > box.height) {
      box.width = box.height * (w / h);
      box.left = backWidth / 2 - box.width / 2;
    } else {
      box.height = h * tpp;
      box.width = box.height * (w / h);
      box.top = backHeight / 2 - box.height / 2;
      box.left = backWidth / 2 - box.width / 2;
    }
  }
  return box;
}

std::optional<QString> CoupledSide(const QString& typed, const QString& numerator,
                                   const QString& denominator) {
  if (!IsNumeric(typed) || !IsNumeric(numerator) || !IsNumeric(denominator))
    return std::nullopt;
  const double den = Val(denominator);
  if (den == 0) return std::nullopt;
  // The default rounding mode rounds halves to even.
  const double side = std::nearbyint(Val(typed) * Val(numerator) / den);
  if (!(std::fabs(side) <= std::numeric_limits<int32_t>::max())) return std::nullopt;
  return QString::number(static_cast<long long>(side));
}

// ---- the window

Form::Form() {
  setWindowTitle(modMain::kProductName);
  BuildToolbars();
  BuildSourceSide();
  BuildProperties();
  BuildOutputSide();
  BuildMenus();
  ConnectOutputCommands();
  ConnectEditor();
  ConnectViewerWindows();
  Form_Load();
}

void Form::BuildToolbars() {
  c_.Toolbar1 = new QToolBar(this);
  c_.Toolbar1->setToolButtonStyle(Qt::ToolButtonTextOnly);
  const QStringList captions = {"File...", "Options", "Source", "Target", "Viewer",
                                "Thumbnail", "Edit", "Convert", "Help..."};
  for (int i = 0; i < captions.size(); ++i) {
    QAction* button = c_.Toolbar1->addAction(captions[i]);
    // A tool button drops a trailing "..." unless told its caption.
    button->setIconText(captions[i]);
    const int index = i + 1;
    connect(button, &QAction::triggered, this, [this, index] { Toolbar1_ButtonClick(index); });
  }
  // "Options" has no command of its own.
  c_.Toolbar1->actions().at(1)->setEnabled(false);
  Place(c_.Toolbar1, 0, 0, kWidthTwips, 420);

  c_.Toolbar2 = new QToolBar(this);
  c_.Toolbar2->setToolButtonStyle(Qt::ToolButtonTextOnly);
  for (const char* caption : {"Thumbnail", "Edit Image", "Convert"})
    c_.Toolbar2->addAction(caption);
  Place(c_.Toolbar2, 120, 6690, 3960, 420);
}

void Form::BuildSourceSide() {
  c_.tbOpen = new QPushButton("Source File", this);
  Place(c_.tbOpen, 120, 510, 1260, 360);
  connect(c_.tbOpen, &QPushButton::clicked, this, [this] { tbOpen_ButtonClick(); });
  c_.txtSource = new FitTexts::ElidedLineEdit(this);
  Place(c_.txtSource, 1440, 525, 8040, 330);
  connect(c_.txtSource, &QLineEdit::textChanged, this, [this] { txtSource_Change(); });

  Caption("Preview", this, 120, 930, 3000);
  c_.picBack = new QFrame(this);
  c_.picBack->setAutoFillBackground(true);
  QPalette back = c_.picBack->palette();
  back.setColor(QPalette::Window, QColor(64, 64, 64));
  c_.picBack->setPalette(back);
  Place(c_.picBack, 120, 1200, kBoxWidthTwips, kBoxHeightTwips);
  c_.imgPreview = new QLabel(c_.picBack);
  c_.imgPreview->setScaledContents(true);
  c_.imgPreview->setToolTip("Double click to view");
  c_.imgPreview->installEventFilter(new EventHook(this, [this](QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
      imgPreview_DblClick();
      return true;
    }
    if (event->type() == QEvent::MouseButtonPress) {
      auto* mouse = static_cast<QMouseEvent*>(event);
      imgPreview_MouseDown(mouse->button(), mouse->globalPosition().toPoint());
    }
    return false;
  }));

  previewGroup_ = new QButtonGroup(this);
  const char* previewCaptions[] = {"Stretch to Fit Preview Window",
                                   "Fit and Maintain Aspect Ratio"};
  for (int i = 0; i < 2; ++i) {
    c_.optPreview[i] = new QRadioButton(previewCaptions[i], this);
    Place(c_.optPreview[i], 120, 3540 + i * 270, 3960, 270);
    previewGroup_->addButton(c_.optPreview[i], i);
  }
  c_.optPreview[0]->setChecked(true);
  connect(previewGroup_, &QButtonGroup::idClicked, this,
          [this](int index) { optPreview_Click(index); });

  c_.Label3 = Caption(QString(), this, 120, 4140, 3960);

  c_.picSlider = new QWidget(this);
  Place(c_.picSlider, 120, 4410, 3960, kSliderPanelTwips);
  c_.Slider1 = new QSlider(Qt::Horizontal, c_.picSlider);
  c_.Slider1->setTickPosition(QSlider::TicksBelow);
  Place(c_.Slider1, 0, 0, 3960, 420);
  c_.Slider1->installEventFilter(new EventHook(this, [this](QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) Slider1_MouseUp();
    return false;
  }));
  // Keys, the wheel and clicks beside the handle settle on a frame at once;
  // a drag settles when the mouse lets go (above).
  connect(c_.Slider1, &QSlider::valueChanged, this, [this] {
    ShowFrameNumber();
    if (!c_.Slider1->isSliderDown()) Slider1_MouseUp();
  });
  c_.lblFrame = Caption(QString(), c_.picSlider, 0, 450, 3960, 270);

  c_.picFrames = new QWidget(c_.picSlider);
  Place(c_.picFrames, 0, 0, 3960, kSliderPanelTwips);
  Caption("Start", c_.picFrames, 0, 30, 510, 300);
  c_.txtStart = new QLineEdit(c_.picFrames);
  Place(c_.txtStart, 540, 0, 750, 330);
  c_.udStart = new UpDown(c_.txtStart, c_.picFrames);
  Place(c_.udStart, 1290, 0, 240, 330);
  Caption("End", c_.picFrames, 1650, 30, 420, 300);
  c_.txtEnd = new QLineEdit(c_.picFrames);
  Place(c_.txtEnd, 2100, 0, 750, 330);
  c_.udEnd = new UpDown(c_.txtEnd, c_.picFrames);
  Place(c_.udEnd, 2850, 0, 240, 330);
  c_.cmdCancelSequence = new QPushButton("Cancel", c_.picFrames);
  Place(c_.cmdCancelSequence, 3150, 0, 810, 360);
  c_.cmdCancelSequence->hide();
  // The window's own child, so that a single conversion can show it too; it
  // stands under the range's boxes (placed once the window is fitted).
  c_.pbRange = new QProgressBar(this);
  c_.pbRange->setTextVisible(false);
  c_.pbRange->hide();

  movieGroup_ = new QButtonGroup(this);
  const char* movieCaptions[] = {"Select Frame", "Select Range"};
  for (int i = 0; i < 2; ++i) {
    c_.optMovie[i] = new QRadioButton(movieCaptions[i], this);
    Place(c_.optMovie[i], 120 + i * 1950, 5460, 1900, 270);
    movieGroup_->addButton(c_.optMovie[i], i);
  }
  c_.optMovie[0]->setChecked(true);
}

void Form::BuildProperties() {
  const int left = 4200;
  Caption("Format", this, left, 930, 1300);
  c_.lblFormat = Value(this, left + 1350, 930, 3930);
  Caption("Size", this, left, 1200, 1300);
  c_.lblSize = Value(this, left + 1350, 1200, 1800);
  Caption("bytes", this, left + 3210, 1200, 900);
  Caption("Color Depth (Bits per Pixel)", this, left, 1470, 2880);
  c_.lblColorDepth = Value(this, left + 2910, 1470, 450);
  c_.lblBPPDesc = Caption(QString(), this, left + 3390, 1470, 1890);
  Caption("Frames", this, left, 1740, 1300);
  c_.lblFrameCount = Value(this, left + 1350, 1740, 750);
  Caption("Run Time:", this, left + 2250, 1740, 900);
  c_.lblRunTime = Value(this, left + 3150, 1740, 750);
  Caption("seconds", this, left + 3930, 1740, 900);
  Caption("Width", this, left, 2010, 1300);
  c_.lblWidth = Value(this, left + 1350, 2010, 750);
  Caption("Height", this, left + 2250, 2010, 900);
  c_.lblHeight = Value(this, left + 3150, 2010, 750);
  QLabel* note = Caption(
      "(Frames and run time apply to movies. Run time is 0 for single frame images.)",
      this, left, 2280, 5280, 420);
  note->setWordWrap(true);
  QFont small = note->font();
  small.setPointSizeF(small.pointSizeF() * 0.85);
  note->setFont(small);
}

void Form::BuildOutputSide() {
  const int left = 4200;
  Caption("Target File Format:", this, left, 2760, 3000);
  static const std::array<const char*, 25> kFormats = {
      nullptr, "BMP", "DIB",  "RLE", "KWB", "JPG", "JPE", "JPEG", "JIF",
      "JFIF",  "PCX", "PNG",  "PNM", "PPM", "PGM", "RAS", nullptr, "RGB",
      "RGBA",  "BW",  "SGI",  "TGA", "TIF", "TIFF", "XPM"};
  formatGroup_ = new QButtonGroup(this);
  int slot = 0;
  for (int index = 1; index < 25; ++index) {
    if (!kFormats[index]) continue;
    auto* option = new QRadioButton(kFormats[index], this);
    Place(option, left + (slot % 6) * 880, 3030 + (slot / 6) * 270, 880, 270);
    formatGroup_->addButton(option, index);
    c_.optFormat[index] = option;
    if (!modMain::LibraryWritesExtension(kFormats[index])) {
      option->setEnabled(false);
      option->setToolTip(modMain::NoWriterTip(kFormats[index]));
    }
    ++slot;
  }
  c_.optFormat[1]->setChecked(true);

  c_.tbSave = new QPushButton("Target File", this);
  Place(c_.tbSave, left, 4140, 1260, 360);
  c_.txtOutput = new FitTexts::ElidedLineEdit(this);
  Place(c_.txtOutput, left + 1320, 4155, 3960, 330);

  Caption("Color Depth (Bits per Pixel)", this, left, 4590, 2880, 300);
  c_.cboDepth = new QComboBox(this);
  Place(c_.cboDepth, left + 2910, 4560, 2370, 330);
  connect(c_.cboDepth, &QComboBox::currentIndexChanged, this, [this] { cboDepth_Change(); });

  ditherGroup_ = new QButtonGroup(this);
  const char* ditherCaptions[] = {"No Dithering", "Light Dithering", "Heavy Dithering"};
  for (int i = 0; i < 3; ++i) {
    c_.optDithering[i] = new QRadioButton(ditherCaptions[i], this);
    Place(c_.optDithering[i], left + i * 1760, 4950, 1760, 270);
    ditherGroup_->addButton(c_.optDithering[i], i);
  }
  c_.optDithering[0]->setChecked(true);
  Caption("(Dithering only applies to 8 bit images.)", this, left, 5220, 5280);

  Caption("Embedded Text", this, left, 5520, 1560, 300);
  c_.txtCaption = new QLineEdit(this);
  Place(c_.txtCaption, left + 1590, 5490, 3690, 330);

  Caption("Width", this, left, 5940, 600, 300);
  c_.txtOutWidth = new QLineEdit(this);
  Place(c_.txtOutWidth, left + 630, 5910, 900, 330);
  c_.udWidth = new UpDown(c_.txtOutWidth, this);
  Place(c_.udWidth, left + 1530, 5910, 240, 330);
  Caption("Height", this, left + 1920, 5940, 660, 300);
  c_.txtOutHeight = new QLineEdit(this);
  Place(c_.txtOutHeight, left + 2610, 5910, 900, 330);
  c_.udHeight = new UpDown(c_.txtOutHeight, this);
  Place(c_.udHeight, left + 3510, 5910, 240, 330);
  for (UpDown* upDown : {c_.udWidth, c_.udHeight}) upDown->setRange(1, kMaxOutputSize);
  connect(c_.txtOutWidth, &QLineEdit::textChanged, this, [this] { txtOutWidth_Change(); });
  connect(c_.txtOutHeight, &QLineEdit::textChanged, this, [this] { txtOutHeight_Change(); });

  c_.chkRatio = new QCheckBox("Keep Aspect Ratio", this);
  c_.chkRatio->setChecked(true);
  Place(c_.chkRatio, left, 6330, 3000, 300);

  c_.txtThumbPath = new QLineEdit(this);
  c_.txtThumbPath->hide();
}

void Form::BuildMenus() {
  c_.mnuHiddenFile = new QMenu("File", this);
  c_.mnuOpen = c_.mnuHiddenFile->addAction("Load Source File");
  c_.mnuSetTarget = c_.mnuHiddenFile->addAction("Set Target File");
  c_.mnuViewThumbs = c_.mnuHiddenFile->addAction("Image Viewer");
  c_.mnuThumbnail = c_.mnuHiddenFile->addAction("Create Thumbnail");
  c_.mnuAdjust = c_.mnuHiddenFile->addMenu("Editing");
  c_.mnuEdit = c_.mnuAdjust->addAction("Edit Image");
  c_.mnuUndo = c_.mnuAdjust->addAction("Undo Editing");
  c_.mnuConvert = c_.mnuHiddenFile->addAction("Convert Image");
  c_.mnuExit = c_.mnuHiddenFile->addAction("Exit");
  c_.mnuHiddenHelp = new QMenu("Help", this);
  c_.mnuContents = c_.mnuHiddenHelp->addAction("Contents");
  c_.mnuAbout = c_.mnuHiddenHelp->addAction("About...");

  connect(c_.mnuOpen, &QAction::triggered, this, [this] { mnuOpen_Click(); });
  connect(c_.mnuExit, &QAction::triggered, this, [this] { close(); });
  connect(c_.mnuContents, &QAction::triggered, this, [this] { mnuContents_Click(); });
  connect(c_.mnuAbout, &QAction::triggered, this, [this] { mnuAbout_Click(); });
}

void Form::Form_Load() {
  setFixedSize(Px(kWidthTwips), Px(kHeightTwips));
  // A window of fixed size offers no maximize button.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  c_.cboDepth->addItems(DepthRules::Items());
  c_.cboDepth->setCurrentIndex(0);
  for (QRadioButton* option : c_.optDithering) option->setEnabled(false);
  c_.picFrames->move(c_.picFrames->x(), c_.Slider1->y());
  c_.picSlider->resize(c_.picSlider->width(), Px(kSliderPanelTwips));
  c_.picFrames->hide();  // "Select Frame" is chosen
  c_.mnuUndo->setEnabled(false);
  c_.mnuEdit->setEnabled(false);
  ResetBox();
  ShowSingleFrameSlider();
  SetSizeControlsEnabled(false);
  FitTexts::Fit(this);
  c_.pbRange->setGeometry(c_.picSlider->x(), c_.picSlider->y() + Px(480), c_.picSlider->width(),
                          Px(240));
  view_ = std::make_unique<MainView>(*this);
  modMain::CentreOn(this, modMain::ScreenOf(this));
  modMain::LoadStartupSettings();
}

void Form::closeEvent(QCloseEvent* event) {
  if (Convert::SequenceRunning()) {
    // The range stops after the frame in hand; the window closes then.
    modMain::CancelSequence = true;
    closeAfterRange_ = true;
    event->ignore();
    return;
  }
  // Closing the main window ends the program with every other window.
  for (QWidget* window : QApplication::topLevelWidgets())
    if (window != this && window->isVisible()) window->close();
  event->accept();
  QCoreApplication::quit();
}

// ---- opening a source

void Form::mnuOpen_Click() {
  modMain::Guarded(this, [this] {
    const QString name = AppDialogs::OpenFile(this, {"Open", QString(), OpenFilters()});
    if (name.isEmpty()) return;
    struct InitScope {
      Form* form;
      ~InitScope() { form->bInit = false; }
    } scope{this};
    bInit = true;
    c_.txtSource->setText(name);
    repaint();
    ClearEditMark();
    ShowPreview(name);
    bInit = false;
    ProposeOutput(modMain::DefaultPath);
  });
}

void Form::tbOpen_ButtonClick() {
  c_.txtSource->clear();
  c_.optPreview[0]->setChecked(true);
  optPreview_Click(0);
  c_.optMovie[0]->setChecked(true);
  optMovie_Click(0);
  mnuOpen_Click();
}

void Form::ShowPreview(const QString& path) {
  if (path.isEmpty() || !QFileInfo(path).isFile()) {
    RemovePicture();
    return;
  }
  const QString frameFailure = LoadPreviewFrame(path, 1);
  LibQor::FileInfo info{};
  LibQor::QorGetFileInfo(LibraryName(path).constData(), 0, &info, nullptr, nullptr);
  const QString infoFailure = Convert::LastFailureText();
  ShowProperties(info);
  // A file described without frames has nothing to show or convert.
  if (infoFailure.isEmpty() && info.frameCount == 0)
    sourceFailure_ = Convert::kNoPictures;
  else if (HasPicture())
    sourceFailure_.clear();
  else
    sourceFailure_ = QString("The source file cannot be read.") +
                     (!infoFailure.isEmpty()    ? "\n" + infoFailure
                      : !frameFailure.isEmpty() ? "\n" + frameFailure
                                                : QString());
  if (sourceFailure_.isEmpty()) return;
  // Not a "Single Frame Image": the user is told what is wrong instead.
  c_.Label3->clear();
  AppDialogs::Message(this, sourceFailure_, modMain::kAppTitle, AppDialogs::Buttons::Ok,
                      AppDialogs::Icon::Critical);
}

QString Form::LoadPreviewFrame(const QString& path, int frame) {
  const QString previewFile = modMain::AppDir() + "/temp_p.bmp";
  LibQor::ScopedImage image;
  QImage picture;
  QString failure;
  // An unreadable source must not leave the previous file's picture on show:
  // later commands work on what the preview shows.
  if (image.get() &&
      LibQor::QorImgLoadSingle(image.get(), LibraryName(path).constData(), frame) == 0 &&
      LibQor::QorImgSaveSingle(image.get(), LibraryName(previewFile).constData(), 1) == 0)
    // Read afresh: the pixmap cache would give back the previous frame when
    // the file was rewritten within the same second at the same size.
    picture.load(previewFile);
  else
    failure = Convert::LastFailureText();
  if (picture.isNull())
    RemovePicture();
  else
    c_.imgPreview->setPixmap(QPixmap::fromImage(picture));
  return failure;
}

void Form::ShowProperties(const LibQor::FileInfo& info) {
  const SourceTexts texts = DescribeSource(info);
  c_.lblSize->setText(texts.size);
  c_.lblColorDepth->setText(texts.colorDepth);
  FitTexts::SetElidedText(c_.lblFormat, texts.format);
  c_.lblFrameCount->setText(texts.frameCount);
  lblFrameCount_Change();
  c_.lblRunTime->setText(texts.runTime);
  sourceWidth_ = texts.width;
  sourceHeight_ = texts.height;
  ShowPictureSize(texts.width, texts.height);
  const DepthRules::Texts depth = DepthRules::For(Val(texts.colorDepth));
  // A source without frames leaves the depth list as it is: an empty one
  // would convert the next source at 24 bits unasked.
  if (info.frameCount != 0) SetDepthText(depth.depth);
  c_.lblBPPDesc->setText(depth.description);
  SetSizeControlsEnabled(info.frameCount != 0);
}

void Form::ShowPictureSize(const QString& width, const QString& height) {
  // Both labels first: a size box must not be coupled to half a new size.
  const bool wasInit = bInit;
  bInit = true;
  c_.lblHeight->setText(height);
  c_.lblWidth->setText(width);
  lblHeight_Change();
  lblWidth_Change();
  bInit = wasInit;
}

void Form::SetDepthText(const QString& depth) {
  c_.cboDepth->setCurrentIndex(c_.cboDepth->findText(depth));
}

void Form::SetSizeControlsEnabled(bool enabled) {
  for (QWidget* control : {static_cast<QWidget*>(c_.txtOutHeight),
                           static_cast<QWidget*>(c_.udHeight),
                           static_cast<QWidget*>(c_.txtOutWidth),
                           static_cast<QWidget*>(c_.udWidth)})
    control->setEnabled(enabled);
}

bool Form::HasPicture() const {
  return !c_.imgPreview->pixmap().isNull();
}

void Form::RemovePicture() { c_.imgPreview->setPixmap(QPixmap()); }

void Form::ClearEditMark() {
  // The source's own size comes back with the source.
  if (modMain::ImageEdited) ShowPictureSize(sourceWidth_, sourceHeight_);
  modMain::ImageEdited = false;
  modMain::EditedImagePath.clear();
  c_.mnuUndo->setEnabled(false);
}

void Form::txtSource_Change() {
  c_.txtSource->setToolTip(c_.txtSource->text());
  c_.mnuEdit->setEnabled(!c_.txtSource->text().isEmpty());
}

void Form::lblFrameCount_Change() {
  const double count = Val(c_.lblFrameCount->text());
  if (count <= 1) {
    ShowSingleFrameSlider();
  } else {
    const int frames = static_cast<int>(std::min<double>(count, std::numeric_limits<int>::max()));
    c_.optMovie[0]->setChecked(true);
    optMovie_Click(0);
    c_.txtEnd->setText(QString::number(frames));
    c_.txtStart->setText("1");
    c_.udStart->setRange(1, frames);
    c_.udEnd->setRange(1, frames);
    SetSliderQuietly(1, frames, 1);
    c_.Slider1->setEnabled(true);
    c_.picSlider->show();
  }
  c_.Label3->setText(FrameCountCaption(count));
}

void Form::ShowSingleFrameSlider() {
  c_.Slider1->setEnabled(false);
  SetSliderQuietly(1, 10, 1);
  c_.picSlider->hide();
}

void Form::SetSliderQuietly(int minimum, int maximum, int value) {
  {
    const QSignalBlocker quiet(c_.Slider1);
    c_.Slider1->setRange(minimum, maximum);
    c_.Slider1->setValue(value);
  }
  ShowFrameNumber();
}

void Form::ShowFrameNumber() {
  c_.lblFrame->setText("Frame " + QString::number(c_.Slider1->value()) + " of " +
                       QString::number(c_.Slider1->maximum()));
}

void Form::lblWidth_Change() {
  c_.txtOutWidth->setText(QString::number(Val(c_.lblWidth->text()), 'g', 15));
}

void Form::lblHeight_Change() {
  c_.txtOutHeight->setText(QString::number(Val(c_.lblHeight->text()), 'g', 15));
}

void Form::txtOutHeight_Change() {
  CoupleSizeBoxes(c_.txtOutHeight, c_.txtOutWidth, c_.lblWidth, c_.lblHeight,
                  writingWidth_, writingHeight_);
}

void Form::txtOutWidth_Change() {
  CoupleSizeBoxes(c_.txtOutWidth, c_.txtOutHeight, c_.lblHeight, c_.lblWidth,
                  writingHeight_, writingWidth_);
}

void Form::CoupleSizeBoxes(QLineEdit* typed, QLineEdit* other, QLabel* numerator,
                           QLabel* denominator, bool& ownFlag, bool otherFlag) {
  if (bInit || !c_.chkRatio->isChecked() || otherFlag) return;
  const auto side = CoupledSide(typed->text(), numerator->text(), denominator->text());
  if (!side || !IsNumeric(other->text())) return;
  ownFlag = true;
  other->setText(*side);
  ownFlag = false;
}

void Form::cboDepth_Change() {
  const bool palette = c_.cboDepth->currentText() == DepthRules::PaletteItem();
  for (QRadioButton* option : c_.optDithering) option->setEnabled(palette);
}

// ---- frame slider and preview layouts

void Form::Slider1_MouseUp() {
  modMain::Guarded(this, [this] {
    const QString source = c_.txtSource->text();
    if (source.isEmpty() || !QFileInfo(source).isFile()) return;
    RemovePicture();
    LoadPreviewFrame(source, c_.Slider1->value());
    ClearEditMark();
  });
}

void Form::ResetBox() {
  c_.imgPreview->setGeometry(0, 0, Px(kBoxWidthTwips), Px(kBoxHeightTwips));
}

void Form::optPreview_Click(int index) {
  if (c_.txtSource->text().isEmpty()) {
    RemovePicture();
    ResetBox();
    return;
  }
  ResetBox();
  if (index != 1) return;
  const Box box = FitBox(Val(c_.lblWidth->text()), Val(c_.lblHeight->text()),
                         kBoxWidthTwips, kBoxHeightTwips);
  c_.imgPreview->setGeometry(Px(box.left), Px(box.top), Px(box.width), Px(box.height));
}

// ---- mouse on the preview, toolbar and menus

void Form::SetFullScreenOpener(FullScreenOpener opener) {
  FullScreen() = std::move(opener);
}

void Form::imgPreview_DblClick() {
  if (HasPicture() && FullScreen()) FullScreen()(this, c_.imgPreview->pixmap());
}

void Form::imgPreview_MouseDown(Qt::MouseButton button, const QPoint& globalPos) {
  if (button != Qt::RightButton) return;
  c_.mnuExit->setVisible(false);
  c_.mnuHiddenFile->popup(globalPos);
}

void Form::Toolbar1_ButtonClick(int index) {
  const QPoint belowToolbar = mapToGlobal(QPoint(0, c_.Toolbar1->geometry().bottom() + 1));
  switch (index) {
    case 1:
      c_.mnuExit->setVisible(true);
      c_.mnuHiddenFile->popup(belowToolbar);
      break;
    case 3:
      mnuOpen_Click();
      break;
    case 4:
      mnuSetTarget_Click();
      break;
    case 5:
      OpenWindow(Window::ImageViewer);
      break;
    case 6:
      CreateThumbnail();
      break;
    case 7:
      c_.mnuUndo->setEnabled(false);
      EditImage();
      break;
    case 8:
      RunConversion();
      break;
    case 9:
      c_.mnuHiddenHelp->popup(UnderButton(c_.Toolbar1, c_.Toolbar1->actions().at(8)));
      break;
    default:
      break;
  }
}

void Form::mnuContents_Click() { HelpWindow::Show(this, HelpWindow::ContentsPage()); }

void Form::mnuAbout_Click() {
  modMain::ExecInFront(new frmAbout::Form(this));
}

// ---- output side and commands (conversion) ----

namespace {

// Format options by the extension that chooses them.
struct Ending {
  const char* extension;
  int format;
};
constexpr Ending kEndings[] = {
    {"bmp", 1},   {"dib", 2},   {"rle", 3},   {"kwb", 4},  {"jpg", 5},  {"jpe", 6},
    {"jpeg", 7},  {"jif", 8},   {"jfif", 9},  {"pcx", 10}, {"png", 11}, {"pnm", 12},
    {"ppm", 13},  {"pgm", 14},  {"ras", 15},  {"rgb", 17}, {"rgba", 18}, {"bw", 19},
    {"sgi", 20},  {"tga", 21},  {"tif", 22},  {"tiff", 23}, {"xpm", 24}};

std::map<Form::Window, Form::WindowOpener>& Openers() {
  static std::map<Form::Window, Form::WindowOpener> openers;
  return openers;
}

}  // namespace

int FormatForName(const QString& name) {
  const QString lower = name.toLower();
  // The "." belongs to the ending, so a name that merely ends in letters
  // such as "stiff" is not given an extension while it is typed.
  for (const Ending& ending : kEndings)
    if (lower.endsWith(QString(".") + ending.extension)) return ending.format;
  return 0;
}

QStringList SaveFilters(int format) {
  const QString first = format == 2   ? "Windows Bitmap (*.dib)"
                        : format == 3 ? "Windows Bitmap (*.rle)"
                                      : "Windows Bitmap (*.bmp)";
  return {first, "Windows Bitmaps (*.bmp *.dib *.rle)"};
}

QString ProposedExtension(int format) {
  return format == 2 ? "dib" : format == 3 ? "rle" : "bmp";
}

void Form::SetWindowOpener(Window window, WindowOpener opener) {
  Openers()[window] = std::move(opener);
}

void Form::OpenWindow(Window window) {
  const auto opener = Openers().find(window);
  if (opener != Openers().end() && opener->second) opener->second(this);
}

void Form::ConnectOutputCommands() {
  connect(c_.mnuSetTarget, &QAction::triggered, this, [this] { mnuSetTarget_Click(); });
  connect(c_.tbSave, &QPushButton::clicked, this, [this] { mnuSetTarget_Click(); });
  connect(c_.mnuViewThumbs, &QAction::triggered, this, [this] { OpenWindow(Window::ImageViewer); });
  connect(c_.mnuThumbnail, &QAction::triggered, this, [this] { CreateThumbnail(); });
  connect(c_.mnuEdit, &QAction::triggered, this, [this] { mnuEdit_Click(); });
  connect(c_.mnuUndo, &QAction::triggered, this, [this] { mnuUndo_Click(); });
  connect(c_.mnuConvert, &QAction::triggered, this, [this] { RunConversion(); });
  const QList<QAction*> buttons = c_.Toolbar2->actions();
  for (int i = 0; i < buttons.size(); ++i)
    connect(buttons[i], &QAction::triggered, this, [this, i] { Toolbar2_ButtonClick(i + 1); });
  connect(c_.cmdCancelSequence, &QPushButton::clicked, this, [this] { cmdCancelSequence_Click(); });
  connect(formatGroup_, &QButtonGroup::idClicked, this, [this](int index) { optFormat_Click(index); });
  connect(movieGroup_, &QButtonGroup::idClicked, this, [this](int index) { optMovie_Click(index); });
  connect(c_.txtOutput, &QLineEdit::textChanged, this, [this] { txtOutput_Change(); });
  connect(c_.cboDepth, &QComboBox::activated, this, [this] { cboDepth_Change(); });
  // Only the arrow keys move through the depth list; a letter's search,
  // Home, End and the page keys leave the text as it is.
  c_.cboDepth->installEventFilter(new EventHook(this, [](QEvent* event) {
    return event->type() == QEvent::KeyPress &&
           modMain::LocksDepthText(*static_cast<QKeyEvent*>(event));
  }));
}

void Form::optFormat_Click(int index) {
  const QString current = c_.txtOutput->text();
  QString changed = modMain::ChangeExtension(current, c_.optFormat[index]->text());
  // A proposal keeps pointing at a free name: its counter would otherwise
  // name the previous output of that format.
  if (!current.isEmpty() && current == proposedOutput_) {
    if (const auto renumbered = RenumberedProposal(current, c_.optFormat[index]->text()))
      changed = *renumbered;
    proposedOutput_ = changed;
  }
  if (changed != current) c_.txtOutput->setText(changed);
}

void Form::ProposeOutput(const QString& folder) {
  proposedOutput_ = ConvertInputName(folder);
  c_.txtOutput->setText(proposedOutput_);
}

void Form::txtOutput_Change() {
  const int format = FormatForName(c_.txtOutput->text());
  if (format == 0) return;
  c_.optFormat[format]->setChecked(true);
  optFormat_Click(format);
}

namespace {

// folder/base(n).extension with the first n that names no file.
QString FirstFreeProposal(const QString& folder, const QString& base, const QString& extension) {
  for (long long n = 1;; ++n) {
    const QString candidate =
        folder + "/" + base + "(" + QString::number(n) + ")." + extension;
    if (!QFileInfo::exists(candidate)) return candidate;
  }
}

}  // namespace

std::optional<QString> RenumberedProposal(const QString& proposal, const QString& extension) {
  static const QRegularExpression kProposal(R"(^(.*)\(\d+\)\.[^./]*$)");
  const QFileInfo file(proposal);
  const QRegularExpressionMatch match = kProposal.match(file.fileName());
  if (!match.hasMatch()) return std::nullopt;
  QString ext = extension.startsWith('.') ? extension.mid(1) : extension;
  return FirstFreeProposal(file.path(), match.captured(1), ext.toLower());
}

QString Form::ConvertInputName(const QString& folder) const {
  const QString source = c_.txtSource->text();
  if (source.isEmpty() || !QFileInfo(source).isFile()) return QString();
  const QString extension = ProposedExtension(formatGroup_->checkedId());
  const QString fileName = QFileInfo(source.trimmed()).fileName();
  const qsizetype dot = fileName.lastIndexOf('.');
  // A name without an extension is its own base.
  const QString base = dot > 0 ? fileName.left(dot) : fileName;
  return FirstFreeProposal(folder, base, extension);
}

QString Form::GetSaveFileName() {
  const QString name = AppDialogs::SaveFile(
      this, {"Set Target File", QString(), SaveFilters(formatGroup_->checkedId())});
  if (name.isEmpty()) return QString();
  lblWidth_Change();
  lblHeight_Change();
  return name;
}

void Form::mnuSetTarget_Click() { c_.txtOutput->setText(GetSaveFileName()); }

void Form::cmdCancelSequence_Click() { modMain::CancelSequence = true; }

void Form::optMovie_Click(int index) {
  c_.cmdCancelSequence->hide();
  const bool frame = index == 0;
  if (!frame) {
    lblHeight_Change();
    lblWidth_Change();
  }
  for (QWidget* control : {static_cast<QWidget*>(c_.txtOutWidth),
                           static_cast<QWidget*>(c_.txtOutHeight),
                           static_cast<QWidget*>(c_.chkRatio),
                           static_cast<QWidget*>(c_.txtCaption),
                           static_cast<QWidget*>(c_.cboDepth)})
    control->setEnabled(frame);
  if (frame)
    cboDepth_Change();
  else
    for (QRadioButton* option : c_.optDithering) option->setEnabled(false);
  c_.Slider1->setVisible(frame);
  c_.lblFrame->setVisible(frame);  // the slider's own number; the range panel takes its place
  c_.picFrames->setVisible(!frame);
}

void Form::Refuse(const QString& text, QWidget* box) {
  AppDialogs::Message(this, text, modMain::kAppTitle);
  box->setFocus();
}

bool Form::SourceIsValid() {
  if (c_.txtSource->text().isEmpty()) {
    Refuse("Please select your source file.", c_.txtSource);
    return false;
  }
  if (!QFileInfo(c_.txtSource->text()).isFile()) {
    Refuse("Your source file is invalid.", c_.txtSource);
    return false;
  }
  return true;
}

bool Form::RangeIsValid() {
  const QString start = c_.txtStart->text(), end = c_.txtEnd->text();
  if (!IsNumeric(start) || !IsNumeric(end)) {
    Refuse("Please enter numeric values for start and end frames.", c_.txtStart);
    return false;
  }
  if (Val(end) < Val(start)) {
    Refuse("The ending frame must be higher than the start frame.", c_.txtStart);
    return false;
  }
  const QString outside = "Please enter a number between 1 and " + c_.lblFrameCount->text() + ",";
  if (Val(start) < 1) {
    Refuse(outside, c_.txtStart);
    return false;
  }
  if (Val(c_.lblFrameCount->text()) < Val(end)) {
    Refuse(outside, c_.txtEnd);
    return false;
  }
  return true;
}

void Form::RunConversion() {
  modMain::Guarded(this, [this] {
    if (!SourceIsValid()) return;
    if (c_.txtOutput->text().isEmpty()) {
      Refuse("Please set your target file name and path.", c_.txtOutput);
      return;
    }
    if (!sourceFailure_.isEmpty()) {
      Refuse(sourceFailure_, c_.txtSource);
      return;
    }
    const QString count = c_.lblFrameCount->text();
    if (c_.optMovie[1]->isChecked() && IsNumeric(count) && Val(count) >= 2) {
      if (RangeIsValid()) Convert::ConvertSequence(ConversionRequest(), ConversionView());
      if (closeAfterRange_) {
        closeAfterRange_ = false;
        close();
      }
      return;
    }
    if (modMain::ImageEdited)
      Convert::ConvertFile(modMain::EditedImagePath, ConversionRequest(), ConversionView());
    else
      Convert::ConvertFrame(ConversionRequest(), ConversionView());
  });
}

// ---- the conversion drivers' view of the window

class Form::MainView : public Convert::View {
 public:
  explicit MainView(Form& form) : form_(form), c_(form.c_) {}

  QWidget* Window() override { return &form_; }

  void Lock(Work work) override {
    work_ = work;
    keptCaption_ = c_.Label3->text();
    c_.pbRange->setRange(1, 100);
    if (work == Work::Range) {
      form_.setCursor(Qt::BusyCursor);
      c_.cmdCancelSequence->setVisible(true);
      LockCommands(true);
      keptPicture_ = c_.imgPreview->pixmap();
    } else {
      form_.setCursor(Qt::WaitCursor);
      // The bar stands where the chosen frame's number is shown.
      frameNumberHidden_ = c_.lblFrame->isHidden();
      c_.lblFrame->hide();
    }
  }

  void Unlock() override {
    c_.pbRange->setValue(c_.pbRange->minimum());
    c_.pbRange->hide();
    form_.unsetCursor();
    if (work_ == Work::Range) {
      c_.cmdCancelSequence->setVisible(false);
      LockCommands(false);
      c_.imgPreview->setPixmap(keptPicture_);
    } else {
      c_.lblFrame->setHidden(frameNumberHidden_);
    }
    c_.Label3->setText(keptCaption_);
  }

  void ShowProgress(const QString& text, int percent) override {
    c_.Label3->setText(text);
    c_.pbRange->setValue(std::clamp(percent, c_.pbRange->minimum(), c_.pbRange->maximum()));
    c_.pbRange->setVisible(true);
    // A single conversion keeps the window thread until it ends: what it
    // reports is painted at once.
    c_.Label3->repaint();
    c_.pbRange->repaint();
  }

  void ShowFrame(const QString& file) override {
    // A format the toolkit cannot show leaves the preview as it was.
    const QImage written(file);
    if (!written.isNull()) c_.imgPreview->setPixmap(QPixmap::fromImage(written));
  }

  AppDialogs::Answer Message(const QString& text, AppDialogs::Buttons buttons,
                             AppDialogs::Icon icon) override {
    return AppDialogs::Message(&form_, text, modMain::kAppTitle, buttons, icon);
  }

 private:
  // Every command, and what names the source, output and frames; the
  // preview keeps showing each frame but stops taking the mouse (no
  // full-screen view, no popup menu meanwhile).
  void LockCommands(bool locked) {
    std::vector<QWidget*> controls = {
        c_.Toolbar1,    c_.Toolbar2,  c_.optPreview[0], c_.optPreview[1], c_.optMovie[0],
        c_.optMovie[1], c_.txtStart,  c_.txtEnd,        c_.udStart,       c_.udEnd,
        c_.tbOpen,      c_.txtSource, c_.tbSave,        c_.txtOutput};
    for (int format = 0; format < int(c_.optFormat.size()); ++format)
      if (c_.optFormat[format] && modMain::LibraryWritesExtension(c_.optFormat[format]->text()))
        controls.push_back(c_.optFormat[format]);
    for (QWidget* control : controls) control->setEnabled(!locked);
    c_.imgPreview->setAttribute(Qt::WA_TransparentForMouseEvents, locked);
    c_.mnuHiddenFile->setEnabled(!locked);
    c_.mnuHiddenHelp->setEnabled(!locked);
  }

  Form& form_;
  const Controls& c_;
  Work work_ = Work::Conversion;
  QString keptCaption_;
  QPixmap keptPicture_;
  bool frameNumberHidden_ = false;
};

Form::~Form() = default;

Convert::Target TargetOf(const QLineEdit* output, const QLineEdit* width,
                         const QLineEdit* height, const QComboBox* depth,
                         const std::array<QRadioButton*, 3>& dithering) {
  Convert::Target target{output->text(), width->text(), height->text(), depth->currentText(), -1};
  for (int i = 0; i < 3; ++i)
    if (dithering[i]->isChecked()) {
      target.dithering = i;
      break;
    }
  return target;
}

Convert::Request Form::ConversionRequest() const {
  Convert::Request request;
  request.source = c_.txtSource->text();
  request.frame = c_.Slider1->value();
  request.frameCount = Val(c_.lblFrameCount->text());
  request.target =
      TargetOf(c_.txtOutput, c_.txtOutWidth, c_.txtOutHeight, c_.cboDepth, c_.optDithering);
  request.caption = c_.txtCaption->text();
  request.start = c_.txtStart->text();
  request.end = c_.txtEnd->text();
  return request;
}

Convert::View& Form::ConversionView() { return *view_; }

void Form::CreateThumbnail() {
  if (!SourceIsValid()) return;
  c_.txtThumbPath->setText(ConvertInputName(modMain::ThumbDir));
  QCoreApplication::processEvents();
  OpenWindow(Window::ThumbnailSaver);
}

void Form::EditImage() {
  const QString source = c_.txtSource->text();
  if (source.isEmpty() || !QFileInfo(source).isFile()) return;
  OpenWindow(Window::Editor);
}

void Form::mnuEdit_Click() {
  ClearEditMark();
  EditImage();
}

void Form::mnuUndo_Click() {
  modMain::Guarded(this, [this] { ShowPreview(c_.txtSource->text()); });
  ClearEditMark();
}

// The second toolbar repeats the first one's Thumbnail, Edit and Convert.
void Form::Toolbar2_ButtonClick(int index) {
  if (index >= 1 && index <= 3) Toolbar1_ButtonClick(index + 5);
}

// ---- end of output side and commands ----

// ---- the adjustment window (frmPreview) and the edit mark it sets

namespace {

// Loaded on the preview's picture, captioned with the source's path and
// shown modally over the main window, centred on the screen.
void ShowEditor(Form* owner) {
  frmPreview::Form editor(owner);
  editor.SetWorkingPicture(owner->PreviewPicture());
  QCoreApplication::processEvents();
  editor.SetPreview();
  editor.setWindowTitle(owner->controls().txtSource->text());
  QCoreApplication::processEvents();
  modMain::CentreOn(&editor, modMain::ScreenOf(&editor));
  modMain::ExecInFront(&editor);
}

}  // namespace

// The edit commands open the editor; an opener already in place (a test's)
// is kept.
void Form::ConnectEditor() {
  if (!Openers()[Window::Editor]) SetWindowOpener(Window::Editor, ShowEditor);
}

QPixmap Form::PreviewPicture() const { return c_.imgPreview->pixmap(); }

void Form::TakeEditedImage(const QString& path) {
  QImage picture;
  if (picture.load(path)) {
    c_.imgPreview->setPixmap(QPixmap::fromImage(picture));
    // A turned picture swaps its sides: the output keeps its proportions.
    ShowPictureSize(QString::number(picture.width()), QString::number(picture.height()));
  }
  modMain::ImageEdited = true;
  modMain::EditedImagePath = path;
  c_.mnuUndo->setEnabled(true);
}

// ---- end of the adjustment window
// ---- image viewer and thumbnails ----

// The preview's double click, "Image Viewer" and the thumbnail command open
// the viewer windows; an opener already in place (a test's) is kept.
void Form::ConnectViewerWindows() {
  if (!FullScreen())
    SetFullScreenOpener([](Form* owner, const QPixmap& picture) {
      frmFullScreen::Show(owner, owner, picture.toImage(), QString());
    });
  if (!Openers()[Window::ImageViewer])
    SetWindowOpener(Window::ImageViewer, [](Form* owner) { frmThumbs::Show(owner); });
  if (!Openers()[Window::ThumbnailSaver])
    SetWindowOpener(Window::ThumbnailSaver, [](Form* owner) { frmSetThumbs::Show(owner); });
}

// ---- end of image viewer and thumbnails ----

}  // namespace frmImage
