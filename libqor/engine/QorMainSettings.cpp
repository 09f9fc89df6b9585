// The conversion handle, file information, output settings, codec
// information and remaining time, as the host reaches them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "engine/Common.h"
#include "engine/Predict.h"
#include "engine/QorMain.h"
#include "formats/FF_AVI.h"
#include "formats/FF_MPG.h"
#include "formats/FF_OGG.h"
#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"

using Common::BoolToStrLog;
using Common::FloatToStrAuto;
using Common::IntToStrAuto;
using Common::LogValue;
using Common::PtrToStrLog;

namespace QorMain {
namespace {

constexpr const char* kRecLabel = "QorMain.QorAlloc.dataP";
using Common::kTrue;

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

using Common::Bool32;

// Copies text into a fixed array, cut so that its zero stays inside.
void CopyText(char* dest, size_t size, const std::string& text) {
  const size_t n = std::min(text.size(), size - 1);
  std::memcpy(dest, text.data(), n);
  dest[n] = '\0';
}

// ---- host progress ----------------------------------------------------------
// The format layer's progress records, shown to a host in its own layout.
struct HostProgress {
  QorInfoProgressProc fn = nullptr;
  void* data = nullptr;
};

void HostProgressAdapter(ConForm::InfoProgressRec* rec) {
  const auto* host = static_cast<const HostProgress*>(rec->data);
  if (!host || !host->fn) return;
  QorInfoProgress pub{};
  pub.name = rec->name.c_str();
  pub.counted = rec->counted;
  pub.total = rec->total;
  pub.fraction = rec->fraction;
  pub.final = Bool32(rec->final);
  pub.stop = Bool32(rec->stop);
  pub.kind = rec->kind;
  pub.data = host->data;
  host->fn(&pub);
  if (pub.stop) rec->stop = true;
}


std::string LowerExtension(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return std::string();
  std::string ext = name.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

// One output name: its format from the extension, stored in its options;
// an MPEG name ending in ".m2v" asks for MPEG-2.
void SetOneOutput(Common::QorRec* rec, const std::string& name, std::string* field,
                  int32_t* format, ConForm::FFSaveRec* options) {
  *field = name;
  *format = _QorGetFileSaveID(name);
  ConForm::FFSaveSetFmt(options, *format);
  if (*format == ConForm::kFmtMPEG && LowerExtension(name) == ".m2v")
    _QorSetCodec(rec, ConForm::kFmtMPEG, 2);
}

// ---- codec information ------------------------------------------------------

// The AVI codecs usable at the size and depth of the last QorCodecsInit.
std::vector<FF_AVI::AviCodecRec>& KeptAviCodecs() {
  static std::vector<FF_AVI::AviCodecRec> codecs;
  return codecs;
}

int32_t CodecCount(int32_t format, int32_t resX, int32_t resY, int32_t bpp) {
  switch (format) {
    case ConForm::kFmtTGA:
    case ConForm::kFmtKWB:
    case ConForm::kFmtSGI:
    case ConForm::kFmtRAS:
    case ConForm::kFmtPNM:
      return 2;
    case ConForm::kFmtPCX:
    case ConForm::kFmtGIF:
    case ConForm::kFmtFLC:
    case ConForm::kFmtJPEG:
    case ConForm::kFmtPNG:
    case ConForm::kFmtWAV:
    case ConForm::kFmtXPM:
    case ConForm::kFmtMPA:
      return 1;
    case ConForm::kFmtTIFF:
      return 8;
    case ConForm::kFmtMPEG:
      return 5;
    case ConForm::kFmtAVI: {
      auto& kept = KeptAviCodecs();
      kept.clear();
      const FF_AVI::AviCodecRec* list = nullptr;
      const int32_t n = FF_AVI::AviCodecsList(&list, resX, resY, bpp);
      for (int32_t i = 0; i < n; i++)
        if (list[i].compatible) kept.push_back(list[i]);
      return static_cast<int32_t>(kept.size());
    }
    default:
      return 0;
  }
}

void SetName(QorCodecInfo* info, const std::string& name) {
  CopyText(info->codecName, sizeof info->codecName, name);
}

void OfferQuality(QorCodecInfo* info, int32_t quality, int32_t low, int32_t high) {
  info->hasQuality = kTrue;
  info->quality = quality;
  info->qualityMin = low;
  info->qualityMax = high;
}

void OfferBitRate(QorCodecInfo* info, int32_t rate, int32_t low, int32_t high) {
  info->hasBitRate = kTrue;
  info->bitRate = rate;
  info->bitRateMin = low;
  info->bitRateMax = high;
}

void OfferKeyFrames(QorCodecInfo* info, int32_t rate) {
  info->hasKeyFrameRate = kTrue;
  info->keyFrameRate = rate;
  info->keyFrameRateMin = 0;
  info->keyFrameRateMax = 2147483647;
}

void AviCodecInfo(QorCodecInfo* info, int32_t codecNum) {
  const auto& kept = KeptAviCodecs();
  // Numbers outside 1..count get the generic answer only.
  if (codecNum < 1 || codecNum > static_cast<int32_t>(kept.size())) return;
  const FF_AVI::AviCodecRec& c = kept[static_cast<size_t>(codecNum - 1)];
  info->codec = static_cast<int32_t>(c.fourCC);
  SetName(info, c.description);
  info->hasQuality = Bool32(c.supportsQuality);
  info->quality = c.quality;
  info->qualityMin = 0;
  info->qualityMax = 100;
  info->hasByteRate = kTrue;
  info->byteRate = 300;
  info->byteRateMin = 0;
  info->byteRateMax = 268435455;
  info->hasKeyFrameRate = Bool32(c.supportsKeyFrames);
  info->keyFrameRate = c.keyFrameRate;
  info->keyFrameRateMin = 0;
  info->keyFrameRateMax = 2147483647;
}

void TiffCodecInfo(QorCodecInfo* info, int32_t codecNum) {
  static const int32_t kValues[8] = {1, 2, 3, 4, 7, 32773, 32946, 5};
  static const char* const kNames[8] = {
      "Uncompressed, full frames",  "CCITT modified Huffman RLE",
      "CCITT Group 3 fax encoding", "CCITT Group 4 fax encoding",
      "JPEG DCT compression",       "PackBits (Macintosh RLE)",
      "Deflate compression (ZIP)",  "Variable-Length-Code LZW"};
  if (codecNum < 1 || codecNum > 8) return;
  info->codec = kValues[codecNum - 1];
  SetName(info, kNames[codecNum - 1]);
}

void MpegCodecInfo(QorCodecInfo* info, int32_t codecNum) {
  static const char* const kNames[5] = {"MPEG-1 format", "MPEG-VCD format",
                                        "MPEG-2 format", "MPEG-SVCD format",
                                        "MPEG-DVD format"};
  static const int32_t kRates[5] = {1700, 1150, 4200, 2376, 6000};
  int32_t rate = 0;
  if (codecNum >= 1 && codecNum <= 5) {
    SetName(info, kNames[codecNum - 1]);
    rate = kRates[codecNum - 1];
  }
  OfferBitRate(info, rate, 1, 102400);
}

// A bit rate offers the same in bytes, and a byte rate in bits.
void PairRates(QorCodecInfo* info) {
  if (info->hasBitRate) {
    info->hasByteRate = kTrue;
    info->byteRate = info->bitRate / 8;
    info->byteRateMin = info->bitRateMin / 8;
    info->byteRateMax = info->bitRateMax / 8;
  } else if (info->hasByteRate) {
    info->hasBitRate = kTrue;
    info->bitRate = info->byteRate * 8;
    info->bitRateMin = info->byteRateMin * 8;
    info->bitRateMax = info->byteRateMax * 8;
  }
}

void FillCodecInfo(int32_t format, int32_t codecNum, QorCodecInfo* info) {
  *info = QorCodecInfo{};
  info->fileFmtID = format;
  info->codec = static_cast<int32_t>(int64_t{codecNum} - 1);
  if (codecNum == 1) SetName(info, "Uncompressed, full frames");
  if (codecNum == 2) SetName(info, "Run length encoded (RLE)");
  switch (format) {
    case ConForm::kFmtTGA:
    case ConForm::kFmtAVI:
    case ConForm::kFmtKWB:
    case ConForm::kFmtPNG:
    case ConForm::kFmtSGI:
    case ConForm::kFmtRAS:
    case ConForm::kFmtPNM:
      info->codecFlag = kTrue;
      break;
    default:
      break;
  }
  switch (format) {
    case ConForm::kFmtPCX:
      SetName(info, "Run length encoded (RLE)");
      break;
    case ConForm::kFmtGIF:
      SetName(info, "Variable-Length-Code LZW (Lempel-Ziv & Welch)");
      break;
    case ConForm::kFmtFLC:
      SetName(info, "RLE + pixel difference from previous frame");
      break;
    case ConForm::kFmtWAV:
      SetName(info, "PCM, uncompressed");
      break;
    case ConForm::kFmtAVI:
      AviCodecInfo(info, codecNum);
      break;
    case ConForm::kFmtKWB:
      if (codecNum == 1) {
        info->codec = 1;
        SetName(info, "KWB-FAST compression");
      } else if (codecNum == 2) {
        info->codec = 0;
        SetName(info, "KWB-BEST compression");
      }
      OfferKeyFrames(info, 25);
      break;
    case ConForm::kFmtJPEG:
      SetName(info, "ISO/IEC IS 10918-1, ITU-T T.81");
      OfferQuality(info, 85, 0, 100);
      break;
    case ConForm::kFmtPNG:
      info->codecMin = 0;
      info->codecMax = 9;
      SetName(info, "Deflate compression (modified LZ77)");
      break;
    case ConForm::kFmtTIFF:
      TiffCodecInfo(info, codecNum);
      break;
    case ConForm::kFmtMPEG:
      MpegCodecInfo(info, codecNum);
      break;
    case ConForm::kFmtPNM:
      if (codecNum == 1) SetName(info, "Binary encoded");
      if (codecNum == 2) SetName(info, "ASCII encoded");
      break;
    case ConForm::kFmtMPA:
      SetName(info, "MPEG audio compression");
      OfferBitRate(info, 224, 32, 384);
      break;
    case ConForm::kFmtOGG:
      SetName(info, "Ogg Vorbis audio compression");
      OfferQuality(info, 4, 0, 10);
      break;
    default:
      break;
  }
  PairRates(info);
}

// "hh:mm:ss" of the whole seconds; the hours take as many digits as they
// need, at most six within the limit.
std::string TimeText(double sec) {
  if (!(sec >= 0.0)) sec = 0.0;  // negative or not a number
  if (sec > 2147483647.0) sec = 2147483647.0;
  const int64_t whole = static_cast<int64_t>(sec);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld",
                static_cast<long long>(whole / 3600),
                static_cast<long long>(whole / 60 % 60),
                static_cast<long long>(whole % 60));
  return buf;
}

}  // namespace

// ---- conversion handle and file information ----------------------------------

Common::QorRec* _QorAlloc() {
  void* block = nullptr;
  Common::QorRec* rec = nullptr;
  Errors::Monitored("QorMain._QorAlloc", [&] {
    // The block is freed with the frame; the record's own strings first.
    Errors::MonSetCleanup([&] {
      if (rec) rec->~QorRec();
      rec = nullptr;
    });
    Basic::MemAlloc(block, static_cast<int64_t>(sizeof(Common::QorRec)), __LINE__,
                    Basic::kMemNew, kRecLabel);
    rec = new (block) Common::QorRec();
    Common::ResetQorRec(rec);
  });
  return rec;
}

void _QorFree(Common::QorRec* rec) {
  if (!rec || rec->status != Common::kPhaseIdle) return;
  rec->~QorRec();
  void* block = rec;
  Basic::MemFree(block);
}

Common::QorRec* _QorRecOf(QorHandle mData) {
  return Common::RequireHandle<Common::QorRec>(mData, kRecLabel, "mData");
}

void SeqDetectLimits(int32_t seqDetect, int32_t* maxFiles, bool* minusAllowed) {
  *maxFiles = seqDetect == 0 ? 1 : 2147483647;
  *minusAllowed = seqDetect == 2;
}

void CopyFileInfoOut(const ConForm::UniInfoRec& info, QorFileInfo* out) {
  std::memset(out, 0, sizeof *out);
  const ConForm::PictureInfo& p = info.picture;
  const ConForm::SoundInfo& s = info.sound;
  CopyText(out->fileName, sizeof out->fileName, info.name);
  CopyText(out->filter, sizeof out->filter, info.filter);
  out->totalSize = info.totalSize;
  out->hasPictures = Bool32(p.hasPictures);
  out->picturesReadable = Bool32(p.picturesReadable);
  CopyText(out->videoCompression, sizeof out->videoCompression, p.videoCompression);
  out->frameCount = p.frameCount;
  out->videoDuration = p.videoDuration;
  out->videoSize = p.videoSize;
  out->fps = p.fps;
  out->width = p.width;
  out->height = p.height;
  out->bytesPerPixel = p.bytesPerPixel;
  out->bitsPerPixel = p.bitsPerPixel;
  out->hasSound = Bool32(s.hasSound);
  out->soundReadable = Bool32(s.soundReadable);
  CopyText(out->audioCompression, sizeof out->audioCompression, s.audioCompression);
  out->sampleFrames = s.sampleFrames;
  out->audioDuration = s.audioDuration;
  out->audioSize = s.audioSize;
  out->sampleRate = s.sampleRate;
  out->channels = s.channels;
  out->bitsPerSample = s.bitsPerSample;
  out->blockAlign = s.blockAlign;
}

bool _QorDescribeQuietly(const std::string& name, int32_t seqDetect,
                         QorInfoProgressProc progress, void* progressData,
                         ConForm::UniInfoRec* info) {
  int32_t maxFiles = 1;
  bool minusAllowed = false;
  SeqDetectLimits(seqDetect, &maxFiles, &minusAllowed);
  HostProgress host{progress, progressData};
  return ConForm::UniInfo(name, info, maxFiles, progress ? HostProgressAdapter : nullptr,
                          progress ? &host : nullptr, minusAllowed);
}

void _QorDescribeFile(const std::string& name, int32_t seqDetect,
                      QorInfoProgressProc progress, void* progressData,
                      ConForm::UniInfoRec* info) {
  Errors::Monitored("QorMain._QorDescribeFile", [&] {
    // The format layer leaves its failure as a warning; the host's call
    // must end with it as an error.
    if (!_QorDescribeQuietly(name, seqDetect, progress, progressData, info))
      Errors::ErrSetFromWarning(Errors::kErrFileNotExist, __LINE__);
  });
}

// ---- output settings ----------------------------------------------------------

int32_t _QorGetFileSaveID(const std::string& name) {
  const int32_t format = ConForm::GetFmtByExt(name, ConForm::kSaveTable);
  return ConForm::IsSaveFmt(format) ? format : K_AUTO;
}

void SetAudioCodecDefaults(Common::QorRec* rec) {
  const ConForm::WaveFormat in = rec->wave;
  switch (rec->audioFormat) {
    case ConForm::kFmtMPEG:
      FF_MPG::MpgSndFormat(in, &rec->wave, true);
      break;
    case ConForm::kFmtMPA:
      FF_MPG::MpgSndFormat(in, &rec->wave, false);
      break;
    case ConForm::kFmtOGG:
      FF_OGG::OggSndFormat(in, &rec->wave);
      break;
    default:
      break;
  }
}

void _QorSetOutputFile(Common::QorRec* rec, const std::string& vid, const std::string& aud) {
  SetOneOutput(rec, vid, &rec->videoName, &rec->videoFormat, &rec->videoSave);
  SetOneOutput(rec, aud, &rec->audioName, &rec->audioFormat, &rec->audioSave);
}

void _QorSetFrameRate(Common::QorRec* rec, double fps) { rec->frameRate = fps; }

void _QorSetResolution(Common::QorRec* rec, int32_t resX, int32_t resY) {
  if (rec->status != Common::kPhaseIdle) return;
  rec->width = std::clamp(resX, 1, 16000);
  rec->height = std::clamp(resY, 1, 16000);
  rec->autoRes = 0;
}

void _QorSetBpp(Common::QorRec* rec, int32_t bpp) {
  if (rec->status != Common::kPhaseIdle) return;
  if (bpp == 8 || bpp == 15 || bpp == 16 || bpp == 24 || bpp == 32) rec->bpp = bpp;
}

void _QorForceCompatibility(Common::QorRec* rec, int32_t turnOn) {
  rec->forceCompat = turnOn != 0 ? kTrue : 0;
}

void _QorSetAudioFormat(Common::QorRec* rec, int32_t sampleRate, int32_t channels,
                        int32_t bits) {
  Errors::Monitored("QorMain._QorSetAudioFormat", [&] {
    ConForm::WaveFormat wave{};
    SndBasic::WaveFormatSetPCM(wave, sampleRate, channels, bits);
    // A format the engine could not convert to is refused here, where the
    // host set it, and the record keeps its format.
    if (sampleRate <= 0 || channels <= 0 || bits <= 0 ||
        !SndBasic::WaveFormatValidate(wave)) {
      Errors::ErrSet(Errors::kErrAudioFormat, __LINE__);
      return;
    }
    rec->wave = wave;
  });
}

ConForm::FFSaveRec* _QorTargetOptions(Common::QorRec* rec, int32_t format) {
  // A format outside the save table gives K_AUTO, whose bits say "sound
  // only" as well.
  const bool soundOnly =
      (ConForm::GetFmtFlags(format, ConForm::kSaveTable) & ConForm::kFlagSoundOnly) != 0;
  ConForm::FFSaveRec* target = soundOnly ? &rec->audioSave : &rec->videoSave;
  ConForm::FFSaveSetFmt(target, format);
  return target;
}

void _QorSetCodec(Common::QorRec* rec, int32_t fileFmtID, int32_t codec) {
  ConForm::FFSaveSetCodec(_QorTargetOptions(rec, fileFmtID), codec);
}

}  // namespace QorMain

