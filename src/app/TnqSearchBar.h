#pragma once
// The search screen's bar: the platform's background taken out and the text field laid anew.

#include <memory>

#include "platform/ui/SearchBar.h"

namespace app {

class TnqSearchBar : public pf::SearchBar {
 public:
  using pf::SearchBar::SearchBar;
  static std::shared_ptr<TnqSearchBar> make(const pf::Rect& frame = pf::Rect()) {
    return std::make_shared<TnqSearchBar>(frame);
  }

  // A hidden plain black view made on first use; making it clears the bar's background and takes
  // out the platform's background view (only that view, whatever comes first).
  std::shared_ptr<pf::View> bgView();
  // Takes out the first child of the bar's first child when it is the platform's background.
  void removePlatformBackground();
  // The text fields among the children of the bar's child views: 50 points narrower than the
  // screen, 30 high, at (10, 7).
  void layoutSubviews() override;

 private:
  std::shared_ptr<pf::View> bgView_;
};

}  // namespace app
