#include "app/TnqTableDataSourceDelegate.h"

namespace app {

TnqTableDataSourceDelegate::TnqTableDataSourceDelegate(std::vector<std::any> items, std::string cellIdentifier,
                                                       ConfigureCellBlock configure, HeightConfigureBlock height,
                                                       DidSelectCellBlock didSelect)
    : items(std::move(items)),
      cellIdentifier(std::move(cellIdentifier)),
      configureCellBlock(std::move(configure)),
      heightConfigureBlock(std::move(height)),
      didSelectCellBlock(std::move(didSelect)) {}

std::any TnqTableDataSourceDelegate::itemAtIndexPath(pf::IndexPath ip) const {
  if (ip.row < 0 || ip.row >= static_cast<int>(items.size())) return {};
  return items[ip.row];
}

int TnqTableDataSourceDelegate::numberOfRowsInSection(pf::TableView&, int) { return static_cast<int>(items.size()); }

std::shared_ptr<pf::TableViewCell> TnqTableDataSourceDelegate::cellForRowAtIndexPath(pf::TableView& table,
                                                                                      pf::IndexPath ip) {
  auto cell = table.dequeueReusableCellWithIdentifier(cellIdentifier);
  if (!cell) {
    table.registerClass(cellIdentifier, cellIdentifier);
    cell = table.dequeueReusableCellWithIdentifier(cellIdentifier);
  }
  if (!cell) return nullptr;  // no cell class of that name: the table raises
  if (configureCellBlock) configureCellBlock(ip, itemAtIndexPath(ip), *cell);
  return cell;
}

std::optional<double> TnqTableDataSourceDelegate::heightForRowAtIndexPath(pf::TableView&, pf::IndexPath ip) {
  if (!heightConfigureBlock) return std::nullopt;
  return heightConfigureBlock(ip, itemAtIndexPath(ip));
}

void TnqTableDataSourceDelegate::didSelectRowAtIndexPath(pf::TableView&, pf::IndexPath ip) {
  if (didSelectCellBlock) didSelectCellBlock(ip, itemAtIndexPath(ip));
}

}  // namespace app
