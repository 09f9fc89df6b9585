// The interface target: the fuzzer's bytes become a careless and hostile
// host's calls of the C interface. Handles are kept in slots after they are
// freed, so frees come twice and freed, foreign and wrong-kind handles come
// back to every export; numbers come from tables of absurd values (sizes,
// depths, rates, times, frame numbers, NaN and infinities). Every buffer the
// host passes is a real buffer of the size the call needs: a fault is the
// library's, never the harness's. Source files are small files this process
// writes once with the library itself; outputs go to a folder of their own.
// A conversion's callbacks read their answers from the same bytes and may
// call back into the library; the progress callback stops the conversion
// after a few dozen steps, so absurd rates and lengths cost no more than
// small ones.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "engine/QorMain.h"
#include "formats/FF_GIF.h"
#include "fuzz/FuzzSupport.h"
#include "qor.h"

namespace FuzzApi {

// ---- the bytes ---------------------------------------------------------------

class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ >= size_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  template <class T, size_t N>
  T Pick(const T (&table)[N]) {
    return table[Byte() % N];
  }
  bool Flag() { return (Byte() & 1) != 0; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

constexpr int32_t kMaxI = std::numeric_limits<int32_t>::max();
constexpr int32_t kMinI = std::numeric_limits<int32_t>::min();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const int32_t kSizes[] = {0, -1, -77, 1, 2, 3, 5, 16, 33, 200, 40000, kMaxI, kMinI, K_AUTO};
const int32_t kDepths[] = {0, 1, 4, 8, 15, 16, 24, 32, 33, -8, 64, K_AUTO, kMaxI};
const int32_t kInts[] = {0, -1, 1, 2, 3, 4, 7, 100, 255, 256, 1000, 65536,
                         kMaxI, kMinI, K_AUTO, -100000};
const int32_t kRates[] = {0, -1, 1, 8000, 11025, 22050, 44100, 48000, 96000, kMaxI, kMinI, K_AUTO};
const int32_t kChannels[] = {0, -1, 1, 2, 3, 8, 255, kMaxI, K_AUTO};
const int32_t kBits[] = {0, -1, 4, 8, 12, 16, 24, 32, 64, kMaxI, K_AUTO};
const int32_t kFrames[] = {0, -1, 1, 2, 3, 1000, kMaxI, kMinI, K_AUTO};
const double kReals[] = {0.0, -1.0, 1e-300, 0.5, 1.0, 10.0, 29.97, 30.0, 1e5, 1e12, 1e300,
                         -1e300, kInf, -kInf, kNaN, static_cast<double>(K_AUTO)};
const int32_t kColours[] = {0, 0xFFFFFF, 0x0000FF, -1, 0x1234567, K_AUTO};
const int32_t kFormats[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18,
                            20, 25, 32, 99, -1, K_AUTO};

// Sizes that keep the work of one call small; a product that would need a
// large but possible block is made absurd instead (a host may ask for it,
// but its refusal is what the fuzzer is after, not the work).
constexpr int64_t kSmallBytes = int64_t{8} << 20;

void KeepSmall(int32_t* w, int32_t* h) {
  if (*w > 0 && *h > 0 && int64_t{*w} * *h > kSmallBytes / 4) *h = kMaxI;
}

// a x b x c for positive 32-bit factors, or -1 beyond 2^40 (no overflow).
int64_t Product(int64_t a, int64_t b, int64_t c) {
  if (a <= 0 || b <= 0 || c <= 0) return 0;
  const int64_t ab = a * b;
  return ab > (int64_t{1} << 40) / c ? -1 : ab * c;
}

// Bytes of n sample frames of that many channels and bits; -1 when huge.
int64_t SampleBytes(int32_t n, int32_t channels, int32_t bits) {
  return Product(n, channels, (int64_t{bits} + 7) / 8);
}

// Bytes a pixel buffer of that size and depth needs; -1 when no real buffer
// can be made for it (then the call is made only where the library must
// refuse the size before reading).
int64_t PixelBytes(int32_t w, int32_t h, int32_t bpp) {
  const int64_t per = bpp == 8 ? 1 : (bpp == 15 || bpp == 16) ? 2 : bpp == 24 ? 3 : 4;
  const int64_t bytes = Product(w, h, per);
  return bytes <= kSmallBytes ? bytes : -1;
}

// ---- the files ---------------------------------------------------------------------

struct Files {
  std::string dir;
  std::vector<std::string> inputs;   // readable, unreadable, missing, odd names
  std::vector<std::string> outputs;  // in a folder of their own
  std::vector<std::string> specs;    // list patterns
};

void WriteRaw(const std::string& name, const std::string& bytes) {
  if (FILE* f = std::fopen(name.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
}

// A small picture and sound, written through the interface into each
// format the sources are read from.
void WriteSources(const std::string& in) {
  std::vector<uint8_t> pixels(12 * 9 * 3);
  for (size_t i = 0; i < pixels.size(); i++) pixels[i] = static_cast<uint8_t>(i * 7);
  QorHandle img = QorImgAlloc();
  QorImgSetPixels(img, 12, 9, 24, pixels.data(), nullptr);
  for (const char* ext : {".bmp", ".png", ".gif", ".tga", ".pcx", ".ppm", ".jpg", ".tif"})
    QorImgSaveSingle(img, (in + "/still" + ext).c_str(), K_AUTO);
  for (int n = 0; n < 3; n++)
    QorImgSaveSingle(img, (in + "/seq00" + std::to_string(n) + ".bmp").c_str(), K_AUTO);
  std::vector<int16_t> samples(800);
  for (size_t i = 0; i < samples.size(); i++) samples[i] = static_cast<int16_t>(i * 97);
  QorHandle snd = QorSndAlloc();
  QorSndSetSamples(snd, 400, 8000, 2, 16, samples.data());
  for (const char* ext : {".avi", ".kwb"}) {
    QorHandle f = QorFileCreate((in + "/movie" + ext).c_str());
    QorFileSetVideoParams(f, 12, 9, 24, 10.0, K_AUTO, K_AUTO, K_AUTO);
    QorFileSetAudioParams(f, 8000, 2, 16, K_AUTO);
    for (int n = 0; n < 3; n++) QorImgSave(img, f);
    QorSndSave(snd, f);
    QorFileClose(f);
  }
  QorHandle wav = QorFileCreate((in + "/sound.wav").c_str());
  QorFileSetAudioParams(wav, 8000, 2, 16, K_AUTO);
  QorSndSave(snd, wav);
  QorFileClose(wav);
  QorSndFree(snd);
  QorImgFree(img);
  WriteRaw(in + "/junk.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\xff\xff", 18));
  WriteRaw(in + "/empty.avi", "");
  WriteRaw(in + "/text.wav", "RIFF....WAVEfmt nothing here");
}

const Files& TheFiles() {
  static const Files files = [] {
    Files f;
    const char* tmp = getenv("TMPDIR");
    f.dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/qorfuzz-api-" + std::to_string(getpid());
    const std::string in = f.dir + "/in", out = f.dir + "/out";
    mkdir(f.dir.c_str(), 0700);
    // Gone with the process (a copy of the name outlives the record).
    static const std::string* const removed = new std::string(f.dir);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(*removed, ec);
    });
    mkdir(in.c_str(), 0700);
    mkdir(out.c_str(), 0700);
    WriteSources(in);
    for (const char* name : {"still.bmp", "still.png", "still.gif", "still.tga", "still.pcx",
                             "still.ppm", "still.jpg", "still.tif", "seq000.bmp", "movie.avi",
                             "movie.kwb", "sound.wav", "junk.png", "empty.avi", "text.wav",
                             "missing.bmp", ""})
      f.inputs.push_back(in + "/" + name);
    f.inputs.push_back(in);  // a folder
    f.inputs.push_back("");
    for (const char* name : {"o.bmp", "o.png", "o.gif", "o.tga", "o.jpg", "o.tif", "o.avi",
                             "o.kwb", "o.flc", "o.wav", "o.ogg", "o.mpg", "o000.ppm", "o.xyz",
                             "no-folder/o.bmp", "o"})
      f.outputs.push_back(out + "/" + name);
    f.outputs.push_back(out);  // a folder
    f.outputs.push_back("");
    f.specs = {in + "/*", in + "/*.bmp;" + in + "/*.wav", in + "/seq*.bmp", in + "/missing*",
               "", in + "/[", out + "/*"};
    return f;
  }();
  return files;
}

// ---- the handles ---------------------------------------------------------------------

enum Kind { kImg, kSnd, kText, kList, kRec, kFile, kKinds };

struct Slot {
  QorHandle h = nullptr;
  Kind kind = kImg;
};

constexpr int kSlots = 12;

// The last slot holds the image or sound a frame or sound callback is lent,
// while that callback runs.
constexpr int kLentSlot = kSlots - 1;

struct Host {
  explicit Host(Bytes& bytes) : in(bytes) {}
  Bytes& in;
  Slot slots[kSlots];
  std::vector<QorHandle> made;  // every handle handed out, freed or not
  uint8_t foreign[4096] = {};
  int depth = 0;        // nested calls from callbacks
  int framesSeen = 0;   // by the conversion's frame and sound callbacks
  int blocksGiven = 0;  // by its source callbacks
  bool progressActs = false;  // the progress callback calls more than QorAbort
};

Host* g_host = nullptr;

// A handle for an export: a slot's (live, freed, or of another kind), nil,
// or one the library never made.
QorHandle PickHandle(Host& host) {
  const uint8_t b = host.in.Byte();
  if (b < 200) return host.slots[b % kSlots].h;
  switch (b % 5) {
    case 0:
      return nullptr;
    case 1:
      return host.foreign;
    case 2:
      return reinterpret_cast<QorHandle>(static_cast<intptr_t>(K_AUTO));
    case 3: {
      // Inside a block the library made.
      uint8_t* live = static_cast<uint8_t*>(host.slots[host.in.Byte() % kSlots].h);
      return live ? live + 8 : nullptr;
    }
    default:
      return host.foreign + 1;
  }
}

const char* PickInput(Host& host) {
  const Files& f = TheFiles();
  const uint8_t b = host.in.Byte();
  return b == 255 ? nullptr : f.inputs[b % f.inputs.size()].c_str();
}

const char* PickOutput(Host& host) {
  const Files& f = TheFiles();
  const uint8_t b = host.in.Byte();
  return b == 255 ? nullptr : f.outputs[b % f.outputs.size()].c_str();
}

const char* PickText(Host& host) {
  static const char* const texts[] = {"", "Ag", "INAM", "cvid", "x", "Arial", "no such font",
                                      "a\nb\r\nc", "\xff\xfe", nullptr};
  return host.in.Pick(texts);
}

// ---- the calls -------------------------------------------------------------------------

void Op(Host& host);

// A few calls from inside a callback, on the callback's thread.
void NestedOps(Host& host) {
  if (host.depth >= 2) return;
  host.depth++;
  const int n = host.in.Byte() % 3;
  for (int i = 0; i < n && !host.in.Empty(); i++) Op(host);
  host.depth--;
}

void QOR_CALL SourceCallback(QorHandle mData, int32_t blockNum) {
  Host& host = *g_host;
  if (host.blocksGiven++ > 8 || host.in.Empty()) {
    QorSrcFinished(mData);
    return;
  }
  switch (host.in.Byte() % 10) {
    case 0:
      QorSrcFinished(mData);
      break;
    case 1:
    case 2:
      QorSrcSetFile(mData, PickInput(host));
      break;
    case 3: {
      int32_t w = host.in.Pick(kSizes), h = host.in.Pick(kSizes);
      const int32_t bpp = host.in.Pick(kDepths);
      KeepSmall(&w, &h);
      const int64_t bytes = PixelBytes(w, h, bpp);
      std::vector<uint8_t> pixels(static_cast<size_t>(bytes > 0 ? bytes : 16), 90);
      std::vector<uint8_t> palette(768, 40);
      if (bytes >= 0 || h == kMaxI)
        QorSrcSetPixels(mData, host.in.Flag() ? pixels.data() : nullptr,
                        host.in.Flag() ? palette.data() : nullptr, w, h, bpp);
      break;
    }
    case 4: {
      int32_t n = host.in.Pick(kInts);
      const int32_t rate = host.in.Pick(kRates), ch = host.in.Pick(kChannels),
                    bits = host.in.Pick(kBits);
      const bool withSamples = host.in.Flag();
      const int64_t bytes = SampleBytes(n, ch, bits);
      if (withSamples && (bytes < 0 || bytes > kSmallBytes)) n = 0;
      std::vector<uint8_t> samples(static_cast<size_t>(withSamples && n > 0 ? bytes : 16), 7);
      QorSrcSetSamples(mData, withSamples ? samples.data() : nullptr, n, rate, ch, bits);
      break;
    }
    case 5:
      QorSrcSetImg(mData, PickHandle(host));
      break;
    case 6: {
      QorHandle dib = QorImgToDIB(PickHandle(host));
      QorSrcSetDIB(mData, dib);
      if (dib) QorReleaseDIB(dib);
      break;
    }
    case 7:
      QorSrcSkip(mData);
      break;
    default:
      NestedOps(host);
  }
  // The block's range and pace, from the same bytes.
  const uint8_t extras = host.in.Byte();
  if (extras & 1) QorSrcSetStart(mData, host.in.Pick(kFrames));
  if (extras & 2) QorSrcSetLen(mData, host.in.Pick(kFrames));
  if (extras & 4) QorSrcSetStartTime(mData, host.in.Pick(kReals));
  if (extras & 8) QorSrcSetLenTime(mData, host.in.Pick(kReals));
  if (extras & 16) QorSrcSetFrameRate(mData, host.in.Pick(kReals));
  if (extras & 32) QorSrcSetDirection(mData, host.in.Pick(kInts));
  (void)blockNum;
}

// Stops the conversion after a few dozen frames, sound slices and steps.
void CountAndMaybeStop(Host& host, QorHandle mData) {
  if (++host.framesSeen > 60) QorAbort(mData);
}

// The lent handle sits in the last slot while the callback runs.
class Lent {
 public:
  Lent(Host& host, QorHandle h, Kind kind) : host_(host), kept_(host.slots[kLentSlot]) {
    host.slots[kLentSlot] = {h, kind};
  }
  ~Lent() { host_.slots[kLentSlot] = kept_; }

