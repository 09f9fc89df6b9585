// The movie module's one interface: the FFmpeg layers' functions (AVI files
// and codecs, direct AVI reading, MPEG reading and writing, audio format
// conversion) as a table that the module fills and the core's gate calls.
//
// Each row: namespace, return type, name, parameters, arguments, and the
// value a call returns when the module cannot be loaded (the error pair is
// set by then). LOAD rows load the module on first use; KEEP rows hand back
// what the module made and only forward when it is loaded.
#pragma once

#include <cstdint>

#include "platform/AcmLayer.h"
#include "platform/AviFile.h"
#include "platform/Modules.h"
#include "platform/Morrow.h"
#include "platform/Pavane.h"
#include "platform/Tessa.h"

#define QOR_MOVIE_CALLS(LOAD, KEEP)                                                         \
  LOAD(AviFile, AviFile::HRESULT, AVIFileOpen,                                              \
       (AviFile::PAVIFILE * file, const char* fileName, uint32_t mode, const void* handler), \
       (file, fileName, mode, handler), AviFile::AVIERR_FILEOPEN)                           \
  KEEP(AviFile, AviFile::HRESULT, AVIFileRelease, (AviFile::PAVIFILE file), (file),         \
       AviFile::AVIERR_BADPARAM)                                                            \
  LOAD(AviFile, AviFile::HRESULT, AVIFileInfo,                                              \
       (AviFile::PAVIFILE file, AviFile::AVIFILEINFO * info, int32_t size),                 \
       (file, info, size), AviFile::AVIERR_BADPARAM)                                        \
  LOAD(AviFile, AviFile::HRESULT, AVIFileGetStream,                                         \
       (AviFile::PAVIFILE file, AviFile::PAVISTREAM * stream, uint32_t type, int32_t index), \
       (file, stream, type, index), AviFile::AVIERR_NODATA)                                 \
  LOAD(AviFile, AviFile::HRESULT, AVIFileReadData,                                          \
       (AviFile::PAVIFILE file, uint32_t ckid, void* data, int32_t* size),                  \
       (file, ckid, data, size), AviFile::AVIERR_NODATA)                                    \
  LOAD(AviFile, AviFile::HRESULT, AVIFileWriteData,                                         \
       (AviFile::PAVIFILE file, uint32_t ckid, const void* data, int32_t size),             \
       (file, ckid, data, size), AviFile::AVIERR_FILEWRITE)                                 \
  LOAD(AviFile, AviFile::HRESULT, AVIFileCreateStream,                                      \
       (AviFile::PAVIFILE file, AviFile::PAVISTREAM * stream,                               \
        const AviFile::AVISTREAMINFO* info),                                                \
       (file, stream, info), AviFile::AVIERR_FILEWRITE)                                     \
  LOAD(AviFile, AviFile::HRESULT, AVIMakeCompressedStream,                                  \
       (AviFile::PAVISTREAM * compressed, AviFile::PAVISTREAM source,                       \
        const AviFile::AVICOMPRESSOPTIONS* options, const void* handler),                   \
       (compressed, source, options, handler), AviFile::AVIERR_NOCOMPRESSOR)                \
  LOAD(AviFile, AviFile::HRESULT, AVIStreamSetFormat,                                       \
       (AviFile::PAVISTREAM stream, int32_t position, const void* format, int32_t size),    \
       (stream, position, format, size), AviFile::AVIERR_BADFORMAT)                         \
  LOAD(AviFile, AviFile::HRESULT, AVIStreamReadFormat,                                      \
       (AviFile::PAVISTREAM stream, int32_t position, void* format, int32_t* size),         \
       (stream, position, format, size), AviFile::AVIERR_BADFORMAT)                         \
  LOAD(AviFile, AviFile::HRESULT, AVIStreamInfo,                                            \
       (AviFile::PAVISTREAM stream, AviFile::AVISTREAMINFO * info, int32_t size),           \
       (stream, info, size), AviFile::AVIERR_BADPARAM)                                      \
  LOAD(AviFile, int32_t, AVIStreamLength, (AviFile::PAVISTREAM stream), (stream), -1)       \
  LOAD(AviFile, int64_t, AVIStreamDataBytes, (AviFile::PAVISTREAM stream), (stream), 0)     \
  LOAD(AviFile, AviFile::HRESULT, AVIStreamRead,                                            \
       (AviFile::PAVISTREAM stream, int32_t start, int32_t samples, void* buffer,           \
        int32_t bufferSize, int32_t* bytesRead, int32_t* samplesRead),                      \
       (stream, start, samples, buffer, bufferSize, bytesRead, samplesRead),                \
       AviFile::AVIERR_FILEREAD)                                                            \
  LOAD(AviFile, AviFile::HRESULT, AVIStreamWrite,                                           \
       (AviFile::PAVISTREAM stream, int32_t start, int32_t samples, const void* buffer,     \
        int32_t bufferSize, uint32_t flags, int32_t* samplesWritten, int32_t* bytesWritten), \
       (stream, start, samples, buffer, bufferSize, flags, samplesWritten, bytesWritten),   \
       AviFile::AVIERR_FILEWRITE)                                                           \
  KEEP(AviFile, void, AVIStreamRelease, (AviFile::PAVISTREAM stream), (stream), )           \
  LOAD(AviFile, AviFile::PGETFRAME, AVIStreamGetFrameOpen,                                  \
       (AviFile::PAVISTREAM stream, const Gdi::BITMAPINFOHEADER* wanted), (stream, wanted), \
       nullptr)                                                                             \
  LOAD(AviFile, const uint8_t*, AVIStreamGetFrame,                                          \
       (AviFile::PGETFRAME getFrame, int32_t position, int64_t* bytes),                     \
       (getFrame, position, bytes), nullptr)                                                \
  KEEP(AviFile, void, AVIStreamGetFrameClose, (AviFile::PGETFRAME getFrame), (getFrame), )  \
  LOAD(AviFile, bool, ICInfo, (uint32_t type, int32_t index, AviFile::ICINFO * info),       \
       (type, index, info), false)                                                          \
  LOAD(AviFile, AviFile::HIC, ICOpen, (uint32_t type, uint32_t handler, uint32_t mode),     \
       (type, handler, mode), nullptr)                                                      \
  KEEP(AviFile, AviFile::LRESULT, ICClose, (AviFile::HIC ic), (ic), AviFile::ICERR_BADPARAM) \
  LOAD(AviFile, AviFile::LRESULT, ICGetInfo,                                                \
       (AviFile::HIC ic, AviFile::ICINFO * info, int32_t size), (ic, info, size), 0)        \
  LOAD(AviFile, AviFile::LRESULT, ICSendMessage,                                            \
       (AviFile::HIC ic, uint32_t message, intptr_t p1, intptr_t p2), (ic, message, p1, p2), \
       AviFile::ICERR_UNSUPPORTED)                                                          \
  LOAD(Tessa, Tessa::Handle, avi_open_DD, (const char* fileName, int32_t* reserved),        \
       (fileName, reserved), 0)                                                             \
  LOAD(Tessa, void, avi_get_info_DD,                                                        \
       (Tessa::Handle h, int32_t * width, int32_t * height, int32_t * bits,                 \
        int32_t * frames, double* fps, uint8_t* wave),                                      \
       (h, width, height, bits, frames, fps, wave), )                                       \
  LOAD(Tessa, int32_t, avi_get_frame_DD,                                                    \
       (Tessa::Handle h, uint8_t * dest, int64_t capacity, int32_t index, uint8_t * palette), \
       (h, dest, capacity, index, palette), 0)                                              \
  KEEP(Tessa, void, avi_close_DD, (Tessa::Handle h), (h), )                                 \
  LOAD(Pavane, double, FrameRateOfCode, (int32_t code), (code), 0.0)                        \
  LOAD(Pavane, int32_t, FrameRateCodeOf, (double rate), (rate), 0)                          \
  LOAD(Pavane, int32_t, mpg_get_type, (const char* fileName), (fileName), Pavane::kTypeNone) \
  LOAD(Pavane, int32_t, GetMPEGInfo,                                                        \
       (const char* fileName, int32_t* width, int32_t* height, int32_t* frames,             \
        int32_t* rateCode, int32_t* bitRate, int32_t* mpeg2, int32_t* hasAudio,             \
        Pavane::ProgressFunc progress, void* progressData),                                 \
       (fileName, width, height, frames, rateCode, bitRate, mpeg2, hasAudio, progress,      \
        progressData),                                                                      \
       0)                                                                                   \
  LOAD(Pavane, int32_t, OpenMPEG,                                                           \
       (Pavane::MpegReader * *reader, const char* fileName, int32_t flags,                  \
        Pavane::ProgressFunc progress, void* progressData),                                 \
       (reader, fileName, flags, progress, progressData), 0)                                \
  LOAD(Pavane, int32_t, GetMPEGFrame, (Pavane::MpegReader * reader, uint8_t * dest),        \
       (reader, dest), 0)                                                                   \
  LOAD(Pavane, int32_t, SeekMPEG, (Pavane::MpegReader * reader, int32_t frame),             \
       (reader, frame), 0)                                                                  \
  KEEP(Pavane, void, CloseMPEG, (Pavane::MpegReader * reader), (reader), )                  \
  LOAD(Pavane, int32_t, mpg_audio_info,                                                     \
       (const char* fileName, Pavane::MpgAudioInfo* info, Pavane::ProgressFunc progress,    \
        void* progressData),                                                                \
       (fileName, info, progress, progressData), 0)                                         \
  LOAD(Pavane, Pavane::MpgAudioReader*, mpg_audio_open,                                     \
       (const char* fileName, Pavane::ProgressFunc progress, void* progressData),           \
       (fileName, progress, progressData), nullptr)                                         \
  LOAD(Pavane, int32_t, mpg_audio_seek, (Pavane::MpgAudioReader * reader, int32_t sample),  \
       (reader, sample), 0)                                                                 \
  LOAD(Pavane, int32_t, mpg_audio_read,                                                     \
       (Pavane::MpgAudioReader * reader, int16_t * dest, int32_t frames),                   \
       (reader, dest, frames), 0)                                                           \
  KEEP(Pavane, void, mpg_audio_close, (Pavane::MpgAudioReader * reader), (reader), )        \
  LOAD(Pavane, Pavane::MpgVideoEncoder*, mpg_video_create,                                  \
       (const char* fileName, int32_t width, int32_t height, double frameRate,              \
        int32_t type),                                                                      \
       (fileName, width, height, frameRate, type), nullptr)                                 \
  LOAD(Pavane, void, mpg_video_set_bitrate,                                                 \
       (Pavane::MpgVideoEncoder * encoder, int32_t bitsPerSecond), (encoder, bitsPerSecond), ) \
  LOAD(Pavane, int32_t, mpg_video_write,                                                    \
       (Pavane::MpgVideoEncoder * encoder, const uint8_t* pixels), (encoder, pixels), 0)    \
  KEEP(Pavane, int32_t, mpg_video_close, (Pavane::MpgVideoEncoder * encoder), (encoder), 0) \
  LOAD(Pavane, Pavane::MpgAudioEncoder*, mpgenc_audio_create,                               \
       (const char* fileName, int32_t rate, int32_t channels), (fileName, rate, channels),  \
       nullptr)                                                                             \
  LOAD(Pavane, void, mpgenc_audio_set_bitrate,                                              \
       (Pavane::MpgAudioEncoder * encoder, int32_t bitsPerSecond), (encoder, bitsPerSecond), ) \
  LOAD(Pavane, int32_t, mpgenc_audio_write,                                                 \
       (Pavane::MpgAudioEncoder * encoder, const int16_t* samples, int32_t frames),         \
       (encoder, samples, frames), 0)                                                       \
  KEEP(Pavane, int32_t, mpgenc_audio_close, (Pavane::MpgAudioEncoder * encoder), (encoder), 0) \
  LOAD(Pavane, int32_t, mpg_mplex,                                                          \
       (const char* outputName, const char* videoName, const char* audioName,               \
        int32_t reserved, int32_t type),                                                    \
       (outputName, videoName, audioName, reserved, type), 0)                               \
  LOAD(Morrow, int32_t, CreateMPEG,                                                         \
       (Morrow::MpegEncoder * *encoder, const char* fileName, const Morrow::EncParams* params), \
       (encoder, fileName, params), 0)                                                      \
  LOAD(Morrow, int32_t, SetNumFramesMPEG, (Morrow::MpegEncoder * encoder, int32_t frames),  \
       (encoder, frames), 0)                                                                \
  LOAD(Morrow, int32_t, PutMPEGFrame, (Morrow::MpegEncoder * encoder), (encoder), 0)        \
  KEEP(Morrow, int32_t, CloseMPEGEnc, (Morrow::MpegEncoder * encoder), (encoder), 0)        \
  LOAD(Acm, Acm::MMRESULT, acmStreamOpen,                                                   \
       (Acm::HACMSTREAM * stream, void* driver, const uint8_t* src, int64_t srcSize,        \
        const uint8_t* dst, int64_t dstSize, const void* filter, uintptr_t callback,        \
        uintptr_t instance, uint32_t flags),                                                \
       (stream, driver, src, srcSize, dst, dstSize, filter, callback, instance, flags),     \
       Acm::kErrNotPossible)                                                                \
  LOAD(Acm, Acm::MMRESULT, acmStreamSize,                                                   \
       (Acm::HACMSTREAM stream, uint32_t input, uint32_t* output, uint32_t flags),          \
       (stream, input, output, flags), Acm::kErrInvalidHandle)                              \
  LOAD(Acm, Acm::MMRESULT, acmStreamPrepareHeader,                                          \
       (Acm::HACMSTREAM stream, Acm::AcmStreamHeader* header, uint32_t flags),              \
       (stream, header, flags), Acm::kErrInvalidHandle)                                     \
  LOAD(Acm, Acm::MMRESULT, acmStreamConvert,                                                \
       (Acm::HACMSTREAM stream, Acm::AcmStreamHeader* header, uint32_t flags),              \
       (stream, header, flags), Acm::kErrInvalidHandle)                                     \
  KEEP(Acm, Acm::MMRESULT, acmStreamUnprepareHeader,                                        \
       (Acm::HACMSTREAM stream, Acm::AcmStreamHeader* header, uint32_t flags),              \
       (stream, header, flags), Acm::kErrInvalidHandle)                                     \
  KEEP(Acm, Acm::MMRESULT, acmStreamClose, (Acm::HACMSTREAM stream, uint32_t flags),        \
       (stream, flags), Acm::kErrInvalidHandle)                                             \
  LOAD(Acm, Acm::MMRESULT, acmFormatSuggest,                                                \
       (void* driver, const uint8_t* src, int64_t srcSize, uint8_t* dst, int64_t dstSize,   \
        uint32_t flags),                                                                    \
       (driver, src, srcSize, dst, dstSize, flags), Acm::kErrNotPossible)

namespace MovieModule {

#define QOR_MODULE_SLOT(NS, RET, NAME, PARAMS, ARGS, FAIL) RET(*NS##_##NAME) PARAMS;

struct Table {
  QOR_MOVIE_CALLS(QOR_MODULE_SLOT, QOR_MODULE_SLOT)
  // Calls whose state the core keeps until the module is loaded.
  void (*AviFile_AVIFileInit)();
  void (*AviFile_AVIFileExit)();
  void (*Pavane_PavaneErrorFuncSet)(Pavane::ErrorFunc func);
  void (*Morrow_EncErrorFuncSet)(Morrow::ErrorFunc func);
  void (*Morrow_GetImgPtrFuncSet)(Morrow::GetImgPtrFunc func);
  // The MPEG audio frame counter, as an object of the module's own.
  void* (*counterNew)(uint16_t formatTag);
  void (*counterDelete)(void* counter);
  bool (*counterUsable)(const void* counter);
  void (*counterAdd)(void* counter, const uint8_t* data, int64_t size);
  int64_t (*counterFinish)(void* counter);
};

}  // namespace MovieModule
