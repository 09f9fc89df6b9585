#include "frmThumbs.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <algorithm>
#include <limits>

#include "AppDialogs.h"
#include "AutoPic.h"
#include "frmFullScreen.h"
#include "frmImage.h"
#include "modMain.h"

namespace frmThumbs {
namespace {

using modMain::Px;
constexpr double kTpp = modMain::kTwipsPerPixel;

constexpr double kFormWidth = 9600;
constexpr double kFormHeight = 7200;
constexpr double kSplitterLeft = 3000;  // design place of the splitter
constexpr double kSplitterWidth = 60;
constexpr double kCaptionStripHeight = 315;
constexpr double kDividerHeight = 90;
constexpr double kListHeight = 2400;

// Positions in twips; the widgets keep pixels.
double Left(const QWidget* w) { return w->x() * kTpp; }
double Top(const QWidget* w) { return w->y() * kTpp; }
double Width(const QWidget* w) { return w->width() * kTpp; }
double Height(const QWidget* w) { return w->height() * kTpp; }
void SetLeft(QWidget* w, double twips) { w->move(Px(twips), w->y()); }
void SetTop(QWidget* w, double twips) { w->move(w->x(), Px(twips)); }
void SetWidth(QWidget* w, double twips) { w->resize(std::max(0, Px(twips)), w->height()); }
void SetHeight(QWidget* w, double twips) { w->resize(w->width(), std::max(0, Px(twips))); }
using modMain::Place;

int ScrollMaximum(double twips) {
  if (!(twips > 0)) return 0;
  return twips >= std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                  : static_cast<int>(twips);
}

void SetRange(QScrollBar* bar, int maximum) {
  const ScrollSteps steps = StepsFor(maximum);
  bar->setRange(0, maximum);
  bar->setSingleStep(steps.small);
  bar->setPageStep(steps.large);
}

// A thumbnail size setting: the fallback when it is no number or below one
// pixel.
QString SizeSetting(const QString& key, const QString& fallback) {
  const QString value = modMain::GetSetting(key, fallback);
  return modMain::IsNumeric(value) && modMain::Val(value) >= 1 ? value : fallback;
}

QString TempBitmap() { return modMain::AppDir() + "/temp.bmp"; }

}  // namespace

GridPlace NextGridPlace(double previousLeft, double rowTop, double cellWidth,
                        double cellHeight, double gridWidth) {
  if (previousLeft + 2 * cellWidth + kGridGap > gridWidth) {
    const double top = rowTop + cellHeight + kGridGap;
    return {kGridGap, top, top + cellHeight + kGridGap};
  }
  return {previousLeft + cellWidth + kGridGap, rowTop, std::nullopt};
}

double FirstRowHeight(double cellHeight) { return kFirstRowTop + cellHeight + kGridGap; }

bool AnotherColumnFits(double cellWidth, double gridWidth, double innerWidth, double gridLeft) {
  return cellWidth + gridWidth < innerWidth - gridLeft;
}

ScrollBars PlaceScrollBars(double innerWidth, double innerHeight, double hBarHeight,
                           double vBarWidth, double gridLeft, double gridWidth,
                           double gridHeight) {
  ScrollBars bars;
  const double gridRight = gridLeft + gridWidth;
  bars.hShown = innerWidth - gridLeft < gridWidth;
  bars.hTop = bars.hShown ? innerHeight - hBarHeight : innerHeight + hBarHeight;
  bars.vLeft = innerWidth;
  if (gridHeight > bars.hTop) {
    bars.vShown = true;
    bars.vLeft = innerWidth - vBarWidth;
    // The vertical bar covers the grid's right edge: the grid scrolls
    // sideways too.
    if (gridRight > bars.vLeft) {
      bars.hShown = true;
      bars.hTop = innerHeight - hBarHeight;
    }
  }
  // The ranges cover the whole grid: no 16-bit limit on either bar.
  bars.vMaximum = ScrollMaximum(gridHeight - std::min(bars.hTop, innerHeight));
  bars.hMaximum = ScrollMaximum(gridRight - std::min(bars.vLeft, innerWidth));
  return bars;
}

ScrollSteps StepsFor(int maximum) {
  const int max = std::max(maximum, 0);
  return {max / 16 + 1, max / 4 + 1};
}

// ---- files and decoding

void FileList::Refresh() {
  const QStringList patterns = Pattern.split(';', Qt::SkipEmptyParts);
  // Without QDir::CaseSensitive the patterns match ".JPG" as ".jpg".
  Files = QDir(Path).entryList(patterns, QDir::Files | QDir::Hidden,
                               QDir::Name | QDir::IgnoreCase);
}

bool DecodeToBitmap(QorHandle image, const QString& path, const QString& tempFile) {
  if (!image) return false;
  return LibQor::QorImgLoadSingle(image, QFile::encodeName(path).constData(), 0) == 0 &&
         LibQor::QorImgSaveSingle(image, QFile::encodeName(tempFile).constData(), K_AUTO) == 0;
}

QImage DecodePicture(const QString& path) {
  LibQor::ScopedImage image;
  if (!DecodeToBitmap(image.get(), path, TempBitmap())) return QImage();
  return QImage(TempBitmap());
}

// ---- the window

Form::Form(frmImage::Form* mainWindow, QWidget* parent)
    : QDialog(parent), mainWindow_(mainWindow) {
  setWindowTitle("Image Viewer");

  picTop = new QFrame(this);
  picTop->setFrameShape(QFrame::StyledPanel);
  Place(picTop, 0, 0, kSplitterLeft, kCaptionStripHeight);

  folders_ = new QFileSystemModel(this);
  folders_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
  folders_->setRootPath(QDir::rootPath());
  ExplorerTree = new QTreeView(this);
  ExplorerTree->setModel(folders_);
  ExplorerTree->setHeaderHidden(true);
  for (int column = 1; column < folders_->columnCount(); ++column)
    ExplorerTree->hideColumn(column);
  SetTop(ExplorerTree, kCaptionStripHeight);
  connect(ExplorerTree->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this] { ExplorerTree_Change(); });
  // The model reads folders in the background: the chosen folder comes into
  // view once its parents are read.
  connect(folders_, &QFileSystemModel::directoryLoaded, this,
          [this] { ExplorerTree->scrollTo(ExplorerTree->currentIndex()); });

