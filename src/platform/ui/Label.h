#pragma once
// A label: one or more lines of text in one font and colour, vertically centred in its bounds.

#include <optional>
#include <string>

#include "platform/ui/Font.h"
#include "platform/ui/View.h"

namespace pf {

class Label : public View {
 public:
  explicit Label(const Rect& frame = Rect());
  static std::shared_ptr<Label> make(const Rect& frame = Rect()) { return std::make_shared<Label>(frame); }
  std::string className() const override { return "UILabel"; }

  const std::string& text() const { return text_; }
  void setText(std::string text);
  const Font& font() const { return font_; }
  void setFont(Font font);
  const Color& textColor() const { return textColor_; }
  void setTextColor(Color color);
  TextAlignment textAlignment() const { return alignment_; }
  void setTextAlignment(TextAlignment alignment);
  int numberOfLines() const { return lines_; }
  void setNumberOfLines(int lines);
  LineBreakMode lineBreakMode() const { return lineBreak_; }
  void setLineBreakMode(LineBreakMode mode);
  bool adjustsFontSizeToFitWidth() const { return adjusts_; }
  void setAdjustsFontSizeToFitWidth(bool on) { adjusts_ = on; }
  OptColor shadowColor() const { return shadowColor_; }
  void setShadowColor(OptColor color);
  Size shadowOffset() const { return shadowOffset_; }
  void setShadowOffset(Size offset);
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled);

  // The rectangle the text takes in the bounds (centred vertically).
  Rect textRect() const;
  Size sizeThatFits(Size size) const override;
  void drawRect(const Rect& rect) override;

 private:
  Size textSize(double width) const;
  std::string text_;
  Font font_ = Font::systemFont(17);
  Color textColor_ = Color::black();
  TextAlignment alignment_ = TextAlignment::Natural;
  int lines_ = 1;
  LineBreakMode lineBreak_ = LineBreakMode::TruncateTail;
  bool adjusts_ = false;
  OptColor shadowColor_;
  Size shadowOffset_{0, -1};
  bool enabled_ = true;
};

}  // namespace pf
