// A careless or hostile host: handles used after they were freed, handles of
// the wrong kind or from nowhere, callbacks that keep what the engine lent
// them, allocation until the library refuses. Every mistake gets an error
// answer and touches nothing; under the sanitizer build any read of freed
// memory ends the test.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "host/HostHandles.h"
#include "host/HostLibrary.h"
#include "host/HostMediaFiles.h"
#include "host/HostScratch.h"
#include "qor.h"

namespace {

// A block the library never handed out, filled with a pattern that must
// survive every call it is passed to.
struct Foreign {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(4096, 0xA5);
  QorHandle h() { return bytes.data(); }
  bool Untouched() const {
    for (uint8_t b : bytes)
      if (b != 0xA5) return false;
    return true;
  }
};

// Good handles passed alongside the bad ones. Made before anything is freed:
// a freed record's address may be handed out again by the next allocation,
// and then it is a live handle once more.
struct Kit {
  Img image;
  Text text;
  QorHandle sound = QOR_GET(QorSndAlloc)();
  Kit() {
    const uint8_t px[3] = {1, 2, 3};
    QOR_GET(QorImgSetPixels)(image.h, 1, 1, 24, px, nullptr);
    const uint8_t s[4] = {1, 2, 3, 4};
    QOR_GET(QorSndSetSamples)(sound, 4, 8000, 1, 8, s);
  }
  ~Kit() { QOR_GET(QorSndFree)(sound); }
};

// Every image export that reads or writes through its handle, each run with
// the bad handle: each answers 999 and writes nothing out.
void ExpectImageRefused(Kit& kit, QorHandle bad, const char* what) {
  Img& good = kit.image;
  const uint8_t px[3] = {1, 2, 3};
  int32_t x = -7, y = -7, bpp = -7, bytes = -7;
  void* pix = nullptr;
  void* pal = nullptr;
  QOR_GET(QorImgGetInfo)(bad, &x, &y, &bpp, &bytes, &pix, &pal);
  EXPECT_EQ(LastCode(), 999) << what;
  EXPECT_EQ(x, -7) << what;
  QOR_GET(QorImgGetPixelRGB)(bad, 0, 0, &x, &y, &bpp);
  EXPECT_EQ(LastCode(), 999) << what;
  EXPECT_EQ(x, -7) << what;
  const std::vector<std::pair<const char*, std::function<void()>>> calls = {
      {"Free", [&] { QOR_GET(QorImgFree)(bad); }},
      {"Redim", [&] { QOR_GET(QorImgRedim)(bad, 4, 4, 24); }},
      {"Clear", [&] { QOR_GET(QorImgClear)(bad, 0); }},
      {"SetPixels", [&] { QOR_GET(QorImgSetPixels)(bad, 1, 1, 24, px, nullptr); }},
      {"CopyInto", [&] { QOR_GET(QorImgCopy)(bad, good.h); }},
      {"CopyFrom", [&] { QOR_GET(QorImgCopy)(good.h, bad); }},
      {"Resize", [&] { QOR_GET(QorImgResize)(bad, 2, 2); }},
      {"Insert", [&] { QOR_GET(QorImgInsert)(good.h, bad, 0, 0); }},
      {"Skip", [&] { QOR_GET(QorImgSkip)(bad); }},
      {"Load", [&] { EXPECT_EQ(QOR_GET(QorImgLoadSingle)(bad, "/nonexistent.bmp", 0), 999); }},
      {"ToDIB", [&] { EXPECT_EQ(QOR_GET(QorImgToDIB)(bad), nullptr); }},
  };
  for (const auto& [name, call] : calls) {
    call();
    EXPECT_EQ(LastCode(), 999) << what << ": " << name;
  }
  QOR_GET(QorTextOut)(bad, kit.text.h, 0, 0, "x");
  EXPECT_EQ(LastCode(), 999) << what << ": TextOut";
  // The good image took no harm from being passed alongside.
  int32_t r = -1, g = -1, b = -1;
  QOR_GET(QorImgGetPixelRGB)(good.h, 0, 0, &r, &g, &b);
  EXPECT_EQ(r, 3);
  EXPECT_EQ(b, 1);
}

void ExpectSoundRefused(Kit& kit, QorHandle bad, const char* what) {
  QorHandle good = kit.sound;
  const uint8_t s[4] = {1, 2, 3, 4};
  int32_t rate = -7, ch = -7, bits = -7, bytes = -7;
  void* data = nullptr;
  QOR_GET(QorSndGetInfo)(bad, &rate, &ch, &bits, &bytes, &data);
  EXPECT_EQ(LastCode(), 999) << what;
  EXPECT_EQ(rate, -7) << what;
  uint8_t out[64];
  std::memset(out, 0x5A, sizeof out);
  QOR_GET(QorSndGetSamples)(bad, out);
  EXPECT_EQ(LastCode(), 999) << what;
  EXPECT_EQ(out[0], 0x5A) << what;
  const std::vector<std::pair<const char*, std::function<void()>>> calls = {
      {"Free", [&] { QOR_GET(QorSndFree)(bad); }},
      {"SetSamples", [&] { QOR_GET(QorSndSetSamples)(bad, 4, 8000, 1, 8, s); }},
      {"Resample", [&] { QOR_GET(QorSndResample)(bad, 11025, 1, 8); }},
      {"CopyInto", [&] { QOR_GET(QorSndCopy)(bad, good); }},
      {"CopyFrom", [&] { QOR_GET(QorSndCopy)(good, bad); }},
  };
  for (const auto& [name, call] : calls) {
    call();
    EXPECT_EQ(LastCode(), 999) << what << ": " << name;
  }
  QOR_GET(QorSndGetInfo)(good, &rate, &ch, &bits, &bytes, &data);
  EXPECT_EQ(rate, 8000);
  EXPECT_EQ(std::memcmp(data, s, 4), 0);
}

}  // namespace

