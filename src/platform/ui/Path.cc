#include "platform/ui/Path.h"

#include <algorithm>
#include <cairo.h>
#include <cmath>

namespace pf {

namespace {
constexpr double kTwoPi = 2 * M_PI;
constexpr double kKappa = 0.5522847498307936;  // 4/3 (sqrt 2 - 1): quarter circle as a cubic

// Sweep normalised into [0, 2 pi]: a whole turn or more stays a whole turn.
double positiveSweep(double d) {
  if (d >= kTwoPi) return kTwoPi;
  if (d < 0) {
    d = d - kTwoPi * std::floor(d / kTwoPi);
    if (d >= kTwoPi) d = 0;
  }
  return d;
}
}  // namespace

Path Path::rect(const Rect& r) {
  Path p;
  p.addRect(r);
  return p;
}

Path Path::roundedRect(const Rect& r, double radius) {
  Path p;
  p.addRoundedRect(r, radius);
  return p;
}

Path Path::ellipse(const Rect& r) {
  Path p;
  p.addEllipse(r);
  return p;
}

void Path::moveTo(Point p) {
  elements_.push_back({Op::Move, {p, {}, {}}});
  current_ = subpathStart_ = p;
  hasCurrent_ = true;
}

void Path::lineTo(Point p) {
  if (!hasCurrent_) return moveTo(p);
  elements_.push_back({Op::Line, {p, {}, {}}});
  current_ = p;
}

void Path::quadCurveTo(Point c, Point end) {
  if (!hasCurrent_) moveTo(c);
  elements_.push_back({Op::Quad, {c, end, {}}});
  current_ = end;
}

void Path::curveTo(Point c1, Point c2, Point end) {
  if (!hasCurrent_) moveTo(c1);
  elements_.push_back({Op::Cubic, {c1, c2, end}});
  current_ = end;
}

void Path::close() {
  if (!hasCurrent_) return;
  elements_.push_back({Op::Close, {}});
  current_ = subpathStart_;
}

void Path::arcSweep(Point c, double r, double a0, double a1) {
  Point start{c.x + r * std::cos(a0), c.y + r * std::sin(a0)};
  if (hasCurrent_)
    lineTo(start);
  else
    moveTo(start);
  double sweep = a1 - a0;
  if (sweep == 0 || r == 0) return;
  int n = std::max(1, static_cast<int>(std::ceil(std::fabs(sweep) / (M_PI / 2) - 1e-9)));
  double step = sweep / n;
  double k = 4.0 / 3.0 * std::tan(step / 4);
  double a = a0;
  for (int i = 0; i < n; ++i) {
    double b = a + step;
    double ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b);
    Point p1{c.x + r * (ca - k * sa), c.y + r * (sa + k * ca)};
    Point p2{c.x + r * (cb + k * sb), c.y + r * (sb - k * cb)};
    Point p3{c.x + r * cb, c.y + r * sb};
    curveTo(p1, p2, p3);
    a = b;
  }
}

void Path::addArc(Point center, double radius, double startAngle, double endAngle, bool clockwiseFlag) {
  if (!clockwiseFlag) {
    arcSweep(center, radius, startAngle, startAngle + positiveSweep(endAngle - startAngle));
  } else {
    arcSweep(center, radius, startAngle, startAngle - positiveSweep(startAngle - endAngle));
  }
}

void Path::addBezierArc(Point center, double radius, double startAngle, double endAngle, bool clockwise) {
  addArc(center, radius, startAngle, endAngle, !clockwise);
}

void Path::addArcToPoint(Point p1, Point p2, double radius) {
  if (!hasCurrent_) moveTo(p1);
  Point p0 = current_;
  double ux = p0.x - p1.x, uy = p0.y - p1.y, vx = p2.x - p1.x, vy = p2.y - p1.y;
  double lu = std::hypot(ux, uy), lv = std::hypot(vx, vy);
  if (radius <= 0 || lu == 0 || lv == 0) return lineTo(p1);
  ux /= lu, uy /= lu, vx /= lv, vy /= lv;
  double cross = ux * vy - uy * vx;
  if (std::fabs(cross) < 1e-12) return lineTo(p1);  // collinear
  double cosTheta = std::clamp(ux * vx + uy * vy, -1.0, 1.0);
  double theta = std::acos(cosTheta);
  double t = radius / std::tan(theta / 2);
  Point t1{p1.x + ux * t, p1.y + uy * t};
  Point t2{p1.x + vx * t, p1.y + vy * t};
  double bx = ux + vx, by = uy + vy, lb = std::hypot(bx, by);
  double dist = radius / std::sin(theta / 2);
  Point c{p1.x + bx / lb * dist, p1.y + by / lb * dist};
  double a0 = std::atan2(t1.y - c.y, t1.x - c.x);
  double a1 = std::atan2(t2.y - c.y, t2.x - c.x);
  double sweep = a1 - a0;
  while (sweep > M_PI) sweep -= kTwoPi;
  while (sweep < -M_PI) sweep += kTwoPi;
  lineTo(t1);
  arcSweep(c, radius, a0, a0 + sweep);
}

