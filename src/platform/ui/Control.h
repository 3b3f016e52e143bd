#pragma once
// Controls: enabled, selected and highlighted states and target-action for control events.

#include <functional>
#include <vector>

#include "platform/ui/View.h"

namespace pf {

enum ControlState : unsigned {
  kControlStateNormal = 0,
  kControlStateHighlighted = 1 << 0,
  kControlStateDisabled = 1 << 1,
  kControlStateSelected = 1 << 2,
};

enum ControlEvents : unsigned {
  kControlEventTouchDown = 1 << 0,
  kControlEventTouchUpInside = 1 << 6,
  kControlEventTouchUpOutside = 1 << 7,
  kControlEventTouchCancel = 1 << 8,
  kControlEventValueChanged = 1 << 12,
  kControlEventEditingDidBegin = 1 << 16,
  kControlEventEditingChanged = 1 << 17,
  kControlEventEditingDidEnd = 1 << 18,
  kControlEventEditingDidEndOnExit = 1 << 19,
  kControlEventAllEvents = 0xFFFFFFFFu,
};

class Control : public View {
 public:
  using Action = std::function<void(Control& sender)>;

  explicit Control(const Rect& frame = Rect());
  std::string className() const override { return "UIControl"; }

  bool isEnabled() const { return enabled_; }
  virtual void setEnabled(bool enabled);
  bool isSelected() const { return selected_; }
  virtual void setSelected(bool selected);
  bool isHighlighted() const { return highlighted_; }
  virtual void setHighlighted(bool highlighted);
  unsigned state() const;

  void addTarget(Action action, unsigned events);
  void removeAllTargets() { targets_.clear(); }
  std::size_t targetCount() const { return targets_.size(); }
  void sendActionsForControlEvents(unsigned events);

 protected:
  // A state flag changed (after the change).
  virtual void stateDidChange() { setNeedsDisplay(); }

 private:
  struct Target {
    Action action;
    unsigned events;
  };
  std::vector<Target> targets_;
  bool enabled_ = true;
  bool selected_ = false;
  bool highlighted_ = false;
};

}  // namespace pf
