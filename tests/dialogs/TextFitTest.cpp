// Every fixed text of every library dialog can be read whole at the
// dialog's font: each dialog is opened as a host opens it, every page of
// it is looked at, and each caption that its control, its parent's edge or
// a neighbour cuts is named. The checker is first shown to catch a label
// made too narrow on purpose.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QListWidget>
#include <QTabWidget>

#include "UserActions.h"
#include "dialogs/FFDlg.h"
#include "FitTexts.h"
#include "engine/ConFormSave.h"
#include "qor.h"
#include "support/TestUtil.h"
#include "support/TextFit.h"

using namespace UserActions;

namespace {

class DialogTextFit : public WithLibrary {
 protected:
  // Runs open() with every modal dialog it brings up checked on each of
  // its pages and cancelled; the misfits of all of them are returned.
  QStringList Check(const std::function<void()>& open,
                    const std::function<void(QDialog*)>& inspect = {}) {
    QStringList misfits;
    int shown = 0;
    wFormBasic::SetModalHook([&](QDialog* form) {
      ++shown;
      form->show();
      EXPECT_TRUE(QTest::qWaitForWindowExposed(form));
      QApplication::processEvents();
      const auto pages = form->findChildren<QTabWidget*>();
      if (inspect) inspect(form);
      if (pages.isEmpty()) misfits << TextFit::Misfits(form);
      for (QTabWidget* tabs : pages)
        for (int page = 0; page < tabs->count(); ++page) {
          tabs->setCurrentIndex(page);
          QApplication::processEvents();
          misfits << TextFit::Misfits(form);
        }
      return int32_t(QDialog::Rejected);
    });
    open();
    EXPECT_GT(shown, 0) << "no dialog came up";
    return misfits;
  }
};

TEST_F(DialogTextFit, APlantedNarrowLabelIsNamed) {
  QDialog form;
  form.setWindowTitle("Planted");
  form.resize(400, 100);
  auto* label = new QLabel("Key frame every", &form);
  label->setObjectName("labPlanted");
  label->setGeometry(10, 10, 40, 20);
  // Wide enough for all but the last letters of its caption.
  auto* check = new QCheckBox("Keep the sound", &form);
  check->setObjectName("chkPlanted");
  check->setGeometry(10, 40, check->sizeHint().width() - 12, check->sizeHint().height());
  auto* list = new QComboBox(&form);
  list->addItems({"BMP", "Windows Device Independent Bitmap"});
  list->setGeometry(10, 70, 90, 24);
  auto* button = new QPushButton("Covered", &form);
  button->setGeometry(300, 10, 90, 28);
  auto* over = new QPushButton("On top", &form);
  over->setGeometry(250, 10, 90, 28);
  // Fits exactly as its own measure asks: no misfit.
  auto* fits = new QLabel("Quality", &form);
  fits->setGeometry(200, 60, fits->sizeHint().width(), fits->sizeHint().height());
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  const QStringList misfits = TextFit::Misfits(&form);
  ASSERT_EQ(misfits.size(), 4) << misfits.join("\n").toStdString();
  EXPECT_TRUE(misfits[0].startsWith(
      "QLabel labPlanted \"Key frame every\" of window \"Planted\": shows"))
      << misfits[0].toStdString();
  EXPECT_TRUE(misfits[1].startsWith(
      "QCheckBox chkPlanted \"Keep the sound\" of window \"Planted\": shows"))
      << misfits[1].toStdString();
  EXPECT_TRUE(misfits[2].startsWith("QComboBox \"Windows Device Independent Bitmap\""))
      << misfits[2].toStdString();
  EXPECT_TRUE(misfits[3].contains(
      "\"Covered\" of window \"Planted\" is covered by QPushButton \"On top\""))
      << misfits[3].toStdString();
  EXPECT_EQ(list->currentIndex(), 0);  // the check leaves the controls as they were
  EXPECT_EQ(label->size(), QSize(40, 20));
}

TEST_F(DialogTextFit, OutputSettingsDialogForEveryDepthList) {
  TestUtil::TempDir dir;
  QorHandle handle = QorAlloc();
  QorHandle list = QorListAlloc();
  for (const char* name : {"out.tga", "out.kwb", "out.avi"}) {
    QorSetOutputFile(handle, dir.File(name).c_str(), "");
    QorSetBpp(handle, 8);  // the dithering choices enabled
    const QStringList misfits =
        Check([&] { QorOutputDlg(handle, list, "Output File Settings", -1); },
              [](QDialog* form) {
                // The two group boxes still stand in one column, one width.
                const QRect file = form->findChild<QWidget*>("boxFormat")->geometry();
                const QRect size = form->findChild<QWidget*>("boxSize")->geometry();
                EXPECT_EQ(file.left(), size.left());
                EXPECT_EQ(file.right(), size.right());
                EXPECT_LE(size.right(), form->width());
              });
    EXPECT_TRUE(misfits.isEmpty()) << name << "\n" << misfits.join("\n").toStdString();
  }
  QorListFree(list);
  QorFree(handle);
}

TEST_F(DialogTextFit, OutputSettingsElideLongFileNamesInTheMiddle) {
  TestUtil::TempDir dir;
  const QString folder = QString::fromStdString(dir.path()) + "/" +
                         QString("a-folder-with-a-rather-long-name/").repeated(3);
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString source = folder + "holiday-at-the-sea.bmp";
  QImage picture(32, 24, QImage::Format_RGB888);
  picture.fill(Qt::blue);
  ASSERT_TRUE(picture.save(source, "BMP"));
  const QString output = folder + "holiday-at-the-sea-converted.kwb";
  QorHandle handle = QorAlloc();
  QorHandle list = QorListAlloc();
  QorSetOutputFile(handle, output.toLocal8Bit().constData(), "");
  ASSERT_EQ(QorListAdd(list, source.toLocal8Bit().constData(), 8, nullptr, nullptr), 1);
  const QStringList misfits = Check(
      [&] { QorOutputDlg(handle, list, "Output File Settings", -1); },
      [&](QDialog* form) {
        for (const auto& [name, whole] : {std::pair{"edFilename", source}, {"edName", output}}) {
          auto* edit = dynamic_cast<FitTexts::ElidedLineEdit*>(form->findChild<QLineEdit*>(name));
          ASSERT_NE(edit, nullptr) << name;
          const QString shown = edit->ShownText();
          EXPECT_EQ(edit->text(), whole);
          EXPECT_EQ(edit->toolTip(), whole);
          EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
          EXPECT_TRUE(shown.startsWith(whole.left(4))) << shown.toStdString();
          EXPECT_TRUE(shown.endsWith(whole.right(8))) << shown.toStdString();
          EXPECT_LE(edit->fontMetrics().horizontalAdvance(shown), edit->width());
        }
      });
  EXPECT_TRUE(misfits.isEmpty()) << misfits.join("\n").toStdString();
  QorListFree(list);
  QorFree(handle);
}

TEST_F(DialogTextFit, FormatOptionDialogs) {
  const std::pair<const char*, std::function<void()>> dialogs[] = {
      {"TGA", [] { int32_t v = 1; FFDlg::FFDlgTGA(v); }},
      {"TIFF", [] { int32_t v = 5; FFDlg::FFDlgTIF(v); }},
      {"PNM", [] { int32_t v = 0; FFDlg::FFDlgPNM(v); }},
      {"JPEG", [] { int32_t v = 75; FFDlg::FFDlgJPG(v); }},
      {"Ogg", [] { int32_t v = 5; FFDlg::FFDlgOGG(v, 0, 10); }},
      {"KWB", [] { int32_t codec = 1, rate = 25; FFDlg::FFDlgKWB(codec, rate); }},
      {"MPEG", [] { int32_t type = 1, rate = 1150; FFDlg::FFDlgMPG(type, rate); }},
      {"MPEG audio", [] { int32_t rate = 224; FFDlg::FFDlgMPA(rate, 32, 384); }},
  };
  for (const auto& [name, open] : dialogs) {
    const QStringList misfits = Check(open);
    EXPECT_TRUE(misfits.isEmpty()) << name << "\n" << misfits.join("\n").toStdString();
  }
}

TEST_F(DialogTextFit, AviCodecDialogOnBothPages) {
  const QStringList misfits = Check([] {
    ConForm::FFSaveRec rec;
    ConForm::FFSaveInit(&rec, ConForm::kSaveVideo);
    ConForm::FFSaveSetFmt(&rec, ConForm::kFmtAVI);
    ConForm::FFSaveDlg(&rec, 322, 242, 24);
  });
  EXPECT_TRUE(misfits.isEmpty()) << misfits.join("\n").toStdString();
}

}  // namespace
