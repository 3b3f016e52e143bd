#pragma once
// One page call, parsed from the message a page queued on the bridge.
//
// Message keys: "url" ("client://<servlet>?action=<word>" for a native servlet, "http(s)://.../<business
// path>" for the server), "data" (the arguments), "timeout" (the waiting time in seconds), "waiting"
// (an overlay while the call is open), "callback", "requestId", "block" and "cancelable".

#include <optional>
#include <string>

#include "platform/foundation/Value.h"

namespace container {

// Which road a call takes, by the scheme of its URL.
enum MwServletScheme : int { kSchemeUnknown = 0, kSchemeClient = 1, kSchemeServer = 2 };

class MwServletRequest {
 public:
  // Parses one message; nullopt when it is no dictionary or has no text "requestId" and "url".
  static std::optional<MwServletRequest> parse(const pf::Value& message);
  // The message's "requestId" as a call names it (a text, or a number written as text); "" when it
  // has none.
  static std::string requestIdOf(const pf::Value& message);

  // The action word of the URL ("create" of "client://chart.do?action=create").
  const std::string& getParameterValue() const { return action_; }
  // The call's "data", or null when the page sent none.
  const pf::Value& getData() const { return data_; }

  const std::string& getUrl() const { return url_; }
  // The URL's host: the servlet name of a client call.
  const std::string& getServletName() const { return servletName_; }
  // The path below the server for a server call ("trade.do?act=list"), the URL's last path component
  // with its query.
  const std::string& getBusinessPath() const { return businessPath_; }
  int getScheme() const { return scheme_; }
  const std::string& getRequestId() const { return requestId_; }
  const std::string& getCallback() const { return callback_; }
  // The waiting time in seconds as the page gave it (negative when none was given).
  double getTimeout() const { return timeout_; }
  bool isWaiting() const { return waiting_; }
  bool isBlock() const { return block_; }
  bool isCancelable() const { return cancelable_; }

 private:
  std::string url_;
  std::string servletName_;
  std::string businessPath_;
  std::string action_;
  pf::Value data_;
  std::string requestId_;
  std::string callback_;
  double timeout_ = -1;
  int scheme_ = kSchemeUnknown;
  bool waiting_ = false;
  bool block_ = false;
  bool cancelable_ = false;
};

}  // namespace container
