// RIFF chunk walks over hand-built files: odd-sized chunks and their pad
// bytes, nested forms, sizes patched on ascend, and hostile sizes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/base/MmIo.h"
#include "support/TestUtil.h"

using namespace MmIo;
using TestUtil::TempDir;

namespace {

std::string U32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; i++) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

std::string Chunk(const std::string& id, const std::string& data, bool pad = true) {
  std::string s = id + U32(static_cast<uint32_t>(data.size())) + data;
  if (pad && (data.size() & 1)) s += '\0';
  return s;
}

std::string Riff(const std::string& form, const std::string& body) {
  return "RIFF" + U32(static_cast<uint32_t>(body.size() + 4)) + form + body;
}

// RIFF WAVE with an odd-sized foreign chunk before "fmt " and another
// between "fmt " and "data".
std::string SampleWave() {
  return Riff("WAVE", Chunk("junk", "abc") + Chunk("fmt ", std::string(16, 'F')) +
                          Chunk("LIST", "INFO" + Chunk("ISFT", "q")) +
                          Chunk("data", "0123456789"));
}

struct Walk {
  TempDir dir;
  HMMIO h = nullptr;
  explicit Walk(const std::string& bytes) {
    const std::string name = dir.File("t.riff");
    TestUtil::WriteText(name, bytes);
    h = mmioOpenA(name.c_str(), MMIO_READ);
  }
  ~Walk() {
    if (h) mmioClose(h, 0);
  }
};

TEST(MmIoChunks, DescendsByFormTypeAndChunkIdSkippingOddChunks) {
  Walk w(SampleWave());
  ASSERT_NE(w.h, nullptr);
  MMCKINFO riff;
  riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
  ASSERT_EQ(mmioDescend(w.h, &riff, nullptr, MMIO_FINDRIFF), 0u);
  EXPECT_EQ(riff.ckid, FOURCC_RIFF);
  EXPECT_EQ(riff.dwDataOffset, 8u);
  EXPECT_EQ(mmioSeek(w.h, 0, SEEK_CUR), 12);  // past the form type

  MMCKINFO fmt;
  fmt.ckid = mmioFOURCC('f', 'm', 't', ' ');
  ASSERT_EQ(mmioDescend(w.h, &fmt, &riff, MMIO_FINDCHUNK), 0u);
  // "junk" is 8 + 3 + 1 pad bytes: fmt's header at 24, its data at 32.
  EXPECT_EQ(fmt.dwDataOffset, 32u);
  EXPECT_EQ(fmt.cksize, 16u);
  char buf[16];
  EXPECT_EQ(mmioRead(w.h, buf, 16), 16);
  EXPECT_EQ(std::string(buf, 16), std::string(16, 'F'));
  ASSERT_EQ(mmioAscend(w.h, &fmt, 0), 0u);

  MMCKINFO data;
  data.ckid = mmioFOURCC('d', 'a', 't', 'a');
  ASSERT_EQ(mmioDescend(w.h, &data, &riff, MMIO_FINDCHUNK), 0u);
  // LIST: 8 + 4 + (8 + 1 + 1 pad) = 22 bytes at 48; data's header at 70.
  EXPECT_EQ(data.dwDataOffset, 78u);
  EXPECT_EQ(data.cksize, 10u);
  EXPECT_EQ(mmioRead(w.h, buf, 10), 10);
  EXPECT_EQ(std::string(buf, 10), "0123456789");
}

TEST(MmIoChunks, AscendStepsOverThePadByteOfAnOddChunk) {
  Walk w(Riff("TEST", Chunk("odd ", "xyz") + Chunk("next", "ab")));
  MMCKINFO riff, ck;
  ASSERT_EQ(mmioDescend(w.h, &riff, nullptr, 0), 0u);
  ASSERT_EQ(mmioDescend(w.h, &ck, &riff, 0), 0u);
  EXPECT_EQ(ck.ckid, mmioFOURCC('o', 'd', 'd', ' '));
  EXPECT_EQ(ck.cksize, 3u);
  ASSERT_EQ(mmioAscend(w.h, &ck, 0), 0u);
  EXPECT_EQ(mmioSeek(w.h, 0, SEEK_CUR), 12 + 8 + 4);
  ASSERT_EQ(mmioDescend(w.h, &ck, &riff, 0), 0u);
  EXPECT_EQ(ck.ckid, mmioFOURCC('n', 'e', 'x', 't'));
  ASSERT_EQ(mmioAscend(w.h, &ck, 0), 0u);
  // Nothing more inside the parent.
  EXPECT_EQ(mmioDescend(w.h, &ck, &riff, 0), MMIOERR_CHUNKNOTFOUND);
}

