#pragma once
// Logout by server type: 0 the unified-login server (MwUCPLogoutHelper), 1 the other login server.

#include <optional>
#include <string>

#include "platform/foundation/Value.h"

namespace container {

// Unified-login logout over a synchronous business request to "mwframework.do?act=logout".
class MwUCPLogoutHelper {
 public:
  // {"result": "notlogin" | "relogout" | "badnetwork" | "0" | "1", "data": the answer's business
  // when the server answered}. The base URL is not used.
  pf::Value logout(const std::string& baseUrl, const std::optional<std::string>& username);
};

class MwLogoutHelper {
 public:
  static constexpr int kServerTypeUCP = 0;
  static constexpr int kServerTypeASP = 1;

  // While logged in (session state 6), the server type's helper answers; otherwise, or when it gives
  // nothing, {"result": "1", "message": "服务器内部错误，请联系客服人员！"}.
  pf::Value logout(const std::optional<std::string>& userId, int serverType);
};

}  // namespace container
