// The dialog exports as a host without a Qt application reaches them: which
// formats have an option dialog, and how the dialogs fail cleanly when there
// is no application to show them in (the library never makes one).
#include <gtest/gtest.h>

#include "host/HostLibrary.h"
#include "qor.h"

namespace {

QorLastError LastError() {
  QorLastError r{-5, -5, -5};
  QOR_GET(QorGetLastError)(&r);
  return r;
}

class HostDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Lib().handle(), nullptr) << Lib().error();
    handle = QOR_GET(QorAlloc)();
    list = QOR_GET(QorListAlloc)();
    ASSERT_NE(handle, nullptr);
    ASSERT_NE(list, nullptr);
  }
  void TearDown() override {
    QOR_GET(QorListFree)(list);
    QOR_GET(QorFree)(handle);
  }
  QorHandle handle = nullptr;
  QorHandle list = nullptr;
};

// Formats 1..19 and one that does not exist: video formats with options,
// and the sound formats whose options live in the audio settings (MPEG
// audio and Ogg Vorbis; WAV has none).
constexpr int32_t kWithDialog[] = {1, 6, 7, 8, 9, 10, 11, 13, 14, 15, 18, 19};

bool HasDialog(int32_t format) {
  for (int32_t f : kWithDialog)
    if (f == format) return true;
  return false;
}

}  // namespace

TEST_F(HostDialogs, EveryFormatAnswersWhetherItHasADialog) {
  for (int32_t format = 1; format <= 20; format++) {
    EXPECT_EQ(QOR_GET(QorHasCodecDlg)(handle, format), HasDialog(format) ? -1 : 0)
        << "format " << format;
    EXPECT_EQ(LastError().code, 0);
  }
}

TEST_F(HostDialogs, WithoutAnApplicationOnlyFormatsWithoutADialogAnswer) {
  for (int32_t format = 1; format <= 20; format++) {
    const QorBool result = QOR_GET(QorCodecDlg)(handle, format, 320, 240, 24);
    const QorLastError last = LastError();
    if (HasDialog(format)) {
      EXPECT_EQ(result, 0) << "format " << format;
      EXPECT_EQ(last.code, 1000);
      EXPECT_EQ(last.errClass, 4);
      EXPECT_EQ(last.errNum, 2);
    } else {
      EXPECT_EQ(result, -1) << "nothing to show, format " << format;
      EXPECT_EQ(last.code, 0);
    }
  }
}

TEST_F(HostDialogs, SettingsAndCodecConfigurationFailCleanlyWithoutAnApplication) {
  // Handles that are not the library's end the call as unexpected failures
  // (while no error pair is pending).
  EXPECT_EQ(QOR_GET(QorOutputDlg)(nullptr, list, "t", -1), 0);
  EXPECT_EQ(LastError().code, 999);
  EXPECT_EQ(QOR_GET(QorOutputDlg)(handle, nullptr, "t", -1), 0);
  EXPECT_EQ(LastError().code, 999);
  EXPECT_EQ(QOR_GET(QorHasCodecDlg)(nullptr, 8), 0);
  EXPECT_EQ(LastError().code, 999);

  QOR_GET(QorSetOutputFile)(handle, "/tmp/out.bmp", "");
  QOR_GET(QorSetResolution)(handle, 100, 80);
  EXPECT_EQ(QOR_GET(QorOutputDlg)(handle, list, "Output File Settings", -1), 0);
  QorLastError last = LastError();
  EXPECT_EQ(last.code, 1000);
  EXPECT_EQ(last.errClass, 4);
  EXPECT_EQ(last.errNum, 2);
  int32_t codec = 0, quality = 0, byteRate = 0, keyRate = 0;
  QOR_GET(QorGetVideoFormat)(handle, 3, 100, 80, 24, &codec, &quality, &byteRate, &keyRate);
  EXPECT_EQ(LastError().code, 0) << "the handle is still sound";

  EXPECT_EQ(QOR_GET(QorAviCodecConfigureDlg)(handle), 0);
  last = LastError();
  EXPECT_EQ(last.code, 1000);
  EXPECT_EQ(last.errClass, 4);
}
