#include "platform/ui/Image.h"

#include <gif_lib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

#include <jpeglib.h>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Screen.h"

namespace pf {

namespace {

bool sizeAllowed(long long w, long long h) {
  return w > 0 && h > 0 && w <= kMaxImageSide && h <= kMaxImageSide && w * h <= kMaxImagePixels;
}

cairo_surface_t* newSurface(int w, int h) {
  if (!sizeAllowed(w, h)) return nullptr;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return nullptr;
  }
  return s;
}

// A surface whose pixels are left as the allocator gives them, for callers that write every pixel
// at once (cairo would otherwise clear the whole buffer first, a full extra pass over memory).
cairo_surface_t* surfaceToOverwrite(int w, int h) {
  if (!sizeAllowed(w, h)) return nullptr;
  int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, w);
  auto* pixels = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(stride) * static_cast<std::size_t>(h)));
  if (!pixels) return nullptr;
  cairo_surface_t* s = cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_ARGB32, w, h, stride);
  static const cairo_user_data_key_t kPixels{};
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS ||
      cairo_surface_set_user_data(s, &kPixels, pixels, std::free) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    std::free(pixels);
    return nullptr;
  }
  return s;
}

std::uint32_t premultiply(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
  auto mul = [a](std::uint8_t c) { return static_cast<std::uint32_t>((c * a + 127) / 255); };
  return (static_cast<std::uint32_t>(a) << 24) | (mul(r) << 16) | (mul(g) << 8) | mul(b);
}

// ---- PNG ----

struct Reader {
  const Bytes* data;
  std::size_t pos;
};

cairo_status_t readPng(void* closure, unsigned char* out, unsigned int length) {
  auto* r = static_cast<Reader*>(closure);
  if (r->pos + length > r->data->size()) return CAIRO_STATUS_READ_ERROR;
  std::memcpy(out, r->data->data() + r->pos, length);
  r->pos += length;
  return CAIRO_STATUS_SUCCESS;
}

std::uint32_t be32(const Bytes& d, std::size_t at) {
  return (static_cast<std::uint32_t>(d[at]) << 24) | (d[at + 1] << 16) | (d[at + 2] << 8) | d[at + 3];
}

cairo_surface_t* decodePng(const Bytes& data) {
  // Check the header's size before libpng allocates anything.
  if (data.size() < 33 || std::memcmp(data.data() + 12, "IHDR", 4) != 0) return nullptr;
  if (!sizeAllowed(be32(data, 16), be32(data, 20))) return nullptr;
  Reader r{&data, 0};
  cairo_surface_t* s = cairo_image_surface_create_from_png_stream(readPng, &r);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return nullptr;
  }
  if (cairo_image_surface_get_format(s) != CAIRO_FORMAT_ARGB32) {
    // Opaque images come back as RGB24: copy into ARGB32 so every image has one format.
    cairo_surface_t* argb = newSurface(cairo_image_surface_get_width(s), cairo_image_surface_get_height(s));
    if (argb) {
      cairo_t* cr = cairo_create(argb);
      cairo_set_source_surface(cr, s, 0, 0);
      cairo_paint(cr);
      cairo_destroy(cr);
    }
    cairo_surface_destroy(s);
    return argb;
  }
  return s;
}

// ---- JPEG ----

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

void jpegFail(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }
void jpegQuiet(j_common_ptr, int) {}
void jpegNoOutput(j_common_ptr) {}

cairo_surface_t* decodeJpeg(const Bytes& data) {
  jpeg_decompress_struct info;
  JpegError err;
  cairo_surface_t* volatile surface = nullptr;
  info.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = jpegFail;
  err.mgr.emit_message = jpegQuiet;
  err.mgr.output_message = jpegNoOutput;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&info);
    if (surface) cairo_surface_destroy(surface);
    return nullptr;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data.data(), static_cast<unsigned long>(data.size()));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK || !sizeAllowed(info.image_width, info.image_height)) {
    jpeg_destroy_decompress(&info);
    return nullptr;
  }
  info.out_color_space = JCS_EXT_BGRA;  // cairo's ARGB32 in little-endian memory order
  jpeg_start_decompress(&info);
  surface = newSurface(static_cast<int>(info.output_width), static_cast<int>(info.output_height));
  if (!surface) {
    jpeg_destroy_decompress(&info);
    return nullptr;
  }
  unsigned char* base = cairo_image_surface_get_data(surface);
  int stride = cairo_image_surface_get_stride(surface);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = base + static_cast<std::size_t>(info.output_scanline) * stride;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  // Force opaque alpha (the 4th channel libjpeg fills is 0xFF already on little endian).
  cairo_surface_mark_dirty(surface);
  return surface;
}

