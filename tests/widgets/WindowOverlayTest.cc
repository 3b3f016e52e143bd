#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/ui/Application.h"
#include "platform/ui/Renderer.h"
#include "platform/ui/Screen.h"
#include "platform/ui/UINotifications.h"
#include "widgets/OvProgressHUD.h"

namespace {

using pf::Point;
using pf::Rect;
using widgets::OvImages;
using widgets::OvProgressHUD;
namespace Ov = widgets::OvProgressHUDClass;

class WindowOverlay : public ::testing::Test {
 protected:
  void SetUp() override {
    pf::Application::shared().reset();
    pf::Screen::main()->setBounds(Rect(0, 0, 320, 480));
    OvProgressHUD::resetSharedHUD();
    OvProgressHUD::setRandomSource([](std::uint32_t) { return 500u; });
    pf::clearAccessibilityPosts();
  }
  void TearDown() override {
    OvProgressHUD::resetSharedHUD();
    OvProgressHUD::setRandomSource(nullptr);
    pf::Application::shared().reset();
  }
  std::shared_ptr<OvProgressHUD> hud() { return OvProgressHUD::sharedHUD(); }
  pf::Layer& box() { return hud()->hud().layer(); }
  bool running(const char* key) { return box().animationForKey(key) != nullptr; }
  // Advances in small steps so that timers, animation ends and their completions all run.
  void advance(double seconds) {
    for (double t = 0; t < seconds - 1e-9; t += 0.05) time.advance(std::min(0.05, seconds - t));
  }
  pf::VirtualTimeScope time;
};

TEST_F(WindowOverlay, EveryStyleEntersAndLeavesInItsTime) {
  const double entries[] = {1.5, 0.25, 0.25, 0.75, 0.75, 1.5, 0.25};
  const double exits[] = {0.75, 0.35, 0.35, 0.75, 0.75, 0.75, 0.55};
  for (std::int64_t style = 0; style <= 6; ++style) {
    SCOPED_TRACE(style);
    Ov::setPresentationStyle(style);
    Ov::showWithStatus("Loading");
    auto window = hud()->hudWindow();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->windowLevel(), pf::kWindowLevelStatusBar);
    EXPECT_FALSE(window->isHidden());
    EXPECT_TRUE(hud()->isVisible());
    EXPECT_TRUE(running("show"));
    advance(entries[style] - 0.1);
    EXPECT_TRUE(running("show"));
    advance(0.15);
    EXPECT_FALSE(running("show"));
    // At rest in the middle of the window.
    pf::LayerProps shown = box().presentationProps();
    Point centre = hud()->windowCenterForHUDAnchor(box().anchorPoint());
    EXPECT_NEAR(shown.position.x, centre.x, 1e-6);
    EXPECT_NEAR(shown.position.y, centre.y, 1e-6);
    EXPECT_NEAR(shown.opacity, 1, 1e-6);
    EXPECT_NEAR(hud()->overlayView().alpha(), 1, 1e-6);

    Ov::dismiss();
    EXPECT_TRUE(running("dismiss"));
    EXPECT_EQ(box().animationForKey("dismiss")->value("name"), "mm-progress-hud-dismiss-animation");
    advance(exits[style] - 0.1);
    EXPECT_TRUE(running("dismiss"));
    advance(1.2);
    EXPECT_FALSE(running("dismiss"));
    EXPECT_FALSE(hud()->hudWindow());
    EXPECT_FALSE(hud()->hud().superview());
    EXPECT_FALSE(hud()->isVisible());
  }
}

TEST_F(WindowOverlay, BackdropFadesAndTheInstantStyle) {
  Ov::showWithStatus("Loading");
  advance(2);
  Ov::dismiss();
  advance(0.3);
  // Style 0 waits 0.35 s before the backdrop fades.
  EXPECT_NEAR(hud()->overlayView().layer().presentationProps().opacity, 1, 1e-6);
  advance(0.5);
  EXPECT_LT(hud()->overlayView().layer().presentationProps().opacity, 1);
  EXPECT_TRUE(hud()->hudWindow());
  advance(0.4);
  EXPECT_FALSE(hud()->hudWindow());
  auto posts = pf::accessibilityPosts();
  ASSERT_FALSE(posts.empty());
  EXPECT_EQ(posts.back().notification, pf::kAccessibilityScreenChangedNotification);
  EXPECT_FALSE(posts.back().argument);

  // Style 7: at once, visible, box opaque again after an earlier instant dismissal.
  Ov::setPresentationStyle(widgets::OvProgressHUDPresentationStyleNone);
  for (int round = 0; round < 2; ++round) {
    Ov::showWithStatus("Now");
    EXPECT_TRUE(hud()->hudWindow());
    EXPECT_TRUE(hud()->isVisible());
    EXPECT_FALSE(hud()->presentedAnimated());
    EXPECT_EQ(box().opacity(), 1);
    EXPECT_EQ(hud()->overlayView().alpha(), 1);
    EXPECT_FALSE(box().hasAnimations());
    Ov::dismiss();
    EXPECT_FALSE(hud()->hudWindow());
    EXPECT_FALSE(hud()->isVisible());
    advance(0.1);
  }
  // A dismissal with no window does nothing.
  int exits = 0;
  hud()->dismissAnimationCompletion = [&] { ++exits; };
  Ov::dismiss();
  advance(1);
  EXPECT_EQ(exits, 0);
}

