// The per-format option dialogs with a stand-in user: values in and out
// unchanged on OK, untouched on Cancel, the choice dialog's growth, the
// sliders' limits, the KWB, MPEG and audio bit-rate rules and preset menus,
// and the save options opening the right dialog for each format and kind.
#include <QComboBox>
#include <QGroupBox>
#include <QRadioButton>
#include <QScrollBar>
#include <vector>

#include "UserActions.h"
#include "dialogs/FFDlg.h"
#include "dialogs/wDlgChoose.h"
#include "engine/Common.h"
#include "engine/ConFormSave.h"
#include "engine/Lifecycle.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "foundation/Translator.h"
#include "qor.h"

using namespace UserActions;

namespace {

class FormatDialogs : public WithLibrary {
 protected:
  void SetUp() override {
    WithLibrary::SetUp();
    mark = Basic::MemMark();
  }
  void TearDown() override {
    EXPECT_EQ(Basic::MemMark(), mark) << "a dialog left tracked blocks behind";
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
    WithLibrary::TearDown();
  }
  int32_t mark = 0;
};

QRadioButton* Row(QDialog* form, const QString& text) {
  for (QRadioButton* r : form->findChildren<QRadioButton*>())
    if (r->text() == text) return r;
  ADD_FAILURE() << "no row " << text.toStdString();
  return nullptr;
}

void Choose(QDialog* form, const QString& text) {
  QTest::mouseClick(Row(form, text), Qt::LeftButton, Qt::NoModifier, QPoint(6, 8));
}

QStringList Rows(QDialog* form) {
  QStringList rows;
  for (QRadioButton* r : form->findChildren<QRadioButton*>()) rows << r->text();
  return rows;
}

void Slide(QDialog* form, int position) {
  form->findChild<QScrollBar*>()->setValue(position);
}

}  // namespace

TEST_F(FormatDialogs, ChoiceDialogsHandBackTheChosenRowOnlyOnOk) {
  int32_t tga = 0;
  Answer(nullptr, true);
  EXPECT_TRUE(FFDlg::FFDlgTGA(tga));
  EXPECT_EQ(tga, 0) << "OK without a change keeps the value";

  Answer([](QDialog* f) { Choose(f, "RLE Compressed"); }, false);
  EXPECT_FALSE(FFDlg::FFDlgTGA(tga));
  EXPECT_EQ(tga, 0);
  Answer([](QDialog* f) { Choose(f, "RLE Compressed"); }, true);
  EXPECT_TRUE(FFDlg::FFDlgTGA(tga));
  EXPECT_EQ(tga, 1);

  // A value no row has selects the first row: OK writes PackBits. Eight
  // rows make the group 8 x 20 + 26 high, higher when the font's lines need
  // more, and the form grows with it.
  int32_t tiff = 999;
  QStringList rows;
  QSize group, form;
  int lowestRow = 0, line = 0;
  Answer([&](QDialog* f) {
    rows = Rows(f);
    group = Find<QGroupBox>(f, "radOpt")->size();
    form = f->size();
    lowestRow = group.height();
    for (QRadioButton* r : f->findChildren<QRadioButton*>())
      lowestRow = std::min(lowestRow, r->height());
    line = QFontMetrics(f->font()).height();
  }, true);
  EXPECT_TRUE(FFDlg::FFDlgTIF(tiff));
  EXPECT_EQ(tiff, 32773);
  EXPECT_EQ(rows.size(), 8);
  EXPECT_GE(group.height(), 186);
  EXPECT_GE(lowestRow, line);
  EXPECT_EQ(form.height(), 91 + group.height() - 66);

  // The texts pass through the translator.
  Translator::TranSet("PNM Format", "PNM-Format");
  Translator::TranSet("ASCII Encoded", "ASCII-Text");
  int32_t pnm = 1;
  QString title;
  Answer([&](QDialog* f) { rows = Rows(f); Choose(f, "Binary Encoded"); }, true, &title);
  EXPECT_TRUE(FFDlg::FFDlgPNM(pnm));
  EXPECT_EQ(pnm, 0);
  EXPECT_EQ(title, "PNM-Format");
  EXPECT_EQ(rows, (QStringList{"Binary Encoded", "ASCII-Text"}));
  int32_t sgi = 1, ras = 0;
  Answer([](QDialog* f) { Choose(f, "Uncompressed"); }, true);
  EXPECT_TRUE(FFDlg::FFDlgSGI(sgi));
  EXPECT_TRUE(FFDlg::FFDlgRAS(ras));
  EXPECT_EQ(sgi, 0);
  EXPECT_EQ(ras, 0);
}

