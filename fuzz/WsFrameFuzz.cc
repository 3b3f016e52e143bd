// The WebSocket frame reader on arbitrary server bytes: the socket is put in the open state and
// fed the input in pieces whose sizes the first byte picks. Whatever arrives, the reader answers
// with messages or a close, never a crash, a hang or memory beyond the message limit.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "appnet/TnqWebSocket.h"
#include "appnet/WebSocketFrame.h"
#include "platform/foundation/Dispatch.h"

namespace appnet {

struct WsFrameReaderProbe {
  static void run(const std::uint8_t* data, std::size_t size) {
    static const auto queue = pf::DispatchQueue::makeSerial("com.tnq.fuzz.delegate");
    auto socket = TnqWebSocket::initWithURL("ws://127.0.0.1:9/");
    socket->setDelegateDispatchQueue(queue);
    socket->setMaximumMessageSize(1 << 16);
    socket->readyState_ = TnqReadyState::Open;
    // The reader lives on the socket's work queue, as the network bytes do in the product.
    socket->workQueue_->sync([&] {
      socket->readFrameNew();
      const std::size_t step = size > 0 ? (data[0] % 17) + 1 : 1;
      for (std::size_t at = 0; at < size; at += step) {
        const std::size_t n = std::min(step, size - at);
        socket->appendReadBytes(pf::Bytes(data + at, data + at + n));
        if (socket->assembledCapacity() > (1u << 16)) std::abort();
      }
      socket->flushDeliveries();
    });
    // Let the callbacks and pong answers (work queue, delegate queue, work queue again) finish before the next input.
    socket->workQueue_->sync([] {});
    queue->sync([] {});
    socket->workQueue_->sync([] {});
    // The incremental UTF-8 scan agrees with the whole-text check.
    const std::span<const std::uint8_t> all(data, size);
    const auto valid = ws::scanUtf8(all, 0);
    if (valid && *valid > size) std::abort();
    if (ws::isValidUtf8(all) != (valid && *valid == size)) std::abort();
  }
};

}  // namespace appnet

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  appnet::WsFrameReaderProbe::run(data, size);
  return 0;
}
