#pragma once
// A plain table: a scroll view of sections of rows with floating section headers, laid out from
// its data source and delegate, showing only the visible rows through cells reused per identifier.
// Editing shows the cells' delete and reorder controls; row inserts and deletes animate on the
// clock inside beginUpdates/endUpdates, whose counts are checked against the data source.
// Main thread only.

#include <compare>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/ScrollView.h"
#include "platform/ui/TableViewCell.h"

namespace pf {

class TableView;

struct IndexPath {
  int section = 0;
  int row = 0;
  static IndexPath forRow(int row, int section) { return IndexPath{section, row}; }
  auto operator<=>(const IndexPath&) const = default;
};

enum class TableViewStyle { Plain = 0 };
// The platform's row animations by value.
enum class TableViewRowAnimation { Fade = 0, Right = 1, Left = 2, Top = 3, Bottom = 4, None = 5, Middle = 6 };

class TableViewDataSource {
 public:
  virtual ~TableViewDataSource() = default;
  virtual int numberOfSectionsInTableView(TableView& tableView) { return 1; }
  virtual int numberOfRowsInSection(TableView& tableView, int section) = 0;
  virtual std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView& tableView, IndexPath indexPath) = 0;
  // nullopt: not implemented (every row may move when moveRowAtIndexPath is implemented).
  virtual std::optional<bool> canMoveRowAtIndexPath(TableView& tableView, IndexPath indexPath) { return std::nullopt; }
  // Whether moveRowAtIndexPath is implemented: only then do rows show the reorder control.
  virtual bool implementsMoveRow() const { return false; }
  virtual void moveRowAtIndexPath(TableView& tableView, IndexPath from, IndexPath to) {}
  virtual void commitEditingStyle(TableView& tableView, TableViewCellEditingStyle style, IndexPath indexPath) {}
};

// The table's delegate is also its scroll view delegate.
class TableViewDelegate : public ScrollViewDelegate {
 public:
  // nullopt: not implemented (the table's rowHeight / sectionHeaderHeight).
  virtual std::optional<double> heightForRowAtIndexPath(TableView& tableView, IndexPath indexPath) { return std::nullopt; }
  virtual std::optional<double> heightForHeaderInSection(TableView& tableView, int section) { return std::nullopt; }
  virtual std::shared_ptr<View> viewForHeaderInSection(TableView& tableView, int section) { return nullptr; }
  virtual void willDisplayCell(TableView& tableView, TableViewCell& cell, IndexPath indexPath) {}
  // nullopt: not implemented (delete for every row while editing).
  virtual std::optional<TableViewCellEditingStyle> editingStyleForRowAtIndexPath(TableView& tableView,
                                                                                IndexPath indexPath) {
    return std::nullopt;
  }
  // nullopt: not implemented (the proposed place is taken).
  virtual std::optional<IndexPath> targetIndexPathForMove(TableView& tableView, IndexPath from, IndexPath proposed) {
    return std::nullopt;
  }
  virtual void didSelectRowAtIndexPath(TableView& tableView, IndexPath indexPath) {}
};

class TableView : public ScrollView {
 public:
  static constexpr double kRowAnimationDuration = 0.3;

  explicit TableView(const Rect& frame = Rect(), TableViewStyle style = TableViewStyle::Plain);
  static std::shared_ptr<TableView> make(const Rect& frame = Rect(), TableViewStyle style = TableViewStyle::Plain) {
    return std::make_shared<TableView>(frame, style);
  }
  std::string className() const override { return "UITableView"; }
  TableViewStyle style() const { return style_; }

  std::weak_ptr<TableViewDataSource> dataSource;
  std::shared_ptr<TableViewDelegate> tableDelegate() const { return tableDelegate_.lock(); }
  // Also the scroll view delegate.
  void setDelegate(const std::shared_ptr<TableViewDelegate>& delegate);

  double rowHeight = 44;
  double sectionHeaderHeight = 0;
  EdgeInsets separatorInset{0, 15, 0, 0};
  EdgeInsets layoutMargins{0, 15, 0, 15};
  OptColor separatorColor = Color{0.78, 0.78, 0.8, 1};
  bool allowsSelection = true;
  bool allowsSelectionDuringEditing = false;

