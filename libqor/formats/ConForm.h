// The format layer's front door: the reading and writing tables, format
// recognition by extension and by probing, numbered image sequences, the
// file-information records, the still-image load and save dispatch, and the
// three simple still formats read and written here (TGA, PCX, BMP/DIB/RLE).
#pragma once

#include <cstdint>
#include <string>

#include "media/ImgBasic.h"
#include "media/SndBasic.h"
#include "platform/AcmLayer.h"

namespace ConForm {

// Format identifiers.
enum : int32_t {
  kFmtTGA = 1,
  kFmtPCX = 2,
  kFmtBMP = 3,
  kFmtGIF = 4,
  kFmtFLC = 5,
  kFmtAVI = 6,
  kFmtKWB = 7,
  kFmtJPEG = 8,
  kFmtPNG = 9,
  kFmtTIFF = 10,
  kFmtMPEG = 11,
  kFmtWAV = 12,
  kFmtSGI = 13,
  kFmtRAS = 14,
  kFmtPNM = 15,
  kFmtBAY = 16,
  kFmtXPM = 17,
  kFmtMPA = 18,
  kFmtOGG = 19,
};

// Capability flags of a table row.
enum : int32_t {
  kFlagStill = 1,
  kFlagFrames = 2,
  kFlagSoundOnly = 4,
  kFlagPictures = 8,
  kFlagSound = 16,
};

struct FileFmtTable {
  int32_t id = 0;
  int32_t flags = 0;
  std::string extensions;
  std::string shortName;
  std::string description;
  std::string filter;
};

enum : int32_t { kLoadTable = 1, kSaveTable = 2 };

int32_t LoadTableCount();
int32_t SaveTableCount();
// Row i of the load table (any table value but 2) or of the save table (2).
FileFmtTable TableRow(int32_t table, int32_t index);

// The 18-byte wave format header, as the sound record carries it.
using WaveFormat = Acm::WaveFormatEx;

// The picture block of the file-information records.
struct PictureInfo {
  int32_t width = 0, height = 0;
  int32_t bytesPerPixel = 0, bitsPerPixel = 0;
  int32_t frameCount = 0;
  double videoDuration = 0;  // seconds, derived by UniInfo
  double videoSize = 0;      // uncompressed bytes, derived by UniInfo
  double fps = 0;
  std::string videoCompression;
  bool hasPictures = false, picturesReadable = false;
};

// The sound block of the file-information records.
struct SoundInfo {
  WaveFormat ownWave;  // the file's own sound format
  WaveFormat wave;     // the PCM format the reader delivers
  int32_t sampleFrames = 0;
  double audioDuration = 0;  // the rest is derived by UniInfo
  double audioSize = 0;
  double sampleRate = 0;
  int32_t channels = 0, bitsPerSample = 0, blockAlign = 0;
  std::string audioCompression;
  bool hasSound = false, soundReadable = false;
};

// What a format reader reports about a file.
struct FFInfoRec {
  int32_t format = 0;
  double fileSize = 0;
  int32_t dataRate = 0;
  PictureInfo picture;
  SoundInfo sound;
  std::string filter;
  bool aborted = false;
};

// Fills what a still-image reader reports: file size, size and depth, one
// frame, an optional compression name, and the has and readable flags.
void FFInfoStill(FFInfoRec* info, double fileSize, int32_t width,
                 int32_t height, int32_t bytesPerPixel, int32_t bitsPerPixel,
                 const char* compression, bool hasPictures, bool readable);

// Handed to a progress function while a numbered sequence is counted.
struct InfoProgressRec {
  std::string name;
  int32_t counted = 0;
  int32_t total = -1;
  double fraction = -1.0;
  bool final = false;
  bool stop = false;
  int32_t kind = 1;
  void* data = nullptr;
};
using InfoProgressFn = void (*)(InfoProgressRec* rec);

enum : int32_t { kKindNone = 0, kKindImage = 1, kKindSequence = 2, kKindStream = 3 };

// The universal source layer's description of a source.
struct UniInfoRec {
  int32_t format = 0;
  int32_t kind = 0;
  std::string name;
  double totalSize = 0;
  std::string filter;
  PictureInfo picture;
  SoundInfo sound;
  bool aborted = false;
  int32_t dataRate = 0;
  // numbered sequence
  std::string seqPrefix;
  std::string seqSuffix;
  int32_t firstNumber = 0;
  int32_t fileCount = 0;
  int32_t digitCount = 0;
  InfoProgressFn progress = nullptr;
  void* progressData = nullptr;
};

// ---- recognition ----------------------------------------------------------
void GetFmtByExt_(const std::string& name, FileFmtTable* row, int32_t table);
int32_t GetFmtByExt(const std::string& name, int32_t table);
bool IsSaveFmt(int32_t id);
void FFInfo(const std::string& name, int32_t id, FFInfoRec* info,
            void* progressData, InfoProgressFn progress);
int32_t FileKind(int32_t id, int32_t frames);
bool SeqSplit(const std::string& name, bool minusAllowed, std::string* prefix,
              int32_t* digits, int32_t* number, int32_t suffixLimit,
              std::string* suffix, int32_t prefixLimit);
std::string SeqMakeName(const std::string& prefix, const std::string& suffix,
                        int64_t number, int32_t digits);
bool SeqNextName(const std::string& prefix, const std::string& suffix,
                 int64_t number, double* fileSize, int32_t digits);
bool UniInfo(const std::string& name, UniInfoRec* info, int32_t maxFiles,
             InfoProgressFn progress, void* progressData, bool minusAllowed);

// ---- still images ---------------------------------------------------------
void ImgLoad(const std::string& name, ImgBasic::Qimg* image, int32_t id,
             ImgBasic::Qimg* alpha);
void ImgSave(const std::string& name, ImgBasic::Qimg* image, int32_t id);

void TGAInfo(const std::string& name, FFInfoRec* info);
void PCXInfo(const std::string& name, FFInfoRec* info);
void DIBInfo(const std::string& name, FFInfoRec* info);

// TGA run-length compression of the writer (on at start).
void TGASetCompression(int32_t value);
bool TGAGetCompression();

// Internal steps, public for the tests.
void TGALoad_(const std::string& name, ImgBasic::Qimg* image);
void TGASave_(const std::string& name, ImgBasic::Qimg* image);
void PCXLoad_(const std::string& name, ImgBasic::Qimg* image);
void PCXSave_(const std::string& name, ImgBasic::Qimg* image);
void DIBLoad_(const std::string& name, ImgBasic::Qimg* image);
void DIBSave_(const std::string& name, ImgBasic::Qimg* image);
void ExtractAlpha(const ImgBasic::Qimg* image, ImgBasic::Qimg* alpha);

// ---- multi-frame layer and universal source layer --------------------------
// One reader or writer of a frame or sound format behind one handle,
// dispatched by the format identifier. The views (MviWidth ...) read the
// format handle's own current values.

struct MviFile {
  int32_t format = 0;
  void* handle = nullptr;  // tracked block holding the format's own handle
  bool hasSound = false;
};

int32_t MviWidth(const MviFile* mvi);
int32_t MviHeight(const MviFile* mvi);
int32_t MviBytesPerPixel(const MviFile* mvi);
int32_t MviBitsPerPixel(const MviFile* mvi);
double MviFps(const MviFile* mvi);
int32_t MviFrameCount(const MviFile* mvi);
int32_t MviCurrentFrame(const MviFile* mvi);
int32_t MviSamplePos(const MviFile* mvi);
bool MviWriteMode(const MviFile* mvi);
bool MviNewPalette(const MviFile* mvi);
WaveFormat MviWaveFormat(const MviFile* mvi);

void MviOpen(MviFile* mvi, const std::string& name, int32_t id,
             void* progressData, InfoProgressFn progress);
void MviImgSetPos(MviFile* mvi, int32_t frame);
void MviImgLoad(MviFile* mvi, ImgBasic::Qimg* image, int32_t frame,
                int32_t flags, ImgBasic::Qimg* alpha);
void MviSndLoad(MviFile* mvi, SndBasic::SndRec* sound, int32_t start,
                int32_t count, int32_t flags);
void MviCreate(MviFile* mvi, const std::string& name, double fps,
               int32_t interleave, int32_t plannedFrames);
void MviImgSave(MviFile* mvi, ImgBasic::Qimg* image);
void MviSndSave(MviFile* mvi, SndBasic::SndRec* sound);
void MviSetAviCustomInfo(MviFile* mvi, const std::string& fourCC,
                         const std::string& text);
void MviClose(MviFile* mvi);

struct UniFile {
  int32_t format = 0;
  int32_t kind = 0;
  std::string name;
  int32_t currentFrame = 0;   // 1-based
  int32_t samplePosition = 0;
  double videoTime = 0, audioTime = 0;
  bool newPalette = false;
  PictureInfo picture;
  SoundInfo sound;
  MviFile mvi;
  // numbered image sequence
  std::string seqPrefix, seqSuffix;
  int32_t firstNumber = 0, fileCount = 0, digitCount = 0;
};

void UniOpen(UniFile* uni, const UniInfoRec* info);
void UniImgSetPos(UniFile* uni, int32_t frame);
void UniImgLoad_(UniFile* uni, ImgBasic::Qimg* image, int32_t frame,
                 int32_t flags, ImgBasic::Qimg* alpha);
void UniImgLoad(UniFile* uni, ImgBasic::Qimg* image, int32_t frame,
                int32_t flags);
void UniImgLoadAlpha(UniFile* uni, ImgBasic::Qimg* alpha, int32_t frame);
void UniSndLoad(UniFile* uni, SndBasic::SndRec* sound, int32_t start,
                int32_t count, int32_t flags);
// The input side's close: the stream's format handle is closed.
void UniClose(UniFile* uni);
// File name of frame n (1-based) of a numbered sequence.
std::string SeqGetName(const UniFile* uni, int32_t frame);

}  // namespace ConForm
