#include "widgets/TnqGIFImageView.h"

#include <cstring>
#include <optional>
#include <span>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/foundation/ThreadChecker.h"

namespace widgets {

namespace {

constexpr std::uint8_t kTrailer = 0x3B;
constexpr std::uint8_t kExtensionIntroducer = 0x21;
constexpr std::uint8_t kImageSeparator = 0x2C;
constexpr std::uint8_t kControlLabel = 0xF9;
constexpr std::size_t kScreenSize = 7;
constexpr std::size_t kDescriptorSize = 9;

int le16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }

bool screenAllowed(long long w, long long h) {
  return w > 0 && h > 0 && w <= pf::kMaxImageSide && h <= pf::kMaxImageSide && w * h <= pf::kMaxImagePixels &&
         w * h <= kMaxGifViewPixels;
}

// The control block of an image that has none of its own: no disposal, no delay, no transparency.
const pf::Bytes kNoControl = {kExtensionIntroducer, kControlLabel, 0x04, 0, 0, 0, 0, 0};

}  // namespace

// A read position over the file; every read is checked against the end.
struct TnqGIFImageView::Reader {
  explicit Reader(const pf::Bytes& bytes) : data(bytes) {}
  const pf::Bytes& data;
  std::size_t pos = 0;
  // The global colour table's flags, kept apart from any image's own.
  bool globalTable = false;
  bool globalSorted = false;
  int globalSize = 0;
  std::span<const std::uint8_t> screen, global;

  bool atEnd() const { return pos >= data.size(); }
  // The next count bytes, or nullopt (position unchanged) when the data ends first.
  std::optional<std::span<const std::uint8_t>> getBytes(std::size_t count) {
    if (count > data.size() - pos) return std::nullopt;
    std::span<const std::uint8_t> out(data.data() + pos, count);
    pos += count;
    return out;
  }
  bool skipBytes(std::size_t count) {
    if (count > data.size() - pos) return false;
    pos += count;
    return true;
  }
  std::optional<std::uint8_t> byte() {
    if (atEnd()) return std::nullopt;
    return data[pos++];
  }
  // Sub-blocks from one whose size byte was already read, up to and including the zero size
  // byte; appended to out when given. False when the data ends first.
  bool subBlocks(std::uint8_t size, pf::Bytes* out) {
    for (;;) {
      if (out) out->push_back(size);
      if (size == 0) return true;
      auto block = getBytes(size);
      if (!block) {
        if (out) out->insert(out->end(), data.begin() + static_cast<std::ptrdiff_t>(pos), data.end());
        pos = data.size();
        return false;
      }
      if (out) out->insert(out->end(), block->begin(), block->end());
      auto next = byte();
      if (!next) return false;
      size = *next;
    }
  }
};

TnqGIFImageView::TnqGIFImageView() : pf::ImageView(pf::Rect()) {}

bool TnqGIFImageView::isGifImage(const pf::Bytes& data) {
  return data.size() >= 4 && std::memcmp(data.data(), "GIF8", 4) == 0;
}

std::shared_ptr<TnqGIFImageView> TnqGIFImageView::initWithGIFFile(const std::filesystem::path& path) {
  PF_ASSERT_MAIN_THREAD();
  auto data = pf::FileManager::readFile(path);
  if (!data) return nullptr;
  return initWithGIFData(*data);
}

std::shared_ptr<TnqGIFImageView> TnqGIFImageView::initWithGIFData(const pf::Bytes& data) {
  PF_ASSERT_MAIN_THREAD();
  if (data.size() < 4) return nullptr;
  auto view = std::make_shared<TnqGIFImageView>();
  if (isGifImage(data)) {
    view->decodeGIF(data);
    if (!view->frames_.empty()) {
      view->loadImageData();
      return view;
    }
  }
  // A still image, the view sized to it.
  auto image = pf::Image::fromData(data);
  if (image) view->setFrame(pf::Rect(0, 0, image->size().width, image->size().height));
  view->setImage(std::move(image));
  return view;
}

std::optional<TnqGIFFrameList> TnqGIFImageView::getGifFrames(const pf::Bytes& data) {
  auto view = initWithGIFData(data);
  if (!view) return std::nullopt;
  return view->frames_;
}

void TnqGIFImageView::setGIF_frames(TnqGIFFrameList frames) {
  frames_ = std::move(frames);
  loadImageData();
}

std::optional<pf::Bytes> TnqGIFImageView::getFrameAsDataAtIndex(std::int32_t index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= frames_.size()) return std::nullopt;
  return frames_[static_cast<std::size_t>(index)]->data;
}

std::shared_ptr<pf::Image> TnqGIFImageView::getFrameAsImageAtIndex(std::int32_t index) const {
  auto data = getFrameAsDataAtIndex(index);
  return data ? pf::Image::fromData(*data) : nullptr;
}

