#include "platform/ui/SearchBar.h"
#include "platform/foundation/ThreadChecker.h"

#include <algorithm>

namespace pf {

namespace {

const Color kBarGrey = Color::rgb(0.79, 0.79, 0.81);

class SearchBarBackground : public View {
 public:
  std::string className() const override { return "UISearchBarBackground"; }
};

class SearchBarTextField : public TextField {
 public:
  std::string className() const override { return "UISearchBarTextField"; }
};

}  // namespace

SearchBar::SearchBar(const Rect& frame) : View(frame) {
  if (frame.isEmpty()) setFrame(Rect(frame.origin, Size{320, 44}));
  content_ = View::make(bounds());
  content_->setBackgroundColor(Color::clear());
  addSubview(content_);
  background_ = std::make_shared<SearchBarBackground>();
  background_->setBackgroundColor(kBarGrey);
  content_->addSubview(background_);
  field_ = std::make_shared<SearchBarTextField>();
  field_->setBorderStyle(TextBorderStyle::RoundedRect);
  field_->setShowsMagnifier(true);
  field_->setFont(Font::systemFont(14));
  field_->clearButtonMode = TextFieldViewMode::WhileEditing;
  content_->addSubview(field_);
  auto report = [this](auto call) {
    return [this, call](Control&) {
      auto keep = shared_from_this();
      if (auto d = delegate.lock()) call(*d);
    };
  };
  field_->addTarget(report([this](SearchBarDelegate& d) { d.textDidChange(*this, field_->text()); }),
                    kControlEventEditingChanged);
  field_->addTarget(report([this](SearchBarDelegate& d) { d.searchButtonClicked(*this); }),
                    kControlEventEditingDidEndOnExit);
}

void SearchBar::setSearchBarStyle(SearchBarStyle style) {
  PF_ASSERT_MAIN_THREAD();
  style_ = style;
  background_->setHidden(style == SearchBarStyle::Minimal);
}

void SearchBar::setShowsCancelButton(bool shows) {
  PF_ASSERT_MAIN_THREAD();
  if (shows == showsCancelButton()) return;
  if (shows) {
    cancel_ = Button::make();
    cancel_->setTitle("Cancel", kControlStateNormal);
    cancel_->setTitleColor(Color::rgb(0, 0.48, 1), kControlStateNormal);
    cancel_->addTarget(
        [this](Control&) {
          auto keep = shared_from_this();
          if (auto d = delegate.lock()) d->cancelButtonClicked(*this);
        },
        kControlEventTouchUpInside);
    content_->addSubview(cancel_);
  } else {
    cancel_->removeFromSuperview();
    cancel_.reset();
  }
  setNeedsLayout();
}

void SearchBar::layoutSubviews() {
  Rect b = bounds();
  content_->setFrame(Rect(0, 0, b.width(), b.height()));
  background_->setFrame(content_->bounds());
  double right = cancel_ ? 60 : 0;
  if (cancel_) cancel_->setFrame(Rect(b.width() - right, 0, right, b.height()));
  double h = std::min(28.0, b.height());
  field_->setFrame(Rect(8, (b.height() - h) / 2, std::max(0.0, b.width() - 16 - right), h));
  field_->fieldColor = Color::whiteColor();
}

}  // namespace pf
