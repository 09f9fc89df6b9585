// MPEG-2 video encoding over FFmpeg with the call set the MPEG format unit
// uses for MPEG-2, SVCD and DVD: the encoder asks for each frame by number
// through the frame callback, in order from 0, once per PutMPEGFrame.
//
// Pixels are 24 bits, B, G, R, rows top-down and packed. Errors are results
// plus a message to the error callback; no exception leaves the layer.
#pragma once

#include <cstdint>

namespace Morrow {

using ErrorFunc = void (*)(const char* message);
// Looks up frame number frame and sets *pixels to it, or to nullptr when
// the frame is not at hand.
using GetImgPtrFunc = void (*)(int32_t frame, uint8_t** pixels);

void EncErrorFuncSet(ErrorFunc func);
void GetImgPtrFuncSet(GetImgPtrFunc func);

// Parameter block of CreateMPEG.
struct EncParams {
  int32_t mpeg2 = 1;       // 1: MPEG-2 syntax, 0: MPEG-1
  int32_t interlaced = 0;  // 1: interlaced coding tools
  int32_t width = 0;
  int32_t height = 0;
  int32_t rateCode = 4;    // MPEG frame-rate code 1..8
  double bitRate = 0;      // bit/s
};

struct MpegEncoder;  // opaque
// Creates the elementary stream file. Non-zero on success.
int32_t CreateMPEG(MpegEncoder** encoder, const char* fileName,
                   const EncParams* params);
// Announces how many frames the stream will have at most.
int32_t SetNumFramesMPEG(MpegEncoder* encoder, int32_t frames);
// Encodes the next frame, fetched through the frame callback. Non-zero on
// success; fails when the frame is not given or beyond the announced count.
int32_t PutMPEGFrame(MpegEncoder* encoder);
// Flushes and closes; non-zero when the whole stream was written.
int32_t CloseMPEGEnc(MpegEncoder* encoder);

}  // namespace Morrow
