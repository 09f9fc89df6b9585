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

/* ---- output settings and codec information ------------------------------ */

/* ---- file lists ---------------------------------------------------------- */

/* ---- remaining time ------------------------------------------------------ */

/* ---- conversion, callbacks and source blocks ---------------------------- */

/* ---- frame-access files -------------------------------------------------- */

/* ---- images --------------------------------------------------------------- */

/* ---- image processing ----------------------------------------------------- */
/* Each applies one effect or geometric operation to an image in place; the
 * handle stays the same, its size, depth and palette may change (many
 * operations leave 24 bits). A failure shows in QorGetLastError. */
/* Tone curves per channel: gamma factors, brightness and contrast in
 * percent (-100..100). */
QOR_API void QOR_CALL QorImgGamma(QorHandle mImg, double R, double G, double B);
QOR_API void QOR_CALL QorImgBrightness(QorHandle mImg, int32_t R, int32_t G,
                                       int32_t B);
QOR_API void QOR_CALL QorImgContrast(QorHandle mImg, int32_t R, int32_t G,
                                     int32_t B);
/* -100..100. */
QOR_API void QOR_CALL QorImgSaturation(QorHandle mImg, int32_t pct);
/* The reference colour (0..255 per channel) becomes neutral. */
QOR_API void QOR_CALL QorImgWhiteBalance(QorHandle mImg, int32_t R, int32_t G,
                                         int32_t B);
QOR_API void QOR_CALL QorImgSoften(QorHandle mImg);
QOR_API void QOR_CALL QorImgSharpen(QorHandle mImg);
QOR_API void QOR_CALL QorImgFindEdges(QorHandle mImg);
QOR_API void QOR_CALL QorImgEdgeEnhance(QorHandle mImg);
/* Nearest-pixel scaling; nothing happens at the image's own size. */
QOR_API void QOR_CALL QorImgResize(QorHandle mImg, int32_t resX, int32_t resY);
/* Smooth scaling; nothing happens at the image's own size. */
QOR_API void QOR_CALL QorImgResample(QorHandle mImg, int32_t resX,
                                     int32_t resY);
/* Borders of 0..16000 pixels in the colour color (red in the low byte); any
 * border leaves 24 bits, none leaves the image alone. */
QOR_API void QOR_CALL QorImgBorder(QorHandle mImg, int32_t left, int32_t top,
                                   int32_t right, int32_t bottom,
                                   int32_t color);
/* Three tables of 256 bytes; a null table does nothing. */
QOR_API void QOR_CALL QorImgRemap(QorHandle mImg, const uint8_t* redP,
                                  const uint8_t* greenP, const uint8_t* blueP);
QOR_API void QOR_CALL QorImgCrop(QorHandle mImg, int32_t newX, int32_t newY,
                                 int32_t resX, int32_t resY);
/* 1 a quarter turn clockwise, 2 a half turn, 3 a quarter turn
 * anticlockwise. */
QOR_API void QOR_CALL QorImgRotate(QorHandle mImg, int32_t direction);
QOR_API void QOR_CALL QorImgFlipVertical(QorHandle mImg);
QOR_API void QOR_CALL QorImgFlipHorizontal(QorHandle mImg);
/* Pastes mImgSrc into mImgDest with its top-left corner at (destX, destY). */
QOR_API void QOR_CALL QorImgInsert(QorHandle mImgDest, QorHandle mImgSrc,
                                   int32_t destX, int32_t destY);
/* A running average of frames of one size: clear, add frames, get it. */
QOR_API void QOR_CALL QorImgAverageClear(void);
QOR_API void QOR_CALL QorImgAverageAdd(QorHandle mImg);
QOR_API void QOR_CALL QorImgAverageGet(QorHandle mImg);
/* Rebuilds one field. keepEven counts rows from 1: true keeps rows 1, 3, 5
 * (counted from 0), false rows 0, 2, 4; a true interpolate averages the
 * kept rows around each rebuilt one, false repeats the row above. */
QOR_API void QOR_CALL QorImgDeinterlace(QorHandle mImg, QorBool keepEven,
                                        QorBool interpolate);
/* Maps the image onto the first numColors entries (1..256; more are taken
 * as 256) of a 768-byte palette of blue, green, red triples, leaving an
 * 8-bit image with that palette. */
QOR_API void QOR_CALL QorImgRemapToCustomPalette(QorHandle mImg,
                                                 const uint8_t* palPtr,
                                                 int32_t numColors);
/* Frees the pixels: the image becomes empty (an empty frame handed back
 * from a frame callback drops that frame). */
QOR_API void QOR_CALL QorImgSkip(QorHandle mImg);

/* ---- text sprites --------------------------------------------------------- */

/* ---- sound ---------------------------------------------------------------- */
/* Counts are sample frames (one sample for each channel); bytes = frames x
 * channels x bytes per sample. */
/* A new empty sound, or null on failure. */
QOR_API QorHandle QOR_CALL QorSndAlloc(void);
QOR_API void QOR_CALL QorSndFree(QorHandle mSnd);
/* Reads numSamples frames from startSample of a file opened with
 * QorFileOpen, in the file's delivered PCM format; fewer at the end.
 * Returns the call status (a null handle reads nothing and returns 0). */
QOR_API int32_t QOR_CALL QorSndLoad(QorHandle mSnd, QorHandle mFile,
                                    int32_t startSample, int32_t numSamples);
/* Appends the sound to a file made with QorFileCreate, converted to the
 * file's sound format. Returns the call status (a null handle writes
 * nothing and returns 0). */
QOR_API int32_t QOR_CALL QorSndSave(QorHandle mSnd, QorHandle mFile);
QOR_API void QOR_CALL QorSndCopy(QorHandle mSndDest, QorHandle mSndSrc);
/* Converts the sound in place to PCM of the given rate, channels, bits. */
QOR_API void QOR_CALL QorSndResample(QorHandle mSnd, int32_t sampleRate,
                                     int32_t channels, int32_t bits);
/* totalBytes is the size of the sound's sample block; sndPtr receives its
 * address, valid until the sound is changed or freed. */
QOR_API void QOR_CALL QorSndGetInfo(QorHandle mSnd, int32_t* sampleRate,
                                    int32_t* channels, int32_t* bits,
                                    int32_t* totalBytes, void** sndPtr);
/* Copies frames x block alignment bytes; the buffer must hold them. */
QOR_API void QOR_CALL QorSndGetSamples(QorHandle mSnd, void* sndPtr);
/* Makes the sound numSamples frames of PCM in the given format, copying
 * numSamples x channels x ((bits + 7) / 8) bytes from sndPtr. */
QOR_API void QOR_CALL QorSndSetSamples(QorHandle mSnd, int32_t numSamples,
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
