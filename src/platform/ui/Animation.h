#pragma once
// Layer animations on the clock: basic and keyframe property animations, groups and transitions,
// timing functions and fill modes. An animation added to a layer is copied; the copy runs from
// its begin time (media time, the clock's monotonic reading) and changes the layer's
// presentation values, never its model values. When it ends on the clock it is removed (unless
// told to stay) and its delegate hears animationDidStop with finished YES; one removed or replaced
// before its end hears NO.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/Path.h"

namespace pf {

struct LayerProps;

// The values an animation can carry.
using AnimValue = std::variant<double, Point, Size, Rect, Transform3D, Color>;

AnimValue interpolate(const AnimValue& from, const AnimValue& to, double t);
AnimValue addValues(const AnimValue& a, const AnimValue& b);
AnimValue subtractValues(const AnimValue& a, const AnimValue& b);
double valueDistance(const AnimValue& a, const AnimValue& b);

// Reads and writes a key path ("position", "transform.scale", "opacity", a custom key, ...) of
// layer values. Transform sub-paths decompose the transform into translation, scale and rotation.
std::optional<AnimValue> getKeyPath(const LayerProps& props, const std::string& keyPath);
void setKeyPath(LayerProps& props, const std::string& keyPath, const AnimValue& value);

// Current media time: the clock's monotonic reading (virtual in tests).
double currentMediaTime();

class TimingFunction {
 public:
  TimingFunction() : TimingFunction(0, 0, 1, 1) {}
  TimingFunction(double c1x, double c1y, double c2x, double c2y) : c1x_(c1x), c1y_(c1y), c2x_(c2x), c2y_(c2y) {}
  static TimingFunction linear() { return {0, 0, 1, 1}; }
  static TimingFunction easeIn() { return {0.42, 0, 1, 1}; }
  static TimingFunction easeOut() { return {0, 0, 0.58, 1}; }
  static TimingFunction easeInEaseOut() { return {0.42, 0, 0.58, 1}; }
  static TimingFunction defaultFunction() { return {0.25, 0.1, 0.25, 1}; }
  // "linear", "easeIn", "easeOut", "easeInEaseOut", "default".
  static TimingFunction named(const std::string& name);

  double evaluate(double x) const;  // progress 0..1 to eased progress
  bool operator==(const TimingFunction&) const = default;

 private:
  double c1x_, c1y_, c2x_, c2y_;
};

enum class FillMode { Removed, Forwards, Backwards, Both };

class Animation;

// Told when an animation starts and stops (held strongly by the animation, as on the platform).
class AnimationDelegate {
 public:
  virtual ~AnimationDelegate() = default;
  virtual void animationDidStart(Animation& animation) {}
  virtual void animationDidStop(Animation& animation, bool finished) {}
};

class Animation : public std::enable_shared_from_this<Animation> {
 public:
  virtual ~Animation() = default;
  virtual std::shared_ptr<Animation> copy() const = 0;

  double duration = 0;  // 0 means 0.25 s (or the group's duration inside a group)
  double beginTime = 0;  // 0: when added; else an absolute media time (or relative in a group)
  double repeatCount = 0;  // 0 and 1 both mean once; infinity repeats for ever
  bool autoreverses = false;
  std::optional<TimingFunction> timingFunction;
  FillMode fillMode = FillMode::Removed;
  bool removedOnCompletion = true;
  std::shared_ptr<AnimationDelegate> delegate;

  // Key-value storage of the platform ("name" and the like).
  void setValue(const std::string& key, Value value) { values_[key] = std::move(value); }
  Value value(const std::string& key) const;

  double effectiveDuration(double inherited = 0.25) const;
  // Duration with repeats and reversal; infinite for endless repeats.
  double activeDuration(double inherited = 0.25) const;

  // Applies the animation's values at local time t (seconds since its begin) onto props.
  // model holds the layer's model values. Returns false when the animation has no effect at t.
  bool apply(double t, LayerProps& props, const LayerProps& model, double inheritedDuration = 0.25) const;

  // Internal: called once when the animation leaves its layer (finished or not).
  std::vector<std::function<void(bool finished)>> stopHooks;

 protected:
  Animation() = default;
  Animation(const Animation& other) = default;
  // Applies the animation at progress p (0..1 through one iteration, timing function applied).
  virtual void applyProgress(double p, double t, LayerProps& props, const LayerProps& model) const = 0;

 private:
  std::map<std::string, Value> values_;
};

class PropertyAnimation : public Animation {
 public:
  std::string keyPath;

 protected:
  PropertyAnimation() = default;
  PropertyAnimation(const PropertyAnimation&) = default;
};

class BasicAnimation : public PropertyAnimation {
 public:
  static std::shared_ptr<BasicAnimation> make(std::string keyPath);
  std::shared_ptr<Animation> copy() const override { return std::make_shared<BasicAnimation>(*this); }

  std::optional<AnimValue> fromValue;
  std::optional<AnimValue> toValue;
  std::optional<AnimValue> byValue;

  BasicAnimation() = default;
  BasicAnimation(const BasicAnimation&) = default;

 protected:
  void applyProgress(double p, double t, LayerProps& props, const LayerProps& model) const override;
};

class KeyframeAnimation : public PropertyAnimation {
 public:
  static std::shared_ptr<KeyframeAnimation> make(std::string keyPath);
  std::shared_ptr<Animation> copy() const override { return std::make_shared<KeyframeAnimation>(*this); }

  std::vector<AnimValue> values;
  std::optional<Path> path;  // for point key paths: the points of the path are the keyframes
  std::vector<double> keyTimes;
  std::vector<TimingFunction> timingFunctions;  // one per segment
  std::string calculationMode = "linear";        // "linear", "discrete", "paced", "cubic", "cubicPaced"
  std::string rotationMode;                      // "auto", "autoReverse" or empty

  KeyframeAnimation() = default;
  KeyframeAnimation(const KeyframeAnimation&) = default;

 protected:
  void applyProgress(double p, double t, LayerProps& props, const LayerProps& model) const override;
};

class AnimationGroup : public Animation {
 public:
  static std::shared_ptr<AnimationGroup> make(std::vector<std::shared_ptr<Animation>> animations = {});
  std::shared_ptr<Animation> copy() const override;

  std::vector<std::shared_ptr<Animation>> animations;

  AnimationGroup() = default;
  AnimationGroup(const AnimationGroup&) = default;

 protected:
  void applyProgress(double p, double t, LayerProps& props, const LayerProps& model) const override;
};

// A transition of a layer's content ("fade", "moveIn", "push", "reveal" with a subtype such as
// "fromRight"). It runs on the clock like the others; the headless renderer shows the new content
// at once.
class Transition : public Animation {
 public:
  static std::shared_ptr<Transition> make(std::string type, std::string subtype = {});
  std::shared_ptr<Animation> copy() const override { return std::make_shared<Transition>(*this); }

  std::string type = "fade";
  std::string subtype;

  Transition() = default;
  Transition(const Transition&) = default;

 protected:
  void applyProgress(double, double, LayerProps&, const LayerProps&) const override {}
};

}  // namespace pf
