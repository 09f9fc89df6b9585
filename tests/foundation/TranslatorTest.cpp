#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

#include "foundation/Translator.h"
#include "platform/base/UiLayer.h"

using namespace Translator;

namespace {

class TranTest : public ::testing::Test {
 protected:
  void SetUp() override { TranInit(); }
  void TearDown() override { TranFree(); }

  std::vector<std::string> Keys() {
    std::vector<std::string> k;
    for (int32_t i = 0; i < TranCount(); i++) k.push_back(TranKeyAt(i));
    return k;
  }
};

}  // namespace

TEST_F(TranTest, NoPairGivesTheTextItself) {
  EXPECT_EQ(TranGet("Invalid output file."), "Invalid output file.");
  EXPECT_EQ(TranGet(""), "");
}

TEST_F(TranTest, SetReplaceAndRemove) {
  TranSet("Cancel", "Abbrechen");
  EXPECT_EQ(TranGet("Cancel"), "Abbrechen");
  TranSet("Cancel", "Annuler");
  EXPECT_EQ(TranCount(), 1);
  EXPECT_EQ(TranGet("Cancel"), "Annuler");
  TranSet("Cancel", "");
  EXPECT_EQ(TranCount(), 0);
  EXPECT_EQ(TranGet("Cancel"), "Cancel");
  TranSet("Absent", "");  // nothing to remove, nothing added
  EXPECT_EQ(TranCount(), 0);
}

TEST_F(TranTest, CaseMattersAndOrderIsByByte) {
  TranSet("ok", "1");
  TranSet("OK", "2");
  TranSet("Ok", "3");
  EXPECT_EQ(TranCount(), 3);
  EXPECT_EQ(TranGet("ok"), "1");
  EXPECT_EQ(TranGet("OK"), "2");
  EXPECT_EQ(TranGet("Ok"), "3");
  TranSet("o", "4");
  TranSet("\xC3\xA9t\xC3\xA9", "5");  // bytes above 127 sort last
  TranSet("z", "6");
  EXPECT_EQ(Keys(), (std::vector<std::string>{"OK", "Ok", "o", "ok", "z",
                                              "\xC3\xA9t\xC3\xA9"}));
}

TEST_F(TranTest, DescendingInsertsEndSorted) {
  for (int i = 99; i >= 0; i--) {
    char key[8];
    std::snprintf(key, sizeof key, "k%02d", i);
    TranSet(key, std::string("v") + key);
  }
  ASSERT_EQ(TranCount(), 100);
  const auto keys = Keys();
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
  EXPECT_EQ(TranGet("k00"), "vk00");
  EXPECT_EQ(TranGet("k99"), "vk99");
  EXPECT_EQ(TranGet("k5"), "k5");
}

TEST_F(TranTest, RandomOrderMatchesASortedMap) {
  std::mt19937 rng(7);
  std::vector<std::string> all;
  for (int i = 0; i < 700; i++) all.push_back("key" + std::to_string(rng() % 500));
  for (const auto& k : all) TranSet(k, "t" + k);
  auto unique = all;
  std::sort(unique.begin(), unique.end());
  unique.erase(std::unique(unique.begin(), unique.end()), unique.end());
  EXPECT_EQ(Keys(), unique);
  for (const auto& k : unique) EXPECT_EQ(TranGet(k), "t" + k);
  // Removing keeps at most 256 spare slots.
  for (size_t i = 0; i < unique.size(); i += 1) {
    if (i % 3 == 0) continue;
    TranSet(unique[i], "");
    EXPECT_LE(TranCapacity() - static_cast<size_t>(TranCount()), 256u);
  }
  for (size_t i = 0; i < unique.size(); i++)
    EXPECT_EQ(TranGet(unique[i]), i % 3 == 0 ? "t" + unique[i] : unique[i]);
}

TEST_F(TranTest, ClearEmptiesAndTrims) {
  for (int i = 0; i < 50; i++) TranSet("x" + std::to_string(i), "y");
  TranClear();
  EXPECT_EQ(TranCount(), 0);
  EXPECT_EQ(TranCapacity(), 0u);
  EXPECT_EQ(TranGet("x1"), "x1");
  TranSet("a", "b");
  EXPECT_EQ(TranGet("a"), "b");
}

TEST(TranLifecycle, WithoutTheTableNothingBreaks) {
  TranFree();  // as after the library's stop
  EXPECT_EQ(TranCount(), 0);
  TranSet("a", "b");
  EXPECT_EQ(TranGet("a"), "a");
  TranClear();
  TranInit();
  TranSet("a", "b");
  EXPECT_EQ(TranGet("a"), "b");
  TranFree();
  EXPECT_EQ(TranGet("a"), "a");
}

namespace {

struct Form {
  QDialog dialog;
  QLabel* label;
  QPushButton* cancel;
  QCheckBox* check;
  QRadioButton* radio;
  QGroupBox* group;
  QTabWidget* tabs;
  QLabel* pageLabel;
  QComboBox* combo;
  QListWidget* list;
  QMenuBar* bar;
  QMenu* file;
  QAction* open;
  QAction* clear;

