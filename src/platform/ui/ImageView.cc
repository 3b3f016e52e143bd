#include "platform/ui/ImageView.h"

#include <algorithm>
#include <cmath>

#include "platform/ui/GraphicsContext.h"

namespace pf {

ImageView::ImageView(const Rect& frame) : View(frame) {
  setUserInteractionEnabled(false);
  setOpaque(false);
}

ImageView::ImageView(std::shared_ptr<Image> image)
    : ImageView(image ? Rect(0, 0, image->size().width, image->size().height) : Rect()) {
  image_ = std::move(image);
}

void ImageView::setImage(std::shared_ptr<Image> image) {
  image_ = std::move(image);
  setNeedsDisplay();
}

void ImageView::setAnimationImages(std::vector<std::shared_ptr<Image>> images) {
  animationImages_ = std::move(images);
  if (animationImages_.empty()) animating_ = false;
  setNeedsDisplay();
}

void ImageView::startAnimating() {
  if (animationImages_.empty()) return;
  animating_ = true;
  started_ = currentMediaTime();
}

void ImageView::stopAnimating() { animating_ = false; }

std::shared_ptr<Image> ImageView::displayedImage() const {
  if (!animating_ || animationImages_.empty()) return image_;
  std::size_t n = animationImages_.size();
  double d = duration_ > 0 ? duration_ : n / 30.0;
  double t = currentMediaTime() - started_;
  if (repeatCount_ > 0 && t >= d * repeatCount_) return image_;
  double phase = std::fmod(t, d) / d;
  std::size_t i = std::min(n - 1, static_cast<std::size_t>(phase * static_cast<double>(n)));
  return animationImages_[i];
}

Size ImageView::sizeThatFits(Size) const { return image_ ? image_->size() : Size{}; }

Rect imageRectForContentMode(ContentMode mode, Size img, const Rect& b) {
  double w = img.width, h = img.height;
  switch (mode) {
    case ContentMode::ScaleToFill:
    case ContentMode::Redraw:
      return b;
    case ContentMode::ScaleAspectFit:
    case ContentMode::ScaleAspectFill: {
      if (w <= 0 || h <= 0) return b;
      double sx = b.width() / w, sy = b.height() / h;
      double s = mode == ContentMode::ScaleAspectFit ? std::min(sx, sy) : std::max(sx, sy);
      return Rect(b.midX() - w * s / 2, b.midY() - h * s / 2, w * s, h * s);
    }
    case ContentMode::Center: return Rect(b.midX() - w / 2, b.midY() - h / 2, w, h);
    case ContentMode::Top: return Rect(b.midX() - w / 2, b.minY(), w, h);
    case ContentMode::Bottom: return Rect(b.midX() - w / 2, b.maxY() - h, w, h);
    case ContentMode::Left: return Rect(b.minX(), b.midY() - h / 2, w, h);
    case ContentMode::Right: return Rect(b.maxX() - w, b.midY() - h / 2, w, h);
    case ContentMode::TopLeft: return Rect(b.minX(), b.minY(), w, h);
    case ContentMode::TopRight: return Rect(b.maxX() - w, b.minY(), w, h);
    case ContentMode::BottomLeft: return Rect(b.minX(), b.maxY() - h, w, h);
    case ContentMode::BottomRight: return Rect(b.maxX() - w, b.maxY() - h, w, h);
  }
  return b;
}

void ImageView::drawRect(const Rect&) {
  GraphicsContext* ctx = currentContext();
  auto img = displayedImage();
  if (!ctx || !img) return;
  ctx->drawImage(*img, imageRectForContentMode(contentMode(), img->size(), bounds()));
}

}  // namespace pf
