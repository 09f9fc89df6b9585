// RIFF WAVE sound: a reader of every wave format the audio compression layer
// can decode, delivering PCM, and a writer of PCM (or whatever single format
// its blocks carry) with the fixed 46-byte header.
#pragma once

#include <cstdint>
#include <string>

#include "formats/ConForm.h"
#include "media/SndBasic.h"
#include "platform/base/MmIo.h"

namespace FF_WAV {

// WAVE_FORMAT_EXTENSIBLE: the real tag is the first two bytes of the
// sub-format GUID that follows the 18-byte header.
constexpr uint16_t kTagExtensible = 0xFFFE;
// The header the writer puts before the sample data.
constexpr int32_t kHeaderSize = 46;
// Largest sample data a RIFF file can describe after that header.
constexpr int64_t kMaxDataBytes = 0xFFFFFFFFLL - (kHeaderSize - 8);

struct WavFileRec {
  MmIo::HMMIO file = nullptr;
  MmIo::MMCKINFO data{};  // the "data" chunk
  SndBasic::SndLoadState load{};
  bool writeMode = false;
  bool formatWritten = false;
  int64_t bytesWritten = 0;
  int64_t framesWritten = 0;
  SndBasic::WaveConvRec conv{};
  bool convClosed = true;
  bool readable = false;     // the delivered format is valid
  uint16_t fileTag = 0;      // the format tag as the file gives it
  bool cut = false;          // the file ends before the sizes it gives
  SndBasic::WaveFormatEx written{};  // writer: the format of the first block
};

void WAVOpen(WavFileRec* wav, const std::string& fileName);
void WAVSeek(WavFileRec* wav, int32_t sample);
void WAVLoad(WavFileRec* wav, SndBasic::SndRec* sound, int32_t start,
             int32_t flags, int32_t count);
void WAVCreate(WavFileRec* wav, const std::string& fileName);
void WAVSave(WavFileRec* wav, SndBasic::SndRec* sound);
void WAVClose(WavFileRec* wav);
void WAVInfo(const std::string& fileName, ConForm::FFInfoRec* info);

// The block reader SndLoad pulls source data through.
void WAVLoad_(void* handle, int32_t bytesNeeded, uint8_t*& block,
              int32_t& bytes, int32_t& frames);

// Internal steps, public for the tests.
uint32_t FindChunkAndKeepExtras_(MmIo::HMMIO file, MmIo::MMCKINFO* info,
                                 const MmIo::MMCKINFO* parent, uint32_t flags);
void ReadIntoExtra_(MmIo::HMMIO file, MmIo::MMCKINFO* info);

// The name of a wave format tag as file information reports it:
// "(#" tag ") " and the codec's name.
std::string AudioTagName(uint16_t tag);

}  // namespace FF_WAV