TEST(HostileHost, FreedForeignAndMistakenImageAndSoundHandlesAreRefused) {
  ASSERT_NE(Lib().handle(), nullptr) << Lib().error();
  Kit kit;
  Foreign foreign;
  QorHandle list = QOR_GET(QorListAlloc)();
  QorHandle img = QOR_GET(QorImgAlloc)();
  QorHandle snd = QOR_GET(QorSndAlloc)();
  // Freed twice: the second free is refused, and so is every later use.
  QOR_GET(QorImgRedim)(img, 8, 8, 24);
  QOR_GET(QorImgFree)(img);
  EXPECT_EQ(LastCode(), 0);
  ExpectImageRefused(kit, img, "freed image");
  QOR_GET(QorSndFree)(snd);
  EXPECT_EQ(LastCode(), 0);
  ExpectSoundRefused(kit, snd, "freed sound");

  // Blocks the library never made, and handles of another kind.
  ExpectImageRefused(kit, foreign.h(), "foreign");
  ExpectSoundRefused(kit, foreign.h(), "foreign");
  EXPECT_TRUE(foreign.Untouched());
  ExpectImageRefused(kit, kit.text.h, "text handle");
  ExpectImageRefused(kit, kit.sound, "sound handle");
  ExpectSoundRefused(kit, list, "list handle");
  ExpectSoundRefused(kit, kit.image.h, "image handle");
  QOR_GET(QorListFree)(list);
}

