#include "container/MwWebViewMiddleBridge.h"

#include "container/LoggerUtil.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/ThreadChecker.h"

namespace container {

std::vector<pf::Value> MwWebViewMiddleBridge::splitQueue(std::string_view fetched) {
  std::vector<pf::Value> messages;
  if (fetched.size() > kMaxQueueBytes) {
    LoggerUtil::debug(pf::format("bridge queue of %lu bytes dropped", static_cast<unsigned long>(fetched.size())));
    return messages;
  }
  pf::JsonReadOptions options;
  options.maxBytes = kMaxQueueBytes;
  options.maxDepth = 64;
  std::size_t start = 0;
  while (start <= fetched.size()) {
    std::size_t end = fetched.find(kBridgeSeparator, start);
    std::string_view piece = fetched.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (!piece.empty()) {
      auto value = pf::parseJson(piece, options);
      if (value && value->is_object()) {
        messages.push_back(std::move(*value));
      } else {
        LoggerUtil::debug("bridge message that is no object dropped");
      }
    }
    if (end == std::string_view::npos) break;
    start = end + kBridgeSeparator.size();
  }
  return messages;
}

std::size_t MwWebViewMiddleBridge::flushMessageQueue(std::string_view fetched) {
  PF_ASSERT_MAIN_THREAD();
  std::size_t calls = 0;
  for (const auto& message : splitQueue(fetched)) {
    if (dispatchMessage(message)) ++calls;
  }
  return calls;
}

bool MwWebViewMiddleBridge::dispatchMessage(const pf::Value& message) {
  PF_ASSERT_MAIN_THREAD();
  if (pf::valueForKey(message, "requestId")) {
    auto request = MwServletRequest::parse(message);
    if (!request) {
      LoggerUtil::debug("bridge call without a usable \"requestId\" or \"url\" dropped");
      return false;
    }
    bool handled = delegate_.onAsyncJsCommand(*request);
    if (LoggerUtil::isDebugEnabled()) {
      LoggerUtil::debug(pf::format("bridge call %@ (%@) handled: %@", request->getRequestId(), request->getUrl(),
                                   handled ? "YES" : "NO"));
    }
    return true;
  }
  for (const char* key : {"responseId", "timeoutId", "cancelId"}) {
    if (pf::valueForKey(message, key)) {
      LoggerUtil::debug(pf::format("bridge message with \"%s\" dropped: no native call is open", key));
      return false;
    }
  }
  LoggerUtil::debug("bridge message of no known kind dropped");
  return false;
}

}  // namespace container
