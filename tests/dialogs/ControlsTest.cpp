// The dialogs' own controls: the notifying track bar under the mouse, the
// slider record's arithmetic, the fitted preview, the display control's
// pixels, the popup menu and the base form's size limits.
#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QWidget>
#include <utility>
#include <vector>

#include "DialogTestSupport.h"
#include "dialogs/CtlEx.h"
#include "dialogs/CtlPopup.h"
#include "dialogs/CtlPreview.h"
#include "dialogs/CtlSlider.h"
#include "dialogs/wFormBasic.h"
#include "dialogs/wFormDialog.h"
#include "foundation/Basic.h"
#include "support/ImgFixtures.h"

using DialogTest::WithApp;

namespace {

class ControlsTest : public WithApp {
 protected:
  void SetUp() override {
    WithApp::SetUp();
    mark = Basic::MemMark();
    holder = std::make_unique<QWidget>();
    holder->resize(400, 300);
  }
  void TearDown() override {
    holder.reset();
    EXPECT_EQ(Basic::MemMark(), mark) << "tracked blocks left behind";
    WithApp::TearDown();
  }
  void Show() {
    holder->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(holder.get()));
  }
  int32_t mark = 0;
  std::unique_ptr<QWidget> holder;
};

// A w x h 24-bit picture: left half red, right half blue (B,G,R order).
void SplitPicture(ImgBasic::Qimg* img, int32_t w, int32_t h) {
  std::vector<uint8_t> bytes;
  for (int32_t y = 0; y < h; y++)
    for (int32_t x = 0; x < w; x++) {
      const bool left = x < w / 2;
      bytes.insert(bytes.end(), {uint8_t(left ? 0 : 255), 0, uint8_t(left ? 255 : 0)});
    }
  TestSupport::Fill(img, w, h, 24, bytes);
}

}  // namespace

TEST_F(ControlsTest, TrackBarReportsEveryDragMoveThenTheReleaseAsFinal) {
  auto* old = new QSlider(Qt::Horizontal, holder.get());
  old->setGeometry(10, 10, 300, 25);
  old->setRange(0, 10);
  old->setTickPosition(QSlider::TicksBelow);
  std::vector<std::pair<int, bool>> seen;
  CtlEx::QTrackBar2* bar = nullptr;
  bar = CtlEx::CloneTrackBar2(old, true, [&] { seen.push_back({bar->value(), bar->notTracking}); });
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->geometry(), QRect(10, 10, 300, 25));
  EXPECT_EQ(bar->tickPosition(), QSlider::TicksBelow);
  EXPECT_EQ(bar->parentWidget(), holder.get());
  Show();

  DialogTest::PressAndDragTo(bar, 3);
  ASSERT_EQ(bar->value(), 3);
  ASSERT_EQ(seen.size(), 3u);  // 1, 2, 3 while dragging
  for (size_t i = 0; i < seen.size(); i++)
    EXPECT_EQ(seen[i], std::make_pair(int(i) + 1, false));
  DialogTest::Release(bar);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen.back(), std::make_pair(3, true));

  // A keyboard step is finished as it arrives.
  bar->setFocus();
  QTest::keyClick(bar, Qt::Key_Right);
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen.back(), std::make_pair(4, true));
}

