#include "widgets/TnqGlossyButton.h"

#include <algorithm>
#include <cmath>

#include "platform/ui/Image.h"
#include "platform/ui/Screen.h"

namespace widgets {

using pf::Color;
using pf::GraphicsContext;
using pf::Gradient;
using pf::Path;
using pf::Point;
using pf::Rect;

namespace {

Gradient greys(std::vector<double> whites, std::vector<double> locations = {}) {
  std::vector<Color> colors;
  for (double w : whites) colors.push_back(Color::white(w, 1.0));
  return Gradient::make(std::move(colors), std::move(locations));
}

void vertical(GraphicsContext& ctx, const Gradient& g, const Rect& r, bool upsideDown = false) {
  Point top{0, r.minY()}, bottom{0, r.maxY()};
  if (upsideDown) std::swap(top, bottom);
  ctx.drawLinearGradient(g, top, bottom);
}

void fillPath(GraphicsContext& ctx, const Path& p, const Color& c) {
  ctx.beginPath();
  ctx.addPath(p);
  ctx.setFillColor(c);
  ctx.fillPath();
}

void clipTo(GraphicsContext& ctx, const Path& p, pf::FillRule rule = pf::FillRule::Winding) {
  ctx.beginPath();
  ctx.addPath(p);
  ctx.clip(rule);
}

// r on whole device pixels under the context's matrix: grown to the pixels it touches, or shrunk
// to those it holds. Null when the matrix turns or skews space, or when nothing is left.
Rect onDevicePixels(GraphicsContext& ctx, const Rect& r, bool grow) {
  pf::AffineTransform m = ctx.ctm();
  if (m.b != 0 || m.c != 0 || m.a == 0 || m.d == 0 || r.isEmpty()) return Rect::null();
  constexpr double slack = 1e-6;  // rounding noise of the matrix
  auto snap = [&](double a, double t, double lo, double hi, double& out0, double& out1) {
    double d0 = a * lo + t, d1 = a * hi + t;
    if (d0 > d1) std::swap(d0, d1);
    d0 = grow ? std::floor(d0 + slack) : std::ceil(d0 - slack);
    d1 = grow ? std::ceil(d1 - slack) : std::floor(d1 + slack);
    if (d1 <= d0) return false;
    out0 = (d0 - t) / a;
    out1 = (d1 - t) / a;
    if (out0 > out1) std::swap(out0, out1);
    return true;
  };
  double x0, x1, y0, y1;
  if (!snap(m.a, m.tx, r.minX(), r.maxX(), x0, x1) || !snap(m.d, m.ty, r.minY(), r.maxY(), y0, y1)) return Rect::null();
  return Rect(x0, y0, x1 - x0, y1 - y0);
}

// The frame that outline minus hole leaves (top, bottom, left, right), on whole device pixels so
// that every pixel falls in exactly one band. One null band (no clip) when the hole is unknown
// or too small.
std::vector<Rect> bandsAround(GraphicsContext& ctx, const Rect& outline, const Rect& hole) {
  Rect o = onDevicePixels(ctx, outline, true);
  Rect h = onDevicePixels(ctx, hole.intersection(outline), false);
  if (o.isNull() || h.isNull()) return {Rect::null()};
  return {Rect(o.minX(), o.minY(), o.width(), h.minY() - o.minY()),
          Rect(o.minX(), h.maxY(), o.width(), o.maxY() - h.maxY()),
          Rect(o.minX(), h.minY(), h.minX() - o.minX(), h.height()),
          Rect(h.maxX(), h.minY(), o.maxX() - h.maxX(), h.height())};
}

// The main screen's scale, read once.
double screenScale() {
  static const double scale = pf::Screen::main()->scale();
  return scale;
}

}  // namespace

TnqGlossyButton::TnqGlossyButton(const Rect& frame) : pf::Button(frame, pf::ButtonType::Custom) {
  setGradientType(0);
}

void TnqGlossyButton::setGradientType(int type) {
  switch (type) {
    case 0: gradient_ = greys({0.5, 0.35}); break;
    case 1: gradient_ = greys({0.7, 0.6, 0.5, 0.45}, {0.0, 0.47, 0.53, 1.0}); break;
    case 2: gradient_ = greys({0.8, 0.2}); break;
    case 3: gradient_ = greys({0.9, 0.5, 0.5}, {0.0, 0.7, 1.0}); break;
    case 4: gradient_ = greys({0.5, 0.5}); break;
    default: return;
  }
  setNeedsDisplay();
}

void TnqGlossyButton::setActionSheetButtonWithColor(const Color& color) {
  tintColor = color;
  setGradientType(1);
  titleLabel()->setFont(pf::Font::boldSystemFont(17));
  useWhiteLabel(*this, false);
  buttonCornerRadius = 8.0;
  strokeType = 3;
  buttonBorderWidth = 3.0;
  borderColor = Color::white(0.2, 0.8);
  setNeedsDisplay();
}

void TnqGlossyButton::setNavigationButtonWithColor(const Color& color) {
  tintColor = color;
  disabledBorderColor = Color::lightGray();
  setGradientType(1);
  titleLabel()->setFont(pf::Font::boldSystemFont(12));
  useWhiteLabel(*this, false);
  setTitleColor(Color::white(0.5, 1.0), pf::kControlStateDisabled);
  buttonCornerRadius = 4.0;
  strokeType = 2;
  buttonBorderWidth = 1.0;
  innerBorderWidth = 0;
  setNeedsDisplay();
}

Path TnqGlossyButton::pathForButton(double t) const {
  Rect r = pf::insetRect(bounds(), buttonInsets).insetBy(t, t);
  if (r.isNull()) return Path();
  return Path::roundedRect(r, std::max(buttonCornerRadius - t, 0.0));
}

Rect TnqGlossyButton::ringHole(double width) const {
  // The rounded rectangle inset by width holds every point more than width from the sides and
  // more than the corner radius from the top and bottom.
  Rect r = pf::insetRect(bounds(), buttonInsets).insetBy(width, std::max(width, buttonCornerRadius));
  return r.isEmpty() ? Rect::null() : r;
}

Rect TnqNavigationButton::ringHole(double) const { return Rect::null(); }
Rect TnqBadgeButton::ringHole(double) const { return Rect::null(); }

double TnqGlossyButton::rimOffset(double borderWidth) { return std::clamp(borderWidth * 0.25, 0.5, 2.0); }

void TnqGlossyButton::drawRect(const Rect& rect) {
  GraphicsContext* outer = pf::currentContext();
  if (!outer) return;
  Color fill = isEnabled() ? tintColor.value_or(Color::whiteColor()) : disabledColor.value_or(Color::lightGray());
  bool offscreen = backgroundOpacity < 1.0;
  std::unique_ptr<pf::ImageContext> layer;
  if (offscreen) layer = std::make_unique<pf::ImageContext>(bounds().size, false, screenScale());
  GraphicsContext& ctx = offscreen ? layer->context() : *outer;
  bool highlighted = isHighlighted();
  ctx.save();
  if (buttonBorderWidth > 0) {
    Color border = (!isEnabled() && disabledBorderColor) ? *disabledBorderColor : borderColor.value_or(Color::darkGray());
    strokeButton(ctx, border, highlighted);
  }
  drawTintColorButton(ctx, fill, highlighted);
  ctx.restore();
  if (offscreen) {
    auto image = layer->image();
    layer.reset();
    outer->save();
    outer->setBlendMode(pf::BlendMode::Normal);
    outer->setAlpha(backgroundOpacity);
    if (image) outer->drawImage(*image, Rect(0, 0, bounds().width(), bounds().height()));
    outer->restore();
  }
  pf::Button::drawRect(rect);
}

void TnqGlossyButton::drawTintColorButton(GraphicsContext& ctx, const Color& tint, bool selected) {
  double b = buttonBorderWidth, i = innerBorderWidth;
  Rect all = bounds();
  if (i > 0) {
    clipTo(ctx, pathForButton(b));
    ctx.save();
    vertical(ctx, greys({0.55, 0.4}), all);
  }
  clipTo(ctx, pathForButton(b + i));
  Rect inner = all.insetBy(b + i, b + i);
  if (!inner.isNull()) vertical(ctx, gradient_, inner, selected && invertGraidentOnSelected);
  if (extraShadingType != 0 && !inner.isNull()) {
    ctx.save();
    ctx.setBlendMode(pf::BlendMode::Lighten);
    addShading(ctx, extraShadingType, inner);
    ctx.restore();
  }
  if (i > 0) ctx.restore();
  ctx.save();
  ctx.setBlendMode(pf::BlendMode::Overlay);
  ctx.setFillColor(tint);
  ctx.fillRect(all);
  if (selected) {
    ctx.setBlendMode(pf::BlendMode::Multiply);
    ctx.setFillColor(Color::lightGray());
    ctx.fillRect(all);
  }
  ctx.restore();
}

void TnqGlossyButton::strokeButton(GraphicsContext& ctx, const Color& color, bool selected) {
  Rect all = bounds();
  ctx.save();
  switch (strokeType) {
    case 1:
      fillPath(ctx, pathForButton(0), color);
      break;
    case 2: {
      Path shape = pathForButton(0);
      clipTo(ctx, shape);
      fillPath(ctx, shape, Color::white(0.9, 1.0));
      double d = rimOffset(buttonBorderWidth);
      ctx.translate(0, -d);
      fillPath(ctx, pathForButton(d), color);
      break;
    }
    case 3: {
      Path shape = pathForButton(0);
      fillPath(ctx, shape, color);
      Path ring = shape;
      ring.addPath(pathForButton(1.0));
      ctx.setBlendMode(pf::BlendMode::Overlay);
      Gradient rim = greys({0.25, 1.0});
      // cairo runs a blend over the whole extents of what it fills, and a ring's extents are
      // the whole button: the ring is painted band by band around its hole instead.
      for (const Rect& band : bandsAround(ctx, pf::insetRect(all, buttonInsets), ringHole(1.0))) {
        ctx.save();
        if (!band.isNull()) ctx.clipToRect(band);
        clipTo(ctx, ring, pf::FillRule::EvenOdd);
        vertical(ctx, rim, all);
        ctx.restore();
      }
      break;
    }
    case 4: {
      clipTo(ctx, pathForButton(0));
      bool inverted = selected && invertGraidentOnSelected;
      vertical(ctx, inverted ? greys({0.2, 0.5, 0.6}, {0.0, 0.1, 1.0}) : greys({0.9, 0.5, 0.2}, {0.0, 0.1, 1.0}), all);
      ctx.setBlendMode(pf::BlendMode::Overlay);
      ctx.setFillColor(color);
      ctx.fillRect(all);
      break;
    }
    default:
      break;
  }
  ctx.restore();
}

void TnqGlossyButton::addShading(GraphicsContext& ctx, int type, const Rect& rect) {
  double x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height();
  Gradient gloss = greys({0.8, 0.55});
  ctx.save();
  switch (type) {
    case 1: {
      double r = buttonCornerRadius;
      clipTo(ctx, Path::roundedRect(Rect(x, y - r, w, h / 2 + r), r));
      ctx.drawLinearGradient(gloss, {0, rect.minY()}, {0, y + 0.7 * h});
      break;
    }
    case 2:
      clipTo(ctx, Path::ellipse(Rect(x - 2 * w, y - 3.33 * h, 4 * w, 4 * h)));
      ctx.drawLinearGradient(gloss, {x, y}, {x + 0.5 * w, y + 0.7 * h});
      break;
    case 3:
      clipTo(ctx, Path::ellipse(Rect(x - w, y - 3.33 * h, 4 * w, 4 * h)));
      ctx.drawLinearGradient(gloss, {x + w, y}, {x + 0.5 * w, y + 0.7 * h});
      break;
    default:
      break;
  }
  ctx.restore();
}

// ---- navigation button ----

double TnqNavigationButton::arrowDepth() const {
  return std::round(0.3 * (bounds().height() - buttonInsets.top - buttonInsets.bottom));
}

Path TnqNavigationButton::pathForButton(double t) const {
  Rect R = pf::insetRect(bounds(), buttonInsets).insetBy(t, t);
  if (R.isNull()) return Path();
  double x = R.x(), y = R.y(), w = R.width(), h = R.height();
  double r = std::max(buttonCornerRadius - t, 0.0);
  double a = arrowDepth();
  double c = r * 0.29289321;
  double e = t * 0.01118742;
  Path p;
  if (leftArrow) {
    p.addRoundedRect(Rect(x + a + e, y, w - a - e, h), r);
    p.moveTo({x + e, y + h / 2});
    p.lineTo({x + a + c + e, y + c});
    p.lineTo({x + a + c + e, y + h - c});
    p.close();
  } else {
    p.addRoundedRect(Rect(x, y, w - a - e, h), r);
    p.moveTo({x + w - e, y + h / 2});
    p.lineTo({x + w - a - c - e, y + h - c});
    p.lineTo({x + w - a - c - e, y + c});
    p.close();
  }
  return p;
}

Rect TnqNavigationButton::titleRectForContentRect(const Rect& content) const {
  double a = std::round(bounds().height() * 0.3);
  Rect r = content;
  r.size.width -= a;
  if (leftArrow) r.origin.x += a;
  return pf::Button::titleRectForContentRect(r);
}

// ---- badge button ----

TnqBadgeButton::TnqBadgeButton(const Rect& frame) : TnqGlossyButton(frame) {}

Path TnqBadgeButton::pathForButton(double t) const {
  Path p;
  if (numberOfEdges <= 0) return p;
  double W = bounds().width() - buttonInsets.left - buttonInsets.right;
  double H = bounds().height() - buttonInsets.top - buttonInsets.bottom;
  Point c{W / 2, H / 2};
  double R = std::min(W, H) / 2 - t;
  double inner = innerRadiusRatio * R;
  double step = 2 * M_PI / (2.0 * numberOfEdges);
  for (int k = 0; k < numberOfEdges; ++k) {
    double a1 = 2 * k * step, a2 = (2 * k + 1) * step;
    Point outerPt{c.x + R * std::cos(a1), c.y + R * std::sin(a1)};
    if (k == 0)
      p.moveTo(outerPt);
    else
      p.lineTo(outerPt);
    p.lineTo({c.x + inner * std::cos(a2), c.y + inner * std::sin(a2)});
  }
  p.close();
  return p;
}

// ---- categories ----

namespace {
void labelColours(pf::Button& button, bool flag, const Color& normal, const Color& dimmed) {
  if (flag) {
    button.setTitleColor(normal, pf::kControlStateNormal);
    button.setTitleColor(dimmed, pf::kControlStateHighlighted);
    button.setTitleColor(dimmed, pf::kControlStateDisabled);
  } else {
    button.setTitleColor(std::nullopt, pf::kControlStateHighlighted);
    button.setTitleColor(std::nullopt, pf::kControlStateDisabled);
  }
}
}  // namespace

void useWhiteLabel(pf::Button& button, bool flag) { labelColours(button, flag, Color::whiteColor(), Color::lightGray()); }
void useBlackLabel(pf::Button& button, bool flag) { labelColours(button, flag, Color::black(), Color::darkGray()); }

Color doneButtonColor() { return Color::rgb(34 / 255.0, 96 / 255.0, 221 / 255.0, 1.0); }
Color navigationBarButtonColor() { return Color::rgb(72 / 255.0, 106 / 255.0, 154 / 255.0, 1.0); }

}  // namespace widgets
