// AVI movies with sound: reading through the AVI file layer or the direct
// frame reader, writing with the current video codec, PCM or compressed
// sound and an INFO list of author texts; and the video codec registry with
// the process-wide current codec settings and their compression options.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/ConForm.h"
#include "media/ImgBasic.h"
#include "media/SndBasic.h"
#include "platform/AviFile.h"
#include "platform/Tessa.h"

namespace FF_AVI {

// ---- codec settings ----------------------------------------------------------

struct AviCodecRec {
  int32_t id = 0;  // position in the codec list from 1
  uint32_t fourCC = 0;
  intptr_t codecHandle = 0;  // while the list was built (closed since)
  std::string name;          // up to 16 characters
  std::string description;   // up to 128 characters
  bool hasAbout = false;
  bool hasConfig = false;
  bool supportsQuality = false;
  bool supportsKeyFrames = false;
  bool supportsDataRate = false;
  bool isEncoder = false;
  bool compatible = false;
  int32_t outWidth = 0, outHeight = 0;
  int32_t outBits = 0;  // 8, 15, 24 or 32 (16 is held as 15)
  int32_t keyFrameRate = 0;
  int32_t dataRate = 0;   // kilobytes per second, 0 = none
  int32_t quality = 0;    // 0..100
  int32_t stateSize = 0;  // the codec's private state, 0 = none
  std::vector<uint8_t> state;
};

bool AVIChk4FullFrames_(uint32_t fourCC);
bool AVIChk4MRLE_(uint32_t fourCC);
bool AVIChk4Video1_(uint32_t fourCC);

void AVIGetVideoName(uint32_t fourCC, std::string* text);
void AVIGetAudioName(int32_t tag, std::string* text);

// A 40-byte header, followed by 256 colour entries for 8 bits with a
// palette (B, G, R triples); out must hold 1064 bytes then.
void FillBitmapInfo_(uint8_t* out, int32_t width, int32_t height, const uint8_t* palette,
                     int32_t bits);

AviFile::LRESULT ICOpenAndSendMessage_(uint32_t fourCC, uint32_t message, intptr_t p1, intptr_t p2);
int32_t ICGetStateSize_(uint32_t fourCC);
AviFile::LRESULT ICGetState_(uint32_t fourCC, uint8_t* buffer, int32_t size);
AviFile::LRESULT ICCompressGetFormat_(AviFile::HIC codec, const uint8_t* in, uint8_t* out);
int32_t AviCompressFormatSize(AviFile::HIC codec, const uint8_t* in);

void AviCodecKeyFrameRate(uint32_t fourCC, int32_t* rate);
void AviCodecQuality(uint32_t fourCC, int32_t* quality);
// The codecs have no about box and no configuration dialog: these report
// that (false) without showing anything.
void AviCodecAbout(uint32_t fourCC);
bool AviCodecConfigure(AviCodecRec* settings);

inline int32_t AviDepthFromCodec(int32_t bits) { return bits == 16 ? 15 : bits; }
inline int32_t AviDepthToCodec(int32_t bits) { return bits == 15 ? 16 : bits; }

bool AviCodecCheck_(uint32_t fourCC, int32_t width, int32_t height, int32_t* outBits,
                    int32_t* outHeight, int32_t* outWidth, int32_t bits);
bool AviCodecCanEncode_(uint32_t fourCC, const uint8_t* header);
bool AviCodecCanEncodeEx_(uint32_t fourCC, int32_t width, int32_t height, int32_t bits);
void AviCodecIsEncoder_(uint32_t fourCC, bool* isEncoder);

void AviCodecsInit();
void AviCodecsRecFree();
// The list (aviCodecsNum entries, then the zero end record) with, when the
// size and depth are all above 0, each entry's compatibility filled.
int32_t AviCodecsList(const AviCodecRec** list, int32_t width, int32_t height, int32_t bits);
int32_t AviCodecIndex(uint32_t fourCC);

void AviGetCurCodec(AviCodecRec* settings);
void AviSetCurCodec(AviCodecRec* settings);
void AviCodecRecByFCC(AviCodecRec* settings, uint32_t fourCC);
void AviCodecSetKeyFrameRate(AviCodecRec* settings, int32_t value);
void AviCodecSetQuality(AviCodecRec* settings, int32_t value);
void AviCodecSetDataRate(AviCodecRec* settings, int32_t value);

void AviMakeCmpsOptions_();
const AviFile::AVICOMPRESSOPTIONS& AviCmpsOptions();
int32_t AviGetCmpsBitCount();

// The codec dialog for frames of that size and depth, with the seven
// author texts (Artist, Comment, Copyright, Engineer, Name, Product,
// Subject) in and out; true when the user confirmed, and the chosen codec
// settings are then the current ones.
bool AviSelectVC(int32_t width, int32_t height, int32_t bits, std::string (&texts)[7]);

void AviSetVC_(int32_t width, int32_t height, int32_t bits);
// Chooses the codec for a frame size: the current one; else, when a dialog
// is allowed, the one the user picks in the codec dialog (with the author
// texts, when given); else "cvid" at 24 bits, else uncompressed frames. The
// error is raised only when all fail.
void AviSetVC(int32_t width, int32_t height, int32_t bits, bool allowDialog = false,
              std::string (*texts)[7] = nullptr);

// ---- files --------------------------------------------------------------------

struct AviFileRec {
  bool directFrames = false;
  bool directFramesUsable = false;
  bool cut = false;  // the file ends inside its data
  Tessa::Handle direct = 0;
  AviFile::PAVIFILE file = nullptr;
  AviFile::PAVISTREAM video = nullptr;     // read: video; write: compressed
  AviFile::PAVISTREAM rawVideo = nullptr;  // write
  AviFile::PGETFRAME getFrame = nullptr;
  AviFile::PAVISTREAM audio = nullptr;
  int32_t width = 0, height = 0, bytesPerPixel = 0, bitsPerPixel = 0;
  int32_t lastFrame = 0;
  int32_t frameCount = 0;
  int32_t maxDataRate = 0;
  double fileSize = 0;
  double frameRate = 0;
  AviFile::AVISTREAMINFO videoHeader, audioHeader;
  uint8_t* videoFormat = nullptr;  // tracked
  int32_t videoFormatSize = 0;
  int32_t interleave = 0;
  bool writeMode = false;
  SndBasic::SndLoadState snd;
  int32_t skipFrames = 0;  // delivered frames to drop after a seek into a block
  AviCodecRec codec;
  int32_t infoSize = 0;     // bytes of entries in use after the list type
  uint8_t* info = nullptr;  // tracked
  SndBasic::WaveConvRec conv;
  bool convClosed = true;
  // Frames delivered: whether the last one brought a palette of its own.
  bool newPalette = false;
  bool paletteSent = false;
  uint8_t lastPalette[768] = {};
  uint8_t writtenPalette[768] = {};
  int32_t soundWritten = 0;  // write: sample frames written
};

// Open AVI handles (close does nothing when there is none).
int32_t AviOpenCount();

void AviOpen(AviFileRec* h, const std::string& fileName);
void AviImgSetPos(AviFileRec* h, int32_t frame);
void AviImgLoad(AviFileRec* h, ImgBasic::Qimg* image, int32_t frame, int32_t flags);
void AviSndSeek(AviFileRec* h, int32_t sample);
void AviSndLoad(AviFileRec* h, SndBasic::SndRec* sound, int32_t start, int32_t flags,
                int32_t count);
void AviSndLoad_(void* handle, int32_t bytesNeeded, uint8_t*& block, int32_t& bytes,
                 int32_t& frames);
void AviCreate(AviFileRec* h, const std::string& fileName, int32_t interleave, double frameRate);
void AviImgSave(AviFileRec* h, ImgBasic::Qimg* image);
void AviSndSave(AviFileRec* h, SndBasic::SndRec* sound);
void AviSetCustomInfo(AviFileRec* h, const std::string& code, const std::string& text);
void AviWriteCustomInfo(AviFileRec* h);
void AviGetCustomInfo(AviFileRec* h, const std::string& code, std::string* text);
void AviClose(AviFileRec* h);
void AviInfo(const std::string& fileName, ConForm::FFInfoRec* info);

// Library start and stop of the unit.
void AviUnitInit();
void AviUnitDone();

}  // namespace FF_AVI
