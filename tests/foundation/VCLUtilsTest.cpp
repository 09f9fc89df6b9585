#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <cstdlib>
#include <memory>

#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "foundation/VCLUtils.h"
#include "foundation/WinUtils.h"
#include "platform/base/UiLayer.h"

using namespace VCLUtils;

namespace {

// Every box goes to a silent, scripted back end.
class VclTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui.echo = false;
    Ui::SetBackend(&ui);
  }
  void TearDown() override { Ui::SetBackend(nullptr); }
  Ui::HeadlessBackend ui;
};

class VclWidgetTest : public VclTest {
 protected:
  void SetUp() override {
    VclTest::SetUp();
    app = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override {
    app.reset();
    VclTest::TearDown();
  }
  int argc = 1;
  char name[16] = "qor_tests";
  char* argv[2] = {name, nullptr};
  std::unique_ptr<QApplication> app;
};

}  // namespace

TEST_F(VclTest, AppTitleIsTheProgramName) {
  EXPECT_EQ(_GetAppTitle(), "qor_tests");
}

TEST_F(VclTest, YesNoDefaults) {
  EXPECT_EQ(YesNo("Overwrite?", 2), "N");
  EXPECT_EQ(YesNo("Overwrite?", 1), "Y");
  ui.answers = {false, true};
  EXPECT_EQ(YesNo("Again?", 1), "N");
  EXPECT_EQ(YesNo("Again?", 0), "Y");
  ASSERT_EQ(ui.shown.size(), 4u);
  EXPECT_TRUE(ui.shown[0].question);
  EXPECT_FALSE(ui.shown[0].defaultYes);
  EXPECT_TRUE(ui.shown[1].defaultYes);
  EXPECT_EQ(ui.shown[0].icon, Ui::kIconQuestion);
  EXPECT_EQ(ui.shown[0].caption, "qor_tests");
  EXPECT_EQ(ui.shown[2].text, "Again?");
}

TEST_F(VclTest, ErrorBoxesAndCursor) {
  ShowErrorBox("Bad thing");
  WinUtils::DvlShowError("Worse thing");
  ASSERT_EQ(ui.shown.size(), 2u);
  EXPECT_EQ(ui.shown[0].caption, "qor_tests");
  EXPECT_EQ(ui.shown[0].icon, Ui::kIconError);
  EXPECT_EQ(ui.shown[1].text, "Worse thing");
  EXPECT_EQ(ui.shown[1].caption, "Error");
  EXPECT_EQ(ui.shown[1].icon, Ui::kIconError);
  CursorWait();
  EXPECT_TRUE(ui.waitCursor);
  CursorNormal();
  EXPECT_FALSE(ui.waitCursor);
  ProcessMessages();
  EXPECT_EQ(ui.processCalls, 1);
  EXPECT_EQ(WinUtils::GetWindowHandle(), nullptr);
}

TEST_F(VclTest, GetExceptionTextInsideAHandler) {
  try {
    throw std::runtime_error("disk on fire");
  } catch (...) {
    const std::string text = GetExceptionText();
    EXPECT_NE(text.find("disk on fire"), std::string::npos);
  }
}

TEST_F(VclTest, TListFreeAllReleasesTrackedItems) {
  const int32_t mark = Basic::MemMark();
  TList* list = new TList(3, nullptr);
  for (void*& item : *list)
    Basic::MemAlloc(item, 10, __LINE__, Basic::kMemPlain, "Test.item");
  EXPECT_EQ(Basic::MemMark(), mark + 3);
  TList_FreeAll_MemFree(list);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(Basic::MemMark(), mark);
  TList_FreeAll_MemFree(list);  // nil stays nil
}

TEST_F(VclTest, TListTestPack) {
  int a = 0, b = 0;
  TList list;
  list.reserve(100);
  list = {&a, nullptr, &b};
  list.reserve(100);
  TList_TestPack(&list, 200);  // within the slack: untouched
  EXPECT_EQ(list.size(), 3u);
  TList_TestPack(&list, 10);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0], &a);
  EXPECT_EQ(list[1], &b);
  EXPECT_EQ(list.capacity(), 2u);
}

