#pragma once
// A recorded path (the platform's path and bezier-path objects): moves, lines, quadratic and
// cubic curves and closes. Arcs are stored as cubic curves. A path replays into a cairo context
// and can be walked segment by segment (keyframe animations along a path).
//
// Arc directions. The drawing context's arc takes a "clockwise" flag with the platform's
// convention: flag 0 sweeps from the start angle towards larger angles, flag 1 towards smaller
// ones. On the y-down screen, larger angles turn clockwise, so flag 0 looks clockwise.
// The bezier-path arc takes "clockwise" in the visual sense: YES sweeps towards larger angles.

#include <vector>

#include "platform/ui/Geometry.h"

typedef struct _cairo cairo_t;

namespace pf {

class Path {
 public:
  enum class Op { Move, Line, Quad, Cubic, Close };
  struct Element {
    Op op;
    Point p[3];  // Move/Line: p[0]; Quad: p[0] control, p[1] end; Cubic: p[0], p[1] controls, p[2] end
  };

  Path() = default;

  static Path rect(const Rect& r);
  static Path roundedRect(const Rect& r, double radius);
  static Path ellipse(const Rect& r);

  void moveTo(Point p);
  void lineTo(Point p);
  void quadCurveTo(Point control, Point end);
  void curveTo(Point c1, Point c2, Point end);
  void close();

  // Drawing-context arc: flag 0 towards larger angles, flag 1 towards smaller ones (see above).
  void addArc(Point center, double radius, double startAngle, double endAngle, bool clockwiseFlag);
  // Bezier-path arc: clockwise (YES) towards larger angles.
  void addBezierArc(Point center, double radius, double startAngle, double endAngle, bool clockwise);
  // Tangent arc from the current point through the corner p1 towards p2.
  void addArcToPoint(Point p1, Point p2, double radius);
  void addRect(const Rect& r);
  void addRoundedRect(const Rect& r, double radius);
  void addEllipse(const Rect& r);
  void addPath(const Path& other);
  // A polygon through the points, closed.
  void addLines(const std::vector<Point>& points);

  bool isEmpty() const { return elements_.empty(); }
  const std::vector<Element>& elements() const { return elements_; }
  bool hasCurrentPoint() const { return hasCurrent_; }
  Point currentPoint() const { return current_; }
  Rect bounds() const;  // bounding box of every point, control points included; null when empty

  Path transformed(const AffineTransform& t) const;

  // Appends the path to cairo's current path.
  void replay(cairo_t* cr) const;

  // Segments after the first move, for walking along the path.
  struct Segment {
    Op op;  // Line, Quad or Cubic (a close becomes a line)
    Point p0, c1, c2, p1;
    Point at(double t) const;
    Point tangent(double t) const;
    double length() const;
  };
  std::vector<Segment> segments() const;

  bool operator==(const Path&) const;

 private:
  void arcSweep(Point center, double radius, double a0, double a1);
  std::vector<Element> elements_;
  Point current_;
  Point subpathStart_;
  bool hasCurrent_ = false;
};

}  // namespace pf
