#pragma once
// Images: premultiplied ARGB bitmaps with a scale (pixels per point). Decoded from PNG (cairo),
// JPEG (libjpeg-turbo) and GIF (giflib, frames composed on the logical screen); encoded as PNG.
// Image contexts draw into a new bitmap and hand it back as an image.
//
// Every decoder is bounded: images over kMaxImagePixels pixels or kMaxImageSide on a side,
// and GIFs over kMaxGifFrames frames, are refused (nullptr) rather than allocated.

#include <cairo.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"

namespace pf {

class GraphicsContext;

inline constexpr int kMaxImageSide = 16384;
inline constexpr long long kMaxImagePixels = 40LL * 1000 * 1000;
inline constexpr int kMaxGifFrames = 1000;
// What decoding one GIF may cost: pixels allocated or decoded (screens, the visible parts of
// frames, every decoded row, every full-screen frame kept) and seconds of real time (work takes
// real time whatever the clock of the process says: a virtual clock stands still meanwhile).
inline constexpr long long kMaxGifPixels = kMaxImagePixels * 4;
inline constexpr double kMaxGifSeconds = 2;

class Image {
 public:
  // Takes ownership of an ARGB32 image surface.
  Image(cairo_surface_t* surface, double scale);
  ~Image();
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  // A transparent image of the given pixel size (nullptr when the size is refused).
  static std::shared_ptr<Image> blank(int pixelWidth, int pixelHeight, double scale = 1);
  // PNG, JPEG or GIF (its first frame on the logical screen); nullptr for anything else.
  static std::shared_ptr<Image> fromData(const Bytes& data, double scale = 1);
  // A file; a name ending in "@2x" or "@3x" before the extension gives that scale.
  static std::shared_ptr<Image> fromFile(const std::filesystem::path& path);

  // Images by name: registered images first, then files in the search directories and then in the
  // main bundle's folder ("name@2x.png", "name.png", "name.jpg", also when the name carries its
  // extension). A found file is kept under its name.
  static std::shared_ptr<Image> named(const std::string& name);
  static void registerNamed(const std::string& name, std::shared_ptr<Image> image);
  static void addSearchDirectory(const std::filesystem::path& dir);
  static void resetNamed();  // tests

  Size size() const;  // in points
  double scale() const { return scale_; }
  int pixelWidth() const;
  int pixelHeight() const;
  cairo_surface_t* surface() const { return surface_; }

  // The un-premultiplied colour of one pixel (clear outside the image).
  Color pixel(int x, int y) const;
  // The pixel under a point (in points).
  Color colorAt(Point p) const { return pixel(static_cast<int>(p.x * scale_), static_cast<int>(p.y * scale_)); }

  Bytes pngData() const;
  bool writePNG(const std::filesystem::path& path) const;

  // A new image of the given size in points, the image stretched into it.
  std::shared_ptr<Image> resized(Size size, double scale) const;

 private:
  cairo_surface_t* surface_;
  double scale_;
};

// GIF frames composed on the logical screen (disposal, transparency and interlacing applied).
struct GifFrame {
  std::shared_ptr<Image> image;
  int delayCentiseconds = 0;
  int disposal = 0;
};
// One budget of GIF decoding, shared by every decode it is handed to.
class GifBudget {
 public:
  explicit GifBudget(long long pixels = kMaxGifPixels, double seconds = kMaxGifSeconds);
  // Takes pixels of work; false, now and from then on, once the pixels or the time are spent (the
  // clock is read every kClockEvery pixels).
  bool take(long long pixels);
  // Reads the clock: false, now and from then on, once the time is spent.
  bool inTime();
  bool spent() const { return spent_; }
  // The pixels taken so far (including a refused request's).
  long long pixelsTaken() const { return taken_; }

 private:
  static constexpr long long kClockEvery = 1 << 16;
  long long left_;
  long long taken_ = 0;
  long long sinceClock_ = 0;
  std::chrono::steady_clock::time_point deadline_;
  bool spent_ = false;
};

// Every frame (at most maxFrames, and no more than the budget allows); an empty list when the data
// is not a readable GIF. Only the part of a frame on the logical screen is kept, and rows that the
// data does not code leave the canvas as it was.
std::vector<GifFrame> decodeGifFrames(const Bytes& data, int maxFrames = kMaxGifFrames);
std::vector<GifFrame> decodeGifFrames(const Bytes& data, int maxFrames, GifBudget& budget);

// Bitmap image contexts, a per-thread stack like the drawing contexts (each begin pushes its
// drawing context as the current one). A scale of 0 takes the main screen's scale.
void beginImageContext(Size size, bool opaque, double scale);
std::shared_ptr<Image> imageFromCurrentImageContext();
void endImageContext();

// What a new bitmap holds before anything is drawn: black when opaque, clear otherwise; or, for a
// caller that paints every pixel itself, whatever the memory held (no pass over it first).
enum class BitmapStart { Cleared, Undefined };

// The same as an object: begin on construction, end on destruction.
class ImageContext {
 public:
  ImageContext(Size size, bool opaque, double scale, BitmapStart start = BitmapStart::Cleared);
  ~ImageContext();
  ImageContext(const ImageContext&) = delete;
  ImageContext& operator=(const ImageContext&) = delete;
  GraphicsContext& context();
  std::shared_ptr<Image> image() const;
  // Ends the context early and hands its bitmap over without a copy (no drawing afterwards).
  std::shared_ptr<Image> takeImage();

 private:
  bool ended_ = false;
};

}  // namespace pf
