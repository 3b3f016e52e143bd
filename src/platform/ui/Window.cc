#include "platform/ui/Window.h"

#include "platform/foundation/ThreadChecker.h"
#include "platform/ui/Application.h"
#include "platform/ui/Control.h"
#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/ViewController.h"

namespace pf {

Window::Window(const Rect& frame) : View(frame) {
  View::setHidden(true);
  Application::shared().registerWindow(this);
}

Window::~Window() { Application::shared().unregisterWindow(this); }

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
}

std::shared_ptr<View> Window::tapAt(Point point) {
  layoutIfNeeded();
  auto hit = hitTest(point);
  if (!hit) return nullptr;
  for (View* v = hit.get(); v; v = v->superviewRaw()) {
    for (auto& g : v->gestureRecognizers()) {
      auto tap = std::dynamic_pointer_cast<TapGestureRecognizer>(g);
      if (!tap || !tap->isEnabled() || !tap->shouldReceiveTouch(*hit)) continue;
      tap->setLocationInWindow(point);
      tap->injectState(GestureState::Ended);
      return hit;
    }
    if (auto* control = dynamic_cast<Control*>(v)) {
      if (control->isEnabled()) {
        control->sendActionsForControlEvents(kControlEventTouchUpInside);
        return hit;
      }
    }
  }
  Touch touch{hit->convertPointFrom(point, this), 1};
  hit->touchesBegan(touch);
  hit->touchesEnded(touch);
  return hit;
}

}  // namespace pf
