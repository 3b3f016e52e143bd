#include "container/MwLogoutHelper.h"

#include "container/MwComPackage.h"
#include "container/MwCommunicationHelper.h"
#include "container/MwFramework.h"
#include "container/MwServerConfiguration.h"

namespace container {

pf::Value MwUCPLogoutHelper::logout(const std::string&, const std::optional<std::string>& username) {
  pf::Value result = pf::Value::object();
  auto& framework = MwFramework::getInstance();
  const int state = framework.getSessionState();
  if (state != 6) {
    result["result"] = state == 7 ? "relogout" : "notlogin";
    return result;
  }
  framework.setSessionState(7);
  if (framework.getCurrentNetworkState() == 0) {
    result["result"] = "badnetwork";
    return result;
  }
  pf::Value params = pf::Value::object();
  if (username) params["USERID"] = *username;
  if (auto answer = MwCommunicationHelper::synchBusinessRequest("mwframework.do?act=logout", params)) {
    if (auto business = answer->businessObject()) result["data"] = std::move(*business);
  }
  framework.setSessionState(4);
  result["result"] = framework.getSessionState() <= 4 ? "0" : "1";
  return result;
}

pf::Value MwLogoutHelper::logout(const std::optional<std::string>& userId, int serverType) {
  const std::string baseUrl = MwServerConfiguration::getInstance().getServerBaseUrl();
  if (MwFramework::getInstance().getSessionState() == 6 && serverType == kServerTypeUCP) {
    pf::Value answer = MwUCPLogoutHelper().logout(baseUrl, userId);
    if (!answer.is_null()) return answer;
  }
  // The other login server's logout is not part of this container.
  return {{"result", "1"}, {"message", "服务器内部错误，请联系客服人员！"}};
}

}  // namespace container
