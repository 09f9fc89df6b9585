// The picture control, the full-screen viewer with its printing and the image
// viewer's grid, through the real windows and the real library; pictures are
// made and read back by peers (ImageMagick, pdftoppm) where one is at hand.

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <functional>

#include "AppTestSupport.h"
#include "AutoPic.h"
#include "PropertyPage1.h"
#include "frmFullScreen.h"
#include "frmThumbs.h"
#include "modMain.h"

namespace {

using apptest::AppTest;
constexpr double kTpp = modMain::kTwipsPerPixel;

bool HasPeer(const char* program) { return !QStandardPaths::findExecutable(program).isEmpty(); }

// ---- the image viewer's grid and scroll bars, without a window

TEST(ImageViewerRules, GridFillsARowThenStartsTheNextOneAndGrowsByWholeRows) {
  // 171 x 128 pixel pictures in a grid 8000 twips wide: three to a row.
  const double w = 171 * kTpp, h = 128 * kTpp;
  EXPECT_DOUBLE_EQ(frmThumbs::FirstRowHeight(h), 30 + h + 15);
  std::vector<frmThumbs::GridPlace> places;
  double left = 15, top = frmThumbs::kFirstRowTop;
  for (int i = 1; i < 7; ++i) {
    places.push_back(frmThumbs::NextGridPlace(left, top, w, h, 8000));
    left = places.back().left;
    top = places.back().top;
  }
  const double secondRow = 30 + h + 15, thirdRow = secondRow + h + 15;
  const double expected[][2] = {{15 + w + 15, 30},     {15 + 2 * (w + 15), 30},
                                {15, secondRow},       {15 + w + 15, secondRow},
                                {15 + 2 * (w + 15), secondRow}, {15, thirdRow}};
  for (size_t i = 0; i < places.size(); ++i) {
    EXPECT_DOUBLE_EQ(places[i].left, expected[i][0]) << i;
    EXPECT_DOUBLE_EQ(places[i].top, expected[i][1]) << i;
    // Only the first picture of a row makes the grid taller.
    EXPECT_EQ(places[i].gridHeight.has_value(), places[i].left == 15) << i;
  }
  EXPECT_DOUBLE_EQ(*places[2].gridHeight, secondRow + h + 15);
  EXPECT_DOUBLE_EQ(*places[5].gridHeight, thirdRow + h + 15);
  // A grid narrower than two pictures holds one to a row.
  EXPECT_DOUBLE_EQ(frmThumbs::NextGridPlace(15, 30, w, h, 2 * w).left, 15);

  // Another column fits only when the window has room for it beside the grid.
  EXPECT_FALSE(frmThumbs::AnotherColumnFits(w, 8000, 13000, 3040));
  EXPECT_TRUE(frmThumbs::AnotherColumnFits(w, 8000, 14000, 3040));
}

TEST(ImageViewerRules, ScrollBarsShowForTheGridsOverhangAndCoverAllOfIt) {
  // A 9600 x 7200 window, bars 240 thick, the grid at 3040.
  const auto place = [](double gridWidth, double gridHeight) {
    return frmThumbs::PlaceScrollBars(9600, 7200, 240, 240, 3040, gridWidth, gridHeight);
  };
  struct Case {
    double gridWidth, gridHeight;
    bool hShown, vShown;
    int hMaximum, vMaximum;
  } cases[] = {
      {6000, 5000, false, false, 0, 0},           // the grid fits
      {6000, 12000, false, true, 0, 4800},        // taller
      {6500, 12000, true, true, 180, 5040},       // taller; the bar covers its edge
      {7000, 3000, true, false, 440, 0},          // wider
      {6000, 100000, false, true, 0, 92800},      // beyond 16 bits
  };
  for (const Case& c : cases) {
    const frmThumbs::ScrollBars bars = place(c.gridWidth, c.gridHeight);
    const std::string what = std::to_string(c.gridWidth) + " x " + std::to_string(c.gridHeight);
    EXPECT_EQ(bars.hShown, c.hShown) << what;
    EXPECT_EQ(bars.vShown, c.vShown) << what;
    EXPECT_DOUBLE_EQ(bars.hTop, c.hShown ? 7200 - 240 : 7200 + 240) << what;
    EXPECT_DOUBLE_EQ(bars.vLeft, c.vShown ? 9600 - 240 : 9600) << what;
    EXPECT_EQ(bars.hMaximum, c.hMaximum) << what;
    EXPECT_EQ(bars.vMaximum, c.vMaximum) << what;
  }
  EXPECT_EQ(frmThumbs::StepsFor(1600).small, 101);
  EXPECT_EQ(frmThumbs::StepsFor(1600).large, 401);
  EXPECT_EQ(frmThumbs::StepsFor(0).small, 1);
  EXPECT_EQ(frmThumbs::StepsFor(0).large, 1);
}

// ---- the picture control

TEST(PictureControlRules, TheLongerSideFillsTheFrameAndAnEmptyPictureLeavesItEmpty) {
  const auto landscape = AutoPic::Fit(400 * kTpp, 300 * kTpp, 1995, 1725);
  ASSERT_TRUE(landscape);
  EXPECT_DOUBLE_EQ(landscape->width, 1995);
  EXPECT_DOUBLE_EQ(landscape->height, 1496.25);
  EXPECT_DOUBLE_EQ(landscape->top, 114.375);
  EXPECT_DOUBLE_EQ(landscape->left, 0);

  const auto portrait = AutoPic::Fit(300 * kTpp, 400 * kTpp, 1995, 1725);
  ASSERT_TRUE(portrait);
  EXPECT_DOUBLE_EQ(portrait->width, 1293.75);
  EXPECT_DOUBLE_EQ(portrait->height, 1725);
  EXPECT_DOUBLE_EQ(portrait->left, 1995 / 2.0 - 1293.75 / 2);
  EXPECT_DOUBLE_EQ(portrait->top, 0);

  // Wider than high but taller than the frame allows: clipped top and bottom.
  const auto clipped = AutoPic::Fit(1000, 900, 1995, 1500);
  ASSERT_TRUE(clipped);
  EXPECT_DOUBLE_EQ(clipped->height, 1795.5);
  EXPECT_DOUBLE_EQ(clipped->top, 750 - 1795.5 / 2);

  // Small pictures are enlarged; a square one fills the height.
  const auto square = AutoPic::Fit(10, 10, 1995, 1725);
  ASSERT_TRUE(square);
  EXPECT_DOUBLE_EQ(square->width, 1725);
  EXPECT_FALSE(AutoPic::Fit(0, 300, 1995, 1725));
  EXPECT_FALSE(AutoPic::Fit(400, 0, 1995, 1725));
}

class PictureControlTest : public AppTest {};

TEST_F(PictureControlTest, LoadFitsThePictureAndOnlyThePictureAnswersClicks) {
  const QString file = TempPath("wide.bmp");
  ASSERT_TRUE(apptest::SaveBmp(apptest::RampPicture(400, 300), file));
  AutoPic::Control control;
  control.resize(200, modMain::Px(1725));
  control.show();
  int clicks = 0, doubleClicks = 0;
  control.Click = [&] { ++clicks; };
  control.DblClick = [&] { ++doubleClicks; };

  EXPECT_FALSE(control.Load(file));
  EXPECT_EQ(control.Tag, file);
  EXPECT_EQ(control.picBack()->width(), modMain::Px(1995));  // keeps its width
  EXPECT_EQ(control.picBack()->height(), control.height());
  EXPECT_TRUE(control.Image1()->isVisible());
  EXPECT_EQ(control.Image1()->geometry(),
            QRect(0, modMain::Px(114.375), modMain::Px(1995), modMain::Px(1496.25)));
  EXPECT_EQ(apptest::Compare(control.picSource(), apptest::RampPicture(400, 300), 0).maxChannel, 0);

  QTest::mouseClick(control.Image1(), Qt::LeftButton);
  EXPECT_EQ(clicks, 1);
  QTest::mouseDClick(control.Image1(), Qt::LeftButton);
  EXPECT_EQ(doubleClicks, 1);
  // The frame above the picture is margin: nothing is raised.
  QTest::mouseClick(control.picBack(), Qt::LeftButton, {}, QPoint(60, 2));
  EXPECT_EQ(clicks, 1);

  // An unreadable file leaves an empty frame; the answer stays false.
  const QString broken = TempPath("broken.bmp");
  QFile out(broken);
  ASSERT_TRUE(out.open(QIODevice::WriteOnly));
  out.write("BM not a bitmap");
  out.close();
  EXPECT_FALSE(control.Load(broken));
  EXPECT_FALSE(control.Image1()->isVisible());
  EXPECT_TRUE(control.picSource().isNull());
  EXPECT_EQ(control.Tag, broken);
}

TEST_F(PictureControlTest, PropertiesStoreOnlyChangesAndThePageEditsTheFirstSelectedControl) {
  AutoPic::Control control;
  AutoPic::PropertyBag bag;
  control.WriteProperties(bag);
  EXPECT_TRUE(bag.isEmpty());  // every value is its default
  EXPECT_TRUE(control.ChangedProperties().isEmpty());
  EXPECT_EQ(control.BorderStyle(), 1);

  control.SetBorderStyle(0);
  control.SetBackColor(QColor(10, 20, 30));
  EXPECT_EQ(control.ChangedProperties(), QStringList({"BorderStyle", "BackColor"}));
  control.WriteProperties(bag);
  EXPECT_EQ(bag.value("BorderStyle").toInt(), 0);
  EXPECT_EQ(bag.value("BackColor").value<QColor>(), QColor(10, 20, 30));
  EXPECT_FALSE(bag.contains("Enabled"));

  AutoPic::Control copy;
  copy.ReadProperties(bag);
  EXPECT_EQ(copy.BorderStyle(), 0);
  EXPECT_EQ(copy.BackColor(), QColor(10, 20, 30));
  EXPECT_TRUE(copy.Enabled());

  PropertyPage1::Page page;
  AutoPic::Control other;
  page.SelectedControls = {&copy, &other};
  page.PropertyPage_SelectionChanged();
  EXPECT_EQ(page.txtBorderStyle->text(), "0");
  EXPECT_TRUE(page.chkEnabled->isChecked());
  EXPECT_FALSE(page.Changed);
  page.txtBorderStyle->setText("1");
  page.txtText->setText("Sunset");
  page.chkEnabled->click();
  EXPECT_TRUE(page.Changed);
  page.PropertyPage_ApplyChanges();
  EXPECT_EQ(copy.BorderStyle(), 1);
  EXPECT_FALSE(copy.Enabled());
  EXPECT_EQ(copy.toolTip(), "Sunset");
  EXPECT_TRUE(other.Enabled());  // only the first selected control
}

// ---- the full-screen viewer

TEST(FullScreenRules, LayoutFitAndPagePlacement) {
  // 800 x 600 pixels, toolbar 28, bars 16.
  const frmFullScreen::Room room{800 * kTpp, 600 * kTpp, 28 * kTpp, 16 * kTpp, 16 * kTpp};
  const auto big = frmFullScreen::LayOutNatural(room, 5000 * kTpp, 4000 * kTpp);
  EXPECT_DOUBLE_EQ(big.left, 0);
  EXPECT_DOUBLE_EQ(big.top, 28 * kTpp);  // below the toolbar
  EXPECT_TRUE(big.h.shown);
  EXPECT_TRUE(big.v.shown);
  // Far beyond 16 bits: 5000 - 784 and 4000 - 556 pixels.
  EXPECT_EQ(big.h.maximum, 4216 * 15);
  EXPECT_EQ(big.v.maximum, 3444 * 15);
  EXPECT_EQ(big.h.smallChange, 4216 * 15 / 16 + 1);
  EXPECT_EQ(big.h.largeChange, 4216 * 15 / 4 + 1);

  const auto small = frmFullScreen::LayOutNatural(room, 200 * kTpp, 100 * kTpp);
  EXPECT_FALSE(small.h.shown);
  EXPECT_FALSE(small.v.shown);
  EXPECT_DOUBLE_EQ(small.left, 300 * kTpp);
  EXPECT_DOUBLE_EQ(small.top, (600 - 28) * kTpp / 2 - 50 * kTpp);

  // Fitted to the height: a picture 4 times wider than high passes the sides.
  const auto fit = frmFullScreen::FitToHeight(room, 4000, 1000);
  ASSERT_TRUE(fit);
  EXPECT_DOUBLE_EQ(fit->height, 556 * kTpp - 120);
  EXPECT_DOUBLE_EQ(fit->width, 4 * fit->height);
  EXPECT_LT(fit->left, 0);
  EXPECT_DOUBLE_EQ(fit->top, 28 * kTpp + 60);
  EXPECT_FALSE(frmFullScreen::FitToHeight(room, 4000, 0));

  // A4-like printable area 1000 x 1400: portrait fills the width, landscape
  // keeps a tenth of the width as margin on the fitted side.
  const auto portrait = frmFullScreen::PlaceOnPage(300, 200, false, 1000, 1400, 0, 0);
  ASSERT_TRUE(portrait);
  EXPECT_EQ(portrait->width, 1000);
  EXPECT_EQ(portrait->height, 667);  // 666.67
  EXPECT_EQ(portrait->y, 366);       // 366.5 to the even neighbour
  const auto landscape = frmFullScreen::PlaceOnPage(300, 200, true, 1400, 1000, 50, 40);
  ASSERT_TRUE(landscape);
  EXPECT_EQ(landscape->width, 1260);
  EXPECT_EQ(landscape->height, 840);
  EXPECT_EQ(landscape->x, 70 + 50);
  EXPECT_EQ(landscape->y, 80 + 40);
  const auto tall = frmFullScreen::PlaceOnPage(100, 400, true, 1400, 1000, 0, 0);
  ASSERT_TRUE(tall);
  EXPECT_EQ(tall->height, 860);
  EXPECT_EQ(tall->width, 215);
  EXPECT_FALSE(frmFullScreen::PlaceOnPage(0, 10, false, 100, 100, 0, 0));
}

class FullScreenTest : public AppTest {};

TEST_F(FullScreenTest, NaturalAndFittedViewsOfA5000By4000Picture) {
  const QImage picture = apptest::RampPicture(5000, 4000);
  bool ran = false;
  apptest::WithViewer([&](frmFullScreen::Form* v) {
    ran = true;
    EXPECT_EQ(v->geometry().topLeft(), QPoint(0, 0));
    EXPECT_TRUE(v->Button(1)->isChecked());
    EXPECT_EQ(v->Picture1->size(), QSize(5000, 4000));
    EXPECT_EQ(v->Picture1->pos(), QPoint(0, v->tbTop->height()));
    ASSERT_TRUE(v->HScroll1->isVisible());
    ASSERT_TRUE(v->VScroll1->isVisible());
    EXPECT_GT(v->HScroll1->maximum(), 32767);
    // Scrolled to their ends, the picture's far edges meet the bars.
    v->HScroll1->setValue(v->HScroll1->maximum());
    v->VScroll1->setValue(v->VScroll1->maximum());
    EXPECT_EQ(v->Picture1->geometry().right() + 1, v->VScroll1->x());
    EXPECT_EQ(v->Picture1->geometry().bottom() + 1, v->HScroll1->y());

    v->tbTop_ButtonClick(2);
    EXPECT_TRUE(v->Button(2)->isChecked());
    EXPECT_FALSE(v->Button(1)->isChecked());
    EXPECT_FALSE(v->Picture1->isVisible());
    EXPECT_FALSE(v->HScroll1->isVisible());
    EXPECT_FALSE(v->VScroll1->isVisible());
    const int room = v->height() - v->tbTop->height() - v->HScroll1->height();
    EXPECT_EQ(v->Image1->height(), modMain::Px(room * kTpp - 120));
    EXPECT_NEAR(v->Image1->width(), v->Image1->height() * 1.25, 1);
    EXPECT_NEAR(v->Image1->x() + v->Image1->width() / 2.0, v->width() / 2.0, 1);

    v->tbTop_ButtonClick(1);
    EXPECT_TRUE(v->Picture1->isVisible());
    EXPECT_FALSE(v->Image1->isVisible());
    EXPECT_EQ(v->HScroll1->value(), 0);
    // Any key closes the viewer.
    QTest::keyClick(v, Qt::Key_A);
    EXPECT_FALSE(v->isVisible());
  });
  frmFullScreen::Show(nullptr, nullptr, picture, QString());
  EXPECT_TRUE(ran);
}

TEST_F(FullScreenTest, ASmallPictureIsCentredWithoutBarsAndAClickCloses) {
  apptest::WithViewer([&](frmFullScreen::Form* v) {
    EXPECT_FALSE(v->HScroll1->isVisible());
    EXPECT_FALSE(v->VScroll1->isVisible());
    EXPECT_EQ(v->Picture1->x(), v->width() / 2 - 60);
    QTest::mouseClick(v->Picture1, Qt::LeftButton);
    EXPECT_FALSE(v->isVisible());
  });
  frmFullScreen::Show(nullptr, nullptr, apptest::RampPicture(120, 80), QString());
}

// The printed page as pixels, and the box of the picture on it.
struct PrintedPage {
  QImage page;
  QRect box;  // the black outline, inclusive
};

PrintedPage ReadPrintedPage(const QString& pdf, const QString& prefix) {
  PrintedPage printed;
  if (!apptest::RunPeer("pdftoppm", {"-r", "60", "-png", "-singlefile", pdf, prefix}))
    return printed;
  printed.page = QImage(prefix + ".png").convertToFormat(QImage::Format_RGB32);
  int left = printed.page.width(), top = printed.page.height(), right = -1, bottom = -1;
  for (int y = 0; y < printed.page.height(); ++y)
    for (int x = 0; x < printed.page.width(); ++x)
      if (qGray(printed.page.pixel(x, y)) < 200) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  if (right >= 0) printed.box = QRect(QPoint(left, top), QPoint(right, bottom));
  return printed;
}

TEST_F(FullScreenTest, PrintingPutsThePictureCentredOnThePageInThePresetOrientation) {
  if (!HasPeer("pdftoppm")) GTEST_SKIP() << "no pdftoppm";
  // Dark enough everywhere to be told from the white page.
  QImage picture = apptest::RampPicture(300, 200);
  picture.fill(QColor(40, 90, 160));
  for (int x = 0; x < 150; ++x)
    for (int y = 0; y < 200; ++y) picture.setPixelColor(x, y, QColor(150, 30, 30));

  const QString landscapePdf = TempPath("landscape.pdf");
  const QString portraitPdf = TempPath("portrait.pdf");
  dialogs.printAnswers.push_back({landscapePdf, std::nullopt});
  dialogs.printAnswers.push_back({portraitPdf, QPageLayout::Portrait});
  apptest::WithViewer([&](frmFullScreen::Form* v) {
    v->tbTop_ButtonClick(5);
    v->tbTop_ButtonClick(5);
    v->tbTop_ButtonClick(5);  // no answer left: cancelled, nothing printed
    EXPECT_TRUE(v->isVisible());
  });
  frmFullScreen::Show(nullptr, nullptr, picture, QString());
  ASSERT_EQ(dialogs.printPresets.size(), 3u);
  EXPECT_EQ(dialogs.printPresets[0], QPageLayout::Landscape);  // wider than high

  const PrintedPage wide = ReadPrintedPage(landscapePdf, TempPath("landscape"));
  ASSERT_FALSE(wide.page.isNull());
  ASSERT_TRUE(wide.box.isValid());
  EXPECT_GT(wide.page.width(), wide.page.height());
  EXPECT_NEAR(double(wide.box.width()) / wide.box.height(), 1.5, 0.03);
  // Centred both ways.
  EXPECT_NEAR(wide.box.left(), wide.page.width() - 1 - wide.box.right(), 2);
  EXPECT_NEAR(wide.box.top(), wide.page.height() - 1 - wide.box.bottom(), 2);
  // The picture inside its outline.
  const QImage inside = wide.page.copy(wide.box.adjusted(2, 2, -2, -2));
  const QImage expected = picture.scaled(inside.size(), Qt::IgnoreAspectRatio,
                                         Qt::SmoothTransformation);
  const apptest::ImageDifference diff = apptest::Compare(inside, expected, 40);
  EXPECT_LT(diff.shareOver, 0.05);

  // In portrait the wide picture fills the printable width: no margin.
  const PrintedPage tall = ReadPrintedPage(portraitPdf, TempPath("portrait"));
  ASSERT_TRUE(tall.box.isValid());
  EXPECT_LT(tall.page.width(), tall.page.height());
  EXPECT_GT(double(tall.box.width()) / wide.box.width(), 0.9 * tall.page.width() / wide.page.width());
  EXPECT_NEAR(tall.box.left(), tall.page.width() - 1 - tall.box.right(), 2);
  EXPECT_FALSE(QFileInfo::exists(TempPath("never.pdf")));
}

}  // namespace
