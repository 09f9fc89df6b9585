// Helpers of the still-codec tests: test pictures, pixel comparison, and
// ImageMagick as the peer that writes and reads the same files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/ImgBasic.h"

namespace StillPeer {

// Frees a test image on every way out of the test.
struct Image {
  ImgBasic::Qimg img;
  Image() = default;
  ~Image();
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;
  ImgBasic::Qimg* operator->() { return &img; }
  ImgBasic::Qimg* get() { return &img; }
};

// A smooth colour picture: red across, green down, blue diagonal; at 32 bits
// the fourth byte is a horizontal alpha ramp (or 0 when zeroAlpha).
void MakePicture(ImgBasic::Qimg* image, int32_t width, int32_t height,
                 int32_t bits, bool zeroAlpha = false);
// An 8-bit picture of `colours` palette entries in vertical bands.
void MakePaletted(ImgBasic::Qimg* image, int32_t width, int32_t height,
                  int32_t colours);

// The image's pixels as R,G,B(,A) bytes, through its palette at 8 bits.
std::vector<uint8_t> ToRgb(const ImgBasic::Qimg& image, bool withAlpha);

// Largest difference and root mean square of two byte runs of equal size.
int MaxDiff(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
double Rms(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

bool HaveMagick();
bool HaveTool(const char* name);
int Run(const std::string& command);
std::string Capture(const std::string& command);

// ImageMagick reads a file and hands back its pixels as 8-bit samples of
// `map` ("rgb", "rgba" or "gray").
std::vector<uint8_t> PeerRead(const std::string& file, const std::string& map);
// ImageMagick writes `out` from raw 8- or 16-bit samples of `map`, with the
// options between input and output.
void PeerWrite(const std::vector<uint8_t>& samples, int32_t width,
               int32_t height, const std::string& map, int depth,
               const std::string& options, const std::string& out);
// Raw samples of the test picture for PeerWrite.
std::vector<uint8_t> PictureSamples(int32_t width, int32_t height,
                                    bool alpha);

std::vector<uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

// The error pair left behind, in one line for messages.
std::string ErrorLine();

}  // namespace StillPeer

#include "foundation/Errors.h"

// Skips a test that needs ImageMagick where it is not installed.
#define NEED_MAGICK() \
  if (!StillPeer::HaveMagick()) GTEST_SKIP() << "ImageMagick not installed"

namespace StillPeer {
// Runs a monitored routine as a host would: true when it finished, false
// when it failed (its error pair stays behind).
template <class F>
bool Ok(F&& routine) {
  try {
    routine();
    return true;
  } catch (const Errors::EMon&) {
    return false;
  }
}
}  // namespace StillPeer