  picDiv = new QFrame(this);
  picDiv->setFrameShape(QFrame::StyledPanel);
  SetHeight(picDiv, kDividerHeight);

  ListView1 = new QListWidget(this);
  SetHeight(ListView1, kListHeight);
  connect(ListView1, &QListWidget::itemClicked, this, [this] { ListView1_Click(); });

  lblImages = new QLabel(this);
  Toolbar1 = new QToolBar(this);
  Toolbar1->setToolButtonStyle(Qt::ToolButtonTextOnly);
  const QStringList captions = {"Show", "Refresh", "Exit"};
  for (int i = 0; i < captions.size(); ++i) {
    const int index = i + 1;
    connect(Toolbar1->addAction(captions[i]), &QAction::triggered, this,
            [this, index] { Toolbar1_ButtonClick(index); });
  }
  Image1 = new QPushButton("Cancel Load", this);
  Image1->hide();
  connect(Image1, &QPushButton::clicked, this, [this] { Image1_Click(); });

  picBack = new QWidget(this);
  picBack->setAutoFillBackground(true);
  Place(picBack, kSplitterLeft + 40, 0, 0, 0);
  AutoPic1.push_back(NewPicture());
  Place(AutoPic1[0], kGridGap, kFirstRowTop, 171 * kTpp, 128 * kTpp);
  AutoPic1[0]->hide();

  HScroll1 = new QScrollBar(Qt::Horizontal, this);
  VScroll1 = new QScrollBar(Qt::Vertical, this);
  HScroll1->resize(HScroll1->sizeHint());
  VScroll1->resize(VScroll1->sizeHint());
  connect(HScroll1, &QScrollBar::valueChanged, this, [this] { HScroll1_Change(); });
  connect(VScroll1, &QScrollBar::valueChanged, this, [this] { VScroll1_Change(); });

  imgSplitter = new QFrame(this);
  imgSplitter->setCursor(Qt::SplitHCursor);
  Place(imgSplitter, kSplitterLeft, 0, kSplitterWidth, kFormHeight);
  imgSplitter->installEventFilter(this);
  picSplitter = new QFrame(this);
  picSplitter->setFrameShape(QFrame::Box);
  picSplitter->setAutoFillBackground(true);
  QPalette dark = picSplitter->palette();
  dark.setColor(QPalette::Window, QColor(64, 64, 64));
  picSplitter->setPalette(dark);
  picSplitter->hide();

  txtThumbPath = new QLineEdit(this);
  txtHeight = new QLineEdit(this);
  txtWidth = new QLineEdit(this);
  for (QLineEdit* hidden : {txtThumbPath, txtHeight, txtWidth}) hidden->hide();

  Timer1 = new QTimer(this);
  Timer1->setInterval(250);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });

  Form_Load();
}

AutoPic::Control* Form::NewPicture() {
  auto* picture = new AutoPic::Control(picBack);
  const int index = static_cast<int>(AutoPic1.size());
  picture->Click = [this, index] { AutoPic1_Click(index); };
  return picture;
}

