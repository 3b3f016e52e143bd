#pragma once
// Windows: root views shown on the screen in the order of their levels. A window is hidden until
// shown (makeKeyAndVisible or setHidden(false)); the application keeps a weak list of windows
// and one key window.

#include <memory>

#include "platform/ui/View.h"

namespace pf {

class ViewController;
class GestureRecognizer;
class LongPressGestureRecognizer;
class PinchGestureRecognizer;
class Timer;
class Control;
class ScrollView;

inline constexpr double kWindowLevelNormal = 0;
inline constexpr double kWindowLevelStatusBar = 1000;
inline constexpr double kWindowLevelAlert = 2000;

class Window : public View {
 public:
  explicit Window(const Rect& frame = Rect());
  ~Window() override;
  static std::shared_ptr<Window> make(const Rect& frame = Rect());
  std::string className() const override { return "UIWindow"; }

  double windowLevel() const { return level_; }
  void setWindowLevel(double level) { level_ = level; }

  std::shared_ptr<ViewController> rootViewController() const { return root_; }
  // The controller's view fills the window.
  virtual void setRootViewController(std::shared_ptr<ViewController> controller);

  void makeKeyAndVisible();
  void makeKey();
  bool isKeyWindow() const;
  void setHidden(bool hidden) override;

  // The one road of injected touches, in window coordinates. The touch belongs to the view hit at
  // touch-down. On its way up from that view, the nearest enabled tap recognizer (asked through its
  // delegate) recognises a tap when the finger lifts without having moved kTouchSlop, and fails
  // once it has; else the nearest enabled control tracks the touch (highlighted while the finger is
  // inside, touch-up inside or outside at the end; a disabled control passes the touch on). Without
  // a control the hit view gets touchesBegan/Moved/Ended/Cancelled, which views pass up to their
  // superviews, also while a tap recognizer watches: a recognised tap ends the touch there as
  // cancelled (unless cancelsTouchesInView is off), a failed one as ended. A touch that moves
  // kTouchSlop points inside a scroll view that lets it go is taken over for scrolling: the control
  // or view hears a cancel and the content follows the finger.
  // The nearest enabled long-press recognizer up from the hit view begins once the finger has
  // rested its minimumPressDuration (a timer on the main run loop) within its allowableMovement,
  // and then has the touch: moves change it, the lift ends it, and the tap, the control and the
  // views (unless cancelsTouchesInView is off) hear that the touch is not theirs. A second finger
  // (finger 1) put down inside the view of the nearest enabled pinch recognizer up from the first
  // finger's view takes the touch for the pinch the same way (from a long press that has it: the
  // press is cancelled, the views hear no second cancel): moves of either finger change its scale
  // (the fingers' distance over their distance at the second touch-down) and location (their
  // middle), beginning at the first move that changes the distance; the first lift ends it and the
  // other finger's later events go nowhere. A second finger without such a recognizer is ignored.
  static constexpr double kTouchSlop = 10;
  void touchDown(Point point, int finger = 0);
  void touchMove(Point point, int finger = 0);
  void touchUp(Point point, int finger = 0);
  void touchCancel();
  bool isTracking() const { return touch_.hit != nullptr; }
  // touchDown then touchUp at the point. Returns the hit view.
  std::shared_ptr<View> tapAt(Point point);

 private:
  // Who has the touch: the views (a tap recognizer, a control or the hit view), the scroll view,
  // the long press that began, or the pinch whose second finger is down.
  enum class Owner { Views, Scroll, Press, Pinch };
  struct TrackedTouch {
    std::shared_ptr<View> hit;
    std::shared_ptr<GestureRecognizer> recognizer;
    std::shared_ptr<Control> control;
    std::shared_ptr<ScrollView> scroller;
    Point start;
    Point last;
    Owner owner = Owner::Views;
    std::shared_ptr<LongPressGestureRecognizer> press;
    std::shared_ptr<Timer> pressTimer;  // fires once the finger has rested
    std::shared_ptr<PinchGestureRecognizer> pinch;
    bool pinchBegan = false;
    Point second;
    double pinchStart = 0;
  };
  Touch touchIn(const View& view, Point point) const;
  // The touch's long press timer fired.
  void pressRested(const Timer& timer);
  // The long press that waits for the finger to rest fails.
  void failWaitingPress();
  void secondFingerDown(Point point);
  void pinchMoved();
  // The long press or the pinch takes the touch: a waiting long press fails (one that began is
  // cancelled), the tap fails, the control or the views hear a cancel, a scroll ends.
  void takeTouch(Owner owner, const GestureRecognizer& taker);
  TrackedTouch touch_;
  double level_ = kWindowLevelNormal;
  std::shared_ptr<ViewController> root_;
};

}  // namespace pf
