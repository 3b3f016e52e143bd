#include <gtest/gtest.h>

#include "app/SortViewController.h"
#include "app/TnqTableDataSourceDelegate.h"
#include "platform/ui/Application.h"
#include "platform/ui/Window.h"

namespace {

class Owner : public app::TnqTableDataSourceDelegate, public app::TableProtocol {
 public:
  using TnqTableDataSourceDelegate::TnqTableDataSourceDelegate;
  void handleTableViewDatasourceAndDelegate(pf::TableView&) override {}
};

TEST(TableDataSourceDelegate, CallbacksFillSizeAndSelectRowsOfTheNamedCellClass) {
  pf::Application::shared().reset();
  app::registerSortCellClasses();
  std::vector<std::string> selected;
  auto source = app::TnqTableDataSourceDelegate::make<app::SortViewDataSourceDelegate>(
      std::vector<std::any>{std::string("a"), std::string("b")}, "SortTableViewCell",
      [](pf::IndexPath, const std::any& item, pf::TableViewCell& cell) {
        cell.textLabel()->setText(std::any_cast<std::string>(item));
      },
      [](pf::IndexPath ip, const std::any&) { return 30.0 + ip.row * 10; },
      [&](pf::IndexPath, const std::any& item) { selected.push_back(std::any_cast<std::string>(item)); });
  EXPECT_TRUE(source->child.expired());  // no TableProtocol
  EXPECT_TRUE(app::TnqTableDataSourceDelegate::make<Owner>()->child.lock());

  auto window = pf::Window::make(pf::Rect(0, 0, 320, 480));
  window->makeKeyAndVisible();
  auto table = pf::TableView::make(pf::Rect(0, 0, 320, 480));
  table->dataSource = source;
  table->setDelegate(source);
  window->addSubview(table);
  window->layoutIfNeeded();
  auto cell = table->cellForRowAtIndexPath({0, 1});
  ASSERT_TRUE(cell);
  EXPECT_EQ(cell->className(), "SortTableViewCell");
  EXPECT_EQ(cell->textLabel()->text(), "b");
  EXPECT_DOUBLE_EQ(table->rectForRowAtIndexPath({0, 1}).y(), 30);
  EXPECT_DOUBLE_EQ(table->rectForRowAtIndexPath({0, 1}).height(), 40);
  window->tapAt({100, 50});
  EXPECT_EQ(selected, std::vector<std::string>{"b"});
  EXPECT_FALSE(source->itemAtIndexPath({0, 5}).has_value());
  pf::Application::shared().reset();
}

}  // namespace
