#pragma once
// The application: its delegate, windows and key window, status bar (orientation, style, height),
// the URLs it was asked to open, and the alerts it shows. One shared instance, reset by tests.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
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
// The life cycle's notifications, posted (object: the application) right after the delegate's
// matching call.
inline constexpr const char* kApplicationDidFinishLaunchingNotification = "UIApplicationDidFinishLaunchingNotification";
inline constexpr const char* kApplicationWillResignActiveNotification = "UIApplicationWillResignActiveNotification";
inline constexpr const char* kApplicationDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* kApplicationWillEnterForegroundNotification =
    "UIApplicationWillEnterForegroundNotification";
inline constexpr const char* kApplicationDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";
inline constexpr const char* kApplicationWillTerminateNotification = "UIApplicationWillTerminateNotification";

class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;
  // The delegate's window, when it has that property (nullopt: it has none).
  virtual std::optional<std::shared_ptr<Window>> window() { return std::nullopt; }

  // The open-URL entries, called on the main thread when another application opens one of our
  // URL schemes. nullopt: the delegate does not implement the entry. The entry with the source
  // application is preferred; handleOpenURL is asked only when that one is not implemented.
  virtual std::optional<bool> openURL(const std::string& url, const std::string& sourceApplication,
                                      const Value& annotation) {
    return std::nullopt;
  }
  virtual std::optional<bool> handleOpenURL(const std::string& url) { return std::nullopt; }

  // The life cycle, on the main thread. didFinishLaunchingWithOptions answers whether the launch
  // went well (its answer is kept, not acted on, as on the phone).
  virtual bool didFinishLaunchingWithOptions(const Value& options) { return true; }
  virtual void applicationWillResignActive() {}
  virtual void applicationDidEnterBackground() {}
  virtual void applicationWillEnterForeground() {}
  virtual void applicationDidBecomeActive() {}
  virtual void applicationWillTerminate() {}
};

enum class ApplicationState { Active = 0, Inactive = 1, Background = 2 };

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

  // URLs: the schemes the device can open are the system's (settable) and those of installed
  // applications; a text that does not parse as a URL opens nothing. Every open is recorded.
  bool canOpenURL(const std::string& url) const;
  // Opening an installed application's URL sends ours to the background and runs that
  // application's handler on the main queue.
  bool openURL(const std::string& url);
  void addOpenableScheme(const std::string& scheme) { schemes_.insert(lowercaseScheme(scheme)); }
  const std::vector<std::string>& openedURLs() const { return opened_; }

  // Other applications of the device, reached by their URL schemes (tests install stand-ins).
  // The handler gets the URL and our bundle identifier as its source application.
  using URLHandler = std::function<void(const std::string& url, const std::string& sourceApplication)>;
  void installApplication(const std::string& bundleIdentifier, const std::vector<std::string>& schemes,
                          URLHandler handler);
  void removeApplication(const std::string& bundleIdentifier);

  // Our own schemes: the main bundle's (Info.plist CFBundleURLTypes / CFBundleURLSchemes) and
  // those added here.
  void addOwnURLScheme(const std::string& scheme) { ownSchemes_.insert(lowercaseScheme(scheme)); }
  bool isOwnURLScheme(const std::string& scheme) const;
  // Another application opening a URL of ours: false for a text that is no URL or not of our
  // schemes; otherwise, on the main queue, the delegate's open-URL entry, then we are active.
  bool openURLFromApplication(const std::string& sourceApplication, const std::string& url);

  ApplicationState applicationState() const { return state_; }

  // The life cycle's one road. launch: the delegate becomes the application's, hears
  // didFinishLaunchingWithOptions (then the notification) and the application becomes active
  // (applicationDidBecomeActive). Main thread; answers the delegate's launch answer.
  bool launch(std::shared_ptr<ApplicationDelegate> delegate, const Value& options = Value());
  // launch, then runs the main run loop until terminate(); answers 0.
  static int main(std::shared_ptr<ApplicationDelegate> delegate, const Value& options = Value());
  // Leaving for the background and coming back (the home button; other applications' URLs).
  void enterBackground();
  void enterForeground();
  // applicationWillTerminate and its notification, then the main run loop stops.
  void terminate();

  // The scheme of a URL text (lower case), or nullopt when the text does not parse as a URL:
  // an RFC 3986 scheme, ":", then printable ASCII only (anything else must be percent-escaped).
  static std::optional<std::string> schemeOfURL(const std::string& url);

  // Alerts on screen, oldest first.
  std::vector<std::shared_ptr<AlertView>> visibleAlerts() const { return alerts_; }

  // Back to the initial state (tests): no delegate, no windows, portrait, nothing opened, no
  // other application installed, active.
  void reset();

  // Internal: window and alert bookkeeping.
  void registerWindow(Window* window);
  void unregisterWindow(Window* window);
  void setKeyWindow(Window* window);
  void alertShown(std::shared_ptr<AlertView> alert);
  void alertDismissed(const AlertView* alert);

 private:
  struct InstalledApplication {
    std::string bundleIdentifier;
    URLHandler handler;
  };
  static std::string lowercaseScheme(std::string scheme);
  void becomeActive();
  void tell(void (ApplicationDelegate::*call)(), const char* notification);

  std::shared_ptr<ApplicationDelegate> delegate_;
  std::vector<Window*> windows_;
  std::weak_ptr<Window> keyWindow_;
  InterfaceOrientation orientation_ = InterfaceOrientation::Portrait;
  int statusBarStyle_ = 0;
  bool statusBarHidden_ = false;
  double statusBarHeight_ = 20;
  std::set<std::string> schemes_{"http", "https", "tel", "mailto", "sms"};
  std::vector<std::string> opened_;
  std::map<std::string, InstalledApplication> installed_;  // by scheme
  std::set<std::string> ownSchemes_;
  ApplicationState state_ = ApplicationState::Active;
  std::vector<std::shared_ptr<AlertView>> alerts_;
};

}  // namespace pf
