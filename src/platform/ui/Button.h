#pragma once
// A button: title, title colour, image and background image per control state (a state without
// its own value shows the normal one), content, title and image insets, and target-action.
// The title label and image view are subviews laid out by layoutSubviews.

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Control.h"
#include "platform/ui/Font.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"

namespace pf {

enum class ButtonType { Custom = 0, System = 1, DetailDisclosure = 2, InfoLight = 3, InfoDark = 4, ContactAdd = 5 };

class Button : public Control {
 public:
  explicit Button(const Rect& frame = Rect(), ButtonType type = ButtonType::Custom);
  static std::shared_ptr<Button> make(ButtonType type = ButtonType::Custom, const Rect& frame = Rect()) {
    return std::make_shared<Button>(frame, type);
  }
  std::string className() const override { return "UIButton"; }

  ButtonType buttonType() const { return type_; }

  void setTitle(std::optional<std::string> title, unsigned state);
  std::optional<std::string> titleForState(unsigned state) const;
  void setTitleColor(OptColor color, unsigned state);
  OptColor titleColorForState(unsigned state) const;
  void setImage(std::shared_ptr<Image> image, unsigned state);
  std::shared_ptr<Image> imageForState(unsigned state) const;
  void setBackgroundImage(std::shared_ptr<Image> image, unsigned state);
  std::shared_ptr<Image> backgroundImageForState(unsigned state) const;

  std::optional<std::string> currentTitle() const { return titleForState(state()); }
  Color currentTitleColor() const;
  std::shared_ptr<Image> currentImage() const { return imageForState(state()); }

  std::shared_ptr<Label> titleLabel();
  std::shared_ptr<ImageView> imageView();

  EdgeInsets contentEdgeInsets;
  EdgeInsets titleEdgeInsets;
  EdgeInsets imageEdgeInsets;

  virtual Rect contentRectForBounds(const Rect& bounds) const;
  virtual Rect titleRectForContentRect(const Rect& contentRect) const;
  virtual Rect imageRectForContentRect(const Rect& contentRect) const;

  void layoutSubviews() override;
  void drawRect(const Rect& rect) override;
  Size sizeThatFits(Size size) const override;

 protected:
  void stateDidChange() override;

 private:
  template <class T>
  static std::optional<T> lookup(const std::map<unsigned, T>& m, unsigned state);
  Size titleSize() const;

  ButtonType type_;
  std::map<unsigned, std::string> titles_;
  std::map<unsigned, Color> titleColors_;
  std::map<unsigned, std::shared_ptr<Image>> images_;
  std::map<unsigned, std::shared_ptr<Image>> backgrounds_;
  std::shared_ptr<Label> titleLabel_;
  std::shared_ptr<ImageView> imageView_;
};

}  // namespace pf
