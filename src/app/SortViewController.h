#pragma once
// The watch-list edit screen: the page's groups as table sections whose rows are the favourites,
// always in editing mode (delete and reorder), groups opened and closed by their header's arrow,
// favourites added on the currency search screen, and the edited list handed to the delegate on
// done. Main thread only.

#include <memory>
#include <string>

#include "app/SortModel.h"
#include "app/TnqStyle.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Button.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

namespace app {

class SortViewDelegate {
 public:
  virtual ~SortViewDelegate() = default;
  virtual void sortComplete(const pf::Value& array) = 0;
};

// A cell class that adds nothing to the platform's cell.
class SortTableViewCell : public pf::TableViewCell {
 public:
  std::string className() const override { return "SortTableViewCell"; }
};

// The header of one group, shared by the watch-list and search screens: white, lines along top
// and bottom, the name, a colour mark and the arrow button bound to {"section": section}.
std::shared_ptr<pf::View> makeGroupHeader(const SortModel& group, int section, double arrowRightInset,
                                          std::function<void(pf::Control&)> arrowAction);
// The colour mark of a section: the three colours in turn.
pf::Color groupMarkColor(int section);
// Opens or closes a group of the table's section by its header's arrow: inverts isOpen and, in one
// batch update, inserts rowCount rows from the top with the arrow unrotated, or deletes them to
// the bottom with the arrow rotated by pi.
void toggleGroup(pf::TableView& table, SortModel& group, int section, std::size_t rowCount, pf::Control& arrow);
// The section bound to an arrow or row button, when it is one of count.
std::optional<int> boundIndex(const pf::View& view, const std::string& key, std::size_t count);

class SortViewController : public pf::ViewController,
                           public pf::TableViewDataSource,
                           public pf::TableViewDelegate,
                           public TnqBackActionHandler {
 public:
  static constexpr const char* kCellIdentifier = "productCell";

  std::string className() const override { return "SortViewController"; }

  pf::Value dataSource = pf::Value::object();  // only "all" is read
  std::weak_ptr<SortViewDelegate> delegate;
  GroupList& showDataArray() { return showDataArray_; }
  std::shared_ptr<pf::TableView> mainTableView();
  std::shared_ptr<pf::Button> addButton();

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  bool prefersStatusBarHidden() const override { return false; }
  int preferredStatusBarStyle() const override { return 1; }  // light content

  void backAction(pf::Control* sender) override;
  void addButtonAction(pf::Control& sender);
  void touchBtnAction(pf::Control& sender);
  // A 0.5 s rotation about z from the identity to angle, removed on completion.
  static std::shared_ptr<pf::BasicAnimation> rotateAnimation(double angle);

  // ---- table
  int numberOfSectionsInTableView(pf::TableView& tableView) override;
  int numberOfRowsInSection(pf::TableView& tableView, int section) override;
  std::shared_ptr<pf::TableViewCell> cellForRowAtIndexPath(pf::TableView& tableView, pf::IndexPath indexPath) override;
  std::optional<double> heightForRowAtIndexPath(pf::TableView&, pf::IndexPath) override { return 44; }
  std::optional<double> heightForHeaderInSection(pf::TableView&, int) override { return 44; }
  std::shared_ptr<pf::View> viewForHeaderInSection(pf::TableView& tableView, int section) override;
  void willDisplayCell(pf::TableView& tableView, pf::TableViewCell& cell, pf::IndexPath indexPath) override;
  std::optional<bool> canMoveRowAtIndexPath(pf::TableView&, pf::IndexPath) override { return true; }
  bool implementsMoveRow() const override { return true; }
  std::optional<pf::IndexPath> targetIndexPathForMove(pf::TableView& tableView, pf::IndexPath from,
                                                      pf::IndexPath proposed) override;
  void moveRowAtIndexPath(pf::TableView& tableView, pf::IndexPath from, pf::IndexPath to) override;
  std::optional<pf::TableViewCellEditingStyle> editingStyleForRowAtIndexPath(pf::TableView&, pf::IndexPath) override {
    return pf::TableViewCellEditingStyle::Delete;
  }
  void commitEditingStyle(pf::TableView& tableView, pf::TableViewCellEditingStyle style,
                          pf::IndexPath indexPath) override;
  void didSelectRowAtIndexPath(pf::TableView&, pf::IndexPath) override {}

  // The result handed to the delegate: per group, the favourites in their order, then the
  // products that are no favourites, in input order.
  pf::Value resultArray();

 private:
  GroupList showDataArray_;
  std::shared_ptr<pf::TableView> mainTableView_;
  std::shared_ptr<pf::Button> addButton_;
};

// Registers "SortTableViewCell" with the platform's cell classes. Idempotent.
void registerSortCellClasses();

}  // namespace app
