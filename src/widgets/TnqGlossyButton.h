#pragma once
// Glossy buttons: a button that draws its own background (a rounded shape filled with a grey
// gradient coloured by a tint through an overlay blend, with a border in one of four styles, an
// inner border, an extra gloss, and a translucent mode), and two shapes derived from it: an arrow
// (TnqNavigationButton) and a star-shaped badge (TnqBadgeButton).

#include <memory>
#include <vector>

#include "platform/ui/Button.h"
#include "platform/ui/GraphicsContext.h"

namespace widgets {

class TnqGlossyButton : public pf::Button {
 public:
  explicit TnqGlossyButton(const pf::Rect& frame = pf::Rect());
  static std::shared_ptr<TnqGlossyButton> make(const pf::Rect& frame = pf::Rect()) {
    return std::make_shared<TnqGlossyButton>(frame);
  }

  pf::OptColor tintColor;            // nil: white
  pf::OptColor disabledColor;        // nil: light grey
  pf::OptColor borderColor;          // nil: dark grey
  pf::OptColor disabledBorderColor;  // nil: the border colour
  double buttonCornerRadius = 4.0;
  double buttonBorderWidth = 1.0;
  double innerBorderWidth = 1.0;
  double backgroundOpacity = 1.0;
  pf::EdgeInsets buttonInsets;
  int strokeType = 0;
  int extraShadingType = 0;
  bool invertGraidentOnSelected = false;

  // Types 0 to 4; any other value keeps the gradient.
  void setGradientType(int type);
  const pf::Gradient& gradient() const { return gradient_; }

  void setActionSheetButtonWithColor(const pf::Color& color);
  void setNavigationButtonWithColor(const pf::Color& color);

  // The shape inset by t.
  virtual pf::Path pathForButton(double inset) const;
  // A rectangle inside the shape inset by width (so outside the ring between the shape and that
  // inset), or null when unknown: a subclass that changes the shape overrides both.
  virtual pf::Rect ringHole(double width) const;

  void drawRect(const pf::Rect& rect) override;
  void strokeButton(pf::GraphicsContext& ctx, const pf::Color& color, bool selected);
  void drawTintColorButton(pf::GraphicsContext& ctx, const pf::Color& tint, bool selected);
  void addShading(pf::GraphicsContext& ctx, int type, const pf::Rect& rect);

  // How far stroke type 2 moves the inner shape up: a quarter of the border width, 0.5 to 2.0.
  static double rimOffset(double borderWidth);

 private:
  pf::Gradient gradient_;
};

class TnqNavigationButton : public TnqGlossyButton {
 public:
  using TnqGlossyButton::TnqGlossyButton;
  static std::shared_ptr<TnqNavigationButton> make(const pf::Rect& frame = pf::Rect()) {
    return std::make_shared<TnqNavigationButton>(frame);
  }
  bool leftArrow = false;  // NO points right
  bool isLeftArrow() const { return leftArrow; }

  // round(0.3 x height): the depth of the arrow.
  double arrowDepth() const;
  pf::Path pathForButton(double inset) const override;
  pf::Rect ringHole(double width) const override;
  pf::Rect titleRectForContentRect(const pf::Rect& contentRect) const override;
};

class TnqBadgeButton : public TnqGlossyButton {
 public:
  explicit TnqBadgeButton(const pf::Rect& frame = pf::Rect());
  static std::shared_ptr<TnqBadgeButton> make(const pf::Rect& frame = pf::Rect()) {
    return std::make_shared<TnqBadgeButton>(frame);
  }
  int numberOfEdges = 24;
  double innerRadiusRatio = 0.75;
  pf::Path pathForButton(double inset) const override;
  pf::Rect ringHole(double width) const override;
};

// Label colours for any button: white (or black) normally, light (or dark) grey when highlighted
// or disabled; NO clears the highlighted and disabled colours so they follow the normal one.
void useWhiteLabel(pf::Button& button, bool flag);
void useBlackLabel(pf::Button& button, bool flag);

// The two stock colours.
pf::Color doneButtonColor();
pf::Color navigationBarButtonColor();

}  // namespace widgets
