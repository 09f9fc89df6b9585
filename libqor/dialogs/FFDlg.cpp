#include "dialogs/FFDlg.h"

#include <cmath>
#include <initializer_list>
#include <string>
#include <utility>

#include "dialogs/wDlgBit.h"
#include "dialogs/wDlgChoose.h"
#include "dialogs/wDlgKWB.h"
#include "dialogs/wDlgMPG.h"
#include "dialogs/wDlgOne.h"
#include "foundation/Errors.h"
#include "foundation/VCLUtils.h"

namespace FFDlg {
namespace {

constexpr int32_t kMpegMinRate = 1;
constexpr int32_t kMpegMaxRate = 102400;

// The procedure's body in a quiet frame; an error it leaves pending (also
// one the dialog's own quiet frame caught, which leaving this frame would
// clear) is shown once, and makes the result false.
template <class Body>
bool Framed(const char* name, Body&& body) {
  bool ok = false;
  std::string failure;
  Errors::MonitoredQuiet(name, [&] {
    ok = body();
    if (!Errors::ErrNone()) failure = Errors::ErrLastText();
  });
  if (!Errors::ErrNone()) failure = Errors::ErrLastText();
  if (failure.empty()) return ok;
  VCLUtils::ShowErrorBox(failure);
  return false;
}

using Row = std::pair<const char*, int32_t>;

bool Choose(const char* frame, const char* caption, std::initializer_list<Row> rows,
            int32_t& value) {
  return Framed(frame, [&] {
    wDlgChoose::ChoiceRec rec;
    rec.caption = caption;
    for (const Row& row : rows) {
      rec.items[rec.count] = row.first;
      rec.values[rec.count++] = row.second;
    }
    rec.chosen = value;
    if (!wDlgChoose::DlgSelect(rec)) return false;
    value = rec.chosen;
    return true;
  });
}

const std::initializer_list<Row> kRleRows = {{"RLE Compressed", 1}, {"Uncompressed", 0}};

// A whole number on a slider of step 1 and no decimals; out receives the
// slider's value through take.
template <class Take>
bool Slide(const char* frame, const char* caption, const char* group, double min,
           double max, double page, double value, Take&& take) {
  return Framed(frame, [&] {
    wDlgOne::DlgOneParams p;
    p.caption = caption;
    p.groupCaption = group;
    p.min = min;
    p.max = max;
    p.step = 1.0;
    p.page = page;
    p.decimals = 0;
    p.value = value;
    if (!wDlgOne::DlgOne(p)) return false;
    take(p.value);
    return true;
  });
}

int32_t Nearest(double v) { return static_cast<int32_t>(std::lround(v)); }

}  // namespace

bool FFDlgTGA(int32_t& codec) {
  return Choose("FFDlg.FFDlgTGA", "TGA Compression", kRleRows, codec);
}

bool FFDlgTIF(int32_t& compression) {
  return Choose("FFDlg.FFDlgTIF", "TIFF Compression",
                {{"PackBits (Macintosh RLE)", 32773},
                 {"JPEG DCT", 7},
                 {"Deflate (ZIP)", 32946},
                 {"CCITT modified Huffman RLE", 2},
                 {"CCITT Group 3 fax encoding", 3},
                 {"CCITT Group 4 fax encoding", 4},
                 {"LZW Compressed", 5},
                 {"Uncompressed", 1}},
                compression);
}

bool FFDlgSGI(int32_t& codec) {
  return Choose("FFDlg.FFDlgSGI", "SGI Compression", kRleRows, codec);
}

bool FFDlgRAS(int32_t& codec) {
  return Choose("FFDlg.FFDlgRAS", "RAS Compression", kRleRows, codec);
}

bool FFDlgPNM(int32_t& codec) {
  return Choose("FFDlg.FFDlgPNM", "PNM Format",
                {{"Binary Encoded", 0}, {"ASCII Encoded", 1}}, codec);
}

bool FFDlgJPG(int32_t& quality) {
  return Slide("FFDlg.FFDlgJPG", "JPEG Quality", "", 0, 100, 5, quality,
               [&](double v) { quality = Nearest(v); });
}

bool FFDlgPNG(int32_t& level) {
  return Slide("FFDlg.FFDlgPNG", "PNG Compression Level", "", 0, 9, 1, level,
               [&](double v) { level = Nearest(v); });
}

bool FFDlgOGG(int32_t& quality, int32_t min, int32_t max) {
  return Slide("FFDlg.FFDlgOGG", "Ogg Vorbis Audio", "Quality", min, max, 1, quality,
               [&](double v) { quality = static_cast<int32_t>(std::trunc(v)); });
}

bool FFDlgKWB(int32_t& codec, int32_t& keyFrameRate) {
  return Framed("FFDlg.FFDlgKWB", [&] {
    wDlgKWB::KwbDlgRec rec;
    rec.caption = "KWB Settings";
    rec.methods[0] = "FAST Codec";
    rec.methodValues[0] = 1;
    rec.methods[1] = "BEST Codec";
    rec.methodValues[1] = 0;
    rec.chosen = codec;
    rec.keyFrameRate = keyFrameRate;
    if (!wDlgKWB::DlgKWB(rec)) return false;
    codec = rec.chosen;
    keyFrameRate = rec.keyFrameRate;
    return true;
  });
}

bool FFDlgMPG(int32_t& type, int32_t& bitRate) {
  return Framed("FFDlg.FFDlgMPG", [&] {
    wDlgMPG::MpgDlgRec rec;
    rec.caption = "MPEG Compression";
    rec.type = type;
    rec.minRate = kMpegMinRate;
    rec.maxRate = kMpegMaxRate;
    rec.bitRate = bitRate;
    if (!wDlgMPG::DlgMPG(rec)) return false;
    type = rec.type;
    bitRate = rec.bitRate;
    return true;
  });
}

bool FFDlgMPA(int32_t& bitRate, int32_t min, int32_t max) {
  return Framed("FFDlg.FFDlgMPA", [&] {
    wDlgBit::BitDlgRec rec;
    rec.caption = "MPEG Audio Bit Rate";
    rec.minRate = min;
    rec.maxRate = max;
    rec.bitRate = bitRate;
    if (!wDlgBit::DlgBit(rec)) return false;
    bitRate = rec.bitRate;
    return true;
  });
}

}  // namespace FFDlg
