/* libqor 2.8.0: the media conversion library's public interface.
 *
 * Every function is a plain C function; none lets an exception or a library
 * error escape. After a call, QorGetLastError tells its outcome:
 * code 0 success, 1000 a library error (its class and number given),
 * 999 an unexpected failure, 1-3 conversion results.
 *
 * Integers are 32-bit, frame rates and times 64-bit reals, handles
 * pointer-sized; strings are zero-terminated 8-bit strings owned by the
 * caller. Output strings are copied without a length: the caller's buffer
 * must hold the whole text and its terminating zero.
 *
 * Threads: a host may call any function from any thread. The library runs
 * one call at a time: a call made while another thread is inside the
 * library waits until that call (a whole QorConvert included) has returned.
 * A callback may call the library again on its own thread. Each thread has
 * its own last-error record: QorGetLastError, QorMakeErrorStr and
 * QorCheckError tell the outcome of the calling thread's own last call.
 * Two calls never wait while a conversion runs on another thread: QorAbort
 * and QorGetStatus given that conversion's handle (any other handle waits).
 * QorGetLastError, QorMakeErrorStr and QorCheckError never wait for another
 * thread's call either (QorCheckError only to show its message box).
 * A callback that waits for another thread which is itself calling the
 * library (or waiting to) never returns: the two threads deadlock. Handles
 * are not bound to the thread that made them, but a host must not free a
 * handle that another thread is still using. */
#ifndef QOR_H
#define QOR_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define QOR_EXTERN extern "C"
#else
#define QOR_EXTERN extern
#endif

#define QOR_VISIBLE __attribute__((visibility("default")))

/* The callee pops its arguments on 32-bit Windows; elsewhere the platform's
 * own C convention applies. */
#if defined(_WIN32) && !defined(_WIN64)
#define QOR_CALL __stdcall
#else
#define QOR_CALL
#endif

#define QOR_API QOR_EXTERN QOR_VISIBLE

#ifdef __cplusplus
#define QOR_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define QOR_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* The library's version; its file is libqor-QOR_VERSION_STRING.so. */
#define QOR_VERSION_MAJOR 2
#define QOR_VERSION_MINOR 8
#define QOR_VERSION_PATCH 0
#define QOR_VERSION_STRING "2.8.0"

/* "Automatic / not given": integer arguments and results. */
enum { K_AUTO = -1357902468 };

/* Call statuses (QorLastError.code) and conversion results. */
enum {
  QOR_STATUS_OK = 0,
  QOR_STATUS_INVALID_OUTPUT = 1, /* no usable output format, or a codec refused */
  QOR_STATUS_ABORTED = 2,
  QOR_STATUS_NO_SOURCE = 3,      /* QorQuickConvert: no usable source */
  QOR_STATUS_UNEXPECTED = 999,   /* an unexpected failure */
  QOR_STATUS_LIBRARY_ERROR = 1000 /* errClass and errNum tell which */
};

/* File formats (fileFmtID). */
enum {
  QOR_FMT_TGA = 1,
  QOR_FMT_PCX = 2,
  QOR_FMT_BMP = 3,
  QOR_FMT_GIF = 4,
  QOR_FMT_FLC = 5,
  QOR_FMT_AVI = 6,
  QOR_FMT_KWB = 7,
  QOR_FMT_JPEG = 8,
  QOR_FMT_PNG = 9,
  QOR_FMT_TIFF = 10,
  QOR_FMT_MPEG = 11,
  QOR_FMT_WAV = 12,
  QOR_FMT_SGI = 13,
  QOR_FMT_RAS = 14,
  QOR_FMT_PNM = 15,
  QOR_FMT_BAY = 16,
  QOR_FMT_XPM = 17,
  QOR_FMT_MPA = 18,
  QOR_FMT_OGG = 19
};

/* The error callback's answers (*action). */
enum {
  QOR_ON_ERROR_STOP_DELETE = 1, /* stop and delete the outputs */
  QOR_ON_ERROR_STOP_KEEP = 2,   /* stop and keep them */
  QOR_ON_ERROR_RETRY = 3,
  QOR_ON_ERROR_DROP_BLOCK = 4   /* drop the rest of the block */
};

/* The kinds of file QorListAdd takes (fileType). */
enum {
  QOR_LIST_READABLE = 0,               /* every readable file */
  QOR_LIST_PICTURES = 8,               /* files with pictures */
  QOR_LIST_SOUND = 16,                 /* files with sound */
  QOR_LIST_BY_EXTENSION = 0x70000000,  /* with another kind: the extension decides */
  QOR_LIST_EVERY_FILE = 2147483647     /* every file, unread */
};

/* Text-sprite style bits (QorTextSetFont). */
enum {
  QOR_TEXT_BOLD = 1,
  QOR_TEXT_ITALIC = 2,
  QOR_TEXT_UNDERLINE = 4,
  QOR_TEXT_STRIKEOUT = 8
};

/* A buffer of this many bytes always holds QorMakeErrorStr's text and its
 * zero (longer texts are cut). */
enum { QOR_ERROR_TEXT_MAX = 8192 };

/* Handles the library allocates and frees. */
typedef void* QorHandle;
/* The kinds of handle, named for what the prototypes take; every one is a
 * QorHandle. The conversion handle (mData) keeps that name. */
typedef QorHandle QorImg;   /* an image */
typedef QorHandle QorSnd;   /* a sound */
typedef QorHandle QorFile;  /* a frame-access file */
typedef QorHandle QorList;  /* a file list */
typedef QorHandle QorText;  /* a text sprite's attributes */

/* 32-bit Boolean: the library answers -1 for true and takes any non-zero
 * value as true. */
typedef int32_t QorBool;

