#include "app/TnqSearchBar.h"

#include "app/TnqStyle.h"

namespace app {

std::shared_ptr<pf::View> TnqSearchBar::bgView() {
  if (!bgView_) {
    bgView_ = pf::View::make();
    bgView_->setBackgroundColor(pf::Color::black());
    bgView_->setHidden(true);
    setBackgroundColor(pf::Color::clear());
    removePlatformBackground();
  }
  return bgView_;
}

void TnqSearchBar::removePlatformBackground() {
  if (subviews().empty()) return;
  auto first = subviews().front();
  if (first->subviews().empty()) return;
  auto background = first->subviews().front();
  if (background->className() == "UISearchBarBackground") background->removeFromSuperview();
}

void TnqSearchBar::layoutSubviews() {
  pf::SearchBar::layoutSubviews();
  double width = TnqStyle::orientedScreenSize().width - 50;
  for (auto& child : subviews())
    for (auto& view : child->subviews())
      if (dynamic_cast<pf::TextField*>(view.get())) view->setFrame(pf::Rect(10, 7, width, 30));
}

}  // namespace app
