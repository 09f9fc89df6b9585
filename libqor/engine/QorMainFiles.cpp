// Frame-access files: a host reads any supported file frame by frame and
// sample by sample, or writes a new one frame by frame, through one handle.
// The image and sound exports read and write through the same record.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "engine/Common.h"
#include "engine/QorMain.h"
#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"

using Common::IntToStrAuto;
using Common::LogLine;
using Common::LogValue;
using Common::PtrToStrLog;

namespace QorMain {
namespace {

constexpr const char* kOpenLabel = "QorMain.QorFileOpen.fileP";
constexpr const char* kCreateLabel = "QorMain.QorFileCreate.fileP";

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

// A frame rate of K_AUTO arrives as a real.
bool IsAutoRate(double fps) { return std::fabs(fps - Basic::K_AUTO) < 0.0001; }

// Every record handed out and not yet released. A created file that never
// received anything cannot be closed by its host, so the library's stop
// releases what is left here, contents and all.
std::vector<QorFile*>& LiveFiles() {
  static std::vector<QorFile*>* const live = new std::vector<QorFile*>();
  return *live;
}

// A zeroed record in one tracked block under the given label; on failure
// the frame frees the block and the failure passes on.
QorFile* NewFile(const char* label) {
  void* block = nullptr;
  QorMain::QorFile* file = nullptr;
  Errors::Monitored("QorMain.NewFile", [&] {
    Errors::MonSetCleanup([&] {
      if (file) file->~QorFile();
      file = nullptr;
    });
    Basic::MemAlloc(block, static_cast<int64_t>(sizeof(QorFile)), __LINE__, Basic::kMemNew,
                    label);
    file = new (block) QorFile();
    LiveFiles().push_back(file);
  });
  return file;
}

void ReleaseFile(QorFile* file) {
  auto& live = LiveFiles();
  live.erase(std::remove(live.begin(), live.end(), file), live.end());
  ImgBasic::ImgFree(&file->image);
  file->~QorFile();
  void* block = file;
  Basic::MemFree(block);
}

// Opens what the description found readable; nil for a file with neither
// readable pictures nor readable sound.
QorFile* OpenDescribed(const ConForm::UniInfoRec& info) {
  if (!info.picture.picturesReadable && !info.sound.soundReadable) return nullptr;
  QorMain::QorFile* file = NewFile(kOpenLabel);
  Errors::Monitored("QorMain.QorFileOpen.open", [&] {
    Errors::MonSetCleanup([&] {
      ReleaseFile(file);
      file = nullptr;
    });
    ConForm::UniOpen(&file->source, &info);
    file->mode = true;
  });
  return file;
}

// The defaults of a new file: its format's pictures at 320 x 240, 24 bits,
// 30 frames per second, its sound at 44100 Hz, 2 channels, 16 bits. A file
// that takes no pictures (or no sound) keeps that side without a format, so
// its parameters never give the output a format of nothing.
void SetOutputDefaults(QorFile* file, const std::string& name) {
  file->created = true;
  file->name = name;
  const int32_t format = _QorGetFileSaveID(name);
  const int32_t flags = ConForm::GetFmtFlags(format, ConForm::kSaveTable);
  file->videoFormat = Basic::K_AUTO;
  file->audioFormat = Basic::K_AUTO;
  ConForm::FFSaveInit(&file->videoSave, ConForm::kSaveVideo);
  if ((flags & ConForm::kFlagPictures) != 0) {
    file->videoFormat = format;
    ConForm::FFSaveSetFmt(&file->videoSave, format);
    file->width = 320;
    file->height = 240;
    file->bpp = 24;
    file->frameRate = 30.0;
  }
  ConForm::FFSaveInit(&file->audioSave, ConForm::kSaveAudio);
  if ((flags & ConForm::kFlagSound) != 0) {
    file->audioFormat = format;
    ConForm::FFSaveSetFmt(&file->audioSave, format);
    SndBasic::WaveFormatSetPCM(file->wave, 44100, 2, 16);
  }
}

QorFile* NewOutputFile(const std::string& name) {
  QorMain::QorFile* file = NewFile(kCreateLabel);
  Errors::Monitored("QorMain.QorFileCreate.defaults", [&] {
    Errors::MonSetCleanup([&] {
      ReleaseFile(file);
      file = nullptr;
    });
    SetOutputDefaults(file, name);
  });
  return file;
}

// Parameters change only before the first write; nil and a file whose
// output is prepared (or one opened for reading) are left as they are.
bool ParamsChangeable(QorFile* file) {
  if (!file) {
    LogLine("  ERROR: file not created");
    return false;
  }
  if (file->mode) {
    LogLine("  ERROR: file is already open");
    return false;
  }
  return true;
}

// A rate, channel count or depth that is not positive or does not fit the
// wave format is refused and changes nothing.
void SetWave(QorFile* file, int32_t rate, int32_t channels, int32_t bits) {
  Errors::Monitored("QorMain.QorFileSetAudioParams.wave", [&] {
    ConForm::WaveFormat wave{};
    SndBasic::WaveFormatSetPCM(wave, rate, channels, bits);
    if (!SndBasic::WaveFormatValidate(wave)) {
      Errors::ErrSet(Errors::kErrAudioFormat, __LINE__);
      return;
    }
    file->wave = wave;
  });
}

// Closes the universal handle: a written stream is finished.
void CloseHandle(QorFile* file) {
  if (file->created)
    ConForm::UniClose(&file->output);
  else
    ConForm::UniClose(&file->source);
}

void CloseFile(QorFile* file) {
  // Whatever finishing the file reports, the record goes (once). The flag
  // lives outside the frame's body: when finishing fails, the clean-up runs
  // after the body has been left.
  bool released = false;
  Errors::Monitored("QorMain.QorFileClose.close", [&] {
    Errors::MonSetCleanup([file, &released] {
      if (!released) ReleaseFile(file);
    });
    CloseHandle(file);
    released = true;
    ReleaseFile(file);
  });
}

}  // namespace

QorFile* _QorFileOf(QorHandle mFile) {
  if (!mFile) throw Common::ENilArgument("mFile");
  if (!Common::IsTrackedAs(mFile, kOpenLabel) && !Common::IsTrackedAs(mFile, kCreateLabel))
    throw Common::EBadHandle("mFile");
  return static_cast<QorFile*>(mFile);
}

void _QorFilesRelease() {
  while (!LiveFiles().empty()) {
    QorMain::QorFile* file = LiveFiles().back();
    // What the host left open is closed as QorFileClose would; a failure
    // there stops nothing at unload.
    Errors::MonitoredQuiet("QorMain._QorFilesRelease", [&] { CloseHandle(file); });
    ReleaseFile(file);
  }
}

void _QorFileCheckCreate(QorFile* file) {
  if (!file || file->mode) return;
  LogLine("  _QorFileCheckCreate");
  ConForm::FFSavePrepare(&file->videoSave, file->width, file->height, file->wave, &file->wave,
                         &file->audioSave, file->bpp);
  file->width = file->videoSave.preparedWidth;
  file->height = file->videoSave.preparedHeight;
  file->bpp = file->videoSave.preparedBits;
  ConForm::UniCreate(&file->output, file->name);
  file->mode = true;
  ConForm::UniSetFrameRate(&file->output, file->frameRate);
  ConForm::UniSetSaveOptions(&file->output, file->videoSave);
}

}  // namespace QorMain

