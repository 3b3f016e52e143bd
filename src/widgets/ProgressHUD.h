#pragma once
// The progress overlay shared by the three overlays (TnqProgressHUD for the charts,
// PylProgressHUD for the application shell, MwProgressHUD for the container): a translucent
// rounded box in the middle of its parent with an indicator, a label and a details label, shown
// and hidden with a fade or zoom, with a grace time, a minimum show time and tasks run while it
// is shown. The three differ in details chosen by their kind; each public class exposes only its
// own properties and operations.
//
// Timers and delayed calls run on the run loop of the thread that calls show or hide (the main
// thread); a pending grace, minimum-show or delayed-hide timer is replaced, never doubled, and
// none survives done(), so the completion and the delegate are told once per hide.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Timer.h"
#include "platform/ui/Font.h"
#include "platform/ui/Label.h"
#include "platform/ui/UINotifications.h"
#include "platform/ui/View.h"
#include "widgets/ProgressViews.h"

namespace widgets {

enum HUDMode : std::int64_t {
  kHUDModeIndeterminate = 0,
  kHUDModeDeterminate = 1,
  kHUDModeDeterminateHorizontalBar = 2,
  kHUDModeAnnularDeterminate = 3,
  kHUDModeCustomView = 4,
  kHUDModeText = 5,
};

enum HUDAnimation : std::int64_t { kHUDAnimationFade = 0, kHUDAnimationZoomOut = 1, kHUDAnimationZoomIn = 2 };

class ProgressHUD : public pf::View {
 public:
  ~ProgressHUD() override;

  HUDKind kind() const { return kind_; }

  // ---- properties shared by all three
  std::int64_t mode() const;
  void setMode(std::int64_t mode);
  std::int64_t animationType() const;
  void setAnimationType(std::int64_t type);
  std::string labelText() const;
  void setLabelText(std::string text);
  std::string detailsLabelText() const;
  void setDetailsLabelText(std::string text);
  float opacity() const;
  void setOpacity(float opacity);
  float xOffset() const;
  void setXOffset(float v);
  float yOffset() const;
  void setYOffset(float v);
  float margin() const;
  void setMargin(float v);
  bool dimBackground() const;
  void setDimBackground(bool on);
  float graceTime() const;
  void setGraceTime(float seconds);
  float minShowTime() const;
  void setMinShowTime(float seconds);
  bool taskInProgress() const;
  void setTaskInProgress(bool on);
  bool removeFromSuperViewOnHide() const;
  void setRemoveFromSuperViewOnHide(bool on);
  pf::Font labelFont() const;
  void setLabelFont(pf::Font font);
  pf::Font detailsLabelFont() const;
  void setDetailsLabelFont(pf::Font font);
  float progress() const;
  void setProgress(float progress);
  pf::Size minSize() const;
  void setMinSize(pf::Size size);
  pf::Size size() const;
  bool isSquare() const;
  void setSquare(bool on);
  std::shared_ptr<pf::View> customView() const;
  void setCustomView(std::shared_ptr<pf::View> view);

  // ---- working state
  std::shared_ptr<pf::View> indicator() const { return indicator_; }
  std::shared_ptr<pf::Label> label() const { return label_; }
  std::shared_ptr<pf::Label> detailsLabel() const { return detailsLabel_; }
  std::optional<double> showStarted() const { return showStarted_; }
  bool hasGraceTimer() const { return graceTimer_ && graceTimer_->isValid(); }
  bool hasMinShowTimer() const { return minShowTimer_ && minShowTimer_->isValid(); }
  pf::AffineTransform rotationTransform() const { return rotationTransform_; }
  bool useAnimation() const { return useAnimation_; }

  // ---- showing and hiding
  void show(bool animated);
  void hide(bool animated);
  void hide(bool animated, double delay);

  // The selector task: method runs on a detached thread; the overlay is shown meanwhile and hides
  // when it returns. target and object are held until the clean-up (the shell's overlay keeps
  // them).
  void showWhileExecuting(std::function<void()> method, std::shared_ptr<void> target,
                          std::shared_ptr<void> object, bool animated);

  // ---- view overrides
  void layoutSubviews() override;
  void drawRect(const pf::Rect& rect) override;
  void didMoveToSuperview() override;

  // ---- internal operations (reached by timers, delayed calls, animations and notifications)
  void handleGraceTimer();
  void handleMinShowTimer();
  void hideDelayed(bool animated);
  void showUsingAnimation(bool animated);
  void hideUsingAnimation(bool animated);
  void animationFinished(bool finished);
  void done();
  void cleanUp();
  void updateIndicators();
  void updateUIForKeypath(const std::string& keyPath);
  std::vector<std::string> observableKeypaths() const;
  // The chart overlay's orientation handling.
  void statusBarOrientationDidChange();
  void updateForCurrentOrientationAnimated(bool animated);
  // The shell's and the container's.
  void deviceOrientationDidChange();
  void setTransformForCurrentOrientation(bool animated);
  // Turns the bounds and transform to the status bar's orientation (the animation's own duration
  // when none is given).
  void rotateToCurrentOrientation(bool animated, std::optional<double> duration);

 protected:
  ProgressHUD(HUDKind kind, const pf::Rect& frame);

  // Tells the delegate (when there is one) that the overlay is hidden.
  virtual void tellDelegate() = 0;
  // A new indicator view of the kind's flavour.
  virtual std::shared_ptr<pf::View> makeRoundView() const = 0;
  virtual std::shared_ptr<pf::View> makeBarView() const = 0;
  virtual bool isRoundView(const pf::View* view) const = 0;