// The file handle of the sound exports is checked as the image exports check
// theirs: an image handle, a closed file, a foreign block are refused (999)
// and nothing is read or written.
TEST(HostileHost, SoundLoadAndSaveCheckTheirFileHandle) {
  ScratchDir dir;
  const std::string wav = dir.File("in.wav");
  WriteWav(wav, 8000, 1, 8, 100);  // silence: every sample 0x80
  QorFileInfo info{};
  QorHandle in = QOR_GET(QorFileOpen)(wav.c_str(), 0, &info, nullptr, nullptr);
  ASSERT_NE(in, nullptr);
  QorHandle snd = QOR_GET(QorSndAlloc)();
  EXPECT_EQ(QOR_GET(QorSndLoad)(snd, in, 10, 5), 0);
  int32_t rate, ch, bits, bytes;
  void* data = nullptr;
  QOR_GET(QorSndGetInfo)(snd, &rate, &ch, &bits, &bytes, &data);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(static_cast<uint8_t*>(data)[0], 0x80);

  Img image;
  Foreign foreign;
  QorHandle out = QOR_GET(QorFileCreate)(dir.File("out.wav").c_str());
  QorHandle closed = QOR_GET(QorFileOpen)(wav.c_str(), 0, &info, nullptr, nullptr);
  QOR_GET(QorFileClose)(closed);
  for (QorHandle bad : {image.h, closed, foreign.h()}) {
    EXPECT_EQ(QOR_GET(QorSndLoad)(snd, bad, 0, 50), 999);
    EXPECT_EQ(QOR_GET(QorSndSave)(snd, bad), 999);
  }
  EXPECT_TRUE(foreign.Untouched());
  // A freed sound with a good file: refused before the file reads.
  QorHandle stale = QOR_GET(QorSndAlloc)();
  QOR_GET(QorSndFree)(stale);
  EXPECT_EQ(QOR_GET(QorSndLoad)(stale, in, 0, 50), 999);
  EXPECT_EQ(QOR_GET(QorSndSave)(stale, out), 999);
  // The sound still holds what it read; the good files still work.
  QOR_GET(QorSndGetInfo)(snd, &rate, &ch, &bits, &bytes, &data);
  EXPECT_EQ(static_cast<uint8_t*>(data)[0], 0x80);
  EXPECT_EQ(QOR_GET(QorSndSave)(snd, out), 0);
  // A file of the other direction: reading a created one, writing into one
  // opened for reading, is an error and harms neither file.
  Img frame;
  QOR_GET(QorImgRedim)(frame.h, 4, 4, 24);
  EXPECT_NE(QOR_GET(QorSndLoad)(snd, out, 0, 50), 0);
  EXPECT_NE(QOR_GET(QorSndSave)(snd, in), 0);
  EXPECT_NE(QOR_GET(QorImgLoad)(frame.h, out, 0), 0);
  EXPECT_NE(QOR_GET(QorImgSave)(frame.h, in), 0);
  QOR_GET(QorFileClose)(out);
  QOR_GET(QorFileClose)(in);
  QOR_GET(QorSndFree)(snd);
  EXPECT_EQ(LastCode(), 0);
}

// Allocating until the tracked-block table is full: nil with the memory
// manager's error, never a crash, and everything works again once freed.
TEST(HostileHost, AllocatingUntilRefusedGivesNil) {
  for (auto [alloc, free] : {std::pair{QOR_GET(QorSndAlloc), QOR_GET(QorSndFree)},
                             std::pair{QOR_GET(QorImgAlloc), QOR_GET(QorImgFree)}}) {
    std::vector<QorHandle> held;
    QorHandle h = nullptr;
    while ((h = alloc()) != nullptr && held.size() < 100000) held.push_back(h);
    EXPECT_EQ(h, nullptr);
    const QorLastError rec = Outcome();
    EXPECT_EQ(rec.code, 1000);
    EXPECT_EQ(rec.errClass, 5);
    EXPECT_EQ(rec.errNum, 6);
    EXPECT_GT(held.size(), 1000u);
    for (QorHandle each : held) free(each);
    h = alloc();
    EXPECT_NE(h, nullptr);
    free(h);
  }
}

TEST(HostileHost, StatusOfAFreedConversionHandle) {
  QorHandle h = QOR_GET(QorAlloc)();
  EXPECT_EQ(QOR_GET(QorGetStatus)(h), 0);
  QOR_GET(QorFree)(h);
  QOR_GET(QorSetFrameRate)(h, 10.0);  // refused: the record is gone
  EXPECT_EQ(LastCode(), 999);
  Img fresh;  // a call in between that succeeds
  EXPECT_EQ(LastCode(), 0);
  EXPECT_EQ(QOR_GET(QorGetStatus)(h), 0);
  EXPECT_EQ(LastCode(), 999);
  Foreign foreign;
  EXPECT_EQ(QOR_GET(QorGetStatus)(foreign.h()), 0);
  EXPECT_EQ(LastCode(), 999);
}
