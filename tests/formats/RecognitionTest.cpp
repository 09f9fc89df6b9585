// Format tables, recognition by extension and by probing, numbered
// sequences, the file-information record and the format depth table.
#include <gtest/gtest.h>

#include "formats/ConForm.h"
#include "formats/FFBasic.h"
#include "formats/FF_PNM.h"
#include "FormatTestUtil.h"

using namespace fmttest;
using Basic::K_AUTO;
using ConForm::GetFmtByExt;

namespace {

// Writes a small 24-bit BMP through the library.
void MakeBmp(const std::string& path, int w = 3, int h = 2) {
  ImgBasic::Qimg image;
  ToQimg(TestPicture(w, h), 24, &image);
  ASSERT_TRUE(Save(path, &image, ConForm::kFmtBMP)) << Errors::ErrLastText();
  ImgBasic::ImgFree(&image);
}

}  // namespace

TEST(FormatTables, LoadTableRowsInProbingOrder) {
  ASSERT_EQ(ConForm::LoadTableCount(), 19);
  const int32_t ids[19] = {7, 4, 3, 5, 14, 13, 15, 2, 9, 6,
                           12, 8, 10, 11, 1, 16, 17, 18, 19};
  const int32_t flags[19] = {26, 11, 9, 10, 9, 9, 9, 9, 9, 26,
                             20, 9, 9, 26, 9, 9, 9, 20, 20};
  for (int i = 0; i < 19; i++) {
    const ConForm::FileFmtTable row = ConForm::TableRow(ConForm::kLoadTable, i);
    EXPECT_EQ(row.id, ids[i]) << i;
    EXPECT_EQ(row.flags, flags[i]) << i;
  }
  const ConForm::FileFmtTable ras = ConForm::TableRow(ConForm::kLoadTable, 4);
  EXPECT_EQ(ras.extensions, ".ras.sun.im1");
  EXPECT_EQ(ras.shortName, "RGB");
  EXPECT_EQ(ras.description, "Sun Raster Image");
  EXPECT_EQ(ras.filter, "RAS, Sun Raster Image");
  const ConForm::FileFmtTable mpeg = ConForm::TableRow(ConForm::kLoadTable, 13);
  EXPECT_EQ(mpeg.extensions, ".mpg.mpeg.m1v.m2v.mpe.dat");
  EXPECT_EQ(mpeg.filter, "MPEG, Moving Pictures Experts Group");
}

TEST(FormatTables, SaveTableHasNoGifOrBay) {
  ASSERT_EQ(ConForm::SaveTableCount(), 17);
  const int32_t ids[17] = {6, 3, 5, 7, 8, 2, 9, 1, 11, 12, 13, 14, 15, 10, 17, 18, 19};
  for (int i = 0; i < 17; i++)
    EXPECT_EQ(ConForm::TableRow(ConForm::kSaveTable, i).id, ids[i]) << i;
  EXPECT_FALSE(ConForm::IsSaveFmt(ConForm::kFmtGIF));
  EXPECT_FALSE(ConForm::IsSaveFmt(ConForm::kFmtBAY));
  EXPECT_TRUE(ConForm::IsSaveFmt(ConForm::kFmtPNM));
  const ConForm::FileFmtTable ppm = ConForm::TableRow(ConForm::kSaveTable, 12);
  EXPECT_EQ(ppm.shortName, "PPM");
  EXPECT_EQ(ppm.filter, "PPM, Portable PixelMap");
  const ConForm::FileFmtTable mp2 = ConForm::TableRow(ConForm::kSaveTable, 15);
  EXPECT_EQ(mp2.description, "MPEG Audio Layer II");
}

TEST(Recognition, EveryLoadExtension) {
  struct Case {
    const char* ext;
    int32_t id;
  } cases[] = {{".kwb", 7}, {".gif", 4}, {".bmp", 3}, {".dib", 3}, {".rle", 3},
               {".flc", 5}, {".fli", 5}, {".ras", 14}, {".sun", 14}, {".im1", 14},
               {".rgb", 13}, {".rgba", 13}, {".bw", 13}, {".sgi", 13},
               {".pnm", 15}, {".ppm", 15}, {".pgm", 15}, {".pcx", 2}, {".png", 9},
               {".avi", 6}, {".ivf", 6}, {".wav", 12}, {".jpg", 8}, {".jpeg", 8},
               {".jfif", 8}, {".jpe", 8}, {".tif", 10}, {".tiff", 10},
               {".mpg", 11}, {".mpeg", 11}, {".m1v", 11}, {".m2v", 11},
               {".mpe", 11}, {".dat", 11}, {".tga", 1}, {".bay", 16},
               {".xpm", 17}, {".mp3", 18}, {".mp2", 18}, {".m2a", 18},
               {".mpa", 18}, {".ogg", 19}};
  for (const Case& c : cases)
    EXPECT_EQ(GetFmtByExt(std::string("dir.x/name") + c.ext, ConForm::kLoadTable), c.id)
        << c.ext;
}

