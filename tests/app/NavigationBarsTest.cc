#include <gtest/gtest.h>

#include "app/LayoutMethods.h"
#include "app/TnqAutoLayout.h"
#include "app/TnqColor.h"
#include "app/TnqStyle.h"
#include "platform/ui/Application.h"
#include "platform/ui/Label.h"
#include "platform/ui/Renderer.h"
#include "platform/ui/Window.h"

namespace {

using pf::Rect;
namespace LM = app::LayoutMethods;
namespace AL = app::TnqAutoLayout;

class Bars : public ::testing::Test {
 protected:
  void TearDown() override { pf::Application::shared().reset(); }
  std::vector<std::shared_ptr<pf::View>> untagged(pf::ViewController& vc) {
    std::vector<std::shared_ptr<pf::View>> out;
    for (auto& s : vc.view()->subviews())
      if (s->tag() == 0 && !std::dynamic_pointer_cast<pf::Button>(s)) out.push_back(s);
    return out;
  }
};

TEST_F(Bars, RedBarGeometryAndColours) {
  auto vc = std::make_shared<pf::ViewController>();
  auto nav = pf::NavigationController::make(vc);
  app::TnqStyle::redNavigationBarWithTitle(*vc, "搜索");
  auto bg = vc->view()->viewWithTag(app::TnqStyle::kBgViewTag);
  ASSERT_TRUE(bg);
  EXPECT_EQ(bg->frame(), Rect(0, 0, 375, 667));
  auto views = untagged(*vc);
  ASSERT_EQ(views.size(), 2u);  // the bar and the title
  EXPECT_EQ(views[0]->frame(), Rect(0, 0, 375, 64));
  EXPECT_EQ(views[0]->backgroundColor(), app::TnqColor::colorWithHexString("#db2e2e"));
  auto title = std::dynamic_pointer_cast<pf::Label>(views[1]);
  ASSERT_TRUE(title);
  EXPECT_EQ(title->frame(), Rect(0, 20, 375, 40));
  EXPECT_EQ(title->font(), pf::Font::boldSystemFont(18));
  EXPECT_EQ(title->textAlignment(), pf::TextAlignment::Center);

  auto window = pf::Window::make(Rect(0, 0, 375, 667));
  window->setRootViewController(nav);
  window->makeKeyAndVisible();
  auto img = pf::render::screen(1);
  EXPECT_TRUE(img->pixel(200, 5).near(pf::Color::rgb(0xdb / 255.0, 0x2e / 255.0, 0x2e / 255.0), 0.02));
}

TEST_F(Bars, WhiteBarCarriesItsLineAtTheBottom) {
  auto vc = std::make_shared<pf::ViewController>();
  app::TnqStyle::whiteNavigationBarWithTitle(*vc, "自选");
  auto views = untagged(*vc);
  ASSERT_EQ(views.size(), 3u);  // background, bar, title
  EXPECT_EQ(views[1]->frame(), Rect(0, 0, 375, 64));
  ASSERT_EQ(views[1]->subviews().size(), 1u);
  EXPECT_EQ(views[1]->subviews()[0]->frame(), Rect(0, 62, 375, 2));
  auto title = std::dynamic_pointer_cast<pf::Label>(views[2]);
  ASSERT_TRUE(title);
  EXPECT_EQ(title->frame(), Rect(0, 22, 375, 40));
  EXPECT_EQ(title->textColor(), app::TnqColor::colorWithHexString("#ed7045"));
}

TEST_F(Bars, WebViewPinnedToItsContainerByConstraints) {
  auto container = pf::View::make(Rect(0, 20, 375, 647));
  auto web = pf::View::make(Rect(0, 0, 375, 667));
  container->addSubview(web);
  web->setTranslatesAutoresizingMaskIntoConstraints(false);
  for (auto& list : {AL::constraintsRightInContainer(web, 0), AL::constraintsLeftInContainer(web, 0),
                     AL::constraintsBottomInContainer(web, 0), AL::constraintsTopInContainer(web, 0)})
    container->addConstraints(list);
  container->layoutIfNeeded();
  EXPECT_EQ(web->frame(), Rect(0, 0, 375, 647));
  container->setFrame(Rect(0, 40, 375, 627));  // a taller status bar
  container->layoutIfNeeded();
  EXPECT_EQ(web->frame(), Rect(0, 0, 375, 627));

  auto box = pf::View::make(Rect(-20, 700, 40, 40));
  container->addSubview(box);
  box->setTranslatesAutoresizingMaskIntoConstraints(false);
  AL::constrainWithinSuperView(box);
  container->layoutIfNeeded();
  EXPECT_EQ(box->frame(), Rect(0, 587, 40, 40));  // pushed back inside

  auto centred = pf::View::make(Rect(0, 0, 20, 10));
  container->addSubview(centred);
  centred->setTranslatesAutoresizingMaskIntoConstraints(false);
  AL::centerInSuperView(centred);
  container->layoutIfNeeded();
  EXPECT_EQ(centred->center(), (pf::Point{187.5, 313.5}));
}

TEST(LayoutMethodsMore, EqualitiesAndFills) {
  auto root = pf::View::make(Rect(0, 0, 300, 300));
  auto a = pf::View::make(Rect(10, 20, 50, 60));
  auto b = pf::View::make(Rect(0, 0, 5, 5));
  root->addSubview(a);
  root->addSubview(b);
  LM::sizeEqualToView(*b, *a);
  EXPECT_EQ(LM::size(*b), (pf::Size{50, 60}));
  LM::setSize(*b, {10, 10});
  LM::rightEqualToView(*b, *a);
  EXPECT_EQ(LM::right(*b), 60);
  LM::topEqualToView(*b, *a);
  EXPECT_EQ(LM::y(*b), 20);
  LM::centerXEqualToView(*b, *a);
  EXPECT_EQ(LM::centerX(*b), 35);
  LM::leftFromView(*b, 3, *a);
  EXPECT_EQ(LM::x(*b), -3);
  LM::bottomFromView(*b, 2, *a);
  EXPECT_EQ(LM::y(*b), 8);
  LM::fillWidth(*b);
  LM::fillHeight(*b);
  EXPECT_EQ(LM::size(*b), (pf::Size{300, 300}));

  auto lone = pf::View::make(Rect(5, 5, 10, 10));  // no superview: its own space, zero container
  LM::fill(*lone);
  EXPECT_EQ(lone->frame(), Rect(0, 0, 0, 0));
  auto other = pf::View::make(Rect(100, 100, 10, 10));  // no superview either
  auto c = pf::View::make(Rect(0, 0, 4, 4));
  LM::leftEqualToView(*c, *other);
  EXPECT_EQ(LM::x(*c), 200);  // the origin taken in the other view's own space, then carried out
}

}  // namespace
