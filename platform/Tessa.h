// The direct AVI reader: frames of an AVI movie delivered straight in the
// image record's layout (rows top-down, no padding) and depth, with the
// palette of 8-bit video. It reads the same files as platform/AviFile and
// shares its decoding; the AVI unit uses it for the streams it prefers to
// read this way (Cinepak, DV, uncompressed video below 32 bits).
//
// This reader delivers video only: every sound format the AVI unit meets is
// decoded through the audio conversion layer, so it reports no wave format.
#pragma once

#include <cstdint>

namespace Tessa {

using Handle = uintptr_t;

// 0 on failure. reserved receives 0.
Handle avi_open_DD(const char* fileName, int32_t* reserved);
// Zero values mean not available. wave receives 18 bytes (all zero here).
void avi_get_info_DD(Handle h, int32_t* width, int32_t* height, int32_t* bits, int32_t* frames,
                     double* fps, uint8_t* wave);
// Writes frame index (from 0) as width x height pixels of (bits + 7) / 8
// bytes, rows top-down; 16 bits are 5-5-5 words. palette, when given,
// receives 256 B, G, R triples for 8-bit video. capacity is the size of
// dest. Non-zero on success.
int32_t avi_get_frame_DD(Handle h, uint8_t* dest, int64_t capacity, int32_t index,
                         uint8_t* palette);
void avi_close_DD(Handle h);

}  // namespace Tessa
