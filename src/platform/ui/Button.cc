#include "platform/ui/Button.h"

#include <algorithm>
#include <cmath>

#include "platform/ui/GraphicsContext.h"

namespace pf {

Button::Button(const Rect& frame, ButtonType type) : Control(frame), type_(type) {
  setOpaque(false);
  if (type_ == ButtonType::System) {
    titleColors_[kControlStateNormal] = Color::rgb(0, 122.0 / 255, 1);
    titleColors_[kControlStateDisabled] = Color::white(0.5, 0.5);
  } else {
    titleColors_[kControlStateNormal] = Color::whiteColor();
  }
}

template <class T>
std::optional<T> Button::lookup(const std::map<unsigned, T>& m, unsigned state) {
  auto it = m.find(state);
  if (it != m.end()) return it->second;
  // Combined states fall back to a single flag, then to normal.
  for (unsigned flag : {kControlStateDisabled, kControlStateHighlighted, kControlStateSelected}) {
    if (!(state & flag)) continue;
    auto f = m.find(flag);
    if (f != m.end()) return f->second;
  }
  auto n = m.find(kControlStateNormal);
  if (n != m.end()) return n->second;
  return std::nullopt;
}

void Button::setTitle(std::optional<std::string> title, unsigned state) {
  if (title)
    titles_[state] = *title;
  else
    titles_.erase(state);
  setNeedsLayout();
}
std::optional<std::string> Button::titleForState(unsigned state) const { return lookup(titles_, state); }

void Button::setTitleColor(OptColor color, unsigned state) {
  if (color)
    titleColors_[state] = *color;
  else
    titleColors_.erase(state);
  setNeedsLayout();
}
OptColor Button::titleColorForState(unsigned state) const { return lookup(titleColors_, state); }

void Button::setImage(std::shared_ptr<Image> image, unsigned state) {
  if (image)
    images_[state] = std::move(image);
  else
    images_.erase(state);
  setNeedsLayout();
}
std::shared_ptr<Image> Button::imageForState(unsigned state) const { return lookup(images_, state).value_or(nullptr); }

void Button::setBackgroundImage(std::shared_ptr<Image> image, unsigned state) {
  if (image)
    backgrounds_[state] = std::move(image);
  else
    backgrounds_.erase(state);
  setNeedsDisplay();
}
std::shared_ptr<Image> Button::backgroundImageForState(unsigned state) const {
  return lookup(backgrounds_, state).value_or(nullptr);
}

Color Button::currentTitleColor() const { return titleColorForState(state()).value_or(Color::whiteColor()); }

std::shared_ptr<Label> Button::titleLabel() {
  if (!titleLabel_) {
    titleLabel_ = Label::make();
    titleLabel_->setFont(Font::systemFont(15));
    titleLabel_->setTextAlignment(TextAlignment::Center);
    addSubview(titleLabel_);
  }
  return titleLabel_;
}

std::shared_ptr<ImageView> Button::imageView() {
  if (!imageView_) {
    imageView_ = ImageView::make();
    imageView_->setContentMode(ContentMode::ScaleToFill);
    insertSubview(imageView_, 0);
  }
  return imageView_;
}

void Button::stateDidChange() {
  setNeedsDisplay();
  setNeedsLayout();
}

Rect Button::contentRectForBounds(const Rect& b) const { return insetRect(b, contentEdgeInsets); }

Size Button::titleSize() const {
  auto title = currentTitle();
  if (!title || title->empty()) return {0, 0};
  Font f = titleLabel_ ? titleLabel_->font() : Font::systemFont(15);
  return text::size(*title, f);
}

Rect Button::imageRectForContentRect(const Rect& c) const {
  auto img = currentImage();
  if (!img) return Rect(c.midX(), c.midY(), 0, 0);
  Size is = img->size(), ts = titleSize();
  Rect area = insetRect(c, imageEdgeInsets);
  double total = is.width + ts.width;
  double x = std::round(c.midX() - total / 2) + imageEdgeInsets.left - imageEdgeInsets.right;
  double w = std::min(is.width, std::max(0.0, area.width()));
  double h = std::min(is.height, std::max(0.0, area.height()));
  double y = std::round(c.midY() - h / 2) + (imageEdgeInsets.top - imageEdgeInsets.bottom) / 2;
  return Rect(x, y, w, h);
}

Rect Button::titleRectForContentRect(const Rect& c) const {
  Size ts = titleSize();
  auto img = currentImage();
  double iw = img ? img->size().width : 0;
  Rect area = insetRect(c, titleEdgeInsets);
  double w = std::min(ts.width, std::max(0.0, area.width() - iw));
  double total = iw + w;
  double x = std::round(c.midX() - total / 2) + iw + titleEdgeInsets.left - titleEdgeInsets.right;
  double h = std::min(ts.height, std::max(0.0, area.height()));
  double y = std::round(c.midY() - h / 2) + (titleEdgeInsets.top - titleEdgeInsets.bottom) / 2;
  return Rect(x, y, w, h);
}

void Button::layoutSubviews() {
  Rect content = contentRectForBounds(bounds());
  auto title = currentTitle();
  if (title || titleLabel_) {
    auto label = titleLabel();
    label->setText(title.value_or(""));
    label->setTextColor(currentTitleColor());
    label->setFrame(titleRectForContentRect(content));
    label->setHidden(!title || title->empty());
  }
  auto img = currentImage();
  if (img || imageView_) {
    auto iv = imageView();
    iv->setImage(img);
    iv->setFrame(imageRectForContentRect(content));
    iv->setHidden(!img);
  }
}

void Button::drawRect(const Rect&) {
  GraphicsContext* ctx = currentContext();
  auto bg = backgroundImageForState(state());
  if (ctx && bg) ctx->drawImage(*bg, bounds());
}

Size Button::sizeThatFits(Size) const {
  Size ts = titleSize();
  auto img = currentImage();
  Size is = img ? img->size() : Size{};
  return {ts.width + is.width + contentEdgeInsets.left + contentEdgeInsets.right,
          std::max(ts.height, is.height) + contentEdgeInsets.top + contentEdgeInsets.bottom};
}

}  // namespace pf
