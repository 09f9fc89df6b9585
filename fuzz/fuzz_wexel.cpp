// The still codec layer's own readers, under the units that use them: the
// JPEG description and read into a block of the size described, and the
// XPM size query and read. The first input byte picks the codec.
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/Wexel.h"

namespace {
void Drop(const char*) {}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  FuzzSupport::StartLibraryOnce();
  ExternErrorSet(Drop);
  ExternWarningSet(Drop);
  const bool jpeg = (data[0] & 1) == 0;
  const std::string name = FuzzSupport::InputFile(data + 1, size - 1, jpeg ? ".jpg" : ".xpm");
  FuzzSupport::LeakCheck leaks;
  constexpr int64_t kMaxBytes = int64_t{64} << 20;
  if (jpeg) {
    int32_t w = 0, h = 0, c = 0;
    if (info_JPEG_file(name.c_str(), &w, &h, &c) != 0) return 0;
    if (w < 1 || h < 1 || (c != 1 && c != 3)) std::abort();
    const int64_t bytes = int64_t{w} * h * c;
    // A smaller block than described must be refused, not overrun.
    std::vector<uint8_t> pixels(static_cast<size_t>(std::min(bytes, kMaxBytes)));
    const int64_t capacity = (data[0] & 2) ? static_cast<int64_t>(pixels.size()) / 2
                                           : static_cast<int64_t>(pixels.size());
    read_JPEG_file(name.c_str(), pixels.data(), capacity, &w, &h, &c);
  } else {
    XpmImageDesc desc;
    if (ReadXpm(name.c_str(), &desc) != 0) return 0;
    if (desc.width < 1 || desc.height < 1) std::abort();
    const int64_t bytes = int64_t{desc.width} * desc.height * 3;
    if (bytes > kMaxBytes) return 0;
    std::vector<uint8_t> pixels(static_cast<size_t>(bytes));
    desc.pixels = pixels.data();
    ReadXpm(name.c_str(), &desc);
  }
  return 0;
}