using namespace QorMain;

QOR_API QorHandle QOR_CALL QorFileOpen(const char* filename, int32_t seqDetect,
                                       QorFileInfo* info, QorInfoProgressProc progress,
                                       void* progressData) {
  return Common::ExportFrame<QorHandle>("QorMain.QorFileOpen", nullptr, [&]() -> QorHandle {
    LogValue("filename", Text(filename));
    Common::Require(filename, "filename");
    Common::Require(info, "info");
    ConForm::UniInfoRec described;
    _QorDescribeFile(filename, seqDetect, progress, progressData, &described);
    CopyFileInfoOut(described, info);
    QorMain::QorFile* file = OpenDescribed(described);
    if (!file) LogLine("  file format not supported");
    LogValue("resX", IntToStrAuto(described.picture.width));
    LogValue("resY", IntToStrAuto(described.picture.height));
    LogValue("bpp", IntToStrAuto(described.picture.bitsPerPixel));
    LogValue("frames", IntToStrAuto(described.picture.frameCount));
    LogValue("result", PtrToStrLog(file));
    return file;
  });
}

QOR_API QorHandle QOR_CALL QorFileCreate(const char* filename) {
  return Common::ExportFrame<QorHandle>("QorMain.QorFileCreate", nullptr, [&]() -> QorHandle {
    LogValue("filename", Text(filename));
    QorMain::QorFile* file = NewOutputFile(Text(Common::Require(filename, "filename")));
    LogValue("result", PtrToStrLog(file));
    return file;
  });
}

