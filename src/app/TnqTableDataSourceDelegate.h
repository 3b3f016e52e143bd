#pragma once
// A single-section table data source and delegate driven by callbacks: the items are the rows,
// cells are dequeued by one identifier (whose name is also the cell class registered for it the
// first time none is available) and filled, sized and selected through the callbacks.
// Main thread only.

#include <any>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/TableView.h"

namespace app {

class TableProtocol {
 public:
  virtual ~TableProtocol() = default;
  virtual void handleTableViewDatasourceAndDelegate(pf::TableView& tableView) = 0;
};

class TnqTableDataSourceDelegate : public pf::TableViewDataSource, public pf::TableViewDelegate {
 public:
  using ConfigureCellBlock = std::function<void(pf::IndexPath, const std::any& item, pf::TableViewCell& cell)>;
  using HeightConfigureBlock = std::function<double(pf::IndexPath, const std::any& item)>;
  using DidSelectCellBlock = std::function<void(pf::IndexPath, const std::any& item)>;

  TnqTableDataSourceDelegate() = default;
  TnqTableDataSourceDelegate(std::vector<std::any> items, std::string cellIdentifier, ConfigureCellBlock configure,
                             HeightConfigureBlock height, DidSelectCellBlock didSelect);
  // A new instance of T whose child is itself when T is a TableProtocol.
  template <class T, class... Args>
  static std::shared_ptr<T> make(Args&&... args) {
    auto made = std::make_shared<T>(std::forward<Args>(args)...);
    if constexpr (std::is_base_of_v<TableProtocol, T>) made->child = made;
    return made;
  }

  std::vector<std::any> items;
  std::string cellIdentifier;
  ConfigureCellBlock configureCellBlock;
  HeightConfigureBlock heightConfigureBlock;
  DidSelectCellBlock didSelectCellBlock;
  std::weak_ptr<TableProtocol> child;

  // The item of the row, or an empty value past the items.
  std::any itemAtIndexPath(pf::IndexPath indexPath) const;

  int numberOfRowsInSection(pf::TableView& tableView, int section) override;
  std::shared_ptr<pf::TableViewCell> cellForRowAtIndexPath(pf::TableView& tableView, pf::IndexPath indexPath) override;
  std::optional<double> heightForRowAtIndexPath(pf::TableView& tableView, pf::IndexPath indexPath) override;
  void didSelectRowAtIndexPath(pf::TableView& tableView, pf::IndexPath indexPath) override;
};

// Adds nothing.
class SortViewDataSourceDelegate : public TnqTableDataSourceDelegate {
 public:
  using TnqTableDataSourceDelegate::TnqTableDataSourceDelegate;
};

}  // namespace app