using namespace QorMain;

namespace {

void LogHandle(QorHandle mData) { LogValue("mData", PtrToStrLog(mData)); }

// The frame of the setters that take a format and one value.
template <class Apply>
void FormatSetter(const char* traceName, QorHandle mData, int32_t fileFmtID,
                  const char* valueName, int32_t value, Apply apply) {
  Common::ExportFrameVoid(traceName, [&] {
    LogHandle(mData);
    LogValue("fileFmtID", IntToStrAuto(fileFmtID));
    LogValue(valueName, IntToStrAuto(value));
    apply(_QorRecOf(mData), fileFmtID, value);
  });
}

}  // namespace

// ---- conversion handle and file information ------------------------------------

QOR_API QorHandle QOR_CALL QorAlloc(void) {
  return Common::ExportFrame<QorHandle>("QorMain.QorAlloc", nullptr, [] {
    QorHandle result = _QorAlloc();
    LogValue("result", PtrToStrLog(result));
    return result;
  });
}

QOR_API void QOR_CALL QorFree(QorHandle mData) {
  Common::ExportFrameVoid("QorMain.QorFree", [&] {
    LogHandle(mData);
    if (!mData) return;
    _QorFree(_QorRecOf(mData));
  });
}

QOR_API void QOR_CALL QorGetFileInfo(const char* filename, int32_t seqDetect,
                                     QorFileInfo* info, QorInfoProgressProc progress,
                                     void* progressData) {
  Common::ExportFrameVoid("QorMain.QorGetFileInfo", [&] {
    LogValue("filename", Text(filename));
    LogValue("seqDetect", IntToStrAuto(seqDetect));
    Common::Require(filename, "filename");
    Common::Require(info, "info");
    ConForm::UniInfoRec described;
    _QorDescribeFile(filename, seqDetect, progress, progressData, &described);
    // Filled aside, so a failure leaves the host's record as it was.
    QorFileInfo out;
    CopyFileInfoOut(described, &out);
    std::memcpy(info, &out, sizeof out);
  });
}

