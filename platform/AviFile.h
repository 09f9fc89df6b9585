// AVI files and video codecs in the shape the AVI unit calls them: the AVI
// file and stream calls (open, stream information and formats, raw sample
// reads, decoded frames, extra file data, stream creation, compressed
// streams and writes) and the installable-compressor calls (enumerate, open,
// information, messages).
//
// Reading walks the RIFF structure itself (headers, stream formats, the
// INFO list, the movie chunks and the index) and decodes video through
// libavcodec, or directly for uncompressed frames, with libswscale for the
// pixel formats. Writing is a RIFF AVI 1.0 writer of its own with an idx1
// index; compressed streams encode through libavcodec.
//
// The compressors are the ones this build can really encode: Cinepak
// ("cvid"), Video 1 ("MSVC"), Motion JPEG ("MJPG") and DV ("dvsd"). None has
// an about box or a configuration dialog, and none keeps private state.
//
// Results are 0 for success or a negative AVIERR_ value; no exception leaves
// the layer. Every size read from a file is checked against what remains
// before it is used.
#pragma once

#include <cstdint>

#include "platform/Gdi.h"

namespace AviFile {

using HRESULT = int32_t;

constexpr HRESULT AVIERR_OK = 0;
constexpr HRESULT AVIERR_UNSUPPORTED = static_cast<HRESULT>(0x80044065u);
constexpr HRESULT AVIERR_BADFORMAT = static_cast<HRESULT>(0x80044066u);
constexpr HRESULT AVIERR_MEMORY = static_cast<HRESULT>(0x80044067u);
constexpr HRESULT AVIERR_INTERNAL = static_cast<HRESULT>(0x80044068u);
constexpr HRESULT AVIERR_BADPARAM = static_cast<HRESULT>(0x8004406Au);
constexpr HRESULT AVIERR_BADSIZE = static_cast<HRESULT>(0x8004406Bu);
constexpr HRESULT AVIERR_FILEREAD = static_cast<HRESULT>(0x8004406Du);
constexpr HRESULT AVIERR_FILEWRITE = static_cast<HRESULT>(0x8004406Eu);
constexpr HRESULT AVIERR_FILEOPEN = static_cast<HRESULT>(0x8004406Fu);
constexpr HRESULT AVIERR_COMPRESSOR = static_cast<HRESULT>(0x80044070u);
constexpr HRESULT AVIERR_NOCOMPRESSOR = static_cast<HRESULT>(0x80044071u);
constexpr HRESULT AVIERR_READONLY = static_cast<HRESULT>(0x80044072u);
constexpr HRESULT AVIERR_NODATA = static_cast<HRESULT>(0x80044073u);
constexpr HRESULT AVIERR_BUFFERTOOSMALL = static_cast<HRESULT>(0x80044074u);

// Four-character code, first character in the low byte.
constexpr uint32_t FourCC(const char (&s)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) |
         (static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24);
}
constexpr uint32_t streamtypeVIDEO = FourCC("vids");
constexpr uint32_t streamtypeAUDIO = FourCC("auds");
constexpr uint32_t ckidLIST = FourCC("LIST");
constexpr uint32_t ICTYPE_VIDEO = FourCC("vidc");

// Open modes.
constexpr uint32_t OF_READ = 0x0000;
constexpr uint32_t OF_WRITE = 0x0001;
constexpr uint32_t OF_CREATE = 0x1000;

// Sample flags.
constexpr uint32_t AVIIF_KEYFRAME = 0x10;
// Whole samples that fit the buffer.
constexpr int32_t AVISTREAMREAD_CONVENIENT = -1;

// Compression option flags.
constexpr uint32_t AVICOMPRESSF_DATARATE = 0x2;
constexpr uint32_t AVICOMPRESSF_KEYFRAMES = 0x4;
constexpr uint32_t AVICOMPRESSF_VALID = 0x8;

// File information flag of this layer: the file ends inside its data (a
// recording cut short); the streams hold the whole chunks before that.
constexpr uint32_t AVIFILEINFO_CUT = 0x80000000;