TEST(MmIoChunks, FindsAListByItsFormType) {
  Walk w(SampleWave());
  MMCKINFO riff, list;
  ASSERT_EQ(mmioDescend(w.h, &riff, nullptr, 0), 0u);
  list.fccType = mmioFOURCC('I', 'N', 'F', 'O');
  ASSERT_EQ(mmioDescend(w.h, &list, &riff, MMIO_FINDLIST), 0u);
  EXPECT_EQ(list.ckid, FOURCC_LIST);
  EXPECT_EQ(list.cksize, 14u);
  MMCKINFO sub;
  ASSERT_EQ(mmioDescend(w.h, &sub, &list, 0), 0u);
  EXPECT_EQ(sub.ckid, mmioFOURCC('I', 'S', 'F', 'T'));
  EXPECT_EQ(sub.cksize, 1u);
}

TEST(MmIoChunks, MissingChunkIsNotFoundAndRestoresThePosition) {
  Walk w(SampleWave());
  MMCKINFO riff, ck;
  ASSERT_EQ(mmioDescend(w.h, &riff, nullptr, 0), 0u);
  ck.ckid = mmioFOURCC('c', 'u', 'e', ' ');
  EXPECT_EQ(mmioDescend(w.h, &ck, &riff, MMIO_FINDCHUNK), MMIOERR_CHUNKNOTFOUND);
  EXPECT_EQ(mmioSeek(w.h, 0, SEEK_CUR), 12);
  // A RIFF of another form is not found either.
  mmioSeek(w.h, 0, SEEK_SET);
  riff.fccType = mmioFOURCC('A', 'V', 'I', ' ');
  EXPECT_EQ(mmioDescend(w.h, &riff, nullptr, MMIO_FINDRIFF), MMIOERR_CHUNKNOTFOUND);
}

TEST(MmIoChunks, HostileSizesAreRefused) {
  // A chunk claiming more than its parent holds.
  {
    std::string body = Chunk("fmt ", std::string(16, 'F'));
    body.replace(4, 4, U32(0x7FFFFFF0u));
    Walk w(Riff("WAVE", body));
    MMCKINFO riff, ck;
    ASSERT_EQ(mmioDescend(w.h, &riff, nullptr, 0), 0u);
    EXPECT_EQ(mmioDescend(w.h, &ck, &riff, 0), MMIOERR_CANNOTREAD);
  }
  // A RIFF header claiming more than the file holds.
  {
    std::string bytes = SampleWave();
    bytes.replace(4, 4, U32(0xFFFFFFFFu));
    Walk w(bytes);
    MMCKINFO riff;
    EXPECT_EQ(mmioDescend(w.h, &riff, nullptr, 0), MMIOERR_CANNOTREAD);
  }
  // A truncated file: the data chunk's size runs past the end.
  {
    std::string bytes = SampleWave();
    bytes.resize(bytes.size() - 4);
    bytes.replace(4, 4, U32(static_cast<uint32_t>(bytes.size() - 8)));
    Walk w(bytes);
    MMCKINFO riff, ck;
    ASSERT_EQ(mmioDescend(w.h, &riff, nullptr, 0), 0u);
    ck.ckid = mmioFOURCC('d', 'a', 't', 'a');
    EXPECT_EQ(mmioDescend(w.h, &ck, &riff, MMIO_FINDCHUNK), MMIOERR_CANNOTREAD);
  }
  // A form chunk too small to hold its form type; a form chunk with nothing
  // behind its header; half a header.
  for (const std::string& bytes : {"RIFF" + U32(2) + "WA", "RIFF" + U32(4)}) {
    Walk w(bytes);
    MMCKINFO ck;
    EXPECT_EQ(mmioDescend(w.h, &ck, nullptr, 0), MMIOERR_CANNOTREAD);
  }
  {
    Walk w("RIFF" + U32(4).substr(0, 2));
    MMCKINFO ck;
    EXPECT_EQ(mmioDescend(w.h, &ck, nullptr, 0), MMIOERR_CHUNKNOTFOUND);
  }
}

