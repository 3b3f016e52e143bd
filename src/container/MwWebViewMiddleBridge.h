#pragma once
// The native half of the page bridge: splits the text the page's queue gave ("MwPageBridge._fetchQueue()")
// into messages and sorts them. A message with "requestId" is a page call (handed to the delegate);
// "responseId", "timeoutId" and "cancelId" would end a call native code made to the page, which
// nothing makes: they are logged and dropped, like anything that is no object or lacks its keys.
//
// Every call the page made is answered: a message that cannot be read as a call (above
// kMaxMessageBytes, nested too deep, no JSON object, or without its "url") but names its
// "requestId" is handed to the delegate as a refused call, and the calls around it are handled
// as usual. Messages are read one at a time, so a large batch never holds more than one parsed.
//
// Wire: messages are JSON objects joined by "__mwpb_sep__"; the page writes every "__mwpb_sep__" inside
// a message as "\u005f_mwpb_sep__" (a JSON escape of its first "_"), so the split never cuts one.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "container/MwServletRequest.h"
#include "platform/foundation/Value.h"

namespace container {

inline constexpr std::string_view kBridgeScheme = "mwpagebridge";
inline constexpr std::string_view kBridgeQueueHost = "queuehasmessage";
inline constexpr std::string_view kBridgeSeparator = "__mwpb_sep__";
inline constexpr std::string_view kFetchQueueFunction = "MwPageBridge._fetchQueue";

class MwWebViewMiddleBridgeDelegate {
 public:
  virtual ~MwWebViewMiddleBridgeDelegate() = default;
  // A page call; the answer goes back through its task. The value is only logged.
  virtual bool onAsyncJsCommand(const MwServletRequest& request) = 0;
  // A page call that could not be read (`reason` says why): it is answered with an error.
  virtual void onRefusedJsCommand(const std::string& requestId, const std::string& reason) = 0;
};

class MwWebViewMiddleBridge {
 public:
  // One message of a fetched queue: a JSON object, or, for a message that could not be read, the
  // "requestId" it names (empty when none can be found) and why.
  struct Message {
    pf::Value object;
    std::string refusedRequestId;
    std::string refusal;
    bool readable() const { return object.is_object(); }
  };

  explicit MwWebViewMiddleBridge(MwWebViewMiddleBridgeDelegate& delegate) : delegate_(delegate) {}

  // Calls `each` with every non-empty message of a fetched queue, in order, one at a time.
  static void forEachMessage(std::string_view fetched, const std::function<void(Message&)>& each);
  // The "requestId" (a text or a whole number) of a message's top-level object, read without
  // building it; empty when there is none before the text ends or stops being JSON.
  static std::string topLevelRequestId(std::string_view message);

  // Splits and sorts a fetched queue; answers the number of page calls handed on (refused ones
  // included).
  std::size_t flushMessageQueue(std::string_view fetched);
  // Sorts one message; answers whether it was a page call handed on.
  bool dispatchMessage(const pf::Value& message);

  static constexpr std::size_t kMaxMessageBytes = 16u << 20;
  static constexpr std::size_t kMaxMessageDepth = 64;

 private:
  MwWebViewMiddleBridgeDelegate& delegate_;
};

}  // namespace container
