#pragma once
// The first responder and the on-screen keyboard. While a text input is first responder in the
// key window (shown), a 216-point panel window lies along the bottom of the main screen and
// renders; typing is injected: committed UTF-8 text (any script, no input method), a backspace
// that removes one user-perceived character, and the return key. The panel follows the
// responder's window: it goes when another window becomes key or that window is hidden (and comes
// back with it), and the responder resigns when its window goes or a presented controller covers
// it. Main thread only.

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

  // Each answers false (and does nothing) while the keyboard is not up; typeText also refuses
  // text that is not valid UTF-8.
  bool typeText(std::string_view utf8);
  bool deleteBackward();
  bool pressReturn();

  // Tests: no first responder, no panel.
  void reset();

  // Internal (View): the responder changes.
  bool makeFirstResponder(View& view);
  bool resign(View& view);
  // Internal (Window, Application): a window is going (its first responder resigns), or the key
  // window or a window's visibility changed (the panel shows or goes).
  void windowWillGo(Window& window);
  void windowsDidChange();

 private:
  // The first responder when it takes text, whether or not the keyboard is up.
  TextInput* input() const;
  // The text input that the keyboard serves: the first responder's, in the key window, shown.
  TextInput* served() const;
  void show();
  void hide();

  std::weak_ptr<View> responder_;
  std::shared_ptr<Window> window_;
};

}  // namespace pf
