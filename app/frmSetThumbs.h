// The thumbnail-saving window: size, colour depth, dithering, format and
// name of a small copy of the main window's source, and the default
// thumbnail folder. "Convert" hands the work to the conversion drivers and
// leaves the window open for the next thumbnail.
#pragma once

#include <QDialog>
#include <QPointer>
#include <array>
#include <vector>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolBar;
class UpDown;

namespace frmImage {
class Form;
}

namespace frmSetThumbs {

// The format options; each caption is the extension it sets.
QStringList FormatCaptions();
// The upper limit of both size boxes, in pixels.
inline constexpr int kMaxThumbnailSide = 2048;

class Form : public QDialog {
 public:
  explicit Form(frmImage::Form* mainWindow, QWidget* parent = nullptr);

  void cboDepth_Change();
  void optFormat_Click(int index);
  void Command2_Click();
  void cmdDefault_Click();
  void tbMain_ButtonClick(int index);
  // A size box whose editing ended: text that is not a number or beyond
  // the up-down limit becomes the limit.
  void txtOutWidth_Change();
  void txtOutHeight_Change();

  QLineEdit* txtOutWidth = nullptr;
  UpDown* udWidth = nullptr;
  QLineEdit* txtOutHeight = nullptr;
  UpDown* udHeight = nullptr;
  QFrame* Picture3 = nullptr;
  QLabel* Image1 = nullptr;
  QComboBox* cboDepth = nullptr;
  std::array<QRadioButton*, 3> optDithering{};
  std::vector<QRadioButton*> optFormat;
  QLineEdit* txtOutput = nullptr;
  // txtOutput as the main window proposed it, until the user changes it.
  QString ProposedOutput;
  QLineEdit* txtThumbPath = nullptr;
  QPushButton* Command2 = nullptr;
  QPushButton* cmdDefault = nullptr;
  QToolBar* tbMain = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Form_Load();
  void CorrectSize(QLineEdit* box, const UpDown* limit);
  // The picture takes the size the boxes hold, centred.
  void CentrePicture();

  QPointer<frmImage::Form> mainWindow_;
};

// The main window's thumbnail command, once the proposed name is in its
// txtThumbPath: shows this window modally with the preview's picture, that
// name and the stored default size.
void Show(frmImage::Form* mainWindow);

}  // namespace frmSetThumbs