QOR_API void QOR_CALL QorFileSetVideoParams(QorHandle mFile, int32_t resX, int32_t resY,
                                            int32_t bpp, double frameRate, int32_t codec,
                                            int32_t quality, int32_t byteRate) {
  Common::ExportFrameVoid("QorMain.QorFileSetVideoParams", [&] {
    LogValue("mFile", PtrToStrLog(mFile));
    LogValue("resX", IntToStrAuto(resX));
    LogValue("resY", IntToStrAuto(resY));
    LogValue("bpp", IntToStrAuto(bpp));
    LogValue("frameRate", Common::FloatToStrAuto(frameRate));
    LogValue("codec", IntToStrAuto(codec));
    LogValue("quality", IntToStrAuto(quality));
    LogValue("byteRate", IntToStrAuto(byteRate));
    QorMain::QorFile* file = mFile ? _QorFileOf(mFile) : nullptr;
    if (!ParamsChangeable(file)) return;
    ConForm::FFSaveSetFmt(&file->videoSave, file->videoFormat);
    if (resX != K_AUTO) file->width = resX;
    if (resY != K_AUTO) file->height = resY;
    if (bpp != K_AUTO) file->bpp = bpp;
    if (!IsAutoRate(frameRate)) file->frameRate = frameRate;
    if (codec != K_AUTO) ConForm::FFSaveSetCodec(&file->videoSave, codec);
    if (quality != K_AUTO) ConForm::FFSaveSetQuality(&file->videoSave, quality);
    if (byteRate != K_AUTO) ConForm::FFSaveSetByteRate(&file->videoSave, byteRate);
  });
}

QOR_API void QOR_CALL QorFileSetAudioParams(QorHandle mFile, int32_t sampleRate,
                                            int32_t channels, int32_t bits, int32_t byteRate) {
  Common::ExportFrameVoid("QorMain.QorFileSetAudioParams", [&] {
    LogValue("mFile", PtrToStrLog(mFile));
    LogValue("sampleRate", IntToStrAuto(sampleRate));
    LogValue("channels", IntToStrAuto(channels));
    LogValue("bits", IntToStrAuto(bits));
    LogValue("byteRate", IntToStrAuto(byteRate));
    QorMain::QorFile* file = mFile ? _QorFileOf(mFile) : nullptr;
    if (!ParamsChangeable(file)) return;
    const int32_t rate =
        sampleRate != K_AUTO ? sampleRate : static_cast<int32_t>(file->wave.samplesPerSec);
    const int32_t ch = channels != K_AUTO ? channels : file->wave.channels;
    const int32_t b = bits != K_AUTO ? bits : file->wave.bitsPerSample;
    SetWave(file, rate, ch, b);
    ConForm::FFSaveSetFmt(&file->audioSave, file->audioFormat);
    if (byteRate != K_AUTO) ConForm::FFSaveSetByteRate(&file->audioSave, byteRate);
  });
}

QOR_API void QOR_CALL QorFileClose(QorHandle mFile) {
  Common::ExportFrameVoid("QorMain.QorFileClose", [&] {
    LogValue("mFile", PtrToStrLog(mFile));
    if (!mFile) return;
    QorMain::QorFile* file = _QorFileOf(mFile);
    // A created file that was never written stays the host's to use.
    if (file->mode) CloseFile(file);
  });
}
