#include "engine/ConFormSave.h"

#include <algorithm>
#include <climits>

#include "formats/DialogHooks.h"
#include "formats/FFBasic.h"
#include "formats/FF_MPG.h"
#include "formats/FF_OGG.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"

namespace ConForm {
namespace {

using Basic::K_AUTO;

uint32_t FourCC(const char* text) {
  uint32_t v = 0;
  for (int i = 0; i < 4; i++) {
    const uint8_t c = text[i] ? static_cast<uint8_t>(text[i]) : ' ';
    v |= uint32_t{c} << (8 * i);
    if (!text[i]) {
      for (int k = i + 1; k < 4; k++) v |= uint32_t{' '} << (8 * k);
      break;
    }
  }
  return v;
}

bool IsAudioKind(const FFSaveRec* rec) { return rec->kind == kSaveAudio; }

// The limits the option dialogs offer: MPEG audio bit rates in kilobits per
// second, Ogg Vorbis quality steps.
constexpr int32_t kMpaMinRate = 32;
constexpr int32_t kMpaMaxRate = 384;
constexpr int32_t kOggMinQuality = 0;
constexpr int32_t kOggMaxQuality = 10;

}  // namespace

void FFSaveInit(FFSaveRec* rec, int32_t kind) {
  Errors::Monitored("ConForm.FFSaveInit", [&] {
    *rec = FFSaveRec{};
    rec->setMark = true;
    rec->kind = kind;
    rec->hasDialog = true;
    rec->format = K_AUTO;
    rec->codec = rec->quality = rec->bitRate = rec->audioBitRate = rec->keyFrameRate = K_AUTO;
    rec->preparedWidth = rec->preparedHeight = rec->preparedBits = K_AUTO;
    rec->tgaCodec = rec->tiffCompression = rec->sgiCodec = rec->rasCodec = 1;
    rec->pnmCodec = 0;
    rec->avi.fourCC = FourCC("cvid");
    rec->kwbCodec = 1;
    rec->kwbKeyFrameRate = 25;
    rec->jpegQuality = 85;
    rec->pngLevel = 7;
    rec->mpegCodec = 0;
    rec->mpegVideoBitRate = 1700;
    rec->mpegAudioBitRate = 224;
    rec->oggQuality = 4;
    FFSaveClearCustomInfo(rec);
  });
}

FF_AVI::AviCodecRec FFSaveAviOf(const FFSaveRec& rec) {
  if (rec.aviDescribed) return rec.avi;
  FF_AVI::AviCodecRec described;
  FF_AVI::AviCodecRecByFCC(&described, rec.avi.fourCC);
  return described;
}

FF_AVI::AviCodecRec& FFSaveAvi(FFSaveRec* rec) {
  if (!rec->aviDescribed) {
    rec->avi = FFSaveAviOf(*rec);
    rec->aviDescribed = true;
  }
  return rec->avi;
}

void FFSaveSetFmt(FFSaveRec* rec, int32_t format) {
  Errors::TraceScope trace("ConForm.FFSaveSetFmt");
  rec->format = format;
  if (IsAudioKind(rec)) {
    rec->hasDialog = format == kFmtMPEG || format == kFmtMPA || format == kFmtOGG;
  } else {
    switch (format) {
      case kFmtTGA:
      case kFmtAVI:
      case kFmtKWB:
      case kFmtJPEG:
      case kFmtPNG:
      case kFmtTIFF:
      case kFmtMPEG:
      case kFmtSGI:
      case kFmtRAS:
      case kFmtPNM:
        rec->hasDialog = true;
        break;
      default:
        rec->hasDialog = false;
    }
  }
}

void FFSaveSetCodec(FFSaveRec* rec, int32_t codec) {
  Errors::TraceScope trace("ConForm.FFSaveSetCodec");
  switch (rec->format) {
    case kFmtTGA:
      rec->tgaCodec = codec;
      break;
    case kFmtKWB:
      rec->kwbCodec = codec;
      break;
    case kFmtPNG:
      rec->pngLevel = codec;
      break;
    case kFmtTIFF:
      rec->tiffCompression = codec;
      break;
    case kFmtMPEG:
      rec->mpegCodec = codec;
      break;
    case kFmtSGI:
      rec->sgiCodec = codec;
      break;
    case kFmtRAS:
      rec->rasCodec = codec;
      break;
    case kFmtPNM:
      rec->pnmCodec = codec;
      break;
    case kFmtAVI: {
      // A codec change keeps the user's key-frame rate, quality and data
      // rate; a failure is recorded, not raised.
      const int32_t key = FFSaveAvi(rec).keyFrameRate;
      const int32_t quality = FFSaveAvi(rec).quality;
      const int32_t rate = FFSaveAvi(rec).dataRate;
      Errors::MonitoredQuiet("ConForm.FFSaveSetCodec.avi", [&] {
        FF_AVI::AviCodecRecByFCC(&FFSaveAvi(rec), static_cast<uint32_t>(codec));
        FF_AVI::AviCodecSetKeyFrameRate(&FFSaveAvi(rec), key);
        FF_AVI::AviCodecSetQuality(&FFSaveAvi(rec), quality);
        FF_AVI::AviCodecSetDataRate(&FFSaveAvi(rec), rate);
      });
      break;
    }
    default:
      break;
  }
}

void FFSaveSetQuality(FFSaveRec* rec, int32_t value) {
  Errors::TraceScope trace("ConForm.FFSaveSetQuality");
  switch (rec->format) {
    case kFmtAVI:
      FF_AVI::AviCodecSetQuality(&FFSaveAvi(rec), value);
      break;
    case kFmtJPEG:
      rec->jpegQuality = value;
      break;
    case kFmtOGG:
      rec->oggQuality = value;
      break;
    default:
      break;
  }
}

void FFSaveSetKeyFrameRate(FFSaveRec* rec, int32_t value) {
  Errors::TraceScope trace("ConForm.FFSaveSetKeyFrameRate");
  if (rec->format == kFmtAVI) FF_AVI::AviCodecSetKeyFrameRate(&FFSaveAvi(rec), value);
  if (rec->format == kFmtKWB) rec->kwbKeyFrameRate = value;
}

void FFSaveSetBitRate(FFSaveRec* rec, int32_t kilobits) {
  Errors::TraceScope trace("ConForm.FFSaveSetBitRate");
  switch (rec->format) {
    case kFmtAVI:
      FF_AVI::AviCodecSetDataRate(&FFSaveAvi(rec), kilobits / 8);
      break;
    case kFmtMPEG:
    case kFmtMPA:
      if (IsAudioKind(rec))
        rec->mpegAudioBitRate = kilobits;
      else
        rec->mpegVideoBitRate = kilobits;
      break;
    default:
      break;
  }
}

void FFSaveSetByteRate(FFSaveRec* rec, int32_t value) {
  // Computed in 64 bits and kept within the field's range.
  const int64_t bits = int64_t{value} * 8;
  FFSaveSetBitRate(rec, static_cast<int32_t>(std::clamp<int64_t>(bits, INT32_MIN, INT32_MAX)));
}

void FFSaveClearCustomInfo(FFSaveRec* rec) {
  rec->customCount = 0;
  for (auto& e : rec->custom) e = CustomInfoEntry{};
  for (auto& t : rec->infoTexts) t.clear();
}

void FFSaveAddCustomInfo(FFSaveRec* rec, const std::string& id, const std::string& text) {
  if (rec->customCount >= kMaxCustomInfo) return;
  CustomInfoEntry& e = rec->custom[rec->customCount++];
  e.id = id.substr(0, 4);
  e.text = text.substr(0, 255);
}

int32_t FFSaveFindCustomInfo(const FFSaveRec* rec, const std::string& id) {
  for (int32_t i = rec->customCount - 1; i >= 0; i--)
    if (rec->custom[i].id == id) return i;
  return -1;
}

void FFSaveSplitCustomInfo(FFSaveRec* rec) {
  for (auto& t : rec->infoTexts) t.clear();
  for (int32_t i = 0; i < rec->customCount; i++)
    for (int k = 0; k < 7; k++)
      if (rec->custom[i].id == kInfoTextIds[k]) rec->infoTexts[k] = rec->custom[i].text;
}

void FFSaveMergeCustomInfo(FFSaveRec* rec) {
  for (int k = 0; k < 7; k++) {
    const int32_t at = FFSaveFindCustomInfo(rec, kInfoTextIds[k]);
    if (at >= 0)
      rec->custom[at].text = rec->infoTexts[k].substr(0, 255);
    else if (!rec->infoTexts[k].empty())
      FFSaveAddCustomInfo(rec, kInfoTextIds[k], rec->infoTexts[k]);
  }
}

namespace {

// The AVI codec dialog on the record's settings and author texts. The
// texts go back into the record's entries also after a cancel (they are
// then the ones split out before); the settings only on confirmation.
bool AviSaveDlg(FFSaveRec* rec, int32_t width, int32_t height, int32_t bits) {
  FF_AVI::AviSetCurCodec(&FFSaveAvi(rec));
  FFSaveSplitCustomInfo(rec);
  const bool confirmed = FF_AVI::AviSelectVC(width, height, bits, rec->infoTexts);
  FFSaveMergeCustomInfo(rec);
  if (confirmed) FF_AVI::AviGetCurCodec(&FFSaveAvi(rec));
  return confirmed;
}

// The dialog's answer, or -1 for a format and kind without a dialog here.
int32_t FormatDlg(FFSaveRec* rec, int32_t width, int32_t height, int32_t bits) {
  const bool audio = IsAudioKind(rec);
  switch (rec->format) {
    case kFmtTGA:
      return DialogHooks::FFDlgTGA(rec->tgaCodec);
    case kFmtAVI:
      return audio ? -1 : AviSaveDlg(rec, width, height, bits);
    case kFmtKWB:
      return audio ? -1 : DialogHooks::FFDlgKWB(rec->kwbCodec, rec->kwbKeyFrameRate);
    case kFmtJPEG:
      return DialogHooks::FFDlgJPG(rec->jpegQuality);
    case kFmtPNG:
      return DialogHooks::FFDlgPNG(rec->pngLevel);
    case kFmtTIFF:
      return DialogHooks::FFDlgTIF(rec->tiffCompression);
    case kFmtMPEG:
    case kFmtMPA:
      return audio ? DialogHooks::FFDlgMPA(rec->mpegAudioBitRate, kMpaMinRate, kMpaMaxRate)
                   : DialogHooks::FFDlgMPG(rec->mpegCodec, rec->mpegVideoBitRate);
    case kFmtSGI:
      return DialogHooks::FFDlgSGI(rec->sgiCodec);
    case kFmtRAS:
      return DialogHooks::FFDlgRAS(rec->rasCodec);
    case kFmtPNM:
      return DialogHooks::FFDlgPNM(rec->pnmCodec);
    case kFmtOGG:
      return DialogHooks::FFDlgOGG(rec->oggQuality, kOggMinQuality, kOggMaxQuality);
    default:
      return -1;
  }
}

}  // namespace

int32_t FFSaveDlg(FFSaveRec* rec, int32_t width, int32_t height, int32_t bits) {
  int32_t result = -1;
  Errors::Monitored("ConForm.FFSaveDlg", [&] {
    if (!rec->hasDialog) Errors::MonAbort();
    result = FormatDlg(rec, width, height, bits);
  });
  return result;
}

void FFSaveCodecName(const FFSaveRec* rec, std::string* text) {
  Errors::TraceScope trace("ConForm.FFSaveCodecName");
  const bool audio = IsAudioKind(rec);
  *text = audio ? "Uncompressed, PCM" : "Uncompressed, full frames";
  const char* rle = "Run Length Encoding (RLE)";
  switch (rec->format) {
    case kFmtTGA:
      if (rec->tgaCodec != 0) *text = rle;
      break;
    case kFmtPCX:
      *text = rle;
      break;
    case kFmtFLC:
      *text = "RLE + pixel difference from previous frame";
      break;
    case kFmtAVI:
      if (!audio) FF_AVI::AVIGetVideoName(rec->avi.fourCC, text);
      break;
    case kFmtKWB:
      if (!audio)
        *text = rec->kwbCodec == 0   ? "KWB-BEST compression"
                : rec->kwbCodec == 1 ? "KWB-FAST compression"
                                     : "N/A";
      break;
    case kFmtJPEG:
      *text = "JPEG quality: " + std::to_string(rec->jpegQuality) + "%";
      break;
    case kFmtPNG:
      *text = "PNG compression level: " + std::to_string(rec->pngLevel) + " of 9";
      break;
    case kFmtTIFF:
      switch (rec->tiffCompression) {
        case 2:
          *text = "CCITT modified Huffman RLE";
          break;
        case 3:
          *text = "CCITT Group 3 fax encoding";
          break;
        case 4:
          *text = "CCITT Group 4 fax encoding";
          break;
        case 5:
          *text = "Variable-Length-Code LZW";
          break;
        case 7:
          *text = "JPEG DCT compression";
          break;
        case 32773:
          *text = "PackBits (Macintosh RLE)";
          break;
        case 32946:
          *text = "Deflate compression (ZIP)";
          break;
        default:
          break;
      }
      break;
    case kFmtMPEG:
    case kFmtMPA:
      if (audio) {
        *text = "MPEG Layer-II, bitrate: " + std::to_string(rec->mpegAudioBitRate) + " kilobit/s";
      } else {
        static const char* kNames[5] = {"MPEG-1 format", "MPEG-VCD format", "MPEG-2 format",
                                        "MPEG-SVCD format", "MPEG-DVD format"};
        *text = (rec->mpegCodec >= 0 && rec->mpegCodec <= 4) ? kNames[rec->mpegCodec] : "N/A";
        *text += ", bitrate: " + std::to_string(rec->mpegVideoBitRate) + " kilobit/s";
      }
      break;
    case kFmtSGI:
      if (rec->sgiCodec != 0) *text = rle;
      break;
    case kFmtRAS:
      if (rec->rasCodec != 0) *text = rle;
      break;
    case kFmtPNM:
      *text = rec->pnmCodec != 0 ? "ASCII encoded" : "Binary encoded";
      break;
    case kFmtOGG:
      *text = "Ogg Vorbis, quality: " + std::to_string(rec->oggQuality) + " of 10";
      break;
    default:
      break;
  }
}

void FFSavePrepare(FFSaveRec* video, int32_t width, int32_t height, const WaveFormat& inWaveRef,
                   WaveFormat* outWave, const FFSaveRec* audio, int32_t bits) {
  // Callers adapt their wave format in place (in and out the same record):
  // the adapters below must read the format as it came in.
  const WaveFormat inWave = inWaveRef;
  Errors::Monitored("ConForm.FFSavePrepare", [&] {
    if (video->format == K_AUTO) video->format = audio->format;
    video->preparedWidth = width;
    video->preparedHeight = height;
    video->preparedBits = FFBasic::FFGetSaveBpp(video->format, bits);
    *outWave = inWave;
    // A failure while preparing one format is recorded and ends that step.
    Errors::MonitoredQuiet("ConForm.FFSavePrepare.format", [&] {
      switch (video->format) {
        case kFmtTGA:
          video->codec = video->tgaCodec;
          break;
        case kFmtPNG:
          video->codec = video->pngLevel;
          break;
        case kFmtTIFF:
          video->codec = video->tiffCompression;
          break;
        case kFmtSGI:
          video->codec = video->sgiCodec;
          break;
        case kFmtRAS:
          video->codec = video->rasCodec;
          break;
        case kFmtPNM:
          video->codec = video->pnmCodec;
          break;
        case kFmtKWB:
          video->codec = video->kwbCodec;
          video->keyFrameRate = video->kwbKeyFrameRate;
          break;
        case kFmtJPEG:
          video->quality = video->jpegQuality;
          break;
        case kFmtAVI: {
          FF_AVI::AviSetCurCodec(&FFSaveAvi(video));
          FFSaveSplitCustomInfo(video);
          Errors::MonTryNext();
          FF_AVI::AviSetVC(width, height, video->preparedBits, false, &video->infoTexts);
          FFSaveMergeCustomInfo(video);
          if (Errors::ErrNone()) {
            video->preparedBits = FF_AVI::AviGetCmpsBitCount();
            FF_AVI::AviGetCurCodec(&FFSaveAvi(video));
            video->codec = static_cast<int32_t>(FFSaveAvi(video).fourCC);
            video->quality = FFSaveAvi(video).quality;
            video->keyFrameRate = FFSaveAvi(video).keyFrameRate;
            video->bitRate = FFSaveAvi(video).dataRate * 8;
            if (FFSaveAvi(video).outWidth > 0) video->preparedWidth = FFSaveAvi(video).outWidth;
            if (FFSaveAvi(video).outHeight > 0) video->preparedHeight = FFSaveAvi(video).outHeight;
          } else {
            // The codec refuses this output; the conversion falls back.
            video->preparedBits = K_AUTO;
          }
          break;
        }
        case kFmtMPEG:
          video->codec = video->mpegCodec;
          video->bitRate = video->mpegVideoBitRate;
          FF_MPG::MpgSndFormat(inWave, outWave, true);
          video->audioBitRate = audio->mpegAudioBitRate;
          video->preparedWidth = (width + 8) / 16 * 16;
          video->preparedHeight = (height + 8) / 16 * 16;
          break;
        default:
          break;
      }
    });
    switch (audio->format) {
      case kFmtMPA:
        FF_MPG::MpgSndFormat(inWave, outWave, false);
        video->audioBitRate = audio->mpegAudioBitRate;
        break;
      case kFmtOGG:
        FF_OGG::OggSndFormat(inWave, outWave);
        video->audioQuality = audio->oggQuality;
        break;
      default:
        break;
    }
  });
}

}  // namespace ConForm
