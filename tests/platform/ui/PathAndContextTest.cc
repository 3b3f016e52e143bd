#include <gtest/gtest.h>

#include <cmath>

#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Image.h"
#include "platform/ui/Path.h"
#include "support/TestSupport.h"

namespace {

using pf::Color;
using pf::Path;
using pf::Point;
using pf::Rect;

double sweep(const Path& p) {
  // Total turning of the arc's end points about the origin, from its segments.
  double total = 0;
  for (auto& s : p.segments()) {
    double a0 = std::atan2(s.p0.y, s.p0.x), a1 = std::atan2(s.p1.y, s.p1.x);
    double d = a1 - a0;
    while (d > M_PI) d -= 2 * M_PI;
    while (d < -M_PI) d += 2 * M_PI;
    total += d;
  }
  return total;
}

TEST(Path, ArcSweepsFollowTheFlag) {
  Path full;
  full.addArc({0, 0}, 10, -M_PI / 2, 3 * M_PI / 2, false);
  EXPECT_NEAR(sweep(full), 2 * M_PI, 1e-9);
  Path none;
  none.addArc({0, 0}, 10, 1.0, 1.0, false);
  EXPECT_TRUE(none.segments().empty());
  Path backwards;  // flag 0 from 0 to -pi/2 goes the long way round
  backwards.addArc({0, 0}, 10, 0, -M_PI / 2, false);
  EXPECT_NEAR(sweep(backwards), 1.5 * M_PI, 1e-9);
  Path shortWay;
  shortWay.addArc({0, 0}, 10, 0, -M_PI / 2, true);
  EXPECT_NEAR(sweep(shortWay), -M_PI / 2, 1e-9);
  Path bezier;  // the bezier path's "clockwise" is the visual one
  bezier.addBezierArc({0, 0}, 10, 0, M_PI / 2, true);
  EXPECT_NEAR(sweep(bezier), M_PI / 2, 1e-9);
  EXPECT_NEAR(bezier.currentPoint().y, 10, 1e-9);
}

TEST(Path, ShapesAndWalking) {
  auto rr = Path::roundedRect(Rect(0, 0, 20, 10), 50);  // the radius is clamped to half the side
  EXPECT_EQ(rr.bounds(), Rect(0, 0, 20, 10));
  auto e = Path::ellipse(Rect(0, 0, 10, 20));
  EXPECT_EQ(e.bounds(), Rect(0, 0, 10, 20));
  Path poly;
  poly.addLines({{0, 0}, {3, 0}, {3, 4}});
  auto segs = poly.segments();
  ASSERT_EQ(segs.size(), 3u);  // the close adds the way back
  EXPECT_NEAR(segs[2].length(), 5, 1e-9);
  EXPECT_EQ(segs[1].at(0.5), (Point{3, 2}));
  auto moved = poly.transformed(pf::AffineTransform::translation(10, 0));
  EXPECT_EQ(moved.bounds().minX(), 10);
  EXPECT_FALSE(moved == poly);
  Path line;
  line.lineTo({5, 5});  // without a start, a line starts there
  EXPECT_TRUE(line.hasCurrentPoint());
  EXPECT_EQ(line.elements()[0].op, Path::Op::Move);
}

class Canvas {
 public:
  explicit Canvas(double w = 40, double h = 40) : ic_({w, h}, false, 1) {}
  pf::GraphicsContext& ctx() { return ic_.context(); }
  std::shared_ptr<pf::Image> image() { return ic_.image(); }

