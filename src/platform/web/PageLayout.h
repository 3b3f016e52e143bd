#pragma once
// The block layout of a page: block elements stacked at the view's width with their margins and
// padding, the inline content of each block (text and inline elements) wrapped as one paragraph
// with pango, colours, sizes and weights from the inline style subset. The result is a list of
// boxes in painting order that draws itself and answers which element lies under a point.

#include <memory>
#include <vector>

#include "platform/ui/Color.h"
#include "platform/ui/Font.h"
#include "platform/ui/Geometry.h"

namespace pf {
class GraphicsContext;
}

namespace pf::web {

class Document;
struct Node;

class PageLayout {
 public:
  PageLayout();
  ~PageLayout();
  PageLayout(PageLayout&&) noexcept;
  PageLayout& operator=(PageLayout&&) noexcept;

  // Lays the body out at `width` points.
  void build(const Document& doc, double width);
  double height() const { return height_; }
  // Draws the page's background over `dirty` and the boxes that meet it (content coordinates).
  void paint(GraphicsContext& ctx, const Rect& dirty) const;
  // The innermost element under the point (an inline element inside a paragraph included), or null.
  const Node* elementAt(Point p) const;
  // The frame of an element's box (the first one it made), or an empty rectangle.
  Rect frameOf(const Node* node) const;

  struct Box;

 private:
  std::vector<Box> boxes_;
  OptColor canvas_;  // the page's background
  double height_ = 0;
};

}  // namespace pf::web