void Form::Form_Load() {
  PaneReserve = 885;
  resize(Px(kFormWidth), height());
  SetWidth(picBack, Width(this) - (Width(VScroll1) + Left(picBack)));
  resize(width(), Px(kFormHeight));
  SetHeight(picBack, 120);
  modMain::CentreOn(this, modMain::ScreenOf(this));

  const QString thumbs = modMain::AppDir() + "/thumbs";
  txtThumbPath->setText(modMain::GetSetting("ThumbDir", thumbs));
  setWindowTitle("Thumbnails: " + txtThumbPath->text());
  txtHeight->setText(SizeSetting("ThumbHeight", "128"));
  txtWidth->setText(SizeSetting("ThumbWidth", "171"));

  const QString picDir = modMain::GetSetting("PicDir", thumbs);
  File1.Path = QFileInfo(picDir).isDir() ? picDir : thumbs;
  File1.Pattern = kSupportedPattern;
  File1.Refresh();
  File1_PathChange();
  SetCurrentFolder(File1.Path);

  picSplitter->raise();
  double x = Left(imgSplitter);
  SizeControls(x);
  LetEventsRun();
  Timer1->start();
}

void Form::LetEventsRun() { QCoreApplication::processEvents(); }

QString Form::CurrentFolder() const {
  return folders_->filePath(ExplorerTree->currentIndex());
}

void Form::SetCurrentFolder(const QString& folder) {
  const QModelIndex index = folders_->index(folder);
  if (!index.isValid()) return;
  ExplorerTree->setCurrentIndex(index);
  ExplorerTree->scrollTo(index);
}

void Form::ExplorerTree_Change() {
  const QString folder = CurrentFolder();
  if (folder.isEmpty()) return;
  if (LoadingThumbs) {
    // The load in hand stops; the chosen folder follows once it has.
    folderPending_ = true;
    CancelLoad = true;
    return;
  }
  File1.Path = folder;
  File1.Refresh();
  File1_PathChange();
  Timer1->start();
}

void Form::File1_PathChange() {
  setWindowTitle("Thumbnails: " + File1.Path);
  ListView1->clear();
  lblImages->setText("No supported images");
  const QIcon icon = style()->standardIcon(QStyle::SP_FileIcon);
  for (const QString& name : File1.Files) {
    ListView1->addItem(new QListWidgetItem(icon, name));
    lblImages->setText(QString::number(ListView1->count()) + " supported images");
  }
}

void Form::Timer1_Timer() {
  Timer1->stop();
  ExplorerTree->scrollTo(ExplorerTree->currentIndex());
  LoadThumbnails();
}

void Form::HideThumbnails() {
  for (AutoPic::Control* picture : AutoPic1) picture->setVisible(false);
}

void Form::LoadThumbnails() {
  if (LoadingThumbs) return;
  HideThumbnails();
  VScroll1->hide();
  VScroll1->setValue(0);
  LetEventsRun();
  HScroll1->hide();
  HScroll1->setValue(0);
  LetEventsRun();

  CancelLoad = false;
  Image1->show();
  LoadingThumbs = true;
  QApplication::setOverrideCursor(Qt::BusyCursor);

  File1.Refresh();
  // The list names the same files as the grid, also when the folder changed
  // since it was last read.
  File1_PathChange();
  AutoPic::Control* first = AutoPic1[0];
  // Shown empty until its picture (if any) is loaded.
  first->Load(QString());
  first->show();
  SetHeight(first, modMain::Val(txtHeight->text()) * kTpp);
  SetWidth(first, modMain::Val(txtWidth->text()) * kTpp);

  const int count = static_cast<int>(File1.Files.size());
  int loaded = 0;
  modMain::Guarded(this, [&] {
    // One library image serves the whole folder.
    LibQor::ScopedImage image;
    LetEventsRun();
    double rowTop = kFirstRowTop;
    first->HostFlag = 0;
    SetTop(first, kFirstRowTop);
    while (AutoPic1.size() > 1) {
      delete AutoPic1.back();
      AutoPic1.pop_back();
    }
    LetEventsRun();
    const QString temp = TempBitmap();
    for (int i = 1; i <= count; ++i) {
      lblImages->setText(QString("Loading %1 of %2").arg(i).arg(count));
      const QString path = File1.Path + "/" + File1.Files[i - 1];
      const bool readable = DecodeToBitmap(image.get(), path, temp);
      if (i == 1) {
        first->HostFlag = 1;
        LoadGridPicture(first, readable, temp, path);
        // The first row stays visible before a second one begins.
        SetHeight(picBack, std::max(Height(picBack), FirstRowHeight(Height(first))));
      } else {
        AutoPic1.push_back(NewPicture());
        AutoPic::Control* picture = AutoPic1.back();
        picture->resize(first->size());
        picture->show();
        PlaceInGrid(picture, i - 1, rowTop);
        LoadGridPicture(picture, readable, temp, path);
      }
      loaded = i;
      LetEventsRun();
      if (CancelLoad) break;
    }
  });

  lblImages->setText(loaded == count
                         ? QString::number(count) + " supported images"
                         : QString("Loaded %1 of %2").arg(loaded).arg(count));
  picBack->show();
  QApplication::restoreOverrideCursor();
  HScroll1->show();
  VScroll1->show();
  Form_Resize();
  LoadingThumbs = false;
  Image1->hide();
  if (folderPending_) {
    folderPending_ = false;
    if (CurrentFolder() != File1.Path) ExplorerTree_Change();
  }
}