  // Below the last section; while one is set no separators are drawn below the last row.
  std::shared_ptr<View> tableFooterView() const { return footer_; }
  void setTableFooterView(std::shared_ptr<View> footer);

  bool isEditing() const { return editing_; }
  void setEditing(bool editing, bool animated = false);

  // ---- cells
  // Cells of the identifier are made from the class registered under className.
  void registerClass(const std::string& className, const std::string& identifier);
  // A cell from the identifier's pool, else a new one of its registered class, else null.
  std::shared_ptr<TableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier);
  std::size_t reusePoolSize() const;

  // ---- data and geometry
  void reloadData();
  int numberOfSections() const { return static_cast<int>(sections_.size()); }
  int numberOfRowsInSection(int section) const;
  // The visible cell of the row, or null.
  std::shared_ptr<TableViewCell> cellForRowAtIndexPath(IndexPath indexPath);
  std::vector<std::shared_ptr<TableViewCell>> visibleCells();
  std::optional<IndexPath> indexPathForCell(const TableViewCell& cell) const;
  // In content coordinates.
  std::optional<IndexPath> indexPathForRowAtPoint(Point point) const;
  Rect rectForRowAtIndexPath(IndexPath indexPath) const;
  Rect rectForHeaderInSection(int section) const;
  // The visible header of the section, or null.
  std::shared_ptr<View> headerViewForSection(int section) const;

  // ---- updates
  void beginUpdates();
  // Throws pf::Exception kInternalInconsistencyException when the data source's counts do not
  // match the counts before plus the inserts minus the deletes.
  void endUpdates();
  void insertRowsAtIndexPaths(const std::vector<IndexPath>& indexPaths, TableViewRowAnimation animation);
  void deleteRowsAtIndexPaths(const std::vector<IndexPath>& indexPaths, TableViewRowAnimation animation);

  void layoutSubviews() override;
  void setBounds(const Rect& bounds) override;
  void drawRect(const Rect& rect) override;
  bool touchesShouldCancelInContentView(View& view) override;

  // ---- from the cells' controls
  void cellTapped(TableViewCell& cell);
  void deleteControlTapped(TableViewCell& cell);
  void deleteConfirmed(TableViewCell& cell);
  void reorderBegan(TableViewCell& cell, Point inTable);
  void reorderMoved(Point inTable);
  void reorderEnded();
  bool isReordering() const { return reorder_.has_value(); }

 private:
  struct Section {
    double top = 0;
    double headerHeight = 0;
    std::vector<double> rowTops;  // content y of each row's top
    std::vector<double> rowHeights;
    double bottom = 0;
  };
  struct Update {
    bool insert;
    IndexPath indexPath;
    TableViewRowAnimation animation;
  };
  struct Reorder {
    IndexPath from;
    IndexPath target;
    std::shared_ptr<TableViewCell> cell;
    double grabOffset;  // finger y minus the cell's top at the start
    double y;           // the lifted cell's top
  };

  void rebuildGeometry();
  Rect slotRect(IndexPath indexPath) const;  // where the row shows (moved aside while reordering)
  void recycle(const std::shared_ptr<TableViewCell>& cell);
  std::shared_ptr<TableViewCell> makeCell(IndexPath indexPath);
  void configureEditing(TableViewCell& cell, IndexPath indexPath);
  void placeSeparator(TableViewCell& cell) const;
  void hideDeleteConfirmation();
  void applyUpdates(std::vector<Update> updates);
  std::optional<IndexPath> proposedIndexPath(double y) const;

  TableViewStyle style_;
  std::weak_ptr<TableViewDelegate> tableDelegate_;
  std::vector<Section> sections_;
  std::map<IndexPath, std::shared_ptr<TableViewCell>> visible_;
  std::map<int, std::shared_ptr<View>> headers_;
  std::map<std::string, std::vector<std::shared_ptr<TableViewCell>>> pool_;
  std::map<std::string, std::string> registered_;  // identifier -> class name
  std::shared_ptr<View> footer_;
  std::vector<Update> pending_;
  int updateDepth_ = 0;
  bool editing_ = false;
  bool loaded_ = false;  // the data source was asked at least once
  std::optional<Reorder> reorder_;
};

}  // namespace pf
