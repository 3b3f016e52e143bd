#include "platform/ui/View.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/ThreadChecker.h"
#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/LayoutConstraint.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace pf {

View::View(const Rect& frame) : layer_(Layer::make()) { init(frame); }

View::View(const Rect& frame, std::shared_ptr<Layer> layer) : layer_(std::move(layer)) { init(frame); }

void View::init(const Rect& frame) {
  PF_ASSERT_MAIN_THREAD();
  layer_->setDelegate(this);
  withoutActions([&] { layer_->setFrame(frame); });
}

View::~View() {
  for (auto& s : subviews_) s->superview_ = nullptr;
  for (auto& g : recognizers_) g->attach(nullptr);
  layer_->setDelegate(nullptr);
}

Rect View::frame() const { return layer_->frame(); }

void View::setFrame(const Rect& frame) {
  PF_ASSERT_MAIN_THREAD();
  Size old = bounds().size;
  Rect f = frame.standardized();
  Point anchor = layer_->anchorPoint();
  // The frame sets the center and the bounds' size (the transform is not undone).
  layer_->setPosition({f.x() + anchor.x * f.width(), f.y() + anchor.y * f.height()});
  layer_->setBounds(Rect(bounds().origin, f.size));
  if (!(old == f.size)) {
    resizeSubviews(old);
    setNeedsLayout();
  }
}

void View::setBounds(const Rect& b) {
  Size old = bounds().size;
  layer_->setBounds(b);
  if (!(old == b.size)) {
    resizeSubviews(old);
    setNeedsLayout();
  }
}

void View::setCenter(Point center) { layer_->setPosition(center); }
void View::setTransform(const AffineTransform& t) { layer_->setAffineTransform(t); }
void View::setAlpha(double alpha) { layer_->setOpacity(alpha); }
void View::setHidden(bool hidden) { layer_->setHidden(hidden); }
void View::setBackgroundColor(OptColor color) { layer_->setBackgroundColor(color); }
void View::setContentMode(ContentMode mode) { contentMode_ = mode; }

namespace {
// Distributes delta over the flexible parts in proportion to their sizes (evenly when all are 0).
void flex(double& margin1, double& size, double& margin2, bool f1, bool fs, bool f2, double delta) {
  double total = (f1 ? margin1 : 0) + (fs ? size : 0) + (f2 ? margin2 : 0);
  int count = (f1 ? 1 : 0) + (fs ? 1 : 0) + (f2 ? 1 : 0);
  if (count == 0) return;
  auto share = [&](bool flexible, double part) {
    if (!flexible) return 0.0;
    return total > 0 ? delta * part / total : delta / count;
  };
  double d1 = share(f1, margin1), ds = share(fs, size), d2 = share(f2, margin2);
  margin1 += d1;
  size += ds;
  margin2 += d2;
}
}  // namespace

void View::resizeSubviews(Size old) {
  if (!autoresizesSubviews_) return;
  Size now = bounds().size;
  for (auto& s : subviews_) {
    unsigned m = s->autoresizingMask_;
    if (m == 0 || !s->translatesMask_) continue;
    Rect f = s->frame();
    double left = f.x(), w = f.width(), right = old.width - f.maxX();
    double top = f.y(), h = f.height(), bottom = old.height - f.maxY();
    flex(left, w, right, m & kAutoresizingFlexibleLeftMargin, m & kAutoresizingFlexibleWidth,
         m & kAutoresizingFlexibleRightMargin, now.width - old.width);
    flex(top, h, bottom, m & kAutoresizingFlexibleTopMargin, m & kAutoresizingFlexibleHeight,
         m & kAutoresizingFlexibleBottomMargin, now.height - old.height);
    s->setFrame(Rect(left, top, w, h));
  }
}

// ---- hierarchy ----

std::shared_ptr<View> View::superview() const { return superview_ ? superview_->shared_from_this() : nullptr; }

