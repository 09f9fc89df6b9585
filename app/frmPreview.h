// The adjustment window: edits a copy of the main window's picture one
// library operation at a time, keeps one level of undo, reverts to the main
// window's picture and hands the edit back as the picture that the next
// single-frame conversion converts.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QString>
#include <array>
#include <functional>
#include <optional>

#include "LibQor.h"

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QSlider;
class QToolBar;

namespace frmImage {
class Form;
}

namespace frmPreview {

// ---- rules of the window, free of widgets

inline constexpr double kWidthTwips = 9600;
inline constexpr double kHeightTwips = 7200;
inline constexpr double kBoxWidthTwips = 4800;
inline constexpr double kBoxHeightTwips = 3390;

// The hand-over files in the application's data folder.
QString PreviewFile();   // the picture an operation works on
QString UndoFile();      // the picture before the last operation
QString ModifiedFile();  // the picture "Apply" hands to the main window

// Where the stretched copy of a w x h twip picture goes, in twips of the
// window: never enlarged, shrunk by the smaller of the two ratios so that it
// stays inside the box on both sides, centred on the box's middle. None for
// a picture without width or height.
struct Display {
  double left = 0, top = 0, width = 0, height = 0;
};
std::optional<Display> FitDisplay(double w, double h);

// The panels whose operation can be undone from their own toolbar; the
// numbers index cmdUndo.
enum Panel { kSaturation = 0, kGamma = 1, kBrightness = 2, kContrast = 3 };
inline constexpr int kPanelCount = 4;

// ---- the window

struct Controls {
  QMenuBar* menuBar = nullptr;
  QMenu* mnuEdit = nullptr;
  QMenu* mnuFocus = nullptr;
  QMenu* mnuEdges = nullptr;
  QMenu* mnuRotate = nullptr;
  QMenu* mnuFlip = nullptr;
  QAction* mnuUndo = nullptr;
  QAction* mnuRevert = nullptr;
  QAction* mnuSoften = nullptr;
  QAction* mnuSharpen = nullptr;
  QAction* mnuFindEdges = nullptr;
  QAction* mnuEnhanceEdges = nullptr;
  QAction* mnuLeft90 = nullptr;
  QAction* mnu180 = nullptr;
  QAction* mnuRight90 = nullptr;
  QAction* mnuHorizontal = nullptr;
  QAction* mnuVertical = nullptr;

  QLabel* PreviewImage = nullptr;  // the stretched copy on show
  QLabel* imgPreview = nullptr;    // the working picture, never shown

  QGroupBox* fraGamma = nullptr;
  QGroupBox* fraBrightness = nullptr;
  QGroupBox* fraContrast = nullptr;
  QGroupBox* fraSaturation = nullptr;
  QGroupBox* fraMain = nullptr;
  QSlider* sliGammaR = nullptr;
  QSlider* sliGammaG = nullptr;
  QSlider* sliGammaB = nullptr;
  QSlider* sliBrightnessR = nullptr;
  QSlider* sliBrightnessG = nullptr;
  QSlider* sliBrightnessB = nullptr;
  QSlider* sliContrastR = nullptr;
  QSlider* sliContrastG = nullptr;
  QSlider* sliContrastB = nullptr;
  QSlider* sliSaturation = nullptr;
  QToolBar* tbGamma = nullptr;
  QToolBar* tbBrightness = nullptr;
  QToolBar* tbContrast = nullptr;
  QToolBar* tbSaturation = nullptr;
  QToolBar* tbMain = nullptr;

  // Hidden: reached through the toolbars and sliders.
  QPushButton* cmdApplySaturation = nullptr;
  QPushButton* cmdApplyGamma = nullptr;
  QPushButton* cmdApplyBrightness = nullptr;
  QPushButton* cmdApplyContrast = nullptr;
  QPushButton* cmdSaturation = nullptr;
  QPushButton* cmdGamma = nullptr;
  QPushButton* cmdBrightness = nullptr;
  QPushButton* cmdContrast = nullptr;
  std::array<QPushButton*, kPanelCount> cmdUndo{};  // indexed by Panel
  QCheckBox* chkGamma = nullptr;
  QCheckBox* chkBrightness = nullptr;
  QCheckBox* chkContrast = nullptr;
};

class Form : public QDialog {
 public:
  // main: the window whose picture is edited, reverted to and handed back.
  explicit Form(frmImage::Form* main);

  const Controls& controls() const { return c_; }

  void SetWorkingPicture(const QPixmap& picture);
  QPixmap WorkingPicture() const;
  // Lays out the stretched copy for the working picture and shows it.
  void SetPreview();

  // Event handlers (public so that tests run them as the user would).
  void cmdApplySaturation_Click();
  void cmdApplyBrightness_Click();
  void cmdApplyContrast_Click();
  void cmdApplyGamma_Click();
  void mnuRight90_Click();
  void mnu180_Click();
  void mnuLeft90_Click();
  void mnuHorizontal_Click();
  void mnuVertical_Click();
  void mnuSharpen_Click();
  void mnuSoften_Click();
  void mnuFindEdges_Click();
  void mnuEnhanceEdges_Click();
  void mnuUndo_Click();
  void cmdUndo_Click(int index);
  void mnuRevert_Click();
  void cmdSaturation_Click();
  void cmdGamma_Click();
  void cmdBrightness_Click();
  void cmdContrast_Click();
  // Toolbar buttons by their index, 1 to 3.
  void tbMain_ButtonClick(int index);
  void tbGamma_ButtonClick(int index);
  void tbBrightness_ButtonClick(int index);
  void tbContrast_ButtonClick(int index);
  void tbSaturation_ButtonClick(int index);

 private:
  // The three sliders of a channel panel with its lock, toolbar and the
  // handlers its sliders and zero button run.
  struct ChannelPanel {
    std::array<QSlider*, 3> sliders{};  // red, green, blue
    QCheckBox* lock = nullptr;
    QToolBar* toolbar = nullptr;
    Panel panel = kGamma;
    void (Form::*apply)() = nullptr;
    void (Form::*zero)() = nullptr;
  };
  struct ChannelLayout;

  void BuildMenus();
  void BuildPicture(QWidget* area);
  void BuildChannelPanel(ChannelPanel& panel, QWidget* area, const ChannelLayout& layout);
  void BuildSaturationPanel(QWidget* area);
  void BuildMainPanel(QWidget* area);
  void BuildHiddenControls(QWidget* area);
  void Form_Load();

  // One library operation on the working picture through the hand-over
  // files; panel is the panel whose undo the operation sets, none for a
  // menu operation.
  void EffectCycle(const std::function<void(QorHandle)>& operation, std::optional<Panel> panel);
  // The undo level with the panel it belongs to; no level at all when
  // level is false.
  void SetUndoState(bool level, std::optional<Panel> panel);
  // Takes a bitmap file as the working picture; false, after telling the
  // user, when it cannot be read.
  bool LoadWorkingPicture(const QString& path);
  void Lock_ButtonClick(ChannelPanel& panel);
  void ChannelToolbar(ChannelPanel& panel, int index);
  void PanelUndo(Panel panel);
  void Zero(const ChannelPanel& panel);
  void Slider_Scroll(const ChannelPanel& panel, int moved);
  void MainApply();

  frmImage::Form* main_;
  Controls c_;
  ChannelPanel gamma_, brightness_, contrast_;
};

}  // namespace frmPreview