TEST(Recognition, EverySaveExtension) {
  struct Case {
    const char* ext;
    int32_t id;
  } cases[] = {{".avi", 6}, {".bmp", 3}, {".dib", 3}, {".flc", 5}, {".kwb", 7},
               {".jpg", 8}, {".jpeg", 8}, {".pcx", 2}, {".png", 9}, {".tga", 1},
               {".mpg", 11}, {".mpeg", 11}, {".m1v", 11}, {".m2v", 11},
               {".dat", 11}, {".wav", 12}, {".rgb", 13}, {".sgi", 13},
               {".ras", 14}, {".sun", 14}, {".im1", 14}, {".ppm", 15},
               {".pnm", 15}, {".tif", 10}, {".tiff", 10}, {".xpm", 17},
               {".mp2", 18}, {".ogg", 19}};
  for (const Case& c : cases)
    EXPECT_EQ(GetFmtByExt(std::string("out") + c.ext, ConForm::kSaveTable), c.id)
        << c.ext;
  // Read-only extensions are not output names.
  for (const char* ext : {".mpe", ".mp3", ".gif", ".bay", ".rle", ".pgm", ".rgba", ".bw", ".fli"})
    EXPECT_EQ(GetFmtByExt(std::string("out") + ext, ConForm::kSaveTable), K_AUTO) << ext;
}

TEST(Recognition, CaseAndPartialExtensions) {
  EXPECT_EQ(GetFmtByExt("PHOTO.JPG", ConForm::kLoadTable), ConForm::kFmtJPEG);
  EXPECT_EQ(GetFmtByExt("photo.j", ConForm::kLoadTable), K_AUTO);
  EXPECT_EQ(GetFmtByExt("photo.pe", ConForm::kLoadTable), K_AUTO);
  EXPECT_EQ(GetFmtByExt("photo", ConForm::kLoadTable), K_AUTO);
  EXPECT_EQ(GetFmtByExt("photo.", ConForm::kLoadTable), K_AUTO);
  EXPECT_EQ(GetFmtByExt("folder.bmp/photo", ConForm::kLoadTable), K_AUTO);
  ConForm::FileFmtTable row;
  ConForm::GetFmtByExt_("x.unknown", &row, ConForm::kLoadTable);
  EXPECT_EQ(row.id, K_AUTO);
  EXPECT_EQ(row.flags, 0);
  EXPECT_TRUE(row.extensions.empty());
  ConForm::GetFmtByExt_("x.Sun", &row, ConForm::kSaveTable);
  EXPECT_EQ(row.id, ConForm::kFmtRAS);
  EXPECT_EQ(row.shortName, "RGB");
}

TEST(Recognition, FileKinds) {
  EXPECT_EQ(ConForm::FileKind(0, 1), 0);
  EXPECT_EQ(ConForm::FileKind(20, 1), 0);
  EXPECT_EQ(ConForm::FileKind(1, 1), 1);
  for (int32_t id : {5, 6, 7, 11, 12, 18, 19}) EXPECT_EQ(ConForm::FileKind(id, 1), 3) << id;
  EXPECT_EQ(ConForm::FileKind(4, 1), 1);
  EXPECT_EQ(ConForm::FileKind(4, 2), 3);
  EXPECT_EQ(ConForm::FileKind(3, 1), 1);
  EXPECT_EQ(ConForm::FileKind(3, 5), 2);
}

