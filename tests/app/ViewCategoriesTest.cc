#include <gtest/gtest.h>

#include "app/LayoutMethods.h"
#include "app/TnqAutoLayout.h"
#include "app/TnqColor.h"
#include "app/TnqExtension.h"
#include "app/TnqStyle.h"
#include "app/TnqUIViewAttribute.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

namespace {

using pf::Color;
using pf::Rect;
using pf::View;
namespace LM = app::LayoutMethods;
namespace AL = app::TnqAutoLayout;

TEST(TnqColor, HexTextInEveryAcceptedForm) {
  Color expected = Color::rgb(0xdb / 255.0, 0x2e / 255.0, 0x2e / 255.0, 1.0);
  for (const char* text : {"db2e2e", "#db2e2e", "0xDB2E2E", "0Xdb2e2e", "  #DB2E2E\n"})
    EXPECT_EQ(app::TnqColor::colorWithHexString(text), expected) << text;
  for (const char* text : {"#db2e2", "red", "", "#db2e2e00"})
    EXPECT_EQ(app::TnqColor::colorWithHexString(text), Color::clear()) << text;
  EXPECT_DOUBLE_EQ(app::TnqColor::TnqColorWithRed(255, 0, 0, 255).a, 1.0);
  EXPECT_DOUBLE_EQ(app::TnqColor::TnqColorWithRed(255, 0, 0, 1).a, 1.0 / 255.0);
}

TEST(LayoutMethods, FrameArithmetic) {
  auto v = View::make(Rect(10, 20, 30, 40));
  EXPECT_EQ(LM::bottom(*v), 60);
  EXPECT_EQ(LM::right(*v), 40);
  LM::setCenterX(*v, 100);
  EXPECT_EQ(v->frame(), Rect(85, 20, 30, 40));
  LM::setSize(*v, {10, 10});
  EXPECT_EQ(v->frame(), Rect(85, 20, 10, 10));
  EXPECT_EQ(&LM::topSuperView(*v), v.get());

  auto parent = View::make(Rect(0, 0, 200, 300));
  parent->addSubview(v);
  v->setFrame(Rect(10, 50, 20, 30));
  LM::bottomInContainer(*v, 10, true);  // y kept, stretched down to 10 above the bottom
  EXPECT_EQ(v->frame(), Rect(10, 50, 20, 240));
  LM::bottomInContainer(*v, 10, false);
  EXPECT_EQ(v->frame().y(), 50);
  LM::rightInContainer(*v, 5, false);
  EXPECT_EQ(v->frame().x(), 175);
  LM::topInContainer(*v, 20, true);  // the bottom edge stays
  EXPECT_EQ(v->frame(), Rect(175, 20, 20, 270));
  LM::leftInContainer(*v, 15, true);  // the right edge stays
  EXPECT_EQ(v->frame(), Rect(15, 20, 180, 270));
  LM::fill(*v);
  EXPECT_EQ(v->frame(), Rect(0, 0, 200, 300));
}

TEST(LayoutMethods, PositionsOfOtherViewsAreConverted) {
  auto root = View::make(Rect(0, 0, 320, 480));
  auto boxA = View::make(Rect(100, 100, 100, 100));
  auto inner = View::make(Rect(10, 10, 30, 20));  // in boxA: at (110, 110) on the root
  boxA->addSubview(inner);
  auto boxB = View::make(Rect(0, 200, 320, 200));
  auto v = View::make(Rect(0, 0, 50, 10));
  boxB->addSubview(v);
  root->addSubview(boxA);
  root->addSubview(boxB);
  LM::leftEqualToView(*v, *inner);
  EXPECT_EQ(v->frame().x(), 110);
  LM::topFromView(*v, 5, *inner);  // 5 below it: 110 + 20 + 5 on the root, -200 into boxB
  EXPECT_EQ(v->frame().y(), -65);
  LM::rightFromView(*v, 4, *inner);
  EXPECT_EQ(v->frame().x(), 144);
  LM::centerYEqualToView(*v, *inner);
  EXPECT_EQ(v->center().y, -80);
  LM::bottomEqualToView(*v, *inner);
  EXPECT_EQ(LM::bottom(*v), -70);
}

TEST(TnqAutoLayout, BuildersMatchingAndNames) {
  auto parent = View::make(Rect(0, 0, 300, 400));
  auto v = View::make(Rect(0, 0, 10, 10));
  parent->addSubview(v);
  auto w = AL::constraintWidth(v, 40);
  EXPECT_EQ(w->firstAttribute, pf::LayoutAttribute::Width);
  EXPECT_EQ(w->secondItem(), nullptr);
  auto size = AL::constraintsSizeEqualToView(v, parent);
  ASSERT_EQ(size.size(), 2u);
  EXPECT_EQ(size[0]->firstAttribute, pf::LayoutAttribute::Height);

  AL::centerInSuperView(v);
  ASSERT_EQ(parent->constraints().size(), 2u);
  EXPECT_EQ(parent->constraints()[0]->firstAttribute, pf::LayoutAttribute::CenterY);
  auto probe = pf::LayoutConstraint::make(v, pf::LayoutAttribute::CenterX, pf::LayoutRelation::Equal, parent,
                                          pf::LayoutAttribute::CenterX, 1.0, 0);
  EXPECT_EQ(AL::constraintMatchingConstraint(*v, *probe), parent->constraints()[1]);
  probe->constant = 1;
  EXPECT_EQ(AL::constraintMatchingConstraint(*v, *probe), nullptr);
  probe->constant = 0;
  AL::removeMatchingConstraint(*v, *probe);
  EXPECT_EQ(parent->constraints().size(), 1u);
  parent->layoutIfNeeded();

  EXPECT_EQ(AL::nameForLayoutAttribute(9), "centerX");
  EXPECT_EQ(AL::nameForLayoutAttribute(16), "bottomMargin");
  EXPECT_EQ(AL::nameForLayoutAttribute(12), "unknown attribute");
  EXPECT_EQ(AL::nameForLayoutRelation(1), ">=");
  EXPECT_EQ(AL::nameForLayoutRelation(2), "unknown relation");
  EXPECT_EQ(AL::nameForConstraint(*v, *parent->constraints()[0]),
            "NSLayoutConstraint firstItem([self])'s attribute(centerY) == secondItem(superview)'s attribute(centerY) "
            "constant = 0.000000");
  auto other = View::make();
  EXPECT_EQ(AL::nameForItem(*v, other.get()).rfind("[UIView:", 0), 0u);
  EXPECT_EQ(AL::nameForItem(*v, nullptr), "nil");

  auto fill = AL::constraintsFill(v);
  EXPECT_EQ(fill.size(), 4u);
  auto left = AL::constraintsLeftInContainer(v, 12);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0]->constant, 12);
  EXPECT_EQ(AL::constraintsTopFromView(v, 8, other)[0]->secondItem(), other);
}

