// Output files: one handle hides whether an output name stands for one
// still image that every frame overwrites, a numbered sequence of stills,
// or a stream (movie, animation or sound) written through the multi-frame
// layer. The real output is opened with the first frame or sound, because
// only then are the picture size, depth and sound format known.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/ConFormSave.h"
#include "formats/ConForm.h"
#include "media/ImgBasic.h"
#include "media/SndBasic.h"

namespace ConForm {

struct UniOutput {
  int32_t format = 0;
  int32_t kind = 0;  // 1 single image, 2 numbered sequence, 3 stream
  std::string name;  // for a sequence, the first file written
  bool created = false;
  bool pictureFormatTaken = false;
  bool soundFormatTaken = false;
  double frameRate = 0.0;
  int32_t interleave = 0;  // frames
  int32_t plannedFrames = 1;
  // picture format, from the first image
  int32_t width = 0, height = 0, bytesPerPixel = 0, bitsPerPixel = 0;
  // sound format, from the first sound
  double sampleRate = 0.0;
  int32_t channels = 0, bitsPerSample = 0, bytesPerSecond = 0;
  WaveFormat wave{};
  bool holdsPictures = false, holdsSound = false;
  int32_t framesWritten = 0;
  int32_t samplesWritten = 0;
  double soundSeconds = 0.0;
  FFSaveRec save;
  int32_t customCount = 0;
  CustomInfoEntry custom[kMaxCustomInfo];
  // numbered sequence
  std::string seqPrefix, seqSuffix;
  int32_t firstNumber = 0, digitCount = 0, filesWritten = 0;
  // stream
  MviFile mvi;
  // Every file this handle wrote or began to write, in order (a file that
  // existed before and was left untouched is never listed). Kept by
  // UniClose, so a conversion can remove its outputs after closing them;
  // UniCreate starts a new list.
  std::vector<std::string> createdFiles;
};

void UniCreate(UniOutput* out, const std::string& name);
void UniSetFrameCount(UniOutput* out, int32_t frames);
void UniSetFrameRate(UniOutput* out, double fps);
void UniSetInterleave(UniOutput* out, int32_t frames);
void UniAddAviCustomInfo(UniOutput* out, const std::string& id,
                         const std::string& text);
// The options' format replaces the one the name's extension gave.
void UniSetSaveOptions(UniOutput* out, const FFSaveRec& save);
void UniSetImgFormat(UniOutput* out, const ImgBasic::Qimg& image);
void UniSetSndFormat(UniOutput* out, const SndBasic::SndRec& sound);
void UniCreateCheck_(UniOutput* out);
// The caller's image and sound are never changed: a frame or sound of
// another format is converted in a copy.
void UniImgSave(UniOutput* out, const ImgBasic::Qimg& image);
void UniSndSave(UniOutput* out, const SndBasic::SndRec& sound);
// Finishes the output; a handle that is already closed is left alone.
// The list of files the handle wrote stays for UniDeleteCreated.
void UniClose(UniOutput* out);
// Deletes every file in the handle's list of files it wrote (call it after
// UniClose) and empties the list; true when each of them is gone.
bool UniDeleteCreated(UniOutput* out);
// Capability flags of a format in the save table (kSaveTable) or the load
// table (any other value); K_AUTO for a format that is not in it.
int32_t GetFmtFlags(int32_t format, int32_t table);

}  // namespace ConForm
