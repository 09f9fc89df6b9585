// The full-screen viewer: one picture over the whole screen, at its natural
// size with scroll bars or fitted to the window's height; it prints the
// picture and can hand its file to the main window as the new source.
#pragma once

#include <QDialog>
#include <QImage>
#include <QPointer>
#include <QString>
#include <optional>

class QAction;
class QLabel;
class QLineEdit;
class QScrollBar;
class QToolBar;

namespace frmImage {
class Form;
}

namespace frmFullScreen {

// ---- rules of the window, in twips

struct Room {
  double width, height;           // the window
  double toolbar, hBar, vBar;     // toolbar height, bar thicknesses
};

struct ScrollRange {
  bool shown = false;
  int maximum = 0, smallChange = 1, largeChange = 1;
};

// Natural-size layout: the picture's place with both bars at 0, and the bars.
// A picture that does not fit starts at the left edge and just below the
// toolbar; scrolling to a bar's end brings its far edge to the other bar.
struct NaturalLayout {
  double left, top;
  ScrollRange h, v;
};
NaturalLayout LayOutNatural(const Room& room, double picWidth, double picHeight);

// Fit to the window height (less the toolbar and the horizontal bar's room,
// less 120), centred; a wide picture may extend beyond both sides. None for a
// picture without width or height.
struct Rect {
  double left, top, width, height;
};
std::optional<Rect> FitToHeight(const Room& room, double picWidth, double picHeight);

// Where the picture goes on the printed page, in printer units: fitted into
// the printable area (less a margin of a tenth of its width on the fitted
// side in landscape), centred, whole numbers rounded half to even.
struct PagePlacement {
  long long x, y, width, height;
};
std::optional<PagePlacement> PlaceOnPage(double picWidth, double picHeight, bool landscape,
                                         double printableWidth, double printableHeight,
                                         double scaleLeft, double scaleTop);

// ---- the window

class Form : public QDialog {
 public:
  explicit Form(QWidget* parent = nullptr);

  // Puts the picture into Picture1, which takes its size and lays the
  // window out at natural size.
  void SetPicture(const QImage& picture);

  // Set by the opener: the main window that "Load" hands the picture to, and
  // the image viewer that "Load" closes behind it.
  QPointer<frmImage::Form> MainWindow;
  QPointer<QWidget> ImageViewer;

  void tbTop_ButtonClick(int index);
  void PrintImage();

  QToolBar* tbTop = nullptr;
  QLabel* Picture1 = nullptr;
  QLabel* Image1 = nullptr;
  QScrollBar* HScroll1 = nullptr;
  QScrollBar* VScroll1 = nullptr;
  QLineEdit* txtImagePath = nullptr;
  QAction* Button(int index) const;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  Room CurrentRoom() const;
  void Form_Resize();
  void Picture1_Resize();
  void HScroll1_Change();
  void VScroll1_Change();
  void ShowFullSize();
  void ShowFitWindow();
  void LoadIntoMainWindow();
  void SetPressed(int index);

  QImage picture_;
  QImage picCanvas_;  // the copy that is printed
  double pictureTop_ = 0;
};

// Opens the viewer modally over owner with picture, covering the screen;
// path is the picture's file (empty when it has none). Any earlier viewer is
// closed first.
void Show(QWidget* owner, frmImage::Form* mainWindow, const QImage& picture,
          const QString& path);
// The viewer on show, if any.
Form* Current();

}  // namespace frmFullScreen
