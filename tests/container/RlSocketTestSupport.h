#pragma once
// A delegate that records every callback as a line and lets a test react to any of them.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "container/RlSocket.h"

namespace container {

struct RecordingDelegate : RlSocketDelegate {
  // Calls may come from two threads (a listening socket and a socket it accepted elsewhere).
  mutable std::mutex mutex;
  std::vector<std::string> calls;
  std::vector<std::shared_ptr<RlSocket>> accepted;
  std::vector<pf::Bytes> reads;
  std::optional<pf::Error> disconnectError;
  bool willDisconnect = false;
  bool didDisconnect = false;
  std::thread::id connectThread;

  std::function<void(RlSocket&)> onConnect;
  std::function<void(RlSocket&, const pf::Bytes&, long)> onRead;
  std::function<void(RlSocket&, const std::optional<pf::Error>&)> onWillDisconnect;
  std::function<double(long, double, std::size_t)> extendRead;
  std::function<std::shared_ptr<pf::RunLoop>()> runLoopForNewSocket;
  bool allowConnect = true;
  bool keepAccepted = true;

  void onSocketDidAcceptNewSocket(RlSocket&, const std::shared_ptr<RlSocket>& newSocket) override {
    record("accept");
    if (keepAccepted) accepted.push_back(newSocket);
  }
  std::shared_ptr<pf::RunLoop> onSocketWantsRunLoopForNewSocket(RlSocket&, RlSocket&) override {
    return runLoopForNewSocket ? runLoopForNewSocket() : nullptr;
  }
  bool onSocketWillConnect(RlSocket&) override {
    record("willConnect");
    return allowConnect;
  }
  void onSocketDidConnectToHost(RlSocket& sock, const std::string& host, std::uint16_t port) override {
    record("connect " + host);
    connectThread = std::this_thread::get_id();
    if (onConnect) onConnect(sock);
  }
  void onSocketDidReadData(RlSocket& sock, const pf::Bytes& data, long tag) override {
    record("read " + std::to_string(tag) + " " + pf::toString(data));
    reads.push_back(data);
    if (onRead) onRead(sock, data, tag);
  }
  void onSocketDidReadPartialDataOfLength(RlSocket&, std::size_t length, long tag) override {
    record("partial read " + std::to_string(tag) + " " + std::to_string(length));
  }
  void onSocketDidWriteDataWithTag(RlSocket&, long tag) override { record("wrote " + std::to_string(tag)); }
  void onSocketDidWritePartialDataOfLength(RlSocket&, std::size_t length, long tag) override {
    record("partial write " + std::to_string(tag) + " " + std::to_string(length));
  }
  double onSocketShouldTimeoutReadWithTag(RlSocket&, long tag, double elapsed, std::size_t bytesDone) override {
    record("read timeout " + std::to_string(tag) + " " + std::to_string(static_cast<int>(elapsed)) + " " +
                    std::to_string(bytesDone));
    return extendRead ? extendRead(tag, elapsed, bytesDone) : 0.0;
  }
  void onSocketDidSecure(RlSocket&) override { record("secure"); }
  void onSocketWillDisconnectWithError(RlSocket& sock, const std::optional<pf::Error>& error) override {
    record("willDisconnect " + (error ? error->domain + " " + std::to_string(error->code) : "nil"));
    willDisconnect = true;
    disconnectError = error;
    if (onWillDisconnect) onWillDisconnect(sock, error);
  }
  void onSocketDidDisconnect(RlSocket&) override {
    record("didDisconnect");
    didDisconnect = true;
  }

  void record(std::string call) {
    std::lock_guard lock(mutex);
    calls.push_back(std::move(call));
  }
  std::vector<std::string> snapshot() const {
    std::lock_guard lock(mutex);
    return calls;
  }
  bool called(const std::string& prefix) const {
    std::lock_guard lock(mutex);
    for (const auto& call : calls) {
      if (call.rfind(prefix, 0) == 0) return true;
    }
    return false;
  }
};

}  // namespace container
