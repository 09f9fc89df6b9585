#include <gtest/gtest.h>

#include <string>

#include "engine/ConFormSave.h"
#include "foundation/Basic.h"
#include "foundation/Errors.h"

using namespace ConForm;

namespace {

uint32_t Fcc(const char* t) {
  return static_cast<uint32_t>(t[0]) | (static_cast<uint32_t>(t[1]) << 8) |
         (static_cast<uint32_t>(t[2]) << 16) | (static_cast<uint32_t>(t[3]) << 24);
}

TEST(SaveOptions, InitGivesTheDefaults) {
  FFSaveRec r;
  FFSaveInit(&r, kSaveVideo);
  EXPECT_TRUE(r.setMark);
  EXPECT_EQ(r.kind, kSaveVideo);
  EXPECT_TRUE(r.hasDialog);
  EXPECT_EQ(r.format, Basic::K_AUTO);
  EXPECT_EQ(r.codec, Basic::K_AUTO);
  EXPECT_EQ(r.quality, Basic::K_AUTO);
  EXPECT_EQ(r.bitRate, Basic::K_AUTO);
  EXPECT_EQ(r.audioBitRate, Basic::K_AUTO);
  EXPECT_EQ(r.keyFrameRate, Basic::K_AUTO);
  EXPECT_EQ(r.tgaCodec, 1);
  EXPECT_EQ(r.tiffCompression, 1);
  EXPECT_EQ(r.sgiCodec, 1);
  EXPECT_EQ(r.rasCodec, 1);
  EXPECT_EQ(r.pnmCodec, 0);
  EXPECT_EQ(r.kwbCodec, 1);
  EXPECT_EQ(r.kwbKeyFrameRate, 25);
  EXPECT_EQ(r.jpegQuality, 85);
  EXPECT_EQ(r.pngLevel, 7);
  EXPECT_EQ(r.mpegCodec, 0);
  EXPECT_EQ(r.mpegVideoBitRate, 1700);
  EXPECT_EQ(r.mpegAudioBitRate, 224);
  EXPECT_EQ(r.oggQuality, 4);
  EXPECT_EQ(r.avi.fourCC, Fcc("cvid"));
  EXPECT_EQ(r.customCount, 0);
}

TEST(SaveOptions, DialogFlagByKindAndFormat) {
  FFSaveRec audio, video;
  FFSaveInit(&audio, kSaveAudio);
  FFSaveInit(&video, kSaveVideo);
  FFSaveSetFmt(&audio, kFmtMPA);
  EXPECT_TRUE(audio.hasDialog);
  FFSaveSetFmt(&video, kFmtMPA);
  EXPECT_FALSE(video.hasDialog);
  for (int32_t f : {1, 6, 7, 8, 9, 10, 11, 13, 14, 15}) {
    FFSaveSetFmt(&video, f);
    EXPECT_TRUE(video.hasDialog) << f;
  }
  for (int32_t f : {2, 3, 5, 12, 17, 19}) {
    FFSaveSetFmt(&video, f);
    EXPECT_FALSE(video.hasDialog) << f;
  }
  FFSaveSetFmt(&audio, kFmtWAV);
  EXPECT_FALSE(audio.hasDialog);
  EXPECT_EQ(FFSaveDlg(&audio, 10, 10, 24), -1);
}

TEST(SaveOptions, SettersGoToTheFormatsField) {
  FFSaveRec r;
  FFSaveInit(&r, kSaveVideo);
  FFSaveSetFmt(&r, kFmtTIFF);
  FFSaveSetCodec(&r, 5);
  EXPECT_EQ(r.tiffCompression, 5);
  FFSaveSetFmt(&r, kFmtJPEG);
  FFSaveSetQuality(&r, 60);
  EXPECT_EQ(r.jpegQuality, 60);
  FFSaveSetCodec(&r, 3);  // JPEG has no codec choice
  FFSaveSetFmt(&r, kFmtKWB);
  FFSaveSetKeyFrameRate(&r, 7);
  EXPECT_EQ(r.kwbKeyFrameRate, 7);
  FFSaveSetFmt(&r, kFmtMPEG);
  FFSaveSetBitRate(&r, 1150);
  EXPECT_EQ(r.mpegVideoBitRate, 1150);
  FFSaveSetByteRate(&r, 100);
  EXPECT_EQ(r.mpegVideoBitRate, 800);
  FFSaveRec a;
  FFSaveInit(&a, kSaveAudio);
  FFSaveSetFmt(&a, kFmtMPA);
  FFSaveSetBitRate(&a, 192);
  EXPECT_EQ(a.mpegAudioBitRate, 192);
  EXPECT_EQ(a.mpegVideoBitRate, 1700);
}

TEST(SaveOptions, AviCodecChangeKeepsTheRates) {
  FFSaveRec r;
  FFSaveInit(&r, kSaveVideo);
  FFSaveSetFmt(&r, kFmtAVI);
  FFSaveSetKeyFrameRate(&r, 12);
  FFSaveSetQuality(&r, 55);
  FFSaveSetBitRate(&r, 800);  // 100 kilobytes per second
  FFSaveSetCodec(&r, static_cast<int32_t>(Fcc("MJPG")));
  EXPECT_EQ(r.avi.fourCC, Fcc("MJPG"));
  EXPECT_EQ(r.avi.keyFrameRate, 12);
  EXPECT_EQ(r.avi.quality, 55);
  EXPECT_EQ(r.avi.dataRate, 100);
}

TEST(SaveOptions, CustomInfoAddSplitMerge) {
  FFSaveRec r;
  FFSaveInit(&r, kSaveVideo);
  for (int i = 0; i < 17; i++) FFSaveAddCustomInfo(&r, "IC" + std::to_string(i % 10) + "X", "t" + std::to_string(i));
  EXPECT_EQ(r.customCount, 16);
  EXPECT_EQ(r.custom[15].text, "t15");
  // A full table is searched from its last entry, and no further.
  EXPECT_EQ(FFSaveFindCustomInfo(&r, "IC5X"), 15);
  EXPECT_EQ(FFSaveFindCustomInfo(&r, "ICMT"), -1);
  FFSaveClearCustomInfo(&r);
  EXPECT_EQ(r.customCount, 0);
  EXPECT_TRUE(r.custom[0].id.empty());

  FFSaveAddCustomInfo(&r, "INAMEXTRA", std::string(300, 'n'));
  FFSaveAddCustomInfo(&r, "ICMT", "first");
  FFSaveAddCustomInfo(&r, "ICMT", "second");
  EXPECT_EQ(r.custom[0].id, "INAM");
  EXPECT_EQ(r.custom[0].text.size(), 255u);
  EXPECT_EQ(FFSaveFindCustomInfo(&r, "ICMT"), 2);
  EXPECT_EQ(FFSaveFindCustomInfo(&r, "icmt"), -1);
  FFSaveSplitCustomInfo(&r);
  EXPECT_EQ(r.infoTexts[1], "second");  // a later entry wins
  EXPECT_EQ(r.infoTexts[4].size(), 255u);
  // An emptied text keeps its entry; a new text without an entry appends one.
  r.infoTexts[4].clear();
  r.infoTexts[0] = "Artist";
  FFSaveMergeCustomInfo(&r);
  EXPECT_EQ(r.custom[0].id, "INAM");
  EXPECT_EQ(r.custom[0].text, "");
  EXPECT_EQ(r.customCount, 4);
  EXPECT_EQ(r.custom[3].id, "IART");
  EXPECT_EQ(r.custom[3].text, "Artist");
}

TEST(SaveOptions, CodecNames) {
  FFSaveRec v, a;
  FFSaveInit(&v, kSaveVideo);
  FFSaveInit(&a, kSaveAudio);
  std::string t;
  FFSaveSetFmt(&v, kFmtJPEG);
  FFSaveCodecName(&v, &t);
  EXPECT_EQ(t, "JPEG quality: 85%");
  FFSaveSetFmt(&a, kFmtOGG);
  FFSaveCodecName(&a, &t);
  EXPECT_EQ(t, "Ogg Vorbis, quality: 4 of 10");
  FFSaveSetFmt(&v, kFmtBMP);
  FFSaveCodecName(&v, &t);
  EXPECT_EQ(t, "Uncompressed, full frames");
  FFSaveSetFmt(&v, kFmtTIFF);
  for (const auto& [codec, name] :
       {std::pair{1, "Uncompressed, full frames"}, {2, "CCITT modified Huffman RLE"},
        {3, "CCITT Group 3 fax encoding"}, {4, "CCITT Group 4 fax encoding"},
        {5, "Variable-Length-Code LZW"}, {6, "Uncompressed, full frames"},
        {7, "JPEG DCT compression"}, {32773, "PackBits (Macintosh RLE)"},
        {32946, "Deflate compression (ZIP)"}, {32947, "Uncompressed, full frames"}}) {
    FFSaveSetCodec(&v, codec);
    FFSaveCodecName(&v, &t);
    EXPECT_EQ(t, name) << codec;
  }
  FFSaveSetFmt(&v, kFmtFLC);
  FFSaveCodecName(&v, &t);
  EXPECT_EQ(t, "RLE + pixel difference from previous frame");
  FFSaveSetFmt(&v, kFmtMPEG);
  FFSaveSetCodec(&v, 2);
  FFSaveCodecName(&v, &t);
  EXPECT_EQ(t, "MPEG-2 format, bitrate: 1700 kilobit/s");
  for (const auto& [codec, name] :
       {std::pair{0, "MPEG-1 format"}, {4, "MPEG-DVD format"}, {5, "N/A"}, {-1, "N/A"}}) {
    FFSaveSetCodec(&v, codec);
    FFSaveCodecName(&v, &t);
    EXPECT_EQ(t, std::string(name) + ", bitrate: 1700 kilobit/s") << codec;
  }
  FFSaveSetFmt(&a, kFmtMPA);
  FFSaveCodecName(&a, &t);
  EXPECT_EQ(t, "MPEG Layer-II, bitrate: 224 kilobit/s");
  FFSaveSetFmt(&v, kFmtKWB);
  FFSaveCodecName(&v, &t);
  EXPECT_EQ(t, "KWB-FAST compression");
  FFSaveSetCodec(&v, 0);
  FFSaveCodecName(&v, &t);
  EXPECT_EQ(t, "KWB-BEST compression");
  FFSaveSetFmt(&v, kFmtPNM);
  FFSaveCodecName(&v, &t);
  EXPECT_EQ(t, "Binary encoded");
  FFSaveSetFmt(&a, kFmtWAV);
  FFSaveCodecName(&a, &t);
  EXPECT_EQ(t, "Uncompressed, PCM");
}

TEST(SaveOptions, PrepareMpegRoundsTheSize) {
  FFSaveRec v, a;
  FFSaveInit(&v, kSaveVideo);
  FFSaveInit(&a, kSaveAudio);
  FFSaveSetFmt(&v, kFmtMPEG);
  WaveFormat in{}, out{};
  in.formatTag = 1;
  in.channels = 2;
  in.samplesPerSec = 44100;
  in.bitsPerSample = 16;
  in.blockAlign = 4;
  in.avgBytesPerSec = 176400;
  FFSavePrepare(&v, 350, 250, in, &out, &a, 24);
  EXPECT_EQ(v.preparedWidth, 352);
  EXPECT_EQ(v.preparedHeight, 256);
  EXPECT_EQ(v.codec, 0);
  EXPECT_EQ(v.bitRate, 1700);
  EXPECT_EQ(v.audioBitRate, 224);
}

TEST(SaveOptions, PrepareStillFormatsHandsTheirCodec) {
  FFSaveRec v, a;
  FFSaveInit(&v, kSaveVideo);
  FFSaveInit(&a, kSaveAudio);
  WaveFormat in{}, out{};
  FFSaveSetFmt(&v, kFmtPNG);
  FFSavePrepare(&v, 10, 10, in, &out, &a, 24);
  EXPECT_EQ(v.codec, 7);
  FFSaveSetFmt(&v, kFmtJPEG);
  FFSavePrepare(&v, 10, 10, in, &out, &a, 32);
  EXPECT_EQ(v.quality, 85);
  EXPECT_EQ(v.preparedBits, 24);
  // A sound-only output is described by the video record too.
  FFSaveRec v2;
  FFSaveInit(&v2, kSaveVideo);
  FFSaveSetFmt(&a, kFmtOGG);
  FFSavePrepare(&v2, 0, 0, in, &out, &a, 24);
  EXPECT_EQ(v2.format, kFmtOGG);
}

}  // namespace

namespace {

TEST(SaveOptions, PrepareAviTakesTheCompressorsDepth) {
  FFSaveRec v, a;
  FFSaveInit(&a, kSaveAudio);
  WaveFormat in{}, out{};
  FFSaveInit(&v, kSaveVideo);
  FFSaveSetFmt(&v, kFmtAVI);
  FFSavePrepare(&v, 64, 48, in, &out, &a, 24);
  EXPECT_NE(v.preparedBits, Basic::K_AUTO);
  EXPECT_GT(v.preparedBits, 0);
  EXPECT_EQ(v.preparedWidth % 4, 0);
  EXPECT_EQ(v.codec, static_cast<int32_t>(v.avi.fourCC));
}

}  // namespace
