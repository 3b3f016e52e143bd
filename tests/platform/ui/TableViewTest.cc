#include <gtest/gtest.h>

#include "platform/foundation/Clock.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Error.h"
#include "platform/ui/Application.h"
#include "platform/ui/Renderer.h"
#include "platform/ui/TableView.h"
#include "platform/ui/Window.h"

using namespace pf;

namespace {

int cellsMade = 0;
class CountedCell : public TableViewCell {
 public:
  CountedCell() { ++cellsMade; }
};

// Rows are named "section.row" by their original place, so moves and deletes show.
class Rows : public TableViewDataSource, public TableViewDelegate {
 public:
  std::vector<std::vector<std::string>> data;
  std::vector<std::pair<IndexPath, IndexPath>> moves;
  std::vector<IndexPath> committed;
  std::vector<IndexPath> selected;
  bool refuseOtherSections = false;

  explicit Rows(std::vector<int> counts) {
    for (std::size_t s = 0; s < counts.size(); ++s) {
      data.emplace_back();
      for (int r = 0; r < counts[s]; ++r) data.back().push_back(std::to_string(s) + "." + std::to_string(r));
    }
  }
  int numberOfSectionsInTableView(TableView&) override { return static_cast<int>(data.size()); }
  int numberOfRowsInSection(TableView&, int s) override { return static_cast<int>(data[s].size()); }
  std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView& t, IndexPath ip) override {
    auto cell = t.dequeueReusableCellWithIdentifier("row");
    cell->textLabel()->setText(data[ip.section][ip.row]);
    return cell;
  }
  bool implementsMoveRow() const override { return true; }
  void moveRowAtIndexPath(TableView&, IndexPath from, IndexPath to) override {
    moves.emplace_back(from, to);
    auto v = data[from.section][from.row];
    data[from.section].erase(data[from.section].begin() + from.row);
    data[to.section].insert(data[to.section].begin() + to.row, v);
  }
  void commitEditingStyle(TableView&, TableViewCellEditingStyle, IndexPath ip) override { committed.push_back(ip); }
  std::optional<double> heightForHeaderInSection(TableView&, int) override { return 30; }
  std::shared_ptr<View> viewForHeaderInSection(TableView&, int) override { return View::make(); }
  std::optional<IndexPath> targetIndexPathForMove(TableView&, IndexPath from, IndexPath proposed) override {
    return refuseOtherSections && proposed.section != from.section ? from : proposed;
  }
  void didSelectRowAtIndexPath(TableView&, IndexPath ip) override { selected.push_back(ip); }
};

struct TableFixture : ::testing::Test {
  VirtualTimeScope time;
  std::shared_ptr<Window> window;
  std::shared_ptr<TableView> table;
  std::shared_ptr<Rows> rows;

  void open(std::vector<int> counts) {
    Application::shared().reset();
    ClassRegistry<TableViewCell>::shared().add<CountedCell>("CountedCell");
    window = Window::make(Rect(0, 0, 375, 667));
    window->makeKeyAndVisible();
    table = TableView::make(Rect(0, 64, 375, 603));
    rows = std::make_shared<Rows>(std::move(counts));
    table->dataSource = rows;
    table->setDelegate(rows);
    table->registerClass("CountedCell", "row");
    window->addSubview(table);
    table->reloadData();
    window->layoutIfNeeded();
    cellsMade = 0;
  }
  std::string textAt(IndexPath ip) {
    auto cell = table->cellForRowAtIndexPath(ip);
    return cell ? cell->textLabel()->text() : "<none>";
  }
  // The window point at the middle of a row's part x (0 left .. 1 right).
  Point rowPoint(IndexPath ip, double x) {
    Rect r = table->rectForRowAtIndexPath(ip);
    return table->convertPoint(Point{r.width() * x, r.midY()}, nullptr);
  }
};

TEST_F(TableFixture, ScrollingAThousandRowsReusesAFewCellsAndFloatsTheHeader) {
  open({1000});
  EXPECT_DOUBLE_EQ(table->contentSize().height, 30 + 1000 * 44);
  std::size_t visible = table->visibleCells().size();
  EXPECT_LE(visible, 15u);
  for (double y = 0; y < 44000; y += 97) {
    table->setContentOffset({0, y});
    table->layoutIfNeeded();
  }
  EXPECT_LE(cellsMade, 3);  // the first screen's cells serve all the rows
  EXPECT_LE(table->reusePoolSize() + table->visibleCells().size(), visible + 3);
  table->setContentOffset({0, 44 * 500 + 30});
  EXPECT_EQ(textAt({0, 500}), "0.500");
  EXPECT_EQ(table->indexPathForRowAtPoint({10, 44 * 500 + 31}), (IndexPath{0, 500}));
  EXPECT_EQ(table->indexPathForRowAtPoint({10, 10}), std::nullopt);  // the header
  // The header floats at the top of the visible part.
  EXPECT_DOUBLE_EQ(table->headerViewForSection(0)->frame().y(), 44 * 500 + 30);
}

