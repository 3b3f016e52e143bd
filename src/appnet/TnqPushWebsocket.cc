#include "appnet/TnqPushWebsocket.h"

#include "platform/foundation/Format.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/SharedInstance.h"

namespace appnet {

namespace {
pf::SharedInstance<TnqPushWebsocket> gShared;
}  // namespace

std::shared_ptr<TnqPushWebsocket> TnqPushWebsocket::sharedInstance() {
  return gShared.get([] { return std::shared_ptr<TnqPushWebsocket>(new TnqPushWebsocket()); });
}

void TnqPushWebsocket::resetSharedInstance() {
  std::shared_ptr<TnqPushWebsocket> old = gShared.exchange(nullptr);
  if (old && old->webSocketIO_) {
    old->webSocketIO_->setNeedReconnect(false);
    old->webSocketIO_->disconnect();
  }
}

TnqPushWebsocket::~TnqPushWebsocket() { removeSystemNotification(); }

void TnqPushWebsocket::addSystemNotification() {
  auto& center = pf::NotificationCenter::defaultCenter();
  std::weak_ptr<TnqPushWebsocket> weak = weak_from_this();
  center.addObserver(this, kApplicationDidBecomeActiveNotification, {}, [weak](const pf::Notification&) {
    if (auto self = weak.lock()) self->didBecomeActive();
  });
  center.addObserver(this, kApplicationDidEnterBackgroundNotification, {}, [weak](const pf::Notification&) {
    if (auto self = weak.lock()) self->didEnterBackgroud();
  });
}

void TnqPushWebsocket::removeSystemNotification() {
  pf::NotificationCenter::defaultCenter().removeObserver(static_cast<const void*>(this));
}

std::shared_ptr<TnqWebSocketIO> TnqPushWebsocket::webSocketIO() {
  if (!webSocketIO_) {
    webSocketIO_ = TnqWebSocketIO::init();
    webSocketIO_->setNeedReconnect(true);
    webSocketIO_->setDelegate(weak_from_this());
  }
  return webSocketIO_;
}

void TnqPushWebsocket::registerWebsocket(const pf::Value& info) {
  url_.clear();
  title_.clear();
  if (!info.is_object()) return;
  if (const auto it = info.find("url"); it != info.end() && it->is_string()) url_ = it->get<std::string>();
  if (const auto it = info.find("title"); it != info.end()) {
    if (it->is_array()) {
      std::vector<std::string> parts;
      for (const auto& subject : *it) parts.push_back(pf::format("%@", subject));
      for (std::size_t i = 0; i < parts.size(); ++i) title_ += i + 1 < parts.size() ? parts[i] + "/" : parts[i];
    } else if (it->is_string()) {
      // A single text (the plug-in passes "" when the page gives no subjects) is one subject.
      title_ = it->get<std::string>();
    }
  }
}

void TnqPushWebsocket::connect() {
  // The listener numbering goes on across connects, so an id is never handed out twice.
  webSocketIO()->openWithURL(pf::format("%@/ws/%@", url_, title_));
}

std::string TnqPushWebsocket::addListener(std::shared_ptr<WebnetLibDelegate> listener) {
  ++webnetListenerId_;
  std::string id = pf::format("servletID++%ld", static_cast<long>(webnetListenerId_));
  servletArray_.push_back({id, std::move(listener)});
  return id;
}

void TnqPushWebsocket::removeListenerById(const std::string& listenerId) {
  const auto snapshot = servletArray_;
  for (const auto& entry : snapshot) {
    if (entry.name != listenerId) continue;
    if (entry.module) entry.module->sendCloseSign();
    std::erase_if(servletArray_, [&](const ListenerEntry& e) { return e.name == listenerId && e.module == entry.module; });
  }
}

void TnqPushWebsocket::changeTitle(const std::string& title) { webSocketIO()->changeTitle(title); }

void TnqPushWebsocket::close() {
  webSocketIO()->close();
  isConnected_ = false;
}

void TnqPushWebsocket::dispatchMessage(const std::string& text) {
  // Over a snapshot: a listener may register or remove listeners while it is called.
  const auto snapshot = servletArray_;
  for (const auto& entry : snapshot)
    if (entry.module) entry.module->receiveMessage(text);
}

void TnqPushWebsocket::webSocketDidReceiveMessage(TnqWebSocketIO&, const TnqWebSocketMessage& message) {
  const auto* text = std::get_if<std::string>(&message);
  if (!text) return;  // binary messages are not for the pages
  if (auto d = delegate_.lock()) d->receiveMessage(*text);
  dispatchMessage(*text);
}

void TnqPushWebsocket::webSocketDidOpen(TnqWebSocketIO&) { isConnected_ = true; }
void TnqPushWebsocket::webSocketDidFailWithError(TnqWebSocketIO&, const pf::Error&) { isConnected_ = false; }
void TnqPushWebsocket::webSocketDidCloseWithCode(TnqWebSocketIO&, int, const std::string&, bool) { isConnected_ = false; }
void TnqPushWebsocket::webSocketDidReceivePongTimeout(TnqWebSocketIO&, bool timedOut) {
  if (timedOut) isConnected_ = false;
}

}  // namespace appnet