TEST(Recognition, InfoFillsRecordAndFilter) {
  const std::string path = Path("info.bmp");
  MakeBmp(path, 5, 4);
  ConForm::FFInfoRec info;
  ConForm::FFInfo(path, K_AUTO, &info, nullptr, nullptr);
  EXPECT_EQ(info.format, ConForm::kFmtBMP);
  EXPECT_EQ(info.picture.width, 5);
  EXPECT_EQ(info.picture.height, 4);
  EXPECT_EQ(info.picture.bitsPerPixel, 24);
  EXPECT_EQ(info.picture.bytesPerPixel, 3);
  EXPECT_EQ(info.picture.frameCount, 1);
  // 54 header bytes, rows of 15 bytes padded to 16.
  EXPECT_EQ(info.fileSize, 54 + 16 * 4);
  EXPECT_EQ(info.filter, "BMP/DIB, Windows Device Independent Bitmap");
  EXPECT_EQ(info.picture.videoCompression, "Uncompressed, full frames");
  EXPECT_EQ(info.sound.audioCompression, "PCM, uncompressed");
  EXPECT_TRUE(info.picture.hasPictures);
  EXPECT_TRUE(info.picture.picturesReadable);
}

TEST(Recognition, UnknownIdentifierIsMovieError) {
  ConForm::FFInfoRec info;
  EXPECT_THROW(ConForm::FFInfo(Path("none.xyz"), K_AUTO, &info, nullptr, nullptr),
               Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 14);
  EXPECT_EQ(Errors::ErrCode(), 2);
}

TEST(Recognition, MovieFormatsHaveNoStillRoutines) {
  const std::string path = Path("later.avi");
  MakeBmp(path);
  ConForm::FFInfoRec info;
  // A bitmap named as an AVI: the AVI file layer cannot read it.
  EXPECT_THROW(ConForm::FFInfo(path, ConForm::kFmtAVI, &info, nullptr, nullptr),
               Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), Errors::kClsAviFile);
  // Formats that have no still reader or writer at all: the image error.
  ImgBasic::Qimg image;
  ToQimg(TestPicture(2, 2), 24, &image);
  EXPECT_FALSE(Save(Path("later.bay"), &image, ConForm::kFmtBAY));
  EXPECT_EQ(Errors::ErrClass(), 7);
  EXPECT_EQ(Errors::ErrCode(), 2);
  EXPECT_FALSE(Save(Path("later.gif"), &image, ConForm::kFmtGIF));
  EXPECT_EQ(Errors::ErrClass(), 7);
  EXPECT_EQ(Errors::ErrCode(), 2);
  EXPECT_FALSE(Basic::FileExists(Path("later.gif")));
  ImgBasic::Qimg other;
  EXPECT_FALSE(Load(path, &other, ConForm::kFmtAVI));
  EXPECT_EQ(Errors::ErrClass(), 7);
  EXPECT_EQ(Errors::ErrCode(), 2);
  EXPECT_FALSE(Load(path, &other, ConForm::kFmtKWB));
  EXPECT_EQ(Errors::ErrClass(), 7);
  EXPECT_EQ(Errors::ErrCode(), 2);
  EXPECT_FALSE(Save(Path("none.bmp"), nullptr));
  EXPECT_EQ(Errors::ErrCode(), 9);
  ImgBasic::ImgFree(&image);
}

TEST(Recognition, ProbingFindsBmpBehindWrongExtension) {
  const std::string path = Path("really_bmp.gif");
  MakeBmp(path, 4, 3);
  ConForm::UniInfoRec info;
  ASSERT_TRUE(ConForm::UniInfo(path, &info, 1, nullptr, nullptr, false));
  EXPECT_EQ(info.format, ConForm::kFmtBMP);
  EXPECT_EQ(info.kind, ConForm::kKindImage);
  EXPECT_EQ(info.picture.width, 4);
  EXPECT_EQ(info.filter, "BMP/DIB, Windows Device Independent Bitmap");
  EXPECT_DOUBLE_EQ(info.picture.videoSize, 4 * 3 * 3);
  ImgBasic::Qimg image;
  EXPECT_TRUE(Load(path, &image, info.format));
  ImgBasic::ImgFree(&image);
}

TEST(Recognition, ProbingEachFormatWithoutExtension) {
  ImgBasic::Qimg image;
  ToQimg(TestPicture(6, 4), 24, &image);
  struct Case {
    const char* ext;
    int32_t id;
  } cases[] = {{"tga", 1}, {"pcx", 2}, {"bmp", 3}, {"sgi", 13}, {"ras", 14}, {"ppm", 15}};
  for (const Case& c : cases) {
    const std::string named = Path(std::string("probe.") + c.ext);
    ASSERT_TRUE(Save(named, &image)) << c.ext;
    const std::string bare = Path(std::string("probe_") + c.ext + "_noext");
    std::rename(named.c_str(), bare.c_str());
    ConForm::UniInfoRec info;
    ASSERT_TRUE(ConForm::UniInfo(bare, &info, 1, nullptr, nullptr, false)) << c.ext;
    EXPECT_EQ(info.format, c.id) << c.ext;
    EXPECT_EQ(info.picture.width, 6);
  }
  ImgBasic::ImgFree(&image);
}

