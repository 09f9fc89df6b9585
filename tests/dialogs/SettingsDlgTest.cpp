// The output-settings dialog through QorOutputDlg, with the tests standing
// in for the user: what OK and Cancel hand back, the depth list of each
// format, dithering, undo, the frame slider and the frames it loads, the
// locked dialog, translation, and failures that must leave nothing behind.
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <functional>
#include <string>

#include "DialogTestSupport.h"
#include "dialogs/wSettings.h"
#include "engine/Common.h"
#include "formats/ConForm.h"
#include "engine/Lifecycle.h"
#include "foundation/Basic.h"
#include "foundation/Translator.h"
#include "qor.h"
#include "support/TestUtil.h"

using Common::QorRec;

namespace {

using User = std::function<void(QDialog*)>;

template <class W>
W* Find(QDialog* form, const char* name) {
  W* w = form->findChild<W*>(name);
  EXPECT_NE(w, nullptr) << name;
  return w;
}

QStringList Items(QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); i++) items << box->itemText(i);
  return items;
}

void SetEdit(QDialog* form, const char* name, const QString& text) {
  QLineEdit* edit = Find<QLineEdit>(form, name);
  edit->setFocus();
  edit->selectAll();
  QTest::keyClicks(edit, text);
  // Focus leaving the edit is what makes the dialog read it.
  emit edit->editingFinished();
}

void Click(QDialog* form, const char* name) {
  QTest::mouseClick(Find<QPushButton>(form, name), Qt::LeftButton);
}

// The colour the preview shows at its centre.
QColor PreviewColour(QDialog* form) {
  auto* panel = Find<QFrame>(form, "panView");
  for (QObject* child : panel->children())
    if (auto* display = qobject_cast<QWidget*>(child)) {
      const QImage shown = display->grab().toImage();
      return shown.pixelColor(shown.width() / 2, shown.height() / 2);
    }
  return QColor();
}

class SettingsDlgTest : public DialogTest::WithApp {
 protected:
  void SetUp() override {
    Lifecycle::LibraryStart();
    DialogTest::WithApp::SetUp();
    handle = QorAlloc();
    list = QorListAlloc();
    ASSERT_NE(handle, nullptr);
    ASSERT_NE(list, nullptr);
    rec = static_cast<QorRec*>(handle);
    mark = Basic::MemMark();
  }
  void TearDown() override {
    EXPECT_EQ(Basic::MemMark(), mark) << "the dialog left tracked blocks behind";
    QorListFree(list);
    QorFree(handle);
    DialogTest::WithApp::TearDown();
    Lifecycle::LibraryStop();
  }

  // Opens the dialog; user works it once it is on screen.
  int32_t Run(const User& user, QorBool enableChanges = -1) {
    wFormBasic::SetModalHook([&](QDialog* form) {
      form->show();
      EXPECT_TRUE(QTest::qWaitForWindowExposed(form));
      user(form);
      return int32_t(form->result());
    });
    return QorOutputDlg(handle, list, "Output File Settings", enableChanges);
  }

  QorLastError Last() {
    QorLastError r{-5, -5, -5};
    QorGetLastError(&r);
    return r;
  }

  // count solid-coloured BMP files a.bmp, b.bmp ... in the list.
  void MakeFiles(const std::vector<QColor>& colours) {
    for (size_t i = 0; i < colours.size(); i++) WriteFile(i, colours[i]);
    ASSERT_EQ(QorListAdd(list, dir.File("*.bmp").c_str(), 8, nullptr, nullptr),
              int32_t(colours.size()));
  }
  void WriteFile(size_t i, const QColor& colour) {
    QImage img(64, 48, QImage::Format_RGB888);
    img.fill(colour);
    ASSERT_TRUE(img.save(QString::fromStdString(FileName(i)), "BMP"));
  }
  std::string FileName(size_t i) const {
    return dir.File(std::string(1, char('a' + i)) + ".bmp");
  }

  TestUtil::TempDir dir;
  QorHandle handle = nullptr;
  QorHandle list = nullptr;
  QorRec* rec = nullptr;
  int32_t mark = 0;
};

}  // namespace

