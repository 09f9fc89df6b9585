// A host that knows the library only by its file and its exported names:
// it loads the shared library with dlopen, looks every export up with dlsym
// and drives them.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/HostLibrary.h"
#include "qor.h"

namespace {

// Every function the library exports.
const char* const kExports[] = {
    "QorAbort", "QorAlloc", "QorAssignAudioFunc", "QorAssignAudioSource",
    "QorAssignError", "QorAssignProgress", "QorAssignVideoFunc",
    "QorAssignVideoSource", "QorAviAddCustomInfo", "QorAviClearCustomInfo",
    "QorAviCodecConfigureDlg", "QorAviGetCustomInfo", "QorBayerGetHdr",
    "QorBayerLoad", "QorBayerToImg", "QorCheckError", "QorClearCanvas",
    "QorCodecDlg", "QorCodecsGetInfo", "QorCodecsInit", "QorConvert",
    "QorDIBToImg", "QorFileClose", "QorFileCreate", "QorFileOpen",
    "QorFileSetAudioParams", "QorFileSetVideoParams", "QorForceCompatibility",
    "QorFree", "QorGetElapsedTime", "QorGetFileFmtID", "QorGetFileInfo",
    "QorGetLastError", "QorGetRemainingTime", "QorGetStatus",
    "QorGetVideoFormat", "QorHasCodecDlg", "QorImgAlloc", "QorImgAverageAdd",
    "QorImgAverageClear", "QorImgAverageGet", "QorImgBorder",
    "QorImgBrightness", "QorImgClear", "QorImgContrast", "QorImgCopy",
    "QorImgCrop", "QorImgDeinterlace", "QorImgEdgeEnhance", "QorImgFindEdges",
    "QorImgFlipHorizontal", "QorImgFlipVertical", "QorImgFree", "QorImgGamma",
    "QorImgGetInfo", "QorImgGetPixelRGB", "QorImgGetPixels", "QorImgInsert",
    "QorImgLoad", "QorImgLoadAlpha", "QorImgLoadSingle", "QorImgRedim",
    "QorImgRemap", "QorImgRemapToCustomPalette", "QorImgResample",
    "QorImgResize", "QorImgRotate", "QorImgSaturation", "QorImgSave",
    "QorImgSaveSingle", "QorImgSetPixels", "QorImgSharpen", "QorImgShow",
    "QorImgShowInRect", "QorImgSkip", "QorImgSoften", "QorImgToDIB",
    "QorImgToDIBWin3", "QorImgWhiteBalance", "QorListAdd", "QorListAlloc",
    "QorListFree", "QorListGetAudioFormat", "QorListGetFileCount",
    "QorListGetFrameCount", "QorListGetMaxRes", "QorListGetName",
    "QorListGetSampleCount", "QorLocaleClear", "QorLocaleSet", "QorLogExtra",
    "QorLogStart", "QorLogStop", "QorMakeErrorStr", "QorMakeFourCC",
    "QorMakeTimeStr", "QorMpgMultiplex", "QorOutputDlg", "QorPixelReorder",
    "QorQuickConvert", "QorRGB", "QorReleaseDIB", "QorReleaseDIBWin3",
    "QorSetAudioFormat", "QorSetBitRate", "QorSetBpp", "QorSetByteRate",
    "QorSetCodec", "QorSetDithering", "QorSetFrameRate", "QorSetKeepDuration",
    "QorSetKeyFrameRate", "QorSetOutputFile", "QorSetQuality",
    "QorSetResolution", "QorSndAlloc", "QorSndCopy", "QorSndFree",
    "QorSndGetInfo", "QorSndGetSamples", "QorSndLoad", "QorSndResample",
    "QorSndSave", "QorSndSetSamples", "QorSrcFinished", "QorSrcSetDIB",
    "QorSrcSetDirection", "QorSrcSetFile", "QorSrcSetFrameRate",
    "QorSrcSetImg", "QorSrcSetLen", "QorSrcSetLenTime", "QorSrcSetPixels",
    "QorSrcSetSamples", "QorSrcSetStart", "QorSrcSetStartTime", "QorSrcSkip",
    "QorTextAlloc", "QorTextFree", "QorTextGetExtents", "QorTextOut",
    "QorTextSetColor", "QorTextSetFont", "QorTextShadow", "QorTiffGetTag",
    "QorTiffSet16to8bitGrayRange", "QorTruncateAudioToVideo",
};
constexpr size_t kExportCount = sizeof kExports / sizeof kExports[0];
static_assert(kExportCount == 147);

std::string ErrorStr(decltype(QorMakeErrorStr)* make, QorLastError rec) {
  char buf[512];
  std::memset(buf, 'X', sizeof buf);
  make(&rec, buf);
  return buf;
}

}  // namespace

