// MPEG reading and writing over FFmpeg, with the call set the MPEG format
// unit uses: describe and read MPEG-1/2 video frame by frame with
// frame-exact seeks, read MPEG audio (Layers I to III) as 16-bit PCM with
// sample-exact seeks, write MPEG-1 and VCD video and Layer II audio
// elementary streams, and multiplex a video and an audio stream into one
// program stream.
//
// The layer takes and gives plain buffers: pixels are 24 bits, B, G, R,
// rows top-down and packed (width x 3 bytes a row); sound is interleaved
// 16-bit signed PCM. Errors are results (0 or nullptr) plus a message to the
// error callback; no exception leaves the layer.
//
// Seeks rest on an index built while the file is scanned: for video the
// picture type of every coded picture, from which its place in display
// order follows, so frame k read by a seek is the frame k of a sequential
// read; for audio the samples each coded frame yields.
#pragma once

#include <cstdint>

namespace Pavane {

using ErrorFunc = void (*)(const char* message);
// Sets the callback that receives the layer's error messages (nullptr: none).
void PavaneErrorFuncSet(ErrorFunc func);

// Progress of a file scan, handed to the caller's progress function.
struct ProgressRec {
  const char* name = nullptr;  // the file being scanned
  int32_t count = 0;           // kilobytes scanned so far
  int32_t total = -1;          // kilobytes of the file, -1 when unknown
  double fraction = -1.0;      // percent done, 0..100
  int32_t finalCall = 0;       // 1 on the last call of a scan
  int32_t stop = 0;            // set by the function to stop the scan
  int32_t kind = 1;
  void* data = nullptr;        // the caller's progress data
};
using ProgressFunc = void (*)(ProgressRec* rec);

// Standard frame rates of the MPEG frame-rate codes 1..8.
double FrameRateOfCode(int32_t code);
// The smallest standard rate not below rate (24 below 24, 60 above 60).
int32_t FrameRateCodeOf(double rate);

// ---- reading --------------------------------------------------------------

// Stream types of mpg_get_type.
enum : int32_t {
  kTypeNone = 0,
  kTypeVideo = 1,   // video elementary stream
  kTypeAudio = 2,   // audio elementary stream
  kTypeSystem = 3,  // system (program) stream: video and audio
};
int32_t mpg_get_type(const char* fileName);

// Scans the file. Non-zero when it has MPEG-1/2 video; then the outputs are
// set: size, frame count, frame-rate code (0 when not standard), bit rate in
// bit/s, MPEG-2 flag and whether an MPEG audio stream is present. A stop
// request from the progress function ends the scan with 0.
int32_t GetMPEGInfo(const char* fileName, int32_t* width, int32_t* height,
                     int32_t* frames, int32_t* rateCode, int32_t* bitRate,
                     int32_t* mpeg2, int32_t* hasAudio, ProgressFunc progress,
                     void* progressData);

struct MpegReader;  // opaque
// Opens the video of a file (scanning it for the index). Non-zero on
// success.
int32_t OpenMPEG(MpegReader** reader, const char* fileName, int32_t flags,
                 ProgressFunc progress, void* progressData);
// Delivers the next frame into dest (width x height x 3 bytes). Non-zero on
// success; on failure dest receives the last frame delivered, or black when
// there is none, so it never holds uninitialised pixels.
int32_t GetMPEGFrame(MpegReader* reader, uint8_t* dest);
// Makes frame (from 0) the next one GetMPEGFrame delivers. Non-zero on
// success; an index outside the file changes nothing.
int32_t SeekMPEG(MpegReader* reader, int32_t frame);
void CloseMPEG(MpegReader* reader);

// What mpg_audio_info reports of an MPEG audio stream.
struct MpgAudioInfo {
  int32_t frames = 0;    // sample frames the stream decodes to
  double rate = 0;       // samples per second
  int32_t channels = 0;  // of the delivered PCM
  int32_t bits = 16;     // of the delivered PCM
  int32_t layer = 0;     // 1..3
  int32_t lsf = 0;       // 1 for the low sampling frequencies of MPEG-2/2.5
  int32_t bitRate = 0;   // kbit/s of the first coded frame
};
// Scans the file's first MPEG audio stream. Non-zero when there is one.
int32_t mpg_audio_info(const char* fileName, MpgAudioInfo* info,
                       ProgressFunc progress, void* progressData);

struct MpgAudioReader;  // opaque
MpgAudioReader* mpg_audio_open(const char* fileName, ProgressFunc progress,
                               void* progressData);
// Makes sample frame the next one read. Non-zero on success.
int32_t mpg_audio_seek(MpgAudioReader* reader, int32_t sample);
// Reads up to frames sample frames of interleaved 16-bit PCM into dest;
// returns the number delivered (0 at the end or on failure).
int32_t mpg_audio_read(MpgAudioReader* reader, int16_t* dest, int32_t frames);
void mpg_audio_close(MpgAudioReader* reader);

// ---- writing --------------------------------------------------------------

// MPEG types: 0 MPEG-1, 1 VCD, 2 MPEG-2, 3 SVCD, 4 DVD.
enum : int32_t { kMpeg1 = 0, kVcd = 1, kMpeg2 = 2, kSvcd = 3, kDvd = 4 };

struct MpgVideoEncoder;  // opaque
// Creates an MPEG-1 video elementary stream (types 0 and 1; the MPEG-2
// types go through Morrow). Bit rate until set: 1150 kbit/s constant for
// VCD, 1700 kbit/s otherwise. The frame rate is taken to the standard rate
// of its code. nullptr on failure.
MpgVideoEncoder* mpg_video_create(const char* fileName, int32_t width,
                                  int32_t height, double frameRate,
                                  int32_t type);
void mpg_video_set_bitrate(MpgVideoEncoder* encoder, int32_t bitsPerSecond);
// Encodes one frame of width x height x 3 bytes. Non-zero on success.
int32_t mpg_video_write(MpgVideoEncoder* encoder, const uint8_t* pixels);
// Flushes and closes; non-zero when the whole stream was written.
int32_t mpg_video_close(MpgVideoEncoder* encoder);

struct MpgAudioEncoder;  // opaque
// Creates a Layer II elementary stream at 32000, 44100 or 48000 Hz (16000,
// 22050, 24000 with the low sampling frequencies). More than two channels
// are mixed down to two. nullptr on failure.
MpgAudioEncoder* mpgenc_audio_create(const char* fileName, int32_t rate,
                                     int32_t channels);
// Takes the legal Layer II bit rate nearest to bitsPerSecond for the
// stream's sample rate and channels (until set: the one nearest to
// 224 kbit/s in stereo, 192 kbit/s in mono). Ignored once sound was written.
void mpgenc_audio_set_bitrate(MpgAudioEncoder* encoder, int32_t bitsPerSecond);
// Encodes frames sample frames of interleaved 16-bit PCM with the channel
// count given at creation. Non-zero on success.
int32_t mpgenc_audio_write(MpgAudioEncoder* encoder, const int16_t* samples,
                           int32_t frames);
int32_t mpgenc_audio_close(MpgAudioEncoder* encoder);

// Multiplexes a video and an audio elementary stream into outputName with
// the system-stream flavour of the MPEG type. reserved must be 0. Non-zero
// on success; on failure no output file is left.
int32_t mpg_mplex(const char* outputName, const char* videoName,
                  const char* audioName, int32_t reserved, int32_t type);

}  // namespace Pavane
