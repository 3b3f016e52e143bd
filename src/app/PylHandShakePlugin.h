#pragma once
// "handshakemanager.do": "changeHandShake" switches the client between the two front-end
// environments of the bank's server ("envirType" 1: "/front/", anything else: "/mnfront/"),
// forgetting every cookie and the session, runs the container's start-up again and answers
// {"success": "success"|"failure"} when the new key negotiation has ended. Other operations are
// answered at once, empty. Main thread only.

#include <string>

#include "app/MwFrameWorkListener.h"
#include "app/PylPlugin.h"
#include "platform/foundation/NotificationCenter.h"

namespace app {

class HandShakePlugin : public PylPlugin {
 public:
  // Posted by the application's framework listener with the key negotiation's result dictionary
  // ({"result": 0 or 1}) as its object; the same name carries other results as numbers.
  static constexpr const char* kResultNotification = kNotificationHandShakeResult;

  ~HandShakePlugin() override;

  bool handleRequest(const container::MwServletRequest& request) override;

  // Switches the environment (see the class comment); the value is read as an integer.
  void benginHandShake(const pf::Value& envirType);
  void handShakeResult(const pf::Notification& notification);
  void registNotification();
  void removeNotification();

  // The base URL of the environment: the path "/front/" for 1, "/mnfront/" otherwise, on the
  // front-end host: the scheme and authority (as written: an IPv6 literal stays bracketed with its
  // zone id) of the configuration's "front-url" where it is set, else of the server base URL in
  // force. "" when neither gives one.
  static std::string environmentBaseUrl(std::int64_t envirType);

 private:
  // Answers the waiting page once and stops listening.
  void answer(bool success);

  pf::ObserverToken observer_ = 0;
};

}  // namespace app
