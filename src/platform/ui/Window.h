#pragma once
// Windows: root views shown on the screen in the order of their levels. A window is hidden until
// shown (makeKeyAndVisible or setHidden(false)); the application keeps a weak list of windows
// and one key window.

#include <memory>

#include "platform/ui/View.h"

namespace pf {

class ViewController;

inline constexpr double kWindowLevelNormal = 0;
inline constexpr double kWindowLevelStatusBar = 1000;
inline constexpr double kWindowLevelAlert = 2000;

class Window : public View {
 public:
  explicit Window(const Rect& frame = Rect());
  ~Window() override;
  static std::shared_ptr<Window> make(const Rect& frame = Rect());
  std::string className() const override { return "UIWindow"; }

  double windowLevel() const { return level_; }
  void setWindowLevel(double level) { level_ = level; }

  std::shared_ptr<ViewController> rootViewController() const { return root_; }
  // The controller's view fills the window.
  virtual void setRootViewController(std::shared_ptr<ViewController> controller);

  void makeKeyAndVisible();
  void makeKey();
  bool isKeyWindow() const;
  void setHidden(bool hidden) override;

  // Simulated touches, in window coordinates: the hit view's nearest enabled tap recognizer
  // (asked through its delegate) gets a recognised tap; without one, the nearest enabled control
  // sends its touch-up-inside actions; otherwise the hit view gets touchesBegan and touchesEnded.
  // Returns the hit view.
  std::shared_ptr<View> tapAt(Point point);

 private:
  double level_ = kWindowLevelNormal;
  std::shared_ptr<ViewController> root_;
};

}  // namespace pf
