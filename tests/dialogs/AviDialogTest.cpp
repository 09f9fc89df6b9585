// The AVI codec dialog with a stand-in user: the codec list and its
// filters, the controls each codec allows, the author texts, "System
// Defaults...", the controls filled once however often the form is
// activated, and a conversion with the codec chosen in the dialog, checked
// with ffprobe and ffmpeg.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QScrollBar>
#include <QTabWidget>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "UserActions.h"
#include "engine/ConFormSave.h"
#include "engine/Lifecycle.h"
#include "formats/FF_AVI.h"
#include "foundation/Errors.h"
#include "foundation/Basic.h"
#include "qor.h"
#include "support/TestUtil.h"

using namespace UserActions;
using ConForm::FFSaveRec;

namespace {

constexpr uint32_t kMJPG = 0x47504A4D;  // "MJPG"
constexpr uint32_t kCvid = 0x64697663;  // "cvid"

class AviDialog : public WithLibrary {
 protected:
  void SetUp() override {
    WithLibrary::SetUp();
    ConForm::FFSaveInit(&rec, ConForm::kSaveVideo);
    ConForm::FFSaveSetFmt(&rec, ConForm::kFmtAVI);
    mark = Basic::MemMark();
  }
  void TearDown() override {
    EXPECT_EQ(Basic::MemMark(), mark) << "the dialog left tracked blocks behind";
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
    WithLibrary::TearDown();
  }
  uint32_t Current() {
    FF_AVI::AviCodecRec cur;
    FF_AVI::AviGetCurCodec(&cur);
    return cur.fourCC;
  }
  FFSaveRec rec;
  int32_t mark = 0;
};

QStringList CodecRows(QDialog* f) {
  QStringList rows;
  auto* list = Find<QListWidget>(f, "lstCodecs");
  for (int i = 0; i < list->count(); i++) rows << list->item(i)->text();
  return rows;
}

void Select(QDialog* f, const QString& description) {
  auto* list = Find<QListWidget>(f, "lstCodecs");
  const auto found = list->findItems(description, Qt::MatchExactly);
  ASSERT_EQ(found.size(), 1) << description.toStdString();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                    list->visualItemRect(found[0]).center());
}

QString Label(QDialog* f, const char* name) { return Find<QLabel>(f, name)->text(); }

QScrollBar* Quality(QDialog* f) { return Find<QScrollBar>(f, "barQuality"); }

std::string Custom(const FFSaveRec& r, const char* id) {
  const int32_t at = ConForm::FFSaveFindCustomInfo(&r, id);
  return at < 0 ? "<none>" : r.custom[at].text;
}

}  // namespace

TEST_F(AviDialog, ChosenCodecQualityAndTextsBecomeTheSettingsOnOk) {
  ConForm::FFSaveAddCustomInfo(&rec, "IART", "Ann");
  ConForm::FFSaveAddCustomInfo(&rec, "XTRA", "kept");
  QStringList rows;
  QString fcc, encoder, artist;
  bool keyFramesUsable = true, rateUsable = false;
  Answer([&](QDialog* f) {
    rows = CodecRows(f);
    Select(f, "Motion JPEG (MJPG)");
    fcc = Label(f, "labFCC");
    encoder = Label(f, "labEncode");
    keyFramesUsable = Find<QCheckBox>(f, "chkKFM")->isEnabled();
    rateUsable = Find<QCheckBox>(f, "chkDataRate")->isEnabled();
    Quality(f)->setValue(50);
    QTest::mouseClick(Find<QCheckBox>(f, "chkDataRate"), Qt::LeftButton);
    Type(f, "edDataRate", "120");
    Find<QTabWidget>(f, "PageControl1")->setCurrentIndex(1);
    artist = Text(f, "edArtist");
    Type(f, "edComment", "made in a test");
  }, true);
  EXPECT_EQ(ConForm::FFSaveDlg(&rec, 320, 240, 24), 1);
  // At 320 x 240 every encoder takes the frames; DV takes only its own sizes.
  EXPECT_TRUE(rows.contains("Motion JPEG (MJPG)"));
  EXPECT_TRUE(rows.contains("Full Frames, Uncompressed"));
  EXPECT_FALSE(rows.filter("DV video").size());
  EXPECT_EQ(fcc, "MJPG,  47504A4Dh");
  EXPECT_EQ(encoder, "Yes");
  EXPECT_FALSE(keyFramesUsable) << "Motion JPEG has no key frames to set";
  EXPECT_TRUE(rateUsable);
  EXPECT_EQ(artist, "Ann");
  EXPECT_EQ(rec.avi.fourCC, kMJPG);
  EXPECT_EQ(rec.avi.quality, 50);
  EXPECT_EQ(rec.avi.dataRate, 120);
  EXPECT_EQ(rec.avi.keyFrameRate, 0);
  EXPECT_EQ(Current(), kMJPG);
  EXPECT_EQ(Custom(rec, "ICMT"), "made in a test");
  EXPECT_EQ(Custom(rec, "IART"), "Ann");
  EXPECT_EQ(Custom(rec, "XTRA"), "kept");
}

