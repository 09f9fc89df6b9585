#include "platform/Morrow.h"

#include <memory>
#include <new>
#include <string>

#include "platform/AvSupport.h"

namespace Morrow {

namespace {
ErrorFunc g_error = nullptr;
GetImgPtrFunc g_getImage = nullptr;

void Fail(const std::string& message) {
  if (g_error) g_error(message.c_str());
}
}  // namespace

struct MpegEncoder {
  AvSupport::VideoStreamEncoder enc;
  int32_t announced = 0;
  int32_t next = 0;
};

void EncErrorFuncSet(ErrorFunc func) { g_error = func; }
void GetImgPtrFuncSet(GetImgPtrFunc func) { g_getImage = func; }

int32_t CreateMPEG(MpegEncoder** encoder, const char* fileName, const EncParams* p) {
  if (!encoder) return 0;
  *encoder = nullptr;
  if (!p) return 0;
  if (!(p->bitRate >= 1.0 && p->bitRate <= 104857200.0)) {
    Fail("unsupported MPEG video bit rate");
    return 0;
  }
  std::unique_ptr<MpegEncoder> e(new (std::nothrow) MpegEncoder);
  if (!e) return 0;
  AvSupport::VideoStreamEncoder::Settings s;
  s.codec = p->mpeg2 ? AV_CODEC_ID_MPEG2VIDEO : AV_CODEC_ID_MPEG1VIDEO;
  s.width = p->width;
  s.height = p->height;
  s.rateCode = p->rateCode;
  s.bitRate = static_cast<int64_t>(p->bitRate);
  // The main-level buffer of MPEG-2 (224 KiB); MPEG-1 keeps the codec's.
  s.bufferBits = p->mpeg2 ? 224 * 1024 * 8 : 0;
  s.interlaced = p->interlaced != 0 && p->mpeg2;
  const std::string err = e->enc.Create(fileName, s);
  if (!err.empty()) {
    Fail(err);
    return 0;
  }
  *encoder = e.release();
  return 1;
}

int32_t SetNumFramesMPEG(MpegEncoder* e, int32_t frames) {
  if (!e || frames < 0) return 0;
  e->announced = frames;
  return 1;
}

int32_t PutMPEGFrame(MpegEncoder* e) {
  if (!e) return 0;
  if (e->next >= e->announced) {
    Fail("more frames than announced");
    return 0;
  }
  uint8_t* pixels = nullptr;
  if (g_getImage) g_getImage(e->next, &pixels);
  if (!pixels) {
    Fail("frame " + std::to_string(e->next) + " was not given");
    return 0;
  }
  const std::string err = e->enc.Write(pixels);
  if (!err.empty()) {
    Fail(err);
    return 0;
  }
  e->next++;
  return 1;
}

int32_t CloseMPEGEnc(MpegEncoder* e) {
  if (!e) return 0;
  const std::string err = e->enc.Close();
  delete e;
  if (err.empty()) return 1;
  Fail(err);
  return 0;
}

}  // namespace Morrow