TEST_F(WindowOverlay, TheLatestRequestWins) {
  // A dismissal during the drop-in waits for it, and the backdrop fade does not.
  Ov::showWithStatus("One");
  advance(0.5);
  Ov::dismiss();
  EXPECT_TRUE(hud()->queuedDismissAnimation);
  EXPECT_FALSE(running("dismiss"));
  advance(0.7);
  EXPECT_TRUE(hud()->hudWindow());
  EXPECT_FALSE(running("dismiss"));
  advance(0.5);
  EXPECT_FALSE(hud()->hudWindow());
  EXPECT_TRUE(running("dismiss"));
  advance(1);
  EXPECT_FALSE(hud()->hud().superview());

  // A show during an exit starts after it, with the box back in place and its texts.
  Ov::showWithStatus("Two");
  advance(2);
  Ov::dismiss();
  advance(0.2);
  Ov::showWithStatus("Three");
  EXPECT_TRUE(hud()->isVisible());
  EXPECT_TRUE(hud()->queuedShowAnimation);
  advance(0.7);
  EXPECT_TRUE(running("show"));
  EXPECT_EQ(hud()->hud().superviewRaw(), hud().get());
  EXPECT_EQ(hud()->hud().statusLabel().text(), "Three");
  advance(2);
  // The cut-short fade-out neither hid nor dropped the window.
  ASSERT_TRUE(hud()->hudWindow());
  EXPECT_FALSE(hud()->hudWindow()->isHidden());
  EXPECT_NEAR(hud()->overlayView().layer().presentationProps().opacity, 1, 1e-6);

  // A second show while the first enters is dropped; a show drops a waiting exit.
  Ov::dismiss();
  advance(2);
  Ov::showWithStatus("Four");
  auto first = box().animationForKey("show");
  Ov::dismiss();
  Ov::showWithStatus("Five");
  EXPECT_EQ(box().animationForKey("show"), first);
  EXPECT_FALSE(hud()->queuedDismissAnimation);
  advance(2);
  EXPECT_FALSE(running("dismiss"));
  EXPECT_TRUE(hud()->hudWindow());
}

// A presentation at any moment of an exit wins over it: during the box's exit, in the gap where
// the box has left and the backdrop still fades, and after the window went. Both presenting roads
// (a show and a progress update) are asked, for every style.
TEST_F(WindowOverlay, APresentationAtAnyMomentOfAnExitShows) {
  const double exits[] = {0.75, 0.35, 0.35, 0.75, 0.75, 0.75, 0.55, 0};
  for (std::int64_t style = 0; style <= 7; ++style) {
    // The backdrop fades 0.75 s (style 0 after 0.35 s; style 7 at once).
    const double backdrop = style == 7 ? 0 : style == 0 ? 1.1 : 0.75;
    std::vector<double> moments = {0, exits[style] / 2, backdrop + 0.3};
    if (backdrop - exits[style] > 0.1) {
      moments.push_back(exits[style] + 0.05);
      moments.push_back((exits[style] + backdrop) / 2);
      moments.push_back(backdrop - 0.05);
    }
    for (double moment : moments) {
      for (bool progress : {false, true}) {
        SCOPED_TRACE(::testing::Message() << "style " << style << " at " << moment << (progress ? " progress" : " show"));
        Ov::setPresentationStyle(style);
        Ov::showWithStatus("First");
        advance(2);
        Ov::dismiss();
        advance(moment);
        if (progress)
          Ov::updateProgress(0.5, std::string("Again"));
        else
          Ov::showWithStatus("Again");
        advance(3);
        auto window = hud()->hudWindow();
        EXPECT_TRUE(window && !window->isHidden());
        EXPECT_TRUE(hud()->isVisible());
        EXPECT_EQ(hud()->hud().superviewRaw(), hud().get());
        EXPECT_FALSE(box().hasAnimations());
        EXPECT_NEAR(box().presentationProps().opacity, 1, 1e-6);
        const Point centre = hud()->windowCenterForHUDAnchor(box().anchorPoint());
        EXPECT_NEAR(box().presentationProps().position.y, centre.y, 1e-6);
        EXPECT_NEAR(hud()->overlayView().layer().presentationProps().opacity, 1, 1e-6);
        EXPECT_EQ(hud()->hud().statusLabel().text(), "Again");
        Ov::dismiss();
        advance(2);
        EXPECT_FALSE(hud()->hudWindow());
      }
    }
  }
}

