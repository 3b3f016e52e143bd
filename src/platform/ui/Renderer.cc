#include "platform/ui/Renderer.h"

#include <algorithm>

#include "platform/ui/Application.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Screen.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"

namespace pf::render {

namespace {

void drawLayer(GraphicsContext& ctx, Layer& layer, bool applyOwnGeometry) {
  LayerProps p = layer.presentationProps();
  if (p.hidden || p.opacity <= 0) return;
  cairo_t* cr = ctx.cairo();
  ctx.save();
  if (applyOwnGeometry) {
    ctx.translate(p.position.x, p.position.y);
    AffineTransform t = p.transform.affine();
    if (!t.isIdentity()) ctx.concat(t);
    ctx.translate(-p.anchorPoint.x * p.bounds.width(), -p.anchorPoint.y * p.bounds.height());
  }
  ctx.translate(-p.bounds.x(), -p.bounds.y());
  Rect bounds = p.bounds;
  Path shape = Path::roundedRect(bounds, p.cornerRadius);
  bool group = p.opacity < 1.0;
  if (group) cairo_push_group(cr);

  if (p.shadowOpacity > 0 && p.shadowColor.a > 0) {
    std::optional<Path> shadowShape = p.shadowPath;
    if (!shadowShape && p.backgroundColor && p.backgroundColor->a > 0) shadowShape = shape;
    if (shadowShape) {
      ctx.save();
      ctx.setShadow(p.shadowOffset, p.shadowRadius, p.shadowColor.withAlpha(p.shadowColor.a * p.shadowOpacity));
      // Only the shadow: the shape itself is painted clear over the area where it lies.
      ctx.setFillColor(Color::clear());
      ctx.beginPath();
      ctx.addPath(*shadowShape);
      ctx.fillPath();
      ctx.restore();
    }
  }
  if (p.backgroundColor && p.backgroundColor->a > 0) {
    ctx.setFillColor(*p.backgroundColor);
    ctx.beginPath();
    ctx.addPath(shape);
    ctx.fillPath();
  }
  ctx.save();
  if (p.masksToBounds) {
    ctx.beginPath();
    ctx.addPath(shape);
    ctx.clip();
  }
  if (p.contents) ctx.drawImage(*p.contents, bounds);
  ctx.save();
  ctx.clipToRect(bounds);
  ctx.beginPath();
  layer.drawInContext(ctx, p);
  layer.clearNeedsDisplay();
  ctx.restore();
  auto subs = layer.sublayers();
  std::stable_sort(subs.begin(), subs.end(), [](auto& a, auto& b) { return a->zPosition() < b->zPosition(); });
  for (auto& s : subs) drawLayer(ctx, *s, true);
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
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, p.opacity);
  }
  ctx.restore();
}

}  // namespace

void layerTree(GraphicsContext& ctx, Layer& layer) { drawLayer(ctx, layer, true); }

void layoutWindows() {
  for (auto& w : Application::shared().visibleWindows()) w->layoutIfNeeded();
}

std::shared_ptr<Image> screen(double scale) {
  if (scale <= 0) scale = Screen::main()->scale();
  Rect sb = Screen::main()->bounds();
  layoutWindows();
  ImageContext ic(sb.size, true, scale);
  for (auto& w : Application::shared().visibleWindows()) layerTree(ic.context(), w->layer());
  return ic.takeImage();
}

std::shared_ptr<Image> view(View& v, double scale) {
  if (scale <= 0) scale = Screen::main()->scale();
  v.layoutIfNeeded();
  Rect b = v.bounds();
  ImageContext ic(b.size, false, scale);
  drawLayer(ic.context(), v.layer(), false);
  return ic.takeImage();
}

}  // namespace pf::render