void Path::addRect(const Rect& r) {
  Rect s = r.standardized();
  moveTo({s.minX(), s.minY()});
  lineTo({s.maxX(), s.minY()});
  lineTo({s.maxX(), s.maxY()});
  lineTo({s.minX(), s.maxY()});
  close();
}

void Path::addRoundedRect(const Rect& r, double radius) {
  Rect s = r.standardized();
  double rad = std::clamp(radius, 0.0, std::min(s.width(), s.height()) / 2);
  if (rad <= 0) return addRect(s);
  double x0 = s.minX(), y0 = s.minY(), x1 = s.maxX(), y1 = s.maxY();
  moveTo({x0 + rad, y0});
  lineTo({x1 - rad, y0});
  arcSweep({x1 - rad, y0 + rad}, rad, -M_PI / 2, 0);
  lineTo({x1, y1 - rad});
  arcSweep({x1 - rad, y1 - rad}, rad, 0, M_PI / 2);
  lineTo({x0 + rad, y1});
  arcSweep({x0 + rad, y1 - rad}, rad, M_PI / 2, M_PI);
  lineTo({x0, y0 + rad});
  arcSweep({x0 + rad, y0 + rad}, rad, M_PI, 3 * M_PI / 2);
  close();
}

void Path::addEllipse(const Rect& r) {
  Rect s = r.standardized();
  double cx = s.midX(), cy = s.midY(), rx = s.width() / 2, ry = s.height() / 2;
  double kx = rx * kKappa, ky = ry * kKappa;
  moveTo({cx + rx, cy});
  curveTo({cx + rx, cy + ky}, {cx + kx, cy + ry}, {cx, cy + ry});
  curveTo({cx - kx, cy + ry}, {cx - rx, cy + ky}, {cx - rx, cy});
  curveTo({cx - rx, cy - ky}, {cx - kx, cy - ry}, {cx, cy - ry});
  curveTo({cx + kx, cy - ry}, {cx + rx, cy - ky}, {cx + rx, cy});
  close();
}

void Path::addPath(const Path& other) {
  for (const auto& e : other.elements_) {
    switch (e.op) {
      case Op::Move: moveTo(e.p[0]); break;
      case Op::Line: lineTo(e.p[0]); break;
      case Op::Quad: quadCurveTo(e.p[0], e.p[1]); break;
      case Op::Cubic: curveTo(e.p[0], e.p[1], e.p[2]); break;
      case Op::Close: close(); break;
    }
  }
}

void Path::addLines(const std::vector<Point>& points) {
  if (points.empty()) return;
  moveTo(points[0]);
  for (std::size_t i = 1; i < points.size(); ++i) lineTo(points[i]);
  close();
}

Rect Path::bounds() const {
  Rect r = Rect::null();
  auto add = [&](Point p) { r = r.unionWith(Rect(p.x, p.y, 0, 0)); };
  for (const auto& e : elements_) {
    switch (e.op) {
      case Op::Move:
      case Op::Line: add(e.p[0]); break;
      case Op::Quad: add(e.p[0]), add(e.p[1]); break;
      case Op::Cubic: add(e.p[0]), add(e.p[1]), add(e.p[2]); break;
      case Op::Close: break;
    }
  }
  return r;
}

Path Path::transformed(const AffineTransform& t) const {
  Path out;
  for (const auto& e : elements_) {
    switch (e.op) {
      case Op::Move: out.moveTo(t.apply(e.p[0])); break;
      case Op::Line: out.lineTo(t.apply(e.p[0])); break;
      case Op::Quad: out.quadCurveTo(t.apply(e.p[0]), t.apply(e.p[1])); break;
      case Op::Cubic: out.curveTo(t.apply(e.p[0]), t.apply(e.p[1]), t.apply(e.p[2])); break;
      case Op::Close: out.close(); break;
    }
  }
  return out;
}

