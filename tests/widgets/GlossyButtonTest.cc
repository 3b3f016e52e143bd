#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "platform/ui/Renderer.h"
#include "widgets/TnqGlossyButton.h"

namespace {

using pf::Color;
using pf::Rect;
using widgets::TnqGlossyButton;

bool grey(const Color& c) { return std::fabs(c.r - c.g) < 0.02 && std::fabs(c.g - c.b) < 0.02; }

TEST(GlossyButton, FillColoursFollowTheEnabledState) {
  auto b = TnqGlossyButton::make(Rect(0, 0, 100, 40));
  b->buttonBorderWidth = 0;
  b->innerBorderWidth = 0;
  b->setEnabled(false);
  auto img = pf::render::view(*b, 1);
  Color disabled = img->pixel(50, 3);
  EXPECT_TRUE(grey(disabled));
  EXPECT_NEAR(disabled.r, 2.0 / 3.0, 0.03);  // light grey over the 0.5 top of the gradient
  b->setEnabled(true);
  img = pf::render::view(*b, 1);
  EXPECT_NEAR(img->pixel(50, 3).r, 1.0, 0.03);  // white
  b->tintColor = Color::red();
  b->setNeedsDisplay();
  img = pf::render::view(*b, 1);
  Color tinted = img->pixel(50, 20);
  EXPECT_GT(tinted.r, tinted.g + 0.3);
  b->setHighlighted(true);
  img = pf::render::view(*b, 1);
  EXPECT_LT(img->pixel(50, 20).r, tinted.r);  // darkened by the multiply
}

TEST(GlossyButton, HalfOpacityLeavesTheTitleOpaque) {
  auto b = TnqGlossyButton::make(Rect(0, 0, 200, 40));
  b->tintColor = Color::black();
  b->buttonBorderWidth = 0;
  b->innerBorderWidth = 0;
  b->backgroundOpacity = 0.5;
  auto img = pf::render::view(*b, 1);
  EXPECT_NEAR(img->pixel(5, 20).a, 0.5, 0.02);
  b->setTitle("MMMM", pf::kControlStateNormal);
  b->titleLabel()->setFont(pf::Font::boldSystemFont(30));
  img = pf::render::view(*b, 2);
  double best = 0;
  for (int x = 0; x < 400; ++x) best = std::max(best, img->pixel(x, 40).a);
  EXPECT_GT(best, 0.95);
}

// The same button with no hole known: its rim is painted through the whole ring at once.
class WholeRingButton : public TnqGlossyButton {
 public:
  using TnqGlossyButton::TnqGlossyButton;
  pf::Rect ringHole(double) const override { return pf::Rect::null(); }
};

// The rim painted band by band must lay down exactly the pixels of the whole ring: no seam where
// two bands meet, nothing lost at the corners, on whole pixels or between them.
TEST(GlossyButton, BandedRimMatchesTheWholeRing) {
  struct Case {
    double scale, radius, inset;
    Rect frame;
  };
  const Case cases[] = {
      {2, 4, 0, Rect(0, 0, 120, 44)},     {1, 4, 0, Rect(0, 0, 120, 44)},   {3, 8, 0.3, Rect(0, 0, 90.5, 31)},
      {1.5, 0, 0.25, Rect(0, 0, 60, 20)}, {2, 30, 0, Rect(0, 0, 80, 40)},   {2, 0.5, 1.7, Rect(0, 0, 50, 9)},
  };
  for (const Case& c : cases) {
    auto banded = TnqGlossyButton::make(c.frame);
    auto whole = std::make_shared<WholeRingButton>(c.frame);
    for (TnqGlossyButton* b : {banded.get(), static_cast<TnqGlossyButton*>(whole.get())}) {
      b->tintColor = widgets::doneButtonColor();
      b->strokeType = 3;
      b->extraShadingType = 1;
      b->buttonCornerRadius = c.radius;
      b->buttonInsets = pf::EdgeInsets{c.inset, c.inset, c.inset, c.inset};
    }
    auto a = pf::render::view(*banded, c.scale), e = pf::render::view(*whole, c.scale);
    ASSERT_TRUE(a && e);
    ASSERT_EQ(a->pixelWidth(), e->pixelWidth());
    ASSERT_EQ(a->pixelHeight(), e->pixelHeight());
    int differing = 0;
    for (int y = 0; y < a->pixelHeight(); ++y)
      for (int x = 0; x < a->pixelWidth(); ++x) {
        Color p = a->pixel(x, y), q = e->pixel(x, y);
        double d = std::max({std::fabs(p.r - q.r), std::fabs(p.g - q.g), std::fabs(p.b - q.b), std::fabs(p.a - q.a)});
        if (d > 1.5 / 255) ++differing;
      }
    EXPECT_EQ(differing, 0) << "scale " << c.scale << ", radius " << c.radius << ", inset " << c.inset;
  }
}

TEST(GlossyButton, ShapesAndSettings) {
  EXPECT_DOUBLE_EQ(TnqGlossyButton::rimOffset(1.0), 0.5);
  EXPECT_DOUBLE_EQ(TnqGlossyButton::rimOffset(12.0), 2.0);
  EXPECT_DOUBLE_EQ(TnqGlossyButton::rimOffset(4.0), 1.0);

  auto b = TnqGlossyButton::make(Rect(0, 0, 100, 40));
  b->setGradientType(2);
  auto before = b->gradient().colors;
  b->setGradientType(7);
  EXPECT_EQ(b->gradient().colors, before);
  b->buttonCornerRadius = 2;
  auto square = b->pathForButton(3);  // radius below the inset: square corners
  for (auto& e : square.elements()) EXPECT_NE(e.op, pf::Path::Op::Cubic);
  EXPECT_EQ(square.bounds(), Rect(3, 3, 94, 34));

  auto badge = widgets::TnqBadgeButton::make(Rect(0, 0, 60, 60));
  auto star = badge->pathForButton(0);
  std::size_t corners = 0;
  for (auto& e : star.elements()) corners += e.op == pf::Path::Op::Move || e.op == pf::Path::Op::Line;
  EXPECT_EQ(corners, 48u);
  EXPECT_EQ(star.elements()[0].p[0], (pf::Point{60, 30}));  // outer radius, angle 0
  badge->numberOfEdges = 0;
  EXPECT_TRUE(badge->pathForButton(0).isEmpty());

  auto back = widgets::TnqNavigationButton::make(Rect(0, 0, 100, 30));
  back->leftArrow = true;
  back->setTitle("Back", pf::kControlStateNormal);
  EXPECT_DOUBLE_EQ(back->arrowDepth(), 9);
  pf::Button plain(Rect(0, 0, 100, 30));
  plain.setTitle("Back", pf::kControlStateNormal);
  Rect content(0, 0, 100, 30);
  EXPECT_NEAR(back->titleRectForContentRect(content).x() - plain.titleRectForContentRect(Rect(0, 0, 91, 30)).x(), 9, 0.5);
  EXPECT_EQ(back->pathForButton(0).bounds().minX(), 0);  // the tip reaches the left edge
}

TEST(GlossyButton, LabelColourCategories) {
  auto b = TnqGlossyButton::make(Rect(0, 0, 100, 40));
  widgets::useBlackLabel(*b, true);
  EXPECT_EQ(b->titleColorForState(pf::kControlStateNormal), Color::black());
  EXPECT_EQ(b->titleColorForState(pf::kControlStateDisabled), Color::darkGray());
  widgets::useBlackLabel(*b, false);
  EXPECT_EQ(b->titleColorForState(pf::kControlStateDisabled), Color::black());  // follows normal
  EXPECT_TRUE(widgets::doneButtonColor().near(Color::rgb(34 / 255.0, 96 / 255.0, 221 / 255.0)));
}

}  // namespace
