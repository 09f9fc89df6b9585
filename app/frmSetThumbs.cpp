#include "frmSetThumbs.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QToolBar>
#include <cmath>

#include "AppDialogs.h"
#include "Convert.h"
#include "DepthRules.h"
#include "FitTexts.h"
#include "UpDown.h"
#include "frmImage.h"
#include "modMain.h"

namespace frmSetThumbs {
namespace {

using modMain::Px;
constexpr double kTpp = modMain::kTwipsPerPixel;
constexpr int kWidthTwips = 8760;
constexpr int kHeightTwips = 6945;

using modMain::Place;

QLabel* Caption(const QString& text, QWidget* parent, int left, int top, int width) {
  auto* label = new QLabel(text, parent);
  Place(label, left, top, width, 240);
  return label;
}

QString DefaultThumbDir() { return modMain::AppDir() + "/thumbs"; }

// A stored size as a whole number.
QString WholeSetting(const QString& key, const QString& fallback) {
  return QString::number(std::llround(modMain::Val(modMain::GetSetting(key, fallback))));
}

// The thumbnail's conversion: this window waits and owns the messages; the
// library's progress shows in the main window behind it.
class ThumbnailView : public Convert::View {
 public:
  ThumbnailView(QWidget& window, frmImage::Form& mainWindow)
      : window_(window), main_(mainWindow.ConversionView()) {}
  QWidget* Window() override { return &window_; }
  void Lock(Work work) override {
    window_.setCursor(Qt::WaitCursor);
    main_.Lock(work);
  }
  void Unlock() override {
    main_.Unlock();
    window_.unsetCursor();
  }
  void ShowProgress(const QString& text, int percent) override {
    main_.ShowProgress(text, percent);
  }
  // The thumbnail window keeps showing the source's picture.
  void ShowFrame(const QString&) override {}
  AppDialogs::Answer Message(const QString& text, AppDialogs::Buttons buttons,
                             AppDialogs::Icon icon) override {
    return AppDialogs::Message(&window_, text, modMain::kAppTitle, buttons, icon);
  }

