// The waterfall grid and the animated GIF view, each against a baseline in the same run:
// - reloadData of 10,000 cells in 3 columns against a bare loop placing the same rectangles;
// - a layout pass after a one-screen scroll at 10,000 cells against the same at 100 cells;
// - a GIF view made from a 100-frame 200 by 200 GIF against the platform's own frame decoder.
#include <algorithm>
#include <cmath>
#include <vector>

#include "GifTestSupport.h"
#include "Ratios.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/Image.h"
#include "widgets/TnqGIFImageView.h"
#include "widgets/WfCollectionView.h"

namespace {

double cellHeight(std::int64_t i) { return 40 + static_cast<double>(i % 11) * 9; }

struct Cells : widgets::WfCollectionViewDataSource {
  std::int64_t count = 0;
  std::int64_t asked = 0;
  std::int64_t numberOfViewsInCollectionView(widgets::WfCollectionView&) override { return count; }
  std::shared_ptr<pf::View> collectionViewViewAtIndex(widgets::WfCollectionView& cv, std::int64_t) override {
    ++asked;
    auto cell = cv.dequeueReusableView();
    return cell ? cell : std::make_shared<widgets::WfCollectionViewCell>();
  }
  double heightForViewAtIndex(std::int64_t i) override { return cellHeight(i); }
};

std::shared_ptr<widgets::WfCollectionView> grid(const std::shared_ptr<Cells>& cells) {
  auto cv = widgets::WfCollectionView::make(pf::Rect(0, 0, 320, 480));
  cv->numColsPortrait = 3;
  cv->collectionViewDataSource = cells;
  cv->reloadData();
  return cv;
}

void BM_ReloadData(benchmark::State& state) {
  pf::VirtualTimeScope time;
  auto cells = std::make_shared<Cells>();
  cells->count = state.range(0);
  auto cv = grid(cells);
  for (auto _ : state) cv->reloadData();
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReloadData)->Arg(10000)->Unit(benchmark::kMicrosecond);

// The same placement with nothing else: the shortest column, a rectangle into a vector.
void BM_BareLoopPlacingRects(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  const int cols = 3;
  const double colWidth = std::floor((320.0 - 8 * (cols + 1)) / cols);
  std::vector<pf::Rect> frames;
  for (auto _ : state) {
    frames.clear();
    std::vector<float> heights(cols, 8);
    for (std::int64_t i = 0; i < n; ++i) {
      auto c = static_cast<std::size_t>(std::min_element(heights.begin(), heights.end()) - heights.begin());
      double h = cellHeight(i);
      frames.emplace_back(8 + static_cast<double>(c) * (8 + colWidth), heights[c], colWidth, h);
      heights[c] = static_cast<float>(heights[c] + h + 8);
    }
    benchmark::DoNotOptimize(frames.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_BareLoopPlacingRects)->Arg(10000)->Unit(benchmark::kMicrosecond);

// One screen down and back up, each followed by the layout pass that shows and hides cells.
void BM_LayoutAfterScroll(benchmark::State& state) {
  pf::VirtualTimeScope time;
  auto cells = std::make_shared<Cells>();
  cells->count = state.range(0);
  auto cv = grid(cells);
  const double middle = std::max(0.0, cv->contentSize().height / 2 - 480);
  cv->setContentOffset(pf::Point{0, middle});
  cv->layoutIfNeeded();
  bool down = true;
  cells->asked = 0;
  for (auto _ : state) {
    cv->setContentOffset(pf::Point{0, down ? middle + 480 : middle});
    cv->layoutIfNeeded();
    down = !down;
  }
  state.counters["cellsShownPerPass"] = static_cast<double>(cells->asked) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_LayoutAfterScroll)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

const pf::Bytes& hundredFrames() {
  static const pf::Bytes bytes = giftest::movingSquare(200, 100);
  return bytes;
}

void BM_GIFImageView(benchmark::State& state) {
  pf::VirtualTimeScope time;
  for (auto _ : state) {
    auto view = widgets::TnqGIFImageView::initWithGIFData(hundredFrames());
    benchmark::DoNotOptimize(view.get());
  }
}
BENCHMARK(BM_GIFImageView)->Unit(benchmark::kMillisecond);

void BM_PlatformDecodeGifFrames(benchmark::State& state) {
  for (auto _ : state) {
    auto frames = pf::decodeGifFrames(hundredFrames());
    benchmark::DoNotOptimize(frames.data());
  }
}
BENCHMARK(BM_PlatformDecodeGifFrames)->Unit(benchmark::kMillisecond);

// Times over times: how many times the baseline's cost.
FX_BENCH_RATIO("waterfall reloadData of 10,000 cells, time / bare placement loop's",
               fxbench::seconds("BM_ReloadData/10000"), fxbench::seconds("BM_BareLoopPlacingRects/10000"),
               fxbench::atMost(3));
FX_BENCH_RATIO("waterfall layout after a scroll, time at 10,000 cells / at 100",
               fxbench::seconds("BM_LayoutAfterScroll/10000"), fxbench::seconds("BM_LayoutAfterScroll/100"),
               fxbench::about(1));
FX_BENCH_RATIO("GIF view of 100 frames, time / pf::decodeGifFrames'", fxbench::seconds("BM_GIFImageView"),
               fxbench::seconds("BM_PlatformDecodeGifFrames"), fxbench::atMost(3));

}  // namespace

FX_BENCH_MAIN();