// A current codec that refuses the frames: with a dialog allowed the user's
// pick is fitted to the size; a cancelled dialog leads to the fallbacks, and
// without a dialog none is shown.
TEST_F(AviDialog, ChoosingACodecForFramesTheCurrentOneRefuses) {
  auto useDv = [] {
    FF_AVI::AviCodecRec dv;
    FF_AVI::AviCodecRecByFCC(&dv, 0x64737664);  // "dvsd": its own sizes only
    FF_AVI::AviSetCurCodec(&dv);
  };
  int shown = 0;
  std::string texts[7] = {"Ann"};
  QString artist;
  Answer([&](QDialog* f) {
    shown++;
    Find<QTabWidget>(f, "PageControl1")->setCurrentIndex(1);
    artist = Text(f, "edArtist");
    Find<QTabWidget>(f, "PageControl1")->setCurrentIndex(0);
    Select(f, "Motion JPEG (MJPG)");
  }, true);
  useDv();
  FF_AVI::AviSetVC(320, 240, 24, true, &texts);
  EXPECT_TRUE(Errors::ErrNone());
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(artist, "Ann");
  EXPECT_EQ(Current(), kMJPG);

  Answer(nullptr, false);
  useDv();
  FF_AVI::AviSetVC(320, 240, 24, true, &texts);
  EXPECT_TRUE(Errors::ErrNone());
  EXPECT_EQ(Current(), kCvid) << "a cancelled dialog falls back to Cinepak";

  Answer([&](QDialog*) { shown++; }, true);
  useDv();
  FF_AVI::AviSetVC(320, 240, 24);
  EXPECT_EQ(shown, 1) << "no dialog unless it is allowed";
  EXPECT_EQ(Current(), kCvid);
}

TEST_F(AviDialog, CancelKeepsSettingsAndTextsEvenAfterSystemDefaults) {
  ConForm::FFSaveAddCustomInfo(&rec, "INAM", "title");
  FF_AVI::AviSetCurCodec(&rec.avi);
  const FF_AVI::AviCodecRec* list = nullptr;
  FF_AVI::AviCodecsList(&list, 0, 0, 0);
  FF_AVI::AviCodecRec mjpg;
  FF_AVI::AviCodecRecByFCC(&mjpg, kMJPG);
  FF_AVI::AviCodecSetQuality(&mjpg, 10);  // kept in the list's entry too
  headless.answers = {true};
  Answer([&](QDialog* f) {
    Select(f, "Motion JPEG (MJPG)");
    Quality(f)->setValue(20);
    Find<QPushButton>(f, "Button1")->click();
    Find<QTabWidget>(f, "PageControl1")->setCurrentIndex(1);
    Type(f, "edName", "other");
  }, false);
  EXPECT_EQ(ConForm::FFSaveDlg(&rec, 320, 240, 24), 0);
  ASSERT_EQ(headless.shown.size(), 1u);
  EXPECT_EQ(headless.shown[0].text,
            "Do you want to reload system default settings? This will affect all AVI codecs.");
  EXPECT_FALSE(headless.shown[0].defaultYes) << "No is the default button";
  EXPECT_EQ(rec.avi.fourCC, kCvid);
  EXPECT_EQ(Current(), kCvid);
  EXPECT_EQ(Custom(rec, "INAM"), "title");
  // The rebuilt list holds the codec's own default quality again.
  FF_AVI::AviCodecRecByFCC(&mjpg, kMJPG);
  EXPECT_EQ(mjpg.quality, 75);
}

