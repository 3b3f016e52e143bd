#include "app/SortViewController.h"

#include <cmath>

#include "app/CurrencySeachViewController.h"
#include "app/TnqColor.h"
#include "app/TnqUIViewAttribute.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/ui/Image.h"
#include "platform/ui/Label.h"
#include "platform/foundation/ThreadChecker.h"

namespace app {

namespace {

std::shared_ptr<pf::View> line(double y, double width) {
  auto v = pf::View::make(pf::Rect(0, y, width, 0.5));
  v->setBackgroundColor(pf::Color::white(0.85));
  return v;
}

}  // namespace

pf::Color groupMarkColor(int section) {
  static const char* const kColors[] = {"#2e83ee", "#ff8320", "#1bac41"};
  return TnqColor::colorWithHexString(kColors[static_cast<unsigned>(section) % 3]);
}

std::shared_ptr<pf::View> makeGroupHeader(const SortModel& group, int section, double arrowRightInset,
                                          std::function<void(pf::Control&)> arrowAction) {
  double width = TnqStyle::orientedScreenSize().width;
  auto header = pf::View::make(pf::Rect(0, 0, width, 44));
  header->setBackgroundColor(pf::Color::whiteColor());
  header->addSubview(line(0, width));
  header->addSubview(line(43.5, width));
  auto name = pf::Label::make(pf::Rect(15, 0, 200, 40));
  name->setTextAlignment(pf::TextAlignment::Left);
  name->setFont(pf::Font::systemFont(18));
  name->setText(group.productName);
  header->addSubview(name);
  auto mark = pf::View::make(pf::Rect(0, 12, 4, 20));
  mark->setBackgroundColor(groupMarkColor(section));
  header->addSubview(mark);
  auto arrow = pf::Button::make(pf::ButtonType::Custom, pf::Rect(width - 40 - arrowRightInset, 0, 40, 40));
  arrow->setBackgroundColor(pf::Color::clear());
  arrow->setImage(pf::Image::named("icon_velmor_arrow"), pf::kControlStateNormal);
  arrow->imageEdgeInsets = pf::EdgeInsets{16, 13, 16, 13};
  TnqUIViewAttribute::setUserBindDictionary(*arrow, pf::Value{{"section", section}});
  arrow->addTarget(std::move(arrowAction), pf::kControlEventTouchUpInside);
  header->addSubview(arrow);
  return header;
}

std::optional<int> boundIndex(const pf::View& view, const std::string& key, std::size_t count) {
  auto bound = TnqUIViewAttribute::userBindDictionary(view);
  if (!bound || !bound->is_object() || !bound->contains(key)) return std::nullopt;
  auto value = pf::integerValue((*bound)[key]);
  if (value < 0 || static_cast<std::size_t>(value) >= count) return std::nullopt;
  return static_cast<int>(value);
}

void toggleGroup(pf::TableView& table, SortModel& group, int section, std::size_t rowCount, pf::Control& arrow) {
  group.isOpen = !group.isOpen;
  std::vector<pf::IndexPath> rows;
  for (std::size_t r = 0; r < rowCount; ++r) rows.push_back({section, static_cast<int>(r)});
  table.beginUpdates();
  if (group.isOpen) {
    arrow.setTransform(pf::AffineTransform::identity());
    table.insertRowsAtIndexPaths(rows, pf::TableViewRowAnimation::Top);
  } else {
    arrow.setTransform(pf::AffineTransform::rotation(M_PI));
    arrow.layer().addAnimation(SortViewController::rotateAnimation(M_PI), "transform");
    table.deleteRowsAtIndexPaths(rows, pf::TableViewRowAnimation::Bottom);
  }
  table.endUpdates();
}

void registerSortCellClasses() {
  pf::registerTableViewCellClasses();
  auto& classes = pf::ClassRegistry<pf::TableViewCell>::shared();
  if (!classes.contains("SortTableViewCell")) classes.add<SortTableViewCell>("SortTableViewCell");
}

// ---- building

std::shared_ptr<pf::TableView> SortViewController::mainTableView() {
  if (!mainTableView_) {
    auto table = pf::TableView::make();
    auto self = std::static_pointer_cast<SortViewController>(shared_from_this());
    table->dataSource = std::static_pointer_cast<pf::TableViewDataSource>(self);
    table->setDelegate(std::static_pointer_cast<pf::TableViewDelegate>(self));
    table->setBackgroundColor(pf::Color::white(245.0 / 255));
    table->setTableFooterView(pf::View::make());
    table->allowsSelectionDuringEditing = true;
    table->setEditing(true, true);
    mainTableView_ = table;
  }
  return mainTableView_;
}

std::shared_ptr<pf::Button> SortViewController::addButton() {
  if (!addButton_) {
    addButton_ = pf::Button::make(pf::ButtonType::Custom);
    addButton_->setImage(pf::Image::named("icon_velmor_add"), pf::kControlStateNormal);
    std::weak_ptr<ViewController> weak = shared_from_this();
    addButton_->addTarget(
        [weak](pf::Control& sender) {
          if (auto self = std::static_pointer_cast<SortViewController>(weak.lock())) self->addButtonAction(sender);
        },
        pf::kControlEventTouchUpInside);
  }
  return addButton_;
}

void SortViewController::viewDidLoad() {
  PF_ASSERT_MAIN_THREAD();
  TnqStyle::redNavigationBarWithTitle(*this, "编辑自选");
  if (auto done = std::dynamic_pointer_cast<pf::Button>(view()->viewWithTag(TnqStyle::kRedBackButtonTag))) {
    done->setTitle("完成", pf::kControlStateNormal);
    done->setImage(nullptr, pf::kControlStateNormal);
    pf::Rect f = done->frame();
    done->setFrame(pf::Rect(f.origin, pf::Size{35, f.height()}));
    done->titleLabel()->setFont(pf::Font::systemFont(15));
  }
  auto all = dataSource.is_object() && dataSource.contains("all") ? dataSource["all"] : pf::Value();
  for (auto& group : groupsFromArray(all)) showDataArray_.push_back(group);

  pf::Size screen = TnqStyle::orientedScreenSize();
  auto table = mainTableView();
  view()->addSubview(table);
  table->setFrame(pf::Rect(0, 64, screen.width, screen.height - 64));
  auto add = addButton();
  view()->addSubview(add);
  add->setFrame(pf::Rect(screen.width - 10 - 20, 30, 20, 20));
}

void SortViewController::viewWillAppear(bool) { mainTableView()->reloadData(); }

// ---- actions

pf::Value SortViewController::resultArray() {
  pf::Value array = pf::Value::array();
  for (auto& group : showDataArray_) {
    auto list = std::make_shared<ProductList>(*group->interstProducts);
    for (auto& product : *group->products)
      if (!product->isInterested) list->push_back(product);
    group->products = list;
    array.push_back(group->JSONObj());
  }
  return array;
}

void SortViewController::backAction(pf::Control*) {
  PF_ASSERT_MAIN_THREAD();
  auto keep = shared_from_this();
  if (auto d = delegate.lock()) d->sortComplete(resultArray());
  if (auto nav = navigationController()) nav->popViewController(true);
}

void SortViewController::addButtonAction(pf::Control&) {
  PF_ASSERT_MAIN_THREAD();
  auto search = std::make_shared<CurrencySeachViewController>();
  search->allArray = showDataArray_;
  if (auto nav = navigationController()) nav->pushViewController(search, true);
}

std::shared_ptr<pf::BasicAnimation> SortViewController::rotateAnimation(double angle) {
  auto a = pf::BasicAnimation::make("transform");
  a->fromValue = pf::Transform3D::identity();
  a->toValue = pf::Transform3D::rotation(angle, 0, 0, 1);
  a->duration = 0.5;
  a->removedOnCompletion = true;
  return a;
}

void SortViewController::touchBtnAction(pf::Control& sender) {
  PF_ASSERT_MAIN_THREAD();
  auto section = boundIndex(sender, "section", showDataArray_.size());
  if (!section) return;
  auto& group = *showDataArray_[*section];
  toggleGroup(*mainTableView(), group, *section, group.interstProducts->size(), sender);
}

// ---- table

int SortViewController::numberOfSectionsInTableView(pf::TableView&) { return static_cast<int>(showDataArray_.size()); }

int SortViewController::numberOfRowsInSection(pf::TableView&, int section) {
  if (section < 0 || section >= static_cast<int>(showDataArray_.size())) return 0;
  auto& group = *showDataArray_[section];
  return group.isOpen ? static_cast<int>(group.interstProducts->size()) : 0;
}

std::shared_ptr<pf::TableViewCell> SortViewController::cellForRowAtIndexPath(pf::TableView& table, pf::IndexPath ip) {
  auto cell = table.dequeueReusableCellWithIdentifier(kCellIdentifier);
  if (!cell) {
    table.registerClass("UITableViewCell", kCellIdentifier);
    cell = table.dequeueReusableCellWithIdentifier(kCellIdentifier);
  }
  auto grey = TnqColor::colorWithHexString("#f5f5f5");
  cell->contentView()->setBackgroundColor(grey);
  cell->setBackgroundColor(grey);
  auto& favourites = *showDataArray_[ip.section]->interstProducts;
  cell->textLabel()->setText(ip.row < static_cast<int>(favourites.size()) ? favourites[ip.row]->productName : "");
  cell->textLabel()->setTextColor(TnqColor::colorWithHexString("#464646"));
  return cell;
}

std::shared_ptr<pf::View> SortViewController::viewForHeaderInSection(pf::TableView&, int section) {
  if (section < 0 || section >= static_cast<int>(showDataArray_.size())) return nullptr;
  std::weak_ptr<ViewController> weak = shared_from_this();
  return makeGroupHeader(*showDataArray_[section], section, 0, [weak](pf::Control& sender) {
    if (auto self = std::static_pointer_cast<SortViewController>(weak.lock())) self->touchBtnAction(sender);
  });
}

void SortViewController::willDisplayCell(pf::TableView& table, pf::TableViewCell& cell, pf::IndexPath) {
  table.separatorInset = pf::EdgeInsets{};
  table.layoutMargins = pf::EdgeInsets{};
  cell.layoutMargins = pf::EdgeInsets{};
}

std::optional<pf::IndexPath> SortViewController::targetIndexPathForMove(pf::TableView&, pf::IndexPath from,
                                                                         pf::IndexPath proposed) {
  return proposed.section != from.section ? from : proposed;
}

void SortViewController::moveRowAtIndexPath(pf::TableView&, pf::IndexPath from, pf::IndexPath to) {
  PF_ASSERT_MAIN_THREAD();
  if (from.section != to.section || from.row == to.row) return;
  if (from.section < 0 || from.section >= static_cast<int>(showDataArray_.size())) return;
  auto& favourites = *showDataArray_[from.section]->interstProducts;
  int n = static_cast<int>(favourites.size());
  if (from.row < 0 || from.row >= n || to.row < 0 || to.row >= n) return;
  auto moved = favourites[from.row];
  favourites.erase(favourites.begin() + from.row);
  favourites.insert(favourites.begin() + to.row, moved);
}

void SortViewController::commitEditingStyle(pf::TableView& table, pf::TableViewCellEditingStyle style,
                                            pf::IndexPath ip) {
  if (style != pf::TableViewCellEditingStyle::Delete) return;
  if (ip.section < 0 || ip.section >= static_cast<int>(showDataArray_.size())) return;
  auto& group = *showDataArray_[ip.section];
  auto& favourites = *group.interstProducts;
  if (ip.row < 0 || ip.row >= static_cast<int>(favourites.size())) return;
  auto removed = favourites[ip.row];
  favourites.erase(favourites.begin() + ip.row);
  for (auto& product : *group.products)
    if (product->isRecordOf(*removed)) product->isInterested = false;
  table.beginUpdates();
  table.deleteRowsAtIndexPaths({ip}, pf::TableViewRowAnimation::Right);
  table.endUpdates();
}

}  // namespace app
