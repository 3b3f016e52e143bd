#include "platform/ui/Geometry.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace pf {

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
}

Rect Rect::null() { return Rect(kInf, kInf, 0, 0); }
bool Rect::isNull() const { return std::isinf(origin.x) || std::isinf(origin.y); }
bool Rect::isEmpty() const { return isNull() || size.width == 0 || size.height == 0; }

double Rect::minX() const { return size.width < 0 ? origin.x + size.width : origin.x; }
double Rect::minY() const { return size.height < 0 ? origin.y + size.height : origin.y; }
double Rect::maxX() const { return size.width < 0 ? origin.x : origin.x + size.width; }
double Rect::maxY() const { return size.height < 0 ? origin.y : origin.y + size.height; }
double Rect::midX() const { return origin.x + size.width / 2; }
double Rect::midY() const { return origin.y + size.height / 2; }

Rect Rect::standardized() const {
  if (isNull()) return *this;
  return Rect(minX(), minY(), std::fabs(size.width), std::fabs(size.height));
}

Rect Rect::insetBy(double dx, double dy) const {
  if (isNull()) return *this;
  Rect r = standardized();
  r.origin.x += dx;
  r.origin.y += dy;
  r.size.width -= 2 * dx;
  r.size.height -= 2 * dy;
  if (r.size.width < 0 || r.size.height < 0) return null();
  return r;
}

Rect Rect::offsetBy(double dx, double dy) const {
  if (isNull()) return *this;
  return Rect(origin.x + dx, origin.y + dy, size.width, size.height);
}

Rect Rect::integral() const {
  if (isNull()) return *this;
  Rect r = standardized();
  double x0 = std::floor(r.minX()), y0 = std::floor(r.minY());
  double x1 = std::ceil(r.maxX()), y1 = std::ceil(r.maxY());
  return Rect(x0, y0, x1 - x0, y1 - y0);
}

Rect Rect::unionWith(const Rect& other) const {
  if (isNull()) return other;
  if (other.isNull()) return *this;
  double x0 = std::min(minX(), other.minX()), y0 = std::min(minY(), other.minY());
  double x1 = std::max(maxX(), other.maxX()), y1 = std::max(maxY(), other.maxY());
  return Rect(x0, y0, x1 - x0, y1 - y0);
}

Rect Rect::intersection(const Rect& other) const {
  if (isNull() || other.isNull()) return null();
  double x0 = std::max(minX(), other.minX()), y0 = std::max(minY(), other.minY());
  double x1 = std::min(maxX(), other.maxX()), y1 = std::min(maxY(), other.maxY());
  if (x1 < x0 || y1 < y0) return null();
  return Rect(x0, y0, x1 - x0, y1 - y0);
}

bool Rect::intersects(const Rect& other) const {
  // Rectangles that only touch do not intersect.
  Rect r = intersection(other);
  return !r.isNull() && r.size.width > 0 && r.size.height > 0;
}

bool Rect::contains(Point p) const {
  if (isNull()) return false;
  return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
}

bool Rect::contains(const Rect& other) const {
  if (isNull() || other.isNull()) return false;
  return other.minX() >= minX() && other.maxX() <= maxX() && other.minY() >= minY() &&
         other.maxY() <= maxY();
}

Rect insetRect(const Rect& r, const EdgeInsets& in) {
  return Rect(r.origin.x + in.left, r.origin.y + in.top, r.size.width - in.left - in.right,
              r.size.height - in.top - in.bottom);
}

namespace {
std::string num(double v) {
  // The platform prints with %g-like shortest form ("10", "10.5").
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  std::string s = buf;
  // Prefer the shortest text that reads back to the same value.
  for (int p = 1; p <= 17; ++p) {
    std::snprintf(buf, sizeof buf, "%.*g", p, v);
    if (std::strtod(buf, nullptr) == v) return buf;
  }
  return s;
}

// Reads the numbers of a text such as "{{1, 2}, {3, 4}}" in order; missing ones are 0.
template <std::size_t N>
std::array<double, N> numbers(const std::string& text) {
  std::array<double, N> out{};
  std::size_t i = 0, k = 0;
  while (i < text.size() && k < N) {
    char ch = text[i];
    if ((ch >= '0' && ch <= '9') || ch == '-' || ch == '+' || ch == '.') {
      char* end = nullptr;
      double v = std::strtod(text.c_str() + i, &end);
      std::size_t used = static_cast<std::size_t>(end - (text.c_str() + i));
      if (used == 0) {
        ++i;
        continue;
      }
      out[k++] = v;
      i += used;
    } else {
      ++i;
    }
  }
  return out;
}
}  // namespace

std::string toString(Point p) { return "{" + num(p.x) + ", " + num(p.y) + "}"; }
std::string toString(Size s) { return "{" + num(s.width) + ", " + num(s.height) + "}"; }
std::string toString(const Rect& r) { return "{" + toString(r.origin) + ", " + toString(r.size) + "}"; }

Point pointFromString(const std::string& text) {
  auto n = numbers<2>(text);
  return {n[0], n[1]};
}
Size sizeFromString(const std::string& text) {
  auto n = numbers<2>(text);
  return {n[0], n[1]};
}
Rect rectFromString(const std::string& text) {
  auto n = numbers<4>(text);
  return Rect(n[0], n[1], n[2], n[3]);
}

// ---- AffineTransform ----

AffineTransform AffineTransform::rotation(double angle) {
  double c = std::cos(angle), s = std::sin(angle);
  return {c, s, -s, c, 0, 0};
}