TEST_F(TableFixture, UpdatesAnimateOnTheClockAndCountsThatDoNotAddUpRaise) {
  open({3, 2});
  auto gone = table->cellForRowAtIndexPath({0, 0});
  rows->data[0].erase(rows->data[0].begin());
  table->beginUpdates();
  table->deleteRowsAtIndexPaths({{0, 0}}, TableViewRowAnimation::Right);
  table->endUpdates();
  EXPECT_EQ(textAt({0, 0}), "0.1");
  EXPECT_EQ(gone->superviewRaw(), table.get());  // still sliding out
  time.advance(TableView::kRowAnimationDuration + 0.01);
  EXPECT_EQ(gone->superviewRaw(), nullptr);
  EXPECT_DOUBLE_EQ(table->cellForRowAtIndexPath({0, 0})->frame().y(), 30);

  rows->data[1].push_back("new");
  table->insertRowsAtIndexPaths({{1, 2}}, TableViewRowAnimation::Top);
  EXPECT_EQ(textAt({1, 2}), "new");

  rows->data[1].pop_back();  // the data source drops a row nobody deletes
  try {
    table->insertRowsAtIndexPaths({{0, 2}}, TableViewRowAnimation::Bottom);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.name(), "NSInternalInconsistencyException");
  }
  EXPECT_THROW(table->deleteRowsAtIndexPaths({{0, 7}}, TableViewRowAnimation::Fade), Exception);
}

TEST_F(TableFixture, DeleteControlShowsTheConfirmationWhoseTapCommits) {
  open({3});
  table->setEditing(true);
  window->layoutIfNeeded();
  auto cell = table->cellForRowAtIndexPath({0, 1});
  ASSERT_TRUE(cell->deleteControl());
  ASSERT_TRUE(cell->reorderControl());
  EXPECT_DOUBLE_EQ(cell->contentView()->frame().x(), TableViewCell::kEditingControlWidth);
  window->tapAt(rowPoint({0, 1}, 0.02));
  ASSERT_TRUE(cell->showingDeleteConfirmation());
  // A tap elsewhere hides it without selecting; the next tap on the control shows it again.
  window->tapAt(rowPoint({0, 2}, 0.5));
  EXPECT_FALSE(cell->showingDeleteConfirmation());
  EXPECT_TRUE(rows->selected.empty());
  window->tapAt(rowPoint({0, 1}, 0.02));
  window->layoutIfNeeded();
  window->tapAt(rowPoint({0, 1}, 0.95));
  EXPECT_EQ(rows->committed, std::vector<IndexPath>{(IndexPath{0, 1})});
  // Selection while editing only when allowed.
  window->tapAt(rowPoint({0, 0}, 0.5));
  EXPECT_TRUE(rows->selected.empty());
  table->allowsSelectionDuringEditing = true;
  window->tapAt(rowPoint({0, 0}, 0.5));
  EXPECT_EQ(rows->selected, std::vector<IndexPath>{(IndexPath{0, 0})});
}

TEST_F(TableFixture, DraggingTheReorderControlMovesTheRowAndTheTargetCanRefuse) {
  open({4, 2});
  table->setEditing(true);
  window->layoutIfNeeded();
  Point grip = rowPoint({0, 0}, 0.97);
  window->touchDown(grip);
  for (int step = 1; step <= 10; ++step) window->touchMove({grip.x, grip.y + step * 9.0});
  EXPECT_EQ(table->contentOffset().y, 0);  // the drag did not scroll
  EXPECT_DOUBLE_EQ(table->cellForRowAtIndexPath({0, 1})->frame().y(), 30);  // moved aside
  window->touchUp({grip.x, grip.y + 90});
  ASSERT_EQ(rows->moves.size(), 1u);
  EXPECT_EQ(rows->moves[0], std::make_pair(IndexPath{0, 0}, IndexPath{0, 2}));
  EXPECT_EQ(textAt({0, 2}), "0.0");
  EXPECT_EQ(textAt({0, 0}), "0.1");

  rows->refuseOtherSections = true;
  grip = rowPoint({0, 3}, 0.97);
  window->touchDown(grip);
  for (int step = 1; step <= 8; ++step) window->touchMove({grip.x, grip.y + step * 15.0});
  window->touchUp({grip.x, grip.y + 120});
  EXPECT_EQ(rows->moves.size(), 1u);
  EXPECT_EQ(textAt({0, 3}), "0.3");
  EXPECT_DOUBLE_EQ(table->cellForRowAtIndexPath({1, 0})->frame().y(), table->rectForRowAtIndexPath({1, 0}).y());
}

TEST_F(TableFixture, SeparatorsRunToTheBottomUnlessAFooterEndsTheTable) {
  open({2});
  table->separatorColor = Color::rgb(1, 0, 0);
  table->setContentOffset({0, 0});
  table->reloadData();
  window->layoutIfNeeded();
  // Row separators start at the inset; the empty rows below the last one get lines too.
  auto image = render::view(*table, 2);
  double lastRow = 30 + 2 * 44;
  EXPECT_NEAR(image->colorAt({5, lastRow - 0.25}).g, 1, 0.05);  // inside the inset
  EXPECT_NEAR(image->colorAt({100, 30 + 44 - 0.25}).g, 0, 0.3);
  EXPECT_NEAR(image->colorAt({100, lastRow + 44 - 0.25}).g, 0, 0.3);
  EXPECT_NEAR(image->colorAt({100, lastRow + 3 * 44 - 0.25}).g, 0, 0.3);
  table->setTableFooterView(View::make());
  window->layoutIfNeeded();
  image = render::view(*table, 2);
  EXPECT_NEAR(image->colorAt({100, lastRow + 44 - 0.25}).g, 1, 0.05);
}

}  // namespace
