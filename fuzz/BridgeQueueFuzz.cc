// A page's fetched bridge queue on arbitrary bytes: split and sorted, every piece that is no object
// or lacks its keys is dropped or refused by its request id, every call handed on carries a request
// id and a URL; never a crash.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "container/LoggerUtil.h"
#include "container/MwWebViewMiddleBridge.h"

namespace {

struct Sink : container::MwWebViewMiddleBridgeDelegate {
  bool onAsyncJsCommand(const container::MwServletRequest& request) override {
    if (request.getRequestId().empty()) std::abort();
    (void)request.getParameterValue();
    return true;
  }
  void onRefusedJsCommand(const std::string& requestId, const std::string& reason) override {
    if (requestId.empty() || reason.empty()) std::abort();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  container::LoggerUtil::setDebugEnabled(false);
  std::string_view text(reinterpret_cast<const char*>(data), size);
  Sink sink;
  container::MwWebViewMiddleBridge bridge(sink);
  std::size_t messages = 0;
  container::MwWebViewMiddleBridge::forEachMessage(text, [&](container::MwWebViewMiddleBridge::Message& message) {
    if (message.readable() == !message.refusal.empty()) std::abort();
    ++messages;
  });
  if (bridge.flushMessageQueue(text) > messages) std::abort();
  return 0;
}
