// The image viewer: a folder tree and the list of the folder's pictures on
// the left, a scrollable grid of scaled pictures on the right, each decoded
// through the library; a picture opens full screen.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "LibQor.h"

class QFileSystemModel;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QScrollBar;
class QTimer;
class QToolBar;
class QTreeView;

namespace AutoPic {
class Control;
}
namespace frmImage {
class Form;
}

namespace frmThumbs {

// The picture files the viewer shows, by extension, matched without regard
// to case.
inline constexpr const char* kSupportedPattern =
    "*.bay;*.bmp;*.dib;*.rle;*.flc;*.gif;*.giff;*.kwb;*.jpg;*.jpe;*.jpeg;*.jif;*.jfif;"
    "*.pcx;*.png;*.pnm;*.ppm;*.pgm;*.ras;*.sun;*.rgb;*.rgba;*.bw;*.sgi;*.tga;*.tif;"
    "*.tiff;*.xpm";

// The files of a folder that match a ";"-separated pattern, by name.
struct FileList {
  QString Path;
  QString Pattern;
  QStringList Files;
  void Refresh();
};

// Reads the first frame of path through the library into image and writes
// it as the Windows bitmap tempFile; false when the library cannot do either.
bool DecodeToBitmap(QorHandle image, const QString& path, const QString& tempFile);
// The same into a picture, with an image of its own; null on failure.
QImage DecodePicture(const QString& path);

// ---- the grid and its scroll bars: rules in twips, free of widgets

// Room between pictures and around the grid; the first row's top.
inline constexpr double kGridGap = 15;
inline constexpr double kFirstRowTop = 30;

// The place of the grid picture after one at previousLeft in the row at
// rowTop: the next column, or the first of a new row when another column
// would not fit gridWidth. A new row makes the grid gridHeight tall.
struct GridPlace {
  double left = 0, top = 0;
  std::optional<double> gridHeight;
};
GridPlace NextGridPlace(double previousLeft, double rowTop, double cellWidth,
                        double cellHeight, double gridWidth);
// The height the grid needs for its first row.
double FirstRowHeight(double cellHeight);
// True when the window's inner width beside gridLeft holds one more column
// than the grid is wide.
bool AnotherColumnFits(double cellWidth, double gridWidth, double innerWidth, double gridLeft);

// Where the scroll bars of a grid at gridLeft stand in a window of inner
// size innerWidth x innerHeight, and how far they scroll. A bar out of use
// stands just beyond the window's edge.
struct ScrollBars {
  double hTop = 0, vLeft = 0;
  bool hShown = false, vShown = false;
  int hMaximum = 0, vMaximum = 0;
};
ScrollBars PlaceScrollBars(double innerWidth, double innerHeight, double hBarHeight,
                           double vBarWidth, double gridLeft, double gridWidth,
                           double gridHeight);
// A bar's small and large steps for its maximum: a sixteenth and a quarter.
struct ScrollSteps {
  int small = 1, large = 1;
};
ScrollSteps StepsFor(int maximum);

class Form : public QDialog {
 public:
  explicit Form(frmImage::Form* mainWindow, QWidget* parent = nullptr);

  void SizeControls(double& x);
  void LoadThumbnails();
  void HideThumbnails();

  // Handlers the user reaches through the controls.
  void AutoPic1_Click(int index);
  void ListView1_Click();
  void Toolbar1_ButtonClick(int index);
  void Image1_Click();
  void SetCurrentFolder(const QString& folder);
  QString CurrentFolder() const;

  bool LoadingThumbs = false;
  bool CancelLoad = false;
  bool SplitterDragging = false;
  double PaneReserve = 885;

  QTreeView* ExplorerTree = nullptr;
  QFrame* picTop = nullptr;
  QFrame* picDiv = nullptr;
  QListWidget* ListView1 = nullptr;
  FileList File1;
  QLabel* lblImages = nullptr;
  QToolBar* Toolbar1 = nullptr;
  QPushButton* Image1 = nullptr;
  QWidget* picBack = nullptr;
  std::vector<AutoPic::Control*> AutoPic1;
  QScrollBar* HScroll1 = nullptr;
  QScrollBar* VScroll1 = nullptr;
  QFrame* imgSplitter = nullptr;
  QFrame* picSplitter = nullptr;
  QLineEdit* txtThumbPath = nullptr;
  QLineEdit* txtHeight = nullptr;
  QLineEdit* txtWidth = nullptr;
  QTimer* Timer1 = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Form_Load();
  void Form_Resize();
  void ExplorerTree_Change();
  void File1_PathChange();
  void Timer1_Timer();
  void HScroll1_Change();
  void VScroll1_Change();
  void PlaceScrollBars();  // the scroll bars by the rules above
  void LayOutLeftPane();
  AutoPic::Control* NewPicture();
  void PlaceInGrid(AutoPic::Control* picture, int index, double& rowTop);
  void LoadGridPicture(AutoPic::Control* picture, bool readable, const QString& temp,
                       const QString& path);
  void LetEventsRun();
  // The picture of path full screen, its list entry (index) selected.
  void ShowFullScreen(int index, const QString& path);
  void ShowListEntry();

  QPointer<frmImage::Form> mainWindow_;
  QFileSystemModel* folders_ = nullptr;
  bool folderPending_ = false;  // a folder chosen in the tree while a load ran
};

// The main window's "Image Viewer" command: shows the viewer modally.
void Show(frmImage::Form* mainWindow);

}  // namespace frmThumbs
