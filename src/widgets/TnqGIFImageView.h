#pragma once
// An image view that plays an animated GIF. It walks the file's blocks itself, cuts one
// single-image GIF per frame (the file's logical screen, a colour table, the frame's graphic
// control extension and its image), lets the platform decode each of those, composes them on a
// canvas of the logical screen by their disposal methods and plays the composed images with the
// frames' delays. An image without a control extension of its own is a frame with delay 0 (it
// plays as 10); data that is not a GIF, or a GIF without any control extension, shows as a still
// image.
//
// Bounded: the logical screen within the platform's image limits and kMaxGifViewPixels, at most
// pf::kMaxGifFrames frames, one frame image decoded at a time. The first frame is decoded on a
// pf::GifBudget of its own, as the platform's still image is, so the view shows at least that
// frame whenever the still image would; the others share one budget (pixels and real time) for
// their decoding and for what composing them holds besides the frames kept; frames past that budget
// or past kMaxGifViewPixels composed pixels are dropped (one log line). The first frame is kept as
// decoded and the canvas is made only for a second one, so a one-frame file costs what its still
// image costs. Main thread; all work runs while it is made.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/ui/ImageView.h"

namespace widgets {

// One frame as cut from the file.
struct TnqGIFFrame {
  // The graphic control extension: 0x21 0xF9 0x04, packed fields, delay (2 bytes, little endian),
  // transparent index, 0 (terminator).
  pf::Bytes header;
  // The frame as a complete one-image GIF.
  pf::Bytes data;
  // Hundredths of a second; 0 or less plays as 10.
  double delay = 0;
  std::int32_t disposalMethod = 0;
  // The image descriptor's left, top, width and height.
  pf::Rect area;
};
using TnqGIFFrameList = std::vector<std::shared_ptr<TnqGIFFrame>>;

// Composed pixels one view keeps (128 MB at 4 bytes a pixel): a phone screen's animation. What
// composing them takes at its peak besides is measured by bench_gifmemory.
inline constexpr long long kMaxGifViewPixels = 32LL * 1000 * 1000;

class TnqGIFImageView : public pf::ImageView {
 public:
  TnqGIFImageView();
  std::string className() const override { return "TnqGIFImageView"; }

  // Whether the data begins with "GIF8".
  static bool isGifImage(const pf::Bytes& data);
  // nullptr for data of fewer than 4 bytes (or a file that cannot be read).
  static std::shared_ptr<TnqGIFImageView> initWithGIFFile(const std::filesystem::path& path);
  static std::shared_ptr<TnqGIFImageView> initWithGIFData(const pf::Bytes& data);
  // The frames of the view made from data; nullopt when no view could be made.
  static std::optional<TnqGIFFrameList> getGifFrames(const pf::Bytes& data);

  const TnqGIFFrameList& GIF_frames() const { return frames_; }
  // Keeps the frames and composes them again.
  void setGIF_frames(TnqGIFFrameList frames);

  // The frame's one-image GIF, nullopt past the end.
  std::optional<pf::Bytes> getFrameAsDataAtIndex(std::int32_t index) const;
  // The platform's image of that GIF, nullptr past the end or when it does not decode.
  std::shared_ptr<pf::Image> getFrameAsImageAtIndex(std::int32_t index) const;

  // The pixels the last composition's budgets were charged (the first frame's and the others').
  long long pixelsSpent() const { return pixelsSpent_; }

 private:
  // Block walk over the data being decoded.
  struct Reader;
  void decodeGIF(const pf::Bytes& data);
  void GIFReadExtensions(Reader& r);
  void GIFReadDescriptor(Reader& r);
  void loadImageData();

  TnqGIFFrameList frames_;
  // Made by the latest graphic control extension, waiting for its image.
  std::shared_ptr<TnqGIFFrame> pending_;
  bool sawControl_ = false;
  long long pixelsSpent_ = 0;
};

}  // namespace widgets