// A call made in the same turn as a delayed dismissal, before its timer exists, wins over it: a
// show, a progress update or a progress show right after a success or an error stays up with what
// it asked for, for every style; and a dismissal right after a show still dismisses.
TEST_F(WindowOverlay, TheLatestCallWinsInTheSameTurnAsADelayedDismissal) {
  enum Kind { Show, Progress, ProgressShow };
  for (std::int64_t style = 0; style <= 7; ++style) {
    for (bool success : {true, false}) {
      for (Kind kind : {Show, Progress, ProgressShow}) {
        SCOPED_TRACE(::testing::Message() << "style " << style << (success ? " success" : " error") << " kind "
                                          << kind);
        Ov::setPresentationStyle(style);
        Ov::showWithStatus("First");
        advance(2);
        if (success)
          Ov::dismissWithSuccess("Done");
        else
          Ov::dismissWithError("Failed");
        if (kind == Show)
          Ov::showWithStatus("Again");
        else if (kind == Progress)
          Ov::updateProgress(0.5, std::string("Again"));
        else
          Ov::showProgressWithStyle(widgets::OvProgressHUDProgressStyleRadial, std::nullopt, "Again");
        if (kind == ProgressShow) Ov::updateProgress(0.5);
        advance(5);
        auto window = hud()->hudWindow();
        EXPECT_TRUE(window && !window->isHidden());
        EXPECT_TRUE(hud()->isVisible());
        EXPECT_FALSE(hud()->hasDismissDelayTimer());
        EXPECT_EQ(hud()->hud().superviewRaw(), hud().get());
        EXPECT_FALSE(box().hasAnimations());
        EXPECT_NEAR(box().presentationProps().opacity, 1, 1e-6);
        EXPECT_NEAR(hud()->overlayView().layer().presentationProps().opacity, 1, 1e-6);
        EXPECT_EQ(hud()->hud().statusLabel().text(), "Again");
        EXPECT_TRUE(hud()->hud().imageView().isHidden());  // no mark left over
        if (kind != Show) {
          EXPECT_NEAR(hud()->progress(), 0.5, 1e-9);
          EXPECT_EQ(hud()->hud().accessibilityValue, "50%");
        }
        if (kind == ProgressShow) {
          EXPECT_FALSE(hud()->hud().radialProgressView().isHidden());
        }
        Ov::dismiss();
        advance(3);
        EXPECT_FALSE(hud()->hudWindow());
      }
    }
    // The other way round: a dismissal right after a show, on a shown overlay or a hidden one.
    for (bool shown : {true, false}) {
      SCOPED_TRACE(::testing::Message() << "style " << style << (shown ? " shown" : " hidden"));
      Ov::setPresentationStyle(style);
      if (shown) {
        Ov::showWithStatus("First");
        advance(2);
      }
      Ov::showWithStatus("Again");
      Ov::dismissWithSuccess("Done");
      advance(5);
      EXPECT_FALSE(hud()->hudWindow());
      EXPECT_FALSE(hud()->isVisible());
    }
  }
}

// A show in the same turn as a confirmed cancel wins over the cancel's dismissal.
TEST_F(WindowOverlay, AShowRightAfterAConfirmedCancelStaysUp) {
  int cancels = 0;
  Ov::showWithTitle("Quote", "Waiting", [&] { ++cancels; });
  advance(2);
  hud()->hudWindow()->tapAt(Point{10, 10});
  hud()->hudWindow()->tapAt(Point{10, 10});
  EXPECT_EQ(cancels, 1);
  Ov::showWithStatus("Next");
  advance(5);
  EXPECT_TRUE(hud()->hudWindow());
  EXPECT_TRUE(hud()->isVisible());
  EXPECT_EQ(hud()->hud().superviewRaw(), hud().get());
  EXPECT_EQ(hud()->hud().statusLabel().text(), "Next");
}

TEST_F(WindowOverlay, DelayedDismissals) {
  Ov::showWithTitle("Order", "Sending");
  advance(2);
  Ov::dismissWithSuccess("Done");
  EXPECT_EQ(hud()->status(), "Done");
  EXPECT_EQ(hud()->title(), "Order");
  // The success mark takes the content area.
  EXPECT_EQ(hud()->hud().contentAreaFrame.size, (pf::Size{37, 37}));
  advance(0.6);
  EXPECT_FALSE(running("dismiss"));
  advance(0.4);
  EXPECT_TRUE(running("dismiss"));
  advance(2);
  EXPECT_FALSE(hud()->hudWindow());

  Ov::showWithStatus("Again");
  advance(2);
  Ov::dismissWithError("Failed", std::nullopt, std::numeric_limits<float>::infinity());
  advance(30);
  EXPECT_TRUE(hud()->hudWindow());
  EXPECT_FALSE(running("dismiss"));
  EXPECT_FALSE(hud()->hasDismissDelayTimer());
  Ov::dismiss();
  advance(2);
  EXPECT_FALSE(hud()->hudWindow());
}

TEST_F(WindowOverlay, ProgressRingTextAndCompletion) {
  int completions = 0;
  Ov::showProgressWithStyle(widgets::OvProgressHUDProgressStyleRadial, "Download", "Rates");
  hud()->setProgressCompletion([&] { ++completions; });
  advance(2);
  EXPECT_EQ(hud()->hud().contentAreaFrame.height(), 40);
  EXPECT_FALSE(hud()->hud().radialProgressView().isHidden());
  Ov::updateProgress(0.5);
  EXPECT_EQ(hud()->hud().accessibilityValue, "50%");
  EXPECT_EQ(pf::accessibilityPosts().back().argument, std::optional<std::string>("Download 50%"));
  advance(0.1);
  double midway = hud()->hud().radialProgressView().layer().presentationProps().customDouble("progress");
  EXPECT_GT(midway, 0);
  EXPECT_LT(midway, 0.5);
  advance(0.3);
  EXPECT_NEAR(hud()->hud().radialProgressView().layer().presentationProps().customDouble("progress"), 0.5, 1e-9);

  Ov::updateProgress(std::nan(""));
  EXPECT_EQ(hud()->hud().accessibilityValue, "0%");
  Ov::updateProgress(1.7);
  EXPECT_EQ(hud()->hud().accessibilityValue, "100%");
  advance(1);
  EXPECT_EQ(completions, 1);
  EXPECT_FALSE(hud()->progressCompletion());
  EXPECT_EQ(hud()->hud().accessibilityValue, "");
  EXPECT_TRUE(hud()->accessibilityTraits & pf::kAccessibilityTraitUpdatesFrequently);

  Ov::updateStatus("Waiting");
  EXPECT_EQ(hud()->progressStyle(), widgets::OvProgressHUDProgressStyleIndeterminate);
  EXPECT_FALSE(hud()->accessibilityTraits & pf::kAccessibilityTraitUpdatesFrequently);
  advance(0.5);
  EXPECT_TRUE(hud()->hud().radialProgressView().isHidden());

  // On a hidden overlay a progress update shows it.
  Ov::dismiss();
  advance(2);
  Ov::updateProgress(0.2);
  EXPECT_TRUE(hud()->hudWindow());
}

