#include "platform/ui/Keyboard.h"

#include "platform/foundation/Text.h"
#include "platform/ui/Font.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Path.h"
#include "platform/ui/Screen.h"
#include "platform/foundation/ThreadChecker.h"

namespace pf {

namespace {

// Three rows of letter keys and a row with the space bar, in the platform's light greys.
class KeyboardPanel : public Window {
 public:
  using Window::Window;
  std::string className() const override { return "UIRemoteKeyboardWindow"; }
  void drawRect(const Rect&) override {
    GraphicsContext* ctx = currentContext();
    if (!ctx) return;
    Rect b = bounds();
    ctx->setFillColor(Color::rgb(0.82, 0.835, 0.86));
    ctx->fillRect(b);
    static constexpr std::string_view kRows[] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
    double gap = 6, keyWidth = (b.width() - gap * 11) / 10, keyHeight = 42, top = 10;
    const Font font = Font::systemFont(20);
    auto key = [&](const Rect& r, const std::string& label) {
      ctx->setFillColor(Color::whiteColor());
      ctx->addPath(Path::roundedRect(r, 5));
      ctx->fillPath();
      text::DrawOptions caption;
      caption.alignment = TextAlignment::Center;
      caption.numberOfLines = 1;
      const double y = r.minY() + (r.height() - font.lineHeight()) / 2;
      text::draw(*ctx, label, font, Rect(r.minX(), y, r.width(), font.lineHeight()), caption);
    };
    for (int row = 0; row < 3; ++row) {
      const auto letters = kRows[row];
      const double n = static_cast<double>(letters.size());
      double x = (b.width() - n * keyWidth - (n - 1) * gap) / 2;
      for (std::size_t k = 0; k < letters.size(); ++k)
        key(Rect(x + static_cast<double>(k) * (keyWidth + gap), top + row * (keyHeight + 12), keyWidth, keyHeight),
            std::string(1, letters[k]));
    }
    key(Rect(b.width() * 0.25, top + 3 * (keyHeight + 12), b.width() * 0.5, keyHeight), "space");
  }
};

}  // namespace

Keyboard& Keyboard::shared() {
  static Keyboard* keyboard = new Keyboard();  // windows may go as late as the process's end
  return *keyboard;
}

TextInput* Keyboard::input() const {
  auto view = responder_.lock();
  return view ? dynamic_cast<TextInput*>(view.get()) : nullptr;
}

TextInput* Keyboard::served() const {
  auto view = responder_.lock();
  TextInput* in = input();
  if (!in) return nullptr;
  auto window = view->window();
  return window && window->isKeyWindow() && !window->isHidden() ? in : nullptr;
}

void Keyboard::windowsDidChange() {
  if (served())
    show();
  else
    hide();
}

void Keyboard::windowWillGo(Window& window) {
  PF_ASSERT_MAIN_THREAD();
  if (&window == window_.get()) return;
  if (auto view = responder_.lock(); view && view->isDescendantOf(&window)) {
    resign(*view);
    return;
  }
  windowsDidChange();
}

// The panel is in place (or gone) before it is shown (or hidden): showing and hiding a window tell
// the keyboard again.
void Keyboard::show() {
  if (window_) return;
  Rect screen = Screen::main()->bounds();
  auto panel = std::make_shared<KeyboardPanel>(Rect(0, screen.height() - kHeight, screen.width(), kHeight));
  panel->setWindowLevel(kWindowLevel);
  window_ = panel;
  panel->setHidden(false);
}

void Keyboard::hide() {
  if (auto panel = std::move(window_)) panel->setHidden(true);
}

bool Keyboard::makeFirstResponder(View& view) {
  PF_ASSERT_MAIN_THREAD();
  auto current = responder_.lock();
  if (current.get() == &view) return true;
  if (!view.canBecomeFirstResponder() || !view.window()) return false;
  if (current && !resign(*current)) return false;
  responder_ = view.shared_from_this();
  windowsDidChange();
  view.didBecomeFirstResponder();
  return true;
}

bool Keyboard::resign(View& view) {
  PF_ASSERT_MAIN_THREAD();
  auto current = responder_.lock();
  if (current.get() != &view) return false;
  responder_.reset();
  hide();
  view.didResignFirstResponder();
  return true;
}

bool Keyboard::typeText(std::string_view utf8) {
  PF_ASSERT_MAIN_THREAD();
  auto keep = responder_.lock();
  TextInput* in = window_ ? served() : nullptr;
  if (!in || !isValidUtf8(utf8)) return false;
  in->insertText(std::string(utf8));
  return true;
}

bool Keyboard::deleteBackward() {
  PF_ASSERT_MAIN_THREAD();
  auto keep = responder_.lock();
  TextInput* in = window_ ? served() : nullptr;
  if (!in) return false;
  in->deleteBackward();
  return true;
}

bool Keyboard::pressReturn() {
  PF_ASSERT_MAIN_THREAD();
  auto keep = responder_.lock();
  TextInput* in = window_ ? served() : nullptr;
  if (!in) return false;
  in->returnKeyPressed();
  return true;
}

void Keyboard::reset() {
  PF_ASSERT_MAIN_THREAD();
  responder_.reset();
  hide();
}

// ---- View's first-responder operations

bool View::becomeFirstResponder() { return Keyboard::shared().makeFirstResponder(*this); }

bool View::resignFirstResponder() { return Keyboard::shared().resign(*this); }

bool View::isFirstResponder() const { return Keyboard::shared().firstResponder().get() == this; }

bool View::endEditing(bool) {
  auto responder = Keyboard::shared().firstResponder();
  if (!responder || !(responder.get() == this || responder->isDescendantOf(this))) return true;
  return responder->resignFirstResponder();
}

}  // namespace pf
