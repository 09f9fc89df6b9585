/* The public records as a C compiler lays them out from qor.h: every
 * offset a host relies on. qor.h checks them while compiling; this program
 * checks them again at run time and names any that differ. */
#ifdef __cplusplus
#error "FileInfoLayout.c must be compiled as C"
#endif

#include <stddef.h>
#include <stdio.h>

#include "qor.h"

static int failures = 0;

static void Expect(const char* what, size_t got, size_t want) {
  if (got == want) return;
  printf("%s: %zu, expected %zu\n", what, got, want);
  failures++;
}

#define AT(type, field, offset) Expect(#type "." #field, offsetof(type, field), offset)

int main(void) {
  Expect("sizeof(QorFileInfo)", sizeof(QorFileInfo), 756);
  AT(QorFileInfo, fileName, 0);
  AT(QorFileInfo, filter, 264);
  AT(QorFileInfo, totalSize, 392);
  AT(QorFileInfo, hasPictures, 400);
  AT(QorFileInfo, picturesReadable, 404);
  AT(QorFileInfo, videoCompression, 408);
  AT(QorFileInfo, frameCount, 536);
  AT(QorFileInfo, videoDuration, 540);
  AT(QorFileInfo, videoSize, 548);
  AT(QorFileInfo, fps, 556);
  AT(QorFileInfo, width, 564);
  AT(QorFileInfo, height, 568);
  AT(QorFileInfo, bytesPerPixel, 572);
  AT(QorFileInfo, bitsPerPixel, 576);
  AT(QorFileInfo, hasSound, 580);
  AT(QorFileInfo, soundReadable, 584);
  AT(QorFileInfo, audioCompression, 588);
  AT(QorFileInfo, sampleFrames, 716);
  AT(QorFileInfo, audioDuration, 720);
  AT(QorFileInfo, audioSize, 728);
  AT(QorFileInfo, sampleRate, 736);
  AT(QorFileInfo, channels, 744);
  AT(QorFileInfo, bitsPerSample, 748);
  AT(QorFileInfo, blockAlign, 752);
  Expect("sizeof(fileName)", sizeof(((QorFileInfo*)0)->fileName), 264);
  Expect("sizeof(filter)", sizeof(((QorFileInfo*)0)->filter), 128);

  Expect("sizeof(QorCodecInfo)", sizeof(QorCodecInfo), 212);
  AT(QorCodecInfo, fileFmtID, 0);
  AT(QorCodecInfo, codecFlag, 4);
  AT(QorCodecInfo, codec, 8);
  AT(QorCodecInfo, codecMin, 12);
  AT(QorCodecInfo, codecMax, 16);
  AT(QorCodecInfo, codecName, 20);
  AT(QorCodecInfo, hasQuality, 148);
  AT(QorCodecInfo, quality, 152);
  AT(QorCodecInfo, qualityMin, 156);
  AT(QorCodecInfo, qualityMax, 160);
  AT(QorCodecInfo, hasBitRate, 164);
  AT(QorCodecInfo, bitRate, 168);
  AT(QorCodecInfo, bitRateMin, 172);
  AT(QorCodecInfo, bitRateMax, 176);
  AT(QorCodecInfo, hasByteRate, 180);
  AT(QorCodecInfo, byteRate, 184);
  AT(QorCodecInfo, byteRateMin, 188);
  AT(QorCodecInfo, byteRateMax, 192);
  AT(QorCodecInfo, hasKeyFrameRate, 196);
  AT(QorCodecInfo, keyFrameRate, 200);
  AT(QorCodecInfo, keyFrameRateMin, 204);
  AT(QorCodecInfo, keyFrameRateMax, 208);

  Expect("sizeof(QorLastError)", sizeof(QorLastError), 12);
  if (failures == 0) printf("QorFileInfo and QorCodecInfo layouts as published\n");
  return failures == 0 ? 0 : 1;
}
