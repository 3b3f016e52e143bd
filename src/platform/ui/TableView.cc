#include "platform/ui/TableView.h"

#include <algorithm>
#include <set>

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Format.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/foundation/ThreadChecker.h"

namespace pf {

TableView::TableView(const Rect& frame, TableViewStyle style) : ScrollView(frame), style_(style) {
  registerTableViewCellClasses();
  setBackgroundColor(Color::whiteColor());
}

void TableView::setDelegate(const std::shared_ptr<TableViewDelegate>& d) {
  PF_ASSERT_MAIN_THREAD();
  tableDelegate_ = d;
  delegate = d;
}

void TableView::setTableFooterView(std::shared_ptr<View> footer) {
  PF_ASSERT_MAIN_THREAD();
  if (footer_) footer_->removeFromSuperview();
  footer_ = std::move(footer);
  if (footer_) addSubview(footer_);
  rebuildGeometry();
  setNeedsLayout();
  setNeedsDisplay();
}

void TableView::setEditing(bool editing, bool) {
  PF_ASSERT_MAIN_THREAD();
  editing_ = editing;
  hideDeleteConfirmation();
  for (auto& [ip, cell] : visible_) configureEditing(*cell, ip);
}

// ---- cells

void TableView::registerClass(const std::string& className, const std::string& identifier) {
  PF_ASSERT_MAIN_THREAD();
  registered_[identifier] = className;
}

std::shared_ptr<TableViewCell> TableView::dequeueReusableCellWithIdentifier(const std::string& identifier) {
  PF_ASSERT_MAIN_THREAD();
  auto& pool = pool_[identifier];
  if (!pool.empty()) {
    auto cell = std::move(pool.back());
    pool.pop_back();
    cell->prepareForReuse();
    return cell;
  }
  auto it = registered_.find(identifier);
  if (it == registered_.end()) return nullptr;
  auto cell = ClassRegistry<TableViewCell>::shared().make(it->second);
  if (!cell) return nullptr;
  cell->setReuseIdentifier(identifier);
  cell->layoutMargins.left = layoutMargins.left;
  cell->layoutMargins.right = layoutMargins.right;
  return cell;
}

std::size_t TableView::reusePoolSize() const {
  std::size_t n = 0;
  for (auto& [_, cells] : pool_) n += cells.size();
  return n;
}

void TableView::recycle(const std::shared_ptr<TableViewCell>& cell) {
  cell->removeFromSuperview();
  cell->setAlpha(1);
  if (!cell->reuseIdentifier().empty()) pool_[cell->reuseIdentifier()].push_back(cell);
}

std::shared_ptr<TableViewCell> TableView::makeCell(IndexPath ip) {
  auto ds = dataSource.lock();
  auto cell = ds ? ds->cellForRowAtIndexPath(*this, ip) : nullptr;
  if (!cell)
    throw Exception(kInternalInconsistencyException,
                    "UITableView dataSource must return a cell from tableView:cellForRowAtIndexPath:");
  cell->setTable(std::static_pointer_cast<TableView>(shared_from_this()));
  configureEditing(*cell, ip);
  if (cell->superviewRaw() != this) insertSubview(cell, 0);
  cell->setFrame(slotRect(ip));
  if (auto d = tableDelegate()) d->willDisplayCell(*this, *cell, ip);
  placeSeparator(*cell);
  return cell;
}

void TableView::configureEditing(TableViewCell& cell, IndexPath ip) {
  auto style = TableViewCellEditingStyle::None;
  bool reorder = false;
  if (editing_) {
    auto d = tableDelegate();
    style = d ? d->editingStyleForRowAtIndexPath(*this, ip).value_or(TableViewCellEditingStyle::Delete)
              : TableViewCellEditingStyle::Delete;
    auto ds = dataSource.lock();
    reorder = ds && ds->implementsMoveRow() && ds->canMoveRowAtIndexPath(*this, ip).value_or(true);
  }
  cell.setEditingControls(editing_, style, reorder);
}

void TableView::placeSeparator(TableViewCell& cell) const {
  cell.setSeparator(separatorColor, separatorInset.left, separatorInset.right);
}

// ---- data and geometry

void TableView::rebuildGeometry() {
  auto ds = dataSource.lock();
  auto d = tableDelegate();
  loaded_ = true;
  sections_.clear();
  double y = 0;
  int n = ds ? std::max(0, ds->numberOfSectionsInTableView(*this)) : 0;
  for (int s = 0; s < n; ++s) {
    Section sec;
    sec.top = y;
    sec.headerHeight = std::max(0.0, d ? d->heightForHeaderInSection(*this, s).value_or(sectionHeaderHeight)
                                       : sectionHeaderHeight);
    y += sec.headerHeight;
    int rows = std::max(0, ds->numberOfRowsInSection(*this, s));
    sec.rowTops.reserve(rows);
    sec.rowHeights.reserve(rows);
    for (int r = 0; r < rows; ++r) {
      double h = std::max(0.0, d ? d->heightForRowAtIndexPath(*this, {s, r}).value_or(rowHeight) : rowHeight);
      sec.rowTops.push_back(y);
      sec.rowHeights.push_back(h);
      y += h;
    }
    sec.bottom = y;
    sections_.push_back(std::move(sec));
  }
  if (footer_) {
    Rect f = footer_->frame();
    footer_->setFrame(Rect(0, y, bounds().width(), f.height()));
    y += f.height();
  }
  setContentSize({bounds().width(), y});
}

void TableView::reloadData() {
  PF_ASSERT_MAIN_THREAD();
  reorder_.reset();
  hideDeleteConfirmation();
  for (auto& [_, cell] : visible_) recycle(cell);
  visible_.clear();
  for (auto& [_, header] : headers_) header->removeFromSuperview();
  headers_.clear();
  rebuildGeometry();
  setNeedsLayout();
  setNeedsDisplay();
}

int TableView::numberOfRowsInSection(int section) const {
  if (section < 0 || section >= numberOfSections()) return 0;
  return static_cast<int>(sections_[section].rowTops.size());
}

Rect TableView::rectForRowAtIndexPath(IndexPath ip) const {
  if (ip.section < 0 || ip.section >= numberOfSections()) return Rect();
  auto& sec = sections_[ip.section];
  if (ip.row < 0 || ip.row >= static_cast<int>(sec.rowTops.size())) return Rect();
  return Rect(0, sec.rowTops[ip.row], bounds().width(), sec.rowHeights[ip.row]);
}

Rect TableView::rectForHeaderInSection(int section) const {
  if (section < 0 || section >= numberOfSections()) return Rect();
  auto& sec = sections_[section];
  double y = sec.top;
  double top = bounds().minY() + contentInset.top;
  if (top > y) y = std::min(top, sec.bottom - sec.headerHeight);  // a plain table's header floats
  return Rect(0, y, bounds().width(), sec.headerHeight);
}

Rect TableView::slotRect(IndexPath ip) const {
  Rect r = rectForRowAtIndexPath(ip);
  if (!reorder_) return r;
  const IndexPath from = reorder_->from, to = reorder_->target;
  double h = rectForRowAtIndexPath(from).height();
  if (ip == from) {
    if (to == from) return r;
    auto& sec = sections_[to.section];
    double y;
    if (to.section == from.section)
      y = to.row > from.row ? sec.rowTops[to.row] + sec.rowHeights[to.row] - h : sec.rowTops[to.row];
    else
      y = (to.row < static_cast<int>(sec.rowTops.size()) ? sec.rowTops[to.row] : sec.bottom) -
          (to.section > from.section ? h : 0);
    return Rect(0, y, r.width(), h);
  }
  double dy = 0;
  if (ip > from) dy -= h;
  IndexPath without = ip;
  if (ip.section == from.section && ip.row > from.row) --without.row;
  if (without >= to) dy += h;
  return Rect(r.x(), r.y() + dy, r.width(), r.height());
}

std::optional<IndexPath> TableView::indexPathForRowAtPoint(Point p) const {
  for (int s = 0; s < numberOfSections(); ++s) {
    auto& sec = sections_[s];
    if (p.y < sec.top || p.y >= sec.bottom) continue;
    auto it = std::upper_bound(sec.rowTops.begin(), sec.rowTops.end(), p.y);
    if (it == sec.rowTops.begin()) return std::nullopt;  // on the header
    int r = static_cast<int>(it - sec.rowTops.begin()) - 1;
    if (p.y < sec.rowTops[r] + sec.rowHeights[r]) return IndexPath{s, r};
    return std::nullopt;
  }
  return std::nullopt;
}

std::optional<IndexPath> TableView::proposedIndexPath(double y) const {
  // The row under y (the header counts as row 0; past a section's rows, its end).
  for (int s = 0; s < numberOfSections(); ++s) {
    auto& sec = sections_[s];
    bool last = s + 1 == numberOfSections();
    if (y >= sec.bottom && !last) continue;
    int rows = static_cast<int>(sec.rowTops.size());
    auto it = std::upper_bound(sec.rowTops.begin(), sec.rowTops.end(), y);
    int r = it == sec.rowTops.begin() ? 0 : static_cast<int>(it - sec.rowTops.begin()) - 1;
    if (s == reorder_->from.section) return IndexPath{s, std::min(r, std::max(0, rows - 1))};
    return IndexPath{s, y >= sec.bottom ? rows : std::min(r, rows)};
  }
  return std::nullopt;
}

std::shared_ptr<TableViewCell> TableView::cellForRowAtIndexPath(IndexPath ip) {
  PF_ASSERT_MAIN_THREAD();
  layoutIfNeeded();
  auto it = visible_.find(ip);
  return it == visible_.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<TableViewCell>> TableView::visibleCells() {
  PF_ASSERT_MAIN_THREAD();
  layoutIfNeeded();
  std::vector<std::shared_ptr<TableViewCell>> out;
  for (auto& [_, cell] : visible_) out.push_back(cell);
  return out;
}

std::optional<IndexPath> TableView::indexPathForCell(const TableViewCell& cell) const {
  for (auto& [ip, c] : visible_)
    if (c.get() == &cell) return ip;
  return std::nullopt;
}

std::shared_ptr<View> TableView::headerViewForSection(int section) const {
  auto it = headers_.find(section);
  return it == headers_.end() ? nullptr : it->second;
}

// ---- layout and drawing

void TableView::layoutSubviews() {
  View::layoutSubviews();
  if (!loaded_) rebuildGeometry();
  Rect vis = bounds();
  std::map<IndexPath, std::shared_ptr<TableViewCell>> keep;
  if (reorder_) keep[reorder_->from] = reorder_->cell;
  for (int s = 0; s < numberOfSections(); ++s) {
    auto& sec = sections_[s];
    double h = reorder_ ? rectForRowAtIndexPath(reorder_->from).height() : 0;
    if (sec.bottom + h <= vis.minY() || sec.top - h >= vis.maxY()) continue;
    for (int r = 0; r < static_cast<int>(sec.rowTops.size()); ++r) {
      IndexPath ip{s, r};
      if (reorder_ && ip == reorder_->from) continue;
      Rect slot = slotRect(ip);
      if (slot.maxY() <= vis.minY() || slot.minY() >= vis.maxY()) continue;
      std::shared_ptr<TableViewCell> cell;
      if (auto it = visible_.find(ip); it != visible_.end()) {
        cell = it->second;
        cell->setFrame(slot);
      } else {
        cell = makeCell(ip);
      }
      keep[ip] = cell;
    }
  }
  for (auto& [ip, cell] : visible_)
    if (!keep.count(ip)) recycle(cell);
  visible_ = std::move(keep);

  auto d = tableDelegate();
  std::map<int, std::shared_ptr<View>> headers;
  for (int s = 0; s < numberOfSections(); ++s) {
    auto& sec = sections_[s];
    if (sec.headerHeight <= 0 || sec.bottom <= vis.minY() || sec.top >= vis.maxY()) continue;
    std::shared_ptr<View> header;
    if (auto it = headers_.find(s); it != headers_.end()) header = it->second;
    else if (d) header = d->viewForHeaderInSection(*this, s);
    if (!header) continue;
    header->setFrame(rectForHeaderInSection(s));
    if (header->superviewRaw() != this) addSubview(header);
    bringSubviewToFront(header.get());
    headers[s] = header;
  }
  for (auto& [s, header] : headers_)
    if (!headers.count(s)) header->removeFromSuperview();
  headers_ = std::move(headers);
  if (reorder_) {
    Rect f = reorder_->cell->frame();
    reorder_->cell->setFrame(Rect(f.x(), reorder_->y, f.width(), f.height()));
    bringSubviewToFront(reorder_->cell.get());
  }
}

void TableView::setBounds(const Rect& b) {
  Rect old = bounds();
  ScrollView::setBounds(b);
  if (!(old == b)) {
    if (!(old.size == b.size)) setContentSize({b.width(), contentSize().height});
    setNeedsLayout();
    if (!footer_) setNeedsDisplay();
  }
}

void TableView::drawRect(const Rect&) {
  // The separators of the empty rows below the last one, unless a footer view ends the table.
  GraphicsContext* ctx = currentContext();
  if (!ctx || footer_ || !separatorColor || rowHeight <= 0) return;
  Rect b = bounds();
  double y = sections_.empty() ? 0 : sections_.back().bottom;
  ctx->setFillColor(*separatorColor);
  for (y += rowHeight; y - 0.5 < b.maxY(); y += rowHeight)
    if (y > b.minY()) ctx->fillRect(Rect(separatorInset.left, y - 0.5, b.width() - separatorInset.left, 0.5));
}

bool TableView::touchesShouldCancelInContentView(View& view) {
  for (View* v = &view; v && v != this; v = v->superviewRaw()) {
    auto* cell = dynamic_cast<TableViewCell*>(v->superviewRaw());
    if (cell && cell->reorderControl().get() == v) return false;
  }
  return true;
}

// ---- the cells' controls

void TableView::hideDeleteConfirmation() {
  for (auto& [_, cell] : visible_) cell->setShowingDeleteConfirmation(false);
}

void TableView::cellTapped(TableViewCell& cell) {
  PF_ASSERT_MAIN_THREAD();
  bool wasConfirming = false;
  for (auto& [_, c] : visible_) wasConfirming |= c->showingDeleteConfirmation();
  if (wasConfirming) {
    hideDeleteConfirmation();
    return;
  }
  auto ip = indexPathForCell(cell);
  if (!ip || !(editing_ ? allowsSelectionDuringEditing : allowsSelection)) return;
  if (auto d = tableDelegate()) d->didSelectRowAtIndexPath(*this, *ip);
}

void TableView::deleteControlTapped(TableViewCell& cell) {
  PF_ASSERT_MAIN_THREAD();
  bool show = !cell.showingDeleteConfirmation();
  hideDeleteConfirmation();
  cell.setShowingDeleteConfirmation(show);
}

void TableView::deleteConfirmed(TableViewCell& cell) {
  PF_ASSERT_MAIN_THREAD();
  auto keep = shared_from_this();
  auto ip = indexPathForCell(cell);
  cell.setShowingDeleteConfirmation(false);
  if (!ip) return;
  if (auto ds = dataSource.lock()) ds->commitEditingStyle(*this, cell.editingStyle(), *ip);
}

void TableView::reorderBegan(TableViewCell& cell, Point p) {
  PF_ASSERT_MAIN_THREAD();
  auto ip = indexPathForCell(cell);
  if (!ip || reorder_) return;
  hideDeleteConfirmation();
  auto shared = std::static_pointer_cast<TableViewCell>(cell.shared_from_this());
  reorder_ = Reorder{*ip, *ip, shared, p.y - cell.frame().y(), cell.frame().y()};
  setNeedsLayout();
  layoutIfNeeded();
}

void TableView::reorderMoved(Point p) {
  PF_ASSERT_MAIN_THREAD();
  if (!reorder_) return;
  double h = reorder_->cell->frame().height();
  reorder_->y = std::clamp(p.y - reorder_->grabOffset, 0.0, std::max(0.0, contentSize().height - h));
  if (auto proposed = proposedIndexPath(reorder_->y + h / 2)) {
    IndexPath target = *proposed;
    if (auto d = tableDelegate()) target = d->targetIndexPathForMove(*this, reorder_->from, *proposed).value_or(target);
    int rows = numberOfRowsInSection(target.section);
    int limit = target.section == reorder_->from.section ? rows - 1 : rows;
    if (target.section >= 0 && target.section < numberOfSections() && target.row >= 0 && target.row <= limit)
      reorder_->target = target;
  }
  setNeedsLayout();
  layoutIfNeeded();
}

void TableView::reorderEnded() {
  PF_ASSERT_MAIN_THREAD();
  if (!reorder_) return;
  auto keep = shared_from_this();
  Reorder r = *reorder_;
  Rect slot = slotRect(r.from);
  reorder_.reset();
  if (r.target != r.from) {
    if (auto ds = dataSource.lock()) ds->moveRowAtIndexPath(*this, r.from, r.target);
    // Rows keep their cells in their new order.
    std::map<IndexPath, std::shared_ptr<TableViewCell>> moved;
    for (auto& [ip, cell] : visible_) {
      IndexPath to = ip;
      if (ip == r.from) {
        to = r.target;
      } else {
        IndexPath without = ip;
        if (ip.section == r.from.section && ip.row > r.from.row) --without.row;
        to = without;
        if (to.section == r.target.section && to.row >= r.target.row) ++to.row;
      }
      moved[to] = cell;
    }
    visible_ = std::move(moved);
    rebuildGeometry();
  }
  r.cell->setFrame(Rect(slot.x(), r.y, slot.width(), slot.height()));
  View::animate(0.2, [&] { r.cell->setFrame(slot); });
  setNeedsLayout();
  layoutIfNeeded();
}

// ---- updates

void TableView::beginUpdates() {
  PF_ASSERT_MAIN_THREAD();
  if (updateDepth_++ == 0) pending_.clear();
}

void TableView::endUpdates() {
  PF_ASSERT_MAIN_THREAD();
  if (updateDepth_ == 0) return;
  if (--updateDepth_ > 0) return;
  applyUpdates(std::exchange(pending_, {}));
}

void TableView::insertRowsAtIndexPaths(const std::vector<IndexPath>& ips, TableViewRowAnimation animation) {
  PF_ASSERT_MAIN_THREAD();
  beginUpdates();
  for (auto& ip : ips) pending_.push_back({true, ip, animation});
  endUpdates();
}

void TableView::deleteRowsAtIndexPaths(const std::vector<IndexPath>& ips, TableViewRowAnimation animation) {
  PF_ASSERT_MAIN_THREAD();
  beginUpdates();
  for (auto& ip : ips) pending_.push_back({false, ip, animation});
  endUpdates();
}

namespace {

// The frame and alpha a row animation moves a row from (insert) or to (delete).
Rect animatedFrame(Rect f, TableViewRowAnimation a) {
  switch (a) {
    case TableViewRowAnimation::Right: return Rect(f.x() + f.width(), f.y(), f.width(), f.height());
    case TableViewRowAnimation::Left: return Rect(f.x() - f.width(), f.y(), f.width(), f.height());
    case TableViewRowAnimation::Top: return Rect(f.x(), f.y() - f.height(), f.width(), f.height());
    case TableViewRowAnimation::Bottom: return Rect(f.x(), f.y() + f.height(), f.width(), f.height());
    default: return f;
  }
}

}  // namespace

void TableView::applyUpdates(std::vector<Update> updates) {
  auto keepAlive = shared_from_this();
  auto ds = dataSource.lock();
  int oldSections = numberOfSections();
  int newSections = ds ? std::max(0, ds->numberOfSectionsInTableView(*this)) : 0;
  if (newSections != oldSections)
    throw Exception(kInternalInconsistencyException,
                    format("Invalid update: invalid number of sections.  The number of sections contained in the "
                           "table view after the update (%d) must be equal to the number of sections contained in "
                           "the table view before the update (%d).",
                           newSections, oldSections));
  std::vector<std::set<int>> inserted(oldSections), deleted(oldSections);
  std::map<IndexPath, TableViewRowAnimation> deleteAnimation, insertAnimation;
  std::vector<int> newRows(oldSections);
  for (int s = 0; s < oldSections; ++s) newRows[s] = std::max(0, ds->numberOfRowsInSection(*this, s));
  for (auto& u : updates) {
    int s = u.indexPath.section;
    int limit = s >= 0 && s < oldSections ? (u.insert ? newRows[s] : numberOfRowsInSection(s)) : 0;
    if (u.indexPath.row < 0 || u.indexPath.row >= limit)
      throw Exception(kInternalInconsistencyException,
                      format("attempt to %s row %d %s section %d, but there are only %d rows in section %d %s the update",
                             u.insert ? "insert" : "delete", u.indexPath.row, u.insert ? "into" : "from", s, limit, s,
                             u.insert ? "after" : "before"));
    (u.insert ? inserted : deleted)[s].insert(u.indexPath.row);
    (u.insert ? insertAnimation : deleteAnimation)[u.indexPath] = u.animation;
  }
  for (int s = 0; s < oldSections; ++s) {
    int before = numberOfRowsInSection(s);
    int ins = static_cast<int>(inserted[s].size()), del = static_cast<int>(deleted[s].size());
    if (newRows[s] != before + ins - del)
      throw Exception(kInternalInconsistencyException,
                      format("Invalid update: invalid number of rows in section %d.  The number of rows contained in "
                             "an existing section after the update (%d) must be equal to the number of rows contained "
                             "in that section before the update (%d), plus or minus the number of rows inserted or "
                             "deleted from that section (%d inserted, %d deleted).",
                             s, newRows[s], before, ins, del));
  }
  hideDeleteConfirmation();
  reorder_.reset();

  // Old rows that stay, to their new places.
  std::map<IndexPath, IndexPath> moves;
  for (int s = 0; s < oldSections; ++s) {
    int to = 0;
    for (int r = 0; r < numberOfRowsInSection(s); ++r) {
      if (deleted[s].count(r)) continue;
      while (inserted[s].count(to)) ++to;
      moves[{s, r}] = {s, to++};
    }
  }
  std::map<IndexPath, std::shared_ptr<TableViewCell>> kept;
  std::map<TableViewCell*, Rect> oldFrames;
  std::vector<std::pair<std::shared_ptr<TableViewCell>, TableViewRowAnimation>> dying;
  for (auto& [ip, cell] : visible_) {
    oldFrames[cell.get()] = cell->frame();
    if (auto it = moves.find(ip); it != moves.end()) kept[it->second] = cell;
    else dying.emplace_back(cell, deleteAnimation[ip]);
  }
  visible_ = std::move(kept);
  rebuildGeometry();
  View::performWithoutAnimation([&] { layoutSubviews(); });

  std::vector<std::pair<std::shared_ptr<TableViewCell>, Rect>> finals;
  for (auto& entry : visible_) {
    const auto& ip = entry.first;
    auto& cell = entry.second;
    Rect final = cell->frame();
    if (auto it = oldFrames.find(cell.get()); it != oldFrames.end()) {
      if (it->second == final) continue;
      View::performWithoutAnimation([&] { cell->setFrame(it->second); });
    } else if (auto a = insertAnimation.find(ip); a != insertAnimation.end()) {
      if (a->second == TableViewRowAnimation::None) continue;
      View::performWithoutAnimation([&] {
        cell->setFrame(animatedFrame(final, a->second));
        cell->setAlpha(0);
      });
    } else {
      continue;
    }
    finals.emplace_back(cell, final);
  }
  std::vector<std::shared_ptr<TableViewCell>> gone;
  for (auto& [cell, a] : dying) {
    if (a == TableViewRowAnimation::None) recycle(cell);
    else gone.push_back(cell);
  }
  std::weak_ptr<TableView> weak = std::static_pointer_cast<TableView>(shared_from_this());
  View::animate(
      kRowAnimationDuration,
      [&] {
        for (auto& [cell, f] : finals) {
          cell->setFrame(f);
          cell->setAlpha(1);
        }
        for (auto& [cell, a] : dying) {
          if (a == TableViewRowAnimation::None) continue;
          cell->setFrame(animatedFrame(cell->frame(), a));
          cell->setAlpha(0);
        }
      },
      [weak, gone](bool) {
        auto self = weak.lock();
        for (auto& cell : gone) {
          if (self) self->recycle(cell);
          else cell->removeFromSuperview();
        }
      });
}

}  // namespace pf