Window* View::windowRaw() const {
  const View* v = this;
  while (v->superview_) v = v->superview_;
  return const_cast<Window*>(dynamic_cast<const Window*>(v));
}

std::shared_ptr<Window> View::window() const {
  Window* w = windowRaw();
  return w ? std::static_pointer_cast<Window>(w->shared_from_this()) : nullptr;
}

void View::moveToWindow(Window* oldWindow, Window* newWindow) {
  if (oldWindow == newWindow) return;
  // A first responder that leaves its window resigns, and its keyboard goes with it.
  if (oldWindow && isFirstResponder()) resignFirstResponder();
  willMoveToWindow(newWindow);
  auto children = subviews_;  // a resigning responder's actions may change the tree
  for (auto& s : children) s->moveToWindow(oldWindow, newWindow);
  didMoveToWindow();
}

void View::addSubview(const std::shared_ptr<View>& view) { insertSubview(view, subviews_.size()); }

void View::insertSubview(const std::shared_ptr<View>& view, std::size_t index) {
  PF_ASSERT_MAIN_THREAD();
  if (!view || view.get() == this || isDescendantOf(view.get())) return;
  auto keep = view;
  Window* oldWindow = view->windowRaw();
  if (view->superview_ == this) {
    auto it = std::find(subviews_.begin(), subviews_.end(), view);
    std::size_t old = static_cast<std::size_t>(it - subviews_.begin());
    subviews_.erase(it);
    if (old < index) --index;
    index = std::min(index, subviews_.size());
    subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(index), keep);
  } else {
    // A move between superviews changes the window only when the windows differ: a first
    // responder moved within its window stays one.
    if (view->superview_)
      view->detachFromSuperview(this);
    else
      view->willMoveToSuperview(this);
    index = std::min(index, subviews_.size());
    subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(index), keep);
    view->superview_ = this;
  }
  // Keep the layer order in step with the subview order (standalone sublayers stay put).
  const Layer* below = nullptr;
  auto pos = std::find(subviews_.begin(), subviews_.end(), keep);
  if (pos + 1 != subviews_.end()) below = (*(pos + 1))->layer_.get();
  if (below)
    layer_->insertSublayerBelow(keep->layer_, below);
  else
    layer_->addSublayer(keep->layer_);
  keep->moveToWindow(oldWindow, windowRaw());
  keep->didMoveToSuperview();
  didAddSubview(keep.get());
  keep->setNeedsLayout();
}

void View::insertSubviewBelow(const std::shared_ptr<View>& view, const View* sibling) {
  auto it = std::find_if(subviews_.begin(), subviews_.end(), [&](auto& s) { return s.get() == sibling; });
  insertSubview(view, it == subviews_.end() ? subviews_.size() : static_cast<std::size_t>(it - subviews_.begin()));
}

void View::insertSubviewAbove(const std::shared_ptr<View>& view, const View* sibling) {
  auto it = std::find_if(subviews_.begin(), subviews_.end(), [&](auto& s) { return s.get() == sibling; });
  insertSubview(view, it == subviews_.end() ? subviews_.size() : static_cast<std::size_t>(it - subviews_.begin()) + 1);
}

void View::removeFromSuperview() {
  PF_ASSERT_MAIN_THREAD();
  if (!superview_) return;
  auto keep = shared_from_this();
  Window* oldWindow = windowRaw();
  detachFromSuperview(nullptr);
  moveToWindow(oldWindow, nullptr);
  didMoveToSuperview();
}

void View::detachFromSuperview(View* newSuperview) {
  auto keep = shared_from_this();
  View* parent = superview_;
  parent->willRemoveSubview(this);
  willMoveToSuperview(newSuperview);
  auto& list = parent->subviews_;
  list.erase(std::remove(list.begin(), list.end(), keep), list.end());
  superview_ = nullptr;
  layer_->removeFromSuperlayer();
}

void View::bringSubviewToFront(const View* view) {
  for (auto& s : subviews_)
    if (s.get() == view) {
      auto keep = s;
      insertSubview(keep, subviews_.size());
      return;
    }
}

