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
 * must hold the whole text and its terminating zero. */
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

/* "Automatic / not given": integer arguments and results. */
enum { K_AUTO = -1357902468 };

/* Handles the library allocates and frees. */
typedef void* QorHandle;

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
 * to drop the frame. */
typedef void (QOR_CALL *QorVideoFuncProc)(QorHandle mData, QorHandle mImg,
                                          int32_t curFrame);
/* Every sound slice read, in the output wave format; emptying it means "not
 * consumed now". */
typedef void (QOR_CALL *QorAudioFuncProc)(QorHandle mData, QorHandle mSnd,
                                          int32_t curSample);
/* status 1 at the start, 2 (palette pass) or 3 (writing) after every step,
 * 0 at the end. */
typedef void (QOR_CALL *QorProgressProc)(QorHandle mData, int32_t status,
                                         int32_t doneFrames,
                                         int32_t doneSamples);
/* A source could not be read; path is its file name. *action arrives as 1:
 * 1 stop and delete the outputs, 2 stop and keep them, 3 retry, 4 drop the
 * rest of the block, any other value go on. */
typedef void (QOR_CALL *QorErrorProc)(QorHandle mData, const char* path,
                                      int32_t* action);

/* ---- call status and last error ---------------------------------------- */
QOR_API int32_t QOR_CALL QorGetStatus(QorHandle mData);
QOR_API void QOR_CALL QorGetLastError(QorLastError* rec);
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
QOR_API QorBool QOR_CALL QorOutputDlg(QorHandle mData, QorHandle mList,
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
/* A list of source files collected from wildcard specifications, with the
 * totals of what they hold. */
QOR_API QorHandle QOR_CALL QorListAlloc(void);
QOR_API void QOR_CALL QorListFree(QorHandle mList);
/* fileSpec: one or more specifications separated by ";" ("*" and "?" match
 * any case); each one's files are added sorted, the specifications in their
 * order. Only regular files are taken. fileType: 8 files with pictures, 16
 * files with sound, 0 every readable file, 2147483647 every file unread;
 * with any of the bits 0x70000000 the extension alone decides. Returns the
 * number of names added. */
QOR_API int32_t QOR_CALL QorListAdd(QorHandle mList, const char* fileSpec,
                                    int32_t fileType,
                                    QorInfoProgressProc progress,
                                    void* progressData);
/* Copies name fileIndex (from 0) with its zero; a buffer of 4096 bytes
 * always suffices (longer names are never taken into a list). An index
 * outside the list copies an empty text and returns 0. */
QOR_API QorBool QOR_CALL QorListGetName(QorHandle mList, int32_t fileIndex,
                                        char* filename);
QOR_API int32_t QOR_CALL QorListGetFileCount(QorHandle mList);
QOR_API int32_t QOR_CALL QorListGetFrameCount(QorHandle mList);
/* The largest picture (by area), and the highest depth within 8..24. */
QOR_API void QOR_CALL QorListGetMaxRes(QorHandle mList, int32_t* resX,
                                       int32_t* resY, int32_t* bpp);
QOR_API int32_t QOR_CALL QorListGetSampleCount(QorHandle mList);
/* The richest sound: rate within 8000..44100, 1..2 channels, 8..16 bits. */
QOR_API void QOR_CALL QorListGetAudioFormat(QorHandle mList,
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
 * sources. Result: 0 success, 1 invalid output file, 2 aborted, 999 (also
 * when a conversion is running already), 1000 a library error. */
QOR_API int32_t QOR_CALL QorConvert(QorHandle mData);
/* From a callback: the conversion stops at its next step, keeping what it
 * wrote; QorConvert then returns 2. */
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
QOR_API void QOR_CALL QorSrcSetImg(QorHandle mData, QorHandle mImg);
/* A copy of a bitmap made by the bitmap exports. */
QOR_API void QOR_CALL QorSrcSetDIB(QorHandle mData, QorHandle hDib);
/* Packed top-down pixels of bpp 8, 15, 16, 24 or 32 (palPtr: 768 bytes
 * B,G,R or NULL); without pixels a black image of that size. */
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

/* Converts the files that the specifications vid and aud name (as
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
QOR_API QorHandle QOR_CALL QorFileOpen(const char* filename, int32_t seqDetect,
                                       QorFileInfo* info,
                                       QorInfoProgressProc progress,
                                       void* progressData);
/* A new file to write, in the format of the name's extension; until the
 * first frame or sound it takes 320 x 240, 24 bits, 30 frames per second
 * and 44100 Hz, 2 channels, 16 bits, changed by the two calls below. Nil on
 * failure. */
QOR_API QorHandle QOR_CALL QorFileCreate(const char* filename);
/* Before the first write only; K_AUTO (as a real for frameRate) keeps a
 * value. byteRate is in kilobytes per second. */
QOR_API void QOR_CALL QorFileSetVideoParams(QorHandle mFile, int32_t resX,
                                            int32_t resY, int32_t bpp,
                                            double frameRate, int32_t codec,
                                            int32_t quality, int32_t byteRate);
/* Before the first write only; K_AUTO keeps a value. A rate, channel count
 * or depth that is not positive is refused (status 1000). */
QOR_API void QOR_CALL QorFileSetAudioParams(QorHandle mFile, int32_t sampleRate,
                                            int32_t channels, int32_t bits,
                                            int32_t byteRate);
/* Finishes a written file and frees the handle. A created file that has
 * received nothing yet is left open and stays valid. */
QOR_API void QOR_CALL QorFileClose(QorHandle mFile);

/* ---- images --------------------------------------------------------------- */

/* ---- image processing ----------------------------------------------------- */

/* ---- text sprites --------------------------------------------------------- */

/* ---- sound ---------------------------------------------------------------- */

/* ---- format services ------------------------------------------------------ */

#endif /* QOR_H */
