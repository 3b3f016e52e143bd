#pragma once
// The window overlay: one progress overlay per process, in a window of its own above the
// application. A full-window backdrop dims the screen; the rounded content box (OvHud) enters and
// leaves with one of eight presentation styles, can be cancelled by two taps (the first asks for
// confirmation) and dismissed after a delay. Driven through the class operations of
// OvProgressHUDClass, which act on sharedHUD() and do their work on the main thread (from another
// thread, synchronously on the main queue: a caller must not hold the main thread waiting).
//
// The latest request wins: a show drops a waiting exit, a dismiss a waiting entry, and any newer
// request ends a pending delayed dismissal, the same turn included. `visible` means on screen:
// set by every presentation, cleared when a dismissal drops the window.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Timer.h"
#include "platform/ui/Animation.h"
#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "widgets/OvHud.h"

namespace widgets {

using OvImages = std::vector<std::shared_ptr<pf::Image>>;
using OvCallback = std::function<void()>;

class OvProgressHUDWindow : public pf::Window {
 public:
  OvProgressHUDWindow();
  std::string className() const override { return "OvProgressHUDWindow"; }
  // The application window current when the overlay first needed it (asked again while none).
  std::shared_ptr<pf::Window> oldWindow();
  void setRootViewController(std::shared_ptr<pf::ViewController> controller) override;
  void orientRootViewControllerForOrientation(pf::InterfaceOrientation orientation);

 private:
  std::shared_ptr<pf::Window> oldWindow_;
};

class OvProgressHUDViewController : public pf::ViewController {
 public:
  std::string className() const override { return "OvProgressHUDViewController"; }
  bool shouldAutorotateToInterfaceOrientation(pf::InterfaceOrientation o) const override;
  bool oldRootViewControllerShouldRotateToOrientation(pf::InterfaceOrientation o) const;
  unsigned supportedInterfaceOrientations() const override;
  bool shouldAutorotate() const override;

 private:
  // The root controller of the application window under the overlay, when the view is in one.
  std::shared_ptr<pf::ViewController> oldRoot() const;
};

class OvProgressHUD : public pf::View, public OvHudDelegate {
 public:
  OvProgressHUD();
  ~OvProgressHUD() override;
  std::string className() const override { return "OvProgressHUD"; }

  static std::shared_ptr<OvProgressHUD> sharedHUD();
  // Tests: drops the shared overlay (its window hidden); the next sharedHUD() makes a new one.
  static void resetSharedHUD();
  // Random draws (0 to bound - 1) of the animations; tests replace the source.
  static std::uint32_t randomUniform(std::uint32_t bound);
  static void setRandomSource(std::function<std::uint32_t(std::uint32_t)> source);

  // ---- state
  bool isVisible() const { return phase_ != Phase::Hidden; }
  bool isConfirmed() const { return confirmed_; }
  bool presentedAnimated() const { return presentedAnimated_; }
  std::int64_t presentationStyle = OvProgressHUDPresentationStyleDrop;
  pf::Color glowColor = pf::Color::red();
  const std::string& confirmationMessage() const { return confirmationMessage_; }
  const OvCallback& cancelBlock() const { return cancelBlock_; }
  void setCancelBlock(OvCallback block);
  std::shared_ptr<pf::Image> errorImage, successImage;
  const OvCallback& progressCompletion() const { return progressCompletion_; }
  // Runs once: the callback is dropped when it has run.
  void setProgressCompletion(OvCallback completion);
  OvCallback dismissAnimationCompletion;
  OvHud& hud() const { return *hud_; }
  const std::shared_ptr<OvHud>& hudPtr() const { return hud_; }
  OvProgressHUDOverlayView& overlayView();
  const std::shared_ptr<OvProgressHUDWindow>& hudWindow() const { return window_; }
  std::shared_ptr<pf::Image> image;
  OvImages animationImages;
  const std::optional<std::string>& tempStatus() const { return tempStatus_; }
  bool hasDismissDelayTimer() const { return dismissDelayTimer_ != nullptr; }
  // Up and not being dismissed: a presentation or a progress updates the box in place; at any
  // moment of a dismissal it is a fresh show.
  bool showsInPlace() const;

