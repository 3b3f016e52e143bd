#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Renderer.h"
#include "widgets/MwProgressHUD.h"
#include "widgets/PylProgressHUD.h"
#include "widgets/TnqProgressHUD.h"

namespace {

using pf::Rect;
using widgets::MwProgressHUD;
using widgets::PylProgressHUD;
using widgets::TnqProgressHUD;

struct Hidden : widgets::TnqProgressHUDDelegate, widgets::MwProgressHUDDelegate, widgets::PylProgressHUDDelegate {
  int count = 0;
  void hudWasHidden(TnqProgressHUD&) override { ++count; }
  void hudWasHidden(MwProgressHUD&) override { ++count; }
  void hudWasHidden(PylProgressHUD&) override { ++count; }
};

class HUD : public ::testing::Test {
 protected:
  pf::VirtualTimeScope time;
  std::shared_ptr<pf::View> parent = pf::View::make(Rect(0, 0, 320, 480));
  std::shared_ptr<Hidden> listener = std::make_shared<Hidden>();
  double presentedOpacity(const pf::View& v) { return v.layer().presentationProps().opacity; }
  double presentedScale(const pf::View& v) { return v.layer().presentationProps().transform.decompose().sx; }
};

TEST_F(HUD, MinimumShowTimeDelaysTheHide) {
  auto hud = TnqProgressHUD::showHUDAddedTo(parent, false);
  hud->delegate = listener;
  hud->setMinShowTime(2);
  EXPECT_DOUBLE_EQ(hud->alpha(), 1);
  time.advance(0.5);
  hud->hide(true);
  EXPECT_TRUE(hud->hasMinShowTimer());
  time.advance(1.49);
  EXPECT_DOUBLE_EQ(hud->alpha(), 1);  // not hiding yet
  time.advance(0.02);                 // 1.5 s after the hide: the fade starts
  EXPECT_DOUBLE_EQ(hud->alpha(), 0.02);
  EXPECT_GT(presentedOpacity(*hud), 0.9);
  EXPECT_EQ(listener->count, 0);
  time.advance(0.31);
  EXPECT_EQ(listener->count, 1);
  EXPECT_EQ(hud->superview(), nullptr);  // showHUDAddedTo asked for removal
}

TEST_F(HUD, GraceTimeShowsOnlyWhileTheTaskRuns) {
  auto hud = TnqProgressHUD::initWithView(parent);
  parent->addSubview(hud);
  hud->setGraceTime(1);
  hud->setTaskInProgress(true);
  hud->show(true);
  time.advance(0.5);
  hud->setTaskInProgress(false);  // the task ended before the grace time
  time.advance(1);
  EXPECT_DOUBLE_EQ(hud->alpha(), 0);
  EXPECT_FALSE(hud->showStarted());

  hud->show(false);  // no task at all: the grace timer leaves it hidden
  time.advance(2);
  EXPECT_DOUBLE_EQ(hud->alpha(), 0);

  hud->setTaskInProgress(true);
  hud->show(false);
  hud->show(false);  // a second show replaces the pending grace timer
  time.advance(1);
  EXPECT_DOUBLE_EQ(hud->alpha(), 1);
}

TEST_F(HUD, HideAfterDelayAndZoomAnimations) {
  auto hud = TnqProgressHUD::showHUDAddedTo(parent, false);
  hud->setAnimationType(widgets::kHUDAnimationZoomOut);
  hud->hide(false);
  parent->addSubview(hud);
  hud->show(true);
  EXPECT_NEAR(presentedScale(*hud), 1.5, 1e-6);  // shrinks from 1.5
  EXPECT_NEAR(presentedOpacity(*hud), 0, 1e-6);
  time.advance(0.15);
  double mid = presentedScale(*hud);
  EXPECT_GT(mid, 1.0);
  EXPECT_LT(mid, 1.5);
  time.advance(0.2);
  EXPECT_NEAR(presentedScale(*hud), 1.0, 1e-6);
  EXPECT_NEAR(presentedOpacity(*hud), 1.0, 1e-6);

  hud->setAnimationType(widgets::kHUDAnimationZoomIn);
  hud->hide(true, 1.0);
  time.advance(0.9);
  EXPECT_DOUBLE_EQ(hud->alpha(), 1);
  time.advance(0.25);  // 0.15 s into the hide: growing towards 1.5 while fading
  EXPECT_GT(presentedScale(*hud), 1.0);
  EXPECT_LT(presentedOpacity(*hud), 1.0);
  time.advance(0.3);
  EXPECT_EQ(hud->superview(), nullptr);
}

TEST_F(HUD, ClassOperationsFindAndHideTheFrontmost) {
  EXPECT_FALSE(TnqProgressHUD::hideHUDForView(parent, false));
  EXPECT_EQ(TnqProgressHUD::hideAllHUDsForView(parent, false), 0u);
  auto first = TnqProgressHUD::showHUDAddedTo(parent, false);
  auto second = TnqProgressHUD::showHUDAddedTo(parent, false);
  EXPECT_EQ(TnqProgressHUD::HUDForView(parent), second);
  EXPECT_TRUE(TnqProgressHUD::hideHUDForView(parent, false));
  EXPECT_EQ(TnqProgressHUD::allHUDsForView(parent), std::vector<std::shared_ptr<TnqProgressHUD>>{first});
  TnqProgressHUD::showHUDAddedTo(parent, false);
  EXPECT_EQ(TnqProgressHUD::hideAllHUDsForView(parent, false), 2u);
  EXPECT_TRUE(parent->subviews().empty());
}

TEST_F(HUD, IndicatorsFollowTheMode) {
  auto hud = TnqProgressHUD::showHUDAddedTo(parent, false);
  EXPECT_TRUE(std::dynamic_pointer_cast<pf::ActivityIndicatorView>(hud->indicator()));
  hud->setMode(widgets::kHUDModeAnnularDeterminate);
  auto round = std::dynamic_pointer_cast<widgets::TnqRoundProgressView>(hud->indicator());
  ASSERT_TRUE(round);
  hud->setMode(widgets::kHUDModeDeterminate);
  EXPECT_EQ(hud->indicator(), round);
  EXPECT_TRUE(round->isAnnular());  // mode 1 never clears it
  hud->setMode(widgets::kHUDModeDeterminateHorizontalBar);
  auto bar = hud->indicator();
  hud->setMode(widgets::kHUDModeDeterminateHorizontalBar);
  EXPECT_NE(hud->indicator(), bar);  // always a new bar
  EXPECT_EQ(bar->superview(), nullptr);
  hud->setMode(widgets::kHUDModeText);
  EXPECT_EQ(hud->indicator(), nullptr);

  hud->setMode(widgets::kHUDModeDeterminate);
  hud->layoutIfNeeded();
  hud->setProgress(0.4f);
  EXPECT_FALSE(hud->needsLayout());  // progress only redraws the indicator
  EXPECT_FLOAT_EQ(std::dynamic_pointer_cast<widgets::TnqRoundProgressView>(hud->indicator())->progress(), 0.4f);
  hud->setLabelText("x");
  EXPECT_TRUE(hud->needsLayout());
  EXPECT_EQ(hud->label()->text(), "x");
}

TEST_F(HUD, LayoutCentresTheBoxAndSquaresWhereItFits) {
  auto narrow = pf::View::make(Rect(0, 0, 120, 400));
  auto hud = TnqProgressHUD::showHUDAddedTo(narrow, false);
  hud->setLabelText("Loading");
  hud->layoutIfNeeded();
  pf::Size plain = hud->size();
  EXPECT_DOUBLE_EQ(plain.height, 37 + 4 + hud->label()->frame().height() + 40);
  EXPECT_NEAR(hud->indicator()->frame().midX(), 60, 0.5);
  hud->setSquare(true);
  hud->setNeedsLayout();
  hud->layoutIfNeeded();
  double side = std::max(plain.width, plain.height);
  // Square in height (fits 400 - 40) but not in width (120 - 40 is too narrow).
  EXPECT_DOUBLE_EQ(hud->size().height, side);
  EXPECT_DOUBLE_EQ(hud->size().width, plain.width);
  hud->setMinSize({200, 300});
  hud->setNeedsLayout();
  hud->layoutIfNeeded();
  EXPECT_EQ(hud->size(), (pf::Size{200, 300}));
}

TEST_F(HUD, EveryHideEndsOnceWithItsCompletion) {
  auto hud = TnqProgressHUD::showHUDAddedTo(parent, false);
  hud->delegate = listener;
  int completions = 0;
  hud->setCompletionBlock([&] { ++completions; });
  hud->setMinShowTime(1);
  hud->hide(true);
  hud->hide(true);  // a second minimum-show timer replaces the first
  time.advance(2);
  EXPECT_EQ(listener->count, 1);
  EXPECT_EQ(completions, 1);
  EXPECT_FALSE(hud->hasMinShowTimer());
}

TEST_F(HUD, AShowDuringTheFadeOutCancelsIt) {
  auto hud = TnqProgressHUD::initWithView(parent);
  parent->addSubview(hud);
  hud->delegate = listener;
  hud->show(false);
  hud->hide(true);
  time.advance(0.1);
  hud->show(true);
  time.advance(1);
  EXPECT_EQ(listener->count, 0);
  EXPECT_DOUBLE_EQ(hud->alpha(), 1);
  EXPECT_EQ(hud->superview(), parent);
}

TEST_F(HUD, CallbackTaskRunsOffTheMainThreadAndCompletesAfterHiding) {
  auto hud = TnqProgressHUD::showHUDAddedTo(parent, false);
  hud->hide(false);
  parent->addSubview(hud);
  std::atomic<bool> ranOnMain{true};
  bool completed = false;
  hud->showAnimated(
      false,
      [&] {
        ranOnMain = pf::Thread::isMainThread();
        hud->setLabelText("步骤 2");  // from the worker: reaches the label on the main thread
      },
      [&] { completed = true; });
  EXPECT_TRUE(hud->taskInProgress());
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return completed; }));
  EXPECT_FALSE(ranOnMain);
  EXPECT_FALSE(hud->taskInProgress());
  EXPECT_EQ(hud->label()->text(), "步骤 2");
  EXPECT_EQ(hud->superview(), nullptr);
}

