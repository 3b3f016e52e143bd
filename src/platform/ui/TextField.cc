#include "platform/ui/TextField.h"

#include <algorithm>

#include "platform/foundation/Text.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Path.h"
#include "platform/foundation/ThreadChecker.h"

namespace pf {

namespace {

constexpr double kInset = 7;
constexpr double kGlyph = 14;
constexpr double kClearSize = 22;
const Color kPlaceholderGrey = Color::white(0.7);

// A circle with a handle.
class MagnifierGlyph : public View {
 public:
  MagnifierGlyph() : View(Rect(0, 0, kGlyph, kGlyph)) { setOpaque(false); }
  void drawRect(const Rect&) override {
    GraphicsContext* ctx = currentContext();
    if (!ctx) return;
    ctx->setStrokeColor(Color::white(0.56));
    ctx->setLineWidth(1.5);
    ctx->strokeEllipse(Rect(1, 1, 9, 9));
    ctx->strokeLineSegments({{8.5, 8.5}, {13, 13}});
  }
};

// A grey disc with a white cross.
class ClearButton : public Button {
 public:
  ClearButton() : Button(Rect(0, 0, kClearSize, kClearSize)) { setOpaque(false); }
  void drawRect(const Rect&) override {
    GraphicsContext* ctx = currentContext();
    if (!ctx) return;
    Rect b = bounds();
    Rect disc(b.midX() - 7, b.midY() - 7, 14, 14);
    ctx->setFillColor(Color::white(0.7));
    ctx->fillEllipse(disc);
    ctx->setStrokeColor(Color::whiteColor());
    ctx->setLineWidth(1.5);
    ctx->strokeLineSegments({{disc.minX() + 4, disc.minY() + 4}, {disc.maxX() - 4, disc.maxY() - 4},
                             {disc.maxX() - 4, disc.minY() + 4}, {disc.minX() + 4, disc.maxY() - 4}});
  }
};

}  // namespace

TextField::TextField(const Rect& frame) : Control(frame) {
  setBackgroundColor(Color::clear());
  setOpaque(false);
  label_ = Label::make();
  label_->setBackgroundColor(Color::clear());
  label_->setUserInteractionEnabled(false);
  label_->setTextAlignment(TextAlignment::Left);
  addSubview(label_);
  caret_ = View::make();
  caret_->setBackgroundColor(Color::rgb(0, 0.48, 1));
  caret_->setHidden(true);
  caret_->setUserInteractionEnabled(false);
  addSubview(caret_);
  clearButton_ = std::make_shared<ClearButton>();
  clearButton_->setHidden(true);
  clearButton_->addTarget(
      [this](Control&) {
        if (text_.empty()) return;
        text_.clear();
        textChanged();
      },
      kControlEventTouchUpInside);
  addSubview(clearButton_);
  addTarget([this](Control&) { becomeFirstResponder(); }, kControlEventTouchUpInside);
}

void TextField::setText(std::string text) {
  PF_ASSERT_MAIN_THREAD();
  text_ = std::move(text);
  setNeedsLayout();
  layoutIfNeeded();
}

void TextField::setPlaceholder(std::string placeholder) {
  PF_ASSERT_MAIN_THREAD();
  placeholder_ = std::move(placeholder);
  setNeedsLayout();
}

void TextField::setFont(Font font) {
  PF_ASSERT_MAIN_THREAD();
  font_ = std::move(font);
  setNeedsLayout();
}

void TextField::setTextColor(Color color) {
  PF_ASSERT_MAIN_THREAD();
  textColor_ = color;
  setNeedsLayout();
}

void TextField::setBorderStyle(TextBorderStyle style) {
  PF_ASSERT_MAIN_THREAD();
  border_ = style;
  setNeedsDisplay();
}

void TextField::setShowsMagnifier(bool shows) {
  PF_ASSERT_MAIN_THREAD();
  if (shows == showsMagnifier()) return;
  if (shows) {
    magnifier_ = std::make_shared<MagnifierGlyph>();
    magnifier_->setUserInteractionEnabled(false);
    addSubview(magnifier_);
  } else {
    magnifier_->removeFromSuperview();
    magnifier_.reset();
  }
  setNeedsLayout();
}

bool TextField::clearButtonShown() const {
  if (text_.empty()) return false;
  switch (clearButtonMode) {
    case TextFieldViewMode::Always: return true;
    case TextFieldViewMode::WhileEditing: return isEditing();
    case TextFieldViewMode::UnlessEditing: return !isEditing();
    default: return false;
  }
}

Rect TextField::caretRect() const { return caret_->isHidden() ? Rect() : caret_->frame(); }

void TextField::didBecomeFirstResponder() {
  setNeedsLayout();
  layoutIfNeeded();
  sendActionsForControlEvents(kControlEventEditingDidBegin);
}

void TextField::didResignFirstResponder() {
  setNeedsLayout();
  layoutIfNeeded();
  sendActionsForControlEvents(kControlEventEditingDidEnd);
}

void TextField::textChanged() {
  setNeedsLayout();
  layoutIfNeeded();
  sendActionsForControlEvents(kControlEventEditingChanged);
}

void TextField::insertText(const std::string& text) {
  PF_ASSERT_MAIN_THREAD();
  if (text.empty()) return;
  text_ += text;
  textChanged();
}

void TextField::deleteBackward() {
  PF_ASSERT_MAIN_THREAD();
  if (text_.empty()) return;
  text_ = withoutLastComposedCharacter(text_);
  textChanged();
}

void TextField::returnKeyPressed() { sendActionsForControlEvents(kControlEventEditingDidEndOnExit); }

void TextField::layoutSubviews() {
  Rect b = bounds();
  double left = kInset;
  if (magnifier_) {
    magnifier_->setFrame(Rect(left, b.midY() - kGlyph / 2, kGlyph, kGlyph));
    left += kGlyph + 5;
  }
  bool clear = clearButtonShown();
  clearButton_->setHidden(!clear);
  double right = clear ? kClearSize + 4 : kInset;
  if (clear) clearButton_->setFrame(Rect(b.width() - kClearSize - 4, b.midY() - kClearSize / 2, kClearSize, kClearSize));
  bool placeholder = text_.empty();
  label_->setFont(font_);
  label_->setText(placeholder ? placeholder_ : text_);
  label_->setTextColor(placeholder ? kPlaceholderGrey : textColor_);
  label_->setFrame(Rect(left, 0, std::max(0.0, b.width() - left - right), b.height()));
  bool editing = isEditing();
  caret_->setHidden(!editing);
  if (editing) {
    double textWidth = placeholder ? 0 : std::min(label_->sizeThatFits({1e6, b.height()}).width, label_->bounds().width());
    double h = font_.lineHeight();
    caret_->setFrame(Rect(left + textWidth + 1, b.midY() - h / 2, 2, h));
  }
}

void TextField::drawRect(const Rect&) {
  GraphicsContext* ctx = currentContext();
  if (!ctx || border_ == TextBorderStyle::None) return;
  Rect b = bounds();
  if (border_ == TextBorderStyle::RoundedRect) {
    if (fieldColor) {
      ctx->setFillColor(*fieldColor);
      ctx->addPath(Path::roundedRect(b, 5));
      ctx->fillPath();
    }
    return;
  }
  ctx->setStrokeColor(Color::white(0.6));
  ctx->setLineWidth(1);
  ctx->strokeRect(b.insetBy(0.5, 0.5));
}

}  // namespace pf
