#include "platform/ui/ActivityIndicatorView.h"

#include <cmath>

#include "platform/ui/GraphicsContext.h"

namespace pf {

namespace {
double sideFor(ActivityIndicatorStyle s) { return s == ActivityIndicatorStyle::WhiteLarge ? 37 : 20; }
Color colorFor(ActivityIndicatorStyle s) { return s == ActivityIndicatorStyle::Gray ? Color::gray() : Color::whiteColor(); }
}  // namespace

ActivityIndicatorView::ActivityIndicatorView(ActivityIndicatorStyle style)
    : View(Rect(0, 0, sideFor(style), sideFor(style))), style_(style), color_(colorFor(style)) {
  setOpaque(false);
  setUserInteractionEnabled(false);
  setHidden(true);
}

void ActivityIndicatorView::setStyle(ActivityIndicatorStyle style) {
  style_ = style;
  color_ = colorFor(style);
  Rect f = frame();
  double side = sideFor(style);
  setFrame(Rect(f.midX() - side / 2, f.midY() - side / 2, side, side));
  setNeedsDisplay();
}

void ActivityIndicatorView::setColor(const Color& color) {
  color_ = color;
  setNeedsDisplay();
}

void ActivityIndicatorView::setHidesWhenStopped(bool on) {
  hidesWhenStopped_ = on;
  if (!animating_) setHidden(on);
}

void ActivityIndicatorView::startAnimating() {
  if (animating_) return;
  animating_ = true;
  started_ = currentMediaTime();
  setHidden(false);
}

void ActivityIndicatorView::stopAnimating() {
  animating_ = false;
  if (hidesWhenStopped_) setHidden(true);
}

Size ActivityIndicatorView::sizeThatFits(Size) const { return {sideFor(style_), sideFor(style_)}; }

void ActivityIndicatorView::drawRect(const Rect&) {
  GraphicsContext* ctx = currentContext();
  if (!ctx) return;
  Rect b = bounds();
  double side = std::min(b.width(), b.height());
  double cx = b.midX(), cy = b.midY();
  double outer = side / 2, inner = outer * 0.45, width = side * (style_ == ActivityIndicatorStyle::WhiteLarge ? 0.09 : 0.1);
  // The bright spoke goes round once a second, in twelve steps.
  int step = animating_ ? static_cast<int>(std::floor((currentMediaTime() - started_) * 12)) % 12 : 0;
  ctx->save();
  ctx->setLineWidth(width);
  ctx->setLineCap(LineCap::Round);
  for (int i = 0; i < 12; ++i) {
    double angle = -M_PI / 2 + i * M_PI / 6;
    int age = ((step - i) % 12 + 12) % 12;
    ctx->setStrokeColor(color_.withAlpha(color_.a * (1.0 - age / 14.0)));
    ctx->beginPath();
    ctx->moveTo(cx + std::cos(angle) * inner, cy + std::sin(angle) * inner);
    ctx->lineTo(cx + std::cos(angle) * (outer - width / 2), cy + std::sin(angle) * (outer - width / 2));
    ctx->strokePath();
  }
  ctx->restore();
}

}  // namespace pf
