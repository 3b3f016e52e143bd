#include <gtest/gtest.h>

#include <cmath>

#include "platform/foundation/Clock.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Renderer.h"
#include "platform/ui/Screen.h"
#include "widgets/MwProgressHUD.h"
#include "widgets/PylProgressHUD.h"
#include "widgets/TnqProgressHUD.h"

namespace {

using pf::Rect;

class Orientation : public ::testing::Test {
 protected:
  pf::VirtualTimeScope time;
  void TearDown() override {
    pf::Application::shared().reset();
    pf::Device::current()->reset();
  }
  double angle(const pf::View& v) { return v.transform().isIdentity() ? 0 : std::atan2(v.transform().b, v.transform().a); }
};

TEST_F(Orientation, ChartOverlayRotatesOnlyInWindowsOfOldSystems) {
  auto window = pf::Window::make(Rect(0, 0, 320, 480));
  pf::Application::shared().setStatusBarOrientation(pf::InterfaceOrientation::LandscapeLeft);
  auto modern = widgets::TnqProgressHUD::showHUDAddedTo(window, false);
  EXPECT_TRUE(modern->transform().isIdentity());  // system 9: the window turns its content
  modern->hide(false);

  pf::Device::current()->setSystemVersion("7.0");
  auto old = widgets::TnqProgressHUD::showHUDAddedTo(window, false);
  EXPECT_NEAR(angle(*old), -M_PI / 2, 1e-9);
  EXPECT_EQ(old->bounds().size, (pf::Size{480, 320}));
  pf::Application::shared().setStatusBarOrientation(pf::InterfaceOrientation::PortraitUpsideDown);
  time.advance(0.5);  // the notification turned it, animated
  EXPECT_NEAR(std::fabs(angle(*old)), M_PI, 1e-9);

  auto page = pf::View::make(Rect(0, 0, 100, 100));
  auto inPage = widgets::TnqProgressHUD::showHUDAddedTo(page, false);
  EXPECT_TRUE(inPage->transform().isIdentity());  // a plain view is never rotated
}

TEST_F(Orientation, ShellAndContainerFollowTheDevice) {
  auto window = pf::Window::make(Rect(0, 0, 320, 480));
  pf::Application::shared().setStatusBarOrientation(pf::InterfaceOrientation::LandscapeRight);
  auto shell = widgets::PylProgressHUD::initWithView(window);  // a window: oriented at once
  EXPECT_NEAR(angle(*shell), M_PI / 2, 1e-9);
  EXPECT_EQ(shell->bounds().size, (pf::Size{480, 320}));

  auto page = pf::View::make(Rect(0, 0, 200, 300));
  auto container = widgets::MwProgressHUD::showHUDAddedTo(page, false);
  page->setFrame(Rect(0, 0, 250, 350));
  pf::Device::current()->setOrientation(pf::DeviceOrientation::LandscapeLeft);
  EXPECT_EQ(container->frame(), Rect(0, 0, 250, 350));  // takes its parent's bounds
  EXPECT_TRUE(container->transform().isIdentity());

  auto overWindow = widgets::MwProgressHUD::showHUDAddedTo(window, false);
  EXPECT_NEAR(angle(*overWindow), M_PI / 2, 1e-9);  // on joining a window
}

TEST_F(Orientation, VariantsKeepTheirOwnObservedProperties) {
  auto page = pf::View::make(Rect(0, 0, 200, 300));
  auto shell = widgets::PylProgressHUD::showHUDAddedTo(page, false);
  EXPECT_EQ(shell->observableKeypaths().size(), 7u);
  EXPECT_EQ(shell->label()->textColor(), pf::Color::whiteColor());
  auto container = widgets::MwProgressHUD::showHUDAddedTo(page, false);
  EXPECT_EQ(container->observableKeypaths().size(), 9u);
  container->setLabelColor(pf::Color::red());
  EXPECT_EQ(container->label()->textColor(), pf::Color::red());
  auto chart = widgets::TnqProgressHUD::showHUDAddedTo(page, false);
  EXPECT_EQ(chart->observableKeypaths().size(), 10u);
  chart->setActivityIndicatorColor(pf::Color::blue());
  auto spinner = std::dynamic_pointer_cast<pf::ActivityIndicatorView>(chart->indicator());
  ASSERT_TRUE(spinner);
  EXPECT_EQ(spinner->color(), pf::Color::blue());
}

TEST_F(Orientation, BoxColourDimmingAndOffsets) {
  auto page = pf::View::make(Rect(0, 0, 200, 200));
  page->setBackgroundColor(pf::Color::white(1));
  auto hud = widgets::TnqProgressHUD::showHUDAddedTo(page, false);
  hud->setMode(widgets::kHUDModeText);
  hud->setLabelText("Hi");
  hud->setColor(pf::Color::red());
  hud->setYOffset(40);
  hud->setDimBackground(true);
  auto img = pf::render::view(*page, 1);
  EXPECT_TRUE(img->pixel(100, 113).near(pf::Color::red(), 0.05));  // the box moved down by 40
  EXPECT_FALSE(img->pixel(100, 70).near(pf::Color::red(), 0.3));
  EXPECT_LT(img->pixel(2, 2).r, 0.5);  // darkened corners
  EXPECT_GT(img->pixel(100, 60).r, img->pixel(2, 2).r);

  auto shell = widgets::PylProgressHUD::showHUDAddedTo(page, "x", false);
  shell->setOpacity(1.0f);
  page->bringSubviewToFront(shell.get());
  img = pf::render::view(*page, 1);
  EXPECT_TRUE(img->pixel(66, 100).near(pf::Color::black(), 0.05));  // the shell's box is black
}

}  // namespace
