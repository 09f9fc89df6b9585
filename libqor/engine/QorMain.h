// The exported interface's unit. The exports themselves are declared in the
// public header qor.h; what the exports share inside the library is here.
#pragma once

#include <string>
#include <vector>

#include "engine/Common.h"
#include "engine/ConFormOut.h"
#include "engine/ConFormSave.h"
#include "formats/ConForm.h"
#include "media/ImgBasic.h"
#include "media/SndBasic.h"
#include "qor.h"

namespace QorMain {

// The unit's start and stop at library load and unload.
void QorMainInit();
void QorMainDone();

// ---- frame-access files ------------------------------------------------------
// A file opened for reading frame by frame, or created and written frame by
// frame, held by the host as a handle. The image and sound exports read and
// write through it.
struct QorFile {
  // Opened files, and created files once their output is prepared.
  bool mode = false;
  std::string name;               // created files
  ConForm::UniFile source;        // an opened file
  ConForm::UniOutput output;      // a created file
  ImgBasic::Qimg image;           // QorImgLoad reads into it
  int32_t videoFormat = 0;
  ConForm::FFSaveRec videoSave;
  int32_t width = 0, height = 0, bpp = 0;
  double frameRate = 0.0;
  int32_t audioFormat = 0;
  ConForm::FFSaveRec audioSave;
  ConForm::WaveFormat wave{};
  bool created = false;  // QorFileCreate made it (else QorFileOpen)
};

// Prepares a created file's output before its first frame or sound; does
// nothing for nil or a prepared file.
void _QorFileCheckCreate(QorFile* file);
// The record behind a host's frame-access handle; nil, and a pointer that is
// not a live record of QorFileOpen or QorFileCreate, end the export as an
// unexpected failure (999).
QorFile* _QorFileOf(QorHandle mFile);
// At library stop: releases every frame-access record still held (a created
// file that received nothing cannot be closed by its host).
void _QorFilesRelease();

// ---- conversion handle and file information ------------------------------
// The inner work of QorAlloc and QorFree, for exports that need a handle of
// their own: a record with every default (nil on failure, the error
// pending); nil and a converting record are not freed.
Common::QorRec* _QorAlloc();
void _QorFree(Common::QorRec* rec);
// The record behind a host's handle; nil, and a pointer that is not a live
// record from QorAlloc, end the export as an unexpected failure (999).
Common::QorRec* _QorRecOf(QorHandle mData);
// How far a description looks for a numbered sequence: 0 the file alone,
// 2 sequences whose numbers may carry a minus sign, other values sequences.
void SeqDetectLimits(int32_t seqDetect, int32_t* maxFiles, bool* minusAllowed);
// The host's record from a description: zeroed, then filled; texts are cut
// to their arrays with the zero inside.
void CopyFileInfoOut(const ConForm::UniInfoRec& info, QorFileInfo* out);
// Describes a file or numbered sequence for a host (QorGetFileInfo,
// QorFileOpen), its progress function seeing QorInfoProgress records. A
// file that cannot be described raises the recognition's failure as a
// library error.
void _QorDescribeFile(const std::string& name, int32_t seqDetect,
                      QorInfoProgressProc progress, void* progressData,
                      ConForm::UniInfoRec* info);
// The same without raising: false when the file cannot be described (the
// format layer's warning then stands).
bool _QorDescribeQuietly(const std::string& name, int32_t seqDetect,
                         QorInfoProgressProc progress, void* progressData,
                         ConForm::UniInfoRec* info);

// ---- shared source buffers ------------------------------------------------
// What the source exports hand to the engine: the file names given with
// QorSrcSetFile for the video and the audio stream (tracked zero-terminated
// copies, nil when none), and the image and sound of in-memory blocks.
char*& VideoSourceName();
char*& AudioSourceName();
ImgBasic::Qimg& SourceImage();
SndBasic::SndRec& SourceSound();
// Frees all four; after every conversion and at library unload.
void ReleaseSourceBuffers();

// ---- output settings ---------------------------------------------------------
// The save table's format for a name's extension, or K_AUTO when it names no
// writable format.
int32_t _QorGetFileSaveID(const std::string& name);
// Adapts the record's output wave format to its audio output format: MPEG
// (stereo kept), MPEG audio, Ogg Vorbis; other formats keep it.
void SetAudioCodecDefaults(Common::QorRec* rec);
// The save options a format-taking setter or dialog works on: the audio
// output's for a sound-only format (and for one that is not in the save
// table), else the video output's; the format is stored in them first.
ConForm::FFSaveRec* _QorTargetOptions(Common::QorRec* rec, int32_t format);
// The inner work of the settings exports of the same names.
void _QorSetOutputFile(Common::QorRec* rec, const std::string& vid,
                       const std::string& aud);
void _QorSetFrameRate(Common::QorRec* rec, double fps);
void _QorSetResolution(Common::QorRec* rec, int32_t resX, int32_t resY);
void _QorSetBpp(Common::QorRec* rec, int32_t bpp);
void _QorForceCompatibility(Common::QorRec* rec, int32_t turnOn);
// Raises (8, 4) for a rate, channel count or depth that is not positive or
// does not fit the wave format.
void _QorSetAudioFormat(Common::QorRec* rec, int32_t sampleRate,
                        int32_t channels, int32_t bits);
void _QorSetCodec(Common::QorRec* rec, int32_t fileFmtID, int32_t codec);

// ---- file lists --------------------------------------------------------------
// Source files collected from wildcard patterns, with the totals of
// what the accepted files hold.
struct QorFileList {
  std::vector<std::string> names;  // full names, in the order added
  int32_t frames = 0;
  int32_t width = 1, height = 1;  // the largest picture by area
  int32_t bpp = 8;                // within 8..24
  double frameRate = 0.0;
  int32_t samples = 0;
  int32_t sampleRate = 8000;  // within 8000..44100
  int32_t channels = 1;       // within 1..2
  int32_t bits = 8;           // within 8..16
};
// Longest full name a list takes, with its terminating zero.
constexpr size_t kMaxListName = 4096;
// The inner work of the list exports (nil on failure, the error pending).
// The list behind a host's handle, checked as _QorRecOf checks records.
QorFileList* _QorListOf(QorHandle mList);
QorFileList* _QorListAlloc();
void _QorListFree(QorFileList* list);
int32_t _QorListAdd(QorFileList* list, const std::string& fileSpec,
                    int32_t fileType, QorInfoProgressProc progress,
                    void* progressData);
// Name fileIndex (from 0), or an empty text and false outside the list.
bool _QorListGetName(const QorFileList* list, int32_t fileIndex,
                     std::string* name);
double QorListGetFrameRate(const QorFileList* list);

// ---- images and text sprites ---------------------------------------------------
// The inner bodies of exports that other exports reuse, so an inner call
// never overwrites the outer call's last-error record.

// Palette (on palette devices) and the whole image with its top-left corner
// at (x, y).
void ImgShowAt(ImgBasic::Qimg* img, Gdi::HDC dc, int32_t x, int32_t y);
// Frame frameNum of a file, counted from 1 (0 and below the first, beyond
// the count the last).
void ImgLoadSingle(ImgBasic::Qimg* img, const std::string& fileName,
                   int32_t frameNum);
// The image as the file's only frame, in the format its extension names;
// codec K_AUTO for the format's default, else the JPEG quality or the codec.
void ImgSaveSingle(ImgBasic::Qimg* img, const std::string& fileName,
                   int32_t codec);

// ---- conversion ----------------------------------------------------------------
// Brings the record's output settings into shape for a conversion: formats,
// compatible size, audio format, prepared save options, the "cvid" fallback
// under forced compatibility, the palette flag. False when no output can
// be written (the call status is then 1).
bool _QorPrepareOutput(Common::QorRec* rec);
// The whole conversion of a record; returns the call status and leaves it
// in the last-error record.
int32_t _QorConvert(Common::QorRec* rec);
// For QorGetStatus and QorAbort from any thread, without the library lock;
// they read and write atomics only and never follow the handle. True when
// mData is the running conversion: its phase is given, or its stop requested
// (it then ends at its next frame or progress step with status 2).
bool _QorRunningPhase(QorHandle mData, int32_t* phase);
bool _QorRequestStop(QorHandle mData);

}  // namespace QorMain