TEST(TnqUIViewAttribute, DictionaryAttachedToAView) {
  auto v = View::make();
  EXPECT_FALSE(app::TnqUIViewAttribute::userBindDictionary(*v));
  app::TnqUIViewAttribute::setUserBindDictionary(*v, pf::Value{{"section", 2}});
  EXPECT_EQ((*app::TnqUIViewAttribute::userBindDictionary(*v))["section"], 2);
}

TEST(TnqExtension, ScaledImages) {
  auto img = pf::Image::blank(10, 20, 1);
  auto half = app::TnqExtension::toScale(*img, 0.5f);
  EXPECT_EQ(half->pixelWidth(), 5);
  EXPECT_EQ(half->pixelHeight(), 10);
  EXPECT_EQ(app::TnqExtension::scaleToSize(*img, {30, 7})->size(), (pf::Size{30, 7}));
}

class TnqStyleBars : public ::testing::Test {
 protected:
  void TearDown() override {
    pf::Device::current()->reset();
    pf::Application::shared().reset();
    pf::Image::resetNamed();
  }
  int backButtons(pf::ViewController& vc) {
    int n = 0;
    for (auto& s : vc.view()->subviews()) n += std::dynamic_pointer_cast<pf::Button>(s) != nullptr;
    return n;
  }
};

