// File lists: the source files of a conversion collected from wildcard
// patterns, with what they hold added up before the conversion starts.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <new>

#include "engine/Common.h"
#include "engine/ConFormOut.h"
#include "engine/QorMain.h"
#include "formats/ConForm.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"

using Common::IntToStrAuto;
using Common::LogValue;
using Common::PtrToStrLog;

namespace QorMain {
namespace {

constexpr const char* kListLabel = "QorMain.QorListAlloc.listP";

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

std::string Trim(const std::string& text) {
  const char* blanks = " \t\r\n";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

int Lower(char c) { return std::tolower(static_cast<unsigned char>(c)); }

// "*" any run of characters, "?" any one; letters match in any case.
bool WildMatch(const char* pattern, const char* name) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name) {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == '?' || (*pattern && Lower(*pattern) == Lower(*name))) {
      pattern++;
      name++;
    } else if (star) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') pattern++;
  return *pattern == '\0';
}

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; i++) {
    const int ca = Lower(a[i]), cb = Lower(b[i]);
    if (ca != cb) return ca < cb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;  // names differing only in case keep a fixed order
}

// The folder of a pattern, absolute with a trailing separator, and
// the name pattern inside it.
void SplitPattern(const std::string& filePattern, std::string* folder, std::string* pattern) {
  const size_t slash = filePattern.find_last_of('/');
  const std::string dir = slash == std::string::npos ? std::string(".") : filePattern.substr(0, slash + 1);
  *pattern = slash == std::string::npos ? filePattern : filePattern.substr(slash + 1);
  std::error_code ec;
  std::string full = std::filesystem::absolute(dir, ec).lexically_normal().string();
  if (ec) full = dir;
  if (full.empty() || full.back() != '/') full += '/';
  *folder = full;
}

bool IsRegularFile(const std::string& name) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool UsablePictures(const ConForm::UniInfoRec& info) {
  const ConForm::PictureInfo& p = info.picture;
  return p.hasPictures && p.picturesReadable && p.width != 0 && p.height != 0;
}

bool UsableSound(const ConForm::UniInfoRec& info) {
  const ConForm::SoundInfo& s = info.sound;
  return s.hasSound && s.soundReadable && s.sampleRate != 0;
}

int32_t SaturatingAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(std::clamp<int64_t>(int64_t{a} + b, INT32_MIN, INT32_MAX));
}

// Adds what an accepted file holds to the list's totals.
void AddUp(QorFileList* list, const ConForm::UniInfoRec& info) {
  if (UsablePictures(info)) {
    const ConForm::PictureInfo& p = info.picture;
    list->frames = SaturatingAdd(list->frames, p.frameCount);
    if (int64_t{p.width} * p.height > int64_t{list->width} * list->height) {
      list->width = p.width;
      list->height = p.height;
    }
    if (p.bitsPerPixel > list->bpp) list->bpp = std::clamp(p.bitsPerPixel, 8, 24);
    if (p.fps > list->frameRate) list->frameRate = p.fps;
  }
  if (UsableSound(info)) {
    const ConForm::SoundInfo& s = info.sound;
    list->samples = SaturatingAdd(list->samples, s.sampleFrames);
    const double rate = std::round(s.sampleRate);
    if (rate > list->sampleRate)
      list->sampleRate = static_cast<int32_t>(std::clamp(rate, 8000.0, 44100.0));
    if (s.channels > list->channels) list->channels = std::clamp(s.channels, 1, 2);
    if (s.bitsPerSample > list->bits) list->bits = std::clamp(s.bitsPerSample, 8, 16);
  }
}

// Whether a found file belongs in the list, reading it only when the mask
// asks about what it holds.
bool Accept(QorFileList* list, const std::string& name, int32_t mask,
            QorInfoProgressProc progress, void* progressData) {
  if (mask == QOR_LIST_EVERY_FILE) return true;
  if (mask & QOR_LIST_BY_EXTENSION) {
    const int32_t format = ConForm::GetFmtByExt(name, ConForm::kLoadTable);
    if (format == K_AUTO) return false;
    return mask == QOR_LIST_BY_EXTENSION || (ConForm::GetFmtFlags(format, ConForm::kLoadTable) & mask) != 0;
  }
  // A file that cannot be described is left out, without an error.
  ConForm::UniInfoRec info;
  if (!_QorDescribeQuietly(name, 0, progress, progressData, &info)) return false;
  if (mask != 0) {
    if ((ConForm::GetFmtFlags(info.format, ConForm::kLoadTable) & mask) == 0) return false;
    if ((mask & (ConForm::kFlagStill | ConForm::kFlagPictures)) && !UsablePictures(info))
      return false;
    if ((mask & (ConForm::kFlagSoundOnly | ConForm::kFlagSound)) && !UsableSound(info))
      return false;
  }
  AddUp(list, info);
  return true;
}

