#include "formats/CodecCommon.h"

#include <unistd.h>

#include <cstring>

#include "foundation/Basic.h"
#include "foundation/Errors.h"
#include "platform/Wexel.h"

using ImgBasic::Qimg;

namespace CodecCommon {
namespace {

struct Stored {
  char text[1024];
  bool set;
};
Stored g_error{};
Stored g_warning{};

void Keep(Stored& slot, const char* message) {
  if (slot.set || !message) return;
  std::strncpy(slot.text, message, sizeof slot.text - 1);
  slot.text[sizeof slot.text - 1] = 0;
  slot.set = true;
}

}  // namespace

void ClearMessages() {
  g_error.set = false;
  g_warning.set = false;
}

void ListenToLayer() {
  ExternErrorSet(StoreError);
  ExternWarningSet(StoreWarning);
  ClearMessages();
}

void StoreError(const char* message) noexcept { Keep(g_error, message); }
void StoreWarning(const char* message) noexcept { Keep(g_warning, message); }
bool HasError() { return g_error.set; }

void PassWarnings(int32_t sourceLine) {
  if (!g_warning.set) return;
  g_warning.set = false;
  Errors::WarnSetText(Errors::kClsText, g_warning.text, sourceLine);
}

void RaiseFailure(int32_t cls, int32_t code, int32_t sourceLine) {
  PassWarnings(sourceLine);
  if (g_error.set) {
    g_error.set = false;
    Errors::ErrSetText(Errors::kClsText, g_error.text, sourceLine);
    return;
  }
  Errors::ErrSet(cls, code, sourceLine);
}

int32_t SaveDepth(int32_t formatId, int32_t bits) {
  switch (formatId) {
    case kFormatJpeg:
    case kFormatXpm:
      return 24;
    case kFormatPng:
    case kFormatTiff:
      return bits == 8 ? 8 : bits == 32 ? 32 : 24;
    default:
      return Basic::K_AUTO;
  }
}

void PrepareForSave(int32_t formatId, PreparedImage& record, Qimg* image) {
  Errors::Monitored("FFBasic.FFInit", [&] {
    record = PreparedImage{};
    const int32_t target = image ? SaveDepth(formatId, image->bitsPerPixel)
                                 : Basic::K_AUTO;
    // A record whose block is smaller than its dimensions say would be read
    // past its end by every writer.
    if (target == Basic::K_AUTO || !ImgBasic::ImgIsValid(image) ||
        image->width < 1 || image->height < 1 ||
        image->bytesPerPixel != ImgBasic::BytesPerPixel(image->bitsPerPixel) ||
        static_cast<int64_t>(image->width) * image->height *
                image->bytesPerPixel > image->size) {
      Errors::ErrSet(Errors::kClsMovie2, 1, __LINE__);
      return;
    }
    if (target == image->bitsPerPixel) {
      record.image = image;
      return;
    }
    ImgBasic::ImgConvBpp(image, &record.own, target);
    record.usesOwn = true;
    record.image = &record.own;
  });
}

void PreparedDone(PreparedImage& record) {
  if (record.usesOwn) ImgBasic::ImgFree(&record.own);
  record = PreparedImage{};
}

bool AlphaAllZero(const Qimg& image) {
  if (image.bitsPerPixel != 32 || !image.data) return false;
  const int64_t count = static_cast<int64_t>(image.width) * image.height;
  for (int64_t i = 0; i < count; i++)
    if (image.data[i * 4 + 3] != 0) return false;
  return true;
}

OutputGuard::~OutputGuard() {
  if (!keep_) ::unlink(name_.c_str());
}

}  // namespace CodecCommon
