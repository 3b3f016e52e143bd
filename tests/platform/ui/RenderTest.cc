#include <gtest/gtest.h>

#include <cmath>

#include "platform/foundation/Clock.h"
#include "platform/ui/Application.h"
#include "platform/ui/Label.h"
#include "platform/ui/Renderer.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

namespace {

using pf::Color;
using pf::Rect;

class Render : public ::testing::Test {
 protected:
  void SetUp() override { pf::Screen::main()->setBounds(Rect(0, 0, 100, 100)); }
  void TearDown() override {
    pf::Application::shared().reset();
    pf::Screen::main()->reset();
  }
};

TEST_F(Render, WindowsStackByLevelAndViewsClipAndFade) {
  auto back = pf::Window::make(Rect(0, 0, 100, 100));
  back->setBackgroundColor(Color::white(1));
  back->setHidden(false);
  auto front = pf::Window::make(Rect(50, 0, 50, 100));
  front->setWindowLevel(pf::kWindowLevelAlert);
  front->setBackgroundColor(Color::red());
  front->setHidden(false);
  // Created after but on a lower level: drawn under the others.
  auto under = pf::Window::make(Rect(0, 0, 100, 100));
  under->setWindowLevel(-1);
  under->setBackgroundColor(Color::blue());
  under->setHidden(false);

  auto clip = pf::View::make(Rect(10, 10, 20, 20));
  clip->setClipsToBounds(true);
  auto child = pf::View::make(Rect(10, 10, 40, 40));
  child->setBackgroundColor(Color::green());
  clip->addSubview(child);
  back->addSubview(clip);
  auto faded = pf::View::make(Rect(0, 60, 40, 40));
  faded->setBackgroundColor(Color::black());
  faded->setAlpha(0.5);
  back->addSubview(faded);

  auto img = pf::render::screen(1);
  EXPECT_TRUE(img->pixel(75, 50).near(Color::red()));
  EXPECT_TRUE(img->pixel(25, 25).near(Color::green()));
  EXPECT_TRUE(img->pixel(35, 35).near(Color::white(1)));  // clipped away
  EXPECT_NEAR(img->pixel(20, 80).r, 0.5, 0.01);
}

TEST_F(Render, TransformsTurnAboutTheAnchorPointWithPresentationValues) {
  pf::VirtualTimeScope time;
  auto w = pf::Window::make(Rect(0, 0, 100, 100));
  w->setBackgroundColor(Color::white(1));
  w->setHidden(false);
  auto bar = pf::View::make(Rect(40, 10, 20, 80));  // a vertical bar through the centre
  bar->setBackgroundColor(Color::black());
  w->addSubview(bar);
  bar->setTransform(pf::AffineTransform::rotation(M_PI / 2));
  auto img = pf::render::screen(1);
  EXPECT_TRUE(img->pixel(15, 50).near(Color::black()));  // now horizontal
  EXPECT_TRUE(img->pixel(50, 15).near(Color::white(1)));

  pf::View::animate(1.0, 0, pf::kAnimationCurveLinear, [&] { bar->setAlpha(0); });
  time.advance(0.5);
  img = pf::render::screen(1);
  EXPECT_NEAR(img->pixel(15, 50).r, 0.5, 0.02);
}

// A faded layer is composed alone with all it draws: its shadow and a sublayer standing out of
// its bounds fade with it; where its background and its sublayer overlap, only the sublayer shows.
TEST_F(Render, FadedLayersComposeEverythingTheyDraw) {
  auto w = pf::Window::make(Rect(0, 0, 100, 100));
  w->setBackgroundColor(Color::white(1));
  w->setHidden(false);
  auto faded = pf::View::make(Rect(10, 10, 20, 20));
  faded->setBackgroundColor(Color::red());
  faded->setAlpha(0.5);
  faded->layer().setShadowOpacity(1);
  faded->layer().setShadowRadius(0);
  faded->layer().setShadowOffset({0, 30});
  auto child = pf::View::make(Rect(10, 10, 40, 10));  // half inside, half out
  child->setBackgroundColor(Color::black());
  faded->addSubview(child);
  w->addSubview(faded);
  auto img = pf::render::screen(1);
  EXPECT_TRUE(img->pixel(15, 15).near(Color::rgb(1, 0.5, 0.5), 0.02));  // red at half
  EXPECT_TRUE(img->pixel(25, 25).near(Color::white(0.5), 0.02));        // the child alone
  EXPECT_TRUE(img->pixel(45, 25).near(Color::white(0.5), 0.02));        // out of the bounds
  EXPECT_TRUE(img->pixel(15, 45).near(Color::white(0.5), 0.02));        // the shadow
  EXPECT_TRUE(img->pixel(65, 25).near(Color::white(1)));
}

// A transform that flattens a layer to a line or a point leaves nothing to see.
TEST_F(Render, FlattenedLayersDrawNothing) {
  auto w = pf::Window::make(Rect(0, 0, 100, 100));
  w->setBackgroundColor(Color::white(1));
  w->setHidden(false);
  auto v = pf::View::make(Rect(20, 20, 60, 60));
  v->setBackgroundColor(Color::black());
  w->addSubview(v);
  v->setTransform(pf::AffineTransform::scale(0, 0));
  EXPECT_TRUE(pf::render::screen(1)->pixel(50, 50).near(Color::white(1)));
  v->setTransform(pf::AffineTransform::scale(1, 0));
  EXPECT_TRUE(pf::render::screen(1)->pixel(50, 50).near(Color::white(1)));
}

// The screen is black where no window covers it, also after a frame where one did.
TEST_F(Render, TheScreenIsBlackOutsideTheWindows) {
  auto w = pf::Window::make(Rect(0, 0, 100, 100));
  w->setBackgroundColor(Color::white(1));
  w->setHidden(false);
  EXPECT_TRUE(pf::render::screen(2)->pixel(199, 199).near(Color::white(1)));
  w->setFrame(Rect(0, 0, 50, 100));
  auto img = pf::render::screen(2);
  EXPECT_TRUE(img->pixel(50, 100).near(Color::white(1)));
  EXPECT_TRUE(img->pixel(150, 100).near(Color::black()));
  w->setFrame(Rect(0, 0, 100, 100));
  w->setBackgroundColor(Color::white(1, 0.5));
  EXPECT_TRUE(pf::render::screen(2)->pixel(150, 100).near(Color::white(0.5)));
}

TEST_F(Render, LabelsDrawTheirText) {
  auto w = pf::Window::make(Rect(0, 0, 100, 100));
  w->setBackgroundColor(Color::white(1));
  w->setHidden(false);
  auto label = pf::Label::make(Rect(0, 0, 100, 40));
  label->setText("正在加载");
  label->setFont(pf::Font::boldSystemFont(16));
  w->addSubview(label);
  auto img = pf::render::screen(2);
  int dark = 0;
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 200; ++x)
      if (img->pixel(x, y).r < 0.5) ++dark;
  EXPECT_GT(dark, 100);
  EXPECT_EQ(img->pixelWidth(), 200);
}

}  // namespace