// The names one pattern matches: regular files of its folder whose
// full names fit a host's buffer, sorted without regard to case.
std::vector<std::string> FindFiles(const std::string& filePattern) {
  std::string folder, pattern;
  SplitPattern(filePattern, &folder, &pattern);
  std::vector<std::string> found;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return found;
  while (const dirent* entry = ::readdir(dir)) {
    if (!WildMatch(pattern.c_str(), entry->d_name)) continue;
    const std::string name = folder + entry->d_name;
    // Checked first: the system cannot even look at a longer name.
    if (name.size() + 1 > kMaxListName) {
      Errors::WarnSetText(Errors::kClsText, "File name too long, skipped: " + name,
                          __LINE__);
      continue;
    }
    if (!IsRegularFile(name)) continue;
    found.push_back(name);
  }
  ::closedir(dir);
  std::sort(found.begin(), found.end(), LessIgnoringCase);
  return found;
}

int32_t _QorFilesAddBlock(QorFileList* list, const std::string& filePattern, int32_t mask,
                          QorInfoProgressProc progress, void* progressData) {
  int32_t added = 0;
  for (const std::string& name : FindFiles(filePattern)) {
    if (!Accept(list, name, mask, progress, progressData)) continue;
    Common::LogLine("  " + name);
    list->names.push_back(name);
    added++;
  }
  return added;
}

int32_t _QorFilesCollect(QorFileList* list, const std::string& text, int32_t mask,
                         QorInfoProgressProc progress, void* progressData) {
  int32_t added = 0;
  const std::string all = Trim(text);
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(';', start);
    if (end == std::string::npos) end = all.size();
    const std::string part = Trim(all.substr(start, end - start));
    if (!part.empty()) added += _QorFilesAddBlock(list, part, mask, progress, progressData);
    start = end + 1;
  }
  if (std::fabs(list->frameRate) < 0.0001) list->frameRate = 30.0;
  Common::LogLine("  _QorFilesCollect");
  Common::LogLine("    listString=" + all);
  Common::LogLine("    frames=" + IntToStrAuto(list->frames));
  Common::LogLine("    resX=" + IntToStrAuto(list->width));
  Common::LogLine("    resY=" + IntToStrAuto(list->height));
  Common::LogLine("    bpp=" + IntToStrAuto(list->bpp));
  Common::LogLine("    fps=" + Common::FloatToStrAuto(list->frameRate));
  Common::LogLine("    samples=" + IntToStrAuto(list->samples));
  Common::LogLine("    audFreq=" + IntToStrAuto(list->sampleRate));
  Common::LogLine("    audChan=" + IntToStrAuto(list->channels));
  Common::LogLine("    audBits=" + IntToStrAuto(list->bits));
  return added;
}

}  // namespace

QorFileList* _QorListOf(QorHandle mList) {
  return Common::RequireHandle<QorFileList>(mList, kListLabel, "mList");
}

QorFileList* _QorListAlloc() {
  void* block = nullptr;
  QorFileList* list = nullptr;
  Errors::Monitored("QorMain._QorListAlloc", [&] {
    Basic::MemAlloc(block, static_cast<int64_t>(sizeof(QorFileList)), __LINE__,
                    Basic::kMemNew, kListLabel);
    list = new (block) QorFileList();
  });
  return list;
}

void _QorListFree(QorFileList* list) {
  if (!list) return;
  list->~QorFileList();
  void* block = list;
  Basic::MemFree(block);
}

int32_t _QorListAdd(QorFileList* list, const std::string& fileSpec, int32_t fileType,
                    QorInfoProgressProc progress, void* progressData) {
  return _QorFilesCollect(list, fileSpec, fileType, progress, progressData);
}

bool _QorListGetName(const QorFileList* list, int32_t fileIndex, std::string* name) {
  if (fileIndex < 0 || static_cast<size_t>(fileIndex) >= list->names.size()) {
    name->clear();
    return false;
  }
  *name = list->names[static_cast<size_t>(fileIndex)];
  return true;
}

double QorListGetFrameRate(const QorFileList* list) { return list->frameRate; }

}  // namespace QorMain