TEST(Recognition, UnreadableFileIsFalseWithWarning) {
  const std::string path = Path("garbage.bmp");
  WriteFile(path, Bytes(40, 0x11));
  ConForm::UniInfoRec info;
  EXPECT_FALSE(ConForm::UniInfo(path, &info, 10, nullptr, nullptr, false));
  EXPECT_TRUE(Errors::ErrNone());
  EXPECT_EQ(Errors::WarnClass(), 6);
  EXPECT_EQ(Errors::WarnCode(), 9);
  EXPECT_EQ(info.format, ConForm::kFmtBMP);
  EXPECT_EQ(info.picture.frameCount, 0);
}

TEST(Sequences, SplitNames) {
  std::string prefix, suffix;
  int32_t digits = 0, number = 0;
  ASSERT_TRUE(ConForm::SeqSplit("/d/shot0042.bmp", false, &prefix, &digits, &number,
                                255, &suffix, 255));
  EXPECT_EQ(prefix, "/d/shot");
  EXPECT_EQ(digits, 4);
  EXPECT_EQ(number, 42);
  EXPECT_EQ(suffix, ".bmp");
  ASSERT_TRUE(ConForm::SeqSplit("/d/img-5.bmp", true, &prefix, &digits, &number, 255,
                                &suffix, 255));
  EXPECT_EQ(number, -5);
  EXPECT_EQ(prefix, "/d/img");
  ASSERT_TRUE(ConForm::SeqSplit("/d/img-5.bmp", false, &prefix, &digits, &number, 255,
                                &suffix, 255));
  EXPECT_EQ(number, 5);
  EXPECT_EQ(prefix, "/d/img-");
  ASSERT_TRUE(ConForm::SeqSplit("0007.tga", false, &prefix, &digits, &number, 255,
                                &suffix, 255));
  EXPECT_EQ(prefix, "");
  EXPECT_EQ(number, 7);
  EXPECT_FALSE(ConForm::SeqSplit("/d/plain.bmp", false, &prefix, &digits, &number, 255,
                                 &suffix, 255));
  EXPECT_EQ(prefix, "/d/plain");
  EXPECT_EQ(suffix, ".bmp");
}

TEST(Sequences, TenDigitsAreNotANumber) {
  std::string prefix, suffix;
  int32_t digits = 0, number = 0;
  EXPECT_FALSE(ConForm::SeqSplit("/d/f9999999999.bmp", false, &prefix, &digits, &number,
                                 255, &suffix, 255));
  EXPECT_EQ(number, 0);
  EXPECT_TRUE(ConForm::SeqSplit("/d/f999999999.bmp", false, &prefix, &digits, &number,
                                255, &suffix, 255));
  EXPECT_EQ(number, 999999999);
}

TEST(Sequences, MakeNames) {
  EXPECT_EQ(ConForm::SeqMakeName("/d/a", ".tga", 7, 3), "/d/a007.tga");
  EXPECT_EQ(ConForm::SeqMakeName("/d/a", ".tga", 1234, 3), "/d/a1234.tga");
  EXPECT_EQ(ConForm::SeqMakeName("/d/a", ".tga", -5, 2), "/d/a-05.tga");
}

namespace {
struct ProgressLog {
  std::vector<std::string> names;
  int finals = 0;
  int stopAfter = -1;
};
void Progress(ConForm::InfoProgressRec* rec) {
  auto* log = static_cast<ProgressLog*>(rec->data);
  if (rec->final) {
    log->finals++;
    return;
  }
  EXPECT_EQ(rec->counted, static_cast<int32_t>(log->names.size()));
  EXPECT_EQ(rec->kind, 1);
  log->names.push_back(rec->name);
  if (log->stopAfter >= 0 && rec->counted >= log->stopAfter) rec->stop = true;
}
}  // namespace

