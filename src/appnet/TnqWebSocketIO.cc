#include "appnet/TnqWebSocketIO.h"

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/RunLoop.h"

namespace appnet {

std::shared_ptr<TnqWebSocketIO> TnqWebSocketIO::init() { return std::shared_ptr<TnqWebSocketIO>(new TnqWebSocketIO()); }

std::shared_ptr<TnqWebSocketIO> TnqWebSocketIO::initWithUrl(std::string url) {
  auto io = init();
  io->url_ = std::move(url);
  return io;
}

TnqWebSocketIO::~TnqWebSocketIO() {
  clearTimer();
  detachSocket();
}

std::shared_ptr<pf::Timer> TnqWebSocketIO::scheduleTimer(double interval, bool repeats,
                                                         void (TnqWebSocketIO::*action)()) {
  std::weak_ptr<TnqWebSocketIO> weak = weak_from_this();
  auto timer = pf::Timer::make(interval, repeats, [weak, action](pf::Timer&) {
    if (auto self = weak.lock()) ((*self).*action)();
  });
  pf::RunLoop::main()->addTimer(timer, pf::kDefaultRunLoopMode);
  return timer;
}

// ---------------------------------------------------------------- opening

void TnqWebSocketIO::connect() {
  clearTimer();
  connectTimes_ = 0;
  open();
}

void TnqWebSocketIO::openWithURL(std::string url) {
  if (isConnected_) return;
  clearTimer();
  url_ = std::move(url);
  connectTimes_ = 0;
  open();
}

void TnqWebSocketIO::detachSocket() {
  // The old socket is let go and closed; its late callbacks no longer reach anyone.
  if (!webSocket_) return;
  auto old = std::move(webSocket_);
  webSocket_.reset();
  old->setDelegate({});
  old->close();
}

void TnqWebSocketIO::open() {
  ++connectTimes_;
  if (connectTimes_ == 3) {
    if (auto d = delegate_.lock()) d->webSocketDidReceivePongTimeout(*this, true);
    benginReconnect();
    return;
  }
  detachSocket();
  if (!WsURL::parse(url_)) {
    // A URL that cannot make a socket is a failed connection, reported like one (later, on the
    // main queue, as a socket would).
    pf::Value info = pf::Value::object();
    info[pf::kLocalizedDescriptionKey] = "unsupported URL";
    info["NSErrorFailingURLStringKey"] = url_;
    pf::Error error(kWsBadURLErrorDomain, kWsBadURLErrorCode, std::move(info));
    std::weak_ptr<TnqWebSocketIO> weak = weak_from_this();
    const std::int64_t attempt = connectTimes_;
    pf::DispatchQueue::main()->async([weak, error, attempt] {
      auto self = weak.lock();
      if (!self || self->webSocket_ || self->connectTimes_ != attempt) return;
      if (auto d = self->delegate_.lock()) d->webSocketDidFailWithError(*self, error);
      self->connectionLost();
    });
    return;
  }
  webSocket_ = TnqWebSocket::initWithURL(url_);
  webSocket_->setDelegate(weak_from_this());
  webSocket_->open();
}

// ---------------------------------------------------------------- closing and reconnecting

void TnqWebSocketIO::disconnect() {
  closePingTimer();
  closeTimeout();
  closeReconnectTimer();
  close();
}

void TnqWebSocketIO::close() {
  if (webSocket_) webSocket_->close();
  benginReconnect();
}

void TnqWebSocketIO::clearTimer() {
  closeReconnectTimer();
  closePingTimer();
  closeTimeout();
}

void TnqWebSocketIO::benginReconnect() {
  if (!needReconnect_) return;
  isConnected_ = false;
  startReconnectTimer();
}

void TnqWebSocketIO::startReconnectTimer() {
  if (isConnected_) return;
  closeReconnectTimer();
  reconnectTimer_ = scheduleTimer(kReconnectInterval, true, &TnqWebSocketIO::reconnectWebsocketAction);
}

void TnqWebSocketIO::closeReconnectTimer() {
  if (reconnectTimer_ && reconnectTimer_->isValid()) {
    reconnectTimer_->invalidate();
    reconnectTimer_.reset();
  }
}

void TnqWebSocketIO::reconnectWebsocketAction() {
  if (!isConnected_) connect();
}

void TnqWebSocketIO::connectionLost() {
  closePingTimer();
  isConnected_ = false;
  benginReconnect();
}

// ---------------------------------------------------------------- silence and ping

void TnqWebSocketIO::setTimeout() {
  closeTimeout();
  timeout_ = scheduleTimer(kSilenceTimeout, false, &TnqWebSocketIO::onTimeout);
}

void TnqWebSocketIO::closeTimeout() {
  if (timeout_ && timeout_->isValid()) timeout_->invalidate();
  timeout_.reset();
}

void TnqWebSocketIO::onTimeout() {
  // What the peer sent and this thread has not taken yet (the main thread was busy, or the socket
  // stopped reading until it is taken) is no silence of the peer: the timer starts again, and the
  // messages restart it as they arrive.
  if (webSocket_ && (webSocket_->hasDeliveriesWaiting() || webSocket_->isReadingPaused())) {
    setTimeout();
    return;
  }
  disconnect();
  open();
}

void TnqWebSocketIO::beginPingTimer() {
  closePingTimer();
  pingTimer_ = scheduleTimer(kPingInterval, true, &TnqWebSocketIO::timerIntervalPing);
}

void TnqWebSocketIO::timerIntervalPing() {
  if (webSocket_ && webSocket_->readyState() == TnqReadyState::Open) webSocket_->sendPing();
}

void TnqWebSocketIO::closePingTimer() {
  if (pingTimer_ && pingTimer_->isValid()) pingTimer_->invalidate();
  pingTimer_.reset();
}

void TnqWebSocketIO::pingAction() {
  if (isConnected_ && webSocket_) webSocket_->sendPing();
}

bool TnqWebSocketIO::sendMessage(const TnqWebSocketMessage& message) {
  return webSocket_ && webSocket_->send(message);
}

bool TnqWebSocketIO::changeTitle(const std::string& title) { return sendMessage(std::string("#A:") + title); }

// ---------------------------------------------------------------- socket callbacks

void TnqWebSocketIO::webSocketDidOpen(const std::shared_ptr<TnqWebSocket>& socket) {
  if (socket != webSocket_) return;
  if (auto d = delegate_.lock()) d->webSocketDidOpen(*this);
  beginPingTimer();
  isConnected_ = true;
}

void TnqWebSocketIO::webSocketDidReceiveMessage(const std::shared_ptr<TnqWebSocket>& socket,
                                                const TnqWebSocketMessage& message) {
  if (socket != webSocket_) return;
  if (auto d = delegate_.lock()) d->webSocketDidReceiveMessage(*this, message);
  setTimeout();
}

void TnqWebSocketIO::webSocketDidReceivePong(const std::shared_ptr<TnqWebSocket>& socket, const pf::Bytes& payload) {
  if (socket != webSocket_) return;
  if (auto d = delegate_.lock()) d->webSocketDidReceivePong(*this, payload);
  setTimeout();
}

void TnqWebSocketIO::webSocketDidFailWithError(const std::shared_ptr<TnqWebSocket>& socket, const pf::Error& error) {
  if (socket != webSocket_) return;
  if (auto d = delegate_.lock()) d->webSocketDidFailWithError(*this, error);
  connectionLost();
}

void TnqWebSocketIO::webSocketDidCloseWithCode(const std::shared_ptr<TnqWebSocket>& socket, int code,
                                               const std::string& reason, bool wasClean) {
  if (socket != webSocket_) return;
  if (auto d = delegate_.lock()) d->webSocketDidCloseWithCode(*this, code, reason, wasClean);
  connectionLost();
}

}  // namespace appnet