void Path::replay(cairo_t* cr) const {
  Point cur;
  for (const auto& e : elements_) {
    switch (e.op) {
      case Op::Move:
        cairo_move_to(cr, e.p[0].x, e.p[0].y);
        cur = e.p[0];
        break;
      case Op::Line:
        cairo_line_to(cr, e.p[0].x, e.p[0].y);
        cur = e.p[0];
        break;
      case Op::Quad: {
        // Raise to a cubic.
        Point c1{cur.x + 2.0 / 3.0 * (e.p[0].x - cur.x), cur.y + 2.0 / 3.0 * (e.p[0].y - cur.y)};
        Point c2{e.p[1].x + 2.0 / 3.0 * (e.p[0].x - e.p[1].x), e.p[1].y + 2.0 / 3.0 * (e.p[0].y - e.p[1].y)};
        cairo_curve_to(cr, c1.x, c1.y, c2.x, c2.y, e.p[1].x, e.p[1].y);
        cur = e.p[1];
        break;
      }
      case Op::Cubic:
        cairo_curve_to(cr, e.p[0].x, e.p[0].y, e.p[1].x, e.p[1].y, e.p[2].x, e.p[2].y);
        cur = e.p[2];
        break;
      case Op::Close: {
        cairo_close_path(cr);
        double x, y;
        cairo_get_current_point(cr, &x, &y);
        cur = {x, y};
        break;
      }
    }
  }
}

std::vector<Path::Segment> Path::segments() const {
  std::vector<Segment> out;
  Point cur, start;
  bool have = false;
  for (const auto& e : elements_) {
    switch (e.op) {
      case Op::Move:
        cur = start = e.p[0];
        have = true;
        break;
      case Op::Line:
        out.push_back({Op::Line, cur, cur, e.p[0], e.p[0]});
        cur = e.p[0];
        break;
      case Op::Quad:
        out.push_back({Op::Quad, cur, e.p[0], e.p[0], e.p[1]});
        cur = e.p[1];
        break;
      case Op::Cubic:
        out.push_back({Op::Cubic, cur, e.p[0], e.p[1], e.p[2]});
        cur = e.p[2];
        break;
      case Op::Close:
        if (have && !(cur == start)) out.push_back({Op::Line, cur, cur, start, start});
        cur = start;
        break;
    }
  }
  return out;
}

Point Path::Segment::at(double t) const {
  double u = 1 - t;
  switch (op) {
    case Op::Quad:
      return {u * u * p0.x + 2 * u * t * c1.x + t * t * p1.x, u * u * p0.y + 2 * u * t * c1.y + t * t * p1.y};
    case Op::Cubic:
      return {u * u * u * p0.x + 3 * u * u * t * c1.x + 3 * u * t * t * c2.x + t * t * t * p1.x,
              u * u * u * p0.y + 3 * u * u * t * c1.y + 3 * u * t * t * c2.y + t * t * t * p1.y};
    default:
      return {p0.x + (p1.x - p0.x) * t, p0.y + (p1.y - p0.y) * t};
  }
}

Point Path::Segment::tangent(double t) const {
  double u = 1 - t;
  switch (op) {
    case Op::Quad:
      return {2 * u * (c1.x - p0.x) + 2 * t * (p1.x - c1.x), 2 * u * (c1.y - p0.y) + 2 * t * (p1.y - c1.y)};
    case Op::Cubic:
      return {3 * u * u * (c1.x - p0.x) + 6 * u * t * (c2.x - c1.x) + 3 * t * t * (p1.x - c2.x),
              3 * u * u * (c1.y - p0.y) + 6 * u * t * (c2.y - c1.y) + 3 * t * t * (p1.y - c2.y)};
    default:
      return {p1.x - p0.x, p1.y - p0.y};
  }
}

double Path::Segment::length() const {
  if (op == Op::Line) return std::hypot(p1.x - p0.x, p1.y - p0.y);
  double len = 0;
  Point prev = p0;
  for (int i = 1; i <= 32; ++i) {
    Point q = at(i / 32.0);
    len += std::hypot(q.x - prev.x, q.y - prev.y);
    prev = q;
  }
  return len;
}

bool Path::operator==(const Path& o) const {
  if (elements_.size() != o.elements_.size()) return false;
  for (std::size_t i = 0; i < elements_.size(); ++i) {
    const auto &a = elements_[i], &b = o.elements_[i];
    if (a.op != b.op || !(a.p[0] == b.p[0]) || !(a.p[1] == b.p[1]) || !(a.p[2] == b.p[2])) return false;
  }
  return true;
}

}  // namespace pf
