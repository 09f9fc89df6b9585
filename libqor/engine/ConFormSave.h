// The save-options record: how each output format is to be compressed, the
// AVI codec settings and information texts, and, once prepared, the values
// the format's writer gets.
#pragma once

#include <cstdint>
#include <string>

#include "formats/ConForm.h"
#include "formats/FF_AVI.h"

namespace ConForm {

// Kinds of a save-options record.
enum : int32_t { kSaveVideo = 8, kSaveAudio = 16 };

constexpr int32_t kMaxCustomInfo = 16;

struct CustomInfoEntry {
  std::string id;    // chunk identifier, up to 4 characters
  std::string text;  // up to 255 characters
};

// The seven AVI information texts the codec dialog edits, in this order.
constexpr const char* kInfoTextIds[7] = {"IART", "ICMT", "ICOP", "IENG",
                                         "INAM", "IPRD", "ISBJ"};

struct FFSaveRec {
  bool setMark = false;
  int32_t kind = 0;
  bool hasDialog = false;
  int32_t format = 0;
  // prepared for the writer
  int32_t codec = 0;
  int32_t quality = 0;
  int32_t audioQuality = 0;
  int32_t bitRate = 0;
  int32_t audioBitRate = 0;
  int32_t keyFrameRate = 0;
  // the per-format choices
  int32_t tgaCodec = 0;
  int32_t tiffCompression = 0;
  int32_t sgiCodec = 0;
  int32_t rasCodec = 0;
  int32_t pnmCodec = 0;
  int32_t kwbCodec = 0;
  int32_t pngLevel = 0;
  int32_t mpegCodec = 0;
  // Read through FFSaveAvi: described by the movie back end on first use.
  FF_AVI::AviCodecRec avi;
  bool aviDescribed = false;
  int32_t jpegQuality = 0;
  int32_t kwbKeyFrameRate = 0;
  int32_t mpegVideoBitRate = 0;
  int32_t mpegAudioBitRate = 0;
  int32_t oggQuality = 0;
  std::string infoTexts[7];
  int32_t customCount = 0;
  CustomInfoEntry custom[kMaxCustomInfo];
  // prepared picture
  int32_t preparedWidth = 0;
  int32_t preparedHeight = 0;
  int32_t preparedBits = 0;
};

void FFSaveInit(FFSaveRec* rec, int32_t kind);
// The record's AVI codec settings. A new record names its codec only; the
// movie back end describes it the first time the settings are used, so that
// making a conversion handle loads nothing.
FF_AVI::AviCodecRec& FFSaveAvi(FFSaveRec* rec);
// The same as a described copy, leaving the record as it is.
FF_AVI::AviCodecRec FFSaveAviOf(const FFSaveRec& rec);
void FFSaveSetFmt(FFSaveRec* rec, int32_t format);
void FFSaveSetCodec(FFSaveRec* rec, int32_t codec);
void FFSaveSetQuality(FFSaveRec* rec, int32_t value);
void FFSaveSetKeyFrameRate(FFSaveRec* rec, int32_t value);
void FFSaveSetBitRate(FFSaveRec* rec, int32_t kilobits);
void FFSaveSetByteRate(FFSaveRec* rec, int32_t value);
void FFSaveClearCustomInfo(FFSaveRec* rec);
void FFSaveAddCustomInfo(FFSaveRec* rec, const std::string& id,
                         const std::string& text);
int32_t FFSaveFindCustomInfo(const FFSaveRec* rec, const std::string& id);
void FFSaveSplitCustomInfo(FFSaveRec* rec);
void FFSaveMergeCustomInfo(FFSaveRec* rec);
// The format's option dialog: true when confirmed, false when cancelled,
// -1 when the format has none here.
int32_t FFSaveDlg(FFSaveRec* rec, int32_t width, int32_t height, int32_t bits);
void FFSaveCodecName(const FFSaveRec* rec, std::string* text);
void FFSavePrepare(FFSaveRec* video, int32_t width, int32_t height,
                   const WaveFormat& inWave, WaveFormat* outWave,
                   const FFSaveRec* audio, int32_t bits);

}  // namespace ConForm
