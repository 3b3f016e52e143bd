#include "platform/ui/Renderer.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <optional>

#include "platform/ui/Application.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Screen.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"

namespace pf::render {

namespace {

// A layer's presentation values: its model values themselves while no animation runs (no copy).
class Presented {
 public:
  explicit Presented(const Layer& layer) {
    if (layer.hasAnimations()) animated_ = layer.presentationProps();
  }
  const LayerProps& of(const Layer& layer) const { return animated_ ? *animated_ : layer.model(); }

 private:
  std::optional<LayerProps> animated_;
};

// From a layer's space to its superlayer's: about the anchor point, then to the position.
AffineTransform toSuperlayer(const LayerProps& p) {
  return AffineTransform::translation(-p.bounds.x() - p.anchorPoint.x * p.bounds.width(),
                                      -p.bounds.y() - p.anchorPoint.y * p.bounds.height())
      .concat(p.transform.affine())
      .concat(AffineTransform::translation(p.position.x, p.position.y));
}

bool singular(const AffineTransform& t) { return t.a * t.d - t.b * t.c == 0; }

bool invisible(const LayerProps& p) { return p.hidden || p.opacity <= 0; }

bool castsShadow(const LayerProps& p) {
  return p.shadowOpacity > 0 && p.shadowColor.a > 0 &&
         (p.shadowPath || (p.backgroundColor && p.backgroundColor->a > 0));
}

// Where the drawing of a layer and its sublayers can reach, in the layer's own space: its bounds
// (background, contents, own drawing and border all stay inside), its shadow, and the sublayers
// it does not clip. A null rect: nothing.
Rect reach(const Layer& layer, const LayerProps& p) {
  Rect out = p.bounds;
  if (castsShadow(p)) {
    Rect shape = p.shadowPath ? p.shadowPath->bounds() : p.bounds;
    // The blur spreads less than one and a half radii; a point more covers rounding to pixels.
    double spread = p.shadowRadius * 1.5 + 1;
    out = out.unionWith(shape.insetBy(-spread, -spread).offsetBy(p.shadowOffset.width, p.shadowOffset.height));
  }
  if (p.masksToBounds) return out;
  for (const auto& s : layer.sublayers()) {
    Presented sp(*s);
    const LayerProps& q = sp.of(*s);
    if (invisible(q)) continue;
    AffineTransform t = toSuperlayer(q);
    if (singular(q.transform.affine())) continue;
    Rect r = reach(*s, q);
    if (!r.isNull()) out = out.unionWith(t.apply(r));
  }
  return out;
}

// Limits drawing to the whole device pixels that hold rect (user space): the clip has no
// partly covered pixels, so what is drawn inside it is unchanged.
void clipToPixelsOf(cairo_t* cr, const Rect& rect, const AffineTransform& ctm) {
  Rect d = ctm.apply(rect);
  double x0 = std::floor(d.minX()), y0 = std::floor(d.minY());
  double x1 = std::ceil(d.maxX()), y1 = std::ceil(d.maxY());
  cairo_matrix_t m;
  cairo_get_matrix(cr, &m);
  cairo_identity_matrix(cr);
  cairo_new_path(cr);
  cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
  cairo_clip(cr);
  cairo_set_matrix(cr, &m);
}

// Sublayers in drawing order (by z position, keeping the list order among equals), one list per
// depth of the tree, reused from frame to frame and emptied after use so that it keeps no layer
// alive. A deque: deeper levels are added while shallower lists are in use.
thread_local std::deque<std::vector<std::shared_ptr<Layer>>> tOrder;

std::vector<std::shared_ptr<Layer>>& drawingOrder(const Layer& layer, std::size_t depth) {
  if (tOrder.size() <= depth) tOrder.resize(depth + 1);
  auto& list = tOrder[depth];
  list.assign(layer.sublayers().begin(), layer.sublayers().end());
  auto byZ = [](const auto& a, const auto& b) { return a->zPosition() < b->zPosition(); };
  if (!std::is_sorted(list.begin(), list.end(), byZ)) std::stable_sort(list.begin(), list.end(), byZ);
  return list;
}

void drawLayer(GraphicsContext& ctx, Layer& layer, bool applyOwnGeometry, std::size_t depth) {
  Presented presented(layer);
  const LayerProps& p = presented.of(layer);
  if (invisible(p)) return;
  if (applyOwnGeometry && singular(p.transform.affine())) return;  // flattened to nothing
  ctx.save();
  if (applyOwnGeometry) {
    ctx.translate(p.position.x, p.position.y);
    AffineTransform t = p.transform.affine();
    if (!t.isIdentity()) ctx.concat(t);
    ctx.translate(-p.anchorPoint.x * p.bounds.width(), -p.anchorPoint.y * p.bounds.height());
  }
  ctx.translate(-p.bounds.x(), -p.bounds.y());
  const Rect bounds = p.bounds;
  const bool rounded = p.cornerRadius > 0;
  std::optional<Path> roundedShape;
  auto shape = [&]() -> const Path& {
    if (!roundedShape) roundedShape = Path::roundedRect(bounds, p.cornerRadius);
    return *roundedShape;
  };
  auto addShape = [&] {
    ctx.beginPath();
    if (rounded)
      ctx.addPath(shape());
    else
      ctx.addRect(bounds);
  };
  const bool hasBackground = p.backgroundColor && p.backgroundColor->a > 0;

  // A layer fades as a whole: it is composed on a surface of its own, just as large as what it
  // draws, and laid down with its opacity.
  const bool group = p.opacity < 1.0;
  if (group) {
    Rect extent = reach(layer, p);
    if (extent.isEmpty()) {
      ctx.restore();
      return;
    }
    cairo_t* cr = ctx.cairo();
    clipToPixelsOf(cr, extent, ctx.ctm());
    cairo_push_group(cr);
  }

  if (castsShadow(p)) {
    ctx.save();
    ctx.setShadow(p.shadowOffset, p.shadowRadius, p.shadowColor.withAlpha(p.shadowColor.a * p.shadowOpacity));
    // Only the shadow: the shape itself is painted clear over the area where it lies.
    ctx.setFillColor(Color::clear());
    ctx.beginPath();
    if (p.shadowPath)
      ctx.addPath(*p.shadowPath);
    else
      addShape();
    ctx.fillPath();
    ctx.restore();
  }
  if (hasBackground) {
    ctx.setFillColor(*p.backgroundColor);
    addShape();
    ctx.fillPath();
  }
  ctx.save();
  if (p.masksToBounds) {
    if (rounded) {
      addShape();
      ctx.clip();
    } else {
      ctx.clipToRect(bounds);
    }
  }
  if (p.contents) ctx.drawImage(*p.contents, bounds);
  ctx.save();
  ctx.clipToRect(bounds);
  ctx.beginPath();
  layer.drawInContext(ctx, p);
  layer.clearNeedsDisplay();
  ctx.restore();
  if (!layer.sublayers().empty()) {
    auto& subs = drawingOrder(layer, depth);
    struct Emptied {
      std::vector<std::shared_ptr<Layer>>& list;
      ~Emptied() { list.clear(); }  // also when a view's drawing raises
    } emptied{subs};
    for (auto& s : subs) drawLayer(ctx, *s, true, depth + 1);
  }
  ctx.restore();
  if (p.borderWidth > 0 && p.borderColor.a > 0) {
    ctx.setStrokeColor(p.borderColor);
    ctx.setLineWidth(p.borderWidth);
    ctx.setLineDash(0, {});
    ctx.beginPath();
    Rect inner = bounds.insetBy(p.borderWidth / 2, p.borderWidth / 2);
    if (!inner.isNull()) ctx.addPath(Path::roundedRect(inner, std::max(0.0, p.cornerRadius - p.borderWidth / 2)));
    ctx.strokePath();
  }
  if (group) {
    cairo_t* cr = ctx.cairo();
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, p.opacity);
  }
  ctx.restore();
}

// Whether the lowest visible window paints every pixel of the screen with an opaque colour, so
// the bitmap needs no clearing before.
bool coversScreen(const std::vector<std::shared_ptr<Window>>& windows, const Rect& screen, double scale) {
  if (windows.empty()) return false;
  const Layer& layer = windows.front()->layer();
  Presented presented(layer);
  const LayerProps& p = presented.of(layer);
  if (invisible(p) || p.opacity < 1 || p.cornerRadius > 0 || !p.backgroundColor || p.backgroundColor->a < 1) return false;
  AffineTransform t = p.transform.affine();
  if (t.b != 0 || t.c != 0 || singular(t)) return false;
  Rect frame = toSuperlayer(p).apply(p.bounds);
  // The bitmap's last row and column may stand out of the screen by a part of a point.
  double w = std::ceil(screen.width() * scale - 1e-9) / scale, h = std::ceil(screen.height() * scale - 1e-9) / scale;
  return frame.minX() <= screen.minX() && frame.minY() <= screen.minY() && frame.maxX() >= screen.minX() + w &&
         frame.maxY() >= screen.minY() + h;
}

}  // namespace

void layerTree(GraphicsContext& ctx, Layer& layer) { drawLayer(ctx, layer, true, 0); }

void layoutWindows() {
  for (auto& w : Application::shared().visibleWindows()) w->layoutIfNeeded();
}

std::shared_ptr<Image> screen(double scale) {
  if (scale <= 0) scale = Screen::main()->scale();
  Rect sb = Screen::main()->bounds();
  layoutWindows();
  auto windows = Application::shared().visibleWindows();
  ImageContext ic(sb.size, true, scale, coversScreen(windows, sb, scale) ? BitmapStart::Undefined : BitmapStart::Cleared);
  for (auto& w : windows) layerTree(ic.context(), w->layer());
  return ic.takeImage();
}

std::shared_ptr<Image> view(View& v, double scale) {
  if (scale <= 0) scale = Screen::main()->scale();
  v.layoutIfNeeded();
  Rect b = v.bounds();
  ImageContext ic(b.size, false, scale);
  drawLayer(ic.context(), v.layer(), false, 0);
  return ic.takeImage();
}

}  // namespace pf::render