TEST(Host, LoadsAndCountsTheExports) {
  ASSERT_NE(Lib().handle(), nullptr) << Lib().error();
  size_t resolved = 0;
  std::vector<std::string> missing;
  for (const char* name : kExports) {
    if (dlsym(Lib().handle(), name))
      resolved++;
    else
      missing.push_back(name);
  }
  std::printf("libqor exports resolved: %zu of %zu\n", resolved, kExportCount);
  for (const char* name :
       {"QorGetStatus", "QorGetLastError", "QorMakeErrorStr", "QorCheckError",
        "QorLogStart", "QorLogExtra", "QorLogStop", "QorLocaleClear",
        "QorLocaleSet", "QorMakeFourCC", "QorRGB", "QorPixelReorder"})
    EXPECT_NE(dlsym(Lib().handle(), name), nullptr) << name;
  EXPECT_GE(resolved, 12u);
}

TEST(Host, LastErrorRecordAndTexts) {
  auto getStatus = QOR_GET(QorGetStatus);
  auto getLast = QOR_GET(QorGetLastError);
  auto make = QOR_GET(QorMakeErrorStr);
  auto check = QOR_GET(QorCheckError);
  auto localeSet = QOR_GET(QorLocaleSet);
  auto localeClear = QOR_GET(QorLocaleClear);
  ASSERT_TRUE(getStatus && getLast && make && check && localeSet && localeClear);

  QorLastError rec{-1, -1, -1};
  getLast(&rec);
  EXPECT_EQ(rec.code, 0);
  EXPECT_EQ(check(), 0);

  EXPECT_EQ(getStatus(nullptr), 0);  // nil handle: caught, never a crash
  getLast(&rec);
  EXPECT_EQ(rec.code, 999);
  EXPECT_EQ(rec.errClass, 0);
  EXPECT_EQ(rec.errNum, 0);
  EXPECT_EQ(check(), -1);  // shows nothing for 999

  EXPECT_EQ(ErrorStr(make, {999, 0, 0}), "Unknown error.");
  EXPECT_EQ(ErrorStr(make, {0, 0, 0}), "Finished successfully.");
  EXPECT_EQ(ErrorStr(make, {1000, 7, 2}), "Invalid image format.");
  localeSet("Unknown error.", "Erreur inconnue.");
  EXPECT_EQ(ErrorStr(make, {3, 0, 0}), "Erreur inconnue.");
  localeClear();
  EXPECT_EQ(ErrorStr(make, {3, 0, 0}), "Unknown error.");
}

TEST(Host, ValueExports) {
  auto fourcc = QOR_GET(QorMakeFourCC);
  auto rgb = QOR_GET(QorRGB);
  auto reorder = QOR_GET(QorPixelReorder);
  auto getLast = QOR_GET(QorGetLastError);
  ASSERT_TRUE(fourcc && rgb && reorder && getLast);
  EXPECT_EQ(fourcc("cvid"), 0x64697663);
  EXPECT_EQ(rgb(255, 0, 256), 255);
  const uint8_t in[4] = {10, 20, 30, 40};
  uint8_t out[4] = {0, 0, 0, 0};
  reorder(in, 32, 0, out, 1);
  EXPECT_EQ(out[0], 30);
  EXPECT_EQ(out[2], 10);
  EXPECT_EQ(out[3], 40);
  reorder(in, 24, 0, nullptr, 1);
  QorLastError rec{};
  getLast(&rec);
  EXPECT_EQ(rec.code, 999);
}

TEST(Host, CallLogThroughTheExports) {
  auto start = QOR_GET(QorLogStart);
  auto extra = QOR_GET(QorLogExtra);
  auto stop = QOR_GET(QorLogStop);
  auto reorder = QOR_GET(QorPixelReorder);
  ASSERT_TRUE(start && extra && stop && reorder);
  char tmpl[] = "/tmp/qor_host_XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  const std::string path = dir + "/host.log";
  start(path.c_str());
  extra(1);
  uint8_t px[3] = {1, 2, 3};
  reorder(px, 24, 0, px, K_AUTO);
  stop();
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  const std::string log = s.str();
  EXPECT_EQ(log.rfind("QOR 2.8.0\r\n", 0), 0u);
  EXPECT_NE(log.find("#QorPixelReorder\r\n#  inData="), std::string::npos);
  EXPECT_NE(log.find("#  numPixels=K_AUTO\r\n"), std::string::npos);
  std::filesystem::remove_all(dir);
}

TEST(Host, DynamicSymbolsAreOnlyExports) {
  const std::string cmd =
      std::string("nm -D --defined-only '") + QOR_LIBRARY_FILE + "' 2>/dev/null";
  FILE* pipe = popen(cmd.c_str(), "r");
  if (!pipe) GTEST_SKIP() << "nm not available";
  char line[1024];
  size_t symbols = 0;
  std::vector<std::string> foreign;
  while (std::fgets(line, sizeof line, pipe)) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (!(fields >> address >> type >> name)) continue;
    symbols++;
    if (name.rfind("Qor", 0) != 0 || type != "T") foreign.push_back(type + " " + name);
  }
  const int status = pclose(pipe);
  if (symbols == 0 && status != 0) GTEST_SKIP() << "nm not available";
  EXPECT_GE(symbols, 12u);
  EXPECT_TRUE(foreign.empty()) << "first foreign symbol: " << foreign.front();
}
