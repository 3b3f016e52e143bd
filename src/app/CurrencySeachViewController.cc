#include "app/CurrencySeachViewController.h"


#include "app/SortViewController.h"
#include "app/TnqColor.h"
#include "app/TnqStyle.h"
#include "app/TnqUIViewAttribute.h"
#include "platform/foundation/Text.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/Label.h"
#include "platform/foundation/ThreadChecker.h"

namespace app {

namespace {

template <class T>
std::shared_ptr<T> selfOf(const std::weak_ptr<pf::ViewController>& weak) {
  return std::static_pointer_cast<T>(weak.lock());
}

void showChosen(pf::Button& button, bool favourite) {
  if (favourite) {
    auto cut = pf::Image::named("icon_velmor_cut");
    button.setImage(cut, pf::kControlStateNormal);
    button.setImage(cut, pf::kControlStateDisabled);
    button.setEnabled(false);
  } else {
    auto plus = pf::Image::named("icon_velmor_plus");
    button.setImage(plus, pf::kControlStateNormal);
    button.setImage(plus, pf::kControlStateHighlighted);
    button.setEnabled(true);
  }
}

}  // namespace

// ---- building

std::shared_ptr<pf::TableView> CurrencySeachViewController::tableView() {
  if (!tableView_) {
    auto table = pf::TableView::make();
    auto self = std::static_pointer_cast<CurrencySeachViewController>(shared_from_this());
    table->dataSource = std::static_pointer_cast<pf::TableViewDataSource>(self);
    table->setDelegate(std::static_pointer_cast<pf::TableViewDelegate>(self));
    table->setBackgroundColor(pf::Color::white(243.0 / 255));
    table->setTableFooterView(pf::View::make());
    table->setEditing(false);
    tableView_ = table;
  }
  return tableView_;
}

std::shared_ptr<TnqSearchBar> CurrencySeachViewController::searchBar() {
  if (!searchBar_) {
    searchBar_ = TnqSearchBar::make();
    searchBar_->delegate = std::static_pointer_cast<pf::SearchBarDelegate>(
        std::static_pointer_cast<CurrencySeachViewController>(shared_from_this()));
    searchBar_->setPlaceholder("搜索");
    searchBar_->setSearchBarStyle(pf::SearchBarStyle::Default);
    searchBar_->bgView()->setBackgroundColor(pf::Color::clear());
    searchBar_->removePlatformBackground();
  }
  return searchBar_;
}

void CurrencySeachViewController::viewDidLoad() {
  PF_ASSERT_MAIN_THREAD();
  view()->setBackgroundColor(pf::Color::whiteColor());
  handledArray_ = allArray;
  tableDataSourceArray_ = handledArray_;
  auto backdrop = pf::View::make();
  view()->addSubview(backdrop);
  TnqStyle::redNavigationBarWithTitle(*this, "搜索");
  auto table = tableView();
  view()->addSubview(table);
  auto bar = searchBar();
  view()->addSubview(bar);

  pf::Size screen = TnqStyle::orientedScreenSize();
  table->setFrame(pf::Rect(0, 64, screen.width, screen.height - 64));
  bar->setFrame(pf::Rect(30, 20, screen.width - 30, 48));
  backdrop->setFrame(bar->frame());
  backdrop->setBackgroundColor(TnqColor::TnqColorWithRed(237, 237, 237, 255));
}

// ---- search

void CurrencySeachViewController::handleSearch(const std::string& text) {
  PF_ASSERT_MAIN_THREAD();
  GroupList result;
  for (auto& group : allArray) {
    auto matches = std::make_shared<ProductList>();
    for (auto& product : *group->products)
      if (!product->productName.empty() && pf::containsText(product->productName, text, pf::kCaseInsensitive))
        matches->push_back(product);
    auto filtered = group->copyGroup();
    filtered->products = matches;
    result.push_back(filtered);
  }
  tableDataSourceArray_ = std::move(result);
  tableView()->reloadData();
}

void CurrencySeachViewController::resetSearch() { tableDataSourceArray_ = handledArray_; }

void CurrencySeachViewController::textDidChange(pf::SearchBar&, const std::string& text) {
  if (text.empty()) {
    resetSearch();
    tableView()->reloadData();
  } else {
    handleSearch(text);
  }
}

void CurrencySeachViewController::searchButtonClicked(pf::SearchBar& bar) {
  handleSearch(bar.text());
  view()->endEditing(true);
}

void CurrencySeachViewController::cancelButtonClicked(pf::SearchBar&) {
  resetSearch();
  tableView()->reloadData();
  view()->endEditing(true);
}

void CurrencySeachViewController::scrollViewDidScroll(pf::ScrollView&) {
  if (isViewLoaded()) view()->endEditing(true);
}

// ---- actions

void CurrencySeachViewController::touchBtnAction(pf::Control& sender) {
  PF_ASSERT_MAIN_THREAD();
  auto section = boundIndex(sender, "section", tableDataSourceArray_.size());
  if (!section) return;
  auto& group = *tableDataSourceArray_[*section];
  toggleGroup(*tableView(), group, *section, group.products->size(), sender);
}

std::shared_ptr<ProductModel> CurrencySeachViewController::productAt(pf::IndexPath ip) const {
  if (ip.section < 0 || ip.section >= static_cast<int>(tableDataSourceArray_.size())) return nullptr;
  auto& products = *tableDataSourceArray_[ip.section]->products;
  if (ip.row < 0 || ip.row >= static_cast<int>(products.size())) return nullptr;
  return products[ip.row];
}

void CurrencySeachViewController::chooseAction(pf::Control& sender) {
  PF_ASSERT_MAIN_THREAD();
  auto section = boundIndex(sender, "section", tableDataSourceArray_.size());
  if (!section) return;
  auto row = boundIndex(sender, "row", tableDataSourceArray_[*section]->products->size());
  if (!row) return;
  auto product = productAt({*section, *row});
  if (auto* button = dynamic_cast<pf::Button*>(&sender)) showChosen(*button, true);
  // Added before it is marked: the product is among those that are not favourites yet.
  interestProduct({*section, *row});
  product->isInterested = true;
}

void CurrencySeachViewController::interestProduct(pf::IndexPath ip) {
  PF_ASSERT_MAIN_THREAD();
  auto chosen = productAt(ip);
  if (!chosen) return;
  const std::string& name = tableDataSourceArray_[ip.section]->productName;
  for (auto& group : allArray) {
    if (group->productName != name) continue;
    for (auto& product : *group->products) {
      bool same = chosen->currencyCode.empty() ? product == chosen : product->currencyCode == chosen->currencyCode;
      // A favourite already stands among the group's favourites: never twice.
      if (!same || product->isInterested) continue;
      product->isInterested = true;
      group->interstProducts->push_back(ProductModel::favouriteOf(product));
    }
  }
}

// ---- table

int CurrencySeachViewController::numberOfSectionsInTableView(pf::TableView&) {
  return static_cast<int>(tableDataSourceArray_.size());
}

int CurrencySeachViewController::numberOfRowsInSection(pf::TableView&, int section) {
  if (section < 0 || section >= static_cast<int>(tableDataSourceArray_.size())) return 0;
  auto& group = *tableDataSourceArray_[section];
  return group.isOpen ? static_cast<int>(group.products->size()) : 0;
}

std::shared_ptr<pf::TableViewCell> CurrencySeachViewController::cellForRowAtIndexPath(pf::TableView& table,
                                                                                       pf::IndexPath ip) {
  auto cell = table.dequeueReusableCellWithIdentifier(kCellIdentifier);
  if (!cell) {
    table.registerClass("UITableViewCell", kCellIdentifier);
    cell = table.dequeueReusableCellWithIdentifier(kCellIdentifier);
  }
  auto content = cell->contentView();
  double width = TnqStyle::orientedScreenSize().width;
  if (!content->viewWithTag(kNameTag)) {
    auto label = pf::Label::make(pf::Rect(10, (44 - 40) / 2.0, width, 40));
    label->setTag(kNameTag);
    label->setFont(pf::Font::systemFont(17));
    label->setTextColor(TnqColor::colorWithHexString("#464646"));
    label->setBackgroundColor(pf::Color::clear());
    content->addSubview(label);
    auto button = pf::Button::make(pf::ButtonType::Custom, pf::Rect(width - 80, (44 - 40) / 2.0, 80, 40));
    button->setTag(kChooseTag);
    button->setContentMode(pf::ContentMode::Center);
    std::weak_ptr<ViewController> weak = shared_from_this();
    button->addTarget(
        [weak](pf::Control& sender) {
          if (auto self = selfOf<CurrencySeachViewController>(weak)) self->chooseAction(sender);
        },
        pf::kControlEventTouchUpInside);
    content->addSubview(button);
    content->setBackgroundColor(pf::Color::white(245.0 / 255));
  }
  auto product = productAt(ip);
  auto label = std::static_pointer_cast<pf::Label>(content->viewWithTag(kNameTag));
  label->setText(product ? product->productName : "");
  auto button = std::static_pointer_cast<pf::Button>(content->viewWithTag(kChooseTag));
  TnqUIViewAttribute::setUserBindDictionary(*button, pf::Value{{"row", std::to_string(ip.row)}, {"section", std::to_string(ip.section)}});
  showChosen(*button, product && product->isInterested);
  return cell;
}

std::shared_ptr<pf::View> CurrencySeachViewController::viewForHeaderInSection(pf::TableView&, int section) {
  if (section < 0 || section >= static_cast<int>(tableDataSourceArray_.size())) return nullptr;
  std::weak_ptr<ViewController> weak = shared_from_this();
  return makeGroupHeader(*tableDataSourceArray_[section], section, 5, [weak](pf::Control& sender) {
    if (auto self = selfOf<CurrencySeachViewController>(weak)) self->touchBtnAction(sender);
  });
}

void CurrencySeachViewController::willDisplayCell(pf::TableView& table, pf::TableViewCell& cell, pf::IndexPath) {
  table.separatorInset = pf::EdgeInsets{};
  table.layoutMargins = pf::EdgeInsets{};
  cell.layoutMargins = pf::EdgeInsets{};
}

}  // namespace app
