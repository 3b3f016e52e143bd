#pragma once
// Drawing pieces of the chart: colour records and hex colours, the candle layer, the dotted
// guide lines, and the frame helpers (the widgets' own).

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kline/TradeModel.h"
#include "platform/ui/Color.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Layer.h"
#include "platform/ui/View.h"
#include "widgets/LayoutMethods.h"

namespace kline {

namespace KLineLayoutMethods = ::widgets::LayoutMethods;

// An RGB colour with 0-255 components and an alpha.
struct ColorModel {
  int R = 0, G = 0, B = 0;
  double alpha = 1.0;
  // Components divided by 255 (in single precision), with the model's alpha.
  pf::Color color() const;
};

namespace ColorHelper {
// "#RRGGBB", "0XRRGGBB" or "RRGGBB" (any case, blanks around) with the alpha; nil otherwise.
std::optional<ColorModel> RGBWithHexString(const std::string& text, double alpha);
inline std::optional<ColorModel> RGBWithHexString1(const std::string& text, double alpha) {
  return RGBWithHexString(text, alpha);
}
// The colour of that model; the clear colour for text that gives none.
pf::Color helperColorWithHexString(const std::string& text, double alpha);
}  // namespace ColorHelper

// The colours of rising and falling candles.
inline constexpr const char* kRisingColor = "#d0402d";
inline constexpr const char* kFallingColor = "#17b03e";

// Strokes the visible candles (or volume bars) and then the three average lines. Touches on
// the layer itself go through to the views beneath.
class Kline : public pf::View {
 public:
  explicit Kline(const pf::Rect& frame = pf::Rect()) : View(frame) {}
  std::string className() const override { return "Kline"; }

  std::vector<PointsModel> points;
  double lineWidth = 0;  // candle width; bodies are one point narrower
  bool isVol = false;
  bool isK = false;
  std::string color;
  ColorModel ma5Color, ma10Color, ma20Color;
  pf::Point startPoint, endPoint;

  void drawRect(const pf::Rect& rect) override;
  void drawKWithContext(pf::GraphicsContext& ctx, pf::Point high, pf::Point low, pf::Point open, pf::Point close,
                        double width);
  // One polyline, stroked segment by segment.
  void drawWithContext(pf::GraphicsContext& ctx, const std::vector<pf::Point>& points, const ColorModel& color);
  std::shared_ptr<pf::View> hitTest(pf::Point point) override;
};

// Dotted guide lines kept on a view (223 grey, 3 on 1 off).
namespace KLineDrawExtension {
void drawDottedVerticalLineLayer(pf::View& view);
void drawImaginaryLine(pf::View& view);
std::shared_ptr<pf::ShapeLayer> dottedVerticalLineLayer(const pf::View& view);
void setDottedVerticalLineLayer(pf::View& view, std::shared_ptr<pf::ShapeLayer> layer);
std::shared_ptr<pf::ShapeLayer> dottedLineLayer(const pf::View& view);
void setDottedLineLayer(pf::View& view, std::shared_ptr<pf::ShapeLayer> layer);
std::shared_ptr<void> getAssociatedObjectForKey(const pf::View& view, const std::string& key);
std::shared_ptr<void> retainAssociatedNonatomicObject(pf::View& view, std::shared_ptr<void> object,
                                                      const std::string& key);
void removeAssociatedObjectForKey(pf::View& view, const std::string& key);
}  // namespace KLineDrawExtension

}  // namespace kline
