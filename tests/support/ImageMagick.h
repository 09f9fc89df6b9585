// Runs ImageMagick's convert on small 24-bit pictures exchanged as binary
// PPM files, so tests can hold the library's geometry against a peer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace TestSupport {

// Pixels top-down, R,G,B per pixel.
struct RgbPicture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgb;
};

bool HaveConvert();
// Runs "convert in.ppm <args> out.ppm" on a picture; false when the tool
// fails or its output cannot be read.
bool RunConvert(const RgbPicture& in, const std::vector<std::string>& args,
                RgbPicture& out);

}  // namespace TestSupport
