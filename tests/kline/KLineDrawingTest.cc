#include <gtest/gtest.h>

#include "ChartScenes.h"
#include "kline/KLineDrawing.h"
#include "kline/TnqKLineView.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/Renderer.h"
#include "support/ImageCompare.h"
#include "support/TestSupport.h"

using namespace kline;

namespace {

pf::Color hexColor(const char* text) { return ColorHelper::helperColorWithHexString(text, 1.0); }

// A candle layer of 100 by 100 points holding one candle, rendered at scale 2.
std::shared_ptr<pf::Image> candle(double lineWidth, pf::Point high, pf::Point low, pf::Point open, pf::Point close,
                                  bool isVol = false) {
  auto k = std::make_shared<Kline>(pf::Rect(0, 0, 100, 100));
  k->lineWidth = lineWidth;
  k->isVol = isVol;
  PointsModel p;
  p.high = high;
  p.low = low;
  p.open = open;
  p.close = close;
  p.MA5 = p.MA10 = p.MA20 = {0, 200};  // below the layer: no average line
  k->points = {p};
  return pf::render::view(*k, 2);
}

// Pixels of a row (or column) that show the colour.
int countRow(const pf::Image& image, int y, const pf::Color& c) {
  int n = 0;
  for (int x = 0; x < image.pixelWidth(); ++x) n += image.pixel(x, y).near(c, 0.02);
  return n;
}
int countColumn(const pf::Image& image, int x, const pf::Color& c) {
  int n = 0;
  for (int y = 0; y < image.pixelHeight(); ++y) n += image.pixel(x, y).near(c, 0.02);
  return n;
}

}  // namespace

TEST(KLineColors, HexTextsInEveryAcceptedForm) {
  for (const char* text : {"#d0402d", "0Xd0402d", "0xD0402D", "d0402d", "D0402D", "  #d0402d\n"}) {
    auto m = ColorHelper::RGBWithHexString(text, 0.5);
    ASSERT_TRUE(m) << text;
    EXPECT_EQ(m->R, 208);
    EXPECT_EQ(m->G, 64);
    EXPECT_EQ(m->B, 45);
    EXPECT_EQ(m->alpha, 0.5);
  }
  for (const char* text : {"#d040", "d0402d1", "", "#d0402"}) EXPECT_FALSE(ColorHelper::RGBWithHexString(text, 1)) << text;
  EXPECT_EQ(ColorHelper::RGBWithHexString("#GG0000", 1)->R, 0);
  EXPECT_EQ(ColorHelper::helperColorWithHexString("nope", 1), pf::Color::clear());
  EXPECT_TRUE(ColorHelper::helperColorWithHexString("#2e8ae6", 1).near(pf::Color::rgb(0x2e / 255.0, 0x8a / 255.0, 0xe6 / 255.0)));
}

TEST(KLineDrawing, CandleColoursWicksAndBodies) {
  const pf::Color rising = hexColor(kRisingColor), falling = hexColor(kFallingColor);
  // Falling: the open stands above the close on screen.
  auto fall = candle(10, {20, 10}, {20, 90}, {20, 30}, {20, 70});
  EXPECT_TRUE(fall->colorAt({20, 50}).near(falling, 0.02));
  EXPECT_EQ(countRow(*fall, 100, falling), 18);  // body 9 points wide
  EXPECT_EQ(countRow(*fall, 40, falling), 2);    // upper wick 1 point wide, ends at the open
  EXPECT_EQ(countRow(*fall, 170, falling), 2);   // lower wick starts at the close
  EXPECT_EQ(countColumn(*fall, 40, falling), 160);

  auto rise = candle(10, {20, 10}, {20, 90}, {20, 70}, {20, 30});
  EXPECT_TRUE(rise->colorAt({20, 50}).near(rising, 0.02));

  // Thin candles: half-point wicks and a one-point body.
  auto thin = candle(2, {20, 10}, {20, 90}, {20, 30}, {20, 70});
  EXPECT_EQ(countRow(*thin, 40, falling), 1);
  EXPECT_EQ(countRow(*thin, 100, falling), 2);

  // Equal open and close: a one-point bar in the rising colour.
  auto flat = candle(10, {60, 50}, {60, 50}, {60, 50}, {60, 50});
  EXPECT_EQ(countColumn(*flat, 120, rising), 2);

  // Volume bars run from high to low, without wicks.
  auto vol = candle(10, {20, 10}, {20, 90}, {20, 30}, {20, 70}, true);
  EXPECT_EQ(countRow(*vol, 40, falling), 18);
}

