// A page's fetched bridge queue on arbitrary bytes: split and sorted, every piece that is no object
// or lacks its keys is dropped, every call handed on carries a request id and a URL; never a crash.
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
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  container::LoggerUtil::setDebugEnabled(false);
  std::string_view text(reinterpret_cast<const char*>(data), size);
  Sink sink;
  container::MwWebViewMiddleBridge bridge(sink);
  auto messages = container::MwWebViewMiddleBridge::splitQueue(text);
  for (const auto& message : messages) {
    if (!message.is_object()) std::abort();
  }
  if (bridge.flushMessageQueue(text) > messages.size()) std::abort();
  return 0;
}