// ---- output settings -------------------------------------------------------------

QOR_API void QOR_CALL QorSetOutputFile(QorHandle mData, const char* vid, const char* aud) {
  Common::ExportFrameVoid("QorMain.QorSetOutputFile", [&] {
    LogHandle(mData);
    LogValue("vid", Text(vid));
    LogValue("aud", Text(aud));
    _QorSetOutputFile(_QorRecOf(mData), Text(vid), Text(aud));
  });
}

QOR_API void QOR_CALL QorSetFrameRate(QorHandle mData, double fps) {
  Common::ExportFrameVoid("QorMain.QorSetFrameRate", [&] {
    LogHandle(mData);
    LogValue("fps", FloatToStrAuto(fps));
    _QorSetFrameRate(_QorRecOf(mData), fps);
  });
}

QOR_API void QOR_CALL QorSetKeepDuration(QorHandle mData, QorBool keepDuration) {
  Common::ExportFrameVoid("QorMain.QorSetKeepDuration", [&] {
    LogHandle(mData);
    LogValue("keepDuration", BoolToStrLog(keepDuration != 0));
    _QorRecOf(mData)->keepDuration = keepDuration != 0 ? -1 : 0;
  });
}

QOR_API void QOR_CALL QorSetResolution(QorHandle mData, int32_t resX, int32_t resY) {
  Common::ExportFrameVoid("QorMain.QorSetResolution", [&] {
    LogHandle(mData);
    LogValue("resX", IntToStrAuto(resX));
    LogValue("resY", IntToStrAuto(resY));
    _QorSetResolution(_QorRecOf(mData), resX, resY);
  });
}

