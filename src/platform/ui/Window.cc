#include "platform/ui/Window.h"

#include <utility>

#include "platform/foundation/ThreadChecker.h"
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

void Window::touchDown(Point point) {
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
  touch_ = t;
  // While a tap recognizer only may recognise, the views hear the touch as well.
  if (t.control) {
    t.control->setHighlighted(true);
    t.control->sendActionsForControlEvents(kControlEventTouchDown);
  } else {
    hit->touchesBegan(touchIn(*hit, point));
  }
}

void Window::touchMove(Point point) {
  if (!touch_.hit) return;
  auto t = touch_;  // the handlers may end the touch
  Point last = t.last;
  touch_.last = point;
  if (t.scrolling) {
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
      touch_.scrolling = true;
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

void Window::touchUp(Point point) {
  if (!touch_.hit) return;
  auto t = std::exchange(touch_, TrackedTouch{});
  if (t.scrolling) {
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
  if (t.scrolling) {
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
