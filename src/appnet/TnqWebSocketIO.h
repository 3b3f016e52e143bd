#pragma once
// The push connection: keeps one WebSocket to the push channel open. Pings every 10 s while open,
// reopens after 20 s without a message or pong (once one has arrived; one waiting for the main
// thread has arrived), and while disconnected tries again every 30 s. Runs on the main thread: the sockets report on the main queue and the
// timers are on the main run loop in its default mode.

#include <cstdint>
#include <memory>
#include <string>

#include "appnet/TnqWebSocket.h"
#include "platform/foundation/Timer.h"

namespace appnet {

class TnqWebSocketIO;

// Receives the connection's callbacks; the first argument is the connection, not the socket.
class WebSocketIODelegate {
 public:
  virtual ~WebSocketIODelegate() = default;
  virtual void webSocketDidReceiveMessage(TnqWebSocketIO& io, const TnqWebSocketMessage& message) {}
  virtual void webSocketDidOpen(TnqWebSocketIO& io) {}
  virtual void webSocketDidFailWithError(TnqWebSocketIO& io, const pf::Error& error) {}
  virtual void webSocketDidCloseWithCode(TnqWebSocketIO& io, int code, const std::string& reason, bool wasClean) {}
  virtual void webSocketDidReceivePong(TnqWebSocketIO& io, const pf::Bytes& payload) {}
  virtual void webSocketDidReceivePongTimeout(TnqWebSocketIO& io, bool timedOut) {}
};

// Error of a push URL that is not a usable ws, wss, http or https URL.
inline constexpr const char* kWsBadURLErrorDomain = "NSURLErrorDomain";
inline constexpr std::int64_t kWsBadURLErrorCode = -1000;

class TnqWebSocketIO : public TnqWebSocketDelegate, public std::enable_shared_from_this<TnqWebSocketIO> {
 public:
  static constexpr double kPingInterval = 10.0;
  static constexpr double kSilenceTimeout = 20.0;
  static constexpr double kReconnectInterval = 30.0;

  static std::shared_ptr<TnqWebSocketIO> init();
  static std::shared_ptr<TnqWebSocketIO> initWithUrl(std::string url);
  ~TnqWebSocketIO() override;

  // Stops every timer, restarts the open count and opens.
  void connect();
  // Like connect with a new URL; ignored while connected.
  void openWithURL(std::string url);
  // Makes a new socket (the third open in a row reports a pong time-out instead).
  void open();
  // Stops every timer and closes.
  void disconnect();
  // Closes the current socket and, when asked to, reconnects by the reconnect timer.
  void close();
  void clearTimer();
  void benginReconnect();
  void startReconnectTimer();
  void closeReconnectTimer();
  // Restarts the 20-second silence timer.
  void setTimeout();
  void onTimeout();
  void closePingTimer();

  // send on the current socket; false when there is none or it is not open.
  bool sendMessage(const TnqWebSocketMessage& message);
  // Sends the subscription change message "#A:<title>".
  bool changeTitle(const std::string& title);
  void pingAction();
  void showTips(const std::string&) {}

  void setDelegate(std::weak_ptr<WebSocketIODelegate> delegate) { delegate_ = std::move(delegate); }
  std::shared_ptr<WebSocketIODelegate> delegate() const { return delegate_.lock(); }
  bool isConnected() const { return isConnected_; }
  bool needReconnect() const { return needReconnect_; }
  void setNeedReconnect(bool value) { needReconnect_ = value; }
  const std::shared_ptr<TnqWebSocket>& webSocket() const { return webSocket_; }
  const std::string& url() const { return url_; }
  std::int64_t connectTimes() const { return connectTimes_; }
  double heartbeatTimeout() const { return heartbeatTimeout_; }
  const std::shared_ptr<pf::Timer>& pingTimer() const { return pingTimer_; }
  const std::shared_ptr<pf::Timer>& timeout() const { return timeout_; }
  const std::shared_ptr<pf::Timer>& reconnectTimer() const { return reconnectTimer_; }

  // TnqWebSocketDelegate: callbacks of sockets other than the current one are ignored.
  void webSocketDidReceiveMessage(const std::shared_ptr<TnqWebSocket>& socket,
                                  const TnqWebSocketMessage& message) override;
  void webSocketDidOpen(const std::shared_ptr<TnqWebSocket>& socket) override;
  void webSocketDidFailWithError(const std::shared_ptr<TnqWebSocket>& socket, const pf::Error& error) override;
  void webSocketDidCloseWithCode(const std::shared_ptr<TnqWebSocket>& socket, int code, const std::string& reason,
                                 bool wasClean) override;
  void webSocketDidReceivePong(const std::shared_ptr<TnqWebSocket>& socket, const pf::Bytes& payload) override;

 private:
  TnqWebSocketIO() = default;
  std::shared_ptr<pf::Timer> scheduleTimer(double interval, bool repeats, void (TnqWebSocketIO::*action)());
  void beginPingTimer();
  void timerIntervalPing();
  void reconnectWebsocketAction();
  void closeTimeout();
  void connectionLost();
  void detachSocket();

  bool isConnected_ = false;
  bool needReconnect_ = false;
  std::shared_ptr<TnqWebSocket> webSocket_;
  std::weak_ptr<WebSocketIODelegate> delegate_;
  std::string url_;
  std::int64_t connectTimes_ = 0;
  std::shared_ptr<pf::Timer> pingTimer_;
  double heartbeatTimeout_ = kSilenceTimeout;
  std::shared_ptr<pf::Timer> timeout_;
  std::shared_ptr<pf::Timer> reconnectTimer_;
};

}  // namespace appnet
