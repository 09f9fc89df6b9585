// GIF87a and GIF89a reading: single pictures and animations, frame by frame
// with random access, transparency, disposal and interlacing.
//
// Frames come composed as viewers show them. While one colour table serves
// every pixel a frame can show, they come at 8 bits with that table; an
// animation whose frames leave pixels of one table showing beside pixels of
// another comes at 24 bits throughout.
#pragma once

#include <cstdint>
#include <string>

#include "formats/ConForm.h"
#include "media/ImgBasic.h"

namespace FF_GIF {

struct GifRect {
  int32_t left = 0, top = 0, width = 0, height = 0;
};

// The open-file handle. Each handle keeps its own frame index and canvas.
struct GifFile {
  int32_t width = 0, height = 0;  // logical screen
  int32_t bytesPerPixel = 1, bitsPerPixel = 8;  // 3 and 24 in true colour
  bool trueColour = false;  // frames are composed and delivered at 24 bits
  int32_t frameCount = 0;
  int32_t nextFrame = 0;  // 0-based index of the next frame to decode
  double fps = 0;
  int64_t fileSize = 0;
  int32_t background = -1;  // -1 without a global colour table
  int32_t transparent = -1;  // of the current frame
  GifRect lastRect;
  int32_t lastDisposal = 0;
  GifRect savedRect;
  uint8_t* saved = nullptr;  // tracked: pixels under a disposal-3 frame
  bool newPalette = false;
  bool prevHadLocal = false;
  bool partialFrames = false;
  uint8_t globalPalette[768] = {};  // B,G,R
  int32_t handle = 0;
  bool open = false;
  int32_t* positions = nullptr;  // tracked: file position of each frame
  uint8_t* canvas = nullptr;     // tracked: the composed screen (indices)
  uint8_t* rgbCanvas = nullptr;  // tracked, true colour only: it in B,G,R
  uint8_t* savedRgb = nullptr;   // tracked, true colour only: colours under a disposal-3 frame
  uint8_t canvasPalette[768] = {};  // the current frame's colour table
  int32_t canvasFrame = 0;  // frames composed on the canvas (1-based last)
  int32_t indexedBlocks = 0;  // opens that had to index (for the tests)
};

void GIFOpen(GifFile* gif, const std::string& fileName, bool firstOnly);
void GIFLoadNext(GifFile* gif, ImgBasic::Qimg* image, ImgBasic::Qimg* alpha);
void GIFLoad(GifFile* gif, ImgBasic::Qimg* image, int32_t frame, int32_t flags,
             ImgBasic::Qimg* alpha);
void GIFClose(GifFile* gif);
// Describes a file: its screen, frames (all of them, or only the first when
// allFrames is false) and their rate.
void GIFInfo(const std::string& fileName, ConForm::FFInfoRec* info,
             bool allFrames);

// LZW decoding of one frame's sub-blocks (starting at the code-size byte)
// into count pixels. False on corrupt data.
bool GIFDecodeLZW_(const uint8_t* data, int64_t size, uint8_t* out,
                   int64_t count);
// Puts the rows of an interlaced frame in order.
void GIFunInterlace_(const uint8_t* in, uint8_t* out, int32_t width,
                     int32_t height);

// The reopen cache: empty at library start, freed at unload.
void GIFCacheClear();
// How many times a file had to be indexed (the cache saves the others).
int32_t GIFIndexCount();

}  // namespace FF_GIF
