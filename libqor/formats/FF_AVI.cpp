#include "formats/FF_AVI.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "formats/DialogHooks.h"
#include "formats/FFBasic.h"
#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"
#include "platform/AcmLayer.h"

namespace FF_AVI {

using namespace AviFile;
using Errors::ErrSet;
using Errors::WarnSet;
using ImgBasic::Qimg;

namespace {

// Class identifiers of the retries: opening files, making compressed streams.
const char kFileClass[] = "{00020000-0000-0000-C000-000000000046}";
const char kCompressorClass[] = "{00020001-0000-0000-C000-000000000046}";

int32_t openCount = 0;
bool fileLayerInit = false;
int32_t unitUsers = 0;

// Codec registry. Built on first use: the library's start may run before
// this unit's own objects would be constructed.
struct Registry {
  std::vector<AviCodecRec> codecs;  // aviCodecsNum entries and the end record
  AviCodecRec current;
  AVICOMPRESSOPTIONS options;
  std::vector<uint8_t> optionParams;
};
Registry& R() {
  static Registry r;
  return r;
}
bool codecsBuilt = false;
bool currentUncompressed = false;

HRESULT Release_(AviFileRec* h);

constexpr int32_t kEntryBytes = 264;  // code, size, 256 bytes of text
constexpr int32_t kEntryGrowth = 268;

uint32_t Fcc(const char* s) {
  return FFBasic::MakeFourCC(static_cast<uint8_t>(s[0]), static_cast<uint8_t>(s[1]),
                             static_cast<uint8_t>(s[2]), static_cast<uint8_t>(s[3]));
}

// The current codec starts as Cinepak as the movie back end describes it. It
// is described when first used rather than at the library's start, so that a
// host converting stills never loads the back end.
bool currentDescribed = false;
AviCodecRec& Current() {
  if (!currentDescribed) {
    currentDescribed = true;
    AviCodecRecByFCC(&R().current, Fcc("cvid"));
    R().current.outBits = 24;
  }
  return R().current;
}

uint32_t UpperFcc(uint32_t f) {
  uint32_t r = 0;
  for (int i = 0; i < 4; i++) {
    uint8_t c = static_cast<uint8_t>(f >> (8 * i));
    if (c >= 'a' && c <= 'z') c = static_cast<uint8_t>(c - 32);
    r |= static_cast<uint32_t>(c) << (8 * i);
  }
  return r;
}

// Video 1 codes are asked for as "msvc".
uint32_t QueryCode(uint32_t fourCC) { return AVIChk4Video1_(fourCC) ? Fcc("msvc") : fourCC; }

HIC OpenQuery(uint32_t fourCC) { return ICOpen(ICTYPE_VIDEO, QueryCode(fourCC), ICMODE_QUERY); }

int32_t ClampInt(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// The full byte image of a wave format a stream is written with: 18 bytes
// for PCM; a compressed format takes its extra bytes from the format the
// conversion layer proposes for the same tag, rate and channels.
bool WaveFormatBlock(const SndBasic::WaveFormatEx& f, std::vector<uint8_t>* out) {
  if (f.formatTag == Acm::kTagPcm || f.extraSize == 0) {
    SndBasic::WaveFormatEx pcm = f;
    pcm.extraSize = 0;
    *out = Acm::WaveFormatBytes(pcm);
    return true;
  }
  SndBasic::WaveFormatEx src;
  SndBasic::WaveFormatSetPCM(src, static_cast<int32_t>(f.samplesPerSec), f.channels, 16);
  const std::vector<uint8_t> srcBytes = Acm::WaveFormatBytes(src);
  std::vector<uint8_t> dst(Acm::kWaveFormatSize + 1024, 0);
  SndBasic::WaveFormatEx want = f;
  Acm::WaveFormatWrite(want, dst.data());
  if (Acm::acmFormatSuggest(nullptr, srcBytes.data(), static_cast<int64_t>(srcBytes.size()),
                            dst.data(), static_cast<int64_t>(dst.size()),
                            Acm::kSuggestTag | Acm::kSuggestChannels | Acm::kSuggestRate) !=
      Acm::kOk)
    return false;
  SndBasic::WaveFormatEx got;
  Acm::WaveFormatRead(dst.data(), Acm::kWaveFormatSize, got);
  if (got.blockAlign != f.blockAlign || got.extraSize != f.extraSize) return false;
  dst.resize(Acm::kWaveFormatSize + got.extraSize);
  *out = dst;
  return true;
}

struct TagName {
  int32_t tag;
  const char* name;
};
const TagName kTagNames[] = {
    {0x0002, "Microsoft ADPCM"},
    {0x0003, "IEEE Float"},
    {0x0006, "CCITT A-Law"},
    {0x0007, "CCITT u-Law"},
    {0x0011, "IMA ADPCM"},
    {0x0020, "Yamaha ADPCM"},
    {0x0031, "GSM 6.10"},
    {0x0040, "G.721 ADPCM"},
    {0x0050, "MPEG Layer-1/2"},
    {0x0055, "MPEG Layer-3"},
    {0x0064, "G.726 ADPCM"},
    {0x00FF, "AAC"},
    {0x0160, "WMA version 1"},
    {0x0161, "WMA version 2"},
    {0x2000, "AC-3"},
    {0x2001, "DTS"},
};

}  // namespace

// ---- names and headers ----------------------------------------------------------

bool AVIChk4FullFrames_(uint32_t fourCC) {
  const uint32_t u = UpperFcc(fourCC);
  return fourCC == 0 || u == Fcc("DIB ") || u == Fcc("RAW ") || u == Fcc("RGB ");
}

bool AVIChk4MRLE_(uint32_t fourCC) { return UpperFcc(fourCC) == Fcc("MRLE"); }

bool AVIChk4Video1_(uint32_t fourCC) {
  const uint32_t u = UpperFcc(fourCC);
  return u == Fcc("MSVC") || u == Fcc("CRAM") || u == Fcc("WHAM");
}

void AVIGetVideoName(uint32_t fourCC, std::string* text) {
  Errors::TraceScope t("FF_AVI.AVIGetVideoName");
  *text = fourCC == 0 ? "" : "(" + FFBasic::FourCCToStr(fourCC) + ") ";
  bool appended = false;
  if (AVIChk4FullFrames_(fourCC)) {
    *text += "Full frames, uncompressed";
    appended = true;
  } else if (HIC ic = OpenQuery(fourCC)) {
    ICINFO info;
    if (ICGetInfo(ic, &info, sizeof info) > 0 && info.szDescription[0] != 0) {
      *text += info.szDescription;
      appended = true;
    }
    ICClose(ic);
  }
  if (!appended || text->empty()) *text += "Unknown codec";
}

void AVIGetAudioName(int32_t tag, std::string* text) {
  Errors::TraceScope t("FF_AVI.AVIGetAudioName");
  *text = "(#" + std::to_string(tag) + ") ";
  if (tag == 1) {
    *text += "PCM, uncompressed";
    return;
  }
  for (const TagName& n : kTagNames)
    if (n.tag == tag) {
      *text += n.name;
      return;
    }
  *text += "Unknown codec";
}

void FillBitmapInfo_(uint8_t* out, int32_t width, int32_t height, const uint8_t* palette,
                     int32_t bits) {
  Gdi::BITMAPINFOHEADER bh;
  bh.biWidth = width;
  bh.biHeight = height;
  bh.biBitCount = static_cast<uint16_t>(bits);
  bh.biSizeImage = static_cast<uint32_t>(static_cast<int64_t>(width) * height * ((bits + 7) / 8));
  const bool withPalette = bits == 8 && palette != nullptr;
  if (withPalette) bh.biClrUsed = 256;
  Gdi::WriteBitmapInfoHeader(out, bh);
  if (withPalette)
    for (int i = 0; i < 256; i++) {
      uint8_t* q = out + Gdi::kBitmapInfoHeaderSize + 4 * i;
      q[0] = palette[3 * i];
      q[1] = palette[3 * i + 1];
      q[2] = palette[3 * i + 2];
      q[3] = 0;
    }
}

// ---- codec messages -----------------------------------------------------------------

LRESULT ICOpenAndSendMessage_(uint32_t fourCC, uint32_t message, intptr_t p1, intptr_t p2) {
  Errors::TraceScope t("FF_AVI.ICOpenAndSendMessage_");
  HIC ic = OpenQuery(fourCC);
  if (ic == nullptr) return ICERR_UNSUPPORTED;
  const LRESULT r = ICSendMessage(ic, message, p1, p2);
  ICClose(ic);
  return r;
}

int32_t ICGetStateSize_(uint32_t fourCC) {
  const LRESULT r = ICOpenAndSendMessage_(fourCC, ICM_GETSTATE, 0, 0);
  return r > 0 ? ClampInt(r) : 0;
}

LRESULT ICGetState_(uint32_t fourCC, uint8_t* buffer, int32_t size) {
  return ICOpenAndSendMessage_(fourCC, ICM_GETSTATE, reinterpret_cast<intptr_t>(buffer), size);
}

LRESULT ICCompressGetFormat_(HIC codec, const uint8_t* in, uint8_t* out) {
  return ICSendMessage(codec, ICM_COMPRESS_GET_FORMAT, reinterpret_cast<intptr_t>(in),
                       reinterpret_cast<intptr_t>(out));
}

int32_t AviCompressFormatSize(HIC codec, const uint8_t* in) {
  const LRESULT r = ICCompressGetFormat_(codec, in, nullptr);
  return r > 0 ? ClampInt(r) : 0;
}

void AviCodecKeyFrameRate(uint32_t fourCC, int32_t* rate) {
  uint32_t v = 0;
  *rate = ICOpenAndSendMessage_(fourCC, ICM_GETDEFAULTKEYFRAMERATE, reinterpret_cast<intptr_t>(&v),
                                0) == ICERR_OK
              ? ClampInt(v)
              : 0;
}

void AviCodecQuality(uint32_t fourCC, int32_t* quality) {
  uint32_t v = 0;
  *quality = ICOpenAndSendMessage_(fourCC, ICM_GETDEFAULTQUALITY, reinterpret_cast<intptr_t>(&v),
                                   0) == ICERR_OK
                 ? ClampInt(v / 100)
                 : 0;
}

void AviCodecAbout(uint32_t fourCC) {
  Errors::TraceScope t("FF_AVI.AviCodecAbout");
  ICOpenAndSendMessage_(fourCC, ICM_ABOUT, 0, 0);
}

bool AviCodecConfigure(AviCodecRec* settings) {
  Errors::TraceScope t("FF_AVI.AviCodecConfigure");
  HIC ic = OpenQuery(settings->fourCC);
  if (ic == nullptr) return false;
  ICSendMessage(ic, ICM_SETSTATE, reinterpret_cast<intptr_t>(settings->state.data()),
                settings->stateSize);
  const LRESULT r = ICSendMessage(ic, ICM_CONFIGURE, 0, 0);
  if (r == ICERR_OK && settings->stateSize > 0) {
    settings->state.resize(static_cast<size_t>(settings->stateSize));
    ICSendMessage(ic, ICM_GETSTATE, reinterpret_cast<intptr_t>(settings->state.data()),
                  settings->stateSize);
  }
  ICClose(ic);
  return r == ICERR_OK;
}

// ---- capabilities -----------------------------------------------------------------------

bool AviCodecCheck_(uint32_t fourCC, int32_t width, int32_t height, int32_t* outBits,
                    int32_t* outHeight, int32_t* outWidth, int32_t bits) {
  Errors::TraceScope t("FF_AVI.AviCodecCheck_");
  if (AVIChk4FullFrames_(fourCC)) {
    *outBits = bits;
    *outHeight = height;
    *outWidth = width;
    return true;
  }
  *outBits = *outHeight = *outWidth = 0;
  HIC ic = OpenQuery(fourCC);
  if (ic == nullptr) return false;
  uint8_t in[Gdi::kBitmapInfoHeaderSize];
  FillBitmapInfo_(in, width, height, nullptr, AviDepthToCodec(bits));
  bool ok = false;
  if (AviCompressFormatSize(ic, in) >= Gdi::kBitmapInfoHeaderSize) {
    uint8_t out[Gdi::kBitmapInfoHeaderSize] = {};
    if (ICCompressGetFormat_(ic, in, out) == ICERR_OK) {
      const Gdi::BITMAPINFOHEADER o = Gdi::ReadBitmapInfoHeader(out);
      ok = o.biWidth > 0 && o.biHeight > 0 && o.biBitCount > 0;
      if (ok) {
        *outWidth = o.biWidth;
        *outHeight = o.biHeight;
        *outBits = AviDepthFromCodec(o.biBitCount);
      }
    }
  }
  ICClose(ic);
  if (ok && (fourCC == Fcc("DIVX") || fourCC == Fcc("divx"))) {
    *outWidth = (*outWidth + 2) / 4 * 4;
    *outHeight = (*outHeight + 2) / 4 * 4;
  }
  return ok;
}

bool AviCodecCanEncode_(uint32_t fourCC, const uint8_t* header) {
  if (AVIChk4FullFrames_(fourCC)) return true;
  return ICOpenAndSendMessage_(fourCC, ICM_COMPRESS_QUERY, reinterpret_cast<intptr_t>(header), 0) ==
         ICERR_OK;
}

bool AviCodecCanEncodeEx_(uint32_t fourCC, int32_t width, int32_t height, int32_t bits) {
  uint8_t in[Gdi::kBitmapInfoHeaderSize];
  FillBitmapInfo_(in, width, height, nullptr, bits);
  return AviCodecCanEncode_(fourCC, in);
}

void AviCodecIsEncoder_(uint32_t fourCC, bool* isEncoder) {
  *isEncoder = false;
  for (int32_t bits : {24, 16, 8})
    if (AviCodecCanEncodeEx_(fourCC, 320, 240, bits)) {
      *isEncoder = true;
      return;
    }
}

// ---- the list ------------------------------------------------------------------------------

void AviCodecsRecFree() {
  R().codecs.clear();
  codecsBuilt = false;
}

void AviCodecsInit() {
  Errors::Monitored("FF_AVI.AviCodecsInit", [&] {
    AviCodecsRecFree();
    ICINFO info;
    for (int32_t i = 0; ICInfo(ICTYPE_VIDEO, i, &info) && R().codecs.size() < 254; i++) {
      Errors::TraceWriteLine("AVI Codec Info: " + FFBasic::FourCCToStr(info.fccHandler));
      HIC ic = OpenQuery(info.fccHandler);
      if (ic == nullptr) continue;
      ICINFO got;
      if (ICGetInfo(ic, &got, sizeof got) <= 0) {
        ICClose(ic);
        continue;
      }
      AviCodecRec r;
      r.id = static_cast<int32_t>(R().codecs.size()) + 1;
      r.fourCC = info.fccHandler;
      r.codecHandle = reinterpret_cast<intptr_t>(ic);
      r.name = std::string(got.szName).substr(0, 16);
      r.description = std::string(got.szDescription).substr(0, 128);
      r.hasAbout = ICSendMessage(ic, ICM_ABOUT, -1, 1) == ICERR_OK;
      r.hasConfig = ICSendMessage(ic, ICM_CONFIGURE, -1, 1) == ICERR_OK;
      r.supportsQuality = (got.dwFlags & VIDCF_QUALITY) != 0;
      r.supportsKeyFrames = (got.dwFlags & VIDCF_TEMPORAL) != 0;
      r.supportsDataRate = (got.dwFlags & VIDCF_CRUNCH) != 0 || r.supportsQuality;
      AviCodecIsEncoder_(r.fourCC, &r.isEncoder);
      AviCodecKeyFrameRate(r.fourCC, &r.keyFrameRate);
      AviCodecQuality(r.fourCC, &r.quality);
      r.stateSize = r.fourCC == Fcc("AP41") ? 0 : ICGetStateSize_(r.fourCC);
      if (r.stateSize > 0) {
        r.state.resize(static_cast<size_t>(r.stateSize));
        ICGetState_(r.fourCC, r.state.data(), r.stateSize);
      }
      ICClose(ic);
      R().codecs.push_back(std::move(r));
    }
    AviCodecRec u;
    u.id = static_cast<int32_t>(R().codecs.size());
    u.fourCC = Fcc("DIB ");
    u.name = "Uncompressed";
    u.description = "Full Frames, Uncompressed";
    u.keyFrameRate = 1;
    u.isEncoder = true;
    R().codecs.push_back(u);
    R().codecs.push_back(AviCodecRec{});
    codecsBuilt = true;
  });
}

int32_t AviCodecsList(const AviCodecRec** list, int32_t width, int32_t height, int32_t bits) {
  int32_t count = 0;
  Errors::Monitored("FF_AVI.AviCodecsList", [&] {
    if (!codecsBuilt) AviCodecsInit();
    count = static_cast<int32_t>(R().codecs.size()) - 1;
    if (width > 0 && height > 0 && bits > 0)
      for (int32_t i = 0; i < count; i++) {
        AviCodecRec& r = R().codecs[static_cast<size_t>(i)];
        const bool ok =
            AviCodecCheck_(r.fourCC, width, height, &r.outBits, &r.outHeight, &r.outWidth, bits);
        r.compatible = ok && r.isEncoder;
      }
  });
  *list = R().codecs.empty() ? nullptr : R().codecs.data();
  return count;
}

int32_t AviCodecIndex(uint32_t fourCC) {
  if (!codecsBuilt) return -1;
  for (size_t i = 0; i + 1 < R().codecs.size(); i++)
    if (R().codecs[i].fourCC == fourCC) return static_cast<int32_t>(i);
  return -1;
}

void AviGetCurCodec(AviCodecRec* settings) { *settings = Current(); }

void AviSetCurCodec(AviCodecRec* settings) {
  Errors::TraceScope t("FF_AVI.AviSetCurCodec");
  const int32_t i = AviCodecIndex(settings->fourCC);
  if (i >= 0) *settings = R().codecs[static_cast<size_t>(i)];
  R().current = *settings;
  currentDescribed = true;
  currentUncompressed = AVIChk4FullFrames_(Current().fourCC);
}

void AviCodecRecByFCC(AviCodecRec* settings, uint32_t fourCC) {
  Errors::TraceScope t("FF_AVI.AviCodecRecByFCC");
  *settings = AviCodecRec{};
  const int32_t i = AviCodecIndex(fourCC);
  if (i >= 0) {
    *settings = R().codecs[static_cast<size_t>(i)];
  } else {
    settings->fourCC = fourCC;
    if (HIC ic = OpenQuery(fourCC)) {
      ICClose(ic);
      AviCodecKeyFrameRate(fourCC, &settings->keyFrameRate);
      AviCodecQuality(fourCC, &settings->quality);
    }
  }
  for (int32_t bits : {32, 24, 16, 8})
    if (AviCodecCanEncodeEx_(fourCC, 320, 240, bits)) {
      settings->outBits = AviDepthFromCodec(bits);
      break;
    }
}

namespace {
template <class Field>
void SetInBoth(AviCodecRec* settings, Field field, int32_t value) {
  settings->*field = value;
  const int32_t i = AviCodecIndex(settings->fourCC);
  if (i >= 0) R().codecs[static_cast<size_t>(i)].*field = value;
}
}  // namespace

void AviCodecSetKeyFrameRate(AviCodecRec* s, int32_t v) {
  SetInBoth(s, &AviCodecRec::keyFrameRate, v);
}
void AviCodecSetQuality(AviCodecRec* s, int32_t v) { SetInBoth(s, &AviCodecRec::quality, v); }
void AviCodecSetDataRate(AviCodecRec* s, int32_t v) { SetInBoth(s, &AviCodecRec::dataRate, v); }

void AviMakeCmpsOptions_() {
  Errors::TraceScope t("FF_AVI.AviMakeCmpsOptions_");
  R().optionParams.clear();
  R().options = AVICOMPRESSOPTIONS{};
  R().options.fccType = streamtypeVIDEO;
  R().options.fccHandler = Current().fourCC;
  R().options.dwKeyFrameEvery = static_cast<uint32_t>(std::max(Current().keyFrameRate, 0));
  R().options.dwQuality = static_cast<uint32_t>(std::clamp(Current().quality, 0, 100) * 100);
  R().options.dwBytesPerSecond = static_cast<uint32_t>(
      std::clamp<int64_t>(int64_t{Current().dataRate} * 1024, 0, UINT32_MAX));
  R().options.dwFlags = AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;
  if (!currentUncompressed) {
    if (Current().stateSize > 0 &&
        Current().state.size() >= static_cast<size_t>(Current().stateSize)) {
      R().optionParams.assign(Current().state.begin(),
                              Current().state.begin() + Current().stateSize);
    } else {
      const int32_t n = ICGetStateSize_(Current().fourCC);
      if (n > 0) {
        R().optionParams.resize(static_cast<size_t>(n));
        ICGetState_(Current().fourCC, R().optionParams.data(), n);
      }
    }
  }
  R().options.lpParms = R().optionParams.empty() ? nullptr : R().optionParams.data();
  R().options.cbParms = static_cast<uint32_t>(R().optionParams.size());
  if (R().options.dwBytesPerSecond > 0 && !AVIChk4MRLE_(Current().fourCC))
    R().options.dwFlags |= AVICOMPRESSF_DATARATE;
}

const AVICOMPRESSOPTIONS& AviCmpsOptions() { return R().options; }

int32_t AviGetCmpsBitCount() { return Current().outBits; }

bool AviSelectVC(int32_t width, int32_t height, int32_t bits, std::string (&texts)[7]) {
  Errors::TraceScope t("FF_AVI.AviSelectVC");
  return DialogHooks::DlgAVI(width, height, bits, texts);
}

void AviSetVC_(int32_t width, int32_t height, int32_t bits) {
  Errors::Monitored("FF_AVI.AviSetVC_", [&] {
    if (currentUncompressed) {
      Current().outBits = bits;
      Current().outWidth = width;
      Current().outHeight = height;
    } else {
      int32_t ob = 0, oh = 0, ow = 0;
      if (!AviCodecCheck_(Current().fourCC, width, height, &ob, &oh, &ow,
                          AviDepthToCodec(bits)) ||
          !AviCodecCanEncodeEx_(Current().fourCC, ow, oh, AviDepthToCodec(ob))) {
        ErrSet(Errors::kErrAviCodecInit, __LINE__);
        return;
      }
      Current().outWidth = ow;
      Current().outHeight = oh;
      Current().outBits = AviDepthFromCodec(ob);
    }
    AviMakeCmpsOptions_();
  });
}

void AviSetVC(int32_t width, int32_t height, int32_t bits, bool allowDialog,
              std::string (*texts)[7]) {
  Errors::TraceScope t("FF_AVI.AviSetVC");
  Errors::MonitoredQuiet("FF_AVI.AviSetVC.try", [&] { AviSetVC_(width, height, bits); });
  if (!Errors::ErrNone() && allowDialog) {
    // The user's pick counts only when the dialog itself ended without an
    // error; it is then fitted to the size like any current codec, so a
    // confirmed choice that still refuses the frames falls back below.
    std::string none[7];
    bool confirmed = false;
    Errors::MonitoredQuiet("FF_AVI.AviSetVC.dialog", [&] {
      confirmed = AviSelectVC(width, height, bits, texts ? *texts : none);
    });
    if (confirmed && Errors::ErrNone())
      Errors::MonitoredQuiet("FF_AVI.AviSetVC.chosen", [&] { AviSetVC_(width, height, bits); });
    else if (Errors::ErrNone())
      Errors::MonitoredQuiet("FF_AVI.AviSetVC.cancelled",
                             [&] { ErrSet(Errors::kErrAviCodecInit, __LINE__); });
  }
  if (!Errors::ErrNone()) {
    Errors::MonitoredQuiet("FF_AVI.AviSetVC.cvid", [&] {
      AviCodecRec r;
      AviCodecRecByFCC(&r, Fcc("cvid"));
      AviSetCurCodec(&r);
      AviSetVC_(width, height, 24);
    });
  }
  if (!Errors::ErrNone()) {
    Errors::MonitoredQuiet("FF_AVI.AviSetVC.dib", [&] {
      AviCodecRec r;
      AviCodecRecByFCC(&r, Fcc("DIB "));
      AviSetCurCodec(&r);
      AviSetVC_(width, height, bits);
    });
  }
  if (!Errors::ErrNone()) {
    const int32_t cls = Errors::ErrClass(), code = Errors::ErrCode();
    Errors::Monitored("FF_AVI.AviSetVC", [&] { ErrSet(cls, code, __LINE__); });
  }
}

// ---- reading ------------------------------------------------------------------------------------

int32_t AviOpenCount() { return openCount; }

namespace {

// The file ends inside its data: what it holds before that is read.
void WarnCut() { WarnSet(Errors::kErrAviRead, __LINE__); }

// Drops the audio stream with the warning for an unusable one.
void AVIIgnoreAudio_(AviFileRec* h, int32_t line) {
  if (h->audio) AVIStreamRelease(h->audio);
  h->audio = nullptr;
  if (h->snd.srcFormat) Basic::MemFree(h->snd.srcFormat);
  h->snd = SndBasic::SndLoadState{};
  WarnSet(Errors::kErrAviAudioIgnored, line);
}

// Reads a stream's format into a tracked block.
bool AVIStreamReadFormat_(PAVISTREAM s, uint8_t*& block, int32_t& size, HRESULT* hr) {
  size = 0;
  *hr = AVIStreamReadFormat(s, 0, nullptr, &size);
  if (*hr != AVIERR_OK || size < 1) {
    if (*hr == AVIERR_OK) *hr = AVIERR_BADFORMAT;
    return false;
  }
  Basic::MemAlloc(block, size, __LINE__, Basic::kMemPlain, "FF_AVI.AVIStreamReadFormat_.block");
  *hr = AVIStreamReadFormat(s, 0, block, &size);
  return *hr == AVIERR_OK;
}

// The source's wave format; a PCM format block may stop after 16 bytes.
SndBasic::WaveFormatEx SourceWave(const AviFileRec* h) {
  uint8_t head[Acm::kWaveFormatSize] = {};
  if (h->snd.srcFormat)
    std::memcpy(head, h->snd.srcFormat,
                static_cast<size_t>(std::clamp(h->snd.srcFormatSize, 0, Acm::kWaveFormatSize)));
  SndBasic::WaveFormatEx f;
  Acm::WaveFormatRead(head, Acm::kWaveFormatSize, f);
  return f;
}

// Bytes of the block reader's buffer: four seconds of the source, and never
// less than one block.
int64_t SoundBufferBytes(const AviFileRec* h) {
  const SndBasic::WaveFormatEx f = SourceWave(h);
  int64_t n =
      std::max<int64_t>(int64_t{4} * f.avgBytesPerSec,
                        std::max<int64_t>(f.blockAlign, h->audioHeader.dwSuggestedBufferSize));
  return n;
}

constexpr int64_t kMaxSoundBuffer = int64_t{64} << 20;

// The sample frames an MPEG audio stream decodes to, counted over its whole
// data; -1 when it cannot be read.
int64_t MpegAudioLength(AviFileRec* h, uint16_t formatTag) {
  Acm::MpegAudioCounter counter(formatTag);
  if (!counter.Usable()) return -1;
  int64_t room = std::max<int64_t>(SoundBufferBytes(h), int64_t{1} << 16);
  uint8_t* buf = nullptr;
  Basic::MemAlloc(buf, room, __LINE__, Basic::kMemPlain, "FF_AVI.MpegAudioLength.buf");
  const int32_t blocks = AVIStreamLength(h->audio);
  int32_t block = 0;
  bool ok = true;
  while (ok && block < blocks) {
    int32_t bytes = 0, samples = 0;
    const HRESULT hr = AVIStreamRead(h->audio, block, AVISTREAMREAD_CONVENIENT, buf,
                                     static_cast<int32_t>(room), &bytes, &samples);
    if (hr == AVIERR_BUFFERTOOSMALL && room < kMaxSoundBuffer) {
      room = std::min(room * 2, kMaxSoundBuffer);
      Basic::MemAlloc(buf, room, __LINE__, Basic::kMemPlain, "FF_AVI.MpegAudioLength.buf");
      continue;
    }
    ok = hr == AVIERR_OK && samples > 0;
    counter.Add(buf, bytes);
    block += samples;
  }
  Basic::MemFree(buf);
  return ok ? counter.Finish() : -1;
}

void OpenAudio(AviFileRec* h) {
  if (AVIFileGetStream(h->file, &h->audio, streamtypeAUDIO, 0) != AVIERR_OK || !h->audio) {
    h->audio = nullptr;
    return;
  }
  SndBasic::SndLoadState& st = h->snd;
  st.blockCount = AVIStreamLength(h->audio);
  HRESULT hr = AVIStreamInfo(h->audio, &h->audioHeader, sizeof h->audioHeader);
  if (hr != AVIERR_OK || !AVIStreamReadFormat_(h->audio, st.srcFormat, st.srcFormatSize, &hr) ||
      st.srcFormatSize < 16) {
    AVIIgnoreAudio_(h, __LINE__);
    return;
  }
  // An empty stream has nothing to deliver.
  if (st.blockCount < 1) {
    AVIIgnoreAudio_(h, __LINE__);
    return;
  }
  SndBasic::WaveFormatEx src;
  uint8_t head[Acm::kWaveFormatSize] = {};
  std::memcpy(head, st.srcFormat, static_cast<size_t>(std::min(st.srcFormatSize, 18)));
  Acm::WaveFormatRead(head, Acm::kWaveFormatSize, src);
  const AVISTREAMINFO& ah = h->audioHeader;
  const int64_t dataBytes = AVIStreamDataBytes(h->audio);
  if (src.avgBytesPerSec < 1) {
    // A variable-rate stream (one block a chunk) has its rate from its data
    // and duration; otherwise a block is taken as one sample frame.
    if (ah.dwSampleSize == 0 && ah.dwRate > 0 && ah.dwScale > 0)
      src.avgBytesPerSec = static_cast<uint32_t>(std::clamp<int64_t>(
          dataBytes * ah.dwRate / (int64_t{st.blockCount} * ah.dwScale), 1, INT32_MAX));
    else
      src.avgBytesPerSec = src.samplesPerSec * src.blockAlign;
    Acm::WaveFormatWrite(src, head);
    std::memcpy(st.srcFormat, head, static_cast<size_t>(std::min(st.srcFormatSize, 16)));
  }
  if (src.formatTag == Acm::kTagPcm) {
    st.dstFormat = src;
    st.dstFormat.extraSize = 0;
    // PCM blocks are sample frames.
    if (h->audioHeader.dwSampleSize != src.blockAlign || src.blockAlign < 1) {
      AVIIgnoreAudio_(h, __LINE__);
      return;
    }
    st.pcmTotal = st.blockCount;
  } else {
    uint8_t sug[Acm::kWaveFormatSize] = {};
    SndBasic::WaveFormatEx want;
    want.formatTag = Acm::kTagPcm;
    Acm::WaveFormatWrite(want, sug);
    if (Acm::acmFormatSuggest(nullptr, st.srcFormat, st.srcFormatSize, sug, sizeof sug,
                              Acm::kSuggestTag) != Acm::kOk) {
      AVIIgnoreAudio_(h, __LINE__);
      return;
    }
    Acm::WaveFormatRead(sug, sizeof sug, st.dstFormat);
    Acm::HACMSTREAM stream = nullptr;
    uint32_t out = 0;
    const int64_t srcBytes =
        ah.dwSampleSize == 0 ? dataBytes : int64_t{st.blockCount} * src.blockAlign;
    const bool ok =
        st.dstFormat.blockAlign > 0 && srcBytes <= UINT32_MAX &&
        Acm::acmStreamOpen(&stream, nullptr, st.srcFormat, st.srcFormatSize, sug, sizeof sug,
                           nullptr, 0, 0, Acm::kOpenNonRealtime) == Acm::kOk &&
        Acm::acmStreamSize(stream, static_cast<uint32_t>(srcBytes), &out, Acm::kSizeSource) ==
            Acm::kOk;
    if (stream) Acm::acmStreamClose(stream, 0);
    if (!ok) {
      AVIIgnoreAudio_(h, __LINE__);
      return;
    }
    st.pcmTotal = static_cast<int32_t>(out / st.dstFormat.blockAlign);
    // The size estimate only bounds MPEG audio, whose frames are counted.
    const int64_t exact = MpegAudioLength(h, src.formatTag);
    if (exact >= 0) st.pcmTotal = static_cast<int32_t>(std::min<int64_t>(exact, st.pcmTotal));
  }
  st.samplesPerBlock = static_cast<double>(st.pcmTotal) / st.blockCount;
  if (st.samplesPerBlock == 0) st.samplesPerBlock = 1.0;
  if (!SndBasic::WaveFormatValidate(st.dstFormat)) {
    AVIIgnoreAudio_(h, __LINE__);
    return;
  }
  h->convClosed = true;
  // A test read of the first four seconds.
  const int64_t bufBytes = SoundBufferBytes(h);
  if (bufBytes > kMaxSoundBuffer) {
    AVIIgnoreAudio_(h, __LINE__);
    return;
  }
  uint8_t* test = nullptr;
  Basic::MemAlloc(test, bufBytes, __LINE__, Basic::kMemPlain, "FF_AVI.AviOpen.test");
  int32_t bytes = 0, samples = 0;
  hr = AVIStreamRead(h->audio, 0, AVISTREAMREAD_CONVENIENT, test, static_cast<int32_t>(bufBytes),
                     &bytes, &samples);
  Basic::MemFree(test);
  if (hr != AVIERR_OK) AVIIgnoreAudio_(h, __LINE__);
}

}  // namespace

void AviOpen(AviFileRec* h, const std::string& fileName) {
  Errors::Monitored("FF_AVI.AviOpen", [&] {
    *h = AviFileRec{};
    openCount++;
    // A failed open leaves a cleared handle (AviClose still counts it).
    Errors::MonSetCleanup([h] { Release_(h); });
    h->fileSize = Basic::FSize64(fileName);
    int32_t reserved = 0;
    h->direct = Tessa::avi_open_DD(fileName.c_str(), &reserved);
    int32_t dw = 0, dh = 0, dbits = 0, dframes = 0;
    double dfps = 0;
    uint8_t dwave[18];
    if (h->direct) {
      Tessa::avi_get_info_DD(h->direct, &dw, &dh, &dbits, &dframes, &dfps, dwave);
      h->directFramesUsable = dw > 0 && dh > 0 && dbits > 0 && dframes > 0;
    }
    HRESULT hr = AVIFileOpen(&h->file, fileName.c_str(), OF_READ, nullptr);
    // More frames than the process allows: refused as every reader refuses
    // them, however else the file could be read.
    if (hr == AVIERR_BADSIZE) {
      ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    if (hr != AVIERR_OK) {
      WarnSet(Errors::kClsAviFile, hr, __LINE__);
      hr = AVIFileOpen(&h->file, fileName.c_str(), OF_READ, kFileClass);
      if (hr != AVIERR_OK) {
        if (!h->direct) {
          ErrSet(Errors::kClsAviFile, hr, __LINE__);
          return;
        }
        WarnSet(Errors::kClsAviFile, hr, __LINE__);
      }
    }
    if (h->file) {
      AVIFILEINFO fi;
      AVIFileInfo(h->file, &fi, sizeof fi);
      h->maxDataRate = ClampInt(fi.dwMaxBytesPerSec);
      h->cut = (fi.dwFlags & AVIFILEINFO_CUT) != 0;
      if (AVIFileGetStream(h->file, &h->video, streamtypeVIDEO, 0) == AVIERR_OK && h->video) {
        hr = AVIStreamInfo(h->video, &h->videoHeader, sizeof h->videoHeader);
        if (hr != AVIERR_OK) {
          ErrSet(Errors::kClsAviFile, hr, __LINE__);
          return;
        }
        if (!AVIStreamReadFormat_(h->video, h->videoFormat, h->videoFormatSize, &hr)) {
          ErrSet(Errors::kClsAviFile, hr, __LINE__);
          return;
        }
        const uint32_t handler = UpperFcc(h->videoHeader.fccHandler);
        if (handler == Fcc("DVSD") || handler == Fcc("CVID")) {
          AVIStreamRelease(h->video);
          h->video = nullptr;
        } else {
          h->frameRate = h->videoHeader.dwScale > 0
                             ? static_cast<double>(h->videoHeader.dwRate) / h->videoHeader.dwScale
                             : 0;
          h->frameCount = AVIStreamLength(h->video);
          if (h->frameCount < 1) {
            ErrSet(Errors::kErrAviOpen, __LINE__);
            return;
          }
          h->getFrame = AVIStreamGetFrameOpen(h->video, nullptr);
          int64_t dibBytes = 0;
          const uint8_t* dib = h->getFrame ? AVIStreamGetFrame(h->getFrame, 0, &dibBytes) : nullptr;
          Gdi::BITMAPINFOHEADER bh;
          if (dib != nullptr && dibBytes >= Gdi::kBitmapInfoHeaderSize) {
            bh = Gdi::ReadBitmapInfoHeader(dib);
          } else {
            if (h->getFrame) AVIStreamGetFrameClose(h->getFrame);
            h->getFrame = nullptr;
            AVIStreamRelease(h->video);
            h->video = nullptr;
            if (h->videoFormatSize >= Gdi::kBitmapInfoHeaderSize)
              bh = Gdi::ReadBitmapInfoHeader(h->videoFormat);
          }
          h->width = bh.biWidth;
          h->height = std::abs(bh.biHeight);
          h->bitsPerPixel = bh.biBitCount;
          if (h->video && AVIChk4FullFrames_(h->videoHeader.fccHandler) && h->bitsPerPixel != 32) {
            if (h->getFrame) AVIStreamGetFrameClose(h->getFrame);
            h->getFrame = nullptr;
            AVIStreamRelease(h->video);
            h->video = nullptr;
          }
        }
      } else {
        h->video = nullptr;
      }
      OpenAudio(h);
    }
    if (!h->video && h->directFramesUsable) {
      h->directFrames = true;
      h->width = dw;
      h->height = dh;
      h->bitsPerPixel = dbits;
      h->frameCount = dframes;
      h->frameRate = dfps;
    }
    if (h->bitsPerPixel == 16) h->bitsPerPixel = 15;
    h->bytesPerPixel = (h->bitsPerPixel + 7) / 8;
    if (h->cut) WarnCut();
  });
}

void AviImgSetPos(AviFileRec* h, int32_t frame) {
  Errors::TraceScope t("FF_AVI.AviImgSetPos");
  h->lastFrame = frame - 1;
}

void AviImgLoad(AviFileRec* h, Qimg* image, int32_t frame, int32_t flags) {
  Errors::Monitored("FF_AVI.AviImgLoad", [&] {
    if (frame < 0 || frame > h->frameCount) {
      ErrSet(Errors::kErrAviRead, __LINE__);
      return;
    }
    if ((flags & 1) && frame != 0 && frame == h->lastFrame) return;
    if (frame != 0 && frame != h->lastFrame + 1) h->lastFrame = frame - 1;
    if (h->lastFrame < 0 || h->lastFrame >= h->frameCount) {
      ErrSet(Errors::kErrAviRead, __LINE__);
      return;
    }
    if (h->directFrames) {
      ImgBasic::_imgalloc_(image, h->width, h->height, "FF_AVI.AviImgLoad.image", __LINE__,
                           h->bitsPerPixel);
      if (!Tessa::avi_get_frame_DD(h->direct, image->data, image->size, h->lastFrame,
                                   image->palette)) {
        ErrSet(Errors::kErrAviRead, __LINE__);
        return;
      }
    } else {
      if (!h->video) {
        ErrSet(Errors::kErrAviRead, __LINE__);
        return;
      }
      if (!h->getFrame) h->getFrame = AVIStreamGetFrameOpen(h->video, nullptr);
      if (!h->getFrame) {
        ErrSet(Errors::kErrAviRead, __LINE__);
        return;
      }
      int64_t bytes = 0;
      const uint8_t* dib = AVIStreamGetFrame(h->getFrame, h->lastFrame, &bytes);
      if (!dib) {
        ErrSet(Errors::kErrAviRead, __LINE__);
        return;
      }
      ImgBasic::DibToQimg(image, dib, bytes);
    }
    // 8-bit frames bring their palette on the first frame and on a change.
    h->newPalette = false;
    if (image->bitsPerPixel == 8 &&
        (!h->paletteSent || std::memcmp(h->lastPalette, image->palette, 768) != 0)) {
      h->newPalette = true;
      h->paletteSent = true;
      std::memcpy(h->lastPalette, image->palette, 768);
    }
    h->lastFrame++;
  });
}

void AviSndSeek(AviFileRec* h, int32_t sample) {
  Errors::Monitored("FF_AVI.AviSndSeek", [&] {
    SndBasic::SndLoadState& st = h->snd;
    if (sample >= st.pcmTotal) return;
    const int32_t s = std::max(sample, 0);
    const double spb = st.samplesPerBlock > 0 ? st.samplesPerBlock : 1.0;
    int32_t block = static_cast<int32_t>(s / spb);
    int32_t pos = s;
    if (block >= st.blockCount) {
      block = st.blockCount - 1;
      pos = static_cast<int32_t>(block * spb);
    }
    st.curBlock = block;
    st.samplePos = pos;
    // The conversion restarts at the block: what lies before the position
    // in it is dropped on the next load.
    h->skipFrames = std::max(0, pos - static_cast<int32_t>(block * spb));
    st.filled = st.consumed = 0;
    st.ended = false;
    if (st.sndData) Basic::MemFree(st.sndData);
    if (!h->convClosed) SndBasic::WaveConvertDone(h->conv);
    h->conv = SndBasic::WaveConvRec{};
    h->convClosed = true;
  });
}

void AviSndLoad_(void* handle, int32_t /*bytesNeeded*/, uint8_t*& block, int32_t& bytes,
                 int32_t& frames) {
  Errors::Monitored("FF_AVI.AviSndLoad_", [&] {
    auto* h = static_cast<AviFileRec*>(handle);
    bytes = frames = 0;
    const SndBasic::SndLoadState& st = h->snd;
    if (!h->audio || st.curBlock >= st.blockCount) return;
    const int64_t bufBytes = SoundBufferBytes(h);
    if (bufBytes > kMaxSoundBuffer) {
      ErrSet(Errors::kClsAviFile, AVIERR_BADSIZE, __LINE__);
      return;
    }
    Basic::MemAlloc(block, bufBytes, __LINE__, Basic::kMemPlain, "FF_AVI.AviSndLoad_.block");
    const SndBasic::WaveFormatEx f = SourceWave(h);
    const int32_t want = f.formatTag == Acm::kTagPcm ? AVISTREAMREAD_CONVENIENT
                                                     : static_cast<int32_t>(f.avgBytesPerSec);
    const HRESULT hr = AVIStreamRead(h->audio, st.curBlock, want, block,
                                     static_cast<int32_t>(bufBytes), &bytes, &frames);
    if (hr != AVIERR_OK) {
      bytes = frames = 0;
      ErrSet(Errors::kClsAviFile, hr, __LINE__);
    }
  });
}

void AviSndLoad(AviFileRec* h, SndBasic::SndRec* sound, int32_t start, int32_t flags,
                int32_t count) {
  Errors::Monitored("FF_AVI.AviSndLoad", [&] {
    SndBasic::SndLoadState& st = h->snd;
    // A failed load drops what was buffered; the next load starts afresh.
    Errors::MonSetCleanup([h] {
      if (h->snd.sndData) Basic::MemFree(h->snd.sndData);
      h->snd.filled = h->snd.consumed = 0;
      if (!h->convClosed) SndBasic::WaveConvertDone(h->conv);
      h->conv = SndBasic::WaveConvRec{};
      h->convClosed = true;
      h->snd.ended = true;
    });
    sound->frames = 0;
    // Nothing at or past the end, nor without sound.
    if (!h->audio || start >= st.pcmTotal) {
      ErrSet(Errors::kErrAviAudioRead, __LINE__);
      return;
    }
    if (!((flags & 1) && start == st.samplePos)) AviSndSeek(h, start);
    if (st.ended && st.consumed >= st.filled) {
      ErrSet(Errors::kErrAviAudioRead, __LINE__);
      return;
    }
    if (h->convClosed) {
      SndBasic::WaveConvertInit(h->conv, st.srcFormat, st.srcFormatSize, st.dstFormat);
      h->convClosed = false;
    }
    while (h->skipFrames > 0) {
      SndBasic::SndRec skipped;
      SndBasic::SndLoad(st, h->conv, AviSndLoad_, h, h->skipFrames, skipped);
      const int32_t got = skipped.frames;
      SndBasic::SndFree(skipped);
      h->skipFrames = got > 0 ? h->skipFrames - got : 0;
    }
    SndBasic::SndLoad(st, h->conv, AviSndLoad_, h, count, *sound);
    st.samplePos += sound->frames;
  });
}

// ---- writing ------------------------------------------------------------------------------------

void AviCreate(AviFileRec* h, const std::string& fileName, int32_t interleave, double frameRate) {
  Errors::Monitored("FF_AVI.AviCreate", [&] {
    *h = AviFileRec{};
    std::remove(fileName.c_str());
    openCount++;
    HRESULT hr = AVIFileOpen(&h->file, fileName.c_str(), OF_CREATE | OF_WRITE, nullptr);
    if (hr != AVIERR_OK) {
      WarnSet(Errors::kClsAviFile, hr, __LINE__);
      hr = AVIFileOpen(&h->file, fileName.c_str(), OF_CREATE | OF_WRITE, kFileClass);
      if (hr != AVIERR_OK) {
        ErrSet(Errors::kClsAviFile, hr, __LINE__);
        return;
      }
    }
    h->frameRate = frameRate;
    h->interleave = interleave;
    h->writeMode = true;
    AviGetCurCodec(&h->codec);
  });
}

namespace {

void CreateVideo(AviFileRec* h, Qimg* image) {
  AviWriteCustomInfo(h);
  AviSetCurCodec(&h->codec);
  AviSetVC(image->width, image->height, image->bitsPerPixel);
  AviGetCurCodec(&h->codec);
  h->width = image->width;
  h->height = image->height;
  h->bitsPerPixel = AviGetCmpsBitCount();
  h->bytesPerPixel = (h->bitsPerPixel + 7) / 8;
  const AVICOMPRESSOPTIONS& o = AviCmpsOptions();
  if (!(h->frameRate > 0) || h->frameRate * 10000 > UINT32_MAX) {
    ErrSet(Errors::kClsAviFile, AVIERR_BADPARAM, __LINE__);
    return;
  }
  AVISTREAMINFO& si = h->videoHeader;
  si = AVISTREAMINFO{};
  si.fccType = streamtypeVIDEO;
  si.fccHandler = o.fccHandler;
  si.dwScale = 10000;
  si.dwRate = static_cast<uint32_t>(std::llround(h->frameRate * 10000));
  si.dwSuggestedBufferSize = static_cast<uint32_t>(
      Gdi::DibRowBytes(h->width, AviDepthToCodec(h->bitsPerPixel)) * h->height);
  si.dwQuality = o.dwQuality;
  si.rcFrame.right = h->width;
  si.rcFrame.bottom = h->height;
  HRESULT hr = AVIFileCreateStream(h->file, &h->rawVideo, &si);
  if (hr != AVIERR_OK) {
    ErrSet(Errors::kClsAviFile, hr, __LINE__);
    return;
  }
  hr = AVIMakeCompressedStream(&h->video, h->rawVideo, &o, nullptr);
  if (hr != AVIERR_OK) {
    WarnSet(Errors::kClsAviFile, hr, __LINE__);
    hr = AVIMakeCompressedStream(&h->video, h->rawVideo, &o, kCompressorClass);
    if (hr != AVIERR_OK) {
      ErrSet(Errors::kClsAviFile, hr, __LINE__);
      return;
    }
  }
  h->videoFormatSize = Gdi::kBitmapInfoHeaderSize + (h->bitsPerPixel == 8 ? 1024 : 0);
  Basic::MemAlloc(h->videoFormat, h->videoFormatSize, __LINE__, Basic::kMemPlain,
                  "FF_AVI.AviImgSave.videoFormat");
  FillBitmapInfo_(h->videoFormat, h->width, h->height,
                  h->bitsPerPixel == 8 ? image->palette : nullptr,
                  AviDepthToCodec(h->bitsPerPixel));
  hr = AVIStreamSetFormat(h->video, 0, h->videoFormat, h->videoFormatSize);
  if (hr != AVIERR_OK) {
    ErrSet(Errors::kClsAviFile, hr, __LINE__);
    return;
  }
  std::memcpy(h->writtenPalette, image->palette, 768);
}

}  // namespace

void AviImgSave(AviFileRec* h, Qimg* image) {
  Errors::Monitored("FF_AVI.AviImgSave", [&] {
    // The stream format allocated here goes with a failure.
    if (!h->video)
      Errors::MonSetCleanup([h] {
        if (h->videoFormat) Basic::MemFree(h->videoFormat);
        h->videoFormatSize = 0;
      });
    if (!h->writeMode || !h->file || !ImgBasic::ImgIsValid(image)) {
      ErrSet(Errors::kErrAviCodecInit, __LINE__);
      return;
    }
    if (h->video && (image->width != h->width || image->height != h->height)) {
      ErrSet(Errors::kErrAviCodecInit, __LINE__);
      return;
    }
    FFBasic::FFInitRec prep;
    FFBasic::FFInit(ConForm::kFmtAVI, &prep, image, 1);
    Qimg* img = prep.image;
    if (!h->video) CreateVideo(h, img);
    // Every frame goes in at the compressor's depth.
    Qimg conv;
    if (img->bitsPerPixel != h->bitsPerPixel) {
      ImgBasic::ImgConvBpp(img, &conv, h->bitsPerPixel);
      img = &conv;
    }
    if (h->bitsPerPixel == 8 && std::memcmp(h->writtenPalette, img->palette, 768) != 0) {
      FillBitmapInfo_(h->videoFormat, h->width, h->height, img->palette, 8);
      const HRESULT hr =
          AVIStreamSetFormat(h->video, h->lastFrame, h->videoFormat, h->videoFormatSize);
      if (hr != AVIERR_OK) {
        ErrSet(Errors::kClsAviFile, hr, __LINE__);
        return;
      }
      std::memcpy(h->writtenPalette, img->palette, 768);
    }
    const int32_t codecBits = AviDepthToCodec(h->bitsPerPixel);
    const int64_t stride = Gdi::DibRowBytes(h->width, codecBits);
    const int64_t rowBytes = int64_t{h->width} * h->bytesPerPixel;
    uint8_t* buf = nullptr;
    Basic::MemAlloc(buf, stride * h->height, __LINE__, Basic::kMemPlain, "FF_AVI.AviImgSave.buf");
    for (int32_t y = 0; y < h->height; y++)
      std::memcpy(buf + (h->height - 1 - y) * stride, img->data + y * rowBytes,
                  static_cast<size_t>(rowBytes));
    const HRESULT hr =
        AVIStreamWrite(h->video, h->lastFrame, 1, buf, static_cast<int32_t>(stride * h->height), 0,
                       nullptr, nullptr);
    Basic::MemFree(buf);
    if (conv.data) ImgBasic::ImgFree(&conv);
    FFBasic::FFDone(&prep);
    if (hr != AVIERR_OK) {
      ErrSet(Errors::kClsAviFile, hr, __LINE__);
      return;
    }
    h->lastFrame++;
  });
}

void AviSndSave(AviFileRec* h, SndBasic::SndRec* sound) {
  Errors::Monitored("FF_AVI.AviSndSave", [&] {
    if (sound->data == nullptr || sound->frames < 1) return;
    if (!h->writeMode || !h->file) {
      ErrSet(Errors::kClsAviFile, AVIERR_BADPARAM, __LINE__);
      return;
    }
    if (!h->audio) {
      std::vector<uint8_t> fmt;
      if (sound->format.blockAlign < 1 || !WaveFormatBlock(sound->format, &fmt)) {
        ErrSet(Errors::kClsAviFile, AVIERR_BADFORMAT, __LINE__);
        return;
      }
      AVISTREAMINFO& si = h->audioHeader;
      si = AVISTREAMINFO{};
      si.fccType = streamtypeAUDIO;
      si.dwScale = sound->format.blockAlign;
      si.dwRate = sound->format.avgBytesPerSec;
      si.dwSampleSize = sound->format.blockAlign;
      HRESULT hr = AVIFileCreateStream(h->file, &h->audio, &si);
      if (hr != AVIERR_OK) {
        h->audio = nullptr;
        ErrSet(Errors::kClsAviFile, hr, __LINE__);
        return;
      }
      hr = AVIStreamSetFormat(h->audio, 0, fmt.data(), static_cast<int32_t>(fmt.size()));
      if (hr != AVIERR_OK) {
        ErrSet(Errors::kClsAviFile, hr, __LINE__);
        return;
      }
      h->snd.dstFormat = sound->format;
    }
    SndBasic::SndRec converted;
    SndBasic::SndRec* src = sound;
    if (SndBasic::WaveFormatDiffers(sound->format, h->snd.dstFormat)) {
      SndBasic::SndConvert(*sound, converted, h->snd.dstFormat);
      src = &converted;
    }
    const int64_t bytes = int64_t{src->frames} * h->snd.dstFormat.blockAlign;
    HRESULT hr = AVIERR_OK;
    if (bytes > 0)
      hr = AVIStreamWrite(h->audio, h->soundWritten, src->frames, src->data,
                          static_cast<int32_t>(bytes), AVIIF_KEYFRAME, nullptr, nullptr);
    const int32_t frames = src->frames;
    if (src == &converted) SndBasic::SndFree(converted);
    if (hr != AVIERR_OK) {
      ErrSet(Errors::kClsAviFile, hr, __LINE__);
      return;
    }
    h->soundWritten += frames;
  });
}

// ---- INFO list
// -----------------------------------------------------------------------------------

void AviSetCustomInfo(AviFileRec* h, const std::string& code, const std::string& text) {
  Errors::Monitored("FF_AVI.AviSetCustomInfo", [&] {
    if (text.empty() || code.size() < 4) return;
    const int64_t used = 4 + int64_t{h->infoSize};
    uint8_t* grown = nullptr;
    Basic::MemAlloc(grown, used + kEntryGrowth, __LINE__, Basic::kMemPlain,
                    "FF_AVI.AviSetCustomInfo.info");
    if (h->info) {
      std::memcpy(grown, h->info, static_cast<size_t>(used));
      Basic::MemFree(h->info);
    }
    h->info = grown;
    uint8_t* e = h->info + used;
    std::memcpy(e, code.data(), 4);
    FFBasic::Put32L(e + 4, 256);
    std::memset(e + 8, 0, 256);
    std::memcpy(e + 8, text.data(), std::min<size_t>(text.size(), 255));
    h->infoSize += kEntryBytes;
  });
}

void AviWriteCustomInfo(AviFileRec* h) {
  Errors::Monitored("FF_AVI.AviWriteCustomInfo", [&] {
    if (h->infoSize == 0 || !h->info) return;
    std::memcpy(h->info, "INFO", 4);
    const HRESULT hr = AVIFileWriteData(h->file, ckidLIST, h->info, h->infoSize + 4);
    if (hr != AVIERR_OK) ErrSet(Errors::kClsAviFile, hr, __LINE__);
  });
}

void AviGetCustomInfo(AviFileRec* h, const std::string& code, std::string* text) {
  Errors::Monitored("FF_AVI.AviGetCustomInfo", [&] {
    text->clear();
    if (!h->file || code.size() < 4) return;
    int32_t size = 0;
    HRESULT hr = AVIFileReadData(h->file, ckidLIST, nullptr, &size);
    if (hr == AVIERR_NODATA) return;  // a file without an INFO list
    if (hr != AVIERR_OK) {
      ErrSet(Errors::kClsAviFile, hr, __LINE__);
      return;
    }
    if (size < 4) return;
    uint8_t* data = nullptr;
    Basic::MemAlloc(data, size, __LINE__, Basic::kMemPlain, "FF_AVI.AviGetCustomInfo.data");
    hr = AVIFileReadData(h->file, ckidLIST, data, &size);
    if (hr != AVIERR_OK) {
      ErrSet(Errors::kClsAviFile, hr, __LINE__);
      return;
    }
    // Every step stays inside the data: an entry's header and the text it
    // claims are cut at the end.
    int64_t pos = 4;
    while (pos + 8 <= size) {
      const uint32_t entrySize = Gdi::ReadDword(data + pos + 4);
      if (std::memcmp(data + pos, code.data(), 4) == 0) {
        const int64_t n = std::min<int64_t>({int64_t{entrySize}, 256, size - (pos + 8)});
        const char* s = reinterpret_cast<const char*>(data + pos + 8);
        *text = std::string(s, strnlen(s, static_cast<size_t>(n)));
        break;
      }
      pos += int64_t{entrySize} + 8;
    }
    Basic::MemFree(data);
  });
}

// ---- closing and information -------------------------------------------------------------------

namespace {

// Releases everything a handle holds and clears it; the result is the one
// of finishing a written file.
HRESULT Release_(AviFileRec* h) {
  if (h->getFrame) AVIStreamGetFrameClose(h->getFrame);
  if (h->video && h->writeMode) AVIStreamRelease(h->video);
  if (h->rawVideo) AVIStreamRelease(h->rawVideo);
  if (h->video && !h->writeMode) AVIStreamRelease(h->video);
  if (h->direct) Tessa::avi_close_DD(h->direct);
  if (!h->convClosed) SndBasic::WaveConvertDone(h->conv);
  if (h->audio) AVIStreamRelease(h->audio);
  HRESULT hr = AVIERR_OK;
  if (h->file) hr = AVIFileRelease(h->file);
  if (h->videoFormat) Basic::MemFree(h->videoFormat);
  if (h->info) Basic::MemFree(h->info);
  if (h->snd.srcFormat) Basic::MemFree(h->snd.srcFormat);
  if (h->snd.sndData) Basic::MemFree(h->snd.sndData);
  *h = AviFileRec{};
  return hr;
}

}  // namespace

void AviClose(AviFileRec* h) {
  Errors::Monitored("FF_AVI.AviClose", [&] {
    if (openCount <= 0) return;
    const HRESULT hr = Release_(h);
    openCount--;
    if (hr != AVIERR_OK) ErrSet(Errors::kClsAviFile, hr, __LINE__);
  });
}

void AviInfo(const std::string& fileName, ConForm::FFInfoRec* info) {
  // The handle outlives the frame: its clean-up runs after the body.
  AviFileRec h;
  Errors::Monitored("FF_AVI.AviInfo", [&] {
    Errors::MonSetCleanup([&h] {
      if (openCount > 0) openCount--;
      Release_(&h);
    });
    AviOpen(&h, fileName);
    info->fileSize = h.fileSize;
    info->dataRate = h.maxDataRate;
    ConForm::PictureInfo& p = info->picture;
    if (h.bitsPerPixel != 0) {
      p.width = h.width;
      p.height = h.height;
      p.bitsPerPixel = h.bitsPerPixel;
      p.bytesPerPixel = (h.bitsPerPixel + 7) / 8;
      p.frameCount = h.frameCount;
      p.fps = h.frameRate;
      uint32_t code = h.videoHeader.fccHandler;
      if (code == 0)
        code = h.videoFormatSize >= Gdi::kBitmapInfoHeaderSize
                   ? Gdi::ReadBitmapInfoHeader(h.videoFormat).biCompression
                   : 0xFFFFFFFFu;
      AVIGetVideoName(code, &p.videoCompression);
      p.hasPictures = h.frameCount > 0;
      p.picturesReadable = p.hasPictures && (h.video != nullptr || h.directFrames);
    }
    if (h.snd.srcFormat) {
      ConForm::SoundInfo& s = info->sound;
      s.ownWave = SourceWave(&h);
      s.wave = h.snd.dstFormat;
      s.sampleFrames = h.snd.pcmTotal;
      AVIGetAudioName(s.ownWave.formatTag, &s.audioCompression);
      s.hasSound = h.snd.pcmTotal > 0;
      s.soundReadable = s.hasSound && h.audio != nullptr;
    }
    const bool cut = h.cut;
    AviClose(&h);
    if (cut) WarnCut();
  });
}

// ---- library start and stop ----------------------------------------------------------------

void AviUnitInit() {
  Errors::TraceScope t("FF_AVI.AviUnitInit");
  if (unitUsers++ > 0) return;
  AVIFileInit();
  fileLayerInit = true;
  // The registry is made now, before the library's own load-time object is
  // complete, so that it is destroyed after the stop has used it.
  (void)R();
  currentDescribed = false;
  currentUncompressed = false;
}

void AviUnitDone() {
  Errors::TraceScope t("FF_AVI.AviUnitDone");
  if (unitUsers <= 0 || --unitUsers > 0) return;
  R().optionParams.clear();
  R().options = AVICOMPRESSOPTIONS{};
  if (fileLayerInit) AVIFileExit();
  fileLayerInit = false;
  AviCodecsRecFree();
}

}  // namespace FF_AVI