TEST_F(SettingsDlgTest, OkReadsTheClampedResolutionAndCancelChangesNothing) {
  QorSetOutputFile(handle, dir.File("out.bmp").c_str(), "");
  EXPECT_EQ(Run([](QDialog* form) {
              EXPECT_EQ(form->windowTitle(), "Output File Settings");
              EXPECT_EQ(Find<QLineEdit>(form, "edResX")->text(), "320");
              SetEdit(form, "edResX", "999");
              Click(form, "btnCancel");
            }),
            0);
  EXPECT_EQ(Last().code, 0);
  EXPECT_EQ(rec->width, 320);

  EXPECT_EQ(Run([](QDialog* form) {
              SetEdit(form, "edResX", "abc");  // not a number: kept
              SetEdit(form, "edResY", "-500");
              Click(form, "btnOK");
            }),
            -1);
  EXPECT_EQ(Last().code, 0);
  EXPECT_EQ(rec->width, 320);
  EXPECT_EQ(rec->height, 500);
  EXPECT_EQ(rec->autoRes, 0) << "a changed size ends the automatic size";

  EXPECT_EQ(Run([](QDialog* form) {
              SetEdit(form, "edResX", "0");
              SetEdit(form, "edResY", "20000");
              Click(form, "btnOK");
            }),
            -1);
  EXPECT_EQ(rec->width, 1);
  EXPECT_EQ(rec->height, 16000);
}

TEST_F(SettingsDlgTest, AutomaticSizeSurvivesOnlyAnUntouchedSize) {
  QorSetOutputFile(handle, dir.File("out.bmp").c_str(), "");
  ASSERT_EQ(rec->autoRes, -1);
  EXPECT_EQ(Run([](QDialog* form) { Click(form, "btnOK"); }), -1);
  EXPECT_NE(rec->autoRes, 0);
  EXPECT_EQ(Run([](QDialog* form) {
              SetEdit(form, "edResX", "321");
              SetEdit(form, "edResX", "320");
              Click(form, "btnOK");
            }),
            -1);
  EXPECT_EQ(rec->width, 320);
  EXPECT_EQ(rec->autoRes, 0);
}

TEST_F(SettingsDlgTest, DepthListFollowsTheFormatWithItsFallback) {
  // The record asks for 16 bits; a format without them selects its first
  // depth, which OK stores; an empty list stores nothing.
  struct Case {
    const char* name;
    QStringList items;
    int selected;
    int32_t stored;
  };
  const Case cases[] = {
      {"out.bmp",
       {"32-bit  (16M + alpha)", "24-bit  (16M colors)", "15-bit  (32k colors)",
        "8-bit  (256 colors)"},
       0, 32},
      {"out.kwb", {"24-bit  (16M colors)", "16-bit  (65k colors)", "8-bit  (256 colors)"}, 1, 16},
      {"out.jpg", {"24-bit  (16M colors)"}, 0, 24},
      {"out.wav", {}, -1, 16},
      {"", {}, -1, 16},
  };
  for (const Case& c : cases) {
    QorSetOutputFile(handle, c.name[0] ? dir.File(c.name).c_str() : "", "");
    QorSetBpp(handle, 16);
    EXPECT_EQ(Run([&](QDialog* form) {
                auto* box = Find<QComboBox>(form, "lstBPP");
                EXPECT_EQ(Items(box), c.items) << c.name;
                EXPECT_EQ(box->currentIndex(), c.selected) << c.name;
                Click(form, "btnOK");
              }),
              -1);
    EXPECT_EQ(rec->bpp, c.stored) << c.name;
  }
}

TEST_F(SettingsDlgTest, DitheringIsOfferedAtEightBitsOnly) {
  QorSetOutputFile(handle, dir.File("out.bmp").c_str(), "");
  QorSetDithering(handle, 2);
  EXPECT_EQ(Run([](QDialog* form) {
              auto* none = Find<QRadioButton>(form, "radDitherNone");
              auto* lite = Find<QRadioButton>(form, "radDitherLite");
              auto* heavy = Find<QRadioButton>(form, "radDitherHeavy");
              EXPECT_TRUE(heavy->isChecked());
              for (auto* r : {none, lite, heavy}) EXPECT_FALSE(r->isEnabled());
              Find<QComboBox>(form, "lstBPP")->setCurrentIndex(3);  // 8 bits
              for (auto* r : {none, lite, heavy}) EXPECT_TRUE(r->isEnabled());
              QTest::mouseClick(lite, Qt::LeftButton, Qt::NoModifier, QPoint(5, 8));
              EXPECT_TRUE(lite->isChecked());
              Click(form, "btnOK");
            }),
            -1);
  EXPECT_EQ(rec->bpp, 8);
  EXPECT_EQ(rec->dither, 1);
  // The last choice reads back as itself too.
  EXPECT_EQ(Run([](QDialog* form) {
              auto* heavy = Find<QRadioButton>(form, "radDitherHeavy");
              QTest::mouseClick(heavy, Qt::LeftButton, Qt::NoModifier, QPoint(5, 8));
              Click(form, "btnOK");
            }),
            -1);
  EXPECT_EQ(rec->dither, 2);
}

