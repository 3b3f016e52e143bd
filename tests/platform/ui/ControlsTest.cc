#include <gtest/gtest.h>

#include "platform/foundation/Clock.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace {

using pf::Rect;

class UiTest : public ::testing::Test {
 protected:
  void TearDown() override { pf::Application::shared().reset(); }
};

using Controls = UiTest;

TEST_F(Controls, ButtonStatesFallBackToNormal) {
  auto b = pf::Button::make(pf::ButtonType::Custom, Rect(0, 0, 100, 40));
  b->setTitle("OK", pf::kControlStateNormal);
  b->setTitleColor(pf::Color::red(), pf::kControlStateHighlighted);
  EXPECT_EQ(b->currentTitle(), "OK");
  EXPECT_EQ(b->currentTitleColor(), pf::Color::whiteColor());
  b->setHighlighted(true);
  EXPECT_EQ(b->currentTitleColor(), pf::Color::red());
  b->setHighlighted(false);
  b->setEnabled(false);
  EXPECT_EQ(b->currentTitle(), "OK");
  b->layoutIfNeeded();
  EXPECT_EQ(b->titleLabel()->text(), "OK");
  EXPECT_NEAR(b->titleLabel()->frame().midX(), 50, 0.5);
}

TEST_F(Controls, TapsReachRecognizersThenControlsThenTouches) {
  auto window = pf::Window::make(Rect(0, 0, 200, 200));
  window->makeKeyAndVisible();
  auto button = pf::Button::make(pf::ButtonType::Custom, Rect(0, 0, 100, 100));
  int pressed = 0;
  button->addTarget([&](pf::Control&) { ++pressed; }, pf::kControlEventTouchUpInside);
  window->addSubview(button);
  window->tapAt({50, 50});
  EXPECT_EQ(pressed, 1);
  button->setEnabled(false);
  window->tapAt({50, 50});
  EXPECT_EQ(pressed, 1);

  auto area = pf::View::make(Rect(100, 100, 100, 100));
  window->addSubview(area);
  pf::Point where;
  auto tap = std::make_shared<pf::TapGestureRecognizer>([&](pf::GestureRecognizer& g) { where = g.locationInView(area.get()); });
  area->addGestureRecognizer(tap);
  window->tapAt({150, 120});
  EXPECT_EQ(where, (pf::Point{50, 20}));
  tap->setEnabled(false);
  where = {};
  window->tapAt({150, 120});
  EXPECT_EQ(where, (pf::Point{}));
}

TEST_F(Controls, InjectedGestureStatesCallTheTargets) {
  auto v = pf::View::make(Rect(0, 0, 100, 100));
  std::vector<pf::GestureState> seen;
  auto pinch = std::make_shared<pf::PinchGestureRecognizer>([&](pf::GestureRecognizer& g) { seen.push_back(g.state()); });
  v->addGestureRecognizer(pinch);
  pinch->injectPinch(pf::GestureState::Began, 1.0);
  pinch->injectPinch(pf::GestureState::Changed, 1.4);
  EXPECT_DOUBLE_EQ(pinch->scale, 1.4);
  pinch->injectState(pf::GestureState::Ended);
  EXPECT_EQ(seen, (std::vector<pf::GestureState>{pf::GestureState::Began, pf::GestureState::Changed, pf::GestureState::Ended}));
  struct Refuse : pf::GestureRecognizerDelegate {
    bool gestureRecognizerShouldBegin(pf::GestureRecognizer&) override { return false; }
  };
  auto refuse = std::make_shared<Refuse>();
  pinch->delegate = refuse;
  pinch->injectState(pf::GestureState::Began);
  EXPECT_EQ(pinch->state(), pf::GestureState::Failed);
  EXPECT_EQ(seen.size(), 3u);
}

TEST_F(Controls, WindowsAndAlertsAreTrackedByTheApplication) {
  auto low = pf::Window::make(Rect(0, 0, 10, 10));
  auto high = pf::Window::make(Rect(0, 0, 10, 10));
  high->setWindowLevel(pf::kWindowLevelStatusBar);
  EXPECT_TRUE(pf::Application::shared().visibleWindows().empty());  // windows start hidden
  high->setHidden(false);
  low->makeKeyAndVisible();
  auto visible = pf::Application::shared().visibleWindows();
  ASSERT_EQ(visible.size(), 2u);
  EXPECT_EQ(visible[0], low);
  EXPECT_EQ(pf::Application::shared().keyWindow(), low);

  struct Listener : pf::AlertViewDelegate {
    std::vector<int> clicked, dismissed;
    void alertViewClickedButtonAtIndex(pf::AlertView&, int i) override { clicked.push_back(i); }
    void alertViewDidDismiss(pf::AlertView&, int i) override { dismissed.push_back(i); }
  };
  auto listener = std::make_shared<Listener>();
  auto alert = pf::AlertView::make("标题", "消息", listener, std::string("确定"));
  alert->show();
  EXPECT_EQ(pf::Application::shared().visibleAlerts().size(), 1u);
  EXPECT_EQ(alert->buttonTitleAtIndex(alert->cancelButtonIndex()), "确定");
  alert->clickButtonAtIndex(0);
  EXPECT_EQ(listener->clicked, std::vector<int>{0});
  EXPECT_EQ(listener->dismissed, std::vector<int>{0});
  EXPECT_TRUE(pf::Application::shared().visibleAlerts().empty());

  EXPECT_FALSE(pf::Application::shared().openURL("fxdemo://x"));
  pf::Application::shared().addOpenableScheme("fxdemo");
  EXPECT_TRUE(pf::Application::shared().openURL("fxdemo://x"));
  EXPECT_EQ(pf::Application::shared().openedURLs(), std::vector<std::string>{"fxdemo://x"});
}

TEST_F(Controls, NavigationStackShowsTheTopController) {
  auto root = std::make_shared<pf::ViewController>();
  auto nav = pf::NavigationController::make(root);
  auto window = pf::Window::make(Rect(0, 0, 320, 480));
  window->setRootViewController(nav);
  EXPECT_EQ(root->view()->superview(), nav->view());
  auto next = std::make_shared<pf::ViewController>();
  nav->pushViewController(next, true);
  EXPECT_EQ(next->navigationController(), nav);
  EXPECT_EQ(root->view()->superview(), nullptr);
  EXPECT_EQ(next->view()->frame(), Rect(0, 0, 320, 480));
  EXPECT_EQ(nav->popViewController(true), next);
  EXPECT_EQ(nav->popViewController(true), nullptr);  // the root stays
  EXPECT_EQ(nav->viewControllers().size(), 1u);
}

TEST_F(Controls, ImageAnimationAndSpinnerFollowTheClock) {
  pf::VirtualTimeScope time;
  auto a = pf::Image::blank(1, 1), b = pf::Image::blank(1, 1);
  auto iv = pf::ImageView::make(Rect(0, 0, 10, 10));
  iv->setAnimationImages({a, b});
  iv->setAnimationDuration(1.0);
  iv->startAnimating();
  EXPECT_EQ(iv->displayedImage(), a);
  time.advance(0.6);
  EXPECT_EQ(iv->displayedImage(), b);
  auto spinner = pf::ActivityIndicatorView::make(pf::ActivityIndicatorStyle::WhiteLarge);
  EXPECT_EQ(spinner->bounds().size, (pf::Size{37, 37}));
  EXPECT_TRUE(spinner->isHidden());
  spinner->startAnimating();
  EXPECT_FALSE(spinner->isHidden());
}

}  // namespace