// ---- GIF ----

struct GifReader {
  const Bytes* data;
  std::size_t pos;
};

int readGif(GifFileType* gif, GifByteType* out, int length) {
  auto* r = static_cast<GifReader*>(gif->UserData);
  std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(std::max(0, length)), r->data->size() - r->pos);
  std::memcpy(out, r->data->data() + r->pos, n);
  r->pos += n;
  return static_cast<int>(n);
}

cairo_surface_t* surfaceFromCanvas(const std::vector<std::uint32_t>& canvas, int w, int h) {
  cairo_surface_t* s = newSurface(w, h);
  if (!s) return nullptr;
  unsigned char* base = cairo_image_surface_get_data(s);
  int stride = cairo_image_surface_get_stride(s);
  for (int y = 0; y < h; ++y)
    std::memcpy(base + static_cast<std::size_t>(y) * stride, canvas.data() + static_cast<std::size_t>(y) * w,
                static_cast<std::size_t>(w) * 4);
  cairo_surface_mark_dirty(s);
  return s;
}

}  // namespace

GifBudget::GifBudget(long long pixels, double seconds)
    : left_(pixels),
      deadline_(std::chrono::steady_clock::now() +
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                    std::chrono::duration<double>(seconds > 0 ? std::min(seconds, 86400.0) : 0.0))) {}

bool GifBudget::inTime() {
  sinceClock_ = 0;
  if (!spent_ && std::chrono::steady_clock::now() >= deadline_) spent_ = true;
  return !spent_;
}

bool GifBudget::take(long long pixels) {
  if (spent_) return false;
  pixels = std::max(0LL, pixels);
  taken_ += pixels;
  left_ -= pixels;
  if (left_ < 0) spent_ = true;
  // Requests count as a pixel each, so narrow rows read the clock too.
  if ((sinceClock_ += pixels + 1) >= kClockEvery) inTime();
  return !spent_;
}

std::vector<GifFrame> decodeGifFrames(const Bytes& data, int maxFrames) {
  GifBudget budget;
  return decodeGifFrames(data, maxFrames, budget);
}

