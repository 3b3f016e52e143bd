#pragma once
// One pending read of a WebSocket: either a scanner that decides how many unconsumed bytes it
// wants, or a fixed byte count; and a pool that recycles them.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "platform/foundation/Bytes.h"

namespace appnet {

class TnqWebSocket;

class TnqIOConsumer {
 public:
  // Answers how many of the unconsumed bytes it takes (0: not yet).
  using Scanner = std::function<std::size_t(std::span<const std::uint8_t> bytes)>;
  using Handler = std::function<void(TnqWebSocket& socket, pf::Bytes bytes)>;

  // Requires a scanner or a non-zero byte count (a programming error otherwise).
  void setupWithScanner(Scanner scanner, Handler handler, std::uint64_t bytesNeeded, bool readToCurrentFrame,
                        bool unmaskBytes);

  const Scanner& consumer() const { return consumer_; }
  const Handler& handler() const { return handler_; }
  std::uint64_t bytesNeeded() const { return bytesNeeded_; }
  void setBytesNeeded(std::uint64_t needed) { bytesNeeded_ = needed; }
  bool readToCurrentFrame() const { return readToCurrentFrame_; }
  bool unmaskBytes() const { return unmaskBytes_; }
  void reset();

 private:
  Scanner consumer_;
  Handler handler_;
  std::uint64_t bytesNeeded_ = 0;
  bool readToCurrentFrame_ = false;
  bool unmaskBytes_ = false;
};

class TnqIOConsumerPool {
 public:
  explicit TnqIOConsumerPool(std::size_t poolSize = 8) : poolSize_(poolSize) {}

  // The most recently returned consumer (or a new one), set up afresh.
  std::shared_ptr<TnqIOConsumer> consumerWithScanner(TnqIOConsumer::Scanner scanner, TnqIOConsumer::Handler handler,
                                                     std::uint64_t bytesNeeded, bool readToCurrentFrame,
                                                     bool unmaskBytes);
  // Kept while the pool holds fewer than its size.
  void returnConsumer(std::shared_ptr<TnqIOConsumer> consumer);
  std::size_t size() const { return bufferedConsumers_.size(); }

 private:
  std::size_t poolSize_;
  std::vector<std::shared_ptr<TnqIOConsumer>> bufferedConsumers_;
};

}  // namespace appnet
