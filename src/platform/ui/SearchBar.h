#pragma once
// A search bar: a content child holding the bar's background (class name
// "UISearchBarBackground") and then its text field ("UISearchBarTextField", rounded, with the
// magnifier and a clear button while editing). The delegate hears every text change (typing and
// clearing), the return key as the search button and the cancel button.

#include <memory>
#include <string>

#include "platform/ui/Button.h"
#include "platform/ui/TextField.h"

namespace pf {

class SearchBar;

enum class SearchBarStyle { Default = 0, Prominent = 1, Minimal = 2 };

class SearchBarDelegate {
 public:
  virtual ~SearchBarDelegate() = default;
  virtual void textDidChange(SearchBar& searchBar, const std::string& text) {}
  virtual void searchButtonClicked(SearchBar& searchBar) {}
  virtual void cancelButtonClicked(SearchBar& searchBar) {}
};

class SearchBar : public View {
 public:
  explicit SearchBar(const Rect& frame = Rect());
  static std::shared_ptr<SearchBar> make(const Rect& frame = Rect()) { return std::make_shared<SearchBar>(frame); }
  std::string className() const override { return "UISearchBar"; }

  std::weak_ptr<SearchBarDelegate> delegate;
  const std::string& text() const { return field_->text(); }
  void setText(std::string text) { field_->setText(std::move(text)); }
  const std::string& placeholder() const { return field_->placeholder(); }
  void setPlaceholder(std::string placeholder) { field_->setPlaceholder(std::move(placeholder)); }
  SearchBarStyle searchBarStyle() const { return style_; }
  void setSearchBarStyle(SearchBarStyle style);
  bool showsCancelButton() const { return cancel_ != nullptr; }
  void setShowsCancelButton(bool shows);

  const std::shared_ptr<TextField>& textField() const { return field_; }
  std::shared_ptr<Button> cancelButton() const { return cancel_; }

  void layoutSubviews() override;

 private:
  std::shared_ptr<View> content_;
  std::shared_ptr<View> background_;
  std::shared_ptr<TextField> field_;
  std::shared_ptr<Button> cancel_;
  SearchBarStyle style_ = SearchBarStyle::Default;
};

}  // namespace pf
