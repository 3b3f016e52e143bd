#pragma once
// Gesture recognizers. Nothing is recognised from raw touches here: tests and tools inject the
// states (began, changed, ended ...) with a location, and the recognizer calls its targets as the
// platform would. Tap, pinch and long-press recognizers carry their own settings and values.

#include <functional>
#include <memory>
#include <vector>

#include "platform/ui/Geometry.h"

namespace pf {

class View;
class GestureRecognizer;

enum class GestureState { Possible = 0, Began = 1, Changed = 2, Ended = 3, Cancelled = 4, Failed = 5 };
inline constexpr GestureState kGestureRecognized = GestureState::Ended;

class GestureRecognizerDelegate {
 public:
  virtual ~GestureRecognizerDelegate() = default;
  virtual bool gestureRecognizerShouldBegin(GestureRecognizer& recognizer) { return true; }
  // Whether a touch on view reaches the recognizer.
  virtual bool shouldReceiveTouch(GestureRecognizer& recognizer, View& view) { return true; }
};

class GestureRecognizer : public std::enable_shared_from_this<GestureRecognizer> {
 public:
  using Action = std::function<void(GestureRecognizer&)>;

  GestureRecognizer() = default;
  explicit GestureRecognizer(Action action);
  virtual ~GestureRecognizer() = default;
  GestureRecognizer(const GestureRecognizer&) = delete;
  GestureRecognizer& operator=(const GestureRecognizer&) = delete;

  virtual std::string className() const { return "UIGestureRecognizer"; }

  void addTarget(Action action) { actions_.push_back(std::move(action)); }
  void removeAllTargets() { actions_.clear(); }

  GestureState state() const { return state_; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  std::shared_ptr<View> view() const;
  View* viewRaw() const { return view_; }
  std::weak_ptr<GestureRecognizerDelegate> delegate;
  bool cancelsTouchesInView = true;
  int numberOfTouches() const { return touches_; }

  // Location of the gesture in the given view (nullptr: the window).
  Point locationInView(const View* view) const;

  // ---- injection
  void setLocationInWindow(Point p) { location_ = p; }
  // Location given in the recognizer's view.
  void setLocationInView(Point p);
  // Enters the state and calls every target (for Began, Changed, Ended and Cancelled), when enabled
  // and attached; a gesture the delegate does not let begin fails instead.
  void injectState(GestureState state);
  // Whether a touch on view would reach the recognizer (asks the delegate).
  bool shouldReceiveTouch(View& view);

  // Internal: the view the recognizer is attached to.
  void attach(View* view) { view_ = view; }

 protected:
  int touches_ = 1;

 private:
  std::vector<Action> actions_;
  GestureState state_ = GestureState::Possible;
  bool enabled_ = true;
  View* view_ = nullptr;
  Point location_;
};

class TapGestureRecognizer : public GestureRecognizer {
 public:
  using GestureRecognizer::GestureRecognizer;
  std::string className() const override { return "UITapGestureRecognizer"; }
  int numberOfTapsRequired = 1;
  int numberOfTouchesRequired = 1;
};

class PinchGestureRecognizer : public GestureRecognizer {
 public:
  using GestureRecognizer::GestureRecognizer;
  std::string className() const override { return "UIPinchGestureRecognizer"; }
  double scale = 1.0;
  double velocity = 0.0;
  // Sets scale and velocity, then enters the state.
  void injectPinch(GestureState state, double scale, double velocity = 0);
};

class LongPressGestureRecognizer : public GestureRecognizer {
 public:
  using GestureRecognizer::GestureRecognizer;
  std::string className() const override { return "UILongPressGestureRecognizer"; }
  double minimumPressDuration = 0.5;
  double allowableMovement = 10;
  int numberOfTouchesRequired = 1;
};

}  // namespace pf