TEST_F(WindowOverlay, TwoTapCancelAndItsReset) {
  int cancels = 0;
  auto tapOverlay = [&] { hud()->hudWindow()->tapAt(Point{10, 10}); };
  // Several presentations: each tap still asks once, then confirms once.
  for (int round = 0; round < 3; ++round) {
    Ov::showWithTitle("Quote", "Waiting", [&] { ++cancels; });
    advance(2);
    Ov::dismiss();
    advance(2);
  }
  Ov::showWithTitle("Quote", "Waiting", [&] { ++cancels; });
  advance(2);
  EXPECT_TRUE(hud()->hud().accessibilityTraits & pf::kAccessibilityTraitButton);
  tapOverlay();
  EXPECT_TRUE(hud()->isConfirmed());
  EXPECT_EQ(hud()->status(), "Cancel?");
  EXPECT_TRUE(running("glow-animation"));
  advance(2.9);
  EXPECT_FALSE(hud()->isConfirmed());
  EXPECT_EQ(hud()->status(), "Waiting");
  EXPECT_FALSE(running("glow-animation"));
  EXPECT_EQ(cancels, 0);

  tapOverlay();
  tapOverlay();
  EXPECT_EQ(cancels, 1);
  EXPECT_FALSE(hud()->isConfirmed());
  EXPECT_FALSE(running("glow-animation"));
  advance(0.3);
  EXPECT_TRUE(running("dismiss"));
  advance(2);
  EXPECT_FALSE(hud()->hudWindow());

  // A dismissal ends a pending confirmation: the next presentation asks again.
  Ov::showWithTitle("Quote", "Again", std::string("Stop?"), [&] { ++cancels; });
  advance(2);
  tapOverlay();
  EXPECT_EQ(hud()->status(), "Stop?");
  Ov::dismiss();
  EXPECT_FALSE(hud()->isConfirmed());
  EXPECT_FALSE(hud()->tempStatus());
  advance(2);
  Ov::showWithTitle("Quote", "Later", [&] { ++cancels; });
  advance(1.6);
  tapOverlay();
  EXPECT_EQ(cancels, 1);
  EXPECT_EQ(hud()->status(), "Cancel?");

  // Without a cancel callback a tap does nothing.
  Ov::showWithStatus("Plain");
  advance(3);
  tapOverlay();
  EXPECT_FALSE(hud()->isConfirmed());
  EXPECT_TRUE(hud()->hudWindow());
}

TEST_F(WindowOverlay, AStatusSetWhileACancelIsConfirmedOutlivesTheConfirmation) {
  int cancels = 0;
  auto tapOverlay = [&] { hud()->hudWindow()->tapAt(Point{10, 10}); };
  Ov::showWithTitle("Quote", "Waiting", [&] { ++cancels; });
  advance(2);
  // A new show, a text update and a progress update, each made while "Cancel?" waits: when the
  // confirmation runs out, the newest status stands, not the one the first tap saved.
  const std::vector<std::function<void()>> laterCalls = {
      [&] { Ov::showWithTitle("Quote", "Sending", [&] { ++cancels; }); },
      [&] { Ov::updateStatus("Sending"); },
      [&] { Ov::updateProgress(0.5, std::string("Sending")); },
  };
  for (const auto& later : laterCalls) {
    Ov::updateStatus("Waiting");
    advance(1);
    tapOverlay();
    ASSERT_TRUE(hud()->isConfirmed());
    later();
    advance(2.9);
    EXPECT_FALSE(hud()->isConfirmed());
    EXPECT_EQ(hud()->status(), "Sending");
    EXPECT_TRUE(hud()->hudWindow());
  }
  EXPECT_EQ(cancels, 0);
}

