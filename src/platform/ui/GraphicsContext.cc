#include "platform/ui/GraphicsContext.h"

#include <algorithm>
#include <cmath>

#include "platform/ui/Image.h"

namespace pf {

Gradient Gradient::make(std::vector<Color> colors, std::vector<double> locations) {
  Gradient g;
  g.colors = std::move(colors);
  if (locations.size() == g.colors.size()) g.locations = std::move(locations);
  return g;
}

double Gradient::location(std::size_t i) const {
  if (i < locations.size()) return locations[i];
  if (colors.size() <= 1) return 0;
  return static_cast<double>(i) / static_cast<double>(colors.size() - 1);
}

cairo_operator_t toCairo(BlendMode m) {
  switch (m) {
    case BlendMode::Normal: return CAIRO_OPERATOR_OVER;
    case BlendMode::Multiply: return CAIRO_OPERATOR_MULTIPLY;
    case BlendMode::Screen: return CAIRO_OPERATOR_SCREEN;
    case BlendMode::Overlay: return CAIRO_OPERATOR_OVERLAY;
    case BlendMode::Darken: return CAIRO_OPERATOR_DARKEN;
    case BlendMode::Lighten: return CAIRO_OPERATOR_LIGHTEN;
    case BlendMode::ColorDodge: return CAIRO_OPERATOR_COLOR_DODGE;
    case BlendMode::ColorBurn: return CAIRO_OPERATOR_COLOR_BURN;
    case BlendMode::SoftLight: return CAIRO_OPERATOR_SOFT_LIGHT;
    case BlendMode::HardLight: return CAIRO_OPERATOR_HARD_LIGHT;
    case BlendMode::Difference: return CAIRO_OPERATOR_DIFFERENCE;
    case BlendMode::Exclusion: return CAIRO_OPERATOR_EXCLUSION;
    case BlendMode::Hue: return CAIRO_OPERATOR_HSL_HUE;
    case BlendMode::Saturation: return CAIRO_OPERATOR_HSL_SATURATION;
    case BlendMode::Color: return CAIRO_OPERATOR_HSL_COLOR;
    case BlendMode::Luminosity: return CAIRO_OPERATOR_HSL_LUMINOSITY;
    case BlendMode::Clear: return CAIRO_OPERATOR_CLEAR;
    case BlendMode::Copy: return CAIRO_OPERATOR_SOURCE;
    case BlendMode::SourceIn: return CAIRO_OPERATOR_IN;
    case BlendMode::SourceOut: return CAIRO_OPERATOR_OUT;
    case BlendMode::SourceAtop: return CAIRO_OPERATOR_ATOP;
    case BlendMode::DestinationOver: return CAIRO_OPERATOR_DEST_OVER;
    case BlendMode::DestinationIn: return CAIRO_OPERATOR_DEST_IN;
    case BlendMode::DestinationOut: return CAIRO_OPERATOR_DEST_OUT;
    case BlendMode::DestinationAtop: return CAIRO_OPERATOR_DEST_ATOP;
    case BlendMode::XOR: return CAIRO_OPERATOR_XOR;
    case BlendMode::PlusDarker: return CAIRO_OPERATOR_SATURATE;
    case BlendMode::PlusLighter: return CAIRO_OPERATOR_ADD;
  }
  return CAIRO_OPERATOR_OVER;
}

void setSource(cairo_t* cr, const Color& c, double alpha) {
  cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a * alpha);
}

GraphicsContext::GraphicsContext(cairo_t* cr, Size size, double scale) : cr_(cr), size_(size), scale_(scale) {
  stack_.emplace_back();
  cairo_set_line_width(cr_, 1.0);
  cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_WINDING);
}

GraphicsContext::~GraphicsContext() = default;

GraphicsContext::PathClip::PathClip(cairo_t* cr, FillRule r)
    : path(cairo_copy_path(cr)),
      rule(r == FillRule::EvenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING),
      antialias(cairo_get_antialias(cr)) {
  cairo_get_matrix(cr, &matrix);
}

GraphicsContext::PathClip::~PathClip() { cairo_path_destroy(path); }

void GraphicsContext::PathClip::addTo(cairo_t* cr) const {
  cairo_set_matrix(cr, &matrix);
  cairo_new_path(cr);
  cairo_append_path(cr, path);
  cairo_set_fill_rule(cr, rule);
  cairo_set_antialias(cr, antialias);
}