TEST(KLineDrawing, DottedGuidesAndTouches) {
  auto v = pf::View::make({0, 60, 300, 1});
  KLineDrawExtension::drawImaginaryLine(*v);
  KLineDrawExtension::drawImaginaryLine(*v);
  ASSERT_EQ(v->layer().sublayers().size(), 1u);
  auto line = KLineDrawExtension::dottedLineLayer(*v);
  ASSERT_TRUE(line);
  EXPECT_EQ(line->lineDashPattern(), (std::vector<double>{3, 1}));
  EXPECT_TRUE(line->strokeColor()->near(pf::Color::white(223 / 255.0)));
  EXPECT_FALSE(KLineDrawExtension::dottedVerticalLineLayer(*v));
  auto before = KLineDrawExtension::retainAssociatedNonatomicObject(*v, std::make_shared<int>(1), "k");
  EXPECT_FALSE(before);
  EXPECT_TRUE(KLineDrawExtension::getAssociatedObjectForKey(*v, "k"));
  KLineDrawExtension::removeAssociatedObjectForKey(*v, "k");
  EXPECT_FALSE(KLineDrawExtension::getAssociatedObjectForKey(*v, "k"));

  auto parent = pf::View::make({0, 0, 100, 100});
  auto k = std::make_shared<Kline>(pf::Rect(0, 0, 100, 100));
  auto child = pf::View::make({10, 10, 10, 10});
  parent->addSubview(k);
  k->addSubview(child);
  EXPECT_EQ(k->hitTest({50, 50}), nullptr);
  EXPECT_EQ(k->hitTest({15, 15}), child);
  EXPECT_EQ(parent->hitTest({50, 50}), parent);
}

// The chart as rendered: candle, average, grid and cross-hair colours where they must be.
TEST(KLineDrawing, ChartPixels) {
  pf::VirtualTimeScope time;
  auto image = chartscenes::render("chart-crosshair", 2);
  ASSERT_TRUE(image);
  const pf::Color grid = pf::Color::white(223 / 255.0), hair = hexColor("#999999"), ma5 = hexColor("#2e8ae6");
  // Grid line at H/4 of the frame (40 + 60): dashes of 3 on, 1 off.
  int dashed = countRow(*image, 200, grid);
  EXPECT_GT(dashed, 300);
  EXPECT_LT(dashed, 600);
  int hairs = 0, blue = 0;
  for (int y = 0; y < image->pixelHeight(); ++y)
    for (int x = 0; x < image->pixelWidth(); ++x) {
      hairs += image->pixel(x, y).near(hair, 0.02);
      blue += image->pixel(x, y).near(ma5, 0.02);
    }
  EXPECT_GT(hairs, 600 + 1000);  // a vertical and a horizontal line
  EXPECT_GT(blue, 300);
}

// Renders kept as references; regenerate with: render_chart tests/data/kline 2
TEST(KLineDrawing, ScenesStillLookAsReviewed) {
  pf::VirtualTimeScope time;
  for (const char* name : {"chart-100", "chart-zoomed", "chart-crosshair"}) {
    auto reference = pf::Image::fromFile(fxtest::dataPath(std::string("kline/") + name + ".png"));
    ASSERT_TRUE(reference) << name;
    auto now = chartscenes::render(name, 2);
    ASSERT_TRUE(now) << name;
    EXPECT_LT(fxtest::differingShare(*now, *reference), 0.01) << name;
  }
}