  Form() {
    dialog.setWindowTitle("Settings");
    auto* layout = new QVBoxLayout(&dialog);
    bar = new QMenuBar(&dialog);
    file = bar->addMenu("File");
    open = file->addAction("Open");
    QMenu* recent = file->addMenu("Recent");
    clear = recent->addAction("Clear");
    layout->setMenuBar(bar);
    label = new QLabel("Name");
    layout->addWidget(label);
    group = new QGroupBox("Options");
    auto* inner = new QVBoxLayout(group);
    check = new QCheckBox("Loop");
    radio = new QRadioButton("Fast");
    inner->addWidget(check);
    inner->addWidget(radio);
    layout->addWidget(group);
    tabs = new QTabWidget;
    auto* page = new QWidget;
    auto* pageLayout = new QVBoxLayout(page);
    pageLabel = new QLabel("Quality");
    pageLayout->addWidget(pageLabel);
    tabs->addTab(page, "General");
    tabs->addTab(new QWidget, "Audio");
    layout->addWidget(tabs);
    combo = new QComboBox;
    combo->addItems({"Low", "High"});
    combo->setCurrentIndex(1);
    layout->addWidget(combo);
    list = new QListWidget;
    list->addItems({"One", "Two"});
    list->setCurrentRow(1);
    layout->addWidget(list);
    cancel = new QPushButton("Cancel");
    layout->addWidget(cancel);
  }
};

std::string S(const QString& s) { return s.toStdString(); }

class TranWalkTest : public TranTest {
 protected:
  void SetUp() override {
    TranTest::SetUp();
    ui.echo = false;
    Ui::SetBackend(&ui);
    app = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override {
    app.reset();
    Ui::SetBackend(nullptr);
    TranTest::TearDown();
  }
  int argc = 1;
  char name[16] = "qor_tests";
  char* argv[2] = {name, nullptr};
  std::unique_ptr<QApplication> app;
  Ui::HeadlessBackend ui;
};

}  // namespace

TEST_F(TranWalkTest, TranslatesAWholeForm) {
  const char* pairs[][2] = {
      {"Settings", "Einstellungen"}, {"Name", "Nom"},     {"Cancel", "Abbrechen"},
      {"Loop", "Schleife"},          {"Fast", "Schnell"}, {"Options", "Optionen"},
      {"General", "Allgemein"},      {"Audio", "Ton"},    {"Quality", "Qualität"},
      {"Low", "Niedrig"},            {"High", "Hoch"},    {"One", "Eins"},
      {"Two", "Zwei"},               {"File", "Datei"},   {"Open", "Öffnen"},
      {"Recent", "Zuletzt"},         {"Clear", "Leeren"}, {"Nom", "Not twice"}};
  for (auto& p : pairs) TranSet(p[0], p[1]);
  Form f;
  TranControl(&f.dialog);
  EXPECT_EQ(S(f.dialog.windowTitle()), "Einstellungen");
  EXPECT_EQ(S(f.label->text()), "Nom");  // looked up once only
  EXPECT_EQ(S(f.cancel->text()), "Abbrechen");
  EXPECT_EQ(S(f.check->text()), "Schleife");
  EXPECT_EQ(S(f.radio->text()), "Schnell");
  EXPECT_EQ(S(f.group->title()), "Optionen");
  EXPECT_EQ(S(f.tabs->tabText(0)), "Allgemein");
  EXPECT_EQ(S(f.tabs->tabText(1)), "Ton");
  EXPECT_EQ(S(f.pageLabel->text()), "Qualität");
  EXPECT_EQ(S(f.combo->itemText(0)), "Niedrig");
  EXPECT_EQ(S(f.combo->itemText(1)), "Hoch");
  EXPECT_EQ(f.combo->currentIndex(), 1);
  EXPECT_EQ(S(f.list->item(0)->text()), "Eins");
  EXPECT_EQ(f.list->currentRow(), 1);
  EXPECT_EQ(S(f.file->title()), "Datei");
  EXPECT_EQ(S(f.open->text()), "Öffnen");
  EXPECT_EQ(S(f.file->actions()[1]->text()), "Zuletzt");
  EXPECT_EQ(S(f.clear->text()), "Leeren");
  EXPECT_TRUE(ui.shown.empty());
}

TEST_F(TranWalkTest, UntranslatedTextsStayAndPairsTakeEffectPerWalk) {
  Form first;
  TranControl(&first.dialog);
  EXPECT_EQ(S(first.cancel->text()), "Cancel");
  EXPECT_EQ(first.combo->currentIndex(), 1);

  TranSet("Cancel", "Annuler");
  Form second;
  TranControl(&second.dialog);
  EXPECT_EQ(S(second.cancel->text()), "Annuler");

  TranClear();
  Form third;
  TranControl(&third.dialog);
  EXPECT_EQ(S(third.cancel->text()), "Cancel");
}

TEST_F(TranWalkTest, MenusPassedDirectly) {
  TranSet("Edit", "Bearbeiten");
  TranSet("Undo", "Rückgängig");
  QMenu menu("Edit");
  QAction* undo = menu.addAction("Undo");
  TranControl(&menu);
  EXPECT_EQ(S(menu.title()), "Bearbeiten");
  EXPECT_EQ(S(undo->text()), "Rückgängig");
  QAction lone("Edit");
  TranControl(&lone);
  EXPECT_EQ(S(lone.text()), "Bearbeiten");
  TranControl(nullptr);
}

TEST_F(TranWalkTest, ARuntimeExceptionIsShownAndEndsTheWalk) {
  TranSet("First", "Erste");
  TranSet("Second", "Zweite");
  QMenu menu;
  QAction* first = menu.addAction("First");
  QAction* second = menu.addAction("Second");
  QObject::connect(first, &QAction::changed, [] {
    throw std::runtime_error("cannot relabel");
  });
  TranControl(&menu);
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_NE(ui.shown[0].text.find("cannot relabel"), std::string::npos);
  EXPECT_EQ(ui.shown[0].icon, Ui::kIconError);
  EXPECT_EQ(S(second->text()), "Second");
}
