#include "platform/ui/Label.h"

#include <cmath>

#include "platform/ui/GraphicsContext.h"

namespace pf {

Label::Label(const Rect& frame) : View(frame) {
  setOpaque(false);
  setUserInteractionEnabled(false);
}

void Label::setText(std::string text) {
  text_ = std::move(text);
  setNeedsDisplay();
}
void Label::setFont(Font font) {
  font_ = std::move(font);
  setNeedsDisplay();
}
void Label::setTextColor(Color color) {
  textColor_ = color;
  setNeedsDisplay();
}
void Label::setTextAlignment(TextAlignment alignment) {
  alignment_ = alignment;
  setNeedsDisplay();
}
void Label::setNumberOfLines(int lines) {
  lines_ = std::max(0, lines);
  setNeedsDisplay();
}
void Label::setLineBreakMode(LineBreakMode mode) {
  lineBreak_ = mode;
  setNeedsDisplay();
}
void Label::setShadowColor(OptColor color) {
  shadowColor_ = color;
  setNeedsDisplay();
}
void Label::setShadowOffset(Size offset) {
  shadowOffset_ = offset;
  setNeedsDisplay();
}
void Label::setEnabled(bool enabled) {
  enabled_ = enabled;
  setNeedsDisplay();
}

Size Label::textSize(double width) const {
  if (text_.empty()) return {0, 0};
  if (lines_ == 1) {
    Size s = text::size(text_, font_);
    return {width > 0 ? std::min(s.width, width) : s.width, s.height};
  }
  double maxHeight = lines_ > 0 ? lines_ * font_.lineHeight() + 0.5 : 1e9;
  LineBreakMode wrap = lineBreak_ == LineBreakMode::CharWrap ? LineBreakMode::CharWrap : LineBreakMode::WordWrap;
  return text::boundingSize(text_, font_, {width > 0 ? width : 1e7, maxHeight}, wrap);
}

Rect Label::textRect() const {
  Rect b = bounds();
  Size s = textSize(b.width());
  s.height = std::min(s.height, b.height());
  return Rect(b.x(), b.y() + std::floor((b.height() - s.height) / 2), b.width(), s.height);
}

Size Label::sizeThatFits(Size size) const { return textSize(lines_ == 1 ? 0 : size.width); }

void Label::drawRect(const Rect&) {
  GraphicsContext* ctx = currentContext();
  if (!ctx || text_.empty()) return;
  text::DrawOptions o;
  o.color = enabled_ ? textColor_ : textColor_.withAlpha(textColor_.a * 0.5);
  o.alignment = alignment_;
  o.lineBreak = lineBreak_;
  o.numberOfLines = lines_;
  if (shadowColor_) o.shadow = TextShadow{*shadowColor_, shadowOffset_, 0};
  Font f = font_;
  if (adjusts_ && lines_ == 1) {
    // Shrink the font (down to half) until the line fits.
    double w = text::size(text_, f).width;
    while (w > bounds().width() && f.pointSize > font_.pointSize / 2) {
      f.pointSize -= 0.5;
      w = text::size(text_, f).width;
    }
  }
  Rect r = textRect();
  if (lines_ == 1) r.size.height = bounds().height();
  Size s = textSize(bounds().width());
  if (lines_ == 1) r.origin.y = bounds().y() + std::floor((bounds().height() - std::min(s.height, bounds().height())) / 2);
  text::draw(*ctx, text_, f, Rect(r.x(), r.y(), r.width(), std::max(s.height, 1.0)), o);
}

}  // namespace pf