void GraphicsContext::applyPendingClip() {
  if (!state().pendingClip) return;
  auto clip = std::move(state().pendingClip);
  state().pendingClip.reset();
  // cairo keeps a clip in its saved state: the settings the clip borrows are put back by hand,
  // and the path being built survives it.
  cairo_path_t* current = cairo_copy_path(cr_);
  cairo_matrix_t matrix;
  cairo_get_matrix(cr_, &matrix);
  cairo_fill_rule_t rule = cairo_get_fill_rule(cr_);
  cairo_antialias_t antialias = cairo_get_antialias(cr_);
  clip->addTo(cr_);
  cairo_clip(cr_);
  cairo_set_matrix(cr_, &matrix);
  cairo_set_fill_rule(cr_, rule);
  cairo_set_antialias(cr_, antialias);
  cairo_append_path(cr_, current);
  cairo_path_destroy(current);
}

void GraphicsContext::save() {
  cairo_save(cr_);
  stack_.push_back(state());
}

void GraphicsContext::restore() {
  if (stack_.size() <= 1) return;  // unbalanced restore: ignored, as the platform does
  cairo_restore(cr_);
  stack_.pop_back();
}

void GraphicsContext::translate(double tx, double ty) { cairo_translate(cr_, tx, ty); }
void GraphicsContext::scaleBy(double sx, double sy) {
  if (sx == 0 || sy == 0) return;  // a singular matrix would put cairo in an error state
  cairo_scale(cr_, sx, sy);
}
void GraphicsContext::rotate(double angle) { cairo_rotate(cr_, angle); }
void GraphicsContext::concat(const AffineTransform& t) {
  if (t.a * t.d - t.b * t.c == 0) return;
  cairo_matrix_t m{t.a, t.b, t.c, t.d, t.tx, t.ty};
  cairo_transform(cr_, &m);
}
AffineTransform GraphicsContext::ctm() const {
  cairo_matrix_t m;
  cairo_get_matrix(cr_, &m);
  return {m.xx, m.yx, m.xy, m.yy, m.x0, m.y0};
}