TEST_F(SettingsDlgTest, UndoReturnsToTheOpeningStateWithItsCompatibleSize) {
  QorSetOutputFile(handle, dir.File("out.jpg").c_str(), "");
  QorSetResolution(handle, 330, 250);
  QorForceCompatibility(handle, -1);
  QorSetQuality(handle, 8, 50);
  headless.answers = {false, true};
  EXPECT_EQ(Run([](QDialog* form) {
              EXPECT_EQ(Find<QLineEdit>(form, "edResX")->text(), "336");
              EXPECT_EQ(Find<QLineEdit>(form, "edResY")->text(), "256");
              EXPECT_EQ(Find<QLineEdit>(form, "edCodec")->text(), "JPEG quality: 50%");
              EXPECT_TRUE(Find<QPushButton>(form, "btnCodec")->isEnabled());
              SetEdit(form, "edResX", "400");
              SetEdit(form, "edResY", "300");
              Click(form, "btnUndo");  // answered No: the edits stand
              EXPECT_EQ(Find<QLineEdit>(form, "edResX")->text(), "400");
              Click(form, "btnUndo");  // answered Yes
              EXPECT_EQ(Find<QLineEdit>(form, "edResX")->text(), "336");
              EXPECT_EQ(Find<QLineEdit>(form, "edResY")->text(), "256");
              Click(form, "btnOK");
            }),
            -1);
  ASSERT_EQ(headless.shown.size(), 2u);
  EXPECT_EQ(headless.shown[0].text, "Undo all changes made in this dialog?");
  EXPECT_TRUE(headless.shown[0].question);
  EXPECT_TRUE(headless.shown[0].defaultYes);
  EXPECT_EQ(rec->width, 336);
  EXPECT_EQ(rec->height, 256);
  EXPECT_EQ(rec->videoSave.jpegQuality, 50);
}

TEST_F(SettingsDlgTest, UndoShowsTheCodecTextOfTheFormatTheDialogHolds) {
  // As the application does: MPEG's codec and rate set after the output
  // file, so the save options hold MPEG's settings; the dialog shows the
  // output's own codec text, before and after "Undo...".
  for (const char* name : {"out.bmp", "out.jpg", "out.kwb"}) {
    QorSetOutputFile(handle, dir.File(name).c_str(), "");
    QorSetCodec(handle, ConForm::kFmtMPEG, 1);
    QorSetBitRate(handle, ConForm::kFmtMPEG, 1150);
    headless.answers = {true};
    QString opened, undone;
    EXPECT_EQ(Run([&](QDialog* form) {
                opened = Find<QLineEdit>(form, "edCodec")->text();
                SetEdit(form, "edResX", "400");
                Click(form, "btnUndo");
                undone = Find<QLineEdit>(form, "edCodec")->text();
                EXPECT_EQ(Find<QLineEdit>(form, "edResX")->text(), "320");
                Click(form, "btnOK");
              }),
              -1);
    EXPECT_EQ(undone, opened) << name;
    EXPECT_FALSE(undone.contains("MPEG")) << name << ": " << undone.toStdString();
  }
}

TEST_F(SettingsDlgTest, SliderFollowsTheDragAndLoadsOnceOnRelease) {
  QorSetOutputFile(handle, dir.File("out.bmp").c_str(), "");
  const std::vector<QColor> colours = {Qt::red, Qt::green, Qt::blue, Qt::yellow};
  MakeFiles(colours);
  EXPECT_EQ(Run([&](QDialog* form) {
              auto* edFrame = Find<QLineEdit>(form, "edFrame");
              auto* edName = Find<QLineEdit>(form, "edFilename");
              auto* bar = form->findChild<QSlider*>();
              ASSERT_NE(bar, nullptr);
              EXPECT_TRUE(bar->isEnabled());
              EXPECT_EQ(bar->maximum(), 3);
              EXPECT_EQ(edFrame->text(), "1 / 4");
              EXPECT_EQ(edName->text().toStdString(), FileName(0));
              EXPECT_EQ(PreviewColour(form), colours[0]);

              DialogTest::PressAndDragTo(bar, 2);
              EXPECT_EQ(edFrame->text(), "3 / 4");
              EXPECT_EQ(edName->text().toStdString(), FileName(2));
              EXPECT_EQ(PreviewColour(form), colours[0]) << "loaded while dragging";
              DialogTest::Release(bar);
              EXPECT_EQ(PreviewColour(form), colours[2]);

              // Released again where it was: the file is not read again.
              WriteFile(2, Qt::white);
              QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, DialogTest::HandleCentre(bar));
              DialogTest::Release(bar);
              EXPECT_EQ(PreviewColour(form), colours[2]);

              bar->setFocus();
              QTest::keyClick(bar, Qt::Key_Right);  // a key step loads at once
              EXPECT_EQ(edFrame->text(), "4 / 4");
              EXPECT_EQ(PreviewColour(form), colours[3]);
              Click(form, "btnOK");
            }),
            -1);
}