/* Outcome of the last exported call. */
typedef struct QorLastError {
  int32_t code;      /* call status */
  int32_t errClass;  /* class of the library error pair, 0 none */
  int32_t errNum;    /* number of the library error pair, 0 none */
} QorLastError;
QOR_STATIC_ASSERT(sizeof(QorLastError) == 12, "QorLastError is 12 bytes");

/* ---- host callbacks ----------------------------------------------------
 * The first argument is always the conversion handle. They return nothing;
 * what a callback wants to say it says through the exports. */
/* Video or audio source: describe block blockNum with the QorSrc* exports,
 * call QorSrcFinished, or set nothing (the stream is then finished). */
typedef void (QOR_CALL *QorSourceProc)(QorHandle mData, int32_t blockNum);
/* Every frame read, at the output size; draw on it, change it, or empty it
 * (QorImgSkip) to drop the frame. mImg is lent for the call: every image
 * export takes it, QorImgFree refuses it (999), and it is gone after the
 * callback returns. */
typedef void (QOR_CALL *QorVideoFuncProc)(QorHandle mData, QorImg mImg,
                                          int32_t curFrame);
/* Every sound slice read, in the output wave format; emptying it means "not
 * consumed now". mSnd is lent as mImg is: QorSndFree refuses it. curSample
 * (and the progress callback's doneSamples) stop at 2147483647. */
typedef void (QOR_CALL *QorAudioFuncProc)(QorHandle mData, QorSnd mSnd,
                                          int32_t curSample);
/* status 1 at the start, 2 (palette pass) or 3 (writing) after every step,
 * 0 at the end. */
typedef void (QOR_CALL *QorProgressProc)(QorHandle mData, int32_t status,
                                         int32_t doneFrames,
                                         int32_t doneSamples);
/* A source could not be read; path is its file name. *action arrives as 1:
 * 1 stop and delete the outputs, 2 stop and keep them, 3 retry, 4 drop the
 * rest of the block (QOR_ON_ERROR_*), any other value go on. */
typedef void (QOR_CALL *QorErrorProc)(QorHandle mData, const char* path,
                                      int32_t* action);

/* ---- call status and last error ---------------------------------------- */
/* The conversion phase of a handle: 0 idle, 1 preparing, 2 palette pass,
 * 3 writing. Callable from another thread while the conversion runs. */
QOR_API int32_t QOR_CALL QorGetStatus(QorHandle mData);
QOR_API void QOR_CALL QorGetLastError(QorLastError* rec);
/* The text of the record's outcome, with its zero; a buffer of
 * QOR_ERROR_TEXT_MAX bytes always suffices. */
QOR_API void QOR_CALL QorMakeErrorStr(const QorLastError* rec, char* errStr);
QOR_API QorBool QOR_CALL QorCheckError(void);

/* ---- call log, locale and utilities ------------------------------------ */
QOR_API void QOR_CALL QorLogStart(const char* fileName);
QOR_API void QOR_CALL QorLogExtra(QorBool flag);
QOR_API void QOR_CALL QorLogStop(void);
QOR_API void QOR_CALL QorLocaleClear(void);
QOR_API void QOR_CALL QorLocaleSet(const char* text, const char* translation);
QOR_API int32_t QOR_CALL QorMakeFourCC(const char* text);
QOR_API int32_t QOR_CALL QorRGB(int32_t r, int32_t g, int32_t b);
QOR_API void QOR_CALL QorPixelReorder(const void* inData, int32_t inBpp,
                                      int32_t inOrg, void* outData,
                                      int32_t numPixels);

/* ---- conversion handle and file information --------------------------- */
/* What a file or numbered sequence holds. Texts end with a zero inside
 * their arrays (longer texts are cut); Booleans are -1 or 0; fields a
 * reader does not know read 0. The layout is packed: 756 bytes. */
#pragma pack(push, 1)
typedef struct QorFileInfo {
  char fileName[264];         /* for a sequence, the name asked about */
  char filter[128];           /* file-dialog filter text of the format */
  double totalSize;           /* bytes; for a sequence the sum of its files */
  QorBool hasPictures;
  QorBool picturesReadable;
  char videoCompression[128];
  int32_t frameCount;
  double videoDuration;       /* seconds */
  double videoSize;           /* width x height x bytes per pixel x frames */
  double fps;
  int32_t width;
  int32_t height;
  int32_t bytesPerPixel;
  int32_t bitsPerPixel;
  QorBool hasSound;
  QorBool soundReadable;
  char audioCompression[128];
  int32_t sampleFrames;       /* one sample for each channel */
  double audioDuration;       /* seconds */
  double audioSize;           /* bytes */
  double sampleRate;
  int32_t channels;
  int32_t bitsPerSample;
  int32_t blockAlign;
} QorFileInfo;
#pragma pack(pop)
QOR_STATIC_ASSERT(sizeof(QorFileInfo) == 756, "QorFileInfo is 756 bytes");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, fileName) == 0, "fileName");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, filter) == 264, "filter");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, totalSize) == 392, "totalSize");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, hasPictures) == 400, "hasPictures");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, picturesReadable) == 404, "picturesReadable");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, videoCompression) == 408, "videoCompression");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, frameCount) == 536, "frameCount");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, videoDuration) == 540, "videoDuration");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, videoSize) == 548, "videoSize");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, fps) == 556, "fps");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, width) == 564, "width");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, height) == 568, "height");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, bytesPerPixel) == 572, "bytesPerPixel");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, bitsPerPixel) == 576, "bitsPerPixel");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, hasSound) == 580, "hasSound");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, soundReadable) == 584, "soundReadable");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, audioCompression) == 588, "audioCompression");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, sampleFrames) == 716, "sampleFrames");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, audioDuration) == 720, "audioDuration");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, audioSize) == 728, "audioSize");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, sampleRate) == 736, "sampleRate");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, channels) == 744, "channels");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, bitsPerSample) == 748, "bitsPerSample");
QOR_STATIC_ASSERT(offsetof(QorFileInfo, blockAlign) == 752, "blockAlign");