void GraphicsContext::setFillColor(const Color& c) { state().fill = c; }
void GraphicsContext::setStrokeColor(const Color& c) { state().stroke = c; }
void GraphicsContext::setLineWidth(double w) { cairo_set_line_width(cr_, std::max(0.0, w)); }
void GraphicsContext::setLineCap(LineCap cap) {
  cairo_set_line_cap(cr_, cap == LineCap::Round    ? CAIRO_LINE_CAP_ROUND
                          : cap == LineCap::Square ? CAIRO_LINE_CAP_SQUARE
                                                   : CAIRO_LINE_CAP_BUTT);
}
void GraphicsContext::setLineJoin(LineJoin join) {
  cairo_set_line_join(cr_, join == LineJoin::Round   ? CAIRO_LINE_JOIN_ROUND
                           : join == LineJoin::Bevel ? CAIRO_LINE_JOIN_BEVEL
                                                     : CAIRO_LINE_JOIN_MITER);
}
void GraphicsContext::setMiterLimit(double limit) { cairo_set_miter_limit(cr_, limit); }
void GraphicsContext::setLineDash(double phase, const std::vector<double>& lengths) {
  bool allZero = std::all_of(lengths.begin(), lengths.end(), [](double v) { return v <= 0; });
  if (lengths.empty() || allZero) {
    cairo_set_dash(cr_, nullptr, 0, 0);
    return;
  }
  cairo_set_dash(cr_, lengths.data(), static_cast<int>(lengths.size()), phase);
}
void GraphicsContext::setAlpha(double alpha) { state().alpha = std::clamp(alpha, 0.0, 1.0); }
void GraphicsContext::setBlendMode(BlendMode mode) { state().blend = mode; }
void GraphicsContext::setShouldAntialias(bool on) {
  cairo_set_antialias(cr_, on ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
}
void GraphicsContext::setShadow(Size offset, double blur, const Color& color) {
  state().shadow = color.a > 0;
  state().shadowOffset = offset;
  state().shadowBlur = std::max(0.0, blur);
  state().shadowColor = color;
}
void GraphicsContext::clearShadow() { state().shadow = false; }

void GraphicsContext::beginPath() { cairo_new_path(cr_); }
void GraphicsContext::moveTo(double x, double y) { cairo_move_to(cr_, x, y); }
void GraphicsContext::lineTo(double x, double y) {
  if (!cairo_has_current_point(cr_)) return;  // the platform ignores a line without a start
  cairo_line_to(cr_, x, y);
}
void GraphicsContext::curveTo(double c1x, double c1y, double c2x, double c2y, double x, double y) {
  if (!cairo_has_current_point(cr_)) return;
  cairo_curve_to(cr_, c1x, c1y, c2x, c2y, x, y);
}
void GraphicsContext::quadCurveTo(double cx, double cy, double x, double y) {
  if (!cairo_has_current_point(cr_)) return;
  double x0, y0;
  cairo_get_current_point(cr_, &x0, &y0);
  cairo_curve_to(cr_, x0 + 2.0 / 3.0 * (cx - x0), y0 + 2.0 / 3.0 * (cy - y0), x + 2.0 / 3.0 * (cx - x),
                 y + 2.0 / 3.0 * (cy - y), x, y);
}

namespace {
// Replays a path built from the current point without starting a new sub-path there.
void appendContinuing(cairo_t* cr, const Path& p, bool hadCurrent) {
  const auto& els = p.elements();
  std::size_t i = 0;
  if (hadCurrent && !els.empty() && els[0].op == Path::Op::Move) i = 1;
  for (; i < els.size(); ++i) {
    const auto& e = els[i];
    switch (e.op) {
      case Path::Op::Move: cairo_move_to(cr, e.p[0].x, e.p[0].y); break;
      case Path::Op::Line: cairo_line_to(cr, e.p[0].x, e.p[0].y); break;
      case Path::Op::Cubic:
        cairo_curve_to(cr, e.p[0].x, e.p[0].y, e.p[1].x, e.p[1].y, e.p[2].x, e.p[2].y);
        break;
      case Path::Op::Quad: {
        Path q;
        double x0, y0;
        cairo_get_current_point(cr, &x0, &y0);
        q.moveTo({x0, y0});
        q.quadCurveTo(e.p[0], e.p[1]);
        appendContinuing(cr, q, true);
        break;
      }
      case Path::Op::Close: cairo_close_path(cr); break;
    }
  }
}
}  // namespace

void GraphicsContext::addArc(double cx, double cy, double radius, double a0, double a1, int clockwiseFlag) {
  Path p;
  bool had = cairo_has_current_point(cr_);
  if (had) p.moveTo(currentPoint());
  p.addArc({cx, cy}, radius, a0, a1, clockwiseFlag != 0);
  appendContinuing(cr_, p, had);
}

void GraphicsContext::addArcToPoint(double x1, double y1, double x2, double y2, double radius) {
  if (!cairo_has_current_point(cr_)) return;
  Path p;
  p.moveTo(currentPoint());
  p.addArcToPoint({x1, y1}, {x2, y2}, radius);
  appendContinuing(cr_, p, true);
}

void GraphicsContext::addRect(const Rect& r) {
  Rect s = r.standardized();
  cairo_rectangle(cr_, s.x(), s.y(), s.width(), s.height());
}
void GraphicsContext::addEllipse(const Rect& r) { Path::ellipse(r).replay(cr_); }
void GraphicsContext::addPath(const Path& path) { path.replay(cr_); }
void GraphicsContext::closePath() { cairo_close_path(cr_); }
bool GraphicsContext::hasCurrentPoint() const { return cairo_has_current_point(cr_); }
Point GraphicsContext::currentPoint() const {
  double x = 0, y = 0;
  if (cairo_has_current_point(cr_)) cairo_get_current_point(cr_, &x, &y);
  return {x, y};
}

void GraphicsContext::drawShadow(const std::function<void(cairo_t*)>& op) {
  const State& s = state();
  // Work in device space over the clip's extents, grown by the blur.
  double x1, y1, x2, y2;
  cairo_clip_extents(cr_, &x1, &y1, &x2, &y2);
  cairo_matrix_t m;
  cairo_get_matrix(cr_, &m);
  double dx1 = x1, dy1 = y1, dx2 = x2, dy2 = y2;
  cairo_user_to_device(cr_, &dx1, &dy1);
  cairo_user_to_device(cr_, &dx2, &dy2);
  double blurPx = s.shadowBlur * scale_;
  double margin = std::ceil(blurPx * 1.5) + 1;
  int ox = static_cast<int>(std::floor(std::min(dx1, dx2) - margin));
  int oy = static_cast<int>(std::floor(std::min(dy1, dy2) - margin));
  int w = static_cast<int>(std::ceil(std::fabs(dx2 - dx1) + 2 * margin));
  int h = static_cast<int>(std::ceil(std::fabs(dy2 - dy1) + 2 * margin));
  if (w <= 0 || h <= 0 || w > 8192 || h > 8192) return;
  cairo_surface_t* mask = cairo_image_surface_create(CAIRO_FORMAT_A8, w, h);
  cairo_t* mc = cairo_create(mask);
  cairo_matrix_t shifted = m;
  shifted.x0 -= ox;
  shifted.y0 -= oy;
  cairo_set_matrix(mc, &shifted);
  cairo_set_line_width(mc, cairo_get_line_width(cr_));
  cairo_set_line_cap(mc, cairo_get_line_cap(cr_));
  cairo_set_line_join(mc, cairo_get_line_join(cr_));
  cairo_set_source_rgba(mc, 0, 0, 0, 1);
  op(mc);
  cairo_destroy(mc);
  if (blurPx > 0) blurSurface(mask, blurPx / 2);
  cairo_save(cr_);
  cairo_identity_matrix(cr_);
  setSource(cr_, s.shadowColor, s.alpha);
  cairo_set_operator(cr_, toCairo(s.blend));
  cairo_mask_surface(cr_, mask, ox + s.shadowOffset.width * scale_, oy + s.shadowOffset.height * scale_);
  cairo_restore(cr_);
  cairo_surface_destroy(mask);
}

void GraphicsContext::paint(const std::function<void(cairo_t*)>& op) {
  applyPendingClip();
  const State& s = state();
  if (s.shadow) drawShadow(op);
  cairo_save(cr_);
  if (s.alpha < 1.0 || s.blend != BlendMode::Normal) {
    cairo_push_group(cr_);
    op(cr_);
    cairo_pop_group_to_source(cr_);
    cairo_set_operator(cr_, toCairo(s.blend));
    cairo_paint_with_alpha(cr_, s.alpha);
  } else {
    op(cr_);
  }
  cairo_restore(cr_);
}

namespace {
// Blend modes whose result, for one paint through a mask, equals composing the masked source
// alone first and laying that down: the result moves linearly from the destination towards the
// full blend as the coverage grows. The others (copy, clear, the Porter-Duff "in" and "out"
// families, the saturating sums) touch pixels outside the source or clamp, and keep the group.
bool composesStraight(BlendMode m) {
  return m == BlendMode::Normal || (m >= BlendMode::Multiply && m <= BlendMode::Luminosity);
}
}  // namespace

void GraphicsContext::paintSource(const std::function<void(cairo_t*)>& setup) {
  auto once = [&](cairo_t* c) {
    cairo_save(c);
    setup(c);
    cairo_paint(c);
    cairo_restore(c);
  };
  const State& s = state();
  if (!composesStraight(s.blend)) return paint(once);
  if (s.shadow || s.alpha < 1.0) applyPendingClip();
  if (s.shadow) drawShadow(once);
  cairo_save(cr_);
  setup(cr_);
  cairo_set_operator(cr_, toCairo(s.blend));
  if (const auto& clip = s.pendingClip) {
    // Painting through the clip's path is filling it.
    clip->addTo(cr_);
    cairo_fill(cr_);
  } else {
    cairo_paint_with_alpha(cr_, s.alpha);
  }
  cairo_restore(cr_);
}

void GraphicsContext::fillOrStroke(bool stroke, FillRule rule, bool preserve) {
  applyPendingClip();
  const State& s = state();
  cairo_fill_rule_t fillRule = rule == FillRule::EvenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING;
  if (s.shadow) {
    cairo_path_t* path = cairo_copy_path(cr_);
    drawShadow([&](cairo_t* c) {
      cairo_new_path(c);
      cairo_append_path(c, path);
      cairo_set_fill_rule(c, fillRule);
      stroke ? cairo_stroke(c) : cairo_fill(c);
    });
    cairo_path_destroy(path);
  }
  cairo_save(cr_);
  cairo_set_operator(cr_, toCairo(s.blend));
  setSource(cr_, stroke ? s.stroke : s.fill, s.alpha);
  if (stroke) {
    cairo_stroke_preserve(cr_);
  } else {
    cairo_set_fill_rule(cr_, fillRule);
    cairo_fill_preserve(cr_);
  }
  cairo_restore(cr_);
  if (!preserve) cairo_new_path(cr_);
}

void GraphicsContext::fillPath(FillRule rule) { fillOrStroke(false, rule, false); }
void GraphicsContext::strokePath() { fillOrStroke(true, FillRule::Winding, false); }

void GraphicsContext::drawPath(PathDrawingMode mode) {
  switch (mode) {
    case PathDrawingMode::Fill: fillOrStroke(false, FillRule::Winding, false); break;
    case PathDrawingMode::EOFill: fillOrStroke(false, FillRule::EvenOdd, false); break;
    case PathDrawingMode::Stroke: fillOrStroke(true, FillRule::Winding, false); break;
    case PathDrawingMode::FillStroke:
      fillOrStroke(false, FillRule::Winding, true);
      fillOrStroke(true, FillRule::Winding, false);
      break;
    case PathDrawingMode::EOFillStroke:
      fillOrStroke(false, FillRule::EvenOdd, true);
      fillOrStroke(true, FillRule::Winding, false);
      break;
  }
}

void GraphicsContext::clip(FillRule rule) {
  applyPendingClip();  // one pending clip at a time
  state().pendingClip = std::make_shared<const PathClip>(cr_, rule);
  cairo_new_path(cr_);
  cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_WINDING);
}

