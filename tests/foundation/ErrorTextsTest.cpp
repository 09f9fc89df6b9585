#include <gtest/gtest.h>

#include "foundation/Basic.h"
#include "foundation/Errors.h"

using namespace Errors;

namespace {

struct Row {
  int32_t cls;
  int32_t code;
  const char* text;
};

// Every row of the fixed table, and the fallback of each class.
const Row kRows[] = {
    {4, 1, "Out of range."},
    {4, 2, "Not supported."},
    {4, 3, "Invalid variable type."},
    {4, 4, "General \"GEN\" error."},
    {5, 1, "Memory allocation fault."},
    {5, 2, "Memory manager fault."},
    {5, 3, "Memory reallocation fault."},
    {5, 4, "Memory could not be deallocated."},
    {5, 5, "Invalid memory request."},
    {5, 6, "Fatal memory manager error."},
    {5, 7, "General memory fault."},
    {6, 3, "Cannot read from file."},
    {6, 4, "Cannot write to file."},
    {6, 5, "Cannot seek in file."},
    {6, 8, "Cannot close file."},
    {6, 9, "File not exist."},
    {6, 10, "File name change failed."},
    {6, 11, "Fatal file manager fault."},
    {6, 12, "General file handling fault."},
    {6, 99, "General file handling fault."},
    {7, 1, "Image format not supported."},
    {7, 2, "Invalid image format."},
    {7, 3, "Cannot decompress image data."},
    {7, 4, "Image header invalid."},
    {7, 5, "Cannot compress image data."},
    {7, 6, "Cannot initialize image function."},
    {7, 7, "Cannot initialize image compression data."},
    {7, 8, "Cannot open image file."},
    {7, 9, "Image data corrupted."},
    {7, 10, "Cannot realize palette."},
    {7, 11, "Cannot create image file."},
    {7, 12, "General image handling fault."},
    {8, 1, "Audio conversion error."},
    {8, 2, "Audio conversion error (ACM)."},
    {8, 3, "Audio conversion error (WAVE)."},
    {8, 4, "Invalid audio format."},
    {8, 5, "General audio handling fault."},
    {9, 1, "Cannot read from AVI file."},
    {9, 2, "Cannot write to AVI file."},
    {9, 3, "Cannot read audio data from AVI file."},
    {9, 4, "Cannot write audio data to AVI file."},
    {9, 5, "Cannot open AVI file."},
    {9, 6, "Cannot create AVI file."},
    {9, 7, "Cannot initialize AVI codec."},
    {9, 8, "AVI audio stream not valid (decompressor not found?), ignoring audio"},
    {9, 9, "General AVI handling fault."},
    {12, 1, "Invalid movie format."},
    {12, 2, "Cannot write to movie file."},
    {12, 3, "Cannot decompress movie image data."},
    {12, 4, "Cannot compress movie image data."},
    {12, 5, "Movie format not supported."},
    {12, 6, "Cannot open movie file."},
    {12, 7, "End of movie reached."},
    {12, 8, "Cannot create movie file."},
    {12, 9, "General \"MVI\" handling fault."},
    {14, 7, "End of movie reached."},
    {14, -1, "General \"MVI\" handling fault."},
    {13, 1, "Cannot open WAV file."},
    {13, 2, "Cannot create WAV file."},
    {13, 3, "Cannot read from WAV file."},
    {13, 4, "Cannot write to WAV file."},
    {13, 5, "Cannot seek in WAV file."},
    {13, 6, "general \"WAV\" handling fault."},
    {15, 1, "End of KWB movie reached."},
    {15, 2, "General \"KWB\" handling fault."},
    {16, 1, "UNI protocol fault."},
    {16, 2, "General \"UNI\" handling fault."},
    {17, 1, "End of FLIC movie reached."},
    {17, 2, "General \"FLIC\" handling fault."},
    {10, 5, "AVI subsystem malfunction: 5"},
    {11, -2, "Video For Windows malfunction: 4294967294"},
    {19, 512, "Fatal error in Audio Compression Manager: 512"},
    {20, 7, "Fatal error in Win-MM: 7"},
    {18, 4, "Undefined error: 18:4"},
    {21, 1, "Undefined error: 21:1"},
    {-1, 3, "Undefined error: 4294967295:3"},
    {0, 5, "No errors."},
    {5, 0, "No errors."},
};

TEST(ErrorTexts, EveryRowOfTheTable) {
  for (const Row& r : kRows)
    EXPECT_EQ(ErrText(r.cls, r.code), r.text) << r.cls << "/" << r.code;
}

TEST(ErrorTexts, FileTextsQuoteTheLastFileName) {
  Basic::SetLastFileName("/tmp/some file.bmp");
  EXPECT_EQ(ErrText(6, 1), "Cannot open file: /tmp/some file.bmp");
  EXPECT_EQ(ErrText(6, 2), "Cannot create file: /tmp/some file.bmp");
  EXPECT_EQ(ErrText(6, 6), "Cannot delete file: /tmp/some file.bmp");
  EXPECT_EQ(ErrText(6, 7), "Cannot append to file: /tmp/some file.bmp");
}

TEST(ErrorTexts, TextClassesCarryTheirOwnText) {
  ErrSetText(1, "codec said no", 10);
  EXPECT_EQ(ErrClass(), 1);
  EXPECT_EQ(ErrCode(), kTextCode);
  EXPECT_EQ(ErrLastText(), "codec said no");
  // An empty text keeps the previous one.
  ErrSetText(2, "", 11);
  EXPECT_EQ(ErrLastText(), "codec said no");
}

TEST(ErrorPair, ZeroClassOrCodeLeavesThePendingPair) {
  ErrSet(7, 2, 1);
  ErrSet(6, 0, 2);
  ErrSet(0, 4, 3);
  EXPECT_EQ(ErrClass(), 7);
  EXPECT_EQ(ErrCode(), 2);
  ErrClear();
  EXPECT_TRUE(ErrNone());
}

TEST(ErrorPair, GuardBlocksSettersAndClear) {
  ErrSet(7, 1, 1);
  ErrGuardOn();
  ErrSet(6, 3, 2);
  ErrClear();
  ErrGuardOff();
  EXPECT_EQ(ErrClass(), 7);
  EXPECT_EQ(ErrCode(), 1);
}

TEST(WarningPair, NeverRaisesAndZeroClears) {
  bool threw = false;
  Errors::Monitored("Test.Warn", [&] {
    try {
      WarnSet(5, 4, 1);
    } catch (...) {
      threw = true;
    }
    EXPECT_FALSE(WarnNone());
    EXPECT_EQ(WarnText(), "Memory could not be deallocated.");
    WarnSet(5, 0, 2);
    EXPECT_TRUE(WarnNone());
  });
  EXPECT_FALSE(threw);
  EXPECT_TRUE(ErrNone());
}

TEST(ErrorPair, OutsideAnyFrameOnlyRecords) {
  EXPECT_NO_THROW(ErrSet(6, 1, 5));
  EXPECT_EQ(ErrClass(), 6);
  EXPECT_EQ(ErrCode(), 1);
  // The next frame entered clears it.
  MonEnter();
  EXPECT_TRUE(ErrNone());
  MonLeave();
}

}  // namespace