/* Handed to a host's progress function while files are described (a
 * numbered sequence counted, an MPEG stream scanned). Setting stop asks the
 * description to end. */
typedef struct QorInfoProgress {
  const char* name;  /* the file being checked, or an empty text */
  int32_t counted;   /* files counted so far */
  int32_t total;     /* -1: unknown */
  double fraction;   /* -1.0: unknown */
  QorBool final;     /* the last call of a count */
  QorBool stop;      /* set by the host to stop */
  int32_t kind;
  void* data;        /* the progress data the host gave */
} QorInfoProgress;
typedef void (QOR_CALL *QorInfoProgressProc)(QorInfoProgress* rec);

/* A new conversion handle with every default, or nil. */
QOR_API QorHandle QOR_CALL QorAlloc(void);
/* Nil, and a handle that is converting, are left alone. */
QOR_API void QOR_CALL QorFree(QorHandle mData);
/* seqDetect 0: the file alone; 2: numbered sequences whose numbers may
 * carry a minus sign; any other value: numbered sequences. A file that
 * cannot be described leaves *info untouched (status 1000). */
QOR_API void QOR_CALL QorGetFileInfo(const char* filename, int32_t seqDetect,
                                     QorFileInfo* info,
                                     QorInfoProgressProc progress,
                                     void* progressData);

/* ---- output settings and codec information ------------------------------ */
/* What an output format offers for one of its codecs (QorCodecsGetInfo).
 * Rates are per second; Booleans are -1 or 0. 212 bytes. */
typedef struct QorCodecInfo {
  int32_t fileFmtID;
  QorBool codecFlag;       /* TGA, AVI, KWB, PNG, SGI, RAS and PNM */
  int32_t codec;           /* the value to pass to QorSetCodec */
  int32_t codecMin;
  int32_t codecMax;
  char codecName[128];
  QorBool hasQuality;
  int32_t quality, qualityMin, qualityMax;
  QorBool hasBitRate;      /* kilobits */
  int32_t bitRate, bitRateMin, bitRateMax;
  QorBool hasByteRate;     /* kilobytes */
  int32_t byteRate, byteRateMin, byteRateMax;
  QorBool hasKeyFrameRate; /* a key frame every n frames */
  int32_t keyFrameRate, keyFrameRateMin, keyFrameRateMax;
} QorCodecInfo;
QOR_STATIC_ASSERT(sizeof(QorCodecInfo) == 212, "QorCodecInfo is 212 bytes");
QOR_STATIC_ASSERT(offsetof(QorCodecInfo, fileFmtID) == 0, "fileFmtID");
QOR_STATIC_ASSERT(offsetof(QorCodecInfo, codecFlag) == 4, "codecFlag");
QOR_STATIC_ASSERT(offsetof(QorCodecInfo, codec) == 8, "codec");
QOR_STATIC_ASSERT(offsetof(QorCodecInfo, codecMin) == 12, "codecMin");
QOR_STATIC_ASSERT(offsetof(QorCodecInfo, codecMax) == 16, "codecMax");
QOR_STATIC_ASSERT(offsetof(QorCodecInfo, codecName) == 20, "codecName");
QOR_STATIC_ASSERT(offsetof(QorCodecInfo, hasQuality) == 148, "hasQuality");
QOR_STATIC_ASSERT(offsetof(QorCodecInfo, quality) == 152, "quality");
QOR_STATIC_ASSERT(offsetof(QorCodecInfo, qualityMin) == 156, "qualityMin");
QOR_STATIC_ASSERT(offsetof(QorCodecInfo, qualityMax) == 160, "qualityMax");
QOR_STATIC_ASSERT(offsetof(QorCodecInfo, hasBitRate) == 164, "hasBitRate");
QOR_STATIC_ASSERT(offsetof(QorCodecInfo, bitRate) == 168, "bitRate");
QOR_STATIC_ASSERT(offsetof(QorCodecInfo, bitRateMin) == 172, "bitRateMin");
QOR_STATIC_ASSERT(offsetof(QorCodecInfo, bitRateMax) == 176, "bitRateMax");
QOR_STATIC_ASSERT(offsetof(QorCodecInfo, hasByteRate) == 180, "hasByteRate");
QOR_STATIC_ASSERT(offsetof(QorCodecInfo, byteRate) == 184, "byteRate");
QOR_STATIC_ASSERT(offsetof(QorCodecInfo, byteRateMin) == 188, "byteRateMin");
QOR_STATIC_ASSERT(offsetof(QorCodecInfo, byteRateMax) == 192, "byteRateMax");
QOR_STATIC_ASSERT(offsetof(QorCodecInfo, hasKeyFrameRate) == 196, "hasKeyFrameRate");
QOR_STATIC_ASSERT(offsetof(QorCodecInfo, keyFrameRate) == 200, "keyFrameRate");
QOR_STATIC_ASSERT(offsetof(QorCodecInfo, keyFrameRateMin) == 204, "keyFrameRateMin");
QOR_STATIC_ASSERT(offsetof(QorCodecInfo, keyFrameRateMax) == 208, "keyFrameRateMax");

/* Output names; the format follows each name's extension (K_AUTO when it
 * names no writable format). A ".m2v" name selects MPEG-2. */
QOR_API void QOR_CALL QorSetOutputFile(QorHandle mData, const char* vid,
                                       const char* aud);
QOR_API void QOR_CALL QorSetFrameRate(QorHandle mData, double fps);
QOR_API void QOR_CALL QorSetKeepDuration(QorHandle mData, QorBool keepDuration);
/* Each side limited to 1..16000; frames are then resampled to this size.
 * Ignored while the handle is converting, as is QorSetBpp. */