void GraphicsContext::clipToRect(const Rect& r) {
  applyPendingClip();
  cairo_new_path(cr_);
  addRect(r);
  cairo_clip(cr_);
}

Rect GraphicsContext::clipBoundingBox() {
  applyPendingClip();
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  cairo_clip_extents(cr_, &x1, &y1, &x2, &y2);
  return Rect(x1, y1, x2 - x1, y2 - y1);
}

void GraphicsContext::fillRect(const Rect& r) {
  const State& s = state();
  if (s.pendingClip && !s.shadow && composesStraight(s.blend) && covers(r, *s.pendingClip)) {
    // Filling a rectangle that holds the whole clip is filling the clip's path: cairo would
    // otherwise lay the rectangle down once more through a mask of the clip.
    cairo_save(cr_);
    s.pendingClip->addTo(cr_);
    cairo_set_operator(cr_, toCairo(s.blend));
    setSource(cr_, s.fill, s.alpha);
    cairo_fill(cr_);
    cairo_restore(cr_);
    return;
  }
  cairo_new_path(cr_);
  addRect(r);
  fillPath();
}

bool GraphicsContext::covers(const Rect& rect, const PathClip& clip) {
  cairo_matrix_t m;
  cairo_get_matrix(cr_, &m);
  if (m.xy != 0 || m.yx != 0) return false;  // not a rectangle in device space
  auto deviceBox = [this](double x0, double y0, double x1, double y1) {
    double xs[4] = {x0, x1, x0, x1}, ys[4] = {y0, y0, y1, y1};
    Rect box;
    for (int i = 0; i < 4; ++i) {
      cairo_user_to_device(cr_, &xs[i], &ys[i]);
      Rect p(xs[i], ys[i], 0, 0);
      box = i == 0 ? p : box.unionWith(p);
    }
    return box;
  };
  Rect r = rect.standardized();
  Rect outer = deviceBox(r.minX(), r.minY(), r.maxX(), r.maxY());
  cairo_save(cr_);
  clip.addTo(cr_);
  double x0, y0, x1, y1;
  cairo_path_extents(cr_, &x0, &y0, &x1, &y1);
  Rect inner = deviceBox(x0, y0, x1, y1);
  cairo_new_path(cr_);
  cairo_restore(cr_);
  return outer.minX() <= inner.minX() && outer.minY() <= inner.minY() && outer.maxX() >= inner.maxX() &&
         outer.maxY() >= inner.maxY();
}