 private:
  QWidget& window_;
  Convert::View& main_;
};

}  // namespace

QStringList FormatCaptions() {
  return {"JPEG", "JIF", "JFIF", "PCX", "PNG", "PNM", "PPM", "PGM", "RAS", "BMP", "DIB", "RLE",
          "KWB",  "JPG", "JPE",  "RGB", "RGBA", "BW", "SGI", "TGA", "TIF", "TIFF", "XPM"};
}

Form::Form(frmImage::Form* mainWindow, QWidget* parent)
    : QDialog(parent), mainWindow_(mainWindow) {
  setWindowTitle("Save Thumbnail");

  tbMain = new QToolBar(this);
  tbMain->setToolButtonStyle(Qt::ToolButtonTextOnly);
  const QStringList buttons = {"Cancel", "Convert"};
  for (int i = 0; i < buttons.size(); ++i) {
    const int index = i + 1;
    connect(tbMain->addAction(buttons[i]), &QAction::triggered, this,
            [this, index] { tbMain_ButtonClick(index); });
  }
  Place(tbMain, 0, 0, kWidthTwips, 420);

  Caption("Thumbnail Width and Height", this, 120, 540, 4000);
  Caption("Width", this, 120, 870, 600);
  txtOutWidth = new QLineEdit("171", this);
  Place(txtOutWidth, 720, 840, 900, 330);
  udWidth = new UpDown(txtOutWidth, this);
  udWidth->setRange(1, kMaxThumbnailSide);
  Place(udWidth, 1620, 840, 255, 330);
  Caption("Height", this, 2040, 870, 660);
  txtOutHeight = new QLineEdit("128", this);
  Place(txtOutHeight, 2700, 840, 900, 330);
  udHeight = new UpDown(txtOutHeight, this);
  udHeight->setRange(1, kMaxThumbnailSide);
  Place(udHeight, 3600, 840, 255, 330);
  cmdDefault = new QPushButton("Set Default", this);
  Place(cmdDefault, 4080, 810, 1335, 375);
  connect(cmdDefault, &QPushButton::clicked, this, [this] { cmdDefault_Click(); });

  Picture3 = new QFrame(this);
  Picture3->setFrameShape(QFrame::StyledPanel);
  Place(Picture3, 120, 1320, 5295, 2610);
  Image1 = new QLabel(Picture3);
  Image1->setScaledContents(true);

  Caption("Color Depth (Bits per Pixel)", this, 120, 4110, 2500);
  cboDepth = new QComboBox(this);
  Place(cboDepth, 2700, 4050, 2715, 330);
  cboDepth->installEventFilter(this);
  const char* dithering[] = {"No Dithering", "Light Dithering", "Heavy Dithering"};
  for (int i = 0; i < 3; ++i) {
    optDithering[i] = new QRadioButton(dithering[i], this);
    Place(optDithering[i], 120 + i * 1780, 4470, 1780, 285);
  }
  optDithering[0]->setChecked(true);
  Caption("(Dithering only applies to 8 bit images.)", this, 120, 4800, 5295);

  Caption("Target File Format:", this, 5640, 540, 3000);
  const QStringList formats = FormatCaptions();
  for (int i = 0; i < formats.size(); ++i) {
    auto* option = new QRadioButton(formats[i], this);
    Place(option, 5640 + (i / 8) * 1020, 840 + (i % 8) * 300, 1020, 285);
    connect(option, &QRadioButton::clicked, this, [this, i] { optFormat_Click(i); });
    if (!modMain::LibraryWritesExtension(formats[i])) {
      option->setEnabled(false);
      option->setToolTip(modMain::NoWriterTip(formats[i]));
    }
    optFormat.push_back(option);
  }

  txtOutput = new FitTexts::ElidedLineEdit(this);
  Place(txtOutput, 120, 5220, 8400, 330);
  Caption("Default Thumbnail Path", this, 120, 5760, 4000);
  txtThumbPath = new FitTexts::ElidedLineEdit(this);
  Place(txtThumbPath, 120, 6030, 7800, 330);
  Command2 = new QPushButton("...", this);
  Place(Command2, 8040, 6030, 480, 330);
  connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });

  // The picture follows every keystroke; a box is corrected only when its
  // editing ends, so it can be cleared and typed anew.
  connect(txtOutWidth, &QLineEdit::textChanged, this, [this] { CentrePicture(); });
  connect(txtOutHeight, &QLineEdit::textChanged, this, [this] { CentrePicture(); });
  connect(txtOutWidth, &QLineEdit::editingFinished, this, [this] { txtOutWidth_Change(); });
  connect(txtOutHeight, &QLineEdit::editingFinished, this, [this] { txtOutHeight_Change(); });
  connect(cboDepth, &QComboBox::currentIndexChanged, this, [this] { cboDepth_Change(); });

  Form_Load();
}

void Form::Form_Load() {
  modMain::ThumbDir = modMain::GetSetting("ThumbDir", DefaultThumbDir());
  txtThumbPath->setText(modMain::ThumbDir);
  setFixedSize(Px(kWidthTwips), Px(kHeightTwips));
  cboDepth->addItems(DepthRules::Items());
  for (QRadioButton* option : optDithering) option->setEnabled(false);
  cboDepth->setCurrentIndex(0);
  FitTexts::Fit(this);
  modMain::CentreOn(this, modMain::ScreenOf(this));
  CentrePicture();
}

void Form::closeEvent(QCloseEvent* event) {
  const QString folder = txtThumbPath->text();
  if (!folder.isEmpty() && QFileInfo(folder).isDir()) {
    modMain::ThumbDir = folder;
    modMain::SaveSetting("ThumbDir", folder);
  } else {
    modMain::SaveSetting("ThumbDir", DefaultThumbDir());
  }
  QDialog::closeEvent(event);
}

void Form::cboDepth_Change() {
  const bool palette = cboDepth->currentText() == DepthRules::PaletteItem();
  if (!palette) optDithering[0]->setChecked(true);
  for (QRadioButton* option : optDithering) option->setEnabled(palette);
}

