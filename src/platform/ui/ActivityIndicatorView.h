#pragma once
// The spinning activity indicator: twelve spokes turning on the clock while animating.

#include "platform/ui/View.h"

namespace pf {

enum class ActivityIndicatorStyle { WhiteLarge = 0, White = 1, Gray = 2 };

class ActivityIndicatorView : public View {
 public:
  explicit ActivityIndicatorView(ActivityIndicatorStyle style = ActivityIndicatorStyle::White);
  static std::shared_ptr<ActivityIndicatorView> make(ActivityIndicatorStyle style = ActivityIndicatorStyle::White) {
    return std::make_shared<ActivityIndicatorView>(style);
  }
  std::string className() const override { return "UIActivityIndicatorView"; }

  ActivityIndicatorStyle style() const { return style_; }
  void setStyle(ActivityIndicatorStyle style);
  Color color() const { return color_; }
  void setColor(const Color& color);
  bool hidesWhenStopped() const { return hidesWhenStopped_; }
  void setHidesWhenStopped(bool on);

  void startAnimating();
  void stopAnimating();
  bool isAnimating() const { return animating_; }

  Size sizeThatFits(Size size) const override;
  void drawRect(const Rect& rect) override;

 private:
  ActivityIndicatorStyle style_;
  Color color_;
  bool hidesWhenStopped_ = true;
  bool animating_ = false;
  double started_ = 0;
};

}  // namespace pf
