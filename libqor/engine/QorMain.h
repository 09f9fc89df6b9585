// The exported interface's unit. The exports themselves are declared in the
// public header qor.h; what the exports share inside the library is here.
#pragma once

#include <string>

#include "engine/ConFormOut.h"
#include "engine/ConFormSave.h"
#include "formats/ConForm.h"
#include "media/ImgBasic.h"
#include "qor.h"

namespace QorMain {

void QorMainInit();

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

}  // namespace QorMain
