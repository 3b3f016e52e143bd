#include "kline/KLineDrawing.h"

#include <algorithm>

#include "platform/ui/Path.h"
#include "widgets/TnqColor.h"

namespace kline {

pf::Color ColorModel::color() const {
  return pf::Color::rgb(static_cast<float>(R) / 255.0f, static_cast<float>(G) / 255.0f, static_cast<float>(B) / 255.0f,
                        alpha);
}

namespace ColorHelper {

std::optional<ColorModel> RGBWithHexString(const std::string& text, double alpha) {
  auto c = widgets::TnqColor::hexComponents(text);
  if (!c) return std::nullopt;
  return ColorModel{(*c)[0], (*c)[1], (*c)[2], alpha};
}

pf::Color helperColorWithHexString(const std::string& text, double alpha) {
  auto model = RGBWithHexString(text, alpha);
  return model ? model->color() : pf::Color::clear();
}

}  // namespace ColorHelper

void Kline::drawRect(const pf::Rect&) {
  pf::GraphicsContext* ctx = pf::currentContext();
  if (!ctx) return;
  std::vector<pf::Point> ma5, ma10, ma20;
  const double h = bounds().size.height;
  for (const PointsModel& p : points) {
    if (p.MA5.y < h) ma5.push_back(p.MA5);
    if (p.MA10.y < h) ma10.push_back(p.MA10);
    if (p.MA20.y < h) ma20.push_back(p.MA20);
    drawKWithContext(*ctx, p.high, p.low, p.open, p.close, lineWidth - 1.0);
  }
  drawWithContext(*ctx, ma5, ma5Color);
  drawWithContext(*ctx, ma10, ma10Color);
  drawWithContext(*ctx, ma20, ma20Color);
}

void Kline::drawKWithContext(pf::GraphicsContext& ctx, pf::Point high, pf::Point low, pf::Point open, pf::Point close,
                             double width) {
  ctx.setShouldAntialias(false);
  ColorModel c = *ColorHelper::RGBWithHexString(open.y < close.y ? kFallingColor : kRisingColor, 1.0);
  ctx.setStrokeColor(pf::Color::rgb(c.R / 255.0, c.G / 255.0, c.B / 255.0, layer().opacity()));
  if (!isVol) {
    ctx.setLineWidth(lineWidth <= 2.0 ? 0.5 : 1.0);
    ctx.strokeLineSegments({{high.x, high.y}, {high.x, std::min(open.y, close.y)}});
    ctx.strokeLineSegments({{low.x, std::max(open.y, close.y)}, {low.x, low.y}});
  }
  ctx.setLineWidth(width);
  pf::Point from = isVol ? high : open, to = isVol ? low : close;
  if (from.y == to.y) from.y += 1.0;  // a flat body still shows as a one-point bar
  ctx.strokeLineSegments({from, to});
}

void Kline::drawWithContext(pf::GraphicsContext& ctx, const std::vector<pf::Point>& line, const ColorModel& c) {
  ctx.setShouldAntialias(true);
  ctx.setLineWidth(1.0);
  ctx.setStrokeColor(pf::Color::rgb(c.R / 255.0, c.G / 255.0, c.B / 255.0, 1.0));
  for (std::size_t i = 1; i < line.size(); ++i) {
    ctx.beginPath();
    ctx.moveTo(line[i - 1].x, line[i - 1].y);
    ctx.lineTo(line[i].x, line[i].y);
    ctx.strokePath();
  }
}

std::shared_ptr<pf::View> Kline::hitTest(pf::Point point) {
  std::shared_ptr<pf::View> hit = View::hitTest(point);
  return hit.get() == this ? nullptr : hit;
}

namespace KLineDrawExtension {

namespace {
constexpr const char* kVerticalKey = "kline.dottedVerticalLineLayer";
constexpr const char* kHorizontalKey = "kline.dottedLineLayer";

std::shared_ptr<pf::ShapeLayer> dottedLayer(const pf::View& view, pf::Point to) {
  pf::Rect frame = view.frame();
  auto layer = pf::ShapeLayer::make();
  // The view's size at the origin: with the frame's origin the line would be drawn that far
  // away from its view.
  layer->setBounds(pf::Rect(0, 0, frame.width(), frame.height()));
  layer->setPosition({frame.size.width * 0.5, frame.size.height * 0.5});
  layer->setFillColor(pf::Color::clear());
  layer->setStrokeColor(pf::Color::rgb(223 / 255.0, 223 / 255.0, 223 / 255.0, 1.0));
  layer->setLineWidth(1.0);
  layer->setLineJoin(pf::LineJoin::Round);
  layer->setLineDashPattern({3, 1});
  pf::Path path;
  path.moveTo({0, 0});
  path.lineTo(to);
  layer->setPath(path);
  return layer;
}
}  // namespace

void drawDottedVerticalLineLayer(pf::View& view) {
  if (auto old = dottedVerticalLineLayer(view)) old->removeFromSuperlayer();
  auto layer = dottedLayer(view, {0, view.frame().size.height});
  view.layer().addSublayer(layer);
  setDottedVerticalLineLayer(view, layer);
}

void drawImaginaryLine(pf::View& view) {
  if (auto old = dottedLineLayer(view)) old->removeFromSuperlayer();
  auto layer = dottedLayer(view, {view.frame().size.width, 0});
  view.layer().addSublayer(layer);
  setDottedLineLayer(view, layer);
}

std::shared_ptr<pf::ShapeLayer> dottedVerticalLineLayer(const pf::View& view) {
  return std::static_pointer_cast<pf::ShapeLayer>(getAssociatedObjectForKey(view, kVerticalKey));
}

void setDottedVerticalLineLayer(pf::View& view, std::shared_ptr<pf::ShapeLayer> layer) {
  removeAssociatedObjectForKey(view, kVerticalKey);
  retainAssociatedNonatomicObject(view, std::move(layer), kVerticalKey);
}

std::shared_ptr<pf::ShapeLayer> dottedLineLayer(const pf::View& view) {
  return std::static_pointer_cast<pf::ShapeLayer>(getAssociatedObjectForKey(view, kHorizontalKey));
}

void setDottedLineLayer(pf::View& view, std::shared_ptr<pf::ShapeLayer> layer) {
  removeAssociatedObjectForKey(view, kHorizontalKey);
  retainAssociatedNonatomicObject(view, std::move(layer), kHorizontalKey);
}

std::shared_ptr<void> getAssociatedObjectForKey(const pf::View& view, const std::string& key) {
  return view.associatedObject(key);
}

std::shared_ptr<void> retainAssociatedNonatomicObject(pf::View& view, std::shared_ptr<void> object,
                                                      const std::string& key) {
  return view.setAssociatedObject(key, std::move(object));
}

void removeAssociatedObjectForKey(pf::View& view, const std::string& key) { view.setAssociatedObject(key, nullptr); }

}  // namespace KLineDrawExtension

}  // namespace kline