QOR_API void QOR_CALL QorSetResolution(QorHandle mData, int32_t resX,
                                       int32_t resY);
/* 8, 15, 16, 24 or 32; other values are ignored. */
QOR_API void QOR_CALL QorSetBpp(QorHandle mData, int32_t bpp);
/* 0 none, 1 and 2 the two dithering modes of 8-bit output. */
QOR_API void QOR_CALL QorSetDithering(QorHandle mData, int32_t ditheringType);
QOR_API void QOR_CALL QorForceCompatibility(QorHandle mData, QorBool turnOn);
/* PCM output sound; a value that is not positive is refused (status 1000,
 * the setting unchanged). */
QOR_API void QOR_CALL QorSetAudioFormat(QorHandle mData, int32_t sampleRate,
                                        int32_t channels, int32_t bits);
QOR_API void QOR_CALL QorAviClearCustomInfo(QorHandle mData);
/* At most 16 entries; tagID is a four-character chunk identifier. */
QOR_API void QOR_CALL QorAviAddCustomInfo(QorHandle mData, const char* tagID,
                                          const char* value);
/* Number of codecs the format offers (for AVI: those usable at that size
 * and depth, numbered from 1 for QorCodecsGetInfo until the next call). */
QOR_API int32_t QOR_CALL QorCodecsInit(int32_t fileFmtID, int32_t resX,
                                       int32_t resY, int32_t bpp);
QOR_API void QOR_CALL QorCodecsGetInfo(int32_t fileFmtID, QorCodecInfo* info,
                                       int32_t codecNum);
/* The readable format of a name's extension (the file is not read), or
 * K_AUTO. */
QOR_API int32_t QOR_CALL QorGetFileFmtID(const char* filename);
QOR_API void QOR_CALL QorSetCodec(QorHandle mData, int32_t fileFmtID,
                                  int32_t codec);
QOR_API void QOR_CALL QorSetQuality(QorHandle mData, int32_t fileFmtID,
                                    int32_t value);
QOR_API void QOR_CALL QorSetBitRate(QorHandle mData, int32_t fileFmtID,
                                    int32_t kbps);
/* byteRate x 8 kilobits, computed without overflow. */
QOR_API void QOR_CALL QorSetByteRate(QorHandle mData, int32_t fileFmtID,
                                     int32_t byteRate);
QOR_API void QOR_CALL QorSetKeyFrameRate(QorHandle mData, int32_t fileFmtID,
                                         int32_t keyFrameEvery);
/* The codec values a video output of that format, size and depth would be
 * written with; byteRate is K_AUTO where the format has no rate. */
QOR_API void QOR_CALL QorGetVideoFormat(QorHandle mData, int32_t fileFmtID,
                                        int32_t resX, int32_t resY, int32_t bpp,
                                        int32_t* codec, int32_t* quality,
                                        int32_t* byteRate,
                                        int32_t* keyFrameRate);

/* The library's own dialogs need the host's Qt Widgets application; without
 * one they fail with the error pair (4, 2) and return 0. Each returns -1 when
 * the user confirmed. */
/* The output-settings dialog on a copy of the handle's settings, with a
 * preview of the list's files; the copy replaces the settings on OK only.
 * With enableChanges 0 the settings are shown but cannot be changed. */
QOR_API QorBool QOR_CALL QorOutputDlg(QorHandle mData, QorList mList,
                                      const char* title, QorBool enableChanges);
/* The format's option dialog on the handle's options for it; -1 as well
 * when the format has no dialog. */
QOR_API QorBool QOR_CALL QorCodecDlg(QorHandle mData, int32_t fileFmtID,
                                     int32_t resX, int32_t resY, int32_t bpp);
/* Whether the format has an option dialog (the format is stored in the
 * handle's options for it). */
QOR_API QorBool QOR_CALL QorHasCodecDlg(QorHandle mData, int32_t fileFmtID);
/* The configuration dialog of the handle's AVI video codec; 0 when the codec
 * has none or it was cancelled. */
QOR_API QorBool QOR_CALL QorAviCodecConfigureDlg(QorHandle mData);

/* ---- file lists ---------------------------------------------------------- */
/* A list of source files collected from wildcard patterns, with the
 * totals of what they hold. */
QOR_API QorList QOR_CALL QorListAlloc(void);
QOR_API void QOR_CALL QorListFree(QorList mList);
/* fileSpec: one or more wildcard patterns separated by ";" ("*" and "?" match
 * any case); each one's files are added sorted, the patterns in their
 * order. Only regular files are taken. fileType (QOR_LIST_*): 8 files with
 * pictures, 16 files with sound, 0 every readable file, 2147483647 every file
 * unread; with any of the bits 0x70000000 the extension alone decides. Returns the
 * number of names added. */
QOR_API int32_t QOR_CALL QorListAdd(QorList mList, const char* fileSpec,
                                    int32_t fileType,
                                    QorInfoProgressProc progress,
                                    void* progressData);
/* Copies name fileIndex (from 0) with its zero; a buffer of 4096 bytes
 * always suffices (longer names are never taken into a list). An index
 * outside the list copies an empty text and returns 0. */
QOR_API QorBool QOR_CALL QorListGetName(QorList mList, int32_t fileIndex,
                                        char* filename);
QOR_API int32_t QOR_CALL QorListGetFileCount(QorList mList);
QOR_API int32_t QOR_CALL QorListGetFrameCount(QorList mList);
/* The largest picture (by area), and the highest depth within 8..24. */
QOR_API void QOR_CALL QorListGetMaxRes(QorList mList, int32_t* resX,
                                       int32_t* resY, int32_t* bpp);
