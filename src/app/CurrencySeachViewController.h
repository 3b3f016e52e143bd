#pragma once
// The currency search screen: every product of the watch-list screen's groups, filtered by the
// search text, with a button per row that makes the product a favourite of its group. It works on
// the watch-list screen's own group objects. Main thread only.

#include <memory>
#include <string>

#include "app/SortModel.h"
#include "app/TnqSearchBar.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

namespace app {

class CurrencySeachViewController : public pf::ViewController,
                                    public pf::TableViewDataSource,
                                    public pf::TableViewDelegate,
                                    public pf::SearchBarDelegate {
 public:
  static constexpr const char* kCellIdentifier = "Cell";
  static constexpr int kNameTag = 101;
  static constexpr int kChooseTag = 100;

  std::string className() const override { return "CurrencySeachViewController"; }

  GroupList allArray;  // set by the opener before the view loads
  const GroupList& handledArray() const { return handledArray_; }
  const GroupList& tableDataSourceArray() const { return tableDataSourceArray_; }
  std::shared_ptr<pf::TableView> tableView();
  std::shared_ptr<TnqSearchBar> searchBar();

  void viewDidLoad() override;
  bool prefersStatusBarHidden() const override { return false; }
  int preferredStatusBarStyle() const override { return 1; }  // light content

  void handleSearch(const std::string& text);
  void resetSearch();
  void touchBtnAction(pf::Control& sender);
  void chooseAction(pf::Control& sender);
  // Marks every product of the chosen one's code in the groups of its name and appends a copy to
  // the group's favourites, skipping those that are favourites already.
  void interestProduct(pf::IndexPath indexPath);

  // ---- search bar and scrolling
  void textDidChange(pf::SearchBar& searchBar, const std::string& text) override;
  void searchButtonClicked(pf::SearchBar& searchBar) override;
  void cancelButtonClicked(pf::SearchBar& searchBar) override;
  void scrollViewDidScroll(pf::ScrollView& scrollView) override;

  // ---- table
  int numberOfSectionsInTableView(pf::TableView& tableView) override;
  int numberOfRowsInSection(pf::TableView& tableView, int section) override;
  std::shared_ptr<pf::TableViewCell> cellForRowAtIndexPath(pf::TableView& tableView, pf::IndexPath indexPath) override;
  std::optional<double> heightForRowAtIndexPath(pf::TableView&, pf::IndexPath) override { return 44; }
  std::optional<double> heightForHeaderInSection(pf::TableView&, int) override { return 44; }
  std::shared_ptr<pf::View> viewForHeaderInSection(pf::TableView& tableView, int section) override;
  void willDisplayCell(pf::TableView& tableView, pf::TableViewCell& cell, pf::IndexPath indexPath) override;
  std::optional<pf::TableViewCellEditingStyle> editingStyleForRowAtIndexPath(pf::TableView&, pf::IndexPath) override {
    return pf::TableViewCellEditingStyle::None;
  }
  void didSelectRowAtIndexPath(pf::TableView&, pf::IndexPath) override {}

 private:
  std::shared_ptr<ProductModel> productAt(pf::IndexPath indexPath) const;

  GroupList handledArray_;
  GroupList tableDataSourceArray_;
  std::shared_ptr<pf::TableView> tableView_;
  std::shared_ptr<TnqSearchBar> searchBar_;
};

}  // namespace app