  // ---- properties of the box and backdrop
  std::int64_t progressStyle() const { return hud_->progressStyle; }
  void setProgressStyle(std::int64_t style);
  double progress() const { return hud_->progress(); }
  void setProgress(double progress);
  std::optional<std::string> title() const { return hud_->titleText(); }
  void setTitle(std::optional<std::string> title) { hud_->setTitleText(std::move(title)); }
  std::optional<std::string> status() const { return hud_->messageText(); }
  // A status set while a cancel waits for its confirmation is also what the confirmation's end
  // shows again: the latest status wins over the one saved when the confirmation began.
  void setStatus(std::optional<std::string> status) {
    if (confirmed_) tempStatus_ = status;
    hud_->setMessageText(std::move(status));
  }
  std::int64_t overlayMode() { return overlayView().overlayMode(); }
  void setOverlayMode(std::int64_t mode) { overlayView().setOverlayMode(mode); }
  double animationLoopDuration() const { return hud_->animationLoopDuration; }
  void setAnimationLoopDuration(double seconds) { hud_->animationLoopDuration = seconds; }

  // ---- presenting
  void showWithTitle(std::optional<std::string> title, std::optional<std::string> status,
                     std::optional<std::string> confirmationMessage, OvCallback cancelBlock, OvImages images);
  void showWithTitle(std::optional<std::string> title, std::optional<std::string> status,
                     std::optional<std::string> confirmationMessage, OvCallback cancelBlock,
                     std::int64_t progressStyle);
  void show();
  void dismiss();
  void dismissWithCompletionState(std::int64_t state, std::optional<std::string> title,
                                  std::optional<std::string> status, float delay);
  void forceCleanup();
  void touchesEnded(const pf::Touch& touch) override;

  // Where the box stands for the anchor point of its layer.
  pf::Point windowCenterForHUDAnchor(pf::Point anchor);
  static pf::Point antialiasedPositionPointForPoint(pf::Point point, const pf::Layer& layer);
  void updateHUDAnimated(bool animated, std::function<void(bool finished)> completion = {});

  // OvHudDelegate
  pf::Point hudCenterPointForDisplay(OvHud& hud) override;
  std::shared_ptr<pf::Image> hudImageForCompletionState(OvHud& hud, std::int64_t state) override;
  void hudDidCompleteProgress(OvHud& hud) override;

  // ---- animations (public for tests)
  std::shared_ptr<pf::Animation> queuedShowAnimation, queuedDismissAnimation;
  std::shared_ptr<pf::AnimationGroup> dropAnimationIn();
  std::shared_ptr<pf::AnimationGroup> dropAnimationOut();
  std::shared_ptr<pf::AnimationGroup> shrinkAnimation(bool shrink, bool out);
  std::shared_ptr<pf::AnimationGroup> swingInAnimationFromLeft(bool fromLeft);
  std::shared_ptr<pf::KeyframeAnimation> balloonAnimationOut();
  std::shared_ptr<pf::BasicAnimation> fadeInAnimation();
  std::shared_ptr<pf::BasicAnimation> fadeOutAnimation();
  std::shared_ptr<pf::Transition> moveInAnimation();
  std::shared_ptr<pf::AnimationGroup> glowAnimation();
  void beginGlowAnimation();
  void endGlowAnimation();
  void executeShowAnimation(std::shared_ptr<pf::Animation> animation);
  void executeDismissAnimation(std::shared_ptr<pf::Animation> animation);

  // Taps on the overlay.
  void handleTap();
  void resetConfirmationTimer();

