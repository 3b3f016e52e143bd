#include "platform/ui/Control.h"

namespace pf {

Control::Control(const Rect& frame) : View(frame) {}

void Control::setEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  stateDidChange();
}

void Control::setSelected(bool selected) {
  if (selected == selected_) return;
  selected_ = selected;
  stateDidChange();
}

void Control::setHighlighted(bool highlighted) {
  if (highlighted == highlighted_) return;
  highlighted_ = highlighted;
  stateDidChange();
}

unsigned Control::state() const {
  unsigned s = kControlStateNormal;
  if (highlighted_) s |= kControlStateHighlighted;
  if (!enabled_) s |= kControlStateDisabled;
  if (selected_) s |= kControlStateSelected;
  return s;
}

void Control::addTarget(Action action, unsigned events) {
  if (action) targets_.push_back({std::move(action), events});
}

void Control::sendActionsForControlEvents(unsigned events) {
  auto keep = shared_from_this();
  auto targets = targets_;
  for (auto& t : targets)
    if (t.events & events) t.action(*this);
}

}  // namespace pf
