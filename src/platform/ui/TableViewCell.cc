#include "platform/ui/TableViewCell.h"

#include <algorithm>

#include "platform/foundation/ClassRegistry.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/TableView.h"

namespace pf {

namespace {

const Color kDeleteRed = Color::rgb(1, 0.231, 0.188);

// A red disc with a white bar.
class DeleteControl : public Control {
 public:
  DeleteControl() { setOpaque(false); }
  std::string className() const override { return "UITableViewCellEditControl"; }
  void drawRect(const Rect&) override {
    GraphicsContext* ctx = currentContext();
    if (!ctx) return;
    Rect b = bounds();
    double d = 22;
    Rect disc(b.midX() - d / 2, b.midY() - d / 2, d, d);
    ctx->setFillColor(kDeleteRed);
    ctx->fillEllipse(disc);
    ctx->setFillColor(Color::whiteColor());
    ctx->fillRect(Rect(disc.minX() + 5, disc.midY() - 1, d - 10, 2));
  }
};

// Three grey bars; a drag on it moves the row.
class ReorderControl : public View {
 public:
  explicit ReorderControl(TableViewCell* cell) : cell_(cell) { setOpaque(false); }
  std::string className() const override { return "UITableViewCellReorderControl"; }
  void drawRect(const Rect&) override {
    GraphicsContext* ctx = currentContext();
    if (!ctx) return;
    Rect b = bounds();
    ctx->setFillColor(Color::white(0.68));
    for (int i = -1; i <= 1; ++i) ctx->fillRect(Rect(b.midX() - 9, b.midY() + i * 5 - 1, 18, 2));
  }
  void touchesBegan(const Touch& t) override {
    if (auto table = cell_->table()) table->reorderBegan(*cell_, convertPoint(t.location, table.get()));
  }
  void touchesMoved(const Touch& t) override {
    if (auto table = cell_->table()) table->reorderMoved(convertPoint(t.location, table.get()));
  }
  void touchesEnded(const Touch&) override {
    if (auto table = cell_->table()) table->reorderEnded();
  }
  void touchesCancelled(const Touch&) override {
    if (auto table = cell_->table()) table->reorderEnded();
  }

 private:
  TableViewCell* cell_;  // the cell owns this control
};

}  // namespace

TableViewCell::TableViewCell(TableViewCellStyle style, std::string reuseIdentifier)
    : style_(style), reuseIdentifier_(std::move(reuseIdentifier)) {
  setFrame(Rect(0, 0, 320, 44));
  View::setBackgroundColor(Color::whiteColor());
  contentView_ = View::make(bounds());
  contentView_->setBackgroundColor(Color::clear());
  addSubview(contentView_);
  separator_ = View::make();
  separator_->setHidden(true);
  addSubview(separator_);
}

std::shared_ptr<Label> TableViewCell::textLabel() {
  if (!textLabel_) {
    textLabel_ = Label::make();
    textLabel_->setBackgroundColor(Color::clear());
    contentView_->addSubview(textLabel_);
    setNeedsLayout();
  }
  return textLabel_;
}

void TableViewCell::setBackgroundColor(OptColor color) { View::setBackgroundColor(color); }

void TableViewCell::prepareForReuse() { setShowingDeleteConfirmation(false); }

void TableViewCell::setEditingControls(bool editing, TableViewCellEditingStyle style, bool showsReorder) {
  editing_ = editing;
  editingStyle_ = editing ? style : TableViewCellEditingStyle::None;
  showsReorder_ = editing && showsReorder;
  bool wantsDelete = editingStyle_ == TableViewCellEditingStyle::Delete;
  if (wantsDelete && !deleteControl_) {
    deleteControl_ = std::make_shared<DeleteControl>();
    deleteControl_->addTarget(
        [this](Control&) {
          if (auto t = table()) t->deleteControlTapped(*this);
        },
        kControlEventTouchUpInside);
    addSubview(deleteControl_);
  } else if (!wantsDelete && deleteControl_) {
    deleteControl_->removeFromSuperview();
    deleteControl_.reset();
  }
  if (showsReorder_ && !reorderControl_) {
    reorderControl_ = std::make_shared<ReorderControl>(this);
    addSubview(reorderControl_);
  } else if (!showsReorder_ && reorderControl_) {
    reorderControl_->removeFromSuperview();
    reorderControl_.reset();
  }
  if (!wantsDelete) setShowingDeleteConfirmation(false);
  setNeedsLayout();
}

void TableViewCell::setShowingDeleteConfirmation(bool showing) {
  if (showing == confirming_) return;
  confirming_ = showing;
  if (showing) {
    confirmButton_ = Button::make();
    confirmButton_->setBackgroundColor(kDeleteRed);
    confirmButton_->setTitle("Delete", kControlStateNormal);
    confirmButton_->setTitleColor(Color::whiteColor(), kControlStateNormal);
    confirmButton_->titleLabel()->setFont(Font::systemFont(17));
    confirmButton_->addTarget(
        [this](Control&) {
          if (auto t = table()) t->deleteConfirmed(*this);
        },
        kControlEventTouchUpInside);
    addSubview(confirmButton_);
  } else if (confirmButton_) {
    confirmButton_->removeFromSuperview();
    confirmButton_.reset();
  }
  setNeedsLayout();
}

void TableViewCell::setSeparator(OptColor color, double left, double right) {
  separatorLeft_ = left;
  separatorRight_ = right;
  separator_->setBackgroundColor(color);
  setNeedsLayout();
}

void TableViewCell::layoutSubviews() {
  Rect b = bounds();
  double line = separator_->backgroundColor() ? 0.5 : 0;
  double left = deleteControl_ ? kEditingControlWidth : 0;
  double right = confirming_ ? kDeleteConfirmationWidth : (reorderControl_ ? kReorderControlWidth : 0);
  contentView_->setFrame(Rect(left, 0, std::max(0.0, b.width() - left - right), b.height() - line));
  if (deleteControl_) deleteControl_->setFrame(Rect(0, 0, kEditingControlWidth, b.height() - line));
  if (reorderControl_) {
    reorderControl_->setFrame(Rect(b.width() - kReorderControlWidth, 0, kReorderControlWidth, b.height() - line));
    reorderControl_->setHidden(confirming_);
  }
  if (confirmButton_)
    confirmButton_->setFrame(Rect(b.width() - kDeleteConfirmationWidth, 0, kDeleteConfirmationWidth, b.height() - line));
  if (textLabel_) {
    Rect c = contentView_->bounds();
    double x = layoutMargins.left;
    textLabel_->setFrame(Rect(x, 0, std::max(0.0, c.width() - x - layoutMargins.right), c.height()));
  }
  double sepLeft = std::max(separatorLeft_, layoutMargins.left) + left;
  double sepWidth = b.width() - sepLeft - separatorRight_;
  separator_->setHidden(!separator_->backgroundColor() || sepWidth <= 0);
  separator_->setFrame(Rect(sepLeft, b.height() - line, std::max(0.0, sepWidth), line));
  bringSubviewToFront(separator_.get());
}

void TableViewCell::touchesEnded(const Touch&) {
  if (auto t = table()) t->cellTapped(*this);
}

void registerTableViewCellClasses() {
  auto& classes = ClassRegistry<TableViewCell>::shared();
  if (!classes.contains("UITableViewCell")) classes.add<TableViewCell>("UITableViewCell");
}

}  // namespace pf
