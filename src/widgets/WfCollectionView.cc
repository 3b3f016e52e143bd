#include "widgets/WfCollectionView.h"

#include <algorithm>
#include <cmath>
#include <typeinfo>

#include "platform/ui/Font.h"
#include "platform/foundation/ThreadChecker.h"

namespace widgets {

namespace {

constexpr double kMargin = 8;
constexpr double kCellInset = 4;
constexpr double kCaptionFontSize = 14;
constexpr double kUnboundedHeight = 2147483647;

bool isPortrait(pf::InterfaceOrientation o) {
  return o == pf::InterfaceOrientation::Portrait || o == pf::InterfaceOrientation::PortraitUpsideDown;
}

// A height from outside: not finite or negative counts as 0.
double saneHeight(double h) { return std::isfinite(h) && h > 0 ? h : 0; }

const WfObjectDictionary* dictionaryOf(const pf::AnyObject& object) {
  auto d = object.as<WfObjectDictionary>();
  return d.get();
}

std::shared_ptr<pf::Image> imageOf(const pf::AnyObject& object) {
  const WfObjectDictionary* d = dictionaryOf(object);
  if (!d) return nullptr;
  auto it = d->find("image");
  return it == d->end() ? nullptr : it->second.as<pf::Image>();
}

// The caption, "" when it is missing, the null object or not a text.
std::string detailOf(const pf::AnyObject& object) {
  const WfObjectDictionary* d = dictionaryOf(object);
  if (!d) return {};
  auto it = d->find("detail");
  if (it == d->end()) return {};
  const pf::Value* v = it->second.value();
  return v && v->is_string() ? v->get<std::string>() : std::string();
}

// The image scaled to width w, in single precision; 0 without an image or with no width.
double imageHeight(const pf::Image* image, double w) {
  if (!image) return 0;
  float iw = static_cast<float>(image->size().width), ih = static_cast<float>(image->size().height);
  if (!(iw > 0) || !(w > 0)) return 0;
  return saneHeight(std::floor(ih / (iw / static_cast<float>(w))));
}

}  // namespace

// ---- WfBroView

WfBroView::WfBroView(const pf::Rect& frame) : WfCollectionViewCell(frame) {
  imageView = pf::ImageView::make();
  imageView->setClipsToBounds(true);
  addSubview(imageView);
  captionLabel = pf::Label::make();
  captionLabel->setBackgroundColor(pf::Color::clear());
  captionLabel->setFont(pf::Font::systemFont(kCaptionFontSize));
  captionLabel->setTextAlignment(pf::TextAlignment::Center);
  captionLabel->setNumberOfLines(0);
  // Wrapped as the height was measured.
  captionLabel->setLineBreakMode(pf::LineBreakMode::WordWrap);
  addSubview(captionLabel);
  setBackgroundColor(pf::Color::clear());
}

std::shared_ptr<WfBroView> WfBroView::make(const pf::Rect& frame) { return std::make_shared<WfBroView>(frame); }

void WfBroView::prepareForReuse() {
  WfCollectionViewCell::prepareForReuse();
  imageView->setImage(nullptr);
  captionLabel->setText({});
}

void WfBroView::fillViewWithObject(pf::AnyObject obj) {
  WfCollectionViewCell::fillViewWithObject(std::move(obj));
  imageView->setImage(imageOf(object));
  captionLabel->setText(detailOf(object));
  setNeedsLayout();
}

void WfBroView::layoutSubviews() {
  WfCollectionViewCell::layoutSubviews();
  const double w = frame().width() - 2 * kCellInset;
  auto image = imageOf(object);
  imageView->setFrame(pf::Rect(kCellInset, kCellInset, w, imageHeight(image.get(), w)));
  pf::Size caption = pf::text::boundingSize(captionLabel->text(), captionLabel->font(),
                                            pf::Size{w, kUnboundedHeight}, captionLabel->lineBreakMode());
  captionLabel->setFrame(
      pf::Rect(kCellInset, LayoutMethods::bottom(*imageView) + kCellInset, w, caption.height));
}

double WfBroView::heightForViewWithObject(const pf::AnyObject& object, double columnWidth) {
  const double w = columnWidth - 2 * kCellInset;
  auto image = imageOf(object);
  pf::Size caption = pf::text::boundingSize(detailOf(object), pf::Font::systemFont(kCaptionFontSize),
                                            pf::Size{w, kUnboundedHeight}, pf::LineBreakMode::WordWrap);
  return imageHeight(image.get(), w) + 3 * kCellInset + caption.height;
}

// ---- WfCollectionView

WfCollectionView::WfCollectionView(const pf::Rect& frame)
    : pf::ScrollView(frame), orientation(pf::Application::shared().statusBarOrientation()) {
  alwaysBounceVertical = true;
}

std::shared_ptr<WfCollectionView> WfCollectionView::make(const pf::Rect& frame) {
  return std::make_shared<WfCollectionView>(frame);
}

WfCollectionView::~WfCollectionView() = default;

void WfCollectionView::setLoadingView(std::shared_ptr<pf::View> view) {
  PF_ASSERT_MAIN_THREAD();
  if (loadingView_) loadingView_->removeFromSuperview();
  loadingView_ = std::move(view);
  if (loadingView_) addSubview(loadingView_);
}

void WfCollectionView::layoutSubviews() {
  pf::ScrollView::layoutSubviews();
  auto now = pf::Application::shared().statusBarOrientation();
  if (now != orientation) {
    orientation = now;
    relayoutViews();
  } else {
    removeAndAddCellsIfNecessary();
  }
}

std::shared_ptr<pf::View> WfCollectionView::dequeueReusableView() {
  PF_ASSERT_MAIN_THREAD();
  if (pool_.empty()) return nullptr;
  auto view = std::move(pool_.back());
  pool_.pop_back();
  return view;
}

void WfCollectionView::enqueueReusableView(const std::shared_ptr<pf::View>& view) {
  PF_ASSERT_MAIN_THREAD();
  if (!view) return;
  if (auto* cell = dynamic_cast<WfCollectionViewCell*>(view.get())) cell->prepareForReuse();
  view->setFrame(pf::Rect());
  pool_.push_back(view);
  view->removeFromSuperview();
}

std::int64_t WfCollectionView::cellCount() {
  auto source = collectionViewDataSource.lock();
  return source ? std::max<std::int64_t>(0, source->numberOfViewsInCollectionView(*this)) : 0;
}

void WfCollectionView::relayoutViews() {
  PF_ASSERT_MAIN_THREAD();
  auto keep = shared_from_this();
  const bool portrait = isPortrait(orientation);
  // A count below 1 takes the other orientation's, else 1.
  std::int64_t wanted = portrait ? numColsPortrait : numColsLandscape;
  std::int64_t other = portrait ? numColsLandscape : numColsPortrait;
  numCols = wanted >= 1 ? wanted : other >= 1 ? other : 1;

  for (auto& [index, view] : visible_) enqueueReusableView(view);
  visible_.clear();
  frames_.clear();
  columns_.clear();
  if (emptyView) emptyView->removeFromSuperview();
  if (loadingView_) loadingView_->removeFromSuperview();

  const std::int64_t n = cellCount();
  auto source = collectionViewDataSource.lock();
  const double viewWidth = bounds().width(), viewHeight = bounds().height();
  double top = kMargin;
  if (headerView) {
    WfViewGeometry::setTop(*headerView, kMargin);
    addSubview(headerView);
    top = WfViewGeometry::top(*headerView) + WfViewGeometry::height(*headerView) + kMargin;
  }
  double total = viewHeight;
  if (n > 0 && source) {
    std::vector<float> heights(static_cast<std::size_t>(numCols), static_cast<float>(top));
    columns_.assign(static_cast<std::size_t>(numCols), {});
    colWidth = std::floor(static_cast<float>((viewWidth - kMargin * static_cast<double>(numCols + 1)) /
                                             static_cast<double>(numCols)));
    frames_.reserve(static_cast<std::size_t>(n));
    for (std::int64_t i = 0; i < n; ++i) {
      std::size_t c = static_cast<std::size_t>(std::min_element(heights.begin(), heights.end()) - heights.begin());
      double left = kMargin + static_cast<double>(c) * (kMargin + colWidth);
      double cellTop = heights[c];
      double h = saneHeight(source->heightForViewAtIndex(i));
      if (h == 0) h = colWidth;
      frames_.emplace_back(left, cellTop, colWidth, h);
      columns_[c].push_back(i);
      heights[c] = static_cast<float>(cellTop + h + kMargin);
    }
    total = *std::max_element(heights.begin(), heights.end());
  } else if (emptyView) {
    emptyView->setFrame(pf::Rect(kMargin, top, viewWidth - 2 * kMargin, viewHeight - top - kMargin));
    addSubview(emptyView);
  }
  if (footerView) {
    WfViewGeometry::setTop(*footerView, total);
    addSubview(footerView);
    total += WfViewGeometry::height(*footerView) + kMargin;
  }
  setContentSize(pf::Size{viewWidth, total});
  removeAndAddCellsIfNecessary();
}

void WfCollectionView::removeAndAddCellsIfNecessary() {
  auto source = collectionViewDataSource.lock();
  if (!source) return;
  const std::int64_t n = std::min<std::int64_t>(cellCount(), static_cast<std::int64_t>(frames_.size()));
  if (n == 0) return;
  auto keep = shared_from_this();
  const pf::Rect visibleRect(contentOffset(), bounds().size);

  for (auto it = visible_.begin(); it != visible_.end();) {
    if (it->second->frame().intersects(visibleRect)) {
      ++it;
      continue;
    }
    enqueueReusableView(it->second);
    it = visible_.erase(it);
  }

  // Every laid-out cell that meets the visible rectangle, found per column by its top.
  std::vector<std::int64_t> wanted;
  for (const auto& column : columns_) {
    auto first = std::partition_point(column.begin(), column.end(), [&](std::int64_t i) {
      return frames_[static_cast<std::size_t>(i)].maxY() <= visibleRect.minY();
    });
    for (auto it = first; it != column.end(); ++it) {
      const pf::Rect& f = frames_[static_cast<std::size_t>(*it)];
      if (f.minY() >= visibleRect.maxY()) break;
      if (*it < n && f.intersects(visibleRect) && !visible_.contains(*it)) wanted.push_back(*it);
    }
  }
  std::sort(wanted.begin(), wanted.end());

  for (std::int64_t index : wanted) {
    auto cell = source->collectionViewViewAtIndex(*this, index);
    if (!cell) continue;
    cell->setFrame(frames_[static_cast<std::size_t>(index)]);
    addSubview(cell);
    if (cell->gestureRecognizers().empty()) {
      auto tap = std::make_shared<WfCollectionViewTapGestureRecognizer>();
      std::weak_ptr<WfCollectionView> weak = std::static_pointer_cast<WfCollectionView>(shared_from_this());
      tap->addTarget([weak](pf::GestureRecognizer& g) {
        if (auto self = weak.lock()) self->didSelectView(g);
      });
      tap->delegate = std::static_pointer_cast<WfCollectionView>(shared_from_this());
      cell->addGestureRecognizer(tap);
      cell->setUserInteractionEnabled(true);
    }
    visible_[index] = std::move(cell);
  }
}

std::int64_t WfCollectionView::indexOfVisibleCell(const pf::View* cell) const {
  if (!cell) return -1;
  for (const auto& [index, view] : visible_)
    if (view.get() == cell) return index;
  return -1;
}

void WfCollectionView::didSelectView(pf::GestureRecognizer& recognizer) {
  PF_ASSERT_MAIN_THREAD();
  auto view = recognizer.view();
  std::int64_t index = indexOfVisibleCell(view.get());
  if (index < 0) return;
  if (auto delegate = collectionViewDelegate.lock()) delegate->collectionViewDidSelectView(*this, *view, index);
}

bool WfCollectionView::shouldReceiveTouch(pf::GestureRecognizer& recognizer, pf::View& touched) {
  if (!dynamic_cast<WfCollectionViewTapGestureRecognizer*>(&recognizer)) return true;
  std::int64_t index = indexOfVisibleCell(recognizer.viewRaw());
  if (index < 0) return false;
  // A touch on a subview of another kind (a button in the cell) is left to that subview.
  const pf::View& cell = *visible_.at(index);
  return typeid(touched) == typeid(cell);
}

}  // namespace widgets
