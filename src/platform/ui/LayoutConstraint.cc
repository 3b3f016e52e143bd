#include "platform/ui/LayoutConstraint.h"

#include <cctype>
#include <cmath>
#include <optional>

#include "platform/foundation/Error.h"
#include "platform/ui/View.h"

namespace pf {

std::shared_ptr<LayoutConstraint> LayoutConstraint::make(const std::shared_ptr<View>& first, LayoutAttribute a1,
                                                         LayoutRelation rel, const std::shared_ptr<View>& second,
                                                         LayoutAttribute a2, double multiplier, double constant) {
  auto c = std::make_shared<LayoutConstraint>();
  c->first_ = first;
  c->firstRaw_ = first.get();
  c->second_ = second;
  c->secondRaw_ = second.get();
  c->firstAttribute = a1;
  c->secondAttribute = second ? a2 : LayoutAttribute::NotAnAttribute;
  c->relation = rel;
  c->multiplier = multiplier;
  c->constant = constant;
  return c;
}

namespace {

[[noreturn]] void bad(const std::string& format, const std::string& why) {
  throw Exception(kInvalidArgumentException, "Unable to parse constraint format: " + why + "\n" + format);
}

struct Parser {
  const std::string& f;
  std::size_t i = 0;
  const std::map<std::string, double>& metrics;