void TnqGIFImageView::decodeGIF(const pf::Bytes& data) {
  frames_.clear();
  pending_.reset();
  sawControl_ = false;
  Reader r(data);
  if (!r.skipBytes(6)) return;
  auto screen = r.getBytes(kScreenSize);
  if (!screen || !screenAllowed(le16(screen->data()), le16(screen->data() + 2))) return;
  r.screen = *screen;
  std::uint8_t packed = (*screen)[4];
  r.globalTable = (packed & 0x80) != 0;
  r.globalSorted = (packed & 0x08) != 0;
  r.globalSize = packed & 0x07;
  if (r.globalTable) {
    auto table = r.getBytes(3 * (std::size_t{2} << r.globalSize));
    if (!table) return;
    r.global = *table;
  }
  while (frames_.size() < static_cast<std::size_t>(pf::kMaxGifFrames)) {
    auto b = r.byte();
    if (!b || *b == kTrailer) break;
    if (*b == kExtensionIntroducer)
      GIFReadExtensions(r);
    else if (*b == kImageSeparator)
      GIFReadDescriptor(r);
  }
  // A control extension with no image after it makes no frame; a file without any is a still image.
  pending_.reset();
  if (!sawControl_) frames_.clear();
}

void TnqGIFImageView::GIFReadExtensions(Reader& r) {
  auto label = r.byte();
  if (!label) return;
  auto size = r.byte();
  if (!size) return;
  if (*label == kControlLabel && *size == 4) {
    auto body = r.getBytes(5);  // packed, delay (2), transparent index, terminator
    if (!body) {
      r.pos = r.data.size();
      return;
    }
    const std::uint8_t* p = body->data();
    auto frame = std::make_shared<TnqGIFFrame>();
    frame->disposalMethod = (p[0] >> 2) & 0x07;
    frame->delay = le16(p + 1);
    frame->header = {kExtensionIntroducer, kControlLabel, 0x04, p[0], p[1], p[2], p[3], 0x00};
    pending_ = std::move(frame);
    sawControl_ = true;
    // A missing terminator starts further sub-blocks, passed over like any others.
    r.subBlocks(p[4], nullptr);
    return;
  }
  r.subBlocks(*size, nullptr);
}

void TnqGIFImageView::GIFReadDescriptor(Reader& r) {
  auto descriptor = r.getBytes(kDescriptorSize);
  if (!descriptor) {
    r.pos = r.data.size();
    return;
  }
  const std::uint8_t* d = descriptor->data();
  std::uint8_t packed = d[8];
  bool localTable = (packed & 0x80) != 0;
  int size = localTable ? (packed & 0x07) : r.globalSize;
  bool sorted = localTable ? (packed & 0x20) != 0 : r.globalSorted;
  std::span<const std::uint8_t> table = r.global;
  if (localTable) {
    auto local = r.getBytes(3 * (std::size_t{2} << size));
    if (!local) {
      r.pos = r.data.size();
      return;
    }
    table = *local;
  }
  // An image with no control extension waiting is a frame of its own with a neutral one (common
  // encoders write a first frame that way).
  std::shared_ptr<TnqGIFFrame> frame = std::move(pending_);
  pending_.reset();
  if (!frame) {
    frame = std::make_shared<TnqGIFFrame>();
    frame->header = kNoControl;
  }
  frame->area = pf::Rect(le16(d), le16(d + 2), le16(d + 4), le16(d + 6));
  pf::Bytes out;
  const char* signature = "GIF89a";
  out.assign(signature, signature + 6);
  out.insert(out.end(), r.screen.begin(), r.screen.end());
  bool hasTable = !table.empty();
  out[6 + 4] = static_cast<std::uint8_t>((r.screen[4] & 0x70) | (hasTable ? (0x80 | (sorted ? 0x08 : 0) | size) : 0));
  out.insert(out.end(), table.begin(), table.end());
  out.insert(out.end(), frame->header.begin(), frame->header.end());
  out.push_back(kImageSeparator);
  out.insert(out.end(), d, d + 8);
  out.push_back(packed & 0x40);
  if (auto minCodeSize = r.byte()) {
    out.push_back(*minCodeSize);
    if (auto first = r.byte()) r.subBlocks(*first, &out);
  }
  out.push_back(kTrailer);
  frame->data = std::move(out);
  frames_.push_back(std::move(frame));
}