TEST(Sequences, CountedAsOneSource) {
  for (int i = 0; i < 3; i++) MakeBmp(Path("frame_00" + std::to_string(i) + ".bmp"), 2, 2);
  WriteFile(Path("frame_004.bmp"), Bytes(100, 1));  // after a gap: not counted
  ConForm::UniInfoRec info;
  ProgressLog log;
  ASSERT_TRUE(ConForm::UniInfo(Path("frame_000.bmp"), &info, 100, Progress, &log, false));
  EXPECT_EQ(info.kind, ConForm::kKindSequence);
  EXPECT_EQ(info.picture.frameCount, 3);
  EXPECT_EQ(info.fileCount, 3);
  EXPECT_EQ(info.firstNumber, 0);
  EXPECT_EQ(info.digitCount, 3);
  EXPECT_EQ(info.seqPrefix, Path("frame_"));
  EXPECT_EQ(info.seqSuffix, ".bmp");
  EXPECT_DOUBLE_EQ(info.totalSize, 3 * (54 + 8 * 2));
  ASSERT_EQ(log.names.size(), 3u);
  EXPECT_EQ(log.names[2], Path("frame_002.bmp"));
  EXPECT_EQ(log.finals, 1);

  // One file at a time never counts.
  ASSERT_TRUE(ConForm::UniInfo(Path("frame_000.bmp"), &info, 1, nullptr, nullptr, false));
  EXPECT_EQ(info.kind, ConForm::kKindImage);
  EXPECT_EQ(info.picture.frameCount, 1);

  // The limit and the progress function's stop request end the count.
  ASSERT_TRUE(ConForm::UniInfo(Path("frame_000.bmp"), &info, 2, nullptr, nullptr, false));
  EXPECT_EQ(info.picture.frameCount, 2);
  ProgressLog stopper;
  stopper.stopAfter = 1;
  ASSERT_TRUE(ConForm::UniInfo(Path("frame_000.bmp"), &info, 100, Progress, &stopper, false));
  EXPECT_EQ(info.picture.frameCount, 1);
  EXPECT_EQ(info.kind, ConForm::kKindImage);
}

TEST(Sequences, EmptyFileEndsTheCount) {
  MakeBmp(Path("e_1.bmp"));
  MakeBmp(Path("e_2.bmp"));
  WriteFile(Path("e_3.bmp"), Bytes());
  MakeBmp(Path("e_4.bmp"));
  ConForm::UniInfoRec info;
  ASSERT_TRUE(ConForm::UniInfo(Path("e_1.bmp"), &info, 100, nullptr, nullptr, false));
  EXPECT_EQ(info.picture.frameCount, 2);
}

TEST(FormatDepths, TableAndHelpers) {
  EXPECT_EQ(FFBasic::FFGetSaveBpp(ConForm::kFmtBMP, 16), 24);
  EXPECT_EQ(FFBasic::FFGetSaveBpp(ConForm::kFmtBMP, 15), 15);
  EXPECT_EQ(FFBasic::FFGetSaveBpp(ConForm::kFmtKWB, 32), 24);
  EXPECT_EQ(FFBasic::FFGetSaveBpp(ConForm::kFmtKWB, 15), 16);
  EXPECT_EQ(FFBasic::FFGetSaveBpp(ConForm::kFmtSGI, 8), 24);
  EXPECT_EQ(FFBasic::FFGetSaveBpp(ConForm::kFmtRAS, 8), 8);
  EXPECT_EQ(FFBasic::FFGetSaveBpp(ConForm::kFmtPNM, 32), 24);
  EXPECT_EQ(FFBasic::FFGetSaveBpp(ConForm::kFmtFLC, 12), 8);
  EXPECT_EQ(FFBasic::FFGetSaveBpp(ConForm::kFmtGIF, 8), K_AUTO);
  EXPECT_EQ(FFBasic::FFFindFormat(ConForm::kFmtAVI), 0);
  EXPECT_EQ(FFBasic::FFFindFormat(ConForm::kFmtOGG), 16);
  EXPECT_EQ(FFBasic::FFFindFormat(ConForm::kFmtBAY), K_AUTO);
  EXPECT_EQ(FFBasic::MakeFourCC('c', 'v', 'i', 'd'), 0x64697663u);
  EXPECT_EQ(FFBasic::FourCCToStr(0x64697663u), "cvid");
  EXPECT_EQ(FFBasic::FFDivPositive(7, 2), 3);
  EXPECT_EQ(FFBasic::FFDivPositive(-7, 2), 0);
  EXPECT_EQ(FFBasic::FFDivPositive(7, 0), 0);
  EXPECT_EQ(FFBasic::FFMulRoundPositive(2.5, 3.5), 8);
  EXPECT_EQ(FFBasic::FFMulRoundPositive(-1, 3), 0);
}

