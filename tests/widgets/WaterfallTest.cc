#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/foundation/Clock.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Window.h"
#include "widgets/WfCollectionView.h"

namespace {

using pf::Rect;
using widgets::WfBroView;
using widgets::WfCollectionView;

// Plays the container's menu grid: reusable plain cells, heights from a list.
struct Source : widgets::WfCollectionViewDataSource, widgets::WfCollectionViewDelegate {
  std::vector<double> heights;
  int made = 0;
  bool answerNone = false;
  std::vector<std::int64_t> taps;
  std::int64_t numberOfViewsInCollectionView(WfCollectionView&) override {
    return static_cast<std::int64_t>(heights.size());
  }
  std::shared_ptr<pf::View> collectionViewViewAtIndex(WfCollectionView& cv, std::int64_t) override {
    if (answerNone) return nullptr;
    auto cell = cv.dequeueReusableView();
    if (!cell) {
      ++made;
      cell = std::make_shared<widgets::WfCollectionViewCell>();
    }
    return cell;
  }
  double heightForViewAtIndex(std::int64_t i) override { return heights[static_cast<std::size_t>(i)]; }
  void collectionViewDidSelectView(WfCollectionView&, pf::View&, std::int64_t index) override { taps.push_back(index); }
};

class Waterfall : public ::testing::Test {
 protected:
  void SetUp() override { pf::Application::shared().reset(); }
  void TearDown() override { pf::Application::shared().reset(); }
  std::shared_ptr<WfCollectionView> grid(double w, double h, std::int64_t cols, std::vector<double> heights) {
    auto cv = WfCollectionView::make(Rect(0, 0, w, h));
    cv->numColsPortrait = cols;
    source->heights = std::move(heights);
    cv->collectionViewDataSource = source;
    cv->collectionViewDelegate = source;
    cv->reloadData();
    return cv;
  }
  std::shared_ptr<Source> source = std::make_shared<Source>();
};

TEST_F(Waterfall, CellsGoUnderTheShortestColumn) {
  auto cv = grid(320, 480, 2, {100, 50, 50, 0, 20});
  EXPECT_EQ(cv->colWidth, 148);
  const auto& f = cv->cellFrames();
  EXPECT_EQ(f[0], Rect(8, 8, 148, 100));
  EXPECT_EQ(f[1], Rect(164, 8, 148, 50));
  EXPECT_EQ(f[2], Rect(164, 66, 148, 50));
  // Column heights 116 and 124: the left one; a height of 0 makes a square.
  EXPECT_EQ(f[3], Rect(8, 116, 148, 148));
  EXPECT_EQ(f[4], Rect(164, 124, 148, 20));
  EXPECT_EQ(cv->contentSize(), (pf::Size{320, 272}));
  EXPECT_EQ(cv->visibleViews().size(), 5u);

  // Equal heights: the leftmost; heights that are not finite or negative count as 0.
  auto even = grid(320, 480, 3, {10, 10, 10, std::nan(""), -5, std::numeric_limits<double>::infinity()});
  const auto& e = even->cellFrames();
  EXPECT_EQ(e[3].origin, (pf::Point{8, 26}));
  EXPECT_EQ(e[3].height(), even->colWidth);
  EXPECT_EQ(e[4].height(), even->colWidth);
  EXPECT_EQ(e[5].height(), even->colWidth);
}

TEST_F(Waterfall, HeaderFooterAndEmptyViews) {
  auto cv = WfCollectionView::make(Rect(0, 0, 320, 480));
  cv->numColsPortrait = 2;
  cv->headerView = pf::View::make(Rect(0, 0, 320, 40));
  cv->footerView = pf::View::make(Rect(0, 0, 320, 30));
  cv->emptyView = pf::View::make();
  cv->setLoadingView(pf::View::make(Rect(0, 0, 10, 10)));
  EXPECT_TRUE(cv->loadingView()->superview());
  cv->collectionViewDataSource = source;
  cv->reloadData();
  EXPECT_EQ(cv->headerView->frame().origin.y, 8);
  EXPECT_EQ(cv->emptyView->frame(), Rect(8, 56, 304, 416));
  EXPECT_EQ(cv->footerView->frame().origin.y, 480);
  EXPECT_EQ(cv->contentSize().height, 480 + 30 + 8);
  EXPECT_FALSE(cv->loadingView()->superview()) << "a relayout removes the loading view";

  source->heights = {100};
  cv->reloadData();
  EXPECT_FALSE(cv->emptyView->superview());
  EXPECT_EQ(cv->cellFrames()[0].origin.y, 56);
  EXPECT_EQ(cv->footerView->frame().origin.y, 164);
}

TEST_F(Waterfall, ZeroColumnsFallBackToTheOtherOrientationThenOne) {
  auto cv = grid(320, 480, 0, {50, 50});
  EXPECT_EQ(cv->numCols, 1);
  EXPECT_EQ(cv->colWidth, 304);
  cv->numColsLandscape = 3;
  cv->reloadData();
  EXPECT_EQ(cv->numCols, 3);
}

TEST_F(Waterfall, ScrollingReusesCellsAndShowsWhatMeetsTheScreen) {
  std::vector<double> heights(1000);
  for (std::size_t i = 0; i < heights.size(); ++i) heights[i] = 40 + static_cast<double>(i % 7) * 13;
  auto cv = grid(320, 480, 3, heights);
  int made = source->made;
  EXPECT_GT(made, 0);
  for (double y = 0; y < cv->contentSize().height; y += 97) {
    cv->setContentOffset(pf::Point{0, y});
    cv->layoutIfNeeded();
    const Rect visible(cv->contentOffset(), cv->bounds().size);
    for (const auto& [index, cell] : cv->visibleViews()) {
      EXPECT_TRUE(cell->frame().intersects(visible));
      EXPECT_EQ(cell->superviewRaw(), cv.get());
    }
  }
  // Cells made stay near what one screen holds.
  EXPECT_LT(source->made, made * 2 + 6);

  // Jumping far keeps every cell meeting the screen on it, whatever stood there before.
  cv->setContentOffset(pf::Point{0, cv->contentSize().height / 2});
  cv->layoutIfNeeded();
  const Rect visible(cv->contentOffset(), cv->bounds().size);
  std::size_t meeting = 0;
  for (const Rect& f : cv->cellFrames()) meeting += f.intersects(visible) ? 1 : 0;
  EXPECT_EQ(cv->visibleViews().size(), meeting);
  EXPECT_GT(meeting, 3u);
}

TEST_F(Waterfall, ATallCellDoesNotBlankTheOtherColumns) {
  std::vector<double> heights{5000};
  for (int i = 0; i < 300; ++i) heights.push_back(30);
  auto cv = grid(320, 480, 2, heights);
  cv->setContentOffset(pf::Point{0, 3000});
  cv->layoutIfNeeded();
  EXPECT_TRUE(cv->visibleViews().contains(0));
  std::size_t right = 0;
  for (const auto& [index, cell] : cv->visibleViews()) right += cell->frame().origin.x > 100 ? 1 : 0;
  EXPECT_GT(right, 5u);
}

TEST_F(Waterfall, AMissingCellLeavesItsIndexEmpty) {
  source->answerNone = true;
  auto cv = grid(320, 480, 2, {50, 50});
  EXPECT_TRUE(cv->visibleViews().empty());
}

TEST_F(Waterfall, TapsReachTheDelegateButNotThroughAButton) {
  auto window = pf::Window::make(Rect(0, 0, 320, 480));
  window->setHidden(false);
  auto cv = grid(320, 480, 2, {100, 50, 50});
  window->addSubview(cv);
  window->tapAt(pf::Point{170, 80});
  EXPECT_EQ(source->taps, (std::vector<std::int64_t>{2}));

  // A button inside a cell keeps its own touches.
  auto cell = cv->visibleViews().at(0);
  auto button = pf::Button::make(pf::ButtonType::Custom, Rect(0, 0, 40, 40));
  int pressed = 0;
  button->addTarget([&](pf::Control&) { ++pressed; }, pf::kControlEventTouchUpInside);
  cell->addSubview(button);
  window->tapAt(pf::Point{20, 20});
  EXPECT_EQ(pressed, 1);
  EXPECT_EQ(source->taps.size(), 1u);

  // A cell with a recognizer of its own gets none from the grid, and its taps reach no delegate.
  struct OwnSource : Source {
    std::shared_ptr<pf::View> collectionViewViewAtIndex(WfCollectionView&, std::int64_t) override {
      auto cell = std::make_shared<widgets::WfCollectionViewCell>();
      cell->addGestureRecognizer(std::make_shared<pf::TapGestureRecognizer>());
      return cell;
    }
  };
  auto own = std::make_shared<OwnSource>();
  own->heights = {100};
  cv->collectionViewDataSource = own;
  cv->collectionViewDelegate = own;
  cv->reloadData();
  window->tapAt(pf::Point{20, 20});
  EXPECT_TRUE(own->taps.empty());
}

TEST_F(Waterfall, RotationRelaysOutWithTheLandscapeCount) {
  auto cv = grid(480, 320, 2, {50, 50, 50, 50});
  cv->numColsLandscape = 4;
  cv->layoutIfNeeded();
  EXPECT_EQ(cv->numCols, 2);
  pf::Application::shared().setStatusBarOrientation(pf::InterfaceOrientation::LandscapeLeft);
  cv->setNeedsLayout();
  cv->layoutIfNeeded();
  EXPECT_EQ(cv->numCols, 4);
  EXPECT_EQ(cv->cellFrames()[3].origin.y, 8);
}

TEST_F(Waterfall, BroViewMeasuresItsImageAndCaption) {
  auto dict = std::make_shared<widgets::WfObjectDictionary>();
  (*dict)["image"] = pf::Image::blank(200, 100);
  (*dict)["detail"] = pf::Value(nullptr);
  double h = WfBroView::heightForViewWithObject(dict, 108);
  EXPECT_EQ(h, 50 + 12);
  (*dict)["detail"] = pf::Value("Spot FX");
  double withCaption = WfBroView::heightForViewWithObject(dict, 108);
  EXPECT_GT(withCaption, h);

  auto cell = WfBroView::make(Rect(0, 0, 108, withCaption));
  cell->fillViewWithObject(dict);
  cell->layoutIfNeeded();
  EXPECT_EQ(cell->imageView->frame(), Rect(4, 4, 100, 50));
  EXPECT_EQ(cell->captionLabel->frame().origin.y, 58);
  EXPECT_EQ(cell->captionLabel->text(), "Spot FX");
  EXPECT_EQ(cell->captionLabel->frame().maxY() + 4, withCaption);
  cell->prepareForReuse();
  EXPECT_FALSE(cell->imageView->image());
  EXPECT_EQ(cell->captionLabel->text(), "");

  // No image, or one without width, is 0 high.
  auto empty = std::make_shared<widgets::WfObjectDictionary>();
  EXPECT_EQ(WfBroView::heightForViewWithObject(empty, 108), 12);
  (*empty)["image"] = std::make_shared<pf::Image>(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 0, 10), 1.0);
  EXPECT_EQ(WfBroView::heightForViewWithObject(empty, 108), 12);
}

}  // namespace