TEST_F(VclTest, TempFolder) {
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  const int32_t mark = Basic::MemMark();
  setenv("TMPDIR", "/var/tmp", 1);
  EXPECT_EQ(WinUtils::GetTempFolder(), "/var/tmp/");
  setenv("TMPDIR", "/scratch/", 1);
  EXPECT_EQ(WinUtils::GetTempFolder(), "/scratch/");
  unsetenv("TMPDIR");
  EXPECT_EQ(WinUtils::GetTempFolder(), "/tmp/");
  setenv("TMPDIR", std::string(2000, 'x').c_str(), 1);
  EXPECT_EQ(WinUtils::GetTempFolder(), "");
  EXPECT_EQ(Basic::MemMark(), mark);
  if (old)
    setenv("TMPDIR", saved.c_str(), 1);
  else
    unsetenv("TMPDIR");
}

TEST_F(VclWidgetTest, EditIntegers) {
  QLineEdit edit;
  TEdit_SetInt(&edit, -12);
  EXPECT_EQ(edit.text().toStdString(), "-12");
  EXPECT_EQ(TEdit_GetInt(&edit, 5), -12);
  edit.setText(" 17 ");
  EXPECT_EQ(TEdit_GetInt(&edit, 5), 17);
  edit.setText("$1F");
  EXPECT_EQ(TEdit_GetInt(&edit, 5), 31);
  for (const char* bad : {"", "abc", "12a", "99999999999", "-"}) {
    edit.setText(bad);
    EXPECT_EQ(TEdit_GetInt(&edit, 5), 5) << bad;
  }
  edit.setText("-2147483648");
  EXPECT_EQ(TEdit_GetInt(&edit, 5), INT32_MIN);
}

TEST_F(VclWidgetTest, EnableWalksTheChildren) {
  QWidget form;
  auto* layout = new QVBoxLayout(&form);
  auto* group = new QGroupBox("Options");
  auto* inner = new QVBoxLayout(group);
  auto* edit = new QLineEdit;
  auto* check = new QCheckBox("Loop");
  inner->addWidget(edit);
  inner->addWidget(check);
  auto* combo = new QComboBox;
  auto* memo = new QPlainTextEdit;
  layout->addWidget(group);
  layout->addWidget(combo);
  layout->addWidget(memo);

  const QPalette app = QApplication::palette();
  const QColor window = app.color(QPalette::Active, QPalette::Base);
  const QColor face = app.color(QPalette::Active, QPalette::Button);

  TWinControl_Enable(&form, false);
  for (QWidget* w : std::initializer_list<QWidget*>{group, edit, check, combo, memo})
    EXPECT_TRUE(w->testAttribute(Qt::WA_Disabled));
  EXPECT_EQ(edit->palette().color(QPalette::Base), face);
  EXPECT_EQ(combo->palette().color(QPalette::Base), face);
  EXPECT_EQ(memo->palette().color(QPalette::Base), face);

  TWinControl_Enable(&form, true);
  for (QWidget* w : std::initializer_list<QWidget*>{group, edit, check, combo, memo})
    EXPECT_FALSE(w->testAttribute(Qt::WA_Disabled));
  EXPECT_EQ(edit->palette().color(QPalette::Base), window);

  _TControl_Enable(check, false);
  EXPECT_FALSE(check->isEnabled());
  EXPECT_TRUE(edit->isEnabled());
}

TEST_F(VclWidgetTest, ClearDCFillsAndRestoresTheBrush) {
  QImage img(10, 10, QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setBrush(Qt::blue);
  ClearDC(&p, 2, 3, 4, 5, 0x000000FFu);  // a Windows red
  EXPECT_EQ(p.brush().color(), QColor(Qt::blue));
  p.end();
  EXPECT_EQ(img.pixelColor(2, 3), QColor(255, 0, 0));
  EXPECT_EQ(img.pixelColor(5, 7), QColor(255, 0, 0));
  EXPECT_EQ(img.pixelColor(6, 7), QColor(Qt::white));
  EXPECT_EQ(img.pixelColor(5, 8), QColor(Qt::white));
  EXPECT_EQ(img.pixelColor(1, 3), QColor(Qt::white));
}

TEST_F(VclWidgetTest, AppTitleOfAQtHost) {
  QApplication::setApplicationDisplayName("Quill Host");
  EXPECT_EQ(_GetAppTitle(), "Quill Host");
}
