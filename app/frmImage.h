// The main window: the source file with its properties and preview, the
// frame slider, and the output controls beside them.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "Convert.h"
#include "LibQor.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;
class QToolBar;
class UpDown;


namespace frmImage {

// ---- rules of the window, free of widgets

inline constexpr double kBoxWidthTwips = 3045;
inline constexpr double kBoxHeightTwips = 2280;
inline constexpr const char* kSingleFrameText = "Single Frame Image";

// The open dialog's filters, in Qt's pattern syntax.
QStringList OpenFilters();
// Property texts of a described source; all empty when it has no frames.
struct SourceTexts {
  QString size, colorDepth, format, frameCount, runTime, width, height;
};
SourceTexts DescribeSource(const LibQor::FileInfo& info);

// "Single Frame Image" for one frame or none, else the count + " Frame Movie".
QString FrameCountCaption(double frameCount);

// The preview's place inside picBack, in twips.
struct Box {
  double left = 0, top = 0, width = kBoxWidthTwips, height = kBoxHeightTwips;
};
// The fit layout of a w x h pixel picture: natural size when it fits, else
// shrunk to the box's width (landscape) or height (portrait), centred; never
// enlarged. A picture without width or height keeps the reset box.
Box FitBox(double w, double h, double backWidth, double backHeight);

// The other size box from the one typed, keeping numerator : denominator;
// rounded half to even. None when a text is not a number or the denominator
// is 0, so the other box stays as it is.
std::optional<QString> CoupledSide(const QString& typed, const QString& numerator,
                                   const QString& denominator);

// ---- output rules (conversion)

// The format option an output name's ending chooses; 0 for none.
int FormatForName(const QString& name);
// The save dialog's filters for the chosen format option.
QStringList SaveFilters(int format);
// The extension of a proposed output name for the chosen format option.
QString ProposedExtension(int format);

// A proposed output name ("folder/base(n).ext") for another extension: the
// first free counter for that extension; none for a name that is not of
// that form.
std::optional<QString> RenumberedProposal(const QString& proposal, const QString& extension);

// ---- the window

// What a window's output controls set: the name, the size boxes, the depth
// list and the first dithering option chosen.
Convert::Target TargetOf(const QLineEdit* output, const QLineEdit* width,
                         const QLineEdit* height, const QComboBox* depth,
                         const std::array<QRadioButton*, 3>& dithering);

struct Controls {
  QToolBar* Toolbar1 = nullptr;
  QToolBar* Toolbar2 = nullptr;
  QPushButton* tbOpen = nullptr;
  QLineEdit* txtSource = nullptr;
  QFrame* picBack = nullptr;
  QLabel* imgPreview = nullptr;
  QLabel* lblSize = nullptr;
  QLabel* lblColorDepth = nullptr;
  QLabel* lblBPPDesc = nullptr;
  QLabel* lblFormat = nullptr;
  QLabel* lblFrameCount = nullptr;
  QLabel* lblRunTime = nullptr;
  QLabel* lblWidth = nullptr;
  QLabel* lblHeight = nullptr;
  QLabel* Label3 = nullptr;
  QWidget* picSlider = nullptr;
  QSlider* Slider1 = nullptr;
  QLabel* lblFrame = nullptr;  // the chosen frame's number, beside the slider
  QWidget* picFrames = nullptr;
  QLineEdit* txtStart = nullptr;
  QLineEdit* txtEnd = nullptr;
  UpDown* udStart = nullptr;
  UpDown* udEnd = nullptr;
  QProgressBar* pbRange = nullptr;
  QPushButton* cmdCancelSequence = nullptr;
  std::array<QRadioButton*, 2> optPreview{};
  std::array<QRadioButton*, 2> optMovie{};
  QLineEdit* txtOutWidth = nullptr;
  QLineEdit* txtOutHeight = nullptr;
  UpDown* udWidth = nullptr;
  UpDown* udHeight = nullptr;
  QCheckBox* chkRatio = nullptr;
  // Indexed by the format's identity in this window; 0 and 16 stay empty.
  std::array<QRadioButton*, 25> optFormat{};
  QLineEdit* txtOutput = nullptr;
  QPushButton* tbSave = nullptr;
  QComboBox* cboDepth = nullptr;
  std::array<QRadioButton*, 3> optDithering{};
  QLineEdit* txtCaption = nullptr;
  QLineEdit* txtThumbPath = nullptr;
  QMenu* mnuHiddenFile = nullptr;
  QMenu* mnuHiddenHelp = nullptr;
  QMenu* mnuAdjust = nullptr;
  QAction* mnuOpen = nullptr;
  QAction* mnuSetTarget = nullptr;
  QAction* mnuViewThumbs = nullptr;
  QAction* mnuThumbnail = nullptr;
  QAction* mnuEdit = nullptr;
  QAction* mnuUndo = nullptr;
  QAction* mnuConvert = nullptr;
  QAction* mnuExit = nullptr;
  QAction* mnuContents = nullptr;
  QAction* mnuAbout = nullptr;
};

class Form : public QWidget {
 public:
  Form();
  ~Form() override;

  const Controls& controls() const { return c_; }

  // True while a source is being put into the window: the size boxes do not
  // recompute each other meanwhile.
  bool bInit = false;

  // Loads and shows the first frame of path and its properties.
  void ShowPreview(const QString& path);
  bool HasPicture() const;