void View::sendSubviewToBack(const View* view) {
  for (auto& s : subviews_)
    if (s.get() == view) {
      auto keep = s;
      insertSubview(keep, 0);
      return;
    }
}

std::shared_ptr<View> View::viewWithTag(int tag) {
  if (tag_ == tag) return shared_from_this();
  for (auto& s : subviews_)
    if (auto found = s->viewWithTag(tag)) return found;
  return nullptr;
}

bool View::isDescendantOf(const View* view) const {
  for (const View* v = this; v; v = v->superview_)
    if (v == view) return true;
  return false;
}

// ---- layout ----

void View::layoutSubviews() {}

void View::layoutIfNeeded() {
  PF_ASSERT_MAIN_THREAD();
  if (needsLayout_) {
    needsLayout_ = false;
    if (controller_) controller_->viewWillLayoutSubviews();
    resolveConstraints(*this);
    layoutSubviews();
    if (controller_) controller_->viewDidLayoutSubviews();
  }
  auto children = subviews_;
  for (auto& s : children) s->layoutIfNeeded();
}

void View::sizeToFit() {
  Size s = sizeThatFits(bounds().size);
  Rect f = frame();
  setFrame(Rect(f.origin, s));
}

void View::setNeedsDisplay() { layer_->setNeedsDisplay(); }

void View::drawLayer(Layer&, GraphicsContext& ctx) {
  ContextScope scope(&ctx);
  drawRect(bounds());
}

// ---- events ----

std::shared_ptr<View> View::hitTest(Point point) {
  if (isHidden() || !userInteraction_ || alpha() < 0.01 || !pointInside(point)) return nullptr;
  for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
    auto& s = *it;
    Point p = s->convertPointFrom(point, this);
    if (auto hit = s->hitTest(p)) return hit;
  }
  return shared_from_this();
}

bool View::pointInside(Point point) const { return bounds().contains(point); }

namespace {
template <class Fn>
void passUp(View& view, const Touch& touch, Fn fn) {
  View* up = view.superviewRaw();
  if (!up) return;
  Touch moved = touch;
  moved.location = view.convertPoint(touch.location, up);
  (up->*fn)(moved);
}
}  // namespace

void View::touchesBegan(const Touch& touch) { passUp(*this, touch, &View::touchesBegan); }
void View::touchesMoved(const Touch& touch) { passUp(*this, touch, &View::touchesMoved); }
void View::touchesEnded(const Touch& touch) { passUp(*this, touch, &View::touchesEnded); }
void View::touchesCancelled(const Touch& touch) { passUp(*this, touch, &View::touchesCancelled); }

namespace {
const Layer* targetLayer(const View* self, const View* to) {
  if (to) return &to->layer();
  auto w = self->window();
  return w ? &w->layer() : nullptr;
}
}  // namespace

Point View::convertPoint(Point p, const View* to) const { return layer_->convertPoint(p, targetLayer(this, to)); }

Point View::convertPointFrom(Point p, const View* from) const {
  const Layer* src = targetLayer(this, from);
  if (!src) {
    auto inv = layer_->transformToRoot().inverted();
    return inv ? inv->apply(p) : p;
  }
  return src->convertPoint(p, layer_.get());
}

Rect View::convertRect(const Rect& r, const View* to) const { return layer_->convertRect(r, targetLayer(this, to)); }

Rect View::convertRectFrom(const Rect& r, const View* from) const {
  const Layer* src = targetLayer(this, from);
  if (!src) {
    auto inv = layer_->transformToRoot().inverted();
    return inv ? inv->apply(r) : r;
  }
  return src->convertRect(r, layer_.get());
}

// ---- recognizers, constraints, associated objects ----

void View::addGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer) {
  if (!recognizer) return;
  if (auto old = recognizer->view()) old->removeGestureRecognizer(recognizer.get());
  recognizers_.push_back(recognizer);
  recognizer->attach(this);
}