AffineTransform AffineTransform::concat(const AffineTransform& o) const {
  return {a * o.a + b * o.c,          a * o.b + b * o.d,          c * o.a + d * o.c,
          c * o.b + d * o.d,          tx * o.a + ty * o.c + o.tx, tx * o.b + ty * o.d + o.ty};
}

AffineTransform AffineTransform::translated(double x, double y) const {
  return translation(x, y).concat(*this);
}
AffineTransform AffineTransform::scaled(double sx, double sy) const { return scale(sx, sy).concat(*this); }
AffineTransform AffineTransform::rotated(double angle) const { return rotation(angle).concat(*this); }

std::optional<AffineTransform> AffineTransform::inverted() const {
  double det = a * d - b * c;
  if (det == 0 || !std::isfinite(det)) return std::nullopt;
  AffineTransform r;
  r.a = d / det;
  r.b = -b / det;
  r.c = -c / det;
  r.d = a / det;
  r.tx = -(tx * r.a + ty * r.c);
  r.ty = -(tx * r.b + ty * r.d);
  return r;
}

Point AffineTransform::apply(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
Size AffineTransform::apply(Size s) const { return {a * s.width + c * s.height, b * s.width + d * s.height}; }

Rect AffineTransform::apply(const Rect& r) const {
  if (r.isNull()) return r;
  Point p[4] = {apply(Point{r.minX(), r.minY()}), apply(Point{r.maxX(), r.minY()}),
                apply(Point{r.minX(), r.maxY()}), apply(Point{r.maxX(), r.maxY()})};
  double x0 = p[0].x, x1 = p[0].x, y0 = p[0].y, y1 = p[0].y;
  for (auto& q : p) {
    x0 = std::min(x0, q.x);
    x1 = std::max(x1, q.x);
    y0 = std::min(y0, q.y);
    y1 = std::max(y1, q.y);
  }
  return Rect(x0, y0, x1 - x0, y1 - y0);
}

// ---- Transform3D ----

Transform3D Transform3D::translation(double tx, double ty, double tz) {
  Transform3D t;
  t.m41 = tx;
  t.m42 = ty;
  t.m43 = tz;
  return t;
}

Transform3D Transform3D::scale(double sx, double sy, double sz) {
  Transform3D t;
  t.m11 = sx;
  t.m22 = sy;
  t.m33 = sz;
  return t;
}

Transform3D Transform3D::rotation(double angle, double x, double y, double z) {
  double len = std::sqrt(x * x + y * y + z * z);
  if (len == 0) return identity();
  x /= len;
  y /= len;
  z /= len;
  double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
  Transform3D r;
  r.m11 = t * x * x + c;
  r.m12 = t * x * y + s * z;
  r.m13 = t * x * z - s * y;
  r.m21 = t * x * y - s * z;
  r.m22 = t * y * y + c;
  r.m23 = t * y * z + s * x;
  r.m31 = t * x * z + s * y;
  r.m32 = t * y * z - s * x;
  r.m33 = t * z * z + c;
  return r;
}

Transform3D Transform3D::fromAffine(const AffineTransform& a) {
  Transform3D t;
  t.m11 = a.a;
  t.m12 = a.b;
  t.m21 = a.c;
  t.m22 = a.d;
  t.m41 = a.tx;
  t.m42 = a.ty;
  return t;
}

bool Transform3D::isAffine() const {
  return m13 == 0 && m14 == 0 && m23 == 0 && m24 == 0 && m31 == 0 && m32 == 0 && m33 == 1 &&
         m34 == 0 && m43 == 0 && m44 == 1;
}

AffineTransform Transform3D::affine() const { return {m11, m12, m21, m22, m41, m42}; }

Transform3D Transform3D::concat(const Transform3D& o) const {
  const double A[4][4] = {{m11, m12, m13, m14}, {m21, m22, m23, m24}, {m31, m32, m33, m34}, {m41, m42, m43, m44}};
  const double B[4][4] = {{o.m11, o.m12, o.m13, o.m14},
                          {o.m21, o.m22, o.m23, o.m24},
                          {o.m31, o.m32, o.m33, o.m34},
                          {o.m41, o.m42, o.m43, o.m44}};
  double R[4][4];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      double s = 0;
      for (int k = 0; k < 4; ++k) s += A[i][k] * B[k][j];
      R[i][j] = s;
    }
  Transform3D r;
  r.m11 = R[0][0], r.m12 = R[0][1], r.m13 = R[0][2], r.m14 = R[0][3];
  r.m21 = R[1][0], r.m22 = R[1][1], r.m23 = R[1][2], r.m24 = R[1][3];
  r.m31 = R[2][0], r.m32 = R[2][1], r.m33 = R[2][2], r.m34 = R[2][3];
  r.m41 = R[3][0], r.m42 = R[3][1], r.m43 = R[3][2], r.m44 = R[3][3];
  return r;
}

Transform3D::Parts Transform3D::decompose() const {
  Parts p;
  p.tx = m41;
  p.ty = m42;
  p.tz = m43;
  p.sx = std::sqrt(m11 * m11 + m12 * m12);
  p.rotation = std::atan2(m12, m11);
  // The y axis keeps its handedness: a mirrored transform shows as a negative y scale.
  double det = m11 * m22 - m12 * m21;
  p.sy = p.sx == 0 ? std::sqrt(m21 * m21 + m22 * m22) : det / p.sx;
  p.sz = m33;
  return p;
}

Transform3D Transform3D::compose(const Parts& p) {
  Transform3D t = scale(p.sx, p.sy, p.sz).concat(rotation(p.rotation, 0, 0, 1));
  t.m41 = p.tx;
  t.m42 = p.ty;
  t.m43 = p.tz;
  return t;
}

}  // namespace pf
