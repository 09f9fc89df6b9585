// The still-image codec layer: JPEG and XPM reading and writing, the TIFF
// and PNG interfaces, and the setters of the layer's message callbacks.
//
// The codecs are C libraries. None of their frames ever sees a C++
// exception: the layer reports every library message through the callbacks
// set here (which must return), libjpeg and libpng unwind to a jump point
// inside the layer, and each entry point answers with a result code that
// the caller turns into the library's error after the call has returned.
#pragma once

#include <cstdint>

#include <png.h>
#include <tiffio.h>

// ---- messages ---------------------------------------------------------------

// Receives one message of a codec library; must return normally and must
// not throw.
using WexelMsgProc = void (*)(const char* message);

// Set the receivers of the libraries' error and warning messages (none:
// the messages are dropped). TIFF, JPEG and XPM report through them.
void ExternErrorSet(WexelMsgProc proc);
void ExternWarningSet(WexelMsgProc proc);

// ---- JPEG -------------------------------------------------------------------
// Pixels are in the image record's layout: rows top-down and packed, three
// components as B, G, R, one component as grey. CMYK files are delivered as
// B, G, R. Each returns 0 on success; a file that cannot be opened or
// created fails without a message.

int32_t info_JPEG_file(const char* fileName, int32_t* width, int32_t* height,
                       int32_t* components);
// capacity: bytes available at pixels; a picture that does not fit is
// refused.
int32_t read_JPEG_file(const char* fileName, uint8_t* pixels, int64_t capacity,
                       int32_t* width, int32_t* height, int32_t* components);
int32_t write_JPEG_file(const char* fileName, const uint8_t* pixels,
                        int32_t width, int32_t height, int32_t quality);

// ---- XPM --------------------------------------------------------------------

struct XpmImageDesc {
  int32_t width = 0;
  int32_t height = 0;
  int32_t reserved1 = 0;
  int32_t reserved2 = 0;
  int32_t zero = 0;
  uint8_t* pixels = nullptr;  // 24-bit B, G, R; none: only the size is asked
};

// Without pixels fills width and height; with pixels (and the width and
// height the pixels were sized for) writes the picture. "None" (see-through)
// comes out black. Returns 0 on success.
int32_t ReadXpm(const char* fileName, XpmImageDesc* desc);
int32_t WriteXpm(const char* fileName, const XpmImageDesc* desc);

// ---- PNG --------------------------------------------------------------------
// The libpng calls that can fail, each run under the layer's own jump point:
// true when the call completed, false when libpng gave up (its message has
// gone to the structure's error callback, which must return normally).
// Structures must be made and destroyed through this layer.
namespace Wexel {

png_structp png_create_read_struct(const char* version, png_voidp errorPtr,
                                   png_error_ptr errorFn,
                                   png_error_ptr warningFn);
png_structp png_create_write_struct(const char* version, png_voidp errorPtr,
                                    png_error_ptr errorFn,
                                    png_error_ptr warningFn);
png_infop png_create_info_struct(png_structp png);
void png_destroy_read_struct(png_structpp png, png_infopp info);
void png_destroy_write_struct(png_structpp png, png_infopp info);

bool png_read_info(png_structp png, png_infop info);
bool png_set_strip_16(png_structp png);
bool png_set_packing(png_structp png);
bool png_set_bgr(png_structp png);
bool png_set_gray_to_rgb(png_structp png);
bool png_set_interlace_handling(png_structp png);
bool png_read_update_info(png_structp png, png_infop info);
bool png_read_image(png_structp png, png_bytepp rows);
bool png_read_end(png_structp png, png_infop info);

bool png_set_IHDR(png_structp png, png_infop info, png_uint_32 width,
                  png_uint_32 height, int bitDepth, int colourType,
                  int interlace, int compression, int filter);
bool png_set_PLTE(png_structp png, png_infop info, png_const_colorp palette,
                  int count);
bool png_write_info(png_structp png, png_infop info);
bool png_set_compression_level(png_structp png, int level);
// Drops the fourth byte of each 4-byte pixel while writing RGB.
bool png_set_filler_strip(png_structp png);
bool png_write_image(png_structp png, png_bytepp rows);
bool png_write_end(png_structp png, png_infop info);

}  // namespace Wexel
