// Ogg Vorbis reading and writing over libogg, libvorbis, libvorbisfile and
// libvorbisenc, with the small call set the Ogg format unit uses. The names
// ov_info, ov_read, ov_pcm_seek and ov_pcm_total are also libvorbisfile's own
// with other signatures: these live in namespace Sorrel only.
//
// The layer takes and gives plain buffers: 16-bit (or 8-bit) interleaved PCM.
//
// A sound is the run of leading logical streams that share the first
// stream's channel count and sample rate; a later stream of another format
// ends it (its samples are never delivered under the first format). Streams
// are told apart by their first pages, not by serial numbers, so a file
// joined to itself is two streams. After a
// refused seek nothing is read until a seek succeeds, so no samples from an
// unknown place are handed out as if they came from the requested one. A
// hole in the stream (lost pages) is stepped over inside one read.
#pragma once

#include <cstdint>

namespace Sorrel {

// Size of the block the caller provides for the decoder state.
constexpr int32_t kDecoderStateSize = 4096;

// The open file behind a decoder state; owned by the layer from ov_open_2 to
// ov_clear_2.
using OvFileSlot = void*;

struct OvInfo {
  int32_t version = 0;
  int32_t channels = 0;
  int32_t rate = 0;
  int32_t bitrateUpper = 0;
  int32_t bitrateNominal = 0;
  int32_t bitrateLower = 0;
};

// Negative results of the layer (libvorbisfile's own codes pass through).
enum : int32_t {
  kOvFail = -1,
  kOvBadArgument = -131,
  kOvNotVorbis = -132,
  kOvNotSeekable = -138,
  // Reading after a refused seek: the decoder stands at an unknown place.
  kOvNoPosition = -1000,
};

// Opens fileName and prepares the decoder state (a block of at least
// kDecoderStateSize bytes). initial/initialBytes: data already read from
// the start of the file, normally none. 0 on success, negative on failure
// (then there is nothing to clear).
int32_t ov_open_2(OvFileSlot* fileSlot, const char* fileName, void* state,
                  const char* initial, int32_t initialBytes);
// The sound's format (link -1) or that of one of its streams; nullptr when
// the state is not open or the link is not part of the sound.
const OvInfo* ov_info(void* state, int32_t link);
// Sample frames of the whole sound (link -1) or of one of its streams;
// negative on failure.
int64_t ov_pcm_total(void* state, int32_t link);
// Positions at a sample frame (0..total). 0 on success, negative when
// refused; a refused seek leaves the state unreadable until a seek succeeds.
int32_t ov_pcm_seek(void* state, int64_t frame);
// Decodes into buffer up to length bytes of whole sample frames, interleaved,
// word bytes per sample (1 or 2), signed or unsigned, little- or big-endian.
// Bytes delivered; 0 at the end of the sound; negative on failure.
// bitstream receives the number of the logical stream read.
int32_t ov_read(void* state, char* buffer, int32_t length, int32_t bigEndian,
                int32_t word, int32_t sgned, int32_t* bitstream);
// Releases the decoder's contents and closes the file. 0 on success.
int32_t ov_clear_2(OvFileSlot* fileSlot, void* state);

struct OvEncoder;  // opaque
// Creates fileName and writes the stream headers; quality 0.0..1.0
// (clamped). Non-zero on success; on failure no file is left.
int32_t ov_create(OvEncoder** encoder, const char* fileName, int32_t rate,
                  int32_t channels, double quality);
// Encodes 16-bit interleaved samples; bytes must be whole sample frames.
// Non-zero on success.
int32_t ov_write(OvEncoder* encoder, const int16_t* samples, int32_t bytes);
// Finishes the stream and closes the file. Non-zero when everything was
// written; the encoder is gone either way.
int32_t ov_close(OvEncoder* encoder);

}  // namespace Sorrel
