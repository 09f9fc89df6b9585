#include "engine/ConFormOut.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cmath>

#include "formats/FF_AVI.h"
#include "formats/FF_JPG.h"
#include "formats/FF_KWB.h"
#include "formats/FF_MPG.h"
#include "formats/FF_OGG.h"
#include "formats/FF_PNG.h"
#include "formats/FF_PNM.h"
#include "formats/FF_RAS.h"
#include "formats/FF_SGI.h"
#include "formats/FF_TIF.h"
#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"

namespace ConForm {
namespace {

using Basic::K_AUTO;
using Errors::ErrSet;
using ImgBasic::Qimg;

// What a file looked like before a write, so that a failed write can tell
// whether it touched the file at all.
struct FileStamp {
  bool exists = false;
  off_t size = 0;
  struct timespec modified {};
};

FileStamp Stamp(const std::string& name) {
  FileStamp s;
  struct stat st {};
  if (::stat(name.c_str(), &st) == 0) {
    s.exists = true;
    s.size = st.st_size;
    s.modified = st.st_mtim;
  }
  return s;
}

bool SameStamp(const FileStamp& a, const FileStamp& b) {
  return a.exists == b.exists && a.size == b.size && a.modified.tv_sec == b.modified.tv_sec &&
         a.modified.tv_nsec == b.modified.tv_nsec;
}

void NoteCreated(UniOutput* out, const std::string& name) {
  if (std::find(out->createdFiles.begin(), out->createdFiles.end(), name) ==
      out->createdFiles.end())
    out->createdFiles.push_back(name);
}

// Runs a step that writes the named file. The file goes into the handle's
// list when the step succeeds, and also when it fails after touching the
// file (a half-written output is this handle's to remove); a file that
// existed before and was left as it was is never listed.
template <class Step>
void WriteNoting(UniOutput* out, const std::string& name, Step&& step) {
  const FileStamp before = Stamp(name);
  try {
    step();
  } catch (...) {
    if (!SameStamp(before, Stamp(name))) NoteCreated(out, name);
    throw;
  }
  NoteCreated(out, name);
}

// The writers keep their options process-wide: a new output hands them the
// prepared values of its save options. A value left K_AUTO (options that
// were never prepared) leaves the writer's current option as it is.
void HandOptionsToWriter(const FFSaveRec& s) {
  auto given = [](int32_t v) { return v != K_AUTO; };
  switch (s.format) {
    case kFmtTGA:
      if (given(s.codec)) TGASetCompression(s.codec);
      break;
    case kFmtAVI: {
      FF_AVI::AviCodecRec codec = FFSaveAviOf(s);
      FF_AVI::AviSetCurCodec(&codec);
      break;
    }
    case kFmtKWB:
      if (given(s.codec)) FF_KWB::KWBSetFastMode(s.codec);
      FF_KWB::KWBSetKeyInterval(s.keyFrameRate);
      break;
    case kFmtJPEG:
      FF_JPG::JPGQuality(s.quality);
      break;
    case kFmtPNG:
      FF_PNG::PNGLevel(s.codec);
      break;
    case kFmtTIFF:
      if (given(s.codec)) FF_TIF::TIFSetCompression(s.codec);
      break;
    case kFmtMPEG:
      if (given(s.codec)) FF_MPG::MpgSetType(s.codec);
      FF_MPG::MpgVideoBitRate(s.bitRate);
      FF_MPG::MpgAudioBitRate(s.audioBitRate);
      break;
    case kFmtSGI:
      if (given(s.codec)) FF_SGI::SGISetCompression(s.codec);
      break;
    case kFmtRAS:
      if (given(s.codec)) FF_RAS::RASSetCompression(s.codec);
      break;
    case kFmtPNM:
      if (given(s.codec)) FF_PNM::PNMSetEncoding(s.codec);
      break;
    case kFmtMPA:
      FF_MPG::MpgAudioBitRate(s.audioBitRate);
      break;
    case kFmtOGG:
      FF_OGG::OggQuality(s.audioQuality);
      break;
    default:
      break;
  }
}

int32_t DecimalDigits(int32_t n) {
  return static_cast<int32_t>(std::to_string(std::max(n, 0)).size());
}

// A still-image name that carries a number, or a planned run of frames,
// becomes a numbered sequence: a number in the name is continued with its
// own digit count; a name without one is numbered from 0 with as many
// digits as the planned count has.
void PlanStillOutput(UniOutput* out) {
  std::string prefix, suffix;
  int32_t digits = 0, number = 0;
  const bool numbered =
      SeqSplit(out->name, false, &prefix, &digits, &number, INT32_MAX, &suffix, INT32_MAX);
  if (!numbered && out->plannedFrames <= 1) {
    out->kind = kKindImage;
    return;
  }
  out->kind = kKindSequence;
  out->seqPrefix = prefix;
  out->seqSuffix = suffix;
  out->firstNumber = numbered ? number : 0;
  out->digitCount = numbered ? digits : DecimalDigits(out->plannedFrames);
}

std::string SequenceName(const UniOutput* out, int32_t file) {
  return SeqMakeName(out->seqPrefix, out->seqSuffix, int64_t{out->firstNumber} + file - 1,
                     out->digitCount);
}

// Kind and capabilities, and the kind check: everything of the preparation
// that opens nothing.
void Classify(UniOutput* out) {
  out->kind = FileKind(out->format, out->plannedFrames);
  const int32_t flags = GetFmtFlags(out->format, kSaveTable);
  out->holdsPictures = flags != K_AUTO && (flags & kFlagPictures) != 0;
  out->holdsSound = flags != K_AUTO && (flags & kFlagSound) != 0;
  if (out->kind < kKindImage || out->kind > kKindStream) ErrSet(Errors::kErrUniProtocol, __LINE__);
}

// A stream opened inside a frame that then fails would have its blocks freed
// by that frame while the handle still points at them: it is closed first.
void CloseStreamOnFailure(UniOutput* out) {
  const bool hadStream = out->mvi.handle != nullptr;
  Errors::MonSetCleanup([out, hadStream] {
    if (!hadStream && out->mvi.handle) MviClose(&out->mvi);
  });
}

void RefuseUnheld(bool held) {
  if (!held) ErrSet(Errors::kErrMovieNotSupported, __LINE__);
}

}  // namespace

void UniCreate(UniOutput* out, const std::string& name) {
  Errors::Monitored("ConForm.UniCreate", [&] {
    *out = UniOutput{};
    out->format = GetFmtByExt(name, kSaveTable);
    out->kind = FileKind(out->format, 1);
    out->name = name;
    out->plannedFrames = 1;
  });
}

void UniSetFrameCount(UniOutput* out, int32_t frames) {
  out->plannedFrames = frames;
  out->kind = FileKind(out->format, frames);
}

void UniSetFrameRate(UniOutput* out, double fps) { out->frameRate = fps; }

void UniSetInterleave(UniOutput* out, int32_t frames) { out->interleave = frames; }

void UniAddAviCustomInfo(UniOutput* out, const std::string& id, const std::string& text) {
  if (out->customCount >= kMaxCustomInfo) return;
  CustomInfoEntry& e = out->custom[out->customCount++];
  e.id = id.substr(0, 4);
  e.text = text.substr(0, 255);
}

void UniSetSaveOptions(UniOutput* out, const FFSaveRec& save) {
  out->format = save.format;
  out->save = save;
}

void UniSetImgFormat(UniOutput* out, const Qimg& image) {
  if (out->pictureFormatTaken) return;
  out->pictureFormatTaken = true;
  out->width = image.width;
  out->height = image.height;
  out->bytesPerPixel = image.bytesPerPixel;
  out->bitsPerPixel = image.bitsPerPixel;
}

void UniSetSndFormat(UniOutput* out, const SndBasic::SndRec& sound) {
  if (out->soundFormatTaken) return;
  out->soundFormatTaken = true;
  out->wave = sound.format;
  out->sampleRate = sound.format.samplesPerSec;
  out->channels = sound.format.channels;
  out->bitsPerSample = sound.format.bitsPerSample;
  out->bytesPerSecond = static_cast<int32_t>(std::min<int64_t>(
      int64_t{sound.format.samplesPerSec} * out->channels * ((out->bitsPerSample + 7) / 8),
      INT32_MAX));
}

void UniCreateCheck_(UniOutput* out) {
  Errors::Monitored("ConForm.UniCreateCheck_", [&] {
    if (out->created) return;
    Classify(out);
    if (out->save.setMark) HandOptionsToWriter(out->save);
    if (out->kind == kKindStream) {
      CloseStreamOnFailure(out);
      WriteNoting(out, out->name, [&] {
        MviCreate(&out->mvi, out->name, out->frameRate, out->interleave, out->plannedFrames);
      });
      for (int32_t i = 0; i < out->customCount; i++)
        MviSetAviCustomInfo(&out->mvi, out->custom[i].id, out->custom[i].text);
    } else {
      PlanStillOutput(out);
    }
    out->created = true;
  });
}

void UniImgSave(UniOutput* out, const Qimg& image) {
  Errors::Monitored("ConForm.UniImgSave", [&] {
    // An empty image would fix the output's size at nothing.
    if (!ImgBasic::ImgIsValid(&image)) {
      ErrSet(Errors::kErrImageCorrupted, __LINE__);
      return;
    }
    CloseStreamOnFailure(out);
    UniSetImgFormat(out, image);
    // What the output can hold is known before anything is opened, so a
    // frame for a sound-only output leaves no empty file behind.
    if (!out->created) Classify(out);
    RefuseUnheld(out->holdsPictures);
    UniCreateCheck_(out);
    // The caller's image stays as it is: another depth or size is made in
    // a copy, freed at the end (or by the frame on failure).
    Qimg* frame = const_cast<Qimg*>(&image);
    Qimg converted, resized;
    if (frame->bitsPerPixel != out->bitsPerPixel) {
      ImgBasic::ImgConvBpp(frame, &converted, out->bitsPerPixel);
      frame = &converted;
    }
    if (frame->width != out->width || frame->height != out->height) {
      ImgBasic::ImgResize(frame, &resized, out->width, out->height);
      frame = &resized;
    }
    switch (out->kind) {
      case kKindImage:
        WriteNoting(out, out->name, [&] { ImgSave(out->name, frame, out->format); });
        out->framesWritten = 1;
        break;
      case kKindSequence: {
        if (out->filesWritten == 0) out->name = SequenceName(out, 1);
        const std::string name = SequenceName(out, out->filesWritten + 1);
        WriteNoting(out, name, [&] { ImgSave(name, frame, out->format); });
        out->filesWritten++;
        out->framesWritten = out->filesWritten;
        break;
      }
      default:
        MviImgSave(&out->mvi, frame);
        out->framesWritten = MviFrameCount(&out->mvi);
        break;
    }
    ImgBasic::ImgFree(&resized);
    ImgBasic::ImgFree(&converted);
  });
}

void UniSndSave(UniOutput* out, const SndBasic::SndRec& sound) {
  Errors::Monitored("ConForm.UniSndSave", [&] {
    // A sound without a usable format would fix the output's at nothing.
    SndBasic::WaveFormatEx format = sound.format;
    if (!SndBasic::WaveFormatValidate(format)) {
      ErrSet(Errors::kErrAudioFormat, __LINE__);
      return;
    }
    CloseStreamOnFailure(out);
    UniSetSndFormat(out, sound);
    if (!out->created) Classify(out);
    RefuseUnheld(out->holdsSound);
    UniCreateCheck_(out);
    if (out->kind != kKindStream) {
      ErrSet(Errors::kErrUniProtocol, __LINE__);
      return;
    }
    // The caller's sound stays as it is: another wave format is converted
    // into a temporary sound.
    SndBasic::SndRec* slice = const_cast<SndBasic::SndRec*>(&sound);
    SndBasic::SndRec temp;
    if (SndBasic::WaveFormatDiffers(sound.format, out->wave)) {
      SndBasic::SndConvert(*slice, temp, out->wave);
      slice = &temp;
    }
    MviSndSave(&out->mvi, slice);
    out->samplesWritten = MviSamplePos(&out->mvi);
    out->soundSeconds = out->sampleRate > 0 ? out->samplesWritten / out->sampleRate : 0.0;
    SndBasic::SndFree(temp);
  });
}

void UniClose(UniOutput* out) {
  if (!out) return;
  Errors::Monitored("ConForm.UniClose", [&] {
    // Whatever closing reports, the handle ends closed and keeps only the
    // list of what it wrote.
    auto reset = [out] {
      std::vector<std::string> written = std::move(out->createdFiles);
      *out = UniOutput{};
      out->createdFiles = std::move(written);
    };
    Errors::MonSetCleanup(reset);
    switch (out->kind) {
      case kKindNone:
      case kKindImage:
      case kKindSequence:
        break;
      case kKindStream:
        MviClose(&out->mvi);
        break;
      default:
        ErrSet(Errors::kErrUniProtocol, __LINE__);
        return;
    }
    reset();
  });
}

bool UniDeleteCreated(UniOutput* out) {
  if (!out) return true;
  bool allGone = true;
  for (const std::string& name : out->createdFiles) {
    Errors::MonitoredQuiet("ConForm.UniDeleteCreated", [&] { Basic::FDelete(name); });
    if (Basic::FileExists(name)) allGone = false;
  }
  out->createdFiles.clear();
  return allGone;
}

int32_t GetFmtFlags(int32_t format, int32_t table) {
  if (format == K_AUTO) return K_AUTO;
  const int32_t count = table == kSaveTable ? SaveTableCount() : LoadTableCount();
  for (int32_t i = 0; i < count; i++) {
    const FileFmtTable row = TableRow(table, i);
    if (row.id == format) return row.flags;
  }
  return K_AUTO;
}

}  // namespace ConForm
