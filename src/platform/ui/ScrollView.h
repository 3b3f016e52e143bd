#pragma once
// A scroll view: its bounds' origin is the content offset. The delegate hears every real change
// of the offset, synchronously; an offset change marks the view for layout; drags are simulated.

#include <memory>

#include "platform/ui/View.h"

namespace pf {

class ScrollView;

class ScrollViewDelegate {
 public:
  virtual ~ScrollViewDelegate() = default;
  virtual void scrollViewDidScroll(ScrollView& scrollView) {}
  virtual void scrollViewWillBeginDragging(ScrollView& scrollView) {}
  virtual void scrollViewDidEndDragging(ScrollView& scrollView, bool willDecelerate) {}
  virtual void scrollViewDidEndDecelerating(ScrollView& scrollView) {}
};

class ScrollView : public View {
 public:
  explicit ScrollView(const Rect& frame = Rect());
  static std::shared_ptr<ScrollView> make(const Rect& frame = Rect()) { return std::make_shared<ScrollView>(frame); }
  std::string className() const override { return "UIScrollView"; }

  Point contentOffset() const { return bounds().origin; }
  void setContentOffset(Point offset, bool animated = false);
  Size contentSize() const { return contentSize_; }
  void setContentSize(Size size) { contentSize_ = size; }
  EdgeInsets contentInset;
  std::weak_ptr<ScrollViewDelegate> delegate;
  double decelerationRate = 0.998;
  bool showsHorizontalScrollIndicator = true;
  bool showsVerticalScrollIndicator = true;
  bool bounces = true;
  bool alwaysBounceVertical = false;
  bool alwaysBounceHorizontal = false;
  bool scrollEnabled = true;
  bool pagingEnabled = false;

  void setBounds(const Rect& bounds) override;

  // A drag by (dx, dy) of content movement: will-begin, the offset change (kept within the
  // content unless the view bounces), did-end without deceleration.
  void dragBy(double dx, double dy);

  // ---- a finger drag taken over from the window's touch road
  // Whether a touch that started on view (inside this scroll view) may be taken over for
  // scrolling once it moves; a view that tracks moves itself answers false.
  virtual bool touchesShouldCancelInContentView(View& view) { return true; }
  void beginTouchDrag();
  // The finger moved by (dx, dy) since the last step: the content follows it, kept within the content.
  void touchDragBy(double dx, double dy);
  void endTouchDrag();

 private:
  Size contentSize_;
};

}  // namespace pf
