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

/* ---- text sprites --------------------------------------------------------- */

/* ---- sound ---------------------------------------------------------------- */

/* ---- format services ------------------------------------------------------ */

#endif /* QOR_H */
