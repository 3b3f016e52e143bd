#include "container/MwWebViewMiddleBridge.h"

#include "container/LoggerUtil.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/ThreadChecker.h"

namespace container {

namespace {

// Follows the parser's events through the top-level object for the value of its "requestId"
// (the last one, as the reader keeps the last of a repeated key), copying nothing else.
class RequestIdReader final : public nlohmann::json_sax<pf::Value> {
 public:
  std::string requestId;

  bool null() override { return scalar(); }
  bool boolean(bool) override { return scalar(); }
  bool number_integer(number_integer_t n) override { return scalar(std::to_string(n)); }
  bool number_unsigned(number_unsigned_t n) override { return scalar(std::to_string(n)); }
  bool number_float(number_float_t, const string_t&) override { return scalar(); }
  bool string(string_t& text) override { return idIsNext_ ? scalar(std::move(text)) : scalar(); }
  bool binary(binary_t&) override { return scalar(); }
  bool start_object(std::size_t) override {
    ++depth_;
    idIsNext_ = false;
    return true;
  }
  bool end_object() override { return --depth_ > 0; }  // the top level is over: stop
  bool start_array(std::size_t) override {
    idIsNext_ = false;
    return depth_++ > 0;  // a top-level array names no request
  }
  bool end_array() override {
    --depth_;
    return true;
  }
  bool key(string_t& name) override {
    idIsNext_ = depth_ == 1 && name == "requestId";
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

 private:
  bool scalar(std::string id = {}) {
    if (idIsNext_) requestId = std::move(id);
    idIsNext_ = false;
    return depth_ > 0;
  }
  int depth_ = 0;
  bool idIsNext_ = false;
};

}  // namespace

std::string MwWebViewMiddleBridge::topLevelRequestId(std::string_view message) {
  RequestIdReader reader;
  pf::Value::sax_parse(message, &reader, nlohmann::json::input_format_t::json, false);
  return reader.requestId;
}

void MwWebViewMiddleBridge::forEachMessage(std::string_view fetched, const std::function<void(Message&)>& each) {
  pf::JsonReadOptions options;
  options.maxBytes = kMaxMessageBytes;
  options.maxDepth = kMaxMessageDepth;
  std::size_t start = 0;
  while (start <= fetched.size()) {
    std::size_t end = fetched.find(kBridgeSeparator, start);
    std::string_view piece = fetched.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (!piece.empty()) {
      Message message;
      pf::Error error;
      if (piece.size() > kMaxMessageBytes) {
        message.refusal = pf::format("the call's message of %lu bytes is above the bridge's %lu",
                                     static_cast<unsigned long>(piece.size()), static_cast<unsigned long>(kMaxMessageBytes));
      } else if (auto value = pf::parseJson(piece, options, &error); value && value->is_object()) {
        message.object = std::move(*value);
      } else {
        message.refusal = value ? "the call's message is no JSON object" : error.localizedDescription();
      }
      if (!message.readable()) message.refusedRequestId = topLevelRequestId(piece);
      each(message);
    }
    if (end == std::string_view::npos) break;
    start = end + kBridgeSeparator.size();
  }
}

std::size_t MwWebViewMiddleBridge::flushMessageQueue(std::string_view fetched) {
  PF_ASSERT_MAIN_THREAD();
  std::size_t calls = 0;
  forEachMessage(fetched, [&](Message& message) {
    if (message.readable()) {
      if (dispatchMessage(message.object)) ++calls;
    } else if (message.refusedRequestId.empty()) {
      LoggerUtil::debug("bridge message dropped: " + message.refusal);
    } else {
      LoggerUtil::debug(pf::format("bridge call %@ refused: %@", message.refusedRequestId, message.refusal));
      delegate_.onRefusedJsCommand(message.refusedRequestId, message.refusal);
      ++calls;
    }
  });
  return calls;
}

bool MwWebViewMiddleBridge::dispatchMessage(const pf::Value& message) {
  PF_ASSERT_MAIN_THREAD();
  if (pf::valueForKey(message, "requestId")) {
    auto request = MwServletRequest::parse(message);
    if (!request) {
      const std::string id = MwServletRequest::requestIdOf(message);
      if (id.empty()) {
        LoggerUtil::debug("bridge call without a usable \"requestId\" dropped");
        return false;
      }
      LoggerUtil::debug(pf::format("bridge call %@ refused: no \"url\" text", id));
      delegate_.onRefusedJsCommand(id, "the call has no \"url\" text");
      return true;
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
