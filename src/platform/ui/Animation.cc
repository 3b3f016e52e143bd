#include "platform/ui/Animation.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/foundation/Clock.h"
#include "platform/ui/Layer.h"

namespace pf {

double currentMediaTime() { return Clock::monotonic(); }

// ---- values ----

namespace {

template <class T>
const T* as(const AnimValue& v) {
  return std::get_if<T>(&v);
}

Transform3D lerpTransform(const Transform3D& a, const Transform3D& b, double t) {
  auto pa = a.decompose(), pb = b.decompose();
  Transform3D::Parts p;
  p.tx = pa.tx + (pb.tx - pa.tx) * t;
  p.ty = pa.ty + (pb.ty - pa.ty) * t;
  p.tz = pa.tz + (pb.tz - pa.tz) * t;
  p.sx = pa.sx + (pb.sx - pa.sx) * t;
  p.sy = pa.sy + (pb.sy - pa.sy) * t;
  p.sz = pa.sz + (pb.sz - pa.sz) * t;
  p.rotation = pa.rotation + (pb.rotation - pa.rotation) * t;
  return Transform3D::compose(p);
}

}  // namespace

AnimValue interpolate(const AnimValue& from, const AnimValue& to, double t) {
  if (from.index() != to.index()) return t < 1 ? from : to;
  if (auto a = as<double>(from)) return *a + (std::get<double>(to) - *a) * t;
  if (auto a = as<Point>(from)) {
    auto b = std::get<Point>(to);
    return Point{a->x + (b.x - a->x) * t, a->y + (b.y - a->y) * t};
  }
  if (auto a = as<Size>(from)) {
    auto b = std::get<Size>(to);
    return Size{a->width + (b.width - a->width) * t, a->height + (b.height - a->height) * t};
  }
  if (auto a = as<Rect>(from)) {
    auto b = std::get<Rect>(to);
    return Rect(a->x() + (b.x() - a->x()) * t, a->y() + (b.y() - a->y()) * t,
                a->width() + (b.width() - a->width()) * t, a->height() + (b.height() - a->height()) * t);
  }
  if (auto a = as<Transform3D>(from)) return lerpTransform(*a, std::get<Transform3D>(to), t);
  if (auto a = as<Color>(from)) return a->mix(std::get<Color>(to), t);
  return to;
}

AnimValue addValues(const AnimValue& x, const AnimValue& y) {
  if (x.index() != y.index()) return x;
  if (auto a = as<double>(x)) return *a + std::get<double>(y);
  if (auto a = as<Point>(x)) {
    auto b = std::get<Point>(y);
    return Point{a->x + b.x, a->y + b.y};
  }
  if (auto a = as<Size>(x)) {
    auto b = std::get<Size>(y);
    return Size{a->width + b.width, a->height + b.height};
  }
  if (auto a = as<Rect>(x)) {
    auto b = std::get<Rect>(y);
    return Rect(a->x() + b.x(), a->y() + b.y(), a->width() + b.width(), a->height() + b.height());
  }
  if (auto a = as<Transform3D>(x)) return a->concat(std::get<Transform3D>(y));
  if (auto a = as<Color>(x)) {
    auto b = std::get<Color>(y);
    return Color{a->r + b.r, a->g + b.g, a->b + b.b, a->a + b.a};
  }
  return x;
}

AnimValue subtractValues(const AnimValue& x, const AnimValue& y) {
  if (x.index() != y.index()) return x;
  if (auto a = as<double>(x)) return *a - std::get<double>(y);
  if (auto a = as<Point>(x)) {
    auto b = std::get<Point>(y);
    return Point{a->x - b.x, a->y - b.y};
  }
  if (auto a = as<Size>(x)) {
    auto b = std::get<Size>(y);
    return Size{a->width - b.width, a->height - b.height};
  }
  if (auto a = as<Rect>(x)) {
    auto b = std::get<Rect>(y);
    return Rect(a->x() - b.x(), a->y() - b.y(), a->width() - b.width(), a->height() - b.height());
  }
  if (auto a = as<Transform3D>(x)) {
    auto inv = std::get<Transform3D>(y).affine().inverted();
    return inv ? a->concat(Transform3D::fromAffine(*inv)) : *a;
  }
  if (auto a = as<Color>(x)) {
    auto b = std::get<Color>(y);
    return Color{a->r - b.r, a->g - b.g, a->b - b.b, a->a - b.a};
  }
  return x;
}

double valueDistance(const AnimValue& x, const AnimValue& y) {
  if (x.index() != y.index()) return 0;
  if (auto a = as<double>(x)) return std::fabs(*a - std::get<double>(y));
  if (auto a = as<Point>(x)) {
    auto b = std::get<Point>(y);
    return std::hypot(a->x - b.x, a->y - b.y);
  }
  if (auto a = as<Size>(x)) {
    auto b = std::get<Size>(y);
    return std::hypot(a->width - b.width, a->height - b.height);
  }
  return 1;
}

// ---- key paths ----

namespace {

std::optional<double> num(const AnimValue& v) {
  if (auto d = as<double>(v)) return *d;
  return std::nullopt;
}

}  // namespace

std::optional<AnimValue> getKeyPath(const LayerProps& p, const std::string& k) {
  if (k == "position") return p.position;
  if (k == "position.x") return p.position.x;
  if (k == "position.y") return p.position.y;
  if (k == "bounds") return p.bounds;
  if (k == "bounds.origin") return p.bounds.origin;
  if (k == "bounds.size") return p.bounds.size;
  if (k == "bounds.size.width") return p.bounds.size.width;
  if (k == "bounds.size.height") return p.bounds.size.height;
  if (k == "anchorPoint") return p.anchorPoint;
  if (k == "zPosition") return p.zPosition;
  if (k == "transform") return p.transform;
  if (k.rfind("transform.", 0) == 0) {
    auto parts = p.transform.decompose();
    std::string s = k.substr(10);
    if (s == "scale") return (parts.sx + parts.sy) / 2;
    if (s == "scale.x") return parts.sx;
    if (s == "scale.y") return parts.sy;
    if (s == "scale.z") return parts.sz;
    if (s == "rotation" || s == "rotation.z") return parts.rotation;
    if (s == "translation") return Size{parts.tx, parts.ty};
    if (s == "translation.x") return parts.tx;
    if (s == "translation.y") return parts.ty;
    if (s == "translation.z") return parts.tz;
    return std::nullopt;
  }
  if (k == "opacity") return p.opacity;
  if (k == "cornerRadius") return p.cornerRadius;
  if (k == "borderWidth") return p.borderWidth;
  if (k == "borderColor") return p.borderColor;
  if (k == "backgroundColor") return p.backgroundColor.value_or(Color::clear());
  if (k == "shadowColor") return p.shadowColor;
  if (k == "shadowOpacity") return p.shadowOpacity;
  if (k == "shadowRadius") return p.shadowRadius;
  if (k == "shadowOffset") return p.shadowOffset;
  if (k == "lineWidth") return p.lineWidth;
  if (k == "strokeColor") return p.strokeColor.value_or(Color::clear());
  if (k == "fillColor") return p.fillColor.value_or(Color::clear());
  if (k == "strokeStart") return p.strokeStart;
  if (k == "strokeEnd") return p.strokeEnd;
  if (k == "lineDashPhase") return p.lineDashPhase;
  auto it = p.custom.find(k);
  if (it != p.custom.end()) return it->second;
  return std::nullopt;
}

void setKeyPath(LayerProps& p, const std::string& k, const AnimValue& v) {
  auto d = num(v);
  auto setD = [&](double& field) {
    if (d) field = *d;
  };
  if (k == "position") {
    if (auto q = as<Point>(v)) p.position = *q;
  } else if (k == "position.x") {
    setD(p.position.x);
  } else if (k == "position.y") {
    setD(p.position.y);
  } else if (k == "bounds") {
    if (auto r = as<Rect>(v)) p.bounds = *r;
  } else if (k == "bounds.origin") {
    if (auto q = as<Point>(v)) p.bounds.origin = *q;
  } else if (k == "bounds.size") {
    if (auto s = as<Size>(v)) p.bounds.size = *s;
  } else if (k == "bounds.size.width") {
    setD(p.bounds.size.width);
  } else if (k == "bounds.size.height") {
    setD(p.bounds.size.height);
  } else if (k == "anchorPoint") {
    if (auto q = as<Point>(v)) p.anchorPoint = *q;
  } else if (k == "zPosition") {
    setD(p.zPosition);
  } else if (k == "transform") {
    if (auto t = as<Transform3D>(v)) p.transform = *t;
  } else if (k.rfind("transform.", 0) == 0) {
    auto parts = p.transform.decompose();
    std::string s = k.substr(10);
    if (s == "translation") {
      if (auto sz = as<Size>(v)) parts.tx = sz->width, parts.ty = sz->height;
    } else if (!d) {
      return;
    } else if (s == "scale") {
      parts.sx = parts.sy = parts.sz = *d;
    } else if (s == "scale.x") {
      parts.sx = *d;
    } else if (s == "scale.y") {
      parts.sy = *d;
    } else if (s == "scale.z") {
      parts.sz = *d;
    } else if (s == "rotation" || s == "rotation.z") {
      parts.rotation = *d;
    } else if (s == "translation.x") {
      parts.tx = *d;
    } else if (s == "translation.y") {
      parts.ty = *d;
    } else if (s == "translation.z") {
      parts.tz = *d;
    } else {
      return;
    }
    p.transform = Transform3D::compose(parts);
  } else if (k == "opacity") {
    setD(p.opacity);
  } else if (k == "cornerRadius") {
    setD(p.cornerRadius);
  } else if (k == "borderWidth") {
    setD(p.borderWidth);
  } else if (k == "borderColor") {
    if (auto c = as<Color>(v)) p.borderColor = *c;
  } else if (k == "backgroundColor") {
    if (auto c = as<Color>(v)) p.backgroundColor = *c;
  } else if (k == "shadowColor") {
    if (auto c = as<Color>(v)) p.shadowColor = *c;
  } else if (k == "shadowOpacity") {
    setD(p.shadowOpacity);
  } else if (k == "shadowRadius") {
    setD(p.shadowRadius);
  } else if (k == "shadowOffset") {
    if (auto s = as<Size>(v)) p.shadowOffset = *s;
  } else if (k == "lineWidth") {
    setD(p.lineWidth);
  } else if (k == "strokeColor") {
    if (auto c = as<Color>(v)) p.strokeColor = *c;
  } else if (k == "fillColor") {
    if (auto c = as<Color>(v)) p.fillColor = *c;
  } else if (k == "strokeStart") {
    setD(p.strokeStart);
  } else if (k == "strokeEnd") {
    setD(p.strokeEnd);
  } else if (k == "lineDashPhase") {
    setD(p.lineDashPhase);
  } else {
    p.custom[k] = v;
  }
}

// ---- timing ----

TimingFunction TimingFunction::named(const std::string& name) {
  if (name == "easeIn") return easeIn();
  if (name == "easeOut") return easeOut();
  if (name == "easeInEaseOut") return easeInEaseOut();
  if (name == "default") return defaultFunction();
  return linear();
}

double TimingFunction::evaluate(double x) const {
  if (x <= 0) return 0;
  if (x >= 1) return 1;
  auto bez = [](double a, double b, double t) {
    double u = 1 - t;
    return 3 * u * u * t * a + 3 * u * t * t * b + t * t * t;
  };
  // Solve bez(c1x, c2x, t) = x for t by bisection (monotonic in t for valid control points).
  double lo = 0, hi = 1, t = x;
  for (int i = 0; i < 60; ++i) {
    t = (lo + hi) / 2;
    double v = bez(c1x_, c2x_, t);
    if (std::fabs(v - x) < 1e-9) break;
    if (v < x)
      lo = t;
    else
      hi = t;
  }
  return bez(c1y_, c2y_, t);
}

// ---- Animation ----

Value Animation::value(const std::string& key) const {
  auto it = values_.find(key);
  return it == values_.end() ? Value() : it->second;
}

double Animation::effectiveDuration(double inherited) const { return duration > 0 ? duration : inherited; }

double Animation::activeDuration(double inherited) const {
  double d = effectiveDuration(inherited) * (autoreverses ? 2 : 1);
  double repeats = repeatCount > 0 ? repeatCount : 1;
  if (std::isinf(repeats)) return std::numeric_limits<double>::infinity();
  return d * repeats;
}

bool Animation::apply(double t, LayerProps& props, const LayerProps& model, double inherited) const {
  double d = effectiveDuration(inherited);
  double active = activeDuration(inherited);
  double p;
  if (t < 0) {
    if (fillMode != FillMode::Backwards && fillMode != FillMode::Both) return false;
    p = 0;
  } else if (t >= active) {
    if (fillMode != FillMode::Forwards && fillMode != FillMode::Both) return false;
    double repeats = repeatCount > 0 ? repeatCount : 1;
    double frac = repeats - std::floor(repeats);
    p = autoreverses ? (frac == 0 ? 0 : frac) : (frac == 0 ? 1 : frac);
  } else {
    double period = d * (autoreverses ? 2 : 1);
    double local = period > 0 ? std::fmod(t, period) : 0;
    if (autoreverses && local > d) local = period - local;
    p = d > 0 ? local / d : 1;
  }
  if (timingFunction) p = timingFunction->evaluate(p);
  applyProgress(p, p * d, props, model);
  return true;
}

std::shared_ptr<BasicAnimation> BasicAnimation::make(std::string keyPath) {
  auto a = std::make_shared<BasicAnimation>();
  a->keyPath = std::move(keyPath);
  return a;
}

void BasicAnimation::applyProgress(double p, double, LayerProps& props, const LayerProps& model) const {
  auto current = getKeyPath(props, keyPath);
  auto modelValue = getKeyPath(model, keyPath);
  std::optional<AnimValue> from, to;
  if (fromValue && toValue) {
    from = fromValue, to = toValue;
  } else if (fromValue && byValue) {
    from = fromValue, to = addValues(*fromValue, *byValue);
  } else if (byValue && toValue) {
    from = subtractValues(*toValue, *byValue), to = toValue;
  } else if (fromValue) {
    from = fromValue, to = modelValue;
  } else if (toValue) {
    from = current, to = toValue;
  } else if (byValue) {
    if (current) from = current, to = addValues(*current, *byValue);
  } else {
    from = current, to = modelValue;
  }
  if (!from || !to) return;
  setKeyPath(props, keyPath, interpolate(*from, *to, p));
}

std::shared_ptr<KeyframeAnimation> KeyframeAnimation::make(std::string keyPath) {
  auto a = std::make_shared<KeyframeAnimation>();
  a->keyPath = std::move(keyPath);
  return a;
}

namespace {

// Segment index and local fraction for progress p over n keyframes with optional key times.
void locate(double p, std::size_t n, const std::vector<double>& keyTimes, bool discrete, std::size_t& seg,
            double& f) {
  if (n <= 1) {
    seg = 0, f = 0;
    return;
  }
  std::vector<double> times = keyTimes;
  if (times.size() != n) {
    times.resize(n);
    for (std::size_t i = 0; i < n; ++i)
      times[i] = discrete ? static_cast<double>(i) / n : static_cast<double>(i) / (n - 1);
  }
  if (discrete) {
    seg = 0;
    for (std::size_t i = 0; i < n; ++i)
      if (p >= times[i]) seg = i;
    f = 0;
    return;
  }
  seg = n - 2;
  for (std::size_t i = 0; i + 1 < n; ++i) {
    if (p < times[i + 1]) {
      seg = i;
      break;
    }
  }
  double span = times[seg + 1] - times[seg];
  f = span > 0 ? std::clamp((p - times[seg]) / span, 0.0, 1.0) : 1.0;
}

// Catmull-Rom through four values, for doubles and points (others fall back to linear).
AnimValue catmull(const AnimValue& a, const AnimValue& b, const AnimValue& c, const AnimValue& d, double t) {
  auto cr = [t](double p0, double p1, double p2, double p3) {
    double t2 = t * t, t3 = t2 * t;
    return 0.5 * (2 * p1 + (-p0 + p2) * t + (2 * p0 - 5 * p1 + 4 * p2 - p3) * t2 + (-p0 + 3 * p1 - 3 * p2 + p3) * t3);
  };
  if (auto pa = as<double>(a); pa && as<double>(b) && as<double>(c) && as<double>(d))
    return cr(*pa, std::get<double>(b), std::get<double>(c), std::get<double>(d));
  if (auto pa = as<Point>(a); pa && as<Point>(b) && as<Point>(c) && as<Point>(d)) {
    auto pb = std::get<Point>(b), pc = std::get<Point>(c), pd = std::get<Point>(d);
    return Point{cr(pa->x, pb.x, pc.x, pd.x), cr(pa->y, pb.y, pc.y, pd.y)};
  }
  return interpolate(b, c, t);
}

}  // namespace

void KeyframeAnimation::applyProgress(double p, double, LayerProps& props, const LayerProps& model) const {
  bool discrete = calculationMode == "discrete";
  if (path) {
    auto segs = path->segments();
    if (segs.empty()) return;
    std::size_t n = segs.size() + 1;  // the path's points are the keyframes
    std::size_t seg;
    double f;
    if (calculationMode == "paced" || calculationMode == "cubicPaced") {
      double total = 0;
      for (auto& s : segs) total += s.length();
      double target = p * total;
      seg = segs.size() - 1, f = 1;
      for (std::size_t i = 0; i < segs.size(); ++i) {
        double len = segs[i].length();
        if (target <= len || i + 1 == segs.size()) {
          seg = i, f = len > 0 ? std::clamp(target / len, 0.0, 1.0) : 1;
          break;
        }
        target -= len;
      }
    } else {
      locate(p, n, keyTimes, discrete, seg, f);
      if (discrete) {
        Point pt = seg == 0 ? segs[0].p0 : segs[std::min(seg, segs.size()) - 1].p1;
        setKeyPath(props, keyPath, pt);
        return;
      }
      if (seg < timingFunctions.size()) f = timingFunctions[seg].evaluate(f);
    }
    seg = std::min(seg, segs.size() - 1);
    setKeyPath(props, keyPath, segs[seg].at(f));
    if (rotationMode == "auto" || rotationMode == "autoReverse") {
      Point tan = segs[seg].tangent(f);
      double angle = std::atan2(tan.y, tan.x) + (rotationMode == "autoReverse" ? M_PI : 0);
      props.transform = props.transform.concat(Transform3D::rotation(angle, 0, 0, 1));
    }
    return;
  }
  if (values.empty()) return;
  std::size_t n = values.size(), seg;
  double f;
  if (calculationMode == "paced" || calculationMode == "cubicPaced") {
    double total = 0;
    for (std::size_t i = 0; i + 1 < n; ++i) total += valueDistance(values[i], values[i + 1]);
    double target = p * total;
    seg = n >= 2 ? n - 2 : 0, f = 1;
    for (std::size_t i = 0; i + 1 < n; ++i) {
      double len = valueDistance(values[i], values[i + 1]);
      if (target <= len || i + 2 == n) {
        seg = i, f = len > 0 ? std::clamp(target / len, 0.0, 1.0) : 1;
        break;
      }
      target -= len;
    }
  } else {
    locate(p, n, keyTimes, discrete, seg, f);
  }
  (void)model;
  if (discrete || n == 1) {
    setKeyPath(props, keyPath, values[std::min(seg, n - 1)]);
    return;
  }
  if (seg < timingFunctions.size()) f = timingFunctions[seg].evaluate(f);
  if (calculationMode == "cubic" || calculationMode == "cubicPaced") {
    const AnimValue& a = values[seg == 0 ? 0 : seg - 1];
    const AnimValue& d = values[std::min(seg + 2, n - 1)];
    setKeyPath(props, keyPath, catmull(a, values[seg], values[seg + 1], d, f));
  } else {
    setKeyPath(props, keyPath, interpolate(values[seg], values[seg + 1], f));
  }
}

std::shared_ptr<AnimationGroup> AnimationGroup::make(std::vector<std::shared_ptr<Animation>> animations) {
  auto g = std::make_shared<AnimationGroup>();
  g->animations = std::move(animations);
  return g;
}

std::shared_ptr<Animation> AnimationGroup::copy() const {
  auto g = std::make_shared<AnimationGroup>(*this);
  for (auto& a : g->animations)
    if (a) a = a->copy();
  return g;
}

void AnimationGroup::applyProgress(double, double t, LayerProps& props, const LayerProps& model) const {
  // Children run on the group's (eased) local time, clipped to the group's duration.
  double d = effectiveDuration();
  for (const auto& a : animations) {
    if (!a) continue;
    a->apply(t - a->beginTime, props, model, d);
  }
}

std::shared_ptr<Transition> Transition::make(std::string type, std::string subtype) {
  auto t = std::make_shared<Transition>();
  t->type = std::move(type);
  t->subtype = std::move(subtype);
  return t;
}

}  // namespace pf