void TnqGIFImageView::loadImageData() {
  setImage(nullptr);
  setAnimationImages({});
  pixelsSpent_ = 0;
  if (frames_.empty()) return;
  // The canvas is the logical screen every cut frame carries.
  const pf::Bytes& firstData = frames_.front()->data;
  if (firstData.size() < 6 + kScreenSize) return;
  const int w = le16(firstData.data() + 6), h = le16(firstData.data() + 8);
  if (!screenAllowed(w, h)) return;
  const pf::Rect canvasRect(0, 0, w, h);
  const long long screenPixels = static_cast<long long>(w) * h;

  std::vector<std::shared_ptr<pf::Image>> composed;
  double duration = 0;
  auto keep = [&](TnqGIFFrame& frame, std::shared_ptr<pf::Image> image) {
    composed.push_back(std::move(image));
    if (frame.delay <= 0) frame.delay = 10;
    duration += frame.delay;
  };
  const char* stopped = nullptr;

  // The first frame is decoded as the platform's still image is, on a budget of its own, so a file
  // whose still image shows shows at least its first frame. It is kept as decoded: no canvas yet,
  // and no copy (an undecodable frame shows the clear screen).
  TnqGIFFrame& firstFrame = *frames_.front();
  pf::GifBudget firstBudget;
  std::shared_ptr<pf::Image> first;
  if (auto decoded = pf::decodeGifFrames(firstFrame.data, 1, firstBudget); !decoded.empty())
    first = std::move(decoded.front().image);
  if (first)
    keep(firstFrame, first);
  else if (firstBudget.spent())
    stopped = "decoding budget";
  else if (auto blank = pf::Image::blank(w, h))
    keep(firstFrame, std::move(blank));

  // The others are drawn on a canvas, made for the second frame, and share one budget, which counts
  // what their decoding takes and what the composition holds besides the frames kept (the canvas,
  // the canvas saved for a restoring frame). The frames kept are bounded by kMaxGifViewPixels.
  pf::GifBudget budget;
  std::optional<pf::ImageContext> canvas;
  // After a frame has been drawn (when it decoded): its disposal clears its area, or restores the
  // canvas saved before it.
  auto dispose = [&](const TnqGIFFrame& frame, const std::shared_ptr<pf::Image>& before) {
    if (frame.disposalMethod != 2 && frame.disposalMethod != 3) return;
    pf::GraphicsContext& ctx = canvas->context();
    ctx.save();
    ctx.clipToRect(frame.area);
    ctx.clearRect(frame.area);
    if (before) ctx.drawImage(*before, canvasRect);
    ctx.restore();
  };
  // (None when the first frame is not kept.)
  for (std::size_t i = 1; i < frames_.size() && !composed.empty(); ++i) {
    TnqGIFFrame& frame = *frames_[i];
    if (static_cast<long long>(composed.size() + 1) * screenPixels > kMaxGifViewPixels) {
      stopped = "memory bound";
      break;
    }
    if (!canvas) {
      if (!budget.take(screenPixels)) {
        stopped = "decoding budget";
        break;
      }
      // The first frame on the clear canvas is what the decoder composed; a restoring first frame
      // leaves the canvas clear (nothing was before it).
      canvas.emplace(pf::Size{static_cast<double>(w), static_cast<double>(h)}, false, 1);
      if (first) {
        canvas->context().drawImage(*first, canvasRect);
        dispose(firstFrame, nullptr);
      }
    }
    auto decoded = pf::decodeGifFrames(frame.data, 1, budget);
    const int disposal = frame.disposalMethod;
    const bool drawn = !decoded.empty();
    if ((!drawn && budget.spent()) || (drawn && disposal == 3 && !budget.take(screenPixels))) {
      stopped = "decoding budget";
      break;
    }
    std::shared_ptr<pf::Image> before;
    if (drawn) {
      pf::GraphicsContext& ctx = canvas->context();
      if (disposal == 3) before = canvas->image();
      ctx.save();
      if (disposal >= 1 && disposal <= 3) ctx.clipToRect(frame.area);
      ctx.drawImage(*decoded.front().image, canvasRect);
      ctx.restore();
      decoded.clear();
    }
    // The last frame takes the canvas itself; the others a copy of it.
    const bool last = i + 1 == frames_.size();
    auto shown = last ? canvas->takeImage() : canvas->image();
    if (!shown) break;
    keep(frame, std::move(shown));
    // An undecodable frame leaves the canvas as it was.
    if (!last && drawn) dispose(frame, before);
  }
  pixelsSpent_ = firstBudget.pixelsTaken() + budget.pixelsTaken();
  if (stopped)
    pf::logLine(pf::format("TnqGIFImageView: composition stopped after %lu of %lu frames (%s)",
                           static_cast<unsigned long>(composed.size()), static_cast<unsigned long>(frames_.size()),
                           stopped));
  if (composed.empty()) return;
  setImage(composed.front());
  setAnimationImages(composed);
  setAnimationDuration(duration / 100.0);
  setAnimationRepeatCount(0);
  startAnimating();
}

}  // namespace widgets