// The cancel's question stands only while the cancel is asked: once a cancel is confirmed, or a
// dismissal ends the asking, the status is again the latest one set, and whatever presents the
// overlay next (in the same turn or later, for every style) shows that status, never the question.
TEST_F(WindowOverlay, AfterACancelTheOverlayShowsTheLatestStatusNotTheQuestion) {
  auto tapOverlay = [&] { hud()->hudWindow()->tapAt(Point{10, 10}); };
  struct Sequence {
    const char* name;
    bool confirm;  // a second tap confirms; else a dismissal ends the asking
    bool sameTurn;  // the presentation follows in the same turn; else after the overlay went
    std::function<void()> present;
  };
  const std::vector<Sequence> sequences = {
      {"confirmed, progress update", true, true, [] { Ov::updateProgress(0.5); }},
      {"confirmed, show", true, true, [&] { hud()->show(); }},
      {"confirmed, later progress show", true, false, [] { Ov::updateProgress(0.5); }},
      {"asked, dismissed, progress show", false, true, [] { Ov::updateProgress(0.5); }},
      {"asked, dismissed, show", false, true, [&] { hud()->show(); }},
      {"asked, dismissed, later progress show", false, false, [] { Ov::updateProgress(0.5); }},
  };
  for (std::int64_t style = 0; style <= 7; ++style) {
    for (const Sequence& sequence : sequences) {
      SCOPED_TRACE(::testing::Message() << "style " << style << ", " << sequence.name);
      int cancels = 0;
      Ov::setPresentationStyle(style);
      Ov::showWithTitle("Quote", "กำลังส่งคำสั่ง", [&] { ++cancels; });
      advance(2);
      tapOverlay();
      ASSERT_EQ(hud()->hud().statusLabel().text(), "Cancel?");
      if (sequence.confirm)
        tapOverlay();
      else
        Ov::dismiss();
      EXPECT_EQ(hud()->status(), "กำลังส่งคำสั่ง");
      if (!sequence.sameTurn) {
        advance(3);
        ASSERT_FALSE(hud()->hudWindow());
      }
      sequence.present();
      advance(4);
      EXPECT_EQ(cancels, sequence.confirm ? 1 : 0);
      ASSERT_TRUE(hud()->hudWindow());
      EXPECT_TRUE(hud()->isVisible());
      EXPECT_FALSE(hud()->isConfirmed());
      EXPECT_EQ(hud()->status(), "กำลังส่งคำสั่ง");
      EXPECT_EQ(hud()->hud().statusLabel().text(), "กำลังส่งคำสั่ง");
      Ov::dismiss();
      advance(3);
      EXPECT_FALSE(hud()->hudWindow());
    }
  }
}

// Only positive infinity and 2 to the 64th keep a delayed dismissal's overlay up; any other delay
// that is not a number, or is below 0, dismisses as a delay of 0 does, on a shown overlay and on
// one still entering.
TEST_F(WindowOverlay, OnlyTheKeepUpDelaysKeepTheOverlayUp) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  for (std::int64_t style : {0, 6, 7}) {
    for (bool entering : {false, true}) {
      // Where a dismissal of delay 0 has got to 0.2 s later.
      auto at = [&](float delay) {
        Ov::setPresentationStyle(style);
        Ov::showWithStatus("Rates");
        advance(entering ? 0.1 : 2);
        Ov::dismissWithError("Failed", std::nullopt, delay);
        advance(0.2);
        const bool state[] = {bool(hud()->hudWindow()), running("dismiss"), bool(hud()->queuedDismissAnimation)};
        advance(5);
        EXPECT_FALSE(hud()->hudWindow());
        return std::vector<bool>(std::begin(state), std::end(state));
      };
      const std::vector<bool> zero = at(0);
      for (float delay : {nan, -nan, -inf, -1.0f, -0.0f, -std::numeric_limits<float>::max(), -1e-30f}) {
        SCOPED_TRACE(::testing::Message() << "style " << style << (entering ? " entering" : " shown") << " delay "
                                          << delay);
        EXPECT_EQ(at(delay), zero);
      }
      for (float delay : {inf, 18446744073709551616.0f}) {
        SCOPED_TRACE(::testing::Message() << "style " << style << " delay " << delay);
        Ov::setPresentationStyle(style);
        Ov::showWithStatus("Rates");
        advance(entering ? 0.1 : 2);
        Ov::dismissWithError("Failed", std::nullopt, delay);
        advance(60);
        EXPECT_TRUE(hud()->hudWindow());
        EXPECT_FALSE(hud()->hasDismissDelayTimer());
        EXPECT_EQ(hud()->hud().statusLabel().text(), "Failed");
        Ov::dismiss();
        advance(3);
        EXPECT_FALSE(hud()->hudWindow());
      }
    }
  }
  // The longest finite delay is a delay like any other: the overlay waits, and a dismissal still ends it.
  Ov::showWithStatus("Rates");
  advance(2);
  Ov::dismissWithSuccess("Done", std::nullopt, std::numeric_limits<float>::max());
  advance(60);
  EXPECT_TRUE(hud()->hudWindow());
  EXPECT_TRUE(hud()->hasDismissDelayTimer());
  Ov::dismiss();
  advance(3);
  EXPECT_FALSE(hud()->hudWindow());
  EXPECT_FALSE(hud()->hasDismissDelayTimer());
}

