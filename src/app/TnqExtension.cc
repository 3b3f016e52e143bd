#include "app/TnqExtension.h"

#include "platform/ui/GraphicsContext.h"

namespace app::TnqExtension {

std::shared_ptr<pf::Image> scaleToSize(const pf::Image& image, pf::Size size) {
  pf::ImageContext ctx(size, false, 1);
  ctx.context().drawImage(image, pf::Rect(0, 0, size.width, size.height));
  return ctx.image();
}

std::shared_ptr<pf::Image> toScale(const pf::Image& image, float factor) {
  pf::Size s = image.size();
  return scaleToSize(image, {s.width * factor, s.height * factor});
}

}  // namespace app::TnqExtension