TEST(FormatDepths, InitPadsToBlockWithBlack) {
  ImgBasic::Qimg image;
  ImgBasic::_imgalloc_(&image, 100, 50, "test", __LINE__, 24);
  std::memset(image.data, 0x7F, static_cast<size_t>(image.size));
  FFBasic::FFInitRec rec;
  FFBasic::FFInit(ConForm::kFmtBMP, &rec, &image, 16);
  ASSERT_TRUE(rec.ownUsed);
  const ImgBasic::Qimg* out = rec.image;
  ASSERT_EQ(out->width, 112);
  ASSERT_EQ(out->height, 64);
  EXPECT_EQ(out->bitsPerPixel, 24);
  EXPECT_EQ(out->data[(49 * 112 + 99) * 3], 0x7F);
  EXPECT_EQ(out->data[(49 * 112 + 100) * 3], 0);
  EXPECT_EQ(out->data[(50 * 112 + 0) * 3 + 2], 0);
  EXPECT_EQ(out->data[(63 * 112 + 111) * 3 + 1], 0);
  FFBasic::FFDone(&rec);
  EXPECT_FALSE(rec.ownUsed);

  // Depth only: a 16-bit image becomes 24 bits for BMP.
  ImgBasic::Qimg small;
  ImgBasic::_imgalloc_(&small, 2, 1, "test", __LINE__, 16);
  small.data[0] = 0x1F;  // pure blue in 5-6-5
  FFBasic::FFInit(ConForm::kFmtBMP, &rec, &small, 1);
  ASSERT_TRUE(rec.ownUsed);
  EXPECT_EQ(rec.image->bitsPerPixel, 24);
  EXPECT_EQ(rec.image->data[0], 0xF8);
  FFBasic::FFDone(&rec);
  // Nothing to do: the caller's image is written as it is.
  FFBasic::FFInit(ConForm::kFmtBMP, &rec, &image, 1);
  EXPECT_EQ(rec.image, &image);
  FFBasic::FFDone(&rec);
  EXPECT_THROW(FFBasic::FFInit(ConForm::kFmtGIF, &rec, &image, 1), Errors::EMon);
  EXPECT_EQ(Errors::ErrClass(), 14);
  EXPECT_EQ(Errors::ErrCode(), 1);
  ImgBasic::ImgFree(&image);
  ImgBasic::ImgFree(&small);
}

TEST(BoundedReader, ChecksEveryLength) {
  const uint8_t data[6] = {1, 2, 3, 4, 5, 6};
  FFBasic::FFReader r(data, 6, 9);
  EXPECT_EQ(r.U16B(), 0x0102);
  EXPECT_EQ(r.U16L(), 0x0403);
  EXPECT_EQ(r.Left(), 2);
  EXPECT_TRUE(r.Has(2));
  EXPECT_FALSE(r.Has(3));
  EXPECT_FALSE(r.Has(-1));
  // Outside a frame the failure is recorded and the destination zeroed.
  uint8_t out[4] = {9, 9, 9, 9};
  EXPECT_FALSE(r.Read(out, 4));
  EXPECT_EQ(out[0], 0);
  EXPECT_TRUE(r.Failed());
  EXPECT_EQ(Errors::ErrClass(), 7);
  EXPECT_EQ(Errors::ErrCode(), 9);
  EXPECT_EQ(r.Pos(), 4);
  FFBasic::FFReader s(data, 6, 3);
  EXPECT_FALSE(s.Seek(7));
  EXPECT_EQ(Errors::ErrCode(), 3);
  EXPECT_EQ(FFBasic::FFCapSize(int64_t{1} << 40, 1, __LINE__), -1);
  EXPECT_EQ(FFBasic::FFCapSize(100, 1, __LINE__), 100);
  // Image sizes from headers: two 31-bit sizes must not overflow.
  EXPECT_EQ(ImgBasic::CheckedImageBytes(INT32_MAX, INT32_MAX, 32, __LINE__), -1);
  EXPECT_EQ(ImgBasic::CheckedImageBytes(3, 2, 24, __LINE__), 18);
}
