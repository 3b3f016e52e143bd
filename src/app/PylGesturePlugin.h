#pragma once
// "gesture.do" and the gesture lock. "registerGesture" arms the lock with the lock page's address
// ("gestureURL"); from then on each return of the application to the foreground lays that page
// over the whole window (once: a lock already shown stays the only one). "unregisterGesture"
// disarms it (a lock page shown stays); "hideGesture" (called by the lock page itself) removes the
// page. Every operation is answered at once, empty. Main thread only.

#include <memory>
#include <string>

#include "app/PylPlugin.h"
#include "platform/foundation/NotificationCenter.h"

namespace container {
class MwWebview;
class MwWebviewStatusDelegate;
}

namespace app {

class PylGestureManger {
 public:
  static PylGestureManger& sharedInstance();
  // Tests: disarmed, no page, no address, observing nothing.
  static void resetForTesting();

  // Keeps the address and (re)starts observing the returns to the foreground.
  void setURL(const std::string& url);
  // The page tree the lock page is opened from (Documents/release).
  static std::string pageRoot();
  // Whether the address names a page inside the page tree: what registration accepts.
  static bool isLockPage(const std::string& url);
  void applicationWillEnterForeground(const pf::Notification& notification);
  // Lays the lock page over the application delegate's window (nothing when one is shown). When
  // the page then fails to load, the lock is taken away again (and logged): it would cover the
  // window with nothing to end it. The lock stays armed.
  void openGestureView();
  // Takes the lock page away; the view is let go only after the current main-queue turn, so a
  // call of the lock page itself completes.
  void removeGestureView();
  void registNotification();
  void removeNotification();

  bool needGesture() const { return needGesture_; }
  void setNeedGesture(bool value) { needGesture_ = value; }
  const std::shared_ptr<container::MwWebview>& gestureWebview() const { return gestureWebview_; }
  void setGestureWebview(std::shared_ptr<container::MwWebview> view) { gestureWebview_ = std::move(view); }
  const std::string& gestureURL() const { return gestureURL_; }
  void setGestureURL(std::string url) { gestureURL_ = std::move(url); }

 private:
  PylGestureManger() = default;

  void lockPageFailed(const std::shared_ptr<container::MwWebview>& view);

  bool needGesture_ = false;
  std::shared_ptr<container::MwWebview> gestureWebview_;
  std::shared_ptr<container::MwWebviewStatusDelegate> loadWatcher_;  // of gestureWebview_
  std::string gestureURL_;
  pf::ObserverToken observer_ = 0;
};

class GesturePlugin : public PylPlugin {
 public:
  bool handleRequest(const container::MwServletRequest& request) override;

  void registGesture(const std::string& url);
  void unregistGesture();
  void hideGesture();
};

}  // namespace app