struct AVIFILEINFO {
  uint32_t dwMaxBytesPerSec = 0;
  uint32_t dwFlags = 0;
  uint32_t dwCaps = 0;
  uint32_t dwStreams = 0;
  uint32_t dwSuggestedBufferSize = 0;
  uint32_t dwWidth = 0, dwHeight = 0;
  uint32_t dwScale = 0, dwRate = 0, dwLength = 0;
};

struct AVIRECT {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};

struct AVISTREAMINFO {
  uint32_t fccType = 0;
  uint32_t fccHandler = 0;
  uint32_t dwFlags = 0;
  uint32_t dwCaps = 0;
  uint16_t wPriority = 0;
  uint16_t wLanguage = 0;
  uint32_t dwScale = 0;
  uint32_t dwRate = 0;
  uint32_t dwStart = 0;
  uint32_t dwLength = 0;
  uint32_t dwInitialFrames = 0;
  uint32_t dwSuggestedBufferSize = 0;
  uint32_t dwQuality = 0;
  uint32_t dwSampleSize = 0;
  AVIRECT rcFrame;
  uint32_t dwEditCount = 0;
  uint32_t dwFormatChangeCount = 0;
  char szName[64] = {};
};

struct AVICOMPRESSOPTIONS {
  uint32_t fccType = 0;
  uint32_t fccHandler = 0;
  uint32_t dwKeyFrameEvery = 0;
  uint32_t dwQuality = 0;  // 0..10000
  uint32_t dwBytesPerSecond = 0;
  uint32_t dwFlags = 0;
  void* lpFormat = nullptr;
  uint32_t cbFormat = 0;
  void* lpParms = nullptr;
  uint32_t cbParms = 0;
  uint32_t dwInterleaveEvery = 0;
};

struct AviFileObj;
struct AviStreamObj;
struct GetFrameObj;
using PAVIFILE = AviFileObj*;
using PAVISTREAM = AviStreamObj*;
using PGETFRAME = GetFrameObj*;

void AVIFileInit();
void AVIFileExit();

// Opens an AVI file for reading (OF_READ) or creates one (OF_CREATE |
// OF_WRITE). handler is a class identifier and is not needed here.
HRESULT AVIFileOpen(PAVIFILE* file, const char* fileName, uint32_t mode, const void* handler);
// Closes the file; a file being written is finished first (headers, INFO
// list, index). Returns the result of finishing.
HRESULT AVIFileRelease(PAVIFILE file);
HRESULT AVIFileInfo(PAVIFILE file, AVIFILEINFO* info, int32_t size);
// The index-th stream of a type (0: any type).
HRESULT AVIFileGetStream(PAVIFILE file, PAVISTREAM* stream, uint32_t type, int32_t index);
// Extra file data: for ckidLIST the data of the file's INFO list (starting
// with the list type). With data null, *size receives the size.
HRESULT AVIFileReadData(PAVIFILE file, uint32_t ckid, void* data, int32_t* size);
HRESULT AVIFileWriteData(PAVIFILE file, uint32_t ckid, const void* data, int32_t size);
HRESULT AVIFileCreateStream(PAVIFILE file, PAVISTREAM* stream, const AVISTREAMINFO* info);
HRESULT AVIMakeCompressedStream(PAVISTREAM* compressed, PAVISTREAM source,
                                const AVICOMPRESSOPTIONS* options, const void* handler);