QOR_API int32_t QOR_CALL QorListGetSampleCount(QorList mList);
/* The richest sound: rate within 8000..44100, 1..2 channels, 8..16 bits. */
QOR_API void QOR_CALL QorListGetAudioFormat(QorList mList,
                                            int32_t* sampleRate,
                                            int32_t* channels, int32_t* bits);

/* ---- remaining time ------------------------------------------------------ */
/* Seconds spent on video and sound so far by the handle's conversion. */
QOR_API double QOR_CALL QorGetElapsedTime(QorHandle mData);
/* Seconds still needed at the rate of the recent progress reports, rounded
 * to 1 s, 5 s, 1 min or 5 min steps by size; a total of 0 leaves that
 * stream out. */
QOR_API double QOR_CALL QorGetRemainingTime(QorHandle mData,
                                            int32_t totalFrames,
                                            int32_t totalSamples);
/* "hh:mm:ss" of the whole seconds in sec, limited to 0..2147483647; a
 * buffer of 16 bytes always suffices. */
QOR_API void QOR_CALL QorMakeTimeStr(double sec, char* timeStr);

/* ---- conversion, callbacks and source blocks ---------------------------- */
/* Runs the conversion the handle describes, asking its callbacks for the
 * sources. Result (QOR_STATUS_*): 0 success, 1 invalid output file, 2 aborted, 999 (also
 * when a conversion is running already), 1000 a library error. A file block
 * no reader can describe is dropped and the next block asked; when every
 * block was dropped and nothing was written, the result is 1000 with (6, 1)
 * "Cannot open file: " and the first dropped name when that file does not
 * exist, or (6, 9) when it exists. Images, sounds, lists and files that a
 * callback makes with the exports are the host's: a conversion that fails
 * leaves them valid, to be freed by the host. */
QOR_API int32_t QOR_CALL QorConvert(QorHandle mData);
/* From a callback, or from another thread while the conversion runs: the
 * conversion stops at its next frame or progress step, keeping what it
 * wrote; QorConvert then returns 2. From another thread it only sets the
 * stop request and returns at once. */
QOR_API void QOR_CALL QorAbort(QorHandle mData);
/* End the sound with the pictures. */
QOR_API void QOR_CALL QorTruncateAudioToVideo(QorHandle mData,
                                              QorBool truncateAudio);
QOR_API void QOR_CALL QorAssignVideoSource(QorHandle mData,
                                           QorSourceProc procedure);
QOR_API void QOR_CALL QorAssignVideoFunc(QorHandle mData,
                                         QorVideoFuncProc procedure);
QOR_API void QOR_CALL QorAssignAudioSource(QorHandle mData,
                                           QorSourceProc procedure);
QOR_API void QOR_CALL QorAssignAudioFunc(QorHandle mData,
                                         QorAudioFuncProc procedure);
QOR_API void QOR_CALL QorAssignProgress(QorHandle mData,
                                        QorProgressProc procedure);
QOR_API void QOR_CALL QorAssignError(QorHandle mData, QorErrorProc procedure);

/* The source exports describe the block of the source callback that is
 * running; called at any other time they change nothing. */
/* A file (or numbered sequence) by name. */
QOR_API void QOR_CALL QorSrcSetFile(QorHandle mData, const char* filename);
/* A copy of an image made by the image exports. */
QOR_API void QOR_CALL QorSrcSetImg(QorHandle mData, QorImg mImg);
/* A copy of a bitmap made by the bitmap exports. */
QOR_API void QOR_CALL QorSrcSetDIB(QorHandle mData, QorHandle hDib);
/* Packed top-down pixels of bpp 8, 15, 16, 24 or 32 (palPtr: 768 bytes
 * B,G,R or NULL); without pixels an image of that size whose pixels are all
 * 0: black, or at 8 bits the first colour of the palette given. */
QOR_API void QOR_CALL QorSrcSetPixels(QorHandle mData, const void* pixPtr,
                                      const void* palPtr, int32_t resX,
                                      int32_t resY, int32_t bpp);
/* numOfSamples sample frames of PCM; without samples a silence of
 * numOfSamples / sampleRate seconds (one second when sampleRate <= 0). */
QOR_API void QOR_CALL QorSrcSetSamples(QorHandle mData, const void* sndPtr,
                                       int32_t numOfSamples,
                                       int32_t sampleRate, int32_t channels,
                                       int32_t bits);
QOR_API void QOR_CALL QorSrcSetFrameRate(QorHandle mData, double fps);
/* 1 forward, -1 backward. */
QOR_API void QOR_CALL QorSrcSetDirection(QorHandle mData, int32_t direction);
/* First frame or sample, counted from 0. */
QOR_API void QOR_CALL QorSrcSetStart(QorHandle mData, int32_t quant);
QOR_API void QOR_CALL QorSrcSetLen(QorHandle mData, int32_t quants);
QOR_API void QOR_CALL QorSrcSetStartTime(QorHandle mData, double sec);
QOR_API void QOR_CALL QorSrcSetLenTime(QorHandle mData, double sec);
/* No block now: the same block number is asked again later. */
QOR_API void QOR_CALL QorSrcSkip(QorHandle mData);
/* No more blocks in this stream. */
QOR_API void QOR_CALL QorSrcFinished(QorHandle mData);

/* Converts the files that the patterns vid and aud name (as
 * QorListAdd takes them) into out in one call. resX, resY and fps may be
 * K_AUTO (fps as a real). Result as QorConvert's, or 3 when no usable
 * source exists or one became unreadable. */
QOR_API int32_t QOR_CALL QorQuickConvert(const char* out, const char* vid,
                                         const char* aud, int32_t resX,
                                         int32_t resY, double fps);

