#pragma once
// A table row: a content view (shifted aside by the editing controls) with a text label made on
// first use, layout margins, a bottom separator placed by its table, and the editing controls: the
// delete control at the left (a red disc with a white bar), whose tap shows the red "Delete"
// confirmation at the right, and the reorder control (three grey bars) at the right of movable
// rows. Cells are made by class name (pf::ClassRegistry<TableViewCell>) and reused by their table.

#include <memory>
#include <string>

#include "platform/ui/Button.h"
#include "platform/ui/Control.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

namespace pf {

class TableView;

enum class TableViewCellStyle { Default = 0 };
enum class TableViewCellEditingStyle { None = 0, Delete = 1, Insert = 2 };

class TableViewCell : public View {
 public:
  static constexpr double kEditingControlWidth = 38;
  static constexpr double kReorderControlWidth = 38;
  static constexpr double kDeleteConfirmationWidth = 82;

  explicit TableViewCell(TableViewCellStyle style = TableViewCellStyle::Default, std::string reuseIdentifier = {});
  std::string className() const override { return "UITableViewCell"; }

  const std::string& reuseIdentifier() const { return reuseIdentifier_; }
  void setReuseIdentifier(std::string identifier) { reuseIdentifier_ = std::move(identifier); }
  TableViewCellStyle style() const { return style_; }

  const std::shared_ptr<View>& contentView() const { return contentView_; }
  // Made on first use, inside the content view, from the left layout margin.
  std::shared_ptr<Label> textLabel();
  EdgeInsets layoutMargins{0, 15, 0, 15};
  void setBackgroundColor(OptColor color) override;

  // Called by the table before the cell is handed out again.
  virtual void prepareForReuse();

  bool isEditing() const { return editing_; }
  TableViewCellEditingStyle editingStyle() const { return editingStyle_; }
  bool showsReorderControl() const { return showsReorder_; }
  bool showingDeleteConfirmation() const { return confirming_; }
  // The controls, present while editing shows them (null otherwise).
  std::shared_ptr<Control> deleteControl() const { return deleteControl_; }
  std::shared_ptr<View> reorderControl() const { return reorderControl_; }
  std::shared_ptr<Button> deleteConfirmationButton() const { return confirmButton_; }

  void layoutSubviews() override;
  void touchesBegan(const Touch& touch) override {}
  void touchesMoved(const Touch& touch) override {}
  void touchesEnded(const Touch& touch) override;
  void touchesCancelled(const Touch& touch) override {}

  // ---- set by the table
  void setTable(const std::shared_ptr<TableView>& table) { table_ = table; }
  std::shared_ptr<TableView> table() const { return table_.lock(); }
  void setEditingControls(bool editing, TableViewCellEditingStyle style, bool showsReorder);
  void setShowingDeleteConfirmation(bool showing);
  // The separator line along the bottom: its left and right insets (hidden when width <= 0).
  void setSeparator(OptColor color, double left, double right);

 private:
  TableViewCellStyle style_;
  std::string reuseIdentifier_;
  std::shared_ptr<View> contentView_;
  std::shared_ptr<Label> textLabel_;
  std::shared_ptr<View> separator_;
  std::shared_ptr<Control> deleteControl_;
  std::shared_ptr<View> reorderControl_;
  std::shared_ptr<Button> confirmButton_;
  std::weak_ptr<TableView> table_;
  double separatorLeft_ = 0;
  double separatorRight_ = 0;
  bool editing_ = false;
  bool showsReorder_ = false;
  bool confirming_ = false;
  TableViewCellEditingStyle editingStyle_ = TableViewCellEditingStyle::None;
};

// Registers the platform's cell class under "UITableViewCell". Idempotent.
void registerTableViewCellClasses();

}  // namespace pf