TEST_F(FormatDialogs, ChoiceDialogLimitsItsRowsAndFitsTheWidestText) {
  wDlgChoose::ChoiceRec none;
  none.caption = "none";
  QStringList rows;
  Answer([&](QDialog* f) { rows = Rows(f); }, true);
  EXPECT_TRUE(wDlgChoose::DlgSelect(none));
  EXPECT_EQ(rows.size(), 1);
  EXPECT_EQ(none.count, 1);

  wDlgChoose::ChoiceRec many;
  many.count = 20;
  for (int i = 0; i < 16; i++) {
    many.items[i] = "choice " + std::to_string(i);
    many.values[i] = 100 + i;
  }
  many.items[3] = "a row whose text is a good deal wider than the group was";
  many.chosen = 107;
  int okGap = 0, okRight = 0;
  QString checked;
  Answer([&](QDialog* f) {
    rows = Rows(f);
    for (QRadioButton* r : f->findChildren<QRadioButton*>())
      if (r->isChecked()) checked = r->text();
    const QRect group = Find<QGroupBox>(f, "radOpt")->geometry();
    const QRect ok = Find<QPushButton>(f, "btnOK")->geometry();
    okGap = ok.left() - group.right();
    okRight = f->width() - ok.left();
    Choose(f, "choice 15");
  }, true);
  EXPECT_TRUE(wDlgChoose::DlgSelect(many));
  EXPECT_EQ(rows.size(), 16);
  EXPECT_EQ(many.count, 16);
  EXPECT_EQ(checked, "choice 7");
  EXPECT_EQ(many.chosen, 115);
  // The buttons keep their distance from the group and the form's edge.
  EXPECT_EQ(okGap, 149 - (13 + 123 - 1));
  EXPECT_EQ(okRight, 251 - 149);
}

TEST_F(FormatDialogs, SliderDialogsShowTheValueAndLimitIt) {
  int32_t quality = 75;
  QString shown;
  Answer([&](QDialog* f) { shown = Text(f, "edValue"); }, true);
  EXPECT_TRUE(FFDlg::FFDlgJPG(quality));
  EXPECT_EQ(shown, "75");
  EXPECT_EQ(quality, 75);
  Answer([](QDialog* f) { Slide(f, 50); }, false);
  EXPECT_FALSE(FFDlg::FFDlgJPG(quality));
  EXPECT_EQ(quality, 75);
  Answer([&](QDialog* f) { Slide(f, 50); shown = Text(f, "edValue"); }, true);
  EXPECT_TRUE(FFDlg::FFDlgJPG(quality));
  EXPECT_EQ(shown, "50");
  EXPECT_EQ(quality, 50);

  int32_t level = 12;
  Answer([&](QDialog* f) { shown = Text(f, "edValue"); }, true);
  EXPECT_TRUE(FFDlg::FFDlgPNG(level));
  EXPECT_EQ(shown, "9");
  EXPECT_EQ(level, 9);

  int32_t ogg = 4;
  QString group;
  Answer([&](QDialog* f) {
    group = Find<QGroupBox>(f, "GroupBox1")->title();
    Slide(f, 7);
  }, true);
  EXPECT_TRUE(FFDlg::FFDlgOGG(ogg, 0, 10));
  EXPECT_EQ(group, "Quality");
  EXPECT_EQ(ogg, 7);
}

TEST_F(FormatDialogs, KwbDialogKeepsAnUnreadableRateAndNoNegativeOne) {
  int32_t codec = 1, rate = 25;
  Answer(nullptr, true);
  EXPECT_TRUE(FFDlg::FFDlgKWB(codec, rate));
  EXPECT_EQ(codec, 1);
  EXPECT_EQ(rate, 25);
  Answer([](QDialog* f) { Choose(f, "BEST Codec"); Type(f, "edKFM", "abc"); }, true);
  EXPECT_TRUE(FFDlg::FFDlgKWB(codec, rate));
  EXPECT_EQ(codec, 0);
  EXPECT_EQ(rate, 25);
  Answer([](QDialog* f) { Type(f, "edKFM", "-5"); }, true);
  EXPECT_TRUE(FFDlg::FFDlgKWB(codec, rate));
  EXPECT_EQ(rate, 0);
  Answer([](QDialog* f) { Choose(f, "FAST Codec"); Type(f, "edKFM", "9"); }, false);
  EXPECT_FALSE(FFDlg::FFDlgKWB(codec, rate));
  EXPECT_EQ(codec, 0);
  EXPECT_EQ(rate, 0);
}