// Random sequences of calls against a small model of what must be on screen: up or down, the
// latest status set, and the cancels run. Calls come in bursts made in one turn; between bursts
// the clock moves 1 s (a delayed dismissal or a confirmed cancel has begun its exit, a question
// may still be asked) or long enough for everything to settle. Fixed seed: a failure replays.
TEST_F(WindowOverlay, RandomCallSequencesEndAsTheLatestCallsAsk) {
  using Status = std::optional<std::string>;
  const std::vector<Status> statuses = {std::nullopt, "", "Rates", "Sending", "กำลังโหลด", "در حال ارسال"};
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<float> delays = {0.75f, 0, 0.3f, std::numeric_limits<float>::quiet_NaN(), -inf, -1, -0.0f,
                                     inf, 18446744073709551616.0f};
  struct Model {
    bool up = false;
    bool pendingDown = false;  // a delayed dismissal or a confirmed cancel waits for its update
    bool confirming = false;   // a first tap asked, and the asking has not ended
    bool questionShown = false;
    double askedAt = 0;
    bool cancellable = false;
    int cancels = 0;
    Status latest;
  };
  std::mt19937 random(48);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  int cancels = 0;
  for (int sequence = 0; sequence < 3000; ++sequence) {
    OvProgressHUD::resetSharedHUD();
    const std::int64_t style = static_cast<std::int64_t>(pick(8));
    Ov::setPresentationStyle(style);
    cancels = 0;
    Model m;
    double now = 0;
    std::ostringstream steps;
    steps << "sequence " << sequence << " style " << style << ":";
    auto setStatus = [&](const Status& s) {
      m.latest = s;
      m.questionShown = false;
    };
    auto endAsking = [&] {
      m.confirming = false;
      m.questionShown = false;
    };
    auto present = [&] {
      m.up = true;
      m.pendingDown = false;
    };
    for (int burst = 0; burst < 6; ++burst) {
      const std::size_t calls = 1 + pick(4);
      for (std::size_t call = 0; call < calls; ++call) {
        const Status s = statuses[pick(statuses.size())];
        switch (pick(m.up ? 9 : 8)) {
          case 0:
            steps << " show";
            Ov::showWithStatus(s);
            setStatus(s);
            present();
            m.cancellable = false;
            break;
          case 1:
            steps << " show-cancellable";
            Ov::showWithTitle("Quote", s, [&] { ++cancels; });
            setStatus(s);
            present();
            m.cancellable = true;
            break;
          case 2:
            steps << " progress-show";
            Ov::showProgressWithStyle(widgets::OvProgressHUDProgressStyleRadial, "Download", s);
            setStatus(s);
            present();
            m.cancellable = false;
            break;
          case 3:
            steps << " update-status";
            Ov::updateStatus(s);
            setStatus(s);
            present();
            break;
          case 4:
            steps << " progress" << (s ? "-status" : "");
            Ov::updateProgress(0.5, s);
            if (s) setStatus(s);
            present();
            break;
          case 5:
            steps << " dismiss";
            Ov::dismiss();
            m.up = m.pendingDown = false;
            endAsking();
            break;
          case 6:
          case 7: {
            const bool success = pick(2) == 0;
            const float delay = delays[pick(delays.size())];
            steps << (success ? " success-after(" : " error-after(") << delay << ")";
            if (success)
              Ov::dismissWithSuccess(s, std::nullopt, delay);
            else
              Ov::dismissWithError(s, std::nullopt, delay);
            if (s) setStatus(s);
            const bool keepUp = delay == inf || delay == 18446744073709551616.0f;
            m.pendingDown = m.up && !keepUp;
            break;
          }
          default:  // a tap, on an overlay that is up
            steps << " tap";
            hud()->hudWindow()->tapAt(Point{10, 10});
            if (m.confirming) {
              m.cancels += m.cancellable ? 1 : 0;
              m.pendingDown = true;
              endAsking();
            } else if (m.cancellable) {
              m.confirming = m.questionShown = true;
              m.askedAt = now;
            }
            break;
        }
      }
      const bool settle = pick(2) == 0;
      steps << (settle ? " | settle |" : " | 1 s |");
      advance(settle ? 6 : 1);
      now += settle ? 6 : 1;
      if (m.pendingDown) {
        m.up = m.pendingDown = false;
        endAsking();
      }
      if (m.confirming && now - m.askedAt > 2.8) endAsking();
      SCOPED_TRACE(steps.str());
      EXPECT_EQ(cancels, m.cancels);
      const Status shown = m.questionShown ? Status("Cancel?") : m.latest;
      EXPECT_EQ(hud()->status(), shown);
      if (m.up) {
        auto window = hud()->hudWindow();
        ASSERT_TRUE(window && !window->isHidden());
        EXPECT_TRUE(hud()->isVisible());
        EXPECT_EQ(hud()->hud().superviewRaw(), hud().get());
        EXPECT_EQ(hud()->hud().statusLabel().text(), shown.value_or(""));
        EXPECT_EQ(hud()->isConfirmed(), m.confirming);
      }
      if (settle) {
        EXPECT_EQ(bool(hud()->hudWindow()), m.up);
        EXPECT_EQ(hud()->isVisible(), m.up);
        EXPECT_FALSE(hud()->isConfirmed());
        EXPECT_FALSE(hud()->hasDismissDelayTimer());
        if (m.up) {
          EXPECT_FALSE(box().hasAnimations());
        }
      }
      if (::testing::Test::HasFailure()) return;
    }
  }
}

