#pragma once
// The process's push hub: one reconnecting push connection to "<server>/ws/<subjects>", whose
// text messages go first to the hub's delegate and then to every registered listener in order.
// Main thread only.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "appnet/TnqWebSocketIO.h"
#include "appnet/WebnetLibDelegate.h"
#include "platform/foundation/Value.h"

namespace appnet {

// The application's life-cycle notifications.
inline constexpr const char* kApplicationDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";
inline constexpr const char* kApplicationDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";

class TnqPushWebsocket : public WebSocketIODelegate, public std::enable_shared_from_this<TnqPushWebsocket> {
 public:
  struct ListenerEntry {
    std::string name;  // the listener id
    std::shared_ptr<WebnetLibDelegate> module;
  };

  static std::shared_ptr<TnqPushWebsocket> sharedInstance();
  // Tests: forget the shared hub (its connection is closed and not reconnected).
  static void resetSharedInstance();
  ~TnqPushWebsocket() override;

  // {"url": server base, "title": [subjects]}. Nothing connects yet.
  void registerWebsocket(const pf::Value& info);
  // Opens the push channel "<url>/ws/<title>" (ignored by a connection that is open).
  void connect();
  void setDelegate(std::weak_ptr<WebnetLibDelegate> delegate) { delegate_ = std::move(delegate); }
  std::shared_ptr<WebnetLibDelegate> delegate() const { return delegate_.lock(); }
  // Registers a listener; answers its id "servletID++<n>" (never reused within a run).
  std::string addListener(std::shared_ptr<WebnetLibDelegate> listener);
  // Sends sendCloseSign to every listener with the id and removes it.
  void removeListenerById(const std::string& listenerId);
  // Sends the subscription change message "#A:<title>".
  void changeTitle(const std::string& title);
  // Closes the connection (which then reconnects) and marks the hub not connected.
  void close();
  void didBecomeActive() {}
  void didEnterBackgroud() {}
  // Observes the application becoming active and entering the background (handlers above) in
  // the default notification centre; removeSystemNotification (also run when the hub goes away)
  // stops it.
  void addSystemNotification();
  void removeSystemNotification();
  // Gives a text to every listener that is registered, in order.
  void dispatchMessage(const std::string& text);

  bool isConnected() const { return isConnected_; }
  const std::string& url() const { return url_; }
  const std::string& title() const { return title_; }
  const std::string& custId() const { return custId_; }
  void setCustId(std::string custId) { custId_ = std::move(custId); }
  std::int64_t pushTypeManagerId() const { return pushTypeManagerId_; }
  void setPushTypeManagerId(std::int64_t value) { pushTypeManagerId_ = value; }
  std::int64_t webnetListenerId() const { return webnetListenerId_; }
  const std::vector<ListenerEntry>& servletArray() const { return servletArray_; }
  // The connection (made on first use).
  std::shared_ptr<TnqWebSocketIO> webSocketIO();

  // WebSocketIODelegate
  void webSocketDidReceiveMessage(TnqWebSocketIO& io, const TnqWebSocketMessage& message) override;
  void webSocketDidOpen(TnqWebSocketIO& io) override;
  void webSocketDidFailWithError(TnqWebSocketIO& io, const pf::Error& error) override;
  void webSocketDidCloseWithCode(TnqWebSocketIO& io, int code, const std::string& reason, bool wasClean) override;
  void webSocketDidReceivePongTimeout(TnqWebSocketIO& io, bool timedOut) override;

 private:
  TnqPushWebsocket() = default;

  bool isConnected_ = false;
  std::string custId_;
  std::weak_ptr<WebnetLibDelegate> delegate_;
  std::shared_ptr<TnqWebSocketIO> webSocketIO_;
  std::int64_t pushTypeManagerId_ = 0;
  std::string title_;
  std::string url_;
  std::vector<ListenerEntry> servletArray_;
  std::int64_t webnetListenerId_ = 0;
};

}  // namespace appnet
