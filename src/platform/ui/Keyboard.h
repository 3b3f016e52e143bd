#pragma once
// The first responder and the on-screen keyboard. While a text input is first responder, a
// 216-point panel window lies along the bottom of the main screen and renders; typing is
// injected: committed UTF-8 text (any script, no input method), a backspace that removes one
// user-perceived character, and the return key. Main thread only.

#include <memory>
#include <string>
#include <string_view>

#include "platform/ui/Window.h"

namespace pf {

// A view that takes typed text.
class TextInput {
 public:
  virtual ~TextInput() = default;
  virtual void insertText(const std::string& text) = 0;
  virtual void deleteBackward() = 0;
  virtual void returnKeyPressed() = 0;
};

class Keyboard {
 public:
  static constexpr double kHeight = 216;
  static constexpr double kWindowLevel = 1;

  static Keyboard& shared();

  std::shared_ptr<View> firstResponder() const { return responder_.lock(); }
  bool isVisible() const { return window_ != nullptr; }
  // The panel while shown.
  std::shared_ptr<Window> window() const { return window_; }

  // Each answers false (and does nothing) without a text input as first responder; typeText also
  // refuses text that is not valid UTF-8.
  bool typeText(std::string_view utf8);
  bool deleteBackward();
  bool pressReturn();

  // Tests: no first responder, no panel.
  void reset();

  // Internal (View): the responder changes.
  bool makeFirstResponder(View& view);
  bool resign(View& view);

 private:
  TextInput* input() const;
  void show();
  void hide();

  std::weak_ptr<View> responder_;
  std::shared_ptr<Window> window_;
};

}  // namespace pf
