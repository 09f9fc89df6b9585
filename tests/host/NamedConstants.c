/* qor.h's names as a C host sees them: the values hosts have always passed
 * (the same ABI), and what the library answers to them. Compiled as C and
 * linked with the shared library. */
#ifdef __cplusplus
#error "NamedConstants.c must be compiled as C"
#endif

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "qor.h"

static int failures = 0;

static void Expect(const char* what, long long got, long long want) {
  if (got == want) return;
  printf("%s: %lld, expected %lld\n", what, got, want);
  failures++;
}

#define VALUE(name, want) Expect(#name, (long long)(name), want)

static void ValuesHostsHaveAlwaysPassed(void) {
  VALUE(K_AUTO, -1357902468);
  VALUE(QOR_STATUS_OK, 0);
  VALUE(QOR_STATUS_INVALID_OUTPUT, 1);
  VALUE(QOR_STATUS_ABORTED, 2);
  VALUE(QOR_STATUS_NO_SOURCE, 3);
  VALUE(QOR_STATUS_UNEXPECTED, 999);
  VALUE(QOR_STATUS_LIBRARY_ERROR, 1000);
  VALUE(QOR_ON_ERROR_STOP_DELETE, 1);
  VALUE(QOR_ON_ERROR_STOP_KEEP, 2);
  VALUE(QOR_ON_ERROR_RETRY, 3);
  VALUE(QOR_ON_ERROR_DROP_BLOCK, 4);
  VALUE(QOR_LIST_READABLE, 0);
  VALUE(QOR_LIST_PICTURES, 8);
  VALUE(QOR_LIST_SOUND, 16);
  VALUE(QOR_LIST_BY_EXTENSION, 0x70000000);
  VALUE(QOR_LIST_EVERY_FILE, 2147483647);
  VALUE(QOR_TEXT_BOLD | QOR_TEXT_ITALIC | QOR_TEXT_UNDERLINE | QOR_TEXT_STRIKEOUT, 15);
  VALUE(QOR_TEXT_ITALIC, 2);
  VALUE(QOR_TEXT_UNDERLINE, 4);
  VALUE(sizeof(QorImg), sizeof(void*));
  VALUE(sizeof(QorSnd) + sizeof(QorFile) + sizeof(QorList) + sizeof(QorText), 4 * sizeof(void*));
}

/* Every format's name against what QorGetFileFmtID answers for its
 * extension. */
static void FormatsAsTheLibraryNamesThem(void) {
  static const struct { const char* file; int32_t id; long long want; } formats[] = {
      {"a.tga", QOR_FMT_TGA, 1},   {"a.pcx", QOR_FMT_PCX, 2},  {"a.bmp", QOR_FMT_BMP, 3},
      {"a.gif", QOR_FMT_GIF, 4},   {"a.flc", QOR_FMT_FLC, 5},  {"a.avi", QOR_FMT_AVI, 6},
      {"a.kwb", QOR_FMT_KWB, 7},   {"a.jpg", QOR_FMT_JPEG, 8}, {"a.png", QOR_FMT_PNG, 9},
      {"a.tif", QOR_FMT_TIFF, 10}, {"a.mpg", QOR_FMT_MPEG, 11}, {"a.wav", QOR_FMT_WAV, 12},
      {"a.sgi", QOR_FMT_SGI, 13},  {"a.ras", QOR_FMT_RAS, 14}, {"a.pnm", QOR_FMT_PNM, 15},
      {"a.bay", QOR_FMT_BAY, 16},  {"a.xpm", QOR_FMT_XPM, 17}, {"a.mp3", QOR_FMT_MPA, 18},
      {"a.ogg", QOR_FMT_OGG, 19}};
  for (size_t i = 0; i < sizeof formats / sizeof formats[0]; ++i) {
    Expect(formats[i].file, formats[i].id, formats[i].want);
    Expect(formats[i].file, QorGetFileFmtID(formats[i].file), formats[i].id);
  }
}

static void VersionOfTheLibraryFile(void) {
  char version[32];
  snprintf(version, sizeof version, "%d.%d.%d", QOR_VERSION_MAJOR, QOR_VERSION_MINOR,
           QOR_VERSION_PATCH);
  if (strcmp(version, QOR_VERSION_STRING) != 0 || strcmp(version, QOR_PROJECT_VERSION) != 0) {
    printf("version %s / %s, the library is %s\n", version, QOR_VERSION_STRING,
           QOR_PROJECT_VERSION);
    failures++;
  }
}

/* The statuses' own texts, and the largest text QorMakeErrorStr writes: a
 * translation far longer than QOR_ERROR_TEXT_MAX is cut to fit. */
static void StatusTextsFitTheStatedBuffer(void) {
  char text[QOR_ERROR_TEXT_MAX + 64];
  QorLastError rec = {QOR_STATUS_ABORTED, 0, 0};
  QorMakeErrorStr(&rec, text);
  if (strcmp(text, "Operation aborted by user.") != 0) {
    printf("aborted reads \"%s\"\n", text);
    failures++;
  }
  char* huge = malloc(3 * QOR_ERROR_TEXT_MAX);
  memset(huge, 'x', 3 * QOR_ERROR_TEXT_MAX - 1);
  huge[3 * QOR_ERROR_TEXT_MAX - 1] = '\0';
  QorLocaleSet("Finished successfully.", huge);
  memset(text, '#', sizeof text);
  rec.code = QOR_STATUS_OK;
  QorMakeErrorStr(&rec, text);
  QorLocaleClear();
  free(huge);
  const char* end = memchr(text, '\0', sizeof text);
  Expect("length of the longest text", end ? (long long)(end - text) : -1, QOR_ERROR_TEXT_MAX - 1);
  Expect("bytes past the stated buffer", text[QOR_ERROR_TEXT_MAX] != '#', 0);
}

int main(void) {
  ValuesHostsHaveAlwaysPassed();
  FormatsAsTheLibraryNamesThem();
  VersionOfTheLibraryFile();
  StatusTextsFitTheStatedBuffer();
  if (failures == 0) printf("qor.h's names: all as the library means them\n");
  return failures == 0 ? 0 : 1;
}
