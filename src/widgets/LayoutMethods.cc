#include "widgets/LayoutMethods.h"

namespace widgets::LayoutMethods {

using pf::Point;
using pf::Rect;
using pf::Size;

double x(const View& v) { return v.frame().x(); }
double y(const View& v) { return v.frame().y(); }
double width(const View& v) { return v.frame().width(); }
double height(const View& v) { return v.frame().height(); }
Point origin(const View& v) { return v.frame().origin; }
Size size(const View& v) { return v.frame().size; }
double centerX(const View& v) { return v.center().x; }
double centerY(const View& v) { return v.center().y; }
double bottom(const View& v) { return y(v) + height(v); }
double right(const View& v) { return x(v) + width(v); }

void setX(View& v, double nx) {
  Rect f = v.frame();
  v.setFrame(Rect(nx, f.y(), f.width(), f.height()));
}
void setY(View& v, double ny) {
  Rect f = v.frame();
  v.setFrame(Rect(f.x(), ny, f.width(), f.height()));
}
void setWidth(View& v, double w) {
  Rect f = v.frame();
  v.setFrame(Rect(f.x(), f.y(), w, f.height()));
}
void setHeight(View& v, double h) {
  Rect f = v.frame();
  v.setFrame(Rect(f.x(), f.y(), f.width(), h));
}
void setSize(View& v, Size s) {
  Rect f = v.frame();
  v.setFrame(Rect(f.origin, s));
}
void setCenterX(View& v, double cx) { v.setCenter({cx, v.center().y}); }
void setCenterY(View& v, double cy) { v.setCenter({v.center().x, cy}); }

View& topSuperView(View& v) {
  View* top = &v;
  while (top->superviewRaw()) top = top->superviewRaw();
  return *top;
}
const View& topSuperView(const View& v) { return topSuperView(const_cast<View&>(v)); }

namespace {
// A point of the other view (in its superview's space, or its own without one), carried into the
// space of v's superview through the top of v's hierarchy.
Point converted(const View& v, const View& other, Point p) {
  const View* container = other.superviewRaw() ? other.superviewRaw() : &other;
  const View& top = topSuperView(v);
  Point inTop = container->convertPoint(p, &top);
  return top.convertPoint(inTop, v.superviewRaw());
}
}  // namespace

void widthEqualToView(View& v, const View& other) { setWidth(v, width(other)); }
void heightEqualToView(View& v, const View& other) { setHeight(v, height(other)); }
void sizeEqualToView(View& v, const View& other) { setSize(v, size(other)); }
void centerXEqualToView(View& v, const View& other) { setCenterX(v, converted(v, other, other.center()).x); }
void centerYEqualToView(View& v, const View& other) { setCenterY(v, converted(v, other, other.center()).y); }
void topEqualToView(View& v, const View& other) { setY(v, converted(v, other, origin(other)).y); }
void leftEqualToView(View& v, const View& other) { setX(v, converted(v, other, origin(other)).x); }
void bottomEqualToView(View& v, const View& other) {
  setY(v, converted(v, other, origin(other)).y + height(other) - height(v));
}
void rightEqualToView(View& v, const View& other) {
  setX(v, converted(v, other, origin(other)).x + width(other) - width(v));
}

void topFromView(View& v, double d, const View& other) {
  setY(v, converted(v, other, origin(other)).y + d + height(other));
}
void bottomFromView(View& v, double d, const View& other) {
  setY(v, converted(v, other, origin(other)).y - d - height(v));
}
void leftFromView(View& v, double d, const View& other) {
  setX(v, converted(v, other, origin(other)).x - d - width(v));
}
void rightFromView(View& v, double d, const View& other) {
  setX(v, converted(v, other, origin(other)).x + d + width(other));
}

namespace {
// The superview's size (zero without one, as a message to nil answers).
Size containerSize(const View& v) { return v.superviewRaw() ? v.superviewRaw()->frame().size : Size{}; }
}  // namespace

void topInContainer(View& v, double top, bool shouldResize) {
  if (shouldResize) setHeight(v, y(v) - top + height(v));
  setY(v, top);
}

void bottomInContainer(View& v, double b, bool shouldResize) {
  double H = containerSize(v).height;
  if (shouldResize)
    setHeight(v, H - b - y(v));
  else
    setY(v, H - height(v) - b);
}

void leftInContainer(View& v, double left, bool shouldResize) {
  // The right edge stays where it is (as topInContainer keeps the bottom edge).
  if (shouldResize) setWidth(v, x(v) - left + width(v));
  setX(v, left);
}

void rightInContainer(View& v, double r, bool shouldResize) {
  double W = containerSize(v).width;
  if (shouldResize)
    setWidth(v, W - r - x(v));
  else
    setX(v, W - width(v) - r);
}

void fillWidth(View& v) { setWidth(v, containerSize(v).width); }
void fillHeight(View& v) { setHeight(v, containerSize(v).height); }
void fill(View& v) {
  Size s = containerSize(v);
  v.setFrame(Rect(0, 0, s.width, s.height));
}

}  // namespace widgets::LayoutMethods