TEST_F(TnqStyleBars, BackButtonsDependOnTheStyleAndTheStack) {
  auto only = std::make_shared<pf::ViewController>();
  auto nav = pf::NavigationController::make(only);
  app::TnqStyle::blackNavigationBar(*only);
  EXPECT_EQ(backButtons(*only), 0);  // the black bar needs two controllers
  auto red = std::make_shared<pf::ViewController>();
  auto nav2 = pf::NavigationController::make(red);
  app::TnqStyle::redNavigationBarWithTitle(*red, "编辑自选");
  auto back = std::dynamic_pointer_cast<pf::Button>(red->view()->viewWithTag(app::TnqStyle::kRedBackButtonTag));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->frame(), Rect(375 * 20.0 / 750.0, 20, 23, 44));
  EXPECT_EQ(back->imageEdgeInsets, (pf::EdgeInsets{11, 5, 11, 6}));
  auto white = std::make_shared<pf::ViewController>();
  auto nav3 = pf::NavigationController::make(white);
  app::TnqStyle::whiteNavigationBarWithTitle(*white, "搜索");
  EXPECT_EQ(backButtons(*white), 1);

  auto second = std::make_shared<pf::ViewController>();
  nav2->pushViewController(second, false);
  EXPECT_EQ(nav2->viewControllers().size(), 2u);
  back->sendActionsForControlEvents(pf::kControlEventTouchUpInside);  // the red back button pops
  EXPECT_EQ(nav2->viewControllers().size(), 1u);
}

TEST_F(TnqStyleBars, OverriddenBackActionAndDetachedAccessors) {
  struct Screen : pf::ViewController, app::TnqBackActionHandler {
    int done = 0;
    void backAction(pf::Control*) override { ++done; }
  };
  auto screen = std::make_shared<Screen>();
  auto nav = pf::NavigationController::make(screen);
  app::TnqStyle::redNavigationBar(*screen);
  auto back = std::dynamic_pointer_cast<pf::Button>(screen->view()->viewWithTag(app::TnqStyle::kRedBackButtonTag));
  back->sendActionsForControlEvents(pf::kControlEventTouchUpInside);
  EXPECT_EQ(screen->done, 1);

  // The red bar has no tagged bar view: the accessor gives a new detached one.
  auto bar = app::TnqStyle::navBar(*screen);
  EXPECT_EQ(bar->superview(), nullptr);
  EXPECT_EQ(bar->tag(), app::TnqStyle::kNavBarTag);
  auto black = std::make_shared<pf::ViewController>();
  app::TnqStyle::blackNavigationBarWithTitle(*black, "自选");
  EXPECT_EQ(app::TnqStyle::navBar(*black)->frame(), Rect(0, 0, 375, 64));
  EXPECT_EQ(app::TnqStyle::line(*black)->frame(), Rect(0, 62, 375, 2));
  EXPECT_EQ(app::TnqStyle::titleLabel(*black)->text(), "自选");
}

TEST_F(TnqStyleBars, OldSystemsSwapTheScreenSides) {
  pf::Device::current()->setSystemVersion("7.1");
  EXPECT_EQ(app::TnqStyle::orientedScreenSize(), (pf::Size{667, 375}));
  auto vc = std::make_shared<pf::ViewController>();
  app::TnqStyle::blackNavigationBarWithTitle(*vc, "x");
  EXPECT_EQ(app::TnqStyle::bgView(*vc)->frame(), Rect(0, 0, 667, 375));
  pf::Device::current()->setSystemVersion("10.0");
  EXPECT_EQ(app::TnqStyle::orientedScreenSize(), (pf::Size{375, 667}));
}

TEST_F(TnqStyleBars, TipsAreOneButtonAlerts) {
  auto vc = std::make_shared<pf::ViewController>();
  auto alert = app::TnqStyle::showTip(*vc, "服务器内部错误", "提示");
  EXPECT_TRUE(alert->isVisible());
  EXPECT_EQ(alert->numberOfButtons(), 1);
  EXPECT_EQ(alert->buttonTitleAtIndex(0), "确定");
  alert->clickButtonAtIndex(0);
  EXPECT_TRUE(pf::Application::shared().visibleAlerts().empty());
}

}  // namespace