  bool done() const { return i >= f.size(); }
  char peek() const { return done() ? '\0' : f[i]; }
  bool eat(char c) {
    if (peek() != c) return false;
    ++i;
    return true;
  }
  std::string name() {
    std::size_t s = i;
    while (!done() && (std::isalnum(static_cast<unsigned char>(f[i])) || f[i] == '_')) ++i;
    return f.substr(s, i - s);
  }
  // A number or a metric name.
  double value() {
    if (std::isdigit(static_cast<unsigned char>(peek())) || peek() == '-' || peek() == '.') {
      std::size_t s = i;
      ++i;
      while (!done() && (std::isdigit(static_cast<unsigned char>(f[i])) || f[i] == '.')) ++i;
      return std::stod(f.substr(s, i - s));
    }
    std::string n = name();
    auto it = metrics.find(n);
    if (n.empty() || it == metrics.end()) bad(f, "unknown metric " + n);
    return it->second;
  }
  // "(==40)", "(>=n)", "(metric)"
  std::pair<LayoutRelation, double> predicate() {
    LayoutRelation rel = LayoutRelation::Equal;
    if (f.compare(i, 2, "==") == 0) i += 2;
    else if (f.compare(i, 2, ">=") == 0) rel = LayoutRelation::GreaterThanOrEqual, i += 2;
    else if (f.compare(i, 2, "<=") == 0) rel = LayoutRelation::LessThanOrEqual, i += 2;
    double v = value();
    if (eat('@')) value();  // priority: recorded as required
    return {rel, v};
  }
};

}  // namespace

std::vector<std::shared_ptr<LayoutConstraint>> LayoutConstraint::constraintsWithVisualFormat(
    const std::string& format, unsigned, const std::map<std::string, double>& metrics,
    const std::map<std::string, std::shared_ptr<View>>& views) {
  std::string f;
  for (char c : format)
    if (!std::isspace(static_cast<unsigned char>(c))) f += c;
  bool vertical = false;
  Parser p{f, 0, metrics};
  if (f.compare(0, 2, "V:") == 0) vertical = true, p.i = 2;
  else if (f.compare(0, 2, "H:") == 0) p.i = 2;
  LayoutAttribute lead = vertical ? LayoutAttribute::Top : LayoutAttribute::Leading;
  LayoutAttribute trail = vertical ? LayoutAttribute::Bottom : LayoutAttribute::Trailing;
  LayoutAttribute dim = vertical ? LayoutAttribute::Height : LayoutAttribute::Width;

  std::vector<std::shared_ptr<LayoutConstraint>> out;
  std::shared_ptr<View> previous;  // the last view, or null for the superview edge
  bool previousIsSuper = false;
  // Spacing waiting for the next item.
  bool hasPending = false;
  std::pair<LayoutRelation, double> pending{LayoutRelation::Equal, 0.0};
  auto setPending = [&](std::pair<LayoutRelation, double> s) {
    pending = s;
    hasPending = true;
  };
  bool sawItem = false;

  auto superOf = [&](const std::shared_ptr<View>& v) {
    auto s = v ? v->superview() : nullptr;
    if (!s) bad(f, "a view has no superview for |");
    return s;
  };
  auto spacing = [&](bool toSuper) -> std::pair<LayoutRelation, double> {
    // "-" alone is the standard spacing: 8 between views, 20 to the superview's edge.
    if (p.eat('-')) return {LayoutRelation::Equal, toSuper ? 20.0 : 8.0};
    std::pair<LayoutRelation, double> s;
    if (p.eat('(')) {
      s = p.predicate();
      if (!p.eat(')')) bad(f, "expected )");
    } else {
      s = {LayoutRelation::Equal, p.value()};
    }
    if (!p.eat('-')) bad(f, "expected -");
    return s;
  };

  if (p.eat('|')) {
    previousIsSuper = true;
    if (p.eat('-')) setPending(spacing(true));
  }
  while (!p.done()) {
    if (p.eat('[')) {
      std::string n = p.name();
      auto it = views.find(n);
      if (it == views.end() || !it->second) bad(f, "unknown view " + n);
      auto v = it->second;
      if (p.eat('(')) {
        do {
          auto [rel, val] = p.predicate();
          out.push_back(make(v, dim, rel, nullptr, LayoutAttribute::NotAnAttribute, 1, val));
        } while (p.eat(','));
        if (!p.eat(')')) bad(f, "expected )");
      }
      if (!p.eat(']')) bad(f, "expected ]");
      auto s = hasPending ? pending : std::make_pair(LayoutRelation::Equal, 0.0);
      if (previousIsSuper) {
        if (hasPending) out.push_back(make(v, lead, s.first, superOf(v), lead, 1, s.second));
      } else if (previous) {
        out.push_back(make(v, lead, s.first, previous, trail, 1, s.second));
      }
      hasPending = false;
      previous = v;
      previousIsSuper = false;
      sawItem = true;
      if (p.eat('-')) {
        if (p.peek() == '|') {
          setPending({LayoutRelation::Equal, 20.0});
        } else if (p.peek() == '[') {
          setPending({LayoutRelation::Equal, 8.0});
        } else {
          setPending(spacing(false));
        }
      }
    } else if (p.eat('|')) {
      if (!previous) bad(f, "| without a view");
      if (hasPending) out.push_back(make(superOf(previous), trail, pending.first, previous, trail, 1, pending.second));
      hasPending = false;
      previousIsSuper = true;
    } else {
      bad(f, std::string("unexpected ") + p.peek());
    }
  }
  if (!sawItem) bad(f, "no view");
  return out;
}

// ---- resolver ----

namespace {

struct Axis {
  std::optional<double> lo, hi, size, mid;
};

bool horizontal(LayoutAttribute a) {
  switch (a) {
    case LayoutAttribute::Left: case LayoutAttribute::Right: case LayoutAttribute::Leading:
    case LayoutAttribute::Trailing: case LayoutAttribute::Width: case LayoutAttribute::CenterX:
    case LayoutAttribute::LeftMargin: case LayoutAttribute::RightMargin:
      return true;
    default:
      return false;
  }
}

// The value of an attribute of v, in container coordinates.
std::optional<double> attributeValue(const View& v, LayoutAttribute a, const View& container) {
  Rect r = &v == &container ? container.bounds() : v.frame();
  if (&v != &container && v.superviewRaw() != &container) r = v.convertRect(v.bounds(), &container);
  switch (a) {
    case LayoutAttribute::Left: case LayoutAttribute::Leading: case LayoutAttribute::LeftMargin: return r.minX();
    case LayoutAttribute::Right: case LayoutAttribute::Trailing: case LayoutAttribute::RightMargin: return r.maxX();
    case LayoutAttribute::Top: case LayoutAttribute::TopMargin: return r.minY();
    case LayoutAttribute::Bottom: case LayoutAttribute::BottomMargin: case LayoutAttribute::Baseline:
    case LayoutAttribute::FirstBaseline: return r.maxY();
    case LayoutAttribute::Width: return r.width();
    case LayoutAttribute::Height: return r.height();
    case LayoutAttribute::CenterX: return r.midX();
    case LayoutAttribute::CenterY: return r.midY();
    default: return std::nullopt;
  }
}

void assign(Axis& axis, LayoutAttribute a, double v) {
  switch (a) {
    case LayoutAttribute::Left: case LayoutAttribute::Leading: case LayoutAttribute::LeftMargin:
    case LayoutAttribute::Top: case LayoutAttribute::TopMargin:
      axis.lo = v; break;
    case LayoutAttribute::Right: case LayoutAttribute::Trailing: case LayoutAttribute::RightMargin:
    case LayoutAttribute::Bottom: case LayoutAttribute::BottomMargin: case LayoutAttribute::Baseline:
    case LayoutAttribute::FirstBaseline:
      axis.hi = v; break;
    case LayoutAttribute::Width: case LayoutAttribute::Height: axis.size = v; break;
    case LayoutAttribute::CenterX: case LayoutAttribute::CenterY: axis.mid = v; break;
    default: break;
  }
}

// Origin and length from what the constraints fixed, keeping the current ones for the rest.
void solve(const Axis& a, double& origin, double& length) {
  if (a.size) length = *a.size;
  if (a.lo && a.hi) {
    origin = *a.lo;
    length = *a.hi - *a.lo;
  } else if (a.lo) {
    origin = *a.lo;
  } else if (a.hi) {
    origin = *a.hi - length;
  } else if (a.mid) {
    origin = *a.mid - length / 2;
  }
  if (a.mid && a.lo && !a.hi && !a.size) length = 2 * (*a.mid - *a.lo);
}

}  // namespace

void resolveConstraints(View& container) {
  std::vector<std::shared_ptr<LayoutConstraint>> all = container.constraints();
  for (auto& s : container.subviews())
    all.insert(all.end(), s->constraints().begin(), s->constraints().end());
  if (all.empty()) return;
  for (int pass = 0; pass < 2; ++pass) {
    for (auto& s : container.subviews()) {
      if (s->translatesAutoresizingMaskIntoConstraints()) continue;
      Axis h, v;
      std::vector<const LayoutConstraint*> inequalities;
      for (auto& c : all) {
        auto first = c->firstItem(), second = c->secondItem();
        if (!first) continue;
        bool isFirst = first.get() == s.get(), isSecond = second && second.get() == s.get();
        if (!isFirst && !isSecond) continue;
        if (c->relation != LayoutRelation::Equal) {
          inequalities.push_back(c.get());
          continue;
        }
        double value;
        LayoutAttribute mine;
        if (isFirst) {
          mine = c->firstAttribute;
          if (second) {
            auto other = attributeValue(*second, c->secondAttribute, container);
            if (!other) continue;
            value = *other * c->multiplier + c->constant;
          } else {
            value = c->constant;
          }
        } else {
          // A sibling placed after this view does not place it; the container's edges do.
          if (first.get() != &container) continue;
          mine = c->secondAttribute;
          auto other = attributeValue(*first, c->firstAttribute, container);
          if (!other || c->multiplier == 0) continue;
          value = (*other - c->constant) / c->multiplier;
        }
        assign(horizontal(mine) ? h : v, mine, value);
      }
      Rect f = s->frame();
      double x = f.x(), w = f.width(), y = f.y(), hh = f.height();
      solve(h, x, w);
      solve(v, y, hh);
      Rect bounds = container.bounds();
      // Inequalities against the container's edges clamp the frame.
      for (const LayoutConstraint* c : inequalities) {
        if (c->secondItemRaw() != &container || c->firstItemRaw() != s.get()) continue;
        double edge = *attributeValue(container, c->secondAttribute, container) + c->constant;
        bool atLeast = c->relation == LayoutRelation::GreaterThanOrEqual;
        switch (c->firstAttribute) {
          case LayoutAttribute::Left: case LayoutAttribute::Leading:
            if (atLeast ? x < edge : x > edge) x = edge;
            break;
          case LayoutAttribute::Top:
            if (atLeast ? y < edge : y > edge) y = edge;
            break;
          case LayoutAttribute::Right: case LayoutAttribute::Trailing:
            if (atLeast ? x + w < edge : x + w > edge) x = edge - w;
            break;
          case LayoutAttribute::Bottom:
            if (atLeast ? y + hh < edge : y + hh > edge) y = edge - hh;
            break;
          default:
            break;
        }
      }
      (void)bounds;
      s->setFrame(Rect(x, y, std::max(0.0, w), std::max(0.0, hh)));
    }
  }
}

}  // namespace pf