// Only the arrow keys (and the list) change the depth: typing is swallowed.
bool Form::eventFilter(QObject* watched, QEvent* event) {
  if (watched == cboDepth && event->type() == QEvent::KeyPress &&
      modMain::LocksDepthText(*static_cast<QKeyEvent*>(event)))
    return true;
  return QDialog::eventFilter(watched, event);
}

void Form::CorrectSize(QLineEdit* box, const UpDown* limit) {
  const QString text = box->text();
  if (!modMain::IsNumeric(text) || modMain::Val(text) > limit->maximum())
    box->setText(QString::number(limit->maximum()));
  else if (modMain::Val(text) < limit->minimum())
    box->setText(QString::number(limit->minimum()));
}

void Form::txtOutWidth_Change() { CorrectSize(txtOutWidth, udWidth); }

void Form::txtOutHeight_Change() { CorrectSize(txtOutHeight, udHeight); }

void Form::CentrePicture() {
  const double w = modMain::Val(txtOutWidth->text()) * kTpp;
  const double h = modMain::Val(txtOutHeight->text()) * kTpp;
  const double backWidth = Picture3->width() * kTpp, backHeight = Picture3->height() * kTpp;
  Image1->setGeometry(Px(backWidth / 2 - w / 2), Px(backHeight / 2 - h / 2), Px(w), Px(h));
}

void Form::optFormat_Click(int index) {
  const QString current = txtOutput->text();
  QString changed = modMain::ChangeExtension(current, optFormat[index]->text());
  // The proposed name keeps pointing at a free name for the new format.
  if (!current.isEmpty() && current == ProposedOutput) {
    if (const auto renumbered = frmImage::RenumberedProposal(current, optFormat[index]->text()))
      changed = *renumbered;
    ProposedOutput = changed;
  }
  txtOutput->setText(changed);
}

void Form::Command2_Click() {
  const QString folder = modMain::BrowseForFolder(this, "Default Thumbnail Folder");
  if (!folder.isEmpty() && QFileInfo(folder).isDir()) txtThumbPath->setText(folder);
}

void Form::cmdDefault_Click() {
  modMain::SaveSetting("ThumbHeight", txtOutHeight->text());
  modMain::SaveSetting("ThumbWidth", txtOutWidth->text());
}

void Form::tbMain_ButtonClick(int index) {
  if (!mainWindow_) return;
  QLineEdit* mainThumbPath = mainWindow_->controls().txtThumbPath;
  if (index == 1) {
    mainThumbPath->clear();
    close();
    return;
  }
  if (txtOutput->text().isEmpty()) {
    AppDialogs::Message(this, "Please set your target file name and path.",
                        modMain::kAppTitle);
    txtOutput->setFocus();
    return;
  }
  mainThumbPath->setText(txtOutput->text());
  // A size box still being edited counts as its editing ended.
  txtOutWidth_Change();
  txtOutHeight_Change();
  modMain::Guarded(this, [this] {
    // The main window's source, frame and caption, to this window's output.
    Convert::Request request = mainWindow_->ConversionRequest();
    request.target =
        frmImage::TargetOf(txtOutput, txtOutWidth, txtOutHeight, cboDepth, optDithering);
    ThumbnailView view(*this, *mainWindow_);
    Convert::ConvertThumbnail(request, view);
  });
}

void Show(frmImage::Form* mainWindow) {
  auto* window = new Form(mainWindow, mainWindow);
  window->setAttribute(Qt::WA_DeleteOnClose);
  const frmImage::Controls& c = mainWindow->controls();
  window->Image1->setPixmap(c.imgPreview->pixmap());
  window->ProposedOutput = c.txtThumbPath->text();
  window->txtOutput->setText(window->ProposedOutput);
  window->txtOutWidth->setText(WholeSetting("ThumbWidth", "171"));
  window->txtOutHeight->setText(WholeSetting("ThumbHeight", "128"));
  window->txtOutWidth_Change();
  window->txtOutHeight_Change();
  modMain::ExecInFront(window);
}

}  // namespace frmSetThumbs
