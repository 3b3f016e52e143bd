#include "platform/ui/GestureRecognizer.h"

#include "platform/ui/View.h"
#include "platform/ui/Window.h"

namespace pf {

GestureRecognizer::GestureRecognizer(Action action) { addTarget(std::move(action)); }

std::shared_ptr<View> GestureRecognizer::view() const { return view_ ? view_->shared_from_this() : nullptr; }

Point GestureRecognizer::locationInView(const View* view) const {
  if (!view) return location_;
  return view->convertPointFrom(location_, nullptr);
}

void GestureRecognizer::setLocationInView(Point p) { location_ = view_ ? view_->convertPoint(p, nullptr) : p; }

bool GestureRecognizer::shouldReceiveTouch(View& view) {
  auto d = delegate.lock();
  return !d || d->shouldReceiveTouch(*this, view);
}

void GestureRecognizer::injectState(GestureState state) {
  if (!enabled_ || !view_) return;
  if (state == GestureState::Began || (state == GestureState::Ended && state_ == GestureState::Possible)) {
    auto d = delegate.lock();
    if (d && !d->gestureRecognizerShouldBegin(*this)) {
      state_ = GestureState::Failed;
      return;
    }
  }
  state_ = state;
  if (state == GestureState::Possible || state == GestureState::Failed) return;
  auto keep = shared_from_this();
  auto actions = actions_;
  for (auto& a : actions) a(*this);
  if (state == GestureState::Ended || state == GestureState::Cancelled) state_ = GestureState::Possible;
}

void PinchGestureRecognizer::injectPinch(GestureState state, double s, double v) {
  scale = s;
  velocity = v;
  touches_ = 2;
  injectState(state);
}

}  // namespace pf