  // The full-screen viewer, once there is one: gets the preview's picture.
  using FullScreenOpener = std::function<void(Form* owner, const QPixmap& picture)>;
  static void SetFullScreenOpener(FullScreenOpener opener);

  // Event handlers (public so the commands of other windows and tests can
  // run them as the user would).
  void mnuOpen_Click();
  void tbOpen_ButtonClick();
  void Slider1_MouseUp();
  void optPreview_Click(int index);
  void imgPreview_DblClick();
  void imgPreview_MouseDown(Qt::MouseButton button, const QPoint& globalPos);
  void Toolbar1_ButtonClick(int index);
  void mnuContents_Click();
  void mnuAbout_Click();

  // ---- output side and commands (conversion) ----
  // A proposed output path in folder: the source's base name with the first
  // free counter, "(n)"; empty without a valid source.
  QString ConvertInputName(const QString& folder) const;
  // Puts the proposed output name for folder into txtOutput; while the name
  // stays as proposed, a format change renumbers it to a free name.
  void ProposeOutput(const QString& folder);
  // The chosen output path, or empty when the user cancelled.
  QString GetSaveFileName();
  void RunConversion();
  // What the window asks to convert: its source and chosen frame, its
  // output settings, caption and range.
  Convert::Request ConversionRequest() const;
  // How the conversion drivers show their work in this window: the wait
  // pointer, the library's progress in the frame-count label with the
  // range's bar, the pictures written and the messages.
  Convert::View& ConversionView();
  void CreateThumbnail();
  void EditImage();
  void Toolbar2_ButtonClick(int index);
  void mnuSetTarget_Click();
  void mnuEdit_Click();
  void mnuUndo_Click();
  void cmdCancelSequence_Click();
  void optFormat_Click(int index);
  void optMovie_Click(int index);
  // The windows the commands open (editor, thumbnail saver, image viewer)
  // arrive with their own modules, which register how they are opened.
  enum class Window { Editor, ThumbnailSaver, ImageViewer };
  using WindowOpener = std::function<void(Form* owner)>;
  static void SetWindowOpener(Window window, WindowOpener opener);
  // ---- end of output side and commands ----

  // ---- the adjustment window (frmPreview) and the edit mark it sets
  // The preview's picture at its natural size: the editor starts from it
  // and reverts to it.
  QPixmap PreviewPicture() const;
  // The editor's "Apply": the edited picture file is shown in the preview
  // and marked as the picture the next single-frame conversion takes.
  void TakeEditedImage(const QString& path);
  // ---- end of the adjustment window

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildToolbars();
  void BuildSourceSide();
  void BuildProperties();
  void BuildOutputSide();
  void BuildMenus();
  void ConnectEditor();  // the adjustment window as the edit commands' editor
  void Form_Load();

  void txtSource_Change();
  void lblFrameCount_Change();
  // The slider of a source with one frame or none: disabled and hidden.
  void ShowSingleFrameSlider();
  // Range and value set by the window itself: no frame is loaded for them.
  void SetSliderQuietly(int minimum, int maximum, int value);
  void ShowFrameNumber();
  void lblWidth_Change();
  void lblHeight_Change();
  void txtOutWidth_Change();
  void txtOutHeight_Change();
  void cboDepth_Change();
  // One size box typed, the other written from the source's proportions;
  // ownFlag marks the write so the other box's handler leaves it alone.
  void CoupleSizeBoxes(QLineEdit* typed, QLineEdit* other, QLabel* numerator,
                       QLabel* denominator, bool& ownFlag, bool otherFlag);

  void ShowProperties(const LibQor::FileInfo& info);
  // The width and height labels and, following them, the size boxes.
  void ShowPictureSize(const QString& width, const QString& height);
  void SetDepthText(const QString& depth);
  void SetSizeControlsEnabled(bool enabled);
  // Loads frame of path into the preview through "temp_p.bmp"; a frame the
  // library cannot load or save leaves the preview empty and gives the
  // library's error text.
  QString LoadPreviewFrame(const QString& path, int frame);
  void RemovePicture();
  void ResetBox();
  void ClearEditMark();

  // ---- output side and commands (conversion) ----
  void ConnectOutputCommands();
  void txtOutput_Change();
  // Shows text with an OK button and puts the focus into box.
  void Refuse(const QString& text, QWidget* box);
  bool SourceIsValid();
  bool RangeIsValid();
  void OpenWindow(Window window);
  // ---- end of output side and commands ----
  class MainView;

  // ---- image viewer and thumbnails ----
  void ConnectViewerWindows();
  // ---- end of image viewer and thumbnails ----

  Controls c_;
  std::unique_ptr<MainView> view_;
  QString proposedOutput_;  // txtOutput as last proposed, until the user changes it
  QString sourceWidth_, sourceHeight_;  // the source's size, for when an edit is dropped
  QString sourceFailure_;  // why the source cannot be converted; empty when it can
  bool closeAfterRange_ = false;  // the window was closed while a range ran
  bool writingHeight_ = false;  // the width box's handler writes the height box
  bool writingWidth_ = false;   // the height box's handler writes the width box
  QButtonGroup* previewGroup_ = nullptr;
  QButtonGroup* movieGroup_ = nullptr;
  QButtonGroup* formatGroup_ = nullptr;
  QButtonGroup* ditherGroup_ = nullptr;
};

}  // namespace frmImage
