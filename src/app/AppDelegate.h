#pragma once
// The application delegate: the start-up order, the launch image under a progress overlay while the
// container negotiates keys and checks its manifest, the menu and page update, and the first page.
// Main thread only; results that arrive elsewhere are taken on the main queue.

#include <memory>
#include <string>

#include "app/PylUpdateManager.h"
#include "app/ViewController.h"
#include "container/MwWebview.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Window.h"

namespace app {

inline constexpr const char* kHandshakeFailureText = "服务器连接失败，请检查网络后重启应用";
inline constexpr const char* kLaunchAnimationKey = "scale-opacity-layer";
inline constexpr const char* kLaunchImageName = "launchImage";

class AppDelegate : public pf::ApplicationDelegate,
                    public PylUpdateDelegate,
                    public std::enable_shared_from_this<AppDelegate> {
 public:
  AppDelegate() = default;
  ~AppDelegate() override;

  // ---- application delegate
  bool didFinishLaunchingWithOptions(const pf::Value& options) override;
  std::optional<bool> handleOpenURL(const std::string& url) override;
  std::optional<bool> openURL(const std::string& url, const std::string& sourceApplication,
                              const pf::Value& annotation) override;
  std::optional<std::shared_ptr<pf::Window>> window() override { return window_; }

  // ---- observers of the start-up notifications
  void registFirstTimeHandshakeNotification();
  void registCheckManifestNotification();
  void removeHandshakeNotification();
  void removeCheckManifestNotifcation();
  bool observesHandshake() const { return handshakeToken_ != 0; }
  bool observesManifest() const { return manifestToken_ != 0; }
  // Only a dictionary is acted on: "result" 0 stops observing the handshake, 1 ends the start-up
  // with the failure text over the launch image.
  void handShakeResult(const pf::Notification& notification);
  // Starts the menu and page update, whatever the number.
  void didCheckManifestResult(const pf::Notification& notification);

  // ---- update delegate
  void benginDownloadHTML() override;
  void downloadProgress(double fraction) override;
  void updateCompelete() override;

  // The launch image zooms, slides down and fades over a second, then leaves the window.
  void removeLaunch();
  void animationDidStart() {}
  void animationDidStop(bool finished);

  std::shared_ptr<pf::Window> mainWindow() const { return window_; }
  std::shared_ptr<pf::NavigationController> nav() const { return nav_; }
  std::shared_ptr<ViewController> viewController() const { return viewController_; }
  std::shared_ptr<container::MwWebview> gestureWebview() const { return gestureWebview_; }
  void setGestureWebview(std::shared_ptr<container::MwWebview> webview) { gestureWebview_ = std::move(webview); }
  // Made on first use: the main screen's bounds with the bundle image "launchImage".
  std::shared_ptr<pf::ImageView> launchImageView();

 private:
  std::shared_ptr<pf::Window> window_;
  std::shared_ptr<pf::NavigationController> nav_;
  std::shared_ptr<ViewController> viewController_;
  std::shared_ptr<container::MwWebview> gestureWebview_;
  std::shared_ptr<pf::ImageView> launchImageView_;
  pf::ObserverToken handshakeToken_ = 0;
  pf::ObserverToken manifestToken_ = 0;
};

// The program's entry: the application's main loop with an AppDelegate; answers what it answers.
int applicationMain();

}  // namespace app