TEST_F(WindowOverlay, ADragAcrossTheOverlayDismissesIt) {
  int cancels = 0;
  Ov::showWithTitle("Quote", "Waiting", [&] { ++cancels; });
  advance(2);
  auto window = hud()->hudWindow();
  ASSERT_TRUE(window);
  window->touchDown(Point{10, 10});
  window->touchMove(Point{15, 12});  // within the slop: nothing yet
  EXPECT_FALSE(running("dismiss"));
  window->touchMove(Point{120, 200});
  window->touchUp(Point{160, 300});
  EXPECT_FALSE(hud()->isConfirmed());  // not a tap: no cancel asked for
  EXPECT_EQ(cancels, 0);
  EXPECT_TRUE(running("dismiss"));
  advance(2);
  EXPECT_FALSE(hud()->hudWindow());
}

TEST_F(WindowOverlay, AnUpdateInPlaceTakesTheNewImages) {
  OvImages frames = {pf::Image::blank(20, 20), pf::Image::blank(20, 20)};
  Ov::showWithTitle("Quote", "Loading", frames);
  advance(2);
  widgets::OvHud& box = hud()->hud();
  EXPECT_TRUE(box.imageView().isAnimating());
  EXPECT_NEAR(box.contentAreaFrame.width(), 100, 1);  // made integral at a half-point x

  // A visible box is updated in place, and the update carries no images: the ring alone shows.
  Ov::showProgressWithStyle(1, "Quote", "Half");
  advance(1);
  EXPECT_TRUE(box.animationImages.empty());
  EXPECT_FALSE(box.image);
  EXPECT_TRUE(box.imageView().isHidden());
  EXPECT_FALSE(box.radialProgressView().isHidden());
  EXPECT_NEAR(box.contentAreaFrame.width(), 40, 1);
  EXPECT_NEAR(box.contentAreaFrame.height(), 40, 1);

  // And back to one still image.
  auto still = pf::Image::blank(20, 20);
  Ov::showWithTitle("Quote", "Done", OvImages{still});
  advance(1);
  EXPECT_EQ(box.image, still);
  EXPECT_FALSE(box.imageView().isHidden());
  EXPECT_TRUE(box.radialProgressView().isHidden());
  EXPECT_NEAR(box.contentAreaFrame.width(), 100, 1);
}

TEST_F(WindowOverlay, WhereTheBoxStands) {
  Ov::showWithStatus("Loading");
  advance(2);
  box().setAnchorPoint(Point{0.5, 0.5});
  Point portrait = hud()->windowCenterForHUDAnchor(Point{0.5, 0.5});
  EXPECT_NEAR(portrait.x, 160, 0.5);
  EXPECT_NEAR(portrait.y, 240, 0.5);
  // In landscape the window keeps portrait co-ordinates: x and y exchange.
  pf::Application::shared().setStatusBarOrientation(pf::InterfaceOrientation::LandscapeLeft);
  Point landscape = hud()->windowCenterForHUDAnchor(Point{0.5, 0.5});
  EXPECT_NEAR(landscape.x, 240, 0.5);
  EXPECT_NEAR(landscape.y, 160, 0.5);

  // Half-point alignment of an odd-width box.
  auto layer = pf::Layer::make();
  layer->setBounds(Rect(0, 0, 101, 60));
  EXPECT_EQ(OvProgressHUD::antialiasedPositionPointForPoint(Point{160, 30}, *layer), (Point{160.5, 30}));
  EXPECT_EQ(OvProgressHUD::antialiasedPositionPointForPoint(Point{161, 30}, *layer), (Point{161, 30}));
  layer->setAnchorPoint(Point{0, 0.5});
  EXPECT_EQ(OvProgressHUD::antialiasedPositionPointForPoint(Point{160, 30}, *layer), (Point{160, 30}));
}

TEST_F(WindowOverlay, RotationFollowsTheApplicationWindow) {
  struct Root : pf::ViewController {
    unsigned supportedInterfaceOrientations() const override { return pf::kOrientationMaskAll; }
    bool shouldAutorotate() const override { return false; }
    bool shouldAutorotateToInterfaceOrientation(pf::InterfaceOrientation o) const override {
      return o == pf::InterfaceOrientation::LandscapeRight;
    }
  };
  auto app = pf::Window::make(Rect(0, 0, 320, 480));
  app->setRootViewController(std::make_shared<Root>());
  app->makeKeyAndVisible();
  pf::Application::shared().setStatusBarOrientation(pf::InterfaceOrientation::LandscapeLeft);
  Ov::setPresentationStyle(widgets::OvProgressHUDPresentationStyleNone);
  Ov::showWithStatus("Turning");
  auto window = hud()->hudWindow();
  ASSERT_TRUE(window);
  EXPECT_FALSE(window->isKeyWindow());
  EXPECT_EQ(window->oldWindow(), app);
  auto controller = window->rootViewController();
  EXPECT_EQ(controller->view().get(), hud().get());
  EXPECT_NEAR(hud()->layer().transform().decompose().rotation, -M_PI / 2, 1e-9);
  EXPECT_EQ(controller->supportedInterfaceOrientations(), pf::kOrientationMaskAll);
  EXPECT_FALSE(controller->shouldAutorotate());
  EXPECT_TRUE(controller->shouldAutorotateToInterfaceOrientation(pf::InterfaceOrientation::LandscapeRight));
  EXPECT_FALSE(controller->shouldAutorotateToInterfaceOrientation(pf::InterfaceOrientation::Portrait));
  // A touch the tap recognizer does not take dismisses the overlay.
  hud()->touchesEnded(pf::Touch{});
  EXPECT_FALSE(hud()->hudWindow());
}