TEST_F(ControlsTest, SliderRecordMapsPositionsToValues) {
  auto* bar = new QScrollBar(Qt::Horizontal, holder.get());
  auto* edit = new QLineEdit(holder.get());
  CtlSlider::SliderRec rec;
  CtlSlider::Slider_Init(rec, bar, edit);
  ASSERT_NE(rec.scrollBar, nullptr);
  EXPECT_TRUE(edit->isReadOnly());
  EXPECT_EQ(edit->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(rec.max, 100.0);
  EXPECT_EQ(rec.positions, 100);

  CtlSlider::Slider_Prepare(rec, 0, 0, 100, 1, 10);
  EXPECT_EQ(rec.scrollBar->maximum(), 100);
  EXPECT_EQ(rec.scrollBar->pageStep(), 10);
  rec.scrollBar->setValue(37);
  EXPECT_EQ(CtlSlider::Slider_GetFloat(rec), 37.0);
  EXPECT_EQ(edit->text(), "37");
  EXPECT_TRUE(rec.userChange);  // no mouse held: a finished change

  // Two decimals: every position reads its own step, also where the binary
  // product falls just below it (29 x 0.01, 57 x 0.01).
  CtlSlider::Slider_Prepare(rec, 2, 0, 1, 0.01, 0.1);
  EXPECT_EQ(rec.positions, 100);
  for (int pos : {29, 37, 57, 100}) {
    rec.scrollBar->setValue(pos);
    EXPECT_EQ(edit->text(), QString::number(pos / 100.0, 'f', 2)) << pos;
    EXPECT_DOUBLE_EQ(rec.value, pos / 100.0);
  }
  CtlSlider::Slider_SetValue(rec, 5.0);  // limited to the range
  EXPECT_EQ(rec.value, 1.0);
  EXPECT_EQ(rec.scrollBar->value(), 100);
  EXPECT_EQ(edit->text(), "1.00");

  // max below min: an empty range, a disabled bar, no positions for step 0.
  CtlSlider::Slider_Prepare(rec, 0, 5, 2, 0, 1);
  EXPECT_EQ(rec.max, 5.0);
  EXPECT_EQ(rec.positions, 0);
  EXPECT_FALSE(rec.scrollBar->isEnabled());
  CtlSlider::Slider_Done(rec);
  EXPECT_EQ(rec.scrollBar, nullptr);
}

TEST_F(ControlsTest, PreviewFitsAndCentresTheImageInThePanel) {
  auto* panel = new QWidget(holder.get());
  panel->setGeometry(0, 0, 322, 242);
  CtlPreview::PreviewRec preview;
  CtlPreview::Preview_Init(preview, panel, 1);
  ASSERT_NE(preview.display, nullptr);
  EXPECT_EQ(preview.display->geometry(), QRect(1, 1, 4, 4));
  Show();

  ImgBasic::Qimg small, large, empty;
  SplitPicture(&small, 100, 50);
  SplitPicture(&large, 640, 480);
  CtlPreview::Preview_Show(preview, &small);
  EXPECT_EQ(preview.display->geometry(), QRect(111, 96, 100, 50));
  const QImage shownSmall = preview.display->grab().toImage();
  EXPECT_EQ(shownSmall.pixelColor(10, 10), QColor(255, 0, 0));
  EXPECT_EQ(shownSmall.pixelColor(90, 40), QColor(0, 0, 255));

  CtlPreview::Preview_Show(preview, &large);
  EXPECT_EQ(preview.display->geometry(), QRect(1, 1, 320, 240));
  const QImage shown = preview.display->grab().toImage();
  EXPECT_EQ(shown.pixelColor(20, 120), QColor(255, 0, 0));
  EXPECT_EQ(shown.pixelColor(300, 120), QColor(0, 0, 255));

  CtlPreview::Preview_Show(preview, &empty);  // nothing to show: unchanged
  EXPECT_EQ(preview.display->geometry(), QRect(1, 1, 320, 240));
  ImgBasic::ImgFree(&small);
  ImgBasic::ImgFree(&large);

  // Without an image the control shows its colour.
  CtlDisplay::_Display_ReleaseImage(preview.display);
  CtlPreview::Preview_SetColor(preview, 0x00FF00);
  EXPECT_EQ(preview.display->grab().toImage().pixelColor(5, 5), QColor(0, 255, 0));
  CtlPreview::Preview_Done(preview);
  EXPECT_EQ(preview.display, nullptr);
}

TEST_F(ControlsTest, DisplayDrawsAnEightBitImageThroughItsPalette) {
  ImgBasic::Qimg img;
  TestSupport::Fill(&img, 2, 1, 8, {0, 1});
  img.palette[0 * 3 + 1] = 200;  // entry 0 green (B,G,R)
  img.palette[1 * 3 + 0] = 100;  // entry 1 blue
  auto* display = CtlDisplay::Display_Create_VCL(holder.get(), 0, 0, 2, 1);
  Show();
  CtlDisplay::Display_ShowImg(display, &img);
  ImgBasic::ImgFree(&img);  // the control keeps its own copy
  const QImage shown = display->grab().toImage();
  EXPECT_EQ(shown.pixelColor(0, 0), QColor(0, 200, 0));
  EXPECT_EQ(shown.pixelColor(1, 0), QColor(0, 0, 100));
  CtlDisplay::Display_Free(display);
  EXPECT_EQ(display, nullptr);
  CtlDisplay::Display_Free(display);  // none is ignored
}

TEST_F(ControlsTest, PopupReturnsTheChosenValueOrAuto) {
  std::vector<QString> captions;
  CtlPopup::SetPopupHook([&](QMenu* menu) -> QAction* {
    QAction* last = nullptr;
    for (QAction* a : menu->actions()) {
      captions.push_back(a->isSeparator() ? "-" : a->text());
      if (!a->isSeparator()) last = a;
    }
    return last;
  });
  EXPECT_EQ(CtlPopup::PopupDisplay(10, 10, ""), Basic::K_AUTO);
  EXPECT_TRUE(captions.empty()) << "no menu is shown for an empty list";

  std::string items;
  CtlPopup::PopupAddItem(items, "A", 0);
  CtlPopup::PopupAddItem(items, "-", 1);
  CtlPopup::PopupAddItem(items, "B|x", 2);
  EXPECT_EQ(items, "A|100|-|101|Bx|102|");
  EXPECT_EQ(CtlPopup::PopupDisplay(-1, -1, items), 2);
  EXPECT_EQ(captions, (std::vector<QString>{"A", "-", "Bx"}));

  CtlPopup::SetPopupHook([](QMenu*) -> QAction* { return nullptr; });
  EXPECT_EQ(CtlPopup::PopupDisplay(0, 0, items), Basic::K_AUTO);
}

TEST_F(ControlsTest, BaseFormAppliesOnlyTheLimitsThatAreSet) {
  wFormDialog::TFormDialog form;
  form.resize(300, 200);
  form.Loaded();
  EXPECT_EQ(form.DesignClientWidth(), 300);
  EXPECT_EQ(form.DesignClientHeight(), 200);
  EXPECT_EQ(form.minimumSize(), QSize(0, 0));
  EXPECT_EQ(form.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
  form.minTrackWidth = 250;
  form.maxTrackHeight = 220;
  form.ApplyTrackLimits();
  form.resize(100, 400);
  EXPECT_EQ(form.size(), QSize(250, 220));
  EXPECT_EQ(form.font().pixelSize(), 14);

  wFormBasic::SetModalHook([](QDialog* d) { return int32_t(d->width()); });
  EXPECT_EQ(wFormBasic::ShowModal(&form), 250);
}
