#include "platform/Wexel.h"

#include <cctype>
#include <climits>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// libjpeg's headers need FILE and size_t first.
#include <jpeglib.h>
#include <jerror.h>

#include <X11/xpm.h>

namespace {

// ---- messages ---------------------------------------------------------------

WexelMsgProc g_error = nullptr;
WexelMsgProc g_warning = nullptr;

void Report(WexelMsgProc proc, const char* message) {
  if (proc && message) proc(message);
}

void FormatTiff(WexelMsgProc proc, const char* module, const char* format,
                va_list args) {
  char text[1024];
  int used = 0;
  if (module && *module) {
    used = std::snprintf(text, sizeof text, "%s: ", module);
    if (used < 0 || used >= static_cast<int>(sizeof text)) used = 0;
  }
  std::vsnprintf(text + used, sizeof text - used, format, args);
  Report(proc, text);
}

void TiffError(const char* module, const char* format, va_list args) {
  FormatTiff(g_error, module, format, args);
}

void TiffWarning(const char* module, const char* format, va_list args) {
  FormatTiff(g_warning, module, format, args);
}

void HookTiff() {
  static bool hooked = false;
  if (hooked) return;
  TIFFSetErrorHandler(TiffError);
  TIFFSetWarningHandler(TiffWarning);
  hooked = true;
}

// ---- JPEG -------------------------------------------------------------------

struct JpegError {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  bool endOfFile;  // the data stopped before the picture was complete
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
  char text[JMSG_LENGTH_MAX];
  cinfo->err->format_message(cinfo, text);
  Report(g_error, text);
  std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

void JpegEmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace output
  auto* err = reinterpret_cast<JpegError*>(cinfo->err);
  if (err->pub.msg_code == JWRN_JPEG_EOF) {
    err->endOfFile = true;
  } else if (err->pub.num_warnings == 0) {
    // Damaged data repeats its warning for every block; the first tells it.
    char text[JMSG_LENGTH_MAX];
    cinfo->err->format_message(cinfo, text);
    Report(g_warning, text);
  }
  err->pub.num_warnings++;
}

void JpegInitError(JpegError& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = JpegErrorExit;
  err.pub.emit_message = JpegEmitMessage;
  err.endOfFile = false;
}

struct JpegRead {
  JpegError err;
  jpeg_decompress_struct cinfo;
  bool created = false;
  FILE* file = nullptr;
  uint8_t* pixels = nullptr;  // none: header only
  int64_t capacity = 0;
  uint8_t* inkRow = nullptr;  // one CMYK row
  int32_t width = 0, height = 0, components = 0;
  bool tooLarge = false;
};

// Ink to light. Adobe's writers store CMYK inverted (0 = full ink).
void InkRowToBgr(const uint8_t* ink, uint8_t* out, int64_t count,
                 bool inverted) {
  for (int64_t i = 0; i < count; i++) {
    int c = ink[i * 4], m = ink[i * 4 + 1], y = ink[i * 4 + 2],
        k = ink[i * 4 + 3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    out[i * 3 + 0] = static_cast<uint8_t>((y * k + 127) / 255);
    out[i * 3 + 1] = static_cast<uint8_t>((m * k + 127) / 255);
    out[i * 3 + 2] = static_cast<uint8_t>((c * k + 127) / 255);
  }
}

// The steps that libjpeg may leave by its error exit; everything they
// change lives in *r, outside the frame that holds the jump point.
void JpegReadSteps(JpegRead* r) {
  jpeg_create_decompress(&r->cinfo);
  r->created = true;
  jpeg_stdio_src(&r->cinfo, r->file);
  jpeg_read_header(&r->cinfo, TRUE);
  const J_COLOR_SPACE space = r->cinfo.jpeg_color_space;
  const bool ink = space == JCS_CMYK || space == JCS_YCCK;
  r->components = space == JCS_GRAYSCALE ? 1 : 3;
  r->width = static_cast<int32_t>(r->cinfo.image_width);
  r->height = static_cast<int32_t>(r->cinfo.image_height);
  if (!r->pixels) return;

  r->cinfo.out_color_space = space == JCS_GRAYSCALE ? JCS_GRAYSCALE
                             : ink                  ? JCS_CMYK
                                                    : JCS_EXT_BGR;
  jpeg_start_decompress(&r->cinfo);
  const int64_t rowBytes =
      static_cast<int64_t>(r->cinfo.output_width) * r->components;
  if (rowBytes * r->cinfo.output_height > r->capacity) {
    r->tooLarge = true;
    return;
  }
  if (ink) {
    r->inkRow = static_cast<uint8_t*>(
        std::malloc(static_cast<size_t>(r->cinfo.output_width) * 4));
    if (!r->inkRow) ERREXIT1(&r->cinfo, JERR_OUT_OF_MEMORY, 0);
  }
  while (r->cinfo.output_scanline < r->cinfo.output_height) {
    uint8_t* dest = r->pixels + rowBytes * r->cinfo.output_scanline;
    JSAMPROW row = ink ? r->inkRow : dest;
    if (jpeg_read_scanlines(&r->cinfo, &row, 1) != 1) break;
    if (ink)
      InkRowToBgr(r->inkRow, dest, r->cinfo.output_width,
                  r->cinfo.saw_Adobe_marker);
  }
  jpeg_finish_decompress(&r->cinfo);
}

bool JpegReadGuarded(JpegRead* r) {
  if (setjmp(r->err.jump)) return false;
  JpegReadSteps(r);
  return true;
}

int32_t JpegRead_(const char* fileName, JpegRead* r) {
  r->file = fileName ? std::fopen(fileName, "rb") : nullptr;
  if (!r->file) return -1;  // the caller knows what an unopened file means
  JpegInitError(r->err);
  r->cinfo.err = &r->err.pub;
  bool ok = JpegReadGuarded(r);
  if (ok && r->tooLarge) {
    Report(g_error, "The JPEG picture does not fit its buffer");
    ok = false;
  }
  if (ok && r->pixels && r->err.endOfFile) {
    Report(g_error, "Premature end of JPEG file");
    ok = false;
  }
  if (r->created) jpeg_destroy_decompress(&r->cinfo);
  std::free(r->inkRow);
  std::fclose(r->file);
  return ok ? 0 : -1;
}

// Reads the header (no pixels) or the whole picture, and hands out its size.
int32_t JpegReadInto(const char* fileName, uint8_t* pixels, int64_t capacity,
                     int32_t* width, int32_t* height, int32_t* components) {
  JpegRead r;
  r.pixels = pixels;
  r.capacity = capacity;
  const int32_t rc = JpegRead_(fileName, &r);
  if (rc == 0) {
    *width = r.width;
    *height = r.height;
    *components = r.components;
  }
  return rc;
}

struct JpegWrite {
  JpegError err;
  jpeg_compress_struct cinfo;
  bool created = false;
  FILE* file = nullptr;
  const uint8_t* pixels = nullptr;
  int32_t width = 0, height = 0, quality = 0;
};

void JpegWriteSteps(JpegWrite* w) {
  jpeg_create_compress(&w->cinfo);
  w->created = true;
  jpeg_stdio_dest(&w->cinfo, w->file);
  w->cinfo.image_width = static_cast<JDIMENSION>(w->width);
  w->cinfo.image_height = static_cast<JDIMENSION>(w->height);
  w->cinfo.input_components = 3;
  w->cinfo.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&w->cinfo);
  jpeg_set_quality(&w->cinfo, w->quality, TRUE);
  if (w->quality >= 90) {
    // At high qualities the colour detail is kept at full resolution too.
    for (int c = 0; c < w->cinfo.num_components; c++)
      w->cinfo.comp_info[c].h_samp_factor = w->cinfo.comp_info[c].v_samp_factor = 1;
  }
  jpeg_start_compress(&w->cinfo, TRUE);
  const int64_t rowBytes = static_cast<int64_t>(w->width) * 3;
  while (w->cinfo.next_scanline < w->cinfo.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(w->pixels) +
                   rowBytes * w->cinfo.next_scanline;
    jpeg_write_scanlines(&w->cinfo, &row, 1);
  }
  jpeg_finish_compress(&w->cinfo);
}

bool JpegWriteGuarded(JpegWrite* w) {
  if (setjmp(w->err.jump)) return false;
  JpegWriteSteps(w);
  return true;
}

// ---- XPM --------------------------------------------------------------------

struct Rgb8 {
  uint8_t r, g, b;
};

std::string ColourKey(const char* name) {
  std::string key;
  for (const char* p = name; *p; p++) {
    if (*p == ' ' || *p == '\t') continue;
    key += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  }
  return key;
}

// The X colour names, from the system's colour database.
const std::unordered_map<std::string, Rgb8>& ColourNames() {
  static const std::unordered_map<std::string, Rgb8> names = [] {
    std::unordered_map<std::string, Rgb8> table;
    for (const char* path : {"/usr/share/X11/rgb.txt", "/etc/X11/rgb.txt"}) {
      FILE* f = std::fopen(path, "r");
      if (!f) continue;
      char line[256];
      while (std::fgets(line, sizeof line, f)) {
        int r, g, b, used = 0;
        if (line[0] == '!' ||
            std::sscanf(line, "%d %d %d %n", &r, &g, &b, &used) != 3)
          continue;
        char* name = line + used;
        name[std::strcspn(name, "\r\n")] = 0;
        if (*name)
          table.emplace(ColourKey(name),
                        Rgb8{static_cast<uint8_t>(r), static_cast<uint8_t>(g),
                             static_cast<uint8_t>(b)});
      }
      std::fclose(f);
      break;
    }
    return table;
  }();
  return names;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A colour of an XPM colour table: "None", "#" with 1 to 4 hex digits per
// component (the given digits are the most significant ones), or a name.
bool ParseColour(const char* name, Rgb8& out) {
  out = Rgb8{0, 0, 0};
  if (!name) return false;
  std::string key = ColourKey(name);
  if (key == "none") return true;
  if (!key.empty() && key[0] == '#') {
    const size_t n = key.size() - 1;
    if (n == 0 || n % 3 != 0 || n > 12) return false;
    const size_t d = n / 3;
    uint8_t parts[3];
    for (int k = 0; k < 3; k++) {
      uint32_t v = 0;
      for (size_t i = 0; i < d; i++) {
        const int h = HexDigit(key[1 + k * d + i]);
        if (h < 0) return false;
        v = v * 16 + static_cast<uint32_t>(h);
      }
      // Scale to 16 bits by the digits given, keep the high byte.
      v <<= 4 * (4 - d);
      parts[k] = static_cast<uint8_t>(v >> 8);
    }
    out = Rgb8{parts[0], parts[1], parts[2]};
    return true;
  }
  const auto& names = ColourNames();
  auto it = names.find(key);
  if (it == names.end()) return false;
  out = it->second;
  return true;
}

const char* ColourSpec(const XpmColor& c) {
  if (c.c_color) return c.c_color;
  if (c.g_color) return c.g_color;
  if (c.g4_color) return c.g4_color;
  if (c.m_color) return c.m_color;
  return nullptr;
}

// Reads a whole file into a zero-terminated block (free with std::free);
// length receives the bytes read.
char* ReadWholeFile(const char* fileName, size_t* length) {
  FILE* f = fileName ? std::fopen(fileName, "rb") : nullptr;
  if (!f) return nullptr;
  char* data = nullptr;
  size_t used = 0, size = 0;
  bool ok = true;
  for (;;) {
    if (used + 65536 + 1 > size) {
      size = (size + 65536) * 2;
      char* grown = static_cast<char*>(std::realloc(data, size));
      if (!grown) {
        ok = false;
        break;
      }
      data = grown;
    }
    const size_t n = std::fread(data + used, 1, size - used - 1, f);
    used += n;
    if (n == 0) {
      ok = !std::ferror(f);
      break;
    }
  }
  std::fclose(f);
  if (!ok) {
    std::free(data);
    return nullptr;
  }
  data[used] = 0;
  *length = used;
  return data;
}

// Walks an XPM text the way libXpm's buffer reader does (header words,
// string and comment delimiters of the file's type, raw pixel characters,
// words up to the end of a string), so the checks below see the values and
// colour lines libXpm will parse, however malformed the text is. It never
// moves past the text's terminating zero.
class XpmWalker {
 public:
  explicit XpmWalker(const char* text) : p_(text) {}

  // The header and the values: false when libXpm would refuse the header
  // or the values, or for an XPM 1 file (whose colours carry no keys).
  bool Values(unsigned long& width, unsigned long& height,
              unsigned long& colours, unsigned long& cpp) {
    bos_ = 0;
    eos_ = '\n';
    if (Word() == "#define") return false;
    const std::string second = Word();
    int type = 1;  // C
    if (second == "XPM2") {
      const std::string t = Word();
      type = t.empty() ? 0 : t == "C" ? 1 : t == "Lisp" ? 2 : -1;
    } else if (second != "XPM") {
      return false;
    }
    if (type < 0) return false;
    if (type == 0) {
      bcmt_ = "!";
      ecmt_ = "\n";
      NextString();
      bos_ = 0;
      eos_ = '\n';
    } else {
      bcmt_ = type == 1 ? "/*" : ";";
      ecmt_ = type == 1 ? "*/" : "\n";
      bos_ = '"';
      eos_ = 0;
      NextString();
      eos_ = '"';
    }
    return Number(width) && Number(height) && Number(colours) && Number(cpp);
  }

  // The next colour line: its pixel characters, then its words.
  std::vector<std::string> ColourLine(unsigned long cpp) {
    NextString();
    for (unsigned long b = 0; b < cpp && *p_; b++) p_++;
    std::vector<std::string> words;
    for (std::string w = Word(); !w.empty(); w = Word()) words.push_back(w);
    return words;
  }

 private:
  std::string Word() {
    while (*p_ && std::isspace(static_cast<unsigned char>(*p_)) && *p_ != eos_) p_++;
    const char* start = p_;
    while (*p_ && !std::isspace(static_cast<unsigned char>(*p_)) && *p_ != eos_ &&
           p_ - start < BUFSIZ)
      p_++;
    return std::string(start, p_);
  }

  bool Number(unsigned long& value) {
    const std::string w = Word();
    if (w.empty() || w.find_first_not_of("0123456789") != std::string::npos)
      return false;
    // Saturates: a number past any size is as implausible as the largest.
    value = 0;
    for (char c : w)
      value = value > (ULONG_MAX - 9) / 10 ? ULONG_MAX
                                           : value * 10 + static_cast<unsigned long>(c - '0');
    return true;
  }

  // To the end of the current string, then to the start of the next one,
  // stepping over comments on the way.
  void NextString() {
    if (eos_)
      while (*p_ && *p_++ != eos_) {
      }
    if (bos_) {
      while (*p_) {
        const char c = *p_++;
        if (c == bos_) break;
        if (bcmt_ && c == bcmt_[0]) Comment();
      }
    } else if (bcmt_) {
      while (*p_ && *p_ == bcmt_[0]) {
        p_++;
        Comment();
      }
    }
  }

  // Just past the first character of the comment opening: a comment runs
  // from the end of its opening to its closing.
  void Comment() {
    const size_t open = std::strlen(bcmt_);
    if (std::strncmp(p_, bcmt_ + 1, open - 1) != 0) return;  // no comment
    const char* from = p_ + open - 1;
    const char* end = std::strstr(from, ecmt_);
    p_ = end ? end + std::strlen(ecmt_) : from + std::strlen(from);
  }

  const char* p_;
  char bos_ = 0, eos_ = 0;
  const char* bcmt_ = nullptr;
  const char* ecmt_ = nullptr;
};

// The values line promises what libXpm will allocate before it reads the
// rows. A file cannot hold more pixels or colours than it has characters,
// so promises beyond that are refused before libXpm sizes its tables.
bool XpmSizesPlausible(const char* text, size_t length) {
  XpmWalker walker(text);
  unsigned long width = 0, height = 0, colours = 0, cpp = 0;
  if (!walker.Values(width, height, colours, cpp)) return true;
  const unsigned long long chars = static_cast<unsigned long long>(width) *
                                   height * (cpp ? cpp : 1);
  return cpp <= 64 && colours <= length && width <= length &&
         height <= length && chars <= length;
}

// libXpm reads the words of a colour line as key and value pairs; a key the
// line gives twice makes it drop the first value without freeing it. Such a
// line is malformed, so it is refused before libXpm reads it. The words
// follow libXpm's reading: a word right after a key is a value.
bool XpmColourKeysOnce(const char* text) {
  XpmWalker walker(text);
  unsigned long width = 0, height = 0, colours = 0, cpp = 0;
  if (!walker.Values(width, height, colours, cpp)) return true;
  static const char* const keys[] = {"s", "m", "g4", "g", "c"};
  for (unsigned long n = 0; n < colours; n++) {
    bool seen[5] = {}, lastWasKey = false;
    for (const std::string& word : walker.ColourLine(cpp)) {
      int key = -1;
      if (!lastWasKey)
        for (int k = 0; k < 5; k++)
          if (word == keys[k]) key = k;
      if (key >= 0) {
        if (seen[key]) return false;
        seen[key] = true;
        lastWasKey = true;
      } else {
        lastWasKey = false;
      }
    }
  }
  return true;
}

int32_t ReadXpm_(const char* fileName, XpmImageDesc* desc, XpmImage& image) {
  size_t length = 0;
  char* text = ReadWholeFile(fileName, &length);
  if (!text) return XpmOpenFailed;
  // An XPM file is text: libXpm does not stop at a zero byte everywhere the
  // checks here would, so a file holding one is refused.
  if (std::strlen(text) != length || !XpmSizesPlausible(text, length) ||
      !XpmColourKeysOnce(text)) {
    std::free(text);
    Report(g_error, XpmGetErrorString(XpmFileInvalid));
    return XpmFileInvalid;
  }
  int rc = XpmCreateXpmImageFromBuffer(text, &image, nullptr);
  std::free(text);
  if (rc != XpmSuccess) {
    Report(g_error, XpmGetErrorString(rc));
    return rc;
  }
  if (image.width < 1 || image.height < 1 || image.width > INT32_MAX ||
      image.height > INT32_MAX) {
    Report(g_error, XpmGetErrorString(XpmFileInvalid));
    return XpmFileInvalid;
  }
  if (!desc->pixels) {
    desc->width = static_cast<int32_t>(image.width);
    desc->height = static_cast<int32_t>(image.height);
    return 0;
  }
  if (static_cast<unsigned>(desc->width) != image.width ||
      static_cast<unsigned>(desc->height) != image.height) {
    Report(g_error, "The XPM picture does not fit its buffer");
    return XpmFileInvalid;
  }
  std::unique_ptr<Rgb8[]> colours(new Rgb8[image.ncolors ? image.ncolors : 1]);
  for (unsigned i = 0; i < image.ncolors; i++) {
    const char* name = ColourSpec(image.colorTable[i]);
    if (!ParseColour(name, colours[i])) {
      const std::string text =
          std::string("Unknown XPM colour, black used: ") + (name ? name : "");
      Report(g_warning, text.c_str());
    }
  }
  const int64_t count = static_cast<int64_t>(image.width) * image.height;
  for (int64_t i = 0; i < count; i++) {
    const unsigned index = image.data[i];
    const Rgb8 c = index < image.ncolors ? colours[index] : Rgb8{0, 0, 0};
    uint8_t* o = desc->pixels + i * 3;
    o[0] = c.b;
    o[1] = c.g;
    o[2] = c.r;
  }
  return 0;
}

// Characters that may stand for a colour inside the pixel strings.
constexpr char kXpmChars[] =
    ".#abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
    "+@$%&*=-;:>,<!~^/()_`'][{}|";
constexpr unsigned kXpmCharCount = sizeof kXpmChars - 1;

int32_t WriteXpm_(const char* fileName, const XpmImageDesc* desc) {
  if (!fileName || !desc || !desc->pixels || desc->width < 1 ||
      desc->height < 1) {
    Report(g_error, XpmGetErrorString(XpmFileInvalid));
    return XpmFileInvalid;
  }
  const int64_t count = static_cast<int64_t>(desc->width) * desc->height;
  std::unordered_map<uint32_t, unsigned> index;
  std::unique_ptr<unsigned[]> data(new unsigned[count]);
  std::vector<uint32_t> order;
  for (int64_t i = 0; i < count; i++) {
    const uint8_t* p = desc->pixels + i * 3;
    const uint32_t key = p[2] << 16 | p[1] << 8 | p[0];
    auto [it, added] = index.emplace(key, static_cast<unsigned>(order.size()));
    if (added) order.push_back(key);
    data[i] = it->second;
  }
  unsigned cpp = 1;
  for (uint64_t span = kXpmCharCount; span < order.size(); span *= kXpmCharCount)
    cpp++;
  std::vector<std::string> codes(order.size()), specs(order.size());
  std::vector<XpmColor> table(order.size());
  for (size_t k = 0; k < order.size(); k++) {
    size_t v = k;
    for (unsigned c = 0; c < cpp; c++) {
      codes[k] += kXpmChars[v % kXpmCharCount];
      v /= kXpmCharCount;
    }
    char name[8];
    std::snprintf(name, sizeof name, "#%06X", order[k]);
    specs[k] = name;
    table[k] = XpmColor{};
    table[k].string = codes[k].data();
    table[k].c_color = specs[k].data();
  }
  XpmImage image{};
  image.width = static_cast<unsigned>(desc->width);
  image.height = static_cast<unsigned>(desc->height);
  image.cpp = cpp;
  image.ncolors = static_cast<unsigned>(order.size());
  image.colorTable = table.data();
  image.data = data.get();
  const int rc = XpmWriteFileFromXpmImage(fileName, &image, nullptr);
  if (rc == XpmSuccess) return 0;
  std::remove(fileName);
  // An unopened file means what the caller makes of it; others are told.
  if (rc != XpmOpenFailed) Report(g_error, XpmGetErrorString(rc));
  return rc;
}

// ---- PNG --------------------------------------------------------------------

// What the layer keeps beside a libpng structure: the caller's callbacks.
struct PngHooks {
  png_voidp errorPtr;
  png_error_ptr error;
  png_error_ptr warning;
};

// libpng's error function must not return: hand the message over, then
// unwind to the jump point of the layer's call in progress.
[[noreturn]] void PngError(png_structp png, png_const_charp message) {
  auto* hooks = static_cast<PngHooks*>(png_get_error_ptr(png));
  if (hooks && hooks->error) hooks->error(png, message);
  png_longjmp(png, 1);
}

void PngWarning(png_structp png, png_const_charp message) {
  auto* hooks = static_cast<PngHooks*>(png_get_error_ptr(png));
  if (hooks && hooks->warning) hooks->warning(png, message);
}

PngHooks* NewHooks(png_voidp errorPtr, png_error_ptr errorFn,
                   png_error_ptr warningFn) {
  auto* hooks = static_cast<PngHooks*>(std::malloc(sizeof(PngHooks)));
  if (hooks) *hooks = PngHooks{errorPtr, errorFn, warningFn};
  return hooks;
}

// A read or write structure whose messages go through the hooks.
template <class Create>
png_structp CreateWithHooks(Create create, const char* version,
                            PngHooks* hooks) {
  if (!hooks) return nullptr;
  png_structp png = create(version, hooks, PngError, PngWarning);
  if (!png) std::free(hooks);
  return png;
}

}  // namespace

void ExternErrorSet(WexelMsgProc proc) {
  g_error = proc;
  HookTiff();
}

void ExternWarningSet(WexelMsgProc proc) {
  g_warning = proc;
  HookTiff();
}

int32_t info_JPEG_file(const char* fileName, int32_t* width, int32_t* height,
                       int32_t* components) {
  return JpegReadInto(fileName, nullptr, 0, width, height, components);
}

int32_t read_JPEG_file(const char* fileName, uint8_t* pixels, int64_t capacity,
                       int32_t* width, int32_t* height, int32_t* components) {
  if (!pixels) {
    Report(g_error, "No buffer for the JPEG picture");
    return -1;
  }
  return JpegReadInto(fileName, pixels, capacity, width, height, components);
}

int32_t write_JPEG_file(const char* fileName, const uint8_t* pixels,
                        int32_t width, int32_t height, int32_t quality) {
  if (!pixels || width < 1 || height < 1) {
    Report(g_error, "No picture to write as JPEG");
    return -1;
  }
  JpegWrite w;
  w.file = fileName ? std::fopen(fileName, "wb") : nullptr;
  if (!w.file) return -1;
  w.pixels = pixels;
  w.width = width;
  w.height = height;
  w.quality = quality < 0 ? 0 : quality > 100 ? 100 : quality;
  JpegInitError(w.err);
  w.cinfo.err = &w.err.pub;
  bool ok = JpegWriteGuarded(&w);
  if (w.created) jpeg_destroy_compress(&w.cinfo);
  if (std::fclose(w.file) != 0 && ok) {
    Report(g_error, "Cannot write the JPEG file");
    ok = false;
  }
  if (!ok) std::remove(fileName);
  return ok ? 0 : -1;
}

int32_t ReadXpm(const char* fileName, XpmImageDesc* desc) {
  if (!desc) return XpmFileInvalid;
  XpmImage image{};
  int32_t rc;
  try {
    rc = ReadXpm_(fileName, desc, image);
  } catch (...) {
    Report(g_error, XpmGetErrorString(XpmNoMemory));
    rc = XpmNoMemory;
  }
  XpmFreeXpmImage(&image);
  return rc;
}

int32_t WriteXpm(const char* fileName, const XpmImageDesc* desc) {
  try {
    return WriteXpm_(fileName, desc);
  } catch (...) {
    Report(g_error, XpmGetErrorString(XpmNoMemory));
    return XpmNoMemory;
  }
}

namespace Wexel {

png_structp png_create_read_struct(const char* version, png_voidp errorPtr,
                                   png_error_ptr errorFn,
                                   png_error_ptr warningFn) {
  return CreateWithHooks(::png_create_read_struct, version,
                         NewHooks(errorPtr, errorFn, warningFn));
}

png_structp png_create_write_struct(const char* version, png_voidp errorPtr,
                                    png_error_ptr errorFn,
                                    png_error_ptr warningFn) {
  return CreateWithHooks(::png_create_write_struct, version,
                         NewHooks(errorPtr, errorFn, warningFn));
}

png_infop png_create_info_struct(png_structp png) {
  if (!png) return nullptr;
  return ::png_create_info_struct(png);
}

void png_destroy_read_struct(png_structpp png, png_infopp info) {
  if (!png || !*png) return;
  void* hooks = png_get_error_ptr(*png);
  ::png_destroy_read_struct(png, info, nullptr);
  std::free(hooks);
}

void png_destroy_write_struct(png_structpp png, png_infopp info) {
  if (!png || !*png) return;
  void* hooks = png_get_error_ptr(*png);
  ::png_destroy_write_struct(png, info);
  std::free(hooks);
}

// Each wrapper holds nothing but the jump point and one libpng call, so the
// unwinding skips no object that needs destroying.
#define WEXEL_PNG_GUARDED(png, call)            \
  do {                                          \
    if (!(png)) return false;                   \
    if (setjmp(png_jmpbuf(png))) return false;  \
    call;                                       \
    return true;                                \
  } while (0)

bool png_read_info(png_structp png, png_infop info) {
  WEXEL_PNG_GUARDED(png, ::png_read_info(png, info));
}
bool png_set_strip_16(png_structp png) {
  WEXEL_PNG_GUARDED(png, ::png_set_strip_16(png));
}
bool png_set_packing(png_structp png) {
  WEXEL_PNG_GUARDED(png, ::png_set_packing(png));
}
bool png_set_bgr(png_structp png) {
  WEXEL_PNG_GUARDED(png, ::png_set_bgr(png));
}
bool png_set_gray_to_rgb(png_structp png) {
  WEXEL_PNG_GUARDED(png, ::png_set_gray_to_rgb(png));
}
bool png_set_interlace_handling(png_structp png) {
  WEXEL_PNG_GUARDED(png, ::png_set_interlace_handling(png));
}
bool png_read_update_info(png_structp png, png_infop info) {
  WEXEL_PNG_GUARDED(png, ::png_read_update_info(png, info));
}
bool png_read_image(png_structp png, png_bytepp rows) {
  WEXEL_PNG_GUARDED(png, ::png_read_image(png, rows));
}
bool png_read_end(png_structp png, png_infop info) {
  WEXEL_PNG_GUARDED(png, ::png_read_end(png, info));
}
bool png_set_IHDR(png_structp png, png_infop info, png_uint_32 width,
                  png_uint_32 height, int bitDepth, int colourType,
                  int interlace, int compression, int filter) {
  WEXEL_PNG_GUARDED(png, ::png_set_IHDR(png, info, width, height, bitDepth,
                                        colourType, interlace, compression,
                                        filter));
}
bool png_set_PLTE(png_structp png, png_infop info, png_const_colorp palette,
                  int count) {
  WEXEL_PNG_GUARDED(png, ::png_set_PLTE(png, info, palette, count));
}
bool png_write_info(png_structp png, png_infop info) {
  WEXEL_PNG_GUARDED(png, ::png_write_info(png, info));
}
bool png_set_compression_level(png_structp png, int level) {
  WEXEL_PNG_GUARDED(png, ::png_set_compression_level(png, level));
}
bool png_set_filler_strip(png_structp png) {
  WEXEL_PNG_GUARDED(png, ::png_set_filler(png, 0, PNG_FILLER_AFTER));
}
bool png_write_image(png_structp png, png_bytepp rows) {
  WEXEL_PNG_GUARDED(png, ::png_write_image(png, rows));
}
bool png_write_end(png_structp png, png_infop info) {
  WEXEL_PNG_GUARDED(png, ::png_write_end(png, info));
}

#undef WEXEL_PNG_GUARDED

}  // namespace Wexel
