#pragma once
// Alert views: a title, a message and buttons in a box over the screen, shown in a window of the
// alert level. A user's choice is simulated with clickButtonAtIndex.

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/View.h"

namespace pf {

class AlertView;
class Window;

class AlertViewDelegate {
 public:
  virtual ~AlertViewDelegate() = default;
  virtual void alertViewClickedButtonAtIndex(AlertView& alert, int index) {}
  virtual void willPresentAlertView(AlertView& alert) {}
  virtual void didPresentAlertView(AlertView& alert) {}
  virtual void alertViewWillDismiss(AlertView& alert, int index) {}
  virtual void alertViewDidDismiss(AlertView& alert, int index) {}
};

class AlertView : public View {
 public:
  AlertView(std::string title, std::string message, std::weak_ptr<AlertViewDelegate> delegate,
            std::optional<std::string> cancelButtonTitle, std::vector<std::string> otherButtonTitles = {});
  static std::shared_ptr<AlertView> make(std::string title, std::string message,
                                         std::weak_ptr<AlertViewDelegate> delegate,
                                         std::optional<std::string> cancelButtonTitle,
                                         std::vector<std::string> otherButtonTitles = {});
  std::string className() const override { return "UIAlertView"; }

  std::string title;
  std::string message;
  std::weak_ptr<AlertViewDelegate> delegate;

  int numberOfButtons() const { return static_cast<int>(buttons_.size()); }
  std::string buttonTitleAtIndex(int index) const;
  int cancelButtonIndex() const { return cancelIndex_; }
  int firstOtherButtonIndex() const { return otherButtons_ > 0 ? (cancelIndex_ == 0 ? 1 : 0) : -1; }
  bool isVisible() const { return visible_; }

  void show();
  // The user taps a button: the delegate hears the click, then the alert is dismissed.
  void clickButtonAtIndex(int index);
  void dismissWithClickedButtonIndex(int index, bool animated);

  void drawRect(const Rect& rect) override;
  // A tap on a drawn button clicks it; taps elsewhere on the box do nothing.
  void touchesEnded(const Touch& touch) override;
  // The drawn button at a point (in the alert's coordinates), or -1.
  int buttonIndexAtPoint(Point point) const;

 private:
  std::vector<std::string> buttons_;
  int cancelIndex_ = -1;
  int otherButtons_ = 0;
  bool visible_ = false;
  std::shared_ptr<Window> window_;
};

}  // namespace pf