TEST_F(WindowOverlay, ContentBoxLayout) {
  auto& box = hud()->hud();
  box.setTitleText(std::nullopt);
  box.setMessageText(std::nullopt);
  box.updateLayoutFrames();
  pf::Size indicator = box.activityIndicator().frame().size;
  pf::Rect bounds = box.titleFrame.unionWith(box.contentAreaFrame).unionWith(box.statusFrame);
  EXPECT_EQ(bounds.size.width + 10, indicator.width + 10);
  EXPECT_EQ(bounds.size.height + 10, indicator.height + 20);
  EXPECT_EQ(box.contentAreaFrame.origin, (Point{5, 10}));

  // An empty title is laid out as none.
  box.setTitleText(std::string());
  box.setMessageText(std::string("Status"));
  box.updateLayoutFrames();
  EXPECT_EQ(box.titleFrame.height(), 0);
  EXPECT_EQ(box.contentAreaFrame.y(), 10);
  box.applyLayoutFrames();
  EXPECT_EQ(box.statusLabel().font().name, "HelveticaNeue-Bold");
  box.setTitleText(std::string("Title"));
  box.applyLayoutFrames();
  EXPECT_EQ(box.statusLabel().font().name, "HelveticaNeue-Light");
  EXPECT_GE(box.titleFrame.width(), 100);
  EXPECT_LE(box.titleFrame.width(), 300);

  // The same text leaves the layout alone; a long title keeps every line within 275.
  box.needsUpdate = false;
  box.setTitleText(std::string("Title"));
  EXPECT_FALSE(box.needsUpdate);
  std::string longTitle;
  for (int i = 0; i < 40; ++i) longTitle += "word ";
  pf::Size size = box.titleLabelSizeForTitleText(longTitle);
  EXPECT_LE(size.width, 275);
  EXPECT_GT(size.height, 3 * pf::text::size("word", box.titleLabel().font()).height);

  EXPECT_EQ(widgets::OvVectorImage::vectorImageShapeOfType(0, (pf::Size{100, 50}), pf::Color::white(1))->size(),
            (pf::Size{100, 100}));
}

TEST_F(WindowOverlay, ClassOperationsRunOnTheMainThread) {
  OvProgressHUD::resetSharedHUD();
  std::atomic<bool> done{false};
  auto worker = pf::Thread::detach([&] {
    Ov::setPresentationStyle(widgets::OvProgressHUDPresentationStyleFade);
    Ov::showProgressWithStyle(widgets::OvProgressHUDProgressStyleRadial, "Upload", "Sending");
    Ov::updateProgress(0.3);
    done = true;
  });
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return done.load(); }));
  EXPECT_TRUE(hud()->hudWindow());
  EXPECT_EQ(hud()->presentationStyle, widgets::OvProgressHUDPresentationStyleFade);
  EXPECT_EQ(hud()->hud().accessibilityValue, "30%");
}

// Pixels of the ring, the marks, the border and the backdrops.
TEST_F(WindowOverlay, DrawnPieces) {
  widgets::OvRadialProgressView ring(Rect(0, 0, 40, 40));
  ring.setBackgroundColor(pf::Color::black());
  ring.setProgress(0.25);
  auto ringImage = pf::render::view(ring, 1);
  // The upper-right quarter of the ring is white, the upper-left faint.
  EXPECT_GT(ringImage->pixel(30, 9).r, 0.9);
  EXPECT_LT(ringImage->pixel(9, 9).r, 0.4);

  auto check = widgets::OvVectorImage::vectorImageShapeOfType(0, pf::Size{64, 64}, pf::Color::white(1));
  auto cross = widgets::OvVectorImage::vectorImageShapeOfType(1, pf::Size{64, 64}, pf::Color::white(1));
  const double s = check->scale();
  EXPECT_GT(check->pixel(static_cast<int>(25 * s), static_cast<int>(50 * s)).a, 0.9);
  EXPECT_LT(check->pixel(static_cast<int>(5 * s), static_cast<int>(5 * s)).a, 0.1);
  EXPECT_GT(cross->pixel(static_cast<int>(32 * s), static_cast<int>(32 * s)).a, 0.9);
  EXPECT_LT(cross->pixel(static_cast<int>(32 * s), static_cast<int>(4 * s)).a, 0.1);

  auto& box = hud()->hud();
  box.setDisplayStyle(widgets::OvProgressHUDDisplayStyleBordered);
  EXPECT_EQ(box.layer().borderWidth(), 2);
  box.setDisplayStyle(widgets::OvProgressHUDDisplayStylePlain);
  EXPECT_EQ(box.layer().borderWidth(), 0);

  widgets::OvProgressHUDOverlayView radial(Rect(0, 0, 100, 100), 0);
  radial.setOverlayColor(pf::Color::black());
  auto radialImage = pf::render::view(radial, 1);
  EXPECT_LT(radialImage->pixel(50, 50).a, 0.05);
  EXPECT_GT(radialImage->pixel(0, 0).a, 0.2);
  widgets::OvProgressHUDOverlayView flat(Rect(0, 0, 100, 100), 1);
  flat.setOverlayColor(pf::Color::black());
  EXPECT_NEAR(pf::render::view(flat, 1)->pixel(50, 50).a, 0.3, 0.02);
}

}  // namespace
