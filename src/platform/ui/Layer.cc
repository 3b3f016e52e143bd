#include "platform/ui/Layer.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/ThreadChecker.h"
#include "platform/ui/Image.h"

namespace pf {

double LayerProps::customDouble(const std::string& key, double fallback) const {
  auto it = custom.find(key);
  if (it == custom.end()) return fallback;
  if (auto d = std::get_if<double>(&it->second)) return *d;
  return fallback;
}

void runOnMainLater(std::function<void()> fn) { RunLoop::main()->perform(std::move(fn)); }

// ---- transactions ----

namespace {

// Counts the animations of one transaction and runs its completion when the last has ended.
struct CompletionGroup {
  int pending = 0;
  bool committed = false;
  bool ran = false;
  std::function<void()> completion;

  void maybeRun(const std::shared_ptr<CompletionGroup>& self) {
    if (ran || !committed || pending > 0) return;
    ran = true;
    if (auto c = std::move(completion)) runOnMainLater(std::move(c));
    (void)self;
  }
};

struct TransactionFrame {
  bool disableActions = false;
  double duration = 0.25;
  std::shared_ptr<CompletionGroup> group = std::make_shared<CompletionGroup>();
};

thread_local std::vector<TransactionFrame> tTransactions;

}  // namespace

void Transaction::begin() {
  TransactionFrame f;
  if (!tTransactions.empty()) {
    f.disableActions = tTransactions.back().disableActions;
    f.duration = tTransactions.back().duration;
  }
  tTransactions.push_back(std::move(f));
}

void Transaction::commit() {
  if (tTransactions.empty()) return;
  auto group = tTransactions.back().group;
  tTransactions.pop_back();
  group->committed = true;
  group->maybeRun(group);
}

void Transaction::setDisableActions(bool disable) {
  if (!tTransactions.empty()) tTransactions.back().disableActions = disable;
}
bool Transaction::disableActions() { return !tTransactions.empty() && tTransactions.back().disableActions; }
void Transaction::setAnimationDuration(double seconds) {
  if (!tTransactions.empty()) tTransactions.back().duration = seconds;
}
double Transaction::animationDuration() { return tTransactions.empty() ? 0.25 : tTransactions.back().duration; }
void Transaction::setCompletionBlock(std::function<void()> block) {
  if (!tTransactions.empty()) tTransactions.back().group->completion = std::move(block);
}

void Transaction::track(const std::shared_ptr<Animation>& animation) {
  for (auto& frame : tTransactions) {
    auto group = frame.group;
    ++group->pending;
    animation->stopHooks.push_back([group](bool) {
      --group->pending;
      group->maybeRun(group);
    });
  }
}

void withoutActions(const std::function<void()>& fn) {
  Transaction::begin();
  Transaction::setDisableActions(true);
  fn();
  Transaction::commit();
}

// ---- Layer ----

Layer::Layer() = default;

Layer::~Layer() {
  for (auto& s : sublayers_) s->superlayer_ = nullptr;
  // Animations still running end unfinished; their delegates and transactions hear it later.
  for (auto& r : animations_) {
    auto anim = r.animation;
    runOnMainLater([anim] {
      auto hooks = std::move(anim->stopHooks);
      anim->stopHooks.clear();
      if (anim->delegate) anim->delegate->animationDidStop(*anim, false);
      for (auto& h : hooks) h(false);
    });
  }
}

Rect Layer::frame() const { return transformToSuperlayer().apply(Rect(0, 0, model_.bounds.width(), model_.bounds.height()).offsetBy(model_.bounds.x(), model_.bounds.y())); }

void Layer::change(const std::string& key, const std::function<void()>& fn) {
  std::shared_ptr<Animation> action;
  if (!Transaction::disableActions()) action = actionForKey(key);
  fn();
  if (needsDisplayForKey(key)) setNeedsDisplay();
  if (action) addAnimation(action, key);
}

std::shared_ptr<Animation> Layer::actionForKey(const std::string& key) {
  if (delegate_) return delegate_->actionForLayer(*this, key);
  return nullptr;
}

void Layer::setBounds(const Rect& r) {
  if (r == model_.bounds) return;
  change("bounds", [&] { model_.bounds = r; });
}
void Layer::setPosition(Point p) {
  if (p == model_.position) return;
  change("position", [&] { model_.position = p; });
}
void Layer::setAnchorPoint(Point p) {
  if (p == model_.anchorPoint) return;
  change("anchorPoint", [&] { model_.anchorPoint = p; });
}
void Layer::setTransform(const Transform3D& t) {
  if (t == model_.transform) return;
  change("transform", [&] { model_.transform = t; });
}
void Layer::setOpacity(double v) {
  v = std::clamp(v, 0.0, 1.0);
  if (v == model_.opacity) return;
  change("opacity", [&] { model_.opacity = v; });
}
void Layer::setHidden(bool v) {
  if (v == model_.hidden) return;
  change("hidden", [&] { model_.hidden = v; });
}
void Layer::setMasksToBounds(bool v) { model_.masksToBounds = v; }
void Layer::setBackgroundColor(OptColor c) {
  if (c == model_.backgroundColor) return;
  change("backgroundColor", [&] { model_.backgroundColor = c; });
}
void Layer::setCornerRadius(double v) { change("cornerRadius", [&] { model_.cornerRadius = v; }); }
void Layer::setBorderWidth(double v) { change("borderWidth", [&] { model_.borderWidth = v; }); }
void Layer::setBorderColor(const Color& c) { change("borderColor", [&] { model_.borderColor = c; }); }
void Layer::setShadowColor(const Color& c) { change("shadowColor", [&] { model_.shadowColor = c; }); }
void Layer::setShadowOpacity(double v) { change("shadowOpacity", [&] { model_.shadowOpacity = std::clamp(v, 0.0, 1.0); }); }
void Layer::setShadowOffset(Size s) { change("shadowOffset", [&] { model_.shadowOffset = s; }); }
void Layer::setShadowRadius(double v) { change("shadowRadius", [&] { model_.shadowRadius = v; }); }
void Layer::setShadowPath(std::optional<Path> p) { model_.shadowPath = std::move(p); }
void Layer::setContents(std::shared_ptr<Image> image) { change("contents", [&] { model_.contents = std::move(image); }); }
void Layer::setContentsScale(double v) { model_.contentsScale = v > 0 ? v : 1; }
void Layer::setZPosition(double v) { change("zPosition", [&] { model_.zPosition = v; }); }

void Layer::setFrame(const Rect& r) {
  Rect f = r.standardized();
  setPosition({f.x() + model_.anchorPoint.x * f.width(), f.y() + model_.anchorPoint.y * f.height()});
  setBounds(Rect(model_.bounds.origin, f.size));
}

void Layer::setValueForKeyPath(const std::string& keyPath, const AnimValue& value) {
  change(keyPath, [&] { setKeyPath(model_, keyPath, value); });
}

LayerProps Layer::presentationProps() const { return presentationPropsAt(currentMediaTime()); }

LayerProps Layer::presentationPropsAt(double now) const {
  LayerProps p = model_;
  for (const auto& r : animations_) r.animation->apply(now - r.begin, p, model_);
  return p;
}

std::shared_ptr<Layer> Layer::presentationLayer() const {
  auto copy = std::make_shared<Layer>();
  copy->model_ = presentationProps();
  copy->delegate_ = nullptr;
  copy->name = name;
  return copy;
}

std::shared_ptr<Layer> Layer::superlayer() const { return superlayer_ ? superlayer_->shared_from_this() : nullptr; }

void Layer::addSublayer(const std::shared_ptr<Layer>& layer) { insertSublayer(layer, sublayers_.size()); }

void Layer::insertSublayer(const std::shared_ptr<Layer>& layer, std::size_t index) {
  if (!layer || layer.get() == this) return;
  auto keep = layer;
  if (layer->superlayer_) {
    if (layer->superlayer_ == this) {
      auto it = std::find(sublayers_.begin(), sublayers_.end(), layer);
      std::size_t old = static_cast<std::size_t>(it - sublayers_.begin());
      sublayers_.erase(it);
      if (old < index) --index;
    } else {
      layer->removeFromSuperlayer();
    }
  }
  index = std::min(index, sublayers_.size());
  sublayers_.insert(sublayers_.begin() + static_cast<std::ptrdiff_t>(index), keep);
  keep->superlayer_ = this;
}

void Layer::insertSublayerBelow(const std::shared_ptr<Layer>& layer, const Layer* sibling) {
  auto it = std::find_if(sublayers_.begin(), sublayers_.end(), [&](auto& s) { return s.get() == sibling; });
  insertSublayer(layer, it == sublayers_.end() ? 0 : static_cast<std::size_t>(it - sublayers_.begin()));
}

void Layer::insertSublayerAbove(const std::shared_ptr<Layer>& layer, const Layer* sibling) {
  auto it = std::find_if(sublayers_.begin(), sublayers_.end(), [&](auto& s) { return s.get() == sibling; });
  insertSublayer(layer, it == sublayers_.end() ? sublayers_.size() : static_cast<std::size_t>(it - sublayers_.begin()) + 1);
}

void Layer::removeFromSuperlayer() {
  PF_ASSERT_MAIN_THREAD();
  if (!superlayer_) return;
  auto keep = shared_from_this();
  auto& list = superlayer_->sublayers_;
  list.erase(std::remove(list.begin(), list.end(), keep), list.end());
  superlayer_ = nullptr;
}

AffineTransform Layer::transformToSuperlayer() const {
  const auto& m = model_;
  return AffineTransform::translation(-m.bounds.x() - m.anchorPoint.x * m.bounds.width(),
                                      -m.bounds.y() - m.anchorPoint.y * m.bounds.height())
      .concat(m.transform.affine())
      .concat(AffineTransform::translation(m.position.x, m.position.y));
}

AffineTransform Layer::transformToRoot() const {
  AffineTransform t = transformToSuperlayer();
  for (const Layer* l = superlayer_; l; l = l->superlayer_) t = t.concat(l->transformToSuperlayer());
  return t;
}

Point Layer::convertPoint(Point p, const Layer* to) const {
  Point root = transformToRoot().apply(p);
  if (!to) return root;
  auto inv = to->transformToRoot().inverted();
  return inv ? inv->apply(root) : root;
}

Rect Layer::convertRect(const Rect& r, const Layer* to) const {
  AffineTransform t = transformToRoot();
  if (to) {
    auto inv = to->transformToRoot().inverted();
    if (inv) t = t.concat(*inv);
  }
  return t.apply(r);
}

void Layer::drawInContext(GraphicsContext& ctx, const LayerProps&) {
  if (delegate_) delegate_->drawLayer(*this, ctx);
}

// ---- animations ----

namespace {
std::atomic<std::uint64_t> gNextAnimationId{1};
}

void Layer::addAnimation(const std::shared_ptr<Animation>& animation, const std::string& key) {
  if (!animation) return;
  if (!key.empty()) removeAnimationForKey(key);
  auto copy = animation->copy();
  // Internal hooks (view animation blocks) travel with the running copy.
  copy->stopHooks = std::move(animation->stopHooks);
  animation->stopHooks.clear();
  double now = currentMediaTime();
  double begin = copy->beginTime > 0 ? copy->beginTime : now;
  std::uint64_t id = gNextAnimationId++;
  animations_.push_back({key, copy, begin, id});
  Transaction::track(copy);
  if (copy->delegate) {
    auto anim = copy;
    double wait = std::max(0.0, begin - now);
    RunLoop::main()->performAfter(wait, this, "animationDidStart", [anim] {
      if (anim->delegate) anim->delegate->animationDidStart(*anim);
    }, {kRunLoopCommonModes});
  }
  double active = copy->activeDuration();
  if (std::isfinite(active)) {
    std::weak_ptr<Layer> weak = weak_from_this();
    double end = begin + active;
    RunLoop::main()->performAfter(std::max(0.0, end - now), this, "animationEnd", [weak, id] {
      if (auto self = weak.lock()) self->finish(id, true);
    }, {kRunLoopCommonModes});
  }
}

void Layer::finish(std::uint64_t id, bool finished) {
  auto it = std::find_if(animations_.begin(), animations_.end(), [id](const Running& r) { return r.id == id; });
  if (it == animations_.end()) return;
  Running r = *it;
  if (!finished || r.animation->removedOnCompletion) animations_.erase(it);
  detach(std::move(r), finished);
}

void Layer::detach(Running r, bool finished) {
  auto anim = r.animation;
  auto hooks = std::move(anim->stopHooks);
  anim->stopHooks.clear();
  if (hooks.empty() && !anim->delegate) return;
  auto deliver = [anim, hooks = std::move(hooks), finished] {
    if (anim->delegate) anim->delegate->animationDidStop(*anim, finished);
    for (auto& h : hooks) h(finished);
  };
  if (finished)
    deliver();
  else
    runOnMainLater(std::move(deliver));  // removal is reported after the caller's change
}

std::shared_ptr<Animation> Layer::animationForKey(const std::string& key) const {
  if (key.empty()) return nullptr;
  for (const auto& r : animations_)
    if (r.key == key) return r.animation;
  return nullptr;
}

std::vector<std::string> Layer::animationKeys() const {
  std::vector<std::string> keys;
  for (const auto& r : animations_)
    if (!r.key.empty()) keys.push_back(r.key);
  return keys;
}

void Layer::removeAnimationForKey(const std::string& key) {
  auto it = std::find_if(animations_.begin(), animations_.end(), [&](const Running& r) { return r.key == key; });
  if (it == animations_.end()) return;
  Running r = *it;
  animations_.erase(it);
  // One that already ended and stayed has told its delegate; removing it says nothing more.
  if (!r.animation->stopHooks.empty() || currentMediaTime() < r.begin + r.animation->activeDuration()) detach(r, false);
}

void Layer::removeAllAnimations() {
  while (!animations_.empty()) {
    Running r = animations_.front();
    animations_.erase(animations_.begin());
    if (currentMediaTime() < r.begin + r.animation->activeDuration()) detach(r, false);
  }
}

// ---- ShapeLayer ----

void ShapeLayer::setPath(std::optional<Path> p) { change("path", [&] { model_.path = std::move(p); }); }
void ShapeLayer::setFillColor(OptColor c) { change("fillColor", [&] { model_.fillColor = c; }); }
void ShapeLayer::setStrokeColor(OptColor c) { change("strokeColor", [&] { model_.strokeColor = c; }); }
void ShapeLayer::setLineWidth(double w) { change("lineWidth", [&] { model_.lineWidth = w; }); }
void ShapeLayer::setLineJoin(LineJoin j) { model_.lineJoin = j; }
void ShapeLayer::setLineCap(LineCap c) { model_.lineCap = c; }
void ShapeLayer::setLineDashPattern(std::vector<double> pattern) { model_.lineDashPattern = std::move(pattern); }
void ShapeLayer::setLineDashPhase(double phase) { change("lineDashPhase", [&] { model_.lineDashPhase = phase; }); }
void ShapeLayer::setFillRule(FillRule rule) { model_.fillRule = rule; }
void ShapeLayer::setStrokeStart(double v) { change("strokeStart", [&] { model_.strokeStart = v; }); }
void ShapeLayer::setStrokeEnd(double v) { change("strokeEnd", [&] { model_.strokeEnd = v; }); }

void ShapeLayer::drawInContext(GraphicsContext& ctx, const LayerProps& p) {
  if (!p.path || p.path->isEmpty()) return;
  ctx.save();
  if (p.fillColor && p.fillColor->a > 0) {
    ctx.beginPath();
    ctx.addPath(*p.path);
    ctx.setFillColor(*p.fillColor);
    ctx.fillPath(p.fillRule);
  }
  if (p.strokeColor && p.strokeColor->a > 0 && p.lineWidth > 0) {
    ctx.beginPath();
    ctx.addPath(*p.path);
    ctx.setStrokeColor(*p.strokeColor);
    ctx.setLineWidth(p.lineWidth);
    ctx.setLineCap(p.lineCap);
    ctx.setLineJoin(p.lineJoin);
    ctx.setLineDash(p.lineDashPhase, p.lineDashPattern);
    ctx.strokePath();
  }
  ctx.restore();
}

}  // namespace pf