void View::removeGestureRecognizer(const GestureRecognizer* recognizer) {
  auto it = std::find_if(recognizers_.begin(), recognizers_.end(), [&](auto& g) { return g.get() == recognizer; });
  if (it == recognizers_.end()) return;
  (*it)->attach(nullptr);
  recognizers_.erase(it);
}

void View::addConstraint(const std::shared_ptr<LayoutConstraint>& constraint) {
  if (!constraint) return;
  constraints_.push_back(constraint);
  setNeedsLayout();
}

void View::addConstraints(const std::vector<std::shared_ptr<LayoutConstraint>>& list) {
  for (auto& c : list) addConstraint(c);
}

void View::removeConstraint(const LayoutConstraint* constraint) {
  constraints_.erase(std::remove_if(constraints_.begin(), constraints_.end(),
                                    [&](auto& c) { return c.get() == constraint; }),
                     constraints_.end());
  setNeedsLayout();
}

std::shared_ptr<void> View::associatedObject(const std::string& key) const {
  auto it = associated_.find(key);
  return it == associated_.end() ? nullptr : it->second;
}

std::shared_ptr<void> View::setAssociatedObject(const std::string& key, std::shared_ptr<void> obj) {
  std::shared_ptr<void> old = associatedObject(key);
  if (obj)
    associated_[key] = std::move(obj);
  else
    associated_.erase(key);
  return old;
}

// ---- view animations ----

namespace {

struct AnimationRun {
  int pending = 0;
  bool committed = false;
  bool ran = false;
  bool allFinished = true;
  std::function<void(bool)> completion;

  static void settle(const std::shared_ptr<AnimationRun>& run) {
    if (run->ran || !run->committed || run->pending > 0) return;
    run->ran = true;
    if (run->completion) run->completion(run->allFinished);
  }
};

struct AnimationBlock {
  double duration = View::kDefaultAnimationDuration;
  double delay = 0;
  unsigned options = 0;
  AnimationCurve curve = AnimationCurve::EaseInOut;
  bool enabled = true;
  std::shared_ptr<AnimationRun> run = std::make_shared<AnimationRun>();
};

thread_local std::vector<AnimationBlock> tBlocks;
thread_local bool tAnimationsDisabled = false;

TimingFunction curveFunction(AnimationCurve c) {
  switch (c) {
    case AnimationCurve::EaseIn: return TimingFunction::easeIn();
    case AnimationCurve::EaseOut: return TimingFunction::easeOut();
    case AnimationCurve::Linear: return TimingFunction::linear();
    default: return TimingFunction::easeInEaseOut();
  }
}

AnimationCurve curveFromOptions(unsigned options) {
  return static_cast<AnimationCurve>((options >> 16) & 0xF);
}

void finishBlock(AnimationBlock block) {
  auto run = block.run;
  run->committed = true;
  if (run->pending == 0) {
    // Nothing animated: the completion still comes, in a later pass of the main run loop.
    run->ran = true;
    if (run->completion) runOnMainLater([c = run->completion] { c(true); });
    return;
  }
  AnimationRun::settle(run);
}

}  // namespace

