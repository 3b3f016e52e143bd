#include "widgets/OvProgressHUD.h"

#include <cmath>
#include <limits>
#include <mutex>
#include <random>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/ThreadChecker.h"
#include "platform/ui/Application.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Screen.h"
#include "platform/ui/UINotifications.h"

namespace widgets {

namespace {

constexpr const char* kShowKey = "show";
constexpr const char* kDismissKey = "dismiss";
constexpr const char* kGlowKey = "glow-animation";
constexpr const char* kPresentName = "mm-progress-hud-present-animation";
constexpr const char* kDismissName = "mm-progress-hud-dismiss-animation";
constexpr double kConfirmationSeconds = 2.8;
constexpr double kProgressCompletionDelay = 0.33;

pf::SharedInstance<OvProgressHUD> gShared;

struct RandomSource {
  pf::Mutex mutex;
  std::function<std::uint32_t(std::uint32_t)> source PF_GUARDED_BY(mutex);
};
RandomSource& randomSource() {
  static RandomSource r;
  return r;
}

// Runs fn on the main thread: directly there, else synchronously on the main queue.
void onMain(const std::function<void()>& fn) {
  if (pf::Thread::isMainThread())
    fn();
  else
    pf::DispatchQueue::main()->sync(fn);
}

bool isPortrait(pf::InterfaceOrientation o) {
  return o == pf::InterfaceOrientation::Portrait || o == pf::InterfaceOrientation::PortraitUpsideDown;
}

// A draw r from 0 to 999 taken as r / 1000 in single precision.
double draw() { return static_cast<double>(static_cast<float>(OvProgressHUD::randomUniform(1000)) / 1000.0f); }

pf::Transform3D rotationZ(double angle) { return pf::Transform3D::rotation(angle, 0, 0, 1); }

double fractional(double v) { return v - std::trunc(v); }

// Opens a transaction with implicit actions disabled for fn.
void inTransaction(const std::function<void()>& fn, std::function<void()> completion = {}) {
  pf::Transaction::begin();
  pf::Transaction::setDisableActions(true);
  if (completion) pf::Transaction::setCompletionBlock(std::move(completion));
  fn();
  pf::Transaction::commit();
}

}  // namespace

// ---- window and controller

OvProgressHUDWindow::OvProgressHUDWindow() : pf::Window(pf::Screen::main()->bounds()) {
  setWindowLevel(pf::kWindowLevelStatusBar);
  setBackgroundColor(pf::Color::clear());
  setOpaque(false);
}

std::shared_ptr<pf::Window> OvProgressHUDWindow::oldWindow() {
  if (oldWindow_) return oldWindow_;
  auto& app = pf::Application::shared();
  if (auto key = app.keyWindow(); key && key.get() != this) {
    oldWindow_ = key;
  } else if (auto delegate = app.delegate()) {
    if (auto w = delegate->window()) oldWindow_ = *w;
  }
  return oldWindow_;
}

void OvProgressHUDWindow::setRootViewController(std::shared_ptr<pf::ViewController> controller) {
  pf::Window::setRootViewController(controller);
  if (controller) orientRootViewControllerForOrientation(controller->interfaceOrientation());
}

void OvProgressHUDWindow::orientRootViewControllerForOrientation(pf::InterfaceOrientation o) {
  auto root = rootViewController();
  if (!root) return;
  double angle = 0;
  if (o == pf::InterfaceOrientation::PortraitUpsideDown) angle = M_PI;
  if (o == pf::InterfaceOrientation::LandscapeLeft) angle = -M_PI / 2;
  if (o == pf::InterfaceOrientation::LandscapeRight) angle = M_PI / 2;
  root->view()->setTransform(angle == 0 ? pf::AffineTransform::identity() : pf::AffineTransform::rotation(angle));
}

std::shared_ptr<pf::ViewController> OvProgressHUDViewController::oldRoot() const {
  if (!isViewLoaded()) return nullptr;
  auto* self = const_cast<OvProgressHUDViewController*>(this);
  auto window = std::dynamic_pointer_cast<OvProgressHUDWindow>(self->view()->window());
  if (!window) return nullptr;
  auto old = window->oldWindow();
  return old ? old->rootViewController() : nullptr;
}

bool OvProgressHUDViewController::shouldAutorotateToInterfaceOrientation(pf::InterfaceOrientation o) const {
  auto* self = const_cast<OvProgressHUDViewController*>(this);
  if (isViewLoaded() && std::dynamic_pointer_cast<OvProgressHUDWindow>(self->view()->window()))
    return oldRootViewControllerShouldRotateToOrientation(o);
  return pf::ViewController::shouldAutorotateToInterfaceOrientation(o);
}

bool OvProgressHUDViewController::oldRootViewControllerShouldRotateToOrientation(pf::InterfaceOrientation o) const {
  auto root = oldRoot();
  if (!root) return pf::ViewController::shouldAutorotateToInterfaceOrientation(o);
  auto presented = root->presentedViewController();
  if (presented && presented->shouldAutorotateToInterfaceOrientation(o)) return true;
  return root->shouldAutorotateToInterfaceOrientation(o);
}

unsigned OvProgressHUDViewController::supportedInterfaceOrientations() const {
  if (auto root = oldRoot()) return root->supportedInterfaceOrientations();
  return pf::ViewController::supportedInterfaceOrientations();
}

bool OvProgressHUDViewController::shouldAutorotate() const {
  if (auto root = oldRoot()) return root->shouldAutorotate();
  return pf::ViewController::shouldAutorotate();
}

// ---- the overlay

OvProgressHUD::OvProgressHUD() : pf::View(pf::Rect()) {}

OvProgressHUD::~OvProgressHUD() {
  if (window_) window_->setHidden(true);
  if (dismissDelayTimer_) dismissDelayTimer_->invalidate();
  if (confirmationTimer_) confirmationTimer_->invalidate();
}

void OvProgressHUD::setUp() {
  hud_ = OvHud::make();
  hud_->delegate = std::static_pointer_cast<OvProgressHUD>(shared_from_this());
  errorImage = OvVectorImage::vectorImageShapeOfType(1, pf::Size{37, 37}, pf::Color::white(1));
  successImage = OvVectorImage::vectorImageShapeOfType(0, pf::Size{37, 37}, pf::Color::white(1));
  setAutoresizingMask(pf::kAutoresizingFlexibleWidth | pf::kAutoresizingFlexibleHeight);
  setOpaque(false);
}

std::shared_ptr<OvProgressHUD> OvProgressHUD::sharedHUD() {
  std::shared_ptr<OvProgressHUD> shared;
  // Made on the main thread, like every view.
  onMain([&] {
    shared = gShared.get([] {
      auto hud = std::make_shared<OvProgressHUD>();
      hud->setUp();
      return hud;
    });
  });
  return shared;
}

void OvProgressHUD::resetSharedHUD() {
  auto old = gShared.exchange(nullptr);
  if (old) old->forceCleanup();
}

std::uint32_t OvProgressHUD::randomUniform(std::uint32_t bound) {
  if (bound == 0) return 0;
  auto& r = randomSource();
  pf::MutexLock lock(r.mutex);
  if (r.source) return r.source(bound) % bound;
  static std::mt19937 engine{std::random_device{}()};
  return std::uniform_int_distribution<std::uint32_t>(0, bound - 1)(engine);
}

void OvProgressHUD::setRandomSource(std::function<std::uint32_t(std::uint32_t)> source) {
  auto& r = randomSource();
  pf::MutexLock lock(r.mutex);
  r.source = std::move(source);
}

std::weak_ptr<OvProgressHUD> OvProgressHUD::weakSelf() {
  return std::static_pointer_cast<OvProgressHUD>(shared_from_this());
}

void OvProgressHUD::setCancelBlock(OvCallback block) {
  PF_ASSERT_MAIN_THREAD();
  cancelBlock_ = std::move(block);
  constexpr std::uint64_t traits = pf::kAccessibilityTraitButton | pf::kAccessibilityTraitAllowsDirectInteraction;
  if (cancelBlock_)
    hud_->accessibilityTraits |= traits;
  else
    hud_->accessibilityTraits &= ~traits;
}

void OvProgressHUD::setProgressCompletion(OvCallback completion) {
  PF_ASSERT_MAIN_THREAD();
  if (!completion) {
    progressCompletion_ = nullptr;
    return;
  }
  std::weak_ptr<OvProgressHUD> weak = weakSelf();
  progressCompletion_ = [weak, completion = std::move(completion)] {
    completion();
    if (auto self = weak.lock()) self->progressCompletion_ = nullptr;
  };
}

OvProgressHUDOverlayView& OvProgressHUD::overlayView() {
  if (!overlayView_) {
    overlayView_ = std::make_shared<OvProgressHUDOverlayView>();
    overlayView_->setAlpha(0);
  }
  return *overlayView_;
}

void OvProgressHUD::setProgressStyle(std::int64_t style) {
  PF_ASSERT_MAIN_THREAD();
  hud_->progressStyle = style;
  if (style == OvProgressHUDProgressStyleRadial || style == OvProgressHUDProgressStyleNoIndicator)
    accessibilityTraits |= pf::kAccessibilityTraitUpdatesFrequently;
  else
    accessibilityTraits &= ~static_cast<std::uint64_t>(pf::kAccessibilityTraitUpdatesFrequently);
}

void OvProgressHUD::setProgress(double value) {
  PF_ASSERT_MAIN_THREAD();
  if (std::isnan(value)) value = 0;
  hud_->setProgress(value, true);
  const int percent = static_cast<int>(std::clamp(value, 0.0, 1.0) * 100);
  hud_->accessibilityValue = pf::format("%i%%", percent);
  pf::postAccessibilityNotification(pf::kAccessibilityScreenChangedNotification,
                                    pf::format("%@ %@", hud_->accessibilityLabel, hud_->accessibilityValue));
}

pf::InterfaceOrientation OvProgressHUD::currentOrientation() const {
  auto& app = pf::Application::shared();
  if (auto key = app.keyWindow())
    if (auto root = key->rootViewController()) return root->interfaceOrientation();
  return app.statusBarOrientation();
}

pf::Point OvProgressHUD::windowCenterForHUDAnchor(pf::Point anchor) {
  const double h = hud_->frame().height();
  const pf::Rect area = window_ ? window_->frame() : pf::Screen::main()->bounds();
  const double cx = area.midX(), cy = area.midY();
  pf::Point p = isPortrait(currentOrientation()) ? pf::Point{cx, cy + (anchor.y - 0.5) * h}
                                                 : pf::Point{cy, cx + (anchor.y - 0.5) * h};
  p = pf::Point{pf::roundHalfAwayF(p.x), pf::roundHalfAwayF(p.y)};
  return antialiasedPositionPointForPoint(p, hud_->layer());
}

pf::Point OvProgressHUD::antialiasedPositionPointForPoint(pf::Point p, const pf::Layer& layer) {
  const pf::Point anchor = layer.anchorPoint();
  const pf::Size size = layer.bounds().size;
  auto align = [](double& v, double anchorPart, double side) {
    if (anchorPart == 0 || anchorPart == 1) return;
    const bool sideHalf = fractional(side / 2) != 0, pointHalf = fractional(v / 2) != 0;
    if (sideHalf != pointHalf) v += fractional(side / 2);
  };
  align(p.x, anchor.x, size.width);
  align(p.y, anchor.y, size.height);
  return p;
}

// ---- delegate of the box

pf::Point OvProgressHUD::hudCenterPointForDisplay(OvHud& hud) {
  return windowCenterForHUDAnchor(hud.layer().anchorPoint());
}

std::shared_ptr<pf::Image> OvProgressHUD::imageForCompletionState(std::int64_t state) const {
  if (state == OvProgressHUDCompletionStateError) return errorImage;
  if (state == OvProgressHUDCompletionStateSuccess) return successImage;
  return nullptr;
}

std::shared_ptr<pf::Image> OvProgressHUD::hudImageForCompletionState(OvHud&, std::int64_t state) {
  return imageForCompletionState(state);
}

void OvProgressHUD::hudDidCompleteProgress(OvHud& hud) {
  if (progressCompletion_) {
    auto run = progressCompletion_;
    run();
  }
  hud.accessibilityValue.clear();
}

// ---- presenting

void OvProgressHUD::showWithTitle(std::optional<std::string> title, std::optional<std::string> status,
                                  std::optional<std::string> confirmation, OvCallback cancel, OvImages images) {
  image = nullptr;
  animationImages.clear();
  if (images.size() == 1)
    image = images.front();
  else if (images.size() > 1)
    animationImages = std::move(images);
  showWithTitle(std::move(title), std::move(status), std::move(confirmation), std::move(cancel), progressStyle());
}

void OvProgressHUD::showWithTitle(std::optional<std::string> title, std::optional<std::string> status,
                                  std::optional<std::string> confirmation, OvCallback cancel, std::int64_t style) {
  setProgressStyle(style);
  setCancelBlock(std::move(cancel));
  setTitle(std::move(title));
  setStatus(std::move(status));
  confirmationMessage_ = confirmation && !confirmation->empty() ? *confirmation : std::string("Cancel?");
  if (showsInPlace()) {
    // The box takes the new images (or none) as a show would give them.
    hud_->image = image;
    hud_->animationImages = animationImages;
    updateHUDAnimated(true);
    return;
  }
  show();
}

bool OvProgressHUD::showsInPlace() const {
  // Any moment of a dismissal (an exit waiting for the entry, the box's exit, the backdrop's fade
  // after it) makes a presentation a fresh show, which wins over the dismissal.
  return phase_ == Phase::Shown && window_ && !hud_->layer().animationForKey(kDismissKey);
}

void OvProgressHUD::buildHUDWindow() {
  if (window_) return;
  window_ = std::make_shared<OvProgressHUDWindow>();
  auto controller = std::make_shared<OvProgressHUDViewController>();
  controller->setView(std::static_pointer_cast<OvProgressHUD>(shared_from_this()));
  controller->wantsFullScreenLayout = true;
  window_->setRootViewController(controller);
  buildOverlayViewForMode(overlayView().overlayMode(), *window_);
  window_->setHidden(false);
}

void OvProgressHUD::buildOverlayViewForMode(std::int64_t mode, pf::View& inView) {
  OvProgressHUDOverlayView& backdrop = overlayView();
  backdrop.setFrame(inView.bounds());
  backdrop.setOverlayMode(mode);
  inView.insertSubview(overlayView_, 0);
}

void OvProgressHUD::buildHUD() {
  setAutoresizingMask(pf::kAutoresizingFlexibleWidth | pf::kAutoresizingFlexibleHeight);
  buildHUDWindow();
  // One recognizer for the overlay's life.
  if (!tap_) {
    tap_ = std::make_shared<pf::TapGestureRecognizer>();
    std::weak_ptr<OvProgressHUD> weak = weakSelf();
    tap_->addTarget([weak](pf::GestureRecognizer&) {
      if (auto self = weak.lock()) self->handleTap();
    });
    addGestureRecognizer(tap_);
  }
  hud_->image = image;
  hud_->animationImages = animationImages;
  hud_->layer().setTransform(pf::Transform3D::identity());
  hud_->applyLayoutFrames();
  addSubview(hud_);
}

void OvProgressHUD::show() {
  PF_ASSERT_MAIN_THREAD();
  supersedeDismissal();
  ++presentations_;
  // The latest request wins over a waiting exit.
  queuedDismissAnimation = nullptr;
  pf::Transaction::begin();
  pf::Transaction::setDisableActions(true);
  buildHUD();
  presentedAnimated_ = true;
  const bool animated = presentationStyle >= OvProgressHUDPresentationStyleDrop &&
                        presentationStyle <= OvProgressHUDPresentationStyleFade;
  if (animated) {
    showStyle(presentationStyle);
  } else {
    presentedAnimated_ = false;
    phase_ = Phase::Shown;
    hud_->visible = true;
    hud_->layer().setPosition(windowCenterForHUDAnchor(hud_->layer().anchorPoint()));
    hud_->layer().setTransform(pf::Transform3D::identity());
    hud_->layer().setOpacity(1);
    overlayView().setAlpha(1);
  }
  pf::Transaction::commit();
  std::weak_ptr<OvProgressHUD> weak = weakSelf();
  pf::View::animate(animated ? 0.25 : 0, 0, pf::kAnimationBeginFromCurrentState | pf::kAnimationCurveEaseOut,
                    [this] { overlayView().setAlpha(1); },
                    [weak](bool) {
                      if (auto self = weak.lock())
                        pf::postAccessibilityNotification(pf::kAccessibilityScreenChangedNotification,
                                                          self->hud_->accessibilityLabel);
                    });
}

bool OvProgressHUD::endConfirmation() {
  if (confirmationTimer_) {
    confirmationTimer_->invalidate();
    confirmationTimer_ = nullptr;
  }
  const bool wasConfirmed = confirmed_;
  confirmed_ = false;
  if (wasConfirmed) {
    endGlowAnimation();
    hud_->setMessageText(std::move(tempStatus_));
  }
  tempStatus_.reset();
  return wasConfirmed;
}

void OvProgressHUD::supersedeDismissal() {
  if (dismissDelayTimer_) {
    dismissDelayTimer_->invalidate();
    dismissDelayTimer_ = nullptr;
  }
  ++requests_;
}

void OvProgressHUD::dismiss() {
  PF_ASSERT_MAIN_THREAD();
  if (!window_) return;
  supersedeDismissal();
  // The leaving box shows the status again, not the question.
  if (endConfirmation()) updateMessageLabelsAnimated(false);
  // The latest request wins over a waiting entry.
  queuedShowAnimation = nullptr;
  phase_ = Phase::Leaving;
  const std::int64_t style = presentationStyle;
  const bool animated = style >= OvProgressHUDPresentationStyleDrop && style <= OvProgressHUDPresentationStyleFade;
  if (animated) {
    dismissStyle(style);
  } else {
    hud_->layer().setOpacity(0);
    overlayView().layer().setOpacity(0);
    removeFromSuperview();
    phase_ = Phase::Hidden;
    hud_->visible = false;
    window_->setHidden(true);
    window_ = nullptr;
  }
  const std::uint64_t presentation = presentations_;
  std::weak_ptr<OvProgressHUD> weak = weakSelf();
  pf::View::animate(animated ? 0.75 : 0, style == OvProgressHUDPresentationStyleDrop ? 0.35 : 0,
                    pf::kAnimationBeginFromCurrentState | pf::kAnimationCurveEaseIn,
                    [this] { overlayView().setAlpha(0); },
                    [weak, presentation](bool) {
                      auto self = weak.lock();
                      // A show since this dismissal keeps the window and what it shows.
                      if (!self || self->presentations_ != presentation) return;
                      self->image = nullptr;
                      self->animationImages.clear();
                      self->setProgress(0);
                      self->hud_->completionState = OvProgressHUDCompletionStateNone;
                      self->phase_ = Phase::Hidden;
                      self->hud_->visible = false;
                      if (self->window_) self->window_->setHidden(true);
                      self->window_ = nullptr;
                      pf::postAccessibilityNotification(pf::kAccessibilityScreenChangedNotification, std::nullopt);
                    });
}

void OvProgressHUD::dismissWithCompletionState(std::int64_t state, std::optional<std::string> title,
                                               std::optional<std::string> status, float delay) {
  if (title) setTitle(std::move(title));
  if (status) setStatus(std::move(status));
  hud_->completionState = state;
  // Positive infinity and 2 to the 64th keep the overlay up; any other delay that is not above 0
  // (a negative one, negative infinity, not a number) dismisses as 0 does.
  const bool keepUp = delay == std::numeric_limits<float>::infinity() || delay == 18446744073709551616.0f;
  const double seconds = delay > 0 ? static_cast<double>(delay) : 0.0;
  supersedeDismissal();
  const std::uint64_t request = requests_;
  std::weak_ptr<OvProgressHUD> weak = weakSelf();
  auto schedule = [weak, seconds, request] {
    auto self = weak.lock();
    // A show, an update or another dismissal since this one (the same turn included) wins.
    if (!self || self->requests_ != request) return;
    self->dismissDelayTimer_ = pf::Timer::scheduled(seconds, false, [weak](pf::Timer&) {
      if (auto hud = weak.lock()) {
        hud->dismissDelayTimer_ = nullptr;
        hud->dismiss();
      }
    });
  };
  if (isVisible()) {
    runHUDUpdate(true, [schedule, keepUp](bool) {
      if (!keepUp) schedule();
    });
  } else if (!keepUp) {
    schedule();
  }
}

void OvProgressHUD::forceCleanup() {
  PF_ASSERT_MAIN_THREAD();
  if (window_) {
    window_->setHidden(true);
    window_->setRootViewController(nullptr);
  }
  window_ = nullptr;
}

void OvProgressHUD::touchesEnded(const pf::Touch&) { dismiss(); }

void OvProgressHUD::updateHUDAnimated(bool animated, std::function<void(bool)> completion) {
  PF_ASSERT_MAIN_THREAD();
  supersedeDismissal();
  runHUDUpdate(animated, std::move(completion));
}

void OvProgressHUD::runHUDUpdate(bool animated, std::function<void(bool)> completion) {
  if (animated) {
    std::weak_ptr<OvProgressHUD> weak = weakSelf();
    pf::View::animate(0.1, 0, pf::kAnimationBeginFromCurrentState | pf::kAnimationCurveEaseOut,
                      [weak] {
                        if (auto self = weak.lock()) self->updateHUD();
                      },
                      std::move(completion));
    return;
  }
  updateHUD();
  if (completion) completion(true);
}

void OvProgressHUD::updateHUD() {
  hud_->updateLayoutFrames();
  hud_->updateAnimated(true);
  hud_->layer().setPosition(windowCenterForHUDAnchor(hud_->layer().anchorPoint()));
}

void OvProgressHUD::updateMessageLabelsAnimated(bool animated) {
  hud_->updateTitleMessage(title(), status(), animated);
}

// ---- taps

void OvProgressHUD::handleTap() {
  PF_ASSERT_MAIN_THREAD();
  if (cancelBlock_ && !confirmed_) {
    tempStatus_ = status();
    std::weak_ptr<OvProgressHUD> weak = weakSelf();
    confirmationTimer_ = pf::Timer::scheduled(kConfirmationSeconds, false, [weak](pf::Timer&) {
      if (auto self = weak.lock()) self->resetConfirmationTimer();
    });
    setStatus(confirmationMessage_);
    hud_->updateTitleMessage(title(), status(), true);
    confirmed_ = true;
    beginGlowAnimation();
    return;
  }
  if (!confirmed_) return;
  supersedeDismissal();
  const std::uint64_t request = requests_;
  // The question is answered: the error mark comes with the status again.
  endConfirmation();
  if (auto cancel = cancelBlock_) cancel();
  hud_->completionState = OvProgressHUDCompletionStateError;
  hud_->needsUpdate = true;
  std::weak_ptr<OvProgressHUD> weak = weakSelf();
  hud_->updateAnimated(true, [weak, request](bool) {
    auto self = weak.lock();
    if (self && self->requests_ == request) self->dismiss();
  });
}

void OvProgressHUD::resetConfirmationTimer() {
  if (endConfirmation()) updateMessageLabelsAnimated(true);
}

// ---- animations

void OvProgressHUD::executeShowAnimation(std::shared_ptr<pf::Animation> animation) {
  if (!animation) return;
  animation->setValue("name", kPresentName);
  phase_ = Phase::Shown;
  hud_->visible = true;
  pf::Layer& layer = hud_->layer();
  if (layer.animationForKey(kDismissKey)) {
    queuedShowAnimation = std::move(animation);
    return;
  }
  if (layer.animationForKey(kShowKey)) return;
  queuedShowAnimation = nullptr;
  // An entry that waited for an exit finds the box taken out and reset: it goes back first.
  if (hud_->superviewRaw() != this) {
    hud_->needsUpdate = true;
    hud_->applyLayoutFrames();
    addSubview(hud_);
  }
  std::weak_ptr<OvProgressHUD> weak = weakSelf();
  pf::Transaction::begin();
  pf::Transaction::setCompletionBlock([weak] {
    auto self = weak.lock();
    if (!self) return;
    self->queuedShowAnimation = nullptr;
    if (auto exit = std::move(self->queuedDismissAnimation)) {
      self->queuedDismissAnimation = nullptr;
      self->executeDismissAnimation(exit);
    }
  });
  layer.addAnimation(animation, kShowKey);
  pf::Transaction::commit();
}

void OvProgressHUD::executeDismissAnimation(std::shared_ptr<pf::Animation> animation) {
  if (!animation) return;
  animation->setValue("name", kDismissName);
  pf::Layer& layer = hud_->layer();
  if (layer.animationForKey(kShowKey)) {
    queuedDismissAnimation = std::move(animation);
    return;
  }
  if (layer.animationForKey(kDismissKey)) return;
  queuedDismissAnimation = nullptr;
  std::weak_ptr<OvProgressHUD> weak = weakSelf();
  pf::Transaction::begin();
  pf::Transaction::setCompletionBlock([weak] {
    auto self = weak.lock();
    if (!self) return;
    if (auto done = self->dismissAnimationCompletion) done();
    self->hud_->removeFromSuperview();
    self->queuedDismissAnimation = nullptr;
    self->hud_->prepareForReuse();
    if (auto entry = std::move(self->queuedShowAnimation)) {
      self->queuedShowAnimation = nullptr;
      self->executeShowAnimation(entry);
    }
  });
  layer.addAnimation(animation, kDismissKey);
  pf::Transaction::commit();
}

void OvProgressHUD::showStyle(std::int64_t style) {
  switch (style) {
    case OvProgressHUDPresentationStyleDrop: showWithDropAnimation(); break;
    case OvProgressHUDPresentationStyleExpand: showWithExpandAnimation(false); break;
    case OvProgressHUDPresentationStyleShrink: showWithExpandAnimation(true); break;
    case OvProgressHUDPresentationStyleSwingLeft: showWithSwingInAnimationFromLeft(true); break;
    case OvProgressHUDPresentationStyleSwingRight: showWithSwingInAnimationFromLeft(false); break;
    case OvProgressHUDPresentationStyleBalloon: showWithBalloonAnimation(); break;
    default: fadeWithAnimation(true); break;
  }
}

void OvProgressHUD::dismissStyle(std::int64_t style) {
  switch (style) {
    case OvProgressHUDPresentationStyleExpand: dismissWithExpandAnimation(false); break;
    case OvProgressHUDPresentationStyleShrink: dismissWithExpandAnimation(true); break;
    case OvProgressHUDPresentationStyleBalloon: dismissWithBalloonAnimation(); break;
    case OvProgressHUDPresentationStyleFade: fadeWithAnimation(false); break;
    default: dismissWithDropAnimation(); break;  // the drop, and both swings
  }
}

void OvProgressHUD::showWithDropAnimation() {
  pf::Layer& layer = hud_->layer();
  layer.setAnchorPoint(pf::Point{0.5, 0});
  const pf::Point c = windowCenterForHUDAnchor(layer.anchorPoint());
  const double h = hud_->frame().height();
  inTransaction([&] {
    layer.setPosition(pf::Point{c.x, -h});
    layer.setOpacity(1);
    executeShowAnimation(dropAnimationIn());
  });
}

void OvProgressHUD::dismissWithDropAnimation() {
  pf::Layer& layer = hud_->layer();
  const double r1 = draw();
  const pf::Point p = layer.position();
  const double h = hud_->frame().height(), H = frame().height();
  inTransaction([&] {
    executeDismissAnimation(dropAnimationOut());
    layer.setPosition(pf::Point{p.x, H + h});
    layer.setTransform(rotationZ(r1 * 2 / M_PI - 1 / M_PI));
  });
}

void OvProgressHUD::showWithExpandAnimation(bool shrink) {
  pf::Layer& layer = hud_->layer();
  layer.setAnchorPoint(pf::Point{0.5, 0.5});
  layer.setPosition(windowCenterForHUDAnchor(layer.anchorPoint()));
  inTransaction([&] {
    layer.setTransform(pf::Transform3D::identity());
    layer.setOpacity(1);
    executeShowAnimation(shrinkAnimation(shrink, false));
  });
}

void OvProgressHUD::dismissWithExpandAnimation(bool shrink) {
  pf::Layer& layer = hud_->layer();
  inTransaction([&] {
    const double s = shrink ? 0.25 : 3;
    layer.setTransform(pf::Transform3D::scale(s, s, 1));
    layer.setOpacity(0);
    executeDismissAnimation(shrinkAnimation(shrink, true));
  });
}

void OvProgressHUD::showWithSwingInAnimationFromLeft(bool fromLeft) {
  pf::Layer& layer = hud_->layer();
  layer.setAnchorPoint(pf::Point{0.5, 0});
  const pf::Point c = windowCenterForHUDAnchor(layer.anchorPoint());
  inTransaction([&] {
    layer.setOpacity(1);
    layer.setPosition(c);
    executeShowAnimation(swingInAnimationFromLeft(fromLeft));
  });
}

void OvProgressHUD::showWithBalloonAnimation() {
  pf::Layer& layer = hud_->layer();
  layer.setAnchorPoint(pf::Point{0.5, 1});
  const pf::Point c = windowCenterForHUDAnchor(layer.anchorPoint());
  const double h = hud_->frame().height(), H = frame().height();
  inTransaction([&] {
    layer.setOpacity(1);
    layer.setPosition(pf::Point{c.x, H + h});
    executeShowAnimation(dropAnimationIn());
  });
}

void OvProgressHUD::dismissWithBalloonAnimation() {
  pf::Layer& layer = hud_->layer();
  layer.setAnchorPoint(pf::Point{0.5, 1});
  const pf::Point c = windowCenterForHUDAnchor(layer.anchorPoint());
  const double h = hud_->frame().height();
  inTransaction([&] {
    layer.setTransform(rotationZ(M_PI / 2));
    executeDismissAnimation(balloonAnimationOut());
    layer.setPosition(pf::Point{c.x, -h});
  });
}

void OvProgressHUD::fadeWithAnimation(bool in) {
  pf::Layer& layer = hud_->layer();
  layer.setAnchorPoint(pf::Point{0.5, 0.5});
  layer.setTransform(pf::Transform3D::identity());
  const pf::Point c = windowCenterForHUDAnchor(layer.anchorPoint());
  inTransaction([&] {
    if (in)
      executeShowAnimation(fadeInAnimation());
    else
      executeDismissAnimation(fadeOutAnimation());
    layer.setOpacity(in ? 1 : 0);
    layer.setPosition(c);
  });
}

std::shared_ptr<pf::AnimationGroup> OvProgressHUD::dropAnimationIn() {
  pf::Layer& layer = hud_->layer();
  const double r = draw();
  const double a = (r * 2 / M_PI) / 5 + 1 / (5 * M_PI);
  const pf::Point c = windowCenterForHUDAnchor(layer.anchorPoint());
  const std::vector<double> keyTimes{0, 0.25f, 0.35f, 0.55f, 0.7f, 1};

  pf::Path path;
  path.moveTo(layer.position());
  path.lineTo(pf::Point{c.x - 10, c.y - 2});
  path.curveTo(pf::Point{c.x, c.y - 10}, pf::Point{c.x + 10, c.y - 10}, pf::Point{c.x + 5, c.y - 2});
  path.curveTo(pf::Point{c.x + 7, c.y - 7}, pf::Point{c.x, c.y - 7}, pf::Point{c.x - 3, c.y});
  path.curveTo(pf::Point{c.x, c.y - 4}, pf::Point{c.x, c.y - 4}, c);
  auto position = pf::KeyframeAnimation::make("position");
  position->path = path;
  position->calculationMode = "cubic";
  position->keyTimes = keyTimes;
  position->timingFunction = pf::TimingFunction::linear();

  auto rotation = pf::KeyframeAnimation::make("transform.rotation.z");
  rotation->values = {a, -0.85 * a, 0.6 * a, -0.3 * a, 0.0};
  rotation->calculationMode = "cubic";
  rotation->keyTimes = keyTimes;
  rotation->timingFunction = pf::TimingFunction::easeInEaseOut();

  auto group = pf::AnimationGroup::make({position, rotation});
  group->duration = 1.5f;
  executeShowAnimation(group);
  layer.setPosition(c);
  layer.setTransform(pf::Transform3D::identity());
  return group;
}

std::shared_ptr<pf::AnimationGroup> OvProgressHUD::dropAnimationOut() {
  pf::Layer& layer = hud_->layer();
  const double r = draw();
  const double b = r * 2 / M_PI - 1 / M_PI;
  const double h = hud_->frame().height(), H = frame().height();
  auto transform = pf::BasicAnimation::make("transform");
  transform->fromValue = layer.transform();
  transform->toValue = rotationZ(b);
  auto position = pf::BasicAnimation::make("position");
  position->fromValue = layer.position();
  position->toValue = pf::Point{layer.position().x, H + h};
  auto group = pf::AnimationGroup::make({transform, position});
  group->duration = 0.75;
  group->timingFunction = pf::TimingFunction::easeIn();
  group->removedOnCompletion = true;
  return group;
}

std::shared_ptr<pf::AnimationGroup> OvProgressHUD::shrinkAnimation(bool shrink, bool out) {
  auto scale = pf::KeyframeAnimation::make("transform.scale");
  scale->calculationMode = "cubic";
  auto opacity = pf::BasicAnimation::make("opacity");
  opacity->timingFunction = pf::TimingFunction::easeIn();
  auto f = [](double v) { return static_cast<double>(static_cast<float>(v)); };
  double duration;
  if (!out) {
    const double start = shrink ? 3 : 0.25, end = 1;
    scale->values = {start, shrink ? f(end * 0.9f) : f(end * 1.1f), shrink ? f(end * 1.1f) : f(end * 0.9f), end};
    scale->keyTimes = {0, f(0.65), f(0.8), 1};
    opacity->fromValue = 0.0;
    opacity->toValue = 1.0;
    duration = f(0.25);
  } else {
    const double start = 1;
    scale->values = {start, shrink ? f(start * 1.2f) : f(start * 0.8f), shrink ? 0.25 : 3.0};
    scale->keyTimes = {0, f(0.45), 1};
    opacity->fromValue = 1.0;
    opacity->toValue = 0.0;
    duration = f(0.35);
  }
  auto group = pf::AnimationGroup::make({scale, opacity});
  group->timingFunction = pf::TimingFunction::easeOut();
  group->duration = duration;
  return group;
}

std::shared_ptr<pf::AnimationGroup> OvProgressHUD::swingInAnimationFromLeft(bool fromLeft) {
  const pf::Point c = windowCenterForHUDAnchor(hud_->layer().anchorPoint());
  const pf::Rect area = window_ ? window_->frame() : pf::Screen::main()->bounds();
  const bool portrait = isPortrait(currentOrientation());
  const double W = portrait ? area.width() : area.height(), V = portrait ? area.height() : area.width();
  const double w = hud_->frame().width();
  const double x0 = fromLeft ? -w : W + w;
  const double c1x = fromLeft ? x0 + 10 : x0 - 10;
  const double c2x = fromLeft ? c.x - W / 4 : c.x + W / 4;
  const std::vector<double> keyTimes{0, 0.75, 0.8, 0.9, 1};
  const std::vector<pf::TimingFunction> timings{pf::TimingFunction::easeIn(), pf::TimingFunction::easeOut(),
                                                pf::TimingFunction::easeIn(), pf::TimingFunction::easeOut(),
                                                pf::TimingFunction::easeInEaseOut()};
  pf::Path path;
  path.moveTo(pf::Point{x0, 0});
  path.curveTo(pf::Point{c1x, V / 4}, pf::Point{c2x, c.y}, c);
  path.lineTo(pf::Point{c.x - 5, c.y});
  path.lineTo(pf::Point{c.x + 3, c.y});
  path.lineTo(c);
  auto position = pf::KeyframeAnimation::make("position");
  position->path = path;
  position->calculationMode = "cubic";
  position->keyTimes = keyTimes;
  position->timingFunctions = timings;

  const double sign = fromLeft ? 1 : -1;
  auto rotation = pf::KeyframeAnimation::make("transform.rotation");
  rotation->values = {sign * M_PI / 4, 0.0, -sign * M_PI / 24, sign * M_PI / 48, 0.0};
  rotation->keyTimes = keyTimes;
  rotation->timingFunctions = timings;
  rotation->calculationMode = "cubic";

  auto group = pf::AnimationGroup::make({position, rotation});
  group->duration = 0.75;
  return group;
}

std::shared_ptr<pf::KeyframeAnimation> OvProgressHUD::balloonAnimationOut() {
  const pf::Point p = hud_->layer().position();
  const double h = hud_->frame().height();
  const double d = -h - p.y;
  pf::Path path;
  path.moveTo(p);
  path.curveTo(pf::Point{p.x, p.y + d / 4}, pf::Point{p.x - 50, -d / 2 - h}, pf::Point{p.x, -h});
  auto position = pf::KeyframeAnimation::make("position");
  position->path = path;
  position->calculationMode = "cubic";
  position->timingFunction = pf::TimingFunction::easeIn();
  position->rotationMode = "auto";
  position->duration = 0.75;
  position->removedOnCompletion = true;
  return position;
}

std::shared_ptr<pf::BasicAnimation> OvProgressHUD::fadeInAnimation() {
  pf::Layer& layer = hud_->layer();
  auto fade = pf::BasicAnimation::make("opacity");
  fade->fromValue = layer.opacity() == 1 ? 0.0 : layer.presentationProps().opacity;
  fade->toValue = 1.0;
  fade->duration = 0.25;
  return fade;
}

std::shared_ptr<pf::BasicAnimation> OvProgressHUD::fadeOutAnimation() {
  auto fade = pf::BasicAnimation::make("opacity");
  fade->fromValue = hud_->layer().presentationProps().opacity;
  fade->toValue = 0.0;
  fade->duration = static_cast<float>(0.55);
  return fade;
}

std::shared_ptr<pf::Transition> OvProgressHUD::moveInAnimation() {
  auto move = pf::Transition::make("moveIn", "fromRight");
  move->duration = static_cast<float>(0.33);
  return move;
}

std::shared_ptr<pf::AnimationGroup> OvProgressHUD::glowAnimation() {
  pf::Layer& layer = hud_->layer();
  auto shadowColor = pf::BasicAnimation::make("shadowColor");
  shadowColor->fromValue = layer.shadowColor();
  shadowColor->toValue = glowColor;
  auto shadowOpacity = pf::BasicAnimation::make("shadowOpacity");
  shadowOpacity->fromValue = layer.shadowOpacity();
  shadowOpacity->toValue = 1.0;
  auto background = pf::BasicAnimation::make("backgroundColor");
  background->fromValue = layer.backgroundColor().value_or(pf::Color::clear());
  background->toValue = pf::Color::white(0, static_cast<float>(0.85));
  auto group = pf::AnimationGroup::make({shadowColor, shadowOpacity, background});
  group->duration = static_cast<float>(0.35);
  group->timingFunction = pf::TimingFunction::easeInEaseOut();
  group->autoreverses = true;
  group->repeatCount = std::numeric_limits<double>::infinity();
  return group;
}

void OvProgressHUD::beginGlowAnimation() { hud_->layer().addAnimation(glowAnimation(), kGlowKey); }
void OvProgressHUD::endGlowAnimation() { hud_->layer().removeAnimationForKey(kGlowKey); }

// ---- class operations

namespace OvProgressHUDClass {

namespace {
std::shared_ptr<OvProgressHUD> shared() { return OvProgressHUD::sharedHUD(); }
}  // namespace

void setPresentationStyle(std::int64_t style) {
  onMain([&] { shared()->presentationStyle = style; });
}

void setDisplayStyle(std::int64_t style) {
  onMain([&] { shared()->hud().setDisplayStyle(style); });
}

void showWithStatus(std::optional<std::string> status) { showWithTitle(std::nullopt, std::move(status)); }

void showWithTitle(std::optional<std::string> title, std::optional<std::string> status, OvImages images) {
  showWithTitle(std::move(title), std::move(status), std::nullopt, OvCallback{}, std::move(images));
}

void showWithTitle(std::optional<std::string> title, std::optional<std::string> status, OvCallback cancel,
                   OvImages images) {
  showWithTitle(std::move(title), std::move(status), std::nullopt, std::move(cancel), std::move(images));
}

void showWithTitle(std::optional<std::string> title, std::optional<std::string> status,
                   std::optional<std::string> confirmation, OvCallback cancel, OvImages images) {
  onMain([&] {
    auto hud = shared();
    hud->setProgressStyle(OvProgressHUDProgressStyleIndeterminate);
    hud->showWithTitle(std::move(title), std::move(status), std::move(confirmation), std::move(cancel),
                       std::move(images));
  });
}

void showProgressWithStyle(std::int64_t style, std::optional<std::string> title, std::optional<std::string> status,
                           std::optional<std::string> confirmation, OvCallback cancel, OvImages images) {
  onMain([&] {
    auto hud = shared();
    hud->setProgressStyle(style);
    hud->showWithTitle(std::move(title), std::move(status), std::move(confirmation), std::move(cancel),
                       std::move(images));
  });
}

void updateStatus(std::optional<std::string> status) { updateTitle(std::nullopt, std::move(status)); }

void updateTitle(std::optional<std::string> title, std::optional<std::string> status) {
  onMain([&] {
    auto hud = shared();
    OvImages images;
    if (!hud->hud().animationImages.empty())
      images = hud->hud().animationImages;
    else if (hud->hud().image)
      images = {hud->hud().image};
    showWithTitle(title ? std::move(title) : hud->title(), std::move(status), hud->confirmationMessage(),
                  hud->cancelBlock(), std::move(images));
  });
}

void updateProgress(double progress, std::optional<std::string> status, std::optional<std::string> title) {
  onMain([&] {
    auto hud = shared();
    hud->setProgress(progress);
    if (status) hud->setStatus(std::move(status));
    if (title) hud->setTitle(std::move(title));
    if (hud->showsInPlace()) {
      std::weak_ptr<OvProgressHUD> weak = hud;
      const bool complete = !std::isnan(progress) && progress >= 1;
      hud->updateHUDAnimated(true, [weak, complete](bool) {
        auto self = weak.lock();
        if (!complete || !self || !self->progressCompletion()) return;
        pf::DispatchQueue::main()->after(kProgressCompletionDelay, [weak] {
          auto later = weak.lock();
          if (later && later->progressCompletion()) {
            auto run = later->progressCompletion();
            run();
          }
        });
      });
      return;
    }
    hud->show();
  });
}

namespace {
void dismissWithState(std::int64_t state, std::optional<std::string> status, std::optional<std::string> title,
                      float delay) {
  onMain([&] { shared()->dismissWithCompletionState(state, std::move(title), std::move(status), delay); });
}
}  // namespace

void dismissWithSuccess(std::optional<std::string> status, std::optional<std::string> title, float delay) {
  dismissWithState(OvProgressHUDCompletionStateSuccess, std::move(status), std::move(title), delay);
}

void dismissWithError(std::optional<std::string> status, std::optional<std::string> title, float delay) {
  dismissWithState(OvProgressHUDCompletionStateError, std::move(status), std::move(title), delay);
}

void dismiss() {
  onMain([] { shared()->dismiss(); });
}

}  // namespace OvProgressHUDClass

}  // namespace widgets
