/* One still picture converted by a host of the shared library, as a whole
 * process: the start-up rows of scripts/bench.sh time this program against
 * the peers' command-line tools.
 *
 *   qor_still INPUT OUTPUT      (the output format follows its extension) */
#include <stdio.h>

#include "qor.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: qor_still INPUT OUTPUT\n");
    return 2;
  }
  QorHandle img = QorImgAlloc();
  const int32_t loaded = QorImgLoadSingle(img, argv[1], 1);
  const int32_t saved = loaded == 0 ? QorImgSaveSingle(img, argv[2], K_AUTO) : loaded;
  if (saved != 0) {
    QorLastError rec;
    char text[1024];
    QorGetLastError(&rec);
    QorMakeErrorStr(&rec, text);
    fprintf(stderr, "qor_still: %s\n", text);
  }
  QorImgFree(img);
  return saved == 0 ? 0 : 1;
}
