// FLI and FLC animations: a reader for both and an FLC writer of 8-bit
// frames, each with its own palette, ending with a loop frame.
#pragma once

#include <cstdint>
#include <string>

#include "formats/ConForm.h"
#include "media/ImgBasic.h"

namespace FF_FLC {

constexpr int32_t kHeaderSize = 128;
constexpr uint16_t kMagicFli = 0xAF11;
constexpr uint16_t kMagicFlc = 0xAF12;
constexpr uint16_t kFrameChunk = 0xF1FA;

// Sub-chunk types.
enum : uint16_t {
  kColor256 = 4,
  kDeltaFlc = 7,
  kColor64 = 11,
  kDeltaFli = 12,
  kBlack = 13,
  kByteRun = 15,
  kLiteral = 16,
};

struct FlcHeader {
  uint32_t fileSize = 0;
  uint16_t magic = 0;
  uint16_t frames = 0;
  uint16_t width = 0, height = 0, depth = 0, flags = 0;
  uint32_t speed = 0;
  uint16_t aspectX = 0, aspectY = 0;
  uint32_t firstFrame = 0;
};

struct FlcFile {
  FlcHeader header;
  int32_t handle = 0;
  int64_t fileSize = 0;
  double fps = 0;
  int32_t bytesPerPixel = 1;
  int32_t bitsPerPixel = 8;
  int32_t framesRead = 0;     // reader: frames the canvas has been through
  int32_t framesWritten = 0;  // writer
  bool newPalette = false;
  bool writeMode = false;
  bool headerWritten = false;
  bool open = false;
  int64_t position = 0;        // reader: next chunk
  bool cut = false;            // reader: the file ends before its last frame
  uint8_t* canvas = nullptr;   // reader: the last decoded frame (tracked)
  uint8_t canvasPalette[768] = {};
  uint8_t* prevFrame = nullptr;   // writer (tracked)
  uint8_t* firstFrame = nullptr;  // writer (tracked)
  uint8_t palette[768] = {};       // writer: the palette in effect (B,G,R)
  uint8_t firstPalette[768] = {};  // writer: the first frame's, for the loop frame
  std::string fileName;           // writer: created on the first frame
};

void FLCOpen(FlcFile* flc, const std::string& fileName);
void FLCLoadNext(FlcFile* flc, ImgBasic::Qimg* image, bool skipDecoding);
void FLCLoad(FlcFile* flc, ImgBasic::Qimg* image, int32_t frame, int32_t flags);
void FLCRewind(FlcFile* flc);
void FLCCreate(FlcFile* flc, const std::string& fileName, double fps);
void FLCSave(FlcFile* flc, ImgBasic::Qimg* image);
void FLCClose(FlcFile* flc);
void FLCInfo(const std::string& fileName, ConForm::FFInfoRec* info);

// Frames per second from the header's speed: 1/70 s units for ".fli",
// milliseconds otherwise; 0 when the speed is 0.
double FLCSpeedToFps(uint32_t speed, const std::string& fileName);

// Decodes one compressed sub-chunk onto a width × height 8-bit canvas.
bool FLCunCmps_(uint16_t type, const uint8_t* data, int64_t size,
                uint8_t* canvas, int32_t width, int32_t height);
// Coders of the writer; each returns the coded size, or -1 when the coding
// does not fit out (capacity bytes).
int64_t FLCCmpsRLE_(const uint8_t* frame, int32_t width, int32_t height,
                    uint8_t* out, int64_t capacity);
int64_t FLICmpsDiff_(const uint8_t* frame, const uint8_t* prev, int32_t width,
                     int32_t height, uint8_t* out, int64_t capacity);

}  // namespace FF_FLC