std::shared_ptr<Animation> View::actionForLayer(Layer& layer, const std::string& key) {
  if (tBlocks.empty() || tAnimationsDisabled) return nullptr;
  const AnimationBlock& b = tBlocks.back();
  if (!b.enabled || b.duration <= 0) return nullptr;
  static const char* const kAnimatable[] = {"position", "bounds", "transform", "opacity", "backgroundColor",
                                            "anchorPoint", "cornerRadius", "borderWidth", "borderColor",
                                            "shadowOpacity", "shadowColor", "contents"};
  // A layer subclass's own drawn keys animate too, always from what is on screen.
  const bool ownKey = layer.needsDisplayForKey(key);
  if (!ownKey && std::none_of(std::begin(kAnimatable), std::end(kAnimatable), [&](const char* k) { return key == k; }))
    return nullptr;
  if (key == "contents") return nullptr;
  auto anim = BasicAnimation::make(key);
  // An animation already running on the key continues from where it is on screen.
  bool fromCurrent = ownKey || (b.options & kAnimationBeginFromCurrentState) || layer.animationForKey(key);
  auto from = getKeyPath(fromCurrent ? layer.presentationProps() : layer.model(), key);
  if (!from) return nullptr;
  anim->fromValue = from;
  anim->duration = b.duration;
  anim->timingFunction = curveFunction(b.curve);
  if (b.delay > 0) {
    anim->beginTime = currentMediaTime() + b.delay;
    anim->fillMode = FillMode::Backwards;
  }
  if (b.options & kAnimationRepeat) anim->repeatCount = std::numeric_limits<double>::infinity();
  if (b.options & kAnimationAutoreverse) anim->autoreverses = true;
  auto run = b.run;
  ++run->pending;
  // The hook travels with the copy that the layer keeps.
  anim->stopHooks.push_back([run](bool finished) {
    --run->pending;
    if (!finished) run->allFinished = false;
    AnimationRun::settle(run);
  });
  return anim;
}

void View::animate(double duration, double delay, unsigned options, const std::function<void()>& animations,
                   std::function<void(bool)> completion) {
  AnimationBlock b;
  b.duration = duration;
  b.delay = delay;
  b.options = options;
  b.curve = curveFromOptions(options);
  b.run->completion = std::move(completion);
  tBlocks.push_back(b);
  if (animations) animations();
  AnimationBlock done = tBlocks.back();
  tBlocks.pop_back();
  finishBlock(std::move(done));
}

void View::animate(double duration, const std::function<void()>& animations, std::function<void(bool)> completion) {
  animate(duration, 0, 0, animations, std::move(completion));
}

void View::transition(View& view, double duration, unsigned options, const std::function<void()>& animations,
                      std::function<void(bool)> completion) {
  auto run = std::make_shared<AnimationRun>();
  run->completion = std::move(completion);
  if (duration > 0) {
    auto t = Transition::make("fade");
    t->duration = duration;
    t->timingFunction = curveFunction(curveFromOptions(options));
    ++run->pending;
    t->stopHooks.push_back([run](bool finished) {
      --run->pending;
      if (!finished) run->allFinished = false;
      AnimationRun::settle(run);
    });
    view.layer().addAnimation(t, "transition");
  }
  if (animations) performWithoutAnimation(animations);
  AnimationBlock b;
  b.run = run;
  finishBlock(std::move(b));
}

void View::beginAnimations(const std::string&) {
  AnimationBlock b;
  tBlocks.push_back(b);
}

void View::setAnimationDuration(double seconds) {
  if (!tBlocks.empty()) tBlocks.back().duration = seconds;
}
void View::setAnimationDelay(double seconds) {
  if (!tBlocks.empty()) tBlocks.back().delay = seconds;
}
void View::setAnimationCurve(AnimationCurve curve) {
  if (!tBlocks.empty()) tBlocks.back().curve = curve;
}
void View::setAnimationBeginsFromCurrentState(bool on) {
  if (tBlocks.empty()) return;
  if (on)
    tBlocks.back().options |= kAnimationBeginFromCurrentState;
  else
    tBlocks.back().options &= ~static_cast<unsigned>(kAnimationBeginFromCurrentState);
}
void View::setAnimationDidStop(std::function<void(bool)> didStop) {
  if (!tBlocks.empty()) tBlocks.back().run->completion = std::move(didStop);
}

void View::commitAnimations() {
  if (tBlocks.empty()) return;
  AnimationBlock b = tBlocks.back();
  tBlocks.pop_back();
  finishBlock(std::move(b));
}

void View::performWithoutAnimation(const std::function<void()>& fn) {
  bool was = tAnimationsDisabled;
  tAnimationsDisabled = true;
  fn();
  tAnimationsDisabled = was;
}

bool View::inAnimationBlock() { return !tBlocks.empty() && !tAnimationsDisabled; }

}  // namespace pf
