#include "widgets/ProgressHUD.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/ThreadChecker.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Application.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

namespace widgets {

using pf::Color;
using pf::Rect;
using pf::Size;

namespace {
constexpr double kGap = 4;  // between stacked elements
constexpr double kAnimationDuration = 0.3;

bool isWindow(const pf::View* v) { return v && dynamic_cast<const pf::Window*>(v) != nullptr; }
}  // namespace

ProgressHUD::ProgressHUD(HUDKind kind, const Rect& frame) : pf::View(frame), kind_(kind) {
  // Initial values are the members' defaults; then the view itself.
  if (kind_ == HUDKind::Tnq) setContentMode(pf::ContentMode::Center);
  setAutoresizingMask(pf::kAutoresizingFlexibleTopMargin | pf::kAutoresizingFlexibleBottomMargin |
                      pf::kAutoresizingFlexibleLeftMargin | pf::kAutoresizingFlexibleRightMargin);
  setOpaque(false);
  setBackgroundColor(Color::clear());
  setAlpha(0);
  taskInProgress_ = false;
  rotationTransform_ = pf::AffineTransform::identity();
  setupLabels();
  updateIndicators();
  // Orientation notifications; the observation ends with the overlay.
  if (kind_ == HUDKind::Tnq) {
    orientationObservation_ = pf::observeUINotification(pf::kApplicationDidChangeStatusBarOrientationNotification,
                                                        [this](const void*) { statusBarOrientationDidChange(); });
  } else {
    orientationObservation_ = pf::observeUINotification(pf::kDeviceOrientationDidChangeNotification,
                                                        [this](const void*) { deviceOrientationDidChange(); });
  }
}

ProgressHUD::~ProgressHUD() {
  orientationObservation_.reset();
  if (graceTimer_) graceTimer_->invalidate();
  if (minShowTimer_) minShowTimer_->invalidate();
}

// ---- properties ----

#define HUD_GET(type, name, field)         \
  type ProgressHUD::name() const {         \
    pf::MutexLock lock(mutex_);            \
    return field;                          \
  }
#define HUD_SET(type, name, field)         \
  void ProgressHUD::name(type value) {     \
    pf::MutexLock lock(mutex_);            \
    field = std::move(value);              \
  }
#define HUD_SET_OBSERVED(type, name, field, key) \
  void ProgressHUD::name(type value) {           \
    {                                            \
      pf::MutexLock lock(mutex_);                \
      field = std::move(value);                  \
    }                                            \
    observe(key);                                \
  }

HUD_GET(std::int64_t, mode, mode_)
HUD_SET_OBSERVED(std::int64_t, setMode, mode_, "mode")
HUD_GET(std::int64_t, animationType, animationType_)
HUD_SET(std::int64_t, setAnimationType, animationType_)
HUD_GET(std::string, labelText, labelText_)
HUD_SET_OBSERVED(std::string, setLabelText, labelText_, "labelText")
HUD_GET(std::string, detailsLabelText, detailsLabelText_)
HUD_SET_OBSERVED(std::string, setDetailsLabelText, detailsLabelText_, "detailsLabelText")
HUD_GET(float, opacity, opacity_)
HUD_SET(float, setOpacity, opacity_)
HUD_GET(pf::OptColor, color, color_)
HUD_SET(pf::OptColor, setColor, color_)
HUD_GET(float, xOffset, xOffset_)
HUD_SET(float, setXOffset, xOffset_)
HUD_GET(float, yOffset, yOffset_)
HUD_SET(float, setYOffset, yOffset_)
HUD_GET(float, margin, margin_)
HUD_SET(float, setMargin, margin_)
HUD_GET(float, cornerRadius, cornerRadius_)
HUD_SET(float, setCornerRadius, cornerRadius_)
HUD_GET(bool, dimBackground, dimBackground_)
HUD_SET(bool, setDimBackground, dimBackground_)
HUD_GET(float, graceTime, graceTime_)
HUD_SET(float, setGraceTime, graceTime_)
HUD_GET(float, minShowTime, minShowTime_)
HUD_SET(float, setMinShowTime, minShowTime_)
HUD_GET(bool, taskInProgress, taskInProgress_)
HUD_SET(bool, setTaskInProgress, taskInProgress_)
HUD_GET(bool, removeFromSuperViewOnHide, removeFromSuperViewOnHide_)
HUD_SET(bool, setRemoveFromSuperViewOnHide, removeFromSuperViewOnHide_)
HUD_GET(pf::Font, labelFont, labelFont_)
HUD_SET_OBSERVED(pf::Font, setLabelFont, labelFont_, "labelFont")
HUD_GET(pf::Color, labelColor, labelColor_)
HUD_SET_OBSERVED(pf::Color, setLabelColor, labelColor_, "labelColor")
HUD_GET(pf::Font, detailsLabelFont, detailsLabelFont_)
HUD_SET_OBSERVED(pf::Font, setDetailsLabelFont, detailsLabelFont_, "detailsLabelFont")
HUD_GET(pf::Color, detailsLabelColor, detailsLabelColor_)
HUD_SET_OBSERVED(pf::Color, setDetailsLabelColor, detailsLabelColor_, "detailsLabelColor")
HUD_GET(pf::Color, activityIndicatorColor, activityIndicatorColor_)
HUD_SET_OBSERVED(pf::Color, setActivityIndicatorColor, activityIndicatorColor_, "activityIndicatorColor")
HUD_GET(float, progress, progress_)
HUD_SET_OBSERVED(float, setProgress, progress_, "progress")
HUD_GET(pf::Size, minSize, minSize_)
HUD_SET(pf::Size, setMinSize, minSize_)
HUD_GET(pf::Size, size, size_)
HUD_SET(pf::Size, setSize, size_)
HUD_GET(bool, isSquare, square_)
HUD_SET(bool, setSquare, square_)
HUD_GET(std::shared_ptr<pf::View>, customView, customView_)
HUD_SET_OBSERVED(std::shared_ptr<pf::View>, setCustomView, customView_, "customView")
HUD_GET(std::function<void()>, completionBlock, completionBlock_)
HUD_SET(std::function<void()>, setCompletionBlock, completionBlock_)

#undef HUD_GET
#undef HUD_SET
#undef HUD_SET_OBSERVED

// ---- observation ----

std::vector<std::string> ProgressHUD::observableKeypaths() const {
  switch (kind_) {
    case HUDKind::Tnq:
      return {"mode", "customView", "labelText", "labelFont", "labelColor", "detailsLabelText", "detailsLabelFont",
              "detailsLabelColor", "progress", "activityIndicatorColor"};
    case HUDKind::Pyl:
      return {"mode", "customView", "labelText", "labelFont", "detailsLabelText", "detailsLabelFont", "progress"};
    case HUDKind::Mw:
      return {"mode", "customView", "labelText", "labelFont", "labelColor", "detailsLabelText", "detailsLabelFont",
              "detailsLabelColor", "progress"};
  }
  return {};
}

bool ProgressHUD::observes(const std::string& keyPath) const {
  auto paths = observableKeypaths();
  return std::find(paths.begin(), paths.end(), keyPath) != paths.end();
}

void ProgressHUD::observe(const std::string& keyPath) {
  if (!observes(keyPath)) return;
  if (pf::Thread::isMainThread()) {
    updateUIForKeypath(keyPath);
    return;
  }
  // A change made on another thread reaches the views on the main thread, without waiting.
  std::weak_ptr<pf::View> weak = weak_from_this();
  pf::DispatchQueue::main()->async([weak, keyPath] {
    if (auto self = std::static_pointer_cast<ProgressHUD>(weak.lock())) self->updateUIForKeypath(keyPath);
  });
}

void ProgressHUD::updateUIForKeypath(const std::string& k) {
  if (k == "mode" || k == "customView" || k == "activityIndicatorColor") {
    updateIndicators();
  } else if (k == "labelText") {
    label_->setText(labelText());
  } else if (k == "labelFont") {
    label_->setFont(labelFont());
  } else if (k == "labelColor") {
    label_->setTextColor(labelColor());
  } else if (k == "detailsLabelText") {
    detailsLabel_->setText(detailsLabelText());
  } else if (k == "detailsLabelFont") {
    detailsLabel_->setFont(detailsLabelFont());
  } else if (k == "detailsLabelColor") {
    detailsLabel_->setTextColor(detailsLabelColor());
  } else if (k == "progress") {
    if (auto* p = dynamic_cast<ProgressIndicator*>(indicator_.get())) p->setProgress(progress());
    return;  // no relayout
  }
  setNeedsLayout();
  setNeedsDisplay();
}

// ---- subviews ----

void ProgressHUD::setupLabels() {
  bool white = kind_ == HUDKind::Pyl;
  label_ = pf::Label::make(bounds());
  label_->setAdjustsFontSizeToFitWidth(false);
  label_->setTextAlignment(pf::TextAlignment::Center);
  label_->setOpaque(false);
  label_->setBackgroundColor(Color::clear());
  label_->setTextColor(white ? Color::whiteColor() : labelColor());
  label_->setFont(labelFont());
  label_->setText(labelText());
  addSubview(label_);

  detailsLabel_ = pf::Label::make(bounds());
  detailsLabel_->setFont(detailsLabelFont());
  detailsLabel_->setAdjustsFontSizeToFitWidth(false);
  detailsLabel_->setTextAlignment(pf::TextAlignment::Center);
  detailsLabel_->setOpaque(false);
  detailsLabel_->setBackgroundColor(Color::clear());
  detailsLabel_->setTextColor(white ? Color::whiteColor() : detailsLabelColor());
  detailsLabel_->setNumberOfLines(0);
  detailsLabel_->setText(detailsLabelText());
  addSubview(detailsLabel_);
}

void ProgressHUD::updateIndicators() {
  auto isSpinner = [](const std::shared_ptr<pf::View>& v) {
    return std::dynamic_pointer_cast<pf::ActivityIndicatorView>(v) != nullptr;
  };
  auto replace = [this](std::shared_ptr<pf::View> next) {
    if (indicator_) indicator_->removeFromSuperview();
    indicator_ = std::move(next);
    if (indicator_) addSubview(indicator_);
  };
  std::int64_t m = mode();
  if (kind_ == HUDKind::Pyl) {
    if (m == kHUDModeIndeterminate) {
      if (!isSpinner(indicator_)) {
        auto spinner = pf::ActivityIndicatorView::make(pf::ActivityIndicatorStyle::WhiteLarge);
        spinner->startAnimating();
        replace(spinner);
      }
    } else if (m == kHUDModeDeterminateHorizontalBar) {
      if (!isRoundView(indicator_.get())) replace(makeRoundView());
      if (auto* round = dynamic_cast<RoundProgressView*>(indicator_.get())) round->setAnnular(true);
    } else if (m == kHUDModeCustomView) {
      auto custom = customView();
      if (custom != indicator_) replace(custom);
    }
    return;
  }
  switch (m) {
    case kHUDModeIndeterminate: {
      if (!isSpinner(indicator_)) {
        auto spinner = pf::ActivityIndicatorView::make(pf::ActivityIndicatorStyle::WhiteLarge);
        spinner->startAnimating();
        replace(spinner);
        if (kind_ == HUDKind::Tnq) spinner->setColor(activityIndicatorColor());
      } else if (kind_ == HUDKind::Tnq) {
        std::static_pointer_cast<pf::ActivityIndicatorView>(indicator_)->setColor(activityIndicatorColor());
      }
      break;
    }
    case kHUDModeDeterminate:
    case kHUDModeAnnularDeterminate:
      if (!isRoundView(indicator_.get())) replace(makeRoundView());
      if (m == kHUDModeAnnularDeterminate)
        if (auto* round = dynamic_cast<RoundProgressView*>(indicator_.get())) round->setAnnular(true);
      break;
    case kHUDModeDeterminateHorizontalBar:
      replace(makeBarView());
      break;
    case kHUDModeCustomView: {
      auto custom = customView();
      if (custom != indicator_) replace(custom);
      break;
    }
    case kHUDModeText:
      replace(nullptr);
      break;
    default:
      break;
  }
}

// ---- showing and hiding ----

void ProgressHUD::invalidateTimer(std::shared_ptr<pf::Timer>& timer) {
  if (timer) timer->invalidate();
  timer.reset();
}

void ProgressHUD::show(bool animated) {
  PF_ASSERT_MAIN_THREAD();
  useAnimation_ = animated;
  if (graceTime() > 0.0f) {
    invalidateTimer(graceTimer_);
    auto self = std::static_pointer_cast<ProgressHUD>(shared_from_this());
    graceTimer_ = pf::Timer::scheduled(graceTime(), false, [self](pf::Timer&) { self->handleGraceTimer(); });
    return;
  }
  if (kind_ != HUDKind::Tnq) setNeedsDisplay();
  showUsingAnimation(useAnimation_);
}

void ProgressHUD::handleGraceTimer() {
  graceTimer_.reset();
  if (kind_ != HUDKind::Tnq) setNeedsDisplay();
  // Show the overlay only while the task still runs.
  if (taskInProgress()) showUsingAnimation(useAnimation_);
}

void ProgressHUD::hide(bool animated) {
  PF_ASSERT_MAIN_THREAD();
  useAnimation_ = animated;
  if (minShowTime() > 0.0f && showStarted_) {
    double elapsed = pf::Clock::now() - *showStarted_;
    if (elapsed < minShowTime()) {
      invalidateTimer(minShowTimer_);
      auto self = std::static_pointer_cast<ProgressHUD>(shared_from_this());
      minShowTimer_ = pf::Timer::scheduled(minShowTime() - elapsed, false,
                                           [self](pf::Timer&) { self->handleMinShowTimer(); });
      return;
    }
  }
  hideUsingAnimation(useAnimation_);
}

void ProgressHUD::handleMinShowTimer() {
  minShowTimer_.reset();
  hideUsingAnimation(useAnimation_);
}

void ProgressHUD::hide(bool animated, double delay) {
  auto self = std::static_pointer_cast<ProgressHUD>(shared_from_this());
  pf::RunLoop::current()->performAfter(delay, this, "hideDelayed", [self, animated] { self->hideDelayed(animated); });
}

void ProgressHUD::hideDelayed(bool animated) { hide(animated); }

void ProgressHUD::showUsingAnimation(bool animated) {
  if (kind_ == HUDKind::Pyl) setAlpha(0);
  if (kind_ == HUDKind::Tnq) {
    pf::RunLoop::current()->cancelPerforms(this);
    setNeedsDisplay();
  }
  ++showGeneration_;  // a hide animation still running no longer ends in done()
  std::int64_t type = animationType();
  bool scales = type == kHUDAnimationZoomOut || (type == kHUDAnimationZoomIn && kind_ != HUDKind::Pyl);
  if (animated && scales) {
    double s = type == kHUDAnimationZoomOut ? 1.5 : 0.5;
    setTransform(rotationTransform_.concat(pf::AffineTransform::scale(s, s)));
  }
  showStarted_ = pf::Clock::now();
  if (!animated) {
    setAlpha(1.0);
    return;
  }
  pf::View::beginAnimations();
  pf::View::setAnimationDuration(kAnimationDuration);
  setAlpha(1.0);
  if (scales) setTransform(rotationTransform_);
  pf::View::commitAnimations();
}

void ProgressHUD::hideUsingAnimation(bool animated) {
  auto keep = shared_from_this();
  if (animated && showStarted_) {
    std::int64_t type = animationType();
    std::weak_ptr<pf::View> weak = weak_from_this();
    std::uint64_t generation = showGeneration_;
    pf::View::beginAnimations();
    pf::View::setAnimationDuration(kAnimationDuration);
    pf::View::setAnimationDidStop([weak, generation](bool finished) {
      auto self = std::static_pointer_cast<ProgressHUD>(weak.lock());
      if (self && self->showGeneration_ == generation) self->animationFinished(finished);
    });
    if (type == kHUDAnimationZoomOut)
      setTransform(rotationTransform_.concat(pf::AffineTransform::scale(0.5, 0.5)));
    else if (type == kHUDAnimationZoomIn && kind_ != HUDKind::Pyl)
      setTransform(rotationTransform_.concat(pf::AffineTransform::scale(1.5, 1.5)));
    setAlpha(0.02);
    pf::View::commitAnimations();
  } else {
    setAlpha(0);
    done();
  }
  showStarted_.reset();
}

void ProgressHUD::animationFinished(bool) { done(); }

void ProgressHUD::done() {
  auto keep = shared_from_this();
  if (kind_ == HUDKind::Tnq) pf::RunLoop::current()->cancelPerforms(this);
  // Nothing pending may hide the overlay a second time.
  invalidateTimer(graceTimer_);
  invalidateTimer(minShowTimer_);
  setAlpha(0);
  if (kind_ == HUDKind::Pyl) {
    tellDelegate();
    if (removeFromSuperViewOnHide()) removeFromSuperview();
    return;
  }
  if (removeFromSuperViewOnHide()) removeFromSuperview();
  std::function<void()> completion;
  {
    pf::MutexLock lock(mutex_);
    completion = std::move(completionBlock_);
    completionBlock_ = nullptr;
  }
  if (completion) completion();
  tellDelegate();
}

// ---- tasks ----

void ProgressHUD::showWhileExecuting(std::function<void()> method, std::shared_ptr<void> target,
                                     std::shared_ptr<void> object, bool animated) {
  method_ = std::move(method);
  target_ = std::move(target);
  object_ = std::move(object);
  setTaskInProgress(true);
  auto self = std::static_pointer_cast<ProgressHUD>(shared_from_this());
  std::function<void()> task = method_;
  std::thread([self, task] {
    if (task) task();
    pf::RunLoop::main()->perform([self] { self->cleanUp(); });
  }).detach();
  show(animated);
}

void ProgressHUD::showAnimatedWhileExecutingBlock(bool animated, std::function<void()> block,
                                                  std::shared_ptr<pf::DispatchQueue> queue,
                                                  std::function<void()> completion) {
  setTaskInProgress(true);
  setCompletionBlock(std::move(completion));
  if (!queue) queue = pf::DispatchQueue::global();
  auto self = std::static_pointer_cast<ProgressHUD>(shared_from_this());
  queue->async([self, block = std::move(block)] {
    if (block) block();
    pf::DispatchQueue::main()->async([self] { self->cleanUp(); });
  });
  show(animated);
}

void ProgressHUD::cleanUp() {
  PF_ASSERT_MAIN_THREAD();
  setTaskInProgress(false);
  if (kind_ == HUDKind::Pyl) {
    indicator_.reset();  // the view stays in the overlay; target and argument stay held
  } else {
    target_.reset();
    object_.reset();
  }
  hide(useAnimation_);
}

// ---- layout and drawing ----

void ProgressHUD::layoutSubviews() {
  if (kind_ == HUDKind::Tnq) pf::View::layoutSubviews();
  if (auto* parent = superviewRaw()) setFrame(parent->bounds());
  Rect b = bounds();
  double W = b.width(), H = b.height();
  double m = margin();
  double maxWidth = W - 4 * m;

  Size is = indicator_ ? indicator_->bounds().size : Size{};
  double iw = std::min(is.width, maxWidth), ih = is.height;
  double totalW = iw, totalH = ih;

  std::string text = label_->text();
  Size ls = text.empty() ? Size{} : pf::text::size(text, label_->font());
  double lw = std::min(ls.width, maxWidth), lh = ls.height;
  totalW = std::max(totalW, lw);
  totalH += lh;
  if (lh > 0 && ih > 0) totalH += kGap;

  std::string details = detailsLabel_->text();
  Size ds;
  if (!details.empty()) {
    double remaining = H - totalH - kGap - 4 * m;
    ds = pf::text::boundingSize(details, detailsLabel_->font(), {maxWidth, std::max(0.0, remaining)},
                                detailsLabel_->lineBreakMode());
  }
  double dw = ds.width, dh = ds.height;
  totalH += dh;
  if (dh > 0 && (ih > 0 || lh > 0)) totalH += kGap;
  totalW = std::max(totalW, dw);

  totalW += 2 * m;
  totalH += 2 * m;

  double xo = xOffset(), yo = yOffset();
  double y = pf::roundHalfAway((H - totalH) / 2) + m + yo;
  auto xFor = [&](double w) { return pf::roundHalfAway((W - w) / 2) + xo; };
  if (indicator_) indicator_->setFrame(Rect(xFor(iw), y, iw, ih));
  y += ih;
  if (lh > 0 && ih > 0) y += kGap;
  label_->setFrame(Rect(xFor(lw), y, lw, lh));
  y += lh;
  if (dh > 0 && (ih > 0 || lh > 0)) y += kGap;
  detailsLabel_->setFrame(Rect(xFor(dw), y, dw, dh));

  if (isSquare()) {
    double side = std::max(totalW, totalH);
    if (side <= W - 2 * m) totalW = side;
    if (side <= H - 2 * m) totalH = side;
  }
  Size least = minSize();
  totalW = std::max(totalW, least.width);
  totalH = std::max(totalH, least.height);
  setSize({totalW, totalH});
}

void ProgressHUD::drawRect(const Rect&) {
  pf::GraphicsContext* ctx = pf::currentContext();
  if (!ctx) return;
  Rect b = bounds();
  ctx->save();
  if (dimBackground()) {
    auto g = pf::Gradient::make({Color::white(0, 0), Color::white(0, 0.75)}, {0, 1});
    pf::Point c{b.midX(), b.midY()};
    ctx->drawRadialGradient(g, c, 0, c, std::min(b.width(), b.height()), pf::kGradientDrawsAfterEndLocation);
  }
  pf::OptColor fill = kind_ == HUDKind::Pyl ? std::nullopt : color();
  ctx->setFillColor(fill ? *fill : Color::white(0, opacity()));
  Size s = size();
  Rect box(pf::roundHalfAway((b.width() - s.width) / 2) + xOffset(),
           pf::roundHalfAway((b.height() - s.height) / 2) + yOffset(), s.width, s.height);
  double r = kind_ == HUDKind::Pyl ? 10.0 : cornerRadius();
  ctx->beginPath();
  ctx->moveTo(box.minX() + r, box.minY());
  ctx->addArc(box.maxX() - r, box.minY() + r, r, 3 * M_PI / 2, 0, 0);
  ctx->addArc(box.maxX() - r, box.maxY() - r, r, 0, M_PI / 2, 0);
  ctx->addArc(box.minX() + r, box.maxY() - r, r, M_PI / 2, M_PI, 0);
  ctx->addArc(box.minX() + r, box.minY() + r, r, M_PI, 3 * M_PI / 2, 0);
  ctx->closePath();
  ctx->fillPath();
  ctx->restore();
}

// ---- orientation ----

void ProgressHUD::didMoveToSuperview() {
  if (kind_ == HUDKind::Tnq) {
    updateForCurrentOrientationAnimated(false);
  } else if (kind_ == HUDKind::Mw && isWindow(superviewRaw())) {
    setTransformForCurrentOrientation(false);
  }
}

double ProgressHUD::orientationAngle(bool& swap) const {
  swap = false;
  switch (pf::Application::shared().statusBarOrientation()) {
    case pf::InterfaceOrientation::LandscapeLeft:
      swap = true;
      return -M_PI / 2;
    case pf::InterfaceOrientation::LandscapeRight:
      swap = true;
      return M_PI / 2;
    case pf::InterfaceOrientation::PortraitUpsideDown:
      return M_PI;
    default:
      return 0;
  }
}

void ProgressHUD::statusBarOrientationDidChange() {
  if (superviewRaw()) updateForCurrentOrientationAnimated(true);
}

void ProgressHUD::updateForCurrentOrientationAnimated(bool animated) {
  pf::View* parent = superviewRaw();
  if (parent) {
    setBounds(parent->bounds());
    setNeedsDisplay();
  }
  // From system 8 on the window rotates its content itself.
  if (!pf::Device::current()->systemVersionBelow("8.0") || !isWindow(parent)) return;
  rotateToCurrentOrientation(animated, kAnimationDuration);
}

void ProgressHUD::deviceOrientationDidChange() {
  pf::View* parent = superviewRaw();
  if (!parent) return;
  if (!isWindow(parent)) {
    if (kind_ == HUDKind::Pyl)
      setBounds(parent->bounds());
    else
      setFrame(parent->bounds());
    setNeedsDisplay();
    return;
  }
  setTransformForCurrentOrientation(true);
}

void ProgressHUD::setTransformForCurrentOrientation(bool animated) {
  if (auto* parent = superviewRaw()) {
    setBounds(parent->bounds());
    setNeedsDisplay();
  }
  rotateToCurrentOrientation(animated, std::nullopt);
}

void ProgressHUD::rotateToCurrentOrientation(bool animated, std::optional<double> duration) {
  bool swap;
  double angle = orientationAngle(swap);
  if (swap) {
    Rect b = bounds();
    setBounds(Rect(0, 0, b.height(), b.width()));
  }
  rotationTransform_ = pf::AffineTransform::rotation(angle);
  if (!animated) {
    setTransform(rotationTransform_);
    return;
  }
  pf::View::beginAnimations();
  if (duration) pf::View::setAnimationDuration(*duration);
  setTransform(rotationTransform_);
  pf::View::commitAnimations();
}

}  // namespace widgets
