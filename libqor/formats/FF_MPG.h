// MPEG: reading MPEG-1/2 video and MPEG audio (Layers I to III), writing
// MPEG-1, VCD, MPEG-2, SVCD and DVD video and Layer II sound, and
// multiplexing a video and a sound stream into one system stream.
#pragma once

#include <cstdint>
#include <string>

#include "formats/ConForm.h"
#include "media/ImgBasic.h"
#include "media/SndBasic.h"
#include "platform/Morrow.h"
#include "platform/Pavane.h"

namespace FF_MPG {

enum : int32_t { kTypeMpeg1 = 0, kTypeVcd = 1, kTypeMpeg2 = 2, kTypeSvcd = 3, kTypeDvd = 4 };

// Largest video bit rate, bit/s.
constexpr double kMaxVideoBitRate = 104857200.0;

// One slot of the MPEG-2 encoder's frame ring.
struct RingSlot {
  int32_t number = -1;  // frame number, -1 = empty
  ImgBasic::Qimg image;
};

// The error pair and text a failed write raised, raised again by every later
// save and by the close.
struct WriteFailure {
  int32_t cls = 0, code = 0;
  std::string text;
};

struct MpgFileRec {
  // writing
  Pavane::MpgVideoEncoder* videoEncoder = nullptr;
  Morrow::MpegEncoder* mpeg2Encoder = nullptr;
  // picture
  int32_t width = 0, height = 0;
  int32_t bytesPerPixel = 3, bitsPerPixel = 24;
  int32_t frameCount = 0;
  int32_t lastFrame = 0;  // from 1; 0 before the first frame
  bool endFlag = false;
  double frameRate = 0;
  int32_t rateCode = 0;
  int32_t type = 0;
  bool usesMpeg2Encoder = false;
  bool hasVideo = false, hasAudio = false;
  int32_t option = 0;
  bool writeMode = false, readingVideo = false, readingAudio = false;
  bool videoStarted = false, audioStarted = false;
  bool writeFailed = false;  // an encoder could not write its stream
  WriteFailure failure;      // why, as first reported
  std::string outputName, videoName, audioName;
  // reading
  Pavane::MpegReader* reader = nullptr;
  uint8_t* lastPixels = nullptr;  // the frame delivered last (tracked)
  Pavane::MpgAudioReader* audioReader = nullptr;
  Pavane::MpgAudioInfo audioInfo{};
  Pavane::MpgAudioEncoder* audioEncoder = nullptr;
  int32_t samplePos = 0;
  SndBasic::WaveFormatEx format{};
  // MPEG-2 encoder's frame ring
  RingSlot ring[3];
  int32_t ringAsked = 0;
  int32_t ringFilled = 0;
  int32_t framesAnnounced = 0;
  int32_t framesWritten = 0;
  bool ringMissed = false;  // the encoder asked for a frame not in the ring
};

void MpgInfo(const std::string& fileName, ConForm::FFInfoRec* info,
             ConForm::InfoProgressFn progress, void* progressData);
void MpgOpen(MpgFileRec* mpg, const std::string& fileName, int32_t option,
             void* progressData, ConForm::InfoProgressFn progress);
void MpgImgRewind(MpgFileRec* mpg);
void MpgImgLoad(MpgFileRec* mpg, ImgBasic::Qimg* image, int32_t frame, int32_t flags);
void MpgSndSeek(MpgFileRec* mpg, int32_t sample);
void MpgSndLoad(MpgFileRec* mpg, SndBasic::SndRec* sound, int32_t start, int32_t flags,
                int32_t count);
void MpgCreate(MpgFileRec* mpg, const std::string& fileName, double frameRate,
               int32_t framesAnnounced);
void MpgImgSave(MpgFileRec* mpg, ImgBasic::Qimg* image);
void MpgSndSave(MpgFileRec* mpg, SndBasic::SndRec* sound);
void MpgClose(MpgFileRec* mpg);
int32_t MpgMultiPlex(const std::string& outputName, const std::string& videoName,
                     const std::string& audioName, int32_t type, bool deleteStreams);

int32_t MpgStdFrameRateCode(double frameRate);
double MpgStdFrameRate(double frameRate);
int32_t MpgVideoBitRate(int32_t kilobits);
int32_t MpgAudioBitRate(int32_t kilobits);
void MpgSetType(int32_t type);
int32_t MpgGetType();
bool MpgSndFormat(const SndBasic::WaveFormatEx& source, SndBasic::WaveFormatEx* format,
                  bool stereo);

// Unit start: the default bit rates and an empty description cache.
void MpgInit();
void MpgDone();

// Callbacks given to the codec layers.
void error_handler_(const char* message) noexcept;
void GetImgPtr_(int32_t frame, uint8_t** pixels) noexcept;

}  // namespace FF_MPG
