#pragma once
// The native half of the page bridge: splits the text the page's queue gave ("MwPageBridge._fetchQueue()")
// into messages and sorts them. A message with "requestId" is a page call (handed to the delegate);
// "responseId", "timeoutId" and "cancelId" would end a call native code made to the page, which
// nothing makes: they are logged and dropped, like anything that is no object or lacks its keys.
//
// Wire: messages are JSON objects joined by "__mwpb_sep__"; the page writes every "__mwpb_sep__" inside
// a message as "\u005f_mwpb_sep__" (a JSON escape of its first "_"), so the split never cuts one.

#include <memory>
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
};

class MwWebViewMiddleBridge {
 public:
  explicit MwWebViewMiddleBridge(MwWebViewMiddleBridgeDelegate& delegate) : delegate_(delegate) {}

  // The messages of a fetched queue, in order: each piece that parses as a JSON object. A text above
  // kMaxQueueBytes gives none.
  static std::vector<pf::Value> splitQueue(std::string_view fetched);

  // Splits and sorts a fetched queue; answers the number of page calls handed on.
  std::size_t flushMessageQueue(std::string_view fetched);
  // Sorts one message; answers whether it was a page call handed on.
  bool dispatchMessage(const pf::Value& message);

  static constexpr std::size_t kMaxQueueBytes = 16u << 20;

 private:
  MwWebViewMiddleBridgeDelegate& delegate_;
};

}  // namespace container
