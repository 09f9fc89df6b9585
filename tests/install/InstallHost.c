/* A host built against an installed libqor, as its README shows: it converts
 * a still and describes a movie, and checks that the movie module came from
 * the installed folder.
 *
 *   install_host WORKDIR LIBDIR */
#define _DEFAULT_SOURCE /* realpath */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "qor.h"

static int failed(const char* what) {
  QorLastError rec;
  char text[QOR_ERROR_TEXT_MAX];
  QorGetLastError(&rec);
  QorMakeErrorStr(&rec, text);
  fprintf(stderr, "install_host: %s: %s\n", what, text);
  return 1;
}

/* A 4 x 3 picture saved as PNG, read back and written as BMP: the pixels
 * must come through. */
static int convert_still(const char* dir) {
  char png[4096], bmp[4096];
  snprintf(png, sizeof png, "%s/still.png", dir);
  snprintf(bmp, sizeof bmp, "%s/still.bmp", dir);
  uint8_t pixels[4 * 3 * 3];
  for (int i = 0; i < (int)sizeof pixels; ++i) pixels[i] = (uint8_t)(i * 7);
  QorImg img = QorImgAlloc();
  QorImgSetPixels(img, 4, 3, 24, pixels, NULL);
  if (QorImgSaveSingle(img, png, K_AUTO) != 0) return failed("save png");
  QorImgFree(img);

  img = QorImgAlloc();
  if (QorImgLoadSingle(img, png, 1) != 0) return failed("load png");
  if (QorImgSaveSingle(img, bmp, K_AUTO) != 0) return failed("save bmp");
  QorImgFree(img);

  img = QorImgAlloc();
  if (QorImgLoadSingle(img, bmp, 1) != 0) return failed("load bmp");
  int32_t r, g, b;
  QorImgGetPixelRGB(img, 1, 2, &r, &g, &b);
  QorImgFree(img);
  const int at = (2 * 4 + 1) * 3; /* stored B, G, R */
  if (r != pixels[at + 2] || g != pixels[at + 1] || b != pixels[at]) {
    fprintf(stderr, "install_host: pixel (1,2) is %d %d %d\n", r, g, b);
    return 1;
  }
  return 0;
}

static int movie_module_from(const char* libdir) {
  char want[4096];
  if (realpath(libdir, want) == NULL) return 0;
  strncat(want, "/libqor-movie-", sizeof want - strlen(want) - 1);
  FILE* maps = fopen("/proc/self/maps", "r");
  if (maps == NULL) return 0;
  char line[8192];
  int found = 0;
  while (!found && fgets(line, sizeof line, maps) != NULL) found = strstr(line, want) != NULL;
  fclose(maps);
  return found;
}

/* Three frames written to an AVI file and the file described. */
static int describe_movie(const char* dir, const char* libdir) {
  char avi[4096];
  snprintf(avi, sizeof avi, "%s/clip.avi", dir);
  QorFile file = QorFileCreate(avi);
  if (file == NULL) return failed("create avi");
  QorFileSetVideoParams(file, 16, 16, 24, 10.0, K_AUTO, K_AUTO, K_AUTO);
  QorImg img = QorImgAlloc();
  QorImgSetPixels(img, 16, 16, 24, NULL, NULL);
  for (int frame = 0; frame < 3; ++frame) {
    QorImgClear(img, QorRGB(frame * 100, 50, 200));
    if (QorImgSave(img, file) != 0) return failed("save frame");
  }
  QorImgFree(img);
  QorFileClose(file);

  QorFileInfo info;
  memset(&info, 0, sizeof info);
  QorGetFileInfo(avi, 0, &info, NULL, NULL);
  QorLastError rec;
  QorGetLastError(&rec);
  if (rec.code != 0 || info.frameCount != 3 || info.width != 16) {
    fprintf(stderr, "install_host: movie described as %d frames of width %d\n",
            info.frameCount, info.width);
    return failed("describe avi");
  }
  if (!movie_module_from(libdir)) {
    fprintf(stderr, "install_host: the movie module was not loaded from %s\n", libdir);
    return 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: install_host WORKDIR LIBDIR\n");
    return 2;
  }
  if (convert_still(argv[1]) != 0 || describe_movie(argv[1], argv[2]) != 0) return 1;
  printf("install_host: still converted, movie described\n");
  return 0;
}