  // Per-kind properties, made public by the classes that have them.
  pf::OptColor color() const;
  void setColor(pf::OptColor color);
  float cornerRadius() const;
  void setCornerRadius(float radius);
  pf::Color labelColor() const;
  void setLabelColor(pf::Color color);
  pf::Color detailsLabelColor() const;
  void setDetailsLabelColor(pf::Color color);
  pf::Color activityIndicatorColor() const;
  void setActivityIndicatorColor(pf::Color color);
  std::function<void()> completionBlock() const;
  void setCompletionBlock(std::function<void()> block);
  void setSize(pf::Size size);

  // The callback task (chart and container overlays).
  void showAnimatedWhileExecutingBlock(bool animated, std::function<void()> block,
                                       std::shared_ptr<pf::DispatchQueue> queue, std::function<void()> completion);

  // Looks for overlays of type T among a view's subviews.
  template <class T>
  static std::shared_ptr<T> frontmostOf(const pf::View* view) {
    if (!view) return nullptr;
    const auto& subs = view->subviews();
    for (auto it = subs.rbegin(); it != subs.rend(); ++it)
      if (auto hud = std::dynamic_pointer_cast<T>(*it)) return hud;
    return nullptr;
  }
  template <class T>
  static std::vector<std::shared_ptr<T>> allOf(const pf::View* view) {
    std::vector<std::shared_ptr<T>> out;
    if (!view) return out;
    for (auto& s : view->subviews())
      if (auto hud = std::dynamic_pointer_cast<T>(s)) out.push_back(hud);
    return out;
  }
  template <class T>
  static bool hideFrontmost(const pf::View* view, bool animated) {
    auto hud = frontmostOf<T>(view);
    if (!hud) return false;
    hud->setRemoveFromSuperViewOnHide(true);
    hud->hide(animated);
    return true;
  }
  template <class T>
  static unsigned hideAllOf(const pf::View* view, bool animated) {
    auto huds = allOf<T>(view);
    for (auto& hud : huds) {
      hud->setRemoveFromSuperViewOnHide(true);
      hud->hide(animated);
    }
    return static_cast<unsigned>(huds.size());
  }

 private:
  void setupLabels();
  void observe(const std::string& keyPath);
  bool observes(const std::string& keyPath) const;
  void invalidateTimer(std::shared_ptr<pf::Timer>& timer);
  double orientationAngle(bool& swap) const;

  const HUDKind kind_;
  mutable pf::RecursiveMutex mutex_;  // the properties are atomic: tasks set them from their threads

  std::int64_t mode_ PF_GUARDED_BY(mutex_) = kHUDModeIndeterminate;
  std::int64_t animationType_ PF_GUARDED_BY(mutex_) = kHUDAnimationFade;
  std::string labelText_ PF_GUARDED_BY(mutex_);
  std::string detailsLabelText_ PF_GUARDED_BY(mutex_);
  float opacity_ PF_GUARDED_BY(mutex_) = 0.8f;
  pf::OptColor color_ PF_GUARDED_BY(mutex_);
  float xOffset_ PF_GUARDED_BY(mutex_) = 0, yOffset_ PF_GUARDED_BY(mutex_) = 0;
  float margin_ PF_GUARDED_BY(mutex_) = 20;
  float cornerRadius_ PF_GUARDED_BY(mutex_) = 10;
  bool dimBackground_ PF_GUARDED_BY(mutex_) = false;
  float graceTime_ PF_GUARDED_BY(mutex_) = 0;
  float minShowTime_ PF_GUARDED_BY(mutex_) = 0;
  bool taskInProgress_ PF_GUARDED_BY(mutex_) = false;
  bool removeFromSuperViewOnHide_ PF_GUARDED_BY(mutex_) = false;
  pf::Font labelFont_ PF_GUARDED_BY(mutex_) = pf::Font::boldSystemFont(16);
  pf::Color labelColor_ PF_GUARDED_BY(mutex_) = pf::Color::whiteColor();
  pf::Font detailsLabelFont_ PF_GUARDED_BY(mutex_) = pf::Font::boldSystemFont(12);
  pf::Color detailsLabelColor_ PF_GUARDED_BY(mutex_) = pf::Color::whiteColor();
  pf::Color activityIndicatorColor_ PF_GUARDED_BY(mutex_) = pf::Color::whiteColor();
  float progress_ PF_GUARDED_BY(mutex_) = 0;
  pf::Size minSize_ PF_GUARDED_BY(mutex_);
  pf::Size size_ PF_GUARDED_BY(mutex_);
  bool square_ PF_GUARDED_BY(mutex_) = false;
  std::shared_ptr<pf::View> customView_ PF_GUARDED_BY(mutex_);
  std::function<void()> completionBlock_ PF_GUARDED_BY(mutex_);

  std::shared_ptr<pf::View> indicator_;
  std::shared_ptr<pf::Timer> graceTimer_;
  std::shared_ptr<pf::Timer> minShowTimer_;
  std::optional<double> showStarted_;
  bool useAnimation_ = false;
  std::function<void()> method_;
  std::shared_ptr<void> target_;
  std::shared_ptr<void> object_;
  std::shared_ptr<pf::Label> label_;
  std::shared_ptr<pf::Label> detailsLabel_;
  pf::AffineTransform rotationTransform_;
  std::uint64_t showGeneration_ = 0;
  pf::UIObservation orientationObservation_;
};

}  // namespace widgets