std::vector<GifFrame> decodeGifFrames(const Bytes& data, int maxFrames, GifBudget& budget) {
  std::vector<GifFrame> frames;
  if (maxFrames <= 0 || data.size() < 13 || std::memcmp(data.data(), "GIF8", 4) != 0) return frames;
  GifReader reader{&data, 0};
  int error = 0;
  GifFileType* gif = DGifOpen(&reader, readGif, &error);
  if (!gif) return frames;
  const int sw = gif->SWidth, sh = gif->SHeight;
  const long long screen = static_cast<long long>(sw) * sh;
  if (!sizeAllowed(sw, sh) || !budget.inTime() || !budget.take(screen)) {
    DGifCloseFile(gif, &error);
    return frames;
  }
  std::vector<std::uint32_t> canvas(static_cast<std::size_t>(screen), 0), saved;
  GraphicsControlBlock gcb{};
  gcb.TransparentColor = NO_TRANSPARENT_COLOR;
  bool haveGcb = false;
  std::vector<GifPixelType> row, visible;
  std::vector<char> coded;
  GifRecordType type;
  while (static_cast<int>(frames.size()) < maxFrames && DGifGetRecordType(gif, &type) == GIF_OK &&
         type != TERMINATE_RECORD_TYPE) {
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* ext = nullptr;
      if (DGifGetExtension(gif, &code, &ext) != GIF_OK) break;
      if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
        DGifExtensionToGCB(ext[0], ext + 1, &gcb);
        haveGcb = true;
      }
      while (ext) {
        if (DGifGetExtensionNext(gif, &ext) != GIF_OK) {
          ext = nullptr;
          type = TERMINATE_RECORD_TYPE;
        }
      }
      if (type == TERMINATE_RECORD_TYPE) break;
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) continue;
    if (DGifGetImageDesc(gif) != GIF_OK) break;
    const GifImageDesc& d = gif->Image;
    ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    if (!map || d.Width <= 0 || d.Height <= 0 || !sizeAllowed(d.Width, d.Height)) break;
    // Only the part of the frame on the screen is kept; rows are decoded one at a time into a
    // row of the frame's width, every one of them paid for.
    const int left = std::clamp(d.Left, 0, sw), top = std::clamp(d.Top, 0, sh);
    const int right = static_cast<int>(std::clamp<long long>(static_cast<long long>(d.Left) + d.Width, left, sw));
    const int bottom = static_cast<int>(std::clamp<long long>(static_cast<long long>(d.Top) + d.Height, top, sh));
    const int vw = right - left, vh = bottom - top;
    if (!budget.inTime() || !budget.take(static_cast<long long>(vw) * vh + d.Width)) break;
    visible.assign(static_cast<std::size_t>(vw) * static_cast<std::size_t>(vh), 0);
    coded.assign(static_cast<std::size_t>(vh), 0);
    row.resize(static_cast<std::size_t>(d.Width));
    int codedRows = 0;
    bool ok = true, overBudget = false;
    auto readRow = [&](int y) {
      if (!budget.take(d.Width)) {
        overBudget = true;
        return false;
      }
      if (DGifGetLine(gif, row.data(), d.Width) != GIF_OK) return false;
      const int vy = d.Top + y - top;
      if (vy >= 0 && vy < vh && !coded[static_cast<std::size_t>(vy)]) {
        if (vw > 0)
          std::memcpy(visible.data() + static_cast<std::size_t>(vy) * vw, row.data() + (left - d.Left),
                      static_cast<std::size_t>(vw));
        coded[static_cast<std::size_t>(vy)] = 1;
        ++codedRows;
      }
      return true;
    };
    // The last frame asked for stops reading once every row it shows is in.
    const bool last = static_cast<int>(frames.size()) + 1 == maxFrames;
    auto shown = [&] { return last && codedRows == vh; };
    if (d.Interlace) {
      static const int offsets[] = {0, 4, 2, 1}, jumps[] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4 && ok && !shown(); ++pass)
        for (int y = offsets[pass]; y < d.Height && ok && !shown(); y += jumps[pass]) ok = readRow(y);
    } else {
      for (int y = 0; y < d.Height && ok && !shown(); ++y) ok = readRow(y);
    }
    if (overBudget) break;
    int disposal = haveGcb ? gcb.DisposalMode : 0;
    if (disposal == DISPOSE_PREVIOUS) {
      if (!budget.take(screen)) break;
      saved = canvas;
    }
    int transparent = haveGcb ? gcb.TransparentColor : NO_TRANSPARENT_COLOR;
    // A truncated frame shows the rows read so far; the rows it does not code leave the canvas
    // as it was.
    for (int vy = 0; vy < vh; ++vy) {
      if (!coded[static_cast<std::size_t>(vy)]) continue;
      for (int vx = 0; vx < vw; ++vx) {
        int idx = visible[static_cast<std::size_t>(vy) * vw + vx];
        if (idx == transparent || idx >= map->ColorCount) continue;
        const GifColorType& c = map->Colors[idx];
        canvas[static_cast<std::size_t>(top + vy) * sw + left + vx] = premultiply(c.Red, c.Green, c.Blue, 255);
      }
    }
    if (!budget.take(screen)) break;
    cairo_surface_t* s = surfaceFromCanvas(canvas, sw, sh);
    if (!s) break;
    frames.push_back({std::make_shared<Image>(s, 1.0), haveGcb ? gcb.DelayTime : 0, disposal});
    if (disposal == DISPOSE_BACKGROUND) {
      for (int y = top; y < bottom; ++y)
        std::fill_n(canvas.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(y) * sw + left), vw, 0u);
    } else if (disposal == DISPOSE_PREVIOUS && !saved.empty()) {
      canvas.swap(saved);
    }
    haveGcb = false;
    gcb = GraphicsControlBlock{};
    gcb.TransparentColor = NO_TRANSPARENT_COLOR;
    if (!ok) break;
  }
  DGifCloseFile(gif, &error);
  return frames;
}

// ---- Image ----

Image::Image(cairo_surface_t* surface, double scale) : surface_(surface), scale_(scale > 0 ? scale : 1) {}
Image::~Image() {
  if (surface_) cairo_surface_destroy(surface_);
}

std::shared_ptr<Image> Image::blank(int w, int h, double scale) {
  cairo_surface_t* s = newSurface(w, h);
  if (!s) return nullptr;
  return std::make_shared<Image>(s, scale);
}

