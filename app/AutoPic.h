// The application's picture control: shows a picture file scaled so that its
// longer side fills the frame, aspect kept and centred, and reports clicks on
// the picture (not on the frame around it) to its host.
#pragma once

#include <QColor>
#include <QImage>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QWidget>
#include <functional>
#include <optional>

class QFrame;
class QLabel;

namespace AutoPic {

// The frame keeps this width whatever the control's width.
inline constexpr double kBackWidthTwips = 1995;

// Where a w x h picture (twips) goes in a frame of backWidth x backHeight:
// a landscape picture spans the frame's width, any other its height, centred;
// the other side may exceed the frame. None for a picture without width or
// height, which leaves the frame empty.
struct Placement {
  double left, top, width, height;
};
std::optional<Placement> Fit(double w, double h, double backWidth, double backHeight);

// Stored properties of a host form, by key; a value equal to its default is
// not stored.
using PropertyBag = QMap<QString, QVariant>;

class Control : public QWidget {
 public:
  explicit Control(QWidget* parent = nullptr);

  QColor BackColor() const;
  void SetBackColor(const QColor& color);
  bool Enabled() const { return isEnabled(); }
  void SetEnabled(bool enabled);
  int BorderStyle() const { return borderStyle_; }  // 0 none, 1 fixed single
  void SetBorderStyle(int style);
  void Refresh() { update(); }

  // Loads and shows the picture file; an unreadable file leaves an empty
  // frame. The answer is always false.
  bool Load(const QString& path);

  // Set by the host; the control never reads it.
  int HostFlag = 0;
  // The host's tag; Load puts the loaded path into it.
  QString Tag;

  std::function<void()> Click;
  std::function<void()> DblClick;

  // Names of the properties written since the last save.
  QStringList ChangedProperties() const { return changed_; }
  void WriteProperties(PropertyBag& bag) const;
  void ReadProperties(const PropertyBag& bag);

  // The parts, for the host's tests and the property page.
  QFrame* picBack() const { return picBack_; }
  QLabel* Image1() const { return image1_; }
  const QImage& picSource() const { return picSource_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void PropertyChanged(const QString& name);
  static QColor DefaultBackColor();

  QFrame* picBack_;
  QLabel* image1_;
  QImage picSource_;
  int borderStyle_ = 1;
  QStringList changed_;
};

}  // namespace AutoPic
