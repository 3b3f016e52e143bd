#pragma once
// Points, sizes, rectangles, edge insets, affine and 3-D transforms, in points (doubles).
// Rectangles follow the platform's rules: a rectangle with a negative size is standardised
// before it is measured, the null rectangle is what an empty intersection gives.

#include <array>
#include <cmath>
#include <optional>
#include <string>

namespace pf {

struct Point {
  double x = 0;
  double y = 0;
  constexpr Point() = default;
  constexpr Point(double px, double py) : x(px), y(py) {}
  bool operator==(const Point&) const = default;
};

struct Size {
  double width = 0;
  double height = 0;
  constexpr Size() = default;
  constexpr Size(double w, double h) : width(w), height(h) {}
  bool operator==(const Size&) const = default;
};

struct Rect {
  Point origin;
  Size size;

  Rect() = default;
  Rect(double x, double y, double w, double h) : origin{x, y}, size{w, h} {}
  Rect(Point o, Size s) : origin(o), size(s) {}

  static Rect null();  // the platform's null rectangle (infinite origin, zero size)
  bool isNull() const;
  bool isEmpty() const;  // null, or zero width or height

  double x() const { return origin.x; }
  double y() const { return origin.y; }
  double width() const { return size.width; }
  double height() const { return size.height; }
  double minX() const;
  double minY() const;
  double maxX() const;
  double maxY() const;
  double midX() const;
  double midY() const;
  Point center() const { return {midX(), midY()}; }

  Rect standardized() const;
  Rect insetBy(double dx, double dy) const;
  Rect offsetBy(double dx, double dy) const;
  Rect integral() const;
  Rect unionWith(const Rect& other) const;
  Rect intersection(const Rect& other) const;
  bool intersects(const Rect& other) const;
  bool contains(Point p) const;
  bool contains(const Rect& other) const;

  bool operator==(const Rect&) const = default;
};

struct EdgeInsets {
  double top = 0;
  double left = 0;
  double bottom = 0;
  double right = 0;
  constexpr EdgeInsets() = default;
  constexpr EdgeInsets(double t, double l, double b, double r) : top(t), left(l), bottom(b), right(r) {}
  bool operator==(const EdgeInsets&) const = default;
};

// The rectangle less the insets.
Rect insetRect(const Rect& r, const EdgeInsets& insets);

// Rounds halves away from zero, as the C library's round() does.
inline double roundHalfAway(double v) { return std::round(v); }
// The same in single precision (the design's "rounded in single precision").
inline double roundHalfAwayF(double v) { return static_cast<double>(std::roundf(static_cast<float>(v))); }

// The platform's text forms "{x, y}", "{w, h}" and "{{x, y}, {w, h}}" and their parsers
// (a text that does not parse gives zeros, as on the platform).
std::string toString(Point p);
std::string toString(Size s);
std::string toString(const Rect& r);
Point pointFromString(const std::string& text);
Size sizeFromString(const std::string& text);
Rect rectFromString(const std::string& text);

// 2-D affine transform, row-vector convention: x' = a x + c y + tx, y' = b x + d y + ty.
struct AffineTransform {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

  static AffineTransform identity() { return {}; }
  static AffineTransform translation(double tx, double ty) { return {1, 0, 0, 1, tx, ty}; }
  static AffineTransform scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
  static AffineTransform rotation(double angle);

  bool isIdentity() const { return *this == AffineTransform{}; }
  // this, then other (the platform's concat(this, other)).
  AffineTransform concat(const AffineTransform& other) const;
  AffineTransform translated(double x, double y) const;  // translation applied first
  AffineTransform scaled(double sx, double sy) const;     // scale applied first
  AffineTransform rotated(double angle) const;            // rotation applied first
  std::optional<AffineTransform> inverted() const;
  Point apply(Point p) const;
  Size apply(Size s) const;  // ignores translation
  Rect apply(const Rect& r) const;  // bounding box of the transformed corners

  bool operator==(const AffineTransform&) const = default;
};

// 4x4 transform in the layer convention (row vectors; m41, m42, m43 hold the translation).
struct Transform3D {
  double m11 = 1, m12 = 0, m13 = 0, m14 = 0;
  double m21 = 0, m22 = 1, m23 = 0, m24 = 0;
  double m31 = 0, m32 = 0, m33 = 1, m34 = 0;
  double m41 = 0, m42 = 0, m43 = 0, m44 = 1;

  static Transform3D identity() { return {}; }
  static Transform3D translation(double tx, double ty, double tz);
  static Transform3D scale(double sx, double sy, double sz);
  static Transform3D rotation(double angle, double x, double y, double z);
  static Transform3D fromAffine(const AffineTransform& t);

  bool isIdentity() const { return *this == Transform3D{}; }
  bool isAffine() const;
  AffineTransform affine() const;  // the 2-D part
  Transform3D concat(const Transform3D& other) const;  // this, then other

  // Decomposition into translation, scale and a rotation about z (the transforms that views and
  // the animations here build). Recomposition: scale, then rotate, then translate.
  struct Parts {
    double tx = 0, ty = 0, tz = 0;
    double sx = 1, sy = 1, sz = 1;
    double rotation = 0;
  };
  Parts decompose() const;
  static Transform3D compose(const Parts& parts);

  bool operator==(const Transform3D&) const = default;
};

}  // namespace pf