 private:
  Host& host_;
  Slot kept_;
};

void QOR_CALL VideoFuncCallback(QorHandle mData, QorHandle mImg, int32_t) {
  Host& host = *g_host;
  Lent lent(host, mImg, kImg);
  CountAndMaybeStop(host, mData);
  switch (host.in.Byte() % 6) {
    case 0:
      QorImgFree(mImg);  // lent, not the host's: refused
      break;
    case 1:
      QorImgSkip(mImg);
      break;
    case 2:
      QorImgRotate(mImg, host.in.Pick(kInts));
      break;
    case 3:
      NestedOps(host);
      break;
    default:
      break;
  }
}

void QOR_CALL AudioFuncCallback(QorHandle mData, QorHandle mSnd, int32_t) {
  Host& host = *g_host;
  Lent lent(host, mSnd, kSnd);
  CountAndMaybeStop(host, mData);
  switch (host.in.Byte() % 5) {
    case 0:
      QorSndFree(mSnd);
      break;
    case 1:
      QorSndResample(mSnd, host.in.Pick(kRates), host.in.Pick(kChannels), host.in.Pick(kBits));
      break;
    case 2:
      NestedOps(host);
      break;
    default:
      break;
  }
}

// Always assigned: a host asked for an endless block (a silence of 1e300
// seconds, a frame repeated without end) stops it here, after a few dozen
// steps. Whether it does more comes from the bytes.
void QOR_CALL ProgressCallback(QorHandle mData, int32_t, int32_t, int32_t) {
  Host& host = *g_host;
  CountAndMaybeStop(host, mData);
  if (!host.progressActs) return;
  switch (host.in.Byte() % 8) {
    case 0:
      QorAbort(mData);
      break;
    case 1:
      QorGetStatus(mData);
      QorGetRemainingTime(mData, host.in.Pick(kInts), host.in.Pick(kInts));
      break;
    case 2:
      NestedOps(host);
      break;
    default:
      break;
  }
}

void QOR_CALL ErrorCallback(QorHandle, const char*, int32_t* action) {
  *action = g_host->in.Pick(kInts);
}

void AssignCallbacks(Host& host, QorHandle rec) {
  const uint8_t which = host.in.Byte();
  QorAssignVideoSource(rec, which & 1 ? SourceCallback : nullptr);
  QorAssignAudioSource(rec, which & 2 ? SourceCallback : nullptr);
  QorAssignVideoFunc(rec, which & 4 ? VideoFuncCallback : nullptr);
  QorAssignAudioFunc(rec, which & 8 ? AudioFuncCallback : nullptr);
  QorAssignProgress(rec, ProgressCallback);
  host.progressActs = (which & 16) != 0;
  QorAssignError(rec, which & 32 ? ErrorCallback : nullptr);
}

void Convert(Host& host) {
  QorHandle rec = PickHandle(host);
  if (host.in.Flag()) AssignCallbacks(host, rec);
  host.framesSeen = 0;
  host.blocksGiven = 0;
  QorConvert(rec);
}

void Alloc(Host& host) {
  Slot& s = host.slots[host.in.Byte() % kLentSlot];
  s.kind = static_cast<Kind>(host.in.Byte() % kKinds);
  switch (s.kind) {
    case kImg:
      s.h = QorImgAlloc();
      break;
    case kSnd:
      s.h = QorSndAlloc();
      break;
    case kText:
      s.h = QorTextAlloc();
      break;
    case kList:
      s.h = QorListAlloc();
      break;
    case kRec:
      s.h = QorAlloc();
      break;
    default: {
      QorFileInfo info;
      s.h = host.in.Flag() ? QorFileCreate(PickOutput(host))
                           : QorFileOpen(PickInput(host), host.in.Pick(kInts), &info, nullptr,
                                         nullptr);
    }
  }
  if (s.h) host.made.push_back(s.h);
}

// Any free export on any handle: twice, on the wrong kind, on foreign ones.
void Free(Host& host) {
  QorHandle h = PickHandle(host);
  switch (host.in.Byte() % kKinds) {
    case kImg:
      QorImgFree(h);
      break;
    case kSnd:
      QorSndFree(h);
      break;
    case kText:
      QorTextFree(h);
      break;
    case kList:
      QorListFree(h);
      break;
    case kRec:
      QorFree(h);
      break;
    default:
      QorFileClose(h);
  }
}

// The size and depth of an image as the library reports it (0 when the
// handle is refused; the status may read 1000 for a pair an earlier call
// left pending, so the values, not the status, tell).
struct ImgInfo {
  int32_t w = 0, h = 0, bpp = 0, bytes = 0;
};

ImgInfo InfoOf(QorHandle img) {
  ImgInfo i;
  void* pixels = nullptr;
  void* palette = nullptr;
  QorImgGetInfo(img, &i.w, &i.h, &i.bpp, &i.bytes, &pixels, &palette);
  return i;
}

void ImageOp(Host& host) {
  QorHandle img = PickHandle(host);
  int32_t w = host.in.Pick(kSizes), h = host.in.Pick(kSizes);
  KeepSmall(&w, &h);
  switch (host.in.Byte() % 40) {
    case 0:
      QorImgLoadSingle(img, PickInput(host), host.in.Pick(kFrames));
      break;
    case 1:
      QorImgSaveSingle(img, PickOutput(host), host.in.Pick(kInts));
      break;
    case 2:
      QorImgCopy(img, PickHandle(host));
      break;
    case 3:
      QorImgRedim(img, w, h, host.in.Pick(kDepths));
      break;
    case 4:
      QorImgClear(img, host.in.Pick(kColours));
      break;
    case 5: {
      const int32_t bpp = host.in.Pick(kDepths);
      const int64_t bytes = PixelBytes(w, h, bpp);
      if (bytes < 0 && h != kMaxI) break;
      std::vector<uint8_t> pixels(static_cast<size_t>(bytes > 0 ? bytes : 16), 0x5A);
      std::vector<uint8_t> palette(768, 0x33);
      QorImgSetPixels(img, w, h, bpp, host.in.Flag() ? pixels.data() : nullptr,
                      host.in.Flag() ? palette.data() : nullptr);
      break;
    }
    case 6: {
      const ImgInfo i = InfoOf(img);
      std::vector<uint8_t> pixels(static_cast<size_t>(i.bytes > 0 ? i.bytes : 16));
      std::vector<uint8_t> palette(768);
      QorImgGetPixels(img, pixels.data(), host.in.Flag() ? palette.data() : nullptr);
      break;
    }
    case 7: {
      int32_t r, g, b;
      QorImgGetPixelRGB(img, host.in.Pick(kInts), host.in.Pick(kInts), &r, &g, &b);
      break;
    }
    case 8:
      QorImgGamma(img, host.in.Pick(kReals), host.in.Pick(kReals), host.in.Pick(kReals));
      break;
    case 9:
      QorImgBrightness(img, host.in.Pick(kInts), host.in.Pick(kInts), host.in.Pick(kInts));
      break;
    case 10:
      QorImgContrast(img, host.in.Pick(kInts), host.in.Pick(kInts), host.in.Pick(kInts));
      break;
    case 11:
      QorImgSaturation(img, host.in.Pick(kInts));
      break;
    case 12:
      QorImgWhiteBalance(img, host.in.Pick(kInts), host.in.Pick(kInts), host.in.Pick(kInts));
      break;
    case 13:
      QorImgSoften(img);
      QorImgFindEdges(img);
      break;
    case 14:
      QorImgSharpen(img);
      QorImgEdgeEnhance(img);
      break;
    case 15:
      QorImgResize(img, w, h);
      break;
    case 16:
      QorImgResample(img, w, h);
      break;
    case 17: {
      int32_t l = host.in.Pick(kSizes), t = host.in.Pick(kSizes), r = host.in.Pick(kSizes),
              b = host.in.Pick(kSizes);
      const ImgInfo i = InfoOf(img);
      // A legitimately large result (borders are taken up to 16000) is
      // left out.
      auto side = [](int32_t v) { return std::clamp(v, 0, 16000); };
      const int64_t ow = int64_t{i.w} + side(l) + side(r), oh = int64_t{i.h} + side(t) + side(b);
      if (ow * oh > kSmallBytes / 4) break;
      QorImgBorder(img, l, t, r, b, host.in.Pick(kColours));
      break;
    }
    case 18: {
      std::vector<uint8_t> tables(768);
      for (size_t k = 0; k < tables.size(); k++) tables[k] = static_cast<uint8_t>(255 - k);
      QorImgRemap(img, host.in.Flag() ? &tables[0] : nullptr, &tables[256],
                  host.in.Flag() ? &tables[512] : nullptr);
      break;
    }
    case 19:
      QorImgCrop(img, host.in.Pick(kInts), host.in.Pick(kInts), w, h);
      break;
    case 20:
      QorImgRotate(img, host.in.Pick(kInts));
      break;
    case 21:
      QorImgFlipVertical(img);
      QorImgFlipHorizontal(img);
      break;
    case 22:
      QorImgInsert(img, PickHandle(host), host.in.Pick(kInts), host.in.Pick(kInts));
      break;
    case 23:
      QorImgAverageClear();
      break;
    case 24:
      QorImgAverageAdd(img);
      break;
    case 25:
      QorImgAverageGet(img);
      break;
    case 26:
      QorImgDeinterlace(img, host.in.Pick(kInts), host.in.Pick(kInts));
      break;
    case 27: {
      std::vector<uint8_t> palette(768);
      for (size_t k = 0; k < palette.size(); k++) palette[k] = static_cast<uint8_t>(k * 3);
      QorImgRemapToCustomPalette(img, host.in.Flag() ? palette.data() : nullptr,
                                 host.in.Pick(kInts));
      break;
    }
    case 28:
      QorImgSkip(img);
      break;
    case 29:
    case 30: {
      // A surface the host owns, drawn into at absurd places.
      int32_t sw = host.in.Pick(kSizes), sh = host.in.Pick(kSizes);
      const int64_t surfaceBytes = Product(sw, sh, 4);
      if (surfaceBytes <= 0 || surfaceBytes > kSmallBytes) sw = 7, sh = 5;
      std::vector<uint8_t> pixels(static_cast<size_t>(sw) * sh * 4);
      QorSurface surface{pixels.data(), sw, sh, sw * 4};
      QorSurface* dc = host.in.Byte() < 240 ? &surface : nullptr;
      const int32_t x = host.in.Pick(kInts), y = host.in.Pick(kInts);
      if (host.in.Flag())
        QorImgShow(img, dc, x, y);
      else
        QorImgShowInRect(img, dc, x, y, host.in.Pick(kInts), host.in.Pick(kInts), host.in.Flag());
      QorClearCanvas(dc, x, y, host.in.Pick(kInts), host.in.Pick(kInts), host.in.Pick(kColours));
      break;
    }
    case 31: {
      QorHandle dib = QorImgToDIB(img);
      if (dib) {
        QorDIBToImg(PickHandle(host), dib);
        QorReleaseDIB(dib);
      }
      QorHandle win3 = QorImgToDIBWin3(img);
      if (win3) QorReleaseDIBWin3(win3);
      QorDIBToImg(img, nullptr);
      break;
    }
    case 32: {
      if (h == kMaxI) break;
      std::vector<uint8_t> raw(static_cast<size_t>(w > 0 && h > 0 ? int64_t{w} * h : 16), 0x80);
      QorBayerToImg(img, host.in.Flag() ? raw.data() : nullptr, w, h, host.in.Pick(kInts),
                    host.in.Pick(kInts));
      break;
    }
    case 33:
      QorTextOut(img, PickHandle(host), host.in.Pick(kInts), host.in.Pick(kInts), PickText(host));
      break;
    case 34:
      QorBayerLoad(img, PickInput(host), w, h, host.in.Pick(kInts), host.in.Pick(kInts));
      break;
    case 35:
      QorImgLoad(img, PickHandle(host), host.in.Pick(kFrames));
      break;
    case 36:
      QorImgLoadAlpha(img, PickHandle(host), host.in.Pick(kFrames));
      break;
    case 37:
      QorImgSave(img, PickHandle(host));
      break;
    default: {
      int32_t a, b, c, d;
      void* p;
      void* q;
      QorImgGetInfo(img, &a, &b, &c, &d, &p, &q);
    }
  }
}

void SoundOp(Host& host) {
  QorHandle snd = PickHandle(host);
  switch (host.in.Byte() % 7) {
    case 0: {
      int32_t n = host.in.Pick(kInts);
      const int32_t rate = host.in.Pick(kRates), ch = host.in.Pick(kChannels),
                    bits = host.in.Pick(kBits);
      const int64_t bytes = SampleBytes(n, ch, bits);
      if (bytes > kSmallBytes && bytes <= (int64_t{1} << 33)) break;  // a large real block
      std::vector<uint8_t> samples(static_cast<size_t>(bytes > 0 && bytes <= kSmallBytes ? bytes : 16), 3);
      QorSndSetSamples(snd, n, rate, ch, bits, host.in.Flag() ? samples.data() : nullptr);
      break;
    }
    case 1: {
      int32_t rate = 0, ch = 0, bits = 0, bytes = 0;
      void* p = nullptr;
      QorSndGetInfo(snd, &rate, &ch, &bits, &bytes, &p);
      std::vector<uint8_t> buffer(static_cast<size_t>(bytes > 0 ? bytes : 16));
      QorSndGetSamples(snd, buffer.data());
      break;
    }
    case 2: {
      // A resampling to a rate that makes the sound large is skipped.
      int32_t rate = host.in.Pick(kRates);
      if (rate > 96000) rate = kMaxI;
      QorSndResample(snd, rate, host.in.Pick(kChannels), host.in.Pick(kBits));
      break;
    }
    case 3:
      QorSndCopy(snd, PickHandle(host));
      break;
    case 4:
      QorSndLoad(snd, PickHandle(host), host.in.Pick(kFrames), host.in.Pick(kFrames));
      break;
    case 5:
      QorSndSave(snd, PickHandle(host));
      break;
    default: {
      int32_t a, b, c, d;
      void* p;
      QorSndGetInfo(snd, &a, &b, &c, &d, &p);
    }
  }
}

void FileOp(Host& host) {
  QorHandle file = PickHandle(host);
  int32_t w = host.in.Pick(kSizes), h = host.in.Pick(kSizes);
  KeepSmall(&w, &h);
  switch (host.in.Byte() % 3) {
    case 0:
      QorFileSetVideoParams(file, w, h, host.in.Pick(kDepths), host.in.Pick(kReals),
                            host.in.Pick(kInts), host.in.Pick(kInts), host.in.Pick(kInts));
      break;
    case 1:
      QorFileSetAudioParams(file, host.in.Pick(kRates), host.in.Pick(kChannels),
                            host.in.Pick(kBits), host.in.Pick(kInts));
      break;
    default: {
      QorFileInfo info;
      QorGetFileInfo(PickInput(host), host.in.Pick(kInts), host.in.Flag() ? &info : nullptr,
                     nullptr, nullptr);
    }
  }
}

void ListOp(Host& host) {
  QorHandle list = PickHandle(host);
  switch (host.in.Byte() % 4) {
    case 0: {
      const Files& f = TheFiles();
      const uint8_t b = host.in.Byte();
      QorListAdd(list, b == 255 ? nullptr : f.specs[b % f.specs.size()].c_str(),
                 host.in.Pick(kInts), nullptr, nullptr);
      break;
    }
    case 1: {
      char name[4096];
      QorListGetName(list, host.in.Pick(kInts), name);
      break;
    }
    case 2: {
      int32_t a, b, c;
      QorListGetMaxRes(list, &a, &b, &c);
      QorListGetAudioFormat(list, &a, &b, &c);
      break;
    }
    default:
      QorListGetFileCount(list);
      QorListGetFrameCount(list);
      QorListGetSampleCount(list);
  }
}

void TextOp(Host& host) {
  QorHandle text = PickHandle(host);
  switch (host.in.Byte() % 4) {
    case 0:
      QorTextSetFont(text, PickText(host), host.in.Pick(kInts) % 300, host.in.Pick(kInts));
      break;
    case 1:
      QorTextSetColor(text, host.in.Pick(kColours), host.in.Pick(kColours),
                      host.in.Pick(kColours), host.in.Pick(kInts));
      break;
    case 2:
      QorTextShadow(text, host.in.Pick(kInts), host.in.Pick(kInts) % 64, host.in.Pick(kInts) % 64);
      break;
    default: {
      int32_t w, h;
      QorTextGetExtents(text, PickText(host), &w, &h);
    }
  }
}

void RecordOp(Host& host) {
  QorHandle rec = PickHandle(host);
  const int32_t format = host.in.Pick(kFormats);
  switch (host.in.Byte() % 18) {
    case 0:
      QorSetOutputFile(rec, PickOutput(host), PickOutput(host));
      break;
    case 1:
      QorSetFrameRate(rec, host.in.Pick(kReals));
      break;
    case 2:
      QorSetKeepDuration(rec, host.in.Pick(kInts));
      break;
    case 3: {
      // The output size is resampled to on every frame: kept small.
      int32_t w = host.in.Pick(kSizes), h = host.in.Pick(kSizes);
      if (w > 200 && w != kMaxI) w = 200;
      if (h > 200 && h != kMaxI) h = 200;
      QorSetResolution(rec, w, h);
      break;
    }
    case 4:
      QorSetBpp(rec, host.in.Pick(kDepths));
      QorSetDithering(rec, host.in.Pick(kInts));
      break;
    case 5:
      QorForceCompatibility(rec, host.in.Pick(kInts));
      break;
    case 6:
      QorSetAudioFormat(rec, host.in.Pick(kRates), host.in.Pick(kChannels), host.in.Pick(kBits));
      break;
    case 7:
      QorAviClearCustomInfo(rec);
      break;
    case 8:
      QorAviAddCustomInfo(rec, PickText(host), PickText(host));
      break;
    case 9:
      QorSetCodec(rec, format, host.in.Pick(kInts));
      QorSetQuality(rec, format, host.in.Pick(kInts));
      break;
    case 10:
      QorSetBitRate(rec, format, host.in.Pick(kInts));
      QorSetByteRate(rec, format, host.in.Pick(kInts));
      QorSetKeyFrameRate(rec, format, host.in.Pick(kInts));
      break;
    case 11: {
      int32_t codec, quality, byteRate, key;
      QorGetVideoFormat(rec, format, host.in.Pick(kSizes), host.in.Pick(kSizes),
                        host.in.Pick(kDepths), &codec, &quality, &byteRate, &key);
      break;
    }
    case 12:
      QorTruncateAudioToVideo(rec, host.in.Pick(kInts));
      break;
    case 13: {
      char time[16];
      QorGetElapsedTime(rec);
      QorGetRemainingTime(rec, host.in.Pick(kInts), host.in.Pick(kInts));
      QorMakeTimeStr(host.in.Pick(kReals), time);
      QorGetStatus(rec);
      break;
    }
    case 14: {
      int32_t w = host.in.Pick(kSizes), h = host.in.Pick(kSizes);
      KeepSmall(&w, &h);
      const int32_t n = QorCodecsInit(format, w, h, host.in.Pick(kDepths));
      QorCodecInfo info;
      QorCodecsGetInfo(format, &info, host.in.Flag() ? n : host.in.Pick(kInts));
      break;
    }
    case 15:
      QorAbort(rec);
      break;
    case 16:
      AssignCallbacks(host, rec);
      break;
    default:
      QorGetFileFmtID(PickOutput(host));
  }
}

void ServiceOp(Host& host) {
  switch (host.in.Byte() % 14) {
    case 0: {
      const int32_t size = host.in.Pick(kInts);
      std::vector<uint8_t> buffer(static_cast<size_t>(size > 0 && size <= 65536 ? size : 16));
      const bool given = host.in.Flag() && size > 0 && size <= 65536;
      QorTiffGetTag(PickInput(host), host.in.Pick(kInts), given ? buffer.data() : nullptr,
                    given ? size : 0);
      break;
    }
    case 1: {
      std::vector<uint8_t> buffer(64);
      QorBayerGetHdr(PickInput(host), buffer.data(), static_cast<int32_t>(host.in.Byte() % 65));
      break;
    }
    case 2: {
      const int32_t size = host.in.Pick(kInts);
      const bool given = host.in.Flag() && size >= 0 && size <= 65536;
      std::vector<char> text(static_cast<size_t>(given ? size + 1 : 1));
      QorAviGetCustomInfo(PickInput(host), PickText(host), given ? text.data() : nullptr,
                          given ? size : 0);
      break;
    }
    case 3:
      QorMpgMultiplex(PickOutput(host), PickInput(host), PickInput(host), host.in.Pick(kInts));
      break;
    case 4: {
      const int32_t n = host.in.Pick(kInts);
      const bool real = n > 0 && n <= 65536;
      std::vector<uint8_t> in(static_cast<size_t>(real ? n * 4 : 16), 1), out(in.size());
      QorPixelReorder(in.data(), host.in.Pick(kDepths), host.in.Pick(kInts) & 1, out.data(),
                      real ? n : (n <= 0 ? n : 0));
      break;
    }
    case 5:
      QorMakeFourCC(PickText(host));
      QorRGB(host.in.Pick(kInts), host.in.Pick(kInts), host.in.Pick(kInts));
      break;
    case 6:
      QorLocaleSet(PickText(host), PickText(host));
      break;
    case 7:
      QorLocaleClear();
      break;
    case 8: {
      QorLastError rec{};
      QorGetLastError(&rec);
      // A host's own record, changed or not: the text must fit a large buffer.
      if (host.in.Flag()) rec = {host.in.Pick(kInts), host.in.Pick(kInts), host.in.Pick(kInts)};
      std::vector<char> text(1 << 16);
      QorMakeErrorStr(&rec, text.data());
      break;
    }
    case 9:
      QorTiffSet16to8bitGrayRange(host.in.Pick(kInts), host.in.Pick(kInts));
      break;
    case 10:
      QorQuickConvert(PickOutput(host), host.in.Flag() ? TheFiles().specs[2].c_str() : PickInput(host),
                      host.in.Flag() ? PickInput(host) : "", host.in.Pick(kSizes) % 201,
                      host.in.Pick(kSizes) % 201, host.in.Pick(kReals));
      break;
    case 11:
      QorLogStart((TheFiles().dir + "/trace.txt").c_str());
      QorLogExtra(host.in.Pick(kInts));
      break;
    case 12:
      QorLogStop();
      break;
    default: {
      QorLastError rec{};
      QorGetLastError(host.in.Flag() ? nullptr : &rec);
    }
  }
}

void Op(Host& host) {
  switch (host.in.Byte() % 12) {
    case 0:
    case 1:
      Alloc(host);
      break;
    case 2:
      Free(host);
      break;
    case 3:
    case 4:
      ImageOp(host);
      break;
    case 5:
      SoundOp(host);
      break;
    case 6:
      FileOp(host);
      break;
    case 7:
      ListOp(host);
      break;
    case 8:
      TextOp(host);
      break;
    case 9:
      RecordOp(host);
      break;
    case 10:
      if (host.depth == 0) Convert(host);
      else QorConvert(PickHandle(host));  // refused while one runs
      break;
    default:
      ServiceOp(host);
  }
}

// Everything the host was handed is freed through every free export (the
// wrong kinds and the freed ones refuse); created files that never received
// anything, which no host can close, and the still cache go as the library's
// stop lets them go.
void ReleaseAll(Host& host) {
  for (QorHandle h : host.made) {
    QorImgFree(h);
    QorSndFree(h);
    QorTextFree(h);
    QorListFree(h);
    QorFree(h);
    QorFileClose(h);
  }
  QorImgAverageClear();
  QorLocaleClear();
  QorTiffSet16to8bitGrayRange(K_AUTO, K_AUTO);
  QorLogStop();
  QorMain::_QorFilesRelease();
  FF_GIF::GIFCacheClear();
}

inline int Run(const uint8_t* data, size_t size) {
  FuzzSupport::StartLibraryOnce();
  TheFiles();
  FuzzSupport::LeakCheck leaks;
  Bytes in(data, size);
  Host host(in);
  g_host = &host;
  for (int n = 0; n < 64 && !in.Empty(); n++) Op(host);
  ReleaseAll(host);
  g_host = nullptr;
  // The next input starts clean, as after the host's last call.
  Errors::ErrClear();
  Errors::WarnClear();
  return 0;
}

}  // namespace FuzzApi
