// Sound held in memory (SndRec) and its conversion between wave formats
// through the audio compression streams of platform/AcmLayer.
//
// Every count is in sample frames (one sample for each channel); the bytes
// in use are frames x the block alignment of the record's wave format.
// 8-bit samples are unsigned (silence 128), 16-bit samples signed.
#pragma once

#include <cstdint>

#include "platform/AcmLayer.h"

namespace SndBasic {

using Acm::WaveFormatEx;

// Format a record without one takes when silence is added to it.
constexpr int32_t kDefaultRate = 22050;
constexpr int32_t kDefaultChannels = 1;
constexpr int32_t kDefaultBits = 8;

struct SndRec {
  uint8_t* data = nullptr;  // tracked block
  int32_t allocated = 0;    // bytes of the block
  int32_t frames = 0;       // sample frames in use
  WaveFormatEx format{};    // the 18-byte wave format header
};

// State of a conversion that goes on over several calls. A conversion from a
// compressed format to a PCM format other than the one its decoder proposes
// runs in two passes through that proposal, each with a stream of its own.
struct WaveConvRec {
  Acm::HACMSTREAM stream = nullptr;   // source to destination, or first pass
  Acm::HACMSTREAM stream2 = nullptr;  // second pass, PCM to destination
  Acm::AcmStreamHeader header{};
  Acm::AcmStreamHeader header2{};
  uint32_t flags = 0;   // conversion flags of the next call of each pass
  uint32_t flags2 = 0;
  WaveFormatEx middle{};  // the PCM format between two passes
};

// What a movie or sound reader keeps to deliver PCM through SndLoad.
struct SndLoadState {
  uint8_t* srcFormat = nullptr;  // tracked block: the reader's wave format
  int32_t srcFormatSize = 0;     // with its extra bytes
  WaveFormatEx dstFormat{};      // the delivered PCM format
  uint8_t* sndData = nullptr;    // converted bytes not delivered yet (tracked)
  int32_t filled = 0;            // bytes in sndData
  int32_t consumed = 0;          // bytes of sndData already delivered
  int32_t curBlock = 0;          // source frames read
  int32_t blockCount = 0;        // source frames in all
  int32_t samplePos = 0;         // the reader's position in delivered frames
  int32_t pcmTotal = 0;          // delivered frames in all
  bool ended = false;            // the reader gave its last source frames
  double samplesPerBlock = 1.0;  // delivered frames per source frame
};

// A reader's block step: asked for the delivered bytes still needed, it
// allocates or grows *block (tracked, with block as its owner) with source
// data and reports the bytes and the source frames it holds; 0 bytes or 0
// frames mean the reader has nothing more.
using SndBlockReader = void (*)(void* handle, int32_t bytesNeeded,
                                uint8_t*& block, int32_t& bytes,
                                int32_t& frames);

// ---- wave format header ------------------------------------------------------
// PCM format of the given rate, channels and bits; a value its field cannot
// hold is stored as 0, which WaveFormatValidate refuses.
void WaveFormatSetPCM(WaveFormatEx& format, int32_t rate, int32_t channels,
                      int32_t bits);
// False when bits, rate or channels is 0, or the block alignment is unusable;
// a PCM format gets its block alignment and byte rate recomputed (a
// compressed format keeps its own).
bool WaveFormatValidate(WaveFormatEx& format);
// True when the first 16 bytes of the headers differ.
bool WaveFormatDiffers(const WaveFormatEx& a, const WaveFormatEx& b);

// ---- records -------------------------------------------------------------------
void _sndalloc_(SndRec& sound, int64_t bytes, int32_t sourceLine,
                const char* label);
void SndClear(SndRec& sound);
void SndFree(SndRec& sound);
void SndAddSilence(SndRec& sound, int32_t frames);
void SndMakeSilence(SndRec& sound, int32_t frames, int32_t rate, int32_t bits,
                    int32_t channels);
void SndJoin(SndRec& dest, SndRec& src);
void SndMove(SndRec& src, SndRec& dest, int32_t start, int32_t count);
void SndDelete(SndRec& sound, int32_t start, int32_t count);
void SndConvert(SndRec& src, SndRec& dest, const WaveFormatEx& format);

// ---- conversion streams --------------------------------------------------------
// srcFormat is the source's wave format block (18 bytes and its extra bytes;
// 16 bytes serve for PCM).
void WaveConvertInit(WaveConvRec& ctx, const uint8_t* srcFormat,
                     int32_t srcFormatSize, const WaveFormatEx& dstFormat);
void WaveConvertInit(WaveConvRec& ctx, const WaveFormatEx& srcFormat,
                     const WaveFormatEx& dstFormat);
void WaveConvert(WaveConvRec& ctx, const uint8_t* src, uint8_t* dst,
                 const WaveFormatEx& dstFormat, const WaveFormatEx& srcFormat,
                 int32_t& written, int32_t dstCapacity, int32_t srcBytes);
// One pass through one stream; flags are the pass's flags for this call.
void WaveConvert_(Acm::HACMSTREAM stream, Acm::AcmStreamHeader& header,
                  uint32_t& flags, const uint8_t* src, int32_t srcBytes,
                  uint8_t* dst, int32_t dstCapacity, int32_t& written);
// Makes the next WaveConvert the last of the conversion: the streams give
// out what they hold.
void WaveConvertMarkEnd(WaveConvRec& ctx);
void WaveConvertDone(WaveConvRec& ctx);

// Delivers frames converted sample frames from a reader into sound.
void SndLoad(SndLoadState& state, WaveConvRec& ctx, SndBlockReader reader,
             void* handle, int32_t frames, SndRec& sound);

}  // namespace SndBasic