TEST_F(AviDialog, ControlsAreFilledOnceHoweverOftenTheFormIsActivated) {
  int32_t blocksAfterFill = 0, blocksAtEnd = 0;
  int rowsAfterFill = 0, rowsAtEnd = 0;
  int qualityAtEnd = 0, qualityAfterError = 0;
  QString selectedAtEnd;
  headless.answers = {false};
  Answer([&](QDialog* f) {
    Select(f, "Motion JPEG (MJPG)");
    Quality(f)->setValue(33);
    blocksAfterFill = Basic::MemMark();
    rowsAfterFill = CodecRows(f).size();
    // A question box, then the form is activated, hidden and shown again
    // as boxes come and go.
    Find<QPushButton>(f, "Button1")->click();
    for (int i = 0; i < 3; i++) {
      QEvent activate(QEvent::WindowActivate);
      QApplication::sendEvent(f, &activate);
      f->hide();
      f->show();
      QApplication::processEvents();
    }
    blocksAtEnd = Basic::MemMark();
    rowsAtEnd = CodecRows(f).size();
    qualityAtEnd = Quality(f)->value();
    selectedAtEnd = Find<QListWidget>(f, "lstCodecs")->currentItem()->text();
    // No row to take: the error box, and the settings stay as they were.
    Find<QListWidget>(f, "lstCodecs")->setCurrentRow(-1);
    qualityAfterError = Quality(f)->value();
  }, true);
  EXPECT_EQ(ConForm::FFSaveDlg(&rec, 320, 240, 24), 1);
  ASSERT_EQ(headless.shown.size(), 2u);
  EXPECT_EQ(headless.shown[1].text, "No compatible codec can be found.");
  EXPECT_EQ(blocksAtEnd, blocksAfterFill) << "no codec record per activation";
  EXPECT_EQ(rowsAtEnd, rowsAfterFill);
  EXPECT_EQ(qualityAtEnd, 33);
  EXPECT_EQ(selectedAtEnd, "Motion JPEG (MJPG)");
  EXPECT_EQ(qualityAfterError, 33);
  EXPECT_EQ(rec.avi.fourCC, kMJPG);
  EXPECT_EQ(rec.avi.quality, 33);
}

// A chosen codec that the list of those fit for the picture hides leaves
// the first row chosen.
TEST_F(AviDialog, AChosenCodecThatTheListHidesChoosesTheFirstRow) {
  int row = -1;
  Answer([&](QDialog* f) {
    row = Find<QListWidget>(f, "lstCodecs")->currentRow();
    Find<QComboBox>(f, "lstWhat")->setCurrentIndex(2);
    if (!CodecRows(f).filter("DV video").size()) row = -2;
  }, false);
  rec.avi.fourCC = 0x64737664;  // "dvsd": 720 x 480 or 576 only
  ConForm::FFSaveDlg(&rec, 320, 240, 24);
  if (row == -2) GTEST_SKIP() << "no DV codec here";
  EXPECT_EQ(row, 0);
}

TEST_F(AviDialog, CodecCapabilitiesShapeTheControlsAndFilters) {
  QString before, after;
  bool afterBold = false, qualityUsable = true, keyTicked = false, ownDialogs = true;
  QString key;
  QStringList encoders, all;
  Answer([&](QDialog* f) {
    auto* filter = Find<QComboBox>(f, "lstWhat");
    filter->setCurrentIndex(1);
    encoders = CodecRows(f);
    filter->setCurrentIndex(2);
    all = CodecRows(f);
    Select(f, "Cinepak video");
    before = Label(f, "labInRes");
    after = Label(f, "labOutRes");
    afterBold = Find<QLabel>(f, "labOutRes")->font().bold();
    qualityUsable = Quality(f)->isEnabled();
    ownDialogs = Find<QPushButton>(f, "btnConfig")->isEnabled() ||
                 Find<QPushButton>(f, "btnAbout")->isEnabled();
    keyTicked = Find<QCheckBox>(f, "chkKFM")->isChecked();
    key = Text(f, "edKFM");
    QTest::mouseClick(Find<QCheckBox>(f, "chkKFM"), Qt::LeftButton);
  }, true);
  EXPECT_EQ(ConForm::FFSaveDlg(&rec, 322, 242, 24), 1);
  EXPECT_EQ(before, "322x242, 24-bit");
  EXPECT_EQ(after, "324x244, 24-bit") << "Cinepak works in blocks of 4 pixels";
  EXPECT_TRUE(afterBold);
  EXPECT_FALSE(qualityUsable);
  EXPECT_FALSE(ownDialogs) << "the codecs here have no configure or about box";
  EXPECT_TRUE(keyTicked);
  EXPECT_EQ(key, "15");
  EXPECT_EQ(rec.avi.fourCC, kCvid);
  EXPECT_EQ(rec.avi.keyFrameRate, 0) << "unticked before OK";
  EXPECT_EQ(rec.avi.quality, 0);
  const FF_AVI::AviCodecRec* list = nullptr;
  EXPECT_EQ(all.size(), FF_AVI::AviCodecsList(&list, 0, 0, 0));
  EXPECT_FALSE(encoders.filter("DV video").size());
  if (all.filter("DV video").isEmpty()) GTEST_SKIP() << "no DV encoder here";
}

