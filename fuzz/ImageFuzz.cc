// The image decoders (PNG, JPEG, GIF and its frames) on arbitrary bytes: an image within the
// size limits or none, never a crash.
#include <cstdint>
#include <cstdlib>

#include "platform/ui/Image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  pf::Bytes bytes(data, data + size);
  if (auto image = pf::Image::fromData(bytes)) {
    if (image->pixelWidth() <= 0 || image->pixelHeight() <= 0 || image->pixelWidth() > pf::kMaxImageSide ||
        image->pixelHeight() > pf::kMaxImageSide)
      std::abort();
    (void)image->pixel(0, 0);
  }
  auto frames = pf::decodeGifFrames(bytes);
  if (frames.size() > static_cast<std::size_t>(pf::kMaxGifFrames)) std::abort();
  for (const auto& frame : frames)
    if (!frame.image) std::abort();
  return 0;
}