void GraphicsContext::strokeRect(const Rect& r) {
  cairo_new_path(cr_);
  addRect(r);
  strokePath();
}

void GraphicsContext::clearRect(const Rect& r) {
  applyPendingClip();
  cairo_save(cr_);
  cairo_new_path(cr_);
  addRect(r);
  cairo_set_operator(cr_, CAIRO_OPERATOR_CLEAR);
  cairo_fill(cr_);
  cairo_restore(cr_);
}

void GraphicsContext::fillEllipse(const Rect& r) {
  cairo_new_path(cr_);
  addEllipse(r);
  fillPath();
}

void GraphicsContext::strokeEllipse(const Rect& r) {
  cairo_new_path(cr_);
  addEllipse(r);
  strokePath();
}

void GraphicsContext::strokeLineSegments(const std::vector<Point>& pts) {
  cairo_new_path(cr_);
  for (std::size_t i = 0; i + 1 < pts.size(); i += 2) {
    cairo_move_to(cr_, pts[i].x, pts[i].y);
    cairo_line_to(cr_, pts[i + 1].x, pts[i + 1].y);
  }
  strokePath();
}

namespace {
void addStops(cairo_pattern_t* pat, const Gradient& g) {
  for (std::size_t i = 0; i < g.colors.size(); ++i) {
    const Color& c = g.colors[i];
    cairo_pattern_add_color_stop_rgba(pat, std::clamp(g.location(i), 0.0, 1.0), c.r, c.g, c.b, c.a);
  }
}
}  // namespace