TEST_F(HUD, TnqCancelsAPendingDelayedHideOnShowButTheOthersDoNot) {
  auto tnq = TnqProgressHUD::showHUDAddedTo(parent, false);
  tnq->hide(false, 1.0);
  tnq->show(false);
  time.advance(2);
  EXPECT_DOUBLE_EQ(tnq->alpha(), 1);

  auto mw = MwProgressHUD::showHUDAddedTo(parent, false);
  mw->hide(false, 1.0);
  mw->show(false);
  time.advance(2);
  EXPECT_DOUBLE_EQ(mw->alpha(), 0);
  EXPECT_EQ(mw->superview(), parent);  // no removal unless asked
}

TEST_F(HUD, ShellOverlayDifferences) {
  auto hud = PylProgressHUD::showHUDAddedTo(parent, "服务器连接失败", false);
  EXPECT_EQ(hud->label()->text(), "服务器连接失败");
  EXPECT_FALSE(hud->removeFromSuperViewOnHide());
  hud->delegate = listener;
  hud->setAnimationType(widgets::kHUDAnimationZoomIn);
  hud->hide(true);
  EXPECT_NEAR(presentedScale(*hud), 1.0, 1e-6);  // type 2 fades without scaling
  time.advance(0.4);
  EXPECT_EQ(listener->count, 1);
  EXPECT_EQ(hud->superview(), parent);
  EXPECT_DOUBLE_EQ(hud->alpha(), 0);

  auto spinner = hud->indicator();
  hud->setMode(widgets::kHUDModeDeterminate);
  EXPECT_EQ(hud->indicator(), spinner);  // mode 1 leaves it
  hud->setMode(widgets::kHUDModeDeterminateHorizontalBar);
  auto ring = std::dynamic_pointer_cast<widgets::PylRoundProgressView>(hud->indicator());
  ASSERT_TRUE(ring);
  EXPECT_TRUE(ring->isAnnular());

  hud->setMode(widgets::kHUDModeIndeterminate);
  bool ran = false;
  hud->showWhileExecuting([&] { ran = true; }, nullptr, nullptr, false);
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return ran && !hud->taskInProgress(); }));
  EXPECT_EQ(hud->indicator(), nullptr);
  bool spinnerStays = false;
  for (auto& s : hud->subviews()) spinnerStays |= std::dynamic_pointer_cast<pf::ActivityIndicatorView>(s) != nullptr;
  EXPECT_TRUE(spinnerStays);
}

