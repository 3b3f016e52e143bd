#pragma once
// Shared by the WebSocket tests: a delegate that records what a socket reports, and test peers.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "appnet/TnqWebSocket.h"
#include "platform/foundation/RunLoop.h"
#include "support/TestSupport.h"

namespace wstest {

struct Recorder : appnet::TnqWebSocketDelegate {
  bool opened = false;
  std::vector<appnet::TnqWebSocketMessage> messages;
  std::vector<pf::Bytes> pongs;
  std::optional<pf::Error> error;
  struct Close {
    int code;
    std::string reason;
    bool clean;
  };
  std::optional<Close> closed;
  int closeCount = 0;

  void webSocketDidReceiveMessage(const std::shared_ptr<appnet::TnqWebSocket>&,
                                  const appnet::TnqWebSocketMessage& message) override {
    messages.push_back(message);
  }
  void webSocketDidOpen(const std::shared_ptr<appnet::TnqWebSocket>&) override { opened = true; }
  void webSocketDidFailWithError(const std::shared_ptr<appnet::TnqWebSocket>&, const pf::Error& e) override {
    error = e;
  }
  void webSocketDidCloseWithCode(const std::shared_ptr<appnet::TnqWebSocket>&, int code, const std::string& reason,
                                 bool clean) override {
    closed = Close{code, reason, clean};
    ++closeCount;
  }
  void webSocketDidReceivePong(const std::shared_ptr<appnet::TnqWebSocket>&, const pf::Bytes& payload) override {
    pongs.push_back(payload);
  }
  bool ended() const { return error.has_value() || closed.has_value(); }
};

// Checks each message of a numbered flood as it arrives (in order, whole) and what the socket
// holds for its delegate at that moment, without keeping the messages.
struct FloodRecorder : Recorder {
  std::size_t size = 125;
  long next = 0;
  bool outOfOrder = false;
  bool sawEnd = false;
  std::uint64_t mostHeld = 0;
  void webSocketDidReceiveMessage(const std::shared_ptr<appnet::TnqWebSocket>& s,
                                  const appnet::TnqWebSocketMessage& m) override {
    mostHeld = std::max(mostHeld, s->heldBytes());
    const auto* found = std::get_if<std::string>(&m);
    const std::string_view text = found ? std::string_view(*found) : std::string_view("<binary>");
    if (text == "end") {
      sawEnd = true;
      return;
    }
    char number[16];
    std::snprintf(number, sizeof number, "%07ld", next++);
    if (sawEnd || text.size() != size || text.compare(0, 7, number) != 0) outOfOrder = true;
  }
};

inline bool spin(const std::function<bool()>& done, double realSeconds = 10.0) {
  return pf::RunLoop::main()->spinUntil(done, realSeconds);
}

// Waits without running the main loop (what is queued for the main thread stays there, as on a
// busy main thread) until `done()` holds or `realSeconds` pass.
inline bool waitWithMainBusy(const std::function<bool()>& done, double realSeconds = 10.0) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(realSeconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// A peer script of tests/appnet/peers, started and asked for its port.
class Peer {
 public:
  enum class Kind { Python, Node };
  Peer(Kind kind, const std::string& script, std::vector<std::string> args = {}) {
    const std::string path = (fxtest::sourceDir() / "tests/appnet/peers" / script).string();
    std::vector<std::string> argv;
    std::vector<std::string> env;
    if (kind == Kind::Python) {
      argv = {fxtest::kPython, "-u", path};
    } else {
      argv = {"/usr/bin/node", path};
      env.push_back("NODE_PATH=/usr/share/nodejs");
    }
    argv.insert(argv.end(), args.begin(), args.end());
    process_ = std::make_unique<fxtest::ChildProcess>(argv, env);
    if (auto line = process_->readLine(15000)) port_ = std::stoi(*line);
  }
  int port() const { return port_; }
  std::string url(const std::string& path, const std::string& scheme = "ws") const {
    return scheme + "://127.0.0.1:" + std::to_string(port_) + path;
  }
  // The next line of the peer's output starting with `prefix` (others are skipped).
  std::optional<std::string> lineStartingWith(const std::string& prefix, int timeoutMs = 10000) {
    while (auto line = process_->readLine(timeoutMs))
      if (line->rfind(prefix, 0) == 0) return line;
    return std::nullopt;
  }

 private:
  std::unique_ptr<fxtest::ChildProcess> process_;
  int port_ = 0;
};

inline std::string text(const appnet::TnqWebSocketMessage& m) {
  const auto* s = std::get_if<std::string>(&m);
  return s ? *s : std::string("<binary>");
}

}  // namespace wstest
