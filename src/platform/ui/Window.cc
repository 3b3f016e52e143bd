#include "platform/ui/Window.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/foundation/ThreadChecker.h"
#include "platform/foundation/Timer.h"
#include "platform/ui/Application.h"
#include "platform/ui/Control.h"
#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/ViewController.h"

namespace pf {

Window::Window(const Rect& frame) : View(frame) {
  View::setHidden(true);
  Application::shared().registerWindow(this);
}

Window::~Window() {
  Application::shared().unregisterWindow(this);
  Keyboard::shared().windowWillGo(*this);
}

std::shared_ptr<Window> Window::make(const Rect& frame) { return std::make_shared<Window>(frame); }

void Window::setRootViewController(std::shared_ptr<ViewController> controller) {
  if (root_ == controller) return;
  if (root_ && root_->isViewLoaded() && root_->view()->superviewRaw() == this) root_->view()->removeFromSuperview();
  root_ = std::move(controller);
  if (root_) {
    auto v = root_->view();
    v->setFrame(bounds());
    addSubview(v);
  }
}

void Window::makeKeyAndVisible() {
  PF_ASSERT_MAIN_THREAD();
  setHidden(false);
  makeKey();
}

void Window::makeKey() { Application::shared().setKeyWindow(this); }

bool Window::isKeyWindow() const { return Application::shared().keyWindow().get() == this; }

void Window::setHidden(bool hidden) {
  View::setHidden(hidden);
  if (!hidden) setNeedsLayout();
  Keyboard::shared().windowsDidChange();
}

Touch Window::touchIn(const View& view, Point point) const { return Touch{view.convertPointFrom(point, this), 1}; }

namespace {

// The nearest enabled recognizer of the kind that fits, on the way up from the hit view, that takes
// its touch. It starts a new touch sequence, whatever the last one did.
template <class Kind>
std::shared_ptr<Kind> nearestRecognizer(View& hit, bool (*fits)(const Kind&) = nullptr) {
  for (View* v = &hit; v; v = v->superviewRaw())
    for (auto& g : v->gestureRecognizers()) {
      auto kind = std::dynamic_pointer_cast<Kind>(g);
      if (kind && (!fits || fits(*kind)) && kind->isEnabled() && kind->shouldReceiveTouch(hit)) {
        kind->injectState(GestureState::Possible);
        return kind;
      }
    }
  return nullptr;
}

double distance(Point a, Point b) { return std::hypot(a.x - b.x, a.y - b.y); }

}  // namespace

void Window::touchDown(Point point, int finger) {
  if (finger != 0) {
    secondFingerDown(point);
    return;
  }
  if (touch_.hit) touchCancel();
  layoutIfNeeded();
  auto hit = hitTest(point);
  if (!hit) return;
  TrackedTouch t;
  t.hit = hit;
  t.start = t.last = point;
  for (View* v = hit.get(); v && !t.recognizer && !t.control; v = v->superviewRaw()) {
    for (auto& g : v->gestureRecognizers()) {
      auto tap = std::dynamic_pointer_cast<TapGestureRecognizer>(g);
      if (tap && tap->isEnabled() && tap->shouldReceiveTouch(*hit)) {
        tap->injectState(GestureState::Possible);  // a new touch sequence, whatever the last one did
        t.recognizer = tap;
        break;
      }
    }
    if (t.recognizer) break;
    if (auto* control = dynamic_cast<Control*>(v); control && control->isEnabled())
      t.control = std::static_pointer_cast<Control>(control->shared_from_this());
  }
  for (View* v = hit.get(); v; v = v->superviewRaw())
    if (auto* sv = dynamic_cast<ScrollView*>(v); sv && sv->scrollEnabled) {
      t.scroller = std::static_pointer_cast<ScrollView>(sv->shared_from_this());
      break;
    }
  t.press = nearestRecognizer<LongPressGestureRecognizer>(
      *hit, [](const LongPressGestureRecognizer& press) { return press.numberOfTouchesRequired == 1; });
  t.pinch = nearestRecognizer<PinchGestureRecognizer>(*hit);
  if (t.press) {
    std::weak_ptr<View> weak = weak_from_this();
    t.pressTimer = Timer::scheduled(t.press->minimumPressDuration, false, [weak](Timer& timer) {
      if (auto self = weak.lock()) static_cast<Window&>(*self).pressRested(timer);
    });
  }
  touch_ = t;
  // While a tap recognizer only may recognise, the views hear the touch as well.
  if (t.control) {
    t.control->setHighlighted(true);
    t.control->sendActionsForControlEvents(kControlEventTouchDown);
  } else {
    hit->touchesBegan(touchIn(*hit, point));
  }
}

void Window::failWaitingPress() {
  touch_.pressTimer->invalidate();
  touch_.press->injectState(GestureState::Failed);
  touch_.press.reset();
}

void Window::takeTouch(Owner owner, const GestureRecognizer& taker) {
  auto& t = touch_;
  const Owner from = std::exchange(t.owner, owner);
  if (t.pressTimer) t.pressTimer->invalidate();
  if (t.press && t.press.get() != &taker) {
    t.press->injectState(from == Owner::Press ? GestureState::Cancelled : GestureState::Failed);
    t.press.reset();
  }
  if (t.recognizer) {
    t.recognizer->injectState(GestureState::Failed);
    t.recognizer.reset();
  }
  // Who had the touch hears it go (from a long press that began, the views heard it then).
  if (from == Owner::Scroll) {
    t.scroller->endTouchDrag();
  } else if (t.control) {
    t.control->setHighlighted(false);
    t.control->sendActionsForControlEvents(kControlEventTouchCancel);
  } else if (from == Owner::Views && taker.cancelsTouchesInView) {
    t.hit->touchesCancelled(touchIn(*t.hit, t.last));
  }
  t.control.reset();
  t.scroller.reset();
}

void Window::pressRested(const Timer& timer) {
  // The timer of the touch going on, while its long press waits.
  if (touch_.pressTimer.get() != &timer || !touch_.press || touch_.owner != Owner::Views) return;
  auto press = touch_.press;
  press->setLocationInWindow(touch_.last);
  press->injectState(GestureState::Began);
  if (press->state() != GestureState::Began) {  // refused by its delegate
    touch_.press.reset();
    return;
  }
  // The target may have ended the touch meanwhile.
  if (touch_.pressTimer.get() != &timer || touch_.press != press) return;
  takeTouch(Owner::Press, *press);
}

void Window::secondFingerDown(Point point) {
  if (!touch_.hit || touch_.owner == Owner::Pinch || !touch_.pinch || !touch_.pinch->viewRaw()) return;
  layoutIfNeeded();
  auto hit = hitTest(point);
  if (!hit || !(hit.get() == touch_.pinch->viewRaw() || hit->isDescendantOf(touch_.pinch->viewRaw()))) return;
  touch_.second = point;
  touch_.pinchStart = std::max(1.0, distance(touch_.last, point));
  auto pinch = touch_.pinch;
  takeTouch(Owner::Pinch, *pinch);
}

void Window::pinchMoved() {
  auto& t = touch_;
  const double scale = distance(t.last, t.second) / t.pinchStart;
  auto pinch = t.pinch;
  pinch->setLocationInWindow(Point{(t.last.x + t.second.x) / 2, (t.last.y + t.second.y) / 2});
  if (t.pinchBegan) {
    pinch->injectPinch(GestureState::Changed, scale);
    return;
  }
  if (scale == 1.0) return;
  pinch->injectPinch(GestureState::Began, scale);
  if (pinch->state() == GestureState::Began)
    t.pinchBegan = true;
  else  // refused by its delegate: the touch goes nowhere
    t = TrackedTouch{};
}

void Window::touchMove(Point point, int finger) {
  if (!touch_.hit) return;
  if (touch_.owner == Owner::Pinch) {
    (finger == 0 ? touch_.last : touch_.second) = point;
    pinchMoved();
    return;
  }
  if (finger != 0) return;
  if (touch_.owner == Owner::Press) {
    touch_.last = point;
    touch_.press->setLocationInWindow(point);
    touch_.press->injectState(GestureState::Changed);
    return;
  }
  if (touch_.press && distance(point, touch_.start) > touch_.press->allowableMovement) failWaitingPress();
  auto t = touch_;  // the handlers may end the touch
  Point last = t.last;
  touch_.last = point;
  if (t.owner == Owner::Scroll) {
    t.scroller->touchDragBy(point.x - last.x, point.y - last.y);
    return;
  }
  double dx = point.x - t.start.x, dy = point.y - t.start.y;
  if (dx * dx + dy * dy >= kTouchSlop * kTouchSlop) {
    if (t.recognizer) {  // no tap any more: the touch stays with the views
      t.recognizer->injectState(GestureState::Failed);
      touch_.recognizer.reset();
    }
    if (t.scroller && t.scroller->touchesShouldCancelInContentView(*t.hit)) {
      touch_.owner = Owner::Scroll;
      if (touch_.press) failWaitingPress();  // the scroll has the touch: no long press any more
      if (t.control) {
        t.control->setHighlighted(false);
        t.control->sendActionsForControlEvents(kControlEventTouchCancel);
      } else {
        t.hit->touchesCancelled(touchIn(*t.hit, point));
      }
      t.scroller->beginTouchDrag();
      t.scroller->touchDragBy(dx, dy);
      return;
    }
  }
  if (t.control) {
    t.control->setHighlighted(t.control->pointInside(t.control->convertPointFrom(point, this)));
  } else {
    t.hit->touchesMoved(touchIn(*t.hit, point));
  }
}

void Window::touchUp(Point point, int finger) {
  if (!touch_.hit || (finger != 0 && touch_.owner != Owner::Pinch)) return;
  auto t = std::exchange(touch_, TrackedTouch{});
  if (t.pressTimer) t.pressTimer->invalidate();
  if (t.owner == Owner::Pinch) {  // the first lift ends the pinch
    (finger == 0 ? t.last : t.second) = point;
    t.pinch->injectPinch(t.pinchBegan ? GestureState::Ended : GestureState::Failed,
                         distance(t.last, t.second) / t.pinchStart);
    return;
  }
  if (t.owner == Owner::Press) {
    t.press->setLocationInWindow(point);
    t.press->injectState(GestureState::Ended);
    return;
  }
  if (t.press) t.press->injectState(GestureState::Failed);
  if (t.owner == Owner::Scroll) {
    t.scroller->endTouchDrag();
  } else if (t.recognizer) {
    // A recognised tap cancels the touch in the views (unless the recognizer lets them have it);
    // a lift beyond the slop, or a tap the delegate refuses, ends it there.
    double dx = point.x - t.start.x, dy = point.y - t.start.y;
    bool recognised = false;
    if (dx * dx + dy * dy < kTouchSlop * kTouchSlop) {
      t.recognizer->setLocationInWindow(point);
      t.recognizer->injectState(GestureState::Ended);
      recognised = t.recognizer->isEnabled() && t.recognizer->viewRaw() &&
                   t.recognizer->state() != GestureState::Failed;
    } else {
      t.recognizer->injectState(GestureState::Failed);
    }
    if (recognised && t.recognizer->cancelsTouchesInView)
      t.hit->touchesCancelled(touchIn(*t.hit, point));
    else
      t.hit->touchesEnded(touchIn(*t.hit, point));
  } else if (t.control) {
    bool inside = t.control->pointInside(t.control->convertPointFrom(point, this));
    t.control->setHighlighted(false);
    t.control->sendActionsForControlEvents(inside ? kControlEventTouchUpInside : kControlEventTouchUpOutside);
  } else {
    t.hit->touchesEnded(touchIn(*t.hit, point));
  }
}

void Window::touchCancel() {
  if (!touch_.hit) return;
  auto t = std::exchange(touch_, TrackedTouch{});
  if (t.pressTimer) t.pressTimer->invalidate();
  if (t.owner == Owner::Pinch) {
    t.pinch->injectPinch(t.pinchBegan ? GestureState::Cancelled : GestureState::Failed, t.pinch->scale);
    return;
  }
  if (t.owner == Owner::Press) {
    t.press->injectState(GestureState::Cancelled);
    return;
  }
  if (t.press) t.press->injectState(GestureState::Failed);
  if (t.owner == Owner::Scroll) {
    t.scroller->endTouchDrag();
  } else if (t.control) {
    t.control->setHighlighted(false);
    t.control->sendActionsForControlEvents(kControlEventTouchCancel);
  } else {
    if (t.recognizer) t.recognizer->injectState(GestureState::Failed);
    t.hit->touchesCancelled(touchIn(*t.hit, t.last));
  }
}

std::shared_ptr<View> Window::tapAt(Point point) {
  layoutIfNeeded();
  auto hit = hitTest(point);
  touchDown(point);
  touchUp(point);
  return hit;
}

}  // namespace pf
