// The body of every fuzz target, one function per reading entry point. The
// fuzz_*.cpp files hand libFuzzer's inputs to them; the regression tests run
// the inputs the fuzzers found through the same functions.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <ogg/ogg.h>

#include "formats/ConForm.h"
#include "formats/FF_BAY.h"
#include "formats/FF_FLC.h"
#include "formats/FF_GIF.h"
#include "formats/FF_JPG.h"
#include "formats/FF_KWB.h"
#include "formats/FF_PNG.h"
#include "formats/FF_PNM.h"
#include "formats/FF_RAS.h"
#include "formats/FF_SGI.h"
#include "formats/FF_TIF.h"
#include "formats/FF_XPM.h"
#include "platform/AcmLayer.h"
#include "platform/base/MmIo.h"
#include "platform/Pavane.h"
#include "platform/Sorrel.h"
#include "platform/Wexel.h"
#include "fuzz/FuzzSupport.h"

namespace FuzzTargets {

inline void DropMessage(const char*) {}

// The still-image dispatch: file information and load by format identifier,
// with the alpha plane a host asks for. The first input byte picks the
// identifier (the still formats and, for the dispatch's own errors, the
// others), the rest is the file.
inline int Still(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  FuzzSupport::StartLibraryOnce();
  static const int32_t ids[] = {ConForm::kFmtTGA, ConForm::kFmtPCX,  ConForm::kFmtBMP,
                                ConForm::kFmtSGI, ConForm::kFmtRAS,  ConForm::kFmtPNM,
                                ConForm::kFmtBAY, ConForm::kFmtGIF,  ConForm::kFmtJPEG,
                                ConForm::kFmtPNG, ConForm::kFmtTIFF, ConForm::kFmtXPM,
                                ConForm::kFmtAVI, 0,                 99};
  const int32_t id = ids[data[0] % (sizeof ids / sizeof ids[0])];
  const std::string name = FuzzSupport::InputFile(data + 1, size - 1, ".img");
  FuzzSupport::LeakCheck leaks;
  ConForm::FFInfoRec info;
  ImgBasic::Qimg img, alpha;
  FuzzSupport::Guarded([&] { ConForm::FFInfo(name, id, &info, nullptr, nullptr); });
  FuzzSupport::Guarded([&] { ConForm::ImgLoad(name, &img, id, &alpha); });
  FuzzSupport::CheckImage(img);
  FuzzSupport::CheckImage(alpha);
  FuzzSupport::Guarded([&] { ImgBasic::ImgFree(&img); });
  FuzzSupport::Guarded([&] { ImgBasic::ImgFree(&alpha); });
  return 0;
}

// Recognition by probing: a file whose name says nothing of its format is
// offered to every reader in the load table until one describes it.
inline int Probe(const uint8_t* data, size_t size) {
  FuzzSupport::StartLibraryOnce();
  const std::string name = FuzzSupport::InputFile(data, size, ".probe");
  FuzzSupport::LeakCheck leaks;
  ConForm::UniInfoRec info;
  FuzzSupport::Guarded([&] { ConForm::UniInfo(name, &info, 1, nullptr, nullptr, false); });
  return 0;
}

// The TGA reader's information and load entry points.
inline int Tga(const uint8_t* data, size_t size) {
  return FuzzSupport::StillTarget<ConForm::FFInfoRec>(data, size, ".tga", ConForm::TGAInfo, ConForm::TGALoad_);
}

// The PCX reader's information and load entry points.
inline int Pcx(const uint8_t* data, size_t size) {
  return FuzzSupport::StillTarget<ConForm::FFInfoRec>(data, size, ".pcx", ConForm::PCXInfo, ConForm::PCXLoad_);
}

// The BMP reader's information and load entry points.
inline int Bmp(const uint8_t* data, size_t size) {
  return FuzzSupport::StillTarget<ConForm::FFInfoRec>(data, size, ".bmp", ConForm::DIBInfo, ConForm::DIBLoad_);
}

// The SGI reader's information and load entry points.
inline int Sgi(const uint8_t* data, size_t size) {
  return FuzzSupport::StillTarget<ConForm::FFInfoRec>(data, size, ".sgi", FF_SGI::SGIInfo, FF_SGI::SGILoad);
}

// The RAS reader's information and load entry points.
inline int Ras(const uint8_t* data, size_t size) {
  return FuzzSupport::StillTarget<ConForm::FFInfoRec>(data, size, ".ras", FF_RAS::RASInfo, FF_RAS::RASLoad);
}

// The PNM reader's information and load entry points.
inline int Pnm(const uint8_t* data, size_t size) {
  return FuzzSupport::StillTarget<ConForm::FFInfoRec>(data, size, ".pnm", FF_PNM::PNMInfo, FF_PNM::PNMLoad);
}

// The Bayer raw reader. Its files are known by their size alone, so the
// input is laid into a file of one of the three sizes (picked by the first
// byte): the next 12 bytes are the trailer of the two trailer sizes, the
// rest the samples.
inline int Bay(const uint8_t* data, size_t size) {
  if (size < 13) return 0;
  FuzzSupport::StartLibraryOnce();
  static const int64_t sizes[3] = {74752, 197632, 307200};
  static const int64_t samples[3] = {512 * 144, 512 * 384, 640 * 480};
  const int k = data[0] % 3;
  std::vector<uint8_t> file(static_cast<size_t>(sizes[k]), 0);
  if (k < 2) std::memcpy(file.data() + samples[k], data + 1, 12);
  std::memcpy(file.data(), data + 13, std::min<size_t>(size - 13, static_cast<size_t>(samples[k])));
  return FuzzSupport::StillTarget<ConForm::FFInfoRec>(file.data(), file.size(), ".bay",
                                                      FF_BAY::BayInfo, FF_BAY::BayLoad);
}

// The TIF reader's information and load entry points.
inline int Tif(const uint8_t* data, size_t size) {
  return FuzzSupport::StillTarget<ConForm::FFInfoRec>(data, size, ".tif", FF_TIF::TIFInfo, FF_TIF::TIFLoad);
}

// The JPG reader's information and load entry points.
inline int Jpg(const uint8_t* data, size_t size) {
  return FuzzSupport::StillTarget<ConForm::FFInfoRec>(data, size, ".jpg", FF_JPG::JPGInfo, FF_JPG::JPGLoad);
}

inline uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; i++) {
    c ^= p[i];
    for (int k = 0; k < 8; k++) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

// The PNG reader's information and load entry points. Every chunk that fits
// gets its checksum set first, so mutations reach the reader instead of
// libpng's checksum test.
inline int Png(const uint8_t* data, size_t size) {
  std::vector<uint8_t> buf(data, data + size);
  size_t pos = 8;
  while (pos + 12 <= buf.size()) {
    const uint32_t len = uint32_t{buf[pos]} << 24 | buf[pos + 1] << 16 | buf[pos + 2] << 8 | buf[pos + 3];
    if (len > buf.size() - pos - 12) break;
    const uint32_t crc = Crc32(&buf[pos + 4], len + 4);
    uint8_t* c = &buf[pos + 8 + len];
    c[0] = static_cast<uint8_t>(crc >> 24), c[1] = static_cast<uint8_t>(crc >> 16);
    c[2] = static_cast<uint8_t>(crc >> 8), c[3] = static_cast<uint8_t>(crc);
    pos += 12 + len;
  }
  return FuzzSupport::StillTarget<ConForm::FFInfoRec>(buf.data(), buf.size(), ".png",
                                                          FF_PNG::PNGInfo, FF_PNG::PNGLoad);
}

// The XPM reader's information and load entry points.
inline int Xpm(const uint8_t* data, size_t size) {
  return FuzzSupport::StillTarget<ConForm::FFInfoRec>(data, size, ".xpm", FF_XPM::XPMInfo, FF_XPM::XPMLoad);
}

// The still codec layer's own readers, under the units that use them: the
// JPEG description and read into a block of the size described, and the
// XPM size query and read. The first input byte picks the codec.
inline int Wexel(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  FuzzSupport::StartLibraryOnce();
  ExternErrorSet(DropMessage);
  ExternWarningSet(DropMessage);
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


inline int Gif(const uint8_t* data, size_t size) {
  FuzzSupport::StartLibraryOnce();
  const std::string name = FuzzSupport::InputFile(data, size, ".gif");
  FuzzSupport::LeakCheck leaks;
  FF_GIF::GifFile gif;
  ImgBasic::Qimg img, alpha;
  FuzzSupport::Guarded([&] {
    FF_GIF::GIFOpen(&gif, name, false);
    const int32_t frames = std::min(gif.frameCount, 64);
    for (int32_t n = 1; n <= frames; n++)
      FuzzSupport::Guarded([&] { FF_GIF::GIFLoad(&gif, &img, n, 0, &alpha); });
    if (frames > 2) FuzzSupport::Guarded([&] { FF_GIF::GIFLoad(&gif, &img, 1, 0, nullptr); });
  });
  FuzzSupport::Guarded([&] { FF_GIF::GIFClose(&gif); });
  FuzzSupport::CheckImage(img);
  FuzzSupport::Guarded([&] { ImgBasic::ImgFree(&img); });
  FuzzSupport::Guarded([&] { ImgBasic::ImgFree(&alpha); });
  return 0;
}


inline int Flc(const uint8_t* data, size_t size) {
  FuzzSupport::StartLibraryOnce();
  const std::string name = FuzzSupport::InputFile(data, size, ".flc");
  FuzzSupport::LeakCheck leaks;
  FF_FLC::FlcFile flc;
  ImgBasic::Qimg img;
  FuzzSupport::Guarded([&] {
    FF_FLC::FLCOpen(&flc, name);
    const int32_t frames = std::min<int32_t>(flc.header.frames, 64);
    for (int32_t n = 1; n <= frames; n++) FuzzSupport::Guarded([&] { FF_FLC::FLCLoad(&flc, &img, n, 0); });
    if (frames > 2) FuzzSupport::Guarded([&] { FF_FLC::FLCLoad(&flc, &img, 1, 0); });
  });
  FuzzSupport::Guarded([&] { FF_FLC::FLCClose(&flc); });
  FuzzSupport::CheckImage(img);
  FuzzSupport::Guarded([&] { ImgBasic::ImgFree(&img); });
  return 0;
}


inline int Kwb(const uint8_t* data, size_t size) {
  FuzzSupport::StartLibraryOnce();
  const std::string name = FuzzSupport::InputFile(data, size, ".kwb");
  FuzzSupport::LeakCheck leaks;
  FF_KWB::KWBFile kwb;
  ImgBasic::Qimg img;
  SndBasic::SndRec snd;
  FuzzSupport::Guarded([&] {
    FF_KWB::KWBOpen(&kwb, name);
    const int32_t frames = std::min(kwb.header.frameCount, 64);
    for (int32_t n = 1; n <= frames; n++) FuzzSupport::Guarded([&] { FF_KWB::KWBImgLoad(&kwb, &img, n, 0); });
    if (frames > 2) FuzzSupport::Guarded([&] { FF_KWB::KWBImgLoad(&kwb, &img, 2, 0); });
    FuzzSupport::Guarded([&] { FF_KWB::KWBSndLoad(&kwb, &snd, 0, 4096, 0); });
    FuzzSupport::Guarded([&] { FF_KWB::KWBSndLoad(&kwb, &snd, 100, 100, 1); });
  });
  FuzzSupport::Guarded([&] { FF_KWB::KWBClose(&kwb); });
  FuzzSupport::CheckImage(img);
  FuzzSupport::Guarded([&] { ImgBasic::ImgFree(&img); });
  SndBasic::SndFree(snd);
  return 0;
}

// RIFF chunk access as the WAV and AVI readers use it: every chunk of the
// file is visited, RIFF and LIST chunks are entered, and a little of each
// data chunk is read, then the walk ascends again.
inline int& RiffBudget() {
  static int budget = 0;
  return budget;
}

inline void RiffWalk(MmIo::HMMIO h, const MmIo::MMCKINFO* parent, int depth) {
  for (;;) {
    if (--RiffBudget() < 0) return;
    MmIo::MMCKINFO ck;
    if (MmIo::mmioDescend(h, &ck, parent, 0) != 0) return;
    if ((ck.ckid == MmIo::FOURCC_RIFF || ck.ckid == MmIo::FOURCC_LIST) && depth < 8) {
      RiffWalk(h, &ck, depth + 1);
    } else {
      uint8_t buf[64];
      const int32_t n = static_cast<int32_t>(std::min<uint32_t>(ck.cksize, sizeof buf));
      MmIo::mmioRead(h, buf, n);
    }
    if (MmIo::mmioAscend(h, &ck, 0) != 0) return;
  }
}


inline int Riff(const uint8_t* data, size_t size) {
  FuzzSupport::StartLibraryOnce();
  const std::string name = FuzzSupport::InputFile(data, size, ".riff");
  FuzzSupport::LeakCheck leaks;
  MmIo::HMMIO h = MmIo::mmioOpenA(name.c_str(), MmIo::MMIO_READ);
  if (!h) return 0;
  // The readers' first steps: the form by type, then its format and data
  // chunks by id.
  MmIo::MMCKINFO riff;
  riff.fccType = MmIo::mmioFOURCC('W', 'A', 'V', 'E');
  if (MmIo::mmioDescend(h, &riff, nullptr, MmIo::MMIO_FINDRIFF) == 0) {
    MmIo::MMCKINFO fmt;
    fmt.ckid = MmIo::mmioFOURCC('f', 'm', 't', ' ');
    if (MmIo::mmioDescend(h, &fmt, &riff, MmIo::MMIO_FINDCHUNK) == 0) {
      uint8_t head[18];
      MmIo::mmioRead(h, head, static_cast<int32_t>(std::min<uint32_t>(fmt.cksize, 18)));
      MmIo::mmioAscend(h, &fmt, 0);
    }
    MmIo::MMCKINFO dat;
    dat.ckid = MmIo::mmioFOURCC('d', 'a', 't', 'a');
    MmIo::mmioDescend(h, &dat, &riff, MmIo::MMIO_FINDCHUNK);
  }
  MmIo::mmioSeek(h, 0, SEEK_SET);
  RiffBudget() = 4096;
  RiffWalk(h, nullptr, 0);
  MmIo::mmioClose(h, 0);
  return 0;
}

// The Ogg Vorbis layer's reader: open, the sound's and each stream's format
// and length, a read of the whole sound in blocks of several word sizes,
// seeks to the middle and past the end, and a read after each.
//
// Every page that fits gets its checksum set first: a mutated page would
// otherwise be dropped by libogg before the layer ever saw it.
inline std::vector<uint8_t> OggWithChecksums(const uint8_t* data, size_t size) {
  std::vector<uint8_t> buf(data, data + size);
  size_t pos = 0;
  while (pos + 27 <= buf.size()) {
    if (std::memcmp(&buf[pos], "OggS", 4) != 0) {
      pos++;
      continue;
    }
    const size_t header = 27 + size_t{buf[pos + 26]};
    if (pos + header > buf.size()) break;
    size_t body = 0;
    for (size_t i = 0; i < buf[pos + 26]; i++) body += buf[pos + 27 + i];
    body = std::min(body, buf.size() - pos - header);
    ogg_page page;
    page.header = &buf[pos];
    page.header_len = static_cast<long>(header);
    page.body = &buf[pos + header];
    page.body_len = static_cast<long>(body);
    ogg_page_checksum_set(&page);
    pos += header + body;
  }
  return buf;
}

inline int Ogg(const uint8_t* data, size_t size) {
  FuzzSupport::StartLibraryOnce();
  const std::vector<uint8_t> file = OggWithChecksums(data, size);
  const std::string name = FuzzSupport::InputFile(file.data(), file.size(), ".ogg");
  FuzzSupport::LeakCheck leaks;
  alignas(16) static char state[Sorrel::kDecoderStateSize];
  Sorrel::OvFileSlot slot = nullptr;
  if (Sorrel::ov_open_2(&slot, name.c_str(), state, nullptr, 0) != 0) return 0;
  for (int32_t link = -1; link < 4; link++) {
    Sorrel::ov_info(state, link);
    Sorrel::ov_pcm_total(state, link);
  }
  const int64_t total = Sorrel::ov_pcm_total(state, -1);
  std::vector<char> buf(8192);
  int32_t stream = 0;
  int64_t delivered = 0;
  for (int i = 0; i < 4096 && delivered < (int64_t{16} << 20); i++) {
    const int32_t n = Sorrel::ov_read(state, buf.data(), static_cast<int32_t>(buf.size()), i & 1,
                                      (i & 2) ? 1 : 2, (i & 4) ? 0 : 1, &stream);
    if (n <= 0) break;
    delivered += n;
  }
  for (int64_t at : {total / 2, total, total + 1, int64_t{-1}}) {
    if (Sorrel::ov_pcm_seek(state, at) == 0 || at < 0)
      Sorrel::ov_read(state, buf.data(), 4096, 0, 2, 1, &stream);
  }
  Sorrel::ov_clear_2(&slot, state);
  return 0;
}

// The MPEG layer's readers: the stream type, the video scan and frame reads
// with seeks, and the audio scan, reads and seeks.
inline int Mpeg(const uint8_t* data, size_t size) {
  FuzzSupport::StartLibraryOnce();
  Pavane::PavaneErrorFuncSet(DropMessage);
  const std::string name = FuzzSupport::InputFile(data, size, ".mpg");
  FuzzSupport::LeakCheck leaks;
  Pavane::mpg_get_type(name.c_str());
  int32_t w = 0, h = 0, frames = 0, code = 0, rate = 0, mpeg2 = 0, audio = 0;
  if (Pavane::GetMPEGInfo(name.c_str(), &w, &h, &frames, &code, &rate, &mpeg2, &audio, nullptr,
                          nullptr)) {
    Pavane::MpegReader* r = nullptr;
    if (w > 0 && h > 0 && int64_t{w} * h <= 4096 * 4096 &&
        Pavane::OpenMPEG(&r, name.c_str(), 0, nullptr, nullptr)) {
      std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 3);
      for (int i = 0; i < std::min(frames, 8); i++) Pavane::GetMPEGFrame(r, pixels.data());
      for (int32_t at : {frames - 1, frames / 2, frames, -1, 0}) {
        Pavane::SeekMPEG(r, at);
        Pavane::GetMPEGFrame(r, pixels.data());
      }
      Pavane::CloseMPEG(r);
    }
  }
  Pavane::MpgAudioInfo ai;
  if (Pavane::mpg_audio_info(name.c_str(), &ai, nullptr, nullptr)) {
    if (Pavane::MpgAudioReader* r = Pavane::mpg_audio_open(name.c_str(), nullptr, nullptr)) {
      std::vector<int16_t> pcm(4096 * 8);
      for (int i = 0; i < 64; i++)
        if (Pavane::mpg_audio_read(r, pcm.data(), 4096) <= 0) break;
      for (int32_t at : {ai.frames / 2, ai.frames, ai.frames + 1, -1}) {
        Pavane::mpg_audio_seek(r, at);
        Pavane::mpg_audio_read(r, pcm.data(), 1024);
      }
      Pavane::mpg_audio_close(r);
    }
  }
  return 0;
}

// The audio conversion layer decoding a wave format a file declares: the
// input is a 16-bit little-endian length, that many bytes of wave format
// (header and extra bytes), then the coded sound. The stream to PCM is
// opened as the sound unit opens it and fed in pieces of varying size, the
// last one with the end flag.
inline int Acm(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  FuzzSupport::StartLibraryOnce();
  FuzzSupport::LeakCheck leaks;
  const size_t fmtSize = std::min<size_t>(data[0] | (data[1] << 8), size - 2);
  const uint8_t* fmt = data + 2;
  const uint8_t* sound = fmt + fmtSize;
  const size_t soundSize = size - 2 - fmtSize;

  Acm::WaveFormatEx pcm;
  pcm.formatTag = Acm::kTagPcm;
  std::vector<uint8_t> dst = Acm::WaveFormatBytes(pcm);
  if (Acm::acmFormatSuggest(nullptr, fmt, static_cast<int64_t>(fmtSize), dst.data(),
                            Acm::kWaveFormatSize, Acm::kSuggestTag) != Acm::kOk)
    return 0;
  Acm::HACMSTREAM stream = nullptr;
  if (Acm::acmStreamOpen(&stream, nullptr, fmt, static_cast<int64_t>(fmtSize), dst.data(),
                         Acm::kWaveFormatSize, nullptr, 0, 0, Acm::kOpenNonRealtime) != Acm::kOk)
    return 0;
  uint32_t flags = Acm::kConvertStart | Acm::kConvertBlockAlign;
  size_t at = 0;
  std::vector<uint8_t> out;
  for (int piece = 0;; piece++) {
    const size_t len = std::min<size_t>(soundSize - at, 61 + piece * 977);
    const bool last = at + len >= soundSize;
    uint32_t want = 0;
    if (Acm::acmStreamSize(stream, static_cast<uint32_t>(len), &want, Acm::kSizeSource) !=
            Acm::kOk ||
        want > (64u << 20))
      break;
    out.assign(want + 1, 0);
    Acm::AcmStreamHeader header;
    header.size = Acm::kStreamHeaderSize;
    header.src = const_cast<uint8_t*>(sound + at);
    header.srcLength = static_cast<uint32_t>(len);
    header.dst = out.data();
    header.dstLength = want;
    if (Acm::acmStreamPrepareHeader(stream, &header, 0) != Acm::kOk) break;
    const Acm::MMRESULT r =
        Acm::acmStreamConvert(stream, &header, flags | (last ? Acm::kConvertEnd : 0));
    Acm::acmStreamUnprepareHeader(stream, &header, 0);
    if (r != Acm::kOk) break;
    if (header.dstLengthUsed > want || header.srcLengthUsed > len) std::abort();
    flags = Acm::kConvertBlockAlign;
    at += len;
    if (last) break;
  }
  Acm::acmStreamClose(stream, 0);
  return 0;
}

// The universal source layer: a stream source (GIF, FLIC or KWB, picked by
// the first byte) opened as a host opens one, every frame (up to 32) and
// its alpha plane, a step back, and sound from the start and from the
// middle; or, with the fourth choice, whatever probing recognises, opened
// from the description UniInfo gives.
inline int Uni(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  FuzzSupport::StartLibraryOnce();
  static const int32_t ids[] = {ConForm::kFmtGIF, ConForm::kFmtFLC, ConForm::kFmtKWB, 0};
  static const char* const exts[] = {".gif", ".flc", ".kwb", ".probe"};
  const int k = data[0] % 4;
  const std::string name = FuzzSupport::InputFile(data + 1, size - 1, exts[k]);
  FuzzSupport::LeakCheck leaks;
  ConForm::UniInfoRec info;
  if (ids[k] != 0) {
    info.format = ids[k];
    info.kind = ConForm::kKindStream;
    info.name = name;
    info.picture.hasPictures = info.picture.picturesReadable = true;
    info.sound.hasSound = info.sound.soundReadable = true;
  } else {
    bool known = false;
    FuzzSupport::Guarded([&] { known = ConForm::UniInfo(name, &info, 1, nullptr, nullptr, false); });
    if (!known) return 0;
  }
  ConForm::UniFile uni;
  ImgBasic::Qimg img, alpha;
  SndBasic::SndRec snd;
  bool open = false;
  FuzzSupport::Guarded([&] {
    ConForm::UniOpen(&uni, &info);
    open = true;
  });
  if (open) {
    int32_t frames = 1;
    if (uni.kind == ConForm::kKindStream) frames = ConForm::MviFrameCount(&uni.mvi);
    frames = std::clamp(frames, 1, 32);
    for (int32_t n = 1; n <= frames; n++) {
      FuzzSupport::Guarded([&] { ConForm::UniImgLoad(&uni, &img, n, 0); });
      FuzzSupport::CheckImage(img);
    }
    FuzzSupport::Guarded([&] { ConForm::UniImgLoadAlpha(&uni, &alpha, 1); });
    FuzzSupport::CheckImage(alpha);
    if (frames > 2) {
      FuzzSupport::Guarded([&] { ConForm::UniImgSetPos(&uni, 1); });
      FuzzSupport::Guarded([&] { ConForm::UniImgLoad(&uni, &img, 2, 0); });
      FuzzSupport::CheckImage(img);
    }
    FuzzSupport::Guarded([&] { ConForm::UniSndLoad(&uni, &snd, 0, 4096, 0); });
    FuzzSupport::Guarded([&] { ConForm::UniSndLoad(&uni, &snd, 100, 100, 1); });
    FuzzSupport::Guarded([&] { ConForm::UniClose(&uni); });
  }
  FuzzSupport::Guarded([&] { ImgBasic::ImgFree(&img); });
  FuzzSupport::Guarded([&] { ImgBasic::ImgFree(&alpha); });
  SndBasic::SndFree(snd);
  return 0;
}

}  // namespace FuzzTargets
