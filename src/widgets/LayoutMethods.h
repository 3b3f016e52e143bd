#pragma once
// Frame arithmetic on any view: reading and setting the parts of a frame, and placing a view
// next to, inside or level with another (positions of the other view are converted through the
// top of this view's hierarchy).

#include "platform/ui/View.h"

namespace widgets::LayoutMethods {

using pf::View;

double x(const View& v);
double y(const View& v);
double width(const View& v);
double height(const View& v);
pf::Point origin(const View& v);
pf::Size size(const View& v);
double centerX(const View& v);
double centerY(const View& v);
double bottom(const View& v);  // y + height
double right(const View& v);   // x + width

void setX(View& v, double x);
void setY(View& v, double y);
void setWidth(View& v, double width);
void setHeight(View& v, double height);
void setSize(View& v, pf::Size size);
void setCenterX(View& v, double x);
void setCenterY(View& v, double y);

void widthEqualToView(View& v, const View& other);
void heightEqualToView(View& v, const View& other);
void sizeEqualToView(View& v, const View& other);
void centerXEqualToView(View& v, const View& other);
void centerYEqualToView(View& v, const View& other);
void topEqualToView(View& v, const View& other);
void leftEqualToView(View& v, const View& other);
void bottomEqualToView(View& v, const View& other);
void rightEqualToView(View& v, const View& other);

// Below, above, left of and right of the other view, distance apart.
void topFromView(View& v, double distance, const View& other);
void bottomFromView(View& v, double distance, const View& other);
void leftFromView(View& v, double distance, const View& other);
void rightFromView(View& v, double distance, const View& other);

// Distances from the superview's edges; with shouldResize the opposite edge stays where it is.
void topInContainer(View& v, double top, bool shouldResize);
void bottomInContainer(View& v, double bottom, bool shouldResize);
void leftInContainer(View& v, double left, bool shouldResize);
void rightInContainer(View& v, double right, bool shouldResize);

void fillWidth(View& v);
void fillHeight(View& v);
void fill(View& v);

// The outermost ancestor (the view itself without a superview).
View& topSuperView(View& v);
const View& topSuperView(const View& v);

}  // namespace widgets::LayoutMethods
