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

}  // namespace QorMain