QOR_API void QOR_CALL QorSetBpp(QorHandle mData, int32_t bpp) {
  Common::ExportFrameVoid("QorMain.QorSetBpp", [&] {
    LogHandle(mData);
    LogValue("bpp", IntToStrAuto(bpp));
    _QorSetBpp(_QorRecOf(mData), bpp);
  });
}

QOR_API void QOR_CALL QorSetDithering(QorHandle mData, int32_t ditheringType) {
  Common::ExportFrameVoid("QorMain.QorSetDithering", [&] {
    LogHandle(mData);
    LogValue("ditheringType", IntToStrAuto(ditheringType));
    _QorRecOf(mData)->dither = ditheringType;
  });
}

QOR_API void QOR_CALL QorForceCompatibility(QorHandle mData, QorBool turnOn) {
  Common::ExportFrameVoid("QorMain.QorForceCompatibility", [&] {
    LogHandle(mData);
    LogValue("turnOn", BoolToStrLog(turnOn != 0));
    _QorForceCompatibility(_QorRecOf(mData), turnOn);
  });
}

QOR_API void QOR_CALL QorSetAudioFormat(QorHandle mData, int32_t sampleRate,
                                        int32_t channels, int32_t bits) {
  Common::ExportFrameVoid("QorMain.QorSetAudioFormat", [&] {
    LogHandle(mData);
    LogValue("sampleRate", IntToStrAuto(sampleRate));
    LogValue("channels", IntToStrAuto(channels));
    LogValue("bits", IntToStrAuto(bits));
    _QorSetAudioFormat(_QorRecOf(mData), sampleRate, channels, bits);
  });
}

