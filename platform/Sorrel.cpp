#include "platform/Sorrel.h"

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <random>
#include <vector>

namespace Sorrel {

namespace {

constexpr uint32_t kStateMagic = 0x4C52524Fu;  // marks an open decoder state

// One link of a chained file: the bytes from its first page up to the next
// link, and where its samples start in the sound.
struct Link {
  int64_t begin = 0, end = 0;
  int64_t firstFrame = 0, frames = 0;
};

// The bytes of one link, as the decoder's data source.
struct Range {
  FILE* f = nullptr;
  int64_t begin = 0, end = 0, pos = 0;
};

struct DecoderState {
  uint32_t magic;
  Range range;          // the link the decoder reads
  OggVorbis_File vf;    // open on range while current >= 0
  int32_t current;      // that link's number, -1 when none is open
  std::vector<Link> links;  // leading links of the first one's format
  OvInfo info;          // the sound's format: that of the first stream
  int64_t total;        // their sample frames
  int64_t position;     // sample frames from the start of the sound
  bool positionKnown;   // false after a refused seek
};
static_assert(sizeof(DecoderState) <= kDecoderStateSize,
              "decoder state does not fit the caller's block");

DecoderState* Open(void* state) {
  auto* st = static_cast<DecoderState*>(state);
  return st && st->magic == kStateMagic ? st : nullptr;
}

size_t ReadFn(void* ptr, size_t size, size_t n, void* src) {
  auto* r = static_cast<Range*>(src);
  if (size == 0) return 0;
  const int64_t want = std::min<int64_t>(static_cast<int64_t>(size * n), r->end - r->begin - r->pos);
  if (want <= 0 || fseeko(r->f, static_cast<off_t>(r->begin + r->pos), SEEK_SET) != 0) return 0;
  const size_t got = fread(ptr, 1, static_cast<size_t>(want), r->f);
  r->pos += static_cast<int64_t>(got);
  return got / size;
}
int SeekFn(void* src, ogg_int64_t offset, int whence) {
  auto* r = static_cast<Range*>(src);
  const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? r->pos : r->end - r->begin;
  const int64_t to = base + offset;
  if (to < 0 || to > r->end - r->begin) return -1;
  r->pos = to;
  return 0;
}
long TellFn(void* src) { return static_cast<long>(static_cast<Range*>(src)->pos); }

bool SameFormat(const vorbis_info* vi, const OvInfo& info) {
  return vi && vi->channels == info.channels && vi->rate == info.rate;
}

// Where the links of a chained file begin: at each group of first pages
// (a stream's first page is marked) that follows other pages. Links are
// found by these marks rather than by serial numbers, so a file joined to
// itself (the same serial number twice) is two links too. Empty when the
// file has no Ogg pages.
// The offset of the next page capture pattern at or after pos, or -1.
int64_t NextCapture(FILE* f, int64_t pos, int64_t limit) {
  char buf[65536 + 3];
  while (pos < limit) {
    if (fseeko(f, static_cast<off_t>(pos), SEEK_SET) != 0) return -1;
    const size_t got = fread(buf, 1, sizeof buf, f);
    if (got < 4) return -1;
    for (size_t i = 0; i + 4 <= got; i++)
      if (buf[i] == 'O' && std::memcmp(buf + i, "OggS", 4) == 0) return pos + static_cast<int64_t>(i);
    pos += static_cast<int64_t>(got) - 3;
  }
  return -1;
}

std::vector<Link> FindLinks(FILE* f) {
  std::vector<Link> links;
  if (fseeko(f, 0, SEEK_END) != 0) return links;
  const int64_t size = ftello(f);
  // A file without a page near its start is no Ogg file: not read through.
  int64_t pos = NextCapture(f, 0, std::min<int64_t>(size, 65536));
  bool lastWasFirst = false;
  uint8_t head[27 + 255];
  while (pos >= 0 && pos + 27 <= size) {
    if (fseeko(f, static_cast<off_t>(pos), SEEK_SET) != 0 || fread(head, 1, 27, f) != 27) break;
    if (std::memcmp(head, "OggS", 4) != 0) {
      pos = NextCapture(f, pos + 1, size);  // damaged data: find the next page
      continue;
    }
    const int segments = head[26];
    if (fread(head + 27, 1, static_cast<size_t>(segments), f) != static_cast<size_t>(segments))
      break;
    int64_t body = 0;
    for (int i = 0; i < segments; i++) body += head[27 + i];
    const bool first = (head[5] & 0x02) != 0;
    if (first && !lastWasFirst) {
      if (!links.empty()) links.back().end = pos;
      links.push_back(Link{pos, size, 0, 0});
    }
    lastWasFirst = first;
    pos += 27 + segments + body;
  }
  return links;
}

const ov_callbacks kRangeCallbacks = {ReadFn, SeekFn, nullptr, TellFn};

void CloseLink(DecoderState* st) {
  if (st->current >= 0) ::ov_clear(&st->vf);
  st->current = -1;
}

// Opens the decoder on one link; 0 or libvorbisfile's negative result.
int32_t OpenLink(DecoderState* st, FILE* f, const Link& link, int32_t number) {
  CloseLink(st);
  st->range = Range{f, link.begin, link.end, 0};
  const int32_t rc = ::ov_open_callbacks(&st->range, &st->vf, nullptr, 0, kRangeCallbacks);
  if (rc == 0) st->current = number;
  return rc;
}

void Release(DecoderState* st, void* state) {
  CloseLink(st);
  st->~DecoderState();
  std::memset(state, 0, sizeof(DecoderState));
}

// Counts the leading links of the first one's format; 0 or a negative
// result of the layer.
int32_t MeasureLinks(DecoderState* st, FILE* f, std::vector<Link> found) {
  for (size_t i = 0; i < found.size(); i++) {
    const int32_t rc = OpenLink(st, f, found[i], static_cast<int32_t>(i));
    // A damaged later link ends the sound, as one of another format does.
    if (rc < 0) return i == 0 ? rc : 0;
    const vorbis_info* vi = ::ov_info(&st->vf, -1);
    if (i == 0) {
      if (!::ov_seekable(&st->vf)) return kOvNotSeekable;
      if (!vi || vi->channels < 1 || vi->rate < 1) return kOvNotVorbis;
      st->info.version = vi->version;
      st->info.channels = vi->channels;
      st->info.rate = static_cast<int32_t>(std::min<long>(vi->rate, INT32_MAX));
      st->info.bitrateUpper = static_cast<int32_t>(vi->bitrate_upper);
      st->info.bitrateNominal = static_cast<int32_t>(vi->bitrate_nominal);
      st->info.bitrateLower = static_cast<int32_t>(vi->bitrate_lower);
    } else if (!SameFormat(vi, st->info)) {
      return 0;
    }
    // Several streams libvorbisfile still sees in one link count up to the
    // first of another format.
    int64_t frames = 0;
    for (long k = 0; k < ::ov_streams(&st->vf); k++) {
      if (!SameFormat(::ov_info(&st->vf, static_cast<int>(k)), st->info)) break;
      const ogg_int64_t n = ::ov_pcm_total(&st->vf, static_cast<int>(k));
      if (n < 0) return i == 0 ? static_cast<int32_t>(n) : 0;
      frames += n;
    }
    Link link = found[i];
    link.firstFrame = st->total;
    link.frames = frames;
    st->links.push_back(link);
    st->total += frames;
    if (frames < ::ov_pcm_total(&st->vf, -1)) return 0;  // a stream of another format follows
  }
  return 0;
}

// Positions the decoder at a sample frame of the sound (0..total).
int32_t SeekTo(DecoderState* st, int64_t frame) {
  size_t i = 0;
  while (i + 1 < st->links.size() && frame >= st->links[i + 1].firstFrame) i++;
  if (st->current != static_cast<int32_t>(i)) {
    const int32_t rc = OpenLink(st, st->range.f, st->links[i], static_cast<int32_t>(i));
    if (rc < 0) return rc;
  }
  const int rc = ::ov_pcm_seek(&st->vf, frame - st->links[i].firstFrame);
  return rc == 0 ? 0 : (rc < 0 ? rc : kOvFail);
}

}  // namespace

int32_t ov_open_2(OvFileSlot* fileSlot, const char* fileName, void* state,
                  const char* initial, int32_t initialBytes) {
  if (!fileSlot || !fileName || !state || initialBytes < 0 ||
      (initialBytes > 0 && !initial))
    return kOvBadArgument;
  *fileSlot = nullptr;
  FILE* f = fopen(fileName, "rb");
  if (!f) return kOvFail;
  auto* st = new (state) DecoderState{};
  st->current = -1;
  // Data already read from the start of the file is read again from the
  // file itself: the links are found from the file's own bytes.
  std::vector<Link> found = FindLinks(f);
  if (found.empty()) {
    fseeko(f, 0, SEEK_END);
    found.push_back(Link{0, static_cast<int64_t>(ftello(f)), 0, 0});
  }
  int32_t rc = MeasureLinks(st, f, std::move(found));
  if (rc == 0 && st->links.empty()) rc = kOvNotVorbis;
  // Start from the first sample explicitly.
  if (rc == 0 && SeekTo(st, 0) != 0) rc = kOvNotSeekable;
  if (rc < 0) {
    Release(st, state);
    fclose(f);
    return rc;
  }
  st->positionKnown = true;
  st->magic = kStateMagic;
  *fileSlot = f;
  return 0;
}

const OvInfo* ov_info(void* state, int32_t link) {
  DecoderState* st = Open(state);
  if (!st || link < -1 || link >= static_cast<int32_t>(st->links.size())) return nullptr;
  return &st->info;  // every stream of the sound shares the first one's format
}

int64_t ov_pcm_total(void* state, int32_t link) {
  DecoderState* st = Open(state);
  if (!st || link < -1 || link >= static_cast<int32_t>(st->links.size())) return kOvBadArgument;
  if (link == -1) return st->total;
  return st->links[static_cast<size_t>(link)].frames;
}

int32_t ov_pcm_seek(void* state, int64_t frame) {
  DecoderState* st = Open(state);
  if (!st) return kOvBadArgument;
  st->positionKnown = false;
  if (frame < 0 || frame > st->total) return kOvBadArgument;
  const int32_t rc = SeekTo(st, frame);
  if (rc != 0) return rc;
  st->position = frame;
  st->positionKnown = true;
  return 0;
}

int32_t ov_read(void* state, char* buffer, int32_t length, int32_t bigEndian,
                int32_t word, int32_t sgned, int32_t* bitstream) {
  DecoderState* st = Open(state);
  if (!st || !buffer || length < 0 || (word != 1 && word != 2))
    return kOvBadArgument;
  if (!st->positionKnown) return kOvNoPosition;
  const int64_t frameBytes = static_cast<int64_t>(st->info.channels) * word;
  const int64_t left = st->total - st->position;
  if (left <= 0) return 0;
  if (st->current < 0) return kOvNoPosition;
  // Never past the current link: the next one starts from its own first
  // sample.
  const Link& link = st->links[static_cast<size_t>(st->current)];
  int64_t want = std::min<int64_t>(
      length, std::min(left, link.firstFrame + link.frames - st->position) * frameBytes);
  want -= want % frameBytes;
  if (want <= 0) {
    if (length < frameBytes) return length == 0 ? 0 : kOvBadArgument;
    // This link is done: go on with the next.
    if (SeekTo(st, st->position) != 0) return kOvFail;
    return ov_read(state, buffer, length, bigEndian, word, sgned, bitstream);
  }

  // Holes are reported once per gap and each consumes input, so the loop
  // ends; the bound only guards against a decoder that stops advancing.
  for (int tries = 0; tries < 1 << 20; tries++) {
    int stream = 0;
    const long got = ::ov_read(&st->vf, buffer, static_cast<int>(want),
                               bigEndian, word, sgned, &stream);
    if (got == OV_HOLE) continue;
    if (got < 0) return static_cast<int32_t>(got);
    if (got == 0 && st->current + 1 < static_cast<int32_t>(st->links.size())) {
      // A link that ends early (lost pages): the next one starts where the
      // sound says it does.
      st->position = st->links[static_cast<size_t>(st->current) + 1].firstFrame;
      if (SeekTo(st, st->position) != 0) return kOvFail;
      return ov_read(state, buffer, length, bigEndian, word, sgned, bitstream);
    }
    if (got == 0 || !SameFormat(::ov_info(&st->vf, stream), st->info)) {
      // The last link ends early, or a stream of another format follows:
      // the sound ends there.
      st->position = st->total;
      return 0;
    }
    if (got % frameBytes != 0) return kOvFail;
    st->position += got / frameBytes;
    if (bitstream) *bitstream = st->current;
    return static_cast<int32_t>(got);
  }
  return kOvFail;
}

int32_t ov_clear_2(OvFileSlot* fileSlot, void* state) {
  DecoderState* st = Open(state);
  if (st) Release(st, state);
  if (fileSlot && *fileSlot) {
    fclose(static_cast<FILE*>(*fileSlot));
    *fileSlot = nullptr;
  }
  return st ? 0 : kOvBadArgument;
}

// ---- encoder ----------------------------------------------------------------

struct OvEncoder {
  FILE* f = nullptr;
  int32_t channels = 0;
  bool writeFailed = false;
  vorbis_info vi;
  vorbis_comment vc;
  vorbis_dsp_state vd;
  vorbis_block vb;
  ogg_stream_state os;
};

namespace {

bool WritePage(OvEncoder* e, const ogg_page& page) {
  if (fwrite(page.header, 1, static_cast<size_t>(page.header_len), e->f) !=
          static_cast<size_t>(page.header_len) ||
      fwrite(page.body, 1, static_cast<size_t>(page.body_len), e->f) !=
          static_cast<size_t>(page.body_len))
    e->writeFailed = true;
  return !e->writeFailed;
}

// Moves every finished block through the packet stream into pages.
bool Drain(OvEncoder* e) {
  while (vorbis_analysis_blockout(&e->vd, &e->vb) == 1) {
    vorbis_analysis(&e->vb, nullptr);
    vorbis_bitrate_addblock(&e->vb);
    ogg_packet op;
    while (vorbis_bitrate_flushpacket(&e->vd, &op)) {
      ogg_stream_packetin(&e->os, &op);
      ogg_page page;
      while (ogg_stream_pageout(&e->os, &page))
        if (!WritePage(e, page)) return false;
    }
  }
  return !e->writeFailed;
}

void Release(OvEncoder* e) {
  ogg_stream_clear(&e->os);
  vorbis_block_clear(&e->vb);
  vorbis_dsp_clear(&e->vd);
  vorbis_comment_clear(&e->vc);
  vorbis_info_clear(&e->vi);
}

}  // namespace

int32_t ov_create(OvEncoder** encoder, const char* fileName, int32_t rate,
                  int32_t channels, double quality) {
  if (!encoder) return 0;
  *encoder = nullptr;
  if (!fileName || rate < 1 || channels < 1 || channels > 255) return 0;
  if (!(quality >= 0.0)) quality = 0.0;
  if (quality > 1.0) quality = 1.0;
  auto* e = new (std::nothrow) OvEncoder;
  if (!e) return 0;
  e->channels = channels;
  vorbis_info_init(&e->vi);
  if (vorbis_encode_init_vbr(&e->vi, channels, rate, static_cast<float>(quality)) != 0) {
    vorbis_info_clear(&e->vi);
    delete e;
    return 0;
  }
  e->f = fopen(fileName, "wb");
  if (!e->f) {
    vorbis_info_clear(&e->vi);
    delete e;
    return 0;
  }
  vorbis_comment_init(&e->vc);
  vorbis_analysis_init(&e->vd, &e->vi);
  vorbis_block_init(&e->vd, &e->vb);
  std::random_device rd;
  ogg_stream_init(&e->os, static_cast<int>(rd() & 0x7FFFFFFF));

  ogg_packet header, comments, codebooks;
  vorbis_analysis_headerout(&e->vd, &e->vc, &header, &comments, &codebooks);
  ogg_stream_packetin(&e->os, &header);
  ogg_stream_packetin(&e->os, &comments);
  ogg_stream_packetin(&e->os, &codebooks);
  ogg_page page;
  // The headers stand on pages of their own, ahead of any audio.
  while (ogg_stream_flush(&e->os, &page))
    if (!WritePage(e, page)) break;
  if (e->writeFailed) {
    Release(e);
    fclose(e->f);
    remove(fileName);
    delete e;
    return 0;
  }
  *encoder = e;
  return 1;
}

int32_t ov_write(OvEncoder* e, const int16_t* samples, int32_t bytes) {
  if (!e || bytes < 0 || (bytes > 0 && !samples) || e->writeFailed) return 0;
  const int64_t frameBytes = 2ll * e->channels;
  if (bytes % frameBytes != 0) return 0;
  int64_t frames = bytes / frameBytes;
  const int16_t* in = samples;
  while (frames > 0) {
    const int n = static_cast<int>(std::min<int64_t>(frames, 1024));
    float** buf = vorbis_analysis_buffer(&e->vd, n);
    for (int i = 0; i < n; i++)
      for (int c = 0; c < e->channels; c++)
        buf[c][i] = static_cast<float>(*in++) / 32768.0f;
    vorbis_analysis_wrote(&e->vd, n);
    if (!Drain(e)) return 0;
    frames -= n;
  }
  return 1;
}

int32_t ov_close(OvEncoder* e) {
  if (!e) return 0;
  if (!e->writeFailed) {
    vorbis_analysis_wrote(&e->vd, 0);  // end of stream
    if (Drain(e)) {
      ogg_page page;
      while (ogg_stream_flush(&e->os, &page))
        if (!WritePage(e, page)) break;
    }
  }
  Release(e);
  const bool closed = fclose(e->f) == 0;
  const bool ok = closed && !e->writeFailed;
  delete e;
  return ok ? 1 : 0;
}

}  // namespace Sorrel