void GraphicsContext::drawLinearGradient(const Gradient& g, Point start, Point end, unsigned options) {
  if (g.colors.empty()) return;
  cairo_pattern_t* pat = cairo_pattern_create_linear(start.x, start.y, end.x, end.y);
  addStops(pat, g);
  bool before = options & kGradientDrawsBeforeStartLocation, after = options & kGradientDrawsAfterEndLocation;
  cairo_pattern_set_extend(pat, (before || after) ? CAIRO_EXTEND_PAD : CAIRO_EXTEND_NONE);
  paintSource([&](cairo_t* c) {
    if (before != after) {
      // Only one side extends: clip away the half-plane of the other side.
      double dx = end.x - start.x, dy = end.y - start.y, len = std::hypot(dx, dy);
      if (len > 0) {
        double nx = dx / len, ny = dy / len, big = 1e5;
        Point edge = before ? end : start;
        double sign = before ? -1 : 1;
        Point a{edge.x - ny * big, edge.y + nx * big}, b{edge.x + ny * big, edge.y - nx * big};
        cairo_move_to(c, a.x, a.y);
        cairo_line_to(c, b.x, b.y);
        cairo_line_to(c, b.x + sign * nx * big, b.y + sign * ny * big);
        cairo_line_to(c, a.x + sign * nx * big, a.y + sign * ny * big);
        cairo_close_path(c);
        cairo_clip(c);
      }
    }
    cairo_set_source(c, pat);
  });
  cairo_pattern_destroy(pat);
}

void GraphicsContext::drawRadialGradient(const Gradient& g, Point c0, double r0, Point c1, double r1,
                                         unsigned options) {
  if (g.colors.empty()) return;
  cairo_pattern_t* pat = cairo_pattern_create_radial(c0.x, c0.y, std::max(0.0, r0), c1.x, c1.y, std::max(0.0, r1));
  addStops(pat, g);
  bool before = options & kGradientDrawsBeforeStartLocation, after = options & kGradientDrawsAfterEndLocation;
  cairo_pattern_set_extend(pat, (before || after) ? CAIRO_EXTEND_PAD : CAIRO_EXTEND_NONE);
  paintSource([&](cairo_t* c) {
    if (before && !after) {
      cairo_arc(c, c1.x, c1.y, std::max(0.0, r1), 0, 2 * M_PI);
      cairo_clip(c);
    } else if (after && !before && r0 > 0) {
      cairo_rectangle(c, -1e5, -1e5, 2e5, 2e5);
      cairo_arc_negative(c, c0.x, c0.y, r0, 2 * M_PI, 0);
      cairo_set_fill_rule(c, CAIRO_FILL_RULE_EVEN_ODD);
      cairo_clip(c);
    }
    cairo_set_source(c, pat);
  });
  cairo_pattern_destroy(pat);
}