QOR_API void QOR_CALL QorAviClearCustomInfo(QorHandle mData) {
  Common::ExportFrameVoid("QorMain.QorAviClearCustomInfo", [&] {
    LogHandle(mData);
    ConForm::FFSaveClearCustomInfo(&_QorRecOf(mData)->videoSave);
  });
}

QOR_API void QOR_CALL QorAviAddCustomInfo(QorHandle mData, const char* tagID,
                                          const char* value) {
  Common::ExportFrameVoid("QorMain.QorAviAddCustomInfo", [&] {
    LogHandle(mData);
    LogValue("tagID", Text(tagID));
    LogValue("value", Text(value));
    ConForm::FFSaveAddCustomInfo(&_QorRecOf(mData)->videoSave, Text(tagID), Text(value));
  });
}

QOR_API int32_t QOR_CALL QorCodecsInit(int32_t fileFmtID, int32_t resX, int32_t resY,
                                       int32_t bpp) {
  return Common::ExportFrame<int32_t>("QorMain.QorCodecsInit", 0, [&] {
    LogValue("fileFmtID", IntToStrAuto(fileFmtID));
    LogValue("resX", IntToStrAuto(resX));
    LogValue("resY", IntToStrAuto(resY));
    LogValue("bpp", IntToStrAuto(bpp));
    const int32_t result = CodecCount(fileFmtID, resX, resY, bpp);
    LogValue("result", IntToStrAuto(result));
    return result;
  });
}