// Asked to, the walk takes a chunk that runs past the end with what
// remains, marked as cut: a recording cut short, or sizes a writer to a pipe
// left at 0xFFFFFFFF. A chunk that fits is not marked.
TEST(MmIoChunks, CutChunksAreTakenWhenAsked) {
  std::string bytes = SampleWave();
  bytes.resize(bytes.size() - 4);
  bytes.replace(4, 4, U32(0xFFFFFFFFu));
  Walk w(bytes);
  MMCKINFO riff, ck;
  ASSERT_EQ(mmioDescend(w.h, &riff, nullptr, MMIO_ALLOWCUT), 0u);
  EXPECT_EQ(riff.cksize, bytes.size() - 8);
  EXPECT_EQ(riff.dwFlags, MMIO_CUT);
  ck.ckid = mmioFOURCC('f', 'm', 't', ' ');
  ASSERT_EQ(mmioDescend(w.h, &ck, &riff, MMIO_FINDCHUNK | MMIO_ALLOWCUT), 0u);
  EXPECT_EQ(ck.cksize, 16u);
  EXPECT_EQ(ck.dwFlags, 0u);
  ASSERT_EQ(mmioAscend(w.h, &ck, 0), 0u);
  ck.ckid = mmioFOURCC('d', 'a', 't', 'a');
  ASSERT_EQ(mmioDescend(w.h, &ck, &riff, MMIO_FINDCHUNK | MMIO_ALLOWCUT), 0u);
  EXPECT_EQ(ck.cksize, 6u);  // "012345" of the ten bytes announced
  EXPECT_EQ(ck.dwFlags, MMIO_CUT);
  EXPECT_EQ(static_cast<int64_t>(ck.dwDataOffset) + ck.cksize, static_cast<int64_t>(bytes.size()));
  EXPECT_EQ(mmioAscend(w.h, &ck, 0), 0u);
  EXPECT_EQ(mmioDescend(w.h, &ck, &riff, MMIO_ALLOWCUT), MMIOERR_CHUNKNOTFOUND);
}

TEST(MmIoChunks, EveryTruncationEndsTheWalkCleanly) {
  const std::string full = SampleWave();
  for (size_t len = 0; len < full.size(); len++) {
    Walk w(full.substr(0, len));
    ASSERT_NE(w.h, nullptr);
    MMCKINFO riff, ck;
    if (mmioDescend(w.h, &riff, nullptr, 0) != 0) continue;
    int steps = 0;
    while (mmioDescend(w.h, &ck, &riff, 0) == 0) {
      ASSERT_LE(static_cast<int64_t>(ck.dwDataOffset) + ck.cksize,
                static_cast<int64_t>(len));
      ASSERT_EQ(mmioAscend(w.h, &ck, 0), 0u);
      ASSERT_LT(++steps, 10);
    }
  }
}

TEST(MmIoChunks, CreatedChunksGetTheirSizesAndPadOnAscend) {
  TempDir dir;
  const std::string name = dir.File("w.riff");
  HMMIO h = mmioOpenA(name.c_str(), MMIO_CREATE | MMIO_READWRITE);
  ASSERT_NE(h, nullptr);
  MMCKINFO riff, fmt, data;
  riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
  ASSERT_EQ(mmioCreateChunk(h, &riff, MMIO_CREATERIFF), 0u);
  fmt.ckid = mmioFOURCC('f', 'm', 't', ' ');
  fmt.cksize = 18;
  ASSERT_EQ(mmioCreateChunk(h, &fmt, 0), 0u);
  EXPECT_EQ(fmt.dwDataOffset, 20u);
  ASSERT_EQ(mmioWrite(h, std::string(18, 'F').data(), 18), 18);
  ASSERT_EQ(mmioAscend(h, &fmt, 0), 0u);
  data.ckid = mmioFOURCC('d', 'a', 't', 'a');
  data.cksize = 0;  // wrong on purpose: corrected on ascend
  ASSERT_EQ(mmioCreateChunk(h, &data, 0), 0u);
  ASSERT_EQ(mmioWrite(h, "12345", 5), 5);
  ASSERT_EQ(mmioAscend(h, &data, 0), 0u);
  EXPECT_EQ(data.cksize, 5u);
  ASSERT_EQ(mmioAscend(h, &riff, 0), 0u);
  EXPECT_EQ(mmioFlush(h, 0), 0u);
  EXPECT_EQ(mmioClose(h, 0), 0u);

  const std::string expect =
      Riff("WAVE", Chunk("fmt ", std::string(18, 'F')) + Chunk("data", "12345"));
  EXPECT_EQ(TestUtil::ReadText(name), expect);
  EXPECT_EQ(expect.size(), 12u + 26u + 14u);
}

TEST(MmIoChunks, ReadOnlyHandlesRefuseWritesAndMissingFilesDoNotOpen) {
  TempDir dir;
  EXPECT_EQ(mmioOpenA(dir.File("none").c_str(), MMIO_READ), nullptr);
  Walk w(SampleWave());
  MMCKINFO ck;
  EXPECT_EQ(mmioWrite(w.h, "x", 1), -1);
  EXPECT_EQ(mmioCreateChunk(w.h, &ck, 0), MMIOERR_CANNOTWRITE);
  EXPECT_EQ(mmioSeek(w.h, 0, 7), -1);
}

}  // namespace
