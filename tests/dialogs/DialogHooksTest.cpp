// The hooks through which the formats and the engine open the dialogs above
// them: empty, each refuses as a dialog without a Qt application does;
// filled, each reaches its dialog with the caller's values and brings the
// answer back.
#include <gtest/gtest.h>

#include "dialogs/DialogTable.h"
#include "engine/Lifecycle.h"
#include "foundation/Errors.h"

namespace {

class DialogHooksTest : public ::testing::Test {
 protected:
  void SetUp() override { Lifecycle::LibraryStart(); }
  void TearDown() override {
    // Back to the dialogs built into this program.
    DialogHooks::InstallFormats(&DialogTable::FormatDialogs());
    DialogHooks::InstallSettings(DialogTable::SettingsDialog());
    Lifecycle::LibraryStop();
  }

  static bool RefusedAsNotSupported() {
    const bool refused = Errors::ErrClass() == Errors::kClsGeneral &&
                         Errors::ErrCode() == Errors::kCodeNotSupported &&
                         Errors::ErrLastText() == "Not supported.";
    Errors::ErrClear();
    return refused;
  }
};

int32_t g_seenQuality = 0;

TEST_F(DialogHooksTest, EmptyHooksRefuseAndFilledOnesReachTheirDialog) {
  DialogHooks::InstallFormats(nullptr);
  DialogHooks::InstallSettings(nullptr);
  int32_t codec = 1;
  EXPECT_FALSE(DialogHooks::FFDlgTGA(codec));
  EXPECT_TRUE(RefusedAsNotSupported());
  EXPECT_EQ(1, codec);
  DialogHooks::AviTexts texts;
  EXPECT_FALSE(DialogHooks::DlgAVI(320, 240, 24, texts));
  EXPECT_TRUE(RefusedAsNotSupported());
  EXPECT_FALSE(DialogHooks::DlgSettings(nullptr, nullptr, "title", true));
  EXPECT_TRUE(RefusedAsNotSupported());

  DialogHooks::Formats hooks{};
  hooks.FFDlgJPG = [](int32_t& quality) {
    g_seenQuality = quality;
    quality = 42;
    return true;
  };
  DialogHooks::InstallFormats(&hooks);
  int32_t quality = 75;
  EXPECT_TRUE(DialogHooks::FFDlgJPG(quality));
  EXPECT_EQ(75, g_seenQuality);
  EXPECT_EQ(42, quality);
  EXPECT_TRUE(Errors::ErrNone());
  // A slot the table leaves empty still refuses.
  EXPECT_FALSE(DialogHooks::FFDlgPNG(quality));
  EXPECT_TRUE(RefusedAsNotSupported());
  EXPECT_EQ(42, quality);
}

}  // namespace
