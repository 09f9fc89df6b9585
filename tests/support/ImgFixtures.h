// Small helpers for tests of image records: fill a record from a byte list,
// read its pixels back, and check that every tracked block was returned.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "foundation/Basic.h"
#include "media/ImgBasic.h"

namespace TestSupport {

// Gives img a w×h block at bits and copies bytes (packed rows) into it.
inline void Fill(ImgBasic::Qimg* img, int32_t w, int32_t h, int32_t bits,
                 const std::vector<uint8_t>& bytes) {
  ImgBasic::_imgalloc_(img, w, h, "test.img", __LINE__, bits);
  ASSERT_EQ(bytes.size(), static_cast<size_t>(w) * h * img->bytesPerPixel);
  std::copy(bytes.begin(), bytes.end(), img->data);
}

inline std::vector<uint8_t> Pixels(const ImgBasic::Qimg& img) {
  return std::vector<uint8_t>(
      img.data, img.data + static_cast<int64_t>(img.width) * img.height *
                               img.bytesPerPixel);
}

// Frees the records it is given when the test ends, then expects the tracked
// memory table to be empty.
class ImgTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (ImgBasic::Qimg* img : owned_) ImgBasic::ImgFree(img);
    EXPECT_EQ(Basic::MemMark(), 0) << "tracked blocks left behind";
  }
  ImgBasic::Qimg* New() {
    owned_.push_back(new ImgBasic::Qimg);
    return owned_.back();
  }
  ~ImgTest() override {
    for (ImgBasic::Qimg* img : owned_) delete img;
  }

 private:
  std::vector<ImgBasic::Qimg*> owned_;
};

}  // namespace TestSupport