TEST_F(FormatDialogs, MpegDialogRatesFollowFormatPresetsAndBothEdits) {
  int32_t type = 0, rate = 1700;
  QStringList seen;
  auto show = [&](QDialog* f) { seen << Text(f, "edBits") + "/" + Text(f, "edBytes"); };
  int presets = 0;
  Pick("DSL", &presets);
  Answer([&](QDialog* f) {
    show(f);
    Find<QComboBox>(f, "lstFormat")->setCurrentIndex(4);  // DVD
    show(f);
    Type(f, "edBytes", "100");
    show(f);
    Type(f, "edBits", "13");
    show(f);
    // 300000000 kilobytes are more bits than 32 bits hold: limited, not wrapped.
    Type(f, "edBytes", "300000000");
    show(f);
    Type(f, "edBits", "x");
    show(f);
    Click(f, "btnDataRates");
    show(f);
  }, false);
  EXPECT_FALSE(FFDlg::FFDlgMPG(type, rate));
  EXPECT_EQ(seen, (QStringList{"1700/212", "6000/750", "800/100", "13/1", "102400/12800",
                               "6000/750", "768/96"}));
  EXPECT_EQ(presets, 15);
  EXPECT_EQ(type, 0);
  EXPECT_EQ(rate, 1700);

  Answer([](QDialog* f) { Find<QComboBox>(f, "lstFormat")->setCurrentIndex(4); }, true);
  EXPECT_TRUE(FFDlg::FFDlgMPG(type, rate));
  EXPECT_EQ(type, 4);
  EXPECT_EQ(rate, 6000);
  // Each stored type selects its own row, which OK keeps; a type past the
  // last selects none.
  QString format;
  auto read = [&](QDialog* f) { format = Find<QComboBox>(f, "lstFormat")->currentText(); };
  const char* names[] = {"MPEG-1", "VCD", "MPEG-2", "SVCD", "DVD"};
  for (int32_t stored = 4; stored >= 0; stored--) {
    type = stored;
    Answer(read, true);
    EXPECT_TRUE(FFDlg::FFDlgMPG(type, rate));
    EXPECT_EQ(format, names[stored]);
    EXPECT_EQ(type, stored);
  }
  EXPECT_EQ(rate, 6000);
  type = 5;
  Answer(read, true);
  EXPECT_TRUE(FFDlg::FFDlgMPG(type, rate));
  EXPECT_EQ(format, "");
  EXPECT_EQ(type, 5);
}

TEST_F(FormatDialogs, AudioBitRateMenuOffersThePresetsWithinTheLimits) {
  int32_t rate = 500;
  int offered = 0;
  QString shown;
  Pick("128", &offered);
  Answer([&](QDialog* f) {
    shown = Text(f, "edBits");
    Click(f, "btnDataRates");
  }, true);
  EXPECT_TRUE(FFDlg::FFDlgMPA(rate, 32, 384));
  EXPECT_EQ(shown, "384");
  EXPECT_EQ(offered, 8);
  EXPECT_EQ(rate, 128);

  Pick("", &offered);
  Answer([](QDialog* f) { Click(f, "btnDataRates"); Find<QLineEdit>(f, "edBits")->setText("?"); },
         true);
  EXPECT_TRUE(FFDlg::FFDlgMPA(rate, 32, 224));
  EXPECT_EQ(offered, 5);
  EXPECT_EQ(rate, 128) << "no number keeps the rate";
  Answer([](QDialog* f) { Find<QLineEdit>(f, "edBits")->setText("4000"); }, false);
  EXPECT_FALSE(FFDlg::FFDlgMPA(rate, 32, 224));
  EXPECT_EQ(rate, 128);
}

namespace {

struct Case {
  int32_t format;
  int32_t kind;
  const char* title;  // nullptr: no dialog here
};

// The per-format choices as one comparable list.
std::vector<int32_t> Choices(const ConForm::FFSaveRec& r) {
  const FF_AVI::AviCodecRec avi = ConForm::FFSaveAviOf(r);
  return {r.tgaCodec, r.tiffCompression, r.sgiCodec, r.rasCodec, r.pnmCodec,
          r.kwbCodec, r.kwbKeyFrameRate, r.pngLevel, r.mpegCodec, r.mpegVideoBitRate,
          r.mpegAudioBitRate, r.jpegQuality, r.oggQuality, int32_t(avi.fourCC),
          avi.quality, avi.keyFrameRate, avi.dataRate};
}

}  // namespace