/* ---- frame-access files -------------------------------------------------- */
/* A file read or written frame by frame and sample by sample; the image and
 * sound exports (QorImgLoad, QorImgSave, QorSndLoad, QorSndSave) go through
 * the handle. */
/* Describes the file as QorGetFileInfo does into *info and opens it for
 * reading. Nil when it cannot be described (status 1000), and when it has
 * neither readable pictures nor readable sound (status 0). */
QOR_API QorFile QOR_CALL QorFileOpen(const char* filename, int32_t seqDetect,
                                     QorFileInfo* info,
                                     QorInfoProgressProc progress,
                                     void* progressData);
/* A new file to write, in the format of the name's extension; until the
 * first frame or sound it takes 320 x 240, 24 bits, 30 frames per second
 * and 44100 Hz, 2 channels, 16 bits, changed by the two calls below. Nil on
 * failure. */
QOR_API QorFile QOR_CALL QorFileCreate(const char* filename);
/* Before the first write only; K_AUTO (as a real for frameRate) keeps a
 * value. byteRate is in kilobytes per second. */
QOR_API void QOR_CALL QorFileSetVideoParams(QorFile mFile, int32_t resX,
                                            int32_t resY, int32_t bpp,
                                            double frameRate, int32_t codec,
                                            int32_t quality, int32_t byteRate);
/* Before the first write only; K_AUTO keeps a value. A rate, channel count
 * or depth that is not positive is refused (status 1000). */
QOR_API void QOR_CALL QorFileSetAudioParams(QorFile mFile, int32_t sampleRate,
                                            int32_t channels, int32_t bits,
                                            int32_t byteRate);
/* Finishes a written file and frees the handle. A created file that has
 * received nothing yet is left open and stays valid. */
QOR_API void QOR_CALL QorFileClose(QorFile mFile);

/* ---- images --------------------------------------------------------------- */
/* An image handle (mImg) holds one picture: rows top-down and packed; 8 bits
 * a palette index, 15 bits 5-5-5, 16 bits 5-6-5, 24 bits B,G,R, 32 bits
 * B,G,R,x. Its palette is 256 entries of B,G,R. Colours passed in are Windows
 * colour values (red in the low byte). */

/* A drawing surface the host owns, passed where a device context is drawn
 * into: 32-bit pixels stored B,G,R and a fourth byte the library leaves
 * alone, rows top-down bytesPerRow bytes apart (at least width x 4). */
typedef struct QorSurface {
  uint8_t* pixels;
  int32_t width;
  int32_t height;
  int32_t bytesPerRow;
} QorSurface;

/* Image and sound handles are checked: a freed, foreign or mistaken handle
 * (another kind of handle) makes an export fail with 999 and touch nothing;
 * a freed handle may be live again once a new one got its address. */
/* A new empty image, or null on failure (the error in the last-error
 * record). */
QOR_API QorImg QOR_CALL QorImgAlloc(void);
QOR_API void QOR_CALL QorImgFree(QorImg mImg);
/* Through a frame-access file: QorImgLoad reads frame frameNum + 1 (frames
 * counted from 0 here); a nil handle reads nothing and returns 0. */
QOR_API int32_t QOR_CALL QorImgLoad(QorImg mImg, QorFile mFile,
                                    int32_t frameNum);
QOR_API int32_t QOR_CALL QorImgLoadAlpha(QorImg mImg, QorFile mFile,
                                         int32_t frameNum);
/* Appends a frame, converting mImg in place to the file's depth. */
QOR_API int32_t QOR_CALL QorImgSave(QorImg mImg, QorFile mFile);
/* Frames counted from 1; 0 and negative numbers read the first, numbers
 * beyond the count the last. */
QOR_API int32_t QOR_CALL QorImgLoadSingle(QorImg mImg, const char* fileName,
                                          int32_t frameNum);
/* codec K_AUTO: the format's default; for JPEG the quality, else the codec. */
QOR_API int32_t QOR_CALL QorImgSaveSingle(QorImg mImg, const char* fileName,
                                          int32_t codec);
QOR_API void QOR_CALL QorImgCopy(QorImg mImgDest, QorImg mImgSrc);
/* K_AUTO keeps a value; pixel contents are undefined afterwards. */
QOR_API void QOR_CALL QorImgRedim(QorImg mImg, int32_t resX, int32_t resY,
                                  int32_t bpp);
/* color in the image's own depth: 8 bits an index, 15/16 bits the pixel
 * word, 24 bits a Windows colour value, 32 bits the pixel's four bytes. */
QOR_API void QOR_CALL QorImgClear(QorImg mImg, int32_t color);
QOR_API void QOR_CALL QorClearCanvas(QorSurface* dc, int32_t x, int32_t y,
                                     int32_t w, int32_t h, int32_t color);
QOR_API void QOR_CALL QorImgShow(QorImg mImg, QorSurface* dc, int32_t x,
                                 int32_t y);
/* Centred in the w by h box; shrunk to fit keeping its proportions, and
 * enlarged to fit only when enlarge is true. */
QOR_API void QOR_CALL QorImgShowInRect(QorImg mImg, QorSurface* dc,
                                       int32_t x, int32_t y, int32_t w,
                                       int32_t h, QorBool enlarge);
/* pixPtr and palPtr receive the image's own blocks, valid until the image
 * is changed or freed. */
QOR_API void QOR_CALL QorImgGetInfo(QorImg mImg, int32_t* resX,
                                    int32_t* resY, int32_t* bpp,
                                    int32_t* totalBytes, void** pixPtr,
                                    void** palPtr);
QOR_API void QOR_CALL QorImgGetPixels(QorImg mImg, void* pixPtr,
                                      void* palPtr);