TEST_F(HUD, ContainerOverlayNeedsAViewAndHoldsItsDelegateWeakly) {
  try {
    MwProgressHUD::initWithView(nullptr);
    FAIL() << "no exception";
  } catch (const pf::Exception& e) {
    EXPECT_EQ(e.reason(), "View must not be nil.");
  }
  auto hud = MwProgressHUD::showHUDAddedTo(parent, false);
  {
    auto gone = std::make_shared<Hidden>();
    hud->delegate = gone;
  }
  hud->hide(false);  // the delegate went away: nobody is called
  EXPECT_DOUBLE_EQ(hud->alpha(), 0);
}

TEST_F(HUD, RoundAndBarIndicatorsDraw) {
  auto pie = std::make_shared<widgets::TnqRoundProgressView>();
  pie->setFrame(Rect(0, 0, 40, 40));
  pie->setProgressTintColor(pf::Color::red());
  pie->setProgress(0.25f);
  auto img = pf::render::view(*pie, 1);
  EXPECT_TRUE(img->pixel(28, 12).near(pf::Color::red(), 0.05));  // upper right
  EXPECT_FALSE(img->pixel(12, 12).near(pf::Color::red(), 0.2));
  EXPECT_FALSE(img->pixel(28, 28).near(pf::Color::red(), 0.2));

  auto mwPie = std::make_shared<widgets::MwRoundProgressView>();
  mwPie->setFrame(Rect(0, 0, 40, 40));
  mwPie->setProgressTintColor(pf::Color::red());
  mwPie->setProgress(0.25f);
  img = pf::render::view(*mwPie, 1);
  EXPECT_TRUE(img->pixel(28, 12).near(pf::Color::whiteColor(), 0.05));  // always white

  auto bar = std::make_shared<widgets::TnqBarProgressView>();
  bar->setProgressRemainingColor(pf::Color::blue());
  img = pf::render::view(*bar, 1);
  EXPECT_TRUE(img->pixel(60, 10).near(pf::Color::blue(), 0.05));  // only the remaining fill
  bar->setProgress(0.5f);
  img = pf::render::view(*bar, 1);
  EXPECT_TRUE(img->pixel(30, 10).near(pf::Color::whiteColor(), 0.05));
  EXPECT_TRUE(img->pixel(90, 10).near(pf::Color::blue(), 0.05));
}

}  // namespace