QOR_API void QOR_CALL QorCodecsGetInfo(int32_t fileFmtID, QorCodecInfo* info,
                                       int32_t codecNum) {
  Common::ExportFrameVoid("QorMain.QorCodecsGetInfo", [&] {
    LogValue("fileFmtID", IntToStrAuto(fileFmtID));
    LogValue("info", PtrToStrLog(info));
    LogValue("codecNum", IntToStrAuto(codecNum));
    FillCodecInfo(fileFmtID, codecNum, Common::Require(info, "info"));
  });
}

QOR_API int32_t QOR_CALL QorGetFileFmtID(const char* filename) {
  return Common::ExportFrame<int32_t>("QorMain.QorGetFileFmtID", K_AUTO, [&] {
    LogValue("filename", Text(filename));
    const int32_t result =
        ConForm::GetFmtByExt(Text(Common::Require(filename, "filename")), ConForm::kLoadTable);
    LogValue("result", IntToStrAuto(result));
    return result;
  });
}

QOR_API void QOR_CALL QorSetCodec(QorHandle mData, int32_t fileFmtID, int32_t codec) {
  FormatSetter("QorMain.QorSetCodec", mData, fileFmtID, "codec", codec,
               [](Common::QorRec* rec, int32_t format, int32_t value) {
                 _QorSetCodec(rec, format, value);
               });
}