 private:
  pf::ImageContext ic_;
};

TEST(Context, DashesCapsAndWidths) {
  Canvas c(40, 10);
  auto& ctx = c.ctx();
  ctx.setStrokeColor(Color::black());
  ctx.setLineWidth(2);
  ctx.setLineDash(0, {3, 1});
  ctx.beginPath();
  ctx.moveTo(0, 5);
  ctx.lineTo(40, 5);
  ctx.strokePath();
  auto img = c.image();
  EXPECT_GT(img->pixel(1, 5).a, 0.9);
  EXPECT_LT(img->pixel(3, 5).a, 0.1);  // the gap of each 4-point period
  EXPECT_GT(img->pixel(5, 5).a, 0.9);
  EXPECT_LT(img->pixel(7, 5).a, 0.1);
  EXPECT_LT(img->pixel(1, 8).a, 0.1);

  Canvas caps(40, 10);
  caps.ctx().setLineWidth(4);
  caps.ctx().setLineCap(pf::LineCap::Square);
  caps.ctx().beginPath();
  caps.ctx().moveTo(10, 5);
  caps.ctx().lineTo(20, 5);
  caps.ctx().strokePath();
  img = caps.image();
  EXPECT_GT(img->pixel(9, 5).a, 0.9);  // the square cap reaches 2 beyond the end
  EXPECT_LT(img->pixel(7, 5).a, 0.1);
}

TEST(Context, StateIsSavedAndRestored) {
  Canvas c;
  auto& ctx = c.ctx();
  ctx.setFillColor(Color::red());
  ctx.save();
  ctx.setFillColor(Color::blue());
  ctx.setAlpha(0.5);
  ctx.clipToRect(Rect(0, 0, 10, 10));
  ctx.restore();
  ctx.restore();  // unbalanced: ignored
  EXPECT_EQ(ctx.fillColor(), Color::red());
  EXPECT_EQ(ctx.alpha(), 1.0);
  ctx.fillRect(Rect(20, 20, 10, 10));  // the clip went with the restore
  ctx.clearRect(Rect(25, 25, 2, 2));
  auto img = c.image();
  EXPECT_TRUE(img->pixel(22, 22).near(Color::red()));
  EXPECT_TRUE(img->pixel(25, 25).isClear());
}

TEST(Context, TransparencyLayersComposeAsOne) {
  Canvas c;
  auto& ctx = c.ctx();
  ctx.setAlpha(0.5);
  ctx.beginTransparencyLayer();
  ctx.setFillColor(Color::black());
  ctx.fillRect(Rect(0, 0, 20, 20));
  ctx.fillRect(Rect(10, 0, 20, 20));  // the overlap is not darker
  ctx.endTransparencyLayer();
  auto img = c.image();
  EXPECT_NEAR(img->pixel(5, 5).a, 0.5, 0.01);
  EXPECT_NEAR(img->pixel(15, 5).a, 0.5, 0.01);
}

TEST(Context, ShadowsFallUnderTheShape) {
  Canvas c;
  auto& ctx = c.ctx();
  ctx.setShadow({5, 5}, 0, Color::black());
  ctx.setFillColor(Color::red());
  ctx.fillRect(Rect(5, 5, 10, 10));
  auto img = c.image();
  EXPECT_TRUE(img->pixel(10, 10).near(Color::red()));
  EXPECT_TRUE(img->pixel(17, 17).near(Color::black()));
  EXPECT_TRUE(img->pixel(25, 25).isClear());

  Canvas blurred;
  blurred.ctx().setShadow({0, 0}, 6, Color::black());
  blurred.ctx().setFillColor(Color::red());
  blurred.ctx().fillRect(Rect(15, 15, 10, 10));
  img = blurred.image();
  double a = img->pixel(12, 20).a;  // soft edge outside the shape
  EXPECT_GT(a, 0.05);
  EXPECT_LT(a, 0.9);
}

TEST(Context, GradientsExtendOnlyWhereAsked) {
  auto g = pf::Gradient::make({Color::red(), Color::blue()});
  Canvas none(40, 40);
  none.ctx().drawLinearGradient(g, {0, 10}, {0, 30});
  auto img = none.image();
  EXPECT_TRUE(img->pixel(5, 5).isClear());
  EXPECT_TRUE(img->pixel(5, 35).isClear());
  EXPECT_GT(img->pixel(5, 12).r, 0.8);

  Canvas after(40, 40);
  after.ctx().drawLinearGradient(g, {0, 10}, {0, 30}, pf::kGradientDrawsAfterEndLocation);
  img = after.image();
  EXPECT_TRUE(img->pixel(5, 5).isClear());
  EXPECT_TRUE(img->pixel(5, 35).near(Color::blue(), 0.02));

  Canvas radial(40, 40);
  radial.ctx().drawRadialGradient(g, {20, 20}, 0, {20, 20}, 10, pf::kGradientDrawsAfterEndLocation);
  img = radial.image();
  EXPECT_TRUE(img->pixel(20, 20).near(Color::red(), 0.1));
  EXPECT_TRUE(img->pixel(1, 1).near(Color::blue(), 0.02));
}

TEST(Context, ImagesDrawStretchedAndNamedImagesLoad) {
  pf::ImageContext src({2, 2}, false, 1);
  src.context().setFillColor(Color::green());
  src.context().fillRect(Rect(0, 0, 1, 2));
  auto small = src.image();
  Canvas c;
  c.ctx().drawImage(*small, Rect(0, 0, 40, 40));
  auto img = c.image();
  EXPECT_TRUE(img->pixel(5, 20).near(Color::green(), 0.05));
  EXPECT_TRUE(img->pixel(35, 20).isClear());

  fxtest::TempDir dir;
  ASSERT_TRUE(small->writePNG(dir / "icon@2x.png"));
  pf::Image::resetNamed();
  pf::Image::addSearchDirectory(dir.path());
  auto named = pf::Image::named("icon");
  ASSERT_TRUE(named);
  EXPECT_EQ(named->scale(), 2.0);
  EXPECT_EQ(named->size(), (pf::Size{1, 1}));
  EXPECT_EQ(pf::Image::named("icon"), named);  // kept once loaded
  EXPECT_FALSE(pf::Image::named("missing"));
  auto big = named->resized({10, 10}, 1);
  EXPECT_TRUE(big->colorAt({2, 5}).near(Color::green(), 0.05));
  pf::Image::resetNamed();
}

}  // namespace