void GraphicsContext::drawImage(const Image& image, const Rect& rect) {
  cairo_surface_t* src = image.surface();
  if (!src || rect.isEmpty()) return;
  Rect r = rect.standardized();
  double pw = image.pixelWidth(), ph = image.pixelHeight();
  if (pw <= 0 || ph <= 0) return;
  paintSource([&](cairo_t* c) {
    cairo_rectangle(c, r.x(), r.y(), r.width(), r.height());
    cairo_clip(c);
    cairo_translate(c, r.x(), r.y());
    cairo_scale(c, r.width() / pw, r.height() / ph);
    cairo_set_source_surface(c, src, 0, 0);
    cairo_pattern_set_extend(cairo_get_source(c), CAIRO_EXTEND_PAD);
  });
}

void GraphicsContext::beginTransparencyLayer() {
  applyPendingClip();
  layerStates_.push_back(state());
  save();
  state().alpha = 1;
  state().blend = BlendMode::Normal;
  state().shadow = false;
  cairo_push_group(cr_);
}

void GraphicsContext::endTransparencyLayer() {
  if (layerStates_.empty()) return;
  cairo_pattern_t* group = cairo_pop_group(cr_);
  restore();
  State s = layerStates_.back();
  layerStates_.pop_back();
  cairo_save(cr_);
  cairo_set_source(cr_, group);
  cairo_set_operator(cr_, toCairo(s.blend));
  cairo_paint_with_alpha(cr_, s.alpha);
  cairo_restore(cr_);
  cairo_pattern_destroy(group);
}

// ---- current context stack ----

namespace {
thread_local std::vector<GraphicsContext*> tContexts;
}

GraphicsContext* currentContext() { return tContexts.empty() ? nullptr : tContexts.back(); }
void pushContext(GraphicsContext* ctx) { tContexts.push_back(ctx); }
void popContext() {
  if (!tContexts.empty()) tContexts.pop_back();
}

// ---- blur ----

namespace {
// One horizontal then vertical box pass over one byte channel with stride step.
void boxPass(unsigned char* data, int w, int h, int stride, int bpp, int channel, int r) {
  std::vector<unsigned char> line(static_cast<std::size_t>(std::max(w, h)));
  int win = 2 * r + 1;
  for (int y = 0; y < h; ++y) {
    unsigned char* row = data + y * stride;
    int sum = 0;
    for (int x = -r; x <= r; ++x) sum += row[std::clamp(x, 0, w - 1) * bpp + channel];
    for (int x = 0; x < w; ++x) {
      line[x] = static_cast<unsigned char>(sum / win);
      sum += row[std::clamp(x + r + 1, 0, w - 1) * bpp + channel] - row[std::clamp(x - r, 0, w - 1) * bpp + channel];
    }
    for (int x = 0; x < w; ++x) row[x * bpp + channel] = line[x];
  }
  for (int x = 0; x < w; ++x) {
    int sum = 0;
    for (int y = -r; y <= r; ++y) sum += data[std::clamp(y, 0, h - 1) * stride + x * bpp + channel];
    for (int y = 0; y < h; ++y) {
      line[y] = static_cast<unsigned char>(sum / win);
      sum += data[std::clamp(y + r + 1, 0, h - 1) * stride + x * bpp + channel] -
             data[std::clamp(y - r, 0, h - 1) * stride + x * bpp + channel];
    }
    for (int y = 0; y < h; ++y) data[y * stride + x * bpp + channel] = line[y];
  }
}
}  // namespace

void blurSurface(cairo_surface_t* surface, double radius) {
  int r = static_cast<int>(std::lround(radius / 1.7));
  if (r <= 0) return;
  cairo_surface_flush(surface);
  unsigned char* data = cairo_image_surface_get_data(surface);
  int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
  int stride = cairo_image_surface_get_stride(surface);
  bool a8 = cairo_image_surface_get_format(surface) == CAIRO_FORMAT_A8;
  int bpp = a8 ? 1 : 4;
  for (int pass = 0; pass < 3; ++pass)
    for (int ch = 0; ch < bpp; ++ch) boxPass(data, w, h, stride, bpp, ch, r);
  cairo_surface_mark_dirty(surface);
}

}  // namespace pf