void Form::LoadGridPicture(AutoPic::Control* picture, bool readable, const QString& temp,
                           const QString& path) {
  // A file the library cannot read shows an empty frame, never the picture
  // before it that the temporary file still holds.
  picture->Load(readable ? temp : QString());
  picture->Tag = path;
}

void Form::PlaceInGrid(AutoPic::Control* picture, int index, double& rowTop) {
  const AutoPic::Control* first = AutoPic1[0];
  const GridPlace place = NextGridPlace(Left(AutoPic1[index - 1]), rowTop, Width(first),
                                        Height(first), Width(picBack));
  if (place.gridHeight) SetHeight(picBack, *place.gridHeight);
  rowTop = place.top;
  SetLeft(picture, place.left);
  SetTop(picture, place.top);
}

void Form::Image1_Click() {
  if (!LoadingThumbs) return;
  CancelLoad = true;
  LetEventsRun();
}

void Form::AutoPic1_Click(int index) {
  if (LoadingThumbs || index < 0 || index >= static_cast<int>(AutoPic1.size())) return;
  ShowFullScreen(index, AutoPic1[index]->Tag);
}

void Form::ShowFullScreen(int index, const QString& path) {
  if (path.isEmpty()) return;
  modMain::Guarded(this, [&] {
    const QImage picture = DecodePicture(path);
    if (picture.isNull()) {
      AppDialogs::Message(this, "The picture " + QDir::toNativeSeparators(path) +
                                    " cannot be shown.",
                          modMain::kAppTitle, AppDialogs::Buttons::Ok,
                          AppDialogs::Icon::Warning);
      return;
    }
    ListView1->setCurrentRow(index);
    frmFullScreen::Show(this, mainWindow_, picture, path);
  });
}

void Form::ListView1_Click() {
  if (LoadingThumbs) return;
  ShowListEntry();
}

// The entry's own file, also when the grid holds fewer pictures (a
// cancelled load).
void Form::ShowListEntry() {
  const QListWidgetItem* item = ListView1->currentItem();
  if (!item || item->text().isEmpty()) return;
  ShowFullScreen(ListView1->currentRow(), File1.Path + "/" + item->text());
}

void Form::Toolbar1_ButtonClick(int index) {
  switch (index) {
    case 1:
      if (!LoadingThumbs) ShowListEntry();
      break;
    case 2:
      LoadThumbnails();
      break;
    case 3:
      close();
      break;
    default:
      break;
  }
}

// ---- scrolling and layout

void Form::HScroll1_Change() {
  if (LoadingThumbs) return;
  ListView1->raise();
  ExplorerTree->raise();
  SetLeft(picBack, Left(imgSplitter) + 40 - HScroll1->value());
  picSplitter->raise();
  imgSplitter->raise();
}

void Form::VScroll1_Change() {
  if (LoadingThumbs) return;
  SetTop(picBack, -VScroll1->value());
}

void Form::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  Form_Resize();
}

void Form::Form_Resize() {
  if (!HScroll1) return;
  HScroll1->setValue(0);
  const double innerWidth = Width(this);
  if (AnotherColumnFits(Width(AutoPic1[0]), Width(picBack), innerWidth, Left(picBack))) {
    // One more column fits: the grid is built again for the new width.
    SetWidth(picBack, innerWidth - Left(picBack));
    if (!LoadingThumbs) LoadThumbnails();
    picSplitter->raise();
    imgSplitter->raise();
    return;
  }
  PlaceScrollBars();
  LayOutLeftPane();
}