QOR_API void QOR_CALL QorSetQuality(QorHandle mData, int32_t fileFmtID, int32_t value) {
  FormatSetter("QorMain.QorSetQuality", mData, fileFmtID, "value", value,
               [](Common::QorRec* rec, int32_t format, int32_t v) {
                 ConForm::FFSaveSetQuality(_QorTargetOptions(rec, format), v);
               });
}

QOR_API void QOR_CALL QorSetBitRate(QorHandle mData, int32_t fileFmtID, int32_t kbps) {
  FormatSetter("QorMain.QorSetBitRate", mData, fileFmtID, "kbps", kbps,
               [](Common::QorRec* rec, int32_t format, int32_t v) {
                 ConForm::FFSaveSetBitRate(_QorTargetOptions(rec, format), v);
               });
}

QOR_API void QOR_CALL QorSetByteRate(QorHandle mData, int32_t fileFmtID, int32_t byteRate) {
  // x 8 in 64 bits, kept within the field's range.
  FormatSetter("QorMain.QorSetByteRate", mData, fileFmtID, "byteRate", byteRate,
               [](Common::QorRec* rec, int32_t format, int32_t v) {
                 ConForm::FFSaveSetByteRate(_QorTargetOptions(rec, format), v);
               });
}

QOR_API void QOR_CALL QorSetKeyFrameRate(QorHandle mData, int32_t fileFmtID,
                                         int32_t keyFrameEvery) {
  // Key frames are a picture setting whatever the format.
  FormatSetter("QorMain.QorSetKeyFrameRate", mData, fileFmtID, "keyFrameEvery",
               keyFrameEvery, [](Common::QorRec* rec, int32_t format, int32_t v) {
                 ConForm::FFSaveSetFmt(&rec->videoSave, format);
                 ConForm::FFSaveSetKeyFrameRate(&rec->videoSave, v);
               });
}

