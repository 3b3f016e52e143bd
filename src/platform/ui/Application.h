#pragma once
// The application: its delegate, windows and key window, status bar (orientation, style, height),
// the URLs it was asked to open, and the alerts it shows. One shared instance, reset by tests.

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/ui/Geometry.h"

namespace pf {

class Window;
class AlertView;

// Interface orientations with the platform's values.
enum class InterfaceOrientation { Unknown = 0, Portrait = 1, PortraitUpsideDown = 2, LandscapeLeft = 4, LandscapeRight = 3 };
inline bool isLandscape(InterfaceOrientation o) {
  return o == InterfaceOrientation::LandscapeLeft || o == InterfaceOrientation::LandscapeRight;
}

inline constexpr const char* kApplicationDidChangeStatusBarOrientationNotification =
    "UIApplicationDidChangeStatusBarOrientationNotification";

class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;
  // The delegate's window, when it has that property (nullopt: it has none).
  virtual std::optional<std::shared_ptr<Window>> window() { return std::nullopt; }
};

class Application {
 public:
  static Application& shared();

  std::shared_ptr<ApplicationDelegate> delegate() const { return delegate_; }
  void setDelegate(std::shared_ptr<ApplicationDelegate> delegate) { delegate_ = std::move(delegate); }

  // Every live window, in ascending level (creation order within a level).
  std::vector<std::shared_ptr<Window>> windows() const;
  std::vector<std::shared_ptr<Window>> visibleWindows() const;
  std::shared_ptr<Window> keyWindow() const { return keyWindow_.lock(); }

  InterfaceOrientation statusBarOrientation() const { return orientation_; }
  // Posts kApplicationDidChangeStatusBarOrientationNotification when it changes.
  void setStatusBarOrientation(InterfaceOrientation orientation);
  int statusBarStyle() const { return statusBarStyle_; }
  void setStatusBarStyle(int style) { statusBarStyle_ = style; }
  bool isStatusBarHidden() const { return statusBarHidden_; }
  void setStatusBarHidden(bool hidden) { statusBarHidden_ = hidden; }
  // (0, 0, screen width, height); the height is 20 unless set (40 during a call).
  Rect statusBarFrame() const;
  void setStatusBarHeight(double height) { statusBarHeight_ = height; }

  // URLs: the schemes the device can open are settable; every open is recorded.
  bool canOpenURL(const std::string& url) const;
  bool openURL(const std::string& url);
  void addOpenableScheme(const std::string& scheme) { schemes_.insert(scheme); }
  const std::vector<std::string>& openedURLs() const { return opened_; }

  // Alerts on screen, oldest first.
  std::vector<std::shared_ptr<AlertView>> visibleAlerts() const { return alerts_; }

  // Back to the initial state (tests): no delegate, no windows, portrait, nothing opened.
  void reset();

  // Internal: window and alert bookkeeping.
  void registerWindow(Window* window);
  void unregisterWindow(Window* window);
  void setKeyWindow(Window* window);
  void alertShown(std::shared_ptr<AlertView> alert);
  void alertDismissed(const AlertView* alert);

 private:
  std::shared_ptr<ApplicationDelegate> delegate_;
  std::vector<Window*> windows_;
  std::weak_ptr<Window> keyWindow_;
  InterfaceOrientation orientation_ = InterfaceOrientation::Portrait;
  int statusBarStyle_ = 0;
  bool statusBarHidden_ = false;
  double statusBarHeight_ = 20;
  std::set<std::string> schemes_{"http", "https", "tel", "mailto", "sms"};
  std::vector<std::string> opened_;
  std::vector<std::shared_ptr<AlertView>> alerts_;
};

}  // namespace pf
