// The AVI video codec dialog: which installed codec compresses the frames,
// its quality, key-frame rate and data rate, and the author texts the AVI
// writer stores in the file.
#pragma once

#include <cstdint>
#include <string>

namespace wDlgAVI {

constexpr int32_t kAuthorTextCount = 7;
constexpr size_t kMaxAuthorText = 255;
// Artist, Comment, Copyright, Engineer, Name, Product, Subject.
using AuthorTexts = std::string[kAuthorTextCount];

// Shows the codecs for frames of width x height at bits per pixel. True
// only for OK: then the edited settings are the current codec settings and
// texts holds the edited author texts; otherwise nothing changes (except
// that "System Defaults..." rebuilds the codec list for good).
bool DlgAVI(int32_t width, int32_t height, int32_t bits, AuthorTexts& texts);

}  // namespace wDlgAVI