HRESULT AVIStreamSetFormat(PAVISTREAM stream, int32_t position, const void* format, int32_t size);
// With format null, *size receives the size.
HRESULT AVIStreamReadFormat(PAVISTREAM stream, int32_t position, void* format, int32_t* size);
HRESULT AVIStreamInfo(PAVISTREAM stream, AVISTREAMINFO* info, int32_t size);
// Samples the stream holds (blocks for sound, frames for video).
int32_t AVIStreamLength(PAVISTREAM stream);
// Bytes of data the stream holds (the chunks' sizes added up); not a call of
// the original layer, but the only way to know a variable-rate sound
// stream's byte rate when its format gives none.
int64_t AVIStreamDataBytes(PAVISTREAM stream);
// Reads raw samples from start; samples AVISTREAMREAD_CONVENIENT reads as
// many whole samples as fit. AVIERR_BUFFERTOOSMALL when not one fits.
HRESULT AVIStreamRead(PAVISTREAM stream, int32_t start, int32_t samples, void* buffer,
                      int32_t bufferSize, int32_t* bytesRead, int32_t* samplesRead);
HRESULT AVIStreamWrite(PAVISTREAM stream, int32_t start, int32_t samples, const void* buffer,
                       int32_t bufferSize, uint32_t flags, int32_t* samplesWritten,
                       int32_t* bytesWritten);
void AVIStreamRelease(PAVISTREAM stream);

// Frame extraction; wanted must be null (the default format: 8 bits with
// palette, 16 (5-5-5), 24 or 32 bits as the stream decodes).
PGETFRAME AVIStreamGetFrameOpen(PAVISTREAM stream, const Gdi::BITMAPINFOHEADER* wanted);
// The packed bitmap (header, palette for 8 bits, bottom-up rows padded to 4
// bytes) of a frame, owned by the extractor until the next call; null when
// the frame cannot be decoded. *bytes receives its size.
const uint8_t* AVIStreamGetFrame(PGETFRAME getFrame, int32_t position, int64_t* bytes);
void AVIStreamGetFrameClose(PGETFRAME getFrame);

// ---- installable compressors ----------------------------------------------

using HIC = struct IcObj*;
using LRESULT = intptr_t;

constexpr LRESULT ICERR_OK = 0;
constexpr LRESULT ICERR_UNSUPPORTED = -1;
constexpr LRESULT ICERR_BADFORMAT = -2;
constexpr LRESULT ICERR_BADPARAM = -6;

constexpr uint32_t ICMODE_QUERY = 4;

constexpr uint32_t ICM_COMPRESS_GET_FORMAT = 0x4004;
constexpr uint32_t ICM_COMPRESS_QUERY = 0x4006;
constexpr uint32_t ICM_GETSTATE = 0x5000;
constexpr uint32_t ICM_SETSTATE = 0x5001;
constexpr uint32_t ICM_CONFIGURE = 0x500A;
constexpr uint32_t ICM_ABOUT = 0x500B;
constexpr uint32_t ICM_GETDEFAULTQUALITY = 0x501E;
constexpr uint32_t ICM_GETDEFAULTKEYFRAMERATE = 0x502A;

constexpr uint32_t VIDCF_QUALITY = 0x0001;
constexpr uint32_t VIDCF_CRUNCH = 0x0002;
constexpr uint32_t VIDCF_TEMPORAL = 0x0004;

struct ICINFO {
  uint32_t fccType = 0;
  uint32_t fccHandler = 0;
  uint32_t dwFlags = 0;
  char szName[16] = {};
  char szDescription[128] = {};
};

// The index-th installed compressor of the type; false past the last.
bool ICInfo(uint32_t type, int32_t index, ICINFO* info);
// Opens a compressor by code (case does not matter, except that the Video 1
// aliases are asked as "msvc"); null when there is none.
HIC ICOpen(uint32_t type, uint32_t handler, uint32_t mode);
LRESULT ICClose(HIC ic);
LRESULT ICGetInfo(HIC ic, ICINFO* info, int32_t size);
// ICM_COMPRESS_GET_FORMAT and ICM_COMPRESS_QUERY take a packed bitmap
// header as p1 and an output header (or 0) as p2; with p2 = 0 GET_FORMAT
// answers the output size. GETDEFAULTQUALITY and GETDEFAULTKEYFRAMERATE
// write a 32-bit value at p1. GETSTATE answers 0 bytes of state.
LRESULT ICSendMessage(HIC ic, uint32_t message, intptr_t p1, intptr_t p2);

}  // namespace AviFile
