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

namespace Sorrel {

namespace {

constexpr uint32_t kStateMagic = 0x4C52524Fu;  // marks an open decoder state

struct DecoderState {
  uint32_t magic;
  OggVorbis_File vf;
  OvInfo info;          // the sound's format: that of the first stream
  int32_t linksUsed;    // leading streams of that format
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
  return fread(ptr, size, n, static_cast<FILE*>(src));
}
int SeekFn(void* src, ogg_int64_t offset, int whence) {
  return fseeko(static_cast<FILE*>(src), static_cast<off_t>(offset), whence);
}
long TellFn(void* src) { return static_cast<long>(ftello(static_cast<FILE*>(src))); }

bool SameFormat(const vorbis_info* vi, const OvInfo& info) {
  return vi && vi->channels == info.channels && vi->rate == info.rate;
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
  const ov_callbacks cb = {ReadFn, SeekFn, nullptr, TellFn};
  int32_t rc = ::ov_open_callbacks(f, &st->vf, initial, initialBytes, cb);
  if (rc < 0) {
    fclose(f);
    st->~DecoderState();
    std::memset(state, 0, sizeof(DecoderState));
    return rc;
  }
  rc = 0;
  const vorbis_info* first = ::ov_info(&st->vf, 0);
  if (!::ov_seekable(&st->vf)) rc = kOvNotSeekable;
  else if (!first || first->channels < 1 || first->rate < 1) rc = kOvNotVorbis;
  if (rc == 0) {
    st->info.version = first->version;
    st->info.channels = first->channels;
    st->info.rate = static_cast<int32_t>(std::min<long>(first->rate, INT32_MAX));
    st->info.bitrateUpper = static_cast<int32_t>(first->bitrate_upper);
    st->info.bitrateNominal = static_cast<int32_t>(first->bitrate_nominal);
    st->info.bitrateLower = static_cast<int32_t>(first->bitrate_lower);
    const long links = ::ov_streams(&st->vf);
    for (long i = 0; i < links; i++) {
      if (!SameFormat(::ov_info(&st->vf, static_cast<int>(i)), st->info)) break;
      const ogg_int64_t n = ::ov_pcm_total(&st->vf, static_cast<int>(i));
      if (n < 0) {
        rc = static_cast<int32_t>(n);
        break;
      }
      st->total += n;
      st->linksUsed++;
    }
    if (st->linksUsed < 1 && rc == 0) rc = kOvNotVorbis;
  }
  // Opening a chained file can leave the decoder in its last stream: start
  // from the first sample explicitly.
  if (rc == 0 && ::ov_pcm_seek(&st->vf, 0) != 0) rc = kOvNotSeekable;
  if (rc < 0) {
    ::ov_clear(&st->vf);
    fclose(f);
    st->~DecoderState();
    std::memset(state, 0, sizeof(DecoderState));
    return rc;
  }
  st->positionKnown = true;
  st->magic = kStateMagic;
  *fileSlot = f;
  return 0;
}

const OvInfo* ov_info(void* state, int32_t link) {
  DecoderState* st = Open(state);
  if (!st || link < -1 || link >= st->linksUsed) return nullptr;
  return &st->info;  // every stream of the sound shares the first one's format
}

int64_t ov_pcm_total(void* state, int32_t link) {
  DecoderState* st = Open(state);
  if (!st || link < -1 || link >= st->linksUsed) return kOvBadArgument;
  if (link == -1) return st->total;
  return ::ov_pcm_total(&st->vf, link);
}

int32_t ov_pcm_seek(void* state, int64_t frame) {
  DecoderState* st = Open(state);
  if (!st) return kOvBadArgument;
  st->positionKnown = false;
  if (frame < 0 || frame > st->total) return kOvBadArgument;
  const int rc = ::ov_pcm_seek(&st->vf, frame);
  if (rc != 0) return rc < 0 ? rc : kOvFail;
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
  int64_t want = std::min<int64_t>(length, left * frameBytes);
  want -= want % frameBytes;
  if (want <= 0) return length == 0 ? 0 : kOvBadArgument;

  // Holes are reported once per gap and each consumes input, so the loop
  // ends; the bound only guards against a decoder that stops advancing.
  for (int tries = 0; tries < 1 << 20; tries++) {
    int link = 0;
    const long got = ::ov_read(&st->vf, buffer, static_cast<int>(want),
                               bigEndian, word, sgned, &link);
    if (got == OV_HOLE) continue;
    if (got <= 0) return static_cast<int32_t>(got);
    if (link >= st->linksUsed || !SameFormat(::ov_info(&st->vf, link), st->info)) {
      // A stream of another format: the sound ends before it.
      st->position = st->total;
      return 0;
    }
    if (got % frameBytes != 0) return kOvFail;
    st->position += got / frameBytes;
    if (bitstream) *bitstream = link;
    return static_cast<int32_t>(got);
  }
  return kOvFail;
}

int32_t ov_clear_2(OvFileSlot* fileSlot, void* state) {
  DecoderState* st = Open(state);
  if (st) {
    ::ov_clear(&st->vf);
    st->~DecoderState();
    std::memset(state, 0, sizeof(DecoderState));
  }
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