std::shared_ptr<Image> Image::fromData(const Bytes& data, double scale) {
  cairo_surface_t* s = nullptr;
  if (data.size() >= 8 && std::memcmp(data.data(), "\x89PNG\r\n\x1a\n", 8) == 0) {
    s = decodePng(data);
  } else if (data.size() >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) {
    s = decodeJpeg(data);
  } else if (data.size() >= 6 && std::memcmp(data.data(), "GIF8", 4) == 0) {
    auto frames = decodeGifFrames(data, 1);
    if (frames.empty()) return nullptr;
    if (scale != 1) return std::make_shared<Image>(cairo_surface_reference(frames[0].image->surface()), scale);
    return frames[0].image;
  }
  if (!s) return nullptr;
  return std::make_shared<Image>(s, scale);
}

std::shared_ptr<Image> Image::fromFile(const std::filesystem::path& path) {
  std::error_code ec;
  auto size = std::filesystem::file_size(path, ec);
  if (ec || size > 256u * 1024 * 1024) return nullptr;
  std::ifstream in(path, std::ios::binary);
  if (!in) return nullptr;
  Bytes data(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!in) return nullptr;
  std::string stem = path.stem().string();
  double scale = 1;
  if (stem.size() > 3 && stem.compare(stem.size() - 3, 3, "@2x") == 0) scale = 2;
  if (stem.size() > 3 && stem.compare(stem.size() - 3, 3, "@3x") == 0) scale = 3;
  return fromData(data, scale);
}

namespace {
struct NamedImages {
  Mutex mutex;
  std::map<std::string, std::shared_ptr<Image>> images PF_GUARDED_BY(mutex);
  std::vector<std::filesystem::path> dirs PF_GUARDED_BY(mutex);
};
NamedImages& namedImages() {
  static NamedImages n;
  return n;
}
}  // namespace

std::shared_ptr<Image> Image::named(const std::string& name) {
  if (name.empty()) return nullptr;
  auto& n = namedImages();
  std::vector<std::filesystem::path> dirs;
  {
    MutexLock lock(n.mutex);
    auto it = n.images.find(name);
    if (it != n.images.end()) return it->second;
    dirs = n.dirs;
  }
  dirs.push_back(Bundle::main()->bundlePath());
  std::filesystem::path asked(name);
  std::string stem = asked.has_extension() ? asked.stem().string() : name;
  std::vector<std::string> exts = asked.has_extension() ? std::vector<std::string>{asked.extension().string()}
                                                        : std::vector<std::string>{".png", ".jpg", ".gif"};
  for (const auto& dir : dirs) {
    for (const auto& ext : exts) {
      for (const char* suffix : {"@2x", "", "@3x"}) {
        auto p = dir / (stem + suffix + ext);
        std::error_code ec;
        if (!std::filesystem::is_regular_file(p, ec)) continue;
        auto image = fromFile(p);
        if (!image) continue;
        MutexLock lock(n.mutex);
        n.images[name] = image;
        return image;
      }
    }
  }
  return nullptr;
}

void Image::registerNamed(const std::string& name, std::shared_ptr<Image> image) {
  auto& n = namedImages();
  MutexLock lock(n.mutex);
  n.images[name] = std::move(image);
}

void Image::addSearchDirectory(const std::filesystem::path& dir) {
  auto& n = namedImages();
  MutexLock lock(n.mutex);
  n.dirs.push_back(dir);
}

void Image::resetNamed() {
  auto& n = namedImages();
  MutexLock lock(n.mutex);
  n.images.clear();
  n.dirs.clear();
}

int Image::pixelWidth() const { return surface_ ? cairo_image_surface_get_width(surface_) : 0; }
int Image::pixelHeight() const { return surface_ ? cairo_image_surface_get_height(surface_) : 0; }
Size Image::size() const { return {pixelWidth() / scale_, pixelHeight() / scale_}; }

Color Image::pixel(int x, int y) const {
  if (!surface_ || x < 0 || y < 0 || x >= pixelWidth() || y >= pixelHeight()) return Color::clear();
  cairo_surface_flush(surface_);
  const unsigned char* base = cairo_image_surface_get_data(surface_);
  int stride = cairo_image_surface_get_stride(surface_);
  std::uint32_t v;
  std::memcpy(&v, base + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 4, 4);
  double a = ((v >> 24) & 0xFF) / 255.0;
  if (a == 0) return Color::clear();
  return Color::rgb(((v >> 16) & 0xFF) / 255.0 / a, ((v >> 8) & 0xFF) / 255.0 / a, (v & 0xFF) / 255.0 / a, a);
}

