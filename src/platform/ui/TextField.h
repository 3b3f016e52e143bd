#pragma once
// A one-line text field: text or a grey placeholder in a font and colour, an optional rounded
// border, an optional magnifier glyph at the left, a caret and a clear button while editing. A tap
// makes it first responder (which brings the keyboard); typing sends the editing events.

#include <memory>
#include <string>

#include "platform/ui/Button.h"
#include "platform/ui/Control.h"
#include "platform/ui/Font.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/Label.h"

namespace pf {

enum class TextBorderStyle { None = 0, Line = 1, Bezel = 2, RoundedRect = 3 };
enum class TextFieldViewMode { Never = 0, WhileEditing = 1, UnlessEditing = 2, Always = 3 };

class TextField : public Control, public TextInput {
 public:
  explicit TextField(const Rect& frame = Rect());
  static std::shared_ptr<TextField> make(const Rect& frame = Rect()) { return std::make_shared<TextField>(frame); }
  std::string className() const override { return "UITextField"; }

  const std::string& text() const { return text_; }
  // Sets the text without editing events.
  void setText(std::string text);
  const std::string& placeholder() const { return placeholder_; }
  void setPlaceholder(std::string placeholder);
  const Font& font() const { return font_; }
  void setFont(Font font);
  const Color& textColor() const { return textColor_; }
  void setTextColor(Color color);
  TextBorderStyle borderStyle() const { return border_; }
  void setBorderStyle(TextBorderStyle style);
  // The fill inside a rounded border.
  OptColor fieldColor = Color::whiteColor();
  TextFieldViewMode clearButtonMode = TextFieldViewMode::Never;
  bool showsMagnifier() const { return magnifier_ != nullptr; }
  void setShowsMagnifier(bool shows);

  bool isEditing() const { return isFirstResponder(); }
  std::shared_ptr<Button> clearButton() const { return clearButton_; }
  // The caret's rectangle, while editing.
  Rect caretRect() const;

  bool canBecomeFirstResponder() const override { return isEnabled(); }
  void didBecomeFirstResponder() override;
  void didResignFirstResponder() override;
  // TextInput: each change sends kControlEventEditingChanged; return sends EditingDidEndOnExit.
  void insertText(const std::string& text) override;
  void deleteBackward() override;
  void returnKeyPressed() override;

  void layoutSubviews() override;
  void drawRect(const Rect& rect) override;

 private:
  void textChanged();
  bool clearButtonShown() const;

  std::string text_;
  std::string placeholder_;
  Font font_ = Font::systemFont(17);
  Color textColor_ = Color::black();
  TextBorderStyle border_ = TextBorderStyle::None;
  std::shared_ptr<Label> label_;
  std::shared_ptr<View> caret_;
  std::shared_ptr<View> magnifier_;
  std::shared_ptr<Button> clearButton_;
};

}  // namespace pf