 private:
  friend class OvProgressHUDViewController;
  void setUp();
  void buildHUDWindow();
  void buildOverlayViewForMode(std::int64_t mode, pf::View& inView);
  void buildHUD();
  void updateHUD();
  void updateMessageLabelsAnimated(bool animated);
  std::shared_ptr<pf::Image> imageForCompletionState(std::int64_t state) const;
  pf::InterfaceOrientation currentOrientation() const;
  // Ends a pending cancel confirmation (its timer and glow); the status is again the latest one set
  // (the one the first tap saved, or one set since). Says whether one was pending.
  bool endConfirmation();
  // A new request (a show, an update, a dismissal) ends what an earlier dismissal has pending: its
  // timer, and the steps that would still schedule one or dismiss (see requests_).
  void supersedeDismissal();
  // The box's update of updateHUDAnimated, without superseding anything.
  void runHUDUpdate(bool animated, std::function<void(bool finished)> completion);
  void showStyle(std::int64_t style);
  void dismissStyle(std::int64_t style);
  void showWithDropAnimation();
  void dismissWithDropAnimation();
  void showWithExpandAnimation(bool shrink);
  void dismissWithExpandAnimation(bool shrink);
  void showWithSwingInAnimationFromLeft(bool fromLeft);
  void showWithBalloonAnimation();
  void dismissWithBalloonAnimation();
  // The fade entry (in) or exit.
  void fadeWithAnimation(bool in);
  std::weak_ptr<OvProgressHUD> weakSelf();

  // Hidden; up; or up and leaving: a dismissal is the latest request and has not yet dropped the
  // window.
  enum class Phase { Hidden, Shown, Leaving };
  Phase phase_ = Phase::Hidden;
  bool confirmed_ = false;
  bool presentedAnimated_ = false;
  std::string confirmationMessage_ = "Cancel?";
  OvCallback cancelBlock_;
  OvCallback progressCompletion_;
  std::shared_ptr<OvHud> hud_;
  std::shared_ptr<OvProgressHUDOverlayView> overlayView_;
  std::shared_ptr<OvProgressHUDWindow> window_;
  std::shared_ptr<pf::Timer> dismissDelayTimer_;
  std::optional<std::string> tempStatus_;
  std::shared_ptr<pf::Timer> confirmationTimer_;
  std::shared_ptr<pf::TapGestureRecognizer> tap_;
  // Counts presentations: a dismissal's backdrop fade cut short by a newer show leaves the window.
  std::uint64_t presentations_ = 0;
  // Counts requests: a dismissal step that waits for an animation (a delay's timer still to be
  // scheduled, a confirmed cancel's dismissal) does nothing when a request came since.
  std::uint64_t requests_ = 0;
};

// The class operations: each acts on OvProgressHUD::sharedHUD() on the main thread.
namespace OvProgressHUDClass {
void setPresentationStyle(std::int64_t style);
void setDisplayStyle(std::int64_t style);
void showWithStatus(std::optional<std::string> status);
void showWithTitle(std::optional<std::string> title, std::optional<std::string> status, OvImages images = {});
void showWithTitle(std::optional<std::string> title, std::optional<std::string> status, OvCallback cancelBlock,
                   OvImages images = {});
void showWithTitle(std::optional<std::string> title, std::optional<std::string> status,
                   std::optional<std::string> confirmationMessage, OvCallback cancelBlock, OvImages images = {});
void showProgressWithStyle(std::int64_t style, std::optional<std::string> title, std::optional<std::string> status,
                           std::optional<std::string> confirmationMessage = std::nullopt, OvCallback cancelBlock = {},
                           OvImages images = {});
void updateStatus(std::optional<std::string> status);
void updateTitle(std::optional<std::string> title, std::optional<std::string> status);
void updateProgress(double progress, std::optional<std::string> status = std::nullopt,
                    std::optional<std::string> title = std::nullopt);
void dismissWithSuccess(std::optional<std::string> status, std::optional<std::string> title = std::nullopt,
                        float delay = 0.75f);
void dismissWithError(std::optional<std::string> status, std::optional<std::string> title = std::nullopt,
                      float delay = 0.75f);
void dismiss();
}  // namespace OvProgressHUDClass

}  // namespace widgets