void Form::PlaceScrollBars() {
  const double innerWidth = Width(this), innerHeight = Height(this);
  const double hBar = Height(HScroll1), vBar = Width(VScroll1);
  SetLeft(HScroll1, 0);
  SetTop(VScroll1, 0);
  SetWidth(HScroll1, innerWidth - vBar);
  SetHeight(VScroll1, innerHeight - hBar);
  // The grid's place unscrolled.
  const ScrollBars bars = frmThumbs::PlaceScrollBars(
      innerWidth, innerHeight, hBar, vBar, Left(imgSplitter) + 40, Width(picBack), Height(picBack));
  SetTop(HScroll1, bars.hTop);
  SetLeft(VScroll1, bars.vLeft);
  SetRange(VScroll1, bars.vMaximum);
  SetRange(HScroll1, bars.hMaximum);
  HScroll1->raise();
  VScroll1->raise();
}

void Form::LayOutLeftPane() {
  const double formHeight = Height(this);
  SetTop(imgSplitter, 0);
  SetHeight(imgSplitter, formHeight);
  SetTop(picSplitter, 0);
  SetHeight(picSplitter, formHeight);
  SetLeft(picSplitter, Left(imgSplitter) + 15);
  SetHeight(ExplorerTree, formHeight - (Height(picTop) + Height(ListView1) + PaneReserve +
                                        Height(HScroll1)));
  const double treeBottom = Top(ExplorerTree) + Height(ExplorerTree);
  SetTop(picDiv, treeBottom);
  SetTop(ListView1, treeBottom + Height(picDiv));
  SetLeft(ListView1, Left(ExplorerTree));
  SetWidth(ListView1, Width(ExplorerTree));
  // The status line and the toolbar live in the room kept below the list.
  const double below = Top(ListView1) + Height(ListView1);
  Place(lblImages, 60, below + 45, Width(ExplorerTree) - 60, 240);
  Place(Image1, Width(ExplorerTree) * 0.55, below + 15, Width(ExplorerTree) * 0.45 - 30, 300);
  Place(Toolbar1, 0, below + 360, Width(ExplorerTree), 420);
  SetWidth(picTop, Width(ExplorerTree));
  SetWidth(picDiv, Width(picTop));
  for (QWidget* pane : {static_cast<QWidget*>(picTop), static_cast<QWidget*>(ExplorerTree),
                        static_cast<QWidget*>(picDiv), static_cast<QWidget*>(ListView1),
                        static_cast<QWidget*>(lblImages), static_cast<QWidget*>(Toolbar1),
                        static_cast<QWidget*>(Image1)})  // the button over the status line
    pane->raise();
  picSplitter->raise();
  imgSplitter->raise();
}

void Form::SizeControls(double& x) {
  x = std::max(1500.0, std::min(x, Width(this) - 1500));
  SetWidth(ExplorerTree, x);
  SetLeft(imgSplitter, x);
  SetLeft(picBack, x + 40);
  PlaceScrollBars();
  LayOutLeftPane();
}

bool Form::eventFilter(QObject* watched, QEvent* event) {
  if (watched != imgSplitter) return QDialog::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::MouseButtonPress:
      Place(picSplitter, Left(imgSplitter), Top(imgSplitter), Width(imgSplitter) / 2,
            Height(imgSplitter) - 20);
      picSplitter->show();
      picSplitter->raise();
      SplitterDragging = true;
      return true;
    case QEvent::MouseMove:
      if (SplitterDragging) {
        const double x = static_cast<QMouseEvent*>(event)->position().x() * kTpp;
        SetLeft(picSplitter,
                std::clamp(Left(imgSplitter) + x, 500.0, std::max(500.0, Width(this) - 500)));
      }
      return true;
    case QEvent::MouseButtonRelease: {
      double x = Left(picSplitter);
      SizeControls(x);
      picSplitter->hide();
      SplitterDragging = false;
      return true;
    }
    default:
      return QDialog::eventFilter(watched, event);
  }
}

// Escape closes the window the same way as its close button, so the folder
// is kept and a running load is only cancelled.
void Form::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape)
    close();
  else
    QDialog::keyPressEvent(event);
}

void Form::closeEvent(QCloseEvent* event) {
  if (LoadingThumbs) {
    // Closing during a load stops the load; the window stays open.
    CancelLoad = true;
    LetEventsRun();
    event->ignore();
    return;
  }
  modMain::SaveSetting("PicDir", CurrentFolder());
  QDialog::closeEvent(event);
}

void Show(frmImage::Form* mainWindow) {
  auto* viewer = new Form(mainWindow, mainWindow);
  viewer->setAttribute(Qt::WA_DeleteOnClose);
  modMain::ExecInFront(viewer);
}

}  // namespace frmThumbs
