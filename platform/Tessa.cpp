#include "platform/Tessa.h"

#include <cstring>
#include <memory>
#include <new>

#include "platform/AviFileCore.h"

namespace Tessa {

namespace {

struct Reader {
  AviFile::PAVIFILE file = nullptr;
  AviFile::PAVISTREAM video = nullptr;
  AviCore::VideoDecoder decoder;
  AviCore::Frame frame;
  int32_t bits = 0;
  int32_t frames = 0;
  double fps = 0;
  ~Reader() {
    if (file) AviFile::AVIFileRelease(file);
  }
};

}  // namespace

Handle avi_open_DD(const char* fileName, int32_t* reserved) {
  if (reserved) *reserved = 0;
  auto r = std::unique_ptr<Reader>(new (std::nothrow) Reader);
  if (!r || AviFile::AVIFileOpen(&r->file, fileName, AviFile::OF_READ, nullptr) != 0) return 0;
  if (AviFile::AVIFileGetStream(r->file, &r->video, AviFile::streamtypeVIDEO, 0) != 0 ||
      !r->decoder.Open(r->video))
    return reinterpret_cast<Handle>(r.release());  // a file without readable video
  // The depth is the one the first frame decodes to.
  if (r->decoder.Decode(0, r->frame)) {
    r->bits = r->frame.bits;
    r->frames = AviFile::AVIStreamLength(r->video);
    const AviFile::AVISTREAMINFO& si = r->video->info;
    r->fps = si.dwScale > 0 ? static_cast<double>(si.dwRate) / si.dwScale : 0;
  }
  return reinterpret_cast<Handle>(r.release());
}

void avi_get_info_DD(Handle h, int32_t* width, int32_t* height, int32_t* bits, int32_t* frames,
                     double* fps, uint8_t* wave) {
  const auto* r = reinterpret_cast<const Reader*>(h);
  const bool ok = r != nullptr && r->bits > 0;
  if (width) *width = ok ? r->decoder.width() : 0;
  if (height) *height = ok ? r->decoder.height() : 0;
  if (bits) *bits = ok ? r->bits : 0;
  if (frames) *frames = ok ? r->frames : 0;
  if (fps) *fps = ok ? r->fps : 0;
  if (wave) std::memset(wave, 0, 18);
}

int32_t avi_get_frame_DD(Handle h, uint8_t* dest, int64_t capacity, int32_t index,
                         uint8_t* palette) {
  auto* r = reinterpret_cast<Reader*>(h);
  if (r == nullptr || r->bits == 0 || dest == nullptr) return 0;
  if (!r->decoder.Decode(index, r->frame)) return 0;
  const AviCore::Frame& f = r->frame;
  // Every frame comes at the stream's first depth and size.
  if (f.bits != r->bits || static_cast<int64_t>(f.pixels.size()) > capacity) return 0;
  std::memcpy(dest, f.pixels.data(), f.pixels.size());
  if (palette) std::memcpy(palette, f.palette, 768);
  return 1;
}

void avi_close_DD(Handle h) { delete reinterpret_cast<Reader*>(h); }

}  // namespace Tessa