TEST_F(SettingsDlgTest, BackwardsPlayReadsTheListFromItsEnd) {
  QorSetOutputFile(handle, dir.File("out.bmp").c_str(), "");
  MakeFiles({Qt::red, Qt::green, Qt::blue});
  rec->direction = -1;
  EXPECT_EQ(Run([&](QDialog* form) {
              EXPECT_EQ(Find<QLineEdit>(form, "edFrame")->text(), "1 / 3");
              EXPECT_EQ(Find<QLineEdit>(form, "edFilename")->text().toStdString(),
                        FileName(2));
              EXPECT_EQ(PreviewColour(form), QColor(Qt::blue));
              Click(form, "btnCancel");
            }),
            0);
}

TEST_F(SettingsDlgTest, LockedDialogWithoutFilesStillHandsBackOnOk) {
  QorSetOutputFile(handle, dir.File("out.jpg").c_str(), "");
  QorSetBpp(handle, 16);
  QorSetResolution(handle, 100, 70);
  QorForceCompatibility(handle, -1);
  EXPECT_EQ(Run(
                [](QDialog* form) {
                  EXPECT_FALSE(Find<QGroupBox>(form, "boxFormat")->isEnabled());
                  EXPECT_FALSE(Find<QGroupBox>(form, "boxSize")->isEnabled());
                  EXPECT_FALSE(Find<QLineEdit>(form, "edResX")->isEnabled());
                  EXPECT_FALSE(Find<QPushButton>(form, "btnUndo")->isEnabled());
                  EXPECT_FALSE(form->findChild<QSlider*>()->isEnabled());
                  EXPECT_EQ(Find<QLineEdit>(form, "edFrame")->text(), "");
                  EXPECT_EQ(PreviewColour(form), QColor(Qt::black));
                  Click(form, "btnOK");
                },
                0),
            -1);
  EXPECT_EQ(rec->bpp, 24);
  EXPECT_EQ(rec->width, 96);
  EXPECT_EQ(rec->height, 64);
}

TEST_F(SettingsDlgTest, TextsPassThroughTheTranslator) {
  QorSetOutputFile(handle, dir.File("out.jpg").c_str(), "");
  Translator::TranSet("Cancel", "Abbrechen");
  Translator::TranSet("24-bit  (16M colors)", "24 Bit");
  Translator::TranSet("Output File Settings", "Ausgabe");
  EXPECT_EQ(Run([](QDialog* form) {
              EXPECT_EQ(form->windowTitle(), "Ausgabe");
              EXPECT_EQ(Find<QPushButton>(form, "btnCancel")->text(), "Abbrechen");
              EXPECT_EQ(Items(Find<QComboBox>(form, "lstBPP")), QStringList{"24 Bit"});
              EXPECT_EQ(Find<QGroupBox>(form, "boxFormat")->title(), "Output File");
              Click(form, "btnOK");
            }),
            -1);
  EXPECT_EQ(rec->bpp, 24);
}

TEST_F(SettingsDlgTest, FailureInsideTheDialogFreesEverything) {
  QorSetOutputFile(handle, dir.File("out.bmp").c_str(), "");
  MakeFiles({Qt::red});
  wFormBasic::SetModalHook([](QDialog* form) -> int32_t {
    SetEdit(form, "edResX", "640");
    throw std::runtime_error("the user's hand slipped");
  });
  EXPECT_EQ(QorOutputDlg(handle, list, "t", -1), 0);
  EXPECT_EQ(Last().code, 999);
  EXPECT_EQ(rec->width, 320);
  EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());

  EXPECT_EQ(QorOutputDlg(handle, rec, "t", -1), 0) << "a record is no list";
  EXPECT_EQ(Last().code, 999);
}

TEST_F(SettingsDlgTest, CodecExportsWithTheApplication) {
  // The codecs here own no configuration dialog: nothing confirmed, no error.
  const std::vector<uint8_t> state = rec->videoSave.avi.state;
  EXPECT_EQ(QorAviCodecConfigureDlg(handle), 0);
  EXPECT_EQ(Last().code, 0);
  EXPECT_EQ(rec->videoSave.avi.state, state);
  // A format with a dialog now has the application it needs; the user
  // confirms each dialog as it comes.
  wFormBasic::SetModalHook([](QDialog* form) {
    form->accept();
    return int32_t(form->result());
  });
  EXPECT_NE(QorCodecDlg(handle, 8, 320, 240, 24), 0);
  EXPECT_EQ(Last().code, 0);
  EXPECT_EQ(rec->videoSave.format, 8);
  EXPECT_NE(QorCodecDlg(handle, 18, 0, 0, 0), 0);
  EXPECT_EQ(rec->audioSave.format, 18);
  EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
}
