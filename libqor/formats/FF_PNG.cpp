#include "formats/FF_PNG.h"

#include <algorithm>
#include <cstring>

#include "formats/CodecCommon.h"
#include "formats/FFBasic.h"
#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"

using CodecCommon::RaiseFailure;
using ImgBasic::Qimg;

namespace FF_PNG {
namespace {

int32_t g_level = 6;
int32_t g_current = 0;  // tracked handle of the file being read or written

// Bytes per pixel of the image the loader makes of a colour type: grey and
// palette files give 8 bits, RGB 24, RGB and grey with alpha 32.
int32_t LoaderBytes(int32_t colourType) {
  switch (colourType) {
    case PNG_COLOR_TYPE_RGB:
      return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA:
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      return 4;
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE:
      return 1;
    default:
      return 0;
  }
}

// Destroys a handle's libpng structures on every way out; the tracked file
// is the monitor frame's to close when the routine fails.
struct ReadStructs {
  PngFileRec* handle;
  ~ReadStructs() {
    Wexel::png_destroy_read_struct(&handle->png, &handle->info);
    handle->info = nullptr;
  }
};

struct WriteStructs {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~WriteStructs() { Destroy(); }
  void Destroy() {
    Wexel::png_destroy_write_struct(&png, &info);
    png = nullptr;
    info = nullptr;
  }
};

void Check(bool ok, int32_t code, int32_t line) {
  if (!ok) RaiseFailure(Errors::kClsImage, code, line);
}

}  // namespace

int32_t PNGLevel(int32_t value) {
  Errors::TraceScope trace("FF_PNG.PNGLevel");
  if (value != Basic::K_AUTO) g_level = std::clamp(value, 0, 9);
  return g_level;
}

void error_handler_(png_structp, png_const_charp message) {
  CodecCommon::StoreError(message);
}

void warning_handler_(png_structp, png_const_charp message) {
  CodecCommon::StoreWarning(message);
}

void PNGReadData(png_structp png, png_bytep destination, png_size_t bytes) {
  int64_t got = 0;
  if (!Basic::FReadAvail(g_current, destination, static_cast<int64_t>(bytes),
                         got))
    png_error(png, "Read Error");
}

void write_data_(png_structp png, png_bytep source, png_size_t bytes) {
  // The tracked write reports a failure by raising; here it must only
  // record it, and libpng hears of it through its own error.
  int32_t code;
  Errors::MonSuspend();
  try {
    code = Basic::FWrite(g_current, source, static_cast<int64_t>(bytes));
  } catch (...) {
    code = -1;
  }
  Errors::MonResume();
  if (code != 0) png_error(png, "Write Error");
}

void PNGFlushData(png_structp) {}

void PNGOpen_(PngFileRec* handle, const std::string& fileName) {
  Errors::Monitored("FF_PNG.PNGOpen_", [&] {
    *handle = PngFileRec{};
    Basic::FOpen(handle->file, fileName, Basic::kOpenRead);
    g_current = handle->file;
    uint8_t signature[4];
    Basic::FRead(handle->file, signature, 4);
    if (png_sig_cmp(signature, 0, 4) != 0) {
      Errors::ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    Basic::FSeek(handle->file, 0);
    CodecCommon::ClearMessages();
    handle->png = Wexel::png_create_read_struct(
        PNG_LIBPNG_VER_STRING, nullptr, error_handler_, warning_handler_);
    Check(handle->png != nullptr, 7, __LINE__);
    handle->info = Wexel::png_create_info_struct(handle->png);
    if (!handle->info) {
      Wexel::png_destroy_read_struct(&handle->png, nullptr);
      Check(false, 7, __LINE__);
    }
    png_set_read_fn(handle->png, nullptr, PNGReadData);
    Check(Wexel::png_read_info(handle->png, handle->info), 4, __LINE__);
    png_uint_32 width = 0, height = 0;
    int depth = 0, type = 0, interlace = 0, compression = 0, filter = 0;
    png_get_IHDR(handle->png, handle->info, &width, &height, &depth, &type,
                 &interlace, &compression, &filter);
    // libpng holds both sizes below 2^31.
    handle->width = static_cast<int32_t>(width);
    handle->height = static_cast<int32_t>(height);
    handle->bitDepth = depth;
    handle->colourType = type;
    handle->interlace = interlace;
    handle->compression = compression;
    handle->filter = filter;
    handle->bytesPerPixel = LoaderBytes(type);
  });
}

void PNGClose_(PngFileRec* handle) {
  Errors::Monitored("FF_PNG.PNGClose_", [&] {
    Wexel::png_destroy_read_struct(&handle->png, &handle->info);
    if (handle->file != 0) Basic::FClose(handle->file);
    *handle = PngFileRec{};
  });
}

void PNGLoad(const std::string& fileName, Qimg* image) {
  Errors::Monitored("FF_PNG.PNGLoad", [&] {
    PngFileRec h;
    ReadStructs structs{&h};
    PNGOpen_(&h, fileName);
    png_structp png = h.png;
    Check(Wexel::png_set_strip_16(png) && Wexel::png_set_packing(png) &&
              Wexel::png_set_bgr(png) &&
              Wexel::png_set_interlace_handling(png),
          6, __LINE__);
    // Grey with alpha keeps its alpha as a 32-bit image.
    if (h.colourType == PNG_COLOR_TYPE_GRAY_ALPHA)
      Check(Wexel::png_set_gray_to_rgb(png), 6, __LINE__);
    Check(Wexel::png_read_update_info(png, h.info), 4, __LINE__);
    const int32_t channels = png_get_channels(png, h.info);
    const int64_t rowBytes = static_cast<int64_t>(png_get_rowbytes(png, h.info));
    if ((channels != 1 && channels != 3 && channels != 4) ||
        rowBytes != static_cast<int64_t>(h.width) * channels) {
      Errors::ErrSet(Errors::kErrImageNotSupported, __LINE__);
      return;
    }
    if (FFBasic::FFCapImage(h.width, h.height, channels * 8, 2, __LINE__) < 0) return;
    ImgBasic::_imgalloc_(image, h.width, h.height, "FF_PNG.PNGLoad.image",
                         __LINE__, channels * 8);
    png_bytep* rows = nullptr;
    Basic::MemAlloc(rows, static_cast<int64_t>(h.height) * sizeof(png_bytep),
                    __LINE__, Basic::kMemPlain, "FF_PNG.PNGLoad.row_pointers");
    for (int32_t y = 0; y < h.height; y++) rows[y] = image->data + rowBytes * y;
    Check(Wexel::png_read_image(png, rows), 3, __LINE__);

    std::memset(image->palette, 0, sizeof image->palette);
    if (h.colourType == PNG_COLOR_TYPE_GRAY) {
      // Samples stripped from 16 bits are 8-bit values and take the 8-bit
      // ramp.
      png_color grey[256];
      const int depth = std::min(h.bitDepth, 8);
      png_build_grayscale_palette(depth, grey);
      for (int i = 0; i < (1 << depth); i++)
        image->palette[i * 3] = image->palette[i * 3 + 1] =
            image->palette[i * 3 + 2] = grey[i].red;
    } else if (h.colourType == PNG_COLOR_TYPE_PALETTE) {
      png_colorp entries = nullptr;
      int count = 0;
      if (png_get_PLTE(png, h.info, &entries, &count) && entries) {
        for (int i = 0; i < std::min(count, 256); i++) {
          image->palette[i * 3 + 0] = entries[i].blue;
          image->palette[i * 3 + 1] = entries[i].green;
          image->palette[i * 3 + 2] = entries[i].red;
        }
      }
    }
    Check(Wexel::png_read_end(png, h.info), 3, __LINE__);
    Basic::MemFree(rows);
    PNGClose_(&h);
    CodecCommon::PassWarnings(__LINE__);
  });
}

void PNGSave(const std::string& fileName, Qimg* image) {
  Errors::Monitored("FF_PNG.PNGSave", [&] {
    Basic::FDelete(fileName);
    FFBasic::FFInitRec prep;
    FFBasic::FFInit(ConForm::kFmtPNG, &prep, image, 1);
    Qimg* img = prep.image;
    // A 32-bit image without any alpha is written as the opaque RGB it is.
    const bool dropFourth = FFBasic::AlphaAllZero(img);
    const int32_t file = FFBasic::FFCreateFile(fileName);
    g_current = file;
    CodecCommon::ClearMessages();
    WriteStructs ws;
    ws.png = Wexel::png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr,
                                            error_handler_, warning_handler_);
    Check(ws.png != nullptr, 7, __LINE__);
    ws.info = Wexel::png_create_info_struct(ws.png);
    Check(ws.info != nullptr, 7, __LINE__);
    Check(Wexel::png_set_compression_level(ws.png, g_level), 6, __LINE__);
    png_set_write_fn(ws.png, nullptr, write_data_, PNGFlushData);
    const int32_t bpp = img->bytesPerPixel;
    const int type = bpp == 1                 ? PNG_COLOR_TYPE_PALETTE
                     : bpp == 4 && !dropFourth ? PNG_COLOR_TYPE_RGB_ALPHA
                                               : PNG_COLOR_TYPE_RGB;
    Check(Wexel::png_set_IHDR(ws.png, ws.info,
                              static_cast<png_uint_32>(img->width),
                              static_cast<png_uint_32>(img->height), 8, type,
                              PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                              PNG_FILTER_TYPE_DEFAULT),
          5, __LINE__);
    if (type == PNG_COLOR_TYPE_PALETTE) {
      png_color palette[256];
      for (int i = 0; i < 256; i++)
        palette[i] = png_color{img->palette[i * 3 + 2], img->palette[i * 3 + 1],
                               img->palette[i * 3 + 0]};
      Check(Wexel::png_set_PLTE(ws.png, ws.info, palette, 256), 5, __LINE__);
    }
    Check(Wexel::png_write_info(ws.png, ws.info), 5, __LINE__);
    Check(Wexel::png_set_bgr(ws.png), 5, __LINE__);
    if (bpp == 4 && dropFourth)
      Check(Wexel::png_set_filler_strip(ws.png), 5, __LINE__);
    png_bytep* rows = nullptr;
    Basic::MemAlloc(rows, static_cast<int64_t>(img->height) * sizeof(png_bytep),
                    __LINE__, Basic::kMemPlain, "FF_PNG.PNGSave.row_pointers");
    const int64_t stride = static_cast<int64_t>(img->width) * bpp;
    for (int32_t y = 0; y < img->height; y++) rows[y] = img->data + stride * y;
    Check(Wexel::png_write_image(ws.png, rows), 5, __LINE__);
    Check(Wexel::png_write_end(ws.png, ws.info), 5, __LINE__);
    ws.Destroy();
    Basic::FClose(file);
    Basic::MemFree(rows);
    FFBasic::FFDone(&prep);
    CodecCommon::PassWarnings(__LINE__);
  });
}

void PNGInfo(const std::string& fileName, ConForm::FFInfoRec* info) {
  Errors::Monitored("FF_PNG.PNGInfo", [&] {
    PngFileRec h;
    ReadStructs structs{&h};
    PNGOpen_(&h, fileName);
    // The depth the loader delivers (see LoaderBytes).
    ConForm::FFInfoStill(info, Basic::FSize64(fileName), h.width, h.height,
                         h.bytesPerPixel, h.bytesPerPixel * 8,
                         "Deflate compression (modified LZ77)", h.width > 0,
                         h.width > 0);
    PNGClose_(&h);
    CodecCommon::PassWarnings(__LINE__);
  });
}

}  // namespace FF_PNG