namespace {
cairo_status_t writeBytes(void* closure, const unsigned char* data, unsigned int length) {
  return callGuarded("writing a PNG", CAIRO_STATUS_NO_MEMORY, [&] {
    auto* out = static_cast<Bytes*>(closure);
    out->insert(out->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
  });
}
}  // namespace

Bytes Image::pngData() const {
  Bytes out;
  if (surface_) cairo_surface_write_to_png_stream(surface_, writeBytes, &out);
  return out;
}

bool Image::writePNG(const std::filesystem::path& path) const {
  Bytes data = pngData();
  if (data.empty()) return false;
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(f);
}

std::shared_ptr<Image> Image::resized(Size size, double scale) const {
  ImageContext ctx(size, false, scale);
  ctx.context().drawImage(*this, Rect(0, 0, size.width, size.height));
  return ctx.image();
}

// ---- image contexts ----

namespace {
struct BitmapContext {
  cairo_surface_t* surface = nullptr;
  cairo_t* cr = nullptr;
  std::unique_ptr<GraphicsContext> ctx;
  double scale = 1;
};
thread_local std::vector<std::unique_ptr<BitmapContext>> tBitmaps;

void beginBitmap(Size size, bool opaque, double scale, BitmapStart start) {
  if (scale <= 0) scale = Screen::main()->scale();
  auto b = std::make_unique<BitmapContext>();
  int w = static_cast<int>(std::ceil(size.width * scale - 1e-9));
  int h = static_cast<int>(std::ceil(size.height * scale - 1e-9));
  // An empty or refused size still gives a context (of one pixel) so that drawing stays harmless.
  bool undefined = start == BitmapStart::Undefined;
  if (!sizeAllowed(w, h)) {
    w = h = 1;
    undefined = false;
  }
  // An opaque context starts black: its pixels are written once, with no clearing pass before.
  b->surface = opaque || undefined ? surfaceToOverwrite(w, h) : nullptr;
  if (!b->surface) {
    b->surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    undefined = false;
  }
  b->cr = cairo_create(b->surface);
  b->scale = scale;
  if (opaque && !undefined) {
    cairo_set_operator(b->cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgb(b->cr, 0, 0, 0);
    cairo_paint(b->cr);
    cairo_set_operator(b->cr, CAIRO_OPERATOR_OVER);
  }
  cairo_scale(b->cr, scale, scale);
  b->ctx = std::make_unique<GraphicsContext>(b->cr, size, scale);
  pushContext(b->ctx.get());
  tBitmaps.push_back(std::move(b));
}
}  // namespace

void beginImageContext(Size size, bool opaque, double scale) { beginBitmap(size, opaque, scale, BitmapStart::Cleared); }

std::shared_ptr<Image> imageFromCurrentImageContext() {
  if (tBitmaps.empty()) return nullptr;
  auto& b = *tBitmaps.back();
  cairo_surface_flush(b.surface);
  int w = cairo_image_surface_get_width(b.surface), h = cairo_image_surface_get_height(b.surface);
  cairo_surface_t* copy = surfaceToOverwrite(w, h);
  if (!copy) return nullptr;
  cairo_t* cr = cairo_create(copy);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, b.surface, 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  return std::make_shared<Image>(copy, b.scale);
}

void endImageContext() {
  if (tBitmaps.empty()) return;
  popContext();
  auto& b = *tBitmaps.back();
  b.ctx.reset();
  cairo_destroy(b.cr);
  cairo_surface_destroy(b.surface);
  tBitmaps.pop_back();
}

ImageContext::ImageContext(Size size, bool opaque, double scale, BitmapStart start) {
  beginBitmap(size, opaque, scale, start);
}
ImageContext::~ImageContext() {
  if (!ended_) endImageContext();
}

std::shared_ptr<Image> ImageContext::takeImage() {
  if (ended_ || tBitmaps.empty()) return nullptr;
  auto& b = *tBitmaps.back();
  popContext();
  b.ctx.reset();
  cairo_destroy(b.cr);
  cairo_surface_flush(b.surface);
  auto image = std::make_shared<Image>(b.surface, b.scale);  // the image owns the surface now
  tBitmaps.pop_back();
  ended_ = true;
  return image;
}
GraphicsContext& ImageContext::context() { return *tBitmaps.back()->ctx; }
std::shared_ptr<Image> ImageContext::image() const { return imageFromCurrentImageContext(); }

}  // namespace pf
