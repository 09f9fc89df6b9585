// The about box: version, the copyright warning over a scrolling picture,
// the system-information launcher and the link to the maker's service page.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;
class QTimer;

namespace frmAbout {

inline constexpr const char* kSysInfoUnavailable =
    "System Information Is Unavailable At This Time";
inline constexpr const char* kServiceUrl = "https://www.quillon.example/service";
// The warning moves 15 twips (one pixel) to the left per tick.
inline constexpr int kScrollStepTwips = 15;
inline constexpr int kScrollIntervalMs = 150;

// Left edge of the warning after one tick: one step to the left, and back to
// the right edge of the box once it has left the box completely.
int NextWarningLeft(int left, int warningWidth, int boxWidth);

// This system keeps no record of a system-information program, so the user
// gets the message the box gives when none is installed.
void StartSysInfo(QWidget* owner);

class Form : public QDialog {
 public:
  explicit Form(QWidget* owner);

  QLabel* lblVersion() const { return lblVersion_; }
  QLabel* lblWarning() const { return lblWarning_; }
  QLabel* ImageWarning() const { return imageWarning_; }
  QFrame* Picture1() const { return picture1_; }
  QLabel* Label4() const { return label4_; }
  QPushButton* cmdOK() const { return cmdOK_; }
  QPushButton* cmdSysInfo() const { return cmdSysInfo_; }
  QTimer* Timer1() const { return timer1_; }

 private:
  void Timer1_Timer();
  void Label4_Click();

  QLabel* lblVersion_;
  QLabel* lblWarning_;
  QFrame* picture1_;
  QLabel* imageWarning_;
  QLabel* label4_;
  QPushButton* cmdOK_;
  QPushButton* cmdSysInfo_;
  QTimer* timer1_;
};

}  // namespace frmAbout
