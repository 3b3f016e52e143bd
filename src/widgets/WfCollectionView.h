#pragma once
// A waterfall of cells: a vertically scrolling view that places cells of different heights in
// equal-width columns, each new cell under the shortest column. Only the cells meeting the
// visible part stay subviews; the others wait in a reuse pool. A data source gives the count, the
// cells and their heights; a delegate hears taps on cells. Optional header, footer, empty and
// loading views surround the cells. Main thread.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/ScrollView.h"
#include "widgets/LayoutMethods.h"

namespace widgets {

class WfCollectionView;

class WfCollectionViewDataSource {
 public:
  virtual ~WfCollectionViewDataSource() = default;
  virtual std::int64_t numberOfViewsInCollectionView(WfCollectionView& collectionView) = 0;
  // The cell for the index, usually one from dequeueReusableView; nullptr leaves the index empty.
  virtual std::shared_ptr<pf::View> collectionViewViewAtIndex(WfCollectionView& collectionView,
                                                              std::int64_t index) = 0;
  // The cell's height; 0 makes it as tall as the column is wide.
  virtual double heightForViewAtIndex(std::int64_t index) = 0;
};

class WfCollectionViewDelegate {
 public:
  virtual ~WfCollectionViewDelegate() = default;
  virtual void collectionViewDidSelectView(WfCollectionView& collectionView, pf::View& view, std::int64_t index) {}
};

// Marks the tap recognizers the collection view puts on its cells.
class WfCollectionViewTapGestureRecognizer : public pf::TapGestureRecognizer {
 public:
  using pf::TapGestureRecognizer::TapGestureRecognizer;
  std::string className() const override { return "WfCollectionViewTapGestureRecognizer"; }
};

// A cell: the item it shows.
class WfCollectionViewCell : public pf::View {
 public:
  using pf::View::View;
  std::string className() const override { return "WfCollectionViewCell"; }
  pf::AnyObject object;
  virtual void prepareForReuse() {}
  virtual void fillViewWithObject(pf::AnyObject object) { this->object = std::move(object); }
  static double heightForViewWithObject(const pf::AnyObject&, double) { return 0; }
};

// The dictionary a WfBroView shows: an image under "image" (a std::shared_ptr<pf::Image>) and a
// text under "detail".
using WfObjectDictionary = std::map<std::string, pf::AnyObject>;

// A cell of an image over a caption.
class WfBroView : public WfCollectionViewCell {
 public:
  explicit WfBroView(const pf::Rect& frame = pf::Rect());
  static std::shared_ptr<WfBroView> make(const pf::Rect& frame = pf::Rect());
  std::string className() const override { return "WfBroView"; }

  std::shared_ptr<pf::ImageView> imageView;
  std::shared_ptr<pf::Label> captionLabel;

  void prepareForReuse() override;
  // Takes a std::shared_ptr<WfObjectDictionary>.
  void fillViewWithObject(pf::AnyObject object) override;
  void layoutSubviews() override;
  static double heightForViewWithObject(const pf::AnyObject& object, double columnWidth);
};

class WfCollectionView : public pf::ScrollView, public pf::GestureRecognizerDelegate {
 public:
  explicit WfCollectionView(const pf::Rect& frame = pf::Rect());
  static std::shared_ptr<WfCollectionView> make(const pf::Rect& frame = pf::Rect());
  ~WfCollectionView() override;
  std::string className() const override { return "WfCollectionView"; }

  std::shared_ptr<pf::View> headerView, footerView, emptyView;
  const std::shared_ptr<pf::View>& loadingView() const { return loadingView_; }
  // Shown (added) from now until the next relayout.
  void setLoadingView(std::shared_ptr<pf::View> view);

  double colWidth = 0;
  std::int64_t numCols = 0;
  std::int64_t numColsPortrait = 0, numColsLandscape = 0;
  std::weak_ptr<WfCollectionViewDataSource> collectionViewDataSource;
  std::weak_ptr<WfCollectionViewDelegate> collectionViewDelegate;
  // The interface orientation of the last layout.
  pf::InterfaceOrientation orientation;

  void reloadData() { relayoutViews(); }
  void layoutSubviews() override;
  // A pooled cell, or nullptr.
  std::shared_ptr<pf::View> dequeueReusableView();
  void enqueueReusableView(const std::shared_ptr<pf::View>& view);

  // Cells on screen by index, and each laid-out cell's frame.
  const std::map<std::int64_t, std::shared_ptr<pf::View>>& visibleViews() const { return visible_; }
  const std::vector<pf::Rect>& cellFrames() const { return frames_; }
  std::size_t reusePoolSize() const { return pool_.size(); }

  // Taps on cells.
  void didSelectView(pf::GestureRecognizer& recognizer);
  bool shouldReceiveTouch(pf::GestureRecognizer& recognizer, pf::View& view) override;

 private:
  void relayoutViews();
  void removeAndAddCellsIfNecessary();
  std::int64_t cellCount();
  // The index of the visible cell, -1 when it is none.
  std::int64_t indexOfVisibleCell(const pf::View* cell) const;

  std::shared_ptr<pf::View> loadingView_;
  std::vector<std::shared_ptr<pf::View>> pool_;
  std::map<std::int64_t, std::shared_ptr<pf::View>> visible_;
  std::vector<pf::Rect> frames_;
  // Per column, its cells' indexes from the top down.
  std::vector<std::vector<std::int64_t>> columns_;
};

// Frame parts of any view under the names the waterfall uses.
namespace WfViewGeometry {
inline double left(const pf::View& v) { return LayoutMethods::x(v); }
inline double top(const pf::View& v) { return LayoutMethods::y(v); }
inline double right(const pf::View& v) { return LayoutMethods::right(v); }
inline double bottom(const pf::View& v) { return LayoutMethods::bottom(v); }
inline double width(const pf::View& v) { return LayoutMethods::width(v); }
inline double height(const pf::View& v) { return LayoutMethods::height(v); }
inline void setLeft(pf::View& v, double x) { LayoutMethods::setX(v, x); }
inline void setTop(pf::View& v, double y) { LayoutMethods::setY(v, y); }
inline void setWidth(pf::View& v, double w) { LayoutMethods::setWidth(v, w); }
inline void setHeight(pf::View& v, double h) { LayoutMethods::setHeight(v, h); }
}  // namespace WfViewGeometry

}  // namespace widgets