/* pixPtr nil: the pixels stay undefined; palPtr nil at 8 bits: grey ramp. */
QOR_API void QOR_CALL QorImgSetPixels(QorImg mImg, int32_t resX,
                                      int32_t resY, int32_t bpp,
                                      const void* pixPtr, const void* palPtr);
/* -1 in all three outside the image. */
QOR_API void QOR_CALL QorImgGetPixelRGB(QorImg mImg, int32_t x, int32_t y,
                                        int32_t* r, int32_t* g, int32_t* b);
/* A 24-bit DIB section. The handle is the address of a packed DIB the host
 * may read: the 40-byte header, then the rows bottom-up, each padded to a
 * multiple of 4 bytes. */
QOR_API QorHandle QOR_CALL QorImgToDIB(QorImg mImg);
QOR_API int32_t QOR_CALL QorReleaseDIB(QorHandle DIBhandle);
/* A packed DIB in a global block whose handle is its address: the 40-byte
 * header, for 8 bits 256 RGBQUADs, then the rows bottom-up, each padded to a
 * multiple of 4 bytes; 15-bit images are written as 16-bit (5-5-5) DIBs. */
QOR_API QorHandle QOR_CALL QorImgToDIBWin3(QorImg mImg);
QOR_API QorBool QOR_CALL QorReleaseDIBWin3(QorHandle DIBhandle);
QOR_API void QOR_CALL QorDIBToImg(QorImg mImg, QorHandle DIBhandle);
/* colorType 0..3 the colours of a 2 x 2 cell (B G/G R, G R/B G, R G/G B,
 * G B/R G), 4 monochrome; pixelOrder non-zero: the samples are stored in
 * plain rows, 0: by 2 x 2 cells. Sizes are even. */
QOR_API int32_t QOR_CALL QorBayerLoad(QorImg mImg, const char* filename,
                                      int32_t resX, int32_t resY,
                                      int32_t colorType, int32_t pixelOrder);
QOR_API void QOR_CALL QorBayerToImg(QorImg mImg, const void* pixPtr,
                                    int32_t resX, int32_t resY,
                                    int32_t colorType, int32_t pixelOrder);

/* ---- image processing ----------------------------------------------------- */
/* Each applies one effect or geometric operation to an image in place; the
 * handle stays the same, its size, depth and palette may change (many
 * operations leave 24 bits). A failure shows in QorGetLastError. */
/* Tone curves per channel: gamma factors, brightness and contrast in
 * percent (-100..100). */
QOR_API void QOR_CALL QorImgGamma(QorImg mImg, double R, double G, double B);
QOR_API void QOR_CALL QorImgBrightness(QorImg mImg, int32_t R, int32_t G,
                                       int32_t B);
QOR_API void QOR_CALL QorImgContrast(QorImg mImg, int32_t R, int32_t G,
                                     int32_t B);
/* -100..100. */
QOR_API void QOR_CALL QorImgSaturation(QorImg mImg, int32_t pct);
/* The reference colour (0..255 per channel) becomes neutral. */
QOR_API void QOR_CALL QorImgWhiteBalance(QorImg mImg, int32_t R, int32_t G,
                                         int32_t B);
QOR_API void QOR_CALL QorImgSoften(QorImg mImg);
QOR_API void QOR_CALL QorImgSharpen(QorImg mImg);
QOR_API void QOR_CALL QorImgFindEdges(QorImg mImg);
QOR_API void QOR_CALL QorImgEdgeEnhance(QorImg mImg);
/* Nearest-pixel scaling; nothing happens at the image's own size. */
QOR_API void QOR_CALL QorImgResize(QorImg mImg, int32_t resX, int32_t resY);
/* Smooth scaling; nothing happens at the image's own size. */
QOR_API void QOR_CALL QorImgResample(QorImg mImg, int32_t resX,
                                     int32_t resY);
/* Borders of 0..16000 pixels in the colour color (red in the low byte); any
 * border leaves 24 bits, none leaves the image alone. */
QOR_API void QOR_CALL QorImgBorder(QorImg mImg, int32_t left, int32_t top,
                                   int32_t right, int32_t bottom,
                                   int32_t color);
/* Three tables of 256 bytes; a null table does nothing. */
QOR_API void QOR_CALL QorImgRemap(QorImg mImg, const uint8_t* redP,
                                  const uint8_t* greenP, const uint8_t* blueP);
QOR_API void QOR_CALL QorImgCrop(QorImg mImg, int32_t newX, int32_t newY,
                                 int32_t resX, int32_t resY);
/* 1 a quarter turn clockwise, 2 a half turn, 3 a quarter turn
 * anticlockwise. */
QOR_API void QOR_CALL QorImgRotate(QorImg mImg, int32_t direction);
QOR_API void QOR_CALL QorImgFlipVertical(QorImg mImg);
QOR_API void QOR_CALL QorImgFlipHorizontal(QorImg mImg);
/* Pastes mImgSrc into mImgDest with its top-left corner at (destX, destY). */
QOR_API void QOR_CALL QorImgInsert(QorImg mImgDest, QorImg mImgSrc,
                                   int32_t destX, int32_t destY);
/* A running average of frames of one size: clear, add frames, get it. */
QOR_API void QOR_CALL QorImgAverageClear(void);
QOR_API void QOR_CALL QorImgAverageAdd(QorImg mImg);
QOR_API void QOR_CALL QorImgAverageGet(QorImg mImg);
/* Rebuilds one field. keepEven counts rows from 1: true keeps rows 1, 3, 5
 * (counted from 0), false rows 0, 2, 4; a true interpolate averages the
 * kept rows around each rebuilt one, false repeats the row above. */
QOR_API void QOR_CALL QorImgDeinterlace(QorImg mImg, QorBool keepEven,
                                        QorBool interpolate);