TEST_F(FormatDialogs, SaveOptionsOpenTheFormatsDialogAndKeepValuesOnOkAndCancel) {
  using namespace ConForm;
  const Case cases[] = {
      {kFmtTGA, kSaveVideo, "TGA Compression"},   {kFmtAVI, kSaveVideo, "Select AVI Video Format"},
      {kFmtKWB, kSaveVideo, "KWB Settings"},      {kFmtJPEG, kSaveVideo, "JPEG Quality"},
      {kFmtPNG, kSaveVideo, "PNG Compression Level"}, {kFmtTIFF, kSaveVideo, "TIFF Compression"},
      {kFmtMPEG, kSaveVideo, "MPEG Compression"}, {kFmtMPEG, kSaveAudio, "MPEG Audio Bit Rate"},
      {kFmtMPA, kSaveAudio, "MPEG Audio Bit Rate"}, {kFmtSGI, kSaveVideo, "SGI Compression"},
      {kFmtRAS, kSaveVideo, "RAS Compression"},   {kFmtPNM, kSaveVideo, "PNM Format"},
      {kFmtOGG, kSaveAudio, "Ogg Vorbis Audio"},  {kFmtBMP, kSaveVideo, nullptr},
      {kFmtAVI, kSaveAudio, nullptr},             {kFmtKWB, kSaveAudio, nullptr},
      {kFmtWAV, kSaveAudio, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.format) + " kind " + std::to_string(c.kind));
    FFSaveRec rec;
    FFSaveInit(&rec, c.kind);
    FFSaveSetFmt(&rec, c.format);
    const std::vector<int32_t> before = Choices(rec);
    for (bool ok : {false, true}) {
      QString title;
      Answer(nullptr, ok, &title);
      const int32_t result = FFSaveDlg(&rec, 320, 240, 24);
      EXPECT_EQ(Choices(rec), before);
      EXPECT_TRUE(Errors::ErrNone());
      if (!c.title) {
        EXPECT_EQ(result, -1);
        EXPECT_TRUE(title.isEmpty()) << "nothing is shown";
        continue;
      }
      EXPECT_EQ(result, ok ? 1 : 0);
      EXPECT_EQ(title, c.title);
    }
  }
  // AVI and KWB have no sound dialog even when the record claims one.
  FFSaveRec sound;
  FFSaveInit(&sound, kSaveAudio);
  sound.format = kFmtKWB;
  sound.hasDialog = true;
  QString title;
  Answer(nullptr, true, &title);
  EXPECT_EQ(FFSaveDlg(&sound, 0, 0, 0), -1);
  EXPECT_TRUE(title.isEmpty());
}

TEST_F(FormatDialogs, WithoutAnApplicationADialogFailsCleanly) {
  app.reset();
  int32_t quality = 75;
  EXPECT_FALSE(FFDlg::FFDlgJPG(quality));
  EXPECT_EQ(quality, 75);
  ASSERT_FALSE(headless.shown.empty());
  EXPECT_EQ(headless.shown.back().text, "Not supported.");
  app = std::make_unique<QApplication>(argc, argv);
}

TEST_F(FormatDialogs, OutputSettingsCodecButtonOpensTheFormatsDialog) {
  QorHandle handle = QorAlloc();
  QorHandle list = QorListAlloc();
  QorSetOutputFile(handle, "/tmp/qor_never_written.jpg", "");
  QString codecLine;
  wFormBasic::SetModalHook([&](QDialog* form) {
    form->show();
    QApplication::processEvents();
    if (form->objectName() == "frmDlgOne") {  // the JPEG quality, opened from below
      Slide(form, 50);
      Click(form, "btnOK");
    } else {
      Click(form, "btnCodec");
      codecLine = Text(form, "edCodec");
      Click(form, "btnOK");
    }
    return int32_t(form->result());
  });
  EXPECT_NE(QorOutputDlg(handle, list, "Output File Settings", -1), 0);
  EXPECT_EQ(codecLine, "JPEG quality: 50%");
  EXPECT_EQ(static_cast<Common::QorRec*>(handle)->videoSave.jpegQuality, 50);
  QorListFree(list);
  QorFree(handle);
}