namespace {

constexpr int kWidth = 64, kHeight = 48, kFrames = 4;

// Smooth colours, which JPEG keeps close at any quality.
std::vector<uint8_t> FramePixels(int frame) {
  std::vector<uint8_t> px(kWidth * kHeight * 3);
  for (int y = 0; y < kHeight; y++)
    for (int x = 0; x < kWidth; x++) {
      uint8_t* p = &px[(y * kWidth + x) * 3];
      p[0] = uint8_t(40 + 2 * y);          // blue
      p[1] = uint8_t(60 + 2 * x + frame);  // green
      p[2] = uint8_t(200 - 2 * x);         // red
    }
  return px;
}

void QOR_CALL Frames(QorHandle h, int32_t block) {
  if (block >= kFrames) {
    QorSrcFinished(h);
    return;
  }
  const std::vector<uint8_t> px = FramePixels(block);
  QorSrcSetPixels(h, px.data(), nullptr, kWidth, kHeight, 24);
}

std::string Output(const std::string& command) {
  std::string text;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[256];
    while (fgets(buf, sizeof buf, p)) text += buf;
    pclose(p);
  }
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

int64_t FileSize(const std::string& name) {
  std::ifstream f(name, std::ios::binary | std::ios::ate);
  return f ? int64_t(f.tellg()) : -1;
}

// Converts the frames to an AVI with Motion JPEG at the quality chosen in
// the codec dialog.
void ConvertWithDialog(const std::string& out, int quality) {
  QorHandle h = QorAlloc();
  QorSetOutputFile(h, out.c_str(), "");
  QorSetFrameRate(h, 10.0);
  QorSetResolution(h, kWidth, kHeight);
  Answer([quality](QDialog* f) {
    Select(f, "Motion JPEG (MJPG)");
    Quality(f)->setValue(quality);
  }, true);
  EXPECT_NE(QorCodecDlg(h, 6, kWidth, kHeight, 24), 0);
  QorAssignVideoSource(h, Frames);
  EXPECT_EQ(QorConvert(h), 0);
  QorFree(h);
}

}  // namespace

TEST_F(AviDialog, ConversionWithMotionJpegChosenInTheDialogWritesMjpeg) {
  if (!TestUtil::HaveTool("ffprobe") || !TestUtil::HaveTool("ffmpeg"))
    GTEST_SKIP() << "ffmpeg/ffprobe absent";
  TestUtil::TempDir dir;
  const std::string half = dir.File("half.avi"), fine = dir.File("fine.avi");
  ConvertWithDialog(half, 50);
  ConvertWithDialog(fine, 95);
  EXPECT_EQ(Output("ffprobe -v error -select_streams v:0 -show_entries stream=codec_name "
                   "-of default=nw=1:nk=1 '" + half + "'"),
            "mjpeg");
  EXPECT_EQ(Output("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                   "stream=nb_read_frames -of default=nw=1:nk=1 '" + half + "'"),
            std::to_string(kFrames));
  EXPECT_LT(FileSize(half), FileSize(fine)) << "quality 50 spends fewer bytes";

  // ffmpeg's decoding of the first frame stays close to what went in.
  const std::string raw = dir.File("first.rgb");
  ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -i '" + half +
                         "' -frames:v 1 -f rawvideo -pix_fmt bgr24 '" + raw + "'").c_str()),
            0);
  std::ifstream in(raw, std::ios::binary);
  const std::vector<uint8_t> got((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
  const std::vector<uint8_t> want = FramePixels(0);
  ASSERT_EQ(got.size(), want.size());
  double sum = 0;
  for (size_t i = 0; i < got.size(); i++) sum += std::abs(int(got[i]) - int(want[i]));
  EXPECT_LT(sum / double(got.size()), 6.0);
}
