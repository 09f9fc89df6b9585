// The KWB movie format: the library's own lossless movie format.
//
// Its two strip coders and their decoder:
// A strip is whole rows of one frame; it is coded against the rows above it
// and, when delta is allowed, against the same bytes of the previous frame.
#pragma once

#include <cstdint>

namespace FF_KWB {

// The coders write at most the raw strip size plus this many bytes.
constexpr int64_t kCoderSlack = 16;

// Longest run (pixels), count code and long skip (bytes) a token carries.
constexpr int32_t kMaxCount = 767;
constexpr int32_t kMaxSkip = 49089;

// Code one strip of rows × width pixels of bpp bytes. prev is the same strip
// of the previous frame (may be null when delta is not allowed). Returns the
// coded size in bytes, or 0 when the strip is to be stored raw (coding does
// not get below 95 % of the raw size). out must hold raw + kCoderSlack bytes.
int32_t KWDCFast(const uint8_t* src, uint8_t* out, const uint8_t* prev,
                 bool delta, int32_t bpp, int32_t rows, int32_t width);
int32_t KWDCBest(const uint8_t* src, uint8_t* out, const uint8_t* prev,
                 bool delta, int32_t bpp, int32_t rows, int32_t width);

// Decodes one coded strip onto out, which must hold the previous frame's
// bytes where the strip skips. False when the data is corrupt (a token
// running past the strip, a reference before its start, missing end).
bool KWDDecodeStrip_(const uint8_t* in, int64_t inLen, uint8_t* out,
                     bool fast, int32_t bpp, int32_t rows, int32_t width);

// Count code for values 2..767 (run lengths, long-skip counts, match
// lengths): exposed for the tests that build bitstreams by hand.
class BitWriter {
 public:
  BitWriter(uint8_t* out, int64_t capacity) : out_(out), cap_(capacity) {}
  void Put(uint32_t value, int bits);
  void PutCount(int32_t value);
  void Finish();
  int64_t Bytes() const { return pos_ + (n_ > 0 ? 1 : 0); }
  bool Overflow() const { return overflow_; }

 private:
  uint8_t* out_;
  int64_t cap_;
  int64_t pos_ = 0;
  uint64_t acc_ = 0;
  int n_ = 0;
  bool overflow_ = false;
};

}  // namespace FF_KWB

#include <string>

#include "formats/ConForm.h"
#include "media/ImgBasic.h"
#include "media/SndBasic.h"

namespace FF_KWB {

constexpr int32_t kHeaderSize = 64;
constexpr int32_t kVersion = 97;
constexpr int32_t kBlockTableOffset = 64;
constexpr int32_t kFirstBlockOffset = 1088;
constexpr int32_t kBlockFrames = 256;
constexpr int32_t kBlockBytes = 3072;
constexpr int32_t kMaxFrames = 256 * 256;
constexpr int32_t kSmallStripBytes = 65520;

// Coder field of the header.
enum : int32_t { kCoderBest = 0, kCoderFast = 1, kCoderBestPredict = 2 };

struct KWBHeader {
  int32_t width = 0, height = 0, bytesPerPixel = 0, coder = 0;
  int32_t frameCount = 0, keyInterval = 0;
  double fps = 0;
  int32_t soundFlags = 0, sampleRate = 0, firstSound = 0, smallFrames = 0;
  int32_t totalSamples = 0;
};

// The open-file context.
struct KWBFile {
  KWBHeader header;
  int32_t blockTable[256] = {};
  uint8_t block[kBlockBytes] = {};
  int32_t blockNo = -1;
  bool blockDirty = false;
  int32_t handle = 0;
  int64_t frameBytes = 0;
  int32_t bitsPerPixel = 0;
  int32_t lastDecoded = 0;  // frame held by the canvas, 0 before the first
  int32_t nextFrame = 1;    // what KWBImgLoadNext decodes
  int64_t fileSize = 0;
  uint8_t lastPalette[768] = {};  // last written (R,G,B)
  uint8_t* prevFrame = nullptr;   // tracked: previous frame as coded
  uint8_t* predict = nullptr;     // tracked: strip bytes in predicted form
  uint8_t* canvas = nullptr;      // tracked: the last decoded frame
  uint8_t canvasPalette[768] = {};  // B,G,R of the canvas
  bool canvasHasPalette = false;
  bool predicting = false;
  bool writeMode = false;
  bool headerWritten = false;
  bool newPalette = false;
  bool soundWritten = false;
  int32_t lastSoundChunk = 0;  // write mode: position of the last chunk
  // Sound read state: the chunk in the buffer and where reading stands.
  uint8_t* soundBuffer = nullptr;  // tracked: samples of the current chunk
  int32_t soundBufferFrames = 0;
  int32_t soundReadOffset = 0;     // frames of the buffer already read
  int32_t nextSoundChunk = 0;      // file position, 0 at the end of the list
  int32_t samplesBefore = 0;       // frames of the chunks before the buffer
  int32_t samplePosition = 0;      // the next frame a load delivers
  SndBasic::WaveFormatEx waveFormat{};  // delivered PCM format
  bool open = false;
};

int32_t KWBSetFastMode(int32_t v);
int32_t KWBSetKeyInterval(int32_t v);

void KWBOpen(KWBFile* kwb, const std::string& fileName);
void KWBCreate(KWBFile* kwb, const std::string& fileName, double fps);
void KWBImgLoad(KWBFile* kwb, ImgBasic::Qimg* image, int32_t frame,
                int32_t flags);
void KWBImgLoadNext(KWBFile* kwb, ImgBasic::Qimg* image);
void KWBSetFrame(KWBFile* kwb, int32_t n);
void KWBImgSave(KWBFile* kwb, ImgBasic::Qimg* image);
void KWBClose(KWBFile* kwb);
void KWBInfo(const std::string& fileName, ConForm::FFInfoRec* info);
void KWBSndSave(KWBFile* kwb, SndBasic::SndRec* sound);
void KWBSndSeek(KWBFile* kwb, int32_t sample);
void KWBSndLoad(KWBFile* kwb, SndBasic::SndRec* sound, int32_t start,
                int32_t count, int32_t flags);
// The key frame at or before (direction <= 0) or at or after (> 0) a frame.
int32_t KWBNearestKeyFrame(const KWBFile* kwb, int32_t frame, int32_t direction);
// Scans frames first, first - 1, ... down to last for the nearest one that
// carries a palette chunk and copies its entries (B,G,R) into palette.
bool KWBGetPal(KWBFile* kwb, uint8_t* palette, int32_t first, int32_t last);
void KWBUpdateVP_(KWBFile* kwb, int32_t frame);

// Header (de)serialisation, exposed for the tests.
void KWBPackHeader(const KWBHeader& h, uint8_t* out);
void KWBUnpackHeader(const uint8_t* in, KWBHeader& h);

}  // namespace FF_KWB
