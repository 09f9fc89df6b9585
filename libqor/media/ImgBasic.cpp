#include "media/ImgBasic.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <type_traits>

#include "foundation/Basic.h"
#include "foundation/ErrorNames.h"
#include "foundation/Errors.h"
#include "media/PalOpt.h"

using Errors::ErrSet;

namespace ImgBasic {
namespace {

// Largest pixel block a record can carry once the allocator's slack is added.
constexpr int64_t kMaxImageBytes = static_cast<int64_t>(INT32_MAX) / 105 * 100;

inline uint16_t Rd16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline void Wr16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// Entry k is k div 3, with the darkest sums (below 9) forced to black.
const uint8_t* GreyTable() {
  static uint8_t table[768];
  static bool made = false;
  if (!made) {
    for (int k = 0; k < 768; k++) table[k] = k < 9 ? 0 : static_cast<uint8_t>(k / 3);
    made = true;
  }
  return table;
}

uint16_t To15(uint8_t b, uint8_t g, uint8_t r) {
  return static_cast<uint16_t>((b >> 3) | ((g >> 3) << 5) | ((r >> 3) << 10));
}
uint16_t To16(uint8_t b, uint8_t g, uint8_t r) {
  return static_cast<uint16_t>((b >> 3) | ((g >> 2) << 5) | ((r >> 3) << 11));
}

// Converts count pixels between two depths that need no palette pass.
void ConvertPixels(const Qimg& src, Qimg& dst, int32_t bits, int32_t mode) {
  const int64_t count = static_cast<int64_t>(src.width) * src.height;
  const uint8_t* in = src.data;
  uint8_t* out = dst.data;
  const int32_t from = src.bitsPerPixel;
  const int ib = src.bytesPerPixel;
  const int ob = BytesPerPixel(bits);
  const uint8_t* grey = GreyTable();

  if (from == 8) {
    const uint8_t* pal = src.palette;
    if (bits == 15 || bits == 16) {
      uint16_t table[256];
      for (int i = 0; i < 256; i++) {
        const uint8_t b = pal[i * 3], g = pal[i * 3 + 1], r = pal[i * 3 + 2];
        table[i] = bits == 15 ? To15(b, g, r) : To16(b, g, r);
      }
      for (int64_t i = 0; i < count; i++) Wr16(out + i * 2, table[in[i]]);
    } else {
      for (int64_t i = 0; i < count; i++) {
        const uint8_t* e = pal + in[i] * 3;
        uint8_t* o = out + i * ob;
        o[0] = e[0];
        o[1] = e[1];
        o[2] = e[2];
        if (ob == 4) o[3] = 0;
      }
    }
    return;
  }

  if (bits == 8) {  // grey (mode 3)
    (void)mode;
    for (int64_t i = 0; i < count; i++) {
      const uint8_t* p = in + i * ib;
      int sum;
      if (from == 15 || from == 16) {
        const uint16_t w = Rd16(p);
        const int b5 = w & 31;
        const int r5 = from == 15 ? (w >> 10) & 31 : (w >> 11) & 31;
        const int gg = from == 15 ? ((((w >> 5) & 31) << 3) | 14)
                                  : ((((w >> 5) & 63) << 2) | 6);
        sum = (r5 * 8 + 7) + gg + (b5 * 8 + 7);
      } else {
        sum = p[0] + p[1] + p[2];
      }
      out[i] = grey[sum];
    }
    PalMakeGrey(dst.palette);
    return;
  }

  // Rows are packed, so the picture is one long row: one loop per pair of
  // depths, each with its pixel sizes fixed, instead of a choice per pixel.
  auto each = [&](auto inBytes, auto outBytes, auto&& f) {
    constexpr int kIn = decltype(inBytes)::value, kOut = decltype(outBytes)::value;
    for (int64_t i = 0; i < count; i++) f(in + i * kIn, out + i * kOut);
  };
  using B2 = std::integral_constant<int, 2>;
  using B3 = std::integral_constant<int, 3>;
  using B4 = std::integral_constant<int, 4>;
  auto fromWide = [&](auto inBytes) {
    switch (bits) {
      case 15:
        each(inBytes, B2{}, [](const uint8_t* p, uint8_t* o) { Wr16(o, To15(p[0], p[1], p[2])); });
        break;
      case 16:
        each(inBytes, B2{}, [](const uint8_t* p, uint8_t* o) { Wr16(o, To16(p[0], p[1], p[2])); });
        break;
      case 24:
        each(inBytes, B3{}, [](const uint8_t* p, uint8_t* o) { std::memcpy(o, p, 3); });
        break;
      default:
        each(inBytes, B4{}, [](const uint8_t* p, uint8_t* o) {
          std::memcpy(o, p, 3);
          o[3] = 0;
        });
    }
  };
  // 15 and 16 bits widen to 8 bits a channel with the low bits zero.
  auto wide = [from](uint16_t w, uint8_t* o) {
    o[0] = static_cast<uint8_t>((w & 31) * 8);
    if (from == 15) {
      o[1] = static_cast<uint8_t>(((w >> 5) & 31) * 8);
      o[2] = static_cast<uint8_t>(((w >> 10) & 31) * 8);
    } else {
      o[1] = static_cast<uint8_t>(((w >> 5) & 63) * 4);
      o[2] = static_cast<uint8_t>(((w >> 11) & 31) * 8);
    }
  };
  if (from == 24) {
    fromWide(B3{});
  } else if (from == 32) {
    fromWide(B4{});
  } else if (from == 15 && bits == 16) {
    each(B2{}, B2{}, [](const uint8_t* p, uint8_t* o) {
      const uint16_t w = Rd16(p);
      Wr16(o, (w & 31) | ((w & 0x7FE0u) << 1));
    });
  } else if (from == 16 && bits == 15) {
    each(B2{}, B2{}, [](const uint8_t* p, uint8_t* o) { Wr16(o, Word565To555(Rd16(p))); });
  } else if (bits == 24) {
    each(B2{}, B3{}, [&](const uint8_t* p, uint8_t* o) { wide(Rd16(p), o); });
  } else if (bits == 32) {
    each(B2{}, B4{}, [&](const uint8_t* p, uint8_t* o) {
      wide(Rd16(p), o);
      o[3] = 0;
    });
  }
  (void)ib;
  (void)ob;
}

bool KnownDepth(int32_t bits) {
  return bits == 8 || bits == 15 || bits == 16 || bits == 24 || bits == 32;
}

}  // namespace

int64_t CheckedImageBytes(int64_t width, int64_t height, int32_t bits,
                          int32_t sourceLine) {
  if (width < 1 || height < 1 || bits < 1 || bits > 32) {
    ErrSet(Errors::kErrImageInvalid, sourceLine);
    return -1;
  }
  // Sizes first: two 31-bit sizes and 4 bytes per pixel overflow 64 bits.
  if (width > kMaxImageBytes || height > kMaxImageBytes ||
      width * height > kMaxImageBytes / BytesPerPixel(bits)) {
    ErrSet(Errors::kErrImageInvalid, sourceLine);
    return -1;
  }
  const int64_t bytes = width * height * BytesPerPixel(bits);
  if (bytes > kMaxImageBytes) {
    ErrSet(Errors::kErrImageInvalid, sourceLine);
    return -1;
  }
  return bytes;
}

void _imgalloc_(Qimg* image, int32_t width, int32_t height, const char* label,
                int32_t sourceLine, int32_t bits) {
  Errors::Monitored("ImgBasic._imgalloc_", [&] {
    const int64_t bytes = CheckedImageBytes(width, height, bits, sourceLine);
    if (bytes < 0) return;
    if (!Basic::MemIsTracked(image->data)) {
      image->data = nullptr;
      image->size = 0;
      image->width = image->height = 0;
      image->bytesPerPixel = image->bitsPerPixel = 0;
    }
    const std::string text = std::string("(ImgAlloc):") + (label ? label : "");
    Basic::MemAlloc(image->data, bytes, sourceLine, Basic::kMemPlain,
                    text.c_str());
    image->size = static_cast<int32_t>(bytes);
    image->width = width;
    image->height = height;
    image->bytesPerPixel = BytesPerPixel(bits);
    image->bitsPerPixel = bits;
    image->attached = false;
  });
}

void ImgClear(Qimg* image) { *image = Qimg{}; }

void ImgFree(Qimg* image) {
  Errors::Monitored("ImgBasic.ImgFree", [&] {
    // An attached record's block belongs to someone else, even when that
    // someone keeps it in the tracked table.
    if (!image->attached) Basic::MemFree(image->data);
    ImgClear(image);
  });
}

bool ImgIsValid(const Qimg* image) {
  return image &&
         (image->attached || (image->data && Basic::MemIsTracked(image->data)));
}

void ImgSetDims(Qimg* image, int32_t width, int32_t height, int32_t bits) {
  image->width = width;
  image->height = height;
  image->bitsPerPixel = bits;
  image->bytesPerPixel = BytesPerPixel(bits);
  if (image->attached) {
    const int64_t bytes = static_cast<int64_t>(width) * height *
                          image->bytesPerPixel;
    image->size = static_cast<int32_t>(
        std::clamp<int64_t>(bytes, 0, INT32_MAX));
  }
}

void ImgCopyDims(const Qimg* source, Qimg* dest) {
  if (source == dest) return;
  dest->width = source->width;
  dest->height = source->height;
  dest->bytesPerPixel = source->bytesPerPixel;
  dest->bitsPerPixel = source->bitsPerPixel;
}

void ImgCopyPalette(const Qimg* source, Qimg* dest) {
  Errors::TraceScope trace("ImgBasic.ImgCopyPalette");
  if (source != dest && source->bitsPerPixel == 8)
    std::memcpy(dest->palette, source->palette, sizeof dest->palette);
}

void ImgCopyData(const Qimg* source, Qimg* dest) {
  Errors::Monitored("ImgBasic.ImgCopyData", [&] {
    if (source == dest) return;
    _imgalloc_(dest, source->width, source->height,
               "ImgBasic.ImgCopyData.dest", __LINE__, source->bitsPerPixel);
    const int64_t bytes = static_cast<int64_t>(source->width) *
                          source->height * source->bytesPerPixel;
    if (bytes > 0 && source->data) std::memcpy(dest->data, source->data, bytes);
  });
}

void ImgCopy(const Qimg* source, Qimg* dest) {
  Errors::Monitored("ImgBasic.ImgCopy", [&] {
    if (source == dest) return;
    ImgCopyDims(source, dest);
    ImgCopyData(source, dest);
    ImgCopyPalette(source, dest);
  });
}

void ImgXchg(Qimg* a, Qimg* b) {
  Errors::Monitored("ImgBasic.ImgXchg", [&] {
    if (a == b) return;
    const bool ta = !a->attached && a->data && Basic::MemIsTracked(a->data);
    const bool tb = !b->attached && b->data && Basic::MemIsTracked(b->data);
    if (ta && tb) {
      Basic::MemXchg(a->data, b->data);
    } else if (ta) {
      Basic::MemSetOwner(a->data, &b->data);
    } else if (tb) {
      Basic::MemSetOwner(b->data, &a->data);
    }
    std::swap(*a, *b);
  });
}

void ImgConvBppEx(Qimg* source, Qimg* dest, int32_t bits, int32_t mode) {
  Errors::Monitored("ImgBasic.ImgConvBppEx", [&] {
    if (!ImgIsValid(source) || !KnownDepth(source->bitsPerPixel) ||
        !KnownDepth(bits)) {
      ErrSet(Errors::kErrImageInvalid, __LINE__);
      return;
    }
    Qimg temp;
    Qimg* target;
    if (source == dest) {
      if (source->bitsPerPixel == bits) Errors::MonAbort();
      _imgalloc_(&temp, source->width, source->height,
                 "ImgBasic.ImgConvBppEx.ih_temp", __LINE__, bits);
      target = &temp;
    } else {
      if (source->bitsPerPixel == bits) {
        ImgCopy(source, dest);
        return;
      }
      _imgalloc_(dest, source->width, source->height,
                 "ImgBasic.ImgConvBppEx.dest", __LINE__, bits);
      target = dest;
    }
    ImgSetDims(target, source->width, source->height, bits);
    if (bits == 8 && source->bitsPerPixel != 8 && mode != kConvGrey) {
      const int32_t dither = mode == kConvPaletteHeavy   ? PalOpt::kDitherHeavy
                             : mode == kConvPaletteLight ? PalOpt::kDitherLight
                                                         : PalOpt::kDitherNone;
      PalOpt::ConvTo8bit(source, target, dither);
    } else {
      ConvertPixels(*source, *target, bits, mode);
    }
    if (source == dest) {
      ImgXchg(&temp, source);
      ImgFree(&temp);
    }
  });
}

void ImgConvBpp(Qimg* source, Qimg* dest, int32_t bits) {
  ImgConvBppEx(source, dest, bits, kConvPalette);
}

void ConvRowTo24(bool swap, int32_t bytesPerInputPixel, int32_t count,
                 uint8_t* output, const uint8_t* input) {
  for (int32_t i = 0; i < count; i++) {
    uint8_t* o = output + static_cast<int64_t>(i) * 3;
    if (bytesPerInputPixel == 3 || bytesPerInputPixel == 4) {
      const uint8_t* p = input + static_cast<int64_t>(i) * bytesPerInputPixel;
      o[0] = swap ? p[2] : p[0];
      o[1] = p[1];
      o[2] = swap ? p[0] : p[2];
    } else if (bytesPerInputPixel == 2) {
      const uint16_t w = Rd16(input + static_cast<int64_t>(i) * 2);
      const uint8_t b = static_cast<uint8_t>((w & 31) * 8);
      const uint8_t g = static_cast<uint8_t>(((w >> 5) & 31) * 8);
      const uint8_t r = static_cast<uint8_t>(((w >> 10) & 31) * 8);
      o[0] = swap ? b : r;
      o[1] = g;
      o[2] = swap ? r : b;
    }
  }
}

void PalMakeGrey(uint8_t* palette) {
  for (int i = 0; i < 256; i++)
    palette[i * 3] = palette[i * 3 + 1] = palette[i * 3 + 2] =
        static_cast<uint8_t>(i);
}

void PalMakeGreyInv(uint8_t* palette) {
  for (int i = 0; i < 256; i++)
    palette[i * 3] = palette[i * 3 + 1] = palette[i * 3 + 2] =
        static_cast<uint8_t>(255 - i);
}

Rgb SplitColorRef(uint32_t colour) {
  return Rgb{static_cast<uint8_t>(colour), static_cast<uint8_t>(colour >> 8),
             static_cast<uint8_t>(colour >> 16)};
}

// ---- operation frame ------------------------------------------------------

namespace {

int DepthIndex(int32_t bits) {
  switch (bits) {
    case 8:
      return 0;
    case 15:
      return 1;
    case 16:
      return 2;
    case 24:
      return 3;
    case 32:
      return 4;
    default:
      return 5;
  }
}

void SetMap(ImgInfoRec* info, int32_t d8, int32_t d15, int32_t d16,
            int32_t d24, int32_t d32, int32_t other) {
  const int32_t map[6] = {d8, d15, d16, d24, d32, other};
  std::copy(map, map + 6, info->depthMap);
}

// Depth map kinds of the table.
void MapKeep8And32(ImgInfoRec* i) { SetMap(i, 8, 24, 24, 24, 32, 24); }
void MapKeep8(ImgInfoRec* i) { SetMap(i, 8, 24, 24, 24, 24, 24); }
void MapAll24(ImgInfoRec* i) { SetMap(i, 24, 24, 24, 24, 24, 24); }
void MapUnchanged(ImgInfoRec* i) { SetMap(i, 8, 15, 16, 24, 32, 0); }

void Params(ImgInfoRec* info, int32_t count, double min, double max,
            double def) {
  info->paramCount = count;
  for (int32_t k = 0; k < count; k++) info->params[k] = ImgParam{min, max, def};
}

}  // namespace

void ImgInitInfo(ImgInfoRec* info) { *info = ImgInfoRec{}; }

void ImgInfo(ImgInfoRec* info, int32_t code) {
  Errors::TraceScope trace("ImgBasic.ImgInfo");
  ImgInitInfo(info);
  info->code = code;
  switch (code) {
    case kOpBrightness:
    case kOpContrast:
      MapKeep8And32(info);
      info->paletteOp = true;
      Params(info, 3, -100, 100, 0);
      break;
    case kOpDeinterlace:
      MapAll24(info);
      break;
    case kOpEdgeEnhance:
    case kOpFindEdges:
    case kOpSharpen:
    case kOpSoften:
    case kOpResample:
      MapAll24(info);
      info->inPlace = false;
      break;
    case kOpFlipH:
    case kOpCrop:
      MapKeep8(info);
      break;
    case kOpFlipV:
      MapUnchanged(info);
      break;
    case kOpGamma:
      MapKeep8(info);
      info->paletteOp = true;
      Params(info, 3, 0.01, 5.0, 1.0);
      break;
    case kOpSaturation:
      MapKeep8(info);
      info->paletteOp = true;
      Params(info, 1, -100, 100, 0);
      break;
    case kOpSwapRB:
      MapUnchanged(info);
      info->paletteOp = true;
      break;
    case kOpWhiteBalance:
      MapKeep8(info);
      info->paletteOp = true;
      Params(info, 3, 0, 255, 255);
      break;
    case kOpSprite:
      MapUnchanged(info);
      info->inPlace = false;
      info->convertDest = true;
      break;
    case kOpResize:
    case kOpRotate:
      MapKeep8(info);
      info->inPlace = false;
      break;
    case kOpInsert:
      MapUnchanged(info);
      info->inPlace = false;
      info->destDepthWins = true;
      break;
    case kOpRemap:
      MapKeep8(info);
      info->paletteOp = true;
      break;
    default:
      break;
  }
}

void ImgInitEx(const ImgInfoRec* info, ImgOpState* work, Qimg* source,
               int32_t newHeight, int32_t newWidth, Qimg* dest) {
  Errors::TraceScope trace("ImgBasic.ImgInitEx");
  *work = ImgOpState{};
  work->newWidth = newWidth;
  work->newHeight = newHeight;
  work->caller = dest;
  if (!info->inPlace && !dest) {
    ErrSet(Errors::kErrImageFunctionInit, __LINE__);
    return;
  }
  if (!dest) dest = source;
  work->caller = dest;
  if (!ImgIsValid(source)) {
    ErrSet(Errors::kErrImageInvalid, __LINE__);
    return;
  }
  int32_t depth = info->depthMap[DepthIndex(source->bitsPerPixel)];
  if (depth == 0) depth = source->bitsPerPixel;
  const bool destValid = dest != source && ImgIsValid(dest);
  if (info->destDepthWins && destValid && dest->bitsPerPixel != depth) {
    if (dest->bitsPerPixel < depth)
      ImgConvBpp(dest, dest, depth);
    else
      depth = dest->bitsPerPixel;
  }
  if (info->convertDest && destValid && dest->bitsPerPixel != depth)
    ImgConvBpp(dest, dest, depth);

  if (depth != source->bitsPerPixel) {
    ImgConvBpp(source, &work->temp, depth);
    work->freeTemp = true;
    work->src = &work->temp;
    work->dest = dest;
  } else if (info->inPlace || source != dest) {
    work->src = source;
    work->dest = dest;
  } else {
    _imgalloc_(&work->temp, newWidth, newHeight, "ImgBasic.ImgInitEx.temp_ih",
               __LINE__, depth);
    work->src = source;
    work->dest = &work->temp;
    work->xchgTemp = true;
    work->freeTemp = true;
    work->xchgWith = source;
  }
  // An attached destination of the right layout is written where it is;
  // reallocating it would drop the pixels a paste draws onto.
  Qimg* wd = work->dest;
  const bool keepAttached = wd->attached && wd->data && wd->width == newWidth &&
                            wd->height == newHeight && wd->bitsPerPixel == depth;
  if (work->src != work->dest && !keepAttached) {
    _imgalloc_(work->dest, newWidth, newHeight, "ImgBasic.ImgInitEx.pdest^",
               __LINE__, depth);
    ImgSetDims(work->dest, newWidth, newHeight, depth);
  }

  Qimg* s = work->src;
  Qimg* d = work->dest;
  work->srcRowLen = static_cast<int64_t>(s->width) * s->bytesPerPixel;
  work->destRowLen = static_cast<int64_t>(d->width) * d->bytesPerPixel;
  work->srcSize = work->srcRowLen * s->height;
  work->destSize = work->destRowLen * d->height;
  work->srcPixels = static_cast<int64_t>(s->width) * s->height;
  work->destPixels = static_cast<int64_t>(d->width) * d->height;
  if (info->paletteOp && s->bitsPerPixel == 8) {
    work->itemCount = 256;
    work->itemBytes = 3;
    work->srcRun = s->palette;
    work->destRun = d->palette;
    work->srcRunLen = work->destRunLen = 768;
    work->copyPixels = true;
  } else {
    work->itemCount = work->srcPixels;
    work->itemBytes = s->bytesPerPixel;
    work->srcRun = s->data;
    work->destRun = d->data;
    work->srcRunLen = work->srcSize;
    work->destRunLen = work->destSize;
    work->copyPalette = s->bitsPerPixel == 8;
  }
}

void ImgInit(const ImgInfoRec* info, ImgOpState* work, Qimg* source,
             Qimg* dest) {
  ImgInitEx(info, work, source, source ? source->height : 0,
            source ? source->width : 0, dest);
}

void ImgDone(ImgOpState* work) {
  Errors::TraceScope trace("ImgBasic.ImgDone");
  Qimg* s = work->src;
  Qimg* d = work->dest;
  if (!s || !d) return;
  if (work->copyPixels) {
    if (s != d && s->data && d->data) {
      const int64_t n = std::min<int64_t>(work->srcSize, work->destSize);
      std::memcpy(d->data, s->data, static_cast<size_t>(n));
    }
  } else if (work->copyPalette && s != d) {
    std::memcpy(d->palette, s->palette, sizeof d->palette);
  }
  if (work->xchgTemp && work->xchgWith) ImgXchg(&work->temp, work->xchgWith);
  if (work->freeTemp) ImgFree(&work->temp);
  if (work->caller) {
    work->caller->width = work->newWidth;
    work->caller->height = work->newHeight;
  }
}

}  // namespace ImgBasic