/* Maps the image onto the first numColors entries (1..256; more are taken
 * as 256) of a 768-byte palette of blue, green, red triples, leaving an
 * 8-bit image with that palette. */
QOR_API void QOR_CALL QorImgRemapToCustomPalette(QorImg mImg,
                                                 const uint8_t* palPtr,
                                                 int32_t numColors);
/* Frees the pixels: the image becomes empty (an empty frame handed back
 * from a frame callback drops that frame). */
QOR_API void QOR_CALL QorImgSkip(QorImg mImg);

/* ---- text sprites --------------------------------------------------------- */
/* A text handle (mText) holds font, colours and effect. Fresh: "Arial" 16,
 * black text on a transparent background, no effect. */
QOR_API QorText QOR_CALL QorTextAlloc(void);
QOR_API void QOR_CALL QorTextFree(QorText mText);
/* style bits (QOR_TEXT_*): 1 bold, 2 italic, 4 underline, 8 strikeout. */
QOR_API void QOR_CALL QorTextSetFont(QorText mText, const char* fontName,
                                     int32_t height, int32_t style);
/* transp non-zero: the text is pasted without its background. */
QOR_API void QOR_CALL QorTextSetColor(QorText mText, int32_t foreColor,
                                      int32_t shadowColor, int32_t backColor,
                                      QorBool transp);
/* shadowMode 0 none, 1 drop shadow by the offsets, 2 border of that
 * thickness; another mode keeps the effect but still sets the offsets. */
QOR_API void QOR_CALL QorTextShadow(QorText mText, int32_t shadowMode,
                                    int32_t Xoffset, int32_t Yoffset);
QOR_API void QOR_CALL QorTextGetExtents(QorText mText, const char* textStr,
                                        int32_t* resX, int32_t* resY);
/* The image becomes 24-bit when it has another depth. */
QOR_API void QOR_CALL QorTextOut(QorImg mImg, QorText mText, int32_t x,
                                 int32_t y, const char* textStr);

/* ---- sound ---------------------------------------------------------------- */
/* Counts are sample frames (one sample for each channel); bytes = frames x
 * channels x bytes per sample. */
/* A new empty sound, or null on failure (the error in the last-error
 * record). */
QOR_API QorSnd QOR_CALL QorSndAlloc(void);
QOR_API void QOR_CALL QorSndFree(QorSnd mSnd);
/* Reads numSamples frames from startSample of a file opened with
 * QorFileOpen, in the file's delivered PCM format; fewer at the end.
 * Returns the call status (a null handle reads nothing and returns 0). */
QOR_API int32_t QOR_CALL QorSndLoad(QorSnd mSnd, QorFile mFile,
                                    int32_t startSample, int32_t numSamples);
/* Appends the sound to a file made with QorFileCreate, converted to the
 * file's sound format. Returns the call status (a null handle writes
 * nothing and returns 0). */
QOR_API int32_t QOR_CALL QorSndSave(QorSnd mSnd, QorFile mFile);
QOR_API void QOR_CALL QorSndCopy(QorSnd mSndDest, QorSnd mSndSrc);
/* Converts the sound in place to PCM of the given rate, channels, bits. */
QOR_API void QOR_CALL QorSndResample(QorSnd mSnd, int32_t sampleRate,
                                     int32_t channels, int32_t bits);
/* totalBytes is the size of the sound's sample block; sndPtr receives its
 * address, valid until the sound is changed or freed. */
QOR_API void QOR_CALL QorSndGetInfo(QorSnd mSnd, int32_t* sampleRate,
                                    int32_t* channels, int32_t* bits,
                                    int32_t* totalBytes, void** sndPtr);
/* Copies frames x block alignment bytes; the buffer must hold them. */
QOR_API void QOR_CALL QorSndGetSamples(QorSnd mSnd, void* sndPtr);
/* Makes the sound numSamples frames of PCM in the given format, copying
 * numSamples x channels x ((bits + 7) / 8) bytes from sndPtr. */
QOR_API void QOR_CALL QorSndSetSamples(QorSnd mSnd, int32_t numSamples,
                                       int32_t sampleRate, int32_t channels,
                                       int32_t bits, const void* sndPtr);

/* ---- format services ------------------------------------------------------ */
/* The bytes of one tag of a TIFF file's first directory, at most
 * bufferSize of them; a null bufferPtr asks for the count only. */
QOR_API int32_t QOR_CALL QorTiffGetTag(const char* filename, int32_t tagID,
                                       void* bufferPtr, int32_t bufferSize);
/* The 16-bit grey values that map onto 0 and 255 when 16-bit grey TIFF
 * images are read as 8 bits (K_AUTO: each file's own lowest and highest). */
QOR_API void QOR_CALL QorTiffSet16to8bitGrayRange(int32_t minValue,
                                                  int32_t maxValue);
/* Copies at most bufferSize bytes of a Bayer raw file's header; returns the
 * bytes copied. */
QOR_API int32_t QOR_CALL QorBayerGetHdr(const char* filename, void* bufferPtr,
                                        int32_t bufferSize);
/* The information text stored under the four-character tagID ("INAM") of an
 * AVI file. Returns the text's full length; when strPtr is not null, copies
 * at most strSize characters and a terminating zero (strSize counts the
 * characters without the zero: the buffer holds strSize + 1 bytes). */
QOR_API int32_t QOR_CALL QorAviGetCustomInfo(const char* filename,
                                             const char* tagID, char* strPtr,
                                             int32_t strSize);
/* Joins an MPEG video stream and an audio stream into one system stream of
 * the given mode, keeping the stream files. Returns 0 on any failure; it
 * does not set the last-error record. */
QOR_API int32_t QOR_CALL QorMpgMultiplex(const char* output,
                                         const char* firstStream,
                                         const char* secondStream,
                                         int32_t mode);

#endif /* QOR_H */
