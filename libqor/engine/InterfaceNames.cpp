// The names qor.h gives its numbers are promises to hosts: each must stay the
// value the library's own code means by it.
#include "engine/Common.h"
#include "engine/ConFormConv.h"
#include "formats/ConForm.h"
#include "media/TextGen.h"
#include "qor.h"

namespace {

// The two sides are enums of their own; compare them as the numbers they are.
constexpr bool Same(int64_t a, int64_t b) { return a == b; }

static_assert(Same(QOR_STATUS_OK, Common::kStatusOk));
static_assert(Same(QOR_STATUS_INVALID_OUTPUT, Common::kStatusInvalidOutput));
static_assert(Same(QOR_STATUS_ABORTED, Common::kStatusAborted));
static_assert(Same(QOR_STATUS_NO_SOURCE, Common::kStatusNoSource));
static_assert(Same(QOR_STATUS_UNEXPECTED, Common::kStatusException));
static_assert(Same(QOR_STATUS_LIBRARY_ERROR, Common::kStatusLibraryError));

static_assert(Same(QOR_FMT_TGA, ConForm::kFmtTGA) && Same(QOR_FMT_PCX, ConForm::kFmtPCX) &&
              Same(QOR_FMT_BMP, ConForm::kFmtBMP) && Same(QOR_FMT_GIF, ConForm::kFmtGIF) &&
              Same(QOR_FMT_FLC, ConForm::kFmtFLC) && Same(QOR_FMT_AVI, ConForm::kFmtAVI) &&
              Same(QOR_FMT_KWB, ConForm::kFmtKWB) && Same(QOR_FMT_JPEG, ConForm::kFmtJPEG) &&
              Same(QOR_FMT_PNG, ConForm::kFmtPNG) && Same(QOR_FMT_TIFF, ConForm::kFmtTIFF) &&
              Same(QOR_FMT_MPEG, ConForm::kFmtMPEG) && Same(QOR_FMT_WAV, ConForm::kFmtWAV) &&
              Same(QOR_FMT_SGI, ConForm::kFmtSGI) && Same(QOR_FMT_RAS, ConForm::kFmtRAS) &&
              Same(QOR_FMT_PNM, ConForm::kFmtPNM) && Same(QOR_FMT_BAY, ConForm::kFmtBAY) &&
              Same(QOR_FMT_XPM, ConForm::kFmtXPM) && Same(QOR_FMT_MPA, ConForm::kFmtMPA) &&
              Same(QOR_FMT_OGG, ConForm::kFmtOGG));

static_assert(Same(QOR_ON_ERROR_STOP_DELETE, ConForm::kActionDelete) &&
              Same(QOR_ON_ERROR_STOP_KEEP, ConForm::kActionKeep) &&
              Same(QOR_ON_ERROR_RETRY, ConForm::kActionRetry) &&
              Same(QOR_ON_ERROR_DROP_BLOCK, ConForm::kActionDropBlock));

static_assert(Same(QOR_LIST_PICTURES, ConForm::kFlagPictures) &&
              Same(QOR_LIST_SOUND, ConForm::kFlagSound));

static_assert(Same(QOR_TEXT_BOLD, TextGen::kStyleBold) && Same(QOR_TEXT_ITALIC, TextGen::kStyleItalic) &&
              Same(QOR_TEXT_UNDERLINE, TextGen::kStyleUnderline) &&
              Same(QOR_TEXT_STRIKEOUT, TextGen::kStyleStrikeOut));

static_assert(Same(K_AUTO, Basic::K_AUTO));

}  // namespace