QOR_API void QOR_CALL QorGetVideoFormat(QorHandle mData, int32_t fileFmtID, int32_t resX,
                                        int32_t resY, int32_t bpp, int32_t* codec,
                                        int32_t* quality, int32_t* byteRate,
                                        int32_t* keyFrameRate) {
  Common::ExportFrameVoid("QorMain.QorGetVideoFormat", [&] {
    LogHandle(mData);
    LogValue("fileFmtID", IntToStrAuto(fileFmtID));
    LogValue("resX", IntToStrAuto(resX));
    LogValue("resY", IntToStrAuto(resY));
    LogValue("bpp", IntToStrAuto(bpp));
    Common::QorRec* rec = _QorRecOf(mData);
    Common::Require(codec, "codec");
    Common::Require(quality, "quality");
    Common::Require(byteRate, "byteRate");
    Common::Require(keyFrameRate, "keyFrameRate");
    ConForm::FFSaveRec* video = &rec->videoSave;
    ConForm::FFSaveSetFmt(video, fileFmtID);
    const ConForm::WaveFormat wave = rec->wave;
    ConForm::FFSavePrepare(video, resX, resY, wave, &rec->wave, &rec->audioSave, bpp);
    *codec = video->codec;
    *quality = video->quality;
    // "No rate" stays K_AUTO rather than an eighth of it.
    *byteRate = video->bitRate == K_AUTO ? K_AUTO : video->bitRate / 8;
    *keyFrameRate = video->keyFrameRate;
    LogValue("codec", IntToStrAuto(*codec));
    LogValue("quality", IntToStrAuto(*quality));
    LogValue("byteRate", IntToStrAuto(*byteRate));
    LogValue("keyFrameRate", IntToStrAuto(*keyFrameRate));
  });
}

// ---- remaining time ------------------------------------------------------------

QOR_API double QOR_CALL QorGetElapsedTime(QorHandle mData) {
  return Common::ExportFrame<double>("QorMain.QorGetElapsedTime", 0.0, [&] {
    LogHandle(mData);
    const Common::QorRec* rec = _QorRecOf(mData);
    const double result = rec->videoSeconds + rec->audioSeconds;
    LogValue("result", FloatToStrAuto(result));
    return result;
  });
}

QOR_API double QOR_CALL QorGetRemainingTime(QorHandle mData, int32_t totalFrames,
                                            int32_t totalSamples) {
  return Common::ExportFrame<double>("QorMain.QorGetRemainingTime", 0.0, [&] {
    LogHandle(mData);
    LogValue("totalFrames", IntToStrAuto(totalFrames));
    LogValue("totalSamples", IntToStrAuto(totalSamples));
    Common::QorRec* rec = _QorRecOf(mData);
    const double video = Predict::Predict_GetRemainingEx(
        &rec->videoPredict, rec->doneFrames, totalFrames, rec->videoSeconds);
    const double audio = Predict::Predict_GetRemainingEx(
        &rec->audioPredict, Common::Clamp32(rec->doneSamples), totalSamples, rec->audioSeconds);
    const double result = Predict::Predict_TimeGranulate(video + audio);
    LogValue("result", FloatToStrAuto(result));
    return result;
  });
}

QOR_API void QOR_CALL QorMakeTimeStr(double sec, char* timeStr) {
  Common::ExportFrameVoid("QorMain.QorMakeTimeStr", [&] {
    LogValue("sec", FloatToStrAuto(sec));
    const std::string text = TimeText(sec);
    std::memcpy(Common::Require(timeStr, "timeStr"), text.c_str(), text.size() + 1);
    LogValue("timeStr", text);
  });
}
