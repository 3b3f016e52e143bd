// The animated GIF view on arbitrary bytes: the block walk, the cut frames, their decoding and
// the composition. A view or none, never a crash; frames, composed pixels and the work of
// decoding stay within their bounds.
#include <cstdint>
#include <cstdlib>

#include "platform/ui/Image.h"
#include "widgets/TnqGIFImageView.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  pf::Bytes bytes(data, data + size);
  auto view = widgets::TnqGIFImageView::initWithGIFData(bytes);
  if (!view) {
    if (size >= 4) std::abort();
    return 0;
  }
  const auto& frames = view->GIF_frames();
  if (frames.size() > static_cast<std::size_t>(pf::kMaxGifFrames)) std::abort();
  const auto& composed = view->animationImages();
  if (composed.size() > frames.size()) std::abort();
  if (!composed.empty() &&
      static_cast<long long>(composed.size()) * composed[0]->pixelWidth() * composed[0]->pixelHeight() >
          widgets::kMaxGifViewPixels)
    std::abort();
  // Two budgets (the first frame's and the others'), each overdrawn at most by the one request it
  // refuses: a screen or a row.
  if (view->pixelsSpent() > 2 * (pf::kMaxGifPixels + pf::kMaxImagePixels + pf::kMaxImageSide)) std::abort();
  for (const auto& frame : frames) {
    // Every cut frame is a whole GIF: signature, screen, a control block (its own or a neutral
    // one) and the trailer.
    if (frame->data.size() < 6 + 7 + 8 + 10 + 1 || frame->data.back() != 0x3B) std::abort();
    if (!widgets::TnqGIFImageView::isGifImage(frame->data)) std::abort();
    if (frame->header.size() != 8 || frame->header[0] != 0x21 || frame->header[1] != 0xF9) std::abort();
  }
  if (!frames.empty()) (void)view->getFrameAsImageAtIndex(static_cast<std::int32_t>(frames.size() - 1));
  return 0;
}
