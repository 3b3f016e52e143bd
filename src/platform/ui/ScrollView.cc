#include "platform/ui/ScrollView.h"

#include <algorithm>

namespace pf {

ScrollView::ScrollView(const Rect& frame) : View(frame) { setClipsToBounds(true); }

void ScrollView::setBounds(const Rect& b) {
  Point old = bounds().origin;
  View::setBounds(b);
  if (old == b.origin) return;
  // Scrolling lays the content out again (views that show and hide their content by the offset).
  setNeedsLayout();
  if (auto d = delegate.lock()) d->scrollViewDidScroll(*this);
}

void ScrollView::setContentOffset(Point offset, bool) {
  Rect b = bounds();
  if (offset == b.origin) return;
  setBounds(Rect(offset, b.size));
}

void ScrollView::dragBy(double dx, double dy) {
  if (!scrollEnabled) return;
  auto keep = shared_from_this();
  if (auto d = delegate.lock()) d->scrollViewWillBeginDragging(*this);
  Point o = contentOffset();
  Point target{o.x + dx, o.y + dy};
  if (!bounces) {
    double maxX = std::max(-contentInset.left, contentSize_.width + contentInset.right - bounds().width());
    double maxY = std::max(-contentInset.top, contentSize_.height + contentInset.bottom - bounds().height());
    target.x = std::clamp(target.x, -contentInset.left, maxX);
    target.y = std::clamp(target.y, -contentInset.top, maxY);
  }
  setContentOffset(target);
  if (auto d = delegate.lock()) d->scrollViewDidEndDragging(*this, false);
}

void ScrollView::beginTouchDrag() {
  if (auto d = delegate.lock()) d->scrollViewWillBeginDragging(*this);
}

void ScrollView::touchDragBy(double dx, double dy) {
  Point o = contentOffset();
  double maxX = std::max(-contentInset.left, contentSize_.width + contentInset.right - bounds().width());
  double maxY = std::max(-contentInset.top, contentSize_.height + contentInset.bottom - bounds().height());
  setContentOffset({std::clamp(o.x - dx, -contentInset.left, maxX), std::clamp(o.y - dy, -contentInset.top, maxY)});
}

void ScrollView::endTouchDrag() {
  if (auto d = delegate.lock()) d->scrollViewDidEndDragging(*this, false);
}

}  // namespace pf