using namespace QorMain;

namespace {

void LogList(QorHandle mList) { LogValue("mList", PtrToStrLog(mList)); }

}  // namespace

QOR_API QorHandle QOR_CALL QorListAlloc(void) {
  return Common::ExportFrame<QorHandle>("QorMain.QorListAlloc", nullptr, [] {
    QorHandle result = _QorListAlloc();
    LogValue("result", PtrToStrLog(result));
    return result;
  });
}

QOR_API void QOR_CALL QorListFree(QorHandle mList) {
  Common::ExportFrameVoid("QorMain.QorListFree", [&] {
    LogList(mList);
    if (mList) _QorListFree(_QorListOf(mList));
  });
}

QOR_API int32_t QOR_CALL QorListAdd(QorHandle mList, const char* fileSpec, int32_t fileType,
                                    QorInfoProgressProc progress, void* progressData) {
  return Common::ExportFrame<int32_t>("QorMain.QorListAdd", 0, [&] {
    LogList(mList);
    LogValue("fileSpec", Text(fileSpec));
    LogValue("fileType", IntToStrAuto(fileType));
    QorFileList* list = _QorListOf(mList);
    const int32_t result =
        fileSpec ? _QorListAdd(list, fileSpec, fileType, progress, progressData) : 0;
    LogValue("result", IntToStrAuto(result));
    return result;
  });
}

QOR_API QorBool QOR_CALL QorListGetName(QorHandle mList, int32_t fileIndex, char* filename) {
  return Common::ExportFrame<QorBool>("QorMain.QorListGetName", 0, [&] {
    LogList(mList);
    LogValue("fileIndex", IntToStrAuto(fileIndex));
    const QorFileList* list = _QorListOf(mList);
    Common::Require(filename, "filename");
    std::string name;
    const bool found = _QorListGetName(list, fileIndex, &name);
    std::memcpy(filename, name.c_str(), name.size() + 1);
    LogValue("filename", name);
    return found ? QorBool{-1} : QorBool{0};
  });
}

QOR_API int32_t QOR_CALL QorListGetFileCount(QorHandle mList) {
  return Common::ExportFrame<int32_t>("QorMain.QorListGetFileCount", 0, [&] {
    LogList(mList);
    const auto result = static_cast<int32_t>(_QorListOf(mList)->names.size());
    LogValue("result", IntToStrAuto(result));
    return result;
  });
}

QOR_API int32_t QOR_CALL QorListGetFrameCount(QorHandle mList) {
  return Common::ExportFrame<int32_t>("QorMain.QorListGetFrameCount", 0, [&] {
    LogList(mList);
    const int32_t result = _QorListOf(mList)->frames;
    LogValue("result", IntToStrAuto(result));
    return result;
  });
}

QOR_API void QOR_CALL QorListGetMaxRes(QorHandle mList, int32_t* resX, int32_t* resY,
                                       int32_t* bpp) {
  Common::ExportFrameVoid("QorMain.QorListGetMaxRes", [&] {
    LogList(mList);
    const QorFileList* list = _QorListOf(mList);
    *Common::Require(resX, "resX") = list->width;
    *Common::Require(resY, "resY") = list->height;
    *Common::Require(bpp, "bpp") = list->bpp;
    LogValue("resX", IntToStrAuto(*resX));
    LogValue("resY", IntToStrAuto(*resY));
    LogValue("bpp", IntToStrAuto(*bpp));
  });
}

QOR_API int32_t QOR_CALL QorListGetSampleCount(QorHandle mList) {
  return Common::ExportFrame<int32_t>("QorMain.QorListGetSampleCount", 0, [&] {
    LogList(mList);
    const int32_t result = _QorListOf(mList)->samples;
    LogValue("result", IntToStrAuto(result));
    return result;
  });
}

QOR_API void QOR_CALL QorListGetAudioFormat(QorHandle mList, int32_t* sampleRate,
                                            int32_t* channels, int32_t* bits) {
  Common::ExportFrameVoid("QorMain.QorListGetAudioFormat", [&] {
    LogList(mList);
    const QorFileList* list = _QorListOf(mList);
    *Common::Require(sampleRate, "sampleRate") = list->sampleRate;
    *Common::Require(channels, "channels") = list->channels;
    *Common::Require(bits, "bits") = list->bits;
    LogValue("sampleRate", IntToStrAuto(*sampleRate));
    LogValue("channels", IntToStrAuto(*channels));
    LogValue("bits", IntToStrAuto(*bits));
  });
}
